// The export command of vellumor-vdp-cli, driven as a process on temporary
// data directories. Every run has neither a display nor QT_QPA_PLATFORM, as on
// a print server. The PDFs are read back with poppler (pdfinfo, pdftoppm) and
// their codes with zbarimg, independently of the writer.

#include "clirun.h"
#include "testconnection.h"

#include "store/projectstore.h"
#include "support/imagefixtures.h"
#include "support/pdffixtures.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>

#include <cstring>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Debian's interpreter, for its pty module.
const char *const python = "/usr/bin/python3";

constexpr int dpi = 300;

struct ToolRun
{
    int exitCode = -1;
    QByteArray out;
    QString err;
};

ToolRun runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    ToolRun result;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
        result.err = QStringLiteral("<%1 did not finish: %2>").arg(program, process.errorString());
        return result;
    }
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// pdfinfo's "Key: value" lines.
QMap<QString, QString> pdfInfo(const QString &pdf)
{
    QMap<QString, QString> info;
    const ToolRun run = runTool(QStringLiteral("pdfinfo"), {pdf});
    if (run.exitCode != 0) {
        info.insert(QStringLiteral("<error>"), run.err);
        return info;
    }
    for (const QString &line : lines(QString::fromUtf8(run.out))) {
        const qsizetype colon = line.indexOf(u':');
        if (colon > 0)
            info.insert(line.left(colon), line.mid(colon + 1).trimmed());
    }
    return info;
}

// Page `page` (from 1) as poppler renders it.
QImage renderPage(const QString &pdf, int page, const QString &folder)
{
    const QString stem = QDir(folder).filePath(QStringLiteral("page-%1").arg(page));
    const ToolRun run = runTool(QStringLiteral("pdftoppm"),
                                {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"), QString::number(page),
                                 QStringLiteral("-l"), QString::number(page), QStringLiteral("-singlefile"),
                                 QStringLiteral("-png"), pdf, stem});
    if (run.exitCode != 0)
        qWarning() << "pdftoppm failed:" << run.err;
    return QImage(stem + QStringLiteral(".png"));
}

int toPixels(double mm)
{
    return qRound(mm * dpi / 25.4);
}

QRect pixelRect(const QRectF &mm)
{
    return QRect(QPoint(toPixels(mm.left()), toPixels(mm.top())), QPoint(toPixels(mm.right()), toPixels(mm.bottom())));
}

// The cell of a slot: the grid of cards is centred on the paper.
QRectF cellMm(const QSizeF &paper, const QSizeF &card, int rows, int columns, int row, int column)
{
    const double left = (paper.width() - columns * card.width()) / 2;
    const double top = (paper.height() - rows * card.height()) / 2;
    return QRectF(left + column * card.width(), top + row * card.height(), card.width(), card.height());
}

// The symbols zbarimg finds in `image`, "TYPE:data", sorted.
QStringList decode(const QImage &image, const QString &folder)
{
    const QString file = QDir(folder).filePath(QStringLiteral("decode.png"));
    if (!image.save(file))
        return {QStringLiteral("<could not save the crop>")};
    const ToolRun run = runTool(QStringLiteral("zbarimg"), {QStringLiteral("-q"), file});
    // 4: no symbol found.
    if (run.exitCode != 0 && run.exitCode != 4)
        return {QStringLiteral("<zbarimg failed: %1>").arg(run.err)};
    QStringList symbols = lines(QString::fromUtf8(run.out));
    symbols.sort();
    return symbols;
}

// Pixels of `area` dark enough to be ink.
int inkPixels(const QImage &image, const QRect &area)
{
    int ink = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            ink += qGray(image.pixel(x, y)) < 128;
    }
    return ink;
}

// Within a tolerance wide enough for JPEG and anti-aliasing, far from any
// other of the colours used.
bool isNear(QColor actual, QColor expected)
{
    return qAbs(actual.red() - expected.red()) <= 60 && qAbs(actual.green() - expected.green()) <= 60
        && qAbs(actual.blue() - expected.blue()) <= 60;
}

QImage twoColourImage(QSize size, QRect redPart)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = redPart.top(); y <= redPart.bottom(); ++y) {
        for (int x = redPart.left(); x <= redPart.right(); ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));
    }
    return image;
}

// An output folder holding an earlier export at cards.pdf: an export that
// fails or is refused must leave it byte for byte and add nothing beside it.
struct EarlierExport
{
    QString folder;
    QString path; // empty when it could not be written
    QByteArray earlier{"%PDF-1.4 an earlier export\n"};
};

EarlierExport earlierExport(const QString &folder)
{
    EarlierExport out;
    out.folder = folder;
    const QString path = QDir(folder).filePath(QStringLiteral("cards.pdf"));
    if (writeFile(path, out.earlier))
        out.path = path;
    return out;
}

} // namespace

class TestCliExport : public QObject
{
    Q_OBJECT

private:
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = cliEnvironment(m_folders.root());
        // A print server: no display, and nobody chose a platform plugin.
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return env;
    }

    CliRun run(const QString &dataDir, const QStringList &arguments,
               const std::function<void()> &childSetup = {}) const
    {
        CliOptions options;
        options.timeoutMs = 300000;
        options.childSetup = childSetup;
        return runCliOn(dataDir, arguments, environment(), options);
    }

    // A data directory seeded from the starter folder, as on a first start.
    QString starterDataDirectory()
    {
        return m_folders.starterDataDirectory([this](const QString &dataDir, const QStringList &arguments) {
            return run(dataDir, arguments);
        });
    }

    // Runs `change` on the stored project `projectId` and saves it.
    static bool changeProject(const QString &dataDir, qint64 projectId, const std::function<void(Project &)> &change)
    {
        ProjectStore store;
        QString error;
        if (!store.openDatabase(databasePath(dataDir), &error))
            return false;
        for (Project project : store.listProjects(&error)) {
            if (project.id != projectId)
                continue;
            change(project);
            return store.updateProject(project, &error);
        }
        return false;
    }

    static bool addField(const QString &dataDir, TemplateField field)
    {
        ProjectStore store;
        QString error;
        return store.openDatabase(databasePath(dataDir), &error) && store.insertElement(&field, &error);
    }

    // A new project named `name` holding the rows of `csv`, on its default
    // sheet unless `change` alters it; its id, or 0.
    qint64 csvProject(const QString &dataDir, const QString &name, const QByteArray &csv,
                      const std::function<void(Project &)> &change = {})
    {
        const CliRun created = run(dataDir, {QStringLiteral("create"), name});
        const QString prefix = QStringLiteral("Created project ");
        if (created.exitCode != 0 || !created.out.startsWith(prefix))
            return 0;
        const qint64 id = created.out.mid(prefix.size()).section(u':', 0, 0).toLongLong();
        const QString file = QDir(m_folders.newFolder(QStringLiteral("csv"))).filePath(QStringLiteral("data.csv"));
        if (!writeFile(file, csv))
            return 0;
        const CliRun imported = run(dataDir, {QStringLiteral("import"), file, QStringLiteral("--project"),
                                              QString::number(id), QStringLiteral("--delimiter"), QStringLiteral("comma")});
        if (imported.exitCode != 0)
            return 0;
        if (change && !changeProject(dataDir, id, change))
            return 0;
        return id;
    }

    // A text field on the front bound to `column`, so a job prints something.
    static bool addTextField(const QString &dataDir, qint64 projectId, const QString &column)
    {
        TemplateField field;
        field.projectId = projectId;
        field.dataColumn = column;
        return addField(dataDir, field);
    }

    // Whether the database is whole, and how many rows its tables hold.
    static QStringList databaseState(const QString &dataDir)
    {
        TestConnection db(databasePath(dataDir));
        return db.rows(QStringLiteral("PRAGMA integrity_check"))
            + db.rows(QStringLiteral("SELECT (SELECT COUNT(*) FROM projects), (SELECT COUNT(*) FROM data_sources), "
                                     "(SELECT COUNT(*) FROM data_source_records), "
                                     "(SELECT COUNT(*) FROM template_fields)"));
    }

    // The path of the data file of project `projectId`.
    static QString dataFileOf(const QString &dataDir, qint64 projectId)
    {
        TestConnection db(databasePath(dataDir));
        return db.rows(QStringLiteral("SELECT file_path FROM data_sources WHERE project_id=%1").arg(projectId)).value(0);
    }

    // A duplex job of 37 cards "R001" … "R037" on 2 × 3 (90 × 54 mm cards on
    // landscape A4): the code as a QR code on the front and as Code 128 on
    // the back, so each side of each card can be found by decoding.
    qint64 reprintProject(const QString &dataDir)
    {
        QByteArray csv("Code\n");
        for (int card = 1; card <= 37; ++card)
            csv += QStringLiteral("R%1\n").arg(card, 3, 10, QLatin1Char('0')).toLatin1();
        const qint64 id = csvProject(dataDir, QStringLiteral("Reprint"), csv, [](Project &p) {
            p.rows = 2;
            p.columns = 3;
            p.duplex = true;
            p.cardWidthMm = 90;
            p.cardHeightMm = 54;
            p.paperWidthMm = 297;
            p.paperHeightMm = 210;
            p.bleedMm = 0;
        });
        if (id == 0)
            return 0;
        TemplateField front;
        front.projectId = id;
        front.side = CardSide::Front;
        front.type = ElementKind::QrCode;
        front.name = QStringLiteral("QR Code");
        front.dataColumn = QStringLiteral("Code");
        front.xMm = 5;
        front.yMm = 5;
        front.widthMm = 40;
        front.heightMm = 40;
        TemplateField back = front;
        back.side = CardSide::Back;
        back.type = ElementKind::Barcode;
        back.name = QStringLiteral("Barcode");
        back.barcodeFormat = BarcodeFormat::Code128;
        back.widthMm = 80;
        back.heightMm = 30;
        return addField(dataDir, front) && addField(dataDir, back) ? id : 0;
    }

    // The starter's member codes, in card order.
    QStringList memberCodes(const QString &dataDir) const
    {
        QStringList codes;
        const CliRun records = run(dataDir, {QStringLiteral("records")});
        for (const QString &line : lines(records.out))
            codes << QJsonDocument::fromJson(line.toUtf8()).object().value(QStringLiteral("Member Code")).toString();
        return codes;
    }

    CliFolders m_folders;

    qint64 onePerSheetProject(const QString &dataDir, int cards, int noiseWidth = 400);
    // A project of `cards` cards numbered from 1, one per 100 × 64 mm sheet,
    // each showing its number; `backgroundPath` as its front artwork.
    qint64 numberedProject(const QString &dataDir, const QString &name, int cards,
                           const QString &backgroundPath = QString());
    // One data directory for every row of the full-disk table, with a
    // project for the PDFs and one for the manifest, each output megabytes
    // long: the tool's own database writes stay far below the limits.
    QString m_fullDiskData;
    qint64 m_fullDiskPdfProject = 0;
    qint64 m_fullDiskManifestProject = 0;

