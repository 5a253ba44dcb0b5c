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

# %% include=_ingest_common

# %%
files = source_files(SOURCE_DIR, "*firma*.txt")
load("ingest_statik", "raw_statik_firma", files, f"""
SELECT TRY_CAST(MUTA_NO AS BIGINT), UNVAN, NULLIF(trim(SEGMENT), ''), TRY_CAST(SUBE_KODU AS INTEGER),
       TRY_CAST(BOLGE_KODU AS INTEGER), SON_IZLEME_KODU, TRY_CAST(RISK_GRUP_KODU AS INTEGER), PGY,
       FINANSMAN_KONU, TAHSIS_ONAY_BIRIMI
FROM read_csv({file_list(files)}, delim = '|', header = true, all_varchar = true, quote = '"')
WHERE TRY_CAST(MUTA_NO AS BIGINT) IS NOT NULL""")
files = source_files(SOURCE_DIR, "*sube*.txt")
load("ingest_statik", "raw_statik_sube", files, f"""
SELECT TRY_CAST(SUBE_KODU AS INTEGER), SUBE_ADI, TRY_CAST(BOLGE_KODU AS INTEGER), BOLGE_ADI
FROM read_csv({file_list(files)}, delim = '|', header = true, all_varchar = true)
WHERE TRY_CAST(SUBE_KODU AS INTEGER) IS NOT NULL""")
