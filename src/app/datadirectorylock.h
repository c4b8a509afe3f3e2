#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

class QLockFile;

// The process that holds a data directory's lock, as its lock file names it.
struct DataDirectoryLockHolder
{
    qint64 pid = 0;
    QString hostName;
    QString program; // the holder's executable
};

struct DataDirectoryLockAttempt;
DataDirectoryLockAttempt lockDataDirectory(const QString &dataDirectory);

// Ownership of a data directory's lock: one window per directory, so that two
// windows never edit the same database behind each other's back. Released when
// destroyed. The command-line tool takes no lock and works beside a window.
class DataDirectoryLock
{
public:
    DataDirectoryLock();
    DataDirectoryLock(DataDirectoryLock &&) noexcept;
    DataDirectoryLock &operator=(DataDirectoryLock &&) noexcept;
    ~DataDirectoryLock();

    bool isHeld() const;

private:
    friend DataDirectoryLockAttempt lockDataDirectory(const QString &dataDirectory);
    std::unique_ptr<QLockFile> m_file;
};

// What an attempt to take the lock came to. `message` says why it failed:
// which process holds the directory, or why the lock file could not be made.
struct DataDirectoryLockAttempt
{
    enum class Outcome { Locked, HeldElsewhere, Failed };

    Outcome outcome = Outcome::Failed;
    DataDirectoryLock lock;
    DataDirectoryLockHolder holder; // HeldElsewhere only
    QString message;
};

// The lock file in `dataDirectory`.
QString dataDirectoryLockPath(const QString &dataDirectory);

// Takes the lock of `dataDirectory` (which must exist) by creating its lock
// file atomically. A lock file left by a process that is gone (killed, or a
// crash) is taken over; one whose pid now belongs to another program counts
// as gone too, so that a recycled pid does not keep the directory locked.
DataDirectoryLockAttempt lockDataDirectory(const QString &dataDirectory);

// The title and text shown when another window holds the directory.
QString dataDirectoryInUseTitle();
QString dataDirectoryInUseText(const QString &dataDirectory, const DataDirectoryLockHolder &holder);
