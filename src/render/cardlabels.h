#pragma once

#include <QList>
#include <QString>

// "#0041": the card of record index `recordIndex` as the preview labels it.
QString cardLabel(int recordIndex);

// "#0004, #0012, …": the labels of `firstCards`, and "…" when `cardCount`
// cards are affected in all and not every one is listed.
QString cardLabelList(const QList<int> &firstCards, int cardCount);
