// The firm rows: the six watch lists, the firms of a flow matrix cell and the firm table
// with its search and filters. A row is an array of values in the order of data.columns.

// Where each list's own sentence starts in the combined reason of a row.
var REASON_STARTS = {
  _hizli_yukselen: /^Son \d+ dönemde \+/, _rejim_degisimi: /^Band geçişi/, _potansiyel_yi: /^Son \d+ dönemin /,
  _erken_sinyal: /^Erken sinyal/, _yakalanan: /^Yakalandı/, _kacirilan: /^Kaçırıldı/,
};
// The table shows at most this many of the latest periods; the firm panel shows all.
var TABLE_PERIODS = 12;
var LIST_PAGE = 10;

function Firms(data) {
  var at = {};
  data.columns.forEach(function (name, i) { at[name] = i; });
  var periods = (data.meta && data.meta.donemler) || [];
  this.data = data;
  this.at = at;
  this.periods = periods.filter(function (p) { return at['vrd' + p] !== undefined; });
  this.lastPeriod = this.periods.length ? this.periods[this.periods.length - 1] : null;
  this.change = periods.length >= 2 && at['df' + periods[periods.length - 2]] !== undefined ? 'df' + periods[periods.length - 2] : null;
  this.previous = periods.length >= 2 ? periods[periods.length - 2] : '';
  this.rows = data.rows;
  var byMuta = {};
  this.rows.forEach(function (r) { byMuta[text(r[at.muta])] = r; });
  this.byMuta = byMuta;
}

Firms.prototype.get = function (row, name) {
  var i = this.at[name];
  return i === undefined ? null : row[i];
};

Firms.prototype.find = function (muta) {
  return this.byMuta[text(muta)] || null;
};

Firms.prototype.name = function (row) {
  return text(this.get(row, 'unvan')) || text(this.get(row, 'muta'));
};

Firms.prototype.branch = function (row) {
  var code = this.get(row, 'sube_kodu');
  return code === null ? '' : this.data.subeler[String(code)] || String(code);
};

Firms.prototype.region = function (row) {
  var code = this.get(row, 'bolge_kodu');
  return code === null ? '' : this.data.bolgeler[String(code)] || String(code);
};

Firms.prototype.score = function (row, period) {
  return this.get(row, 'vrd' + period);
};

Firms.prototype.lastScore = function (row) {
  return this.lastPeriod === null ? null : this.score(row, this.lastPeriod);
};

Firms.prototype.inYi = function (row) {
  return scoreBand(this.lastScore(row)) === YI;
};

Firms.prototype.flagged = function (row, flag) {
  var value = this.get(row, flag);
  return value !== null && value !== 0 && value !== false;
};

Firms.prototype.lists = function (row) {
  var firms = this;
  return LISTS.filter(function (l) { return firms.flagged(row, l.flag); });
};

Firms.prototype.reasonFor = function (row, flag) {
  var parts = text(this.get(row, '_vrd_neden')).split(' | ');
  for (var i = 0; i < parts.length; i++) if (REASON_STARTS[flag].test(parts[i])) return parts[i];
  return text(this.get(row, '_vrd_neden'));
};

// Sort key of a score: "YI" above every number.
function scoreKey(score) {
  if (scoreBand(score) === YI) return SCORE_MAX + 1;
  return isNumber(score) ? score : null;
}

function scoreCsv(score) {
  return score === null || score === undefined ? '' : score;
}

// The YI probability as the page shows it: firms already in YI get none.
Firms.prototype.renderProbability = function (td, row) {
  var probability = this.get(row, '_ml_yi_prob');
  if (this.inYi(row)) {
    td.textContent = 'YI’de';
    td.className += ' muted';
    td.title = 'Firma zaten YI: model yalnızca YI olmayan firmalar için olasılık verir.';
  } else {
    td.textContent = !isNumber(probability) ? '–' : probability > 0 && probability < 0.0005 ? '<%0,1' : percent(100 * probability, 1);
  }
};

Firms.prototype.probabilityCsv = function (row) {
  if (this.inYi(row)) return 'YI';
  var probability = this.get(row, '_ml_yi_prob');
  return isNumber(probability) ? Math.round(probability * 1e6) / 1e6 : '';
};

