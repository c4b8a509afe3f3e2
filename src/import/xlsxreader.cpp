#include "import/tablereader.h"
#include "import/xlsxpackage.h"
#include "import/xlsxxmlreader.h"

#include <QDate>
#include <QHash>
#include <QLatin1StringView>
#include <QRegularExpression>
#include <QSet>
#include <QTime>

#include <cmath>
#include <optional>

namespace {

constexpr qsizetype maxColumns = 16384; // A to XFD
constexpr qsizetype maxKeptRows = 250000;
// Kept rows times the widest row. Column padding is real memory: a row whose
// only cell is XFD holds 16,384 texts, so 250,000 such rows (a few kilobytes
// compressed) would need about 100 GB here, and the store pads every row to
// the header's length again. 16 million is 250,000 rows of 64 columns.
constexpr qint64 maxCells = 16'000'000;
// The text of one row and of all kept rows, in UTF-16 code units, with the
// CSV reader's bounds. A shared string is held once however many cells use
// it, but every use is stored in full: a few kilobytes of workbook could
// otherwise ask the store to write terabytes.
constexpr qsizetype maxRowText = qsizetype(64) * 1024 * 1024;
constexpr qint64 maxTableText = qint64(2) * 1024 * 1024 * 1024;

// The relationship-id namespace of ECMA-376 (transitional), and its strict twin.
constexpr QLatin1StringView relationshipsNamespace(
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships");
constexpr QLatin1StringView strictRelationshipsNamespace(
    "http://purl.oclc.org/ooxml/officeDocument/relationships");

struct WorksheetEntry
{
    QString name;
    QString partPath;
};

struct CellFormatInfo
{
    bool isDateTime = false;
    bool hasDate = false;
    bool hasTime = false;
};

enum class PartNeed { Required, Optional };

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

// Nothing on failure, with the message in `error`. A missing optional part
// comes back empty and leaves `error` alone.
std::optional<QByteArray> readPackagePart(XlsxPackage &package, const QString &partPath,
                                          PartNeed need, QString *error)
{
    QByteArray data;
    switch (package.readPart(partPath, &data, error)) {
    case XlsxPackage::PartStatus::Read:
        return data;
    case XlsxPackage::PartStatus::Missing:
        if (need == PartNeed::Optional)
            return QByteArray();
        fail(error, QStringLiteral("The Excel file is missing required content: %1").arg(partPath));
        return std::nullopt;
    case XlsxPackage::PartStatus::Failed:
        break;
    }
    return std::nullopt;
}

QString normalisedTarget(QString target)
{
    target.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (target.startsWith(QLatin1Char('/')))
        return target.mid(1);
    if (!target.startsWith(QLatin1StringView("xl/")))
        target.prepend(QLatin1StringView("xl/"));
    return target;
}

// Relationship id to normalised target. A broken part keeps what was read before the break.
QHash<QString, QString> parseRelationships(const QByteArray &data)
{
    QHash<QString, QString> targets;
    XlsxXmlReader xml(data);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement
            && xml.name() == QLatin1StringView("Relationship")) {
            const QXmlStreamAttributes attributes = xml.attributes();
            targets.insert(attributes.value(QLatin1StringView("Id")).toString(),
                           normalisedTarget(attributes.value(QLatin1StringView("Target")).toString()));
        }
    }
    return targets;
}

std::optional<QList<WorksheetEntry>> readWorkbookSheets(XlsxPackage &package, QString *error)
{
    const std::optional<QByteArray> workbook =
        readPackagePart(package, QStringLiteral("xl/workbook.xml"), PartNeed::Required, error);
    if (!workbook)
        return std::nullopt;

    struct SheetReference
    {
        QString relationshipId;
        QString name;
    };
    QList<SheetReference> references;
    XlsxXmlReader xml(*workbook, XlsxXmlReader::Namespaces::Resolve);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement
            || xml.name() != QLatin1StringView("sheet"))
            continue;
        SheetReference reference;
        const QXmlStreamAttributes attributes = xml.attributes();
        for (const QXmlStreamAttribute &attribute : attributes) {
            if (attribute.name() == QLatin1StringView("id")
                && (attribute.namespaceUri() == relationshipsNamespace
                    || attribute.namespaceUri() == strictRelationshipsNamespace)) {
                reference.relationshipId = attribute.value().toString();
                break;
            }
        }
        reference.name = attributes.value(QLatin1StringView("name")).toString();
        references.append(reference);
    }
    if (xml.hasError() || references.isEmpty()) {
        fail(error, QStringLiteral("The Excel workbook has no readable worksheets"));
        return std::nullopt;
    }

    // Without the relationships part nothing resolves, which the message below says.
    QByteArray relationships;
    if (package.readPart(QStringLiteral("xl/_rels/workbook.xml.rels"), &relationships, error)
        == XlsxPackage::PartStatus::Failed)
        return std::nullopt;
    const QHash<QString, QString> targets = parseRelationships(relationships);

    QList<WorksheetEntry> entries;
    for (const SheetReference &reference : std::as_const(references)) {
        const auto target = targets.constFind(reference.relationshipId);
        if (target != targets.cend())
            entries.append({reference.name, *target});
    }
    if (entries.isEmpty()) {
        fail(error, QStringLiteral("Could not locate an Excel worksheet"));
        return std::nullopt;
    }
    return entries;
}

