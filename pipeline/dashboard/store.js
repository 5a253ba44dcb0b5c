// The edition's data files, in the folder beside the page (data.veri.klasor). Each is a
// script calling vrdVeri(name, value), value being the file's JSON document, or for a
// column or a list its bytes in Base64: a page opened from disk may run scripts from
// beside it but may read no other file. A file is loaded when first asked for; a file
// that is missing or cannot be read fails every wait on it with a sentence that says so
// plainly (and the page shows it in its note bar).

var SEARCH_FOLD = { 'ç': 'c', 'Ç': 'c', 'ğ': 'g', 'Ğ': 'g', 'ı': 'i', 'I': 'i', 'İ': 'i', 'î': 'i', 'Î': 'i', 'ö': 'o',
  'Ö': 'o', 'ş': 's', 'Ş': 's', 'ü': 'u', 'Ü': 'u', 'û': 'u', 'Û': 'u', 'â': 'a', 'Â': 'a', '\u0307': '' };
// A search reaches at most this many index files: a word that begins more is too broad.
var SEARCH_FILE_LIMIT = 48;
// Firm and index files kept, the first loaded going first: paging through a long list
// must not keep the whole portfolio in memory.
var KEPT_FILES = 96;

// A text as the search index holds it: Turkish lower case without the letters' marks.
function searchKey(value) {
  return text(value).replace(/[çÇğĞıIİîÎöÖşŞüÜûÛâÂ\u0307]/g, function (c) { return SEARCH_FOLD[c]; })
    .replace(/[A-Z]/g, function (c) { return c.toLowerCase(); });
}

function searchWords(value) {
  return searchKey(value).split(/[^a-z0-9\u0080-\uffff]+/).filter(function (w) { return w; });
}

function DataStore(data) {
  var files = data.veri || {};
  this.files = files;
  this.folder = files.klasor || '';
  this.perFile = files.dosya_basina || 1;
  this.count = data.firma || 0;
  this.scope0 = data.kapsam || {};
  this.loading = {};
  this.recent = [];
  this.problems = [];
  this.onProblem = null;
  this.fields = fieldPlaces(files.alanlar);
  this.panelFields = fieldPlaces(files.panel_alanlari);
  var store = this;
  window.vrdVeri = function (name, payload) {
    var waiting = store.loading[name];
    if (waiting && waiting.resolve) waiting.resolve(payload);
  };
}

// Each field's place in its part of a record.
function fieldPlaces(names) {
  var places = {};
  (names || []).forEach(function (name, i) { places[name] = i; });
  return places;
}

DataStore.prototype.problem = function (sentence) {
  if (this.problems.indexOf(sentence) < 0) {
    this.problems.push(sentence);
    if (this.onProblem) this.onProblem(sentence);
  }
  return new Error(sentence);
};

// The value of one file.
DataStore.prototype.script = function (name) {
  var store = this, entry = this.loading[name];
  if (entry) return entry.promise;
  entry = this.loading[name] = {};
  entry.promise = new Promise(function (resolve, reject) {
    var node = document.createElement('script');
    var path = store.folder + '/' + name + '.js';
    entry.resolve = function (payload) { entry.resolve = null; node.remove(); resolve(payload); };
    node.onerror = function () {
      node.remove();
      reject(store.problem('Veri dosyası bulunamadı: ' + path + '. Bu sayfa yanındaki “' + store.folder.split('/')[0] +
        '” klasörüyle birlikte açılmalıdır; klasör eksik ya da sayfadan eski/yeni.'));
    };
    node.onload = function () {
      if (entry.resolve) {
        node.remove();
        reject(store.problem('Veri dosyası okunamadı: ' + path + ' bu sayfaya ait değil.'));
      }
    };
    node.src = path;
    document.head.appendChild(node);
  });
  return entry.promise;
};

