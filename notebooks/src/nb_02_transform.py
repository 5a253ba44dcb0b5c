# %% [markdown]
# # Transform: Bronze → Silver (EUS patch dahil)
# Builds the tables the marts read from the raw tables:
# - `fact_periodic`: per firm and period the score (the monitoring extract's, patched with
#   the EUS extract's where the monitoring one is blank), the credit and deposit risks;
# - `dim_entity`, `map_identity` (cleaned titles), `ref_sube_bolge`.
#
# The extracts are first checked against each other (`CROSS_CHECKS`, with `vordak
# reconcile`). Periods are written `YYYY-MM`. `REFERANS_TARIH_LIST` (e.g. `['2024-06', '2024-09']`)
# keeps only those periods; `MUTA_FILTER_PATH` (one MUTA per line) keeps only those firms.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
LOG_DIR = ""
REFERANS_TARIH_LIST = ""
REPORT_PATH = ""
CROSS_CHECKS = "[]"
ACCEPTED_CHECKS = "[]"

# %%
# The sources are checked against each other before they are combined: a blocking
# failure stops the step, and nothing below it runs.
import json

from vordak import run

if json.loads(CROSS_CHECKS):
    arguments = ["reconcile", "--db", DB_PATH, "--checks", CROSS_CHECKS]
    for check in json.loads(ACCEPTED_CHECKS or "[]"):
        arguments += ["--accept", check]
    if REPORT_PATH:
        arguments += ["--report", REPORT_PATH]
    print(run(*arguments), end="")

# %%
import ast
import json
import os
import re

from vordak import quote, sql, sql_script, sql_value


def period_label(text):
    """'2024-06', '2024-06-30' or '202406' -> '2024-06'."""
    digits = re.sub(r"\D", "", str(text))
    if len(digits) < 6:
        raise ValueError(f"REFERANS_TARIH_LIST: dönem anlaşılamadı: {text!r}")
    return f"{digits[:4]}-{digits[4:6]}"


periods = [period_label(p) for p in ast.literal_eval(REFERANS_TARIH_LIST)] if REFERANS_TARIH_LIST else []
period_filter = f"donem IN ({', '.join(quote(p) for p in periods)})" if periods else "true"

if MUTA_FILTER_PATH:
    if not os.path.exists(MUTA_FILTER_PATH):
        raise FileNotFoundError(f"MUTA filtre dosyası bulunamadı: {MUTA_FILTER_PATH}")
    muta_source = (f"SELECT DISTINCT TRY_CAST(trim(muta) AS BIGINT) AS muta_no FROM read_csv({quote(MUTA_FILTER_PATH)}, "
                   "header = false, columns = {'muta': 'VARCHAR'}) WHERE TRY_CAST(trim(muta) AS BIGINT) IS NOT NULL")
else:
    muta_source = "SELECT DISTINCT muta_no FROM raw_statik_firma UNION SELECT DISTINCT muta_no FROM raw_kik"
print(f"  Dönem filtresi: {periods or 'yok'}; MUTA filtresi: {MUTA_FILTER_PATH or 'yok'}")

