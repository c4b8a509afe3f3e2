// An import or a re-read of a data file as the window runs it, on a
// connection of its own beside the window's. Cancelled at whatever point
// (before the first row, with rows already written inside the transaction,
// or just before the commit), nothing of it remains, the previous rows and
// options of a known source included, and the connection is left ready for
// the next import. Started while another connection writes, it waits for
// that writer instead of failing.
#include "storetestutil.h"
#include "writelock.h"

#include "app/dataimport.h"
#include "store/projectstore.h"

#include <QtGui/private/qzipwriter_p.h>

#include <QBuffer>
#include <QTest>
#include <QThread>

#include <functional>

using namespace storetest;

namespace {

// `count` rows "r<n>,<n * 3>" under "Name,Value".
QByteArray csvRows(int count, const QByteArray &prefix)
{
    QByteArray text = "Name,Value\n";
    for (int n = 0; n < count; ++n)
        text += prefix + QByteArray::number(n) + "," + QByteArray::number(n * 3) + "\n";
    return text;
}

// The same rows as a one-sheet workbook of inline strings.
QByteArray xlsxRows(int count, const QByteArray &prefix)
{
    const auto cell = [](const QByteArray &text) -> QByteArray {
        return "<c t=\"inlineStr\"><is><t>" + text + "</t></is></c>";
    };
    QByteArray rows = "<row>" + cell("Name") + cell("Value") + "</row>";
    for (int n = 0; n < count; ++n)
        rows += "<row>" + cell(prefix + QByteArray::number(n)) + cell(QByteArray::number(n * 3)) + "</row>";
    const QByteArray sheet = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                             "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                             "<sheetData>"
                             + rows + "</sheetData></worksheet>";
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QZipWriter zip(&buffer);
    zip.addFile(QStringLiteral("xl/workbook.xml"),
                "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
                "<sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
    zip.addFile(QStringLiteral("xl/_rels/workbook.xml.rels"),
                "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                "<Relationship Id=\"rId1\" Target=\"worksheets/sheet1.xml\" "
                "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\"/>"
                "</Relationships>");
    zip.addFile(QStringLiteral("xl/worksheets/sheet1.xml"), sheet);
    zip.close();
    return bytes;
}

enum class Operation { ImportNew, ImportKnown, Reload };
enum class CancelPoint { FirstCheck, RowsWritten, AllRowsWritten };

} // namespace

Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(CancelPoint)

class TestImportCancel : public QObject
{
    Q_OBJECT

private slots:
    void cancelLeavesDatabaseAsItWas_data();
    void cancelLeavesDatabaseAsItWas();
    void waitsForAnotherWriter_data();
    void waitsForAnotherWriter();
};

void TestImportCancel::cancelLeavesDatabaseAsItWas_data()
{
    QTest::addColumn<bool>("workbook");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<CancelPoint>("point");

    const struct
    {
        const char *name;
        Operation operation;
    } operations[] = {
        {"new source", Operation::ImportNew},
        {"known source imported again", Operation::ImportKnown},
        {"known source re-read", Operation::Reload},
    };
    const struct
    {
        const char *name;
        CancelPoint point;
    } points[] = {
        {"at the first check", CancelPoint::FirstCheck},
        {"with rows written", CancelPoint::RowsWritten},
        {"before the commit", CancelPoint::AllRowsWritten},
    };
    for (const bool workbook : {false, true}) {
        for (const auto &operation : operations) {
            for (const auto &point : points) {
                QTest::addRow("%s, %s, %s", workbook ? "xlsx" : "csv", operation.name, point.name)
                    << workbook << operation.operation << point.point;
            }
        }
    }
}

void TestImportCancel::cancelLeavesDatabaseAsItWas()
{
    QFETCH(bool, workbook);
    QFETCH(Operation, operation);
    QFETCH(CancelPoint, point);

    // Several batches of 64 rows, and a remainder, in either format.
    const int newRows = workbook ? 300 : 5000;
    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));
    ProjectStore &store = scratch.store();
    const std::optional<Project> project = store.createProject(QStringLiteral("Job"), &error);
    QVERIFY2(project, qPrintable(error));
    const QString path = QDir(scratch.folder()).filePath(workbook ? QStringLiteral("data.xlsx")
                                                                   : QStringLiteral("data.csv"));
    const auto content = [workbook](int count, const QByteArray &prefix) {
        return workbook ? xlsxRows(count, prefix) : csvRows(count, prefix);
    };

    // A known source holds 7 old rows read with other options.
    const DataSourceOptions oldOptions{workbook ? QStringLiteral("Sheet1") : QString(), QStringLiteral("utf-8"),
                                       QStringLiteral("comma")};
    std::optional<DataSource> known;
    if (operation != Operation::ImportNew) {
        QVERIFY(writeFile(path, content(7, "old")));
        known = upsertDataSource(store, project->id, path, oldOptions, &error);
        QVERIFY2(known, qPrintable(error));
    }
    QVERIFY(writeFile(path, content(newRows, "new")));
    const QStringList before = dumpDatabase(scratch.db());
    const qint64 highestIdBefore = scalar(scratch.db(), QStringLiteral("SELECT COALESCE(MAX(id), 0) FROM "
                                                                       "data_source_records"))
                                       .toLongLong();

    // Rows written so far inside the import's own transaction, which this
    // connection sees: every row gets a new, higher id.
    const auto rowsWritten = [&scratch, highestIdBefore] {
        return scalar(scratch.db(), QStringLiteral("SELECT COUNT(*) FROM data_source_records WHERE id > ?"),
                      {highestIdBefore})
            .toInt();
    };
    int checks = 0;
    int writtenWhenCancelled = -1;
    bool onCallingThread = true;
    QThread *const caller = QThread::currentThread();
    const std::function<bool()> cancelRequested = [&] {
        ++checks;
        onCallingThread = onCallingThread && QThread::currentThread() == caller;
        if (writtenWhenCancelled >= 0)
            return true;
        const int written = rowsWritten();
        const bool now = point == CancelPoint::FirstCheck
                         || (point == CancelPoint::RowsWritten && written >= 128)
                         || (point == CancelPoint::AllRowsWritten && written == newRows);
        if (now)
            writtenWhenCancelled = written;
        return now;
    };

    const DataSourceOptions newOptions{workbook ? QStringLiteral("Sheet1") : QString(), QStringLiteral("auto"),
                                       QStringLiteral("auto")};
    bool succeeded = false;
    error.clear();
    if (operation == Operation::Reload)
        succeeded = reloadDataSource(store, known->id, &error, cancelRequested);
    else
        succeeded = upsertDataSource(store, project->id, path, newOptions, &error, cancelRequested).has_value();

    QVERIFY(!succeeded);
    QCOMPARE(error, QStringLiteral("The import was cancelled"));
    QVERIFY(onCallingThread);
    // The cancel came where it was meant to: nothing, some or all of the rows
    // were in the transaction.
    switch (point) {
    case CancelPoint::FirstCheck:
        QCOMPARE(writtenWhenCancelled, 0);
        QCOMPARE(checks, 1);
        break;
    case CancelPoint::RowsWritten:
        QVERIFY2(writtenWhenCancelled >= 128 && writtenWhenCancelled < newRows,
                 qPrintable(QString::number(writtenWhenCancelled)));
        break;
    case CancelPoint::AllRowsWritten:
        QCOMPARE(writtenWhenCancelled, newRows);
        break;
    }
    QCOMPARE(dumpDatabase(scratch.db()), before);

    // No transaction was left open: the same work goes through afterwards.
    if (operation == Operation::Reload) {
        QVERIFY2(reloadDataSource(store, known->id, &error), qPrintable(error));
        QCOMPARE(store.countDataSourceRecords(known->id), newRows);
    } else {
        const std::optional<DataSource> source = upsertDataSource(store, project->id, path, newOptions, &error);
        QVERIFY2(source, qPrintable(error));
        QCOMPARE(source->options, newOptions);
        QCOMPARE(store.countDataSourceRecords(source->id), newRows);
    }
}

