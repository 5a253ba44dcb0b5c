#!/usr/bin/env python3
"""Writes the vordak(1) man page and the bash completion from the binary's own help.

    make_docs.py VORDAK MAN_TEMPLATE OUT_DIR

Runs `VORDAK --help`, `VORDAK COMMAND --help` for every command it lists and
`VORDAK steps --json`, so that the man page and the completion say what --help says.
MAN_TEMPLATE holds the sections no --help shows (exit status, environment, files);
its @VERSION@, @SUMMARY@ and @COMMANDS@ are filled in. Writes OUT_DIR/vordak.1,
OUT_DIR/vordak.1.gz (the same, packed) and OUT_DIR/vordak.bash-completion; fails when the help text cannot be read.
"""

import gzip
import json
import re
import subprocess
import sys
from pathlib import Path

OPTION_LINE = re.compile(r"^  (--[a-z0-9-]+)(?: (\S+))?\s{2,}(.*)$")
COMMAND_LINE = re.compile(r"^  ([a-z]+) +(.*)$")
# Metavars whose values are step keys; files and directories complete as paths.
STEP_METAVARS = {"STEP"}
PATH_METAVARS = {"DIR", "PATH", "JSON", "PIPELINE_IPYNB"}


def help_text(vordak, *args):
    result = subprocess.run([vordak, *args], capture_output=True, text=True, check=False)
    if result.returncode != 0:
        sys.exit(f"make_docs: {vordak} {' '.join(args)} exited {result.returncode}: {result.stderr.strip()}")
    return result.stdout


def read_overview(text):
    """(version line, [(command, summary)]) of `vordak --help`."""
    lines = text.splitlines()
    summary = next((line for line in lines if line.startswith("Vordak ")), "")
    start = lines.index("commands:") + 1
    commands = []
    for line in lines[start:]:
        match = COMMAND_LINE.match(line)
        if not match:
            break
        commands.append((match.group(1), match.group(2)))
    if not commands:
        sys.exit("make_docs: no commands in vordak --help")
    return summary, commands


def read_command(text):
    """(usage line, summary, [(option, metavar, help)]) of `vordak COMMAND --help`."""
    lines = text.splitlines()
    usage = lines[0].removeprefix("usage: ")
    summary = lines[2] if len(lines) > 2 else ""
    options = [m.groups() for m in map(OPTION_LINE.match, lines) if m and m.group(1) != "--help"]
    return usage, summary, options


def roff(text):
    """Plain text as roff: backslashes and leading dots and quotes escaped, dashes kept as minus signs."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text.startswith((".", "'")) else text


def ascii_roff(page):
    """Every character past ASCII as a roff escape, so that any man reader shows the Turkish letters."""
    return "".join(c if ord(c) < 128 else f"\\[u{ord(c):04X}]" for c in page)


def man_commands(commands):
    out = []
    for name, (usage, summary, options) in commands.items():
        out += [".SS " + roff(name), ".B " + roff(usage), ".br", roff(summary[:1].upper() + summary[1:])]
        for option, metavar, text in options:
            out += [".TP", f"\\fB{roff(option)}\\fR" + (f" \\fI{roff(metavar)}\\fR" if metavar else ""), roff(text)]
    return "\n".join(out)


def completion(commands, steps):
    """A bash completion function that needs nothing from the bash-completion package."""
    cases = []
    for name, (usage, _summary, options) in commands.items():
        names = " ".join(option for option, _metavar, _text in options) + " --help"
        step_options = "|".join(o for o, metavar, _t in options if metavar in STEP_METAVARS)
        path_options = "|".join(o for o, metavar, _t in options if metavar in PATH_METAVARS)
        value_options = "|".join(o for o, metavar, _t in options if metavar and metavar not in STEP_METAVARS | PATH_METAVARS)
        positionals = {word.strip("[]") for word in usage.split()[2:] if word != "[options]"}
        by_value = []
        if step_options:
            by_value.append(f"        {step_options}) COMPREPLY=($(compgen -W \"$steps\" -- \"$cur\")); return ;;")
        if path_options:
            by_value.append(f"        {path_options}) COMPREPLY=($(compgen -f -- \"$cur\")); return ;;")
        if value_options:
            by_value.append(f"        {value_options}) return ;;")
        lines = [f"    {name})"]
        if by_value:
            lines += ["      case $prev in", *by_value, "      esac"]
        lines.append(f"      if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W \"{names}\" -- \"$cur\")); return; fi")
        if "STEP" in positionals:
            lines.append("      COMPREPLY=($(compgen -W \"$steps\" -- \"$cur\"))")
        elif positionals:
            lines.append("      COMPREPLY=($(compgen -f -- \"$cur\"))")
        lines.append("      ;;")
        cases.append("\n".join(lines))
    return f"""# bash completion for vordak: its commands, their options and the step keys.
# Generated from the binary's --help by packaging/make_docs.py; do not edit.
_vordak() {{
  local cur=${{COMP_WORDS[COMP_CWORD]}} prev=${{COMP_WORDS[COMP_CWORD-1]}}
  local steps="{" ".join(steps)}"
  COMPREPLY=()
  if ((COMP_CWORD == 1)); then
    COMPREPLY=($(compgen -W "{" ".join(commands)} --help --version" -- "$cur"))
    return
  fi
  case ${{COMP_WORDS[1]}} in
{chr(10).join(cases)}
  esac
}}
complete -o filenames -o bashdefault -F _vordak vordak
"""


def main():
    vordak, template, out_dir = sys.argv[1], Path(sys.argv[2]), Path(sys.argv[3])
    summary, overview = read_overview(help_text(vordak, "--help"))
    commands = {name: read_command(help_text(vordak, name, "--help")) for name, _ in overview}
    steps = [step["adim"] for step in json.loads(help_text(vordak, "steps", "--json"))["adimlar"]]
    version = summary.split()[1].rstrip(":")
    page = (template.read_text(encoding="utf-8")
            .replace("@VERSION@", version)
            .replace("@SUMMARY@", roff(summary.split(": ", 1)[-1].rstrip(".")))
            .replace("@COMMANDS@", man_commands(commands)))
    out_dir.mkdir(parents=True, exist_ok=True)
    page = ascii_roff(page).encode("ascii")
    (out_dir / "vordak.1").write_bytes(page)
    # No name or time in the gzip header: the same help makes the same file.
    with open(out_dir / "vordak.1.gz", "wb") as raw, gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=0) as packed:
        packed.write(page)
    (out_dir / "vordak.bash-completion").write_text(completion(commands, steps), encoding="utf-8")


if __name__ == "__main__":
    main()
