#include "model/fieldvalues.h"
#include "model/prizes.h"
#include "model/sequence_p.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QTest>

#include <limits>

namespace {

TemplateField sequenceField(const QString &prefix = QStringLiteral("No."), int digits = 6, int step = 1,
                            bool excludeFour = false)
{
    TemplateField field;
    field.id = 11;
    field.type = ElementKind::Sequence;
    field.sequencePrefix = prefix;
    field.sequenceDigits = digits;
    field.sequenceStep = step;
    field.sequenceExcludeFour = excludeFour;
    return field;
}

TemplateField scratchField(qint64 id, const QString &prizesJson, ScratchMode mode = ScratchMode::Count,
                           int total = 10000)
{
    TemplateField field;
    field.id = id;
    field.type = ElementKind::Scratch;
    field.scratchMode = mode;
    field.scratchTotal = total;
    field.scratchPrizesJson = prizesJson;
    return field;
}

TemplateField boundField(ElementKind type, const QString &column)
{
    TemplateField field;
    field.id = 21;
    field.type = type;
    field.dataColumn = column;
    return field;
}

// Data rows as the record assembly gives them: one member per column under
// its key and, for the first source, under the bare name.
QList<DataRecord> dataRows(int count)
{
    QList<DataRecord> rows;
    for (int i = 0; i < count; ++i) {
        const QString city = QStringLiteral("City %1").arg(i);
        rows.append({i, QJsonObject{{QStringLiteral("source:3:City"), city}, {QStringLiteral("City"), city}}});
    }
    return rows;
}

} // namespace

class TestFieldValues : public QObject
{
    Q_OBJECT

private slots:
    void reservedKeys();

    void sequenceValue_data();
    void sequenceValue();
    void sequenceValuesWalkTheSameNumbers_data();
    void sequenceValuesWalkTheSameNumbers();
    void directCountMatchesTrialOverAMillionCards();
    void trialCursorWalksBack();

    void displayText_data();
    void displayText();

    void batchSize_data();
    void batchSize();
    void preparedRecordsCarryDataAndGeneratedValues();
    void recordIndexDecidesTheValue();
    void generatedKeysReplaceStoredOnes();
    void callersRecordsAreLeftAlone();
    void failingScratchFieldsAreLeftOut();
    void sameConfigurationSameCards();
    void oversizedRunIsRefusedBeforeBuilding();
    void millionCardScratchRun();
};

void TestFieldValues::reservedKeys()
{
    QCOMPARE(sequenceKey(12), QStringLiteral("__vdp_sequence_12"));
    QCOMPARE(scratchPrizeKey(7), QStringLiteral("__scratch_prize_7"));
    QCOMPARE(scratchPrizeKey(1234567890123), QStringLiteral("__scratch_prize_1234567890123"));
}

