// The one export sequence of the window and the tool, driven by a front end
// that records what it is asked: which step stops a job with several faults,
// and that nothing is asked or written after it.

#include "app/exportrun.h"
#include "store/projectstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

Q_DECLARE_METATYPE(ExportStop)

namespace {

// The faults a job can be given; each row of the table combines some.
enum Fault {
    NoFault = 0,
    BadGeometry = 1 << 0,   // 100,000 rows
    NoRecords = 1 << 1,     // nothing to print
    RangeCancelled = 1 << 2,
    BadRange = 1 << 3,      // card 999 of 6
    Problems = 1 << 4,      // the front is empty: no fields, graphics or background
    ProblemsAccepted = 1 << 5,
    OutputCancelled = 1 << 6,
    DatabaseOutput = 1 << 7,   // the output is the project database
    SecondPartFolder = 1 << 8, // split a sheet a file, with a folder where the second part goes
    MissingFolder = 1 << 9,    // the output's folder does not exist: writing fails
};

} // namespace

class TestExportRun : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void stopsAtTheFirstFault_data();
    void stopsAtTheFirstFault();
    void cleanup();

private:
    std::optional<QTemporaryDir> m_dir;
    std::optional<ProjectStore> m_store;
    Project m_project;
};

void TestExportRun::init()
{
    m_dir.emplace();
    QVERIFY(m_dir->isValid());
    m_store.emplace();
    QString error;
    QVERIFY2(m_store->openDatabase(m_dir->filePath(QStringLiteral("vdp.sqlite")), &error)
                 && m_store->initializeSchema(&error),
             qPrintable(error));
    const std::optional<Project> created = m_store->createProject(QStringLiteral("Run"), &error);
    QVERIFY2(created, qPrintable(error));
    m_project = *created;
    // Two sheets of 2 × 2 cards for six cards.
    m_project.cardWidthMm = 50;
    m_project.cardHeightMm = 30;
    m_project.paperWidthMm = 120;
    m_project.paperHeightMm = 80;
    m_project.bleedMm = 0;
    m_project.rows = 2;
    m_project.columns = 2;
    m_project.duplex = false;
}

void TestExportRun::cleanup()
{
    m_store.reset();
    m_dir.reset();
}

void TestExportRun::stopsAtTheFirstFault_data()
{
    QTest::addColumn<int>("faults");
    QTest::addColumn<ExportStop>("stop");
    QTest::addColumn<QStringList>("asked"); // the front end's callbacks, in the order called

    const QStringList none;
    const QStringList range{QStringLiteral("range")};
    const QStringList rangeCheck = range + QStringList{QStringLiteral("check")};
    const QStringList write{QStringLiteral("output"), QStringLiteral("start"), QStringLiteral("progress 1/2"),
                            QStringLiteral("progress 2/2")};

    QTest::newRow("clean job") << int(NoFault) << ExportStop::Written << range + write;
    QTest::newRow("problems accepted") << int(Problems | ProblemsAccepted) << ExportStop::Written << rangeCheck + write;
    QTest::newRow("geometry before the plan")
        << int(BadGeometry | NoRecords | DatabaseOutput) << ExportStop::Geometry << none;
    QTest::newRow("plan before any question") << int(NoRecords | Problems | DatabaseOutput) << ExportStop::Plan << none;
    QTest::newRow("range cancelled") << int(RangeCancelled | DatabaseOutput) << ExportStop::Cancelled << range;
    QTest::newRow("bad range before the check and the file")
        << int(BadRange | Problems | ProblemsAccepted | DatabaseOutput) << ExportStop::Range << range;
    QTest::newRow("declined problems before the file")
        << int(Problems | DatabaseOutput) << ExportStop::Problems << rangeCheck;
    QTest::newRow("file cancelled") << int(Problems | ProblemsAccepted | OutputCancelled) << ExportStop::Cancelled
                                    << rangeCheck + QStringList{QStringLiteral("output")};
    QTest::newRow("file refused before writing")
        << int(Problems | ProblemsAccepted | DatabaseOutput) << ExportStop::Output
        << rangeCheck + QStringList{QStringLiteral("output")};
    QTest::newRow("split part refused before writing")
        << int(SecondPartFolder) << ExportStop::Output << range + QStringList{QStringLiteral("output")};
    QTest::newRow("write failure") << int(MissingFolder) << ExportStop::Write
                                   << range + QStringList{QStringLiteral("output"), QStringLiteral("start")};
}

