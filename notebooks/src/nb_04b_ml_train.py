# %% [markdown]
# # ML eğitimi
# Trains the model that predicts reaching the "YI" state in the next period from
# `ml_features`: gradient-boosted trees (XGBoost, the same family as LightGBM), with a
# fixed seed and a fixed thread count so that a run gives the same model every time. The
# classes are not reweighted, so the output reads as a probability. The last labelled
# period is held out once to report AUC; the saved model is then fitted on every
# labelled row. Written to MODEL_DIR/ml_yi_model.ubj with its description ml_yi_model.json
# (features and parameters, which the ML backtest reuses).

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

import numpy as np
import xgboost as xgb
from sklearn.metrics import roc_auc_score

from vordak import sql_rows

with open(os.path.join(CACHE_DIR, "ml_features.json"), encoding="utf-8") as stream:
    FEATURES = json.load(stream)["features"]

# Shallow trees and a modest learning rate: a few thousand rows per period, rare positives.
PARAMS = {"objective": "binary:logistic", "tree_method": "hist", "max_depth": 3,
          "eta": 0.08, "subsample": 0.8, "colsample_bytree": 0.8, "min_child_weight": 2, "lambda": 1.0,
          "seed": 20240601, "nthread": 1}
ROUNDS = 160

# %%
limit = (f"AND entity_id IN (SELECT DISTINCT entity_id FROM ml_features ORDER BY entity_id LIMIT {int(TEST_MUTA_COUNT)})"
         if int(TEST_MUTA_COUNT) > 0 else "")
header, rows = sql_rows(DB_PATH, f"""
SELECT donem, hedef_yi, {', '.join(FEATURES)} FROM ml_features
WHERE hedef_yi IS NOT NULL {limit} ORDER BY donem, entity_id""")
donem = np.array([r[0] for r in rows])
y = np.array([r[1] for r in rows], dtype=int)
X = np.array([r[2:] for r in rows], dtype=float)
print(f"  {len(y)} satır, {int(y.sum())} pozitif, {len(FEATURES)} özellik, {len(set(donem))} dönem")
if len(set(y)) < 2:
    raise ValueError("Eğitim verisinde tek sınıf var; model eğitilemez")


def fit(features, labels):
    return xgb.train(PARAMS, xgb.DMatrix(features, label=labels, feature_names=FEATURES), num_boost_round=ROUNDS)


# %%
last_period = max(donem)
holdout = donem == last_period
auc = None
if len(set(y[holdout])) == 2 and len(set(y[~holdout])) == 2:
    check = fit(X[~holdout], y[~holdout])
    auc = float(roc_auc_score(y[holdout], check.predict(xgb.DMatrix(X[holdout], feature_names=FEATURES))))
    print(f"  Son etiketli dönem ({last_period}) üzerinde AUC: {auc:.4f}")

started = time.time()
model = fit(X, y)
gain = model.get_score(importance_type="total_gain")
total_gain = sum(gain.values()) or 1.0
importance = {name: round(gain.get(name, 0.0) / total_gain, 4) for name in FEATURES}
print(f"  Model eğitildi: {ROUNDS} ağaç ({time.time() - started:.1f}s)")
for name, share in sorted(importance.items(), key=lambda item: -item[1])[:5]:
    print(f"    {name}: %{100 * share:.1f}")

# %%
os.makedirs(MODEL_DIR, exist_ok=True)
model.save_model(os.path.join(MODEL_DIR, "ml_yi_model.ubj"))
with open(os.path.join(MODEL_DIR, "ml_yi_model.json"), "w", encoding="utf-8") as stream:
    json.dump({"model": f"XGBoost {xgb.__version__} gbtree", "features": FEATURES, "parametreler": PARAMS,
               "agac_sayisi": ROUNDS, "onem": importance, "satir": int(len(y)), "pozitif": int(y.sum()),
               "holdout_donem": last_period, "holdout_auc": auc,
               "egitim_zamani": time.strftime("%Y-%m-%d %H:%M:%S")}, stream, ensure_ascii=False, indent=2)
print(f"  Model: {os.path.join(MODEL_DIR, 'ml_yi_model.ubj')}")
