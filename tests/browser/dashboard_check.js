// Opens dashboard pages (and the runs page) in headless Chromium and reports what a reader
// would meet there: console errors and uncaught exceptions, dialogs (an injected script
// would open one), the filled firm table, the result of a search and a filter, the table
// cells that explain themselves on hover, a full-page screenshot, and whether every
// control can be used without a failure.
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
const deadline = setTimeout(() => finish(1, 'dashboard_check: timed out'), 25000);
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
  if (pick) { pick.click(); presses++; await tick(); }
  return { presses, rowsAfterPick: document.querySelectorAll('#firm-body tr:not(.empty)').length };
})()`;

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
  const exercised = await send('Runtime.evaluate', { expression: exercise, awaitPromise: true, returnByValue: true }, sessionId);
  if (exercised.exceptionDetails) problems.push('exercise: ' + exercised.exceptionDetails.text);
  report.exercise = exercised.result.value || {};
  listeners.splice(listeners.indexOf(onProblem), 1);
  report.problems = problems;
  return report;
}

(async () => {
  fs.mkdirSync(outDir, { recursive: true });
  const { targetId } = await send('Target.createTarget', { url: 'about:blank' });
  const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
  for (const domain of ['Page', 'Runtime', 'Log']) await send(domain + '.enable', {}, sessionId);
  await send('Emulation.setDeviceMetricsOverride', { width: 1440, height: 1000, deviceScaleFactor: 1, mobile: false }, sessionId);
  const reports = [];
  for (const page of pages) reports.push(await check(sessionId, page));
  clearTimeout(deadline);
  browser.removeAllListeners('exit');
  // Exit only once the report has reached the pipe: an early exit cuts it short.
  process.stdout.write(JSON.stringify(reports, null, 1) + '\n', () => finish(0));
})().catch((error) => finish(1, 'dashboard_check: ' + error.message));
