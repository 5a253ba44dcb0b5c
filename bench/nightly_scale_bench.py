#!/usr/bin/env python3
"""The whole nightly at bank scale: `vordak demo` makes a synthetic portfolio of FIRMS firms
over PERIODS months and runs all 24 steps on it. Reported per step: its wall time (the
step's own record, `sure_saniye` in meta/adim_<step>.json) and the peak memory of the
demo's whole process tree while the step ran (the engine, the notebook runner, the step's
kernel and all it started, the spare kernel): the sum of every process's proportional set
size (Pss, from /proc/PID/smaps_rollup, so that pages shared by the forked kernels count
once), sampled every 0.2 s, and the CPU seconds the tree spent meanwhile (user and system,
of the processes and of their ended children; on a shared machine the wall time also holds
the waits for a core). Then the data generation, the run and the whole command.

    bench/nightly_scale_bench.py [BUILD_DIR] [FIRMSxPERIODS ...] [--keep DIR]
    bench/nightly_scale_bench.py build 200000x24
    bench/nightly_scale_bench.py build 200000x24 1000000x36

--keep DIR leaves the working directories in DIR (DIR/demo_<FIRMS>x<PERIODS>), for the mart
benchmark on the same database; without it they are made in a temporary directory and removed.
"""

import argparse
import datetime
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

SAMPLE_SECONDS = 0.2
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
RUN_GOAL_SECONDS = {(200000, 24): 240}
MEMORY_GOAL_BYTES = 24 << 30
# The steps made of a fetch and model fits, which time both themselves.
MODEL_STEPS = ("ml_train", "backtest_ml")


def _processes():
    """pid -> (parent pid, CPU seconds) of every process; the CPU time holds that of its
    children that ended and were waited for, so that a tree's sum only grows."""
    processes = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                text = stat.read()
        except OSError:
            continue
        # The command name, in parentheses, may hold spaces: the fields follow its end.
        fields = text[text.rindex(")") + 2:].split()
        ticks = sum(int(n) for n in fields[11:15])  # utime, stime, cutime, cstime
        processes[int(entry)] = (int(fields[1]), ticks / CLOCK_TICKS)
    return processes


def _resident_bytes(pid):
    """Pss of one process, or its VmRSS where smaps_rollup is not readable."""
    for path, key in ((f"/proc/{pid}/smaps_rollup", "Pss:"), (f"/proc/{pid}/status", "VmRSS:")):
        try:
            with open(path) as f:
                for line in f:
                    if line.startswith(key):
                        return int(line.split()[1]) * 1024
        except OSError:
            continue
    return 0


def _tree(root):
    """(resident bytes, CPU seconds) of a process and all below it."""
    processes = _processes()
    children = {}
    for pid, (parent, _) in processes.items():
        children.setdefault(parent, []).append(pid)
    resident, cpu, stack = 0, 0.0, [root]
    while stack:
        pid = stack.pop()
        resident += _resident_bytes(pid)
        cpu += processes.get(pid, (0, 0.0))[1]
        stack.extend(children.get(pid, ()))
    return resident, cpu


class Sampler(threading.Thread):
    """(time, bytes, CPU seconds) of a process tree until the process ends."""

    def __init__(self, process):
        super().__init__(daemon=True)
        self.process = process
        self.samples = []

    def run(self):
        while self.process.poll() is None:
            self.samples.append((time.time(), *_tree(self.process.pid)))
            time.sleep(SAMPLE_SECONDS)

    def peak(self, start=float("-inf"), end=float("inf")):
        return max((b for t, b, _ in self.samples if start <= t <= end), default=0)

    def cpu(self, start, end):
        """CPU seconds of the tree between the samples nearest the two times."""
        inside = [c for t, _, c in self.samples if start <= t <= end]
        return inside[-1] - inside[0] if len(inside) > 1 else 0.0


def _step_records(work_dir):
    """(step, start, end, seconds) of the newest season's steps, in the order they ran."""
    season = sorted(glob.glob(os.path.join(work_dir, "seasons", "S_*")))[-1]
    steps = []
    for path in glob.glob(os.path.join(season, "meta", "adim_*.json")):
        with open(path) as f:
            record = json.load(f)
        end = datetime.datetime.fromisoformat(record["tarih"]).timestamp()
        seconds = record["sure_saniye"]
        steps.append((os.path.basename(path)[5:-5], end - seconds, end, seconds))
    return sorted(steps, key=lambda s: s[1])


