#!/usr/bin/env bash
# The DLL is PE32 i386, exports exactly qxVideoDriver_Mirolan at ordinal 1 and
# imports only system DLLs (the C++ runtime and threads are linked in), and
# carries no test hook (platform/TestHooks.h: test build of the OS layer only).
set -euo pipefail
dll="$1"
dump=$(i686-w64-mingw32-objdump -p "$dll")
fail() { # Every symbol of the image's table and every string.
if i686-w64-mingw32-nm -a "$dll" 2>/dev/null | grep -q "ForTesting" || grep -aq "ForTesting" "$dll"; then
  fail "a test hook (ForTesting) in the shipped DLL"
fi
echo "check-dll: $*" >&2; exit 1; }
grep -q "file format pei-i386" <<<"$dump" || fail "not a PE32 i386 image"
grep -q "Magic.*010b.*(PE32)" <<<"$dump" || fail "not PE32"
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -E '^\s*\[ *[0-9]+\]' || true)
[ "$(wc -l <<<"$exports")" -eq 1 ] || fail "expected one export, got: $exports"
grep -q "qxVideoDriver_Mirolan" <<<"$exports" || fail "qxVideoDriver_Mirolan not exported"
grep -q "Ordinal Base.*1" <<<"$dump" || fail "ordinal base is not 1"
grep -q "\[   0\] +base\[   1\]" <<<"$dump" || fail "export is not at ordinal 1"
if grep -iE "DLL Name: (libstdc\+\+|libgcc|libwinpthread)" <<<"$dump"; then
  fail "imports a runtime DLL"
fi
# Every symbol of the image's table and every string.
if i686-w64-mingw32-nm -a "$dll" 2>/dev/null | grep -q "ForTesting" || grep -aq "ForTesting" "$dll"; then
  fail "a test hook (ForTesting) in the shipped DLL"
fi
echo "check-dll: $(basename "$dll") PE32 i386, one export qxVideoDriver_Mirolan @1, system imports only, no test hook:" \
  $(grep "DLL Name" <<<"$dump" | awk '{print $3}')
