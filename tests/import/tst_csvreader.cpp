#include "import/csvparser.h"
#include "import/csvutf8parser.h"
#include "support/hostilefiles.h"
#include "import/tablereader.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Rows = QList<QStringList>;

// The reader's chunk and sample sizes, in bytes.
constexpr qsizetype kChunk = 262144;
constexpr qsizetype kSample = 65536;

template <qsizetype N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1); // keeps embedded NUL bytes
}

QString fixturePath(const QString &name)
{
    return QStringLiteral(VDP_TEST_DATA_DIR "/csv/") + name;
}

// A readable form of a row for failure messages: cells quoted, control and
// non-ASCII characters escaped, long cells cut.
QString show(const QStringList &row)
{
    QStringList cells;
    for (const QString &cell : row) {
        QString shown;
        for (QChar c : cell.left(60)) {
            if (c.unicode() < 0x20 || c.unicode() > 0x7E)
                shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                shown += c;
        }
        if (cell.size() > 60)
            shown += QStringLiteral("...(%1 chars)").arg(cell.size());
        cells << u'"' + shown + u'"';
    }
    return u'[' + cells.join(QStringLiteral(", ")) + u']';
}

// Where two row lists first differ, or an empty text when they are equal.
QString firstDifference(const Rows &actual, const Rows &expected)
{
    for (qsizetype i = 0; i < qMin(actual.size(), expected.size()); ++i) {
        if (actual.at(i) != expected.at(i)) {
            return QStringLiteral("row %1 differs\n   actual: %2\n expected: %3")
                .arg(i)
                .arg(show(actual.at(i)), show(expected.at(i)));
        }
    }
    if (actual.size() != expected.size())
        return QStringLiteral("%1 rows instead of %2").arg(actual.size()).arg(expected.size());
    return {};
}

void compareRows(const Rows &actual, const Rows &expected)
{
    const QString difference = firstDifference(actual, expected);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

Rows parseWhole(QStringView text, char16_t delimiter)
{
    CsvParser parser(delimiter);
    parser.feed(text);
    parser.finish();
    return parser.rows();
}

Rows parseInPieces(QStringView text, char16_t delimiter, const QList<qsizetype> &cuts)
{
    CsvParser parser(delimiter);
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        parser.feed(text.sliced(from, cut - from));
        from = cut;
    }
    parser.feed(text.sliced(from));
    parser.finish();
    return parser.rows();
}

struct LimitedParse
{
    CsvParser::Failure failure = CsvParser::Failure::None;
    Rows rows;
};

// Parses `text` fed in the given pieces with the given limits, then feeds a
// further row, which a parser that stopped must ignore.
LimitedParse parseLimited(QStringView text, const QList<qsizetype> &cuts, qsizetype maxRowText, qsizetype maxCells)
{
    CsvParser parser(u',', -1, maxRowText, maxCells);
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        parser.feed(text.sliced(from, cut - from));
        from = cut;
    }
    parser.feed(text.sliced(from));
    if (parser.failed())
        parser.feed(u"late,row\n");
    parser.finish();
    return {parser.failure(), parser.failed() ? Rows() : parser.rows()};
}

QString failureName(CsvParser::Failure failure)
{
    switch (failure) {
    case CsvParser::Failure::None: return QStringLiteral("none");
    case CsvParser::Failure::TooManyColumns: return QStringLiteral("too many columns");
    case CsvParser::Failure::FieldTooLarge: return QStringLiteral("field too large");
    case CsvParser::Failure::RowTooLarge: return QStringLiteral("row too large");
    case CsvParser::Failure::TooManyCells: return QStringLiteral("too many cells");
    case CsvParser::Failure::UnclosedQuote: return QStringLiteral("unclosed quote");
    }
    return QStringLiteral("?");
}

struct ReadResult
{
    bool ok = false;
    QStringList header;
    Rows rows;
    QString error;
};

ReadResult readCsv(const QString &path, const QString &encoding = QStringLiteral("auto"),
                   const QString &delimiter = QStringLiteral("auto"), qsizetype maxRows = -1)
{
    DataSourceOptions options;
    options.csvEncoding = encoding;
    options.csvDelimiter = delimiter;
    ReadResult result;
    result.ok = readCsvFile(path, options, &result.header, &result.rows, &result.error, maxRows);
    return result;
}

constexpr QByteArrayView kFillerHead("id,text\n0,");

// A file whose first `boundary` bytes end with `before`; `after` follows. A
// header and a filler row "0,xxx..." come first, so the rows start with it.
QByteArray straddlingChunks(const QByteArray &before, const QByteArray &after, qsizetype boundary = kChunk)
{
    const qsizetype filler = boundary - kFillerHead.size() - 1 - before.size();
    return kFillerHead.toByteArray() + QByteArray(filler, 'x') + '\n' + before + after;
}

QStringList fillerRow(const QByteArray &before, qsizetype boundary = kChunk)
{
    return {QStringLiteral("0"), QString(boundary - kFillerHead.size() - 1 - before.size(), u'x')};
}

// writeWithHoles' recipe, where "[N]" also stands for N bytes "x" written
// out: a long field of text, where a hole would be NUL bytes.
bool writeRecipe(const QString &path, const QByteArray &recipe)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return false;
    const QByteArray block(1024 * 1024, 'x');
    qsizetype i = 0;
    while (i < recipe.size()) {
        const char c = recipe.at(i);
        const qsizetype close = c == '[' ? recipe.indexOf(']', i) : c == '{' ? recipe.indexOf('}', i) : -1;
        if (close < 0) {
            if (!file.putChar(c))
                return false;
            ++i;
            continue;
        }
        const qint64 count = recipe.mid(i + 1, close - i - 1).toLongLong();
        if (c == '{') {
            const qint64 end = file.pos() + count;
            if (!file.resize(end) || !file.seek(end))
                return false;
        } else {
            for (qint64 left = count; left > 0; left -= block.size()) {
                if (file.write(block.constData(), qMin<qint64>(left, block.size())) < 0)
                    return false;
            }
        }
        i = close + 1;
    }
    return true;
}

} // namespace

class TestCsvReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void parser_data();
    void parser();
    void parserSplitAnywhere_data();
    void parserSplitAnywhere();
    void parserUnclosedQuote_data();
    void parserUnclosedQuote();
    void utf8ParserMatchesParser();
    void parserRowLimit_data();
    void parserRowLimit();
    void parserTextLimits_data();
    void parserTextLimits();
    void parserLimitsOnGeneratedText_data();
    void parserLimitsOnGeneratedText();

    void fixtures_data();
    void fixtures();
    void smallFiles_data();
    void smallFiles();
    void windows1252Table();
    void failures_data();
    void failures();
    void filesAsWritten_data();
    void filesAsWritten();

    void chunkBoundaries_data();
    void chunkBoundaries();
    void characterCutBySample_data();
    void characterCutBySample();
    void detectionLooksAtSampleOnly();
    void quotedFieldAcrossTheSample();
    void maxRows_data();
    void maxRows();
    void sizeLimits_data();
    void sizeLimits();
    void cellLimit();
    void notARegularFile_data();
    void notARegularFile();

    void dispatchBySuffix_data();
    void dispatchBySuffix();
    void nullOutputs();

private:
    QString write(const QString &name, const QByteArray &content);

    QTemporaryDir m_dir;
};

