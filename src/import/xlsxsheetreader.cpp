#include "import/xlsxsheetreader.h"
#include "model/headernames.h"
#include "import/xlsxpackage.h"
#include "import/xlsxsheetscanner.h"
#include "import/xlsxxmlreader.h"

#include <QDate>
#include <QHash>
#include <QLatin1StringView>
#include <QSet>
#include <QTime>

#include <cmath>
#include <cstring>

namespace {

constexpr qsizetype maxColumns = 16384; // A to XFD
// The text of one row and of all kept rows, in UTF-16 code units, with the
// CSV reader's bounds. A shared string is held once however many cells use
// it, but every use is stored in full: a few kilobytes of workbook could
// otherwise ask the store to write terabytes.
constexpr qsizetype maxRowText = qsizetype(64) * 1024 * 1024;
constexpr qint64 maxTableText = qint64(2) * 1024 * 1024 * 1024;

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

// Names are compared for every element and attribute: inline, since a call
// for each comparison shows in the time of a large import.
template <std::size_t N>
bool is(QByteArrayView name, const char (&literal)[N])
{
    return name.size() == qsizetype(N - 1) && std::memcmp(name.data(), literal, N - 1) == 0;
}

// The column index of a cell reference's leading letters (A = 0); -1 without
// letters. Stops counting once past XFD, so the result is then maxColumns.
qsizetype columnIndex(QStringView reference)
{
    qsizetype number = 0;
    for (const QChar ch : reference) {
        if (!ch.isLetter())
            break;
        number = number * 26 + (ch.toUpper().unicode() - 64);
        if (number > maxColumns)
            return maxColumns;
    }
    return number - 1;
}

// The same for a reference in ASCII, where the letters are A to Z in either case.
qsizetype columnIndex(QByteArrayView reference)
{
    qsizetype number = 0;
    for (const char c : reference) {
        const char upper = c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
        if (upper < 'A' || upper > 'Z')
            break;
        number = number * 26 + (upper - 64);
        if (number > maxColumns)
            return maxColumns;
    }
    return number - 1;
}

int integerAttribute(QStringView text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

enum class CellType { SharedString, Boolean, Text, Number };

CellType cellType(QStringView type)
{
    if (type == QLatin1StringView("s"))
        return CellType::SharedString;
    if (type == QLatin1StringView("b"))
        return CellType::Boolean;
    if (type == QLatin1StringView("str") || type == QLatin1StringView("inlineStr")
        || type == QLatin1StringView("e"))
        return CellType::Text;
    return CellType::Number;
}

// The same for a type in ASCII.
CellType cellType(QByteArrayView type)
{
    if (is(type, "s"))
        return CellType::SharedString;
    if (is(type, "b"))
        return CellType::Boolean;
    if (is(type, "str") || is(type, "inlineStr") || is(type, "e"))
        return CellType::Text;
    return CellType::Number;
}

bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// True when a number's text prints as written: an integer of any length
// without leading zeros (card and account numbers of 16 digits and more must
// not turn into 4.00012341234123e+15), or a text that is already the 'g' 15
// rendering of its number, so that parsing and printing can be skipped: an
// optional minus, an integer part without leading zeros, an optional fraction
// not ending in 0, at most 15 significant digits (any such decimal survives
// the trip through a double), and below 1 at most three zeros after the point
// (0.0001 prints as written, 0.00001 as 1e-05). "-0" prints as 0, so it does
// not qualify.
bool isCanonicalNumber(QStringView text)
{
    const qsizetype size = text.size();
    qsizetype i = !text.isEmpty() && text.front() == QLatin1Char('-') ? 1 : 0;
    const qsizetype integerStart = i;
    while (i < size && isDigit(text[i]))
        ++i;
    const qsizetype integerDigits = i - integerStart;
    if (integerDigits == 0)
        return false;
    const bool zeroInteger = text[integerStart] == QLatin1Char('0');
    if (zeroInteger && integerDigits > 1)
        return false;
    if (i == size)
        return !zeroInteger || integerStart == 0;

    if (text[i] != QLatin1Char('.'))
        return false;
    const qsizetype fractionStart = ++i;
    while (i < size && isDigit(text[i]))
        ++i;
    const qsizetype fractionDigits = i - fractionStart;
    if (i != size || fractionDigits == 0 || text.back() == QLatin1Char('0'))
        return false;
    if (!zeroInteger)
        return integerDigits + fractionDigits <= 15;
    qsizetype zeros = 0;
    while (fractionStart + zeros < size && text[fractionStart + zeros] == QLatin1Char('0'))
        ++zeros;
    return zeros <= 3 && fractionDigits - zeros <= 15;
}

// The integer an integer literal (an optional minus, then digits) holds,
// digit for digit, without leading zeros and without the minus of a zero;
// nothing for any other text.
std::optional<QString> integerText(QStringView text)
{
    const qsizetype start = !text.isEmpty() && text.front() == QLatin1Char('-') ? 1 : 0;
    if (start == text.size())
        return std::nullopt;
    qsizetype firstSignificant = -1;
    for (qsizetype i = start; i < text.size(); ++i) {
        if (!isDigit(text[i]))
            return std::nullopt;
        if (firstSignificant < 0 && text[i] != QLatin1Char('0'))
            firstSignificant = i;
    }
    if (firstSignificant < 0)
        return QStringLiteral("0");
    QString digits = start ? QStringLiteral("-") : QString();
    digits.append(text.sliced(firstSignificant));
    return digits;
}

// A shared-string index: plain digits directly, anything else the way
// QString reads a base-10 integer.
std::optional<qlonglong> indexValue(QStringView text)
{
    if (!text.isEmpty() && text.size() <= 18) {
        qlonglong value = 0;
        bool digitsOnly = true;
        for (const QChar c : text) {
            if (!isDigit(c)) {
                digitsOnly = false;
                break;
            }
            value = value * 10 + (c.unicode() - u'0');
        }
        if (digitsOnly)
            return value;
    }
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 10);
    return ok ? std::optional<qlonglong>(value) : std::nullopt;
}

void appendDigits(QString &out, int value, int width)
{
    char16_t digits[8];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = char16_t(u'0' + value % 10);
        value /= 10;
    }
    out.append(QStringView(digits, width));
}

