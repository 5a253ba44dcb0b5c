#!/usr/bin/env bash
# Wall time of a forced run of the demo's working directory against the sum of its cells'
# execution times. A cell's time is what nbclient records in the executed notebook's cell
# metadata: from "iopub.execute_input" to "shell.execute_reply". Everything above that sum
# is the engine's and the executor's own cost (interpreters, kernels, bookkeeping).
#
#   bench/forced_run_bench.sh [VORDAK] [RUNS]
#
# VORDAK is the binary to measure (default: build/vordak); RUNS defaults to 3. The working
# directory is made once with `vordak demo` by the same binary, then run RUNS times with
# `vordak run --work-dir DIR --force-all`. The load average is printed before and after:
# other work on the machine slows the run, not the cells alone.
set -euo pipefail
vordak=$(realpath "${1:-build/vordak}")
runs=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "binary: $vordak"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$vordak" demo --work-dir "$work/demo" >"$work/demo.txt" || { cat "$work/demo.txt"; exit 1; }

for i in $(seq "$runs"); do
  sleep 1  # a new season per second
  start=$(date +%s.%N)
  "$vordak" run --work-dir "$work/demo" --force-all >"$work/run.txt" || { cat "$work/run.txt"; exit 1; }
  end=$(date +%s.%N)
  season=$(ls -d "$work"/demo/seasons/S_* | sort | tail -n 1)
  /usr/bin/python3 - "$season/logs" "$start" "$end" "$i" <<'PY'
import datetime, glob, json, os, sys
logs, start, end, run = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
def stamp(text):
    return datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))
cells = 0.0
notebooks = glob.glob(os.path.join(logs, "adim_*.ipynb"))
for path in notebooks:
    for cell in json.load(open(path, encoding="utf-8"))["cells"]:
        timing = cell.get("metadata", {}).get("execution", {})
        if "iopub.execute_input" in timing and "shell.execute_reply" in timing:
            cells += (stamp(timing["shell.execute_reply"]) - stamp(timing["iopub.execute_input"])).total_seconds()
wall = end - start
print("run %s: %d notebooks, wall %.2f s, cells %.2f s, wall/cells %.2f" % (run, len(notebooks), wall, cells, wall / cells))
PY
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
