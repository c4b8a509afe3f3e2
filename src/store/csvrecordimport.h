#pragma once

#include "store/recordrows.h"

#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <optional>

namespace storeutil {

// The statements that come before a source's rows, inside the import's
// transaction: they give the id of the source whose rows are replaced, or
// nothing and a message.
using SourceEntry = std::function<std::optional<qint64>(QString *message)>;

// Asked on the importing thread before the transaction, between batches of
// rows and before the commit; once it answers true the import stops, rolls
// back and fails with importCancelledMessage(). An empty function never cancels.
using CancelCheck = std::function<bool()>;

QString importCancelledMessage();

// BEGIN IMMEDIATE: the write lock is taken at once, and another writer (the
// window's connection, or an import on a thread of its own) is waited for
// up to the busy timeout. A deferred transaction that has read before its
// first write would fail at once instead: SQLite cannot wait there without
// risking a deadlock.
bool beginWriteTransaction(QSqlDatabase &db, QString *error);

// Replaces a source's stored rows with the rows `producer` reads, byte for
// byte what writing the same rows read whole would store, in one transaction
// with `entry`. A reader thread runs the producer and writes each row's JSON
// while this thread inserts them, 64 rows to a statement, through SQLite's
// own interface. Nothing is written before the header row has been read; a
// failure anywhere (the reader mid-file included) rolls the whole
// transaction back and joins the reader, and the message is the one the
// earlier read-then-write import gave: the reader's first, then the
// entry's, then the stored-text limit, then the rows' statements. A cancel
// comes before them all: the user asked for nothing to change.
bool importRecordRows(QSqlDatabase &db, const RecordRowProducer &producer, const SourceEntry &entry,
                      QString *error, const CancelCheck &cancelRequested = {});

} // namespace storeutil
