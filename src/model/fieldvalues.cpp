#include "fieldvalues.h"

#include "model/prizes.h"
#include "sequence_p.h"

#include <algorithm>

QString sequenceKey(qint64 fieldId)
{
    return QStringLiteral("__vdp_sequence_") + QString::number(fieldId);
}

QString scratchPrizeKey(qint64 fieldId)
{
    return QStringLiteral("__scratch_prize_") + QString::number(fieldId);
}

std::optional<QString> RecordValues::text(const QString &key) const
{
    if (m_table)
        return m_table->text(m_card, key);
    if (!m_object)
        return std::nullopt;
    const auto found = m_object->constFind(key);
    if (found == m_object->constEnd())
        return std::nullopt;
    return recordValueText(found.value());
}

QString fieldDisplayText(const TemplateField &field, const RecordValues &record)
{
    if (field.type == ElementKind::Scratch) {
        const QString prize = record.text(scratchPrizeKey(field.id)).value_or(QString());
        return prize.isEmpty() ? QStringLiteral("Scratch Card Prize") : prize;
    }
    if (field.type == ElementKind::Sequence) {
        const QString value = record.text(sequenceKey(field.id)).value_or(QString());
        return value.isEmpty() ? sequenceValue(field, 0) : value;
    }
    if (!field.dataColumn.isEmpty()) {
        if (const std::optional<QString> value = record.text(field.dataColumn))
            return *value;
        return QStringLiteral("{{%1}}").arg(field.dataColumn);
    }
    return field.name;
}

QStringList fieldRecordKeys(const QList<TemplateField> &fields)
{
    QStringList keys;
    for (const TemplateField &field : fields) {
        QString key;
        if (field.type == ElementKind::Scratch)
            key = scratchPrizeKey(field.id);
        else if (field.type == ElementKind::Sequence)
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

PreparedCards prepareCardRecords(const CardTable &records, const QList<TemplateField> &fields)
{
    PreparedCards result;
    qsizetype cardCount = records.size();
    QList<CardTable::SequenceColumn> sequences;
    QList<CardTable::PrizeColumn> prizes;
    for (const TemplateField &field : fields) {
        if (field.type == ElementKind::Sequence) {
            sequences.append({sequenceKey(field.id), field});
        } else if (field.type == ElementKind::Scratch) {
            const PrizeList list = parsePrizes(field.scratchPrizesJson);
            if (!list.error.isEmpty()) {
                result.error = list.error;
                continue;
            }
            PrizeOrder order = allocatePrizeOrder(field.scratchMode, field.scratchTotal, list.prizes,
                                                  prizeSeed(field.id, field.scratchTotal, field.scratchMode));
            if (!order.ok()) {
                result.error = order.error;
                continue;
            }
            cardCount = std::max(cardCount, qsizetype(order.cards.size()));
            CardTable::PrizeColumn column{scratchPrizeKey(field.id), std::move(order.names), std::move(order.cards)};
            prizes.append(std::move(column));
        }
    }
    if (!sequences.isEmpty() && cardCount == 0)
        cardCount = 1;
    result.records = records.withGenerated(cardCount, std::move(sequences), std::move(prizes));
    return result;
}
