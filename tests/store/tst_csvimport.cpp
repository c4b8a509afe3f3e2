// The streamed CSV import against the rows the reader gives and the
// in-memory writer stores, and its failures: nothing of a failed import
// may remain, whichever side (the reader thread or the statements) fails.
#include "storetestutil.h"

#include "app/dataimport.h"
#include "import/csvparser.h"
#include "import/tablereader.h"
#include "model/headernames.h"
#include "store/projectstore.h"
#include "store/recordrows.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

using namespace storetest;

namespace {

// The stored rows of a source, the payload as hex so that every byte counts.
QStringList storedRows(const QSqlDatabase &db, qint64 sourceId)
{
    return rows(db, QStringLiteral("SELECT sort_index || '|' || hex(payload_json) FROM data_source_records "
                                   "WHERE data_source_id=? ORDER BY sort_index"),
                {sourceId});
}

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
    QString writeFile(const QString &name, const QByteArray &bytes) const
    {
        const QString path = QDir(scratch.folder()).filePath(name);
        return storetest::writeFile(path, bytes) ? path : QString();
    }
};

qint64 insertRawSource(const QSqlDatabase &db, qint64 projectId, const QString &path)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO data_sources(project_id, file_path, display_name, sort_order) "
                                 "VALUES(?, ?, ?, 99)"));
    query.addBindValue(projectId);
    query.addBindValue(path);
    query.addBindValue(QStringLiteral("reference"));
    return query.exec() ? query.lastInsertId().toLongLong() : -1;
}

// Rows that cross the reader's 256 KiB chunks in every way: multi-byte
// characters, quoted fields with quotes and line breaks, CR LF pairs.
QByteArray longMixedFile(int count)
{
    QByteArray text = "Nr;Text;Note\r\n";
    for (int i = 0; i < count; ++i) {
        const QByteArray n = QByteArray::number(i);
        text += n + ";\"Ä\"\"ö\"\"\r\nü " + n + "\";€😀" + QByteArray(i % 7, 'x') + "\r\n";
    }
    return text;
}

// `count` rows under "A,B,C"; row `badRow` (when not negative) has one cell too many for the column limit.
QByteArray rowsWithWideRow(int count, int badRow)
{
    QByteArray text = "A,B,C\n";
    for (int i = 0; i < count; ++i) {
        if (i == badRow)
            text += QByteArray(CsvParser::maxColumns, ',') + "\n";
        else
            text += "a" + QByteArray::number(i) + ",b,c\n";
    }
    return text;
}

// A row held in memory, as a reader other than the CSV file's hands it over.
class MemoryRow final : public RecordRowView
{
public:
    explicit MemoryRow(const QStringList &cells)
    {
        for (const QString &cell : cells)
            m_cells.append({cell.toUtf8(), cell.size()});
    }
    qsizetype size() const override { return m_cells.size(); }
    QByteArrayView cell(qsizetype i) const override { return m_cells.at(i).first; }
    qsizetype units(qsizetype i) const override { return m_cells.at(i).second; }

private:
    QList<std::pair<QByteArray, qsizetype>> m_cells;
};

// Python's writer and reader of CSV files, the other side of storesWhatPythonWrote.
QString pythonWriterScript()
{
    return QStringLiteral(VDP_TEST_DATA_DIR "/write-csv.py");
}

} // namespace

class TestCsvImport : public QObject
{
    Q_OBJECT

private slots:
    void sameRowsAsReaderAndWriter_data();
    void sameRowsAsReaderAndWriter();
    void storesWhatPythonWrote_data();
    void storesWhatPythonWrote();
    void readerFailureRollsBack_data();
    void readerFailureRollsBack();
    void statementFailureStopsReader_data();
    void statementFailureStopsReader();
    void refreshStreamsToo();
    void producerRows_data();
    void producerRows();
};

