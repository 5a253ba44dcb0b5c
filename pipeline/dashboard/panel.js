// The firm panel: one firm's identity, every score's history (the early-warning score,
// and the EUS score, YIS and ML probabilities where the run kept them), its risk over
// every period, the lists it was on in each period, the lists it is on now and why, its
// YI probability with the model's main drivers, and in the admin edition its backtest
// outcomes. The address "#firma=MUTA" opens it, so a link to one firm can be sent on;
// it prints alone.

var FEATURE_LABELS = {
  skor: 'Skor', skor_eksik: 'Skor eksik', skor_d1: 'Skor değişimi (1 dönem)', skor_d3: 'Skor değişimi (3 dönem)',
  log_risk: 'Risk büyüklüğü', risk_degisim_orani: 'Risk değişim oranı', gecikme_gun: 'Gecikme (gün)',
  limit_kullanim_orani: 'Limit kullanım oranı', cek_karsiliksiz: 'Karşılıksız çek', memzuc_orani: 'Memzuç / risk oranı',
  banka_sayisi: 'Banka sayısı', diag_bulgu_sayisi: 'Teşhis bulgusu sayısı', kapsam_disi: 'EUS kapsamı dışında',
};
var OUTCOME_LABELS = { tp: 'Doğru alarm (TP)', fp: 'Yanlış alarm (FP)', fn: 'Kaçırılan (FN)' };

function firmLink(muta) {
  return '#firma=' + encodeURIComponent(text(muta));
}

// A line chart of the score over the periods on the band zones; "YI" periods are marked
// on top, periods without a score leave a gap. `others` are more lines on the same
// scale: [{label, color, values}].
function drawScoreHistory(container, periods, scores, others) {
  var width = 520, height = 210, left = 36, right = 10, top = 22, bottom = 24, inset = 24;
  var plotW = width - left - right, plotH = height - top - bottom;
  var chart = svg('svg', { viewBox: '0 0 ' + width + ' ' + height, role: 'img', 'aria-label': 'Skor geçmişi' });
  var y = function (v) { return top + plotH - plotH * Math.max(0, Math.min(SCORE_MAX, v)) / SCORE_MAX; };
  var x = function (i) { return left + inset + (periods.length > 1 ? (plotW - 2 * inset) * i / (periods.length - 1) : plotW / 2 - inset); };
  var edges = [0].concat(BAND_EDGES, [SCORE_MAX]);
  for (var b = 0; b + 1 < edges.length; b++) {
    chart.appendChild(svg('rect', { x: left, width: plotW, y: y(edges[b + 1]), height: y(edges[b]) - y(edges[b + 1]),
      fill: BAND_COLORS[BANDS[b]], 'fill-opacity': 0.13 }));
    chart.appendChild(svg('text', { x: left - 4, y: y(edges[b]) + 4, 'text-anchor': 'end' }, edges[b]));
  }
  chart.appendChild(svg('text', { x: left - 4, y: y(SCORE_MAX) + 4, 'text-anchor': 'end' }, SCORE_MAX));
  var path = '', open = false;
  scores.forEach(function (score, i) {
    var band = scoreBand(score);
    if (band === null || band === YI) { open = false; return; }
    path += (open ? ' L' : ' M') + x(i) + ' ' + y(Number(score));
    open = true;
  });
  if (path) chart.appendChild(svg('path', { d: path, fill: 'none', stroke: '#12355b', 'stroke-width': 2 }));
  (others || []).forEach(function (line) {
    var d = linePath(line.values, x, function (v) { return y(v); });
    if (d) chart.appendChild(svg('path', { d: d, fill: 'none', stroke: line.color, 'stroke-width': 1.5, 'stroke-dasharray': '5 3' }));
  });
  scores.forEach(function (score, i) {
    var band = scoreBand(score);
    if (band === YI) {
      chart.appendChild(svg('rect', { x: x(i) - 11, y: 2, width: 22, height: 15, rx: 3, fill: BAND_COLORS[YI] }));
      chart.appendChild(svg('text', { x: x(i), y: 13, 'text-anchor': 'middle', 'class': 'in' }, YI));
      chart.appendChild(svg('line', { x1: x(i), x2: x(i), y1: top, y2: top + plotH, stroke: BAND_COLORS[YI], 'stroke-dasharray': '3 3' }));
    } else if (band !== null) {
      var dot = svg('circle', { cx: x(i), cy: y(Number(score)), r: 4, fill: BAND_COLORS[band], stroke: '#fff' });
      dot.appendChild(svg('title', {}, periods[i] + ': ' + score));
      chart.appendChild(dot);
    }
    if (labelShown(i, periods.length)) chart.appendChild(svg('text', { x: x(i), y: height - 6, 'text-anchor': 'middle' }, periods[i]));
  });
  container.appendChild(chart);
}

