// The window stays live while a data file is imported or re-read: the work
// runs on a thread of its own, the "Importing Data" dialog can cancel an
// import, and closing the window, destroying it or opening another project
// meanwhile neither crashes nor writes what should not be written.
//
// The tests hold the database's write lock (WriteLock) while they look: the
// import then waits at its first write, so it surely still runs, however
// fast the machine, until the test lets it go on.
#include "scripteddialogs.h"
#include "windowfixture.h"

#include "app/dataimport.h"
#include "import/csvparser.h"
#include "import/tablereader.h"
#include "store/projectstore.h"
#include "store/storetestutil.h"
#include "store/writelock.h"
#include "ui/dataimportrunner.h"
#include "ui/datapage.h"
#include "ui/datasync.h"
#include "ui/importdialog.h"
#include "ui/importprogressdialog.h"
#include "ui/mainwindow.h"
#include "ui/projectpanel.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

// Larger than the table shows, and many batches of rows.
constexpr int kBigRows = 20000;

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size();
}

// Replaced the way editors save: a new file renamed over the old one. A
// reader that has the old one open goes on reading the old one.
bool replaceFile(const QString &path, const QByteArray &contents)
{
    const QString written = path + QStringLiteral(".new");
    return writeFile(written, contents) && std::rename(qPrintable(written), qPrintable(path)) == 0;
}

// `count` ticket rows, row `badRow` with more columns than a row may have.
QByteArray ticketsWithWideRow(int count, int badRow)
{
    QByteArray text = ticketCsv(count);
    const QByteArray row = "Name " + QByteArray::number(badRow + 1) + ",T" + QByteArray::number(badRow + 1) + "\n";
    const QByteArray wide = QByteArray(CsvParser::maxColumns, ',') + '\n';
    return text.replace(row, wide);
}

QString readerMessage(const QString &path)
{
    QStringList header;
    QList<QStringList> rows;
    QString error;
    return readTableFile(path, {}, &header, &rows, &error) ? QString() : error;
}

QString cell(const QTableWidget *table, int row, int column)
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QString();
}

// The "Importing Data" dialog on screen, if any.
ImportProgressDialog *shownProgressDialog()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *dialog = qobject_cast<ImportProgressDialog *>(widget);
        if (dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

// Steps played from the event loop, one try every 10 ms: each step is tried
// again until it reports that it is done. Started before a call that runs
// the event loop until the window's import has ended.
class Steps
{
public:
    explicit Steps(QList<std::function<bool()>> steps)
        : m_steps(std::move(steps))
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            while (m_done < m_steps.size() && m_steps.at(m_done)())
                ++m_done;
            if (m_done == m_steps.size())
                m_timer.stop();
        });
        m_timer.start();
    }

    bool allDone() const { return m_done == m_steps.size(); }

private:
    QList<std::function<bool()>> m_steps;
    qsizetype m_done = 0;
    QTimer m_timer;
};

class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// What leaves the window while it works.
enum class Leaving { Closed, Destroyed, OtherProject };

} // namespace

Q_DECLARE_METATYPE(Leaving)

class TestImportProgress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowStaysLiveDuringImport();
    void cancelLeavesDatabaseUnchanged_data();
    void cancelLeavesDatabaseUnchanged();
    void failureShowsErrorBox_data();
    void failureShowsErrorBox();
    void leavingDuringImport_data();
    void leavingDuringImport();

    void refreshRunsInBackground();
    void changeDuringRefreshIsQueued();
    void importWaitsForRunningRefresh();
    void leavingDuringRefresh_data();
    void leavingDuringRefresh();

private:
    // Shown unless `show` is false: a close then hides it, and the pages paint.
    bool startWindow(bool show = true);
    // Two projects, "Plain" and the newer "Bound", whose data file holds
    // `rows` tickets; the window opens on "Bound".
    bool startWithTwoProjects(int rows, bool show = true);
    void importFile(const QString &path, const std::function<void(ImportDialog &)> &choose = {});
    QString filePath(const QString &name) const { return m_folders.files->filePath(name); }
    QString status() const { return m_window->statusBar()->currentMessage(); }
    DataImportRunner *runner() const { return m_window->findChild<DataImportRunner *>(); }
    DataPage *page() const { return m_window->dataPage(); }
    QTableWidget *table() const { return m_window->dataPage()->table(); }
    QStringList dump() const { return storetest::dumpDatabaseFile(m_folders.databasePath); }
    int storedRows(qint64 sourceId) const { return openTestStore(m_folders.databasePath)->countDataSourceRecords(sourceId); }

    WindowFolders m_folders;
    std::shared_ptr<DialogScript> m_script;
    std::unique_ptr<MainWindow> m_window;
};

