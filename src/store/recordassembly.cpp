#include "recordassembly.h"

#include "model/columnkeys.h"
#include "store/columnorder.h"
#include "store/projectstore.h"
#include "store/sqlutil.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>

namespace {

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

// One member of a stored row as it stands in the JSON text: the name and the
// value without their quotes, the value still escaped.
struct MemberText
{
    QByteArrayView name;
    QByteArrayView value;
};

// A name as it stands is its text: no escape, no control character (which
// QJsonDocument refuses).
bool plainName(QByteArrayView name)
{
    for (const char c : name) {
        if (c == '\\' || (c >= 0 && c < 0x20))
            return false;
    }
    return true;
}

bool isJsonSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Just past the closing quote of the string whose opening quote is at `at`, or -1.
qsizetype stringEnd(QByteArrayView text, qsizetype at)
{
    const char *data = text.data();
    for (qsizetype i = at + 1; i < text.size(); ++i) {
        if (data[i] == '\\')
            ++i;
        else if (data[i] == '"')
            return i + 1;
    }
    return -1;
}

// QJsonDocument treats a raw byte order mark that starts a string in its own
// way: it drops it from a name, but not when "source:<id>:" stands in front,
// and keeps it in a value's storage while leaving it out of the text. Rows
// with one go the slow way, where every member is handled as in the store.
bool startsWithByteOrderMark(QByteArrayView string)
{
    return string.startsWith("\xef\xbb\xbf");
}

// Splits a stored row written as an object of string members with plain
// names, with any spacing. Anything else (numbers, nesting, escaped names,
// damage) returns false and the row goes the slow way, through QJsonDocument
// alone. Acceptance here is not all of validation: a value the table's
// builder cannot take as a JSON string sends its row the slow way too.
bool splitMembers(QByteArrayView text, QList<MemberText> *members)
{
    members->clear();
    const char *data = text.data();
    const qsizetype size = text.size();
    qsizetype i = 0;
    const auto skipSpace = [&] {
        while (i < size && isJsonSpace(data[i]))
            ++i;
    };
    const auto at = [&](char c) { return i < size && data[i] == c; };

    skipSpace();
    if (!at('{'))
        return false;
    ++i;
    skipSpace();
    if (at('}')) {
        ++i;
    } else {
        for (;;) {
            if (!at('"'))
                return false;
            const qsizetype nameEnd = stringEnd(text, i);
            if (nameEnd < 0)
                return false;
            const QByteArrayView name = text.sliced(i + 1, nameEnd - i - 2);
            if (startsWithByteOrderMark(name) || !plainName(name))
                return false;
            i = nameEnd;
            skipSpace();
            if (!at(':'))
                return false;
            ++i;
            skipSpace();
            if (!at('"'))
                return false;
            const qsizetype valueEnd = stringEnd(text, i);
            if (valueEnd < 0 || startsWithByteOrderMark(text.sliced(i + 1, valueEnd - i - 1)))
                return false;
            members->append({name, text.sliced(i + 1, valueEnd - i - 2)});
            i = valueEnd;
            skipSpace();
            if (at(',')) {
                ++i;
                skipSpace();
                continue;
            }
            if (!at('}'))
                return false;
            ++i;
            break;
        }
    }
    skipSpace();
    return i == size;
}

// Text that is not a JSON object (a damaged row) gives an empty object.
QJsonObject parseRow(QByteArrayView payload)
{
    return QJsonDocument::fromJson(payload.toByteArray()).object();
}

bool sameNames(const QList<MemberText> &members, const QList<QByteArray> &names)
{
    if (members.size() != names.size())
        return false;
    for (qsizetype i = 0; i < members.size(); ++i) {
        if (members.at(i).name != names.at(i))
            return false;
    }
    return true;
}

// The keys a caller asked for; without a list, every key is wanted.
struct KeyFilter
{
    bool all = true;
    QSet<QString> keys;

