// The administrator edition's own sections: backtest summaries per model (the means of
// the periods or folds beside the pooled figures, the alarm threshold, horizons and
// segments), the firms behind the true positives, false positives and false negatives,
// and the prediction list.

var MODELS = [
  { key: 'eus', label: 'EUS' },
  { key: 'yis', label: 'YIS' },
  { key: 'ml', label: 'ML' },
];
var CATEGORIES = [
  { key: 'tp', label: 'Doğru alarm (TP)' },
  { key: 'fp', label: 'Yanlış alarm (FP)' },
  { key: 'fn', label: 'Kaçırılan (FN)' },
];
// The summary's figures under names that say what they are: a mean of the periods (or
// folds) is labelled as one, and so is a pooled figure.
var METRIC_LABELS = {
  toplam_donem: 'Dönem sayısı', toplam_fold: 'Fold sayısı', toplam_tp: 'TP (toplam)', toplam_fp: 'FP (toplam)',
  toplam_fn: 'FN (toplam)', toplam_tn: 'TN (toplam)', ort_auc: 'AUC', ort_precision: 'Kesinlik', ort_recall: 'Duyarlılık',
  ort_f1: 'F1', havuz_precision: 'Kesinlik, havuz: ΣTP / (ΣTP + ΣFP)', havuz_recall: 'Duyarlılık, havuz: ΣTP / (ΣTP + ΣFN)',
};

function metricLabel(name, unit) {
  return METRIC_LABELS[name] + (/^ort_/.test(name) ? ', ' + unit + ' ortalaması' : '');
}
// Column names of the backtest tables as the page shows them.
var COLUMN_LABELS = {
  donem: 'Dönem', n: 'Firma', tp: 'TP', fp: 'FP', fn: 'FN', tn: 'TN', precision_val: 'Kesinlik', recall_val: 'Duyarlılık',
  f1: 'F1', auc: 'AUC', fold: 'Fold', n_egitim: 'Eğitim satırı', n_test: 'Test satırı', entity_id: 'Muta',
  kategori: 'Sonuç', eus_skor: 'EUS skoru', yis_olasilik: 'YIS olasılığı', yi_prob: 'ML olasılığı',
  vrd_skor: 'Skor', sonraki_vrd_skor: 'Sonraki dönem skoru', skor: 'Skor', sonraki_bilinmeyen: 'Sonraki dönemi bilinmeyen',
};
// Columns that name a firm, a period or a fold: shown as stored, never grouped.
var KEY_COLUMN = /(^|_)id$|^muta$|^fold$|^donem$/;
// Columns of ratios and probabilities: four decimals, as the summary shows them.
var RATE_COLUMN = /^(precision_val|recall_val|f1|auc)$|_prob$|olasilik$/;

// A cell of a backtest table in the page's Turkish number format.
function backtestCell(name, value) {
  if (!isNumber(value)) return text(value);
  if (KEY_COLUMN.test(name)) return String(value);
  if (RATE_COLUMN.test(name) || !Number.isInteger(value)) return decimal(value, 4);
  return wholeNumber(value);
}

function columnLabel(name) {
  if (COLUMN_LABELS[name]) return COLUMN_LABELS[name];
  var words = name.replace(/_/g, ' ');
  return words.charAt(0).toLocaleUpperCase('tr-TR') + words.slice(1);
}

function adminCard(id, title, subtitle) {
  var card = el('section', 'card');
  card.id = id;
  var head = card.appendChild(el('div', 'card-head'));
  var h2 = head.appendChild(el('h2', '', title));
  if (subtitle) h2.appendChild(el('span', 'sub', ' ' + subtitle));
  return { card: card, head: head };
}

// Columns for records whose members are not known in advance: the members of the
// first records, in their order, under their page names.
function recordColumns(records) {
  var names = [];
  records.slice(0, 50).forEach(function (record) {
    Object.keys(record).forEach(function (name) { if (names.indexOf(name) < 0) names.push(name); });
  });
  return names.map(function (name) {
    var numeric = !KEY_COLUMN.test(name) && records.some(function (r) { return isNumber(r[name]); });
    return { label: columnLabel(name), num: numeric, value: function (r) { return r[name]; },
      render: function (td, r) { td.textContent = backtestCell(name, r[name]); } };
  });
}

