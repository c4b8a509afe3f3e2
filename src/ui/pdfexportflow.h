#pragma once

#include "render/pdfexport.h"

class Dialogs;
class ProjectStore;
class QMainWindow;

// The window's "Export PDF" from the gathered source to the report: the
// project's geometry is checked, the job planned and preflighted (the user
// may go on past the problems found), a file chosen that is none of the
// project's own files, the PDF written behind a progress dialog and the
// outcome shown in a box and the status bar.
void runPdfExport(QMainWindow *window, Dialogs &dialogs, ProjectStore &store, PdfExportSource source);
