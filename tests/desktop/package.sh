#!/usr/bin/env bash
# Packs the finished build with cpack into a temporary folder, unpacks the .deb with dpkg-deb -x
# and checks that it holds the programs and the desktop files, depends on the Qt 6 runtime,
# passes lintian, and that the unpacked programs work in a real X server.
# Usage: package.sh <build folder>
set -euo pipefail

build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack could not build the package" >&2
  exit 1
fi
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: expected one .deb, got: ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}
echo "package: $(basename "$deb")"

# Debian's own checks of the package: errors fail the test, warnings are only shown.
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || fail "lintian reports errors"
  grep -v 'running with root privileges' "$work/lintian.log" || true
fi

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quelm ] || fail "Package is '$(field Package)', expected quelm"
[ "$(field Version)" = 1.00 ] || fail "Version is '$(field Version)', expected 1.00"
[ "$(field Section)" = utils ] || fail "Section is '$(field Section)', expected utils"
depends=$(field Depends)
echo "Depends: $depends"
grep -Eq '(^|, )libqt6widgets6( |,|$)' <<<"$depends" || fail "Depends does not name libqt6widgets6"
grep -Eq '(^|, )libc6( |,|$)' <<<"$depends" || fail "Depends does not name libc6"
grep -Eq '(^|, )qt6-qpa-plugins( |,|$)' <<<"$depends" || fail "Depends does not name qt6-qpa-plugins"

root=$work/root
dpkg-deb -x "$deb" "$root"

for program in quelm quelm-inspect; do
  [ -x "$root/usr/bin/$program" ] || fail "usr/bin/$program missing or not executable"
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
fi

for size in 16 32 48 256; do
  icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png
  if [ -f "$icon" ]; then
    file -b "$icon" | grep -q "PNG image data, $size x $size," || fail "icon $size is $(file -b "$icon")"
  else
    fail "icon ${size}x${size} missing"
  fi
done

for doc in copyright changelog.gz; do
  [ -f "$root/usr/share/doc/quelm/$doc" ] || fail "usr/share/doc/quelm/$doc missing"
done

# The packed programs, stripped as they are, must work like the built ones.
if [ "$failures" -eq 0 ] && command -v Xvfb >/dev/null; then
  "$(dirname "$0")/x11.sh" "$root/usr/bin/quelm" "$root/usr/bin/quelm-inspect" "$work/x11.png" \
    >"$work/x11.log" 2>&1 || { cat "$work/x11.log" >&2; fail "the packed quelm does not work in X"; }
  [ "$failures" -eq 0 ] && echo "the packed programs work in X"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; package contents:" >&2
  dpkg-deb -c "$deb" >&2
  exit 1
fi
echo "package holds what it should"
