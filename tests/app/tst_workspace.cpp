#include "storetestutil.h"
#include "support/asuser.h"
#include "support/filesizelimit.h"

#include "app/workspace.h"
#include "store/projectstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QDirIterator>
#include <QTest>

#include <csignal>
#include <optional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace storetest;

namespace {

const QString kDatabaseFailed = QStringLiteral("Database Initialization Failed");
const QString kSeedingFailed = QStringLiteral("Starter Template Initialization Failed");
const QString kUpkeepFailed = QStringLiteral("Could Not Load Starter Template");

// Sets an environment variable (or unsets it, for a null value) and restores it afterwards.
class EnvironmentGuard
{
public:
    EnvironmentGuard(const char *name, const QByteArray &value)
        : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvironmentGuard()
    {
        if (m_wasSet)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_wasSet;
    QByteArray m_old;
};

// A workspace laid out in a temporary folder: data/ for the database, starter/ beside it.
struct Workspace
{
    QTemporaryDir root;
    WorkspacePaths paths;

    Workspace()
    {
        paths = workspacePaths(root.filePath(QStringLiteral("data")),
                               root.filePath(QStringLiteral("starter")));
        QDir().mkpath(paths.dataDirectory);
    }
};

struct StartResult
{
    std::optional<StartupFailure> failure;
    std::optional<Project> project; // set when the start got past the upkeep
    QString projectFailure;
};

// One start as the window runs it: open the workspace, then load the project to show.
StartResult start(const WorkspacePaths &paths)
{
    StartResult result;
    ProjectStore store;
    result.failure = openWorkspace(store, paths);
    if (result.failure)
        return result;
    Project project;
    if (const std::optional<StartupFailure> failure = loadStartupProject(store, &project))
        result.projectFailure = failure->title + QStringLiteral(": ") + failure->text;
    else
        result.project = project;
    return result;
}

QString describe(const std::optional<StartupFailure> &failure)
{
    return failure ? failure->title + QStringLiteral(": ") + failure->text : QStringLiteral("no failure");
}

// A starter database as a release ships it: an old job, the editable starter
// project with its sample workbook, and (newest) a legacy demo the upkeep removes.
struct StarterContent
{
    qint64 oldJobId = 0;
    qint64 starterId = 0;
    qint64 legacyDemoId = 0;
};

bool makeStarterDatabase(const QString &path, StarterContent *content, QString *error)
{
    ProjectStore store;
    if (!store.openDatabase(path, error) || !store.initializeSchema(error))
        return false;
    const std::optional<Project> oldJob = store.createProject(QStringLiteral("Old Job"), error);
    const std::optional<Project> starter = store.createProject(QStringLiteral("Starter Template"), error);
    if (!oldJob || !starter)
        return false;
    content->oldJobId = oldJob->id;
    content->starterId = starter->id;

    const QSqlDatabase db = store.database();
    const QString buildMachinePath = QStringLiteral("/home/builder/vdp/starter/sample-data.xlsx");
    if (!exec(db, QStringLiteral("UPDATE projects SET demo_key='starter-template', data_source_path=? "
                                 "WHERE id=?"),
              {buildMachinePath, starter->id}, error)
        || !exec(db, QStringLiteral("INSERT INTO data_sources(project_id, file_path, display_name) "
                                    "VALUES(?, ?, 'sample-data.xlsx')"),
                 {starter->id, buildMachinePath}, error)
        || !exec(db, QStringLiteral("INSERT INTO data_source_records(data_source_id, sort_index, "
                                    "payload_json) SELECT id, 0, '{\"Name\":\"Sample\"}' "
                                    "FROM data_sources WHERE project_id=?"),
                 {starter->id}, error))
        return false;
    TemplateField field;
    field.projectId = starter->id;
    field.dataColumn = QStringLiteral("Name");
    if (!store.insertElement(&field, error))
        return false;
    content->legacyDemoId = insertLegacyScratchDemo(db);
    return content->legacyDemoId > 0;
}

// A database as a previous start of this release left it, with one project.
bool makeDatabase(const QString &path, const QString &projectName, QString *error)
{
    ProjectStore store;
    return store.openDatabase(path, error) && store.initializeSchema(error)
           && store.createProject(projectName, error).has_value();
}

QStringList companionFiles(const QString &databasePath)
{
    QStringList present;
    for (const char *suffix : {"-wal", "-shm", "-journal"}) {
        if (QFileInfo::exists(databasePath + QLatin1String(suffix)))
            present << QFileInfo(databasePath).fileName() + QLatin1String(suffix);
    }
    return present;
}

bool setOwner(const QString &path, uid_t uid, gid_t gid, mode_t mode)
{
    const QByteArray native = QFile::encodeName(path);
    return ::chown(native.constData(), uid, gid) == 0 && ::chmod(native.constData(), mode) == 0;
}

// The permission cases run as nobody when the test runs as root (root
// ignores permissions), else as the user running it.
bool runsAsRoot()
{
    return geteuid() == 0;
}

// Gives `path` to the user the case runs as (`userOwns`) or to another one,
// with `mode`. Without root nothing can be given away; another's file is then
// the user's own without its write bits, which the kernel enforces alike.
bool arrange(const QString &path, bool userOwns, mode_t mode)
{
    if (runsAsRoot())
        return setOwner(path, userOwns ? kNobody : 0, userOwns ? kNogroup : 0, mode);
    return ::chmod(QFile::encodeName(path).constData(), userOwns ? mode : mode & ~0222) == 0;
}

// Lets the other user (root's case) reach `path`; the user's own folder otherwise.
bool letThrough(const QString &path)
{
    return !runsAsRoot() || setOwner(path, 0, 0, 0755);
}

// Gives the owner write access back below `root` when the test ends, so the
// temporary folder can be removed after a case that locked part of it.
class WritableAgain
{
public:
    explicit WritableAgain(QString root) : m_root(std::move(root)) {}
    ~WritableAgain()
    {
        QDirIterator it(m_root, QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        ::chmod(QFile::encodeName(m_root).constData(), 0755);
        while (it.hasNext()) {
            const QString path = it.next();
            ::chmod(QFile::encodeName(path).constData(), QFileInfo(path).isDir() ? 0755 : 0644);
        }
    }

private:
    QString m_root;
};

} // namespace

class TestWorkspace : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void workspaceFileNames();
    void resolveDataDirectory_data();
    void resolveDataDirectory();

