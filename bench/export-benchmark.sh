#!/usr/bin/env bash
# Export benchmark: the command-line tool's PDF export of a 16-up card job
# (90 x 54 mm cards, 4 x 4 on a 420 x 297 mm sheet; front: sequence number,
# name, city, Code 128 and QR code of a 12-digit code; back: a scratch prize
# and the sequence number again), beside glabels-3-batch printing the same
# front from the same CSV through bench/glabels/cards-16up.glabels.
#
#   bench/export-benchmark.sh [build-dir]     (default: build-bench/, configured as Release)
#   BENCH_RUNS=N bench/export-benchmark.sh    rounds of every case (default 3): median seconds, highest peak
#   BENCH_LARGE=1 bench/export-benchmark.sh   also the long runs below (about an hour a round on 2 cores)
#
# Cases: ours duplex at 10,000 and 1,000 cards (each on every core and with
# --jobs 1), ours single-sided at 1,000 cards, gLabels (single-sided: it has no
# mirrored back) at 1,000 cards. With BENCH_LARGE=1 also ours duplex at 100,000
# (on every core and with --jobs 1) and at 250,000 cards on every core, whose
# memory against the 1,000-card runs shows whether an export's memory stays
# flat however long the job. Every
# case gets a fresh data directory made by bench-exportsetup. gLabels has no
# sequence numbers: its template prints the CSV's "Seq" column, which holds the
# very text our sequence field computes ("No.000001", ...).
#
# Seconds are the process wall time, CPU seconds its user + system time and
# peak memory the maximum resident set, all as /usr/bin/time reports them;
# setting the project up is not timed. The targets are on wall time; on a
# machine shared with other work, the CPU seconds show what the load hid. After
# the first round each PDF is checked: its page count, and on the first and last
# sheet (and the first back) every card cell decoded with zbarimg at 300 dpi,
# which must give that card's Code 128 and QR code and nothing in an empty slot.
# A missed target does not fail the script; a tool that fails or writes a wrong
# PDF does.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${1:-$root/build-bench}")"
runs="${BENCH_RUNS:-3}"
python=/usr/bin/python3
rows=10000
small=1000
large="${BENCH_LARGE:-0}"
per_sheet=16

# --- tools and build -------------------------------------------------------
"$root/scripts/install-deps.sh" --bench

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
build_type="$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")"
[ "$build_type" = Release ] || echo "warning: $build is a ${build_type:-default} build, not Release" >&2
build_log="$(mktemp)"
if ! cmake --build "$build" --target bench-exportsetup vellumor-vdp-cli -j "$(nproc)" >"$build_log" 2>&1; then
  cat "$build_log" >&2
  exit 1
fi
rm -f "$build_log"
setup="$build/bin/bench-exportsetup"
cli="$build/bin/vellumor-vdp-cli"

# --- input files -----------------------------------------------------------
data="$build/bench-data"
csv="$data/export-$rows.csv"
csv_small="$data/export-$small.csv"
generator="$root/bench/make-export-data.py"
if [ ! -f "$csv" ] || [ "$generator" -nt "$csv" ]; then
  echo "Generating $rows card rows in $csv" >&2
  "$python" "$generator" "$csv" "$rows"
fi
# The first rows of the same file: the 1,000 cards are the first 1,000 of the 10,000.
head -n $((small + 1)) "$csv" >"$csv_small.tmp"
mv "$csv_small.tmp" "$csv_small"
# The CSV of each card count; the long runs' files come from the same generator.
declare -A csv_of=([$rows]="$csv" [$small]="$csv_small")
if [ "$large" = 1 ]; then
  for count in 100000 250000; do
    csv_of[$count]="$data/export-$count.csv"
    if [ ! -f "${csv_of[$count]}" ] || [ "$generator" -nt "${csv_of[$count]}" ]; then
      echo "Generating $count card rows in ${csv_of[$count]}" >&2
      "$python" "$generator" "${csv_of[$count]}" "$count"
    fi
  done
fi

work="$(mktemp -d "$data/export-run.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# The gLabels document with its merge source pointing at the small CSV.
glabels_doc="$work/cards-16up.glabels"
sed "s|src=\"cards.csv\"|src=\"$csv_small\"|" "$root/bench/glabels/cards-16up.glabels" >"$glabels_doc"
grep -q "src=\"$csv_small\"" "$glabels_doc"

