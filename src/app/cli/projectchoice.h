#pragma once

#include "clicommand.h"

#include "model/project.h"

#include <QString>

#include <optional>

class CliContext;
class ProjectStore;

// How the commands that work on one project pick it: --project PROJECT, or the
// newest project as the window opens at start-up.
namespace cli {

CliOption projectChoiceOption();

// The paragraph every such command's --help ends with.
QString projectChoiceRule();

// The project `invocation` names (see projectChoiceRule), or null after a
// message on stderr.
std::optional<Project> chooseProject(CliContext &context, ProjectStore &store, const CliInvocation &invocation);

// The opened workspace and the project `invocation` names, for the commands
// that work on one project. On failure the message is printed and `store` is null.
struct ChosenProject
{
    ProjectStore *store = nullptr;
    Project project;
};

ChosenProject openChosenProject(CliContext &context, const CliInvocation &invocation);

// The project the window opens at start-up: the highest id; null without projects.
const Project *newestProject(const QList<Project> &projects);

// Digits only, at least one: no sign, no space.
bool isDigits(const QString &text);

} // namespace cli
