#include "storetestutil.h"

#include "store/projectstore.h"

#include <QDir>
#include <QHash>
#include <QTest>

#include <algorithm>

using namespace storetest;

namespace {

const QStringList kTables = {
    QStringLiteral("data_records"),    QStringLiteral("data_source_records"),
    QStringLiteral("data_sources"),    QStringLiteral("projects"),
    QStringLiteral("template_fields"), QStringLiteral("template_graphics"),
};

// What an existing row reads in a column the upgrade added, as SQLite's quote()
// renders it. Keyed "table.column".
const QHash<QString, QString> &upgradedColumnValues()
{
    static const QHash<QString, QString> values = {
        {QStringLiteral("projects.background_path"), QStringLiteral("NULL")},
        {QStringLiteral("projects.bleed_mm"), QStringLiteral("2.0")},
        {QStringLiteral("projects.show_bleed"), QStringLiteral("1")},
        {QStringLiteral("projects.show_imposition_border"), QStringLiteral("1")},
        {QStringLiteral("projects.imposition_border_color"), QStringLiteral("'#000000'")},
        {QStringLiteral("projects.show_crop_marks"), QStringLiteral("0")},
        {QStringLiteral("projects.duplex"), QStringLiteral("0")},
        {QStringLiteral("projects.back_background_path"), QStringLiteral("NULL")},
        {QStringLiteral("projects.data_source_path"), QStringLiteral("NULL")},
        {QStringLiteral("projects.is_demo"), QStringLiteral("0")},
        {QStringLiteral("projects.demo_key"), QStringLiteral("NULL")},
        {QStringLiteral("data_sources.worksheet_name"), QStringLiteral("''")},
        {QStringLiteral("data_sources.csv_encoding"), QStringLiteral("'auto'")},
        {QStringLiteral("data_sources.csv_delimiter"), QStringLiteral("'auto'")},
        {QStringLiteral("template_fields.side"), QStringLiteral("'front'")},
        {QStringLiteral("template_fields.field_type"), QStringLiteral("'text'")},
        {QStringLiteral("template_fields.barcode_format"), QStringLiteral("'code128'")},
        {QStringLiteral("template_fields.barcode_show_text"), QStringLiteral("0")},
        {QStringLiteral("template_fields.scratch_mode"), QStringLiteral("'count'")},
        {QStringLiteral("template_fields.scratch_total"), QStringLiteral("10000")},
        {QStringLiteral("template_fields.scratch_prizes_json"), QStringLiteral("'[]'")},
        {QStringLiteral("template_fields.sequence_prefix"), QStringLiteral("'No.'")},
        {QStringLiteral("template_fields.sequence_digits"), QStringLiteral("6")},
        {QStringLiteral("template_fields.sequence_step"), QStringLiteral("1")},
        {QStringLiteral("template_fields.sequence_exclude_four"), QStringLiteral("0")},
        {QStringLiteral("template_graphics.cell_spacing_mm"), QStringLiteral("0.0")},
        {QStringLiteral("template_graphics.side"), QStringLiteral("'front'")},
    };
    return values;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// Restores the working directory when the test leaves.
class CurrentDirectoryGuard
{
public:
    CurrentDirectoryGuard() : m_saved(QDir::currentPath()) {}
    ~CurrentDirectoryGuard() { QDir::setCurrent(m_saved); }

private:
    QString m_saved;
};

} // namespace

class TestSchema : public QObject
{
    Q_OBJECT

private slots:
    void newDatabaseHasSixTables();
    void tableLayout_data();
    void tableLayout();
    void connectionSettings_data();
    void connectionSettings();

    void olderReleaseGainsMissingColumns_data();
    void olderReleaseGainsMissingColumns();
    void singleFileProjectMovesToDataSource_data();
    void singleFileProjectMovesToDataSource();
    void failedRecordCopyLeavesNoEmptyDataSource();
    void secondRunChangesNothing_data();
    void secondRunChangesNothing();

