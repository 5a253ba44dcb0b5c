# %% [markdown]
# # Ingest: Raporlama depo parquet
# Deposit risk from the reporting warehouse. Not offered by `vordak run`; run it with
# `vordak step ingest_depo --param SOURCE_DIR=...` (the demo does).

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
SOURCE_DIR = "external_data/raporlama_depo"
FORCE_RELOAD = False
REPORT_PATH = ""
SOURCE_CONTRACTS = "[]"
ACCEPTED_CHECKS = "[]"
REJECTED_DIR = ""

# %% include=_ingest_common

# %%
load_sources([SOURCE_DIR])
