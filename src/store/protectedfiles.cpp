#include "protectedfiles.h"

#include "projectstore.h"
#include "sqlutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSqlQuery>
#include <QVariant>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// As deep as the system itself follows links before it gives up (Linux: 40).
constexpr int maximumLinkDepth = 40;

#if defined(Q_OS_WIN) || defined(Q_OS_DARWIN)
constexpr Qt::CaseSensitivity pathCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity pathCase = Qt::CaseSensitive;
#endif

// What a symbolic link holds, as it is written: QFileInfo::symLinkTarget
// would tidy ".." away as text, where the system climbs from the target.
QString linkText(const QString &link)
{
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(link);
    QByteArray buffer(4096, '\0');
    const ssize_t length = ::readlink(native.constData(), buffer.data(), size_t(buffer.size()));
    if (length > 0 && length < buffer.size())
        return QFile::decodeName(buffer.left(length));
#endif
    return QFileInfo(link).symLinkTarget();
}

// The file a write to `path` would replace, as the system finds it: links
// followed (also one whose target does not exist yet, which QSaveFile writes
// through) and ".." taken from where the links lead. A path that does not
// exist yet stands in its folder's real place. With no such folder nothing
// can be written, and the text is only tidied.
QString resolvedPath(const QString &path, int depth = 0)
{
    QString absolute = QDir::fromNativeSeparators(path);
    if (QDir::isRelativePath(absolute))
        absolute = QDir::currentPath() + u'/' + absolute;
    const qsizetype slash = absolute.lastIndexOf(u'/');
    const QString folder = slash > 0 ? absolute.left(slash) : QStringLiteral("/");
    const QString name = absolute.mid(slash + 1);

    const QString realFolder = QFileInfo(folder).canonicalFilePath();
    if (realFolder.isEmpty())
        return QDir::cleanPath(absolute);
    if (name.isEmpty())
        return realFolder;
    const QString candidate = realFolder.endsWith(u'/') ? QString(realFolder + name) : QString(realFolder + u'/' + name);

    const QFileInfo info(candidate);
    if (info.isSymLink() && depth < maximumLinkDepth) {
        const QString target = linkText(candidate);
        if (!target.isEmpty())
            return resolvedPath(QDir::isRelativePath(target) ? QString(realFolder + u'/' + target) : target, depth + 1);
    }
    if (info.exists())
        return info.canonicalFilePath();
    return candidate;
}

// One file under another name as well: a hard link, a bind mount or a
// case-insensitive file system show the same file under different paths.
bool sameExistingFile(const QString &a, const QString &b)
{
#ifdef Q_OS_UNIX
    struct stat first {};
    struct stat second {};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0
        && ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
#else
    Q_UNUSED(a);
    Q_UNUSED(b);
    return false;
#endif
}

struct ProtectedFile
{
    QString path;
    QString what; // completes "PATH is …"
};

bool isProtected(const QString &output, const QString &resolvedOutput, const QString &candidate)
{
    if (candidate.isEmpty())
        return false;
    const QString resolved = resolvedPath(candidate);
    return resolved.compare(resolvedOutput, pathCase) == 0 || sameExistingFile(output, candidate);
}

// The database and the files SQLite keeps beside it, under the name it was
// opened by and under the real one (SQLite names its companions after the
// real file when the database is reached through a link).
QList<ProtectedFile> databaseFiles(const ProjectStore &store)
{
    const QString database = store.database().databaseName();
    if (database.isEmpty() || database == QLatin1String(":memory:"))
        return {};
    const QString real = resolvedPath(database);
    QList<ProtectedFile> files;
    for (const QString &name : {database, real}) {
        files.append({name, QStringLiteral("the project database")});
        files.append({name + QStringLiteral("-wal"), QStringLiteral("the write-ahead log of the project database")});
        files.append({name + QStringLiteral("-shm"),
                      QStringLiteral("the shared-memory index of the project database")});
        files.append({name + QStringLiteral("-journal"), QStringLiteral("the rollback journal of the project database")});
    }
    return files;
}

// Every data file of every project (the one a project still names from
// before it had several included) and every background image: a PDF over
// either loses the user's own file.
std::optional<QList<ProtectedFile>> projectFiles(ProjectStore &store, QString *error)
{
    QSqlQuery query(store.database());
    query.setForwardOnly(true);
    if (!storeutil::run(query,
                        QStringLiteral("SELECT s.file_path, s.display_name, p.name, 'data' FROM data_sources s "
                                       "JOIN projects p ON p.id = s.project_id "
                                       "UNION ALL SELECT data_source_path, '', name, 'data' FROM projects "
                                       "WHERE COALESCE(data_source_path, '') <> '' "
                                       "UNION ALL SELECT background_path, '', name, 'front' FROM projects "
                                       "WHERE COALESCE(background_path, '') <> '' "
                                       "UNION ALL SELECT back_background_path, '', name, 'back' FROM projects "
                                       "WHERE COALESCE(back_background_path, '') <> ''"),
                        error))
        return std::nullopt;
    QList<ProtectedFile> files;
    while (query.next()) {
        const QString path = query.value(0).toString();
        QString name = query.value(1).toString();
        if (name.isEmpty())
            name = QFileInfo(path).fileName();
        const QString kind = query.value(3).toString();
        const QString what = kind == QLatin1String("data") ? QStringLiteral("the data file “%1” of project “%2”")
            : kind == QLatin1String("front")               ? QStringLiteral("the front background “%1” of project “%2”")
                                                           : QStringLiteral("the back background “%1” of project “%2”");
        files.append({path, what.arg(name, query.value(2).toString())});
    }
    return files;
}

QString refusal(const QString &outputPath, const QString &what)
{
    return QStringLiteral("%1 is %2; choose another file.").arg(QDir::toNativeSeparators(outputPath), what);
}

} // namespace

std::optional<QString> protectedOutputReason(ProjectStore &store, const QString &outputPath)
{
    const QString resolvedOutput = resolvedPath(outputPath);
    for (const ProtectedFile &file : databaseFiles(store)) {
        if (isProtected(outputPath, resolvedOutput, file.path))
            return refusal(outputPath, file.what);
    }
    QString error;
    const std::optional<QList<ProtectedFile>> sources = projectFiles(store, &error);
    if (!sources) {
        return QStringLiteral("Could not check that %1 is none of the projects' own files: %2")
            .arg(QDir::toNativeSeparators(outputPath), error);
    }
    for (const ProtectedFile &file : *sources) {
        if (isProtected(outputPath, resolvedOutput, file.path))
            return refusal(outputPath, file.what);
    }
    return std::nullopt;
}
