// libFuzzer harness of the Excel reader. Two kinds of input:
//
// - A ZIP archive (starting "PK"): written to a temporary .xlsx file and read
//   as a whole, as the import dialog's 25-row preview, cancelled part way, and
//   for its worksheet names; its xl/worksheets/sheet1.xml and shared strings are also read
//   both ways, as below.
// - Anything else is XML: the worksheet, then after a NUL byte (when there is
//   one) the shared strings; it also drives the XmlGenerator below. Findings
//   abort:
//   - XlsxSheetScanner against XlsxXmlReader on each part's XML: where the
//     scanner reads a part to its end, XlsxXmlReader must report the same
//     elements, attributes and texts, without an error;
//   - the scanner fed in pieces of every size against the scanner fed the
//     whole: the same reports, the same verdict;
//   - a workbook of both parts, read by XlsxSheetReader with the scanner and
//     with XlsxXmlReader alone: the same table or the same message, read as a
//     whole, as a preview and as the header alone; for one input in eight
//     also with the sheet padded to be extracted on a thread of its own.

#include "import/tablereader.h"
#include "import/xlsxpackage.h"
#include "import/xlsxsheetreader.h"
#include "import/xlsxsheetscanner.h"
#include "import/xlsxxmlreader.h"

#include <QtGui/private/qzipwriter_p.h>

#include <QBuffer>
#include <QDir>
#include <QTemporaryFile>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>

// Every package read allocates buffers of 64 KiB, and ASan's default
// quarantine of 256 MiB hands out fresh pages for each: page faults made up
// most of the time of a run. A smaller quarantine still catches a use after
// free within one input.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=16";
}

namespace {

// QZipReader warns on stderr about every damaged archive; at thousands of
// inputs a second that drowns libFuzzer's own output.
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

[[noreturn]] void mismatch(const char *what, const QString &ours, const QString &theirs)
{
    std::fprintf(stderr, "MISMATCH (%s)\n  scanner: %s\n  reader:  %s\n", what,
                 qPrintable(ours.left(2000)), qPrintable(theirs.left(2000)));
    std::abort();
}

bool collects(QStringView name)
{
    return name == u"v" || name == u"t";
}

// What the scanner reports, as one text: tags with their attributes, and the
// text collected from v and t elements.
class Recorder : public XlsxSheetScanner::Handler
{
public:
    QString log;

    QString *startElement(QByteArrayView name, const XlsxSheetScanner::Attributes &attributes) override
    {
        flush();
        const QString local = QString::fromLatin1(name);
        log += u'<' + local;
        for (const XlsxSheetScanner::Attribute &attribute : attributes)
            log += u' ' + QString::fromLatin1(attribute.name) + u'=' + XlsxSheetScanner::value(attribute);
        log += u'>';
        if (!collects(local))
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

// The same from XlsxXmlReader; false on an XML error.
bool readerLog(const QByteArray &xmlData, QString *log, QString *error)
{
    XlsxXmlReader xml(xmlData);
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QString local = xml.name().toString();
            *log += u'<' + local;
            const QXmlStreamAttributes attributes = xml.attributes();
            for (const QXmlStreamAttribute &attribute : attributes)
                *log += u' ' + attribute.qualifiedName().toString() + u'=' + attribute.value().toString();
            *log += u'>';
            if (collects(local)) {
                QString text;
                xml.appendElementText(text);
                *log += u'{' + text + u'}';
            }
        } else if (token == QXmlStreamReader::EndElement) {
            *log += QStringLiteral("</") + xml.name().toString() + u'>';
        }
    }
    *error = xml.errorString();
    return !xml.hasError();
}

// Scans `xmlData` in pieces of the sizes `pieceSize` gives; the verdict and
// the log.
template <typename PieceSize>
std::pair<bool, QString> scanned(const QByteArray &xmlData, PieceSize pieceSize)
{
    Recorder recorder;
    XlsxSheetScanner scanner(&recorder);
    for (qsizetype at = 0; at < xmlData.size();) {
        const qsizetype size = qMin(pieceSize(), xmlData.size() - at);
        scanner.feed(QByteArrayView(xmlData).sliced(at, size));
        at += size;
    }
    const bool read = scanner.finish();
    recorder.flush();
    return {read, recorder.log};
}

void checkScanner(const QByteArray &xmlData)
{
    const auto [read, log] = scanned(xmlData, [&] { return xmlData.size() + 1; });

    // Pieces of 1 byte (for inputs small enough to afford it), and of sizes
    // from a generator seeded by the input.
    if (xmlData.size() <= 4096) {
        const auto [readBytewise, logBytewise] = scanned(xmlData, [] { return qsizetype(1); });
        if (readBytewise != read || logBytewise != log)
            mismatch("bytewise", logBytewise + (readBytewise ? u" read" : u" unsupported"),
                     log + (read ? u" read" : u" unsupported"));
    }
    quint32 state = quint32(qHash(xmlData)) | 1;
    const auto [readPieces, logPieces] = scanned(xmlData, [&] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return qsizetype(1 + state % 97);
    });
    if (readPieces != read || logPieces != log)
        mismatch("pieces", logPieces + (readPieces ? u" read" : u" unsupported"),
                 log + (read ? u" read" : u" unsupported"));

