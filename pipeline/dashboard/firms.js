// The firm rows: the six watch lists and the firm table with its search and filters.
// A row is an array of values in the order of data.columns.

// Where each list's own sentence starts in the combined reason of a row.
var REASON_STARTS = {
  _hizli_yukselen: /^Son \d+ dönemde \+/, _rejim_degisimi: /^Band geçişi/, _potansiyel_yi: /^Son \d+ dönemin /,
  _erken_sinyal: /^Erken sinyal/, _yakalanan: /^Yakalandı/, _kacirilan: /^Kaçırıldı/,
};

function Firms(data) {
  var at = {};
  data.columns.forEach(function (name, i) { at[name] = i; });
  var periods = (data.meta && data.meta.donemler) || [];
  this.data = data;
  this.at = at;
  this.scores = data.columns.filter(function (name) { return name.indexOf('vrd') === 0; });
  this.lastScore = this.scores.length ? this.scores[this.scores.length - 1] : null;
  this.change = periods.length >= 2 && at['df' + periods[periods.length - 2]] !== undefined ? 'df' + periods[periods.length - 2] : null;
  this.previous = periods.length >= 2 ? periods[periods.length - 2] : '';
  this.rows = data.rows;
}

Firms.prototype.get = function (row, name) {
  var i = this.at[name];
  return i === undefined ? null : row[i];
};

Firms.prototype.branch = function (row) {
  var code = this.get(row, 'sube_kodu');
  return code === null ? '' : this.data.subeler[String(code)] || String(code);
};

Firms.prototype.region = function (row) {
  var code = this.get(row, 'bolge_kodu');
  return code === null ? '' : this.data.bolgeler[String(code)] || String(code);
};

Firms.prototype.flagged = function (row, flag) {
  var value = this.get(row, flag);
  return value !== null && value !== 0 && value !== false;
};

Firms.prototype.reasonFor = function (row, flag) {
  var parts = text(this.get(row, '_vrd_neden')).split(' | ');
  for (var i = 0; i < parts.length; i++) if (REASON_STARTS[flag].test(parts[i])) return parts[i];
  return text(this.get(row, '_vrd_neden'));
};

// Sort key of a score: "YI" above every number.
function scoreKey(score) {
  if (scoreBand(score) === 'YI') return 1001;
  return isNumber(score) ? score : null;
}

Firms.prototype.renderFlags = function (td, row) {
  var firms = this;
  td.className += ' flags';
  LISTS.forEach(function (list) {
    if (!firms.flagged(row, list.flag)) return;
    var badge = el('span', 'flag flag-' + list.flag, list.short);
    badge.title = list.title;
    td.appendChild(badge);
  });
};

Firms.prototype.tableColumns = function () {
  var firms = this, at = this.at, columns = [
    { label: 'Muta', value: function (r) { return firms.get(r, 'muta'); } },
    { label: 'Ünvan', cls: 'unvan', value: function (r) { return firms.get(r, 'unvan'); },
      render: function (td, r) { td.textContent = text(firms.get(r, 'unvan')); td.title = td.textContent; } },
    { label: 'Segment', value: function (r) { return firms.get(r, 'segment'); } },
    { label: 'Şube', cls: 'place', value: function (r) { return firms.branch(r); },
      render: function (td, r) { td.textContent = td.title = firms.branch(r); } },
    { label: 'Bölge', cls: 'place', value: function (r) { return firms.region(r); },
      render: function (td, r) { td.textContent = td.title = firms.region(r); } },
    { label: 'Son risk', num: true, title: 'Son dönem riski (TL)', value: function (r) { return firms.get(r, 'son_risk'); },
      render: function (td, r) { renderAmount(td, firms.get(r, 'son_risk')); } },
  ];
  if (this.change) {
    columns.push({ label: 'Değişim', num: true, title: 'Son risk eksi ' + this.previous + ' riski (TL)',
      value: function (r) { return firms.get(r, firms.change); },
      render: function (td, r) { renderChange(td, firms.get(r, firms.change)); } });
  }
  this.scores.forEach(function (name) {
    columns.push({ label: name.slice(3), num: true, headCls: 'period', title: name.slice(3) + ' skoru',
      value: function (r) { return scoreKey(firms.get(r, name)); },
      render: function (td, r) { renderScore(td, firms.get(r, name)); } });
  });
  if (at._ml_yi_prob !== undefined) {
    columns.push({ label: 'YI olas.', num: true, title: 'Modelin YI olasılığı',
      value: function (r) { return firms.get(r, '_ml_yi_prob'); },
      render: function (td, r) { td.textContent = percent(100 * firms.get(r, '_ml_yi_prob'), 1); } });
  }
  columns.push({ label: 'Listeler', title: LISTS.map(function (l) { return l.short + ': ' + l.title; }).join('\n'),
    value: function (r) { return LISTS.filter(function (l) { return firms.flagged(r, l.flag); }).length || null; },
    render: function (td, r) { firms.renderFlags(td, r); } });
  columns.push({ label: 'Neden', cls: 'neden', value: function (r) { return firms.get(r, '_vrd_neden'); } });
  return columns;
};

