#pragma once

#include "import/datasourceoptions.h"

#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <optional>

namespace storeutil {

// The statements that come before a source's rows, inside the import's
// transaction: they give the id of the source whose rows are replaced, or
// nothing and a message.
using SourceEntry = std::function<std::optional<qint64>(QString *message)>;

// Replaces a source's stored rows with the rows of the CSV file at `path`,
// byte for byte what writing the rows readCsvFile() gives would store, in one
// transaction with `entry`. A reader thread parses the file and writes each
// row's JSON while this thread inserts them, 64 rows to a statement, through
// SQLite's own interface. Nothing is written before the file's header row
// has been read; a failure anywhere (the reader mid-file included) rolls the
// whole transaction back, and the message is the one the earlier
// read-then-write import gave: the reader's first, then the entry's, then
// the stored-text limit, then the rows' statements.
bool importCsvRecords(QSqlDatabase &db, const QString &path, const DataSourceOptions &options,
                      const SourceEntry &entry, QString *error);

} // namespace storeutil
