#include "model/mersennetwister.h"
#include "model/prizes.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <cmath>
#include <limits>
#include <random>

namespace {

// A scratch mode as the store loads its text: an unknown one counts.
ScratchMode storedMode(const QString &key)
{
    return scratchModeFromKey(key).value_or(ScratchMode::Count);
}

using Counts = QList<qint64>;

// The expected orders and counts written by the Python reference in data/,
// which implements the allocation, generator, draw and shuffle on its own.
QJsonObject reference()
{
    QFile file(QStringLiteral(VDP_TEST_DATA_DIR "/prize_shuffle_reference.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QStringList texts(const QJsonValue &array)
{
    QStringList result;
    for (const QJsonValue &value : array.toArray())
        result << value.toString();
    return result;
}

quint32 unsigned32(const QJsonValue &value)
{
    return quint32(value.toInteger());
}

QList<Prize> distinct(const QStringList &names)
{
    QList<Prize> prizes;
    for (const QString &name : names)
        prizes.append({name, 1});
    return prizes;
}

Counts tally(const QStringList &cards, const QList<Prize> &prizes)
{
    Counts counts;
    for (const Prize &prize : prizes)
        counts << cards.count(prize.name.trimmed());
    return counts;
}

QString tooLarge(const QString &cards)
{
    return QStringLiteral("A scratch-card run of %1 cards is larger than the %2 cards that can be prepared at once")
        .arg(cards)
        .arg(maxScratchCards);
}

} // namespace

class TestPrizes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void parse_data();
    void parse();
    void serialize_data();
    void serialize();

    void validation_data();
    void validation();
    void counts_data();
    void counts();

    void generatorMatchesPublishedOutputs();
    void boundedDrawMatchesReference();
    void seedMatchesReference();
    void shuffleMatchesReference();
    void runsMatchReference();
    void longShuffleMatchesReference();
    void onePrizeIsNeverReordered();

private:
    QJsonObject m_reference;
};

void TestPrizes::initTestCase()
{
    m_reference = reference();
    QVERIFY2(!m_reference.isEmpty(), "data/prize_shuffle_reference.json is missing or unreadable");
}

void TestPrizes::parse_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<QString>("error");

    const QString invalid = QStringLiteral("Invalid prize configuration format");
    const QString required = QStringLiteral("At least one prize is required");
    QTest::newRow("starter list") << R"([{"name":"First Prize","value":2},{"name":"Thanks for Playing","value":500}])"
                                  << QStringList{"First Prize", "Thanks for Playing"} << QList<double>{2, 500}
                                  << QString();
    QTest::newRow("names trimmed, fractions kept") << R"([{"name":"  Car \t","value":12.5}])" << QStringList{"Car"}
                                                   << QList<double>{12.5} << QString();
    QTest::newRow("missing or textual value is 0")
        << R"([{"name":"A"},{"name":"B","value":"7"},{"name":"C","value":null}])" << QStringList{"A", "B", "C"}
        << QList<double>{0, 0, 0} << QString();
    QTest::newRow("empty names dropped")
        << R"([{"name":"","value":1},{"name":"  ","value":2},{"value":3},{"name":"Kept","value":4}])"
        << QStringList{"Kept"} << QList<double>{4} << QString();
    QTest::newRow("non-objects dropped") << R"([3,"Car",null,[1],{"name":"Bike","value":1}])"
                                         << QStringList{"Bike"} << QList<double>{1} << QString();
    QTest::newRow("negative kept for validation") << R"([{"name":"A","value":-1}])" << QStringList{"A"}
                                                  << QList<double>{-1} << QString();
    QTest::newRow("object") << R"({"name":"Car","value":1})" << QStringList() << QList<double>() << invalid;
    QTest::newRow("not JSON") << "First Prize: 2" << QStringList() << QList<double>() << invalid;
    QTest::newRow("empty text") << "" << QStringList() << QList<double>() << invalid;
    QTest::newRow("truncated") << R"([{"name":"Car","value":1})" << QStringList() << QList<double>() << invalid;
    QTest::newRow("number") << "5" << QStringList() << QList<double>() << invalid;
    QTest::newRow("empty array") << "[]" << QStringList() << QList<double>() << required;
    QTest::newRow("only empty names") << R"([{"name":" ","value":1}])" << QStringList() << QList<double>()
                                      << required;
}

void TestPrizes::parse()
{
    QFETCH(QString, json);
    QFETCH(QStringList, names);
    QFETCH(QList<double>, values);
    QFETCH(QString, error);

    const PrizeList list = parsePrizes(json);
    QCOMPARE(list.error, error);
    QStringList gotNames;
    QList<double> gotValues;
    for (const Prize &prize : list.prizes) {
        gotNames << prize.name;
        gotValues << prize.value;
    }
    QCOMPARE(gotNames, names);
    QCOMPARE(gotValues, values);
}

void TestPrizes::serialize_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<QString>("expected");

