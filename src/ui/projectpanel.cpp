#include "ui/projectpanel.h"

#include "model/projectgeometry.h"
#include "render/exportpreflight.h"

#include "ui/paperpresets.h"
#include "ui/unitspinbox.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace {
using namespace projectlimits;
constexpr int kLandscapeIndex = 1;
// Narrow enough that a label and its field share a row at the panel's minimum width.
constexpr int kFieldMinimumWidth = 90;
}

ProjectPanel::ProjectPanel(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("projectPanel"));
    // Styled by object name, which a plain QWidget only honours with this.
    setAttribute(Qt::WA_StyledBackground);
    setMinimumWidth(230);

    // The settings are taller than the window may be, so they scroll.
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    outer->addWidget(scroll);

    auto *content = new QWidget(scroll);
    content->setObjectName(QStringLiteral("projectPanelContent"));
    scroll->setWidget(content);

    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(10, 12, 10, 12);
    layout->setSpacing(8);

    auto *title = new QLabel(tr("Project Settings"), this);
    title->setObjectName(QStringLiteral("projectPanelTitle"));
    layout->addWidget(title);

    // Basic Settings
    QFormLayout *basic = addSection(layout, tr("Basic Settings"));

    m_projectSelector = new QComboBox(this);
    m_projectSelector->setObjectName(QStringLiteral("projectSelector"));
    m_projectSelector->setEditable(true);
    // The edit text is the name a save stores; typing must not add items.
    m_projectSelector->setInsertPolicy(QComboBox::NoInsert);
    m_projectSelector->setToolTip(tr("Select a project or enter a new project name."));
    m_projectSelector->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_projectSelector->setMinimumContentsLength(8);

    m_deleteProjectButton = new QPushButton(tr("×"), this);
    m_deleteProjectButton->setObjectName(QStringLiteral("deleteProjectButton"));
    m_deleteProjectButton->setToolTip(tr("Delete Current Template"));
    m_deleteProjectButton->setFixedSize(22, 22);

    auto *selectorRow = new QHBoxLayout;
    selectorRow->setSpacing(4);
    selectorRow->addWidget(m_projectSelector, 1);
    selectorRow->addWidget(m_deleteProjectButton);
    basic->addRow(tr("Project Name"), selectorRow);

    m_singleButton = new QPushButton(tr("Single"), this);
    m_duplexButton = new QPushButton(tr("Duplex"), this);
    m_sidesGroup = new QButtonGroup(this);
    m_sidesGroup->setExclusive(true);
    auto *sidesRow = new QHBoxLayout;
    sidesRow->setSpacing(4);
    for (QPushButton *button : {m_singleButton, m_duplexButton}) {
        button->setObjectName(QStringLiteral("sideButton"));
        button->setCheckable(true);
        m_sidesGroup->addButton(button);
        sidesRow->addWidget(button);
    }
    m_singleButton->setChecked(true);
    basic->addRow(tr("Sides"), sidesRow);

    m_unitsCombo = new QComboBox(this);
    m_unitsCombo->setMinimumWidth(kFieldMinimumWidth);
    m_unitsCombo->addItem(tr("Millimetres (mm)"), false);
    m_unitsCombo->addItem(tr("Inches (in)"), true);
    basic->addRow(tr("Units"), m_unitsCombo);

    // Finished Size
    QFormLayout *finished = addSection(layout, tr("Finished Size"));
    m_cardWidth = createLengthBox(minimumLengthMm, maximumLengthMm);
    m_cardHeight = createLengthBox(minimumLengthMm, maximumLengthMm);
    finished->addRow(tr("Finished Width"), m_cardWidth);
    finished->addRow(tr("Finished Height"), m_cardHeight);

    // Bleed and Sheet
    QFormLayout *sheet = addSection(layout, tr("Bleed and Sheet"));
    m_paperCombo = new QComboBox(this);
    m_paperCombo->setMinimumWidth(kFieldMinimumWidth);
    for (const PaperPreset &preset : paperPresets())
        m_paperCombo->addItem(preset.name, preset.sizeMm);
    sheet->addRow(tr("Paper"), m_paperCombo);

    m_orientationCombo = new QComboBox(this);
    m_orientationCombo->setMinimumWidth(kFieldMinimumWidth);
    m_orientationCombo->addItems({tr("Portrait"), tr("Landscape")});
    sheet->addRow(tr("Orientation"), m_orientationCombo);

    m_bleed = createLengthBox(0, 0);
    m_bleed->setSingleStep(0.5);
    m_bleed->setToolTip(tr("Bleed guide distance measured inward from each finished edge"));
    sheet->addRow(tr("Bleed"), m_bleed);

    m_bleedGuide = new QCheckBox(tr("Show red bleed guide"), this);
    sheet->addRow(tr("Bleed Guide"), m_bleedGuide);

    m_sheetWidth = createLengthBox(minimumLengthMm, maximumLengthMm);
    m_sheetHeight = createLengthBox(minimumLengthMm, maximumLengthMm);
    sheet->addRow(tr("Sheet Width"), m_sheetWidth);
    sheet->addRow(tr("Sheet Height"), m_sheetHeight);

    // Imposition Settings
    QFormLayout *imposition = addSection(layout, tr("Imposition Settings"));
    m_rows = new QSpinBox(this);
    m_columns = new QSpinBox(this);
    for (QSpinBox *box : {m_rows, m_columns}) {
        box->setRange(minimumCount, maximumCount);
        box->setMinimumWidth(kFieldMinimumWidth);
    }
    imposition->addRow(tr("Rows"), m_rows);
    imposition->addRow(tr("Columns"), m_columns);

    m_fitWarning = new QLabel(this);
    m_fitWarning->setObjectName(QStringLiteral("fitWarning"));
    m_fitWarning->setWordWrap(true);
    m_fitWarning->setVisible(false);
    imposition->addRow(m_fitWarning);

    m_saveButton = new QPushButton(tr("Save Project"), this);
    m_saveButton->setObjectName(QStringLiteral("primaryButton"));
    layout->addSpacing(6);
    layout->addWidget(m_saveButton);
    layout->addStretch(1);

    // Start from the defaults of a blank project so the bleed range is sane
    // before the first project is shown.
    showProject(Project{});

    connect(m_projectSelector, &QComboBox::activated, this, &ProjectPanel::projectActivated);
    connect(m_deleteProjectButton, &QPushButton::clicked, this,
            &ProjectPanel::deleteProjectRequested);
    connect(m_singleButton, &QPushButton::clicked, this, [this] { emit duplexRequested(false); });
    connect(m_duplexButton, &QPushButton::clicked, this, [this] { emit duplexRequested(true); });
    connect(m_unitsCombo, &QComboBox::currentIndexChanged, this,
            [this] { emit useInchesChanged(useInches()); });

    for (UnitSpinBox *box : {m_cardWidth, m_cardHeight}) {
        connect(box, &UnitSpinBox::valueChanged, this, [this] {
            updateBleedMaximum();
            emit cardSizeChanged();
        });
    }
    connect(m_bleed, &UnitSpinBox::valueChanged, this, &ProjectPanel::bleedChanged);
    connect(m_bleedGuide, &QCheckBox::toggled, this, &ProjectPanel::bleedGuideChanged);
    for (UnitSpinBox *box : {m_sheetWidth, m_sheetHeight})
        connect(box, &UnitSpinBox::valueChanged, this, &ProjectPanel::sheetLayoutChanged);
    for (QSpinBox *box : {m_rows, m_columns})
        connect(box, &QSpinBox::valueChanged, this, &ProjectPanel::sheetLayoutChanged);
    connect(m_paperCombo, &QComboBox::currentIndexChanged, this, &ProjectPanel::applyPaperPreset);
    connect(m_orientationCombo, &QComboBox::currentIndexChanged, this,
            &ProjectPanel::applyPaperPreset);
    connect(m_saveButton, &QPushButton::clicked, this, &ProjectPanel::saveRequested);

    // The name typed is remembered apart from the selector's text, which
    // becomes the chosen project's name as soon as another one is picked.
    connect(m_projectSelector->lineEdit(), &QLineEdit::textChanged, this, [this](const QString &text) {
        if (m_fillingSelector)
            return;
        const int index = m_projectSelector->currentIndex();
        if (index != m_shownIndex && index >= 0 && text == m_projectSelector->itemText(index))
            return;
        m_typedName = text;
        m_nameTyped = true;
    });
    connect(this, &ProjectPanel::cardSizeChanged, this, &ProjectPanel::updateFitWarning);
    connect(this, &ProjectPanel::sheetLayoutChanged, this, &ProjectPanel::updateFitWarning);
    connect(this, &ProjectPanel::useInchesChanged, this, &ProjectPanel::updateFitWarning);
}

