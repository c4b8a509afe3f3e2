#include "recordassembly.h"

#include "columnkeys.h"
#include "store/columnorder.h"
#include "store/projectstore.h"
#include "store/sqlutil.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cstring>
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

// The rows of one data source, read one after the other as the cards are
// built, so only the row at hand is held; and the source's columns in the
// table being built.
struct SourceReader
{
    qint64 id = 0;
    int rank = 0; // of its keyed names; the bare names of the first source rank 1
    QString keyPrefix; // "source:<id>:"
    qsizetype cardLimit = 0; // the cards this source's rows can reach: 0 to cardLimit - 1
    QSqlQuery query;
    bool atEnd = false;
    qint64 sortIndex = 0; // of the row at hand
    QByteArray payload;   // of the row at hand

    QSet<QString> names;
    // The raw member names of the last row whose names were collected. Nearly
    // every row of a file has the same members, so most rows are settled by
    // comparing bytes instead of parsing.
    QList<QByteArray> knownNames;
    // The table's column of each member of the last row written the fast way
    // (-1: not wanted), for the same comparison.
    QList<QByteArray> columnNames;
    QList<int> memberColumns;
    QHash<QString, int> columnOf; // by member name; -1: not wanted

    explicit SourceReader(const QSqlDatabase &db) : query(db) {}

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

    // Writes the row at hand into the current card: the fast way when it
    // splits into plain string members, else through QJsonDocument (a damaged
    // row adds nothing).
    void writeRow(const QList<MemberText> *members, CardTableBuilder &builder, const KeyFilter &filter)
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
        auto source = std::make_unique<SourceReader>(store.database());
        source->id = dataSources.at(s).id;
        source->rank = int(2 * s);
        source->keyPrefix = columnKey(source->id, QString());
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
            source.writeRow(split ? &members : nullptr, builder, filter);
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
