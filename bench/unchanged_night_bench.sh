#!/usr/bin/env bash
# An unchanged night: the plain `vordak run`, as the timer and the cron line start it, on
# the demo's working directory (2,000 firms x 8 periods) when nothing changed since the
# last run. Every step must be skipped; the time is the whole process's. The first, full
# run that prepares the directory is not counted. Shown: the fastest and the median of
# RUNS runs, with the CPU time of the fastest, and the load average before.
#
#   bench/unchanged_night_bench.sh [BUILD_DIR] [RUNS]
#   bench/unchanged_night_bench.sh build 5
set -euo pipefail
TIMEFORMAT='%3R %3U %3S'
build=${1:-build}
runs=${2:-5}
vordak=$(cd "$build" && pwd)/vordak
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$vordak" demo --work-dir "$work/demo" --no-run >/dev/null
echo "preparing: the first plain run of a new working directory"
"$vordak" run --work-dir "$work/demo" >"$work/first.txt" || { cat "$work/first.txt"; exit 1; }
grep "Süre:" "$work/first.txt"

echo "unchanged night; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
times=()
for i in $(seq "$runs"); do
  sleep 1  # a new season per second
  { time "$vordak" run --work-dir "$work/demo" >"$work/out.txt"; } 2>"$work/time.txt"
  grep -q "OK:0 Atlandı:18 Hata:0" "$work/out.txt" || { cat "$work/out.txt"; exit 1; }
  times+=("$(awk '{printf "%d %d", $1 * 1000, ($2 + $3) * 1000}' "$work/time.txt")")
done
printf '%s\n' "${times[@]}" | sort -n | awk -v runs="$runs" '
  NR == 1 { fastest = $1; cpu = $2 } { all[NR] = $1 }
  END { printf "  whole process: fastest %d ms (CPU %d ms), median %d ms of %d runs (goal: 5000 ms)\n",
        fastest, cpu, all[int((NR + 1) / 2)], runs }'
