#include "clicommands.h"

QList<CliCommand> allCommands()
{
    QList<CliCommand> commands;
    commands += projectCommands();
    return commands;
}
