#include "ui/pdfexportflow.h"

#include "model/projectgeometry.h"
#include "render/exportpreflight.h"
#include "render/impositionlayout.h"
#include "render/outputfile.h"
#include "store/protectedfiles.h"
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

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PdfExportFlow", text);
}

// The progress runs over the pages of every file: those of the printed sheets.
PdfExportResult writeWithProgress(QWidget *window, const PdfExportJob &job, const QString &path, int pageCount,
                                  int sheetsPerFile)
{
    QProgressDialog progress(tr("Generating PDF pages…"), QString(), 0, pageCount, window);
    progress.setWindowTitle(tr("Export PDF"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setValue(0);
    return exportImpositionPdf(
        job, path,
        [&progress](int pagesDone, int) {
            progress.setValue(pagesDone);
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        },
        // The pages are composed on every core; the dialog stays on this thread.
        sheetsPerFile, std::max(QThread::idealThreadCount(), 1));
}

// "PDF exported: FILE (N pages)" for each file written, as the tool prints them.
QStringList exportedLines(const PdfExportResult &result)
{
    QStringList lines;
    for (qsizetype file = 0; file < result.files.size(); ++file) {
        lines << tr("PDF exported: %1 (%2 pages)")
                     .arg(QDir::toNativeSeparators(result.files.at(file)))
                     .arg(result.filePages.value(file));
    }
    return lines;
}

} // namespace

PdfExportOutcome runPdfExport(QMainWindow *window, Dialogs &dialogs, ProjectStore &store, PdfExportSource source,
                              PrintChoice &choice)
{
    // The tool refuses the same stored values, so window and tool agree
    // about one database; the panel only shows them clamped.
    if (const std::optional<QString> geometry = projectGeometryError(source.project)) {
        dialogs.critical(window, tr("Unable to Export PDF"),
                         *geometry + QStringLiteral("\n\n")
                             + tr("Enter a value in the allowed range in the project settings and save the project."));
        return PdfExportOutcome::Finished;
    }

    const QString projectName = source.project.name;
    PdfExportPlan plan = planPdfExport(store, std::move(source));
    if (!plan.ok()) {
        // The causes first, as the tool lists them on stderr.
        const QString details = plan.errorDetails.join(u'\n');
        dialogs.critical(window, plan.errorTitle,
                         details.isEmpty() ? plan.error : details + QStringLiteral("\n\n") + plan.error);
        return PdfExportOutcome::Finished;
    }

    {
        ExportRangeDialog range(plan.job, choice, window);
        const int answer = dialogs.execExportRangeDialog(range);
        if (answer != QDialog::Accepted && answer != ExportRangeDialog::ShowInPreview)
            return PdfExportOutcome::Finished;
        choice = range.choice();
        if (answer == ExportRangeDialog::ShowInPreview)
            return PdfExportOutcome::ShowInPreview;
    }
    // The dialog lets no bad choice past "Export…"; whatever reaches here
    // anyway is refused before a file is asked for.
    if (const QString error = applyPrintChoice(choice, plan.job); !error.isEmpty()) {
        dialogs.critical(window, tr("PDF export failed"), error);
        return PdfExportOutcome::Finished;
    }
    // Checked after the choice, as the tool does: a reprint is judged by the
    // cards it prints.
    const QList<PreflightProblem> problems = preflightExport(plan.job);
    if (!problems.isEmpty()
        && !dialogs.confirmWarning(window, tr("Check the Job Before Export"),
                                   tr("This job would print wrong cards:") + QStringLiteral("\n\n")
                                       + preflightReport(problems),
                                   tr("Export anyway"))) {
        window->statusBar()->showMessage(tr("PDF export cancelled"), 4000);
        return PdfExportOutcome::Finished;
    }

    const int sheetsPerFile = std::max(choice.sheetsPerFile, 0);
    const int sheetCount = int(printedSheets(plan.job).size());
    const int sides = plan.job.duplex ? 2 : 1;

    const QString proposed = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                                 .filePath(proposedPdfFileName(projectName));
    const QString path =
        dialogs.getSaveFileName(window, tr("Export Imposition PDF"), proposed, tr("PDF File (*.pdf)"));
    if (path.isEmpty())
        return PdfExportOutcome::Finished;
    // The file dialog's "Replace?" does not know the file is the database
    // or a data file; replacing either loses the user's work. A split job
    // writes beside the chosen name, so each part is checked as well.
    QStringList targets = splitPartPaths(path, sheetCount, sheetsPerFile);
    if (!targets.contains(path))
        targets.prepend(path);
    for (const QString &target : std::as_const(targets)) {
        std::optional<QString> reason = protectedOutputReason(store, target);
        // A device or FIFO would be replaced by the PDF, a folder refuse it.
        if (!reason)
            reason = notRegularOutputReason(target);
        if (reason) {
            dialogs.critical(window, tr("PDF export failed"), *reason);
            return PdfExportOutcome::Finished;
        }
    }

    const PdfExportResult result = writeWithProgress(window, plan.job, path, sheetCount * sides, sheetsPerFile);
    if (!result.ok) {
        dialogs.critical(window, tr("PDF export failed"), result.error);
        return PdfExportOutcome::Finished;
    }

    const QStringList lines = exportedLines(result);
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
