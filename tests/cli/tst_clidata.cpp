// The data commands of vellumor-vdp-cli (import, sources, refresh, records,
// worksheets), driven as a process on temporary data directories.

#include "clirun.h"
#include "support/hostilefiles.h"
#include "testconnection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString sampleWorkbook()
{
    return QDir(QStringLiteral(VDP_SOURCE_DIR)).filePath(QStringLiteral("src/app/starter/sample-data.xlsx"));
}

// Each line parsed as a JSON object; a line that is not one fails the comparison that follows.
QList<QJsonObject> jsonLines(const QString &text)
{
    QList<QJsonObject> objects;
    for (const QString &line : lines(text)) {
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8());
        objects << (document.isObject() ? document.object() : QJsonObject{{QStringLiteral("<not JSON>"), line}});
    }
    return objects;
}

QJsonObject object(std::initializer_list<std::pair<QString, QString>> members)
{
    QJsonObject result;
    for (const auto &[name, value] : members)
        result.insert(name, value);
    return result;
}

} // namespace

class TestCliData : public QObject
{
    Q_OBJECT

private:
    QProcessEnvironment environment() const { return cliEnvironment(m_folders.root()); }

    // Runs the tool on `dataDir` (with --data-dir first) in `workingDirectory`.
    CliRun run(const QString &dataDir, const QStringList &arguments, const QString &workingDirectory = {}) const
    {
        CliOptions options;
        options.workingDirectory = workingDirectory;
        return runCliOn(dataDir, arguments, environment(), options);
    }

    // A data directory seeded with the starter project plus projects of the given names, in order.
    QString dataDirectoryWith(const QStringList &projects)
    {
        const QString dataDir = m_folders.newDirectory(QStringLiteral("data"));
        for (const QString &name : projects) {
            const CliRun created = run(dataDir, {QStringLiteral("create"), QStringLiteral("--"), name});
            if (created.exitCode != 0)
                qWarning() << "create failed:" << created.err;
        }
        return dataDir;
    }

    // A folder for data files, with these files written into it.
    QString filesWith(const QList<std::pair<QString, QByteArray>> &files)
    {
        const QString folder = m_folders.newFolder(QStringLiteral("files"));
        for (const auto &[name, bytes] : files)
            writeFile(QDir(folder).filePath(name), bytes);
        return folder;
    }

    QList<QJsonObject> sources(const QString &dataDir, const QString &project)
    {
        const CliRun listed = run(dataDir, {QStringLiteral("sources"), QStringLiteral("--json"),
                                            QStringLiteral("--project"), project});
        if (listed.exitCode != 0)
            qWarning() << "sources failed:" << listed.err;
        return jsonLines(listed.out);
    }

    CliFolders m_folders;
    QString m_recordsDataDir; // a fresh data directory, shared by the rows of recordsLimit
    QString m_allRecords;

private slots:
    void initTestCase();
    void freshDataDirectoryShowsStarterRecords();
    void importCsvIntoProject();
    void importExcel_data();
    void importExcel();
    void importFailureChangesNothing();
    void notARegularFile_data();
    void notARegularFile();
    void refreshOfAFileTurnedFifo();
    void projectChoice_data();
    void projectChoice();
    void noProjectAtAll();
    void refreshRereadsChangedFiles();
    void refreshFailureKeepsRowsAndGoesOn();
    void recordsLimit_data();
    void recordsLimit();
    void worksheets();
    void hiddenWorksheets();
    void usageErrorsTouchNothing_data();
    void usageErrorsTouchNothing();
};

void TestCliData::initTestCase()
{
    QVERIFY(m_folders.isValid());
    const QString missing = missingCliRequirement();
    QVERIFY2(missing.isEmpty(), qPrintable(missing));
}

