#!/usr/bin/env bash
# The engine's own cost when nothing has to run: `vordak run --skip-ingest --skip-ml
# --skip-backtest` on a working directory whose transform and marts records list
# N source files each (default 10,000). No notebook executes; the time is the engine's.
#
#   bench/engine_skip_bench.sh [BUILD_DIR] [FILES] [RUNS]
set -euo pipefail
build=${1:-build}
files=${2:-10000}
runs=${3:-5}
vordak=$(cd "$build" && pwd)/vordak
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$work" "$files" <<'PY'
import json, os, sys
work, files = sys.argv[1], int(sys.argv[2])
def notebook(path):
    cells = [{"cell_type": "code", "metadata": {"tags": ["parameters"]}, "source": "DB_PATH = ''",
              "outputs": [], "execution_count": None},
             {"cell_type": "code", "metadata": {}, "source": "x = 1", "outputs": [], "execution_count": None}]
    json.dump({"cells": cells, "metadata": {"kernelspec": {"name": "python3", "display_name": "Python 3",
               "language": "python"}}, "nbformat": 4, "nbformat_minor": 5}, open(path, "w"))
for name in ("nb_02_transform.ipynb", "nb_03_marts.ipynb"):
    notebook(os.path.join(work, name))
src = os.path.join(work, "src")
os.makedirs(src)
for i in range(files):
    open(os.path.join(src, "f%05d.csv" % i), "w").write("%d\n" % i)
json.dump({"kik_data_ham_csv": src}, open(os.path.join(work, "local_data_paths.json"), "w"))
PY

# One real execution of each step records the source fingerprints.
for step in transform marts; do
  "$vordak" step "$step" --work-dir "$work" --source-dir "$work/src" >/dev/null
done
sleep 1  # a new season per second

echo "engine run with every step up to date, $files source files per record, $runs runs:"
for i in $(seq "$runs"); do
  start=$(date +%s.%N)
  "$vordak" run --work-dir "$work" --skip-ingest --skip-ml --skip-backtest >"$work/out.txt"
  end=$(date +%s.%N)
  grep -q "OK:0 Atlandı:2 Hata:0" "$work/out.txt" || { cat "$work/out.txt"; exit 1; }
  printf '  run %d: %.3f s\n' "$i" "$(echo "$end - $start" | bc)"
  sleep 1
done
