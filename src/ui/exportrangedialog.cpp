#include "ui/exportrangedialog.h"

#include "render/pdfexport.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace {

// A spin box or line edit beside a radio button or check box names itself by
// its tool tip, which says what it holds.
template<typename Control>
Control *namedControl(Control *control, const QString &toolTip)
{
    control->setToolTip(toolTip);
    control->setAccessibleName(toolTip);
    return control;
}

// "N sheets (M pages)", with ", K files" when the sheets are split into files
// of `sheetsPerFile`; singular for one.
QString exportRangeSummary(int sheets, bool duplex, int sheetsPerFile)
{
    const int pages = sheets * (duplex ? 2 : 1);
    QString text = (sheets == 1 ? ExportRangeDialog::tr("1 sheet") : ExportRangeDialog::tr("%1 sheets").arg(sheets))
                   + QStringLiteral(" (")
                   + (pages == 1 ? ExportRangeDialog::tr("1 page") : ExportRangeDialog::tr("%1 pages").arg(pages))
                   + u')';
    if (sheetsPerFile > 0) {
        const int files = int((qint64(sheets) + sheetsPerFile - 1) / sheetsPerFile);
        text += QStringLiteral(", ")
                + (files == 1 ? ExportRangeDialog::tr("1 file") : ExportRangeDialog::tr("%1 files").arg(files));
    }
    return text;
}

} // namespace

ExportRangeDialog::ExportRangeDialog(const PdfExportJob &job, const PrintChoice &choice, QWidget *parent)
    : QDialog(parent)
    , m_layout(job.layout)
    , m_cutStack(job.cutStack)
    , m_duplex(job.duplex)
{
    setWindowTitle(tr("Export Range"));
    const int sheetCount = std::max(m_layout.sheetCount(), 1);

    auto *layout = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    grid->setColumnStretch(4, 1);

    m_allCards = new QRadioButton(tr("All cards"), this);
    m_cards = new QRadioButton(tr("Cards…"), this);
    m_sheets = new QRadioButton(tr("Sheets from"), this);
    auto *modes = new QButtonGroup(this);
    for (QRadioButton *button : {m_allCards, m_cards, m_sheets}) {
        button->setAccessibleName(button->text());
        modes->addButton(button);
    }

    m_cardList = namedControl(new QLineEdit(this), tr("Card numbers and ranges, as the preview labels the cards"));
    m_cardList->setPlaceholderText(tr("17, 230-240, 1001"));

    m_firstSheet = namedControl(new QSpinBox(this), tr("First sheet"));
    m_lastSheet = namedControl(new QSpinBox(this), tr("Last sheet"));
    for (QSpinBox *box : {m_firstSheet, m_lastSheet})
        box->setRange(1, sheetCount);
    m_firstSheet->setValue(1);
    m_lastSheet->setValue(sheetCount);
    auto *to = new QLabel(tr("to"), this);
    to->setBuddy(m_lastSheet);

    m_split = new QCheckBox(tr("Split every"), this);
    m_split->setAccessibleName(m_split->text());
    m_sheetsPerFile = namedControl(new QSpinBox(this), tr("Sheets per file"));
    // Up to the job's sheet count: any more writes one file just the same.
    m_sheetsPerFile->setRange(1, sheetCount);
    m_sheetsPerFile->setValue(std::min(sheetCount, 100));
    auto *sheetsUnit = new QLabel(tr("sheets"), this);
    sheetsUnit->setBuddy(m_sheetsPerFile);

    grid->addWidget(m_allCards, 0, 0, 1, 5);
    grid->addWidget(m_cards, 1, 0);
    grid->addWidget(m_cardList, 1, 1, 1, 4);
    grid->addWidget(m_sheets, 2, 0);
    grid->addWidget(m_firstSheet, 2, 1);
    grid->addWidget(to, 2, 2);
    grid->addWidget(m_lastSheet, 2, 3);
    grid->addWidget(m_split, 3, 0);
    grid->addWidget(m_sheetsPerFile, 3, 1);
    grid->addWidget(sheetsUnit, 3, 2, 1, 3);
    layout->addLayout(grid);

    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("exportRangeSummary"));
    m_summary->setWordWrap(true);
    m_summary->setTextFormat(Qt::PlainText);
    layout->addWidget(m_summary);

    auto *buttons = new QDialogButtonBox(this);
    m_export = buttons->addButton(tr("Export…"), QDialogButtonBox::AcceptRole);
    m_preview = buttons->addButton(tr("Show in Preview"), QDialogButtonBox::ActionRole);
    m_cancel = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    for (QPushButton *button : {m_export, m_preview, m_cancel})
        button->setAccessibleName(button->text());
    m_export->setDefault(true);
    layout->addWidget(buttons);

    showChoice(choice);

    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (m_error.isEmpty())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_preview, &QPushButton::clicked, this, [this] {
        if (m_error.isEmpty())
            done(ShowInPreview);
    });
    for (QRadioButton *button : {m_allCards, m_cards, m_sheets})
        connect(button, &QRadioButton::toggled, this, &ExportRangeDialog::updateState);
    connect(m_split, &QCheckBox::toggled, this, &ExportRangeDialog::updateState);
    connect(m_cardList, &QLineEdit::textChanged, this, &ExportRangeDialog::updateState);
    for (QSpinBox *box : {m_firstSheet, m_lastSheet, m_sheetsPerFile})
        connect(box, &QSpinBox::valueChanged, this, &ExportRangeDialog::updateState);
}

