#include "scripteddialogs.h"
#include "windowfixture.h"

#include "cli/clirun.h"

#include "app/dataimport.h"
#include "app/workspace.h"
#include "render/pdfexport.h"
#include "store/projectstore.h"
#include "support/asuser.h"
#include "ui/exportrangedialog.h"
#include "ui/mainwindow.h"
#include "ui/previewpage.h"
#include "ui/projectpanel.h"
#include "ui/unitspinbox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QSpinBox>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The newest project in the database before the window starts.
struct ProjectSeed
{
    QString name = QStringLiteral("Export Job");
    QByteArray csv; // the project's one data file; none when empty
    int rows = 2;
    int columns = 2;
    bool duplex = false;
    QSizeF paperMm{420, 297};
    QList<TemplateField> fields;
    QString backgroundPath;
    QString backBackgroundPath;
};

// A Code 128 field across the card: zbarimg reads back what each page carries.
TemplateField codeField(const QString &side, const QString &column)
{
    TemplateField field;
    field.side = cardSideFromKey(side);
    field.type = ElementKind::Barcode;
    field.barcodeFormat = BarcodeFormat::Code128;
    field.dataColumn = column;
    field.xMm = 5;
    field.yMm = 15;
    field.widthMm = 80;
    field.heightMm = 20;
    return field;
}

QString runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

// "Pages" and "Page size" as pdfinfo reads them.
QString pdfInfo(const QString &path, const QString &key)
{
    const QStringList lines = runTool(QStringLiteral("pdfinfo"), {path}).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(key + QLatin1Char(':')))
            return line.mid(key.size() + 1).trimmed();
    }
    return QString();
}

// Page `page` of `pdf` as pdftoppm draws it at `dpi` into `stem`.png; a null
// image when it cannot be drawn.
QImage renderedPage(const QString &pdf, int page, int dpi, const QString &stem)
{
    QFile::remove(stem + QStringLiteral(".png"));
    QProcess::execute(QStringLiteral("pdftoppm"),
                      {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"), QString::number(page),
                       QStringLiteral("-l"), QString::number(page), QStringLiteral("-singlefile"),
                       QStringLiteral("-png"), pdf, stem});
    return QImage(stem + QStringLiteral(".png"));
}

// A scratch field whose prize list preparation rejects.
TemplateField rejectedPrizeField()
{
    TemplateField field;
    field.side = CardSide::Back;
    field.type = ElementKind::Scratch;
    field.name = QStringLiteral("Prize");
    field.scratchPrizesJson = QStringLiteral("{}");
    return field;
}

} // namespace

class TestExportWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void proposedPathAndCancel_data();
    void proposedPathAndCancel();
    void exportsEveryPrintPage_data();
    void exportsEveryPrintPage();
    void exportFollowsPanelAndOrder();
    void nothingToExport();
    void unwritableFolder_data();
    void unwritableFolder();
    void blankBarcodesAreReported();
    void earlierPartsAreReported();
    void refusesTheProjectsOwnFiles_data();
    void refusesTheProjectsOwnFiles();
    void storedGeometryOutOfRange();
    void preflightAsksFirst_data();
    void preflightAsksFirst();
    void windowAndToolPrintTheSamePage();
    void refusesWhatTheToolRefuses_data();
    void refusesWhatTheToolRefuses();

private:
    bool startWindow(const ProjectSeed &seed);
    std::unique_ptr<ProjectStore> openStore() const;
    Project storedProject(qint64 id) const;
    QString status() const { return m_window->statusBar()->currentMessage(); }

    WindowFolders m_folders;
    std::shared_ptr<DialogScript> m_script;
    std::unique_ptr<MainWindow> m_window;
};

void TestExportWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty())
        QFAIL("poppler's pdfinfo and pdftoppm and zbarimg are needed to read the exported files");
}

void TestExportWindow::init()
{
    QVERIFY(m_folders.create());
    m_script = std::make_shared<DialogScript>();
    // Warnings nobody scripted are acknowledged.
    m_script->unscriptedAnswer = QMessageBox::Ok;
}

void TestExportWindow::cleanup()
{
    m_window.reset();
    m_folders.remove();
}