// A time as a time-only format with an hour shows it: 18:00, 6:00 PM, 06:00:00.
void appendClock(QString &text, QTime time, const CellFormatInfo &format)
{
    int hour = time.hour();
    if (format.twelveHour) {
        hour %= 12;
        if (hour == 0)
            hour = 12;
    }
    appendDigits(text, hour, format.twoDigitHour || hour >= 10 ? 2 : 1);
    text.append(QLatin1Char(':'));
    appendDigits(text, time.minute(), 2);
    if (format.withSeconds) {
        text.append(QLatin1Char(':'));
        appendDigits(text, time.second(), 2);
    }
    if (format.twelveHour)
        text.append(time.hour() < 12 ? QLatin1StringView(" AM") : QLatin1StringView(" PM"));
}

// A date serial as text; nothing when the serial lies beyond the calendar's range.
std::optional<QString> dateText(double serial, const CellFormatInfo &format, DateSystem system)
{
    const double day = std::floor(serial);
    if (!(std::fabs(day) < 1e12))
        return std::nullopt;
    qint64 days = qint64(day);
    QDate date;
    if (system == DateSystem::From1904) {
        date = QDate(1904, 1, 1).addDays(days);
    } else {
        // Serial 60 is 29 February 1900, a day that never was (a bug kept for
        // compatibility); it and everything after it are one day late.
        if (days >= 60)
            --days;
        date = QDate(1899, 12, 31).addDays(days);
    }
    if (!date.isValid())
        return std::nullopt;
    const double milliseconds = (serial - day) * 24 * 60 * 60 * 1000;
    const qint64 rounded = qBound(qint64(0), qint64(std::round(milliseconds)), qint64(86'399'999));
    const QTime time = QTime::fromMSecsSinceStartOfDay(int(rounded));

    QString text;
    text.reserve(19);
    if (format.hasDate) {
        if (date.year() >= 0 && date.year() <= 9999) {
            appendDigits(text, date.year(), 4);
            text.append(QLatin1Char('-'));
            appendDigits(text, date.month(), 2);
            text.append(QLatin1Char('-'));
            appendDigits(text, date.day(), 2);
        } else {
            text.append(date.toString(u"yyyy-MM-dd"));
        }
        if (!format.hasTime)
            return text;
        text.append(QLatin1Char(' '));
    } else if (format.clock) {
        appendClock(text, time, format);
        return text;
    }
    appendDigits(text, time.hour(), 2);
    text.append(QLatin1Char(':'));
    appendDigits(text, time.minute(), 2);
    text.append(QLatin1Char(':'));
    appendDigits(text, time.second(), 2);
    return text;
}

