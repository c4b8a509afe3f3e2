#pragma once

#include "model/cardtable.h"
#include "model/datasource.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class ProjectStore;

// The card records of a project: the rows of all its data sources combined by
// row number, each column under its column key and, for the first source, also
// under its bare name. Without data sources, the older single-table rows.
// `columns` gets the bindable column keys in source order. On failure the
// result is empty and `error` gets the message: never a partial batch.
// With `onlyKeys`, each record holds just those of its keys that are in the
// list, with the values it would have had: a caller that shows a few columns
// of a long run (the PDF export) need not hold every column of every card.
// `columns` still lists every column. The rows are read source by source in
// step, one row of each at a time, so only the table is held.
CardTable loadProjectRecords(ProjectStore &store, qint64 projectId, QStringList *columns = nullptr,
                             QString *error = nullptr, const QStringList *onlyKeys = nullptr);

// Chosen cards of a project read from the store and assembled as
// loadProjectRecords assembles them, from any thread: an export of a long
// run reads the cards of the sheet it paints instead of holding every card.
// The reader has a connection of its own holding one read transaction, so
// every read sees the rows as they stood when it was opened, whatever is
// written meanwhile.
class ProjectCardReader
{
public:
    // The reader of the cards' `keys` (as onlyKeys above), or null: with
    // `error` set when the store could not be read; without, for a project
    // whose rows loadProjectRecords must read whole (the older single table,
    // a database in memory).
    static std::shared_ptr<ProjectCardReader> open(ProjectStore &store, qint64 projectId, const QStringList &keys,
                                                   QString *error);
    ~ProjectCardReader();

    // The number of cards, as loadProjectRecords would give them.
    qsizetype cardCount() const;

    // The cards of `cards` (ascending record indices), each under its index
    // as its number (see CardTable::withCardsOf); an empty table and `error`
    // on failure. Safe to call from several threads.
    CardTable read(const QList<int> &cards, QString *error) const;

private:
    ProjectCardReader();
    struct Data;
    std::unique_ptr<Data> d;
};
