#include "scripteddialogs.h"
#include "windowfixture.h"

#include "app/dataimport.h"
#include "import/tablereader.h"
#include "store/projectstore.h"
#include "support/hostilefiles.h"
#include "ui/datapage.h"
#include "ui/datasync.h"
#include "ui/importdialog.h"
#include "ui/mainwindow.h"
#include "ui/projectpanel.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// "Name,Ticket,City" and `count` rows "Name n,T000n,City n" (n from 1).
QByteArray peopleCsv(int count, const QByteArray &delimiter = ",")
{
    QByteArray text = "Name" + delimiter + "Ticket" + delimiter + "City\n";
    for (int n = 1; n <= count; ++n) {
        text += "Name " + QByteArray::number(n) + delimiter + "T"
                + QByteArray::number(n).rightJustified(4, '0') + delimiter + "City "
                + QByteArray::number(n) + "\n";
    }
    return text;
}

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(contents) == contents.size();
}

QStringList headerLabels(const QTableWidget *table)
{
    QStringList labels;
    for (int column = 0; column < table->columnCount(); ++column)
        labels << table->horizontalHeaderItem(column)->text();
    return labels;
}

QString cell(const QTableWidget *table, int row, int column)
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QString();
}

// The message the reader gives for a file, as the window should pass it on.
QString readerMessage(const QString &path, const DataSourceOptions &options = {})
{
    QStringList header;
    QList<QStringList> rows;
    QString error;
    if (readTableFile(path, options, &header, &rows, &error, ImportDialog::kPreviewRows))
        return QString();
    return error;
}

// One trip through the live sync takes at most 800 ms of delay plus a poll of
// 1,200 ms; eleven failed attempts 600–800 ms apart take under 9 s.
constexpr int kSyncTimeoutMs = 6000;
constexpr int kRetriesTimeoutMs = 15000;

} // namespace

class TestDataPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void signature();

    void emptyProjectPage();
    void importCsvFile();
    void previewHint_data();
    void previewHint();
    void previewFollowsChoices();
    void failingPreviewDisablesImport();
    void importFailureShowsReaderMessage();
    void importOverTheLimits_data();
    void importOverTheLimits();
    void notARegularFile_data();
    void notARegularFile();
    void importExcelWorksheet();
    void hiddenWorksheetsAreMarked();
    void previewSaysHowTheFileIsRead_data();
    void previewSaysHowTheFileIsRead();
    void unreadableWorkbook();
    void reimportUpdatesOneEntry();

    void tableRowLimit_data();
    void tableRowLimit();
    void rowNumbersAreStoredPositions();

    void openCurrentDataSource_data();
    void openCurrentDataSource();
    void removeDataSources();
    void removeFailure();

    void startupAndProjectSwitch();
    void dataReadFailure();

    void syncAfterFileReplaced();
    void missingFileKeepsRows();
    void brokenFileKeepsRows();
    void pollFindsUnreportedChange();
    void unchangedFilesDoNotSync_data();
    void unchangedFilesDoNotSync();

private:
    bool startWindow();
    std::unique_ptr<ProjectStore> openStore() const;
    Project storedProject(qint64 id) const;
    QString filePath(const QString &name) const { return m_folders.files->filePath(name); }
    // Picks `path` in the file dialog; `choose` plays the options dialog
    // before it is confirmed.
    void importFile(const QString &path, const std::function<void(ImportDialog &)> &choose = {});
    QString importPeople(int rows, const QString &name = QStringLiteral("people.csv"));
    QString status() const { return m_window->statusBar()->currentMessage(); }
    DataPage *page() const { return m_window->dataPage(); }
    QTableWidget *table() const { return m_window->dataPage()->table(); }

    WindowFolders m_folders;
    std::shared_ptr<DialogScript> m_script;
    std::unique_ptr<MainWindow> m_window;
};

void TestDataPage::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestDataPage::init()
{
    QVERIFY(m_folders.create());
    m_script = std::make_shared<DialogScript>();
}

void TestDataPage::cleanup()
{
    m_window.reset();
    m_folders.remove();
}

bool TestDataPage::startWindow()
{
    return startScriptedWindow(m_window, m_script, m_folders.starter->path());
}

std::unique_ptr<ProjectStore> TestDataPage::openStore() const
{
    return openTestStore(m_folders.databasePath);
}

Project TestDataPage::storedProject(qint64 id) const
{
    return storedProjectIn(m_folders.databasePath, id);
}

void TestDataPage::importFile(const QString &path,
                              const std::function<void(ImportDialog &)> &choose)
{
    m_script->openPaths = {path};
    m_script->importDialog = [choose](ImportDialog &dialog) {
        if (choose)
            choose(dialog);
        return int(QDialog::Accepted);
    };
    m_window->importCsv();
}

QString TestDataPage::importPeople(int rows, const QString &name)
{
    const QString path = filePath(name);
    if (!writeFile(path, peopleCsv(rows)))
        return QString();
    importFile(path);
    // Callers go on from an imported file only.
    if (!status().startsWith(QStringLiteral("Added data file: ")))
        return QString();
    return path;
}

void TestDataPage::signature()
{
    const QString present = filePath(QStringLiteral("present.csv"));
    QVERIFY(writeFile(present, "Name\nAda\n"));
    const QDateTime modified = QDateTime::fromString(QStringLiteral("2024-03-01T08:30:00.250Z"),
                                                     Qt::ISODateWithMs);
    {
        QFile file(present);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    }

    DataSource first;
    first.id = 4;
    first.filePath = present;
    DataSource second;
    second.id = 9;
    second.filePath = filePath(QStringLiteral("gone.csv"));

    QCOMPARE(computeDataSourceSignature({}), QString());
    QCOMPARE(computeDataSourceSignature({first, second}),
             QStringLiteral("4:%1:9|9:missing").arg(modified.toMSecsSinceEpoch()));
    QCOMPARE(computeDataSourceSignature({second, first}),
             QStringLiteral("9:missing|4:%1:9").arg(modified.toMSecsSinceEpoch()));
}