// Whether period i of n gets its label under a chart: at most six, the last always.
function labelShown(i, n) {
  return (n - 1 - i) % Math.ceil(n / 6) === 0;
}

// Bars of the risk (TL exposure) per period.
function drawRiskHistory(container, periods, risks) {
  var width = 520, height = 150, left = 56, right = 10, top = 10, bottom = 24;
  var plotW = width - left - right, plotH = height - top - bottom;
  var max = niceCeiling(Math.max.apply(null, risks.filter(isNumber).map(Math.abs).concat([1])));
  var chart = svg('svg', { viewBox: '0 0 ' + width + ' ' + height, role: 'img', 'aria-label': 'Risk geçmişi' });
  [0, 0.5, 1].forEach(function (t) {
    var yy = top + plotH - plotH * t;
    chart.appendChild(svg('line', { x1: left, x2: width - right, y1: yy, y2: yy, stroke: t ? '#e5e9ee' : '#9aa5b1' }));
    chart.appendChild(svg('text', { x: left - 6, y: yy + 4, 'text-anchor': 'end' }, shortAmount(max * t)));
  });
  var slot = plotW / Math.max(1, periods.length), barW = Math.min(40, slot * 0.6);
  risks.forEach(function (risk, i) {
    var cx = left + slot * i + slot / 2;
    if (isNumber(risk)) {
      var h = plotH * Math.abs(risk) / max;
      var bar = svg('rect', { x: cx - barW / 2, y: top + plotH - h, width: barW, height: h, fill: '#5b7db1' });
      bar.appendChild(svg('title', {}, periods[i] + ': ' + wholeNumber(risk) + ' TL'));
      chart.appendChild(bar);
    }
    if (labelShown(i, periods.length)) chart.appendChild(svg('text', { x: cx, y: height - 6, 'text-anchor': 'middle' }, periods[i]));
  });
  container.appendChild(chart);
}

// The SVG path through the numbers of `values`; a missing one leaves a gap.
function linePath(values, x, y) {
  var path = '', open = false;
  values.forEach(function (value, i) {
    if (!isNumber(value)) { open = false; return; }
    path += (open ? ' L' : ' M') + x(i) + ' ' + y(value);
    open = true;
  });
  return path;
}

// Lines of probabilities (0 to 1) over the periods, in per cent: [{label, color, values}].
function drawProbabilityHistory(container, periods, lines) {
  var width = 520, height = 150, left = 36, right = 10, top = 10, bottom = 24, inset = 24;
  var plotW = width - left - right, plotH = height - top - bottom;
  var max = niceCeiling(Math.max.apply(null, [0.05].concat.apply([], lines.map(function (l) { return l.values.filter(isNumber); }))));
  var chart = svg('svg', { viewBox: '0 0 ' + width + ' ' + height, role: 'img', 'aria-label': 'Olasılık geçmişi' });
  var y = function (v) { return top + plotH - plotH * Math.max(0, Math.min(max, v)) / max; };
  var x = function (i) { return left + inset + (periods.length > 1 ? (plotW - 2 * inset) * i / (periods.length - 1) : plotW / 2 - inset); };
  [0, 0.5, 1].forEach(function (t) {
    chart.appendChild(svg('line', { x1: left, x2: width - right, y1: y(max * t), y2: y(max * t), stroke: t ? '#e5e9ee' : '#9aa5b1' }));
    chart.appendChild(svg('text', { x: left - 4, y: y(max * t) + 4, 'text-anchor': 'end' }, '%' + Math.round(100 * max * t)));
  });
  lines.forEach(function (line) {
    var d = linePath(line.values, x, y);
    if (d) chart.appendChild(svg('path', { d: d, fill: 'none', stroke: line.color, 'stroke-width': 2 }));
    line.values.forEach(function (v, i) {
      if (!isNumber(v)) return;
      var dot = chart.appendChild(svg('circle', { cx: x(i), cy: y(v), r: 3, fill: line.color }));
      dot.appendChild(svg('title', {}, line.label + ' ' + periods[i] + ': ' + percent(100 * v, 1)));
    });
  });
  periods.forEach(function (period, i) {
    if (labelShown(i, periods.length)) chart.appendChild(svg('text', { x: x(i), y: height - 6, 'text-anchor': 'middle' }, period));
  });
  container.appendChild(chart);
}

