#pragma once

#include "model/cardtable.h"

#include <QJsonObject>
#include <QList>

// Tests describe cards as objects; the painters read them from a table.
// Rewrites `table` with `edit` applied to its cards as objects.
template<typename Edit>
void editRecords(CardTable &table, Edit edit)
{
    QList<QJsonObject> records = table.objects();
    edit(records);
    table = CardTable::fromObjects(records);
}
