#!/usr/bin/env bash
# Background benchmark: what PDF artwork costs.
#   1. Rasterising a one-page A4 artwork PDF at 2400 px through PDFium (median of 15).
#   2. The command-line tool's export of 1,000 duplex cards (the export benchmark's
#      project: 16-up, codes on the front, a prize on the back) with that PDF as
#      the background of both sides, against the same export without backgrounds.
#
#   bench/backgrounds-benchmark.sh [build-dir]    (default: build-bench/, configured as Release)
#   BENCH_RUNS=N bench/backgrounds-benchmark.sh   rounds of each export (default 3)
#
# Export seconds are the process wall time and peak memory the maximum resident
# set, as /usr/bin/time reports them; medians of the rounds, highest peak. The
# target: backgrounds add at most 25 % time and 50 MB, whatever the card count.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${1:-$root/build-bench}")"
runs="${BENCH_RUNS:-3}"
cards=1000

"$root/scripts/install-deps.sh" --bench
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake -S "$root" -B "$build" >/dev/null # puts libpdfium.so beside the executables
cmake --build "$build" --target bench-backgrounds bench-exportsetup vellumor-vdp-cli -j "$(nproc)" >/dev/null
bin="$build/bin"
[ -f "$bin/libpdfium.so" ] || { echo "no libpdfium.so in $bin: run scripts/fetch-pdfium.sh" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

artwork="$work/artwork.pdf"
"$bin/bench-backgrounds" artwork "$artwork"
echo "A4 artwork: $(stat -c %s "$artwork") bytes"
echo "Rasterise at 2400 px: $("$bin/bench-backgrounds" rasterise "$artwork" 15)"

csv="$work/cards.csv"
/usr/bin/python3 "$root/bench/make-export-data.py" "$csv" "$cards" >/dev/null
for variant in none pdf; do
  "$bin/bench-exportsetup" "$work/$variant" "$csv" duplex >/dev/null
done
sqlite3 "$work/pdf/vellumor-vdp.sqlite" \
  "UPDATE projects SET background_path='$artwork', back_background_path='$artwork' WHERE name='Export benchmark';"

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
declare -A wall peak
for variant in none pdf; do
  : >"$work/$variant.times"
  for ((round = 1; round <= runs; round++)); do
    /usr/bin/time -f "%e %M" -o "$work/time.out" \
      "$bin/vellumor-vdp-cli" --data-dir "$work/$variant" export --project "Export benchmark" \
      --output "$work/$variant.pdf" >/dev/null 2>"$work/err.out" || { cat "$work/err.out" >&2; exit 1; }
    tail -n 1 "$work/time.out" >>"$work/$variant.times"
  done
  wall[$variant]="$(cut -d' ' -f1 "$work/$variant.times" | median)"
  peak[$variant]="$(cut -d' ' -f2 "$work/$variant.times" | sort -n | tail -n 1)"
  pages="$(pdfinfo "$work/$variant.pdf" | awk '/^Pages:/ { print $2 }')"
  printf 'Export, %s backgrounds: %s s, peak %d MB, %s pages, %d MB PDF\n' "$variant" "${wall[$variant]}" \
    $((peak[$variant] / 1024)) "$pages" $(($(stat -c %s "$work/$variant.pdf") / 1048576))
done
awk -v a="${wall[none]}" -v b="${wall[pdf]}" -v p="${peak[none]}" -v q="${peak[pdf]}" \
  'BEGIN { printf "Backgrounds cost: %+.1f %% time, %+.1f MB peak memory\n", (b / a - 1) * 100, (q - p) / 1024 }'
