"""The AUC of a score per period against YI in the next period, by scikit-learn.

    /usr/bin/python3 sklearn_auc.py CELLS.csv

CELLS.csv has the header entity_id,donem,vrd_skor,skor (skor empty when the firm has no
score). For every period but the last, the population is the firms with a score, not in
YI, that have a row in the next period; the outcome is "YI" in that row. Prints a JSON
object {period: AUC or null}. Exits 3 when scikit-learn cannot be imported.
"""

import csv
import json
import sys

try:
    from sklearn.metrics import roc_auc_score
except ImportError as error:
    print(f"scikit-learn yok: {error}", file=sys.stderr)
    sys.exit(3)

cells = {}
with open(sys.argv[1], newline="", encoding="utf-8") as stream:
    for row in csv.DictReader(stream):
        cells[(row["donem"], int(row["entity_id"]))] = row
periods = sorted({period for period, _ in cells})

result = {}
for period, following in zip(periods, periods[1:]):
    scores, outcomes = [], []
    for (cell_period, firm), row in cells.items():
        later = cells.get((following, firm))
        if cell_period != period or row["skor"] == "" or row["vrd_skor"] == "YI" or later is None:
            continue
        scores.append(float(row["skor"]))
        outcomes.append(later["vrd_skor"] == "YI")
    result[period] = float(roc_auc_score(outcomes, scores)) if len(set(outcomes)) == 2 else None
print(json.dumps(result))
