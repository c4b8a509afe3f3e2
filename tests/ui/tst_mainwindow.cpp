#include "scripteddialogs.h"
#include "windowfixture.h"

#include "app/workspace.h"
#include "store/projectstore.h"
#include "ui/mainwindow.h"
#include "ui/previewpage.h"
#include "ui/projectpanel.h"
#include "ui/stylesheet.h"
#include "ui/unitspinbox.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include <memory>

namespace {

const QString kSettingsOrganization = QStringLiteral("Vellumor");
const QString kSettingsApplication = QStringLiteral("Vellumor VDP");

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowSizeRule_data();
    void windowSizeRule();

    void firstStartWithoutStarter();
    void seedsFromStarterDirectory();
    void initializeFailure_data();
    void initializeFailure();
    void lockedDatabase();
    void showsWithStyleSheet();
    void appIcon();

    void toolBar();
    void toolBarActionsReachTheirSlots_data();
    void toolBarActionsReachTheirSlots();

    void saveSettings_data();
    void saveSettings();
    void saveFailureKeepsProject();

    void openSelectedProject();
    void openIgnoresCurrentAndInvalid();
    void openProjectDeletedElsewhere();
    void openFailsWhenCurrentCannotBeSaved();
    void openFailsWhenListCannotBeRead();

    void createNewProject();
    void createNewProjectDeclined();
    void unsavedSettingsAreAskedAbout_data();
    void unsavedSettingsAreAskedAbout();
    void clampedValuesAreNotEdits();

    void deleteAsksWithName_data();
    void deleteAsksWithName();
    void deleteSwitchesToNextProject();
    void deleteOnlyProjectLeavesUntitled();
    void deleteFailureRemovesBlankAgain();

    void duplexMode();
    void duplexSaveFailure();
    void secondWindowOnSameDataDirectory();

    void unitsSwitchReRendersEveryBox();
    void unitsFromSettings();

private:
    bool startWindow();
    std::unique_ptr<ProjectStore> openStore() const;
    Project storedProject(qint64 id) const;
    int selectorIndexOf(const QString &name) const;
    QString status() const { return m_window->statusBar()->currentMessage(); }

    std::unique_ptr<QTemporaryDir> m_dataDir;
    std::unique_ptr<QTemporaryDir> m_starterDir;
    WorkspacePaths m_paths;
    std::shared_ptr<DialogScript> m_script;
    std::unique_ptr<MainWindow> m_window;
};

void TestMainWindow::initTestCase()
{
    // Keep the units setting out of the user's own configuration.
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCoreApplication::setApplicationVersion(QStringLiteral("0.1.8"));
}

void TestMainWindow::init()
{
    // Qt reports a style sheet it cannot parse only as a warning.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("stylesheet"),
                                            QRegularExpression::CaseInsensitiveOption));
    QSettings(kSettingsOrganization, kSettingsApplication).remove(QStringLiteral("display"));
    m_dataDir = std::make_unique<QTemporaryDir>();
    m_starterDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dataDir->isValid() && m_starterDir->isValid());
    qputenv("TESSOLO_DATA_DIR", m_dataDir->path().toLocal8Bit());
    m_paths = workspacePaths(m_dataDir->path(), m_starterDir->path());
    m_script = std::make_shared<DialogScript>();
}

void TestMainWindow::cleanup()
{
    m_window.reset();
    m_dataDir.reset();
    m_starterDir.reset();
}

bool TestMainWindow::startWindow()
{
    return startScriptedWindow(m_window, m_script, m_starterDir->path());
}

// A second connection to the window's database, as another process would see it.
std::unique_ptr<ProjectStore> TestMainWindow::openStore() const
{
    return openTestStore(m_paths.databasePath);
}

Project TestMainWindow::storedProject(qint64 id) const
{
    return storedProjectIn(m_paths.databasePath, id);
}

int TestMainWindow::selectorIndexOf(const QString &name) const
{
    return m_window->projectPanel()->projectSelector()->findText(name);
}

void TestMainWindow::windowSizeRule_data()
{
    QTest::addColumn<QSize>("available");
    QTest::addColumn<QSize>("expected");

    QTest::newRow("laptop 1366 × 728") << QSize(1366, 728) << QSize(1286, 648);
    QTest::newRow("4K 3840 × 2100") << QSize(3840, 2100) << QSize(1400, 900);
    QTest::newRow("netbook 1024 × 600") << QSize(1024, 600) << QSize(944, 640);
    QTest::newRow("tiny 640 × 480") << QSize(640, 480) << QSize(900, 640);
    QTest::newRow("exactly the caps") << QSize(1480, 980) << QSize(1400, 900);
}

void TestMainWindow::windowSizeRule()
{
    QFETCH(QSize, available);
    QFETCH(QSize, expected);
    QCOMPARE(mainWindowSize(available), expected);
}

