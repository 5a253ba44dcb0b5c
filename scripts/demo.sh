#!/usr/bin/env bash
# `make demo`: the whole pipeline run on a synthetic portfolio in a demo working directory.
#   bash scripts/demo.sh BUILD_DIR [WORK_DIR]
# WORK_DIR (default ./vordak-demo) is replaced when an earlier demo made it; `vordak demo`
# refuses any other non-empty directory.
set -euo pipefail

build_dir="${1:?usage: scripts/demo.sh BUILD_DIR [WORK_DIR]}"
work_dir="${2:-vordak-demo}"
binary="$build_dir/vordak"
if [[ ! -x "$binary" ]]; then
  echo "demo: $binary not found; build first (make demo builds it)" >&2
  exit 1
fi
exec "$binary" demo --work-dir "$work_dir"