private slots:
    void initTestCase();
    void starterExportsOutOfTheBox();
    void orderDecidesWhichCardGoesWhere_data();
    void orderDecidesWhichCardGoesWhere();
    void usageErrorsTouchNothing_data();
    void usageErrorsTouchNothing();
    void failuresWriteNothing_data();
    void failuresWriteNothing();
    void blankCodesAreReported_data();
    void blankCodesAreReported();
    void writeFailureKeepsTheExistingFile();
    void progressLinesIntoAPipe_data();
    void progressLinesIntoAPipe();
    void progressBarOnATerminal();
    void backgroundsAreStretchedOverTheCards_data();
    void backgroundsAreStretchedOverTheCards();
    void pdfArtworkOnBothSidesOfADuplexJob();
    void reprintPutsCardsInTheirSlots();
    void reprintedCardIsTheSameCardAsInTheWholeRun();
    void manifestSheetMapMatchesThePdf_data();
    void manifestSheetMapMatchesThePdf();
    void manifestCodesAreWhatTheSymbolsScan();
    void productionOptionsRefuseBadInput_data();
    void productionOptionsRefuseBadInput();
    void parallelExportIsTheOneThreadExport_data();
    void parallelExportIsTheOneThreadExport();
    void protectedOutputsAreRefused_data();
    void protectedOutputsAreRefused();
    void storedGeometryOutOfRangeIsRefused_data();
    void storedGeometryOutOfRangeIsRefused();
    void preflightProblemsStopTheExport_data();
    void preflightProblemsStopTheExport();

    void wrongCardsStopTheExport_data();
    void wrongCardsStopTheExport();
    void storedElementOutOfRangeIsRefused_data();
    void storedElementOutOfRangeIsRefused();
    void everyOutputSurvivesAFullDisk_data();
    void everyOutputSurvivesAFullDisk();
    void nonRegularOutputsAreRefused_data();
    void nonRegularOutputsAreRefused();
    void interruptedExportLeavesNothing_data();
    void interruptedExportLeavesNothing();
    void shorterSplitNamesTheEarlierParts();
};

void TestCliExport::initTestCase()
{
    QVERIFY(m_folders.isValid());
    const QString missing = missingCliRequirement();
    QVERIFY2(missing.isEmpty(), qPrintable(missing));
    for (const QString &tool : {QStringLiteral("pdfinfo"), QStringLiteral("pdftoppm"), QStringLiteral("zbarimg")})
        QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(), qPrintable(tool));
    QVERIFY2(QFileInfo(QString::fromLatin1(python)).isExecutable(), python);
}

// A fresh data directory exports the starter at once: 40 members on 5 × 2
// cards of A4, duplex, so 4 sheets give 8 pages running front, back, front, …
// Every front card carries its own member's code as Code 128 and QR code.
void TestCliExport::starterExportsOutOfTheBox()
{
    const QString dataDir = starterDataDirectory();
    const QStringList codes = memberCodes(dataDir);
    QCOMPARE(codes.size(), 40);
    const QString folder = m_folders.newFolder(QStringLiteral("out"));
    const QString work = m_folders.newFolder(QStringLiteral("work"));
    const QString path = QDir(folder).filePath(QStringLiteral("starter.pdf"));

    const CliRun result = run(dataDir, {QStringLiteral("export"), QStringLiteral("--output"), path});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QStringLiteral("PDF exported: %1 (8 pages)\n").arg(QDir::toNativeSeparators(path)));
    QStringList progress;
    for (int page = 1; page <= 8; ++page)
        progress << QStringLiteral("Exported %1 of 8 pages").arg(page);
    QCOMPARE(lines(result.err), progress);
    QCOMPARE(directoryEntries(folder), QStringList{QStringLiteral("starter.pdf")});

    const QMap<QString, QString> info = pdfInfo(path);
    QCOMPARE(info.value(QStringLiteral("Pages")), QStringLiteral("8"));
    QCOMPARE(info.value(QStringLiteral("Page size")), QStringLiteral("595 x 842 pts (A4)"));
    QCOMPARE(info.value(QStringLiteral("Title")), QStringLiteral("Starter Template"));
    QCOMPARE(info.value(QStringLiteral("Creator")), QStringLiteral("Vellumor VDP · Variable Data Printing"));

    const QSizeF paper(210, 297);
    const QSizeF card(90, 54);
    const QImage first = renderPage(path, 1, work);
    for (int row = 0; row < 5; ++row) {
        for (int column = 0; column < 2; ++column) {
            const QString code = codes.at(row * 2 + column);
            const QImage cell = first.copy(pixelRect(cellMm(paper, card, 5, 2, row, column)));
            QCOMPARE(decode(cell, work), (QStringList{QStringLiteral("CODE-128:") + code, QStringLiteral("QR-Code:") + code}));
        }
    }
    // Text is painted although the tool has no display: the name on the first
    // card's front, the prize on its back (the right-hand card of the mirrored
    // back). An empty font database would leave these boxes white.
    const QRectF firstCell = cellMm(paper, card, 5, 2, 0, 0);
    const QRect nameBox = pixelRect(QRectF(5, 5, 52, 9).translated(firstCell.topLeft()));
    QVERIFY2(inkPixels(first, nameBox) > nameBox.width() * nameBox.height() / 50,
             qPrintable(QString::number(inkPixels(first, nameBox))));
    const QImage firstBack = renderPage(path, 2, work);
    const QRect prizeBox = pixelRect(QRectF(15, 17, 60, 12).translated(cellMm(paper, card, 5, 2, 0, 1).topLeft()));
    QVERIFY2(inkPixels(firstBack, prizeBox) > prizeBox.width() * prizeBox.height() / 50,
             qPrintable(QString::number(inkPixels(firstBack, prizeBox))));

    // Fronts carry the codes of their sheet's cards; backs carry none.
    for (int page = 2; page <= 8; ++page) {
        const QImage image = renderPage(path, page, work);
        const QImage cell = image.copy(pixelRect(cellMm(paper, card, 5, 2, 0, 0)));
        const QStringList expected = page % 2 == 1
            ? QStringList{QStringLiteral("CODE-128:") + codes.at((page / 2) * 10),
                          QStringLiteral("QR-Code:") + codes.at((page / 2) * 10)}
            : QStringList();
        QVERIFY2(decode(cell, work) == expected, qPrintable(QStringLiteral("page %1").arg(page)));
    }
}

void TestCliExport::orderDecidesWhichCardGoesWhere_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QList<int>>("firstSheet"); // record index per slot, row-major

    const QList<int> standard{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    QTest::newRow("default") << QStringList() << standard;
    QTest::newRow("standard") << QStringList{"--order", "standard"} << standard;
    // 40 cards, 10 slots: each slot's stack holds 4 consecutive cards.
    QTest::newRow("cut-stack") << QStringList{"--order", "cut-stack"} << QList<int>{0, 4, 8, 12, 16, 20, 24, 28, 32, 36};
}

void TestCliExport::orderDecidesWhichCardGoesWhere()
{
    QFETCH(QStringList, options);
    QFETCH(QList<int>, firstSheet);

    const QString dataDir = starterDataDirectory();
    const QStringList codes = memberCodes(dataDir);
    QCOMPARE(codes.size(), 40);
    const QString work = m_folders.newFolder(QStringLiteral("work"));
    const QString path = QDir(work).filePath(QStringLiteral("order.pdf"));
    const CliRun result = run(dataDir, QStringList{QStringLiteral("export"), QStringLiteral("--output"), path} + options);
    QCOMPARE(result.exitCode, 0);

    const QImage page = renderPage(path, 1, work);
    for (int slot = 0; slot < 10; ++slot) {
        const QImage cell = page.copy(pixelRect(cellMm({210, 297}, {90, 54}, 5, 2, slot / 2, slot % 2)));
        const QStringList symbols = decode(cell, work);
        QVERIFY2(symbols.contains(QStringLiteral("CODE-128:") + codes.at(firstSheet.at(slot))),
                 qPrintable(QStringLiteral("slot %1: %2").arg(slot).arg(symbols.join(u' '))));
    }
}

void TestCliExport::usageErrorsTouchNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    QTest::newRow("unknown order") << QStringList{"export", "--output", "a.pdf", "--order", "zigzag"}
                                   << "invalid order 'zigzag' (use standard or cut-stack)";
    QTest::newRow("order in other case") << QStringList{"export", "--output", "a.pdf", "--order", "Cut-Stack"}
                                         << "invalid order 'Cut-Stack' (use standard or cut-stack)";
    QTest::newRow("no --output") << QStringList{"export", "--order", "cut-stack"} << "missing option --output FILE";
    // The last value used to win: card 2 alone printed, exit 0.
    QTest::newRow("--cards twice") << QStringList{"export", "--output", "a.pdf", "--cards", "1", "--cards", "2"}
                                   << "option '--cards' given twice";
    QTest::newRow("--sheets twice") << QStringList{"export", "--output", "a.pdf", "--sheets=1", "--sheets=2"}
                                    << "option '--sheets' given twice";
    QTest::newRow("--output twice") << QStringList{"export", "--output", "a.pdf", "--output", "b.pdf"}
                                    << "option '--output' given twice";
}

// Exit code 2, message and usage on stderr, and no data directory.
void TestCliExport::usageErrorsTouchNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    const QString dataDir = m_folders.newDirectory(QStringLiteral("data"));
    const CliRun result = run(dataDir, arguments);
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(result.out, QString());
    QVERIFY2(result.err.startsWith(QStringLiteral("vellumor-vdp-cli: ") + message + u'\n'), qPrintable(result.err));
    QVERIFY2(result.err.contains(QStringLiteral("Usage: vellumor-vdp-cli [--data-dir DIR] export [--project PROJECT] "
                                                "--output FILE [--order ORDER] [--allow-blank-codes] "
                                                "[--allow-warnings] [--cards LIST] [--sheets RANGE] [--sheets-per-file N] [--jobs N]\n")),
             qPrintable(result.err));
    QVERIFY(!QFileInfo::exists(dataDir));
}

void TestCliExport::failuresWriteNothing_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("expected"); // stderr; "@FILE" stands for the background file
    QTest::addColumn<bool>("prefixOnly");  // the reader's own message follows

    QTest::newRow("no records") << "empty project"
                                << "Unable to Export PDF: Import variable data before exporting.\n" << false;
    QTest::newRow("prize settings rejected")
        << "invalid prizes"
        << "Scratch card configuration of field \"Prize\" (back, id @ID): Invalid prize configuration format\n"
           "No PDF written: correct the prize settings first.\n"
        << false;
    QTest::newRow("front background missing")
        << "missing front" << "PDF export failed: the front background @FILE could not be loaded: Failed to read image: "
        << true;
    QTest::newRow("back background not an image")
        << "garbage back" << "PDF export failed: the back background @FILE could not be loaded: Failed to read image: "
        << true;
    QTest::newRow("damaged PDF background")
        << "pdf front"
        << "PDF export failed: the front background @FILE could not be loaded: "
           "PDFium could not open the PDF. It may be corrupted or password-protected\n"
        << false;
}