std::unique_ptr<ProjectStore> TestExportWindow::openStore() const
{
    return openTestStore(m_folders.databasePath);
}

Project TestExportWindow::storedProject(qint64 id) const
{
    return storedProjectIn(m_folders.databasePath, id);
}

bool TestExportWindow::startWindow(const ProjectSeed &seed)
{
    {
        const auto store = openStore();
        QString error;
        std::optional<Project> project = store->createProject(QStringLiteral("seed"), &error);
        if (!project)
            return false;
        // Stored as given: the name is what the file name is proposed from.
        project->name = seed.name;
        project->rows = seed.rows;
        project->columns = seed.columns;
        project->duplex = seed.duplex;
        project->paperWidthMm = seed.paperMm.width();
        project->paperHeightMm = seed.paperMm.height();
        project->backgroundPath = seed.backgroundPath;
        project->backBackgroundPath = seed.backBackgroundPath;
        if (!seed.csv.isEmpty()) {
            const QString csv = m_folders.files->filePath(QStringLiteral("records.csv"));
            QFile file(csv);
            if (!file.open(QIODevice::WriteOnly) || file.write(seed.csv) != seed.csv.size())
                return false;
            file.close();
            if (!upsertDataSource(*store, project->id, csv, DataSourceOptions{}, &error))
                return false;
            project->dataSourcePath = csv;
        }
        for (TemplateField field : seed.fields) {
            field.projectId = project->id;
            if (!store->insertElement(&field, &error))
                return false;
        }
        if (!store->updateProject(*project, &error))
            return false;
    }
    return startScriptedWindow(m_window, m_script, m_folders.starter->path())
           && m_window->currentProject().name == seed.name;
}

void TestExportWindow::proposedPathAndCancel_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fileName");

    QTest::newRow("separators") << "a/b:c" << "a_b_c.pdf";
    QTest::newRow("blank") << "   " << "VDP Imposition.pdf";
    QTest::newRow("trimmed, every reserved character")
        << "  Gold \\*?\"<>| Draw  " << "Gold _______ Draw.pdf";
}

void TestExportWindow::proposedPathAndCancel()
{
    QFETCH(QString, name);
    QFETCH(QString, fileName);

    ProjectSeed seed;
    seed.name = name;
    seed.csv = ticketCsv(3);
    seed.fields = {codeField(QStringLiteral("front"), QStringLiteral("Name"))};
    QVERIFY(startWindow(seed));
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QVERIFY(!documents.isEmpty());
    const QString proposed = QDir(documents).filePath(fileName);
    const bool existedBefore = QFileInfo::exists(proposed);
    const QString statusBefore = status();

    m_script->savePath.clear(); // the user cancels
    m_window->exportPdf();

    QCOMPARE(m_script->saveRequests.size(), 1);
    const FileRequest &request = m_script->saveRequests.first();
    QCOMPARE(request.title, QStringLiteral("Export Imposition PDF"));
    QCOMPARE(request.filter, QStringLiteral("PDF File (*.pdf)"));
    QCOMPARE(request.path, proposed);
    QCOMPARE(m_script->shown.size(), 0);
    QCOMPARE(status(), statusBefore);
    QCOMPARE(QFileInfo::exists(proposed), existedBefore);
    QCOMPARE(QDir(m_folders.files->path()).entryList({QStringLiteral("*.pdf")}), QStringList());
}

void TestExportWindow::exportsEveryPrintPage_data()
{
    QTest::addColumn<bool>("duplex");
    QTest::addColumn<int>("pages");
    // The codes each page must carry, sorted, in page order (front field:
    // names, back field: tickets).
    QTest::addColumn<QList<QStringList>>("content");

    const QStringList front0{"Name 1", "Name 2", "Name 3", "Name 4"};
    const QStringList front1{"Name 5", "Name 6", "Name 7", "Name 8"};
    const QStringList front2{"Name 10", "Name 9"};
    QTest::newRow("single-sided") << false << 3 << QList<QStringList>{front0, front1, front2};
    QTest::newRow("duplex")
        << true << 6
        << QList<QStringList>{front0, {"T1", "T2", "T3", "T4"}, front1,
                              {"T5", "T6", "T7", "T8"}, front2, {"T10", "T9"}};
}

