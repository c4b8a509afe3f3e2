#pragma once

#include <QSqlError>
#include <QSqlQuery>
#include <QString>

// Small helpers shared by the store's translation units.
namespace storeutil {

inline QString databaseInUseMessage()
{
    return QStringLiteral("The project database is in use by another program; try again");
}

// What the user is told about a failed statement. SQLite's "database is
// locked" (SQLITE_BUSY, 5) and "database table is locked" (SQLITE_LOCKED, 6)
// arrive only after the busy timeout, when another program has held the file
// all that time; the driver's text ("database is locked Unable to fetch row")
// says nothing a user can act on.
inline QString errorText(const QSqlError &error)
{
    bool isNumber = false;
    const int primary = error.nativeErrorCode().toInt(&isNumber) & 0xff; // extended codes keep it in the low byte
    if (isNumber && (primary == 5 || primary == 6))
        return databaseInUseMessage();
    return error.text();
}

inline bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

inline bool fail(QString *error, const QSqlQuery &query)
{
    return fail(error, errorText(query.lastError()));
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