void TestDataPage::emptyProjectPage()
{
    QVERIFY(startWindow());
    DataPage *dataPage = page();
    QCOMPARE(m_window->pageTabs()->widget(0), dataPage);

    auto *title = dataPage->findChild<QLabel *>(QStringLiteral("pageTitle"));
    QVERIFY(title);
    QCOMPARE(title->text(), QStringLiteral("Variable Data"));
    auto *hint = dataPage->findChild<QLabel *>(QStringLiteral("hint"));
    QVERIFY(hint);
    QCOMPARE(hint->text(),
             QStringLiteral("Add multiple Excel/CSV files; rows are combined by row number into "
                            "one card batch, with the first row used as field names."));
    QStringList labels;
    for (const QLabel *label : dataPage->findChildren<QLabel *>())
        labels << label->text();
    QVERIFY(labels.contains(QStringLiteral("Data File")));

    QCOMPARE(dataPage->addButton()->text(), QStringLiteral("Add Excel / CSV"));
    QCOMPARE(dataPage->addButton()->objectName(), QStringLiteral("primaryButton"));
    QCOMPARE(dataPage->openButton()->text(), QStringLiteral("Open File"));
    QCOMPARE(dataPage->removeButton()->text(), QStringLiteral("Remove"));
    QCOMPARE(dataPage->sourceCombo()->count(), 0);
    QVERIFY(!dataPage->openButton()->isEnabled());
    QVERIFY(!dataPage->removeButton()->isEnabled());
    QCOMPARE(dataPage->statusLabel()->objectName(), QStringLiteral("backgroundStatus"));
    QCOMPARE(dataPage->statusLabel()->text(), QStringLiteral("Live data source: not connected"));
    QCOMPARE(dataPage->statusLabel()->toolTip(), QString());

    QTableWidget *rows = table();
    QCOMPARE(rows->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(rows->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(rows->alternatingRowColors());
    QVERIFY(rows->verticalHeader()->isHidden());

    QVERIFY(!m_window->dataSync()->pollTimer()->isActive());
    QVERIFY(m_window->dataSync()->watcher()->files().isEmpty());
    QVERIFY(m_window->dataSync()->watcher()->directories().isEmpty());

    // The page's button asks for a file; cancelling the file dialog ends it there.
    dataPage->addButton()->click();
    QCOMPARE(m_script->openRequests.size(), 1);
    QCOMPARE(m_script->openRequests.first().title, QStringLiteral("Import Variable Data"));
    QCOMPARE(m_script->openRequests.first().filter,
             QStringLiteral("Variable Data (*.xlsx *.xlsm *.csv);;Excel Workbook "
                            "(*.xlsx *.xlsm);;CSV File (*.csv);;All Files (*.*)"));
    QCOMPARE(m_script->importDialogsRun, 0);
    QVERIFY(m_script->shown.isEmpty());
    QCOMPARE(status(), QStringLiteral("Ready"));
}

void TestDataPage::importCsvFile()
{
    QVERIFY(startWindow());
    const qint64 projectId = m_window->currentProject().id;
    m_window->pageTabs()->setCurrentIndex(2);
    const QString path = filePath(QStringLiteral("people.csv"));
    QVERIFY(writeFile(path, peopleCsv(3)));

    importFile(path, [](ImportDialog &dialog) {
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Import Options and Preview"));
        QCOMPARE(dialog.size(), QSize(820, 520));
        QStringList texts;
        for (const QLabel *label : dialog.findChildren<QLabel *>())
            texts << label->text();
        QVERIFY(texts.contains(QStringLiteral(
            "Confirm the worksheet or CSV format below. The first row is imported as field names.")));
        QVERIFY(!dialog.worksheetCombo());

        QStringList encodings;
        for (int i = 0; i < dialog.encodingCombo()->count(); ++i) {
            encodings << dialog.encodingCombo()->itemText(i) + u'='
                             + dialog.encodingCombo()->itemData(i).toString();
        }
        QCOMPARE(encodings, (QStringList{"Auto detect=auto", "UTF-8=utf-8",
                                         "Windows-1252=windows-1252"}));
        QStringList delimiters;
        for (int i = 0; i < dialog.delimiterCombo()->count(); ++i) {
            delimiters << dialog.delimiterCombo()->itemText(i) + u'='
                              + dialog.delimiterCombo()->itemData(i).toString();
        }
        QCOMPARE(delimiters, (QStringList{"Auto detect=auto", "Comma (,)=comma",
                                          "Semicolon (;)=semicolon", "Tab=tab"}));

        QCOMPARE(dialog.importButton()->text(), QStringLiteral("Import Data"));
        QVERIFY(dialog.importButton()->isEnabled());
        QTableWidget *preview = dialog.previewTable();
        QCOMPARE(preview->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(preview->alternatingRowColors());
        QVERIFY(preview->verticalHeader()->isHidden());
        QCOMPARE(headerLabels(preview), (QStringList{"Name", "Ticket", "City"}));
        QCOMPARE(preview->rowCount(), 3);
        QCOMPARE(cell(preview, 2, 1), QStringLiteral("T0003"));
        QCOMPARE(dialog.hintLabel()->text(), QStringLiteral("3 data rows shown"));
    });

    QVERIFY2(m_script->shown.isEmpty(), qPrintable(m_script->shown.value(0).text));
    QCOMPARE(m_script->importDialogsRun, 1);
    QCOMPARE(status(), QStringLiteral("Added data file: people.csv"));
    QCOMPARE(m_window->pageTabs()->currentIndex(), 0);

    const QList<DataSource> sources = openStore()->loadDataSources(projectId);
    QCOMPARE(sources.size(), 1);
    const DataSource source = sources.first();
    QCOMPARE(source.filePath, path);
    QCOMPARE(source.displayName, QStringLiteral("people.csv"));
    QCOMPARE(source.options, DataSourceOptions{});
    QCOMPARE(openStore()->countDataSourceRecords(source.id), 3);

    // The first file of a project becomes its live data source, saved at once.
    QCOMPARE(m_window->currentProject().dataSourcePath, path);
    QCOMPARE(storedProject(projectId).dataSourcePath, path);

    QComboBox *choice = page()->sourceCombo();
    QCOMPARE(choice->count(), 1);
    QCOMPARE(choice->itemText(0),
             QStringLiteral("people.csv  —  %1").arg(QDir::toNativeSeparators(path)));
    QCOMPARE(choice->itemData(0).toLongLong(), source.id);
    QCOMPARE(choice->itemData(0, Qt::ToolTipRole).toString(), path);
    QVERIFY(page()->openButton()->isEnabled());
    QVERIFY(page()->removeButton()->isEnabled());
    QCOMPARE(page()->statusLabel()->text(),
             QStringLiteral("Live data sources: 1 files · current file: 3 rows"));
    QCOMPARE(page()->statusLabel()->toolTip(), path);

    // Columns in case-insensitive order after the row number.
    QCOMPARE(headerLabels(table()), (QStringList{"#", "City", "Name", "Ticket"}));
    QCOMPARE(table()->rowCount(), 3);
    QCOMPARE(cell(table(), 0, 0), QStringLiteral("1"));
    QCOMPARE(cell(table(), 1, 2), QStringLiteral("Name 2"));
    QCOMPARE(cell(table(), 2, 3), QStringLiteral("T0003"));

    QCOMPARE(m_window->cardRecords().size(), 3);
    const QString key = QStringLiteral("source:%1:").arg(source.id);
    QCOMPARE(m_window->cardColumns(), (QStringList{key + "City", key + "Name", key + "Ticket"}));

    DataSync *sync = m_window->dataSync();
    QVERIFY(sync->pollTimer()->isActive());
    QCOMPARE(sync->watcher()->files(), QStringList{path});
    QCOMPARE(sync->watcher()->directories(), QStringList{m_folders.files->path()});
    QCOMPARE(sync->storedSignature(), computeDataSourceSignature(sources));
}

void TestDataPage::previewHint_data()
{
    QTest::addColumn<int>("fileRows");
    QTest::addColumn<int>("shownRows");
    QTest::addColumn<QString>("hint");

    const QString capped = QStringLiteral(
        "Previewing the first 25 rows. The full file will be imported after confirmation.");
    QTest::newRow("10 rows") << 10 << 10 << QStringLiteral("10 data rows shown");
    QTest::newRow("24 rows") << 24 << 24 << QStringLiteral("24 data rows shown");
    QTest::newRow("25 rows") << 25 << 25 << capped;
    QTest::newRow("26 rows") << 26 << 25 << capped;
    QTest::newRow("300 rows") << 300 << 25 << capped;
}

void TestDataPage::previewHint()
{
    QFETCH(int, fileRows);
    QFETCH(int, shownRows);
    QFETCH(QString, hint);

    QVERIFY(startWindow());
    const QString path = filePath(QStringLiteral("rows.csv"));
    QVERIFY(writeFile(path, peopleCsv(fileRows)));

    m_script->openPaths = {path};
    m_script->importDialog = [&](ImportDialog &dialog) {
        [&] {
            QCOMPARE(dialog.hintLabel()->text(), hint);
            QCOMPARE(dialog.previewTable()->rowCount(), shownRows);
            QCOMPARE(cell(dialog.previewTable(), shownRows - 1, 0),
                     QStringLiteral("Name %1").arg(shownRows));
            QVERIFY(dialog.importButton()->isEnabled());
        }();
        return int(QDialog::Rejected);
    };
    m_window->importCsv();

    // Cancelling the options stores nothing.
    QCOMPARE(m_script->importDialogsRun, 1);
    QVERIFY(openStore()->loadDataSources(m_window->currentProject().id).isEmpty());
    QCOMPARE(page()->sourceCombo()->count(), 0);
    QCOMPARE(m_window->currentProject().dataSourcePath, QString());
}

void TestDataPage::previewFollowsChoices()
{
    QVERIFY(startWindow());
    const QString path = filePath(QStringLiteral("semicolons.csv"));
    QVERIFY(writeFile(path, peopleCsv(2, ";")));

    importFile(path, [](ImportDialog &dialog) {
        QComboBox *delimiter = dialog.delimiterCombo();
        delimiter->setCurrentIndex(delimiter->findData(QStringLiteral("comma")));
        QCOMPARE(headerLabels(dialog.previewTable()), QStringList{"Name;Ticket;City"});
        QCOMPARE(cell(dialog.previewTable(), 1, 0), QStringLiteral("Name 2;T0002;City 2"));

        delimiter->setCurrentIndex(delimiter->findData(QStringLiteral("semicolon")));
        QCOMPARE(headerLabels(dialog.previewTable()), (QStringList{"Name", "Ticket", "City"}));
        QCOMPARE(cell(dialog.previewTable(), 1, 2), QStringLiteral("City 2"));
        QCOMPARE(dialog.hintLabel()->text(), QStringLiteral("2 data rows shown"));

        dialog.encodingCombo()->setCurrentIndex(
            dialog.encodingCombo()->findData(QStringLiteral("windows-1252")));
    });

    const QList<DataSource> sources = openStore()->loadDataSources(m_window->currentProject().id);
    QCOMPARE(sources.size(), 1);
    QCOMPARE(sources.first().options.csvDelimiter, QStringLiteral("semicolon"));
    QCOMPARE(sources.first().options.csvEncoding, QStringLiteral("windows-1252"));
    QCOMPARE(sources.first().options.worksheetName, QString());
    QCOMPARE(headerLabels(table()), (QStringList{"#", "City", "Name", "Ticket"}));
}

void TestDataPage::failingPreviewDisablesImport()
{
    QVERIFY(startWindow());
    const QString path = filePath(QStringLiteral("empty.csv"));
    QVERIFY(writeFile(path, QByteArray()));
    const QString message = readerMessage(path);
    QVERIFY(!message.isEmpty());

    m_script->openPaths = {path};
    m_script->importDialog = [&](ImportDialog &dialog) {
        [&] {
            QCOMPARE(dialog.hintLabel()->text(), message);
            QVERIFY(!dialog.importButton()->isEnabled());
            QCOMPARE(dialog.previewTable()->rowCount(), 0);
            QCOMPARE(dialog.previewTable()->columnCount(), 0);

            // A file that becomes readable is previewed again on the next choice,
            // and a failure after it empties the table once more.
            QVERIFY(writeFile(path, peopleCsv(4)));
            dialog.encodingCombo()->setCurrentIndex(1);
            QCOMPARE(dialog.previewTable()->rowCount(), 4);
            QVERIFY(dialog.importButton()->isEnabled());
            QVERIFY(writeFile(path, QByteArray()));
            dialog.encodingCombo()->setCurrentIndex(2);
            QCOMPARE(dialog.previewTable()->rowCount(), 0);
            QCOMPARE(dialog.previewTable()->columnCount(), 0);
            QVERIFY(!dialog.importButton()->isEnabled());
        }();
        return int(QDialog::Rejected);
    };
    m_window->importCsv();

    QCOMPARE(m_script->importDialogsRun, 1);
    QVERIFY(m_script->shown.isEmpty());
    QVERIFY(openStore()->loadDataSources(m_window->currentProject().id).isEmpty());
}

void TestDataPage::importFailureShowsReaderMessage()
{
    QVERIFY(startWindow());
    const QString path = filePath(QStringLiteral("vanishing.csv"));
    QVERIFY(writeFile(path, peopleCsv(3)));

    // The file goes away between the preview and the import.
    importFile(path, [&](ImportDialog &) { QVERIFY(QFile::remove(path)); });

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("critical"));
    QCOMPARE(m_script->shown.first().title, QStringLiteral("Variable data import failed"));
    QCOMPARE(m_script->shown.first().text, readerMessage(path));
    QVERIFY(!m_script->shown.first().text.isEmpty());
    QVERIFY(openStore()->loadDataSources(m_window->currentProject().id).isEmpty());
    QCOMPARE(m_window->currentProject().dataSourcePath, QString());
    QCOMPARE(page()->sourceCombo()->count(), 0);
    QVERIFY(!m_window->dataSync()->pollTimer()->isActive());
}

void TestDataPage::importOverTheLimits_data()
{
    QTest::addColumn<QByteArray>("recipe"); // "{N}" stands for N zero bytes, kept as a hole
    QTest::addColumn<bool>("previewFails");

    // Over the reader's bounds in the rows the preview reads, or after them:
    // 64 MiB of NUL bytes refuse the whole file before any row is read, a row
    // of 16,385 cells after the preview's rows only the import.
    QTest::newRow("in the preview rows") << QByteArray("Name\n{67108865}\n") << true;
    QTest::newRow("after the preview rows") << QByteArray(peopleCsv(30) + QByteArray(16384, ',') + "\n") << false;
    QTest::newRow("a file of 2 GiB and a byte") << QByteArray("Name\n{2147483644}") << true;
}

// A file over the reader's bounds ends in the dialog's own message when its
// first rows already are, else in the failure box after the import; either
// way the window lives on, nothing is stored, and no wait cursor is left.
void TestDataPage::importOverTheLimits()
{
    QFETCH(QByteArray, recipe);
    QFETCH(bool, previewFails);

    QVERIFY(startWindow());
    const qint64 projectId = m_window->currentProject().id;
    const QString path = filePath(QStringLiteral("huge.csv"));
    QVERIFY(writeWithHoles(path, recipe));
    QString message;
    {
        QStringList header;
        QList<QStringList> rows;
        QVERIFY(!readTableFile(path, {}, &header, &rows, &message));
    }

    m_script->openPaths = {path};
    m_script->importDialog = [&](ImportDialog &dialog) {
        [&] {
            QVERIFY(!QApplication::overrideCursor());
            if (previewFails) {
                QCOMPARE(dialog.hintLabel()->text(), message);
                QVERIFY(!dialog.importButton()->isEnabled());
                QCOMPARE(dialog.previewTable()->rowCount(), 0);
            } else {
                QCOMPARE(dialog.previewTable()->rowCount(), ImportDialog::kPreviewRows);
                QVERIFY(dialog.importButton()->isEnabled());
            }
        }();
        return int(previewFails ? QDialog::Rejected : QDialog::Accepted);
    };
    m_window->importCsv();

    QCOMPARE(m_script->importDialogsRun, 1);
    if (previewFails) {
        QVERIFY(m_script->shown.isEmpty());
    } else {
        QCOMPARE(m_script->shown.size(), 1);
        QCOMPARE(m_script->shown.first().kind, QStringLiteral("critical"));
        QCOMPARE(m_script->shown.first().title, QStringLiteral("Variable data import failed"));
        QCOMPARE(m_script->shown.first().text, message);
    }
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(openStore()->loadDataSources(projectId).isEmpty());
    QCOMPARE(storedProject(projectId).dataSourcePath, QString());
    QCOMPARE(page()->sourceCombo()->count(), 0);
    QVERIFY(QFile::remove(path));

    // And the next import goes through as usual.
    m_script->shown.clear();
    QVERIFY(!importPeople(3).isEmpty());
    QCOMPARE(table()->rowCount(), 3);
}

void TestDataPage::notARegularFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("excel");
    QTest::newRow("CSV") << "pipe.csv" << false;
    QTest::newRow("workbook") << "pipe.xlsx" << true;
}

// A FIFO picked in the file dialog is never opened (that would block the
// window until some program writes to it): a workbook fails at its
// worksheet list, a CSV file in the dialog's preview.
void TestDataPage::notARegularFile()
{
    QFETCH(QString, name);
    QFETCH(bool, excel);

    QVERIFY(startWindow());
    const QString path = filePath(name);
    QVERIFY(makeFifo(path));
    const FifoRescue rescue(path);
    const QString message = QDir::toNativeSeparators(path) + QStringLiteral(" is not a regular file");

    m_script->openPaths = {path};
    m_script->importDialog = [&](ImportDialog &dialog) {
        [&] {
            QCOMPARE(dialog.hintLabel()->text(), message);
            QVERIFY(!dialog.importButton()->isEnabled());
        }();
        return int(QDialog::Rejected);
    };
    m_window->importCsv();

    if (excel) {
        QCOMPARE(m_script->importDialogsRun, 0);
        QCOMPARE(m_script->shown.size(), 1);
        QCOMPARE(m_script->shown.first().title, QStringLiteral("Excel workbook could not be read"));
        QCOMPARE(m_script->shown.first().text, message);
    } else {
        QCOMPARE(m_script->importDialogsRun, 1);
        QVERIFY(m_script->shown.isEmpty());
    }
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(openStore()->loadDataSources(m_window->currentProject().id).isEmpty());
}

void TestDataPage::importExcelWorksheet()
{
    QVERIFY(startWindow());
    const QString path = filePath(QStringLiteral("Two Sheets.XLSX"));
    QVERIFY(QFile::copy(QFINDTESTDATA("data/two-sheets.xlsx"), path));

    importFile(path, [](ImportDialog &dialog) {
        QVERIFY(dialog.isExcel());
        QVERIFY(!dialog.encodingCombo());
        QVERIFY(!dialog.delimiterCombo());
        QComboBox *sheets = dialog.worksheetCombo();
        QVERIFY(sheets);
        QCOMPARE(sheets->count(), 2);
        QCOMPARE(sheets->itemText(0), QStringLiteral("Prizes"));
        QCOMPARE(sheets->itemText(1), QStringLiteral("Winners"));
        QCOMPARE(headerLabels(dialog.previewTable()), (QStringList{"Prize", "Odds"}));
        QCOMPARE(dialog.hintLabel()->text(), QStringLiteral("3 data rows shown"));

        sheets->setCurrentIndex(1);
        QCOMPARE(headerLabels(dialog.previewTable()), (QStringList{"Name", "Ticket", "City"}));
        QCOMPARE(cell(dialog.previewTable(), 0, 1), QStringLiteral("0001"));
        QCOMPARE(dialog.hintLabel()->text(), QStringLiteral("4 data rows shown"));
    });

    QVERIFY2(m_script->shown.isEmpty(), qPrintable(m_script->shown.value(0).text));
    const QList<DataSource> sources = openStore()->loadDataSources(m_window->currentProject().id);
    QCOMPARE(sources.size(), 1);
    DataSourceOptions expected;
    expected.worksheetName = QStringLiteral("Winners");
    QCOMPARE(sources.first().options, expected);
    QCOMPARE(headerLabels(table()), (QStringList{"#", "City", "Name", "Ticket"}));
    QCOMPARE(table()->rowCount(), 4);
    QCOMPARE(cell(table(), 3, 2), QStringLiteral("Daniel Novak"));
    QCOMPARE(status(), QStringLiteral("Added data file: Two Sheets.XLSX"));
}

// A hidden lookup sheet in front of the data is listed as hidden, and the
// dialog starts on the first visible sheet; choosing the hidden one stores
// its name, not its label.
void TestDataPage::hiddenWorksheetsAreMarked()
{
    QVERIFY(startWindow());
    const QString path = filePath(QStringLiteral("members.xlsx"));
    QVERIFY(QFile::copy(QFINDTESTDATA("data/hidden-first-sheet.xlsx"), path));

    importFile(path, [](ImportDialog &dialog) {
        QComboBox *sheets = dialog.worksheetCombo();
        QVERIFY(sheets);
        QCOMPARE(sheets->count(), 2);
        QCOMPARE(sheets->itemText(0), QStringLiteral("Lookup (hidden)"));
        QCOMPARE(sheets->itemText(1), QStringLiteral("Members"));
        QCOMPARE(sheets->currentIndex(), 1);
        QCOMPARE(headerLabels(dialog.previewTable()), (QStringList{"Name", "Level"}));
        QCOMPARE(dialog.options().worksheetName, QStringLiteral("Members"));

        sheets->setCurrentIndex(0);
        QCOMPARE(headerLabels(dialog.previewTable()), (QStringList{"Code", "Meaning"}));
    });

    const QList<DataSource> sources = openStore()->loadDataSources(m_window->currentProject().id);
    QCOMPARE(sources.size(), 1);
    QCOMPARE(sources.first().options.worksheetName, QStringLiteral("Lookup"));
    QCOMPARE(table()->rowCount(), 1);
}

void TestDataPage::previewSaysHowTheFileIsRead_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("encoding"); // the choice made in the dialog
    QTest::addColumn<QString>("readAs");
    QTest::addColumn<QString>("firstName");

    // The one byte that is not UTF-8 comes long after the preview's rows.
    QByteArray late("Name;City\n");
    while (late.size() < 200 * 1024)
        late += "Ann;Graz\n";
    late += "Jos\xE9;Lyon\n";
    QTest::newRow("late Windows-1252 byte") << late << "auto" << "Windows-1252, Semicolon (;)" << "Ann";
    QTest::newRow("UTF-8 chosen") << late << "utf-8" << "UTF-8, Semicolon (;)" << "Ann";
    // Excel's "Unicode Text".
    const QString unicodeText = QStringLiteral("Name\tCity\r\nZo\u00eb\tK\u00f6ln\r\n");
    QByteArray utf16("\xFF\xFE");
    utf16.append(reinterpret_cast<const char *>(unicodeText.utf16()), unicodeText.size() * 2);
    QTest::newRow("UTF-16 with its mark") << utf16 << "auto" << "UTF-16LE, Tab" << "Zo\u00eb";
}

