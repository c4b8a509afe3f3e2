// The imposition preview: feeding the sheet from the panel's current values
// and the project's mark options, and the options' own controls.
#include "ui/mainwindow.h"

#include "model/fieldvalues.h"
#include "render/impositionlayout.h"
#include "render/sheetcomposer.h"
#include "ui/dialogs.h"
#include "ui/impositionpreviewwidget.h"
#include "ui/previewpage.h"
#include "ui/projectpanel.h"

#include <QSpinBox>
#include <QStatusBar>

void MainWindow::connectPreviewPage()
{
    connect(m_previewPage, &PreviewPage::refreshRequested, this, &MainWindow::refreshPreview);
    connect(m_previewPage, &PreviewPage::borderToggled, this,
            &MainWindow::setImpositionBorderShown);
    connect(m_previewPage, &PreviewPage::cropMarksToggled, this, &MainWindow::setCropMarksShown);
    connect(m_previewPage, &PreviewPage::colorRequested, this,
            &MainWindow::chooseImpositionBorderColor);
}

void MainWindow::showProjectOnPreview()
{
    m_previewPage->setMarkOptions(m_project.showImpositionBorder, m_project.showCropMarks);
    m_previewPage->setBorderColor(QColor(m_project.impositionBorderColor));
    m_previewPage->setDuplex(m_project.duplex);
}

void MainWindow::refreshPreview()
{
    if (!m_previewPage || !m_projectPanel)
        return;

    QString error;
    const QList<TemplateField> fields = m_store.loadFields(m_project.id, &error);
    if (!error.isEmpty())
        statusBar()->showMessage(error, 8000);

    // The same list object, not only equal contents: comparing every record
    // would cost about as much as preparing them.
    if (!m_previewCards.valid || !m_previewCards.from.isSharedWith(m_cardRecords)
        || m_previewCards.fields != fields) {
        const PreparedCards prepared = prepareCardRecords(m_cardRecords, fields);
        QList<QJsonObject> preparedRecords;
        preparedRecords.reserve(prepared.records.size());
        for (const DataRecord &record : prepared.records)
            preparedRecords.append(record.values);
        m_previewCards = {m_cardRecords, fields, std::move(preparedRecords), prepared.error, true};
    }
    if (!m_previewCards.error.isEmpty())
        statusBar()->showMessage(m_previewCards.error, 6000);
    QList<QJsonObject> records = m_previewCards.records;

    const ProjectPanel *panel = m_projectPanel;
    const ImpositionLayout layout{qint32(records.size()), qint32(panel->rowsBox()->value()),
                                  qint32(panel->columnsBox()->value())};
    const int sheets = layout.sheetCount();

    const PreviewSides sides = m_previewPage->sides();
    const int pages = previewPageCount(sheets, m_project.duplex, sides);
    const int page = m_previewPage->setPageCount(pages);
    const PreviewPagePosition shown = previewPageAt(page, m_project.duplex, sides);
    m_previewPage->setCounts(layout.recordCount, sheets);

    updatePreviewRecordRange();

    // The canvases, once they exist, hold the graphics as edited; until then
    // the stored ones are what prints.
    error.clear();
    QList<GraphicElement> graphics = m_store.loadGraphics(m_project.id, &error);
    if (!error.isEmpty())
        statusBar()->showMessage(error, 8000);

    ImpositionPreviewWidget *preview = m_previewPage->preview();
    preview->setMarkOptions({m_project.showImpositionBorder,
                             QColor(m_project.impositionBorderColor), m_project.showCropMarks,
                             panel->bleedBox() ? panel->bleedBox()->value() : m_project.bleedMm});

    SheetData data;
    data.layout = layout;
    data.sheetIndex = shown.sheet;
    data.side = shown.back ? QStringLiteral("back") : QStringLiteral("front");
    data.sheetSizeMm = {panel->sheetWidthBox()->value(), panel->sheetHeightBox()->value()};
    data.cardSizeMm = {panel->cardWidthBox()->value(), panel->cardHeightBox()->value()};
    data.fields = fields;
    data.graphics = std::move(graphics);
    data.records = std::move(records);
    data.cutStack = m_previewPage->cutStack();
    data.printPageIndex = page;
    data.printPageCount = pages;
    preview->setSheetData(std::move(data));
}

void MainWindow::setImpositionBorderShown(bool show)
{
    m_project.showImpositionBorder = show;
    refreshPreview();
}

void MainWindow::setCropMarksShown(bool show)
{
    m_project.showCropMarks = show;
    refreshPreview();
}

void MainWindow::chooseImpositionBorderColor()
{
    QColor initial(m_project.impositionBorderColor);
    if (!initial.isValid())
        initial = Qt::black;
    const QColor chosen =
        m_dialogs->getColor(this, tr("Choose Imposition Border Color"), initial);
    if (chosen.isValid()) {
        m_project.impositionBorderColor = chosen.name(QColor::HexRgb).toLower();
        m_previewPage->setBorderColor(chosen);
    }
    refreshPreview();
}
