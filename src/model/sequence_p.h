#pragma once

#include "model/templatefield.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The numbers of a sequence field, card by card. Cards asked for in ascending
// order cost one step each: the trial path keeps its place in the candidates
// and only walks back to the start when an earlier card is asked for.
class SequenceCursor
{
public:
    // Trial forces the walk through the candidates even where the numbers
    // without a 4 can be counted directly; both paths give the same values.
    enum class Path { Fastest, Trial };

    explicit SequenceCursor(const TemplateField &field, Path path = Path::Fastest);

    // The formatted value of card `cardIndex` (from 0; negative counts as 0).
    QString valueAt(qint64 cardIndex);

    // True when values come from walking through the candidates, so that a
    // card far along costs a step per card before it; false when each value
    // is worked out directly.
    bool walks() const { return m_excludeFour && !m_countDirectly; }

private:
    // Room for the digits of any number a card can get: 1 + i·step stays
    // below 2^95, 29 digits.
    static constexpr int digitCapacity = 32;

    QString formatted(const char *digits, const char *end) const;
    char *writeCountedWithoutFour(qint64 cardIndex, char *end) const;
    quint64 byTrial(qint64 cardIndex);

    QString m_prefix;
    int m_width = 1;
    qint64 m_step = 1;
    bool m_excludeFour = false;
    bool m_countDirectly = false;
    // The trial walk: card m_walkedCard has the number m_walkedNumber.
    qint64 m_walkedCard = 0;
    quint64 m_walkedNumber = 1;
};

// The values of cards 0 … count − 1 through the trial path only.
QStringList sequenceValuesByTrial(const TemplateField &field, qint64 count);