void TestCsvReader::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString TestCsvReader::write(const QString &name, const QByteArray &content)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestCsvReader::parser_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QChar>("delimiter");
    QTest::addColumn<Rows>("expected");

    const QChar comma(u',');
    QTest::newRow("CR LF, CR and LF each end one line")
        << "a,b\r\nc\rd\ne" << comma << Rows{{"a", "b"}, {"c"}, {"d"}, {"e"}};
    QTest::newRow("LF then CR is two line ends, the empty one skipped")
        << "a\n\rb\n" << comma << Rows{{"a"}, {"b"}};
    QTest::newRow("doubled quotes in a quoted cell")
        << "\"say \"\"hi\"\" and \"\"bye\"\"\",next" << comma << Rows{{"say \"hi\" and \"bye\"", "next"}};
    QTest::newRow("three quotes")
        << "\"\"\"a\"\"\",\"\"\"\"" << comma << Rows{{"\"a\"", "\""}};
    QTest::newRow("quoted delimiter and line breaks")
        << "\"a,b\r\nc\nd\re\",f\n" << comma << Rows{{"a,b\r\nc\nd\re", "f"}};
    // Quotes as Python's csv module reads them (checked with it).
    QTest::newRow("a quote inside an unquoted field is text")
        << "ab\"c,d\"e,f\n24\" display,x" << comma << Rows{{"ab\"c", "d\"e", "f"}, {"24\" display", "x"}};
    QTest::newRow("a quote after leading spaces is text")
        << " \"a,b\"\n" << comma << Rows{{" \"a", "b\""}};
    QTest::newRow("text after a closing quote joins the cell")
        << "\"ab\"cd,e" << comma << Rows{{"abcd", "e"}};
    QTest::newRow("a quote after a closed quoted part is text")
        << "\"a\"b\"c\",\"\"x\n\"a\"\"b\"c\"\"" << comma << Rows{{"ab\"c\"", "x"}, {"a\"bc\"\""}};
    QTest::newRow("a quote inside an unquoted field does not hide the line end")
        << "1,a\"b\n2,\"c\"\n" << comma << Rows{{"1", "a\"b"}, {"2", "c"}};
    QTest::newRow("empty quoted cells")
        << "\"\",x,\"\"" << comma << Rows{{"", "x", ""}};
    QTest::newRow("blank lines: empty, spaces and tabs, one quoted empty or blank cell")
        << "h\n\n  \t \n\"\"\n\" \"\nx" << comma << Rows{{"h"}, {"x"}};
    QTest::newRow("a line of one delimiter is two empty cells")
        << "h\n,\n" << comma << Rows{{"h"}, {"", ""}};
    QTest::newRow("delimiter at the end of a line adds an empty cell")
        << "a,b,\nc," << comma << Rows{{"a", "b", ""}, {"c", ""}};
    QTest::newRow("last line without a line break")
        << "a\nb,c" << comma << Rows{{"a"}, {"b", "c"}};
    QTest::newRow("cells keep their spaces")
        << " a , b \n\t1\t" << comma << Rows{{" a ", " b "}, {"\t1\t"}};
    QTest::newRow("quotes at the end of the text")
        << "a,\"b\"" << comma << Rows{{"a", "b"}};
    QTest::newRow("quoted line break at the end of the text")
        << "\"a\r\n\"" << comma << Rows{{"a\r\n"}};
    QTest::newRow("semicolon: commas are text")
        << "a,b;c\r\n;" << QChar(u';') << Rows{{"a,b", "c"}, {"", ""}};
    QTest::newRow("tab: spaces are text")
        << "a b\tc\n\t" << QChar(u'\t') << Rows{{"a b", "c"}, {"", ""}};
    QTest::newRow("NUL is an ordinary character")
        << QString::fromUtf8(bytes("a\0b,\0\n\0\n\"\0\"")) << comma
        << Rows{{QString::fromUtf8(bytes("a\0b")), QString(1, QChar(0))}, {QString(1, QChar(0))},
                {QString(1, QChar(0))}};
    QTest::newRow("surrogate pairs and non-breaking spaces")
        << QStringLiteral(u"😀,\u00a0\n\u00a0\u2003\nz") << comma
        << Rows{{QStringLiteral(u"😀"), QStringLiteral(u"\u00a0")}, {"z"}};
    QTest::newRow("only blank lines") << " \r\n\t\r\r\n\n" << comma << Rows{};
    QTest::newRow("empty text") << "" << comma << Rows{};
}

void TestCsvReader::parser()
{
    QFETCH(QString, text);
    QFETCH(QChar, delimiter);
    QFETCH(Rows, expected);

    const Rows rows = parseWhole(text, delimiter.unicode());
    compareRows(rows, expected);
    // Empty cells are empty texts, not null ones: a null text is stored as NULL.
    for (const QStringList &row : rows) {
        for (const QString &cell : row)
            QVERIFY(!cell.isNull());
    }
}

void TestCsvReader::parserSplitAnywhere_data()
{
    parser_data();
}

// Feeding the text in pieces must give what the whole text gives, wherever
// the cuts fall: inside quote pairs, between CR and LF, after a closing quote.
void TestCsvReader::parserSplitAnywhere()
{
    QFETCH(QString, text);
    QFETCH(QChar, delimiter);
    QFETCH(Rows, expected);

    const char16_t d = delimiter.unicode();
    for (qsizetype i = 0; i <= text.size(); ++i) {
        for (qsizetype j = i; j <= text.size(); ++j) {
            const QString difference = firstDifference(parseInPieces(text, d, {i, j}), expected);
            if (!difference.isEmpty())
                QFAIL(qPrintable(QStringLiteral("cut at %1 and %2: %3").arg(i).arg(j).arg(difference)));
        }
    }
    QList<qsizetype> everyCharacter;
    for (qsizetype i = 1; i < text.size(); ++i)
        everyCharacter << i;
    compareRows(parseInPieces(text, d, everyCharacter), expected);
}

void TestCsvReader::parserUnclosedQuote_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("line"); // where the quote opened
    QTest::addColumn<Rows>("rowsBefore");

    QTest::newRow("on the first line") << "\"a,b\n" << qsizetype(1) << Rows{};
    QTest::newRow("after CR LF, CR and LF line ends and a blank line")
        << "h\r\n1\r2\n\n3,\"x\ny" << qsizetype(5) << Rows{{"h"}, {"1"}, {"2"}};
    QTest::newRow("line breaks inside earlier quoted fields count")
        << "h\n\"a\r\nb\rc\nd\"\n\"\"\"\r\n\"\n,\"open" << qsizetype(8)
        << Rows{{"h"}, {"a\r\nb\rc\nd"}, {"\"\r\n"}};
    QTest::newRow("a quote escaped at the end") << "h\n\"a\"\"" << qsizetype(2) << Rows{{"h"}};
    QTest::newRow("a stray quote before it does not count")
        << "h\n24\" x\n\"y" << qsizetype(3) << Rows{{"h"}, {"24\" x"}};
}

// A quoted field still open at the end of the text fails the parse and names
// the line it opened on, wherever the text is cut into chunks; the rows
// before it are not lost to it.
void TestCsvReader::parserUnclosedQuote()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, line);
    QFETCH(Rows, rowsBefore);

    for (qsizetype i = 0; i <= text.size(); ++i) {
        for (qsizetype j = i; j <= text.size(); ++j) {
            CsvParser parser(u',');
            parser.feed(QStringView(text).first(i));
            parser.feed(QStringView(text).sliced(i, j - i));
            parser.feed(QStringView(text).sliced(j));
            parser.finish();
            const QString where = QStringLiteral("cut at %1 and %2: ").arg(i).arg(j);
            QVERIFY2(parser.failure() == CsvParser::Failure::UnclosedQuote,
                     qPrintable(where + failureName(parser.failure())));
            QVERIFY2(parser.quoteLine() == line, qPrintable(where + QString::number(parser.quoteLine())));
            const QString difference = firstDifference(parser.rows(), rowsBefore);
            QVERIFY2(difference.isEmpty(), qPrintable(where + difference));
        }
    }

    // A text cut short, as the sample delimiter detection parses, ends the
    // open field where the cut falls.
    CsvParser cut(u',');
    cut.feed(text);
    cut.finish(CsvParser::TextEnd::Cut);
    QVERIFY(!cut.failed());
    QCOMPARE(cut.rows().size(), rowsBefore.size() + 1);
}