void TestMainWindow::firstStartWithoutStarter()
{
    QVERIFY(startWindow());
    QVERIFY(m_script->shown.isEmpty());
    QVERIFY(QFile::exists(m_paths.databasePath));

    QCOMPARE(m_window->windowTitle(),
             QStringLiteral("Vellumor VDP · Variable Data Printing v0.1.8"));
    QCOMPARE(m_window->size(),
             mainWindowSize(QGuiApplication::primaryScreen()->availableGeometry().size()));
    QCOMPARE(status(), QStringLiteral("Ready"));

    const auto store = openStore();
    const QList<Project> projects = store->listProjects();
    QCOMPARE(projects.size(), 1);
    QCOMPARE(projects.first().name, QStringLiteral("Untitled VDP Project"));
    QCOMPARE(m_window->currentProject().id, projects.first().id);

    ProjectPanel *panel = m_window->projectPanel();
    QCOMPARE(panel->projectName(), QStringLiteral("Untitled VDP Project"));
    QVERIFY(panel->deleteProjectButton()->isEnabled());
    QCOMPARE(panel->cardWidthBox()->value(), projects.first().cardWidthMm);
    QCOMPARE(panel->sheetHeightBox()->value(), projects.first().paperHeightMm);
    QCOMPARE(panel->rowsBox()->value(), projects.first().rows);

    auto *splitter = qobject_cast<QSplitter *>(m_window->centralWidget());
    QVERIFY(splitter);
    QCOMPARE(splitter->count(), 2);
    QCOMPARE(splitter->widget(0), panel);
    QCOMPARE(splitter->widget(1), m_window->pageTabs());
    QVERIFY(!splitter->childrenCollapsible());

    QTabWidget *tabs = m_window->pageTabs();
    QCOMPARE(tabs->count(), 3);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Data"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Imposition Preview"));
    QCOMPARE(tabs->tabText(2), QStringLiteral("Template Canvas"));
}

void TestMainWindow::seedsFromStarterDirectory()
{
    {
        ProjectStore starter;
        QVERIFY(starter.openDatabase(m_paths.starterDatabasePath));
        QVERIFY(starter.initializeSchema());
        QVERIFY(starter.createProject(QStringLiteral("Older")));
        QVERIFY(starter.createProject(QStringLiteral("Raffle Tickets")));
    }
    QVERIFY(startWindow());
    QCOMPARE(m_window->currentProject().name, QStringLiteral("Raffle Tickets"));
    QCOMPARE(m_window->projectPanel()->projectSelector()->count(), 2);
}

void TestMainWindow::initializeFailure_data()
{
    QTest::addColumn<bool>("starterIsFolder");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");

    // A folder where a file is expected makes the copy, or the open, fail.
    // "@STARTER" and "@DB": the starter and the user's database.
    QTest::newRow("starter cannot be copied")
        << true << "Starter Template Initialization Failed"
        << "Could not copy the built-in starter template database to @DB: could not read @STARTER: …";
    QTest::newRow("database cannot be opened")
        << false << "Database Initialization Failed" << QString();
}

void TestMainWindow::initializeFailure()
{
    QFETCH(bool, starterIsFolder);
    QFETCH(QString, title);
    QFETCH(QString, text);

    QVERIFY(QDir().mkpath(starterIsFolder ? m_paths.starterDatabasePath : m_paths.databasePath));
    QVERIFY(!startWindow());

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("critical"));
    QCOMPARE(m_script->shown.first().title, title);
    text.replace(QStringLiteral("@DB"), QDir::toNativeSeparators(m_paths.databasePath));
    text.replace(QStringLiteral("@STARTER"), QDir::toNativeSeparators(m_paths.starterDatabasePath));
    const QString shown = m_script->shown.first().text;
    if (text.isEmpty())
        QVERIFY(!shown.isEmpty()); // the store's own message
    else if (text.endsWith(u'…'))
        QVERIFY2(shown.startsWith(text.chopped(1)) && shown.size() > text.size(), qPrintable(shown)); // and the reason
    else
        QCOMPARE(shown, text);
    // Nothing of the interface was built.
    QVERIFY(!m_window->centralWidget());
    QVERIFY(!m_window->projectPanel());
}

// Another program holds the database: after the busy timeout the user is
// told so, not "database is locked Unable to fetch row".
void TestMainWindow::lockedDatabase()
{
    const auto holder = openStore();
    QVERIFY(holder->createProject(QStringLiteral("Held")));
    QVERIFY(holder->execStatement(QStringLiteral("BEGIN EXCLUSIVE")));

    QVERIFY(!startWindow());
    holder->execStatement(QStringLiteral("ROLLBACK"));

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("critical"));
    QCOMPARE(m_script->shown.first().text,
             QStringLiteral("The project database is in use by another program; try again"));
}

void TestMainWindow::showsWithStyleSheet()
{
    QVERIFY(startWindow());
    QCOMPARE(qApp->styleSheet(), applicationStyleSheet());
    // Showing polishes every widget: a sheet Qt cannot parse warns here.
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    // The names the sheet styles are the names the panel's widgets carry.
    const QStringList panelNames{"projectPanel",       "projectPanelTitle", "projectSectionTitle",
                                 "projectSeparator",   "sideButton",        "primaryButton",
                                 "deleteProjectButton"};
    for (const QString &name : panelNames) {
        QVERIFY2(m_window->findChild<QWidget *>(name), qPrintable(name));
        QVERIFY2(applicationStyleSheet().contains(u'#' + name), qPrintable(name));
    }
    QCOMPARE(m_window->projectPanel()->minimumWidth(), 230);
    QCOMPARE(m_window->projectPanel()->deleteProjectButton()->size(), QSize(22, 22));
}

