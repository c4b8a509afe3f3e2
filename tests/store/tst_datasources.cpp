#include "recordvalues.h"
#include "storetestutil.h"

#include "app/dataimport.h"
#include "import/tablereader.h"
#include "store/projectstore.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringDecoder>
#include <QTest>
#include <QThread>

#include <csignal>
#include <sys/resource.h>

using namespace storetest;

namespace {

QString dataSourceRow(const DataSource &s)
{
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8")
        .arg(s.id)
        .arg(s.projectId)
        .arg(s.filePath, s.displayName)
        .arg(s.sortOrder)
        .arg(s.options.worksheetName, s.options.csvEncoding, s.options.csvDelimiter);
}

QStringList dataSourceRows(const QList<DataSource> &sources)
{
    QStringList result;
    for (const DataSource &source : sources)
        result << dataSourceRow(source);
    return result;
}

// The stored rows of a source as "sort_index|payload_json", straight from the table.
QStringList storedRows(const QSqlDatabase &db, qint64 sourceId)
{
    return rows(db, QStringLiteral("SELECT sort_index || '|' || payload_json FROM data_source_records "
                                   "WHERE data_source_id=? ORDER BY sort_index"),
                {sourceId});
}

QByteArray compactJson(const QJsonObject &values)
{
    return QJsonDocument(values).toJson(QJsonDocument::Compact);
}

// A data source row written directly, for tests that need one without a file.
qint64 insertRawSource(const QSqlDatabase &db, qint64 projectId, const QString &path, int sortOrder = 0)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO data_sources(project_id, file_path, display_name, sort_order) "
                                 "VALUES(?, ?, ?, ?)"));
    query.addBindValue(projectId);
    query.addBindValue(path);
    query.addBindValue(QFileInfo(path).fileName());
    query.addBindValue(sortOrder);
    if (!query.exec())
        return -1;
    return query.lastInsertId().toLongLong();
}

bool insertRawRecord(const QSqlDatabase &db, qint64 sourceId, int sortIndex, const QString &payload)
{
    return exec(db,
                QStringLiteral("INSERT INTO data_source_records(data_source_id, sort_index, payload_json) "
                               "VALUES(?, ?, ?)"),
                {sourceId, sortIndex, payload});
}

// What the reader itself says about a file, so the tests do not depend on its wording.
QString readerMessage(const QString &path, const DataSourceOptions &options = {})
{
    QStringList header;
    QList<QStringList> rows;
    QString error;
    if (readTableFile(path, options, &header, &rows, &error))
        return QStringLiteral("<the file was read>");
    return error;
}

// A scratch store with one project, and a folder for data files.
struct Fixture
{
    ScratchStore scratch;
    qint64 projectId = 0;

    bool open(QString *error)
    {
        if (!scratch.open(error))
            return false;
        const std::optional<Project> project = scratch.store().createProject(QStringLiteral("Job"), error);
        if (!project)
            return false;
        projectId = project->id;
        return true;
    }
    ProjectStore &store() { return scratch.store(); }
    QSqlDatabase db() const { return scratch.db(); }
    QString file(const QString &name) const { return QDir(scratch.folder()).filePath(name); }
    QString writeFile(const QString &name, const QByteArray &bytes) const
    {
        const QString path = file(name);
        return storetest::writeFile(path, bytes) ? path : QString();
    }
};

// Restores the working directory when the test ends, however it ends.
class CurrentDirectory
{
public:
    explicit CurrentDirectory(const QString &path) : m_previous(QDir::currentPath()) { QDir::setCurrent(path); }
    ~CurrentDirectory() { QDir::setCurrent(m_previous); }
    CurrentDirectory(const CurrentDirectory &) = delete;
    CurrentDirectory &operator=(const CurrentDirectory &) = delete;

private:
    QString m_previous;
};

QString importChildPath()
{
    return QStringLiteral(VDP_IMPORT_CHILD);
}

} // namespace

class TestDataSources : public QObject
{
    Q_OBJECT

private slots:
    void upsertAddsSourceWithRows();
    void upsertSameFileUpdatesOptions_data();
    void upsertSameFileUpdatesOptions();
    void sortOrderIsHighestPlusOne();
    void upsertReadFailureTouchesNothing_data();
    void upsertReadFailureTouchesNothing();
    void upsertWriteFailureTouchesNothing_data();
    void upsertWriteFailureTouchesNothing();
    void upsertOnFullDiskTouchesNothing_data();
    void upsertOnFullDiskTouchesNothing();
    void upsertReadsExcel();

    void storedMembers_data();
    void storedMembers();
    void duplicateHeaderThroughReader();
    void payloadEscaping_data();
    void payloadEscaping();

    void replaceFailureRollsBack_data();
    void replaceFailureRollsBack();
    void replaceRefreshesUpdatedAt();
    void storedTextLimit_data();
    void storedTextLimit();
    void rowsOfMuchText();

    void reloadUsesStoredOptions();
    void reloadFailureKeepsRows();
    void reloadUnknownSource();

    void loadRecords_data();
    void loadRecords();
    void loadFailuresAreEmpty();
    void deleteRemovesRows();

    void killedImportKeepsPreviousRows();
};

void TestDataSources::upsertAddsSourceWithRows()
{
    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const QString path = f.writeFile(QStringLiteral("members.csv"),
                                     "Name,City\nAda,Oslo\nGrace,Lima\nAlan,Kyiv\n");

    const DataSourceOptions options{QString(), QStringLiteral("utf-8"), QStringLiteral("comma")};
    const std::optional<DataSource> source = upsertDataSource(f.store(), f.projectId, path, options, &error);
    QVERIFY2(source, qPrintable(error));
    QVERIFY(source->id > 0);
    QCOMPARE(source->projectId, f.projectId);
    QCOMPARE(source->filePath, path);
    QCOMPARE(source->displayName, QStringLiteral("members.csv"));
    QCOMPARE(source->sortOrder, 0);
    QCOMPARE(source->options, options);

    QCOMPARE(dataSourceRows(f.store().loadDataSources(f.projectId, &error)), QStringList{dataSourceRow(*source)});
    QCOMPARE(storedRows(f.db(), source->id),
             QStringList({QStringLiteral(R"(0|{"City":"Oslo","Name":"Ada"})"),
                          QStringLiteral(R"(1|{"City":"Lima","Name":"Grace"})"),
                          QStringLiteral(R"(2|{"City":"Kyiv","Name":"Alan"})")}));
    QCOMPARE(f.store().countDataSourceRecords(source->id), 3);
}

void TestDataSources::upsertSameFileUpdatesOptions_data()
{
    QTest::addColumn<QString>("firstPath");
    QTest::addColumn<QString>("secondPath");

    // "@" stands for the data folder, which is also the working directory.
    QTest::newRow("relative, then absolute") << "data.csv" << "@/data.csv";
    QTest::newRow("absolute, then relative") << "@/data.csv" << "data.csv";
    QTest::newRow("dot segments") << "./sub/../data.csv" << "@/data.csv";
}

