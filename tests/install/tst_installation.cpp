// The application as an installation delivers it: `cmake --install` into a
// temporary prefix, the tree then moved elsewhere (it must not depend on where
// it was installed), and everything run from there, from a folder outside the
// build tree: the tool's export, the window's smoke test, the desktop files
// checked by Debian's validators, the man page rendered by man, the bash
// completion driven as bash drives it, and start-ups that must fail cleanly.

#include "support/asuser.h"
#include "support/pdffixtures.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <array>

#include <grp.h>
#include <sys/stat.h>

namespace {

const QString cliName = QStringLiteral("vellumor-vdp-cli");
const QString appId = QStringLiteral(VDP_APP_ID);
// The start of the message when the starter database cannot be copied; the
// reason follows.
const QString starterCopyFailed = QStringLiteral(
    "Starter Template Initialization Failed: Could not copy the built-in starter template database to @DB: ");

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// How a program is started: where, with what environment, and whether as a
// user without privileges (root ignores file permissions, so a run as root
// drops to nobody for the cases that depend on them).
struct RunOptions
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString workingDirectory;
    bool unprivileged = false;
    int timeoutMs = 120000;
};

Run runProgram(const QString &program, const QStringList &arguments, const RunOptions &options)
{
    QProcess process;
    process.setProcessEnvironment(options.env);
    if (!options.workingDirectory.isEmpty())
        process.setWorkingDirectory(options.workingDirectory);
    if (options.unprivileged && geteuid() == 0) {
        process.setChildProcessModifier([] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNogroup) != 0 || ::setuid(kNobody) != 0)
                ::_exit(126);
        });
    }
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(options.timeoutMs) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        result.err = QStringLiteral("<%1 did not finish: %2>").arg(program, process.errorString());
        return result;
    }
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

QStringList lines(const QString &text)
{
    return text.split(u'\n', Qt::SkipEmptyParts);
}

QString describe(const Run &run)
{
    return QStringLiteral("exit %1\nstdout: %2\nstderr: %3").arg(run.exitCode).arg(run.out, run.err);
}

bool copyTree(const QString &from, const QString &to)
{
    return runProgram(QStringLiteral("cp"), {QStringLiteral("-a"), from, to}, {}).exitCode == 0;
}

// Every entry below `root` with its kind, mode and, for files, a digest of
// the contents: what a failed start must leave exactly as it found it.
QStringList snapshot(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QString entry = QDir(root).relativeFilePath(info.filePath())
            + QStringLiteral(" %1").arg(int(info.permissions()), 0, 16);
        if (info.isFile()) {
            QFile file(info.filePath());
            if (file.open(QIODevice::ReadOnly))
                entry += u' ' + QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex());
        }
        entries << entry;
    }
    entries.sort();
    return entries;
}

constexpr int dpi = 300;

QRect toPixels(const QRectF &mm)
{
    const auto pixels = [](double length) { return qRound(length * dpi / 25.4); };
    return QRect(QPoint(pixels(mm.left()), pixels(mm.top())), QPoint(pixels(mm.right()), pixels(mm.bottom())));
}

bool setMode(const QString &path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

// A folder the program under test owns and can write, also when it runs
// unprivileged under a test run as root.
bool makeWritableFolder(const QString &path, bool unprivileged)
{
    if (!QDir().mkpath(path))
        return false;
    if (unprivileged && geteuid() == 0)
        return ::chown(QFile::encodeName(path).constData(), kNobody, kNogroup) == 0;
    return true;
}

// Gives write permission back to everything below `root`, so that the
// temporary folder can be removed when the test does not run as root.
void restoreWritable(const QString &root)
{
    QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    setMode(root, 0755);
    while (it.hasNext())
        setMode(it.next(), 0755);
}

// The names the tool's --help lists under "Commands:".
QStringList commandsOfHelp(const QString &help)
{
    QStringList commands;
    bool inList = false;
    for (const QString &line : help.split(u'\n')) {
        if (line == u"Commands:") {
            inList = true;
        } else if (inList && line.startsWith(QLatin1String("  "))) {
            commands << line.trimmed().section(u' ', 0, 0);
        } else if (inList) {
            break;
        }
    }
    return commands;
}

// The long options a command's --help lists under "Options:".
QStringList optionsOfHelp(const QString &help)
{
    QStringList options;
    static const QRegularExpression option(QStringLiteral("^  (?:-\\w, )?(--[\\w-]+)"));
    const QString list = help.section(QStringLiteral("\nOptions:\n"), 1);
    for (const QString &line : list.split(u'\n')) {
        const QRegularExpressionMatch match = option.match(line);
        if (match.hasMatch())
            options << match.captured(1);
    }
    options.sort();
    return options;
}

} // namespace

