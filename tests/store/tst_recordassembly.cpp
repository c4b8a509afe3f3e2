#include "model/columnkeys.h"
#include "store/projectstore.h"
#include "store/recordassembly.h"

#include "store/recordvalues.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using storetest::object;
using storetest::sortIndexesOf;
using storetest::valuesOf;

namespace {

// A store on a new database with one project, filled with plain SQL so that
// ids, sort orders and stored texts are exactly what a test needs.
class ScratchProject
{
public:
    bool open(QString *error)
    {
        if (!m_dir.isValid())
            return fail(error, QStringLiteral("no temporary folder"));
        if (!m_store.openDatabase(m_dir.filePath(QStringLiteral("vellumor-vdp.sqlite")), error)
            || !m_store.initializeSchema(error))
            return false;
        const std::optional<Project> project = m_store.createProject(QStringLiteral("Cards"), error);
        if (!project)
            return false;
        m_projectId = project->id;
        return true;
    }

    ProjectStore &store() { return m_store; }
    qint64 projectId() const { return m_projectId; }

    bool exec(const QString &sql, const QVariantList &values = {}, QString *error = nullptr)
    {
        QSqlQuery query(m_store.database());
        bool ok = query.prepare(sql);
        for (const QVariant &value : values)
            query.addBindValue(value);
        ok = ok && query.exec();
        if (!ok && error)
            *error = query.lastError().text();
        return ok;
    }

    bool addSource(qint64 id, int sortOrder)
    {
        return exec(QStringLiteral("INSERT INTO data_sources(id, project_id, file_path, display_name, sort_order) "
                                   "VALUES(?, ?, ?, ?, ?)"),
                    {id, m_projectId, QStringLiteral("/data/source-%1.csv").arg(id),
                     QStringLiteral("source-%1.csv").arg(id), sortOrder});
    }

    bool addRow(qint64 sourceId, qint64 sortIndex, const QString &payload)
    {
        return exec(QStringLiteral("INSERT INTO data_source_records(data_source_id, sort_index, payload_json) "
                                   "VALUES(?, ?, ?)"),
                    {sourceId, sortIndex, payload});
    }

private:
    static bool fail(QString *error, const QString &message)
    {
        if (error)
            *error = message;
        return false;
    }

    QTemporaryDir m_dir;
    ProjectStore m_store;
    qint64 m_projectId = 0;
};

// The combination rules written the plain way, straight from the stored
// rows as the store loads them: every member inserted one by one, keys
// first, then (first source only) the bare names, source after source.
QList<DataRecord> referenceRecords(ProjectStore &store, qint64 projectId, QStringList *columns)
{
    QList<DataRecord> records;
    columns->clear();
    const QList<DataSource> sources = store.loadDataSources(projectId);
    for (qsizetype s = 0; s < sources.size(); ++s) {
        QStringList names;
        const QList<DataRecord> rows = store.loadDataSourceRecords(sources.at(s).id, &names, -1);
        while (records.size() < rows.size())
            records.append(DataRecord{int(records.size()), {}});
        for (const QString &name : std::as_const(names))
            columns->append(QStringLiteral("source:%1:%2").arg(sources.at(s).id).arg(name));
        for (const DataRecord &row : rows) {
            if (row.sortIndex < 0 || row.sortIndex >= records.size())
                continue;
            QJsonObject &values = records[row.sortIndex].values;
            for (auto it = row.values.begin(); it != row.values.end(); ++it)
                values.insert(QStringLiteral("source:%1:%2").arg(sources.at(s).id).arg(it.key()), it.value());
            if (s == 0) {
                for (auto it = row.values.begin(); it != row.values.end(); ++it)
                    values.insert(it.key(), it.value());
            }
        }
    }
    return records;
}

// The table read back as records, through its objects.
QList<DataRecord> asRecords(const CardTable &table)
{
    QList<DataRecord> records;
    for (qsizetype card = 0; card < table.size(); ++card)
        records.append({table.sortIndex(card), table.object(card)});
    return records;
}

// The first place where the table's single-key reads disagree with the
// records it should hold, or nothing: a painted field reads one key, not the
// whole object, so the two ways must give the same.
QString firstDisagreement(const CardTable &table, const QList<DataRecord> &expected, const QStringList &otherKeys)
{
    for (qsizetype card = 0; card < expected.size(); ++card) {
        const QJsonObject &values = expected.at(card).values;
        for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
            const QString text = it.value().isString() ? it.value().toString() : it.value().toVariant().toString();
            if (!table.contains(card, it.key()) || table.text(card, it.key()) != text
                || table.value(card, it.key()) != it.value())
                return QStringLiteral("card %1 key %2").arg(card).arg(it.key());
        }
        for (const QString &key : otherKeys) {
            if (!values.contains(key) && (table.contains(card, key) || table.text(card, key)))
                return QStringLiteral("card %1 has %2").arg(card).arg(key);
        }
    }
    return {};
}

} // namespace