    bool wants(const QString &key) const { return all || keys.contains(key); }
};

// One data source's columns in the table being built, and how its stored
// rows are written into a card.
struct SourceColumns
{
    qint64 id = 0;
    int rank = 0; // of its keyed names; the bare names of the first source rank 1
    QString keyPrefix; // "source:<id>:"
    qsizetype cardLimit = 0; // the cards this source's rows can reach: 0 to cardLimit - 1

    // The table's column of each member of the last row written the fast way
    // (-1: not wanted). Nearly every row of a file has the same members, so
    // most rows are settled by comparing bytes.
    QList<QByteArray> columnNames;
    QList<int> memberColumns;
    QHash<QString, int> columnOf; // by member name; -1: not wanted

    SourceColumns(qint64 id, int position)
        : id(id), rank(2 * position), keyPrefix(columnKey(id, QString()))
    {
    }

    // The table's column for a member name, made when first met.
    int column(const QString &name, CardTableBuilder &builder, const KeyFilter &filter)
    {
        const auto found = columnOf.constFind(name);
        if (found != columnOf.constEnd())
            return *found;
        const QString keyed = keyPrefix + name;
        const bool bare = rank == 0 && filter.wants(name);
        int column = -1;
        if (filter.wants(keyed) || bare) {
            column = builder.addColumn();
            if (filter.wants(keyed))
                builder.addKey(keyed, column, rank);
            if (bare)
                builder.addKey(name, column, 1);
        }
        columnOf.insert(name, column);
        return column;
    }

    // Writes a stored row into the current card: the fast way when it splits
    // into plain string members (`members`), else through QJsonDocument (a
    // damaged row adds nothing).
    void writeRow(QByteArrayView payload, const QList<MemberText> *members, CardTableBuilder &builder,
                  const KeyFilter &filter)
    {
        if (members) {
            if (!sameNames(*members, columnNames)) {
                columnNames.clear();
                memberColumns.clear();
                for (const MemberText &member : *members) {
                    columnNames.append(member.name.toByteArray());
                    memberColumns.append(column(QString::fromUtf8(member.name), builder, filter));
                }
            }
            qsizetype written = 0;
            for (; written < members->size(); ++written) {
                const int column = memberColumns.at(written);
                if (column >= 0 && !builder.setJsonString(column, members->at(written).value))
                    break;
            }
            if (written == members->size())
                return;
            for (qsizetype i = 0; i < written; ++i) {
                if (memberColumns.at(i) >= 0)
                    builder.clearCell(memberColumns.at(i));
            }
        }
        const QJsonObject row = parseRow(payload);
        for (auto it = row.constBegin(); it != row.constEnd(); ++it) {
            const int column = this->column(it.key(), builder, filter);
            if (column >= 0)
                builder.setValue(column, it.value());
        }
    }
};

// The rows of one data source, read one after the other as the cards are
// built, so only the row at hand is held, and the names of its columns.
struct SourceReader : SourceColumns
{
    QSqlQuery query;
    bool atEnd = false;
    qint64 sortIndex = 0; // of the row at hand
    QByteArray payload;   // of the row at hand

    QSet<QString> names;
    // The raw member names of the last row whose names were collected, for
    // the same comparison as the columns'.
    QList<QByteArray> knownNames;

    SourceReader(const QSqlDatabase &db, qint64 id, int position) : SourceColumns(id, position), query(db) {}

    bool next(QString *error)
    {
        if (!query.next()) {
            atEnd = true;
            if (query.lastError().isValid())
                return fail(error, storeutil::errorText(query.lastError()));
            return true;
        }
        sortIndex = query.value(0).toLongLong();
        // The text goes through the same conversions as in
        // loadDataSourceRecords, so even a stored text that is not valid UTF-8
        // reads the same here.
        payload = query.value(1).toString().toUtf8();
        return true;
    }

    // Adds the member names of the row at hand, as loadDataSourceRecords
    // collects them. `members` is the row split, or null when it could not be.
    void collectNames(const QList<MemberText> *members)
    {
        if (members && sameNames(*members, knownNames))
            return;
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(payload, &parseError);
        if (parseError.error != QJsonParseError::NoError || !document.isObject())
            return; // a damaged row has no members
        const QJsonObject object = document.object();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it)
            names.insert(it.key());
        if (members) {
            knownNames.clear();
            for (const MemberText &member : *members)
                knownNames.append(member.name.toByteArray());
        }
    }
};

