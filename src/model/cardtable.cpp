#include "cardtable.h"

#include "sequence_p.h"
#include "model/datasource.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QVariant>
#include <QVarLengthArray>

#include <algorithm>
#include <cstring>

namespace {

enum CellKind : quint32 { Absent = 0, Utf8 = 1, Json = 2 };

// One card's value of one column: bytes in a chunk of the text store, or
// (Json) an index into the table's list of values that are not plain texts.
struct Cell
{
    quint32 chunk = 0;
    quint32 pos = 0;
    quint32 size = 0;
    quint32 kind = Absent;
};

struct KeyEntry
{
    int column = 0;
    int rank = 0;
};
using KeyEntries = QVarLengthArray<KeyEntry, 1>; // highest rank first

// Texts go into chunks of this size, so the store grows without copying what
// it holds; a longer text gets a chunk of its own.
constexpr qsizetype chunkSize = qsizetype(1) << 20;

// QString::fromUtf8 drops a leading byte order mark and cannot carry a lone
// surrogate: such a text is kept as a JSON value instead.
bool utf8Faithful(QStringView text)
{
    return text.isValidUtf16() && !text.startsWith(QChar(0xFEFF));
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int hex4(const char *p)
{
    int value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexValue(p[i]);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

void appendCodePoint(QByteArray &out, char32_t c)
{
    if (c < 0x80) {
        out.append(char(c));
    } else if (c < 0x800) {
        out.append(char(0xC0 | (c >> 6)));
        out.append(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.append(char(0xE0 | (c >> 12)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    } else {
        out.append(char(0xF0 | (c >> 18)));
        out.append(char(0x80 | ((c >> 12) & 0x3F)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    }
}

enum class Decoded { Text, NeedsJson, Invalid };

// The UTF-8 text of a JSON string body. NeedsJson: valid, but its text is not
// one UTF-8 can hold faithfully (a lone surrogate, a leading byte order mark).
Decoded decodeJsonString(QByteArrayView escaped, QByteArray *out)
{
    out->resize(0);
    const char *p = escaped.data();
    const char *const end = p + escaped.size();
    bool faithful = true;
    while (p < end) {
        const char *run = p;
        while (p < end && *p != '\\' && static_cast<unsigned char>(*p) >= 0x20)
            ++p;
        out->append(run, p - run);
        if (p == end)
            break;
        if (*p != '\\')
            return Decoded::Invalid; // a raw control character
        if (++p == end)
            return Decoded::Invalid;
        switch (*p++) {
        case '"': out->append('"'); break;
        case '\\': out->append('\\'); break;
        case '/': out->append('/'); break;
        case 'b': out->append('\b'); break;
        case 'f': out->append('\f'); break;
        case 'n': out->append('\n'); break;
        case 'r': out->append('\r'); break;
        case 't': out->append('\t'); break;
        case 'u': {
            if (end - p < 4)
                return Decoded::Invalid;
            const int unit = hex4(p);
            if (unit < 0)
                return Decoded::Invalid;
            p += 4;
            if (unit >= 0xD800 && unit < 0xDC00) {
                const int low = (end - p >= 6 && p[0] == '\\' && p[1] == 'u') ? hex4(p + 2) : -1;
                if (low >= 0xDC00 && low < 0xE000) {
                    p += 6;
                    appendCodePoint(*out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(low) - 0xDC00));
                } else {
                    faithful = false;
                }
            } else if (unit >= 0xDC00 && unit < 0xE000) {
                faithful = false;
            } else {
                appendCodePoint(*out, char32_t(unit));
            }
            break;
        }
        default:
            return Decoded::Invalid;
        }
    }
    if (out->startsWith("\xef\xbb\xbf"))
        faithful = false;
    return faithful ? Decoded::Text : Decoded::NeedsJson;
}

} // namespace

QString recordValueText(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    return value.toVariant().toString();
}

struct CardTable::Data
{
    std::vector<std::vector<Cell>> columns; // column-major, each as long as `sortIndex`
    std::vector<int> sortIndex;
    std::vector<QByteArray> chunks;
    QList<QJsonValue> values;
    QHash<QString, KeyEntries> keys;
    QStringList keyOrder;

    const Cell *find(qsizetype row, const QString &key) const
    {
        if (row < 0 || row >= qsizetype(sortIndex.size()))
            return nullptr;
        const auto found = keys.constFind(key);
        if (found == keys.constEnd())
            return nullptr;
        for (const KeyEntry &entry : *found) {
            const Cell &cell = columns[size_t(entry.column)][size_t(row)];
            if (cell.kind != Absent)
                return &cell;
        }
        return nullptr;
    }

    QByteArrayView bytes(const Cell &cell) const
    {
        if (cell.size == 0)
            return {};
        return QByteArrayView(chunks[cell.chunk].constData() + cell.pos, cell.size);
    }

    QJsonValue value(const Cell &cell) const
    {
        if (cell.kind == Json)
            return values.at(cell.pos);
        return QJsonValue(QString::fromUtf8(bytes(cell)));
    }

    QString text(const Cell &cell) const
    {
        if (cell.kind == Json)
            return recordValueText(values.at(cell.pos));
        return QString::fromUtf8(bytes(cell));
    }
};

struct CardTable::Generated
{
    struct Sequence
    {
        QString key;
        SequenceCursor cursor;   // counting path: copied per value, so reads stay const
        QStringList walked;      // the walking path: every value, worked out once
        bool walks = false;
    };
    struct Prize
    {
        QString key;
        QStringList names;
        std::vector<quint32> cards;
    };
    qsizetype cardCount = 0; // sequences reach card numbers below this
    QList<Sequence> sequences;
    QList<Prize> prizes;
};

CardTable::CardTable() = default;

namespace {

void appendObject(CardTableBuilder &builder, int sortIndex, const QJsonObject &record)
{
    builder.beginCard(sortIndex);
    for (auto it = record.constBegin(); it != record.constEnd(); ++it) {
        int column = builder.column(it.key());
        if (column < 0) {
            column = builder.addColumn();
            builder.addKey(it.key(), column, 0);
        }
        builder.setValue(column, it.value());
    }
}

} // namespace

CardTable CardTable::fromObjects(const QList<QJsonObject> &records)
{
    CardTableBuilder builder;
    for (qsizetype i = 0; i < records.size(); ++i)
        appendObject(builder, int(i), records.at(i));
    return builder.finish();
}

CardTable CardTable::fromRecords(const QList<DataRecord> &records)
{
    CardTableBuilder builder;
    for (const DataRecord &record : records)
        appendObject(builder, record.sortIndex, record.values);
    return builder.finish();
}

CardTable CardTable::blank(qsizetype cardCount)
{
    CardTable table;
    table.m_size = std::max<qsizetype>(cardCount, 0);
    return table;
}

qsizetype CardTable::row(qsizetype card) const
{
    if (!m_data || card < 0 || card >= m_size)
        return -1;
    if (!m_byNumber)
        return card < qsizetype(m_data->sortIndex.size()) ? card : -1;
    const std::vector<int> &numbers = m_data->sortIndex;
    const auto at = std::lower_bound(numbers.cbegin(), numbers.cend(), card);
    return at != numbers.cend() && *at == card ? qsizetype(at - numbers.cbegin()) : -1;
}

int CardTable::sortIndex(qsizetype card) const
{
    if (m_byNumber)
        return int(card);
    if (m_data && card >= 0 && card < qsizetype(m_data->sortIndex.size()))
        return m_data->sortIndex[size_t(card)];
    return int(card);
}

std::optional<QString> CardTable::generatedText(qsizetype card, const QString &key, bool *handled) const
{
    *handled = false;
    if (!m_generated || card < 0 || card >= m_size)
        return std::nullopt;
    const qint64 number = sortIndex(card);
    if (number < 0)
        return std::nullopt;
    for (const Generated::Sequence &sequence : m_generated->sequences) {
        if (sequence.key != key || number >= m_generated->cardCount)
            continue;
        *handled = true;
        if (sequence.walks)
            return sequence.walked.at(number);
        SequenceCursor cursor = sequence.cursor;
        return cursor.valueAt(number);
    }
    for (const Generated::Prize &prize : m_generated->prizes) {
        if (prize.key != key || quint64(number) >= prize.cards.size())
            continue;
        *handled = true;
        return prize.names.at(prize.cards[size_t(number)]);
    }
    return std::nullopt;
}

bool CardTable::contains(qsizetype card, const QString &key) const
{
    bool handled = false;
    generatedText(card, key, &handled);
    if (handled)
        return true;
    return m_data && m_data->find(row(card), key);
}

QJsonValue CardTable::value(qsizetype card, const QString &key) const
{
    bool handled = false;
    std::optional<QString> generated = generatedText(card, key, &handled);
    if (handled)
        return QJsonValue(*generated);
    if (!m_data)
        return QJsonValue(QJsonValue::Undefined);
    const Cell *cell = m_data->find(row(card), key);
    return cell ? m_data->value(*cell) : QJsonValue(QJsonValue::Undefined);
}

std::optional<QString> CardTable::text(qsizetype card, const QString &key) const
{
    bool handled = false;
    std::optional<QString> generated = generatedText(card, key, &handled);
    if (handled)
        return generated;
    if (!m_data)
        return std::nullopt;
    const Cell *cell = m_data->find(row(card), key);
    if (!cell)
        return std::nullopt;
    return m_data->text(*cell);
}

QJsonObject CardTable::object(qsizetype card) const
{
    QJsonObject object;
    if (card < 0 || card >= m_size)
        return object;
    if (m_data) {
        const qsizetype row = this->row(card);
        for (const QString &key : m_data->keyOrder) {
            if (const Cell *cell = m_data->find(row, key))
                object.insert(key, m_data->value(*cell));
        }
    }
    if (m_generated) {
        QStringList keys;
        for (const Generated::Sequence &sequence : m_generated->sequences)
            keys.append(sequence.key);
        for (const Generated::Prize &prize : m_generated->prizes)
            keys.append(prize.key);
        for (const QString &key : std::as_const(keys)) {
            bool handled = false;
            const std::optional<QString> text = generatedText(card, key, &handled);
            if (handled)
                object.insert(key, *text);
        }
    }
    return object;
}

QList<QJsonObject> CardTable::objects() const
{
    QList<QJsonObject> list;
    list.reserve(m_size);
    for (qsizetype card = 0; card < m_size; ++card)
        list.append(object(card));
    return list;
}

bool CardTable::isSharedWith(const CardTable &other) const
{
    return m_data == other.m_data && m_generated == other.m_generated && m_size == other.m_size
        && m_byNumber == other.m_byNumber;
}

qsizetype CardTable::heapBytes() const
{
    qsizetype bytes = 0;
    if (m_data) {
        for (const auto &column : m_data->columns)
            bytes += qsizetype(column.capacity() * sizeof(Cell));
        bytes += qsizetype(m_data->sortIndex.capacity() * sizeof(int));
        for (const QByteArray &chunk : m_data->chunks)
            bytes += chunk.capacity();
    }
    if (m_generated) {
        for (const Generated::Prize &prize : m_generated->prizes)
            bytes += qsizetype(prize.cards.capacity() * sizeof(quint32));
    }
    return bytes;
}

CardTable CardTable::withGenerated(qsizetype cardCount, QList<SequenceColumn> sequences,
                                   QList<PrizeColumn> prizes) const
{
    CardTable table = *this;
    table.m_size = std::max(cardCount, m_size);
    if (sequences.isEmpty() && prizes.isEmpty()) {
        table.m_generated.reset();
        return table;
    }
    auto generated = std::make_shared<Generated>();
    generated->cardCount = table.m_size;
    for (SequenceColumn &column : sequences) {
        Generated::Sequence sequence{std::move(column.key), SequenceCursor(column.field), {}, false};
        if (sequence.cursor.walks()) {
            // Walking to a number costs a step per card before it: worked out
            // once here instead of on every read.
            sequence.walks = true;
            sequence.walked.reserve(table.m_size);
            for (qsizetype i = 0; i < table.m_size; ++i)
                sequence.walked.append(sequence.cursor.valueAt(i));
        }
        generated->sequences.append(std::move(sequence));
    }
    for (PrizeColumn &column : prizes)
        generated->prizes.append({std::move(column.key), std::move(column.names), std::move(column.cards)});
    table.m_generated = std::move(generated);
    return table;
}

CardTable CardTable::withCardsOf(const CardTable &cards) const
{
    CardTable table = *this;
    table.m_data = cards.m_data;
    table.m_byNumber = true;
    return table;
}

// --- building -------------------------------------------------------------

struct CardTableBuilder::State
{
    std::shared_ptr<CardTable::Data> data = std::make_shared<CardTable::Data>();
    qsizetype card = -1;
    qsizetype expectedCards = 0;
    QByteArray scratch;

    Cell &cell(int column)
    {
        std::vector<Cell> &cells = data->columns[size_t(column)];
        if (cells.size() <= size_t(card)) {
            if (cells.capacity() <= size_t(card))
                cells.reserve(std::max<size_t>(size_t(expectedCards), 2 * (size_t(card) + 1)));
            cells.resize(size_t(card) + 1);
        }
        return cells[size_t(card)];
    }

    Cell store(QByteArrayView bytes)
    {
        Cell cell;
        cell.kind = Utf8;
        cell.size = quint32(bytes.size());
        if (bytes.isEmpty())
            return cell;
        auto &chunks = data->chunks;
        if (chunks.empty() || chunks.back().size() + bytes.size() > chunks.back().capacity()) {
            QByteArray chunk;
            chunk.reserve(std::max(chunkSize, bytes.size()));
            chunks.push_back(std::move(chunk));
        }
        QByteArray &chunk = chunks.back();
        cell.chunk = quint32(chunks.size() - 1);
        cell.pos = quint32(chunk.size());
        chunk.append(bytes.data(), bytes.size());
        return cell;
    }
};

CardTableBuilder::CardTableBuilder() : d(std::make_unique<State>()) {}
CardTableBuilder::~CardTableBuilder() = default;

void CardTableBuilder::reserve(qsizetype cards)
{
    d->expectedCards = cards;
    d->data->sortIndex.reserve(size_t(cards));
}

int CardTableBuilder::addColumn()
{
    d->data->columns.emplace_back().reserve(size_t(d->expectedCards));
    return int(d->data->columns.size() - 1);
}

void CardTableBuilder::addKey(const QString &key, int column, int rank)
{
    auto found = d->data->keys.find(key);
    if (found == d->data->keys.end()) {
        found = d->data->keys.insert(key, {});
        d->data->keyOrder.append(key);
    }
    KeyEntries &entries = *found;
    const auto at = std::find_if(entries.begin(), entries.end(), [rank](const KeyEntry &e) { return e.rank < rank; });
    entries.insert(at, KeyEntry{column, rank});
}

int CardTableBuilder::column(const QString &key) const
{
    const auto found = d->data->keys.constFind(key);
    if (found == d->data->keys.constEnd() || found->isEmpty())
        return -1;
    return found->first().column;
}

void CardTableBuilder::beginCard(int sortIndex)
{
    d->data->sortIndex.push_back(sortIndex);
    ++d->card;
}

void CardTableBuilder::setText(int column, QByteArrayView utf8)
{
    d->cell(column) = d->store(utf8);
}

void CardTableBuilder::setValue(int column, const QJsonValue &value)
{
    if (value.isString()) {
        const QString text = value.toString();
        if (utf8Faithful(text)) {
            setText(column, text.toUtf8());
            return;
        }
    }
    Cell cell;
    cell.kind = Json;
    cell.pos = quint32(d->data->values.size());
    d->data->values.append(value);
    d->cell(column) = cell;
}

bool CardTableBuilder::setJsonString(int column, QByteArrayView escaped)
{
    if (!escaped.contains('\\')) {
        for (const char c : escaped) {
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
        }
        if (escaped.startsWith("\xef\xbb\xbf"))
            return false;
        setText(column, escaped);
        return true;
    }
    switch (decodeJsonString(escaped, &d->scratch)) {
    case Decoded::Text:
        setText(column, d->scratch);
        return true;
    case Decoded::NeedsJson: {
        QByteArray text = "[\"";
        text.append(escaped.data(), escaped.size());
        text.append("\"]");
        const QJsonDocument document = QJsonDocument::fromJson(text);
        if (!document.isArray() || document.array().size() != 1)
            return false;
        setValue(column, document.array().at(0));
        return true;
    }
    case Decoded::Invalid:
        break;
    }
    return false;
}

void CardTableBuilder::clearCell(int column)
{
    d->cell(column) = Cell();
}

CardTable CardTableBuilder::finish()
{
    CardTable::Data &data = *d->data;
    for (auto &column : data.columns)
        column.resize(data.sortIndex.size());
    for (QByteArray &chunk : data.chunks)
        chunk.squeeze();
    data.sortIndex.shrink_to_fit();
    CardTable table;
    table.m_size = qsizetype(data.sortIndex.size());
    table.m_data = std::move(d->data);
    d = std::make_unique<State>();
    return table;
}
