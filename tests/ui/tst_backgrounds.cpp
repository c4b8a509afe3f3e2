// Card backgrounds in the real window: importing and clearing them for the
// side shown, what the canvases, the status line, the database and the
// imposition preview show afterwards, and that a failed step changes nothing.
#include "scripteddialogs.h"
#include "windowfixture.h"

#include "app/dataimport.h"
#include "render/backgroundimport.h"
#include "support/imagefixtures.h"
#include "support/pdffixtures.h"
#include "ui/canvas/canvaspage.h"
#include "ui/canvas/canvasview.h"
#include "ui/canvaseditor.h"
#include "ui/impositionpreviewwidget.h"
#include "ui/mainwindow.h"
#include "ui/previewpage.h"
#include "ui/projectpanel.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QImageReader>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace {

const QString kFilter = QStringLiteral(
    "BackgroundFile (*.pdf *.png *.jpg *.jpeg *.bmp *.tif *.tiff *.webp);;PDF File (*.pdf);;"
    "ImageFile (*.png *.jpg *.jpeg *.bmp *.tif *.tiff *.webp)");
const QString kImported = QStringLiteral("Background imported. Variable fields will appear above it.");

struct ProjectSeed
{
    QString name = QStringLiteral("Backgrounds");
    bool duplex = false;
    int records = 1; // rows of the data file
    QString backgroundPath;
    QString backBackgroundPath;
};

QImage filled(int width, int height, const QColor &color)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

// Red, green and blue each well above the other two.
bool looksLike(const QColor &seen, const QColor &expected)
{
    const auto near = [](int a, int b) { return std::abs(a - b) < 60; };
    return near(seen.red(), expected.red()) && near(seen.green(), expected.green())
        && near(seen.blue(), expected.blue());
}

QColor centreOf(const QImage &image)
{
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Background files are named after the millisecond of the import; two
// imports in one millisecond would ask for the same name.
void waitForNextMillisecond()
{
    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    while (QDateTime::currentMSecsSinceEpoch() == start)
        QThread::usleep(200);
}

} // namespace

class TestBackgrounds : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void importEntryPoints_data();
    void importEntryPoints();
    void importFrontAndBack();
    void secondImportKeepsTheFirstFile();
    void clearTheSideShown_data();
    void clearTheSideShown();
    void failedStepChangesNothing_data();
    void failedStepChangesNothing();
    void switchingProjectsLoadsBothSides();
    void previewDrawsTheCanvasPictures();
    void orientationTagIsApplied();
    void importsAPdf();

private:
    bool startWindow(const ProjectSeed &seed);
    bool restartWindow();
    qint64 seedProject(const ProjectSeed &seed);
    void importFile(const QString &path);
    void showSide(const QString &side);

    CanvasPage *canvasPage() const { return m_window->canvasEditor()->page(); }
    CanvasView *canvas(const QString &side) const { return canvasPage()->canvasForSide(cardSideFromKey(side)); }
    QString label() const { return canvasPage()->backgroundStatusLabel()->text(); }
    QString status() const { return m_window->statusBar()->currentMessage(); }
    QString currentPage() const { return m_window->pageTabs()->tabText(m_window->pageTabs()->currentIndex()); }
    QString resourceFolder() const
    {
        return projectResourceDirectory(m_folders.data->path(), m_window->currentProject().id);
    }
    QStringList resourceFiles() const { return QDir(resourceFolder()).entryList(QDir::Files, QDir::Name); }
    QString writePng(const QString &name, const QColor &color) const;
    Project storedProject(qint64 id) const { return storedProjectIn(m_folders.databasePath, id); }

    WindowFolders m_folders;
    std::shared_ptr<DialogScript> m_script;
    std::unique_ptr<MainWindow> m_window;
};

void TestBackgrounds::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestBackgrounds::init()
{
    QVERIFY(m_folders.create());
    m_script = std::make_shared<DialogScript>();
    // Questions and warnings nobody scripted are declined.
    m_script->unscriptedAnswer = QMessageBox::No;
}

void TestBackgrounds::cleanup()
{
    m_window.reset();
    m_folders.remove();
}