// The rows of a worksheet, from the elements either XML reader reports: rows
// in document order (their r attributes unused), cells placed by the column
// letters of their references, values by cell type and style.
class WorksheetRows
{
public:
    WorksheetRows(const QStringList &sharedStrings, const QList<CellFormatInfo> &formats, DateSystem dateSystem,
                  qsizetype maxRows, const XlsxSheetReader::CancelCheck &cancelRequested)
        : sharedStrings(sharedStrings), formats(formats), dateSystem(dateSystem), maxRows(maxRows),
          cancelRequested(cancelRequested)
    {
        if (maxRows >= 0)
            rows.reserve(qMin(maxRows, XlsxSheetReader::maxKeptRows) + 1);
    }

    bool inRow() const { return rowOpen; }
    // These return false when reading is to stop: on a failure or a cancel
    // (failure() then says why) or once the rows wanted are there.
    bool startRow();
    // `column` < 0: just after the cells placed so far.
    bool startCell(qsizetype column, CellType cellType, int cellStyle);
    bool endCell();
    bool endRow();
    // Where the text of a v element, and of the t elements of an inline
    // string, goes; null outside a cell.
    QString *valueText()
    {
        if (!cellOpen)
            return nullptr;
        raw.resize(0);
        return &raw;
    }
    QString *inlineText() { return cellOpen ? &raw : nullptr; }
    // Where the text of a phonetic run of an inline string goes: nowhere,
    // since the reading shown above a name is not part of it.
    QString *phoneticText()
    {
        if (!cellOpen)
            return nullptr;
        discarded.resize(0);
        return &discarded;
    }

    const QString &failure() const { return failureMessage; }
    bool isCancelled() const { return cancelled; }
    bool finish(ImportedTable *table, QString *error);

private:
    bool stop(const QString &message)
    {
        failureMessage = message;
        return false;
    }
    QString cellValue() const;
    QString numberText() const;
    // A copy of its own, so that `raw` keeps its buffer for the next cell.
    QString rawCopy() const { return QString(raw.constData(), raw.size()); }

    const QStringList &sharedStrings;
    const QList<CellFormatInfo> &formats;
    const DateSystem dateSystem;
    const qsizetype maxRows;
    const XlsxSheetReader::CancelCheck &cancelRequested;
    const QString trueText = QStringLiteral("TRUE");
    const QString falseText = QStringLiteral("FALSE");

    QList<QStringList> rows;
    QStringList row;
    qsizetype rowText = 0;
    qint64 tableText = 0;
    qsizetype widest = 0;
    bool rowOpen = false;
    bool cancelled = false;
    QString failureMessage;

    // Date and time texts by serial, per way of printing them (dateTextKind).
    static constexpr qsizetype maxSharedDates = 4096;
    static int dateTextKind(const CellFormatInfo &format)
    {
        return (format.hasDate ? 1 : 0) | (format.hasTime ? 2 : 0) | (format.clock ? 4 : 0)
               | (format.twoDigitHour ? 8 : 0) | (format.withSeconds ? 16 : 0) | (format.twelveHour ? 32 : 0);
    }
    mutable QHash<double, QString> dateTexts[64];