// One card per watch list: the edition's firms carrying the list's flag, riskiest first.
Firms.prototype.drawWatchLists = function (container, counts, pick) {
  var firms = this;
  clear(container);
  LISTS.forEach(function (list) {
    var members = firms.rows.filter(function (r) { return firms.flagged(r, list.flag); });
    var card = el('div', 'watch' + (list.cls ? ' ' + list.cls : ''));
    var title = card.appendChild(el('h3', '', list.title));
    var total = counts && isNumber(counts[list.flag]) ? counts[list.flag] : members.length;
    title.appendChild(el('span', 'count', wholeNumber(total) + ' firma' +
      (total > members.length ? ' (' + wholeNumber(members.length) + ' sayfada)' : '')));
    card.appendChild(el('p', 'what', list.what));
    var box = card.appendChild(el('div', 'box'));
    var grid = new Grid(box.appendChild(el('table', 'grid compact')), null, [
      { label: 'Firma ve neden', cls: 'firm', value: function (r) { return firms.get(r, 'unvan') || firms.get(r, 'muta'); },
        render: function (td, r) {
          var name = td.appendChild(el('div', 'name'));
          name.appendChild(el('span', 'seg', firms.get(r, 'segment')));
          name.appendChild(document.createTextNode(text(firms.get(r, 'unvan') || firms.get(r, 'muta'))));
          name.title = text(firms.get(r, 'muta')) + ' · ' + text(firms.get(r, 'unvan'));
          td.appendChild(el('div', 'reason', firms.reasonFor(r, list.flag)));
        } },
      { label: 'Son risk', num: true, value: function (r) { return firms.get(r, 'son_risk'); },
        render: function (td, r) { td.textContent = shortAmount(firms.get(r, 'son_risk')); } },
      { label: 'Skor', num: true, value: function (r) { return scoreKey(firms.get(r, firms.lastScore)); },
        render: function (td, r) { renderScore(td, firms.get(r, firms.lastScore)); } },
    ], { pageSize: 100000, onPick: pick, emptyText: 'Bu listede firma yok.' });
    grid.setRecords(members);
    container.appendChild(card);
  });
};

function optionList(values, allLabel) {
  return [{ key: '', label: allLabel }].concat(values);
}

// The firm table and its controls; returns a function that shows one firm.
Firms.prototype.setUpTable = function () {
  var firms = this, data = this.data;
  var search = document.getElementById('firm-search'), segment = document.getElementById('firm-segment');
  var region = document.getElementById('firm-bolge'), branch = document.getElementById('firm-sube');
  var list = document.getElementById('firm-liste'), shown = document.getElementById('firm-shown');
  var grid = new Grid(document.getElementById('firm-table'), document.getElementById('firm-pager'), this.tableColumns(),
    { pageSize: 100, emptyText: 'Aramaya uyan firma yok.' });
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
      if (list.value === '*' && !LISTS.some(function (l) { return firms.flagged(r, l.flag); })) continue;
      if (list.value && list.value !== '*' && !firms.flagged(r, list.value)) continue;
      picked.push(r);
    }
    grid.setRecords(picked);
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

  return function show(row) {
    search.value = text(firms.get(row, 'muta'));
    segment.value = region.value = list.value = '';
    fillBranches();
    apply();
    document.getElementById('firmalar').scrollIntoView({ behavior: 'smooth', block: 'start' });
  };
};