    void deletingProjectCascades();
};

void TestSchema::newDatabaseHasSixTables()
{
    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));
    QVERIFY(error.isEmpty());

    QCOMPARE(tableNames(scratch.db()), kTables);

    // Ids are never reused after deletion.
    for (const QString &table : kTables) {
        const QString sql = scalar(scratch.db(),
                                   QStringLiteral("SELECT sql FROM sqlite_master WHERE name=?"),
                                   {table})
                                .toString();
        QVERIFY2(sql.contains(QRegularExpression(
                     QStringLiteral("\\bid\\s+INTEGER\\s+PRIMARY\\s+KEY\\s+AUTOINCREMENT\\b"),
                     QRegularExpression::CaseInsensitiveOption)),
                 qPrintable(sql));
    }

    // No secondary indexes: only those SQLite makes for the UNIQUE constraints.
    const QStringList indexes = rows(scratch.db(), QStringLiteral(
        "SELECT tbl_name FROM sqlite_master WHERE type='index' ORDER BY tbl_name"));
    QCOMPARE(indexes, QStringList({QStringLiteral("data_records"),
                                   QStringLiteral("data_source_records"),
                                   QStringLiteral("data_sources")}));
    QCOMPARE(scalar(scratch.db(), QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE "
                                                 "type='index' AND sql IS NOT NULL"))
                 .toInt(),
             0);

    QCOMPARE(columnNames(scratch.db(), QStringLiteral("projects")).constLast(),
             QStringLiteral("background_path"));
}

