#include "ui/canvas/vdpfielditem.h"

#include "editor/editorgeometry.h"
#include "model/fieldvalues.h"
#include "render/elementpainter.h"

#include <QCursor>
#include <QFont>
#include <QFontMetricsF>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace {

// Ten times the largest length the panels accept. A stored record beyond it is
// drawn at this bound: the painters would otherwise be handed geometry no view
// can show, and the scene index could overflow.
constexpr double largestDrawnMm = 10 * editorlimits::maximumLengthMm;

const QColor selectionBlue(0x25, 0x63, 0xeb);

// Bounds of the content image: beyond them (far zoomed in, a giant font) the
// item paints directly, as only a part of it is on screen anyway.
constexpr double largestCachePixels = 4.0 * 1024 * 1024;
constexpr double largestCachedFontPixels = 4096;

// A text longer than this is cut for the canvas (the export prints it whole):
// outlining costs time in proportion to the length, and 1000 letters already
// run some 0.7 m even at the smallest 4 pt. A QR code's limit lies above the
// most any QR code holds (7089 digits), so an over-long text still shows as
// too long.
constexpr qsizetype longestCanvasText = 1000;
constexpr qsizetype longestCanvasQrText = 7090;

double boundedLength(double mm, double minimumMm)
{
    if (!std::isfinite(mm) || mm < minimumMm)
        return minimumMm;
    return std::min(mm, largestDrawnMm);
}

double boundedCoordinate(double mm)
{
    if (!std::isfinite(mm))
        return 0;
    return std::clamp(mm, -largestDrawnMm, largestDrawnMm);
}

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

QString canvasLimitMessage(const std::optional<ElementLimitViolation> &violation)
{
    if (!violation)
        return {};
    return QStringLiteral("%1 is %2, allowed %3").arg(violation->property, violation->value, violation->range);
}

void paintCanvasError(QPainter *painter, const QSizeF &drawnSize, const QString &message)
{
    const QRectF textRect = QRectF(QPointF(0, 0), drawnSize).adjusted(4, 2, -4, -2);
    if (textRect.width() <= 0 || textRect.height() <= 0)
        return;
    painter->save();
    QFont font = painter->font();
    // About 2.5 mm, smaller in a low box so the message stays inside it.
    font.setPixelSize(std::clamp(static_cast<int>(textRect.height() / 2), 1, 10));
    painter->setFont(font);
    painter->setPen(QColor(0xdc, 0x26, 0x26));
    painter->drawText(textRect, Qt::AlignCenter | Qt::TextWordWrap, message);
    painter->restore();
}

QPointF cardKeptPosition(const QGraphicsItem *item, const QPointF &position, const QSizeF &drawnSize)
{
    const auto *card = qgraphicsitem_cast<const QGraphicsRectItem *>(item->parentItem());
    return card ? clampToCard(position, drawnSize, card->rect().size()) : position;
}

QSizeF canvasItemDrawnSize(double widthMm, double heightMm)
{
    return {boundedLength(widthMm, 1) * sceneUnitsPerMm, boundedLength(heightMm, 1) * sceneUnitsPerMm};
}

QRectF canvasItemContentRectMm(double widthMm, double heightMm)
{
    // Not a number becomes 0: the painters then refuse the empty rectangle.
    const auto bounded = [](double mm) { return std::isfinite(mm) ? std::min(mm, largestDrawnMm) : 0.0; };
    return {0, 0, bounded(widthMm), bounded(heightMm)};
}

QRectF resizeHandleHitArea(const QSizeF &drawnSize)
{
    return {drawnSize.width() - 11, drawnSize.height() - 11, 15, 15};
}

void paintResizeHandle(QPainter *painter, const QSizeF &drawnSize)
{
    painter->save();
    painter->setPen(QPen(Qt::white, 1));
    painter->setBrush(selectionBlue);
    painter->drawRect(QRectF(drawnSize.width() - 7, drawnSize.height() - 7, 7, 7));
    painter->restore();
}

QPointF canvasItemScenePosition(double xMm, double yMm)
{
    return {boundedCoordinate(xMm) * sceneUnitsPerMm, boundedCoordinate(yMm) * sceneUnitsPerMm};
}

