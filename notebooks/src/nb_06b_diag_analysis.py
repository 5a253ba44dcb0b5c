# %% [markdown]
# # Diagnostik analiz & özet tablolar
# Summaries of the scope findings for the administrators:
# - `diag_ozet_donem`: per period the target, in-scope and out-of-scope firm counts;
# - `diag_ozet_kriter`: per period and criterion the findings and the new ones.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""

# %%
from vordak import sql, sql_script

sql_script(DB_PATH, """
CREATE OR REPLACE TABLE diag_ozet_donem AS
SELECT h.donem,
       count(DISTINCT h.muta_no) AS hedef_firma,
       count(DISTINCT k.muta_no) AS kapsam_firma,
       count(DISTINCT h.muta_no) - count(DISTINCT k.muta_no) AS kapsam_disi_firma,
       (SELECT count(DISTINCT muta) FROM diag_eus_kapsam_diskalma d
         WHERE d.donem = h.donem AND d.katman = 'KAPSAM' AND d.yeni = 1) AS yeni_kapsam_disi
FROM raw_eus_hedef h
LEFT JOIN raw_eus_kapsam k ON k.muta_no = h.muta_no AND k.donem = h.donem
GROUP BY h.donem ORDER BY h.donem;

CREATE OR REPLACE TABLE diag_ozet_kriter AS
SELECT donem, kriter, grup, count(*) AS bulgu, sum(yeni) AS yeni_bulgu,
       round(avg(deger), 3) AS ort_deger
FROM diag_eus_kapsam_diskalma WHERE katman = 'RKD'
GROUP BY ALL ORDER BY donem, kriter;
""")

# %%
for row in sql(DB_PATH, "SELECT * FROM diag_ozet_donem"):
    print(f"  {row['donem']}: hedef {row['hedef_firma']}, kapsam {row['kapsam_firma']}, "
          f"kapsam dışı {row['kapsam_disi_firma']} ({row['yeni_kapsam_disi']} yeni)")
son = sql(DB_PATH, "SELECT * FROM diag_ozet_kriter WHERE donem = (SELECT max(donem) FROM diag_ozet_kriter)")
for row in son:
    print(f"  son dönem {row['kriter']}: {row['bulgu']} bulgu, {row['yeni_bulgu']} yeni")
