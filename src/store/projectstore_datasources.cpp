#include "projectstore.h"
#include "columnorder.h"
#include "sqlutil.h"
#include "csvrecordimport.h"
#include "recordpayload.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

using namespace storeutil;
using namespace recordpayload;

// Text comparison finds an existing source, so "data/x.csv", "./data/x.csv"
// and "/cwd/data/x.csv" must all give the same text; symbolic links are
// deliberately not resolved (the user's path is what the watcher and the
// "Open File" button work with).
QString absoluteSourcePath(const QString &filePath)
{
    return QDir::cleanPath(QFileInfo(filePath).absoluteFilePath());
}

namespace {

const QString sourceColumns = QStringLiteral(
    "SELECT id, project_id, file_path, display_name, sort_order, worksheet_name, csv_encoding, csv_delimiter "
    "FROM data_sources ");

DataSource sourceFromRow(const QSqlQuery &query)
{
    DataSource source;
    source.id = query.value(0).toLongLong();
    source.projectId = query.value(1).toLongLong();
    source.filePath = query.value(2).toString();
    source.displayName = query.value(3).toString();
    source.sortOrder = query.value(4).toInt();
    source.options.worksheetName = query.value(5).toString();
    source.options.csvEncoding = query.value(6).toString();
    source.options.csvDelimiter = query.value(7).toString();
    return source;
}

// The length of a row's JSON before escaping, which can only lengthen it.
qsizetype payloadLength(const PayloadLayout &layout, const QStringList &row)
{
    qsizetype length = layout.fixedLength;
    for (const PayloadLayout::Member &member : layout.members)
        length += member.column < row.size() ? row.at(member.column).size() : 0;
    return length;
}

QString payloadJson(const PayloadLayout &layout, const QStringList &row)
{
    QString json;
    json.reserve(payloadLength(layout, row) + 16);
    json.append(u'{');
    bool first = true;
    for (const PayloadLayout::Member &member : layout.members) {
        if (!first)
            json.append(u',');
        first = false;
        json.append(member.prefix);
        // Cells beyond the header were never given a member; missing cells are ''.
        appendJsonString(json, member.column < row.size() ? QStringView(row.at(member.column)) : QStringView());
    }
    json.append(u'}');
    return json;
}

// Ends a failed transaction. The statement's message is what the caller
// reports, so a failing rollback adds nothing to it.
bool rollBack(QSqlDatabase &db, QString *error, const QString &message)
{
    db.rollback();
    return fail(error, message);
}

// Replaces the stored rows of a source and refreshes its updated_at, inside
// the caller's transaction; the caller rolls back when this fails. The hot
// path of an import (hundreds of thousands of rows): one prepared INSERT
// re-run with new values, and each row's JSON written directly instead of
// through QJsonObject and QJsonDocument.
bool writeRecords(QSqlDatabase &db, qint64 sourceId, const QStringList &header, const QList<QStringList> &rows,
                  QString *error, const CancelCheck &cancelRequested = {})
{
    const auto cancelled = [&cancelRequested] { return cancelRequested && cancelRequested(); };
    const PayloadLayout layout = payloadLayout(header);
    {
        const QString tooLarge = storedTextTooLargeMessage();
        // The names alone first, so that a wide header over many rows is not summed cell by cell.
        if (qint64(layout.fixedLength) * rows.size() > maxStoredText)
            return fail(error, tooLarge);
        qint64 total = 0;
        for (const QStringList &row : rows) {
            total += payloadLength(layout, row);
            if (total > maxStoredText)
                return fail(error, tooLarge);
        }
    }

    {
        QSqlQuery remove(db);
        if (!run(remove, QStringLiteral("DELETE FROM data_source_records WHERE data_source_id=?"), error, sourceId))
            return false;
    }

    {
        // Rows go in batches of several rows per statement: the per-statement
        // cost of the SQL layer is most of an import's time otherwise. A
        // batch holds all its rows' JSON at once, so rows of much text go
        // one at a time, as does the remainder.
        constexpr qsizetype batchRows = 64;
        constexpr qsizetype batchText = 16 * 1024 * 1024;
        const QString single = QStringLiteral("(?,?,?)");
        QString batchSql = QStringLiteral(
            "INSERT INTO data_source_records(data_source_id, sort_index, payload_json) VALUES");
        const QString singleSql = batchSql + single;
        for (qsizetype i = 0; i < batchRows; ++i)
            batchSql += (i ? QStringLiteral(",") : QString()) + single;

        QSqlQuery batch(db);
        QSqlQuery insert(db);
        if (!batch.prepare(batchSql))
            return fail(error, batch);
        if (!insert.prepare(singleSql))
            return fail(error, insert);
        insert.bindValue(0, sourceId);
        const auto insertOne = [&](qsizetype i) {
            insert.bindValue(1, qint64(i));
            insert.bindValue(2, payloadJson(layout, rows.at(i)));
            return insert.exec() || fail(error, insert);
        };

        qsizetype i = 0;
        for (; i + batchRows <= rows.size(); i += batchRows) {
            if (cancelled())
                return fail(error, importCancelledMessage());
            qsizetype length = 0;
            for (qsizetype k = 0; k < batchRows; ++k)
                length += payloadLength(layout, rows.at(i + k));
            if (length > batchText) {
                for (qsizetype k = 0; k < batchRows; ++k) {
                    if (!insertOne(i + k))
                        return false;
                }
                continue;
            }
            for (qsizetype k = 0; k < batchRows; ++k) {
                const int place = int(k * 3);
                batch.bindValue(place, sourceId);
                batch.bindValue(place + 1, qint64(i + k));
                batch.bindValue(place + 2, payloadJson(layout, rows.at(i + k)));
            }
            if (!batch.exec())
                return fail(error, batch);
        }
        for (; i < rows.size(); ++i) {
            if (!insertOne(i))
                return false;
        }
    }

    QSqlQuery touch(db);
    if (!run(touch, QStringLiteral("UPDATE data_sources SET updated_at=CURRENT_TIMESTAMP WHERE id=?"), error,
             sourceId))
        return false;
    // The caller commits next: the last point at which nothing has happened yet.
    return !cancelled() || fail(error, importCancelledMessage());
}

} // namespace

