// Helper of tst_datasources, for failures that need a process of their own.
//
//   datasources-import-child DATABASE SOURCE_ID ROWS
//     replaces the rows of one data source with a big generated table, so
//     that the test can kill the process in the middle of the transaction.
//     Prints "ready" once the rows are built, just before the import starts.
//   datasources-import-child upsert DATABASE PROJECT_ID FILE [DELIMITER]
//     imports FILE into the project as the window does, under whatever
//     limits the test gave the process (a file-size limit: a full disk).
//
// Prints "done" on success, else the store's message, and exits with 1.

#include "app/dataimport.h"
#include "store/projectstore.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

bool openStore(ProjectStore &store, const QString &path, QString *error)
{
    return store.openDatabase(path, error) && store.initializeSchema(error);
}

int replaceRows(const QStringList &arguments, QTextStream &out)
{
    ProjectStore store;
    QString error;
    if (!openStore(store, arguments.at(1), &error)) {
        out << error << '\n';
        return 1;
    }
    const QStringList header{QStringLiteral("Ticket"), QStringLiteral("Name"), QStringLiteral("City"),
                             QStringLiteral("Code")};
    QList<QStringList> rows;
    const int count = arguments.at(3).toInt();
    rows.reserve(count);
    // Long enough cells that the transaction outgrows the page cache and
    // SQLite starts writing its pages to the log before the commit.
    const QString filler(60, u'x');
    for (int i = 0; i < count; ++i) {
        const QString n = QString::number(i);
        rows.append({n, QStringLiteral("Member ") + n, QStringLiteral("City ") + n, filler + n});
    }
    out << "ready" << Qt::endl;

    if (!store.replaceDataSourceRecords(arguments.at(2).toLongLong(), header, rows, &error)) {
        out << error << '\n';
        return 1;
    }
    out << "done" << Qt::endl;
    return 0;
}

int upsert(const QStringList &arguments, QTextStream &out)
{
    ProjectStore store;
    QString error;
    if (!openStore(store, arguments.at(2), &error)) {
        out << error << '\n';
        return 1;
    }
    DataSourceOptions options;
    if (arguments.size() > 5)
        options.csvDelimiter = arguments.at(5);
    if (!upsertDataSource(store, arguments.at(3).toLongLong(), arguments.at(4), options, &error)) {
        out << error << '\n';
        return 1;
    }
    out << "done" << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QTextStream out(stdout);
    if (arguments.size() >= 5 && arguments.size() <= 6 && arguments.at(1) == u"upsert")
        return upsert(arguments, out);
    if (arguments.size() == 4)
        return replaceRows(arguments, out);
    out << "usage: datasources-import-child DATABASE SOURCE_ID ROWS\n"
           "       datasources-import-child upsert DATABASE PROJECT_ID FILE [DELIMITER]\n";
    return 2;
}
