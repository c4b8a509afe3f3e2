#include "ui/datasync.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <utility>

QString computeDataSourceSignature(const QList<DataSource> &sources)
{
    QStringList parts;
    parts.reserve(sources.size());
    for (const DataSource &source : sources) {
        const QFileInfo file(source.filePath);
        if (!file.exists()) {
            parts << QStringLiteral("%1:missing").arg(source.id);
            continue;
        }
        parts << QStringLiteral("%1:%2:%3")
                     .arg(source.id)
                     .arg(file.lastModified().toMSecsSinceEpoch())
                     .arg(file.size());
    }
    return parts.join(u'|');
}

DataSync::DataSync(QObject *parent)
    : QObject(parent)
    , m_watcher(new QFileSystemWatcher(this))
    , m_syncTimer(new QTimer(this))
    , m_pollTimer(new QTimer(this))
{
    m_syncTimer->setSingleShot(true);
    m_syncTimer->setInterval(kSyncDelayMs);
    m_pollTimer->setInterval(kPollIntervalMs);

    connect(m_syncTimer, &QTimer::timeout, this, [this] {
        if (m_busy)
            m_held = true;
        else
            emit syncDue();
    });
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, [this] {
        if (m_sources.isEmpty())
            return;
        m_fileChanged = true;
        scheduleSync();
    });
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (!m_sources.isEmpty())
            scheduleSync();
    });
    connect(m_pollTimer, &QTimer::timeout, this, [this] {
        // A sync already due (a retry among them) will see the change itself;
        // pushing it back would only stretch the retries while a file is away.
        // While busy, the signature stored afterwards is what to compare with.
        if (!m_sources.isEmpty() && !m_busy && !m_syncTimer->isActive() && signatureChanged())
            scheduleSync();
    });
}

void DataSync::setSources(const QList<DataSource> &sources)
{
    m_sources = sources;
}

void DataSync::storeSignature()
{
    m_signature = computeDataSourceSignature(m_sources);
}

void DataSync::storeSignature(const QString &signature)
{
    m_signature = signature;
}

bool DataSync::signatureChanged() const
{
    return computeDataSourceSignature(m_sources) != m_signature;
}

bool DataSync::anyFileMissing() const
{
    return std::any_of(m_sources.cbegin(), m_sources.cend(), [](const DataSource &source) {
        return !QFileInfo::exists(source.filePath);
    });
}

void DataSync::clearRetries()
{
    m_retries = 0;
    m_fileChanged = false;
}

bool DataSync::retryLater()
{
    ++m_retries;
    if (m_retries > kMaxRetries) {
        m_retries = 0;
        return false;
    }
    m_syncTimer->setInterval(kRetryDelayMs);
    m_syncTimer->start();
    return true;
}

void DataSync::renewWatcher()
{
    const QStringList watched = m_watcher->files() + m_watcher->directories();
    if (!watched.isEmpty())
        m_watcher->removePaths(watched);

    QStringList paths;
    for (const DataSource &source : std::as_const(m_sources)) {
        const QFileInfo file(source.filePath);
        if (file.exists())
            paths << file.absoluteFilePath();
        if (file.absoluteDir().exists())
            paths << file.absolutePath();
    }
    paths.removeDuplicates();
    if (!paths.isEmpty())
        m_watcher->addPaths(paths);
}

void DataSync::updatePolling()
{
    if (m_sources.isEmpty())
        m_pollTimer->stop();
    else if (!m_pollTimer->isActive())
        m_pollTimer->start();
}

void DataSync::setBusy(bool busy)
{
    m_busy = busy;
    if (!busy && std::exchange(m_held, false))
        scheduleSync();
}

void DataSync::scheduleSync()
{
    if (m_busy) {
        m_held = true;
        return;
    }
    // A watcher report restarts the full delay, also over a pending retry:
    // the file is evidently still being written.
    m_syncTimer->setInterval(kSyncDelayMs);
    m_syncTimer->start();
}
