// A table of records drawn a page at a time, sorted by a click on a column head, and
// downloadable as CSV. A column is {label, value(record) -> the sort key, render(td,
// record) (optional; default: the value as text), csv(record) (optional; default: the
// value; false leaves the column out of the CSV), num (right-aligned), cls (of its head
// and cells), title}. options.csvColumns ({label, value}) replace the columns in the CSV
// where one cell of the page holds several fields. In print every grid shows all its
// records.

var collator = new Intl.Collator('tr-TR', { numeric: true });
var GRIDS = [];
var printing = false;

function missingKey(key) {
  return key === null || key === undefined || key === '';
}

function compareKeys(a, b) {
  if (typeof a === 'number' && typeof b === 'number') return a - b;
  if (typeof a === 'number') return -1;
  if (typeof b === 'number') return 1;
  return collator.compare(String(a), String(b));
}

function Grid(table, pager, columns, options) {
  this.table = table;
  this.pager = pager;
  this.columns = columns;
  this.pageSize = (options && options.pageSize) || 100;
  this.onPick = options && options.onPick;
  this.emptyText = (options && options.emptyText) || 'Kayıt yok.';
  this.csvColumns = options && options.csvColumns;
  this.records = [];
  this.page = 0;
  this.sortColumn = -1;
  this.sortDescending = false;
  this.head = table.tHead || table.appendChild(el('thead'));
  this.body = table.tBodies[0] || table.appendChild(el('tbody'));
  this.drawHead();
  GRIDS = GRIDS.filter(function (grid) { return grid.table !== table; });
  GRIDS.push(this);
}

Grid.prototype.drawHead = function () {
  var grid = this, row = el('tr');
  clear(this.head).appendChild(row);
  this.columns.forEach(function (column, index) {
    var th = el('th', 'sortable' + (column.num ? ' num' : '') + (column.cls ? ' ' + column.cls : ''), column.label);
    th.title = (column.title ? column.title + '\n' : '') + 'Sıralamak için tıklayın.';
    if (index === grid.sortColumn) th.appendChild(el('span', 'arrow', grid.sortDescending ? '▼' : '▲'));
    th.addEventListener('click', function () { grid.sortBy(index); });
    row.appendChild(th);
  });
};

// Sorts by a column; a second click on the same column reverses the order. Numbers
// start with the largest, texts with A; missing values always go last.
Grid.prototype.sortBy = function (index, descending) {
  var column = this.columns[index];
  if (descending === undefined) {
    descending = index === this.sortColumn ? !this.sortDescending : column.num === true;
  }
  this.sortColumn = index;
  this.sortDescending = descending;
  this.sort();
  this.page = 0;
  this.drawHead();
  this.draw();
};

Grid.prototype.sort = function () {
  if (this.sortColumn < 0) return;
  var value = this.columns[this.sortColumn].value, sign = this.sortDescending ? -1 : 1;
  var keyed = this.records.map(function (record, i) { return { record: record, key: value(record), i: i }; });
  keyed.sort(function (a, b) {
    var aMissing = missingKey(a.key), bMissing = missingKey(b.key);
    if (aMissing || bMissing) return aMissing === bMissing ? a.i - b.i : aMissing ? 1 : -1;
    return sign * compareKeys(a.key, b.key) || a.i - b.i;
  });
  this.records = keyed.map(function (k) { return k.record; });
};

Grid.prototype.setRecords = function (records) {
  this.records = records.slice();
  this.sort();
  this.page = 0;
  this.draw();
};

Grid.prototype.draw = function () {
  var grid = this, body = clear(this.body);
  var first = printing ? 0 : this.page * this.pageSize;
  var last = printing ? this.records.length : Math.min(this.records.length, first + this.pageSize);
  if (!this.records.length) {
    var empty = body.appendChild(el('tr', 'empty'));
    var td = empty.appendChild(el('td', '', this.emptyText));
    td.colSpan = this.columns.length;
  }
  for (var r = first; r < last; r++) {
    (function (record) {
      var tr = el('tr', grid.onPick ? 'pick' : '');
      grid.columns.forEach(function (column) {
        var td = el('td', (column.num ? 'num ' : '') + (column.cls || ''));
        if (column.render) column.render(td, record);
        else td.textContent = text(column.value(record));
        tr.appendChild(td);
      });
      if (grid.onPick) tr.addEventListener('click', function () { grid.onPick(record); });
      body.appendChild(tr);
    })(this.records[r]);
  }
  this.drawPager(first, last);
};

