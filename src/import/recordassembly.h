#pragma once

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
QList<DataRecord> loadProjectRecords(ProjectStore &store, qint64 projectId, QStringList *columns = nullptr,
                                     QString *error = nullptr);
