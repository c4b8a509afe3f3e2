#pragma once

#include "model/elementkind.h"
#include "model/elementlimits.h"

#include <QGraphicsObject>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <functional>
#include <optional>

class QPainter;

// Geometry and decorations shared by the canvas items (scene units).

// The red line a canvas item shows over an element whose stored values lie
// outside what the panels allow: "Font Size is 0 pt, allowed 4 to 300 pt";
// empty when there is none.
QString canvasLimitMessage(const std::optional<ElementLimitViolation> &violation);
// Draws `message` in red, centred and wrapped in the item's box of
// `drawnSize`, in a font small enough to stay inside it.
void paintCanvasError(QPainter *painter, const QSizeF &drawnSize, const QString &message);
// Where an item whose stored values break the limits is put: its position
// kept on the card (the parent rectangle), so it can be seen and mended.
QPointF cardKeptPosition(const QGraphicsItem *item, const QPointF &position, const QSizeF &drawnSize);

// The drawn size of an element of `widthMm` × `heightMm`: 4 units per mm, at
// least 4 × 4. A stored size that is not a number, or beyond any card the
// editor accepts, is bounded so the scene stays responsive.
QSizeF canvasItemDrawnSize(double widthMm, double heightMm);
// The rectangle handed to the painters (mm): the record's size, bounded alike.
QRectF canvasItemContentRectMm(double widthMm, double heightMm);
// Where a press starts a resize: (W − 11, H − 11, 15, 15).
QRectF resizeHandleHitArea(const QSizeF &drawnSize);
// The 7 × 7 handle in the bottom-right corner, white outline on #2563eb.
void paintResizeHandle(QPainter *painter, const QSizeF &drawnSize);
// A stored position (mm) as an item position: × 4, bounded like the size.
QPointF canvasItemScenePosition(double xMm, double yMm);
// A position proposed while the mouse drags items: kept on the card (the
// parent rectangle) for an item of `drawnSize`. Positions set by the program
// (records pushed back, alignment) are left as they are.
QPointF cardClampedDragPosition(const QGraphicsItem *item, const QPointF &proposed,
                                const QSizeF &drawnSize);

// An element on the canvas: placed at its record's (x, y) × 4, moved by the
// mouse within the card, resized with the handle in its bottom-right corner
// when its kind has one, and decorated while selected. A finished move or
// resize (a plain click included) is reported through elementEdited; the
// edited record is then read from the subclass.
//
// A subclass per group of kinds holds the record and answers what differs:
// how the content is painted, the smallest size, snapping, and the record's
// box within the limits. What the content paints may be kept as an image at
// the current zoom (contentExtent), so moving items over it and repainting
// do not draw every code and text again.
class CanvasElementItem : public QGraphicsObject
{
    Q_OBJECT

public:
    // A field shows a dashed frame always (filled while selected) under its
    // content; a graphic shows its outline only while selected, over it.
    enum class Frame { Always, WhenSelected };

    virtual ElementKind kind() const = 0;
    // Whether the handle shows and resizes: the kind's answer.
    bool isResizable() const { return hasResizeHandle(kind()); }
    bool isResizing() const { return m_resizing; }
    QSizeF drawnSize() const;
    // The red line shown over a record whose values break the limits.
    QString limitMessage() const { return m_limitMessage; }

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

signals:
    void elementEdited();

protected:
    CanvasElementItem(Frame frame, QGraphicsItem *parent);

    // The record's box (mm) as drawn: the stored one, or the one within the
    // limits when the stored one breaks them (breaksLimits()).
    virtual QRectF drawnBoxMm() const = 0;
    virtual std::optional<ElementLimitViolation> limitViolation() const = 0;
    // The record's content and, when it breaks the limits, the red line.
    virtual void paintContent(QPainter *painter) const = 0;
    // Where the content may paint at `devicePerUnit` pixels per unit, for
    // its image; empty paints directly on every repaint.
    virtual QRectF contentExtent(const QSizeF &devicePerUnit) const;
    // How far beyond the box the item paints (scene units).
    virtual double boundsMargin() const { return 2; }
    virtual QSizeF minimumSizeMm() const = 0;
    virtual void storeResizedSizeMm(const QSizeF &sizeMm) = 0;
    // A dragged item's position (scene units, already kept on the card)
    // moved by snapping; nothing when this item does not snap now.
    virtual std::optional<QPointF> snappedMovePosition(const QRectF &proposed) const;
    // A resized item's size (scene units) moved by snapping.
    virtual QSizeF snappedResizeSize(const QSizeF &proposed) const { return proposed; }

    // Makes the item movable, selectable and hoverable and places it; the
    // subclass calls it once its record is stored, as these ask for the
    // item's bounds.
    void setUp();
    bool breaksLimits() const { return !m_limitMessage.isEmpty(); }
    // Reads the limits anew and moves the item to the record's position (on
    // the card when the record breaks the limits). The subclass calls it
    // after storing a record, between prepareGeometryChange() and update().
    void place();
    // The position (mm) to store: nothing while a record that breaks the
    // limits stays where place() put it, so only a move by the user replaces
    // its stored position.
    std::optional<QPointF> editedPositionMm() const;
    void invalidateImages();
    void invalidateContentImage() { m_contentImage.image = QImage(); }

    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;
    void hoverMoveEvent(QGraphicsSceneHoverEvent *event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent *event) override;

private:
    // A drawing kept as an image at one zoom (device pixels per unit).
    struct ItemImage
    {
        QImage image;
        QSizeF scale;
        QPointF offset; // image top-left from the item origin, device pixels
    };

    // The dashed frame (filled while selected); item units.
    void paintFrame(QPainter *painter) const;
    void paintSelectionOutline(QPainter *painter) const;
    // Copies `cache` to the painter, drawing it first with `draw` over
    // `extentAt(zoom)` when it is empty or of another zoom. False when the
    // transform or the size allows no image: the caller then draws directly.
    bool paintThroughImage(QPainter *painter, ItemImage &cache,
                           const std::function<QRectF(const QSizeF &)> &extentAt,
                           const std::function<void(QPainter *)> &draw) const;

    Frame m_frame;
    QString m_limitMessage;
    QPointF m_placedPosition; // where place() put the item
    // Emptied when what they show changes: the frame with the size and the
    // selection, the content with the record and what it shows.
    ItemImage m_frameImage;
    ItemImage m_contentImage;
    bool m_dragging = false;
    bool m_resizing = false;
    QPointF m_resizePressScenePos;
    QSizeF m_resizeStartSize;
};