// A new data directory holds the starter project bound to the sample
// workbook, and its 40 records are there at once, without an import.
void TestCliData::freshDataDirectoryShowsStarterRecords()
{
    const QString dataDir = m_folders.newDirectory(QStringLiteral("data"));
    const CliRun listed = run(dataDir, {QStringLiteral("sources"), QStringLiteral("--json")});
    QCOMPARE(listed.exitCode, 0);
    const QList<QJsonObject> listedSources = jsonLines(listed.out);
    QCOMPARE(listedSources.size(), 1);
    const QJsonObject source = listedSources.first();
    QCOMPARE(source.value("filePath").toString(), binPath(QStringLiteral("starter/sample-data.xlsx")));
    QCOMPARE(source.value("displayName").toString(), QStringLiteral("sample-data.xlsx"));
    QCOMPARE(source.value("rows").toInt(), 40);
    const QString prefix = QStringLiteral("source:%1:").arg(source.value("id").toInteger());

    const CliRun result = run(dataDir, {QStringLiteral("records")});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err, QString());
    const QList<QJsonObject> records = jsonLines(result.out);
    QCOMPARE(records.size(), 40);
    const QStringList columns{QStringLiteral("Ticket No"), QStringLiteral("Name"), QStringLiteral("City"),
                              QStringLiteral("Member Code"), QStringLiteral("Tier"), QStringLiteral("Date")};
    for (qsizetype i = 0; i < records.size(); ++i) {
        const QJsonObject &record = records.at(i);
        QCOMPARE(record.size(), 2 * columns.size());
        for (const QString &column : columns) {
            QVERIFY2(record.value(column).isString(), qPrintable(column));
            QCOMPARE(record.value(prefix + column), record.value(column));
        }
        QCOMPARE(record.value(QStringLiteral("Ticket No")).toString(), QString::number(1001 + i));
    }
}

void TestCliData::importCsvIntoProject()
{
    const QString dataDir = dataDirectoryWith({QStringLiteral("Gala")});
    const QString files = filesWith({{QStringLiteral("guests.csv"), "Name;Table\nAda;1\nGrace;2\nAlan;3\n"},
                                     {QStringLiteral("codes.csv"), "Code\nX1\nX2\nX3\nX4\n"}});
    const QString guests = QDir(files).filePath(QStringLiteral("guests.csv"));

    // A relative path is taken from the working directory and stored absolute.
    const CliRun first = run(dataDir, {QStringLiteral("import"), QStringLiteral("guests.csv"),
                                       QStringLiteral("--project"), QStringLiteral("Gala")},
                             files);
    QCOMPARE(first.err, QString());
    QCOMPARE(first.exitCode, 0);
    QCOMPARE(first.out, QStringLiteral("Imported data source 2: guests.csv (3 rows)\n"));
    const CliRun second = run(dataDir, {QStringLiteral("import"), QDir(files).filePath(QStringLiteral("codes.csv")),
                                        QStringLiteral("--project"), QStringLiteral("2")});
    QCOMPARE(second.exitCode, 0);
    QCOMPARE(second.out, QStringLiteral("Imported data source 3: codes.csv (4 rows)\n"));

    QList<QJsonObject> listed = sources(dataDir, QStringLiteral("Gala"));
    QCOMPARE(listed.size(), 2);
    QCOMPARE(listed.at(0).value("filePath").toString(), guests);
    QCOMPARE(listed.at(0).value("projectId").toInteger(), 2);
    QCOMPARE(listed.at(0).value("rows").toInt(), 3);
    QCOMPARE(listed.at(0).value("csvDelimiter").toString(), QStringLiteral("auto"));
    QCOMPARE(listed.at(1).value("sortOrder").toInt(), 1);

    // The first file became the project's live data file; the second did not change it.
    {
        TestConnection db(databasePath(dataDir), TestConnection::Mode::ReadOnly);
        QCOMPARE(db.rows(QStringLiteral("SELECT data_source_path FROM projects WHERE id=2")), QStringList{guests});
    }

    // Importing the same file again with other options keeps its entry.
    QVERIFY(writeFile(guests, "Name;Table\nEve;9\n"));
    const CliRun again = run(dataDir, {QStringLiteral("import"), guests, QStringLiteral("--project=Gala"),
                                       QStringLiteral("--delimiter"), QStringLiteral("semicolon"),
                                       QStringLiteral("--encoding"), QStringLiteral("utf-8")});
    QCOMPARE(again.exitCode, 0);
    QCOMPARE(again.out, QStringLiteral("Imported data source 2: guests.csv (1 rows)\n"));
    listed = sources(dataDir, QStringLiteral("Gala"));
    QCOMPARE(listed.size(), 2);
    QCOMPARE(listed.at(0).value("id").toInteger(), 2);
    QCOMPARE(listed.at(0).value("csvDelimiter").toString(), QStringLiteral("semicolon"));
    QCOMPARE(listed.at(0).value("csvEncoding").toString(), QStringLiteral("utf-8"));

    const CliRun records = run(dataDir, {QStringLiteral("records"), QStringLiteral("--project"), QStringLiteral("Gala")});
    QCOMPARE(records.exitCode, 0);
    QCOMPARE(jsonLines(records.out),
             QList<QJsonObject>({object({{"Name", "Eve"}, {"Table", "9"}, {"source:2:Name", "Eve"},
                                         {"source:2:Table", "9"}, {"source:3:Code", "X1"}}),
                                 object({{"source:3:Code", "X2"}}), object({{"source:3:Code", "X3"}}),
                                 object({{"source:3:Code", "X4"}})}));

    // The table: one line per file, in source order, with the same figures.
    const CliRun table = run(dataDir, {QStringLiteral("sources"), QStringLiteral("--project"), QStringLiteral("Gala")});
    QCOMPARE(table.exitCode, 0);
    const QStringList tableLines = lines(table.out);
    QCOMPARE(tableLines.size(), 3);
    QCOMPARE(tableLines.at(0).simplified(), QStringLiteral("ID Rows Name Path"));
    QCOMPARE(tableLines.at(1).simplified(), QStringLiteral("2 1 guests.csv %1").arg(guests));
    QCOMPARE(tableLines.at(2).simplified(),
             QStringLiteral("3 4 codes.csv %1").arg(QDir(files).filePath(QStringLiteral("codes.csv"))));
    QCOMPARE(tableLines.at(1).indexOf(QStringLiteral("guests.csv")), tableLines.at(0).indexOf(QStringLiteral("Name")));
}

