#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// How one data file is read; stored with each data source.
struct DataSourceOptions
{
    QString worksheetName;                          // Excel only; empty = first worksheet
    QString csvEncoding = QStringLiteral("auto");   // "auto", "utf-8" or "windows-1252"
    QString csvDelimiter = QStringLiteral("auto");  // "auto", "comma", "semicolon" or "tab"

    friend bool operator==(const DataSourceOptions &, const DataSourceOptions &) = default;
};

// A file read into field names and data rows of cell texts.
struct ImportedTable
{
    QStringList header;
    QList<QStringList> rows;
};