// A job that cannot be printed as designed leaves the output path as it was,
// with exit code 1 and the reason on stderr.
void TestCliExport::failuresWriteNothing()
{
    QFETCH(QString, setup);
    QFETCH(QString, expected);
    QFETCH(bool, prefixOnly);

    const QString dataDir = starterDataDirectory();
    const QString files = m_folders.newFolder(QStringLiteral("files"));
    QString background;
    QStringList project;
    if (setup == u"empty project") {
        QCOMPARE(run(dataDir, {QStringLiteral("create"), QStringLiteral("Empty")}).exitCode, 0);
        project = QStringList{QStringLiteral("--project"), QStringLiteral("Empty")};
    } else if (setup == u"invalid prizes") {
        ProjectStore store;
        QString error;
        QVERIFY2(store.openDatabase(databasePath(dataDir), &error), qPrintable(error));
        QList<TemplateField> fields = store.loadRecords<TemplateField>(1, &error);
        for (TemplateField &field : fields) {
            if (field.type != ElementKind::Scratch)
                continue;
            field.scratchPrizesJson = QStringLiteral("{}");
            QVERIFY2(store.updateElement(field, &error), qPrintable(error));
            expected.replace(QStringLiteral("@ID"), QString::number(field.id));
        }
    } else {
        const bool front = setup != u"garbage back";
        background = QDir(files).filePath(setup == u"pdf front" ? QStringLiteral("artwork.pdf")
                                                                : QStringLiteral("artwork.png"));
        if (setup == u"garbage back")
            QVERIFY(writeFile(background, "not a picture"));
        if (setup == u"pdf front")
            QVERIFY(writeFile(background, "%PDF-1.4\n%%EOF\n"));
        QVERIFY(changeProject(dataDir, 1, [&](Project &p) { (front ? p.backgroundPath : p.backBackgroundPath) = background; }));
    }
    expected.replace(QStringLiteral("@FILE"), QDir::toNativeSeparators(background));

    const EarlierExport out = earlierExport(m_folders.newFolder(QStringLiteral("out")));
    QVERIFY(!out.path.isEmpty());
    const QString &folder = out.folder;
    const QString &path = out.path;
    const QByteArray &earlier = out.earlier;
    const QString fresh = QDir(folder).filePath(QStringLiteral("new.pdf"));

    for (const QString &output : {path, fresh}) {
        const CliRun result = run(dataDir, QStringList{QStringLiteral("export"), QStringLiteral("--output"), output} + project);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.out, QString());
        if (prefixOnly) {
            QVERIFY2(result.err.startsWith(expected) && result.err.size() > expected.size() + 1, qPrintable(result.err));
            QCOMPARE(lines(result.err).size(), 1);
        } else {
            QCOMPARE(result.err, expected);
        }
    }
    QCOMPARE(readFile(path), earlier);
    QCOMPARE(directoryEntries(folder), QStringList{QStringLiteral("cards.pdf")});
}

void TestCliExport::blankCodesAreReported_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("not allowed") << QString() << 3;
    QTest::newRow("--allow-blank-codes") << "--allow-blank-codes" << 0;
    QTest::newRow("--allow-warnings accepts them too") << "--allow-warnings" << 0;
}

// Cards 2 (a wrong check digit) and 4 (a digit missing) cannot carry their
// EAN-13: the PDF is written, but a script must notice before the press does.
void TestCliExport::blankCodesAreReported()
{
    QFETCH(QString, option);
    QFETCH(int, exitCode);

    const QString dataDir = starterDataDirectory();
    const qint64 id = csvProject(dataDir, QStringLiteral("Retail"),
                                 "Code\n5901234123457\n5901234123458\n4006381333931\n59012341234\n9780201379624\n",
                                 [](Project &p) {
                                     p.paperWidthMm = 200;
                                     p.paperHeightMm = 64;
                                     p.rows = 1;
                                     p.columns = 2;
                                 });
    QVERIFY(id > 0);
    TemplateField barcode;
    barcode.projectId = id;
    barcode.type = ElementKind::Barcode;
    barcode.barcodeFormat = BarcodeFormat::Ean13;
    barcode.dataColumn = QStringLiteral("Code");
    barcode.xMm = 5;
    barcode.yMm = 5;
    barcode.widthMm = 80;
    barcode.heightMm = 40;
    QVERIFY(addField(dataDir, barcode));

    const QString work = m_folders.newFolder(QStringLiteral("work"));
    const QString path = QDir(work).filePath(QStringLiteral("retail.pdf"));
    QStringList arguments{QStringLiteral("export"), QStringLiteral("--project"), QStringLiteral("Retail"),
                          QStringLiteral("--output"), path};
    if (!option.isEmpty())
        arguments << option;
    const CliRun result = run(dataDir, arguments);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.out, QStringLiteral("PDF exported: %1 (3 pages)\n").arg(QDir::toNativeSeparators(path)));
    QCOMPARE(lines(result.err).mid(3), QStringList{QStringLiteral(
                                           "2 cards have barcode or QR codes that could not be drawn and will print "
                                           "blank: #0002, #0004")});

    // The cards as printed: the valid codes scan, the others are blank.
    const QStringList expected[] = {{QStringLiteral("EAN-13:5901234123457")}, {}, {QStringLiteral("EAN-13:4006381333931")},
                                    {}, {QStringLiteral("EAN-13:9780201379624")}};
    for (int card = 0; card < 5; ++card) {
        const QImage page = renderPage(path, card / 2 + 1, work);
        const QImage cell = page.copy(pixelRect(cellMm({200, 64}, {90, 54}, 1, 2, 0, card % 2)));
        QVERIFY2(decode(cell, work) == expected[card], qPrintable(QStringLiteral("card %1").arg(card + 1)));
    }
}

// The file system refuses the PDF part way through (the file-size limit
// stands for a full disk or a quota): the user's earlier file at the path
// survives byte for byte and no temporary file is left beside it.
void TestCliExport::writeFailureKeepsTheExistingFile()
{
    const QString dataDir = starterDataDirectory();
    // Noise does not compress, so the PDF grows well past the limit while the
    // database writes of opening the workspace stay far below it.
    const QString files = m_folders.newFolder(QStringLiteral("files"));
    const QString artwork = QDir(files).filePath(QStringLiteral("noise.png"));
    {
        QImage noise(1000, 600, QImage::Format_RGB32);
        quint32 state = 12345;
        for (int y = 0; y < noise.height(); ++y) {
            for (int x = 0; x < noise.width(); ++x) {
                state = state * 1664525u + 1013904223u;
                noise.setPixel(x, y, state >> 8);
            }
        }
        QVERIFY(noise.save(artwork));
    }
    QVERIFY(changeProject(dataDir, 1, [&](Project &p) { p.backgroundPath = artwork; }));

    const QString folder = m_folders.newFolder(QStringLiteral("out"));
    const QString path = QDir(folder).filePath(QStringLiteral("starter.pdf"));
    const QByteArray earlier("%PDF-1.4 the export the printer already has\n");
    QVERIFY(writeFile(path, earlier));

    // Without the limit the job is well above it.
    const QString unlimited = QDir(m_folders.newFolder(QStringLiteral("free"))).filePath(QStringLiteral("starter.pdf"));
    QCOMPARE(run(dataDir, {QStringLiteral("export"), QStringLiteral("--output"), unlimited}).exitCode, 0);
    constexpr rlim_t limit = 512 * 1024;
    QVERIFY2(QFileInfo(unlimited).size() > 2 * qint64(limit), qPrintable(QString::number(QFileInfo(unlimited).size())));
    QVERIFY(QFileInfo(databasePath(dataDir)).size() < qint64(limit) / 2);

    const CliRun result = run(dataDir, {QStringLiteral("export"), QStringLiteral("--output"), path}, [] {
        // Ignored, an oversized write fails with EFBIG instead of killing the tool.
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit fileSize{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
    });
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QString());
    QVERIFY2(result.err.endsWith(QStringLiteral("PDF export failed: Could not write %1: File too large\n").arg(path)),
             qPrintable(result.err));
    QCOMPARE(readFile(path), earlier);
    QCOMPARE(directoryEntries(folder), QStringList{QStringLiteral("starter.pdf")});

    // A folder that does not exist fails the same way and creates nothing.
    const QString missing = QDir(folder).filePath(QStringLiteral("missing/starter.pdf"));
    const CliRun nowhere = run(dataDir, {QStringLiteral("export"), QStringLiteral("--output"), missing});
    QCOMPARE(nowhere.exitCode, 1);
    QCOMPARE(nowhere.err,
             QStringLiteral("PDF export failed: Could not write %1: No such file or directory\n").arg(missing));
    QCOMPARE(directoryEntries(folder), QStringList{QStringLiteral("starter.pdf")});
}

void TestCliExport::progressLinesIntoAPipe_data()
{
    QTest::addColumn<int>("pages");
    QTest::addColumn<QList<int>>("reported"); // pages done at each line

    QTest::newRow("3 pages: every page") << 3 << QList<int>{1, 2, 3};
    QTest::newRow("25 pages: each tenth reached") << 25 << QList<int>{3, 5, 8, 10, 13, 15, 18, 20, 23, 25};
    QTest::newRow("100 pages") << 100 << QList<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
}

// Into a pipe or a log the progress is a few plain lines, not one per page.
void TestCliExport::progressLinesIntoAPipe()
{
    QFETCH(int, pages);
    QFETCH(QList<int>, reported);

    const QString dataDir = starterDataDirectory();
    const qint64 id = numberedProject(dataDir, QStringLiteral("One per page"), pages);
    QVERIFY(id > 0);

    const QString path = QDir(m_folders.newFolder(QStringLiteral("out"))).filePath(QStringLiteral("run.pdf"));
    const CliRun result = run(dataDir, {QStringLiteral("export"), QStringLiteral("--output"), path});
    QCOMPARE(result.exitCode, 0);
    QStringList expected;
    for (int done : reported)
        expected << QStringLiteral("Exported %1 of %2 pages").arg(done).arg(pages);
    QCOMPARE(lines(result.err), expected);
    QCOMPARE(pdfInfo(path).value(QStringLiteral("Pages")), QString::number(pages));
}

// On a terminal one bar is redrawn in place and its line ended before the
// result is printed.
void TestCliExport::progressBarOnATerminal()
{
    const QString dataDir = starterDataDirectory();
    const QString path = QDir(m_folders.newFolder(QStringLiteral("out"))).filePath(QStringLiteral("starter.pdf"));
    // The tool's stdout and stderr are both the pty; the script copies what
    // the terminal received to its own stdout.
    const QString script = QStringLiteral(R"(
import os, pty, sys
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:])
received = b""
while True:
    try:
        chunk = os.read(fd, 65536)
    except OSError:
        break
    if not chunk:
        break
    received += chunk
_, status = os.waitpid(pid, 0)
sys.stdout.buffer.write(received)
sys.exit(os.waitstatus_to_exitcode(status))
)");
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(QString::fromLatin1(python),
                  {QStringLiteral("-c"), script, binPath(QStringLiteral("vellumor-vdp-cli")), QStringLiteral("--data-dir"),
                   dataDir, QStringLiteral("export"), QStringLiteral("--output"), path});
    QVERIFY(process.waitForFinished(300000));
    QCOMPARE(process.exitCode(), 0);
    // The terminal turns each line feed into CR LF.
    const QString received = QString::fromUtf8(process.readAllStandardOutput());

    QString expected;
    for (int done = 0; done <= 8; ++done) {
        const int filled = done * 20 / 8;
        expected += QStringLiteral("\rExporting [%1%2] %3/8 pages")
                        .arg(QString(filled, u'#'), QString(20 - filled, u'.'))
                        .arg(done);
    }
    expected += QStringLiteral("\r\nPDF exported: %1 (8 pages)\r\n").arg(QDir::toNativeSeparators(path));
    QCOMPARE(received, expected);
}

