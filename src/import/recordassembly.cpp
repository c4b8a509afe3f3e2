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

// One stored row: its place in the source's text and its sort_index.
struct StoredRow
{
    qint64 sortIndex = 0;
    qsizetype offset = 0;
    qsizetype size = 0;
};

// One member of a stored row as it stands in the JSON text: the name without
// its quotes, still escaped, and the whole value.
struct MemberText
{
    QByteArrayView name;
    QByteArrayView value;
};

// The stored rows of one data source, kept as their UTF-8 JSON text until the
// cards are built: parsing each row and re-inserting its members into the
// card's object costs several times more than parsing each card's text once.
struct SourceRows
{
    qint64 id = 0;
    QByteArray keyPrefix; // "source:<id>:"
    QByteArray text;      // every row's JSON, back to back: one block instead of one per row
    QList<StoredRow> rows; // in sort_index order
    qsizetype cardLimit = 0; // the cards this source's rows can reach: 0 to cardLimit - 1

    QSet<QString> names;
    // The raw member names of the last row whose names were collected. Nearly
    // every row of a file has the same members, so most rows are settled by
    // comparing bytes instead of parsing.
    QList<QByteArray> knownNames;

    QByteArrayView payload(const StoredRow &row) const { return QByteArrayView(text).sliced(row.offset, row.size); }
};

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

// Splits a stored row written as an object of string members, with any
// spacing. Anything else (numbers, nesting, damage) returns false and the row
// goes the slow way, through QJsonDocument alone. Acceptance here is not
// validation: the combined text is parsed by QJsonDocument, and a card whose
// text it rejects is built again the slow way.
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
            if (startsWithByteOrderMark(name))
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
            members->append({name, text.sliced(i, valueEnd - i)});
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

