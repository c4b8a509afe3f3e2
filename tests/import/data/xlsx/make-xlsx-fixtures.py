#!/usr/bin/python3
"""Writes the workbooks the Excel reader's tests read, with openpyxl.

    /usr/bin/python3 tests/import/data/xlsx/make-xlsx-fixtures.py

(Debian's python3-openpyxl is visible to /usr/bin/python3 only.) The output
is committed; run this again only to change a fixture, and commit the result.

openpyxl cannot write everything spreadsheet programs write, so some packages
are post-processed with zipfile after openpyxl has saved them:

- Exact number texts. openpyxl writes floats through its own formatting
  (0.30000000000000004 comes out as 0.3), so such cells are written as the
  text "NUM:<digits>" and rewritten to a numeric cell holding <digits> verbatim.
- Formula caches. openpyxl writes formulas with an empty cached value; the
  cached value Excel would store is put into <v> afterwards.
- Custom formats that openpyxl would map to a built-in id (d-mmm is built-in
  16, h:mm is 20) are written as "FMT:<code>" and the formatCode is rewritten,
  so that the reader has to classify the code text itself.
- Shared strings. openpyxl writes every text as an inline string; the
  sharedstrings workbook moves them into xl/sharedStrings.xml (registered in
  [Content_Types].xml and the workbook relationships as Excel does), turning
  "RICH:a|b|c" into a rich-text item of runs a, b, c (the first bold), and
  "PHONETIC:base|reading" into an item with a phonetic run. "SST:<n>" becomes a
  cell that points at shared-string index <n> whatever the table holds.
- Sheet names differing only in case. openpyxl renames a second sheet "Data"
  next to "data" to "Data1"; the workbook part is patched back to "Data".
"""

import datetime
import html
import os
import re
import zipfile
from xml.sax.saxutils import escape

import openpyxl
from openpyxl.styles import Font

HERE = os.path.dirname(os.path.abspath(__file__))

MAIN_NS = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"


def rewrite_parts(path, rewrites, extra_parts=None):
    """Rewrites text parts of a saved package: rewrites maps part name to a
    function of the part's text; extra_parts adds parts."""
    with zipfile.ZipFile(path) as source:
        parts = [(info, source.read(info.filename)) for info in source.infolist()]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as target:
        for info, data in parts:
            if info.filename in rewrites:
                data = rewrites[info.filename](data.decode("utf-8")).encode("utf-8")
            target.writestr(info.filename, data)
        for name, text in (extra_parts or {}).items():
            target.writestr(name, text.encode("utf-8"))


INLINE_CELL = re.compile(
    r'<c r="([A-Z]+[0-9]+)"((?: s="[0-9]+")?) t="inlineStr"><is><t(?: xml:space="preserve")?>'
    r'(.*?)</t></is></c>', re.S)


def exact_numbers(sheet_xml):
    def replace(match):
        ref, style, text = match.groups()
        if not text.startswith("NUM:"):
            return match.group(0)
        return f'<c r="{ref}"{style} t="n"><v>{text[4:]}</v></c>'
    return INLINE_CELL.sub(replace, sheet_xml)


def custom_format_codes(styles_xml):
    return re.sub(r'formatCode="FMT:([^"]*)"', r'formatCode="\1"', styles_xml)


