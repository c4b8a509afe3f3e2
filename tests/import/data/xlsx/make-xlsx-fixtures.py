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

scanner.xlsx is different: openpyxl only lays out the package, and the
worksheets but Dates, and the shared strings, are written here by hand, the
way other writers write XML (attributes in any order and either quotes, white
space in tags, self-closing cells, empty values, prefixed element names,
entities and character references, CDATA, skipped rows and columns). Dates is
openpyxl's own: dates, times and date-times in built-in and custom formats.
openpyxl then reads the package back, and what it reads goes to scanner.json
(dates as the Excel reader writes them), which the test compares with our
reading. Its document properties carry a fixed time, so that it comes out the
same on every run.

The fuzz/ folder gets the XML seeds and the dictionary of the Excel reader's
fuzzer (tests/fuzz/fuzz_xlsxreader.cpp; scripts/fuzz.sh finds them here).
"""

import datetime
import html
import json
import os
import re
import zipfile
from xml.sax.saxutils import escape

import openpyxl
from openpyxl.styles import Font

HERE = os.path.dirname(os.path.abspath(__file__))

MAIN_NS = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"


def rewrite_parts(path, rewrites, extra_parts=None, stored=()):
    """Rewrites text parts of a saved package: rewrites maps part name to a
    function of the part's text; extra_parts adds parts; the parts named in
    stored are not compressed."""
    with zipfile.ZipFile(path) as source:
        parts = [(info, source.read(info.filename)) for info in source.infolist()]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as target:
        def write(name, data):
            method = zipfile.ZIP_STORED if name in stored else zipfile.ZIP_DEFLATED
            target.writestr(zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0)), data,
                            compress_type=method)
        for info, data in parts:
            if info.filename in rewrites:
                data = rewrites[info.filename](data.decode("utf-8")).encode("utf-8")
            write(info.filename, data)
        for name, text in (extra_parts or {}).items():
            write(name, text.encode("utf-8"))


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


SHARED_STRINGS_TYPE = ("application/vnd.openxmlformats-officedocument.spreadsheetml."
                       "sharedStrings+xml")
SHARED_STRINGS_RELATIONSHIP = ("http://schemas.openxmlformats.org/officeDocument/2006/"
                               "relationships/sharedStrings")


def add_shared_strings(path, sst, rewrites, stored=()):
    """Adds xl/sharedStrings.xml, registered as Excel registers it."""
    def content_types(xml):
        return xml.replace("</Types>", f'<Override PartName="/xl/sharedStrings.xml" '
                                       f'ContentType="{SHARED_STRINGS_TYPE}"/></Types>')

    def relationships(xml):
        return xml.replace("</Relationships>",
                           f'<Relationship Type="{SHARED_STRINGS_RELATIONSHIP}" '
                           'Target="sharedStrings.xml" Id="rIdShared"/></Relationships>')

    rewrite_parts(path, dict(rewrites, **{"[Content_Types].xml": content_types,
                                         "xl/_rels/workbook.xml.rels": relationships}),
                  {"xl/sharedStrings.xml": sst}, stored)


# The cases of the Cells sheet: name, then the cells of its row after column A
# exactly as they stand in the XML (row n holds references such as B{n}).
SCANNER_CELLS = [
    ("attribute-order", '<c t="inlineStr" s="0" r="B{n}"><is><t>ordered</t></is></c>'
                        '<c s="0" r="C{n}" t="n"><v>2</v></c>'),
    ("single-quotes", "<c r='B{n}' t='inlineStr'><is><t>quoted</t></is></c><c r='C{n}'><v>3</v></c>"),
    ("self-closing-cell", '<c r="B{n}"/><c r="C{n}" t="inlineStr"><is><t>after</t></is></c>'),
    ("empty-values", '<c r="B{n}"><v></v></c><c r="C{n}" t="str"><v/></c>'
                     '<c r="D{n}" t="inlineStr"><is><t/></is></c>'),
    ("space-in-tags", '<c\n r = "B{n}"\tt="inlineStr"\r\n><is ><t >spaced tags</t ></is\n></c >'
                      "<c r = 'C{n}' ><v >4</v ></c>"),
    ("type-by-reference", '<c r="B{n}" t="&#115;"><v>1</v></c>'),
    ("column-by-reference", '<c r="&#67;{n}" t="inlineStr"><is><t>in C</t></is></c>'),
    ("character-references", '<c r="B{n}" t="inlineStr"><is><t>&#233;&#xE9;&#x1F600;&#36;</t></is></c>'),
    ("predefined-entities", '<c r="B{n}" t="str"><v>&amp;&lt;&gt;&quot;&apos;]]&gt;</v></c>'),
    ("cdata-comment-pi", '<c r="B{n}" t="inlineStr"><is><t><![CDATA[<b>]]><!-- note -->&amp;'
                         '<?pi x?>c</t></is></c>'),
    ("line-ends", '<c r="B{n}" t="inlineStr"><is><t>one\r\ntwo\rthree</t></is></c>'),
    ("xml-space", '<c r="B{n}" t="inlineStr"><is><t xml:space="preserve">  kept  </t></is></c>'
                  '<c r="C{n}" t="inlineStr"><is><t xml:space="default">  also kept  </t></is></c>'),
    ("rich-inline", '<c r="B{n}" t="inlineStr"><is><r><rPr><b/></rPr><t>Rich</t></r>'
                    '<r><t xml:space="preserve"> text</t></r></is></c>'),
    ("numbers", '<c r="B{n}"><v>1.50</v></c><c r="C{n}" t="n"><v>-7</v></c>'),
    ("boolean-and-error", '<c r="B{n}" t="b"><v>1</v></c><c r="C{n}" t="e"><v>#DIV/0!</v></c>'),
    ("shared", '<c r="B{n}" t="s"><v>1</v></c><c r="C{n}" t="s"><v>4</v></c>'),
    ("shared-rich", '<c r="B{n}" t="s"><v>3</v></c>'),
    ("shared-phonetic", '<c r="B{n}" t="s"><v>2</v></c>'),
]

SCANNER_SHARED_STRINGS = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
    f"<sst xmlns='{MAIN_NS}' count='5' uniqueCount='5'>"
    "<si><t>unused</t></si>"
    "<si ><t\n>shared &amp; one</t></si>"
    '<si><t>漢字</t><rPh sb="0" eb="2"><t>かんじ</t></rPh><phoneticPr fontId="1"/></si>'
    '<si><r><rPr><b/></rPr><t>Bold</t></r><r><t xml:space="preserve"> and plain</t></r></si>'
    "<si><t xml:space='preserve'> padded </t></si>"
    "</sst>")

# Every element prefixed, in a document with a byte order mark and a declaration in single quotes.
SCANNER_PREFIXED = (
    "\ufeff<?xml version='1.0' encoding='UTF-8'?>"
    f'<x:worksheet xmlns:x="{MAIN_NS}"><x:sheetData>'
    '<x:row r="1"><x:c r="A1" t="inlineStr"><x:is><x:t>Case</x:t></x:is></x:c>'
    '<x:c r="B1" t="inlineStr"><x:is><x:t>Value</x:t></x:is></x:c></x:row>'
    '<x:row r="2"><x:c r="A2" t="inlineStr"><x:is><x:t>prefixed-inline</x:t></x:is></x:c>'
    '<x:c r="B2" t="inlineStr"><x:is><x:r><x:t>pre</x:t></x:r><x:r><x:t>fixed</x:t></x:r></x:is></x:c></x:row>'
    '<x:row r="3"><x:c r="A3" t="inlineStr"><x:is><x:t>prefixed-number</x:t></x:is></x:c>'
    '<x:c r="B3"><x:v>42</x:v></x:c></x:row>'
    '<x:row r="4"><x:c r="A4" t="inlineStr"><x:is><x:t>prefixed-shared</x:t></x:is></x:c>'
    '<x:c r="B4" t="s"><x:v>1</x:v></x:c></x:row>'
    "</x:sheetData></x:worksheet>")

# Rows missing, empty row elements, rows of empty cells, cells skipped
# before, between and after values.
SCANNER_SPARSE = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
    f'<worksheet xmlns="{MAIN_NS}"><dimension ref="A1:F13"/><sheetData>'
    '<row r="1"><c r="A1" t="inlineStr"><is><t>Case</t></is></c>'
    '<c r="B1" t="inlineStr"><is><t>Value</t></is></c></row>'
    '<row r="3" spans="1:4"><c r="A3" t="inlineStr"><is><t>gap-in-row</t></is></c><c r="D3"><v>4</v></c></row>'
    '<row r="4"/>'
    '<row r="5"><c r="B5" s="0"/><c r="C5" t="inlineStr"><is><t/></is></c></row>'
    '<row r="6"></row>'
    '<row r="9"><c r="A9" t="inlineStr"><is><t>after-empty-rows</t></is></c><c r="F9" t="b"><v>0</v></c></row>'
    '<row r="12"><c r="C12" t="s"><v>1</v></c></row>'
    '<row r="13"><c r="A13" t="inlineStr"><is><t>trailing-empty</t></is></c><c r="B13"><v>1</v></c>'
    '<c r="E13" t="str"><v></v></c></row>'
    "</sheetData></worksheet>")

# The Dates sheet: case, value and number format. Times stay below one day and
# seconds are whole, so that openpyxl's reading is a time of day too. Built-in
# time formats 18 to 21 are left out: the reader prints them as their format
# shows them (7:05:09, 7:05 AM), which openpyxl does not; make-value-workbooks.py
# covers them.
SCANNER_DATES = [
    ("builtin-14", datetime.date(2023, 3, 15), "mm-dd-yy"),
    ("serial-1", datetime.date(1900, 1, 1), "mm-dd-yy"),
    ("serial-59", datetime.date(1900, 2, 28), "yyyy-mm-dd"),
    ("serial-61", datetime.date(1900, 3, 1), "yyyy-mm-dd"),
    ("builtin-15", datetime.date(2024, 2, 29), "d-mmm-yy"),
    ("builtin-22", datetime.datetime(2023, 3, 15, 12, 0, 0), "m/d/yy h:mm"),
    ("custom-date-time", datetime.datetime(2024, 12, 31, 23, 59, 59), "dd/mm/yyyy hh:mm:ss"),
    ("custom-time", datetime.time(7, 5, 9), "hh:mm:ss"),
    ("not-a-date", 45000, "0.00"),
]

# Each cell of the Entities sheet holds this, written with references only.
ENTITY_TEXT = "&amp;&lt;&gt;&quot;&apos;&#233;&#x20AC;&#x1F600;"
ENTITY_PIECE = 64 * 1024  # the reader takes a stored part in pieces of this size


def entities_sheet():
    """Rows 2 to 1001: "row-<n>" and ENTITY_TEXT, with white space between
    rows so that the end of every piece of the stored part falls inside a
    reference."""
    head = (f'<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="{MAIN_NS}"><sheetData>'
            '<row r="1"><c r="A1" t="inlineStr"><is><t>Case</t></is></c>'
            '<c r="B1" t="inlineStr"><is><t>Value</t></is></c></row>')
    xml = head.encode()
    boundary = ENTITY_PIECE
    for n in range(2, 1002):
        row = (f'<row r="{n}"><c r="A{n}" t="inlineStr"><is><t>row-{n}</t></is></c>'
               f'<c r="B{n}" t="inlineStr"><is><t>{ENTITY_TEXT}</t></is></c></row>').encode()
        # Two bytes into "&#x1F600;".
        filler = boundary - (len(xml) + row.index(b"&#x1F600;") + 2)
        if 0 <= filler < 1000:
            xml += b"\n" + b" " * (filler - 1) if filler else b""
            boundary += ENTITY_PIECE
        xml += row
    xml += b"</sheetData></worksheet>"
    assert boundary > 2 * ENTITY_PIECE, "the part should span several pieces"
    return xml.decode()


def openpyxl_text(cell):
    """A cell as openpyxl reads it, in the reader's terms."""
    value = cell.value
    if value is None:
        return ""
    if isinstance(value, datetime.datetime):
        # The formats of SCANNER_DATES show a time exactly when they hold h or s.
        shows_time = any(letter in cell.number_format.lower() for letter in "hs")
        return value.strftime("%Y-%m-%d %H:%M:%S" if shows_time else "%Y-%m-%d")
    if isinstance(value, datetime.time):
        return value.strftime("%H:%M:%S")
    if isinstance(value, bool):
        return "TRUE" if value else "FALSE"
    if isinstance(value, float):
        return format(value, ".15g")
    return str(value)


