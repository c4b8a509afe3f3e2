#include "clicontext.h"

#include "app/workspace.h"
#include "clicommand.h"

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
    if (const std::optional<StartupFailure> failure = ::openWorkspace(m_store, paths)) {
        fail(QStringLiteral("%1: %2").arg(failure->title, failure->text));
        return nullptr;
    }
    m_open = true;
    return &m_store;
}

int CliContext::fail(const QString &message)
{
    m_err << message << Qt::endl;
    return cli::ExitFailure;
}
