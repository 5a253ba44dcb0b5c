# %% [markdown]
# # Ingest: Memzuc parquet
# The credit bureau's (memzuç) sector-wide risk per firm, one parquet file per period.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
SOURCE_DIRS = "external_data/memzuc_data_donem"
FORCE_RELOAD = False
REPORT_PATH = ""
SOURCE_CONTRACTS = "[]"
ACCEPTED_CHECKS = "[]"
REJECTED_DIR = ""

# %% include=_ingest_common

# %%
load_sources([d for d in SOURCE_DIRS.split(",") if d])
