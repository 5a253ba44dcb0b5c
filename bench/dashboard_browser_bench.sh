#!/usr/bin/env bash
# The dashboards at bank scale, in headless Chromium on this machine: a synthetic
# portfolio of FIRMS x PERIODS (generated on first use and kept in /tmp for later runs),
# its marts with the region editions, then the portfolio edition and one region edition
# opened from the file system by tests/browser/dashboard_check.js. For one firm of the
# last data file it searches for the firm and opens its "#firma=" link, pages one watch
# list to its end, prints the firm alone, and applies a region filter whose firm count
# and list are checked against the JSON files.
#
# Prints the marts' time and memory, each page's size and its data folder's, the time
# each page takes to open, the search times and the results of the checks; the full
# report of the browser check is kept in OUT/report.json and the screenshots in
# BUILD_DIR/dashboard-screenshots/olcek/. Exits 1 when a check fails.
#
#   bench/dashboard_browser_bench.sh [BUILD_DIR] [FIRMS] [PERIODS]
#   bench/dashboard_browser_bench.sh build 1000000 36
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
firms=${2:-1000000}
periods=${3:-36}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
db=/tmp/vordak-bench-${firms}x${periods}.duckdb
out=/tmp/vordak-dashboard-bench
shots=$build/dashboard-screenshots/olcek
chromium=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$chromium" ] || ! command -v node >/dev/null; then
  echo "dashboard_browser_bench: Chromium and Node are needed (scripts/setup.sh installs them)" >&2
  exit 1
fi

if [ ! -f "$db" ]; then
  start=$(date +%s)
  "$build/synth/vordak-gen" --db "$db" --firms "$firms" --periods "$periods" >/dev/null
  echo "  generated $db in $(($(date +%s) - start)) s"
fi
rm -rf "$out"
mkdir -p "$out/json" "$shots"
/usr/bin/time -f "  vordak marts --per-region: %e s, peak %M KB" \
  "$build/vordak" marts --db "$db" --output-dir "$out/json" --per-region >"$out/marts.log"

html=$out/html
# One region edition: the middle one by code.
region_page=$(ls "$html"/vrd_dashboard_bolge_*.html | sort -V | awk '{ a[NR] = $0 } END { print a[int((NR + 1) / 2)] }')
for page in "$html"/vrd_dashboard.html "$html"/vrd_dashboard_yonetici.html "$html"/vrd_dashboard_admin.html "$region_page"; do
  # The generation of data files the page names (the administrator's is the manager's).
  folder=$html/$(grep -o '"klasor":"[^"]*"' "$page" | head -1 | cut -d'"' -f4)
  printf '  %-34s page %6.2f MB, data %7.1f MB in %5s files (%s)\n' "$(basename "$page")" \
    "$(echo "$(stat -c %s "$page") / 1000000" | bc -l)" "$(echo "$(du -sb "$folder" | cut -f1) / 1000000" | bc -l)" \
    "$(find "$folder" -type f | wc -l)" "${folder#"$html"/}"
done

node "$source_dir/tests/browser/dashboard_check.js" --scale --json "$out/json" "$chromium" "$shots" \
  "$html/vrd_dashboard.html" "$region_page" >"$out/report.json"
node - "$out/report.json" <<'JS'
const reports = JSON.parse(require('fs').readFileSync(process.argv[2], 'utf8'));
let failed = false;
const check = (what, ok) => { if (!ok) failed = true; return (ok ? 'ok' : 'FAILED') + ' ' + what; };
for (const r of reports) {
  const s = r.scale, g = r.region;
  console.log(`  ${r.page}: ${r.firms} firms in ${s.firmFiles} data files`);
  console.log(`    open ${s.openMs} ms (until its lists and table show); search for "${r.searchTerm}" ${r.searchMs.toFixed(0)} ms ` +
              `(${r.rowsAfterSearch} rows shown), for firm ${s.muta} of the last file ${s.search.ms} ms: ${check('found', s.search.found)}`);
  console.log(`    firm table at 1,400 px: the title column ${r.titleWidth} px wide`);
  console.log(`    #firma= link: ${check('panel open', s.link.open)} with ${s.link.scores.length} periods ` +
              `(${s.link.heads.join(', ')}); printed alone: ${s.printFirm.pages} page(s), ${check('asked once', s.printFirm.asked === 1)}`);
  console.log(`    list ${s.list.flag}: ${s.list.count} firms in ${s.list.pages} pages, paged through in ${s.list.ms} ms: ` +
              check('every firm once', s.list.unique === s.list.count && s.list.keys.length === s.list.count));
  console.log(`    page printed: ${r.print.pdf.pages} pages, ${(r.print.pdf.bytes / 1e6).toFixed(1)} MB`);
  if (g) {
    console.log(`    region ${g.code} (${g.name}), ${g.address}: firms ${g.figure.page} on the page, ${g.figure.json} in the JSON; ` +
                `list ${g.list.key}: ${g.list.count} on the page, ${g.list.jsonKeys} in the JSON` +
                (g.list.jsonCapped ? ' (its first 500)' : '') + ': ' +
                check('agree', g.list.prefixMatches && g.figure.page.replace(/\D/g, '') === String(g.figure.json)));
  }
  if (r.problems.length) { failed = true; console.log('    problems: ' + r.problems.join(' | ')); }
}
process.exit(failed ? 1 : 0);
JS