    void firstStartWithStarter();
    void seededDatabaseIsStarterCopy();
    void firstStartWithoutStarter();
    void existingDatabaseIgnoresStarter();
    void databaseCreatedIsReported_data();
    void databaseCreatedIsReported();

    void notADatabase_data();
    void notADatabase();
    void unwritableDatabase_data();
    void unwritableDatabase();
    void readOnlyStarterGivesWritableDatabase();
    void failedStarterCopyNamesFileAndReason_data();
    void failedStarterCopyNamesFileAndReason();
};

void TestWorkspace::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Vellumor"));
    QCoreApplication::setApplicationName(QStringLiteral("Vellumor VDP"));
    // Load the SQL driver now, while every plugin file is readable.
    QVERIFY(QSqlDatabase::drivers().contains(QStringLiteral("QSQLITE")));
}

void TestWorkspace::workspaceFileNames()
{
    const WorkspacePaths paths = workspacePaths(QStringLiteral("/srv/vdp data"),
                                                QStringLiteral("/opt/vdp/bin/starter"));
    QCOMPARE(paths.dataDirectory, QStringLiteral("/srv/vdp data"));
    QCOMPARE(paths.databasePath, QStringLiteral("/srv/vdp data/vellumor-vdp.sqlite"));
    QCOMPARE(paths.starterDirectory, QStringLiteral("/opt/vdp/bin/starter"));
    QCOMPARE(paths.starterDatabasePath,
             QStringLiteral("/opt/vdp/bin/starter/vellumor-vdp-starter.sqlite"));
    QCOMPARE(paths.starterSampleDataPath, QStringLiteral("/opt/vdp/bin/starter/sample-data.xlsx"));

    QCOMPARE(QDir::cleanPath(defaultStarterDirectory()),
             QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/starter")));
}

void TestWorkspace::resolveDataDirectory_data()
{
    QTest::addColumn<QString>("explicitDir"); // relative to the temporary folder; empty: none
    QTest::addColumn<QByteArray>("environment"); // null: unset; relative values are made absolute
    QTest::addColumn<QString>("expected");    // relative to the temporary folder; "<appdata>"

    const QString appData = QStringLiteral("<appdata>");
    QTest::newRow("explicit folder wins over the environment")
        << QStringLiteral("explicit/a/b") << QByteArray("env/c") << QStringLiteral("explicit/a/b");
    QTest::newRow("environment when no explicit folder")
        << QString() << QByteArray("env/deep/er") << QStringLiteral("env/deep/er");
    QTest::newRow("unset environment") << QString() << QByteArray() << appData;
    QTest::newRow("empty environment behaves as unset") << QString() << QByteArray("") << appData;
}

void TestWorkspace::resolveDataDirectory()
{
    QFETCH(QString, explicitDir);
    QFETCH(QByteArray, environment);
    QFETCH(QString, expected);

    QTemporaryDir tmp;
    const QString appData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QVERIFY(!appData.isEmpty());
    const bool appDataExisted = QFileInfo::exists(appData);

    QByteArray envValue = environment;
    if (!environment.isEmpty())
        envValue = QFile::encodeName(tmp.filePath(QString::fromUtf8(environment)));
    EnvironmentGuard guard("TESSOLO_DATA_DIR", envValue);

    const QString given = explicitDir.isEmpty() ? QString() : tmp.filePath(explicitDir);
    const QString resolved = ::resolveDataDirectory(given);
    const QString wanted = expected == QLatin1String("<appdata>") ? appData : tmp.filePath(expected);

    QVERIFY2(QFileInfo(resolved).isDir(), qPrintable(resolved));
    QCOMPARE(QFileInfo(resolved).canonicalFilePath(), QFileInfo(wanted).canonicalFilePath());
    // Only the chosen folder is created.
    if (!explicitDir.isEmpty() && !environment.isEmpty())
        QVERIFY(!QFileInfo::exists(QString::fromLocal8Bit(envValue)));

    if (expected == QLatin1String("<appdata>") && !appDataExisted)
        QDir(appData).removeRecursively();
}

void TestWorkspace::firstStartWithStarter()
{
    Workspace ws;
    QString error;
    QVERIFY(QDir().mkpath(ws.paths.starterDirectory));
    StarterContent content;
    QVERIFY2(makeStarterDatabase(ws.paths.starterDatabasePath, &content, &error), qPrintable(error));
    const QByteArray starterBytes = fileBytes(ws.paths.starterDatabasePath);
    QVERIFY(!starterBytes.isEmpty());

    // What the seeded database must hold: the starter's content with only the
    // upkeep applied (the sample re-pointed, the legacy demo removed).
    QStringList expected;
    {
        const QString copy = ws.root.filePath(QStringLiteral("expected.sqlite"));
        QVERIFY(QFile::copy(ws.paths.starterDatabasePath, copy));
        RawConnection raw(copy);
        QVERIFY(exec(raw.db(), QStringLiteral("UPDATE projects SET data_source_path=? WHERE id=?"),
                     {ws.paths.starterSampleDataPath, content.starterId}));
        QVERIFY(exec(raw.db(), QStringLiteral("UPDATE data_sources SET file_path=? WHERE project_id=?"),
                     {ws.paths.starterSampleDataPath, content.starterId}));
        QVERIFY(exec(raw.db(), QStringLiteral("DELETE FROM projects WHERE id=?"),
                     {content.legacyDemoId}));
        expected = dumpDatabase(raw.db());
    }

    const StartResult first = start(ws.paths);
    QVERIFY2(!first.failure, qPrintable(describe(first.failure)));
    QVERIFY2(first.project, qPrintable(first.projectFailure));
    // The newest project left after the upkeep: the starter project, re-pointed.
    QCOMPARE(first.project->id, content.starterId);
    QCOMPARE(first.project->name, QStringLiteral("Starter Template"));
    QCOMPARE(first.project->demoKey, QStringLiteral("starter-template"));
    QCOMPARE(first.project->dataSourcePath, ws.paths.starterSampleDataPath);

    QCOMPARE(dumpDatabaseFile(ws.paths.databasePath), expected);
    QCOMPARE(fileBytes(ws.paths.starterDatabasePath), starterBytes);

    // The second start finds everything in place and changes nothing.
    const QStringList afterFirst = dumpDatabaseFile(ws.paths.databasePath);
    const StartResult second = start(ws.paths);
    QVERIFY2(!second.failure, qPrintable(describe(second.failure)));
    QVERIFY2(second.project, qPrintable(second.projectFailure));
    QCOMPARE(*second.project, *first.project);
    QCOMPARE(dumpDatabaseFile(ws.paths.databasePath), afterFirst);
}

void TestWorkspace::seededDatabaseIsStarterCopy()
{
    // A starter that needs no upkeep: the start must leave the copy exactly as
    // shipped, byte for byte (a copy, not a rebuild or an export).
    Workspace ws;
    QString error;
    QVERIFY(QDir().mkpath(ws.paths.starterDirectory));
    QVERIFY2(makeDatabase(ws.paths.starterDatabasePath, QStringLiteral("Welcome"), &error),
             qPrintable(error));
    const QByteArray starterBytes = fileBytes(ws.paths.starterDatabasePath);

    const StartResult result = start(ws.paths);
    QVERIFY2(!result.failure, qPrintable(describe(result.failure)));
    QVERIFY2(result.project, qPrintable(result.projectFailure));
    QCOMPARE(result.project->name, QStringLiteral("Welcome"));
    QCOMPARE(fileBytes(ws.paths.databasePath), starterBytes);
    QCOMPARE(companionFiles(ws.paths.databasePath), QStringList());
}

void TestWorkspace::firstStartWithoutStarter()
{
    Workspace ws;
    QVERIFY(!QFileInfo::exists(ws.paths.starterDatabasePath));

    const StartResult first = start(ws.paths);
    QVERIFY2(!first.failure, qPrintable(describe(first.failure)));
    QVERIFY2(first.project, qPrintable(first.projectFailure));
    Project expected;
    expected.id = first.project->id;
    expected.name = QStringLiteral("Untitled VDP Project");
    QCOMPARE(*first.project, expected);
    QVERIFY(!QFileInfo::exists(ws.paths.starterDatabasePath));

    const QStringList afterFirst = dumpDatabaseFile(ws.paths.databasePath);
    {
        RawConnection raw(ws.paths.databasePath);
        QCOMPARE(tableNames(raw.db()),
                 QStringList({QStringLiteral("data_records"), QStringLiteral("data_source_records"),
                              QStringLiteral("data_sources"), QStringLiteral("projects"),
                              QStringLiteral("template_fields"), QStringLiteral("template_graphics")}));
        QCOMPARE(scalar(raw.db(), QStringLiteral("SELECT COUNT(*) FROM projects")).toInt(), 1);
        QCOMPARE(scalar(raw.db(), QStringLiteral("PRAGMA journal_mode")).toString(),
                 QStringLiteral("wal"));
    }

    const StartResult second = start(ws.paths);
    QVERIFY2(!second.failure, qPrintable(describe(second.failure)));
    QVERIFY2(second.project, qPrintable(second.projectFailure));
    QCOMPARE(*second.project, *first.project);
    QCOMPARE(dumpDatabaseFile(ws.paths.databasePath), afterFirst);
}

void TestWorkspace::existingDatabaseIgnoresStarter()
{
    Workspace ws;
    QString error;
    QVERIFY2(makeDatabase(ws.paths.databasePath, QStringLiteral("Customer Job"), &error),
             qPrintable(error));
    const QStringList before = dumpDatabaseFile(ws.paths.databasePath);

    // A starter that would break everything if it were read or copied.
    QVERIFY(QDir().mkpath(ws.paths.starterDirectory));
    const QByteArray garbage(8192, '\xA5');
    QVERIFY(writeFile(ws.paths.starterDatabasePath, garbage));
    QVERIFY(setOwner(ws.paths.starterDatabasePath, geteuid(), getegid(), 0));

    const StartResult result = start(ws.paths);
    QVERIFY2(!result.failure, qPrintable(describe(result.failure)));
    QVERIFY2(result.project, qPrintable(result.projectFailure));
    QCOMPARE(result.project->name, QStringLiteral("Customer Job"));
    QCOMPARE(dumpDatabaseFile(ws.paths.databasePath), before);
    QVERIFY(setOwner(ws.paths.starterDatabasePath, geteuid(), getegid(), 0644));
    QCOMPARE(fileBytes(ws.paths.starterDatabasePath), garbage);
}

void TestWorkspace::databaseCreatedIsReported_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("created"); // by the first start

    QTest::newRow("seeded from the starter") << QStringLiteral("starter") << true;
    QTest::newRow("new and empty, no starter") << QStringLiteral("no starter") << true;
    QTest::newRow("an existing database") << QStringLiteral("existing") << false;
    QTest::newRow("a file that is no database") << QStringLiteral("not a database") << false;
}

