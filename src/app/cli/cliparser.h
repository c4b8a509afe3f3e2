#pragma once

#include "clicommand.h"

#include <QList>
#include <QString>
#include <QStringList>

// What the command line asks for, after checking it against the command table.
struct CliRequest
{
    enum class Action {
        Run,
        ShowToolHelp,
        ShowCommandHelp,
        ShowVersion,
        UsageError,
    };

    Action action = Action::UsageError;
    const CliCommand *command = nullptr; // set for Run, ShowCommandHelp and errors inside a command
    CliInvocation invocation;
    QString dataDirectory; // --data-dir, empty when not given
    QString error;         // for UsageError
};

// Reads `arguments` (without the program name). Global options may stand
// before the command or among its own options; "--" ends the options.
// The returned request points into `commands`, which must outlive it.
CliRequest parseCommandLine(const QStringList &arguments, const QList<CliCommand> &commands);

// Texts for --help and for usage errors.
QString toolHelp(const QList<CliCommand> &commands);
QString toolUsage(const QList<CliCommand> &commands);
QString commandHelp(const CliCommand &command);
QString commandUsage(const CliCommand &command);