class TestInstallation : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_prefix;
    int m_count = 0;

    QString bin(const QString &name, const QString &prefix = {}) const
    {
        return QDir(prefix.isEmpty() ? m_prefix : prefix).filePath(QStringLiteral("bin/") + name);
    }
    QString installed(const QString &relativePath) const { return QDir(m_prefix).filePath(relativePath); }
    QString newPath(const QString &stem) { return m_root.filePath(QStringLiteral("%1-%2").arg(stem).arg(++m_count)); }
    QString newFolder(const QString &stem)
    {
        const QString path = newPath(stem);
        QDir().mkpath(path);
        return path;
    }

    // The environment of an installed program: its own home, no data
    // directory or PDFium chosen, offscreen, and a runtime folder of its own
    // for the user it runs as.
    RunOptions installedRun(bool unprivileged = false)
    {
        RunOptions options;
        options.unprivileged = unprivileged;
        options.workingDirectory = newPath(QStringLiteral("cwd"));
        makeWritableFolder(options.workingDirectory, unprivileged);
        const QString home = newPath(QStringLiteral("home"));
        makeWritableFolder(home, unprivileged);
        const QString runtime = newPath(QStringLiteral("runtime"));
        makeWritableFolder(runtime, unprivileged);
        setMode(runtime, 0700);
        for (const char *name : {"TESSOLO_DATA_DIR", "TESSOLO_SCREENSHOT", "TESSOLO_SMOKE_TEST", "PDFIUM_LIBRARY",
                                 "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
            options.env.remove(QString::fromLatin1(name));
        options.env.insert(QStringLiteral("HOME"), home);
        options.env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        options.env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return options;
    }

    Run cli(const QStringList &arguments, const RunOptions &options, const QString &prefix = {}) const
    {
        return runProgram(bin(cliName, prefix), arguments, options);
    }

    Run smokeTest(RunOptions options, const QString &prefix = {}, const QString &value = QStringLiteral("1")) const
    {
        options.env.insert(QStringLiteral("TESSOLO_SMOKE_TEST"), value);
        options.timeoutMs = 60000;
        return runProgram(bin(QStringLiteral("vellumor-vdp"), prefix), {}, options);
    }

    // The completions bash offers after the tool's name and `words`, the last
    // one being the word under the cursor, in `folder`.
    QStringList complete(const QStringList &words, const QString &folder) const
    {
        const QString script = QStringLiteral(
            "source \"$1\"; shift; "
            "function=$(complete -p %1 | sed -n 's/.* -F \\([^ ]*\\) .*/\\1/p'); "
            "[ -n \"$function\" ] || exit 3; "
            "COMP_WORDS=(%1 \"$@\"); COMP_CWORD=$#; COMPREPLY=(); \"$function\"; "
            "printf '%s\\n' \"${COMPREPLY[@]}\"").arg(cliName);
        RunOptions options;
        options.workingDirectory = folder;
        const Run run = runProgram(QStringLiteral("bash"),
                                   QStringList{QStringLiteral("--norc"), QStringLiteral("--noprofile"), QStringLiteral("-c"),
                                               script, QStringLiteral("bash"), completionFile()}
                                       + words,
                                   options);
        if (run.exitCode != 0)
            return {QStringLiteral("<bash failed: %1>").arg(describe(run))};
        QStringList offered = lines(run.out);
        offered.sort();
        return offered;
    }

    QString completionFile() const
    {
        return installed(QStringLiteral("share/bash-completion/completions/") + cliName);
    }

    // The newest project of the database in `dataDir`, read directly.
    QString newestProjectName(const QString &dataDir) const
    {
        const QString connection = QUuid::createUuid().toString(QUuid::Id128);
        QString name;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(QDir(dataDir).filePath(QStringLiteral("vellumor-vdp.sqlite")));
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            if (db.open()) {
                QSqlQuery query(QStringLiteral("SELECT name FROM projects ORDER BY id DESC LIMIT 1"), db);
                if (query.next())
                    name = query.value(0).toString();
            }
        }
        QSqlDatabase::removeDatabase(connection);
        return name;
    }

    bool setBackground(const QString &dataDir, const QString &background) const
    {
        const QString connection = QUuid::createUuid().toString(QUuid::Id128);
        bool done = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(QDir(dataDir).filePath(QStringLiteral("vellumor-vdp.sqlite")));
            if (db.open()) {
                QSqlQuery query(db);
                query.prepare(QStringLiteral("UPDATE projects SET background_path = ?"));
                query.addBindValue(background);
                done = query.exec() && query.numRowsAffected() > 0;
            }
        }
        QSqlDatabase::removeDatabase(connection);
        return done;
    }

