// The starter folder the build puts beside the executables: the database new
// data directories are seeded from, and the sample workbook it is bound to.

#include "testconnection.h"

#include "store/projectstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRectF>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString starterPath(const QString &name)
{
    return QDir(QStringLiteral(VDP_BIN_DIR)).filePath(QStringLiteral("starter/") + name);
}

QString starterDatabase()
{
    return starterPath(QStringLiteral("vellumor-vdp-starter.sqlite"));
}

QString sampleData()
{
    return starterPath(QStringLiteral("sample-data.xlsx"));
}

QString starterSourceDir()
{
    return QDir(QStringLiteral(VDP_SOURCE_DIR)).filePath(QStringLiteral("src/app/starter"));
}

// Debian's interpreter, the one that sees python3-openpyxl.
const char *const python = "/usr/bin/python3";

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Everything that makes up a schema: each object's definition and each
// table's columns as SQLite reports them.
QStringList schemaOf(const TestConnection &db)
{
    QStringList schema = db.rows(QStringLiteral("SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY type, name"));
    for (const QString &table : db.rows(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name"))) {
        for (const QString &column : db.rows(QStringLiteral("PRAGMA table_info(%1)").arg(table)))
            schema << table + QStringLiteral(": ") + column;
    }
    return schema;
}

} // namespace

