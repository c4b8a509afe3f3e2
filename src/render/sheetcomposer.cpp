#include "render/sheetcomposer.h"

#include "render/elementpainter.h"

#include <QFont>
#include <QLineF>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

const QColor kEmptyStateText(0x6b, 0x72, 0x80);
const QColor kEmptySlotOutline(0xcb, 0xd5, 0xe1);
const QColor kEmptySlotFill(0xf9, 0xfa, 0xfb);
const QColor kEmptySlotText(0x9c, 0xa3, 0xaf);
const QColor kLabelText(0x1d, 0x4e, 0xd8);
const QColor kLabelBox(255, 255, 255, 210);

constexpr double kCropGapMm = 1;
constexpr double kCropLengthMm = 4;
// 0.2 mm on paper; on screen a line stays visible however far out the zoom is.
constexpr double kLineWidthMm = 0.2;
constexpr double kMinLineWidth = 0.75;
// A zero-sized graphic is still drawn, as a hairline of this size.
constexpr double kMinGraphicMm = 0.1;

// The elements of one side, picked once per sheet rather than once per card:
// a sheet of a large job holds dozens of cards, a job thousands of sheets.
// Pointers into the composer's lists, which do not change while painting.
struct SideElements
{
    QSizeF cardSizeMm;
    const QImage *background = nullptr;
    std::vector<const GraphicElement *> graphics;
    std::vector<const TemplateField *> fields;
};

SideElements cardSide(const SheetData &data)
{
    SideElements side;
    side.cardSizeMm = data.cardSizeMm;
    side.background = data.side == QLatin1String("back") ? &data.backBackground
                                                         : &data.frontBackground;
    const CardSide wanted = cardSideFromKey(data.side);
    for (const GraphicElement &graphic : data.graphics) {
        if (graphic.side == wanted)
            side.graphics.push_back(&graphic);
    }
    for (const TemplateField &field : data.fields) {
        if (field.side == wanted)
            side.fields.push_back(&field);
    }
    return side;
}

QString recordLabel(int recordIndex)
{
    return QStringLiteral("#%1").arg(recordIndex + 1, 4, 10, QLatin1Char('0'));
}

// Paints one card; false when a barcode or QR field of it could not be drawn.
bool paintCardSide(QPainter &painter, const QRectF &cell, const SideElements &side,
                   const RecordValues &record, int recordIndex, bool preview)
{
    const double cardW = side.cardSizeMm.width();
    const double cardH = side.cardSizeMm.height();
    if (!(cardW > 0) || !(cardH > 0))
        return true;

    bool codesDrawn = true;
    painter.save();
    // Intersected with the sheet's clip, so a card spilling over the paper is
    // cut at the same line as the rest of the sheet.
    painter.setClipRect(cell, Qt::IntersectClip);
    painter.fillRect(cell, Qt::white);

    painter.save();
    painter.translate(cell.topLeft());
    const double scale = std::min(cell.width() / cardW, cell.height() / cardH);
    painter.scale(scale, scale);

    if (!side.background->isNull())
        painter.drawImage(QRectF(0, 0, cardW, cardH), *side.background);

    for (const GraphicElement *graphic : side.graphics) {
        const QRectF rect(graphic->xMm, graphic->yMm, std::max(graphic->widthMm, kMinGraphicMm),
                          std::max(graphic->heightMm, kMinGraphicMm));
        paintGraphic(painter, rect, *graphic);
    }
    for (const TemplateField *field : side.fields) {
        const QRectF rect(field->xMm, field->yMm, field->widthMm, field->heightMm);
        if (!paintField(painter, rect, *field, record) && isCodeField(*field))
            codesDrawn = false;
    }
    // Back to device units with the cell clip.
    painter.restore();

    if (preview) {
        const QRectF box(cell.x() + 3, cell.y() + 3, 42, 18);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kLabelBox);
        painter.drawRoundedRect(box, 3, 3);
        QFont font(QStringLiteral("Segoe UI"));
        font.setPointSizeF(7);
        painter.setFont(font);
        painter.setPen(kLabelText);
        painter.drawText(box, Qt::AlignCenter, recordLabel(recordIndex));
    }
    painter.restore();
    return codesDrawn;
}

void paintEmptySlot(QPainter &painter, const QRectF &cell)
{
    QPen pen(kEmptySlotOutline, 1.0, Qt::DashLine);
    painter.setPen(pen);
    painter.setBrush(kEmptySlotFill);
    painter.drawRect(cell);
    painter.setPen(kEmptySlotText);
    painter.drawText(cell, Qt::AlignCenter, QStringLiteral("Empty"));
}

} // namespace

void SheetComposer::setSheetData(SheetData data)
{
    const int sheets = data.layout.sheetCount();
    data.sheetIndex = sheets < 2 ? 0 : std::clamp(data.sheetIndex, 0, sheets - 1);
    data.side = data.side == QLatin1String("back") ? QStringLiteral("back")
                                                   : QStringLiteral("front");
    data.printPageIndex = std::max(data.printPageIndex, 0);
    data.printPageCount = std::max(data.printPageCount, 0);
    m_data = std::move(data);
}

