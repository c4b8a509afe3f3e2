#include "clicommands.h"

QList<CliCommand> allCommands()
{
    QList<CliCommand> commands;
    commands += projectCommands();
    commands += dataCommands();
    commands += cardCommands();
    commands += exportCommands();
    return commands;
}