    QTest::newRow("starter list") << QStringList{"First Prize", "Thanks for Playing"} << QList<double>{2, 500}
                                  << R"([{"name":"First Prize","value":2},{"name":"Thanks for Playing","value":500}])";
    QTest::newRow("percentages") << QStringList{"A", "B", "C"} << QList<double>{12.5, 0.1, 87.4}
                                 << R"([{"name":"A","value":12.5},{"name":"B","value":0.1},{"name":"C","value":87.4}])";
    QTest::newRow("names trimmed, empty kept") << QStringList{"  Car ", ""} << QList<double>{1, -1}
                                               << R"([{"name":"Car","value":1},{"name":"","value":-1}])";
    QTest::newRow("quotes and accents") << QStringList{"Prämie \"Gold\""} << QList<double>{10000000}
                                        << R"([{"name":"Prämie \"Gold\"","value":10000000}])";
    QTest::newRow("empty list") << QStringList() << QList<double>() << "[]";
}

void TestPrizes::serialize()
{
    QFETCH(QStringList, names);
    QFETCH(QList<double>, values);
    QFETCH(QString, expected);

    QList<Prize> prizes;
    for (int i = 0; i < names.size(); ++i)
        prizes.append({names[i], values[i]});
    const QString json = serializePrizes(prizes);
    QCOMPARE(json, expected);

    // What is written reads back as written, less the entries without a name.
    QList<Prize> kept;
    for (const Prize &prize : prizes) {
        if (!prize.name.trimmed().isEmpty())
            kept.append({prize.name.trimmed(), prize.value});
    }
    QCOMPARE(parsePrizes(json).prizes, kept);
}

