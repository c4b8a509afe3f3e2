#include "workspace.h"

#include "render/outputfile.h"
#include "store/projectstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace {

StartupFailure databaseFailure(const QString &text)
{
    return {QStringLiteral("Database Initialization Failed"), text};
}

// SQLite quietly opens a file it cannot write read-only, and a write-ahead log
// needs its companion files beside the database. Either way the first write
// would fail later with a less helpful message, so say it up front.
std::optional<QString> unwritableReason(const QString &databasePath)
{
    const QFileInfo file(databasePath);
    if (file.exists() && !file.isWritable())
        return QStringLiteral("The database file %1 is read-only.").arg(QDir::toNativeSeparators(databasePath));
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir() || !folder.isWritable())
        return QStringLiteral("The folder %1 cannot be written.")
            .arg(QDir::toNativeSeparators(folder.absoluteFilePath()));
    return std::nullopt;
}

// Makes `folder` and its missing parents; false with the first folder that
// could not be made and the system's reason (a file in the way, a read-only
// home), which QDir::mkpath does not tell.
bool makeFolder(const QString &folder, QString *reason)
{
    if (QFileInfo(folder).isDir() || QDir().mkpath(folder))
        return true;
    QStringList missing;
    QString at = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    while (!QFileInfo::exists(at) && QFileInfo(at).dir().absolutePath() != at) {
        missing.prepend(at);
        at = QFileInfo(at).dir().absolutePath();
    }
    if (QFileInfo::exists(at) && !QFileInfo(at).isDir()) {
        *reason = QStringLiteral("%1 is not a folder").arg(QDir::toNativeSeparators(at));
        return false;
    }
    for (const QString &step : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(step).constData(), 0777) != 0 && errno != EEXIST) {
            *reason = QStringLiteral("could not create the folder %1: %2")
                          .arg(QDir::toNativeSeparators(step), QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    return true;
}

// Copies the starter database to `target` through a temporary file beside
// it, every write and the close checked: a database cut short by a full disk
// would otherwise be opened as the user's store. An existing file at
// `target` is never replaced. Empty on success, else the reason.
QString copyStarterDatabase(const QString &starter, const QString &target)
{
    QString reason;
    if (!makeFolder(QFileInfo(target).absolutePath(), &reason))
        return reason;
    const std::optional<CopyFailure> failed = copyToNewFile(starter, target);
    if (!failed)
        return {};
    if (failed->reading)
        return QStringLiteral("could not read %1: %2").arg(QDir::toNativeSeparators(starter), failed->reason);
    return failed->reason;
}

} // namespace

QString resolveDataDirectory(const QString &explicitDirectory)
{
    QString directory = explicitDirectory;
    if (directory.isEmpty())
        directory = qEnvironmentVariable("TESSOLO_DATA_DIR");
    if (directory.isEmpty())
        directory = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (directory.isEmpty())
        directory = QDir::currentPath();
    // A failure shows up when the database is opened.
    QDir().mkpath(directory);
    return directory;
}

QString defaultStarterDirectory()
{
    // An installation keeps the starter folder with its shared data,
    // PREFIX/share/vellumor-vdp/starter for PREFIX/bin, found relative to the
    // executable so that the installed tree can be moved. The build tree keeps
    // it beside the executable, as does a copied bin folder.
    const QDir executableFolder(QCoreApplication::applicationDirPath());
    const QString installed = QDir::cleanPath(executableFolder.filePath(QStringLiteral("../share/vellumor-vdp/starter")));
    if (QFileInfo(installed).isDir())
        return installed;
    return executableFolder.filePath(QStringLiteral("starter"));
}

WorkspacePaths workspacePaths(const QString &dataDirectory, const QString &starterDirectory)
{
    const QDir data(dataDirectory);
    const QDir starter(starterDirectory);
    return {
        dataDirectory,
        data.filePath(QStringLiteral("vellumor-vdp.sqlite")),
        starterDirectory,
        starter.filePath(QStringLiteral("vellumor-vdp-starter.sqlite")),
        starter.filePath(QStringLiteral("sample-data.xlsx")),
    };
}

std::optional<StartupFailure> openWorkspace(ProjectStore &store, const WorkspacePaths &paths,
                                            bool *databaseCreated)
{
    if (databaseCreated)
        *databaseCreated = false;
    const bool existed = QFileInfo::exists(paths.databasePath);
    // An existing database is never overwritten; the starter is only read on first start.
    if (!existed && QFileInfo::exists(paths.starterDatabasePath)) {
        // The copy is a new file with the usual permissions, not the
        // starter's, which an installation may have made read-only.
        if (const QString reason = copyStarterDatabase(paths.starterDatabasePath, paths.databasePath);
            !reason.isEmpty()) {
            return StartupFailure{QStringLiteral("Starter Template Initialization Failed"),
                                  QStringLiteral("Could not copy the built-in starter template database to %1: %2.")
                                      .arg(QDir::toNativeSeparators(paths.databasePath), reason)};
        }
    }

    if (const auto reason = unwritableReason(paths.databasePath))
        return databaseFailure(*reason);

    QString error;
    if (!store.openDatabase(paths.databasePath, &error) || !store.initializeSchema(&error))
        return databaseFailure(error);

    if (!store.markLegacyDemoProjects(&error) || !store.deleteDemoProjects(&error)
        || !store.relinkStarterSampleData(paths.starterDirectory, &error))
        return StartupFailure{QStringLiteral("Could Not Load Starter Template"), error};

    if (databaseCreated)
        *databaseCreated = !existed;
    return std::nullopt;
}

std::optional<StartupFailure> loadStartupProject(ProjectStore &store, Project *project)
{
    QString error;
    const std::optional<Project> latest = store.loadLatestProject(&error);
    if (!latest)
        return StartupFailure{QStringLiteral("Project Load Failed"), error};
    if (project)
        *project = *latest;
    return std::nullopt;
}
