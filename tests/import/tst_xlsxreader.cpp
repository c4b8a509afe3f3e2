#include "support/hostilefiles.h"
#include "import/tablereader.h"
#include "import/xlsxpackage.h"
#include "import/xlsxsheetreader.h"
#include "import/xlsxsheetscanner.h"

#include <QtGui/private/qzipwriter_p.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QStringEncoder>
#include <QtEndian>
#include <QTemporaryDir>
#include <QTest>

#include <limits>
#include <utility>

// Workbooks: tests/import/data/xlsx, written by make-xlsx-fixtures.py (openpyxl)
// and make-hostile-packages.py (altered ZIP records). Packages with crafted XML
// are built here with QZipWriter, so that each stands next to its expectation.
//
// The worksheet and shared strings are read by XlsxSheetScanner, and again by
// XlsxXmlReader where the scanner stops short; the scanner's own cases feed it
// XML directly, in pieces of every size.

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

// What the scanner reports, as one text: "<name a=value ...>" per start tag
// (local names; attributes as written, with their values), "</name>" per end
// tag, and "{text}" after a v or t element for the text collected from it.
class ScanRecorder : public XlsxSheetScanner::Handler
{
public:
    QString log;

    QString *startElement(QByteArrayView name, const XlsxSheetScanner::Attributes &attributes) override
    {
        flush();
        log += u'<' + QString::fromLatin1(name);
        for (const XlsxSheetScanner::Attribute &attribute : attributes)
            log += u' ' + QString::fromLatin1(attribute.name) + u'=' + XlsxSheetScanner::value(attribute);
        log += u'>';
        if (name != "v" && name != "t")
            return nullptr;
        collecting = true;
        text.clear();
        return &text;
    }

    void endElement(QByteArrayView name) override
    {
        flush();
        log += QStringLiteral("</") + QString::fromLatin1(name) + u'>';
    }

    void flush()
    {
        if (collecting)
            log += u'{' + text + u'}';
        collecting = false;
    }

private:
    QString text;
    bool collecting = false;
};

struct Scan
{
    bool read = false;
    QString log;
};

// `xml` fed to the scanner in pieces that end at `cuts` (ascending) and at the end.
Scan scanInPieces(const QByteArray &xml, const QList<qsizetype> &cuts)
{
    ScanRecorder recorder;
    XlsxSheetScanner scanner(&recorder);
    qsizetype from = 0;
    for (const qsizetype cut : cuts) {
        scanner.feed(QByteArrayView(xml).sliced(from, cut - from));
        from = cut;
    }
    scanner.feed(QByteArrayView(xml).sliced(from));
    Scan scan;
    scan.read = scanner.finish();
    recorder.flush();
    scan.log = recorder.log;
    return scan;
}

// A handler that wants nothing: for asking whether the scanner reads a part.
class NoHandler : public XlsxSheetScanner::Handler
{
public:
    QString *startElement(QByteArrayView, const XlsxSheetScanner::Attributes &) override { return nullptr; }
    void endElement(QByteArrayView) override {}
};

bool scannerReadsAll(const QByteArray &xml)
{
    NoHandler handler;
    XlsxSheetScanner scanner(&handler);
    scanner.feed(xml);
    return scanner.finish();
}

QByteArray packagePart(const QString &path, const QString &part)
{
    XlsxPackage package;
    QByteArray data;
    if (!package.open(path, nullptr) || package.readPart(part, &data, nullptr) != XlsxPackage::PartStatus::Read)
        qFatal("cannot read %s from %s", qPrintable(part), qPrintable(path));
    return data;
}

// openpyxl's reading of scanner.xlsx, written by make-xlsx-fixtures.py.
QJsonObject openpyxlReading()
{
    QFile file(fixture(QStringLiteral("scanner.json")));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read scanner.json");
    return QJsonDocument::fromJson(file.readAll()).object();
}

QStringList texts(const QJsonArray &array)
{
    QStringList list;
    for (const QJsonValue &value : array)
        list.append(value.toString());
    return list;
}

// Debian's interpreter, the one that sees python3-openpyxl.
const char *const python = "/usr/bin/python3";


// A table as one text, or the message, for comparing two readings.
QString described(bool ok, const ImportedTable &table, const QString &error)
{
    if (!ok)
        return QStringLiteral("error: ") + error;
    QString text = table.header.join(u'|');
    for (const QStringList &row : table.rows)
        text += u'\n' + row.join(u'|');
    return text;
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
    void cancelStopsTheRead_data();
    void cancelStopsTheRead();

    void scannerReports_data();
    void scannerReports();
    void scannerRefuses_data();
    void scannerRefuses();
    void scannerEdges_data();
    void scannerEdges();
    void referencesAcrossPieces();
    void sheetsReadAsOpenpyxlReadsThem_data();
    void sheetsReadAsOpenpyxlReadsThem();
    void scannerReadsWhatWritersWrite_data();
    void scannerReadsWhatWritersWrite();
    void xmlReadingsAgree_data();
    void xmlReadingsAgree();

    void valuesAsTheWorkbookHoldsThem_data();
    void valuesAsTheWorkbookHoldsThem();
    void worksheetVisibility_data();
    void worksheetVisibility();

private:
    QString writePackage(const Parts &parts,
                         QZipWriter::CompressionPolicy policy = QZipWriter::AlwaysCompress);
    QString writeFile(const QByteArray &bytes);
    // A copy of the package at `path` whose central-directory record of
    // `part` holds `value` in the 32-bit field at `offset` (APPNOTE 4.3.12:
    // 16 is the CRC-32, 24 the uncompressed size).
    QString withCentralField(const QString &path, QByteArrayView part, int offset, quint32 value);
    QString scratchPath();
    // A FIFO named like a workbook, made once.
    QString fifoPath();
    // A header, then `rows` rows of `cellsPerRow` cells that all show one
    // shared string of 1 MiB.
    QString sharedStringUses(int rows, int cellsPerRow);

    // A workbook the openpyxl script of initTestCase wrote.
    QString written(const char *name) const { return scratch.filePath(QString::fromLatin1(name)); }

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

QString TestXlsxReader::withCentralField(const QString &path, QByteArrayView part, int offset, quint32 value)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    QByteArray bytes = file.readAll();
    for (qsizetype at = bytes.indexOf("PK\x01\x02"); at >= 0; at = bytes.indexOf("PK\x01\x02", at + 4)) {
        const quint16 nameLength = qFromLittleEndian<quint16>(bytes.constData() + at + 28);
        if (QByteArrayView(bytes).sliced(at + 46, nameLength) == part) {
            qToLittleEndian(value, bytes.data() + at + offset);
            return writeFile(bytes);
        }
    }
    qFatal("no central record of %s in %s", part.data(), qPrintable(path));
}

