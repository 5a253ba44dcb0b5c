# %% [markdown]
# # YIS skor backtest
# How well the YIS probability warned of firms reaching "YI": in every period but the last, the
# firms not in "YI" with a YIS probability form the population; an alarm is a probability of at least
# `ESIK`; the outcome is "YI" in the next period. Per period `backtest_yis` holds the
# counts, precision, recall, F1 and AUC; `backtest_yis_firma` lists the TP, FP and FN firms.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
ESIK = 0.5

# %% include=_backtest_common

# %%
backtest("yis", "raw_yis", "yis_olasilik", ESIK)
