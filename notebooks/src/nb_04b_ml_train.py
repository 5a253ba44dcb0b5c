# %% [markdown]
# # ML eğitimi
# Trains the model that predicts reaching the "YI" state in the next period from
# `ml_features`: a logistic regression on standardised features with balanced class
# weights (transitions to "YI" are rare). The last labelled period is held out once to
# report AUC; the saved model is then fitted on every labelled row. Written to
# MODEL_DIR/ml_yi_model.pkl with its description ml_yi_model.json.

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
import pickle
import time

import numpy as np
from sklearn.linear_model import LogisticRegression
from sklearn.metrics import roc_auc_score
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import StandardScaler

from vordak import sql_rows

with open(os.path.join(CACHE_DIR, "ml_features.json"), encoding="utf-8") as stream:
    FEATURES = json.load(stream)["features"]

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


def new_model():
    return make_pipeline(StandardScaler(), LogisticRegression(class_weight="balanced", max_iter=2000))


# %%
last_period = max(donem)
holdout = donem == last_period
auc = None
if len(set(y[holdout])) == 2 and len(set(y[~holdout])) == 2:
    check = new_model().fit(X[~holdout], y[~holdout])
    auc = float(roc_auc_score(y[holdout], check.predict_proba(X[holdout])[:, 1]))
    print(f"  Son etiketli dönem ({last_period}) üzerinde AUC: {auc:.4f}")

started = time.time()
model = new_model().fit(X, y)
coefficients = dict(zip(FEATURES, model[-1].coef_[0].round(4).tolist()))
print(f"  Model eğitildi ({time.time() - started:.1f}s)")
for name, value in sorted(coefficients.items(), key=lambda item: -abs(item[1]))[:5]:
    print(f"    {name}: {value:+.4f}")

# %%
os.makedirs(MODEL_DIR, exist_ok=True)
with open(os.path.join(MODEL_DIR, "ml_yi_model.pkl"), "wb") as stream:
    pickle.dump({"model": model, "features": FEATURES}, stream)
with open(os.path.join(MODEL_DIR, "ml_yi_model.json"), "w", encoding="utf-8") as stream:
    json.dump({"model": "LogisticRegression(class_weight=balanced)", "features": FEATURES,
               "katsayilar": coefficients, "satir": int(len(y)), "pozitif": int(y.sum()),
               "holdout_donem": last_period, "holdout_auc": auc,
               "egitim_zamani": time.strftime("%Y-%m-%d %H:%M:%S")}, stream, ensure_ascii=False, indent=2)
print(f"  Model: {os.path.join(MODEL_DIR, 'ml_yi_model.pkl')}")