    // The cell being read.
    bool cellOpen = false;
    qsizetype column = 0;
    CellType type = CellType::Number;
    int style = 0;
    QString raw;
    QString discarded;
};

bool WorksheetRows::startRow()
{
    // Asked for every row element, empty ones included: a sheet of a
    // million empty rows takes as long to read as any other.
    if (cancelRequested && cancelRequested()) {
        cancelled = true;
        return stop(XlsxSheetReader::cancelledMessage());
    }
    rowOpen = true;
    cellOpen = false;
    row.resize(0);
    rowText = 0;
    return true;
}

bool WorksheetRows::startCell(qsizetype cellColumn, CellType cellType, int cellStyle)
{
    cellOpen = true;
    raw.resize(0);
    type = cellType;
    style = cellStyle;
    column = cellColumn < 0 ? row.size() : cellColumn;
    if (column >= maxColumns)
        return stop(QStringLiteral("The Excel worksheet has more columns than supported"));
    return true;
}

bool WorksheetRows::endCell()
{
    if (!cellOpen)
        return true;
    cellOpen = false;
    QString value = cellValue();
    rowText += value.size();
    if (column == row.size()) {
        row.append(std::move(value));
    } else {
        if (column > row.size())
            row.resize(column + 1);
        rowText -= row.at(column).size(); // a cell given twice keeps the later text
        row[column] = std::move(value);
    }
    if (rowText > maxRowText)
        return stop(QStringLiteral("The Excel worksheet has a row larger than %1 MiB and cannot be "
                                   "imported safely")
                        .arg(maxRowText / (1024 * 1024)));
    return true;
}

bool WorksheetRows::endRow()
{
    if (!rowOpen)
        return true;
    rowOpen = false;
    cellOpen = false;
    while (!row.isEmpty() && row.constLast().isEmpty())
        row.removeLast();
    if (row.isEmpty())
        return true;
    const qsizetype width = row.size();
    widest = qMax(widest, width);
    tableText += rowText;
    rows.append(std::move(row));
    row = QStringList();
    row.reserve(width);
    if (maxRows >= 0 && rows.size() > maxRows)
        return false;
    if (rows.size() > XlsxSheetReader::maxKeptRows)
        return stop(QStringLiteral("The Excel worksheet exceeds 250,000 rows and cannot be imported safely"));
    if (qint64(rows.size()) * widest > XlsxSheetReader::maxCells || tableText > maxTableText)
        return stop(XlsxPackage::tooLargeMessage());
    return true;
}

bool WorksheetRows::finish(ImportedTable *table, QString *error)
{
    if (!failureMessage.isEmpty())
        return fail(error, failureMessage);
    if (rows.isEmpty())
        return fail(error, QStringLiteral("The first Excel worksheet is empty"));
    QStringList header = std::move(rows.first());
    rows.removeFirst();
    table->header = settledHeader(std::move(header), widest);
    table->rows = std::move(rows);
    return true;
}

QString WorksheetRows::cellValue() const
{
    switch (type) {
    case CellType::SharedString: {
        const std::optional<qlonglong> index = indexValue(raw);
        return index && *index >= 0 && *index < sharedStrings.size() ? sharedStrings.at(*index)
                                                                     : QString();
    }
    case CellType::Boolean:
        return raw == QLatin1StringView("1") ? trueText : falseText;
    case CellType::Text:
        return rawCopy();
    case CellType::Number:
        break;
    }
    return numberText();
}

