#pragma once

// Running the real vellumor-vdp-cli as a child process, plus the small file
// and text helpers the command-line tests share.

#include <QByteArray>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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

// What a command-line test needs before it starts: the tool and the starter
// folder it seeds new data directories from. The first one missing, or an
// empty string when both are there.
inline QString missingCliRequirement()
{
    if (!QFileInfo(cliPath()).isExecutable())
        return QStringLiteral("vellumor-vdp-cli is missing");
    if (!QFileInfo::exists(binPath(QStringLiteral("starter/vellumor-vdp-starter.sqlite"))))
        return QStringLiteral("starter is missing");
    return {};
}

// The database file the tool keeps in `dataDir`.
inline QString databasePath(const QString &dataDir)
{
    return QDir(dataDir).filePath(QStringLiteral("vellumor-vdp.sqlite"));
}

// Runs the tool on `dataDir`, with --data-dir ahead of `arguments`.
inline CliRun runCliOn(const QString &dataDir, const QStringList &arguments, const QProcessEnvironment &env,
                       const CliOptions &options = {})
{
    return runCli(QStringList{QStringLiteral("--data-dir"), dataDir} + arguments, env, options);
}

// Numbered paths ("data-1", "out-2", …) below a temporary root of one test program.
class CliFolders
{
public:
    bool isValid() const { return m_root.isValid(); }
    const QTemporaryDir &root() const { return m_root; }

    // A new path below the root; nothing is created there.
    QString newDirectory(const QString &stem)
    {
        return m_root.filePath(QStringLiteral("%1-%2").arg(stem).arg(++m_count));
    }

    // A folder that exists and is empty.
    QString newFolder(const QString &stem)
    {
        const QString folder = newDirectory(stem);
        QDir().mkpath(folder);
        return folder;
    }

    // A data directory seeded from the starter folder, as on a first start:
    // `run` is the test's own way of running the tool on a data directory.
    QString starterDataDirectory(const std::function<CliRun(const QString &, const QStringList &)> &run)
    {
        const QString dataDir = newDirectory(QStringLiteral("data"));
        const CliRun seeded = run(dataDir, {QStringLiteral("projects")});
        if (seeded.exitCode != 0)
            qWarning() << "seeding failed:" << seeded.err;
        return dataDir;
    }

private:
    QTemporaryDir m_root;
    int m_count = 0;
};

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