std::optional<QStringList> parseSharedStrings(XlsxPackage &package, QString *error)
{
    const std::optional<QByteArray> data =
        readPackagePart(package, QStringLiteral("xl/sharedStrings.xml"), PartNeed::Optional, error);
    if (!data)
        return std::nullopt;
    QStringList strings;
    if (data->isEmpty())
        return strings;

    XlsxXmlReader xml(*data);
    QString item;
    bool inItem = false;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (xml.name() == QLatin1StringView("si")) {
                item = QString();
                inItem = true;
            } else if (inItem && xml.name() == QLatin1StringView("t")) {
                xml.appendElementText(item);
            }
        } else if (token == QXmlStreamReader::EndElement && xml.name() == QLatin1StringView("si")) {
            strings.append(item);
            inItem = false;
            // A part of nothing but empty items could otherwise fill gigabytes.
            if (strings.size() > maxCells) {
                fail(error, XlsxPackage::tooLargeMessage());
                return std::nullopt;
            }
        }
    }
    if (xml.hasError()) {
        fail(error, QStringLiteral("Failed to parse Excel shared strings: %1").arg(xml.errorString()));
        return std::nullopt;
    }
    return strings;
}

class DateFormatClassifier
{
public:
    void setCustomFormat(int id, const QString &code)
    {
        customCodes.insert(id, code);
        classified.remove(id);
    }

    CellFormatInfo classify(int id)
    {
        if ((id >= 14 && id <= 22) || (id >= 45 && id <= 47))
            return {true, id < 23, id > 17};
        const auto known = classified.constFind(id);
        if (known != classified.cend())
            return *known;
        CellFormatInfo info;
        QString code = customCodes.value(id).toLower();
        code.remove(quotedText).remove(escapedCharacter).remove(bracketedSection);
        if (!code.isEmpty()) {
            // 'm' alone decides nothing: it is both month and minute.
            info.hasDate = code.contains(QLatin1Char('y')) || code.contains(QLatin1Char('d'));
            info.hasTime = code.contains(QLatin1Char('h')) || code.contains(QLatin1Char('s'));
            info.isDateTime = info.hasDate || info.hasTime;
        }
        classified.insert(id, info);
        return info;
    }

private:
    const QRegularExpression quotedText{QStringLiteral("\"[^\"]*\"")};
    const QRegularExpression escapedCharacter{QStringLiteral("\\\\.")};
    const QRegularExpression bracketedSection{QStringLiteral("\\[[^\\]]*\\]")};
    QHash<int, QString> customCodes;
    QHash<int, CellFormatInfo> classified;
};

int integerAttribute(QStringView text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

std::optional<QList<CellFormatInfo>> parseCellFormats(XlsxPackage &package, QString *error)
{
    const std::optional<QByteArray> data =
        readPackagePart(package, QStringLiteral("xl/styles.xml"), PartNeed::Optional, error);
    if (!data)
        return std::nullopt;
    QList<CellFormatInfo> formats;
    if (data->isEmpty())
        return formats;

    DateFormatClassifier classifier;
    XlsxXmlReader xml(*data);
    bool inCellFormats = false;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QStringView name = xml.name();
            if (name == QLatin1StringView("numFmt")) {
                const QXmlStreamAttributes attributes = xml.attributes();
                classifier.setCustomFormat(
                    integerAttribute(attributes.value(QLatin1StringView("numFmtId"))),
                    attributes.value(QLatin1StringView("formatCode")).toString());
            } else if (name == QLatin1StringView("cellXfs")) {
                inCellFormats = true;
            } else if (inCellFormats && name == QLatin1StringView("xf")) {
                formats.append(classifier.classify(
                    integerAttribute(xml.attributes().value(QLatin1StringView("numFmtId")))));
            }
        } else if (token == QXmlStreamReader::EndElement
                   && xml.name() == QLatin1StringView("cellXfs")) {
            inCellFormats = false;
        }
    }
    if (xml.hasError()) {
        fail(error, QStringLiteral("Failed to parse Excel styles: %1").arg(xml.errorString()));
        return std::nullopt;
    }
    return formats;
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

bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// True when the 'g' 15 rendering of the number a text holds is the text
// itself, so that parsing and printing can be skipped: an optional minus, an
// integer part without leading zeros, an optional fraction not ending in 0,
// at most 15 significant digits (any such decimal survives the trip through a
// double), and below 1 at most three zeros after the point (0.0001 prints as
// written, 0.00001 as 1e-05). "-0" prints as 0, so it does not qualify.
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
        return zeroInteger ? integerStart == 0 : integerDigits <= 15;

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

// A date serial of the 1900 date system as text; nothing when the serial lies
// beyond the calendar's range.
std::optional<QString> dateText(double serial, const CellFormatInfo &format)
{
    const double day = std::floor(serial);
    if (!(std::fabs(day) < 1e12))
        return std::nullopt;
    qint64 days = qint64(day);
    // Serial 60 is 29 February 1900, a day that never was (a bug kept for
    // compatibility); it and everything after it are one day late.
    if (days >= 60)
        --days;
    const QDate date = QDate(1899, 12, 31).addDays(days);
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
    }
    appendDigits(text, time.hour(), 2);
    text.append(QLatin1Char(':'));
    appendDigits(text, time.minute(), 2);
    text.append(QLatin1Char(':'));
    appendDigits(text, time.second(), 2);
    return text;
}

QStringList settledHeader(QStringList names, qsizetype width)
{
    if (names.size() < width)
        names.resize(width);
    QSet<QString> settled;
    settled.reserve(names.size());
    // Per name, the next suffix worth trying: every smaller one is taken for
    // good, so 16,384 equal names do not cost 16,384² tries.
    QHash<QString, int> nextSuffix;
    for (qsizetype i = 0; i < names.size(); ++i) {
        QString name = names.at(i).trimmed();
        if (name.isEmpty())
            name = QStringLiteral("Field %1").arg(i + 1);
        if (settled.contains(name)) {
            int &suffix = nextSuffix[name];
            suffix = qMax(suffix, 2);
            QString candidate;
            do {
                candidate = QStringLiteral("%1_%2").arg(name, QString::number(suffix++));
            } while (settled.contains(candidate));
            name = candidate;
        }
        settled.insert(name);
        names[i] = name;
    }
    return names;
}

class WorksheetParser
{
public:
    WorksheetParser(const QStringList &sharedStrings, const QList<CellFormatInfo> &formats)
        : sharedStrings(sharedStrings), formats(formats)
    {
    }

    bool parse(const QByteArray &data, qsizetype maxRows, ImportedTable *table, QString *error);

private:
    QString cellValue() const;
    QString numberText() const;
    // A copy of its own, so that `raw` keeps its buffer for the next cell.
    QString rawCopy() const { return QString(raw.constData(), raw.size()); }

    const QStringList &sharedStrings;
    const QList<CellFormatInfo> &formats;
    const QString trueText = QStringLiteral("TRUE");
    const QString falseText = QStringLiteral("FALSE");

    // The cell being read.
    CellType type = CellType::Number;
    int style = 0;
    QString raw;
};

QString WorksheetParser::cellValue() const
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

QString WorksheetParser::numberText() const
{
    const CellFormatInfo *format =
        style >= 0 && style < formats.size() && formats.at(style).isDateTime ? &formats.at(style)
                                                                             : nullptr;
    if (!format && isCanonicalNumber(raw))
        return rawCopy();
    bool ok = false;
    const double value = QStringView(raw).toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return rawCopy();
    if (format) {
        if (std::optional<QString> text = dateText(value, *format))
            return *std::move(text);
    }
    return QString::number(value, 'g', 15);
}

