#pragma once

#include "render/pdfexport.h"

#include <QList>
#include <QString>

class BlankCodeTally;
class OutputFile;

// "An error occurred while creating a PDF page": the writer refused the paper
// or a new page, or the job has no page to write.
QString pageFailedMessage();

// What writeSheets did: the pages it wrote, and why it stopped early.
struct PageRun
{
    int pagesWritten = 0;
    QString error;
};

// Paints `sheets` of the job as the pages of one PDF into `output`, which the
// caller commits: each sheet's front, then its back with duplex, at 300 dpi
// on the job's paper without margins. `pagesBefore` and `pagesInAll` count
// across every file of a split export, for the page numbers the composer
// prints and for `progress`. The cards whose codes could not be drawn go to
// `blanks`. A failed write stops at the page it shows on.
PageRun writeSheets(const PdfExportJob &job, const QList<int> &sheets, OutputFile &output, int pagesBefore,
                    int pagesInAll, BlankCodeTally &blanks, const PdfExportProgress &progress);