CardTable legacyRecords(ProjectStore &store, qint64 projectId, QStringList *columns, QString *error,
                        const KeyFilter &filter)
{
    QSqlQuery query(store.database());
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral(
            "SELECT sort_index, payload_json FROM data_records WHERE project_id=? ORDER BY sort_index"))) {
        fail(error, storeutil::errorText(query.lastError()));
        return {};
    }
    query.addBindValue(projectId);
    if (!query.exec()) {
        fail(error, storeutil::errorText(query.lastError()));
        return {};
    }
    CardTableBuilder builder;
    QHash<QString, int> columnOf;
    QSet<QString> names;
    while (query.next()) {
        builder.beginCard(query.value(0).toInt());
        const QJsonObject row = parseRow(query.value(1).toString().toUtf8());
        for (auto it = row.constBegin(); it != row.constEnd(); ++it) {
            names.insert(it.key());
            auto found = columnOf.constFind(it.key());
            if (found == columnOf.constEnd()) {
                int column = -1;
                if (filter.wants(it.key())) {
                    column = builder.addColumn();
                    builder.addKey(it.key(), column, 0);
                }
                found = columnOf.insert(it.key(), column);
            }
            if (*found >= 0)
                builder.setValue(*found, it.value());
        }
    }
    if (query.lastError().isValid()) {
        fail(error, storeutil::errorText(query.lastError()));
        return {};
    }
    if (columns) {
        QStringList sorted(names.cbegin(), names.cend());
        sortColumnNames(sorted);
        *columns = sorted;
    }
    return builder.finish();
}

} // namespace

CardTable loadProjectRecords(ProjectStore &store, qint64 projectId, QStringList *columns, QString *error,
                             const QStringList *onlyKeys)
{
    if (columns)
        columns->clear();

    KeyFilter filter;
    if (onlyKeys) {
        filter.all = false;
        filter.keys = QSet<QString>(onlyKeys->cbegin(), onlyKeys->cend());
    }

    QString message;
    const QList<DataSource> dataSources = store.loadDataSources(projectId, &message);
    if (!message.isEmpty()) {
        fail(error, message);
        return {};
    }
    if (dataSources.isEmpty())
        return legacyRecords(store, projectId, columns, error, filter);

    // Sources are combined one after the other, the batch growing to the
    // length of each: a source's rows reach only the cards that exist once it
    // is added, its own and those of the sources before it.
    std::vector<std::unique_ptr<SourceReader>> sources;
    qsizetype cardCount = 0;
    for (qsizetype s = 0; s < dataSources.size(); ++s) {
        auto source = std::make_unique<SourceReader>(store.database(), dataSources.at(s).id, int(s));
        QString countError;
        const qsizetype rows = store.countDataSourceRecords(source->id, &countError);
        if (!countError.isEmpty()) {
            fail(error, countError);
            return {};
        }
        cardCount = std::max(cardCount, rows);
        source->cardLimit = cardCount;
        QSqlQuery &query = source->query;
        query.setForwardOnly(true);
        if (!query.prepare(QStringLiteral("SELECT sort_index, payload_json FROM data_source_records "
                                          "WHERE data_source_id=? ORDER BY sort_index"))) {
            fail(error, storeutil::errorText(query.lastError()));
            return {};
        }
        query.addBindValue(source->id);
        if (!query.exec()) {
            fail(error, storeutil::errorText(query.lastError()));
            return {};
        }
        if (!source->next(error))
            return {};
        sources.push_back(std::move(source));
    }

    // A row reaches no card when its sort_index is outside the source's reach;
    // its names still count among the columns. (A second row of the same
    // sort_index reaches no card and is not counted either.)
    QList<MemberText> members;
    const auto outsideReach = [](const SourceReader &source) {
        return source.sortIndex < 0 || source.sortIndex >= source.cardLimit;
    };
    const auto skipRow = [&](SourceReader &source) {
        if (outsideReach(source))
            source.collectNames(splitMembers(source.payload, &members) ? &members : nullptr);
        return source.next(error);
    };

    CardTableBuilder builder;
    builder.reserve(cardCount);
    // Rows come in sort_index order, so each source's reader walks along with
    // the cards.
    for (qsizetype card = 0; card < cardCount; ++card) {
        builder.beginCard(int(card));
        for (auto &pointer : sources) {
            SourceReader &source = *pointer;
            while (!source.atEnd && source.sortIndex < card) {
                if (!skipRow(source))
                    return {};
            }
            if (source.atEnd || card >= source.cardLimit || source.sortIndex != card)
                continue;
            const bool split = splitMembers(source.payload, &members);
            source.collectNames(split ? &members : nullptr);
            source.writeRow(source.payload, split ? &members : nullptr, builder, filter);
            if (!source.next(error))
                return {};
        }
    }

    QStringList keys;
    for (auto &pointer : sources) {
        SourceReader &source = *pointer;
        while (!source.atEnd) {
            if (!skipRow(source))
                return {};
        }
        QStringList names(source.names.cbegin(), source.names.cend());
        sortColumnNames(names);
        for (const QString &name : std::as_const(names))
            keys.append(columnKey(source.id, name));
    }

    if (columns)
        *columns = keys;
    return builder.finish();
}

