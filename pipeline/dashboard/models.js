// The model measures of the administrator edition, as the mart builder computed them:
// discriminatory power (AUC with its interval, Gini) per period with its trend, stability
// (PSI against the reference sample, concentration), migration between bands as rates,
// and calibration of probabilities. The validation tests are in validation.js.

var PSI_WARN = 0.10, PSI_ALERT = 0.25;
var PSI_LEVELS = [
  { below: PSI_WARN, cls: 'psi-ok', label: 'PSI < ' + decimal(PSI_WARN, 2) + ': kararlı' },
  { below: PSI_ALERT, cls: 'psi-warn', label: decimal(PSI_WARN, 2) + ' ≤ PSI < ' + decimal(PSI_ALERT, 2) + ': izlenmeli' },
  { below: Infinity, cls: 'psi-alert', label: 'PSI ≥ ' + decimal(PSI_ALERT, 2) + ': belirgin kayma' },
];
var MODEL_COLORS = { eus: '#12355b', yis: '#c2410c', ml: '#7c3aed' };

// The one event definition every measure, list figure and tooltip of the section uses.
var EVENT_DEFINITION = 'Olay tanımı: bir firma t döneminde sayılır, t’de durumu biliniyor ve YI değilse ve t+1’de ' +
  'durumu biliniyorsa (skoru ya da YI’si varsa); olay, t+1’de YI’ye girmesidir. Sonraki dönemi bilinmeyen firmalar ' +
  'dışarıda kalır ve sayılır.';

// A measure resting on fewer events than the mart builder's limit is greyed out with its count.
function markFewEvents(td, entry) {
  if (!entry.az_olay || !entry.n) return;
  td.className += ' few';
  td.title = (td.title ? td.title + ' ' : '') + wholeNumber(entry.yi) + ' olay (20’den az): ölçüm güvenilir değil.';
}

// "0,7812 [0,7012–0,8612]": an AUC with its 95 % DeLong interval.
function aucWithInterval(entry) {
  if (!isNumber(entry.auc)) return '–';
  return decimal(entry.auc, 4) + (isNumber(entry.auc_alt) ? ' [' + decimal(entry.auc_alt, 2) + '–' + decimal(entry.auc_ust, 2) + ']' : '');
}

function psiLevel(value) {
  for (var i = 0; i < PSI_LEVELS.length; i++) if (value < PSI_LEVELS[i].below) return PSI_LEVELS[i];
  return PSI_LEVELS[PSI_LEVELS.length - 1];
}

function modelPart(container, id, title, note) {
  var part = container.appendChild(el('div', 'model-part'));
  part.id = id;
  var head = part.appendChild(el('div', 'card-head'));
  head.appendChild(el('h3', '', title));
  if (note) part.appendChild(el('p', 'what', note));
  return { part: part, head: head };
}

// Every period any model measured, in order.
function measuredPeriods(models) {
  var seen = {};
  models.forEach(function (m) { m.donemler.forEach(function (p) { seen[p.donem] = true; }); });
  return Object.keys(seen).sort(collator.compare);
}

function periodOf(model, period) {
  return model.donemler.filter(function (p) { return p.donem === period; })[0] || null;
}

