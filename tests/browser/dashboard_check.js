// Opens dashboard pages (and the runs page) in headless Chromium and reports what a reader
// would meet there: console errors and uncaught exceptions, dialogs (an injected script
// would open one), the filled firm table, the result of a search and a filter, the table
// cells that explain themselves on hover, a full-page screenshot, whether every control
// can be used without a failure, what the CSV downloads hold, what print media shows, and
// the firm panel a "#firma=MUTA" link opens (with a screenshot of it, and of the model
// measures where the page has them).
//
// usage: node dashboard_check.js [--sections] CHROMIUM OUT_DIR PAGE.html...
// With --sections, every section with an id also gets a screenshot of its own.
// Prints one JSON report (a list, one entry per page) on standard output; exits 1 with
// a message on standard error when the browser cannot be driven.
//
// Chromium is driven through the DevTools protocol over --remote-debugging-pipe: the
// browser reads NUL-terminated JSON messages on file descriptor 3 and writes its own on
// descriptor 4. No port, no WebSocket client and no package beyond Node itself.

'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const args = process.argv.slice(2);
const sectionShots = args[0] === '--sections';
const [chromium, outDir, ...pages] = sectionShots ? args.slice(1) : args;
if (!chromium || !outDir || pages.length === 0) {
  process.stderr.write('usage: node dashboard_check.js CHROMIUM OUT_DIR PAGE.html...\n');
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
const deadline = setTimeout(() => finish(1, 'dashboard_check: timed out'), 300000);
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

// Runs in the page: the table, a search for part of a title shown in it, a search that
// matches nothing, the segment filter, and what the page holds in its other sections.
const probe = `(async () => {
  const tick = () => new Promise((resolve) => setTimeout(resolve, 50));
  const body = document.getElementById('firm-body');
  const search = document.getElementById('firm-search');
  const rows = () => body ? body.querySelectorAll('tr:not(.empty)').length : 0;
  const report = { title: document.title, rowsBefore: rows(), images: document.images.length };
  report.shownText = (document.getElementById('firm-shown') || {}).textContent || '';
  const firstTitle = body && body.querySelector('td.unvan');
  const term = firstTitle ? firstTitle.textContent.split(' ')[0] : '';
  report.searchTerm = term;
  if (search) {
    search.value = term;
    search.dispatchEvent(new Event('input', { bubbles: true }));
    await tick();
    report.rowsAfterSearch = rows();
    report.shownAfterSearch = (document.getElementById('firm-shown') || {}).textContent || '';
    report.allRowsMatch = Array.from(body.querySelectorAll('tr:not(.empty)')).every(
      (tr) => tr.textContent.toLocaleLowerCase('tr-TR').includes(term.toLocaleLowerCase('tr-TR')));
    search.value = 'qqq-yok-böyle-firma';
    search.dispatchEvent(new Event('input', { bubbles: true }));
    await tick();
    report.rowsNoMatch = rows();
    search.value = '';
    search.dispatchEvent(new Event('input', { bubbles: true }));
    await tick();
    report.rowsCleared = rows();
  }
  const segment = document.getElementById('firm-segment');
  if (segment && segment.options.length > 1) {
    segment.value = segment.options[1].value;
    segment.dispatchEvent(new Event('change', { bubbles: true }));
    await tick();
    const column = Array.from(document.querySelectorAll('#firm-head th')).findIndex((th) => th.textContent === 'Segment');
    report.segmentFilter = { value: segment.value, rows: rows(), allMatch: Array.from(body.querySelectorAll('tr:not(.empty)'))
      .every((tr) => tr.children[column].textContent === segment.value) };
    segment.value = '';
    segment.dispatchEvent(new Event('change', { bubbles: true }));
    await tick();
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
// sorts by every column of the firm table, turns its page and picks a watch-list row.
// A handler that fails shows up as an uncaught exception.
const exercise = `(async () => {
  const tick = () => new Promise((resolve) => setTimeout(resolve, 20));
  let presses = 0;
  for (const button of document.querySelectorAll('.tabs button')) { button.click(); presses++; await tick(); }
  const segment = document.getElementById('flow-segment');
  for (const option of Array.from(segment ? segment.options : [])) {
    segment.value = option.value;
    segment.dispatchEvent(new Event('change', { bubbles: true }));
    presses++;
  }
  for (const th of document.querySelectorAll('th.sortable')) { th.click(); th.click(); presses += 2; }
  for (const button of document.querySelectorAll('.pager button:not([disabled])')) { button.click(); presses++; }
  const pick = document.querySelector('#watch-lists tr.pick');
  let picked = null;
  if (pick) { picked = pick.querySelector('.name').title.split(' · ')[0]; pick.click(); presses++; await tick(); }
  const panel = document.getElementById('firma-panel');
  const report = { presses, picked, panelOpen: !!panel && !panel.hidden, address: location.hash };
  document.dispatchEvent(new KeyboardEvent('keydown', { key: 'Escape' }));
  await tick();
  report.panelClosed = !!panel && panel.hidden;
  return report;
})()`;

// Runs in the page: the CSV downloads of the filtered firm table and of a watch list
// (their text caught where the page hands it to the browser), read back as records.
const downloads = `(async () => {
  const tick = () => new Promise((resolve) => setTimeout(resolve, 50));
  let blob = null;
  const create = URL.createObjectURL;
  URL.createObjectURL = (b) => { blob = b; return create.call(URL, b); };
  const read = async (button) => {
    blob = null;
    button.click();
    await tick();
    if (!blob) return null;
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
  if (segment && segment.options.length > 1) {
    segment.value = segment.options[1].value;
    segment.dispatchEvent(new Event('change', { bubbles: true }));
  }
  await tick();
  report.tableCount = Number(document.getElementById('firm-shown').dataset.count);
  report.tableHeads = Array.from(document.querySelectorAll('#firm-head th')).map((th) => th.firstChild.textContent);
  report.table = await read(document.querySelector('#firm-controls button.csv'));
  segment.value = '';
  segment.dispatchEvent(new Event('change', { bubbles: true }));
  report.allFirms = await read(document.querySelector('#firm-controls button.csv'));
  const card = document.querySelector('#watch-lists .watch');
  if (card) { report.listCount = Number(card.dataset.count); report.list = await read(card.querySelector('button.csv')); }
  URL.createObjectURL = create;
  return report;
})()`;

// Runs in the page under print media: every row of the lists and the table is there, and
// nothing is cut off or left in a scroll box.
// The page redraws for print when the media change reaches it, in the next rendering
// update: two animation frames later it has.
const printed = `(async () => {
  const frame = () => new Promise((resolve) => requestAnimationFrame(() => resolve()));
  await frame();
  await frame();
  const cards = Array.from(document.querySelectorAll('#watch-lists .watch'));
  const lists = cards.map((c) => ({ flag: c.dataset.flag, expected: Number(c.dataset.count),
    shown: c.querySelectorAll('tbody tr:not(.empty)').length }));
  const boxes = [], clipped = [];
  document.querySelectorAll('main *').forEach((node) => {
    const style = getComputedStyle(node);
    if (style.display === 'none') return;
    if (/(auto|scroll)/.test(style.overflowY) && node.scrollHeight > node.clientHeight + 1) boxes.push(node.id || node.className);
    if (/(auto|scroll|hidden)/.test(style.overflowX) && node.scrollWidth > node.clientWidth + 1) clipped.push(node.id || node.className || node.tagName);
  });
  return { printMedia: matchMedia('print').matches, lists, tableRows: document.querySelectorAll('#firm-body tr:not(.empty)').length,
    tableCount: Number(document.getElementById('firm-shown').dataset.count),
    pagers: Array.from(document.querySelectorAll('.pager')).filter((p) => getComputedStyle(p).display !== 'none').length,
    scrollBoxes: boxes.slice(0, 5), clipped: clipped.slice(0, 5) };
})()`;

// Runs in the page opened from a "#firma=MUTA" link: what the firm panel shows.
const panelProbe = `(() => {
  const panel = document.getElementById('firma-panel');
  const periods = JSON.parse(document.getElementById('vrd-data').textContent).meta.donemler;
  const scores = Array.from(panel.querySelectorAll('.history tbody tr')).map((tr) => tr.children[1].textContent);
  const admin = document.getElementById('modeller');
  const cellNumbers = (selector) => Array.from(document.querySelectorAll(selector)).filter((td) => /\\d/.test(td.textContent)).length;
  return { open: !panel.hidden, title: (panel.querySelector('h2') || {}).textContent, text: panel.innerText, periods: periods.length,
    scores, address: (panel.querySelector('.link input') || {}).value,
    models: admin ? { auc: cellNumbers('#modeller td.auc'), gini: cellNumbers('#modeller td.gini'), psi: cellNumbers('#modeller td.psi'),
      calibration: document.querySelectorAll('#kalibrasyon tbody tr:not(.empty)').length,
      migration: cellNumbers('#gocler td.rate'), missing: Array.from(admin.querySelectorAll(':scope > p.missing')).map((p) => p.textContent) } : null };
})()`;

// The firm a link is opened on: the first with a score in every period, preferably one
// on a watch list with a model explanation (the fuller panel to look at).
const linkedFirm = `(() => {
  const data = JSON.parse(document.getElementById('vrd-data').textContent);
  const at = (name) => data.columns.indexOf(name);
  const flags = ['_hizli_yukselen', '_rejim_degisimi', '_potansiyel_yi', '_erken_sinyal'].map(at).filter((i) => i >= 0);
  const scored = data.rows.filter((r) => data.meta.donemler.every((p) => typeof r[at('vrd' + p)] === 'number'));
  const rich = scored.find((r) => flags.some((i) => r[i]) && at('_ml_aciklama') >= 0 && r[at('_ml_aciklama')]);
  const firm = rich || scored[0];
  return firm ? String(firm[at('muta')]) : null;
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

const viewport = { width: 1440, height: 1000, deviceScaleFactor: 1, mobile: false };

async function check(sessionId, page) {
  const problems = [];
  const onProblem = (message) => {
    if (message.sessionId !== sessionId) return;
    const p = message.params;
    if (message.method === 'Runtime.exceptionThrown') {
      problems.push('exception: ' + (p.exceptionDetails.exception || {}).description || p.exceptionDetails.text);
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
  const loaded = nextEvent('Page.loadEventFired', sessionId);
  await send('Page.navigate', { url: 'file://' + path.resolve(page) }, sessionId);
  await loaded;
  const result = await send('Runtime.evaluate', { expression: probe, awaitPromise: true, returnByValue: true }, sessionId);
  if (result.exceptionDetails) problems.push('probe: ' + result.exceptionDetails.text);
  const report = Object.assign({ page: path.basename(page) }, result.result.value || {});
  const metrics = await send('Page.getLayoutMetrics', {}, sessionId);
  const height = Math.min(Math.ceil(metrics.cssContentSize.height), 9000);
  const shot = await send('Page.captureScreenshot', {
    format: 'png', captureBeyondViewport: true, clip: { x: 0, y: 0, width: 1440, height, scale: 1 },
  }, sessionId);
  report.screenshot = path.join(outDir, path.basename(page, '.html') + '.png');
  fs.writeFileSync(report.screenshot, Buffer.from(shot.data, 'base64'));
  if (sectionShots) {
    const boxes = await send('Runtime.evaluate', { returnByValue: true, expression: `Array.from(
      document.querySelectorAll('section[id]')).map((s) => { const r = s.getBoundingClientRect();
      return { id: s.id, x: r.left + scrollX, y: r.top + scrollY, width: r.width, height: r.height }; })` }, sessionId);
    for (const box of boxes.result.value) {
      const part = await send('Page.captureScreenshot', {
        format: 'png', captureBeyondViewport: true,
        clip: { x: box.x, y: box.y, width: box.width, height: Math.min(box.height, 3000), scale: 1 },
      }, sessionId);
      fs.writeFileSync(path.join(outDir, path.basename(page, '.html') + '-' + box.id + '.png'), Buffer.from(part.data, 'base64'));
    }
  }
  const name = path.basename(page, '.html');
  report.modelShot = await shoot(sessionId, '#modeller', path.join(outDir, name + '-modeller.png'));
  report.validation = await checkValidation(sessionId, name, problems);
  report.exercise = (await evaluate(sessionId, exercise, problems, 'exercise')) || {};
  // Downloads, print and firm links are the dashboards' own; the runs page has none.
  const dashboard = await send('Runtime.evaluate', { expression: "!!document.querySelector('#firm-body')",
                                                     returnByValue: true }, sessionId);
  if (!dashboard.result.value) {
    listeners.splice(listeners.indexOf(onProblem), 1);
    report.problems = problems;
    return report;
  }
  report.downloads = (await evaluate(sessionId, downloads, problems, 'downloads')) || {};
  await send('Emulation.setEmulatedMedia', { media: 'print' }, sessionId);
  report.print = (await evaluate(sessionId, printed, problems, 'print')) || {};
  await send('Emulation.setEmulatedMedia', { media: '' }, sessionId);

  const muta = await evaluate(sessionId, linkedFirm, problems, 'linked firm');
  if (muta) {
    const blank = nextEvent('Page.loadEventFired', sessionId);
    await send('Page.navigate', { url: 'about:blank' }, sessionId);
    await blank;
    const linked = nextEvent('Page.loadEventFired', sessionId);
    await send('Page.navigate', { url: 'file://' + path.resolve(page) + '#firma=' + muta }, sessionId);
    await linked;
    report.link = Object.assign({ muta }, await evaluate(sessionId, panelProbe, problems, 'panel'));
    report.link.shot = await shoot(sessionId, '#firma-panel', path.join(outDir, name + '-firma.png'));
  }
  listeners.splice(listeners.indexOf(onProblem), 1);
  report.problems = problems;
  return report;
}

(async () => {
  fs.mkdirSync(outDir, { recursive: true });
  const { targetId } = await send('Target.createTarget', { url: 'about:blank' });
  const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
  for (const domain of ['Page', 'Runtime', 'Log']) await send(domain + '.enable', {}, sessionId);
  await send('Emulation.setDeviceMetricsOverride', viewport, sessionId);
  const reports = [];
  for (const page of pages) reports.push(await check(sessionId, page));
  clearTimeout(deadline);
  browser.removeAllListeners('exit');
  // Exit only once the report has reached the pipe: an early exit cuts it short.
  process.stdout.write(JSON.stringify(reports, null, 1) + '\n', () => finish(0));
})().catch((error) => finish(1, 'dashboard_check: ' + error.message));
