// Variable data: the data page's operations (import, open, remove, the table
// of a file's rows), the combined card records, and the live re-read of the
// data files when they change on disk.
#include "ui/mainwindow.h"

#include "import/tablereader.h"
#include "ui/datapage.h"
#include "ui/datasync.h"
#include "ui/dialogs.h"
#include "ui/importdialog.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTabWidget>
#include <QUrl>

#include <optional>

namespace {
// The data table shows at most this many stored rows; the label says so.
constexpr int kTableRowLimit = 1000;
}

void MainWindow::connectDataPage()
{
    connect(m_dataPage, &DataPage::importRequested, this, &MainWindow::importCsv);
    connect(m_dataPage, &DataPage::openRequested, this, &MainWindow::openCurrentDataSource);
    connect(m_dataPage, &DataPage::removeRequested, this, &MainWindow::removeCurrentDataSource);
    connect(m_dataPage, &DataPage::currentSourceChanged, this,
            &MainWindow::currentDataSourceChanged);
}

const DataSource *MainWindow::currentDataSource() const
{
    const qint64 id = m_dataPage->currentSourceId();
    for (const DataSource &source : m_session.dataSources()) {
        if (source.id == id)
            return &source;
    }
    return nullptr;
}

void MainWindow::refreshDataSources(qint64 selectId)
{
    QString error;
    if (!m_session.reloadDataSources(&error)) {
        statusBar()->showMessage(tr("Could not read data sources: %1").arg(error), 8000);
        return;
    }
    if (selectId <= 0)
        selectId = m_dataPage->currentSourceId();
    m_dataSync->setSources(m_session.dataSources());
    m_dataPage->setSources(m_session.dataSources(), selectId);
}

void MainWindow::fillDataTable()
{
    const qint64 id = m_dataPage->currentSourceId();
    if (id <= 0) {
        m_dataPage->clearRecords();
        return;
    }
    QStringList columns;
    QString error;
    const QList<DataRecord> records =
        m_store.loadDataSourceRecords(id, &columns, kTableRowLimit, &error);
    if (!error.isEmpty()) {
        statusBar()->showMessage(tr("Could not read the data file: %1").arg(error), 8000);
        return;
    }
    m_dataPage->showRecords(columns, records);
}

void MainWindow::currentDataSourceChanged()
{
    fillDataTable();
    if (m_session.dataSources().isEmpty()) {
        m_dataPage->setStatus(tr("Live data source: not connected"), QString());
        return;
    }
    const DataSource *source = currentDataSource();
    const int rows = source ? m_store.countDataSourceRecords(source->id) : 0;
    const QString limited =
        rows > kTableRowLimit ? tr(" · table preview limited to 1,000 rows") : QString();
    m_dataPage->setStatus(tr("Live data sources: %1 files · current file: %2 rows%3")
                              .arg(m_session.dataSources().size())
                              .arg(rows)
                              .arg(limited),
                          source ? source->filePath : QString());
}

void MainWindow::reloadProjectData()
{
    QString error;
    if (!m_session.reloadCardRecords(&error)) {
        m_dialogs->critical(this, tr("Data Read Failed"), error);
        return;
    }
    refreshDataSources();
    fillDataTable();
    showCardRecordsOnCanvas();
}

void MainWindow::openCurrentDataSource()
{
    const DataSource *source = currentDataSource();
    if (!source)
        return;
    const QString title = tr("Unable to open file");
    if (!QFileInfo::exists(source->filePath)) {
        m_dialogs->critical(this, title,
                            tr("File does not exist or is not accessible:\n%1")
                                .arg(QDir::toNativeSeparators(source->filePath)));
        return;
    }
    if (!m_dialogs->openUrl(QUrl::fromLocalFile(source->filePath)))
        m_dialogs->critical(this, title, tr("No application is available to open this file."));
}

