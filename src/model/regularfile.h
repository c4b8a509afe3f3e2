#pragma once

#include <QString>

// "PATH is not a regular file", the path in the platform's notation.
QString notRegularFileMessage(const QString &path);

// Fails with notRegularFileMessage() when `path` names something that exists
// but is not a regular file (a folder, a device, a FIFO, a socket), found
// without opening it: opening a FIFO waits for a writer, and reading
// /dev/zero never ends. A path that names nothing passes, so that the
// caller's own open reports it as before. Every reader and writer of user
// files checks first.
bool checkRegularFile(const QString &path, QString *error);