void TestExportWindow::exportsEveryPrintPage()
{
    QFETCH(bool, duplex);
    QFETCH(int, pages);
    QFETCH(QList<QStringList>, content);

    ProjectSeed seed;
    seed.csv = ticketCsv(10);
    seed.duplex = duplex;
    seed.fields = {codeField(QStringLiteral("front"), QStringLiteral("Name")),
                   codeField(QStringLiteral("back"), QStringLiteral("Ticket"))};
    QVERIFY(startWindow(seed));
    const QString path = m_folders.files->filePath(QStringLiteral("Print Run.pdf"));
    m_script->savePath = path;

    m_window->exportPdf();

    QCOMPARE(m_script->shown.size(), 1);
    const ShownBox &box = m_script->shown.first();
    QCOMPARE(box.kind, QStringLiteral("information"));
    QCOMPARE(box.title, QStringLiteral("Export Complete"));
    QCOMPARE(box.text, QStringLiteral("Generated %1 PDF pages:\n%2")
                           .arg(pages)
                           .arg(QDir::toNativeSeparators(path)));
    QCOMPARE(status(), QStringLiteral("PDF exported: %1 (%2 pages)")
                           .arg(QDir::toNativeSeparators(path))
                           .arg(pages));

    QCOMPARE(pdfInfo(path, QStringLiteral("Pages")), QString::number(pages));
    QCOMPARE(pdfInfo(path, QStringLiteral("Page size")), QStringLiteral("1191 x 842 pts (A3)"));
    QCOMPARE(pdfInfo(path, QStringLiteral("Title")), seed.name);
    for (int page = 0; page < pages; ++page)
        QCOMPARE(pageCodes(path, page + 1), content.at(page));
}

void TestExportWindow::exportFollowsPanelAndOrder()
{
    ProjectSeed seed;
    seed.csv = ticketCsv(10);
    seed.fields = {codeField(QStringLiteral("front"), QStringLiteral("Name"))};
    QVERIFY(startWindow(seed));
    const Project stored = storedProject(m_window->currentProject().id);

    // Unsaved panel values and the preview's order are what prints.
    ProjectPanel *panel = m_window->projectPanel();
    panel->rowsBox()->setValue(2);
    panel->columnsBox()->setValue(1);
    panel->sheetWidthBox()->setValue(210);
    panel->sheetHeightBox()->setValue(297);
    m_window->previewPage()->orderSelector()->setCurrentIndex(1);
    const QString path = m_folders.files->filePath(QStringLiteral("cut-stack.pdf"));
    m_script->savePath = path;

    m_window->exportPdf();

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("information"));
    QCOMPARE(pdfInfo(path, QStringLiteral("Pages")), QStringLiteral("5"));
    QCOMPARE(pdfInfo(path, QStringLiteral("Page size")), QStringLiteral("595 x 842 pts (A4)"));
    // Two stacks of five: sheet 1 carries records 1 and 6, the last sheet 5 and 10.
    QCOMPARE(pageCodes(path, 1), (QStringList{"Name 1", "Name 6"}));
    QCOMPARE(pageCodes(path, 5), (QStringList{"Name 10", "Name 5"}));
    // Exporting saves nothing.
    QCOMPARE(storedProject(stored.id), stored);
}

void TestExportWindow::nothingToExport()
{
    ProjectSeed seed;
    QVERIFY(startWindow(seed));
    m_script->savePath = m_folders.files->filePath(QStringLiteral("empty.pdf"));

    m_window->exportPdf();

    QCOMPARE(m_script->saveRequests.size(), 0);
    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("critical"));
    QCOMPARE(m_script->shown.first().title, QStringLiteral("Unable to Export PDF"));
    QCOMPARE(m_script->shown.first().text, QStringLiteral("Import variable data before exporting."));
    QVERIFY(!QFileInfo::exists(m_script->savePath));
}

