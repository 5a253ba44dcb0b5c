// Opens dashboard pages (and the runs page) in headless Chromium from the file system and
// reports what a reader would meet there: console errors and uncaught exceptions, dialogs
// (an injected script would open one), how long the page takes to show its lists and its
// firm table, the result of a search and a filter, a full-page screenshot, whether every
// control can be used without a failure, what the CSV downloads hold, what print media
// shows and how many pages a printout takes, and the firm panel a "#firma=MUTA" link opens.
// For a dashboard it also takes one firm of the last data file and searches for it, opens
// its link, pages one watch list to its end, prints the firm alone, and applies a region
// filter; with --json it checks a figure and a list of the filtered page against the
// scoreboard and trending JSON files.
//
// usage: node dashboard_check.js [--sections] [--scale] [--json DIR] CHROMIUM OUT_DIR PAGE.html...
// With --sections, every section with an id also gets a screenshot of its own. With
// --scale (a large portfolio, bench/dashboard_browser_bench.sh), the controls are not
// pressed one by one and nothing is downloaded: the checks of one firm, a list and a
// region remain. Prints
// one JSON report (a list, one entry per page) on standard output; exits 1 with a message
// on standard error when the browser cannot be driven.
//
// Chromium is driven through the DevTools protocol over --remote-debugging-pipe: the
// browser reads NUL-terminated JSON messages on file descriptor 3 and writes its own on
// descriptor 4. No port, no WebSocket client and no package beyond Node itself.

'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { jsonFacts } = require('./scoreboard_facts.js');