// Every failure and its order of precedence, and what passes the checks.
// An empty error means the allocation succeeds with `cards` cards.
void TestPrizes::validation_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QList<Prize>>("prizes");
    QTest::addColumn<QString>("error");
    QTest::addColumn<qint64>("cards");

    const QString required = QStringLiteral("At least one prize is required");
    const QString badPrize = QStringLiteral("Prize names cannot be empty, and values cannot be negative.");
    const QString badTotal = QStringLiteral("Total card count must be greater than zero in percentage mode.");
    const QString badSum = QStringLiteral("Prize percentages must add up to 100%");
    const QString notWhole = QStringLiteral("At least one prize must have a positive card count.");
    const QString noCards = QStringLiteral("Total prize count must be greater than 0");
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const qint64 max = maxScratchCards;

    QTest::newRow("empty list") << "count" << qint64(10) << QList<Prize>{} << required << qint64(0);
    QTest::newRow("empty list, ratio") << "ratio" << qint64(0) << QList<Prize>{} << required << qint64(0);
    QTest::newRow("empty name") << "count" << qint64(0) << QList<Prize>{{"A", 1}, {"", 1}} << badPrize << qint64(0);
    QTest::newRow("blank name") << "count" << qint64(0) << QList<Prize>{{" \t", 1}} << badPrize << qint64(0);
    QTest::newRow("value -1") << "count" << qint64(0) << QList<Prize>{{"A", -1}, {"B", 3}} << badPrize << qint64(0);
    QTest::newRow("infinite") << "count" << qint64(0) << QList<Prize>{{"A", inf}} << badPrize << qint64(0);
    QTest::newRow("not a number") << "count" << qint64(0) << QList<Prize>{{"A", nan}} << badPrize << qint64(0);
    QTest::newRow("-1 before ratio checks") << "ratio" << qint64(0) << QList<Prize>{{"A", -1}} << badPrize << qint64(0);

    QTest::newRow("ratio total 0") << "ratio" << qint64(0) << QList<Prize>{{"A", 100}} << badTotal << qint64(0);
    QTest::newRow("ratio total -5") << "ratio" << qint64(-5) << QList<Prize>{{"A", 100}} << badTotal << qint64(0);
    QTest::newRow("total before sum") << "ratio" << qint64(0) << QList<Prize>{{"A", 30}} << badTotal << qint64(0);
    QTest::newRow("ratio 99.99") << "ratio" << qint64(100) << QList<Prize>{{"A", 49.99}, {"B", 50}} << badSum
                                 << qint64(0);
    QTest::newRow("ratio 100.002") << "ratio" << qint64(100) << QList<Prize>{{"A", 50.002}, {"B", 50}} << badSum
                                   << qint64(0);
    QTest::newRow("ratio 99.9995") << "ratio" << qint64(1000) << QList<Prize>{{"A", 49.9995}, {"B", 50}} << QString()
                                   << qint64(1000);
    QTest::newRow("ratio 99.9985") << "ratio" << qint64(100) << QList<Prize>{{"A", 49.9985}, {"B", 50}} << badSum
                                   << qint64(0);
    QTest::newRow("ratio 100.0015") << "ratio" << qint64(100) << QList<Prize>{{"A", 50.0015}, {"B", 50}} << badSum
                                    << qint64(0);
    QTest::newRow("ratio 100.0009") << "ratio" << qint64(1000) << QList<Prize>{{"A", 50.0009}, {"B", 50}}
                                    << QString() << qint64(1000);
    QTest::newRow("ratio total 1") << "ratio" << qint64(1) << QList<Prize>{{"A", 100}} << QString() << qint64(1);

    QTest::newRow("count 2.5") << "count" << qint64(0) << QList<Prize>{{"A", 2.5}, {"B", 5}} << notWhole << qint64(0);
    QTest::newRow("count 2.000002") << "count" << qint64(0) << QList<Prize>{{"A", 2.000002}} << notWhole
                                    << qint64(0);
    QTest::newRow("count 2.0000005 is 2") << "count" << qint64(0) << QList<Prize>{{"A", 2.0000005}, {"B", 1}}
                                          << QString() << qint64(3);
    QTest::newRow("count all zeros") << "count" << qint64(100) << QList<Prize>{{"A", 0}, {"B", 0}} << noCards
                                     << qint64(0);
    QTest::newRow("fraction before zero sum") << "count" << qint64(0) << QList<Prize>{{"A", 0}, {"B", 0.5}}
                                              << notWhole << qint64(0);
    QTest::newRow("count 2 and 500, total ignored") << "count" << qint64(7) << QList<Prize>{{"A", 2}, {"B", 500}}
                                                    << QString() << qint64(502);
    QTest::newRow("unknown mode counts") << "percent" << qint64(0) << QList<Prize>{{"A", 2}, {"B", 500}}
                                         << QString() << qint64(502);
    QTest::newRow("mode compared exactly") << "Ratio" << qint64(0) << QList<Prize>{{"A", 30}, {"B", 70}}
                                           << QString() << qint64(100);

    // Runs beyond what can be prepared at once, refused from the counts alone.
    QTest::newRow("count one too many") << "count" << qint64(0) << QList<Prize>{{"A", 1}, {"B", double(max)}}
                                        << tooLarge(QString::number(max + 1)) << qint64(0);
    QTest::newRow("count far too many") << "count" << qint64(0) << QList<Prize>{{"A", 1e300}, {"B", 1e300}}
                                        << tooLarge(QStringLiteral("2e+300"))
                                        << qint64(0);
    QTest::newRow("ratio one too many") << "ratio" << max + 1 << QList<Prize>{{"A", 100}}
                                        << tooLarge(QString::number(max + 1)) << qint64(0);
    QTest::newRow("ratio editor's limit") << "ratio" << qint64(10000000) << QList<Prize>{{"A", 1}, {"B", 99}}
                                          << tooLarge("10000000") << qint64(0);
    QTest::newRow("ratio 64-bit total") << "ratio" << std::numeric_limits<qint64>::max()
                                        << QList<Prize>{{"A", 99.9995}}
                                        << tooLarge(QString::number(std::numeric_limits<qint64>::max()))
                                        << qint64(0);
    // 50 + 1/2048 twice is 100.0009765625 %, inside the tolerance, and exact
    // in binary: 1,250,012.20703125 cards each of a run at the limit, rounded
    // down, none taken away.
    QTest::newRow("ratio over 100 past the limit") << "ratio" << qint64(2500000)
                                                   << QList<Prize>{{"A", 50.00048828125}, {"B", 50.00048828125}}
                                                   << tooLarge("2500024") << qint64(0);
}

