#include "storetestutil.h"

#include "store/projectstore.h"

#include <QTest>

#include <limits>

using namespace storetest;

namespace {

QList<qint64> idsOf(const QList<Project> &projects)
{
    QList<qint64> ids;
    for (const Project &project : projects)
        ids << project.id;
    return ids;
}

int projectCount(const QSqlDatabase &db)
{
    return scalar(db, QStringLiteral("SELECT COUNT(*) FROM projects")).toInt();
}

} // namespace

class TestProjectRecords : public QObject
{
    Q_OBJECT

private slots:
    void createProject_data();
    void createProject();
    void idsAreNeverReused();

    void loadLatestProjectCreatesOneInEmptyDatabase();
    void loadLatestProjectTakesHighestId();
    void listProjectsOrder();

    void updateProjectRoundTrip();
    void updateProjectLeavesDemoColumnsAlone();
    void updateProjectOfMissingIdSucceeds();

    void deleteProjectRejects_data();
    void deleteProjectRejects();
    void deleteProjectTwice();

    void legacyDemoUpkeep_data();
    void legacyDemoUpkeep();
    void relinkStarterSampleData();
};

void TestProjectRecords::createProject_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expectedName");
    const QString untitled = QStringLiteral("Untitled VDP Project");
    QTest::newRow("plain") << QStringLiteral("Spring Raffle") << QStringLiteral("Spring Raffle");
    QTest::newRow("trimmed") << QStringLiteral("  \tLottery 2024 \n") << QStringLiteral("Lottery 2024");
    QTest::newRow("inner blanks kept") << QStringLiteral(" A  B ") << QStringLiteral("A  B");
    QTest::newRow("empty") << QString() << untitled;
    QTest::newRow("blanks only") << QStringLiteral(" \t \n ") << untitled;
    QTest::newRow("quote and unicode") << QStringLiteral("O'Brien \u00b7 Karten")
                                       << QStringLiteral("O'Brien \u00b7 Karten");
}

void TestProjectRecords::createProject()
{
    QFETCH(QString, name);
    QFETCH(QString, expectedName);

    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));

    const std::optional<Project> created = scratch.store().createProject(name, &error);
    QVERIFY2(created.has_value(), qPrintable(error));

    Project expected;
    expected.id = created->id;
    expected.name = expectedName;
    QVERIFY(created->id > 0);
    QCOMPARE(*created, expected);

    // The stored row reads back as the same record: the column defaults agree
    // with the in-memory ones.
    const QList<Project> listed = scratch.store().listProjects(&error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(listed.size(), 1);
    QCOMPARE(listed.first(), expected);
    QCOMPARE(scalar(scratch.db(), QStringLiteral("SELECT name FROM projects WHERE id=?"),
                    {created->id}).toString(),
             expectedName);
}

void TestProjectRecords::idsAreNeverReused()
{
    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));
    ProjectStore &store = scratch.store();

    const std::optional<Project> first = store.createProject(QStringLiteral("First"), &error);
    const std::optional<Project> second = store.createProject(QStringLiteral("Second"), &error);
    QVERIFY(first && second);
    QCOMPARE(second->id, first->id + 1);
    QVERIFY2(store.deleteProject(second->id, &error), qPrintable(error));

    const std::optional<Project> third = store.createProject(QStringLiteral("Third"), &error);
    QVERIFY(third);
    QCOMPARE(third->id, second->id + 1);
}

void TestProjectRecords::loadLatestProjectCreatesOneInEmptyDatabase()
{
    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));

    const std::optional<Project> loaded = scratch.store().loadLatestProject(&error);
    QVERIFY2(loaded.has_value(), qPrintable(error));
    Project expected;
    expected.id = loaded->id;
    expected.name = QStringLiteral("Untitled VDP Project");
    QCOMPARE(*loaded, expected);
    QCOMPARE(projectCount(scratch.db()), 1);

    // Loading again neither creates another nor returns a different one.
    const std::optional<Project> again = scratch.store().loadLatestProject(&error);
    QVERIFY2(again.has_value(), qPrintable(error));
    QCOMPARE(*again, *loaded);
    QCOMPARE(projectCount(scratch.db()), 1);
}

