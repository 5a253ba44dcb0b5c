// The page's region and branch filter. It applies to everything the page shows (the
// figures in the header, the charts, the lists and the firm table) and stands in the
// address with the open firm, as "#bolge=KOD&sube=KOD&firma=MUTA", so that a filtered
// page can be sent on.

// The parameters of an address: {bolge, sube, firma}, each text or absent. The old
// form "#firma=MUTA" is one of them.
function addressParams(hash) {
  var params = {};
  (hash || '').replace(/^#/, '').split('&').forEach(function (part) {
    var at = part.indexOf('=');
    if (at <= 0) return;
    var value = part.slice(at + 1);
    try { value = decodeURIComponent(value); } catch (e) { /* kept as written */ }
    params[part.slice(0, at)] = value;
  });
  return params;
}

function addressOf(params) {
  var parts = [];
  ['bolge', 'sube', 'firma'].forEach(function (key) {
    if (params[key]) parts.push(key + '=' + encodeURIComponent(params[key]));
  });
  return parts.length ? '#' + parts.join('&') : '';
}

// Changes the address without a new history entry (some browsers refuse this for a file
// opened from disk; the address then changes the ordinary way).
function setAddress(params) {
  var hash = addressOf(params);
  try {
    history.replaceState(null, '', hash || location.pathname + location.search);
  } catch (e) {
    location.hash = hash;
  }
}

// A scope of the page: the firms a filter lets through. record: its counts and charts;
// keep(places): the given places (all the edition's, ascending, when null) that are in
// it, in their order; fileSuffix: a part of download names.
function Scope(store, id, record, test, suffix) {
  this.id = id;
  this.record = record;
  this.fileSuffix = suffix;
  this.keep = function (places) {
    if (!test) return Promise.resolve(places || allPlaces(store.count));
    return test().then(function (inside) {
      var out = [];
      if (places) {
        for (var i = 0; i < places.length; i++) if (inside(places[i])) out.push(places[i]);
      } else {
        for (var p = 0; p < store.count; p++) if (inside(p)) out.push(p);
      }
      return Int32Array.from(out);
    });
  };
}

function allPlaces(count) {
  var places = new Int32Array(count);
  for (var i = 0; i < count; i++) places[i] = i;
  return places;
}

function PageFilter(data, store) {
  this.data = data;
  this.store = store;
  var files = data.veri || {};
  this.index = files.kapsamlar || { bolge: {}, sube: {}, cift: {} };
  this.regionCodes = files.bolge_kodlari || [];
  this.branchCodes = files.sube_kodlari || [];
  this.region = document.getElementById('filter-bolge');
  this.branch = document.getElementById('filter-sube');
  this.summary = document.getElementById('filter-summary');
  this.listeners = [];
  var filter = this;
  fillSelect(this.region, [{ key: '', label: 'Tüm bölgeler' }].concat(this.sorted(this.regionCodes, data.bolgeler)), '');
  this.fillBranches();
  this.region.addEventListener('change', function () { filter.fillBranches(); filter.changed(); });
  this.branch.addEventListener('change', function () { filter.changed(); });
  document.getElementById('filter-reset').addEventListener('click', function () {
    filter.region.value = '';
    filter.fillBranches();
    filter.changed();
  });
  // A region edition has one region: its filter is the branch alone.
  if (this.regionCodes.length <= 1 && data.bolge) this.region.disabled = true;
}

PageFilter.prototype.sorted = function (codes, names) {
  return codes.map(function (code) { return { key: code, label: names[code] || code }; })
    .sort(function (a, b) { return collator.compare(a.label, b.label); });
};

PageFilter.prototype.fillBranches = function () {
  var filter = this, region = this.region.value, chosen = this.branch.value;
  var codes = this.branchCodes.filter(function (code) {
    var entry = filter.index.sube[code] || {};
    return !region || entry.bolge === region || (entry.bolge === null && filter.index.cift[region + '|' + code] !== undefined);
  });
  fillSelect(this.branch, [{ key: '', label: 'Tüm şubeler' }].concat(this.sorted(codes, this.data.subeler)),
    codes.indexOf(chosen) >= 0 ? chosen : '');
};

// The filter as the address gives it; codes the edition does not have are dropped.
PageFilter.prototype.fromAddress = function (params) {
  this.region.value = this.regionCodes.indexOf(params.bolge) >= 0 ? params.bolge : '';
  this.fillBranches();
  this.branch.value = this.branchCodes.indexOf(params.sube) >= 0 ? params.sube : '';
  if (this.branch.value !== (params.sube || '')) this.branch.value = '';
};

PageFilter.prototype.params = function () {
  return { bolge: this.region.value, sube: this.branch.value };
};

PageFilter.prototype.changed = function () {
  var params = addressParams(location.hash);
  params.bolge = this.region.value;
  params.sube = this.branch.value;
  setAddress(params);
  this.listeners.forEach(function (listener) { listener(); });
};

// The scope the filter chooses, with its record loaded.
PageFilter.prototype.scope = function () {
  var store = this.store, region = this.region.value, branch = this.branch.value, index = this.index;
  var regionIndex = this.regionCodes.indexOf(region) + 1, branchIndex = this.branchCodes.indexOf(branch) + 1;
  var id = 0, test = null, suffix = '';
  if (branch) {
    var entry = index.sube[branch] || {};
    var pair = region ? index.cift[region + '|' + branch] : undefined;
    id = pair !== undefined ? pair : region && entry.bolge !== region ? -1 : entry.id;
    test = function () {
      return Promise.all([store.column('sube'), region ? store.column('bolge') : Promise.resolve(null)]).then(function (c) {
        return function (p) { return c[0][p] === branchIndex && (!c[1] || c[1][p] === regionIndex); };
      });
    };
    suffix = '-sube-' + fileSlug(branch);
  } else if (region) {
    id = index.bolge[region];
    test = function () {
      return store.column('bolge').then(function (c) { return function (p) { return c[p] === regionIndex; }; });
    };
    suffix = '-bolge-' + fileSlug(region);
  }
  var record = id === -1 ? Promise.resolve({ firma: 0, toplam_risk: 0, liste_sayilari: {}, band_snapshot: {}, flow_matrix: {} })
    : store.scope(id);
  var filter = this;
  return record.then(function (loaded) {
    filter.describe(loaded);
    return new Scope(store, id, loaded, test, suffix);
  });
};

PageFilter.prototype.describe = function (record) {
  var parts = [];
  if (this.region.value) parts.push('Bölge: ' + (this.data.bolgeler[this.region.value] || this.region.value));
  if (this.branch.value) parts.push('Şube: ' + (this.data.subeler[this.branch.value] || this.branch.value));
  clear(this.summary);
  document.body.classList.toggle('filtered', parts.length > 0);
  this.summary.textContent = parts.length ? parts.join(' · ') + ' — ' + wholeNumber(record.firma) + ' firma. Sayfadaki ' +
    'tüm sayılar, grafikler ve listeler bu filtreye göredir.' : 'Filtre yok: sayfa sürümün tüm firmalarını gösterir.';
};
