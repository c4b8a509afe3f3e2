#pragma once

// Running the real vellumor-vdp-cli as a child process, plus the small file
// and text helpers the command-line tests share.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

// How one run is started: how long to wait, where, and what the child does
// between fork and exec.
struct CliOptions
{
    int timeoutMs = 120000;
    QString workingDirectory;
    std::function<void()> childSetup;
};

inline QString binPath(const QString &name)
{
    return QDir(QStringLiteral(VDP_BIN_DIR)).filePath(name);
}

inline QString cliPath()
{
    return binPath(QStringLiteral("vellumor-vdp-cli"));
}

// The system environment with its own HOME and XDG_DATA_HOME below `root`,
// so the default data folder is a temporary one and the developer's real
// database is never touched.
inline QProcessEnvironment cliEnvironment(const QTemporaryDir &root)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("TESSOLO_DATA_DIR"));
    env.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), root.filePath(QStringLiteral("xdg-data")));
    return env;
}

// Runs the tool with `arguments` in `env`. A run that does not finish normally
// keeps exit code -1 and says why in `err`.
inline CliRun runCli(const QStringList &arguments, const QProcessEnvironment &env, const CliOptions &options = {})
{
    QProcess process;
    process.setProcessEnvironment(env);
    if (!options.workingDirectory.isEmpty())
        process.setWorkingDirectory(options.workingDirectory);
    if (options.childSetup)
        process.setChildProcessModifier(options.childSetup);
    process.start(cliPath(), arguments);
    CliRun result;
    if (!process.waitForFinished(options.timeoutMs) || process.exitStatus() != QProcess::NormalExit) {
        result.err = QStringLiteral("<process did not finish: %1>").arg(process.errorString());
        return result;
    }
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// Runs the tool on `dataDir`, with --data-dir ahead of `arguments`.
inline CliRun runCliOn(const QString &dataDir, const QStringList &arguments, const QProcessEnvironment &env,
                       const CliOptions &options = {})
{
    return runCli(QStringList{QStringLiteral("--data-dir"), dataDir} + arguments, env, options);
}

// The lines of `text`, without the empty one after a final newline.
inline QStringList lines(const QString &text)
{
    QStringList result = text.split(u'\n');
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

inline QStringList directoryEntries(const QString &path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}