void TestCsvImport::sameRowsAsReaderAndWriter_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("delimiter");

    const QString a = QStringLiteral("auto");
    QTest::newRow("quotes and line breaks")
        << QByteArray("Name,Note\n\"Ada \"\"A\"\"\",\"two\nlines\"\r\n\"x\"y\"z\",\"\"\n\"\",\"\"\r\n24\" x,a\"b\"\r\n"
                      "last,\"closed\"")
        << a << a;
    QTest::newRow("UTF-8 with BOM, BOM inside, emoji")
        << QByteArray("\xEF\xBB\xBFName,City\n\xEF\xBB\xBF" "Ada,K\xC3\xB8" "benhavn\n\xF0\x9F\x98\x80,\xE2\x82\xAC\n")
        << a << a;
    QTest::newRow("empty cells, ragged rows, blank lines")
        << QByteArray("A,B,C\n,,\n1\n1,2,3,4,5\n\n   \n\xC2\xA0\n,\nx,\n") << a << a;
    QTest::newRow("duplicate and blank names")
        << QByteArray(" Name ,,Name,\t,Z\n1,2,3,4,5\n6,7,8\n") << a << a;
    // NUL bytes are refused as a binary file; every other control is text.
    QTest::newRow("controls and backslashes")
        << QByteArray("A,B\n\x01\x1f\\x,\"\x08\x0c\t\\\\\"\nsoh \x01,\x7f\n") << a << a;
    QTest::newRow("semicolons detected") << QByteArray("A;B;C\n1;2,5;3\n\"4;\";5;6\n") << a << a;
    QTest::newRow("tabs detected") << QByteArray("A\tB\n1\t\"2\t3\"\n") << a << a;
    QTest::newRow("comma forced on semicolons") << QByteArray("A;B,C\n1;2,3\n") << a << QStringLiteral("comma");
    QTest::newRow("tab forced") << QByteArray("A\tB,C\n1\t2,3\n") << a << QStringLiteral("tab");
    QTest::newRow("CR line ends") << QByteArray("A,B\r1,2\r\r3,\"4\r5\"\r") << a << a;
    QTest::newRow("Windows-1252 detected")
        << QByteArray("Name,Preis\nM\xFCller,\x80 5\n\x81\x8D\x8F\x90\x9D,\x93q\x94\n") << a << a;
    QTest::newRow("Windows-1252 forced on UTF-8")
        << QByteArray("Name\n\xC3\xA9t\xC3\xA9\n") << QStringLiteral("windows-1252") << a;
    QTest::newRow("malformed UTF-8 forced")
        << QByteArray("A,B\n\xC0\x80,\xED\xA0\x80\n\xF5\x80,\xE2\x82\n\xF4\x90\x80\x80,\xEF\xBF\xBF\xF4\x8F\xBF\xBF\n"
                      "\xC3\"q\",\xE2\x82")
        << QStringLiteral("utf-8") << a;
    QTest::newRow("noncharacters and the highest code point")
        << QByteArray("A\n\xEF\xBF\xBE\xEF\xBF\xBF\xF4\x8F\xBF\xBF\xEF\xB7\x90\n") << a << a;
    QTest::newRow("200 rows, three batches and a remainder") << [] {
        QByteArray text = "N,M\n";
        for (int i = 0; i < 200; ++i)
            text += QByteArray::number(i) + ",\"v\"\"" + QByteArray::number(i * 7) + "\"\n";
        return text;
    }() << a << a;
    QTest::newRow("several chunks of mixed text") << longMixedFile(30000) << a << a;
    QTest::newRow("header only") << QByteArray("Only,Header\n") << a << a;
    QTest::newRow("UTF-16LE, tabs") << QByteArray("\xFF\xFEN\0\t\0M\0\r\0\n\0\x3D\xD8\x00\xDE\t\0\xE9\0", 20) << a << a;
    QTest::newRow("UTF-16BE, a pair cut by the end") << QByteArray("\xFE\xFF\0N\0\n\xD8\x3D", 8) << a << a;
    QTest::newRow("Windows-1252 after 300 KiB of UTF-8")
        << QByteArray("N,T\n") + QByteArray("1,Zo\xC3\xAB\n").repeated(30000) + "2,Jos\xE9\n" << a << a;
    // Failures: the same message, nothing stored.
    QTest::newRow("blank lines only") << QByteArray("\n \n\r\n") << a << a;
    QTest::newRow("too many columns on row 150") << rowsWithWideRow(300, 150) << a << a;
    QTest::newRow("too many columns in the header") << rowsWithWideRow(3, 0).mid(6) << a << a;
    QTest::newRow("a quote never closed") << QByteArray("A,B\n1,\"2\n3,4\n") << a << a;
    QTest::newRow("a NUL byte in the last row") << rowsWithWideRow(300, -1) + QByteArray("x,\0\n", 4) << a << a;
    QTest::newRow("a workbook") << QByteArray("PK\x03\x04\x14\0\0\0", 8) + rowsWithWideRow(3, -1) << a << a;
}

