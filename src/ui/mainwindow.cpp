#include "ui/mainwindow.h"

#include "ui/canvaseditor.h"
#include "ui/datasync.h"
#include "ui/dialogs.h"
#include "ui/projectpanel.h"
#include "ui/stylesheet.h"
#include "ui/unitspinbox.h"

#include <QAction>
#include <QCloseEvent>
#include <QApplication>
#include <QCoreApplication>
#include <QKeySequence>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>

#include <algorithm>

namespace {
// The one persisted user setting lives under these names whatever the
// running application calls itself (tests included).
QString settingsOrganization() { return QStringLiteral("Vellumor"); }
QString settingsApplication() { return QStringLiteral("Vellumor VDP"); }
QString useInchesKey() { return QStringLiteral("display/useInches"); }
}

QSize mainWindowSize(const QSize &available)
{
    const int width = std::min(std::max(available.width() - 80, 900), 1400);
    const int height = std::max(std::min(available.height() - 80, 900), 640);
    return {width, height};
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_session(m_store)
    , m_dialogs(std::make_unique<Dialogs>())
    , m_starterDirectory(defaultStarterDirectory())
    , m_dataSync(new DataSync(this))
{
    setWindowTitle(tr("Vellumor VDP · Variable Data Printing v%1")
                       .arg(QCoreApplication::applicationVersion()));
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        resize(mainWindowSize(screen->availableGeometry().size()));
    qApp->setStyleSheet(applicationStyleSheet());
    connect(m_dataSync, &DataSync::syncDue, this, &MainWindow::syncDataSources);
}

MainWindow::~MainWindow() = default;

void MainWindow::setDialogs(std::unique_ptr<Dialogs> dialogs)
{
    m_dialogs = std::move(dialogs);
}

void MainWindow::setStarterDirectory(const QString &directory)
{
    m_starterDirectory = directory;
}

bool MainWindow::initialize()
{
    m_paths = workspacePaths(resolveDataDirectory(), m_starterDirectory);
    // Taken before the database is touched: the start-up upkeep writes it.
    DataDirectoryLockAttempt lock = lockDataDirectory(m_paths.dataDirectory);
    if (lock.outcome == DataDirectoryLockAttempt::Outcome::HeldElsewhere) {
        m_dialogs->critical(this, dataDirectoryInUseTitle(), lock.message);
        return false;
    }
    m_lock = std::move(lock.lock);
    if (const auto failure = openWorkspace(m_store, m_paths)) {
        m_dialogs->critical(this, failure->title, failure->text);
        return false;
    }
    // A folder the lock file cannot be made in mostly fails above with the
    // database's own message; a window never runs without the lock.
    if (lock.outcome == DataDirectoryLockAttempt::Outcome::Failed) {
        m_dialogs->critical(this, tr("Could Not Lock Data Directory"), lock.message);
        return false;
    }
    Project startup;
    if (const auto failure = loadStartupProject(m_store, &startup)) {
        m_dialogs->critical(this, failure->title, failure->text);
        return false;
    }
    m_session.setProject(startup);

    buildInterface();
    updateCanvasCardSize();
    updateCanvasBleed();
    setLiveDataSource(m_session.project().dataSourcePath, false);
    reloadProjectData();
    refreshPreview();
    applyReadOnlyState();

    statusBar()->showMessage(tr("Ready"));
    return true;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (settleUnsavedSettings())
        event->accept();
    else
        event->ignore();
}

void MainWindow::buildInterface()
{
    m_projectPanel = new ProjectPanel;
    m_pageTabs = new QTabWidget;
    m_pageTabs->setObjectName(QStringLiteral("pageTabs"));
    m_pageTabs->addTab(createDataPage(), tr("Data"));
    m_pageTabs->addTab(createPreviewPage(), tr("Imposition Preview"));
    m_pageTabs->addTab(createCanvasPage(), tr("Template Canvas"));
    connect(m_pageTabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == 1)
            refreshPreview();
    });

    auto *splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(m_projectPanel);
    splitter->addWidget(m_pageTabs);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);
    splitter->setSizes({230, 1050});
    setCentralWidget(splitter);

    const QSettings settings(settingsOrganization(), settingsApplication());
    m_useInches = settings.value(useInchesKey(), false).toBool();
    m_projectPanel->setUseInches(m_useInches);
    for (UnitSpinBox *box : m_projectPanel->unitSpinBoxes())
        registerUnitSpinBox(box);
    // The pages registered theirs before the setting was read.
    setDisplayUnits(m_useInches);

    refreshProjectList();
    m_projectPanel->showProject(m_session.project());
    connectProjectPanel();
    connectDataPage();
    buildToolBar();
}