qint64 TestBackgrounds::seedProject(const ProjectSeed &seed)
{
    const auto store = openTestStore(m_folders.databasePath);
    QString error;
    std::optional<Project> project = store->createProject(seed.name, &error);
    if (!project)
        return 0;
    project->rows = 1;
    project->columns = 1;
    project->duplex = seed.duplex;
    project->backgroundPath = seed.backgroundPath;
    project->backBackgroundPath = seed.backBackgroundPath;
    if (seed.records > 0) {
        QByteArray csv = "Name\n";
        for (int n = 1; n <= seed.records; ++n)
            csv += "Person " + QByteArray::number(n) + "\n";
        const QString path = m_folders.files->filePath(seed.name + QStringLiteral(".csv"));
        if (!writeFile(path, csv) || !upsertDataSource(*store, project->id, path, DataSourceOptions{}, &error))
            return 0;
        project->dataSourcePath = path;
    }
    return store->updateProject(*project, &error) ? project->id : 0;
}

bool TestBackgrounds::startWindow(const ProjectSeed &seed)
{
    return seedProject(seed) > 0 && restartWindow() && m_window->currentProject().name == seed.name;
}

bool TestBackgrounds::restartWindow()
{
    m_window.reset();
    return startScriptedWindow(m_window, m_script, m_folders.starter->path());
}

QString TestBackgrounds::writePng(const QString &name, const QColor &color) const
{
    const QString path = m_folders.files->filePath(name);
    return filled(90, 54, color).save(path, "PNG") ? path : QString();
}

void TestBackgrounds::importFile(const QString &path)
{
    waitForNextMillisecond();
    m_script->openPaths = {path};
    m_window->importBackground();
}

void TestBackgrounds::showSide(const QString &side)
{
    canvasPage()->sideTabs()->setCurrentWidget(canvas(side));
}

void TestBackgrounds::importEntryPoints_data()
{
    QTest::addColumn<QString>("entry");
    QTest::newRow("toolbar action") << "toolbar";
    QTest::newRow("canvas page button") << "button";
    QTest::newRow("tool palette") << "palette";
}

void TestBackgrounds::importEntryPoints()
{
    QFETCH(QString, entry);
    QVERIFY(startWindow(ProjectSeed{}));
    const Project before = m_window->currentProject();

    if (entry == QLatin1String("toolbar")) {
        QAction *action = nullptr;
        for (QAction *candidate : m_window->mainToolBar()->actions()) {
            if (candidate->text() == QLatin1String("Import Background"))
                action = candidate;
        }
        QVERIFY(action);
        action->trigger();
    } else if (entry == QLatin1String("button")) {
        canvasPage()->importBackgroundButton()->click();
    } else {
        QToolButton *image = nullptr;
        for (QToolButton *tool : canvasPage()->toolButtons()) {
            if (tool->text() == QLatin1String("Image"))
                image = tool;
        }
        QVERIFY(image);
        image->click();
    }

    // The dialog was cancelled: nothing else happens.
    QCOMPARE(m_script->openRequests.size(), 1);
    QCOMPARE(m_script->openRequests.first().title, QStringLiteral("Import Background"));
    QCOMPARE(m_script->openRequests.first().filter, kFilter);
    QCOMPARE(m_script->shown.size(), 0);
    QCOMPARE(status(), QStringLiteral("Ready"));
    QCOMPARE(m_window->currentProject(), before);
    QVERIFY(!QFileInfo::exists(resourceFolder()));
}

