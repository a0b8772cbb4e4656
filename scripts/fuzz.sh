#!/usr/bin/env bash
# Fuzzes with libFuzzer for a bounded time, with two targets in turn: first
# the container alone over the input's bytes in memory (fuzz_container), then
# the whole open-serve-close path through the export (fuzz_open), which also
# starts from what the first found.
#   FUZZ_SECONDS            whole run length in seconds (default 600)
#   FUZZ_CONTAINER_SECONDS  the container target's share (default a quarter)
#   FUZZ_MERGE=1            afterwards, merge what both found into fuzz/corpus
#                           (minimized by fuzz_open: only inputs that add
#                           coverage of the whole path are kept)
# Seeds: the kept corpus, every past finding (fuzz/regressions), avimake's
# valid and malformed variants at small sizes, the index shapes of an attacker
# (scripts/fuzz-shapes.py) and the in-test builder's files. One read in four
# opens fails (injected) at a point the input chooses. Each target first runs
# every seed, kept input and regression (libFuzzer's loading), so a replay
# that fails is a finding like any other.
# A crash, hang or sanitizer report leaves its input in build/fuzz/artifacts/
# and makes the script fail: fix it, then keep the input in fuzz/regressions/.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-2}
FUZZ_SECONDS=${FUZZ_SECONDS:-600}
FUZZ_CONTAINER_SECONDS=${FUZZ_CONTAINER_SECONDS:-$((FUZZ_SECONDS / 4))}
open_seconds=$((FUZZ_SECONDS - FUZZ_CONTAINER_SECONDS))
build=build/fuzz

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DMIROLAN_BUILD_FUZZ=ON -DMIROLAN_SANITIZE=address -DMIROLAN_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build" -j "$JOBS" --target fuzz_open fuzz_container fuzz_write_seeds avimake

seeds="$build/seeds"
work="$build/corpus"
container_work="$build/corpus-container"
artifacts="$build/artifacts"
rm -rf "$seeds"
mkdir -p "$seeds" "$work" "$container_work" "$artifacts"

# avimake variants: tiny frames, a few of them, low audio rates. The served-data
# baseline (tests/reliability/ServedBaselineTest.cpp) makes the same ones.
avimake="$build/tools/avimake/avimake"
small=(--width 4 --height 2 --frames 3 --audio-rate 8000)
make_seed() { local name=$1; shift; "$avimake" "$seeds/avimake-$name.avi" "$@" >/dev/null; }
make_seed valid "${small[@]}"
make_seed segments --width 4 --height 2 --frames 12 --segment-limit 4096 --audio-rate 8000
make_seed audio8-mono "${small[@]}" --bits 8 --channels 1
make_seed no-audio "${small[@]}" --no-audio
make_seed no-video "${small[@]}" --no-video
make_seed no-index-flag "${small[@]}" --no-index-flag
make_seed bpp24 "${small[@]}" --bpp 24
make_seed handler-dib "${small[@]}" --handler DIB
make_seed idx1-only "${small[@]}" --idx1-only
make_seed odd-junk "${small[@]}" --odd-junk
make_seed audio-strf16 "${small[@]}" --audio-strf16
make_seed avih-frames-all --width 4 --height 2 --frames 12 --segment-limit 4096 --audio-rate 8000 --avih-frames all
make_seed avih-frames-99 "${small[@]}" --avih-frames 99
make_seed truncated "${small[@]}" --truncate 1500
make_seed long-index --width 4 --height 2 --frames 40 --no-audio
# The index shapes of an attacker: overlapping and repeated standard indexes,
# spare and never-written entries, swapped interior entries.
python3 scripts/fuzz-shapes.py "$seeds" "$seeds/avimake-segments.avi" "$seeds/avimake-long-index.avi"
"$build/fuzz/fuzz_write_seeds" "$seeds" >/dev/null
# Files as other writers make them: 'idx1' only, '00dc' chunks, audio as
# stream 0, odd 8-bit chunks with pad bytes, drop frames, a compressed stream.
if command -v ffmpeg >/dev/null; then
  ff() { local name=$1; shift; ffmpeg -loglevel error -y "$@" "$seeds/ffmpeg-$name.avi" || true; }
  tiny=(-f lavfi -i testsrc=size=4x2:rate=25 -t 0.12)
  ff bgra-u8-mono "${tiny[@]}" -f lavfi -i sine=sample_rate=2205 -t 0.12 -ac 1 \
    -pix_fmt bgra -c:v rawvideo -c:a pcm_u8 -frame_size 41
  ff audio-only -f lavfi -i sine=sample_rate=2000 -t 0.1 -c:a pcm_s16le
  ff drop-frames -f lavfi -i "testsrc=size=4x2:rate=25,setpts='PTS+if(gte(N\,2)\,2\,0)'" \
    -t 0.2 -pix_fmt bgra -c:v rawvideo -fps_mode passthrough
  ff mjpeg "${tiny[@]}" -c:v mjpeg
  # Every served sound and picture layout besides 8/16-bit PCM and 24/32-bit BGR(A).
  for codec in pcm_s24le pcm_s32le pcm_f32le pcm_f64le pcm_alaw pcm_mulaw; do
    ff "audio-$codec" -f lavfi -i sine=sample_rate=2000 -t 0.05 -c:a "$codec"
  done
  for pixels in gray yuyv422 uyvy422 yuv420p nv12 yuv422p yuv411p yuv410p bgr24 \
    rgb555le pal8 rgba; do
    ff "video-$pixels" "${tiny[@]}" -pix_fmt "$pixels" -c:v rawvideo
  done
