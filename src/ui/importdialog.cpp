#include "ui/importdialog.h"

#include "import/tablereader.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The encoding and the delimiter as the choices name them.
QString formatText(const CsvFormat &format)
{
    const QString delimiter = format.delimiter == u';'    ? ImportDialog::tr("Semicolon (;)")
                              : format.delimiter == u'\t' ? ImportDialog::tr("Tab")
                                                          : ImportDialog::tr("Comma (,)");
    return ImportDialog::tr("%1, %2").arg(format.encoding, delimiter);
}

} // namespace

ImportDialog::ImportDialog(const QString &filePath, const QList<WorksheetEntry> &worksheets,
                           QWidget *parent)
    : QDialog(parent)
    , m_filePath(filePath)
    , m_excel(isWorkbookPath(filePath))
{
    setWindowTitle(tr("Import Options and Preview"));
    resize(820, 520);

    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(
        tr("Confirm the worksheet or CSV format below. The first row is imported as field names."),
        this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto *form = new QFormLayout;
    if (m_excel) {
        m_worksheet = new QComboBox(this);
        // The item data is the sheet's name, which the data source stores.
        for (const WorksheetEntry &sheet : worksheets)
            m_worksheet->addItem(worksheetLabel(sheet), sheet.name);
        m_worksheet->setCurrentIndex(int(defaultWorksheetIndex(worksheets)));
        m_worksheet->setAccessibleName(tr("Worksheet"));
        form->addRow(tr("Worksheet"), m_worksheet);
    } else {
        // The item data is what the data source stores.
        m_encoding = new QComboBox(this);
        m_encoding->addItem(tr("Auto detect"), QStringLiteral("auto"));
        m_encoding->addItem(tr("UTF-8"), QStringLiteral("utf-8"));
        m_encoding->addItem(tr("Windows-1252"), QStringLiteral("windows-1252"));
        m_encoding->setAccessibleName(tr("Encoding"));
        form->addRow(tr("Encoding"), m_encoding);

        m_delimiter = new QComboBox(this);
        m_delimiter->addItem(tr("Auto detect"), QStringLiteral("auto"));
        m_delimiter->addItem(tr("Comma (,)"), QStringLiteral("comma"));
        m_delimiter->addItem(tr("Semicolon (;)"), QStringLiteral("semicolon"));
        m_delimiter->addItem(tr("Tab"), QStringLiteral("tab"));
        m_delimiter->setAccessibleName(tr("Delimiter"));
        form->addRow(tr("Delimiter"), m_delimiter);

        // "Auto detect" alone would not say what was detected.
        m_format = new QLabel(this);
        m_format->setObjectName(QStringLiteral("format"));
        m_format->setAccessibleName(tr("Format read"));
        m_format->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
        form->addRow(tr("Read as"), m_format);
    }
    layout->addLayout(form);

    m_preview = new QTableWidget(this);
    m_preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_preview->setAlternatingRowColors(true);
    m_preview->verticalHeader()->setVisible(false);
    m_preview->setAccessibleName(tr("Preview of the first rows"));
    layout->addWidget(m_preview, 1);

    m_hint = new QLabel(this);
    m_hint->setObjectName(QStringLiteral("hint"));
    m_hint->setWordWrap(true);
    layout->addWidget(m_hint);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_importButton = buttons->button(QDialogButtonBox::Ok);
    m_importButton->setText(tr("Import Data"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    // Connected only now, so that filling the choices reads nothing.
    for (QComboBox *choice : {m_worksheet, m_encoding, m_delimiter}) {
        if (choice) {
            connect(choice, &QComboBox::currentIndexChanged, this,
                    &ImportDialog::updateImportPreview);
        }
    }
    updateImportPreview();
}

DataSourceOptions ImportDialog::options() const
{
    DataSourceOptions options;
    if (m_excel) {
        options.worksheetName = m_worksheet->currentData().toString();
    } else {
        options.csvEncoding = m_encoding->currentData().toString();
        options.csvDelimiter = m_delimiter->currentData().toString();
    }
    return options;
}

void ImportDialog::updateImportPreview()
{
    QStringList header;
    QList<QStringList> rows;
    QString error;
    CsvFormat format;
    bool read = false;
    {
        // The first rows of a file with huge rows can take a moment, and the
        // dialog may not be shown yet.
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        read = m_excel ? readTableFile(m_filePath, options(), &header, &rows, &error, kPreviewRows)
                       : readCsvFile(m_filePath, options(), &header, &rows, &error, kPreviewRows, &format);
    }
    if (m_format)
        m_format->setText(read ? formatText(format) : QString());
    if (!read) {
        m_preview->clear();
        m_preview->setRowCount(0);
        m_preview->setColumnCount(0);
        m_hint->setText(error);
        m_importButton->setEnabled(false);
        return;
    }

    m_preview->clear();
    m_preview->setColumnCount(int(header.size()));
    m_preview->setHorizontalHeaderLabels(header);
    m_preview->setRowCount(int(rows.size()));
    for (int row = 0; row < rows.size(); ++row) {
        const QStringList &cells = rows.at(row);
        // Cells beyond the header have no column to go to; short rows stay blank.
        const int shown = int(std::min(cells.size(), header.size()));
        for (int column = 0; column < shown; ++column)
            m_preview->setItem(row, column, new QTableWidgetItem(cells.at(column)));
    }
    m_preview->resizeColumnsToContents();

    m_hint->setText(rows.size() == kPreviewRows
                        ? tr("Previewing the first %1 rows. The full file will be imported after "
                             "confirmation.")
                              .arg(kPreviewRows)
                        : tr("%1 data rows shown").arg(rows.size()));
    m_importButton->setEnabled(true);
}