void TestBackgrounds::importFrontAndBack()
{
    ProjectSeed seed;
    seed.duplex = true;
    QVERIFY(startWindow(seed));
    const qint64 id = m_window->currentProject().id;
    QCOMPARE(label(), QStringLiteral("Front background: not imported"));
    m_window->pageTabs()->setCurrentIndex(0);

    importFile(writePng(QStringLiteral("front.png"), Qt::red));

    QCOMPARE(m_script->shown.size(), 0);
    QCOMPARE(resourceFiles().size(), 1);
    const QString front = QDir(resourceFolder()).filePath(resourceFiles().first());
    QVERIFY2(QFileInfo(front).fileName().contains(QRegularExpression(QStringLiteral("^background-\\d{13}\\.png$"))),
             qPrintable(front));
    QCOMPARE(status(), kImported);
    QCOMPARE(currentPage(), QStringLiteral("Template Canvas"));
    QCOMPARE(label(), QStringLiteral("Front background: %1").arg(QFileInfo(front).fileName()));
    QVERIFY(looksLike(centreOf(canvas(QStringLiteral("front"))->backgroundImage()), Qt::red));
    QVERIFY(canvas(QStringLiteral("back"))->backgroundImage().isNull());
    QCOMPARE(m_window->currentProject().backgroundPath, front);
    QCOMPARE(storedProject(id).backgroundPath, front);
    QCOMPARE(storedProject(id).backBackgroundPath, QString());

    showSide(QStringLiteral("back"));
    QCOMPARE(label(), QStringLiteral("Back background: not imported"));
    importFile(writePng(QStringLiteral("back.png"), Qt::blue));

    QCOMPARE(m_script->shown.size(), 0);
    QCOMPARE(resourceFiles().size(), 2);
    const QString back = QDir(resourceFolder()).filePath(resourceFiles().last());
    QVERIFY(back != front);
    QCOMPARE(label(), QStringLiteral("Back background: %1").arg(QFileInfo(back).fileName()));
    QVERIFY(looksLike(centreOf(canvas(QStringLiteral("back"))->backgroundImage()), Qt::blue));
    QVERIFY(looksLike(centreOf(canvas(QStringLiteral("front"))->backgroundImage()), Qt::red));
    // The picture sits on the card, under everything else.
    QGraphicsPixmapItem *item = canvas(QStringLiteral("back"))->backgroundItem();
    QVERIFY(item);
    QVERIFY(looksLike(item->pixmap().toImage().pixelColor(10, 10), Qt::blue));

    showSide(QStringLiteral("front"));
    QCOMPARE(label(), QStringLiteral("Front background: %1").arg(QFileInfo(front).fileName()));

    // What a new start reads back from the database.
    const Project stored = storedProject(id);
    QCOMPARE(stored.backgroundPath, front);
    QCOMPARE(stored.backBackgroundPath, back);
    QVERIFY(restartWindow());
    QCOMPARE(m_window->currentProject().id, id);
    QVERIFY(looksLike(centreOf(canvas(QStringLiteral("front"))->backgroundImage()), Qt::red));
    QVERIFY(looksLike(centreOf(canvas(QStringLiteral("back"))->backgroundImage()), Qt::blue));
    QCOMPARE(label(), QStringLiteral("Front background: %1").arg(QFileInfo(front).fileName()));
}

void TestBackgrounds::secondImportKeepsTheFirstFile()
{
    QVERIFY(startWindow(ProjectSeed{}));
    importFile(writePng(QStringLiteral("first.png"), Qt::red));
    const QString first = m_window->currentProject().backgroundPath;
    importFile(writePng(QStringLiteral("second.PNG"), Qt::green));

    QCOMPARE(m_script->shown.size(), 0);
    const QString second = m_window->currentProject().backgroundPath;
    QVERIFY(second != first);
    QVERIFY(second.endsWith(QLatin1String(".png")));
    QCOMPARE(resourceFiles(), (QStringList{QFileInfo(first).fileName(), QFileInfo(second).fileName()}));
    QVERIFY(looksLike(centreOf(canvas(QStringLiteral("front"))->backgroundImage()), Qt::green));
    QCOMPARE(storedProject(m_window->currentProject().id).backgroundPath, second);
}

void TestBackgrounds::clearTheSideShown_data()
{
    QTest::addColumn<QString>("side");
    QTest::newRow("front") << "front";
    QTest::newRow("back") << "back";
}

void TestBackgrounds::clearTheSideShown()
{
    QFETCH(QString, side);
    const QString other = side == QLatin1String("front") ? QStringLiteral("back") : QStringLiteral("front");
    ProjectSeed seed;
    seed.duplex = true;
    seed.backgroundPath = writePng(QStringLiteral("front.png"), Qt::red);
    seed.backBackgroundPath = writePng(QStringLiteral("back.png"), Qt::blue);
    QVERIFY(startWindow(seed));
    const qint64 id = m_window->currentProject().id;
    const QImage otherImage = canvas(other)->backgroundImage();
    QVERIFY(!otherImage.isNull());
    showSide(side);

    canvasPage()->clearBackgroundButton()->click();

    QCOMPARE(m_script->shown.size(), 0);
    QCOMPARE(status(), QStringLiteral("Background cleared"));
    const QString shownSide = side == QLatin1String("front") ? QStringLiteral("Front") : QStringLiteral("Back");
    QCOMPARE(label(), QStringLiteral("%1 background: not imported").arg(shownSide));
    QVERIFY(canvas(side)->backgroundImage().isNull());
    QCOMPARE(canvas(side)->backgroundItem(), nullptr);
    QCOMPARE(canvas(other)->backgroundImage(), otherImage);
    const Project stored = storedProject(id);
    QCOMPARE(side == QLatin1String("front") ? stored.backgroundPath : stored.backBackgroundPath, QString());
    QCOMPARE(side == QLatin1String("front") ? stored.backBackgroundPath : stored.backgroundPath,
             side == QLatin1String("front") ? seed.backBackgroundPath : seed.backgroundPath);
    QCOMPARE(m_window->currentProject(), stored);
    // Only the reference goes; the file is left where it was.
    QVERIFY(QFileInfo::exists(side == QLatin1String("front") ? seed.backgroundPath : seed.backBackgroundPath));
}

