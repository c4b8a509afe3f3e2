#include "support/hostilefiles.h"
#include "import/tablereader.h"

#include <QtGui/private/qzipwriter_p.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <limits>
#include <utility>

// Workbooks: tests/import/data/xlsx, written by make-xlsx-fixtures.py (openpyxl)
// and make-hostile-packages.py (altered ZIP records). Packages with crafted XML
// are built here with QZipWriter, so that each stands next to its expectation.

using Parts = QMap<QString, QByteArray>;
using Table = QList<QStringList>; // the header first, then the data rows

namespace {

QString fixture(const QString &name)
{
    return QStringLiteral(VDP_TEST_DATA_DIR "/xlsx/") + name;
}

QString couldNotOpen()
{
    return QStringLiteral("Could not open the Excel file. It may be corrupted or not an xlsx file");
}

QString tooLarge()
{
    return QStringLiteral("The Excel worksheet is too large to import safely");
}

QString unsupportedEntry()
{
    return QStringLiteral("The Excel file is encrypted or uses an unsupported compression method");
}

QString tooManyColumns()
{
    return QStringLiteral("The Excel worksheet has more columns than supported");
}

QString notRegular(const QString &path)
{
    return QDir::toNativeSeparators(path) + QStringLiteral(" is not a regular file");
}

QString worksheetError(const QString &readerText)
{
    return QStringLiteral("Failed to parse the Excel worksheet: ") + readerText;
}

QByteArray worksheetXml(const QByteArray &rows, const QByteArray &after = {})
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
           "<sheetData>"
           + rows + "</sheetData>" + after + "</worksheet>";
}

QByteArray workbookXml(const QByteArrayList &sheets)
{
    QByteArray xml = "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                     "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
                     "<sheets>";
    for (qsizetype i = 0; i < sheets.size(); ++i)
        xml += "<sheet name=\"" + sheets.at(i) + "\" sheetId=\"" + QByteArray::number(i + 1)
               + "\" r:id=\"rId" + QByteArray::number(i + 1) + "\"/>";
    return xml + "</sheets></workbook>";
}

QByteArray relationshipsXml(const QList<std::pair<QByteArray, QByteArray>> &targets)
{
    QByteArray xml = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (const auto &[id, target] : targets)
        xml += "<Relationship Id=\"" + id + "\" Target=\"" + target
               + "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\"/>";
    return xml + "</Relationships>";
}

// A one-sheet workbook whose worksheet holds `rows`.
Parts workbookParts(const QByteArray &worksheet)
{
    return {{QStringLiteral("xl/workbook.xml"), workbookXml({"Sheet1"})},
            {QStringLiteral("xl/_rels/workbook.xml.rels"),
             relationshipsXml({{"rId1", "worksheets/sheet1.xml"}})},
            {QStringLiteral("xl/worksheets/sheet1.xml"), worksheet}};
}

Parts withPart(Parts parts, const QString &name, const QByteArray &data)
{
    parts.insert(name, data);
    return parts;
}

Parts withoutPart(Parts parts, const QString &name)
{
    parts.remove(name);
    return parts;
}

QByteArray inlineRow(const QStringList &texts)
{
    QByteArray row = "<row>";
    for (const QString &text : texts)
        row += "<c t=\"inlineStr\"><is><t>" + text.toUtf8() + "</t></is></c>";
    return row + "</row>";
}

// `count` rows of one number each, under a header row "N".
QByteArray numberedRows(int count)
{
    QByteArray rows = inlineRow({QStringLiteral("N")});
    rows.reserve(count * 28);
    for (int i = 1; i < count; ++i)
        rows += "<row><c><v>" + QByteArray::number(i) + "</v></c></row>";
    return rows;
}

const char billionLaughs[] =
    "<?xml version=\"1.0\"?>"
    "<!DOCTYPE sst [<!ENTITY lol \"lol\">"
    "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
    "<!ENTITY lol2 \"&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;\">"
    "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">"
    "<!ENTITY lol4 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">"
    "<!ENTITY lol5 \"&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;\">"
    "<!ENTITY lol6 \"&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;\">"
    "<!ENTITY lol7 \"&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;\">"
    "<!ENTITY lol8 \"&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;\">"
    "<!ENTITY lol9 \"&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;\">"
    "]>";

// Resident memory of this process from /proc (Linux), in KiB; -1 elsewhere.
qint64 statusKiB(QByteArrayView field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Sets the peak resident size ("high-water mark") back to the current size.
bool resetPeakMemory()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

} // namespace

class TestXlsxReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void cellValues_data();
    void cellValues();
    void sharedStringsAndRichText();
    void worksheetLayout_data();
    void worksheetLayout();
    void craftedCells_data();
    void craftedCells();
    void relationshipTargets_data();
    void relationshipTargets();
    void listWorksheetNames_data();
    void listWorksheetNames();
    void packageVariants_data();
    void packageVariants();
    void wideSheets();
    void rowLimits_data();
    void rowLimits();
    void failures_data();
    void failures();
    void failureClearsResultAndSuccessKeepsError();
    void sharedStringUsesUpToTheLimits_data();
    void sharedStringUsesUpToTheLimits();

private:
    QString writePackage(const Parts &parts,
                         QZipWriter::CompressionPolicy policy = QZipWriter::AlwaysCompress);
    QString writeFile(const QByteArray &bytes);
    QString scratchPath();
    // A FIFO named like a workbook, made once.
    QString fifoPath();
    // A header, then `rows` rows of `cellsPerRow` cells that all show one
    // shared string of 1 MiB.
    QString sharedStringUses(int rows, int cellsPerRow);

    QTemporaryDir scratch;
    int scratchFiles = 0;
};

QString TestXlsxReader::scratchPath()
{
    return scratch.filePath(QStringLiteral("file-%1.xlsx").arg(++scratchFiles));
}