void SheetComposer::setMarkOptions(MarkOptions options)
{
    if (!options.borderColor.isValid())
        options.borderColor = Qt::black;
    // Written so that a NaN bleed counts as none too.
    if (!(options.bleedMm >= 0))
        options.bleedMm = 0;
    m_marks = std::move(options);
}

void SheetComposer::paintSheet(QPainter &painter, const QRectF &target, bool preview)
{
    m_undrawn.clear();
    const ImpositionLayout &layout = m_data.layout;

    painter.save();
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing
                           | QPainter::SmoothPixmapTransform);
    painter.fillRect(target, Qt::white);

    if (!layout.isValid() || layout.recordCount == 0) {
        if (preview) {
            painter.setPen(kEmptyStateText);
            painter.drawText(target, Qt::AlignCenter,
                             QStringLiteral("Import CSV or Excel to show imposition order"));
        }
        painter.restore();
        return;
    }

    const double sheetW = m_data.sheetSizeMm.width() > 1 ? m_data.sheetSizeMm.width() : 1;
    const double sheetH = m_data.sheetSizeMm.height() > 1 ? m_data.sheetSizeMm.height() : 1;
    const double k = std::min(target.width() / sheetW, target.height() / sheetH);

    const double cellW = m_data.cardSizeMm.width() * k;
    const double cellH = m_data.cardSizeMm.height() * k;
    const double gridW = layout.columns * cellW;
    const double gridH = layout.rows * cellH;
    const double left = target.x() + target.width() / 2 - gridW / 2;
    const double top = target.y() + target.height() / 2 - gridH / 2;

    painter.setClipRect(target.adjusted(1, 1, -1, -1));

    const SideElements side = cardSide(m_data);
    const bool back = m_data.side == QLatin1String("back");
    const QList<int> &only = m_data.onlyRecords;
    const auto selected = [&only](int index) {
        return only.isEmpty() || std::binary_search(only.cbegin(), only.cend(), index);
    };
    QList<QRectF> selectedCells; // a reprint's border goes round these alone
    for (int r = 0; r < layout.rows; ++r) {
        for (int c = 0; c < layout.columns; ++c) {
            const QRectF cell(left + c * cellW, top + r * cellH, cellW, cellH);
            const int index = layout.recordAt(m_data.sheetIndex, r, c, m_data.cutStack, back);
            if (index >= 0 && index < layout.recordCount && !selected(index))
                continue;
            if (index >= 0 && index < layout.recordCount) {
                if (!only.isEmpty())
                    selectedCells.append(cell);
                // A record past the table (a layout longer than the data) has no values.
                if (!paintCardSide(painter, cell, side, RecordValues(m_data.records, index), index, preview))
                    m_undrawn.append(index);
            } else if (preview) {
                paintEmptySlot(painter, cell);
            }
        }
    }
    // Cut-stack and mirrored backs visit records out of order; a record
    // stands once on a sheet side and is listed once per card.
    std::sort(m_undrawn.begin(), m_undrawn.end());

    QPen pen(m_marks.borderColor, std::max(kLineWidthMm * k, kMinLineWidth), Qt::SolidLine,
             Qt::SquareCap, Qt::BevelJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);

    if (m_marks.showBorder && !only.isEmpty()) {
        for (const QRectF &cell : std::as_const(selectedCells))
            painter.drawRect(cell);
    } else if (m_marks.showBorder) {
        for (int c = 0; c <= layout.columns; ++c) {
            const double x = left + c * cellW;
            painter.drawLine(QLineF(x, top, x, top + gridH));
        }
        for (int r = 0; r <= layout.rows; ++r) {
            const double y = top + r * cellH;
            painter.drawLine(QLineF(left, y, left + gridW, y));
        }
    }

    if (m_marks.showCropMarks) {
        // Cuts move inside the cards only when the bleed fits both ways;
        // otherwise both axes cut at the cell edges.
        const double b = m_marks.bleedMm * k;
        const double bleed = b > 0 && cellW > 2 * b && cellH > 2 * b ? b : 0;
        const double g = kCropGapMm * k;
        const double l = kCropLengthMm * k;
        for (double x : cropCutPositions(left, cellW, layout.columns, bleed)) {
            painter.drawLine(QLineF(x, top - g - l, x, top - g));
            painter.drawLine(QLineF(x, top + gridH + g, x, top + gridH + g + l));
        }
        for (double y : cropCutPositions(top, cellH, layout.rows, bleed)) {
            painter.drawLine(QLineF(left - g - l, y, left - g, y));
            painter.drawLine(QLineF(left + gridW + g, y, left + gridW + g + l, y));
        }
    }

    painter.restore();
}

void SheetComposer::paintCard(QPainter &painter, const QRectF &cell, const RecordValues &record,
                              int recordIndex, bool preview)
{
    paintCardSide(painter, cell, cardSide(m_data), record, recordIndex, preview);
}
