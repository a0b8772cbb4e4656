#!/usr/bin/env bash
# Installs what a job needs on Debian 12, only when something is missing, so a
# second run costs nothing. Run as root (a fresh machine: apt-get update comes
# first) or through sudo.
#
#   scripts/install-deps.sh [GROUP...]     no group: all of them (what `make test` needs)
#
#   build     compiler, CMake, Ninja, GoogleTest, libpng: the library, the tools and the
#             native suites (`make check`, the plain CMake build)
#   demo      compiler, CMake, Ninja, libpng: the library and the tools (`make demo`)
#   clang     clang and its sanitizer runtimes: the clang leg and the fuzz target
#   windows   mingw-w64 i686 and 32-bit Wine: the DLL and its suites under Wine
#   peers     ffmpeg, GStreamer, MEncoder, Python 3: files from other writers, checked
#             against ffmpeg
#   bench     the benchmarks' extras (`make bench`; it needs peers too)
#   fuzz      what `make fuzz` needs beyond build (clang)
#   all       every group
set -euo pipefail

group_packages() {
  case "$1" in
    build) echo cmake ninja-build g++ make pkg-config libgtest-dev libgmock-dev libpng-dev zlib1g-dev ;;
    demo) echo cmake ninja-build g++ make libpng-dev zlib1g-dev ;;
    clang | fuzz) echo clang libclang-rt-14-dev ;;
    windows) echo googletest mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix wine wine32:i386 ;;
    peers) echo ffmpeg gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good mencoder python3 ;;
    bench) echo libbenchmark-dev valgrind ;;
    all) for g in build clang windows peers bench; do group_packages "$g"; done ;;
    *)
      echo "install-deps: unknown group '$1' (build, demo, clang, windows, peers, bench, fuzz, all)" >&2
      exit 2
      ;;
  esac
}

groups=("$@")
if [ ${#groups[@]} -eq 0 ]; then groups=(all); fi
packages=()
for g in "${groups[@]}"; do
  group_packages "$g" >/dev/null || exit 2
  read -r -a more <<<"$(group_packages "$g" | tr '\n' ' ')"
  packages+=("${more[@]}")
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# 32-bit Wine needs the i386 architecture before the package lists are read.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
