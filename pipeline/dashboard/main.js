// Reads the embedded data and draws every section of the edition.

var data = JSON.parse(document.getElementById('vrd-data').textContent);

function addFact(label, value, alert) {
  var box = el('div', 'fact' + (alert ? ' alert' : ''));
  box.appendChild(el('span', 'label', label));
  box.appendChild(el('span', 'value', value));
  document.getElementById('facts').appendChild(box);
}

(function addFacts() {
  var all = (data.band_snapshot || {}).ALL || [];
  var current = all.length ? all[all.length - 1].bands.YI : null;
  if (current) addFact('YI firma', wholeNumber(current.count) + ' · ' + shortAmount(current.risk_tl) + ' TL', true);
  if (data.liste_sayilari) addFact('İzleme listelerinde', wholeNumber(data.liste_sayilari.herhangi) + ' firma');
  if (data.edition !== 'portfoy') {
    addFact('Görünüm', wholeNumber(data.firma) + ' / ' + wholeNumber(data.portfoy_firma) + ' firma');
  }
})();

var firms = new Firms(data);
var panel = new FirmPanel(firms, data);
var openFirm = function (row) { panel.open(firms.get(row, 'muta')); };
setUpBandChart(data);
setUpFlowMatrix(data, function (segment, transition, from, to) {
  firms.drawFlowFirms(document.getElementById('flow-firms'), segment, transition, from, to, openFirm);
});
firms.setUpTable(openFirm);
firms.drawWatchLists(document.getElementById('watch-lists'), data.liste_sayilari, openFirm);
(function listNote() {
  var counts = data.liste_sayilari || {}, sum = 0;
  LISTS.forEach(function (list) { sum += counts[list.flag] || 0; });
  footnote(document.getElementById('list-note'), 'Listelerin toplamı (' + wholeNumber(sum) + ') “İzleme listelerinde” sayısından (' +
    wholeNumber(counts.herhangi || 0) + ') büyük olabilir: bir firma birden çok listede yer alabilir. Her liste en çok ' +
    wholeNumber((data.kurallar || {}).liste_siniri) + ' firma tutar.');
})();
if (data.edition === 'admin') {
  setUpAdmin(data, function (muta) {
    var row = firms.find(muta);
    return row ? text(firms.get(row, 'unvan')) : text((data.unvanlar || {})[text(muta)]);
  }, function (muta) { panel.open(muta); });
}
drawDefinitions(document.getElementById('tanimlar'), data);

// Print shows the complete lists and table; the screen goes back to pages afterwards.
var printMedia = window.matchMedia('print');
printMedia.addEventListener('change', function () { setPrinting(printMedia.matches); });
window.addEventListener('beforeprint', function () { setPrinting(true); });
window.addEventListener('afterprint', function () { setPrinting(printMedia.matches); });
panel.followAddress();
