#pragma once

#include "model/project.h"

#include <QString>

#include <optional>

class ProjectStore;

// The files the application works with. Fixed for the life of the process.
struct WorkspacePaths
{
    QString dataDirectory;
    QString databasePath;          // dataDirectory/vellumor-vdp.sqlite
    QString starterDirectory;      // see defaultStarterDirectory()
    QString starterDatabasePath;   // starter/vellumor-vdp-starter.sqlite
    QString starterSampleDataPath; // starter/sample-data.xlsx
};

// A start-up failure as the window shows it: a critical box with this title and text.
struct StartupFailure
{
    QString title;
    QString text;
};

// The data directory: `explicitDirectory` when not empty (the command-line
// tool's --data-dir), else TESSOLO_DATA_DIR when not empty, else the writable
// application-data location, else the working directory. The folder is created.
QString resolveDataDirectory(const QString &explicitDirectory = {});

// The starter folder of the running executable: ../share/vellumor-vdp/starter
// from an installation's bin folder when there is one, else starter/ beside it.
QString defaultStarterDirectory();

WorkspacePaths workspacePaths(const QString &dataDirectory, const QString &starterDirectory);

// Puts the database in place and makes it ready: seeds it from the starter
// database on first start, opens it, brings the schema up to date and tidies
// the built-in demo projects. Shared by the window and the command-line tool.
// `databaseCreated`, when given, tells whether this start made the database
// file (seeded, or new and empty without a starter): the tool says so, since
// a mistyped data directory would otherwise pass for a real one.
std::optional<StartupFailure> openWorkspace(ProjectStore &store, const WorkspacePaths &paths,
                                            bool *databaseCreated = nullptr);

// Loads the newest project (creating "Untitled VDP Project" in an empty database).
std::optional<StartupFailure> loadStartupProject(ProjectStore &store, Project *project);
