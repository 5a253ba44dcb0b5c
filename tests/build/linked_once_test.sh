#!/bin/sh
# Every strong symbol of our shared libraries is defined in one of them only (templates and
# inline functions may be in several, as C++ allows): a second definition
# (a static library linked into two of them, say) would give a process two copies of the
# same object, Env::system()'s among them.
#
#   tests/build/linked_once_test.sh LIBRARY...
set -eu
duplicates=$(for library in "$@"; do
  nm -D --defined-only "$library" | awk -v lib="$(basename "$library")" '$2 ~ /^[TDBR]$/ {print $3 "\t" lib}'
done | sort | awk -F '\t' '$1 == previous {print $1 " in " previous_lib " and " $2} {previous = $1; previous_lib = $2}')
if [ -n "$duplicates" ]; then
  echo "defined in more than one library:" >&2
  echo "$duplicates" | c++filt >&2
  exit 1
fi
echo "$# libraries, no symbol defined twice"
