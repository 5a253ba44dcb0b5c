#!/usr/bin/env bash
# What the checks on every load cost: the monitoring extract (KIK) of FIRMS firms over
# PERIODS months, one CSV per month, loaded with `vordak load` under its contract (every
# row's key, period, types and allowed values checked, the counts per file and period, the
# comparison with the last load, the rejected rows written) against the same rows loaded
# as the ingest notebooks loaded them before contracts: one INSERT ... SELECT TRY_CAST in a
# transaction. The checks' cost is the difference; the goal is at most 10 % of the checked
# load's time. Shown: the fastest of RUNS runs of each, and the load average before.
#
#   bench/source_checks_bench.sh [BUILD_DIR] [FIRMS] [PERIODS] [RUNS]
#   bench/source_checks_bench.sh build 200000 24 3
set -euo pipefail
TIMEFORMAT='%3R'
build=${1:-build}
firms=${2:-200000}
periods=${3:-24}
runs=${4:-3}
vordak=$(cd "$build" && pwd)/vordak
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
db="$work/vrd.duckdb"
mkdir -p "$work/kik" "$work/rejected"

echo "generating $firms firms x $periods months of the monitoring extract"
"$vordak" sql --db "$db" --create "
  CREATE TABLE raw_kik (muta_no BIGINT, donem INTEGER, vrd_skor VARCHAR, izleme_durumu VARCHAR);
  CREATE TABLE ingest_log (adim VARCHAR, imza VARCHAR, dosya_sayisi INTEGER, satir BIGINT, yuklendi TIMESTAMP)" >/dev/null
for i in $(seq 0 $((periods - 1))); do
  period=$(( (2023 + i / 12) * 100 + i % 12 + 1 ))
  "$vordak" sql --db "$db" "
    COPY (SELECT 1000000 + f AS MUTA_NO, $period AS DONEM,
                 CASE WHEN f % 50 = 0 THEN 'YI' ELSE CAST((f * 7 + $i) % 900 AS VARCHAR) END AS VRD_SKOR,
                 CASE WHEN f % 9 = 0 THEN 'YAKIN IZLEME' ELSE 'IZLEMEDE' END AS IZLEME_DURUMU
          FROM range($firms) t(f))
    TO '$work/kik/kik_izleme_$period.csv' (DELIMITER ';', HEADER)" >/dev/null
done
contract=$("$vordak" sources --json | python3 -c '
import json, sys
print(json.dumps(next(c for c in json.load(sys.stdin)["kaynaklar"] if c["adim"] == "ingest_kik")))')

plain_sql="BEGIN TRANSACTION; DELETE FROM raw_kik;
  INSERT INTO raw_kik SELECT TRY_CAST(MUTA_NO AS BIGINT), TRY_CAST(DONEM AS INTEGER), NULLIF(trim(VRD_SKOR), ''), IZLEME_DURUMU
  FROM read_csv('$work/kik/*.csv', delim = ';', header = true, all_varchar = true)
  WHERE TRY_CAST(MUTA_NO AS BIGINT) IS NOT NULL; COMMIT"

fastest() { sort -n | head -1; }
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
plain=$(for _ in $(seq "$runs"); do
  { time "$vordak" sql --db "$db" "$plain_sql" >/dev/null; } 2>&1
done | fastest)
checked=$(for _ in $(seq "$runs"); do
  { time "$vordak" load --db "$db" --contract "$contract" --dir "$work/kik" --rejected-dir "$work/rejected" \
      --report "$work/report.json" --force >"$work/load.txt"; } 2>&1
done | fastest)
rows=$("$vordak" sql --db "$db" --csv "SELECT count(*) FROM raw_kik" | tail -1)
awk -v plain="$plain" -v checked="$checked" -v rows="$rows" 'BEGIN {
  cost = checked - plain
  printf "  %d rows: plain load %.2f s, checked load %.2f s; the checks cost %.2f s = %.1f %% of the checked load (goal: 10 %%)\n",
         rows, plain, checked, cost, 100 * cost / checked }'