void TestFieldValues::sequenceValue_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<int>("digits");
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("excludeFour");
    QTest::addColumn<qint64>("card");
    QTest::addColumn<QString>("expected");

    const QString no = QStringLiteral("No.");
    QTest::newRow("first card") << no << 6 << 1 << false << qint64(0) << "No.000001";
    QTest::newRow("card 99") << no << 6 << 1 << false << qint64(99) << "No.000100";
    QTest::newRow("negative card is card 0") << no << 6 << 1 << false << qint64(-5) << "No.000001";
    QTest::newRow("4 kept without exclusion") << no << 6 << 1 << false << qint64(3) << "No.000004";
    QTest::newRow("excl card 3 skips 4") << no << 6 << 1 << true << qint64(3) << "No.000005";
    QTest::newRow("excl card 7") << no << 6 << 1 << true << qint64(7) << "No.000009";
    QTest::newRow("excl card 8") << no << 6 << 1 << true << qint64(8) << "No.000010";
    QTest::newRow("excl card 12 skips 4 and 14") << no << 6 << 1 << true << qint64(12) << "No.000015";
    QTest::newRow("excl card 35 skips the forties") << no << 6 << 1 << true << qint64(35) << "No.000050";
    QTest::newRow("excl last two-digit") << no << 6 << 1 << true << qint64(79) << "No.000099";
    QTest::newRow("excl first three-digit") << no << 6 << 1 << true << qint64(80) << "No.000100";
    QTest::newRow("excl 104 skipped") << no << 6 << 1 << true << qint64(84) << "No.000105";
    QTest::newRow("excl first four-digit") << no << 6 << 1 << true << qint64(728) << "No.001000";
    QTest::newRow("excl million") << no << 6 << 1 << true << qint64(999999) << "No.1893771";
    // The expectations of the huge indices were counted independently (digit
    // counting and bisection, not base-9 numerals); numbers longer than 64
    // bits are still written in full.
    QTest::newRow("excl 10^12") << no << 6 << 1 << true << qint64(1000000000000) << "No.3588161382532";
    QTest::newRow("excl largest index") << QString() << 6 << 1 << true << std::numeric_limits<qint64>::max()
                                        << "78505293182108911929";
    QTest::newRow("largest index and step") << QString() << 6 << std::numeric_limits<qint32>::max() << false
                                            << std::numeric_limits<qint64>::max()
                                            << "19807040619342712359383728130";
    QTest::newRow("step 10 card 0") << no << 6 << 10 << false << qint64(0) << "No.000001";
    QTest::newRow("step 10 card 4") << no << 6 << 10 << false << qint64(4) << "No.000041";
    QTest::newRow("step 10 excl card 3") << no << 6 << 10 << true << qint64(3) << "No.000031";
    QTest::newRow("step 10 excl card 4 skips 41") << no << 6 << 10 << true << qint64(4) << "No.000051";
    QTest::newRow("step 0 counts by 1") << no << 6 << 0 << false << qint64(5) << "No.000006";
    QTest::newRow("step -3 counts by 1") << no << 6 << -3 << false << qint64(5) << "No.000006";
    QTest::newRow("step -3 excl counts by 1") << no << 6 << -3 << true << qint64(3) << "No.000005";
    QTest::newRow("digits 0 pads to 1") << no << 0 << 1 << false << qint64(0) << "No.1";
    QTest::newRow("digits -2 pads to 1") << no << -2 << 1 << false << qint64(11) << "No.12";
    QTest::newRow("digits 25 pads to 18") << no << 25 << 1 << false << qint64(0) << "No.000000000000000001";
    QTest::newRow("digits 18") << no << 18 << 1 << false << qint64(0) << "No.000000000000000001";
    QTest::newRow("longer than width is not cut") << no << 2 << 1 << false << qint64(12344) << "No.12345";
    QTest::newRow("empty prefix") << QString() << 4 << 1 << false << qint64(6) << "0007";
    QTest::newRow("prefix kept as typed") << QStringLiteral(" Nº ") << 3 << 5 << false << qint64(2) << " Nº 011";
}

void TestFieldValues::sequenceValue()
{
    QFETCH(QString, prefix);
    QFETCH(int, digits);
    QFETCH(int, step);
    QFETCH(bool, excludeFour);
    QFETCH(qint64, card);
    QFETCH(QString, expected);
    QCOMPARE(::sequenceValue(sequenceField(prefix, digits, step, excludeFour), card), expected);
}

// The batch walk and the one-card computation must agree card by card,
// whichever path each takes.
void TestFieldValues::sequenceValuesWalkTheSameNumbers_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("excludeFour");
    QTest::addColumn<QStringList>("firstValues");

    QTest::newRow("step 1") << 1 << false << QStringList{"01", "02", "03", "04", "05", "06", "07"};
    QTest::newRow("step 1 excl") << 1 << true << QStringList{"01", "02", "03", "05", "06", "07", "08"};
    QTest::newRow("step 10 excl") << 10 << true << QStringList{"01", "11", "21", "31", "51", "61", "71"};
    QTest::newRow("step 3 excl") << 3 << true << QStringList{"01", "07", "10", "13", "16", "19", "22"};
    QTest::newRow("step 13") << 13 << false << QStringList{"01", "14", "27", "40", "53", "66", "79"};
}

void TestFieldValues::sequenceValuesWalkTheSameNumbers()
{
    QFETCH(int, step);
    QFETCH(bool, excludeFour);
    QFETCH(QStringList, firstValues);

    const TemplateField field = sequenceField(QString(), 2, step, excludeFour);
    const QStringList values = sequenceValues(field, 2000);
    QCOMPARE(values.size(), 2000);
    QCOMPARE(values.first(firstValues.size()), firstValues);
    for (int i = 0; i < values.size(); ++i) {
        if (values[i] != ::sequenceValue(field, i))
            QFAIL(qPrintable(QStringLiteral("card %1: batch %2, one card %3").arg(i).arg(values[i], ::sequenceValue(field, i))));
    }
    QVERIFY(sequenceValues(field, 0).isEmpty());
    QVERIFY(sequenceValues(field, -4).isEmpty());
}