// AUC per period, one line per model, with the Gini of each level on the right axis.
function drawDiscriminationChart(container, models, periods) {
  var width = 760, height = 240, left = 44, right = 44, top = 24, bottom = 26, low = 0.5;
  var plotW = width - left - right, plotH = height - top - bottom;
  var chart = svg('svg', { viewBox: '0 0 ' + width + ' ' + height, role: 'img', 'aria-label': 'AUC dönemlere göre' });
  var x = function (i) { return left + (periods.length > 1 ? plotW * i / (periods.length - 1) : plotW / 2); };
  var y = function (v) { return top + plotH - plotH * (Math.max(low, v) - low) / (1 - low); };
  [0.5, 0.6, 0.7, 0.8, 0.9, 1].forEach(function (v) {
    chart.appendChild(svg('line', { x1: left, x2: width - right, y1: y(v), y2: y(v), stroke: v === low ? '#9aa5b1' : '#e5e9ee' }));
    chart.appendChild(svg('text', { x: left - 6, y: y(v) + 4, 'text-anchor': 'end' }, decimal(v, 1)));
    chart.appendChild(svg('text', { x: width - right + 6, y: y(v) + 4 }, decimal(2 * v - 1, 1)));
  });
  chart.appendChild(svg('text', { x: left - 6, y: top - 12, 'text-anchor': 'end' }, 'AUC'));
  chart.appendChild(svg('text', { x: width - right + 6, y: top - 12 }, 'Gini'));
  periods.forEach(function (p, i) { chart.appendChild(svg('text', { x: x(i), y: height - 8, 'text-anchor': 'middle' }, p)); });
  var points = [];
  models.forEach(function (model) {
    var path = '', color = MODEL_COLORS[model.model] || '#333';
    periods.forEach(function (p, i) {
      var entry = periodOf(model, p);
      if (!entry || !isNumber(entry.auc)) return;
      path += (path ? ' L' : 'M') + x(i) + ' ' + y(entry.auc);
      if (isNumber(entry.auc_alt)) {
        chart.appendChild(svg('line', { x1: x(i), x2: x(i), y1: y(entry.auc_alt), y2: y(entry.auc_ust), stroke: color,
          'stroke-opacity': 0.45, 'stroke-width': 5, 'class': 'interval' }));
      }
      var dot = svg('circle', { cx: x(i), cy: y(entry.auc), r: 3.5, fill: entry.az_olay ? '#fff' : color, stroke: color });
      dot.appendChild(svg('title', {}, model.ad + ' ' + p + ': AUC ' + aucWithInterval(entry) + ', Gini ' + decimal(entry.gini, 4) +
        ', ' + wholeNumber(entry.yi) + ' olay' + (entry.az_olay ? ' (20’den az)' : '')));
      points.push(dot);
    });
    if (path) chart.appendChild(svg('path', { d: path, fill: 'none', stroke: color, 'stroke-width': 2 }));
  });
  points.forEach(function (dot) { chart.appendChild(dot); });
  container.appendChild(chart);
  var legend = container.appendChild(el('div', 'legend'));
  models.forEach(function (model) {
    var item = legend.appendChild(el('span'));
    var swatch = item.appendChild(el('span', 'swatch'));
    swatch.style.background = MODEL_COLORS[model.model] || '#333';
    item.appendChild(document.createTextNode(model.ad + ' (' + model.kaynak + ')'));
  });
  legend.appendChild(el('span', '', 'Dikey çubuk: %95 DeLong aralığı; içi boş nokta: 20’den az olay.'));
}

function periodTable(container, models, periods, cells) {
  var table = container.appendChild(el('table', 'grid measures'));
  var head = table.appendChild(el('thead'));
  var top = head.appendChild(el('tr')), sub = head.appendChild(el('tr'));
  top.appendChild(el('th', '', ''));
  sub.appendChild(el('th', '', 'Dönem'));
  models.forEach(function (model) {
    var th = top.appendChild(el('th', 'group', model.ad));
    th.colSpan = cells.length;
    cells.forEach(function (cell) { sub.appendChild(el('th', 'num', cell.label)); });
  });
  var body = table.appendChild(el('tbody'));
  periods.forEach(function (period) {
    var tr = body.appendChild(el('tr'));
    tr.appendChild(el('td', '', period));
    models.forEach(function (model) {
      var entry = periodOf(model, period);
      cells.forEach(function (cell) {
        var td = tr.appendChild(el('td', 'num ' + cell.cls));
        if (entry) cell.render(td, entry); else td.textContent = '';
      });
    });
  });
}

