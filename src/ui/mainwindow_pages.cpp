// The three pages and the points where they meet the project's life. The
// template canvas and its property panels live in CanvasEditor; the slots
// here forward to it.
#include "ui/mainwindow.h"

#include "ui/backgroundflow.h"
#include "ui/canvas/canvaspage.h"
#include "ui/canvas/propertyscroll.h"
#include "ui/canvaseditor.h"
#include "ui/datapage.h"
#include "ui/editmenu.h"
#include "ui/previewpage.h"
#include "ui/projectpanel.h"

#include <QCheckBox>
#include <QStatusBar>
#include <QTabWidget>
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
    CanvasEditorHooks hooks;
    hooks.refreshPreview = [this] { refreshPreview(); };
    hooks.showCanvasPage = [this] {
        for (int i = 0; i < m_pageTabs->count(); ++i) {
            if (m_pageTabs->tabText(i) == tr("Template Canvas"))
                m_pageTabs->setCurrentIndex(i);
        }
    };
    hooks.cardSizeMm = [this] {
        return QSizeF(m_projectPanel->cardWidthBox()->value(), m_projectPanel->cardHeightBox()->value());
    };
    hooks.showStatus = [this](const QString &text, int timeoutMs) { statusBar()->showMessage(text, timeoutMs); };
    m_canvasEditor =
        new CanvasEditor(m_store, m_session, *m_dialogs, this, m_paths.dataDirectory, std::move(hooks), this);

    CanvasPage *page = m_canvasEditor->page();
    page->setObjectName(QStringLiteral("canvasPage"));
    connect(page, &CanvasPage::importBackgroundRequested, this, &MainWindow::importBackground);
    connect(page, &CanvasPage::clearBackgroundRequested, this, &MainWindow::clearBackground);
    for (UnitSpinBox *box : m_canvasEditor->propertyPanels()->unitSpinBoxes())
        registerUnitSpinBox(box);
    new EditMenu(*m_canvasEditor, menuBar(), m_canvasEditor);
    m_canvasEditor->openProject();
    return page;
}

void MainWindow::importBackground() { m_canvasEditor->backgrounds()->importBackground(); }
void MainWindow::clearBackground() { m_canvasEditor->backgrounds()->clearBackground(); }
void MainWindow::addField() { m_canvasEditor->addElement(ElementKind::Text); }
void MainWindow::addBarcode() { m_canvasEditor->addElement(ElementKind::Barcode); }
void MainWindow::addQrCode() { m_canvasEditor->addElement(ElementKind::QrCode); }
void MainWindow::addScratchCard() { m_canvasEditor->addElement(ElementKind::Scratch); }
void MainWindow::deleteSelectedField(qint64 fieldId) { m_canvasEditor->deleteField(fieldId); }

// Switching projects: canvases get card size, bleed, fields and graphics by
// side and an empty history; property panels show nothing selected; the
// preview takes the project's "Border" and "Crop marks" options and its sides.
void MainWindow::showProjectOnPages()
{
    showProjectOnPreview();
    showDuplexOnPages(m_session.project().duplex);
    m_canvasEditor->openProject();
    updateCanvasCardSize();
    updateCanvasBleed();
}

// Canvases: the panel's card size (setCardSize on both sides).
void MainWindow::updateCanvasCardSize()
{
    m_canvasEditor->setCardSize(
        QSizeF(m_projectPanel->cardWidthBox()->value(), m_projectPanel->cardHeightBox()->value()));
}

// Canvases: the panel's bleed and guide flag (setBleed on both sides).
void MainWindow::updateCanvasBleed()
{
    m_canvasEditor->setBleed(m_projectPanel->bleedBox()->value(), m_projectPanel->bleedGuideCheck()->isChecked());
}

// Canvas side tabs ("Back" tab present only in duplex) and the preview's
// "All"/"Back" side buttons ("Front" checked when turning duplex off).
void MainWindow::showDuplexOnPages(bool duplex)
{
    m_previewPage->setDuplex(duplex);
    m_canvasEditor->setDuplex(duplex);
}

// The "backgroundStatus" line, for the side the canvas page shows.
void MainWindow::refreshBackgroundStatus() { m_canvasEditor->backgrounds()->refreshStatus(); }

// Editing widgets: follow the current project's read-only state.
void MainWindow::applyReadOnlyState() {}

void MainWindow::showCardRecordsOnCanvas()
{
    if (m_canvasEditor)
        m_canvasEditor->cardRecordsChanged();
}
