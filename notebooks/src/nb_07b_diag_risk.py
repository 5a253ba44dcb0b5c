# %% [markdown]
# # Risk tutarlılık diagnostiği
# Consistency checks of the risk amounts, written to `diag_risk` (one row per firm,
# period and failed check):
# - `KOMBINE_TOPLAM`: the combined risk differs from cash + non-cash risk by more than 4%;
# - `NEGATIF_RISK`: a negative risk amount;
# - `MEMZUC_ALTINDA`: the credit bureau's sector-wide risk is below the bank's own risk.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
TOLERANS = 0.04

# %%
from vordak import sql, sql_script

sql_script(DB_PATH, f"""
CREATE OR REPLACE TABLE diag_risk AS
SELECT entity_id, donem, 'KOMBINE_TOPLAM' AS kontrol, kombine_risk AS deger,
       nakit_risk + gnakit_risk AS beklenen,
       round(abs(kombine_risk - (nakit_risk + gnakit_risk)) / greatest(abs(kombine_risk), 1), 4) AS fark_orani
FROM fact_periodic
WHERE abs(kombine_risk - (nakit_risk + gnakit_risk)) > {TOLERANS} * greatest(abs(kombine_risk), 1)
UNION ALL
SELECT entity_id, donem, 'NEGATIF_RISK', least(kombine_risk, nakit_risk, gnakit_risk), 0, NULL
FROM fact_periodic WHERE least(kombine_risk, nakit_risk, gnakit_risk) < 0
UNION ALL
SELECT f.entity_id, f.donem, 'MEMZUC_ALTINDA', m.memzuc_nakit + m.memzuc_gnakit, f.kombine_risk,
       round(1 - (m.memzuc_nakit + m.memzuc_gnakit) / f.kombine_risk, 4)
FROM fact_periodic f
JOIN raw_memzuc m ON m.muta_no = f.entity_id
 AND m.donem = replace(f.donem, '-', '')::INTEGER
WHERE f.kombine_risk > 0 AND m.memzuc_nakit + m.memzuc_gnakit < f.kombine_risk * (1 - {TOLERANS})
ORDER BY entity_id, donem, kontrol
""")

# %%
for row in sql(DB_PATH, """
SELECT kontrol, count(*) AS bulgu, count(DISTINCT entity_id) AS firma
FROM diag_risk GROUP BY kontrol ORDER BY kontrol"""):
    print(f"  {row['kontrol']}: {row['bulgu']} bulgu, {row['firma']} firma")
