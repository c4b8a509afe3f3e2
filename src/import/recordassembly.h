#pragma once

#include "model/cardtable.h"
#include "store/datasource.h"

#include <QList>
#include <QString>
#include <QStringList>

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
