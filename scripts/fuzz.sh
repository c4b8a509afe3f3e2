#!/usr/bin/env bash
# Fuzzes the data-file readers with libFuzzer, under AddressSanitizer and
# UndefinedBehaviorSanitizer, for the given minutes per fuzzer (default 20;
# fractions allowed: 0.5 is 30 seconds).
#   scripts/fuzz.sh [minutes] [--parallel] [--only NAME]
# --parallel runs the fuzzers at the same time instead of one after the other;
# --only runs one of them (NAME as in tests/fuzz/fuzz_NAME.cpp, e.g. xlsxreader).
# VDP_FUZZ_BUILD names another build directory than build-fuzz/ (paths below
# are then under it).
#
# Installs clang and its runtimes when missing, builds the harnesses into
# build-fuzz/ (a clang build of its own, separate from build/), seeds each
# corpus from the reader tests' fixtures (CSV fixtures for the CSV reader,
# workbooks and XML parts for the Excel reader; a NAME.dict found among the
# fixtures is given as its dictionary), and keeps what it learns:
#   build-fuzz/corpus/<name>/      the corpus, grown run after run
#   build-fuzz/artifacts/<name>/   inputs that crashed, leaked or timed out
#   build-fuzz/logs/<name>.log     libFuzzer's output of the last run
# Prints, per fuzzer, the executions of this run and the findings kept so far.
# Exits 1 when a fuzzer found something in this run.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${VDP_FUZZ_BUILD:-$root/build-fuzz}")"
fixtures="$root/tests/import/data"
shown="${build#"$root"/}" # for messages

minutes=20
parallel=0
only=""
usage() { echo "usage: scripts/fuzz.sh [minutes] [--parallel] [--only NAME]" >&2; exit 2; }
while [ $# -gt 0 ]; do
  case "$1" in
    --parallel) parallel=1 ;;
    --only) [ $# -ge 2 ] || usage; only="$2"; shift ;;
    ''|*[!0-9.]*) usage ;;
    *) minutes="$1" ;;
  esac
  shift
done
seconds=$(awk -v m="$minutes" 'BEGIN { s = int(m * 60 + 0.5); print (s < 1 ? 1 : s) }')

"$root/scripts/install-deps.sh" --fuzz

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Configured every time (it is quick) so that a harness added since is found.
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DVDP_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null

# name: fuzz_<name> is the harness; which fixtures seed its corpus.
names=()
for source in "$root"/tests/fuzz/fuzz_*.cpp; do
  [ -e "$source" ] || continue
  name="$(basename "$source" .cpp)"
  [ -z "$only" ] || [ "${name#fuzz_}" = "$only" ] || continue
  names+=("${name#fuzz_}")
done
[ ${#names[@]} -gt 0 ] || { echo "no harness ${only:+named $only }in tests/fuzz" >&2; exit 1; }
targets=()
for name in "${names[@]}"; do targets+=("fuzz_$name"); done
cmake --build "$build" --target "${targets[@]}" -j "$(nproc)"

# The reader tests' fixtures, by suffix: text tables for the CSV reader,
# workbooks for the Excel reader (their generators and expectations are left out).
seed() { # name
  local corpus="$build/corpus/$1" file rel patterns
  mkdir -p "$corpus" "$build/artifacts/$1" "$build/logs"
  case "$1" in
    csvreader) patterns=(-iname '*.csv' -o -iname '*.tsv' -o -iname '*.txt') ;;
    xlsxreader) patterns=(-iname '*.xlsx' -o -iname '*.xlsm' -o -iname '*.xml') ;;
    *) return 0 ;;
  esac
  [ -d "$fixtures" ] || return 0
  find "$fixtures" -type f \( "${patterns[@]}" \) -print0 |
    while IFS= read -r -d '' file; do
      rel="${file#"$fixtures"/}"
      cp -n "$file" "$corpus/seed-${rel//\//_}"
    done
}

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
if command -v llvm-symbolizer >/dev/null; then
  export ASAN_SYMBOLIZER_PATH="${ASAN_SYMBOLIZER_PATH:-$(command -v llvm-symbolizer)}"
fi
export QT_QPA_PLATFORM=offscreen

run() { # name
  local name="$1" dict=()
  local found
  found="$(find "$fixtures" -type f -name "$name.dict" -print -quit 2>/dev/null || true)"
  [ -z "$found" ] || dict=(-dict="$found")
  (cd "$build" && "$build/bin/fuzz_$name" "corpus/$name" \
    -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -artifact_prefix="artifacts/$name/" -print_final_stats=1 "${dict[@]}" \
    >"logs/$name.log" 2>&1)
}

declare -A status
for name in "${names[@]}"; do
  seed "$name"
  (cd "$build/artifacts/$name" && ls -A) >"$build/logs/$name.before"
done

echo "Fuzzing ${names[*]} for $seconds s each$([ $parallel = 1 ] && echo ', in parallel')" >&2
if [ $parallel = 1 ]; then
  declare -A pids
  for name in "${names[@]}"; do
    run "$name" &
    pids[$name]=$!
  done
  for name in "${names[@]}"; do
    if wait "${pids[$name]}"; then status[$name]=0; else status[$name]=$?; fi
  done
else
  for name in "${names[@]}"; do
    if run "$name"; then status[$name]=0; else status[$name]=$?; fi
  done
fi

found=0
printf '\n%-12s %12s %8s %8s %9s %8s  %s\n' "fuzzer" "executions" "exec/s" "cov" "corpus" "new" "findings"
for name in "${names[@]}"; do
  log="$build/logs/$name.log"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  # A run ended by a crash may not reach its final statistics: take the last status line.
  [ -n "$execs" ] || execs=$(sed -n 's/^#\([0-9]*\).*/\1/p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  # Edges covered, from libFuzzer's last status line.
  cov=$(sed -n 's/^#[0-9]*.* cov: \([0-9]*\).*/\1/p' "$log" | tail -1)
  corpus=$(find "$build/corpus/$name" -type f | wc -l)
  total=$(find "$build/artifacts/$name" -type f | wc -l)
  (cd "$build/artifacts/$name" && ls -A) | comm -13 "$build/logs/$name.before" - >"$build/logs/$name.new"
  new=$(wc -l <"$build/logs/$name.new")
  if [ "${status[$name]}" -ne 0 ] || [ "$new" -gt 0 ]; then
    found=1
  fi
  printf '%-12s %12s %8s %8s %9s %8s  %s\n' "$name" "${execs:-?}" "${speed:-?}" "${cov:-?}" "$corpus" "$new" \
    "$total kept in $shown/artifacts/$name/ (libFuzzer exit ${status[$name]})"
  sed "s|^|             new: $shown/artifacts/$name/|" "$build/logs/$name.new"
done
for name in "${names[@]}"; do
  if [ "${status[$name]}" -ne 0 ]; then
    echo
    echo "== $name: libFuzzer exit ${status[$name]}; the report ($shown/logs/$name.log):"
    grep -m1 -A25 -E '^==[0-9]+==ERROR|runtime error|^==[0-9]+== ERROR|deadly signal|Test unit written' "$build/logs/$name.log" || tail -30 "$build/logs/$name.log"
  fi
done
exit $found