void TestBackgrounds::failedStepChangesNothing_data()
{
    QTest::addColumn<QString>("step");   // "import" or "clear"
    QTest::addColumn<QString>("source"); // what the file dialog answers
    QTest::addColumn<bool>("freeze");    // the project record refuses updates
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text"); // "…" at the end: the start of the text

    QTest::newRow("import: not an image") << "import" << "garbage.png" << false << "Background Render Failed"
                                          << "Failed to read image: …";
    QTest::newRow("import: empty PDF") << "import" << "empty.pdf" << false << "Background Render Failed"
                                       << "The PDF is empty or too large";
    // "…" here: the text names the chosen file.
    QTest::newRow("import: cut-off JPEG") << "import" << "cut.jpg" << false << "Background Render Failed"
                                          << "is cut off before the end of its picture data…";
    // Rendered in the renderer process, which its memory limit stops; the
    // window itself never holds the gigabytes.
    QTest::newRow("import: PDF that unpacks to gigabytes") << "import" << "bomb.pdf" << false
                                                           << "Background Render Failed"
                                                           << "The PDF needs more than 1 GB to render";
    QTest::newRow("import: save refused") << "import" << "green.png" << true << "Background Save Failed"
                                          << "projects are frozen…";
    QTest::newRow("import: source vanished")
        << "import" << "missing.png" << false << "Background Import Failed"
        << "Could not copy the background file to the project resource directory: Could not read …";
    QTest::newRow("clear: save refused") << "clear" << QString() << true << "Clear Background Failed"
                                         << "projects are frozen…";
}

void TestBackgrounds::failedStepChangesNothing()
{
    QFETCH(QString, step);
    QFETCH(QString, source);
    QFETCH(bool, freeze);
    QFETCH(QString, title);
    QFETCH(QString, text);

    QVERIFY(startWindow(ProjectSeed{}));
    importFile(writePng(QStringLiteral("red.png"), Qt::red));
    QCOMPARE(m_script->shown.size(), 0);
    const qint64 id = m_window->currentProject().id;
    const Project before = m_window->currentProject();
    QCOMPARE(storedProject(id), before);
    const QImage imageBefore = canvas(QStringLiteral("front"))->backgroundImage();
    QVERIFY(!imageBefore.isNull());
    const QStringList filesBefore = resourceFiles();
    const QString labelBefore = label();
    const QString statusBefore = status();

    QString path = m_folders.files->filePath(source);
    if (source == QLatin1String("garbage.png"))
        QVERIFY(writeFile(path, "no pixels here"));
    else if (source == QLatin1String("empty.pdf"))
        QVERIFY(writeFile(path, QByteArray()));
    else if (source == QLatin1String("bomb.pdf"))
        QVERIFY(writeFile(path, flateBombPdf(qint64(3) << 29)));
    else if (source == QLatin1String("cut.jpg")) {
        QImage noise(64, 64, QImage::Format_RGB32);
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x)
                noise.setPixel(x, y, qRgb((x * 37 + y * 11) % 256, (x * y) % 256, (x * 5 + y * 91) % 256));
        }
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && noise.save(&buffer, "JPEG", 95));
        QVERIFY(writeFile(path, jpeg.left(jpeg.size() / 2)));
    } else if (source == QLatin1String("green.png"))
        path = writePng(source, Qt::green);
    if (freeze) {
        QVERIFY(openTestStore(m_folders.databasePath)
                    ->execStatement(QStringLiteral("CREATE TRIGGER keep_projects BEFORE UPDATE ON projects "
                                                   "BEGIN SELECT RAISE(ABORT, 'projects are frozen'); END")));
    }

    if (step == QLatin1String("import"))
        importFile(path);
    else
        m_window->clearBackground();

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("critical"));
    QCOMPARE(m_script->shown.first().title, title);
    const QString shownText = m_script->shown.first().text;
    if (text.endsWith(u'…')) {
        text.chop(1);
        QVERIFY2(shownText.contains(text), qPrintable(shownText));
    } else {
        QCOMPARE(shownText, text);
    }
    QCOMPARE(m_window->currentProject(), before);
    QCOMPARE(storedProject(id), before);
    QCOMPARE(canvas(QStringLiteral("front"))->backgroundImage(), imageBefore);
    QVERIFY(canvas(QStringLiteral("front"))->backgroundItem());
    QCOMPARE(resourceFiles(), filesBefore);
    QCOMPARE(label(), labelBefore);
    QCOMPARE(status(), statusBefore);
}

