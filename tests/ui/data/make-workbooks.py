#!/usr/bin/python3
"""Writes the workbooks the data-page tests import.

Run with Debian's interpreter, which sees python3-openpyxl:
    /usr/bin/python3 make-workbooks.py [FOLDER]
and commit the output. The archives carry fixed timestamps so that running the
script again changes nothing unless the contents do.
"""

import datetime
import io
import pathlib
import sys
import zipfile

import openpyxl

FIXED_TIME = datetime.datetime(2024, 1, 1, 9, 0, 0)
ZIP_TIME = (2024, 1, 1, 9, 0, 0)

# Two sheets with different headers and row counts, so a test can tell which
# one was read. The second one is the one a test must choose on purpose.
SHEETS = {
    "Prizes": [
        ["Prize", "Odds"],
        ["Voucher", "1:10"],
        ["Mug", "1:50"],
        ["Bicycle", "1:5000"],
    ],
    "Winners": [
        ["Name", "Ticket", "City"],
        ["Amelia Baker", "0001", "Graz"],
        ["Bruno Dubois", "0002", "Lyon"],
        ["Chiara Rossi", "0003", "Milan"],
        ["Daniel Novak", "0004", "Prague"],
    ],
}


# A lookup sheet hidden in front of the members, as workbooks that feed a
# mail merge often have: the dialog must start on the visible one.
HIDDEN_FIRST = {
    "Lookup": [
        ["Code", "Meaning"],
        ["G", "Gold"],
    ],
    "Members": [
        ["Name", "Level"],
        ["Amelia Baker", "G"],
        ["Bruno Dubois", "S"],
    ],
}


def build_workbook(sheets, hidden=()):
    wb = openpyxl.Workbook()
    wb.remove(wb.active)
    for title, rows in sheets.items():
        ws = wb.create_sheet(title)
        if title in hidden:
            ws.sheet_state = "hidden"
        for values in rows:
            ws.append(values)
            for cell in ws[ws.max_row]:
                cell.number_format = "@"  # keeps "0001" a text
    wb.properties.created = FIXED_TIME
    wb.properties.modified = FIXED_TIME
    return wb


def with_fixed_entry_times(data):
    source = zipfile.ZipFile(io.BytesIO(data))
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as target:
        for info in source.infolist():
            entry = zipfile.ZipInfo(info.filename, date_time=ZIP_TIME)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.external_attr = 0o644 << 16
            target.writestr(entry, source.read(info.filename))
    return out.getvalue()


def main(argv):
    folder = pathlib.Path(argv[1]) if len(argv) > 1 else pathlib.Path(__file__).parent
    for name, workbook in (("two-sheets.xlsx", build_workbook(SHEETS)),
                           ("hidden-first-sheet.xlsx", build_workbook(HIDDEN_FIRST, hidden={"Lookup"}))):
        buffer = io.BytesIO()
        workbook.save(buffer)
        (folder / name).write_bytes(with_fixed_entry_times(buffer.getvalue()))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
