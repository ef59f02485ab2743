#!/usr/bin/env bash
# Packs the finished build with cpack into a temporary folder: three Debian packages, quelm (the
# window and the commands), libquelm-datafile1 (the shared library) and libquelm-datafile-dev
# (what C++ programs build against), and a fourth, python3-quelm (the Python module), when the
# build has the module. Checks each one's fields, dependencies and contents, that lintian finds
# no errors, then unpacks them into one tree with dpkg-deb -x and checks that the unpacked
# programs work in a real X server, that a program builds against the unpacked library with
# pkg-config, and that Debian's Python imports the unpacked module and fills a file with it.
# Usage: package.sh <build folder> [python: 1 when the build has the Python module]
set -euo pipefail

build=$1
with_python=${2:-0}
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack could not build the packages" >&2
  exit 1
fi
version=1.00
programs=$work/out/quelm_${version}_amd64.deb
library=$work/out/libquelm-datafile1_${version}_amd64.deb
dev=$work/out/libquelm-datafile-dev_${version}_amd64.deb
python=$work/out/python3-quelm_${version}_amd64.deb
debs=("$programs" "$library" "$dev")
[ "$with_python" = 1 ] && debs+=("$python")
made=$(cd "$work/out" && ls -- *.deb | sort | tr '\n' ' ')
expected=$(for deb in "${debs[@]}"; do basename "$deb"; done | sort | tr '\n' ' ')
[ "$made" = "$expected" ] || { echo "FAIL: expected the packages $expected, got: $made" >&2; exit 1; }
echo "packages: $made"

# Debian's own checks of the packages: errors fail the test, warnings are only shown.
if command -v lintian >/dev/null; then
  lintian --fail-on error "${debs[@]}" >"$work/lintian.log" 2>&1 ||
    fail "lintian reports errors"
  grep -v 'running with root privileges' "$work/lintian.log" || true
fi

field() { dpkg-deb -f "$1" "$2"; }
# depends_on <deb> <package> [<exact version>]: Depends names the package, with that version.
depends_on() {
  local depends name pattern
  depends=$(field "$1" Depends)
  name=$(sed 's/[+.]/\\&/g' <<<"$2")
  pattern="(^|, )$name( |,|$)"
  [ -z "${3:-}" ] || pattern="(^|, )$name \\(= $3\\)(,|$)"
  grep -Eq "$pattern" <<<"$depends" ||
    fail "$(basename "$1") Depends '$depends' lacks $2${3:+ (= $3)}"
}
rows=("$programs quelm utils" "$library libquelm-datafile1 libs" "$dev libquelm-datafile-dev libdevel")
[ "$with_python" = 1 ] && rows+=("$python python3-quelm python")
for row in "${rows[@]}"; do
  read -r deb name section <<<"$row"
  [ "$(field "$deb" Package)" = "$name" ] || fail "Package is '$(field "$deb" Package)', expected $name"
  [ "$(field "$deb" Version)" = "$version" ] || fail "$name: Version is '$(field "$deb" Version)'"
  [ "$(field "$deb" Section)" = "$section" ] || fail "$name: Section is '$(field "$deb" Section)'"
  echo "$name Depends: $(field "$deb" Depends)"
done
for needed in libqt6widgets6 libc6 qt6-qpa-plugins; do depends_on "$programs" $needed; done
depends_on "$programs" libquelm-datafile1 "$version"
for needed in libc6 libstdc++6; do depends_on "$library" $needed; done
depends_on "$dev" libquelm-datafile1 "$version"
# Through a here-string: with pipefail, grep -q leaving early would fail the pipe.
grep -q quelm-import <<<"$(field "$programs" Description)" ||
  fail "quelm's description does not name quelm-import"
shlibs=$(dpkg-deb --ctrl-tarfile "$library" | tar -xO ./shlibs 2>/dev/null || true)
[ "$shlibs" = "libquelm-datafile 1 libquelm-datafile1 (>= $version)" ] ||
  fail "libquelm-datafile1 declares no shlibs for libquelm-datafile.so.1"

# holds <deb> <path>...: the package holds each path; lacks: holds none of them.
listing() { dpkg-deb -c "$1" | awk '{ print $6 }' | sed 's|^\./|/|; s|/$||'; }
holds() {
  local deb=$1 path files
  shift
  files=$(listing "$deb")
  for path; do grep -qxF "$path" <<<"$files" || fail "$(basename "$deb") lacks $path"; done
}
lacks() {
  local deb=$1 path files
  shift
  files=$(listing "$deb")
  for path; do ! grep -qxF "$path" <<<"$files" || fail "$(basename "$deb") holds $path"; done
}
holds "$library" /usr/lib/libquelm-datafile.so.1 /usr/lib/libquelm-datafile.so.1.0.0 \
  /usr/share/doc/libquelm-datafile1/copyright /usr/share/doc/libquelm-datafile1/changelog.gz
lacks "$library" /usr/lib/libquelm-datafile.so /usr/include/quelm/datafile.h
holds "$dev" /usr/lib/libquelm-datafile.so /usr/include/quelm/datafile.h \
  /usr/include/quelm/datafilestore.h /usr/include/quelm/datafile_export.h \
  /usr/lib/cmake/QuelmDataFile/QuelmDataFileConfig.cmake \
  /usr/lib/cmake/QuelmDataFile/QuelmDataFileConfigVersion.cmake \
  /usr/lib/pkgconfig/quelm-datafile.pc /usr/share/doc/libquelm-datafile-dev/copyright \
  /usr/share/doc/libquelm-datafile-dev/changelog.gz
