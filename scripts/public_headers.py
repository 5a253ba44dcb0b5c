#!/usr/bin/env python3
"""Which headers are public, and are they marked so.

Every library is compiled with its symbols hidden; a header exports its declarations by
enclosing them in VORDAK_PUBLIC_BEGIN ... VORDAK_PUBLIC_END (core/export.h). A header is
public when code of another library or program includes it, directly or through other
headers of its library; the rest are internal. Tests and benchmarks link the libraries'
objects and do not count.

  public_headers.py --check   names every public header without the markers, and every
                              #include inside the markers (exit 1)
  public_headers.py --apply   adds the markers to those headers
  public_headers.py --list    prints each header with "public" or "internal"
"""
import argparse
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
LIBRARY_DIRS = ["core", "motor", "pipeline", "cli"]
CONSUMER_DIRS = LIBRARY_DIRS + ["synth"]
INCLUDE = re.compile(r'^#include "([^"]+)"', re.M)
BEGIN, END = "VORDAK_PUBLIC_BEGIN", "VORDAK_PUBLIC_END"


def data_commands():
    """The cli sources built into the data module, as cli/CMakeLists.txt lists them."""
    text = (ROOT / "cli" / "CMakeLists.txt").read_text()
    match = re.search(r"set\(DATA_COMMANDS ([^)]*)\)", text)
    return {"cli/" + name for name in match.group(1).split()}


def library_of(path, data):
    """The library or program a source or header (as its source) belongs to."""
    path = re.sub(r"\.h$", ".cpp", path)
    if path in data:
        return "vordak_data"
    if path == "cli/main.cpp":
        return "vordak"
    return path.split("/")[0]


def includes(path):
    file = ROOT / path
    return [name for name in INCLUDE.findall(file.read_text()) if (ROOT / name).is_file()] if file.is_file() else []


def public_headers():
    data = data_commands()
    public = set()
    pending = []
    for directory in CONSUMER_DIRS:
        for file in sorted((ROOT / directory).glob("*.[ch]*")):
            path = file.relative_to(ROOT).as_posix()
            for name in includes(path):
                if name.split("/")[0] in LIBRARY_DIRS and library_of(name, data) != library_of(path, data):
                    pending.append(name)
    while pending:
        name = pending.pop()
        if name in public or not name.endswith(".h"):
            continue
        public.add(name)
        owner = library_of(name, data)
        pending.extend(n for n in includes(name) if library_of(n, data) == owner)
    return public


def headers():
    return sorted(f.relative_to(ROOT).as_posix() for d in LIBRARY_DIRS for f in (ROOT / d).glob("*.h"))


def is_marked(text):
    return BEGIN in text and END in text


def includes_inside(text):
    """#include lines after VORDAK_PUBLIC_BEGIN: the headers they name would be exported too."""
    return [line for line in text.split(BEGIN, 1)[1].splitlines() if line.startswith("#include")] if BEGIN in text else []


def mark(path):
    """Opens the public part after the last #include (or #pragma once) and closes it at the end."""
    file = ROOT / path
    lines = file.read_text().splitlines()
    last = max(i for i, line in enumerate(lines) if line.startswith(("#include", "#pragma once")))
    opening = ['#include "core/export.h"'] if path != "core/export.h" else []
    lines[last + 1:last + 1] = opening + ["", BEGIN]
    while lines and not lines[-1].strip():
        lines.pop()
    lines += ["", END]
    file.write_text("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    action = parser.add_mutually_exclusive_group(required=True)
    action.add_argument("--check", action="store_true")
    action.add_argument("--apply", action="store_true")
    action.add_argument("--list", action="store_true")
    args = parser.parse_args()
    public = public_headers() - {"core/export.h"}
    if args.list:
        for path in headers():
            print(f"{'public' if path in public else 'internal'}\t{path}")
        return 0
    unmarked = [p for p in sorted(public) if not is_marked((ROOT / p).read_text())]
    if args.apply:
        for path in unmarked:
            mark(path)
            print(f"marked {path}")
        return 0
    for path in unmarked:
        print(f"{path}: public (included by another library) but not between {BEGIN} and {END}")
    misplaced = [p for p in headers() if includes_inside((ROOT / p).read_text())]
    for path in misplaced:
        print(f"{path}: #include after {BEGIN}; includes go before it")
    return 1 if unmarked or misplaced else 0


if __name__ == "__main__":
    sys.exit(main())
