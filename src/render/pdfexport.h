#pragma once

#include "model/graphicelement.h"
#include "model/project.h"
#include "model/templatefield.h"
#include "render/impositionlayout.h"
#include "render/outputfile.h"
#include "render/sheetcomposer.h"
#include "model/cardtable.h"

#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// Reads the data of `cards` (ascending record indices); `error` says why when
// the reading failed.
using CardDataReader = std::function<CardTable(const QList<int> &cards, QString *error)>;

// Everything one PDF export is painted from.
struct PdfExportJob
{
    ImpositionLayout layout;
    QSizeF sheetSizeMm{420, 297};
    QSizeF cardSizeMm{90, 54};
    QList<TemplateField> fields;    // both sides
    QList<GraphicElement> graphics; // both sides
    CardTable records;              // prepared card records, in card order
    // When set, the cards' data is read from the store a sheet at a time and
    // `records` holds only the generated values: a long run's memory is then
    // that of a sheet, not of every card.
    CardDataReader cardReader;
    bool cutStack = false;
    MarkOptions marks;
    bool duplex = false;
    QImage frontBackground;
    QImage backBackground;
    QString title; // the project name as stored

    // A part of the job. `onlyRecords` (ascending record indices): a reprint
    // of those cards alone, each in its slot and on its side as in the whole
    // job, on the sheets that hold them, every other slot blank. `sheets`
    // (ascending sheet indices): only those sheets, whole. Both empty: every
    // sheet. Numbering and prizes are always those of the whole job.
    QList<int> onlyRecords;
    QList<int> sheets;
};

// The sheets (indices from 0, ascending) the job writes: its `sheets` within
// the layout, else those holding its `onlyRecords`, else every sheet.
QList<int> printedSheets(const PdfExportJob &job);

// The record indices on `sheet`, ascending (both sides hold the same cards).
QList<int> sheetCards(const PdfExportJob &job, int sheet);

// The job's records holding the data of `cards` (ascending record indices):
// its own table, or with a card reader, those cards read from the store under
// the job's generated values. Nothing, and `error`, when the store failed.
std::optional<CardTable> jobRecords(const PdfExportJob &job, const QList<int> &cards, QString *error);

struct PdfExportResult
{
    bool ok = false;
    QString error;     // "Could not write FILE: REASON", "PATH is not a regular
                       // file" or "An error occurred while creating a PDF page"
    int pageCount = 0; // pages written, in all files
    QStringList files;     // the files written, in page order
    QList<int> filePages;  // the pages of each of them
    // A split export: files beside it named as parts of the same name that
    // this export did not write (an earlier, longer set), sorted. They are
    // left alone, but the user must hear of them: they look like the set.
    QStringList earlierParts;

    // Cards with a barcode or QR field that could not be drawn: on paper
    // those fields are blank areas. The count is of distinct cards; the list
    // holds the first few record indices, ascending.
    int blankCodeCardCount = 0;
    QList<int> blankCodeCards;
};

// Called after each page with the pages done so far and the page count.
using PdfExportProgress = std::function<void(int pagesDone, int pageCount)>;

// How many record indices PdfExportResult::blankCodeCards keeps.
constexpr int blankCodeCardsListed = 10;

// Writes the job's printed sheets as one PDF, a page per sheet side (fronts
// only, or front, back, front, … with duplex), at 300 dpi, the paper size, no
// margins. The file is written next to `path` under a temporary name and moved
// into place only when complete, so a failure never touches a file already at
// `path` and leaves nothing behind.
// With `sheetsPerFile` ≥ 1 the sheets are split into files of that many
// sheets, named by splitPartPath ("NAME-001.pdf", …), each a complete PDF;
// they are moved into place together once all are written, so a failure
// leaves none of them and no existing file changed. Progress counts the pages
// of all files.
// `jobs` threads compose the pages (at most one per file of a split export;
// one file written by several threads is joined from their pieces with qpdf,
// page for page what one thread writes). Progress is reported on the calling
// thread only.
// A target that exists and is not a regular file is refused before anything
// is written. Temporary files carry the process id; those in the folder left
// by processes that are gone are removed first. `watch`, when given, hears
// of every temporary file made and released.
PdfExportResult exportImpositionPdf(const PdfExportJob &job, const QString &path,
                                    const PdfExportProgress &progress = {}, int sheetsPerFile = 0, int jobs = 1,
                                    const TemporaryFileWatch *watch = nullptr);

// "N card(s) have barcode or QR codes that could not be drawn and will print
// blank: #0004, #0012, …"; empty when every code was drawn. Shared by the
// window's success box and status line and the command-line tool.
QString blankCodesSummary(const PdfExportResult &result);

// "N earlier part(s) of the same name, not part of this export, left as they
// were: FILE, FILE": the window's completion box and the tool's stderr.
QString earlierPartsNote(const QStringList &earlierParts);

// "#0041": the card of record index `recordIndex` as the preview labels it.
QString cardLabel(int recordIndex);

// "#0004, #0012, …": the labels of `firstCards`, and "…" when `cardCount`
// cards are affected in all and not every one is listed.
QString cardLabelList(const QList<int> &firstCards, int cardCount);

// The file name the save dialog proposes: the project name trimmed, each of
// \ / : * ? " < > | replaced by "_", "VDP Imposition" when nothing is left,
// with ".pdf" appended.
QString proposedPdfFileName(const QString &projectName);
