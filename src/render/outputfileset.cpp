#include "render/outputfileset.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#include <cerrno>
#include <cstring>
#include <optional>

#include <unistd.h>

OutputFile *OutputFileSet::create(const QString &target, OutputFile::Kind kind, QString *error)
{
    auto file = std::make_unique<OutputFile>(target, kind, m_watch);
    if (!file->open()) {
        *error = file->error();
        return nullptr;
    }
    const std::lock_guard lock(m_mutex);
    m_files.push_back(std::move(file));
    return m_files.back().get();
}

bool OutputFileSet::commit(QString *error)
{
    QList<OutputFile *> parts;
    for (const std::unique_ptr<OutputFile> &file : m_files) {
        if (!file->close()) {
            *error = file->error();
            return false;
        }
        if (file->temporaryPath().endsWith(QLatin1String(".part")))
            parts.append(file.get());
    }
    struct Moved
    {
        QString target;
        QString kept; // the earlier file at target, or empty
    };
    QList<Moved> moved;
    const auto undo = [&moved] {
        for (auto it = moved.crbegin(); it != moved.crend(); ++it) {
            if (it->kept.isEmpty())
                QFile::remove(it->target);
            else
                ::rename(QFile::encodeName(it->kept).constData(), QFile::encodeName(it->target).constData());
        }
    };
    for (OutputFile *part : std::as_const(parts)) {
        const QString &target = part->target();
        Moved move{target, QString()};
        if (const std::optional<QString> reason = notRegularOutputReason(target)) {
            *error = *reason;
            undo();
            return false;
        }
        if (QFileInfo::exists(target)) {
            // Named like our other temporary files, so a leftover after
            // a crash is recognised and removed by the next export.
            move.kept = part->temporaryPath().chopped(4) + QStringLiteral("old");
            if (m_watch && m_watch->created)
                m_watch->created(move.kept);
            if (::link(QFile::encodeName(target).constData(), QFile::encodeName(move.kept).constData()) != 0) {
                *error = outputWriteError(target, QString::fromLocal8Bit(std::strerror(errno)));
                if (m_watch && m_watch->released)
                    m_watch->released(move.kept);
                undo();
                return false;
            }
        }
        if (!renameIntoPlace(part->temporaryPath(), target, error)) {
            if (!move.kept.isEmpty())
                QFile::remove(move.kept);
            undo();
            return false;
        }
        part->forget();
        moved.append(move);
    }
    for (const Moved &move : std::as_const(moved)) {
        if (!move.kept.isEmpty()) {
            QFile::remove(move.kept);
            if (m_watch && m_watch->released)
                m_watch->released(move.kept);
        }
    }
    return true;
}
