# %% [markdown]
# # ML eğitimi
# Trains the model that predicts a firm entering the "YI" state in the next period from
# `ml_features`, and a challenger beside it, and adds both to the model inventory.
#
# - Training window: every labelled period but the last; the last labelled period
#   validates both models out of time.
# - Champion: gradient-boosted trees (XGBoost, the same family as LightGBM) with a fixed
#   seed and thread count, so that the same data give the same model. The classes are
#   not reweighted, so the output reads as a probability. Challenger: a logistic
#   regression on standardised features.
# - Each model is kept in MODEL_DIR/<id>/ and never overwritten. Its model.json holds the
#   training window, the features, the parameters, the SHA-256 of the training data, the
#   validation measures, and its probability bands: the training window's quantiles of
#   its own predictions, fixed with the model. The training window's band and feature
#   distributions are kept too, as the reference for stability.
# - The new XGBoost model becomes the champion (sampiyon.json), the model the
#   predictions use. The marts list the inventory (`ml_model_envanter`) and compare the
#   challenger with the champion on the validation period (`ml_model_dogrulama`).

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
CACHE_DIR = "db/cache"
TEST_MUTA_COUNT = 0
MODEL_DIR = "ml_models"

# %%
import json
import os
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import xgboost as xgb
from sklearn.linear_model import LogisticRegression
from sklearn.metrics import roc_auc_score

from vordak import load_rows

with open(os.path.join(CACHE_DIR, "ml_features.json"), encoding="utf-8") as stream:
    FEATURES = json.load(stream)["features"]

# Shallow trees and a modest learning rate: a few thousand rows per period, rare positives.
PARAMS = {"objective": "binary:logistic", "tree_method": "hist", "max_depth": 3,
          "eta": 0.08, "subsample": 0.8, "colsample_bytree": 0.8, "min_child_weight": 2, "lambda": 1.0,
          "seed": 20240601, "nthread": 1}
ROUNDS = 160
CHALLENGER = {"C": 1.0, "max_iter": 300, "solver": "lbfgs"}
# Probability bands: the training window's 50th, 75th, 90th and 97th percentiles of the
# model's own predictions; feature bins: the deciles of each feature.
BAND_QUANTILES = [0.5, 0.75, 0.9, 0.97]
FEATURE_QUANTILES = [0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9]

# %% include=_model_inventory

# %%
limit = (f"AND entity_id IN (SELECT DISTINCT entity_id FROM ml_features ORDER BY entity_id LIMIT {int(TEST_MUTA_COUNT)})"
         if int(TEST_MUTA_COUNT) > 0 else "")
started = time.time()
ids, donem, y, X = labelled_rows(DB_PATH, FEATURES, limit)
print(f"  Veri okundu: {len(ids)} satır ({time.time() - started:.1f}s)")
periods = sorted(set(donem))
if len(periods) < 2:
    raise ValueError("En az iki etiketli dönem gerekir: eğitim penceresi ve doğrulama dönemi")
validation_period = periods[-1]
train, valid = donem < validation_period, donem == validation_period
if len(np.unique(y[train])) < 2 or len(np.unique(y[valid])) < 2:
    raise ValueError("Eğitim penceresinde ya da doğrulama döneminde tek sınıf var; model eğitilemez")
print(f"  Eğitim penceresi {periods[0]} – {periods[-2]}: {int(train.sum())} satır, {int(y[train].sum())} pozitif; "
      f"doğrulama {validation_period}: {int(valid.sum())} satır, {int(y[valid].sum())} pozitif; {len(FEATURES)} özellik")

X_train, y_train = X[train], y[train]
data_hash = training_data_hash(ids[train], donem[train], y_train, X_train)

# %%
started = time.time()
mean, scale = X_train.mean(axis=0), X_train.std(axis=0)
scale[scale == 0] = 1.0