QString TestXlsxReader::sharedStringUses(int rows, int cellsPerRow)
{
    const QByteArray row = "<row>" + QByteArray("<c t=\"s\"><v>0</v></c>").repeated(cellsPerRow) + "</row>";
    const QByteArray strings = "<sst><si><t>" + QByteArray(1024 * 1024, 'x') + "</t></si></sst>";
    return writePackage(withPart(workbookParts(worksheetXml(inlineRow({QStringLiteral("Text")}) + row.repeated(rows))),
                                 QStringLiteral("xl/sharedStrings.xml"), strings));
}

QString TestXlsxReader::fifoPath()
{
    const QString path = scratch.filePath(QStringLiteral("pipe.xlsx"));
    if (!QFileInfo::exists(path) && !makeFifo(path))
        qFatal("cannot make a FIFO at %s", qPrintable(path));
    return path;
}

QString TestXlsxReader::writePackage(const Parts &parts, QZipWriter::CompressionPolicy policy)
{
    const QString path = scratchPath();
    QZipWriter writer(path);
    writer.setCompressionPolicy(policy);
    for (auto part = parts.cbegin(); part != parts.cend(); ++part)
        writer.addFile(part.key(), part.value());
    writer.close();
    return path;
}

QString TestXlsxReader::writeFile(const QByteArray &bytes)
{
    const QString path = scratchPath();
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

void TestXlsxReader::initTestCase()
{
    QVERIFY(scratch.isValid());
    QVERIFY(QFile::exists(fixture(QStringLiteral("values.xlsx"))));
}

void TestXlsxReader::cellValues_data()
{
    // The row of values.xlsx whose first cell is the data tag holds the cell
    // under test; make-xlsx-fixtures.py gives each one's format and value.
    QTest::addColumn<QString>("expected");

    // Built-in date and time formats 14, 22 and 46.
    QTest::newRow("builtin-14") << "2023-03-15";
    QTest::newRow("builtin-14-serial-1") << "1900-01-01";
    QTest::newRow("builtin-14-serial-59") << "1900-02-28";
    QTest::newRow("builtin-14-serial-60") << "1900-02-28"; // the 29 February 1900 that never was
    QTest::newRow("builtin-14-serial-61") << "1900-03-01";
    QTest::newRow("builtin-14-fraction-ignored") << "2023-03-15";
    QTest::newRow("builtin-22") << "2023-03-15 12:00:00";
    QTest::newRow("builtin-22-rounds-not-past-midnight") << "2023-03-15 23:59:59";
    QTest::newRow("builtin-46") << "18:00:00";
    QTest::newRow("builtin-46-milliseconds-round") << "00:00:01"; // 999.6 ms
    QTest::newRow("builtin-46-integer-serial") << "00:00:00";

    // Custom codes, classified by their letters outside quotes, escapes and brackets.
    QTest::newRow("custom-yyyy-mm-dd") << "2023-03-15";
    QTest::newRow("custom-d-mmm") << "2023-03-15";
    QTest::newRow("custom-h-mm") << "18:00:00";
    QTest::newRow("custom-date-time") << "2023-03-15 06:00:00";
    QTest::newRow("custom-quoted-literal") << "45000";
    QTest::newRow("custom-escaped-letters") << "45000";
    QTest::newRow("custom-colour-section") << "1.5";
    QTest::newRow("custom-month-or-minute") << "45000";

    // openpyxl's own date, datetime and time cells.
    QTest::newRow("python-date") << "2024-02-29";
    QTest::newRow("python-datetime") << "2024-02-29 13:45:30";
    // openpyxl stores times with format 21 (h:mm:ss), which counts as date and time.
    QTest::newRow("python-time") << "1899-12-31 07:05:09";

    // 'g' with 15 significant digits.
    QTest::newRow("integer") << "42";
    QTest::newRow("negative") << "-1.5";
    QTest::newRow("fifteen-digits") << "0.3";
    QTest::newRow("seventeen-digit-integer") << "1.23456789012346e+17";
    QTest::newRow("openpyxl-float") << "1.23456789012346e+17";
    QTest::newRow("large-exponent") << "1e+20";
    QTest::newRow("small-exponent") << "1e-07";
    QTest::newRow("trailing-zeros") << "2.5";
    QTest::newRow("number-style-zero-point-zero-zero") << "3";

    QTest::newRow("boolean-true") << "TRUE";
    QTest::newRow("boolean-false") << "FALSE";
    QTest::newRow("error") << "#N/A";
    QTest::newRow("inline-string-spaces") << "  padded  ";
    QTest::newRow("formula-cached") << "5";
    QTest::newRow("formula-text-cached") << "ab";
}

void TestXlsxReader::cellValues()
{
    QFETCH(QString, expected);
    ImportedTable table;
    QString error;
    QVERIFY2(readXlsxFile(fixture(QStringLiteral("values.xlsx")), {}, &table, &error),
             qPrintable(error));
    QCOMPARE(table.header, QStringList({QStringLiteral("Case"), QStringLiteral("Value")}));

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const auto row = std::find_if(table.rows.cbegin(), table.rows.cend(),
                                  [&](const QStringList &r) { return r.value(0) == name; });
    QVERIFY2(row != table.rows.cend(), "the fixture lacks this case");
    QCOMPARE(row->value(1), expected);
}

void TestXlsxReader::sharedStringsAndRichText()
{
    ImportedTable table;
    QString error;
    QVERIFY2(readXlsxFile(fixture(QStringLiteral("sharedstrings.xlsx")), {}, &table, &error),
             qPrintable(error));
    QCOMPARE(table.header, QStringList({QStringLiteral("Name"), QStringLiteral("Note")}));
    const Table expected = {
        {QStringLiteral("Alice"), QStringLiteral("Bold and plain")}, // runs joined
        {QStringLiteral("Bob"), QStringLiteral("漢字かんじ")},        // phonetic run included
        {QStringLiteral("Alice"), QStringLiteral("  spaced  ")},
        {QStringLiteral("Zoë")}, // index 999 of 19: empty, and trailing, so dropped
        {QStringLiteral("Émile"), QStringLiteral("line one\nline two")},
        {QStringLiteral("Carol"), QStringLiteral("7")},
        {QStringLiteral("Filler 0"), QStringLiteral("Note 0")},
        {QStringLiteral("Filler 1"), QStringLiteral("Note 1")},
        {QStringLiteral("Filler 2"), QStringLiteral("Note 2")},
        {QStringLiteral("Filler 3"), QStringLiteral("Note 3")},
    };
    QCOMPARE(table.rows, expected);
}

void TestXlsxReader::worksheetLayout_data()
{
    QTest::addColumn<QString>("worksheet");
    QTest::addColumn<QStringList>("header");
    QTest::addColumn<Table>("rows");

    const QStringList gapsHeader = {"First", "Second", "Field 3", "Field 4", "Field 5"};
    // B2 and D2 only; row 3 holds formatted empty cells; rows 4 to 6 are not
    // in the file; row 8 ends in a formatted empty cell.
    const Table gapsRows = {{"", "b", "", "d"}, {"a", "", "", "", "e"}, {"8"}};
    QTest::newRow("first sheet when none is named") << QString() << gapsHeader << gapsRows;
    QTest::newRow("gaps") << "Gaps" << gapsHeader << gapsRows;
    // Name, Name, Name, "  City  ", (empty), Name_2, Field 5 and a data row one longer.
    QTest::newRow("header names")
        << "Names"
        << QStringList{"Name", "Name_2", "Name_3", "City", "Field 5", "Name_2_2", "Field 5_2", "Field 8"}
        << Table{{"n1", "n2", "n3", "c", "e", "x", "f", "h"}};
    QTest::newRow("lower-case name") << "data" << QStringList{"Sheet"} << Table{{"lower-case data"}};
    QTest::newRow("capitalised name") << "Data" << QStringList{"Sheet"} << Table{{"capitalised Data"}};
}

void TestXlsxReader::worksheetLayout()
{
    QFETCH(QString, worksheet);
    QFETCH(QStringList, header);
    QFETCH(Table, rows);
    DataSourceOptions options;
    options.worksheetName = worksheet;
    ImportedTable table;
    QString error;
    QVERIFY2(readXlsxFile(fixture(QStringLiteral("layout.xlsx")), options, &table, &error),
             qPrintable(error));
    QCOMPARE(table.header, header);
    QCOMPARE(table.rows, rows);
}

void TestXlsxReader::craftedCells_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<Table>("expected");

    const QByteArray sharedTen =
        "<sst><si><t>i0</t></si><si><t>i1</t></si><si><t>i2</t></si><si><t>i3</t></si>"
        "<si><t>i4</t></si><si><t>i5</t></si><si><t>i6</t></si><si><t>i7</t></si>"
        "<si><t>i8</t></si><si><t>i9</t></si></sst>";
    QTest::newRow("shared-string indexes out of the table")
        << writePackage(withPart(
               workbookParts(worksheetXml(
                   "<row><c t=\"s\"><v>0</v></c><c t=\"s\"><v>9</v></c></row>"
                   "<row><c t=\"s\"><v>999</v></c><c t=\"s\"><v>-1</v></c><c t=\"s\"><v>x</v></c>"
                   "<c t=\"s\"><v>10</v></c><c t=\"s\"><v>3</v></c></row>")),
               QStringLiteral("xl/sharedStrings.xml"), sharedTen))
        << Table{{"i0", "i9", "Field 3", "Field 4", "Field 5"}, {"", "", "", "", "i3"}};

    const QByteArray styles =
        "<styleSheet><numFmts><numFmt numFmtId=\"200\" formatCode=\"yyyy\"/></numFmts>"
        "<cellStyleXfs><xf numFmtId=\"14\"/></cellStyleXfs>"
        "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"200\"/><xf numFmtId=\"x\"/>"
        "</cellXfs></styleSheet>";
    QTest::newRow("style indexes and serial range")
        << writePackage(withPart(
               workbookParts(worksheetXml(
                   inlineRow({"h"})
                   + "<row><c s=\"1\"><v>45000</v></c><c s=\"2\"><v>45000</v></c>"
                     "<c s=\"3\"><v>45000</v></c><c s=\"4\"><v>45000</v></c><c s=\"-1\"><v>45000</v></c>"
                     "<c s=\"x\"><v>45000</v></c><c><v>45000</v></c>"
                     "<c s=\"1\"><v>-1</v></c><c s=\"1\"><v>1e20</v></c><c s=\"1\"><v>x</v></c></row>")),
               QStringLiteral("xl/styles.xml"), styles))
        // xf 3 has an id that is not a number (0); 4 and -1 are outside the list;
        // the cell-style xf with id 14 is not a cell format. A serial beyond
        // any calendar stays a number.
        << Table{{"h", "Field 2", "Field 3", "Field 4", "Field 5", "Field 6", "Field 7", "Field 8",
                  "Field 9", "Field 10"},
                 {"2023-03-15", "2023-03-15", "45000", "45000", "45000", "45000", "45000",
                  "1899-12-30", "1e+20", "x"}};

    QTest::newRow("numbers and what only looks like one")
        << writePackage(workbookParts(worksheetXml(
               inlineRow({"h"})
               + "<row><c t=\"n\"><v>abc</v></c><c><v> 12 </v></c><c><v>inf</v></c><c><v>1e400</v></c>"
                 "<c><v>-0</v></c><c><v>007</v></c><c t=\"d\"><v>2024-01-02</v></c></row>")))
        << Table{{"h", "Field 2", "Field 3", "Field 4", "Field 5", "Field 6", "Field 7"},
                 {"abc", "12", "inf", "1e400", "0", "7", "2024-01-02"}};

    // Texts already in their 'g' 15 form are kept as written; all others are
    // parsed and printed again. Both ways must agree.
    const QByteArrayList numbers = {"0.0001", "0.00001", "123456789012345", "1234567890123456",
                                    "100000000000000", "0.10", "00.5", "+5", "-0.5", "-0.0",
                                    ".5", "5.", "1E3", "0.000123456789012345",
                                    "0.0001234567890123456", "-123.25"};
    QByteArray numberCells;
    for (const QByteArray &number : numbers)
        numberCells += "<c><v>" + number + "</v></c>";
    QStringList numbersHeader = {"h"};
    for (qsizetype i = 2; i <= numbers.size(); ++i)
        numbersHeader.append(QStringLiteral("Field %1").arg(i));
    QTest::newRow("number texts")
        << writePackage(workbookParts(worksheetXml(inlineRow({"h"}) + "<row>" + numberCells + "</row>")))
        << Table{numbersHeader,
                 {"0.0001", "1e-05", "123456789012345", "1.23456789012346e+15", "100000000000000",
                  "0.1", "0.5", "5", "-0.5", "0", "0.5", "5", "1000", "0.000123456789012345",
                  "0.000123456789012346", "-123.25"}};

    QTest::newRow("booleans")
        << writePackage(workbookParts(worksheetXml(
               inlineRow({"h"})
               + "<row><c t=\"b\"><v>0</v></c><c t=\"b\"><v>1</v></c><c t=\"b\"><v>true</v></c>"
                 "<c t=\"b\"/><c t=\"b\"><v>1</v></c></row>")))
        << Table{{"h", "Field 2", "Field 3", "Field 4", "Field 5"}, {"FALSE", "TRUE", "FALSE", "FALSE", "TRUE"}};

    QTest::newRow("cells without a reference follow the row")
        << writePackage(workbookParts(worksheetXml(
               "<row><c r=\"C1\"><v>1</v></c><c><v>2</v></c><c r=\"A1\"><v>3</v></c><c><v>4</v></c>"
               "<c r=\"1\"><v>5</v></c><c r=\"$A$1\"><v>6</v></c><c r=\"b1\"><v>7</v></c></row>")))
        << Table{{"3", "7", "1", "2", "4", "5", "6"}};

    QTest::newRow("row numbers are not used")
        << writePackage(workbookParts(worksheetXml(
               "<row r=\"9\"><c r=\"A9\"><v>1</v></c></row><row r=\"2\"><c r=\"A2\"><v>2</v></c></row>"
               "<row><c r=\"A1\"><v>3</v></c></row>")))
        << Table{{"1"}, {"2"}, {"3"}};

    QTest::newRow("text: runs, references, CDATA, comments")
        << writePackage(workbookParts(worksheetXml(
               inlineRow({"h"})
               + "<row><c t=\"inlineStr\"><is><r><rPr><b/></rPr><t>a</t></r><r><t>b</t></r></is></c>"
                 "<c t=\"inlineStr\"><is><t>x&amp;y&#233;&lt;</t></is></c>"
                 "<c t=\"inlineStr\"><is><t><![CDATA[<z>]]></t></is></c>"
                 "<c><v>1<!-- split -->2</v></c>"
                 "<c t=\"inlineStr\"><is><t>old</t></is><v>new</v></c>"
                 "<c t=\"str\"><v>v</v><is><t>t</t></is></c></row>")))
        << Table{{"h", "Field 2", "Field 3", "Field 4", "Field 5", "Field 6"},
                 {"ab", "x&yé<", "<z>", "12", "new", "vt"}};

    QTest::newRow("formulas without a cached value, spaces, empty rows")
        << writePackage(workbookParts(worksheetXml(
               inlineRow({" h ", "  "})
               + "<row><c><f>1+1</f></c><c t=\"inlineStr\"><is><t> </t></is></c></row>"
                 "<row><c><f>1+1</f></c></row><row/><row></row>"
                 "<row><c t=\"inlineStr\"><is><t/></is></c><c t=\"str\"><v></v></c></row>"
                 "<row><c><v>1</v></c></row>")))
        << Table{{"h", "Field 2"}, {"", " "}, {"1"}};

    QTest::newRow("prefixed main namespace")
        << writePackage(
               withPart(withPart(workbookParts({}), QStringLiteral("xl/workbook.xml"),
                                 "<x:workbook xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                                 "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
                                 "<x:sheets><x:sheet name=\"S\" r:id=\"rId1\"/></x:sheets></x:workbook>"),
                        QStringLiteral("xl/worksheets/sheet1.xml"),
                        "<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                        "<x:sheetData><x:row><x:c r=\"B1\" t=\"inlineStr\"><x:is><x:t>b</x:t></x:is></x:c>"
                        "</x:row></x:sheetData></x:worksheet>"))
        << Table{{"Field 1", "b"}};

    QTest::newRow("strict relationship namespace")
        << writePackage(withPart(workbookParts(worksheetXml(inlineRow({"s"}))),
                                 QStringLiteral("xl/workbook.xml"),
                                 "<workbook xmlns:r=\"http://purl.oclc.org/ooxml/officeDocument/relationships\">"
                                 "<sheets><sheet name=\"S\" r:id=\"rId1\"/></sheets></workbook>"))
        << Table{{"s"}};

    QTest::newRow("moderately nested extensions")
        << writePackage(workbookParts(worksheetXml(
               "<row><c><v>1</v><extLst><ext><a><b><c2><d>x</d></c2></b></a></ext></extLst></c></row>",
               "<extLst><ext xmlns:x14=\"urn:x14\"><x14:a><x14:b/></x14:a></ext></extLst>")))
        << Table{{"1"}};
}

