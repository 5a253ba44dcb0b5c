# Loading helpers shared by the ingest notebooks. A load replaces the raw table's rows in
# one transaction, so a failing extract leaves the previous rows in place.
import glob
import os
import time

from vordak import quote, sql_script, sql_value
from vordak.step_report import note_load


def source_files(directory, pattern):
    files = sorted(glob.glob(os.path.join(directory, pattern)))
    if not files:
        raise FileNotFoundError(f"{directory}: kaynak dosya bulunamadı ({pattern})")
    return files


def file_list(files):
    return "[" + ", ".join(quote(f) for f in files) + "]"


def signature(files):
    # Names, sizes and modification times: a changed extract changes the signature.
    return ";".join(f"{os.path.basename(f)}:{os.path.getsize(f)}:{int(os.path.getmtime(f))}" for f in files)


def load(step, table, files, select_sql):
    """Replaces the rows of `table` with `select_sql`, unless the files are the ones
    loaded last time; either way the step's report (REPORT_PATH) tells the engine."""
    last = sql_value(DB_PATH, f"SELECT imza FROM ingest_log WHERE adim = {quote(step + ':' + table)} "
                              "ORDER BY yuklendi DESC LIMIT 1")
    rows = sql_value(DB_PATH, f"SELECT count(*) FROM {table}")
    # From the command line the flag arrives as text or as 0/1.
    force = str(FORCE_RELOAD).strip().lower() in ("1", "true", "yes", "evet", "e")
    if not force and last == signature(files) and rows:
        print(f"  {table}: kaynak değişmedi, {rows} satır korunuyor")
        note_load(REPORT_PATH, changed=False)
        return rows
    started = time.time()
    rows = sql_value(DB_PATH, f"""
        BEGIN;
        DELETE FROM {table};
        INSERT INTO {table} {select_sql};
        INSERT INTO ingest_log VALUES ({quote(step + ':' + table)}, {quote(signature(files))},
                                       {len(files)}, (SELECT count(*) FROM {table}), now());
        COMMIT;
        SELECT count(*) FROM {table}""")
    print(f"  {table}: {rows} satır, {len(files)} dosya ({time.time() - started:.1f}s)")
    if not rows:
        raise ValueError(f"{table}: kaynak dosyalarda satır yok")
    note_load(REPORT_PATH, changed=True)
    return rows
