#pragma once

#include <QImage>
#include <QString>
#include <QtGlobal>

// What importing a background file gave: the copy in the project's resource
// folder and its picture, or the box to show instead.
struct BackgroundImport
{
    QString path;  // the copy; empty on failure
    QImage image;  // the copy as loadBackgroundImage read it; null on failure
    QString errorTitle;
    QString error; // empty on success

    bool ok() const { return error.isEmpty(); }
};

// "assets/project-ID" under the data directory: where a project's background
// files are kept, and what deleting the project removes.
QString projectResourceDirectory(const QString &dataDirectory, qint64 projectId);

// "background-MS.SUFFIX": MS the import time in milliseconds since the epoch,
// SUFFIX the source file's suffix in lower case.
QString backgroundFileName(qint64 msecsSinceEpoch, const QString &sourcePath);

// Copies `sourcePath` into the project's resource folder (made with its
// parents) under backgroundFileName and reads the copy, so the project no
// longer depends on where the user kept the original and the file is read
// once. Every import makes a new file and never replaces one: earlier
// backgrounds stay in place. Failures:
// - "Background Import Failed": "Could not create the project resource
//   directory", or "Could not copy the background file to the project
//   resource directory" (with ": PATH is not a regular file" for a folder,
//   FIFO or device, refused before anything is made);
// - "Background Render Failed" with the loader's message; the copy is then
//   deleted again.
BackgroundImport importBackgroundFile(const QString &dataDirectory, qint64 projectId,
                                      const QString &sourcePath, qint64 msecsSinceEpoch);
