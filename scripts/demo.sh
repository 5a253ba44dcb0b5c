#!/usr/bin/env bash
# `make demo`: a fresh demo working directory and the whole pipeline run on it.
#   bash scripts/demo.sh BUILD_DIR [WORK_DIR]
# WORK_DIR (default ./vordak-demo) is removed and re-created.
set -euo pipefail

build_dir="${1:?usage: scripts/demo.sh BUILD_DIR [WORK_DIR]}"
work_dir="${2:-vordak-demo}"
binary="$build_dir/vordak"
if [[ ! -x "$binary" ]]; then
  echo "demo: $binary not found; build first (make build)" >&2
  exit 1
fi
# Only a directory that a previous demo made is removed.
if [[ -e "$work_dir" ]]; then
  if [[ ! -f "$work_dir/local_data_paths.json" || ! -d "$work_dir/external_data" ]]; then
    echo "demo: $work_dir exists and is not a demo directory; remove it or pass another WORK_DIR" >&2
    exit 1
  fi
  rm -rf -- "$work_dir"
fi
exec "$binary" demo --work-dir "$work_dir"
