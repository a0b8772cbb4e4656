#!/usr/bin/env bash
# Builds the benchmarks (native and 32-bit Windows), writes their input files
# with avimake, runs every benchmark against its references and records the
# figures: build/bench/results.txt (key=value) and the figures section of
# BENCHMARKS.md (between its markers). Run by `make bench`.
#
# Environment: JOBS (build jobs, default 2); REPS (repetitions, default 11);
# KEEP_BENCH_DATA=1 keeps the input files over 1 GiB for the next run
# (otherwise they are removed at the end; smaller ones are always kept and
# reused); SKIP_WINE=1 leaves out the Windows leg.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-2}
REPS=${REPS:-11}
data=build/bench/data
results=build/bench/results.txt
step() { echo; echo "==== $*"; }

step "native build (Release)"
cmake --preset bench >/dev/null
cmake --build build/bench -j "$JOBS"

wine_leg=0
if [ "${SKIP_WINE:-0}" != 1 ] && command -v i686-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null; then
  step "32-bit Windows build (mingw-w64 i686, Release)"
  cmake --no-warn-unused-cli -S . -B build/bench-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release -DMIROLAN_BUILD_BENCH=ON -DMIROLAN_BUILD_TESTS=OFF \
    -DMIROLAN_BUILD_TOOLS=ON >/dev/null
  cmake --build build/bench-mingw -j "$JOBS"
  wine_leg=1
fi