void TestImportCancel::waitsForAnotherWriter_data()
{
    QTest::addColumn<bool>("workbook");
    QTest::addColumn<bool>("reload");

    QTest::newRow("csv, new source") << false << false;
    QTest::newRow("csv, re-read") << false << true;
    QTest::newRow("xlsx, new source") << true << false;
    QTest::newRow("xlsx, re-read") << true << true;
}

// The import reads (is the file's source known?) before it writes; a
// transaction begun as a reader could not wait for the write lock.
void TestImportCancel::waitsForAnotherWriter()
{
    QFETCH(bool, workbook);
    QFETCH(bool, reload);

    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));
    ProjectStore &store = scratch.store();
    const std::optional<Project> project = store.createProject(QStringLiteral("Job"), &error);
    QVERIFY2(project, qPrintable(error));
    const QString path = QDir(scratch.folder()).filePath(workbook ? QStringLiteral("data.xlsx")
                                                                   : QStringLiteral("data.csv"));
    QVERIFY(writeFile(path, workbook ? xlsxRows(3, "old") : csvRows(3, "old")));
    std::optional<DataSource> source;
    if (reload) {
        source = upsertDataSource(store, project->id, path, {}, &error);
        QVERIFY2(source, qPrintable(error));
    }
    QVERIFY(writeFile(path, workbook ? xlsxRows(200, "new") : csvRows(200, "new")));

    WriteLock writer(scratch.path());
    QVERIFY(writer.isHeld());
    // Well within the busy timeout of 5 s.
    writer.releaseAfter(std::chrono::milliseconds(300));
    if (reload) {
        QVERIFY2(reloadDataSource(store, source->id, &error), qPrintable(error));
    } else {
        source = upsertDataSource(store, project->id, path, {}, &error);
        QVERIFY2(source, qPrintable(error));
    }
    QCOMPARE(store.countDataSourceRecords(source->id), 200);
}

QTEST_GUILESS_MAIN(TestImportCancel)
#include "tst_importcancel.moc"