void TestXlsxReader::initTestCase()
{
    QVERIFY(scratch.isValid());
    QVERIFY(QFile::exists(fixture(QStringLiteral("values.xlsx"))));

    QProcess process;
    process.start(QString::fromLatin1(python), {fixture(QStringLiteral("make-value-workbooks.py")), scratch.path()});
    QVERIFY(process.waitForFinished(120000));
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
             process.readAllStandardError().constData());
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
    QTest::newRow("custom-h-mm") << "18:00"; // a time of day, as its code shows it
    QTest::newRow("custom-date-time") << "2023-03-15 06:00:00";
    QTest::newRow("custom-quoted-literal") << "45000";
    QTest::newRow("custom-escaped-letters") << "45000";
    QTest::newRow("custom-colour-section") << "1.5";
    QTest::newRow("custom-month-or-minute") << "45000";

    // openpyxl's own date, datetime and time cells.
    QTest::newRow("python-date") << "2024-02-29";
    QTest::newRow("python-datetime") << "2024-02-29 13:45:30";
    // openpyxl stores times with format 21 (h:mm:ss): a time of day, the hour
    // without a leading zero.
    QTest::newRow("python-time") << "7:05:09";

    // Integers as written, whatever their length; other numbers 'g' with 15
    // significant digits.
    QTest::newRow("integer") << "42";
    QTest::newRow("negative") << "-1.5";
    QTest::newRow("fifteen-digits") << "0.3";
    QTest::newRow("seventeen-digit-integer") << "123456789012345678";
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
        {QStringLiteral("Bob"), QStringLiteral("漢字")},              // phonetic run left out
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

    // Integers and texts already in their 'g' 15 form are kept as written
    // (integers without their leading zeros); all others are parsed and
    // printed again. Both ways must agree.
    const QByteArrayList numbers = {"0.0001", "0.00001", "123456789012345", "1234567890123456",
                                    "100000000000000", "0.10", "00.5", "+5", "-0.5", "-0.0",
                                    ".5", "5.", "1E3", "0.000123456789012345",
                                    "0.0001234567890123456", "-123.25", "00004000123412341234",
                                    "-4000123412341234", "-000", "123456789012345678901234567890",
                                    "4000123412341234.0", "1-2"};
    QByteArray numberCells;
    for (const QByteArray &number : numbers)
        numberCells += "<c><v>" + number + "</v></c>";
    QStringList numbersHeader = {"h"};
    for (qsizetype i = 2; i <= numbers.size(); ++i)
        numbersHeader.append(QStringLiteral("Field %1").arg(i));
    QTest::newRow("number texts")
        << writePackage(workbookParts(worksheetXml(inlineRow({"h"}) + "<row>" + numberCells + "</row>")))
        << Table{numbersHeader,
                 {"0.0001", "1e-05", "123456789012345", "1234567890123456", "100000000000000",
                  "0.1", "0.5", "5", "-0.5", "0", "0.5", "5", "1000", "0.000123456789012345",
                  "0.000123456789012346", "-123.25", "4000123412341234", "-4000123412341234", "0",
                  "123456789012345678901234567890", "4.00012341234123e+15", "1-2"}};

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

    // XML in other encodings than UTF-8 is read by XlsxXmlReader, as it always was.
    const QString zoe = QStringLiteral("Zo\u00EB");
    QStringEncoder utf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    QStringEncoder latin1(QStringEncoder::Latin1);
    QTest::newRow("worksheet in UTF-16")
        << writePackage(workbookParts(utf16(QString::fromUtf8(worksheetXml(inlineRow({zoe})).mid(55)))))
        << Table{{zoe}};
    QTest::newRow("worksheet in ISO-8859-1")
        << writePackage(workbookParts("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                                      + QByteArray(latin1(QString::fromUtf8(worksheetXml(inlineRow({zoe})).mid(55))))))
        << Table{{zoe}};

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
    // The XML reader counts the attributes of every tag before it reads any,
    // so a preview fails on a tag far after its rows.
    QByteArray crowdedTag = "<row><c";
    for (int i = 0; i < 65; ++i)
        crowdedTag += " a" + QByteArray::number(i) + "=\"\"";
    crowdedTag += "/></row>";
    QTest::newRow("preview, then a tag of 65 attributes")
        << writePackage(workbookParts(worksheetXml(numberedRows(100) + crowdedTag))) << qsizetype(25)
        << qsizetype(-1) << worksheetError(QStringLiteral("An element has too many attributes"));
    // What follows the row limit does not matter, broken or not.
    QTest::newRow("over the row limit, then broken XML")
        << writePackage(workbookParts(worksheetXml(numberedRows(250001) + "<row><c><v>1</c></row>")))
        << qsizetype(-1) << qsizetype(-1) << exceeds;
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
    // A part this large is extracted on a thread of its own, and the fault
    // shows only after its rows were read.
    const QByteArray sheetPart = "xl/worksheets/sheet1.xml";
    const Parts large = workbookParts(worksheetXml(numberedRows(200000)));
    const QString deflated = writePackage(large);
    const QString stored = writePackage(large, QZipWriter::NeverCompress);
    QVERIFY(QFileInfo(deflated).size() > XlsxPackage::threadedMinimum + 4096);
    add("large sheet, checksum mismatch", withCentralField(deflated, sheetPart, 16, 0x12345678), couldNotOpen());
    add("large stored sheet, checksum mismatch", withCentralField(stored, sheetPart, 16, 0x12345678),
        couldNotOpen());
    add("large sheet, size understated", withCentralField(deflated, sheetPart, 24, 4 * 1024 * 1024), tooLarge());

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
    // The scanner leaves XML it does not read to XlsxXmlReader, whose words stand.
    add("character reference to a control", sheetWith("<row><c t=\"str\"><v>&#1;</v></c></row>"),
        worksheetError(QStringLiteral("Invalid character reference.")));
    add("markup after the worksheet",
        writePackage(workbookParts(worksheetXml(inlineRow({"h"})) + "<x/>")),
        worksheetError(QStringLiteral("Extra content at end of document.")));
    add("']]>' in text", sheetWith("<row><c t=\"str\"><v>a]]>b</v></c></row>"),
        worksheetError(QStringLiteral("Sequence ']]>' not allowed in content.")));
    add("attribute given twice", sheetWith("<row><c r=\"A1\" r=\"B1\"><v>1</v></c></row>"),
        worksheetError(QStringLiteral("Attribute 'r' redefined.")));
    add("bytes that are not UTF-8", sheetWith("<row><c t=\"str\"><v>\xC3</v></c></row>"),
        worksheetError(QStringLiteral("Encountered incorrectly encoded content.")));
    add("XML 1.1", writePackage(workbookParts("<?xml version=\"1.1\"?>" + worksheetXml(inlineRow({"h"})).mid(55))),
        worksheetError(QStringLiteral("Unsupported XML version.")));
    add("undeclared entity in shared strings", simpleWith("xl/sharedStrings.xml", "<sst><si><t>&x;</t></si></sst>"),
        sharedError + QStringLiteral("Entity 'x' not declared."));
    add("shared strings nested 10,000 deep", simpleWith("xl/sharedStrings.xml", "<sst>" + deep + "</sst>"),
        sharedError + QStringLiteral("Elements are nested too deeply"));
    add("100,000 attributes in shared strings",
        simpleWith("xl/sharedStrings.xml", "<sst><si" + attributes.mid(7, attributes.size() - 27) + "/></sst>"),
        sharedError + QStringLiteral("An element has too many attributes"));

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

void TestXlsxReader::cancelStopsTheRead_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("cancelAt"); // the call that answers true; 0: none does
    QTest::addColumn<int>("calls");    // calls expected in all

    // 300 row elements, read by the scanner, and the same with a declared
    // encoding the scanner leaves to XlsxXmlReader.
    const QByteArray rows = numberedRows(300);
    const QString scanned = writePackage(workbookParts(worksheetXml(rows)));
    const QString xmlReader = writePackage(
        workbookParts("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + worksheetXml(rows).mid(55)));
    // 5,000 shared strings: asked at items 0, 1,024, 2,048, 3,072 and 4,096.
    QByteArray items = "<sst>";
    for (int i = 0; i < 5000; ++i)
        items += "<si><t>s" + QByteArray::number(i) + "</t></si>";
    const QString shared =
        writePackage(withPart(workbookParts(worksheetXml(rows)), QStringLiteral("xl/sharedStrings.xml"), items + "</sst>"));

    for (const auto &[name, path] : {std::pair{"scanner", scanned}, std::pair{"XML reader", xmlReader}}) {
        QTest::addRow("%s, never", name) << path << 0 << 300;
        QTest::addRow("%s, at the header", name) << path << 1 << 1;
        QTest::addRow("%s, at row 150", name) << path << 150 << 150;
        QTest::addRow("%s, at the last row", name) << path << 300 << 300;
    }
    // Extracted on a thread of its own, which stops with the read.
    const QString large = writePackage(workbookParts(worksheetXml(numberedRows(200000))));
    QVERIFY(QFileInfo(large).size() > XlsxPackage::threadedMinimum + 4096);
    QTest::newRow("large sheet, at row 1,000") << large << 1000 << 1000;
    QTest::newRow("shared strings, never") << shared << 0 << 5 + 300;
    QTest::newRow("shared strings, at the first item") << shared << 1 << 1;
    QTest::newRow("shared strings, at item 2,048") << shared << 3 << 3;
    QTest::newRow("shared strings, then the first row") << shared << 6 << 6;
}

void TestXlsxReader::cancelStopsTheRead()
{
    QFETCH(QString, path);
    QFETCH(int, cancelAt);
    QFETCH(int, calls);

    int asked = 0;
    const auto cancelRequested = [&] { return ++asked == cancelAt; };
    ImportedTable table{{QStringLiteral("stale")}, {{QStringLiteral("stale")}}};
    QString error;
    const bool ok = readXlsxFile(path, {}, &table, &error, -1, cancelRequested);
    QCOMPARE(asked, calls);
    if (cancelAt == 0) {
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(table.rows.size(), 299);
        return;
    }
    QVERIFY(!ok);
    QCOMPARE(error, XlsxSheetReader::cancelledMessage());
    QVERIFY(table.header.isEmpty());
    QVERIFY(table.rows.isEmpty());
}

namespace {

struct ReportedXml
{
    const char *tag;
    QByteArray xml;
    QString log;
};

// XML the scanner reads, and what it reports. Each case is fed whole, a byte
// at a time, and cut in two at every place, so that every reference, tag,
// line end and UTF-8 sequence is also cut between pieces.
QList<ReportedXml> reportedXml()
{
    QByteArray deep = QByteArray("<a>").repeated(256) + QByteArray("</a>").repeated(256);
    QByteArray many = "<a";
    QString manyLog = QStringLiteral("<a");
    for (int i = 0; i < 64; ++i) {
        many += " a" + QByteArray::number(i) + "='" + QByteArray::number(i) + "'";
        manyLog += QStringLiteral(" a%1=%1").arg(i);
    }
    const QByteArray longName(1024, 'n');

    return {
        {"attributes in any order, in either quotes", "<c t='s' s=\"1\" r='B2'/>",
         "<c t=s s=1 r=B2></c>"},
        {"white space in tags", "<row\n r = \"1\"\t><c\r\n/><v >1</v\n></row >",
         "<row r=1><c></c><v>{1}</row>"},
        {"self-closing cell, empty values", "<row><c/><v/><v></v><t/></row>",
         "<row><c></c><v>{}<v>{}<t>{}</row>"},
        {"namespace prefixes", "<x:row xmlns:x=\"urn:x\" x:r=\"1\"><x:v>2</x:v></x:row>",
         "<row xmlns:x=urn:x x:r=1><v>{2}</row>"},
        {"predefined entities and character references",
         "<t>&amp;&lt;&gt;&quot;&apos;&#65;&#x42;&#x1f600;&#233;&#0000067;</t>",
         QStringLiteral("<t>{&<>\"'AB\U0001F600\u00E9C}")},
        {"references in attribute values", "<c r=\"&#66;&#x32;\" t=\"&amp;&lt;\" s='&quot;&apos;'/>",
         "<c r=B2 t=&< s=\"'></c>"},
        {"line ends in text", "<t>a\r\nb\rc\nd\te</t>", "<t>{a\nb\nc\nd\te}"},
        // Literal white space in a value becomes spaces; referenced white space stays.
        {"white space in attribute values", "<c r=\"a\r\nb\rc\nd\te\" s=\"&#10;&#13;&#9;\"/>",
         "<c r=a b c d e s=\n\r\t></c>"},
        {"CDATA, comments and processing instructions in text",
         "<v>1<!-- 2 -->3<?pi 4?><![CDATA[<5>&amp;\r\n]]>6</v>", "<v>{13<5>&amp;\n6}"},
        {"elements inside collected text go unreported",
         "<row><t>a<b x=\"1\">b<v>c</v></b>d</t><c/></row>", "<row><t>{abcd}<c></c></row>"},
        {"xml:space changes nothing", "<r><t xml:space=\"preserve\">  a  </t><t> b </t></r>",
         "<r><t xml:space=preserve>{  a  }<t>{ b }</r>"},
        {"text outside collected elements goes unreported", "<row> x <c>y</c>\n</row>",
         "<row><c></c></row>"},
        {"byte order mark, declaration, prolog and epilog",
         "\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8' standalone='no'?>\r\n<!-- c --><?pi x?>\n"
         "<a/>\n<!--d--><?e?>\n",
         "<a></a>"},
        {"declaration with every kind of spacing", "<?xml  version = \"1.0\"\tencoding=\"UTF-8\"\n?><a/>",
         "<a></a>"},
        {"UTF-8 text", "<t>Zo\xC3\xAB, \xE6\xBC\xA2\xE5\xAD\x97, \xF0\x9F\x98\x80</t>",
         QStringLiteral("<t>{Zo\u00EB, \u6F22\u5B57, \U0001F600}")},
        {"brackets that do not end CDATA", "<t>]]&gt;]&#93;>]]</t>", "<t>{]]>]]>]]}"},
        {"a comment that starts with '>'", "<a><!-->x--><!----></a>", "<a></a>"},
        {"a name of 1,024 characters", "<" + longName + "/>",
         u'<' + QString::fromLatin1(longName) + QStringLiteral("></") + QString::fromLatin1(longName) + u'>'},
        {"256 levels", deep, QString::fromLatin1(deep)},
        {"64 attributes", many + "/>", manyLog + QStringLiteral("></a>")},
    };
}

// XML the scanner leaves to XlsxXmlReader: beyond what it reads, or not
// well-formed, or over XlsxXmlReader's limits.
QList<std::pair<const char *, QByteArray>> refusedXml()
{
    QByteArray many = "<a";
    for (int i = 0; i < 65; ++i)
        many += " a" + QByteArray::number(i) + "=\"\"";
    QStringEncoder utf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);

    return {
        {"document type declaration", "<!DOCTYPE a><a/>"},
        {"entity declaration", "<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>"},
        {"undeclared entity", "<a>&e;</a>"},
        {"reference without semicolon", "<a>&amp</a>"},
        {"character reference to a control", "<a>&#1;</a>"},
        {"character reference to a surrogate", "<a>&#xD800;</a>"},
        {"character reference past Unicode", "<a>&#x110000;</a>"},
        {"character reference with a capital X", "<a>&#X41;</a>"},
        {"empty character reference", "<a>&#;</a>"},
        {"undeclared entity in a value", "<a b=\"&e;\"/>"},
        {"bytes that are not UTF-8", "<a>\xC3</a>"},
        {"overlong UTF-8", "<a>\xC0\xAF</a>"},
        {"UTF-8 of a surrogate", "<a>\xED\xA0\x80</a>"},
        {"U+FFFE", "<a>\xEF\xBF\xBE</a>"},
        {"control character", "<a>\x01</a>"},
        {"NUL", QByteArray("<a>\0</a>", 8)},
        {"UTF-16", utf16(u"<a/>")},
        {"another declared encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>"},
        {"XML 1.1", "<?xml version=\"1.1\"?><a/>"},
        {"declaration not first", " <?xml version=\"1.0\"?><a/>"},
        {"declaration inside", "<a><?xml version=\"1.0\"?></a>"},
        {"pseudo-attributes out of order", "<?xml version=\"1.0\" standalone=\"yes\" encoding=\"UTF-8\"?><a/>"},
        {"mismatched end tag", "<a></b>"},
        {"end tag without start", "</a>"},
        {"unclosed element", "<a>"},
        {"nothing", ""},
        {"a comment only", " <!-- x --> "},
        {"two root elements", "<a/><b/>"},
        {"text after the root", "<a/>x"},
        {"text before the root", "x<a/>"},
        {"CDATA outside the root", "<![CDATA[x]]><a/>"},
        {"attribute given twice", "<a b=\"1\" b=\"2\"/>"},
        {"attributes without space between", "<a b=\"1\"c=\"2\"/>"},
        {"attribute without quotes", "<a b=1/>"},
        {"'<' in an attribute value", "<a b=\"<\"/>"},
        {"two colons in a name", "<a:b:c/>"},
        {"name starting with a digit", "<1a/>"},
        {"name outside ASCII", "<\xC3\xA9/>"},
        {"space after '<'", "< a/>"},
        {"']]>' in text", "<a>]]></a>"},
        {"']]>' after a referenced bracket", "<a>&#x5d;]></a>"},
        {"'--' in a comment", "<a><!-- a -- b --></a>"},
        {"unterminated comment", "<a><!-- x</a>"},
        {"processing instruction named like XML", "<a><?XmL x?></a>"},
        {"257 levels", QByteArray("<a>").repeated(257) + QByteArray("</a>").repeated(257)},
        {"65 attributes", many + "/>"},
        {"a name of 1,025 characters", "<" + QByteArray(1025, 'n') + "/>"},
    };
}

} // namespace

void TestXlsxReader::scannerReports_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("log");
    for (const ReportedXml &reported : reportedXml())
        QTest::newRow(reported.tag) << reported.xml << reported.log;
}

void TestXlsxReader::scannerReports()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, log);

    const Scan whole = scanInPieces(xml, {});
    QVERIFY(whole.read);
    QCOMPARE(whole.log, log);

    QList<qsizetype> everyByte;
    for (qsizetype i = 1; i < xml.size(); ++i)
        everyByte.append(i);
    const Scan bytewise = scanInPieces(xml, everyByte);
    QVERIFY(bytewise.read);
    QCOMPARE(bytewise.log, log);

    for (qsizetype cut = 1; cut < xml.size(); ++cut) {
        const Scan halves = scanInPieces(xml, {cut});
        if (!halves.read || halves.log != log)
            QFAIL(qPrintable(QStringLiteral("cut after byte %1: %2").arg(cut).arg(halves.log)));
    }
}