// Only the start that made the database file says so; a second start, or
// one that fails, never does.
void TestWorkspace::databaseCreatedIsReported()
{
    QFETCH(QString, situation);
    QFETCH(bool, created);

    Workspace ws;
    QString error;
    if (situation == QLatin1String("starter")) {
        StarterContent content;
        QVERIFY(QDir().mkpath(ws.paths.starterDirectory));
        QVERIFY2(makeStarterDatabase(ws.paths.starterDatabasePath, &content, &error), qPrintable(error));
    } else if (situation == QLatin1String("existing")) {
        QVERIFY2(makeDatabase(ws.paths.databasePath, QStringLiteral("Customer Job"), &error), qPrintable(error));
    } else if (situation == QLatin1String("not a database")) {
        QVERIFY(writeFile(ws.paths.databasePath, QByteArray(4096, 'x')));
    }
    const bool fails = situation == QLatin1String("not a database");

    for (const bool firstStart : {true, false}) {
        ProjectStore store;
        // The opposite of the answer, so that leaving it alone shows.
        bool reported = !(firstStart && created);
        const std::optional<StartupFailure> failure = openWorkspace(store, ws.paths, &reported);
        QCOMPARE(bool(failure), fails);
        QCOMPARE(reported, firstStart && created);
    }
}