// The streamed import's parser over UTF-8 bytes against the parser over
// UTF-16 text, on random text dense in quotes where they open a field and
// where they are only text, line ends of every kind, delimiters and
// multi-byte characters, each fed in random pieces: the same rows, the same
// failure, the same line for an unclosed quote.
void TestCsvReader::utf8ParserMatchesParser()
{
    const QStringList tokens{"a", "b", " ", "\"", "\"", "\"\"", ",", ";", "\t", "\r", "\n", "\r\n",
                             QStringLiteral(u"é"), QStringLiteral(u"€"), QStringLiteral(u"😀"), QStringLiteral(u"\u00a0")};
    QRandomGenerator random(20261211);
    for (int round = 0; round < 4000; ++round) {
        const int length = random.bounded(1, 40);
        QString text;
        QList<qsizetype> cuts; // token boundaries, where the pieces may end
        for (int i = 0; i < length; ++i) {
            text += tokens.at(random.bounded(tokens.size()));
            if (random.bounded(4) == 0)
                cuts << text.size();
        }
        const char16_t delimiter = QStringView(u",;\t")[random.bounded(3)].unicode();

        // Small limits, so that some texts fail on them.
        CsvParser parser(delimiter, -1, 12, 60);
        Rows utf8Rows;
        Utf8CsvParser collecting(
            char(delimiter),
            [&](const CsvRowView &row) {
                QStringList cells;
                for (qsizetype i = 0; i < row.size(); ++i) {
                    cells << QString::fromUtf8(row.cell(i));
                    if (row.units(i) != cells.constLast().size())
                        return false;
                }
                utf8Rows << cells;
                return true;
            },
            12, 60);
        qsizetype from = 0;
        cuts << text.size();
        for (const qsizetype cut : cuts) {
            const QStringView piece = QStringView(text).sliced(from, cut - from);
            parser.feed(piece);
            collecting.feed(piece.toUtf8());
            from = cut;
        }
        parser.finish();
        collecting.finish();

        const QString context = QStringLiteral("text %1: ").arg(show({text}));
        QVERIFY2(!collecting.stopped(), qPrintable(context + QStringLiteral("a cell's length in UTF-16 differs")));
        QVERIFY2(collecting.failure() == parser.failure(),
                 qPrintable(context + failureName(collecting.failure()) + u" / " + failureName(parser.failure())));
        if (parser.failure() == CsvParser::Failure::UnclosedQuote)
            QVERIFY2(collecting.quoteLine() == parser.quoteLine(), qPrintable(context));
        // The rows finished before a failure too.
        const QString difference = firstDifference(utf8Rows, parser.rows());
        QVERIFY2(difference.isEmpty(), qPrintable(context + difference));
    }
}

void TestCsvReader::parserRowLimit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("limit");
    QTest::addColumn<Rows>("expected");

    QTest::newRow("stops after the limit; the open row is not finished")
        << "h\n1\n2\n3" << qsizetype(2) << Rows{{"h"}, {"1"}};
    QTest::newRow("blank lines do not count") << "\nh\n \n1\n\n2\n" << qsizetype(2) << Rows{{"h"}, {"1"}};
    QTest::newRow("limit beyond the text") << "h\n1" << qsizetype(5) << Rows{{"h"}, {"1"}};
    QTest::newRow("limit 1 keeps the header only") << "h,i\n1,2\n" << qsizetype(1) << Rows{{"h", "i"}};
    QTest::newRow("limit 0 keeps nothing") << "h\n1\n" << qsizetype(0) << Rows{};
}

void TestCsvReader::parserRowLimit()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, limit);
    QFETCH(Rows, expected);

    CsvParser parser(u',', limit);
    parser.feed(text);
    // Once the limit is reached, later chunks are ignored.
    if (parser.rowLimitReached())
        parser.feed(u"late,row\nanother\n");
    parser.finish();
    compareRows(parser.rows(), expected);
}

void TestCsvReader::parserTextLimits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("maxRowText");
    QTest::addColumn<qsizetype>("maxCells");
    QTest::addColumn<int>("failure"); // a CsvParser::Failure
    QTest::addColumn<Rows>("expected"); // when it does not fail

    const qsizetype text = 8;
    const qsizetype cells = 1000;
    const int none = int(CsvParser::Failure::None);
    const int field = int(CsvParser::Failure::FieldTooLarge);
    const int row = int(CsvParser::Failure::RowTooLarge);
    const int tooManyCells = int(CsvParser::Failure::TooManyCells);

    QTest::newRow("field at the limit") << "12345678\n" << text << cells << none << Rows{{"12345678"}};
    QTest::newRow("field past the limit") << "123456789\n" << text << cells << field << Rows{};
    QTest::newRow("field past the limit at the end of the text") << "h\n123456789" << text << cells << field << Rows{};
    QTest::newRow("escaped quotes count once")
        << "\"a\"\"b\"\"c\"\"d\"\"\"\n" << text << cells << none << Rows{{"a\"b\"c\"d\""}};
    QTest::newRow("escaped quotes past the limit") << "\"a\"\"b\"\"c\"\"d\"\"e\"\n" << text << cells << field << Rows{};
    QTest::newRow("quoted line breaks count") << "\"ab\r\ncd\r\n\",\n" << text << cells << none
                                              << Rows{{"ab\r\ncd\r\n", ""}};
    QTest::newRow("quoted line breaks past the limit") << "\"ab\r\ncd\r\ne\"\n" << text << cells << field << Rows{};
    QTest::newRow("unclosed quote runs into the limit") << "\"1234\n5678\n" << text << cells << field << Rows{};
    QTest::newRow("text after a closing quote") << "\"1234\"5678\n" << text << cells << none << Rows{{"12345678"}};
    QTest::newRow("text after a closing quote past the limit") << "\"1234\"56789\n" << text << cells << field << Rows{};
    QTest::newRow("row at the limit") << "1234,5678\n" << text << cells << none << Rows{{"1234", "5678"}};
    QTest::newRow("row past the limit") << "1234,56789\n" << text << cells << row << Rows{};
    QTest::newRow("many short fields past the limit") << "1,2,3,4,5,6,7,8,9\n" << text << cells << row << Rows{};
    QTest::newRow("quotes, delimiters and line ends do not count")
        << "\"1\",\"2\",\"3\",\"4\",\"5\",\"6\",\"7\",\"8\"\r\n" << text << cells << none
        << Rows{{"1", "2", "3", "4", "5", "6", "7", "8"}};
    QTest::newRow("empty fields take nothing") << ",,,,,,,,,,,,\n" << text << cells << none << Rows{QStringList(13, "")};
    QTest::newRow("each row has the whole allowance")
        << "12345678\n1234,5678\n\"12\",\"34\"\"5\"\n" << text << cells << none
        << Rows{{"12345678"}, {"1234", "5678"}, {"12", "34\"5"}};
    QTest::newRow("header row past the limit") << "ab,cdefghi\n1\n" << text << cells << row << Rows{};
    QTest::newRow("data row past the limit") << "h\n1\n1234\"\",56789\n" << text << cells << row << Rows{};

    QTest::newRow("cells at the limit") << "a,b,c\nd,e,f\n" << text << qsizetype(6) << none
                                        << Rows{{"a", "b", "c"}, {"d", "e", "f"}};
    QTest::newRow("cells past the limit") << "a,b,c\nd,e,f\ng\n" << text << qsizetype(6) << tooManyCells << Rows{};
    QTest::newRow("blank lines are no cells") << "a,b,c\n\n  \n\"\"\nd,e,f\n" << text << qsizetype(6) << none
                                              << Rows{{"a", "b", "c"}, {"d", "e", "f"}};
    QTest::newRow("the open last row counts") << "a,b,c\nd,e,f\ng" << text << qsizetype(6) << tooManyCells << Rows{};
}