void TestSchema::tableLayout_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("columns");
    QTest::addColumn<QStringList>("foreignKeys");
    QTest::addColumn<QStringList>("uniqueKeys");

    const QString id = QStringLiteral("id|INTEGER|0|NULL|1");
    const QStringList toProjects = {QStringLiteral("project_id->projects(id) CASCADE")};

    QTest::newRow("projects")
        << QStringLiteral("projects")
        << QStringList{id,
                       QStringLiteral("name|TEXT|1|NULL|0"),
                       QStringLiteral("card_width_mm|REAL|1|90|0"),
                       QStringLiteral("card_height_mm|REAL|1|54|0"),
                       QStringLiteral("paper_width_mm|REAL|1|420|0"),
                       QStringLiteral("paper_height_mm|REAL|1|297|0"),
                       QStringLiteral("rows|INTEGER|1|4|0"),
                       QStringLiteral("columns_count|INTEGER|1|4|0"),
                       QStringLiteral("bleed_mm|REAL|1|2|0"),
                       QStringLiteral("show_bleed|INTEGER|1|1|0"),
                       QStringLiteral("show_imposition_border|INTEGER|1|1|0"),
                       QStringLiteral("imposition_border_color|TEXT|1|'#000000'|0"),
                       QStringLiteral("show_crop_marks|INTEGER|1|0|0"),
                       QStringLiteral("duplex|INTEGER|1|0|0"),
                       QStringLiteral("back_background_path|TEXT|0|NULL|0"),
                       QStringLiteral("data_source_path|TEXT|0|NULL|0"),
                       QStringLiteral("is_demo|INTEGER|1|0|0"),
                       QStringLiteral("demo_key|TEXT|0|NULL|0"),
                       QStringLiteral("created_at|TEXT|1|CURRENT_TIMESTAMP|0"),
                       QStringLiteral("updated_at|TEXT|1|CURRENT_TIMESTAMP|0"),
                       QStringLiteral("background_path|TEXT|0|NULL|0")}
        << QStringList() << QStringList();

    QTest::newRow("data_records")
        << QStringLiteral("data_records")
        << QStringList{id, QStringLiteral("project_id|INTEGER|1|NULL|0"),
                       QStringLiteral("sort_index|INTEGER|1|NULL|0"),
                       QStringLiteral("payload_json|TEXT|1|NULL|0")}
        << toProjects << QStringList{QStringLiteral("project_id,sort_index")};

    QTest::newRow("data_sources")
        << QStringLiteral("data_sources")
        << QStringList{id,
                       QStringLiteral("project_id|INTEGER|1|NULL|0"),
                       QStringLiteral("file_path|TEXT|1|NULL|0"),
                       QStringLiteral("display_name|TEXT|1|NULL|0"),
                       QStringLiteral("sort_order|INTEGER|1|0|0"),
                       QStringLiteral("worksheet_name|TEXT|1|''|0"),
                       QStringLiteral("csv_encoding|TEXT|1|'auto'|0"),
                       QStringLiteral("csv_delimiter|TEXT|1|'auto'|0"),
                       QStringLiteral("created_at|TEXT|1|CURRENT_TIMESTAMP|0"),
                       QStringLiteral("updated_at|TEXT|1|CURRENT_TIMESTAMP|0")}
        << toProjects << QStringList{QStringLiteral("project_id,file_path")};

    QTest::newRow("data_source_records")
        << QStringLiteral("data_source_records")
        << QStringList{id, QStringLiteral("data_source_id|INTEGER|1|NULL|0"),
                       QStringLiteral("sort_index|INTEGER|1|NULL|0"),
                       QStringLiteral("payload_json|TEXT|1|NULL|0")}
        << QStringList{QStringLiteral("data_source_id->data_sources(id) CASCADE")}
        << QStringList{QStringLiteral("data_source_id,sort_index")};

    QTest::newRow("template_fields")
        << QStringLiteral("template_fields")
        << QStringList{id,
                       QStringLiteral("project_id|INTEGER|1|NULL|0"),
                       QStringLiteral("side|TEXT|1|'front'|0"),
                       QStringLiteral("field_type|TEXT|1|'text'|0"),
                       QStringLiteral("name|TEXT|1|NULL|0"),
                       QStringLiteral("data_column|TEXT|0|NULL|0"),
                       QStringLiteral("x_mm|REAL|1|NULL|0"),
                       QStringLiteral("y_mm|REAL|1|NULL|0"),
                       QStringLiteral("width_mm|REAL|1|NULL|0"),
                       QStringLiteral("height_mm|REAL|1|NULL|0"),
                       QStringLiteral("font_family|TEXT|1|NULL|0"),
                       QStringLiteral("font_size_pt|REAL|1|NULL|0"),
                       QStringLiteral("color_hex|TEXT|1|NULL|0"),
                       QStringLiteral("is_bold|INTEGER|1|0|0"),
                       QStringLiteral("alignment|INTEGER|1|NULL|0"),
                       QStringLiteral("barcode_format|TEXT|1|'code128'|0"),
                       QStringLiteral("barcode_show_text|INTEGER|1|0|0"),
                       QStringLiteral("scratch_mode|TEXT|1|'count'|0"),
                       QStringLiteral("scratch_total|INTEGER|1|10000|0"),
                       QStringLiteral("scratch_prizes_json|TEXT|1|'[]'|0"),
                       QStringLiteral("sequence_prefix|TEXT|1|'No.'|0"),
                       QStringLiteral("sequence_digits|INTEGER|1|6|0"),
                       QStringLiteral("sequence_step|INTEGER|1|1|0"),
                       QStringLiteral("sequence_exclude_four|INTEGER|1|0|0"),
                       QStringLiteral("sort_order|INTEGER|1|0|0")}
        << toProjects << QStringList();

    QTest::newRow("template_graphics")
        << QStringLiteral("template_graphics")
        << QStringList{id,
                       QStringLiteral("project_id|INTEGER|1|NULL|0"),
                       QStringLiteral("side|TEXT|1|'front'|0"),
                       QStringLiteral("element_type|TEXT|1|NULL|0"),
                       QStringLiteral("x_mm|REAL|1|NULL|0"),
                       QStringLiteral("y_mm|REAL|1|NULL|0"),
                       QStringLiteral("width_mm|REAL|1|NULL|0"),
                       QStringLiteral("height_mm|REAL|1|NULL|0"),
                       QStringLiteral("stroke_color|TEXT|1|NULL|0"),
                       QStringLiteral("stroke_width_mm|REAL|1|NULL|0"),
                       QStringLiteral("fill_color|TEXT|1|NULL|0"),
                       QStringLiteral("table_rows|INTEGER|1|3|0"),
                       QStringLiteral("table_columns|INTEGER|1|3|0"),
                       QStringLiteral("cell_spacing_mm|REAL|1|0|0"),
                       QStringLiteral("sort_order|INTEGER|1|0|0")}
        << toProjects << QStringList();
}

