#!/bin/sh
# Overhead of the engine's notebook executor per notebook, against a bare nbclient
# execution of the same tiny notebook.
#
#   bench/executor_overhead.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR is a configured build folder (default:
# build-exec beside this script's repository); RUNS defaults to 10.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-exec}
runs=${2:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --build "$build" --target executor_overhead >/dev/null 2>&1 || { echo "executor_overhead build failed in $build" >&2; exit 1; }

cat >"$work/tiny.ipynb" <<'NOTEBOOK'
{
 "cells": [
  {"cell_type": "code", "execution_count": null, "id": "p1", "metadata": {"tags": ["parameters"]},
   "outputs": [], "source": "DB_PATH = ''\nOUTPUT_DIR = ''\nTEST_MUTA_COUNT = 0"},
  {"cell_type": "code", "execution_count": null, "id": "c1", "metadata": {}, "outputs": [],
   "source": "total = sum(range(1000))\nprint(total)"}
 ],
 "metadata": {"kernelspec": {"display_name": "Python 3", "language": "python", "name": "python3"}},
 "nbformat": 4,
 "nbformat_minor": 5
}
NOTEBOOK

"$build/bench/executor_overhead" "$work/tiny.ipynb" "$work" "$runs"