void TestWorkspace::notADatabase_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");       // part of the driver's text
    QTest::addColumn<bool>("companionsAllowed"); // SQLite may leave empty -wal/-shm files

    QByteArray noise(4096, '\0');
    QRandomGenerator generator(20240611);
    for (char &byte : noise)
        byte = char(generator.bounded(256));
    QTest::newRow("random bytes") << noise << QStringLiteral("not a database") << false;
    QTest::newRow("a CSV file saved under the database's name")
        << QByteArray("Name,Prize,Ticket\nAda,Bike,A-001\nAlan,Voucher,A-002\n").repeated(40)
        << QStringLiteral("not a database") << false;

    // A database cut short (a copy that stopped half-way): the header is intact.
    QTemporaryDir tmp;
    const QString path = tmp.filePath(QStringLiteral("whole.sqlite"));
    QString error;
    QVERIFY2(makeDatabase(path, QStringLiteral("Cut short"), &error), qPrintable(error));
    QTest::newRow("truncated database") << fileBytes(path).left(1024) << QString() << true;
}

void TestWorkspace::notADatabase()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QFETCH(bool, companionsAllowed);

    Workspace ws;
    QVERIFY(writeFile(ws.paths.databasePath, content));
    // A starter present must not be copied over the damaged file.
    StarterContent starter;
    QString error;
    QVERIFY(QDir().mkpath(ws.paths.starterDirectory));
    QVERIFY2(makeStarterDatabase(ws.paths.starterDatabasePath, &starter, &error), qPrintable(error));

    const StartResult result = start(ws.paths);
    QVERIFY2(result.failure, "the start must fail");
    QCOMPARE(result.failure->title, kDatabaseFailed);
    QVERIFY(!result.failure->text.isEmpty());
    if (!message.isEmpty())
        QVERIFY2(result.failure->text.contains(message), qPrintable(result.failure->text));

    QCOMPARE(fileBytes(ws.paths.databasePath), content);
    if (!companionsAllowed)
        QCOMPARE(companionFiles(ws.paths.databasePath), QStringList());
}