function legend(container, lines) {
  var box = container.appendChild(el('div', 'legend'));
  lines.forEach(function (line) {
    var item = box.appendChild(el('span'));
    var swatch = item.appendChild(el('span', 'swatch'));
    swatch.style.background = line.color;
    item.appendChild(document.createTextNode(line.label));
  });
}

// The EUS line shares the score chart with the early-warning score, drawn in the
// colour the model charts give EUS: here it takes another.
var PANEL_EUS_COLOR = '#0e7490';

function panelSection(panel, title) {
  var section = panel.appendChild(el('div', 'panel-part'));
  section.appendChild(el('h3', '', title));
  return section;
}

function FirmPanel(firms, data) {
  this.firms = firms;
  this.data = data;
  this.node = document.getElementById('firma-panel');
  this.muta = null;
  this.showing = 0;
  var panel = this;
  document.addEventListener('keydown', function (event) { if (event.key === 'Escape') panel.close(); });
}

// Follows the address: opens the firm it names, or closes the panel.
FirmPanel.prototype.followAddress = function (params) {
  if (params.firma) {
    if (params.firma !== this.muta || this.node.hidden) return this.show(params.firma);
    return Promise.resolve();
  }
  this.hide();
  return Promise.resolve();
};

// Opens the panel on a firm and puts its link in the address.
FirmPanel.prototype.open = function (muta) {
  var params = addressParams(location.hash);
  params.firma = text(muta);
  setAddress(params);
  return this.show(muta);
};

FirmPanel.prototype.close = function () {
  if (this.node.hidden) return;
  this.hide();
  var params = addressParams(location.hash);
  delete params.firma;
  setAddress(params);
};

FirmPanel.prototype.hide = function () {
  this.node.hidden = true;
  this.muta = null;
  this.showing++;
  document.body.classList.remove('panel-open');
};

FirmPanel.prototype.frame = function (title) {
  var panel = clear(this.node), self = this;
  panel.hidden = false;
  document.body.classList.add('panel-open');
  var head = panel.appendChild(el('div', 'panel-head'));
  var tools = head.appendChild(el('span', 'panel-tools'));
  var close = tools.appendChild(el('button', 'close', '×'));
  close.type = 'button';
  close.title = 'Kapat (Esc)';
  close.addEventListener('click', function () { self.close(); });
  var print = tools.appendChild(el('button', 'print', 'Yazdır'));
  print.type = 'button';
  print.title = 'Yalnızca bu firmayı yazdırır.';
  print.addEventListener('click', function () { printOnly('print-firm'); });
  head.appendChild(el('h2', 'panel-title', title));
  return panel;
};

// Finds the firm in the edition's data and draws it; resolves once drawn.
FirmPanel.prototype.show = function (muta) {
  var self = this, firms = this.firms, token = ++this.showing;
  this.muta = text(muta);
  this.node.dataset.state = 'loading';
  this.frame('Muta ' + text(muta)).appendChild(el('p', 'missing', 'Firma yükleniyor…'));
  return firms.store.findMuta(muta).then(function (place) {
    return place < 0 ? null : firms.store.firm(place);
  }).then(function (firm) {
    if (token !== self.showing) return;
    if (!firm) {
      self.frame('Muta ' + text(muta)).appendChild(el('p', 'missing', 'Bu firma bu sürümde yok: sürümün firmaları arasında değil.'));
      self.node.dataset.state = 'missing';
      return;
    }
    self.draw(firm);
    self.node.dataset.state = 'open';
  }, function (error) {
    if (token !== self.showing) return;
    self.frame('Muta ' + text(muta)).appendChild(el('p', 'missing failed', error.message));
    self.node.dataset.state = 'failed';
  });
};