void TestXlsxReader::scannerRefuses_data()
{
    QTest::addColumn<QByteArray>("xml");
    for (const auto &[tag, xml] : refusedXml())
        QTest::newRow(tag) << xml;
}

void TestXlsxReader::scannerRefuses()
{
    QFETCH(QByteArray, xml);
    QVERIFY(!scanInPieces(xml, {}).read);
    QList<qsizetype> everyByte;
    for (qsizetype i = 1; i < xml.size(); ++i)
        everyByte.append(i);
    QVERIFY(!scanInPieces(xml, everyByte).read);
}

void TestXlsxReader::scannerEdges_data()
{
    // scanner.xlsx, written by make-xlsx-fixtures.py: per row a case and its
    // cells in the XML of writers other than openpyxl.
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QStringList>("values");
    // Whether openpyxl reads the same from the file (scanner.json).
    QTest::addColumn<bool>("asOpenpyxl");

    const QString cells = QStringLiteral("Cells");
    auto add = [](const QString &sheet, const char *tag, const QStringList &values, bool asOpenpyxl = true) {
        QTest::newRow(tag) << sheet << values << asOpenpyxl;
    };
    add(cells, "attribute-order", {"ordered", "2"});
    add(cells, "single-quotes", {"quoted", "3"});
    add(cells, "self-closing-cell", {"", "after"});
    add(cells, "empty-values", {});
    add(cells, "space-in-tags", {"spaced tags", "4"});
    add(cells, "type-by-reference", {"shared & one"}); // t="&#115;" is "s"
    add(cells, "column-by-reference", {"", "in C"});   // r="&#67;9" is C9
    add(cells, "character-references", {QStringLiteral("\u00E9\u00E9\U0001F600$")});
    add(cells, "predefined-entities", {"&<>\"']]>"});
    add(cells, "cdata-comment-pi", {"<b>&c"});
    add(cells, "line-ends", {"one\ntwo\nthree"});
    add(cells, "xml-space", {"  kept  ", "  also kept  "});
    add(cells, "rich-inline", {"Rich text"});
    add(cells, "numbers", {"1.5", "-7"});
    add(cells, "boolean-and-error", {"TRUE", "#DIV/0!"});
    add(cells, "shared", {"shared & one", " padded "});
    add(cells, "shared-rich", {"Bold and plain"});
    // The reading of a phonetic run is not part of the text.
    add(cells, "shared-phonetic", {QStringLiteral("\u6F22\u5B57")});

    const QString prefixed = QStringLiteral("Prefixed");
    add(prefixed, "prefixed-inline", {"prefixed"});
    add(prefixed, "prefixed-number", {"42"});
    add(prefixed, "prefixed-shared", {"shared & one"});
}

