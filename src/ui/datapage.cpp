#include "ui/datapage.h"

#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

DataPage::DataPage(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("dataPage"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setSpacing(10);

    auto *titleRow = new QHBoxLayout;
    auto *title = new QLabel(tr("Variable Data"), this);
    title->setObjectName(QStringLiteral("pageTitle"));
    titleRow->addWidget(title);
    titleRow->addStretch(1);
    m_addButton = new QPushButton(tr("Add Excel / CSV"), this);
    m_addButton->setObjectName(QStringLiteral("primaryButton"));
    titleRow->addWidget(m_addButton);
    layout->addLayout(titleRow);

    auto *hint = new QLabel(tr("Add multiple Excel/CSV files; rows are combined by row number into "
                               "one card batch, with the first row used as field names."),
                            this);
    hint->setObjectName(QStringLiteral("hint"));
    hint->setWordWrap(true);
    layout->addWidget(hint);

    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(new QLabel(tr("Data File"), this));
    m_sourceCombo = new QComboBox(this);
    m_sourceCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_sourceCombo->setMinimumContentsLength(20);
    fileRow->addWidget(m_sourceCombo, 1);
    m_openButton = new QPushButton(tr("Open File"), this);
    fileRow->addWidget(m_openButton);
    m_removeButton = new QPushButton(tr("Remove"), this);
    fileRow->addWidget(m_removeButton);
    layout->addLayout(fileRow);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("backgroundStatus"));
    m_status->setWordWrap(true);
    layout->addWidget(m_status);

    m_table = new QTableWidget(this);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setAlternatingRowColors(true);
    m_table->verticalHeader()->setVisible(false);
    layout->addWidget(m_table, 1);

    connect(m_addButton, &QPushButton::clicked, this, &DataPage::importRequested);
    connect(m_openButton, &QPushButton::clicked, this, &DataPage::openRequested);
    connect(m_removeButton, &QPushButton::clicked, this, &DataPage::removeRequested);
    connect(m_sourceCombo, &QComboBox::currentIndexChanged, this, [this] {
        updateButtons();
        emit currentSourceChanged();
    });
    updateButtons();
}

void DataPage::setSources(const QList<DataSource> &sources, qint64 selectId)
{
    {
        const QSignalBlocker blocker(m_sourceCombo);
        m_sourceCombo->clear();
        for (const DataSource &source : sources) {
            m_sourceCombo->addItem(tr("%1  —  %2")
                                       .arg(source.displayName,
                                            QDir::toNativeSeparators(source.filePath)),
                                   source.id);
            m_sourceCombo->setItemData(m_sourceCombo->count() - 1, source.filePath,
                                       Qt::ToolTipRole);
        }
        const int index = m_sourceCombo->findData(selectId);
        m_sourceCombo->setCurrentIndex(index >= 0 ? index : (sources.isEmpty() ? -1 : 0));
    }
    updateButtons();
}

qint64 DataPage::currentSourceId() const
{
    return m_sourceCombo->currentIndex() < 0 ? 0 : m_sourceCombo->currentData().toLongLong();
}

void DataPage::showRecords(const QStringList &columns, const QList<DataRecord> &records)
{
    m_table->setUpdatesEnabled(false);
    m_table->clear();
    m_table->setColumnCount(int(columns.size()) + 1);
    m_table->setHorizontalHeaderLabels(QStringList{QStringLiteral("#")} + columns);
    m_table->setRowCount(int(records.size()));
    for (int row = 0; row < records.size(); ++row) {
        const DataRecord &record = records.at(row);
        m_table->setItem(row, 0, new QTableWidgetItem(QString::number(record.sortIndex + 1)));
        for (int column = 0; column < columns.size(); ++column) {
            const QString text = record.values.value(columns.at(column)).toVariant().toString();
            m_table->setItem(row, column + 1, new QTableWidgetItem(text));
        }
    }
    m_table->resizeColumnsToContents();
    m_table->setUpdatesEnabled(true);
}

void DataPage::clearRecords()
{
    m_table->clear();
    m_table->setRowCount(0);
    m_table->setColumnCount(0);
}

void DataPage::setStatus(const QString &text, const QString &toolTip)
{
    m_status->setText(text);
    m_status->setToolTip(toolTip);
}

void DataPage::updateButtons()
{
    const bool selected = m_sourceCombo->currentIndex() >= 0;
    m_openButton->setEnabled(selected);
    m_removeButton->setEnabled(selected);
}