void TestMainWindow::appIcon()
{
    const QImage icon(QStringLiteral(":/icons/app-icon.png"));
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.size(), QSize(256, 256));
    QVERIFY(icon.hasAlphaChannel());
    // Transparent corners around an opaque drawing.
    QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(icon.pixel(128, 128)), 255);
}

void TestMainWindow::toolBar()
{
    QVERIFY(startWindow());
    QToolBar *bar = m_window->mainToolBar();
    QCOMPARE(bar->windowTitle(), QStringLiteral("Main Toolbar"));
    QVERIFY(!bar->isMovable());
    QVERIFY(!bar->isFloatable());
    QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonTextOnly);

    QStringList texts;
    for (QAction *action : bar->actions())
        texts << (action->isSeparator() ? QStringLiteral("|") : action->text());
    QCOMPARE(texts, (QStringList{"New Project", "Import Data", "Save Project", "Export PDF", "|",
                                 "Add Text Field", "Delete Field", "|", "Import Background",
                                 "Add Barcode", "Add QR Code", "Scratch Card"}));

    QAction *newProject = bar->actions().at(0);
    QCOMPARE(newProject->shortcut(), QKeySequence(QKeySequence::New));
    QCOMPARE(newProject->shortcutContext(), Qt::WindowShortcut);
    QCOMPARE(newProject->toolTip(), QStringLiteral("New Project (Ctrl+N)"));
    QAction *save = bar->actions().at(2);
    QCOMPARE(save->shortcut(), QKeySequence(QKeySequence::Save));
    QCOMPARE(save->shortcutContext(), Qt::WindowShortcut);
    QCOMPARE(save->toolTip(), QStringLiteral("Save Project (Ctrl+S)"));
}

void TestMainWindow::toolBarActionsReachTheirSlots_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("boxTitle");

    QTest::newRow("New Project") << "New Project" << "Ready" << "New Project";
    QTest::newRow("Save Project") << "Save Project" << "Project settings saved" << QString();
    // The file dialog is cancelled: nothing happens.
    QTest::newRow("Import Data") << "Import Data" << "Ready" << QString();
    // A blank project has no records to print.
    QTest::newRow("Export PDF") << "Export PDF" << "Ready" << "Unable to Export PDF";
    // The canvas's own tests follow what the adds create; here they must
    // not ask anything or fail. With nothing selected, "Delete Field" does nothing.
    for (const char *canvas : {"Add Text Field", "Delete Field", "Add Barcode", "Add QR Code", "Scratch Card"})
        QTest::newRow(canvas) << canvas << "Ready" << QString();
    // The file dialog is cancelled: nothing happens.
    QTest::newRow("Import Background") << "Import Background" << "Ready" << QString();
}

void TestMainWindow::toolBarActionsReachTheirSlots()
{
    QFETCH(QString, action);
    QFETCH(QString, status);
    QFETCH(QString, boxTitle);

    QVERIFY(startWindow());
    QAction *found = nullptr;
    for (QAction *candidate : m_window->mainToolBar()->actions()) {
        if (candidate->text() == action)
            found = candidate;
    }
    QVERIFY(found);
    m_script->answers = {QMessageBox::No};
    found->trigger();

    QCOMPARE(this->status(), status);
    QCOMPARE(m_script->shown.size(), boxTitle.isEmpty() ? 0 : 1);
    if (!boxTitle.isEmpty())
        QCOMPARE(m_script->shown.first().title, boxTitle);
}

void TestMainWindow::saveSettings_data()
{
    QTest::addColumn<QString>("typedName");
    QTest::addColumn<QString>("storedName");

    QTest::newRow("plain") << "Tickets" << "Tickets";
    QTest::newRow("padded") << "  Tickets  " << "Tickets";
    QTest::newRow("empty") << "" << "Untitled VDP Project";
    QTest::newRow("blank") << "   " << "Untitled VDP Project";
}

void TestMainWindow::saveSettings()
{
    QFETCH(QString, typedName);
    QFETCH(QString, storedName);

    QVERIFY(startWindow());
    const qint64 id = m_window->currentProject().id;
    const Project before = storedProject(id);
    ProjectPanel *panel = m_window->projectPanel();

    panel->projectSelector()->setEditText(typedName);
    panel->cardWidthBox()->setValue(100);
    panel->cardHeightBox()->setValue(60);
    panel->sheetWidthBox()->setValue(300);
    panel->sheetHeightBox()->setValue(200);
    panel->rowsBox()->setValue(3);
    panel->columnsBox()->setValue(5);
    panel->bleedBox()->setValue(3);
    panel->bleedGuideCheck()->setChecked(!before.showBleed);

    // Edits alone never reach the database.
    QCOMPARE(storedProject(id), before);

    panel->saveButton()->click();
    QVERIFY(m_script->shown.isEmpty());
    QCOMPARE(status(), QStringLiteral("Project settings saved"));

    const Project after = storedProject(id);
    QCOMPARE(after.name, storedName);
    QCOMPARE(after.cardWidthMm, 100.0);
    QCOMPARE(after.cardHeightMm, 60.0);
    QCOMPARE(after.paperWidthMm, 300.0);
    QCOMPARE(after.paperHeightMm, 200.0);
    QCOMPARE(after.rows, 3);
    QCOMPARE(after.columns, 5);
    QCOMPARE(after.bleedMm, 3.0);
    QCOMPARE(after.showBleed, !before.showBleed);
    QCOMPARE(m_window->currentProject(), after);
    QCOMPARE(panel->projectName(), storedName);
    QCOMPARE(panel->projectSelector()->itemText(0), storedName);
}

