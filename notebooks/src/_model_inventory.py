# The model inventory: every trained model lives in MODEL_DIR/<id>/ (model.json describes
# it, the model file lies beside it) and is never overwritten; sampiyon.json names the
# champion, the model whose probabilities the predictions use.
import hashlib
import json
import os

import numpy as np
import xgboost as xgb

from vordak import sql_arrays


def read_champion(model_dir):
    """(model id, description) of the champion."""
    path = os.path.join(model_dir, "sampiyon.json")
    if not os.path.exists(path):
        raise FileNotFoundError(f"{path} yok: önce ml_train adımı bir model eğitmeli")
    with open(path, encoding="utf-8") as stream:
        model_id = json.load(stream)["model_id"]
    with open(os.path.join(model_dir, model_id, "model.json"), encoding="utf-8") as stream:
        return model_id, json.load(stream)


def load_booster(model_dir, model_id, description):
    """The champion's trees, on the thread count it was trained with."""
    booster = xgb.Booster()
    booster.load_model(os.path.join(model_dir, model_id, "model.ubj"))
    booster.set_param({"nthread": description["parametreler"]["nthread"]})
    return booster


def band_counts(values, edges):
    """How many values fall in each band; band k holds [edges[k-1], edges[k])."""
    return np.bincount(np.searchsorted(np.asarray(edges), values, side="right"), minlength=len(edges) + 1)


def training_data_hash(ids, donem, labels, features):
    """The SHA-256 of a model's training rows (keys, periods, labels and features, in their
    order), as the inventory keeps it in `veri_hash`."""
    digest = hashlib.sha256()
    for part in (np.asarray(ids, dtype=np.int64), donem, np.asarray(labels, dtype=int), features):
        digest.update(np.ascontiguousarray(part).tobytes())
    return digest.hexdigest()


def labelled_rows(db_path, features, condition=""):
    """ml_features' labelled rows, by period and then firm, narrowed by `condition` (an
    "AND ..." clause): firm ids, periods, labels and the features as one float matrix. The
    matrix is stacked once; the columns it came from are freed on return."""
    _, columns = sql_arrays(db_path, f"""
SELECT entity_id, donem, hedef_yi, {', '.join(features)} FROM ml_features
WHERE hedef_yi IS NOT NULL {condition} ORDER BY donem, entity_id""")
    # column_stack already gives floats when any feature is one: no second copy.
    return (columns[0].astype(np.int64, copy=False), columns[1], columns[2].astype(int),
            np.column_stack(columns[3:]).astype(float, copy=False))
