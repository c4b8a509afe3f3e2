#include "ui/canvas/canvaselementitem.h"

#include "editor/editorgeometry.h"

#include <QCursor>
#include <QFont>
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

// Bounds of a cached image: beyond them (far zoomed in) the item paints
// directly, as only a part of it is on screen anyway.
constexpr double largestCachePixels = 4.0 * 1024 * 1024;

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

CanvasElementItem::CanvasElementItem(Frame frame, QGraphicsItem *parent)
    : QGraphicsObject(parent)
    , m_frame(frame)
{
}

void CanvasElementItem::setUp()
{
    setFlags(ItemIsMovable | ItemIsSelectable | ItemIsFocusable | ItemSendsGeometryChanges);
    setCursor(Qt::SizeAllCursor);
    setAcceptHoverEvents(true);
    place();
}

void CanvasElementItem::place()
{
    m_limitMessage = canvasLimitMessage(limitViolation());
    const QRectF box = drawnBoxMm();
    const QPointF position = canvasItemScenePosition(box.x(), box.y());
    m_placedPosition = m_limitMessage.isEmpty() ? position : cardKeptPosition(this, position, drawnSize());
    setPos(m_placedPosition);
}

std::optional<QPointF> CanvasElementItem::editedPositionMm() const
{
    if (!m_limitMessage.isEmpty() && pos() == m_placedPosition)
        return std::nullopt;
    return pos() / sceneUnitsPerMm;
}

QSizeF CanvasElementItem::drawnSize() const
{
    const QRectF box = drawnBoxMm();
    return canvasItemDrawnSize(box.width(), box.height());
}

QRectF CanvasElementItem::boundingRect() const
{
    const double margin = boundsMargin();
    return QRectF(QPointF(0, 0), drawnSize()).adjusted(-margin, -margin, margin, margin);
}

QRectF CanvasElementItem::contentExtent(const QSizeF &) const
{
    return {};
}

std::optional<QPointF> CanvasElementItem::snappedMovePosition(const QRectF &) const
{
    return std::nullopt;
}

void CanvasElementItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    // Encoding every code, outlining every text and stroking every dashed
    // frame on each repaint makes a busy card slow to drag over: the frame
    // and the content are each drawn once into an image and then copied.
    if (m_frame == Frame::Always) {
        const auto frame = [this](QPainter *target) { paintFrame(target); };
        if (!paintThroughImage(painter, m_frameImage, [this](const QSizeF &) { return boundingRect(); }, frame))
            paintFrame(painter);
    }
    const auto content = [this](QPainter *target) { paintContent(target); };
    if (!paintThroughImage(painter, m_contentImage,
                           [this](const QSizeF &devicePerUnit) { return contentExtent(devicePerUnit); }, content))
        paintContent(painter);
    if (!isSelected())
        return;
    if (m_frame == Frame::WhenSelected)
        paintSelectionOutline(painter);
    if (isResizable())
        paintResizeHandle(painter, drawnSize());
}

void CanvasElementItem::paintFrame(QPainter *painter) const
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

void CanvasElementItem::paintSelectionOutline(QPainter *painter) const
{
    painter->save();
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(selectionBlue, 1.2, Qt::DashLine));
    painter->drawRect(QRectF(QPointF(0, 0), drawnSize()));
    painter->restore();
}

bool CanvasElementItem::paintThroughImage(QPainter *painter, ItemImage &cache,
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

void CanvasElementItem::invalidateImages()
{
    m_frameImage.image = QImage();
    m_contentImage.image = QImage();
}

QVariant CanvasElementItem::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemPositionChange) {
        const QSizeF size = drawnSize();
        QPointF position = cardClampedDragPosition(this, value.toPointF(), size);
        if (m_dragging) {
            // Snapping may reach past the card; the card wins.
            if (const std::optional<QPointF> snapped = snappedMovePosition(QRectF(position, size)))
                position = cardClampedDragPosition(this, *snapped, size);
        }
        return position;
    }
    if (change == ItemSelectedHasChanged)
        m_frameImage.image = QImage(); // the frame follows the selection
    return QGraphicsObject::itemChange(change, value);
}

void CanvasElementItem::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && isResizable()
        && resizeHandleHitArea(drawnSize()).contains(event->pos())) {
        m_resizing = true;
        m_resizePressScenePos = event->scenePos();
        m_resizeStartSize = drawnSize();
        setCursor(Qt::SizeFDiagCursor);
        event->accept();
        return;
    }
    m_dragging = true;
    QGraphicsObject::mousePressEvent(event);
}

void CanvasElementItem::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    if (!m_resizing) {
        QGraphicsObject::mouseMoveEvent(event);
        return;
    }
    const QPointF delta = event->scenePos() - m_resizePressScenePos;
    const QSizeF size = snappedResizeSize(
        QSizeF(m_resizeStartSize.width() + delta.x(), m_resizeStartSize.height() + delta.y()));
    const QSizeF minimum = minimumSizeMm();
    prepareGeometryChange();
    invalidateImages();
    storeResizedSizeMm(QSizeF(std::max(size.width() / sceneUnitsPerMm, minimum.width()),
                              std::max(size.height() / sceneUnitsPerMm, minimum.height())));
    update();
}

void CanvasElementItem::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    if (m_resizing) {
        m_resizing = false;
        setCursor(Qt::SizeAllCursor);
        emit elementEdited();
        return;
    }
    QGraphicsObject::mouseReleaseEvent(event);
    m_dragging = false;
    emit elementEdited();
}

void CanvasElementItem::hoverMoveEvent(QGraphicsSceneHoverEvent *event)
{
    const bool overHandle = isSelected() && isResizable() && resizeHandleHitArea(drawnSize()).contains(event->pos());
    setCursor(overHandle ? Qt::SizeFDiagCursor : Qt::SizeAllCursor);
    QGraphicsObject::hoverMoveEvent(event);
}

void CanvasElementItem::hoverLeaveEvent(QGraphicsSceneHoverEvent *event)
{
    setCursor(Qt::SizeAllCursor);
    QGraphicsObject::hoverLeaveEvent(event);
}
