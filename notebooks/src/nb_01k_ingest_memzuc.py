# %% [markdown]
# # Ingest: Memzuc parquet
# The credit bureau's (memzuç) sector-wide risk per firm, one parquet file per period.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
SOURCE_DIRS = "external_data/memzuc_data_donem"
FORCE_RELOAD = False
REPORT_PATH = ""

# %% include=_ingest_common

# %%
directories = [d for d in SOURCE_DIRS.split(",") if d]
files = [f for d in directories for f in source_files(d, "*.parquet")]
load("ingest_memzuc", "raw_memzuc", files, f"""
SELECT MUTA_NO::BIGINT, DONEM::INTEGER, MEMZUC_NAKIT, MEMZUC_GNAKIT, BANKA_SAYISI
FROM read_parquet({file_list(files)}, union_by_name = true)""")
