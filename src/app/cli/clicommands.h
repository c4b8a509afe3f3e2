#pragma once

#include "clicommand.h"

#include <QList>

// The command groups, one source file each.
QList<CliCommand> projectCommands();
QList<CliCommand> dataCommands();
QList<CliCommand> cardCommands();
QList<CliCommand> exportCommands();

// Every command of the tool, in the order the help lists them.
QList<CliCommand> allCommands();
