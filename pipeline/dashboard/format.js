// Shared by the page's scripts: element building (text always through textContent, so a
// value from the data can never become markup), number text and the score bands.

var BANDS = ['0-325', '325-500', '500-825', '825-1000', 'YI'];
var BAND_COLORS = { '0-325': '#2e7d32', '325-500': '#9bc53d', '500-825': '#f2b705', '825-1000': '#e8710a', 'YI': '#b3261e' };
var SEGMENTS = ['ALL', 'KUR-TIC', 'KOBI', 'MIKRO', 'ESKK'];
var SEGMENT_LABELS = { ALL: 'Tümü' };
var LISTS = [
  { flag: '_hizli_yukselen', short: 'HY', title: 'Hızlı yükselenler', what: 'Skoru son 3 dönemde ve son dönemde artan, 500 ve üzeri firmalar' },
  { flag: '_rejim_degisimi', short: 'RD', title: 'Rejim değişimi', what: 'Erken bir sinyalden sonra 500 eşiğini bu dönem aşanlar' },
  { flag: '_potansiyel_yi', short: 'PY', title: 'Kalıcı yüksek (potansiyel YI)', what: 'Son dönemlerin çoğunda skoru 825 ve üzeri' },
  { flag: '_erken_sinyal', short: 'ES', title: 'Düşük ama yükselen', what: '325–825 bandında, son 3 dönemde en az 100 puan artan' },
  { flag: '_yakalanan', short: 'YK', title: 'YI – yakalanan', what: 'Bu dönem YI; öncesinde yüksek skor ya da hızlı sıçrama vardı', cls: 'caught' },
  { flag: '_kacirilan', short: 'KÇ', title: 'YI – kaçırılan', what: 'Bu dönem YI; önceki skor 825 altındaydı', cls: 'missed' },
];

var integerFormat = new Intl.NumberFormat('tr-TR', { maximumFractionDigits: 0 });
var shortFormat = new Intl.NumberFormat('tr-TR', { maximumFractionDigits: 1 });

function el(tag, className, text) {
  var node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined && text !== null) node.textContent = String(text);
  return node;
}

function svg(tag, attributes, text) {
  var node = document.createElementNS('http://www.w3.org/2000/svg', tag);
  Object.keys(attributes || {}).forEach(function (name) { node.setAttribute(name, attributes[name]); });
  if (text !== undefined) node.textContent = String(text);
  return node;
}

function clear(node) {
  while (node.firstChild) node.removeChild(node.firstChild);
  return node;
}

function isNumber(value) {
  return typeof value === 'number' && isFinite(value);
}

function wholeNumber(value) {
  return isNumber(value) ? integerFormat.format(Math.trunc(value)) : '';
}

// 1.234.567.890 -> "1,2 mr"; for chart labels and heat map cells.
function shortAmount(value) {
  if (!isNumber(value)) return '';
  var size = Math.abs(value);
  if (size >= 1e9) return shortFormat.format(value / 1e9) + ' mr';
  if (size >= 1e6) return shortFormat.format(value / 1e6) + ' mn';
  if (size >= 1e3) return shortFormat.format(value / 1e3) + ' bin';
  return integerFormat.format(value);
}

function percent(value, digits) {
  return isNumber(value) ? '%' + value.toLocaleString('tr-TR', { minimumFractionDigits: digits, maximumFractionDigits: digits }) : '';
}

function text(value) {
  return value === null || value === undefined ? '' : String(value);
}

// The band of a stored score: "YI", or the range holding the number.
function scoreBand(score) {
  if (score === 'YI' || score === -1 || score === '-1') return 'YI';
  var value = typeof score === 'string' ? parseFloat(score) : score;
  if (!isNumber(value)) return null;
  if (value < 325) return '0-325';
  if (value < 500) return '325-500';
  if (value < 825) return '500-825';
  return '825-1000';
}

function fold(value) {
  return text(value).toLocaleLowerCase('tr-TR');
}

// A row of toggle buttons; calls pick(key) on a press and marks the chosen one.
function tabs(container, options, chosen, pick) {
  clear(container);
  options.forEach(function (option) {
    var button = el('button', option.key === chosen ? 'on' : '', option.label);
    button.type = 'button';
    button.addEventListener('click', function () {
      Array.prototype.forEach.call(container.children, function (b) { b.className = ''; });
      button.className = 'on';
      pick(option.key);
    });
    container.appendChild(button);
  });
}

function fillSelect(select, options, chosen) {
  clear(select);
  options.forEach(function (option) {
    var item = el('option', '', option.label);
    item.value = option.key;
    if (option.key === chosen) item.selected = true;
    select.appendChild(item);
  });
}