void TestProjectRecords::loadLatestProjectTakesHighestId()
{
    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));
    const QSqlDatabase db = scratch.db();
    QVERIFY(exec(db, QStringLiteral("INSERT INTO projects(id, name, updated_at) VALUES "
                                    "(3, 'Older id', '2020-01-01 00:00:00'), "
                                    "(7, 'Newer id', '2020-01-01 00:00:00')")));

    // Saving 3 puts it first in the list, but the latest project is still 7.
    Project older;
    older.id = 3;
    older.name = QStringLiteral("Older id, saved");
    QVERIFY2(scratch.store().updateProject(older, &error), qPrintable(error));
    QCOMPARE(idsOf(scratch.store().listProjects(&error)), QList<qint64>({3, 7}));

    const std::optional<Project> latest = scratch.store().loadLatestProject(&error);
    QVERIFY2(latest.has_value(), qPrintable(error));
    QCOMPARE(latest->id, qint64(7));
    QCOMPARE(latest->name, QStringLiteral("Newer id"));
    QCOMPARE(projectCount(db), 2);
}

void TestProjectRecords::listProjectsOrder()
{
    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));
    ProjectStore &store = scratch.store();
    const QSqlDatabase db = scratch.db();

    QList<qint64> ids;
    for (const QString &name : {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                                QStringLiteral("D")}) {
        const std::optional<Project> project = store.createProject(name, &error);
        QVERIFY2(project, qPrintable(error));
        ids << project->id;
    }
    // B saved last; A, C and D saved at the same second.
    const QString sameTime = QStringLiteral("2024-05-01 10:00:00");
    QVERIFY(exec(db, QStringLiteral("UPDATE projects SET updated_at=? WHERE id IN (?, ?, ?)"),
                 {sameTime, ids[0], ids[2], ids[3]}));
    QVERIFY(exec(db, QStringLiteral("UPDATE projects SET updated_at='2024-05-02 08:00:00' WHERE id=?"),
                 {ids[1]}));
    QCOMPARE(idsOf(store.listProjects(&error)), QList<qint64>({ids[1], ids[3], ids[2], ids[0]}));
    QVERIFY(error.isEmpty());

    // Saving A moves it to the top.
    Project a;
    a.id = ids[0];
    a.name = QStringLiteral("A");
    QVERIFY2(store.updateProject(a, &error), qPrintable(error));
    QCOMPARE(idsOf(store.listProjects(&error)), QList<qint64>({ids[0], ids[1], ids[3], ids[2]}));
}

void TestProjectRecords::updateProjectRoundTrip()
{
    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));
    ProjectStore &store = scratch.store();
    const std::optional<Project> other = store.createProject(QStringLiteral("Bystander"), &error);
    const std::optional<Project> created = store.createProject(QStringLiteral("Draft"), &error);
    QVERIFY2(created && other, qPrintable(error));
    QVERIFY(exec(scratch.db(),
                 QStringLiteral("UPDATE projects SET updated_at='2001-01-01 00:00:00'")));

    // Every field away from its default.
    Project changed = *created;
    changed.name = QStringLiteral("Gala Tickets \u2013 Final");
    changed.cardWidthMm = 85.6;
    changed.cardHeightMm = 53.98;
    changed.paperWidthMm = 330.2;
    changed.paperHeightMm = 482.6;
    changed.rows = 9;
    changed.columns = 3;
    changed.bleedMm = 3.175;
    changed.showBleed = false;
    changed.showImpositionBorder = false;
    changed.impositionBorderColor = QStringLiteral("#ff00aa");
    changed.showCropMarks = true;
    changed.backgroundPath = QStringLiteral("/data/assets/project-2/background-1.png");
    changed.duplex = true;
    changed.backBackgroundPath = QStringLiteral("/data/assets/project-2/background-2.pdf");
    changed.dataSourcePath = QStringLiteral("/jobs/gala guests.xlsx");
    QVERIFY2(store.updateProject(changed, &error), qPrintable(error));

    const QList<Project> listed = store.listProjects(&error);
    QCOMPARE(listed.size(), 2);
    QCOMPARE(listed.first(), changed);
    QCOMPARE(listed.last().id, other->id);
    QCOMPARE(listed.last().name, QStringLiteral("Bystander"));

    QVERIFY(scalar(scratch.db(), QStringLiteral("SELECT updated_at FROM projects WHERE id=?"),
                   {changed.id}).toString()
            > QStringLiteral("2001-01-01 00:00:00"));
    QCOMPARE(scalar(scratch.db(), QStringLiteral("SELECT updated_at FROM projects WHERE id=?"),
                    {other->id}).toString(),
             QStringLiteral("2001-01-01 00:00:00"));

    // And back to defaults: nothing sticks from the earlier save.
    Project reset;
    reset.id = changed.id;
    reset.name = QStringLiteral("Draft");
    QVERIFY2(store.updateProject(reset, &error), qPrintable(error));
    QCOMPARE(store.listProjects(&error).first(), reset);
}