void TestMainWindow::saveFailureKeepsProject()
{
    QVERIFY(startWindow());
    const Project before = m_window->currentProject();
    QVERIFY(openStore()->execStatement(QStringLiteral(
        "CREATE TRIGGER keep_projects BEFORE UPDATE ON projects "
        "BEGIN SELECT RAISE(ABORT, 'projects are frozen'); END")));

    m_window->projectPanel()->projectSelector()->setEditText(QStringLiteral("Renamed"));
    m_window->projectPanel()->cardWidthBox()->setValue(77);
    m_window->saveSettings();

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("critical"));
    QCOMPARE(m_script->shown.first().title, QStringLiteral("Could Not Save Project"));
    QVERIFY2(m_script->shown.first().text.contains(QStringLiteral("projects are frozen")),
             qPrintable(m_script->shown.first().text));
    QCOMPARE(m_window->currentProject(), before);
    QCOMPARE(storedProject(before.id), before);
    QCOMPARE(status(), QStringLiteral("Ready"));
}

void TestMainWindow::openSelectedProject()
{
    qint64 alphaId = 0;
    {
        const auto store = openStore();
        Project alpha = *store->createProject(QStringLiteral("Alpha"));
        alpha.cardWidthMm = 80;
        alpha.cardHeightMm = 50;
        alpha.bleedMm = 4;
        alpha.duplex = true;
        QVERIFY(store->updateProject(alpha));
        alphaId = alpha.id;
        QVERIFY(store->createProject(QStringLiteral("Beta")));
    }
    QVERIFY(startWindow());
    const Project beta = m_window->currentProject();
    QCOMPARE(beta.name, QStringLiteral("Beta"));

    ProjectPanel *panel = m_window->projectPanel();
    panel->cardWidthBox()->setValue(111);
    panel->rowsBox()->setValue(7);
    panel->projectSelector()->setEditText(QStringLiteral("Typed"));

    // As the user picks from the list: the selector's text becomes the
    // chosen project's name before the window hears of it.
    const int alphaIndex = selectorIndexOf(QStringLiteral("Alpha"));
    QVERIFY(alphaIndex >= 0);
    m_script->answers = {QMessageBox::Save};
    panel->projectSelector()->setCurrentIndex(alphaIndex);
    emit panel->projectSelector()->activated(alphaIndex);

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().text, QStringLiteral("Save changes to the project settings?"));
    QCOMPARE(m_script->shown.first().defaultButton, QMessageBox::Save);
    QCOMPARE(status(), QStringLiteral("Opened project: Alpha"));
    QCOMPARE(m_window->currentProject().id, alphaId);

    const Project savedBeta = storedProject(beta.id);
    QCOMPARE(savedBeta.cardWidthMm, 111.0);
    QCOMPARE(savedBeta.rows, 7);
    QCOMPARE(savedBeta.name, QStringLiteral("Typed"));

    QCOMPARE(panel->projectName(), QStringLiteral("Alpha"));
    QCOMPARE(panel->cardWidthBox()->value(), 80.0);
    QCOMPARE(panel->cardHeightBox()->value(), 50.0);
    QCOMPARE(panel->bleedBox()->maximum(), 24.99);
    QCOMPARE(panel->bleedBox()->value(), 4.0);
    QCOMPARE(panel->rowsBox()->value(), 4);
    QVERIFY(panel->duplexButton()->isChecked());
}

void TestMainWindow::openIgnoresCurrentAndInvalid()
{
    {
        const auto store = openStore();
        QVERIFY(store->createProject(QStringLiteral("Alpha")));
        QVERIFY(store->createProject(QStringLiteral("Beta")));
    }
    QVERIFY(startWindow());
    const Project beta = m_window->currentProject();
    m_window->projectPanel()->cardWidthBox()->setValue(123);

    for (int index : {-1, selectorIndexOf(QStringLiteral("Beta")), 99})
        m_window->openSelectedProject(index);

    QCOMPARE(m_window->currentProject(), beta);
    QCOMPARE(storedProject(beta.id), beta);
    QCOMPARE(status(), QStringLiteral("Ready"));
    QVERIFY(m_script->shown.isEmpty());
}

void TestMainWindow::openProjectDeletedElsewhere()
{
    qint64 alphaId = 0;
    {
        const auto store = openStore();
        alphaId = store->createProject(QStringLiteral("Alpha"))->id;
        QVERIFY(store->createProject(QStringLiteral("Beta")));
    }
    QVERIFY(startWindow());
    const Project beta = m_window->currentProject();
    const int alphaIndex = selectorIndexOf(QStringLiteral("Alpha"));
    QVERIFY(alphaIndex >= 0);

    QVERIFY(openStore()->deleteProject(alphaId));
    m_window->openSelectedProject(alphaIndex);

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().title, QStringLiteral("Could Not Open Project"));
    QCOMPARE(m_script->shown.first().text,
             QStringLiteral("The selected project no longer exists."));
    QCOMPARE(m_window->currentProject(), beta);
    QCOMPARE(selectorIndexOf(QStringLiteral("Alpha")), -1);
    QCOMPARE(m_window->projectPanel()->projectName(), QStringLiteral("Beta"));
}

