// Helper of tst_datasources: replaces the rows of one data source with a big
// generated table, so that the test can kill the process in the middle of
// the transaction. Usage: datasources-import-child DATABASE SOURCE_ID ROWS
// Prints "ready" once the rows are built, just before the import starts.

#include "store/projectstore.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QTextStream out(stdout);
    if (arguments.size() != 4) {
        out << "usage: datasources-import-child DATABASE SOURCE_ID ROWS\n";
        return 2;
    }

    ProjectStore store;
    QString error;
    if (!store.openDatabase(arguments.at(1), &error) || !store.initializeSchema(&error)) {
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