lacks "$dev" /usr/lib/libquelm-datafile.so.1.0.0
lacks "$programs" /usr/lib/libquelm-datafile.so.1.0.0 /usr/include/quelm/datafile.h

# All unpacked into one tree, as apt would install them.
root=$work/root
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root"; done

for program in quelm quelm-inspect quelm-import quelm-export quelm-chart; do
  [ -x "$root/usr/bin/$program" ] || fail "usr/bin/$program missing or not executable"
  [ -f "$root/usr/share/man/man1/$program.1.gz" ] || fail "the manual page of $program is missing"
done

app_id=io.github.quelm.Quelm
desktop=$root/usr/share/applications/$app_id.desktop
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
[ -f "$desktop" ] || fail "desktop entry missing"
[ -f "$metainfo" ] || fail "metainfo missing"
if [ -f "$desktop" ]; then
  desktop-file-validate "$desktop" || fail "desktop entry does not validate"
  grep -qx 'Name=Quelm File Builder' "$desktop" || fail "desktop entry lacks Name=Quelm File Builder"
  grep -qx "Icon=$app_id" "$desktop" || fail "desktop entry lacks Icon=$app_id"
  grep -qx 'Exec=quelm' "$desktop" || fail "desktop entry lacks Exec=quelm"
fi
if [ -f "$metainfo" ]; then
  appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log" >&2; fail "metainfo does not validate"; }
  for program in quelm quelm-inspect quelm-import quelm-export quelm-chart; do
    grep -q "<binary>$program</binary>" "$metainfo" || fail "metainfo does not provide $program"
  done
fi

for size in 16 32 48 256; do
  icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png
  if [ -f "$icon" ]; then
    grep -q "PNG image data, $size x $size," <<<"$(file -b "$icon")" || fail "icon $size is $(file -b "$icon")"
  else
    fail "icon ${size}x${size} missing"
  fi
done

for doc in copyright changelog.gz; do
  [ -f "$root/usr/share/doc/quelm/$doc" ] || fail "usr/share/doc/quelm/$doc missing"
done

# The packed programs, stripped as they are, must work like the built ones, with the packed
# library.
export LD_LIBRARY_PATH=$root/usr/lib
for program in quelm-import quelm-export quelm-inspect quelm-chart; do
  libraries=$(ldd "$root/usr/bin/$program")
  grep -q "=> $root/usr/lib/libquelm-datafile.so.1 " <<<"$libraries" ||
    fail "$program does not load the packed library"
done
if [ "$failures" -eq 0 ] && command -v Xvfb >/dev/null; then
  "$here/x11.sh" "$root/usr/bin/quelm" "$root/usr/bin/quelm-inspect" "$work/x11.png" \
    >"$work/x11.log" 2>&1 || { cat "$work/x11.log" >&2; fail "the packed quelm does not work in X"; }
  [ "$failures" -eq 0 ] && echo "the packed programs work in X"
fi

# A program builds against the packed headers and library through the packed .pc file.
pc=$root/usr/lib/pkgconfig/quelm-datafile.pc
grep -qx 'prefix=/usr' "$pc" || fail "quelm-datafile.pc does not name the prefix /usr"
if flags=$(PKG_CONFIG_PATH=$root/usr/lib/pkgconfig PKG_CONFIG_SYSROOT_DIR=$root \
  pkg-config --cflags --libs quelm-datafile) &&
  c++ -std=c++20 "$source/tests/library/consumer/main.cpp" -o "$work/bars" $flags \
    >"$work/bars.log" 2>&1; then
  output=$(timeout 30 "$work/bars" "$work/data" 2>&1 || true)
  grep -q '^0001.qdf: 2 of 3 bars, closed cleanly: yes$' <<<"$output" ||
    fail "a program built against the packed library does not work"
else
  cat "$work/bars.log" >&2 || true
  fail "a program does not build against the packed library"
fi

# Debian's Python finds the packed module in Debian's own folder for modules, with the packed
# library, and fills and reads a file with it.
if [ "$with_python" = 1 ]; then
  for needed in libquelm-datafile1 python3 python3-numpy libc6; do depends_on "$python" $needed; done
  depends_on "$python" libquelm-datafile1 "$version"
  modules=/usr/lib/python3/dist-packages
  module=$(listing "$python" | grep -x "$modules/quelm\.cpython-.*\.so" || true)
  [ -n "$module" ] || fail "python3-quelm holds no module quelm in $modules"
  holds "$python" $modules/quelm.pyi /usr/share/doc/python3-quelm/copyright \
    /usr/share/doc/python3-quelm/changelog.gz
  lacks "$python" /usr/lib/libquelm-datafile.so.1.0.0
  if [ -n "$module" ]; then
    grep -q "=> $root/usr/lib/libquelm-datafile.so.1 " <<<"$(ldd "$root$module")" ||
      fail "the packed module does not load the packed library"
    output=$(cd "$work" && PYTHONPATH=$root$modules timeout 60 /usr/bin/python3 -c '
import quelm
with quelm.create("module.qdf", 2) as f:
    f.append([("2026-12-07T06:01", 1.5, 2, 1, 1.75, 100)])
    f.flush()
print(quelm.__file__, len(quelm.open("module.qdf")))' 2>&1) || true
    [ "$output" = "$root$module 1" ] || fail "the packed module does not work: $output"
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; package contents:" >&2
  for deb in "${debs[@]}"; do dpkg-deb -c "$deb" >&2; done
  exit 1
fi
echo "the packages hold what they should"