    if (!read)
        return;
    QString theirs;
    QString error;
    if (!readerLog(xmlData, &theirs, &error))
        mismatch("reader refuses what the scanner read", log, error);
    if (theirs != log)
        mismatch("reports", log, theirs);
}

// Mutated XML is rarely well-formed, and the scanner reads only well-formed
// XML, so each input also drives a generator of XML that mostly is: the
// input's bytes choose the elements, attributes, quotes, white space, texts,
// references, CDATA, comments and processing instructions, and now and then
// a raw byte.
class XmlGenerator
{
public:
    explicit XmlGenerator(QByteArrayView choices) : choices(choices) {}

    QByteArray document()
    {
        if (pick(4) == 0)
            xml += "\xEF\xBB\xBF";
        static const char *const declarations[] = {
            "", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n",
            "<?xml version='1.0' encoding='utf-8'?>", "<?xml  version = \"1.0\" ?>\n"};
        xml += declarations[pick(4)];
        misc();
        element(0);
        misc();
        return xml;
    }

private:
    unsigned pick(unsigned count)
    {
        if (at >= choices.size())
            return 0;
        return static_cast<unsigned char>(choices[at++]) % count;
    }

    void misc()
    {
        for (unsigned n = pick(3); n > 0; --n) {
            static const char *const items[] = {" ", "\r\n", "<!-- c -->", "<?pi data?>", "\t"};
            xml += items[pick(5)];
        }
    }

    void text()
    {
        static const char *const pieces[] = {
            "a", "12", " ", "\r\n", "\r", "\n", "\t", "]", "]]", ">", "&amp;", "&lt;", "&gt;", "&quot;",
            "&apos;", "&#233;", "&#x1F600;", "&#10;", "&#13;", "&#93;", "&#x5d;", "\xC3\xA9", "\xE6\xBC\xA2",
            "\xF0\x9F\x98\x80", "<![CDATA[<x>&amp;]]>", "<![CDATA[]]]]>", "<!-- - -->", "<?p q?>", "-", "'", "\"",
            "0.30000000000000004", "1e20", "45000.5"};
        for (unsigned n = 1 + pick(4); n > 0; --n) {
            const unsigned choice = pick(36);
            if (choice < std::size(pieces))
                xml += pieces[choice];
            else if (at < choices.size())
                xml += choices[at++]; // anything at all
        }
    }