class TestRecordAssembly : public QObject
{
    Q_OBJECT

private slots:
    void combinesSourcesByRowNumber_data();
    void combinesSourcesByRowNumber();
    void rowsReachCardsAsTheyAreAdded_data();
    void rowsReachCardsAsTheyAreAdded();
    void legacyRowsWithoutSources();
    void legacyRowsIgnoredWithSources();
    void noDataAtAll();
    void storedRowOddities();
    void matchesPlainCombination_data();
    void matchesPlainCombination();
    void cardReaderKeepsItsSnapshot();
    void failureGivesNothing();

    void columnKeys_data();
    void columnKeys();
};

void TestRecordAssembly::combinesSourcesByRowNumber_data()
{
    QTest::addColumn<int>("sortOrderA");
    QTest::addColumn<int>("sortOrderB");

    QTest::newRow("A first") << 0 << 1;
    QTest::newRow("B first") << 1 << 0;
}

// Source A (id 3) has 5 rows of Name and City, source B (id 9) 8 rows of
// Code. The batch has 8 cards; the first source also gives its bare names.
void TestRecordAssembly::combinesSourcesByRowNumber()
{
    QFETCH(int, sortOrderA);
    QFETCH(int, sortOrderB);

    ScratchProject p;
    QString error;
    QVERIFY2(p.open(&error), qPrintable(error));
    QVERIFY(p.addSource(3, sortOrderA));
    QVERIFY(p.addSource(9, sortOrderB));
    QList<QStringList> rowsA;
    for (int i = 0; i < 5; ++i)
        rowsA << QStringList{QStringLiteral("Name %1").arg(i), QStringLiteral("City %1").arg(i)};
    QList<QStringList> rowsB;
    for (int i = 0; i < 8; ++i)
        rowsB << QStringList{QStringLiteral("C-%1").arg(i)};
    QVERIFY2(p.store().replaceDataSourceRecords(3, {QStringLiteral("Name"), QStringLiteral("City")}, rowsA, &error),
             qPrintable(error));
    QVERIFY2(p.store().replaceDataSourceRecords(9, {QStringLiteral("Code")}, rowsB, &error), qPrintable(error));

    const bool aFirst = sortOrderA < sortOrderB;
    QList<QJsonObject> expected;
    for (int i = 0; i < 8; ++i) {
        QJsonObject card = object({{"source:9:Code", QStringLiteral("C-%1").arg(i)}});
        if (!aFirst)
            card.insert(QStringLiteral("Code"), QStringLiteral("C-%1").arg(i));
        if (i < 5) {
            card.insert(QStringLiteral("source:3:Name"), QStringLiteral("Name %1").arg(i));
            card.insert(QStringLiteral("source:3:City"), QStringLiteral("City %1").arg(i));
            if (aFirst) {
                card.insert(QStringLiteral("Name"), QStringLiteral("Name %1").arg(i));
                card.insert(QStringLiteral("City"), QStringLiteral("City %1").arg(i));
            }
        }
        expected << card;
    }
    const QStringList keysA{QStringLiteral("source:3:City"), QStringLiteral("source:3:Name")};
    const QStringList keysB{QStringLiteral("source:9:Code")};

    QStringList columns{QStringLiteral("stale")};
    error.clear();
    const QList<DataRecord> records = asRecords(loadProjectRecords(p.store(), p.projectId(), &columns, &error));
    QCOMPARE(error, QString());
    QCOMPARE(sortIndexesOf(records), QList<int>({0, 1, 2, 3, 4, 5, 6, 7}));
    QCOMPARE(valuesOf(records), expected);
    QCOMPARE(columns, aFirst ? keysA + keysB : keysB + keysA);

    // A key of a source that is gone resolves to nothing.
    QVERIFY(!records.first().values.contains(QStringLiteral("source:4:Name")));
}

