#!/usr/bin/env bash
# The host developer's guide's example, built as a host developer builds it:
# the plug-in installed with `cmake --install` into a fresh prefix, the
# guide's C program and CMakeLists.txt copied out of HOST-GUIDE.md into a
# project of their own that finds the package with find_package(mirolan),
# then run on files of avimake, ffmpeg (rows top-down) and GStreamer; what it
# writes must equal ffmpeg's decoding of each file.
#   scripts/host-example.sh native [BUILD_DIR]   (default build/native)
#   scripts/host-example.sh wine [BUILD_DIR]     (default build/mingw; run under Wine)
# Without ffmpeg the package is still installed, built against and run on the
# avimake file, but nothing can be compared: the script then says so and exits
# 77 (ctest's skip).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
leg=${1:?usage: host-example.sh native|wine [BUILD_DIR]}
case "$leg" in
  native) build=${2:-build/native} ;;
  wine) build=${2:-build/mingw} ;;
  *) echo "usage: host-example.sh native|wine [BUILD_DIR]" >&2; exit 2 ;;
esac
build=$(cd "$build" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The guide's code: its first ```c block and its first ```cmake block.
extract() { awk -v lang="$1" '$0 == "```" lang {on = 1; next} on && $0 == "```" {exit} on' HOST-GUIDE.md; }
mkdir -p "$work/project"
extract c >"$work/project/host.c"
extract cmake >"$work/project/CMakeLists.txt"
[ -s "$work/project/host.c" ] && [ -s "$work/project/CMakeLists.txt" ] || {
  echo "host-example: HOST-GUIDE.md holds no C program or CMakeLists.txt" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
configure=(-S "$work/project" -B "$work/host-build" -DCMAKE_PREFIX_PATH="$work/prefix"
           -Dmirolan_DIR="$work/prefix/lib/cmake/mirolan" -DCMAKE_BUILD_TYPE=Release
           "-DCMAKE_C_FLAGS=-Wall -Wextra -Werror")
if [ "$leg" = wine ]; then
  configure+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake")
fi
cmake "${configure[@]}" >/dev/null
cmake --build "$work/host-build" >/dev/null
library=$(cat "$work/host-build/mirolan-library.txt")
case "$library" in "$work/prefix/"*) ;; *) echo "host-example: the package names $library" >&2; exit 1 ;; esac

run=("$work/host-build/host")
if [ "$leg" = wine ]; then
  # shellcheck source=wine-env.sh
  source scripts/wine-env.sh
  run=(wine "$work/host-build/host.exe")
fi

# ffmpeg writes one of the files and is the reference for all of them.
have_ffmpeg=1
command -v ffmpeg >/dev/null || have_ffmpeg=0

files=()
avimake=$build/tools/avimake/avimake
[ -x "$avimake" ] || avimake=$root/build/native/tools/avimake/avimake
if [ -x "$avimake" ]; then
  "$avimake" "$work/avimake.avi" --width 64 --height 48 --frames 12 >/dev/null && files+=(avimake)
fi
if [ "$have_ffmpeg" = 1 ]; then
  ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x36:rate=25 -f lavfi -i sine=sample_rate=44100 \
    -t 1 -c:v rawvideo -pix_fmt bgra -c:a pcm_s16le -ac 2 "$work/ffmpeg.avi" && files+=(ffmpeg)
fi
if command -v gst-launch-1.0 >/dev/null; then
  gst-launch-1.0 -q videotestsrc num-buffers=20 ! video/x-raw,format=BGRA,width=48,height=32,framerate=25/1 ! mux. \
    audiotestsrc num-buffers=20 ! audio/x-raw,format=S16LE,rate=48000,channels=2 ! mux. \
    avimux name=mux ! filesink location="$work/gstreamer.avi" >/dev/null && files+=(gstreamer)
fi

status=0
for name in "${files[@]}"; do
  file=$work/$name.avi
  (cd "$work" && "${run[@]}" "$library" "$file" "$name.bgra" "$name.s16") >"$work/$name.out" || {
    echo "host-example ($leg): the host failed on the $name file" >&2; status=1; continue; }
  if [ "$have_ffmpeg" = 0 ]; then
    echo "host-example ($leg): $name file: $(tr '\n' ' ' <"$work/$name.out")- not compared"
    continue
  fi
  ffmpeg -nostdin -v error -i "$file" -map 0:v:0 -f rawvideo -pix_fmt bgra - >"$work/$name.ffmpeg.bgra"
  ffmpeg -nostdin -v error -i "$file" -map 0:a:0 -f s16le - >"$work/$name.ffmpeg.s16"
  if cmp -s "$work/$name.bgra" "$work/$name.ffmpeg.bgra" && cmp -s "$work/$name.s16" "$work/$name.ffmpeg.s16" &&
     [ -s "$work/$name.bgra" ] && [ -s "$work/$name.s16" ]; then
    echo "host-example ($leg): $name file: $(tr '\n' ' ' <"$work/$name.out")- equal to ffmpeg"
  else
    echo "host-example ($leg): $name file: the host's frames or samples differ from ffmpeg's" >&2
    status=1
  fi
done
[ "${#files[@]}" -gt 0 ] || { echo "host-example: no file could be written" >&2; status=1; }
if [ "$status" = 0 ] && [ "$have_ffmpeg" = 0 ]; then
  echo "host-example: ffmpeg is not installed, so nothing was compared with its decoding;" \
    "install it (bash scripts/install-deps.sh peers) to run the comparison"
  exit 77
fi
exit "$status"
