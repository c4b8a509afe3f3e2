#include "ui/canvas/canvaspage.h"

#include "ui/canvas/canvasview.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QIcon canvasIcon(const QString &name)
{
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(name));
}

QFrame *actionsSeparator(QWidget *parent)
{
    auto *separator = new QFrame(parent);
    separator->setObjectName(QStringLiteral("canvasActionsSeparator"));
    separator->setFrameShape(QFrame::VLine);
    separator->setFixedWidth(1);
    return separator;
}

} // namespace

CanvasPage::CanvasPage(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("canvasPage"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setSpacing(8);

    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    auto *title = new QLabel(tr("Precision Template Canvas"), this);
    title->setObjectName(QStringLiteral("pageTitle"));
    titleRow->addWidget(title);
    titleRow->addStretch(1);
    m_importButton = new QPushButton(tr("Import Image / PDF"), this);
    m_importButton->setObjectName(QStringLiteral("primaryButton"));
    titleRow->addWidget(m_importButton);
    m_clearButton = new QPushButton(tr("Clear Background"), this);
    titleRow->addWidget(m_clearButton);
    m_addTextButton = new QPushButton(tr("Add Text Field"), this);
    titleRow->addWidget(m_addTextButton);
    titleRow->addSpacing(8);
    auto *recordLabel = new QLabel(tr("Preview record"), this);
    titleRow->addWidget(recordLabel);
    m_previewRecord = new QSpinBox(this);
    m_previewRecord->setRange(1, 1);
    m_previewRecord->setMinimumWidth(72);
    m_previewRecord->setAccessibleName(tr("Preview record"));
    recordLabel->setBuddy(m_previewRecord);
    titleRow->addWidget(m_previewRecord);
    layout->addLayout(titleRow);

    auto *hint = new QLabel(
        tr("Drag objects to reposition them. Hold Shift to select multiple objects; the last selected "
           "object is the alignment anchor. Use Ctrl+C/Ctrl+V to copy and paste, Ctrl+Z to undo, Ctrl+R "
           "to redo, and Ctrl+wheel to zoom."),
        this);
    hint->setObjectName(QStringLiteral("hint"));
    hint->setWordWrap(true);
    layout->addWidget(hint);

    m_backgroundStatus = new QLabel(tr("Background: not imported"), this);
    m_backgroundStatus->setObjectName(QStringLiteral("backgroundStatus"));
    layout->addWidget(m_backgroundStatus);

    m_frontCanvas = new CanvasView(this);
    m_frontCanvas->setObjectName(QStringLiteral("frontCanvas"));
    m_frontCanvas->setAccessibleName(tr("Front canvas"));
    m_backCanvas = new CanvasView(this);
    m_backCanvas->setObjectName(QStringLiteral("backCanvas"));
    m_backCanvas->setAccessibleName(tr("Back canvas"));
    m_backCanvas->hide();

    m_sideTabs = new QTabWidget(this);
    m_sideTabs->setObjectName(QStringLiteral("sideTabs"));
    m_sideTabs->addTab(m_frontCanvas, tr("Front"));

    auto *canvasArea = new QWidget(this);
    auto *canvasLayout = new QHBoxLayout(canvasArea);
    canvasLayout->setContentsMargins(0, 0, 0, 0);
    canvasLayout->setSpacing(8);
    canvasLayout->addWidget(createToolPalette(), 0, Qt::AlignTop);
    auto *sideColumn = new QVBoxLayout;
    sideColumn->setSpacing(6);
    sideColumn->addWidget(createAlignmentBar());
    sideColumn->addWidget(m_sideTabs, 1);
    canvasLayout->addLayout(sideColumn, 1);

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->addWidget(canvasArea);
    m_splitter->setStretchFactor(0, 1);
    layout->addWidget(m_splitter, 1);

    connect(m_importButton, &QPushButton::clicked, this, &CanvasPage::importBackgroundRequested);
    connect(m_clearButton, &QPushButton::clicked, this, &CanvasPage::clearBackgroundRequested);
    connect(m_addTextButton, &QPushButton::clicked, this,
            [this] { emit addElementRequested(ElementKind::Text); });
    connect(m_previewRecord, &QSpinBox::valueChanged, this, &CanvasPage::previewRecordChanged);
    connect(m_sideTabs, &QTabWidget::currentChanged, this, [this] {
        updateAlignmentButtons();
        emit sideChanged(currentSide());
    });
    for (CanvasView *canvas : {m_frontCanvas, m_backCanvas})
        connect(canvas, &CanvasView::selectionCountChanged, this, &CanvasPage::updateAlignmentButtons);
    updateAlignmentButtons();
}

QWidget *CanvasPage::createToolPalette()
{
    auto *palette = new QFrame(this);
    palette->setObjectName(QStringLiteral("canvasToolPalette"));
    auto *column = new QVBoxLayout(palette);
    column->setContentsMargins(6, 6, 6, 6);
    column->setSpacing(4);

    const auto addTool = [this, palette, column](const QString &toolTip, const QString &label,
                                                const QString &icon) {
        auto *button = new QToolButton(palette);
        button->setObjectName(QStringLiteral("canvasToolButton"));
        button->setToolTip(toolTip);
        button->setAccessibleName(toolTip);
        button->setIcon(canvasIcon(icon));
        button->setIconSize(QSize(22, 22));
        button->setText(label);
        button->setToolButtonStyle(label.isEmpty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextUnderIcon);
        button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        column->addWidget(button);
        m_toolButtons.append(button);
        return button;
    };

    QToolButton *select = addTool(tr("Select / Move Objects"), QString(), QStringLiteral("cursor"));
    select->setCheckable(true);
    select->setChecked(true);
    // The only mode there is: an exclusive group keeps the tool checked.
    auto *modes = new QButtonGroup(palette);
    modes->setExclusive(true);
    modes->addButton(select);
    connect(select, &QToolButton::clicked, this, [this] { currentCanvas()->setFocus(Qt::OtherFocusReason); });

    const auto elementTool = [this, &addTool](const QString &toolTip, const QString &label, const QString &icon,
                                              ElementKind kind) {
        QToolButton *button = addTool(toolTip, label, icon);
        connect(button, &QToolButton::clicked, this, [this, kind] { emit addElementRequested(kind); });
    };
    elementTool(tr("Add Variable Text Field"), tr("Text"), QStringLiteral("type"), ElementKind::Text);
    elementTool(tr("Add Auto Sequence"), tr("Sequence"), QStringLiteral("sequence"), ElementKind::Sequence);

    QToolButton *image = addTool(tr("Import Image or PDF background"), tr("Image"), QStringLiteral("image"));
    connect(image, &QToolButton::clicked, this, &CanvasPage::importBackgroundRequested);

    QToolButton *draw = addTool(tr("Draw Shape"), tr("Pen"), QStringLiteral("draw"));
    m_drawingMenu = new QMenu(draw);
    m_drawingMenu->setObjectName(QStringLiteral("drawingToolMenu"));
    const auto shape = [this](const QString &text, const QString &icon, ElementKind kind) {
        QAction *action = m_drawingMenu->addAction(canvasIcon(icon), text);
        connect(action, &QAction::triggered, this, [this, kind] { emit addElementRequested(kind); });
    };
    shape(tr("Line"), QStringLiteral("line"), ElementKind::Line);
    shape(tr("Circle"), QStringLiteral("circle"), ElementKind::Ellipse);
    shape(tr("Rectangle"), QStringLiteral("square"), ElementKind::Rectangle);
    draw->setMenu(m_drawingMenu);
    draw->setPopupMode(QToolButton::InstantPopup);

    elementTool(tr("Add Table"), tr("Table"), QStringLiteral("table"), ElementKind::Table);

    elementTool(tr("Add Barcode (Code 128)"), tr("Barcode"), QStringLiteral("barcode"), ElementKind::Barcode);
    elementTool(tr("Add QR Code"), tr("QR Code"), QStringLiteral("qr-code"), ElementKind::QrCode);
    elementTool(tr("Add Scratch Card"), tr("Scratch"), QStringLiteral("scratch-card"), ElementKind::Scratch);
    column->addStretch(1);
    return palette;
}

QWidget *CanvasPage::createAlignmentBar()
{
    auto *bar = new QFrame(this);
    bar->setObjectName(QStringLiteral("canvasActions"));
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(6, 4, 6, 4);
    row->setSpacing(4);

    struct Alignment
    {
        QString toolTip;
        QString icon;
        AlignMode mode;
    };
    const Alignment alignments[] = {
        {tr("Align Left (select at least two objects)"), QStringLiteral("align-left"), AlignMode::Left},
        {tr("Align Horizontal Center (select at least two objects)"), QStringLiteral("align-center"),
         AlignMode::HorizontalCenter},
        {tr("Align Right (select at least two objects)"), QStringLiteral("align-right"), AlignMode::Right},
        {tr("Align Top (select at least two objects)"), QStringLiteral("align-top"), AlignMode::Top},
        {tr("Align Vertical Center (select at least two objects)"), QStringLiteral("align-middle"),
         AlignMode::VerticalCenter},
        {tr("Align Bottom (select at least two objects)"), QStringLiteral("align-bottom"), AlignMode::Bottom},
    };
    for (const Alignment &alignment : alignments) {
        if (alignment.mode == AlignMode::Top)
            row->addWidget(actionsSeparator(bar));
        auto *button = new QToolButton(bar);
        button->setObjectName(QStringLiteral("alignmentButton"));
        button->setToolTip(alignment.toolTip);
        button->setAccessibleName(alignment.toolTip);
        button->setIcon(canvasIcon(alignment.icon));
        button->setIconSize(QSize(20, 20));
        const AlignMode mode = alignment.mode;
        connect(button, &QToolButton::clicked, this, [this, mode] { emit alignRequested(mode); });
        row->addWidget(button);
        m_alignmentButtons.append(button);
    }
    row->addWidget(actionsSeparator(bar));

    m_snap = new QCheckBox(tr("Snap"), bar);
    m_snap->setToolTip(tr("Snap rectangles to other graphics and canvas edges while dragging or resizing; "
                          "corners use a larger snap range"));
    connect(m_snap, &QCheckBox::toggled, this, [this](bool enabled) {
        m_frontCanvas->setSnapEnabled(enabled);
        m_backCanvas->setSnapEnabled(enabled);
        emit snapToggled(enabled);
        emit statusMessageRequested(enabled ? tr("SnapEnabled") : tr("SnapDisabled"), 1800);
    });
    row->addWidget(m_snap);
    row->addStretch(1);
    return bar;
}

CanvasView *CanvasPage::currentCanvas() const
{
    return m_sideTabs->currentWidget() == m_backCanvas ? m_backCanvas : m_frontCanvas;
}

CardSide CanvasPage::currentSide() const
{
    return currentCanvas() == m_backCanvas ? CardSide::Back : CardSide::Front;
}

CanvasView *CanvasPage::canvasForSide(CardSide side) const
{
    return side == CardSide::Back ? m_backCanvas : m_frontCanvas;
}

void CanvasPage::setDuplex(bool duplex)
{
    const int backIndex = m_sideTabs->indexOf(m_backCanvas);
    if (duplex && backIndex < 0) {
        m_sideTabs->addTab(m_backCanvas, tr("Back"));
    } else if (!duplex && backIndex >= 0) {
        m_sideTabs->setCurrentWidget(m_frontCanvas);
        m_sideTabs->removeTab(backIndex);
        m_backCanvas->hide();
    }
}

bool CanvasPage::isDuplex() const
{
    return m_sideTabs->indexOf(m_backCanvas) >= 0;
}

void CanvasPage::setPropertyPanel(QWidget *panel)
{
    if (panel == m_propertyPanel)
        return;
    delete m_propertyPanel;
    m_propertyPanel = panel;
    if (!panel)
        return;
    m_splitter->addWidget(panel);
    m_splitter->setStretchFactor(m_splitter->indexOf(panel), 0);
}

void CanvasPage::setBackgroundStatus(const QString &text)
{
    m_backgroundStatus->setText(text);
}

void CanvasPage::setPreviewRecordCount(int count)
{
    const QSignalBlocker blocker(m_previewRecord);
    m_previewRecord->setRange(1, std::max(count, 1));
}

int CanvasPage::previewRecordNumber() const
{
    return m_previewRecord->value();
}

void CanvasPage::updateAlignmentButtons()
{
    const bool enabled = currentCanvas()->selectionCount() >= 2;
    for (QToolButton *button : std::as_const(m_alignmentButtons))
        button->setEnabled(enabled);
}