void TestExportWindow::unwritableFolder_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("text"); // @PATH: the chosen file

    QTest::newRow("read-only folder") << "read-only folder" << "Could not write @PATH: Permission denied";
    QTest::newRow("folder is a file") << "folder is a file" << "Could not write @PATH: Not a directory";
    // Refused before anything is written: a rename would replace the node.
    QTest::newRow("FIFO at the path") << "FIFO" << "@PATH is not a regular file";
    QTest::newRow("folder at the path") << "folder" << "@PATH is not a regular file";
}

void TestExportWindow::unwritableFolder()
{
    QFETCH(QString, situation);
    QFETCH(QString, text);

    ProjectSeed seed;
    seed.csv = ticketCsv(10);
    seed.fields = {codeField(QStringLiteral("front"), QStringLiteral("Name"))};
    QVERIFY(startWindow(seed));

    const QString folder = m_folders.files->filePath(QStringLiteral("out"));
    const QString path = QDir(folder).filePath(QStringLiteral("cards.pdf"));
    m_script->savePath = path;
    std::unique_ptr<EffectiveUser> nobody;
    if (situation == QLatin1String("read-only folder")) {
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);
        if (geteuid() == 0) {
            // Root writes anywhere; the other user may pass through but not write.
            QVERIFY(::chmod(QFile::encodeName(m_folders.files->path()).constData(), 0755) == 0);
            nobody = std::make_unique<EffectiveUser>(kNobody, kNogroup);
            if (!nobody->isActive())
                QSKIP("cannot switch to the unprivileged user");
        }
    } else if (situation == QLatin1String("folder is a file")) {
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else {
        QVERIFY(QDir().mkpath(folder));
        if (situation == QLatin1String("FIFO"))
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0644) == 0);
        else
            QVERIFY(QDir().mkpath(path));
    }

    m_window->exportPdf();
    nobody.reset();
    ::chmod(QFile::encodeName(folder).constData(), 0755);

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("critical"));
    QCOMPARE(m_script->shown.first().title, QStringLiteral("PDF export failed"));
    text.replace(QStringLiteral("@PATH"), QDir::toNativeSeparators(path));
    QCOMPARE(m_script->shown.first().text, text);
    QVERIFY(!status().startsWith(QStringLiteral("PDF exported")));
    if (situation == QLatin1String("FIFO") || situation == QLatin1String("folder")) {
        QCOMPARE(QFileInfo(path).isFile(), false);
        QVERIFY(QFileInfo::exists(path));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("cards.pdf")});
        return;
    }
    QVERIFY(!QFileInfo::exists(path));
    if (situation == QLatin1String("read-only folder"))
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
}

// A split beside parts of an earlier, longer set of the same name: the
// completion box and the status line name them, and they are left alone.
void TestExportWindow::earlierPartsAreReported()
{
    ProjectSeed seed;
    seed.csv = ticketCsv(10);
    seed.fields = {codeField(QStringLiteral("front"), QStringLiteral("Name"))};
    QVERIFY(startWindow(seed));
    // Ten cards fill far fewer than fifty sheets.
    const QStringList earlier{m_folders.files->filePath(QStringLiteral("cards-050.pdf")),
                              m_folders.files->filePath(QStringLiteral("cards-051.pdf"))};
    for (const QString &file : earlier) {
        QFile part(file);
        QVERIFY(part.open(QIODevice::WriteOnly) && part.write("%PDF-1.4 last month's part\n") > 0);
    }
    m_script->savePath = m_folders.files->filePath(QStringLiteral("cards.pdf"));
    m_script->exportRangeDialog = [](ExportRangeDialog &dialog) {
        dialog.splitBox()->click();
        dialog.sheetsPerFileBox()->setValue(1);
        dialog.exportButton()->click();
        return dialog.result();
    };

    m_window->exportPdf();

    QCOMPARE(m_script->shown.size(), 1);
    const ShownBox &box = m_script->shown.first();
    QCOMPARE(box.kind, QStringLiteral("warning"));
    QCOMPARE(box.title, QStringLiteral("Export Complete"));
    const QString note = earlierPartsNote(earlier);
    QVERIFY2(note.contains(QDir::toNativeSeparators(earlier.at(1))), qPrintable(note));
    QVERIFY2(box.text.endsWith(QStringLiteral("\n\n") + note), qPrintable(box.text));
    QVERIFY2(status().endsWith(QStringLiteral(" — ") + note), qPrintable(status()));
    for (const QString &file : earlier) {
        QFile part(file);
        QVERIFY(part.open(QIODevice::ReadOnly));
        QCOMPARE(part.readAll(), QByteArray("%PDF-1.4 last month's part\n"));
    }
}