// The limits hold wherever the text is cut into chunks, and a parser that
// stopped ignores the rest.
void TestCsvReader::parserTextLimits()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, maxRowText);
    QFETCH(qsizetype, maxCells);
    QFETCH(int, failure);
    QFETCH(Rows, expected);

    const auto check = [&](const QList<qsizetype> &cuts) -> QString {
        const LimitedParse parsed = parseLimited(text, cuts, maxRowText, maxCells);
        QStringList where;
        for (qsizetype cut : cuts)
            where << QString::number(cut);
        const QString context = QStringLiteral("cut at [%1]: ").arg(where.join(u','));
        if (parsed.failure != CsvParser::Failure(failure))
            return context + QStringLiteral("failure \"%1\" instead of \"%2\"")
                                 .arg(failureName(parsed.failure), failureName(CsvParser::Failure(failure)));
        const QString difference = firstDifference(parsed.rows, expected);
        return difference.isEmpty() ? QString() : context + difference;
    };
    for (qsizetype i = 0; i <= text.size(); ++i) {
        for (qsizetype j = i; j <= text.size(); ++j) {
            const QString problem = check({i, j});
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
    }
    QList<qsizetype> everyCharacter;
    for (qsizetype i = 1; i < text.size(); ++i)
        everyCharacter << i;
    const QString problem = check(everyCharacter);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void TestCsvReader::parserLimitsOnGeneratedText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("failure");
    QTest::addColumn<Rows>("expected");

    // Limit 10,000: a quoted field with an escaped quote every 7 characters and
    // a quoted line break every 100, and a row of four such fields.
    const auto quotedField = [](qsizetype length) {
        QString cell;
        for (qsizetype i = 0; cell.size() < length; ++i)
            cell += i % 100 == 99 ? QChar(u'\n') : i % 7 == 6 ? QChar(u'"') : QChar(char16_t(u'a' + i % 26));
        QString written = cell;
        written.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        return std::pair<QString, QString>(cell, QString(u'"' + written + u'"'));
    };
    const auto [atLimit, atLimitText] = quotedField(10000);
    const auto [pastLimit, pastLimitText] = quotedField(10001);
    const auto [quarter, quarterText] = quotedField(2500);
    const auto [quarterPlus, quarterPlusText] = quotedField(2501);
    const QString fourQuarters = QStringList(4, quarterText).join(u',');
    const QString lastPlus = QStringList{quarterText, quarterText, quarterText, quarterPlusText}.join(u',');

    QTest::newRow("field at the limit") << QString("h\r\n" + atLimitText + "\r\nlast\r\n")
                                        << int(CsvParser::Failure::None) << Rows{{"h"}, {atLimit}, {"last"}};
    QTest::newRow("field past the limit") << QString("h\r\n" + pastLimitText + "\r\nlast\r\n")
                                          << int(CsvParser::Failure::FieldTooLarge) << Rows{};
    QTest::newRow("row at the limit") << QString("h\n" + fourQuarters + "\nlast\n") << int(CsvParser::Failure::None)
                                      << Rows{{"h"}, QStringList(4, quarter), {"last"}};
    QTest::newRow("row past the limit by a field") << QString("h\n" + fourQuarters + ",x\nlast\n")
                                                   << int(CsvParser::Failure::RowTooLarge) << Rows{};
    QTest::newRow("row past the limit in its last field") << QString("h\n" + lastPlus + "\nlast\n")
                                                          << int(CsvParser::Failure::RowTooLarge) << Rows{};
}

// Generated text at and just past the limit, fed in chunks of many sizes, as
// the reader feeds decoded pieces of a file.
void TestCsvReader::parserLimitsOnGeneratedText()
{
    QFETCH(QString, text);
    QFETCH(int, failure);
    QFETCH(Rows, expected);

    for (const qsizetype chunk : {1, 2, 3, 7, 64, 999, 4096, 10001}) {
        QList<qsizetype> cuts;
        for (qsizetype cut = chunk; cut < text.size(); cut += chunk)
            cuts << cut;
        const LimitedParse parsed = parseLimited(text, cuts, 10000, 1000);
        QVERIFY2(parsed.failure == CsvParser::Failure(failure),
                 qPrintable(QStringLiteral("chunks of %1: %2").arg(chunk).arg(failureName(parsed.failure))));
        const QString difference = firstDifference(parsed.rows, expected);
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("chunks of %1: %2").arg(chunk).arg(difference)));
    }
}

// Files written by Python's csv module the way exporters write them; the
// expected header and rows were written next to them by the same script.
void TestCsvReader::fixtures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<QStringList>("header");
    QTest::addColumn<Rows>("rows");

    QFile file(fixturePath(QStringLiteral("expected.json")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonArray cases = QJsonDocument::fromJson(file.readAll()).array();
    QVERIFY(!cases.isEmpty());
    const auto strings = [](const QJsonValue &value) {
        QStringList list;
        for (const QJsonValue &item : value.toArray())
            list << item.toString();
        return list;
    };
    for (const QJsonValue &value : cases) {
        const QJsonObject c = value.toObject();
        Rows rows;
        for (const QJsonValue &row : c.value(u"rows").toArray())
            rows << strings(row);
        QTest::newRow(qPrintable(c.value(u"name").toString()))
            << c.value(u"file").toString() << c.value(u"encoding").toString()
            << c.value(u"delimiter").toString() << strings(c.value(u"header")) << rows;
    }
}

void TestCsvReader::fixtures()
{
    QFETCH(QString, file);
    QFETCH(QString, encoding);
    QFETCH(QString, delimiter);
    QFETCH(QStringList, header);
    QFETCH(Rows, rows);

    const ReadResult result = readCsv(fixturePath(file), encoding, delimiter);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.header, header);
    compareRows(result.rows, rows);
}

void TestCsvReader::smallFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<QStringList>("header");
    QTest::addColumn<Rows>("rows");

    const QString autoOption = QStringLiteral("auto");

    // Encoding.
    QTest::newRow("byte order mark is not part of the first name")
        << bytes("\xEF\xBB\xBF" "name,x\r\n1,2\r\n") << autoOption << autoOption << QStringList{"name", "x"}
        << Rows{{"1", "2"}};
    QTest::newRow("auto: a lone E9 means Windows-1252; 80 and 9F are the euro sign and Y diaeresis")
        << bytes("caf\xE9\n\x80\x9F\n\x81\x8D\x8F\x90\x9D") << autoOption << autoOption << QStringList{"café"}
        << Rows{{QStringLiteral(u"\u20ac\u0178")}, {QStringLiteral(u"\u0081\u008d\u008f\u0090\u009d")}};
    QTest::newRow("auto: valid UTF-8 stays UTF-8")
        << bytes("Zo\xC3\xAB,\xE2\x82\xAC\n") << autoOption << autoOption << QStringList{"Zoë", "€"} << Rows{};
    QTest::newRow("auto: byte order mark wins over invalid bytes")
        << bytes("\xEF\xBB\xBF" "caf\xE9\n") << autoOption << autoOption << QStringList{QStringLiteral(u"caf\ufffd")}
        << Rows{};
    QTest::newRow("auto: a small file ending inside a UTF-8 character is Windows-1252")
        << bytes("ab\xE2\x82") << autoOption << autoOption << QStringList{"abâ‚"} << Rows{};
    QTest::newRow("utf-8: E9 is a replacement character")
        << bytes("caf\xE9\n") << "utf-8" << autoOption << QStringList{QStringLiteral(u"caf\ufffd")} << Rows{};
    QTest::newRow("an unknown encoding reads as UTF-8")
        << bytes("caf\xE9\n") << "latin1" << autoOption << QStringList{QStringLiteral(u"caf\ufffd")} << Rows{};
    QTest::newRow("windows-1252 in capitals")
        << bytes("caf\xE9\n") << "WINDOWS-1252" << autoOption << QStringList{"café"} << Rows{};
    QTest::newRow("windows-1252: the byte order mark bytes do not reach the header")
        << bytes("\xEF\xBB\xBF" "name\nx") << "windows-1252" << autoOption << QStringList{"name"} << Rows{{"x"}};
    QTest::newRow("a U+FEFF after the start is text")
        << bytes("\xEF\xBB\xBF" "a,\xEF\xBB\xBF" "b\n") << autoOption << autoOption
        << QStringList{"a", QStringLiteral(u"\ufeffb")} << Rows{};

    // Delimiter.
    QTest::newRow("auto: three names separated by semicolons")
        << bytes("a;b;c\n1;2;3\n") << autoOption << autoOption << QStringList{"a", "b", "c"} << Rows{{"1", "2", "3"}};
    QTest::newRow("auto: comma and semicolon tie, comma wins")
        << bytes("a,b;c\n1,2;3\n") << autoOption << autoOption << QStringList{"a", "b;c"} << Rows{{"1", "2;3"}};
    QTest::newRow("auto: tab") << bytes("a\tb\tc, d\n") << autoOption << autoOption
                               << QStringList{"a", "b", "c, d"} << Rows{};
    QTest::newRow("auto: quoted delimiters do not count")
        << bytes("\"a;b;c\",d\n") << autoOption << autoOption << QStringList{"a;b;c", "d"} << Rows{};
    QTest::newRow("auto: the first row kept after blank lines is scored")
        << bytes("\r\n   \r\nx;y;z\r\n1,2\r\n") << autoOption << autoOption << QStringList{"x", "y", "z"}
        << Rows{{"1,2"}};
    QTest::newRow("auto: a line of only a tab is two empty cells")
        << bytes(" \r\n\t\r\nx\r\n") << autoOption << autoOption << QStringList{"Field 1", "Field 2"}
        << Rows{{"x"}};
    QTest::newRow("an unknown delimiter detects")
        << bytes("a;b\n") << autoOption << "pipe" << QStringList{"a", "b"} << Rows{};
    QTest::newRow("a fixed delimiter wins over detection")
        << bytes("a;b;c\n1,2\n") << autoOption << "Comma" << QStringList{"a;b;c"} << Rows{{"1", "2"}};

    // Header and rows.
    QTest::newRow("header names trimmed, empty ones named, duplicates suffixed")
        << bytes(" a ,,\"\",\t,a\n") << autoOption << autoOption
        << QStringList{"a", "Field 2", "Field 3", "Field 4", "a_2"} << Rows{};
    QTest::newRow("data cells are neither trimmed nor padded")
        << bytes("a,b,c\n 1 ,\t\n1,2,3,4\n") << autoOption << autoOption << QStringList{"a", "b", "c"}
        << Rows{{" 1 ", "\t"}, {"1", "2", "3", "4"}};
    QTest::newRow("header, empty line and one data line, all CR LF")
        << bytes("a,b\r\n\r\n1,2\r\n") << autoOption << autoOption << QStringList{"a", "b"} << Rows{{"1", "2"}};
    QTest::newRow("last line without a line break")
        << bytes("a,b\n1,") << autoOption << autoOption << QStringList{"a", "b"} << Rows{{"1", ""}};
}

