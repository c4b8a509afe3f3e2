#!/usr/bin/env bash
# Puts the PDFium library that renders PDF backgrounds at .deps/pdfium/libpdfium.so.
# It comes from a pinned npm package and is checked against a known SHA-256, so
# every machine renders with the same, unaltered build. Idempotent: a file that
# is already there with the right checksum is kept, nothing is downloaded.
#   scripts/fetch-pdfium.sh            fails when the library cannot be fetched
#   scripts/fetch-pdfium.sh --optional only warns: image backgrounds work without it
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
package="@craftlions/pdfium-rs-linux-x64-gnu@0.0.15"
sha256="246872bdd5e05843b70051e6378216cc584535a1f4a7248b9f88059715d70f7c"
dest_dir="$root/.deps/pdfium"
dest="$dest_dir/libpdfium.so"

optional=0
if [ "${1:-}" = "--optional" ]; then optional=1; fi

fail() {
  echo "fetch-pdfium: $*" >&2
  if [ "$optional" = 1 ]; then
    echo "fetch-pdfium: continuing without PDFium: PDF backgrounds will not render, image backgrounds will." >&2
    exit 0
  fi
  exit 1
}

if [ -f "$dest" ] && echo "$sha256  $dest" | sha256sum --check --status; then
  exit 0
fi

command -v npm >/dev/null || fail "npm is not installed"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
echo "Fetching PDFium ($package)" >&2
(cd "$work" && npm pack --silent "$package" >/dev/null) || fail "could not download $package"
tar -xzf "$work"/*.tgz -C "$work" package/libpdfium.so || fail "$package holds no libpdfium.so"
echo "$sha256  $work/package/libpdfium.so" | sha256sum --check --status \
  || fail "libpdfium.so of $package does not have the expected SHA-256 $sha256"
mkdir -p "$dest_dir"
# Moved into place only once checked, so an interrupted run leaves no half file.
install -m 0644 "$work/package/libpdfium.so" "$dest.tmp"
mv -f "$dest.tmp" "$dest"
