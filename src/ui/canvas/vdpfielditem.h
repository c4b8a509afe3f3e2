#pragma once

#include "model/templatefield.h"
#include "ui/canvas/canvaselementitem.h"

#include <QJsonObject>
#include <QRectF>
#include <QSizeF>

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

// A field on the canvas: positioned at its record's (x, y) × 4, drawn by
// paintField with the preview record, with the editing frame around it.
// Barcodes and QR codes can be resized with the handle. Frame and content are
// each kept as an image at the current zoom, so moving items and repainting
// do not encode every code, outline every text and stroke every dashed frame
// again.
class VdpFieldItem : public CanvasElementItem
{
    Q_OBJECT

public:
    enum { Type = UserType + 1 };

    VdpFieldItem(const TemplateField &field, const QJsonObject &previewRecord,
                 QGraphicsItem *parent = nullptr);

    int type() const override { return Type; }
    ElementKind kind() const override { return m_field.type; }

    // The record, with the position read back from the item.
    TemplateField field() const;
    // Stores the record, moves the item to (x × 4, y × 4) and repaints. A
    // record with values outside the panels' ranges is drawn within them, on
    // the card, with a red line naming the first such value.
    void setField(const TemplateField &field);
    void setPreviewRecord(const QJsonObject &record);

protected:
    QRectF drawnBoxMm() const override;
    std::optional<ElementLimitViolation> limitViolation() const override;
    // paintField and, when it draws nothing, the red message.
    void paintContent(QPainter *painter) const override;
    // A text may run past its box; bars and modules stay inside it.
    QRectF contentExtent(const QSizeF &devicePerUnit) const override;
    QSizeF minimumSizeMm() const override;
    void storeResizedSizeMm(const QSizeF &sizeMm) override;

private:
    BoundedFieldContent boundedContent() const;
    // The record as drawn: the stored one, within the limits when it breaks them.
    TemplateField drawnField() const;

    TemplateField m_field;
    QJsonObject m_record;
};