void TestCliExport::backgroundsAreStretchedOverTheCards_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("bytes");

    // Shown upright, both are a picture whose top quarter is red and the rest blue.
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        twoColourImage({40, 100}, QRect(0, 0, 40, 25)).save(&buffer, "PNG");
    }
    QTest::newRow("PNG, taller than the card") << "front.png" << png;
    // Stored on its side: the left quarter is the picture's top.
    QTest::newRow("JPEG with an orientation tag")
        << "front.JPG"
        << jpegWithOrientation(twoColourImage({200, 100}, QRect(0, 0, 50, 100)), kExifTurnedClockwise);
}

// The front background fills every front card edge to edge whatever its
// proportions, upright as the file's orientation tag says, under the fields;
// the back background fills the backs.
void TestCliExport::backgroundsAreStretchedOverTheCards()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, bytes);

    const QString dataDir = starterDataDirectory();
    const QString files = m_folders.newFolder(QStringLiteral("files"));
    const QString front = QDir(files).filePath(fileName);
    const QString back = QDir(files).filePath(QStringLiteral("back.png"));
    QVERIFY(writeFile(front, bytes));
    QImage green(8, 8, QImage::Format_RGB32);
    green.fill(Qt::green);
    QVERIFY(green.save(back));
    QVERIFY(changeProject(dataDir, 1, [&](Project &p) {
        p.backgroundPath = front;
        p.backBackgroundPath = back;
    }));

    const QString work = m_folders.newFolder(QStringLiteral("work"));
    const QString path = QDir(work).filePath(QStringLiteral("artwork.pdf"));
    const CliRun result = run(dataDir, {QStringLiteral("export"), QStringLiteral("--output"), path});
    QCOMPARE(result.exitCode, 0);

    const QColor red(255, 0, 0);
    const QColor blue(0, 0, 255);
    // Points of the 90 × 54 mm card that no starter field covers. The red
    // quarter ends 13.5 mm down; a picture fitted or cropped instead of
    // stretched would leave white or blue at the corners above that.
    const QList<std::pair<QPointF, QColor>> probes{
        {{3, 3}, red},   {{87, 3}, red},  {{58.5, 10}, red},
        {{58.5, 17}, blue}, {{3, 51}, blue}, {{87, 51}, blue},
    };
    const QImage frontPage = renderPage(path, 1, work);
    const QImage backPage = renderPage(path, 2, work);
    for (const auto &[row, column] : {std::pair{0, 0}, std::pair{4, 1}}) {
        const QRectF cell = cellMm({210, 297}, {90, 54}, 5, 2, row, column);
        for (const auto &[pointMm, colour] : probes) {
            const QPointF at = cell.topLeft() + pointMm;
            const QColor actual = frontPage.pixelColor(toPixels(at.x()), toPixels(at.y()));
            QVERIFY2(isNear(actual, colour), qPrintable(QStringLiteral("front slot %1,%2 at %3,%4 mm: %5")
                                                            .arg(row).arg(column).arg(pointMm.x()).arg(pointMm.y())
                                                            .arg(actual.name())));
            const QColor backActual = backPage.pixelColor(toPixels(at.x()), toPixels(at.y()));
            QVERIFY2(isNear(backActual, QColor(0, 255, 0)), qPrintable(backActual.name()));
        }
    }

    // A single-sided job prints no backs, so an unusable back background does
    // not stand in its way.
    QVERIFY(changeProject(dataDir, 1, [&](Project &p) {
        p.duplex = false;
        p.backBackgroundPath = QDir(files).filePath(QStringLiteral("gone.png"));
    }));
    const CliRun single = run(dataDir, {QStringLiteral("export"), QStringLiteral("--output"), path});
    QCOMPARE(single.exitCode, 0);
    QCOMPARE(single.out, QStringLiteral("PDF exported: %1 (4 pages)\n").arg(QDir::toNativeSeparators(path)));
}

// PDF artwork on both sides of the starter's duplex job: each side's first
// page is rasterised and stretched over its cards, the back card in the
// mirrored slot with its artwork the right way round, and the codes printed
// over the artwork still scan.
void TestCliExport::pdfArtworkOnBothSidesOfADuplexJob()
{
    const QString dataDir = starterDataDirectory();
    const QStringList codes = memberCodes(dataDir);
    const QString files = m_folders.newFolder(QStringLiteral("files"));
    // Pale colours, as behind real codes: the left half of each page marked.
    const QSizeF cardPt(255.1, 153.1);
    const QColor paleYellow(0xff, 0xf0, 0x80), palePink(0xff, 0xc0, 0xd0);
    const QColor paleCyan(0xa0, 0xf0, 0xff), paleGreen(0xb0, 0xff, 0xb0);
    const QString front = QDir(files).filePath(QStringLiteral("front.pdf"));
    const QString back = QDir(files).filePath(QStringLiteral("back.PDF"));
    QVERIFY(writeTestPdf(front, cardPt, 2, QRectF(0, 0, cardPt.width() / 2, cardPt.height()), paleYellow, palePink));
    QVERIFY(writeTestPdf(back, cardPt, 1, QRectF(0, 0, cardPt.width() / 2, cardPt.height()), paleCyan, paleGreen));
    QVERIFY(changeProject(dataDir, 1, [&](Project &p) {
        p.duplex = true;
        p.backgroundPath = front;
        p.backBackgroundPath = back;
    }));

    const QString work = m_folders.newFolder(QStringLiteral("work"));
    const QString path = QDir(work).filePath(QStringLiteral("artwork.pdf"));
    const CliRun result = run(dataDir, {QStringLiteral("export"), QStringLiteral("--output"), path});
    QCOMPARE(result.exitCode, 0);

    const QSizeF paper(210, 297), card(90, 54);
    const auto colourAt = [](const QImage &page, const QRectF &cell, QPointF mm) {
        const QPointF at = cell.topLeft() + mm;
        return page.pixelColor(toPixels(at.x()), toPixels(at.y()));
    };
    const QImage frontPage = renderPage(path, 1, work);
    const QImage backPage = renderPage(path, 2, work);
    for (int column = 0; column < 2; ++column) {
        const QRectF frontCell = cellMm(paper, card, 5, 2, 4, column);
        // Corners no starter field covers: the left half of the artwork, then the right.
        QVERIFY2(isNear(colourAt(frontPage, frontCell, {3, 51}), paleYellow),
                 qPrintable(colourAt(frontPage, frontCell, {3, 51}).name()));
        QVERIFY2(isNear(colourAt(frontPage, frontCell, {87, 51}), palePink),
                 qPrintable(colourAt(frontPage, frontCell, {87, 51}).name()));
        // The same card's back sits in the mirrored column, its artwork not mirrored.
        const QRectF backCell = cellMm(paper, card, 5, 2, 4, 1 - column);
        QVERIFY2(isNear(colourAt(backPage, backCell, {3, 51}), paleCyan),
                 qPrintable(colourAt(backPage, backCell, {3, 51}).name()));
        QVERIFY2(isNear(colourAt(backPage, backCell, {87, 51}), paleGreen),
                 qPrintable(colourAt(backPage, backCell, {87, 51}).name()));

        const QString code = codes.at(8 + column);
        QCOMPARE(decode(frontPage.copy(pixelRect(frontCell)), work),
                 (QStringList{QStringLiteral("CODE-128:") + code, QStringLiteral("QR-Code:") + code}));
    }
}

// Cards 1, 8, 14 and 37 of the cut-stack duplex job reprinted: only the two
// sheets that hold them are written, each card on the front in its own slot
// and on the back in the mirrored slot, every other slot blank.
void TestCliExport::reprintPutsCardsInTheirSlots()
{
    const QString dataDir = starterDataDirectory();
    const qint64 id = reprintProject(dataDir);
    QVERIFY(id > 0);
    const QString work = m_folders.newFolder(QStringLiteral("work"));
    const QString path = QDir(work).filePath(QStringLiteral("reprint.pdf"));
    const CliRun result = run(dataDir, {QStringLiteral("export"), QStringLiteral("--project"), QString::number(id),
                                        QStringLiteral("--order"), QStringLiteral("cut-stack"), QStringLiteral("--cards"),
                                        QStringLiteral("1, 8,14 ,37"), QStringLiteral("--output"), path});
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));
    QCOMPARE(result.out, QStringLiteral("PDF exported: %1 (4 pages)\n").arg(QDir::toNativeSeparators(path)));
    QCOMPARE(pdfInfo(path).value(QStringLiteral("Pages")), QStringLiteral("4"));

    // The first stack holds 7 cards and the others 6: cards 1, 8 and 14 open
    // the first three stacks on sheet 1, card 37 ends the sixth on sheet 6.
    const QMap<int, QStringList> expected{
        {1, {"QR-Code:R001", "QR-Code:R008", "QR-Code:R014", "", "", ""}},
        {2, {"CODE-128:R014", "CODE-128:R008", "CODE-128:R001", "", "", ""}},
        {3, {"", "", "", "", "", "QR-Code:R037"}},
        {4, {"", "", "", "CODE-128:R037", "", ""}},
    };
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QImage page = renderPage(path, it.key(), work);
        for (int slot = 0; slot < 6; ++slot) {
            const QRect cell = pixelRect(cellMm({297, 210}, {90, 54}, 2, 3, slot / 3, slot % 3));
            const QString where = QStringLiteral("page %1 slot %2").arg(it.key()).arg(slot + 1);
            QCOMPARE(decode(page.copy(cell), work).join(u' '), it.value().at(slot));
            if (it.value().at(slot).isEmpty())
                QVERIFY2(inkPixels(page, cell.adjusted(6, 6, -6, -6)) == 0, qPrintable(where));
        }
    }
}

// A reprint must not renumber: card 3 and card 27 carry the same sequence
// number and the same prize as in the whole run, so their slots render alike
// pixel for pixel, front and back. The starter project has both.
void TestCliExport::reprintedCardIsTheSameCardAsInTheWholeRun()
{
    const QString dataDir = starterDataDirectory();
    const QString work = m_folders.newFolder(QStringLiteral("work"));
    const QString whole = QDir(work).filePath(QStringLiteral("whole.pdf"));
    const QString reprint = QDir(work).filePath(QStringLiteral("reprint.pdf"));
    const CliRun all = run(dataDir, {QStringLiteral("export"), QStringLiteral("--output"), whole});
    QVERIFY2(all.exitCode == 0, qPrintable(all.err));
    const CliRun some = run(dataDir, {QStringLiteral("export"), QStringLiteral("--cards"), QStringLiteral("3,27"),
                                      QStringLiteral("--output"), reprint});
    QVERIFY2(some.exitCode == 0, qPrintable(some.err));
    QCOMPARE(pdfInfo(reprint).value(QStringLiteral("Pages")), QStringLiteral("4"));

    // Five rows of two 90 × 54 mm cards on A4, standard order; backs are
    // mirrored by column. Card 3 is sheet 1 row 2 left, card 27 sheet 3 row 4 left.
    const auto cell = [](int row, int column) {
        return pixelRect(cellMm({210, 297}, {90, 54}, 5, 2, row, column)).adjusted(2, 2, -2, -2);
    };
    struct Place
    {
        int wholePage, reprintPage, row, column;
    };
    const QList<Place> places{{1, 1, 1, 0}, {2, 2, 1, 1}, {5, 3, 3, 0}, {6, 4, 3, 1}};
    for (const Place &place : places) {
        const QImage expected = renderPage(whole, place.wholePage, work).copy(cell(place.row, place.column));
        const QImage actual = renderPage(reprint, place.reprintPage, work).copy(cell(place.row, place.column));
        const QString where = QStringLiteral("whole page %1, reprint page %2").arg(place.wholePage).arg(place.reprintPage);
        QVERIFY2(inkPixels(expected, expected.rect()) > 0, qPrintable(where));
        QVERIFY2(expected == actual, qPrintable(where));
    }
    // The comparison sees a wrong number: card 4 beside card 3 differs.
    const QImage sheet = renderPage(whole, 1, work);
    QVERIFY(sheet.copy(cell(1, 0)) != sheet.copy(cell(1, 1)));
}

