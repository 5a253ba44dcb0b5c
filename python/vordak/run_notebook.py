"""Executes already-parameterized notebooks with nbclient, for the engine's executor.

    python3 run_notebook.py --connection-dir DIR [--vordak-exe PATH]

One runner serves a whole run. Requests arrive on standard input, one JSON object per
line:

    {"notebook": PATH, "cwd": DIR}

Each notebook is executed in a kernel of its own, started in DIR and used for nothing
else, and written back to PATH (through PATH + ".tmp" and a rename), whether it runs to
its end or a cell fails. While one notebook runs, the kernel for the next one is already
starting with the same kernel name and directory; a kernel is killed, with its process
group, as soon as its notebook's outputs are collected. IPython kernels come from the
fork server in kernel_forks.py, which pays for their imports once.

The runner's own standard output is the channel to the engine, one JSON object per line;
each request is answered by zero or more of the first two and exactly one status line:

    {"kernel": 4242}                 the notebook's kernel, the leader of its own
                                     process group, is about to run the first cell
    {"progress": [3, 12]}            before code cell 3 of 12 runs
    {"status": "ok"}                 the notebook ran to its end
    {"status": "failed", "ename": ..., "evalue": ..., "cell_index": ..., "cell": ...,
     "traceback": ...}               a cell (or the kernel) failed; the notebook was written
    {"status": "unavailable", "message": ...}
                                     the notebook could not be run at all

Everything else (the kernels' own low-level output, library warnings) goes to standard
error. The runner ends, killing its spare kernels, at the end of its input.

Every process a notebook starts stays below the runner, which adopts the orphans among
them (processes.py), and ends with its step: before a status line goes out, everything
the notebook's kernel started is killed. Two signals stop more:

    SIGUSR1    the running notebook's time is up: its kernel and all it started are
               killed, and the notebook is written as far as it got ("failed")
    SIGHUP     everything below the runner is killed and the runner ends; the engine's
               end sends it too, however the engine ends (nbclient takes SIGTERM over
               while a notebook runs)

The kernels' connection files, each holding a kernel's key, and the Unix sockets the
kernels listen on are made in DIR and removed with their kernels, and DIR with the runner.
"""

import argparse
import asyncio
import collections
import itertools
import json
import os
import re
import shutil
import signal
import sys

from processes import adopt_orphans, stop_below

_ANSI_ESCAPE = re.compile(r"\x1b\[[0-?]*[ -/]*[@-~]|\x1b[@-Z\\-_]")
# Kernels started ahead of the notebooks that will use them.
_SPARE_KERNELS = 1
# Seconds a kernel may take to answer its first request, as nbclient allows.
_STARTUP_TIMEOUT = 60


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
        # From here on, anything that prints to fd 1 (the kernels inherit it) lands on
        # stderr and cannot corrupt the protocol.
        os.dup2(2, 1)
        self._out = os.fdopen(channel_fd, "w", encoding="utf-8", buffering=1)

    def send(self, message):
        message = {key: _clean(value) for key, value in message.items()}
        self._out.write(json.dumps(message, ensure_ascii=False) + "\n")
        self._out.flush()


class _Kernel:
    """A started kernel and its ready client."""

    def __init__(self, manager, client):
        self.manager = manager
        self.client = client

    @property
    def pid(self):
        return self.manager.provisioner.process.pid

    def ended(self):
        process = self.manager.provisioner.process if self.manager.provisioner else None
        return process is None or process.poll() is not None

    def kill_now(self):
        """Kills the kernel's process group at once and waits for the kernel to end: no
        shutdown request, no grace period. What it started in sessions of their own is
        the runner's then."""
        process = self.manager.provisioner.process if self.manager.provisioner else None
        if process is not None:
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except (ProcessLookupError, PermissionError):
                pass
            process.wait()

    async def kill(self):
        """kill_now(), and the kernel's channels and connection file go."""
        self.kill_now()
        self.client.stop_channels()
        await self.manager.cleanup_resources()


_connection_names = itertools.count(1)
# The longest path a Unix socket may have (sun_path, less its terminating byte).
_SOCKET_PATH_MAX = 107


def _transport(connection_file):
    """An IPython kernel's: Unix sockets beside the connection file, so no TCP port that
    another process can take between its choice and the kernel's bind (the kernel then
    dies starting), and nothing listening on the network. Loopback TCP only where the
    sockets' paths would be too long, in a temporary directory with a very long path."""
    # jupyter_client names them <connection file less .json>-ipc-<1, 2, ...>.
    longest_socket = os.path.splitext(connection_file)[0] + "-ipc-99"
    return "ipc" if len(os.fsencode(longest_socket)) <= _SOCKET_PATH_MAX else "tcp"


