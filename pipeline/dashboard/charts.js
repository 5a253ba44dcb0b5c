// The band snapshot as stacked bars per period (inline SVG) and the flow matrix of a
// period pair as a band-to-band heat map whose cells list their firms.

var BAND_METRICS = [
  { key: 'count', label: 'Firma sayısı' },
  { key: 'risk_tl', label: 'Risk (TL)' },
  { key: 'share', label: 'Pay (%)' },
];

function segmentOptions(byS) {
  return SEGMENTS.filter(function (s) { return byS && byS[s] && byS[s].length; })
    .map(function (s) { return { key: s, label: SEGMENT_LABELS[s] || s }; });
}

// Rounds a chart maximum up to a round step (1, 1.2, 1.5, 2, ... 8) times a power of ten.
function niceCeiling(value) {
  if (value <= 0) return 1;
  var power = Math.pow(10, Math.floor(Math.log10(value)));
  var steps = [1, 1.2, 1.5, 2, 2.5, 3, 4, 5, 6, 8, 10];
  for (var i = 0; i < steps.length; i++) if (steps[i] * power >= value) return steps[i] * power;
  return 10 * power;
}

function bandTotal(period, metric) {
  return BANDS.reduce(function (sum, band) { var b = period.bands[band]; return sum + (b ? b[metric] : 0); }, 0);
}

function drawBandChart(container, periods, metric) {
  clear(container);
  if (!periods || !periods.length) {
    container.appendChild(el('p', 'missing', 'Bu görünümde bant verisi yok.'));
    return;
  }
  var width = 760, height = 270, left = 58, right = 8, top = 16, bottom = 26;
  var plotW = width - left - right, plotH = height - top - bottom;
  var totals = periods.map(function (p) { return bandTotal(p, metric === 'share' ? 'count' : metric); });
  var max = metric === 'share' ? 100 : niceCeiling(Math.max.apply(null, totals.concat([1])));
  var label = metric === 'risk_tl' ? shortAmount : metric === 'share' ? function (v) { return '%' + Math.round(v); } : wholeNumber;
  var chart = svg('svg', { viewBox: '0 0 ' + width + ' ' + height, role: 'img', 'aria-label': 'Skor bantları' });
  for (var t = 0; t <= 4; t++) {
    var value = max * t / 4, y = top + plotH - plotH * t / 4;
    chart.appendChild(svg('line', { x1: left, x2: width - right, y1: y, y2: y, stroke: t ? '#e5e9ee' : '#9aa5b1' }));
    chart.appendChild(svg('text', { x: left - 6, y: y + 4, 'text-anchor': 'end' }, label(value)));
  }
  var slot = plotW / periods.length, barW = Math.min(64, slot * 0.7);
  periods.forEach(function (p, i) {
    var x = left + slot * i + (slot - barW) / 2, y = top + plotH;
    BANDS.forEach(function (band) {
      var b = p.bands[band];
      if (!b) return;
      var raw = metric === 'share' ? b.count : b[metric];
      var value = metric === 'share' ? (totals[i] ? 100 * raw / totals[i] : 0) : raw;
      var h = plotH * value / max;
      if (h <= 0) return;
      y -= h;
      var rect = svg('rect', { x: x, y: y, width: barW, height: h, fill: BAND_COLORS[band] });
      rect.appendChild(svg('title', {}, p.donem + ' · ' + band + ': ' + wholeNumber(b.count) + ' firma, ' +
        wholeNumber(b.risk_tl) + ' TL' + (totals[i] && metric === 'share' ? ' (' + percent(value, 1) + ')' : '')));
      chart.appendChild(rect);
      if (h >= 14 && barW >= 30) {
        chart.appendChild(svg('text', { x: x + barW / 2, y: y + h / 2 + 4, 'text-anchor': 'middle', 'class': 'in' }, label(value)));
      }
    });
    if (metric !== 'share') {
      chart.appendChild(svg('text', { x: x + barW / 2, y: y - 4, 'text-anchor': 'middle', 'class': 'total' }, label(totals[i])));
    }
    chart.appendChild(svg('text', { x: x + barW / 2, y: height - 8, 'text-anchor': 'middle' }, p.donem));
  });
  container.appendChild(chart);
}

function drawLegend(container) {
  clear(container);
  BANDS.forEach(function (band, i) {
    var item = el('span');
    item.appendChild(el('span', 'swatch ' + bandClass('band-', band)));
    item.appendChild(document.createTextNode(band === YI ? 'YI (Yakın İzleme)' : 'Skor ' + bandInterval(i)));
    container.appendChild(item);
  });
}