// "0,7812 [0,70–0,85]" for a pooled AUC with its interval.
function pooledAuc(pooled) {
  return pooled && isNumber(pooled.auc) ? aucWithInterval(pooled) : '–';
}

function drawSummary(container, summary, measures) {
  var grid = container.appendChild(el('div', 'kpis'));
  MODELS.forEach(function (model) {
    var box = grid.appendChild(el('div', 'kpi'));
    box.id = 'backtest-' + model.key;
    box.appendChild(el('h3', '', model.label));
    var measured = (measures || []).filter(function (m) { return m.model === model.key && !m.eksik; })[0];
    var threshold = box.appendChild(el('p', 'threshold', 'Alarm eşiği: ' + (measured && isNumber(measured.esik)
      ? (model.key === 'eus' ? 'skor ≥ ' + decimal(measured.esik, 0) : 'olasılık ≥ ' + decimal(measured.esik, 2)) : 'bilinmiyor')));
    threshold.title = 'Backtest bu eşiği aşan firmaya alarm vermiş sayar.';
    var entry = summary && summary[model.key];
    if (!entry) {
      box.appendChild(el('p', 'missing', 'Backtest tablosu yok.'));
      return;
    }
    var unit = model.key === 'ml' ? 'fold' : 'dönem';
    var list = box.appendChild(el('dl'));
    Object.keys(entry).forEach(function (name) {
      if (!METRIC_LABELS[name]) return;
      var value = entry[name];
      list.appendChild(el('dt', '', metricLabel(name, unit)));
      list.appendChild(el('dd', '', /^(ort|havuz)_/.test(name) ? (isNumber(value) ? decimal(value, 4) : '–') : wholeNumber(value)));
    });
    if (measured) {
      list.appendChild(el('dt', '', 'AUC, havuz (tüm ' + unit + 'lar birlikte, %95 DeLong)'));
      list.appendChild(el('dd', 'pooled-auc', pooledAuc(measured.havuz)));
    }
    var details = entry.donem_metrikleri || entry.fold_detay || [];
    if (details.length) {
      var table = box.appendChild(el('table', 'grid compact'));
      new Grid(table, null, recordColumns(details), { pageSize: 1000 }).setRecords(details);
    }
  });
  drawHorizons(container, measures);
}

// Per model: the pooled figures at the next period and at 3, 6 and 12 months, and per
// segment at the next period, at the model's alarm threshold.
function drawHorizons(container, measures) {
  var measured = (measures || []).filter(function (m) { return !m.eksik && m.havuz; });
  if (!measured.length) return;
  var part = container.appendChild(el('div', 'horizons'));
  part.id = 'backtest-ufuklar';
  part.appendChild(el('h3', '', 'Havuz sonuçları: ufuklar ve segmentler'));
  part.appendChild(el('p', 'what', 'Tüm dönemlerin firmaları birlikte, modelin alarm eşiğinde. Sonraki dönem: ' + EVENT_DEFINITION +
    ' h ay: firma h ay içinde YI’ye girerse olay; girmeyen firma, o ayların hepsinde durumu biliniyorsa sayılır. ' +
    'Verinin yetmediği ufuk boş kalır.'));
  var controls = part.appendChild(el('div', 'controls'));
  var modelTabs = controls.appendChild(el('span', 'tabs'));
  var body = part.appendChild(el('div'));
  var heads = ['', 'Dönem', 'Firma', 'YI', 'AUC [%95]', 'Kesinlik', 'Duyarlılık', 'TP', 'FP', 'FN'];
  function addRow(tbody, label, periods, r) {
    var tr = tbody.appendChild(el('tr', r && r.az_olay && r.n ? 'few' : ''));
    tr.appendChild(el('td', '', label));
    if (!r || r.eksik) {
      tr.appendChild(el('td', 'missing', r ? r.eksik : '')).colSpan = heads.length - 1;
      return;
    }
    [periods, wholeNumber(r.n), wholeNumber(r.yi), pooledAuc(r), isNumber(r.precision) ? decimal(r.precision, 4) : '–',
      isNumber(r.recall) ? decimal(r.recall, 4) : '–', wholeNumber(r.tp), wholeNumber(r.fp), wholeNumber(r.fn)].forEach(function (v) {
      tr.appendChild(el('td', 'num', v));
    });
  }
  function draw(key) {
    var model = measured.filter(function (m) { return m.model === key; })[0];
    clear(body);
    var table = body.appendChild(el('table', 'grid compact'));
    var head = table.appendChild(el('thead')).appendChild(el('tr'));
    heads.forEach(function (h, i) { head.appendChild(el('th', i ? 'num' : '', h)); });
    var tbody = table.appendChild(el('tbody'));
    addRow(tbody, 'Sonraki dönem', wholeNumber(model.donemler.filter(function (p) { return p.n; }).length), model.havuz);
    model.ufuklar.forEach(function (u) { addRow(tbody, u.ay + ' ay', wholeNumber(u.donem_sayisi), u); });
    model.segmentler.forEach(function (s) { addRow(tbody, 'Segment ' + s.segment, '', s); });
  }
  tabs(modelTabs, measured.map(function (m) { return { key: m.model, label: m.ad }; }), measured[0].model, draw);
  draw(measured[0].model);
}