void TestImportProgress::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestImportProgress::init()
{
    QVERIFY(m_folders.create());
    m_script = std::make_shared<DialogScript>();
}

void TestImportProgress::cleanup()
{
    m_window.reset();
    m_folders.remove();
}

bool TestImportProgress::startWindow(bool show)
{
    if (!startScriptedWindow(m_window, m_script, m_folders.starter->path()))
        return false;
    if (!show)
        return true;
    m_window->show();
    return QTest::qWaitForWindowExposed(m_window.get());
}

bool TestImportProgress::startWithTwoProjects(int rows, bool show)
{
    const QString path = filePath(QStringLiteral("members.csv"));
    if (!writeFile(path, ticketCsv(rows)))
        return false;
    {
        // The window finds the database in place and opens its newest project.
        const auto store = openTestStore(m_folders.databasePath);
        std::optional<Project> bound;
        if (!store->createProject(QStringLiteral("Plain")) || !(bound = store->createProject(QStringLiteral("Bound")))
            || !upsertDataSource(*store, bound->id, path, {}))
            return false;
        bound->dataSourcePath = path;
        if (!store->updateProject(*bound))
            return false;
    }
    return startWindow(show) && m_window->currentProject().name == QLatin1String("Bound");
}

void TestImportProgress::importFile(const QString &path, const std::function<void(ImportDialog &)> &choose)
{
    m_script->openPaths = {path};
    m_script->importDialog = [choose](ImportDialog &dialog) {
        if (choose)
            choose(dialog);
        return int(QDialog::Accepted);
    };
    m_window->importCsv();
}

// While the import waits, the dialog is up over a window that still paints
// and runs its timers; once it is let go, the import ends as it always has.
void TestImportProgress::windowStaysLiveDuringImport()
{
    QVERIFY(startWindow());
    const qint64 projectId = m_window->currentProject().id;
    m_window->pageTabs()->setCurrentIndex(2);
    const QString path = filePath(QStringLiteral("big.csv"));
    QVERIFY(writeFile(path, ticketCsv(kBigRows)));

    WriteLock lock(m_folders.databasePath);
    QVERIFY(lock.isHeld());
    PaintCounter paints(m_window->pageTabs());
    int paintsBefore = -1;
    bool busyWhileShown = false;
    bool modal = false;
    QString title, label, cancelText, cancelName, barName;
    Steps steps({
        [&] {
            ImportProgressDialog *dialog = shownProgressDialog();
            if (!dialog)
                return false;
            busyWhileShown = runner()->isBusy();
            modal = dialog->windowModality() == Qt::WindowModal && QApplication::activeModalWidget() == dialog;
            title = dialog->windowTitle();
            label = dialog->label()->text();
            cancelText = dialog->cancelButton()->text();
            cancelName = dialog->cancelButton()->accessibleName();
            barName = dialog->progressBar()->accessibleName();
            paintsBefore = paints.count;
            m_window->pageTabs()->update();
            return true;
        },
        [&] { return paints.count > paintsBefore; },
        [&] {
            lock.release();
            return true;
        },
    });
    importFile(path);

    QVERIFY(steps.allDone());
    QVERIFY(busyWhileShown);
    QVERIFY(modal);
    QCOMPARE(title, QStringLiteral("Importing Data"));
    QCOMPARE(label, QStringLiteral("Importing and indexing variable data…"));
    QCOMPARE(cancelText, QStringLiteral("Cancel"));
    QCOMPARE(cancelName, QStringLiteral("Cancel import"));
    QCOMPARE(barName, QStringLiteral("Import progress"));

    // As the import ended before it ran on a thread of its own.
    QVERIFY2(m_script->shown.isEmpty(), qPrintable(m_script->shown.value(0).text));
    QVERIFY(!shownProgressDialog());
    QVERIFY(!runner()->isBusy());
    QCOMPARE(status(), QStringLiteral("Added data file: big.csv"));
    QCOMPARE(m_window->pageTabs()->currentIndex(), 0);
    const QList<DataSource> sources = openTestStore(m_folders.databasePath)->loadDataSources(projectId);
    QCOMPARE(sources.size(), 1);
    QCOMPARE(sources.first().filePath, path);
    QCOMPARE(storedRows(sources.first().id), kBigRows);
    QCOMPARE(storedProjectIn(m_folders.databasePath, projectId).dataSourcePath, path);
    QCOMPARE(page()->sourceCombo()->count(), 1);
    QCOMPARE(page()->sourceCombo()->itemData(0).toLongLong(), sources.first().id);
    QCOMPARE(page()->statusLabel()->text(),
             QStringLiteral("Live data sources: 1 files · current file: %1 rows · table preview limited to 1,000 rows")
                 .arg(kBigRows));
    QCOMPARE(table()->rowCount(), 1000);
    QCOMPARE(cell(table(), 999, 1), QStringLiteral("Name 1000"));
    QCOMPARE(m_window->cardRecords().size(), kBigRows);
    QCOMPARE(m_window->dataSync()->storedSignature(), computeDataSourceSignature(sources));
    QVERIFY(m_window->dataSync()->pollTimer()->isActive());
}