QPointF cardClampedDragPosition(const QGraphicsItem *item, const QPointF &proposed,
                                const QSizeF &drawnSize)
{
    const QGraphicsScene *scene = item->scene();
    if (!scene || !scene->mouseGrabberItem())
        return proposed;
    const auto *card = qgraphicsitem_cast<const QGraphicsRectItem *>(item->parentItem());
    if (!card)
        return proposed;
    return clampToCard(proposed, drawnSize, card->rect().size());
}

VdpFieldItem::VdpFieldItem(const TemplateField &field, const QJsonObject &previewRecord,
                           QGraphicsItem *parent)
    : QGraphicsObject(parent)
    , m_field(field)
    , m_record(previewRecord)
{
    setFlags(ItemIsMovable | ItemIsSelectable | ItemIsFocusable | ItemSendsGeometryChanges);
    setCursor(Qt::SizeAllCursor);
    setAcceptHoverEvents(true);
    setZValue(0);
    place();
}

TemplateField VdpFieldItem::drawnField() const
{
    return m_limitMessage.isEmpty() ? m_field : fieldWithinLimits(m_field);
}

void VdpFieldItem::place()
{
    m_limitMessage = canvasLimitMessage(fieldLimitViolation(m_field));
    const TemplateField drawn = drawnField();
    const QPointF position = canvasItemScenePosition(drawn.xMm, drawn.yMm);
    m_placedPosition = m_limitMessage.isEmpty() ? position : cardKeptPosition(this, position, drawnSize());
    setPos(m_placedPosition);
}

TemplateField VdpFieldItem::field() const
{
    TemplateField field = m_field;
    // An out-of-range record shown where place() put it keeps its stored
    // position: only a move by the user replaces it.
    if (!m_limitMessage.isEmpty() && pos() == m_placedPosition)
        return field;
    field.xMm = pos().x() / sceneUnitsPerMm;
    field.yMm = pos().y() / sceneUnitsPerMm;
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
    m_contentImage.image = QImage();
    update();
}

bool VdpFieldItem::isResizable() const
{
    return hasResizeHandle(m_field.type);
}

QSizeF VdpFieldItem::drawnSize() const
{
    const TemplateField drawn = drawnField();
    return canvasItemDrawnSize(drawn.widthMm, drawn.heightMm);
}

QRectF VdpFieldItem::boundingRect() const
{
    const QSizeF size = drawnSize();
    return {-2, -2, std::max(size.width() + 4, 8.0), std::max(size.height() + 4, 8.0)};
}

void VdpFieldItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    // Encoding every code, outlining every text and stroking every dashed
    // frame on each repaint makes a busy card slow to drag over: the frame
    // and the content are each drawn once into an image and then copied.
    const QSizeF size = drawnSize();
    const auto frame = [this](QPainter *target) { paintFrame(target); };
    if (!paintThroughImage(painter, m_frameImage, [this](const QSizeF &) { return boundingRect(); }, frame))
        paintFrame(painter);
    const auto content = [this](QPainter *target) { paintContent(target); };
    if (!paintThroughImage(painter, m_contentImage,
                           [this](const QSizeF &devicePerUnit) { return contentExtent(devicePerUnit); }, content))
        paintContent(painter);
    if (isSelected() && isResizable())
        paintResizeHandle(painter, size);
}