void TestSchema::tableLayout()
{
    QFETCH(QString, table);
    QFETCH(QStringList, columns);
    QFETCH(QStringList, foreignKeys);
    QFETCH(QStringList, uniqueKeys);

    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));

    QCOMPARE(columnDescriptions(scratch.db(), table), columns);

    QStringList actualForeignKeys;
    QSqlQuery fk(scratch.db());
    QVERIFY(fk.exec(QStringLiteral("PRAGMA foreign_key_list(%1)").arg(table)));
    while (fk.next()) {
        actualForeignKeys << QStringLiteral("%1->%2(%3) %4")
                                 .arg(fk.value(QStringLiteral("from")).toString(),
                                      fk.value(QStringLiteral("table")).toString(),
                                      fk.value(QStringLiteral("to")).toString(),
                                      fk.value(QStringLiteral("on_delete")).toString());
    }
    QCOMPARE(actualForeignKeys, foreignKeys);

    QStringList actualUniqueKeys;
    const QStringList indexes = rows(
        scratch.db(), QStringLiteral("SELECT name FROM pragma_index_list('%1') WHERE \"unique\"=1 "
                                     "AND origin='u'").arg(table));
    for (const QString &index : indexes) {
        actualUniqueKeys << rows(scratch.db(),
                                 QStringLiteral("SELECT name FROM pragma_index_info('%1') "
                                                "ORDER BY seqno").arg(index))
                                .join(QLatin1Char(','));
    }
    QCOMPARE(actualUniqueKeys, uniqueKeys);
}

void TestSchema::connectionSettings_data()
{
    QTest::addColumn<QString>("pragma");
    QTest::addColumn<QString>("expected");
    QTest::newRow("foreign keys on") << QStringLiteral("foreign_keys") << QStringLiteral("1");
    QTest::newRow("write-ahead log") << QStringLiteral("journal_mode") << QStringLiteral("wal");
    QTest::newRow("synchronous NORMAL") << QStringLiteral("synchronous") << QStringLiteral("1");
    QTest::newRow("temp store MEMORY") << QStringLiteral("temp_store") << QStringLiteral("2");
    QTest::newRow("32 MiB page cache") << QStringLiteral("cache_size") << QStringLiteral("-32768");
}

void TestSchema::connectionSettings()
{
    QFETCH(QString, pragma);
    QFETCH(QString, expected);

    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));
    QCOMPARE(scalar(scratch.db(), QStringLiteral("PRAGMA %1").arg(pragma)).toString().toLower(),
             expected);
}

void TestSchema::olderReleaseGainsMissingColumns_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QStringList>("added"); // "table.column", in upgrade order

    QTest::newRow("earliest release")
        << fixturePath("release-earliest.sql")
        << QStringList{QStringLiteral("projects.background_path"),
                       QStringLiteral("projects.bleed_mm"),
                       QStringLiteral("projects.show_bleed"),
                       QStringLiteral("projects.show_imposition_border"),
                       QStringLiteral("projects.imposition_border_color"),
                       QStringLiteral("projects.show_crop_marks"),
                       QStringLiteral("projects.duplex"),
                       QStringLiteral("projects.back_background_path"),
                       QStringLiteral("projects.data_source_path"),
                       QStringLiteral("projects.is_demo"),
                       QStringLiteral("projects.demo_key"),
                       QStringLiteral("template_fields.side"),
                       QStringLiteral("template_fields.field_type"),
                       QStringLiteral("template_fields.barcode_format"),
                       QStringLiteral("template_fields.barcode_show_text"),
                       QStringLiteral("template_fields.scratch_mode"),
                       QStringLiteral("template_fields.scratch_total"),
                       QStringLiteral("template_fields.scratch_prizes_json"),
                       QStringLiteral("template_fields.sequence_prefix"),
                       QStringLiteral("template_fields.sequence_digits"),
                       QStringLiteral("template_fields.sequence_step"),
                       QStringLiteral("template_fields.sequence_exclude_four"),
                       QStringLiteral("template_graphics.cell_spacing_mm"),
                       QStringLiteral("template_graphics.side")};

    QTest::newRow("multi-file release")
        << fixturePath("release-multi-file.sql")
        << QStringList{QStringLiteral("projects.is_demo"),
                       QStringLiteral("projects.demo_key"),
                       QStringLiteral("data_sources.worksheet_name"),
                       QStringLiteral("data_sources.csv_encoding"),
                       QStringLiteral("data_sources.csv_delimiter"),
                       QStringLiteral("template_fields.scratch_mode"),
                       QStringLiteral("template_fields.scratch_total"),
                       QStringLiteral("template_fields.scratch_prizes_json"),
                       QStringLiteral("template_fields.sequence_prefix"),
                       QStringLiteral("template_fields.sequence_digits"),
                       QStringLiteral("template_fields.sequence_step"),
                       QStringLiteral("template_fields.sequence_exclude_four"),
                       QStringLiteral("template_graphics.side")};
}

