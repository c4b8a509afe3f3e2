#pragma once

#include "model/cardtable.h"
#include "model/datasource.h"
#include "model/templatefield.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Reserved record keys of the generated values of one field.
QString sequenceKey(qint64 fieldId);    // "__vdp_sequence_<id>"
QString scratchPrizeKey(qint64 fieldId); // "__scratch_prize_<id>"

// One record as the painters read it: a card of a table, or an object (the
// canvas's preview record). Refers to what it is made from, which must outlive it.
class RecordValues
{
public:
    RecordValues() = default;
    RecordValues(const QJsonObject &object) : m_object(&object) {}
    RecordValues(const CardTable &table, qsizetype card) : m_table(&table), m_card(card) {}

    // The value under `key` as a field prints it (a text as it is, anything
    // else as Qt writes it); nothing when the record has no such key.
    std::optional<QString> text(const QString &key) const;
    bool contains(const QString &key) const { return text(key).has_value(); }

private:
    const QJsonObject *m_object = nullptr;
    const CardTable *m_table = nullptr;
    qsizetype m_card = 0;
};

// What a field shows on a card: the text of a text, sequence or scratch field,
// the data of a barcode or QR field.
QString fieldDisplayText(const TemplateField &field, const RecordValues &record);

// The record keys whose values the fields show: the generated key of each
// sequence and scratch field, the data column of any other bound field; each
// once, in field order. A record holding only these shows the same on every field.
QStringList fieldRecordKeys(const QList<TemplateField> &fields);

// The formatted sequence value of card `cardIndex` (from 0; negative counts as 0).
QString sequenceValue(const TemplateField &field, qint64 cardIndex);

// The values of cards 0 … count − 1, walking the candidates once.
QStringList sequenceValues(const TemplateField &field, qint64 count);

struct PreparedCards
{
    CardTable records;
    QString error; // the last scratch field's configuration error; empty when all are valid
};

// The card records with every generated sequence value and prize under its
// reserved key; the batch grows to the longest prize list and to at least one
// card when a sequence field exists. The records are shared, not copied: the
// generated values are worked out from each card's number when read, and a
// prize costs four bytes per card.
PreparedCards prepareCardRecords(const CardTable &records, const QList<TemplateField> &fields);