// --- chosen cards ---------------------------------------------------------

struct ProjectCardReader::Data
{
    sqlite3 *db = nullptr;
    std::vector<sqlite3_stmt *> rowStatements; // per source: its row of one sort_index
    // Each read builds with columns of its own; the sources' column maps are
    // per read, so only the statements need the lock.
    QList<std::pair<qint64, qsizetype>> sources; // id, card limit
    KeyFilter filter;
    qsizetype cardCount = 0;
    mutable std::mutex mutex;

    ~Data()
    {
        for (sqlite3_stmt *statement : rowStatements)
            sqlite3_finalize(statement);
        if (db)
            sqlite3_close_v2(db); // ends the read transaction
    }

    QString lastError() const
    {
        return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
    }

    bool exec(const char *sql, QString *error) const
    {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
            return true;
        return fail(error, lastError());
    }

    // A stored payload as Qt's driver hands it to loadProjectRecords: texts
    // through UTF-16 (so that bytes that are not UTF-8 read the same), a blob
    // as UTF-8; numbers and NULL can hold no row.
    static QByteArray payload(sqlite3_stmt *statement)
    {
        switch (sqlite3_column_type(statement, 0)) {
        case SQLITE_TEXT: {
            const void *text = sqlite3_column_text16(statement, 0);
            const int bytes = sqlite3_column_bytes16(statement, 0);
            return QString(static_cast<const QChar *>(text), bytes / 2).toUtf8();
        }
        case SQLITE_BLOB: {
            const char *blob = static_cast<const char *>(sqlite3_column_blob(statement, 0));
            return QString::fromUtf8(blob, sqlite3_column_bytes(statement, 0)).toUtf8();
        }
        default:
            return {};
        }
    }
};

ProjectCardReader::ProjectCardReader() : d(std::make_unique<Data>()) {}
ProjectCardReader::~ProjectCardReader() = default;