void VdpFieldItem::paintFrame(QPainter *painter) const
{
    painter->save();
    if (isSelected()) {
        QColor fill = selectionBlue;
        fill.setAlpha(24);
        painter->setBrush(fill);
        painter->setPen(QPen(selectionBlue, 1.5, Qt::DashLine));
    } else {
        QColor outline = selectionBlue;
        outline.setAlpha(130);
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(outline, 1.0, Qt::DashLine));
    }
    painter->drawRect(QRectF(QPointF(0, 0), drawnSize()));
    painter->restore();
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
    if (!m_limitMessage.isEmpty()) {
        paintCanvasError(painter, drawnSize(), m_limitMessage);
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

bool VdpFieldItem::paintThroughImage(QPainter *painter, ItemImage &cache,
                                     const std::function<QRectF(const QSizeF &)> &extentAt,
                                     const std::function<void(QPainter *)> &draw) const
{
    // Only for the view's plain scale-and-move transforms.
    const QTransform world = painter->worldTransform();
    if (world.type() > QTransform::TxScale || !painter->device())
        return false;
    const QSizeF scale(world.m11(), world.m22());
    if (!(scale.width() > 0 && scale.height() > 0))
        return false;
    const QPointF origin = world.map(QPointF(0, 0));

    if (cache.image.isNull() || cache.scale != scale) {
        cache.image = QImage();
        const QRectF extent = extentAt(scale);
        if (extent.isEmpty())
            return false;
        const QPointF fraction(origin.x() - std::floor(origin.x()), origin.y() - std::floor(origin.y()));
        const QRectF deviceExtent = QTransform::fromScale(scale.width(), scale.height()).mapRect(extent);
        if (!(deviceExtent.width() * deviceExtent.height() <= largestCachePixels))
            return false;
        const QRect pixels = deviceExtent.translated(fraction).toAlignedRect();
        const qreal ratio = painter->device()->devicePixelRatio();
        QImage image(pixels.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        if (image.isNull())
            return false;
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QPainter imagePainter(&image);
        imagePainter.setRenderHints(painter->renderHints());
        imagePainter.setFont(painter->font());
        imagePainter.setTransform(QTransform::fromScale(scale.width(), scale.height())
                                  * QTransform::fromTranslate(fraction.x() - pixels.x(), fraction.y() - pixels.y()));
        draw(&imagePainter);
        imagePainter.end();
        cache.image = std::move(image);
        cache.scale = scale;
        cache.offset = QPointF(pixels.topLeft()) - fraction;
    }

    // Whole device pixels: the image was drawn at the origin's fraction then.
    const QPointF topLeft = origin + cache.offset;
    painter->save();
    painter->setWorldTransform(QTransform());
    painter->drawImage(QPointF(std::round(topLeft.x()), std::round(topLeft.y())), cache.image);
    painter->restore();
    return true;
}

void VdpFieldItem::invalidateImages()
{
    m_frameImage.image = QImage();
    m_contentImage.image = QImage();
}

QVariant VdpFieldItem::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemPositionChange)
        return cardClampedDragPosition(this, value.toPointF(), drawnSize());
    if (change == ItemSelectedHasChanged)
        m_frameImage.image = QImage(); // the frame follows the selection
    return QGraphicsObject::itemChange(change, value);
}

void VdpFieldItem::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && isResizable()
        && resizeHandleHitArea(drawnSize()).contains(event->pos())) {
        const QSizeF size = drawnSize();
        m_resizing = true;
        m_resizePressScenePos = event->scenePos();
        m_resizeStartWidth = size.width();
        m_resizeStartHeight = size.height();
        setCursor(Qt::SizeFDiagCursor);
        event->accept();
        return;
    }
    QGraphicsObject::mousePressEvent(event);
}

void VdpFieldItem::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    if (!m_resizing) {
        QGraphicsObject::mouseMoveEvent(event);
        return;
    }
    const QPointF delta = event->scenePos() - m_resizePressScenePos;
    prepareGeometryChange();
    invalidateImages();
    m_field.widthMm = std::max((m_resizeStartWidth + delta.x()) / sceneUnitsPerMm, fieldMinimumWidthMm);
    m_field.heightMm = std::max((m_resizeStartHeight + delta.y()) / sceneUnitsPerMm, fieldMinimumHeightMm);
    update();
}

void VdpFieldItem::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    if (m_resizing) {
        m_resizing = false;
        setCursor(Qt::SizeAllCursor);
        emit fieldEdited(field());
        return;
    }
    QGraphicsObject::mouseReleaseEvent(event);
    emit fieldEdited(field());
}

void VdpFieldItem::hoverMoveEvent(QGraphicsSceneHoverEvent *event)
{
    const bool overHandle = isSelected() && isResizable()
        && resizeHandleHitArea(drawnSize()).contains(event->pos());
    setCursor(overHandle ? Qt::SizeFDiagCursor : Qt::SizeAllCursor);
    QGraphicsObject::hoverMoveEvent(event);
}

void VdpFieldItem::hoverLeaveEvent(QGraphicsSceneHoverEvent *event)
{
    setCursor(Qt::SizeAllCursor);
    QGraphicsObject::hoverLeaveEvent(event);
}
