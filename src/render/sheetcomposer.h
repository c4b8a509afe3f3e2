#pragma once

#include "model/cardtable.h"
#include "model/fieldvalues.h"
#include "model/graphicelement.h"
#include "model/templatefield.h"
#include "render/impositionlayout.h"

#include <QColor>
#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>

class QPainter;

// Everything one sheet side is composed from. Lists are implicitly shared, so
// handing the same fields and records to every page copies nothing.
struct SheetData
{
    ImpositionLayout layout;
    int sheetIndex = 0;
    QSizeF sheetSizeMm{420, 297};
    QSizeF cardSizeMm{90, 54}; // full card, bleed included
    QList<TemplateField> fields;     // both sides
    QList<GraphicElement> graphics;  // both sides
    CardTable records;               // prepared card records, index = record index
    bool cutStack = false;
    QString side = QStringLiteral("front"); // "front" or "back"
    QImage frontBackground;
    QImage backBackground;
    // A reprint: when not empty, only these records (ascending) are painted,
    // each in its own slot; the other slots stay blank paper, without border
    // or label, as they come out of the press.
    QList<int> onlyRecords;
    int printPageIndex = 0; // for the preview caption only
    int printPageCount = 0;
};

struct MarkOptions
{
    bool showBorder = true;
    QColor borderColor = Qt::black; // border lines and crop marks
    bool showCropMarks = false;
    double bleedMm = 0; // places the crop marks
};

// Composes and paints one side of a print sheet: white paper, each card with
// its side's background, graphics and fields, the imposition border and crop
// marks; in preview mode also the record labels and empty-slot markers. The
// on-screen preview and the PDF export both paint through this one object, so
// a printed page is exactly what the preview shows.
class SheetComposer
{
public:
    // Stores the data with the sheet index clamped to the layout's sheets (0
    // with fewer than two), the side "back" only for exactly "back", and
    // negative print page numbers raised to 0.
    void setSheetData(SheetData data);
    // An invalid colour is stored as black, a negative bleed as 0.
    void setMarkOptions(MarkOptions options);

    const SheetData &sheetData() const { return m_data; }
    const MarkOptions &markOptions() const { return m_marks; }

    // Paints the current sheet side into `target` (the painter's device
    // units). `preview` adds the on-screen labels and markers.
    void paintSheet(QPainter &painter, const QRectF &target, bool preview);

    // Paints one card into one slot; called by paintSheet.
    void paintCard(QPainter &painter, const QRectF &cell, const RecordValues &record,
                   int recordIndex, bool preview);

    // Record indices, ascending and distinct, of the cards whose barcode or QR
    // fields could not be drawn during the last paintSheet: they print as
    // blank areas, so the export reports them.
    const QList<int> &undrawnRecords() const { return m_undrawn; }

private:
    SheetData m_data;
    MarkOptions m_marks;
    QList<int> m_undrawn;
};