FirmPanel.prototype.draw = function (firm) {
  var firms = this.firms, panel = this.frame(firms.name(firm));
  var identity = panel.appendChild(el('dl', 'identity'));
  [['Muta', firm.get('muta')], ['Ünvan', firm.get('unvan')], ['Segment', firm.get('segment')],
    ['Şube', firms.branch(firm)], ['Bölge', firms.region(firm)], ['Son risk', isNumber(firm.get('son_risk')) ? wholeNumber(firm.get('son_risk')) + ' TL' : MISSING_TEXT]]
    .forEach(function (pair) {
      identity.appendChild(el('dt', '', pair[0]));
      identity.appendChild(el('dd', '', text(pair[1]) || '–'));
    });
  var link = panel.appendChild(el('div', 'link'));
  link.appendChild(el('span', 'label', 'Bağlantı'));
  var address = link.appendChild(el('input'));
  address.readOnly = true;
  address.value = location.href.split('#')[0].split('/').pop() + firmLink(firm.get('muta'));
  address.title = 'Bu firmayı açan bağlantı: sayfa dosyasının adının sonuna eklenir.';
  address.addEventListener('focus', function () { address.select(); });

  var periods = firms.periods;
  var scores = firm.get('vrd') || [], risks = firm.get('r') || [];
  var models = firms.models.map(function (m) {
    return { key: m.key, label: m.label, color: m.key === 'eus' ? PANEL_EUS_COLOR : MODEL_COLORS[m.key] || '#333',
      values: firm.get(m.key) || [] };
  });
  var scoreLines = models.filter(function (m) { return m.key === 'eus'; });
  var probabilityLines = models.filter(function (m) { return m.key !== 'eus'; });
  var scoreSection = panelSection(panel, 'Skor geçmişi');
  drawScoreHistory(scoreSection, periods, scores, scoreLines);
  if (scoreLines.length) legend(scoreSection, [{ label: 'VRD skoru', color: '#12355b' }].concat(scoreLines));
  if (probabilityLines.length) {
    var probabilities = panelSection(panel, 'Model olasılıkları (bir sonraki dönem YI)');
    drawProbabilityHistory(probabilities, periods, probabilityLines);
    legend(probabilities, probabilityLines);
  }
  drawRiskHistory(panelSection(panel, 'Risk geçmişi (TL)'), periods, risks);
  var timeline = panel.appendChild(el('table', 'grid compact history'));
  var headRow = timeline.appendChild(el('thead')).appendChild(el('tr'));
  ['Dönem', 'VRD', 'Bant'].concat(models.map(function (m) { return m.label; }), ['Risk (TL)', 'Listeler'])
    .forEach(function (label, i) { headRow.appendChild(el('th', i && label !== 'Listeler' ? 'num' : '', label)); });
  var body = timeline.appendChild(el('tbody'));
  periods.forEach(function (period, i) {
    var tr = body.appendChild(el('tr'));
    tr.appendChild(el('td', '', period));
    renderScore(tr.appendChild(el('td', 'num')), scores[i]);
    tr.appendChild(el('td', 'num', scoreBand(scores[i]) || '–'));
    models.forEach(function (m) {
      var v = m.values[i];
      tr.appendChild(el('td', 'num model', !isNumber(v) ? '–' : m.key === 'eus' ? decimal(v, 0) : percent(100 * v, 1)));
    });
    tr.appendChild(el('td', 'num', isNumber(risks[i]) ? wholeNumber(risks[i]) : MISSING_TEXT));
    renderFlags(tr.appendChild(el('td', 'lists')), firms.listsAt(firm, i));
  });
  panel.appendChild(el('p', 'what', 'Listeler sütunu, firmanın o dönemde (o döneme kadarki skorlarıyla) hangi izleme ' +
    'listelerinde olduğunu gösterir.'));

  var lists = panelSection(panel, 'İzleme listeleri (son dönem)');
  var onLists = firms.lists(firm);
  if (!onLists.length) lists.appendChild(el('p', 'missing', 'Firma hiçbir izleme listesinde değil.'));
  onLists.forEach(function (list) {
    var item = lists.appendChild(el('div', 'list-reason'));
    var badge = item.appendChild(el('span', 'flag flag-' + list.flag, list.short));
    badge.title = list.rule;
    item.appendChild(el('b', '', list.title + ': '));
    item.appendChild(document.createTextNode(firms.reasonFor(firm, list.flag)));
  });

  this.drawModel(panelSection(panel, 'YI olasılığı ve modelin etkenleri'), firm);
  if (this.data.edition === 'admin') this.drawBacktests(panelSection(panel, 'Backtest sonuçları'), firm.get('muta'));
};

