#include "pipeline/html_page.h"

namespace vordak::pipeline {

const std::string_view kDashboardStyle = R"CSS(
body{font-family:system-ui,-apple-system,"Segoe UI",Roboto,Arial,sans-serif;margin:0;color:#1d2733;background:#f4f6f8}
header{background:#12355b;color:#fff;padding:16px 24px}
header h1{margin:0 0 6px;font-size:20px}
header .facts span{margin-right:24px}
.note{background:#fff3cd;color:#6b4e00;padding:8px 24px}
main{padding:16px 24px}
section{background:#fff;border:1px solid #d8dee4;border-radius:6px;margin-bottom:16px;padding:12px 16px}
h2{font-size:16px;margin:0 0 8px}
table{border-collapse:collapse;width:100%;font-size:13px}
th,td{border-bottom:1px solid #e5e9ed;padding:4px 6px;text-align:left;vertical-align:top}
th{background:#eef2f5;position:sticky;top:0}
td.num{text-align:right;font-variant-numeric:tabular-nums}
.lists{display:grid;grid-template-columns:repeat(auto-fit,minmax(420px,1fr));gap:16px}
.count{color:#5b6b7b;font-weight:normal}
input{padding:6px 8px;width:320px;margin-bottom:8px}
pre{white-space:pre-wrap;font-size:12px}
)CSS";

const std::string_view kDashboardScript = R"JS(
(function () {
  var data = window.VRD;
  function cell(row, text, numeric) {
    var td = document.createElement('td');
    if (numeric) td.className = 'num';
    td.textContent = text === null || text === undefined ? '' : String(text);
    row.appendChild(td);
  }
  function number(value) {
    return typeof value === 'number' ? value.toLocaleString('tr-TR') : value;
  }
  var names = {};
  data.columns.forEach(function (name, i) { names[name] = i; });
  var head = document.getElementById('firm-head');
  var body = document.getElementById('firm-body');
  var headRow = document.createElement('tr');
  data.columns.forEach(function (name) {
    var th = document.createElement('th');
    th.textContent = name;
    headRow.appendChild(th);
    if (name === 'sube_kodu' || name === 'bolge_kodu') {
      var extra = document.createElement('th');
      extra.textContent = name === 'sube_kodu' ? 'sube_adi' : 'bolge_adi';
      headRow.appendChild(extra);
    }
  });
  head.appendChild(headRow);
  function draw() {
    var needle = document.getElementById('firm-search').value.toLocaleLowerCase('tr-TR');
    while (body.firstChild) body.removeChild(body.firstChild);
    var shown = 0;
    for (var r = 0; r < data.rows.length && shown < 1000; r++) {
      var values = data.rows[r];
      if (needle && values.join(' ').toLocaleLowerCase('tr-TR').indexOf(needle) < 0) continue;
      var tr = document.createElement('tr');
      values.forEach(function (value, c) {
        var name = data.columns[c];
        cell(tr, number(value), typeof value === 'number' && name !== 'muta' && name.indexOf('kodu') < 0);
        if (name === 'sube_kodu') cell(tr, value !== null && data.subeler[value] ? data.subeler[value] : '', false);
        if (name === 'bolge_kodu') cell(tr, value !== null && data.bolgeler[value] ? data.bolgeler[value] : '', false);
      });
      body.appendChild(tr);
      shown++;
    }
    document.getElementById('firm-shown').textContent = shown + ' / ' + data.rows.length;
  }
  document.getElementById('firm-search').addEventListener('input', draw);
  draw();
  var extra = document.getElementById('extra');
  if (data.extra && extra) {
    Object.keys(data.extra).forEach(function (key) {
      if (key === 'page_mode') return;
      var section = document.createElement('section');
      var title = document.createElement('h2');
      title.textContent = key;
      section.appendChild(title);
      var pre = document.createElement('pre');
      pre.textContent = JSON.stringify(data.extra[key], null, 1);
      section.appendChild(pre);
      extra.appendChild(section);
    });
  }
})();
)JS";

}  // namespace vordak::pipeline