void TestExportWindow::blankBarcodesAreReported()
{
    // EAN-13 takes digits only: records 4 and 9 cannot be encoded.
    QByteArray csv = "Name,Ticket\n";
    for (int n = 1; n <= 10; ++n) {
        const QByteArray ticket = n == 4 || n == 9
                                      ? QByteArray("T-" + QByteArray::number(n))
                                      : QByteArray("40063813339" + QByteArray::number(n % 10));
        csv += "Name " + QByteArray::number(n) + "," + ticket + "\n";
    }
    TemplateField barcode = codeField(QStringLiteral("front"), QStringLiteral("Ticket"));
    barcode.barcodeFormat = BarcodeFormat::Ean13;

    ProjectSeed seed;
    seed.csv = csv;
    seed.fields = {barcode};
    QVERIFY(startWindow(seed));
    const QString path = m_folders.files->filePath(QStringLiteral("codes.pdf"));
    m_script->savePath = path;

    m_window->exportPdf();

    PdfExportResult expected;
    expected.ok = true;
    expected.pageCount = 3;
    expected.blankCodeCardCount = 2;
    expected.blankCodeCards = {3, 8};
    const QString summary = blankCodesSummary(expected);
    QVERIFY(summary.contains(QStringLiteral("#0004")) && summary.contains(QStringLiteral("#0009")));

    QCOMPARE(m_script->shown.size(), 1);
    const ShownBox &box = m_script->shown.first();
    QCOMPARE(box.kind, QStringLiteral("warning"));
    QCOMPARE(box.title, QStringLiteral("Export Complete"));
    QCOMPARE(box.text, QStringLiteral("Generated 3 PDF pages:\n%1\n\n%2")
                           .arg(QDir::toNativeSeparators(path), summary));
    QCOMPARE(status(), QStringLiteral("PDF exported: %1 (3 pages) — %2")
                           .arg(QDir::toNativeSeparators(path), summary));
    QCOMPARE(pdfInfo(path, QStringLiteral("Pages")), QStringLiteral("3"));
}

void TestExportWindow::refusesTheProjectsOwnFiles_data()
{
    QTest::addColumn<QString>("target"); // which file the user picks, and how
    QTest::addColumn<QString>("named");  // what the refusal must call it

    QTest::newRow("database") << "database" << "project database";
    QTest::newRow("database through ..") << "database via .." << "project database";
    QTest::newRow("link to the database") << "database link" << "project database";
    QTest::newRow("write-ahead log") << "database-wal" << "";
    QTest::newRow("data file") << "data file" << "data file";
}