std::shared_ptr<ProjectCardReader> ProjectCardReader::open(ProjectStore &store, qint64 projectId,
                                                           const QStringList &keys, QString *error)
{
    const QString path = store.database().databaseName();
    if (path.isEmpty() || path == QLatin1String(":memory:") || path.startsWith(QLatin1String("file::memory:")))
        return nullptr;

    std::shared_ptr<ProjectCardReader> reader(new ProjectCardReader());
    Data &d = *reader->d;
    d.filter.all = false;
    d.filter.keys = QSet<QString>(keys.cbegin(), keys.cend());
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &d.db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX,
                        nullptr)
        != SQLITE_OK) {
        fail(error, d.lastError());
        return nullptr;
    }
    sqlite3_busy_timeout(d.db, 5000);
    // Cards are looked up one by one across the whole run: a cache as large
    // as the store's would only fill with pages read once.
    if (!d.exec("PRAGMA cache_size = -2048", error) || !d.exec("BEGIN", error))
        return nullptr;

    sqlite3_stmt *statement = nullptr;
    const auto prepare = [&](const char *sql) {
        if (sqlite3_prepare_v2(d.db, sql, -1, &statement, nullptr) == SQLITE_OK)
            return true;
        fail(error, d.lastError());
        return false;
    };
    // The sources in loadDataSources' order; the first read fixes the snapshot.
    if (!prepare("SELECT id FROM data_sources WHERE project_id=?1 ORDER BY sort_order, id"))
        return nullptr;
    sqlite3_bind_int64(statement, 1, projectId);
    QList<qint64> ids;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW)
        ids.append(sqlite3_column_int64(statement, 0));
    sqlite3_finalize(statement);
    if (step != SQLITE_DONE) {
        fail(error, d.lastError());
        return nullptr;
    }
    if (ids.isEmpty())
        return nullptr; // the older single table: read whole

    // A source's rows reach the cards that exist once it is added, as in
    // loadProjectRecords.
    for (const qint64 id : std::as_const(ids)) {
        if (!prepare("SELECT COUNT(*) FROM data_source_records WHERE data_source_id=?1"))
            return nullptr;
        sqlite3_bind_int64(statement, 1, id);
        step = sqlite3_step(statement);
        const qsizetype rows = step == SQLITE_ROW ? qsizetype(sqlite3_column_int(statement, 0)) : 0;
        sqlite3_finalize(statement);
        if (step != SQLITE_ROW) {
            fail(error, d.lastError());
            return nullptr;
        }
        d.cardCount = std::max(d.cardCount, rows);
        d.sources.append({id, d.cardCount});
        if (!prepare("SELECT payload_json FROM data_source_records WHERE data_source_id=?1 AND sort_index=?2"))
            return nullptr;
        sqlite3_bind_int64(statement, 1, id);
        d.rowStatements.push_back(statement);
    }
    return reader;
}

qsizetype ProjectCardReader::cardCount() const
{
    return d->cardCount;
}

CardTable ProjectCardReader::read(const QList<int> &cards, QString *error) const
{
    // The rows are fetched under the lock (the statements are shared), the
    // cards built outside it.
    const qsizetype sourceCount = d->sources.size();
    std::vector<std::optional<QByteArray>> payloads(size_t(cards.size() * sourceCount));
    {
        const std::lock_guard lock(d->mutex);
        for (qsizetype c = 0; c < cards.size(); ++c) {
            const int card = cards.at(c);
            for (qsizetype s = 0; s < sourceCount; ++s) {
                if (card < 0 || card >= d->sources.at(s).second)
                    continue;
                sqlite3_stmt *statement = d->rowStatements[size_t(s)];
                sqlite3_bind_int64(statement, 2, card);
                const int step = sqlite3_step(statement);
                if (step == SQLITE_ROW)
                    payloads[size_t(c * sourceCount + s)] = Data::payload(statement);
                sqlite3_reset(statement);
                if (step != SQLITE_ROW && step != SQLITE_DONE) {
                    fail(error, d->lastError());
                    return {};
                }
            }
        }
    }

    std::vector<SourceColumns> columns;
    columns.reserve(size_t(sourceCount));
    for (qsizetype s = 0; s < sourceCount; ++s)
        columns.emplace_back(d->sources.at(s).first, int(s));
    CardTableBuilder builder;
    builder.reserve(cards.size());
    QList<MemberText> members;
    for (qsizetype c = 0; c < cards.size(); ++c) {
        builder.beginCard(cards.at(c));
        for (qsizetype s = 0; s < sourceCount; ++s) {
            const std::optional<QByteArray> &payload = payloads[size_t(c * sourceCount + s)];
            if (!payload)
                continue;
            const bool split = splitMembers(*payload, &members);
            columns[size_t(s)].writeRow(*payload, split ? &members : nullptr, builder, d->filter);
        }
    }
    return builder.finish();
}