void TestCliData::importExcel_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("first worksheet by default") << QStringList{};
    QTest::newRow("worksheet named") << QStringList{"--worksheet", "Members"};
}

// As the import dialog does it: the worksheet chosen (the first one unless
// named) is stored, encoding and delimiter stay "auto".
void TestCliData::importExcel()
{
    QFETCH(QStringList, options);
    const QString dataDir = dataDirectoryWith({QStringLiteral("Members")});
    const CliRun imported = run(dataDir, QStringList{QStringLiteral("import"), sampleWorkbook()} + options);
    QCOMPARE(imported.err, QString());
    QCOMPARE(imported.exitCode, 0);
    QCOMPARE(imported.out, QStringLiteral("Imported data source 2: sample-data.xlsx (40 rows)\n"));

    const QList<QJsonObject> listed = sources(dataDir, QStringLiteral("Members"));
    QCOMPARE(listed.size(), 1);
    QCOMPARE(listed.first().value("worksheetName").toString(), QStringLiteral("Members"));
    QCOMPARE(listed.first().value("csvEncoding").toString(), QStringLiteral("auto"));
    QCOMPARE(listed.first().value("csvDelimiter").toString(), QStringLiteral("auto"));
}

// A file that cannot be read leaves the database as it was, byte for byte.
void TestCliData::importFailureChangesNothing()
{
    const QString dataDir = dataDirectoryWith({QStringLiteral("Job")});
    const QString files = filesWith({{QStringLiteral("empty.csv"), ""}});
    const QStringList before = TestConnection(databasePath(dataDir)).rows(QStringLiteral(
        "SELECT 'source', id, file_path FROM data_sources UNION ALL SELECT 'project', id, COALESCE(data_source_path, '') "
        "FROM projects"));

    const QList<QStringList> attempts{
        {QStringLiteral("import"), QDir(files).filePath(QStringLiteral("missing.csv"))},
        {QStringLiteral("import"), QDir(files).filePath(QStringLiteral("empty.csv"))},
        {QStringLiteral("import"), sampleWorkbook(), QStringLiteral("--worksheet"), QStringLiteral("No Such Sheet")},
        {QStringLiteral("import"), QDir(files).filePath(QStringLiteral("missing.xlsx"))},
    };
    for (const QStringList &arguments : attempts) {
        const CliRun result = run(dataDir, arguments);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.out, QString());
        QVERIFY2(result.err.startsWith(QStringLiteral("Variable data import failed: "))
                     || result.err.startsWith(QStringLiteral("Excel workbook could not be read: ")),
                 qPrintable(result.err));
        QCOMPARE(lines(result.err).size(), 1);
    }
    TestConnection db(databasePath(dataDir), TestConnection::Mode::ReadOnly);
    QCOMPARE(db.rows(QStringLiteral("SELECT 'source', id, file_path FROM data_sources UNION ALL SELECT 'project', id, "
                                    "COALESCE(data_source_path, '') FROM projects")),
             before);
    QCOMPARE(db.rows(QStringLiteral("SELECT COUNT(*) FROM data_source_records WHERE data_source_id <> 1")),
             QStringList{QStringLiteral("0")});
}

