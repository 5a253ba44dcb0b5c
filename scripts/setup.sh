#!/usr/bin/env bash
# Brings a fresh Debian 12 machine to a state in which Vordak builds, tests and runs:
# the Debian packages it needs (through sudo when not run as root) and DuckDB 1.4.4
# (library and header, checked against pinned SHA-256 sums) unpacked into
# third_party/duckdb. Safe to run again; quick when everything is already in place.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
duckdb_dir="$root/third_party/duckdb"
duckdb_version=1.4.4
bindings_pkg="@duckdb/node-bindings-linux-x64@1.4.4-r.4"
header_pkg="duckdb@1.4.4"
# SHA-256 of the two archives and of the files taken from them. An archive that differs
# stops the set-up before anything is unpacked; an unpacked copy that differs (an older
# set-up, a copy from elsewhere) is reported and must be removed.
bindings_sha256=732fac4dc6b8f198870b9c4bb6ddf13544466daca00ad28ba2f1d80de5d7aa4b
header_sha256=5bb967dcbcd517670ba5f169f238fb9d6787e53752c60ebe24386169d76941ed
library_sha256=1ef33048e12235115ac0d277a0aaccbb560e33248144f488b5ac005cd9ba81b5
include_sha256=cbe6a827284375c5a646b8f27dbd3a00808ce8738b5bbb49c190cb1e08540281

# Fails naming FILE when its SHA-256 is not EXPECTED.
require_sha256() {
  local file=$1 expected=$2 got
  got=$(sha256sum "$file" | cut -d' ' -f1)
  if [[ $got != "$expected" ]]; then
    echo "setup: $file has SHA-256 $got, expected $expected" >&2
    return 1
  fi
}

packages=(
  g++ cmake make git pkg-config
  clang libclang-rt-14-dev  # libFuzzer: `make fuzz-smoke` runs the fuzz targets briefly
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libssl-dev libboost-dev libsimdjson-dev
  python3 python3-nbclient python3-ipykernel python3-nbformat
  python3-sklearn python3-numpy python3-xgboost
  nodejs npm
  chromium  # the dashboards are checked in headless Chromium by the tests
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The command line may have node and npm from elsewhere; take Debian's only when absent.
if command -v node >/dev/null && command -v npm >/dev/null; then
  kept=()
  for p in "${missing[@]}"; do [[ $p == nodejs || $p == npm ]] || kept+=("$p"); done
  missing=("${kept[@]+"${kept[@]}"}")
fi
if ((${#missing[@]})); then
  echo "setup: installing Debian packages (compilers, test libraries, the notebooks' Python" \
    "packages, Chromium for the dashboard checks): ${missing[*]}"
  sudo=()
  if ((EUID != 0)); then
    command -v sudo >/dev/null || { echo "setup: not root and no sudo; install these as root, then run again" >&2; exit 1; }
    echo "setup: apt-get needs root: running it with sudo"
    sudo=(sudo)
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Nothing is written outside the checkout: `python3 -m vordak` from a checkout takes
# PYTHONPATH=python (see the README). An earlier set-up put this checkout on the system
# interpreter's path with a vordak.pth; that file is removed when it points here, so that
# two checkouts never take each other's package.
site_dir=$(/usr/bin/python3 -c 'import site; print(site.getsitepackages()[0])')
pth="$site_dir/vordak.pth"
if [[ -f $pth && $(cat "$pth") == "$root/python" ]]; then
  echo "setup: removing $pth left by an earlier set-up"
  rm -f "$pth" 2>/dev/null || sudo rm -f "$pth"
fi

# DuckDB comes from the npm registry: the shared library from the Linux bindings
# package and the C API header from the main package of the same version.
if [[ ! -f "$duckdb_dir/lib/libduckdb.so" || ! -f "$duckdb_dir/include/duckdb.h" ]]; then
  echo "setup: unpacking DuckDB $duckdb_version into third_party/duckdb"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && npm pack --silent "$bindings_pkg" "$header_pkg" >/dev/null)
  require_sha256 "$work"/duckdb-node-bindings-linux-x64-*.tgz "$bindings_sha256"
  require_sha256 "$work"/duckdb-"$duckdb_version".tgz "$header_sha256"
  mkdir -p "$work/bindings" "$work/header" "$duckdb_dir/lib" "$duckdb_dir/include"
  tar -xzf "$work"/duckdb-node-bindings-linux-x64-*.tgz -C "$work/bindings"
  tar -xzf "$work"/duckdb-"$duckdb_version".tgz -C "$work/header" package/src/duckdb/src/include/duckdb.h
  lib=$(find "$work/bindings" -name libduckdb.so | head -n 1)
  [[ -n $lib ]] || { echo "setup: libduckdb.so not found in $bindings_pkg" >&2; exit 1; }
  cp "$lib" "$duckdb_dir/lib/libduckdb.so"
  cp "$work/header/package/src/duckdb/src/include/duckdb.h" "$duckdb_dir/include/duckdb.h"
fi

if ! require_sha256 "$duckdb_dir/lib/libduckdb.so" "$library_sha256" ||
   ! require_sha256 "$duckdb_dir/include/duckdb.h" "$include_sha256"; then
  echo "setup: remove third_party/duckdb and run the set-up again" >&2
  exit 1
fi

# The library must load and be the version the header describes.
check=$(mktemp -d)
cat >"$check/v.c" <<'C'
#include <stdio.h>
#include "duckdb.h"
int main(void) { printf("%s\n", duckdb_library_version()); return 0; }
C
cc -I"$duckdb_dir/include" "$check/v.c" -L"$duckdb_dir/lib" -lduckdb -Wl,-rpath,"$duckdb_dir/lib" -o "$check/v"
got=$("$check/v")
rm -rf "$check"
if [[ $got != "v$duckdb_version" ]]; then
  echo "setup: DuckDB reports $got, expected v$duckdb_version" >&2
  exit 1
fi
echo "setup: ready (DuckDB $got)"