def make_scanner():
    wb = openpyxl.Workbook()
    wb.properties.created = wb.properties.modified = datetime.datetime(2024, 1, 1)
    wb.active.title = "Cells"
    wb.create_sheet("Prefixed")
    wb.create_sheet("Entities")
    wb.create_sheet("Sparse")
    for sheet in wb.worksheets:
        sheet["A1"] = "placeholder"
    dates = wb.create_sheet("Dates")
    dates.append(["Case", "Value"])
    for name, value, number_format in SCANNER_DATES:
        dates.append([name, value])
        dates.cell(row=dates.max_row, column=2).number_format = number_format
    path = os.path.join(HERE, "scanner.xlsx")
    wb.save(path)

    rows = ['<row r="1"><c r="A1" t="inlineStr"><is><t>Case</t></is></c>'
            '<c r="B1" t="inlineStr"><is><t>Value</t></is></c></row>']
    for n, (name, cells) in enumerate(SCANNER_CELLS, start=2):
        rows.append(f'<row r="{n}"><c r="A{n}" t="inlineStr"><is><t>{name}</t></is></c>'
                    + cells.replace("{n}", str(n)) + "</row>")
    cells = (f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n<worksheet xmlns="{MAIN_NS}">'
             "<sheetData>" + "".join(rows) + "</sheetData></worksheet>")
    add_shared_strings(path, SCANNER_SHARED_STRINGS,
                       {"xl/worksheets/sheet1.xml": lambda _: cells,
                        "xl/worksheets/sheet2.xml": lambda _: SCANNER_PREFIXED,
                        "xl/worksheets/sheet3.xml": lambda _: entities_sheet(),
                        "xl/worksheets/sheet4.xml": lambda _: SCANNER_SPARSE},
                       stored={"xl/worksheets/sheet3.xml"})

    read = openpyxl.load_workbook(path)
    expected = {}
    for sheet in read.worksheets:
        table = [[openpyxl_text(cell) for cell in row] for row in sheet.iter_rows()]
        for row in table:
            while row and row[-1] == "":
                row.pop()
        if sheet.title == "Entities":
            # 1,000 equal rows: their count and their distinct values.
            expected[sheet.title] = {"rows": len(table) - 1,
                                     "values": sorted({tuple(r[1:]) for r in table[1:]})}
        else:
            expected[sheet.title] = table
    with open(os.path.join(HERE, "scanner.json"), "w", encoding="utf-8") as f:
        json.dump(expected, f, ensure_ascii=False, indent=1)
        f.write("\n")