void TestRecordAssembly::rowsReachCardsAsTheyAreAdded_data()
{
    QTest::addColumn<int>("sortOrderShort");
    QTest::addColumn<bool>("lateRowShown");

    QTest::newRow("short source first") << 0 << false;
    QTest::newRow("short source second") << 1 << true;
}

// The short source (id 4) has two rows stored at 0 and 5. Added first, the
// batch has two cards when its rows are placed, so row 5 reaches none; added
// after the long source (id 6, eight rows), it reaches card 5.
void TestRecordAssembly::rowsReachCardsAsTheyAreAdded()
{
    QFETCH(int, sortOrderShort);
    QFETCH(bool, lateRowShown);

    ScratchProject p;
    QString error;
    QVERIFY2(p.open(&error), qPrintable(error));
    QVERIFY(p.addSource(4, sortOrderShort));
    QVERIFY(p.addSource(6, 1 - sortOrderShort));
    QVERIFY(p.addRow(4, 0, QStringLiteral(R"({"Short":"first"})")));
    QVERIFY(p.addRow(4, 5, QStringLiteral(R"({"Short":"late"})")));
    for (int i = 0; i < 8; ++i)
        QVERIFY(p.addRow(6, i, QStringLiteral(R"({"Long":"%1"})").arg(i)));

    QStringList columns;
    const QList<DataRecord> records = asRecords(loadProjectRecords(p.store(), p.projectId(), &columns, &error));
    QCOMPARE(records.size(), 8);
    QCOMPARE(records.at(0).values.value(QStringLiteral("source:4:Short")).toString(), QStringLiteral("first"));
    QCOMPARE(records.at(5).values.contains(QStringLiteral("source:4:Short")), lateRowShown);
    QCOMPARE(records.at(5).values.value(QStringLiteral("source:6:Long")).toString(), QStringLiteral("5"));
    QVERIFY(columns.contains(QStringLiteral("source:4:Short")));
}

// A project from before data sources: the old table, bare names only, its
// own sort indexes kept.
void TestRecordAssembly::legacyRowsWithoutSources()
{
    ScratchProject p;
    QString error;
    QVERIFY2(p.open(&error), qPrintable(error));
    const std::optional<Project> other = p.store().createProject(QStringLiteral("Other"), &error);
    QVERIFY(other);
    const QString insert =
        QStringLiteral("INSERT INTO data_records(project_id, sort_index, payload_json) VALUES(?, ?, ?)");
    QVERIFY(p.exec(insert, {p.projectId(), 4, QStringLiteral(R"({"Name":"Eve","city":"Rome"})")}));
    QVERIFY(p.exec(insert, {p.projectId(), 0, QStringLiteral(R"({"Name":"Ada","City":"Oslo"})")}));
    QVERIFY(p.exec(insert, {p.projectId(), 1, QStringLiteral("damaged {")}));
    QVERIFY(p.exec(insert, {other->id, 0, QStringLiteral(R"({"Elsewhere":"x"})")}));

    QStringList columns;
    const QList<DataRecord> records = asRecords(loadProjectRecords(p.store(), p.projectId(), &columns, &error));
    QCOMPARE(error, QString());
    QCOMPARE(sortIndexesOf(records), QList<int>({0, 1, 4}));
    QCOMPARE(valuesOf(records), QList<QJsonObject>({object({{"Name", "Ada"}, {"City", "Oslo"}}), QJsonObject(),
                                                    object({{"Name", "Eve"}, {"city", "Rome"}})}));
    QCOMPARE(columns, QStringList({QStringLiteral("City"), QStringLiteral("city"), QStringLiteral("Name")}));

    // The old table is read whole, not card by card: no reader, no failure.
    QVERIFY(!ProjectCardReader::open(p.store(), p.projectId(), {QStringLiteral("Name")}, &error));
    QCOMPARE(error, QString());
}