void TestBackgrounds::switchingProjectsLoadsBothSides()
{
    ProjectSeed plain;
    plain.name = QStringLiteral("Plain");
    plain.duplex = true;
    plain.backgroundPath = m_folders.files->filePath(QStringLiteral("not-a-picture.png"));
    plain.backBackgroundPath = writePng(QStringLiteral("blue.png"), Qt::blue);
    QVERIFY(writeFile(plain.backgroundPath, "no pixels here"));
    const qint64 plainId = seedProject(plain);
    QVERIFY(plainId > 0);
    // Seeded last, so the window opens it.
    ProjectSeed red;
    red.name = QStringLiteral("Red");
    red.backgroundPath = writePng(QStringLiteral("red.png"), Qt::red);
    QVERIFY(startWindow(red));
    QVERIFY(looksLike(centreOf(canvas(QStringLiteral("front"))->backgroundImage()), Qt::red));
    QVERIFY(canvas(QStringLiteral("back"))->backgroundImage().isNull());
    QCOMPARE(label(), QStringLiteral("Front background: red.png"));

    ProjectPanel *panel = m_window->projectPanel();
    int plainIndex = -1;
    for (int i = 0; i < panel->projectSelector()->count(); ++i) {
        if (panel->projectIdAt(i) == plainId)
            plainIndex = i;
    }
    QVERIFY(plainIndex >= 0);
    m_window->openSelectedProject(plainIndex);

    QCOMPARE(m_window->currentProject().id, plainId);
    // The unreadable front is named in the status bar, not in a box, and
    // the previous project's picture is gone.
    QCOMPARE(m_script->shown.size(), 0);
    QVERIFY(canvas(QStringLiteral("front"))->backgroundImage().isNull());
    QCOMPARE(canvas(QStringLiteral("front"))->backgroundItem(), nullptr);
    QVERIFY(looksLike(centreOf(canvas(QStringLiteral("back"))->backgroundImage()), Qt::blue));
    QTRY_VERIFY2(status().contains(QStringLiteral("front background %1 could not be loaded: Failed to read image")
                                       .arg(QDir::toNativeSeparators(plain.backgroundPath))),
                 qPrintable(status()));
    QVERIFY(!status().contains(QStringLiteral("back background")));
    QCOMPARE(label(), QStringLiteral("Front background: not-a-picture.png"));
    showSide(QStringLiteral("back"));
    QCOMPARE(label(), QStringLiteral("Back background: blue.png"));

    // Back again: the back side of a single-sided project has no picture.
    m_window->openSelectedProject(panel->projectSelector()->findText(QStringLiteral("Red")));
    QCOMPARE(m_window->currentProject().name, QStringLiteral("Red"));
    QVERIFY(looksLike(centreOf(canvas(QStringLiteral("front"))->backgroundImage()), Qt::red));
    QVERIFY(canvas(QStringLiteral("back"))->backgroundImage().isNull());
    QCOMPARE(label(), QStringLiteral("Front background: red.png"));
    QCOMPARE(m_script->shown.size(), 0);

    // Turning duplex on shows the back the project already had: none here,
    // and the line follows the side.
    m_window->setDuplexMode(true);
    showSide(QStringLiteral("back"));
    QCOMPARE(label(), QStringLiteral("Back background: not imported"));
}