# values.xlsx: one case per row, its name in column A and the cell under test
# in column B; the test's table holds the expected texts.
def make_values():
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Values"
    ws.append(["Case", "Value"])

    def case(name, value, number_format=None):
        ws.append([name, value])
        if number_format:
            ws.cell(row=ws.max_row, column=2).number_format = number_format

    # Built-in date and time formats (openpyxl maps these codes to ids 14, 22, 46).
    case("builtin-14", 45000, "mm-dd-yy")
    case("builtin-14-serial-1", 1, "mm-dd-yy")
    case("builtin-14-serial-59", 59, "mm-dd-yy")
    case("builtin-14-serial-60", 60, "mm-dd-yy")
    case("builtin-14-serial-61", 61, "mm-dd-yy")
    case("builtin-14-fraction-ignored", 45000.75, "mm-dd-yy")
    case("builtin-22", 45000.5, "m/d/yy h:mm")
    case("builtin-22-rounds-not-past-midnight", 45000.9999999999, "m/d/yy h:mm")
    case("builtin-46", 0.75, "[h]:mm:ss")
    case("builtin-46-milliseconds-round", 0.9996 / 86400, "[h]:mm:ss")
    case("builtin-46-integer-serial", 2, "[h]:mm:ss")
    # Custom codes, classified from their text.
    case("custom-yyyy-mm-dd", 45000, "yyyy-mm-dd")
    case("custom-d-mmm", 45000, "FMT:d-mmm")
    case("custom-h-mm", 0.75, "FMT:h:mm")
    case("custom-date-time", 45000.25, "dd/mm/yyyy hh:mm:ss")
    case("custom-quoted-literal", 45000, '0 "days and hours"')
    case("custom-escaped-letters", 45000, "0\\d\\a\\y")
    case("custom-colour-section", 1.5, "[Red]0.00")
    case("custom-month-or-minute", 45000, "FMT:mm")
    # What openpyxl writes for Python date and time values.
    case("python-date", datetime.date(2024, 2, 29))
    case("python-datetime", datetime.datetime(2024, 2, 29, 13, 45, 30))
    case("python-time", datetime.time(7, 5, 9))
    # Numbers without a date format: 'g' with 15 significant digits.
    case("integer", 42)
    case("negative", -1.5)
    case("fifteen-digits", "NUM:0.30000000000000004")
    case("seventeen-digit-integer", "NUM:123456789012345678")
    case("openpyxl-float", 123456789012345678)
    case("large-exponent", 1e20)
    case("small-exponent", 1e-7)
    case("trailing-zeros", "NUM:2.50000")
    case("number-style-zero-point-zero-zero", 3, "0.00")
    # Other cell types.
    case("boolean-true", True)
    case("boolean-false", False)
    case("error", "#N/A")
    case("inline-string-spaces", "  padded  ")
    case("formula-cached", "=SUM(2,3)")
    case("formula-text-cached", '=CONCATENATE("a","b")')
    wb.save(os.path.join(HERE, "values.xlsx"))

    def sheet(xml):
        xml = exact_numbers(xml)
        # Excel stores a formula's last result beside it; text results carry t="str".
        xml = xml.replace("<f>SUM(2,3)</f><v></v>", "<f>SUM(2,3)</f><v>5</v>")
        xml = re.sub(r'<c r="(B[0-9]+)"><f>CONCATENATE\("a","b"\)</f><v></v></c>',
                     r'<c r="\1" t="str"><f>CONCATENATE("a","b")</f><v>ab</v></c>', xml)
        return xml
    rewrite_parts(os.path.join(HERE, "values.xlsx"),
                  {"xl/worksheets/sheet1.xml": sheet, "xl/styles.xml": custom_format_codes})


