#!/usr/bin/env bash
# What a large project costs once imported: a 250,000-row, 10-column CSV in a
# project of its own, then
#   - the window's start with that project open (smoke-test mode: it quits
#     250 ms after it is shown; that wait is subtracted),
#   - `vellumor-vdp-cli records --limit 0`, which loads and combines every
#     card record and prints none,
# each as wall seconds and peak resident memory (/usr/bin/time), the median
# seconds and highest peak over N runs. Targets: the window ready within 1.5 s
# at no more than 200 MB.
#
#   bench/large-project-benchmark.sh [build-dir] [runs]   (default: build-bench/, Release; 5 runs)
#
# The CSV is the import benchmark's, generated once from a fixed seed.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${1:-$root/build-bench}")"
runs="${2:-5}"
rows=250000
python=/usr/bin/python3

"$root/scripts/install-deps.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
build_log="$(mktemp)"
if ! cmake --build "$build" --target vellumor-vdp vellumor-vdp-cli -j "$(nproc)" >"$build_log" 2>&1; then
  cat "$build_log" >&2
  exit 1
fi
rm -f "$build_log"
app="$build/bin/vellumor-vdp"
cli="$build/bin/vellumor-vdp-cli"

data="$build/bench-data"
csv="$data/import-$rows.csv"
if [ ! -f "$csv" ]; then
  echo "Generating $rows-row input files in $data" >&2
  "$python" "$root/bench/make-import-data.py" "$data" "$rows"
fi

dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
export TESSOLO_DATA_DIR="$dir"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
TESSOLO_SMOKE_TEST=1 "$app" >/dev/null 2>&1 # seeds the database
"$cli" create "Large project" >/dev/null
"$cli" import "$csv" >/dev/null
# The window opens the project saved last: the new one.

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
highest() { printf '%s\n' "$@" | sort -n | tail -1; }

measure() { # name command...
  local name="$1"; shift
  local seconds=() peaks=() out
  for _ in $(seq "$runs"); do
    if ! /usr/bin/time -o "$dir/time.out" -f '%e %M' "$@" >/dev/null 2>"$dir/run.err"; then
      echo "$name failed:" >&2
      cat "$dir/run.err" >&2
      exit 1
    fi
    out="$(tail -1 "$dir/time.out")"
    seconds+=("$(awk '{print $1}' <<<"$out")")
    peaks+=("$(awk '{printf "%.0f", $2 / 1024}' <<<"$out")")
  done
  echo "$name $(median "${seconds[@]}") $(highest "${peaks[@]}")"
}

read -r _ start_s start_mb < <(measure window env TESSOLO_SMOKE_TEST=1 "$app")
read -r _ records_s records_mb < <(measure records "$cli" records --limit 0)
start_ready="$(awk -v s="$start_s" 'BEGIN {printf "%.2f", s - 0.25}')"

printf '%-44s %8s %8s\n' "$rows rows x 10 columns" "seconds" "peak MB"
printf '%-44s %8s %8s\n' "window start to Ready (250 ms wait taken off)" "$start_ready" "$start_mb"
printf '%-44s %8s %8s\n' "records --limit 0" "$records_s" "$records_mb"
verdict() { if awk -v a="$1" -v b="$2" 'BEGIN {exit !(a <= b)}'; then echo met; else echo missed; fi; }
echo "target: window start <= 1.5 s: $(verdict "$start_ready" 1.5); <= 200 MB: $(verdict "$start_mb" 200)"