void MainWindow::importCsv()
{
    const QString path = m_dialogs->getOpenFileName(
        this, tr("Import Variable Data"), QString(),
        tr("Variable Data (*.xlsx *.xlsm *.csv);;Excel Workbook (*.xlsx *.xlsm);;CSV File "
           "(*.csv);;All Files (*.*)"));
    if (path.isEmpty())
        return;

    QStringList worksheets;
    if (ImportDialog::isExcelFile(path)) {
        QString error;
        {
            // Nothing is on screen yet to say that the workbook is being read.
            QApplication::setOverrideCursor(Qt::WaitCursor);
            const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
            worksheets = listWorksheetNames(path, &error);
        }
        if (worksheets.isEmpty()) {
            m_dialogs->critical(this, tr("Excel workbook could not be read"), error);
            return;
        }
    }
    DataSourceOptions options;
    {
        ImportDialog dialog(path, worksheets, this);
        if (m_dialogs->execImportDialog(dialog) != QDialog::Accepted)
            return;
        options = dialog.options();
    }

    std::optional<DataSource> source;
    QString error;
    {
        QProgressDialog progress(tr("Importing and indexing variable data…"), QString(), 0, 0,
                                 this);
        progress.setWindowTitle(tr("Importing Data"));
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(300);
        progress.setValue(0);
        // The one chance for the progress window to be drawn before the work.
        QCoreApplication::processEvents();
        // The event loop does not run during the import, so the progress
        // window may never appear; the cursor shows the wait either way.
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        source = m_store.upsertDataSource(m_session.project().id, path, options, &error);
    }
    if (!source) {
        m_dialogs->critical(this, tr("Variable data import failed"), error);
        return;
    }

    if (m_session.project().dataSourcePath.isEmpty())
        setLiveDataSource(source->filePath, true);
    refreshDataSources(source->id);
    followDataSourceChange();
    m_pageTabs->setCurrentIndex(0);
    statusBar()->showMessage(tr("Added data file: %1").arg(source->displayName), 5000);
}

void MainWindow::removeCurrentDataSource()
{
    const DataSource *selected = currentDataSource();
    if (!selected)
        return;
    const DataSource source = *selected;

    const auto answer = m_dialogs->question(
        this, tr("Remove Data File"),
        tr("Remove “%1” from the project?\nThe original file on disk will not be deleted.")
            .arg(source.displayName),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;

    QString error;
    if (!m_store.deleteDataSource(source.id, &error)) {
        m_dialogs->critical(this, tr("Remove failed"), error);
        return;
    }

    refreshDataSources();
    m_session.project().dataSourcePath = m_session.dataSources().isEmpty() ? QString() : m_session.dataSources().first().filePath;
    const bool saved = saveCurrentProject(&error);
    followDataSourceChange();
    if (saved) {
        statusBar()->showMessage(tr("Data file removed from project"), 4000);
    } else {
        // The source is gone either way; what the user must know is that the
        // project still names the removed file until the next save.
        statusBar()->showMessage(tr("Could not save data-source settings: %1").arg(error), 8000);
    }
}

// After a file was added or removed: the sync starts from the files as they
// are now, and the table, the cards and the preview show the new set.
void MainWindow::followDataSourceChange()
{
    m_dataSync->storeSignature();
    m_dataSync->renewWatcher();
    m_dataSync->updatePolling();
    currentDataSourceChanged();
    reloadProjectData();
    refreshPreview();
}

void MainWindow::setLiveDataSource(const QString &path, bool save)
{
    m_session.project().dataSourcePath = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    if (save) {
        QString error;
        if (!saveCurrentProject(&error)) {
            statusBar()->showMessage(tr("Could not save data-source settings: %1").arg(error),
                                     8000);
        }
    }

    refreshDataSources();
    m_dataSync->storeSignature();
    m_dataSync->clearRetries();
    m_dataSync->renewWatcher();

    if (m_session.dataSources().isEmpty()) {
        m_dataPage->setStatus(tr("Live data source: not connected"), QString());
    } else {
        m_dataPage->setStatus(
            tr("Live data sources: %1 files (save the workbook to refresh data)")
                .arg(m_session.dataSources().size()),
            m_session.dataSources().first().filePath);
    }
    m_dataSync->updatePolling();
}

void MainWindow::syncDataSources()
{
    const QList<DataSource> sources = m_dataSync->sources();
    if (sources.isEmpty())
        return;

    // A file being saved is often briefly gone (written to a temporary name,
    // then renamed); its stored rows stay until it is back.
    if (m_dataSync->anyFileMissing()) {
        if (!m_dataSync->retryLater()) {
            statusBar()->showMessage(tr("The data-source file is temporarily unavailable."),
                                     8000);
        }
        return;
    }

    if (!m_dataSync->fileChanged() && !m_dataSync->signatureChanged()) {
        m_dataSync->renewWatcher();
        return;
    }

    for (const DataSource &source : sources) {
        QString error;
        // A failed re-read keeps the source's previous rows; a half-written
        // file usually reads on a later attempt.
        if (!m_store.reloadDataSource(source.id, &error)) {
            if (!m_dataSync->retryLater()) {
                statusBar()->showMessage(tr("Could not refresh data: %1").arg(error), 10000);
                m_dataSync->renewWatcher();
            }
            return;
        }
    }

    m_dataSync->clearRetries();
    m_dataSync->storeSignature();
    m_dataSync->renewWatcher();
    reloadProjectData();
    // The row count in the status line follows the re-read file.
    currentDataSourceChanged();
    refreshPreview();
    statusBar()->showMessage(tr("Excel/CSV auto-synced: %1 records").arg(m_session.cardRecords().size()),
                             5000);
}
