# %% [markdown]
# # ML tahmin + SHAP
# Scores every firm that is not "YI" in the latest period with the champion of the model
# inventory and writes `ml_yi_tahmin(entity_id, yi_prob, model_id)`, which the marts
# attach to the scoreboard; `model_id` names the model that gave the probability.
# XGBoost's `pred_contribs` gives each feature's exact SHAP contribution to the firm's
# log-odds (TreeSHAP; with the bias term they add up to the model's margin); the three
# largest in size per firm go to `ml_yi_aciklama`, which the dashboards show as the
# firm's main drivers. `SCOREBOARD_PATH` is only reported on: the predictions do not need
# an earlier scoreboard.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
CACHE_DIR = "db/cache"
TEST_MUTA_COUNT = 0
MODEL_DIR = "ml_models"
SCOREBOARD_PATH = "outputs/json/sample_scoreboard.json"

# %% include=_model_inventory

# %%
import os

import numpy as np
import xgboost as xgb

from vordak import load_rows, sql_arrays

model_id, description = read_champion(MODEL_DIR)
FEATURES = description["ozellikler"]
model = load_booster(MODEL_DIR, model_id, description)
# Each firm's probability and contributions are its own: every core computes them, with
# the same results as one thread. The contributions took 11 s on one core at 200,000 firms.
model.set_param({"nthread": len(os.sched_getaffinity(0))})

limit = (f"AND entity_id IN (SELECT DISTINCT entity_id FROM ml_features ORDER BY entity_id LIMIT {int(TEST_MUTA_COUNT)})"
         if int(TEST_MUTA_COUNT) > 0 else "")
header, columns = sql_arrays(DB_PATH, f"""
SELECT entity_id, {', '.join(FEATURES)} FROM ml_features
WHERE donem = (SELECT max(donem) FROM fact_periodic) {limit} ORDER BY entity_id""")
if not len(columns[0]):
    raise ValueError("ml_features: son dönemde tahmin edilecek firma yok")
ids = columns[0].tolist()
X = xgb.DMatrix(np.column_stack(columns[1:]).astype(float), feature_names=FEATURES)

# %%
prob = model.predict(X)
load_rows(DB_PATH, "ml_yi_tahmin", [("entity_id", "BIGINT"), ("yi_prob", "DOUBLE"), ("model_id", "VARCHAR")],
          [(i, round(float(p), 6), model_id) for i, p in zip(ids, prob)])

contributions = model.predict(X, pred_contribs=True)
margin = model.predict(X, output_margin=True)
if not np.allclose(contributions.sum(axis=1), margin, atol=1e-4):
    raise ValueError("SHAP katkılarının toplamı modelin çıktısını vermiyor")
features_only = contributions[:, :-1]  # the last column is the bias
top = np.argsort(-np.abs(features_only), axis=1, kind="stable")[:, :3]
load_rows(DB_PATH, "ml_yi_aciklama", [("entity_id", "BIGINT"), ("sira", "INTEGER"), ("ozellik", "VARCHAR"),
                                      ("katki", "DOUBLE")],
          [(ids[r], k + 1, FEATURES[j], round(float(features_only[r, j]), 4))
           for r in range(len(ids)) for k, j in enumerate(top[r])])

print(f"  ml_yi_tahmin: model {model_id}, {len(ids)} firma, yi_prob >= 0.3: {int((prob >= 0.3).sum())}, "
      f">= 0.5: {int((prob >= 0.5).sum())}, ortalama {prob.mean():.3f}")
print(f"  Scoreboard: {SCOREBOARD_PATH} " + ("mevcut" if os.path.exists(SCOREBOARD_PATH) else "henüz yok (marts sonra yazar)"))
