// Drives the real vellumor-vdp-cli executable on temporary data directories.

#include "clirun.h"
#include "testconnection.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBoundaryFinder>

namespace {

QString starterDatabasePath()
{
    return QDir(QStringLiteral(VDP_BIN_DIR)).filePath(QStringLiteral("starter/vellumor-vdp-starter.sqlite"));
}

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// A line as the user sees it: one entry per perceived character.
QStringList graphemes(const QString &line)
{
    QStringList result;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, line);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end > 0; end = finder.toNextBoundary()) {
        result << line.mid(start, end - start);
        start = end;
    }
    return result;
}

QList<QJsonObject> jsonLines(const QString &text)
{
    QList<QJsonObject> objects;
    for (const QString &line : lines(text)) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            return {};
        objects << document.object();
    }
    return objects;
}

QStringList names(const QList<QJsonObject> &projects)
{
    QStringList result;
    for (const QJsonObject &project : projects)
        result << project.value(QStringLiteral("name")).toString();
    return result;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private:
    // Every run gets its own HOME and XDG_DATA_HOME, so the default data folder
    // is a temporary one and the developer's real database is never touched.
    QProcessEnvironment baseEnvironment() const { return cliEnvironment(m_home); }

    QString xdgDataHome() const { return m_home.filePath(QStringLiteral("xdg-data")); }

    CliRun run(const QStringList &arguments, const QProcessEnvironment &env) const
    {
        CliOptions options;
        options.timeoutMs = 60000;
        return runCli(arguments, env, options);
    }

    CliRun run(const QStringList &arguments) const { return run(arguments, baseEnvironment()); }

    // What the tool says on stderr when it made the database of `dataDir`.
    static QString createdMessage(const QString &dataDir)
    {
        return QStringLiteral("Created a new project database in %1 (Starter Template)\n")
            .arg(QDir::toNativeSeparators(dataDir));
    }

    // A data directory that does not exist yet.
    QString newDataDirectory()
    {
        return m_home.filePath(QStringLiteral("data-%1").arg(++m_dataDirectoryCount));
    }

    // Runs `create NAME` in `dataDir` and fails the test on a bad outcome.
    bool createProject(const QString &dataDir, const QString &name)
    {
        const CliRun result = run({QStringLiteral("--data-dir"), dataDir, QStringLiteral("create"), QStringLiteral("--"), name});
        if (result.exitCode != 0)
            qWarning() << "create failed:" << result.exitCode << result.err;
        return result.exitCode == 0;
    }

    QTemporaryDir m_home;
    int m_dataDirectoryCount = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QVERIFY2(QFileInfo(cliPath()).isExecutable(), qPrintable(cliPath()));
        QVERIFY2(QFileInfo::exists(starterDatabasePath()), qPrintable(starterDatabasePath()));
    }

    void helpGoesToStdout_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("expected");

        const QStringList toolHelp = {QStringLiteral("Usage: vellumor-vdp-cli [--data-dir DIR] COMMAND"),
                                      QStringLiteral("\n  projects "), QStringLiteral("\n  create "),
                                      QStringLiteral("--data-dir DIR"), QStringLiteral("Exit codes")};
        const QStringList projectsHelp = {QStringLiteral("Usage: vellumor-vdp-cli [--data-dir DIR] projects [--json]\n"),
                                          QStringLiteral("--data-dir DIR")};
        const QStringList createHelp = {QStringLiteral("Usage: vellumor-vdp-cli [--data-dir DIR] create [--json] NAME\n"),
                                        QStringLiteral("Untitled VDP Project")};

        QTest::newRow("--help") << QStringList{"--help"} << toolHelp;
        QTest::newRow("-h") << QStringList{"-h"} << toolHelp;
        QTest::newRow("help") << QStringList{"help"} << toolHelp;
        QTest::newRow("projects --help") << QStringList{"projects", "--help"} << projectsHelp;
        QTest::newRow("projects -h") << QStringList{"projects", "-h"} << projectsHelp;
        QTest::newRow("help projects") << QStringList{"help", "projects"} << projectsHelp;
        QTest::newRow("--help before command") << QStringList{"--help", "projects"} << projectsHelp;
        QTest::newRow("create --help without NAME") << QStringList{"create", "--help"} << createHelp;
        QTest::newRow("create NAME --json --help") << QStringList{"create", "x", "--json", "--help"} << createHelp;
        QTest::newRow("help create") << QStringList{"help", "create"} << createHelp;
        QTest::newRow("with --data-dir") << QStringList{"--data-dir", "@DIR", "create", "--help"} << createHelp;
        QTest::newRow("--version") << QStringList{"--version"} << QStringList{"vellumor-vdp-cli 0.1.8\n"};
    }

    // Help never opens the workspace: the data directory must not even be created.
    void helpGoesToStdout()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, expected);

        const QString dataDir = newDataDirectory();
        arguments.replaceInStrings(QStringLiteral("@DIR"), dataDir);
        QProcessEnvironment env = baseEnvironment();
        env.insert(QStringLiteral("TESSOLO_DATA_DIR"), dataDir);

        const CliRun result = run(arguments, env);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.err, QString());
        for (const QString &fragment : expected)
            QVERIFY2(result.out.contains(fragment), qPrintable(QStringLiteral("missing '%1' in:\n%2").arg(fragment, result.out)));
        QVERIFY(!QFileInfo::exists(dataDir));
    }

    void usageErrorsExitWithTwo_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("usage");

        const QString toolUsage = QStringLiteral("Usage: vellumor-vdp-cli [--data-dir DIR] COMMAND [ARGS...]\n");
        const QString projectsUsage = QStringLiteral("Usage: vellumor-vdp-cli [--data-dir DIR] projects [--json]\n");
        const QString createUsage = QStringLiteral("Usage: vellumor-vdp-cli [--data-dir DIR] create [--json] NAME\n");

        QTest::newRow("no command") << QStringList{} << "no command given" << toolUsage;
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << "unknown command 'frobnicate'" << toolUsage;
        QTest::newRow("unknown global option") << QStringList{"--bogus", "projects"} << "unknown option '--bogus'" << toolUsage;
        QTest::newRow("unknown short option") << QStringList{"-x"} << "unknown option '-x'" << toolUsage;
        QTest::newRow("help for unknown command") << QStringList{"help", "nope"} << "unknown command 'nope'" << toolUsage;
        QTest::newRow("--data-dir without value") << QStringList{"--data-dir"} << "option '--data-dir' needs a value DIR" << toolUsage;
        QTest::newRow("--data-dir empty") << QStringList{"--data-dir=", "projects"} << "option '--data-dir' needs a non-empty value DIR" << toolUsage;
        QTest::newRow("unknown command option") << QStringList{"projects", "--bogus"} << "unknown option '--bogus'" << projectsUsage;
        QTest::newRow("flag with value") << QStringList{"projects", "--json=yes"} << "option '--json' takes no value" << projectsUsage;
        QTest::newRow("projects takes no argument") << QStringList{"projects", "extra"} << "unexpected argument 'extra'" << projectsUsage;
        QTest::newRow("command --data-dir without value") << QStringList{"projects", "--data-dir"} << "option '--data-dir' needs a value DIR" << projectsUsage;
        QTest::newRow("create without NAME") << QStringList{"create"} << "missing argument NAME" << createUsage;
        QTest::newRow("create with two names") << QStringList{"create", "a", "b"} << "unexpected argument 'b'" << createUsage;
        QTest::newRow("create option-like name") << QStringList{"create", "-5 Tickets"} << "unknown option '-5 Tickets'" << createUsage;
        QTest::newRow("flag twice") << QStringList{"projects", "--json", "--json"} << "option '--json' given twice" << projectsUsage;
        QTest::newRow("--data-dir twice before the command") << QStringList{"--data-dir", "a", "--data-dir=b", "projects"} << "option '--data-dir' given twice" << toolUsage;
        QTest::newRow("--data-dir before and after the command") << QStringList{"--data-dir", "a", "projects", "--data-dir", "b"} << "option '--data-dir' given twice" << projectsUsage;
    }

    // A usage error touches nothing: stdout stays empty and no data directory appears.
    void usageErrorsExitWithTwo()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QFETCH(QString, usage);

        const QString dataDir = newDataDirectory();
        QProcessEnvironment env = baseEnvironment();
        env.insert(QStringLiteral("TESSOLO_DATA_DIR"), dataDir);

        const CliRun result = run(arguments, env);
        QCOMPARE(result.exitCode, 2);
        QCOMPARE(result.out, QString());
        QVERIFY2(result.err.startsWith(QStringLiteral("vellumor-vdp-cli: ") + message + u'\n'), qPrintable(result.err));
        QVERIFY2(result.err.contains(usage), qPrintable(result.err));
        QVERIFY(!QFileInfo::exists(dataDir));
        QVERIFY(!QFileInfo::exists(xdgDataHome()));
    }

    // A new data directory gets the starter database: its one project, bound
    // to the sample workbook of the starter folder beside the executable.
    void freshDataDirectoryIsSeededFromStarter()
    {
        const QByteArray starterBefore = fileHash(starterDatabasePath());
        const QString dataDir = newDataDirectory();

        const CliRun result = run({QStringLiteral("--data-dir"), dataDir, QStringLiteral("projects"), QStringLiteral("--json")});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.err, createdMessage(dataDir));

        const QList<QJsonObject> projects = jsonLines(result.out);
        QCOMPARE(projects.size(), 1);
        const QJsonObject starter = projects.first();
        QCOMPARE(starter.value("name").toString(), QStringLiteral("Starter Template"));
        QCOMPARE(starter.value("cardWidthMm").toDouble(), 90.0);
        QCOMPARE(starter.value("cardHeightMm").toDouble(), 54.0);
        QCOMPARE(starter.value("paperWidthMm").toDouble(), 210.0);
        QCOMPARE(starter.value("paperHeightMm").toDouble(), 297.0);
        QCOMPARE(starter.value("rows").toInt(), 5);
        QCOMPARE(starter.value("columns").toInt(), 2);
        QCOMPARE(starter.value("duplex").toBool(false), true);

        const QString databasePath = QDir(dataDir).filePath(QStringLiteral("vellumor-vdp.sqlite"));
        QVERIFY(QFileInfo::exists(databasePath));
        QCOMPARE(fileHash(starterDatabasePath()), starterBefore);

        const QString sampleData = QDir(QStringLiteral(VDP_BIN_DIR)).filePath(QStringLiteral("starter/sample-data.xlsx"));
        TestConnection db(databasePath, TestConnection::Mode::ReadOnly);
        QVERIFY(db.isOpen());
        QCOMPARE(db.rows(QStringLiteral("SELECT demo_key, data_source_path FROM projects")),
                 QStringList{QStringLiteral("starter-template|") + sampleData});
    }

    void newDatabaseIsAnnounced_data()
    {
        QTest::addColumn<QString>("folder");   // "missing", "empty" or "seeded"
        QTest::addColumn<bool>("relative");    // --data-dir relative to the working directory
        QTest::addColumn<bool>("announced");

        QTest::newRow("a folder that does not exist") << "missing" << false << true;
        QTest::newRow("an empty folder") << "empty" << false << true;
        QTest::newRow("a relative folder, named in full") << "missing" << true << true;
        QTest::newRow("a folder with its database") << "seeded" << false << false;
    }

    // Seeding a new data directory stays (scripts rely on it), but a mistyped
    // --data-dir must not pass for the real one unnoticed: the tool says it
    // made a database, and where, once.
    void newDatabaseIsAnnounced()
    {
        QFETCH(QString, folder);
        QFETCH(bool, relative);
        QFETCH(bool, announced);

        const QString dataDir = newDataDirectory();
        if (folder == u"empty")
            QVERIFY(QDir().mkpath(dataDir));
        if (folder == u"seeded")
            QCOMPARE(run({QStringLiteral("--data-dir"), dataDir, QStringLiteral("projects")}).exitCode, 0);

        CliOptions options;
        options.workingDirectory = m_home.path();
        const QString given = relative ? QFileInfo(dataDir).fileName() : dataDir;
        const QStringList arguments{QStringLiteral("--data-dir"), given, QStringLiteral("projects")};
        const CliRun first = runCli(arguments, baseEnvironment(), options);
        QCOMPARE(first.exitCode, 0);
        QCOMPARE(first.err, announced ? createdMessage(dataDir) : QString());
        QVERIFY2(first.out.contains(QStringLiteral("Starter Template")), qPrintable(first.out));

        const CliRun second = runCli(arguments, baseEnvironment(), options);
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(second.err, QString());
    }

    void lockedDatabaseFails_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("projects") << QStringList{"projects"};
        QTest::newRow("export") << QStringList{"export", "--output", "@OUT"};
    }

    // Another program holds the database: after the busy timeout the tool
    // says so in words a user can act on, writes nothing, and the database
    // is whole once the other program lets go.
    void lockedDatabaseFails()
    {
        QFETCH(QStringList, arguments);

        const QString dataDir = newDataDirectory();
        QCOMPARE(run({QStringLiteral("--data-dir"), dataDir, QStringLiteral("projects")}).exitCode, 0);
        const QString output = m_home.filePath(QStringLiteral("locked-%1.pdf").arg(m_dataDirectoryCount));
        arguments.replaceInStrings(QStringLiteral("@OUT"), output);
        const QString databasePath = QDir(dataDir).filePath(QStringLiteral("vellumor-vdp.sqlite"));
        {
            TestConnection holder(databasePath);
            QVERIFY(holder.isOpen());
            QString error;
            // Exclusive locking keeps even readers out of a database in WAL mode.
            QVERIFY2(holder.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE"), &error), qPrintable(error));
            QVERIFY2(holder.exec(QStringLiteral("BEGIN EXCLUSIVE"), &error), qPrintable(error));

            const CliRun result = run(QStringList{QStringLiteral("--data-dir"), dataDir} + arguments);
            QCOMPARE(result.exitCode, 1);
            QCOMPARE(result.out, QString());
            QVERIFY2(result.err.contains(QStringLiteral("The project database is in use by another program; try again")),
                     qPrintable(result.err));
            QCOMPARE(lines(result.err).size(), 1);
            QVERIFY2(holder.exec(QStringLiteral("ROLLBACK"), &error), qPrintable(error));
        }
        QVERIFY(!QFileInfo::exists(output));
        {
            TestConnection db(databasePath, TestConnection::Mode::ReadOnly);
            QCOMPARE(db.rows(QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
            QCOMPARE(db.rows(QStringLiteral("SELECT name FROM projects")), QStringList{QStringLiteral("Starter Template")});
        }
        QCOMPARE(run({QStringLiteral("--data-dir"), dataDir, QStringLiteral("projects")}).exitCode, 0);
    }

    void dataDirectoryResolution_data()
    {
        QTest::addColumn<QString>("option");      // "before" or "after" the command, or empty
        QTest::addColumn<QString>("environment"); // "set", "empty" or "unset"
        QTest::addColumn<QString>("expected");    // "option", "environment" or "default"

        QTest::newRow("option before command") << "before" << "unset" << "option";
        QTest::newRow("option after command") << "after" << "unset" << "option";
        QTest::newRow("environment") << "" << "set" << "environment";
        QTest::newRow("option wins over environment") << "before" << "set" << "option";
        QTest::newRow("empty environment is unset") << "" << "empty" << "default";
        QTest::newRow("default folder") << "" << "unset" << "default";
    }

    void dataDirectoryResolution()
    {
        QFETCH(QString, option);
        QFETCH(QString, environment);
        QFETCH(QString, expected);

        const QString optionDir = newDataDirectory();
        const QString environmentDir = newDataDirectory();
        QTemporaryDir xdg;
        QVERIFY(xdg.isValid());
        // The window's default: AppDataLocation of organization "Vellumor", application "Vellumor VDP".
        const QString defaultDir = xdg.filePath(QStringLiteral("Vellumor/Vellumor VDP"));

        QProcessEnvironment env = baseEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), xdg.path());
        if (environment == u"set")
            env.insert(QStringLiteral("TESSOLO_DATA_DIR"), environmentDir);
        else if (environment == u"empty")
            env.insert(QStringLiteral("TESSOLO_DATA_DIR"), QString());

        QStringList arguments{QStringLiteral("projects")};
        if (option == u"before")
            arguments = QStringList{QStringLiteral("--data-dir"), optionDir} + arguments;
        else if (option == u"after")
            arguments << QStringLiteral("--data-dir=") + optionDir;

        const CliRun result = run(arguments, env);
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.out.contains(QStringLiteral("Starter Template")), qPrintable(result.out));

        const QString database = QStringLiteral("vellumor-vdp.sqlite");
        QCOMPARE(QFileInfo::exists(QDir(optionDir).filePath(database)), expected == u"option");
        QCOMPARE(QFileInfo::exists(QDir(environmentDir).filePath(database)), expected == u"environment");
        QCOMPARE(QFileInfo::exists(QDir(defaultDir).filePath(database)), expected == u"default");
    }

    void createPrintsIdAndStoredName_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("storedName");

        QTest::newRow("plain") << QStringList{"create", "Gala Tickets"} << "Gala Tickets";
        QTest::newRow("trimmed") << QStringList{"create", "  Padded Name \t"} << "Padded Name";
        QTest::newRow("blank") << QStringList{"create", "   "} << "Untitled VDP Project";
        QTest::newRow("dash name after --") << QStringList{"create", "--", "-5 Tickets"} << "-5 Tickets";
        QTest::newRow("option after name") << QStringList{"create", "Late Option", "--json"} << "Late Option";
    }

    // The printed id is the stored project's id, and the printed name the stored one.
    void createPrintsIdAndStoredName()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, storedName);

        const QString dataDir = newDataDirectory();
        const CliRun created = run(QStringList{QStringLiteral("--data-dir"), dataDir} + arguments);
        QCOMPARE(created.exitCode, 0);
        // The database is seeded before the project is created.
        QCOMPARE(created.err, createdMessage(dataDir));

        const CliRun listed = run({QStringLiteral("--data-dir"), dataDir, QStringLiteral("projects"), QStringLiteral("--json")});
        QCOMPARE(listed.exitCode, 0);
        const QList<QJsonObject> projects = jsonLines(listed.out);
        QCOMPARE(projects.size(), 2); // the new one and the starter project
        const QJsonObject stored = projects.first();
        QCOMPARE(stored.value("name").toString(), storedName);
        const qint64 id = stored.value("id").toInteger();
        QVERIFY(id > 0);

        if (arguments.contains(QStringLiteral("--json"))) {
            const QList<QJsonObject> printed = jsonLines(created.out);
            QCOMPARE(printed.size(), 1);
            QCOMPARE(printed.first(), stored);
        } else {
            QCOMPARE(created.out, QStringLiteral("Created project %1: %2\n").arg(QString::number(id), storedName));
        }
    }

    // listProjects order: the project saved last first, equal times newest id
    // first. One project's updated_at is moved into the future behind the
    // tool's back, so id order alone would give the wrong answer.
    void projectsListNewestSavedFirst()
    {
        const QString dataDir = newDataDirectory();
        for (const QString &name : {QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("Gamma")})
            QVERIFY(createProject(dataDir, name));
        {
            TestConnection db(QDir(dataDir).filePath(QStringLiteral("vellumor-vdp.sqlite")));
            QVERIFY(db.isOpen());
            QVERIFY(db.exec(QStringLiteral("UPDATE projects SET updated_at='2999-01-01 00:00:00' WHERE name='Alpha'")));
        }
        const QStringList expected{QStringLiteral("Alpha"), QStringLiteral("Gamma"), QStringLiteral("Beta"),
                                   QStringLiteral("Starter Template")};

        const CliRun json = run({QStringLiteral("--data-dir"), dataDir, QStringLiteral("projects"), QStringLiteral("--json")});
        QCOMPARE(json.exitCode, 0);
        QCOMPARE(names(jsonLines(json.out)), expected);

        const CliRun table = run({QStringLiteral("--data-dir"), dataDir, QStringLiteral("projects")});
        QCOMPARE(table.exitCode, 0);
        const QStringList tableLines = lines(table.out);
        QCOMPARE(tableLines.size(), expected.size() + 1);
        for (qsizetype i = 0; i < expected.size(); ++i)
            QVERIFY2(tableLines.at(i + 1).contains(expected.at(i)), qPrintable(table.out));
    }

    // Every cell starts at its header's column, counted in perceived
    // characters, whatever the names hold: accents, a combining mark, a line
    // break (shown as a space), a name longer than the header.
    void tableColumnsAreAligned()
    {
        const QString dataDir = newDataDirectory();
        const QStringList created{QStringLiteral("Café Médoc"), QStringLiteral("Cafe\u0301 Noir"),
                                  QStringLiteral("Line\nBreak"), QStringLiteral("Season Pass 2025 \u2014 Premium Members")};
        for (const QString &name : created)
            QVERIFY(createProject(dataDir, name));
        {
            // Values the tool cannot set: a fractional size and duplex.
            TestConnection db(QDir(dataDir).filePath(QStringLiteral("vellumor-vdp.sqlite")));
            QVERIFY(db.isOpen());
            QVERIFY(db.exec(QStringLiteral("UPDATE projects SET card_width_mm=88.9, duplex=1 WHERE name='Café Médoc'")));
        }

        const CliRun result = run({QStringLiteral("--data-dir"), dataDir, QStringLiteral("projects")});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.err, QString());

        const QStringList headers{QStringLiteral("ID"), QStringLiteral("Name"), QStringLiteral("Card (mm)"),
                                  QStringLiteral("Sheet (mm)"), QStringLiteral("Rows x Columns"), QStringLiteral("Duplex")};
        const QList<QStringList> expectedRows{
            {"5", "Season Pass 2025 \u2014 Premium Members", "90 x 54", "420 x 297", "4 x 4", "no"},
            {"4", "Line Break", "90 x 54", "420 x 297", "4 x 4", "no"},
            {"3", "Cafe\u0301 Noir", "90 x 54", "420 x 297", "4 x 4", "no"},
            {"2", "Café Médoc", "88.9 x 54", "420 x 297", "4 x 4", "yes"},
            {"1", "Starter Template", "90 x 54", "210 x 297", "5 x 2", "yes"},
        };

        const QStringList output = lines(result.out);
        QCOMPARE(output.size(), expectedRows.size() + 1);

        // Column starts from the header; "ID" is right-aligned, so its column starts at 0.
        const QString header = output.first();
        QList<qsizetype> starts{0};
        for (qsizetype i = 1; i < headers.size(); ++i) {
            const qsizetype start = header.indexOf(QStringLiteral("  ") + headers.at(i));
            QVERIFY2(start > 0, qPrintable(header));
            starts << start + 2;
        }

        for (qsizetype row = 0; row < expectedRows.size(); ++row) {
            const QStringList line = graphemes(output.at(row + 1));
            QVERIFY2(!output.at(row + 1).endsWith(u' '), qPrintable(output.at(row + 1)));
            for (qsizetype column = 0; column < headers.size(); ++column) {
                const qsizetype start = starts.at(column);
                const qsizetype end = column + 1 < starts.size() ? starts.at(column + 1) : line.size();
                QVERIFY2(start == 0 || line.value(start - 1) == QStringLiteral(" "), qPrintable(output.at(row + 1)));
                const QString cell = line.mid(start, end - start).join(QString()).trimmed();
                QCOMPARE(cell, expectedRows.at(row).at(column));
            }
            // Left-aligned cells begin exactly at their column.
            for (qsizetype column = 1; column < headers.size(); ++column)
                QVERIFY2(line.value(starts.at(column)) != QStringLiteral(" "), qPrintable(output.at(row + 1)));
        }
    }

    // JSON Lines: one compact object per project with numbers as numbers; the
    // name keeps what the table has to flatten.
    void jsonLinesDescribeEachProject()
    {
        const QString dataDir = newDataDirectory();
        QVERIFY(createProject(dataDir, QStringLiteral("Line\nBreak \"quoted\"")));
        {
            TestConnection db(QDir(dataDir).filePath(QStringLiteral("vellumor-vdp.sqlite")));
            QVERIFY(db.isOpen());
            QVERIFY(db.exec(QStringLiteral("UPDATE projects SET card_width_mm=88.9, paper_height_mm=300.5, rows=3, "
                                           "columns_count=7, duplex=1 WHERE id=2")));
        }

        const CliRun result = run({QStringLiteral("--data-dir"), dataDir, QStringLiteral("projects"), QStringLiteral("--json")});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(lines(result.out).size(), 2);
        // Compact: each line is exactly what compact serialisation of its own object gives.
        for (const QString &line : lines(result.out)) {
            const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8());
            QCOMPARE(line, QString::fromUtf8(document.toJson(QJsonDocument::Compact)));
        }

        const QList<QJsonObject> projects = jsonLines(result.out);
        QCOMPARE(projects.size(), 2);
        const QStringList keys{"cardHeightMm", "cardWidthMm", "columns", "duplex", "id", "name",
                               "paperHeightMm", "paperWidthMm", "rows"};
        for (const QJsonObject &project : projects) {
            QCOMPARE(project.keys(), keys);
            for (const QString &key : keys) {
                if (key == u"name")
                    QVERIFY(project.value(key).isString());
                else if (key == u"duplex")
                    QVERIFY(project.value(key).isBool());
                else
                    QVERIFY2(project.value(key).isDouble(), qPrintable(key));
            }
        }

        const QJsonObject changed = projects.first();
        QCOMPARE(changed.value("id").toInteger(), 2);
        QCOMPARE(changed.value("name").toString(), QStringLiteral("Line\nBreak \"quoted\""));
        QCOMPARE(changed.value("cardWidthMm").toDouble(), 88.9);
        QCOMPARE(changed.value("cardHeightMm").toDouble(), 54.0);
        QCOMPARE(changed.value("paperWidthMm").toDouble(), 420.0);
        QCOMPARE(changed.value("paperHeightMm").toDouble(), 300.5);
        QCOMPARE(changed.value("rows").toInt(), 3);
        QCOMPARE(changed.value("columns").toInt(), 7);
        QCOMPARE(changed.value("duplex").toBool(), true);
    }

    void brokenDatabaseFailsUnchanged_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("projects") << QStringList{"projects"};
        QTest::newRow("projects --json") << QStringList{"projects", "--json"};
        QTest::newRow("create") << QStringList{"create", "Never Stored"};
    }

    // A file that is not SQLite is reported as the window reports it and left
    // byte for byte as it was; nothing is created beside it.
    void brokenDatabaseFailsUnchanged()
    {
        QFETCH(QStringList, arguments);

        const QString dataDir = newDataDirectory();
        QVERIFY(QDir().mkpath(dataDir));
        const QString databasePath = QDir(dataDir).filePath(QStringLiteral("vellumor-vdp.sqlite"));
        QByteArray content;
        for (int i = 0; i < 200; ++i)
            content += "Name;City;Member Code\nAmelia Baker;Oslo;000123456789\n";
        {
            QFile file(databasePath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(content), content.size());
        }

        const CliRun result = run(QStringList{QStringLiteral("--data-dir"), dataDir} + arguments);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.out, QString());
        const QString prefix = QStringLiteral("Database Initialization Failed: ");
        QVERIFY2(result.err.startsWith(prefix) && result.err.trimmed().size() > prefix.trimmed().size(),
                 qPrintable(result.err));
        QCOMPARE(lines(result.err).size(), 1);

        QFile file(databasePath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
        QCOMPARE(QDir(dataDir).entryList(QDir::Files), QStringList{QStringLiteral("vellumor-vdp.sqlite")});
    }

    // A data directory that cannot be created (a file is in the way) fails at
    // its first step, seeding, instead of falling back to another folder.
    void uncreatableDataDirectoryFails()
    {
        const QString blocker = m_home.filePath(QStringLiteral("blocking-file"));
        {
            QFile file(blocker);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QString dataDir = blocker + QStringLiteral("/data");

        const CliRun result = run({QStringLiteral("--data-dir"), dataDir, QStringLiteral("create"), QStringLiteral("Lost")});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.out, QString());
        QCOMPARE(result.err, QStringLiteral("Starter Template Initialization Failed: "
                                            "Could not copy the built-in starter template database to %1: "
                                            "%2 is not a folder.\n")
                                 .arg(QDir(dataDir).filePath(QStringLiteral("vellumor-vdp.sqlite")), blocker));
        QVERIFY(!QFileInfo::exists(xdgDataHome()));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
