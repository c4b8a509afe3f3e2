#include "clipboarddocument.h"

#include "editorgeometry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <algorithm>
#include <cmath>

namespace {

using namespace Qt::StringLiterals;

constexpr auto fieldKind = "field"_L1;
constexpr auto graphicKind = "graphic"_L1;

QJsonObject fieldObject(const TemplateField &f)
{
    return QJsonObject{
        {u"type"_s, elementKindKey(f.type)},
        {u"name"_s, f.name},
        {u"dataColumn"_s, f.dataColumn},
        {u"xMm"_s, f.xMm},
        {u"yMm"_s, f.yMm},
        {u"widthMm"_s, f.widthMm},
        {u"heightMm"_s, f.heightMm},
        {u"fontFamily"_s, f.fontFamily},
        {u"fontSizePt"_s, f.fontSizePt},
        {u"colorHex"_s, f.colorHex},
        {u"bold"_s, f.bold},
        {u"alignment"_s, alignmentFlags(f.alignment)},
        {u"barcodeFormat"_s, barcodeFormatKey(f.barcodeFormat)},
        {u"barcodeShowText"_s, f.barcodeShowText},
        {u"scratchMode"_s, scratchModeKey(f.scratchMode)},
        {u"scratchTotal"_s, f.scratchTotal},
        {u"scratchPrizesJson"_s, f.scratchPrizesJson},
        {u"sequencePrefix"_s, f.sequencePrefix},
        {u"sequenceDigits"_s, f.sequenceDigits},
        {u"sequenceStep"_s, f.sequenceStep},
        {u"sequenceExcludeFour"_s, f.sequenceExcludeFour},
    };
}

QJsonObject graphicObject(const GraphicElement &g)
{
    return QJsonObject{
        {u"type"_s, elementKindKey(g.type)},
        {u"xMm"_s, g.xMm},
        {u"yMm"_s, g.yMm},
        {u"widthMm"_s, g.widthMm},
        {u"heightMm"_s, g.heightMm},
        {u"strokeColor"_s, g.strokeColor},
        {u"strokeWidthMm"_s, g.strokeWidthMm},
        {u"fillColor"_s, g.fillColor},
        {u"rows"_s, g.rows},
        {u"columns"_s, g.columns},
        {u"cellSpacingMm"_s, g.cellSpacingMm},
    };
}

// Readers of one member: each leaves `member` as it is when the key is
// missing or holds something the member cannot take.

void readText(const QJsonObject &o, QLatin1StringView key, QString &member)
{
    const QJsonValue value = o.value(key);
    if (value.isString())
        member = value.toString();
}

// `fromKey` is the stored text's conversion (model/elementkind.h), which
// knows nothing of a text it does not list.
template<typename Enum>
void readChoice(const QJsonObject &o, QLatin1StringView key, Enum &member,
                std::optional<Enum> (*fromKey)(QStringView))
{
    const QJsonValue value = o.value(key);
    if (!value.isString())
        return;
    if (const std::optional<Enum> choice = fromKey(value.toString()))
        member = *choice;
}

void readBool(const QJsonObject &o, QLatin1StringView key, bool &member)
{
    const QJsonValue value = o.value(key);
    if (value.isBool())
        member = value.toBool();
}

// A number brought into [minimum, maximum]; JSON has no not-a-number, but an
// overflowing literal may still arrive as an infinity.
std::optional<double> number(const QJsonObject &o, QLatin1StringView key, double minimum, double maximum)
{
    const QJsonValue value = o.value(key);
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d))
        return std::nullopt;
    return std::clamp(d, minimum, maximum);
}

void readNumber(const QJsonObject &o, QLatin1StringView key, double &member, double minimum, double maximum)
{
    if (const std::optional<double> d = number(o, key, minimum, maximum))
        member = *d;
}

void readWholeNumber(const QJsonObject &o, QLatin1StringView key, qint32 &member, qint32 minimum,
                     qint32 maximum)
{
    // Clamped before rounding, so the result always fits.
    if (const std::optional<double> d = number(o, key, minimum, maximum))
        member = qint32(std::lround(*d));
}

bool isHexColour(const QString &text)
{
    if (text.size() != 7 || text.at(0) != u'#')
        return false;
    return std::all_of(text.begin() + 1, text.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    });
}

void readColour(const QJsonObject &o, QLatin1StringView key, QString &member, bool transparentAllowed)
{
    const QJsonValue value = o.value(key);
    if (!value.isString())
        return;
    const QString text = value.toString();
    if (isHexColour(text) || (transparentAllowed && text == "transparent"_L1))
        member = text;
}

void readAlignment(const QJsonObject &o, QLatin1StringView key, TextAlignment &member)
{
    const QJsonValue value = o.value(key);
    if (!value.isDouble())
        return;
    // Flags beyond these are no alignment (and some are text flags).
    constexpr qint64 alignmentBits = Qt::AlignHorizontal_Mask | Qt::AlignVertical_Mask;
    const qint64 flags = value.toInteger(-1);
    if (flags >= 0 && (flags & ~alignmentBits) == 0)
        member = alignmentFromFlags(int(flags));
}