void TestCliExport::manifestSheetMapMatchesThePdf_data()
{
    QTest::addColumn<QString>("order");
    QTest::newRow("standard") << "standard";
    QTest::newRow("cut-stack") << "cut-stack";
}

// The manifest's Sheet and Slot say where each card is: its code decodes in
// that slot of that sheet's front, and in the mirrored slot of its back.
void TestCliExport::manifestSheetMapMatchesThePdf()
{
    QFETCH(QString, order);
    const QString dataDir = starterDataDirectory();
    const qint64 id = reprintProject(dataDir);
    QVERIFY(id > 0);
    const QString work = m_folders.newFolder(QStringLiteral("work"));
    const QString pdf = QDir(work).filePath(QStringLiteral("job.pdf"));
    const QString csv = QDir(work).filePath(QStringLiteral("map.csv"));
    const QStringList project{QStringLiteral("--project"), QString::number(id), QStringLiteral("--order"), order};
    QCOMPARE(run(dataDir, QStringList{QStringLiteral("export"), QStringLiteral("--output"), pdf} + project).exitCode, 0);
    QCOMPARE(run(dataDir, QStringList{QStringLiteral("manifest"), QStringLiteral("--output"), csv} + project).exitCode, 0);

    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 38);
    QCOMPARE(rows.first(), QStringLiteral("Card,Sheet,Slot,QR Code (front),Barcode (back)"));
    QMap<int, QImage> pages;
    const auto page = [&](int number) {
        if (!pages.contains(number))
            pages.insert(number, renderPage(pdf, number, work));
        return pages.value(number);
    };
    QSet<std::pair<int, int>> places;
    for (int card = 1; card <= 37; ++card) {
        const QStringList cells = rows.at(card).split(u',');
        QCOMPARE(cells.value(0), QString::number(card));
        const int sheet = cells.value(1).toInt();
        const int slot = cells.value(2).toInt();
        QVERIFY2(sheet >= 1 && sheet <= 7 && slot >= 1 && slot <= 6, qPrintable(rows.at(card)));
        QVERIFY2(!places.contains({sheet, slot}), qPrintable(rows.at(card)));
        places.insert({sheet, slot});
        const QString code = QStringLiteral("R%1").arg(card, 3, 10, QLatin1Char('0'));
        const int row = (slot - 1) / 3;
        const int column = (slot - 1) % 3;
        QCOMPARE(decode(page(2 * sheet - 1).copy(pixelRect(cellMm({297, 210}, {90, 54}, 2, 3, row, column))), work),
                 QStringList{QStringLiteral("QR-Code:") + code});
        QCOMPARE(decode(page(2 * sheet).copy(pixelRect(cellMm({297, 210}, {90, 54}, 2, 3, row, 2 - column))), work),
                 QStringList{QStringLiteral("CODE-128:") + code});
    }
}

// A manifest is checked against scans of the printed cards: each code's
// cell is the text its symbol carries (Code 39 upper-cased, the EAN-13 check
// digit added, Code 128 without the spaces around it), not the data as typed.
void TestCliExport::manifestCodesAreWhatTheSymbolsScan()
{
    const QString dataDir = starterDataDirectory();
    const qint64 id = csvProject(dataDir, QStringLiteral("Codes"),
                                 "C39,EAN,C128\n"
                                 "abc-12,400638133393,  x1 y \n"
                                 "Lot 7b,5901234123457,Zz\n",
                                 [](Project &p) {
                                     p.paperWidthMm = 120;
                                     p.paperHeightMm = 160;
                                     p.rows = 1;
                                     p.columns = 1;
                                     p.cardWidthMm = 100;
                                     p.cardHeightMm = 150;
                                     p.bleedMm = 0;
                                 });
    QVERIFY(id > 0);
    const QList<BarcodeFormat> formats{BarcodeFormat::Code39, BarcodeFormat::Ean13, BarcodeFormat::Code128};
    const QStringList columns{QStringLiteral("C39"), QStringLiteral("EAN"), QStringLiteral("C128")};
    for (int i = 0; i < 3; ++i) {
        TemplateField barcode;
        barcode.projectId = id;
        barcode.type = ElementKind::Barcode;
        barcode.name = columns.at(i);
        barcode.barcodeFormat = formats.at(i);
        barcode.barcodeShowText = false;
        barcode.dataColumn = columns.at(i);
        barcode.xMm = 5;
        barcode.yMm = 5 + 48 * i;
        barcode.widthMm = 90;
        barcode.heightMm = 40;
        QVERIFY(addField(dataDir, barcode));
    }

    const QString work = m_folders.newFolder(QStringLiteral("work"));
    const QString pdf = QDir(work).filePath(QStringLiteral("codes.pdf"));
    const QString csv = QDir(work).filePath(QStringLiteral("codes.csv"));
    const QStringList project{QStringLiteral("--project"), QString::number(id)};
    const CliRun exported = run(dataDir, QStringList{QStringLiteral("export"), QStringLiteral("--output"), pdf} + project);
    QVERIFY2(exported.exitCode == 0, qPrintable(exported.err));
    QCOMPARE(run(dataDir, QStringList{QStringLiteral("manifest"), QStringLiteral("--output"), csv} + project).exitCode, 0);

    const QStringList rows = QString::fromUtf8(readFile(csv)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(rows, (QStringList{QStringLiteral("Card,Sheet,Slot,C39 (front),EAN (front),C128 (front)"),
                                QStringLiteral("1,1,1,ABC-12,4006381333931,x1 y"),
                                QStringLiteral("2,2,1,LOT 7B,5901234123457,Zz")}));
    for (int card = 1; card <= 2; ++card) {
        const QStringList cells = rows.at(card).split(u',');
        QStringList expected{QStringLiteral("CODE-39:") + cells.at(3), QStringLiteral("EAN-13:") + cells.at(4),
                             QStringLiteral("CODE-128:") + cells.at(5)};
        expected.sort();
        const QImage page = renderPage(pdf, card, work);
        QCOMPARE(decode(page.copy(pixelRect(cellMm({120, 160}, {100, 150}, 1, 1, 0, 0))), work), expected);
    }
}

void TestCliExport::productionOptionsRefuseBadInput_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("message");

    QTest::newRow("reversed range") << QStringList{"--cards", "30-20"}
                                    << "Card list: \"30-20\" runs backwards; write 20-30";
    QTest::newRow("card zero and beyond the job") << QStringList{"--cards", "0,38,5"}
                                                  << "Card list: \"0\": cards are numbered from 1; \"38\" is beyond "
                                                     "the job's 37 cards";
    QTest::newRow("a range of billions") << QStringList{"--cards", "1-4000000000"}
                                         << "Card list: \"1-4000000000\" is beyond the job's 37 cards";
    QTest::newRow("not numbers") << QStringList{"--cards", "seven"}
                                 << "Card list: \"seven\" is not a card number or a range like 3-7";
    QTest::newRow("empty list") << QStringList{"--cards", " "} << "Card list: no cards given";
    QTest::newRow("sheets beyond the job") << QStringList{"--sheets", "5-9"}
                                           << "Sheet range: \"5-9\" is beyond the job's 7 sheets";
    QTest::newRow("cards and sheets") << QStringList{"--cards", "1", "--sheets", "1"}
                                      << "--cards and --sheets cannot be combined";
    QTest::newRow("no sheets per file") << QStringList{"--sheets-per-file", "0"}
                                        << "Sheets per file: \"0\" is not a whole number from 1";
    QTest::newRow("negative sheets per file") << QStringList{"--sheets-per-file", "-2"}
                                              << "Sheets per file: \"-2\" is not a whole number from 1";
}

// Every bad list, range or count is a usage error naming the bad part, and
// nothing is written.
void TestCliExport::productionOptionsRefuseBadInput()
{
    QFETCH(QStringList, options);
    QFETCH(QString, message);
    const QString dataDir = starterDataDirectory();
    const qint64 id = reprintProject(dataDir);
    QVERIFY(id > 0);
    const QString work = m_folders.newFolder(QStringLiteral("work"));
    const CliRun result = run(dataDir, QStringList{QStringLiteral("export"), QStringLiteral("--project"),
                                                   QString::number(id), QStringLiteral("--output"),
                                                   QDir(work).filePath(QStringLiteral("job.pdf"))}
                                           + options);
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(result.out, QString());
    QVERIFY2(result.err.startsWith(QStringLiteral("vellumor-vdp-cli: ") + message + u'\n'), qPrintable(result.err));
    QCOMPARE(directoryEntries(work), QStringList());
}

void TestCliExport::parallelExportIsTheOneThreadExport_data()
{
    QTest::addColumn<QString>("order");
    QTest::newRow("standard") << "standard";
    QTest::newRow("cut-stack") << "cut-stack";
}

// The starter's duplex job (sequence numbers, prizes, Code 128 and QR codes)
// composed on three threads and joined is the one-thread export page for page
// at 150 dpi, and every front card's codes decode in their slots.
void TestCliExport::parallelExportIsTheOneThreadExport()
{
    QFETCH(QString, order);
    const QString dataDir = starterDataDirectory();
    const QStringList codes = memberCodes(dataDir);
    const QString work = m_folders.newFolder(QStringLiteral("work"));
    const QString one = QDir(work).filePath(QStringLiteral("one.pdf"));
    const QString three = QDir(work).filePath(QStringLiteral("three.pdf"));
    for (const auto &[path, jobs] : {std::pair{one, "1"}, std::pair{three, "3"}}) {
        const CliRun result = run(dataDir, {QStringLiteral("export"), QStringLiteral("--order"), order,
                                            QStringLiteral("--jobs"), QString::fromLatin1(jobs),
                                            QStringLiteral("--output"), path});
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QCOMPARE(result.out, QStringLiteral("PDF exported: %1 (8 pages)\n").arg(QDir::toNativeSeparators(path)));
    }
    QCOMPARE(directoryEntries(work), (QStringList{QStringLiteral("one.pdf"), QStringLiteral("three.pdf")}));

    const ToolRun rasters[] = {
        runTool(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("150"), QStringLiteral("-gray"), one,
                                             QDir(work).filePath(QStringLiteral("one"))}),
        runTool(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("150"), QStringLiteral("-gray"), three,
                                             QDir(work).filePath(QStringLiteral("three"))}),
    };
    QCOMPARE(rasters[0].exitCode, 0);
    QCOMPARE(rasters[1].exitCode, 0);
    for (int page = 1; page <= 8; ++page) {
        const QImage a(QDir(work).filePath(QStringLiteral("one-%1.pgm").arg(page)));
        const QImage b(QDir(work).filePath(QStringLiteral("three-%1.pgm").arg(page)));
        QVERIFY2(!a.isNull() && a == b, qPrintable(QStringLiteral("page %1").arg(page)));
    }

    const bool cutStack = order == u"cut-stack";
    for (int sheet = 0; sheet < 4; ++sheet) {
        const QImage front = renderPage(three, 2 * sheet + 1, work);
        for (int slot = 0; slot < 10; ++slot) {
            // 40 cards in 10 stacks of 4 in cut-stack order.
            const int card = cutStack ? slot * 4 + sheet : sheet * 10 + slot;
            const QImage cell = front.copy(pixelRect(cellMm({210, 297}, {90, 54}, 5, 2, slot / 2, slot % 2)));
            QCOMPARE(decode(cell, work), (QStringList{QStringLiteral("CODE-128:") + codes.at(card),
                                                      QStringLiteral("QR-Code:") + codes.at(card)}));
        }
    }
}

