# %% [markdown]
# # Ingest: YIS tahmin CSV
# The YIS model's predictions: per firm and period the probability of reaching "YI" and its class.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
SOURCE_DIR = "external_data/yis_tahmin_data"
FORCE_RELOAD = False
REPORT_PATH = ""

# %% include=_ingest_common

# %%
files = source_files(SOURCE_DIR, "*.csv")
load("ingest_yis", "raw_yis", files, f"""
SELECT TRY_CAST(MUTA_NO AS BIGINT), TRY_CAST(DONEM AS INTEGER), TRY_CAST(YIS_OLASILIK AS DOUBLE),
       TRY_CAST(YIS_SINIF AS INTEGER)
FROM read_csv({file_list(files)}, delim = ';', header = true, all_varchar = true)
WHERE TRY_CAST(MUTA_NO AS BIGINT) IS NOT NULL""")