void TestWorkspace::unwritableDatabase_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("withStarter");
    QTest::addColumn<QStringList>("titles"); // acceptable failure titles

    const QStringList openFailure = {kDatabaseFailed};
    // A read-only file may open and read; the first write is then the upkeep's.
    const QStringList writeFailure = {kDatabaseFailed, kUpkeepFailed};
    QTest::newRow("read-only database file") << QStringLiteral("read-only file") << false
                                             << writeFailure;
    QTest::newRow("read-only database of an older release")
        << QStringLiteral("read-only old file") << false << writeFailure;
    QTest::newRow("database in a folder that cannot be written")
        << QStringLiteral("locked folder") << false << openFailure;
    QTest::newRow("no database, folder cannot be written, no starter")
        << QStringLiteral("locked empty folder") << false << openFailure;
    QTest::newRow("no database, folder cannot be written, starter present")
        << QStringLiteral("locked empty folder") << true << QStringList{kSeedingFailed};
}

void TestWorkspace::unwritableDatabase()
{
    QFETCH(QString, situation);
    QFETCH(bool, withStarter);
    QFETCH(QStringList, titles);

    Workspace ws;
    const WritableAgain restore(ws.root.path());
    QString error;
    // The temporary folder is private to root; let the other user through.
    QVERIFY(letThrough(ws.root.path()));
    if (withStarter) {
        StarterContent starter;
        QVERIFY(QDir().mkpath(ws.paths.starterDirectory));
        QVERIFY2(makeStarterDatabase(ws.paths.starterDatabasePath, &starter, &error),
                 qPrintable(error));
        QVERIFY(letThrough(ws.paths.starterDirectory));
        QVERIFY(arrange(ws.paths.starterDatabasePath, false, 0644));
    }

    const QString db = ws.paths.databasePath;
    if (situation == QLatin1String("read-only file")) {
        // The user's own folder, but the file itself is marked read-only.
        QVERIFY2(makeDatabase(db, QStringLiteral("Archived Job"), &error), qPrintable(error));
        QVERIFY(arrange(ws.paths.dataDirectory, true, 0755));
        QVERIFY(arrange(db, true, 0444));
    } else if (situation == QLatin1String("read-only old file")) {
        {
            RawConnection raw(db);
            QVERIFY2(applySqlScript(raw.db(), QStringLiteral(VDP_SOURCE_DIR)
                                                  + QStringLiteral("/tests/store/data/release-earliest.sql"),
                                    &error),
                     qPrintable(error));
        }
        QVERIFY(arrange(ws.paths.dataDirectory, true, 0755));
        QVERIFY(arrange(db, true, 0444));
    } else if (situation == QLatin1String("locked folder")) {
        // The file may be written, but nothing can be created beside it.
        QVERIFY2(makeDatabase(db, QStringLiteral("Customer Job"), &error), qPrintable(error));
        QVERIFY(arrange(db, true, 0644));
        QVERIFY(arrange(ws.paths.dataDirectory, false, 0755));
    } else {
        QVERIFY(arrange(ws.paths.dataDirectory, false, 0755));
    }
    QCOMPARE(companionFiles(db), QStringList());
    const bool hadDatabase = QFileInfo::exists(db);
    const QByteArray before = fileBytes(db);

    StartResult result;
    {
        std::optional<EffectiveUser> nobody;
        if (runsAsRoot()) {
            nobody.emplace(kNobody, kNogroup);
            // A case that cannot arrange its permissions must not pass.
            QVERIFY2(nobody->isActive(), "cannot switch to the unprivileged user");
        }
        // The store opened as that user is gone before the ids come back.
        result = start(ws.paths);
    }

    QVERIFY2(result.failure, qPrintable(QStringLiteral("the start must fail; it loaded %1")
                                            .arg(result.project ? result.project->name : result.projectFailure)));
    QVERIFY2(titles.contains(result.failure->title), qPrintable(describe(result.failure)));
    QVERIFY(!result.failure->text.isEmpty());
    if (result.failure->title == kSeedingFailed)
        QCOMPARE(result.failure->text,
                 QStringLiteral("Could not copy the built-in starter template database to %1: Permission denied.")
                     .arg(QDir::toNativeSeparators(db)));

    QCOMPARE(QFileInfo::exists(db), hadDatabase);
    QCOMPARE(fileBytes(db), before);
}

