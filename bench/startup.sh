#!/usr/bin/env bash
# Start-up time of the window: median over N starts (default 5) of the time from
# process start to "Ready", on a data directory that has already been seeded.
# The smoke-test mode quits 250 ms after the window is shown; the figure printed
# is the process wall time minus those 250 ms, so it also counts the teardown
# and is a slight over-estimate of the time to "Ready".
#   bench/startup.sh [build-dir] [starts]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
starts="${2:-5}"
exe="$build/bin/vellumor-vdp"
[ -x "$exe" ] || { echo "no $exe: build first (scripts/build.sh)" >&2; exit 1; }

data="$(mktemp -d)"
trap 'rm -rf "$data"' EXIT
run() {
  if [ -n "${DISPLAY:-}" ]; then "$@"; else QT_QPA_PLATFORM=offscreen "$@"; fi
}
# First start seeds the database from the starter; it is not counted.
TESSOLO_DATA_DIR="$data" TESSOLO_SMOKE_TEST=1 run "$exe" >/dev/null 2>&1

times=()
for _ in $(seq "$starts"); do
  t0=$(date +%s%N)
  TESSOLO_DATA_DIR="$data" TESSOLO_SMOKE_TEST=1 run "$exe" >/dev/null 2>&1
  t1=$(date +%s%N)
  times+=($(( (t1 - t0) / 1000000 - 250 )))
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "starts (ms to Ready): ${times[*]}"
echo "median: ${sorted[$(( ${#sorted[@]} / 2 ))]} ms"
