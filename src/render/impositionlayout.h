#pragma once

#include <QList>
#include <QtGlobal>

// Which card goes into which slot of a print sheet. Slots are numbered
// row-major (s = row × columns + column), sheets from 0. Pure arithmetic, so
// the preview, the export and the tests agree on every slot.
struct ImpositionLayout
{
    qint32 recordCount = 0;
    qint32 rows = 1;
    qint32 columns = 1;

    // rows × columns, or 0 when rows or columns is below 1.
    int cardsPerSheet() const;
    // Sheets needed for all records; 0 without records or with an empty grid.
    int sheetCount() const;
    // recordCount ≥ 0, rows ≥ 1, columns ≥ 1.
    bool isValid() const;

    // Record index that Standard Order (continuous on the sheet) puts in the
    // slot, or −1 for an empty slot or a position outside the layout.
    int standardRecordAt(int sheet, int row, int column) const;

    // Record index that Cut-Stack order (continuous after cutting the sheets
    // into one stack per slot and laying the stacks in slot order) puts in
    // the slot, or −1.
    int cutStackRecordAt(int sheet, int row, int column) const;

    // The record painted in grid column `column` (from the left) of a sheet
    // side. A back side looks up the mirrored column, so each back stands
    // behind its own front once the sheet is turned over about its vertical axis.
    int recordAt(int sheet, int row, int column, bool cutStack, bool back) const;

    // Where record `record` stands: its sheet and its slot on the sheet's
    // front (row-major, from 0), the inverse of the two orders above; both
    // −1 for a record outside the layout. Its back stands in the mirrored
    // column of the same row.
    struct Place
    {
        int sheet = -1;
        int slot = -1;
        friend bool operator==(const Place &, const Place &) = default;
    };
    Place placeOf(int record, bool cutStack) const;

    friend bool operator==(const ImpositionLayout &, const ImpositionLayout &) = default;
};

// One page of the exported PDF: a sheet and its side.
struct PrintPage
{
    int sheet = 0;
    bool back = false;

    friend bool operator==(const PrintPage &, const PrintPage &) = default;
};

// Pages of the export: sheetCount, or twice that for a duplex job.
int printPageCount(const ImpositionLayout &layout, bool duplex);

// Page `page` (from 0): front of sheet `page` single-sided; with duplex the
// pages run front 0, back 0, front 1, back 1, …
PrintPage printPageAt(int page, bool duplex);

// Cut positions along one axis of a grid of `count` cells of size `cell`
// starting at `origin` (device units). With a bleed b > 0 smaller than half a
// cell, the cuts lie b inside both edges of every cell (2 × count positions);
// otherwise they are the cell edges (count + 1 positions). Ascending.
QList<double> cropCutPositions(double origin, double cell, int count, double bleed);
