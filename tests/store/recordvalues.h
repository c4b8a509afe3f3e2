#pragma once

// Small helpers for tests that look at loaded or assembled data records:
// their values and sort indexes as plain lists, and a JSON object written
// inline.

#include "model/datasource.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <initializer_list>
#include <utility>

namespace storetest {

inline QJsonObject object(std::initializer_list<std::pair<QString, QString>> members)
{
    QJsonObject result;
    for (const auto &[name, value] : members)
        result.insert(name, value);
    return result;
}

inline QList<QJsonObject> valuesOf(const QList<DataRecord> &records)
{
    QList<QJsonObject> values;
    for (const DataRecord &record : records)
        values << record.values;
    return values;
}

inline QList<int> sortIndexesOf(const QList<DataRecord> &records)
{
    QList<int> indexes;
    for (const DataRecord &record : records)
        indexes << record.sortIndex;
    return indexes;
}

} // namespace storetest
