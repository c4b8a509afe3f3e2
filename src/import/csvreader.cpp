#include "import/csvparser.h"
#include "import/csvutf8parser.h"
#include "model/headernames.h"
#include "import/tablereader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringDecoder>

#include <cstring>
#include <limits>

namespace {

// Detection never looks further than this; the file is streamed afterwards.
constexpr qsizetype kSampleBytes = 65536;
constexpr qsizetype kChunkSize = 262144;
// A larger file is refused before it is read: its rows alone would take
// twice its size in memory, and the store's copy as much again.
constexpr qint64 kMaxFileSize = qint64(2) * 1024 * 1024 * 1024;

constexpr QByteArrayView kUtf8Bom("\xEF\xBB\xBF");
constexpr QByteArrayView kUtf16LeBom("\xFF\xFE");
constexpr QByteArrayView kUtf16BeBom("\xFE\xFF");
// The whole file is read once before parsing, to settle its encoding and
// find NUL bytes, in pieces of this size.
constexpr qsizetype kScanChunk = 1024 * 1024;

// How files that are not text begin: a workbook saved (or renamed) with a
// .csv name, and the other files a user may pick by mistake. Read as text
// they would import as rows of noise.
constexpr QByteArrayView kBinarySignatures[] = {
    QByteArrayView("PK\x03\x04"),                         // ZIP: xlsx, xlsm, ods
    QByteArrayView("PK\x05\x06"),                         // empty ZIP
    QByteArrayView("PK\x07\x08"),                         // spanned ZIP
    QByteArrayView("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"), // OLE2: xls
    QByteArrayView("%PDF-"),
    QByteArrayView("\x89PNG\r\n\x1A\n"),
    QByteArrayView("\xFF\xD8\xFF"), // JPEG
    QByteArrayView("GIF87a"),
    QByteArrayView("GIF89a"),
    QByteArrayView("\x1F\x8B"), // gzip
};

// Bytes 80-9F, from the WHATWG Encoding Standard's index-windows-1252; the
// five bytes it leaves undefined map to the C1 control of the same value.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

enum class TextMode { Utf8, Windows1252, Utf16Le, Utf16Be };

QString encodingName(TextMode mode)
{
    switch (mode) {
    case TextMode::Utf8: return QStringLiteral("UTF-8");
    case TextMode::Windows1252: return QStringLiteral("Windows-1252");
    case TextMode::Utf16Le: return QStringLiteral("UTF-16LE");
    case TextMode::Utf16Be: return QStringLiteral("UTF-16BE");
    }
    return {};
}

bool isUtf16(TextMode mode)
{
    return mode == TextMode::Utf16Le || mode == TextMode::Utf16Be;
}

// The byte order mark the reader drops at the start of a file read in
// `mode`: the UTF-8 one also in Windows-1252 mode, where those three bytes
// can only be a mark.
qsizetype byteOrderMarkSize(QByteArrayView start, TextMode mode)
{
    switch (mode) {
    case TextMode::Utf8:
    case TextMode::Windows1252: return start.startsWith(kUtf8Bom) ? kUtf8Bom.size() : 0;
    case TextMode::Utf16Le: return start.startsWith(kUtf16LeBom) ? kUtf16LeBom.size() : 0;
    case TextMode::Utf16Be: return start.startsWith(kUtf16BeBom) ? kUtf16BeBom.size() : 0;
    }
    return 0;
}

// UTF-16 bytes to text, a chunk at a time: an odd byte or a high surrogate
// at the end of a chunk waits for the next one. A surrogate without its
// partner becomes U+FFFD, so the text is always valid and converts to UTF-8
// and back unchanged.
class Utf16Decoder
{
public:
    explicit Utf16Decoder(bool bigEndian) : m_bigEndian(bigEndian) {}

