// Shared by the page's scripts: the score bands, the watch lists, element building
// (text always through textContent, so a value from the data can never become markup)
// and number text.

// The score bands: a score below BAND_EDGES[0] is in the first band, one from
// BAND_EDGES[i] up to the next edge in band i + 1; "YI" is a state, not a band.
var BAND_EDGES = [325, 500, 825];
var SCORE_MAX = 1000;
var YI = 'YI';
var BANDS = BAND_EDGES.map(function (edge, i) { return (i ? BAND_EDGES[i - 1] : 0) + '-' + edge; })
  .concat([BAND_EDGES[BAND_EDGES.length - 1] + '-' + SCORE_MAX, YI]);
var BAND_COLORS = {};
['#2e7d32', '#9bc53d', '#f2b705', '#e8710a', '#b3261e'].forEach(function (color, i) { BAND_COLORS[BANDS[i]] = color; });
var SEGMENTS = ['ALL', 'KUR-TIC', 'KOBI', 'MIKRO', 'ESKK'];
var SEGMENT_LABELS = { ALL: 'Tümü' };

// The style classes of a band: its swatch ("band-N") and its score cell ("s-N"), N being
// its place in BANDS.
function bandClass(prefix, band) {
  return prefix + BANDS.indexOf(band);
}

// A band as an interval: "[325, 500)"; the last band holds every score from its edge up.
function bandInterval(index) {
  var low = index ? BAND_EDGES[index - 1] : 0;
  return index < BAND_EDGES.length ? '[' + low + ', ' + BAND_EDGES[index] + ')' : '[' + low + ', ' + SCORE_MAX + ']';
}

// The six watch lists: row flag, badge, title, one line on the card and the full rule.
var LISTS = [
  { flag: '_hizli_yukselen', short: 'HY', title: 'Hızlı yükselenler',
    what: 'Skoru son 3 dönemde ve son dönemde artan, ' + BAND_EDGES[1] + ' ve üzeri firmalar',
    rule: 'Bu dönem YI olmayan, skoru en az ' + BAND_EDGES[1] + ' olan ve skoru hem son dönemde hem son 3 dönemde ' +
      'artmış firmalar. Son riske göre sıralıdır.' },
  { flag: '_rejim_degisimi', short: 'RD', title: 'Rejim değişimi',
    what: 'Erken bir sinyalden sonra ' + BAND_EDGES[1] + ' eşiğini bu dönem aşanlar',
    rule: 'Önceki dönem skoru ' + BAND_EDGES[1] + ' altındayken bu dönem ' + BAND_EDGES[1] + ' ve üzerine çıkan ' +
      've daha önce bir erken sinyal vermiş firmalar: geçmiş bir dönemde skoru ' + BAND_EDGES[0] + '–' + BAND_EDGES[1] +
      ' arasında kalmış ya da 100 altından bir dönemde ' + BAND_EDGES[0] + ' ve üzerine sıçramış. Skora göre sıralıdır.' },
  { flag: '_potansiyel_yi', short: 'PY', title: 'Kalıcı yüksek (potansiyel YI)',
    what: 'Son dönemlerin çoğunda skoru ' + BAND_EDGES[2] + ' ve üzeri',
    rule: 'Son 6 dönemin (daha az dönem varsa hepsinin) dörtte üçünde (aşağı yuvarlanır; en az 2 dönem) skoru ' +
      BAND_EDGES[2] + ' ve üzeri olan, riski sıfırdan büyük ve bu dönem YI olmayan firmalar. Son riske göre sıralıdır.' },
  { flag: '_erken_sinyal', short: 'ES', title: 'Düşük ama yükselen',
    what: BAND_EDGES[0] + '–' + BAND_EDGES[2] + ' bandında, son 3 dönemde en az 100 puan artan',
    rule: 'Skoru ' + BAND_EDGES[0] + ' ile ' + BAND_EDGES[2] + ' arasında olan, son 3 dönemde en az 100 puan ve son ' +
      'dönemde de artan, önceki ve bu dönem YI olmayan firmalar. Son riske göre sıralıdır.' },
  { flag: '_yakalanan', short: 'YK', title: 'YI – yakalanan',
    what: 'Bu dönem YI; öncesinde yüksek skor ya da hızlı sıçrama vardı', cls: 'caught',
    rule: 'Bu dönem YI’ye yeni giren firmalardan, önceki dönem skoru ' + BAND_EDGES[2] + ' ve üzeri olanlar ya da ' +
      'iki dönem önce 200 altındayken önceki dönem ' + BAND_EDGES[1] + ' ve üzerine sıçrayanlar: skor zamanında uyarmış.' },
  { flag: '_kacirilan', short: 'KÇ', title: 'YI – kaçırılan',
    what: 'Bu dönem YI; önceki skor ' + BAND_EDGES[2] + ' altındaydı', cls: 'missed',
    rule: 'Bu dönem YI’ye yeni giren ve öncesinde bu uyarıların hiçbirini vermemiş firmalar: skor uyarmamış.' },
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

// What a page shows where a firm has no risk or score in a period: missing, never 0.
var MISSING_TEXT = 'veri yok';

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

function decimal(value, digits) {
  return isNumber(value) ? value.toLocaleString('tr-TR', { minimumFractionDigits: digits, maximumFractionDigits: digits }) : '';
}

function text(value) {
  return value === null || value === undefined ? '' : String(value);
}

// The band of a stored score: "YI", or the band holding the number.
function scoreBand(score) {
  if (score === YI || score === -1 || score === '-1') return YI;
  var value = typeof score === 'string' ? parseFloat(score) : score;
  if (!isNumber(value)) return null;
  for (var i = 0; i < BAND_EDGES.length; i++) if (value < BAND_EDGES[i]) return BANDS[i];
  return BANDS[BAND_EDGES.length];
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

// A footnote under a chart or list: why two numbers of the page differ.
function footnote(container, sentence) {
  clear(container);
  if (sentence) container.appendChild(el('span', '', sentence));
}
