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

struct WorksheetEntry
{
    QString name;
    QString partPath;
};

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

std::optional<QList<WorksheetEntry>> readWorkbookSheets(XlsxPackage &package, QString *error)
{
    const std::optional<QByteArray> workbook =
        package.partBytes(QStringLiteral("xl/workbook.xml"), XlsxPackage::Need::Required, error);
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

bool readXlsxFile(const QString &path, const DataSourceOptions &options, ImportedTable *result,
                  QString *error, qsizetype maxRows, const std::function<bool()> &cancelRequested)
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

    XlsxSheetReader reader(package);
    reader.setCancelCheck(cancelRequested);
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
