"""Processes that end with whoever started them, for the notebook runner and the helpers.

The runner is the subreaper of what its kernels start (adopt_orphans): a process whose
parent ends becomes the runner's child instead of init's, so the runner's tree holds
every process a step started, those in sessions of their own and daemons included, and
the runner can stop them all (stop_below) without touching anything it did not start.
"""

import ctypes
import os
import signal
import time

_PR_SET_PDEATHSIG = 1
_PR_SET_CHILD_SUBREAPER = 36
_LIBC = ctypes.CDLL(None, use_errno=True)
_ENDED = (b"Z", b"X", b"x")


def die_with_parent(death_signal=signal.SIGKILL):
    """Makes the calling process get `death_signal` when its parent ends, however it
    ends. Safe between fork and exec."""
    _LIBC.prctl(_PR_SET_PDEATHSIG, int(death_signal))


def adopt_orphans():
    """Makes this process the reaper of its orphaned descendants."""
    _LIBC.prctl(_PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


def _process_table():
    """Every process's parent, and the set of those that have ended (zombies). Read with
    bare system calls: it is read at the end of every step, from a machine's hundreds of
    processes."""
    parents, ended = {}, set()
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            fd = os.open("/proc/" + name + "/stat", os.O_RDONLY)
        except OSError:
            continue  # ended meanwhile
        try:
            stat = os.read(fd, 512)
        except OSError:
            continue
        finally:
            os.close(fd)
        # "pid (comm) state ppid ...": comm may hold spaces and parentheses.
        fields = stat[stat.rfind(b")") + 2:].split(None, 2)
        if len(fields) < 2:
            continue
        pid = int(name)
        parents[pid] = int(fields[1])
        if fields[0] in _ENDED:
            ended.add(pid)
    return parents, ended


def _below(table, root, spared):
    """The live processes below `root` in `table`; one in `spared` is passed over with
    everything below it."""
    parents, ended = table
    children = {}
    for pid, parent in parents.items():
        children.setdefault(parent, []).append(pid)
    found, pending = [], [root]
    while pending:
        for child in children.get(pending.pop(), ()):
            if child in spared:
                continue
            if child not in ended:
                found.append(child)
            pending.append(child)
    return found


def _reap(table, spared):
    """Reaps, without waiting, this process's children that `table` shows ended, except
    those in `spared`, whose exit status is someone else's to collect."""
    parents, ended = table
    me = os.getpid()
    for pid in ended:
        if parents.get(pid) == me and pid not in spared:
            try:
                os.waitpid(pid, os.WNOHANG)
            except ChildProcessError:
                pass


def stop_below(spared=(), give_up=5.0):
    """SIGKILLs every process below this one but those in `spared` (and what lies below
    them), again and again until none is left, so that one started meanwhile is caught as
    well, and reaps them. Gives up after `give_up` seconds on processes that cannot die
    (stuck in the kernel)."""
    me = os.getpid()
    deadline = time.monotonic() + give_up
    while True:
        table = _process_table()
        found = _below(table, me, spared)
        if not found or time.monotonic() > deadline:
            _reap(table, spared)
            return
        for pid in found:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        # A killed process needs a moment to end; looking again at once would only spin.
        time.sleep(0.001)