QFormLayout *ProjectPanel::addSection(QVBoxLayout *layout, const QString &title)
{
    auto *separator = new QFrame(this);
    separator->setObjectName(QStringLiteral("projectSeparator"));
    separator->setFrameShape(QFrame::NoFrame);
    separator->setFixedHeight(1);
    layout->addSpacing(4);
    layout->addWidget(separator);

    auto *label = new QLabel(title, this);
    label->setObjectName(QStringLiteral("projectSectionTitle"));
    layout->addWidget(label);

    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    // A long label goes above its field rather than being cut off when the
    // panel is at its narrowest.
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    form->setHorizontalSpacing(6);
    form->setVerticalSpacing(6);
    layout->addLayout(form);
    return form;
}

UnitSpinBox *ProjectPanel::createLengthBox(double minimumMm, double maximumMm)
{
    auto *box = new UnitSpinBox(this);
    box->setRange(minimumMm, maximumMm);
    box->setMinimumWidth(kFieldMinimumWidth);
    return box;
}

void ProjectPanel::updateBleedMaximum()
{
    // The caller passes the possibly clamped bleed on itself.
    const QSignalBlocker blocker(m_bleed);
    m_bleed->setMaximum(bleedMaximumMm(m_cardWidth->value(), m_cardHeight->value()));
}

