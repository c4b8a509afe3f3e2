#pragma once

#include "model/elementkind.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <vector>

struct Prize
{
    QString name;
    double value = 0; // a card count, or a percentage of the run in ratio mode

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

// The same as prize indices: `names` holds each prize's name (in the order
// of the list), `cards` per card the index of its prize: four bytes a card.
struct PrizeOrder
{
    QStringList names;
    std::vector<quint32> cards;
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// The longest scratch-card run a field may allocate; a longer one fails with
// a message instead of exhausting memory. The limit dates from when every
// card of a run was a JSON object of its own (about 1 GB at this length); it
// stays, so a stored configuration is accepted or refused as it always was.
inline constexpr qint64 maxScratchCards = 2500000;

PrizeList parsePrizes(const QString &json);
QString serializePrizes(const QList<Prize> &prizes);
PrizeAllocation allocatePrizes(ScratchMode mode, qint64 total, const QList<Prize> &prizes, quint32 seed);
// The same allocation, card for card, as indices into the names.
PrizeOrder allocatePrizeOrder(ScratchMode mode, qint64 total, const QList<Prize> &prizes, quint32 seed);
quint32 prizeSeed(qint64 fieldId, qint64 total, ScratchMode mode);