void TestProjectRecords::updateProjectLeavesDemoColumnsAlone()
{
    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));
    ProjectStore &store = scratch.store();
    const std::optional<Project> plain = store.createProject(QStringLiteral("Plain"), &error);
    const std::optional<Project> starter = store.createProject(QStringLiteral("Starter"), &error);
    QVERIFY(plain && starter);
    QVERIFY(exec(scratch.db(), QStringLiteral("UPDATE projects SET demo_key='starter-template' "
                                              "WHERE id=?"),
                 {starter->id}));

    Project plainChanged = *plain;
    plainChanged.isDemo = true;
    plainChanged.demoKey = QStringLiteral("scratch-card");
    Project starterChanged = *starter;
    starterChanged.name = QStringLiteral("Starter, renamed");
    starterChanged.isDemo = true;
    starterChanged.demoKey.clear();
    QVERIFY2(store.updateProject(plainChanged, &error), qPrintable(error));
    QVERIFY2(store.updateProject(starterChanged, &error), qPrintable(error));

    QCOMPARE(rows(scratch.db(), QStringLiteral("SELECT id, name, is_demo, quote(demo_key) FROM "
                                               "projects ORDER BY id")),
             QStringList({QStringLiteral("%1 | Plain | 0 | NULL").arg(plain->id),
                          QStringLiteral("%1 | Starter, renamed | 0 | 'starter-template'")
                              .arg(starter->id)}));
}

void TestProjectRecords::updateProjectOfMissingIdSucceeds()
{
    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));
    const std::optional<Project> existing = scratch.store().createProject(QStringLiteral("Kept"));
    QVERIFY(existing);
    const QStringList before = dumpDatabase(scratch.db());

    Project ghost;
    ghost.id = existing->id + 40;
    ghost.name = QStringLiteral("Ghost");
    QVERIFY2(scratch.store().updateProject(ghost, &error), qPrintable(error));
    QCOMPARE(dumpDatabase(scratch.db()), before);
}

void TestProjectRecords::deleteProjectRejects_data()
{
    QTest::addColumn<qint64>("id");
    QTest::addColumn<QString>("message");
    const QString invalid = QStringLiteral("Invalid project ID");
    const QString missing = QStringLiteral("Project does not exist or has been deleted");
    QTest::newRow("zero") << qint64(0) << invalid;
    QTest::newRow("minus one") << qint64(-1) << invalid;
    QTest::newRow("most negative") << std::numeric_limits<qint64>::min() << invalid;
    QTest::newRow("never existed") << qint64(999) << missing;
}