void TestXlsxReader::craftedCells()
{
    QFETCH(QString, path);
    QFETCH(Table, expected);
    ImportedTable table;
    QString error;
    QVERIFY2(readXlsxFile(path, {}, &table, &error), qPrintable(error));
    QCOMPARE(table.header, expected.first());
    QCOMPARE(table.rows, expected.mid(1));
}

void TestXlsxReader::relationshipTargets_data()
{
    QTest::addColumn<QString>("worksheet");
    QTest::addColumn<QString>("expectedHeader");

    // Targets written from the package root, with backslashes, relative to xl/
    // and with xl/ already in front all resolve to a part under xl/.
    QTest::newRow("leading slash") << "Root" << "root";
    QTest::newRow("backslashes") << "Backslash" << "backslash";
    QTest::newRow("relative to xl") << "Relative" << "relative";
    QTest::newRow("already under xl") << "Prefixed" << "prefixed";
    QTest::newRow("backslashes from the root") << "RootBackslash" << "root backslash";
}

void TestXlsxReader::relationshipTargets()
{
    QFETCH(QString, worksheet);
    QFETCH(QString, expectedHeader);
    const Parts parts = {
        {QStringLiteral("xl/workbook.xml"),
         workbookXml({"Root", "Backslash", "Relative", "Prefixed", "RootBackslash", "Orphan"})},
        {QStringLiteral("xl/_rels/workbook.xml.rels"),
         relationshipsXml({{"rId1", "/xl/worksheets/sheet1.xml"},
                           {"rId2", "worksheets\\sheet2.xml"},
                           {"rId3", "worksheets/sheet3.xml"},
                           {"rId4", "xl/worksheets/sheet4.xml"},
                           {"rId5", "\\xl\\worksheets\\sheet5.xml"}})},
        {QStringLiteral("xl/worksheets/sheet1.xml"), worksheetXml(inlineRow({"root"}))},
        {QStringLiteral("xl/worksheets/sheet2.xml"), worksheetXml(inlineRow({"backslash"}))},
        {QStringLiteral("xl/worksheets/sheet3.xml"), worksheetXml(inlineRow({"relative"}))},
        {QStringLiteral("xl/worksheets/sheet4.xml"), worksheetXml(inlineRow({"prefixed"}))},
        {QStringLiteral("xl/worksheets/sheet5.xml"), worksheetXml(inlineRow({"root backslash"}))},
    };
    const QString path = writePackage(parts);

    QString error;
    // The sheet whose relationship id is unknown is left out.
    QCOMPARE(::listWorksheetNames(path, &error),
             QStringList({"Root", "Backslash", "Relative", "Prefixed", "RootBackslash"}));

    DataSourceOptions options;
    options.worksheetName = worksheet;
    ImportedTable table;
    QVERIFY2(readXlsxFile(path, options, &table, &error), qPrintable(error));
    QCOMPARE(table.header, QStringList{expectedHeader});
}