// The dialog says which encoding and delimiter it read the preview with,
// the detected ones included, so a wrong guess shows before the import.
void TestDataPage::previewSaysHowTheFileIsRead()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, encoding);
    QFETCH(QString, readAs);
    QFETCH(QString, firstName);
    QVERIFY(startWindow());
    const QString path = filePath(QStringLiteral("members.txt"));
    QVERIFY(writeFile(path, bytes));

    m_script->openPaths = {path};
    m_script->importDialog = [&](ImportDialog &dialog) {
        [&] {
            QVERIFY(dialog.formatLabel());
            dialog.encodingCombo()->setCurrentIndex(dialog.encodingCombo()->findData(encoding));
            QCOMPARE(dialog.formatLabel()->text(), readAs);
            QCOMPARE(headerLabels(dialog.previewTable()), (QStringList{"Name", "City"}));
            QCOMPARE(cell(dialog.previewTable(), 0, 0), firstName);
        }();
        return int(QDialog::Rejected);
    };
    m_window->importCsv();
    QCOMPARE(m_script->importDialogsRun, 1);
}

void TestDataPage::unreadableWorkbook()
{
    QVERIFY(startWindow());
    const QString path = filePath(QStringLiteral("not-a-workbook.xlsm"));
    QVERIFY(writeFile(path, "Name,Ticket\nAda,1\n"));
    QString expected;
    QVERIFY(listWorksheetNames(path, &expected).isEmpty());
    QVERIFY(!expected.isEmpty());

    m_script->openPaths = {path};
    m_window->importCsv();

    QCOMPARE(m_script->importDialogsRun, 0);
    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("critical"));
    QCOMPARE(m_script->shown.first().title, QStringLiteral("Excel workbook could not be read"));
    QCOMPARE(m_script->shown.first().text, expected);
    QVERIFY(openStore()->loadDataSources(m_window->currentProject().id).isEmpty());
}