// The file dialog's own "Replace?" knows nothing of these files: a yes there
// destroyed the database or the user's spreadsheet.
void TestExportWindow::refusesTheProjectsOwnFiles()
{
    QFETCH(QString, target);
    QFETCH(QString, named);

    ProjectSeed seed;
    seed.csv = ticketCsv(10);
    seed.fields = {codeField(QStringLiteral("front"), QStringLiteral("Name"))};
    QVERIFY(startWindow(seed));
    const Project project = m_window->currentProject();
    const QString database = m_folders.databasePath;
    const QString dataFile = m_folders.files->filePath(QStringLiteral("records.csv"));

    QString picked;
    if (target == QLatin1String("database")) {
        picked = database;
    } else if (target == QLatin1String("database via ..")) {
        QVERIFY(QDir(m_folders.data->path()).mkpath(QStringLiteral("sub")));
        picked = m_folders.data->filePath(QStringLiteral("sub/../") + QFileInfo(database).fileName());
    } else if (target == QLatin1String("database link")) {
        picked = m_folders.files->filePath(QStringLiteral("link.pdf"));
        QVERIFY(QFile::link(database, picked));
    } else if (target == QLatin1String("database-wal")) {
        picked = database + QStringLiteral("-wal");
    } else {
        picked = dataFile;
    }
    QFile data(dataFile);
    QVERIFY(data.open(QIODevice::ReadOnly));
    const QByteArray dataBefore = data.readAll();
    data.close();
    m_script->savePath = picked;

    m_window->exportPdf();

    QCOMPARE(m_script->shown.size(), 1);
    const ShownBox &box = m_script->shown.first();
    QCOMPARE(box.kind, QStringLiteral("critical"));
    QCOMPARE(box.title, QStringLiteral("PDF export failed"));
    QVERIFY2(box.text.contains(named), qPrintable(box.text));
    QVERIFY(!status().startsWith(QStringLiteral("PDF exported")));

    // Nothing was written: the database is whole, the data file as it was,
    // and the window saves as before.
    QVERIFY(data.open(QIODevice::ReadOnly));
    QCOMPARE(data.readAll(), dataBefore);
    {
        const auto store = openStore();
        QSqlQuery check(store->database());
        QVERIFY(check.exec(QStringLiteral("PRAGMA integrity_check")) && check.next());
        QCOMPARE(check.value(0).toString(), QStringLiteral("ok"));
    }
    m_window->projectPanel()->rowsBox()->setValue(3);
    m_window->saveSettings();
    QCOMPARE(storedProject(project.id).rows, 3);
    QCOMPARE(m_window->cardRecords().size(), 10);
}

// The panel shows stored values clamped to its ranges; the export must not
// quietly print something else than the tool would, nor accept what the
// tool refuses.
void TestExportWindow::storedGeometryOutOfRange()
{
    ProjectSeed seed;
    seed.csv = ticketCsv(10);
    seed.fields = {codeField(QStringLiteral("front"), QStringLiteral("Name"))};
    QVERIFY(startWindow(seed));
    const qint64 id = m_window->currentProject().id;
    m_window.reset();
    QVERIFY(openStore()->execStatement(
        QStringLiteral("UPDATE projects SET rows = 100000 WHERE id = %1").arg(id)));
    QVERIFY(startScriptedWindow(m_window, m_script, m_folders.starter->path()));
    QCOMPARE(m_window->projectPanel()->rowsBox()->value(), 100);
    m_script->savePath = m_folders.files->filePath(QStringLiteral("rows.pdf"));

    m_window->exportPdf();

    QCOMPARE(m_script->saveRequests.size(), 0);
    QCOMPARE(m_script->shown.size(), 1);
    const ShownBox &box = m_script->shown.first();
    QCOMPARE(box.kind, QStringLiteral("critical"));
    QCOMPARE(box.title, QStringLiteral("Unable to Export PDF"));
    QVERIFY2(box.text.contains(QStringLiteral("Rows")) && box.text.contains(QStringLiteral("100000")),
             qPrintable(box.text));
    QVERIFY(!QFileInfo::exists(m_script->savePath));
    QCOMPARE(storedProject(id).rows, 100000);

    // A value the user enters replaces the stored one, and the job exports.
    m_window->projectPanel()->rowsBox()->setValue(2);
    m_script->shown.clear();
    m_window->exportPdf();
    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("information"));
    QCOMPARE(pdfInfo(m_script->savePath, QStringLiteral("Pages")), QStringLiteral("3"));
}

void TestExportWindow::preflightAsksFirst_data()
{
    QTest::addColumn<bool>("proceed");
    QTest::newRow("cancel") << false;
    QTest::newRow("export anyway") << true;
}

