#include "render/impositionlayout.h"

#include <algorithm>
#include <limits>

namespace {

// Slots per sheet in 64 bits: rows × columns of a stored project may pass INT_MAX.
qint64 slotsPerSheet(const ImpositionLayout &layout)
{
    if (layout.rows < 1 || layout.columns < 1)
        return 0;
    return qint64(layout.rows) * layout.columns;
}

} // namespace

int ImpositionLayout::cardsPerSheet() const
{
    return int(std::min<qint64>(slotsPerSheet(*this), std::numeric_limits<int>::max()));
}

int ImpositionLayout::sheetCount() const
{
    const qint64 perSheet = slotsPerSheet(*this);
    if (perSheet == 0 || recordCount < 1)
        return 0;
    // In 64 bits: recordCount + perSheet − 1 may pass INT_MAX.
    return int((qint64(recordCount) + perSheet - 1) / perSheet);
}

bool ImpositionLayout::isValid() const
{
    return recordCount >= 0 && rows >= 1 && columns >= 1;
}

int ImpositionLayout::standardRecordAt(int sheet, int row, int column) const
{
    // Past the last sheet every slot is empty; checked first so that the
    // product below stays within 64 bits for any grid.
    if (!isValid() || sheet < 0 || sheet >= sheetCount() || row < 0 || row >= rows || column < 0
        || column >= columns)
        return -1;
    const qint64 index = qint64(sheet) * slotsPerSheet(*this) + qint64(row) * columns + column;
    return index < recordCount ? int(index) : -1;
}

int ImpositionLayout::cutStackRecordAt(int sheet, int row, int column) const
{
    if (!isValid() || recordCount == 0 || sheet < 0 || sheet >= sheetCount() || row < 0
        || row >= rows || column < 0 || column >= columns)
        return -1;
    // Stacks 0 … m − 1 hold q + 1 cards, the others q; records fill stack 0
    // from the top sheet down, then stack 1, and so on.
    const qint64 p = slotsPerSheet(*this);
    const qint64 q = recordCount / p;
    const qint64 m = recordCount % p;
    const qint64 s = qint64(row) * columns + column;
    qint64 index;
    if (s < m) {
        if (sheet >= q + 1)
            return -1;
        index = s * (q + 1) + sheet;
    } else {
        if (sheet >= q)
            return -1;
        index = m + s * q + sheet;
    }
    return index < recordCount ? int(index) : -1;
}

int ImpositionLayout::recordAt(int sheet, int row, int column, bool cutStack, bool back) const
{
    const int lookupColumn = back ? columns - 1 - column : column;
    return cutStack ? cutStackRecordAt(sheet, row, lookupColumn)
                    : standardRecordAt(sheet, row, lookupColumn);
}

ImpositionLayout::Place ImpositionLayout::placeOf(int record, bool cutStack) const
{
    if (!isValid() || record < 0 || record >= recordCount)
        return {};
    const qint64 p = slotsPerSheet(*this);
    if (!cutStack)
        return {int(record / p), int(record % p)};
    // Stacks 0 … m − 1 hold q + 1 cards, the others q.
    const qint64 q = recordCount / p;
    const qint64 m = recordCount % p;
    const qint64 inLongStacks = m * (q + 1);
    if (record < inLongStacks)
        return {int(record % (q + 1)), int(record / (q + 1))};
    const qint64 rest = record - inLongStacks;
    return {int(rest % q), int(m + rest / q)};
}

int printPageCount(const ImpositionLayout &layout, bool duplex)
{
    return duplex ? 2 * layout.sheetCount() : layout.sheetCount();
}

PrintPage printPageAt(int page, bool duplex)
{
    page = std::max(page, 0);
    if (!duplex)
        return {page, false};
    return {page / 2, page % 2 == 1};
}

QList<double> cropCutPositions(double origin, double cell, int count, double bleed)
{
    QList<double> positions;
    if (count < 1)
        return positions;
    if (bleed > 0 && cell > 2 * bleed) {
        positions.reserve(2 * count);
        for (int i = 0; i < count; ++i) {
            positions.append(origin + i * cell + bleed);
            positions.append(origin + (i + 1) * cell - bleed);
        }
    } else {
        positions.reserve(count + 1);
        for (int i = 0; i <= count; ++i)
            positions.append(origin + i * cell);
    }
    return positions;
}
