# %% [markdown]
# # Ingest: KIK izleme CSV
# The early-warning monitoring extract: one `;`-separated CSV per period with the firm's score
# (`VRD_SKOR`: digits or "YI", blank when the monitoring system has none).

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
SOURCE_DIR = "external_data/kik_data_ham_csv"
FORCE_RELOAD = False
REPORT_PATH = ""
SOURCE_CONTRACTS = "[]"
ACCEPTED_CHECKS = "[]"
REJECTED_DIR = ""

# %% include=_ingest_common

# %%
load_sources([SOURCE_DIR])