    void attributes(bool *usedNames)
    {
        static const char *const names[] = {"r", "t", "s", "xml:space", "x:r", "xmlns:x", "spans"};
        static const char *const values[] = {"A1", "B2", "s", "inlineStr", "str", "b", "1", "0", "preserve",
                                             "&#66;3", "&#115;", "a&amp;b", "a\r\nb", "x\ty", "XFD1", ""};
        for (unsigned n = pick(4); n > 0; --n) {
            const unsigned name = pick(7);
            if (usedNames[name])
                continue;
            usedNames[name] = true;
            const char quote = pick(2) ? '"' : '\'';
            xml += pick(5) == 0 ? "\n " : " ";
            xml += names[name];
            xml += pick(4) == 0 ? " = " : "=";
            xml += quote;
            xml += values[pick(16)];
            xml += quote;
        }
    }

    void element(int depth)
    {
        static const char *const names[] = {"worksheet", "sheetData", "row", "c", "v", "t", "is", "r",
                                            "rPh", "si", "sst", "x:c", "x:row", "x:v", "x:t", "f"};
        const char *name = names[pick(16)];
        xml += '<';
        xml += name;
        bool usedNames[7] = {};
        attributes(usedNames);
        if (pick(3) == 0)
            xml += ' ';
        if (pick(4) == 0) {
            xml += "/>";
            return;
        }
        xml += '>';
        for (unsigned n = pick(5); n > 0; --n) {
            if (depth < 6 && pick(2))
                element(depth + 1);
            else
                text();
        }
        xml += "</";
        xml += name;
        xml += pick(5) == 0 ? " >" : ">";
    }

    QByteArrayView choices;
    qsizetype at = 0;
    QByteArray xml;
};

QString describe(bool ok, const ImportedTable &table, const QString &error)
{
    if (!ok)
        return QStringLiteral("error: ") + error;
    QString text = table.header.join(u'|');
    for (const QStringList &row : table.rows)
        text += u'\n' + row.join(u'|');
    return text;
}

// The shared strings and sheet1 of a package, read with the scanner and with
// XlsxXmlReader alone.
void checkSheetReader(const QString &path)
{
    using Reading = XlsxSheetReader::XmlReading;
    XlsxPackage package;
    if (!package.open(path, nullptr))
        return;
    XlsxSheetReader ours(package, Reading::Scanner);
    XlsxSheetReader theirs(package, Reading::XmlReaderOnly);

    QString ourError;
    QString theirError;
    const std::optional<QStringList> ourStrings = ours.sharedStrings(&ourError);
    const std::optional<QStringList> theirStrings = theirs.sharedStrings(&theirError);
    const QString ourText = ourStrings ? ourStrings->join(u'|') : QStringLiteral("error: ") + ourError;
    const QString theirText = theirStrings ? theirStrings->join(u'|') : QStringLiteral("error: ") + theirError;
    if (ourText != theirText || ourStrings.has_value() != theirStrings.has_value())
        mismatch("shared strings", ourText, theirText);
    if (!ourStrings)
        return;

    // No style, then a date, a date and time, a time as HH:mm:ss, and times
    // of day as h:mm AM/PM and hh:mm:ss.
    CellFormatInfo twelveHours{true, false, true};
    twelveHours.clock = twelveHours.twelveHour = true;
    CellFormatInfo withSeconds{true, false, true};
    withSeconds.clock = withSeconds.twoDigitHour = withSeconds.withSeconds = true;
    const QList<CellFormatInfo> formats = {{},          {true, true, false}, {true, true, true}, {true, false, true},
                                           twelveHours, withSeconds};
    const QString sheet = QStringLiteral("xl/worksheets/sheet1.xml");
    for (const qsizetype maxRows : {qsizetype(-1), qsizetype(25), qsizetype(0)}) {
        ImportedTable ourTable;
        ImportedTable theirTable;
        const bool ourOk = ours.worksheet(sheet, *ourStrings, formats, maxRows, &ourTable, &ourError);
        const bool theirOk = theirs.worksheet(sheet, *ourStrings, formats, maxRows, &theirTable, &theirError);
        const QString ourResult = describe(ourOk, ourTable, ourError);
        const QString theirResult = describe(theirOk, theirTable, theirError);
        if (ourResult != theirResult)
            mismatch("worksheet", ourResult, theirResult);
    }
}

