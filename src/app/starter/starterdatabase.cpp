#include "starterdatabase.h"

#include "store/projectstore.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include <optional>

namespace {

const QString starterDemoKey = QStringLiteral("starter-template");

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

// SQLite's companions of a database file; a leftover -wal from a crashed run
// would be replayed into the new file.
bool removeDatabaseFiles(const QString &path, QString *error)
{
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")}) {
        QFile file(path + suffix);
        if (file.exists() && !file.remove())
            return fail(error, QStringLiteral("Could not remove %1: %2").arg(file.fileName(), file.errorString()));
    }
    return true;
}

// A 90 x 54 mm card, five rows of two on A4 portrait: 180 x 270 mm of cards
// leave 15 mm at the sides and 13.5 mm at top and bottom for grippers and marks.
std::optional<Project> createStarterProject(ProjectStore &store, QString *error)
{
    std::optional<Project> project = store.createProject(QStringLiteral("Starter Template"), error);
    if (!project)
        return std::nullopt;
    project->cardWidthMm = 90;
    project->cardHeightMm = 54;
    project->paperWidthMm = 210;
    project->paperHeightMm = 297;
    project->rows = 5;
    project->columns = 2;
    if (!store.updateProject(*project, error))
        return std::nullopt;
    return project;
}

// The sample workbook is imported as the window's import does it, so a new
// data directory shows its records at once. The worksheet name stays empty
// (the first worksheet), so a regenerated workbook cannot leave the source
// pointing at a sheet that is gone. Start-up re-points the source to the
// installed workbook (relinkStarterSampleData), which assumes this is the
// project's only data source.
bool addSampleDataSource(ProjectStore &store, Project *project, const QString &sampleDataPath, QString *error)
{
    const std::optional<DataSource> source = store.upsertDataSource(project->id, sampleDataPath, {}, error);
    if (!source)
        return false;
    project->dataSourcePath = source->filePath;
    return store.updateProject(*project, error);
}

// updateProject never writes demo_key, so the key that start-up upkeep
// recognises the starter project by is set here directly.
bool markAsStarterTemplate(ProjectStore &store, qint64 projectId, QString *error)
{
    return store.execStatement(QStringLiteral("UPDATE projects SET is_demo=0, demo_key='%1' WHERE id=%2")
                                   .arg(starterDemoKey, QString::number(projectId)),
                               error);
}

// The schema leaves the file in WAL mode. Switching back to a rollback journal
// checkpoints the log into the main file, so the shipped file stands alone and
// is copied as one file; the application switches WAL on again when it opens it.
bool makeSelfContained(ProjectStore &store, QString *error)
{
    QSqlQuery query(store.database());
    if (!query.exec(QStringLiteral("PRAGMA journal_mode = DELETE")))
        return fail(error, query.lastError().text());
    const QString mode = query.next() ? query.value(0).toString() : QString();
    if (mode.compare(QStringLiteral("delete"), Qt::CaseInsensitive) != 0)
        return fail(error, QStringLiteral("Could not leave WAL mode (journal mode is '%1')").arg(mode));
    return true;
}

bool populate(ProjectStore &store, const StarterDatabaseOptions &options, QString *error)
{
    if (!store.initializeSchema(error))
        return false;
    std::optional<Project> project = createStarterProject(store, error);
    if (!project)
        return false;
    if (!addSampleDataSource(store, &*project, options.sampleDataPath, error))
        return false;
    if (!markAsStarterTemplate(store, project->id, error))
        return false;
    return makeSelfContained(store, error);
}

} // namespace

bool buildStarterDatabase(const StarterDatabaseOptions &options, QString *error)
{
    if (!QFileInfo(options.sampleDataPath).isFile())
        return fail(error, QStringLiteral("Sample data not found: %1").arg(options.sampleDataPath));

    const QString temporaryPath = options.outputPath + QStringLiteral(".tmp");
    if (!removeDatabaseFiles(temporaryPath, error))
        return false;

    bool populated = false;
    {
        // The store closes its connection when it goes out of scope; the file
        // is complete only after that.
        ProjectStore store;
        populated = store.openDatabase(temporaryPath, error) && populate(store, options, error);
    }
    if (populated && QFile::exists(temporaryPath + QStringLiteral("-wal")))
        populated = fail(error, QStringLiteral("The database still has a write-ahead log after closing"));
    if (!populated) {
        removeDatabaseFiles(temporaryPath, nullptr);
        return false;
    }

    if (!removeDatabaseFiles(options.outputPath, error))
        return false;
    if (!QFile::rename(temporaryPath, options.outputPath))
        return fail(error, QStringLiteral("Could not rename %1 to %2").arg(temporaryPath, options.outputPath));
    return true;
}
