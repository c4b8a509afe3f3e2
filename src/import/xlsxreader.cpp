#include "import/tablereader.h"
#include "import/xlsxpackage.h"
#include "import/xlsxsheetreader.h"
#include "import/xlsxxmlreader.h"

#include <QHash>
#include <QLatin1StringView>
#include <QRegularExpression>

#include <optional>

namespace {

// The relationship-id namespace of ECMA-376 (transitional), and its strict twin.
constexpr QLatin1StringView relationshipsNamespace(
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships");
constexpr QLatin1StringView strictRelationshipsNamespace(
    "http://purl.oclc.org/ooxml/officeDocument/relationships");

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
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

WorksheetVisibility visibility(QStringView state)
{
    if (state == QLatin1StringView("hidden"))
        return WorksheetVisibility::Hidden;
    if (state == QLatin1StringView("veryHidden"))
        return WorksheetVisibility::VeryHidden;
    return WorksheetVisibility::Visible;
}

// What the workbook part and its relationships say about the workbook.
struct Workbook
{
    QList<WorksheetEntry> sheets;
    DateSystem dateSystem = DateSystem::From1900;
};

std::optional<Workbook> readWorkbook(XlsxPackage &package, QString *error)
{
    const std::optional<QByteArray> workbook =
        package.partBytes(QStringLiteral("xl/workbook.xml"), XlsxPackage::Need::Required, error);
    if (!workbook)
        return std::nullopt;

    struct SheetReference
    {
        QString relationshipId;
        QString name;
        WorksheetVisibility visibility;
    };
    QList<SheetReference> references;
    DateSystem dateSystem = DateSystem::From1900;
    XlsxXmlReader xml(*workbook, XlsxXmlReader::Namespaces::Resolve);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1StringView("workbookPr")) {
            // An xsd:boolean: "1" or "true".
            const QStringView date1904 = xml.attributes().value(QLatin1StringView("date1904"));
            if (date1904 == QLatin1StringView("1") || date1904 == QLatin1StringView("true"))
                dateSystem = DateSystem::From1904;
            continue;
        }
        if (xml.name() != QLatin1StringView("sheet"))
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
        reference.visibility = visibility(attributes.value(QLatin1StringView("state")));
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

    Workbook result;
    result.dateSystem = dateSystem;
    for (const SheetReference &reference : std::as_const(references)) {
        const auto target = targets.constFind(reference.relationshipId);
        if (target != targets.cend())
            result.sheets.append({reference.name, *target, reference.visibility});
    }
    if (result.sheets.isEmpty()) {
        fail(error, QStringLiteral("Could not locate an Excel worksheet"));
        return std::nullopt;
    }
    return result;
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
        // The built-in ones: 14 to 17 dates, 18 to 21 times of day (h:mm AM/PM,
        // h:mm:ss AM/PM, h:mm, h:mm:ss), 22 date and time, 45 to 47 elapsed
        // times and minutes with seconds.
        if (id >= 18 && id <= 21) {
            CellFormatInfo info{true, false, true};
            info.clock = true;
            info.withSeconds = id == 19 || id == 21;
            info.twelveHour = id <= 19;
            return info;
        }
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
            // A time of day prints as its code shows it; one without an hour
            // (mm:ss, an elapsed [h] stripped above) as HH:mm:ss.
            if (info.hasTime && !info.hasDate && code.contains(QLatin1Char('h'))) {
                info.clock = true;
                info.twoDigitHour = code.contains(QLatin1StringView("hh"));
                info.withSeconds = code.contains(QLatin1Char('s'));
                info.twelveHour = code.contains(QLatin1StringView("am/pm")) || code.contains(QLatin1StringView("a/p"));
            }
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
        package.partBytes(QStringLiteral("xl/styles.xml"), XlsxPackage::Need::Optional, error);
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

} // namespace

bool readXlsxWorkbook(const QString &path, const DataSourceOptions &options, ImportedTable *result,
                      QString *error, qsizetype maxRows, const XlsxSheetReader::CancelCheck &cancelRequested,
                      XlsxSheetReader::XmlReading reading)
{
    if (!result)
        return false;
    *result = ImportedTable();

    XlsxPackage package;
    if (!package.open(path, error))
        return false;
    const std::optional<Workbook> workbook = readWorkbook(package, error);
    if (!workbook)
        return false;
    const QList<WorksheetEntry> &sheets = workbook->sheets;

    const WorksheetEntry *sheet = &sheets.at(defaultWorksheetIndex(sheets));
    if (!options.worksheetName.isEmpty()) {
        sheet = nullptr;
        for (const WorksheetEntry &entry : sheets) {
            if (entry.name == options.worksheetName) {
                sheet = &entry;
                break;
            }
        }
        if (!sheet)
            return fail(error, QStringLiteral("The Excel worksheet '%1' was not found")
                                   .arg(options.worksheetName));
    }

    XlsxSheetReader reader(package, reading);
    reader.setCancelCheck(cancelRequested);
    reader.setDateSystem(workbook->dateSystem);
    const std::optional<QStringList> sharedStrings = reader.sharedStrings(error);
    if (!sharedStrings)
        return false;
    const std::optional<QList<CellFormatInfo>> formats = parseCellFormats(package, error);
    if (!formats)
        return false;
    ImportedTable table;
    if (!reader.worksheet(sheet->partPath, *sharedStrings, *formats, maxRows, &table, error))
        return false;
    *result = std::move(table);
    return true;
}

bool readXlsxFile(const QString &path, const DataSourceOptions &options, ImportedTable *result,
                  QString *error, qsizetype maxRows, const std::function<bool()> &cancelRequested)
{
    return readXlsxWorkbook(path, options, result, error, maxRows, cancelRequested,
                            XlsxSheetReader::XmlReading::Scanner);
}

QList<WorksheetEntry> listWorksheets(const QString &path, QString *error)
{
    XlsxPackage package;
    if (!package.open(path, error))
        return {};
    std::optional<Workbook> workbook = readWorkbook(package, error);
    if (!workbook)
        return {};
    return std::move(workbook->sheets);
}

QStringList listWorksheetNames(const QString &path, QString *error)
{
    const QList<WorksheetEntry> sheets = listWorksheets(path, error);
    QStringList names;
    names.reserve(sheets.size());
    for (const WorksheetEntry &entry : sheets)
        names.append(entry.name);
    return names;
}

qsizetype defaultWorksheetIndex(const QList<WorksheetEntry> &sheets)
{
    for (qsizetype i = 0; i < sheets.size(); ++i) {
        if (sheets.at(i).visibility == WorksheetVisibility::Visible)
            return i;
    }
    return sheets.isEmpty() ? -1 : 0;
}

QString worksheetLabel(const WorksheetEntry &sheet)
{
    switch (sheet.visibility) {
    case WorksheetVisibility::Visible:
        break;
    case WorksheetVisibility::Hidden:
        return QStringLiteral("%1 (hidden)").arg(sheet.name);
    case WorksheetVisibility::VeryHidden:
        return QStringLiteral("%1 (very hidden)").arg(sheet.name);
    }
    return sheet.name;
}
