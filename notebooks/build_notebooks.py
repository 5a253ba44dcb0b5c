"""Builds the pipeline's notebooks (*.ipynb, nbformat 4) from the readable sources in src/.

    python3 notebooks/build_notebooks.py [--out DIR]

A source is Python split into cells by marker lines:

    # %% [markdown]            a markdown cell; its lines lose their leading "# "
    # %% tags=["parameters"]   a code cell with those tags
    # %%                       a code cell
    # %% include=NAME          a code cell holding src/NAME.py

The header notebook vrd_pipeline.ipynb is generated from STEPS below and the package
version in the top-level CMakeLists.txt. Re-run after editing a source and commit both.
"""

import json
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCES = os.path.join(HERE, "src")

# Step key, notebook, description: the engine's registry, in its order.
STEPS = [
    ("ingest_ddl", "nb_01a_ingest_ddl.ipynb", "DB tablo oluşturma"),
    ("ingest_kik", "nb_01b_ingest_kik.ipynb", "KIK izleme CSV"),
    ("ingest_kredi", "nb_01c_ingest_kredi.ipynb", "Kredi risk parquet"),
    ("ingest_yis", "nb_01d_ingest_yis.ipynb", "YIS tahmin CSV"),
    ("ingest_eus", "nb_01e_ingest_eus.ipynb", "EUS tahmin CSV"),
    ("ingest_hedef_kapsam", "nb_01f_ingest_hedef_kapsam.ipynb", "EUS hedef+kapsam MUTA"),
    ("ingest_statik", "nb_01g_ingest_statik.ipynb", "Statik bilgiler TXT"),
    ("ingest_train", "nb_01h_ingest_train.ipynb", "Training features parquet"),
    ("ingest_rkd", "nb_01i_ingest_rkd.ipynb", "RKD kriter parquet"),
    ("ingest_memzuc", "nb_01k_ingest_memzuc.ipynb", "Memzuc parquet"),
    ("ingest_depo", "nb_01j_ingest_depo.ipynb", "Raporlama depo parquet"),
    ("transform", "nb_02_transform.ipynb", "Bronze → Silver (EUS patch dahil)"),
    ("eus_diag", "nb_06a_diag_extract.ipynb", "EUS kapsam dışı kalma teşhisi (extract)"),
    ("diag_analysis", "nb_06b_diag_analysis.ipynb", "Diagnostik analiz & özet tablolar"),
    ("diag_features", "nb_06c_diag_features.ipynb", "Diagnostik ML feature engineering"),
    ("ml_features", "nb_04a_ml_features.ipynb", "ML feature engineering"),
    ("ml_train", "nb_04b_ml_train.ipynb", "ML LightGBM eğitimi"),
    ("ml_predict", "nb_04c_ml_predict.ipynb", "ML tahmin + SHAP"),
    ("marts", "nb_03_marts.ipynb", "Scoreboard + Trending + HTML"),
    ("backtest_eus", "nb_05a_backtest_eus.ipynb", "EUS skor backtest"),
    ("backtest_yis", "nb_05b_backtest_yis.ipynb", "YIS skor backtest"),
    ("backtest_ml", "nb_05c_backtest_ml.ipynb", "ML scoreboard backtest"),
    ("diag_unvan", "nb_07a_diag_unvan.ipynb", "Unvan boşluk diagnostiği"),
    ("diag_risk", "nb_07b_diag_risk.ipynb", "Risk tutarlılık diagnostiği"),
]

MARKER = re.compile(r"^# %%(.*)$")


def package_version():
    with open(os.path.join(HERE, "..", "CMakeLists.txt"), encoding="utf-8") as stream:
        match = re.search(r"project\(vordak VERSION (\d+\.\d+\.\d+)", stream.read())
    if not match:
        sys.exit("CMakeLists.txt: project version not found")
    return match.group(1)


