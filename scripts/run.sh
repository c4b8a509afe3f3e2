#!/usr/bin/env bash
# Installs what is missing, builds, and starts Vellumor VDP. Arguments are passed on.
# Without a display (neither DISPLAY nor WAYLAND_DISPLAY set) the window runs
# inside a virtual X server (xvfb-run): useful with TESSOLO_SCREENSHOT or
# TESSOLO_SMOKE_TEST, invisible otherwise.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

"$root/scripts/build.sh" --run

app="$root/build/bin/vellumor-vdp"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a "$app" "$@"
fi
exec "$app" "$@"