void TestXlsxReader::listWorksheetNames_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("error");

    QTest::newRow("workbook order")
        << fixture(QStringLiteral("layout.xlsx"))
        << QStringList{"Gaps", "Names", "data", "Data", "Blank"} << QString();
    QTest::newRow("missing file") << scratch.filePath(QStringLiteral("absent.xlsx"))
                                  << QStringList() << couldNotOpen();
    QTest::newRow("a FIFO") << fifoPath() << QStringList() << notRegular(fifoPath());
    QTest::newRow("an endless device") << "/dev/zero" << QStringList() << notRegular(QStringLiteral("/dev/zero"));
    QTest::newRow("a directory") << scratch.path() << QStringList() << notRegular(scratch.path());
    QTest::newRow("no workbook part")
        << writePackage(withoutPart(workbookParts(worksheetXml({})), QStringLiteral("xl/workbook.xml")))
        << QStringList()
        << QStringLiteral("The Excel file is missing required content: xl/workbook.xml");
    QTest::newRow("no relationships part")
        << writePackage(withoutPart(workbookParts(worksheetXml({})),
                                    QStringLiteral("xl/_rels/workbook.xml.rels")))
        << QStringList() << QStringLiteral("Could not locate an Excel worksheet");
}

void TestXlsxReader::listWorksheetNames()
{
    QFETCH(QString, path);
    QFETCH(QStringList, names);
    QFETCH(QString, error);
    QString message = QStringLiteral("untouched");
    const FifoRescue rescue(path);
    QCOMPARE(::listWorksheetNames(path, &message), names);
    QCOMPARE(message, error.isEmpty() ? QStringLiteral("untouched") : error);
}