Grid.prototype.drawPager = function (first, last) {
  if (!this.pager) return;
  var grid = this, pages = Math.ceil(this.records.length / this.pageSize);
  clear(this.pager);
  if (pages <= 1 || printing) return;
  var previous = el('button', '', '‹ Önceki'), next = el('button', '', 'Sonraki ›');
  previous.type = next.type = 'button';
  previous.disabled = this.page === 0;
  next.disabled = this.page >= pages - 1;
  previous.addEventListener('click', function () { grid.page--; grid.draw(); });
  next.addEventListener('click', function () { grid.page++; grid.draw(); });
  this.pager.appendChild(previous);
  this.pager.appendChild(el('span', '', wholeNumber(first + 1) + '–' + wholeNumber(last) + ' / ' + wholeNumber(this.records.length)));
  this.pager.appendChild(next);
};

// Every record (not only the page shown), in the grid's order, as CSV rows.
Grid.prototype.csvRows = function () {
  var columns = this.csvColumns || this.columns.filter(function (c) { return c.csv !== false; });
  var rows = [columns.map(function (c) { return c.label; })];
  this.records.forEach(function (record) {
    rows.push(columns.map(function (c) { return c.csv ? c.csv(record) : c.value(record); }));
  });
  return rows;
};

// A button that downloads the grid as `fileName`.
function csvButton(grid, fileName) {
  var button = el('button', 'csv', 'CSV indir');
  button.type = 'button';
  button.title = 'Listenin tamamı (yalnızca bu sayfa değil); Excel için UTF-8, ";" ayraçlı.';
  button.addEventListener('click', function () { downloadCsv(typeof fileName === 'function' ? fileName() : fileName, grid.csvRows()); });
  return button;
}

// Print shows every record of every grid, without pagers; the screen goes back to pages.
function setPrinting(on) {
  if (printing === on) return;
  printing = on;
  GRIDS.forEach(function (grid) { if (grid.table.isConnected) grid.draw(); });
}

// A table of firms given by their places (Int32Array), drawn a page at a time: the
// records of a page are fetched (options.fetch(places) -> Promise of records) when it is
// shown, so a list of any length costs only the page in view. A column is {label,
// render(td, record), sort (optional): () -> Promise of a key per place (a typed array;
// NaN, and for Int16 keys -32768, are missing), or 'place' for the given order; num, cls,
// title}. Sorting keeps equal keys in place order. In print a grid shows the page in view.
var NO_SCORE = -32768;

function PlaceGrid(table, pager, columns, options) {
  this.table = table;
  this.pager = pager;
  this.columns = columns;
  this.pageSize = options.pageSize || 100;
  this.fetch = options.fetch;
  this.onPick = options.onPick;
  this.emptyText = options.emptyText || 'Kayıt yok.';
  this.places = new Int32Array(0);
  this.shown = this.places;
  this.page = 0;
  this.sortColumn = -1;
  this.sortDescending = false;
  this.drawing = 0;
  this.head = table.tHead || table.appendChild(el('thead'));
  this.body = table.tBodies[0] || table.appendChild(el('tbody'));
  this.drawHead();
}

PlaceGrid.prototype.drawHead = function () {
  var grid = this, row = el('tr');
  clear(this.head).appendChild(row);
  this.columns.forEach(function (column, index) {
    var th = el('th', (column.sort ? 'sortable' : '') + (column.num ? ' num' : '') + (column.cls ? ' ' + column.cls : ''), column.label);
    th.title = (column.title || '') + (column.sort ? (column.title ? '\n' : '') + 'Sıralamak için tıklayın.' : '');
    if (index === grid.sortColumn) th.appendChild(el('span', 'arrow', grid.sortDescending ? '▼' : '▲'));
    if (column.sort) th.addEventListener('click', function () { grid.sortBy(index); });
    row.appendChild(th);
  });
};

// Shows `places` (in the order given, unless a column sorts them); back to the first page.
PlaceGrid.prototype.setPlaces = function (places) {
  this.places = places;
  this.page = 0;
  return this.order();
};

PlaceGrid.prototype.sortBy = function (index, descending) {
  var column = this.columns[index];
  if (descending === undefined) descending = index === this.sortColumn ? !this.sortDescending : column.num === true;
  this.sortColumn = index;
  this.sortDescending = descending;
  this.page = 0;
  this.drawHead();
  return this.order();
};

