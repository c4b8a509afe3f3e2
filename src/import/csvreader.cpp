#include "import/csvparser.h"
#include "import/csvutf8parser.h"
#include "import/tablereader.h"

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

// Bytes 80-9F, from the WHATWG Encoding Standard's index-windows-1252; the
// five bytes it leaves undefined map to the C1 control of the same value.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

enum class TextMode { Utf8, Windows1252 };

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

// The UTF-8 text of the sample, without a byte order mark. A sample cut from
// a longer file may end inside a character; that cut is not an error.
QString decodeUtf8Sample(QByteArrayView sample, bool wholeFile)
{
    if (sample.startsWith(kUtf8Bom))
        sample = sample.sliced(kUtf8Bom.size());
    if (!wholeFile)
        sample = sample.first(completeUtf8Length(sample));
    return pieceDecoder().decode(sample);
}

TextMode chooseTextMode(const QString &encoding, QByteArrayView sample, const QString &utf8Sample)
{
    const QString name = encoding.toLower();
    if (name == u"windows-1252")
        return TextMode::Windows1252;
    if (name == u"auto" && !sample.startsWith(kUtf8Bom) && utf8Sample.contains(QChar::ReplacementCharacter))
        return TextMode::Windows1252;
    return TextMode::Utf8;
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
        parser.finish();
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

QString failureMessage(CsvParser::Failure failure, qsizetype maxRowText, qsizetype maxCells)
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
    }
    return {};
}

QString failureMessage(const CsvParser &parser)
{
    return failureMessage(parser.failure(), parser.maxRowText(), parser.maxCells());
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
    bool firstChunk = true;

    while (!parser.rowLimitReached() && !parser.failed()) {
        const qint64 count = file.read(raw.data() + carried, kChunkSize);
        if (count < 0)
            return fail(error, file.errorString());
        if (count == 0)
            break;
        QByteArrayView bytes(raw.constData(), carried + count);
        if (firstChunk && bytes.startsWith(kUtf8Bom))
            bytes = bytes.sliced(kUtf8Bom.size());
        firstChunk = false;

        if (mode == TextMode::Windows1252) {
            text.resize(bytes.size());
            decodeWindows1252Into(bytes, reinterpret_cast<char16_t *>(text.data()));
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
    bool firstChunk = true;

    while (!parser.stopped() && !parser.failed()) {
        const qint64 count = file.read(raw.data() + carried, kChunkSize);
        if (count < 0)
            return fail(error, file.errorString());
        if (count == 0)
            break;
        QByteArrayView bytes(raw.constData(), carried + count);
        if (firstChunk && bytes.startsWith(kUtf8Bom))
            bytes = bytes.sliced(kUtf8Bom.size());
        firstChunk = false;

        if (mode == TextMode::Windows1252) {
            text.resize(0);
            appendWindows1252AsUtf8(bytes, text);
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
    parser.finish();
    return true;
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

    const QByteArray sample = file.peek(kSampleBytes);
    if (sample.isEmpty())
        return fail(error, QStringLiteral("The CSV file is empty"));

    const bool wholeFile = sample.size() < kSampleBytes || file.size() == sample.size();
    const QString utf8Sample = decodeUtf8Sample(sample, wholeFile);
    *mode = chooseTextMode(options.csvEncoding, sample, utf8Sample);
    const QString sampleText = *mode == TextMode::Utf8 ? utf8Sample : decodeWindows1252(sample);
    *delimiter = chooseDelimiter(options.csvDelimiter, sampleText);
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
                 QList<QStringList> *rows, QString *error, qsizetype maxRows)
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

    QStringList names = parsed.takeFirst();
    for (qsizetype i = 0; i < names.size(); ++i) {
        names[i] = std::move(names[i]).trimmed();
        if (names[i].isEmpty())
            names[i] = QStringLiteral("Field %1").arg(i + 1);
    }
    *header = std::move(names);
    *rows = std::move(parsed);
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
            return fail(error, failureMessage(parser.failure(), CsvParser::defaultMaxRowText,
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