function drawDiscrimination(container, models, periods) {
  var part = modelPart(container, 'ayirma-gucu', 'Ayırma gücü: AUC ve Gini',
    'Her dönemin skoru, firmanın bir sonraki dönem YI’ye girip girmediğine karşı; parantezde %95 DeLong aralığı. ' +
    'Son dönemin sonucu henüz bilinmediği için AUC’si yoktur. ' + EVENT_DEFINITION).part;
  drawDiscriminationChart(part, models, periods);
  periodTable(part, models, periods, [
    { label: 'AUC [%95]', cls: 'auc', render: function (td, p) { td.textContent = aucWithInterval(p); markFewEvents(td, p); } },
    { label: 'Gini', cls: 'gini', render: function (td, p) {
      td.textContent = isNumber(p.gini) ? decimal(p.gini, 4) : '–'; markFewEvents(td, p); } },
    { label: 'Firma (YI)', cls: 'count', render: function (td, p) {
      td.textContent = p.n ? wholeNumber(p.n) + ' (' + wholeNumber(p.yi) + ')' : '–';
      td.title = 'Sayılan firmalar: skoru olan, bu dönem durumu bilinen ve YI olmayan, sonraki dönemi bilinen; parantezde ' +
        'sonraki dönem YI’ye girenler. Sonraki dönemi bilinmeyen: ' + wholeNumber(p.sonraki_bilinmeyen) + '.'; } },
  ]);
}

function drawStability(container, models, periods) {
  var part = modelPart(container, 'psi', 'Kararlılık: PSI ve yoğunlaşma',
    'Skor bant dağılımının referans örneğe göre kayması (durumu bilinen, YI olmayan, skoru olan firmalar): EUS ve YIS’te ' +
    'referans dönem, ML’de şampiyon modelin eğitim penceresi. HHI: firmaların bantlarda yoğunlaşması (0 eşit dağılım, 1 tek bant).').part;
  var legend = part.appendChild(el('div', 'legend'));
  PSI_LEVELS.forEach(function (level) {
    var item = legend.appendChild(el('span'));
    item.appendChild(el('span', 'psi-mark ' + level.cls));
    item.appendChild(document.createTextNode(level.label));
  });
  periodTable(part, models, periods, [
    { label: 'PSI', cls: 'psi', render: function (td, p) {
      if (!isNumber(p.psi)) { td.textContent = '–'; return; }
      var level = psiLevel(p.psi);
      td.className += ' ' + level.cls;
      td.appendChild(el('span', 'psi-mark ' + level.cls));
      td.appendChild(document.createTextNode(decimal(p.psi, 4)));
      td.title = level.label;
    } },
    { label: 'HHI', cls: 'hhi', render: function (td, p) { td.textContent = isNumber(p.hhi) ? decimal(p.hhi, 4) : '–'; } },
    { label: 'Firma', cls: 'count', render: function (td, p) { td.textContent = wholeNumber(p.skorlu); } },
  ]);
  models.forEach(function (model) {
    if (model.referans) part.appendChild(el('p', 'what', model.ad + ': ' + model.referans.aciklama));
  });
}

// One tab per model; a press makes it state.model and calls redraw().
function modelChoice(container, models, state, redraw) {
  tabs(container, models.map(function (m) { return { key: m.model, label: m.ad }; }), state.model.model, function (key) {
    state.model = models.filter(function (m) { return m.model === key; })[0];
    redraw();
  });
}

function drawMigrationMatrix(container, summary, labels, move) {
  clear(container);
  clear(summary);
  if (!move) { container.appendChild(el('p', 'missing', 'Dönem çifti yok.')); return; }
  var body = heatFrame(container.appendChild(el('table', 'heat rates')), move, labels, 'Firma');
  labels.forEach(function (from, i) {
    var tr = body.appendChild(el('tr'));
    tr.appendChild(el('th', '', from));
    var rowTotal = move.sayilar[i].reduce(function (a, b) { return a + b; }, 0);
    labels.forEach(function (to, j) {
      var td = tr.appendChild(el('td', 'rate'));
      var rate = move.oranlar[i][j], count = move.sayilar[i][j];
      if (!count) { td.textContent = '·'; td.className += ' blank'; return; }
      td.style.background = heatColor(i, j, Math.min(1, rate * (i === j ? 1 : 3)));
      if (rate > (i === j ? 0.9 : 0.2)) td.style.color = '#fff';
      td.appendChild(el('span', 'n', percent(100 * rate, 1)));
      td.appendChild(el('span', 'r', wholeNumber(count) + ' firma'));
      td.title = from + ' → ' + to + ': ' + wholeNumber(count) + ' firma (' + percent(100 * rate, 1) + '), ' +
        wholeNumber(move.risk_tl[i][j]) + ' TL';
    });
    tr.appendChild(el('td', 'sum', wholeNumber(rowTotal)));
  });
  summary.appendChild(document.createTextNode('Kötüleşen: '));
  summary.appendChild(el('b', 'up', wholeNumber(move.kotulesen) + ' firma'));
  summary.appendChild(document.createTextNode(' (' + shortAmount(move.kotulesen_risk_tl) + ' TL) · İyileşen: '));
  summary.appendChild(el('b', 'down', wholeNumber(move.iyilesen) + ' firma'));
  summary.appendChild(document.createTextNode(' (' + shortAmount(move.iyilesen_risk_tl) + ' TL) · Aynı bantta: ' +
    wholeNumber(move.ayni) + ' firma. Oranlar satır başına (önceki dönemin bandı) %100’e tamamlanır; risk sonraki dönemin riskidir.'));
}

