#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on Debian 12, only when
# something is missing, so a second run costs nothing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev libpng-dev zlib1g-dev
  mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  wine wine32:i386
  ffmpeg clang libclang-rt-14-dev valgrind
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  mencoder python3
)

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
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
