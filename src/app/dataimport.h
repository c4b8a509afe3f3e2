#pragma once

#include "model/datasource.h"
#include "store/recordrows.h"

#include <QString>

#include <functional>
#include <optional>

class ProjectStore;

// Reading a data file into the store: the readers of import/ give the rows,
// the store writes them. A CSV file is streamed into the store's transaction
// as it is parsed; a workbook is read whole before the transaction starts.
// `cancelRequested` (when given) is asked on the calling thread and by the
// workbook reader within a row; once it answers true nothing changes and the
// call fails with "The import was cancelled".

// Adds the file at `filePath` as a data source of the project, or, when the
// project has it already, stores its new options and re-reads its rows.
std::optional<DataSource> upsertDataSource(ProjectStore &store, qint64 projectId, const QString &filePath,
                                           const DataSourceOptions &options, QString *error = nullptr,
                                           const std::function<bool()> &cancelRequested = {});

// Reads a source's file again with its stored options, replacing its rows.
bool reloadDataSource(ProjectStore &store, qint64 sourceId, QString *error = nullptr,
                      const std::function<bool()> &cancelRequested = {});

// The rows of the CSV file at `path` as the store runs them on its reader
// thread: streamed, exactly the rows readCsvFile() gives.
RecordRowProducer csvRecordRows(const QString &path, const DataSourceOptions &options);
