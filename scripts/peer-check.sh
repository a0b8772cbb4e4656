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
video_columns() { grep '^0,' | awk -F', *' '{print $5, $6}'; }
status=0
for variant in "one" "several"; do
  file="$work/$variant.avi"
  limit=1073741824
  [ "$variant" = several ] && limit=60000
  "$native/tools/avimake/avimake" "$file" --width 96 --height 54 --frames 40 --segment-limit "$limit" >/dev/null
  ours=$(wine "$win/tools/qxhost/qxhost.exe" framemd5 --stored --plugin "$win/src/mirolan.dll" "$file" | tr -d '\r' | video_columns)
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

# With the debug folder present the plug-in logs to its standard output;
# qxhost.exe sends that to its standard error, so its hash lines stay exactly
# ffmpeg's, byte for byte (no CR either). The folder lives in the private Wine
# prefix and is made here only when absent, and removed again.
debug="$WINEPREFIX/drive_c/tovraDebug"
if [ ! -e "$debug" ]; then
  mkdir "$debug"
  file="$work/logged.avi"
  "$native/tools/avimake/avimake" "$file" --width 34 --height 20 --frames 12 >/dev/null
  wine "$win/tools/qxhost/qxhost.exe" framemd5 --plugin "$win/src/mirolan.dll" "$file" \
    >"$work/logged.md5" 2>"$work/logged.err"
  rm -rf "$debug"
  ffmpeg -nostdin -v error -i "$file" -map 0 -f framemd5 - >"$work/logged-ffmpeg.md5"
  if grep -q 'Mirolan(' "$work/logged.err" &&
    cmp -s <(grep -v '^#' "$work/logged.md5") <(grep -v '^#' "$work/logged-ffmpeg.md5"); then
    echo "peer-check: with the debug folder present: hash lines equal ffmpeg's, the log went to stderr"
  else
    echo "peer-check: with the debug folder present: qxhost.exe's output is not ffmpeg's hash lines" >&2
    status=1
  fi
fi
exit "$status"