Firms.prototype.renderFlags = function (td, row) {
  td.className += ' flags';
  this.lists(row).forEach(function (list) {
    var badge = el('span', 'flag flag-' + list.flag, list.short);
    badge.title = list.title;
    td.appendChild(badge);
  });
};

// A cell of text cut to two lines on screen; the whole text in its tooltip and in print.
function renderClamped(td, value) {
  var inner = td.appendChild(el('div', 'clamp', value));
  inner.title = text(value);
}

Firms.prototype.tableColumns = function () {
  var firms = this, columns = [
    { label: 'Muta', cls: 'muta', value: function (r) { return firms.get(r, 'muta'); } },
    { label: 'Ünvan', cls: 'unvan', value: function (r) { return firms.get(r, 'unvan'); },
      render: function (td, r) { renderClamped(td, text(firms.get(r, 'unvan'))); } },
    { label: 'Segment', cls: 'segment', value: function (r) { return firms.get(r, 'segment'); } },
    { label: 'Şube', cls: 'place', value: function (r) { return firms.branch(r); },
      render: function (td, r) { renderClamped(td, firms.branch(r)); } },
    { label: 'Bölge', cls: 'place', value: function (r) { return firms.region(r); },
      render: function (td, r) { renderClamped(td, firms.region(r)); } },
    { label: 'Son risk', num: true, cls: 'amount', title: 'Son dönemin kredi riski: TL tutarı, skor değil',
      value: function (r) { return firms.get(r, 'son_risk'); },
      csv: function (r) { var v = firms.get(r, 'son_risk'); return isNumber(v) ? Math.trunc(v) : ''; },
      render: function (td, r) { renderAmount(td, firms.get(r, 'son_risk')); } },
  ];
  if (this.change) {
    columns.push({ label: 'Değişim', num: true, cls: 'change', title: 'Son risk eksi ' + this.previous + ' riski (TL)',
      value: function (r) { return firms.get(r, firms.change); },
      csv: function (r) { var v = firms.get(r, firms.change); return isNumber(v) ? Math.trunc(v) : ''; },
      render: function (td, r) { renderChange(td, firms.get(r, firms.change)); } });
  }
  this.periods.slice(-TABLE_PERIODS).forEach(function (period) {
    columns.push({ label: period, num: true, cls: 'period', title: period + ' skoru',
      value: function (r) { return scoreKey(firms.score(r, period)); },
      csv: function (r) { return scoreCsv(firms.score(r, period)); },
      render: function (td, r) { renderScore(td, firms.score(r, period)); } });
  });
  if (this.at._ml_yi_prob !== undefined) {
    columns.push({ label: 'YI olas.', num: true, cls: 'prob', title: 'Modelin bir sonraki dönem YI olasılığı',
      value: function (r) { return firms.inYi(r) ? null : firms.get(r, '_ml_yi_prob'); },
      csv: function (r) { return firms.probabilityCsv(r); },
      render: function (td, r) { firms.renderProbability(td, r); } });
  }
  columns.push({ label: 'Listeler', cls: 'flags', title: LISTS.map(function (l) { return l.short + ': ' + l.title; }).join('\n'),
    value: function (r) { return firms.lists(r).length || null; },
    csv: function (r) { return firms.lists(r).map(function (l) { return l.short; }).join(' '); },
    render: function (td, r) { firms.renderFlags(td, r); } });
  columns.push({ label: 'Neden', cls: 'neden', value: function (r) { return firms.get(r, '_vrd_neden'); },
    render: function (td, r) { renderClamped(td, text(firms.get(r, '_vrd_neden'))); } });
  return columns;
};

