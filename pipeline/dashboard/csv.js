// CSV downloads made in the page, offline: UTF-8 with a byte-order mark and ";" between
// fields, so that Excel set to Turkish opens them as columns with the letters intact.

// A text a spreadsheet would run as a formula starts with one of these; it is written
// with a leading apostrophe unless it is a plain number such as -1250.
var FORMULA_START = /^[=+\-@\t\r]/;
var PLAIN_NUMBER = /^[+-]?\d+(?:[.,]\d+)?$/;

function csvCell(value) {
  var cell = typeof value === 'number' ? (isFinite(value) ? String(value).replace('.', ',') : '') : text(value);
  if (FORMULA_START.test(cell) && !PLAIN_NUMBER.test(cell)) cell = "'" + cell;
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