void TestXlsxReader::scannerEdges()
{
    QFETCH(QString, sheet);
    QFETCH(QStringList, values);
    QFETCH(bool, asOpenpyxl);

    DataSourceOptions options;
    options.worksheetName = sheet;
    ImportedTable table;
    QString error;
    QVERIFY2(readXlsxFile(fixture(QStringLiteral("scanner.xlsx")), options, &table, &error), qPrintable(error));
    QCOMPARE(table.header.mid(0, 2), QStringList({QStringLiteral("Case"), QStringLiteral("Value")}));
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    auto hasName = [&](const QStringList &row) { return row.value(0) == name; };
    const auto row = std::find_if(table.rows.cbegin(), table.rows.cend(), hasName);
    QVERIFY2(row != table.rows.cend(), "the fixture lacks this case");
    QCOMPARE(row->mid(1), values);

    QList<QStringList> theirs;
    for (const QJsonValue &value : openpyxlReading().value(sheet).toArray())
        theirs.append(texts(value.toArray()));
    const auto theirRow = std::find_if(theirs.cbegin(), theirs.cend(), hasName);
    QVERIFY2(theirRow != theirs.cend(), "scanner.json lacks this case");
    if (asOpenpyxl)
        QCOMPARE(theirRow->mid(1), values);
    else
        QVERIFY(theirRow->mid(1) != values);
}

