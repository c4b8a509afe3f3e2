#pragma once

#include <QString>

#include <optional>

class ProjectStore;

// Why an export or a manifest must not write `outputPath`: after resolving
// symbolic links and "..", it is the project database, one of SQLite's files
// beside it (-wal, -shm, -journal), or a data file of any project in the
// database. The sentence names what the file is, e.g.
// "/data/vellumor-vdp.sqlite is the project database; choose another file." or
// "/jobs/members.xlsx is the data file “members.xlsx” of project “Starter
// Template”; choose another file."; nullopt when the path is free to write.
// A failure to list the data files is returned as a reason too: refusing is
// the safe answer when we cannot tell.
std::optional<QString> protectedOutputReason(ProjectStore &store, const QString &outputPath);
