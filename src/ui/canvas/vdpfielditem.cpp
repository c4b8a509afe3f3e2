#include "ui/canvas/vdpfielditem.h"

#include "editor/editorgeometry.h"
#include "model/fieldvalues.h"
#include "render/elementpainter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Beyond this font size (device pixels, far zoomed in or a giant font) the
// content paints directly, as only a part of it is on screen anyway.
constexpr double largestCachedFontPixels = 4096;

// A text longer than this is cut for the canvas (the export prints it whole):
// outlining costs time in proportion to the length, and 1000 letters already
// run some 0.7 m even at the smallest 4 pt. A QR code's limit lies above the
// most any QR code holds (7089 digits), so an over-long text still shows as
// too long.
constexpr qsizetype longestCanvasText = 1000;
constexpr qsizetype longestCanvasQrText = 7090;

} // namespace

BoundedFieldContent boundedFieldContent(const TemplateField &field, const QJsonObject &record)
{
    const qsizetype longest = isSquareCode(field.type) ? longestCanvasQrText : longestCanvasText;
    const QString text = fieldDisplayText(field, record);
    if (text.size() <= longest)
        return {field, record};
    // The value is put where the field reads it: its record key when it has
    // one (data column, sequence, prize), else its name.
    const QString cut = text.left(longest);
    const QStringList keys = fieldRecordKeys({field});
    if (!keys.isEmpty()) {
        QJsonObject bounded = record;
        bounded.insert(keys.first(), cut);
        return {field, bounded};
    }
    TemplateField bounded = field;
    bounded.name = cut;
    return {bounded, record};
}

VdpFieldItem::VdpFieldItem(const TemplateField &field, const QJsonObject &previewRecord,
                           QGraphicsItem *parent)
    : CanvasElementItem(Frame::Always, parent)
    , m_field(field)
    , m_record(previewRecord)
{
    setUp();
    setZValue(0);
}

TemplateField VdpFieldItem::drawnField() const
{
    return breaksLimits() ? fieldWithinLimits(m_field) : m_field;
}

QRectF VdpFieldItem::drawnBoxMm() const
{
    if (!breaksLimits())
        return {m_field.xMm, m_field.yMm, m_field.widthMm, m_field.heightMm};
    const TemplateField drawn = fieldWithinLimits(m_field);
    return {drawn.xMm, drawn.yMm, drawn.widthMm, drawn.heightMm};
}

std::optional<ElementLimitViolation> VdpFieldItem::limitViolation() const
{
    return fieldLimitViolation(m_field);
}

TemplateField VdpFieldItem::field() const
{
    TemplateField field = m_field;
    if (const std::optional<QPointF> position = editedPositionMm()) {
        field.xMm = position->x();
        field.yMm = position->y();
    }
    return field;
}

void VdpFieldItem::setField(const TemplateField &field)
{
    prepareGeometryChange();
    invalidateImages();
    m_field = field;
    place();
    update();
}

void VdpFieldItem::setPreviewRecord(const QJsonObject &record)
{
    m_record = record;
    invalidateContentImage();
    update();
}

QSizeF VdpFieldItem::minimumSizeMm() const
{
    return {fieldMinimumWidthMm, fieldMinimumHeightMm};
}

void VdpFieldItem::storeResizedSizeMm(const QSizeF &sizeMm)
{
    m_field.widthMm = sizeMm.width();
    m_field.heightMm = sizeMm.height();
}

BoundedFieldContent VdpFieldItem::boundedContent() const
{
    return boundedFieldContent(drawnField(), m_record);
}

void VdpFieldItem::paintContent(QPainter *painter) const
{
    const BoundedFieldContent content = boundedContent();
    // One painting path: the same call the preview and the export make, with
    // one painter unit per millimetre.
    painter->save();
    painter->scale(sceneUnitsPerMm, sceneUnitsPerMm);
    const bool drawn = paintField(*painter, canvasItemContentRectMm(content.field.widthMm, content.field.heightMm),
                                  content.field, content.record);
    painter->restore();
    if (breaksLimits()) {
        paintCanvasError(painter, drawnSize(), limitMessage());
        return;
    }
    if (drawn)
        return;
    const QString message = m_field.type == ElementKind::QrCode
        ? tr("QR code content is too long")
        : tr("Barcode data does not match the selected format");
    paintCanvasError(painter, drawnSize(), message);
}

QRectF VdpFieldItem::contentExtent(const QSizeF &devicePerUnit) const
{
    const QRectF box(QPointF(0, 0), drawnSize());
    if (isResizable())
        return box; // bars and modules stay inside the box
    // A text is one line that may run past its box on any side, depending on
    // the alignment; measured as the painter sizes it.
    const BoundedFieldContent content = boundedContent();
    const double pixelsPerMm = std::max(std::min(devicePerUnit.width(), devicePerUnit.height()) * sceneUnitsPerMm, 0.01);
    const double pixelSize = std::max(content.field.fontSizePt * 25.4 / 72, 0.1) * pixelsPerMm;
    if (!(pixelSize <= largestCachedFontPixels))
        return {};
    QFont font(content.field.fontFamily);
    font.setWeight(content.field.bold ? QFont::Bold : QFont::Normal);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
    const QFontMetricsF metrics(font);
    const double advance = metrics.horizontalAdvance(fieldDisplayText(content.field, content.record))
        / devicePerUnit.width();
    const double height = metrics.height() / devicePerUnit.height();
    // Beyond the advance and height: glyph overhangs and antialiasing.
    const double overflowX = std::max(0.0, advance - (box.width() - 8)) + height;
    const double overflowY = std::max(0.0, height - (box.height() - 4)) + height / 2;
    return box.adjusted(-overflowX, -overflowY, overflowX, overflowY);
}
