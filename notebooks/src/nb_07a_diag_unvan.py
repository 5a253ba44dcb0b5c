# %% [markdown]
# # Unvan boşluk diagnostiği
# Firm titles as the static extract delivers them: blank titles, stray or doubled white
# space, and scored firms without any title record. Written to `diag_unvan`
# (one row per firm and problem) and summarised per problem.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""

# %%
from vordak import sql, sql_script

sql_script(DB_PATH, """
CREATE OR REPLACE TABLE diag_unvan AS
WITH ham AS (SELECT muta_no AS entity_id, unvan FROM raw_statik_firma)
SELECT entity_id, 'Unvan boş' AS sorun, unvan AS unvan_ham FROM ham WHERE unvan IS NULL OR trim(unvan) = ''
UNION ALL
SELECT entity_id, 'Başta/sonda boşluk', unvan FROM ham WHERE trim(unvan) <> '' AND unvan <> trim(unvan)
UNION ALL
SELECT entity_id, 'Çift boşluk', unvan FROM ham WHERE trim(unvan) <> '' AND unvan LIKE '%  %'
UNION ALL
SELECT DISTINCT f.entity_id, 'Unvan kaydı yok', NULL FROM fact_periodic f
WHERE NOT EXISTS (SELECT 1 FROM ham h WHERE h.entity_id = f.entity_id)
ORDER BY entity_id, sorun
""")

# %%
rows = sql(DB_PATH, "SELECT sorun, count(*) AS firma FROM diag_unvan GROUP BY sorun ORDER BY firma DESC")
for row in rows:
    print(f"  {row['sorun']}: {row['firma']} firma")
if not rows:
    print("  Unvan sorunu yok")
