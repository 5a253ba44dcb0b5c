// What the dashboard check compares a filtered page with, read from a mart run's JSON
// files: each firm's region (from the scoreboard, read as a stream: at a million firms
// it is larger than a string Node can hold) and the trending lists' firm keys.

'use strict';
const fs = require('fs');
const path = require('path');

// The text form of a JSON scalar as the page shows a code: numbers as written, texts
// without their quotes.
function scalarText(token) {
  if (token === 'null') return '';
  return token.startsWith('"') ? JSON.parse(token) : token;
}

const VALUE = '(-?\\d+(?:\\.\\d+)?(?:[eE][+-]?\\d+)?|"(?:[^"\\\\]|\\\\.)*"|null)';
const ROW = new RegExp('^' + VALUE);
const REGION = new RegExp(',"bolge_kodu":' + VALUE);

async function jsonFacts(dir) {
  const region = {};
  const stream = fs.createReadStream(path.join(dir, 'sample_scoreboard.json'), { encoding: 'utf8', highWaterMark: 1 << 24 });
  let rest = '';
  const marker = '{"muta":';
  const take = (segment) => {
    const muta = ROW.exec(segment);
    if (!muta) return;
    const code = REGION.exec(segment);
    region[scalarText(muta[1])] = code ? scalarText(code[1]) : '';
  };
  for await (const chunk of stream) {
    const text = rest + chunk;
    let at = text.indexOf(marker);
    if (at < 0) { rest = text.slice(-marker.length); continue; }
    for (let next = text.indexOf(marker, at + 1); next >= 0; at = next, next = text.indexOf(marker, at + 1)) {
      take(text.slice(at + marker.length, next));
    }
    rest = text.slice(at);
  }
  const end = rest.indexOf('],"');
  if (rest.startsWith(marker)) take(rest.slice(marker.length, end < 0 ? undefined : end));
  const trending = JSON.parse(fs.readFileSync(path.join(dir, 'sample_trending_lists.json'), 'utf8'));
  const lists = {};
  Object.keys(trending).forEach((key) => { lists[key] = trending[key].map((entry) => String(entry.muta)); });
  return { region, lists };
}

module.exports = { jsonFacts };
