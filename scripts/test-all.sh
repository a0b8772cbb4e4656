#!/usr/bin/env bash
# Builds every target and runs every suite: native (g++ at -O2), clang at -O3,
# g++ at -O3 (build only), ASan+UBSan, TSan on the threading suites, then the
# 32-bit Windows build under Wine. Warnings are errors in every leg (the
# presets). Prints each leg's time; exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-2}
status=0
leg="" leg_start=$SECONDS times=()
end_leg() {
  if [ -n "$leg" ]; then
    local t=$((SECONDS - leg_start))
    times+=("$(printf '%3d min %02d s  %s' $((t / 60)) $((t % 60)) "$leg")")
    echo "==== $leg: $((t / 60)) min $((t % 60)) s"
  fi
  leg=""
}
step() {
  end_leg
  leg=$* leg_start=$SECONDS
  echo
  echo "==== $*"
}
# The served-data baseline's avimake files: written by the native leg, read by
# the legs that cannot run avimake (TSan, Wine).
export MIROLAN_AVIMAKE_FILES="$PWD/build/avimake-files"

step "native build and tests"
cmake --preset native >/dev/null
cmake --build build/native -j "$JOBS"
bash scripts/check-so.sh build/native/src/libmirolan.so || status=1
(cd build/native && ctest --output-on-failure -j "$JOBS") || status=1

# Files over 1 GiB written by ffmpeg and GStreamer (several RIFF segments),
# natively; the small files of the same matrix are the ctest peer_writers.
step "files over 1 GiB from other writers"
bash scripts/peer-writers.sh --legs model,native --group large || status=1

# Another compiler at another optimisation level: clang's warnings and its
# code generation, every suite.
step "clang at -O3: build and tests"
cmake --preset clang >/dev/null
cmake --build build/clang -j "$JOBS"
(cd build/clang && ctest --output-on-failure -j "$JOBS") || status=1

# g++'s optimiser warns at -O3 where it does not at -O2 (the build a packager
# makes with CMAKE_BUILD_TYPE=Release): built, warnings as errors.
step "g++ at -O3: build"
cmake --preset release >/dev/null
cmake --build build/release -j "$JOBS" || status=1

# The whole native suite, the reliability suite's replay of the kept fuzz
# corpus and its bad-input sweep included; LeakSanitizer reports leaks at exit.
step "AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build build/asan -j "$JOBS"
(cd build/asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1:check_initialization_order=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$JOBS") || status=1

# The suites that run the worker thread against a host: streaming, the
# loaded library, and the lifecycle stress, corpus replay and bad inputs.
step "ThreadSanitizer on the threading suites"
cmake --preset tsan >/dev/null
cmake --build build/tsan -j "$JOBS" --target test_stream test_integration test_reliability
(cd build/tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure -R '^(stream|integration|reliability)$') || status=1

step "Windows build (mingw-w64 i686) and tests under Wine"
cmake --preset mingw >/dev/null
cmake --build build/mingw -j "$JOBS"
bash scripts/check-dll.sh build/mingw/src/mirolan.dll || status=1
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
(cd build/mingw && ctest --output-on-failure) || status=1
bash scripts/peer-check.sh || status=1
bash scripts/peer-writers.sh --legs wine --group small || status=1
# The host developer's guide's example against the installed DLL, under Wine.
bash scripts/host-example.sh wine build/mingw || status=1
wineserver -k 2>/dev/null || true

end_leg
echo
echo "==== time per leg"
printf '%s\n' "${times[@]}"
echo "==== all legs: $((SECONDS / 60)) min $((SECONDS % 60)) s"
if [ "$status" -eq 0 ]; then echo "==== all tests passed"; else echo "==== FAILURES (see above)"; fi
exit "$status"