fi
if command -v gst-launch-1.0 >/dev/null; then
  gst-launch-1.0 -q videotestsrc num-buffers=3 ! video/x-raw,format=BGRx,width=16,height=16,framerate=25/1 ! mux. \
    audiotestsrc num-buffers=3 samplesperbuffer=41 ! audio/x-raw,format=U8,channels=1,rate=1025 \
    ! mux. avimux name=mux ! filesink location="$seeds/gstreamer-bgrx-u8.avi" >/dev/null 2>&1 || true
fi

echo "seeds: $(ls "$seeds" | wc -l) generated, $(ls fuzz/corpus | wc -l) kept," \
  "$(ls fuzz/regressions | wc -l) regressions"
status=0
# run TARGET SECONDS WORK [SEEDS...]: one libFuzzer run; new inputs go to WORK.
run() {
  local target=$1 seconds=$(($2 > 0 ? $2 : 1)) into=$3; shift 3
  local log="$build/$target.log"
  echo "$target: fuzzing for $seconds s"
  # -close_fd_mask=1: the worker prints "Wrong Index" lines on stdout.
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
    -max_len=16384 -dict=fuzz/avi.dict -close_fd_mask=1 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$target-" "$into" "$@" 2>&1 | tee "$log" \
    | grep -E '^#[0-9]+ +(INITED|DONE|pulse)|ERROR|SUMMARY|stat::' || true
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  echo "$target: ${runs:-?} executions in $seconds s," \
    "$(( ${runs:-0} / (seconds > 0 ? seconds : 1) )) per second"
}
run fuzz_container "$FUZZ_CONTAINER_SECONDS" "$container_work" "$seeds" fuzz/corpus fuzz/regressions
run fuzz_open "$open_seconds" "$work" "$seeds" fuzz/corpus fuzz/regressions "$container_work"

if [ "${FUZZ_MERGE:-0}" = 1 ]; then
  merged="$build/merged"
  rm -rf "$merged" && mkdir -p "$merged"
  "$build/fuzz/fuzz_open" -merge=1 -close_fd_mask=1 "$merged" fuzz/corpus "$work" "$container_work" \
    >/dev/null 2>&1
  rm -f fuzz/corpus/*
  cp "$merged"/* fuzz/corpus/
  echo "fuzz/corpus: $(ls fuzz/corpus | wc -l) inputs after merge"
fi

if ls "$artifacts"/* >/dev/null 2>&1; then
  echo "findings in $artifacts:"; ls -l "$artifacts"
  status=1
fi
exit "$status"