void TestPrizes::validation()
{
    QFETCH(QString, mode);
    QFETCH(qint64, total);
    QFETCH(QList<Prize>, prizes);
    QFETCH(QString, error);
    QFETCH(qint64, cards);

    const PrizeAllocation allocation = allocatePrizes(storedMode(mode), total, prizes, 99);
    QCOMPARE(allocation.error, error);
    QCOMPARE(allocation.ok(), error.isEmpty());
    QCOMPARE(qint64(allocation.cards.size()), cards);
    QCOMPARE(tally(allocation.cards, prizes).size(), prizes.size());
}

void TestPrizes::counts_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QList<Prize>>("prizes");
    QTest::addColumn<Counts>("expected");

    QTest::newRow("equal remainders: first wins") << "ratio" << qint64(10)
                                                  << QList<Prize>{{"A", 25}, {"B", 25}, {"C", 50}} << Counts{3, 2, 5};
    QTest::newRow("equal remainders, later first") << "ratio" << qint64(10)
                                                   << QList<Prize>{{"C", 50}, {"A", 25}, {"B", 25}}
                                                   << Counts{5, 3, 2};
    QTest::newRow("largest remainder wins") << "ratio" << qint64(7) << QList<Prize>{{"A", 33.3}, {"B", 33.3}, {"C", 33.4}}
                                            << Counts{2, 2, 3};
    QTest::newRow("two missing, two largest") << "ratio" << qint64(10)
                                              << QList<Prize>{{"A", 13}, {"B", 18}, {"C", 15}, {"D", 54}}
                                              << Counts{1, 2, 2, 5};
    // Forty equal remainders: the ten missing cards go to the first ten
    // prizes, in list order.
    QList<Prize> forty;
    Counts tenFirst;
    for (int i = 0; i < 40; ++i) {
        forty.append({QStringLiteral("P%1").arg(i), 2.5});
        tenFirst << (i < 10 ? 1 : 0);
    }
    QTest::newRow("forty equal remainders") << "ratio" << qint64(10) << forty << tenFirst;
    QTest::newRow("small shares round to 0") << "ratio" << qint64(3) << QList<Prize>{{"X", 10}, {"Y", 10}, {"Z", 80}}
                                             << Counts{0, 0, 3};
    // Short of 100 within the tolerance: more cards are missing than there
    // are prizes, so the rounding goes round the order twice, even past a
    // prize of 0 %.
    QTest::newRow("missing wraps round") << "ratio" << qint64(1000000)
                                         << QList<Prize>{{"A", 50}, {"B", 49.9995}, {"C", 0}}
                                         << Counts{500002, 499997, 1};
    // Over 100 within the tolerance (100.0009765625): nothing is taken away.
    QTest::newRow("over 100 keeps the excess") << "ratio" << qint64(1000000)
                                               << QList<Prize>{{"A", 50.00048828125}, {"B", 50.00048828125}}
                                               << Counts{500004, 500004};
    QTest::newRow("whole counts") << "count" << qint64(1) << QList<Prize>{{"A", 2}, {"B", 0}, {"C", 500}}
                                  << Counts{2, 0, 500};
    QTest::newRow("counts within tolerance") << "count" << qint64(0) << QList<Prize>{{"A", 2.9999995}, {"B", 0.0000004}}
                                             << Counts{3, 0};
    QTest::newRow("names trimmed in the cards") << "count" << qint64(0) << QList<Prize>{{" A ", 2}, {"B", 1}}
                                                << Counts{2, 1};
}