void ProjectPanel::applyPaperPreset()
{
    const QSizeF preset = m_paperCombo->currentData().toSizeF();
    if (preset.width() < 0)
        return; // "Custom" leaves the sheet size as typed
    const QSizeF size =
        orientedPaperSize(preset, m_orientationCombo->currentIndex() == kLandscapeIndex);
    {
        const QSignalBlocker widthBlocker(m_sheetWidth);
        const QSignalBlocker heightBlocker(m_sheetHeight);
        m_sheetWidth->setValue(size.width());
        m_sheetHeight->setValue(size.height());
    }
    emit sheetLayoutChanged();
}

// Said while the user edits, not only at export: a grid that does not fit
// loses its outer cards on every sheet.
void ProjectPanel::updateFitWarning()
{
    const QSizeF over = gridOverflowMm(QSizeF(m_cardWidth->value(), m_cardHeight->value()),
                                       QSizeF(m_sheetWidth->value(), m_sheetHeight->value()),
                                       m_rows->value(), m_columns->value());
    const auto length = [this](double mm) {
        return useInches() ? tr("%1 in").arg(mm / 25.4, 0, 'f', 3) : tr("%1 mm").arg(mm, 0, 'f', 2);
    };
    QString text;
    if (over.width() > 0 && over.height() > 0)
        text = tr("The cards do not fit the sheet: the grid is %1 too wide and %2 too tall.")
                   .arg(length(over.width()), length(over.height()));
    else if (over.width() > 0)
        text = tr("The cards do not fit the sheet: the grid is %1 too wide.").arg(length(over.width()));
    else if (over.height() > 0)
        text = tr("The cards do not fit the sheet: the grid is %1 too tall.").arg(length(over.height()));
    m_fitWarning->setText(text);
    m_fitWarning->setAccessibleName(text);
    m_fitWarning->setVisible(!text.isEmpty());
}

void ProjectPanel::setProjects(const QList<Project> &projects, const Project &current)
{
    const QSignalBlocker blocker(m_projectSelector);
    const bool sameProject = current.id == m_shownProjectId;
    m_fillingSelector = true;
    m_projectSelector->clear();
    int currentIndex = -1;
    for (const Project &project : projects) {
        if (project.id == current.id)
            currentIndex = m_projectSelector->count();
        m_projectSelector->addItem(project.name, project.id);
    }
    if (currentIndex >= 0) {
        m_projectSelector->setCurrentIndex(currentIndex);
    } else {
        m_projectSelector->setCurrentIndex(-1);
        m_projectSelector->setEditText(current.name);
    }
    m_deleteProjectButton->setEnabled(current.id >= 1);
    m_shownIndex = currentIndex;
    m_shownProjectId = current.id;
    m_savedName = current.name;
    // A refill for the same project (after a cancelled switch, say) keeps
    // what the user typed.
    if (sameProject && m_nameTyped)
        m_projectSelector->setEditText(m_typedName);
    else
        m_nameTyped = false;
    m_fillingSelector = false;
}

