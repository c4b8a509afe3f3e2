#pragma once

#include "app/datadirectorylock.h"
#include "app/projectsession.h"
#include "app/workspace.h"
#include "model/datasource.h"
#include "model/graphicelement.h"
#include "model/project.h"
#include "model/templatefield.h"
#include "store/projectstore.h"
#include "ui/unitspinbox.h"

#include <QJsonObject>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class CanvasEditor;
class DataImportRunner;
class DataPage;
class DataSync;
class Dialogs;
class PreviewPage;
class ProjectPanel;
class QTabWidget;
class QToolBar;

// The window's size on a screen whose available area is `available`:
// 80 px less each way, the width kept within 900–1400 and the height within 640–900.
QSize mainWindowSize(const QSize &available);

// The application's only window. It owns the store and the current project,
// the project panel and the pages; slot names are fixed because the pages and
// the toolbar are wired to them.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Seams, set before initialize(): the message boxes, and the folder the
    // starter database is seeded from (by default "starter" beside the executable).
    void setDialogs(std::unique_ptr<Dialogs> dialogs);
    void setStarterDirectory(const QString &directory);

    // Puts the database in place, loads the newest project and builds the
    // interface. False after a critical box has been shown; the window must
    // then not be shown.
    bool initialize();

    const Project &currentProject() const { return m_session.project(); }
    const WorkspacePaths &workspace() const { return m_paths; }
    bool useInches() const { return m_useInches; }
    ProjectPanel *projectPanel() const { return m_projectPanel; }
    QTabWidget *pageTabs() const { return m_pageTabs; }
    QToolBar *mainToolBar() const { return m_toolBar; }
    DataPage *dataPage() const { return m_dataPage; }
    PreviewPage *previewPage() const { return m_previewPage; }
    DataSync *dataSync() const { return m_dataSync; }
    CanvasEditor *canvasEditor() const { return m_canvasEditor; }
    const QList<DataSource> &dataSources() const { return m_session.dataSources(); }
    // The combined card records of the project's data files and their column keys.
    const CardTable &cardRecords() const { return m_session.cardRecords(); }
    const QStringList &cardColumns() const { return m_session.cardColumns(); }

public slots:
    void createNewProject();
    void deleteCurrentProject();
    void openSelectedProject(int index);
    void saveSettings();
    void setDuplexMode(bool duplex);

    void importCsv();
    void openCurrentDataSource();
    void removeCurrentDataSource();
    void currentDataSourceChanged();

    void exportPdf();
    void importBackground();
    void clearBackground();
    void addField();
    void addBarcode();
    void addQrCode();
    void addScratchCard();
    void deleteSelectedField(qint64 fieldId);
    void refreshPreview();

protected:
    // Asks about unsaved project settings; a cancelled or failed save keeps the window open.
    void closeEvent(QCloseEvent *event) override;

private:
    void buildInterface();
    void buildToolBar();
    QWidget *createDataPage();
    QWidget *createPreviewPage();
    QWidget *createCanvasPage();
    void connectProjectPanel();

    void registerUnitSpinBox(UnitSpinBox *box);
    void setDisplayUnits(bool useInches);

    void refreshProjectList();
    void switchToProject(const Project &project);
    bool saveCurrentProject(QString *error);
    // Saves the name and settings the panel shows; false after the error box.
    bool saveProjectSettings();
    // With unsaved panel edits, asks to save, discard or cancel. True when
    // the caller may go on (nothing to save, saved, or discarded).
    bool settleUnsavedSettings();

    // Where the pages attach to the project's life.
    void showProjectOnPages();
    void updateCanvasCardSize();
    void updateCanvasBleed();
    void showDuplexOnPages(bool duplex);
    void refreshBackgroundStatus();
    void applyReadOnlyState();
    // The card records changed: the field panel's columns and the canvases'
    // preview record follow.
    void showCardRecordsOnCanvas();

    // Variable data and its live sync (mainwindow_data.cpp).
    void connectDataPage();
    void refreshDataSources(qint64 selectId = 0);
    void reloadProjectData();
    void setLiveDataSource(const QString &path, bool save);
    void syncDataSources();
    void followDataSourceChange();

    // Imposition preview options (mainwindow_preview.cpp).
    void connectPreviewPage();
    // The project's mark options and sides on the page, without writing back.
    void showProjectOnPreview();
    void setImpositionBorderShown(bool show);
    void setCropMarksShown(bool show);
    // Writes one change of the mark options to the store, then to the
    // window's record; after a failed save both stay as stored.
    void saveMarkOptions(const std::function<void(Project &)> &change);
    void chooseImpositionBorderColor();

    // Held from start-up to the window's end; released after the store closes.
    DataDirectoryLock m_lock;
    ProjectStore m_store;
    // After the store, which it refers to.
    ProjectSession m_session;
    std::unique_ptr<Dialogs> m_dialogs;
    QString m_starterDirectory;
    WorkspacePaths m_paths;
    bool m_useInches = false;
    QList<QPointer<UnitSpinBox>> m_unitSpinBoxes;
    DataSync *m_dataSync = nullptr;
    DataImportRunner *m_dataImport = nullptr;

    ProjectPanel *m_projectPanel = nullptr;
    QTabWidget *m_pageTabs = nullptr;
    QToolBar *m_toolBar = nullptr;
    DataPage *m_dataPage = nullptr;
    PreviewPage *m_previewPage = nullptr;
    CanvasEditor *m_canvasEditor = nullptr;
};
