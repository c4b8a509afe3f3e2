#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running, testing and packaging Vellumor VDP need,
# then the PDFium library that renders PDF backgrounds (scripts/fetch-pdfium.sh, from npm).
# Idempotent: asks dpkg first and only runs apt-get (and its update) when something is missing.
#   scripts/install-deps.sh          build + run + test packages (the validators of the installed
#                                    desktop files, man, and what cpack needs for the .deb)
#   scripts/install-deps.sh --run    only what building and starting the application needs
#   scripts/install-deps.sh --fuzz   build + run + test packages and the fuzzing tool chain
#                                    (clang with its sanitizer and libFuzzer runtimes, llvm-symbolizer)
#   scripts/install-deps.sh --bench  build + run + test packages and the peer tool of the export
#                                    benchmark (gLabels 3 with its batch tool, GNU time)
set -euo pipefail

build_pkgs=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-private-dev qt6-svg-dev libqt6sql6-sqlite qt6-image-formats-plugins
  libgl-dev libqrcodegencpp-dev zlib1g-dev libqpdf-dev libsqlite3-dev
  fonts-dejavu-core xvfb xauth
  python3 python3-openpyxl
)
test_pkgs=(
  poppler-utils zbar-tools zint sqlite3 qpdf
  desktop-file-utils appstream man-db
  dpkg-dev file
)
fuzz_pkgs=(
  clang libclang-rt-14-dev llvm
)
bench_pkgs=(
  glabels time
)

pkgs=("${build_pkgs[@]}")
if [ "${1:-}" != "--run" ]; then
  pkgs+=("${test_pkgs[@]}")
fi
if [ "${1:-}" = "--fuzz" ]; then
  pkgs+=("${fuzz_pkgs[@]}")
fi
if [ "${1:-}" = "--bench" ]; then
  pkgs+=("${bench_pkgs[@]}")
fi

missing=()
# PDFium comes from the npm registry; Debian's npm is only needed where no npm is installed.
if ! command -v npm >/dev/null; then
  pkgs+=(npm)
fi
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The tests render real PDFs, so they need the library; the application starts without it.
if [ "${1:-}" = "--run" ]; then
  "$(dirname "${BASH_SOURCE[0]}")/fetch-pdfium.sh" --optional
else
  "$(dirname "${BASH_SOURCE[0]}")/fetch-pdfium.sh"
fi