void TestXlsxReader::referencesAcrossPieces()
{
    // The Entities sheet is stored, so that the reader takes it in pieces of
    // 64 KiB; the generator put a character reference across the end of each.
    const QString path = fixture(QStringLiteral("scanner.xlsx"));
    const QByteArray part = packagePart(path, QStringLiteral("xl/worksheets/sheet3.xml"));
    QVERIFY(part.size() > 2 * 65536);
    for (qsizetype end = 65536; end < part.size(); end += 65536)
        QCOMPARE(part.mid(end - 2, 9), QByteArray("&#x1F600;"));

    DataSourceOptions options;
    options.worksheetName = QStringLiteral("Entities");
    ImportedTable table;
    QString error;
    QVERIFY2(readXlsxFile(path, options, &table, &error), qPrintable(error));
    const QString text = QStringLiteral("&<>\"'\u00E9\u20AC\U0001F600");
    QCOMPARE(table.rows.size(), 1000);
    QSet<QStringList> distinct;
    for (qsizetype i = 0; i < table.rows.size(); ++i) {
        QCOMPARE(table.rows.at(i).value(0), QStringLiteral("row-%1").arg(i + 2));
        distinct.insert(table.rows.at(i).mid(1));
    }
    QCOMPARE(distinct, QSet<QStringList>{{text}});

    const QJsonObject theirs = openpyxlReading().value(QStringLiteral("Entities")).toObject();
    QCOMPARE(theirs.value(QStringLiteral("rows")).toInt(), 1000);
    const QJsonArray theirValues = theirs.value(QStringLiteral("values")).toArray();
    QCOMPARE(theirValues.size(), 1);
    QCOMPARE(texts(theirValues.first().toArray()), QStringList{text});
}