function drawFirmLists(container, lists, firmTitle, pick) {
  var state = { model: null, category: 'tp' };
  var available = MODELS.filter(function (m) { return lists && lists[m.key]; });
  if (!available.length) {
    container.appendChild(el('p', 'missing', 'Backtest firma tablosu yok.'));
    return;
  }
  state.model = available[0].key;
  var controls = container.appendChild(el('div', 'controls'));
  var modelTabs = controls.appendChild(el('span', 'tabs')), categoryTabs = controls.appendChild(el('span', 'tabs'));
  var download = controls.appendChild(el('span'));
  var table = container.appendChild(el('table', 'grid'));
  var pager = container.appendChild(el('div', 'pager'));
  function draw() {
    var records = lists[state.model][state.category] || [];
    var titleColumn = { label: 'Ünvan', cls: 'unvan', title: 'Firmanın ünvanı (tüm portföyden)',
      value: function (r) { return firmTitle(r.entity_id); },
      render: function (td, r) { renderClamped(td, firmTitle(r.entity_id)); } };
    var columns = recordColumns(records);
    columns.splice(columns.length && columns[0].label === COLUMN_LABELS.entity_id ? 1 : 0, 0, titleColumn);
    var grid = new Grid(clear(table), pager, columns, { pageSize: 20, onPick: function (r) { pick(r.entity_id); } });
    grid.setRecords(records);
    clear(download).appendChild(csvButton(grid, 'backtest-' + state.model + '-' + state.category + '.csv'));
    tabs(categoryTabs, CATEGORIES.map(function (c) {
      return { key: c.key, label: c.label + ' ' + wholeNumber((lists[state.model][c.key] || []).length) };
    }), state.category, function (key) { state.category = key; draw(); });
  }
  tabs(modelTabs, available, state.model, function (key) { state.model = key; draw(); });
  draw();
}

function drawPredictions(container, head, predictions, pick) {
  if (!predictions || !predictions.length) {
    container.appendChild(el('p', 'missing', 'Tahmin listesi boş (model çıktısı yok ya da eşiği aşan firma yok).'));
    return;
  }
  var table = container.appendChild(el('table', 'grid'));
  var pager = container.appendChild(el('div', 'pager'));
  var grid = new Grid(table, pager, [
    { label: 'Muta', value: function (p) { return p.muta; } },
    { label: 'Ünvan', cls: 'unvan', value: function (p) { return p.unvan; },
      render: function (td, p) { renderClamped(td, text(p.unvan)); } },
    { label: 'Segment', value: function (p) { return p.segment; } },
    { label: 'Son risk (TL)', num: true, value: function (p) { return p.son_risk; },
      csv: function (p) { return isNumber(p.son_risk) ? Math.trunc(p.son_risk) : ''; },
      render: function (td, p) { renderAmount(td, p.son_risk); } },
    { label: 'YI olasılığı', num: true, value: function (p) { return p.yi_prob; },
      render: function (td, p) { td.textContent = percent(100 * p.yi_prob, 1); } },
    { label: 'Neden', cls: 'neden', value: function (p) { return p.neden; },
      render: function (td, p) { renderClamped(td, text(p.neden)); } },
  ], { pageSize: 20, onPick: function (p) { pick(p.muta); } });
  head.appendChild(csvButton(grid, 'ml-tahmin-listesi.csv'));
  grid.setRecords(predictions);
}