// The bytes of a binary file (a column or a list).
DataStore.prototype.bytes = function (name) {
  var store = this;
  return this.script(name).then(function (payload) {
    delete store.loading[name];
    var binary = atob(payload), bytes = new Uint8Array(binary.length);
    for (var i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return bytes.buffer;
  });
};

DataStore.prototype.json = function (name) {
  if (!this.loading[name]) {
    this.script(name);
    if (/^[fga]-/.test(name)) this.remember(name);
  }
  return this.loading[name].promise;
};

DataStore.prototype.remember = function (key) {
  this.recent.push(key);
  while (this.recent.length > KEPT_FILES) delete this.loading[this.recent.shift()];
};

var TYPED = { u8: Uint8Array, u16: Uint16Array, i16: Int16Array, i32: Int32Array, u32: Uint32Array, f32: Float32Array };

// A column of every firm of the edition, by place: a typed array.
DataStore.prototype.column = function (name) {
  var key = 'column:' + name, type = TYPED[(this.files.sutunlar || {})[name]];
  if (!type) return Promise.reject(new Error('no column ' + name));
  if (!this.loading[key]) {
    this.loading[key] = { promise: this.bytes('c-' + name).then(function (buffer) { return new type(buffer); }) };
  }
  return this.loading[key].promise;
};

// The places of the firms on list `index` (of LISTS), in the list's order.
DataStore.prototype.list = function (index) {
  var key = 'list:' + index;
  if (!this.loading[key]) {
    this.loading[key] = { promise: this.bytes('l-' + index).then(function (buffer) { return new Int32Array(buffer); }) };
  }
  return this.loading[key].promise;
};

// The records of the firms at `places`, in that order: their table part, which is all
// a table or list shows.
DataStore.prototype.firms = function (places) {
  var store = this, files = {};
  Array.prototype.forEach.call(places, function (place) { files[Math.floor(place / store.perFile)] = true; });
  var names = Object.keys(files);
  return Promise.all(names.map(function (f) { return store.json('f-' + f); })).then(function (loaded) {
    var byFile = {};
    names.forEach(function (f, i) { byFile[f] = loaded[i]; });
    return Array.prototype.map.call(places, function (place) {
      var file = Math.floor(place / store.perFile);
      return new Firm(store, place, byFile[file][place - file * store.perFile]);
    });
  });
};

// The whole record of the firm at `place`, as its panel shows it.
DataStore.prototype.firm = function (place) {
  var store = this, file = Math.floor(place / this.perFile);
  return Promise.all([this.firms([place]), this.json('g-' + file)]).then(function (parts) {
    var firm = parts[0][0];
    firm.panel = parts[1][place - file * store.perFile];
    return firm;
  });
};

// The counts and charts of scope `id` (0: every firm of the edition).
DataStore.prototype.scope = function (id) {
  return id ? this.json('k-' + id) : Promise.resolve(this.scope0);
};

// The index files a search word may be in: the last one starting at or before it, and
// every later one starting with it.
DataStore.prototype.searchFiles = function (word) {
  var firsts = this.files.arama || [], low = 0, high = firsts.length - 1, at = -1;
  while (low <= high) {
    var mid = (low + high) >> 1;
    if (firsts[mid] <= word) { at = mid; low = mid + 1; } else { high = mid - 1; }
  }
  var found = [Math.max(at, 0)];
  for (var i = Math.max(at, 0) + 1; i < firsts.length && firsts[i].lastIndexOf(word, 0) === 0; i++) found.push(i);
  return firsts.length ? found : [];
};

// The places of the firms holding a word that begins with `word`, ascending.
DataStore.prototype.wordPlaces = function (word) {
  var store = this, files = this.searchFiles(word);
  if (files.length > SEARCH_FILE_LIMIT) return Promise.resolve(null);
  return Promise.all(files.map(function (f) { return store.json('a-' + f); })).then(function (parts) {
    var places = [];
    parts.forEach(function (entries) {
      entries.forEach(function (entry) {
        if (entry[0].lastIndexOf(word, 0) !== 0) return;
        for (var i = 1, place = 0; i < entry.length; i++) {
          place = i === 1 ? entry[1] : place + entry[i];
          places.push(place);
        }
      });
    });
    var sorted = Int32Array.from(places).sort();
    return uniqueSorted(sorted);
  });
};

function uniqueSorted(sorted) {
  var out = new Int32Array(sorted.length), n = 0;
  for (var i = 0; i < sorted.length; i++) if (!n || out[n - 1] !== sorted[i]) out[n++] = sorted[i];
  return out.subarray(0, n);
}

// The places in both ascending arrays.
function intersectSorted(a, b) {
  var out = new Int32Array(Math.min(a.length, b.length)), n = 0, i = 0, j = 0;
  while (i < a.length && j < b.length) {
    if (a[i] < b[j]) i++;
    else if (a[i] > b[j]) j++;
    else { out[n++] = a[i]; i++; j++; }
  }
  return out.subarray(0, n);
}

// The places of the firms matching every word of `query` (each word the beginning of a
// word of the title or of the firm key), ascending; null when a word is too broad.
DataStore.prototype.search = function (query) {
  var store = this, words = searchWords(query);
  return Promise.all(words.map(function (w) { return store.wordPlaces(w); })).then(function (sets) {
    if (sets.some(function (s) { return s === null; })) return null;
    return sets.reduce(function (all, set) { return all === undefined ? set : intersectSorted(all, set); }, undefined) ||
      new Int32Array(0);
  });
};

// The place of the firm with key `muta`, or -1.
DataStore.prototype.findMuta = function (muta) {
  var store = this, wanted = text(muta);
  return this.search(wanted).then(function (places) {
    if (!places || !places.length) return -1;
    return store.firms(places.subarray(0, 200)).then(function (firms) {
      var found = firms.filter(function (f) { return text(f.get('muta')) === wanted; })[0];
      return found ? found.place : -1;
    });
  });
};

// One firm's record, read by field name: its table part, and its panel part once the
// panel asked for it (a field of a part not loaded reads as null).
function Firm(store, place, record) {
  this.store = store;
  this.place = place;
  this.record = record;
  this.panel = null;
}

Firm.prototype.get = function (name) {
  var record = this.record, i = this.store.fields[name];
  if (i === undefined) {
    record = this.panel;
    i = this.store.panelFields[name];
  }
  if (i === undefined || !record) return null;
  var value = record[i];
  if (typeof value === 'string' && (name === 'vrd' || name === 'r')) {
    value = record[i] = name === 'vrd' ? packedScores(value) : packedAmounts(value);
  }
  return value;
};

// The digits of the packed series of a firm record; see firm_records.h.
var PACK_DIGITS = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_';
var PACK_VALUE = {};
PACK_DIGITS.split('').forEach(function (c, i) { PACK_VALUE[c] = i; });

function packedScores(packed) {
  var scores = [];
  for (var i = 0; i + 1 < packed.length; i += 2) {
    var code = PACK_VALUE[packed[i]] * 64 + PACK_VALUE[packed[i + 1]];
    scores.push(code === 4095 ? null : code === 4094 ? YI : code);
  }
  return scores;
}

function packedAmounts(packed) {
  var amounts = [], last = 0;
  for (var i = 0; i < packed.length;) {
    if (packed[i] === '.') { amounts.push(null); i++; continue; }
    var value = 0, scale = 1, digit;
    do {
      digit = PACK_VALUE[packed[i++]];
      value += (digit & 31) * scale;
      scale *= 32;
    } while (digit & 32);
    last += value % 2 ? -(value + 1) / 2 : value / 2;
    amounts.push(last);
  }
  return amounts;
}