QString WorksheetRows::numberText() const
{
    const CellFormatInfo *format =
        style >= 0 && style < formats.size() && formats.at(style).isDateTime ? &formats.at(style)
                                                                             : nullptr;
    if (!format) {
        if (isCanonicalNumber(raw))
            return rawCopy();
        if (std::optional<QString> integer = integerText(raw))
            return *std::move(integer);
    }
    bool ok = false;
    const double value = QStringView(raw).toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return rawCopy();
    if (format) {
        // Dates repeat (a year has but 365), so their texts are shared.
        QHash<double, QString> &known = dateTexts[dateTextKind(*format)];
        const auto found = known.constFind(value);
        if (found != known.cend())
            return *found;
        if (std::optional<QString> text = dateText(value, *format, dateSystem)) {
            if (known.size() < maxSharedDates)
                known.insert(value, *text);
            return *std::move(text);
        }
    }
    return QString::number(value, 'g', 15);
}

// Worksheet elements as the scanner reports them.
class WorksheetHandler : public XlsxSheetScanner::Handler
{
public:
    explicit WorksheetHandler(WorksheetRows &rows) : rows(rows) {}
    // The scanner reporting here, told to stop when reading is to stop.
    XlsxSheetScanner *scanner = nullptr;

    QString *startElement(QByteArrayView name, const XlsxSheetScanner::Attributes &attributes) override
    {
        if (is(name, "c")) {
            if (!rows.inRow())
                return nullptr;
            qsizetype column = -1;
            CellType type = CellType::Number;
            int style = 0;
            for (const XlsxSheetScanner::Attribute &attribute : attributes) {
                if (is(attribute.name, "r")) {
                    column = attribute.plain ? columnIndex(attribute.value)
                                             : columnIndex(XlsxSheetScanner::value(attribute));
                } else if (is(attribute.name, "t")) {
                    type = attribute.plain ? cellType(attribute.value)
                                           : cellType(XlsxSheetScanner::value(attribute));
                } else if (is(attribute.name, "s")) {
                    style = styleIndex(attribute);
                }
            }
            if (!rows.startCell(column, type, style))
                scanner->stopReporting();
            return nullptr;
        }
        if (is(name, "v"))
            return rows.valueText();
        if (is(name, "t"))
            return rows.inlineText();
        if (is(name, "rPh"))
            return rows.phoneticText();
        if (is(name, "row") && !rows.startRow())
            scanner->stopReporting();
        return nullptr;
    }

    void endElement(QByteArrayView name) override
    {
        if ((is(name, "c") && !rows.endCell()) || (is(name, "row") && !rows.endRow()))
            scanner->stopReporting();
    }

private:
    static int styleIndex(const XlsxSheetScanner::Attribute &attribute)
    {
        const QByteArrayView digits = attribute.value;
        if (attribute.plain && !digits.isEmpty() && digits.size() <= 9) {
            int value = 0;
            for (const char c : digits) {
                if (c < '0' || c > '9')
                    return integerAttribute(QString::fromLatin1(digits));
                value = value * 10 + (c - '0');
            }
            return value;
        }
        return integerAttribute(XlsxSheetScanner::value(attribute));
    }

    WorksheetRows &rows;
};

// The worksheet elements as XlsxXmlReader reports them.
bool readWorksheetXml(const QByteArray &data, WorksheetRows &rows, QString *error)
{
    XlsxXmlReader xml(data);
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QStringView name = xml.name();
            if (name == QLatin1StringView("c")) {
                if (!rows.inRow())
                    continue;
                qsizetype column = -1;
                CellType type = CellType::Number;
                int style = 0;
                const QXmlStreamAttributes attributes = xml.attributes();
                for (const QXmlStreamAttribute &attribute : attributes) {
                    const QStringView attributeName = attribute.qualifiedName();
                    if (attributeName == QLatin1StringView("r"))
                        column = columnIndex(attribute.value());
                    else if (attributeName == QLatin1StringView("t"))
                        type = cellType(attribute.value());
                    else if (attributeName == QLatin1StringView("s"))
                        style = integerAttribute(attribute.value());
                }
                if (!rows.startCell(column, type, style))
                    break;
            } else if (name == QLatin1StringView("v")) {
                if (QString *text = rows.valueText())
                    xml.appendElementText(*text);
            } else if (name == QLatin1StringView("t")) {
                if (QString *text = rows.inlineText())
                    xml.appendElementText(*text);
            } else if (name == QLatin1StringView("rPh")) {
                if (QString *text = rows.phoneticText())
                    xml.appendElementText(*text);
            } else if (name == QLatin1StringView("row")) {
                if (!rows.startRow())
                    break;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            const QStringView name = xml.name();
            if ((name == QLatin1StringView("c") && !rows.endCell())
                || (name == QLatin1StringView("row") && !rows.endRow()))
                break;
        }
    }
    if (rows.failure().isEmpty() && xml.hasError())
        return fail(error, QStringLiteral("Failed to parse the Excel worksheet: %1").arg(xml.errorString()));
    return true;
}