// The streamed import stores byte for byte what writing the reader's rows
// stores, and fails with the reader's message where the reader fails.
void TestCsvImport::sameRowsAsReaderAndWriter()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, encoding);
    QFETCH(QString, delimiter);

    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const QString path = f.writeFile(QStringLiteral("data.csv"), content);
    const DataSourceOptions options{QString(), encoding, delimiter};

    QStringList header;
    QList<QStringList> rowList;
    QString readError;
    const bool readable = readTableFile(path, options, &header, &rowList, &readError);
    const qint64 reference = insertRawSource(f.db(), f.projectId, QStringLiteral("/reference.csv"));
    QVERIFY(reference > 0);
    if (readable)
        QVERIFY2(f.store().replaceDataSourceRecords(reference, header, rowList, &error), qPrintable(error));
    const QStringList before = dumpDatabase(f.db());

    error.clear();
    const std::optional<DataSource> streamed = upsertDataSource(f.store(), f.projectId, path, options, &error);
    if (!readable) {
        QVERIFY(!streamed);
        QCOMPARE(error, readError);
        QCOMPARE(dumpDatabase(f.db()), before);
        return;
    }
    QVERIFY2(streamed, qPrintable(error));
    QCOMPARE(f.store().countDataSourceRecords(streamed->id), rowList.size());
    QCOMPARE(storedRows(f.db(), streamed->id), storedRows(f.db(), reference));
}

void TestCsvImport::storesWhatPythonWrote_data()
{
    QTest::addColumn<QString>("codec"); // Python's name
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<int>("rows");

    QTest::newRow("UTF-8, comma") << "utf-8" << "," << 10000;
    QTest::newRow("Windows-1252, semicolon, non-ASCII only at the end") << "cp1252" << ";" << 10000;
    // Python's "utf-16" writes a byte order mark, as Excel's Unicode Text does.
    QTest::newRow("UTF-16, tab") << "utf-16" << "\t" << 10000;
}

// The streamed import, the path that writes the database, checked against
// another program's writer and reader: every stored cell is the cell Python's
// csv module reads from the file.
void TestCsvImport::storesWhatPythonWrote()
{
    QFETCH(QString, codec);
    QFETCH(QString, delimiter);
    QFETCH(int, rows);

    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const QString path = QDir(f.scratch.folder()).filePath(QStringLiteral("python.csv"));
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {pythonWriterScript(), path,
                                                      codec, delimiter, QString::number(rows),
                                                      QString::number(rows)});
    QVERIFY(python.waitForFinished(120000));
    QVERIFY2(python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0,
             python.readAllStandardError().constData());
    const QJsonObject expected = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    QStringList header;
    for (const QJsonValue &name : expected.value(u"header").toArray())
        header << name.toString();
    const QJsonArray expectedRows = expected.value(u"rows").toArray();
    QCOMPARE(header.size(), 7);
    // More than one of the reader's 256 KiB chunks.
    QVERIFY(QFileInfo(path).size() > 256 * 1024);

    const std::optional<DataSource> source = upsertDataSource(f.store(), f.projectId, path, {}, &error);
    QVERIFY2(source, qPrintable(error));
    const QStringList payloads =
        storetest::rows(f.db(), QStringLiteral("SELECT payload_json FROM data_source_records "
                                               "WHERE data_source_id=? ORDER BY sort_index"),
                        {source->id});
    QCOMPARE(payloads.size(), expectedRows.size());
    for (qsizetype i = 0; i < payloads.size(); ++i) {
        const QJsonObject stored = QJsonDocument::fromJson(payloads.at(i).toUtf8()).object();
        const QJsonArray cells = expectedRows.at(i).toArray();
        QCOMPARE(stored.size(), header.size());
        for (qsizetype column = 0; column < header.size(); ++column) {
            const QString want = column < cells.size() ? cells.at(column).toString() : QString();
            const QString got = stored.value(header.at(column)).toString();
            if (got != want) {
                QFAIL(qPrintable(QStringLiteral("row %1, column %2: stored \"%3\", Python read \"%4\"")
                                     .arg(i)
                                     .arg(header.at(column), got, want)));
            }
        }
    }
}

void TestCsvImport::readerFailureRollsBack_data()
{
    QTest::addColumn<bool>("knownSource");
    QTest::addColumn<QString>("trigger"); // a statement failure besides; empty for none
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("messagePart");

    const QByteArray wide = rowsWithWideRow(60000, 59990);
    const QString columns = QStringLiteral("columns");
    QTest::newRow("new file") << false << QString() << wide << columns;
    QTest::newRow("known file") << true << QString() << wide << columns;
    // Read first, then write: the reader's message still wins.
    QTest::newRow("known file, first row refused too")
        << true
        << QStringLiteral("CREATE TRIGGER fail BEFORE INSERT ON data_source_records WHEN NEW.sort_index = 0 "
                          "BEGIN SELECT RAISE(ABORT, 'row refused'); END")
        << wide << columns;
    QTest::newRow("new file, its entry refused too")
        << false
        << QStringLiteral("CREATE TRIGGER fail BEFORE INSERT ON data_sources "
                          "BEGIN SELECT RAISE(ABORT, 'no new sources'); END")
        << wide << columns;
    // Known only at the end of the file, when the rows before went to the database.
    QTest::newRow("known file, a quote never closed on its last line")
        << true << QString() << rowsWithWideRow(60000, -1) + "x,\"y\n" << QStringLiteral("on line 60002");
    // Found before any row is read.
    QTest::newRow("known file, a NUL byte in its last row")
        << true << QString() << rowsWithWideRow(60000, -1) + QByteArray("x,\0\n", 4)
        << QStringLiteral("not a CSV file");
}