void TestProjectRecords::deleteProjectRejects()
{
    QFETCH(qint64, id);
    QFETCH(QString, message);

    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));
    QVERIFY(scratch.store().createProject(QStringLiteral("Stays")));
    const QStringList before = dumpDatabase(scratch.db());

    QVERIFY(!scratch.store().deleteProject(id, &error));
    QCOMPARE(error, message);
    QCOMPARE(dumpDatabase(scratch.db()), before);
    // The message is optional.
    QVERIFY(!scratch.store().deleteProject(id, nullptr));
}

void TestProjectRecords::deleteProjectTwice()
{
    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));
    const std::optional<Project> doomed = scratch.store().createProject(QStringLiteral("Doomed"));
    const std::optional<Project> keeper = scratch.store().createProject(QStringLiteral("Keeper"));
    QVERIFY(doomed && keeper);

    QVERIFY2(scratch.store().deleteProject(doomed->id, &error), qPrintable(error));
    QCOMPARE(idsOf(scratch.store().listProjects()), QList<qint64>{keeper->id});

    QVERIFY(!scratch.store().deleteProject(doomed->id, &error));
    QCOMPARE(error, QStringLiteral("Project does not exist or has been deleted"));
    QCOMPARE(idsOf(scratch.store().listProjects()), QList<qint64>{keeper->id});
}

