#!/usr/bin/env bash
# The Debian package CPack makes of this build tree: its control fields and files (dpkg-deb),
# lintian's errors when lintian is installed, and apt's answer to installing it, simulated, so
# that nothing is installed on this machine.
#
#   package_test.sh BUILD SOURCE
#
# Exits 77 (skipped) without dpkg-shlibdeps, which CPack needs for the dependencies.
set -euo pipefail

build="$1" source="$2"
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

command -v dpkg-shlibdeps >/dev/null || skip "dpkg-shlibdeps (dpkg-dev) is not installed"
work="$(mktemp -d "${TMPDIR:-/tmp}/vornel-package-XXXXXX")"
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/vornel_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single vornel_*.deb: ${debs[*]}"
deb="${debs[0]}"
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"

dpkg-deb --info "$deb" | tee "$work/info"
field() { sed -n "s/^ $1: //p" "$work/info"; }
[ "$(field Package)" = vornel ] || fail "package name"
[ "$(field Section)" = sound ] || fail "section"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture"
[ -n "$(field Maintainer)" ] || fail "no maintainer"
[ -n "$(field Description)" ] || fail "no description"
# What dpkg-shlibdeps must have found in the two ELF files, and what the player loads at run time.
depends="$(field Depends)"
for needed in libqt6widgets6 libqt6network6 libqt6dbus6 libpulse0 libsdl2 libcurl libmpg123 libfaad2 libvorbis libopus \
              qt6-qpa-plugins fonts-dejavu-extra ca-certificates; do
  grep -q "$needed" <<<"$depends" || fail "Depends lacks $needed: $depends"
done

dpkg-deb --contents "$deb" | tee "$work/contents"
# Type and mode, owner, then the path (and a link's target) of each entry.
awk '{ printf "%s %s %s", substr($1, 1, 10), $2, $6; for (i = 7; i <= NF; ++i) printf " %s", $i; print "" }' \
  "$work/contents" >"$work/entries"
has() { grep -qxF -- "$1" "$work/entries" || fail "the package lacks: $1"; }
has "-rwxr-xr-x root/root ./usr/lib/vornel/vornel"
has "-rw-r--r-- root/root ./usr/lib/vornel/libbass.so"
has "-rw-r--r-- root/root ./usr/lib/vornel/stations.dat"
has "lrwxrwxrwx root/root ./usr/bin/vornel -> ../lib/vornel/vornel"
has "-rw-r--r-- root/root ./usr/share/applications/vornel.desktop"
has "-rw-r--r-- root/root ./usr/share/metainfo/io.github.vornel.Vornel.metainfo.xml"
has "-rw-r--r-- root/root ./usr/share/doc/vornel/copyright"
has "-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/vornel.svg"
for size in 16 24 32 48 64 128 256; do has "-rw-r--r-- root/root ./usr/share/icons/hicolor/${size}x${size}/apps/vornel.png"; done
# Nothing outside /usr, and no REC: an installed player records into the user's music folder.
if grep -v ' \./$\| \./usr/' "$work/entries" | grep -q .; then fail "files outside /usr"; fi
if grep -q 'REC' "$work/entries"; then fail "the package holds REC"; fi

if command -v lintian >/dev/null; then
  # Errors only: warnings (a private library without a version, say) do not fail the package.
  lintian --fail-on error "$deb" || fail "lintian reports errors"
else
  echo "lintian not installed: the package is not checked by lintian"
fi

if command -v apt-get >/dev/null; then
  # apt resolves the dependencies against this machine's package lists without installing.
  apt-get install --simulate --no-install-recommends "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt cannot install the package"; }
  grep '^Inst ' "$work/apt.log" || true
  grep -q '^Inst vornel ' "$work/apt.log" || { cat "$work/apt.log"; fail "apt would not install vornel"; }
fi
echo "package $(basename "$deb") checked"
