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

setUpBandChart(data);
setUpFlowMatrix(data);
var firms = new Firms(data);
var showFirm = firms.setUpTable();
firms.drawWatchLists(document.getElementById('watch-lists'), data.liste_sayilari, showFirm);
if (data.edition === 'admin') {
  var titles = {};
  firms.rows.forEach(function (r) { titles[text(firms.get(r, 'muta'))] = firms.get(r, 'unvan'); });
  setUpAdmin(data, function (muta) { return titles[text(muta)] || ''; });
}