void TestImportProgress::cancelLeavesDatabaseUnchanged_data()
{
    QTest::addColumn<bool>("knownFile");
    QTest::addColumn<QString>("how");

    QTest::newRow("new file, Cancel") << false << QStringLiteral("button");
    QTest::newRow("new file, dialog closed") << false << QStringLiteral("close");
    QTest::newRow("known file again, Cancel") << true << QStringLiteral("button");
    QTest::newRow("known file again, Escape") << true << QStringLiteral("escape");
}

// Whether the file is new to the project or replaces the rows of one it
// has, a cancelled import leaves the database, and what the window shows,
// as they were.
void TestImportProgress::cancelLeavesDatabaseUnchanged()
{
    QFETCH(bool, knownFile);
    QFETCH(QString, how);

    QVERIFY(startWindow());
    const qint64 projectId = m_window->currentProject().id;
    const QString path = filePath(QStringLiteral("tickets.csv"));
    if (knownFile) {
        QVERIFY(writeFile(path, ticketCsv(5)));
        importFile(path);
        QCOMPARE(status(), QStringLiteral("Added data file: tickets.csv"));
    }
    QVERIFY(writeFile(path, ticketCsv(kBigRows)));
    const QStringList before = dump();
    const QStringList sourcesShown = [this] {
        QStringList texts;
        for (int i = 0; i < page()->sourceCombo()->count(); ++i)
            texts << page()->sourceCombo()->itemText(i);
        return texts;
    }();
    const int rowsShown = table()->rowCount();
    const QString lastNameShown = cell(table(), rowsShown - 1, 1);
    const qsizetype cardsBefore = m_window->cardRecords().size();

    WriteLock lock(m_folders.databasePath);
    QVERIFY(lock.isHeld());
    bool stayedUp = false;
    QString cancellingLabel;
    Steps steps({
        [&] {
            ImportProgressDialog *dialog = shownProgressDialog();
            if (!dialog)
                return false;
            if (how == QLatin1String("button"))
                QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
            else if (how == QLatin1String("escape"))
                QTest::keyClick(dialog, Qt::Key_Escape);
            else
                dialog->close();
            // Up until the import has rolled back, the window behind it blocked.
            stayedUp = dialog->isVisible() && !dialog->cancelButton()->isEnabled()
                       && QApplication::activeModalWidget() == dialog;
            cancellingLabel = dialog->label()->text();
            lock.release();
            return true;
        },
    });
    // A different delimiter: the known source's options stay too.
    importFile(path, [](ImportDialog &dialog) { dialog.delimiterCombo()->setCurrentIndex(1); });

    QVERIFY(steps.allDone());
    QVERIFY(stayedUp);
    QCOMPARE(cancellingLabel, QStringLiteral("Cancelling the import…"));
    QVERIFY(!shownProgressDialog());
    QVERIFY2(m_script->shown.isEmpty(), qPrintable(m_script->shown.value(0).text));
    QCOMPARE(status(), QStringLiteral("Import cancelled; the project's data is unchanged"));
    QCOMPARE(dump(), before);
    QCOMPARE(openTestStore(m_folders.databasePath)->loadDataSources(projectId).size(), knownFile ? 1 : 0);

    QStringList sourcesAfter;
    for (int i = 0; i < page()->sourceCombo()->count(); ++i)
        sourcesAfter << page()->sourceCombo()->itemText(i);
    QCOMPARE(sourcesAfter, sourcesShown);
    QCOMPARE(table()->rowCount(), rowsShown);
    QCOMPARE(cell(table(), rowsShown - 1, 1), lastNameShown);
    QCOMPARE(m_window->cardRecords().size(), cardsBefore);
}

