// The card commands of vellumor-vdp-cli (records --prepared, manifest),
// driven as a process on temporary data directories. Manifests are read back
// with Python's csv module, independently of the writer.

#include "clirun.h"
#include "testconnection.h"

#include "model/fieldvalues.h"
#include "store/projectstore.h"
#include "store/recordassembly.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Debian's interpreter; its csv module is the independent reader of manifests.
const char *const python = "/usr/bin/python3";

QList<QJsonObject> jsonLines(const QString &text)
{
    QList<QJsonObject> objects;
    for (const QString &line : lines(text)) {
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8());
        objects << (document.isObject() ? document.object() : QJsonObject{{QStringLiteral("<not JSON>"), line}});
    }
    return objects;
}

// The rows of a CSV file as Python's csv module reads it in strict mode (a
// quoting fault is an error). Read as plain UTF-8, so a byte-order mark would
// show up in the first title.
QList<QStringList> readCsv(const QString &path)
{
    const QString script = QStringLiteral(R"(
import csv, json, sys
with open(sys.argv[1], newline="", encoding="utf-8") as f:
    print(json.dumps(list(csv.reader(f, strict=True))))
)");
    QProcess process;
    process.start(QString::fromLatin1(python), {QStringLiteral("-c"), script, path});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {{QStringLiteral("<csv read failed: %1>").arg(QString::fromUtf8(process.readAllStandardError()))}};
    QList<QStringList> rows;
    for (const QJsonValue &row : QJsonDocument::fromJson(process.readAllStandardOutput()).array()) {
        QStringList cells;
        for (const QJsonValue &cell : row.toArray())
            cells << cell.toString();
        rows << cells;
    }
    return rows;
}

QString sequenceText(int number)
{
    return QStringLiteral("No.%1").arg(number, 6, 10, QLatin1Char('0'));
}

} // namespace

class TestCliCards : public QObject
{
    Q_OBJECT

private:
    QProcessEnvironment environment() const { return cliEnvironment(m_folders.root()); }

    CliRun run(const QString &dataDir, const QStringList &arguments) const
    {
        return runCliOn(dataDir, arguments, environment());
    }

    // A data directory seeded from the starter folder, as on a first start.
    QString starterDataDirectory()
    {
        return m_folders.starterDataDirectory([this](const QString &dataDir, const QStringList &arguments) {
            return run(dataDir, arguments);
        });
    }

    // Field ids by "TYPE SIDE" (e.g. "sequence back") of a project whose fields differ in those.
    static QMap<QString, qint64> fieldIds(const QString &dataDir, qint64 projectId)
    {
        QMap<QString, qint64> ids;
        TestConnection db(databasePath(dataDir), TestConnection::Mode::ReadOnly);
        for (const QString &row : db.rows(QStringLiteral("SELECT field_type || ' ' || side, id FROM template_fields "
                                                         "WHERE project_id=%1").arg(projectId))) {
            const QStringList parts = row.split(u'|');
            ids.insert(parts.at(0), parts.at(1).toLongLong());
        }
        return ids;
    }

    CliFolders m_folders;

private slots:
    void initTestCase();
    void preparedStarterRecords();
    void preparedRecordsEqualThePreparation();
    void manifestOfStarter();
    void manifestQuotesWhatTheDataHolds();
    void prizeListShorterThanTheRun();
    void invalidPrizeConfigurationWritesNothing_data();
    void invalidPrizeConfigurationWritesNothing();
    void everyRejectedPrizeFieldIsNamed();
    void unwritableOutputKeepsWhatIsThere();
    void usageErrorsTouchNothing_data();
    void usageErrorsTouchNothing();
};

void TestCliCards::initTestCase()
{
    QVERIFY(m_folders.isValid());
    const QString missing = missingCliRequirement();
    QVERIFY2(missing.isEmpty(), qPrintable(missing));
    QVERIFY2(QFileInfo(QString::fromLatin1(python)).isExecutable(), python);
}

