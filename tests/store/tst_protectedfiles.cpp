// Which output paths an export or a manifest must refuse: the database, the
// files SQLite keeps beside it and every project's data files, however the
// path reaches them (links, "..", a file that does not exist yet).

#include "storetestutil.h"

#include "store/protectedfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace storetest;

namespace {

bool touch(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}

bool symlink(const QString &target, const QString &link)
{
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0;
}

} // namespace

class TestProtectedFiles : public QObject
{
    Q_OBJECT

private:
    // root/
    //   data/vellumor-vdp.sqlite        the database ("Gala" id 1, "Members" id 2)
    //   jobs/guests.csv                 data file of Gala, stored as jobs/guests.csv
    //   jobs/members.xlsx               data file of Members, stored through links/jobs
    //   jobs/legacy.csv                 Members' data file from before several files
    //   jobs/gone.csv                   data file of Gala, deleted since
    //   links/jobs -> ../jobs
    //   links/data -> ../data
    //   deep/nested/                    an empty folder two levels down
    //   deep/up -> ../data/sub          so that deep/up/.. is data/, while the text says deep/
    //   data/sub/
    //   data/away -> ../deep/nested
    QTemporaryDir m_root;
    ProjectStore m_store;

    QString path(const QString &relative) const { return m_root.filePath(relative); }

    QString databasePath() const { return path(QStringLiteral("data/vellumor-vdp.sqlite")); }

private slots:
    void initTestCase();
    void refusedPaths_data();
    void refusedPaths();
    void freePaths_data();
    void freePaths();
    void hardLinkToTheDatabase();
    void storeOpenedThroughALink();
    void unreadableDataFilesRefuseEverything();
};

void TestProtectedFiles::initTestCase()
{
    QVERIFY(m_root.isValid());
    for (const char *folder : {"data/sub", "jobs", "links", "deep/nested"})
        QVERIFY(QDir().mkpath(path(QLatin1String(folder))));
    for (const char *file : {"jobs/guests.csv", "jobs/members.xlsx", "jobs/legacy.csv"})
        QVERIFY(touch(path(QLatin1String(file))));
    QVERIFY(symlink(QStringLiteral("../jobs"), path(QStringLiteral("links/jobs"))));
    QVERIFY(symlink(QStringLiteral("../data"), path(QStringLiteral("links/data"))));
    QVERIFY(symlink(QStringLiteral("../data/sub"), path(QStringLiteral("deep/up"))));
    QVERIFY(symlink(QStringLiteral("../deep/nested"), path(QStringLiteral("data/away"))));

    QString error;
    QVERIFY2(m_store.openDatabase(databasePath(), &error) && m_store.initializeSchema(&error), qPrintable(error));
    QVERIFY(m_store.createProject(QStringLiteral("Gala"), &error));
    QVERIFY(m_store.createProject(QStringLiteral("Members"), &error));
    const QSqlDatabase db = m_store.database();
    const QString insert = QStringLiteral("INSERT INTO data_sources(project_id, file_path, display_name) VALUES(?, ?, ?)");
    QVERIFY(exec(db, insert, {1, path(QStringLiteral("jobs/guests.csv")), QStringLiteral("guests.csv")}, &error));
    QVERIFY(exec(db, insert, {1, path(QStringLiteral("jobs/gone.csv")), QStringLiteral("gone.csv")}, &error));
    QVERIFY(exec(db, insert, {2, path(QStringLiteral("links/jobs/members.xlsx")), QStringLiteral("members.xlsx")},
                 &error));
    QVERIFY(exec(db, QStringLiteral("UPDATE projects SET data_source_path=? WHERE id=2"),
                 {path(QStringLiteral("jobs/legacy.csv"))}, &error));
    QVERIFY(exec(db, QStringLiteral("UPDATE projects SET background_path=?, back_background_path=? WHERE id=1"),
                 {path(QStringLiteral("jobs/front.png")), path(QStringLiteral("jobs/back.pdf"))}, &error));
    // The store keeps a write-ahead log: -wal and -shm exist while it is open.
    QVERIFY(QFileInfo::exists(databasePath() + QStringLiteral("-wal")));
}

void TestProtectedFiles::refusedPaths_data()
{
    QTest::addColumn<QString>("output"); // below the root
    QTest::addColumn<QString>("what");   // the sentence after "OUTPUT is "

    const QString database = QStringLiteral("the project database");
    QTest::newRow("the database") << "data/vellumor-vdp.sqlite" << database;
    QTest::newRow("its write-ahead log") << "data/vellumor-vdp.sqlite-wal"
                                         << "the write-ahead log of the project database";
    QTest::newRow("its shared-memory index") << "data/vellumor-vdp.sqlite-shm"
                                             << "the shared-memory index of the project database";
    // Not there while the log is used, but SQLite makes it when the mode changes.
    QTest::newRow("its rollback journal, not there yet") << "data/vellumor-vdp.sqlite-journal"
                                                         << "the rollback journal of the project database";
    QTest::newRow("through \"..\"") << "jobs/../data/sub/../vellumor-vdp.sqlite" << database;
    QTest::newRow("through a linked folder") << "links/data/vellumor-vdp.sqlite" << database;
    QTest::newRow("a journal not there yet, in a linked folder")
        << "links/data/vellumor-vdp.sqlite-journal" << "the rollback journal of the project database";
    // The system climbs from where the link leads: deep/up/.. is data/, not deep/.
    QTest::newRow("\"..\" after a linked folder") << "deep/up/../vellumor-vdp.sqlite" << database;
    QTest::newRow("a link to the database") << "@link:pdf-to-db" << database;
    QTest::newRow("a link to a link to the database") << "@chain" << database;
    // QSaveFile writes through a link whose target does not exist yet.
    QTest::newRow("a dangling link to the journal") << "@link:pdf-to-journal"
                                                    << "the rollback journal of the project database";
    QTest::newRow("a data file") << "jobs/guests.csv" << "the data file “guests.csv” of project “Gala”";
    QTest::newRow("a data file of another project, stored through a link")
        << "jobs/members.xlsx" << "the data file “members.xlsx” of project “Members”";
    QTest::newRow("a data file written through a link")
        << "links/jobs/guests.csv" << "the data file “guests.csv” of project “Gala”";
    QTest::newRow("a data file that was deleted") << "jobs/gone.csv" << "the data file “gone.csv” of project “Gala”";
    QTest::newRow("the data file a project names from before")
        << "jobs/legacy.csv" << "the data file “legacy.csv” of project “Members”";
    QTest::newRow("a front background") << "jobs/front.png" << "the front background “front.png” of project “Gala”";
    QTest::newRow("a back background") << "jobs/back.pdf" << "the back background “back.pdf” of project “Gala”";
}

