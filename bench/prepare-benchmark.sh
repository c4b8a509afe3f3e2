#!/usr/bin/env bash
# Card preparation benchmark: prepareCardRecords on (a) 250,000 data rows of 10
# columns with two sequence fields (the second without fours) and a
# 100,000-card scratch field, (b) a 1,000,000-card scratch field with a
# sequence field, (c) the prize editor's limit of 10,000,000 cards, which must
# be refused with a message. Prints the preparation's own seconds, the process
# wall seconds and peak memory (/usr/bin/time '%e %M') and the resident bytes
# each prepared card keeps. A missed target does not fail the script; a run
# that fails, or a case (c) that is not refused, does.
#
#   bench/prepare-benchmark.sh [build-dir]     (default: build/, RelWithDebInfo)
#   BENCH_RUNS=N bench/prepare-benchmark.sh    rounds of every case (default 3): median seconds, highest peak
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${1:-$root/build}")"
runs="${BENCH_RUNS:-3}"

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
build_log="$(mktemp)"
if ! cmake --build "$build" --target bench-prepare -j "$(nproc)" >"$build_log" 2>&1; then
  cat "$build_log" >&2
  exit 1
fi
rm -f "$build_log"
bench="$build/bin/bench-prepare"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

median() { sort -n | awk '{ a[NR] = $1 } END { if (NR) print a[int((NR + 1) / 2)] }'; }

# measure NAME ARGS...: one run of bench-prepare ARGS; its seconds, wall
# seconds and peak KB are added to NAME's lists, its last line kept.
declare -A ops walls peaks lines
measure() {
  local name="$1"
  shift
  if ! /usr/bin/time -f '%e %M' -o "$work/time" "$bench" "$@" >"$work/out" 2>"$work/err"; then
    echo "$name failed:" >&2
    cat "$work/err" "$work/out" >&2
    exit 1
  fi
  lines[$name]="$(tail -1 "$work/out")"
  ops[$name]+=" $(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"${lines[$name]}")"
  walls[$name]+=" $(cut -d' ' -f1 "$work/time" | tail -1)"
  peaks[$name]+=" $(tail -1 "$work/time" | cut -d' ' -f2)"
}

echo "Running $runs round(s) on $(nproc) cores (load average $(cut -d' ' -f1-3 /proc/loadavg))..." >&2
for ((round = 1; round <= runs; round++)); do
  measure data data 250000 10 100000
  measure scratch scratch 1000000
  measure limit scratch 10000000
done

problems=()
[[ "${lines[data]}" == *"cards=250000 "* ]] || problems+=("case (a) gave: ${lines[data]}")
[[ "${lines[scratch]}" == *"cards=1000000 "* ]] || problems+=("case (b) gave: ${lines[scratch]}")
[[ "${lines[limit]}" == *" refused "* ]] || problems+=("case (c) was not refused: ${lines[limit]}")

declare -A op wall peak
for name in data scratch limit; do
  op[$name]=$(tr ' ' '\n' <<<"${ops[$name]}" | grep . | median)
  wall[$name]=$(tr ' ' '\n' <<<"${walls[$name]}" | grep . | median)
  peak[$name]=$(tr ' ' '\n' <<<"${peaks[$name]}" | grep . | sort -n | tail -1 | awk '{ printf "%.1f", $1 / 1024 }')
done
per_card() { sed -n 's/.*bytes_per_card=\([0-9]*\).*/\1/p' <<<"${lines[$1]}"; }
verdict() { awk -v v="$1" -v limit="$2" 'BEGIN { print (v < limit ? "met" : "MISSED") }'; }

echo
printf 'Card preparation benchmark; median of %s round(s)\n' "$runs"
printf '%-58s %8s %8s %9s %10s\n' "case" "prep s" "wall s" "peak MB" "bytes/card"
printf '%-58s %8s %8s %9s %10s\n' "(a) 250,000 rows x 10 columns, 2 sequences, 100,000 prizes" \
  "${op[data]}" "${wall[data]}" "${peak[data]}" "$(per_card data)"
printf '%-58s %8s %8s %9s %10s\n' "(b) 1,000,000 prizes and a sequence, no data" \
  "${op[scratch]}" "${wall[scratch]}" "${peak[scratch]}" "$(per_card scratch)"
printf '%-58s %8s %8s %9s %10s\n' "(c) 10,000,000 prizes and a sequence, no data" \
  "${op[limit]}" "${wall[limit]}" "${peak[limit]}" "-"
echo "prep s: prepareCardRecords alone; wall s: the whole process, building the data rows included;"
echo "bytes/card: resident memory kept per prepared card; (a) includes the copy of each data row"
echo "(c): ${lines[limit]#*message=}"

echo
echo "Targets:"
printf '  %-52s %9s  %-7s %s\n' "(a) prepareCardRecords (seconds)" "${op[data]}" "< 1" "$(verdict "${op[data]}" 1)"
printf '  %-52s %9s  %-7s %s\n' "(b) prepareCardRecords (seconds)" "${op[scratch]}" "< 5" "$(verdict "${op[scratch]}" 5)"
printf '  %-52s %9s  %-7s %s\n' "(b) peak memory (MB)" "${peak[scratch]}" "< 2048" "$(verdict "${peak[scratch]}" 2048)"
printf '  %-52s %9s  %-7s %s\n' "(c) peak memory (MB), refused" "${peak[limit]}" "< 2048" "$(verdict "${peak[limit]}" 2048)"

if [ ${#problems[@]} -gt 0 ]; then
  echo
  printf 'INVALID: %s\n' "${problems[@]}"
  exit 1
fi