void TestWorkspace::readOnlyStarterGivesWritableDatabase()
{
    // Installed files are often read-only (package stores, read-only media);
    // the user's own copy must still take edits.
    Workspace ws;
    const WritableAgain restore(ws.root.path());
    QString error;
    QVERIFY(letThrough(ws.root.path()));
    QVERIFY(QDir().mkpath(ws.paths.starterDirectory));
    StarterContent starter;
    QVERIFY2(makeStarterDatabase(ws.paths.starterDatabasePath, &starter, &error), qPrintable(error));
    QVERIFY(arrange(ws.paths.starterDirectory, false, 0555));
    QVERIFY(arrange(ws.paths.starterDatabasePath, false, 0444));
    QVERIFY(arrange(ws.paths.dataDirectory, true, 0755));

    StartResult result;
    bool renamed = false;
    {
        std::optional<EffectiveUser> nobody;
        if (runsAsRoot()) {
            nobody.emplace(kNobody, kNogroup);
            QVERIFY2(nobody->isActive(), "cannot switch to the unprivileged user");
        }
        result = start(ws.paths);
        if (result.project) {
            ProjectStore store;
            Project project = *result.project;
            project.name = QStringLiteral("My First Job");
            renamed = store.openDatabase(ws.paths.databasePath, &error)
                      && store.updateProject(project, &error);
        }
    }
    QVERIFY2(!result.failure, qPrintable(describe(result.failure)));
    QVERIFY2(result.project, qPrintable(result.projectFailure));
    QVERIFY2(renamed, qPrintable(error));
}

