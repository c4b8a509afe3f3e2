#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

struct Prize
{
    QString name;
    double value = 0; // a card count, or a percentage of the run in "ratio" mode

    friend bool operator==(const Prize &, const Prize &) = default;
};

struct PrizeList
{
    QList<Prize> prizes;
    QString error; // empty on success
};

// One prize name per card in card order, or an error and no cards.
struct PrizeAllocation
{
    QStringList cards;
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// The longest scratch-card run a field may allocate; a longer one fails with
// a message instead of exhausting memory. Every card of the run becomes a
// prepared card record, a JSON object of its own, and Qt's objects grow in
// steps: measured at the peak of preparation, a card costs about 410 bytes
// with a prize and a sequence number and about 720 bytes with a prize and two
// sequence numbers. 2,500,000 cards thus take about 1.0 GB and 1.8 GB, within
// 2 GB; the prize editor's limit of 10,000,000 cards would need 4 to 7 GB.
inline constexpr qint64 maxScratchCards = 2500000;

PrizeList parsePrizes(const QString &json);
QString serializePrizes(const QList<Prize> &prizes);
PrizeAllocation allocatePrizes(const QString &mode, qint64 total, const QList<Prize> &prizes, quint32 seed);
quint32 prizeSeed(qint64 fieldId, qint64 total, const QString &mode);