function drawMigration(container, models) {
  var part = modelPart(container, 'gocler', 'Göç oranları', 'Bir dönemde bir bantta olan firmaların sonraki dönem hangi banda geçtiği.');
  var controls = part.head.appendChild(el('div', 'controls'));
  var modelTabs = controls.appendChild(el('span', 'tabs')), pairs = controls.appendChild(el('select'));
  pairs.setAttribute('aria-label', 'Dönem çifti');
  var matrix = part.part.appendChild(el('div')), summary = part.part.appendChild(el('div', 'summary'));
  var state = { model: models[0] };
  function draw() { drawMigrationMatrix(matrix, summary, state.model.bantlar, state.model.gecisler[Number(pairs.value)]); }
  function fill() {
    var list = state.model.gecisler;
    fillSelect(pairs, list.map(function (m, i) { return { key: String(i), label: m.from + ' → ' + m.to }; }).reverse(), String(list.length - 1));
    draw();
  }
  modelChoice(modelTabs, models, state, fill);
  pairs.addEventListener('change', draw);
  fill();
}

function drawCalibrationChart(container, bins) {
  // The left margin holds the tick labels ("%100") and, left of them, the rotated axis label.
  var size = 260, pad = 34, left = 56;
  var plot = size - left - pad;
  var max = Math.max.apply(null, bins.map(function (b) { return Math.max(b.ort_olasilik, b.gozlenen_oran); }).concat([0.05]));
  max = Math.min(1, niceCeiling(max));
  var s = function (v) { return plot * v / max; };
  var chart = svg('svg', { viewBox: '0 0 ' + size + ' ' + size, role: 'img', 'aria-label': 'Kalibrasyon', 'class': 'square' });
  [0, 0.5, 1].forEach(function (t) {
    chart.appendChild(svg('line', { x1: left, x2: size - pad, y1: size - pad - s(max * t), y2: size - pad - s(max * t), stroke: '#e5e9ee' }));
    chart.appendChild(svg('text', { x: left - 4, y: size - pad - s(max * t) + 4, 'text-anchor': 'end' }, percent(100 * max * t, 0)));
    chart.appendChild(svg('text', { x: left + s(max * t), y: size - pad + 14, 'text-anchor': 'middle' }, percent(100 * max * t, 0)));
  });
  chart.appendChild(svg('line', { x1: left, y1: size - pad, x2: size - pad, y2: pad, stroke: '#9aa5b1', 'stroke-dasharray': '4 3' }));
  bins.forEach(function (b, i) {
    var dot = svg('circle', { cx: left + s(b.ort_olasilik), cy: size - pad - s(b.gozlenen_oran), r: 4, fill: LIGHT_COLORS[b.isik] || '#7c3aed' });
    dot.appendChild(svg('title', {}, (i + 1) + '. dilim: tahmin ' + percent(100 * b.ort_olasilik, 1) + ', gerçekleşen ' +
      percent(100 * b.gozlenen_oran, 1) + (isNumber(b.p) ? ', Jeffreys p = ' + decimal(b.p, 4) : '')));
    chart.appendChild(dot);
  });
  chart.appendChild(svg('text', { x: left + plot / 2, y: size - 4, 'text-anchor': 'middle' }, 'ortalama tahmin'));
  chart.appendChild(svg('text', { x: 12, y: pad + plot / 2, transform: 'rotate(-90 12 ' + (pad + plot / 2) + ')', 'text-anchor': 'middle' },
    'gerçekleşen YI oranı'));
  container.appendChild(chart);
}