void TestCliData::notARegularFile_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("file"); // "fifo.csv" and "fifo.xlsx" are FIFOs of the test's folder
    QTest::addColumn<QString>("messageHead");

    const QString importFailed = QStringLiteral("Variable data import failed: ");
    const QString notWorkbook = QStringLiteral("Excel workbook could not be read: ");
    QTest::newRow("import, FIFO") << "import" << "fifo.csv" << importFailed;
    QTest::newRow("import, FIFO named like a workbook") << "import" << "fifo.xlsx" << notWorkbook;
    QTest::newRow("import, /dev/zero") << "import" << "/dev/zero" << importFailed;
    QTest::newRow("worksheets, FIFO") << "worksheets" << "fifo.xlsx" << notWorkbook;
    QTest::newRow("worksheets, /dev/zero") << "worksheets" << "/dev/zero" << notWorkbook;
}

// A FIFO would block the tool in open() and /dev/zero would fill its memory;
// both are refused at once, and the database keeps every row it had.
void TestCliData::notARegularFile()
{
    QFETCH(QString, command);
    QFETCH(QString, file);
    QFETCH(QString, messageHead);

    const QString dataDir = dataDirectoryWith({QStringLiteral("Job")});
    const QString files = m_folders.newFolder(QStringLiteral("files"));
    for (const QString &name : {QStringLiteral("fifo.csv"), QStringLiteral("fifo.xlsx")})
        QVERIFY(makeFifo(QDir(files).filePath(name)));
    const QString path = QDir(files).filePath(file); // /dev/zero stays as it is
    const QString counts = QStringLiteral("SELECT (SELECT COUNT(*) FROM projects), (SELECT COUNT(*) FROM data_sources), "
                                          "(SELECT COUNT(*) FROM data_source_records)");
    const QStringList before = TestConnection(databasePath(dataDir)).rows(counts);

    CliOptions options;
    options.timeoutMs = 30000;
    const CliRun result = runCliOn(dataDir, {command, path}, environment(), options);
    QCOMPARE(result.err, messageHead + QDir::toNativeSeparators(path) + QStringLiteral(" is not a regular file\n"));
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QString());
    QCOMPARE(TestConnection(databasePath(dataDir), TestConnection::Mode::ReadOnly).rows(counts), before);
}

// A data file replaced by a FIFO: the refresh names it and keeps its rows.
void TestCliData::refreshOfAFileTurnedFifo()
{
    const QString dataDir = dataDirectoryWith({QStringLiteral("Job")});
    const QString files = filesWith({{QStringLiteral("a.csv"), "Name\nAda\nGrace\n"}});
    const QString path = QDir(files).filePath(QStringLiteral("a.csv"));
    QCOMPARE(run(dataDir, {QStringLiteral("import"), path}).exitCode, 0);
    const QString rowsQuery = QStringLiteral("SELECT data_source_id, sort_index, payload_json FROM data_source_records "
                                             "ORDER BY data_source_id, sort_index");
    const QStringList keptRows = TestConnection(databasePath(dataDir)).rows(rowsQuery);
    QVERIFY(QFile::remove(path));
    QVERIFY(makeFifo(path));

    CliOptions options;
    options.timeoutMs = 30000;
    const CliRun result = runCliOn(dataDir, {QStringLiteral("refresh")}, environment(), options);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.err, QStringLiteral("Could not refresh a.csv (%1): %1 is not a regular file\n").arg(path));
    QCOMPARE(TestConnection(databasePath(dataDir), TestConnection::Mode::ReadOnly).rows(rowsQuery), keptRows);
}