private slots:
    void initTestCase();
    void installsTheLayout_data();
    void installsTheLayout();
    void versionComesFromTheProject();
    void starterExportFromTheInstalledTool();
    void pdfBackgroundsUseTheInstalledPdfium();
    void windowSmokeTest_data();
    void windowSmokeTest();
    void badStartsFailCleanly_data();
    void badStartsFailCleanly();
    void missingStarterStartsEmpty();
    void desktopFilesValidate();
    void manPageRendersEveryCommand();
    void completion_data();
    void completion();
    void completionAgreesWithTheTool();
};

void TestInstallation::initTestCase()
{
    QVERIFY(m_root.isValid());
    for (const char *tool : {"pdftoppm", "zbarimg", "desktop-file-validate", "appstreamcli", "man", "bash", "cp"})
        QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty(), tool);
    // The unprivileged runs must reach the installation and their folders.
    QVERIFY(setMode(m_root.path(), 0755));

    const QString staging = m_root.filePath(QStringLiteral("staging"));
    const Run install = runProgram(QStringLiteral(VDP_CMAKE_COMMAND),
                                   {QStringLiteral("--install"), QStringLiteral(VDP_BUILD_DIR), QStringLiteral("--prefix"),
                                    staging},
                                   {});
    QVERIFY2(install.exitCode == 0, qPrintable(describe(install)));
    // Moved after installing: nothing may point back at the first prefix.
    m_prefix = m_root.filePath(QStringLiteral("moved/prefix"));
    QVERIFY(QDir().mkpath(m_root.filePath(QStringLiteral("moved"))));
    QVERIFY(QDir().rename(staging, m_prefix));
}

void TestInstallation::installsTheLayout_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");

    QTest::newRow("window") << "bin/vellumor-vdp" << true;
    QTest::newRow("tool") << "bin/" + cliName << true;
    QTest::newRow("starter database") << "share/vellumor-vdp/starter/vellumor-vdp-starter.sqlite" << false;
    QTest::newRow("starter sample data") << "share/vellumor-vdp/starter/sample-data.xlsx" << false;
    QTest::newRow("menu entry") << "share/applications/" + appId + ".desktop" << false;
    QTest::newRow("scalable icon") << "share/icons/hicolor/scalable/apps/" + appId + ".svg" << false;
    QTest::newRow("256 px icon") << "share/icons/hicolor/256x256/apps/" + appId + ".png" << false;
    QTest::newRow("AppStream metadata") << "share/metainfo/" + appId + ".metainfo.xml" << false;
    QTest::newRow("man page") << "share/man/man1/" + cliName + ".1" << false;
    QTest::newRow("bash completion") << "share/bash-completion/completions/" + cliName << false;
    // The build puts PDFium beside the executables when it has one; an
    // installation then ships it in its private library folder.
    if (QFileInfo::exists(QStringLiteral(VDP_BUILD_DIR "/bin/libpdfium.so")))
        QTest::newRow("PDFium") << "lib/vellumor-vdp/libpdfium.so" << false;
    QTest::newRow("PDF renderer process") << "lib/vellumor-vdp/vellumor-vdp-pdfraster" << true;
}

