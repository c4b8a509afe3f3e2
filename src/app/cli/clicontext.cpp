#include "clicontext.h"

#include "app/workspace.h"
#include "clicommand.h"
#include "projectchoice.h"

#include <QDir>
#include <QFileInfo>

CliContext::CliContext(QTextStream &out, QTextStream &err, const QString &dataDirectoryOption)
    : m_out(out)
    , m_err(err)
    , m_dataDirectoryOption(dataDirectoryOption)
{
}

ProjectStore *CliContext::openWorkspace()
{
    if (m_open)
        return &m_store;
    const WorkspacePaths paths = workspacePaths(resolveDataDirectory(m_dataDirectoryOption),
                                                defaultStarterDirectory());
    bool created = false;
    if (const std::optional<StartupFailure> failure = ::openWorkspace(m_store, paths, &created)) {
        fail(QStringLiteral("%1: %2").arg(failure->title, failure->text));
        return nullptr;
    }
    m_open = true;
    if (created)
        reportCreatedDatabase(paths.dataDirectory);
    return &m_store;
}

// Seeding a new data directory is what scripts rely on, but a mistyped
// --data-dir would then export the sample cards as if all were well: the
// tool says where the new database is and what it holds. The window shows
// the project itself and stays silent.
void CliContext::reportCreatedDatabase(const QString &dataDirectory)
{
    const QString folder = QDir::toNativeSeparators(QFileInfo(dataDirectory).absoluteFilePath());
    QString error;
    const QList<Project> projects = m_store.listProjects(&error);
    const Project *newest = cli::newestProject(projects);
    QString message = QStringLiteral("Created a new project database in %1").arg(folder);
    // Listing the projects fails only as the command's own first query would;
    // that failure is the command's to report.
    if (error.isEmpty() && !newest)
        message = QStringLiteral("Created a new, empty project database in %1").arg(folder);
    else if (newest)
        message += QStringLiteral(" (%1)").arg(newest->name);
    m_err << message << Qt::endl;
}

int CliContext::fail(const QString &message)
{
    m_err << message << Qt::endl;
    return cli::ExitFailure;
}