void TestImportProgress::failureShowsErrorBox_data()
{
    QTest::addColumn<bool>("late");

    QTest::newRow("file gone after the preview") << false;
    // After thousands of rows went into the transaction.
    QTest::newRow("bad row near the end") << true;
}

void TestImportProgress::failureShowsErrorBox()
{
    QFETCH(bool, late);

    QVERIFY(startWindow());
    const QString path = filePath(QStringLiteral("failing.csv"));
    QVERIFY(writeFile(path, late ? ticketsWithWideRow(kBigRows, kBigRows - 10) : ticketCsv(3)));
    const QStringList before = dump();

    importFile(path, [&](ImportDialog &) {
        if (!late)
            QVERIFY(QFile::remove(path));
    });

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("critical"));
    QCOMPARE(m_script->shown.first().title, QStringLiteral("Variable data import failed"));
    QCOMPARE(m_script->shown.first().text, readerMessage(path));
    QVERIFY(!m_script->shown.first().text.isEmpty());
    QCOMPARE(dump(), before);
    QCOMPARE(page()->sourceCombo()->count(), 0);
    QVERIFY(!status().startsWith(QStringLiteral("Added data file")));
    QVERIFY(!runner()->isBusy());
}

void TestImportProgress::leavingDuringImport_data()
{
    QTest::addColumn<Leaving>("leaving");

    QTest::newRow("window closed") << Leaving::Closed;
    // Never shown, so not hidden on its way out either: its end alone stops the work.
    QTest::newRow("window destroyed") << Leaving::Destroyed;
    QTest::newRow("other project opened") << Leaving::OtherProject;
}

// The import belongs to the project and the window it was started in: gone
// with them, it is cancelled and nothing of it is written.
void TestImportProgress::leavingDuringImport()
{
    QFETCH(Leaving, leaving);

    QVERIFY(startWithTwoProjects(3, leaving != Leaving::Destroyed));
    const QString path = filePath(QStringLiteral("more.csv"));
    QVERIFY(writeFile(path, ticketCsv(kBigRows)));
    const QStringList before = dump();

    WriteLock lock(m_folders.databasePath);
    QVERIFY(lock.isHeld());
    Steps steps({
        [&] {
            if (!shownProgressDialog())
                return false;
            switch (leaving) {
            case Leaving::Closed:
                m_window->close();
                lock.release();
                break;
            case Leaving::Destroyed:
                // The window's end waits for the import, which waits for the
                // lock: let go of it from the lock's own thread.
                lock.releaseAfter(std::chrono::milliseconds(400));
                m_window.reset();
                break;
            case Leaving::OtherProject:
                m_window->openSelectedProject(
                    m_window->projectPanel()->projectSelector()->findText(QStringLiteral("Plain")));
                lock.release();
                break;
            }
            return true;
        },
    });
    importFile(path);

    QVERIFY(steps.allDone());
    QCOMPARE(dump(), before);
    if (leaving == Leaving::Destroyed) {
        QVERIFY(!m_window);
        return;
    }
    QVERIFY2(m_script->shown.isEmpty(), qPrintable(m_script->shown.value(0).text));
    QVERIFY(!shownProgressDialog());
    QVERIFY(!runner()->isBusy());
    if (leaving == Leaving::Closed) {
        QVERIFY(!m_window->isVisible());
        QCOMPARE(status(), QStringLiteral("Import cancelled; the project's data is unchanged"));
    } else {
        QCOMPARE(m_window->currentProject().name, QStringLiteral("Plain"));
        QCOMPARE(status(), QStringLiteral("Opened project: Plain"));
        QCOMPARE(page()->sourceCombo()->count(), 0);
        QVERIFY(m_window->cardRecords().isEmpty());
        QCOMPARE(m_window->currentProject().dataSourcePath, QString());
    }
}

