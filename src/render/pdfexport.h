#pragma once

// The print PDF of a job, written in one call. The job and its sheets are in
// exportjob.h, the texts shown around an export in cardlabels.h and
// exportmessages.h; the writing is split by concern into pagewriter (the
// pages of one file), sheettasks (files and pieces on several threads) and
// outputfileset (a set of files put in place together).

#include "model/project.h"
#include "render/cardlabels.h"
#include "render/exportjob.h"
#include "render/exportmessages.h"
#include "render/outputfile.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

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
