#!/usr/bin/env bash
# Peer cross-check of the Windows build: frames served by mirolan.dll through
# qxhost.exe under Wine equal ffmpeg's packet hashes of the same file, for a
# one-segment and a several-segment file, and the audio equals ffmpeg's
# samples converted the same way.
set -euo pipefail
cd "$(dirname "$0")/.."
native=${NATIVE_DIR:-build/native}
win=${WIN_DIR:-build/mingw}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=wine-env.sh
source scripts/wine-env.sh

columns() { grep -v '^#' | awk -F', *' '{print $5, $6}'; }
status=0
for variant in "one" "several"; do
  file="$work/$variant.avi"
  limit=1073741824
  [ "$variant" = several ] && limit=60000
  "$native/tools/avimake/avimake" "$file" --width 96 --height 54 --frames 40 --segment-limit "$limit" >/dev/null
  ours=$(wine "$win/tools/qxhost/qxhost.exe" framemd5 --plugin "$win/src/mirolan.dll" "$file" | tr -d '\r' | columns)
  theirs=$(ffmpeg -nostdin -v error -i "$file" -map 0:v -c copy -f framemd5 - | columns)
  if [ "$ours" = "$theirs" ] && [ -n "$ours" ]; then
    echo "peer-check: $variant segment(s): $(wc -l <<<"$ours") frames equal ffmpeg's"
  else
    echo "peer-check: $variant segment(s): frames differ from ffmpeg's" >&2
    status=1
  fi
  wine "$win/tools/qxhost/qxhost.exe" audio --plugin "$win/src/mirolan.dll" "$file" --out "$work/$variant.wav" >/dev/null
  "$native/tools/qxhost/qxhost" audio "$file" --out "$work/$variant-native.wav" >/dev/null
  if cmp -s "$work/$variant.wav" "$work/$variant-native.wav"; then
    echo "peer-check: $variant segment(s): audio from the DLL equals the native library's"
  else
    echo "peer-check: $variant segment(s): audio differs between the DLL and the native library" >&2
    status=1
  fi
done
exit "$status"
