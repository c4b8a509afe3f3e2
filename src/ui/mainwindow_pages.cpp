// The three pages and the points where they meet the project's life. The
// template canvas replaces the plain page below and fills in the matching
// functions; until then the toolbar's canvas actions say so in the status bar.
#include "ui/mainwindow.h"

#include "ui/datapage.h"
#include "ui/previewpage.h"

#include <QStatusBar>
#include <QWidget>

QWidget *MainWindow::createDataPage()
{
    m_dataPage = new DataPage;
    return m_dataPage;
}

QWidget *MainWindow::createPreviewPage()
{
    m_previewPage = new PreviewPage;
    showProjectOnPreview();
    connectPreviewPage();
    return m_previewPage;
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

// Switching projects: canvases get card size, bleed, backgrounds, fields and
// graphics by side; property panels show nothing selected; the preview takes
// the project's "Border" and "Crop marks" options and its sides.
void MainWindow::showProjectOnPages()
{
    showProjectOnPreview();
    // The canvas side tabs follow the new project's sides as well.
    showDuplexOnPages(m_session.project().duplex);
}

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
    m_previewPage->setDuplex(duplex);
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
