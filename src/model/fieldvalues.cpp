#include "fieldvalues.h"

#include "model/prizes.h"
#include "sequence_p.h"

#include <QHash>
#include <QJsonValue>
#include <QVariant>

#include <algorithm>

namespace {

// Record values are texts; anything else a record might hold (a number put
// there by hand) is shown as Qt writes it.
QString valueText(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    return value.toVariant().toString();
}

QByteArray latin1Key(const char *prefix, qint64 fieldId)
{
    return QByteArray(prefix) + QByteArray::number(fieldId);
}

struct SequenceRun
{
    QByteArray key;
    SequenceCursor cursor;
};

struct ScratchRun
{
    QByteArray key;
    QStringList cards;
    // One JSON value per prize name: the cards of one prize share the name's
    // text, so its value is made once instead of once per card. Keyed by the
    // text's address; a name that is not shared only costs an entry more.
    QHash<const QChar *, QJsonValue> values;

    const QJsonValue &valueAt(qsizetype card)
    {
        const QString &name = cards.at(card);
        auto found = values.constFind(name.constData());
        if (found == values.constEnd())
            found = values.insert(name.constData(), QJsonValue(name));
        return *found;
    }
};

} // namespace

QString sequenceKey(qint64 fieldId)
{
    return QStringLiteral("__vdp_sequence_") + QString::number(fieldId);
}

QString scratchPrizeKey(qint64 fieldId)
{
    return QStringLiteral("__scratch_prize_") + QString::number(fieldId);
}

QString fieldDisplayText(const TemplateField &field, const QJsonObject &record)
{
    if (field.type == QLatin1String("scratch")) {
        const QString prize = valueText(record.value(scratchPrizeKey(field.id)));
        return prize.isEmpty() ? QStringLiteral("Scratch Card Prize") : prize;
    }
    if (field.type == QLatin1String("sequence")) {
        const QString value = valueText(record.value(sequenceKey(field.id)));
        return value.isEmpty() ? sequenceValue(field, 0) : value;
    }
    if (!field.dataColumn.isEmpty()) {
        const auto found = record.constFind(field.dataColumn);
        if (found != record.constEnd())
            return valueText(found.value());
        return QStringLiteral("{{%1}}").arg(field.dataColumn);
    }
    return field.name;
}

QStringList fieldRecordKeys(const QList<TemplateField> &fields)
{
    QStringList keys;
    for (const TemplateField &field : fields) {
        QString key;
        if (field.type == QLatin1String("scratch"))
            key = scratchPrizeKey(field.id);
        else if (field.type == QLatin1String("sequence"))
            key = sequenceKey(field.id);
        else
            key = field.dataColumn;
        if (!key.isEmpty() && !keys.contains(key))
            keys.append(key);
    }
    return keys;
}

QString sequenceValue(const TemplateField &field, qint64 cardIndex)
{
    return SequenceCursor(field).valueAt(cardIndex);
}

QStringList sequenceValues(const TemplateField &field, qint64 count)
{
    QStringList values;
    if (count <= 0)
        return values;
    values.reserve(count);
    SequenceCursor cursor(field);
    for (qint64 i = 0; i < count; ++i)
        values.append(cursor.valueAt(i));
    return values;
}

PreparedCards prepareCardRecords(QList<DataRecord> records, const QList<TemplateField> &fields)
{
    PreparedCards result;
    qsizetype cardCount = records.size();
    QList<SequenceRun> sequences;
    QList<ScratchRun> scratches;
    for (const TemplateField &field : fields) {
        if (field.type == QLatin1String("sequence")) {
            sequences.append({latin1Key("__vdp_sequence_", field.id), SequenceCursor(field)});
        } else if (field.type == QLatin1String("scratch")) {
            const PrizeList list = parsePrizes(field.scratchPrizesJson);
            if (!list.error.isEmpty()) {
                result.error = list.error;
                continue;
            }
            PrizeAllocation allocation = allocatePrizes(field.scratchMode, field.scratchTotal, list.prizes,
                                                        prizeSeed(field.id, field.scratchTotal, field.scratchMode));
            if (!allocation.ok()) {
                result.error = allocation.error;
                continue;
            }
            cardCount = std::max(cardCount, allocation.cards.size());
            scratches.append({latin1Key("__scratch_prize_", field.id), std::move(allocation.cards), {}});
        }
    }
    if (!sequences.isEmpty() && cardCount == 0)
        cardCount = 1;

    // At most one copy: the list shares the callers' objects until a key is
    // written into a record, which then detaches that record alone (and not
    // at all when the caller gave its records up).
    const qsizetype dataCount = records.size();
    result.records = std::move(records);
    result.records.reserve(cardCount);
    for (qsizetype i = dataCount; i < cardCount; ++i)
        result.records.append(DataRecord{int(i), QJsonObject()});

    // Card by card rather than field by field: each record is detached once
    // and filled while it is at hand. Sequence keys go in before prize keys,
    // as they would field by field.
    for (DataRecord &record : result.records) {
        const qint64 card = record.sortIndex;
        if (card < 0)
            continue;
        if (card < cardCount) {
            for (SequenceRun &run : sequences)
                record.values.insert(QLatin1StringView(run.key), run.cursor.valueAt(card));
        }
        for (ScratchRun &run : scratches) {
            if (card < run.cards.size())
                record.values.insert(QLatin1StringView(run.key), run.valueAt(card));
        }
    }
    return result;
}