# sharedstrings.xlsx: the way Excel stores texts, with rich and phonetic items.
def make_shared_strings():
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Shared"
    ws.append(["Name", "Note"])
    ws.append(["Alice", "RICH:Bold| and |plain"])
    ws.append(["Bob", "PHONETIC:漢字|かんじ"])
    ws.append(["Alice", "  spaced  "])
    ws.append(["Zoë", "SST:999"])
    ws.append(["Émile", "line one\nline two"])
    ws.append(["Carol", 7])
    for i in range(4):
        ws.append([f"Filler {i}", f"Note {i}"])
    path = os.path.join(HERE, "sharedstrings.xlsx")
    wb.save(path)

    strings = []
    index = {}

    def item_xml(text):
        if text.startswith("RICH:"):
            runs = text[5:].split("|")
            out = f"<r><rPr><b/></rPr><t>{escape(runs[0])}</t></r>"
            for run in runs[1:]:
                out += f'<r><t xml:space="preserve">{escape(run)}</t></r>'
            return f"<si>{out}</si>"
        if text.startswith("PHONETIC:"):
            base, reading = text[9:].split("|")
            return (f'<si><t>{escape(base)}</t><rPh sb="0" eb="{len(base)}">'
                    f'<t>{escape(reading)}</t></rPh><phoneticPr fontId="1"/></si>')
        return f'<si><t xml:space="preserve">{escape(text)}</t></si>'

    def shared(match):
        ref, style, text = match.groups()
        # The worksheet holds the text XML-escaped (openpyxl writes character
        # references for non-ASCII letters); the table escapes it afresh.
        text = html.unescape(text)
        if text.startswith("SST:"):
            return f'<c r="{ref}"{style} t="s"><v>{text[4:]}</v></c>'
        if text not in index:
            index[text] = len(strings)
            strings.append(text)
        return f'<c r="{ref}"{style} t="s"><v>{index[text]}</v></c>'

    with zipfile.ZipFile(path) as z:
        sheet_xml = INLINE_CELL.sub(shared, z.read("xl/worksheets/sheet1.xml").decode("utf-8"))
    count = sheet_xml.count(' t="s"')
    sst = (f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
           f'<sst xmlns="{MAIN_NS}" count="{count}" uniqueCount="{len(strings)}">'
           + "".join(item_xml(s) for s in strings) + "</sst>")

    def content_types(xml):
        return xml.replace("</Types>",
                           '<Override PartName="/xl/sharedStrings.xml" ContentType="application/'
                           'vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/></Types>')

    def relationships(xml):
        return xml.replace("</Relationships>",
                           '<Relationship Type="http://schemas.openxmlformats.org/officeDocument/'
                           '2006/relationships/sharedStrings" Target="sharedStrings.xml" '
                           'Id="rIdShared"/></Relationships>')

    rewrite_parts(path, {"xl/worksheets/sheet1.xml": lambda _: sheet_xml,
                         "[Content_Types].xml": content_types,
                         "xl/_rels/workbook.xml.rels": relationships},
                  {"xl/sharedStrings.xml": sst})


# layout.xlsx: gaps, empty rows, header naming and sheet choice.
def make_layout():
    wb = openpyxl.Workbook()
    bold = Font(bold=True)

    gaps = wb.active
    gaps.title = "Gaps"
    gaps["A1"] = "First"
    gaps["B1"] = "Second"
    gaps["B2"] = "b"
    gaps["D2"] = "d"
    # A row of formatted but empty cells: written, holds nothing.
    for column in "ABC":
        gaps[f"{column}3"].font = bold
    # Rows 4 to 6 are not written at all.
    gaps["A7"] = "a"
    gaps["E7"] = "e"
    gaps["C8"].font = bold  # a trailing empty cell after the last value
    gaps["A8"] = 8

    names = wb.create_sheet("Names")
    names.append(["Name", "Name", "Name", "  City  ", None, "Name_2", "Field 5"])
    names["E1"].font = bold
    names.append(["n1", "n2", "n3", "c", "e", "x", "f", "h"])

    lower = wb.create_sheet("data")
    lower.append(["Sheet"])
    lower.append(["lower-case data"])
    upper = wb.create_sheet("Data")  # saved as "Data1", renamed below
    upper.append(["Sheet"])
    upper.append(["capitalised Data"])

    blank = wb.create_sheet("Blank")
    for ref in ("A1", "B1", "A2", "C4"):
        blank[ref].font = bold

    path = os.path.join(HERE, "layout.xlsx")
    wb.save(path)
    rewrite_parts(path, {"xl/workbook.xml": lambda xml: xml.replace('name="Data1"', 'name="Data"')})


if __name__ == "__main__":
    make_values()
    make_shared_strings()
    make_layout()