void TestBackgrounds::previewDrawsTheCanvasPictures()
{
    // One card per sheet side, so the middle of the sheet is the middle of the card.
    ProjectSeed seed;
    seed.duplex = true;
    seed.backgroundPath = writePng(QStringLiteral("front.png"), Qt::red);
    seed.backBackgroundPath = writePng(QStringLiteral("back.png"), Qt::blue);
    QVERIFY(startWindow(seed));
    m_window->show();
    m_window->pageTabs()->setCurrentWidget(m_window->previewPage());
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    ImpositionPreviewWidget *preview = m_window->previewPage()->preview();
    const auto sheetCentre = [preview] {
        const QImage shot = preview->grab().toImage();
        const QPointF centre = preview->sheetRect().center();
        return shot.pixelColor(int(centre.x()), int(centre.y()));
    };
    m_window->previewPage()->allButton()->click(); // both sides of each sheet, front first
    QCOMPARE(preview->composer().sheetData().side, QStringLiteral("front"));
    QVERIFY2(looksLike(sheetCentre(), Qt::red), qPrintable(sheetCentre().name()));

    // The files go; turning pages must not need them.
    QVERIFY(QFile::remove(seed.backgroundPath));
    QVERIFY(QFile::remove(seed.backBackgroundPath));
    m_window->previewPage()->nextButton()->click();
    QCOMPARE(preview->composer().sheetData().side, QStringLiteral("back"));
    QVERIFY2(looksLike(sheetCentre(), Qt::blue), qPrintable(sheetCentre().name()));
    m_window->previewPage()->previousButton()->click();
    QCOMPARE(preview->composer().sheetData().side, QStringLiteral("front"));
    QVERIFY2(looksLike(sheetCentre(), Qt::red), qPrintable(sheetCentre().name()));

    // A background imported on the canvas shows on the next visit.
    m_window->pageTabs()->setCurrentIndex(2);
    importFile(writePng(QStringLiteral("green.png"), Qt::green));
    m_window->pageTabs()->setCurrentWidget(m_window->previewPage());
    QVERIFY2(looksLike(sheetCentre(), Qt::green), qPrintable(sheetCentre().name()));
}

void TestBackgrounds::orientationTagIsApplied()
{
    QVERIFY(startWindow(ProjectSeed{}));
    // Stored 40 × 20: red left half, blue right half. Turned clockwise the
    // left edge becomes the top.
    QImage stored(40, 20, QImage::Format_RGB32);
    stored.fill(Qt::blue);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 20; ++x)
            stored.setPixelColor(x, y, Qt::red);
    }
    const QString path = m_folders.files->filePath(QStringLiteral("photo.jpg"));
    QVERIFY(writeFile(path, jpegWithOrientation(stored, kExifTurnedClockwise)));
    QImageReader raw(path);
    raw.setAutoTransform(false);
    QCOMPARE(raw.read().size(), QSize(40, 20));

    importFile(path);

    QCOMPARE(m_script->shown.size(), 0);
    const QImage shown = canvas(QStringLiteral("front"))->backgroundImage();
    QCOMPARE(shown.size(), QSize(20, 40));
    QVERIFY2(looksLike(shown.pixelColor(10, 5), Qt::red), qPrintable(shown.pixelColor(10, 5).name()));
    QVERIFY2(looksLike(shown.pixelColor(10, 34), Qt::blue), qPrintable(shown.pixelColor(10, 34).name()));
}

void TestBackgrounds::importsAPdf()
{
    // Rasterised by the PDFium library the build puts beside the executables.
    QVERIFY2(QFile::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/libpdfium.so")),
             "no libpdfium.so beside the tests: run scripts/fetch-pdfium.sh and configure again");
    QVERIFY(startWindow(ProjectSeed{}));
    // A card-shaped page, 252 × 153 pt, with its left half red.
    const QString path = m_folders.files->filePath(QStringLiteral("Artwork.PDF"));
    QVERIFY(writeTestPdf(path, QSizeF(252, 153), 2, QRectF(0, 0, 126, 153), Qt::red));

    importFile(path);

    QVERIFY2(m_script->shown.isEmpty(), qPrintable(m_script->shown.value(0).text));
    QCOMPARE(status(), kImported);
    const QString copy = m_window->currentProject().backgroundPath;
    QVERIFY2(copy.endsWith(QLatin1String(".pdf")), qPrintable(copy));
    QCOMPARE(label(), QStringLiteral("Front background: %1").arg(QFileInfo(copy).fileName()));
    const QImage shown = canvas(QStringLiteral("front"))->backgroundImage();
    QCOMPARE(shown.size(), QSize(2400, 1457));
    QVERIFY2(looksLike(shown.pixelColor(300, 700), Qt::red), qPrintable(shown.pixelColor(300, 700).name()));
    QVERIFY2(looksLike(shown.pixelColor(2100, 700), Qt::white), qPrintable(shown.pixelColor(2100, 700).name()));
}

QTEST_MAIN(TestBackgrounds)
#include "tst_backgrounds.moc"