void TestXlsxReader::sheetsReadAsOpenpyxlReadsThem_data()
{
    // Whole sheets of scanner.xlsx against openpyxl's reading of them in
    // scanner.json, where rows without a value count as absent, as they do
    // here, and dates are written as the reader writes them.
    QTest::addColumn<QString>("sheet");
    QTest::newRow("rows and cells skipped") << QStringLiteral("Sparse");
    QTest::newRow("dates and times") << QStringLiteral("Dates");
}

void TestXlsxReader::sheetsReadAsOpenpyxlReadsThem()
{
    QFETCH(QString, sheet);

    DataSourceOptions options;
    options.worksheetName = sheet;
    ImportedTable table;
    QString error;
    QVERIFY2(readXlsxFile(fixture(QStringLiteral("scanner.xlsx")), options, &table, &error), qPrintable(error));

    QList<QStringList> theirs;
    for (const QJsonValue &value : openpyxlReading().value(sheet).toArray()) {
        const QStringList row = texts(value.toArray());
        if (!row.isEmpty())
            theirs.append(row);
    }
    QVERIFY(theirs.size() > 2);
    const QStringList theirHeader = theirs.takeFirst();
    // Our header also names the columns that only data rows reach (Field 3, ...).
    QCOMPARE(table.header.mid(0, theirHeader.size()), theirHeader);
    QCOMPARE(table.rows, theirs);
}

void TestXlsxReader::scannerReadsWhatWritersWrite_data()
{
    // Every part the fixtures' writers wrote is the scanner's alone: none
    // goes to the slower XML reader.
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("part");
    auto add = [](const char *workbook, const char *part) {
        QTest::addRow("%s %s", workbook, part) << fixture(QString::fromLatin1(workbook)) << QString::fromLatin1(part);
    };
    add("values.xlsx", "xl/worksheets/sheet1.xml");
    add("sharedstrings.xlsx", "xl/worksheets/sheet1.xml");
    add("sharedstrings.xlsx", "xl/sharedStrings.xml");
    for (const char *sheet : {"xl/worksheets/sheet1.xml", "xl/worksheets/sheet2.xml", "xl/worksheets/sheet3.xml",
                              "xl/worksheets/sheet4.xml", "xl/worksheets/sheet5.xml"})
        add("layout.xlsx", sheet);
    for (const char *part : {"xl/worksheets/sheet1.xml", "xl/worksheets/sheet2.xml", "xl/worksheets/sheet3.xml",
                             "xl/worksheets/sheet4.xml", "xl/worksheets/sheet5.xml", "xl/sharedStrings.xml"})
        add("scanner.xlsx", part);
    add("hostile/data-descriptors.xlsx", "xl/worksheets/sheet1.xml");
}

void TestXlsxReader::scannerReadsWhatWritersWrite()
{
    QFETCH(QString, path);
    QFETCH(QString, part);
    QVERIFY(scannerReadsAll(packagePart(path, part)));
}

void TestXlsxReader::xmlReadingsAgree_data()
{
    // XlsxSheetReader with the scanner and with XlsxXmlReader alone: the same
    // tables, or the same messages, for what the scanner reads and for what
    // it leaves to the XML reader.
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("sheet");

    const QString sheet1 = QStringLiteral("xl/worksheets/sheet1.xml");
    QTest::newRow("values.xlsx") << fixture(QStringLiteral("values.xlsx")) << sheet1;
    QTest::newRow("sharedstrings.xlsx") << fixture(QStringLiteral("sharedstrings.xlsx")) << sheet1;
    QTest::newRow("layout.xlsx") << fixture(QStringLiteral("layout.xlsx")) << sheet1;
    for (const char *sheet : {"sheet1", "sheet2", "sheet3", "sheet4", "sheet5"})
        QTest::addRow("scanner.xlsx %s", sheet)
            << fixture(QStringLiteral("scanner.xlsx")) << QStringLiteral("xl/worksheets/%1.xml").arg(QLatin1StringView(sheet));

    const QByteArray header = inlineRow({QStringLiteral("h")});
    for (const ReportedXml &reported : reportedXml()) {
        QTest::addRow("worksheet: %s", reported.tag) << writePackage(workbookParts(reported.xml)) << sheet1;
        QTest::addRow("shared strings: %s", reported.tag)
            << writePackage(withPart(workbookParts(worksheetXml(header)), QStringLiteral("xl/sharedStrings.xml"),
                                     reported.xml))
            << sheet1;
    }
    for (const auto &[tag, xml] : refusedXml()) {
        QTest::addRow("worksheet: %s", tag) << writePackage(workbookParts(xml)) << sheet1;
        QTest::addRow("shared strings: %s", tag)
            << writePackage(withPart(workbookParts(worksheetXml(header)), QStringLiteral("xl/sharedStrings.xml"), xml))
            << sheet1;
    }
}