void TestWorkspace::failedStarterCopyNamesFileAndReason_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("reason"); // @DATA: the data directory

    QTest::newRow("data directory is a file") << "file" << "@DATA is not a folder";
    // A file-size limit stands for the full disk: a database cut short must
    // never be opened as the user's store.
    QTest::newRow("disk full") << "full" << "File too large";
}

// The starter copy's failure names the database file and the reason, and
// leaves no database (whole or partial) and no temporary file behind.
void TestWorkspace::failedStarterCopyNamesFileAndReason()
{
    QFETCH(QString, situation);
    QFETCH(QString, reason);

    Workspace ws;
    QString error;
    QVERIFY(QDir().mkpath(ws.paths.starterDirectory));
    StarterContent starter;
    QVERIFY2(makeStarterDatabase(ws.paths.starterDatabasePath, &starter, &error), qPrintable(error));
    QVERIFY(QFileInfo(ws.paths.starterDatabasePath).size() > 8192);

    StartResult result;
    if (situation == QLatin1String("file")) {
        QVERIFY(QDir(ws.paths.dataDirectory).removeRecursively());
        QFile file(ws.paths.dataDirectory);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a folder") > 0);
        file.close();
        result = start(ws.paths);
        QCOMPARE(fileBytes(ws.paths.dataDirectory), QByteArray("not a folder"));
    } else {
        const FileSizeLimit full(4096);
        QVERIFY(full.isActive());
        result = start(ws.paths);
        QCOMPARE(QDir(ws.paths.dataDirectory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
    }
    QVERIFY(result.failure);
    QCOMPARE(result.failure->title, kSeedingFailed);
    reason.replace(QStringLiteral("@DATA"), QDir::toNativeSeparators(ws.paths.dataDirectory));
    QCOMPARE(result.failure->text,
             QStringLiteral("Could not copy the built-in starter template database to %1: %2.")
                 .arg(QDir::toNativeSeparators(ws.paths.databasePath), reason));
}

QTEST_GUILESS_MAIN(TestWorkspace)
#include "tst_workspace.moc"