// Adds the member names of one row to its source's column names, as
// loadDataSourceRecords collects them. `members` is the row split, or null
// when it could not be split.
void collectNames(SourceRows &source, QByteArrayView payload, const QList<MemberText> *members)
{
    if (members && sameNames(*members, source.knownNames))
        return;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(payload.toByteArray(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return; // a damaged row has no members
    const QJsonObject object = document.object();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it)
        source.names.insert(it.key());
    if (members) {
        source.knownNames.clear();
        for (const MemberText &member : *members)
            source.knownNames.append(member.name.toByteArray());
    }
}

bool loadSourceRows(ProjectStore &store, qint64 sourceId, SourceRows *source, QString *error)
{
    source->id = sourceId;
    source->keyPrefix = columnKey(sourceId, QString()).toUtf8();

    QSqlQuery query(store.database());
    query.setForwardOnly(true);
    // The store's own query for a source's rows: the text goes through the same
    // conversions as in loadDataSourceRecords, so even a stored text that is
    // not valid UTF-8 reads the same here.
    if (!query.prepare(QStringLiteral("SELECT sort_index, payload_json FROM data_source_records "
                                      "WHERE data_source_id=? ORDER BY sort_index"))) {
        return fail(error, storeutil::errorText(query.lastError()));
    }
    query.addBindValue(sourceId);
    if (!query.exec())
        return fail(error, storeutil::errorText(query.lastError()));
    while (query.next()) {
        const QByteArray payload = query.value(1).toString().toUtf8();
        source->rows.append({query.value(0).toLongLong(), source->text.size(), payload.size()});
        source->text.append(payload);
    }
    if (query.lastError().isValid())
        return fail(error, storeutil::errorText(query.lastError()));
    return true;
}

// The keys a caller asked for, as the member names of the stored rows spell
// them: names of the first source stand for themselves (its bare names), and
// a source's "source:<id>:NAME" keys as NAME under that source. A member with
// an escape or a control character is always written: its name cannot be
// compared byte for byte, and it may be what makes QJsonDocument reject the
// card, which then goes the slow way exactly as without a filter. Such a card
// is pruned once parsed.
struct KeyFilter
{
    QSet<QString> keys;
    QSet<QByteArray> bareNames;
    QList<QSet<QByteArray>> keyedNames; // per source

    KeyFilter(const QStringList &wanted, const QList<SourceRows> &sources)
        : keys(wanted.cbegin(), wanted.cend())
    {
        for (const QString &key : wanted)
            bareNames.insert(key.toUtf8());
        keyedNames.resize(sources.size());
        for (qsizetype s = 0; s < sources.size(); ++s) {
            const QByteArray &prefix = sources.at(s).keyPrefix;
            for (const QByteArray &key : std::as_const(bareNames)) {
                if (key.startsWith(prefix))
                    keyedNames[s].insert(key.sliced(prefix.size()));
            }
        }
    }

    static bool plain(QByteArrayView text)
    {
        for (const char c : text) {
            if (c == '\\' || (c >= 0 && c < 0x20))
                return false;
        }
        return true;
    }
    static bool contains(const QSet<QByteArray> &set, QByteArrayView name)
    {
        return set.contains(QByteArray::fromRawData(name.data(), name.size()));
    }

    void prune(QJsonObject *card) const
    {
        for (auto it = card->begin(); it != card->end();) {
            if (keys.contains(it.key()))
                ++it;
            else
                it = card->erase(it);
        }
    }
};

// A card the fast way: the members of its rows written into one JSON text
// under their keys, parsed once. Members later in the text replace earlier
// ones of the same name, so the order of writing is the order of the rules:
// source by source, and for the first source its bare names right after its keys.
class CardText
{
public:
    void begin()
    {
        m_text.resize(0); // keeps the buffer of the previous card
        m_text.append('{');
        m_needsPruning = false;
    }

    // With `keyed` (and `bare` for the first source) only the members a
    // KeyFilter wants are written.
    void addRow(QByteArrayView keyPrefix, const QList<MemberText> &members, bool withBareNames,
                const QSet<QByteArray> *keyed = nullptr, const QSet<QByteArray> *bare = nullptr)
    {
        qsizetype length = 0;
        for (const MemberText &member : members)
            length += member.name.size() + member.value.size() + 4; // quotes, colon, comma
        length += members.size() * keyPrefix.size();
        if (withBareNames)
            length *= 2;

        qsizetype at = m_text.size();
        m_text.resize(at + length);
        char *out = m_text.data() + at;
        for (const MemberText &member : members) {
            if (wanted(keyed, member))
                out = writeMember(out, keyPrefix, member);
        }
        if (withBareNames) {
            for (const MemberText &member : members) {
                if (wanted(bare, member))
                    out = writeMember(out, {}, member);
            }
        }
        m_text.resize(out - m_text.constData());
    }

    // A member was written whether wanted or not.
    bool needsPruning() const { return m_needsPruning; }

    std::optional<QJsonObject> finish()
    {
        if (m_text.size() > 1)
            m_text.chop(1); // the last comma
        m_text.append('}');
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(m_text, &parseError);
        if (parseError.error != QJsonParseError::NoError)
            return std::nullopt;
        return document.object();
    }

private:
    bool wanted(const QSet<QByteArray> *names, const MemberText &member)
    {
        if (!names)
            return true;
        if (!KeyFilter::plain(member.name) || !KeyFilter::plain(member.value)) {
            m_needsPruning = true;
            return true;
        }
        return KeyFilter::contains(*names, member.name);
    }

    static char *copy(char *out, QByteArrayView bytes)
    {
        if (!bytes.isEmpty())
            std::memcpy(out, bytes.data(), size_t(bytes.size()));
        return out + bytes.size();
    }
    static char *writeMember(char *out, QByteArrayView keyPrefix, const MemberText &member)
    {
        *out++ = '"';
        out = copy(out, keyPrefix);
        out = copy(out, member.name);
        *out++ = '"';
        *out++ = ':';
        out = copy(out, member.value);
        *out++ = ',';
        return out;
    }

    QByteArray m_text;
    bool m_needsPruning = false;
};

// A card the slow way, for rows that are not objects of strings or that
// QJsonDocument rejects: each row parsed on its own (a damaged row adds
// nothing) and its members inserted one by one, in the same order as above.
QJsonObject slowCard(const QList<SourceRows> &sources, const QList<const StoredRow *> &cardRows,
                     const KeyFilter *filter)
{
    QJsonObject card;
    const auto take = [&](const QString &key, const QJsonValue &value) {
        if (!filter || filter->keys.contains(key))
            card.insert(key, value);
    };
    for (qsizetype s = 0; s < sources.size(); ++s) {
        if (!cardRows.at(s))
            continue;
        const QJsonObject row = parseRow(sources.at(s).payload(*cardRows.at(s)));
        for (auto it = row.constBegin(); it != row.constEnd(); ++it)
            take(columnKey(sources.at(s).id, it.key()), it.value());
        if (s == 0) {
            for (auto it = row.constBegin(); it != row.constEnd(); ++it)
                take(it.key(), it.value());
        }
    }
    return card;
}

QList<DataRecord> legacyRecords(ProjectStore &store, qint64 projectId, QStringList *columns, QString *error,
                                const KeyFilter *filter)
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
    QList<DataRecord> records;
    QSet<QString> names;
    while (query.next()) {
        DataRecord record;
        record.sortIndex = query.value(0).toInt();
        record.values = parseRow(query.value(1).toString().toUtf8());
        for (auto it = record.values.constBegin(); it != record.values.constEnd(); ++it)
            names.insert(it.key());
        if (filter)
            filter->prune(&record.values);
        records.append(std::move(record));
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
    return records;
}

} // namespace

