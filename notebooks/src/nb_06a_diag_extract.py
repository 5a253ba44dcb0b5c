# %% [markdown]
# # EUS kapsam dışı kalma teşhisi (extract)
# For every EUS target firm that the scope query left out in a period, the findings that
# explain it, in `diag_eus_kapsam_diskalma` (read by the marts as the diagnostic index):
# - layer `KAPSAM`: the firm is a target but not in scope (`yeni` = 1 when it was in scope
#   in the previous period);
# - layer `RKD`: each scope criterion the firm fails, with its value and the previous
#   period's value (`yeni` = 1 when the criterion did not fail in the previous period).
#
# Periods are `YYYYMM` numbers here.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""

# %%
from vordak import quote, sql, sql_script

# The scope criteria: a value on the failing side of the threshold keeps a firm out.
CRITERIA = [
    ("GECIKME_GUN", "Gecikme", ">=", 60, "Gecikme gün sayısı 60 ve üzeri"),
    ("TEMINAT_ORANI", "Teminat", "<", 0.35, "Teminat oranı %35'in altında"),
    ("LIMIT_ASIM_ORANI", "Limit", ">=", 1.15, "Limit aşım oranı 1,15 ve üzeri"),
]
criteria_rows = ", ".join(f"({quote(k)}, {quote(g)}, {quote(op)}, {t}, {quote(a)})" for k, g, op, t, a in CRITERIA)

# %%
sql_script(DB_PATH, f"""
CREATE OR REPLACE TABLE diag_eus_kapsam_diskalma AS
WITH kural(kriter, grup, yon, esik, aciklama) AS (VALUES {criteria_rows}),
hedef AS (SELECT DISTINCT muta_no, donem FROM raw_eus_hedef),
kapsam AS (SELECT DISTINCT muta_no, donem FROM raw_eus_kapsam),
donemler AS (
    SELECT donem, lag(donem) OVER (ORDER BY donem) AS onceki FROM (SELECT DISTINCT donem FROM hedef)
),
disarida AS (
    SELECT h.muta_no, h.donem, d.onceki FROM hedef h JOIN donemler d USING (donem)
    WHERE NOT EXISTS (SELECT 1 FROM kapsam k WHERE k.muta_no = h.muta_no AND k.donem = h.donem)
),
rkd AS (
    SELECT r.muta_no, r.donem, r.kriter, r.deger, u.grup, u.aciklama,
           CASE u.yon WHEN '>=' THEN r.deger >= u.esik ELSE r.deger < u.esik END AS basarisiz
    FROM raw_rkd r JOIN kural u USING (kriter)
),
kapsam_bulgu AS (
    SELECT d.muta_no AS muta, d.donem, 'KAPSAM' AS katman, 'SQL_KAPSAM' AS kriter,
           NULL::DOUBLE AS deger, NULL::DOUBLE AS onceki_deger,
           'EUS hedef listesinde, SQL kapsamında değil' AS aciklama, 'Kapsam' AS grup,
           CASE WHEN EXISTS (SELECT 1 FROM kapsam k WHERE k.muta_no = d.muta_no AND k.donem = d.onceki)
                THEN 1 ELSE 0 END AS yeni
    FROM disarida d
),
kriter_bulgu AS (
    SELECT d.muta_no AS muta, d.donem, 'RKD' AS katman, r.kriter, r.deger, p.deger AS onceki_deger,
           r.aciklama, r.grup, CASE WHEN coalesce(p.basarisiz, false) THEN 0 ELSE 1 END AS yeni
    FROM disarida d
    JOIN rkd r ON r.muta_no = d.muta_no AND r.donem = d.donem AND r.basarisiz
    LEFT JOIN rkd p ON p.muta_no = d.muta_no AND p.donem = d.onceki AND p.kriter = r.kriter
)
SELECT muta, donem, katman, kriter, deger, onceki_deger, aciklama, grup, yeni::INTEGER AS yeni
FROM (SELECT * FROM kapsam_bulgu UNION ALL SELECT * FROM kriter_bulgu)
ORDER BY muta, donem, katman, kriter
""")

# %%
rows = sql(DB_PATH, """
SELECT donem, count(DISTINCT muta) AS firma, count(*) AS bulgu, sum(yeni) AS yeni
FROM diag_eus_kapsam_diskalma GROUP BY donem ORDER BY donem""")
for row in rows:
    print(f"  {row['donem']}: {row['firma']} firma kapsam dışı, {row['bulgu']} bulgu ({row['yeni']} yeni)")
if not rows:
    print("  Kapsam dışı kalan hedef firma yok")
