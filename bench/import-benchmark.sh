#!/usr/bin/env bash
# Import benchmark: our CSV import, Excel reader and record assembly on a
# 250,000-row file, beside the tools a user would otherwise reach for, on the
# same files in the same run. Prints seconds and peak memory per tool, our
# ratio to each peer and whether each target is met. A missed target does not
# fail the script; a tool that fails or returns the wrong number of rows does.
#
#   bench/import-benchmark.sh [build-dir]     (default: build/, RelWithDebInfo)
#   BENCH_RUNS=N bench/import-benchmark.sh    rounds of every tool (default 3): median seconds, highest peak
#
# The input files are generated once, from a fixed seed, into <build-dir>/bench-data/.
# Peak memory is the maximum resident set size as /usr/bin/time reports it.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${1:-$root/build}")"
runs="${BENCH_RUNS:-3}"
rows=250000
data="$build/bench-data"
node_dir="$root/.cache/bench-node"
python=/usr/bin/python3

# --- peers and build -------------------------------------------------------
"$root/scripts/install-deps.sh"
# node may come from elsewhere than Debian (with npm inside): ask for the commands.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "Installing: nodejs npm" >&2
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends nodejs npm
fi
want_xlsx="$(sed -n 's/.*"xlsx": *"\([^"]*\)".*/\1/p' "$root/bench/package.json")"
have_xlsx="$(node -p 'require(process.argv[1]).version' "$node_dir/node_modules/xlsx/package.json" 2>/dev/null || true)"
if [ "$have_xlsx" != "$want_xlsx" ]; then
  echo "Installing SheetJS $want_xlsx into $node_dir" >&2
  mkdir -p "$node_dir"
  cp "$root/bench/package.json" "$root/bench/package-lock.json" "$node_dir/"
  (cd "$node_dir" && npm install --no-audit --no-fund --loglevel=error >&2)
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
build_log="$(mktemp)"
if ! cmake --build "$build" --target bench-import -j "$(nproc)" >"$build_log" 2>&1; then
  cat "$build_log" >&2
  exit 1
fi
rm -f "$build_log"
bench="$build/bin/bench-import"

# --- input files -----------------------------------------------------------
csv="$data/import-$rows.csv"
xlsx="$data/import-$rows.xlsx"
generator="$root/bench/make-import-data.py"
if [ ! -f "$csv" ] || [ ! -f "$xlsx" ] || [ "$generator" -nt "$csv" ] || [ "$generator" -nt "$xlsx" ]; then
  echo "Generating $rows-row input files in $data" >&2
  "$python" "$generator" "$data" "$rows"
  # openpyxl must accept the workbook as a spreadsheet program's; the full
  # read below checks the row count.
  "$python" - "$xlsx" <<'EOF'
import sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1], read_only=True)
first, second = list(wb.worksheets[0].iter_rows(min_row=1, max_row=2, values_only=True))
assert first[0] == "Card No" and len(first) == 10 and second[0] == 100001, (first, second)
wb.close()
EOF
fi

# --- measuring -------------------------------------------------------------
work="$(mktemp -d "$data/run.XXXXXX")"   # on the same disk as a data directory would be
trap 'rm -rf "$work"' EXIT
db="$work/ours.sqlite"

median() { sort -n | awk '{ a[NR] = $1 } END { if (NR) print a[int((NR + 1) / 2)] }'; }

# measure NAME CMD...: one run of CMD; its wall milliseconds, peak resident
# memory and own seconds are added to NAME's lists, and the rows, columns and
# checksum of its output line are kept.
declare -A walls peaks ops nrows ncols check
measure() {
  local name="$1" t0 t1 line
  shift
  t0=$(date +%s%N)
  if ! /usr/bin/time -f '%M' -o "$work/mem" "$@" >"$work/out" 2>"$work/err"; then
    echo "$name failed:" >&2
    cat "$work/err" "$work/out" >&2
    exit 1
  fi
  t1=$(date +%s%N)
  line="$(tail -1 "$work/out")"
  walls[$name]+=" $(( (t1 - t0) / 1000000 ))"
  peaks[$name]+=" $(tail -1 "$work/mem")"
  ops[$name]+=" $(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$line")"
  nrows[$name]=$(sed -n 's/.*rows=\([0-9]*\).*/\1/p' <<<"$line")
  ncols[$name]=$(sed -n 's/.*columns=\([0-9]*\).*/\1/p' <<<"$line")
  check[$name]=$(sed -n 's/.*\(checksum\|cells\)=\([0-9]*\).*/\2/p' <<<"$line")
}

# The shell appends to an existing table (and takes the header for data), so
# every run starts from a fresh database.
cat >"$work/sqlite-import.sh" <<EOF
rm -f '$work/shell.sqlite'
exec sqlite3 '$work/shell.sqlite' ".import --csv '$csv' cards"
EOF

# Rounds of every tool rather than every tool's runs in a row, so that a
# change in the machine's load falls on ours and the peers alike.
echo "Running $runs round(s) of every tool on $(nproc) cores (load average $(cut -d' ' -f1-3 /proc/loadavg))..." >&2
for ((round = 1; round <= runs; round++)); do
  measure csv-import "$bench" csv-import "$csv" "$db"
  measure records "$bench" records "$db"
  measure peer-csv "$python" "$root/bench/peer_csv_sqlite.py" "$csv" "$work/peer.sqlite"
  measure peer-sqlite3 bash "$work/sqlite-import.sh"
  # The CSV reader alone, on as many rows as the workbook has: its cells must
  # be the workbook's cells, which checks the Excel reader's output as a whole.
  measure csv-read "$bench" csv-read "$csv" $((rows - 1))
  measure xlsx-read "$bench" xlsx-read "$xlsx"
  measure peer-openpyxl "$python" "$root/bench/peer_openpyxl_read.py" "$xlsx"
  measure peer-sheetjs env NODE_PATH="$node_dir/node_modules" node --max-old-space-size=8192 \
    "$root/bench/peer_sheetjs_read.js" "$xlsx"
