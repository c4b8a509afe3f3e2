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

PrizeList parsePrizes(const QString &json);
QString serializePrizes(const QList<Prize> &prizes);
PrizeAllocation allocatePrizes(const QString &mode, qint64 total, const QList<Prize> &prizes, quint32 seed);
quint32 prizeSeed(qint64 fieldId, qint64 total, const QString &mode);
