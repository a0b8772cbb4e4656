#!/usr/bin/env bash
# The main job on a built-in sample: write a few seconds of 640x360 test
# pattern with a stereo tone, open it through the plug-in, and show what it
# serves. With an argument, the same for the user's own file.
set -euo pipefail
cd "$(dirname "$0")/.."
# The library and tools built by `make demo` (build/demo), or another tree.
bin=${MIROLAN_BUILD_DIR:-build/native}
out=out/demo
# Clean outputs each run: frames of an earlier file must not linger beside
# this one's. Only what the demo writes is removed (a FILE of the user's may
# lie in the folder).
mkdir -p "$out"
rm -rf "$out/frames" "$out/info.txt" "$out/audio.wav"

file="${1:-}"
if [ -z "$file" ]; then
  file="$out/sample.avi"
  echo "== writing $file (5 s of 640x360 test pattern at 25 fps, 48 kHz stereo tone)"
  "$bin/tools/avimake/avimake" "$file" --width 640 --height 360 --frames 125 \
    --audio-rate 48000 --channels 2 --bits 16
fi
if [ ! -f "$file" ]; then
  echo "demo: no such file: $file" >&2
  exit 1
fi

qxhost="$bin/tools/qxhost/qxhost"
echo
echo "== qxhost info $file"
"$qxhost" info "$file" | tee "$out/info.txt"
echo
echo "== qxhost frames (every 10th frame and a contact sheet)"
"$qxhost" frames "$file" --out "$out/frames" --every 10
echo
echo "== qxhost audio"
"$qxhost" audio "$file" --out "$out/audio.wav" && echo "wrote $out/audio.wav" || echo "(no audio stream served)"
echo
echo "== outputs in $out/:"
echo "   info.txt            what the plug-in put into the host's descriptors"
echo "   frames/contact_sheet.png and frames/frame_*.png"
echo "   audio.wav           the audio as 32-bit float WAV"