void TestExportRun::stopsAtTheFirstFault()
{
    QFETCH(int, faults);
    QFETCH(ExportStop, stop);
    QFETCH(QStringList, asked);

    const QString out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    QString path = QDir(out).filePath(QStringLiteral("cards.pdf"));
    if (faults & DatabaseOutput)
        path = m_dir->filePath(QStringLiteral("vdp.sqlite"));
    if (faults & MissingFolder)
        path = m_dir->filePath(QStringLiteral("gone/cards.pdf"));
    const QString secondPart = QDir(out).filePath(QStringLiteral("cards-002.pdf"));
    if (faults & SecondPartFolder)
        QVERIFY(QDir().mkpath(secondPart));
    const QByteArray databaseBytes = [&] {
        QFile database(m_dir->filePath(QStringLiteral("vdp.sqlite")));
        return database.open(QIODevice::ReadOnly) ? database.readAll() : QByteArray();
    }();

    PdfExportSource source;
    source.project = m_project;
    if (faults & BadGeometry)
        source.project.rows = 100000;
    QList<QJsonObject> records;
    for (int card = 0; card < ((faults & NoRecords) ? 0 : 6); ++card)
        records.append(QJsonObject{{QStringLiteral("n"), card + 1}});
    source.cardRecords = CardTable::fromObjects(records);
    source.fields = QList<TemplateField>();
    source.graphics = QList<GraphicElement>();
    if (!(faults & Problems)) {
        source.frontBackground = QImage(50, 30, QImage::Format_RGB32);
        source.frontBackground.fill(Qt::darkCyan);
    }

    QStringList calls;
    ExportFrontEnd frontEnd;
    frontEnd.chooseRange = [&](const PdfExportJob &job) -> std::optional<PrintChoice> {
        calls << QStringLiteral("range");
        // The job is planned in full before the part to print is chosen.
        if (job.layout.recordCount != 6)
            calls << QStringLiteral("unplanned job");
        if (faults & RangeCancelled)
            return std::nullopt;
        PrintChoice choice;
        if (faults & BadRange) {
            choice.mode = PrintChoice::Mode::Cards;
            choice.cards = QStringLiteral("999");
        }
        if (faults & SecondPartFolder)
            choice.sheetsPerFile = 1;
        return choice;
    };
    frontEnd.confirmProblems = [&](const QList<PreflightProblem> &problems) {
        calls << QStringLiteral("check");
        if (problems.isEmpty())
            calls << QStringLiteral("asked without problems");
        return bool(faults & ProblemsAccepted);
    };
    frontEnd.chooseOutput = [&] {
        calls << QStringLiteral("output");
        return (faults & OutputCancelled) ? QString() : path;
    };
    frontEnd.startWriting = [&](int pageCount) {
        calls << QStringLiteral("start");
        if (pageCount != 2)
            calls << QStringLiteral("page count %1").arg(pageCount);
    };
    frontEnd.progress = [&](int done, int count) { calls << QStringLiteral("progress %1/%2").arg(done).arg(count); };

    const ExportRun run = runExport(*m_store, std::move(source), frontEnd);

    QCOMPARE(calls, asked);
    QCOMPARE(run.stop, stop);
    QCOMPARE(run.result.ok, stop == ExportStop::Written);
    // Each failure carries its own cause and words.
    switch (stop) {
    case ExportStop::Written:
        QCOMPARE(run.result.files, QStringList{path});
        QCOMPARE(run.result.pageCount, 2);
        QVERIFY(QFileInfo(path).size() > 0);
        QCOMPARE(run.problems.isEmpty(), !(faults & Problems));
        break;
    case ExportStop::Geometry:
        QCOMPARE(run.error, QStringLiteral("Rows is 100000; allowed are 1 to 100."));
        break;
    case ExportStop::Plan:
        QCOMPARE(run.errorTitle, QStringLiteral("Unable to Export PDF"));
        QCOMPARE(run.error, QStringLiteral("Import variable data before exporting."));
        break;
    case ExportStop::Range:
        QCOMPARE(run.error, QStringLiteral("Card list: \"999\" is beyond the job's 6 cards"));
        break;
    case ExportStop::Problems:
        QVERIFY(!run.problems.isEmpty());
        QCOMPARE(run.problems.first().kind, PreflightProblem::Kind::EmptySide);
        break;
    case ExportStop::Output:
        QCOMPARE(run.error, (faults & DatabaseOutput)
                                ? QStringLiteral("%1 is the project database; choose another file.")
                                      .arg(QDir::toNativeSeparators(path))
                                : QStringLiteral("%1 is not a regular file").arg(secondPart));
        break;
    case ExportStop::Write:
        QVERIFY2(run.result.error.startsWith(QStringLiteral("Could not write %1").arg(path)),
                 qPrintable(run.result.error));
        break;
    case ExportStop::Cancelled:
        QVERIFY(run.error.isEmpty());
        break;
    }

    // Only a written export leaves a file; a refusal leaves the database as it was.
    const QStringList expectedOut = (faults & SecondPartFolder) ? QStringList{QStringLiteral("cards-002.pdf")}
        : stop == ExportStop::Written && !(faults & DatabaseOutput) ? QStringList{QStringLiteral("cards.pdf")}
                                                                     : QStringList();
    QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot), expectedOut);
    QFile database(m_dir->filePath(QStringLiteral("vdp.sqlite")));
    QVERIFY(database.open(QIODevice::ReadOnly));
    QCOMPARE(database.readAll(), databaseBytes);
}

QTEST_MAIN(TestExportRun)
#include "tst_exportrun.moc"
