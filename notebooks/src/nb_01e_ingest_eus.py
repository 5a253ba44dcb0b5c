# %% [markdown]
# # Ingest: EUS tahmin CSV
# The EUS extract: the EUS model score and the early-warning score as EUS computed it
# (`transform` patches the monitoring extract's gaps with it).

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
SOURCE_DIR = "external_data/eus_tahmin_data"
FORCE_RELOAD = False
REPORT_PATH = ""
SOURCE_CONTRACTS = "[]"
ACCEPTED_CHECKS = "[]"
REJECTED_DIR = ""

# %% include=_ingest_common

# %%
load_sources([SOURCE_DIR])
