#pragma once

#include "model/graphicelement.h"
#include "ui/canvas/canvaselementitem.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

class QPainter;

// A graphic on the canvas: positioned at its record's (x, y) × 4, drawn by
// paintGraphic, outlined and given the resize handle while selected. While
// the view's snap flag is on, a dragged or resized graphic snaps to the card
// and to the other graphics (never to fields).
class VdpGraphicItem : public CanvasElementItem
{
    Q_OBJECT

public:
    enum { Type = UserType + 2 };

    explicit VdpGraphicItem(const GraphicElement &element, QGraphicsItem *parent = nullptr);

    int type() const override { return Type; }
    ElementKind kind() const override { return m_element.type; }

    // The record, with the position read back from the item.
    GraphicElement element() const;
    // Stores the record, moves the item to (x × 4, y × 4) and repaints.
    // A record with values outside the panels' ranges is drawn within them,
    // on the card, with a red line naming the first such value.
    void setElement(const GraphicElement &element);

    void setSnapEnabled(bool enabled) { m_snapEnabled = enabled; }
    bool snapEnabled() const { return m_snapEnabled; }

protected:
    QRectF drawnBoxMm() const override;
    std::optional<ElementLimitViolation> limitViolation() const override;
    void paintContent(QPainter *painter) const override;
    // Half the stroke lies outside the box.
    double boundsMargin() const override;
    QSizeF minimumSizeMm() const override;
    void storeResizedSizeMm(const QSizeF &sizeMm) override;
    std::optional<QPointF> snappedMovePosition(const QRectF &proposed) const override;
    QSizeF snappedResizeSize(const QSizeF &proposed) const override;

private:
    // The card (scene units) and the other graphics on it, in child order.
    QRectF cardRect() const;
    QList<QRectF> otherGraphicRects() const;

    // The record as drawn: the stored one, within the limits when it breaks them.
    GraphicElement drawnElement() const;

    GraphicElement m_element;
    bool m_snapEnabled = false;
};

// The table actually handed to paintGraphic: the stored one, except that
// rows and columns beyond what a card can show are bounded (at most 1000
// grid lines each way, at most 10,000 separate cells) so a stored table of
// absurd size keeps the canvas responsive. Tables the property panel can make
// (up to 100 × 100) are unchanged.
GraphicElement boundedTableForPainting(const GraphicElement &element);
