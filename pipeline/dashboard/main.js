// Reads the embedded data and draws every section of the edition; the region and branch
// filter redraws them all, and the address follows both the filter and the open firm.

var data = JSON.parse(document.getElementById('vrd-data').textContent);
var store = new DataStore(data);
store.onProblem = function (sentence) {
  document.getElementById('page-notes').appendChild(el('div', 'note', sentence));
};

var firms = new Firms(data, store);
var panel = new FirmPanel(firms, data);
var openFirm = function (firm) { panel.open(firm.get('muta')); };
var filter = new PageFilter(data, store);
var bandChart = new BandChart();
var shownScope = null;
var flowMatrix = new FlowMatrix(function (segment, transition, from, to) {
  firms.drawFlowFirms(document.getElementById('flow-firms'), shownScope, segment, transition, from, to, openFirm);
});
var watchLists = new WatchLists(firms, document.getElementById('watch-lists'), openFirm);
var firmTable = new FirmTable(firms, openFirm);

function addFact(label, value, alert) {
  var box = el('div', 'fact' + (alert ? ' alert' : ''));
  box.appendChild(el('span', 'label', label));
  box.appendChild(el('span', 'value', value));
  document.getElementById('facts').appendChild(box);
}

// The header's figures, of the scope shown.
function drawFacts(record) {
  clear(document.getElementById('facts'));
  var son = (data.meta || {}).son_donem;
  addFact('Dönem', son === undefined || son === null ? '–' : text(son));
  addFact('Firma', wholeNumber(record.firma));
  addFact('Toplam risk', wholeNumber(record.toplam_risk) + ' TL');
  var all = (record.band_snapshot || {}).ALL || [];
  var current = all.length ? all[all.length - 1].bands.YI : null;
  if (current) addFact('YI firma', wholeNumber(current.count) + ' · ' + shortAmount(current.risk_tl) + ' TL', true);
  if (record.liste_sayilari) addFact('İzleme listelerinde', wholeNumber(record.liste_sayilari.herhangi) + ' firma');
  if (data.edition !== 'portfoy' || record !== data.kapsam) {
    addFact('Görünüm', wholeNumber(record.firma) + ' / ' + wholeNumber(data.portfoy_firma) + ' firma');
  }
}

function listNote(record) {
  var counts = record.liste_sayilari || {}, sum = 0;
  LISTS.forEach(function (list) { sum += counts[list.flag] || 0; });
  footnote(document.getElementById('list-note'), 'Listelerin toplamı (' + wholeNumber(sum) + ') “İzleme listelerinde” sayısından (' +
    wholeNumber(counts.herhangi || 0) + ') büyük olabilir: bir firma birden çok listede yer alabilir. Listeler tamdır; ' +
    'sayfalar arasında gezinilir.');
}

// Draws everything for the filter's scope; resolves once the lists and the table show
// their first pages (body data-ready counts the scopes drawn so far).
var scopesDrawn = 0, scopesAsked = 0;
function showScope() {
  var asked = ++scopesAsked;
  return filter.scope().then(function (scope) {
    if (asked !== scopesAsked) return null;
    shownScope = scope;
    drawFacts(scope.record);
    bandChart.show(scope.record);
    flowMatrix.show(scope.record);
    var flowFirms = clear(document.getElementById('flow-firms'));
    flowFirms.hidden = true;
    listNote(scope.record);
    return Promise.all([watchLists.show(scope), firmTable.show(scope)]);
  }).then(function (drawn) {
    if (drawn && asked === scopesAsked) document.body.dataset.ready = ++scopesDrawn;
  });
}
filter.listeners.push(showScope);

window.addEventListener('hashchange', function () {
  var params = addressParams(location.hash), before = filter.params();
  filter.fromAddress(params);
  var after = filter.params();
  if (before.bolge !== after.bolge || before.sube !== after.sube) showScope();
  panel.followAddress(params);
});

if (data.edition === 'admin') {
  setUpAdmin(data, function (muta) { return text((data.unvanlar || {})[text(muta)]); }, function (muta) { panel.open(muta); });
}
drawDefinitions(document.getElementById('tanimlar'), data);

// Print shows the admin's complete tables; the screen goes back to pages afterwards.
var printMedia = window.matchMedia('print');
printMedia.addEventListener('change', function () { setPrinting(printMedia.matches); });
window.addEventListener('beforeprint', function () { setPrinting(true); });
window.addEventListener('afterprint', function () { setPrinting(printMedia.matches); });

filter.fromAddress(addressParams(location.hash));
showScope();
panel.followAddress(addressParams(location.hash));