void TestRecordAssembly::legacyRowsIgnoredWithSources()
{
    ScratchProject p;
    QString error;
    QVERIFY2(p.open(&error), qPrintable(error));
    QVERIFY(p.exec(QStringLiteral("INSERT INTO data_records(project_id, sort_index, payload_json) VALUES(?, 0, ?)"),
                   {p.projectId(), QStringLiteral(R"({"Old":"x"})")}));
    QVERIFY(p.addSource(5, 0));
    QVERIFY(p.addRow(5, 0, QStringLiteral(R"({"New":"y"})")));

    QStringList columns;
    const QList<DataRecord> records = asRecords(loadProjectRecords(p.store(), p.projectId(), &columns, &error));
    QCOMPARE(valuesOf(records), QList<QJsonObject>{object({{"source:5:New", "y"}, {"New", "y"}})});
    QCOMPARE(columns, QStringList{QStringLiteral("source:5:New")});
}

void TestRecordAssembly::noDataAtAll()
{
    ScratchProject p;
    QString error;
    QVERIFY2(p.open(&error), qPrintable(error));
    QVERIFY(p.addSource(2, 0)); // a source whose file had no data rows

    QStringList columns{QStringLiteral("stale")};
    QVERIFY(loadProjectRecords(p.store(), p.projectId(), &columns, &error).isEmpty());
    QCOMPARE(error, QString());
    QCOMPARE(columns, QStringList());
    QVERIFY(loadProjectRecords(p.store(), p.projectId() + 1, &columns, &error).isEmpty());
    QCOMPARE(error, QString());
}

