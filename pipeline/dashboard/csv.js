// CSV downloads made in the page, offline: UTF-8 with a byte-order mark and ";" between
// fields, so that Excel set to Turkish opens them as columns with the letters intact.

// A text a spreadsheet would run as a formula starts with one of these; it is written
// with a leading apostrophe unless it is a plain number such as -1250. A spreadsheet set
// to English splits the file at "," instead of ";", so the text after either inside a
// cell is judged the same way, and gets its apostrophe after the delimiter.
var FORMULA_START = /^[=+\-@\t\r]/;
var PLAIN_NUMBER = /^[+-]?\d+(?:[.,]\d+)?$/;
var FORMULA_ANYWHERE = /(^|[,;])[=+\-@\t\r]/;

// True when a spreadsheet splitting at `delimiter` would find a cell starting at `at` and
// run it as a formula.
function formulaAt(cell, at, delimiter) {
  var end = cell.indexOf(delimiter, at);
  var piece = cell.slice(at, end < 0 ? cell.length : end);
  return FORMULA_START.test(piece) && !PLAIN_NUMBER.test(piece);
}

function neutralised(cell) {
  if (!FORMULA_ANYWHERE.test(cell)) return cell;
  var safe = '';
  for (var at = 0; at <= cell.length; at++) {
    var before = at === 0 ? '' : cell.charAt(at - 1);
    if (at === 0 ? formulaAt(cell, 0, ',') || formulaAt(cell, 0, ';')
        : (before === ',' || before === ';') && formulaAt(cell, at, before)) safe += "'";
    safe += cell.charAt(at);
  }
  return safe;
}

function csvCell(value) {
  var cell = typeof value === 'number' ? (isFinite(value) ? String(value).replace('.', ',') : '') : text(value);
  cell = neutralised(cell);
  if (/[;"\r\n]/.test(cell)) cell = '"' + cell.replace(/"/g, '""') + '"';
  return cell;
}

function csvText(rows) {
  return '\uFEFF' + rows.map(function (row) { return row.map(csvCell).join(';'); }).join('\r\n') + '\r\n';
}

// A file name part from a label: "YI – kaçırılan" -> "yi-kacirilan".
function fileSlug(label) {
  var plain = { 'ç': 'c', 'ğ': 'g', 'ı': 'i', 'ö': 'o', 'ş': 's', 'ü': 'u', 'â': 'a', 'î': 'i', 'û': 'u' };
  return fold(label).replace(/[çğıöşüâîû]/g, function (c) { return plain[c]; })
    .replace(/[^a-z0-9]+/g, '-').replace(/^-+|-+$/g, '');
}

function downloadCsv(fileName, rows) {
  var url = URL.createObjectURL(new Blob([csvText(rows)], { type: 'text/csv;charset=utf-8' }));
  var link = el('a');
  link.href = url;
  link.download = fileName;
  document.body.appendChild(link);
  link.click();
  link.remove();
  setTimeout(function () { URL.revokeObjectURL(url); }, 10000);
}