function drawCalibration(container, models) {
  var calibrated = models.filter(function (m) { return m.kalibrasyon; });
  if (!calibrated.length) return;
  var part = modelPart(container, 'kalibrasyon', 'Kalibrasyon',
    'Olasılık veren modellerde firmalar tahmine göre on eşit dilime ayrılır; her dilimde ortalama tahmin ile bir sonraki dönem ' +
    'gerçekleşen YI oranı, dilimin Jeffreys testi ve ışığı; altta Hosmer–Lemeshow testi.');
  var controls = part.head.appendChild(el('div', 'controls'));
  var modelTabs = controls.appendChild(el('span', 'tabs')), period = controls.appendChild(el('select'));
  period.setAttribute('aria-label', 'Dönem');
  var body = part.part.appendChild(el('div', 'calibration'));
  var state = { model: calibrated.filter(function (m) { return m.model === 'ml'; })[0] || calibrated[0] };
  function draw() {
    var c = state.model.kalibrasyon;
    var bins = period.value === '' ? c.tum_donemler : (c.donemler.filter(function (d) { return d.donem === period.value; })[0] || {}).dilimler || [];
    var entry = period.value === '' ? c : periodOf(state.model, period.value) || {};
    clear(body);
    var side = body.appendChild(el('div'));
    var table = side.appendChild(el('table', 'grid compact calibration-table'));
    var head = table.appendChild(el('thead')).appendChild(el('tr'));
    ['Dilim', 'Firma', 'YI', 'Ort. tahmin', 'Gerçekleşen', 'Jeffreys'].forEach(function (label, i) {
      head.appendChild(el('th', i ? 'num' : '', label));
    });
    var tbody = table.appendChild(el('tbody'));
    bins.forEach(function (b, i) {
      var tr = tbody.appendChild(el('tr'));
      tr.appendChild(el('td', '', (i + 1) + '.'));
      tr.appendChild(el('td', 'num', wholeNumber(b.firma)));
      tr.appendChild(el('td', 'num', wholeNumber(b.yi)));
      tr.appendChild(el('td', 'num predicted', percent(100 * b.ort_olasilik, 2)));
      tr.appendChild(el('td', 'num observed', percent(100 * b.gozlenen_oran, 2)));
      lightCell(tr.appendChild(el('td', 'num')), b.p, b.isik);
    });
    if (!bins.length) tbody.appendChild(el('tr', 'empty')).appendChild(el('td', '', 'Bu dönemde sonuç bilinen firma yok.')).colSpan = 6;
    side.appendChild(el('p', 'what', 'Hosmer–Lemeshow: ' + (entry.hl ? 'H = ' + decimal(entry.hl.istatistik, 2) + ', ' +
      entry.hl.sd + ' sd, p = ' + decimal(entry.hl.p, 4) : 'hesaplanamadı') + ' · Brier: ' + (isNumber(entry.brier) ? decimal(entry.brier, 4) : '–')));
    if (entry.hl) lightMark(side.lastChild, entry.hl.isik, 'prepend');
    drawCalibrationChart(body, bins);
  }
  function fill() {
    fillSelect(period, [{ key: '', label: 'Tüm dönemler' }].concat(state.model.kalibrasyon.donemler.map(function (d) {
      return { key: d.donem, label: d.donem };
    })), '');
    draw();
  }
  modelChoice(modelTabs, calibrated, state, fill);
  period.addEventListener('change', draw);
  fill();
}

function drawModelMeasures(container, measures, inventory) {
  var models = (measures || []).filter(function (m) { return !m.eksik; });
  (measures || []).filter(function (m) { return m.eksik; }).forEach(function (m) {
    container.appendChild(el('p', 'missing', m.ad + ' ölçülemedi: ' + m.eksik + '.'));
  });
  if (!models.length) {
    if (!measures || !measures.length) container.appendChild(el('p', 'missing', 'Model ölçümü yok.'));
    return;
  }
  var periods = measuredPeriods(models);
  drawDiscrimination(container, models, periods);
  drawStability(container, models, periods);
  drawMigration(container, models);
  drawCalibration(container, models);
  drawValidation(container, models);
  drawInventory(container, inventory, models);
}