// A card of firm rows with a title, a count, an explanation, a paged sortable table and
// a CSV download of all of them. `reason(row)` is the text under the firm's name.
Firms.prototype.firmCard = function (card, options) {
  var firms = this;
  var head = card.appendChild(el('div', 'list-head'));
  var title = head.appendChild(el('h3', '', options.title));
  title.appendChild(el('span', 'count', options.count));
  var table = el('table', 'grid compact firms');
  var pager = el('div', 'pager');
  var grid = new Grid(table, pager, [
    { label: 'Firma', cls: 'firm', value: function (r) { return firms.name(r); },
      render: function (td, r) {
        var name = td.appendChild(el('div', 'name'));
        name.appendChild(el('span', 'seg', firms.get(r, 'segment')));
        name.appendChild(document.createTextNode(firms.name(r)));
        name.title = text(firms.get(r, 'muta')) + ' · ' + firms.name(r);
        renderClamped(td, options.reason(r));
      } },
    { label: 'Son risk', num: true, value: function (r) { return firms.get(r, 'son_risk'); },
      render: function (td, r) { td.textContent = shortAmount(firms.get(r, 'son_risk')); td.title = wholeNumber(firms.get(r, 'son_risk')) + ' TL'; } },
  ].concat(options.scores.map(function (period) {
    return { label: options.scores.length > 1 ? period : 'Skor', num: true, title: period + ' skoru',
      value: function (r) { return scoreKey(firms.score(r, period)); },
      render: function (td, r) { renderScore(td, firms.score(r, period)); } };
  })), {
    pageSize: LIST_PAGE, onPick: options.pick, emptyText: options.emptyText,
    csvColumns: [
      { label: 'Muta', value: function (r) { return firms.get(r, 'muta'); } },
      { label: 'Ünvan', value: function (r) { return firms.get(r, 'unvan'); } },
      { label: 'Segment', value: function (r) { return firms.get(r, 'segment'); } },
      { label: 'Neden', value: function (r) { return options.reason(r); } },
      { label: 'Son risk', value: function (r) { var v = firms.get(r, 'son_risk'); return isNumber(v) ? Math.trunc(v) : ''; } },
    ].concat(options.scores.map(function (period) {
      return { label: options.scores.length > 1 ? period + ' skoru' : 'Skor', value: function (r) { return scoreCsv(firms.score(r, period)); } };
    })),
  });
  head.appendChild(csvButton(grid, options.fileName));
  if (options.what) card.appendChild(el('p', 'what', options.what));
  card.appendChild(table);
  card.appendChild(pager);
  grid.setRecords(options.records);
  return grid;
};

// One card per watch list: the edition's firms carrying the list's flag, riskiest first.
Firms.prototype.drawWatchLists = function (container, counts, pick) {
  var firms = this;
  clear(container);
  LISTS.forEach(function (list) {
    var members = firms.rows.filter(function (r) { return firms.flagged(r, list.flag); });
    var total = counts && isNumber(counts[list.flag]) ? counts[list.flag] : members.length;
    var card = container.appendChild(el('div', 'watch' + (list.cls ? ' ' + list.cls : '')));
    card.dataset.flag = list.flag;
    card.dataset.count = members.length;
    firms.firmCard(card, {
      title: list.title, what: list.what, records: members, pick: pick, emptyText: 'Bu listede firma yok.',
      count: wholeNumber(total) + ' firma' + (total > members.length ? ' (' + wholeNumber(members.length) + ' sayfada)' : ''),
      scores: firms.lastPeriod === null ? [] : [firms.lastPeriod],
      reason: function (r) { return firms.reasonFor(r, list.flag); },
      fileName: 'izleme-' + fileSlug(list.title) + '.csv',
    });
  });
};

// The firms behind one cell of the flow matrix, in `container`.
Firms.prototype.drawFlowFirms = function (container, segment, transition, fromBand, toBand, pick) {
  var firms = this;
  var members = this.rows.filter(function (r) {
    return (segment === 'ALL' || text(firms.get(r, 'segment')) === segment) &&
      scoreBand(firms.score(r, transition.from)) === fromBand && scoreBand(firms.score(r, transition.to)) === toBand;
  });
  var cell = (transition.flows.filter(function (f) { return f.from_band === fromBand && f.to_band === toBand; })[0] || {}).count || 0;
  clear(container);
  container.hidden = false;
  var close = el('button', 'close', '×');
  close.type = 'button';
  close.title = 'Kapat';
  close.addEventListener('click', function () { clear(container); container.hidden = true; });
  container.appendChild(close);
  this.firmCard(container, {
    title: transition.from + ' ' + fromBand + ' → ' + transition.to + ' ' + toBand + (segment === 'ALL' ? '' : ' · ' + segment),
    count: wholeNumber(cell) + ' firma' + (members.length < cell ? ' (' + wholeNumber(members.length) + ' sayfada)' : ''),
    records: members, pick: pick, emptyText: 'Bu hücrenin firmaları sayfada yok.',
    scores: [transition.from, transition.to],
    reason: function (r) { return text(firms.get(r, '_vrd_neden')); },
    fileName: 'gecis-' + fileSlug(transition.from + ' ' + fromBand + ' ' + transition.to + ' ' + toBand) + '.csv',
  });
  container.scrollIntoView({ block: 'nearest' });
};