// Rows the store would not write itself but may find in a database: a
// damaged row, indexes outside the batch (the batch has as many cards as the
// longest source has rows: 5 here), members that are not text, spacing,
// escapes, a bare name that is also a later source's key.
void TestRecordAssembly::storedRowOddities()
{
    ScratchProject p;
    QString error;
    QVERIFY2(p.open(&error), qPrintable(error));
    QVERIFY(p.addSource(1, 0));
    QVERIFY(p.addSource(12, 1));
    QVERIFY(p.addRow(1, -1, QStringLiteral(R"({"Hidden":"before the first card"})")));
    QVERIFY(p.addRow(1, 0, QStringLiteral(R"({ "Name" : "Ada", "Quote\"d" : "a\u0041\n", "source:12:x" : "bare" })")));
    QVERIFY(p.addRow(1, 1, QStringLiteral(R"({"Name":"Grace","Count":7,"Nested":{"a":"b"}})")));
    QVERIFY(p.addRow(1, 2, QStringLiteral(R"({"Name":"broken)")));
    QVERIFY(p.addRow(1, 9, QStringLiteral(R"({"Late":"beyond the batch"})")));
    QVERIFY(p.addRow(12, 0, QStringLiteral(R"({"x":"twelve"})")));
    QVERIFY(p.addRow(12, 1, QStringLiteral(R"({"x":"bad escape \u12G4"})")));
    QVERIFY(p.addRow(12, 2, QStringLiteral(R"({"x":"third"})")));

    QStringList columns;
    const QList<DataRecord> records = asRecords(loadProjectRecords(p.store(), p.projectId(), &columns, &error));
    QCOMPARE(error, QString());

    QJsonObject second = object({{"source:1:Name", "Grace"}, {"Name", "Grace"}});
    second.insert(QStringLiteral("source:1:Count"), 7);
    second.insert(QStringLiteral("Count"), 7);
    second.insert(QStringLiteral("source:1:Nested"), QJsonObject{{QStringLiteral("a"), QStringLiteral("b")}});
    second.insert(QStringLiteral("Nested"), QJsonObject{{QStringLiteral("a"), QStringLiteral("b")}});
    const QList<QJsonObject> expected{
        // The later source's key replaces the first source's bare name.
        object({{"source:1:Name", "Ada"}, {"Name", "Ada"}, {"source:1:Quote\"d", "aA\n"}, {"Quote\"d", "aA\n"},
                {"source:1:source:12:x", "bare"}, {"source:12:x", "twelve"}}),
        second,
        object({{"source:12:x", "third"}}),
        QJsonObject(),
        QJsonObject(),
    };
    QCOMPARE(valuesOf(records), expected);
    QCOMPARE(sortIndexesOf(records), QList<int>({0, 1, 2, 3, 4}));
    // Names of rows outside the batch are columns all the same.
    QCOMPARE(columns, QStringList({QStringLiteral("source:1:Count"), QStringLiteral("source:1:Hidden"),
                                   QStringLiteral("source:1:Late"), QStringLiteral("source:1:Name"), QStringLiteral("source:1:Nested"),
                                   QStringLiteral("source:1:Quote\"d"), QStringLiteral("source:1:source:12:x"),
                                   QStringLiteral("source:12:x")}));
}

void TestRecordAssembly::matchesPlainCombination_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed = 1; seed <= 100; ++seed)
        QTest::addRow("seed %u", seed) << seed;
}

// Random projects of one to four sources whose stored rows mix what the
// store writes with what older or damaged databases hold, with gaps, rows
// before the first card and rows beyond the batch as it stands when their
// source is added; the batch and the column list must be exactly those of
// the plain combination.
void TestRecordAssembly::matchesPlainCombination()
{
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);

    ScratchProject p;
    QString error;
    QVERIFY2(p.open(&error), qPrintable(error));

    const int sourceCount = 1 + random.bounded(4);
    QList<qint64> ids;
    for (int s = 0; s < sourceCount; ++s) {
        const qint64 id = 1 + random.bounded(30);
        if (ids.contains(id))
            continue;
        ids << id;
        QVERIFY(p.addSource(id, random.bounded(3))); // equal sort orders happen: then by id
    }

    QStringList names{QStringLiteral("Name"), QStringLiteral("name"), QStringLiteral("City"),
                      QStringLiteral("Member Code"), QStringLiteral(""), QStringLiteral("Zoë"),
                      QStringLiteral("say \"hi\""), QStringLiteral("back\\slash"), QStringLiteral("line\nbreak"),
                      QString::fromUtf8("🎟️"), QStringLiteral("a:b")};
    for (const qint64 id : std::as_const(ids))
        names << QStringLiteral("source:%1:Name").arg(id);
    const QStringList fixed{
        QStringLiteral("not json"),
        QStringLiteral(R"({"Name":"cut off)"),
        QStringLiteral(R"(["a","b"])"),
        QStringLiteral("{}"),
        QStringLiteral(" {\n \"Name\" :\t\"spaced\" ,\"City\":\"x\"\r\n} "),
        QStringLiteral(R"({"Name":"first","Name":"second"})"),
        QStringLiteral(R"({"\u004eame":"escaped name","Name":"plain name"})"),
        QStringLiteral(R"({"Name":1.5,"City":null,"Member Code":true})"),
        QStringLiteral(R"({"Name":{"deep":["x"]}})"),
        QStringLiteral(R"({"Name":"lenient \x escape"})"),
        QStringLiteral(R"({"Name":"bad \u12G4 escape"})"),
        QStringLiteral("{\"Name\":\"raw\ttab\"}"),
        QString::fromUtf8("{\"\xEF\xBB\xBFName\":\"key starts with a byte order mark\"}"),
        QString::fromUtf8("{\"Name\":\"\xEF\xBB\xBFvalue starts with one\"}"),
        QStringLiteral(R"({"Name":"x"} trailing)"),
        // Escapes the table decodes itself, and those it leaves to QJsonDocument.
        QStringLiteral(R"({"Name":"q \" b \\ s \/ \b\f\n\r\t \u00e9 \u20AC \ud83c\udf9f end","City":"\u0000nul"})"),
        QStringLiteral(R"({"Name":"lone \ud800 high","City":"lone \udc00 low","Member Code":"\ud83c"})"),
        QStringLiteral(R"({"Name":"\ufeffescaped byte order mark","City":"inner \ufeff one"})"),
        QStringLiteral(R"({"Name":"short \u12"})"),
    };

    for (const qint64 id : std::as_const(ids)) {
        const int rowCount = random.bounded(12);
        QList<qint64> indexes;
        for (int i = 0; i < rowCount; ++i)
            indexes << i;
        if (rowCount > 0 && random.bounded(3) == 0)
            indexes.last() += random.bounded(2) == 0 ? 5 : -100; // a gap, or a row before the first card
        for (const qint64 index : std::as_const(indexes)) {
            QString payload;
            if (random.bounded(5) == 0) {
                payload = fixed.at(random.bounded(fixed.size()));
            } else {
                QJsonObject row;
                const int members = random.bounded(5);
                for (int m = 0; m < members; ++m)
                    row.insert(names.at(random.bounded(names.size())), QStringLiteral("v%1-%2-%3").arg(id).arg(index).arg(m));
                payload = QString::fromUtf8(QJsonDocument(row).toJson(random.bounded(4) == 0 ? QJsonDocument::Indented
                                                                                             : QJsonDocument::Compact));
            }
            if (random.bounded(40) == 0) {
                // Not UTF-8 at all: as some other program may have stored it.
                QVERIFY(p.exec(QStringLiteral("INSERT INTO data_source_records(data_source_id, sort_index, "
                                              "payload_json) VALUES(?, ?, CAST(? AS TEXT))"),
                               {id, index, QByteArray("{\"Name\":\"\xff\xfe\xc3 not UTF-8\"}")}));
                continue;
            }
            QVERIFY(p.addRow(id, index, payload));
        }
    }

    QStringList expectedColumns;
    const QList<DataRecord> expected = referenceRecords(p.store(), p.projectId(), &expectedColumns);
    QStringList columns;
    const CardTable table = loadProjectRecords(p.store(), p.projectId(), &columns, &error);
    const QList<DataRecord> records = asRecords(table);
    QCOMPARE(error, QString());
    QCOMPARE(sortIndexesOf(records), sortIndexesOf(expected));
    QCOMPARE(valuesOf(records), valuesOf(expected));
    QCOMPARE(columns, expectedColumns);
    QCOMPARE(firstDisagreement(table, expected, {QStringLiteral("Not A Column")}), QString());

    // Asking for some keys only gives each card exactly those of its keys,
    // with the same values, whatever odd rows stand around them: bare names,
    // source keys, escaped and damaged members, keys no card has.
    QSet<QString> allKeys{QStringLiteral("Not A Column")};
    for (const DataRecord &record : expected) {
        for (auto it = record.values.constBegin(); it != record.values.constEnd(); ++it)
            allKeys.insert(it.key());
    }
    QStringList wanted;
    for (const QString &key : std::as_const(allKeys)) {
        if (random.bounded(2) == 0)
            wanted << key;
    }
    QList<DataRecord> expectedOnly = expected;
    for (DataRecord &record : expectedOnly) {
        for (auto it = record.values.begin(); it != record.values.end();)
            it = wanted.contains(it.key()) ? it + 1 : record.values.erase(it);
    }
    QStringList filteredColumns;
    const CardTable filteredTable =
        loadProjectRecords(p.store(), p.projectId(), &filteredColumns, &error, &wanted);
    const QList<DataRecord> filtered = asRecords(filteredTable);
    QCOMPARE(error, QString());
    QCOMPARE(sortIndexesOf(filtered), sortIndexesOf(expected));
    QCOMPARE(valuesOf(filtered), valuesOf(expectedOnly));
    QCOMPARE(firstDisagreement(filteredTable, expectedOnly, QStringList(allKeys.cbegin(), allKeys.cend())), QString());
    QCOMPARE(filteredColumns, expectedColumns);

    // Chosen cards read on their own, as an export reads a sheet's, are those
    // cards of the whole table under their numbers; the others have no data.
    const std::shared_ptr<ProjectCardReader> reader =
        ProjectCardReader::open(p.store(), p.projectId(), wanted, &error);
    QCOMPARE(error, QString());
    QVERIFY(reader);
    QCOMPARE(reader->cardCount(), expected.size());
    QList<int> chosen;
    for (int card = -1; card <= int(expected.size()) + 1; ++card) {
        if (random.bounded(2) == 0)
            chosen << card;
    }
    const CardTable read = reader->read(chosen, &error);
    QCOMPARE(error, QString());
    const CardTable sheet = CardTable::blank(expected.size()).withCardsOf(read);
    QCOMPARE(sheet.size(), expected.size());
    QList<DataRecord> expectedChosen = expectedOnly;
    for (DataRecord &record : expectedChosen) {
        if (!chosen.contains(record.sortIndex))
            record.values = QJsonObject();
    }
    QCOMPARE(valuesOf(asRecords(sheet)), valuesOf(expectedChosen));
    QCOMPARE(firstDisagreement(sheet, expectedChosen, QStringList(allKeys.cbegin(), allKeys.cend())), QString());
}