void TestProtectedFiles::refusedPaths()
{
    QFETCH(QString, output);
    QFETCH(QString, what);

    QString outputPath = path(output);
    if (output == u"@link:pdf-to-db") {
        outputPath = path(QStringLiteral("jobs/cards-db.pdf"));
        QVERIFY(symlink(databasePath(), outputPath));
    } else if (output == u"@chain") {
        outputPath = path(QStringLiteral("jobs/cards-chain.pdf"));
        QVERIFY(symlink(QStringLiteral("../links/data/vellumor-vdp.sqlite"), path(QStringLiteral("deep/step"))));
        QVERIFY(symlink(QStringLiteral("../deep/step"), outputPath));
    } else if (output == u"@link:pdf-to-journal") {
        outputPath = path(QStringLiteral("jobs/cards-journal.pdf"));
        QVERIFY(symlink(QStringLiteral("../links/data/vellumor-vdp.sqlite-journal"), outputPath));
        QVERIFY(!QFileInfo::exists(outputPath));
    }

    const std::optional<QString> reason = protectedOutputReason(m_store, outputPath);
    QVERIFY2(reason, qPrintable(outputPath));
    QCOMPARE(*reason, QStringLiteral("%1 is %2; choose another file.").arg(QDir::toNativeSeparators(outputPath), what));
}

void TestProtectedFiles::freePaths_data()
{
    QTest::addColumn<QString>("output");

    QTest::newRow("a new file beside the database") << "data/cards.pdf";
    QTest::newRow("the database's name with more after it") << "data/vellumor-vdp.sqlite.pdf";
    QTest::newRow("the database's name in another folder") << "jobs/vellumor-vdp.sqlite";
    QTest::newRow("a data file's name in another folder") << "deep/nested/guests.csv";
    // As text this is data/vellumor-vdp.sqlite; the system climbs from
    // deep/nested, where data/away leads, and writes deep/vellumor-vdp.sqlite.
    QTest::newRow("\"..\" that only reads like the database") << "data/away/../vellumor-vdp.sqlite";
    QTest::newRow("in a folder that does not exist") << "missing/vellumor-vdp.sqlite";
}

void TestProtectedFiles::freePaths()
{
    QFETCH(QString, output);
    const std::optional<QString> reason = protectedOutputReason(m_store, path(output));
    QVERIFY2(!reason, qPrintable(reason.value_or(QString())));
}

// A second name of the same file is the same file.
void TestProtectedFiles::hardLinkToTheDatabase()
{
    const QString link = path(QStringLiteral("jobs/hard.pdf"));
    QVERIFY(::link(QFile::encodeName(databasePath()).constData(), QFile::encodeName(link).constData()) == 0);
    const std::optional<QString> reason = protectedOutputReason(m_store, link);
    QVERIFY(reason);
    QCOMPARE(*reason, QStringLiteral("%1 is the project database; choose another file.").arg(link));
    QVERIFY(QFile::remove(link));
}

// A data directory given through a link (--data-dir ~/current-job) guards
// the real files all the same.
void TestProtectedFiles::storeOpenedThroughALink()
{
    ProjectStore linked;
    QString error;
    QVERIFY2(linked.openDatabase(path(QStringLiteral("links/data/vellumor-vdp.sqlite")), &error), qPrintable(error));
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-journal")}) {
        const QString output = databasePath() + suffix;
        QVERIFY2(protectedOutputReason(linked, output), qPrintable(output));
    }
    QVERIFY(!protectedOutputReason(linked, path(QStringLiteral("data/cards.pdf"))));
}

// When the data files cannot be listed, no path is known to be safe.
void TestProtectedFiles::unreadableDataFilesRefuseEverything()
{
    QTemporaryDir folder;
    ProjectStore store;
    QString error;
    QVERIFY2(store.openDatabase(folder.filePath(QStringLiteral("broken.sqlite")), &error), qPrintable(error));
    // No schema: the data_sources table is missing.
    const QString output = folder.filePath(QStringLiteral("cards.pdf"));
    const std::optional<QString> reason = protectedOutputReason(store, output);
    QVERIFY(reason);
    const QString prefix = QStringLiteral("Could not check that %1 is none of the projects' own files: ").arg(output);
    QVERIFY2(reason->startsWith(prefix) && reason->size() > prefix.size(), qPrintable(*reason));
}

QTEST_GUILESS_MAIN(TestProtectedFiles)
#include "tst_protectedfiles.moc"
