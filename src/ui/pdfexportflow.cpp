#include "ui/pdfexportflow.h"

#include "model/projectgeometry.h"
#include "render/exportpreflight.h"
#include "render/impositionlayout.h"
#include "store/protectedfiles.h"
#include "ui/dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QMainWindow>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QStatusBar>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PdfExportFlow", text);
}

PdfExportResult writeWithProgress(QWidget *window, const PdfExportJob &job, const QString &path)
{
    QProgressDialog progress(tr("Generating PDF pages…"), QString(), 0,
                             printPageCount(job.layout, job.duplex), window);
    progress.setWindowTitle(tr("Export PDF"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setValue(0);
    return exportImpositionPdf(job, path, [&progress](int pagesDone, int) {
        progress.setValue(pagesDone);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
}

} // namespace

void runPdfExport(QMainWindow *window, Dialogs &dialogs, ProjectStore &store, PdfExportSource source)
{
    // The tool refuses the same stored values, so window and tool agree
    // about one database; the panel only shows them clamped.
    if (const std::optional<QString> geometry = projectGeometryError(source.project)) {
        dialogs.critical(window, tr("Unable to Export PDF"),
                         *geometry + QStringLiteral("\n\n")
                             + tr("Enter a value in the allowed range in the project settings and save the project."));
        return;
    }

    const QString projectName = source.project.name;
    const PdfExportPlan plan = planPdfExport(store, std::move(source));
    if (!plan.ok()) {
        // The causes first, as the tool lists them on stderr.
        const QString details = plan.errorDetails.join(u'\n');
        dialogs.critical(window, plan.errorTitle,
                         details.isEmpty() ? plan.error : details + QStringLiteral("\n\n") + plan.error);
        return;
    }

    const QList<PreflightProblem> problems = preflightExport(plan.job);
    if (!problems.isEmpty()
        && !dialogs.confirmWarning(window, tr("Check the Job Before Export"),
                                   tr("This job would print wrong cards:") + QStringLiteral("\n\n")
                                       + preflightReport(problems),
                                   tr("Export anyway"))) {
        window->statusBar()->showMessage(tr("PDF export cancelled"), 4000);
        return;
    }

    const QString proposed = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                                 .filePath(proposedPdfFileName(projectName));
    const QString path =
        dialogs.getSaveFileName(window, tr("Export Imposition PDF"), proposed, tr("PDF File (*.pdf)"));
    if (path.isEmpty())
        return;
    // The file dialog's "Replace?" does not know the file is the database
    // or a data file; replacing either loses the user's work.
    if (const std::optional<QString> reason = protectedOutputReason(store, path)) {
        dialogs.critical(window, tr("PDF export failed"), *reason);
        return;
    }

    const PdfExportResult result = writeWithProgress(window, plan.job, path);
    if (!result.ok) {
        dialogs.critical(window, tr("PDF export failed"), result.error);
        return;
    }

    const QString nativePath = QDir::toNativeSeparators(path);
    const QString status = tr("PDF exported: %1 (%2 pages)").arg(nativePath).arg(result.pageCount);
    const QString report = tr("Generated %1 PDF pages:\n%2").arg(result.pageCount).arg(nativePath);
    if (result.blankCodeCardCount > 0) {
        // A press run with blank codes is a reprint: never report it as a
        // plain success.
        const QString blanks = blankCodesSummary(result);
        window->statusBar()->showMessage(status + QStringLiteral(" — ") + blanks, 8000);
        dialogs.warning(window, tr("Export Complete"), report + QStringLiteral("\n\n") + blanks,
                        QMessageBox::Ok, QMessageBox::Ok);
        return;
    }
    window->statusBar()->showMessage(status, 8000);
    dialogs.information(window, tr("Export Complete"), report);
}
