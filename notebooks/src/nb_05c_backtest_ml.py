# %% [markdown]
# # ML scoreboard backtest
# Walk-forward backtest of the "YI" model: for each of the last `FOLD_SAYISI` labelled
# periods, a model like the champion of the model inventory (same features, parameters
# and tree count) is fitted on the earlier periods only and tested on that period (alarm:
# probability of at least `ESIK`). A firm-period is labelled when the firm's state is
# known and not "YI" in it and known in the next period (`ml_features`). `backtest_ml` holds one row per fold (AUC, precision, recall, F1 and the
# counts); `backtest_ml_firma` lists the TP, FP and FN firms; `backtest_ml_tahmin` keeps
# every tested firm's probability, from which the marts measure the model per period
# (AUC, PSI, migration, calibration).

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
ESIK = 0.5
FOLD_SAYISI = 3

# %% include=_model_inventory

# %%
import os

import numpy as np
import xgboost as xgb
from sklearn.metrics import roc_auc_score

from vordak import load_rows, sql_script, sql_rows

# The champion as the training step described it.
model_id, description = read_champion(os.path.join(WORK_DIR, "ml_models"))
FEATURES, PARAMS, ROUNDS = description["ozellikler"], description["parametreler"], description["agac_sayisi"]

header, rows = sql_rows(DB_PATH, f"""
SELECT entity_id, donem, hedef_yi, {', '.join(FEATURES)} FROM ml_features
WHERE hedef_yi IS NOT NULL ORDER BY donem, entity_id""")
ids = np.array([r[0] for r in rows])
donem = np.array([r[1] for r in rows])
y = np.array([r[2] for r in rows], dtype=int)
X = np.array([r[3:] for r in rows], dtype=float)
periods = sorted(set(donem))

# %%
folds, firms, predictions = [], [], []
for fold, test_period in enumerate(periods[-FOLD_SAYISI:], start=1):
    train, test = donem < test_period, donem == test_period
    if len(set(y[train])) < 2 or len(set(y[test])) < 2:
        print(f"  fold {fold} ({test_period}): iki sınıf yok, atlandı")
        continue
    model = xgb.train(PARAMS, xgb.DMatrix(X[train], label=y[train], feature_names=FEATURES), num_boost_round=ROUNDS)
    prob = model.predict(xgb.DMatrix(X[test], feature_names=FEATURES))
    alarm, actual = prob >= ESIK, y[test] == 1
    tp, fp = int((alarm & actual).sum()), int((alarm & ~actual).sum())
    fn, tn = int((~alarm & actual).sum()), int((~alarm & ~actual).sum())
    precision = tp / (tp + fp) if tp + fp else None
    recall = tp / (tp + fn) if tp + fn else None
    f1 = 2 * tp / (2 * tp + fp + fn) if tp + fp + fn else None
    auc = float(roc_auc_score(actual, prob))
    r4 = lambda v: None if v is None else round(v, 4)  # noqa: E731
    folds.append((fold, test_period, int(train.sum()), int(test.sum()), r4(auc), r4(precision), r4(recall), r4(f1),
                  tp, fp, fn, tn))
    for entity, p, a, t in zip(ids[test], prob, alarm, actual):
        predictions.append((int(entity), test_period, round(float(p), 6), fold))
        if a or t:
            firms.append((int(entity), test_period, "TP" if a and t else "FP" if a else "FN", round(float(p), 4), fold))
    print(f"  fold {fold} ({test_period}): eğitim {int(train.sum())}, test {int(test.sum())}, AUC {auc:.4f}, "
          f"TP={tp} FP={fp} FN={fn}")
if not folds:
    raise ValueError("backtest_ml: hiçbir fold'da iki sınıf yok")

# %%
load_rows(DB_PATH, "backtest_ml",
          [("fold", "INTEGER"), ("donem", "VARCHAR"), ("n_egitim", "INTEGER"), ("n_test", "INTEGER"), ("auc", "DOUBLE"),
           ("precision_val", "DOUBLE"), ("recall_val", "DOUBLE"), ("f1", "DOUBLE"), ("tp", "INTEGER"),
           ("fp", "INTEGER"), ("fn", "INTEGER"), ("tn", "INTEGER")], folds)
load_rows(DB_PATH, "backtest_ml_firma",
          [("entity_id", "BIGINT"), ("donem", "VARCHAR"), ("kategori", "VARCHAR"), ("yi_prob", "DOUBLE"),
           ("fold", "INTEGER")], sorted(firms))
load_rows(DB_PATH, "backtest_ml_tahmin",
          [("entity_id", "BIGINT"), ("donem", "VARCHAR"), ("yi_prob", "DOUBLE"), ("fold", "INTEGER")], sorted(predictions))
sql_script(DB_PATH, f"""
CREATE TABLE IF NOT EXISTS backtest_esikler (model VARCHAR, esik DOUBLE);
DELETE FROM backtest_esikler WHERE model = 'ml';
INSERT INTO backtest_esikler VALUES ('ml', {float(ESIK)});""")
print(f"  backtest_ml: şampiyon {model_id} gibi, {len(folds)} fold, backtest_ml_firma: {len(firms)} firma-dönem, "
      f"backtest_ml_tahmin: {len(predictions)} tahmin")