// The reader sees the rows as they stood when it was opened: an export
// started before the window re-reads a file prints the data it started with.
void TestRecordAssembly::cardReaderKeepsItsSnapshot()
{
    ScratchProject p;
    QString error;
    QVERIFY2(p.open(&error), qPrintable(error));
    QVERIFY(p.addSource(1, 0));
    QVERIFY(p.addRow(1, 0, QStringLiteral(R"({"Name":"Ada"})")));
    QVERIFY(p.addRow(1, 1, QStringLiteral(R"({"Name":"Grace"})")));
    const QStringList keys{QStringLiteral("Name")};
    const std::shared_ptr<ProjectCardReader> reader = ProjectCardReader::open(p.store(), p.projectId(), keys, &error);
    QVERIFY2(reader, qPrintable(error));

    QVERIFY(p.exec(QStringLiteral("UPDATE data_source_records SET payload_json='{\"Name\":\"Eve\"}'")));
    QVERIFY(p.addRow(1, 2, QStringLiteral(R"({"Name":"Late"})")));
    QVERIFY(p.addSource(2, 1));
    QVERIFY(p.addRow(2, 0, QStringLiteral(R"({"Name":"Other"})")));
    QCOMPARE(loadProjectRecords(p.store(), p.projectId(), nullptr, &error, &keys).text(0, keys.first()),
             QStringLiteral("Eve"));

    QCOMPARE(reader->cardCount(), 2);
    const CardTable read = reader->read({0, 1, 2}, &error);
    QCOMPARE(error, QString());
    const CardTable cards = CardTable::blank(reader->cardCount()).withCardsOf(read);
    QCOMPARE(cards.text(0, keys.first()), QStringLiteral("Ada"));
    QCOMPARE(cards.text(1, keys.first()), QStringLiteral("Grace"));
    QCOMPARE(cards.object(2), QJsonObject());
    QCOMPARE(cards.object(0), object({{"Name", "Ada"}}));
}

