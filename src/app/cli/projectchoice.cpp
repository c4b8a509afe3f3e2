#include "projectchoice.h"

#include "clicontext.h"

#include <algorithm>
#include <iterator>

namespace {

const QString projectOption = QStringLiteral("project");

} // namespace

namespace cli {

CliOption projectChoiceOption()
{
    return {projectOption, QStringLiteral("PROJECT"),
            QStringLiteral("The project: its id, or else its exact name (default: the newest project)")};
}

QString projectChoiceRule()
{
    return QStringLiteral(
        "--project PROJECT picks the project: a PROJECT of digits only that is the id of a\n"
        "project means that project; otherwise the one project whose name is exactly PROJECT.\n"
        "Without it, the newest project (the highest id), as the window opens at start-up.");
}

ChosenProject openChosenProject(CliContext &context, const CliInvocation &invocation)
{
    ProjectStore *store = context.openWorkspace();
    if (!store)
        return {};
    std::optional<Project> project = chooseProject(context, *store, invocation);
    if (!project)
        return {};
    return {store, std::move(*project)};
}

const Project *newestProject(const QList<Project> &projects)
{
    const auto newest = std::max_element(projects.begin(), projects.end(),
                                         [](const Project &a, const Project &b) { return a.id < b.id; });
    return newest == projects.end() ? nullptr : &*newest;
}

bool isDigits(const QString &text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

std::optional<Project> chooseProject(CliContext &context, ProjectStore &store, const CliInvocation &invocation)
{
    QString error;
    const QList<Project> projects = store.listProjects(&error);
    if (!error.isEmpty()) {
        context.fail(error);
        return std::nullopt;
    }

    if (!invocation.isSet(projectOption)) {
        const Project *newest = newestProject(projects);
        if (!newest) {
            context.fail(QStringLiteral("There is no project. Create one with '%1 create NAME'.").arg(toolName()));
            return std::nullopt;
        }
        return *newest;
    }

    const QString wanted = invocation.value(projectOption);
    if (isDigits(wanted)) {
        bool ok = false;
        const qint64 id = wanted.toLongLong(&ok);
        for (const Project &project : projects) {
            if (ok && project.id == id)
                return project;
        }
    }
    QList<Project> named;
    std::copy_if(projects.begin(), projects.end(), std::back_inserter(named),
                 [&](const Project &project) { return project.name == wanted; });
    if (named.size() == 1)
        return named.first();
    if (named.isEmpty())
        context.fail(QStringLiteral("No project has the id or the name '%1'.").arg(wanted));
    else
        context.fail(QStringLiteral("%1 projects are named '%2'; choose one by its id.").arg(named.size()).arg(wanted));
    return std::nullopt;
}

} // namespace cli
