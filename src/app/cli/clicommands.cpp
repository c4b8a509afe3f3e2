#include "clicommands.h"

QList<CliCommand> allCommands()
{
    QList<CliCommand> commands;
    commands += projectCommands();
    commands += dataCommands();
    return commands;
}