// The starter's 40 members become 40 cards carrying both sequence numbers
// and one prize each, in the counts the prize list gives.
void TestCliCards::preparedStarterRecords()
{
    const QString dataDir = starterDataDirectory();
    const QMap<QString, qint64> ids = fieldIds(dataDir, 1);
    const QString frontSequence = QStringLiteral("__vdp_sequence_%1").arg(ids.value(QStringLiteral("sequence front")));
    const QString backSequence = QStringLiteral("__vdp_sequence_%1").arg(ids.value(QStringLiteral("sequence back")));
    const QString prize = QStringLiteral("__scratch_prize_%1").arg(ids.value(QStringLiteral("scratch back")));
    QCOMPARE(ids.size(), 6); // sequence, text and barcode, QR code on the front; prize and sequence on the back
    QVERIFY(ids.value(QStringLiteral("sequence front")) != ids.value(QStringLiteral("sequence back")));

    const CliRun result = run(dataDir, {QStringLiteral("records"), QStringLiteral("--prepared")});
    QCOMPARE(result.err, QString());
    QCOMPARE(result.exitCode, 0);
    const QList<QJsonObject> cards = jsonLines(result.out);
    QCOMPARE(cards.size(), 40);

    QMap<QString, int> prizeCounts;
    QStringList prizeOrder;
    for (qsizetype i = 0; i < cards.size(); ++i) {
        const QJsonObject &card = cards.at(i);
        QCOMPARE(card.value(frontSequence).toString(), sequenceText(int(i) + 1));
        QCOMPARE(card.value(backSequence).toString(), sequenceText(int(i) + 1));
        QVERIFY2(card.value(prize).isString(), qPrintable(QString::number(i)));
        ++prizeCounts[card.value(prize).toString()];
        prizeOrder << card.value(prize).toString();
        // The data stays as plain `records` gives it.
        QCOMPARE(card.value(QStringLiteral("Ticket No")).toString(), QString::number(1001 + i));
        QCOMPARE(card.value(QStringLiteral("Member Code")).toString().size(), 12);
        // 12 data members (bare and keyed) plus three generated ones.
        QCOMPARE(card.size(), 15);
    }
    QCOMPARE(prizeCounts, (QMap<QString, int>{{QStringLiteral("Free Coffee"), 3},
                                              {QStringLiteral("Cinema Ticket"), 1},
                                              {QStringLiteral("Thanks for Playing"), 36}}));
    // Shuffled, not laid out in list order.
    QStringList listOrder{QStringLiteral("Free Coffee"), QStringLiteral("Free Coffee"), QStringLiteral("Free Coffee"),
                          QStringLiteral("Cinema Ticket")};
    QVERIFY(prizeOrder.mid(0, 4) != listOrder);

    // The same cards on every run, and --limit takes the first of them.
    const CliRun again = run(dataDir, {QStringLiteral("records"), QStringLiteral("--prepared")});
    QCOMPARE(again.exitCode, 0);
    QCOMPARE(again.out, result.out);
    const CliRun limited = run(dataDir, {QStringLiteral("records"), QStringLiteral("--prepared"),
                                         QStringLiteral("--limit"), QStringLiteral("3")});
    QCOMPARE(limited.exitCode, 0);
    QCOMPARE(lines(limited.out), lines(result.out).mid(0, 3));

    // Without --prepared nothing generated appears.
    const CliRun plain = run(dataDir, {QStringLiteral("records"), QStringLiteral("--limit"), QStringLiteral("1")});
    QCOMPARE(plain.exitCode, 0);
    QCOMPARE(jsonLines(plain.out).value(0).size(), 12);
}

