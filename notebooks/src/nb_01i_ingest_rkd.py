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

# %% include=_ingest_common

# %%
directories = [d for d in SOURCE_DIRS.split(",") if d]
files = [f for d in directories for f in source_files(d, "*.parquet")]
load("ingest_rkd", "raw_rkd", files, f"""
SELECT MUTA_NO::BIGINT, DONEM::INTEGER, KRITER, DEGER::DOUBLE
FROM read_parquet({file_list(files)}, union_by_name = true)""")