def fit_challenger():
    challenger = LogisticRegression(**CHALLENGER).fit((X_train - mean) / scale, y_train)
    reference = {}
    for j, name in enumerate(FEATURES):
        edges = np.unique(np.quantile(X_train[:, j], FEATURE_QUANTILES))
        reference[name] = {"sinirlar": edges.tolist(), "sayilar": band_counts(X_train[:, j], edges).tolist()}
    return challenger, reference


# The champion fits on one thread; the challenger and the feature deciles take the other
# core meanwhile. Both libraries release Python's lock while they compute, and neither
# result depends on what runs beside it.
with ThreadPoolExecutor(max_workers=1) as beside:
    challenger_fit = beside.submit(fit_challenger)
    champion = xgb.train(PARAMS, xgb.DMatrix(X_train, label=y_train, feature_names=FEATURES), num_boost_round=ROUNDS)
    challenger, feature_reference = challenger_fit.result()
print(f"  Modeller eğitildi ({time.time() - started:.1f}s)")
# Each row's prediction is the same on any number of threads; the fit above is not.
champion.set_param({"nthread": len(os.sched_getaffinity(0))})


def champion_predict(features):
    return champion.predict(xgb.DMatrix(features, feature_names=FEATURES))


def challenger_predict(features):
    return challenger.predict_proba((features - mean) / scale)[:, 1]


# %%
started = time.time()
# One training time for both models of this run, in their ids and their descriptions, so
# that the inventory lists them together (newest first, the champion first among them).
trained_at = time.localtime()
stamp = time.strftime("%Y%m%d-%H%M%S", trained_at)


def describe(kind, predict, extra):
    """Keeps one model in the inventory: a new directory, never an existing one."""
    base = f"yi-{kind}-{stamp}-{data_hash[:8]}"
    model_id, n = base, 2
    while os.path.exists(os.path.join(MODEL_DIR, model_id)):
        model_id, n = f"{base}-{n}", n + 1
    fitted, checked = predict(X_train), predict(X[valid])
    # Rounded as the predictions are stored, so that the marts band them as counted here.
    edges = np.unique(np.round(np.quantile(fitted, BAND_QUANTILES), 6))
    description = {
        "model_id": model_id, "tur": kind, "egitim_zamani": time.strftime("%Y-%m-%d %H:%M:%S", trained_at),
        "egitim_penceresi": [periods[0], periods[-2]], "dogrulama_donemi": validation_period,
        "ozellikler": FEATURES, "veri_hash": data_hash, "satir": int(train.sum()), "pozitif": int(y[train].sum()),
        "dogrulama": {"n": int(valid.sum()), "yi": int(y[valid].sum()),
                      "auc": round(float(roc_auc_score(y[valid], checked)), 6),
                      "brier": round(float(np.mean((checked - y[valid]) ** 2)), 6)},
        "bant_sinirlari": edges.tolist(),
        "bant_referans": band_counts(fitted, edges).tolist(),
        "ozellik_referans": feature_reference, **extra}
    os.makedirs(os.path.join(MODEL_DIR, model_id))
    return model_id, description, checked


champion_id, champion_description, champion_checked = describe(
    "xgb", champion_predict, {"parametreler": PARAMS, "agac_sayisi": ROUNDS, "xgboost": xgb.__version__})
champion.save_model(os.path.join(MODEL_DIR, champion_id, "model.ubj"))
challenger_id, challenger_description, challenger_checked = describe(
    "lojistik", challenger_predict,
    {"parametreler": CHALLENGER, "katsayilar": {"sabit": float(challenger.intercept_[0]),
                                                "agirlik": challenger.coef_[0].tolist(),
                                                "ortalama": mean.tolist(), "olcek": scale.tolist()}})
for model_id, description in ((champion_id, champion_description), (challenger_id, challenger_description)):
    with open(os.path.join(MODEL_DIR, model_id, "model.json"), "w", encoding="utf-8") as stream:
        json.dump(description, stream, ensure_ascii=False, indent=2)