void TestPrizes::counts()
{
    QFETCH(QString, mode);
    QFETCH(qint64, total);
    QFETCH(QList<Prize>, prizes);
    QFETCH(Counts, expected);

    const PrizeAllocation allocation = allocatePrizes(storedMode(mode), total, prizes, 7);
    QVERIFY2(allocation.ok(), qPrintable(allocation.error));
    QCOMPARE(tally(allocation.cards, prizes), expected);
    qint64 sum = 0;
    for (qint64 count : expected)
        sum += count;
    QCOMPARE(qint64(allocation.cards.size()), sum);
}

void TestPrizes::generatorMatchesPublishedOutputs()
{
    // The first outputs of seed 5489 and the 10,000th output are the ones
    // the generator's authors and the C++ standard publish.
    MersenneTwister ours(5489);
    QCOMPARE(ours.next(), 3499211612u);
    QCOMPARE(ours.next(), 581869302u);

    for (const QJsonValue &entry : m_reference.value("generator").toArray()) {
        const QJsonObject object = entry.toObject();
        const quint32 seed = unsigned32(object.value("seed"));
        MersenneTwister generator(seed);
        std::mt19937 standard(seed);
        const QJsonArray first = object.value("first").toArray();
        for (int i = 0; i < first.size(); ++i) {
            const quint32 output = generator.next();
            QCOMPARE(output, unsigned32(first[i]));
            QCOMPARE(output, quint32(standard()));
        }
        // Past several twists of the state, against the standard library's.
        for (int i = first.size(); i < 5000; ++i)
            QCOMPARE(generator.next(), quint32(standard()));
        if (object.contains("at10000")) {
            MersenneTwister fresh(seed);
            quint32 output = 0;
            for (int i = 0; i < 10000; ++i)
                output = fresh.next();
            QCOMPARE(output, unsigned32(object.value("at10000")));
            QCOMPARE(output, 4123659995u);
        }
    }
}

void TestPrizes::boundedDrawMatchesReference()
{
    const QJsonObject draws = m_reference.value("draws").toObject();
    const QJsonArray bounds = draws.value("bounds").toArray();
    const QJsonArray results = draws.value("results").toArray();
    QVERIFY(!bounds.isEmpty());
    QCOMPARE(results.size(), bounds.size());
    MersenneTwister generator(unsigned32(draws.value("seed")));
    for (int i = 0; i < bounds.size(); ++i) {
        const quint32 upper = unsigned32(bounds[i]);
        const quint32 drawn = generator.uniform(upper);
        QCOMPARE(drawn, unsigned32(results[i]));
        QVERIFY(drawn <= upper);
    }
}

void TestPrizes::seedMatchesReference()
{
    const QJsonArray seeds = m_reference.value("seeds").toArray();
    QVERIFY(!seeds.isEmpty());
    for (const QJsonValue &entry : seeds) {
        const QJsonObject object = entry.toObject();
        const qint64 fieldId = object.value("fieldId").toInteger();
        const qint64 total = object.value("total").toInteger();
        const QString mode = object.value("mode").toString();
        QCOMPARE(prizeSeed(fieldId, total, storedMode(mode)), unsigned32(object.value("seed")));
    }
    // Each part of the configuration the seed is made of changes it.
    const quint32 seed = prizeSeed(5, 10000, ScratchMode::Count);
    QVERIFY(prizeSeed(6, 10000, ScratchMode::Count) != seed);
    QVERIFY(prizeSeed(5, 10001, ScratchMode::Count) != seed);
    QVERIFY(prizeSeed(5, 10000, ScratchMode::Ratio) != seed);
    QCOMPARE(prizeSeed(5, 10000, storedMode(QStringLiteral("other"))), seed);
}