// Each row builds one legacy demo, applies a mutation (statements with %1 the
// demo's id) and says whether the upkeep must recognise and remove it.
void TestProjectRecords::legacyDemoUpkeep_data()
{
    QTest::addColumn<QString>("shape");
    QTest::addColumn<QStringList>("mutation");
    QTest::addColumn<QString>("expectedKey"); // empty: not a demo, must survive

    const QString scratchCard = QStringLiteral("scratch");
    const QString variable = QStringLiteral("variable");
    const QString scratchKey = QStringLiteral("scratch-card");
    const QString variableKey = QStringLiteral("variable-data");
    auto one = [](const char *sql) { return QStringList{QString::fromLatin1(sql)}; };
    const QString extraField = QStringLiteral(
        "INSERT INTO template_fields(project_id, name, x_mm, y_mm, width_mm, height_mm, "
        "font_family, font_size_pt, color_hex, alignment) "
        "VALUES(%1, 'Extra', 1, 1, 10, 5, 'Arial', 9, '#000000', 129)");

    QTest::newRow("scratch demo as shipped") << scratchCard << QStringList() << scratchKey;
    QTest::newRow("scratch demo, width within tolerance")
        << scratchCard << one("UPDATE projects SET card_width_mm=89.0009 WHERE id=%1") << scratchKey;
    QTest::newRow("scratch demo, paper within tolerance")
        << scratchCard << one("UPDATE projects SET paper_height_mm=209.9992 WHERE id=%1")
        << scratchKey;
    QTest::newRow("card width 89.01")
        << scratchCard << one("UPDATE projects SET card_width_mm=89.01 WHERE id=%1") << QString();
    QTest::newRow("card height 52.002")
        << scratchCard << one("UPDATE projects SET card_height_mm=52.002 WHERE id=%1") << QString();
    QTest::newRow("paper width 297.5")
        << scratchCard << one("UPDATE projects SET paper_width_mm=297.5 WHERE id=%1") << QString();
    QTest::newRow("renamed scratch demo")
        << scratchCard << one("UPDATE projects SET name='Scratch Card Demo 2' WHERE id=%1")
        << QString();
    QTest::newRow("scratch demo made single-sided")
        << scratchCard << one("UPDATE projects SET duplex=0 WHERE id=%1") << QString();
    QTest::newRow("scratch demo with 4 columns")
        << scratchCard << one("UPDATE projects SET columns_count=4 WHERE id=%1") << QString();
    QTest::newRow("scratch demo, one field too many")
        << scratchCard << QStringList{extraField} << QString();
    QTest::newRow("scratch demo, prize field removed")
        << scratchCard
        << one("DELETE FROM template_fields WHERE project_id=%1 AND field_type='scratch'")
        << QString();
    QTest::newRow("scratch demo, prize field renamed")
        << scratchCard
        << one("UPDATE template_fields SET name='Prize' WHERE project_id=%1 AND field_type='scratch'")
        << QString();
    QTest::newRow("scratch demo, prize moved to front")
        << scratchCard
        << one("UPDATE template_fields SET side='front' WHERE project_id=%1 AND field_type='scratch'")
        << QString();
    QTest::newRow("scratch demo, six digits")
        << scratchCard
        << one("UPDATE template_fields SET sequence_digits=6 WHERE project_id=%1 "
               "AND field_type='sequence'")
        << QString();
    QTest::newRow("scratch demo, fours allowed")
        << scratchCard
        << one("UPDATE template_fields SET sequence_exclude_four=0 WHERE project_id=%1 "
               "AND field_type='sequence'")
        << QString();
    QTest::newRow("scratch demo, step 2")
        << scratchCard
        << one("UPDATE template_fields SET sequence_step=2 WHERE project_id=%1 "
               "AND field_type='sequence'")
        << QString();
    QTest::newRow("scratch demo, other prefix")
        << scratchCard
        << one("UPDATE template_fields SET sequence_prefix='#' WHERE project_id=%1 "
               "AND field_type='sequence'")
        << QString();
    QTest::newRow("demo_key already set")
        << scratchCard << one("UPDATE projects SET demo_key='starter-template' WHERE id=%1")
        << QString();
    QTest::newRow("demo_key empty text")
        << scratchCard << one("UPDATE projects SET demo_key='' WHERE id=%1") << QString();

    QTest::newRow("variable demo as shipped") << variable << QStringList() << variableKey;
    QTest::newRow("variable demo with a second source")
        << variable
        << one("INSERT INTO data_sources(project_id, file_path, display_name) "
               "VALUES(%1, '/jobs/extra.csv', 'extra.csv')")
        << variableKey;
    QTest::newRow("Demo Template without sample-data.xlsx source")
        << variable << one("DELETE FROM data_sources WHERE project_id=%1") << QString();
    QTest::newRow("sample source under another name")
        << variable
        << one("UPDATE data_sources SET display_name='sample-data.csv' WHERE project_id=%1")
        << QString();
    QTest::newRow("variable demo on A3 paper")
        << variable << one("UPDATE projects SET paper_height_mm=297 WHERE id=%1") << QString();
    QTest::newRow("variable demo name in other case")
        << variable << one("UPDATE projects SET name='demo template' WHERE id=%1") << QString();
    QTest::newRow("variable demo made duplex")
        << variable << one("UPDATE projects SET duplex=1 WHERE id=%1") << QString();
    QTest::newRow("variable demo, one field too many")
        << variable << QStringList{extraField} << QString();
    QTest::newRow("variable demo, barcode turned to text")
        << variable
        << one("UPDATE template_fields SET field_type='text' WHERE project_id=%1 "
               "AND field_type='barcode'")
        << QString();
    QTest::newRow("variable demo, one rectangle an ellipse")
        << variable
        << one("UPDATE template_graphics SET element_type='ellipse' WHERE id = "
               "(SELECT MIN(id) FROM template_graphics WHERE project_id=%1)")
        << QString();
    QTest::newRow("variable demo, seventh rectangle")
        << variable
        << one("INSERT INTO template_graphics(project_id, element_type, x_mm, y_mm, width_mm, "
               "height_mm, stroke_color, stroke_width_mm, fill_color) "
               "VALUES(%1, 'rectangle', 0, 0, 5, 5, '#000000', 0.2, 'transparent')")
        << QString();
    QTest::newRow("variable demo, one rectangle removed")
        << variable
        << one("DELETE FROM template_graphics WHERE id = "
               "(SELECT MAX(id) FROM template_graphics WHERE project_id=%1)")
        << QString();
}