// A check's figure: whole numbers as they are, shares and rates with four decimals.
function checkFigure(value) {
  if (!isNumber(value)) return '';
  return Number.isInteger(value) ? wholeNumber(value) : decimal(value, 4);
}

// The checks of each source's last load, those that stopped, were accepted or warned
// first.
function drawDataChecks(container, head, checks) {
  if (!checks || !checks.length) {
    container.appendChild(el('p', 'missing', 'Yüklemelerin kontrol kaydı yok.'));
    return;
  }
  var rank = { 'engel': 0, 'kabul': 1, 'uyarı': 2 };
  var records = checks.map(function (c, i) { return { check: c, i: i }; }).sort(function (a, b) {
    var ra = a.check.sonuc in rank ? rank[a.check.sonuc] : 3, rb = b.check.sonuc in rank ? rank[b.check.sonuc] : 3;
    return ra - rb || a.i - b.i;
  }).map(function (r) { return r.check; });
  var table = container.appendChild(el('table', 'grid'));
  var pager = container.appendChild(el('div', 'pager'));
  var grid = new Grid(table, pager, [
    { label: 'Kaynak', value: function (c) { return c.kaynak; } },
    { label: 'Kontrol', value: function (c) { return c.kontrol; } },
    { label: 'Sonuç', value: function (c) { return c.sonuc; },
      render: function (td, c) { td.textContent = text(c.sonuc); if (c.sonuc in rank) td.className += ' check-failed'; } },
    { label: 'Değer', num: true, value: function (c) { return c.deger; },
      render: function (td, c) { td.textContent = checkFigure(c.deger); } },
    { label: 'Eşik', num: true, value: function (c) { return c.esik; },
      render: function (td, c) { td.textContent = checkFigure(c.esik); } },
    { label: 'Engeller', value: function (c) { return c.engeller ? 'evet' : 'hayır'; } },
    { label: 'Ayrıntı', cls: 'neden', value: function (c) { return c.ayrinti; },
      render: function (td, c) { renderClamped(td, text(c.ayrinti)); } },
    { label: 'Yüklendi', value: function (c) { return c.yuklendi; } },
  ], { pageSize: 20 });
  head.appendChild(csvButton(grid, 'veri-kalitesi.csv'));
  grid.setRecords(records);
}

function setUpAdmin(data, firmTitle, pick) {
  var extra = data.extra || {};
  var root = document.getElementById('admin');
  var summary = adminCard('backtest', 'Backtest özeti', 'model başına toplamlar, dönem ortalamaları ve havuz sonuçları');
  drawSummary(summary.card, extra.backtest_summary, extra.model_olcumleri);
  root.appendChild(summary.card);
  var firms = adminCard('backtest-firmalar', 'Backtest firmaları', 'model ve sonuç türüne göre');
  drawFirmLists(firms.card, extra.backtest_firma, firmTitle, pick);
  root.appendChild(firms.card);
  var count = (extra.ml_predictions || []).length;
  var predictions = adminCard('tahminler', 'ML tahmin listesi', wholeNumber(count) + ' firma, YI olasılığı ' +
    percent(100 * ((data.kurallar || {}).ml_esik || 0), 0) + ' ve üzeri' + (extra.ml_tahmin_modeli ? ', model ' + extra.ml_tahmin_modeli : ''));
  drawPredictions(predictions.card, predictions.head, extra.ml_predictions, pick);
  root.appendChild(predictions.card);
  var models = adminCard('modeller', 'Model ölçümleri', 'tüm portföy; sonuç: firmanın bir sonraki dönemde YI olması');
  drawModelMeasures(models.card, extra.model_olcumleri, extra.model_envanteri);
  root.appendChild(models.card);
  var checks = extra.veri_kalitesi || [];
  var failed = checks.filter(function (c) { return c.sonuc !== 'geçti'; }).length;
  var quality = adminCard('veri-kalitesi', 'Veri kalitesi', 'kaynakların son yüklemesinin kontrolleri: ' +
    wholeNumber(checks.length) + ' kontrol, ' + wholeNumber(failed) + ' geçmeyen');
  drawDataChecks(quality.card, quality.head, checks);
  root.appendChild(quality.card);
}
