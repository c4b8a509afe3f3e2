#pragma once

#include "model/graphicelement.h"

#include <QGraphicsObject>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

class QPainter;

// A graphic on the canvas: positioned at its record's (x, y) × 4, drawn by
// paintGraphic, outlined and given the resize handle while selected. While
// the view's snap flag is on, a dragged or resized graphic snaps to the card
// and to the other graphics (never to fields). A finished move or resize (a
// plain click included) is reported through elementEdited.
class VdpGraphicItem : public QGraphicsObject
{
    Q_OBJECT

public:
    enum { Type = UserType + 2 };

    explicit VdpGraphicItem(const GraphicElement &element, QGraphicsItem *parent = nullptr);

    int type() const override { return Type; }

    // The record, with the position read back from the item.
    GraphicElement element() const;
    // Stores the record, moves the item to (x × 4, y × 4) and repaints.
    // A record with values outside the panels' ranges is drawn within them,
    // on the card, with a red line naming the first such value.
    void setElement(const GraphicElement &element);
    QString limitMessage() const { return m_limitMessage; }

    void setSnapEnabled(bool enabled) { m_snapEnabled = enabled; }
    bool snapEnabled() const { return m_snapEnabled; }
    bool isResizing() const { return m_resizing; }
    QSizeF drawnSize() const;

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

signals:
    void elementEdited(const GraphicElement &element);

protected:
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;
    void hoverMoveEvent(QGraphicsSceneHoverEvent *event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent *event) override;

private:
    // The card (scene units) and the other graphics on it, in child order.
    QRectF cardRect() const;
    QList<QRectF> otherGraphicRects() const;

    // The record as drawn: the stored one, within the limits when it breaks them.
    GraphicElement drawnElement() const;
    void place();

    GraphicElement m_element;
    QString m_limitMessage;
    QPointF m_placedPosition; // where place() put the item
    bool m_snapEnabled = false;
    bool m_dragging = false;
    bool m_resizing = false;
    QPointF m_resizePressScenePos;
    QSizeF m_resizeStartSize;
};

// The table actually handed to paintGraphic: the stored one, except that
// rows and columns beyond what a card can show are bounded (at most 1000
// grid lines each way, at most 10,000 separate cells) so a stored table of
// absurd size keeps the canvas responsive. Tables the property panel can make
// (up to 100 × 100) are unchanged.
GraphicElement boundedTableForPainting(const GraphicElement &element);
