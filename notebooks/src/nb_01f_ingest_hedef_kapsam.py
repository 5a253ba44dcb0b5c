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
SOURCE_CONTRACTS = "[]"
ACCEPTED_CHECKS = "[]"
REJECTED_DIR = ""

# %% include=_ingest_common

# %%
directories = [d for d in SOURCE_DIRS.split(",") if d]
if len(directories) != 2:
    raise ValueError(f"SOURCE_DIRS iki dizin olmalı (hedef,kapsam): {SOURCE_DIRS!r}")
load_sources(directories)
