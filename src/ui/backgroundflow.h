#pragma once

#include <QObject>
#include <QString>

#include <functional>

class CanvasPage;
class Dialogs;
class ProjectSession;
class ProjectStore;
class QWidget;

// What the background steps need of the window around them.
struct BackgroundFlowHooks
{
    // Brings the "Template Canvas" page to the front.
    std::function<void()> showCanvasPage;
    std::function<void(const QString &text, int timeoutMs)> showStatus;
};

// The card backgrounds of the open project on the canvas page: importing and
// clearing the background of the side shown, loading both sides when a
// project is opened, and the "backgroundStatus" line. The project record and
// the canvas change together or not at all: a failed step leaves both as
// they were.
class BackgroundFlow : public QObject
{
    Q_OBJECT

public:
    BackgroundFlow(ProjectStore &store, ProjectSession &session, Dialogs &dialogs, QWidget *dialogParent,
                   CanvasPage *page, QString dataDirectory, BackgroundFlowHooks hooks, QObject *parent = nullptr);

    // Asks for an image or PDF, copies it into the project's resource folder
    // and makes it the background of the side shown.
    void importBackground();
    // Drops the background of the side shown; the file stays where it is.
    void clearBackground();
    // The session's project was opened: both canvases show its stored
    // backgrounds (the back one too, ready for duplex). A file that cannot be
    // read leaves its canvas without one and is named in the status bar
    // once the switch's own message has been shown.
    void showProjectBackgrounds();
    // "Front background: FILE" or "… not imported", for the side shown.
    void refreshStatus();

private:
    ProjectStore &m_store;
    ProjectSession &m_session;
    Dialogs &m_dialogs;
    QWidget *m_dialogParent;
    CanvasPage *m_page;
    QString m_dataDirectory;
    BackgroundFlowHooks m_hooks;
};