// The second import of a file replaces its rows and options but keeps its
// entry: id, display name and place in the list.
void TestDataSources::upsertSameFileUpdatesOptions()
{
    QFETCH(QString, firstPath);
    QFETCH(QString, secondPath);

    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    QVERIFY(QDir(f.scratch.folder()).mkdir(QStringLiteral("sub")));
    const CurrentDirectory cwd(f.scratch.folder());
    const QString folder = QDir::currentPath();
    firstPath.replace(u'@', folder);
    secondPath.replace(u'@', folder);
    const QString absolute = QDir(folder).filePath(QStringLiteral("data.csv"));

    QVERIFY(writeFile(absolute, "Code;Tier\nA1;gold\n"));
    const std::optional<DataSource> other =
        upsertDataSource(f.store(), f.projectId, f.writeFile(QStringLiteral("other.csv"), "X\n1\n"), {}, &error);
    const std::optional<DataSource> first = upsertDataSource(f.store(), f.projectId, firstPath, {}, &error);
    QVERIFY2(other && first, qPrintable(error));
    QCOMPARE(first->filePath, absolute);
    QCOMPARE(first->sortOrder, 1);

    QVERIFY(writeFile(absolute, "Code,Tier\nB2,silver\nC3,bronze\n"));
    const DataSourceOptions changed{QString(), QStringLiteral("windows-1252"), QStringLiteral("comma")};
    const std::optional<DataSource> second = upsertDataSource(f.store(), f.projectId, secondPath, changed, &error);
    QVERIFY2(second, qPrintable(error));

    DataSource expected = *first;
    expected.options = changed;
    QCOMPARE(dataSourceRow(*second), dataSourceRow(expected));
    QCOMPARE(dataSourceRows(f.store().loadDataSources(f.projectId, &error)),
             QStringList({dataSourceRow(*other), dataSourceRow(expected)}));
    QCOMPARE(storedRows(f.db(), second->id),
             QStringList({QStringLiteral(R"(0|{"Code":"B2","Tier":"silver"})"),
                          QStringLiteral(R"(1|{"Code":"C3","Tier":"bronze"})")}));
}

void TestDataSources::sortOrderIsHighestPlusOne()
{
    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const std::optional<Project> otherProject = f.store().createProject(QStringLiteral("Other"), &error);
    QVERIFY(otherProject);

    QList<DataSource> added;
    for (const QString &name : {QStringLiteral("a.csv"), QStringLiteral("b.csv"), QStringLiteral("c.csv")}) {
        const std::optional<DataSource> source =
            upsertDataSource(f.store(), f.projectId, f.writeFile(name, "H\nv\n"), {}, &error);
        QVERIFY2(source, qPrintable(error));
        added << *source;
    }
    QCOMPARE(added.at(0).sortOrder, 0);
    QCOMPARE(added.at(1).sortOrder, 1);
    QCOMPARE(added.at(2).sortOrder, 2);

    // Another project counts its own sources.
    const std::optional<DataSource> elsewhere =
        upsertDataSource(f.store(), otherProject->id, f.file(QStringLiteral("a.csv")), {}, &error);
    QVERIFY2(elsewhere, qPrintable(error));
    QCOMPARE(elsewhere->sortOrder, 0);

    // Removing the first leaves a gap; the next is still the highest + 1.
    QVERIFY2(f.store().deleteDataSource(added.at(0).id, &error), qPrintable(error));
    const std::optional<DataSource> next =
        upsertDataSource(f.store(), f.projectId, f.writeFile(QStringLiteral("d.csv"), "H\nv\n"), {}, &error);
    QVERIFY2(next, qPrintable(error));
    QCOMPARE(next->sortOrder, 3);

    // The list follows sort_order, then id: equal sort orders keep insertion order.
    QVERIFY(exec(f.db(), QStringLiteral("UPDATE data_sources SET sort_order=0 WHERE project_id=?"), {f.projectId}));
    QVERIFY(exec(f.db(), QStringLiteral("UPDATE data_sources SET sort_order=-1 WHERE id=?"), {next->id}));
    QList<qint64> ids;
    for (const DataSource &source : f.store().loadDataSources(f.projectId, &error))
        ids << source.id;
    QCOMPARE(ids, QList<qint64>({next->id, added.at(1).id, added.at(2).id}));
}

void TestDataSources::upsertReadFailureTouchesNothing_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content"); // null: no file at all
    QTest::addColumn<bool>("existingSource");

    QTest::newRow("missing file, new source") << "missing.csv" << QByteArray() << false;
    QTest::newRow("empty file, new source") << "empty.csv" << QByteArray("") << false;
    QTest::newRow("empty file, known source") << "known.csv" << QByteArray("") << true;
    QTest::newRow("broken workbook") << "broken.xlsx" << QByteArray("not a zip archive") << false;
}