pointer = os.path.join(MODEL_DIR, "sampiyon.json")
with open(pointer + ".tmp", "w", encoding="utf-8") as stream:
    json.dump({"model_id": champion_id, "rakip": challenger_id, "atanma_zamani": champion_description["egitim_zamani"]},
              stream, ensure_ascii=False, indent=2)
os.replace(pointer + ".tmp", pointer)

print(f"  Modeller envantere yazıldı: bantlar ve referans dağılımları ({time.time() - started:.1f}s)")
gain = champion.get_score(importance_type="total_gain")
total_gain = sum(gain.values()) or 1.0
for name, share in sorted(((n, gain.get(n, 0.0) / total_gain) for n in FEATURES), key=lambda item: -item[1])[:5]:
    print(f"    {name}: %{100 * share:.1f}")
for label, description in (("Şampiyon", champion_description), ("Rakip", challenger_description)):
    check = description["dogrulama"]
    print(f"  {label} {description['model_id']}: doğrulama AUC {check['auc']:.4f}, Brier {check['brier']:.4f}")

# %%
# The inventory as the marts read it, from every model kept, and the validation period's
# predictions of the champion and the challenger for their comparison.
def as_json(value):
    return json.dumps(value, ensure_ascii=False)


inventory = []
for model_id in sorted(os.listdir(MODEL_DIR)):
    path = os.path.join(MODEL_DIR, model_id, "model.json")
    if not os.path.isfile(path):
        continue
    with open(path, encoding="utf-8") as stream:
        d = json.load(stream)
    role = "sampiyon" if model_id == champion_id else "rakip" if model_id == challenger_id else "arsiv"
    inventory.append((model_id, d["tur"], role, d["egitim_zamani"], d["egitim_penceresi"][0], d["egitim_penceresi"][1],
                      d["dogrulama_donemi"], d["veri_hash"], d["satir"], d["pozitif"], d["dogrulama"]["n"],
                      d["dogrulama"]["yi"], d["dogrulama"]["auc"], d["dogrulama"]["brier"], as_json(d["ozellikler"]),
                      as_json(d["parametreler"]), as_json(d["bant_sinirlari"]), as_json(d["bant_referans"]),
                      as_json(d["ozellik_referans"])))
load_rows(DB_PATH, "ml_model_envanter",
          [("model_id", "VARCHAR"), ("tur", "VARCHAR"), ("rol", "VARCHAR"), ("egitim_zamani", "VARCHAR"),
           ("egitim_baslangic", "VARCHAR"), ("egitim_bitis", "VARCHAR"), ("dogrulama_donemi", "VARCHAR"),
           ("veri_hash", "VARCHAR"), ("satir", "BIGINT"), ("pozitif", "BIGINT"), ("dogrulama_n", "BIGINT"),
           ("dogrulama_yi", "BIGINT"), ("dogrulama_auc", "DOUBLE"), ("dogrulama_brier", "DOUBLE"),
           ("ozellikler", "VARCHAR"), ("parametreler", "VARCHAR"), ("bant_sinirlari", "VARCHAR"),
           ("bant_referans", "VARCHAR"), ("ozellik_referans", "VARCHAR")], inventory)
load_rows(DB_PATH, "ml_model_dogrulama",
          [("model_id", "VARCHAR"), ("entity_id", "BIGINT"), ("donem", "VARCHAR"), ("yi_prob", "DOUBLE"),
           ("hedef_yi", "INTEGER")],
          [(model_id, int(i), validation_period, round(float(p), 6), int(t))
           for model_id, checked in ((champion_id, champion_checked), (challenger_id, challenger_checked))
           for i, p, t in zip(ids[valid], checked, y[valid])])
print(f"  Envanter: {len(inventory)} model, şampiyon {champion_id} ({MODEL_DIR})")