    // The text of `bytes`, without what is held back for the next chunk.
    void decode(QByteArrayView bytes, QString &out)
    {
        out.resize(bytes.size() / 2 + 2);
        auto *const begin = reinterpret_cast<char16_t *>(out.data());
        char16_t *o = begin;
        const auto *p = reinterpret_cast<const uchar *>(bytes.data());
        const uchar *const end = p + bytes.size();
        if (m_oddByte >= 0 && p < end) {
            o = put(unit(uchar(m_oddByte), *p++), o);
            m_oddByte = -1;
        }
        for (; end - p >= 2; p += 2)
            o = put(unit(p[0], p[1]), o);
        if (p < end)
            m_oddByte = *p;
        out.resize(o - begin);
    }

    // What was held back when the file ends.
    QString finish()
    {
        QString rest;
        if (m_highSurrogate)
            rest += QChar::ReplacementCharacter;
        if (m_oddByte >= 0)
            rest += QChar::ReplacementCharacter;
        m_highSurrogate = 0;
        m_oddByte = -1;
        return rest;
    }

private:
    char16_t unit(uchar first, uchar second) const
    {
        return m_bigEndian ? char16_t(first << 8 | second) : char16_t(second << 8 | first);
    }

    char16_t *put(char16_t c, char16_t *o)
    {
        if (m_highSurrogate) {
            if (QChar::isLowSurrogate(c)) {
                *o++ = m_highSurrogate;
                *o++ = c;
                m_highSurrogate = 0;
                return o;
            }
            *o++ = QChar::ReplacementCharacter;
            m_highSurrogate = 0;
        }
        if (QChar::isHighSurrogate(c))
            m_highSurrogate = c;
        else
            *o++ = QChar::isLowSurrogate(c) ? char16_t(QChar::ReplacementCharacter) : c;
        return o;
    }

