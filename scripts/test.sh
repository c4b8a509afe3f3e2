#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Arguments go to ctest
# (for example: scripts/test.sh -R cli).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

"$root/scripts/build.sh"
ctest --test-dir "$root/build" --output-on-failure -j2 "$@"
