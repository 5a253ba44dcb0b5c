# %% [markdown]
# # Ingest: RKD kriter parquet
# The EUS scope criteria (RKD) per firm and period, one row per criterion, one parquet file per period.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
SOURCE_DIRS = "external_data/rkd_donem_data"
FORCE_RELOAD = False
REPORT_PATH = ""
SOURCE_CONTRACTS = "[]"
ACCEPTED_CHECKS = "[]"
REJECTED_DIR = ""

# %% include=_ingest_common

# %%
load_sources([d for d in SOURCE_DIRS.split(",") if d])