// No partial batch: a failure empties the records and the column list.
void TestRecordAssembly::failureGivesNothing()
{
    ScratchProject p;
    QString error;
    QVERIFY2(p.open(&error), qPrintable(error));
    QVERIFY(p.addSource(1, 0));
    QVERIFY(p.addRow(1, 0, QStringLiteral(R"({"Name":"Ada"})")));

    QVERIFY(p.exec(QStringLiteral("ALTER TABLE data_source_records RENAME TO moved_records")));
    QStringList columns{QStringLiteral("stale")};
    QVERIFY(loadProjectRecords(p.store(), p.projectId(), &columns, &error).isEmpty());
    QVERIFY2(error.contains(QStringLiteral("data_source_records")), qPrintable(error));
    QCOMPARE(columns, QStringList());
    error.clear();
    QVERIFY(!ProjectCardReader::open(p.store(), p.projectId(), {QStringLiteral("Name")}, &error));
    QVERIFY2(error.contains(QStringLiteral("data_source_records")), qPrintable(error));

    QVERIFY(p.exec(QStringLiteral("ALTER TABLE data_sources RENAME TO moved_sources")));
    error.clear();
    QVERIFY(loadProjectRecords(p.store(), p.projectId(), &columns, &error).isEmpty());
    QVERIFY2(error.contains(QStringLiteral("data_sources")), qPrintable(error));

    // Without data sources the old table is read; its failure is reported too.
    ScratchProject legacy;
    QVERIFY2(legacy.open(&error), qPrintable(error));
    QVERIFY(legacy.exec(QStringLiteral("DROP TABLE data_records")));
    error.clear();
    QVERIFY(loadProjectRecords(legacy.store(), legacy.projectId(), &columns, &error).isEmpty());
    QVERIFY2(error.contains(QStringLiteral("data_records")), qPrintable(error));
}