void ExportRangeDialog::showChoice(const PrintChoice &choice)
{
    switch (choice.mode) {
    case PrintChoice::Mode::AllCards:
        m_allCards->setChecked(true);
        break;
    case PrintChoice::Mode::Cards:
        m_cards->setChecked(true);
        break;
    case PrintChoice::Mode::Sheets:
        m_sheets->setChecked(true);
        break;
    }
    m_cardList->setText(choice.cards);
    // A kept range read without the job's limit: the boxes hold it to the
    // sheets there are now, and the line below tells what that writes.
    const SheetRange range = parseSheetRange(choice.sheets, INT_MAX);
    if (range.error.isEmpty()) {
        m_firstSheet->setValue(range.first + 1);
        m_lastSheet->setValue(range.last + 1);
    }
    m_split->setChecked(choice.sheetsPerFile > 0);
    if (choice.sheetsPerFile > 0)
        m_sheetsPerFile->setValue(choice.sheetsPerFile);
    updateState();
}

PrintChoice ExportRangeDialog::choice() const
{
    PrintChoice choice;
    if (m_cards->isChecked())
        choice.mode = PrintChoice::Mode::Cards;
    else if (m_sheets->isChecked())
        choice.mode = PrintChoice::Mode::Sheets;
    choice.cards = m_cardList->text();
    choice.sheets = QStringLiteral("%1-%2").arg(m_firstSheet->value()).arg(m_lastSheet->value());
    choice.sheetsPerFile = m_split->isChecked() ? m_sheetsPerFile->value() : 0;
    return choice;
}

void ExportRangeDialog::updateState()
{
    m_cardList->setEnabled(m_cards->isChecked());
    m_firstSheet->setEnabled(m_sheets->isChecked());
    m_lastSheet->setEnabled(m_sheets->isChecked());
    m_sheetsPerFile->setEnabled(m_split->isChecked());

    const PrintChoice chosen = choice();
    PdfExportJob job;
    job.layout = m_layout;
    job.cutStack = m_cutStack;
    job.duplex = m_duplex;
    m_error = applyPrintChoice(chosen, job);
    if (m_error.isEmpty()) {
        m_summary->setText(exportRangeSummary(int(printedSheets(job).size()), m_duplex, chosen.sheetsPerFile));
        m_summary->setStyleSheet(QString());
    } else {
        m_summary->setText(m_error);
        m_summary->setStyleSheet(QStringLiteral("color: #b91c1c;"));
    }
    m_summary->setAccessibleName(m_summary->text());
    m_export->setEnabled(m_error.isEmpty());
    m_preview->setEnabled(m_error.isEmpty());
}
