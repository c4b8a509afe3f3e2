#pragma once

#include <QString>
#include <QStringList>

#include <algorithm>

// The order in which column names are offered: case-insensitive, so "city"
// sits beside "City". Names equal but for case are two columns; the
// case-sensitive tie-break gives them the same order on every load.
inline void sortColumnNames(QStringList &names)
{
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int order = a.compare(b, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    });
}