    bool m_bigEndian;
    int m_oddByte = -1;
    char16_t m_highSurrogate = 0;
};

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

// Qt's stateful UTF-8 decoder drops the byte that follows an invalid
// sequence ending one call, so the text is decoded in pieces that each end on
// a character boundary, every piece on its own. The flag keeps a U+FEFF inside
// the text; the reader removes the byte order mark at the start itself.
QStringDecoder pieceDecoder()
{
    return QStringDecoder(QStringDecoder::Utf8,
                          QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
}

// The length of `bytes` without a UTF-8 sequence cut off at its end.
qsizetype completeUtf8Length(QByteArrayView bytes)
{
    const qsizetype size = bytes.size();
    for (qsizetype back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<uchar>(bytes[size - back]);
        if ((byte & 0xC0) == 0x80)
            continue;
        const qsizetype length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? size - back : size;
    }
    return size;
}

// Scores each candidate by the width of the first row it parses the sample
// into; ties go to the earlier candidate, and `,` wins when nothing parses.
char16_t detectDelimiter(QStringView sampleText)
{
    sampleText = sampleText.left(kSampleBytes);
    char16_t best = u',';
    qsizetype bestScore = 0;
    for (const char16_t candidate : {u',', u';', u'\t'}) {
        // The first kept row is all that is scored, so parsing stops there.
        CsvParser parser(candidate, 1);
        parser.feed(sampleText);
        parser.finish(CsvParser::TextEnd::Cut);
        // A first row too wide to keep is still the widest one.
        const qsizetype score = parser.tooManyColumns() ? CsvParser::maxColumns + 1
                                : parser.rows().isEmpty() ? 0
                                                          : parser.rows().constFirst().size();
        if (score > bestScore) {
            best = candidate;
            bestScore = score;
        }
    }
    return best;
}

char16_t chooseDelimiter(const QString &option, QStringView sampleText)
{
    const QString name = option.toLower();
    if (name == u"comma")
        return u',';
    if (name == u"semicolon")
        return u';';
    if (name == u"tab")
        return u'\t';
    return detectDelimiter(sampleText);
}

void decodeWindows1252Into(QByteArrayView bytes, char16_t *out)
{
    for (const char byte : bytes) {
        const auto value = static_cast<uchar>(byte);
        *out++ = (value >= 0x80 && value < 0xA0) ? kWindows1252High[value - 0x80] : char16_t(value);
    }
}

QString failureMessage(CsvParser::Failure failure, qsizetype quoteLine, qsizetype maxRowText, qsizetype maxCells)
{
    const QLocale english(QLocale::English);
    const QString mebibytes = QStringLiteral("%1 MiB").arg(maxRowText / (1024 * 1024));
    switch (failure) {
    case CsvParser::Failure::None:
        break;
    case CsvParser::Failure::TooManyColumns:
        return QStringLiteral("The CSV file has more than %1 columns and cannot be imported safely")
            .arg(english.toString(CsvParser::maxColumns));
    case CsvParser::Failure::FieldTooLarge:
        return QStringLiteral("The CSV file has a field larger than %1 and cannot be imported safely").arg(mebibytes);
    case CsvParser::Failure::RowTooLarge:
        return QStringLiteral("The CSV file has a row larger than %1 and cannot be imported safely").arg(mebibytes);
    case CsvParser::Failure::TooManyCells:
        return QStringLiteral("The CSV file has more than %1 cells and cannot be imported safely")
            .arg(english.toString(maxCells));
    case CsvParser::Failure::UnclosedQuote:
        return QStringLiteral("The CSV file has a quoted field opened on line %1 that is never closed")
            .arg(quoteLine);
    }
    return {};
}

QString failureMessage(const CsvParser &parser)
{
    return failureMessage(parser.failure(), parser.quoteLine(), parser.maxRowText(), parser.maxCells());
}

// Streams the file through the parser in chunks of kChunkSize bytes. In
// UTF-8 mode, the bytes of a character cut by the end of a chunk are carried
// over to the front of the next one.
bool parseFile(QFile &file, TextMode mode, CsvParser &parser, QString *error)
{
    constexpr qsizetype kMaxCarry = 3;
    QByteArray raw(kChunkSize + kMaxCarry, Qt::Uninitialized);
    qsizetype carried = 0;
    QString text;
    QStringDecoder utf8 = pieceDecoder();
    Utf16Decoder utf16(mode == TextMode::Utf16Be);
    bool firstChunk = true;

    while (!parser.rowLimitReached() && !parser.failed()) {
        const qint64 count = file.read(raw.data() + carried, kChunkSize);
        if (count < 0)
            return fail(error, file.errorString());
        if (count == 0)
            break;
        QByteArrayView bytes(raw.constData(), carried + count);
        if (firstChunk)
            bytes = bytes.sliced(byteOrderMarkSize(bytes, mode));
        firstChunk = false;

        if (mode == TextMode::Windows1252) {
            text.resize(bytes.size());
            decodeWindows1252Into(bytes, reinterpret_cast<char16_t *>(text.data()));
            parser.feed(text);
            continue;
        }
        if (isUtf16(mode)) {
            utf16.decode(bytes, text);
            parser.feed(text);
            continue;
        }
        const QByteArrayView piece = bytes.first(completeUtf8Length(bytes));
        text.resize(utf8.requiredSpace(piece.size()));
        const QChar *end = utf8.appendToBuffer(text.data(), piece);
        parser.feed(QStringView(text.constData(), end));
        carried = bytes.size() - piece.size();
        std::memmove(raw.data(), piece.end(), carried);
    }

    // The file ended inside a character: its bytes decode to replacement
    // characters, as anywhere else in the file.
    if (carried > 0 && !parser.rowLimitReached() && !parser.failed())
        parser.feed(QString(utf8.decode(QByteArrayView(raw.constData(), carried))));
    if (isUtf16(mode) && !parser.rowLimitReached() && !parser.failed())
        parser.feed(utf16.finish());
    parser.finish();
    return true;
}

// Whether `bytes` is well-formed UTF-8 (no overlong forms, surrogates or
// values beyond U+10FFFF), which the decoder turns into UTF-16 and back
// unchanged. ASCII goes eight bytes at a time.
bool isWellFormedUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const uchar *const end = p + bytes.size();
    const auto continuation = [](uchar c) { return (c & 0xC0) == 0x80; };
    while (p < end) {
        if (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ULL) == 0) {
                p += 8;
                continue;
            }
        }
        const uchar c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        const qsizetype left = end - p;
        if (c >= 0xC2 && c <= 0xDF) {
            if (left < 2 || !continuation(p[1]))
                return false;
            p += 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            const uchar low = c == 0xE0 ? 0xA0 : 0x80;
            const uchar high = c == 0xED ? 0x9F : 0xBF;
            if (left < 3 || p[1] < low || p[1] > high || !continuation(p[2]))
                return false;
            p += 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            const uchar low = c == 0xF0 ? 0x90 : 0x80;
            const uchar high = c == 0xF4 ? 0x8F : 0xBF;
            if (left < 4 || p[1] < low || p[1] > high || !continuation(p[2]) || !continuation(p[3]))
                return false;
            p += 4;
        } else {
            return false;
        }
    }
    return true;
}