function optionList(values, allLabel) {
  return [{ key: '', label: allLabel }].concat(values);
}

// The firm table and its controls.
Firms.prototype.setUpTable = function (pick) {
  var firms = this, data = this.data;
  var search = document.getElementById('firm-search'), segment = document.getElementById('firm-segment');
  var region = document.getElementById('firm-bolge'), branch = document.getElementById('firm-sube');
  var list = document.getElementById('firm-liste'), shown = document.getElementById('firm-shown');
  var grid = new Grid(document.getElementById('firm-table'), document.getElementById('firm-pager'), this.tableColumns(),
    { pageSize: 100, emptyText: 'Aramaya uyan firma yok.', onPick: pick });
  document.getElementById('firm-controls').appendChild(csvButton(grid, function () {
    return 'firmalar-' + data.edition + '.csv';
  }));
  var haystack = this.rows.map(function (r) {
    return fold([firms.get(r, 'muta'), firms.get(r, 'unvan'), firms.get(r, 'segment'), firms.branch(r), firms.region(r),
      firms.get(r, '_vrd_neden')].join(' '));
  });
  function distinct(value, label) {
    var seen = {};
    firms.rows.forEach(function (r) { var v = value(r); if (v !== null && v !== '') seen[v] = label(r); });
    return Object.keys(seen).map(function (k) { return { key: k, label: seen[k] }; })
      .sort(function (a, b) { return collator.compare(a.label, b.label); });
  }
  fillSelect(segment, optionList(distinct(function (r) { return text(firms.get(r, 'segment')); },
    function (r) { return text(firms.get(r, 'segment')); }), 'Tüm segmentler'), '');
  fillSelect(region, optionList(distinct(function (r) { return text(firms.get(r, 'bolge_kodu')); },
    function (r) { return firms.region(r); }), 'Tüm bölgeler'), '');
  function fillBranches() {
    fillSelect(branch, optionList(distinct(function (r) {
      return !region.value || text(firms.get(r, 'bolge_kodu')) === region.value ? text(firms.get(r, 'sube_kodu')) : null;
    }, function (r) { return firms.branch(r); }), 'Tüm şubeler'), '');
  }
  fillBranches();
  fillSelect(list, [{ key: '', label: 'Tüm firmalar' }, { key: '*', label: 'Herhangi bir listede' }]
    .concat(LISTS.map(function (l) { return { key: l.flag, label: l.title }; })), '');

  function apply() {
    var needle = fold(search.value.trim());
    var picked = [];
    for (var i = 0; i < firms.rows.length; i++) {
      var r = firms.rows[i];
      if (needle && haystack[i].indexOf(needle) < 0) continue;
      if (segment.value && text(firms.get(r, 'segment')) !== segment.value) continue;
      if (region.value && text(firms.get(r, 'bolge_kodu')) !== region.value) continue;
      if (branch.value && text(firms.get(r, 'sube_kodu')) !== branch.value) continue;
      if (list.value === '*' && !firms.lists(r).length) continue;
      if (list.value && list.value !== '*' && !firms.flagged(r, list.value)) continue;
      picked.push(r);
    }
    grid.setRecords(picked);
    shown.dataset.count = picked.length;
    shown.textContent = wholeNumber(picked.length) + ' / ' + wholeNumber(firms.rows.length) + ' firma' +
      (data.firma > firms.rows.length ? ' (görünümde ' + wholeNumber(data.firma) + ' firma var)' : '');
  }
  search.addEventListener('input', apply);
  [segment, branch, list].forEach(function (select) { select.addEventListener('change', apply); });
  region.addEventListener('change', function () { fillBranches(); apply(); });
  document.getElementById('firm-reset').addEventListener('click', function () {
    search.value = segment.value = region.value = list.value = '';
    fillBranches();
    apply();
  });
  grid.sortBy(5, true);
  apply();
  if (this.periods.length > TABLE_PERIODS) {
    footnote(document.getElementById('firm-note'), 'Tabloda son ' + TABLE_PERIODS + ' dönemin skoru var; ' +
      wholeNumber(this.periods.length) + ' dönemin tamamı firma panelinde.');
  }
};