# Writes $data/NAME with avimake unless a file made with the same options is
# there already (the options are kept beside it).
make_input() {
  local name=$1
  shift
  local stamp="$data/$name.options"
  if [ -f "$data/$name" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$*" ]; then
    echo "reusing $data/$name"
    return
  fi
  echo "writing $data/$name: avimake $*"
  rm -f "$stamp"
  build/bench/tools/avimake/avimake "$data/$name" "$@"
  echo "$*" >"$stamp"
}

step "input files"
mkdir -p "$data"
avail_kb=$(df -Pk "$data" | awk 'NR==2 {print $4}')
if [ ! -f "$data/frames.avi" ] && [ "$avail_kb" -lt $((4 * 1024 * 1024)) ]; then
  echo "bench: less than 4 GiB free for the input files" >&2
  exit 1
fi
# 1. Frame serving: 260 frames of 1920x1080 BGRA, 2.16 GB, three RIFF segments.
make_input frames.avi --width 1920 --height 1080 --frames 260 --no-audio
# 2. Open: 200,000 small frames with 8 kHz 8-bit mono audio, in three RIFF
#    segments of at most 50 MB; each segment has its own standard indexes.
make_input open.avi --width 8 --height 8 --frames 200000 --audio-rate 8000 --channels 1 --bits 8 \
  --segment-limit 50000000
# 3. Audio: one hour of 48 kHz stereo 16-bit PCM beside a tiny video.
make_input audio.avi --width 8 --height 8 --frames 90000 --audio-rate 48000 --channels 2 --bits 16
# 2b. Open from disk: an avimake file of three segments (640x360, 48 kHz
#     stereo, 2.8 GB), files over 1 GiB written by ffmpeg and by GStreamer
#     (OpenDML, two segments each), and a 64 GiB file whose tail is a hole.
make_input avimake-2.8g.avi --width 640 --height 360 --frames 3000
make_peer_input() {
  local name=$1
  shift
  if [ -f "$data/$name" ]; then echo "reusing $data/$name"; return; fi
  echo "writing $data/$name"
  "$@" || { echo "bench: could not write $data/$name" >&2; exit 1; }
}
make_peer_input ffmpeg-1.3g.avi ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=640x360:rate=25 \
  -f lavfi -i sine=frequency=440:sample_rate=48000 -t 56 -c:v rawvideo -pix_fmt bgra -c:a pcm_s16le -ac 2 \
  "$data/ffmpeg-1.3g.avi"
make_peer_input gstreamer-1.3g.avi gst-launch-1.0 -q videotestsrc num-buffers=1400 \
  ! video/x-raw,format=BGRA,width=640,height=360,framerate=25/1 ! mux. audiotestsrc num-buffers=1400 \
  samplesperbuffer=1920 ! audio/x-raw,format=S16LE,rate=48000,channels=2 ! mux. avimux name=mux \
  ! filesink location="$data/gstreamer-1.3g.avi"
# 3b. Audio of every served sample layout: ten minutes each of 48 kHz stereo
#     beside a tiny video, written by ffmpeg (shorter than the 16-bit hour:
#     the widest, 64-bit float, is 0.46 GB). Natively and under Wine (5b).
audio_layouts="u8:u8 s16le:s16 s24le:s24 s32le:s32 f32le:f32 f64le:f64 alaw:alaw mulaw:mulaw"
for layout in $audio_layouts; do
  codec=${layout%%:*}
  make_peer_input "audio-$codec.avi" ffmpeg -nostdin -v error -y -f lavfi -i color=size=8x8:rate=25 \
    -f lavfi -i sine=frequency=440:sample_rate=48000 -t 600 -map 0:v -map 1:a -c:v rawvideo -pix_fmt bgr24 \
    -c:a "pcm_$codec" -ac 2 "$data/audio-$codec.avi"
done
if [ ! -f "$data/sparse-64g.avi" ]; then
  build/bench/tools/avimake/avimake "$data/sparse-64g.avi" --width 640 --height 360 --frames 50 >/dev/null
  truncate -s 64G "$data/sparse-64g.avi"
fi
# Freshly written gigabytes are still being written back for a while; let that
# finish before anything is timed (and before pages can be evicted).
sync

plugin=build/bench/src/libmirolan.so
: >"$results.new"
run() {
  echo "\$ $*"
  "$@" | tee -a "$results.new"
}

step "1. frame serving (and video latency)"
run build/bench/bench/bench_frames "$plugin" "$data/frames.avi" --reps "$REPS"
step "1b. frame serving with a host that rotates three frame buffers"
build/bench/bench/bench_frames "$plugin" "$data/frames.avi" --reps "$REPS" --pool 3 --no-ffmpeg |
  sed -n 's/^frames\.\(served_gbps\|plain_gbps\|plain_pool_gbps\|ratio_plain\|ratio_plain_pool\)=/pool3.\1=/p' |
  tee -a "$results.new"
step "2. open"
run build/bench/bench/bench_open "$plugin" "$data/open.avi" --reps 15
step "2b. open from disk (the file evicted from the page cache) against ffprobe"
# ffprobe's reads of the file, counted by strace (bytes and calls).
ffprobe_reads() {
  local label=$1 file=$2 trace
  command -v strace >/dev/null || return 0
  trace=$(mktemp)
  strace -f -y -e trace=read,pread64 -o "$trace" ffprobe -v error -show_entries stream=nb_frames "$file" \
    >/dev/null 2>&1 || true
  awk -v name="$(basename "$file")>" -v k="cold.$label." 'index($0, name) { n = $NF; if (n ~ /^[0-9]+$/) { b += n; c++ } }
    END { printf "%sffprobe_read_bytes=%d\n%sffprobe_read_calls=%d\n", k, b, k, c }' "$trace" | tee -a "$results.new"
  rm -f "$trace"
}
for input in avimake:avimake-2.8g ffmpeg:ffmpeg-1.3g gstreamer:gstreamer-1.3g sparse:sparse-64g; do
  label=${input%%:*}
  file="$data/${input#*:}.avi"
  run build/bench/bench/bench_open_cold "$plugin" "$file" --label "$label" --reps "$REPS"
  ffprobe_reads "$label" "$file"
done

step "3. audio (and audio latency)"
run build/bench/bench/bench_audio "$plugin" "$data/audio.avi" --reps "$REPS"
step "3b. audio of every sample layout, each against its own plain read"
for layout in $audio_layouts; do
  run build/bench/bench/bench_audio "$plugin" "$data/audio-${layout%%:*}.avi" --reps "$REPS" --label "${layout#*:}"
done
step "6. 24-bit frames read into 32-bit BGRA"
run build/bench/bench/bench_bgr24 "$data" --reps "$REPS"
step "7. every converted picture layout read into 32-bit BGRA"
run build/bench/bench/bench_picture "$data" --reps "$REPS"
step "8. open of crafted indexes (an 'idx1' of runs, another stream's super index)"
# open_time_bench writes its files with the tests' AVI builder, so it is built
# in a configuration of its own with the tests on (only its own target).
cmake --preset native -B build/bench-open -DCMAKE_BUILD_TYPE=Release -DMIROLAN_BUILD_BENCH=ON >/dev/null
cmake --build build/bench-open -j "$JOBS" --target open_time_bench >/dev/null
echo "\$ open_time_bench 1 $data --rows 67"
build/bench-open/bench/open_time_bench 1 "$data" --rows 67 | tee /dev/stderr | grep '^open_time\.' >>"$results.new"

if [ "$wine_leg" = 1 ]; then
  step "5. frame serving of the Windows DLL under Wine"
  # shellcheck source=wine-env.sh
  source scripts/wine-env.sh
  dll=$(winepath -w build/bench-mingw/src/mirolan.dll 2>/dev/null)
  avi=$(winepath -w "$data/frames.avi" 2>/dev/null)
  echo "\$ wine build/bench-mingw/bench/bench_frames.exe mirolan.dll frames.avi --reps $REPS"
  wine build/bench-mingw/bench/bench_frames.exe "$dll" "$avi" --reps "$REPS" | tr -d '\r' |
    sed -n 's/^frames\./wine./p; s/^latency\.video/wine.latency/p' | tee -a "$results.new"
  echo "\$ wine build/bench-mingw/bench/bench_picture.exe $data --reps $REPS"
  wine build/bench-mingw/bench/bench_picture.exe "$(winepath -w "$data" 2>/dev/null)" --reps "$REPS" |
    tr -d '\r' | sed -n 's/^picture\./wine_picture./p' | tee -a "$results.new"
  step "5b. audio serving of the Windows DLL under Wine, each layout against its own ReadFile loop"
  for layout in $audio_layouts; do
    codec=${layout%%:*}
    avi=$(winepath -w "$data/audio-$codec.avi" 2>/dev/null)
    echo "\$ wine build/bench-mingw/bench/bench_audio.exe mirolan.dll audio-$codec.avi --reps $REPS --label wine_${layout#*:}"
    wine build/bench-mingw/bench/bench_audio.exe "$dll" "$avi" --reps "$REPS" --label "wine_${layout#*:}" |
      tr -d '\r' | tee -a "$results.new"
  done
  step "8b. open of crafted indexes by the Windows build under Wine"
  cmake --preset mingw -B build/bench-open-mingw -DCMAKE_BUILD_TYPE=Release -DMIROLAN_BUILD_BENCH=ON >/dev/null
  cmake --build build/bench-open-mingw -j "$JOBS" --target open_time_bench >/dev/null
  echo "\$ wine open_time_bench.exe 1 $data --rows 67"
  wine build/bench-open-mingw/bench/open_time_bench.exe 1 "$(winepath -w "$data" 2>/dev/null)" --rows 67 |
    tr -d '\r' | tee /dev/stderr | sed -n 's/^open_time\./wine_open_time./p' >>"$results.new"
  # The 64 GiB file with a zero tail opened by the Windows plug-in: the
  # reference host's info (video and audio opens), process start included.
  qxhost_exe=build/bench-mingw/tools/qxhost/qxhost.exe
  if [ -f "$qxhost_exe" ]; then
    sparse=$(winepath -w "$data/sparse-64g.avi" 2>/dev/null)
    start=$(date +%s.%N)
    wine "$qxhost_exe" info "$sparse" --plugin "$dll" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "wine.sparse_info_s=%.3f\n", b - a }' | tee -a "$results.new"
  fi
  wineserver -k 2>/dev/null || true
