#!/usr/bin/env bash
# Input-limits benchmark: `vellumor-vdp-cli import` on endless and enormous
# inputs, each of which must end with a message, in bounded time and memory.
# Prints one row per input: exit code, the head of the message, wall seconds
# and peak resident memory. Exits 1 when an input ran into the time limit,
# ended without a message or with another exit code than 1, or went past its
# memory ceiling.
#
#   bench/input-limits.sh [build-dir]     (default: build/, RelWithDebInfo)
#   LIMITS_TIMEOUT=S bench/input-limits.sh    seconds before a run is killed (default 60)
#
# The inputs go to a temporary folder beside the build (sparse where they
# are zeros, some 500 MB of real data otherwise) and are removed afterwards.
# Peak memory is the maximum resident set size as /usr/bin/time reports it.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${1:-$root/build}")"
timeout_s="${LIMITS_TIMEOUT:-60}"
python=/usr/bin/python3

"$root/scripts/install-deps.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
build_log="$(mktemp)"
if ! cmake --build "$build" --target vellumor-vdp-cli starter -j "$(nproc)" >"$build_log" 2>&1; then
  cat "$build_log" >&2
  exit 1
fi
rm -f "$build_log"
cli="$build/bin/vellumor-vdp-cli"

work="$(mktemp -d "$build/input-limits.XXXXXX")"
trap 'rm -rf "$work"' EXIT
data="$work/data"
files="$work/files"
mkdir -p "$files"

# --- inputs ----------------------------------------------------------------
echo "Generating the inputs in $files" >&2
MiB=$((1024 * 1024))
truncate -s 2G "$files/zeros-2GiB.csv"                  # read up to the 64 MiB field bound
truncate -s $((2 * 1024 * MiB + 1)) "$files/zeros-over-2GiB.csv" # refused unread
head -c $((100 * MiB)) /dev/zero | tr '\0' x >"$files/field-100MiB.csv"
# One row of 65 MiB: short cells meet the column bound, wide ones the row bound.
"$python" - "$files" <<'EOF'
import sys
folder = sys.argv[1]
mib = 1024 * 1024
with open(f"{folder}/row-short-cells-65MiB.csv", "w") as f:
    f.write(",".join(["abc"] * (65 * mib // 4)) + "\n")
with open(f"{folder}/row-wide-cells-65MiB.csv", "w") as f:
    f.write("h\n" + ",".join(["x" * 4999] * (65 * mib // 5000 + 1)) + "\n")
# 16,384 columns of a short cell per row, 256 MiB in all: meets the cell bound.
line = ",".join(["a"] * 16384) + "\n"
with open(f"{folder}/cells-256MiB.csv", "w") as f:
    for _ in range(256 * mib // len(line)):
        f.write(line)
# A workbook of 6 KB whose 250 rows of 60 cells each show one 1 MiB shared string.
import zipfile
main = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
row = "<row>" + '<c t="s"><v>0</v></c>' * 60 + "</row>"
with zipfile.ZipFile(f"{folder}/shared-string-uses.xlsx", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("xl/workbook.xml", f'<workbook {main} xmlns:r="{rel}"><sheets>'
               '<sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>')
    z.writestr("xl/_rels/workbook.xml.rels",
               '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
               f'<Relationship Id="rId1" Type="{rel}/worksheet" Target="worksheets/sheet1.xml"/>'
               "</Relationships>")
    z.writestr("xl/sharedStrings.xml", f"<sst {main}><si><t>" + "x" * mib + "</t></si></sst>")
    z.writestr("xl/worksheets/sheet1.xml", f"<worksheet {main}><sheetData>"
               '<row><c t="inlineStr"><is><t>Text</t></is></c></row>' + row * 250 + "</sheetData></worksheet>")
EOF
mkfifo "$files/pipe.csv"

# The data directory is seeded once; every import below fails and leaves it as it was.
"$cli" --data-dir "$data" projects >/dev/null
rows_before="$(sqlite3 "$data/vellumor-vdp.sqlite" 'SELECT COUNT(*) FROM data_sources; SELECT COUNT(*) FROM data_source_records')"

# --- measuring -------------------------------------------------------------
# case_run NAME FILE CEILING_MB: one import of FILE under `timeout`.
problems=()
results=()
case_run() {
  local name="$1" file="$2" ceiling="$3" t0 t1 code seconds peak message
  t0=$(date +%s%N)
  set +e
  /usr/bin/time -f '%M' -o "$work/mem" timeout "$timeout_s" "$cli" --data-dir "$data" import "$file" \
    >"$work/out" 2>"$work/err"
  code=$?
  set -e
  t1=$(date +%s%N)
  seconds=$(awk -v ns=$((t1 - t0)) 'BEGIN { printf "%.2f", ns / 1e9 }')
  peak=$(awk '/^[0-9]+$/ { printf "%.0f", $1 / 1024 }' "$work/mem")
  message="$(head -1 "$work/err" | sed 's/^Variable data import failed: //; s/^Excel workbook could not be read: //')"
  message="${message//$files\//}"
  results+=("$(printf '%-28s %4s  %-78.78s %8s %8s' "$name" "$code" "${message:-<none>}" "$seconds" "${peak:-?}")")
  if [ "$code" = 124 ]; then
    problems+=("$name: still running after ${timeout_s} s")
  elif [ "$code" != 1 ] || [ -z "$message" ]; then
    problems+=("$name: exit code $code, message '${message}'")
  elif [ "${peak:-0}" -gt "$ceiling" ]; then
    problems+=("$name: peak ${peak} MB over its ceiling of ${ceiling} MB")
  fi
}

echo "Running $(nproc) cores (load average $(cut -d' ' -f1-3 /proc/loadavg))..." >&2
# Ceilings: a few times the bound that ends the read (a 64 MiB field is 128 MiB in memory).
case_run "2 GiB of zeros (sparse)" "$files/zeros-2GiB.csv" 400
case_run "2 GiB + 1 of zeros (sparse)" "$files/zeros-over-2GiB.csv" 100
case_run "one 100 MiB field" "$files/field-100MiB.csv" 400
case_run "65 MiB row, short cells" "$files/row-short-cells-65MiB.csv" 100
case_run "65 MiB row, 5 KB cells" "$files/row-wide-cells-65MiB.csv" 400
case_run "256 MiB of short cells" "$files/cells-256MiB.csv" 1500
case_run "1 MiB shared string x 15,000" "$files/shared-string-uses.xlsx" 200
case_run "/dev/zero" /dev/zero 100
case_run "FIFO" "$files/pipe.csv" 100

rows_after="$(sqlite3 "$data/vellumor-vdp.sqlite" 'SELECT COUNT(*) FROM data_sources; SELECT COUNT(*) FROM data_source_records')"
[ "$rows_before" = "$rows_after" ] || problems+=("the database changed: $rows_before rows before, $rows_after after")

echo
printf 'Input limits: vellumor-vdp-cli import, killed after %s s\n' "$timeout_s"
printf '%-28s %4s  %-78s %8s %8s\n' "input" "exit" "message" "seconds" "peak MB"
printf '%s\n' "${results[@]}"

if [ ${#problems[@]} -gt 0 ]; then
  echo
  printf 'FAILED: %s\n' "${problems[@]}"
  exit 1
fi
echo
echo "Every input ended with a message, within its time and memory."
