#pragma once

#include "render/pdfexport.h"

#include <QList>
#include <QSizeF>
#include <QString>

// What an export checks before it writes: faults that would otherwise leave
// the press as a plain success.
struct PreflightProblem
{
    enum class Kind {
        MissingData, // a bound field's column is not in the card's record: it prints "{{key}}"
        NoPrize,     // a scratch field's prize list ends before the card: it prints the placeholder
        BlankCode,   // a barcode or QR field's data is empty or only spaces: it scans as nothing
        CutOff,      // the card's slot reaches past the sheet edge
        OutsideCard, // a field or graphic lies wholly off the card: no card prints it
        EmptySide,   // a printed side has no fields, no graphics and no background
    };
    Kind kind = Kind::MissingData;
    int cardCount = 0;     // distinct cards affected
    QList<int> firstCards; // their smallest record indices, ascending, at most preflightCardsListed
    QString message;       // one line, the cards numbered as the preview labels them (#0041, …)
};

// How many record indices PreflightProblem::firstCards keeps.
constexpr int preflightCardsListed = 10;

// Every problem of the job, in the order of Kind (one NoPrize per scratch
// field, in field order; an empty front before an empty back); empty when it is clean or has no cards. Only the printed sides
// count: the back only with duplex. One pass over the cards, so it is cheap
// enough to run before every export.
QList<PreflightProblem> preflightExport(const PdfExportJob &job);

// The problems' messages, one per line.
QString preflightReport(const QList<PreflightProblem> &problems);

// How far a grid of `rows` × `columns` cards of `cardSizeMm` reaches past a
// sheet of `sheetSizeMm` in each direction (the grid is centred, so half of it
// on each side); 0 where it fits.
QSizeF gridOverflowMm(const QSizeF &cardSizeMm, const QSizeF &sheetSizeMm, int rows, int columns);
