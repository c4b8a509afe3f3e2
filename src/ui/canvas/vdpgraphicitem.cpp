#include "ui/canvas/vdpgraphicitem.h"

#include "editor/editorgeometry.h"
#include "render/elementpainter.h"
#include "ui/canvas/vdpfielditem.h"

#include <QCursor>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 largestTableCells = tableSplitMaximumCells;
constexpr int largestTableLines = 1000;

} // namespace

GraphicElement boundedTableForPainting(const GraphicElement &element)
{
    if (element.type != ElementKind::Table)
        return element;
    GraphicElement bounded = element;
    const qint64 rows = std::max(element.rows, 1);
    const qint64 columns = std::max(element.columns, 1);
    if (element.cellSpacingMm > 0.01) {
        const QRectF rect = canvasItemContentRectMm(element.widthMm, element.heightMm);
        // Cells narrower than the spacing are not drawn at all, at no cost.
        if (rect.width() / columns - element.cellSpacingMm <= 0
            || rect.height() / rows - element.cellSpacingMm <= 0)
            return element;
        if (rows * columns <= largestTableCells)
            return element;
        if (rows <= 100) {
            bounded.columns = static_cast<qint32>(largestTableCells / rows);
        } else if (columns <= 100) {
            bounded.rows = static_cast<qint32>(largestTableCells / columns);
        } else {
            bounded.rows = 100;
            bounded.columns = 100;
        }
        return bounded;
    }
    bounded.rows = static_cast<qint32>(std::min<qint64>(rows, largestTableLines));
    bounded.columns = static_cast<qint32>(std::min<qint64>(columns, largestTableLines));
    return bounded;
}

VdpGraphicItem::VdpGraphicItem(const GraphicElement &element, QGraphicsItem *parent)
    : QGraphicsObject(parent)
    , m_element(element)
{
    setFlags(ItemIsMovable | ItemIsSelectable | ItemIsFocusable | ItemSendsGeometryChanges);
    setCursor(Qt::SizeAllCursor);
    setAcceptHoverEvents(true);
    setZValue(-0.25);
    place();
}

GraphicElement VdpGraphicItem::drawnElement() const
{
    return m_limitMessage.isEmpty() ? m_element : graphicWithinLimits(m_element);
}

void VdpGraphicItem::place()
{
    m_limitMessage = canvasLimitMessage(graphicLimitViolation(m_element));
    const GraphicElement drawn = drawnElement();
    const QPointF position = canvasItemScenePosition(drawn.xMm, drawn.yMm);
    m_placedPosition = m_limitMessage.isEmpty() ? position : cardKeptPosition(this, position, drawnSize());
    setPos(m_placedPosition);
}

GraphicElement VdpGraphicItem::element() const
{
    GraphicElement element = m_element;
    // An out-of-range record shown where place() put it keeps its stored
    // position: only a move by the user replaces it.
    if (!m_limitMessage.isEmpty() && pos() == m_placedPosition)
        return element;
    element.xMm = pos().x() / sceneUnitsPerMm;
    element.yMm = pos().y() / sceneUnitsPerMm;
    return element;
}

void VdpGraphicItem::setElement(const GraphicElement &element)
{
    prepareGeometryChange();
    m_element = element;
    place();
    update();
}

QSizeF VdpGraphicItem::drawnSize() const
{
    const GraphicElement drawn = drawnElement();
    return canvasItemDrawnSize(drawn.widthMm, drawn.heightMm);
}

QRectF VdpGraphicItem::boundingRect() const
{
    // Half the stroke lies outside the box; the margin keeps it inside the
    // area the view repaints for this item.
    const GraphicElement drawn = drawnElement();
    const double stroke = std::isfinite(drawn.strokeWidthMm) ? std::clamp(drawn.strokeWidthMm, 0.0, 1000.0) : 0.0;
    const double margin = std::max(2.0, stroke * sceneUnitsPerMm / 2 + 1);
    const QSizeF size = drawnSize();
    return QRectF(QPointF(0, 0), size).adjusted(-margin, -margin, margin, margin);
}

void VdpGraphicItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    const GraphicElement drawn = drawnElement();
    painter->save();
    painter->scale(sceneUnitsPerMm, sceneUnitsPerMm);
    paintGraphic(*painter, canvasItemContentRectMm(drawn.widthMm, drawn.heightMm), boundedTableForPainting(drawn));
    painter->restore();
    if (!m_limitMessage.isEmpty())
        paintCanvasError(painter, drawnSize(), m_limitMessage);

    if (!isSelected())
        return;
    const QSizeF size = drawnSize();
    painter->save();
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(QColor(0x25, 0x63, 0xeb), 1.2, Qt::DashLine));
    painter->drawRect(QRectF(QPointF(0, 0), size));
    painter->restore();
    paintResizeHandle(painter, size);
}

QRectF VdpGraphicItem::cardRect() const
{
    const auto *card = qgraphicsitem_cast<const QGraphicsRectItem *>(parentItem());
    return card ? card->rect() : QRectF();
}

QList<QRectF> VdpGraphicItem::otherGraphicRects() const
{
    QList<QRectF> rects;
    if (!parentItem())
        return rects;
    for (const QGraphicsItem *child : parentItem()->childItems()) {
        const auto *graphic = qgraphicsitem_cast<const VdpGraphicItem *>(child);
        if (graphic && graphic != this)
            rects.append(QRectF(graphic->pos(), graphic->drawnSize()));
    }
    return rects;
}

QVariant VdpGraphicItem::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change != ItemPositionChange)
        return QGraphicsObject::itemChange(change, value);
    const QSizeF size = drawnSize();
    QPointF position = cardClampedDragPosition(this, value.toPointF(), size);
    if (m_snapEnabled && m_dragging) {
        position = snapMovePosition(QRectF(position, size), cardRect(), otherGraphicRects());
        // Snapping may reach past the card; the card wins.
        position = cardClampedDragPosition(this, position, size);
    }
    return position;
}

void VdpGraphicItem::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && resizeHandleHitArea(drawnSize()).contains(event->pos())) {
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

void VdpGraphicItem::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    if (!m_resizing) {
        QGraphicsObject::mouseMoveEvent(event);
        return;
    }
    const QPointF delta = event->scenePos() - m_resizePressScenePos;
    const bool line = isLine(m_element.type);
    QSizeF size(m_resizeStartSize.width() + delta.x(), m_resizeStartSize.height() + delta.y());
    if (m_snapEnabled)
        size = snapResizeSize(pos(), size, cardRect(), otherGraphicRects(), line);
    prepareGeometryChange();
    m_element.widthMm = std::max(size.width() / sceneUnitsPerMm, graphicMinimumSideMm);
    m_element.heightMm = std::max(size.height() / sceneUnitsPerMm,
                                  line ? lineMinimumHeightMm : graphicMinimumSideMm);
    update();
}

void VdpGraphicItem::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    if (m_resizing) {
        m_resizing = false;
        setCursor(Qt::SizeAllCursor);
        emit elementEdited(element());
        return;
    }
    QGraphicsObject::mouseReleaseEvent(event);
    m_dragging = false;
    emit elementEdited(element());
}

void VdpGraphicItem::hoverMoveEvent(QGraphicsSceneHoverEvent *event)
{
    const bool overHandle = isSelected() && resizeHandleHitArea(drawnSize()).contains(event->pos());
    setCursor(overHandle ? Qt::SizeFDiagCursor : Qt::SizeAllCursor);
    QGraphicsObject::hoverMoveEvent(event);
}

void VdpGraphicItem::hoverLeaveEvent(QGraphicsSceneHoverEvent *event)
{
    setCursor(Qt::SizeAllCursor);
    QGraphicsObject::hoverLeaveEvent(event);
}