// The items of a shared-strings part: the text of the t elements of each si
// element joined, its rich-text runs in order. The t elements of a phonetic
// run (rPh, the reading printed above Japanese names) are not part of the text.
class SharedStringItems
{
public:
    explicit SharedStringItems(const XlsxSheetReader::CancelCheck &cancelRequested)
        : cancelRequested(cancelRequested)
    {
    }

    // These return false when reading is to stop (failure() says why).
    bool startItem()
    {
        // A large table takes as long as a large sheet; a check per item
        // would cost more than the items.
        if ((strings.size() % 1024) == 0 && cancelRequested && cancelRequested()) {
            cancelled = true;
            failureMessage = XlsxSheetReader::cancelledMessage();
            return false;
        }
        item = QString();
        inItem = true;
        return true;
    }
    QString *text() { return inItem ? &item : nullptr; }
    QString *phoneticText()
    {
        if (!inItem)
            return nullptr;
        discarded.resize(0);
        return &discarded;
    }
    bool endItem()
    {
        strings.append(item);
        inItem = false;
        // A part of nothing but empty items could otherwise fill gigabytes.
        if (strings.size() > XlsxSheetReader::maxCells) {
            failureMessage = XlsxPackage::tooLargeMessage();
            return false;
        }
        return true;
    }

    const QString &failure() const { return failureMessage; }
    bool isCancelled() const { return cancelled; }
    QStringList strings;

private:
    const XlsxSheetReader::CancelCheck &cancelRequested;
    QString item;
    QString discarded;
    bool inItem = false;
    bool cancelled = false;
    QString failureMessage;
};

class SharedStringsHandler : public XlsxSheetScanner::Handler
{
public:
    explicit SharedStringsHandler(SharedStringItems &items) : items(items) {}
    // The scanner reporting here, told to stop when reading is to stop.
    XlsxSheetScanner *scanner = nullptr;

    QString *startElement(QByteArrayView name, const XlsxSheetScanner::Attributes &) override
    {
        if (is(name, "si")) {
            if (!items.startItem())
                scanner->stopReporting();
        } else if (is(name, "t")) {
            return items.text();
        } else if (is(name, "rPh")) {
            return items.phoneticText();
        }
        return nullptr;
    }

    void endElement(QByteArrayView name) override
    {
        if (is(name, "si") && !items.endItem())
            scanner->stopReporting();
    }

private:
    SharedStringItems &items;
};

std::optional<QStringList> readSharedStringsXml(const QByteArray &data, SharedStringItems &items,
                                                QString *error)
{
    XlsxXmlReader xml(data);
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (xml.name() == QLatin1StringView("si")) {
                if (!items.startItem())
                    break;
            } else if (xml.name() == QLatin1StringView("t")) {
                if (QString *text = items.text())
                    xml.appendElementText(*text);
            } else if (xml.name() == QLatin1StringView("rPh")) {
                if (QString *text = items.phoneticText())
                    xml.appendElementText(*text);
            }
        } else if (token == QXmlStreamReader::EndElement && xml.name() == QLatin1StringView("si")) {
            if (!items.endItem())
                break;
        }
    }
    if (!items.failure().isEmpty()) {
        fail(error, items.failure());
        return std::nullopt;
    }
    if (xml.hasError()) {
        fail(error, QStringLiteral("Failed to parse Excel shared strings: %1").arg(xml.errorString()));
        return std::nullopt;
    }
    return std::move(items.strings);
}