// Lists of 2, 3, 8 and 9 distinct names: both parities of the two-at-a-time
// branch, under plain seeds and the seeds of given fields.
void TestPrizes::shuffleMatchesReference()
{
    const QJsonArray shuffles = m_reference.value("shuffles").toArray();
    QVERIFY(shuffles.size() >= 16);
    for (const QJsonValue &entry : shuffles) {
        const QJsonObject object = entry.toObject();
        const QStringList names = texts(object.value("names"));
        const quint32 seed = unsigned32(object.value("seed"));
        const PrizeAllocation allocation = allocatePrizes(ScratchMode::Count, 0, distinct(names), seed);
        QVERIFY(allocation.ok());
        QCOMPARE(allocation.cards, texts(object.value("order")));
    }
}

// Whole configurations, from the stored list to the card order: the counts
// of both modes, the field's seed and the shuffle together.
void TestPrizes::runsMatchReference()
{
    const QJsonArray runs = m_reference.value("runs").toArray();
    QVERIFY(!runs.isEmpty());
    for (const QJsonValue &entry : runs) {
        const QJsonObject run = entry.toObject();
        const QString mode = run.value("mode").toString();
        const qint64 total = run.value("total").toInteger();
        const qint64 fieldId = run.value("fieldId").toInteger();
        const PrizeList list = parsePrizes(QString::fromUtf8(QJsonDocument(run.value("prizes").toArray()).toJson()));
        QVERIFY(list.error.isEmpty());
        const PrizeAllocation allocation = allocatePrizes(storedMode(mode), total, list.prizes, prizeSeed(fieldId, total, storedMode(mode)));
        QVERIFY2(allocation.ok(), qPrintable(allocation.error));
        Counts expectedCounts;
        for (const QJsonValue &count : run.value("counts").toArray())
            expectedCounts << count.toInteger();
        QCOMPARE(tally(allocation.cards, list.prizes), expectedCounts);
        QCOMPARE(allocation.cards, texts(run.value("order")));
    }
}

// 65,535 entries are the longest list shuffled two at a time, 65,536 and
// 70,000 take one draw per entry. Each whole order is compared through its
// hash; the slices show where a difference starts.
void TestPrizes::longShuffleMatchesReference()
{
    const QJsonArray runs = m_reference.value("long").toArray();
    QCOMPARE(runs.size(), 3);
    for (const QJsonValue &entry : runs) {
        const QJsonObject run = entry.toObject();
        const int count = run.value("count").toInt();
        QStringList names;
        names.reserve(count);
        for (int i = 0; i < count; ++i)
            names << QStringLiteral("card-%1").arg(i, 5, 10, QLatin1Char('0'));
        const PrizeAllocation allocation = allocatePrizes(ScratchMode::Count, 0, distinct(names), unsigned32(run.value("seed")));
        QVERIFY(allocation.ok());
        const QStringList &cards = allocation.cards;
        QCOMPARE(cards.size(), count);
        QCOMPARE(cards.first(100), texts(run.value("first")));
        QCOMPARE(cards.sliced(run.value("middleFrom").toInt(), 100), texts(run.value("middle")));
        QCOMPARE(cards.last(100), texts(run.value("last")));
        const QByteArray hash =
            QCryptographicHash::hash(cards.join(QLatin1Char('\n')).toUtf8(), QCryptographicHash::Sha256);
        QCOMPARE(QString::fromLatin1(hash.toHex()), run.value("sha256").toString());
    }
}

void TestPrizes::onePrizeIsNeverReordered()
{
    const PrizeAllocation single = allocatePrizes(ScratchMode::Count, 0, {{"Only", 1}}, 12345);
    QCOMPARE(single.cards, QStringList{"Only"});
    const PrizeAllocation same = allocatePrizes(ScratchMode::Ratio, 5, {{"Thanks", 100}}, 12345);
    QCOMPARE(same.cards, QStringList(5, "Thanks"));
    // The same call twice gives the same order.
    const QList<Prize> prizes{{"A", 3}, {"B", 4}, {"C", 5}};
    QCOMPARE(allocatePrizes(ScratchMode::Count, 0, prizes, 8).cards, allocatePrizes(ScratchMode::Count, 0, prizes, 8).cards);
}

QTEST_GUILESS_MAIN(TestPrizes)
#include "tst_prizes.moc"