# %%
sql_script(DB_PATH, f"""
BEGIN;
CREATE OR REPLACE TEMP TABLE muta_kapsam AS {muta_source};

CREATE OR REPLACE TABLE fact_periodic AS
WITH anahtar AS (
    SELECT muta_no, donem FROM raw_kik UNION SELECT muta_no, donem FROM raw_kredi
), kik AS (
    SELECT muta_no, donem, first(vrd_skor) FILTER (WHERE vrd_skor IS NOT NULL) AS vrd_skor FROM raw_kik GROUP BY ALL
), eus AS (
    SELECT muta_no, donem, first(vrd_skor) FILTER (WHERE vrd_skor IS NOT NULL) AS vrd_skor FROM raw_eus GROUP BY ALL
), kredi AS (
    SELECT muta_no, donem, first(kombine_risk) AS kombine_risk, first(risk_degisim) AS risk_degisim,
           first(nakit_risk) AS nakit_risk, first(gnakit_risk) AS gnakit_risk
    FROM raw_kredi GROUP BY ALL
), depo AS (
    SELECT muta_no, donem, sum(depo_risk) AS depo_risk FROM raw_depo GROUP BY ALL
), birlesik AS (
    SELECT a.muta_no AS entity_id,
           substr(a.donem::VARCHAR, 1, 4) || '-' || substr(a.donem::VARCHAR, 5, 2) AS donem,
           coalesce(kik.vrd_skor, eus.vrd_skor) AS vrd_skor,
           kredi.kombine_risk, kredi.risk_degisim, depo.depo_risk, kredi.nakit_risk, kredi.gnakit_risk
    FROM anahtar a
    LEFT JOIN kik USING (muta_no, donem)
    LEFT JOIN eus USING (muta_no, donem)
    LEFT JOIN kredi USING (muta_no, donem)
    LEFT JOIN depo USING (muta_no, donem)
    WHERE a.muta_no IN (SELECT muta_no FROM muta_kapsam)
)
SELECT * FROM birlesik WHERE {period_filter} ORDER BY donem, entity_id;

CREATE OR REPLACE TABLE ref_sube_bolge AS
SELECT DISTINCT sube_kodu, trim(sube_adi) AS sube_adi, bolge_kodu, trim(bolge_adi) AS bolge_adi
FROM raw_statik_sube ORDER BY sube_kodu;

CREATE OR REPLACE TABLE dim_entity AS
SELECT f.muta_no AS entity_id, any_value(f.segment) AS segment, any_value(f.sube_kodu) AS sube_kodu,
       coalesce(any_value(f.bolge_kodu), any_value(sb.bolge_kodu)) AS bolge_kodu,
       any_value(f.son_izleme_kodu) AS son_izleme_kodu, any_value(f.risk_grup_kodu) AS risk_grup_kodu,
       any_value(f.pgy) AS pgy, any_value(f.finansman_konu) AS finansman_konu,
       any_value(f.tahsis_onay_birimi) AS tahsis_onay_birimi
FROM raw_statik_firma f LEFT JOIN ref_sube_bolge sb USING (sube_kodu)
WHERE f.muta_no IN (SELECT muta_no FROM muta_kapsam)
GROUP BY f.muta_no ORDER BY entity_id;

-- Titles arrive with stray white space; a blank one is no title.
CREATE OR REPLACE TABLE map_identity AS
SELECT muta_no AS entity_id, any_value(NULLIF(trim(regexp_replace(unvan, '\\s+', ' ', 'g')), '')) AS unvan
FROM raw_statik_firma WHERE muta_no IN (SELECT muta_no FROM muta_kapsam)
GROUP BY muta_no ORDER BY entity_id;
COMMIT;
""")

# %%
summary = sql(DB_PATH, """
SELECT donem, count(*) AS firma, count(vrd_skor) AS skorlu, count(*) FILTER (WHERE vrd_skor = 'YI') AS yi,
       round(sum(kombine_risk) / 1e6, 1) AS risk_milyon
FROM fact_periodic GROUP BY donem ORDER BY donem""")
if not summary:
    raise ValueError("fact_periodic boş: ham tablolarda (raw_kik, raw_kredi) dönem yok ya da filtreler her şeyi eledi")
for row in summary:
    print(f"  {row['donem']}: {row['firma']} firma, {row['skorlu']} skorlu, {row['yi']} YI, risk {row['risk_milyon']} milyon")
patched = sql_value(DB_PATH, """
SELECT count(*) FROM raw_kik k JOIN raw_eus e USING (muta_no, donem)
WHERE k.vrd_skor IS NULL AND e.vrd_skor IS NOT NULL""")
counts = sql(DB_PATH, """
SELECT (SELECT count(*) FROM dim_entity) AS dim_entity, (SELECT count(*) FROM map_identity) AS map_identity,
       (SELECT count(*) FROM ref_sube_bolge) AS ref_sube_bolge""")[0]
print(f"  EUS patch: {patched} skor EUS kaynağından; " + ", ".join(f"{k} {v}" for k, v in counts.items()))

# %%
if LOG_DIR:
    os.makedirs(LOG_DIR, exist_ok=True)
    with open(os.path.join(LOG_DIR, "transform_ozet.json"), "w", encoding="utf-8") as stream:
        json.dump({"donemler": summary, "eus_patch": patched, "tablolar": counts,
                   "referans_tarih": periods, "muta_filtre": MUTA_FILTER_PATH}, stream, ensure_ascii=False, indent=2)
