#pragma once

#include <QSqlError>
#include <QSqlQuery>
#include <QString>

// Small helpers shared by the store's translation units.
namespace storeutil {

inline bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

inline bool fail(QString *error, const QSqlQuery &query)
{
    return fail(error, query.lastError().text());
}

// Prepares and runs `query` with `values` bound positionally.
template<typename... Values>
bool run(QSqlQuery &query, const QString &sql, QString *error, const Values &...values)
{
    if (!query.prepare(sql))
        return fail(error, query);
    (query.addBindValue(values), ...);
    if (!query.exec())
        return fail(error, query);
    return true;
}

} // namespace storeutil

namespace storeutil {

// Texts are bound as texts: a null QString would reach SQLite as NULL and
// break the NOT NULL text columns, so it goes in as ''.
inline QString text(const QString &value)
{
    return value.isNull() ? QString::fromLatin1("") : value;
}

} // namespace storeutil
