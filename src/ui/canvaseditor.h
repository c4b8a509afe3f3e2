#pragma once

#include "editor/editordocument.h"

#include <QObject>
#include <QSizeF>
#include <QString>

#include <functional>

class BackgroundFlow;
class CanvasPage;
class CanvasView;
class Dialogs;
class ProjectSession;
class ProjectStore;
class PropertyScroll;
struct FieldEdit;
struct GraphicEdit;
class QWidget;

// What the canvas editor needs of the window around it.
struct CanvasEditorHooks
{
    // The card values changed (a graphic, or a sequence or scratch field):
    // the imposition preview is drawn again.
    std::function<void()> refreshPreview;
    // Brings the "Template Canvas" page to the front.
    std::function<void()> showCanvasPage;
    // The card size as the settings controls show it, saved or not.
    std::function<QSizeF()> cardSizeMm;
    std::function<void(const QString &text, int timeoutMs)> showStatus;
};

// The template editor of the window: the canvas page with its two views, the
// property panels and the editor document behind them. Gestures, tools and
// panel edits become document operations (which write the store and record
// the undo step); what each operation changed is then shown on the views and
// panels, and its message in the status bar or a box. MainWindow's canvas
// slots forward here.
class CanvasEditor : public QObject
{
    Q_OBJECT

public:
    // `dataDirectory` holds the projects' resource folders (backgrounds).
    CanvasEditor(ProjectStore &store, ProjectSession &session, Dialogs &dialogs, QWidget *dialogParent,
                 const QString &dataDirectory, CanvasEditorHooks hooks, QObject *parent = nullptr);

    // The page, built once; the window puts it in its tabs.
    CanvasPage *page();
    PropertyScroll *propertyPanels() const { return m_panels; }
    const EditorDocument &document() const { return m_document; }
    EditorDocument &document() { return m_document; }
    // The backgrounds of the two sides; built with the page.
    BackgroundFlow *backgrounds();

    // The session's project was opened: its elements and backgrounds fill
    // both canvases, the history starts empty and the panels show nothing
    // selected.
    void openProject();
    void setCardSize(const QSizeF &cardMm);
    void setBleed(double bleedMm, bool show);
    void setDuplex(bool duplex);
    // The card records changed: the data choices of the field panel, the
    // "Preview record" range and the record the canvases show.
    void cardRecordsChanged();
    // Shows the chosen preview record, prepared (sequence and prize included).
    void showPreviewRecord();

    CardSide currentSide() const;
    qint64 selectedFieldId() const;

    // The tools: a new element of `kind` on the side shown.
    void addElement(ElementKind kind);
    void deleteSelectedObjects();
    void deleteField(qint64 id);
    void deleteGraphic(qint64 id);
    void alignSelectedObjects(AlignMode mode);
    void splitTable(qint64 id);
    void undo();
    void redo();
    // The Edit menu's Copy and Paste: the current canvas's selection to the
    // clipboard, and the clipboard's canvas objects onto the current side.
    void copySelection();
    void paste();

private:
    void connectCanvas(CanvasView *view);
    CanvasView *canvasFor(CardSide side) const;
    void loadCanvases();
    void fieldEditedOnCanvas(const TemplateField &field);
    void graphicEditedOnCanvas(const GraphicElement &element);
    void fieldEditedInPanel(const FieldEdit &edit);
    void graphicEditedInPanel(const GraphicEdit &edit);
    void sideChanged();
    // The canvases and panels follow what the document changed: an item is
    // added for a new record (in its place in the drawing order), removed for
    // a removed one, and synced in place for a modified one.
    void documentChanged(const DocumentChange &change);
    // The canvases show the document's selection.
    void reflectSelection();
    // Tells the user what an operation did; after a reload (the object was
    // gone from the store), once the handler that asked has returned.
    void finish(const DocumentChange &change);
    // The id of the next record of the same kind after `id` in the document's
    // drawing order that `side`'s canvas already shows (0 when none is).
    qint64 fieldAbove(qint64 id, CardSide side) const;
    qint64 graphicAbove(qint64 id, CardSide side) const;
    // Both canvases and the panels drawn again from the document after it
    // was read again from the store.
    void reloadFromDocument();
    void say(const EditorMessage &message);

    ProjectStore &m_store;
    ProjectSession &m_session;
    Dialogs &m_dialogs;
    QWidget *m_dialogParent;
    QString m_dataDirectory;
    CanvasEditorHooks m_hooks;
    EditorDocument m_document;
    CanvasPage *m_page = nullptr;
    PropertyScroll *m_panels = nullptr;
    BackgroundFlow *m_backgrounds = nullptr;
    // An undo or redo is being applied: whatever it changed, the imposition
    // preview is drawn again (it may put back any edit).
    bool m_steppingHistory = false;
};