done
nrows[peer-sqlite3]=$(sqlite3 "$work/shell.sqlite" 'SELECT COUNT(*) FROM cards')
ncols[peer-sqlite3]=$(sqlite3 "$work/shell.sqlite" 'SELECT COUNT(*) FROM pragma_table_info("cards")')

# Median seconds (wall and own), highest peak in MB.
declare -A wall peak op
for name in "${!walls[@]}"; do
  wall[$name]=$(tr ' ' '\n' <<<"${walls[$name]}" | grep . | median | awk '{ printf "%.3f", $1 / 1000 }')
  peak[$name]=$(tr ' ' '\n' <<<"${peaks[$name]}" | grep . | sort -n | tail -1 | awk '{ printf "%.1f", $1 / 1024 }')
  op[$name]=$(tr ' ' '\n' <<<"${ops[$name]}" | grep . | median || true)
done

# --- sanity: every tool saw the same data ----------------------------------
problems=()
expect() { # name rows columns
  [ "${nrows[$1]}" = "$2" ] && [ "${ncols[$1]}" = "$3" ] ||
    problems+=("$1 produced ${nrows[$1]:-?} rows x ${ncols[$1]:-?} columns, expected $2 x $3")
}
expect csv-import $rows 10
expect peer-csv $rows 10
expect peer-sqlite3 $rows 10
expect records $rows 10
expect csv-read $((rows - 1)) 10
expect xlsx-read $((rows - 1)) 10
expect peer-openpyxl $((rows - 1)) 10
expect peer-sheetjs $((rows - 1)) 10
# Both writers store the same compact JSON, so the payload lengths add up alike.
[ "${check[csv-import]}" = "${check[peer-csv]}" ] ||
  problems+=("stored payloads differ in length: ours ${check[csv-import]}, Python ${check[peer-csv]}")
[ "${check[csv-read]}" = "${check[xlsx-read]}" ] ||
  problems+=("the Excel reader's cells differ from the CSV reader's on the same data")
[ "${check[peer-openpyxl]}" = "${check[peer-sheetjs]}" ] ||
  problems+=("openpyxl read ${check[peer-openpyxl]} non-empty cells, SheetJS ${check[peer-sheetjs]}")

# --- report ----------------------------------------------------------------
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "n/a" }'; }
verdict() { # value operator limit
  awk -v v="$1" -v op="$2" -v limit="$3" \
    'BEGIN { ok = (op == "<" ? v < limit : v <= limit); print (ok ? "met" : "MISSED") }'
}

echo
printf 'Import benchmark: %s data rows x 10 columns; CSV %s MB, XLSX %s MB (%s data rows); median of %s round(s)\n' \
  "$rows" "$(du -m "$csv" | cut -f1)" "$(du -m "$xlsx" | cut -f1)" "$((rows - 1))" "$runs"
printf '%-44s %9s %9s %9s  %s\n' "tool" "seconds" "op s" "peak MB" "ours/peer"
row() { # label name [ours-name]
  local r=""
  [ -n "${3:-}" ] && r="$(ratio "${wall[$3]}" "${wall[$2]}")"
  printf '%-44s %9s %9s %9s  %s\n' "$1" "${wall[$2]}" "${op[$2]:--}" "${peak[$2]}" "$r"
}
row "ours: csv-import (read + store)" csv-import
row "peer: Python csv + sqlite3, one transaction" peer-csv csv-import
row "peer: sqlite3 shell .import --csv" peer-sqlite3 csv-import
row "ours: csv-read (reader only, same rows)" csv-read
row "ours: xlsx-read (all rows, every cell)" xlsx-read
row "peer: openpyxl read-only, every cell" peer-openpyxl xlsx-read
row "peer: SheetJS readFile + sheet_to_json" peer-sheetjs xlsx-read
row "ours: records (loadProjectRecords)" records
echo "seconds: process wall time; op s: the tool's own timing of the operation"

echo
echo "Targets:"
target() { # text value operator limit
  printf '  %-52s %9s  %-7s %s\n' "$1" "$2" "$3 $4" "$(verdict "$2" "$3" "$4")"
}
target "csv-import / Python csv + sqlite3 (seconds)" "$(ratio "${wall[csv-import]}" "${wall[peer-csv]}")" "<=" 0.4
target "xlsx-read / openpyxl read-only (seconds)" "$(ratio "${wall[xlsx-read]}" "${wall[peer-openpyxl]}")" "<=" 0.15
target "xlsx-read / SheetJS (seconds)" "$(ratio "${wall[xlsx-read]}" "${wall[peer-sheetjs]}")" "<=" 0.2
target "loadProjectRecords, 250,000 records (op s)" "${op[records]}" "<" 1.5
target "csv-import peak memory (MB)" "${peak[csv-import]}" "<" 600
printf '  %-52s %9s  (reference, no target)\n' "csv-import / sqlite3 shell .import" \
  "$(ratio "${wall[csv-import]}" "${wall[peer-sqlite3]}")"

if [ ${#problems[@]} -gt 0 ]; then
  echo
  printf 'INVALID: %s\n' "${problems[@]}"
  exit 1
fi
