# %% [markdown]
# # Ingest: EUS hedef+kapsam MUTA
# Two firm lists per period: the EUS target firms (first directory of `SOURCE_DIRS`) and
# the firms the EUS scope query actually selected (second directory). `eus_diag` explains
# the target firms that fell out of scope.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
SOURCE_DIRS = "external_data/eus_hedef_muta,external_data/eus_sql_kapsam_muta"
FORCE_RELOAD = False
REPORT_PATH = ""

# %% include=_ingest_common

# %%
directories = [d for d in SOURCE_DIRS.split(",") if d]
if len(directories) != 2:
    raise ValueError(f"SOURCE_DIRS iki dizin olmalı (hedef,kapsam): {SOURCE_DIRS!r}")
hedef_dir, kapsam_dir = directories

files = source_files(hedef_dir, "*.csv")
load("ingest_hedef_kapsam", "raw_eus_hedef", files, f"""
SELECT TRY_CAST(MUTA_NO AS BIGINT), TRY_CAST(DONEM AS INTEGER)
FROM read_csv({file_list(files)}, delim = ';', header = true, all_varchar = true)
WHERE TRY_CAST(MUTA_NO AS BIGINT) IS NOT NULL""")

files = source_files(kapsam_dir, "*.csv")
load("ingest_hedef_kapsam", "raw_eus_kapsam", files, f"""
SELECT TRY_CAST(MUTA_NO AS BIGINT), TRY_CAST(DONEM AS INTEGER), KAYNAK
FROM read_csv({file_list(files)}, delim = ';', header = true, all_varchar = true)
WHERE TRY_CAST(MUTA_NO AS BIGINT) IS NOT NULL""")
