# %% [markdown]
# # Diagnostik ML feature engineering
# Per firm and period (`YYYY-MM`, as in `fact_periodic`) the scope findings as model
# inputs, in `diag_features`: finding count, new findings, out-of-scope flag and the run of
# consecutive out-of-scope periods. Firms without findings get zeros.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""

# %%
from vordak import sql_value, sql_script

sql_script(DB_PATH, """
CREATE OR REPLACE TABLE diag_features AS
WITH bulgu AS (
    SELECT muta AS entity_id,
           substr(donem::VARCHAR, 1, 4) || '-' || substr(donem::VARCHAR, 5, 2) AS donem,
           count(*) FILTER (WHERE katman = 'RKD') AS diag_bulgu_sayisi,
           sum(yeni) FILTER (WHERE katman = 'RKD') AS diag_yeni_bulgu,
           max(CASE WHEN katman = 'KAPSAM' THEN 1 ELSE 0 END) AS kapsam_disi
    FROM diag_eus_kapsam_diskalma GROUP BY ALL
), hucre AS (
    SELECT f.entity_id, f.donem,
           coalesce(b.diag_bulgu_sayisi, 0) AS diag_bulgu_sayisi,
           coalesce(b.diag_yeni_bulgu, 0) AS diag_yeni_bulgu,
           coalesce(b.kapsam_disi, 0) AS kapsam_disi
    FROM fact_periodic f LEFT JOIN bulgu b USING (entity_id, donem)
), seri AS (
    -- Consecutive out-of-scope periods: a new run starts at every in-scope period.
    SELECT *, sum(1 - kapsam_disi) OVER (PARTITION BY entity_id ORDER BY donem) AS grup_no FROM hucre
)
SELECT entity_id, donem, diag_bulgu_sayisi::INTEGER AS diag_bulgu_sayisi,
       diag_yeni_bulgu::INTEGER AS diag_yeni_bulgu, kapsam_disi::INTEGER AS kapsam_disi,
       (sum(kapsam_disi) OVER (PARTITION BY entity_id, grup_no ORDER BY donem))::INTEGER AS ardisik_kapsam_disi
FROM seri ORDER BY entity_id, donem
""")
n = sql_value(DB_PATH, "SELECT count(*) FROM diag_features")
k = sql_value(DB_PATH, "SELECT count(*) FROM diag_features WHERE kapsam_disi = 1")
print(f"  diag_features: {n} satır, {k} kapsam dışı firma-dönem")
