#pragma once

#include "store/projectstore.h"

#include <QString>
#include <QTextStream>

// What a command works with: the output streams and the workspace, which is
// opened only when a command asks for it, so --help and usage errors never
// touch the data directory.
class CliContext
{
public:
    CliContext(QTextStream &out, QTextStream &err, const QString &dataDirectoryOption);

    QTextStream &out() { return m_out; }
    QTextStream &err() { return m_err; }

    // Opens the database the way the window does at start-up (same data
    // directory resolution, seeding, upgrade and demo upkeep). A database
    // made by this start is named on stderr ("Created a new project database
    // in DIR (NAME)"). On failure prints "<title>: <text>" on stderr and
    // returns null.
    ProjectStore *openWorkspace();

    // Prints the message of a failed operation on stderr; returns ExitFailure.
    int fail(const QString &message);

private:
    void reportCreatedDatabase(const QString &dataDirectory);

    QTextStream &m_out;
    QTextStream &m_err;
    QString m_dataDirectoryOption;
    ProjectStore m_store;
    bool m_open = false;
};