void TestMainWindow::openFailsWhenCurrentCannotBeSaved()
{
    {
        const auto store = openStore();
        QVERIFY(store->createProject(QStringLiteral("Alpha")));
        QVERIFY(store->createProject(QStringLiteral("Beta")));
        QVERIFY(store->execStatement(QStringLiteral(
            "CREATE TRIGGER keep_projects BEFORE UPDATE ON projects "
            "BEGIN SELECT RAISE(ABORT, 'projects are frozen'); END")));
    }
    QVERIFY(startWindow());
    const Project beta = m_window->currentProject();
    ProjectPanel *panel = m_window->projectPanel();
    panel->cardWidthBox()->setValue(66);

    const int alphaIndex = selectorIndexOf(QStringLiteral("Alpha"));
    panel->projectSelector()->setCurrentIndex(alphaIndex);
    m_script->answers = {QMessageBox::Save};
    m_window->openSelectedProject(alphaIndex);

    QCOMPARE(m_script->shown.size(), 2);
    QCOMPARE(m_script->shown.at(0).kind, QStringLiteral("question"));
    QCOMPARE(m_script->shown.at(1).kind, QStringLiteral("critical"));
    QCOMPARE(m_script->shown.at(1).title, QStringLiteral("Could Not Save Project"));
    const QString text = m_script->shown.at(1).text;
    QVERIFY2(text.contains(QStringLiteral("projects are frozen")), qPrintable(text));
    QCOMPARE(m_window->currentProject(), beta);
    // The selector goes back to the project still shown.
    QCOMPARE(panel->projectName(), QStringLiteral("Beta"));
    QCOMPARE(panel->cardWidthBox()->value(), 66.0);
}

void TestMainWindow::openFailsWhenListCannotBeRead()
{
    {
        const auto store = openStore();
        QVERIFY(store->createProject(QStringLiteral("Alpha")));
        QVERIFY(store->createProject(QStringLiteral("Beta")));
    }
    QVERIFY(startWindow());
    const Project beta = m_window->currentProject();
    const int alphaIndex = selectorIndexOf(QStringLiteral("Alpha"));
    QVERIFY(openStore()->execStatement(QStringLiteral("ALTER TABLE projects RENAME TO hidden")));

    m_window->openSelectedProject(alphaIndex);

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().title, QStringLiteral("Could Not Open Project"));
    QVERIFY(!m_script->shown.first().text.isEmpty());
    QCOMPARE(m_window->currentProject(), beta);
    // The list refresh fails as well: reported in the status bar, list kept.
    QVERIFY2(status().startsWith(QStringLiteral("Could not load the project list: ")),
             qPrintable(status()));
    QCOMPARE(m_window->projectPanel()->projectSelector()->count(), 2);
}

void TestMainWindow::createNewProject()
{
    QVERIFY(startWindow());
    const Project first = m_window->currentProject();
    ProjectPanel *panel = m_window->projectPanel();
    m_window->pageTabs()->setCurrentIndex(0);

    m_script->answers = {QMessageBox::Yes};
    m_window->createNewProject();

    QCOMPARE(m_script->shown.size(), 1);
    const ShownBox box = m_script->shown.first();
    QCOMPARE(box.kind, QStringLiteral("question"));
    QCOMPARE(box.title, QStringLiteral("New Project"));
    QCOMPARE(box.text,
             QStringLiteral("Create a blank project? The current project will be saved automatically."));
    QCOMPARE(box.defaultButton, QMessageBox::Yes);
    QCOMPARE(storedProject(first.id).columns, first.columns);

    const Project created = m_window->currentProject();
    QVERIFY(created.id > first.id);
    QCOMPARE(storedProject(created.id).name, QStringLiteral("Untitled VDP Project"));
    QCOMPARE(openStore()->listProjects().size(), 2);
    QCOMPARE(panel->projectName(), QStringLiteral("Untitled VDP Project"));
    QCOMPARE(panel->projectSelector()->lineEdit()->selectedText(),
             QStringLiteral("Untitled VDP Project"));
    QCOMPARE(panel->columnsBox()->value(), Project{}.columns);
    QCOMPARE(m_window->pageTabs()->tabText(m_window->pageTabs()->currentIndex()),
             QStringLiteral("Template Canvas"));
    QCOMPARE(status(), QStringLiteral("Created a blank project; enter a project name"));
}

void TestMainWindow::createNewProjectDeclined()
{
    QVERIFY(startWindow());
    const Project before = m_window->currentProject();

    m_script->answers = {QMessageBox::No};
    m_window->createNewProject();

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(openStore()->listProjects().size(), 1);
    QCOMPARE(storedProject(before.id), before);
    QCOMPARE(m_window->currentProject(), before);
    QCOMPARE(status(), QStringLiteral("Ready"));
}