void TestXlsxReader::packageVariants_data()
{
    QTest::addColumn<QString>("path");

    const Parts parts = workbookParts(worksheetXml(inlineRow({"Name"}) + inlineRow({"Alice"})));
    QTest::newRow("deflated (QZipWriter)") << writePackage(parts);
    QTest::newRow("stored") << writePackage(parts, QZipWriter::NeverCompress);
    QTest::newRow("data descriptors, zero local sizes")
        << fixture(QStringLiteral("hostile/data-descriptors.xlsx"));
    QTest::newRow("archive comment") << fixture(QStringLiteral("hostile/archive-comment.xlsx"));
    QTest::newRow("empty optional parts")
        << writePackage(withPart(withPart(parts, QStringLiteral("xl/sharedStrings.xml"), {}),
                                 QStringLiteral("xl/styles.xml"), {}));
}

void TestXlsxReader::packageVariants()
{
    QFETCH(QString, path);
    ImportedTable table;
    QString error;
    QVERIFY2(readXlsxFile(path, {}, &table, &error), qPrintable(error));
    QCOMPARE(table.header, QStringList{QStringLiteral("Name")});
    QCOMPARE(table.rows, Table{{QStringLiteral("Alice")}});
}

void TestXlsxReader::wideSheets()
{
    // XFD is the last column there is.
    ImportedTable table;
    QString error;
    QVERIFY2(readXlsxFile(writePackage(workbookParts(worksheetXml(
                              "<row><c r=\"XFD1\" t=\"inlineStr\"><is><t>last</t></is></c></row>"))),
                          {}, &table, &error),
             qPrintable(error));
    QCOMPARE(table.header.size(), 16384);
    QCOMPARE(table.header.first(), QStringLiteral("Field 1"));
    QCOMPARE(table.header.last(), QStringLiteral("last"));

    // 16,384 equal names, settled one by one against all to their left.
    QByteArray names = "<row>";
    for (int i = 0; i < 16384; ++i)
        names += "<c t=\"inlineStr\"><is><t>Name</t></is></c>";
    names += "</row>";
    QElapsedTimer timer;
    timer.start();
    QVERIFY2(readXlsxFile(writePackage(workbookParts(worksheetXml(names))), {}, &table, &error),
             qPrintable(error));
    QVERIFY2(timer.elapsed() < 10000, "settling equal names is quadratic");
    QCOMPARE(table.header.at(1), QStringLiteral("Name_2"));
    QCOMPARE(table.header.last(), QStringLiteral("Name_16384"));
    QCOMPARE(QSet<QString>(table.header.cbegin(), table.header.cend()).size(), 16384);
}

