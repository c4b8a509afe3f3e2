#pragma once

#include <QString>

// A column key names one column of one data source: "source:<id>:<column name>".
// A text that is not of that form is a bare column name (of the first source,
// or of the older single-table data).
QString columnKey(qint64 sourceId, const QString &columnName);

// The source id a key names, or 0 for a bare name.
qint64 columnKeySourceId(const QString &key);

// The column name part of a key; a bare name is its own column name.
QString columnKeyColumnName(const QString &key);