void TestMainWindow::unsavedSettingsAreAskedAbout_data()
{
    QTest::addColumn<QString>("leaving"); // "close", "open" or "new"
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("frozen"); // the save fails
    QTest::addColumn<bool>("saved");
    QTest::addColumn<bool>("left");

    for (const QString &leaving : {QStringLiteral("close"), QStringLiteral("open"), QStringLiteral("new")}) {
        const QByteArray name = leaving.toLatin1();
        QTest::newRow(QByteArray(name + ", save").constData()) << leaving << QMessageBox::Save << false << true << true;
        QTest::newRow(QByteArray(name + ", discard").constData()) << leaving << QMessageBox::Discard << false << false << true;
        QTest::newRow(QByteArray(name + ", cancel").constData()) << leaving << QMessageBox::Cancel << false << false << false;
        QTest::newRow(QByteArray(name + ", save fails").constData()) << leaving << QMessageBox::Save << true << false << false;
    }
}

// Rename the project and set Rows to 3, then leave it: the window asks, and
// only Save writes; Cancel and a failed save keep everything on screen.
void TestMainWindow::unsavedSettingsAreAskedAbout()
{
    QFETCH(QString, leaving);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, frozen);
    QFETCH(bool, saved);
    QFETCH(bool, left);

    QVERIFY(openStore()->createProject(QStringLiteral("Other")));
    QVERIFY(openStore()->createProject(QStringLiteral("Current")));
    QVERIFY(startWindow());
    m_window->show();
    const Project before = m_window->currentProject();
    QCOMPARE(before.name, QStringLiteral("Current"));
    if (frozen) {
        QVERIFY(openStore()->execStatement(QStringLiteral(
            "CREATE TRIGGER keep_projects BEFORE UPDATE ON projects "
            "BEGIN SELECT RAISE(ABORT, 'projects are frozen'); END")));
    }
    ProjectPanel *panel = m_window->projectPanel();
    panel->projectSelector()->setEditText(QStringLiteral("Renamed"));
    panel->rowsBox()->setValue(3);
    m_script->answers = {answer};

    bool closed = false;
    if (leaving == QLatin1String("close")) {
        closed = m_window->close();
    } else if (leaving == QLatin1String("open")) {
        const int other = selectorIndexOf(QStringLiteral("Other"));
        panel->projectSelector()->setCurrentIndex(other);
        emit panel->projectSelector()->activated(other);
    } else {
        m_window->createNewProject();
    }

    QVERIFY(!m_script->shown.isEmpty());
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("question"));
    QCOMPARE(m_script->shown.first().text, QStringLiteral("Save changes to the project settings?"));
    if (frozen) {
        QCOMPARE(m_script->shown.size(), 2);
        QCOMPARE(m_script->shown.at(1).title, QStringLiteral("Could Not Save Project"));
        QVERIFY(m_script->shown.at(1).text.contains(QStringLiteral("projects are frozen")));
    } else {
        QCOMPARE(m_script->shown.size(), 1);
    }

    const Project stored = storedProject(before.id);
    QCOMPARE(stored.name, saved ? QStringLiteral("Renamed") : QStringLiteral("Current"));
    QCOMPARE(stored.rows, saved ? 3 : before.rows);
    if (leaving == QLatin1String("close")) {
        QCOMPARE(closed, left);
        QCOMPARE(m_window->isVisible(), !left);
    } else {
        QCOMPARE(m_window->currentProject().id != before.id, left);
    }
    if (!left) {
        // Everything the user typed is still there, and still unsaved.
        QCOMPARE(m_window->currentProject().id, before.id);
        QCOMPARE(panel->projectName(), QStringLiteral("Renamed"));
        QCOMPARE(panel->rowsBox()->value(), 3);
        QVERIFY(panel->hasUnsavedChanges());
    }
}

// Values the panel can only show clamped (stored by another program or an
// older release) are not the user's edits: leaving asks nothing.
void TestMainWindow::clampedValuesAreNotEdits()
{
    {
        const auto store = openStore();
        const Project project = *store->createProject(QStringLiteral("Odd"));
        QVERIFY(store->execStatement(
            QStringLiteral("UPDATE projects SET rows = 100000, card_width_mm = 0 WHERE id = %1").arg(project.id)));
    }
    QVERIFY(startWindow());
    m_window->show();
    QCOMPARE(m_window->projectPanel()->rowsBox()->value(), 100);
    QVERIFY(!m_window->projectPanel()->hasUnsavedChanges());

    QVERIFY(m_window->close());
    QVERIFY(m_script->shown.isEmpty());
    QCOMPARE(storedProject(m_window->currentProject().id).rows, 100000);
}

void TestMainWindow::deleteAsksWithName_data()
{
    QTest::addColumn<QString>("storedName");
    QTest::addColumn<QString>("shownName");

    QTest::newRow("plain") << "Tickets" << "Tickets";
    QTest::newRow("padded") << "  Tickets " << "Tickets";
    QTest::newRow("blank") << "   " << "Untitled Template";
}

void TestMainWindow::deleteAsksWithName()
{
    QFETCH(QString, storedName);
    QFETCH(QString, shownName);

    {
        const auto store = openStore();
        Project project = *store->createProject(QStringLiteral("placeholder"));
        project.name = storedName;
        QVERIFY(store->updateProject(project));
    }
    QVERIFY(startWindow());
    const Project before = m_window->currentProject();

    m_script->answers = {QMessageBox::No};
    m_window->projectPanel()->deleteProjectButton()->click();

    QCOMPARE(m_script->shown.size(), 1);
    const ShownBox box = m_script->shown.first();
    QCOMPARE(box.kind, QStringLiteral("warning"));
    QCOMPARE(box.title, QStringLiteral("Delete Current Template"));
    QCOMPARE(box.text,
             QStringLiteral("Delete template “%1”?\n\nAll fields, graphics, data-source settings, "
                            "and background files associated with this template will be "
                            "permanently removed.")
                 .arg(shownName));
    QCOMPARE(box.defaultButton, QMessageBox::No);

    QCOMPARE(openStore()->listProjects().size(), 1);
    QCOMPARE(m_window->currentProject(), before);
}