def make_fuzz_seeds():
    folder = os.path.join(HERE, "fuzz")
    os.makedirs(folder, exist_ok=True)
    # An input of the fuzzer is the worksheet XML, then after a NUL byte the shared strings.
    with zipfile.ZipFile(os.path.join(HERE, "scanner.xlsx")) as z:
        cells = z.read("xl/worksheets/sheet1.xml")
        prefixed = z.read("xl/worksheets/sheet2.xml")
        shared = z.read("xl/sharedStrings.xml")
    with zipfile.ZipFile(os.path.join(HERE, "values.xlsx")) as z:
        values = z.read("xl/worksheets/sheet1.xml")
    seeds = {"cells-and-strings.xml": cells + b"\0" + shared,
             "prefixed.xml": prefixed,
             "values.xml": values}
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    tokens = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>', "<worksheet", "</worksheet>",
              "<sheetData>", "</sheetData>", "<row>", "</row>", "<c ", "</c>", "<c/>", "<v>", "</v>",
              "<v/>", "<is>", "</is>", "<t>", "</t>", "<r>", "</r>", "<rPh>", "</rPh>", "<si>", "</si>",
              "<sst>", "</sst>", ' r="A1"', ' t="s"', ' t="inlineStr"', ' t="str"', ' t="b"',
              ' s="1"', " r='B2'", ' xml:space="preserve"', ' xmlns:x="urn:x"', "x:", "<![CDATA[",
              "]]>", "<!--", "-->", "<?pi ", "?>", "&amp;", "&lt;", "&gt;", "&quot;", "&apos;",
              "&#", "&#x", ";", "<!DOCTYPE", "\\xEF\\xBB\\xBF", "\\x0D\\x0A", "\\x00"]
    with open(os.path.join(folder, "xlsxreader.dict"), "w", encoding="utf-8") as f:
        f.write("# Written by make-xlsx-fixtures.py: tokens of worksheet and shared-strings XML\n")
        for token in tokens:
            f.write('"' + token.replace('"', '\\"') + '"\n')


if __name__ == "__main__":
    make_values()
    make_shared_strings()
    make_layout()
    make_scanner()
    make_fuzz_seeds()