void TestSchema::olderReleaseGainsMissingColumns()
{
    QFETCH(QString, fixture);
    QFETCH(QStringList, added);

    ScratchStore reference;
    QString error;
    QVERIFY2(reference.open(&error), qPrintable(error));

    ScratchStore scratch;
    QVERIFY2(scratch.applyFixture(fixture, &error), qPrintable(error));

    QHash<QString, QStringList> oldColumns;
    QHash<QString, QStringList> oldRows;
    {
        RawConnection raw(scratch.path());
        for (const QString &table : tableNames(raw.db())) {
            oldColumns[table] = columnNames(raw.db(), table);
            oldRows[table] = quotedRows(raw.db(), table, oldColumns[table]);
        }
    }

    QVERIFY2(scratch.open(&error), qPrintable(error));
    QCOMPARE(tableNames(scratch.db()), kTables);

    for (const QString &table : kTables) {
        // Every table ends up with the columns of a new database, whatever order they came in.
        QCOMPARE(sorted(columnDescriptions(scratch.db(), table)),
                 sorted(columnDescriptions(reference.db(), table)));
        if (!oldColumns.contains(table))
            continue;

        QStringList addedHere;
        for (const QString &qualified : added) {
            if (qualified.section(QLatin1Char('.'), 0, 0) == table)
                addedHere << qualified.section(QLatin1Char('.'), 1);
        }
        // Exactly the missing columns, appended in upgrade order.
        QCOMPARE(columnNames(scratch.db(), table), oldColumns[table] + addedHere);
        // Existing values intact.
        QCOMPARE(quotedRows(scratch.db(), table, oldColumns[table]), oldRows[table]);

        if (addedHere.isEmpty())
            continue;
        QVERIFY2(!oldRows[table].isEmpty(), "the fixture must give upgraded tables some rows");
        for (const QString &column : std::as_const(addedHere)) {
            const QString expected = upgradedColumnValues().value(table + QLatin1Char('.') + column);
            QVERIFY(!expected.isEmpty());
            const QStringList values = quotedRows(scratch.db(), table, {column});
            QCOMPARE(values, QStringList(oldRows[table].size(), expected));
        }
    }
}

void TestSchema::singleFileProjectMovesToDataSource_data()
{
    QTest::addColumn<qint64>("projectId");
    QTest::addColumn<QString>("storedPath"); // empty: the project is not upgraded
    QTest::addColumn<QString>("displayName");
    QTest::addColumn<int>("recordCount");

    QTest::newRow("absolute path, three rows")
        << qint64(1) << QStringLiteral("/srv/jobs/lottery-march.csv")
        << QStringLiteral("lottery-march.csv") << 3;
    QTest::newRow("relative path resolved against the working directory")
        << qint64(2) << QStringLiteral("jobs/raffle tickets.csv")
        << QStringLiteral("raffle tickets.csv") << 2;
    QTest::newRow("NULL path") << qint64(3) << QString() << QString() << 0;
    QTest::newRow("empty path") << qint64(4) << QString() << QString() << 0;
    QTest::newRow("path without rows") << qint64(5) << QStringLiteral("/srv/jobs/empty.csv")
                                       << QStringLiteral("empty.csv") << 0;
}

