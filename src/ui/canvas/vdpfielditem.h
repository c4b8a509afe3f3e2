#pragma once

#include "model/elementlimits.h"
#include "model/templatefield.h"

#include <QGraphicsObject>
#include <QImage>
#include <QJsonObject>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <functional>
#include <optional>

class QPainter;

// What the canvas hands to paintField: the record and field as stored, except
// that a text longer than a card can show is cut (the export prints it whole).
struct BoundedFieldContent
{
    TemplateField field;
    QJsonObject record;
};
BoundedFieldContent boundedFieldContent(const TemplateField &field, const QJsonObject &record);

// Geometry and decorations shared by the two canvas items (scene units).

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

// A field on the canvas: positioned at its record's (x, y) × 4, drawn by
// paintField with the preview record, with the editing frame around it.
// Barcodes and QR codes can be resized with the handle; a finished move or
// resize (a plain click included) is reported through fieldEdited. Frame and
// content are each kept as an image at the current zoom, so moving items and
// repainting do not encode every code, outline every text and stroke every
// dashed frame again.
class VdpFieldItem : public QGraphicsObject
{
    Q_OBJECT

public:
    enum { Type = UserType + 1 };

    VdpFieldItem(const TemplateField &field, const QJsonObject &previewRecord,
                 QGraphicsItem *parent = nullptr);

    int type() const override { return Type; }

    // The record, with the position read back from the item.
    TemplateField field() const;
    // Stores the record, moves the item to (x × 4, y × 4) and repaints. A
    // record with values outside the panels' ranges is drawn within them, on
    // the card, with a red line naming the first such value.
    void setField(const TemplateField &field);
    QString limitMessage() const { return m_limitMessage; }
    void setPreviewRecord(const QJsonObject &record);

    bool isResizable() const;
    bool isResizing() const { return m_resizing; }
    QSizeF drawnSize() const;

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

signals:
    void fieldEdited(const TemplateField &field);

protected:
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

    BoundedFieldContent boundedContent() const;
    // The record as drawn: the stored one, within the limits when it breaks them.
    TemplateField drawnField() const;
    void place();
    // The dashed frame (filled while selected); item units.
    void paintFrame(QPainter *painter) const;
    // paintField and, when it draws nothing, the red message.
    void paintContent(QPainter *painter) const;
    // Where the content may paint at `devicePerUnit` pixels per unit (a text
    // may run past its box); empty when it is not worth an image.
    QRectF contentExtent(const QSizeF &devicePerUnit) const;
    // Copies `cache` to the painter, drawing it first with `draw` over
    // `extentAt(zoom)` when it is empty or of another zoom. False when the
    // transform or the size allows no image: the caller then draws directly.
    bool paintThroughImage(QPainter *painter, ItemImage &cache,
                           const std::function<QRectF(const QSizeF &)> &extentAt,
                           const std::function<void(QPainter *)> &draw) const;
    void invalidateImages();

    TemplateField m_field;
    QString m_limitMessage;
    QPointF m_placedPosition; // where place() put the item
    QJsonObject m_record;
    // Emptied when what they show changes: the frame with the size and the
    // selection, the content with the field and the record.
    ItemImage m_frameImage;
    ItemImage m_contentImage;
    bool m_resizing = false;
    QPointF m_resizePressScenePos;
    double m_resizeStartWidth = 0;
    double m_resizeStartHeight = 0;
};
