// The firm panel: one firm's identity, its score and risk over every period, the lists
// it is on and why, its YI probability with the model's main drivers, and in the admin
// edition its backtest outcomes. The address "#firma=MUTA" opens it, so a link to one
// firm can be sent on.

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

// The "muta" of an address such as "#firma=1001538", or null.
function linkedFirm(hash) {
  var match = /^#firma=(.+)$/.exec(hash || '');
  if (!match) return null;
  try { return decodeURIComponent(match[1]); } catch (e) { return match[1]; }
}

// A line chart of the score over the periods on the band zones; "YI" periods are marked
// on top, periods without a score leave a gap.
function drawScoreHistory(container, periods, scores) {
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
    chart.appendChild(svg('text', { x: x(i), y: height - 6, 'text-anchor': 'middle' }, periods[i]));
  });
  container.appendChild(chart);
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
    chart.appendChild(svg('text', { x: cx, y: height - 6, 'text-anchor': 'middle' }, periods[i]));
  });
  container.appendChild(chart);
}

// Changes the address without a new history entry (some browsers refuse this for a file
// opened from disk; the address then changes the ordinary way).
function setAddress(address) {
  try {
    history.replaceState(null, '', address);
  } catch (e) {
    location.hash = address.indexOf('#') >= 0 ? address.slice(address.indexOf('#')) : '';
  }
}

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
  var panel = this;
  document.addEventListener('keydown', function (event) { if (event.key === 'Escape') panel.close(); });
  window.addEventListener('hashchange', function () { panel.followAddress(); });
}

FirmPanel.prototype.followAddress = function () {
  var muta = linkedFirm(location.hash);
  if (muta !== null) this.show(muta); else this.hide();
};

// Opens the panel on a firm and puts its link in the address bar.
FirmPanel.prototype.open = function (muta) {
  if (location.hash !== firmLink(muta)) setAddress(firmLink(muta));
  this.show(muta);
};

FirmPanel.prototype.close = function () {
  if (this.node.hidden) return;
  this.hide();
  setAddress(location.pathname + location.search);
};

FirmPanel.prototype.hide = function () {
  this.node.hidden = true;
  this.muta = null;
  document.body.classList.remove('panel-open');
};

FirmPanel.prototype.show = function (muta) {
  var firms = this.firms, row = firms.find(muta), panel = clear(this.node), self = this;
  this.muta = text(muta);
  panel.hidden = false;
  document.body.classList.add('panel-open');
  var head = panel.appendChild(el('div', 'panel-head'));
  var close = head.appendChild(el('button', 'close', '×'));
  close.type = 'button';
  close.title = 'Kapat (Esc)';
  close.addEventListener('click', function () { self.close(); });
  if (!row) {
    head.appendChild(el('h2', '', 'Muta ' + text(muta)));
    panel.appendChild(el('p', 'missing', 'Bu firma bu sayfada yok: bu sürümün firmaları arasında değil ya da sayfa ' +
      'boyutu sınırı nedeniyle dışarıda kaldı.'));
    return;
  }
  head.appendChild(el('h2', 'panel-title', firms.name(row)));
  var identity = panel.appendChild(el('dl', 'identity'));
  [['Muta', firms.get(row, 'muta')], ['Ünvan', firms.get(row, 'unvan')], ['Segment', firms.get(row, 'segment')],
    ['Şube', firms.branch(row)], ['Bölge', firms.region(row)], ['Son risk', wholeNumber(firms.get(row, 'son_risk')) + ' TL']]
    .forEach(function (pair) {
      identity.appendChild(el('dt', '', pair[0]));
      identity.appendChild(el('dd', '', text(pair[1]) || '–'));
    });
  var link = panel.appendChild(el('div', 'link'));
  link.appendChild(el('span', 'label', 'Bağlantı'));
  var address = link.appendChild(el('input'));
  address.readOnly = true;
  address.value = location.href.split('#')[0].split('/').pop() + firmLink(firms.get(row, 'muta'));
  address.title = 'Bu firmayı açan bağlantı: sayfa dosyasının adının sonuna eklenir.';
  address.addEventListener('focus', function () { address.select(); });

  var periods = firms.periods;
  var scores = periods.map(function (p) { return firms.score(row, p); });
  var risks = periods.map(function (p) { return firms.get(row, 'r' + p); });
  drawScoreHistory(panelSection(panel, 'Skor geçmişi'), periods, scores);
  drawRiskHistory(panelSection(panel, 'Risk geçmişi (TL)'), periods, risks);
  var timeline = panel.appendChild(el('table', 'grid compact history'));
  var headRow = timeline.appendChild(el('thead')).appendChild(el('tr'));
  ['Dönem', 'Skor', 'Bant', 'Risk (TL)'].forEach(function (label, i) { headRow.appendChild(el('th', i ? 'num' : '', label)); });
  var body = timeline.appendChild(el('tbody'));
  periods.forEach(function (period, i) {
    var tr = body.appendChild(el('tr'));
    tr.appendChild(el('td', '', period));
    renderScore(tr.appendChild(el('td', 'num')), scores[i]);
    tr.appendChild(el('td', 'num', scoreBand(scores[i]) || '–'));
    tr.appendChild(el('td', 'num', isNumber(risks[i]) ? wholeNumber(risks[i]) : '–'));
  });

  var lists = panelSection(panel, 'İzleme listeleri');
  var onLists = firms.lists(row);
  if (!onLists.length) lists.appendChild(el('p', 'missing', 'Firma hiçbir izleme listesinde değil.'));
  onLists.forEach(function (list) {
    var item = lists.appendChild(el('div', 'list-reason'));
    var badge = item.appendChild(el('span', 'flag flag-' + list.flag, list.short));
    badge.title = list.rule;
    item.appendChild(el('b', '', list.title + ': '));
    item.appendChild(document.createTextNode(firms.reasonFor(row, list.flag)));
  });

  this.drawModel(panelSection(panel, 'YI olasılığı ve modelin etkenleri'), row);
  if (this.data.edition === 'admin') this.drawBacktests(panelSection(panel, 'Backtest sonuçları'), firms.get(row, 'muta'));
};

FirmPanel.prototype.drawModel = function (section, row) {
  var firms = this.firms, probability = firms.get(row, '_ml_yi_prob'), drivers = firms.get(row, '_ml_aciklama');
  if (firms.inYi(row)) {
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
    if (!firms.inYi(row)) section.appendChild(el('p', 'missing', 'Modelin bu firma için açıklaması yok.'));
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
