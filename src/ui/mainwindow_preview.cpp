// The imposition preview: feeding the sheet from the panel's current values
// and the project's mark options, and the options' own controls.
#include "ui/mainwindow.h"

#include "render/impositionlayout.h"
#include "render/sheetcomposer.h"
#include "ui/canvas/canvaspage.h"
#include "ui/canvas/canvasview.h"
#include "ui/canvaseditor.h"
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
    connect(m_previewPage, &PreviewPage::showAllCardsRequested, this, [this] {
        m_session.setPrintChoice({});
        refreshPreview();
    });
}

void MainWindow::showProjectOnPreview()
{
    m_previewPage->setMarkOptions(m_session.project().showImpositionBorder, m_session.project().showCropMarks);
    m_previewPage->setBorderColor(QColor(m_session.project().impositionBorderColor));
    m_previewPage->setDuplex(m_session.project().duplex);
}

void MainWindow::refreshPreview()
{
    if (!m_previewPage || !m_projectPanel || !m_canvasEditor)
        return;

    // The template as the editor holds it, which is what the store holds.
    const QList<TemplateField> &fields = m_canvasEditor->document().fields();

    const ProjectSession::PreparedView &prepared = m_session.preparedCards(fields);
    if (!prepared.error.isEmpty())
        statusBar()->showMessage(prepared.error, 6000);
    const CardTable &records = prepared.records;

    const ProjectPanel *panel = m_projectPanel;
    const ImpositionLayout layout{qint32(records.size()), qint32(panel->rowsBox()->value()),
                                  qint32(panel->columnsBox()->value())};
    // Only the part kept for export is paged through.
    const PreviewSelection selection = previewSelection(m_session.printChoice(), layout, m_previewPage->cutStack());
    m_previewPage->showSelection(selection.line, selection.error);

    const PreviewSides sides = m_previewPage->sides();
    const int pages = previewPageCount(int(selection.sheets.size()), m_session.project().duplex, sides);
    const int page = m_previewPage->setPageCount(pages);
    const PreviewPagePosition shown = previewPageAt(page, m_session.project().duplex, sides);
    m_previewPage->setCounts(layout.recordCount, layout.sheetCount());

    QList<GraphicElement> graphics = m_canvasEditor->document().graphics();

    ImpositionPreviewWidget *preview = m_previewPage->preview();
    preview->setMarkOptions({m_session.project().showImpositionBorder,
                             QColor(m_session.project().impositionBorderColor), m_session.project().showCropMarks,
                             panel->bleedBox() ? panel->bleedBox()->value() : m_session.project().bleedMm});

    SheetData data;
    data.layout = layout;
    data.sheetIndex = selection.sheets.value(shown.sheet, 0);
    data.onlyRecords = selection.onlyRecords;
    data.side = shown.back ? QStringLiteral("back") : QStringLiteral("front");
    data.sheetSizeMm = {panel->sheetWidthBox()->value(), panel->sheetHeightBox()->value()};
    data.cardSizeMm = {panel->cardWidthBox()->value(), panel->cardHeightBox()->value()};
    data.fields = fields;
    data.graphics = std::move(graphics);
    data.records = records;
    // The pictures the canvases already hold: turning pages reads no file.
    data.frontBackground = m_canvasEditor->page()->frontCanvas()->backgroundImage();
    data.backBackground = m_canvasEditor->page()->backCanvas()->backgroundImage();
    data.cutStack = m_previewPage->cutStack();
    data.printPageIndex = page;
    data.printPageCount = pages;
    preview->setSheetData(std::move(data));
}

// The mark options print with the job, so they are saved as soon as they are
// chosen, as the sides are: the tool exports what the window shows, and
// nothing is left for the save question. A failed save puts the page back to
// the stored choice.
void MainWindow::saveMarkOptions(const std::function<void(Project &)> &change)
{
    Project changed = m_session.project();
    change(changed);
    QString error;
    if (m_store.updateProject(changed, &error))
        change(m_session.project());
    else
        statusBar()->showMessage(tr("Could not save the preview settings: %1").arg(error), 6000);
    showProjectOnPreview();
    refreshPreview();
}

void MainWindow::setImpositionBorderShown(bool show)
{
    saveMarkOptions([show](Project &project) { project.showImpositionBorder = show; });
}

void MainWindow::setCropMarksShown(bool show)
{
    saveMarkOptions([show](Project &project) { project.showCropMarks = show; });
}

void MainWindow::chooseImpositionBorderColor()
{
    QColor initial(m_session.project().impositionBorderColor);
    if (!initial.isValid())
        initial = Qt::black;
    const QColor chosen =
        m_dialogs->getColor(this, tr("Choose Imposition Border Color"), initial);
    if (!chosen.isValid())
        return;
    const QString name = chosen.name(QColor::HexRgb).toLower();
    saveMarkOptions([&name](Project &project) { project.impositionBorderColor = name; });
}
