#pragma once

// What the window tests share: the temporary folders a window runs on, and a
// connection of the test's own to the database the window writes, to seed it
// and to read back what was stored.

#include "app/workspace.h"
#include "store/projectstore.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

// The folders of one window test: `data` for the database (TESSOLO_DATA_DIR
// points the window there), `starter` for the starter template, and `files`
// for the data files, kept apart from the database, whose journal files would
// otherwise show up as changes in a watched folder.
struct WindowFolders
{
    std::unique_ptr<QTemporaryDir> data;
    std::unique_ptr<QTemporaryDir> starter;
    std::unique_ptr<QTemporaryDir> files;
    QString databasePath;

    // New, empty folders; false when one of them could not be made.
    bool create()
    {
        data = std::make_unique<QTemporaryDir>();
        starter = std::make_unique<QTemporaryDir>();
        files = std::make_unique<QTemporaryDir>();
        if (!data->isValid() || !starter->isValid() || !files->isValid())
            return false;
        qputenv("TESSOLO_DATA_DIR", data->path().toLocal8Bit());
        databasePath = workspacePaths(data->path(), starter->path()).databasePath;
        return true;
    }

    void remove()
    {
        files.reset();
        data.reset();
        starter.reset();
    }
};

// A second connection to the database at `databasePath`, as another process
// would see it. A failure to open is reported as a warning; the reads that
// follow then find nothing.
inline std::unique_ptr<ProjectStore> openTestStore(const QString &databasePath)
{
    auto store = std::make_unique<ProjectStore>();
    QString error;
    if (!store->openDatabase(databasePath, &error) || !store->initializeSchema(&error))
        qWarning("cannot open the test database: %s", qPrintable(error));
    return store;
}

// The project `id` as stored in the database at `databasePath`; a default
// Project when there is none.
inline Project storedProjectIn(const QString &databasePath, qint64 id)
{
    const auto store = openTestStore(databasePath);
    for (const Project &project : store->listProjects()) {
        if (project.id == id)
            return project;
    }
    return {};
}