void TestXlsxReader::xmlReadingsAgree()
{
    QFETCH(QString, path);
    QFETCH(QString, sheet);
    using Reading = XlsxSheetReader::XmlReading;

    XlsxPackage package;
    QVERIFY(package.open(path, nullptr));
    XlsxSheetReader ours(package, Reading::Scanner);
    XlsxSheetReader theirs(package, Reading::XmlReaderOnly);
    QString ourError;
    QString theirError;
    const std::optional<QStringList> ourStrings = ours.sharedStrings(&ourError);
    const std::optional<QStringList> theirStrings = theirs.sharedStrings(&theirError);
    QCOMPARE(ourStrings, theirStrings);
    QCOMPARE(ourError, theirError);
    if (!ourStrings)
        return;

    const QList<CellFormatInfo> formats = {{}, {true, true, false}};
    for (const qsizetype maxRows : {qsizetype(-1), qsizetype(1), qsizetype(0)}) {
        ImportedTable ourTable;
        ImportedTable theirTable;
        const bool ourOk = ours.worksheet(sheet, *ourStrings, formats, maxRows, &ourTable, &ourError);
        const bool theirOk = theirs.worksheet(sheet, *ourStrings, formats, maxRows, &theirTable, &theirError);
        QCOMPARE(described(ourOk, ourTable, ourError), described(theirOk, theirTable, theirError));
    }
}

void TestXlsxReader::valuesAsTheWorkbookHoldsThem_data()
{
    // Every stored cell, read with the scanner and with XlsxXmlReader alone.
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("worksheet");
    QTest::addColumn<Table>("expected");

    // openpyxl writes integers as digits and floats in their shortest form;
    // beyond 2^53 it writes a float (1.234567890123457e+18).
    QTest::newRow("numbers") << written("numbers.xlsx") << QString()
                             << Table{{"Card", "Negative", "ISBN", "Nineteen", "Float", "Large", "Date"},
                                      {"4000123412341234", "-12", "9780306406157", "1.23456789012346e+18", "0.3",
                                       "1e+20", "2023-03-15"},
                                      {"-4000123412341234", "0", "1", "-9.22337203685478e+18", "2.5",
                                       "123456789.123457", "2023-03-16"}};

    QTest::newRow("hidden first sheet, read by default")
        << written("hidden.xlsx") << QString() << Table{{"Name"}, {"Alice"}};
    QTest::newRow("hidden sheet, read by name") << written("hidden.xlsx") << "Lookup" << Table{{"Code"}, {"L1"}};
    QTest::newRow("very hidden sheet, read by name") << written("hidden.xlsx") << "Secret" << Table{{"Key"}, {"S1"}};

    // Columns: 18 to 21, custom times with hh, 12 hours and a/p, times
    // without an hour (custom m:ss, built-in 45 and 46), then date and time
    // (22 and custom). Rows: 0.75, 0.25, 0, 0.5, 45000.75, 0.99999.
    QTest::newRow("times of day")
        << written("times.xlsx") << QString()
        << Table{{"h:mm AM/PM", "h:mm:ss AM/PM", "h:mm", "h:mm:ss", "hh:mm", "[$-409]hh:mm:ss AM/PM", "h:mm a/p",
                  "m:ss", "mm:ss", "[h]:mm:ss", "m/d/yy h:mm", "yyyy-mm-dd h:mm"},
                 {"6:00 PM", "6:00:00 PM", "18:00", "18:00:00", "18:00", "06:00:00 PM", "6:00 PM", "18:00:00",
                  "18:00:00", "18:00:00", "1899-12-31 18:00:00", "1899-12-31 18:00:00"},
                 {"6:00 AM", "6:00:00 AM", "6:00", "6:00:00", "06:00", "06:00:00 AM", "6:00 AM", "06:00:00",
                  "06:00:00", "06:00:00", "1899-12-31 06:00:00", "1899-12-31 06:00:00"},
                 {"12:00 AM", "12:00:00 AM", "0:00", "0:00:00", "00:00", "12:00:00 AM", "12:00 AM", "00:00:00",
                  "00:00:00", "00:00:00", "1899-12-31 00:00:00", "1899-12-31 00:00:00"},
                 {"12:00 PM", "12:00:00 PM", "12:00", "12:00:00", "12:00", "12:00:00 PM", "12:00 PM", "12:00:00",
                  "12:00:00", "12:00:00", "1899-12-31 12:00:00", "1899-12-31 12:00:00"},
                 {"6:00 PM", "6:00:00 PM", "18:00", "18:00:00", "18:00", "06:00:00 PM", "6:00 PM", "18:00:00",
                  "18:00:00", "18:00:00", "2023-03-15 18:00:00", "2023-03-15 18:00:00"},
                 {"11:59 PM", "11:59:59 PM", "23:59", "23:59:59", "23:59", "11:59:59 PM", "11:59 PM", "23:59:59",
                  "23:59:59", "23:59:59", "1899-12-31 23:59:59", "1899-12-31 23:59:59"}};

    // Serial 0 is 1 January 1904 and serial 60 is 1 March 1904: no leap day
    // of 1900 to make up for.
    QTest::newRow("1904 date system")
        << written("mac1904.xlsx") << QString()
        << Table{{"Date", "Start", "Origin", "Time"},
                 {"2024-02-29", "2023-03-15 12:00:00", "1904-01-01", "18:00:00"},
                 {"1999-12-31", "1904-01-02 06:30:15", "1904-03-01", "6:05:09"}};

    QTest::newRow("phonetic runs of shared strings")
        << written("phonetic.xlsx") << QString()
        << Table{{"Name", "Family"}, {QStringLiteral("漢字"), QStringLiteral("山田")}};

    QTest::newRow("phonetic runs of inline strings")
        << writePackage(workbookParts(worksheetXml(
               inlineRow({"Name", "Family"})
               + "<row><c t=\"inlineStr\"><is><t>漢字</t><rPh sb=\"0\" eb=\"2\"><t>かんじ</t></rPh>"
                 "<phoneticPr fontId=\"1\"/></is></c>"
                 "<c t=\"inlineStr\"><is><r><t>山</t></r><rPh sb=\"0\" eb=\"1\"><t>やま</t></rPh>"
                 "<r><t>田</t></r></is></c></row>")))
        << QString() << Table{{"Name", "Family"}, {QStringLiteral("漢字"), QStringLiteral("山田")}};

    // The flag as an xsd:boolean, in the main namespace with a prefix.
    const QByteArray dateStyles = "<styleSheet><cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/></cellXfs></styleSheet>";
    const QByteArray dates = worksheetXml(inlineRow({"Date"}) + "<row><c s=\"1\"><v>0</v></c></row>"
                                                                "<row><c s=\"1\"><v>61</v></c></row>");
    auto withDateFlag = [&](const QByteArray &flag) {
        QByteArray workbook = workbookXml({"Sheet1"});
        const QByteArray properties = "<x:workbookPr xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                                      + flag + "/><sheets>";
        workbook.replace("<sheets>", properties);
        return writePackage(withPart(withPart(workbookParts(dates), QStringLiteral("xl/styles.xml"), dateStyles),
                                     QStringLiteral("xl/workbook.xml"), workbook));
    };
    const Table from1904 = {{"Date"}, {"1904-01-01"}, {"1904-03-02"}};
    const Table from1900 = {{"Date"}, {"1899-12-31"}, {"1900-03-01"}};
    QTest::newRow("date1904 true") << withDateFlag("date1904=\"true\"") << QString() << from1904;
    QTest::newRow("date1904 1") << withDateFlag("date1904=\"1\"") << QString() << from1904;
    QTest::newRow("date1904 0") << withDateFlag("date1904=\"0\"") << QString() << from1900;
    QTest::newRow("date1904 false") << withDateFlag("date1904=\"false\"") << QString() << from1900;
    QTest::newRow("no date1904") << withDateFlag("") << QString() << from1900;
}