// Four columns of 90 mm cards are 150 mm wider than A4: the outer columns
// would print cut off on every sheet.
void TestExportWindow::preflightAsksFirst()
{
    QFETCH(bool, proceed);

    ProjectSeed seed;
    seed.csv = ticketCsv(20);
    seed.rows = 4;
    seed.columns = 4;
    seed.paperMm = QSizeF(210, 297);
    seed.fields = {codeField(QStringLiteral("front"), QStringLiteral("Name"))};
    QVERIFY(startWindow(seed));
    const QString path = m_folders.files->filePath(QStringLiteral("cut.pdf"));
    m_script->savePath = path;
    m_script->proceed = proceed;

    m_window->exportPdf();

    QVERIFY(!m_script->shown.isEmpty());
    const ShownBox &box = m_script->shown.first();
    QCOMPARE(box.kind, QStringLiteral("confirm"));
    QCOMPARE(box.title, QStringLiteral("Check the Job Before Export"));
    QCOMPARE(box.proceedText, QStringLiteral("Export anyway"));
    // Cards 1 and 4 stand in the outer columns of the first sheet.
    QVERIFY2(box.text.contains(QStringLiteral("#0001")) && box.text.contains(QStringLiteral("#0004"))
                 && !box.text.contains(QStringLiteral("#0002")),
             qPrintable(box.text));
    if (!proceed) {
        QCOMPARE(m_script->shown.size(), 1);
        QCOMPARE(m_script->saveRequests.size(), 0);
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(status(), QStringLiteral("PDF export cancelled"));
        return;
    }
    QCOMPARE(m_script->shown.size(), 2);
    QCOMPARE(m_script->shown.at(1).kind, QStringLiteral("information"));
    QCOMPARE(pdfInfo(path, QStringLiteral("Pages")), QStringLiteral("2"));
}

// The window and the tool plan one job from one project: the stored
// background is printed by both, and the pages are the same.
void TestExportWindow::windowAndToolPrintTheSamePage()
{
    QVERIFY2(QFileInfo(cliPath()).isExecutable(), "build vellumor-vdp-cli before this test");
    const QColor artwork(32, 160, 96);
    const QString background = m_folders.files->filePath(QStringLiteral("front.png"));
    QImage picture(60, 36, QImage::Format_RGB32);
    picture.fill(artwork);
    QVERIFY(picture.save(background));

    ProjectSeed seed;
    seed.csv = ticketCsv(3);
    seed.fields = {codeField(QStringLiteral("front"), QStringLiteral("Name"))};
    seed.backgroundPath = background;
    QVERIFY(startWindow(seed));
    const qint64 id = m_window->currentProject().id;
    const QString fromWindow = m_folders.files->filePath(QStringLiteral("window.pdf"));
    m_script->savePath = fromWindow;

    m_window->exportPdf();

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("information"));
    m_window.reset();

    const QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString fromTool = m_folders.files->filePath(QStringLiteral("tool.pdf"));
    const CliRun tool = runCliOn(m_folders.data->path(),
                                 {QStringLiteral("export"), QStringLiteral("--project"), QString::number(id),
                                  QStringLiteral("--output"), fromTool},
                                 cliEnvironment(home));
    QVERIFY2(tool.exitCode == 0, qPrintable(tool.err));

    constexpr int dpi = 100;
    const QImage windowPage = renderedPage(fromWindow, 1, dpi, home.filePath(QStringLiteral("window")));
    const QImage toolPage = renderedPage(fromTool, 1, dpi, home.filePath(QStringLiteral("tool")));
    QVERIFY(!windowPage.isNull() && !toolPage.isNull());
    QCOMPARE(windowPage.size(), toolPage.size());
    QVERIFY(windowPage == toolPage);

    // 3 mm into the first card, clear of the code: the 2 × 2 grid of 90 × 54 mm
    // cards is centred on the 420 × 297 mm sheet.
    const QPointF probeMm((420 - 2 * 90) / 2.0 + 3, (297 - 2 * 54) / 2.0 + 3);
    const QColor printed = windowPage.pixelColor(qRound(probeMm.x() * dpi / 25.4), qRound(probeMm.y() * dpi / 25.4));
    QVERIFY2(qAbs(printed.red() - artwork.red()) <= 8 && qAbs(printed.green() - artwork.green()) <= 8
                 && qAbs(printed.blue() - artwork.blue()) <= 8,
             qPrintable(printed.name()));
}