FirmPanel.prototype.drawModel = function (section, firm) {
  var firms = this.firms, probability = firm.get('olasilik'), drivers = firm.get('etkenler');
  if (firms.inYi(firm)) {
    section.appendChild(el('p', '', 'Firma bu dönem YI: model yalnızca YI olmayan firmaların bir sonraki dönem YI olasılığını verir.'));
  } else if (isNumber(probability)) {
    var line = section.appendChild(el('p', 'probability' + (probability >= this.data.kurallar.ml_esik ? ' high' : '')));
    line.appendChild(el('b', '', percent(100 * probability, 1)));
    line.appendChild(document.createTextNode(' bir sonraki dönem YI olasılığı' +
      (probability >= this.data.kurallar.ml_esik ? ' (tahmin listesinde)' : '')));
  } else {
    section.appendChild(el('p', 'missing', 'Bu firma için model olasılığı yok.'));
  }
  if (!drivers || !drivers.length) {
    if (!firms.inYi(firm)) section.appendChild(el('p', 'missing', 'Modelin bu firma için açıklaması yok.'));
    return;
  }
  section.appendChild(el('p', 'what', 'En güçlü etkenler (SHAP katkısı, log-odds): artı değerler olasılığı yükseltir, eksi değerler düşürür.'));
  var max = Math.max.apply(null, drivers.map(function (d) { return Math.abs(d[1] || 0); }).concat([1e-9]));
  var table = section.appendChild(el('table', 'drivers'));
  drivers.forEach(function (driver) {
    var tr = table.appendChild(el('tr'));
    tr.appendChild(el('td', 'feature', FEATURE_LABELS[driver[0]] || text(driver[0])));
    var barCell = tr.appendChild(el('td', 'bar'));
    var bar = barCell.appendChild(el('span', driver[1] > 0 ? 'up' : 'down'));
    bar.style.width = Math.round(100 * Math.abs(driver[1] || 0) / max) + '%';
    tr.appendChild(el('td', 'num', isNumber(driver[1]) ? (driver[1] > 0 ? '+' : '') + decimal(driver[1], 3) : '–'));
  });
};

FirmPanel.prototype.drawBacktests = function (section, muta) {
  var lists = (this.data.extra || {}).backtest_firma || {}, found = [];
  MODELS.forEach(function (model) {
    Object.keys(OUTCOME_LABELS).forEach(function (category) {
      ((lists[model.key] || {})[category] || []).forEach(function (entry) {
        if (text(entry.entity_id) === text(muta)) found.push({ model: model.label, category: category, entry: entry });
      });
    });
  });
  if (!found.length) {
    section.appendChild(el('p', 'missing', 'Firma hiçbir modelin backtest alarm ya da kaçırma listesinde değil.'));
    return;
  }
  var table = section.appendChild(el('table', 'grid compact'));
  var head = table.appendChild(el('thead')).appendChild(el('tr'));
  ['Model', 'Dönem', 'Sonuç', 'Skor / olasılık'].forEach(function (label) { head.appendChild(el('th', '', label)); });
  var body = table.appendChild(el('tbody'));
  found.sort(function (a, b) { return collator.compare(text(a.entry.donem), text(b.entry.donem)); }).forEach(function (f) {
    var tr = body.appendChild(el('tr'));
    tr.appendChild(el('td', '', f.model));
    tr.appendChild(el('td', '', f.entry.donem));
    tr.appendChild(el('td', 'outcome-' + f.category, OUTCOME_LABELS[f.category]));
    var value = ['eus_skor', 'yis_olasilik', 'yi_prob', 'skor'].map(function (k) { return f.entry[k]; }).filter(isNumber)[0];
    tr.appendChild(el('td', 'num', isNumber(value) ? decimal(value, value < 1 ? 4 : 0) : '–'));
  });
};