void TestCliData::projectChoice_data()
{
    QTest::addColumn<QStringList>("projectOption");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("projectId"); // whose data file is listed
    QTest::addColumn<QString>("message");

    // Projects: 1 starter, 2 "Gala" (saved last), 3 "4", 4 "Twin", 5 "Twin", 6 "42".
    QTest::newRow("default: highest id, not the last saved") << QStringList{} << 0 << 6 << "";
    QTest::newRow("by id") << QStringList{"--project", "2"} << 0 << 2 << "";
    QTest::newRow("by id, leading zero") << QStringList{"--project", "02"} << 0 << 2 << "";
    QTest::newRow("by name") << QStringList{"--project", "Gala"} << 0 << 2 << "";
    QTest::newRow("id wins over a name of digits") << QStringList{"--project", "4"} << 0 << 4 << "";
    QTest::newRow("digits that are no id are a name") << QStringList{"--project", "42"} << 0 << 6 << "";
    QTest::newRow("name is case-sensitive") << QStringList{"--project", "gala"} << 1 << 0
                                            << "No project has the id or the name 'gala'.\n";
    QTest::newRow("name is exact") << QStringList{"--project", "Gala "} << 1 << 0
                                   << "No project has the id or the name 'Gala '.\n";
    QTest::newRow("unknown id") << QStringList{"--project", "99"} << 1 << 0
                                << "No project has the id or the name '99'.\n";
    QTest::newRow("two projects of that name") << QStringList{"--project", "Twin"} << 1 << 0
                                               << "2 projects are named 'Twin'; choose one by its id.\n";
}

void TestCliData::projectChoice()
{
    QFETCH(QStringList, projectOption);
    QFETCH(int, exitCode);
    QFETCH(int, projectId);
    QFETCH(QString, message);

    const QString dataDir = dataDirectoryWith({QStringLiteral("Gala"), QStringLiteral("4"), QStringLiteral("Twin"),
                                               QStringLiteral("Twin"), QStringLiteral("42")});
    {
        TestConnection db(databasePath(dataDir));
        QVERIFY(db.exec(QStringLiteral("UPDATE projects SET updated_at='2999-01-01 00:00:00' WHERE id=2")));
        for (int id = 2; id <= 6; ++id) {
            QVERIFY(db.exec(QStringLiteral("INSERT INTO data_sources(project_id, file_path, display_name) "
                                           "VALUES(%1, '/data/project-%1.csv', 'project-%1.csv')")
                                .arg(id)));
        }
    }

    const CliRun result = run(dataDir, QStringList{QStringLiteral("sources"), QStringLiteral("--json")} + projectOption);
    QCOMPARE(result.err, message);
    QCOMPARE(result.exitCode, exitCode);
    if (exitCode == 0) {
        const QList<QJsonObject> listed = jsonLines(result.out);
        QCOMPARE(listed.size(), 1);
        QCOMPARE(listed.first().value("projectId").toInteger(), projectId);
    } else {
        QCOMPARE(result.out, QString());
    }
}

// The tool never creates a project on its own, unlike the window's start-up.
void TestCliData::noProjectAtAll()
{
    const QString dataDir = dataDirectoryWith({});
    QCOMPARE(run(dataDir, {QStringLiteral("sources")}).exitCode, 0); // seeds the data directory
    {
        TestConnection db(databasePath(dataDir));
        QVERIFY(db.exec(QStringLiteral("DELETE FROM projects")));
    }
    for (const QString &command : {QStringLiteral("sources"), QStringLiteral("records"), QStringLiteral("refresh")}) {
        const CliRun result = run(dataDir, {command});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.err, QStringLiteral("There is no project. Create one with 'vellumor-vdp-cli create NAME'.\n"));
    }
    TestConnection db(databasePath(dataDir), TestConnection::Mode::ReadOnly);
    QCOMPARE(db.rows(QStringLiteral("SELECT COUNT(*) FROM projects")), QStringList{QStringLiteral("0")});
}