PlaceGrid.prototype.order = function () {
  var grid = this, column = this.columns[this.sortColumn], places = this.places;
  var token = ++this.drawing;
  this.table.classList.add('loading');
  var sorted = !column || column.sort === 'place' ? Promise.resolve(null) : column.sort();
  return sorted.then(function (keys) {
    if (token !== grid.drawing) return null;
    var sign = grid.sortDescending ? -1 : 1;
    if (column && column.sort === 'place') {
      grid.shown = Int32Array.from(places).sort();
      if (grid.sortDescending) grid.shown.reverse();
    } else if (keys) {
      var missing = function (v) { return v !== v || (keys instanceof Int16Array && v === NO_SCORE); };
      grid.shown = Int32Array.from(places).sort(function (a, b) {
        var x = keys[a], y = keys[b], mx = missing(x), my = missing(y);
        if (mx || my) return mx === my ? a - b : mx ? 1 : -1;
        return sign * (x - y) || a - b;
      });
    } else {
      grid.shown = places;
    }
    return grid.draw(token);
  });
};

PlaceGrid.prototype.pages = function () {
  return Math.max(1, Math.ceil(this.shown.length / this.pageSize));
};

PlaceGrid.prototype.turn = function (page) {
  this.page = Math.max(0, Math.min(this.pages() - 1, page));
  return this.draw();
};

// Draws the page in view; resolves once its rows are there.
PlaceGrid.prototype.draw = function (token) {
  var grid = this;
  if (token === undefined) token = ++this.drawing;
  var first = this.page * this.pageSize, last = Math.min(this.shown.length, first + this.pageSize);
  var places = this.shown.subarray(first, last);
  this.table.classList.add('loading');
  return this.fetch(places).then(function (records) {
    if (token !== grid.drawing) return;
    grid.table.classList.remove('loading');
    var body = clear(grid.body);
    if (!records.length) {
      var td = body.appendChild(el('tr', 'empty')).appendChild(el('td', '', grid.emptyText));
      td.colSpan = grid.columns.length;
    }
    records.forEach(function (record) {
      var tr = body.appendChild(el('tr', grid.onPick ? 'pick' : ''));
      grid.columns.forEach(function (column) {
        var td = tr.appendChild(el('td', (column.num ? 'num ' : '') + (column.cls || '')));
        column.render(td, record);
      });
      if (grid.onPick) tr.addEventListener('click', function () { grid.onPick(record); });
    });
    grid.drawPager(first, last);
  }, function (error) {
    if (token !== grid.drawing) return;
    grid.table.classList.remove('loading');
    var td = clear(grid.body).appendChild(el('tr', 'empty failed')).appendChild(el('td', '', error.message));
    td.colSpan = grid.columns.length;
    clear(grid.pager);
  });
};

PlaceGrid.prototype.drawPager = function (first, last) {
  var grid = this, pages = this.pages();
  clear(this.pager);
  if (pages <= 1) return;
  [['«', 'İlk sayfa', 0], ['‹ Önceki', 'Önceki sayfa', this.page - 1], null, ['Sonraki ›', 'Sonraki sayfa', this.page + 1],
    ['»', 'Son sayfa', pages - 1]].forEach(function (control) {
    if (!control) {
      grid.pager.appendChild(el('span', 'range', wholeNumber(first + 1) + '–' + wholeNumber(last) + ' / ' +
        wholeNumber(grid.shown.length)));
      return;
    }
    var button = grid.pager.appendChild(el('button', '', control[0]));
    button.type = 'button';
    button.title = control[1];
    button.disabled = control[2] < 0 || control[2] >= pages || control[2] === grid.page;
    button.addEventListener('click', function () { grid.turn(control[2]); });
  });
};

// The records of every place shown (up to `limit`), in order, fetched a file's worth at
// a time; progress(done, total) is told along the way.
PlaceGrid.prototype.allRecords = function (limit, progress) {
  var grid = this, places = this.shown.subarray(0, Math.min(limit, this.shown.length)), out = [], step = 2000;
  function next(at) {
    if (progress) progress(at, places.length);
    if (at >= places.length) return Promise.resolve(out);
    return grid.fetch(places.subarray(at, at + step)).then(function (records) {
      out.push.apply(out, records);
      return next(at + step);
    });
  }
  return next(0);
};

// Cell renderers shared by the tables.
function renderScore(td, score) {
  var band = scoreBand(score);
  td.className += ' score' + (band ? ' ' + bandClass('s-', band) : ' none');
  td.textContent = score === null || score === undefined ? MISSING_TEXT : text(score);
}

function renderAmount(td, value) {
  td.textContent = isNumber(value) ? wholeNumber(value) : MISSING_TEXT;
  if (!isNumber(value)) td.className += ' missing';
}

function renderChange(td, value) {
  td.textContent = isNumber(value) ? (value > 0 ? '+' : '') + wholeNumber(value) : MISSING_TEXT;
  if (!isNumber(value)) td.className += ' missing';
  if (isNumber(value) && value !== 0) td.className += value > 0 ? ' up' : ' down';
}
