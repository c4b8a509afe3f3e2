#!/usr/bin/env bash
# Builds the Debian package of Vellumor VDP, build/deb/vellumor-vdp_VERSION_ARCH.deb,
# with cpack from the build that scripts/build.sh keeps in build/ (nothing is
# built twice). Its dependencies come from the binaries (dpkg-shlibdeps).
#   scripts/package.sh          build the package and print its path
#   scripts/package.sh --check  then also install it with apt-get, use the
#                               installed programs from /usr/bin, and purge it
#                               again, checking that none of its files remain
# VDP_BUILD names another build directory, already configured, to package
# instead of build/ (the package then lands in its deb/).
# Safe to repeat; --check needs root (or sudo) and removes an installed
# vellumor-vdp package first.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${VDP_BUILD:-$root/build}")"
check=0
case "${1:-}" in
  "") ;;
  --check) check=1 ;;
  *) echo "usage: scripts/package.sh [--check]" >&2; exit 2 ;;
esac

if [ "$build" = "$root/build" ]; then
  "$root/scripts/build.sh"
else
  "$root/scripts/install-deps.sh"
  cmake --build "$build" -j "$(nproc)"
fi
out="$build/deb"
rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$out" >"$build/cpack.log" 2>&1) || { cat "$build/cpack.log" >&2; exit 1; }
debs=("$out"/vellumor-vdp_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "package: cpack made no single .deb in $out" >&2; exit 1; }
deb="${debs[0]}"
echo "$deb"
[ "$check" = 1 ] || exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
fail() { echo "package check: $*" >&2; exit 1; }

work="$(mktemp -d)"
purge() { $SUDO apt-get purge -y -qq vellumor-vdp >/dev/null; }
# Known to dpkg in any state, also removed with its configuration left.
installed() { dpkg-query -W vellumor-vdp >/dev/null 2>&1; }
cleanup() {
  cd /
  rm -rf "$work"
  if installed; then purge || true; fi
}
trap cleanup EXIT

if installed; then purge; fi
$SUDO apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get could not install $deb"; }

version="$(dpkg-query -W -f='${Version}' vellumor-vdp)"
[ "$(command -v vellumor-vdp-cli)" = /usr/bin/vellumor-vdp-cli ] || fail "vellumor-vdp-cli is not /usr/bin/vellumor-vdp-cli"
[ "$(vellumor-vdp-cli --version)" = "vellumor-vdp-cli $version" ] || fail "--version does not say $version"

# The menu entry: valid, starting the installed window, with the installed icon.
entry="$(dpkg -L vellumor-vdp | grep '^/usr/share/applications/.*\.desktop$')" || fail "no menu entry installed"
desktop-file-validate "$entry" || fail "$entry does not validate"
exec_name="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")"
icon="$(sed -n 's/^Icon=//p' "$entry")"
[ "$(command -v "$exec_name")" = "/usr/bin/$exec_name" ] || fail "the menu entry starts $exec_name, not in /usr/bin"
[ -f "/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no icon $icon"
man -w vellumor-vdp-cli >/dev/null || fail "man does not find vellumor-vdp-cli"
# PDF backgrounds render in a process of their own; TIFF and WebP need Qt's
# plug-ins, which no binary links, so the package must depend on them.
[ -x /usr/lib/vellumor-vdp/vellumor-vdp-pdfraster ] || fail "no PDF renderer in /usr/lib/vellumor-vdp"
dpkg-query -W -f='${Depends}' vellumor-vdp | grep -q 'qt6-image-formats-plugins' \
  || fail "the package does not depend on qt6-image-formats-plugins (TIFF and WebP backgrounds)"

# The starter project, seeded from /usr/share, exported from a folder of its own;
# the first sheet's Code 128 symbols are the first ten members' codes (the
# installation test decodes every card's codes, QR codes included).
cd "$work"
vellumor-vdp-cli --data-dir "$work/data" export --output starter.pdf >"$work/export.log" 2>&1 \
  || { cat "$work/export.log" >&2; fail "the starter export failed"; }
vellumor-vdp-cli --data-dir "$work/data" records --limit 10 \
  | sed -n 's/.*"Member Code":"\([^"]*\)".*/CODE-128:\1/p' | sort >expected.txt
pdftoppm -r 300 -f 1 -l 1 -singlefile -png starter.pdf page
zbarimg -q page.png 2>/dev/null | grep '^CODE-128:' | sort >decoded.txt || true
[ "$(wc -l <expected.txt)" -eq 10 ] && cmp -s expected.txt decoded.txt \
  || fail "the starter export's codes are not the members' codes: $(diff expected.txt decoded.txt | head -5)"
TESSOLO_SMOKE_TEST=1 TESSOLO_DATA_DIR="$work/window-data" QT_QPA_PLATFORM=offscreen vellumor-vdp >"$work/window.log" 2>&1 \
  || { cat "$work/window.log" >&2; fail "the installed window's smoke test failed"; }

# Purged, nothing of the package remains; folders shared with others may.
dpkg -L vellumor-vdp >"$work/files.txt"
purge
installed && fail "dpkg still knows vellumor-vdp after the purge"
while IFS= read -r path; do
  if [ -e "$path" ] && [ ! -d "$path" ]; then fail "$path remains after the purge"; fi
done <"$work/files.txt"
for folder in /usr/share/vellumor-vdp /usr/lib/vellumor-vdp; do
  [ ! -e "$folder" ] || fail "$folder remains after the purge"
done
echo "Installed $deb ($version), exported the starter project from /usr/bin, purged it without a trace"