void TestCliData::refreshRereadsChangedFiles()
{
    const QString dataDir = dataDirectoryWith({QStringLiteral("Job")});
    const QString files = filesWith({{QStringLiteral("a.csv"), "Name\nAda\n"}, {QStringLiteral("b.csv"), "Code\n1\n"}});
    for (const QString &name : {QStringLiteral("a.csv"), QStringLiteral("b.csv")})
        QCOMPARE(run(dataDir, {QStringLiteral("import"), QDir(files).filePath(name)}).exitCode, 0);

    QVERIFY(writeFile(QDir(files).filePath(QStringLiteral("a.csv")), "Name,City\nAda,Oslo\nGrace,Lima\n"));
    const CliRun result = run(dataDir, {QStringLiteral("refresh")});
    QCOMPARE(result.err, QString());
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QStringLiteral("Refreshed a.csv: 2 rows\nRefreshed b.csv: 1 rows\n"));

    const CliRun records = run(dataDir, {QStringLiteral("records")});
    QCOMPARE(jsonLines(records.out),
             QList<QJsonObject>({object({{"Name", "Ada"}, {"City", "Oslo"}, {"source:2:Name", "Ada"},
                                         {"source:2:City", "Oslo"}, {"source:3:Code", "1"}}),
                                 object({{"Name", "Grace"}, {"City", "Lima"}, {"source:2:Name", "Grace"},
                                         {"source:2:City", "Lima"}})}));
}

// A file that cannot be read is named on stderr and keeps its rows; the
// files after it are still refreshed.
void TestCliData::refreshFailureKeepsRowsAndGoesOn()
{
    const QString dataDir = dataDirectoryWith({QStringLiteral("Job")});
    const QString files = filesWith({{QStringLiteral("gone.csv"), "Name\nAda\nGrace\n"},
                                     {QStringLiteral("empty.csv"), "Name\nAlan\n"},
                                     {QStringLiteral("fine.csv"), "Code\n1\n"}});
    for (const QString &name : {QStringLiteral("gone.csv"), QStringLiteral("empty.csv"), QStringLiteral("fine.csv")})
        QCOMPARE(run(dataDir, {QStringLiteral("import"), QDir(files).filePath(name)}).exitCode, 0);
    const QString rowsQuery = QStringLiteral("SELECT data_source_id, sort_index, payload_json FROM data_source_records "
                                             "WHERE data_source_id IN (2, 3) ORDER BY data_source_id, sort_index");
    const QStringList keptRows = TestConnection(databasePath(dataDir)).rows(rowsQuery);
    QCOMPARE(keptRows.size(), 3);

    QVERIFY(QFile::remove(QDir(files).filePath(QStringLiteral("gone.csv"))));
    QVERIFY(writeFile(QDir(files).filePath(QStringLiteral("empty.csv")), ""));
    QVERIFY(writeFile(QDir(files).filePath(QStringLiteral("fine.csv")), "Code\n1\n2\n"));

    const CliRun result = run(dataDir, {QStringLiteral("refresh")});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QStringLiteral("Refreshed fine.csv: 2 rows\n"));
    const QStringList errors = lines(result.err);
    QCOMPARE(errors.size(), 2);
    QVERIFY2(errors.at(0).startsWith(QStringLiteral("Could not refresh gone.csv (%1): ")
                                         .arg(QDir(files).filePath(QStringLiteral("gone.csv")))),
             qPrintable(errors.at(0)));
    QVERIFY2(errors.at(1).startsWith(QStringLiteral("Could not refresh empty.csv (%1): ")
                                         .arg(QDir(files).filePath(QStringLiteral("empty.csv")))),
             qPrintable(errors.at(1)));
    for (const QString &error : errors)
        QVERIFY2(!error.endsWith(QStringLiteral("): ")), qPrintable(error)); // the reader's message follows

    TestConnection db(databasePath(dataDir), TestConnection::Mode::ReadOnly);
    QCOMPARE(db.rows(rowsQuery), keptRows);
    QCOMPARE(db.rows(QStringLiteral("SELECT COUNT(*) FROM data_source_records WHERE data_source_id=4")),
             QStringList{QStringLiteral("2")});
}