async def _start_kernel(forks, kernel_name, cwd, connection_dir):
    from kernel_forks import ForkingKernelManager
    from processes import die_with_parent

    # In the run's own directory, never the shared temporary one: each file holds the key
    # that lets anyone run code in the kernel.
    connection_file = os.path.join(connection_dir, "kernel-%d.json" % next(_connection_names))
    manager = ForkingKernelManager(kernel_name=kernel_name, connection_file=connection_file)
    manager.forks = forks
    extra = []
    if manager.ipykernel:  # other kernels may know neither the option nor Unix sockets
        manager.transport = _transport(connection_file)
        extra = ["--HistoryManager.hist_file=:memory:"]
    # The kernel leads a session of its own and dies with the runner.
    await manager.start_kernel(cwd=cwd, extra_arguments=extra, preexec_fn=die_with_parent)
    client = manager.client()
    kernel = _Kernel(manager, client)
    try:
        client.start_channels()
        await client.wait_for_ready(timeout=_STARTUP_TIMEOUT)
    except BaseException:
        await kernel.kill()
        raise
    client.allow_stdin = False
    return kernel


class _KernelPool:
    """Kernels started ahead of their notebooks: every step of a run asks for the same
    kernel name and directory, so the next kernel starts while a notebook runs."""

    def __init__(self, forks, connection_dir):
        self._forks = forks
        self._connection_dir = connection_dir
        self._spares = collections.deque()  # ((kernel name, cwd), task)

    async def take(self, kernel_name, cwd):
        key = (kernel_name, cwd)
        while self._spares and self._spares[0][0] != key:
            await self._discard(self._spares.popleft()[1])
        spare = self._spares.popleft()[1] if self._spares else None
        while len(self._spares) < _SPARE_KERNELS:
            self._spares.append((key, self._start(key)))
        if spare is not None:
            # A spare that failed to start, or died waiting (with a fork server that died),
            # gives way to a fresh kernel.
            try:
                kernel = await spare
                if not kernel.ended():
                    return kernel
                await kernel.kill()
            except Exception:  # noqa: BLE001
                pass
        return await self._start(key)

    def spare_pids(self):
        """The processes of the spare kernels that have started."""
        pids = set()
        for _, task in self._spares:
            if task.done() and not task.cancelled() and task.exception() is None:
                pids.add(task.result().pid)
        return pids

    def _start(self, key):
        return asyncio.ensure_future(_start_kernel(self._forks, *key, self._connection_dir))

    async def close(self):
        while self._spares:
            await self._discard(self._spares.popleft()[1])

    @staticmethod
    async def _discard(task):
        try:
            kernel = await task
        except Exception:  # noqa: BLE001 - a spare that failed to start is just dropped
            return
        await kernel.kill()


def _source_text(cell):
    source = cell.get("source", "")
    return "".join(source) if isinstance(source, list) else source


def _error_output(cell):
    for output in cell.get("outputs", []) or []:
        if output.get("output_type") == "error":
            return output
    return None


def _write_notebook(nbformat, notebook, path):
    # Beside the target and renamed over it: a crash never leaves half a notebook. The
    # name is fixed so that the engine can remove it when it kills the runner mid-write.
    temporary = path + ".tmp"
    try:
        with open(temporary, "w", encoding="utf-8") as stream:
            nbformat.write(notebook, stream)
        os.replace(temporary, path)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise


class _Steps:
    """The notebook running now, and what a step's end must spare: the fork server with
    the kernels below it, and the spare kernels."""

    def __init__(self, pool, forks):
        self.pool = pool
        self.forks = forks
        self.kernel = None

    def spared(self):
        return self.pool.spare_pids() | ({self.forks.pid} if self.forks else set())

    def stop_leftovers(self):
        """Kills what the step started that outlived its kernel."""
        stop_below(self.spared())

    def stop_running(self):
        """SIGUSR1: the running notebook's kernel and all it started are killed."""
        if self.kernel is not None:
            self.kernel.kill_now()
            self.stop_leftovers()


