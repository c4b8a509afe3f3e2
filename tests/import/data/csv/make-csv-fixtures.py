#!/usr/bin/python3
"""Writes the CSV fixtures of tst_csvreader with Python's csv module, the way
spreadsheet programs and scripts export them, and expected.json with what the
reader must return for each.

Run from anywhere: /usr/bin/python3 make-csv-fixtures.py
The generated files are committed, so the tests do not need Python.
"""

import csv
import json
import os

HERE = os.path.dirname(os.path.abspath(__file__))

HEADER = ["card_no", "name", "city", "note", "amount"]

# Cells that every exporter must quote somewhere: delimiters, doubled quotes,
# line breaks of each kind, padding that must survive, empty cells.
COMMON_ROWS = [
    ["000001", "Miller, Anna", "Springfield", "plain", "12,50"],
    ["000002", "O'Brien; Sean", "Dublin", 'He said "hi" and "bye"', "7"],
    ["000003", "  padded  ", "Sao Paulo", "line one\nline two", ""],
    ["000004", "tab\there", "Bern", "crlf\r\ninside", "3"],
    ["000005", "", "", "", ""],
    ["000006", "cr\ronly", "\"quoted\"", "trailing space ", " 9"],
]

UTF8_ROWS = [
    ["000007", "Zoë Müller", "Köln", "emoji 😀 and 李小龙", "€ 4"],
    ["000008", "\u00a0nbsp\u00a0", "東京", "∞", "½"],
]

# Only characters that Windows-1252 can encode, bytes 80-9F included.
CP1252_ROWS = [
    ["000007", "Zoë Müller", "Köln", "‘single’ “double” – — …", "€ 4"],
    ["000008", "Œuvre Ÿves", "Málaga", "™ • † ‰ š ž ƒ", "½"],
]

# Rows a writer produces that the reader must skip as blank lines: an empty
# row (a bare line break), a row of spaces, and one quoted empty cell.
BLANK_ROWS = [[], ["   "], [""]]


def is_blank(row):
    return len(row) == 0 or (len(row) == 1 and row[0].strip() == "")


def with_line_breaks(rows, terminator):
    """The csv module quotes a cell only for the characters of its own line
    terminator, so a file ending lines in LF or CR alone gets its cells' line
    breaks in that form, as the program that wrote it would have them."""
    def convert(cell):
        return cell.replace("\r\n", "\n").replace("\r", "\n").replace("\n", terminator)
    return [[convert(cell) for cell in row] for row in rows]


def write(name, rows, *, encoding, **fmt):
    path = os.path.join(HERE, name)
    with open(path, "w", encoding=encoding, newline="") as f:
        csv.writer(f, **fmt).writerows(rows)


def interleave_blank_rows(rows):
    """Puts a blank row before the first data row, after every third data
    row and at the end."""
    out = [rows[0], BLANK_ROWS[0]]
    for i, row in enumerate(rows[1:], start=1):
        out.append(row)
        if i % 3 == 0:
            out.append(BLANK_ROWS[i // 3 % len(BLANK_ROWS)])
    out.extend(BLANK_ROWS)
    return out


cases = []


def settled_header(names):
    """Names trimmed, an empty one "Field N", a name already taken with the
    first free suffix _2, _3, ... so that every column keeps its own name."""
    out, taken = [], set()
    for i, name in enumerate(names):
        name = name.strip() or "Field %d" % (i + 1)
        if name in taken:
            n = 2
            while "%s_%d" % (name, n) in taken:
                n += 1
            name = "%s_%d" % (name, n)
        taken.add(name)
        out.append(name)
    return out


def case(name, file, rows, encoding="auto", delimiter="auto"):
    kept = [r for r in rows if not is_blank(r)]
    cases.append({
        "name": name,
        "file": file,
        "encoding": encoding,
        "delimiter": delimiter,
        "header": settled_header(kept[0]),
        "rows": kept[1:],
    })


# Excel's default: comma, CR LF, UTF-8 with a byte order mark.
rows = interleave_blank_rows([HEADER] + COMMON_ROWS + UTF8_ROWS)
write("comma-utf8-bom-crlf.csv", rows, encoding="utf-8-sig", dialect="excel")
case("comma, UTF-8 with BOM, CR LF", "comma-utf8-bom-crlf.csv", rows)
case("comma, UTF-8 with BOM, fixed options", "comma-utf8-bom-crlf.csv", rows, "UTF-8", "Comma")

# Scripts on Unix: semicolon, LF, UTF-8 without a byte order mark.
rows = with_line_breaks(interleave_blank_rows([HEADER] + COMMON_ROWS + UTF8_ROWS), "\n")
write("semicolon-utf8-lf.csv", rows, encoding="utf-8", delimiter=";", lineterminator="\n")
case("semicolon, UTF-8, LF", "semicolon-utf8-lf.csv", rows)
case("semicolon, UTF-8, fixed options", "semicolon-utf8-lf.csv", rows, "utf-8", "SEMICOLON")

# Old Mac exports: tab, CR alone, Windows-1252.
rows = with_line_breaks(interleave_blank_rows([HEADER] + COMMON_ROWS + CP1252_ROWS), "\r")
write("tab-windows1252-cr.csv", rows, encoding="cp1252", delimiter="\t", lineterminator="\r")
case("tab, Windows-1252, CR", "tab-windows1252-cr.csv", rows)
case("tab, Windows-1252, fixed options", "tab-windows1252-cr.csv", rows, "Windows-1252", "tab")

# European Excel: semicolon, CR LF, Windows-1252, every cell quoted.
rows = interleave_blank_rows([HEADER] + COMMON_ROWS + CP1252_ROWS)
write("semicolon-windows1252-crlf-quoteall.csv", rows, encoding="cp1252", delimiter=";",
      quoting=csv.QUOTE_ALL)
case("semicolon, Windows-1252, CR LF, all quoted", "semicolon-windows1252-crlf-quoteall.csv", rows)

# Header names that need trimming, naming or a suffix; rows narrower
# and wider than the header, and a trailing delimiter (an extra empty cell).
rows = [[" id ", "", "name", "name", "\t", "name_2 ", "name"],
        ["1", "a", "b"],
        ["2", "a", "b", "c", "d", "e", "f"],
        ["3", "", "", "", "", ""]]
write("header-names-lf.csv", rows, encoding="utf-8", lineterminator="\n")
case("header names", "header-names-lf.csv", rows)

# A single column: every candidate delimiter scores 1, so the comma stays.
rows = [["code"], ["A; B"], ["C\tD"], ["E"]]
write("single-column-crlf.csv", rows, encoding="utf-8", dialect="excel")
case("single column", "single-column-crlf.csv", rows)

with open(os.path.join(HERE, "expected.json"), "w", encoding="utf-8", newline="\n") as f:
    json.dump(cases, f, ensure_ascii=False, indent=1)
    f.write("\n")

# Python's own code page table, the five undefined bytes completed with the
# C1 control of the same value, as the reader's decoder must map them.
table = "".join(bytes([b]).decode("cp1252", errors="ignore") or chr(b) for b in range(256))
with open(os.path.join(HERE, "windows-1252-table.utf8"), "wb") as f:
    f.write(table.encode("utf-8"))