void TestMainWindow::deleteSwitchesToNextProject()
{
    qint64 alphaId = 0;
    {
        const auto store = openStore();
        alphaId = store->createProject(QStringLiteral("Alpha"))->id;
        QVERIFY(store->createProject(QStringLiteral("Beta")));
    }
    QVERIFY(startWindow());
    const Project beta = m_window->currentProject();
    const QDir assets(m_dataDir->filePath(QStringLiteral("assets/project-%1").arg(beta.id)));
    QVERIFY(QDir().mkpath(assets.path()));
    QFile background(assets.filePath(QStringLiteral("background-1.png")));
    QVERIFY(background.open(QIODevice::WriteOnly));
    background.close();
    const QDir keptAssets(m_dataDir->filePath(QStringLiteral("assets/project-%1").arg(alphaId)));
    QVERIFY(QDir().mkpath(keptAssets.path()));

    m_script->answers = {QMessageBox::Yes};
    m_window->deleteCurrentProject();

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(status(), QStringLiteral("Deleted template: Beta"));
    const QList<Project> remaining = openStore()->listProjects();
    QCOMPARE(remaining.size(), 1);
    QCOMPARE(remaining.first().id, alphaId);
    QCOMPARE(m_window->currentProject().id, alphaId);
    QCOMPARE(m_window->projectPanel()->projectName(), QStringLiteral("Alpha"));
    QCOMPARE(m_window->projectPanel()->projectSelector()->count(), 1);
    QVERIFY(!assets.exists());
    QVERIFY(keptAssets.exists());
}

void TestMainWindow::deleteOnlyProjectLeavesUntitled()
{
    {
        const auto store = openStore();
        QVERIFY(store->createProject(QStringLiteral("Solo")));
    }
    QVERIFY(startWindow());
    const qint64 soloId = m_window->currentProject().id;

    m_script->answers = {QMessageBox::Yes};
    m_window->deleteCurrentProject();

    QCOMPARE(m_script->shown.size(), 1);
    const QList<Project> remaining = openStore()->listProjects();
    QCOMPARE(remaining.size(), 1);
    QVERIFY(remaining.first().id != soloId);
    QCOMPARE(remaining.first().name, QStringLiteral("Untitled VDP Project"));
    QCOMPARE(m_window->currentProject().id, remaining.first().id);
    QCOMPARE(status(), QStringLiteral("Deleted template: Solo"));
}

void TestMainWindow::deleteFailureRemovesBlankAgain()
{
    qint64 soloId = 0;
    {
        const auto store = openStore();
        soloId = store->createProject(QStringLiteral("Solo"))->id;
        QVERIFY(store->execStatement(
            QStringLiteral("CREATE TRIGGER keep_solo BEFORE DELETE ON projects WHEN OLD.id = %1 "
                           "BEGIN SELECT RAISE(ABORT, 'solo is kept'); END")
                .arg(soloId)));
    }
    QVERIFY(startWindow());
    const Project solo = m_window->currentProject();

    m_script->answers = {QMessageBox::Yes};
    m_window->deleteCurrentProject();

    QCOMPARE(m_script->shown.size(), 2);
    QCOMPARE(m_script->shown.at(1).kind, QStringLiteral("critical"));
    QCOMPARE(m_script->shown.at(1).title, QStringLiteral("Delete Template Failed"));
    QVERIFY2(m_script->shown.at(1).text.contains(QStringLiteral("solo is kept")),
             qPrintable(m_script->shown.at(1).text));

    const QList<Project> remaining = openStore()->listProjects();
    QCOMPARE(remaining.size(), 1);
    QCOMPARE(remaining.first().id, soloId);
    QCOMPARE(m_window->currentProject(), solo);
    QCOMPARE(m_window->projectPanel()->projectSelector()->count(), 1);
}

void TestMainWindow::duplexMode()
{
    QVERIFY(startWindow());
    const qint64 id = m_window->currentProject().id;
    ProjectPanel *panel = m_window->projectPanel();
    QVERIFY(panel->singleButton()->isChecked());

    panel->duplexButton()->click();
    QVERIFY(storedProject(id).duplex);
    QVERIFY(m_window->currentProject().duplex);
    QVERIFY(panel->duplexButton()->isChecked());
    QCOMPARE(status(),
             QStringLiteral("Switched to a duplex template. Use the Back tab to edit the reverse side."));

    panel->singleButton()->click();
    QVERIFY(!storedProject(id).duplex);
    QVERIFY(panel->singleButton()->isChecked());
    QCOMPARE(status(), QStringLiteral("Switched to single-sided template"));
    QVERIFY(m_script->shown.isEmpty());
}

