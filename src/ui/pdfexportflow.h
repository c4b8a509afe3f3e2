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

// The window's "Export PDF": runExport with the window's dialogs as its front
// end. The part to write is chosen in the "Export Range" dialog (which starts
// from `choice` and, unless cancelled, leaves the user's choice there), the
// problems the check finds are shown in a box the user may go on past, the
// file is chosen in a save dialog, and the PDF written behind a progress
// dialog. Every refusal is a critical box; the outcome is shown in a box and
// the status bar, a line "PDF exported: FILE (N pages)" for each file, and
// the parts of an earlier, longer set of the same name named.
PdfExportOutcome runPdfExport(QMainWindow *window, Dialogs &dialogs, ProjectStore &store, PdfExportSource source,
                              PrintChoice &choice);