// Background of a heat map cell: red for moves to a worse band, green for better ones,
// blue-grey for firms staying, deeper with more firms.
function heatColor(fromIndex, toIndex, share) {
  var alpha = 0.08 + 0.82 * Math.min(1, share);
  if (toIndex > fromIndex) return 'rgba(179, 38, 30, ' + alpha + ')';
  if (toIndex < fromIndex) return 'rgba(46, 125, 50, ' + alpha + ')';
  return 'rgba(18, 53, 91, ' + (0.05 + 0.5 * Math.min(1, share)) + ')';
}

// The head of a band-to-band table (the two periods in its corner, a column per band and
// a total) in `table`; returns its body.
function heatFrame(table, transition, labels, totalLabel) {
  var head = table.appendChild(el('thead')).appendChild(el('tr'));
  var corner = head.appendChild(el('th', 'corner'));
  corner.appendChild(el('span', '', '↓ ' + transition.from));
  corner.appendChild(el('span', '', '→ ' + transition.to));
  labels.forEach(function (label) { head.appendChild(el('th', '', label)); });
  head.appendChild(el('th', 'sum', totalLabel));
  return table.appendChild(el('tbody'));
}

// The heat map of one transition; a click on a filled cell calls pick(fromBand, toBand).
function drawFlowMatrix(container, summary, transition, pick) {
  clear(container);
  clear(summary);
  if (!transition) {
    container.appendChild(el('p', 'missing', 'Bu görünümde dönem çifti yok.'));
    return null;
  }
  var cells = {}, rowSum = {}, colSum = {}, maxMove = 1, maxStay = 1, worse = [0, 0], better = [0, 0], same = [0, 0];
  transition.flows.forEach(function (f) {
    var from = BANDS.indexOf(f.from_band), to = BANDS.indexOf(f.to_band);
    cells[f.from_band + '>' + f.to_band] = f;
    rowSum[f.from_band] = (rowSum[f.from_band] || 0) + f.count;
    colSum[f.to_band] = (colSum[f.to_band] || 0) + f.count;
    if (from === to) maxStay = Math.max(maxStay, f.count); else maxMove = Math.max(maxMove, f.count);
    var bucket = to > from ? worse : to < from ? better : same;
    bucket[0] += f.count;
    bucket[1] += f.risk_tl;
  });
  var table = el('table', 'heat');
  var body = heatFrame(table, transition, BANDS, 'Toplam');
  BANDS.forEach(function (from, i) {
    var tr = body.appendChild(el('tr'));
    tr.appendChild(el('th', '', from));
    BANDS.forEach(function (to, j) {
      var f = cells[from + '>' + to], td = el('td');
      if (f) {
        var share = f.count / (i === j ? maxStay : maxMove);
        td.style.background = heatColor(i, j, share);
        if ((i === j ? 0.05 + 0.5 * share : 0.08 + 0.82 * share) > 0.5) td.style.color = '#fff';
        td.appendChild(el('span', 'n', wholeNumber(f.count)));
        td.appendChild(el('span', 'r', shortAmount(f.risk_tl)));
        td.title = from + ' → ' + to + ': ' + wholeNumber(f.count) + ' firma, ' + wholeNumber(f.risk_tl) +
          ' TL. Firmaları listelemek için tıklayın.';
        td.className = 'pick';
        td.addEventListener('click', function () { pick(from, to); });
      } else {
        td.textContent = '·';
        td.className = 'blank';
      }
      tr.appendChild(td);
    });
    tr.appendChild(el('td', 'sum', wholeNumber(rowSum[from] || 0)));
  });
  var foot = body.appendChild(el('tr'));
  foot.appendChild(el('th', 'sum', 'Toplam'));
  BANDS.forEach(function (band) { foot.appendChild(el('td', 'sum', wholeNumber(colSum[band] || 0))); });
  foot.appendChild(el('td', 'sum', wholeNumber(worse[0] + better[0] + same[0])));
  container.appendChild(table);

  summary.appendChild(document.createTextNode('Kötüleşen: '));
  summary.appendChild(el('b', 'up', wholeNumber(worse[0]) + ' firma'));
  summary.appendChild(document.createTextNode(' (' + shortAmount(worse[1]) + ' TL) · İyileşen: '));
  summary.appendChild(el('b', 'down', wholeNumber(better[0]) + ' firma'));
  summary.appendChild(document.createTextNode(' (' + shortAmount(better[1]) + ' TL) · Aynı bantta: ' +
    wholeNumber(same[0]) + ' firma. Hücrelerde firma sayısı ve sonraki dönemin riski (TL); bir hücreye tıklayınca firmaları listelenir.'));
  return { total: worse[0] + better[0] + same[0], yi: colSum[YI] || 0 };
}