void TestDataPage::reimportUpdatesOneEntry()
{
    QVERIFY(startWindow());
    const qint64 projectId = m_window->currentProject().id;
    const QString path = importPeople(3);
    QVERIFY(!path.isEmpty());
    const QList<DataSource> before = openStore()->loadDataSources(projectId);
    QCOMPARE(before.size(), 1);

    QVERIFY(writeFile(path, peopleCsv(7)));
    importFile(path, [](ImportDialog &dialog) {
        dialog.encodingCombo()->setCurrentIndex(
            dialog.encodingCombo()->findData(QStringLiteral("utf-8")));
        dialog.delimiterCombo()->setCurrentIndex(
            dialog.delimiterCombo()->findData(QStringLiteral("comma")));
    });

    const QList<DataSource> after = openStore()->loadDataSources(projectId);
    QCOMPARE(after.size(), 1);
    QCOMPARE(after.first().id, before.first().id);
    QCOMPARE(after.first().sortOrder, before.first().sortOrder);
    QCOMPARE(after.first().options.csvEncoding, QStringLiteral("utf-8"));
    QCOMPARE(after.first().options.csvDelimiter, QStringLiteral("comma"));
    QCOMPARE(page()->sourceCombo()->count(), 1);
    QCOMPARE(table()->rowCount(), 7);
    QCOMPARE(m_window->cardRecords().size(), 7);
    QCOMPARE(page()->statusLabel()->text(),
             QStringLiteral("Live data sources: 1 files · current file: 7 rows"));
}

