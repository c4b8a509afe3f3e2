#include "prizes.h"

#include "mersennetwister.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace {

PrizeOrder failure(const QString &message)
{
    PrizeOrder result;
    result.error = message;
    return result;
}

PrizeOrder tooLarge(const QString &cards)
{
    return failure(QStringLiteral("A scratch-card run of %1 cards is larger than the %2 cards that can be prepared at once")
                       .arg(cards)
                       .arg(maxScratchCards));
}

// Largest-remainder rounding of the percentages to whole cards; the counts
// add up to `total` unless the percentages exceed 100 within the tolerance.
std::vector<qint64> ratioCounts(qint64 total, const QList<Prize> &prizes)
{
    const qsizetype n = prizes.size();
    std::vector<qint64> counts(n);
    std::vector<double> remainders(n);
    qint64 allotted = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const double exact = prizes[i].value * double(total) / 100;
        const double base = std::floor(exact);
        counts[i] = qint64(base);
        remainders[i] = exact - base;
        allotted += counts[i];
    }
    const qint64 missing = total - allotted;
    if (missing > 0) {
        // Equal remainders keep prize order, so the same list always rounds
        // the same way.
        std::vector<qsizetype> order(n);
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](qsizetype a, qsizetype b) { return remainders[a] > remainders[b]; });
        // One card each round through the order until none is missing.
        for (qsizetype k = 0; k < n; ++k)
            counts[order[k]] += missing / n + (k < missing % n ? 1 : 0);
    }
    return counts;
}

// The shuffle the prize order is audited against: with a list short enough
// that n² fits in 32 bits, one draw places two entries; longer lists take one
// draw per entry.
void shuffleCards(std::vector<quint32> &cards, quint32 seed)
{
    using std::swap;
    const quint64 n = quint64(cards.size());
    if (n < 2)
        return;
    quint32 *entry = cards.data();
    MersenneTwister generator(seed);
    if (0xffffffffu / n >= n) {
        quint64 i = 1;
        if (n % 2 == 0) {
            swap(entry[1], entry[generator.uniform(1)]);
            i = 2;
        }
        for (; i < n; i += 2) {
            const quint64 s = i + 1;
            const quint32 x = generator.uniform(quint32(s * (s + 1) - 1));
            swap(entry[i], entry[x / (s + 1)]);
            swap(entry[i + 1], entry[x % (s + 1)]);
        }
    } else {
        // n is bounded by maxScratchCards, far below 2^32: every i fits a draw.
        for (quint64 i = 1; i < n; ++i)
            swap(entry[i], entry[generator.uniform(quint32(i))]);
    }
}

} // namespace

PrizeList parsePrizes(const QString &json)
{
    PrizeList result;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray()) {
        result.error = QStringLiteral("Invalid prize configuration format");
        return result;
    }
    const QJsonArray array = document.array();
    for (const QJsonValue &element : array) {
        const QJsonObject object = element.toObject();
        Prize prize;
        prize.name = object.value(QLatin1String("name")).toString().trimmed();
        prize.value = object.value(QLatin1String("value")).toDouble(0);
        if (!prize.name.isEmpty())
            result.prizes.append(prize);
    }
    if (result.prizes.isEmpty())
        result.error = QStringLiteral("At least one prize is required");
    return result;
}

QString serializePrizes(const QList<Prize> &prizes)
{
    // QJsonObject keeps its keys sorted, which puts "name" before "value" as
    // the stored format wants; the compact writer leaves whole numbers
    // without a decimal point.
    QJsonArray array;
    for (const Prize &prize : prizes)
        array.append(QJsonObject{{QStringLiteral("name"), prize.name.trimmed()}, {QStringLiteral("value"), prize.value}});
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

PrizeOrder allocatePrizeOrder(ScratchMode mode, qint64 total, const QList<Prize> &prizes, quint32 seed)
{
    if (prizes.isEmpty())
        return failure(QStringLiteral("At least one prize is required"));
    for (const Prize &prize : prizes) {
        // A value that is not a number cannot be counted either.
        if (prize.name.trimmed().isEmpty() || !std::isfinite(prize.value) || prize.value < 0)
            return failure(QStringLiteral("Prize names cannot be empty, and values cannot be negative."));
    }

    std::vector<qint64> counts;
    if (mode == ScratchMode::Ratio) {
        if (total < 1)
            return failure(QStringLiteral("Total card count must be greater than zero in percentage mode."));
        double percent = 0;
        for (const Prize &prize : prizes)
            percent += prize.value;
        if (std::abs(percent - 100) > 0.001)
            return failure(QStringLiteral("Prize percentages must add up to 100%"));
        // Checked before any arithmetic: the rounding below walks the cards
        // the percentages leave short, which grow with the total.
        if (total > maxScratchCards)
            return tooLarge(QString::number(total));
        counts = ratioCounts(total, prizes);
    } else {
        // Summed as doubles: whole-number values can be far beyond 64 bits.
        double sum = 0;
        for (const Prize &prize : prizes) {
            const double count = std::round(prize.value); // half away from zero
            if (std::abs(prize.value - count) > 0.000001)
                return failure(QStringLiteral("At least one prize must have a positive card count."));
            sum += count;
        }
        if (sum <= 0)
            return failure(QStringLiteral("Total prize count must be greater than 0"));
        if (sum > double(maxScratchCards)) {
            // In digits while a 64-bit count could hold it; a value like 1e300
            // is written as such rather than in 301 digits.
            return tooLarge(sum < 9.2e18 ? QString::number(qint64(sum)) : QString::number(sum, 'g', 6));
        }
        for (const Prize &prize : prizes)
            counts.push_back(qint64(std::round(prize.value)));
    }

    const qint64 cardCount = std::accumulate(counts.begin(), counts.end(), qint64(0));
    if (cardCount > maxScratchCards)
        return tooLarge(QString::number(cardCount));

    PrizeOrder result;
    result.cards.reserve(size_t(cardCount));
    for (qsizetype i = 0; i < prizes.size(); ++i) {
        result.names.append(prizes[i].name.trimmed());
        result.cards.insert(result.cards.end(), size_t(counts[i]), quint32(i));
    }
    shuffleCards(result.cards, seed);
    return result;
}

PrizeAllocation allocatePrizes(ScratchMode mode, qint64 total, const QList<Prize> &prizes, quint32 seed)
{
    const PrizeOrder order = allocatePrizeOrder(mode, total, prizes, seed);
    PrizeAllocation result;
    result.error = order.error;
    result.cards.reserve(qsizetype(order.cards.size()));
    for (const quint32 prize : order.cards)
        result.cards.append(order.names.at(prize));
    return result;
}

quint32 prizeSeed(qint64 fieldId, qint64 total, ScratchMode mode)
{
    const quint32 modeKey = mode == ScratchMode::Ratio ? 0x9E3779B9u : 0x85EBCA6Bu;
    return (quint32(fieldId) * 0x9E3779B1u) ^ quint32(total) ^ modeKey;
}