void TestCsvReader::smallFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, encoding);
    QFETCH(QString, delimiter);
    QFETCH(QStringList, header);
    QFETCH(Rows, rows);

    const ReadResult result = readCsv(write(QStringLiteral("small.csv"), content), encoding, delimiter);
    QVERIFY2(result.ok, qPrintable(result.error));
    compareRows({result.header}, {header});
    compareRows(result.rows, rows);
}

// Checked against Python's cp1252 codec, which leaves the five bytes the
// code page does not define to the C1 controls of the same value.
void TestCsvReader::windows1252Table()
{
    QFile file(fixturePath(QStringLiteral("windows-1252-table.utf8")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString expected = QString::fromUtf8(file.readAll());
    QCOMPARE(expected.size(), 256);

    QByteArray all;
    for (int byte = 0; byte < 256; ++byte)
        all.append(char(byte));
    const QString decoded = decodeWindows1252(all);
    QCOMPARE(decoded.size(), 256);
    for (int byte = 0; byte < 256; ++byte)
        QCOMPARE(QString::number(decoded.at(byte).unicode(), 16), QString::number(expected.at(byte).unicode(), 16));
    QCOMPARE(decodeWindows1252(QByteArrayView()), QString());
}

void TestCsvReader::failures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");

    QTest::newRow("zero bytes") << write(QStringLiteral("empty.csv"), {}) << "The CSV file is empty";
    QTest::newRow("only line breaks and spaces")
        << write(QStringLiteral("blank.csv"), "\r\n  \n \r\n\r") << "The CSV is missing a header row";
    QTest::newRow("only a byte order mark")
        << write(QStringLiteral("bom.csv"), "\xEF\xBB\xBF") << "The CSV is missing a header row";
    QTest::newRow("only a quoted empty cell")
        << write(QStringLiteral("quoted-empty.csv"), "\"\"\n") << "The CSV is missing a header row";

    // The file layer's own words for the reason.
    const QString missing = m_dir.filePath(QStringLiteral("missing.csv"));
    QFile missingFile(missing);
    QVERIFY(!missingFile.open(QIODevice::ReadOnly));
    QTest::newRow("missing file") << missing << missingFile.errorString();
    QDir(m_dir.path()).mkdir(QStringLiteral("folder.csv"));
    const QString folder = m_dir.filePath(QStringLiteral("folder.csv"));
    QTest::newRow("a folder") << folder << QDir::toNativeSeparators(folder) + " is not a regular file";

    // A file of nothing but delimiters would otherwise cost tens of bytes of
    // memory per byte read; a data row that wide fails just like the header.
    const QString tooWide = QStringLiteral("The CSV file has more than 16,384 columns and cannot be imported safely");
    QTest::newRow("header wider than a worksheet")
        << write(QStringLiteral("wide-header.csv"), QByteArray(20000, ',')) << tooWide;
    QTest::newRow("data row wider than a worksheet")
        << write(QStringLiteral("wide-row.csv"), "a,b\n" + QByteArray(16384, ',')) << tooWide;
}

void TestCsvReader::failures()
{
    QFETCH(QString, path);
    QFETCH(QString, message);
    QVERIFY(!message.isEmpty());

    // The outputs keep what they held.
    QStringList header{"kept"};
    Rows rows{{"kept", "row"}};
    QString error;
    QVERIFY(!readCsvFile(path, DataSourceOptions(), &header, &rows, &error));
    QCOMPARE(error, message);
    QCOMPARE(header, QStringList{"kept"});
    QCOMPARE(rows, (Rows{{"kept", "row"}}));

    error.clear();
    QVERIFY(!readTableFile(path, DataSourceOptions(), &header, &rows, &error, 25));
    QCOMPARE(error, message);

    // No place for the message is fine.
    QVERIFY(!readCsvFile(path, DataSourceOptions(), &header, &rows));
}

namespace {

// Text as a spreadsheet program's "Unicode Text" export writes it: UTF-16
// with its byte order mark.
QByteArray utf16WithBom(const QString &text, bool bigEndian)
{
    QByteArray out = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    for (const QChar c : text) {
        const char high = char(c.unicode() >> 8);
        const char low = char(c.unicode() & 0xFF);
        out.append(bigEndian ? high : low).append(bigEndian ? low : high);
    }
    return out;
}

} // namespace

// Files as spreadsheet programs and databases write them: every cell, the
// header included, as the file holds it, or a refusal naming the file; the
// 25-row preview reads them in the encoding the whole read settles.
void TestCsvReader::filesAsWritten_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("encoding");       // the option
    QTest::addColumn<QString>("usedEncoding");   // the format reported
    QTest::addColumn<QChar>("usedDelimiter");
    QTest::addColumn<QStringList>("header");
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QString>("error");          // "%1" for the file's path; empty when read
    QTest::addColumn<bool>("previewFails");      // with the whole read's message

    const QString autoOption = QStringLiteral("auto");
    const QString binary = QStringLiteral("%1 looks like an Excel workbook (or a binary file), not a CSV file");
    const auto readAs = [](const char *name, const QByteArray &content, const QString &encoding,
                           const QString &used, QChar delimiter, const QStringList &header, const Rows &rows) {
        QTest::newRow(name) << content << encoding << used << delimiter << header << rows << QString() << false;
    };
    const auto refused = [](const char *name, const QByteArray &content, const QString &encoding,
                            const QString &error, bool previewFails = true) {
        QTest::newRow(name) << content << encoding << QString() << QChar() << QStringList() << Rows() << error
                            << previewFails;
    };

    // Headers.
    readAs("duplicate names get suffixes", "Name,Name,City\nAda,Lovelace,London\n", autoOption, "UTF-8", u',',
           {"Name", "Name_2", "City"}, {{"Ada", "Lovelace", "London"}});
    readAs("a suffix already taken, an empty name between equal ones", "A,,A,A_2,A\n1,2,3,4,5\n", autoOption,
           "UTF-8", u',', {"A", "Field 2", "A_2", "A_2_2", "A_3"}, {{"1", "2", "3", "4", "5"}});

    // Encodings. Windows-1252 bytes after 64 KiB of ASCII and after the
    // preview's 25 rows still decide the whole file.
    QByteArray ascii = "Nr;Name\r\n";
    Rows asciiRows;
    for (int i = 1; ascii.size() <= 2 * kSample; ++i) {
        ascii += QByteArray::number(i) + ";Person " + QByteArray::number(i) + "\r\n";
        asciiRows << QStringList{QString::number(i), QStringLiteral("Person %1").arg(i)};
    }
    readAs("Windows-1252 after 128 KiB of ASCII", ascii + "0;Jos\xE9 \x80\r\n0;Zo\xC3\xAB\r\n", autoOption,
           "Windows-1252", u';', {"Nr", "Name"},
           asciiRows + Rows{{"0", QStringLiteral(u"José €")}, {"0", QStringLiteral(u"ZoÃ«")}});
    readAs("UTF-8 holding U+FFFD is UTF-8", "Name\nJos\xC3\xA9\n\xEF\xBF\xBD?\n", autoOption, "UTF-8", u',',
           {"Name"}, {{QStringLiteral(u"José")}, {QStringLiteral(u"\ufffd?")}});
    readAs("a UTF-8 file ending inside a character is Windows-1252", "Name\nab\xE2\x82", autoOption,
           "Windows-1252", u',', {"Name"}, {{QStringLiteral(u"abâ‚")}});
    const QString unicodeText = QStringLiteral(u"Name\tCity\tNote\r\nJosé\tKøbenhavn\t\"a\tb\"\r\n"
                                               u"😀 Zoë\t東京\t\r\n\r\n\uFEFFx\t\u0100\u00FF\ufffd\r\n");
    const Rows unicodeRows{{QStringLiteral(u"José"), QStringLiteral(u"København"), "a\tb"},
                           {QStringLiteral(u"😀 Zoë"), QStringLiteral(u"東京"), ""},
                           {QStringLiteral(u"\uFEFFx"), QStringLiteral(u"\u0100\u00FF\ufffd")}};
    readAs("UTF-16LE with byte order mark", utf16WithBom(unicodeText, false), autoOption, "UTF-16LE", u'\t',
           {"Name", "City", "Note"}, unicodeRows);
    readAs("UTF-16BE with byte order mark", utf16WithBom(unicodeText, true), autoOption, "UTF-16BE", u'\t',
           {"Name", "City", "Note"}, unicodeRows);
    readAs("UTF-16 whatever encoding was chosen", utf16WithBom(QStringLiteral(u"A;B\nÄ;€"), false),
           "windows-1252", "UTF-16LE", u';', {"A", "B"}, {{QStringLiteral(u"Ä"), QStringLiteral(u"€")}});
    readAs("UTF-16: a lone surrogate and an odd last byte are U+FFFD",
           utf16WithBom(QStringLiteral(u"A\n") + QChar(0xD83D) + u"x\n" + QChar(0xDE00), false) + 'y',
           autoOption, "UTF-16LE", u',', {"A"},
           {{QStringLiteral(u"\ufffdx")}, {QStringLiteral(u"\ufffd\ufffd")}});
    readAs("a fixed encoding holds for a file without a UTF-16 mark", "Name\nJos\xC3\xA9\n", "windows-1252",
           "Windows-1252", u',', {"Name"}, {{QStringLiteral(u"JosÃ©")}});

    // Quotes.
    QByteArray stray = "Nr,Item,Size\n";
    Rows strayRows;
    for (int i = 1; i <= 1000; ++i) {
        const QByteArray item = i == 11 ? QByteArray("24\" display") : "Item " + QByteArray::number(i);
        stray += QByteArray::number(i) + ',' + item + ",\"" + QByteArray::number(i % 7) + "\"\n";
        strayRows << QStringList{QString::number(i), QString::fromLatin1(item), QString::number(i % 7)};
    }
    readAs("a stray quote on row 11 of 1,000", stray, autoOption, "UTF-8", u',', {"Nr", "Item", "Size"}, strayRows);
    // Quoted line breaks of every kind before it, in more than one chunk,
    // and within the preview's rows, so that the preview fails too.
    QByteArray unclosed = "Nr,Note\r\n";
    int line = 2;
    for (int i = 1; i <= 19; ++i) {
        unclosed += QByteArray::number(i) + ",\"" + QByteArray(15000, 'n') + "\r\n\"\"two\"\"\rthree\n\"\r\n";
        line += 4;
    }
    unclosed += "20,\"never closed\r\n21,x\r\n";
    refused("a quoted field that never closes", unclosed, autoOption,
            QStringLiteral("The CSV file has a quoted field opened on line %1 that is never closed").arg(line));
    refused("an unclosed quote after the preview's rows", stray + "1001,\"open\n", autoOption,
            QStringLiteral("The CSV file has a quoted field opened on line 1002 that is never closed"), false);

    // Not text at all, whatever the option.
    QFile workbook(QStringLiteral(VDP_TEST_DATA_DIR "/xlsx/values.xlsx"));
    QVERIFY(workbook.open(QIODevice::ReadOnly));
    refused("an xlsx workbook named .csv", workbook.readAll(), autoOption, binary);
    refused("an empty zip", bytes("PK\x05\x06") + QByteArray(18, '\0'), "utf-8", binary);
    refused("an old xls workbook", bytes("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") + "a,b\n", "windows-1252", binary);
    refused("a PDF", "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n1 0 obj\n", autoOption, binary);
    refused("a PNG image", bytes("\x89PNG\r\n\x1A\n"), autoOption, binary);
    refused("a JPEG image", bytes("\xFF\xD8\xFF\xE0"), autoOption, binary);
    refused("a GIF image", "GIF89a,1\n", autoOption, binary);
    refused("gzip", bytes("\x1F\x8B\x08\x00"), autoOption, binary);
    refused("a NUL byte", bytes("id,note\n1,a\0b\n"), autoOption, binary);
    refused("a NUL byte, windows-1252", bytes("id,note\n1,\xE9\0\n"), "windows-1252", binary);
    refused("a NUL byte after the preview's rows", ascii + bytes("x\0\n"), autoOption, binary);
    refused("UTF-16 without a byte order mark", bytes("N\0a\0m\0e\0\n\0"), autoOption, binary);
}

