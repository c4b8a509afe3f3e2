#include "app/datadirectorylock.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Outcome = DataDirectoryLockAttempt::Outcome;

// A pid that belonged to a process now gone: a child that has ended and been
// reaped (pids are not reused this soon on a test machine).
qint64 pidOfEndedProcess()
{
    QProcess child;
    child.start(QStringLiteral("true"), {});
    if (!child.waitForStarted())
        return 0;
    const qint64 pid = child.processId();
    child.waitForFinished();
    return pid;
}

// A lock file as a window on this host would have left it.
bool writeLockFile(const QString &directory, qint64 pid, const QString &program)
{
    QFile file(dataDirectoryLockPath(directory));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray text = QByteArray::number(pid) + '\n' + program.toUtf8() + '\n'
        + QSysInfo::machineHostName().toUtf8() + '\n';
    return file.write(text) == text.size() && file.flush();
}

QString windowBinary()
{
    return QStringLiteral(VDP_BIN_DIR "/vellumor-vdp");
}

struct WindowRun
{
    int exitCode = -1;
    QString stderrText;
};

// The window binary in its smoke-test mode on `dataDirectory`.
WindowRun runWindow(const QString &dataDirectory)
{
    QProcess window;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TESSOLO_DATA_DIR"), dataDirectory);
    environment.insert(QStringLiteral("TESSOLO_SMOKE_TEST"), QStringLiteral("1"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.remove(QStringLiteral("TESSOLO_SCREENSHOT"));
    window.setProcessEnvironment(environment);
    window.start(windowBinary(), {});
    if (!window.waitForFinished(60000)) {
        window.kill();
        window.waitForFinished();
        return {};
    }
    WindowRun run;
    run.exitCode = window.exitStatus() == QProcess::NormalExit ? window.exitCode() : -1;
    run.stderrText = QString::fromLocal8Bit(window.readAllStandardError());
    return run;
}

} // namespace

class TestDataDirectoryLock : public QObject
{
    Q_OBJECT

private slots:
    void secondLockNamesTheHolder();
    void leftoverLockIsTakenOver_data();
    void leftoverLockIsTakenOver();
    void secondWindowProcessQuits();
};

void TestDataDirectoryLock::secondLockNamesTheHolder()
{
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    {
        DataDirectoryLockAttempt first = lockDataDirectory(directory.path());
        QCOMPARE(first.outcome, Outcome::Locked);
        QVERIFY(first.lock.isHeld());
        QVERIFY(QFileInfo::exists(dataDirectoryLockPath(directory.path())));

        const DataDirectoryLockAttempt second = lockDataDirectory(directory.path());
        QCOMPARE(second.outcome, Outcome::HeldElsewhere);
        QVERIFY(!second.lock.isHeld());
        QCOMPARE(second.holder.pid, QCoreApplication::applicationPid());
        QCOMPARE(second.holder.hostName, QSysInfo::machineHostName());
        QVERIFY2(second.message.contains(QString::number(QCoreApplication::applicationPid())),
                 qPrintable(second.message));
        QVERIFY2(second.message.contains(directory.path()), qPrintable(second.message));

        // A window open for hours has not touched its lock file since: the
        // file's age makes no lock stale while its holder runs.
        {
            QFile file(dataDirectoryLockPath(directory.path()));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-6 * 3600),
                                     QFileDevice::FileModificationTime));
        }
        QCOMPARE(lockDataDirectory(directory.path()).outcome, Outcome::HeldElsewhere);
        QVERIFY(first.lock.isHeld());

        // Moved, the lock stays held and the file stays.
        DataDirectoryLock moved = std::move(first.lock);
        QVERIFY(moved.isHeld());
        QCOMPARE(lockDataDirectory(directory.path()).outcome, Outcome::HeldElsewhere);
    }
    // Released with its owner: the file is gone and the directory free.
    QVERIFY(!QFileInfo::exists(dataDirectoryLockPath(directory.path())));
    QCOMPARE(lockDataDirectory(directory.path()).outcome, Outcome::Locked);
}

void TestDataDirectoryLock::leftoverLockIsTakenOver_data()
{
    QTest::addColumn<bool>("liveOtherProgram");
    // A window killed or crashed: its pid is gone.
    QTest::newRow("holder gone") << false;
    // The pid was recycled by an unrelated program: not a window holding it.
    QTest::newRow("pid reused by another program") << true;
}

void TestDataDirectoryLock::leftoverLockIsTakenOver()
{
    QFETCH(bool, liveOtherProgram);
    QTemporaryDir directory;
    QVERIFY(directory.isValid());

    QProcess other;
    qint64 pid = 0;
    if (liveOtherProgram) {
        other.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        QVERIFY(other.waitForStarted());
        pid = other.processId();
    } else {
        pid = pidOfEndedProcess();
    }
    QVERIFY(pid > 0);
    QVERIFY(writeLockFile(directory.path(), pid, windowBinary()));

    const DataDirectoryLockAttempt attempt = lockDataDirectory(directory.path());
    if (liveOtherProgram) {
        other.kill();
        other.waitForFinished();
    }
    QCOMPARE(attempt.outcome, Outcome::Locked);
    QVERIFY(attempt.lock.isHeld());
    // The file now names this process.
    QFile file(dataDirectoryLockPath(directory.path()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readLine().trimmed().toLongLong(), QCoreApplication::applicationPid());
}

void TestDataDirectoryLock::secondWindowProcessQuits()
{
    if (!QFileInfo(windowBinary()).isExecutable())
        QFAIL("the window binary is not built");
    QTemporaryDir directory;
    QVERIFY(directory.isValid());

    {
        const DataDirectoryLockAttempt held = lockDataDirectory(directory.path());
        QCOMPARE(held.outcome, Outcome::Locked);
        const WindowRun second = runWindow(directory.path());
        QCOMPARE(second.exitCode, 1);
        QVERIFY2(second.stderrText.contains(dataDirectoryInUseTitle()), qPrintable(second.stderrText));
        QVERIFY2(second.stderrText.contains(QStringLiteral("process %1").arg(QCoreApplication::applicationPid())),
                 qPrintable(second.stderrText));
        // Refused before the database was made.
        QVERIFY(!QFileInfo::exists(directory.filePath(QStringLiteral("vellumor-vdp.sqlite"))));

        // The command-line tool takes no lock: it works beside a window.
        QProcess tool;
        tool.start(QStringLiteral(VDP_BIN_DIR "/vellumor-vdp-cli"),
                   {QStringLiteral("--data-dir"), directory.path(), QStringLiteral("projects")});
        QVERIFY(tool.waitForFinished(60000));
        QVERIFY2(tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0,
                 tool.readAllStandardError().constData());
        QVERIFY(held.lock.isHeld());
    }

    // Free again, and after a holder that is gone, the window starts, and
    // leaves no lock behind when it quits.
    QVERIFY(writeLockFile(directory.path(), pidOfEndedProcess(), windowBinary()));
    const WindowRun alone = runWindow(directory.path());
    QVERIFY2(alone.exitCode == 0, qPrintable(alone.stderrText));
    QVERIFY(!QFileInfo::exists(dataDirectoryLockPath(directory.path())));
}

QTEST_GUILESS_MAIN(TestDataDirectoryLock)
#include "tst_datadirectorylock.moc"