// Windows-1252 bytes as UTF-8, appended to `out`.
void appendWindows1252AsUtf8(QByteArrayView bytes, QByteArray &out)
{
    const qsizetype start = out.size();
    out.resize(start + 3 * bytes.size());
    char *o = out.data() + start;
    for (const char byte : bytes) {
        const auto value = static_cast<uchar>(byte);
        const char16_t c = (value >= 0x80 && value < 0xA0) ? kWindows1252High[value - 0x80] : char16_t(value);
        if (c < 0x80) {
            *o++ = char(c);
        } else if (c < 0x800) {
            *o++ = char(0xC0 | (c >> 6));
            *o++ = char(0x80 | (c & 0x3F));
        } else {
            *o++ = char(0xE0 | (c >> 12));
            *o++ = char(0x80 | ((c >> 6) & 0x3F));
            *o++ = char(0x80 | (c & 0x3F));
        }
    }
    out.resize(o - out.constData());
}

// parseFile for the UTF-8 parser: the same chunks and carried bytes, the
// same decoding. Well-formed text goes to the parser as it is; a piece
// with malformed bytes goes through the decoder, as in parseFile, and back
// to UTF-8, so that both parsers see the same characters.
bool parseFileUtf8(QFile &file, TextMode mode, Utf8CsvParser &parser, QString *error)
{
    constexpr qsizetype kMaxCarry = 3;
    QByteArray raw(kChunkSize + kMaxCarry, Qt::Uninitialized);
    qsizetype carried = 0;
    QByteArray text;
    QStringDecoder utf8 = pieceDecoder();
    Utf16Decoder utf16(mode == TextMode::Utf16Be);
    QString utf16Text;
    bool firstChunk = true;

    while (!parser.stopped() && !parser.failed()) {
        const qint64 count = file.read(raw.data() + carried, kChunkSize);
        if (count < 0)
            return fail(error, file.errorString());
        if (count == 0)
            break;
        QByteArrayView bytes(raw.constData(), carried + count);
        if (firstChunk)
            bytes = bytes.sliced(byteOrderMarkSize(bytes, mode));
        firstChunk = false;

        if (mode == TextMode::Windows1252) {
            text.resize(0);
            appendWindows1252AsUtf8(bytes, text);
            parser.feed(text);
            continue;
        }
        if (isUtf16(mode)) {
            utf16.decode(bytes, utf16Text);
            text = utf16Text.toUtf8();
            parser.feed(text);
            continue;
        }
        const QByteArrayView piece = bytes.first(completeUtf8Length(bytes));
        if (isWellFormedUtf8(piece)) {
            parser.feed(piece);
        } else {
            text = QString(utf8.decode(piece)).toUtf8();
            parser.feed(text);
        }
        carried = bytes.size() - piece.size();
        std::memmove(raw.data(), piece.end(), carried);
    }

    if (carried > 0 && !parser.stopped() && !parser.failed())
        parser.feed(QString(utf8.decode(QByteArrayView(raw.constData(), carried))).toUtf8());
    if (isUtf16(mode) && !parser.stopped() && !parser.failed())
        parser.feed(utf16.finish().toUtf8());
    parser.finish();
    return true;
}

