#pragma once

#include "model/templatefield.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

struct DataRecord;

// A record value as a field prints it: a text as it is, anything else a
// record might hold (a number put there by hand) as Qt writes it.
QString recordValueText(const QJsonValue &value);

// The card records of a job, held compactly: the values of every card in one
// UTF-8 store with a small cell (place, length) per card and column, and one
// key map shared by all cards, where a column's keyed name and its bare name
// lead to the same cell. A record of a QJsonObject costs about ten times its
// values; a long run of cards is held here at little more than its text.
//
// A card holds what the QJsonObject of the same record would hold: the keys
// present, their values (texts, and whatever else a stored row held), and for
// a key several columns answer to, the one written last. Generated values
// (sequence numbers, prizes) are worked out when asked for, from the card's
// number, so they cost nothing per card.
//
// Copies share the data; reads are const and safe from several threads.
class CardTable
{
public:
    CardTable();

    // `cardCount` cards without data, for generated values alone.
    static CardTable blank(qsizetype cardCount);

    // Records as objects; each card's number is its index.
    static CardTable fromObjects(const QList<QJsonObject> &records);
    static CardTable fromRecords(const QList<DataRecord> &records);

    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }

    // The card's number: its stored sort_index, or its index for a card past
    // the data rows. Sequence numbers and prizes follow it.
    int sortIndex(qsizetype card) const;

    bool contains(qsizetype card, const QString &key) const;
    // The value under `key`, or an undefined value.
    QJsonValue value(qsizetype card, const QString &key) const;
    // The value as a field prints it (a text as it is, anything else as Qt
    // writes it); nothing when the card has no such key.
    std::optional<QString> text(qsizetype card, const QString &key) const;
    // The card as one object, for the places that hand a record on as JSON.
    QJsonObject object(qsizetype card) const;
    QList<QJsonObject> objects() const;

    // The same data (not only equal): the window prepares its cards again only
    // when the records were reloaded.
    bool isSharedWith(const CardTable &other) const;

    // Bytes held for the cards (values, cells, numbers), for the benchmarks.
    qsizetype heapBytes() const;

    // The table with generated values on top: the cards grow to `cardCount`
    // (the new ones have no data), and each generated key, while the card's
    // number is within its column's reach, reads the generated value instead
    // of anything the data holds under that name.
    struct SequenceColumn
    {
        QString key;
        TemplateField field; // its sequence settings
    };
    struct PrizeColumn
    {
        QString key;
        QStringList names;          // each distinct prize text once
        std::vector<quint32> cards; // per card number: its index in `names`
    };
    CardTable withGenerated(qsizetype cardCount, QList<SequenceColumn> sequences, QList<PrizeColumn> prizes) const;

    // This table's cards and generated values over the data of `cards`, a
    // table of some of the cards only, each under its index as its number
    // (CardTableBuilder::beginCard), in ascending order: card n reads the row
    // numbered n, and has no data when there is none. A long job is painted
    // from the cards of one sheet at a time this way.
    CardTable withCardsOf(const CardTable &cards) const;

private:
    friend class CardTableBuilder;
    struct Data;
    struct Generated;
    std::shared_ptr<const Data> m_data;
    std::shared_ptr<const Generated> m_generated;
    qsizetype m_size = 0;
    bool m_byNumber = false; // the data's rows are found by their numbers (withCardsOf)

    // The data's row of `card`, or -1.
    qsizetype row(qsizetype card) const;

    // Where a generated key answers for `card`: its text, else nothing.
    std::optional<QString> generatedText(qsizetype card, const QString &key, bool *handled) const;
};

// Builds a CardTable card by card. Columns are the cells of one source's
// column; keys say which columns a name reads. When several columns answer to
// one key, the one of higher `rank` that the card holds wins: the rank is the
// order in which the record's members would have been written.
class CardTableBuilder
{
public:
    CardTableBuilder();
    ~CardTableBuilder();

    // The number of cards to come, when known: each column is allocated once.
    void reserve(qsizetype cards);
    int addColumn();
    void addKey(const QString &key, int column, int rank);
    // The column a key was given with the highest rank, or -1.
    int column(const QString &key) const;

    void beginCard(int sortIndex);
    // The current card's cell, replacing what the card held there.
    void setText(int column, QByteArrayView utf8);
    void setValue(int column, const QJsonValue &value);
    // A text as it stands inside a JSON string, escapes included; false when
    // it is not a valid JSON string body (the caller then parses the row).
    bool setJsonString(int column, QByteArrayView escaped);
    // Forgets the current card's cell: a row whose members could not all be
    // taken as they stand is undone before it is read the slow way.
    void clearCell(int column);

    CardTable finish();

private:
    struct State;
    std::unique_ptr<State> d;
};
