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

# %% include=_ingest_common

# %%
files = source_files(SOURCE_DIR, "*.csv")
load("ingest_kik", "raw_kik", files, f"""
SELECT TRY_CAST(MUTA_NO AS BIGINT), TRY_CAST(DONEM AS INTEGER), NULLIF(trim(VRD_SKOR), ''), IZLEME_DURUMU
FROM read_csv({file_list(files)}, delim = ';', header = true, all_varchar = true)
WHERE TRY_CAST(MUTA_NO AS BIGINT) IS NOT NULL""")