// A file that fails late, after many of its rows went to the database: the
// whole import is rolled back and the reader's message reported.
void TestCsvImport::readerFailureRollsBack()
{
    QFETCH(bool, knownSource);
    QFETCH(QString, trigger);
    QFETCH(QByteArray, content);
    QFETCH(QString, messagePart);

    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const QString path = f.writeFile(QStringLiteral("late.csv"), "A,B,C\nold,1,2\n");
    if (knownSource)
        QVERIFY2(upsertDataSource(f.store(), f.projectId, path, {}, &error), qPrintable(error));
    QVERIFY(writeFile(path, content));
    if (!trigger.isEmpty())
        QVERIFY2(exec(f.db(), trigger, {}, &error), qPrintable(error));
    const QStringList before = dumpDatabase(f.db());
    QString readError;
    QStringList header;
    QList<QStringList> rowList;
    QVERIFY(!readTableFile(path, {}, &header, &rowList, &readError));

    error.clear();
    QVERIFY(!upsertDataSource(f.store(), f.projectId, path, {}, &error));
    QCOMPARE(error, readError);
    QVERIFY2(error.contains(messagePart), qPrintable(error));
    QCOMPARE(dumpDatabase(f.db()), before);

    // No transaction was left open: a good file goes through afterwards.
    if (!trigger.isEmpty())
        QVERIFY(exec(f.db(), QStringLiteral("DROP TRIGGER fail")));
    QVERIFY(writeFile(path, rowsWithWideRow(70, -1)));
    const std::optional<DataSource> source = upsertDataSource(f.store(), f.projectId, path, {}, &error);
    QVERIFY2(source, qPrintable(error));
    QCOMPARE(f.store().countDataSourceRecords(source->id), 70);
}

void TestCsvImport::statementFailureStopsReader_data()
{
    QTest::addColumn<int>("failingRow");
    // Row 0: the reader is still far ahead and waits on a full queue.
    QTest::newRow("first row") << 0;
    QTest::newRow("row in a later batch") << 40001;
    QTest::newRow("last row") << 99999;
}

// A statement that fails while the reader thread still has most of a big
// file ahead: the import returns (the reader is released and joined), with
// the statement's message, and leaves nothing behind.
void TestCsvImport::statementFailureStopsReader()
{
    QFETCH(int, failingRow);

    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const QString path = f.writeFile(QStringLiteral("big.csv"), rowsWithWideRow(100000, -1));
    QVERIFY2(exec(f.db(),
                  QStringLiteral("CREATE TRIGGER fail BEFORE INSERT ON data_source_records WHEN NEW.sort_index = %1 "
                                 "BEGIN SELECT RAISE(ABORT, 'refused at %1'); END")
                      .arg(failingRow),
                  {}, &error),
             qPrintable(error));
    const QStringList before = dumpDatabase(f.db());

    error.clear();
    QVERIFY(!upsertDataSource(f.store(), f.projectId, path, {}, &error));
    QVERIFY2(error.contains(QStringLiteral("refused at %1").arg(failingRow)), qPrintable(error));
    QCOMPARE(dumpDatabase(f.db()), before);

    QVERIFY(exec(f.db(), QStringLiteral("DROP TRIGGER fail")));
    const std::optional<DataSource> source = upsertDataSource(f.store(), f.projectId, path, {}, &error);
    QVERIFY2(source, qPrintable(error));
    QCOMPARE(f.store().countDataSourceRecords(source->id), 100000);
}