# Each case is named tool-cards-sides; ours each get a data directory of their own.
declare -A tool cards sides
# ours1: the same tool on one thread (--jobs 1); ours uses its default, every core.
cases=(ours-10000-duplex ours1-10000-duplex ours-1000-duplex ours1-1000-duplex ours-1000-single glabels-1000-single)
[ "$large" = 1 ] && cases+=(ours-100000-duplex ours1-100000-duplex ours-250000-duplex)
for name in "${cases[@]}"; do
  IFS=- read -r tool[$name] cards[$name] sides[$name] <<<"$name"
done
for name in "${cases[@]}"; do
  [ "${tool[$name]}" = ours ] || continue
  input="${csv_of[${cards[$name]}]}"
  if ! "$setup" "$work/$name" "$input" "${sides[$name]}" >"$work/setup.out" 2>&1; then
    cat "$work/setup.out" >&2
    exit 1
  fi
  grep -q " cards=${cards[$name]} " "$work/setup.out" || {
    echo "$name: set-up gave $(cat "$work/setup.out")" >&2
    exit 1
  }
done

# case_command NAME OUTPUT: the command of one run, in the array `command`.
case_command() {
  case "${tool[$1]}" in
    ours) command=(env QT_QPA_PLATFORM=offscreen "$cli" --data-dir "$work/$1" export
                   --project "Export benchmark" --output "$2") ;;
    ours1) command=(env QT_QPA_PLATFORM=offscreen "$cli" --data-dir "$work/ours-${cards[$1]}-${sides[$1]}" export
                    --project "Export benchmark" --output "$2" --jobs 1) ;;
    # It needs no display: run it without one, as ours runs.
    glabels) command=(env -u DISPLAY -u WAYLAND_DISPLAY glabels-3-batch --output="$2" "$glabels_doc") ;;
  esac
}

# --- checking a PDF --------------------------------------------------------
# check_pdf PDF CSV CARDS DUPLEX(0|1): page count, then every cell of the first
# front, the first back and the last front decoded on its own.
check_pdf() {
  "$python" - "$@" <<'EOF'
import csv, os, subprocess, sys, tempfile

pdf, csv_path, cards, duplex = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4] == "1"
ROWS, COLS, CARD_W, CARD_H, PAPER_W, PAPER_H, DPI = 4, 4, 90.0, 54.0, 420.0, 297.0, 300
per_sheet = ROWS * COLS
sheets = -(-cards // per_sheet)
pages_expected = sheets * (2 if duplex else 1)
with open(csv_path, encoding="utf-8") as f:
    codes = [row["Code"] for row in csv.DictReader(f)][:cards]

problems = []
info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True, check=True).stdout
pages = int(next(line.split()[1] for line in info.splitlines() if line.startswith("Pages:")))
if pages != pages_expected:
    problems.append(f"{pages} pages, expected {pages_expected}")

def px(mm):
    return int(round(mm * DPI / 25.4))

def read_pgm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:  # magic, width, height, maxval; no comments from pdftoppm
        while data[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    assert fields[0] == b"P5", fields[0]
    return int(fields[1]), int(fields[2]), data[pos + 1:]

def check_page(page, sheet, back, tmp):
    base = os.path.join(tmp, f"p{page}")
    subprocess.run(["pdftoppm", "-r", str(DPI), "-gray", "-f", str(page), "-l", str(page), "-singlefile",
                    pdf, base], check=True)
    width, height, pixels = read_pgm(base + ".pgm")
    x0 = (PAPER_W - COLS * CARD_W) / 2
    y0 = (PAPER_H - ROWS * CARD_H) / 2
    for r in range(ROWS):
        for c in range(COLS):
            # A back is mirrored by column so that each back lies behind its front.
            slot = r * COLS + (COLS - 1 - c if back else c)
            record = sheet * per_sheet + slot
            left, top = px(x0 + c * CARD_W), px(y0 + r * CARD_H)
            right, bottom = px(x0 + (c + 1) * CARD_W), px(y0 + (r + 1) * CARD_H)
            cell = b"".join(pixels[y * width + left:y * width + right] for y in range(top, bottom))
            cell_path = f"{base}-{r}{c}.pgm"
            with open(cell_path, "wb") as f:
                f.write(b"P5\n%d %d\n255\n" % (right - left, bottom - top) + cell)
            found = subprocess.run(["zbarimg", "-q", cell_path], capture_output=True, text=True).stdout.split()
            where = f"page {page} row {r + 1} column {c + 1}"

            def darkest(x1, y1, x2, y2):  # millimetres from the card's top left corner
                return min(min(cell[y * (right - left) + px(x1):y * (right - left) + px(x2)])
                           for y in range(px(y1), px(y2)))

            if record >= cards:
                # Empty slots are left white, inside the borders of their neighbours.
                if found or darkest(2, 2, CARD_W - 2, CARD_H - 2) < 128:
                    problems.append(f"{where}: an empty slot is not blank ({found})")
            elif back:
                # Backs carry no codes, and the scratch field's box must carry ink.
                if found:
                    problems.append(f"{where}: unexpected codes {found} on a back")
                if darkest(12, 19, 78, 29) >= 128:
                    problems.append(f"{where}: no prize printed on the back of card {record + 1}")
            else:
                want = sorted([f"CODE-128:{codes[record]}", f"QR-Code:{codes[record]}"])
                if sorted(found) != want:
                    problems.append(f"{where}: card {record + 1} decoded as {found}, expected {want}")

with tempfile.TemporaryDirectory() as tmp:
    page_of = (lambda sheet, back: 2 * sheet + (2 if back else 1)) if duplex else (lambda sheet, back: sheet + 1)
    checks = {(0, False), (sheets - 1, False)}
    if duplex:
        checks.add((0, True))
    for sheet, back in sorted(checks):
        if page_of(sheet, back) <= pages:
            check_page(page_of(sheet, back), sheet, back, tmp)

for problem in problems[:10]:
    print(problem)
sys.exit(1 if problems else 0)
EOF
}

