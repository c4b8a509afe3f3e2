#include "ui/editmenu.h"

#include "ui/canvas/canvaspage.h"
#include "ui/canvas/canvasview.h"
#include "ui/canvaseditor.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace {

// The action's shortcuts work where the keys did: on a focused canvas.
void bindToCanvases(QAction *action, CanvasPage *page, const QList<QKeySequence> &keys)
{
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WidgetShortcut);
    page->frontCanvas()->addAction(action);
    page->backCanvas()->addAction(action);
}

QList<QKeySequence> redoKeys()
{
    QList<QKeySequence> keys{QKeySequence(Qt::CTRL | Qt::Key_R), QKeySequence(Qt::CTRL | Qt::Key_Y)};
    for (const QKeySequence &key : QKeySequence::keyBindings(QKeySequence::Redo)) {
        if (!keys.contains(key))
            keys.append(key);
    }
    return keys;
}

} // namespace

// A menu entry's accessible name is its text, so screen readers say what
// Undo and Redo would do ("Undo Align Left").
EditMenu::EditMenu(CanvasEditor &editor, QMenuBar *menuBar, QObject *parent)
    : QObject(parent)
    , m_editor(editor)
{
    CanvasPage *page = editor.page();
    m_menu = menuBar->addMenu(tr("&Edit"));
    m_menu->setObjectName(QStringLiteral("editMenu"));

    m_undo = m_menu->addAction(tr("Undo"), &editor, &CanvasEditor::undo);
    m_undo->setObjectName(QStringLiteral("undoAction"));
    bindToCanvases(m_undo, page, QKeySequence::keyBindings(QKeySequence::Undo));
    m_redo = m_menu->addAction(tr("Redo"), &editor, &CanvasEditor::redo);
    m_redo->setObjectName(QStringLiteral("redoAction"));
    bindToCanvases(m_redo, page, redoKeys());
    m_menu->addSeparator();
    m_copy = m_menu->addAction(tr("Copy"), &editor, &CanvasEditor::copySelection);
    m_copy->setObjectName(QStringLiteral("copyAction"));
    bindToCanvases(m_copy, page, QKeySequence::keyBindings(QKeySequence::Copy));
    m_paste = m_menu->addAction(tr("Paste"), &editor, &CanvasEditor::paste);
    m_paste->setObjectName(QStringLiteral("pasteAction"));
    bindToCanvases(m_paste, page, QKeySequence::keyBindings(QKeySequence::Paste));
    m_delete = m_menu->addAction(tr("Delete"), &editor, &CanvasEditor::deleteSelectedObjects);
    m_delete->setObjectName(QStringLiteral("deleteAction"));
    bindToCanvases(m_delete, page, {QKeySequence(Qt::Key_Delete)});

    connect(&editor.document(), &EditorDocument::historyChanged, this, &EditMenu::refresh);
    connect(&editor.document(), &EditorDocument::selectionChanged, this, &EditMenu::refresh);
    refresh();
}

void EditMenu::refresh()
{
    const EditorDocument &document = m_editor.document();
    const CanvasHistory &history = document.history();
    const QString undoLabel = history.undoLabel();
    const QString redoLabel = history.redoLabel();
    m_undo->setText(history.canUndo() && !undoLabel.isEmpty() ? tr("Undo %1").arg(undoLabel) : tr("Undo"));
    m_redo->setText(history.canRedo() && !redoLabel.isEmpty() ? tr("Redo %1").arg(redoLabel) : tr("Redo"));
    m_undo->setEnabled(history.canUndo());
    m_redo->setEnabled(history.canRedo());
    const bool selected = !document.selection().isEmpty();
    m_copy->setEnabled(selected);
    m_delete->setEnabled(selected);
}