const args = process.argv.slice(2);
const options = { sections: false, scale: false, json: null };
while (args[0] && args[0].startsWith('--')) {
  const flag = args.shift();
  if (flag === '--sections') options.sections = true;
  else if (flag === '--scale') options.scale = true;
  else if (flag === '--json') options.json = args.shift();
}
const [chromium, outDir, ...pages] = args;
if (!chromium || !outDir || pages.length === 0) {
  process.stderr.write('usage: node dashboard_check.js [--sections] [--scale] [--json DIR] CHROMIUM OUT_DIR PAGE.html...\n');
  process.exit(2);
}

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vordak-chromium-'));
const browser = spawn(chromium, [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--disable-extensions', '--hide-scrollbars', '--mute-audio', '--remote-debugging-pipe',
  '--user-data-dir=' + profile, 'about:blank',
], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
let browserLog = '';
browser.stderr.on('data', (chunk) => { browserLog = (browserLog + chunk).slice(-4000); });

function finish(code, message) {
  if (message) process.stderr.write(message + '\n' + (code ? 'chromium said: ' + browserLog + '\n' : ''));
  try { browser.kill('SIGKILL'); } catch (e) { /* already gone */ }
  try { fs.rmSync(profile, { recursive: true, force: true }); } catch (e) { /* best effort */ }
  process.exit(code);
}
const deadline = setTimeout(() => finish(1, 'dashboard_check: timed out'), 900000);
browser.on('exit', (code) => finish(1, 'dashboard_check: chromium ended early with ' + code));

// The protocol connection: requests carry ids, replies and events arrive on fd 4.
const toBrowser = browser.stdio[3];
const fromBrowser = browser.stdio[4];
let nextId = 1;
const waiting = new Map();
const listeners = [];
let pending = Buffer.alloc(0);
fromBrowser.on('data', (chunk) => {
  pending = Buffer.concat([pending, chunk]);
  let end;
  while ((end = pending.indexOf(0)) >= 0) {
    const message = JSON.parse(pending.subarray(0, end).toString('utf8'));
    pending = pending.subarray(end + 1);
    if (message.id && waiting.has(message.id)) {
      const { resolve, reject, method } = waiting.get(message.id);
      waiting.delete(message.id);
      if (message.error) reject(new Error(method + ': ' + message.error.message));
      else resolve(message.result);
    } else if (message.method) {
      listeners.forEach((listener) => listener(message));
    }
  }
});
function send(method, params, sessionId) {
  const id = nextId++;
  const message = { id, method, params: params || {} };
  if (sessionId) message.sessionId = sessionId;
  toBrowser.write(JSON.stringify(message) + '\0');
  return new Promise((resolve, reject) => waiting.set(id, { resolve, reject, method }));
}
function nextEvent(method, sessionId) {
  return new Promise((resolve) => {
    const listener = (message) => {
      if (message.method === method && message.sessionId === sessionId) {
        listeners.splice(listeners.indexOf(listener), 1);
        resolve(message.params);
      }
    };
    listeners.push(listener);
  });
}

// In the page: helpers every probe below starts with. ready(n) waits until the page has
// drawn its n-th scope (its lists and table), settle() until a control's work is done.
const helpers = `
  const tick = (ms) => new Promise((resolve) => setTimeout(resolve, ms || 30));
  const until = async (test, ms) => {
    const end = performance.now() + (ms || 60000);
    while (!test()) { if (performance.now() > end) throw new Error('waited in vain for ' + test); await tick(10); }
  };
  const ready = () => Number(document.body.dataset.ready || 0);
  const tableDone = () => !document.getElementById('firm-table').classList.contains('loading');
  const body = document.getElementById('firm-body');
  const rows = () => body ? body.querySelectorAll('tr:not(.empty)').length : 0;
  const shown = () => document.getElementById('firm-shown');
  const settle = async () => { await tick(20); await until(() => !document.querySelector('table.loading')); };
  const setSelect = (select, value) => { select.value = value; select.dispatchEvent(new Event('change', { bubbles: true })); };
  // Runs an action that updates the firm table and waits until the table shows its result.
  const updateTable = async (action) => {
    const asked = Number(shown().dataset.asked || 0);
    action();
    await until(() => Number(shown().dataset.asked) > asked && shown().dataset.done === shown().dataset.asked);
    await settle();
  };
  const search = async (term) => {
    const input = document.getElementById('firm-search'), asked = Number(shown().dataset.asked || 0);
    const started = performance.now();
    input.value = term;
    input.dispatchEvent(new KeyboardEvent('keydown', { key: 'Enter', bubbles: true }));
    await until(() => Number(shown().dataset.asked) > asked && shown().dataset.done === shown().dataset.asked, 60000);
    const ms = performance.now() - started;
    await settle();
    return ms;
  };
`;

// Runs in the page: the table, a search for part of a title shown in it, a search that
// matches nothing, the segment filter, and what the page holds in its other sections.
const probe = `(async () => {
  ${helpers}
  await until(() => ready() >= 1);
  await settle();
  const report = { title: document.title, rowsBefore: rows(), images: document.images.length,
    firms: JSON.parse(document.getElementById('vrd-data').textContent).firma };
  report.shownText = shown() ? shown().textContent : '';
  const firstTitle = body && body.querySelector('td.unvan .clamp');
  const term = firstTitle ? firstTitle.textContent.split(' ')[0] : '';
  report.searchTerm = term;
  if (body) {
    report.searchMs = await search(term);
    report.rowsAfterSearch = rows();
    const fold = (t) => t.toLocaleLowerCase('tr-TR');
    report.allRowsMatch = Array.from(body.querySelectorAll('tr:not(.empty) td.unvan .clamp:first-child'))
      .every((cell) => fold(cell.textContent).split(/\\s+/).some((w) => w.startsWith(fold(term))));
    await search('qqq-yok-böyle-firma');
    report.rowsNoMatch = rows();
    await search('');
    report.rowsCleared = rows();
    const title = document.querySelector('#firm-head th.unvan');
    report.titleWidth = title ? Math.round(title.getBoundingClientRect().width) : 0;
  }
  const segment = document.getElementById('firm-segment');
  if (segment && segment.options.length > 1) {
    await updateTable(() => setSelect(segment, segment.options[1].value));
    const column = Array.from(document.querySelectorAll('#firm-head th')).findIndex((th) => th.textContent.startsWith('Segment'));
    report.segmentFilter = { value: segment.options[1].textContent, rows: rows(), allMatch: Array.from(body.querySelectorAll('tr:not(.empty)'))
      .every((tr) => tr.children[column].textContent === segment.options[1].textContent) };
    await updateTable(() => setSelect(segment, ''));
  }
  report.sections = {};
  document.querySelectorAll('section[id]').forEach((section) => {
    report.sections[section.id] = section.querySelectorAll('tr, rect, path').length;
  });
  report.titled = Array.from(document.querySelectorAll('td[title], th[title]')).slice(0, 500).map((cell) => ({
    title: cell.getAttribute('title'), text: cell.textContent, background: getComputedStyle(cell).backgroundColor }));
  report.text = document.body.innerText;
  return report;
})()`;

// Runs in the page after the screenshot: presses every tab, picks every flow segment,
// sorts by every column of the firm table (the first one both ways), turns pages and
// picks a watch-list row. A handler that fails shows up as an uncaught exception.
const exercise = `(async () => {
  ${helpers}
  let presses = 0;
  for (const button of document.querySelectorAll('.tabs button')) { button.click(); presses++; await tick(5); }
  const segment = document.getElementById('flow-segment');
  for (const option of Array.from(segment ? segment.options : [])) { setSelect(segment, option.value); presses++; }
  const heads = Array.from(document.querySelectorAll('th.sortable'));
  for (const th of heads.concat(heads.slice(0, 1))) { th.click(); await settle(); presses++; }
  for (const pager of document.querySelectorAll('.pager')) {
    const button = pager.querySelector('button:not([disabled])');
    if (button) { button.click(); presses++; await settle(); }
  }
  const pick = document.querySelector('#watch-lists tr.pick');
  let picked = null;
  if (pick) {
    picked = pick.querySelector('.name').title.split(' · ')[0];
    pick.click();
    presses++;
    await until(() => document.getElementById('firma-panel').dataset.state !== 'loading');
  }
  const panel = document.getElementById('firma-panel');
  const report = { presses, picked, panelOpen: !!panel && !panel.hidden && panel.dataset.state === 'open', address: location.hash };
  document.dispatchEvent(new KeyboardEvent('keydown', { key: 'Escape' }));
  await tick();
  report.panelClosed = !!panel && panel.hidden;
  report.addressAfterClose = location.hash;
  return report;
})()`;

// Runs in the page: the CSV downloads of the filtered firm table and of a watch list
// (their text caught where the page hands it to the browser), read back as records.
const downloads = `(async () => {
  ${helpers}
  let blob = null;
  const create = URL.createObjectURL;
  URL.createObjectURL = (b) => { blob = b; return create.call(URL, b); };
  const read = async (button) => {
    blob = null;
    button.click();
    await until(() => blob !== null);
    const bytes = new Uint8Array(await blob.arrayBuffer());
    const text = new TextDecoder('utf-8', { ignoreBOM: true }).decode(bytes);
    const records = [];
    let record = [], field = '', quoted = false;
    const body = text.replace(/^\\uFEFF/, '');
    for (let i = 0; i < body.length; i++) {
      const c = body[i];
      if (quoted) { if (c === '"' && body[i + 1] === '"') { field += '"'; i++; } else if (c === '"') quoted = false; else field += c; }
      else if (c === '"') quoted = true;
      else if (c === ';') { record.push(field); field = ''; }
      else if (c === '\\r' && body[i + 1] === '\\n') { record.push(field); records.push(record); record = []; field = ''; i++; }
      else field += c;
    }
    const risky = records.slice(1).flat().filter((f) => /^[=+\\-@\\t\\r]/.test(f) && !/^[+-]?\\d+(?:[.,]\\d+)?$/.test(f));
    return { bom: bytes[0] === 0xef && bytes[1] === 0xbb && bytes[2] === 0xbf, header: records[0], rows: records.length - 1,
      widths: Array.from(new Set(records.map((r) => r.length))), risky: risky.length,
      neutralised: records.slice(1).flat().filter((f) => f.startsWith("'")) };
  };
  const segment = document.getElementById('firm-segment');
  const report = {};
  if (segment && segment.options.length > 1) await updateTable(() => setSelect(segment, segment.options[1].value));
  report.tableCount = Number(shown().dataset.count);
  report.table = await read(document.querySelector('#firm-controls button.csv'));
  await updateTable(() => setSelect(segment, ''));
  report.allFirms = await read(document.querySelector('#firm-controls button.csv'));
  const card = document.querySelector('#watch-lists .watch');
  if (card) { report.listCount = Number(card.dataset.count); report.list = await read(card.querySelector('button.csv')); }
  URL.createObjectURL = create;
  return report;
})()`;

// Runs in the page under print media: the lists print the page in view, the firm table
// stays on the screen, and nothing is cut off or left in a scroll box.
const printed = `(async () => {
  const frame = () => new Promise((resolve) => requestAnimationFrame(() => resolve()));
  await frame();
  await frame();
  const cards = Array.from(document.querySelectorAll('#watch-lists .watch'));
  const lists = cards.map((c) => ({ flag: c.dataset.flag, count: Number(c.dataset.count),
    shown: c.querySelectorAll('tbody tr:not(.empty)').length }));
  const boxes = [], clipped = [];
  document.querySelectorAll('main *').forEach((node) => {
    const style = getComputedStyle(node);
    if (style.display === 'none' || node.closest('#firmalar')) return;
    if (/(auto|scroll)/.test(style.overflowY) && node.scrollHeight > node.clientHeight + 1) boxes.push(node.id || node.className);
    if (/(auto|scroll|hidden)/.test(style.overflowX) && node.scrollWidth > node.clientWidth + 1) clipped.push(node.id || node.className || node.tagName);
  });
  return { printMedia: matchMedia('print').matches, lists, tableShown: getComputedStyle(document.getElementById('firmalar')).display !== 'none',
    pagers: Array.from(document.querySelectorAll('.pager')).filter((p) => getComputedStyle(p).display !== 'none').length,
    scrollBoxes: boxes.slice(0, 5), clipped: clipped.slice(0, 5) };
})()`;

// Runs in the page opened from a "#firma=MUTA" link: what the firm panel shows.
const panelProbe = `(async () => {
  ${helpers}
  const panel = document.getElementById('firma-panel');
  await until(() => panel.dataset.state && panel.dataset.state !== 'loading');
  const data = JSON.parse(document.getElementById('vrd-data').textContent);
  const heads = Array.from(panel.querySelectorAll('.history thead th')).map((th) => th.textContent);
  const scores = Array.from(panel.querySelectorAll('.history tbody tr')).map((tr) => tr.children[1].textContent);
  const lists = Array.from(panel.querySelectorAll('.history tbody tr')).map((tr) => tr.lastChild.textContent);
  const admin = document.getElementById('modeller');
  const cellNumbers = (selector) => Array.from(document.querySelectorAll(selector)).filter((td) => /\\d/.test(td.textContent)).length;
  return { open: !panel.hidden && panel.dataset.state === 'open', title: (panel.querySelector('h2') || {}).textContent,
    text: panel.innerText, periods: (data.meta.donemler || []).length, heads, scores, lists,
    charts: panel.querySelectorAll('.panel-part svg').length, address: (panel.querySelector('.link input') || {}).value,
    models: admin ? { auc: cellNumbers('#modeller td.auc'), gini: cellNumbers('#modeller td.gini'), psi: cellNumbers('#modeller td.psi'),
      calibration: document.querySelectorAll('#kalibrasyon tbody tr:not(.empty)').length,
      migration: cellNumbers('#gocler td.rate'), missing: Array.from(admin.querySelectorAll(':scope > p.missing')).map((p) => p.textContent) } : null };
})()`;

// Runs in the page: pages the shortest non-empty watch list from its first page to its
// last with "Sonraki", reading every firm's key on the way.
const pageList = `(async () => {
  ${helpers}
  const cards = Array.from(document.querySelectorAll('#watch-lists .watch')).filter((c) => Number(c.dataset.count) > 0);
  if (!cards.length) return null;
  const card = cards.reduce((a, b) => (Number(b.dataset.count) < Number(a.dataset.count) ? b : a));
  const first = card.querySelector('.pager button[title="İlk sayfa"]');
  if (first && !first.disabled) { first.click(); await settle(); }
  const keys = [];
  let pages = 0;
  const started = performance.now();
  for (;;) {
    pages++;
    card.querySelectorAll('tbody tr:not(.empty) .name').forEach((name) => keys.push(name.title.split(' · ')[0]));
    const next = card.querySelector('.pager button[title="Sonraki sayfa"]');
    if (!next || next.disabled) break;
    next.click();
    await settle();
  }
  return { flag: card.dataset.flag, index: Number(card.dataset.index), count: Number(card.dataset.count), pages, keys,
    unique: new Set(keys).size, ms: Math.round(performance.now() - started) };
})()`;

// Runs in the administrator edition: what its model validation shows for each model (the
// AUC's interval, the traffic lights, the event definition, the model in the inventory),
// the backtest tables' number format, raw table or column names, and whether the
// calibration chart's axis label clears its tick labels.
const validationProbe = `(() => {
  const section = document.getElementById('dogrulama');
  if (!section) return null;
  const inventory = document.getElementById('envanter');
  const models = {};
  section.querySelectorAll('.validation-model').forEach((block) => {
    const intervals = Array.from(block.querySelectorAll('td.interval')).filter((td) => /\\[\\d,\\d+–\\d,\\d+\\]/.test(td.textContent));
    const name = block.querySelector('h4').textContent.split(' · ')[0];
    models[block.id.replace('dogrulama-', '')] = {
      name, intervals: intervals.length, lights: block.querySelectorAll('.light').length,
      eventDefinition: (block.querySelector('.event-definition') || {}).textContent || '',
      greyed: block.querySelectorAll('tr.few').length,
      inInventory: !!inventory && inventory.textContent.includes(name),
    };
  });
  const champion = inventory ? inventory.querySelector('tr.champion td') : null;
  const backtestCells = Array.from(document.querySelectorAll('#backtest .kpi td')).map((td) => td.textContent);
  const admin = document.getElementById('admin').innerText;
  const box = (node) => node.getBoundingClientRect();
  const chart = document.querySelector('#kalibrasyon svg.square');
  let overlap = null;
  if (chart) {
    const texts = Array.from(chart.querySelectorAll('text'));
    const label = texts.find((t) => t.getAttribute('transform'));
    const ticks = texts.filter((t) => t !== label && t.getAttribute('text-anchor') === 'end');
    overlap = ticks.some((t) => { const a = box(t), b = box(label); return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom; });
  }
  return { models, champion: champion ? champion.textContent : null,
    comparison: (inventory && inventory.querySelector('.comparison') || {}).textContent || '',
    ungrouped: backtestCells.filter((t) => /^\\d{4,}$/.test(t) && !/^20\\d\\d(0[1-9]|1[0-2])$/.test(t)),
    pointDecimals: backtestCells.filter((t) => /^0\\.\\d+$|^\\d+\\.(\\d{1,2}|\\d{4,})$/.test(t)),
    rawNames: (admin.match(/\\b(raw_[a-z_]+|backtest_ml_tahmin|[a-z]+_[a-z]+\\.[a-z_]+)\\b/g) || []).slice(0, 5),
    pooled: document.querySelectorAll('#backtest .pooled-auc').length,
    thresholds: Array.from(document.querySelectorAll('#backtest .threshold')).map((p) => p.textContent),
    horizons: document.querySelectorAll('#backtest-ufuklar tbody tr').length, calibrationLabelOverlaps: overlap };
})()`;

async function checkValidation(sessionId, name, problems) {
  const validation = await evaluate(sessionId, validationProbe, problems, 'validation');
  if (validation) validation.shot = await shoot(sessionId, '#dogrulama', path.join(outDir, name + '-dogrulama.png'));
  return validation;
}

// Runs in the page: searches for a firm key, and reports whether the table found it.
const findFirm = (muta) => `(async () => {
  ${helpers}
  await until(() => ready() >= 1);
  const ms = await search(${JSON.stringify(muta)});
  const keys = Array.from(body.querySelectorAll('tr:not(.empty) td.muta')).map((td) => td.textContent);
  const result = { ms: Math.round(ms), rows: rows(), found: keys.includes(${JSON.stringify(muta)}) };
  const row = Array.from(body.querySelectorAll('tr.pick')).find((tr) => tr.querySelector('td.muta').textContent === ${JSON.stringify(muta)});
  if (row) {
    row.click();
    await until(() => document.getElementById('firma-panel').dataset.state === 'open');
    result.address = location.hash;
  }
  await search('');
  return result;
})()`;

// Runs in the page: applies the region filter `code` and reads the figures and the list
// `index` of the filtered page (all its pages).
const filterRegion = (code, index) => `(async () => {
  ${helpers}
  await until(() => ready() >= 1);
  await settle();
  const before = ready();
  setSelect(document.getElementById('filter-bolge'), ${JSON.stringify(code)});
  await until(() => ready() > before);
  await settle();
  const facts = {};
  document.querySelectorAll('#facts .fact').forEach((f) => { facts[f.querySelector('.label').textContent] = f.querySelector('.value').textContent; });
  const card = document.querySelector('#watch-lists .watch[data-index="${index}"]');
  const keys = [];
  for (;;) {
    card.querySelectorAll('tbody tr:not(.empty) .name').forEach((name) => keys.push(name.title.split(' · ')[0]));
    const next = card.querySelector('.pager button[title="Sonraki sayfa"]');
    if (!next || next.disabled) break;
    next.click();
    await settle();
  }
  const regionColumn = Array.from(document.querySelectorAll('#firm-head th')).findIndex((th) => th.textContent.startsWith('Şube'));
  const tableRegions = Array.from(body.querySelectorAll('tr:not(.empty)')).map((tr) => tr.children[regionColumn].lastChild.textContent);
  return { address: location.hash, facts, listCount: Number(card.dataset.count), keys, tableCount: Number(shown().dataset.count),
    tableRegions: Array.from(new Set(tableRegions)), summary: document.getElementById('filter-summary').textContent,
    bandBars: document.querySelectorAll('#band-chart rect').length };
})()`;

// The data a page embeds.
function pageData(page) {
  const html = fs.readFileSync(page, 'utf8');
  const at = html.indexOf('id="vrd-data"');
  return JSON.parse(html.slice(html.indexOf('>', at) + 1, html.indexOf('</script>', at)));
}

// The records of a firm data file of a page, read from the disk as the page would:
// vrdVeri("name",<JSON>);
function readRecords(page, name) {
  const script = fs.readFileSync(path.join(path.dirname(page), pageData(page).veri.klasor, name + '.js'), 'utf8');
  const prefix = 'vrdVeri(' + JSON.stringify(name) + ',';
  if (!script.startsWith(prefix) || !script.endsWith(');\n')) throw new Error('not a data file: ' + name);
  return JSON.parse(script.slice(prefix.length, -3));
}

// Whether a firm record has a score in every period (its scores packed two digits each,
// 4095 standing for none; see pipeline/firm_records.h).
function scoredThroughout(scores) {
  if (Array.isArray(scores)) return scores.every((score) => score !== null);
  for (let i = 0; i < scores.length; i += 2) if (scores.slice(i, i + 2) === '__') return false;
  return true;
}

// The firm a link is opened on: the first with a score in every period that is on a
// watch list now, preferably with the model's drivers (the fuller panel to look at).
function linkedFirm(page) {
  const files = pageData(page).veri;
  const at = (name) => files.alanlar.indexOf(name);
  const drivers = files.panel_alanlari.indexOf('etkenler');
  let found = null;
  for (let f = 0; f < files.firma_dosyasi; f++) {
    const records = readRecords(page, 'f-' + f), panelParts = readRecords(page, 'g-' + f);
    for (const [i, r] of records.entries()) {
      if (!r[at('nedenler')] || !scoredThroughout(r[at('vrd')])) continue;
      if (panelParts[i][drivers]) return String(r[at('muta')]);
      if (!found) found = String(r[at('muta')]);
    }
  }
  return found;
}

// A screenshot of one element; a fixed one (the firm panel) is shot in a viewport tall
// enough for all of its content.
async function shoot(sessionId, selector, file) {
  const box = await send('Runtime.evaluate', { returnByValue: true, expression: `(() => { const n = document.querySelector(${JSON.stringify(selector)});
    if (!n || n.hidden) return null; const r = n.getBoundingClientRect(); const fixed = getComputedStyle(n).position === 'fixed';
    return { fixed, x: r.left + (fixed ? 0 : scrollX), y: r.top + (fixed ? 0 : scrollY), width: r.width,
      height: Math.max(n.scrollHeight, r.height) }; })()` }, sessionId);
  const v = box.result.value;
  if (!v) return null;
  const height = Math.min(v.height, 4000);
  if (v.fixed) await send('Emulation.setDeviceMetricsOverride', { ...viewport, height: Math.max(viewport.height, Math.ceil(height)) }, sessionId);
  const part = await send('Page.captureScreenshot', {
    format: 'png', captureBeyondViewport: !v.fixed, clip: { x: v.x, y: v.y, width: v.width, height, scale: 1 },
  }, sessionId);
  if (v.fixed) await send('Emulation.setDeviceMetricsOverride', viewport, sessionId);
  fs.writeFileSync(file, Buffer.from(part.data, 'base64'));
  return file;
}

async function evaluate(sessionId, expression, problems, what) {
  const result = await send('Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true }, sessionId);
  const failure = result.exceptionDetails;
  if (failure) problems.push(what + ': ' + ((failure.exception || {}).description || failure.text));
  return result.result.value;
}

// The number of pages of a printout of the page as it stands (with `bodyClass` set).
async function printedPages(sessionId, bodyClass) {
  if (bodyClass) await send('Runtime.evaluate', { expression: `document.body.classList.add(${JSON.stringify(bodyClass)})` }, sessionId);
  const pdf = await send('Page.printToPDF', { landscape: true, preferCSSPageSize: true }, sessionId);
  if (bodyClass) await send('Runtime.evaluate', { expression: `document.body.classList.remove(${JSON.stringify(bodyClass)})` }, sessionId);
  const bytes = Buffer.from(pdf.data, 'base64');
  return { pages: (bytes.toString('latin1').match(/\/Type\s*\/Page[^s]/g) || []).length, bytes: bytes.length };
}

const viewport = { width: 1400, height: 1000, deviceScaleFactor: 1, mobile: false };

async function open(sessionId, url) {
  const blank = nextEvent('Page.loadEventFired', sessionId);
  await send('Page.navigate', { url: 'about:blank' }, sessionId);
  await blank;
  const loaded = nextEvent('Page.loadEventFired', sessionId);
  const started = Date.now();
  await send('Page.navigate', { url }, sessionId);
  await loaded;
  return started;
}

// The checks of one firm from the last data file of a dashboard (see the head comment).
async function scaleChecks(sessionId, page, problems, shotName) {
  const url = 'file://' + path.resolve(page);
  const files = pageData(page).veri;
  const lastFile = files.firma_dosyasi - 1;
  const records = readRecords(page, 'f-' + lastFile);
  const firm = records[records.length - 1];
  const muta = String(firm[files.alanlar.indexOf('muta')]);
  const report = { firmFiles: files.firma_dosyasi, lastFile, muta };

  const started = await open(sessionId, url);
  await evaluate(sessionId, `(async () => { ${helpers} await until(() => ready() >= 1); })()`, problems, 'open');
  report.openMs = Date.now() - started;
  report.search = await evaluate(sessionId, findFirm(muta), problems, 'search');

  await open(sessionId, url + '#firma=' + encodeURIComponent(muta));
  report.link = await evaluate(sessionId, panelProbe, problems, 'firm link');
  delete report.link.text;
  report.link.shot = await shoot(sessionId, '#firma-panel', path.join(outDir, shotName + '-son-firma.png'));
  await send('Runtime.evaluate', { expression: 'window.print = () => { window.printed = (window.printed || 0) + 1; }' }, sessionId);
  await evaluate(sessionId, `document.querySelector('#firma-panel button.print').click()`, problems, 'print firm');
  report.printFirm = await printedPages(sessionId, 'print-firm');
  report.printFirm.asked = (await send('Runtime.evaluate', { expression: 'window.printed || 0', returnByValue: true }, sessionId)).result.value;

  await evaluate(sessionId, `(async () => { ${helpers} await until(() => ready() >= 1); await settle(); })()`, problems, 'settle');
  report.list = await evaluate(sessionId, pageList, problems, 'page a list');
  return report;
}

// A region filter on the page, its firm count and one list set against the JSON files.
async function regionChecks(sessionId, page, problems, facts) {
  const data = pageData(page);
  const codes = data.veri.bolge_kodlari || [];
  if (!codes.length || !facts) return null;
  const code = codes[Math.floor(codes.length / 2)];
  await open(sessionId, 'file://' + path.resolve(page));
  const index = 0;  // fastest rising: the longest list
  const shown = await evaluate(sessionId, filterRegion(code, index), problems, 'region filter');
  const inEdition = new Set();
  for (let f = 0; f < data.veri.firma_dosyasi; f++) {
    readRecords(page, 'f-' + f).forEach((r) => inEdition.add(String(r[data.veri.alanlar.indexOf('muta')])));
  }
  const key = Object.keys(facts.lists)[index];
  const expected = facts.lists[key].filter((m) => facts.region[m] === code && inEdition.has(m));
  const firms = Object.keys(facts.region).filter((m) => facts.region[m] === code && inEdition.has(m)).length;
  return { code, name: data.bolgeler[code], address: shown.address, summary: shown.summary, bandBars: shown.bandBars,
    figure: { page: shown.facts.Firma, json: firms }, tableCount: shown.tableCount, tableRegions: shown.tableRegions,
    list: { key, count: shown.listCount, pageKeys: shown.keys.length, jsonKeys: expected.length,
      jsonCapped: facts.lists[key].length >= data.kurallar.liste_siniri,
      prefixMatches: JSON.stringify(shown.keys.slice(0, expected.length)) === JSON.stringify(expected) } };
}

async function check(sessionId, page, facts) {
  const problems = [];
  const phases = {};
  let phaseStart = Date.now();
  const lap = (name) => { phases[name] = Date.now() - phaseStart; phaseStart = Date.now(); };
  const onProblem = (message) => {
    if (message.sessionId !== sessionId) return;
    const p = message.params;
    if (message.method === 'Runtime.exceptionThrown') {
      problems.push('exception: ' + ((p.exceptionDetails.exception || {}).description || p.exceptionDetails.text));
    } else if (message.method === 'Runtime.consoleAPICalled' && (p.type === 'error' || p.type === 'assert')) {
      problems.push('console.' + p.type + ': ' + p.args.map((a) => a.value || a.description).join(' '));
    } else if (message.method === 'Log.entryAdded' && p.entry.level === 'error') {
      problems.push('log: ' + p.entry.text + (p.entry.url ? ' (' + p.entry.url + ')' : ''));
    } else if (message.method === 'Page.javascriptDialogOpening') {
      problems.push('dialog: ' + p.message);
      send('Page.handleJavaScriptDialog', { accept: true }, sessionId);
    }
  };
  listeners.push(onProblem);
  const url = 'file://' + path.resolve(page);
  const name = path.basename(page, '.html');
  const started = await open(sessionId, url);
  const dashboardPage = (await send('Runtime.evaluate', { expression: "!!document.querySelector('#firm-body')",
                                                         returnByValue: true }, sessionId)).result.value;
  const result = await send('Runtime.evaluate', { expression: dashboardPage ? probe : `({ title: document.title,
    images: document.images.length, text: document.body.innerText, sections: Object.fromEntries(Array.from(
    document.querySelectorAll('section[id]')).map((s) => [s.id, s.querySelectorAll('tr, rect, path').length])),
    titled: Array.from(document.querySelectorAll('td[title], th[title]')).map((cell) => ({ title: cell.getAttribute('title'),
    text: cell.textContent, background: getComputedStyle(cell).backgroundColor })) })`, awaitPromise: true, returnByValue: true }, sessionId);
  if (result.exceptionDetails) problems.push('probe: ' + ((result.exceptionDetails.exception || {}).description || result.exceptionDetails.text));
  const report = Object.assign({ page: path.basename(page), openMs: Date.now() - started }, result.result.value || {});
  const metrics = await send('Page.getLayoutMetrics', {}, sessionId);
  const height = Math.min(Math.ceil(metrics.cssContentSize.height), 9000);
  const shot = await send('Page.captureScreenshot', {
    format: 'png', captureBeyondViewport: true, clip: { x: 0, y: 0, width: viewport.width, height, scale: 1 },
  }, sessionId);
  report.screenshot = path.join(outDir, name + '.png');
  fs.writeFileSync(report.screenshot, Buffer.from(shot.data, 'base64'));
  if (options.sections) {
    const boxes = await send('Runtime.evaluate', { returnByValue: true, expression: `Array.from(
      document.querySelectorAll('section[id]')).map((s) => { const r = s.getBoundingClientRect();
      return { id: s.id, x: r.left + scrollX, y: r.top + scrollY, width: r.width, height: r.height }; })` }, sessionId);
    for (const box of boxes.result.value) {
      const part = await send('Page.captureScreenshot', {
        format: 'png', captureBeyondViewport: true,
        clip: { x: box.x, y: box.y, width: box.width, height: Math.min(box.height, 3000), scale: 1 },
      }, sessionId);
      fs.writeFileSync(path.join(outDir, name + '-' + box.id + '.png'), Buffer.from(part.data, 'base64'));
    }
  }
  report.modelShot = await shoot(sessionId, '#modeller', path.join(outDir, name + '-modeller.png'));
  lap('probe');
  report.validation = await checkValidation(sessionId, name, problems);
  if (!options.scale) report.exercise = (await evaluate(sessionId, exercise, problems, 'exercise')) || {};
  lap('exercise');
  if (!dashboardPage) {
    listeners.splice(listeners.indexOf(onProblem), 1);
    report.problems = problems;
    return report;
  }
  if (!options.scale) report.downloads = (await evaluate(sessionId, downloads, problems, 'downloads')) || {};
  lap('downloads');
  await send('Emulation.setEmulatedMedia', { media: 'print' }, sessionId);
  report.print = (await evaluate(sessionId, printed, problems, 'print')) || {};
  await send('Emulation.setEmulatedMedia', { media: '' }, sessionId);
  report.print.pdf = await printedPages(sessionId, null);
  lap('print');

  const muta = linkedFirm(page);
  if (muta) {
    await open(sessionId, url + '#firma=' + encodeURIComponent(muta));
    report.link = Object.assign({ muta }, await evaluate(sessionId, panelProbe, problems, 'panel'));
    report.link.shot = await shoot(sessionId, '#firma-panel', path.join(outDir, name + '-firma.png'));
  }
  lap('link');
  if (report.rowsBefore > 0) {
    report.scale = await scaleChecks(sessionId, page, problems, name);
    lap('scale');
    report.region = await regionChecks(sessionId, page, problems, facts);
    lap('region');
  }
  report.phases = phases;
  listeners.splice(listeners.indexOf(onProblem), 1);
  report.problems = problems;
  return report;
}

(async () => {
  fs.mkdirSync(outDir, { recursive: true });
  const facts = options.json ? await jsonFacts(options.json) : null;
  const { targetId } = await send('Target.createTarget', { url: 'about:blank' });
  const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
  for (const domain of ['Page', 'Runtime', 'Log']) await send(domain + '.enable', {}, sessionId);
  await send('Emulation.setDeviceMetricsOverride', viewport, sessionId);
  const reports = [];
  for (const page of pages) reports.push(await check(sessionId, page, facts));
  clearTimeout(deadline);
  browser.removeAllListeners('exit');
  // Exit only once the report has reached the pipe: an early exit cuts it short.
  process.stdout.write(JSON.stringify(reports, null, 1) + '\n', () => finish(0));
})().catch((error) => finish(1, 'dashboard_check: ' + error.message));
