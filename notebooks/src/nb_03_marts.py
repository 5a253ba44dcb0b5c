# %% [markdown]
# # Scoreboard + Trending + HTML
# Runs the mart builder on the database: the scoreboard and trending JSON files, the
# branch-region reference CSV and the three dashboard editions, all in `OUTPUT_DIR`. The
# pages name the seasons that made their parts (`STEP_SEASONS`); the warnings go to the
# engine through `REPORT_PATH`.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
STEP_SEASONS = ""
REPORT_PATH = ""

# %%
import os

from vordak import run

arguments = ["marts", "--db", DB_PATH, "--output-dir", OUTPUT_DIR]
if FILE_SUFFIX:
    arguments += ["--suffix", FILE_SUFFIX]
# The seasons whose runs made the tables the pages show, from the engine.
if STEP_SEASONS:
    arguments += ["--step-seasons", STEP_SEASONS]
# The marts' warnings (repeated firms, risks that cannot be right) go up to the run.
if REPORT_PATH:
    arguments += ["--report", REPORT_PATH]
print(run(*arguments), end="")

# %%
for name in sorted(os.listdir(OUTPUT_DIR)):
    path = os.path.join(OUTPUT_DIR, name)
    if os.path.isfile(path) and name.endswith((".json", ".csv", ".html")) and not name.startswith("manifest_"):
        print(f"  {name}: {os.path.getsize(path) / 1024:.0f} KB")
