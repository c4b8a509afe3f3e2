// Variable data: the data page's operations (import, open, remove, the table
// of a file's rows), the combined card records, and the live re-read of the
// data files when they change on disk. Imports and re-reads run off the
// window's thread, in DataImportRunner.
#include "ui/mainwindow.h"

#include "import/tablereader.h"
#include "ui/dataimportrunner.h"
#include "ui/datapage.h"
#include "ui/datasync.h"
#include "ui/dialogs.h"
#include "ui/importdialog.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTabWidget>
#include <QUrl>

namespace {
// The data table shows at most this many stored rows; the label says so.
constexpr int kTableRowLimit = 1000;

const DataSource *findSource(const QList<DataSource> &sources, qint64 id)
{
    for (const DataSource &source : sources) {
        if (source.id == id)
            return &source;
    }
    return nullptr;
}

// The selected file's stored rows, at most kTableRowLimit of them.
void fillDataTable(ProjectStore &store, DataPage *page, QStatusBar *status)
{
    const qint64 id = page->currentSourceId();
    if (id <= 0) {
        page->clearRecords();
        return;
    }
    QStringList columns;
    QString error;
    const QList<DataRecord> records = store.loadDataSourceRecords(id, &columns, kTableRowLimit, &error);
    if (!error.isEmpty()) {
        status->showMessage(QCoreApplication::translate("MainWindow", "Could not read the data file: %1").arg(error),
                            8000);
        return;
    }
    page->showRecords(columns, records);
}
}

void MainWindow::connectDataPage()
{
    connect(m_dataPage, &DataPage::importRequested, this, &MainWindow::importCsv);
    connect(m_dataPage, &DataPage::openRequested, this, &MainWindow::openCurrentDataSource);
    connect(m_dataPage, &DataPage::removeRequested, this, &MainWindow::removeCurrentDataSource);
    connect(m_dataPage, &DataPage::currentSourceChanged, this,
            &MainWindow::currentDataSourceChanged);

    m_dataImport = new DataImportRunner(m_store.database().databaseName(), m_dataSync, this);
    connect(m_dataImport, &DataImportRunner::statusMessage, statusBar(), &QStatusBar::showMessage);
    connect(m_dataImport, &DataImportRunner::sourcesRefreshed, this, [this] {
        reloadProjectData();
        // The row count in the status line follows the re-read file.
        currentDataSourceChanged();
        refreshPreview();
        statusBar()->showMessage(tr("Excel/CSV auto-synced: %1 records").arg(m_session.cardRecords().size()),
                                 5000);
    });
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

void MainWindow::currentDataSourceChanged()
{
    fillDataTable(m_store, m_dataPage, statusBar());
    if (m_session.dataSources().isEmpty()) {
        m_dataPage->setStatus(tr("Live data source: not connected"), QString());
        return;
    }
    const DataSource *source = findSource(m_session.dataSources(), m_dataPage->currentSourceId());
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
    fillDataTable(m_store, m_dataPage, statusBar());
    showCardRecordsOnCanvas();
}

void MainWindow::openCurrentDataSource()
{
    const DataSource *source = findSource(m_session.dataSources(), m_dataPage->currentSourceId());
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

    QList<WorksheetEntry> worksheets;
    if (isWorkbookPath(path)) {
        QString error;
        {
            // Nothing is on screen yet to say that the workbook is being read.
            QApplication::setOverrideCursor(Qt::WaitCursor);
            const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
            worksheets = listWorksheets(path, &error);
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

    const QPointer<MainWindow> alive(this);
    const DataImportOutcome outcome = m_dataImport->importFile(m_session.project().id, path, options);
    // Destroyed meanwhile, or showing another project: nothing here to update.
    if (!alive || outcome.projectId != m_session.project().id)
        return;
    if (outcome.status == DataImportOutcome::Status::Cancelled) {
        statusBar()->showMessage(tr("Import cancelled; the project's data is unchanged"), 5000);
        return;
    }
    if (outcome.status == DataImportOutcome::Status::Failed) {
        m_dialogs->critical(this, tr("Variable data import failed"), outcome.error);
        return;
    }

    const DataSource source = *outcome.source;
    if (m_session.project().dataSourcePath.isEmpty())
        setLiveDataSource(source.filePath, true);
    refreshDataSources(source.id);
    followDataSourceChange();
    m_pageTabs->setCurrentIndex(0);
    statusBar()->showMessage(tr("Added data file: %1").arg(source.displayName), 5000);
}

void MainWindow::removeCurrentDataSource()
{
    const DataSource *selected = findSource(m_session.dataSources(), m_dataPage->currentSourceId());
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
    m_dataImport->setOpenProject(m_session.project().id);
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
    m_dataImport->syncSources(m_session.project().id);
}