QString binaryFileMessage(const QString &path)
{
    return QStringLiteral("%1 looks like an Excel workbook (or a binary file), not a CSV file")
        .arg(QDir::toNativeSeparators(path));
}

bool hasBinarySignature(QByteArrayView start)
{
    for (const QByteArrayView signature : kBinarySignatures) {
        if (start.startsWith(signature))
            return true;
    }
    return false;
}

struct ByteScan
{
    bool hasNul = false;
    bool wellFormedUtf8 = true;
};

// One pass over the whole file before any row is read: a NUL byte, which no
// CSV text holds, and whether every byte is well-formed UTF-8. An invalid
// byte in the last row decides the encoding of the first, and the 25-row
// preview must show the text the import will store. From the page cache it
// takes some 0.2 s per GiB.
bool scanBytes(QFile &file, ByteScan *scan, QString *error)
{
    constexpr qsizetype kMaxCarry = 3;
    QByteArray raw(kScanChunk + kMaxCarry, Qt::Uninitialized);
    qsizetype carried = 0;
    while (true) {
        const qint64 count = file.read(raw.data() + carried, kScanChunk);
        if (count < 0)
            return fail(error, file.errorString());
        if (count == 0)
            break;
        if (std::memchr(raw.constData() + carried, 0, size_t(count))) {
            scan->hasNul = true;
            break;
        }
        if (!scan->wellFormedUtf8)
            continue;
        // A character cut by the end of the piece is judged with the next one.
        const QByteArrayView bytes(raw.constData(), carried + count);
        const QByteArrayView piece = bytes.first(completeUtf8Length(bytes));
        scan->wellFormedUtf8 = isWellFormedUtf8(piece);
        carried = bytes.size() - piece.size();
        std::memmove(raw.data(), piece.end(), carried);
    }
    // The file ends inside a character.
    if (carried > 0)
        scan->wellFormedUtf8 = false;
    if (!file.seek(0))
        return fail(error, file.errorString());
    return true;
}

// The text delimiter detection looks at: the start of the file decoded as it
// will be read, without a byte order mark.
QString sampleText(QByteArrayView sample, TextMode mode, bool wholeFile)
{
    sample = sample.sliced(byteOrderMarkSize(sample, mode));
    switch (mode) {
    case TextMode::Utf8:
        if (!wholeFile)
            sample = sample.first(completeUtf8Length(sample));
        return pieceDecoder().decode(sample);
    case TextMode::Windows1252: return decodeWindows1252(sample);
    case TextMode::Utf16Le:
    case TextMode::Utf16Be: {
        Utf16Decoder decoder(mode == TextMode::Utf16Be);
        QString text;
        decoder.decode(sample, text);
        return text;
    }
    }
    return {};
}

