#include "ui/canvas/prizeeditor.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {


QString countText(double value)
{
    // Rounded half away from zero, as counts are read when allocating. Beyond
    // 2^53 a double holds whole numbers only, and llround could overflow.
    if (std::abs(value) < 9.0e15)
        return QString::number(std::llround(value));
    return QString::number(value, 'f', 0);
}

QString percentageText(double value)
{
    QString text = QString::number(value, 'f', 4);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

double cellValue(const QTableWidgetItem *item)
{
    const QString text = item ? item->text().trimmed() : QString();
    if (text.isEmpty())
        return -1;
    bool ok = false;
    double value = QLocale::c().toDouble(text, &ok);
    if (!ok)
        value = QLocale().toDouble(text, &ok);
    // Not-a-number or an infinity would be written to JSON as null; like any
    // other unreadable entry they fail validation as −1.
    if (!ok || !std::isfinite(value))
        return -1;
    return value;
}

} // namespace

PrizeEditor::PrizeEditor(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    m_mode = new QComboBox(this);
    m_mode->addItem(tr("By Card Count"), int(ScratchMode::Count));
    m_mode->addItem(tr("By Percentage"), int(ScratchMode::Ratio));
    // The combo sits first on the "Prize Settings" row and has no label of its own.
    m_mode->setAccessibleName(tr("Prize Settings"));
    layout->addWidget(m_mode);

    m_totalLabel = new QLabel(tr("Total Card Count"), this);
    m_total = new QSpinBox(this);
    m_total->setRange(1, 10000000);
    m_total->setValue(10000);
    m_total->setKeyboardTracking(false);
    m_total->setAccessibleName(m_totalLabel->text());
    m_totalLabel->setBuddy(m_total);
    auto *totalRow = new QHBoxLayout;
    totalRow->setSpacing(6);
    totalRow->addWidget(m_totalLabel);
    totalRow->addWidget(m_total, 1);
    layout->addLayout(totalRow);

    m_table = new QTableWidget(0, 2, this);
    m_table->setMinimumHeight(112);
    m_table->setMaximumHeight(180);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    layout->addWidget(m_table);

    m_addButton = new QPushButton(tr("Add Prize"), this);
    m_removeButton = new QPushButton(tr("Remove Prize"), this);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(m_addButton);
    buttons->addWidget(m_removeButton);
    layout->addLayout(buttons);

    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("prizeSummary"));
    m_summary->setWordWrap(true);
    layout->addWidget(m_summary);

    showMode(false);

    connect(m_mode, &QComboBox::currentIndexChanged, this, [this] {
        if (m_filling)
            return;
        showMode(mode() == ScratchMode::Ratio);
        edited();
    });
    connect(m_total, &QSpinBox::valueChanged, this, &PrizeEditor::edited);
    connect(m_table, &QTableWidget::itemChanged, this, &PrizeEditor::edited);
    connect(m_addButton, &QPushButton::clicked, this, &PrizeEditor::addPrize);
    connect(m_removeButton, &QPushButton::clicked, this, &PrizeEditor::removePrize);
}

void PrizeEditor::showSettings(const TemplateField &field)
{
    if (m_shown) {
        TemplateField onShow = field;
        storeSettings(&onShow);
        if (onShow.scratchMode == field.scratchMode && onShow.scratchTotal == field.scratchTotal
            && onShow.scratchPrizesJson == field.scratchPrizesJson) {
            if (m_fieldId != field.id) {
                m_fieldId = field.id;
                updateSummary();
            }
            return;
        }
    }

    m_filling = true;
    m_shown = true;
    m_fieldId = field.id;
    const bool ratio = field.scratchMode == ScratchMode::Ratio;
    m_mode->setCurrentIndex(ratio ? 1 : 0);
    m_total->setValue(std::max(field.scratchTotal, 1));
    showMode(ratio);
    fillTable(parsePrizes(field.scratchPrizesJson).prizes, ratio);
    m_filling = false;
    updateSummary();
    updateRemoveEnabled();
}

void PrizeEditor::storeSettings(TemplateField *field) const
{
    field->scratchMode = mode();
    field->scratchTotal = m_total->value();
    field->scratchPrizesJson = serializePrizes(prizes());
}

ScratchMode PrizeEditor::mode() const
{
    return ScratchMode(m_mode->currentData().toInt());
}

QList<Prize> PrizeEditor::prizes() const
{
    QList<Prize> result;
    result.reserve(m_table->rowCount());
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const QTableWidgetItem *name = m_table->item(row, 0);
        result.append(Prize{name ? name->text().trimmed() : QString(), cellValue(m_table->item(row, 1))});
    }
    return result;
}

void PrizeEditor::fillTable(const QList<Prize> &prizes, bool ratio)
{
    const QSignalBlocker blocker(m_table);
    m_table->setRowCount(0);
    if (prizes.isEmpty()) {
        appendRow(tr("First Prize"), ratio ? QStringLiteral("1") : QStringLiteral("2"));
        appendRow(tr("Thanks for Playing"), ratio ? QStringLiteral("99") : QStringLiteral("500"));
        return;
    }
    for (const Prize &prize : prizes)
        appendRow(prize.name, ratio ? percentageText(prize.value) : countText(prize.value));
}

void PrizeEditor::appendRow(const QString &name, const QString &value)
{
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    m_table->setItem(row, 0, new QTableWidgetItem(name));
    m_table->setItem(row, 1, new QTableWidgetItem(value));
}

void PrizeEditor::showMode(bool ratio)
{
    const QString valueHeader = ratio ? tr("Percentage %") : tr("Card Count");
    m_table->setHorizontalHeaderLabels({tr("Prize"), valueHeader});
    m_table->setAccessibleName(tr("Prize") + QStringLiteral(" / ") + valueHeader);
    // The run length only matters when the values are shares of it.
    m_totalLabel->setVisible(ratio);
    m_total->setVisible(ratio);
}

void PrizeEditor::updateSummary()
{
    const ScratchMode chosenMode = mode();
    const int total = m_total->value();
    const PrizeAllocation allocation =
        allocatePrizes(chosenMode, total, prizes(), prizeSeed(m_fieldId, total, chosenMode));
    if (allocation.ok()) {
        m_summary->setStyleSheet(QString());
        m_summary->setText(tr("Generated %1 cards. Prize order is randomized.").arg(allocation.cards.size()));
    } else {
        m_summary->setStyleSheet(QStringLiteral("color: #b91c1c;"));
        m_summary->setText(allocation.error);
    }
}

void PrizeEditor::updateRemoveEnabled()
{
    // The table never becomes empty.
    m_removeButton->setEnabled(m_table->rowCount() > 1);
}

void PrizeEditor::edited()
{
    if (m_filling)
        return;
    updateSummary();
    updateRemoveEnabled();
    emit settingsEdited();
}

void PrizeEditor::addPrize()
{
    {
        const QSignalBlocker blocker(m_table);
        appendRow(tr("New Prize"), QStringLiteral("0"));
    }
    m_table->setCurrentCell(m_table->rowCount() - 1, 0);
    edited();
}

void PrizeEditor::removePrize()
{
    const int rows = m_table->rowCount();
    if (rows <= 1)
        return;
    const int current = m_table->currentRow();
    m_table->removeRow(current >= 0 && current < rows ? current : rows - 1);
    edited();
}