TemplateField readField(const QJsonObject &o)
{
    using namespace editorlimits;
    TemplateField f;
    readChoice(o, "type"_L1, f.type, fieldKindFromKey);
    readText(o, "name"_L1, f.name);
    readText(o, "dataColumn"_L1, f.dataColumn);
    readNumber(o, "xMm"_L1, f.xMm, 0, maximumLengthMm);
    readNumber(o, "yMm"_L1, f.yMm, 0, maximumLengthMm);
    readNumber(o, "widthMm"_L1, f.widthMm, fieldMinimumWidthMm, maximumLengthMm);
    readNumber(o, "heightMm"_L1, f.heightMm, fieldMinimumHeightMm, maximumLengthMm);
    readText(o, "fontFamily"_L1, f.fontFamily);
    readNumber(o, "fontSizePt"_L1, f.fontSizePt, minimumFontSizePt, maximumFontSizePt);
    readColour(o, "colorHex"_L1, f.colorHex, false);
    readBool(o, "bold"_L1, f.bold);
    readAlignment(o, "alignment"_L1, f.alignment);
    readChoice(o, "barcodeFormat"_L1, f.barcodeFormat, barcodeFormatFromKey);
    readBool(o, "barcodeShowText"_L1, f.barcodeShowText);
    readChoice(o, "scratchMode"_L1, f.scratchMode, scratchModeFromKey);
    readWholeNumber(o, "scratchTotal"_L1, f.scratchTotal, minimumScratchTotal, maximumScratchTotal);
    // The prize list is checked where prizes are drawn, as any stored one is.
    readText(o, "scratchPrizesJson"_L1, f.scratchPrizesJson);
    readText(o, "sequencePrefix"_L1, f.sequencePrefix);
    readWholeNumber(o, "sequenceDigits"_L1, f.sequenceDigits, minimumSequenceDigits, maximumSequenceDigits);
    readWholeNumber(o, "sequenceStep"_L1, f.sequenceStep, minimumSequenceStep, maximumSequenceStep);
    readBool(o, "sequenceExcludeFour"_L1, f.sequenceExcludeFour);
    return f;
}

GraphicElement readGraphic(const QJsonObject &o)
{
    using namespace editorlimits;
    GraphicElement g;
    // The type first: a line may be lower than the other kinds.
    readChoice(o, "type"_L1, g.type, graphicKindFromKey);
    const double minimumHeight = isLine(g.type) ? lineMinimumHeightMm : graphicMinimumSideMm;
    readNumber(o, "xMm"_L1, g.xMm, 0, maximumLengthMm);
    readNumber(o, "yMm"_L1, g.yMm, 0, maximumLengthMm);
    readNumber(o, "widthMm"_L1, g.widthMm, graphicMinimumSideMm, maximumLengthMm);
    readNumber(o, "heightMm"_L1, g.heightMm, minimumHeight, maximumLengthMm);
    readColour(o, "strokeColor"_L1, g.strokeColor, false);
    readNumber(o, "strokeWidthMm"_L1, g.strokeWidthMm, minimumStrokeWidthMm, maximumStrokeWidthMm);
    readColour(o, "fillColor"_L1, g.fillColor, true);
    readWholeNumber(o, "rows"_L1, g.rows, minimumTableCount, maximumTableCount);
    readWholeNumber(o, "columns"_L1, g.columns, minimumTableCount, maximumTableCount);
    readNumber(o, "cellSpacingMm"_L1, g.cellSpacingMm, 0, maximumCellSpacingMm);
    return g;
}

} // namespace

QString canvasClipboardMimeType()
{
    return QStringLiteral("application/x-tessolo-canvas-items");
}

QByteArray canvasClipboardDocument(const QList<TemplateElement> &items)
{
    QJsonArray array;
    for (const TemplateElement &item : items) {
        if (const auto *field = asField(item))
            array.append(QJsonObject{{u"kind"_s, fieldKind}, {fieldKind, fieldObject(*field)}});
        else if (const auto *graphic = asGraphic(item))
            array.append(QJsonObject{{u"kind"_s, graphicKind}, {graphicKind, graphicObject(*graphic)}});
    }
    const QJsonObject document{{u"version"_s, 1}, {u"items"_s, array}};
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}

std::optional<CanvasClipboardItems> parseCanvasClipboard(const QByteArray &data)
{
    using namespace canvasclipboardlimits;
    CanvasClipboardItems result;
    // Only our own type reaches here, so even data too large to read is
    // meant as canvas objects and deserves an answer.
    if (data.size() > maximumBytes) {
        // Rounded up, so the size shown is never the limit itself.
        const double tenthsOfMiB = std::ceil(double(data.size()) * 10 / (1024 * 1024));
        result.refusal = QStringLiteral("The clipboard holds %1 MiB of canvas objects; at most %2 MiB can be "
                                        "pasted at once.")
                             .arg(tenthsOfMiB / 10, 0, 'f', 1)
                             .arg(maximumBytes / (1024 * 1024));
        return result;
    }

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonValue itemsValue = document.object().value("items"_L1);
    if (!itemsValue.isArray())
        return std::nullopt;
    const QJsonArray items = itemsValue.toArray();
    if (items.isEmpty())
        return std::nullopt;
    if (items.size() > maximumItems) {
        result.refusal = QStringLiteral("The clipboard holds %1 objects; at most %2 can be pasted at once.")
                             .arg(items.size())
                             .arg(maximumItems);
        return result;
    }

    result.items.reserve(items.size());
    for (const QJsonValue &value : items) {
        const QJsonObject item = value.toObject();
        const QString kind = item.value("kind"_L1).toString();
        // A missing or malformed record is a record with every member missing.
        if (kind == fieldKind)
            result.items.append(readField(item.value(fieldKind).toObject()));
        else if (kind == graphicKind)
            result.items.append(readGraphic(item.value(graphicKind).toObject()));
    }
    return result;
}