void TestRecordAssembly::columnKeys_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<qint64>("sourceId");
    QTest::addColumn<QString>("columnName");

    QTest::newRow("plain") << "source:7:City" << qint64(7) << "City";
    QTest::newRow("id 1, column 2:x") << "source:1:2:x" << qint64(1) << "2:x";
    QTest::newRow("id 12, column x") << "source:12:x" << qint64(12) << "x";
    QTest::newRow("name with blanks and case") << "source:3: Member Code " << qint64(3) << " Member Code ";
    QTest::newRow("empty column name") << "source:5:" << qint64(5) << "";
    QTest::newRow("line break in the name") << "source:4:Line\nBreak\n" << qint64(4) << "Line\nBreak\n";
    QTest::newRow("leading zeros") << "source:007:x" << qint64(7) << "x";
    QTest::newRow("id out of range") << "source:99999999999999999999:x" << qint64(0) << "x";
    QTest::newRow("bare name") << "City" << qint64(0) << "City";
    QTest::newRow("bare name with colons") << "a:1:b" << qint64(0) << "a:1:b";
    QTest::newRow("no id") << "source::x" << qint64(0) << "source::x";
    QTest::newRow("id not a number") << "source:x1:y" << qint64(0) << "source:x1:y";
    QTest::newRow("id without colon") << "source:12" << qint64(0) << "source:12";
    QTest::newRow("other case") << "Source:1:x" << qint64(0) << "Source:1:x";
    QTest::newRow("sign") << "source:-1:x" << qint64(0) << "source:-1:x";
    QTest::newRow("non-ASCII digits") << QString::fromUtf8("source:١:x") << qint64(0) << QString::fromUtf8("source:١:x");
    QTest::newRow("empty") << "" << qint64(0) << "";
}

void TestRecordAssembly::columnKeys()
{
    QFETCH(QString, key);
    QFETCH(qint64, sourceId);
    QFETCH(QString, columnName);

    QCOMPARE(columnKeySourceId(key), sourceId);
    QCOMPARE(columnKeyColumnName(key), columnName);
    if (sourceId > 0) {
        // A key built from its parts reads back as those parts.
        const QString built = columnKey(sourceId, columnName);
        QCOMPARE(built, QStringLiteral("source:%1:").arg(sourceId) + columnName);
        QCOMPARE(columnKeySourceId(built), sourceId);
        QCOMPARE(columnKeyColumnName(built), columnName);
    }
}

QTEST_GUILESS_MAIN(TestRecordAssembly)
#include "tst_recordassembly.moc"
