#!/usr/bin/python3
"""Writes sample-data.xlsx, the workbook the starter project is bound to.

Run with Debian's interpreter, which sees python3-openpyxl:
    /usr/bin/python3 make-sample-data.py [OUTPUT]
The output is byte-for-byte reproducible: the rows come from a fixed seed, the
workbook properties carry fixed timestamps, and the archive entries are
rewritten with a fixed date (openpyxl stamps them with the current time).
"""

import datetime
import io
import pathlib
import random
import sys
import zipfile

import openpyxl
from openpyxl.styles import Font

ROW_COUNT = 40
SEED = 20240517
FIXED_TIME = datetime.datetime(2024, 1, 1, 9, 0, 0)
ZIP_TIME = (2024, 1, 1, 9, 0, 0)

FIRST_NAMES = [
    "Amelia", "Bruno", "Chiara", "Daniel", "Elena", "Farid", "Grace", "Hugo",
    "Ingrid", "Jonas", "Keiko", "Lucas", "Maya", "Nikolai", "Olivia", "Pedro",
    "Quinn", "Rosa", "Samuel", "Tove", "Uma", "Viktor", "Wen", "Yusuf", "Zoe",
]
LAST_NAMES = [
    "Andersen", "Baker", "Castillo", "Dubois", "Eriksson", "Fischer", "Garcia",
    "Hoffmann", "Ivanova", "Jensen", "Kowalski", "Lambert", "Moreau", "Novak",
    "O'Brien", "Petrov", "Rossi", "Schmidt", "Tanaka", "Varga", "Weber", "Young",
]
CITIES = [
    "Amsterdam", "Barcelona", "Berlin", "Copenhagen", "Dublin", "Graz", "Krakow",
    "Lisbon", "Lyon", "Milan", "Oslo", "Porto", "Prague", "Vienna", "Zurich",
]
TIERS = ["Bronze", "Silver", "Gold", "Platinum"]
TIER_WEIGHTS = [50, 30, 15, 5]

HEADERS = ["Ticket No", "Name", "City", "Member Code", "Tier", "Date"]
COLUMN_WIDTHS = {"A": 11, "B": 22, "C": 14, "D": 16, "E": 10, "F": 12}


def member_code(rng, row):
    # Every fifth code starts with zeros so readers that turn text into numbers
    # show up at once.
    digits = [rng.randrange(10) for _ in range(12)]
    if row % 5 == 0:
        digits[0] = digits[1] = 0
    return "".join(str(d) for d in digits)


def make_rows(rng):
    first_date = datetime.date(2024, 3, 1)
    rows = []
    for index in range(ROW_COUNT):
        name = f"{rng.choice(FIRST_NAMES)} {rng.choice(LAST_NAMES)}"
        rows.append([
            1001 + index,
            name,
            rng.choice(CITIES),
            member_code(rng, index),
            rng.choices(TIERS, TIER_WEIGHTS)[0],
            first_date + datetime.timedelta(days=rng.randrange(0, 365)),
        ])
    return rows


def build_workbook(rows):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Members"
    ws.append(HEADERS)
    for cell in ws[1]:
        cell.font = Font(bold=True)
    for values in rows:
        ws.append(values)
        code = ws.cell(row=ws.max_row, column=4)
        code.number_format = "@"  # text, so Excel keeps the leading zeros on edit
        date = ws.cell(row=ws.max_row, column=6)
        date.number_format = "yyyy-mm-dd"
    for column, width in COLUMN_WIDTHS.items():
        ws.column_dimensions[column].width = width
    ws.freeze_panes = "A2"

    props = wb.properties
    props.creator = "Vellumor VDP"
    props.lastModifiedBy = "Vellumor VDP"
    props.title = "Vellumor VDP sample data"
    props.created = FIXED_TIME
    props.modified = FIXED_TIME
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
    output = pathlib.Path(argv[1]) if len(argv) > 1 else pathlib.Path(__file__).with_name("sample-data.xlsx")
    buffer = io.BytesIO()
    build_workbook(make_rows(random.Random(SEED))).save(buffer)
    output.write_bytes(with_fixed_entry_times(buffer.getvalue()))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