// What the tool prints is the library's preparation of the stored records and
// fields, card for card, and the batch grows to the longest prize list.
void TestCliCards::preparedRecordsEqualThePreparation()
{
    const QString dataDir = starterDataDirectory();
    QList<QJsonObject> expected;
    {
        ProjectStore store;
        QString error;
        QVERIFY2(store.openDatabase(databasePath(dataDir), &error), qPrintable(error));
        // A second, longer prize field makes the run longer than the data.
        TemplateField bonus;
        bonus.projectId = 1;
        bonus.side = CardSide::Back;
        bonus.type = ElementKind::Scratch;
        bonus.name = QStringLiteral("Bonus");
        bonus.scratchPrizesJson = QStringLiteral(R"([{"name":"Sticker","value":5},{"name":"Nothing","value":45}])");
        QVERIFY2(store.insertElement(&bonus, &error), qPrintable(error));

        const CardTable records = loadProjectRecords(store, 1, nullptr, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QList<TemplateField> fields = store.loadRecords<TemplateField>(1, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const PreparedCards prepared = prepareCardRecords(records, fields);
        QCOMPARE(prepared.error, QString());
        expected << prepared.records.objects();
    }
    QCOMPARE(expected.size(), 50);

    const CliRun result = run(dataDir, {QStringLiteral("records"), QStringLiteral("--prepared")});
    QCOMPARE(result.err, QString());
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(jsonLines(result.out), expected);
    // Cards 41 to 50 have no data but a sequence number and a Bonus prize.
    QCOMPARE(jsonLines(result.out).value(45).size(), 3);
}

void TestCliCards::manifestOfStarter()
{
    const QString dataDir = starterDataDirectory();
    const QString folder = m_folders.newFolder(QStringLiteral("out"));
    const QString path = QDir(folder).filePath(QStringLiteral("starter manifest.csv"));
    QVERIFY(writeFile(path, "an older manifest\r\n"));

    const CliRun result = run(dataDir, {QStringLiteral("manifest"), QStringLiteral("--output"), path});
    QCOMPARE(result.err, QString());
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QStringLiteral("Wrote 40 cards to %1\n").arg(QDir::toNativeSeparators(path)));
    QCOMPARE(directoryEntries(folder), QStringList{QStringLiteral("starter manifest.csv")});

    // CRLF after every row, and no byte-order mark.
    const QByteArray bytes = readFile(path);
    QVERIFY(bytes.startsWith("Card,"));
    QCOMPARE(bytes.count("\r\n"), 41);
    QCOMPARE(bytes.count('\n'), 41);
    QVERIFY(bytes.endsWith("\r\n"));

    const QList<QStringList> rows = readCsv(path);
    QCOMPARE(rows.size(), 41);
    QCOMPARE(rows.first(), (QStringList{"Card", "Sheet", "Slot", "Sequence Number (front)", "Name (front)", "City (front)",
                                        "Member Code (front)", "Member QR Code (front)", "Prize (back)",
                                        "Sequence Number (back)"}));

    // Each card as records --prepared shows it, on its sheet of ten (5 × 2, standard order).
    const QMap<QString, qint64> ids = fieldIds(dataDir, 1);
    const QList<QJsonObject> cards = jsonLines(run(dataDir, {QStringLiteral("records"), QStringLiteral("--prepared")}).out);
    QCOMPARE(cards.size(), 40);
    const QString prizeKey = QStringLiteral("__scratch_prize_%1").arg(ids.value(QStringLiteral("scratch back")));
    for (int i = 0; i < 40; ++i) {
        const QJsonObject &card = cards.at(i);
        const QString code = card.value(QStringLiteral("Member Code")).toString();
        QCOMPARE(rows.at(i + 1), (QStringList{QString::number(i + 1), QString::number(i / 10 + 1),
                                              QString::number(i % 10 + 1), sequenceText(i + 1),
                                              card.value(QStringLiteral("Name")).toString(),
                                              card.value(QStringLiteral("City")).toString(), code, code,
                                              card.value(prizeKey).toString(), sequenceText(i + 1)}));
    }
}

// Cells with commas, quotes and line breaks (CR LF and LF) come through
// quoted; other text, spaces and non-ASCII letters included, as it is.
// Columns put the back after the front whatever the stored order, and two
// fields of one name and side are told apart by their ids.
void TestCliCards::manifestQuotesWhatTheDataHolds()
{
    const QString dataDir = starterDataDirectory();
    QCOMPARE(run(dataDir, {QStringLiteral("create"), QStringLiteral("Awkward")}).out,
             QStringLiteral("Created project 2: Awkward\n"));
    const QString files = m_folders.newFolder(QStringLiteral("files"));
    const QString csv = QDir(files).filePath(QStringLiteral("awkward.csv"));
    QVERIFY(writeFile(csv, "Name,Note,Code\n"
                           "\"Smith, Ann\",\"She said \"\"hi\"\"\",A1\n"
                           "\"Line\nBreak\",Plain,\"  padded  \"\n"
                           "Zo\xc3\xab \xf0\x9f\x98\x80,\"two\r\nlines\",=1+2\n"));
    const CliRun imported = run(dataDir, {QStringLiteral("import"), csv, QStringLiteral("--project"),
                                          QStringLiteral("Awkward"), QStringLiteral("--delimiter"), QStringLiteral("comma")});
    QCOMPARE(imported.exitCode, 0);

    qint64 ids[5] = {};
    {
        ProjectStore store;
        QString error;
        QVERIFY2(store.openDatabase(databasePath(dataDir), &error), qPrintable(error));
        const auto add = [&](const QString &side, const QString &type, const QString &name, const QString &column) {
            TemplateField field;
            field.projectId = 2;
            field.side = cardSideFromKey(side);
            field.type = fieldKindFromKey(type).value();
            field.name = name;
            field.dataColumn = column;
            return store.insertElement(&field, &error) ? field.id : 0;
        };
        ids[0] = add(QStringLiteral("back"), QStringLiteral("text"), QStringLiteral("Note"), QStringLiteral("source:2:Note"));
        ids[1] = add(QStringLiteral("front"), QStringLiteral("text"), QStringLiteral("Name"), QStringLiteral("source:2:Name"));
        ids[2] = add(QStringLiteral("front"), QStringLiteral("text"), QStringLiteral("Code"), QStringLiteral("Code"));
        ids[3] = add(QStringLiteral("front"), QStringLiteral("text"), QStringLiteral("Label, \"quoted\""), QString());
        ids[4] = add(QStringLiteral("front"), QStringLiteral("sequence"), QStringLiteral("Code"), QString());
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    const QString path = QDir(m_folders.newFolder(QStringLiteral("out"))).filePath(QStringLiteral("awkward.csv"));
    const CliRun result = run(dataDir, {QStringLiteral("manifest"), QStringLiteral("--project"), QStringLiteral("2"),
                                        QStringLiteral("--output"), path});
    QCOMPARE(result.err, QString());
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QStringLiteral("Wrote 3 cards to %1\n").arg(QDir::toNativeSeparators(path)));

    const QByteArray expected = QStringLiteral(
        "Card,Sheet,Slot,Name (front),\"Code (front, id %1)\",\"Label, \"\"quoted\"\" (front)\",\"Code (front, id %2)\",Note (back)\r\n"
        "1,1,1,\"Smith, Ann\",A1,\"Label, \"\"quoted\"\"\",No.000001,\"She said \"\"hi\"\"\"\r\n"
        "2,1,2,\"Line\nBreak\",  padded  ,\"Label, \"\"quoted\"\"\",No.000002,Plain\r\n"
        "3,1,3,Zo\u00eb \U0001F600,=1+2,\"Label, \"\"quoted\"\"\",No.000003,\"two\r\nlines\"\r\n")
                                   .arg(ids[2])
                                   .arg(ids[4])
                                   .toUtf8();
    QCOMPARE(readFile(path), expected);

    // And a strict reader gets the cells back unchanged.
    const QList<QStringList> rows = readCsv(path);
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows.at(0), (QStringList{"Card", "Sheet", "Slot", "Name (front)", QStringLiteral("Code (front, id %1)").arg(ids[2]),
                                      "Label, \"quoted\" (front)", QStringLiteral("Code (front, id %1)").arg(ids[4]),
                                      "Note (back)"}));
    QCOMPARE(rows.at(1).at(7), QStringLiteral("She said \"hi\""));
    QCOMPARE(rows.at(2).at(3), QStringLiteral("Line\nBreak"));
    QCOMPARE(rows.at(2).at(4), QStringLiteral("  padded  "));
    QCOMPARE(rows.at(3).at(7), QStringLiteral("two\r\nlines"));
}