void TestCliExport::protectedOutputsAreRefused_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("what"); // after "OUTPUT is "

    const QString database = QStringLiteral("the project database");
    for (const QString &command : {QStringLiteral("export"), QStringLiteral("manifest")}) {
        const auto row = [&](const char *name, const QString &target, const QString &what) {
            QTest::addRow("%s: %s", qPrintable(command), name) << command << target << what;
        };
        row("the database", "database", database);
        row("its write-ahead log", "database-wal", "the write-ahead log of the project database");
        row("its shared-memory index", "database-shm", "the shared-memory index of the project database");
        row("its rollback journal", "database-journal", "the rollback journal of the project database");
        row("a link to the database", "link", database);
        row("a path through \"..\"", "dot-dot", database);
        row("the project's data file", "own data", "the data file “data.csv” of project “Newest”");
        row("another project's data file", "other data", "the data file “data.csv” of project “Older”");
    }
}

// An output path that is the database, one of SQLite's files beside it or a
// data file of any project is refused before anything is written: exit code
// 1, the reason on stderr, and every file as it was.
void TestCliExport::protectedOutputsAreRefused()
{
    QFETCH(QString, command);
    QFETCH(QString, target);
    QFETCH(QString, what);

    const QString dataDir = starterDataDirectory();
    const qint64 older = csvProject(dataDir, QStringLiteral("Older"), "Name\nAda\nGrace\n");
    const qint64 newest = csvProject(dataDir, QStringLiteral("Newest"), "Name\nAlan\nEdsger\nBarbara\n");
    QVERIFY(older > 0 && newest > 0);
    QVERIFY(addTextField(dataDir, newest, QStringLiteral("Name")));
    const QString database = databasePath(dataDir);
    const QString olderData = dataFileOf(dataDir, older);
    const QString newestData = dataFileOf(dataDir, newest);
    QVERIFY(QFileInfo::exists(olderData) && QFileInfo::exists(newestData));

    const QString folder = m_folders.newFolder(QStringLiteral("out"));
    QString output;
    if (target.startsWith(u"database")) {
        // The database itself, or "-wal", "-shm" or "-journal" beside it.
        output = database + target.mid(QStringLiteral("database").size());
    } else if (target == u"link") {
        output = QDir(folder).filePath(QStringLiteral("cards.pdf"));
        QVERIFY(QFile::link(database, output));
    } else if (target == u"dot-dot") {
        QVERIFY(QDir().mkpath(QDir(dataDir).filePath(QStringLiteral("sub"))));
        output = dataDir + QStringLiteral("/sub/../vellumor-vdp.sqlite");
    } else if (target == u"own data") {
        output = newestData;
    } else if (target == u"other data") {
        output = olderData;
    }

    const QStringList stateBefore = databaseState(dataDir);
    QCOMPARE(stateBefore.value(0), QStringLiteral("ok"));
    const QStringList dataEntries = directoryEntries(dataDir);
    const QStringList outEntries = directoryEntries(folder);
    const QByteArray databaseBytes = readFile(database);
    const QByteArray olderBytes = readFile(olderData);
    const QByteArray newestBytes = readFile(newestData);

    const CliRun result = run(dataDir, {command, QStringLiteral("--output"), output});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QString());
    const QString refused = command == u"export" ? QStringLiteral("No PDF written") : QStringLiteral("No manifest written");
    QCOMPARE(result.err, QStringLiteral("%1: %2 is %3; choose another file.\n")
                             .arg(refused, QDir::toNativeSeparators(QFileInfo(output).absoluteFilePath()), what));

    QCOMPARE(readFile(database), databaseBytes);
    QCOMPARE(readFile(olderData), olderBytes);
    QCOMPARE(readFile(newestData), newestBytes);
    QCOMPARE(directoryEntries(dataDir), dataEntries);
    QCOMPARE(directoryEntries(folder), outEntries);
    if (target == u"link")
        QCOMPARE(QFileInfo(output).symLinkTarget(), database);
    QCOMPARE(databaseState(dataDir), stateBefore);
}

void TestCliExport::storedGeometryOutOfRangeIsRefused_data()
{
    QTest::addColumn<QString>("assignment"); // SQL, on the starter project
    QTest::addColumn<QString>("message");

    const QString widthRange = QStringLiteral("; allowed are 1 to 2000 mm.");
    QTest::newRow("rows 100000") << "rows=100000" << "Rows is 100000; allowed are 1 to 100.";
    QTest::newRow("columns 100000") << "columns_count=100000" << "Columns is 100000; allowed are 1 to 100.";
    QTest::newRow("card width 0") << "card_width_mm=0" << "Finished Width is 0 mm" + widthRange;
    QTest::newRow("card width -90") << "card_width_mm=-90" << "Finished Width is -90 mm" + widthRange;
    // SQLite keeps no NaN in a REAL column; written as text, it is read back as one.
    QTest::newRow("card width NaN") << "card_width_mm='NaN'" << "Finished Width is not a number" + widthRange;
    QTest::newRow("card width infinite") << "card_width_mm=9e999" << "Finished Width is infinite" + widthRange;
    // Text that is no number is read as 0, and reported so.
    QTest::newRow("card width text") << "card_width_mm='text'" << "Finished Width is 0 mm" + widthRange;
    QTest::newRow("card width 1e9") << "card_width_mm=1e9" << "Finished Width is 1000000000 mm" + widthRange;
    QTest::newRow("paper 1e7") << "paper_width_mm=1e7, paper_height_mm=1e7"
                               << "Sheet Width is 10000000 mm" + widthRange;
    QTest::newRow("paper smaller than a card")
        << "paper_width_mm=50, paper_height_mm=50" << "The card (90 × 54 mm) is larger than the sheet (50 × 50 mm).";
    QTest::newRow("bleed past half the card")
        << "bleed_mm=40" << "Bleed is 40 mm; allowed are 0 to 26.99 mm for a 90 × 54 mm card.";
}

// Settings the window never stores but a database may hold: the export
// stops before it reads a record (a grid of 100,000 × 100,000 used to hang
// it), names the setting, and leaves the stored value as it is.
void TestCliExport::storedGeometryOutOfRangeIsRefused()
{
    QFETCH(QString, assignment);
    QFETCH(QString, message);

    const QString dataDir = starterDataDirectory();
    const QString selectGeometry = QStringLiteral(
        "SELECT quote(card_width_mm), quote(card_height_mm), quote(paper_width_mm), quote(paper_height_mm), "
        "quote(rows), quote(columns_count), quote(bleed_mm) FROM projects");
    QStringList stored;
    {
        TestConnection db(databasePath(dataDir));
        QString error;
        QVERIFY2(db.exec(QStringLiteral("UPDATE projects SET %1 WHERE id=1").arg(assignment), &error), qPrintable(error));
        stored = db.rows(selectGeometry);
    }

    const EarlierExport out = earlierExport(m_folders.newFolder(QStringLiteral("out")));
    QVERIFY(!out.path.isEmpty());
    const QString &folder = out.folder;
    const QString &path = out.path;
    const QByteArray &earlier = out.earlier;
    const QString fresh = QDir(folder).filePath(QStringLiteral("new.pdf"));

    for (const QString &output : {path, fresh}) {
        const CliRun result = run(dataDir, {QStringLiteral("export"), QStringLiteral("--output"), output});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.out, QString());
        QCOMPARE(result.err, QStringLiteral("No PDF written: %1\n").arg(message));
    }
    QCOMPARE(readFile(path), earlier);
    QCOMPARE(directoryEntries(folder), QStringList{QStringLiteral("cards.pdf")});

    TestConnection db(databasePath(dataDir));
    QCOMPARE(db.rows(selectGeometry), stored);
    QCOMPARE(db.rows(QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
}

void TestCliExport::preflightProblemsStopTheExport_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("problem"); // the lines on stderr
    QTest::addColumn<int>("pages");       // of the PDF when it is written

    const QString markers = QStringLiteral(
        "5 cards have data fields with no data and would print {{…}} markers: #0041, #0042, #0043, #0044, #0045");
    const QString cutOff = QStringLiteral(
        "20 cards are cut off by the sheet edge (the grid is 150.00 mm wider than the sheet): "
        "#0001, #0004, #0005, #0008, #0009, #0012, #0013, #0016, #0017, #0020, …");
    const QString emptyFront =
        QStringLiteral("The front side has no fields, graphics or background: every card prints it blank.");
    const QString allow = QStringLiteral("--allow-warnings");

    // The starter with a second file of 45 rows: cards 41 to 45 have no member
    // and, the prize list holding 40, no prize.
    const QString markersAndPrizes = markers
        + QStringLiteral("\n5 cards have no prize in scratch field \"Prize\" (back, id 6): its prize list holds 40 of "
                         "45 cards, the others print \"Scratch Card Prize\": #0041, #0042, #0043, #0044, #0045");
    QTest::newRow("a second file longer than the first") << "longer file" << QString() << markersAndPrizes << 10;
    QTest::newRow("a second file longer than the first, allowed") << "longer file" << allow << markersAndPrizes << 10;
    // The starter's 90 × 54 mm cards four across on A4: the outer columns are lost.
    QTest::newRow("4 × 4 cards on A4") << "wide grid" << QString() << cutOff << 6;
    QTest::newRow("4 × 4 cards on A4, allowed") << "wide grid" << allow << cutOff << 6;
    QTest::newRow("--allow-blank-codes does not accept it")
        << "wide grid" << QStringLiteral("--allow-blank-codes") << cutOff << 6;
    QTest::newRow("a new project with data and no fields") << "no fields" << QString() << emptyFront << 1;
    QTest::newRow("a new project with data and no fields, allowed") << "no fields" << allow << emptyFront << 1;
}

