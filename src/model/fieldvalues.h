#pragma once

#include "model/templatefield.h"
#include "store/datasource.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// Reserved record keys of the generated values of one field.
QString sequenceKey(qint64 fieldId);    // "__vdp_sequence_<id>"
QString scratchPrizeKey(qint64 fieldId); // "__scratch_prize_<id>"

// What a field shows on a card: the text of a text, sequence or scratch field,
// the data of a barcode or QR field.
QString fieldDisplayText(const TemplateField &field, const QJsonObject &record);

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
    QList<DataRecord> records;
    QString error; // the last scratch field's configuration error; empty when all are valid
};

// The card records with every generated sequence value and prize written in
// under its reserved key; the batch grows to the longest prize list and to at
// least one card when a sequence field exists. Records the caller still holds
// are copied as keys are written into them; a caller that hands its records
// over (std::move) has them filled in place, without a second copy of the job.
PreparedCards prepareCardRecords(QList<DataRecord> records, const QList<TemplateField> &fields);
