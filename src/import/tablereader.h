#pragma once

#include "import/datasourceoptions.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

// Reads a data file by its suffix: "xlsx"/"xlsm" (any case) as an Excel
// workbook, anything else as CSV. `maxRows` is the number of data rows wanted
// (negative for all). Fails at once, without a message, when `header` or
// `rows` is null. On failure the outputs are left unchanged and `error`
// (when given) gets the reader's message.
bool readTableFile(const QString &path, const DataSourceOptions &options, QStringList *header,
                   QList<QStringList> *rows, QString *error = nullptr, qsizetype maxRows = -1);

// The CSV reader: encoding and delimiter detection, streamed in chunks.
bool readCsvFile(const QString &path, const DataSourceOptions &options, QStringList *header,
                 QList<QStringList> *rows, QString *error = nullptr, qsizetype maxRows = -1);

// "PATH is not a regular file", the path in the platform's notation.
QString notRegularFileMessage(const QString &path);

// Fails with notRegularFileMessage() when `path` names something that exists
// but is not a regular file (a folder, a device, a FIFO, a socket), found
// without opening it: opening a FIFO waits for a writer, and reading
// /dev/zero never ends. A path that names nothing passes, so that the
// reader's own open reports it as before. Every reader here checks first.
bool checkRegularFile(const QString &path, QString *error);

// Windows-1252 as the WHATWG Encoding Standard gives it, the five undefined
// bytes mapped to the C1 controls of the same value. Never fails.
QString decodeWindows1252(QByteArrayView bytes);

// The XLSX reader. `result` is cleared before anything is read.
bool readXlsxFile(const QString &path, const DataSourceOptions &options, ImportedTable *result,
                  QString *error = nullptr, qsizetype maxRows = -1);

// The worksheet names of a workbook in workbook order, or an empty list and a message.
QStringList listWorksheetNames(const QString &path, QString *error = nullptr);