void TestDataPage::tableRowLimit_data()
{
    QTest::addColumn<int>("fileRows");
    QTest::addColumn<int>("shownRows");
    QTest::addColumn<QString>("label");

    const QString limited = QStringLiteral(" · table preview limited to 1,000 rows");
    QTest::newRow("5,000 rows") << 5000 << 1000
                                << "Live data sources: 1 files · current file: 5000 rows" + limited;
    QTest::newRow("1,001 rows") << 1001 << 1000
                                << "Live data sources: 1 files · current file: 1001 rows" + limited;
    QTest::newRow("exactly 1,000 rows")
        << 1000 << 1000 << QStringLiteral("Live data sources: 1 files · current file: 1000 rows");
    QTest::newRow("999 rows") << 999 << 999
                              << QStringLiteral("Live data sources: 1 files · current file: 999 rows");
}

void TestDataPage::tableRowLimit()
{
    QFETCH(int, fileRows);
    QFETCH(int, shownRows);
    QFETCH(QString, label);

    QVERIFY(startWindow());
    QVERIFY(!importPeople(fileRows).isEmpty());

    QCOMPARE(page()->statusLabel()->text(), label);
    QCOMPARE(table()->rowCount(), shownRows);
    QCOMPARE(cell(table(), shownRows - 1, 0), QString::number(shownRows));
    QCOMPARE(cell(table(), shownRows - 1, 2), QStringLiteral("Name %1").arg(shownRows));
    // The limit is the table's only: the card batch has every row.
    QCOMPARE(m_window->cardRecords().size(), fileRows);
}

