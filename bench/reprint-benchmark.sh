#!/usr/bin/env bash
# Reprint benchmark: 10 cards scattered across a 10,000-card cut-stack duplex job
# (the export benchmark's 16-up project), against the export of the whole job.
#
#   bench/reprint-benchmark.sh [build-dir]    (default: build-bench/, configured as Release)
#   BENCH_RUNS=N bench/reprint-benchmark.sh   rounds of each export (default 3)
#
# Seconds are the process wall time and peak memory the maximum resident set,
# as /usr/bin/time reports them; medians of the rounds, highest peak. The
# target: the reprint takes under 5 % of the full export's time. The reprint is
# checked: every chosen card's Code 128 decodes on the front of one of its pages
# (cards 4999 and 9999 end two stacks and share the ninth sheet).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${1:-$root/build-bench}")"
runs="${BENCH_RUNS:-3}"
cards=10000
chosen="17,1234,2500,3333,4999,5001,6789,7777,8888,9999"

"$root/scripts/install-deps.sh" --bench
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target bench-exportsetup vellumor-vdp-cli -j "$(nproc)" >/dev/null
bin="$build/bin"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
/usr/bin/python3 "$root/bench/make-export-data.py" "$work/cards.csv" "$cards" >/dev/null
"$bin/bench-exportsetup" "$work/data" "$work/cards.csv" duplex >/dev/null

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
declare -A wall peak
for variant in full reprint; do
  extra=()
  [ "$variant" = reprint ] && extra=(--cards "$chosen")
  : >"$work/$variant.times"
  for ((round = 1; round <= runs; round++)); do
    /usr/bin/time -f "%e %M" -o "$work/time.out" \
      "$bin/vellumor-vdp-cli" --data-dir "$work/data" export --project "Export benchmark" --order cut-stack \
      --output "$work/$variant.pdf" "${extra[@]}" >/dev/null 2>"$work/err.out" || { cat "$work/err.out" >&2; exit 1; }
    tail -n 1 "$work/time.out" >>"$work/$variant.times"
  done
  wall[$variant]="$(cut -d' ' -f1 "$work/$variant.times" | median)"
  peak[$variant]="$(cut -d' ' -f2 "$work/$variant.times" | sort -n | tail -n 1)"
  pages="$(pdfinfo "$work/$variant.pdf" | awk '/^Pages:/ { print $2 }')"
  printf 'Export, %s: %s s, peak %d MB, %s pages\n' "$variant" "${wall[$variant]}" $((peak[$variant] / 1024)) "$pages"
done

# Each chosen card's code on the front of its page, found by decoding the whole page.
codes="$(/usr/bin/python3 - "$work/cards.csv" "$chosen" <<'PY'
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], encoding="utf-8")))
print(" ".join(rows[int(n) - 1]["Code"] for n in sys.argv[2].split(",")))
PY
)"
found=""
pages="$(pdfinfo "$work/reprint.pdf" | awk '/^Pages:/ { print $2 }')"
for ((page = 1; page <= pages; page += 2)); do
  pdftoppm -r 300 -gray -f "$page" -l "$page" -singlefile "$work/reprint.pdf" "$work/page"
  found+=" $(zbarimg -q "$work/page.pgm" | sed -n 's/^CODE-128://p' | tr '\n' ' ')"
done
missing=0
for code in $codes; do
  grep -qw -- "$code" <<<"$found" || { echo "card with code $code does not decode in the reprint" >&2; missing=1; }
done
[ "$missing" = 0 ] && echo "Reprint checked: all 10 chosen cards decode on their sheets"

awk -v a="${wall[full]}" -v b="${wall[reprint]}" -v p="${peak[full]}" -v q="${peak[reprint]}" \
  'BEGIN { r = b / a * 100; printf "Reprint: %.1f %% of the full export'"'"'s time (target under 5 %%: %s), peak %.0f MB against %.0f MB\n", r, (r < 5 ? "met" : "MISSED"), q / 1024, p / 1024 }'
exit "$missing"