void MainWindow::buildToolBar()
{
    m_toolBar = addToolBar(tr("Main Toolbar"));
    m_toolBar->setObjectName(QStringLiteral("mainToolBar"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_toolBar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    QAction *newProject = m_toolBar->addAction(tr("New Project"), this, &MainWindow::createNewProject);
    newProject->setShortcut(QKeySequence::New);
    newProject->setToolTip(tr("New Project (Ctrl+N)"));
    m_toolBar->addAction(tr("Import Data"), this, &MainWindow::importCsv);
    QAction *save = m_toolBar->addAction(tr("Save Project"), this, &MainWindow::saveSettings);
    save->setShortcut(QKeySequence::Save);
    save->setToolTip(tr("Save Project (Ctrl+S)"));
    m_toolBar->addAction(tr("Export PDF"), this, &MainWindow::exportPdf);
    m_toolBar->addSeparator();
    m_toolBar->addAction(tr("Add Text Field"), this, &MainWindow::addField);
    m_toolBar->addAction(tr("Delete Field"), this,
                         [this] { deleteSelectedField(m_canvasEditor->selectedFieldId()); });
    m_toolBar->addSeparator();
    m_toolBar->addAction(tr("Import Background"), this, &MainWindow::importBackground);
    m_toolBar->addAction(tr("Add Barcode"), this, &MainWindow::addBarcode);
    m_toolBar->addAction(tr("Add QR Code"), this, &MainWindow::addQrCode);
    m_toolBar->addAction(tr("Scratch Card"), this, &MainWindow::addScratchCard);
}

void MainWindow::connectProjectPanel()
{
    ProjectPanel *panel = m_projectPanel;
    connect(panel, &ProjectPanel::projectActivated, this, &MainWindow::openSelectedProject);
    connect(panel, &ProjectPanel::deleteProjectRequested, this, &MainWindow::deleteCurrentProject);
    connect(panel, &ProjectPanel::duplexRequested, this, &MainWindow::setDuplexMode);
    connect(panel, &ProjectPanel::saveRequested, this, &MainWindow::saveSettings);
    connect(panel, &ProjectPanel::useInchesChanged, this, [this](bool useInches) {
        QSettings settings(settingsOrganization(), settingsApplication());
        settings.setValue(useInchesKey(), useInches);
        setDisplayUnits(useInches);
    });
    // Panel edits reach the pages at once but stay out of the database until a save.
    connect(panel, &ProjectPanel::cardSizeChanged, this, [this] {
        updateCanvasCardSize();
        updateCanvasBleed();
        refreshPreview();
    });
    connect(panel, &ProjectPanel::bleedChanged, this, [this] {
        updateCanvasBleed();
        refreshPreview();
    });
    connect(panel, &ProjectPanel::bleedGuideChanged, this, &MainWindow::updateCanvasBleed);
    connect(panel, &ProjectPanel::sheetLayoutChanged, this, &MainWindow::refreshPreview);
}

void MainWindow::registerUnitSpinBox(UnitSpinBox *box)
{
    m_unitSpinBoxes.append(box);
    box->setUseInches(m_useInches);
}

void MainWindow::setDisplayUnits(bool useInches)
{
    m_useInches = useInches;
    // Pages may drop their boxes when they rebuild; the guarded list skips those.
    m_unitSpinBoxes.removeAll(nullptr);
    for (UnitSpinBox *box : std::as_const(m_unitSpinBoxes))
        box->setUseInches(useInches);
}