// Streams a part through `scanner`, until the end or until `cancelled` is
// set. Read with `scanned` true: the scanner read it all; with `scanned`
// false, the part is for the XML reader.
struct ScanResult
{
    XlsxPackage::PartStatus status;
    bool scanned = false;
    bool empty = true;
};

ScanResult scanPart(XlsxPackage &package, const QString &partPath, XlsxSheetScanner &scanner,
                    const bool &cancelled, QString *error)
{
    ScanResult result;
    result.status = package.streamPart(
        partPath,
        [&](QByteArrayView piece) {
            result.empty = result.empty && piece.isEmpty();
            scanner.feed(piece);
            return !cancelled;
        },
        error);
    result.scanned = result.status == XlsxPackage::PartStatus::Read && scanner.finish();
    return result;
}

} // namespace

QString XlsxSheetReader::cancelledMessage()
{
    return QStringLiteral("Reading the Excel file was cancelled");
}

XlsxSheetReader::XlsxSheetReader(XlsxPackage &package, XmlReading reading)
    : package(package), reading(reading)
{
}

void XlsxSheetReader::setCancelCheck(CancelCheck check)
{
    cancelRequested = std::move(check);
}

std::optional<QStringList> XlsxSheetReader::sharedStrings(QString *error)
{
    const QString partPath = QStringLiteral("xl/sharedStrings.xml");
    if (reading == XmlReading::Scanner) {
        SharedStringItems items(cancelRequested);
        SharedStringsHandler handler(items);
        XlsxSheetScanner scanner(&handler);
        handler.scanner = &scanner;
        const ScanResult scan = scanPart(package, partPath, scanner, items.isCancelled(), error);
        switch (scan.status) {
        case XlsxPackage::PartStatus::Missing:
            return QStringList();
        case XlsxPackage::PartStatus::Failed:
            return std::nullopt;
        case XlsxPackage::PartStatus::Stopped:
            fail(error, items.failure());
            return std::nullopt;
        case XlsxPackage::PartStatus::Read:
            break;
        }
        if (scan.empty)
            return QStringList();
        if (scan.scanned) {
            if (!items.failure().isEmpty()) {
                fail(error, items.failure());
                return std::nullopt;
            }
            return std::move(items.strings);
        }
    }

    const std::optional<QByteArray> data = package.partBytes(partPath, XlsxPackage::Need::Optional, error);
    if (!data)
        return std::nullopt;
    if (data->isEmpty())
        return QStringList();
    SharedStringItems items(cancelRequested);
    return readSharedStringsXml(*data, items, error);
}

bool XlsxSheetReader::worksheet(const QString &partPath, const QStringList &sharedStrings,
                                const QList<CellFormatInfo> &formats, qsizetype maxRows,
                                ImportedTable *table, QString *error)
{
    if (reading == XmlReading::Scanner) {
        WorksheetRows rows(sharedStrings, formats, dateSystem, maxRows, cancelRequested);
        WorksheetHandler handler(rows);
        XlsxSheetScanner scanner(&handler);
        handler.scanner = &scanner;
        const ScanResult scan = scanPart(package, partPath, scanner, rows.isCancelled(), error);
        switch (scan.status) {
        case XlsxPackage::PartStatus::Missing:
            return fail(error, XlsxPackage::missingMessage(partPath));
        case XlsxPackage::PartStatus::Failed:
            return false;
        case XlsxPackage::PartStatus::Stopped:
            return fail(error, rows.failure());
        case XlsxPackage::PartStatus::Read:
            break;
        }
        if (scan.scanned)
            return rows.finish(table, error);
    }

    const std::optional<QByteArray> data = package.partBytes(partPath, XlsxPackage::Need::Required, error);
    if (!data)
        return false;
    WorksheetRows rows(sharedStrings, formats, dateSystem, maxRows, cancelRequested);
    return readWorksheetXml(*data, rows, error) && rows.finish(table, error);
}
