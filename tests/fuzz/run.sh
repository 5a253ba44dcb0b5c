#!/usr/bin/env bash
# Runs every fuzz target for the given time on its committed corpus (tests/fuzz/corpus/NAME).
#   bash tests/fuzz/run.sh BUILD_DIR SECONDS
# New inputs go to BUILD_DIR/fuzz-corpus/NAME, a crash or a hang to BUILD_DIR/fuzz-findings.
# Exits 1 when any target found something: turn the finding into a test.
set -euo pipefail

build_dir="${1:?usage: tests/fuzz/run.sh BUILD_DIR SECONDS}"
seconds="${2:?usage: tests/fuzz/run.sh BUILD_DIR SECONDS}"
here=$(cd "$(dirname "$0")" && pwd)
findings="$build_dir/fuzz-findings"
mkdir -p "$findings"
status=0
for fuzzer in "$build_dir"/tests/fuzz/*_fuzzer; do
  name=$(basename "$fuzzer" _fuzzer)
  corpus="$build_dir/fuzz-corpus/$name"
  mkdir -p "$corpus"
  log="$findings/$name.log"
  # -timeout: an input that takes 10 s is a hang; readers must be linear in their input.
  if "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$findings/$name-" "$corpus" "$here/corpus/$name" >"$log" 2>&1; then
    echo "fuzz: $name: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') inputs, no finding"
  else
    echo "fuzz: $name: FINDING, see $log and $findings/$name-*" >&2
    status=1
  fi
done
exit $status
