#!/usr/bin/env bash
# The Linux library exports only the entry point.
set -euo pipefail
syms=$(nm -D --defined-only "$1" | awk '{print $3}')
if [ "$syms" != "qxVideoDriver_Mirolan" ]; then
  echo "check-so: unexpected exports: $syms" >&2
  exit 1
fi
echo "check-so: $(basename "$1") exports only qxVideoDriver_Mirolan"
