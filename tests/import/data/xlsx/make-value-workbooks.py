"""Writes, into the folder given as its argument, workbooks the way openpyxl
writes them, with the cell formats, sheet states and date systems the
spreadsheet program gives them, for tst_xlsxreader (which runs this at each
start). It checks that the parts that matter were written as meant (built-in
format ids, the date1904 flag, the patched shared strings)."""
import datetime, os, re, sys, zipfile
import openpyxl
from openpyxl.utils.datetime import CALENDAR_MAC_1904

out = sys.argv[1]

def path(name):
    return os.path.join(out, name)

def cell_format_ids(name):
    with zipfile.ZipFile(path(name)) as z:
        styles = z.read("xl/styles.xml").decode()
    xfs = re.search(r"<cellXfs.*?</cellXfs>", styles, re.S).group(0)
    return [int(i) for i in re.findall(r'<xf [^>]*numFmtId="(\d+)"', xfs)]

# Numbers: integers of every length as written, other numbers 'g' 15.
wb = openpyxl.Workbook()
ws = wb.active
ws.append(["Card", "Negative", "ISBN", "Nineteen", "Float", "Large", "Date"])
ws.append([4000123412341234, -12, 9780306406157, 1234567890123456789, 0.1 + 0.2, 1e20, 45000])
ws.append([-4000123412341234, 0, 1, -9223372036854775807, 2.5, 123456789.123456789, 45001])
for row in ws.iter_rows(min_row=2, min_col=7, max_col=7):
    row[0].number_format = "yyyy-mm-dd"
wb.save(path("numbers.xlsx"))

# A hidden first sheet, a visible one and a very hidden one.
wb = openpyxl.Workbook()
lookup = wb.active
lookup.title = "Lookup"
lookup.append(["Code"])
lookup.append(["L1"])
members = wb.create_sheet("Members")
members.append(["Name"])
members.append(["Alice"])
secret = wb.create_sheet("Secret")
secret.append(["Key"])
secret.append(["S1"])
lookup.sheet_state = "hidden"
secret.sheet_state = "veryHidden"
wb.active = 1
wb.save(path("hidden.xlsx"))

# Times of day by their formats: built-in 18 to 21, custom codes, and the
# formats that keep HH:mm:ss or print date and time.
formats = ["h:mm AM/PM", "h:mm:ss AM/PM", "h:mm", "h:mm:ss", "hh:mm", "[$-409]hh:mm:ss AM/PM",
           "h:mm a/p", "m:ss", "mm:ss", "[h]:mm:ss", "m/d/yy h:mm", "yyyy-mm-dd h:mm"]
values = [0.75, 0.25, 0.0, 0.5, 45000.75, 0.99999]
wb = openpyxl.Workbook()
ws = wb.active
ws.append(formats)
for value in values:
    ws.append([value] * len(formats))
for row in ws.iter_rows(min_row=2):
    for cell, number_format in zip(row, formats):
        cell.number_format = number_format
wb.save(path("times.xlsx"))
ids = cell_format_ids("times.xlsx")
assert all(i in ids for i in (18, 19, 20, 21, 22, 45, 46)), ids

# The 1904 date system.
wb = openpyxl.Workbook()
wb.epoch = CALENDAR_MAC_1904
ws = wb.active
ws.append(["Date", "Start", "Origin", "Time"])
ws.append([datetime.date(2024, 2, 29), datetime.datetime(2023, 3, 15, 12, 0, 0), datetime.date(1904, 1, 1),
           datetime.time(18, 0)])
ws.append([datetime.date(1999, 12, 31), datetime.datetime(1904, 1, 2, 6, 30, 15), datetime.date(1904, 3, 1),
           datetime.time(6, 5, 9)])
for row in ws.iter_rows(min_row=2):
    row[0].number_format = "yyyy-mm-dd"
    row[1].number_format = "yyyy-mm-dd hh:mm:ss"
    row[2].number_format = "yyyy-mm-dd"
    row[3].number_format = "h:mm:ss"
wb.save(path("mac1904.xlsx"))
with zipfile.ZipFile(path("mac1904.xlsx")) as z:
    assert re.search(rb'<workbookPr[^>]*date1904="(1|true)"', z.read("xl/workbook.xml"))

# Phonetic runs in shared strings: openpyxl writes texts as inline strings
# and no phonetic runs, so the two cells become shared strings with runs in
# the saved package, which openpyxl then reads without the readings.
wb = openpyxl.Workbook()
ws = wb.active
ws.append(["Name", "Family"])
ws.append(["KANJI", "RICH"])
wb.save(path("plain.xlsx"))
MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
shared = (f'<?xml version="1.0" encoding="UTF-8"?><sst xmlns="{MAIN}" count="2" uniqueCount="2">'
          '<si><t>漢字</t><rPh sb="0" eb="2"><t>かんじ</t></rPh><phoneticPr fontId="1" type="noConversion"/></si>'
          '<si><r><t>山</t></r><rPh sb="0" eb="1"><t>やま</t></rPh><r><rPr><b/></rPr><t>田</t></r>'
          '<rPh sb="1" eb="2"><t>だ</t></rPh><phoneticPr fontId="1"/></si></sst>')
patches = {
    "xl/worksheets/sheet1.xml": [('<c r="A2" t="inlineStr"><is><t>KANJI</t></is></c>', '<c r="A2" t="s"><v>0</v></c>'),
                                 ('<c r="B2" t="inlineStr"><is><t>RICH</t></is></c>', '<c r="B2" t="s"><v>1</v></c>')],
    "[Content_Types].xml": [("</Types>", '<Override PartName="/xl/sharedStrings.xml" ContentType="application/'
                             'vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/></Types>')],
    "xl/_rels/workbook.xml.rels": [("</Relationships>", '<Relationship Id="rIdShared" Target="sharedStrings.xml" '
                                    'Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
                                    'sharedStrings"/></Relationships>')],
}
source = zipfile.ZipFile(path("plain.xlsx"))
target = zipfile.ZipFile(path("phonetic.xlsx"), "w", zipfile.ZIP_DEFLATED)
for item in source.infolist():
    text = source.read(item.filename).decode()
    for old, new in patches.get(item.filename, []):
        assert old in text, (item.filename, old)
        text = text.replace(old, new)
    target.writestr(item, text.encode())
target.writestr("xl/sharedStrings.xml", shared.encode())
target.close()
ws = openpyxl.load_workbook(path("phonetic.xlsx")).active
assert [c.value for c in ws[2]] == ["漢字", "山田"], [c.value for c in ws[2]]