bool WorksheetParser::parse(const QByteArray &data, qsizetype maxRows, ImportedTable *table,
                            QString *error)
{
    QList<QStringList> rows;
    rows.reserve(qMin<qsizetype>(maxRows >= 0 ? maxRows + 1 : maxKeptRows + 1,
                                 data.size() / 64 + 1));
    QStringList row;
    qsizetype rowText = 0;
    qint64 tableText = 0;
    qsizetype widest = 0;
    qsizetype column = 0;
    bool inRow = false;
    bool inCell = false;

    XlsxXmlReader xml(data);
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QStringView name = xml.name();
            if (name == QLatin1StringView("c")) {
                if (!inRow)
                    continue;
                inCell = true;
                raw.resize(0);
                type = CellType::Number;
                style = 0;
                column = -1;
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
                if (column < 0)
                    column = row.size();
                if (column >= maxColumns)
                    return fail(error, QStringLiteral("The Excel worksheet has more columns than supported"));
            } else if (name == QLatin1StringView("v")) {
                if (inCell) {
                    raw.resize(0);
                    xml.appendElementText(raw);
                }
            } else if (name == QLatin1StringView("t")) {
                if (inCell)
                    xml.appendElementText(raw);
            } else if (name == QLatin1StringView("row")) {
                inRow = true;
                inCell = false;
                row.resize(0);
                rowText = 0;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            const QStringView name = xml.name();
            if (name == QLatin1StringView("c")) {
                if (!inCell)
                    continue;
                inCell = false;
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
                    return fail(error, QStringLiteral("The Excel worksheet has a row larger than %1 MiB and cannot "
                                                      "be imported safely")
                                           .arg(maxRowText / (1024 * 1024)));
            } else if (name == QLatin1StringView("row")) {
                if (!inRow)
                    continue;
                inRow = false;
                inCell = false;
                while (!row.isEmpty() && row.constLast().isEmpty())
                    row.removeLast();
                if (row.isEmpty())
                    continue;
                const qsizetype width = row.size();
                widest = qMax(widest, width);
                tableText += rowText;
                rows.append(std::move(row));
                row = QStringList();
                row.reserve(width);
                if (maxRows >= 0 && rows.size() > maxRows)
                    break;
                if (rows.size() > maxKeptRows)
                    return fail(error, QStringLiteral("The Excel worksheet exceeds 250,000 rows and cannot be imported safely"));
                if (qint64(rows.size()) * widest > maxCells || tableText > maxTableText)
                    return fail(error, XlsxPackage::tooLargeMessage());
            }
        }
    }
    if (xml.hasError())
        return fail(error, QStringLiteral("Failed to parse the Excel worksheet: %1").arg(xml.errorString()));
    if (rows.isEmpty())
        return fail(error, QStringLiteral("The first Excel worksheet is empty"));

    QStringList header = std::move(rows.first());
    rows.removeFirst();
    table->header = settledHeader(std::move(header), widest);
    table->rows = std::move(rows);
    return true;
}

} // namespace

bool readXlsxFile(const QString &path, const DataSourceOptions &options, ImportedTable *result,
                  QString *error, qsizetype maxRows)
{
    if (!result)
        return false;
    *result = ImportedTable();

    XlsxPackage package;
    if (!package.open(path, error))
        return false;
    const std::optional<QList<WorksheetEntry>> sheets = readWorkbookSheets(package, error);
    if (!sheets)
        return false;

    const WorksheetEntry *sheet = &sheets->first();
    if (!options.worksheetName.isEmpty()) {
        sheet = nullptr;
        for (const WorksheetEntry &entry : *sheets) {
            if (entry.name == options.worksheetName) {
                sheet = &entry;
                break;
            }
        }
        if (!sheet)
            return fail(error, QStringLiteral("The Excel worksheet '%1' was not found")
                                   .arg(options.worksheetName));
    }

    const std::optional<QStringList> sharedStrings = parseSharedStrings(package, error);
    if (!sharedStrings)
        return false;
    const std::optional<QList<CellFormatInfo>> formats = parseCellFormats(package, error);
    if (!formats)
        return false;
    const std::optional<QByteArray> worksheet =
        readPackagePart(package, sheet->partPath, PartNeed::Required, error);
    if (!worksheet)
        return false;

    ImportedTable table;
    if (!WorksheetParser(*sharedStrings, *formats).parse(*worksheet, maxRows, &table, error))
        return false;
    *result = std::move(table);
    return true;
}

QStringList listWorksheetNames(const QString &path, QString *error)
{
    XlsxPackage package;
    if (!package.open(path, error))
        return {};
    const std::optional<QList<WorksheetEntry>> sheets = readWorkbookSheets(package, error);
    if (!sheets)
        return {};
    QStringList names;
    names.reserve(sheets->size());
    for (const WorksheetEntry &entry : *sheets)
        names.append(entry.name);
    return names;
}