// A valid list shorter than the data leaves the last cards without a prize:
// written, but pointed out.
void TestCliCards::prizeListShorterThanTheRun()
{
    const QString dataDir = starterDataDirectory();
    {
        TestConnection db(databasePath(dataDir));
        QVERIFY(db.exec(QStringLiteral(
            R"(UPDATE template_fields SET scratch_prizes_json='[{"name":"Free Coffee","value":30}]' WHERE field_type='scratch')")));
    }
    const qint64 prizeId = fieldIds(dataDir, 1).value(QStringLiteral("scratch back"));
    const QString path = QDir(m_folders.newFolder(QStringLiteral("out"))).filePath(QStringLiteral("short.csv"));
    const CliRun result = run(dataDir, {QStringLiteral("manifest"), QStringLiteral("--output"), path});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err, QStringLiteral("Note: scratch field \"Prize\" (back, id %1) has prizes for 30 of 40 cards; "
                                        "the others print \"Scratch Card Prize\".\n")
                             .arg(prizeId));
    const QList<QStringList> rows = readCsv(path);
    QCOMPARE(rows.size(), 41);
    int coffee = 0;
    for (int card = 1; card <= 40; ++card) {
        const QString prize = rows.at(card).at(rows.first().indexOf(QStringLiteral("Prize (back)")));
        coffee += prize == u"Free Coffee";
        if (card > 30)
            QCOMPARE(prize, QStringLiteral("Scratch Card Prize"));
    }
    QCOMPARE(coffee, 30);
}

