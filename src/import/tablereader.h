#pragma once

#include "import/csvutf8parser.h"
#include "model/datasource.h"
#include "model/regularfile.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <functional>

// Reads a data file by its suffix: "xlsx"/"xlsm" (any case) as an Excel
// workbook, anything else as CSV. `maxRows` is the number of data rows wanted
// (negative for all). Fails at once, without a message, when `header` or
// `rows` is null. On failure the outputs are left unchanged and `error`
// (when given) gets the reader's message.
bool readTableFile(const QString &path, const DataSourceOptions &options, QStringList *header,
                   QList<QStringList> *rows, QString *error = nullptr, qsizetype maxRows = -1);

// How the CSV reader read a file, for the import dialog to show.
struct CsvFormat
{
    QString encoding; // "UTF-8", "Windows-1252", "UTF-16LE" or "UTF-16BE"
    QChar delimiter;  // ',', ';' or TAB
};

// The CSV reader: encoding and delimiter detection, streamed in chunks.
// The encoding is settled from the whole file before a row is read, so the
// 25-row preview reads a file in the encoding the import will. On success
// `format` (when given) gets the encoding and delimiter used.
bool readCsvFile(const QString &path, const DataSourceOptions &options, QStringList *header,
                 QList<QStringList> *rows, QString *error = nullptr, qsizetype maxRows = -1,
                 CsvFormat *format = nullptr);

// Whether readTableFile reads `path` as an Excel workbook (by its suffix).
bool isWorkbookPath(const QString &path);

// The CSV reader's rows as UTF-8, streamed: the file is examined as
// readCsvFile examines it and gives the same rows (the header row first,
// as it stands in the file) with the same limits and messages, but each row
// goes to `onRow` as it is parsed. After a whole pass without failure,
// `again` (when given) may ask for the file to be read once more from its
// start. Fails with readCsvFile's message; a stop asked by `onRow` is no
// failure.
bool streamCsvFile(const QString &path, const DataSourceOptions &options, const CsvRowHandler &onRow,
                   const std::function<bool()> &again, QString *error);

// Windows-1252 as the WHATWG Encoding Standard gives it, the five undefined
// bytes mapped to the C1 controls of the same value. Never fails.
QString decodeWindows1252(QByteArrayView bytes);

// The XLSX reader. `result` is cleared before anything is read.
// `cancelRequested` is asked before each row of the worksheet (and now and
// then while the shared strings are read); once it answers true the read
// fails at once with a message of its own. Empty: never cancelled.
bool readXlsxFile(const QString &path, const DataSourceOptions &options, ImportedTable *result,
                  QString *error = nullptr, qsizetype maxRows = -1,
                  const std::function<bool()> &cancelRequested = {});

// Whether a worksheet shows in the spreadsheet program's tabs: "hidden" ones
// can be shown again from its menu, "very hidden" ones only by a macro.
enum class WorksheetVisibility { Visible, Hidden, VeryHidden };

// One worksheet of a workbook: its display name, the path of its part inside
// the package and its visibility (the sheet's state attribute).
struct WorksheetEntry
{
    QString name;
    QString partPath;
    WorksheetVisibility visibility = WorksheetVisibility::Visible;
};

// The worksheets of a workbook in workbook order, or an empty list and a message.
QList<WorksheetEntry> listWorksheets(const QString &path, QString *error = nullptr);

// The worksheet names of a workbook in workbook order, or an empty list and a message.
QStringList listWorksheetNames(const QString &path, QString *error = nullptr);

// The worksheet read when none is named: the first visible one, or the first
// of all when every one is hidden; -1 for an empty list. A hidden first
// sheet is often a lookup table or a template, not the data.
qsizetype defaultWorksheetIndex(const QList<WorksheetEntry> &sheets);

// The name as a list shows it: "Members", "Members (hidden)" or
// "Members (very hidden)".
QString worksheetLabel(const WorksheetEntry &sheet);
