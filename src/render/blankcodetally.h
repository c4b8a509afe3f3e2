#pragma once

#include <QList>

struct PdfExportResult;

// Counts the distinct cards whose codes could not be drawn. A record stands
// on exactly one sheet (both orders map each index to one slot of one sheet),
// so only the front and back of the same sheet can name a card twice: it is
// enough to merge the sides of the current sheet, which keeps the tally as
// small as one sheet however long the job is.
class BlankCodeTally
{
public:
    // The cards of one page of `sheet` (ascending) whose codes were not drawn;
    // the pages come sheet by sheet.
    void addPage(int sheet, const QList<int> &undrawn);

    // Puts the count and the first cards (blankCodeCardsListed of them) into
    // `result`.
    void finish(PdfExportResult *result);

    // Takes in the cards of another tally over other sheets (a card stands
    // on one sheet only, so the two sets are disjoint).
    void absorb(BlankCodeTally &other);

private:
    void flush();

    int m_sheet = -1;
    QList<int> m_sheetCards; // ascending, distinct
    int m_count = 0;
    QList<int> m_listed; // the smallest indices, ascending
};