QList<DataRecord> loadProjectRecords(ProjectStore &store, qint64 projectId, QStringList *columns, QString *error,
                                     const QStringList *onlyKeys)
{
    if (columns)
        columns->clear();

    QString message;
    const QList<DataSource> dataSources = store.loadDataSources(projectId, &message);
    if (!message.isEmpty()) {
        fail(error, message);
        return {};
    }
    if (dataSources.isEmpty()) {
        const std::optional<KeyFilter> filter =
            onlyKeys ? std::optional<KeyFilter>(std::in_place, *onlyKeys, QList<SourceRows>()) : std::nullopt;
        return legacyRecords(store, projectId, columns, error, filter ? &*filter : nullptr);
    }

    // Sources are combined one after the other, the batch growing to the
    // length of each: a source's rows reach only the cards that exist once it
    // is added, its own and those of the sources before it.
    QList<SourceRows> sources(dataSources.size());
    qsizetype cardCount = 0;
    for (qsizetype s = 0; s < dataSources.size(); ++s) {
        if (!loadSourceRows(store, dataSources.at(s).id, &sources[s], error))
            return {};
        cardCount = std::max(cardCount, sources.at(s).rows.size());
        sources[s].cardLimit = cardCount;
    }

    const std::optional<KeyFilter> filter =
        onlyKeys ? std::optional<KeyFilter>(std::in_place, *onlyKeys, sources) : std::nullopt;

    QList<DataRecord> records;
    records.reserve(cardCount);
    // Rows are in sort_index order, so one cursor per source walks along with
    // the cards; rows before 0 or beyond the source's reach are never met here.
    QList<qsizetype> cursors(sources.size(), 0);
    QList<const StoredRow *> cardRows(sources.size(), nullptr);
    QList<MemberText> members;
    CardText text;
    for (qsizetype card = 0; card < cardCount; ++card) {
        text.begin();
        bool plain = true;
        for (qsizetype s = 0; s < sources.size(); ++s) {
            SourceRows &source = sources[s];
            qsizetype &cursor = cursors[s];
            while (cursor < source.rows.size() && source.rows.at(cursor).sortIndex < card)
                ++cursor;
            const bool hasRow = card < source.cardLimit && cursor < source.rows.size()
                                && source.rows.at(cursor).sortIndex == card;
            cardRows[s] = hasRow ? &source.rows.at(cursor) : nullptr;
            if (!hasRow)
                continue;
            const QByteArrayView payload = source.payload(source.rows.at(cursor));
            const bool split = splitMembers(payload, &members);
            collectNames(source, payload, split ? &members : nullptr);
            if (split && plain) {
                if (filter)
                    text.addRow(source.keyPrefix, members, s == 0, &filter->keyedNames.at(s), &filter->bareNames);
                else
                    text.addRow(source.keyPrefix, members, s == 0);
            }
            plain = plain && split;
        }
        std::optional<QJsonObject> values = plain ? text.finish() : std::nullopt;
        if (values && filter && text.needsPruning())
            filter->prune(&*values);
        if (!values)
            values = slowCard(sources, cardRows, filter ? &*filter : nullptr);
        records.append({int(card), std::move(*values)});
    }

    // The column names count every stored row, also those no card shows.
    QStringList keys;
    for (SourceRows &source : sources) {
        for (const StoredRow &row : std::as_const(source.rows)) {
            if (row.sortIndex >= 0 && row.sortIndex < source.cardLimit)
                continue;
            const QByteArrayView payload = source.payload(row);
            collectNames(source, payload, splitMembers(payload, &members) ? &members : nullptr);
        }
        QStringList names(source.names.cbegin(), source.names.cend());
        sortColumnNames(names);
        for (const QString &name : std::as_const(names))
            keys.append(columnKey(source.id, name));
    }

    if (columns)
        *columns = keys;
    return records;
}