void TestXlsxReader::rowLimits_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<qsizetype>("maxRows");
    QTest::addColumn<qsizetype>("expectedRows"); // -1: fails with `error`
    QTest::addColumn<QString>("error");

    const QString exceeds =
        QStringLiteral("The Excel worksheet exceeds 250,000 rows and cannot be imported safely");
    const QString atLimit = writePackage(workbookParts(worksheetXml(numberedRows(250000))));
    const QString overLimit = writePackage(workbookParts(worksheetXml(numberedRows(250001))));
    const QString large = writePackage(workbookParts(worksheetXml(numberedRows(300000))));
    // Row 100 is followed by XML that breaks: only a reader that stops at its
    // row limit gets through.
    const QString brokenTail = writePackage(
        workbookParts(worksheetXml(numberedRows(100) + "<row><c><v>1</c></row>")));

    QTest::newRow("250,000 rows with the header") << atLimit << qsizetype(-1) << qsizetype(249999) << QString();
    QTest::newRow("250,001 rows with the header") << overLimit << qsizetype(-1) << qsizetype(-1) << exceeds;
    QTest::newRow("preview of 300,000 rows") << large << qsizetype(25) << qsizetype(25) << QString();
    QTest::newRow("header only") << large << qsizetype(0) << qsizetype(0) << QString();
    QTest::newRow("all of 300,000 rows") << large << qsizetype(-1) << qsizetype(-1) << exceeds;
    QTest::newRow("limit far above the rows") << atLimit << std::numeric_limits<qsizetype>::max()
                                              << qsizetype(249999) << QString();
    QTest::newRow("preview stops before broken XML")
        << brokenTail << qsizetype(25) << qsizetype(25) << QString();
    QTest::newRow("full read meets broken XML")
        << brokenTail << qsizetype(-1) << qsizetype(-1)
        << worksheetError(QStringLiteral("Opening and ending tag mismatch."));
}

void TestXlsxReader::rowLimits()
{
    QFETCH(QString, path);
    QFETCH(qsizetype, maxRows);
    QFETCH(qsizetype, expectedRows);
    QFETCH(QString, error);
    ImportedTable table;
    QString message;
    const bool ok = readXlsxFile(path, {}, &table, &message, maxRows);
    if (expectedRows < 0) {
        QVERIFY(!ok);
        QCOMPARE(message, error);
        return;
    }
    QVERIFY2(ok, qPrintable(message));
    QCOMPARE(table.header, QStringList{QStringLiteral("N")});
    QCOMPARE(table.rows.size(), expectedRows);
    if (expectedRows > 0) {
        QCOMPARE(table.rows.first(), QStringList{QStringLiteral("1")});
        QCOMPARE(table.rows.last(), QStringList{QString::number(expectedRows)});
    }
}

