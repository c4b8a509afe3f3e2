#pragma once

// The write lock of a database file, taken by a connection on a thread of its
// own (a Qt connection belongs to the thread that made it) and held until
// released from any thread. An import started meanwhile waits at its BEGIN
// IMMEDIATE, so that a test knows it is still running while it looks, and
// decides when it may go on.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QUuid>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

class WriteLock
{
public:
    // Returns once the lock is held, or could not be taken (isHeld() says).
    explicit WriteLock(const QString &databasePath)
        : m_thread([this, databasePath] { hold(databasePath); })
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_state != State::Starting; });
    }
    ~WriteLock()
    {
        release();
        m_thread.join();
    }
    WriteLock(const WriteLock &) = delete;
    WriteLock &operator=(const WriteLock &) = delete;

    bool isHeld() const
    {
        const std::lock_guard lock(m_mutex);
        return m_state == State::Held;
    }

    void release() { releaseAfter(std::chrono::milliseconds(0)); }

    // Lets go once `delay` has passed, timed on the lock's own thread, so
    // that the caller may block meanwhile (on a thread that waits for the
    // import, say).
    void releaseAfter(std::chrono::milliseconds delay)
    {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_releaseAt)
                m_releaseAt = std::chrono::steady_clock::now() + delay;
        }
        m_changed.notify_all();
    }

private:
    enum class State { Starting, Held, Failed, Released };

    void hold(const QString &databasePath)
    {
        const QString name = QStringLiteral("write_lock_%1").arg(QUuid::createUuid().toString(QUuid::Id128));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(databasePath);
            bool held = db.open();
            if (held)
                held = QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE"));
            {
                std::unique_lock lock(m_mutex);
                m_state = held ? State::Held : State::Failed;
                m_changed.notify_all();
                if (held) {
                    m_changed.wait(lock, [this] { return m_releaseAt.has_value(); });
                    m_changed.wait_until(lock, *m_releaseAt, [] { return false; });
                }
            }
            // A rollback: nothing was written, so the reader snapshots of
            // other connections stay current.
            if (held)
                QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        const std::lock_guard lock(m_mutex);
        m_state = State::Released;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    State m_state = State::Starting;
    std::optional<std::chrono::steady_clock::time_point> m_releaseAt;
    // Last: started once everything it uses exists.
    std::thread m_thread;
};