void TestXlsxReader::valuesAsTheWorkbookHoldsThem()
{
    QFETCH(QString, path);
    QFETCH(QString, worksheet);
    QFETCH(Table, expected);
    using Reading = XlsxSheetReader::XmlReading;

    DataSourceOptions options;
    options.worksheetName = worksheet;
    for (const Reading reading : {Reading::Scanner, Reading::XmlReaderOnly}) {
        ImportedTable table;
        QString error;
        QVERIFY2(readXlsxWorkbook(path, options, &table, &error, -1, {}, reading), qPrintable(error));
        QCOMPARE(table.header, expected.first());
        QCOMPARE(table.rows, expected.mid(1));
    }
}

void TestXlsxReader::worksheetVisibility_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QString>("defaultHeader");

    QTest::newRow("written by openpyxl")
        << written("hidden.xlsx") << QStringList{"Lookup (hidden)", "Members", "Secret (very hidden)"} << "Name";

    auto workbook = [&](const QByteArrayList &states) {
        QByteArrayList sheets;
        QList<std::pair<QByteArray, QByteArray>> targets;
        Parts parts;
        for (qsizetype i = 0; i < states.size(); ++i) {
            const QByteArray n = QByteArray::number(i + 1);
            // workbookXml() quotes the name: the state attribute goes in
            // after it, and an unused one takes the closing quote.
            sheets.append("S" + n + "\"" + states.at(i) + " x=\"");
            targets.append({"rId" + n, "worksheets/sheet" + n + ".xml"});
            parts.insert(QStringLiteral("xl/worksheets/sheet%1.xml").arg(i + 1),
                         worksheetXml(inlineRow({QStringLiteral("from S%1").arg(i + 1)})));
        }
        parts.insert(QStringLiteral("xl/workbook.xml"), workbookXml(sheets));
        parts.insert(QStringLiteral("xl/_rels/workbook.xml.rels"), relationshipsXml(targets));
        return writePackage(parts);
    };
    // No visible sheet: the first is read. The state is compared exactly;
    // anything but hidden and veryHidden shows the sheet.
    QTest::newRow("all hidden")
        << workbook({" state=\"hidden\"", " state=\"veryHidden\""})
        << QStringList{"S1 (hidden)", "S2 (very hidden)"} << "from S1";
    QTest::newRow("other states are visible")
        << workbook({" state=\"Hidden\"", " state=\"veryhidden\"", " state=\"visible\"", ""})
        << QStringList{"S1", "S2", "S3", "S4"} << "from S1";
    QTest::newRow("visible sheet after hidden ones")
        << workbook({" state=\"veryHidden\"", " state=\"hidden\"", "", " state=\"hidden\""})
        << QStringList{"S1 (very hidden)", "S2 (hidden)", "S3", "S4 (hidden)"} << "from S3";
}

void TestXlsxReader::worksheetVisibility()
{
    QFETCH(QString, path);
    QFETCH(QStringList, labels);
    QFETCH(QString, defaultHeader);

    QString error;
    const QList<WorksheetEntry> sheets = listWorksheets(path, &error);
    QStringList listed;
    for (const WorksheetEntry &sheet : sheets)
        listed.append(worksheetLabel(sheet));
    QCOMPARE(listed, labels);
    QCOMPARE(error, QString());

    // The reader's default is the sheet that defaultWorksheetIndex names,
    // which the import dialog and the command line store.
    const qsizetype index = defaultWorksheetIndex(sheets);
    QVERIFY(index >= 0);
    ImportedTable table;
    QVERIFY2(readXlsxFile(path, {}, &table, &error), qPrintable(error));
    QCOMPARE(table.header, QStringList{defaultHeader});
    DataSourceOptions named;
    named.worksheetName = sheets.at(index).name;
    ImportedTable byName;
    QVERIFY2(readXlsxFile(path, named, &byName, &error), qPrintable(error));
    QCOMPARE(byName.header, table.header);
}

QTEST_GUILESS_MAIN(TestXlsxReader)
#include "tst_xlsxreader.moc"
