#!/usr/bin/python3
"""Writes the import benchmark's input files: one CSV and one XLSX workbook
holding the same card data (names with accents, cities, streets with commas,
12-digit codes, dates, amounts, notes with quotes), from a fixed seed so that
every run measures the same bytes.

    /usr/bin/python3 bench/make-import-data.py OUT_DIR [ROWS]

OUT_DIR gets import-ROWS.csv (header + ROWS data rows) and import-ROWS.xlsx
(header + ROWS - 1 data rows: the Excel reader's 250,000-row limit counts the
header row, so the workbook is one data row shorter than the CSV).

The workbook is written the way spreadsheet programs write it: texts in a
shared-strings table, numbers as numbers, dates as serials with a date style,
every cell with its r= reference. It is built with zipfile directly because
openpyxl writes inline strings, and at this size its worksheet part would be
larger than the 128 MiB a part may have.
"""

import csv
import datetime
import os
import random
import sys
import zipfile
from xml.sax.saxutils import escape

SEED = 20240611
COLUMNS = ["Card No", "First Name", "Last Name", "Street", "City", "Postcode",
           "Code", "Issued", "Amount", "Note"]

FIRST = ["José", "Zoë", "Émile", "Søren", "Łukasz", "Ångström", "Renée", "Jürgen",
         "Ana", "Björn", "Chloé", "Dário", "Eléonore", "François", "Grégoire",
         "Hélène", "Íñigo", "Jiří", "Kateřina", "Loïc", "Maëlle", "Nuño", "Oğuz",
         "Paweł", "Raphaël", "Sébastien", "Tomás", "Ursula", "Vítor", "Wojciech",
         "Xavière", "Yusuf", "Zdeněk", "Anne-Marie", "O'Brien", "Mary"]
LAST = ["Müller", "García", "Nowak", "Dvořák", "Øberg", "Lefèvre", "Sánchez",
        "Schröder", "Kovačević", "Łęcka", "Gonçalves", "Åkesson", "Žák", "Brontë",
        "Smith", "Ó Súilleabháin", "Van der Berg", "D'Angelo", "Jäger", "Núñez",
        "Şahin", "Weiß", "Szabó", "Ibáñez", "Moreau", "Rossi", "Köhler"]
CITIES = ["Zürich", "München", "Kraków", "São Paulo", "Malmö", "Québec", "Reykjavík",
          "Łódź", "Göteborg", "Córdoba", "Besançon", "Düsseldorf", "Brno", "İzmir",
          "Ålesund", "Plzeň", "Nîmes", "Genève", "Toruń", "Aarhus", "Montréal",
          "New York, NY", "Paris", "Wien", "Porto", "Helsinki"]
STREETS = ["Rue de la Paix", "Hauptstraße", "Calle Mayor", "ulica Długa", "Strøget",
           "Königsallee", "Avenida da Liberdade", "Via Roma", "Bahnhofstraße",
           "Rua Augusta", "Boulevard Saint-Michel", "Kungsgatan", "Main Street"]
NOTES = ['VIP – priority', 'Gift card, "gold" tier', 'Résumé attached', 'Reprint; see ticket',
         'Café voucher', 'Ship to "front desk", floor 2', '', 'Naïve test ✓', 'n/a',
         'Größe: XL', 'Déjà vu', 'Promo 10% off, first order']

EPOCH = datetime.date(1899, 12, 30)  # serial 0 for dates after 28 February 1900


def generate_rows(count):
    rng = random.Random(SEED)
    start = datetime.date(2019, 1, 1)
    for i in range(count):
        issued = start + datetime.timedelta(days=rng.randrange(0, 2000))
        street = f"{rng.randrange(1, 400)} {rng.choice(STREETS)}"
        if rng.random() < 0.5:
            street += f", Apt {rng.randrange(1, 90)}"
        note = rng.choice(NOTES)
        if rng.random() < 0.3:
            note = f"{note} #{rng.randrange(100000)}".strip()
        yield {
            "Card No": 100001 + i,
            "First Name": rng.choice(FIRST),
            "Last Name": rng.choice(LAST),
            "Street": street,
            "City": rng.choice(CITIES),
            "Postcode": f"{rng.randrange(1000, 99999):05d}",
            "Code": f"{rng.randrange(10**12):012d}",
            "Issued": issued,
            "Amount": rng.randrange(100, 100000) / 100,
            "Note": note,
        }


def csv_text(column, value):
    if column == "Issued":
        return value.isoformat()
    if column == "Amount":
        # 15 significant digits without trailing zeros: the text the Excel
        # reader prints for the same number, so both files carry the same cells.
        return f"{value:.15g}"
    return str(value)


