// The print PDF of the whole batch: gathered from the panel as it stands and
// the current project record, written by the core behind a progress dialog.
#include "ui/mainwindow.h"

#include "render/impositionlayout.h"
#include "render/pdfexport.h"
#include "ui/dialogs.h"
#include "ui/previewpage.h"
#include "ui/projectpanel.h"

#include <QCoreApplication>
#include <QDir>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QStatusBar>

void MainWindow::exportPdf()
{
    PdfExportSource source;
    // Border, crop marks, duplex and name are the record's; sizes, grid and
    // bleed are what the panel shows, saved or not.
    source.project = m_project;
    m_projectPanel->storeSettings(&source.project);
    source.cardRecords = m_cardRecords;
    source.cutStack = m_previewPage && m_previewPage->cutStack();

    const PdfExportPlan plan = planPdfExport(m_store, source);
    if (!plan.ok()) {
        m_dialogs->critical(this, plan.errorTitle, plan.error);
        return;
    }

    const QString proposed =
        QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .filePath(proposedPdfFileName(m_project.name));
    const QString path = m_dialogs->getSaveFileName(this, tr("Export Imposition PDF"), proposed,
                                                    tr("PDF File (*.pdf)"));
    if (path.isEmpty())
        return;

    const int pageCount = printPageCount(plan.job.layout, plan.job.duplex);
    PdfExportResult result;
    {
        QProgressDialog progress(tr("Generating PDF pages…"), QString(), 0, pageCount, this);
        progress.setWindowTitle(tr("Export PDF"));
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(0);
        progress.setValue(0);
        result = exportImpositionPdf(plan.job, path, [&progress](int pagesDone, int) {
            progress.setValue(pagesDone);
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        });
    }

    if (!result.ok) {
        m_dialogs->critical(this, tr("PDF export failed"), result.error);
        return;
    }

    const QString nativePath = QDir::toNativeSeparators(path);
    const QString status = tr("PDF exported: %1 (%2 pages)").arg(nativePath).arg(result.pageCount);
    const QString report = tr("Generated %1 PDF pages:\n%2").arg(result.pageCount).arg(nativePath);
    if (result.blankCodeCardCount > 0) {
        // A press run with blank codes is a reprint: never report it as a
        // plain success.
        const QString blanks = blankCodesSummary(result);
        statusBar()->showMessage(status + QStringLiteral(" — ") + blanks, 8000);
        m_dialogs->warning(this, tr("Export Complete"), report + QStringLiteral("\n\n") + blanks,
                           QMessageBox::Ok, QMessageBox::Ok);
        return;
    }
    statusBar()->showMessage(status, 8000);
    m_dialogs->information(this, tr("Export Complete"), report);
}
