#include "ui/pdfexportflow.h"

#include "app/exportrun.h"
#include "render/exportpreflight.h"
#include "ui/dialogs.h"
#include "ui/exportrangedialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QMainWindow>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QStatusBar>
#include <QThread>

#include <algorithm>
#include <optional>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PdfExportFlow", text);
}

} // namespace

PdfExportOutcome runPdfExport(QMainWindow *window, Dialogs &dialogs, ProjectStore &store, PdfExportSource source,
                              PrintChoice &choice)
{
    const QString projectName = source.project.name;
    bool showInPreview = false;
    // The progress runs over the pages of every file: those of the printed sheets.
    std::optional<QProgressDialog> progress;

    ExportFrontEnd frontEnd;
    frontEnd.chooseRange = [&](const PdfExportJob &job) -> std::optional<PrintChoice> {
        ExportRangeDialog range(job, choice, window);
        const int answer = dialogs.execExportRangeDialog(range);
        if (answer != QDialog::Accepted && answer != ExportRangeDialog::ShowInPreview)
            return std::nullopt;
        choice = range.choice();
        if (answer == ExportRangeDialog::ShowInPreview) {
            showInPreview = true;
            return std::nullopt;
        }
        // The dialog lets no bad choice past "Export…"; whatever reaches
        // the export anyway is refused before a file is asked for.
        return choice;
    };
    frontEnd.confirmProblems = [&](const QList<PreflightProblem> &problems) {
        return dialogs.confirmWarning(window, tr("Check the Job Before Export"),
                                      tr("This job would print wrong cards:") + QStringLiteral("\n\n")
                                          + preflightReport(problems),
                                      tr("Export anyway"));
    };
    frontEnd.chooseOutput = [&] {
        const QString proposed = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                                     .filePath(proposedPdfFileName(projectName));
        return dialogs.getSaveFileName(window, tr("Export Imposition PDF"), proposed, tr("PDF File (*.pdf)"));
    };
    frontEnd.startWriting = [&](int pageCount) {
        progress.emplace(tr("Generating PDF pages…"), QString(), 0, pageCount, window);
        progress->setWindowTitle(tr("Export PDF"));
        progress->setWindowModality(Qt::WindowModal);
        progress->setMinimumDuration(0);
        progress->setValue(0);
    };
    frontEnd.progress = [&](int pagesDone, int) {
        progress->setValue(pagesDone);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    // The pages are composed on every core; the dialog stays on this thread.
    frontEnd.jobs = std::max(QThread::idealThreadCount(), 1);

    const ExportRun run = runExport(store, std::move(source), frontEnd);
    progress.reset();

    switch (run.stop) {
    case ExportStop::Written:
        break;
    case ExportStop::Cancelled:
        return showInPreview ? PdfExportOutcome::ShowInPreview : PdfExportOutcome::Finished;
    case ExportStop::Geometry:
        // The tool refuses the same stored values, so window and tool agree
        // about one database; the panel only shows them clamped.
        dialogs.critical(window, tr("Unable to Export PDF"),
                         run.error + QStringLiteral("\n\n")
                             + tr("Enter a value in the allowed range in the project settings and save the project."));
        return PdfExportOutcome::Finished;
    case ExportStop::Plan: {
        // The causes first, as the tool lists them on stderr.
        const QString details = run.errorDetails.join(u'\n');
        dialogs.critical(window, run.errorTitle,
                         details.isEmpty() ? run.error : details + QStringLiteral("\n\n") + run.error);
        return PdfExportOutcome::Finished;
    }
    case ExportStop::Range:
    case ExportStop::Output:
        dialogs.critical(window, tr("PDF export failed"), run.error);
        return PdfExportOutcome::Finished;
    case ExportStop::Problems:
        window->statusBar()->showMessage(tr("PDF export cancelled"), 4000);
        return PdfExportOutcome::Finished;
    case ExportStop::Write:
        dialogs.critical(window, tr("PDF export failed"), run.result.error);
        return PdfExportOutcome::Finished;
    }

    const PdfExportResult &result = run.result;
    const QStringList lines = exportedFileLines(result);
    QString status;
    QString report;
    if (result.files.size() == 1) {
        status = lines.first();
        report = tr("Generated %1 PDF pages:\n%2")
                     .arg(result.pageCount)
                     .arg(QDir::toNativeSeparators(result.files.first()));
    } else {
        status = lines.join(QStringLiteral("; "));
        report = tr("Generated %1 PDF pages in %2 files:\n%3")
                     .arg(result.pageCount)
                     .arg(result.files.size())
                     .arg(lines.join(u'\n'));
    }
    // An earlier, longer set of the same name would go to the press with
    // the new one unless the user hears of it.
    if (!result.earlierParts.isEmpty()) {
        const QString earlier = earlierPartsNote(result.earlierParts);
        window->statusBar()->showMessage(status + QStringLiteral(" — ") + earlier, 8000);
        dialogs.warning(window, tr("Export Complete"), report + QStringLiteral("\n\n") + earlier
                            + (result.blankCodeCardCount > 0 ? QStringLiteral("\n\n") + blankCodesSummary(result)
                                                             : QString()),
                        QMessageBox::Ok, QMessageBox::Ok);
        return PdfExportOutcome::Finished;
    }
    if (result.blankCodeCardCount > 0) {
        // A press run with blank codes is a reprint: never report it as a
        // plain success.
        const QString blanks = blankCodesSummary(result);
        window->statusBar()->showMessage(status + QStringLiteral(" — ") + blanks, 8000);
        dialogs.warning(window, tr("Export Complete"), report + QStringLiteral("\n\n") + blanks,
                        QMessageBox::Ok, QMessageBox::Ok);
        return PdfExportOutcome::Finished;
    }
    window->statusBar()->showMessage(status, 8000);
    dialogs.information(window, tr("Export Complete"), report);
    return PdfExportOutcome::Finished;
}