void TestProjectRecords::legacyDemoUpkeep()
{
    QFETCH(QString, shape);
    QFETCH(QStringList, mutation);
    QFETCH(QString, expectedKey);

    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));
    ProjectStore &store = scratch.store();
    const QSqlDatabase db = scratch.db();

    // A user's own project with content, which the upkeep must never touch.
    const std::optional<Project> own = store.createProject(QStringLiteral("Spring Raffle"), &error);
    QVERIFY2(own, qPrintable(error));
    TemplateField ownField;
    ownField.projectId = own->id;
    QVERIFY2(store.insertElement(&ownField, &error), qPrintable(error));

    const qint64 demo = shape == QLatin1String("scratch") ? insertLegacyScratchDemo(db)
                                                          : insertLegacyVariableDemo(db);
    QVERIFY(demo > 0);
    for (const QString &statement : mutation) {
        QVERIFY2(exec(db, statement.arg(demo), {}, &error), qPrintable(error));
    }
    const QString demoState = QStringLiteral("SELECT is_demo, quote(demo_key) FROM projects WHERE id=?");
    const QStringList stateBefore = rows(db, demoState, {demo});
    const QStringList ownBefore = rows(db, QStringLiteral("SELECT * FROM projects WHERE id=?"),
                                       {own->id});

    QVERIFY2(store.markLegacyDemoProjects(&error), qPrintable(error));
    if (expectedKey.isEmpty())
        QCOMPARE(rows(db, demoState, {demo}), stateBefore);
    else
        QCOMPARE(rows(db, demoState, {demo}), QStringList{QStringLiteral("1 | '%1'").arg(expectedKey)});

    QVERIFY2(store.deleteDemoProjects(&error), qPrintable(error));
    const QString childCounts = QStringLiteral(
        "SELECT (SELECT COUNT(*) FROM projects WHERE id=:p) + "
        "(SELECT COUNT(*) FROM template_fields WHERE project_id=:p) + "
        "(SELECT COUNT(*) FROM template_graphics WHERE project_id=:p) + "
        "(SELECT COUNT(*) FROM data_sources WHERE project_id=:p)");
    const int remaining =
        scalar(db, QString(childCounts).replace(QLatin1String(":p"), QString::number(demo))).toInt();
    if (expectedKey.isEmpty())
        QVERIFY(remaining > 0);
    else
        QCOMPARE(remaining, 0);
    QCOMPARE(rows(db, QStringLiteral("SELECT * FROM projects WHERE id=?"), {own->id}), ownBefore);
    QCOMPARE(store.loadRecords<TemplateField>(own->id).size(), 1);

    // Running the upkeep again finds nothing more to do.
    const QStringList settled = dumpDatabase(db);
    QVERIFY2(store.markLegacyDemoProjects(&error), qPrintable(error));
    QVERIFY2(store.deleteDemoProjects(&error), qPrintable(error));
    QCOMPARE(dumpDatabase(db), settled);
}

