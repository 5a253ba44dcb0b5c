"""Fresh IPython kernels without paying for their imports each time, for the notebook runner.

A kernel spends most of its start importing IPython and ipykernel. The fork server does
that once; for each kernel it forks a child that becomes the kernel exactly as
`python3 -m ipykernel_launcher ARGS` would, in its own session, working directory and
environment. The child starts from the server's state, which is the imported libraries and
nothing else: no cell of any notebook ever ran in the server. The random module is
reseeded in every child (Python does this at fork).

    python3 kernel_forks.py FD       the server, talking on the socket FD

Requests on the socket, one JSON object per line: {"argv": [...], "cwd": DIR, "env": {...}}
(argv after `-m ipykernel_launcher`); answers: {"pid": PID}. The server and its kernels die
with their parent. A server that has died is started again for the next kernel.
"""

import asyncio
import importlib.util
import json
import os
import select
import signal
import socket
import subprocess
import sys

from jupyter_client import AsyncKernelManager

from processes import die_with_parent

_LAUNCHER = "ipykernel_launcher"


def _become_kernel(request, server_pid, kernelapp):
    os.setsid()
    die_with_parent()
    if os.getppid() != server_pid:
        os._exit(1)
    os.chdir(request["cwd"])
    os.environ.clear()
    os.environ.update(request["env"])
    stdin = os.open(os.devnull, os.O_RDONLY)
    os.dup2(stdin, 0)
    os.close(stdin)
    # What `python3 -m ipykernel_launcher` sees: the module's file as argv[0], the
    # working directory first on the path.
    sys.argv = [importlib.util.find_spec(_LAUNCHER).origin] + request["argv"]
    sys.path[0] = os.getcwd()
    kernelapp.launch_new_instance()


def _reap_children():
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def serve(fd):
    from ipykernel import kernelapp  # the imports every kernel would otherwise repeat

    server_pid = os.getpid()
    channel = socket.socket(fileno=fd)
    requests = channel.makefile("rb")
    for line in requests:
        # Ended kernels are reaped only here, so a kernel's pid is not reused before the
        # runner holds a descriptor of it.
        _reap_children()
        request = json.loads(line)
        pid = os.fork()
        if pid == 0:
            try:
                requests.close()
                channel.close()
                _become_kernel(request, server_pid, kernelapp)
            finally:
                os._exit(1)
        channel.sendall(b'{"pid": %d}\n' % pid)


class ForkedProcess:
    """What jupyter_client asks of a kernel's process (a subprocess.Popen's poll, wait,
    send_signal, kill), for a kernel that is the fork server's child, not this process's.
    Its exit status is the server's to collect, so it reads -1 here."""

    def __init__(self, pid):
        self.pid = pid
        self.returncode = None
        self.stdin = self.stdout = self.stderr = None
        self._fd = os.pidfd_open(pid)

    def poll(self):
        return self.wait(timeout=0)

    def wait(self, timeout=None):
        if self.returncode is None and select.select([self._fd], [], [], timeout)[0]:
            self.returncode = -1
            os.close(self._fd)
        return self.returncode

    def send_signal(self, signum):
        if self.returncode is None:
            signal.pidfd_send_signal(self._fd, signum)

    def kill(self):
        self.send_signal(signal.SIGKILL)

    def terminate(self):
        self.send_signal(signal.SIGTERM)


class KernelForks:
    """The runner's side of the fork server."""

    def __init__(self):
        self._process = self._reader = self._writer = None
        self._lock = asyncio.Lock()

    @classmethod
    async def start(cls):
        """Starts the server; its imports run while the runner goes on."""
        forks = cls()
        await forks._start_server()
        return forks

    @property
    def pid(self):
        return self._process.pid

    async def _start_server(self):
        ours, theirs = socket.socketpair()
        # ipykernel reads this at import, so the server must have it as its kernels do.
        env = dict(os.environ, JPY_PARENT_PID=str(os.getpid()))
        if self._process is not None:
            self._writer.close()
            self._process.wait()  # ended: its status is collected here, not left a zombie
        self._process = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), str(theirs.fileno())],
            stdin=subprocess.DEVNULL, env=env, pass_fds=[theirs.fileno()], preexec_fn=die_with_parent)
        theirs.close()
        self._reader, self._writer = await asyncio.open_unix_connection(sock=ours)

    @staticmethod
    def serves(kernel_cmd):
        """True for the command of an IPython kernel of this interpreter."""
        return (len(kernel_cmd) >= 3 and kernel_cmd[1:3] == ["-m", _LAUNCHER]
                and os.path.realpath(kernel_cmd[0]) == os.path.realpath(sys.executable))

    async def fork(self, kernel_cmd, cwd, env):
        """A new kernel for `kernel_cmd` (see serves()); its ForkedProcess."""
        request = {"argv": kernel_cmd[3:], "cwd": cwd, "env": env}
        async with self._lock:
            if self._process.poll() is not None:
                await self._start_server()
            self._writer.write(json.dumps(request).encode("ascii") + b"\n")
            await self._writer.drain()
            answer = await self._reader.readline()
            if not answer:
                raise RuntimeError("kernel fork server ended (exit status %s)" % self._process.poll())
            return ForkedProcess(json.loads(answer)["pid"])


class ForkingKernelManager(AsyncKernelManager):
    """A kernel manager that takes IPython kernels of this interpreter from the fork
    server, and starts any other kernel as jupyter_client does."""

    forks = None  # the KernelForks to use

    async def _launch_kernel(self, kernel_cmd, **kw):
        if not KernelForks.serves(kernel_cmd):
            return await super()._launch_kernel(kernel_cmd, **kw)
        # As jupyter_client's launcher does: the kernel knows it has a front end.
        env = dict(kw["env"], JPY_PARENT_PID=str(os.getpid()))
        process = await self.forks.fork(kernel_cmd, kw.get("cwd") or os.getcwd(), env)
        provisioner = self.provisioner
        provisioner.process = process
        provisioner.pid = provisioner.pgid = process.pid
        self._reconcile_connection_info(provisioner.connection_info)
        return None


if __name__ == "__main__":
    serve(int(sys.argv[1]))