// A job that would print markers, lose cards at the sheet edge or print an
// empty side is stopped with exit code 3 before a byte is written, unless
// --allow-warnings is given: then the problems are still listed and the PDF
// is written as it stands.
void TestCliExport::preflightProblemsStopTheExport()
{
    QFETCH(QString, setup);
    QFETCH(QString, option);
    QFETCH(QString, problem);
    QFETCH(int, pages);

    const QString dataDir = starterDataDirectory();
    if (setup == u"longer file") {
        QByteArray csv("Code\n");
        for (int i = 1; i <= 45; ++i)
            csv += "C" + QByteArray::number(i) + '\n';
        const QString file = QDir(m_folders.newFolder(QStringLiteral("csv"))).filePath(QStringLiteral("codes.csv"));
        QVERIFY(writeFile(file, csv));
        const CliRun imported = run(dataDir, {QStringLiteral("import"), file, QStringLiteral("--project"),
                                              QStringLiteral("1"), QStringLiteral("--delimiter"), QStringLiteral("comma")});
        QCOMPARE(imported.exitCode, 0);
    } else if (setup == u"wide grid") {
        QVERIFY(changeProject(dataDir, 1, [](Project &p) {
            p.rows = 4;
            p.columns = 4;
        }));
    } else {
        QVERIFY(csvProject(dataDir, QStringLiteral("Blank"), "Number\n1\n2\n3\n") > 0);
    }

    const EarlierExport out = earlierExport(m_folders.newFolder(QStringLiteral("out")));
    QVERIFY(!out.path.isEmpty());
    const QString &folder = out.folder;
    const QString &path = out.path;
    const QByteArray &earlier = out.earlier;
    QStringList arguments{QStringLiteral("export"), QStringLiteral("--output"), path};
    if (!option.isEmpty())
        arguments << option;
    const CliRun result = run(dataDir, arguments);

    if (option != u"--allow-warnings") {
        QCOMPARE(result.exitCode, 3);
        QCOMPARE(result.out, QString());
        QCOMPARE(lines(result.err),
                 problem.split(u'\n')
                     << QStringLiteral("No PDF written: check the job above, or export anyway with --allow-warnings."));
        QCOMPARE(readFile(path), earlier);
        QCOMPARE(directoryEntries(folder), QStringList{QStringLiteral("cards.pdf")});
        return;
    }

    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QStringLiteral("PDF exported: %1 (%2 pages)\n").arg(QDir::toNativeSeparators(path)).arg(pages));
    QStringList expectedErr = problem.split(u'\n');
    for (int page = 1; page <= pages; ++page)
        expectedErr << QStringLiteral("Exported %1 of %2 pages").arg(page).arg(pages);
    QCOMPARE(lines(result.err), expectedErr);
    const QMap<QString, QString> info = pdfInfo(path);
    QVERIFY2(!info.contains(QStringLiteral("<error>")), qPrintable(info.value(QStringLiteral("<error>"))));
    QCOMPARE(info.value(QStringLiteral("Pages")), QString::number(pages));
}

// Wrong cards the check finds in a stored template: each stops the export
// with exit code 3 before a byte is written, naming the first cards.
void TestCliExport::wrongCardsStopTheExport_data()
{
    QTest::addColumn<QString>("sql"); // on the starter's 40 cards
    QTest::addColumn<QString>("problem");

    QTest::newRow("a prize list of 1 for 40 cards")
        << R"(UPDATE template_fields SET scratch_prizes_json='[{"name":"Car","value":1}]' WHERE name='Prize')"
        << "39 cards have no prize in scratch field \"Prize\" (back, id 6): its prize list holds 1 of 40 cards, the "
           "others print \"Scratch Card Prize\": #0002, #0003, #0004, #0005, #0006, #0007, #0008, #0009, #0010, #0011, …";
    // An unbound field shows its name: here only spaces.
    QTest::newRow("a barcode of spaces")
        << "UPDATE template_fields SET data_column=NULL, name='   ' WHERE field_type='barcode'"
        << "40 cards have barcode or QR code data that is empty or only spaces and would scan as nothing: #0001, "
           "#0002, #0003, #0004, #0005, #0006, #0007, #0008, #0009, #0010, …";
    QTest::newRow("a QR code of nothing")
        << "UPDATE template_fields SET data_column='', name='' WHERE field_type='qrcode'"
        << "40 cards have barcode or QR code data that is empty or only spaces and would scan as nothing: #0001, "
           "#0002, #0003, #0004, #0005, #0006, #0007, #0008, #0009, #0010, …";
    QTest::newRow("a field at x 500 mm")
        << "UPDATE template_fields SET x_mm=500 WHERE name='City'"
        << "1 object lies wholly outside the 90 × 54 mm card and prints on no card: field \"City\" (front, id 3)";
}

void TestCliExport::wrongCardsStopTheExport()
{
    QFETCH(QString, sql);
    QFETCH(QString, problem);

    const QString dataDir = starterDataDirectory();
    {
        TestConnection db(databasePath(dataDir));
        QString error;
        QVERIFY2(db.exec(sql, &error), qPrintable(error));
    }
    const EarlierExport out = earlierExport(m_folders.newFolder(QStringLiteral("out")));
    QVERIFY(!out.path.isEmpty());
    const CliRun result = run(dataDir, {QStringLiteral("export"), QStringLiteral("--output"), out.path});
    QCOMPARE(result.exitCode, 3);
    QCOMPARE(result.out, QString());
    QCOMPARE(lines(result.err),
             (QStringList{problem, QStringLiteral("No PDF written: check the job above, or export anyway with "
                                                  "--allow-warnings.")}));
    QCOMPARE(readFile(out.path), out.earlier);
    QCOMPARE(directoryEntries(out.folder), QStringList{QStringLiteral("cards.pdf")});
}

void TestCliExport::storedElementOutOfRangeIsRefused_data()
{
    QTest::addColumn<QString>("sql"); // on the starter project
    QTest::addColumn<QString>("message");

    const QString name = QStringLiteral("Field \"Name\" (front, id 2): ");
    const QString table = QStringLiteral("Graphic table (front, id 1): ");
    const QString addTable = QStringLiteral(
        "INSERT INTO template_graphics (project_id, side, element_type, x_mm, y_mm, width_mm, height_mm, "
        "stroke_color, stroke_width_mm, fill_color, table_rows, table_columns) "
        "VALUES (1, 'front', 'table', 5, 5, 40, 20, '#000000', %1, 'transparent', %2, %2)");
    QTest::newRow("x 1e20 mm") << "UPDATE template_fields SET x_mm=1e20 WHERE name='Name'"
                               << name + "X Position is 1e+20 mm, allowed -2000 to 2000 mm";
    QTest::newRow("font size 0") << "UPDATE template_fields SET font_size_pt=0 WHERE name='Name'"
                                 << name + "Font Size is 0 pt, allowed 4 to 300 pt";
    // SQLite keeps no NaN in a REAL column; written as text, it is read back as one.
    QTest::newRow("font size not a number") << "UPDATE template_fields SET font_size_pt='NaN' WHERE name='Name'"
                                            << name + "Font Size is nan pt, allowed 4 to 300 pt";
    QTest::newRow("a sequence prefix of 1 MB")
        << "UPDATE template_fields SET sequence_prefix=replace(hex(zeroblob(524288)), '0', 'P') WHERE id=1"
        << "Field \"Sequence Number\" (front, id 1): Sequence Prefix is 1048576 characters, allowed 0 to 100 "
           "characters";
    QTest::newRow("a table of 1e9 x 1e9 cells") << addTable.arg(0.35).arg(1000000000)
                                                << table + "Rows is 1000000000, allowed 1 to 100";
    QTest::newRow("a stroke of 1e9 mm") << addTable.arg(QStringLiteral("1e9")).arg(3)
                                        << table + "Stroke Width is 1000000000 mm, allowed 0.05 to 10 mm";
}

// Element values the window never stores but a database may hold: the export
// names the first, writes nothing and leaves the stored rows as they are.
void TestCliExport::storedElementOutOfRangeIsRefused()
{
    QFETCH(QString, sql);
    QFETCH(QString, message);

    const QString dataDir = starterDataDirectory();
    const QString selectElements =
        QStringLiteral("SELECT quote(x_mm), quote(font_size_pt), length(sequence_prefix) FROM template_fields "
                       "UNION ALL SELECT quote(table_rows), quote(stroke_width_mm), 0 FROM template_graphics");
    QStringList stored;
    {
        TestConnection db(databasePath(dataDir));
        QString error;
        QVERIFY2(db.exec(sql, &error), qPrintable(error));
        stored = db.rows(selectElements);
    }
    const EarlierExport out = earlierExport(m_folders.newFolder(QStringLiteral("out")));
    QVERIFY(!out.path.isEmpty());
    const CliRun result = run(dataDir, {QStringLiteral("export"), QStringLiteral("--output"), out.path});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QString());
    QCOMPARE(result.err, QStringLiteral("No PDF written: %1\n").arg(message));
    QCOMPARE(readFile(out.path), out.earlier);
    QCOMPARE(directoryEntries(out.folder), QStringList{QStringLiteral("cards.pdf")});

    TestConnection db(databasePath(dataDir));
    QCOMPARE(db.rows(selectElements), stored);
    QCOMPARE(db.rows(QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
}

// ---- Outputs written to the end, regular files only, no leftovers ----

// A project of `cards` cards, one per sheet, each with a text field and a
// noise background that does not compress, so every page adds its own bytes.
qint64 TestCliExport::onePerSheetProject(const QString &dataDir, int cards, int noiseWidth)
{
    const QString artwork = QDir(m_folders.newFolder(QStringLiteral("art"))).filePath(QStringLiteral("noise.png"));
    QImage noise(noiseWidth, noiseWidth * 3 / 5, QImage::Format_RGB32);
    quint32 state = 4711;
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            noise.setPixel(x, y, state >> 8);
        }
    }
    if (!noise.save(artwork))
        return 0;
    return numberedProject(dataDir, QStringLiteral("One per sheet"), cards, artwork);
}

qint64 TestCliExport::numberedProject(const QString &dataDir, const QString &name, int cards,
                                      const QString &backgroundPath)
{
    QByteArray csv("Number\n");
    for (int i = 1; i <= cards; ++i)
        csv += QByteArray::number(i) + '\n';
    const qint64 id = csvProject(dataDir, name, csv, [&](Project &p) {
        p.paperWidthMm = 100;
        p.paperHeightMm = 64;
        p.rows = 1;
        p.columns = 1;
        p.backgroundPath = backgroundPath;
    });
    return id > 0 && addTextField(dataDir, id, QStringLiteral("Number")) ? id : 0;
}

void TestCliExport::everyOutputSurvivesAFullDisk_data()
{
    QTest::addColumn<QStringList>("arguments"); // after --output FILE
    QTest::addColumn<QString>("earlierName");   // the file a failure must leave alone
    QTest::addColumn<double>("fill");           // the file-size limit as a share of the file; < 0: folder gone

    struct Writer
    {
        const char *name;
        QStringList arguments;
        const char *earlier;
    };
    const QString project = QStringLiteral("--project");
    const QList<Writer> writers{
        {"export, one thread", {QStringLiteral("export"), QStringLiteral("--jobs"), QStringLiteral("1")}, "job.pdf"},
        // The default: several threads, pieces joined with qpdf.
        {"export, joined", {QStringLiteral("export"), QStringLiteral("--jobs"), QStringLiteral("2")}, "job.pdf"},
        {"export, split",
         {QStringLiteral("export"), QStringLiteral("--sheets-per-file"), QStringLiteral("4"), QStringLiteral("--jobs"),
          QStringLiteral("2")},
         "job-001.pdf"},
        {"manifest", {QStringLiteral("manifest")}, "job.pdf"},
    };
    for (const Writer &writer : writers) {
        for (double fill : {0.1, 0.5, 0.995})
            QTest::addRow("%s, disk full at %g of the file", writer.name, fill)
                << writer.arguments << QString::fromLatin1(writer.earlier) << fill;
        QTest::addRow("%s, folder gone", writer.name) << writer.arguments << QString::fromLatin1(writer.earlier) << -1.0;
    }
}

