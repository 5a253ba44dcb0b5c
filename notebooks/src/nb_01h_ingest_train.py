# %% [markdown]
# # Ingest: Training features parquet
# Training features of the YIS model per firm and period, with the target `HEDEF_YI`
# (the firm reached "YI" in the next period).

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
SOURCE_DIR = "external_data/yis_train_data"
FORCE_RELOAD = False
REPORT_PATH = ""
SOURCE_CONTRACTS = "[]"
ACCEPTED_CHECKS = "[]"
REJECTED_DIR = ""

# %% include=_ingest_common

# %%
load_sources([SOURCE_DIR])
