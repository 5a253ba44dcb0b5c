// The validation tests of the administrator edition, per model: the event definition
// and the firms it leaves out, AUC with its DeLong interval and its test against the
// reference, Brier, Hosmer–Lemeshow, Herfindahl and PSI per period, a Jeffreys test per
// band with traffic lights, the ML features' stability, and the model inventory with the
// champion's comparison with its challenger.

var LIGHT_COLORS = { yesil: '#2e7d32', sari: '#f2b705', kirmizi: '#b3261e' };
var LIGHT_WORDS = { yesil: 'yeşil', sari: 'sarı', kirmizi: 'kırmızı' };
var LIGHT_RULE = 'Işıklar: yeşil p ≥ 0,05 · sarı 0,01 ≤ p < 0,05 · kırmızı p < 0,01.';

function lightFor(p) {
  if (!isNumber(p)) return null;
  return p < 0.01 ? 'kirmizi' : p < 0.05 ? 'sari' : 'yesil';
}

// A traffic light before (or, with 'prepend', at the start of) `node`'s text.
function lightMark(node, light, where) {
  if (!light) return null;
  var mark = el('span', 'light light-' + light);
  mark.title = LIGHT_WORDS[light];
  if (where === 'prepend') node.insertBefore(mark, node.firstChild);
  else node.appendChild(mark);
  return mark;
}

// A p-value with its light; empty when the test could not be made.
function lightCell(td, p, light) {
  if (!isNumber(p)) { td.textContent = '–'; return; }
  lightMark(td, light || lightFor(p));
  td.appendChild(document.createTextNode(decimal(p, 4)));
}

function validationTable(container, heads) {
  var table = container.appendChild(el('table', 'grid compact validation'));
  var head = table.appendChild(el('thead')).appendChild(el('tr'));
  heads.forEach(function (h, i) {
    var th = head.appendChild(el('th', i ? 'num' : '', h.label));
    if (h.title) th.title = h.title;
  });
  return table.appendChild(el('tbody'));
}

function periodRows(body, model) {
  var probability = model.olcek === 'olasilik';
  model.donemler.forEach(function (p) {
    var tr = body.appendChild(el('tr', p.az_olay && p.n ? 'few' : ''));
    tr.appendChild(el('td', '', p.donem));
    tr.appendChild(el('td', 'num', wholeNumber(p.n)));
    var events = tr.appendChild(el('td', 'num', p.n ? wholeNumber(p.yi) : '–'));
    if (p.az_olay && p.n) events.appendChild(el('span', 'few-note', ' (< 20)'));
    var auc = tr.appendChild(el('td', 'num interval', aucWithInterval(p)));
    markFewEvents(auc, p);
    tr.appendChild(el('td', 'num', isNumber(p.gini) ? decimal(p.gini, 4) : '–'));
    lightCell(tr.appendChild(el('td', 'num auc-test')), p.auc_p);
    if (probability) {
      tr.appendChild(el('td', 'num', isNumber(p.brier) ? decimal(p.brier, 4) : '–'));
      var hl = tr.appendChild(el('td', 'num'));
      if (p.hl) { lightCell(hl, p.hl.p, p.hl.isik); hl.title = 'H = ' + decimal(p.hl.istatistik, 2) + ', ' + p.hl.sd + ' serbestlik derecesi'; }
      else hl.textContent = '–';
    }
    tr.appendChild(el('td', 'num', isNumber(p.hhi) ? decimal(p.hhi, 4) : '–'));
    var psi = tr.appendChild(el('td', 'num'));
    if (isNumber(p.psi)) {
      var level = psiLevel(p.psi);
      psi.appendChild(el('span', 'psi-mark ' + level.cls));
      psi.appendChild(document.createTextNode(decimal(p.psi, 4)));
      psi.title = level.label;
    } else psi.textContent = '–';
    tr.appendChild(el('td', 'num', wholeNumber(p.sonraki_bilinmeyen)));
  });
}

// Periods down, bands across: each cell the band's Jeffreys test with its light.
function jeffreysGrid(container, model) {
  var bands = model.bantlar.filter(function (b) { return b !== YI; });
  var body = validationTable(container, [{ label: 'Dönem' }].concat(bands.map(function (b) { return { label: b }; })));
  body.parentNode.className += ' jeffreys';
  model.donemler.forEach(function (p) {
    if (!p.jeffreys || !p.n) return;
    var tr = body.appendChild(el('tr'));
    tr.appendChild(el('td', '', p.donem));
    bands.forEach(function (band) {
      var test = p.jeffreys.filter(function (j) { return j.bant === band; })[0];
      var td = tr.appendChild(el('td', 'num'));
      if (!test || !isNumber(test.p)) { td.textContent = '·'; td.className += ' blank'; return; }
      lightCell(td, test.p, test.isik);
      td.title = band + ': ' + wholeNumber(test.firma) + ' firma, ' + wholeNumber(test.yi) + ' YI; ortalama tahmin ' +
        percent(100 * test.ort_olasilik, 2) + ', gerçekleşen ' + percent(100 * test.gozlenen_oran, 2) + ' (%95 aralık ' +
        percent(100 * test.alt, 2) + '–' + percent(100 * test.ust, 2) + '); ' +
        (test.yon === 'dusuk_tahmin' ? 'model riski düşük tahmin ediyor.' : 'model riski yüksek tahmin ediyor.');
    });
  });
}

