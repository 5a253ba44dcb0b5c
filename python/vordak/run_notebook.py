"""Executes one already-parameterized notebook with nbclient, for the engine's executor.

    python3 run_notebook.py NOTEBOOK CWD [--timeout SECONDS]

The notebook at NOTEBOOK is executed in the working directory CWD and written back to
the same path, whether it runs to its end or a cell fails. The runner's own standard
output is the channel to the engine, one JSON object per line:

    {"progress": [3, 12]}            before code cell 3 of 12 runs
    {"status": "ok"}                 the notebook ran to its end
    {"status": "failed", "ename": ..., "evalue": ..., "cell_index": ..., "cell": ...,
     "traceback": ...}               a cell (or the kernel) failed; the notebook was written
    {"status": "unavailable", "message": ...}
                                     the notebook could not be run at all

Everything else (the kernel's own low-level output, library warnings) goes to standard
error, which the engine captures. Exit status: 0 ok, 1 failed, 2 unavailable.
"""

import argparse
import json
import os
import re
import sys
import tempfile

_ANSI_ESCAPE = re.compile(r"\x1b\[[0-?]*[ -/]*[@-~]|\x1b[@-Z\\-_]")


def strip_ansi(text):
    return _ANSI_ESCAPE.sub("", text)


def _clean(value):
    """Text the engine can parse: bytes that came in as lone surrogates (an undecodable
    file name in an error message) become replacement characters."""
    if not isinstance(value, str):
        return value
    return value.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


class _Channel:
    """The line protocol to the engine, on the descriptor that was standard output."""

    def __init__(self):
        channel_fd = os.dup(1)
        # From here on, anything that prints to fd 1 (the kernel inherits it) lands on
        # stderr and cannot corrupt the protocol.
        os.dup2(2, 1)
        self._out = os.fdopen(channel_fd, "w", encoding="utf-8", buffering=1)

    def send(self, message):
        message = {key: _clean(value) for key, value in message.items()}
        self._out.write(json.dumps(message, ensure_ascii=False) + "\n")
        self._out.flush()


def _source_text(cell):
    source = cell.get("source", "")
    return "".join(source) if isinstance(source, list) else source


def _error_output(cell):
    for output in cell.get("outputs", []) or []:
        if output.get("output_type") == "error":
            return output
    return None


def _write_notebook(nbformat, notebook, path):
    # Beside the target and renamed over it: a crash never leaves half a notebook.
    directory = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(prefix=".nb-", suffix=".tmp", dir=directory)
    try:
        with os.fdopen(handle, "w", encoding="utf-8") as stream:
            nbformat.write(notebook, stream)
        os.replace(temporary, path)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("notebook")
    parser.add_argument("cwd")
    parser.add_argument("--timeout", type=float, default=None,
                        help="seconds a cell may run; none by default")
    parser.add_argument("--vordak-exe", default=None,
                        help="the vordak binary the notebooks' helpers call")
    args = parser.parse_args(argv)
    channel = _Channel()

    def unavailable(message):
        channel.send({"status": "unavailable", "message": message})
        return 2

    try:
        import nbformat
        from nbclient import NotebookClient
        from nbclient.exceptions import CellExecutionError
    except ImportError as error:
        return unavailable("nbclient/nbformat yüklü değil (%s): %s" % (sys.executable, error))

    try:
        notebook = nbformat.read(args.notebook, as_version=4)
    except Exception as error:  # noqa: BLE001 - any unreadable notebook is reported, not raised
        return unavailable("notebook okunamadı: %s: %s" % (args.notebook, error))
    if not os.path.isdir(args.cwd):
        return unavailable("çalışma dizini bulunamadı: %s" % args.cwd)

    # The kernel inherits the environment: keeps the debugger's frozen-module warning
    # out of every cell's output.
    os.environ["PYDEVD_DISABLE_FILE_VALIDATION"] = "1"
    # Notebooks import their helpers from this package and call the binary that runs them.
    package_parent = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    os.environ["PYTHONPATH"] = os.pathsep.join(
        p for p in (package_parent, os.environ.get("PYTHONPATH", "")) if p)
    if args.vordak_exe:
        os.environ["VORDAK_EXE"] = args.vordak_exe

    code_cells = [i for i, cell in enumerate(notebook.cells) if cell.cell_type == "code"]
    state = {"started": False, "cell_index": None}

    def on_notebook_start(**_):
        state["started"] = True

    def on_cell_start(cell, cell_index, **_):
        state["cell_index"] = cell_index
        if cell.cell_type == "code":
            channel.send({"progress": [code_cells.index(cell_index) + 1, len(code_cells)]})

    client = NotebookClient(
        notebook,
        timeout=args.timeout,
        allow_errors=False,
        resources={"metadata": {"path": args.cwd}},
        on_notebook_start=on_notebook_start,
        on_cell_start=on_cell_start,
    )

    failure = None
    try:
        client.execute(cwd=args.cwd)
    except CellExecutionError as error:
        failure = error
    except Exception as error:  # noqa: BLE001 - kernel death, time-outs, start failures
        if not state["started"]:
            return unavailable("kernel başlatılamadı: %s: %s" % (type(error).__name__, error))
        failure = error

    try:
        _write_notebook(nbformat, notebook, args.notebook)
    except Exception as error:  # noqa: BLE001
        return unavailable("çalıştırılan notebook yazılamadı: %s: %s" % (args.notebook, error))

    if failure is None:
        channel.send({"status": "ok"})
        return 0

    index = state["cell_index"]
    cell = notebook.cells[index] if index is not None else None
    error_output = _error_output(cell) if cell is not None else None
    if isinstance(failure, CellExecutionError):
        ename, evalue = failure.ename, failure.evalue
    else:
        ename, evalue = type(failure).__name__, str(failure)
    if error_output is not None:
        traceback = "\n".join(error_output.get("traceback", []))
    else:
        traceback = str(failure)
    channel.send({
        "status": "failed",
        "ename": ename,
        "evalue": strip_ansi(evalue),
        "cell_index": index,
        "cell": _source_text(cell) if cell is not None else "",
        "traceback": strip_ansi(traceback),
    })
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