void TestFieldValues::directCountMatchesTrialOverAMillionCards()
{
    const TemplateField field = sequenceField(QStringLiteral("No."), 6, 1, true);
    const int count = 1000000;
    const QStringList direct = sequenceValues(field, count);
    const QStringList trial = sequenceValuesByTrial(field, count);
    QCOMPARE(direct.size(), count);
    QCOMPARE(trial.size(), count);
    QCOMPARE(trial.last(), QStringLiteral("No.1893771"));
    for (int i = 0; i < count; ++i) {
        if (direct[i] != trial[i])
            QFAIL(qPrintable(QStringLiteral("card %1: counted %2, by trial %3").arg(i).arg(direct[i], trial[i])));
    }
}

void TestFieldValues::trialCursorWalksBack()
{
    SequenceCursor cursor(sequenceField(QString(), 1, 10, true), SequenceCursor::Path::Trial);
    QCOMPARE(cursor.valueAt(4), QStringLiteral("51"));
    QCOMPARE(cursor.valueAt(1), QStringLiteral("11"));
    QCOMPARE(cursor.valueAt(-1), QStringLiteral("1"));
    QCOMPARE(cursor.valueAt(4), QStringLiteral("51"));
    QCOMPARE(cursor.valueAt(5), QStringLiteral("61"));
}

void TestFieldValues::displayText_data()
{
    QTest::addColumn<TemplateField>("field");
    QTest::addColumn<QJsonObject>("record");
    QTest::addColumn<QString>("expected");

    TemplateField scratch = scratchField(5, QString());
    const QString prizeKey = QStringLiteral("__scratch_prize_5");
    QTest::newRow("scratch prize") << scratch << QJsonObject{{prizeKey, "Bike"}} << "Bike";
    QTest::newRow("scratch without prize") << scratch << QJsonObject() << "Scratch Card Prize";
    QTest::newRow("scratch empty prize") << scratch << QJsonObject{{prizeKey, ""}} << "Scratch Card Prize";
    QTest::newRow("scratch prize of another field") << scratch << QJsonObject{{"__scratch_prize_55", "Car"}}
                                                    << "Scratch Card Prize";
    scratch.dataColumn = QStringLiteral("City");
    QTest::newRow("scratch never shows its column") << scratch << QJsonObject{{"City", "Oslo"}}
                                                    << "Scratch Card Prize";
    scratch.name = QStringLiteral("Prize box");
    QTest::newRow("scratch never shows its name") << scratch << QJsonObject() << "Scratch Card Prize";

    TemplateField sequence = sequenceField();
    QTest::newRow("sequence value") << sequence << QJsonObject{{"__vdp_sequence_11", "No.000042"}} << "No.000042";
    QTest::newRow("sequence without value shows first") << sequence << QJsonObject() << "No.000001";
    QTest::newRow("sequence empty value shows first") << sequence << QJsonObject{{"__vdp_sequence_11", ""}}
                                                      << "No.000001";
    sequence.sequencePrefix = QStringLiteral("#");
    sequence.sequenceDigits = 3;
    sequence.dataColumn = QStringLiteral("City");
    QTest::newRow("sequence never shows its column") << sequence << QJsonObject{{"City", "Oslo"}} << "#001";

    const QString key = QStringLiteral("source:3:City");
    QTest::newRow("text bound") << boundField(ElementKind::Text, key) << QJsonObject{{key, "Oslo"}} << "Oslo";
    QTest::newRow("text bound, empty cell") << boundField(ElementKind::Text, key) << QJsonObject{{key, ""}} << "";
    QTest::newRow("text bound, missing") << boundField(ElementKind::Text, key) << QJsonObject{{"City", "Oslo"}}
                                         << "{{source:3:City}}";
    QTest::newRow("bare name bound") << boundField(ElementKind::Text, "City") << QJsonObject{{"City", "Oslo"}} << "Oslo";
    QTest::newRow("key compared exactly") << boundField(ElementKind::Text, "city") << QJsonObject{{"City", "Oslo"}}
                                          << "{{city}}";
    QTest::newRow("barcode bound") << boundField(ElementKind::Barcode, key) << QJsonObject{{key, "12345"}} << "12345";
    QTest::newRow("qrcode bound, missing") << boundField(ElementKind::QrCode, key) << QJsonObject() << "{{source:3:City}}";
    QTest::newRow("number put in by hand") << boundField(ElementKind::Text, key) << QJsonObject{{key, 12.5}} << "12.5";
    QTest::newRow("text ignores generated keys") << boundField(ElementKind::Text, QString())
                                                 << QJsonObject{{"__vdp_sequence_21", "No.000001"}}
                                                 << "Variable Field";
    TemplateField named = boundField(ElementKind::Text, QString());
    named.name = QStringLiteral("Valid until 2030");
    QTest::newRow("text without column shows name") << named << QJsonObject{{"City", "Oslo"}}
                                                    << "Valid until 2030";
    named.type = ElementKind::Barcode;
    QTest::newRow("barcode without column shows name") << named << QJsonObject() << "Valid until 2030";
}

