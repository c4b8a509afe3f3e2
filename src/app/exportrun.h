#pragma once

#include "app/exportplan.h"
#include "render/exportpreflight.h"
#include "render/jobselection.h"
#include "render/outputfile.h"
#include "render/pdfexport.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class ProjectStore;

// Where an export stopped. Each failure keeps its own cause, so the window
// and the command-line tool can word it as they always have.
enum class ExportStop {
    Written,   // the PDF is in place: `result`
    Cancelled, // the user left the range or the file dialog: nothing to report
    Geometry,  // a stored size, grid or bleed is out of range: `error`
    Plan,      // the job could not be planned: `errorTitle`, `error`, `errorDetails`
    Range,     // the cards or sheets chosen are not in the job: `error`
    Problems,  // the check found `problems` and the front end did not go on
    Output,    // a target is one of the project's files or not a regular file: `error`
    Write,     // writing failed, nothing put in place: `result.error`
};

// What the window's dialogs or the tool's arguments answer for an export.
// runExport asks them in the order declared here, each at most once, and
// none after the step that stops the export.
struct ExportFrontEnd
{
    // The part of `job` to print and how many sheets go in a file; nullopt
    // ends the export without a word.
    std::function<std::optional<PrintChoice>(const PdfExportJob &job)> chooseRange;
    // Whether to write despite `problems`; asked only when there are some.
    std::function<bool(const QList<PreflightProblem> &problems)> confirmProblems;
    // The file to write; empty ends the export without a word.
    std::function<QString()> chooseOutput;
    // Called once, right before the first page, with the pages of all files.
    std::function<void(int pageCount)> startWriting;
    // After each page, on the calling thread.
    PdfExportProgress progress;
    int jobs = 1;                             // threads composing the pages
    const TemporaryFileWatch *watch = nullptr; // told of every temporary file
};

// How an export ended.
struct ExportRun
{
    ExportStop stop = ExportStop::Written;
    QString errorTitle;               // Plan: "PDF export failed", "No PDF written", …
    QString error;                    // Geometry, Plan, Range, Output
    QStringList errorDetails;         // Plan: the causes, one a line
    QList<PreflightProblem> problems; // every problem the check found, written or not
    PdfExportResult result;           // Write and Written
};

// The one export of the window and the tool. The steps run in this order,
// the first failure ending the run before anything later is asked or written:
//  1. the stored geometry (projectGeometryError);
//  2. the plan (planPdfExport), which loads and prepares everything;
//  3. the part to print (chooseRange), narrowed into the job;
//  4. the check of the cards it prints (preflightExport, confirmProblems);
//  5. the file (chooseOutput): neither it nor any part of a split may be
//     the database, one of its files or a data file, nor exist as anything
//     but a regular file;
//  6. the writing (startWriting, progress), whose outcome is returned.
// The check comes before the file, so the user is never asked where to put a
// job that would not be written; the file's checks come right after its
// choice, so a refused file is never written to.
ExportRun runExport(ProjectStore &store, PdfExportSource source, const ExportFrontEnd &frontEnd);

// "PDF exported: FILE (N pages)", one line for each file written, as both
// the window's status bar and the tool print them.
QStringList exportedFileLines(const PdfExportResult &result);