// The band record of one period and segment of the snapshot, or null.
function snapshotOf(record, segment, period) {
  var list = (record.band_snapshot || {})[segment] || [];
  for (var i = 0; i < list.length; i++) if (list[i].donem === period) return list[i];
  return null;
}

// The band chart; show(record) draws a scope's (see PageFilter).
function BandChart() {
  var chart = this;
  this.state = { segment: 'ALL', metric: 'count' };
  this.record = {};
  tabs(document.getElementById('band-metric'), BAND_METRICS, this.state.metric, function (key) { chart.state.metric = key; chart.draw(); });
  drawLegend(document.getElementById('band-legend'));
}

BandChart.prototype.show = function (record) {
  var chart = this, segments = segmentOptions(record.band_snapshot);
  this.record = record;
  if (!segments.some(function (s) { return s.key === chart.state.segment; })) this.state.segment = 'ALL';
  tabs(document.getElementById('band-segments'), segments, this.state.segment, function (key) { chart.state.segment = key; chart.draw(); });
  this.draw();
};

BandChart.prototype.draw = function () {
  var record = this.record, state = this.state;
  var periods = (record.band_snapshot || {})[state.segment];
  drawBandChart(document.getElementById('band-chart'), periods, state.metric);
  var last = periods && periods.length ? periods[periods.length - 1] : null;
  var counted = last ? bandTotal(last, 'count') : 0;
  footnote(document.getElementById('band-note'), last && state.segment === 'ALL' && counted < record.firma
    ? 'Çubuklar yalnızca o dönemde skoru (ya da YI durumu) olan firmaları sayar: görünümde ' + wholeNumber(record.firma) +
      ' firma var, ' + last.donem + ' çubuğunda ' + wholeNumber(counted) + '; o dönemde skoru olmayan ' +
      wholeNumber(record.firma - counted) + ' firma çubukta yer almaz.'
    : 'Çubuklar yalnızca o dönemde skoru (ya da YI durumu) olan firmaları sayar.');
};

// The flow matrix; show(record) draws a scope's. pickCell(segment, transition, fromBand,
// toBand) is called for a click on a cell.
function FlowMatrix(pickCell) {
  var flow = this;
  this.record = {};
  this.segment = document.getElementById('flow-segment');
  this.pair = document.getElementById('flow-pair');
  this.pickCell = pickCell;
  this.segment.addEventListener('change', function () { flow.fillPairs(); flow.draw(); });
  this.pair.addEventListener('change', function () { flow.draw(); });
}

FlowMatrix.prototype.pairs = function () {
  return (this.record.flow_matrix || {})[this.segment.value] || [];
};

FlowMatrix.prototype.fillPairs = function () {
  var list = this.pairs(), chosen = this.pair.value;
  var options = list.map(function (t, i) { return { key: String(i), label: t.from + ' → ' + t.to }; }).reverse();
  fillSelect(this.pair, options, options.some(function (o) { return o.key === chosen; }) ? chosen : String(list.length - 1));
};

FlowMatrix.prototype.show = function (record) {
  var segments = segmentOptions(record.flow_matrix || {}), chosen = this.segment.value || 'ALL';
  this.record = record;
  fillSelect(this.segment, segments.length ? segments : [{ key: 'ALL', label: 'Tümü' }],
    segments.some(function (s) { return s.key === chosen; }) ? chosen : 'ALL');
  this.fillPairs();
  this.draw();
};

FlowMatrix.prototype.draw = function () {
  var flow = this, record = this.record, segment = this.segment.value;
  var transition = this.pairs()[Number(this.pair.value)];
  var shown = drawFlowMatrix(document.getElementById('flow-matrix'), document.getElementById('flow-summary'), transition,
    function (from, to) { flow.pickCell(segment, transition, from, to); });
  var snapshot = transition ? snapshotOf(record, segment, transition.to) : null;
  var note = 'Matris yalnızca iki dönemde de skoru (ya da YI durumu) olan firmaları sayar.';
  if (shown && snapshot) {
    var inPeriod = bandTotal(snapshot, 'count'), yi = snapshot.bands[YI] ? snapshot.bands[YI].count : 0;
    note += ' ' + transition.to + ' döneminde ' + wholeNumber(inPeriod) + ' firmanın bandı var, matriste ' +
      wholeNumber(shown.total) + '; ' + transition.from + ' döneminde skoru olmayan ' + wholeNumber(inPeriod - shown.total) +
      ' firma düşer. Bu yüzden YI sütunu ' + wholeNumber(shown.yi) + ' firma sayarken ' + transition.to +
      ' döneminde YI firma sayısı ' + wholeNumber(yi) + '.';
  }
  footnote(document.getElementById('flow-note'), note);
};