// Opens `path` and settles its encoding and delimiter as readCsvFile does.
bool openCsvFile(QFile &file, const DataSourceOptions &options, TextMode *mode, char16_t *delimiter, QString *error)
{
    const QString path = file.fileName();
    if (!checkRegularFile(path, error))
        return false;
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, file.errorString());
    // Replaced by a device or a pipe since the check.
    if (file.isSequential())
        return fail(error, notRegularFileMessage(path));
    if (file.size() > kMaxFileSize)
        return fail(error, QStringLiteral("The CSV file is larger than 2 GiB and cannot be imported safely"));

    // UTF-16 takes two bytes a character: twice the bytes give the same
    // sample of text.
    const QByteArray sample = file.peek(2 * kSampleBytes);
    if (sample.isEmpty())
        return fail(error, QStringLiteral("The CSV file is empty"));
    if (hasBinarySignature(sample))
        return fail(error, binaryFileMessage(path));

    // A UTF-16 file says so with its byte order mark (Excel's "Unicode
    // Text"); its text is never UTF-8 or Windows-1252, whatever was chosen.
    const QString encoding = options.csvEncoding.toLower();
    if (sample.startsWith(kUtf16LeBom)) {
        *mode = TextMode::Utf16Le;
    } else if (sample.startsWith(kUtf16BeBom)) {
        *mode = TextMode::Utf16Be;
    } else {
        ByteScan scan;
        if (!scanBytes(file, &scan, error))
            return false;
        if (scan.hasNul)
            return fail(error, binaryFileMessage(path));
        if (encoding == u"windows-1252")
            *mode = TextMode::Windows1252;
        else if (encoding == u"auto" && !sample.startsWith(kUtf8Bom) && !scan.wellFormedUtf8)
            *mode = TextMode::Windows1252;
        else
            *mode = TextMode::Utf8;
    }

    const QByteArrayView detected =
        QByteArrayView(sample).first(qMin(sample.size(), isUtf16(*mode) ? 2 * kSampleBytes : kSampleBytes));
    *delimiter = chooseDelimiter(options.csvDelimiter, sampleText(detected, *mode, file.size() == detected.size()));
    return true;
}

} // namespace

QString decodeWindows1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    decodeWindows1252Into(bytes, reinterpret_cast<char16_t *>(text.data()));
    return text;
}

bool readCsvFile(const QString &path, const DataSourceOptions &options, QStringList *header,
                 QList<QStringList> *rows, QString *error, qsizetype maxRows, CsvFormat *format)
{
    if (!header || !rows)
        return false;

    QFile file(path);
    TextMode mode = TextMode::Utf8;
    char16_t delimiter = u',';
    if (!openCsvFile(file, options, &mode, &delimiter, error))
        return false;

    qsizetype rowLimit = -1;
    if (maxRows >= 0)
        rowLimit = maxRows < std::numeric_limits<qsizetype>::max() ? maxRows + 1 : maxRows;

    CsvParser parser(delimiter, rowLimit);
    if (!parseFile(file, mode, parser, error))
        return false;
    if (parser.failed())
        return fail(error, failureMessage(parser));

    QList<QStringList> parsed = parser.takeRows();
    if (parsed.isEmpty())
        return fail(error, QStringLiteral("The CSV is missing a header row"));

    *header = settledHeader(parsed.takeFirst());
    *rows = std::move(parsed);
    if (format)
        *format = {encodingName(mode), QChar(delimiter)};
    return true;
}

bool streamCsvFile(const QString &path, const DataSourceOptions &options, const CsvRowHandler &onRow,
                   const std::function<bool()> &again, QString *error)
{
    QFile file(path);
    TextMode mode = TextMode::Utf8;
    char16_t delimiter = u',';
    if (!openCsvFile(file, options, &mode, &delimiter, error))
        return false;
    while (true) {
        Utf8CsvParser parser(char(delimiter), onRow);
        if (!parseFileUtf8(file, mode, parser, error))
            return false;
        if (parser.failed())
            return fail(error, failureMessage(parser.failure(), parser.quoteLine(), CsvParser::defaultMaxRowText,
                                              CsvParser::defaultMaxCells));
        if (parser.rowsKept() == 0)
            return fail(error, QStringLiteral("The CSV is missing a header row"));
        if (parser.stopped() || !again || !again())
            return true;
        if (!file.seek(0))
            return fail(error, file.errorString());
    }
}

bool isWorkbookPath(const QString &path)
{
    // The part after the last dot of the file name; a dot in a folder name
    // does not count.
    const QString fileName = QFileInfo(path).fileName();
    const qsizetype dot = fileName.lastIndexOf(u'.');
    const QString suffix = dot < 0 ? QString() : fileName.mid(dot + 1).toLower();
    return suffix == u"xlsx" || suffix == u"xlsm";
}
