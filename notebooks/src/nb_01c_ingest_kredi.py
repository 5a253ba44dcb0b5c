# %% [markdown]
# # Ingest: Kredi risk parquet
# Credit risk per firm and period: cash, non-cash and combined risk and the risk change.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
SOURCE_DIR = "external_data/kredi_db"
FORCE_RELOAD = False
REPORT_PATH = ""

# %% include=_ingest_common

# %%
files = source_files(SOURCE_DIR, "*.parquet")
load("ingest_kredi", "raw_kredi", files, f"""
SELECT MUTA_NO::BIGINT, DONEM::INTEGER, NAKIT_RISK, GNAKIT_RISK, KOMBINE_RISK, RISK_DEGISIM
FROM read_parquet({file_list(files)}, union_by_name = true)""")
