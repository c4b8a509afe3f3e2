// bench-import: one measured import operation per run, so that the calling
// script can wrap each in /usr/bin/time and read its peak memory alone.
//
//   bench-import csv-import FILE DB   fresh database in DB, one project, the CSV imported as its data source
//   bench-import csv-read FILE [MAX]  the CSV reader on FILE (MAX data rows, default all), every cell touched
//   bench-import xlsx-read FILE       the Excel reader on FILE (all rows), every cell touched
//   bench-import records DB           the card records of the newest project in DB (after csv-import)
//
// Each prints one line "<command> seconds=S rows=N columns=C checksum=X": S is
// the wall time of the operation itself (QElapsedTimer), N and C the size of
// what it produced. The readers' checksum is a hash over every cell, so a
// reader that skipped or deferred cells pays for them inside the timed part;
// csv-import's is the summed length of the stored JSON payloads (comparable
// with any other writer of the same compact JSON), records' the summed length
// of every member name and value of every card.
// Exit code 0 on success, 1 when the operation fails (message on stderr), 2 on
// a wrong command line.

#include "app/dataimport.h"
#include "import/tablereader.h"
#include "store/projectstore.h"
#include "store/recordassembly.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QJsonValue>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>

namespace {

int usage()
{
    std::fputs("usage: bench-import csv-import FILE DB | csv-read FILE [MAX] | xlsx-read FILE | records DB\n", stderr);
    return 2;
}

int failure(const char *what, const QString &message)
{
    std::fprintf(stderr, "%s failed: %s\n", what, qPrintable(message));
    return 1;
}

void report(const char *command, qint64 nanoseconds, qsizetype rows, qsizetype columns, quint64 checksum)
{
    std::printf("%s seconds=%.3f rows=%lld columns=%lld checksum=%llu\n", command, double(nanoseconds) / 1e9,
                static_cast<long long>(rows), static_cast<long long>(columns),
                static_cast<unsigned long long>(checksum));
}

// Reads every UTF-16 unit of every cell.
quint64 touchCells(const QStringList &header, const QList<QStringList> &rows)
{
    quint64 sum = 0;
    auto add = [&sum](const QString &cell) {
        for (const QChar c : cell)
            sum = sum * 31 + c.unicode();
        sum += quint64(cell.size());
    };
    for (const QString &name : header)
        add(name);
    for (const QStringList &row : rows) {
        for (const QString &cell : row)
            add(cell);
    }
    return sum;
}

int csvRead(const QString &path, qsizetype maxRows)
{
    QElapsedTimer timer;
    timer.start();
    QStringList header;
    QList<QStringList> rows;
    QString error;
    if (!readCsvFile(path, DataSourceOptions(), &header, &rows, &error, maxRows))
        return failure("csv-read", error);
    const quint64 checksum = touchCells(header, rows);
    report("csv-read", timer.nsecsElapsed(), rows.size(), header.size(), checksum);
    return 0;
}

int xlsxRead(const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    ImportedTable table;
    QString error;
    if (!readXlsxFile(path, DataSourceOptions(), &table, &error, -1))
        return failure("xlsx-read", error);
    const quint64 checksum = touchCells(table.header, table.rows);
    report("xlsx-read", timer.nsecsElapsed(), table.rows.size(), table.header.size(), checksum);
    return 0;
}

int csvImport(const QString &path, const QString &databasePath)
{
    // A fresh database each run: the write-ahead log and shared-memory files of
    // an earlier run would otherwise be replayed into it.
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(databasePath + QLatin1String(suffix));

    QElapsedTimer timer;
    timer.start();
    ProjectStore store;
    QString error;
    if (!store.openDatabase(databasePath, &error) || !store.initializeSchema(&error))
        return failure("csv-import", error);
    const std::optional<Project> project = store.createProject(QStringLiteral("Import benchmark"), &error);
    if (!project)
        return failure("csv-import", error);
    const std::optional<DataSource> source = upsertDataSource(store, project->id, path, DataSourceOptions(), &error);
    if (!source)
        return failure("csv-import", error);
    const qint64 nanoseconds = timer.nsecsElapsed();

    // Not timed: what was stored. The summed payload length is the same for any
    // writer of the same compact JSON, whatever order it puts the members in.
    QStringList columns;
    store.loadDataSourceRecords(source->id, &columns, 1);
    QSqlQuery query(store.database());
    query.prepare(QStringLiteral("SELECT COUNT(*), TOTAL(LENGTH(payload_json)) FROM data_source_records "
                                 "WHERE data_source_id=?"));
    query.addBindValue(source->id);
    if (!query.exec() || !query.next())
        return failure("csv-import", query.lastError().text());
    report("csv-import", nanoseconds, query.value(0).toLongLong(), columns.size(),
           quint64(query.value(1).toDouble()));
    return 0;
}

int records(const QString &databasePath)
{
    if (!QFile::exists(databasePath))
        return failure("records", QStringLiteral("no database at %1 (run csv-import first)").arg(databasePath));
    ProjectStore store;
    QString error;
    if (!store.openDatabase(databasePath, &error) || !store.initializeSchema(&error))
        return failure("records", error);
    const std::optional<Project> project = store.loadLatestProject(&error);
    if (!project)
        return failure("records", error);

    QElapsedTimer timer;
    timer.start();
    QStringList columns;
    const CardTable cards = loadProjectRecords(store, project->id, &columns, &error);
    const qint64 nanoseconds = timer.nsecsElapsed();
    if (cards.isEmpty() && !error.isEmpty())
        return failure("records", error);

    quint64 checksum = 0;
    for (qsizetype card = 0; card < cards.size(); ++card) {
        for (const QString &key : std::as_const(columns))
            checksum += quint64(key.size() + cards.text(card, key).value_or(QString()).size());
    }
    report("records", nanoseconds, cards.size(), columns.size(), checksum);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    const QString command = args.first();
    if (command == QLatin1String("csv-read") && (args.size() == 2 || args.size() == 3)) {
        bool ok = true;
        const qsizetype maxRows = args.size() == 3 ? args.at(2).toLongLong(&ok) : -1;
        return ok ? csvRead(args.at(1), maxRows) : usage();
    }
    if (command == QLatin1String("xlsx-read") && args.size() == 2)
        return xlsxRead(args.at(1));
    if (command == QLatin1String("csv-import") && args.size() == 3)
        return csvImport(args.at(1), args.at(2));
    if (command == QLatin1String("records") && args.size() == 2)
        return records(args.at(1));
    return usage();
}
