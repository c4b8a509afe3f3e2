#pragma once

#include "render/outputfile.h"

#include <QString>

#include <memory>
#include <mutex>
#include <vector>

// The files of one export that must appear together or not at all: the parts
// of a split export are written to temporary files beside their targets and
// renamed into place only when every part is complete, so a failure leaves no
// partial set and touches no existing file. Pieces of a file written on
// several threads are temporary files too, removed when done.
class OutputFileSet
{
public:
    explicit OutputFileSet(const TemporaryFileWatch *watch) : m_watch(watch) {}

    // A new temporary file beside `target`, open for writing, renamed over
    // `target` by commit(); a Piece is only read back and never committed.
    // The file stays owned here. Safe to call from several threads.
    OutputFile *create(const QString &target, OutputFile::Kind kind, QString *error);

    // Closes every part, checking each, then renames them over their
    // targets, all or none: a file already at a target is kept under a
    // second name (a hard link) until every part is in place, and put back
    // should a later part fail to move. False on failure, with the targets
    // as they were.
    bool commit(QString *error);

private:
    const TemporaryFileWatch *m_watch;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<OutputFile>> m_files; // removed unless committed
};
