# %% [markdown]
# # Ingest: Training features parquet
# Training features of the YIS model per firm and period, with the target `HEDEF_YI`
# (the firm reached "YI" in the next period).

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
SOURCE_DIR = "external_data/yis_train_data"
FORCE_RELOAD = False
REPORT_PATH = ""

# %% include=_ingest_common

# %%
files = source_files(SOURCE_DIR, "*.parquet")
load("ingest_train", "raw_train", files, f"""
SELECT MUTA_NO::BIGINT, DONEM::INTEGER, GECIKME_GUN, LIMIT_KULLANIM_ORANI, CEK_KARSILIKSIZ, HEDEF_YI
FROM read_parquet({file_list(files)}, union_by_name = true)""")
