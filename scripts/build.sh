#!/usr/bin/env bash
# Installs missing packages, then configures and builds Vellumor VDP into build/.
#   scripts/build.sh          everything, tests included
#   scripts/build.sh --run    only the packages needed to build and start the application
# Safe to repeat: packages are only installed when missing and the build is incremental.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

deps_args=()
if [ "${1:-}" = "--run" ]; then
  deps_args=(--run)
fi

"$root/scripts/install-deps.sh" "${deps_args[@]}"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)"