def source_lines(text):
    lines = text.strip("\n").split("\n")
    return [line + "\n" for line in lines[:-1]] + [lines[-1]]


def code_cell(text, tags=None):
    metadata = {"tags": tags} if tags else {}
    return {"cell_type": "code", "execution_count": None, "metadata": metadata, "outputs": [],
            "source": source_lines(text)}


def markdown_cell(text):
    return {"cell_type": "markdown", "metadata": {}, "source": source_lines(text)}


def read_source(name):
    with open(os.path.join(SOURCES, name), encoding="utf-8") as stream:
        return stream.read()


def cells_of(text):
    cells, kind, options, body = [], None, "", []

    def flush():
        if kind is None:
            return
        content = "\n".join(body).strip("\n")
        if kind == "markdown":
            content = "\n".join(re.sub(r"^# ?", "", line) for line in content.split("\n"))
            cells.append(markdown_cell(content))
            return
        include = re.search(r"include=(\w+)", options)
        if include:
            content = read_source(include.group(1) + ".py").strip("\n")
        tags = re.search(r"tags=(\[.*\])", options)
        cells.append(code_cell(content, json.loads(tags.group(1)) if tags else None))

    for line in text.split("\n"):
        marker = MARKER.match(line)
        if marker:
            flush()
            options = marker.group(1).strip()
            kind = "markdown" if options.startswith("[markdown]") else "code"
            body = []
        else:
            body.append(line)
    flush()
    return cells


def notebook(name, cells):
    # Stable cell ids (nbformat 4.5): the notebook's name and the cell's position.
    for index, cell in enumerate(cells):
        cell["id"] = "%s-%02d" % (name.replace(".ipynb", "").replace("_", "-"), index)
    return {
        "cells": cells,
        "metadata": {
            "kernelspec": {"display_name": "Python 3", "language": "python", "name": "python3"},
            "language_info": {"name": "python"},
        },
        "nbformat": 4,
        "nbformat_minor": 5,
    }


def header_notebook(version):
    rows = "\n".join("| %d | `%s` | %s | %s |" % (i + 1, key, nb, text) for i, (key, nb, text) in enumerate(STEPS))
    text = (
        "# Vordak Pipeline — Motor Orchestrator v%s\n\n"
        "Kredi erken uyarı skor tablosunun veri hattı. Her adım bir notebook'tur; motor "
        "(`vordak run`) değişen adımları çalıştırır, atlananları ve sonuçları sezon dizinine yazar.\n\n"
        "| # | adım | notebook | açıklama |\n|---|---|---|---|\n%s\n\n"
        "Çalıştırma: `vordak run --work-dir DIZIN`; tek adım: `vordak step ADIM`; "
        "plan: `vordak plan`; tutarlılık: `vordak check`." % (version, rows)
    )
    check = (
        "# Registry, notebooks, header and package version agree when this prints nothing.\n"
        "from vordak import run\n\n"
        "print(run(\"check\"), end=\"\")\n"
        "print(run(\"--version\"), end=\"\")"
    )
    return notebook("vrd_pipeline.ipynb", [markdown_cell(text), code_cell(check)])


def write(path, document):
    with open(path, "w", encoding="utf-8") as stream:
        json.dump(document, stream, ensure_ascii=False, indent=1)
        stream.write("\n")


def main(argv):
    out = argv[argv.index("--out") + 1] if "--out" in argv else HERE
    version = package_version()
    for key, nb, _ in STEPS:
        source = os.path.join(SOURCES, nb.replace(".ipynb", ".py"))
        if not os.path.exists(source):
            sys.exit("missing source for %s: %s" % (key, source))
        write(os.path.join(out, nb), notebook(nb, cells_of(read_source(os.path.basename(source)))))
    write(os.path.join(out, "vrd_pipeline.ipynb"), header_notebook(version))
    print("%d notebooks written to %s (v%s)" % (len(STEPS) + 1, out, version))


if __name__ == "__main__":
    main(sys.argv[1:])
