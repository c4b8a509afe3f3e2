#pragma once

// Files the readers must not read like ordinary ones, for the reader, store,
// command-line and window tests: FIFOs, and huge files that cost no disk
// space (runs of zero bytes are left as holes).

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QThread>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

inline bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

// While alive, opens and closes the writing end of a FIFO whenever a reader
// has been waiting in open() for a few seconds. A reader that opens FIFOs
// then sees an empty file and fails its test instead of hanging it. Any
// other path is left alone.
class FifoRescue
{
public:
    explicit FifoRescue(const QString &path) : m_path(QFile::encodeName(path))
    {
        struct stat status;
        if (::stat(m_path.constData(), &status) == 0 && S_ISFIFO(status.st_mode))
            m_thread = std::thread([this] { run(); });
    }
    ~FifoRescue()
    {
        m_done = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    FifoRescue(const FifoRescue &) = delete;
    FifoRescue &operator=(const FifoRescue &) = delete;

private:
    void run()
    {
        QElapsedTimer waited;
        waited.start();
        while (!m_done) {
            // Without a reader this fails at once (ENXIO) and nothing happens.
            if (waited.elapsed() > 3000) {
                const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
                waited.restart();
            }
            QThread::msleep(20);
        }
    }

    QByteArray m_path;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

// Writes `recipe` with every "{N}" standing for N zero bytes, left as a hole
// in the file: "h\n{67108865}" is a header and a 64 MiB + 1 field of NULs
// that takes a few bytes of disk.
inline bool writeWithHoles(const QString &path, const QByteArray &recipe)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return false;
    static const QRegularExpression run(QStringLiteral("\\{(\\d+)\\}"));
    const QString text = QString::fromLatin1(recipe);
    qsizetype from = 0;
    for (auto it = run.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QByteArray literal = recipe.mid(from, match.capturedStart() - from);
        if (file.write(literal) != literal.size())
            return false;
        const qint64 end = file.pos() + match.captured(1).toLongLong();
        if (!file.resize(end) || !file.seek(end))
            return false;
        from = match.capturedEnd();
    }
    const QByteArray tail = recipe.mid(from);
    return file.write(tail) == tail.size();
}