void TestDataPage::rowNumbersAreStoredPositions()
{
    QVERIFY(startWindow());
    QVERIFY(!importPeople(4).isEmpty());
    const qint64 sourceId = m_window->dataSources().first().id;

    // "#" is the stored position, not the table row: with a gap the two differ.
    QVERIFY(openStore()->execStatement(
        QStringLiteral("DELETE FROM data_source_records WHERE data_source_id=%1 AND sort_index=1")
            .arg(sourceId)));
    m_window->currentDataSourceChanged();

    QCOMPARE(table()->rowCount(), 3);
    QCOMPARE(cell(table(), 0, 0), QStringLiteral("1"));
    QCOMPARE(cell(table(), 1, 0), QStringLiteral("3"));
    QCOMPARE(cell(table(), 1, 2), QStringLiteral("Name 3"));
    QCOMPARE(cell(table(), 2, 0), QStringLiteral("4"));
    QCOMPARE(page()->statusLabel()->text(),
             QStringLiteral("Live data sources: 1 files · current file: 3 rows"));
}

void TestDataPage::openCurrentDataSource_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<bool>("launcherWorks");
    QTest::addColumn<bool>("launched");
    QTest::addColumn<QString>("boxText"); // empty: no box

    QTest::newRow("opened") << true << true << true << QString();
    QTest::newRow("no application") << true << false << true
                                    << "No application is available to open this file.";
    // %1 is filled with the native path by the test.
    QTest::newRow("file gone") << false << true << false
                               << "File does not exist or is not accessible:\n%1";
}

void TestDataPage::openCurrentDataSource()
{
    QFETCH(bool, fileExists);
    QFETCH(bool, launcherWorks);
    QFETCH(bool, launched);
    QFETCH(QString, boxText);

    QVERIFY(startWindow());
    const QString path = importPeople(2);
    QVERIFY(!path.isEmpty());
    if (!fileExists)
        QVERIFY(QFile::remove(path));
    m_script->launcherWorks = launcherWorks;

    page()->openButton()->click();

    QCOMPARE(m_script->launched,
             launched ? QList<QUrl>{QUrl::fromLocalFile(path)} : QList<QUrl>{});
    if (boxText.isEmpty()) {
        QVERIFY(m_script->shown.isEmpty());
        return;
    }
    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("critical"));
    QCOMPARE(m_script->shown.first().title, QStringLiteral("Unable to open file"));
    QCOMPARE(m_script->shown.first().text,
             boxText.contains(u'%') ? boxText.arg(QDir::toNativeSeparators(path)) : boxText);
}

void TestDataPage::removeDataSources()
{
    QVERIFY(startWindow());
    const qint64 projectId = m_window->currentProject().id;
    const QString longer = importPeople(5, QStringLiteral("longer.csv"));
    const QString shorter = importPeople(3, QStringLiteral("shorter.csv"));
    QVERIFY(!longer.isEmpty() && !shorter.isEmpty());
    QCOMPARE(m_window->dataSources().size(), 2);
    // The project keeps naming its first file; the import selected the newest.
    QCOMPARE(storedProject(projectId).dataSourcePath, longer);
    QCOMPARE(page()->sourceCombo()->currentIndex(), 1);
    QCOMPARE(m_window->cardRecords().size(), 5);
    QCOMPARE(m_window->dataSync()->watcher()->files().size(), 2);

    page()->sourceCombo()->setCurrentIndex(0);
    QCOMPARE(page()->statusLabel()->text(),
             QStringLiteral("Live data sources: 2 files · current file: 5 rows"));
    QCOMPARE(page()->statusLabel()->toolTip(), longer);
    QCOMPARE(table()->rowCount(), 5);

    m_script->answers = {QMessageBox::No};
    page()->removeButton()->click();
    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("question"));
    QCOMPARE(m_script->shown.first().title, QStringLiteral("Remove Data File"));
    QCOMPARE(m_script->shown.first().text,
             QStringLiteral("Remove “longer.csv” from the project?\n"
                            "The original file on disk will not be deleted."));
    QCOMPARE(openStore()->loadDataSources(projectId).size(), 2);

    m_script->answers = {QMessageBox::Yes};
    page()->removeButton()->click();
    QCOMPARE(m_script->shown.size(), 2);
    QCOMPARE(status(), QStringLiteral("Data file removed from project"));
    const QList<DataSource> remaining = openStore()->loadDataSources(projectId);
    QCOMPARE(remaining.size(), 1);
    QCOMPARE(remaining.first().filePath, shorter);
    QCOMPARE(m_window->currentProject().dataSourcePath, shorter);
    QCOMPARE(storedProject(projectId).dataSourcePath, shorter);
    QVERIFY(QFile::exists(longer));
    QCOMPARE(page()->sourceCombo()->count(), 1);
    QCOMPARE(table()->rowCount(), 3);
    QCOMPARE(m_window->cardRecords().size(), 3);
    QCOMPARE(m_window->dataSync()->watcher()->files(), QStringList{shorter});
    QCOMPARE(m_window->dataSync()->storedSignature(), computeDataSourceSignature(remaining));
    QCOMPARE(page()->statusLabel()->text(),
             QStringLiteral("Live data sources: 1 files · current file: 3 rows"));

    m_script->answers = {QMessageBox::Yes};
    page()->removeButton()->click();
    QCOMPARE(m_script->shown.size(), 3);
    QVERIFY(openStore()->loadDataSources(projectId).isEmpty());
    QCOMPARE(m_window->currentProject().dataSourcePath, QString());
    QCOMPARE(storedProject(projectId).dataSourcePath, QString());
    QCOMPARE(page()->sourceCombo()->count(), 0);
    QVERIFY(!page()->openButton()->isEnabled());
    QVERIFY(!page()->removeButton()->isEnabled());
    QCOMPARE(table()->rowCount(), 0);
    QCOMPARE(table()->columnCount(), 0);
    QVERIFY(m_window->cardRecords().isEmpty());
    QCOMPARE(page()->statusLabel()->text(), QStringLiteral("Live data source: not connected"));
    QVERIFY(!m_window->dataSync()->pollTimer()->isActive());
    QVERIFY(m_window->dataSync()->watcher()->files().isEmpty());
    QVERIFY(m_window->dataSync()->watcher()->directories().isEmpty());

    // Nothing selected: nothing to remove, nothing asked.
    page()->removeButton()->click();
    m_window->removeCurrentDataSource();
    QCOMPARE(m_script->shown.size(), 3);
}

