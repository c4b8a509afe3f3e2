#include "projectstore.h"
#include "sqlutil.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

ProjectStore::ProjectStore()
    : m_connectionName(QStringLiteral("vdp_%1").arg(QUuid::createUuid().toString(QUuid::Id128)))
{
}

ProjectStore::~ProjectStore()
{
    {
        // The handle must be gone before the connection is removed from the registry.
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isValid())
            db.close();
    }
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::removeDatabase(m_connectionName);
}

QSqlDatabase ProjectStore::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

bool ProjectStore::openDatabase(const QString &path, QString *error)
{
    QSqlDatabase db = QSqlDatabase::contains(m_connectionName)
                          ? QSqlDatabase::database(m_connectionName, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(path);
    if (!db.open()) {
        if (error)
            *error = storeutil::errorText(db.lastError());
        return false;
    }
    return true;
}

bool ProjectStore::execStatement(const QString &sql, QString *error)
{
    QSqlQuery query(database());
    if (!query.exec(sql)) {
        if (error)
            *error = storeutil::errorText(query.lastError());
        return false;
    }
    return true;
}
