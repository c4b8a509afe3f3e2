#pragma once

#include <QObject>

class CanvasEditor;
class QAction;
class QMenu;
class QMenuBar;

// The window's "&Edit" menu for the template canvas: "Undo" and "Redo" named
// after the step they would take back or do again ("Undo Align Left"),
// disabled when there is none, and the canvas's Copy, Paste and Delete. The
// shortcuts are those the canvas answers to (Ctrl+Z; Ctrl+R, Ctrl+Y and the
// platform's redo); they act while a canvas has the focus, as the keys did.
class EditMenu : public QObject
{
    Q_OBJECT

public:
    EditMenu(CanvasEditor &editor, QMenuBar *menuBar, QObject *parent = nullptr);

    QMenu *menu() const { return m_menu; }
    QAction *undoAction() const { return m_undo; }
    QAction *redoAction() const { return m_redo; }
    QAction *copyAction() const { return m_copy; }
    QAction *pasteAction() const { return m_paste; }
    QAction *deleteAction() const { return m_delete; }

private:
    void refresh();

    CanvasEditor &m_editor;
    QMenu *m_menu = nullptr;
    QAction *m_undo = nullptr;
    QAction *m_redo = nullptr;
    QAction *m_copy = nullptr;
    QAction *m_paste = nullptr;
    QAction *m_delete = nullptr;
};