// The ML features' PSI per period against the champion's training window.
function featureGrid(container, stability) {
  if (!stability) return;
  if (stability.eksik) { container.appendChild(el('p', 'missing', 'Özellik kararlılığı ölçülemedi: ' + stability.eksik)); return; }
  container.appendChild(el('h4', '', 'Özellik kararlılığı (PSI)'));
  container.appendChild(el('p', 'what', 'Her özelliğin dağılımının şampiyonun eğitim penceresine göre kayması. ' + stability.referans));
  var periods = stability.donemler.map(function (d) { return d.donem; });
  var body = validationTable(container, [{ label: 'Özellik' }].concat(periods.map(function (p) { return { label: p }; })));
  stability.ozellikler.forEach(function (feature, k) {
    var tr = body.appendChild(el('tr'));
    tr.appendChild(el('td', '', feature));
    stability.donemler.forEach(function (d) {
      var value = d.psi[k], td = tr.appendChild(el('td', 'num'));
      if (!isNumber(value)) { td.textContent = '–'; return; }
      var level = psiLevel(value);
      td.className += ' ' + level.cls;
      td.textContent = decimal(value, 4);
      td.title = feature + ', ' + d.donem + ': ' + level.label;
    });
  });
}

function drawModelValidation(container, model) {
  var block = container.appendChild(el('div', 'validation-model'));
  block.id = 'dogrulama-' + model.model;
  block.appendChild(el('h4', '', model.ad + ' · ' + model.kaynak));
  var left = 0, unknown = 0;
  model.donemler.forEach(function (p) { left += p.sonraki_bilinmeyen || 0; unknown += p.durumu_bilinmeyen || 0; });
  block.appendChild(el('p', 'event-definition', EVENT_DEFINITION + ' Bu modelde sonraki dönemi bilinmeyen: ' + wholeNumber(left) +
    ' firma-dönem; bu dönemki durumu bilinmeyen: ' + wholeNumber(unknown) + '.'));
  if (model.referans) block.appendChild(el('p', 'what', model.referans.aciklama + ' AUC testi tek yönlüdür: z = (referans AUC − AUC) / ' +
    'standart hata (DeLong); küçük p, AUC’nin referansın anlamlı olarak altına düştüğünü söyler. ' + LIGHT_RULE));
  var heads = [{ label: 'Dönem' }, { label: 'Firma' }, { label: 'YI' }, { label: 'AUC [%95 DeLong]' }, { label: 'Gini' },
    { label: 'AUC testi p', title: 'Referans AUC’ye göre tek yönlü düşüş testi' }];
  if (model.olcek === 'olasilik') {
    heads.push({ label: 'Brier' }, { label: 'Hosmer–Lemeshow p', title: 'Ondalık dilimler üzerinden, 8 serbestlik derecesi' });
  }
  heads.push({ label: 'HHI' }, { label: 'PSI (referans)' }, { label: 'Sonraki dönemi bilinmeyen' });
  periodRows(validationTable(block, heads), model);
  if (model.olcek === 'olasilik') {
    block.appendChild(el('h4', '', 'Jeffreys testi (bant başına)'));
    block.appendChild(el('p', 'what', 'Her bandın ortalama tahmini, bandın gerçekleşen YI sayısına karşı: Beta(YI + ½, firma − YI + ½) ' +
      'sonsalında iki yönlü p = 2 · min(F(tahmin), 1 − F(tahmin)). Bantlar: ' + model.bant_kaynagi + ' ' + LIGHT_RULE));
    jeffreysGrid(block, model);
  } else {
    block.appendChild(el('p', 'what', 'EUS bir olasılık değil skordur: Brier, Hosmer–Lemeshow ve Jeffreys testleri uygulanmaz.'));
  }
  featureGrid(block, model.ozellik_kararliligi);
}

function drawValidation(container, models) {
  var part = modelPart(container, 'dogrulama', 'Doğrulama testleri',
    'Her model ve dönem için ayırma gücü, kalibrasyon, yoğunlaşma ve kararlılık testleri. 20’den az olaya dayanan ölçümler gri gösterilir.');
  models.forEach(function (model) { drawModelValidation(part.part, model); });
}