bool writeFile(QTemporaryFile &file, const QByteArray &bytes)
{
    if (!file.open())
        return false;
    file.write(bytes);
    file.close();
    return true;
}

const char workbook[] =
    "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
    "<sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
const char relationships[] =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Target=\"worksheets/sheet1.xml\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\"/>"
    "</Relationships>";

// A stored package of the workbook above, the sheet and, when there are any,
// the shared strings.
QByteArray package(const QByteArray &sheet, const std::optional<QByteArray> &sharedStrings)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QZipWriter writer(&buffer);
    // Stored: deflating costs more than the rest of a run. ZIP inputs and
    // the tests cover inflating.
    writer.setCompressionPolicy(QZipWriter::NeverCompress);
    writer.addFile(QStringLiteral("xl/workbook.xml"), workbook);
    writer.addFile(QStringLiteral("xl/_rels/workbook.xml.rels"), relationships);
    writer.addFile(QStringLiteral("xl/worksheets/sheet1.xml"), sheet);
    if (sharedStrings)
        writer.addFile(QStringLiteral("xl/sharedStrings.xml"), *sharedStrings);
    writer.close();
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    qInstallMessageHandler(quiet);
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    QTemporaryFile file(QDir::temp().filePath(QStringLiteral("fuzz-xlsx-XXXXXX.xlsx")));

    if (input.startsWith("PK")) {
        if (!writeFile(file, input))
            return 0;
        ImportedTable table;
        QString error;
        readXlsxFile(file.fileName(), DataSourceOptions(), &table, &error, -1);
        readXlsxFile(file.fileName(), DataSourceOptions(), &table, &error, 25);
        // Cancelled at the third check: reading ends mid-part, wherever that falls.
        int asked = 0;
        readXlsxFile(file.fileName(), DataSourceOptions(), &table, &error, -1, [&asked] { return ++asked == 3; });
        listWorksheetNames(file.fileName(), &error);
        checkSheetReader(file.fileName());
        // The whole read, styles and date system included, both ways.
        using Reading = XlsxSheetReader::XmlReading;
        ImportedTable theirTable;
        QString theirError;
        const bool ourOk = readXlsxWorkbook(file.fileName(), {}, &table, &error, -1, {}, Reading::Scanner);
        const bool theirOk =
            readXlsxWorkbook(file.fileName(), {}, &theirTable, &theirError, -1, {}, Reading::XmlReaderOnly);
        const QString ourResult = describe(ourOk, table, error);
        const QString theirResult = describe(theirOk, theirTable, theirError);
        if (ourResult != theirResult)
            mismatch("workbook", ourResult, theirResult);
        return 0;
    }

    const qsizetype split = input.indexOf('\0');
    const QByteArray sheet = split < 0 ? input : input.left(split);
    checkScanner(sheet);
    checkScanner(XmlGenerator(input).document());
    if (split >= 0)
        checkScanner(input.mid(split + 1));

    const std::optional<QByteArray> sharedStrings =
        split < 0 ? std::nullopt : std::optional<QByteArray>(input.mid(split + 1));
    if (!writeFile(file, package(sheet, sharedStrings)))
        return 0;
    checkSheetReader(file.fileName());
    ImportedTable table;
    QString error;
    readXlsxFile(file.fileName(), DataSourceOptions(), &table, &error, 25);

    // One input in eight again with the sheet followed by white space past
    // XlsxPackage::threadedMinimum, so that the scanner's reading is
    // extracted on a thread of its own (XlsxXmlReader's never is).
    if (qHash(input) % 8 == 0) {
        const QByteArray padded = sheet + QByteArray(XlsxPackage::threadedMinimum, ' ');
        QTemporaryFile large(QDir::temp().filePath(QStringLiteral("fuzz-xlsx-XXXXXX.xlsx")));
        if (writeFile(large, package(padded, sharedStrings)))
            checkSheetReader(large.fileName());
    }
    return 0;
}