// A re-read of a changed file goes on behind the window: no dialog, the old
// rows on show until the new ones are in.
void TestImportProgress::refreshRunsInBackground()
{
    QVERIFY(startWithTwoProjects(3));
    const QString path = m_window->dataSources().first().filePath;
    const qint64 sourceId = m_window->dataSources().first().id;
    QSignalSpy started(runner(), &DataImportRunner::started);

    WriteLock lock(m_folders.databasePath);
    QVERIFY(lock.isHeld());
    QVERIFY(replaceFile(path, ticketCsv(kBigRows)));
    QTRY_COMPARE(started.count(), 1);

    QVERIFY(runner()->isBusy());
    QVERIFY(!shownProgressDialog());
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(status(), QStringLiteral("Refreshing data files…"));
    QCOMPARE(table()->rowCount(), 3);
    PaintCounter paints(m_window->pageTabs());
    m_window->pageTabs()->update();
    QTRY_VERIFY(paints.count > 0);

    lock.release();
    QTRY_COMPARE(status(), QStringLiteral("Excel/CSV auto-synced: %1 records").arg(kBigRows));
    QCOMPARE(started.count(), 1);
    QCOMPARE(storedRows(sourceId), kBigRows);
    QCOMPARE(table()->rowCount(), 1000);
    QCOMPARE(m_window->cardRecords().size(), kBigRows);
    QCOMPARE(m_window->dataSync()->storedSignature(), computeDataSourceSignature(m_window->dataSources()));
    QVERIFY(m_script->shown.isEmpty());
}

// A change seen while a re-read runs is held, and re-read once that one
// has ended: never two at once.
void TestImportProgress::changeDuringRefreshIsQueued()
{
    QVERIFY(startWithTwoProjects(3));
    const QString path = m_window->dataSources().first().filePath;
    const qint64 sourceId = m_window->dataSources().first().id;
    QStringList runs;
    connect(runner(), &DataImportRunner::started, this, [&runs] { runs << QStringLiteral("started"); });
    connect(runner(), &DataImportRunner::finished, this, [&runs] { runs << QStringLiteral("finished"); });
    DataSync *sync = m_window->dataSync();
    QSignalSpy syncs(sync, &DataSync::syncDue);

    WriteLock lock(m_folders.databasePath);
    QVERIFY(lock.isHeld());
    QVERIFY(replaceFile(path, ticketCsv(5)));
    QTRY_COMPARE(runs, QStringList{QStringLiteral("started")});

    QSignalSpy reported(sync->watcher(), &QFileSystemWatcher::directoryChanged);
    QVERIFY(replaceFile(path, ticketCsv(7)));
    QVERIFY(reported.wait());
    // Held: the sync timer does not even start while the re-read runs.
    QVERIFY(sync->isBusy());
    QVERIFY(!sync->syncTimer()->isActive());
    QCOMPARE(runs, QStringList{QStringLiteral("started")});
    QCOMPARE(syncs.count(), 1);

    lock.release();
    const QStringList twoRuns{QStringLiteral("started"), QStringLiteral("finished"), QStringLiteral("started"),
                              QStringLiteral("finished")};
    QTRY_COMPARE_WITH_TIMEOUT(runs, twoRuns, 8000);
    QCOMPARE(syncs.count(), 2);
    QCOMPARE(status(), QStringLiteral("Excel/CSV auto-synced: 7 records"));
    QCOMPARE(storedRows(sourceId), 7);
    QCOMPARE(table()->rowCount(), 7);
    QVERIFY(!sync->isBusy());
}

