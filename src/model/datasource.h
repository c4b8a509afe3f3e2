#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// How one data file is read; stored with each data source.
struct DataSourceOptions
{
    QString worksheetName;                          // Excel only; empty = first worksheet
    QString csvEncoding = QStringLiteral("auto");   // "auto", "utf-8" or "windows-1252"
    QString csvDelimiter = QStringLiteral("auto");  // "auto", "comma", "semicolon" or "tab"

    friend bool operator==(const DataSourceOptions &, const DataSourceOptions &) = default;
};

// One data file of a project, with the options it is read with.
struct DataSource
{
    qint64 id = 0;
    qint64 projectId = 0;
    QString filePath;    // absolute
    QString displayName; // the file name when the source was added
    int sortOrder = 0;
    DataSourceOptions options;
};

// One stored row of a data file, or one combined card record.
struct DataRecord
{
    int sortIndex = 0;
    QJsonObject values;
};

// A file read into field names and data rows of cell texts.
struct ImportedTable
{
    QStringList header;
    QList<QStringList> rows;
};