void TestInstallation::installsTheLayout()
{
    QFETCH(QString, path);
    QFETCH(bool, executable);

    const QFileInfo info(installed(path));
    QVERIFY2(info.isFile(), qPrintable(info.filePath()));
    QCOMPARE(info.isExecutable(), executable);
    QVERIFY2(info.permissions() & QFile::ReadOther, "every user must be able to read it");
    // Only the two programs live in bin/: it is on everybody's PATH.
    QCOMPARE(QDir(installed(QStringLiteral("bin"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
             (QStringList{QStringLiteral("vellumor-vdp"), cliName}));
}

void TestInstallation::versionComesFromTheProject()
{
    const RunOptions options = installedRun();
    const Run version = cli({QStringLiteral("--version")}, options);
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out, QStringLiteral("%1 %2\n").arg(cliName, QStringLiteral(VDP_VERSION)));

    QFile metainfo(installed(QStringLiteral("share/metainfo/") + appId + QStringLiteral(".metainfo.xml")));
    QVERIFY(metainfo.open(QIODevice::ReadOnly));
    const QString xml = QString::fromUtf8(metainfo.readAll());
    const QRegularExpressionMatch release
        = QRegularExpression(QStringLiteral("<release version=\"([^\"]+)\" date=\"(\\d{4}-\\d\\d-\\d\\d)\"")).match(xml);
    QVERIFY2(release.hasMatch(), qPrintable(xml));
    QCOMPARE(release.captured(1), QStringLiteral(VDP_VERSION));

    QFile man(installed(QStringLiteral("share/man/man1/") + cliName + QStringLiteral(".1")));
    QVERIFY(man.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(man.readAll());
    QVERIFY2(page.contains(QStringLiteral("\"Vellumor VDP %1\"").arg(QStringLiteral(VDP_VERSION))), qPrintable(page.left(400)));
}

// A new data directory is seeded from the installed starter folder and its
// cards export at once; each card of the first sheet carries its member's
// code as Code 128 and as QR code.
void TestInstallation::starterExportFromTheInstalledTool()
{
    const RunOptions options = installedRun();
    const QString dataDir = newPath(QStringLiteral("data"));
    const QString pdf = QDir(options.workingDirectory).filePath(QStringLiteral("starter.pdf"));

    const Run exported = cli({QStringLiteral("--data-dir"), dataDir, QStringLiteral("export"), QStringLiteral("--output"),
                              QStringLiteral("starter.pdf")},
                             options);
    QVERIFY2(exported.exitCode == 0, qPrintable(describe(exported)));
    QCOMPARE(lines(exported.err).value(0),
             QStringLiteral("Created a new project database in %1 (Starter Template)").arg(dataDir));
    QCOMPARE(exported.out, QStringLiteral("PDF exported: %1 (8 pages)\n").arg(pdf));

    const Run project = cli({QStringLiteral("--data-dir"), dataDir, QStringLiteral("projects"), QStringLiteral("--json")},
                            options);
    const QJsonObject sizes = QJsonDocument::fromJson(project.out.toUtf8()).object();
    const int rows = sizes.value(QStringLiteral("rows")).toInt();
    const int columns = sizes.value(QStringLiteral("columns")).toInt();
    const QSizeF card(sizes.value(QStringLiteral("cardWidthMm")).toDouble(), sizes.value(QStringLiteral("cardHeightMm")).toDouble());
    const QSizeF paper(sizes.value(QStringLiteral("paperWidthMm")).toDouble(),
                       sizes.value(QStringLiteral("paperHeightMm")).toDouble());
    QVERIFY2(rows * columns > 1 && !card.isEmpty(), qPrintable(project.out));

    const Run records = cli({QStringLiteral("--data-dir"), dataDir, QStringLiteral("records"), QStringLiteral("--limit"),
                             QString::number(rows * columns)},
                            options);
    QCOMPARE(records.exitCode, 0);
    QStringList codes;
    for (const QString &line : lines(records.out))
        codes << QJsonDocument::fromJson(line.toUtf8()).object().value(QStringLiteral("Member Code")).toString();
    QCOMPARE(codes.size(), rows * columns);

    const QString stem = QDir(options.workingDirectory).filePath(QStringLiteral("page"));
    const Run rendered = runProgram(QStringLiteral("pdftoppm"),
                                    {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"), QStringLiteral("1"),
                                     QStringLiteral("-l"), QStringLiteral("1"), QStringLiteral("-singlefile"),
                                     QStringLiteral("-png"), pdf, stem},
                                    {});
    QVERIFY2(rendered.exitCode == 0, qPrintable(describe(rendered)));
    const QImage page(stem + QStringLiteral(".png"));
    QVERIFY(!page.isNull());

    // The grid of cards sits in the middle of the sheet, filled row by row.
    const QPointF origin((paper.width() - columns * card.width()) / 2, (paper.height() - rows * card.height()) / 2);
    const QString cell = QDir(options.workingDirectory).filePath(QStringLiteral("card.png"));
    for (int slot = 0; slot < rows * columns; ++slot) {
        const QRectF mm(origin + QPointF(slot % columns * card.width(), slot / columns * card.height()), card);
        QVERIFY(page.copy(toPixels(mm)).save(cell));
        const Run decoded = runProgram(QStringLiteral("zbarimg"), {QStringLiteral("-q"), cell}, {});
        QStringList symbols = lines(decoded.out);
        symbols.sort();
        QCOMPARE(symbols, (QStringList{QStringLiteral("CODE-128:") + codes.at(slot), QStringLiteral("QR-Code:") + codes.at(slot)}));
    }
}

// The installed tool renders a PDF background through the renderer process
// and the PDFium of its own library folder; without the library there, that
// folder is where it says it looked.
void TestInstallation::pdfBackgroundsUseTheInstalledPdfium()
{
    if (!QFileInfo::exists(installed(QStringLiteral("lib/vellumor-vdp/libpdfium.so"))))
        QSKIP("this build has no PDFium to install (scripts/fetch-pdfium.sh)");

    const RunOptions options = installedRun();
    const QString dataDir = newPath(QStringLiteral("data"));
    const QString artwork = QDir(options.workingDirectory).filePath(QStringLiteral("artwork.pdf"));
    QVERIFY(writeTestPdf(artwork, QSizeF(255, 153), 1, QRectF(0, 0, 100, 153), Qt::red));
    QCOMPARE(cli({QStringLiteral("--data-dir"), dataDir, QStringLiteral("projects")}, options).exitCode, 0);
    QVERIFY(setBackground(dataDir, artwork));

    const QStringList exportArguments{QStringLiteral("--data-dir"), dataDir, QStringLiteral("export"),
                                      QStringLiteral("--output"), QStringLiteral("with-background.pdf")};
    const Run withPdfium = cli(exportArguments, options);
    QVERIFY2(withPdfium.exitCode == 0, qPrintable(describe(withPdfium)));

    // Artwork that unpacks to gigabytes stops the export at the renderer's
    // limit instead of printing blank.
    const QString bomb = QDir(options.workingDirectory).filePath(QStringLiteral("bomb.pdf"));
    QFile bombFile(bomb);
    QVERIFY(bombFile.open(QIODevice::WriteOnly) && bombFile.write(flateBombPdf(qint64(3) << 29)) > 0);
    bombFile.close();
    QVERIFY(setBackground(dataDir, bomb));
    const Run withBomb = cli(exportArguments, options);
    QCOMPARE(withBomb.exitCode, 1);
    QVERIFY2(withBomb.err.contains(QStringLiteral("The PDF needs more than 1 GB to render")), qPrintable(withBomb.err));
    QVERIFY(setBackground(dataDir, artwork));

    const QString copy = m_root.filePath(QStringLiteral("without-pdfium"));
    QVERIFY(copyTree(m_prefix, copy));
    QVERIFY(QFile::remove(QDir(copy).filePath(QStringLiteral("lib/vellumor-vdp/libpdfium.so"))));
    const Run withoutPdfium = cli(exportArguments, options, copy);
    QCOMPARE(withoutPdfium.exitCode, 1);
    QVERIFY2(withoutPdfium.err.contains(QDir(copy).filePath(QStringLiteral("lib/vellumor-vdp/libpdfium.so"))),
             qPrintable(withoutPdfium.err));

    // Without the renderer process, the places it was looked for are named.
    const QString renderer = QDir(copy).filePath(QStringLiteral("lib/vellumor-vdp/vellumor-vdp-pdfraster"));
    QVERIFY(QFile::remove(renderer));
    const Run withoutRenderer = cli(exportArguments, options, copy);
    QCOMPARE(withoutRenderer.exitCode, 1);
    QVERIFY2(withoutRenderer.err.contains(QStringLiteral("The PDF renderer is missing from the installation.")),
             qPrintable(withoutRenderer.err));
    QVERIFY2(withoutRenderer.err.contains(renderer), qPrintable(withoutRenderer.err));
}

void TestInstallation::windowSmokeTest_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("TESSOLO_SMOKE_TEST=1") << "1";
    QTest::newRow("TESSOLO_SMOKE_TEST set and empty") << "";
}

// The installed window starts on a new data directory, seeds it from the
// installed starter folder, and quits by itself.
void TestInstallation::windowSmokeTest()
{
    QFETCH(QString, value);

    RunOptions options = installedRun();
    const QString dataDir = newPath(QStringLiteral("data"));
    options.env.insert(QStringLiteral("TESSOLO_DATA_DIR"), dataDir);
    const Run run = smokeTest(options, {}, value);
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QCOMPARE(newestProjectName(dataDir), QStringLiteral("Starter Template"));
}

void TestInstallation::badStartsFailCleanly_data()
{
    QTest::addColumn<QString>("program"); // "window" or "tool"
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("message"); // "@DATA" stands for the data directory, "@DB" for its database,
                                          // "@WATCHED" for the folder whose permissions are taken away

    const QString readOnlyDatabase = QStringLiteral("Database Initialization Failed: The database file @DB is read-only.");
    const QString folderNotWritable = QStringLiteral("Database Initialization Failed: The folder @DATA cannot be written.");
    const QList<std::array<QString, 3>> situations{
        // The default data folder is below the home directory.
        {"home cannot be written", "home",
         starterCopyFailed + QStringLiteral("could not create the folder @WATCHED/.local: Permission denied.")},
        {"data directory read-only", "read-only", starterCopyFailed + QStringLiteral("Permission denied.")},
        {"data directory to be made in a read-only folder", "below read-only",
         starterCopyFailed + QStringLiteral("could not create the folder @DATA: Permission denied.")},
        {"database on a read-only file system", "read-only with database", readOnlyDatabase},
        {"no starter folder, data directory read-only", "read-only, no starter", folderNotWritable},
    };
    for (const QString &program : {QStringLiteral("window"), QStringLiteral("tool")}) {
        for (const auto &[name, situation, message] : situations)
            QTest::addRow("%s: %s", qPrintable(program), qPrintable(name)) << program << situation << message;
    }
}

// Each start fails with the box's title and text (on stderr: nobody is there
// to close a box in the smoke test), exit code 1, and leaves the folders it
// was given exactly as they were.
void TestInstallation::badStartsFailCleanly()
{
    QFETCH(QString, program);
    QFETCH(QString, situation);
    QFETCH(QString, message);

    RunOptions options = installedRun(true);
    const QString home = options.env.value(QStringLiteral("HOME"));
    const QString watched = newFolder(QStringLiteral("watched"));
    auto restore = qScopeGuard([&] { restoreWritable(watched); });
    QString prefix = m_prefix;
    QString dataDir = QDir(watched).filePath(QStringLiteral("data"));

    if (situation == u"home") {
        // The home folder is the watched one; the default data directory is below it.
        options.env.insert(QStringLiteral("HOME"), watched);
        dataDir = QDir(watched).filePath(QStringLiteral(".local/share/Vellumor/Vellumor VDP"));
    } else {
        options.env.insert(QStringLiteral("TESSOLO_DATA_DIR"), dataDir);
        if (situation != u"below read-only")
            QVERIFY(QDir().mkpath(dataDir));
        if (situation == u"read-only with database") {
            QVERIFY(QFile::copy(installed(QStringLiteral("share/vellumor-vdp/starter/vellumor-vdp-starter.sqlite")),
                                QDir(dataDir).filePath(QStringLiteral("vellumor-vdp.sqlite"))));
            QVERIFY(setMode(QDir(dataDir).filePath(QStringLiteral("vellumor-vdp.sqlite")), 0444));
        }
        if (situation == u"read-only, no starter") {
            prefix = m_root.filePath(QStringLiteral("no-starter-%1").arg(++m_count));
            QVERIFY(copyTree(m_prefix, prefix));
            QVERIFY(QDir(QDir(prefix).filePath(QStringLiteral("share/vellumor-vdp/starter"))).removeRecursively());
        }
        if (situation != u"below read-only")
            QVERIFY(setMode(dataDir, 0555));
    }
    QVERIFY(setMode(watched, 0555));
    QVERIFY(setMode(home, 0555));
    const QStringList before = snapshot(watched);

    const Run run = program == u"window" ? smokeTest(options, prefix)
                                         : cli({QStringLiteral("projects")}, options, prefix);

    message.replace(QStringLiteral("@DB"), QDir(dataDir).filePath(QStringLiteral("vellumor-vdp.sqlite")));
    message.replace(QStringLiteral("@DATA"), dataDir);
    message.replace(QStringLiteral("@WATCHED"), watched);
    QVERIFY2(run.exitCode == 1, qPrintable(describe(run)));
    QVERIFY2(lines(run.err).contains(message), qPrintable(describe(run)));
    QCOMPARE(run.out, QString());
    QCOMPARE(snapshot(watched), before);
    QCOMPARE(snapshot(home), QStringList());
}

// Without a starter folder there is nothing to seed from, which is no error:
// the window starts a new database with an empty "Untitled VDP Project", the
// tool a new database without projects.
void TestInstallation::missingStarterStartsEmpty()
{
    const QString prefix = m_root.filePath(QStringLiteral("no-starter"));
    QVERIFY(copyTree(m_prefix, prefix));
    QVERIFY(QDir(QDir(prefix).filePath(QStringLiteral("share/vellumor-vdp/starter"))).removeRecursively());

    RunOptions options = installedRun();
    const QString windowData = newPath(QStringLiteral("data"));
    options.env.insert(QStringLiteral("TESSOLO_DATA_DIR"), windowData);
    const Run window = smokeTest(options, prefix);
    QVERIFY2(window.exitCode == 0, qPrintable(describe(window)));
    QCOMPARE(newestProjectName(windowData), QStringLiteral("Untitled VDP Project"));

    const QString toolData = newPath(QStringLiteral("data"));
    const Run tool = cli({QStringLiteral("--data-dir"), toolData, QStringLiteral("projects")}, options, prefix);
    QVERIFY2(tool.exitCode == 0, qPrintable(describe(tool)));
    // The tool never creates a project: the table has its header only.
    QCOMPARE(lines(tool.err), QStringList{QStringLiteral("Created a new, empty project database in %1").arg(toolData)});
    QCOMPARE(lines(tool.out).size(), 1);
}

// The menu entry and the AppStream metadata pass Debian's validators, and
// the entry starts an installed program with an installed icon.
void TestInstallation::desktopFilesValidate()
{
    const QString desktopFile = installed(QStringLiteral("share/applications/") + appId + QStringLiteral(".desktop"));
    const Run desktop = runProgram(QStringLiteral("desktop-file-validate"), {desktopFile}, {});
    QVERIFY2(desktop.exitCode == 0 && desktop.out.isEmpty() && desktop.err.isEmpty(), qPrintable(describe(desktop)));

    const Run appstream = runProgram(QStringLiteral("appstreamcli"),
                                     {QStringLiteral("validate"), QStringLiteral("--no-net"),
                                      installed(QStringLiteral("share/metainfo/") + appId + QStringLiteral(".metainfo.xml"))},
                                     {});
    QVERIFY2(appstream.exitCode == 0, qPrintable(describe(appstream)));
    // The installed tree as a software centre reads it: metadata, menu entry and icon together.
    const Run tree = runProgram(QStringLiteral("appstreamcli"),
                                {QStringLiteral("validate-tree"), QStringLiteral("--no-net"), m_prefix}, {});
    QVERIFY2(tree.exitCode == 0, qPrintable(describe(tree)));

    QFile file(desktopFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QMap<QString, QString> entry;
    for (const QString &line : lines(QString::fromUtf8(file.readAll()))) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals > 0)
            entry.insert(line.left(equals), line.mid(equals + 1));
    }
    QVERIFY2(QFileInfo(bin(entry.value(QStringLiteral("Exec")).section(u' ', 0, 0))).isExecutable(),
             qPrintable(entry.value(QStringLiteral("Exec"))));
    QVERIFY2(QFileInfo(bin(entry.value(QStringLiteral("TryExec")))).isExecutable(),
             qPrintable(entry.value(QStringLiteral("TryExec"))));
    QCOMPARE(entry.value(QStringLiteral("Icon")), appId);
}

// man renders the page without a warning, and the page describes every
// command the tool lists and every option each command's help lists.
void TestInstallation::manPageRendersEveryCommand()
{
    RunOptions manOptions = installedRun();
    manOptions.env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
    manOptions.env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    manOptions.env.remove(QStringLiteral("MANPAGER"));
    manOptions.env.remove(QStringLiteral("PAGER"));
    const Run man = runProgram(QStringLiteral("man"),
                               {QStringLiteral("--warnings=all"), QStringLiteral("-l"),
                                installed(QStringLiteral("share/man/man1/") + cliName + QStringLiteral(".1"))},
                               manOptions);
    QVERIFY2(man.exitCode == 0 && man.err.isEmpty(), qPrintable(describe(man)));
    // Options may be broken across lines at their hyphens; compare without them.
    QString page = man.out;
    page.remove(QRegularExpression(QStringLiteral("\\x{2010}\\n\\s*")));
    QVERIFY2(page.contains(QStringLiteral(VDP_VERSION)), "the page's footer names the version");

    const RunOptions options = installedRun();
    const QStringList commands = commandsOfHelp(cli({QStringLiteral("--help")}, options).out);
    QVERIFY2(commands.size() > 5, qPrintable(commands.join(u' ')));
    const QString commandsSection = u'\n' + page.section(QStringLiteral("\nCOMMANDS\n"), 1);
    for (const QString &command : commands) {
        const QString heading = QStringLiteral("\n   %1\n").arg(command);
        QVERIFY2(commandsSection.contains(heading), qPrintable(command));
        if (command == u"help")
            continue;
        const QString section = commandsSection.section(heading, 1).section(QRegularExpression(QStringLiteral("\\n   \\S")), 0, 0);
        const Run help = cli({command, QStringLiteral("--help")}, options);
        QCOMPARE(help.exitCode, 0);
        for (const QString &option : optionsOfHelp(help.out)) {
            // The global options are described once, under OPTIONS.
            const QString where = option == u"--data-dir" || option == u"--help" ? page : section;
            QVERIFY2(where.contains(option), qPrintable(command + u' ' + option));
        }
    }
}

void TestInstallation::completion_data()
{
    QTest::addColumn<QStringList>("words"); // after the tool's name; the last is under the cursor
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("a command by its start") << QStringList{"ex"} << QStringList{"export"};
    QTest::newRow("commands after --data-dir") << QStringList{"--data-dir", "/tmp", "re"} << QStringList{"records", "refresh"};
    QTest::newRow("commands after --data-dir=") << QStringList{"--data-dir", "=", "/tmp", "ma"} << QStringList{"manifest"};
    QTest::newRow("global options") << QStringList{"--"} << QStringList{"--data-dir", "--help", "--version"};
    QTest::newRow("a command's options") << QStringList{"export", "--allow"}
                                         << QStringList{"--allow-blank-codes", "--allow-warnings"};
    QTest::newRow("only the global options") << QStringList{"worksheets", "--"} << QStringList{"--data-dir", "--help"};
    QTest::newRow("card orders") << QStringList{"export", "--order", ""} << QStringList{"cut-stack", "standard"};
    QTest::newRow("card orders after =") << QStringList{"manifest", "--order", "=", "c"} << QStringList{"cut-stack"};
    QTest::newRow("encodings") << QStringList{"import", "--encoding", ""} << QStringList{"auto", "utf-8", "windows-1252"};
    QTest::newRow("delimiters") << QStringList{"import", "--delimiter", "s"} << QStringList{"semicolon"};
    QTest::newRow("a number: nothing to offer") << QStringList{"export", "--jobs", ""} << QStringList{};
    QTest::newRow("a file to write") << QStringList{"export", "--output", ""} << QStringList{"members.csv", "out"};
    QTest::newRow("a file to read") << QStringList{"import", "me"} << QStringList{"members.csv"};
    QTest::newRow("a data directory") << QStringList{"--data-dir", ""} << QStringList{"out"};
    QTest::newRow("a data directory among a command's options") << QStringList{"projects", "--data-dir", "o"}
                                                                 << QStringList{"out"};
    QTest::newRow("commands after help") << QStringList{"help", "wo"} << QStringList{"worksheets"};
}

void TestInstallation::completion()
{
    QFETCH(QStringList, words);
    QFETCH(QStringList, expected);

    const QString folder = newFolder(QStringLiteral("completion"));
    QVERIFY(QFile(QDir(folder).filePath(QStringLiteral("members.csv"))).open(QIODevice::WriteOnly));
    QVERIFY(QDir(folder).mkdir(QStringLiteral("out")));
    QCOMPARE(complete(words, folder), expected);
}

// What the completion offers is what the tool takes: every command of its
// help, every option of each command's help, and an option offered with a
// value (or without one) is one the tool reads with a value (or refuses one).
void TestInstallation::completionAgreesWithTheTool()
{
    const RunOptions options = installedRun();
    const QString folder = options.workingDirectory;
    QStringList commands = commandsOfHelp(cli({QStringLiteral("--help")}, options).out);
    commands.sort();
    QVERIFY(!commands.isEmpty());
    QCOMPARE(complete({QString()}, folder), commands);

    for (const QString &command : std::as_const(commands)) {
        if (command == u"help")
            continue;
        const QStringList offered = complete({command, QStringLiteral("--")}, folder);
        QCOMPARE(offered, optionsOfHelp(cli({command, QStringLiteral("--help")}, options).out));
        for (const QString &option : offered) {
            const QString context = command + u' ' + option;
            // After a flag the next word may be another option; after an option that takes a value it may not.
            const bool flag = !complete({command, option, QStringLiteral("-")}, folder).isEmpty();
            if (flag) {
                QVERIFY2(cli({command, option, QStringLiteral("--help")}, options).exitCode == 0, qPrintable(context));
                const Run withValue = cli({command, option + QStringLiteral("=x")}, options);
                QVERIFY2(withValue.exitCode == 2 && withValue.err.contains(QStringLiteral("takes no value")),
                         qPrintable(context + u'\n' + describe(withValue)));
            } else {
                const Run withValue = cli({command, option + QStringLiteral("=x"), QStringLiteral("--help")}, options);
                QVERIFY2(withValue.exitCode == 0, qPrintable(context + u'\n' + describe(withValue)));
            }
        }
    }
}

QTEST_MAIN(TestInstallation)
#include "tst_installation.moc"
