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

# %% include=_ingest_common

# %%
files = source_files(SOURCE_DIR, "*.csv")
load("ingest_eus", "raw_eus", files, f"""
SELECT TRY_CAST(MUTA_NO AS BIGINT), TRY_CAST(DONEM AS INTEGER), TRY_CAST(EUS_SKOR AS DOUBLE),
       NULLIF(trim(VRD_SKOR), '')
FROM read_csv({file_list(files)}, delim = ';', header = true, all_varchar = true)
WHERE TRY_CAST(MUTA_NO AS BIGINT) IS NOT NULL""")