namespace {

// One transaction: a failure or a cancel keeps the source's previous rows.
bool replaceRecords(QSqlDatabase &db, qint64 sourceId, const QStringList &header, const QList<QStringList> &rows,
                    QString *error, const CancelCheck &cancelRequested)
{
    if (!beginWriteTransaction(db, error))
        return false;
    QString message;
    if (!writeRecords(db, sourceId, header, rows, &message, cancelRequested))
        return rollBack(db, error, message);
    if (!db.commit())
        return rollBack(db, error, errorText(db.lastError()));
    return true;
}

// The source already stored for the path, if any.
bool findSource(const QSqlDatabase &db, qint64 projectId, const QString &absolutePath,
                std::optional<DataSource> *source, QString *error)
{
    QSqlQuery find(db);
    if (!run(find, sourceColumns % QStringLiteral("WHERE project_id=? AND file_path=?"), error, projectId,
             absolutePath))
        return false;
    if (find.next())
        *source = sourceFromRow(find);
    return true;
}

// The new options of a known source, or the entry of a new one, inside the
// caller's transaction.
bool writeSourceEntry(const QSqlDatabase &db, qint64 projectId, const QString &absolutePath,
                      const DataSourceOptions &options, std::optional<DataSource> *source, QString *message)
{
    if (*source) {
        QSqlQuery update(db);
        if (!run(update,
                 QStringLiteral("UPDATE data_sources SET worksheet_name=?,csv_encoding=?,csv_delimiter=? WHERE id=?"),
                 message, text(options.worksheetName), text(options.csvEncoding), text(options.csvDelimiter),
                 (*source)->id))
            return false;
        (*source)->options = options;
        return true;
    }
    QSqlQuery insert(db);
    const QString displayName = QFileInfo(absolutePath).fileName();
    if (!run(insert,
             QStringLiteral("INSERT INTO data_sources(project_id, file_path, display_name, sort_order, "
                            "worksheet_name, csv_encoding, csv_delimiter) "
                            "VALUES(?,?,?,(SELECT COALESCE(MAX(sort_order), -1) + 1 FROM data_sources "
                            "WHERE project_id=?),?,?,?)"),
             message, projectId, absolutePath, displayName, projectId, text(options.worksheetName),
             text(options.csvEncoding), text(options.csvDelimiter)))
        return false;
    // Read back rather than recomputed: the sort order comes from the sub-query.
    const qint64 id = insert.lastInsertId().toLongLong();
    QSqlQuery created(db);
    if (!run(created, sourceColumns % QStringLiteral("WHERE id=?"), message, id))
        return false;
    if (!created.next())
        return fail(message, QStringLiteral("Data source does not exist"));
    *source = sourceFromRow(created);
    return true;
}

} // namespace

// The rows of a streamed file go into the transaction once its header has
// been read; a table read whole is written after a last look at the cancel.
std::optional<DataSource> ProjectStore::upsertDataSource(qint64 projectId, const QString &filePath,
                                                         const DataSourceOptions &options,
                                                         const RecordRowProducer &rows, QString *error,
                                                         const std::function<bool()> &cancelRequested)
{
    const QString absolutePath = absoluteSourcePath(filePath);
    QSqlDatabase db = database();
    std::optional<DataSource> source;
    const SourceEntry entry = [&](QString *message) -> std::optional<qint64> {
        if (!findSource(db, projectId, absolutePath, &source, message)
            || !writeSourceEntry(db, projectId, absolutePath, options, &source, message))
            return std::nullopt;
        return source->id;
    };
    if (!importRecordRows(db, rows, entry, error, cancelRequested))
        return std::nullopt;
    return source;
}