void TestSchema::singleFileProjectMovesToDataSource()
{
    QFETCH(qint64, projectId);
    QFETCH(QString, storedPath);
    QFETCH(QString, displayName);
    QFETCH(int, recordCount);

    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.applyFixture(fixturePath("release-single-file.sql"), &error), qPrintable(error));

    CurrentDirectoryGuard cwdGuard;
    QVERIFY(QDir::setCurrent(scratch.folder()));

    QStringList recordsBefore;
    QStringList pathsBefore;
    {
        RawConnection raw(scratch.path());
        recordsBefore = quotedRows(raw.db(), QStringLiteral("data_records"),
                                   columnNames(raw.db(), QStringLiteral("data_records")));
        pathsBefore = rows(raw.db(), QStringLiteral("SELECT id, quote(data_source_path) FROM "
                                                    "projects ORDER BY id"));
    }

    QVERIFY2(scratch.open(&error), qPrintable(error));
    const QSqlDatabase db = scratch.db();

    // Only the three projects that name a file gain a source.
    QCOMPARE(scalar(db, QStringLiteral("SELECT COUNT(*) FROM data_sources")).toInt(), 3);

    const QStringList sources = rows(
        db, QStringLiteral("SELECT file_path, display_name, sort_order, quote(worksheet_name), "
                           "csv_encoding, csv_delimiter FROM data_sources WHERE project_id=?"),
        {projectId});
    if (storedPath.isEmpty()) {
        QCOMPARE(sources, QStringList());
    } else {
        const QString absolutePath = QDir::current().absoluteFilePath(storedPath);
        QCOMPARE(sources, QStringList{QStringLiteral("%1 | %2 | 0 | '' | auto | auto")
                                          .arg(absolutePath, displayName)});

        const QStringList copied = rows(
            db, QStringLiteral("SELECT r.sort_index, r.payload_json FROM data_source_records r "
                               "JOIN data_sources s ON s.id = r.data_source_id "
                               "WHERE s.project_id=? ORDER BY r.sort_index"),
            {projectId});
        const QStringList original = rows(
            db, QStringLiteral("SELECT sort_index, payload_json FROM data_records "
                               "WHERE project_id=? ORDER BY sort_index"),
            {projectId});
        QCOMPARE(copied.size(), recordCount);
        QCOMPARE(copied, original);
    }

    // The old layout is left as it was.
    QCOMPARE(quotedRows(db, QStringLiteral("data_records"),
                        columnNames(db, QStringLiteral("data_records"))),
             recordsBefore);
    QCOMPARE(rows(db, QStringLiteral("SELECT id, quote(data_source_path) FROM projects ORDER BY id")),
             pathsBefore);
}

void TestSchema::failedRecordCopyLeavesNoEmptyDataSource()
{
    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.applyFixture(fixturePath("release-single-file.sql"), &error), qPrintable(error));
    QVERIFY2(scratch.applyFixture(fixturePath("block-record-copy.sql"), &error), qPrintable(error));

    CurrentDirectoryGuard cwdGuard;
    QVERIFY(QDir::setCurrent(scratch.folder()));

    QVERIFY(scratch.store().openDatabase(scratch.path(), &error));
    error.clear();
    QVERIFY(!scratch.store().initializeSchema(&error));
    QVERIFY2(error.contains(QLatin1String("record copy blocked for project 2")), qPrintable(error));

    const QSqlDatabase db = scratch.db();
    // Every project is either upgraded completely or not at all.
    const QString perSource = QStringLiteral(
        "SELECT s.project_id, "
        "(SELECT COUNT(*) FROM data_source_records r WHERE r.data_source_id = s.id), "
        "(SELECT COUNT(*) FROM data_records d WHERE d.project_id = s.project_id) "
        "FROM data_sources s ORDER BY s.project_id");
    for (const QString &row : rows(db, perSource)) {
        const QStringList cells = row.split(QStringLiteral(" | "));
        QCOMPARE(cells.size(), 3);
        QVERIFY2(cells[1] == cells[2], qPrintable(QStringLiteral("project %1 has %2 of %3 rows")
                                                      .arg(cells[0], cells[1], cells[2])));
    }
    QCOMPARE(scalar(db, QStringLiteral("SELECT COUNT(*) FROM data_sources WHERE project_id=2")).toInt(),
             0);

    // Once the obstacle is gone, the next start upgrades it fully.
    QVERIFY2(scratch.store().execStatement(QStringLiteral("DROP TRIGGER block_record_copy"), &error),
             qPrintable(error));
    error.clear();
    QVERIFY2(scratch.store().initializeSchema(&error), qPrintable(error));
    QCOMPARE(rows(db, perSource),
             QStringList({QStringLiteral("1 | 3 | 3"), QStringLiteral("2 | 2 | 2"),
                          QStringLiteral("5 | 0 | 0")}));
    QCOMPARE(scalar(db, QStringLiteral("SELECT file_path FROM data_sources WHERE project_id=2"))
                 .toString(),
             QDir::current().absoluteFilePath(QStringLiteral("jobs/raffle tickets.csv")));
}

void TestSchema::secondRunChangesNothing_data()
{
    QTest::addColumn<QString>("fixture"); // empty: a new database
    QTest::newRow("new database") << QString();
    QTest::newRow("earliest release") << fixturePath("release-earliest.sql");
    QTest::newRow("single-file release") << fixturePath("release-single-file.sql");
    QTest::newRow("multi-file release") << fixturePath("release-multi-file.sql");
}

