#include "ui/previewpage.h"

#include "render/pdfexport.h"
#include "ui/impositionpreviewwidget.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

int previewPageCount(int sheetCount, bool duplexProject, PreviewSides sides)
{
    const int sheets = std::max(sheetCount, 0);
    return duplexProject && sides == PreviewSides::All ? 2 * sheets : sheets;
}

PreviewPagePosition previewPageAt(int page, bool duplexProject, PreviewSides sides)
{
    page = std::max(page, 0);
    if (!duplexProject)
        return {page, false};
    if (sides == PreviewSides::All)
        return {page / 2, page % 2 == 1};
    return {page, sides == PreviewSides::Back};
}

namespace {

// "1, 8, 14, 37", runs of three or more as "230–240", and "…" after the
// first few entries.
QString cardNumbersText(const QList<int> &records)
{
    constexpr int shownEntries = 8;
    QStringList entries;
    qsizetype i = 0;
    while (i < records.size()) {
        if (entries.size() == shownEntries) {
            entries << QStringLiteral("…");
            break;
        }
        qsizetype end = i;
        while (end + 1 < records.size() && records.at(end + 1) == records.at(end) + 1)
            ++end;
        const qint64 first = qint64(records.at(i)) + 1;
        const qint64 last = qint64(records.at(end)) + 1;
        if (end - i >= 2) {
            entries << QStringLiteral("%1–%2").arg(first).arg(last);
            i = end + 1;
        } else {
            entries << QString::number(first);
            ++i;
        }
    }
    return entries.join(QStringLiteral(", "));
}

} // namespace

PreviewSelection previewSelection(const PrintChoice &choice, const ImpositionLayout &layout, bool cutStack)
{
    PdfExportJob job;
    job.layout = layout;
    job.cutStack = cutStack;
    PreviewSelection selection;
    if (const QString error = applyPrintChoice(choice, job); !error.isEmpty()) {
        selection.sheets = sheetSpan(0, layout.sheetCount() - 1);
        selection.line = error;
        selection.error = true;
        return selection;
    }
    selection.sheets = printedSheets(job);
    selection.onlyRecords = job.onlyRecords;
    const qsizetype sheets = selection.sheets.size();
    switch (choice.mode) {
    case PrintChoice::Mode::AllCards:
        break;
    case PrintChoice::Mode::Cards:
        selection.line = (job.onlyRecords.size() == 1 ? PreviewPage::tr("Showing card %1 only (%2)")
                                                       : PreviewPage::tr("Showing cards %1 only (%2)"))
                             .arg(cardNumbersText(job.onlyRecords),
                                  sheets == 1 ? PreviewPage::tr("1 sheet") : PreviewPage::tr("%1 sheets").arg(sheets));
        break;
    case PrintChoice::Mode::Sheets:
        selection.line = sheets == 1 ? PreviewPage::tr("Showing sheet %1 only").arg(selection.sheets.first() + 1)
                                     : PreviewPage::tr("Showing sheets %1–%2 only")
                                           .arg(selection.sheets.first() + 1)
                                           .arg(selection.sheets.last() + 1);
        break;
    }
    return selection;
}

namespace {
QPushButton *checkableButton(const QString &text, const QString &objectName, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setCheckable(true);
    return button;
}
}

