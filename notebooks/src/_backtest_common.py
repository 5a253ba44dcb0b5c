# The score backtest shared by the EUS and YIS notebooks, in SQL. AUC is the rank-sum
# (Mann-Whitney) form, with tied scores sharing their average rank.
from vordak import sql, sql_script


def backtest(model, table, column, threshold):
    sql_script(DB_PATH, f"""
    CREATE OR REPLACE TEMP TABLE bt_pop AS
    WITH hucre AS (
        SELECT entity_id, donem, vrd_skor,
               lead(vrd_skor) OVER (PARTITION BY entity_id ORDER BY donem) AS sonraki_vrd_skor,
               donem = max(donem) OVER () AS son
        FROM fact_periodic
    )
    SELECT h.entity_id, h.donem, s.{column} AS skor, h.vrd_skor, h.sonraki_vrd_skor,
           coalesce(h.sonraki_vrd_skor = 'YI', false) AS gercek, s.{column} >= {threshold} AS alarm
    FROM hucre h JOIN {table} s ON s.muta_no = h.entity_id AND s.donem = replace(h.donem, '-', '')::INTEGER
    WHERE NOT h.son AND coalesce(h.vrd_skor, '') <> 'YI' AND s.{column} IS NOT NULL;

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
    )
    SELECT donem, n, tp, fp, fn, tn,
           round(tp / nullif(tp + fp, 0), 4) AS precision_val,
           round(tp / nullif(tp + fn, 0), 4) AS recall_val,
           round(2 * tp / nullif(2 * tp + fp + fn, 0), 4) AS f1,
           round((pozitif_sira - (tp + fn) * (tp + fn + 1) / 2.0) / nullif((tp + fn) * (n - tp - fn), 0), 4) AS auc
    FROM sayim ORDER BY donem;

    CREATE OR REPLACE TABLE backtest_{model}_firma AS
    SELECT entity_id, donem,
           CASE WHEN alarm AND gercek THEN 'TP' WHEN alarm THEN 'FP' ELSE 'FN' END AS kategori,
           skor AS {column}, vrd_skor, sonraki_vrd_skor
    FROM bt_pop WHERE alarm OR gercek ORDER BY entity_id, donem;
    """)
    rows = sql(DB_PATH, f"SELECT * FROM backtest_{model}")
    if not rows:
        raise ValueError(f"backtest_{model}: {table} ile fact_periodic'in kesiştiği dönem yok")
    for r in rows:
        print(f"  {r['donem']}: n={r['n']} TP={r['tp']} FP={r['fp']} FN={r['fn']} "
              f"precision={r['precision_val']} recall={r['recall_val']} AUC={r['auc']}")
