#pragma once

#include "model/datasource.h"

#include <QList>
#include <QObject>
#include <QString>

class QFileSystemWatcher;
class QTimer;

// The state of the data files on disk: for each source in order
// "<id>:<modified ms since the epoch>:<size>", or "<id>:missing"; joined with "|".
QString computeDataSourceSignature(const QList<DataSource> &sources);

// Notices when the project's data files change on disk and says when to re-read
// them (syncDue). Two paths lead there: the file-system watcher, which is quick
// but can miss a change (a file replaced through a rename is no longer the one
// watched, and some network folders report nothing), and a poll that compares
// the signature. Either one only starts the sync timer, so the burst of reports
// from one save leads to one re-read 800 ms after the last of them.
//
// What a re-read does, and whether it failed, is the window's business; this
// class keeps the retry count and the file-changed flag for it. While a
// re-read or an import runs (setBusy), a trigger is held rather than acted
// on, and the one sync it asks for follows once the work is done: re-reads
// never overlap.
class DataSync : public QObject
{
    Q_OBJECT

public:
    static constexpr int kSyncDelayMs = 800;
    static constexpr int kPollIntervalMs = 1200;
    static constexpr int kRetryDelayMs = 600;
    static constexpr int kMaxRetries = 10;

    explicit DataSync(QObject *parent = nullptr);

    // The sources to watch. Watcher and signature follow only on renewWatcher()
    // and storeSignature().
    void setSources(const QList<DataSource> &sources);
    const QList<DataSource> &sources() const { return m_sources; }

    QString storedSignature() const { return m_signature; }
    void storeSignature();
    // A signature computed earlier, before a re-read began: a change written
    // while it ran then still differs from what is stored.
    void storeSignature(const QString &signature);
    bool signatureChanged() const;
    bool anyFileMissing() const;

    // Set when the watcher reported a change of a file itself (not only of its
    // folder): that change is re-read even when size and time look the same.
    bool fileChanged() const { return m_fileChanged; }
    int retries() const { return m_retries; }
    // Clears the retry counter and the file-changed flag.
    void clearRetries();
    // Counts a failed attempt. While retries are left, schedules the next one
    // and returns true; the attempt after the last retry clears the counter and
    // returns false: time to tell the user.
    bool retryLater();

    // Watches each source's file that exists and each folder that exists.
    void renewWatcher();
    // Polls while there are sources, and not at all without.
    void updatePolling();

    // Holds the triggers while true; clearing it starts the sync timer when
    // one came meanwhile.
    void setBusy(bool busy);
    bool isBusy() const { return m_busy; }
    // What a trigger does: (re)starts the sync timer, or is held while busy.
    void scheduleSync();

    QFileSystemWatcher *watcher() const { return m_watcher; }
    QTimer *syncTimer() const { return m_syncTimer; }
    QTimer *pollTimer() const { return m_pollTimer; }

signals:
    void syncDue();

private:
    QList<DataSource> m_sources;
    QString m_signature;
    int m_retries = 0;
    bool m_fileChanged = false;
    bool m_busy = false;
    bool m_held = false;
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer *m_syncTimer = nullptr;
    QTimer *m_pollTimer = nullptr;
};