void TestCliData::recordsLimit_data()
{
    QTest::addColumn<QString>("limit");
    QTest::addColumn<int>("expected");
    QTest::newRow("no limit") << QString() << 40;
    QTest::newRow("0") << "0" << 0;
    QTest::newRow("1") << "1" << 1;
    QTest::newRow("39") << "39" << 39;
    QTest::newRow("more than there are") << "1000" << 40;
}

// Cards in card order, each a compact JSON object on a line of its own.
void TestCliData::recordsLimit()
{
    QFETCH(QString, limit);
    QFETCH(int, expected);
    if (m_recordsDataDir.isEmpty()) {
        m_recordsDataDir = dataDirectoryWith({});
        m_allRecords = run(m_recordsDataDir, {QStringLiteral("records")}).out;
    }
    QStringList arguments{QStringLiteral("records")};
    if (!limit.isEmpty())
        arguments << QStringLiteral("--limit") << limit;
    const CliRun result = run(m_recordsDataDir, arguments);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(lines(result.out), lines(m_allRecords).mid(0, expected));
    for (const QString &line : lines(result.out))
        QCOMPARE(line, QString::fromUtf8(QJsonDocument::fromJson(line.toUtf8()).toJson(QJsonDocument::Compact)));
}

// Reads the workbook only: the data directory is not even created.
void TestCliData::worksheets()
{
    const QString dataDir = m_folders.newDirectory(QStringLiteral("data"));
    const CliRun listed = run(dataDir, {QStringLiteral("worksheets"), sampleWorkbook()});
    QCOMPARE(listed.err, QString());
    QCOMPARE(listed.exitCode, 0);
    QCOMPARE(listed.out, QStringLiteral("Members\n"));

    const QString files = filesWith({{QStringLiteral("data.csv"), "Name\nAda\n"}});
    for (const QString &file : {QDir(files).filePath(QStringLiteral("data.csv")),
                                QDir(files).filePath(QStringLiteral("missing.xlsx"))}) {
        const CliRun failed = run(dataDir, {QStringLiteral("worksheets"), file});
        QCOMPARE(failed.exitCode, 1);
        QCOMPARE(failed.out, QString());
        QVERIFY2(failed.err.startsWith(QStringLiteral("Excel workbook could not be read: ")), qPrintable(failed.err));
        QVERIFY2(failed.err.trimmed().size() > QStringLiteral("Excel workbook could not be read:").size(),
                 qPrintable(failed.err));
    }
    QVERIFY(!QFileInfo::exists(dataDir));
}

// A workbook whose first sheet is hidden: the listing says so, and the
// import stores and reads the first visible sheet, as the reader's default.
void TestCliData::hiddenWorksheets()
{
    const QString files = m_folders.newFolder(QStringLiteral("files"));
    const QString workbook = QDir(files).filePath(QStringLiteral("members.xlsx"));
    const QString write = QStringLiteral(R"(
import sys, openpyxl
wb = openpyxl.Workbook()
lookup = wb.active
lookup.title = "Lookup"
lookup.append(["Code"])
lookup.append(["L1"])
lookup.append(["L2"])
members = wb.create_sheet("Members")
members.append(["Name"])
members.append(["Alice"])
secret = wb.create_sheet("Secret")
secret.append(["Key"])
lookup.sheet_state = "hidden"
secret.sheet_state = "veryHidden"
wb.active = 1
wb.save(sys.argv[1])
)");
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), write, workbook});
    QVERIFY(process.waitForFinished(60000));
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
             process.readAllStandardError().constData());

    const QString dataDir = dataDirectoryWith({QStringLiteral("Club")});
    const CliRun listed = run(dataDir, {QStringLiteral("worksheets"), workbook});
    QCOMPARE(listed.err, QString());
    QCOMPARE(listed.exitCode, 0);
    QCOMPARE(listed.out, QStringLiteral("Lookup (hidden)\nMembers\nSecret (very hidden)\n"));

    const CliRun imported = run(dataDir, {QStringLiteral("import"), QStringLiteral("--project"),
                                          QStringLiteral("Club"), workbook});
    QCOMPARE(imported.err, QString());
    QCOMPARE(imported.exitCode, 0);
    QCOMPARE(imported.out, QStringLiteral("Imported data source 2: members.xlsx (1 rows)\n"));
    const QList<QJsonObject> listedSources = sources(dataDir, QStringLiteral("Club"));
    QCOMPARE(listedSources.size(), 1);
    QCOMPARE(listedSources.first().value("worksheetName").toString(), QStringLiteral("Members"));
}