void TestCliCards::invalidPrizeConfigurationWritesNothing_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("prizes");
    QTest::addColumn<QString>("message");

    QTest::newRow("an object") << "count" << "{}" << "Invalid prize configuration format";
    QTest::newRow("not JSON") << "count" << "Free Coffee x3" << "Invalid prize configuration format";
    QTest::newRow("empty list") << "count" << "[]" << "At least one prize is required";
    QTest::newRow("fraction of a card") << "count" << R"([{"name":"Free Coffee","value":2.5}])"
                                        << "At least one prize must have a positive card count.";
    QTest::newRow("no cards at all") << "count" << R"([{"name":"Free Coffee","value":0}])"
                                     << "Total prize count must be greater than 0";
    QTest::newRow("negative count") << "count" << R"([{"name":"Free Coffee","value":-1}])"
                                    << "Prize names cannot be empty, and values cannot be negative.";
    QTest::newRow("percentages short of 100") << "ratio" << R"([{"name":"Free Coffee","value":90}])"
                                              << "Prize percentages must add up to 100%";
}

// A manifest must not leave prizes out: with a rejected prize configuration
// nothing is written and the file already there stays as it was. The viewing
// command still shows the cards, without that field's prizes.
void TestCliCards::invalidPrizeConfigurationWritesNothing()
{
    QFETCH(QString, mode);
    QFETCH(QString, prizes);
    QFETCH(QString, message);

    const QString dataDir = starterDataDirectory();
    {
        TestConnection db(databasePath(dataDir));
        QSqlQuery query(db.db());
        QVERIFY(query.prepare(QStringLiteral(
            "UPDATE template_fields SET scratch_mode=?, scratch_prizes_json=? WHERE field_type='scratch'")));
        query.addBindValue(mode);
        query.addBindValue(prizes);
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
    }
    const qint64 prizeId = fieldIds(dataDir, 1).value(QStringLiteral("scratch back"));
    const QString reason = QStringLiteral("Scratch card configuration of field \"Prize\" (back, id %1): %2\n")
                               .arg(QString::number(prizeId), message);

    const QString folder = m_folders.newFolder(QStringLiteral("out"));
    const QString path = QDir(folder).filePath(QStringLiteral("manifest.csv"));
    const QByteArray earlier("Card,Prize (back)\r\n1,Free Coffee\r\n");
    QVERIFY(writeFile(path, earlier));

    const CliRun result = run(dataDir, {QStringLiteral("manifest"), QStringLiteral("--output"), path});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QString());
    QCOMPARE(result.err, reason + QStringLiteral("No manifest written: correct the prize settings first.\n"));
    QCOMPARE(readFile(path), earlier);
    QCOMPARE(directoryEntries(folder), QStringList{QStringLiteral("manifest.csv")});

    // Nor is a new file created where there was none.
    const QString fresh = QDir(folder).filePath(QStringLiteral("new.csv"));
    QCOMPARE(run(dataDir, {QStringLiteral("manifest"), QStringLiteral("--output"), fresh}).exitCode, 1);
    QVERIFY(!QFileInfo::exists(fresh));

    const CliRun records = run(dataDir, {QStringLiteral("records"), QStringLiteral("--prepared")});
    QCOMPARE(records.exitCode, 0);
    QCOMPARE(records.err, reason);
    const QList<QJsonObject> cards = jsonLines(records.out);
    QCOMPARE(cards.size(), 40);
    for (const QJsonObject &card : cards) {
        QVERIFY(!card.contains(QStringLiteral("__scratch_prize_%1").arg(prizeId)));
        QVERIFY(card.contains(QStringLiteral("__vdp_sequence_%1").arg(fieldIds(dataDir, 1).value("sequence front"))));
    }
}

