# %% [markdown]
# # EUS skor backtest
# How well the EUS score warned of firms reaching "YI": in every period but the last, the
# firms not in "YI" with an EUS score form the population; an alarm is a score of at least
# `ESIK`; the outcome is "YI" in the next period. Per period `backtest_eus` holds the
# counts, precision, recall, F1 and AUC; `backtest_eus_firma` lists the TP, FP and FN firms.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
ESIK = 700

# %% include=_backtest_common

# %%
backtest("eus", "raw_eus", "eus_skor", ESIK)