# --- measuring -------------------------------------------------------------
median() { sort -n | awk '{ a[NR] = $1 } END { if (NR) print a[int((NR + 1) / 2)] }'; }

declare -A walls cpus peaks pdf_mb pages problems
measure() { # name round
  local name="$1" round="$2" out="$work/$1.pdf"
  rm -f "$out"
  case_command "$name" "$out"
  if ! /usr/bin/time -f '%e %U %S %M' -o "$work/time" "${command[@]}" >"$work/out" 2>"$work/err"; then
    echo "$name failed:" >&2
    cat "$work/err" "$work/out" >&2
    exit 1
  fi
  read -r wall_s user_s system_s peak_kb < <(tail -1 "$work/time")
  walls[$name]+=" $wall_s"
  cpus[$name]+=" $(awk -v u="$user_s" -v s="$system_s" 'BEGIN { printf "%.2f", u + s }')"
  peaks[$name]+=" $peak_kb"
  if [ "$round" = 1 ]; then
    pages[$name]=$(pdfinfo "$out" | sed -n 's/^Pages: *//p')
    pdf_mb[$name]=$(stat -c %s "$out" | awk '{ printf "%.1f", $1 / 1048576 }')
    local input="${csv_of[${cards[$name]}]}" duplex=0
    [ "${sides[$name]}" = duplex ] && duplex=1
    if ! problems[$name]="$(check_pdf "$out" "$input" "${cards[$name]}" "$duplex")"; then
      problems[$name]="${problems[$name]:-check failed}"
    fi
  fi
  rm -f "$out"
}

# Rounds of every case rather than every case's runs in a row, so that a
# change in the machine's load falls on all of them alike.
echo "Running $runs round(s) of every case on $(nproc) cores (load average $(cut -d' ' -f1-3 /proc/loadavg))..." >&2
for ((round = 1; round <= runs; round++)); do
  for name in "${cases[@]}"; do
    measure "$name" "$round"
  done
done

declare -A wall cpu peak rate
for name in "${cases[@]}"; do
  wall[$name]=$(tr ' ' '\n' <<<"${walls[$name]}" | grep . | median)
  cpu[$name]=$(tr ' ' '\n' <<<"${cpus[$name]}" | grep . | median)
  peak[$name]=$(tr ' ' '\n' <<<"${peaks[$name]}" | grep . | sort -n | tail -1 | awk '{ printf "%.1f", $1 / 1024 }')
  rate[$name]=$(awk -v n="${cards[$name]}" -v s="${wall[$name]}" 'BEGIN { if (s > 0) printf "%.0f", n / s; else print "n/a" }')
done

# --- report ----------------------------------------------------------------
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
verdict() { # value operator limit
  awk -v v="$1" -v op="$2" -v limit="$3" \
    'BEGIN { ok = (op == ">=" ? v >= limit : v <= limit); print (ok ? "met" : "MISSED") }'
}