void TestSchema::secondRunChangesNothing()
{
    QFETCH(QString, fixture);

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("vellumor-vdp.sqlite"));
    QString error;
    if (!fixture.isEmpty()) {
        RawConnection raw(path);
        QVERIFY2(applySqlScript(raw.db(), fixture, &error), qPrintable(error));
    }
    CurrentDirectoryGuard cwdGuard;
    QVERIFY(QDir::setCurrent(folder.path()));

    QStringList afterFirst;
    {
        ProjectStore store;
        QVERIFY2(store.openDatabase(path, &error), qPrintable(error));
        QVERIFY2(store.initializeSchema(&error), qPrintable(error));
        afterFirst = dumpDatabase(store.database());

        // Again on the same connection.
        QVERIFY2(store.initializeSchema(&error), qPrintable(error));
        QCOMPARE(dumpDatabase(store.database()), afterFirst);
    }
    // And at the next start.
    ProjectStore store;
    QVERIFY2(store.openDatabase(path, &error), qPrintable(error));
    QVERIFY2(store.initializeSchema(&error), qPrintable(error));
    QCOMPARE(dumpDatabase(store.database()), afterFirst);
}

void TestSchema::deletingProjectCascades()
{
    ScratchStore scratch;
    QString error;
    QVERIFY2(scratch.open(&error), qPrintable(error));
    ProjectStore &store = scratch.store();
    const QSqlDatabase db = scratch.db();

    auto populate = [&](const QString &name) -> qint64 {
        const std::optional<Project> project = store.createProject(name, &error);
        if (!project)
            return -1;
        TemplateField field;
        field.projectId = project->id;
        GraphicElement graphic;
        graphic.projectId = project->id;
        const QString file = QStringLiteral("/data/%1.csv").arg(name);
        const bool ok =
            store.insertElement(&field, &error) && store.insertElement(&graphic, &error)
            && exec(db, QStringLiteral("INSERT INTO data_sources(project_id, file_path, display_name) "
                                       "VALUES(?, ?, ?)"),
                    {project->id, file, name}, &error)
            && exec(db, QStringLiteral("INSERT INTO data_source_records(data_source_id, sort_index, "
                                       "payload_json) SELECT id, n, '{}' FROM data_sources, "
                                       "(SELECT 0 AS n UNION SELECT 1) WHERE project_id=?"),
                    {project->id}, &error)
            && exec(db, QStringLiteral("INSERT INTO data_records(project_id, sort_index, payload_json) "
                                       "VALUES(?, 0, '{}')"),
                    {project->id}, &error);
        return ok ? project->id : -1;
    };
    const qint64 doomed = populate(QStringLiteral("Doomed"));
    QVERIFY2(doomed > 0, qPrintable(error));
    const qint64 keeper = populate(QStringLiteral("Keeper"));
    QVERIFY2(keeper > 0, qPrintable(error));

    const QString counts = QStringLiteral(
        "SELECT (SELECT COUNT(*) FROM projects WHERE id=:p), "
        "(SELECT COUNT(*) FROM template_fields WHERE project_id=:p), "
        "(SELECT COUNT(*) FROM template_graphics WHERE project_id=:p), "
        "(SELECT COUNT(*) FROM data_sources WHERE project_id=:p), "
        "(SELECT COUNT(*) FROM data_source_records r JOIN data_sources s "
        "   ON s.id = r.data_source_id WHERE s.project_id=:p), "
        "(SELECT COUNT(*) FROM data_records WHERE project_id=:p)");
    auto countsOf = [&](qint64 projectId) {
        QString sql = counts;
        return rows(db, sql.replace(QLatin1String(":p"), QString::number(projectId)));
    };
    QCOMPARE(countsOf(doomed), QStringList{QStringLiteral("1 | 1 | 1 | 1 | 2 | 1")});

    QVERIFY2(store.deleteProject(doomed, &error), qPrintable(error));
    QCOMPARE(countsOf(doomed), QStringList{QStringLiteral("0 | 0 | 0 | 0 | 0 | 0")});
    QCOMPARE(scalar(db, QStringLiteral("SELECT COUNT(*) FROM data_source_records")).toInt(), 2);
    QCOMPARE(countsOf(keeper), QStringList{QStringLiteral("1 | 1 | 1 | 1 | 2 | 1")});
}

QTEST_GUILESS_MAIN(TestSchema)
#include "tst_schema.moc"
