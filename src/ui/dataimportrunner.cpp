#include "ui/dataimportrunner.h"

#include "app/dataimport.h"
#include "store/projectstore.h"
#include "ui/datasync.h"
#include "ui/importprogressdialog.h"

#include <QApplication>
#include <QEvent>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <utility>

struct DataImportRunner::Run
{
    enum class Kind { Import, Refresh };

    Kind kind = Kind::Import;
    qint64 projectId = 0;
    QString filePath;          // an import's
    DataSourceOptions options; // an import's
    QList<qint64> sourceIds;   // a re-read's, in source order
    QString signature;         // the files' state when a re-read began
    std::atomic<bool> cancelRequested = false;
    // Written on the worker thread, read once it has been waited for.
    DataImportOutcome outcome;
    bool done = false;
};

namespace {

bool openWorkerStore(ProjectStore &store, const QString &databasePath, QString *error)
{
    // The window's settings, foreign keys above all: rows for a source
    // deleted meanwhile must be refused.
    return store.openDatabase(databasePath, error) && store.applyConnectionSettings(error);
}

} // namespace

DataImportRunner::DataImportRunner(QString databasePath, DataSync *sync, QWidget *window)
    : QObject(window)
    , m_databasePath(std::move(databasePath))
    , m_sync(sync)
    , m_window(window)
{
    if (window)
        window->installEventFilter(this);
}

DataImportRunner::~DataImportRunner()
{
    for (QEventLoop *loop : std::as_const(m_loops))
        loop->quit();
    m_queue.clear();
    if (m_running) {
        m_running->cancelRequested = true;
        m_thread->wait();
        delete m_thread;
    }
    if (m_sync)
        m_sync->setBusy(false);
}

DataImportOutcome DataImportRunner::importFile(qint64 projectId, const QString &path,
                                               const DataSourceOptions &options)
{
    auto run = std::make_shared<Run>();
    run->projectId = projectId;
    run->filePath = path;
    run->options = options;
    enqueue(run);

    DataImportOutcome destroyed;
    destroyed.projectId = projectId;
    {
        // Until the dialog shows, nothing blocks the window: the user's input
        // waits rather than reaching a window that is in the middle of an
        // import, and the cursor says why.
        QApplication::setOverrideCursor(Qt::BusyCursor);
        const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        if (!waitFor(run, kDialogDelayMs, QEventLoop::ExcludeUserInputEvents))
            return destroyed;
    }
    if (!run->done) {
        // Parented to the window, which may go while the dialog is up.
        const QPointer<ImportProgressDialog> dialog = new ImportProgressDialog(m_window);
        connect(dialog, &ImportProgressDialog::cancelRequested, this, [this, run] { cancel(run); });
        dialog->open();
        const bool alive = waitFor(run, -1, QEventLoop::AllEvents);
        delete dialog.data();
        if (!alive)
            return destroyed;
    }
    if (!run->done) {
        // The loop was told to end (the application is quitting) and cannot
        // run again: the import stops and the worker is waited for here.
        cancel(run);
        if (m_running == run)
            finishRunning();
    }
    return run->outcome;
}

void DataImportRunner::syncSources(qint64 projectId)
{
    if (!m_sync)
        return;
    if (isBusy()) {
        m_sync->scheduleSync();
        return;
    }
    const QList<DataSource> sources = m_sync->sources();
    if (sources.isEmpty())
        return;

    // A file being saved is often briefly gone (written to a temporary name,
    // then renamed); its stored rows stay until it is back.
    if (m_sync->anyFileMissing()) {
        if (!m_sync->retryLater())
            emit statusMessage(tr("The data-source file is temporarily unavailable."), 8000);
        return;
    }
    if (!m_sync->fileChanged() && !m_sync->signatureChanged()) {
        m_sync->renewWatcher();
        return;
    }

    auto run = std::make_shared<Run>();
    run->kind = Run::Kind::Refresh;
    run->projectId = projectId;
    for (const DataSource &source : sources)
        run->sourceIds.append(source.id);
    run->signature = computeDataSourceSignature(sources);
    emit statusMessage(tr("Refreshing data files…"), 0);
    enqueue(run);
}

void DataImportRunner::setOpenProject(qint64 projectId)
{
    m_openProjectId = projectId;
    // An import belongs to the project it was asked for in.
    const QList<std::shared_ptr<Run>> runs = QList<std::shared_ptr<Run>>{m_running} + m_queue;
    for (const std::shared_ptr<Run> &run : runs) {
        if (run && run->kind == Run::Kind::Import && run->projectId != projectId)
            cancel(run);
    }
}

bool DataImportRunner::eventFilter(QObject *watched, QEvent *event)
{
    // A close that went through hides the window (a minimised one is hidden
    // spontaneously): what it started should not outlast it.
    if (watched == m_window && event->type() == QEvent::Hide && !event->spontaneous())
        cancelAll();
    return QObject::eventFilter(watched, event);
}