void TestFieldValues::displayText()
{
    QFETCH(TemplateField, field);
    QFETCH(QJsonObject, record);
    QFETCH(QString, expected);
    QCOMPARE(fieldDisplayText(field, record), expected);
}

void TestFieldValues::batchSize_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<QList<TemplateField>>("fields");
    QTest::addColumn<int>("expectedCards");

    const TemplateField text = boundField(ElementKind::Text, "source:3:City");
    const TemplateField sequence = sequenceField();
    const TemplateField prizes500 = scratchField(8, R"([{"name":"Thanks","value":500}])");
    const TemplateField prizes10000 = scratchField(9, R"([{"name":"Car","value":1},{"name":"Thanks","value":9999}])");
    const TemplateField broken = scratchField(10, R"({"name":"Car","value":1})");

    QTest::newRow("nothing") << 0 << QList<TemplateField>{} << 0;
    QTest::newRow("text field alone") << 0 << QList<TemplateField>{text} << 0;
    QTest::newRow("data rows alone") << 3 << QList<TemplateField>{text} << 3;
    QTest::newRow("sequence without data") << 0 << QList<TemplateField>{sequence} << 1;
    QTest::newRow("sequence with data") << 4 << QList<TemplateField>{sequence} << 4;
    QTest::newRow("scratch without data") << 0 << QList<TemplateField>{prizes500} << 500;
    QTest::newRow("scratch longer than data") << 200 << QList<TemplateField>{text, prizes10000} << 10000;
    QTest::newRow("data longer than scratch") << 600 << QList<TemplateField>{prizes500} << 600;
    QTest::newRow("longest scratch wins") << 0 << QList<TemplateField>{prizes10000, sequence, prizes500} << 10000;
    QTest::newRow("failing scratch adds no cards") << 0 << QList<TemplateField>{broken} << 0;
    QTest::newRow("failing scratch and sequence") << 0 << QList<TemplateField>{broken, sequence} << 1;
}

void TestFieldValues::batchSize()
{
    QFETCH(int, rows);
    QFETCH(QList<TemplateField>, fields);
    QFETCH(int, expectedCards);

    const PreparedCards prepared = prepareCardRecords(CardTable::fromRecords(dataRows(rows)), fields);
    QCOMPARE(prepared.records.size(), expectedCards);
    for (int i = 0; i < prepared.records.size(); ++i)
        QCOMPARE(prepared.records.sortIndex(i), i);
}

