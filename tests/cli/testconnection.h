#pragma once

// A QSQLITE connection of the test's own, to prepare and read databases
// without going through the code under test. Closed and unregistered on
// destruction, so the file can be handed to a child process afterwards.

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QVariant>

class TestConnection
{
public:
    enum class Mode { ReadWrite, ReadOnly };

    explicit TestConnection(const QString &path, Mode mode = Mode::ReadWrite)
        : m_name(QStringLiteral("test_%1").arg(QUuid::createUuid().toString(QUuid::Id128)))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        if (mode == Mode::ReadOnly)
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        m_open = db.open();
    }
    ~TestConnection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            if (db.isValid())
                db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    TestConnection(const TestConnection &) = delete;
    TestConnection &operator=(const TestConnection &) = delete;

    bool isOpen() const { return m_open; }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

    bool exec(const QString &sql, QString *error = nullptr) const
    {
        QSqlQuery query(db());
        if (query.exec(sql))
            return true;
        if (error)
            *error = query.lastError().text();
        return false;
    }

    // Every row of `sql`, each row's values joined with '|' (NULL shows as "<null>").
    QStringList rows(const QString &sql) const
    {
        QStringList result;
        QSqlQuery query(db());
        if (!query.exec(sql))
            return {QStringLiteral("<error: %1>").arg(query.lastError().text())};
        while (query.next()) {
            QStringList values;
            for (int i = 0; i < query.record().count(); ++i)
                values << (query.isNull(i) ? QStringLiteral("<null>") : query.value(i).toString());
            result << values.join(u'|');
        }
        return result;
    }

private:
    QString m_name;
    bool m_open = false;
};
