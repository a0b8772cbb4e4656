#!/usr/bin/env bash
# The Linux library exports only the entry point, and carries no test hook
# (platform/TestHooks.h: those live in the test build of the OS layer only).
set -euo pipefail
syms=$(nm -D --defined-only "$1" | awk '{print $3}')
if [ "$syms" != "qxVideoDriver_Mirolan" ]; then
  echo "check-so: unexpected exports: $syms" >&2
  exit 1
fi
# Every symbol (not only the exported ones) and every string.
if nm -a "$1" 2>/dev/null | grep -q "ForTesting" || grep -aq "ForTesting" "$1"; then
  echo "check-so: a test hook (ForTesting) in the shipped library" >&2
  exit 1
fi
echo "check-so: $(basename "$1") exports only qxVideoDriver_Mirolan, no test hook"
