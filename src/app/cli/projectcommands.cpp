#include "clicommands.h"
#include "clicontext.h"
#include "tableprinter.h"

#include "model/project.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

namespace {

const QString jsonOption = QStringLiteral("json");

// Shortest text that reads back as the same number: 90, 88.9, 0.35.
QString millimetres(double value)
{
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

QString sizeText(double width, double height)
{
    return millimetres(width) + QStringLiteral(" x ") + millimetres(height);
}

// Key names follow the Project record; lengths are millimetres.
QJsonObject projectJson(const Project &project)
{
    return QJsonObject{
        {QStringLiteral("id"), project.id},
        {QStringLiteral("name"), project.name},
        {QStringLiteral("cardWidthMm"), project.cardWidthMm},
        {QStringLiteral("cardHeightMm"), project.cardHeightMm},
        {QStringLiteral("paperWidthMm"), project.paperWidthMm},
        {QStringLiteral("paperHeightMm"), project.paperHeightMm},
        {QStringLiteral("rows"), project.rows},
        {QStringLiteral("columns"), project.columns},
        {QStringLiteral("duplex"), project.duplex},
    };
}

QString jsonLine(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

int listProjectsCommand(CliContext &context, const CliInvocation &invocation)
{
    ProjectStore *store = context.openWorkspace();
    if (!store)
        return cli::ExitFailure;
    QString error;
    const QList<Project> projects = store->listProjects(&error);
    // An empty list is also what an empty database gives; the error tells them apart.
    if (!error.isEmpty())
        return context.fail(error);

    if (invocation.isSet(jsonOption)) {
        for (const Project &project : projects)
            context.out() << jsonLine(projectJson(project)) << '\n';
        return cli::ExitSuccess;
    }

    TablePrinter table;
    table.addColumn(QStringLiteral("ID"), TablePrinter::Alignment::Right);
    table.addColumn(QStringLiteral("Name"));
    table.addColumn(QStringLiteral("Card (mm)"));
    table.addColumn(QStringLiteral("Sheet (mm)"));
    table.addColumn(QStringLiteral("Rows x Columns"));
    table.addColumn(QStringLiteral("Duplex"));
    for (const Project &project : projects) {
        table.addRow({
            QString::number(project.id),
            project.name,
            sizeText(project.cardWidthMm, project.cardHeightMm),
            sizeText(project.paperWidthMm, project.paperHeightMm),
            QStringLiteral("%1 x %2").arg(project.rows).arg(project.columns),
            project.duplex ? QStringLiteral("yes") : QStringLiteral("no"),
        });
    }
    context.out() << table.toString();
    return cli::ExitSuccess;
}

int createProjectCommand(CliContext &context, const CliInvocation &invocation)
{
    ProjectStore *store = context.openWorkspace();
    if (!store)
        return cli::ExitFailure;
    QString error;
    const std::optional<Project> project = store->createProject(invocation.arguments.first(), &error);
    if (!project)
        return context.fail(error);

    if (invocation.isSet(jsonOption))
        context.out() << jsonLine(projectJson(*project)) << '\n';
    else
        context.out() << QStringLiteral("Created project %1: %2").arg(QString::number(project->id), project->name) << '\n';
    return cli::ExitSuccess;
}

} // namespace

QList<CliCommand> projectCommands()
{
    return {
        {
            QStringLiteral("projects"),
            QStringLiteral("List the projects, the one saved last first"),
            QStringLiteral("Shows id, name, card size, sheet size, rows x columns and duplex of every project.\n"
                           "With --json, prints one JSON object per line instead, with the keys id, name,\n"
                           "cardWidthMm, cardHeightMm, paperWidthMm, paperHeightMm, rows, columns and duplex."),
            {},
            {{jsonOption, {}, QStringLiteral("Print JSON Lines instead of a table")}},
            &listProjectsCommand,
        },
        {
            QStringLiteral("create"),
            QStringLiteral("Create a project with the default settings"),
            QStringLiteral("Prints the new project's id and name. The name is trimmed; a blank name\n"
                           "becomes \"%1\".").arg(untitledProjectName()),
            {{QStringLiteral("NAME"), QStringLiteral("Name of the new project")}},
            {{jsonOption, {}, QStringLiteral("Print the new project as a JSON object")}},
            &createProjectCommand,
        },
    };
}