// 200 data rows, a 10,000-card scratch field and two sequences: the rows keep
// their data, the cards beyond them have only generated values, and every
// value is the one of the card's index.
void TestFieldValues::preparedRecordsCarryDataAndGeneratedValues()
{
    const TemplateField plain = sequenceField();
    TemplateField noFours = sequenceField(QStringLiteral("S"), 5, 1, true);
    noFours.id = 12;
    const TemplateField scratch = scratchField(30, R"([{"name":"Car","value":1},{"name":"Thanks","value":9999}])");
    const TemplateField text = boundField(ElementKind::Text, "source:3:City");

    const PreparedCards prepared = prepareCardRecords(CardTable::fromRecords(dataRows(200)), {text, plain, noFours, scratch});
    QCOMPARE(prepared.error, QString());
    QCOMPARE(prepared.records.size(), 10000);

    const PrizeAllocation allocation =
        allocatePrizes(ScratchMode::Count, 10000, {{"Car", 1}, {"Thanks", 9999}}, prizeSeed(30, 10000, ScratchMode::Count));
    const QStringList plainValues = sequenceValues(plain, 10000);
    const QStringList noFourValues = sequenceValues(noFours, 10000);
    for (int i = 0; i < prepared.records.size(); ++i) {
        const QJsonObject &values = prepared.records.object(i);
        QCOMPARE(values.value("__vdp_sequence_11").toString(), plainValues[i]);
        QCOMPARE(values.value("__vdp_sequence_12").toString(), noFourValues[i]);
        QCOMPARE(values.value("__scratch_prize_30").toString(), allocation.cards[i]);
        QCOMPARE(values.size(), i < 200 ? 5 : 3);
    }
    QCOMPARE(fieldDisplayText(text, prepared.records.object(199)), QStringLiteral("City 199"));
    QCOMPARE(fieldDisplayText(text, prepared.records.object(200)), QStringLiteral("{{source:3:City}}"));
    QCOMPARE(fieldDisplayText(noFours, prepared.records.object(3)), QStringLiteral("S00005"));
    QCOMPARE(fieldDisplayText(scratch, prepared.records.object(9999)), allocation.cards[9999]);
    QCOMPARE(allocation.cards.count(QStringLiteral("Car")), 1);
}

// A record's index is its sortIndex, not its place in the list: a record out
// of range gets no generated value.
void TestFieldValues::recordIndexDecidesTheValue()
{
    const QList<DataRecord> records{{2, {}}, {0, {}}, {-1, {}}, {7, {}}};
    const TemplateField scratch = scratchField(4, R"([{"name":"A","value":1},{"name":"B","value":1},{"name":"C","value":1}])");
    const PreparedCards prepared = prepareCardRecords(CardTable::fromRecords(records), {sequenceField(), scratch});
    QCOMPARE(prepared.records.size(), 4);

    const QStringList prizes = allocatePrizes(ScratchMode::Count, 10000, {{"A", 1}, {"B", 1}, {"C", 1}}, prizeSeed(4, 10000, ScratchMode::Count)).cards;
    const CardTable &r = prepared.records;
    QCOMPARE(r.object(0), (QJsonObject{{"__vdp_sequence_11", "No.000003"}, {"__scratch_prize_4", prizes[2]}}));
    QCOMPARE(r.object(1), (QJsonObject{{"__vdp_sequence_11", "No.000001"}, {"__scratch_prize_4", prizes[0]}}));
    QCOMPARE(r.object(2), QJsonObject());
    QCOMPARE(r.object(3), QJsonObject());
}

void TestFieldValues::generatedKeysReplaceStoredOnes()
{
    const QList<DataRecord> records{
        {0, QJsonObject{{"__vdp_sequence_11", "stale"}, {"__scratch_prize_4", "stale"}, {"Name", "Ann"}}}};
    const PreparedCards prepared =
        prepareCardRecords(CardTable::fromRecords(records), {sequenceField(), scratchField(4, R"([{"name":"Bike","value":1}])")});
    QCOMPARE(prepared.records.size(), 1);
    QCOMPARE(prepared.records.object(0),
             (QJsonObject{{"__vdp_sequence_11", "No.000001"}, {"__scratch_prize_4", "Bike"}, {"Name", "Ann"}}));
}

void TestFieldValues::callersRecordsAreLeftAlone()
{
    const QList<DataRecord> rows = dataRows(3);
    const CardTable records = CardTable::fromRecords(rows);
    const PreparedCards prepared = prepareCardRecords(records, {sequenceField()});
    QCOMPARE(prepared.records.object(2).value("__vdp_sequence_11").toString(), QStringLiteral("No.000003"));
    QCOMPARE(records.size(), rows.size());
    for (int i = 0; i < records.size(); ++i)
        QCOMPARE(records.object(i), rows[i].values);
    QVERIFY(!records.contains(2, "__vdp_sequence_11"));
}