void TestDataPage::removeFailure()
{
    QVERIFY(startWindow());
    const qint64 projectId = m_window->currentProject().id;
    const QString path = importPeople(3);
    QVERIFY(!path.isEmpty());
    QVERIFY(openStore()->execStatement(QStringLiteral(
        "CREATE TRIGGER keep_sources BEFORE DELETE ON data_sources "
        "BEGIN SELECT RAISE(ABORT, 'sources are kept'); END")));

    m_script->answers = {QMessageBox::Yes};
    m_window->removeCurrentDataSource();

    QCOMPARE(m_script->shown.size(), 2);
    QCOMPARE(m_script->shown.at(1).kind, QStringLiteral("critical"));
    QCOMPARE(m_script->shown.at(1).title, QStringLiteral("Remove failed"));
    QVERIFY2(m_script->shown.at(1).text.contains(QStringLiteral("sources are kept")),
             qPrintable(m_script->shown.at(1).text));
    QCOMPARE(openStore()->loadDataSources(projectId).size(), 1);
    QCOMPARE(storedProject(projectId).dataSourcePath, path);
    QCOMPARE(page()->sourceCombo()->count(), 1);
    QCOMPARE(table()->rowCount(), 3);
}

void TestDataPage::startupAndProjectSwitch()
{
    const QString path = filePath(QStringLiteral("members.csv"));
    QVERIFY(writeFile(path, peopleCsv(6)));
    {
        // The window's first start creates the database; then another
        // connection sets up two projects, the newest bound to a file.
        QVERIFY(startWindow());
        m_window.reset();
        const auto store = openStore();
        QVERIFY(store->createProject(QStringLiteral("Plain")));
        std::optional<Project> bound = store->createProject(QStringLiteral("Bound"));
        QVERIFY(bound);
        QString error;
        QVERIFY2(upsertDataSource(*store, bound->id, path, {}, &error), qPrintable(error));
        bound->dataSourcePath = path;
        QVERIFY(store->updateProject(*bound));
    }
    QVERIFY(startWindow());
    QCOMPARE(m_window->currentProject().name, QStringLiteral("Bound"));
    QVERIFY(m_script->shown.isEmpty());

    QCOMPARE(page()->statusLabel()->text(),
             QStringLiteral("Live data sources: 1 files (save the workbook to refresh data)"));
    QCOMPARE(page()->statusLabel()->toolTip(), path);
    QCOMPARE(page()->sourceCombo()->count(), 1);
    QCOMPARE(table()->rowCount(), 6);
    QCOMPARE(m_window->cardRecords().size(), 6);
    DataSync *sync = m_window->dataSync();
    QVERIFY(sync->pollTimer()->isActive());
    QCOMPARE(sync->watcher()->files(), QStringList{path});
    QCOMPARE(sync->storedSignature(), computeDataSourceSignature(m_window->dataSources()));

    const int plainIndex =
        m_window->projectPanel()->projectSelector()->findText(QStringLiteral("Plain"));
    m_window->openSelectedProject(plainIndex);
    QCOMPARE(m_window->currentProject().name, QStringLiteral("Plain"));
    QCOMPARE(page()->statusLabel()->text(), QStringLiteral("Live data source: not connected"));
    QCOMPARE(page()->statusLabel()->toolTip(), QString());
    QCOMPARE(page()->sourceCombo()->count(), 0);
    QCOMPARE(table()->rowCount(), 0);
    QVERIFY(m_window->cardRecords().isEmpty());
    QVERIFY(m_window->cardColumns().isEmpty());
    QVERIFY(!sync->pollTimer()->isActive());
    QVERIFY(sync->watcher()->files().isEmpty());
    QVERIFY(sync->watcher()->directories().isEmpty());

    const int boundIndex =
        m_window->projectPanel()->projectSelector()->findText(QStringLiteral("Bound"));
    m_window->openSelectedProject(boundIndex);
    QCOMPARE(table()->rowCount(), 6);
    QVERIFY(sync->pollTimer()->isActive());
    QVERIFY(m_script->shown.isEmpty());
}

void TestDataPage::dataReadFailure()
{
    const QString path = filePath(QStringLiteral("members.csv"));
    QVERIFY(writeFile(path, peopleCsv(2)));
    {
        QVERIFY(startWindow());
        m_window.reset();
        const auto store = openStore();
        for (const QString &name : {QStringLiteral("Older"), QStringLiteral("Newer")}) {
            const std::optional<Project> project = store->createProject(name);
            QVERIFY(project);
            QVERIFY(upsertDataSource(*store, project->id, path, {}));
        }
    }
    QVERIFY(startWindow());
    QCOMPARE(m_window->currentProject().name, QStringLiteral("Newer"));
    QCOMPARE(m_window->cardRecords().size(), 2);
    QVERIFY(openStore()->execStatement(
        QStringLiteral("ALTER TABLE data_source_records RENAME TO hidden_records")));

    m_window->openSelectedProject(
        m_window->projectPanel()->projectSelector()->findText(QStringLiteral("Older")));

    QCOMPARE(m_window->currentProject().name, QStringLiteral("Older"));
    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("critical"));
    QCOMPARE(m_script->shown.first().title, QStringLiteral("Data Read Failed"));
    QVERIFY(!m_script->shown.first().text.isEmpty());
    // The previous project's batch is not shown for this one.
    QVERIFY(m_window->cardRecords().isEmpty());
}