std::optional<DataSource> ProjectStore::upsertDataSource(qint64 projectId, const QString &filePath,
                                                         const DataSourceOptions &options, const ImportedTable &table,
                                                         QString *error, const std::function<bool()> &cancelRequested)
{
    // A cancel after the last row was read: what was read is dropped here.
    if (cancelRequested && cancelRequested()) {
        fail(error, importCancelledMessage());
        return std::nullopt;
    }
    const QString absolutePath = absoluteSourcePath(filePath);
    QSqlDatabase db = database();
    std::optional<DataSource> source;
    if (!findSource(db, projectId, absolutePath, &source, error))
        return std::nullopt;

    if (!beginWriteTransaction(db, error))
        return std::nullopt;
    QString message;
    if (!writeSourceEntry(db, projectId, absolutePath, options, &source, &message)
        || !writeRecords(db, source->id, table.header, table.rows, &message, cancelRequested) || !db.commit()) {
        if (message.isEmpty())
            message = errorText(db.lastError());
        rollBack(db, error, message);
        return std::nullopt;
    }
    return source;
}

bool ProjectStore::replaceDataSourceRecords(qint64 sourceId, const RecordRowProducer &rows, QString *error,
                                            const std::function<bool()> &cancelRequested)
{
    QSqlDatabase db = database();
    return importRecordRows(db, rows, [sourceId](QString *) { return std::optional<qint64>(sourceId); }, error,
                            cancelRequested);
}

bool ProjectStore::replaceDataSourceRecords(qint64 sourceId, const QStringList &header,
                                            const QList<QStringList> &rows, QString *error,
                                            const std::function<bool()> &cancelRequested)
{
    if (cancelRequested && cancelRequested())
        return fail(error, importCancelledMessage());
    QSqlDatabase db = database();
    return replaceRecords(db, sourceId, header, rows, error, cancelRequested);
}

std::optional<DataSource> ProjectStore::loadDataSource(qint64 sourceId, QString *error)
{
    QSqlQuery query(database());
    if (!run(query, sourceColumns % QStringLiteral("WHERE id=?"), error, sourceId))
        return std::nullopt;
    if (!query.next()) {
        fail(error, QStringLiteral("Data source does not exist"));
        return std::nullopt;
    }
    return sourceFromRow(query);
}

QList<DataSource> ProjectStore::loadDataSources(qint64 projectId, QString *error)
{
    QSqlQuery query(database());
    query.setForwardOnly(true);
    if (!run(query, sourceColumns % QStringLiteral("WHERE project_id=? ORDER BY sort_order, id"), error, projectId))
        return {};
    QList<DataSource> sources;
    while (query.next())
        sources.append(sourceFromRow(query));
    return sources;
}

QList<DataRecord> ProjectStore::loadDataSourceRecords(qint64 sourceId, QStringList *columns, int limit,
                                                      QString *error)
{
    QString sql = QStringLiteral(
        "SELECT sort_index, payload_json FROM data_source_records WHERE data_source_id=? ORDER BY sort_index");
    if (limit >= 0)
        sql += QStringLiteral(" LIMIT ?");
    QSqlQuery query(database());
    query.setForwardOnly(true);
    if (!query.prepare(sql)) {
        fail(error, query);
        return {};
    }
    query.addBindValue(sourceId);
    if (limit >= 0)
        query.addBindValue(limit);
    if (!query.exec()) {
        fail(error, query);
        return {};
    }

    QList<DataRecord> records;
    QSet<QString> names;
    // Nearly every row of a file has the same members; comparing with the
    // previous row's names skips most of the set insertions.
    QStringList previousNames;
    while (query.next()) {
        DataRecord record;
        record.sortIndex = query.value(0).toInt();
        // Text that is not a JSON object (a damaged row) gives an empty object.
        record.values = QJsonDocument::fromJson(query.value(1).toString().toUtf8()).object();
        if (columns) {
            QStringList rowNames = record.values.keys();
            if (rowNames != previousNames) {
                for (const QString &name : std::as_const(rowNames))
                    names.insert(name);
                previousNames = std::move(rowNames);
            }
        }
        records.append(std::move(record));
    }
    if (query.lastError().isValid()) {
        fail(error, query);
        return {};
    }

    if (columns) {
        QStringList sorted(names.cbegin(), names.cend());
        sortColumnNames(sorted);
        *columns = sorted;
    }
    return records;
}

int ProjectStore::countDataSourceRecords(qint64 sourceId, QString *error)
{
    QSqlQuery query(database());
    if (!run(query, QStringLiteral("SELECT COUNT(*) FROM data_source_records WHERE data_source_id=?"), error,
             sourceId))
        return 0;
    if (!query.next()) {
        fail(error, query);
        return 0;
    }
    return query.value(0).toInt();
}

bool ProjectStore::deleteDataSource(qint64 sourceId, QString *error)
{
    QSqlQuery query(database());
    return run(query, QStringLiteral("DELETE FROM data_sources WHERE id=?"), error, sourceId);
}
