#pragma once

#include "model/fieldvalues.h"
#include "model/graphicelement.h"
#include "model/templatefield.h"

#include <QJsonObject>
#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>

class QPainter;

// One template element of one card. Geometry is in millimetres of the card,
// in the painter's logical coordinates: the caller scales the painter so one
// unit is one millimetre on the target (the canvas, a sheet cell, a PDF page).
// Every painter state change is bracketed by save and restore.

// Draws the field with the text the record gives it. False when nothing could
// be drawn: an empty rectangle, barcode data its format rejects, or a text too
// long for a QR code. A text field whose inner box is empty draws nothing and
// still returns true.
bool paintField(QPainter &painter, const QRectF &rectMm, const TemplateField &field,
                const RecordValues &record);

// Draws a line, ellipse, rectangle or table; other types draw nothing.
void paintGraphic(QPainter &painter, const QRectF &rectMm, const GraphicElement &graphic);

// The box the editor gives a field for its content, in mm, kept on the card
// from the field's position. `records` are the card records whose texts a
// bound text field must hold.
QSizeF fittedFieldSize(const TemplateField &field, double cardWidthMm, double cardHeightMm,
                       const CardTable &records);

// The drawing operations behind paintField; each is false when it drew nothing.
// Bars and modules are black on white whatever the field colour.
bool paintBarcode(QPainter &painter, const QRectF &rect, const QString &data, BarcodeFormat format,
                  bool showText);
bool paintModules(QPainter &painter, const QRectF &rect, const QString &modules);
bool paintCode128(QPainter &painter, const QRectF &rect, const QString &data);
bool paintQrCode(QPainter &painter, const QRectF &rect, const QString &data);