def _notebook_lines(work_dir, step):
    """The printed lines of the step's executed notebook in the newest season."""
    season = sorted(glob.glob(os.path.join(work_dir, "seasons", "S_*")))[-1]
    lines = []
    for path in glob.glob(os.path.join(season, "logs", f"adim_{step}_*.ipynb")):
        with open(path, encoding="utf-8") as f:
            for cell in json.load(f)["cells"]:
                for output in cell.get("outputs", []):
                    if output.get("name") == "stdout":
                        lines += "".join(output["text"]).splitlines()
    return lines


def _floor_seconds(lines):
    """The model step's own floor: its fetch of the training rows into NumPy ("Veri okundu
    ... (N s)") and its fits ("... eğitildi (N s)"), as the notebook timed them."""
    found = [re.search(r"\((\d+(?:\.\d+)?)s\)", line) for line in lines
             if "Veri okundu" in line or "eğitildi (" in line]
    return sum(float(m.group(1)) for m in found if m) if len(found) >= 2 else None


def _gb(n):
    return n / (1 << 30)


def bench(vordak, firms, periods, work_dir):
    log_path = work_dir + ".log"
    print(f"\n{firms} firms x {periods} periods: {vordak} demo --work-dir {work_dir}"
          f" --firms {firms} --periods {periods}  (log: {log_path})", flush=True)
    print(f"  load before: {open('/proc/loadavg').read().split()[:3]}", flush=True)
    started = time.time()
    with open(log_path, "w") as log:
        process = subprocess.Popen([vordak, "demo", "--work-dir", work_dir, "--firms", str(firms),
                                    "--periods", str(periods)], stdout=log, stderr=subprocess.STDOUT)
        sampler = Sampler(process)
        sampler.start()
        status = process.wait()
        sampler.join()
    whole = time.time() - started
    if status != 0:
        print(f"  vordak demo ended with {status}; see {log_path}")
        return False
    steps = _step_records(work_dir)
    print(f"  {'step':<20} {'seconds':>8} {'CPU s':>8} {'peak GiB':>9}")
    for name, start, end, seconds in steps:
        print(f"  {name:<20} {seconds:8.1f} {sampler.cpu(start, end):8.1f} {_gb(sampler.peak(start, end)):9.2f}")
    for name, _, _, seconds in steps:
        if name in MODEL_STEPS:
            floor = _floor_seconds(_notebook_lines(work_dir, name))
            if floor:
                print(f"  {name}: {seconds:.1f} s = {seconds / floor:.2f} x its fetch and fits ({floor:.1f} s; goal: 2 x)")
    run_start = steps[0][1]
    run = steps[-1][2] - run_start
    peak = sampler.peak()
    print(f"  data generation {run_start - started:.1f} s; run {run:.1f} s (first step's start to last"
          f" step's end); whole command {whole:.1f} s")
    print(f"  peak of the whole process tree: {_gb(peak):.2f} GiB (goal: within 24 GiB)")
    goal = RUN_GOAL_SECONDS.get((firms, periods))
    if goal:
        print(f"  run {run:.1f} s against the goal of {goal} s")
    return peak <= MEMORY_GOAL_BYTES


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("sizes", nargs="*", default=["200000x24"])
    parser.add_argument("--keep", help="directory to leave the working directories in")
    args = parser.parse_args()
    vordak = os.path.join(os.path.abspath(args.build), "vordak")
    root = os.path.abspath(args.keep) if args.keep else tempfile.mkdtemp(prefix="vordak-scale-")
    os.makedirs(root, exist_ok=True)
    ok = True
    try:
        for size in args.sizes:
            firms, periods = (int(n) for n in size.split("x"))
            ok = bench(vordak, firms, periods, os.path.join(root, f"demo_{firms}x{periods}")) and ok
    finally:
        if not args.keep:
            shutil.rmtree(root, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
