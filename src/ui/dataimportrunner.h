#pragma once

#include "model/datasource.h"

#include <QEventLoop>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class DataSync;
class QThread;
class QWidget;

// How an import or a re-read of data files ended.
struct DataImportOutcome
{
    enum class Status { Succeeded, Failed, Cancelled };

    Status status = Status::Cancelled;
    qint64 projectId = 0;
    std::optional<DataSource> source; // an import's source, as stored
    QString error;                    // a failure's message
};

// Reads data files into the project database away from the window's thread,
// so that the window keeps painting: "Import Data" behind the "Importing
// Data" dialog, whose Cancel stops it, and the live sync's re-read of the
// project's files in the background. The work runs on a thread of its own
// with a connection of its own to the database file. The store writes each
// file in one transaction, so a cancelled or failed run leaves the stored
// rows as they were, and the window's connection reads the last committed
// rows meanwhile (the database is in WAL mode).
//
// One run at a time: an import asked for during a re-read waits for it, and
// the live sync is held busy while anything runs, so that a change seen
// meanwhile is re-read afterwards, never alongside. Closing the window
// cancels what runs; destroying the runner waits for its thread. Once
// another project is open, a running import of the previous one is
// cancelled, and a re-read of its files may finish (they are its own rows)
// but is not shown.
class DataImportRunner : public QObject
{
    Q_OBJECT

public:
    // The dialog shows only for an import that takes longer than this.
    static constexpr int kDialogDelayMs = 300;

    // `window` parents the dialog and is watched for being closed; `sync`
    // is the live sync whose re-reads this runs.
    DataImportRunner(QString databasePath, DataSync *sync, QWidget *window);
    ~DataImportRunner() override;

    // Adds the file at `path` to project `projectId`, or updates its source,
    // as upsertDataSource (app/dataimport.h) does. Returns when the import has
    // ended. Meanwhile the event loop runs: without user input until the
    // dialog shows, then with the window blocked behind the dialog.
    DataImportOutcome importFile(qint64 projectId, const QString &path, const DataSourceOptions &options);

    // The live sync's step (DataSync::syncDue) for the open project: a
    // missing file is retried, unchanged files only renew the watcher, and
    // changed ones are all re-read in the background. sourcesRefreshed()
    // follows a re-read of every file; a failed one is retried as the sync
    // retries, then reported in the status bar.
    void syncSources(qint64 projectId);

    // The window now shows project `projectId`.
    void setOpenProject(qint64 projectId);

    bool isBusy() const { return m_running != nullptr; }

signals:
    void started();
    void finished();
    // Every file of the open project was re-read: the window shows the new rows.
    void sourcesRefreshed();
    void statusMessage(const QString &text, int timeoutMs);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Run;

    static void runOnWorker(const QString &databasePath, Run &run);
    void enqueue(const std::shared_ptr<Run> &run);
    void start(const std::shared_ptr<Run> &run);
    void finishRunning();
    void cancel(const std::shared_ptr<Run> &run);
    void cancelAll();
    // Runs the event loop until `run` is done or `timeoutMs` passed
    // (negative: no limit). False when the runner was destroyed meanwhile.
    bool waitFor(const std::shared_ptr<Run> &run, int timeoutMs, QEventLoop::ProcessEventsFlags flags);
    void followRefresh(const Run &run);

    QString m_databasePath;
    QPointer<DataSync> m_sync;
    QPointer<QWidget> m_window;
    qint64 m_openProjectId = 0;
    std::shared_ptr<Run> m_running;
    QThread *m_thread = nullptr;
    QList<std::shared_ptr<Run>> m_queue;
    // The waits of importFile in progress, innermost last.
    QList<QEventLoop *> m_loops;
};
