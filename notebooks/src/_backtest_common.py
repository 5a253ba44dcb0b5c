# The score backtest shared by the EUS and YIS notebooks, in SQL. A firm counts for period
# t when its state is known and not "YI" at t and known at t+1 (a score or "YI" in the
# period right after t); the outcome is "YI" at t+1. AUC is the rank-sum (Mann-Whitney)
# form, with tied scores sharing their average rank. The alarm threshold is kept in
# backtest_esikler for the marts.
from vordak import sql, sql_script


def backtest(model, table, column, threshold):
    sql_script(DB_PATH, f"""
    CREATE OR REPLACE TEMP TABLE bt_all AS
    WITH donemler AS (
        SELECT donem, row_number() OVER (ORDER BY donem) AS sira FROM (SELECT DISTINCT donem FROM fact_periodic)
    ), hucre AS (
        SELECT f.entity_id, f.donem, f.vrd_skor,
               lead(f.vrd_skor) OVER w AS sonraki_vrd_skor, lead(d.sira) OVER w = d.sira + 1 AS sonraki_donem_var
        FROM fact_periodic f JOIN donemler d USING (donem)
        WINDOW w AS (PARTITION BY f.entity_id ORDER BY f.donem)
    )
    SELECT h.entity_id, h.donem, s.{column} AS skor, h.vrd_skor,
           CASE WHEN h.sonraki_donem_var THEN h.sonraki_vrd_skor END AS sonraki_vrd_skor,
           coalesce(h.sonraki_donem_var, false) AND h.sonraki_vrd_skor IS NOT NULL AS sonraki_bilinen,
           h.donem = (SELECT max(donem) FROM fact_periodic) AS son,
           s.{column} >= {threshold} AS alarm
    FROM hucre h JOIN {table} s ON s.muta_no = h.entity_id AND s.donem = replace(h.donem, '-', '')::INTEGER
    WHERE h.vrd_skor IS NOT NULL AND h.vrd_skor <> 'YI' AND s.{column} IS NOT NULL;

    CREATE OR REPLACE TEMP TABLE bt_pop AS
    SELECT *, sonraki_vrd_skor = 'YI' AS gercek FROM bt_all WHERE sonraki_bilinen;

    CREATE OR REPLACE TABLE backtest_{model} AS
    WITH sirali AS (
        SELECT *, rank() OVER (PARTITION BY donem ORDER BY skor)
                  + (count(*) OVER (PARTITION BY donem, skor) - 1) / 2.0 AS sira
        FROM bt_pop
    ), sayim AS (
        SELECT donem, count(*) AS n,
               count(*) FILTER (WHERE alarm AND gercek) AS tp, count(*) FILTER (WHERE alarm AND NOT gercek) AS fp,
               count(*) FILTER (WHERE NOT alarm AND gercek) AS fn, count(*) FILTER (WHERE NOT alarm AND NOT gercek) AS tn,
               sum(sira) FILTER (WHERE gercek) AS pozitif_sira
        FROM sirali GROUP BY donem
    ), bilinmeyen AS (
        SELECT donem, count(*) AS sonraki_bilinmeyen FROM bt_all WHERE NOT sonraki_bilinen AND NOT son GROUP BY donem
    )
    SELECT donem, n, tp, fp, fn, tn,
           round(tp / nullif(tp + fp, 0), 4) AS precision_val,
           round(tp / nullif(tp + fn, 0), 4) AS recall_val,
           round(2 * tp / nullif(2 * tp + fp + fn, 0), 4) AS f1,
           round((pozitif_sira - (tp + fn) * (tp + fn + 1) / 2.0) / nullif((tp + fn) * (n - tp - fn), 0), 4) AS auc,
           coalesce(sonraki_bilinmeyen, 0) AS sonraki_bilinmeyen
    FROM sayim LEFT JOIN bilinmeyen USING (donem) ORDER BY donem;

    CREATE OR REPLACE TABLE backtest_{model}_firma AS
    SELECT entity_id, donem,
           CASE WHEN alarm AND gercek THEN 'TP' WHEN alarm THEN 'FP' ELSE 'FN' END AS kategori,
           skor AS {column}, vrd_skor, sonraki_vrd_skor
    FROM bt_pop WHERE alarm OR gercek ORDER BY entity_id, donem;

    CREATE TABLE IF NOT EXISTS backtest_esikler (model VARCHAR, esik DOUBLE);
    DELETE FROM backtest_esikler WHERE model = '{model}';
    INSERT INTO backtest_esikler VALUES ('{model}', {float(threshold)});
    """)
    rows = sql(DB_PATH, f"SELECT * FROM backtest_{model}")
    if not rows:
        raise ValueError(f"backtest_{model}: {table} ile fact_periodic'in kesiştiği dönem yok")
    print(f"  Alarm eşiği: {threshold}")
    for r in rows:
        print(f"  {r['donem']}: n={r['n']} TP={r['tp']} FP={r['fp']} FN={r['fn']} "
              f"precision={r['precision_val']} recall={r['recall_val']} AUC={r['auc']} "
              f"sonraki dönemi bilinmeyen: {r['sonraki_bilinmeyen']}")