// An import asked for while a re-read runs waits behind it, under its
// dialog: the two never write at once.
void TestImportProgress::importWaitsForRunningRefresh()
{
    QVERIFY(startWithTwoProjects(3));
    const QString refreshed = m_window->dataSources().first().filePath;
    const qint64 refreshedId = m_window->dataSources().first().id;
    QStringList runs;
    connect(runner(), &DataImportRunner::started, this, [&runs] { runs << QStringLiteral("started"); });
    connect(runner(), &DataImportRunner::finished, this, [&runs] { runs << QStringLiteral("finished"); });

    WriteLock lock(m_folders.databasePath);
    QVERIFY(lock.isHeld());
    QVERIFY(replaceFile(refreshed, ticketCsv(5)));
    QTRY_COMPARE(runs, QStringList{QStringLiteral("started")});

    const QString added = filePath(QStringLiteral("added.csv"));
    QVERIFY(writeFile(added, ticketCsv(kBigRows)));
    QStringList runsUnderDialog;
    Steps steps({
        [&] {
            if (!shownProgressDialog())
                return false;
            runsUnderDialog = runs;
            lock.release();
            return true;
        },
    });
    importFile(added);

    QVERIFY(steps.allDone());
    QCOMPARE(runsUnderDialog, QStringList{QStringLiteral("started")});
    QCOMPARE(runs, (QStringList{QStringLiteral("started"), QStringLiteral("finished"), QStringLiteral("started"),
                                QStringLiteral("finished")}));
    QVERIFY2(m_script->shown.isEmpty(), qPrintable(m_script->shown.value(0).text));
    QCOMPARE(status(), QStringLiteral("Added data file: added.csv"));
    QCOMPARE(storedRows(refreshedId), 5);
    QCOMPARE(m_window->dataSources().size(), 2);
    QCOMPARE(storedRows(m_window->dataSources().last().id), kBigRows);
    QCOMPARE(m_window->cardRecords().size(), kBigRows);
}

void TestImportProgress::leavingDuringRefresh_data()
{
    QTest::addColumn<Leaving>("leaving");

    QTest::newRow("window closed") << Leaving::Closed;
    // Never shown, so not hidden on its way out either: its end alone stops the work.
    QTest::newRow("window destroyed") << Leaving::Destroyed;
    QTest::newRow("other project opened") << Leaving::OtherProject;
}

// Closed or destroyed, the window takes its re-read with it and the rows
// stay as they were. Another project opened, the re-read of the previous
// one's file may finish, since they are its rows, but the project now shown
// is not touched.
void TestImportProgress::leavingDuringRefresh()
{
    QFETCH(Leaving, leaving);

    QVERIFY(startWithTwoProjects(3, leaving != Leaving::Destroyed));
    const QString path = m_window->dataSources().first().filePath;
    const qint64 sourceId = m_window->dataSources().first().id;
    QSignalSpy started(runner(), &DataImportRunner::started);
    const QStringList before = dump();

    WriteLock lock(m_folders.databasePath);
    QVERIFY(lock.isHeld());
    QVERIFY(replaceFile(path, ticketCsv(5)));
    QTRY_COMPARE(started.count(), 1);

    switch (leaving) {
    case Leaving::Closed:
        m_window->close();
        lock.release();
        QTRY_VERIFY(!runner()->isBusy());
        QCOMPARE(dump(), before);
        QVERIFY(!status().startsWith(QStringLiteral("Excel/CSV auto-synced")));
        break;
    case Leaving::Destroyed:
        lock.releaseAfter(std::chrono::milliseconds(400));
        m_window.reset();
        QCOMPARE(dump(), before);
        break;
    case Leaving::OtherProject: {
        m_window->openSelectedProject(m_window->projectPanel()->projectSelector()->findText(QStringLiteral("Plain")));
        QSignalSpy finished(runner(), &DataImportRunner::finished);
        lock.release();
        QVERIFY(finished.wait());
        QCOMPARE(storedRows(sourceId), 5);
        QCOMPARE(m_window->currentProject().name, QStringLiteral("Plain"));
        QCOMPARE(status(), QStringLiteral("Opened project: Plain"));
        QCOMPARE(page()->statusLabel()->text(), QStringLiteral("Live data source: not connected"));
        QCOMPARE(page()->sourceCombo()->count(), 0);
        QVERIFY(m_window->cardRecords().isEmpty());
        QVERIFY(m_window->dataSync()->sources().isEmpty());
        QCOMPARE(m_window->dataSync()->storedSignature(), QString());
        break;
    }
    }
    QVERIFY(m_script->shown.isEmpty());
}

QTEST_MAIN(TestImportProgress)
#include "tst_importprogress.moc"