// A refresh of a CSV file takes the same streamed path: the same rows, and
// a file that became unreadable keeps the previous ones.
void TestCsvImport::refreshStreamsToo()
{
    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const QString path = f.writeFile(QStringLiteral("r.csv"), "A,B\n1,2\n");
    const std::optional<DataSource> source = upsertDataSource(f.store(), f.projectId, path, {}, &error);
    QVERIFY2(source, qPrintable(error));

    const QByteArray changed = longMixedFile(500);
    QVERIFY(writeFile(path, changed));
    QVERIFY2(reloadDataSource(f.store(), source->id, &error), qPrintable(error));
    QStringList header;
    QList<QStringList> rowList;
    QVERIFY(readTableFile(path, {}, &header, &rowList, &error));
    const qint64 reference = insertRawSource(f.db(), f.projectId, QStringLiteral("/reference.csv"));
    QVERIFY2(f.store().replaceDataSourceRecords(reference, header, rowList, &error), qPrintable(error));
    QCOMPARE(storedRows(f.db(), source->id), storedRows(f.db(), reference));

    const QStringList before = dumpDatabase(f.db());
    QVERIFY(writeFile(path, rowsWithWideRow(20000, 19999)));
    QVERIFY(!reloadDataSource(f.store(), source->id, &error));
    QVERIFY2(error.contains(QStringLiteral("columns")), qPrintable(error));
    QCOMPARE(dumpDatabase(f.db()), before);
}

void TestCsvImport::producerRows_data()
{
    QTest::addColumn<qint64>("sizeBound");
    QTest::addColumn<int>("failAt");  // the data row the reader fails at; -1 for none
    QTest::addColumn<bool>("header"); // whether the reader gives a header row
    QTest::addColumn<int>("passes");
    QTest::addColumn<QString>("message");

    // Far more than the rows' text; what a file's size would be.
    const qint64 ample = 1024 * 1024;
    QTest::newRow("size known") << ample << -1 << true << 1 << QString();
    // Without a size the rows are counted against the stored-text limit
    // before one of them is written.
    QTest::newRow("size unknown") << qint64(-1) << -1 << true << 2 << QString();
    QTest::newRow("fails after several batches went in")
        << ample << 900 << true << 1 << QStringLiteral("The reader broke at row 900");
    QTest::newRow("no header row") << ample << -1 << false << 1 << QStringLiteral("The data file has no header row");
}

// The store's side alone: rows from a producer, no file. They are stored as
// the same rows read whole, and a producer that fails, late or at once,
// leaves the source's previous rows.
void TestCsvImport::producerRows()
{
    QFETCH(qint64, sizeBound);
    QFETCH(int, failAt);
    QFETCH(bool, header);
    QFETCH(int, passes);
    QFETCH(QString, message);

    Fixture f;
    QString error;
    QVERIFY2(f.open(&error), qPrintable(error));
    const QStringList names{QStringLiteral("Nr"), QStringLiteral("Text"), QStringLiteral("Nr")};
    QList<QStringList> rowList;
    for (int i = 0; i < 1000; ++i)
        rowList.append({QString::number(i), QStringLiteral("\"\u00e4\u20ac\U0001F600\n%1").arg(i)});
    rowList.append({QStringLiteral("short")});
    const qint64 sourceId = insertRawSource(f.db(), f.projectId, QStringLiteral("/memory.csv"));
    QVERIFY2(f.store().replaceDataSourceRecords(sourceId, {QStringLiteral("Old")}, {{QStringLiteral("kept")}},
                                                &error),
             qPrintable(error));

    int ran = 0;
    RecordRowProducer producer;
    producer.sizeBound = sizeBound;
    producer.read = [&](const RecordRowHandler &onRow, const std::function<bool()> &again, QString *readError) {
        do {
            ++ran;
            if (header && !onRow(MemoryRow(names)))
                return true;
            for (int i = 0; header && i < rowList.size(); ++i) {
                if (i == failAt) {
                    *readError = QStringLiteral("The reader broke at row %1").arg(i);
                    return false;
                }
                if (!onRow(MemoryRow(rowList.at(i))))
                    return true;
            }
        } while (again && again());
        return true;
    };

    const QStringList before = dumpDatabase(f.db());
    error.clear();
    const bool stored = f.store().replaceDataSourceRecords(sourceId, producer, &error);
    QCOMPARE(ran, passes);
    if (!message.isEmpty()) {
        QVERIFY(!stored);
        QCOMPARE(error, message);
        QCOMPARE(dumpDatabase(f.db()), before);
        return;
    }
    QVERIFY2(stored, qPrintable(error));
    const qint64 reference = insertRawSource(f.db(), f.projectId, QStringLiteral("/reference.csv"));
    QVERIFY2(f.store().replaceDataSourceRecords(reference, settledHeader(names), rowList, &error), qPrintable(error));
    QCOMPARE(storedRows(f.db(), sourceId).size(), rowList.size());
    QCOMPARE(storedRows(f.db(), sourceId), storedRows(f.db(), reference));
}

QTEST_GUILESS_MAIN(TestCsvImport)
#include "tst_csvimport.moc"