void TestXlsxReader::failures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("worksheet");
    QTest::addColumn<QString>("error");
    // Growth of the peak resident size the read may cause. A reader without
    // its guards needs many hundreds of megabytes (or minutes) for these; the
    // allowance is generous because the kernel's resident counts are approximate.
    QTest::addColumn<int>("peakMiB");

    const int small = 128;
    auto add = [](const char *tag, const QString &path, const QString &error, int peakMiB = 128,
                  const QString &worksheet = QString()) {
        QTest::newRow(tag) << path << worksheet << error << peakMiB;
    };
    auto hostile = [](const char *name) {
        return fixture(QStringLiteral("hostile/") + QLatin1StringView(name));
    };
    const Parts simple = workbookParts(worksheetXml(inlineRow({"Name"}) + inlineRow({"Alice"})));
    // The simple workbook with one part replaced or added.
    auto simpleWith = [&](const char *part, const QByteArray &data) {
        return writePackage(withPart(simple, QString::fromLatin1(part), data));
    };
    auto sheetWith = [&](const QByteArray &rows, const QByteArray &after = {}) {
        return writePackage(workbookParts(worksheetXml(rows, after)));
    };
    QFile validFile(fixture(QStringLiteral("values.xlsx")));
    QVERIFY(validFile.open(QIODevice::ReadOnly));
    const QByteArray valid = validFile.readAll();

    // Opening.
    add("missing file", scratch.filePath(QStringLiteral("absent.xlsx")), couldNotOpen());
    add("a directory", scratch.path(), notRegular(scratch.path()));
    // Never opened: opening a FIFO waits for a writer.
    add("a FIFO", fifoPath(), notRegular(fifoPath()));
    add("an endless device", QStringLiteral("/dev/zero"), notRegular(QStringLiteral("/dev/zero")));
    add("empty file", writeFile({}), couldNotOpen());
    // A file that is no ZIP archive at all is refused when opened, not taken
    // for a package without entries.
    add("not a ZIP archive", writeFile("Name,Code\nAlice,1\n"), couldNotOpen());
    add("truncated package", writeFile(valid.left(valid.size() / 2)), couldNotOpen());
    add("data in front of the package", writeFile("MZ-stub" + valid), couldNotOpen());

    // Package structure.
    const QString missingWorkbook =
        QStringLiteral("The Excel file is missing required content: xl/workbook.xml");
    add("package without entries", writePackage({}), missingWorkbook);
    add("package without workbook",
        writePackage(withoutPart(simple, QStringLiteral("xl/workbook.xml"))), missingWorkbook);
    add("workbook part in other case",
        writePackage(withPart(withoutPart(simple, QStringLiteral("xl/workbook.xml")),
                              QStringLiteral("xl/Workbook.xml"), workbookXml({"S"}))),
        missingWorkbook);
    const QString noSheets = QStringLiteral("The Excel workbook has no readable worksheets");
    add("workbook without sheets", simpleWith("xl/workbook.xml", "<workbook><sheets/></workbook>"),
        noSheets);
    add("broken workbook XML", simpleWith("xl/workbook.xml", workbookXml({"S"}).chopped(12)),
        noSheets);
    add("entity bomb in workbook",
        simpleWith("xl/workbook.xml",
                   billionLaughs
                       + QByteArray("<workbook><sheets><sheet name=\"&lol9;\"/></sheets></workbook>")),
        noSheets);
    // Element names of the workbook are resolved against the namespace
    // declarations in scope, one by one: 80 of them pile up here.
    QByteArray namespaces;
    for (int i = 0; i < 40; ++i)
        namespaces += "<e xmlns:p" + QByteArray::number(i) + "=\"urn:a\" xmlns:q"
                      + QByteArray::number(i) + "=\"urn:b\">";
    namespaces += "<sheets><sheet name=\"Sheet1\" r:id=\"rId1\"/></sheets>"
                  + QByteArray("</e>").repeated(40);
    add("namespace declarations piling up",
        simpleWith("xl/workbook.xml",
                   "<workbook xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                   "relationships\">"
                       + namespaces + "</workbook>"),
        noSheets);
    const QString notLocated = QStringLiteral("Could not locate an Excel worksheet");
    add("no relationships part",
        writePackage(withoutPart(simple, QStringLiteral("xl/_rels/workbook.xml.rels"))), notLocated);
    add("relationship ids that do not match",
        simpleWith("xl/_rels/workbook.xml.rels",
                   relationshipsXml({{"rId7", "worksheets/sheet1.xml"},
                                     {"RID1", "worksheets/sheet1.xml"}})),
        notLocated);
    add("worksheet part missing",
        simpleWith("xl/_rels/workbook.xml.rels", relationshipsXml({{"rId1", "worksheets/sheet9.xml"}})),
        QStringLiteral("The Excel file is missing required content: xl/worksheets/sheet9.xml"));
    add("worksheet name in other case", fixture(QStringLiteral("layout.xlsx")),
        QStringLiteral("The Excel worksheet 'DATA' was not found"), small, QStringLiteral("DATA"));
    add("only empty rows", fixture(QStringLiteral("layout.xlsx")),
        QStringLiteral("The first Excel worksheet is empty"), small, QStringLiteral("Blank"));
    add("no rows at all", sheetWith({}), QStringLiteral("The first Excel worksheet is empty"));

    // Extraction.
    add("stated size over 128 MiB", hostile("stated-size-over-limit.xlsx"), tooLarge());
    add("optional part over 128 MiB", hostile("shared-strings-over-limit.xlsx"), tooLarge());
    add("deflate bomb, stated", hostile("deflate-bomb-honest.xlsx"), tooLarge());
    add("deflate bomb, understated", hostile("deflate-bomb-understated.xlsx"), tooLarge());
    add("stored, understated", hostile("stored-understated.xlsx"), tooLarge());
    add("encrypted entry", hostile("encrypted-entry.xlsx"), unsupportedEntry());
    add("bzip2 entry", hostile("unsupported-method.xlsx"), unsupportedEntry());
    add("corrupt deflate data", hostile("corrupt-deflate.xlsx"), couldNotOpen());
    add("stored, checksum mismatch", hostile("stored-checksum-mismatch.xlsx"), couldNotOpen());

    // XML.
    const QString sharedError = QStringLiteral("Failed to parse Excel shared strings: ");
    const QString stylesError = QStringLiteral("Failed to parse Excel styles: ");
    const QString noDtd = QStringLiteral("Document type declarations are not allowed");
    add("broken shared strings", simpleWith("xl/sharedStrings.xml", "<sst><si><t>a</t>"),
        sharedError + QStringLiteral("Premature end of document."));
    add("entity bomb in shared strings",
        simpleWith("xl/sharedStrings.xml",
                   billionLaughs + QByteArray("<sst><si><t>&lol9;</t></si></sst>")),
        sharedError + noDtd);
    // Within the reader's per-entity expansion limit, yet 800 MB of text in all.
    add("entity used 100,000 times in shared strings",
        simpleWith("xl/sharedStrings.xml",
                   "<!DOCTYPE sst [<!ENTITY e \"" + QByteArray(4000, 'x') + "\">]><sst><si><t>"
                       + QByteArray("&e;").repeated(100000) + "</t></si></sst>"),
        sharedError + noDtd);
    add("broken styles", simpleWith("xl/styles.xml", "<styleSheet><cellXfs><xf>"),
        stylesError + QStringLiteral("Premature end of document."));
    add("entity bomb in styles",
        simpleWith("xl/styles.xml", billionLaughs + QByteArray("<styleSheet/>")),
        stylesError + noDtd);
    add("broken worksheet",
        writePackage(workbookParts(worksheetXml(inlineRow({"a"})).chopped(12))),
        worksheetError(QStringLiteral("Premature end of document.")));
    add("undeclared entity in worksheet", sheetWith("<row><c t=\"str\"><v>&nope;</v></c></row>"),
        worksheetError(QStringLiteral("Entity 'nope' not declared.")));
    add("entity bomb in worksheet",
        writePackage(workbookParts(billionLaughs
                                   + QByteArray("<worksheet><sheetData><row><c t=\"str\"><v>&lol9;"
                                                "</v></c></row></sheetData></worksheet>"))),
        worksheetError(noDtd));
    const QByteArray deep = QByteArray("<a>").repeated(10000) + QByteArray("</a>").repeated(10000);
    add("worksheet nested 10,000 deep", sheetWith(inlineRow({"h"}), deep),
        worksheetError(QStringLiteral("Elements are nested too deeply")));
    add("cell text nested 10,000 deep",
        sheetWith("<row><c t=\"inlineStr\"><is><t>" + deep + "</t></is></c></row>"),
        worksheetError(QStringLiteral("Elements are nested too deeply")));
    QByteArray attributes = "<row><c";
    for (int i = 0; i < 100000; ++i)
        attributes += " a" + QByteArray::number(i) + "=\"\"";
    attributes += "><v>1</v></c></row>";
    add("100,000 attributes in one tag", sheetWith(attributes),
        worksheetError(QStringLiteral("An element has too many attributes")));

    // Columns and cells.
    add("column XFE", sheetWith("<row><c r=\"XFE1\"><v>1</v></c></row>"), tooManyColumns());
    add("forty column letters", sheetWith("<row><c r=\"" + QByteArray(40, 'Z') + "1\"><v>1</v></c></row>"),
        tooManyColumns());
    add("16,385 cells without references",
        sheetWith("<row>" + QByteArray("<c><v>1</v></c>").repeated(16385) + "</row>"), tooManyColumns());
    // Each row is one cell in XFD: 16,384 texts in memory for a few bytes of XML.
    add("far-right cell in every row",
        sheetWith(QByteArray("<row><c r=\"XFD1\"><v>1</v></c></row>").repeated(3000)), tooLarge(), 512);

    // A shared string is held once, however many cells use it, but each use
    // would be stored in full.
    add("a row of 65 uses of a 1 MiB shared string", sharedStringUses(1, 65),
        QStringLiteral("The Excel worksheet has a row larger than 64 MiB and cannot be imported safely"));
    add("2,100 uses of a 1 MiB shared string (over 2 GiB)", sharedStringUses(35, 60), tooLarge());
}