void TestDataPage::syncAfterFileReplaced()
{
    QVERIFY(startWindow());
    const QString path = importPeople(3);
    QVERIFY(!path.isEmpty());
    const qint64 sourceId = m_window->dataSources().first().id;
    QSignalSpy syncs(m_window->dataSync(), &DataSync::syncDue);

    // Saved the way many editors do: the old file is removed, a new one written.
    QElapsedTimer sinceWrite;
    QVERIFY(QFile::remove(path));
    QVERIFY(writeFile(path, peopleCsv(5)));
    sinceWrite.start();

    QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Excel/CSV auto-synced: 5 records"),
                              kSyncTimeoutMs);
    QVERIFY2(sinceWrite.elapsed() >= DataSync::kSyncDelayMs - 100,
             qPrintable(QString::number(sinceWrite.elapsed())));
    QCOMPARE(syncs.count(), 1);
    QCOMPARE(openStore()->countDataSourceRecords(sourceId), 5);
    QCOMPARE(table()->rowCount(), 5);
    QCOMPARE(cell(table(), 4, 2), QStringLiteral("Name 5"));
    QCOMPARE(page()->statusLabel()->text(),
             QStringLiteral("Live data sources: 1 files · current file: 5 rows"));
    QCOMPARE(m_window->cardRecords().size(), 5);
    // The new file is watched again and its state is the one compared from now on.
    QCOMPARE(m_window->dataSync()->watcher()->files(), QStringList{path});
    QCOMPARE(m_window->dataSync()->storedSignature(),
             computeDataSourceSignature(m_window->dataSources()));
    QVERIFY(m_script->shown.isEmpty());
}

void TestDataPage::missingFileKeepsRows()
{
    QVERIFY(startWindow());
    const QString path = importPeople(3);
    QVERIFY(!path.isEmpty());
    const qint64 sourceId = m_window->dataSources().first().id;
    QSignalSpy syncs(m_window->dataSync(), &DataSync::syncDue);

    QVERIFY(QFile::remove(path));
    QTRY_COMPARE_WITH_TIMEOUT(status(),
                              QStringLiteral("The data-source file is temporarily unavailable."),
                              kRetriesTimeoutMs);
    // The first attempt and ten retries.
    QCOMPARE(syncs.count(), DataSync::kMaxRetries + 1);
    QCOMPARE(m_window->dataSync()->retries(), 0);
    QCOMPARE(openStore()->countDataSourceRecords(sourceId), 3);
    QCOMPARE(table()->rowCount(), 3);
    QCOMPARE(m_window->cardRecords().size(), 3);
    QCOMPARE(m_window->dataSources().size(), 1);

    // Once the file is back it is read as usual.
    QVERIFY(writeFile(path, peopleCsv(4)));
    QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Excel/CSV auto-synced: 4 records"),
                              kSyncTimeoutMs);
    QCOMPARE(openStore()->countDataSourceRecords(sourceId), 4);
    QCOMPARE(table()->rowCount(), 4);
    QVERIFY(m_script->shown.isEmpty());
}

void TestDataPage::brokenFileKeepsRows()
{
    QVERIFY(startWindow());
    const QString path = importPeople(3);
    QVERIFY(!path.isEmpty());
    const qint64 sourceId = m_window->dataSources().first().id;
    QSignalSpy syncs(m_window->dataSync(), &DataSync::syncDue);

    // Caught halfway through a save: the file is there but holds nothing yet.
    QVERIFY(writeFile(path, QByteArray()));
    const QString message = readerMessage(path);
    QVERIFY(!message.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Could not refresh data: %1").arg(message),
                              kRetriesTimeoutMs);
    QCOMPARE(syncs.count(), DataSync::kMaxRetries + 1);
    QCOMPARE(openStore()->countDataSourceRecords(sourceId), 3);
    QCOMPARE(table()->rowCount(), 3);
    QCOMPARE(cell(table(), 2, 2), QStringLiteral("Name 3"));
    QCOMPARE(m_window->cardRecords().size(), 3);

    QVERIFY(writeFile(path, peopleCsv(4)));
    QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Excel/CSV auto-synced: 4 records"),
                              kSyncTimeoutMs);
    QCOMPARE(openStore()->countDataSourceRecords(sourceId), 4);
    QCOMPARE(m_window->cardRecords().size(), 4);
    QVERIFY(m_script->shown.isEmpty());
}

void TestDataPage::pollFindsUnreportedChange()
{
    QVERIFY(startWindow());
    const QString path = importPeople(3);
    QVERIFY(!path.isEmpty());
    QFileSystemWatcher *watcher = m_window->dataSync()->watcher();
    // As if the folder were one the system cannot watch.
    watcher->removePaths(watcher->files() + watcher->directories());
    QVERIFY(watcher->files().isEmpty() && watcher->directories().isEmpty());

    QVERIFY(writeFile(path, peopleCsv(8)));
    QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Excel/CSV auto-synced: 8 records"),
                              DataSync::kPollIntervalMs + DataSync::kSyncDelayMs + 1500);
    QCOMPARE(table()->rowCount(), 8);
    QCOMPARE(watcher->files(), QStringList{path});
}

void TestDataPage::unchangedFilesDoNotSync_data()
{
    QTest::addColumn<bool>("rewriteUnseen");

    QTest::newRow("untouched") << false;
    // Same size, same time and no watcher report: nothing the window can see.
    QTest::newRow("rewritten with same size and time, unreported") << true;
}

void TestDataPage::unchangedFilesDoNotSync()
{
    QFETCH(bool, rewriteUnseen);

    QVERIFY(startWindow());
    const QString path = importPeople(3);
    QVERIFY(!path.isEmpty());
    DataSync *sync = m_window->dataSync();
    QSignalSpy syncs(sync, &DataSync::syncDue);
    QSignalSpy polls(sync->pollTimer(), &QTimer::timeout);

    if (rewriteUnseen) {
        sync->watcher()->removePaths(sync->watcher()->files() + sync->watcher()->directories());
        const QDateTime modified = QFileInfo(path).lastModified();
        // Right after a poll, so that the next one sees only the finished file.
        QVERIFY(polls.wait(DataSync::kPollIntervalMs + 500));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray changed = peopleCsv(3);
        changed.replace("Name 3", "Nora 3");
        QCOMPARE(file.write(changed), qint64(changed.size()));
        QVERIFY(file.flush());
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
        file.close();
        QCOMPARE(QFileInfo(path).lastModified(), modified);
    }

    QTest::qWait(2 * DataSync::kPollIntervalMs + DataSync::kSyncDelayMs);
    QVERIFY(polls.count() >= 2);
    QCOMPARE(syncs.count(), 0);
    QCOMPARE(cell(table(), 2, 2), QStringLiteral("Name 3"));
    QCOMPARE(m_window->dataSync()->storedSignature(),
             computeDataSourceSignature(m_window->dataSources()));
}

QTEST_MAIN(TestDataPage)
#include "tst_datapage.moc"
