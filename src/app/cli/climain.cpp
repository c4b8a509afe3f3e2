#include "clicommands.h"
#include "clicontext.h"
#include "cliparser.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The same identity as the window, so both find the same data folder.
    QCoreApplication::setApplicationName(QStringLiteral("Vellumor VDP"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VDP_VERSION));
    QCoreApplication::setOrganizationName(QStringLiteral("Vellumor"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));

    QTextStream out(stdout);
    QTextStream err(stderr);

    const QList<CliCommand> commands = allCommands();
    const CliRequest request = parseCommandLine(QCoreApplication::arguments().mid(1), commands);

    switch (request.action) {
    case CliRequest::Action::ShowToolHelp:
        out << toolHelp(commands);
        return cli::ExitSuccess;
    case CliRequest::Action::ShowCommandHelp:
        out << commandHelp(*request.command);
        return cli::ExitSuccess;
    case CliRequest::Action::ShowVersion:
        out << cli::toolName() << ' ' << QCoreApplication::applicationVersion() << '\n';
        return cli::ExitSuccess;
    case CliRequest::Action::UsageError:
        err << cli::toolName() << ": " << request.error << '\n'
            << (request.command ? commandUsage(*request.command) : toolUsage(commands));
        return cli::ExitUsage;
    case CliRequest::Action::Run:
        break;
    }

    CliContext context(out, err, request.dataDirectory);
    return request.command->run(context, request.invocation);
}
