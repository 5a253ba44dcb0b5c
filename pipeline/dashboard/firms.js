// The firms of the edition: what a firm record says (names, scores, lists, reasons), the
// six watch lists in full, the firms of a flow matrix cell and the firm table with its
// search and filters. Records come from the data files (store.js) a page at a time;
// lists, filters and sorting work on firms' places (their position in the edition,
// riskiest first) and on the columns of every firm.

// A period's lists in a record's "listeler": bit i of the character's value is LISTS[i].
var LIST_DIGITS = '0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_';
var LIST_PAGE = 10;
var TABLE_PAGE = 50;
// CSV downloads and printed lists hold at most this many firms.
var CSV_LIMIT = 200000;
var PRINT_LIMIT = 5000;

function Firms(data, store) {
  this.data = data;
  this.store = store;
  this.periods = ((data.meta && data.meta.donemler) || []).map(String);
  this.scorePeriods = ((data.veri || {}).skor_donemleri || []).map(String);
  this.lastPeriod = this.periods.length ? this.periods[this.periods.length - 1] : null;
  this.previous = this.periods.length >= 2 ? this.periods[this.periods.length - 2] : '';
  this.models = MODELS.filter(function (m) { return store.panelFields[m.key] !== undefined; });
}

Firms.prototype.name = function (firm) {
  return text(firm.get('unvan')) || text(firm.get('muta'));
};

Firms.prototype.branch = function (firm) {
  var code = firm.get('sube_kodu');
  return code === null ? '' : this.data.subeler[String(code)] || String(code);
};

Firms.prototype.region = function (firm) {
  var code = firm.get('bolge_kodu');
  return code === null ? '' : this.data.bolgeler[String(code)] || String(code);
};

Firms.prototype.score = function (firm, period) {
  var i = this.periods.indexOf(String(period)), scores = firm.get('vrd') || [];
  return i < 0 || scores[i] === undefined ? null : scores[i];
};

Firms.prototype.lastScore = function (firm) {
  return this.lastPeriod === null ? null : this.score(firm, this.lastPeriod);
};

Firms.prototype.inYi = function (firm) {
  return scoreBand(this.lastScore(firm)) === YI;
};

// The lists the firm was on in period index p (the last one when absent).
Firms.prototype.listsAt = function (firm, p) {
  var digits = text(firm.get('listeler'));
  var bits = LIST_DIGITS.indexOf(digits.charAt(p === undefined ? digits.length - 1 : p));
  return LISTS.filter(function (list, i) { return bits > 0 && (bits >> i) & 1; });
};

Firms.prototype.lists = function (firm) {
  return this.listsAt(firm);
};

Firms.prototype.reasonFor = function (firm, flag) {
  return text((firm.get('nedenler') || {})[flag]);
};

