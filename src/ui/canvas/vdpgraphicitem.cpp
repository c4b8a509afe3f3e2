#include "ui/canvas/vdpgraphicitem.h"

#include "editor/editorgeometry.h"
#include "render/elementpainter.h"

#include <QGraphicsRectItem>
#include <QPainter>

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
    : CanvasElementItem(Frame::WhenSelected, parent)
    , m_element(element)
{
    setUp();
    setZValue(-0.25);
}

GraphicElement VdpGraphicItem::drawnElement() const
{
    return breaksLimits() ? graphicWithinLimits(m_element) : m_element;
}

QRectF VdpGraphicItem::drawnBoxMm() const
{
    if (!breaksLimits())
        return {m_element.xMm, m_element.yMm, m_element.widthMm, m_element.heightMm};
    const GraphicElement drawn = graphicWithinLimits(m_element);
    return {drawn.xMm, drawn.yMm, drawn.widthMm, drawn.heightMm};
}

std::optional<ElementLimitViolation> VdpGraphicItem::limitViolation() const
{
    return graphicLimitViolation(m_element);
}

GraphicElement VdpGraphicItem::element() const
{
    GraphicElement element = m_element;
    if (const std::optional<QPointF> position = editedPositionMm()) {
        element.xMm = position->x();
        element.yMm = position->y();
    }
    return element;
}

void VdpGraphicItem::setElement(const GraphicElement &element)
{
    prepareGeometryChange();
    invalidateImages();
    m_element = element;
    place();
    update();
}

double VdpGraphicItem::boundsMargin() const
{
    // The margin keeps the stroke inside the area the view repaints for this item.
    const GraphicElement drawn = drawnElement();
    const double stroke = std::isfinite(drawn.strokeWidthMm) ? std::clamp(drawn.strokeWidthMm, 0.0, 1000.0) : 0.0;
    return std::max(2.0, stroke * sceneUnitsPerMm / 2 + 1);
}

void VdpGraphicItem::paintContent(QPainter *painter) const
{
    const GraphicElement drawn = drawnElement();
    painter->save();
    painter->scale(sceneUnitsPerMm, sceneUnitsPerMm);
    paintGraphic(*painter, canvasItemContentRectMm(drawn.widthMm, drawn.heightMm), boundedTableForPainting(drawn));
    painter->restore();
    if (breaksLimits())
        paintCanvasError(painter, drawnSize(), limitMessage());
}

QSizeF VdpGraphicItem::minimumSizeMm() const
{
    return {graphicMinimumSideMm, isLine(m_element.type) ? lineMinimumHeightMm : graphicMinimumSideMm};
}

void VdpGraphicItem::storeResizedSizeMm(const QSizeF &sizeMm)
{
    m_element.widthMm = sizeMm.width();
    m_element.heightMm = sizeMm.height();
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

std::optional<QPointF> VdpGraphicItem::snappedMovePosition(const QRectF &proposed) const
{
    if (!m_snapEnabled)
        return std::nullopt;
    return snapMovePosition(proposed, cardRect(), otherGraphicRects());
}

QSizeF VdpGraphicItem::snappedResizeSize(const QSizeF &proposed) const
{
    if (!m_snapEnabled)
        return proposed;
    return snapResizeSize(pos(), proposed, cardRect(), otherGraphicRects(), isLine(m_element.type));
}
