"""`python -m vordak ARGS...` runs the `vordak` binary with ARGS (for example `init`)."""

import os
import sys

from vordak import VordakError, executable


def main(argv):
    try:
        program = executable()
    except VordakError as error:
        print(error, file=sys.stderr)
        return 127
    # Replaces this process: exit status, output and the terminal are the binary's own.
    os.execv(program, [program] + argv)
    return 0  # not reached


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
