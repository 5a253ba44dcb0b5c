# %% [markdown]
# # Ingest: Statik bilgiler TXT
# Static firm data and the branch-region reference, as `|`-separated text files.
# Titles are loaded as delivered; `transform` cleans them and `diag_unvan` reports the faulty ones.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
SOURCE_DIR = "external_data/statik_db"
FORCE_RELOAD = False
REPORT_PATH = ""
SOURCE_CONTRACTS = "[]"
ACCEPTED_CHECKS = "[]"
REJECTED_DIR = ""

# %% include=_ingest_common

# %%
load_sources([SOURCE_DIR])