// Up to the limits: a row of exactly 64 MiB, and 2,040 MiB in all.
void TestXlsxReader::sharedStringUsesUpToTheLimits_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("cellsPerRow");
    QTest::newRow("a row of 64 uses") << sharedStringUses(1, 64) << 1 << 64;
    QTest::newRow("34 rows of 60 uses") << sharedStringUses(34, 60) << 34 << 60;
}

void TestXlsxReader::sharedStringUsesUpToTheLimits()
{
    QFETCH(QString, path);
    QFETCH(int, rows);
    QFETCH(int, cellsPerRow);
    ImportedTable table;
    QString error;
    QVERIFY2(readXlsxFile(path, {}, &table, &error), qPrintable(error));
    QCOMPARE(table.rows.size(), rows);
    const QString text(1024 * 1024, u'x');
    for (const QStringList &row : std::as_const(table.rows)) {
        QCOMPARE(row.size(), cellsPerRow);
        QVERIFY(row.first() == text && row.last() == text);
    }
}

void TestXlsxReader::failures()
{
    QFETCH(QString, path);
    QFETCH(QString, worksheet);
    QFETCH(QString, error);
    QFETCH(int, peakMiB);

    DataSourceOptions options;
    options.worksheetName = worksheet;
    ImportedTable table{{QStringLiteral("stale")}, {{QStringLiteral("stale")}}};
    QString message;

    const bool probing = resetPeakMemory();
    const qint64 before = statusKiB("VmRSS:");
    const FifoRescue rescue(path);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!readXlsxFile(path, options, &table, &message));
    const qint64 elapsed = timer.elapsed();
    const qint64 grownMiB = (statusKiB("VmHWM:") - before) / 1024;

    QVERIFY2(elapsed < 10000, qPrintable(QStringLiteral("took %1 ms").arg(elapsed)));
    if (probing && before > 0)
        QVERIFY2(grownMiB < peakMiB, qPrintable(QStringLiteral("peak grew by %1 MiB").arg(grownMiB)));
    QCOMPARE(message, error);
    QVERIFY(table.header.isEmpty());
    QVERIFY(table.rows.isEmpty());
}

void TestXlsxReader::failureClearsResultAndSuccessKeepsError()
{
    QString message = QStringLiteral("earlier");
    QVERIFY(!readXlsxFile(fixture(QStringLiteral("values.xlsx")), {}, nullptr, &message));
    QCOMPARE(message, QStringLiteral("earlier"));

    ImportedTable table{{QStringLiteral("stale")}, {{QStringLiteral("stale")}}};
    QVERIFY(readXlsxFile(fixture(QStringLiteral("layout.xlsx")), {}, &table, &message, 1));
    QCOMPARE(message, QStringLiteral("earlier"));
    QCOMPARE(table.header.first(), QStringLiteral("First"));
    QCOMPARE(table.rows.size(), 1);

    // Failing without a place for the message is fine too.
    QVERIFY(!readXlsxFile(scratch.filePath(QStringLiteral("absent.xlsx")), {}, &table));
    QVERIFY(table.header.isEmpty());
}

QTEST_GUILESS_MAIN(TestXlsxReader)
#include "tst_xlsxreader.moc"
