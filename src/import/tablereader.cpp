#include "import/tablereader.h"

#include <QDir>
#include <QFileInfo>

QString notRegularFileMessage(const QString &path)
{
    return QStringLiteral("%1 is not a regular file").arg(QDir::toNativeSeparators(path));
}

bool checkRegularFile(const QString &path, QString *error)
{
    // stat() only; a symbolic link counts as what it points to.
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return true;
    if (error)
        *error = notRegularFileMessage(path);
    return false;
}

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
