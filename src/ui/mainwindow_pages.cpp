// The three pages and the points where they meet the project's life. The
// imposition preview and the template canvas replace the plain pages below
// and fill in the matching functions; until then the toolbar's page actions
// say so in the status bar.
#include "ui/mainwindow.h"

#include "ui/datapage.h"

#include <QStatusBar>
#include <QWidget>

QWidget *MainWindow::createDataPage()
{
    m_dataPage = new DataPage;
    return m_dataPage;
}

QWidget *MainWindow::createPreviewPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("previewPage"));
    return page;
}

QWidget *MainWindow::createCanvasPage()
{
    // The canvases and their side tabs go here, loaded with the current
    // project's fields and graphics when built.
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("canvasPage"));
    return page;
}

void MainWindow::showUnavailable(const QString &feature)
{
    statusBar()->showMessage(tr("%1 is not available in this build yet.").arg(feature), 4000);
}

void MainWindow::exportPdf() { showUnavailable(tr("Export PDF")); }
void MainWindow::importBackground() { showUnavailable(tr("Import Background")); }
void MainWindow::addField() { showUnavailable(tr("Add Text Field")); }
void MainWindow::addBarcode() { showUnavailable(tr("Add Barcode")); }
void MainWindow::addQrCode() { showUnavailable(tr("Add QR Code")); }
void MainWindow::addScratchCard() { showUnavailable(tr("Scratch Card")); }

void MainWindow::deleteSelectedField(qint64 fieldId)
{
    Q_UNUSED(fieldId);
    showUnavailable(tr("Delete Field"));
}

// Hook points. Each is called at its place in start-up, project switching or
// panel edits already; the page that owns the behaviour fills it in.

// Imposition preview: redraw the sheets from the panel's current values.
void MainWindow::refreshPreview() {}

// Switching projects: canvases get card size, bleed, backgrounds, fields and
// graphics by side; property panels show nothing selected; the preview takes
// the project's "Border" and "Crop marks" options.
void MainWindow::showProjectOnPages() {}

// Canvas editing: the undo and redo histories belong to one project.
void MainWindow::clearCanvasHistory() {}

// Canvases: the panel's card size (setCardSize on both sides).
void MainWindow::updateCanvasCardSize() {}

// Canvases: the panel's bleed and guide flag (setBleed on both sides).
void MainWindow::updateCanvasBleed() {}

// Canvas side tabs ("Back" tab present only in duplex) and the preview's
// "All"/"Back" side buttons ("Front" checked when turning duplex off).
void MainWindow::showDuplexOnPages(bool duplex)
{
    Q_UNUSED(duplex);
}

// Background import: the line describing the current background files.
void MainWindow::refreshBackgroundStatus() {}

// Editing widgets: follow the current project's read-only state.
void MainWindow::applyReadOnlyState() {}

// Property panel: refill the selected field's data-table and column choices
// from the window's data sources, keeping the field's binding.
void MainWindow::populateSourceChoices() {}

// Canvas page: the "Preview record" number ranges from 1 to the number of
// card records (at least 1); then previewRecordChanged shows that record on
// the canvases.
void MainWindow::updatePreviewRecordRange() {}