void TestMainWindow::duplexSaveFailure()
{
    QVERIFY(startWindow());
    const qint64 id = m_window->currentProject().id;
    QVERIFY(openStore()->execStatement(QStringLiteral(
        "CREATE TRIGGER keep_projects BEFORE UPDATE ON projects "
        "BEGIN SELECT RAISE(ABORT, 'projects are frozen'); END")));

    m_window->setDuplexMode(true);

    QVERIFY2(status().startsWith(QStringLiteral("Failed to save duplex settings: ")),
             qPrintable(status()));
    QVERIFY(status().contains(QStringLiteral("projects are frozen")));
    QVERIFY(!storedProject(id).duplex);
    QVERIFY(m_script->shown.isEmpty());
    // The switch is taken back: the window prints what the store (and the
    // command-line tool) says, single-sided.
    QVERIFY(!m_window->currentProject().duplex);
    QVERIFY(m_window->projectPanel()->singleButton()->isChecked());
    QVERIFY(!m_window->projectPanel()->duplexButton()->isChecked());
    QVERIFY(!m_window->previewPage()->backButton()->isVisibleTo(m_window->previewPage()));
}

// One window per data directory: a second one is told which process holds
// it and does not start; the first one's end frees the directory.
void TestMainWindow::secondWindowOnSameDataDirectory()
{
    QVERIFY(startWindow());
    const qsizetype projects = openStore()->listProjects().size();

    auto secondScript = std::make_shared<DialogScript>();
    std::unique_ptr<MainWindow> second;
    QVERIFY(!startScriptedWindow(second, secondScript, m_starterDir->path()));
    QCOMPARE(secondScript->shown.size(), 1);
    QCOMPARE(secondScript->shown.first().kind, QStringLiteral("critical"));
    QCOMPARE(secondScript->shown.first().title, QStringLiteral("Data Directory In Use"));
    const QString text = secondScript->shown.first().text;
    QVERIFY2(text.contains(QStringLiteral("process %1").arg(QCoreApplication::applicationPid())), qPrintable(text));
    QVERIFY2(text.contains(QDir::toNativeSeparators(m_dataDir->path())), qPrintable(text));
    QVERIFY(!second->centralWidget());
    second.reset();
    // The refused window took nothing from the first: its lock still holds.
    QCOMPARE(openStore()->listProjects().size(), projects);
    QVERIFY(QFileInfo::exists(QDir(m_dataDir->path()).filePath(QStringLiteral("vellumor-vdp.lock"))));

    m_window.reset();
    QVERIFY(!QFileInfo::exists(QDir(m_dataDir->path()).filePath(QStringLiteral("vellumor-vdp.lock"))));
    QVERIFY(startWindow());
    QVERIFY(m_script->shown.isEmpty());
}

void TestMainWindow::unitsSwitchReRendersEveryBox()
{
    QVERIFY(startWindow());
    ProjectPanel *panel = m_window->projectPanel();
    const QList<UnitSpinBox *> boxes = m_window->findChildren<UnitSpinBox *>();
    QVERIFY(boxes.size() >= 5);
    const double cardWidth = panel->cardWidthBox()->value();

    panel->unitsCombo()->setCurrentIndex(panel->unitsCombo()->findText("Inches (in)"));
    QVERIFY(m_window->useInches());
    QCOMPARE(QSettings(kSettingsOrganization, kSettingsApplication)
                 .value(QStringLiteral("display/useInches"))
                 .toBool(),
             true);
    for (UnitSpinBox *box : boxes) {
        QVERIFY2(box->useInches(), qPrintable(box->text()));
        QCOMPARE(box->decimals(), 3);
        QVERIFY2(box->text().endsWith(QStringLiteral(" in")), qPrintable(box->text()));
    }
    QCOMPARE(panel->cardWidthBox()->value(), cardWidth);

    panel->orientationCombo()->setCurrentText(QStringLiteral("Landscape"));
    panel->paperCombo()->setCurrentText(QStringLiteral("Letter — 8.5 × 11 in"));
    QCOMPARE(panel->sheetWidthBox()->value(), 279.4);
    QCOMPARE(panel->sheetHeightBox()->value(), 215.9);
    QCOMPARE(panel->sheetWidthBox()->text(), QStringLiteral("11.000 in"));
    QCOMPARE(panel->sheetHeightBox()->text(), QStringLiteral("8.500 in"));

    panel->unitsCombo()->setCurrentIndex(panel->unitsCombo()->findText("Millimetres (mm)"));
    QCOMPARE(QSettings(kSettingsOrganization, kSettingsApplication)
                 .value(QStringLiteral("display/useInches"))
                 .toBool(),
             false);
    QCOMPARE(panel->sheetWidthBox()->text(), QStringLiteral("279.40 mm"));
    for (UnitSpinBox *box : boxes)
        QVERIFY2(box->text().endsWith(QStringLiteral(" mm")), qPrintable(box->text()));
}

void TestMainWindow::unitsFromSettings()
{
    QSettings(kSettingsOrganization, kSettingsApplication)
        .setValue(QStringLiteral("display/useInches"), true);
    QVERIFY(startWindow());
    QVERIFY(m_window->useInches());
    QCOMPARE(m_window->projectPanel()->unitsCombo()->currentText(), QStringLiteral("Inches (in)"));
    for (UnitSpinBox *box : m_window->findChildren<UnitSpinBox *>())
        QVERIFY2(box->text().endsWith(QStringLiteral(" in")), qPrintable(box->text()));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