PreviewPage::PreviewPage(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("previewPage"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setSpacing(10);

    auto *titleRow = new QHBoxLayout;
    auto *title = new QLabel(tr("Imposition Preview"), this);
    title->setObjectName(QStringLiteral("pageTitle"));
    titleRow->addWidget(title);
    titleRow->addStretch(1);
    m_recordCount = new QLabel(tr("Card records  %1").arg(0), this);
    m_recordCount->setObjectName(QStringLiteral("metric"));
    titleRow->addWidget(m_recordCount);
    m_sheetCount = new QLabel(tr("Sheets  %1").arg(0), this);
    m_sheetCount->setObjectName(QStringLiteral("metric"));
    titleRow->addWidget(m_sheetCount);
    layout->addLayout(titleRow);

    auto *controls = new QHBoxLayout;
    controls->setSpacing(6);
    m_orderSelector = new QComboBox(this);
    m_orderSelector->addItem(ImpositionPreviewWidget::orderModeText(false), false);
    m_orderSelector->addItem(ImpositionPreviewWidget::orderModeText(true), true);
    m_orderSelector->setMinimumWidth(220);
    m_orderSelector->setMaximumWidth(300);
    controls->addWidget(m_orderSelector);

    m_sideGroup = new QButtonGroup(this);
    m_sideGroup->setExclusive(true);
    m_allButton = checkableButton(tr("All"), QStringLiteral("previewSideButton"), this);
    m_frontButton = checkableButton(tr("Front"), QStringLiteral("previewSideButton"), this);
    m_backButton = checkableButton(tr("Back"), QStringLiteral("previewSideButton"), this);
    for (QPushButton *button : {m_allButton, m_frontButton, m_backButton}) {
        m_sideGroup->addButton(button);
        controls->addWidget(button);
    }
    m_frontButton->setChecked(true);
    m_allButton->setVisible(false);
    m_backButton->setVisible(false);
    controls->addSpacing(12);

    m_previousButton = new QPushButton(QStringLiteral("<"), this);
    m_previousButton->setObjectName(QStringLiteral("sheetNavButton"));
    m_previousButton->setToolTip(tr("Previous page (mouse wheel up)"));
    controls->addWidget(m_previousButton);
    m_pageNumber = new QSpinBox(this);
    m_pageNumber->setObjectName(QStringLiteral("sheetPage"));
    m_pageNumber->setButtonSymbols(QAbstractSpinBox::NoButtons);
    m_pageNumber->setAlignment(Qt::AlignCenter);
    m_pageNumber->setFixedWidth(56);
    m_pageNumber->setRange(1, 1);
    controls->addWidget(m_pageNumber);
    m_pageTotal = new QLabel(tr("1 page total"), this);
    m_pageTotal->setObjectName(QStringLiteral("sheetTotal"));
    controls->addWidget(m_pageTotal);
    m_nextButton = new QPushButton(QStringLiteral(">"), this);
    m_nextButton->setObjectName(QStringLiteral("sheetNavButton"));
    m_nextButton->setToolTip(tr("Next page (mouse wheel down)"));
    controls->addWidget(m_nextButton);
    controls->addStretch(1);

    m_zoomLabel = new QLabel(tr("Zoom %1% (Ctrl+wheel)").arg(100), this);
    m_zoomLabel->setObjectName(QStringLiteral("previewZoomLabel"));
    controls->addWidget(m_zoomLabel);
    m_borderButton = checkableButton(tr("Border"), QStringLiteral("previewOptionButton"), this);
    m_borderButton->setMinimumWidth(78);
    controls->addWidget(m_borderButton);
    m_colorButton = new QPushButton(tr("Color"), this);
    m_colorButton->setObjectName(QStringLiteral("previewOptionButton"));
    m_colorButton->setMinimumWidth(78);
    m_colorButton->setIconSize(QSize(16, 16));
    controls->addWidget(m_colorButton);
    m_cropMarksButton =
        checkableButton(tr("Crop marks"), QStringLiteral("previewOptionButton"), this);
    m_cropMarksButton->setMinimumWidth(100);
    controls->addWidget(m_cropMarksButton);
    layout->addLayout(controls);

    auto *selectionRow = new QHBoxLayout;
    selectionRow->setSpacing(8);
    m_selectionLine = new QLabel(this);
    m_selectionLine->setObjectName(QStringLiteral("previewSelection"));
    m_selectionLine->setTextFormat(Qt::PlainText);
    selectionRow->addWidget(m_selectionLine);
    m_showAllButton = new QPushButton(tr("Show All Cards"), this);
    m_showAllButton->setAccessibleName(m_showAllButton->text());
    selectionRow->addWidget(m_showAllButton);
    selectionRow->addStretch(1);
    layout->addLayout(selectionRow);
    m_selectionLine->setVisible(false);
    m_showAllButton->setVisible(false);

    m_preview = new ImpositionPreviewWidget(this);
    layout->addWidget(m_preview, 1);

    setBorderColor(Qt::black);

    connect(m_pageNumber, &QSpinBox::valueChanged, this, &PreviewPage::refreshRequested);
    connect(m_orderSelector, &QComboBox::currentIndexChanged, this,
            &PreviewPage::refreshRequested);
    connect(m_sideGroup, &QButtonGroup::buttonClicked, this, [this] {
        // A side change starts over; the refresh below is the only one.
        const QSignalBlocker blocker(m_pageNumber);
        m_pageNumber->setValue(1);
        emit refreshRequested();
    });
    connect(m_previousButton, &QPushButton::clicked, this, [this] { stepPage(-1); });
    connect(m_nextButton, &QPushButton::clicked, this, [this] { stepPage(1); });
    connect(m_preview, &ImpositionPreviewWidget::sheetChangeRequested, this,
            &PreviewPage::stepPage);
    connect(m_preview, &ImpositionPreviewWidget::zoomChanged, this, [this](int percent) {
        m_zoomLabel->setText(tr("Zoom %1% (Ctrl+wheel)").arg(percent));
    });
    connect(m_borderButton, &QPushButton::toggled, this, &PreviewPage::borderToggled);
    connect(m_cropMarksButton, &QPushButton::toggled, this, &PreviewPage::cropMarksToggled);
    connect(m_colorButton, &QPushButton::clicked, this, &PreviewPage::colorRequested);
    connect(m_showAllButton, &QPushButton::clicked, this, &PreviewPage::showAllCardsRequested);
}

bool PreviewPage::cutStack() const
{
    return m_orderSelector->currentData().toBool();
}

PreviewSides PreviewPage::sides() const
{
    if (m_allButton->isChecked())
        return PreviewSides::All;
    if (m_backButton->isChecked())
        return PreviewSides::Back;
    return PreviewSides::Front;
}

void PreviewPage::setDuplex(bool duplex)
{
    m_allButton->setVisible(duplex);
    m_backButton->setVisible(duplex);
    if (!duplex)
        m_frontButton->setChecked(true);
}

void PreviewPage::setMarkOptions(bool showBorder, bool showCropMarks)
{
    const QSignalBlocker borderBlocker(m_borderButton);
    const QSignalBlocker cropBlocker(m_cropMarksButton);
    m_borderButton->setChecked(showBorder);
    m_cropMarksButton->setChecked(showCropMarks);
}

void PreviewPage::setBorderColor(const QColor &color)
{
    QPixmap swatch(16, 16);
    swatch.fill(color.isValid() ? color : QColor(Qt::black));
    m_colorButton->setIcon(QIcon(swatch));
}

int PreviewPage::setPageCount(int pages)
{
    {
        const QSignalBlocker blocker(m_pageNumber);
        m_pageNumber->setRange(1, std::max(pages, 1));
    }
    const int page = m_pageNumber->value();
    m_pageTotal->setText(tr("%1 pages total").arg(pages));
    m_previousButton->setEnabled(pages >= 1 && page >= 2);
    m_nextButton->setEnabled(pages >= 1 && page < pages);
    return page - 1;
}

void PreviewPage::setCounts(int records, int sheets)
{
    m_recordCount->setText(tr("Card records  %1").arg(records));
    m_sheetCount->setText(tr("Sheets  %1").arg(sheets));
}

void PreviewPage::showSelection(const QString &line, bool error)
{
    if (line != m_selectionLine->text()) {
        const QSignalBlocker blocker(m_pageNumber);
        m_pageNumber->setValue(1);
    }
    m_selectionLine->setText(line);
    m_selectionLine->setAccessibleName(line);
    m_selectionLine->setStyleSheet(error ? QStringLiteral("color: #b91c1c;") : QString());
    m_selectionLine->setVisible(!line.isEmpty());
    m_showAllButton->setVisible(!line.isEmpty());
}

void PreviewPage::stepPage(int step)
{
    // The spin box clamps to its range, so paging past either end does nothing.
    m_pageNumber->setValue(m_pageNumber->value() + step);
}
