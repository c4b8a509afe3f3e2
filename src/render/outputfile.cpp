#include "render/outputfile.h"

#include "model/regularfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

QString kindSuffix(OutputFile::Kind kind)
{
    return kind == OutputFile::Kind::Piece ? QStringLiteral("piece") : QStringLiteral("part");
}

// Six characters of [A-Za-z0-9], as mkstemp uses.
QString randomTag()
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString tag;
    for (int i = 0; i < 6; ++i)
        tag += QLatin1Char(letters[QRandomGenerator::global()->bounded(62)]);
    return tag;
}

// A process that is gone: kill(pid, 0) fails with ESRCH. EPERM means it
// runs under another user, which counts as alive.
bool processIsGone(qint64 pid)
{
    if (pid <= 0 || pid != qint64(pid_t(pid)))
        return false;
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

// The new name is only durable once the folder is: a power cut would
// otherwise bring back the earlier file, or no file. A folder that cannot be
// synced (some network file systems) is no reason to fail the export.
void syncFolderOf(const QString &path)
{
    const int folder = ::open(encoded(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

} // namespace

// Writes straight to the descriptor through a buffer of its own, so every
// failure comes back with errno's reason (QFile reports a full disk in its
// buffered writes as "Unknown error").
class OutputFile::Device : public QIODevice
{
public:
    Device(OutputFile *owner, int fd) : m_owner(owner), m_fd(fd) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

    // Writes out what is buffered; false once any write failed.
    bool drain()
    {
        qsizetype done = 0;
        while (!m_failed && done < m_buffer.size()) {
            const ssize_t written = ::write(m_fd, m_buffer.constData() + done, size_t(m_buffer.size() - done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                m_owner->setWriteError(written < 0 ? systemReason(errno) : QStringLiteral("a write was cut short"));
                m_failed = true;
                break;
            }
            done += written;
        }
        m_buffer.clear();
        return !m_failed;
    }

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override
    {
        if (m_failed)
            return -1;
        m_buffer.append(data, length);
        if (m_buffer.size() >= kBufferSize && !drain())
            return -1;
        return length;
    }

private:
    static constexpr qsizetype kBufferSize = 256 * 1024;

    OutputFile *m_owner;
    int m_fd;
    QByteArray m_buffer;
    bool m_failed = false;
};

QString outputWriteError(const QString &path, const QString &reason)
{
    return QStringLiteral("Could not write %1: %2").arg(native(path), reason);
}

std::optional<QString> notRegularOutputReason(const QString &path)
{
    QString reason;
    if (checkRegularFile(path, &reason))
        return std::nullopt;
    return reason;
}

bool isTemporaryOutputName(const QString &fileName, qint64 *pid)
{
    static const QRegularExpression pattern(QStringLiteral("^.+\\.vdp-([0-9]{1,10})-[A-Za-z0-9]{6}\\.(part|piece|old)$"));
    const QRegularExpressionMatch match = pattern.match(fileName);
    if (!match.hasMatch())
        return false;
    if (pid)
        *pid = match.captured(1).toLongLong();
    return true;
}

QStringList removeStaleTemporaryFiles(const QString &folder)
{
    QStringList removed;
    const QDir dir(folder);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        qint64 pid = 0;
        if (!isTemporaryOutputName(name, &pid) || !processIsGone(pid))
            continue;
        const QString path = dir.filePath(name);
        // Only what is still a plain file of ours: never follow a link.
        struct stat status {};
        if (::lstat(encoded(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
            continue;
        if (::unlink(encoded(path).constData()) == 0)
            removed << path;
    }
    return removed;
}

bool renameIntoPlace(const QString &temporary, const QString &target, QString *error)
{
    if (::rename(encoded(temporary).constData(), encoded(target).constData()) != 0) {
        if (error)
            *error = outputWriteError(target, systemReason(errno));
        return false;
    }
    syncFolderOf(target);
    return true;
}

OutputFile::OutputFile(QString target, Kind kind, const TemporaryFileWatch *watch)
    : m_target(std::move(target))
    , m_kind(kind)
    , m_watch(watch)
{
}

OutputFile::~OutputFile()
{
    discard();
}

bool OutputFile::open()
{
    if (kindIsPart() && !checkTarget())
        return false;
    const QString stem = QStringLiteral("%1.vdp-%2-").arg(m_target).arg(qint64(::getpid()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate = stem + randomTag() + u'.' + kindSuffix(m_kind);
        // The watcher hears of the name before it exists, so a signal
        // arriving in between finds it listed.
        if (m_watch && m_watch->created)
            m_watch->created(candidate);
        m_fd = ::open(encoded(candidate).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_temporary = candidate;
            m_closed = false;
            return true;
        }
        const int reason = errno;
        if (m_watch && m_watch->released)
            m_watch->released(candidate);
        if (reason != EEXIST)
            return fail(systemReason(reason));
    }
    return fail(systemReason(EEXIST));
}

bool OutputFile::kindIsPart() const
{
    return m_kind == Kind::Part;
}

bool OutputFile::checkTarget()
{
    if (const std::optional<QString> reason = notRegularOutputReason(m_target)) {
        m_error = *reason;
        m_reason = *reason;
        return false;
    }
    return true;
}

QIODevice &OutputFile::device()
{
    if (!m_device)
        m_device = std::make_unique<Device>(this, m_fd);
    return *m_device;
}

FILE *OutputFile::stream()
{
    if (!m_stream && m_fd >= 0) {
        m_stream = ::fdopen(m_fd, "wb");
        // The stream owns the descriptor from now on.
        if (m_stream)
            m_fd = -1;
    }
    return m_stream;
}

void OutputFile::setWriteError(const QString &reason)
{
    if (m_error.isEmpty()) {
        m_error = outputWriteError(m_target, reason);
        m_reason = reason;
    }
}

bool OutputFile::fail(const QString &reason)
{
    setWriteError(reason);
    discard();
    return false;
}

bool OutputFile::close()
{
    if (m_closed)
        return m_error.isEmpty();
    if (m_temporary.isEmpty() && m_error.isEmpty())
        setWriteError(QStringLiteral("the file was not created"));
    if (!m_error.isEmpty()) {
        discard();
        return false;
    }
    // Each step's failure is the one the user hears about: a full disk often
    // shows only in the last flush, and a network file system only in close.
    if (m_device) {
        const bool drained = m_device->drain();
        m_device.reset();
        if (!drained) {
            discard();
            return false;
        }
    }
    if (m_stream) {
        if (std::fflush(m_stream) != 0 || std::ferror(m_stream))
            return fail(systemReason(errno ? errno : EIO));
        if (kindIsPart() && ::fsync(::fileno(m_stream)) != 0)
            return fail(systemReason(errno));
        FILE *stream = m_stream;
        m_stream = nullptr;
        if (std::fclose(stream) != 0)
            return fail(systemReason(errno));
    } else if (m_fd >= 0) {
        if (kindIsPart() && ::fsync(m_fd) != 0)
            return fail(systemReason(errno));
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            return fail(systemReason(errno));
    }
    m_closed = true;
    return true;
}

bool OutputFile::commit()
{
    if (!close())
        return false;
    // Checked again: something may have appeared at the target meanwhile.
    if (!checkTarget()) {
        discard();
        return false;
    }
    return moveIntoPlace(::rename(encoded(m_temporary).constData(), encoded(m_target).constData()));
}

bool OutputFile::commitNew()
{
    if (!close())
        return false;
    // renameat2 with RENAME_NOREPLACE checks and moves in one step, so a file
    // made meanwhile by another process is never replaced.
    return moveIntoPlace(::renameat2(AT_FDCWD, encoded(m_temporary).constData(), AT_FDCWD,
                                     encoded(m_target).constData(), RENAME_NOREPLACE));
}

bool OutputFile::moveIntoPlace(int renameResult)
{
    if (renameResult != 0) {
        setWriteError(systemReason(errno));
        discard();
        return false;
    }
    syncFolderOf(m_target);
    forget();
    return true;
}

void OutputFile::forget()
{
    if (m_watch && m_watch->released && !m_temporary.isEmpty())
        m_watch->released(m_temporary);
    m_temporary.clear();
}

void OutputFile::discard()
{
    m_device.reset();
    if (m_stream) {
        std::fclose(m_stream);
        m_stream = nullptr;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.isEmpty()) {
        ::unlink(encoded(m_temporary).constData());
        if (m_watch && m_watch->released)
            m_watch->released(m_temporary);
        m_temporary.clear();
    }
    m_closed = true;
}

std::optional<CopyFailure> copyToNewFile(const QString &source, const QString &target)
{
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        return CopyFailure{true, input.errorString(), {}};
    OutputFile output(target);
    if (!output.open())
        return CopyFailure{false, output.reason(), output.error()};
    QIODevice &file = output.device();
    while (!input.atEnd()) {
        const QByteArray chunk = input.read(1 << 20);
        if (input.error() != QFileDevice::NoError)
            return CopyFailure{true, input.errorString(), {}};
        if (file.write(chunk) != chunk.size())
            break; // the device has recorded why
    }
    if (!output.commitNew())
        return CopyFailure{false, output.reason(), output.error()};
    return std::nullopt;
}
