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
# The fold that trains on exactly the champion's rows (the SHA-256 the inventory keeps)
# takes the champion itself: fitted again, it would give the same trees.

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
import multiprocessing
import os
import time

import numpy as np
import xgboost as xgb
from sklearn.metrics import roc_auc_score

from vordak import load_rows, sql_script

# The champion as the training step described it.
model_id, description = read_champion(os.path.join(WORK_DIR, "ml_models"))
FEATURES, PARAMS, ROUNDS = description["ozellikler"], description["parametreler"], description["agac_sayisi"]

started = time.time()
ids, donem, y, X = labelled_rows(DB_PATH, FEATURES)
periods = sorted(set(donem))
print(f"  Veri okundu: {len(ids)} satır ({time.time() - started:.1f}s)")


# %%
def fold_probabilities(test_period):
    """The test period's probabilities from a model fitted on the periods before it."""
    train, test = donem < test_period, donem == test_period
    model = xgb.train(PARAMS, xgb.DMatrix(X[train], label=y[train], feature_names=FEATURES), num_boost_round=ROUNDS)
    return model.predict(xgb.DMatrix(X[test], feature_names=FEATURES))


def is_champions_fold(test_period):
    """Whether the fold trains on exactly the champion's rows: the champion is then the
    model the fold would fit (same rows, parameters, seed and single thread)."""
    if test_period != description["dogrulama_donemi"] or description.get("xgboost") != xgb.__version__:
        return False
    train = donem < test_period
    return training_data_hash(ids[train], donem[train], y[train], X[train]) == description["veri_hash"]


def champion_probabilities(test_period):
    booster = load_booster(os.path.join(WORK_DIR, "ml_models"), model_id, description)
    return booster.predict(xgb.DMatrix(X[donem == test_period], feature_names=FEATURES))


runnable = []
for fold, test_period in enumerate(periods[-FOLD_SAYISI:], start=1):
    train, test = donem < test_period, donem == test_period
    if len(np.unique(y[train])) < 2 or len(np.unique(y[test])) < 2:
        print(f"  fold {fold} ({test_period}): iki sınıf yok, atlandı")
        continue
    runnable.append((fold, test_period))
started = time.time()
reused = {test_period for _, test_period in runnable if is_champions_fold(test_period)}
for fold, test_period in runnable:
    if test_period in reused:
        print(f"  fold {fold} ({test_period}): eğitim verisi şampiyonunkiyle aynı, şampiyon {model_id} kullanılıyor")
to_fit = [test_period for _, test_period in runnable if test_period not in reused]
# The folds are fitted side by side, one process each on one thread as the champion was,
# so that every fold's model is the one a lone fit gives.
workers = max(1, min(len(to_fit), len(os.sched_getaffinity(0))))
print(f"  {len(to_fit)} fold, {workers} süreçte eğitiliyor")
folds, firms, predictions = [], [], []
with multiprocessing.get_context("fork").Pool(workers) as pool:
    fitted = pool.imap(fold_probabilities, to_fit)
    for fold, test_period in runnable:
        prob = champion_probabilities(test_period) if test_period in reused else next(fitted)
        train, test = donem < test_period, donem == test_period
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
                category = "TP" if a and t else "FP" if a else "FN"
                firms.append((int(entity), test_period, category, round(float(p), 4), fold))
        print(f"  fold {fold} ({test_period}): eğitim {int(train.sum())}, test {int(test.sum())}, AUC {auc:.4f}, "
              f"TP={tp} FP={fp} FN={fn}")
print(f"  Fold'lar eğitildi ({time.time() - started:.1f}s)")
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