void TestCsvReader::filesAsWritten()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, encoding);
    QFETCH(QString, usedEncoding);
    QFETCH(QChar, usedDelimiter);
    QFETCH(QStringList, header);
    QFETCH(Rows, rows);
    QFETCH(QString, error);
    QFETCH(bool, previewFails);

    const QString path = write(QStringLiteral("as-written.csv"), content);
    DataSourceOptions options;
    options.csvEncoding = encoding;
    ReadResult full;
    CsvFormat format{QStringLiteral("untouched"), u'?'};
    full.ok = readCsvFile(path, options, &full.header, &full.rows, &full.error, -1, &format);
    ReadResult preview;
    CsvFormat previewFormat;
    preview.ok = readCsvFile(path, options, &preview.header, &preview.rows, &preview.error, 25, &previewFormat);

    if (!error.isEmpty()) {
        QVERIFY(!full.ok);
        QCOMPARE(full.error, error.arg(QDir::toNativeSeparators(path)));
        QCOMPARE(format.encoding, QStringLiteral("untouched"));
        QCOMPARE(preview.ok, !previewFails);
        if (previewFails)
            QCOMPARE(preview.error, full.error);
        return;
    }
    QVERIFY2(full.ok, qPrintable(full.error));
    compareRows({full.header}, {header});
    compareRows(full.rows, rows);
    QCOMPARE(format.encoding, usedEncoding);
    QCOMPARE(format.delimiter, usedDelimiter);

    QVERIFY2(preview.ok, qPrintable(preview.error));
    QCOMPARE(preview.header, full.header);
    compareRows(preview.rows, rows.mid(0, 25));
    QCOMPARE(previewFormat.encoding, usedEncoding);
}