void TestExportWindow::refusesWhatTheToolRefuses_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("title");
    // The box's text; "@FILE" stands for the background file, "@ID" for the
    // prize field's id. A text ending in "…" is a prefix: the reader's own
    // message follows.
    QTest::addColumn<QString>("text");

    QTest::newRow("front background missing")
        << "missing front" << "PDF export failed"
        << "the front background @FILE could not be loaded: Failed to read image: …";
    QTest::newRow("back background not an image, duplex")
        << "garbage back" << "PDF export failed"
        << "the back background @FILE could not be loaded: Failed to read image: …";
    QTest::newRow("damaged PDF background")
        << "pdf front" << "PDF export failed"
        << "the front background @FILE could not be loaded: "
           "PDFium could not open the PDF. It may be corrupted or password-protected";
    QTest::newRow("prize settings rejected")
        << "invalid prizes" << "No PDF written"
        << "Scratch card configuration of field \"Prize\" (back, id @ID): Invalid prize configuration format\n\n"
           "correct the prize settings first.";
}

// What the tool refuses the window refuses with the same words, before the
// save dialog, and nothing is written by either.
void TestExportWindow::refusesWhatTheToolRefuses()
{
    QFETCH(QString, setup);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QVERIFY2(QFileInfo(cliPath()).isExecutable(), "build vellumor-vdp-cli before this test");

    ProjectSeed seed;
    seed.csv = ticketCsv(3);
    seed.fields = {codeField(QStringLiteral("front"), QStringLiteral("Name"))};
    QString background;
    if (setup == u"invalid prizes") {
        seed.fields.append(rejectedPrizeField());
    } else if (setup == u"garbage back") {
        seed.duplex = true;
        background = m_folders.files->filePath(QStringLiteral("back.png"));
        QVERIFY(writeFile(background, "not a picture"));
        seed.backBackgroundPath = background;
    } else {
        background = m_folders.files->filePath(setup == u"pdf front" ? QStringLiteral("artwork.pdf")
                                                                     : QStringLiteral("artwork.png"));
        if (setup == u"pdf front")
            QVERIFY(writeFile(background, "%PDF-1.4\n%%EOF\n"));
        seed.backgroundPath = background;
    }
    QVERIFY(startWindow(seed));
    const qint64 id = m_window->currentProject().id;
    if (setup == u"invalid prizes") {
        QString error;
        for (const TemplateField &field : openStore()->loadRecords<TemplateField>(id, &error)) {
            if (field.type == ElementKind::Scratch)
                text.replace(QStringLiteral("@ID"), QString::number(field.id));
        }
    }
    text.replace(QStringLiteral("@FILE"), QDir::toNativeSeparators(background));
    const QString windowPath = m_folders.files->filePath(QStringLiteral("window.pdf"));
    m_script->savePath = windowPath;

    m_window->exportPdf();

    QCOMPARE(m_script->saveRequests.size(), 0);
    QCOMPARE(m_script->shown.size(), 1);
    const ShownBox &box = m_script->shown.first();
    QCOMPARE(box.kind, QStringLiteral("critical"));
    QCOMPARE(box.title, title);
    if (text.endsWith(u'…')) {
        text.chop(1);
        QVERIFY2(box.text.startsWith(text) && box.text.size() > text.size(), qPrintable(box.text));
    } else {
        QCOMPARE(box.text, text);
    }
    QVERIFY(!QFileInfo::exists(windowPath));
    m_window.reset();

    // The tool says the same: the causes, one a line, then "TITLE: MESSAGE".
    const QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString toolPath = m_folders.files->filePath(QStringLiteral("tool.pdf"));
    const CliRun tool = runCliOn(m_folders.data->path(),
                                 {QStringLiteral("export"), QStringLiteral("--project"), QString::number(id),
                                  QStringLiteral("--output"), toolPath},
                                 cliEnvironment(home));
    QCOMPARE(tool.exitCode, 1);
    QCOMPARE(tool.out, QString());
    const qsizetype detailsEnd = box.text.lastIndexOf(QStringLiteral("\n\n"));
    const QString expectedErr = detailsEnd < 0
                                    ? QStringLiteral("%1: %2\n").arg(box.title, box.text)
                                    : QStringLiteral("%1\n%2: %3\n")
                                          .arg(box.text.left(detailsEnd), box.title, box.text.mid(detailsEnd + 2));
    QCOMPARE(tool.err, expectedErr);
    QVERIFY(!QFileInfo::exists(toolPath));
}

QTEST_MAIN(TestExportWindow)
#include "tst_exportwindow.moc"
