// Project operations: listing, switching, open, save, new, delete and the
// single/duplex switch.
#include "ui/mainwindow.h"

#include "ui/dialogs.h"
#include "ui/projectpanel.h"

#include <QDir>
#include <QStatusBar>
#include <QTabWidget>

#include <algorithm>

void MainWindow::refreshProjectList()
{
    QString error;
    const QList<Project> projects = m_store.listProjects(&error);
    if (!error.isEmpty()) {
        statusBar()->showMessage(tr("Could not load the project list: %1").arg(error), 8000);
        return;
    }
    m_projectPanel->setProjects(projects, m_session.project());
}

void MainWindow::switchToProject(const Project &project)
{
    m_session.setProject(project);
    refreshProjectList();
    m_projectPanel->showProject(m_session.project());
    showProjectOnPages();
    setLiveDataSource(m_session.project().dataSourcePath, false);
    reloadProjectData();
    refreshBackgroundStatus();
    refreshPreview();
}

bool MainWindow::saveCurrentProject(QString *error)
{
    return m_store.updateProject(m_session.project(), error);
}

void MainWindow::saveSettings()
{
    saveProjectSettings();
}

bool MainWindow::saveProjectSettings()
{
    Project edited = m_session.project();
    edited.name = m_projectPanel->editedName().trimmed();
    if (edited.name.isEmpty())
        edited.name = untitledProjectName();
    m_projectPanel->storeSettings(&edited);

    QString error;
    if (!m_store.updateProject(edited, &error)) {
        m_dialogs->critical(this, tr("Could Not Save Project"), error);
        return false;
    }
    m_session.project() = edited;
    m_projectPanel->markSaved();
    refreshProjectList();
    refreshPreview();
    statusBar()->showMessage(tr("Project settings saved"), 3000);
    return true;
}

bool MainWindow::settleUnsavedSettings()
{
    if (!m_projectPanel || !m_projectPanel->hasUnsavedChanges())
        return true;
    const auto answer = m_dialogs->question(
        this, tr("Unsaved Changes"), tr("Save changes to the project settings?"),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Discard)
        return true;
    if (answer == QMessageBox::Save)
        return saveProjectSettings();
    return false;
}

void MainWindow::openSelectedProject(int index)
{
    if (index < 0)
        return;
    const qint64 id = m_projectPanel->projectIdAt(index);
    if (id < 1 || id == m_session.project().id)
        return;

    const QString title = tr("Could Not Open Project");
    QString error;
    const QList<Project> projects = m_store.listProjects(&error);
    if (!error.isEmpty()) {
        m_dialogs->critical(this, title, error);
        refreshProjectList();
        return;
    }
    const auto chosen = std::find_if(projects.cbegin(), projects.cend(),
                                      [id](const Project &project) { return project.id == id; });
    if (chosen == projects.cend()) {
        m_dialogs->critical(this, title, tr("The selected project no longer exists."));
        refreshProjectList();
        return;
    }

    // The selector already shows the chosen project; it goes back to the
    // current one when the user stays.
    if (!settleUnsavedSettings()) {
        refreshProjectList();
        return;
    }

    switchToProject(*chosen);
    statusBar()->showMessage(tr("Opened project: %1").arg(m_session.project().name), 4000);
}

void MainWindow::createNewProject()
{
    // With edits in the panel, the save question is the confirmation: its
    // Cancel keeps the current project, and nothing is saved unasked.
    if (m_projectPanel->hasUnsavedChanges()) {
        if (!settleUnsavedSettings())
            return;
    } else {
        const auto answer = m_dialogs->question(
            this, tr("New Project"),
            tr("Create a blank project? The current project will be saved automatically."),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        if (answer != QMessageBox::Yes)
            return;
        saveSettings();
    }

    QString error;
    const std::optional<Project> created = m_store.createProject(untitledProjectName(), &error);
    if (!created) {
        m_dialogs->critical(this, tr("New project failed"), error);
        return;
    }
    switchToProject(*created);
    for (int i = 0; i < m_pageTabs->count(); ++i) {
        if (m_pageTabs->tabText(i) == tr("Template Canvas"))
            m_pageTabs->setCurrentIndex(i);
    }
    m_projectPanel->focusProjectName();
    statusBar()->showMessage(tr("Created a blank project; enter a project name"), 5000);
}

void MainWindow::deleteCurrentProject()
{
    if (m_session.project().id < 1)
        return;

    const Project doomed = m_session.project();
    QString shownName = doomed.name.trimmed();
    if (shownName.isEmpty())
        shownName = tr("Untitled Template");
    const QString title = tr("Delete Current Template");
    const auto answer = m_dialogs->warning(
        this, title,
        tr("Delete template “%1”?").arg(shownName) + QStringLiteral("\n\n")
            + tr("All fields, graphics, data-source settings, and background files associated "
                 "with this template will be permanently removed."),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;

    const QString failedTitle = tr("Delete Template Failed");
    QString error;
    const QList<Project> projects = m_store.listProjects(&error);
    if (!error.isEmpty()) {
        m_dialogs->critical(this, failedTitle, error);
        return;
    }

    // The list is most recently saved first, so the first other project is
    // the one the user worked on last.
    std::optional<Project> next;
    for (const Project &project : projects) {
        if (project.id != doomed.id) {
            next = project;
            break;
        }
    }
    bool createdBlank = false;
    if (!next) {
        next = m_store.createProject(untitledProjectName(), &error);
        if (!next) {
            m_dialogs->critical(this, failedTitle,
                                tr("Could not create a new blank template: %1").arg(error));
            return;
        }
        createdBlank = true;
    }

    if (!m_store.deleteProject(doomed.id, &error)) {
        if (createdBlank)
            m_store.deleteProject(next->id);
        m_dialogs->critical(this, failedTitle, error);
        return;
    }

    QDir backgrounds(QDir(m_paths.dataDirectory)
                         .filePath(QStringLiteral("assets/project-%1").arg(doomed.id)));
    const bool backgroundsRemoved = !backgrounds.exists() || backgrounds.removeRecursively();

    switchToProject(*next);
    // A failed clean-up is the message worth keeping on screen; it says the
    // template itself is gone.
    if (backgroundsRemoved) {
        statusBar()->showMessage(tr("Deleted template: %1").arg(doomed.name), 5000);
    } else {
        statusBar()->showMessage(
            tr("Template deleted, but some background cache files could not be removed"), 6000);
    }
}

void MainWindow::setDuplexMode(bool duplex)
{
    // The store decides: the window prints duplex only once the store (and
    // with it the command-line tool) says so, and a failed save leaves the
    // sides as they were.
    Project switched = m_session.project();
    switched.duplex = duplex;
    QString error;
    if (m_store.updateProject(switched, &error)) {
        m_session.project().duplex = duplex;
        showDuplexOnPages(duplex);
        statusBar()->showMessage(
            duplex ? tr("Switched to a duplex template. Use the Back tab to edit the reverse side.")
                   : tr("Switched to single-sided template"),
            3500);
        refreshBackgroundStatus();
        refreshPreview();
    } else {
        statusBar()->showMessage(tr("Failed to save duplex settings: %1").arg(error), 6000);
    }
    m_projectPanel->setDuplexChecked(m_session.project().duplex);
}