void TestCsvReader::chunkBoundaries_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<Rows>("rows");

    const auto add = [](const char *name, const QByteArray &before, const QByteArray &after, const QString &encoding,
                        const Rows &tail) {
        QTest::newRow(name) << straddlingChunks(before, after) << encoding << (Rows{fillerRow(before)} + tail);
    };
    const QString autoOption = QStringLiteral("auto");
    const QString windows1252 = QStringLiteral("windows-1252");

    add("escaped quote pair", "1,\"a\"", "\"b\"\n", autoOption, {{"1", "a\"b"}});
    add("closing quote, then delimiter", "1,\"a\"", ",b\n", autoOption, {{"1", "a", "b"}});
    add("closing quote, then line break", "1,\"a\"", "\r\n2\n", autoOption, {{"1", "a"}, {"2"}});
    add("closing quote, then text", "1,\"a\"", "b,c\n", autoOption, {{"1", "ab", "c"}});
    add("opening quote", "1,\"", "a,b\"\n", autoOption, {{"1", "a,b"}});
    add("CR, then LF", "1,a\r", "\n2,b\r\n", autoOption, {{"1", "a"}, {"2", "b"}});
    add("CR, then a quote", "1,a\r", "\"b\"\n", autoOption, {{"1", "a"}, {"b"}});
    add("quoted CR, then LF", "1,\"a\r", "\nb\"\n", autoOption, {{"1", "a\r\nb"}});
    add("a cell across the boundary", "1,abc", "def\n", autoOption, {{"1", "abcdef"}});
    add("two-byte character cut after 1 byte", "1,\xC3", "\xA9\n", autoOption, {{"1", "é"}});
    add("three-byte character cut after 1 byte", "1,\xE2", "\x82\xAC\n", autoOption, {{"1", "€"}});
    add("three-byte character cut after 2 bytes", "1,\xE2\x82", "\xAC\n", autoOption, {{"1", "€"}});
    add("four-byte character cut after 1 byte", "1,\xF0", "\x9F\x98\x80\n", autoOption, {{"1", "😀"}});
    add("four-byte character cut after 2 bytes", "1,\xF0\x9F", "\x98\x80\n", autoOption, {{"1", "😀"}});
    add("four-byte character cut after 3 bytes", "1,\xF0\x9F\x98", "\x80\n", autoOption, {{"1", "😀"}});
    add("four-byte character right after the boundary", "1,", "\xF0\x9F\x98\x80\n", "utf-8", {{"1", "😀"}});
    // An invalid sequence cut by the boundary must not swallow the line break
    // after it; its replacement is what decoding the whole file gives.
    add("invalid UTF-8 cut by the boundary", "1,a\xE2\x82", "\n2,b\n", QStringLiteral("utf-8"),
        {{"1", QString::fromUtf8("a\xE2\x82\n").chopped(1)}, {"2", "b"}});
    add("U+FEFF opening the second chunk is text", "1,", "\xEF\xBB\xBF" "a\n", autoOption,
        {{"1", QStringLiteral(u"\ufeffa")}});
    add("Windows-1252: escaped quote pair", "1,\"\xE9\"", "\"\x80\"\n", windows1252, {{"1", "é\"€"}});
    add("Windows-1252: EF BB BF opening the second chunk is text", "1,", "\xEF\xBB\xBF\n", windows1252,
        {{"1", "ï»¿"}});
}

void TestCsvReader::chunkBoundaries()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, encoding);
    QFETCH(Rows, rows);

    const ReadResult result = readCsv(write(QStringLiteral("boundary.csv"), content), encoding);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.header, (QStringList{"id", "text"}));
    compareRows(result.rows, rows);
}

// A valid UTF-8 file whose 65,536-byte sample ends inside a character is
// still UTF-8: the cut is not an invalid sequence.
void TestCsvReader::characterCutBySample_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QString>("cell");

    QTest::newRow("two-byte character") << QByteArray("1,\xC3") << QByteArray("\xA9\n") << "é";
    QTest::newRow("three-byte character") << QByteArray("1,\xE2\x82") << QByteArray("\xAC\n") << "€";
    QTest::newRow("four-byte character") << QByteArray("1,\xF0") << QByteArray("\x9F\x98\x80\n") << "😀";
}

void TestCsvReader::characterCutBySample()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(QString, cell);

    const QByteArray content = straddlingChunks(before, after + "2,b\n", kSample);
    const ReadResult result = readCsv(write(QStringLiteral("sample-cut.csv"), content));
    QVERIFY2(result.ok, qPrintable(result.error));
    compareRows(result.rows, {fillerRow(before, kSample), {"1", cell}, {"2", "b"}});
}

// A first line longer than the sample: within the sample it is one field for
// every candidate, so the comma is chosen although the line has semicolons.
void TestCsvReader::detectionLooksAtSampleOnly()
{
    const QByteArray line = QByteArray(kSample, 'x') + ";b;c";
    const ReadResult result = readCsv(write(QStringLiteral("long-header.csv"), line + "\n1;2;3\n"));
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.header, QStringList{QString::fromLatin1(line)});
    compareRows(result.rows, {{"1;2;3"}});

    const ReadResult fixed = readCsv(write(QStringLiteral("long-header.csv"), line + "\n1;2;3\n"),
                                     QStringLiteral("auto"), QStringLiteral("semicolon"));
    QCOMPARE(fixed.header.size(), 3);
}

// Delimiter detection parses a sample that may end inside a quoted field;
// the cut is no unclosed quote, and the row it cuts still counts.
void TestCsvReader::quotedFieldAcrossTheSample()
{
    const QByteArray quoted = QByteArray("x\n").repeated(kSample);
    const ReadResult result = readCsv(write(QStringLiteral("quote-across-sample.csv"),
                                            "a;b;\"c\n" + quoted + "\"\n1;2;3\n"));
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.header.size(), 3);
    QCOMPARE(result.header.at(2), QString::fromLatin1("c\n" + quoted).trimmed());
    compareRows(result.rows, {{"1", "2", "3"}});
}

void TestCsvReader::maxRows_data()
{
    QTest::addColumn<int>("dataRows");
    QTest::addColumn<qsizetype>("maxRows");
    QTest::addColumn<int>("expectedRows");

    QTest::newRow("preview of 1,000 rows") << 1000 << qsizetype(25) << 25;
    QTest::newRow("header only") << 1000 << qsizetype(0) << 0;
    QTest::newRow("all rows") << 1000 << qsizetype(-1) << 1000;
    QTest::newRow("exactly all rows") << 1000 << qsizetype(1000) << 1000;
    QTest::newRow("more than there are") << 1000 << qsizetype(5000) << 1000;
    QTest::newRow("limit reached in a later chunk") << 40000 << qsizetype(30000) << 30000;
}

void TestCsvReader::maxRows()
{
    QFETCH(int, dataRows);
    QFETCH(qsizetype, maxRows);
    QFETCH(int, expectedRows);

    // Every fifth row spans two lines, so rows are not lines.
    QByteArray content = "no;text\r\n";
    Rows expected;
    for (int i = 1; i <= dataRows; ++i) {
        const QByteArray number = QByteArray::number(i);
        if (i % 5 == 0) {
            content += number + ";\"two\r\nlines " + number + "\"\r\n";
            if (i <= expectedRows)
                expected << QStringList{QString::number(i), "two\r\nlines " + QString::number(i)};
        } else {
            content += number + ";row " + number + "\r\n\r\n";
            if (i <= expectedRows)
                expected << QStringList{QString::number(i), "row " + QString::number(i)};
        }
    }
    const ReadResult result = readCsv(write(QStringLiteral("rows.csv"), content), QStringLiteral("auto"),
                                      QStringLiteral("auto"), maxRows);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.header, (QStringList{"no", "text"}));
    compareRows(result.rows, expected);
}