class TestStarterFolder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(starterDatabase()).isFile(), qPrintable(starterDatabase()));
        QVERIFY2(QFileInfo(sampleData()).isFile(), qPrintable(sampleData()));
    }

    void holdsExactlyTheStarterProject()
    {
        TestConnection db(starterDatabase(), TestConnection::Mode::ReadOnly);
        QVERIFY(db.isOpen());
        QCOMPARE(db.rows(QStringLiteral("SELECT name, is_demo, demo_key, card_width_mm, card_height_mm, "
                                        "paper_width_mm, paper_height_mm, rows, columns_count, duplex, data_source_path "
                                        "FROM projects")),
                 QStringList{QStringLiteral("Starter Template|0|starter-template|90|54|210|297|5|2|1|") + sampleData()});
    }

    // One field of each kind, bound to the sample workbook's columns by the
    // keys of its one data source; the prize counts give every row one card.
    void showsEveryKindOfField()
    {
        TestConnection db(starterDatabase(), TestConnection::Mode::ReadOnly);
        QVERIFY(db.isOpen());
        const QStringList sources = db.rows(QStringLiteral("SELECT id FROM data_sources"));
        QCOMPARE(sources.size(), 1);
        const QString key = QStringLiteral("source:%1:").arg(sources.first());

        QCOMPARE(db.rows(QStringLiteral("SELECT p.id = f.project_id, f.side, f.field_type, f.name, COALESCE(f.data_column, ''), "
                                        "f.sequence_prefix, f.sequence_digits, f.sequence_step, f.sequence_exclude_four, "
                                        "f.barcode_format, f.barcode_show_text FROM template_fields f, projects p "
                                        "ORDER BY f.sort_order")),
                 (QStringList{
                     QStringLiteral("1|front|sequence|Sequence Number||No.|6|1|0|code128|0"),
                     QStringLiteral("1|front|text|Name|%1Name|No.|6|1|0|code128|0").arg(key),
                     QStringLiteral("1|front|text|City|%1City|No.|6|1|0|code128|0").arg(key),
                     QStringLiteral("1|front|barcode|Member Code|%1Member Code|No.|6|1|0|code128|1").arg(key),
                     QStringLiteral("1|front|qrcode|Member QR Code|%1Member Code|No.|6|1|0|code128|0").arg(key),
                     QStringLiteral("1|back|scratch|Prize||No.|6|1|0|code128|0"),
                     QStringLiteral("1|back|sequence|Sequence Number||No.|6|1|0|code128|0"),
                 }));

        // The bound columns are columns of every stored row.
        const QStringList payloads = db.rows(QStringLiteral("SELECT payload_json FROM data_source_records"));
        QCOMPARE(payloads.size(), 40);
        for (const QString &payload : payloads) {
            const QJsonObject row = QJsonDocument::fromJson(payload.toUtf8()).object();
            for (const char *column : {"Name", "City", "Member Code"})
                QVERIFY2(!row.value(QLatin1String(column)).toString().isEmpty(), column);
        }

        const QStringList prizes = db.rows(QStringLiteral(
            "SELECT scratch_mode, scratch_prizes_json FROM template_fields WHERE field_type='scratch'"));
        QCOMPARE(prizes, QStringList{QStringLiteral(
                             R"(count|[{"name":"Free Coffee","value":3},{"name":"Cinema Ticket","value":1},)"
                             R"({"name":"Thanks for Playing","value":36}])")});
    }

    // Every box lies inside the 90 x 54 mm card with at least 3 mm to spare,
    // boxes of one side do not overlap, text is readable and each text box
    // is taller than its letters.
    void fieldsFitTheCard()
    {
        TestConnection db(starterDatabase(), TestConnection::Mode::ReadOnly);
        QVERIFY(db.isOpen());
        QMap<QString, QList<QRectF>> boxesBySide;
        const QStringList fields = db.rows(QStringLiteral(
            "SELECT name, side, field_type, x_mm, y_mm, width_mm, height_mm, font_size_pt FROM template_fields"));
        QCOMPARE(fields.size(), 7);
        for (const QString &row : fields) {
            const QStringList v = row.split(u'|');
            const QRectF box(v.at(3).toDouble(), v.at(4).toDouble(), v.at(5).toDouble(), v.at(6).toDouble());
            QVERIFY2(QRectF(3, 3, 84, 48).contains(box), qPrintable(row));
            for (const QRectF &other : boxesBySide.value(v.at(1)))
                QVERIFY2(!other.intersects(box), qPrintable(row));
            boxesBySide[v.at(1)] << box;
            const QString type = v.at(2);
            if (type == u"text" || type == u"sequence" || type == u"scratch") {
                const double fontSizePt = v.at(7).toDouble();
                QVERIFY2(fontSizePt >= 8 && fontSizePt <= 24, qPrintable(row));
                QVERIFY2(box.height() > fontSizePt * 25.4 / 72 + 1, qPrintable(row));
            }
            if (type == u"qrcode")
                QVERIFY2(box.width() == box.height() && box.width() >= 15, qPrintable(row));
            if (type == u"barcode")
                QVERIFY2(box.width() >= 35 && box.height() >= 10, qPrintable(row));
        }
        QCOMPARE(boxesBySide.value(QStringLiteral("front")).size(), 5);
        QCOMPARE(boxesBySide.value(QStringLiteral("back")).size(), 2);
    }

    // The starter project shows the sample workbook's rows from the first
    // start: its one data source (start-up re-points every source of the
    // project to the installed workbook, so there must not be two) holds the
    // rows openpyxl reads from the workbook.
    void bindsTheSampleWorkbookAsItsOnlySource()
    {
        TestConnection db(starterDatabase(), TestConnection::Mode::ReadOnly);
        QVERIFY(db.isOpen());
        QCOMPARE(db.rows(QStringLiteral("SELECT s.project_id = p.id, file_path, display_name, sort_order, worksheet_name, "
                                        "csv_encoding, csv_delimiter FROM data_sources s, projects p")),
                 QStringList{QStringLiteral("1|%1|sample-data.xlsx|0||auto|auto").arg(sampleData())});

        const QString read = QStringLiteral(R"(
import json, sys, openpyxl
ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]
rows = list(ws.iter_rows(values_only=True))
header = rows[0]
wanted = ("Name", "City", "Member Code", "Tier")
print(json.dumps([len(rows) - 1] + [{k: row[header.index(k)] for k in wanted} for row in rows[1:]]))
)");
        QProcess process;
        process.start(QString::fromLatin1(python), {QStringLiteral("-c"), read, sampleData()});
        QVERIFY(process.waitForFinished(60000));
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        QJsonArray expected = QJsonDocument::fromJson(process.readAllStandardOutput()).array();
        QVERIFY(!expected.isEmpty());
        const int rowCount = expected.takeAt(0).toInt();
        QCOMPARE(rowCount, 40);

        const QStringList payloads = db.rows(QStringLiteral("SELECT payload_json FROM data_source_records ORDER BY sort_index"));
        QCOMPARE(db.rows(QStringLiteral("SELECT MIN(sort_index), MAX(sort_index), COUNT(DISTINCT sort_index) "
                                        "FROM data_source_records")),
                 QStringList{QStringLiteral("0|%1|%2").arg(rowCount - 1).arg(rowCount)});
        QCOMPARE(payloads.size(), rowCount);
        for (int i = 0; i < rowCount; ++i) {
            const QJsonObject stored = QJsonDocument::fromJson(payloads.at(i).toUtf8()).object();
            const QJsonObject wanted = expected.at(i).toObject();
            for (auto it = wanted.begin(); it != wanted.end(); ++it)
                QCOMPARE(stored.value(it.key()).toString(), it.value().toString());
        }
    }

    // The starter is built through the store, so it must look exactly like a
    // database the application initialises itself, upgrade columns included.
    void schemaEqualsFreshDatabase()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString freshPath = dir.filePath(QStringLiteral("fresh.sqlite"));
        {
            ProjectStore store;
            QString error;
            QVERIFY2(store.openDatabase(freshPath, &error), qPrintable(error));
            QVERIFY2(store.initializeSchema(&error), qPrintable(error));
        }

        TestConnection fresh(freshPath, TestConnection::Mode::ReadOnly);
        TestConnection starter(starterDatabase(), TestConnection::Mode::ReadOnly);
        QVERIFY(fresh.isOpen());
        QVERIFY(starter.isOpen());
        const QStringList expected = schemaOf(fresh);
        QVERIFY(expected.size() > 6);
        QCOMPARE(schemaOf(starter), expected);
    }

    // Shipped as one file: the header says rollback journal (bytes 18 and 19
    // are 2 in WAL mode), and no journal companion lies beside it.
    void databaseIsSelfContained()
    {
        const QByteArray header = readFile(starterDatabase()).left(100);
        QVERIFY(header.startsWith("SQLite format 3"));
        QCOMPARE(int(header.at(18)), 1);
        QCOMPARE(int(header.at(19)), 1);
        for (const char *suffix : {"-wal", "-shm", "-journal", ".tmp"})
            QVERIFY2(!QFileInfo::exists(starterDatabase() + QLatin1String(suffix)), suffix);
    }

    // The committed workbook is what its script writes, byte for byte, so
    // editing one without the other is caught.
    void sampleDataIsReproducedByItsScript()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString output = dir.filePath(QStringLiteral("sample-data.xlsx"));
        QProcess process;
        process.start(QString::fromLatin1(python),
                      {QDir(starterSourceDir()).filePath(QStringLiteral("make-sample-data.py")), output});
        QVERIFY(process.waitForFinished(60000));
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());

        const QByteArray committed = readFile(QDir(starterSourceDir()).filePath(QStringLiteral("sample-data.xlsx")));
        QVERIFY(!committed.isEmpty());
        QVERIFY2(readFile(output) == committed, "sample-data.xlsx differs from make-sample-data.py's output");
        QCOMPARE(readFile(sampleData()), committed);
    }

    // Read back with openpyxl: the member codes are 12-digit texts (some with
    // leading zeros, which a number would lose) and the dates are real dates.
    void sampleDataHoldsTextCodesAndDates()
    {
        const QString check = QStringLiteral(R"(
import datetime, sys, openpyxl
ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]
header = [c.value for c in ws[1]]
for name in ("Name", "City", "Member Code", "Date"):
    assert name in header, header
code, date = header.index("Member Code"), header.index("Date")
rows = list(ws.iter_rows(min_row=2))
assert 30 <= len(rows) <= 60, len(rows)
for row in rows:
    c, d = row[code], row[date]
    assert c.data_type == "s" and len(c.value) == 12 and c.value.isdigit(), c.value
    assert isinstance(d.value, datetime.datetime) and d.is_date, d.value
    assert "yy" in d.number_format, d.number_format
assert any(row[code].value.startswith("0") for row in rows)
print("ok")
)");
        QProcess process;
        process.start(QString::fromLatin1(python), {QStringLiteral("-c"), check, sampleData()});
        QVERIFY(process.waitForFinished(60000));
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        QCOMPARE(process.readAllStandardOutput().trimmed(), QByteArray("ok"));
    }
};

QTEST_GUILESS_MAIN(TestStarterFolder)
#include "tst_starterfolder.moc"
