#include "app/datadirectorylock.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

DataDirectoryLock::DataDirectoryLock() = default;
DataDirectoryLock::DataDirectoryLock(DataDirectoryLock &&) noexcept = default;
DataDirectoryLock &DataDirectoryLock::operator=(DataDirectoryLock &&) noexcept = default;
DataDirectoryLock::~DataDirectoryLock() = default; // QLockFile removes its file when destroyed

bool DataDirectoryLock::isHeld() const
{
    return m_file && m_file->isLocked();
}

QString dataDirectoryLockPath(const QString &dataDirectory)
{
    return QDir(dataDirectory).filePath(QStringLiteral("vellumor-vdp.lock"));
}

DataDirectoryLockAttempt lockDataDirectory(const QString &dataDirectory)
{
    DataDirectoryLockAttempt attempt;
    const QString path = dataDirectoryLockPath(dataDirectory);
    auto file = std::make_unique<QLockFile>(path);
    // A window may stay open for days without touching its lock file, and
    // not every file system keeps the advisory lock QLockFile adds (network
    // homes): only a holder that is gone makes the lock stale, never its age.
    file->setStaleLockTime(0);
    if (file->tryLock(0)) {
        attempt.outcome = DataDirectoryLockAttempt::Outcome::Locked;
        attempt.lock.m_file = std::move(file);
        return attempt;
    }

    switch (file->error()) {
    case QLockFile::LockFailedError: {
        attempt.outcome = DataDirectoryLockAttempt::Outcome::HeldElsewhere;
        // The file names the holder's pid, host and executable.
        file->getLockInfo(&attempt.holder.pid, &attempt.holder.hostName, &attempt.holder.program);
        attempt.message = dataDirectoryInUseText(QDir::toNativeSeparators(dataDirectory), attempt.holder);
        break;
    }
    case QLockFile::PermissionError:
        attempt.message = QStringLiteral("Could not create the lock file %1: permission denied")
                              .arg(QDir::toNativeSeparators(path));
        break;
    case QLockFile::NoError:
    case QLockFile::UnknownError:
        attempt.message = QStringLiteral("Could not create the lock file %1")
                              .arg(QDir::toNativeSeparators(path));
        break;
    }
    return attempt;
}

QString dataDirectoryInUseTitle()
{
    return QStringLiteral("Data Directory In Use");
}

QString dataDirectoryInUseText(const QString &dataDirectory, const DataDirectoryLockHolder &holder)
{
    QString who;
    if (holder.pid > 0) {
        const QString program = QFileInfo(holder.program).fileName();
        who = QStringLiteral(" (process %1%2%3)")
                  .arg(holder.pid)
                  .arg(program.isEmpty() ? QString() : QStringLiteral(", ") + program)
                  .arg(holder.hostName.isEmpty() ? QString() : QStringLiteral(" on ") + holder.hostName);
    }
    return QStringLiteral("The data directory %1 is already open in another Vellumor VDP window%2. "
                          "Close that window first, or start with another data directory.")
        .arg(dataDirectory, who);
}
