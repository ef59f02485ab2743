#!/usr/bin/env bash
# Installs the build into a staging folder (DESTDIR) and uses the data file library from there
# as another program would: the README's C++ example (tests/library/consumer) built once through
# the CMake package and once with the README's pkg-config line, then run. Also checks that
# every installed header compiles on its own and that the library exports its API and nothing
# internal.
# Usage: install-and-link.sh <build folder> <install prefix> <source folder>
set -euo pipefail

build=$1
prefix=$2
source=$3
work=$(mktemp -d "$build/install-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

stage=$work/stage
root=$stage$prefix
if ! DESTDIR=$stage cmake --install "$build" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  echo "FAIL: cmake --install did not work" >&2
  exit 1
fi
libdir=$(dirname "$(find "$root" -name 'libquelm-datafile.so.1' | head -n 1)")
[ -f "$libdir/libquelm-datafile.so.1.0.0" ] || { echo "FAIL: libquelm-datafile.so.1.0.0 not installed" >&2; exit 1; }
for link in libquelm-datafile.so libquelm-datafile.so.1; do
  [ -L "$libdir/$link" ] || fail "$link is not a symbolic link"
done
soname=$(objdump -p "$libdir/libquelm-datafile.so.1.0.0" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = libquelm-datafile.so.1 ] || fail "SONAME is '$soname'"

# The API and the message texts are exported; the format's encoding and the system's
# implementation of the seam are not.
symbols=$(nm -DC --defined-only "$libdir/libquelm-datafile.so.1.0.0")
for public in 'quelm::DataFileStore::CreateDataFile' 'quelm::DataFile::open' \
  'quelm::DataFile::appendBars' 'quelm::systemFileCalls()' \
  'typeinfo for quelm::DataFileError'; do
  grep -qF "$public" <<<"$symbols" || fail "the library does not export $public"
done
for internal in encodeHeader decodeHeader crc32 PosixFileSystemCalls \
  WindowsFileSystemCalls; do
  if grep -q "$internal" <<<"$symbols"; then
    grep "$internal" <<<"$symbols" >&2
    fail "the library exports the internal $internal"
  fi
done

include=$root/include
for header in "$include"/quelm/*.h; do
  printf '#include <quelm/%s>\n' "$(basename "$header")" >"$work/header.cpp"
  c++ -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I"$include" "$work/header.cpp" ||
    fail "quelm/$(basename "$header") does not compile on its own"
done
# The installed headers are exactly the source tree's public folder and the export header.
installed=$(cd "$include/quelm" && ls)
public=$( (cd "$source/datafile/include/quelm" && ls; echo datafile_export.h) | sort)
[ "$installed" = "$public" ] || fail "installed headers: $installed; public: $public"

# The README shows the example, its CMakeLists.txt and the pkg-config line as they are here.
readme=$source/README.md
consumer=$source/tests/library/consumer
block() { awk -v lang="$1" '/^### From C\+\+/ { on = 1 } on && $0 == "```" lang { inside = 1; next }
  inside && $0 == "```" { exit } inside { print }' "$readme"; }
block cpp | diff -u "$consumer/main.cpp" - || fail "README's C++ example differs from $consumer/main.cpp"
block cmake | diff -u "$consumer/CMakeLists.txt" - ||
  fail "README's CMakeLists.txt differs from $consumer/CMakeLists.txt"
pkgconfig_line=$(awk '/^### From C\+\+/ { on = 1 } on && /^    c\+\+ .*pkg-config/ { sub(/^    /, ""); print; exit }' "$readme")
[ -n "$pkgconfig_line" ] || fail "README has no pkg-config build line"

expected="0001.qdf: 2 of 3 bars, closed cleanly: yes
1796623260000 1.5 2 1 1.75 100
1796623320000 1.75 2.5 1.5 2.25 80"
run_bars() {
  local how=$1 program=$2 output
  if output=$(LD_LIBRARY_PATH=$libdir timeout 30 "$program" "$work/data-$how" 2>&1); then
    [ "$output" = "$expected" ] || fail "the $how build printed:
$output"
  else
    fail "the $how build failed: $output"
  fi
  # It ran against the installed library, not the one in the build folder.
  output=$(LD_LIBRARY_PATH=$libdir ldd "$program")
  grep -q "=> $libdir/libquelm-datafile.so.1 " <<<"$output" ||
    fail "the $how build does not load the installed library"
}

cp -r "$consumer" "$work/cmake"
if cmake -S "$work/cmake" -B "$work/cmake/build" -DCMAKE_PREFIX_PATH="$root" \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$work/cmake.log" 2>&1 &&
  cmake --build "$work/cmake/build" >>"$work/cmake.log" 2>&1; then
  run_bars cmake "$work/cmake/build/bars"
else
  cat "$work/cmake.log" >&2
  fail "the example does not build with find_package(QuelmDataFile)"
fi

cp -r "$consumer" "$work/pkgconfig"
if (cd "$work/pkgconfig" &&
  PKG_CONFIG_PATH=$libdir/pkgconfig PKG_CONFIG_SYSROOT_DIR=$stage bash -c "$pkgconfig_line") \
  >"$work/pkgconfig.log" 2>&1; then
  run_bars pkg-config "$work/pkgconfig/bars"
else
  cat "$work/pkgconfig.log" >&2
  fail "the example does not build with: $pkgconfig_line"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "the installed library works for other programs"
