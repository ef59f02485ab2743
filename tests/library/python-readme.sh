#!/usr/bin/env bash
# Installs the library and the module into a staging folder (DESTDIR) and runs the README's Python lines as
# written, with Debian's Python, on the installed module and library. Also checks that the
# module went to a folder that Debian's Python searches under the install prefix, so that
# `import quelm` works there with no path set.
# Usage: python-readme.sh <build folder> <install prefix> <source folder> <python>
set -euo pipefail

build=$1
prefix=$2
source=$3
python=$4
work=$(mktemp -d "$build/python-readme.XXXXXX")
trap 'rm -rf "$work"' EXIT

stage=$work/stage
if ! { DESTDIR=$stage cmake --install "$build" --component library &&
  DESTDIR=$stage cmake --install "$build" --component python; } >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  echo "FAIL: cmake --install did not work" >&2
  exit 1
fi
module=$(find "$stage$prefix" -name 'quelm.cpython-*.so' | head -n 1)
[ -n "$module" ] || { echo "FAIL: the module quelm was not installed" >&2; exit 1; }
folder=${module%/*}
[ -f "$folder/quelm.pyi" ] || { echo "FAIL: quelm.pyi is not beside the module" >&2; exit 1; }
searched=$("$python" -c 'import sys; print("\n".join(sys.path))')
grep -qxF "${folder#"$stage"}" <<<"$searched" ||
  { echo "FAIL: ${folder#"$stage"} is not on $python's path" >&2; exit 1; }
libdir=$(dirname "$(find "$stage$prefix" -name 'libquelm-datafile.so.1' | head -n 1)")

# The block of the README's section "From Python", run in an empty folder.
awk '/^### From Python/ { on = 1 } on && $0 == "```python" { inside = 1; next }
  inside && $0 == "```" { exit } inside { print }' "$source/README.md" >"$work/readme.py"
[ "$(wc -l <"$work/readme.py")" -eq 5 ] ||
  { cat "$work/readme.py" >&2; echo "FAIL: the README's Python lines are not five" >&2; exit 1; }
mkdir "$work/run"
if ! output=$(cd "$work/run" && PYTHONPATH=$folder LD_LIBRARY_PATH=$libdir timeout 60 \
  "$python" -c 'import quelm, runpy, sys; print(quelm.__file__); runpy.run_path(sys.argv[1])' \
  "$work/readme.py" 2>&1); then
  echo "FAIL: the README's Python lines failed: $output" >&2
  exit 1
fi
[ "$(head -n 1 <<<"$output")" = "$module" ] ||
  { echo "FAIL: not the installed module: $output" >&2; exit 1; }
grep -Eq '^2026-12-07 06:01:00\+00:00 +1\.5 +2\.0 +1\.0 +1\.75 +100\.0$' <<<"$output" ||
  { echo "FAIL: the README's Python lines printed: $output" >&2; exit 1; }
echo "the README's Python lines run as written"
