#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

class CliContext;

namespace cli {

// Process exit codes of the command-line tool.
enum ExitCode : int {
    ExitSuccess = 0,
    ExitFailure = 1, // the operation ran and failed
    ExitUsage = 2,   // the command line was wrong; nothing was touched
    // The job has problems a press must not get unawares: the preflight found
    // some (nothing written unless accepted), or the PDF was written but some
    // cards have barcodes or QR codes that could not be drawn and print blank.
    ExitJobProblems = 3,
};

inline QString toolName()
{
    return QStringLiteral("vellumor-vdp-cli");
}

} // namespace cli

// A "--name" option. With an empty valueName it is a flag. A required option
// is shown without brackets in the usage line, and leaving it out is a usage error.
struct CliOption
{
    QString name;
    QString valueName;
    QString description;
    bool required = false;
};

// A positional argument, named in upper case in the usage line.
struct CliArgument
{
    QString name;
    QString description;
};

// The options and arguments one command was given, already checked against
// its CliCommand entry.
struct CliInvocation
{
    QMap<QString, QString> options; // flags map to an empty value
    QStringList arguments;

    bool isSet(const QString &option) const { return options.contains(option); }
    QString value(const QString &option) const { return options.value(option); }
};

// One entry of the command table. Adding a command means adding one of these
// to a group function (see clicommands.h); parsing, usage and help follow.
struct CliCommand
{
    QString name;
    QString summary;     // one line, shown in the tool's command list
    QString description; // optional paragraph for the command's --help
    QList<CliArgument> arguments;
    QList<CliOption> options;
    int (*run)(CliContext &context, const CliInvocation &invocation) = nullptr;
};
