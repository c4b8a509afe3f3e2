#pragma once

#include <QString>

// Builds the starter database that ships in the starter folder and is copied
// into a new data directory on first start. Each concern is its own step so
// that data sources and template elements can be added beside them.
struct StarterDatabaseOptions
{
    QString outputPath;     // the finished database
    QString sampleDataPath; // sample-data.xlsx the starter project is bound to
};

// Writes a complete database under a temporary name and renames it to
// `outputPath` only when everything succeeded. Returns false and fills
// `error` otherwise; an old output file is left alone in that case.
bool buildStarterDatabase(const StarterDatabaseOptions &options, QString *error);
