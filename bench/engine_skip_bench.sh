#!/usr/bin/env bash
# The engine's own cost when nothing has to run: `vordak run --skip-ingest --skip-ml
# --skip-backtest` on a working directory whose transform and marts records list
# N source files each. No notebook executes; the time is the engine's, for the whole
# process. Each size is measured RUNS times; the fastest and the median run are shown,
# with the CPU time of the fastest, and the load average (other work on the machine
# slows the runs).
#
#   bench/engine_skip_bench.sh [BUILD_DIR] [FILES...] [RUNS]
#   bench/engine_skip_bench.sh build "1000 10000 100000" 5
set -euo pipefail
TIMEFORMAT='%3R %3U %3S'
build=${1:-build}
sizes=${2:-10000}
runs=${3:-5}
vordak=$(cd "$build" && pwd)/vordak
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

measure() {
  local files=$1 dir="$work/$1"
  mkdir -p "$dir"
  /usr/bin/python3 - "$dir" "$files" <<'PY'
import json, os, sys
work, files = sys.argv[1], int(sys.argv[2])
def notebook(path):
    cells = [{"cell_type": "code", "metadata": {"tags": ["parameters"]}, "source": "DB_PATH = ''",
              "outputs": [], "execution_count": None},
             {"cell_type": "code", "metadata": {}, "source": "x = 1", "outputs": [], "execution_count": None}]
    json.dump({"cells": cells, "metadata": {"kernelspec": {"name": "python3", "display_name": "Python 3",
               "language": "python"}}, "nbformat": 4, "nbformat_minor": 5}, open(path, "w"))
# The marts read the diagnostics, which a plain run would otherwise run first.
for name in ("nb_02_transform.ipynb", "nb_06a_diag_extract.ipynb", "nb_06b_diag_analysis.ipynb", "nb_03_marts.ipynb"):
    notebook(os.path.join(work, name))
src = os.path.join(work, "src")
os.makedirs(src)
for i in range(files):
    open(os.path.join(src, "f%06d.csv" % i), "w").write("%d\n" % i)
json.dump({"kik_data_ham_csv": src}, open(os.path.join(work, "local_data_paths.json"), "w"))
PY
  # One real execution of each step records the source fingerprints.
  for step in transform eus_diag diag_analysis marts; do
    "$vordak" step "$step" --work-dir "$dir" --source-dir "$dir/src" >/dev/null
  done
  local times=()
  for i in $(seq "$runs"); do
    sleep 1  # a new season per second
    # The shell's own timer: a timing program would add its own start-up to the figure.
    { time "$vordak" run --work-dir "$dir" --skip-ingest --skip-ml --skip-backtest >"$dir/out.txt"; } 2>"$dir/time.txt"
    grep -q "OK:0 Atlandı:2 Hata:0" "$dir/out.txt" || { cat "$dir/out.txt"; exit 1; }
    times+=("$(awk '{printf "%d %d", $1 * 1000, ($2 + $3) * 1000}' "$dir/time.txt")")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v files="$files" -v runs="$runs" '
    NR == 1 { fastest = $1; cpu = $2 } { all[NR] = $1 }
    END { printf "  %7d files: fastest %4d ms (CPU %4d ms), median %4d ms of %d runs\n",
          files, fastest, cpu, all[int((NR + 1) / 2)], runs }'
  rm -rf "$dir"
}

echo "engine run with every step up to date; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for files in $sizes; do measure "$files"; done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
