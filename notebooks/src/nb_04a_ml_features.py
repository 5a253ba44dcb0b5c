# %% [markdown]
# # ML feature engineering
# One row per firm and period in which the firm is not in the "YI" state, in `ml_features`:
# score and its changes, risk, the training extract's indicators, the credit bureau ratio
# and the scope diagnostics. The target `hedef_yi` follows the one event definition of
# the pipeline: a firm counts for period t when its state is known and not "YI" at t and
# known at t+1 (a score or "YI" in the period right after t); it is 1 when the firm is
# "YI" at t+1. Otherwise it is null: the firm is scored but not learned from (the last
# period, a missing score at t or at t+1, a firm absent from t+1). `TEST_MUTA_COUNT` > 0
# keeps only that many firms (the lowest MUTA numbers).

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
CACHE_DIR = "db/cache"
TEST_MUTA_COUNT = 0

# %%
import json
import os

from vordak import sql, sql_script

FEATURES = ["skor", "skor_d1", "skor_d3", "log_risk", "risk_degisim_orani", "gecikme_gun",
            "limit_kullanim_orani", "cek_karsiliksiz", "memzuc_orani", "banka_sayisi", "diag_bulgu_sayisi",
            "kapsam_disi"]
limit = f"LIMIT {int(TEST_MUTA_COUNT)}" if int(TEST_MUTA_COUNT) > 0 else ""

# %%
sql_script(DB_PATH, f"""
CREATE OR REPLACE TABLE ml_features AS
WITH firmalar AS (
    SELECT DISTINCT entity_id FROM fact_periodic ORDER BY entity_id {limit}
), donemler AS (
    SELECT donem, row_number() OVER (ORDER BY donem) AS sira FROM (SELECT DISTINCT donem FROM fact_periodic)
), hucre AS (
    SELECT f.entity_id, f.donem, replace(f.donem, '-', '')::INTEGER AS donem_no,
           coalesce(f.vrd_skor = 'YI', false) AS yi, f.vrd_skor IS NOT NULL AS bilinen,
           CASE WHEN f.vrd_skor = 'YI' THEN 1000 ELSE TRY_CAST(f.vrd_skor AS DOUBLE) END AS skor_ham,
           f.kombine_risk, f.risk_degisim,
           lead(f.vrd_skor) OVER w AS sonraki_skor, lead(d.sira) OVER w = d.sira + 1 AS sonraki_donem_var
    FROM fact_periodic f JOIN donemler d USING (donem) WHERE f.entity_id IN (SELECT entity_id FROM firmalar)
    WINDOW w AS (PARTITION BY f.entity_id ORDER BY f.donem)
), seri AS (
    SELECT *,
           skor_ham - lag(skor_ham) OVER (PARTITION BY entity_id ORDER BY donem) AS d1,
           skor_ham - lag(skor_ham, 3) OVER (PARTITION BY entity_id ORDER BY donem) AS d3
    FROM hucre
)
SELECT s.entity_id, s.donem,
       coalesce(s.skor_ham, 500) AS skor,
       coalesce(s.d1, 0) AS skor_d1, coalesce(s.d3, 0) AS skor_d3,
       ln(1 + greatest(coalesce(s.kombine_risk, 0), 0)) AS log_risk,
       coalesce(s.risk_degisim / nullif(s.kombine_risk, 0), 0) AS risk_degisim_orani,
       coalesce(t.gecikme_gun, 0) AS gecikme_gun, coalesce(t.limit_kullanim_orani, 0) AS limit_kullanim_orani,
       coalesce(t.cek_karsiliksiz, 0) AS cek_karsiliksiz,
       coalesce((m.memzuc_nakit + m.memzuc_gnakit) / nullif(s.kombine_risk, 0), 1) AS memzuc_orani,
       coalesce(m.banka_sayisi, 1) AS banka_sayisi,
       coalesce(d.diag_bulgu_sayisi, 0) AS diag_bulgu_sayisi, coalesce(d.kapsam_disi, 0) AS kapsam_disi,
       CASE WHEN s.bilinen AND s.sonraki_donem_var AND s.sonraki_skor IS NOT NULL
            THEN (s.sonraki_skor = 'YI')::INTEGER END AS hedef_yi
FROM seri s
LEFT JOIN raw_train t ON t.muta_no = s.entity_id AND t.donem = s.donem_no
LEFT JOIN raw_memzuc m ON m.muta_no = s.entity_id AND m.donem = s.donem_no
LEFT JOIN diag_features d ON d.entity_id = s.entity_id AND d.donem = s.donem
WHERE NOT s.yi
ORDER BY s.donem, s.entity_id
""")

# %%
summary = sql(DB_PATH, """
SELECT count(*) AS satir, count(DISTINCT entity_id) AS firma, count(hedef_yi) AS etiketli,
       coalesce(sum(hedef_yi), 0) AS pozitif,
       count(*) FILTER (WHERE hedef_yi IS NULL AND donem < (SELECT max(donem) FROM fact_periodic)) AS bilinmeyen
FROM ml_features""")[0]
print(f"  ml_features: {summary['satir']} satır, {summary['firma']} firma, "
      f"{summary['etiketli']} etiketli ({summary['pozitif']} YI'ye geçiş), "
      f"bu ya da sonraki dönemi bilinmeyen: {summary['bilinmeyen']}")
if not summary["pozitif"]:
    raise ValueError("ml_features: YI'ye geçen firma-dönem yok, model eğitilemez")
os.makedirs(CACHE_DIR, exist_ok=True)
with open(os.path.join(CACHE_DIR, "ml_features.json"), "w", encoding="utf-8") as stream:
    json.dump({"features": FEATURES, "test_muta_count": int(TEST_MUTA_COUNT), **summary}, stream, indent=2)