void DataImportRunner::enqueue(const std::shared_ptr<Run> &run)
{
    if (m_running)
        m_queue.append(run);
    else
        start(run);
}

void DataImportRunner::start(const std::shared_ptr<Run> &run)
{
    m_running = run;
    if (m_sync)
        m_sync->setBusy(true);

    m_thread = QThread::create([run, path = m_databasePath] { runOnWorker(path, *run); });
    connect(m_thread, &QThread::finished, this, [this, run] {
        // Already finished when the import was waited for without the loop.
        if (m_running == run)
            finishRunning();
    });
    m_thread->start();
    emit started();
}

// On the worker thread. Qt's SQL connections may only be used on the thread
// that made them, so the store is opened, used and closed here.
void DataImportRunner::runOnWorker(const QString &databasePath, Run &run)
{
    const auto cancelled = [&run] { return run.cancelRequested.load(std::memory_order_relaxed); };
    DataImportOutcome &outcome = run.outcome;
    outcome.projectId = run.projectId;
    ProjectStore store;
    QString error;
    bool ok = openWorkerStore(store, databasePath, &error);
    if (ok && run.kind == Run::Kind::Import) {
        outcome.source = upsertDataSource(store, run.projectId, run.filePath, run.options, &error, cancelled);
        ok = outcome.source.has_value();
    } else if (ok) {
        for (const qint64 id : std::as_const(run.sourceIds)) {
            ok = !cancelled() && reloadDataSource(store, id, &error, cancelled);
            if (!ok)
                break;
        }
    }
    // A cancel that came after the commit changes nothing: the rows are in.
    if (ok)
        outcome.status = DataImportOutcome::Status::Succeeded;
    else if (cancelled())
        outcome.status = DataImportOutcome::Status::Cancelled;
    else {
        outcome.status = DataImportOutcome::Status::Failed;
        outcome.error = error;
    }
}

void DataImportRunner::finishRunning()
{
    m_thread->wait();
    delete std::exchange(m_thread, nullptr);
    const std::shared_ptr<Run> run = std::exchange(m_running, nullptr);
    run->done = true;
    // With more to run the sync stays held, so that no re-read slips in between.
    if (m_queue.isEmpty() && m_sync)
        m_sync->setBusy(false);
    if (run->kind == Run::Kind::Refresh)
        followRefresh(*run);
    emit finished();
    // Unless something started from the signal.
    if (!m_running && !m_queue.isEmpty())
        start(m_queue.takeFirst());
}

void DataImportRunner::cancel(const std::shared_ptr<Run> &run)
{
    run->cancelRequested = true;
    if (m_queue.removeOne(run)) {
        run->outcome.projectId = run->projectId;
        run->outcome.status = DataImportOutcome::Status::Cancelled;
        run->done = true;
        emit finished();
    }
}

void DataImportRunner::cancelAll()
{
    const QList<std::shared_ptr<Run>> queued = m_queue;
    for (const std::shared_ptr<Run> &run : queued)
        cancel(run);
    if (m_running)
        cancel(m_running);
}

bool DataImportRunner::waitFor(const std::shared_ptr<Run> &run, int timeoutMs,
                               QEventLoop::ProcessEventsFlags flags)
{
    if (run->done)
        return true;
    const QPointer<DataImportRunner> alive(this);
    QEventLoop loop;
    connect(this, &DataImportRunner::finished, &loop, [&loop, run] {
        if (run->done)
            loop.quit();
    });
    QTimer timeout;
    if (timeoutMs >= 0) {
        timeout.setSingleShot(true);
        connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        timeout.start(timeoutMs);
    }
    m_loops.append(&loop);
    loop.exec(flags);
    if (!alive)
        return false;
    m_loops.removeOne(&loop);
    return true;
}

void DataImportRunner::followRefresh(const Run &run)
{
    // Another project is open by now; its sync starts from its own files.
    if (run.projectId != m_openProjectId || !m_sync)
        return;
    switch (run.outcome.status) {
    case DataImportOutcome::Status::Cancelled:
        // Only a close cancels a re-read. The signature stays as it was, so
        // the change is still seen as one.
        return;
    case DataImportOutcome::Status::Failed:
        // The source keeps its previous rows; a half-written file usually
        // reads on a later attempt.
        if (!m_sync->retryLater()) {
            emit statusMessage(tr("Could not refresh data: %1").arg(run.outcome.error), 10000);
            m_sync->renewWatcher();
        }
        return;
    case DataImportOutcome::Status::Succeeded:
        m_sync->clearRetries();
        m_sync->storeSignature(run.signature);
        m_sync->renewWatcher();
        emit sourcesRefreshed();
        return;
    }
}