// Preparation reports only one message; each rejected field is still named.
void TestCliCards::everyRejectedPrizeFieldIsNamed()
{
    const QString dataDir = starterDataDirectory();
    {
        TestConnection db(databasePath(dataDir));
        QVERIFY(db.exec(QStringLiteral("UPDATE template_fields SET scratch_prizes_json='{}' WHERE field_type='scratch'")));
        QVERIFY(db.exec(QStringLiteral(
            "INSERT INTO template_fields(project_id, side, field_type, name, x_mm, y_mm, width_mm, height_mm, "
            "font_family, font_size_pt, color_hex, alignment, scratch_mode, scratch_prizes_json, sort_order) "
            "VALUES(1, 'front', 'scratch', 'Bonus', 5, 5, 20, 8, 'Segoe UI', 12, '#111827', 132, 'ratio', "
            "'[{\"name\":\"Sticker\",\"value\":50}]', 99)")));
        QVERIFY(db.exec(QStringLiteral(
            "INSERT INTO template_fields(project_id, side, field_type, name, x_mm, y_mm, width_mm, height_mm, "
            "font_family, font_size_pt, color_hex, alignment, scratch_prizes_json, sort_order) "
            "VALUES(1, 'front', 'scratch', 'Fine', 5, 5, 20, 8, 'Segoe UI', 12, '#111827', 132, "
            "'[{\"name\":\"Pen\",\"value\":2}]', 100)")));
    }
    const TestConnection db(databasePath(dataDir), TestConnection::Mode::ReadOnly);
    const QStringList ids = db.rows(QStringLiteral("SELECT id FROM template_fields WHERE field_type='scratch' ORDER BY sort_order"));
    QCOMPARE(ids.size(), 3);
    const QString expected =
        QStringLiteral("Scratch card configuration of field \"Prize\" (back, id %1): Invalid prize configuration format\n"
                       "Scratch card configuration of field \"Bonus\" (front, id %2): Prize percentages must add up to 100%\n")
            .arg(ids.at(0), ids.at(1));

    const QString path = QDir(m_folders.newFolder(QStringLiteral("out"))).filePath(QStringLiteral("manifest.csv"));
    const CliRun result = run(dataDir, {QStringLiteral("manifest"), QStringLiteral("--output"), path});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.err, expected + QStringLiteral("No manifest written: correct the prize settings first.\n"));
    QVERIFY(!QFileInfo::exists(path));

    const CliRun records = run(dataDir, {QStringLiteral("records"), QStringLiteral("--prepared")});
    QCOMPARE(records.exitCode, 0);
    QCOMPARE(records.err, expected);
}

