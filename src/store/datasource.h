#pragma once

#include "import/datasourceoptions.h"

#include <QJsonObject>
#include <QString>
#include <QtGlobal>

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
