#pragma once

#include "app/exportplan.h"
#include "render/jobselection.h"
#include "render/pdfexport.h"

class Dialogs;
class ProjectStore;
class QMainWindow;

// How an export ended for the window.
enum class PdfExportOutcome {
    Finished,      // written, failed or cancelled: nothing more to do
    ShowInPreview, // the user chose to look at `choice` on the preview first
};

// The window's "Export PDF" from the gathered source to the report: the
// project's geometry is checked, the job planned and preflighted (the user
// may go on past the problems found), the part to write chosen in the
// "Export Range" dialog (which starts from `choice` and, unless cancelled,
// leaves the user's choice there), a file chosen that is none of the
// project's own files and, where it exists, a regular file (so is every part
// of a split), the PDF written behind a progress dialog and the outcome shown
// in a box and the status bar, a line "PDF exported: FILE (N pages)" for each
// file, and the parts of an earlier, longer set of the same name named.
PdfExportOutcome runPdfExport(QMainWindow *window, Dialogs &dialogs, ProjectStore &store, PdfExportSource source,
                              PrintChoice &choice);
