// libFuzzer harness of the CSV reader. Besides crashes and hangs it checks
// properties that any input must keep: the 25-row preview is the start of the
// full read, in the same encoding and with the same delimiter; and the state
// machine gives the same rows, failure and unclosed-quote line wherever the
// text is cut into chunks.

#include "import/csvparser.h"
#include "import/tablereader.h"

#include <QTemporaryFile>

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void readWithOptions(const QString &path, const char *encoding, const char *delimiter)
{
    DataSourceOptions options;
    options.csvEncoding = QString::fromLatin1(encoding);
    options.csvDelimiter = QString::fromLatin1(delimiter);

    QStringList header;
    QList<QStringList> rows;
    QString error;
    CsvFormat format;
    const bool ok = readCsvFile(path, options, &header, &rows, &error, -1, &format);

    QStringList previewHeader;
    QList<QStringList> previewRows;
    QString previewError;
    CsvFormat previewFormat;
    const bool previewOk =
        readCsvFile(path, options, &previewHeader, &previewRows, &previewError, 25, &previewFormat);

    if (ok) {
        check(previewOk);
        check(!header.isEmpty());
        check(previewHeader == header);
        check(previewRows == rows.mid(0, 25));
        check(previewFormat.encoding == format.encoding && previewFormat.delimiter == format.delimiter);
    } else if (previewOk) {
        // What the preview's rows never reach may fail only the full read:
        // a quote left open after them, or a row over the parser's limits.
        check(previewRows.size() == 25);
        check(error.contains(QStringLiteral("never closed"))
              || error.contains(QStringLiteral("cannot be imported safely")));
    } else {
        check(!error.isEmpty());
        check(previewError == error);
    }
}

struct Parsed
{
    QList<QStringList> rows;
    CsvParser::Failure failure;
    qsizetype quoteLine;

    bool operator==(const Parsed &other) const
    {
        return rows == other.rows && failure == other.failure
               && (failure != CsvParser::Failure::UnclosedQuote || quoteLine == other.quoteLine);
    }
};

Parsed parse(QStringView text, char16_t delimiter, qsizetype cut1, qsizetype cut2)
{
    CsvParser parser(delimiter);
    parser.feed(text.first(cut1));
    parser.feed(text.sliced(cut1, cut2 - cut1));
    parser.feed(text.sliced(cut2));
    parser.finish();
    return {parser.rows(), parser.failure(), parser.quoteLine()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));

    QTemporaryFile file;
    if (!file.open() || file.write(input) != input.size() || !file.flush())
        return 0;
    const QString path = file.fileName();
    readWithOptions(path, "auto", "auto");
    readWithOptions(path, "utf-8", "comma");
    readWithOptions(path, "windows-1252", "semicolon");
    readWithOptions(path, "auto", "tab");

    // Every byte is one code unit in Windows-1252, so every code unit value
    // up to FF, quotes, CR and LF included, reaches the parser.
    const QString text = decodeWindows1252(input);
    const qsizetype length = text.size();
    const qsizetype a = size > 0 ? data[0] * 131 % (length + 1) : 0;
    const qsizetype b = size > 1 ? data[size - 1] * 257 % (length + 1) : length;
    const qsizetype cut1 = qMin(a, b);
    const qsizetype cut2 = qMax(a, b);
    for (const char16_t delimiter : {u',', u';', u'\t'})
        check(parse(text, delimiter, cut1, cut2) == parse(text, delimiter, 0, 0));
    return 0;
}
