# %% [markdown]
# # Ingest: DB tablo oluşturma
# Creates the analytic database and its schema: the raw tables the ingest steps fill,
# the load log, and the silver tables that `transform` rebuilds. Existing tables are kept.

# %% tags=["parameters"]
DB_PATH = "db/vrd.duckdb"
OUTPUT_DIR = "outputs/json"
WORK_DIR = "."
MUTA_FILTER_PATH = ""
FILE_SUFFIX = ""
REPORT_PATH = ""

# %%
import os

from vordak import sql, sql_script
from vordak.step_report import note_load

os.makedirs(os.path.dirname(os.path.abspath(DB_PATH)), exist_ok=True)

# %%
SCHEMA = """
CREATE TABLE IF NOT EXISTS ingest_log (adim VARCHAR, imza VARCHAR, dosya_sayisi INTEGER, satir BIGINT, yuklendi TIMESTAMP);
CREATE TABLE IF NOT EXISTS raw_kik (muta_no BIGINT, donem INTEGER, vrd_skor VARCHAR, izleme_durumu VARCHAR);
CREATE TABLE IF NOT EXISTS raw_kredi (muta_no BIGINT, donem INTEGER, nakit_risk DOUBLE, gnakit_risk DOUBLE,
                                      kombine_risk DOUBLE, risk_degisim DOUBLE);
CREATE TABLE IF NOT EXISTS raw_yis (muta_no BIGINT, donem INTEGER, yis_olasilik DOUBLE, yis_sinif INTEGER);
CREATE TABLE IF NOT EXISTS raw_eus (muta_no BIGINT, donem INTEGER, eus_skor DOUBLE, vrd_skor VARCHAR);
CREATE TABLE IF NOT EXISTS raw_eus_hedef (muta_no BIGINT, donem INTEGER);
CREATE TABLE IF NOT EXISTS raw_eus_kapsam (muta_no BIGINT, donem INTEGER, kaynak VARCHAR);
CREATE TABLE IF NOT EXISTS raw_statik_firma (muta_no BIGINT, unvan VARCHAR, segment VARCHAR, sube_kodu INTEGER,
                                             bolge_kodu INTEGER, son_izleme_kodu VARCHAR, risk_grup_kodu INTEGER,
                                             pgy VARCHAR, finansman_konu VARCHAR, tahsis_onay_birimi VARCHAR);
CREATE TABLE IF NOT EXISTS raw_statik_sube (sube_kodu INTEGER, sube_adi VARCHAR, bolge_kodu INTEGER, bolge_adi VARCHAR);
CREATE TABLE IF NOT EXISTS raw_train (muta_no BIGINT, donem INTEGER, gecikme_gun INTEGER, limit_kullanim_orani DOUBLE,
                                      cek_karsiliksiz INTEGER, hedef_yi INTEGER);
CREATE TABLE IF NOT EXISTS raw_rkd (muta_no BIGINT, donem INTEGER, kriter VARCHAR, deger DOUBLE);
CREATE TABLE IF NOT EXISTS raw_memzuc (muta_no BIGINT, donem INTEGER, memzuc_nakit DOUBLE, memzuc_gnakit DOUBLE,
                                       banka_sayisi INTEGER);
CREATE TABLE IF NOT EXISTS raw_depo (muta_no BIGINT, donem INTEGER, depo_risk DOUBLE);
CREATE TABLE IF NOT EXISTS fact_periodic (entity_id BIGINT, donem VARCHAR, vrd_skor VARCHAR, kombine_risk DOUBLE,
                                          risk_degisim DOUBLE, depo_risk DOUBLE, nakit_risk DOUBLE, gnakit_risk DOUBLE);
CREATE TABLE IF NOT EXISTS dim_entity (entity_id BIGINT, segment VARCHAR, sube_kodu INTEGER, bolge_kodu INTEGER,
                                       son_izleme_kodu VARCHAR, risk_grup_kodu INTEGER, pgy VARCHAR,
                                       finansman_konu VARCHAR, tahsis_onay_birimi VARCHAR);
CREATE TABLE IF NOT EXISTS map_identity (entity_id BIGINT, unvan VARCHAR);
CREATE TABLE IF NOT EXISTS ref_sube_bolge (sube_kodu INTEGER, sube_adi VARCHAR, bolge_kodu INTEGER, bolge_adi VARCHAR);
"""
TABLES = "SELECT table_name FROM information_schema.tables ORDER BY table_name"
existed = [t["table_name"] for t in sql(DB_PATH, TABLES)] if os.path.exists(DB_PATH) else []
sql_script(DB_PATH, SCHEMA, create=True)
tables = sql(DB_PATH, TABLES)
# Only a table made now changes anything the later steps read.
note_load(REPORT_PATH, changed=[t["table_name"] for t in tables] != existed)
print(f"  {DB_PATH}: {len(tables)} tablo")
print("  " + ", ".join(t["table_name"] for t in tables))
