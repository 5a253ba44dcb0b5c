// The administrator edition's own sections: backtest summaries per model, the firms
// behind the true positives, false positives and false negatives, and the prediction list.

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
var METRIC_LABELS = {
  toplam_donem: 'Dönem sayısı', toplam_fold: 'Fold sayısı', toplam_tp: 'TP', toplam_fp: 'FP', toplam_fn: 'FN',
  toplam_tn: 'TN', ort_auc: 'Ort. AUC', ort_precision: 'Ort. kesinlik', ort_recall: 'Ort. duyarlılık', ort_f1: 'Ort. F1',
};
// Column names of the backtest tables as the page shows them.
var COLUMN_LABELS = {
  donem: 'Dönem', n: 'Firma', tp: 'TP', fp: 'FP', fn: 'FN', tn: 'TN', precision_val: 'Kesinlik', recall_val: 'Duyarlılık',
  f1: 'F1', auc: 'AUC', fold: 'Fold', n_egitim: 'Eğitim satırı', n_test: 'Test satırı', entity_id: 'Muta',
  kategori: 'Sonuç', eus_skor: 'EUS skoru', yis_olasilik: 'YIS olasılığı', yi_prob: 'ML olasılığı',
  vrd_skor: 'Skor', sonraki_vrd_skor: 'Sonraki dönem skoru', skor: 'Skor',
};

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
    var numeric = !/(^|_)id$|^muta$|^fold$/.test(name) && records.some(function (r) { return isNumber(r[name]); });
    return { label: columnLabel(name), num: numeric, value: function (r) { return r[name]; },
      render: function (td, r) {
        var v = r[name];
        td.textContent = isNumber(v) && !Number.isInteger(v) ? v.toLocaleString('tr-TR', { maximumFractionDigits: 4 }) : text(v);
      } };
  });
}

function drawSummary(container, summary) {
  var grid = container.appendChild(el('div', 'kpis'));
  MODELS.forEach(function (model) {
    var box = grid.appendChild(el('div', 'kpi'));
    box.appendChild(el('h3', '', model.label));
    var entry = summary && summary[model.key];
    if (!entry) {
      box.appendChild(el('p', 'missing', 'Backtest tablosu yok.'));
      return;
    }
    var list = box.appendChild(el('dl'));
    Object.keys(entry).forEach(function (name) {
      if (!METRIC_LABELS[name]) return;
      var value = entry[name];
      list.appendChild(el('dt', '', METRIC_LABELS[name]));
      list.appendChild(el('dd', '', name.indexOf('ort_') === 0 ? (isNumber(value) ? decimal(value, 4) : '–') : wholeNumber(value)));
    });
    var details = entry.donem_metrikleri || entry.fold_detay || [];
    if (details.length) {
      var table = box.appendChild(el('table', 'grid compact'));
      new Grid(table, null, recordColumns(details), { pageSize: 1000 }).setRecords(details);
    }
  });
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

function setUpAdmin(data, firmTitle, pick) {
  var extra = data.extra || {};
  var root = document.getElementById('admin');
  var summary = adminCard('backtest', 'Backtest özeti', 'model başına toplamlar ve ortalamalar');
  drawSummary(summary.card, extra.backtest_summary);
  root.appendChild(summary.card);
  var firms = adminCard('backtest-firmalar', 'Backtest firmaları', 'model ve sonuç türüne göre');
  drawFirmLists(firms.card, extra.backtest_firma, firmTitle, pick);
  root.appendChild(firms.card);
  var count = (extra.ml_predictions || []).length;
  var predictions = adminCard('tahminler', 'ML tahmin listesi', wholeNumber(count) + ' firma, YI olasılığı ' +
    percent(100 * ((data.kurallar || {}).ml_esik || 0), 0) + ' ve üzeri');
  drawPredictions(predictions.card, predictions.head, extra.ml_predictions, pick);
  root.appendChild(predictions.card);
  var models = adminCard('modeller', 'Model ölçümleri', 'tüm portföy; sonuç: firmanın bir sonraki dönemde YI olması');
  drawModelMeasures(models.card, extra.model_olcumleri);
  root.appendChild(models.card);
}