Firms.prototype.reasons = function (firm) {
  var firms = this;
  return this.lists(firm).map(function (l) { return firms.reasonFor(firm, l.flag); }).join(' | ');
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
Firms.prototype.renderProbability = function (td, firm) {
  var probability = firm.get('olasilik');
  if (this.inYi(firm)) {
    td.textContent = 'YI’de';
    td.className += ' muted';
    td.title = 'Firma zaten YI: model yalnızca YI olmayan firmalar için olasılık verir.';
  } else {
    td.textContent = !isNumber(probability) ? '–' : probability > 0 && probability < 0.0005 ? '<%0,1' : percent(100 * probability, 1);
  }
};

Firms.prototype.probabilityCsv = function (firm) {
  if (this.inYi(firm)) return 'YI';
  var probability = firm.get('olasilik');
  return isNumber(probability) ? Math.round(probability * 1e6) / 1e6 : '';
};

function renderFlags(td, lists) {
  td.className += ' flags';
  lists.forEach(function (list) {
    var badge = el('span', 'flag flag-' + list.flag, list.short);
    badge.title = list.title;
    td.appendChild(badge);
  });
}

// A cell of text cut to one line on screen; the whole text in its tooltip and in print.
function renderClamped(td, value) {
  var inner = td.appendChild(el('div', 'clamp', value));
  inner.title = text(value);
}

// The sort keys of a column of every firm, by place; codes sort by the name they stand for.
Firms.prototype.columnKeys = function (name) {
  var store = this.store;
  return function () { return store.column(name); };
};

Firms.prototype.nameKeys = function (column, codes, names) {
  var store = this.store;
  return function () {
    return store.column(column).then(function (values) {
      var labels = [''].concat((codes || []).map(function (code) { return names ? names[code] || code : code; }));
      var order = labels.map(function (label, i) { return i; }).slice(1)
        .sort(function (a, b) { return collator.compare(labels[a], labels[b]); });
      var rank = new Float64Array(labels.length).fill(NaN);
      order.forEach(function (code, i) { rank[code] = i; });
      return Float64Array.from(values, function (v) { return rank[v]; });
    });
  };
};

// The firm table's columns. The title cell also holds the reasons and the branch cell the
// region, so that at 1,400 pixels the titles have room beside twelve periods of scores.
Firms.prototype.tableColumns = function () {
  var firms = this, files = this.data.veri || {}, columns = [
    { label: 'Muta', cls: 'muta', sort: this.columnKeys('muta'), render: function (td, f) { td.textContent = text(f.get('muta')); } },
    { label: 'Ünvan', cls: 'unvan', sort: this.columnKeys('unvan'), title: 'Ünvan; altında izleme listelerindeki nedenleri',
      render: function (td, f) {
        renderClamped(td, text(f.get('unvan')));
        var reasons = firms.reasons(f);
        if (reasons) td.appendChild(el('div', 'clamp reason', reasons)).title = reasons;
      } },
    { label: 'Segment', cls: 'segment', sort: this.nameKeys('segment', files.segmentler), render: function (td, f) { td.textContent = text(f.get('segment')); } },
    { label: 'Şube / Bölge', cls: 'place', sort: this.nameKeys('sube', files.sube_kodlari, this.data.subeler),
      title: 'Şube; altında bölge', render: function (td, f) {
        renderClamped(td, firms.branch(f));
        td.appendChild(el('div', 'clamp reason', firms.region(f))).title = firms.region(f);
      } },
    { label: 'Son risk', num: true, cls: 'amount', title: 'Son dönemin kredi riski: TL tutarı, skor değil', sort: 'place',
      render: function (td, f) { renderAmount(td, f.get('son_risk')); } },
  ];
  if (this.previous) {
    columns.push({ label: 'Değişim', num: true, cls: 'change', title: 'Son risk eksi ' + this.previous + ' riski (TL)',
      sort: this.columnKeys('degisim'), render: function (td, f) { renderChange(td, f.get('degisim')); } });
  }
  this.scorePeriods.forEach(function (period) {
    columns.push({ label: period, num: true, cls: 'period', title: period + ' skoru', sort: firms.columnKeys('vrd' + period),
      render: function (td, f) { renderScore(td, firms.score(f, period)); } });
  });
  if (this.store.fields.olasilik !== undefined) {
    columns.push({ label: 'YI olas.', num: true, cls: 'prob', title: 'Modelin bir sonraki dönem YI olasılığı',
      sort: this.columnKeys('olasilik'), render: function (td, f) { firms.renderProbability(td, f); } });
  }
  columns.push({ label: 'Listeler', cls: 'flags', title: LISTS.map(function (l) { return l.short + ': ' + l.title; }).join('\n'),
    sort: function () {
      return firms.store.column('liste').then(function (bits) {
        return Float64Array.from(bits, function (b) { var n = 0; for (; b; b >>= 1) n += b & 1; return n || NaN; });
      });
    },
    render: function (td, f) { renderFlags(td, firms.lists(f)); } });
  return columns;
};

// The firm table's CSV: one field per column, the title, reasons, branch and region apart.
Firms.prototype.tableCsvColumns = function () {
  var firms = this, columns = [
    { label: 'Muta', value: function (f) { return f.get('muta'); } },
    { label: 'Ünvan', value: function (f) { return f.get('unvan'); } },
    { label: 'Segment', value: function (f) { return f.get('segment'); } },
    { label: 'Şube', value: function (f) { return firms.branch(f); } },
    { label: 'Bölge', value: function (f) { return firms.region(f); } },
    { label: 'Son risk', value: function (f) { var v = f.get('son_risk'); return isNumber(v) ? Math.trunc(v) : ''; } },
  ];
  if (this.previous) {
    columns.push({ label: 'Değişim', value: function (f) { var v = f.get('degisim'); return isNumber(v) ? Math.trunc(v) : ''; } });
  }
  this.scorePeriods.forEach(function (period) {
    columns.push({ label: period, value: function (f) { return scoreCsv(firms.score(f, period)); } });
  });
  if (this.store.fields.olasilik !== undefined) {
    columns.push({ label: 'YI olas.', value: function (f) { return firms.probabilityCsv(f); } });
  }
  columns.push({ label: 'Listeler', value: function (f) { return firms.lists(f).map(function (l) { return l.short; }).join(' '); } });
  columns.push({ label: 'Neden', value: function (f) { return firms.reasons(f); } });
  return columns;
};

// A button that downloads the grid's firms (all of them, up to CSV_LIMIT) as `fileName`.
function placeCsvButton(grid, columns, fileName) {
  var button = el('button', 'csv', 'CSV indir');
  button.type = 'button';
  button.title = 'Listenin tamamı (yalnızca bu sayfa değil; en çok ' + wholeNumber(CSV_LIMIT) +
    ' firma); Excel için UTF-8, ";" ayraçlı.';
  button.addEventListener('click', function () {
    button.disabled = true;
    grid.allRecords(CSV_LIMIT, function (done, total) {
      button.textContent = total > 2000 ? 'Hazırlanıyor… %' + Math.floor(100 * done / Math.max(1, total)) : 'CSV indir';
    }).then(function (records) {
      var rows = [columns.map(function (c) { return c.label; })];
      records.forEach(function (record) { rows.push(columns.map(function (c) { return c.value(record); })); });
      downloadCsv(typeof fileName === 'function' ? fileName() : fileName, rows);
    }, function () { /* the grid shows the missing file */ }).then(function () {
      button.disabled = false;
      button.textContent = 'CSV indir';
    });
  });
  return button;
}

// A card of firms with a title, a count, an explanation, a paged table and a CSV of all
// of them. `reason(firm)` is the text under the firm's name.
Firms.prototype.firmCard = function (card, options) {
  var firms = this;
  var head = card.appendChild(el('div', 'list-head'));
  var title = head.appendChild(el('h3', '', options.title));
  var count = title.appendChild(el('span', 'count', ''));
  var tools = head.appendChild(el('span', 'tools'));
  var table = el('table', 'grid compact firms');
  var pager = el('div', 'pager');
  var columns = [
    { label: 'Firma', cls: 'firm',
      render: function (td, f) {
        var name = td.appendChild(el('div', 'name'));
        name.appendChild(el('span', 'seg', f.get('segment')));
        name.appendChild(document.createTextNode(firms.name(f)));
        name.title = text(f.get('muta')) + ' · ' + firms.name(f);
        renderClamped(td, options.reason(f));
      } },
    { label: 'Son risk', num: true,
      render: function (td, f) {
        var risk = f.get('son_risk');
        td.textContent = isNumber(risk) ? shortAmount(risk) : MISSING_TEXT;
        td.title = isNumber(risk) ? wholeNumber(risk) + ' TL' : 'Son dönemde risk verisi yok';
      } },
  ].concat(options.scores.map(function (period) {
    return { label: options.scores.length > 1 ? period : 'Skor', num: true, title: period + ' skoru',
      render: function (td, f) { renderScore(td, firms.score(f, period)); } };
  }));
  var grid = new PlaceGrid(table, pager, columns, {
    pageSize: LIST_PAGE, onPick: options.pick, emptyText: options.emptyText,
    fetch: function (places) { return firms.store.firms(places); },
  });
  var csvColumns = [
    { label: 'Muta', value: function (f) { return f.get('muta'); } },
    { label: 'Ünvan', value: function (f) { return f.get('unvan'); } },
    { label: 'Segment', value: function (f) { return f.get('segment'); } },
    { label: 'Neden', value: function (f) { return options.reason(f); } },
    { label: 'Son risk', value: function (f) { var v = f.get('son_risk'); return isNumber(v) ? Math.trunc(v) : ''; } },
  ].concat(options.scores.map(function (period) {
    return { label: options.scores.length > 1 ? period + ' skoru' : 'Skor', value: function (f) { return scoreCsv(firms.score(f, period)); } };
  }));
  tools.appendChild(placeCsvButton(grid, csvColumns, options.fileName));
  if (options.printable) {
    var print = tools.appendChild(el('button', 'print', 'Yazdır'));
    print.type = 'button';
    print.title = 'Yalnızca bu listeyi yazdırır (en çok ' + wholeNumber(PRINT_LIMIT) + ' firma).';
    print.addEventListener('click', function () { printList(grid, options.title, count.textContent, csvColumns); });
  }
  if (options.what) card.appendChild(el('p', 'what', options.what));
  card.appendChild(table);
  card.appendChild(pager);
  card.grid = grid;
  card.setPlaces = function (places, total) {
    count.textContent = wholeNumber(places.length) + ' firma' + (total !== undefined && total !== places.length
      ? ' (sayfa verisinde ' + wholeNumber(total) + ')' : '');
    card.dataset.count = places.length;
    return grid.setPlaces(places);
  };
  return card;
};

// Prints one list alone: its rows (up to PRINT_LIMIT) in a table of their own.
function printList(grid, title, count, columns) {
  var sheet = clear(document.getElementById('baski'));
  sheet.appendChild(el('h2', '', title + ' · ' + count));
  return grid.allRecords(PRINT_LIMIT).then(function (records) {
    if (grid.shown.length > PRINT_LIMIT) {
      sheet.appendChild(el('p', 'what', 'Listenin ilk ' + wholeNumber(PRINT_LIMIT) + ' firması yazdırıldı; tamamı için CSV indirin.'));
    }
    var table = sheet.appendChild(el('table', 'grid compact'));
    var head = table.appendChild(el('thead')).appendChild(el('tr'));
    columns.forEach(function (c) { head.appendChild(el('th', '', c.label)); });
    var body = table.appendChild(el('tbody'));
    records.forEach(function (record) {
      var tr = body.appendChild(el('tr'));
      columns.forEach(function (c) { tr.appendChild(el('td', '', text(c.value(record)))); });
    });
    printOnly('print-list');
  });
}

// Prints with body class `mode` (which the print style reads), then goes back.
function printOnly(mode) {
  document.body.classList.add(mode);
  var done = function () { document.body.classList.remove(mode); window.removeEventListener('afterprint', done); };
  window.addEventListener('afterprint', done);
  window.print();
}

// The six watch lists, each a card whose firms follow the page's filter.
function WatchLists(firms, container, pick) {
  var lists = this;
  this.firms = firms;
  clear(container);
  this.cards = LISTS.map(function (list, index) {
    var card = container.appendChild(el('div', 'watch' + (list.cls ? ' ' + list.cls : '')));
    card.dataset.flag = list.flag;
    card.dataset.index = index;
    return firms.firmCard(card, {
      title: list.title, what: list.what, pick: pick, emptyText: 'Bu listede firma yok.', printable: true,
      scores: firms.lastPeriod === null ? [] : [firms.lastPeriod],
      reason: function (f) { return firms.reasonFor(f, list.flag); },
      fileName: function () { return 'izleme-' + fileSlug(list.title) + lists.fileScope + '.csv'; },
    });
  });
  this.fileScope = '';
}

// Shows each list's firms within `scope` (see PageFilter.places), which also gives the
// count of the scope's record; resolves once every card has its first page.
WatchLists.prototype.show = function (scope) {
  var firms = this.firms, lists = this;
  this.fileScope = scope.fileSuffix;
  return Promise.all(this.cards.map(function (card, index) {
    return firms.store.list(index).then(function (places) {
      return scope.keep(places).then(function (kept) {
        return card.setPlaces(kept, (scope.record.liste_sayilari || {})[LISTS[index].flag]);
      });
    }, function (error) {
      card.grid.fetch = function () { return Promise.reject(error); };
      return card.grid.draw();
    });
  })).then(function () { return lists; });
};

// The firms behind one cell of the flow matrix, in `container`.
Firms.prototype.drawFlowFirms = function (container, scope, segment, transition, fromBand, toBand, pick) {
  var firms = this, store = this.store;
  var cell = (transition.flows.filter(function (f) { return f.from_band === fromBand && f.to_band === toBand; })[0] || {}).count || 0;
  clear(container);
  container.hidden = false;
  var close = el('button', 'close', '×');
  close.type = 'button';
  close.title = 'Kapat';
  close.addEventListener('click', function () { clear(container); container.hidden = true; });
  container.appendChild(close);
  var card = this.firmCard(container, {
    title: transition.from + ' ' + fromBand + ' → ' + transition.to + ' ' + toBand + (segment === 'ALL' ? '' : ' · ' + segment),
    pick: pick, emptyText: 'Bu hücrenin firması yok.', scores: [transition.from, transition.to],
    reason: function (f) { return firms.reasons(f); },
    fileName: 'gecis-' + fileSlug(transition.from + ' ' + fromBand + ' ' + transition.to + ' ' + toBand) + '.csv',
  });
  var segmentCode = (store.files.segmentler || []).indexOf(segment) + 1;
  var wanted = [store.column('vrd' + transition.from), store.column('vrd' + transition.to),
    segment === 'ALL' ? Promise.resolve(null) : store.column('segment')];
  Promise.all(wanted).then(function (columns) {
    var from = columns[0], to = columns[1], segments = columns[2], picked = [];
    for (var place = 0; place < from.length; place++) {
      if (segments && segments[place] !== segmentCode) continue;
      if (columnBand(from[place]) === fromBand && columnBand(to[place]) === toBand) picked.push(place);
    }
    return scope.keep(Int32Array.from(picked));
  }).then(function (places) {
    card.setPlaces(places, cell);
    container.scrollIntoView({ block: 'nearest' });
  }, function (error) { card.grid.fetch = function () { return Promise.reject(error); }; card.grid.draw(); });
};

// The band of a score as a score column holds it (see PlaceGrid: 32767 is "YI").
function columnBand(value) {
  if (value === NO_SCORE) return null;
  return value === 32767 ? YI : scoreBand(value);
}

// The firm table: search, segment and list filters within the page's filter, sorting,
// pages and a CSV of all its firms.
function FirmTable(firms, pick) {
  var table = this, data = firms.data, files = data.veri || {};
  this.firms = firms;
  this.search = document.getElementById('firm-search');
  this.segment = document.getElementById('firm-segment');
  this.list = document.getElementById('firm-liste');
  this.shown = document.getElementById('firm-shown');
  this.note = document.getElementById('firm-note');
  this.columns = firms.tableColumns();
  this.grid = new PlaceGrid(document.getElementById('firm-table'), document.getElementById('firm-pager'), this.columns,
    { pageSize: TABLE_PAGE, emptyText: 'Aramaya uyan firma yok.', onPick: pick,
      fetch: function (places) { return firms.store.firms(places); } });
  this.scope = null;
  this.updates = 0;
  document.getElementById('firm-controls').appendChild(placeCsvButton(this.grid, firms.tableCsvColumns(), function () {
    return 'firmalar-' + data.edition + (table.scope ? table.scope.fileSuffix : '') + '.csv';
  }));
  fillSelect(this.segment, [{ key: '', label: 'Tüm segmentler' }].concat((files.segmentler || []).map(function (s, i) {
    return { key: String(i + 1), label: s };
  })), '');
  fillSelect(this.list, [{ key: '', label: 'Tüm firmalar' }, { key: '*', label: 'Herhangi bir listede' }]
    .concat(LISTS.map(function (l, i) { return { key: String(i), label: l.title }; })), '');
  var update = function () { table.update(); };
  var typing = null;
  this.search.addEventListener('input', function () { clearTimeout(typing); typing = setTimeout(update, 80); });
  this.search.addEventListener('keydown', function (event) { if (event.key === 'Enter') { clearTimeout(typing); update(); } });
  [this.segment, this.list].forEach(function (select) { select.addEventListener('change', update); });
  document.getElementById('firm-reset').addEventListener('click', function () {
    table.search.value = table.segment.value = table.list.value = '';
    update();
  });
  if (firms.periods.length > firms.scorePeriods.length) {
    footnote(this.note, 'Tabloda son ' + firms.scorePeriods.length + ' dönemin skoru var; ' +
      wholeNumber(firms.periods.length) + ' dönemin tamamı firma panelinde.');
  }
}

// Shows the firms of `scope` that match the search and the table's filters. Resolves
// once the first page is drawn.
FirmTable.prototype.show = function (scope) {
  this.scope = scope;
  return this.update();
};

// Resolves once the table shows the result; its count element says so to tests and
// scripts (data-asked and data-done: the number of the update asked for and drawn).
FirmTable.prototype.update = function () {
  var table = this, store = this.firms.store, token = ++this.updates, query = this.search.value.trim();
  this.shown.dataset.asked = token;
  var segment = Number(this.segment.value), list = this.list.value;
  var steps = [query ? store.search(query) : Promise.resolve(undefined),
    segment ? store.column('segment') : Promise.resolve(null), list ? store.column('liste') : Promise.resolve(null)];
  var started = performance.now();
  return Promise.all(steps).then(function (found) {
    if (token !== table.updates) return null;
    var places = found[0], segments = found[1], bits = found[2];
    if (places === null) {
      table.shown.dataset.count = 0;
      table.shown.textContent = 'Arama çok genel: bir kelimeyi uzatın.';
      return table.grid.setPlaces(new Int32Array(0));
    }
    if (places !== undefined && !places.length) {
      table.shown.dataset.count = 0;
      table.shown.textContent = '0 / ' + wholeNumber(table.scope.record.firma) + ' firma';
      return table.grid.setPlaces(places);
    }
    return table.scope.keep(places === undefined ? null : places).then(function (inScope) {
      var picked = [];
      for (var i = 0; i < inScope.length; i++) {
        var place = inScope[i];
        if (segments && segments[place] !== segment) continue;
        if (bits && (list === '*' ? !bits[place] : !((bits[place] >> Number(list)) & 1))) continue;
        picked.push(place);
      }
      var result = segments || bits ? Int32Array.from(picked) : inScope;
      if (token !== table.updates) return null;
      table.shown.dataset.count = result.length;
      table.shown.textContent = wholeNumber(result.length) + ' / ' + wholeNumber(table.scope.record.firma) + ' firma';
      return table.grid.setPlaces(result).then(function () {
        table.shown.dataset.ms = Math.round(performance.now() - started);
      });
    });
  }, function (error) {
    table.shown.textContent = error.message;
  }).then(function () {
    if (token === table.updates) table.shown.dataset.done = token;
  });
};
