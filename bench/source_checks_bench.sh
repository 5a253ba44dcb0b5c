#!/usr/bin/env bash
# What the checks on every load cost: the monitoring extract (KIK) of FIRMS firms over
# PERIODS months, one CSV per month, loaded three ways:
#   plain    the rows loaded as the ingest notebooks loaded them before contracts: one
#            INSERT ... SELECT TRY_CAST in a transaction;
#   checked  `vordak load` under the source's contract: every row's key, period, types and
#            allowed values checked, the counts per file and period, the comparison with
#            the last load, the rejected rows written;
#   step     the whole ingest step as a run makes it (`vordak step ingest_kik --force` in a working
#            directory holding the same files, touched so that they load again): the
#            notebook and its kernel, the checked load, the step's record.
# The checks' cost is checked - plain. Goal: at most 10 % of the ingest step's time; also
# shown as a share of the checked load alone. The three take turns, RUNS times, so that the
# machine's drift falls on each alike; shown: the median and the fastest of each, wall and
# CPU (user + system) seconds, and the load average before.
#
#   bench/source_checks_bench.sh [BUILD_DIR] [FIRMS] [PERIODS] [RUNS]
#   bench/source_checks_bench.sh build 200000 24 5
set -euo pipefail
build=${1:-build}
firms=${2:-200000}
periods=${3:-24}
runs=${4:-5}
vordak=$(cd "$build" && pwd)/vordak
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
db="$work/vrd.duckdb"
steps="$work/steps"
mkdir -p "$work/kik" "$work/rejected" "$steps/external_data"

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

# The step's working directory: the packaged notebooks, the tables, the same extracts.
"$vordak" init --work-dir "$steps" >/dev/null
"$vordak" step ingest_ddl --work-dir "$steps" >/dev/null
ln -s "$work/kik" "$steps/external_data/kik_data_ham_csv"

plain_sql="BEGIN TRANSACTION; DELETE FROM raw_kik;
  INSERT INTO raw_kik SELECT TRY_CAST(MUTA_NO AS BIGINT), TRY_CAST(DONEM AS INTEGER), NULLIF(trim(VRD_SKOR), ''), IZLEME_DURUMU
  FROM read_csv('$work/kik/*.csv', delim = ';', header = true, all_varchar = true)
  WHERE TRY_CAST(MUTA_NO AS BIGINT) IS NOT NULL; COMMIT"

# Appends "NAME WALL CPU" to the timings.
timed() {
  local name=$1
  shift
  /usr/bin/time -a -o "$work/times" -f "$name %e %U %S" "$@" >"$work/out.txt" 2>&1 || {
    cat "$work/out.txt" >&2
    exit 1
  }
}
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
# The first load of each has no last load to compare with; it is not timed.
"$vordak" sql --db "$db" "$plain_sql" >/dev/null
"$vordak" load --db "$db" --contract "$contract" --dir "$work/kik" --force >/dev/null
"$vordak" step ingest_kik --force --work-dir "$steps" >/dev/null
for _ in $(seq "$runs"); do
  timed plain "$vordak" sql --db "$db" "$plain_sql"
  rm -f "$work/report.json"
  timed checked "$vordak" load --db "$db" --contract "$contract" --dir "$work/kik" --rejected-dir "$work/rejected" \
    --report "$work/report.json" --force
  touch "$work"/kik/*.csv
  timed step "$vordak" step ingest_kik --force --work-dir "$steps"
  grep -q "  OK .*s$" "$work/out.txt" || { cat "$work/out.txt" >&2; echo "the step did not load the extracts" >&2; exit 1; }
done
rows=$("$vordak" sql --db "$db" --csv "SELECT count(*) FROM raw_kik" | tail -1)
awk -v rows="$rows" '
  { wall[$1, ++n[$1]] = $2; cpu[$1, n[$1]] = $3 + $4 }
  function median(a, k,   i, j, t, m, v) {
    m = n[k]
    for (i = 1; i <= m; i++) v[i] = a[k, i]
    for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
    return m % 2 ? v[(m + 1) / 2] : (v[m / 2] + v[m / 2 + 1]) / 2
  }
  function fastest(a, k,   i, f) { f = a[k, 1]; for (i = 2; i <= n[k]; i++) if (a[k, i] < f) f = a[k, i]; return f }
  END {
    printf "  %d rows, %d runs of each; wall seconds (median, fastest), CPU seconds (median):\n", rows, n["plain"]
    split("plain checked step", names, " ")
    for (i = 1; i <= 3; i++) printf "    %-8s %6.2f %6.2f   CPU %6.2f\n", names[i], median(wall, names[i]), fastest(wall, names[i]), median(cpu, names[i])
    cost = median(wall, "checked") - median(wall, "plain")
    printf "  the checks cost %.2f s: %.1f %% of the ingest step (goal: 10 %%), %.1f %% of the checked load alone\n",
           cost, 100 * cost / median(wall, "step"), 100 * cost / median(wall, "checked")
  }' "$work/times"
