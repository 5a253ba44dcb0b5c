"""Vordak's Python side: a thin façade over the `vordak` binary for the pipeline notebooks.

    from vordak import sql, sql_rows, run

    rows = sql(DB_PATH, "SELECT donem, count(*) AS n FROM fact_periodic GROUP BY 1")
    run("marts", "--db", DB_PATH, "--output-dir", OUTPUT_DIR)

The package holds no pipeline logic: every call runs the binary. The binary is found
through VORDAK_EXE when set, else `vordak` on PATH, else beside the package (installed:
<prefix>/lib/python3/dist-packages/vordak -> <prefix>/bin/vordak; source tree:
<src>/python/vordak -> <src>/build/vordak). The notebook runner (run_notebook.py) lives
beside this file and is independent of it.
"""

import csv
import io
import os
import shutil
import subprocess
import tempfile

from .processes import die_with_parent

__all__ = ["VordakError", "executable", "run", "sql", "sql_rows", "sql_arrays", "sql_value", "sql_script", "load_rows",
           "quote"]


class VordakError(RuntimeError):
    """The binary exited with a non-zero status; the message carries its standard error."""


def executable():
    """Path of the `vordak` binary; raises VordakError when none is found."""
    configured = os.environ.get("VORDAK_EXE")
    if configured:
        return configured
    on_path = shutil.which("vordak")
    if on_path:
        return on_path
    package_dir = os.path.dirname(os.path.abspath(__file__))
    candidates = [
        # <prefix>/lib/python3/dist-packages/vordak -> <prefix>/bin/vordak
        os.path.join(package_dir, "..", "..", "..", "..", "bin", "vordak"),
        # <src>/python/vordak -> <src>/build/vordak
        os.path.join(package_dir, "..", "..", "build", "vordak"),
    ]
    for candidate in candidates:
        candidate = os.path.normpath(candidate)
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    raise VordakError("vordak programı bulunamadı: VORDAK_EXE ayarlayın ya da PATH'e ekleyin")


def run(*args):
    """Runs `vordak ARGS...` and returns its standard output as text. The command ends
    with its caller, however the caller ends (a notebook's kernel stopped with its run).

    Raises VordakError with the command's standard error when it exits non-zero."""
    command = [executable()] + [str(arg) for arg in args]
    process = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             preexec_fn=die_with_parent)
    if process.returncode != 0:
        detail = (process.stderr or "").strip() or process.stdout.strip()
        raise VordakError("vordak %s başarısız (çıkış kodu %d): %s" % (args[0] if args else "", process.returncode, detail))
    return process.stdout


def _typed(text):
    # The CSV form writes a null as an empty field; numbers come back as numbers.
    if text == "":
        return None
    try:
        return int(text)
    except ValueError:
        pass
    try:
        return float(text)
    except ValueError:
        return text


def sql_rows(db, text):
    """Runs SQL (one or more statements) and returns (header, rows) of the last result:
    the column names and a list of tuples, nulls as None, numbers as int or float."""
    output = run("sql", "--db", db, "--csv", text)
    reader = csv.reader(io.StringIO(output))
    header = next(reader, [])
    rows = [tuple(_typed(value) for value in record) for record in reader]
    return header, rows


def sql_arrays(db, text):
    """Runs SQL and returns (header, columns) of the last result: the column names and one
    NumPy array per column, for results too large for a Python object per value. An
    integer column without nulls is int64; one with nulls, and a float column, float64 with
    NaN for null; a text column fixed-width Unicode with "" for null."""
    import numpy

    with tempfile.TemporaryDirectory(prefix="vordak-") as directory:
        output = run("sql", "--db", db, "--npy", directory, text)
        header = next(csv.reader(io.StringIO(output)), [])
        return header, [numpy.load(os.path.join(directory, "%d.npy" % i)) for i in range(len(header))]


def sql(db, text):
    """Runs SQL and returns the last result as a list of dicts (column name -> value)."""
    header, rows = sql_rows(db, text)
    return [dict(zip(header, row)) for row in rows]


def sql_value(db, text):
    """The first column of the first row of the last result, or None when there is none."""
    _, rows = sql_rows(db, text)
    return rows[0][0] if rows and rows[0] else None


def sql_script(db, text, create=False):
    """Runs statements whose results are not needed (DDL, INSERT, COPY). The database
    must exist unless `create` is true (the schema step)."""
    run("sql", "--db", db, *(["--create"] if create else []), text)


def quote(text):
    """A SQL text literal: single quotes, inner quotes doubled."""
    return "'" + str(text).replace("'", "''") + "'"


def load_rows(db, table, columns, rows):
    """Creates or replaces `table` holding `rows` (sequences of values, None for null).
    `columns` lists (name, SQL type) pairs. The rows travel as a temporary CSV file."""
    with tempfile.TemporaryDirectory(prefix="vordak-") as directory:
        path = os.path.join(directory, table + ".csv")
        with open(path, "w", newline="", encoding="utf-8") as stream:
            writer = csv.writer(stream)
            writer.writerow([name for name, _ in columns])
            for row in rows:
                writer.writerow(["" if value is None else value for value in row])
        types = ", ".join("%s: %s" % (quote(name), quote(kind)) for name, kind in columns)
        sql_script(db, "CREATE OR REPLACE TABLE %s AS SELECT * FROM read_csv(%s, header = true, "
                       "columns = {%s}, nullstr = '')" % (table, quote(path), types))