def write_csv(path, count):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8", newline="") as f:
        writer = csv.writer(f, lineterminator="\r\n")
        writer.writerow(COLUMNS)
        for row in generate_rows(count):
            writer.writerow([csv_text(c, row[c]) for c in COLUMNS])
    os.replace(tmp, path)


def column_letter(index):
    letters = ""
    index += 1
    while index:
        index, rem = divmod(index - 1, 26)
        letters = chr(65 + rem) + letters
    return letters


CONTENT_TYPES = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">\
<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>\
<Default Extension="xml" ContentType="application/xml"/>\
<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>\
<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>\
<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>\
<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>\
</Types>"""

ROOT_RELS = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">\
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>\
</Relationships>"""

WORKBOOK = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" \
xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">\
<sheets><sheet name="Cards" sheetId="1" r:id="rId1"/></sheets></workbook>"""

WORKBOOK_RELS = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">\
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>\
<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>\
<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>\
</Relationships>"""

# Cell format 0 is General, 1 the built-in short date (numFmtId 14).
STYLES = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">\
<fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>\
<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>\
<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>\
<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>\
<cellXfs count="2"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>\
<xf numFmtId="14" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/></cellXfs>\
<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>\
</styleSheet>"""

NUMERIC = {"Card No", "Amount"}


def entry(name):
    # A fixed time stamp keeps the workbook byte-identical from run to run.
    info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def write_xlsx(path, data_rows):
    letters = [column_letter(i) for i in range(len(COLUMNS))]
    strings = {}
    references = 0

    def shared(text):
        nonlocal references
        references += 1
        index = strings.get(text)
        if index is None:
            index = strings[text] = len(strings)
        return index

    tmp = path + ".tmp"
    with zipfile.ZipFile(tmp, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        z.writestr(entry("[Content_Types].xml"), CONTENT_TYPES)
        z.writestr(entry("_rels/.rels"), ROOT_RELS)
        z.writestr(entry("xl/workbook.xml"), WORKBOOK)
        z.writestr(entry("xl/_rels/workbook.xml.rels"), WORKBOOK_RELS)
        z.writestr(entry("xl/styles.xml"), STYLES)

        last = f"{letters[-1]}{data_rows + 1}"
        with z.open(entry("xl/worksheets/sheet1.xml"), "w") as sheet:
            sheet.write(('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                         '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
                         f'<dimension ref="A1:{last}"/><sheetData>').encode())
            header = "".join(f'<c r="{letters[i]}1" t="s"><v>{shared(name)}</v></c>'
                             for i, name in enumerate(COLUMNS))
            sheet.write(f'<row r="1">{header}</row>'.encode())
            chunk = []
            for n, row in enumerate(generate_rows(data_rows), start=2):
                cells = []
                for i, column in enumerate(COLUMNS):
                    ref = f"{letters[i]}{n}"
                    value = row[column]
                    if column == "Issued":
                        cells.append(f'<c r="{ref}" s="1"><v>{(value - EPOCH).days}</v></c>')
                    elif column in NUMERIC:
                        cells.append(f'<c r="{ref}"><v>{value}</v></c>')
                    elif value == "":
                        continue
                    else:
                        cells.append(f'<c r="{ref}" t="s"><v>{shared(value)}</v></c>')
                chunk.append(f'<row r="{n}">{"".join(cells)}</row>')
                if len(chunk) == 5000:
                    sheet.write("".join(chunk).encode())
                    chunk.clear()
            sheet.write("".join(chunk).encode())
            sheet.write(b"</sheetData></worksheet>")

        with z.open(entry("xl/sharedStrings.xml"), "w") as sst:
            sst.write(('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                       '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
                       f'count="{references}" uniqueCount="{len(strings)}">').encode())
            chunk = []
            for text in strings:  # dicts keep insertion order: the index order
                space = ' xml:space="preserve"' if text != text.strip() else ""
                chunk.append(f"<si><t{space}>{escape(text)}</t></si>")
                if len(chunk) == 20000:
                    sst.write("".join(chunk).encode())
                    chunk.clear()
            sst.write("".join(chunk).encode())
            sst.write(b"</sst>")
    os.replace(tmp, path)


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(f"usage: {sys.argv[0]} OUT_DIR [ROWS]")
    out = sys.argv[1]
    rows = int(sys.argv[2]) if len(sys.argv) == 3 else 250000
    os.makedirs(out, exist_ok=True)
    write_csv(os.path.join(out, f"import-{rows}.csv"), rows)
    write_xlsx(os.path.join(out, f"import-{rows}.xlsx"), rows - 1)


if __name__ == "__main__":
    main()
