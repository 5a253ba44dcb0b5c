"""What a step's notebook tells the engine beyond "it ran" or "it failed".

The engine names a file in the notebook's REPORT_PATH parameter and reads it after the
notebook has run. The file is one JSON object; today it has one member:

    {"kaynak_degisti": false}    every load of the step found its sources as loaded last
                                 time and kept the table's rows: the step changed nothing,
                                 so the engine does not re-run the steps below it

A notebook that writes no report (or an empty REPORT_PATH, as outside a run) is taken to
have changed its outputs. The file is written whole through a temporary file and a rename,
so the engine never reads half a report.
"""

import json
import os

__all__ = ["note_load"]

# What the notebook's loads found so far, by report path: a notebook may load several tables.
_changed = {}


def note_load(report_path, changed):
    """Records one load of the step: `changed` is false when the table kept its rows."""
    if not report_path:
        return
    _changed[report_path] = _changed.get(report_path, False) or bool(changed)
    _write(report_path, {"kaynak_degisti": _changed[report_path]})


def _write(path, report):
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="utf-8") as stream:
        json.dump(report, stream, ensure_ascii=False)
    os.replace(temporary, path)
