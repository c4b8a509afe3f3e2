#include "render/jobselection.h"

#include "render/pdfexport.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <optional>

namespace {

QString countText(qint64 count)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(count);
}

// A whole number of ASCII digits, or nothing. Numbers past 2^31 − 1 are kept
// as that, which lies beyond any job.
std::optional<qint64> wholeNumber(QStringView text)
{
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = std::min<qint64>(value * 10 + (c.unicode() - u'0'), qint64(INT_MAX) + 1);
    }
    return value;
}

struct Span
{
    qint64 first = 0;
    qint64 last = 0;
};

// "N" or "A-B", spaces around the parts allowed.
std::optional<Span> span(const QString &entry)
{
    const qsizetype dash = entry.indexOf(u'-');
    if (dash < 0) {
        const std::optional<qint64> n = wholeNumber(entry);
        return n ? std::optional<Span>({*n, *n}) : std::nullopt;
    }
    const std::optional<qint64> first = wholeNumber(QStringView(entry).left(dash).trimmed());
    const std::optional<qint64> last = wholeNumber(QStringView(entry).mid(dash + 1).trimmed());
    if (!first || !last)
        return std::nullopt;
    return Span{*first, *last};
}

// Reads a comma-separated list of spans numbered from 1 to `count`; every bad
// entry is described in `problems` with `noun` ("card", "sheet").
QList<Span> readSpans(const QString &text, qint64 count, const QString &noun, QStringList *problems)
{
    QList<Span> spans;
    if (text.trimmed().isEmpty()) {
        problems->append(QStringLiteral("no %1s given").arg(noun));
        return spans;
    }
    const QStringList entries = text.split(u',');
    for (const QString &raw : entries) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty()) {
            problems->append(QStringLiteral("an empty entry between commas"));
            continue;
        }
        const std::optional<Span> s = span(entry);
        if (!s) {
            problems->append(QStringLiteral("\"%1\" is not a %2 number or a range like 3-7").arg(entry, noun));
        } else if (s->first == 0 || s->last == 0) {
            problems->append(QStringLiteral("\"%1\": %2s are numbered from 1").arg(entry, noun));
        } else if (s->first > s->last) {
            problems->append(QStringLiteral("\"%1\" runs backwards; write %2-%3")
                                 .arg(entry, QString::number(s->last), QString::number(s->first)));
        } else if (s->last > count) {
            problems->append(QStringLiteral("\"%1\" is beyond the job's %2 %3%4")
                                 .arg(entry, countText(count), noun, count == 1 ? QString() : QStringLiteral("s")));
        } else {
            spans.append(*s);
        }
    }
    return spans;
}

} // namespace

CardList parseCardList(const QString &text, int cardCount)
{
    QStringList problems;
    QList<Span> spans = readSpans(text, std::max(cardCount, 0), QStringLiteral("card"), &problems);
    CardList result;
    problems.removeDuplicates();
    if (!problems.isEmpty()) {
        result.error = QStringLiteral("Card list: ") + problems.join(QStringLiteral("; "));
        return result;
    }
    std::sort(spans.begin(), spans.end(), [](const Span &a, const Span &b) { return a.first < b.first; });
    qint64 next = 0; // the first number not yet listed
    for (const Span &s : std::as_const(spans)) {
        for (qint64 n = std::max(s.first, next); n <= s.last; ++n)
            result.records.append(int(n - 1));
        next = std::max(next, s.last + 1);
    }
    return result;
}

SheetRange parseSheetRange(const QString &text, int sheetCount)
{
    QStringList problems;
    const QList<Span> spans = readSpans(text, std::max(sheetCount, 0), QStringLiteral("sheet"), &problems);
    if (problems.isEmpty() && spans.size() != 1)
        problems.append(QStringLiteral("give one range, like 3-7"));
    SheetRange range;
    problems.removeDuplicates();
    if (!problems.isEmpty()) {
        range.error = QStringLiteral("Sheet range: ") + problems.join(QStringLiteral("; "));
        return range;
    }
    range.first = int(spans.first().first - 1);
    range.last = int(spans.first().last - 1);
    return range;
}

SheetsPerFile parseSheetsPerFile(const QString &text)
{
    const std::optional<qint64> n = wholeNumber(QStringView(text).trimmed());
    if (!n || *n < 1 || *n > INT_MAX)
        return {0, QStringLiteral("Sheets per file: \"%1\" is not a whole number from 1").arg(text)};
    return {int(*n), QString()};
}

QList<int> sheetsHolding(const ImpositionLayout &layout, bool cutStack, const QList<int> &records)
{
    QList<int> sheets;
    sheets.reserve(records.size());
    for (int record : records) {
        const int sheet = layout.placeOf(record, cutStack).sheet;
        if (sheet >= 0)
            sheets.append(sheet);
    }
    std::sort(sheets.begin(), sheets.end());
    sheets.erase(std::unique(sheets.begin(), sheets.end()), sheets.end());
    return sheets;
}

QList<int> sheetSpan(int first, int last)
{
    QList<int> sheets;
    for (int sheet = std::max(first, 0); sheet <= last; ++sheet)
        sheets.append(sheet);
    return sheets;
}

QString splitPartPath(const QString &path, int index, int count)
{
    const QFileInfo info(path);
    const int digits = std::max(3, int(QString::number(std::max(count, 1)).size()));
    const QString number = QString::number(index + 1).rightJustified(digits, u'0');
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    const QString base = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    return info.dir().filePath(base + u'-' + number + suffix);
}

QStringList splitPartPaths(const QString &path, int sheetCount, int sheetsPerFile)
{
    if (sheetsPerFile < 1)
        return {path};
    const int files = int((qint64(sheetCount) + sheetsPerFile - 1) / sheetsPerFile);
    QStringList paths;
    for (int part = 0; part < files; ++part)
        paths << splitPartPath(path, part, files);
    return paths;
}

QString applyPrintChoice(const PrintChoice &choice, PdfExportJob &job)
{
    switch (choice.mode) {
    case PrintChoice::Mode::AllCards:
        return {};
    case PrintChoice::Mode::Cards: {
        CardList cards = parseCardList(choice.cards, job.layout.recordCount);
        if (cards.error.isEmpty())
            job.onlyRecords = std::move(cards.records);
        return cards.error;
    }
    case PrintChoice::Mode::Sheets: {
        const SheetRange range = parseSheetRange(choice.sheets, job.layout.sheetCount());
        if (range.error.isEmpty())
            job.sheets = sheetSpan(range.first, range.last);
        return range.error;
    }
    }
    return {};
}