echo
printf 'Export benchmark: %s cards per sheet, 420 x 297 mm; %s build; median of %s round(s)\n' \
  "$per_sheet" "$build_type" "$runs"
printf '%-23s %6s %5s %8s %8s %8s %8s %8s %6s\n' "tool" "cards" "sides" "wall s" "cards/s" "CPU s" \
  "peak MB" "PDF MB" "pages"
for name in "${cases[@]}"; do
  label="ours (vellumor-vdp-cli)"
  [ "${tool[$name]}" = ours1 ] && label="ours, --jobs 1"
  [ "${tool[$name]}" = glabels ] && label="glabels-3-batch"
  printf '%-23s %6s %5s %8s %8s %8s %8s %8s %6s\n' "$label" "${cards[$name]}" \
    "$([ "${sides[$name]}" = duplex ] && echo 2 || echo 1)" "${wall[$name]}" "${rate[$name]}" "${cpu[$name]}" \
    "${peak[$name]}" "${pdf_mb[$name]}" "${pages[$name]}"
done
echo "wall s: process wall time (cards/s from it); CPU s: user + system; peak MB: maximum resident set;"
echo "gLabels prints the front only"

echo
echo "Targets:"
target() { # text value operator limit
  printf '  %-58s %7s  %-6s %s\n' "$1" "$2" "$3 $4" "$(verdict "$2" "$3" "$4")"
}
target "ours / gLabels, cards per second, 1,000 single-sided" \
  "$(ratio "${rate[ours-1000-single]}" "${rate[glabels-1000-single]}")" ">=" 2
target "ours, seconds at 10,000 / at 1,000 cards (duplex)" \
  "$(ratio "${wall[ours-10000-duplex]}" "${wall[ours-1000-duplex]}")" "<=" 11
target "ours, cards/s at 10,000 duplex, all $(nproc) cores / --jobs 1" \
  "$(ratio "${rate[ours-10000-duplex]}" "${rate[ours1-10000-duplex]}")" ">=" 1.7
target "ours, peak memory at 10,000 / at 1,000 cards (duplex, --jobs 1)" \
  "$(ratio "${peak[ours1-10000-duplex]}" "${peak[ours1-1000-duplex]}")" "<=" 1.2
# On several threads the pieces are joined with qpdf, which holds every page's
# objects (some 18 kB a page) until it writes the file.
printf '  %-58s %7s  (reference: the join grows with the pages)\n' \
  "ours, peak memory at 10,000 / at 1,000 cards (duplex)" \
  "$(ratio "${peak[ours-10000-duplex]}" "${peak[ours-1000-duplex]}")"
if [ "$large" = 1 ]; then
  target "ours, peak memory at 100,000 / at 1,000 cards (duplex, --jobs 1)" \
    "$(ratio "${peak[ours1-100000-duplex]}" "${peak[ours1-1000-duplex]}")" "<=" 1.2
  printf '  %-58s %7s  (reference: the join grows with the pages)\n' \
    "ours, peak memory at 100,000 / at 1,000 cards (duplex)" \
    "$(ratio "${peak[ours-100000-duplex]}" "${peak[ours-1000-duplex]}")"
  target "ours, cards/s at 100,000 duplex, all $(nproc) cores / --jobs 1" \
    "$(ratio "${rate[ours-100000-duplex]}" "${rate[ours1-100000-duplex]}")" ">=" 1.7
  printf '  %-58s %7s  (reference: 1,095 s before)\n' "ours, seconds at 250,000 duplex, all $(nproc) cores" \
    "${wall[ours-250000-duplex]}"
fi
printf '  %-58s %7s  (reference, no target)\n' "ours / gLabels, CPU seconds, 1,000 single-sided" \
  "$(ratio "${cpu[ours-1000-single]}" "${cpu[glabels-1000-single]}")"
printf '  %-58s %7s  (reference, no target)\n' "ours, CPU seconds at 10,000 / at 1,000 cards (duplex)" \
  "$(ratio "${cpu[ours-10000-duplex]}" "${cpu[ours-1000-duplex]}")"

invalid=()
for name in "${cases[@]}"; do
  [ -z "${problems[$name]}" ] || invalid+=("$name: ${problems[$name]//$'\n'/; }")
done
if [ ${#invalid[@]} -gt 0 ]; then
  echo
  printf 'INVALID: %s\n' "${invalid[@]}"
  exit 1
fi