void TestProjectRecords::relinkStarterSampleData()
{
    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));
    ProjectStore &store = scratch.store();
    const QSqlDatabase db = scratch.db();

    const std::optional<Project> own = store.createProject(QStringLiteral("Own Job"), &error);
    const std::optional<Project> starter = store.createProject(QStringLiteral("Starter"), &error);
    // Same key but flagged: not the editable starter project.
    const std::optional<Project> flagged = store.createProject(QStringLiteral("Flagged"), &error);
    QVERIFY2(own && starter && flagged, qPrintable(error));
    const QString oldSample = QStringLiteral("C:/Program Files/Old/starter/sample-data.xlsx");
    QVERIFY(exec(db, QStringLiteral("UPDATE projects SET data_source_path=?, "
                                    "updated_at='2023-09-09 09:09:09'"),
                 {oldSample}));
    QVERIFY(exec(db, QStringLiteral("UPDATE projects SET demo_key='starter-template' WHERE id=?"),
                 {starter->id}));
    QVERIFY(exec(db, QStringLiteral("UPDATE projects SET demo_key='starter-template', is_demo=1 "
                                    "WHERE id=?"),
                 {flagged->id}));
    for (const qint64 id : {own->id, starter->id, flagged->id}) {
        QVERIFY(exec(db, QStringLiteral("INSERT INTO data_sources(project_id, file_path, display_name, "
                                        "updated_at) VALUES(?, ?, 'sample-data.xlsx', "
                                        "'2023-09-09 09:09:09')"),
                     {id, oldSample}, &error));
    }

    const QString starterDir = scratch.folder() + QStringLiteral("/install/starter");
    const QString expectedPath = starterDir + QStringLiteral("/sample-data.xlsx");
    QVERIFY2(store.relinkStarterSampleData(starterDir, &error), qPrintable(error));

    QCOMPARE(rows(db, QStringLiteral("SELECT id, data_source_path, updated_at FROM projects "
                                     "ORDER BY id")),
             QStringList({QStringLiteral("%1 | %2 | 2023-09-09 09:09:09").arg(own->id).arg(oldSample),
                          QStringLiteral("%1 | %2 | 2023-09-09 09:09:09").arg(starter->id).arg(expectedPath),
                          QStringLiteral("%1 | %2 | 2023-09-09 09:09:09").arg(flagged->id).arg(oldSample)}));
    QCOMPARE(rows(db, QStringLiteral("SELECT project_id, file_path, display_name FROM data_sources "
                                     "ORDER BY project_id")),
             QStringList({QStringLiteral("%1 | %2 | sample-data.xlsx").arg(own->id).arg(oldSample),
                          QStringLiteral("%1 | %2 | sample-data.xlsx").arg(starter->id).arg(expectedPath),
                          QStringLiteral("%1 | %2 | sample-data.xlsx").arg(flagged->id).arg(oldSample)}));

    // The list order is not disturbed: still newest id first among equal times.
    QCOMPARE(idsOf(store.listProjects(&error)),
             QList<qint64>({flagged->id, starter->id, own->id}));

    // Moving the installation again re-points it again.
    const QString movedDir = scratch.folder() + QStringLiteral("/moved/starter");
    QVERIFY2(store.relinkStarterSampleData(movedDir, &error), qPrintable(error));
    QCOMPARE(scalar(db, QStringLiteral("SELECT file_path FROM data_sources WHERE project_id=?"),
                    {starter->id}).toString(),
             movedDir + QStringLiteral("/sample-data.xlsx"));

    // A file the user added to the starter project, and made its first data
    // file, is not the sample: it keeps its path, and the upkeep still succeeds.
    const QString ownFile = scratch.folder() + QStringLiteral("/jobs/winners.csv");
    QVERIFY(exec(db, QStringLiteral("INSERT INTO data_sources(project_id, file_path, display_name) "
                                    "VALUES(?, ?, 'winners.csv')"),
                 {starter->id, ownFile}, &error));
    QVERIFY(exec(db, QStringLiteral("UPDATE projects SET data_source_path=? WHERE id=?"),
                 {ownFile, starter->id}));
    for (int start = 0; start < 2; ++start)
        QVERIFY2(store.relinkStarterSampleData(starterDir, &error), qPrintable(error));
    QCOMPARE(rows(db, QStringLiteral("SELECT file_path FROM data_sources WHERE project_id=? ORDER BY id"),
                  {starter->id}),
             QStringList({expectedPath, ownFile}));
    QCOMPARE(scalar(db, QStringLiteral("SELECT data_source_path FROM projects WHERE id=?"), {starter->id})
                 .toString(),
             ownFile);

    // A sample path written with Windows separators is still the sample.
    QVERIFY(exec(db, QStringLiteral("UPDATE projects SET data_source_path=? WHERE id=?"),
                 {QStringLiteral("C:\\Old\\starter\\sample-data.xlsx"), starter->id}));
    QVERIFY2(store.relinkStarterSampleData(starterDir, &error), qPrintable(error));
    QCOMPARE(scalar(db, QStringLiteral("SELECT data_source_path FROM projects WHERE id=?"), {starter->id})
                 .toString(),
             expectedPath);
}

QTEST_GUILESS_MAIN(TestProjectRecords)
#include "tst_projectrecords.moc"