fi

# The machine, without paths or names of this installation.
{
  echo "machine.cpu=$(LC_ALL=C lscpu | sed -n 's/^Model name: *//p' | head -1)"
  echo "machine.cores=$(nproc)"
  echo "machine.ram_gib=$(awk '/MemTotal/ {printf "%.0f", $2 / 1048576}' /proc/meminfo)"
  echo "machine.os=$(. /etc/os-release && echo "$PRETTY_NAME"), Linux $(uname -r)"
  echo "machine.ffmpeg=$(ffmpeg -version | head -1 | awk '{print $3}')"
  if [ "$wine_leg" = 1 ]; then echo "machine.wine=$(wine --version)"; fi
  echo "machine.date=$(date -u +%Y-%m-%d)"
} >>"$results.new"
mv "$results.new" "$results"

step "figures"
bash bench/report.sh "$results" | tee build/bench/figures.md
# Replace the figures section of BENCHMARKS.md.
awk -v figures=build/bench/figures.md '
  /<!-- figures:begin -->/ { print; while ((getline line < figures) > 0) print line; skip = 1; next }
  /<!-- figures:end -->/ { skip = 0 }
  !skip { print }' BENCHMARKS.md >BENCHMARKS.md.new
mv BENCHMARKS.md.new BENCHMARKS.md

if [ "${KEEP_BENCH_DATA:-0}" != 1 ]; then
  find "$data" -maxdepth 1 -type f -size +1G -print -delete
  find "$data" -maxdepth 1 -name '*.options' -print | while read -r stamp; do
    [ -f "${stamp%.options}" ] || rm -f "$stamp"
  done
fi