// Each writer of the tool against a full disk (a file-size limit on the
// tool) at several fill levels, and a folder that vanished: exit 1, the
// file and the system's reason named, the earlier file byte for byte as it
// was and nothing else in the folder.
void TestCliExport::everyOutputSurvivesAFullDisk()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, earlierName);
    QFETCH(double, fill);

    if (m_fullDiskData.isEmpty()) {
        m_fullDiskData = starterDataDirectory();
        m_fullDiskPdfProject = onePerSheetProject(m_fullDiskData, 12, 1500);
        QByteArray csv("Number,Note\n");
        for (int i = 1; i <= 1000; ++i)
            csv += QByteArray::number(i) + ',' + QByteArray(3000, char('a' + i % 26)) + '\n';
        m_fullDiskManifestProject = csvProject(m_fullDiskData, QStringLiteral("Long notes"), csv);
        QVERIFY(addTextField(m_fullDiskData, m_fullDiskManifestProject, QStringLiteral("Note")));
    }
    const QString dataDir = m_fullDiskData;
    const qint64 project = arguments.first() == u"manifest" ? m_fullDiskManifestProject : m_fullDiskPdfProject;
    QVERIFY(project > 0);
    arguments << QStringLiteral("--project") << QString::number(project);

    // The file as written without a limit gives the size the limit is a share of.
    const QString free = m_folders.newFolder(QStringLiteral("free"));
    const CliRun unlimited = run(dataDir, QStringList{arguments.first(), QStringLiteral("--output"),
                                                      QDir(free).filePath(QStringLiteral("job.pdf"))}
                                              + arguments.mid(1));
    QVERIFY2(unlimited.exitCode == 0, qPrintable(unlimited.err));
    qint64 largest = 0;
    for (const QString &name : directoryEntries(free))
        largest = std::max(largest, QFileInfo(QDir(free).filePath(name)).size());
    // The smallest limit leaves room for the database's own writes.
    QVERIFY2(double(largest) * 0.1 > 128 * 1024, qPrintable(QString::number(largest)));

    const QString folder = m_folders.newFolder(QStringLiteral("out"));
    const QString earlier = QDir(folder).filePath(earlierName);
    const QByteArray earlierBytes("%PDF-1.4 the file the press already has\n");
    QVERIFY(writeFile(earlier, earlierBytes));
    QString path = QDir(folder).filePath(QStringLiteral("job.pdf"));
    QString reason = QStringLiteral("File too large");
    std::function<void()> limit;
    if (fill < 0) {
        path = QDir(folder).filePath(QStringLiteral("gone/job.pdf"));
        reason = QStringLiteral("No such file or directory");
    } else {
        const rlim_t bytes = rlim_t(double(largest) * fill);
        limit = [bytes] {
            // Ignored, an oversized write fails with EFBIG instead of killing the tool.
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit fileSize{bytes, bytes};
            ::setrlimit(RLIMIT_FSIZE, &fileSize);
        };
    }
    const CliRun result =
        run(dataDir, QStringList{arguments.first(), QStringLiteral("--output"), path} + arguments.mid(1), limit);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QString());
    const QString written = QFileInfo(path).absolutePath();
    const QString message = lines(result.err).value(lines(result.err).size() - 1);
    QVERIFY2(message.contains(QStringLiteral("Could not write ") + written)
                 && message.endsWith(QStringLiteral(": ") + reason),
             qPrintable(result.err));
    QCOMPARE(readFile(earlier), earlierBytes);
    QCOMPARE(directoryEntries(folder), QStringList{earlierName});
}

void TestCliExport::nonRegularOutputsAreRefused_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("node"); // what stands at the output (or at a split's second part)
    QTest::addColumn<bool>("split");

    for (const char *command : {"export", "manifest"}) {
        for (const char *node : {"FIFO", "folder", "socket", "link to /dev/null"})
            QTest::addRow("%s over a %s", command, node) << QString::fromLatin1(command) << QString::fromLatin1(node) << false;
    }
    QTest::newRow("split whose second part is a FIFO") << "export" << "FIFO" << true;
}

// A device, FIFO, socket or folder at the output is refused before anything
// is written: it stays what it was, and nothing appears beside it.
void TestCliExport::nonRegularOutputsAreRefused()
{
    QFETCH(QString, command);
    QFETCH(QString, node);
    QFETCH(bool, split);

    const QString dataDir = starterDataDirectory();
    const QString folder = m_folders.newFolder(QStringLiteral("out"));
    const QString path = QDir(folder).filePath(QStringLiteral("job.pdf"));
    const QString blocked = split ? QDir(folder).filePath(QStringLiteral("job-002.pdf")) : path;
    int socketFd = -1;
    if (node == u"FIFO") {
        QVERIFY(::mkfifo(QFile::encodeName(blocked).constData(), 0644) == 0);
    } else if (node == u"folder") {
        QVERIFY(QDir().mkpath(blocked));
    } else if (node == u"socket") {
        socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(socketFd >= 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(blocked);
        QVERIFY(size_t(name.size()) < sizeof(address.sun_path));
        std::memcpy(address.sun_path, name.constData(), name.size());
        QVERIFY(::bind(socketFd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0);
    } else {
        // Through a link: were it followed by the rename, the link would be
        // replaced, never /dev/null itself.
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), blocked));
    }
    struct stat before {};
    QVERIFY(::lstat(QFile::encodeName(blocked).constData(), &before) == 0);

    QStringList arguments{command, QStringLiteral("--output"), path};
    if (split)
        arguments << QStringLiteral("--sheets-per-file") << QStringLiteral("1");
    const CliRun result = run(dataDir, arguments);
    if (socketFd >= 0)
        ::close(socketFd);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QString());
    QCOMPARE(lines(result.err).value(lines(result.err).size() - 1),
             QStringLiteral("No %1 written: %2 is not a regular file")
                 .arg(command == u"export" ? QStringLiteral("PDF") : QStringLiteral("manifest"), blocked));
    struct stat after {};
    QVERIFY(::lstat(QFile::encodeName(blocked).constData(), &after) == 0);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList{QFileInfo(blocked).fileName()});
}

void TestCliExport::interruptedExportLeavesNothing_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT (Ctrl+C)") << int(SIGINT);
    QTest::newRow("SIGTERM (timeout, kill)") << int(SIGTERM);
    QTest::newRow("SIGKILL: left for the next export") << int(SIGKILL);
}

// Stopped part way, the tool removes its temporary files and ends by the
// signal; killed outright, it cannot, and the next export to the folder
// removes what it left. The earlier file is untouched either way.
void TestCliExport::interruptedExportLeavesNothing()
{
    QFETCH(int, signal);

    const QString dataDir = starterDataDirectory();
    const qint64 id = numberedProject(dataDir, QStringLiteral("Long run"), 3000);
    QVERIFY(id > 0);

    const QString folder = m_folders.newFolder(QStringLiteral("out"));
    const QString path = QDir(folder).filePath(QStringLiteral("run.pdf"));
    const QByteArray earlier("%PDF-1.4 yesterday's run\n");
    QVERIFY(writeFile(path, earlier));

    QProcess tool;
    tool.setProcessEnvironment(environment());
    tool.start(cliPath(), {QStringLiteral("--data-dir"), dataDir, QStringLiteral("export"), QStringLiteral("--output"),
                           path, QStringLiteral("--jobs"), QStringLiteral("2")});
    QVERIFY(tool.waitForStarted());
    // The first progress line comes after a tenth of the pages: the pieces
    // are being written by then.
    QByteArray err;
    while (!err.contains("Exported ") && tool.state() == QProcess::Running) {
        tool.waitForReadyRead(1000);
        err += tool.readAllStandardError();
    }
    QVERIFY2(err.contains("Exported "), err.constData());
    const QStringList during = directoryEntries(folder);
    QVERIFY2(during.size() > 1, qPrintable(during.join(u' ')));
    ::kill(pid_t(tool.processId()), signal);
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitStatus(), QProcess::CrashExit);
    QCOMPARE(readFile(path), earlier);

    if (signal == SIGKILL) {
        QVERIFY(directoryEntries(folder).size() > 1);
        // Another export into the folder clears them; its own file stays.
        QCOMPARE(run(dataDir, {QStringLiteral("manifest"), QStringLiteral("--output"),
                               QDir(folder).filePath(QStringLiteral("run.csv")), QStringLiteral("--project"),
                               QString::number(id)})
                     .exitCode,
                 0);
        QCOMPARE(directoryEntries(folder), (QStringList{QStringLiteral("run.csv"), QStringLiteral("run.pdf")}));
    } else {
        QCOMPARE(directoryEntries(folder), QStringList{QStringLiteral("run.pdf")});
    }
}

// A split into fewer files than an earlier set of the same name replaces
// the first parts and names the rest, which it leaves alone.
void TestCliExport::shorterSplitNamesTheEarlierParts()
{
    const QString dataDir = starterDataDirectory();
    const qint64 id = onePerSheetProject(dataDir, 4);
    QVERIFY(id > 0);
    const QString folder = m_folders.newFolder(QStringLiteral("out"));
    const QString path = QDir(folder).filePath(QStringLiteral("set.pdf"));
    const QStringList arguments{QStringLiteral("export"), QStringLiteral("--output"), path, QStringLiteral("--project"),
                                QString::number(id), QStringLiteral("--sheets-per-file")};

    QCOMPARE(run(dataDir, arguments + QStringList{QStringLiteral("1")}).exitCode, 0);
    QCOMPARE(directoryEntries(folder).size(), 4);
    const QByteArray fourth = readFile(QDir(folder).filePath(QStringLiteral("set-004.pdf")));

    const CliRun shorter = run(dataDir, arguments + QStringList{QStringLiteral("2")});
    QCOMPARE(shorter.exitCode, 0);
    QCOMPARE(lines(shorter.out).size(), 2);
    QVERIFY2(shorter.err.endsWith(
                 QStringLiteral("2 earlier parts of the same name, not part of this export, left as they were: %1, %2\n")
                     .arg(QDir(folder).filePath(QStringLiteral("set-003.pdf")),
                          QDir(folder).filePath(QStringLiteral("set-004.pdf")))),
             qPrintable(shorter.err));
    QCOMPARE(readFile(QDir(folder).filePath(QStringLiteral("set-004.pdf"))), fourth);
    for (const QString &part : {QStringLiteral("set-001.pdf"), QStringLiteral("set-002.pdf")}) {
        QCOMPARE(pdfInfo(QDir(folder).filePath(part)).value(QStringLiteral("Pages")), QStringLiteral("2"));
        // qpdf's own structural check of a part written on its own thread.
        const ToolRun check = runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), QDir(folder).filePath(part)});
        QVERIFY2(check.exitCode == 0, qPrintable(check.err + QString::fromUtf8(check.out)));
    }

    // The same number of parts again: nothing to mention.
    const CliRun again = run(dataDir, arguments + QStringList{QStringLiteral("1")});
    QCOMPARE(again.exitCode, 0);
    QVERIFY2(!again.err.contains(QStringLiteral("earlier part")), qPrintable(again.err));
}

QTEST_GUILESS_MAIN(TestCliExport)
#include "tst_cliexport.moc"