void TestFieldValues::failingScratchFieldsAreLeftOut()
{
    const TemplateField good = scratchField(1, R"([{"name":"Bike","value":2}])");
    const TemplateField notJson = scratchField(2, "not json");
    const TemplateField badRatio = scratchField(3, R"([{"name":"Bike","value":50}])", ScratchMode::Ratio, 10);

    PreparedCards prepared = prepareCardRecords({}, {notJson, good, badRatio});
    QCOMPARE(prepared.error, QStringLiteral("Prize percentages must add up to 100%"));
    QCOMPARE(prepared.records.size(), 2);
    for (qsizetype i = 0; i < prepared.records.size(); ++i) {
        const RecordValues record(prepared.records, i);
        QCOMPARE(fieldDisplayText(good, record), QStringLiteral("Bike"));
        QCOMPARE(fieldDisplayText(notJson, record), QStringLiteral("Scratch Card Prize"));
        QCOMPARE(fieldDisplayText(badRatio, record), QStringLiteral("Scratch Card Prize"));
        QCOMPARE(prepared.records.object(i).size(), 1);
    }

    prepared = prepareCardRecords(CardTable::fromRecords(dataRows(1)), {badRatio, notJson});
    QCOMPARE(prepared.error, QStringLiteral("Invalid prize configuration format"));

    prepared = prepareCardRecords(CardTable::fromRecords(dataRows(1)), {good});
    QCOMPARE(prepared.error, QString());
}

void TestFieldValues::sameConfigurationSameCards()
{
    const QString prizes = R"([{"name":"Car","value":3},{"name":"Bike","value":30},{"name":"Thanks","value":467}])";
    const PreparedCards first = prepareCardRecords({}, {scratchField(77, prizes)});
    const PreparedCards again = prepareCardRecords({}, {scratchField(77, prizes)});
    const PreparedCards otherField = prepareCardRecords({}, {scratchField(78, prizes)});
    QCOMPARE(first.records.size(), 500);
    QStringList firstOrder, againOrder, otherOrder;
    for (int i = 0; i < 500; ++i) {
        firstOrder << first.records.object(i).value("__scratch_prize_77").toString();
        againOrder << again.records.object(i).value("__scratch_prize_77").toString();
        otherOrder << otherField.records.object(i).value("__scratch_prize_78").toString();
    }
    QCOMPARE(againOrder, firstOrder);
    QVERIFY(otherOrder != firstOrder);
    QCOMPARE(firstOrder.count("Car"), 3);
    QCOMPARE(otherOrder.count("Car"), 3);
}

// A run beyond what can be prepared is refused from the prize counts alone;
// building it first would take gigabytes.
void TestFieldValues::oversizedRunIsRefusedBeforeBuilding()
{
    const TemplateField huge = scratchField(3, R"([{"name":"Car","value":1},{"name":"Thanks","value":1e15}])");
    const TemplateField ratio = scratchField(4, R"([{"name":"Thanks","value":100}])", ScratchMode::Ratio,
                                             int(maxScratchCards + 1));
    const PreparedCards prepared = prepareCardRecords(CardTable::fromRecords(dataRows(2)), {sequenceField(), huge, ratio});
    QCOMPARE(prepared.error, QStringLiteral("A scratch-card run of %1 cards is larger than the %2 cards that can be "
                                            "prepared at once").arg(maxScratchCards + 1).arg(maxScratchCards));
    QCOMPARE(prepared.records.size(), 2);
    QCOMPARE(fieldDisplayText(huge, prepared.records.object(0)), QStringLiteral("Scratch Card Prize"));
    QCOMPARE(fieldDisplayText(ratio, prepared.records.object(1)), QStringLiteral("Scratch Card Prize"));
}

void TestFieldValues::millionCardScratchRun()
{
    const TemplateField scratch = scratchField(
        6, R"([{"name":"Car","value":1},{"name":"Bike","value":999},{"name":"Thanks for Playing","value":999000}])");
    const PreparedCards prepared = prepareCardRecords({}, {scratch, sequenceField()});
    QCOMPARE(prepared.error, QString());
    QCOMPARE(prepared.records.size(), 1000000);
    int cars = 0, bikes = 0;
    for (qsizetype i = 0; i < prepared.records.size(); ++i) {
        const QString prize = prepared.records.text(i, "__scratch_prize_6").value_or(QString());
        cars += prize == QLatin1String("Car");
        bikes += prize == QLatin1String("Bike");
    }
    QCOMPARE(cars, 1);
    QCOMPARE(bikes, 999);
    QCOMPARE(prepared.records.object(prepared.records.size() - 1).value("__vdp_sequence_11").toString(), QStringLiteral("No.1000000"));
}

QTEST_GUILESS_MAIN(TestFieldValues)
#include "tst_fieldvalues.moc"
