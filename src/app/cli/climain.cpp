#include "clicommands.h"
#include "clicontext.h"
#include "cliparser.h"
#include "interruptcleanup.h"

#include <QGuiApplication>
#include <QLocale>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Painting text and writing a PDF need a Gui application (fonts come with
    // the platform), but the tool must run on a headless server and must not
    // depend on a display it never shows anything on: unless the caller chose a
    // platform, the offscreen one is used.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // While choosing a platform Qt looks for a Wayland socket in the runtime
    // folder and, on a server without a desktop session, warns that
    // XDG_RUNTIME_DIR is not set. The tool opens no window, and scripts read
    // its stderr: that one note is dropped, everything else passes.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &message) {
        if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
            return;
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    });
    QGuiApplication app(argc, argv);
    qInstallMessageHandler(nullptr);
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

    // Only a command writes files; help and usage errors keep the defaults.
    installInterruptCleanup();
    CliContext context(out, err, request.dataDirectory);
    return request.command->run(context, request.invocation);
}