// The models the page measures: the two scores from outside and every ML model kept.
function drawInventory(container, inventory, models) {
  var part = modelPart(container, 'envanter', 'Model envanteri',
    'EUS ve YIS bankanın dış modelleridir; ML modellerinin her biri eğitildiği çalıştırmada ml_models/<kimlik>/ altına saklanır, ' +
    'üzerine yazılmaz. Tahminleri şampiyon verir.').part;
  var body = validationTable(part, [{ label: 'Model' }, { label: 'Rol' }, { label: 'Tür / kaynak' }, { label: 'Eğitim penceresi' },
    { label: 'Doğrulama' }, { label: 'AUC' }, { label: 'Brier' }, { label: 'Alarm eşiği' }, { label: 'Eğitim verisi (SHA-256)' },
    { label: 'Eğitim zamanı' }]);
  body.parentNode.className += ' inventory';
  var threshold = function (model) {
    return model && isNumber(model.esik) ? decimal(model.esik, model.olcek === 'skor' ? 0 : 2) : '–';
  };
  var row = function (cls, values, titles) {
    var tr = body.appendChild(el('tr', cls));
    values.forEach(function (value, i) {
      var td = tr.appendChild(el('td', i ? 'num' : '', value));
      if (titles && titles[i]) td.title = titles[i];
    });
  };
  models.filter(function (m) { return m.model !== 'ml'; }).forEach(function (m) {
    var reference = m.referans || {};
    row('outside', [m.ad, 'dış model', m.kaynak, '–', reference.donem ? 'referans dönem ' + reference.donem : '–',
      isNumber(reference.auc) ? decimal(reference.auc, 4) : '–', '–', threshold(m), '–', '–']);
  });
  var ml = models.filter(function (m) { return m.model === 'ml'; })[0];
  var inv = inventory || {};
  (inv.modeller || []).forEach(function (m) {
    var check = m.dogrulama || {};
    row(m.rol === 'sampiyon' ? 'champion' : '', [m.model_id, { sampiyon: 'şampiyon', rakip: 'rakip', arsiv: 'arşiv' }[m.rol] || m.rol,
      ({ xgb: 'XGBoost', lojistik: 'lojistik regresyon' }[m.tur] || m.tur) + ', ' + wholeNumber((m.ozellikler || []).length) + ' özellik',
      m.egitim_penceresi, m.dogrulama_donemi, isNumber(check.auc) ? decimal(check.auc, 4) : '–',
      isNumber(check.brier) ? decimal(check.brier, 4) : '–', m.rol === 'sampiyon' ? threshold(ml) : '–',
      (m.veri_hash || '').slice(0, 12), m.egitim_zamani],
    ['', '', (m.ozellikler || []).join(', ') + ' · parametreler: ' + JSON.stringify(m.parametreler || {}), '', '',
      'Doğrulama döneminde ' + wholeNumber(check.n) + ' firma, ' + wholeNumber(check.yi) + ' YI', '', '', m.veri_hash, '']);
  });
  if (inv.eksik) part.appendChild(el('p', 'missing', inv.eksik));
  if (inv.sampiyon) part.appendChild(el('p', 'what', 'Şampiyon: ' + inv.sampiyon + '.'));
  var test = inv.karsilastirma;
  if (!test) return;
  var better = test.fark >= 0 ? 'şampiyon' : 'rakip';
  var line = part.appendChild(el('p', 'comparison',
    'Şampiyon ' + test.sampiyon + ' ile rakip ' + test.rakip + ', doğrulama dönemi ' + text(test.donem) + ' (' + wholeNumber(test.n) +
    ' firma, ' + wholeNumber(test.yi) + ' YI): AUC ' + decimal(test.sampiyon_auc.auc, 4) + ' [' + decimal(test.sampiyon_auc.alt, 2) + '–' +
    decimal(test.sampiyon_auc.ust, 2) + '] ve ' + decimal(test.rakip_auc.auc, 4) + ' [' + decimal(test.rakip_auc.alt, 2) + '–' +
    decimal(test.rakip_auc.ust, 2) + ']; fark ' + decimal(test.fark, 4) + ' (standart hata ' + decimal(test.standart_hata, 4) +
    '). DeLong eşleştirilmiş testi, iki yönlü: p = ' + decimal(test.p, 4) + ' — ' +
    (test.p < 0.05 ? 'fark anlamlı (p < 0,05), ' + better + ' daha iyi.' : 'fark anlamlı değil (p ≥ 0,05).')));
  lightMark(line, lightFor(test.p), 'prepend');
}
