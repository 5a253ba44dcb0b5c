"""Builds the pipeline's notebooks (*.ipynb, nbformat 4) from the readable sources in src/.

    python3 notebooks/build_notebooks.py [--vordak BINARY] [--out DIR]

A source is Python split into cells by marker lines:

    # %% [markdown]            a markdown cell; its lines lose their leading "# "
    # %% tags=["parameters"]   a code cell with those tags
    # %%                       a code cell
    # %% include=NAME          a code cell holding src/NAME.py

The steps come from the engine's step table (`vordak steps --json`; BINARY defaults to
build/vordak): the notebook of each step, and the parameters a run hands it, which its
parameters cell must declare. The header notebook vrd_pipeline.ipynb is generated from the
table and the package version in the top-level CMakeLists.txt. Re-run after editing a
source and commit both.
"""

import json
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCES = os.path.join(HERE, "src")

MARKER = re.compile(r"^# %%(.*)$")


def package_version():
    with open(os.path.join(HERE, "..", "CMakeLists.txt"), encoding="utf-8") as stream:
        match = re.search(r"project\(vordak VERSION (\d+\.\d+\.\d+)", stream.read())
    if not match:
        sys.exit("CMakeLists.txt: project version not found")
    return match.group(1)


def step_table(vordak):
    """The engine's step table, as `vordak steps --json` prints it."""
    if not os.path.exists(vordak):
        sys.exit("%s not found: build first, or pass --vordak BINARY" % vordak)
    result = subprocess.run([vordak, "steps", "--json"], capture_output=True, text=True, check=False)
    if result.returncode != 0:
        sys.exit("%s steps --json failed: %s" % (vordak, result.stderr.strip()))
    return json.loads(result.stdout)


def declared_parameters(cells):
    """Names assigned at the start of a line of the first code cell tagged "parameters"."""
    for cell in cells:
        if cell["cell_type"] == "code" and "parameters" in cell["metadata"].get("tags", []):
            source = "".join(cell["source"])
            return set(re.findall(r"^([A-Z][A-Z0-9_]*)\s*=", source, re.MULTILINE))
    return None


def check_parameters(step, base, cells):
    """Every parameter a run hands the step has a default in its parameters cell."""
    declared = declared_parameters(cells)
    if declared is None:
        sys.exit("%s (%s): no code cell tagged \"parameters\"" % (step["nb"], step["adim"]))
    missing = [name for name in base + step["parametreler"] if name not in declared]
    if missing:
        sys.exit("%s (%s): the parameters cell does not declare %s" % (step["nb"], step["adim"], ", ".join(missing)))


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


def header_notebook(version, steps):
    rows = "\n".join("| %d | `%s` | %s | %s |" % (i + 1, step["adim"], step["nb"], step["aciklama"])
                     for i, step in enumerate(steps))
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


def option(argv, name, default):
    return argv[argv.index(name) + 1] if name in argv else default


def main(argv):
    out = option(argv, "--out", HERE)
    table = step_table(option(argv, "--vordak", os.path.join(HERE, "..", "build", "vordak")))
    steps = table["adimlar"]
    version = package_version()
    for step in steps:
        nb = step["nb"]
        source = os.path.join(SOURCES, nb.replace(".ipynb", ".py"))
        if not os.path.exists(source):
            sys.exit("missing source for %s: %s" % (step["adim"], source))
        cells = cells_of(read_source(os.path.basename(source)))
        check_parameters(step, table["temel_parametreler"], cells)
        write(os.path.join(out, nb), notebook(nb, cells))
    write(os.path.join(out, "vrd_pipeline.ipynb"), header_notebook(version, steps))
    print("%d notebooks written to %s (v%s)" % (len(steps) + 1, out, version))


if __name__ == "__main__":
    main(sys.argv[1:])