// A file that cannot be written is a failure with the path in the message;
// what lies at the path is not touched.
void TestCliCards::unwritableOutputKeepsWhatIsThere()
{
    const QString dataDir = starterDataDirectory();
    const QString folder = m_folders.newFolder(QStringLiteral("out"));
    const QString directory = QDir(folder).filePath(QStringLiteral("a folder.csv"));
    QVERIFY(QDir().mkpath(directory));
    QVERIFY(writeFile(QDir(directory).filePath(QStringLiteral("inside.txt")), "kept"));

    const QString missing = QDir(folder).filePath(QStringLiteral("missing/manifest.csv"));
    // The file and the system's reason; a folder is refused before anything is written.
    const QList<std::pair<QString, QString>> cases{
        {missing, QStringLiteral("Could not write %1: No such file or directory").arg(QDir::toNativeSeparators(missing))},
        {directory, QStringLiteral("No manifest written: %1 is not a regular file").arg(QDir::toNativeSeparators(directory))},
    };
    for (const auto &[path, message] : cases) {
        const CliRun result = run(dataDir, {QStringLiteral("manifest"), QStringLiteral("--output"), path});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.out, QString());
        QCOMPARE(result.err, message + u'\n');
    }
    QCOMPARE(directoryEntries(folder), QStringList{QStringLiteral("a folder.csv")});
    QCOMPARE(directoryEntries(directory), QStringList{QStringLiteral("inside.txt")});
    QCOMPARE(readFile(QDir(directory).filePath(QStringLiteral("inside.txt"))), QByteArray("kept"));
}

void TestCliCards::usageErrorsTouchNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    QTest::newRow("no --output") << QStringList{"manifest"} << "missing option --output FILE";
    QTest::newRow("only --project") << QStringList{"manifest", "--project", "1"} << "missing option --output FILE";
    QTest::newRow("--output without value") << QStringList{"manifest", "--output"}
                                            << "option '--output' needs a value FILE";
    QTest::newRow("--output empty") << QStringList{"manifest", "--output="}
                                    << "option '--output' needs a non-empty value FILE";
    QTest::newRow("file as argument") << QStringList{"manifest", "cards.csv"} << "unexpected argument 'cards.csv'";
    QTest::newRow("--prepared of manifest") << QStringList{"manifest", "--output", "a.csv", "--prepared"}
                                            << "unknown option '--prepared'";
}

// Exit code 2, message and usage on stderr, and no data directory.
void TestCliCards::usageErrorsTouchNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    const QString dataDir = m_folders.newDirectory(QStringLiteral("data"));
    const CliRun result = run(dataDir, arguments);
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(result.out, QString());
    QVERIFY2(result.err.startsWith(QStringLiteral("vellumor-vdp-cli: ") + message + u'\n'), qPrintable(result.err));
    QVERIFY2(result.err.contains(QStringLiteral(
                 "Usage: vellumor-vdp-cli [--data-dir DIR] manifest [--project PROJECT] --output FILE [--order ORDER]\n")),
             qPrintable(result.err));
    QVERIFY(!QFileInfo::exists(dataDir));
}

QTEST_GUILESS_MAIN(TestCliCards)
#include "tst_clicards.moc"
