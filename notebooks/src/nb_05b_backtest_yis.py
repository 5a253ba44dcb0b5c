# %% [markdown]
# # YIS skor backtest
# How well the YIS probability warned of firms reaching "YI": a firm counts for period t when
# its state is known and not "YI" at t and known at t+1, and has a YIS probability at t; an alarm
# is a probability of at least `ESIK`; the outcome is "YI" at t+1. Per period `backtest_yis`
# holds the counts, precision, recall, F1, AUC and the firms left out because their next
# period is unknown; `backtest_yis_firma` lists the TP, FP and FN firms.

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
