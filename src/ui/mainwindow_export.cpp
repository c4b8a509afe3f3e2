// The print PDF of the whole batch or the part chosen: gathered here, checked
// and written by runPdfExport.
#include "ui/mainwindow.h"

#include "app/exportplan.h"
#include "render/pdfexport.h"
#include "ui/canvas/canvaspage.h"
#include "ui/canvas/canvasview.h"
#include "ui/canvaseditor.h"
#include "ui/pdfexportflow.h"
#include "ui/previewpage.h"
#include "ui/projectpanel.h"

#include <QTabWidget>

void MainWindow::exportPdf()
{
    PdfExportSource source;
    // The stored project with what the user has edited in the panel since:
    // an untouched setting prints as stored, as the tool would print it.
    source.project = m_session.project();
    m_projectPanel->storeEditedSettings(&source.project);
    source.cardRecords = m_session.cardRecords();
    source.cutStack = m_previewPage && m_previewPage->cutStack();
    // The pictures the canvases show, already read and rasterised; a side
    // whose canvas holds none is read from its file by the plan.
    source.frontBackground = m_canvasEditor->page()->frontCanvas()->backgroundImage();
    source.backBackground = m_canvasEditor->page()->backCanvas()->backgroundImage();
    PrintChoice choice = m_session.printChoice();
    const PdfExportOutcome outcome = runPdfExport(this, *m_dialogs, m_store, std::move(source), choice);
    // The preview shows the part kept for the next export.
    m_session.setPrintChoice(choice);
    if (outcome == PdfExportOutcome::ShowInPreview)
        m_pageTabs->setCurrentWidget(m_previewPage);
    refreshPreview();
}
