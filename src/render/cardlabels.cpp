#include "render/cardlabels.h"

#include <QStringList>

QString cardLabel(int recordIndex)
{
    return QStringLiteral("#") + QString::number(qint64(recordIndex) + 1).rightJustified(4, u'0');
}

QString cardLabelList(const QList<int> &firstCards, int cardCount)
{
    QStringList cards;
    cards.reserve(firstCards.size() + 1);
    for (int index : firstCards)
        cards.append(cardLabel(index));
    if (cardCount > cards.size())
        cards.append(QStringLiteral("…"));
    return cards.join(QStringLiteral(", "));
}