void TestCliData::usageErrorsTouchNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("usage");

    const QString importUsage = QStringLiteral(
        "Usage: vellumor-vdp-cli [--data-dir DIR] import [--project PROJECT] [--worksheet NAME] "
        "[--encoding ENCODING] [--delimiter DELIMITER] FILE\n");
    const QString recordsUsage = QStringLiteral(
        "Usage: vellumor-vdp-cli [--data-dir DIR] records [--project PROJECT] [--prepared] [--limit N]\n");
    const QString worksheetsUsage = QStringLiteral("Usage: vellumor-vdp-cli [--data-dir DIR] worksheets FILE\n");

    QTest::newRow("unknown encoding") << QStringList{"import", "a.csv", "--encoding", "latin1"}
                                      << "invalid encoding 'latin1' (use auto, utf-8, windows-1252)" << importUsage;
    QTest::newRow("encoding in other case") << QStringList{"import", "a.csv", "--encoding", "UTF-8"}
                                            << "invalid encoding 'UTF-8' (use auto, utf-8, windows-1252)" << importUsage;
    QTest::newRow("unknown delimiter") << QStringList{"import", "a.csv", "--delimiter", ","}
                                       << "invalid delimiter ',' (use auto, comma, semicolon, tab)" << importUsage;
    QTest::newRow("worksheet of a CSV file") << QStringList{"import", "a.csv", "--worksheet", "Sheet1"}
                                             << "--worksheet applies to Excel workbooks (.xlsx, .xlsm) only" << importUsage;
    QTest::newRow("delimiter of a workbook") << QStringList{"import", "a.XLSX", "--delimiter", "comma"}
                                             << "--encoding and --delimiter apply to CSV files only" << importUsage;
    QTest::newRow("encoding of a workbook") << QStringList{"import", "a.xlsm", "--encoding", "auto"}
                                            << "--encoding and --delimiter apply to CSV files only" << importUsage;
    QTest::newRow("import without FILE") << QStringList{"import"} << "missing argument FILE" << importUsage;
    QTest::newRow("project without value") << QStringList{"import", "a.csv", "--project"}
                                           << "option '--project' needs a value PROJECT" << importUsage;
    QTest::newRow("negative limit") << QStringList{"records", "--limit", "-1"}
                                    << "invalid limit '-1' (use a whole number, 0 or more)" << recordsUsage;
    QTest::newRow("limit not a number") << QStringList{"records", "--limit", "ten"}
                                        << "invalid limit 'ten' (use a whole number, 0 or more)" << recordsUsage;
    QTest::newRow("limit with sign") << QStringList{"records", "--limit", "+5"}
                                     << "invalid limit '+5' (use a whole number, 0 or more)" << recordsUsage;
    QTest::newRow("limit too large") << QStringList{"records", "--limit", "99999999999999999999"}
                                     << "invalid limit '99999999999999999999' (use a whole number, 0 or more)"
                                     << recordsUsage;
    QTest::newRow("worksheets without FILE") << QStringList{"worksheets"} << "missing argument FILE" << worksheetsUsage;
}

// Wrong option values are found before anything is opened: exit code 2,
// message and usage on stderr, and no data directory.
void TestCliData::usageErrorsTouchNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QFETCH(QString, usage);

    const QString dataDir = m_folders.newDirectory(QStringLiteral("data"));
    const CliRun result = run(dataDir, arguments);
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(result.out, QString());
    QVERIFY2(result.err.startsWith(QStringLiteral("vellumor-vdp-cli: ") + message + u'\n'), qPrintable(result.err));
    QVERIFY2(result.err.contains(usage), qPrintable(result.err));
    QVERIFY(!QFileInfo::exists(dataDir));
}

QTEST_GUILESS_MAIN(TestCliData)
#include "tst_clidata.moc"
