// The "Tanımlar" card: what every word, band, list, badge and number of the page means.

var EDITION_SCOPE = {
  portfoy: 'Bu sayfa portföy sürümüdür: tüm firmaları gösterir.',
  yonetici: 'Bu sayfa yönetici sürümüdür.',
  admin: 'Bu sayfa yönetici · admin sürümüdür: yönetici sürümünün firmalarına backtest ve model ölçümlerini ekler.',
};

function definitionList(container, title, items) {
  container.appendChild(el('h3', '', title));
  var list = container.appendChild(el('dl', 'terms'));
  items.forEach(function (item) {
    var term = list.appendChild(el('dt'));
    if (item.badge) term.appendChild(item.badge);
    term.appendChild(document.createTextNode(item.term));
    list.appendChild(el('dd', '', item.text));
  });
}

function bandSwatch(band, cls) {
  return el('span', (cls || 'swatch') + ' ' + bandClass('band-', band));
}

function drawDefinitions(container, data) {
  var rules = data.kurallar || {};
  clear(container);
  var head = container.appendChild(el('div', 'card-head'));
  head.appendChild(el('h2', '', 'Tanımlar'));
  var body = container.appendChild(el('div', 'definitions'));
  var left = body.appendChild(el('div')), right = body.appendChild(el('div'));

  definitionList(left, 'Skor ve YI', [
    { badge: el('span', 'chip ' + bandClass('s-', YI), YI), term: 'YI', text: 'Yakın İzleme: firmanın yakın izlemeye alındığı durum. Bu durumdaki firmanın skoru yerine “YI” ' +
      'yazılır; YI bir bant değil, ayrı bir durumdur ve grafiklerde en üstte, kırmızı gösterilir.' },
    { term: 'Skor', text: 'Erken uyarı (VRD) skoru, 0–' + SCORE_MAX + ': yüksek skor yüksek risk demektir.' },
  ].concat(BANDS.slice(0, BANDS.length - 1).map(function (band, i) {
    return { badge: bandSwatch(band), term: 'Bant ' + band, text: 'Skoru ' + bandInterval(i) + ' aralığında olan firmalar' +
      (i === 0 ? ' (' + BAND_EDGES[0] + ' altındaki her skor, eksi skorlar da).' : i === BANDS.length - 2 ? ' (' + SCORE_MAX + ' üstü de).' : '.') };
  })).concat([
    { term: 'Son risk', text: 'Firmanın son dönemdeki kredi riski (kombine risk): TL tutarıdır, skor değildir. ' +
      '“Değişim” son risk ile önceki dönemin riski arasındaki farktır (TL). Son dönemde risk verisi olmayan firmada ikisi de ' +
      '“veri yok”tur: 0 TL ya da tam geri ödeme değil.' },
    { term: 'Risk (TL) grafikte', text: 'Bant grafiğinde ve geçiş matrisinde o dönemdeki kombine riskin mutlak değerinin toplamı.' },
  ]));

  definitionList(left, 'Model olasılığı', [
    { term: 'YI olasılığı', text: 'Makine öğrenmesi modelinin (gradyan artırmalı karar ağaçları) firmanın bir sonraki ' +
      'dönemde YI olma olasılığı. Zaten YI olan firmalara olasılık verilmez; tabloda “YI’de” yazar.' },
    { term: 'Tahmin listesi', text: 'YI olasılığı ' + percent(100 * (rules.ml_esik || 0), 0) + ' ve üzeri olan firmalar ' +
      '(yi_prob ≥ ' + decimal(rules.ml_esik, 1) + '), son riske göre sıralı.' },
    { term: 'Etkenler', text: 'Firma panelindeki etkenler, modelin bu firmaya verdiği olasılığa her özelliğin katkısıdır ' +
      '(SHAP değeri, log-odds ölçeğinde): artı değerler olasılığı yükseltir, eksi değerler düşürür.' },
  ]);

  definitionList(left, 'Sürüm', [
    { term: 'Bu sayfa', text: data.bolge ? 'Bu sayfa ' + text(data.bolge.ad || data.bolge.kod) + ' bölgesinin yönetici ' +
      'sürümüdür: yönetici sürümünün yalnızca bu bölgedeki firmalarını tutar.' : EDITION_SCOPE[data.edition] || '' },
    { term: 'Filtre', text: 'Bölge ve şube filtresi sayfadaki her sayıya, grafiğe, listeye ve tabloya uygulanır ve sayfa ' +
      'adresinde durur (#bolge=…&sube=…): filtreli bir sayfa bağlantısıyla paylaşılabilir.' },
    { term: 'Yönetici sürümü', text: 'KUR-TIC segmentindeki tüm firmalar; KOBI segmentinde son riske göre en büyük ' +
      wholeNumber(rules.kobi_ilk) + ' firma; diğer firmalardan son riski ' + wholeNumber(rules.yonetici_risk_esigi) +
      ' TL’yi aşanlar. Admin sürümü aynı firmaları gösterir.' },
  ]);

  definitionList(right, 'İzleme listeleri', LISTS.map(function (list) {
    var badge = el('span', 'flag flag-' + list.flag, list.short);
    return { badge: badge, term: list.title, text: list.rule };
  }).concat([{ term: 'Liste sınırı', text: 'Sayfadaki listeler tamdır ve sayfa sayfa gezilir; trending JSON dosyası her ' +
    'listenin kendi sıralamasındaki ilk ' + wholeNumber(rules.liste_siniri) + ' firmasını tutar. “YI” olan firmalar yalnızca ' +
    'YI – yakalanan ve YI – kaçırılan listelerinde yer alır.' }]));

  definitionList(right, 'İşaretler', [
    { badge: el('span', 'seg', 'KOBI'), term: 'Segment', text: 'Firmanın segmenti: KUR-TIC, KOBI, MIKRO ya da ESKK.' },
    { badge: el('span', 'score-chip ' + bandClass('s-', BANDS[2]), '612'), term: 'Skor hücresi', text: 'Rengi skorun bandını gösterir; ' +
      '“veri yok” o dönemde skor olmadığını, kırmızı “YI” yakın izlemeyi.' },
    { badge: el('span', 'chip up', '+1.250'), term: 'Değişim', text: 'Kırmızı artı: risk arttı; yeşil eksi: risk azaldı.' },
    { badge: el('span', 'chip', 'YI’de'), term: 'YI olasılığı sütunu', text: 'Firma zaten YI; olasılık verilmez.' },
  ].concat(data.edition === 'admin' ? [
    { term: 'Veri kalitesi', text: 'Her kaynağın son yüklemesinin kontrolleri (satır sayıları, eksik ya da atlanan dönem, ' +
      'tekrarlanan ya da çözülemeyen anahtar, boş zorunlu değer): geçti, uyarı, engel ya da operatörün kabul ettiği.' },
    { term: 'TP / FP / FN', text: 'Backtestte doğru alarm (alarm verildi, firma bir sonraki dönem YI’ye girdi), yanlış alarm ' +
      '(alarm verildi, girmedi) ve kaçırılan (alarm verilmedi, girdi). Alarm, skorun modelin alarm eşiğine ulaşmasıdır.' },
    { term: 'Olay', text: 'Bir firma t döneminde sayılır: t’de durumu biliniyor (skoru ya da YI’si var) ve YI değil, t+1’de ' +
      'durumu biliniyor. Olay, t+1’de YI’ye girmektir. Model ölçümleri, backtestler ve listelerdeki sayılar bu tanımı kullanır; ' +
      'sonraki dönemi bilinmeyen firmalar dışarıda kalır ve ayrıca sayılır.' },
    { term: 'AUC / Gini', text: 'Skorun olay yaşayan firmaları yaşamayanlardan ayırma gücü: AUC, rastgele bir olay firmasının ' +
      'rastgele bir diğer firmadan yüksek skor alma olasılığıdır (0,5 rastgele, 1 kusursuz); Gini = 2 × AUC − 1. Köşeli ' +
      'parantezde %95 DeLong aralığı.' },
    { term: 'AUC testi', text: 'Dönemin AUC’si referans AUC’ye karşı, tek yönlü: z = (referans − AUC) / standart hata (DeLong). ' +
      'Referans EUS ve YIS’te en az 20 olaylı ilk dönem, ML’de şampiyon modelin doğrulama dönemi AUC’sidir.' },
    { term: 'PSI', text: 'Skorun bant dağılımının referans örneğe göre kayması: Σ (pay − referans pay) × ln(pay / referans pay). ' +
      PSI_LEVELS.map(function (l) { return l.label; }).join('; ') + '. Referans EUS ve YIS’te referans dönem, ML’de şampiyon ' +
      'modelin eğitim penceresidir. EUS skorunda skor bantları, YIS’te sabit olasılık bantları, ML’de modelin eğitim ' +
      'penceresindeki tahmin yüzdeliklerinden gelen bantlar kullanılır; boş bir bandın payı 0,0001 sayılır.' },
    { term: 'HHI', text: 'Firmaların bantlarda yoğunlaşması (Herfindahl): 1 + ln(Σ pay²) / ln(bant sayısı); 0 eşit dağılım, 1 tek bant.' },
    { term: 'Göç oranı', text: 'Bir dönem bir bantta olan firmaların sonraki dönem her banda geçme oranı (satır toplamı %100).' },
    { term: 'Kalibrasyon', text: 'Firmalar tahmin edilen olasılığa göre on eşit dilime ayrılır; her dilimde ortalama tahmin ' +
      'ile gerçekleşen YI oranı karşılaştırılır. Brier skoru (tahmin − sonuç)² ortalamasıdır; Hosmer–Lemeshow testi ' +
      'dilimler üzerinden 8 serbestlik dereceli ki-kare testidir.' },
    { term: 'Jeffreys testi', text: 'Bir bandın (ya da dilimin) ortalama tahmini, gerçekleşen YI sayısına karşı: Beta(YI + ½, ' +
      'firma − YI + ½) dağılımında iki yönlü p. Işıklar: yeşil p ≥ 0,05, sarı 0,01 ≤ p < 0,05, kırmızı p < 0,01.' },
    { term: 'Az olay', text: '20’den az olaya dayanan ölçümler gri gösterilir; olay sayısı yanında yazar.' },
  ] : []));
}