qint64 ProjectPanel::projectIdAt(int index) const
{
    if (index < 0 || index >= m_projectSelector->count())
        return 0;
    return m_projectSelector->itemData(index).toLongLong();
}

QString ProjectPanel::projectName() const
{
    return m_projectSelector->currentText();
}

void ProjectPanel::focusProjectName()
{
    m_projectSelector->lineEdit()->selectAll();
    m_projectSelector->setFocus(Qt::OtherFocusReason);
}

void ProjectPanel::showProject(const Project &project)
{
    const QList<QWidget *> widgets{m_cardWidth, m_cardHeight, m_sheetWidth, m_sheetHeight,
                                   m_rows,      m_columns,    m_bleed,      m_bleedGuide};
    std::vector<QSignalBlocker> blockers;
    blockers.reserve(widgets.size());
    for (QWidget *widget : widgets)
        blockers.emplace_back(widget);

    m_cardWidth->setValue(project.cardWidthMm);
    m_cardHeight->setValue(project.cardHeightMm);
    // The range first: the stored bleed would otherwise be clamped to the
    // previous project's card.
    m_bleed->setMaximum(bleedMaximumMm(m_cardWidth->value(), m_cardHeight->value()));
    m_bleed->setValue(project.bleedMm);
    m_bleedGuide->setChecked(project.showBleed);
    m_sheetWidth->setValue(project.paperWidthMm);
    m_sheetHeight->setValue(project.paperHeightMm);
    m_rows->setValue(project.rows);
    m_columns->setValue(project.columns);
    setDuplexChecked(project.duplex);
    m_savedSettings = Project{};
    storeSettings(&m_savedSettings);
    updateFitWarning();
}

void ProjectPanel::storeSettings(Project *project) const
{
    project->cardWidthMm = m_cardWidth->value();
    project->cardHeightMm = m_cardHeight->value();
    project->paperWidthMm = m_sheetWidth->value();
    project->paperHeightMm = m_sheetHeight->value();
    project->rows = m_rows->value();
    project->columns = m_columns->value();
    project->bleedMm = m_bleed->value();
    project->showBleed = m_bleedGuide->isChecked();
}

void ProjectPanel::storeEditedSettings(Project *project) const
{
    Project shown;
    storeSettings(&shown);
    const auto takeEdited = [&](auto Project::*setting) {
        if (shown.*setting != m_savedSettings.*setting)
            project->*setting = shown.*setting;
    };
    takeEdited(&Project::cardWidthMm);
    takeEdited(&Project::cardHeightMm);
    takeEdited(&Project::paperWidthMm);
    takeEdited(&Project::paperHeightMm);
    takeEdited(&Project::rows);
    takeEdited(&Project::columns);
    takeEdited(&Project::bleedMm);
    takeEdited(&Project::showBleed);
}

bool ProjectPanel::hasUnsavedChanges() const
{
    // Both snapshots come from storeSettings on a blank project, so they
    // differ only in the settings the panel holds.
    Project shown;
    storeSettings(&shown);
    if (!(shown == m_savedSettings))
        return true;
    return m_nameTyped && m_typedName.trimmed() != m_savedName.trimmed();
}

QString ProjectPanel::editedName() const
{
    return m_nameTyped ? m_typedName : m_savedName;
}

void ProjectPanel::markSaved()
{
    m_savedSettings = Project{};
    storeSettings(&m_savedSettings);
    m_savedName = editedName().trimmed();
    m_typedName.clear();
    m_nameTyped = false;
}

void ProjectPanel::setDuplexChecked(bool duplex)
{
    (duplex ? m_duplexButton : m_singleButton)->setChecked(true);
}

bool ProjectPanel::useInches() const
{
    return m_unitsCombo->currentData().toBool();
}

void ProjectPanel::setUseInches(bool useInches)
{
    {
        const QSignalBlocker blocker(m_unitsCombo);
        m_unitsCombo->setCurrentIndex(m_unitsCombo->findData(useInches));
    }
    updateFitWarning();
}

QList<UnitSpinBox *> ProjectPanel::unitSpinBoxes() const
{
    return {m_cardWidth, m_cardHeight, m_bleed, m_sheetWidth, m_sheetHeight};
}
