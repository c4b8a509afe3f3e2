#include "import/tablereader.h"

#include <QDir>
#include <QFileInfo>

bool readTableFile(const QString &path, const DataSourceOptions &options, QStringList *header,
                   QList<QStringList> *rows, QString *error, qsizetype maxRows)
{
    if (!header || !rows)
        return false;

    if (isWorkbookPath(path)) {
        ImportedTable table;
        if (!readXlsxFile(path, options, &table, error, maxRows))
            return false;
        *header = std::move(table.header);
        *rows = std::move(table.rows);
        return true;
    }
    return readCsvFile(path, options, header, rows, error, maxRows);
}