async def _execute(request, steps, channel, modules):
    nbformat, NotebookClient, CellExecutionError = modules
    pool = steps.pool

    def unavailable(message):
        channel.send({"status": "unavailable", "message": message})

    path, cwd = request.get("notebook"), request.get("cwd")
    if not isinstance(path, str) or not isinstance(cwd, str):
        return unavailable("geçersiz istek: %s" % json.dumps(request, ensure_ascii=False))
    try:
        notebook = nbformat.read(path, as_version=4)
    except Exception as error:  # noqa: BLE001 - any unreadable notebook is reported, not raised
        return unavailable("notebook okunamadı: %s: %s" % (path, error))
    if not os.path.isdir(cwd):
        return unavailable("çalışma dizini bulunamadı: %s" % cwd)

    kernel_name = notebook.metadata.get("kernelspec", {}).get("name") or "python3"
    try:
        kernel = await pool.take(kernel_name, cwd)
    except Exception as error:  # noqa: BLE001 - no such kernel, a kernel that died starting
        return unavailable("kernel başlatılamadı: %s: %s" % (type(error).__name__, error))
    steps.kernel = kernel
    channel.send({"kernel": kernel.pid})

    code_cells = [i for i, cell in enumerate(notebook.cells) if cell.cell_type == "code"]
    state = {"cell_index": None}

    def on_cell_start(cell, cell_index, **_):
        state["cell_index"] = cell_index
        if cell.cell_type == "code":
            channel.send({"progress": [code_cells.index(cell_index) + 1, len(code_cells)]})

    client = NotebookClient(
        notebook,
        km=kernel.manager,
        kernel_name=kernel_name,
        timeout=None,
        allow_errors=False,
        resources={"metadata": {"path": cwd}},
        on_cell_start=on_cell_start,
    )
    # The client is already connected and ready: nbclient uses it as it is.
    client.kc = kernel.client

    failure = None
    try:
        await client.async_execute(cwd=cwd)
    except CellExecutionError as error:
        failure = error
    except Exception as error:  # noqa: BLE001 - kernel death and other run-time failures
        failure = error
    finally:
        steps.kernel = None
        await kernel.kill()
        steps.stop_leftovers()

    try:
        _write_notebook(nbformat, notebook, path)
    except Exception as error:  # noqa: BLE001
        return unavailable("çalıştırılan notebook yazılamadı: %s: %s" % (path, error))

    if failure is None:
        channel.send({"status": "ok"})
        return None

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
    return None


async def _serve(channel, connection_dir):
    try:
        import nbformat
        from nbclient import NotebookClient
        from nbclient.exceptions import CellExecutionError
        from kernel_forks import KernelForks
    except ImportError as error:
        modules = forks = None
        import_error = "nbclient/nbformat yüklü değil (%s): %s" % (sys.executable, error)
    else:
        modules = (nbformat, NotebookClient, CellExecutionError)
        forks = await KernelForks.start()

    loop = asyncio.get_running_loop()
    requests = asyncio.StreamReader(limit=1 << 24)
    await loop.connect_read_pipe(lambda: asyncio.StreamReaderProtocol(requests), sys.stdin)
    pool = _KernelPool(forks, connection_dir)
    steps = _Steps(pool, forks)
    loop.add_signal_handler(signal.SIGUSR1, steps.stop_running)
    try:
        while True:
            line = await requests.readline()
            if not line:
                break
            if not line.strip():
                continue
            if modules is None:
                channel.send({"status": "unavailable", "message": import_error})
                continue
            # Paths that are not UTF-8 arrive as raw bytes and leave as the same bytes.
            text = line.decode("utf-8", "surrogateescape")
            try:
                request = json.loads(text)
            except ValueError:
                request = None
            if not isinstance(request, dict):
                channel.send({"status": "unavailable", "message": "geçersiz istek: %s" % text.strip()})
                continue
            await _execute(request, steps, channel, modules)
    finally:
        await pool.close()


def _stop_everything(connection_dir):
    """SIGHUP: kills every process below the runner, removes the connection files and
    ends the runner at once."""
    def stop(signum, _frame):
        stop_below()
        shutil.rmtree(connection_dir, ignore_errors=True)
        os._exit(128 + signum)
    return stop


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--connection-dir", required=True,
                        help="where the kernels' connection files are made; removed at the end")
    parser.add_argument("--vordak-exe", default=None,
                        help="the vordak binary the notebooks' helpers call")
    args = parser.parse_args(argv)
    signal.signal(signal.SIGHUP, _stop_everything(args.connection_dir))
    adopt_orphans()
    channel = _Channel()

    # The kernels inherit the environment: keeps the debugger's frozen-module warning
    # out of every cell's output.
    os.environ["PYDEVD_DISABLE_FILE_VALIDATION"] = "1"
    # Notebooks import their helpers from this package and call the binary that runs them.
    package_parent = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    os.environ["PYTHONPATH"] = os.pathsep.join(
        p for p in (package_parent, os.environ.get("PYTHONPATH", "")) if p)
    if args.vordak_exe:
        os.environ["VORDAK_EXE"] = args.vordak_exe

    try:
        asyncio.run(_serve(channel, args.connection_dir))
    finally:
        stop_below()
        shutil.rmtree(args.connection_dir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