void TestCsvReader::sizeLimits_data()
{
    // "{N}" stands for N zero bytes, kept as a hole; "[N]" for N bytes "x" written out.
    QTest::addColumn<QByteArray>("recipe");
    QTest::addColumn<QString>("message");   // empty: the file is read
    QTest::addColumn<QList<qsizetype>>("cellSizes"); // of the first data row, when read

    const QString field = QStringLiteral("The CSV file has a field larger than 64 MiB and cannot be imported safely");
    const QString row = QStringLiteral("The CSV file has a row larger than 64 MiB and cannot be imported safely");
    const QString file = QStringLiteral("The CSV file is larger than 2 GiB and cannot be imported safely");

    // An ASCII byte is one UTF-16 code unit, and the limit counts those.
    QTest::newRow("a field of 64 MiB") << QByteArray("h\n[67108864]\n") << QString()
                                       << QList<qsizetype>{67108864};
    QTest::newRow("a field of 64 MiB and a byte") << QByteArray("h\n[67108865]\n") << field << QList<qsizetype>{};
    QTest::newRow("65 MiB of one field and nothing else") << QByteArray("[68157440]") << field << QList<qsizetype>{};
    QTest::newRow("a row of 64 MiB") << QByteArray("a,b\n[33554432],[33554432]\n") << QString()
                                     << QList<qsizetype>{33554432, 33554432};
    QTest::newRow("a row of 64 MiB and a byte") << QByteArray("a,b\n[33554432],[33554433]\n") << row
                                                << QList<qsizetype>{};
    QTest::newRow("a header of 64 MiB and a byte") << QByteArray("[33554432],[33554433]\n1\n") << row
                                                   << QList<qsizetype>{};
    // Refused at its first bytes, without reading 2 GiB.
    QTest::newRow("2 GiB of zeros") << QByteArray("{2147483648}")
                                    << QStringLiteral("%1 looks like an Excel workbook (or a binary file), not a CSV file")
                                    << QList<qsizetype>{};
    QTest::newRow("2 GiB and a byte") << QByteArray("h\n1\n{2147483645}") << file << QList<qsizetype>{};
}

// Real sizes, in sparse files: the bounds of the reader as a user meets them.
void TestCsvReader::sizeLimits()
{
    QFETCH(QByteArray, recipe);
    QFETCH(QString, message);
    QFETCH(QList<qsizetype>, cellSizes);

    const QString path = m_dir.filePath(QStringLiteral("large.csv"));
    QVERIFY(writeRecipe(path, recipe));
    if (message.contains(QStringLiteral("%1")))
        message = message.arg(QDir::toNativeSeparators(path));
    QStringList header{"kept"};
    Rows rows;
    QString error;
    const bool read = readCsvFile(path, DataSourceOptions(), &header, &rows, &error);
    if (message.isEmpty()) {
        QVERIFY2(read, qPrintable(error));
        QVERIFY(!rows.isEmpty());
        QList<qsizetype> sizes;
        for (const QString &cell : rows.constFirst())
            sizes << cell.size();
        QCOMPARE(sizes, cellSizes);
    } else {
        QVERIFY(!read);
        QCOMPARE(error, message);
        QCOMPARE(header, QStringList{"kept"});
        // The preview fails alike: the bound is met within its rows.
        error.clear();
        QVERIFY(!readTableFile(path, DataSourceOptions(), &header, &rows, &error, 25));
        QCOMPARE(error, message);
    }
    QVERIFY(QFile::remove(path));
}

// Rows of 16,384 empty cells, each costing memory without any text, up to one
// row past 16,000,000 cells.
void TestCsvReader::cellLimit()
{
    const QByteArray line = QByteArray(16383, ',') + '\n';
    const QString path = write(QStringLiteral("cells.csv"), line.repeated(977));
    QStringList header;
    Rows rows;
    QString error;
    QVERIFY(!readCsvFile(path, DataSourceOptions(), &header, &rows, &error));
    QCOMPARE(error, QStringLiteral("The CSV file has more than 16,000,000 cells and cannot be imported safely"));
    QVERIFY(QFile::remove(path));
}

void TestCsvReader::notARegularFile_data()
{
    QTest::addColumn<QString>("path");

    const QString fifo = m_dir.filePath(QStringLiteral("pipe.csv"));
    QVERIFY(makeFifo(fifo));
    const QString link = m_dir.filePath(QStringLiteral("link-to-pipe.csv"));
    QVERIFY(QFile::link(fifo, link));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("folder")));

    QTest::newRow("FIFO") << fifo;
    QTest::newRow("link to a FIFO") << link;
    QTest::newRow("endless device") << "/dev/zero";
    QTest::newRow("empty device") << "/dev/null";
    QTest::newRow("folder") << m_dir.filePath(QStringLiteral("folder"));
}

// Refused by what the path names, without opening it: opening a FIFO waits
// for a writer, /dev/zero never ends.
void TestCsvReader::notARegularFile()
{
    QFETCH(QString, path);
    const FifoRescue rescue(path);
    const QString message = QDir::toNativeSeparators(path) + QStringLiteral(" is not a regular file");

    QStringList header{"kept"};
    Rows rows;
    QString error;
    QVERIFY(!readCsvFile(path, DataSourceOptions(), &header, &rows, &error));
    QCOMPARE(error, message);
    QCOMPARE(header, QStringList{"kept"});
    error.clear();
    QVERIFY(!readTableFile(path, DataSourceOptions(), &header, &rows, &error, 25));
    QCOMPARE(error, message);
}

void TestCsvReader::dispatchBySuffix_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("excel");

    QTest::newRow("txt") << "data.txt" << false;
    QTest::newRow("no suffix") << "data" << false;
    QTest::newRow("CSV in capitals") << "data.CSV" << false;
    QTest::newRow("xlsx before the last dot") << "data.xlsx.csv" << false;
    QTest::newRow("a dot in the folder name only") << "folder.xlsx/data" << false;
    QTest::newRow("ends in a dot") << "data.xlsx." << false;
    QTest::newRow("XLSX in capitals") << "data.XLSX" << true;
    QTest::newRow("xlsm") << "data.xlsm" << true;
    QTest::newRow("Xlsm") << "report.2024.Xlsm" << true;
}

void TestCsvReader::dispatchBySuffix()
{
    QFETCH(QString, name);
    QFETCH(bool, excel);

    QDir(m_dir.path()).mkpath(QStringLiteral("folder.xlsx"));
    const QString path = write(name, "a,b\n1,2\n");
    QStringList header;
    Rows rows;
    QString error;
    const bool ok = readTableFile(path, DataSourceOptions(), &header, &rows, &error, -1);
    if (excel) {
        // CSV text is no zip package: the Excel reader refuses it.
        QVERIFY(!ok);
        QCOMPARE(error, QStringLiteral("Could not open the Excel file. It may be corrupted or not an xlsx file"));
        QVERIFY(header.isEmpty());
    } else {
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(header, (QStringList{"a", "b"}));
        compareRows(rows, {{"1", "2"}});
    }
}

void TestCsvReader::nullOutputs()
{
    const QString csv = write(QStringLiteral("null.csv"), "a\n1\n");
    const QString xlsx = write(QStringLiteral("null.xlsx"), "a\n1\n");
    QStringList header;
    Rows rows;
    QString error = QStringLiteral("untouched");
    for (const QString &path : {csv, xlsx}) {
        QVERIFY(!readTableFile(path, DataSourceOptions(), nullptr, &rows, &error));
        QVERIFY(!readTableFile(path, DataSourceOptions(), &header, nullptr, &error));
    }
    QVERIFY(!readCsvFile(csv, DataSourceOptions(), nullptr, &rows, &error));
    QVERIFY(!readCsvFile(csv, DataSourceOptions(), &header, nullptr, &error));
    QCOMPARE(error, QStringLiteral("untouched"));
    QVERIFY(rows.isEmpty());
    QVERIFY(header.isEmpty());
}

QTEST_GUILESS_MAIN(TestCsvReader)
#include "tst_csvreader.moc"