// The file is read before anything is written: a failure leaves every table
// (options, rows, updated_at, id counters) exactly as it was.
void TestDataSources::upsertReadFailureTouchesNothing()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(bool, existingSource);

    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const QString path = f.file(fileName);
    if (existingSource) {
        QVERIFY(writeFile(path, "Name\nAda\n"));
        QVERIFY2(upsertDataSource(f.store(), f.projectId, path, {}, &error), qPrintable(error));
    }
    if (!content.isNull())
        QVERIFY(writeFile(path, content));
    else
        QVERIFY(!QFileInfo::exists(path));
    const QStringList before = dumpDatabase(f.db());

    const DataSourceOptions options{QString(), QStringLiteral("utf-8"), QStringLiteral("semicolon")};
    error.clear();
    QVERIFY(!upsertDataSource(f.store(), f.projectId, path, options, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(error, readerMessage(path, options));
    QCOMPARE(dumpDatabase(f.db()), before);
}

namespace {

// A CSV file of `count` rows "Name n,City n,<filler>n" under the header "Name,City,Code".
QByteArray generatedCsv(int count, int filler = 8)
{
    QByteArray text = "Name,City,Code\n";
    const QByteArray padding(filler, 'x');
    for (int i = 0; i < count; ++i) {
        const QByteArray n = QByteArray::number(i);
        text += "Name " + n + ",City " + n + "," + padding + n + "\n";
    }
    return text;
}

} // namespace

void TestDataSources::upsertWriteFailureTouchesNothing_data()
{
    QTest::addColumn<bool>("knownSource");
    QTest::addColumn<QStringList>("setup"); // statements that make one step fail
    QTest::addColumn<QString>("message");   // part of the reported error

    // The file has 200 rows: three batches of 64 and a remainder of 8.
    for (const bool known : {false, true}) {
        const char *file = known ? "known file" : "new file";
        QTest::addRow("%s, first row", file)
            << known
            << QStringList{"CREATE TRIGGER fail BEFORE INSERT ON data_source_records "
                           "BEGIN SELECT RAISE(ABORT, 'row store is offline'); END"}
            << "row store is offline";
        QTest::addRow("%s, row 150 (inside a batch)", file)
            << known
            << QStringList{"CREATE TRIGGER fail BEFORE INSERT ON data_source_records WHEN NEW.sort_index = 150 "
                           "BEGIN SELECT RAISE(ABORT, 'disk quota reached at row 150'); END"}
            << "disk quota reached at row 150";
        QTest::addRow("%s, last row (one by one)", file)
            << known
            << QStringList{"CREATE TRIGGER fail BEFORE INSERT ON data_source_records WHEN NEW.sort_index = 199 "
                           "BEGIN SELECT RAISE(ABORT, 'last row refused'); END"}
            << "last row refused";
        // A deferred foreign key is only checked at COMMIT, so the commit itself fails.
        QTest::addRow("%s, commit", file)
            << known
            << QStringList{"CREATE TABLE audit(source_id INTEGER REFERENCES data_sources(id) "
                           "DEFERRABLE INITIALLY DEFERRED)",
                           "CREATE TRIGGER fail AFTER INSERT ON data_source_records WHEN NEW.sort_index = 199 "
                           "BEGIN INSERT INTO audit VALUES(-1); END"}
            << "FOREIGN KEY constraint failed";
    }
    QTest::newRow("new file, its entry")
        << false
        << QStringList{"CREATE TRIGGER fail BEFORE INSERT ON data_sources "
                       "BEGIN SELECT RAISE(ABORT, 'no new sources'); END"}
        << "no new sources";
    QTest::newRow("known file, the removal of its rows")
        << true
        << QStringList{"CREATE TRIGGER fail BEFORE DELETE ON data_source_records "
                       "BEGIN SELECT RAISE(ABORT, 'cannot delete rows'); END"}
        << "cannot delete rows";
    QTest::newRow("known file, its options")
        << true
        << QStringList{"CREATE TRIGGER fail BEFORE UPDATE OF csv_delimiter ON data_sources "
                       "BEGIN SELECT RAISE(ABORT, 'options are read-only'); END"}
        << "options are read-only";
}

// The entry of a new file, the new options of a known one and the rows are
// written in one transaction: whichever step fails, the project is left
// exactly as it was (no entry without rows, no new options over old rows,
// the sort orders, updated_at and id counters untouched).
void TestDataSources::upsertWriteFailureTouchesNothing()
{
    QFETCH(bool, knownSource);
    QFETCH(QStringList, setup);
    QFETCH(QString, message);

    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const std::optional<DataSource> other =
        upsertDataSource(f.store(), f.projectId, f.writeFile(QStringLiteral("other.csv"), "X\n1\n"), {}, &error);
    QVERIFY2(other, qPrintable(error));
    const QString path = f.writeFile(QStringLiteral("data.csv"), generatedCsv(3));
    if (knownSource)
        QVERIFY2(upsertDataSource(f.store(), f.projectId, path, {}, &error), qPrintable(error));
    QVERIFY(exec(f.db(), QStringLiteral("UPDATE data_sources SET updated_at='2001-02-03 04:05:06'")));
    QVERIFY(writeFile(path, generatedCsv(200)));
    for (const QString &statement : std::as_const(setup))
        QVERIFY2(exec(f.db(), statement, {}, &error), qPrintable(error));
    const QList<DataSource> sourcesBefore = f.store().loadDataSources(f.projectId, &error);
    const QStringList before = dumpDatabase(f.db());

    const DataSourceOptions changed{QString(), QStringLiteral("utf-8"), QStringLiteral("comma")};
    error.clear();
    QVERIFY(!upsertDataSource(f.store(), f.projectId, path, changed, &error));
    QVERIFY2(error.contains(message), qPrintable(error));
    QCOMPARE(dumpDatabase(f.db()), before);
    QCOMPARE(dataSourceRows(f.store().loadDataSources(f.projectId, &error)), dataSourceRows(sourcesBefore));

    // No transaction was left open: once the cause is gone the same import goes through.
    QVERIFY(exec(f.db(), QStringLiteral("DROP TRIGGER fail")));
    const std::optional<DataSource> imported = upsertDataSource(f.store(), f.projectId, path, changed, &error);
    QVERIFY2(imported, qPrintable(error));
    QCOMPARE(imported->options, changed);
    QCOMPARE(imported->sortOrder, 1);
    QCOMPARE(f.store().countDataSourceRecords(imported->id), 200);
}

void TestDataSources::upsertOnFullDiskTouchesNothing_data()
{
    QTest::addColumn<bool>("knownSource");
    QTest::newRow("new file") << false;
    QTest::newRow("known file") << true;
}

// A real write failure, not a constraint: the import runs in a helper process
// that may not grow any file more than 256 KiB beyond the largest of the
// database's files, as on a disk that fills up. SQLite then fails while it
// writes the rows (or at the commit), and nothing of the import may remain.
void TestDataSources::upsertOnFullDiskTouchesNothing()
{
    QFETCH(bool, knownSource);
    QVERIFY2(QFileInfo(importChildPath()).isExecutable(), qPrintable(importChildPath()));

    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const QString path = f.writeFile(QStringLiteral("members.csv"), generatedCsv(3));
    if (knownSource)
        QVERIFY2(upsertDataSource(f.store(), f.projectId, path, {}, &error), qPrintable(error));
    // Some 3 MB of rows: far beyond the limit, while the entry of the file alone is well within it.
    QVERIFY(writeFile(path, generatedCsv(30000, 60)));
    const QStringList before = dumpDatabase(f.db());

    const qint64 largest = qMax(QFileInfo(f.scratch.path()).size(),
                                QFileInfo(f.scratch.path() + QStringLiteral("-wal")).size());
    const rlim_t limit = rlim_t(largest + 256 * 1024);
    const QStringList arguments{QStringLiteral("upsert"), f.scratch.path(), QString::number(f.projectId), path,
                                QStringLiteral("comma")};
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.setChildProcessModifier([limit] {
        // Over the limit a write fails with EFBIG instead of the process being killed.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit fileSize{limit, limit};
        setrlimit(RLIMIT_FSIZE, &fileSize);
    });
    child.start(importChildPath(), arguments);
    QVERIFY2(child.waitForFinished(120000), qPrintable(child.errorString()));
    const QString output = QString::fromUtf8(child.readAll()).trimmed();
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    // SQLite's words: "disk I/O error" or "database or disk is full", by where the write failed.
    QVERIFY2(child.exitCode() == 1 && output.contains(QStringLiteral("disk")), qPrintable(output));

    QCOMPARE(dumpDatabase(f.db()), before);
    {
        // As the next start of the application finds it.
        ProjectStore reopened;
        QVERIFY2(reopened.openDatabase(f.scratch.path(), &error), qPrintable(error));
        QCOMPARE(rows(reopened.database(), QStringLiteral("PRAGMA integrity_check")),
                 QStringList{QStringLiteral("ok")});
        QCOMPARE(dumpDatabase(reopened.database()), before);
    }

    // Without the limit the same import succeeds: the limit was what stopped it.
    QProcess unlimited;
    unlimited.start(importChildPath(), arguments);
    QVERIFY(unlimited.waitForFinished(120000));
    QCOMPARE(QString::fromUtf8(unlimited.readAllStandardOutput()).trimmed(), QStringLiteral("done"));
    const QList<DataSource> sources = f.store().loadDataSources(f.projectId, &error);
    QCOMPARE(sources.size(), 1);
    QCOMPARE(sources.first().options.csvDelimiter, QStringLiteral("comma"));
    QCOMPARE(f.store().countDataSourceRecords(sources.first().id), 30000);
}

// The sample workbook that the starter project ships with: 40 member rows.
void TestDataSources::upsertReadsExcel()
{
    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const QString sample = QDir(QStringLiteral(VDP_SOURCE_DIR)).filePath(QStringLiteral("src/app/starter/sample-data.xlsx"));

    const DataSourceOptions options{QStringLiteral("Members"), QStringLiteral("auto"), QStringLiteral("auto")};
    const std::optional<DataSource> source = upsertDataSource(f.store(), f.projectId, sample, options, &error);
    QVERIFY2(source, qPrintable(error));
    QCOMPARE(source->displayName, QStringLiteral("sample-data.xlsx"));
    QCOMPARE(source->options, options);

    QStringList columns;
    const QList<DataRecord> records = f.store().loadDataSourceRecords(source->id, &columns, -1, &error);
    QCOMPARE(records.size(), 40);
    QCOMPARE(columns, QStringList({QStringLiteral("City"), QStringLiteral("Date"), QStringLiteral("Member Code"),
                                   QStringLiteral("Name"), QStringLiteral("Ticket No"), QStringLiteral("Tier")}));
    for (const DataRecord &record : records) {
        const QString code = record.values.value(QStringLiteral("Member Code")).toString();
        QVERIFY2(code.size() == 12, qPrintable(code)); // leading zeros kept: stored as text
    }
}

void TestDataSources::storedMembers_data()
{
    QTest::addColumn<QStringList>("header");
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::addColumn<QList<QJsonObject>>("expected");
    QTest::addColumn<QStringList>("columns");

    QTest::newRow("one member per name")
        << QStringList{"Name", "City"} << QList<QStringList>{{"Ada", "Oslo"}, {"Grace", "Lima"}}
        << QList<QJsonObject>{object({{"Name", "Ada"}, {"City", "Oslo"}}), object({{"Name", "Grace"}, {"City", "Lima"}})}
        << QStringList{"City", "Name"};
    QTest::newRow("repeated name keeps the later column")
        << QStringList{"Code", "Name", "Code"} << QList<QStringList>{{"first", "Ada", "second"}, {"x", "Grace"}}
        << QList<QJsonObject>{object({{"Code", "second"}, {"Name", "Ada"}}), object({{"Code", ""}, {"Name", "Grace"}})}
        << QStringList{"Code", "Name"};
    QTest::newRow("name three times")
        << QStringList{"A", "A", "B", "A"} << QList<QStringList>{{"1", "2", "3", "4"}}
        << QList<QJsonObject>{object({{"A", "4"}, {"B", "3"}})} << QStringList{"A", "B"};
    QTest::newRow("short row gets empty strings")
        << QStringList{"A", "B", "C"} << QList<QStringList>{{"1"}, {}}
        << QList<QJsonObject>{object({{"A", "1"}, {"B", ""}, {"C", ""}}), object({{"A", ""}, {"B", ""}, {"C", ""}})}
        << QStringList{"A", "B", "C"};
    QTest::newRow("long row loses extra cells")
        << QStringList{"A"} << QList<QStringList>{{"1", "2", "3"}}
        << QList<QJsonObject>{object({{"A", "1"}})} << QStringList{"A"};
    QTest::newRow("names differing in case are two columns")
        << QStringList{"name", "Name", "NAME"} << QList<QStringList>{{"lower", "title", "upper"}}
        << QList<QJsonObject>{object({{"name", "lower"}, {"Name", "title"}, {"NAME", "upper"}})}
        << QStringList{"NAME", "Name", "name"};
    QTest::newRow("case-insensitive column order")
        << QStringList{"b", "C", "a", "Ä"} << QList<QStringList>{{"1", "2", "3", "4"}}
        << QList<QJsonObject>{object({{"b", "1"}, {"C", "2"}, {"a", "3"}, {"Ä", "4"}})}
        << QStringList{"a", "b", "C", "Ä"};
    QTest::newRow("empty header name")
        << QStringList{"", "B"} << QList<QStringList>{{"1", "2"}}
        << QList<QJsonObject>{object({{"", "1"}, {"B", "2"}})} << QStringList{"", "B"};
    QTest::newRow("no header") << QStringList{} << QList<QStringList>{{"1"}, {"2"}}
                               << QList<QJsonObject>{QJsonObject(), QJsonObject()} << QStringList{};
    QTest::newRow("no rows") << QStringList{"A"} << QList<QStringList>{} << QList<QJsonObject>{} << QStringList{};

    // Rows are written several to a statement: every row of whole batches and
    // of the remainder lands at its own position.
    for (const int count : {63, 64, 65, 130}) {
        QList<QStringList> manyRows;
        QList<QJsonObject> manyExpected;
        for (int i = 0; i < count; ++i) {
            manyRows.append({QString::number(i), QStringLiteral("r%1").arg(i)});
            manyExpected.append(object({{"N", QString::number(i)}, {"R", QStringLiteral("r%1").arg(i)}}));
        }
        QTest::addRow("%d rows", count) << QStringList{"N", "R"} << manyRows << manyExpected << QStringList{"N", "R"};
    }
}

// Each row is stored as exactly the compact JSON that QJsonDocument writes for
// the expected object, at sort_index 0..n-1, and loads back as that object.
void TestDataSources::storedMembers()
{
    QFETCH(QStringList, header);
    QFETCH(QList<QStringList>, rows);
    QFETCH(QList<QJsonObject>, expected);
    QFETCH(QStringList, columns);

    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const qint64 sourceId = insertRawSource(f.db(), f.projectId, QStringLiteral("/data/x.csv"));
    QVERIFY(insertRawRecord(f.db(), sourceId, 0, QStringLiteral(R"({"Old":"row"})")));
    QVERIFY(insertRawRecord(f.db(), sourceId, 7, QStringLiteral(R"({"Old":"row"})")));

    QVERIFY2(f.store().replaceDataSourceRecords(sourceId, header, rows, &error), qPrintable(error));

    QStringList expectedRows;
    for (qsizetype i = 0; i < expected.size(); ++i)
        expectedRows << QStringLiteral("%1|%2").arg(i).arg(QString::fromUtf8(compactJson(expected.at(i))));
    QCOMPARE(storedRows(f.db(), sourceId), expectedRows);

    QStringList loadedColumns{QStringLiteral("stale")};
    const QList<DataRecord> loaded = f.store().loadDataSourceRecords(sourceId, &loadedColumns, -1, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(valuesOf(loaded), expected);
    QCOMPARE(loadedColumns, columns);
}

void TestDataSources::duplicateHeaderThroughReader()
{
    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const QString path = f.writeFile(QStringLiteral("dup.csv"), "Code,Name,Code\nfirst,Ada,second\n");
    const std::optional<DataSource> source = upsertDataSource(f.store(), f.projectId, path, {}, &error);
    QVERIFY2(source, qPrintable(error));
    // The reader names the second Code column Code_2, so both cells are kept.
    QCOMPARE(storedRows(f.db(), source->id),
             QStringList{QStringLiteral(R"(0|{"Code":"first","Code_2":"second","Name":"Ada"})")});
}

void TestDataSources::payloadEscaping_data()
{
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QByteArray>("storedValue"); // the value's JSON text as stored, UTF-8

    QString controls;
    for (char16_t c = 0; c < 0x20; ++c)
        controls += QChar(c);

    QTest::newRow("plain") << "Ada Lovelace" << QByteArray(R"("Ada Lovelace")");
    QTest::newRow("empty") << "" << QByteArray(R"("")");
    QTest::newRow("quotes and backslashes") << R"(say "hi" \ C:\path\ \\)" << QByteArray(R"("say \"hi\" \\ C:\\path\\ \\\\")");
    QTest::newRow("slash stays") << "</script>" << QByteArray(R"("</script>")");
    QTest::newRow("control characters")
        << controls
        << QByteArray(R"("\u0000\u0001\u0002\u0003\u0004\u0005\u0006\u0007\b\t\n\u000b\f\r\u000e\u000f)"
                      R"(\u0010\u0011\u0012\u0013\u0014\u0015\u0016\u0017\u0018\u0019\u001a\u001b\u001c\u001d\u001e\u001f")");
    QTest::newRow("NUL inside") << QStringView(u"a\0b", 3).toString() << QByteArray(R"("a\u0000b")");
    QTest::newRow("DEL stays raw") << QString(QChar(0x7f)) << QByteArray("\"\x7f\"");
    QTest::newRow("line breaks of a cell") << "Line 1\r\nLine 2" << QByteArray(R"("Line 1\r\nLine 2")");
    QTest::newRow("Latin-1 and CJK") << QString::fromUtf8("Zoë · 東京") << QByteArray("\"Zo\xc3\xab \xc2\xb7 \xe6\x9d\xb1\xe4\xba\xac\"");
    QTest::newRow("emoji (surrogate pair)") << QString::fromUtf8("🎟️") << QByteArray("\"\xf0\x9f\x8e\x9f\xef\xb8\x8f\"");
    QTest::newRow("line and paragraph separators") << QString::fromUtf8("\u2028\u2029") << QByteArray("\"\xe2\x80\xa8\xe2\x80\xa9\"");
    // QJsonDocument would drop a raw one at the start of a string when parsing.
    QTest::newRow("byte order mark") << QString(QChar(0xfeff)) << QByteArray(R"("\ufeff")");
    QTest::newRow("byte order mark inside") << QString(u'a' + QString(QChar(0xfeff))) << QByteArray(R"("a\ufeff")");
    // A surrogate without its partner cannot be written as UTF-8: it is kept as
    // a \u escape, which reads back as the same cell.
    QTest::newRow("lone high surrogate") << QString(QString(QChar(0xd83c)) + u'x') << QByteArray(R"("\ud83cx")");
    QTest::newRow("lone low surrogate") << QString(u'x' + QString(QChar(0xdf9f))) << QByteArray(R"("x\udf9f")");
    QTest::newRow("pair in the wrong order") << QString(QString(QChar(0xdf9f)) + QChar(0xd83c)) << QByteArray(R"("\udf9f\ud83c")");
    QTest::newRow("high surrogate at the end") << QString(QStringLiteral("end") + QChar(0xd83c)) << QByteArray(R"("end\ud83c")");
    QTest::newRow("looks like JSON") << R"({"a":1},)" << QByteArray(R"("{\"a\":1},")");
}

// The stored text is valid UTF-8, equals what QJsonDocument writes for the
// same object (but for the byte order mark, see above), and parses back to
// the very same cell, in values and in names.
void TestDataSources::payloadEscaping()
{
    QFETCH(QString, cell);
    QFETCH(QByteArray, storedValue);

    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const qint64 sourceId = insertRawSource(f.db(), f.projectId, QStringLiteral("/data/x.csv"));
    const QStringList header{QStringLiteral("Cell"), cell};
    const QString nameCell = QStringLiteral("name cell");
    QVERIFY2(f.store().replaceDataSourceRecords(sourceId, header, {{cell, nameCell}}, &error), qPrintable(error));

    QCOMPARE(scalar(f.db(), QStringLiteral("SELECT typeof(payload_json) FROM data_source_records")).toString(),
             QStringLiteral("text"));
    const QByteArray stored =
        scalar(f.db(), QStringLiteral("SELECT CAST(payload_json AS BLOB) FROM data_source_records")).toByteArray();
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8.decode(stored);
    QVERIFY2(!utf8.hasError(), stored.toHex(' ').constData());

    QJsonObject expected;
    expected.insert(QStringLiteral("Cell"), cell);
    expected.insert(cell, nameCell);
    QCOMPARE(stored, compactJson(expected).replace("\xef\xbb\xbf", "\\ufeff"));
    QVERIFY2(stored.contains(QByteArray(QByteArray("\"Cell\":") + storedValue)), stored.constData());

    const QList<DataRecord> loaded = f.store().loadDataSourceRecords(sourceId, nullptr, -1, &error);
    QCOMPARE(loaded.size(), 1);
    QCOMPARE(loaded.first().values.value(QStringLiteral("Cell")).toString(), cell);
    QCOMPARE(loaded.first().values.value(cell).toString(), nameCell);
}

void TestDataSources::replaceFailureRollsBack_data()
{
    QTest::addColumn<QStringList>("setup"); // statements that make one step fail
    QTest::addColumn<QString>("message");   // part of the reported error

    QTest::newRow("delete of the old rows")
        << QStringList{"CREATE TRIGGER fail BEFORE DELETE ON data_source_records "
                       "BEGIN SELECT RAISE(ABORT, 'cannot delete rows'); END"}
        << "cannot delete rows";
    QTest::newRow("first insert")
        << QStringList{"CREATE TRIGGER fail BEFORE INSERT ON data_source_records "
                       "BEGIN SELECT RAISE(ABORT, 'cannot insert rows'); END"}
        << "cannot insert rows";
    QTest::newRow("insert half-way")
        << QStringList{"CREATE TRIGGER fail BEFORE INSERT ON data_source_records WHEN NEW.sort_index = 2500 "
                       "BEGIN SELECT RAISE(ABORT, 'disk quota reached at row 2500'); END"}
        << "disk quota reached at row 2500";
    QTest::newRow("last insert")
        << QStringList{"CREATE TRIGGER fail BEFORE INSERT ON data_source_records WHEN NEW.sort_index = 4999 "
                       "BEGIN SELECT RAISE(ABORT, 'last row refused'); END"}
        << "last row refused";
    QTest::newRow("updated_at")
        << QStringList{"CREATE TRIGGER fail BEFORE UPDATE ON data_sources "
                       "BEGIN SELECT RAISE(ABORT, 'source is read-only'); END"}
        << "source is read-only";
    // A deferred foreign key is only checked at COMMIT, so the commit itself fails.
    QTest::newRow("commit")
        << QStringList{"CREATE TABLE audit(source_id INTEGER REFERENCES data_sources(id) DEFERRABLE INITIALLY DEFERRED)",
                       "CREATE TRIGGER fail AFTER INSERT ON data_source_records WHEN NEW.sort_index = 4999 "
                       "BEGIN INSERT INTO audit VALUES(-1); END"}
        << "FOREIGN KEY constraint failed";
}

// Whichever statement fails, the source is left exactly as it was: the old
// rows, its updated_at, even the id counter.
void TestDataSources::replaceFailureRollsBack()
{
    QFETCH(QStringList, setup);
    QFETCH(QString, message);

    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const QString path = f.writeFile(QStringLiteral("old.csv"), "Name,City\nAda,Oslo\nGrace,Lima\nAlan,Kyiv\n");
    const std::optional<DataSource> source = upsertDataSource(f.store(), f.projectId, path, {}, &error);
    QVERIFY2(source, qPrintable(error));
    QVERIFY(exec(f.db(), QStringLiteral("UPDATE data_sources SET updated_at='2001-02-03 04:05:06'")));
    for (const QString &statement : std::as_const(setup))
        QVERIFY2(exec(f.db(), statement, {}, &error), qPrintable(error));
    const QStringList before = dumpDatabase(f.db());

    QList<QStringList> rows;
    for (int i = 0; i < 5000; ++i)
        rows << QStringList{QStringLiteral("Name %1").arg(i), QStringLiteral("City %1").arg(i)};
    error.clear();
    QVERIFY(!f.store().replaceDataSourceRecords(source->id, {QStringLiteral("Name"), QStringLiteral("City")}, rows,
                                                &error));
    QVERIFY2(error.contains(message), qPrintable(error));
    QCOMPARE(dumpDatabase(f.db()), before);

    // The connection is usable afterwards: no transaction was left open.
    QVERIFY(exec(f.db(), QStringLiteral("DROP TRIGGER fail")));
    QVERIFY2(f.store().replaceDataSourceRecords(source->id, {QStringLiteral("Name")}, {{QStringLiteral("Eve")}},
                                                &error),
             qPrintable(error));
    QCOMPARE(storedRows(f.db(), source->id), QStringList{QStringLiteral(R"(0|{"Name":"Eve"})")});
}

void TestDataSources::replaceRefreshesUpdatedAt()
{
    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const QString path = f.writeFile(QStringLiteral("a.csv"), "Name\nAda\n");
    const std::optional<DataSource> source = upsertDataSource(f.store(), f.projectId, path, {}, &error);
    QVERIFY2(source, qPrintable(error));
    const QString old = QStringLiteral("2001-02-03 04:05:06");
    const auto updatedAt = [&] {
        return scalar(f.db(), QStringLiteral("SELECT updated_at FROM data_sources WHERE id=?"), {source->id}).toString();
    };

    QVERIFY(exec(f.db(), QStringLiteral("UPDATE data_sources SET updated_at=?"), {old}));
    QVERIFY2(f.store().replaceDataSourceRecords(source->id, {QStringLiteral("Name")}, {}, &error), qPrintable(error));
    QVERIFY(updatedAt() > old);

    QVERIFY(exec(f.db(), QStringLiteral("UPDATE data_sources SET updated_at=?"), {old}));
    QVERIFY2(reloadDataSource(f.store(), source->id, &error), qPrintable(error));
    QVERIFY(updatedAt() > old);

    // A re-import whose rows then fail changes nothing, updated_at included.
    QVERIFY(exec(f.db(), QStringLiteral("UPDATE data_sources SET updated_at=?"), {old}));
    QVERIFY(exec(f.db(), QStringLiteral("CREATE TRIGGER fail BEFORE DELETE ON data_source_records "
                                        "BEGIN SELECT RAISE(ABORT, 'no'); END")));
    QVERIFY(!upsertDataSource(f.store(), f.projectId, path, {QString(), QStringLiteral("utf-8"), QStringLiteral("comma")},
                                        &error));
    QCOMPARE(updatedAt(), old);
}

void TestDataSources::storedTextLimit_data()
{
    QTest::addColumn<QStringList>("header");
    QTest::addColumn<QList<QStringList>>("rows");

    // Each stored row repeats the names: a 1 MiB name over 4,097 rows is more
    // than 4 GiB, although the table holds 1 MiB of text.
    const QString longName(1024 * 1024, u'n');
    QTest::newRow("long name, many rows") << QStringList{longName} << QList<QStringList>(4097, QStringList{"1"});
    // One text in memory, stored in every row, as an Excel shared string is.
    const QString sharedText(64 * 1024 * 1024, u's');
    QTest::newRow("one text in 65 rows") << QStringList{"Code"} << QList<QStringList>(65, QStringList{sharedText});
}

// Rows that would take more than 4 GiB of text in the database are refused
// before anything is written.
void TestDataSources::storedTextLimit()
{
    QFETCH(QStringList, header);
    QFETCH(QList<QStringList>, rows);

    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const std::optional<DataSource> source =
        upsertDataSource(f.store(), f.projectId, f.writeFile(QStringLiteral("a.csv"), "A\n1\n"), {}, &error);
    QVERIFY2(source, qPrintable(error));
    const QStringList before = dumpDatabase(f.db());
    const QString log = f.scratch.path() + QStringLiteral("-wal");
    const qint64 logBefore = QFileInfo(log).size();

    QVERIFY(!f.store().replaceDataSourceRecords(source->id, header, rows, &error));
    QCOMPARE(error, QStringLiteral("The rows of the data file would take more than 4 GiB in the project and "
                                   "cannot be imported safely"));
    QCOMPARE(dumpDatabase(f.db()), before);
    QCOMPARE(QFileInfo(log).size(), logBefore);
}

// Rows of much text go to the database one at a time rather than 64 to a
// statement; each must still land at its own position.
void TestDataSources::rowsOfMuchText()
{
    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const qint64 sourceId = insertRawSource(f.db(), f.projectId, QStringLiteral("/data/x.csv"));

    // 64 rows of 300,000 characters exceed what one statement takes; rows 128
    // to 191 are short and go as a batch again, the last three one by one.
    const QString longText(300000, u'x');
    QList<QStringList> rows;
    QStringList expected;
    for (int i = 0; i < 195; ++i) {
        const QString cell = i < 128 ? longText + QString::number(i) : QString::number(i);
        rows << QStringList{cell};
        expected << QStringLiteral("%1|%2").arg(i).arg(cell.size() + 11); // {"Text":""}
    }
    QVERIFY2(f.store().replaceDataSourceRecords(sourceId, {QStringLiteral("Text")}, rows, &error),
             qPrintable(error));
    QCOMPARE(storetest::rows(f.db(),
                             QStringLiteral("SELECT sort_index || '|' || length(payload_json) FROM data_source_records "
                                            "WHERE data_source_id=? ORDER BY sort_index"),
                             {sourceId}),
             expected);
    QCOMPARE(scalar(f.db(), QStringLiteral("SELECT payload_json FROM data_source_records WHERE sort_index=127"))
                 .toString(),
             QString(QStringLiteral(R"({"Text":")") + longText + QStringLiteral(R"(127"})")));
}

// A re-read uses the options stored with the source, not the defaults.
void TestDataSources::reloadUsesStoredOptions()
{
    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const QString path = f.writeFile(QStringLiteral("prices.csv"), "Item,Price\nTea,1\n");
    const DataSourceOptions comma{QString(), QStringLiteral("auto"), QStringLiteral("comma")};
    const std::optional<DataSource> source = upsertDataSource(f.store(), f.projectId, path, comma, &error);
    QVERIFY2(source, qPrintable(error));

    // Semicolons everywhere and one comma: only the stored "comma" keeps "Price;Tax" apart from "Item".
    QVERIFY(writeFile(path, "Item;Note,Price;Tax\nTea;hot,1;0\nCake;sweet,2;1\n"));
    QVERIFY2(reloadDataSource(f.store(), source->id, &error), qPrintable(error));
    QCOMPARE(storedRows(f.db(), source->id),
             QStringList({QStringLiteral(R"(0|{"Item;Note":"Tea;hot","Price;Tax":"1;0"})"),
                          QStringLiteral(R"(1|{"Item;Note":"Cake;sweet","Price;Tax":"2;1"})")}));
}

void TestDataSources::reloadFailureKeepsRows()
{
    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const QString path = f.writeFile(QStringLiteral("members.csv"), "Name\nAda\nGrace\n");
    const std::optional<DataSource> source = upsertDataSource(f.store(), f.projectId, path, {}, &error);
    QVERIFY2(source, qPrintable(error));
    QVERIFY(exec(f.db(), QStringLiteral("UPDATE data_sources SET updated_at='2001-02-03 04:05:06'")));
    const QStringList before = dumpDatabase(f.db());

    QVERIFY(writeFile(path, ""));
    error.clear();
    QVERIFY(!reloadDataSource(f.store(), source->id, &error));
    QCOMPARE(error, readerMessage(path));
    QVERIFY(!error.isEmpty());
    QCOMPARE(dumpDatabase(f.db()), before);

    QVERIFY(QFile::remove(path));
    error.clear();
    QVERIFY(!reloadDataSource(f.store(), source->id, &error));
    QCOMPARE(error, readerMessage(path));
    QCOMPARE(dumpDatabase(f.db()), before);
}

void TestDataSources::reloadUnknownSource()
{
    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const std::optional<DataSource> source =
        upsertDataSource(f.store(), f.projectId, f.writeFile(QStringLiteral("a.csv"), "A\n1\n"), {}, &error);
    QVERIFY2(source, qPrintable(error));
    QVERIFY2(f.store().deleteDataSource(source->id, &error), qPrintable(error));

    for (const qint64 id : {source->id, qint64(0), qint64(-1), qint64(999)}) {
        error.clear();
        QVERIFY(!reloadDataSource(f.store(), id, &error));
        QCOMPARE(error, QStringLiteral("Data source does not exist"));
    }
}

void TestDataSources::loadRecords_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<QList<int>>("sortIndexes");
    QTest::addColumn<QStringList>("columns");

    // Stored out of order, with one damaged row (index 3) and a row that is
    // JSON but not an object (index 5); index 4 is missing.
    QTest::newRow("all (-1)") << -1 << QList<int>{0, 1, 2, 3, 5, 6}
                              << QStringList{"a", "B", "c", "Extra", "only in 6"};
    QTest::newRow("all (any negative)") << -7 << QList<int>{0, 1, 2, 3, 5, 6}
                                        << QStringList{"a", "B", "c", "Extra", "only in 6"};
    QTest::newRow("none (0)") << 0 << QList<int>{} << QStringList{};
    QTest::newRow("first two") << 2 << QList<int>{0, 1} << QStringList{"a", "B", "c"};
    QTest::newRow("first three") << 3 << QList<int>{0, 1, 2} << QStringList{"a", "B", "c", "Extra"};
    QTest::newRow("more than there are") << 100 << QList<int>{0, 1, 2, 3, 5, 6}
                                         << QStringList{"a", "B", "c", "Extra", "only in 6"};
}

// Rows come in sort_index order; the column list holds the names of the
// loaded rows only; a row that is not a JSON object loads as an empty one.
void TestDataSources::loadRecords()
{
    QFETCH(int, limit);
    QFETCH(QList<int>, sortIndexes);
    QFETCH(QStringList, columns);

    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const qint64 sourceId = insertRawSource(f.db(), f.projectId, QStringLiteral("/data/x.csv"));
    const qint64 otherId = insertRawSource(f.db(), f.projectId, QStringLiteral("/data/y.csv"));
    const QList<std::pair<int, QString>> stored{
        {6, R"({"only in 6":"z","a":"6"})"},
        {2, R"({ "c" : "2", "a" : "2", "B": "2", "Extra": 2 })"},
        {0, R"({"a":"0","B":"0","c":"0"})"},
        {3, R"({"a":"3",)"},
        {5, R"(["a","b"])"},
        {1, R"({"c":"1","B":"1","a":"1"})"},
    };
    for (const auto &[index, payload] : stored)
        QVERIFY(insertRawRecord(f.db(), sourceId, index, payload));
    QVERIFY(insertRawRecord(f.db(), otherId, 0, QStringLiteral(R"({"Other":"x"})")));

    QStringList loadedColumns;
    const QList<DataRecord> records = f.store().loadDataSourceRecords(sourceId, &loadedColumns, limit, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(sortIndexesOf(records), sortIndexes);
    QCOMPARE(loadedColumns, columns);

    for (const DataRecord &record : records) {
        QJsonObject expected;
        for (const auto &[index, payload] : stored) {
            if (index == record.sortIndex)
                expected = QJsonDocument::fromJson(payload.toUtf8()).object();
        }
        QCOMPARE(record.values, expected);
    }
    if (sortIndexes.contains(3)) {
        const DataRecord damaged = records.at(sortIndexes.indexOf(3));
        QVERIFY(damaged.values.isEmpty());
    }

    // Without a place for the columns the rows are the same.
    QCOMPARE(valuesOf(f.store().loadDataSourceRecords(sourceId, nullptr, limit, &error)), valuesOf(records));
}

void TestDataSources::loadFailuresAreEmpty()
{
    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const std::optional<DataSource> source =
        upsertDataSource(f.store(), f.projectId, f.writeFile(QStringLiteral("a.csv"), "A\n1\n2\n"), {}, &error);
    QVERIFY2(source, qPrintable(error));
    QCOMPARE(f.store().countDataSourceRecords(source->id), 2);
    QCOMPARE(f.store().countDataSourceRecords(source->id + 1), 0);

    // Unknown ids are no failure: nothing is stored for them.
    error.clear();
    QVERIFY(f.store().loadDataSources(f.projectId + 1, &error).isEmpty());
    QVERIFY(f.store().loadDataSourceRecords(source->id + 1, nullptr, -1, &error).isEmpty());
    QCOMPARE(error, QString());

    QVERIFY(exec(f.db(), QStringLiteral("ALTER TABLE data_source_records RENAME TO moved_records")));
    QVERIFY(f.store().loadDataSourceRecords(source->id, nullptr, -1, &error).isEmpty());
    QVERIFY2(error.contains(QStringLiteral("data_source_records")), qPrintable(error));
    QCOMPARE(f.store().countDataSourceRecords(source->id), 0);

    QVERIFY(exec(f.db(), QStringLiteral("ALTER TABLE data_sources RENAME TO moved_sources")));
    error.clear();
    QVERIFY(f.store().loadDataSources(f.projectId, &error).isEmpty());
    QVERIFY2(error.contains(QStringLiteral("data_sources")), qPrintable(error));
    error.clear();
    QVERIFY(!reloadDataSource(f.store(), source->id, &error));
    QVERIFY2(error.contains(QStringLiteral("data_sources")), qPrintable(error));
}

void TestDataSources::deleteRemovesRows()
{
    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const std::optional<DataSource> removed =
        upsertDataSource(f.store(), f.projectId, f.writeFile(QStringLiteral("a.csv"), "A\n1\n2\n"), {}, &error);
    const std::optional<DataSource> kept =
        upsertDataSource(f.store(), f.projectId, f.writeFile(QStringLiteral("b.csv"), "B\n3\n"), {}, &error);
    QVERIFY2(removed && kept, qPrintable(error));
    const QStringList keptRows = storedRows(f.db(), kept->id);

    QVERIFY2(f.store().deleteDataSource(removed->id, &error), qPrintable(error));
    QCOMPARE(scalar(f.db(), QStringLiteral("SELECT COUNT(*) FROM data_source_records WHERE data_source_id=?"),
                    {removed->id})
                 .toInt(),
             0);
    QCOMPARE(storedRows(f.db(), kept->id), keptRows);
    QCOMPARE(dataSourceRows(f.store().loadDataSources(f.projectId, &error)), QStringList{dataSourceRow(*kept)});

    // Removing what is not there changes nothing and is no failure.
    const QStringList before = dumpDatabase(f.db());
    QVERIFY2(f.store().deleteDataSource(removed->id, &error), qPrintable(error));
    QCOMPARE(dumpDatabase(f.db()), before);
}

// SQLite's write-ahead log and the single transaction make an import
// all-or-nothing even when the process dies in the middle of it: a helper
// process is killed while its big import holds the write lock and has
// already written uncommitted pages to the log, and the database must come
// back intact with the old rows.
void TestDataSources::killedImportKeepsPreviousRows()
{
    QVERIFY2(QFileInfo(importChildPath()).isExecutable(), qPrintable(importChildPath()));
    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const QString path = f.writeFile(QStringLiteral("old.csv"), "Name,City\nAda,Oslo\nGrace,Lima\n");
    const std::optional<DataSource> source = upsertDataSource(f.store(), f.projectId, path, {}, &error);
    QVERIFY2(source, qPrintable(error));
    const QStringList oldRows = storedRows(f.db(), source->id);
    const QStringList oldSources = rows(f.db(), QStringLiteral("SELECT * FROM data_sources"));
    const QString log = f.scratch.path() + QStringLiteral("-wal");
    const qint64 logBefore = QFileInfo(log).size();

    QProcess child;
    child.start(importChildPath(), {f.scratch.path(), QString::number(source->id), QStringLiteral("500000")});
    QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));
    while (!child.canReadLine() && child.waitForReadyRead(120000)) {
    }
    QCOMPARE(child.readLine().trimmed(), QByteArray("ready"));

    // A writer of our own that never waits: BEGIN IMMEDIATE fails with "database
    // is locked" exactly while the helper's transaction holds the write lock.
    const QString probeName = QStringLiteral("probe");
    {
        QSqlDatabase probe = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), probeName);
        probe.setDatabaseName(f.scratch.path());
        probe.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        QVERIFY(probe.open());
        const auto helperHoldsLock = [&] {
            QSqlQuery begin(probe);
            if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE")))
                return true;
            QSqlQuery(probe).exec(QStringLiteral("ROLLBACK"));
            return false;
        };
        bool killable = false;
        QElapsedTimer timer;
        timer.start();
        while (!killable && child.state() == QProcess::Running && timer.elapsed() < 120000) {
            killable = helperHoldsLock() && QFileInfo(log).size() > logBefore + 1024 * 1024;
            if (!killable)
                QThread::msleep(5);
        }
        QVERIFY2(killable, "the helper finished before its import reached the log; give it more rows");
        QVERIFY2(helperHoldsLock(), "the helper committed before the kill");
        child.kill(); // SIGKILL: no destructors, no rollback
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        probe.close();
    }
    QSqlDatabase::removeDatabase(probeName);

    // A fresh connection, as the next start of the application opens it.
    ProjectStore reopened;
    QVERIFY2(reopened.openDatabase(f.scratch.path(), &error), qPrintable(error));
    QVERIFY2(reopened.initializeSchema(&error), qPrintable(error));
    QCOMPARE(rows(reopened.database(), QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
    QCOMPARE(rows(reopened.database(), QStringLiteral("PRAGMA foreign_key_check")), QStringList());
    QCOMPARE(storedRows(reopened.database(), source->id), oldRows);
    QCOMPARE(rows(reopened.database(), QStringLiteral("SELECT * FROM data_sources")), oldSources);
    QCOMPARE(reopened.countDataSourceRecords(source->id), 2);

    // And the next import goes through.
    QVERIFY2(reloadDataSource(reopened, source->id, &error), qPrintable(error));
    QCOMPARE(storedRows(reopened.database(), source->id), oldRows);
}

QTEST_GUILESS_MAIN(TestDataSources)
#include "tst_datasources.moc"
