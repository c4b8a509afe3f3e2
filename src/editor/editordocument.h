#pragma once

#include "editor/canvashistory.h"
#include "editor/editorgeometry.h"
#include "model/templateelement.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

class ProjectStore;

// What the window tells the user after an operation: a status-bar text shown
// for `timeoutMs`, or a critical message box titled `title`.
struct EditorMessage
{
    enum class Kind { None, Status, Critical };

    Kind kind = Kind::None;
    QString title;
    QString text;
    int timeoutMs = 0;

    friend bool operator==(const EditorMessage &, const EditorMessage &) = default;
};

// What an operation did, for the window's canvases and panels. `set` holds
// the elements now stored that were added, put back or modified, in the
// order they were written (a new canvas item for an element it does not show
// yet, an update otherwise; after an add or a split the first of a group is
// the one to select); `removed` holds the elements whose rows are gone. `ok`
// is false when a database step failed or the operation refused; `error`
// then holds the reasons, joined by "; ".
struct DocumentChange
{
    bool ok = true;
    // An edited object's row was gone from the store (another program removed
    // it): the edit failed, nothing of it was recorded for undo, and the
    // document's elements were loaded again from the store, so the canvases
    // are to be drawn again from the document.
    bool reloaded = false;
    QString error;
    EditorMessage message;
    QList<TemplateElement> set;
    QList<TemplateElement> removed;

    // The records of one group of `set` and `removed`.
    QList<TemplateField> fieldsSet() const { return fieldsOf(set); }
    QList<TemplateField> fieldsRemoved() const { return fieldsOf(removed); }
    QList<GraphicElement> graphicsSet() const { return graphicsOf(set); }
    QList<GraphicElement> graphicsRemoved() const { return graphicsOf(removed); }

    bool isEmpty() const;
    // A scratch or sequence field came, went or changed: the card numbering
    // and the prizes depend on the set of fields (preview and data page).
    bool touchesCardNumbering() const;
};

Q_DECLARE_METATYPE(DocumentChange)

// A project's template elements, each with the sort_order of its row, kept in
// step with the store: the fields in drawing order, then the graphics in
// drawing order, as the store loads them.
struct ElementList
{
    QList<TemplateElement> elements;
    QList<qint64> sortOrders;

    int indexOf(const ElementRef &ref) const;
    std::optional<TemplateElement> find(const ElementRef &ref) const;
    // Replaces the element with the same ref in place, or inserts it where
    // the store's order (group, sort_order, then id) puts it.
    void put(const PlacedElement &placed);
    void remove(const ElementRef &ref);
};

// The template of one project as the editor works on it: its fields and
// graphics (both sides), the selection and the undo history. Every template
// edit goes through here: the store is written at once, the lists follow only
// what was written, and one user action is one labelled undo entry, recorded
// only when all of its database steps succeeded in one transaction.
// Operations return what changed plus the texts for the user, and announce
// the change with `changed` for the views; nothing here touches a widget.
class EditorDocument : public QObject
{
    Q_OBJECT

public:
    explicit EditorDocument(ProjectStore &store, QObject *parent = nullptr);

    // Loads the project's elements, empties the selection and the history.
    // On failure the document stays as it was.
    bool open(qint64 projectId, QString *error = nullptr);
    qint64 projectId() const { return m_projectId; }

    // Both sides: the fields in drawing order, then the graphics in drawing order.
    const QList<TemplateElement> &elements() const { return m_elements.elements; }
    std::optional<TemplateElement> element(const ElementRef &ref) const { return m_elements.find(ref); }
    // The records of one group, for the views that paint or list them.
    QList<TemplateField> fields() const { return fieldsOf(m_elements.elements); }
    QList<GraphicElement> graphics() const { return graphicsOf(m_elements.elements); }
    QList<TemplateField> fieldsOnSide(CardSide side) const;
    QList<GraphicElement> graphicsOnSide(CardSide side) const;
    std::optional<TemplateField> field(qint64 id) const;
    std::optional<GraphicElement> graphic(qint64 id) const;

    const CanvasHistory &history() const { return m_history; }

    // The selected objects in the order they were selected; the last is the
    // alignment anchor. Objects the document does not hold are left out.
    const QList<ElementRef> &selection() const { return m_selection; }
    std::optional<ElementRef> anchor() const;
    void setSelection(const QList<ElementRef> &selection);

    // A tool's new element (project set here, side as given), inserted as a
    // new row and then selected. `label` names the undo step; empty gives the
    // tool's name ("Add Text Field", "Add Circle").
    DocumentChange addElement(TemplateElement element, const QString &label = QString());
    // Copied objects pasted on `side` (project and side set here) as one
    // "Paste" step, all or nothing, and then selected.
    DocumentChange pasteElements(const QList<TemplateElement> &elements, CardSide side);

    // A committed move or resize, or a property edit, of a stored element
    // (found by its group and id; an unknown one changes nothing). A graphic
    // keeps its kind. Without `label` the step is named after what changed
    // ("Move", "Resize", "Change Font Size"); a property edit merges with the
    // next edit of the same property of the same object.
    DocumentChange modifyElement(const TemplateElement &edited, const QString &label = QString());
    // Several objects changed by one gesture (a drag of the selection): one
    // step, all or nothing, named "Move" or "Resize" when `label` is empty.
    DocumentChange modifyElements(const QList<TemplateElement> &edited, const QString &label = QString());

    // "Delete Current Field" / "Delete Current Graphic", and the selection
    // delete (fields first, then graphics): one step, all or nothing.
    DocumentChange deleteElement(const ElementRef &ref);
    DocumentChange deleteElements(const QList<ElementRef> &selection);

    // Moves every selected object but the anchor into line with the anchor,
    // as one step named after the mode ("Align Left"). An anchor that is not
    // among the selection falls back to the first selected object; the
    // overload without arguments aligns the document's own selection.
    DocumentChange alignObjects(AlignMode mode, const QList<ElementRef> &selection, const ElementRef &anchor);
    DocumentChange alignSelection(AlignMode mode);

    // Replaces a table by its cells as rectangles, all or nothing, as one undo
    // step. Anything but a stored "table" is left alone.
    DocumentChange splitTable(qint64 tableId);

    DocumentChange undo();
    DocumentChange redo();

signals:
    // Elements were added, removed or modified (a change that is not empty or
    // that was `reloaded`), after the document's lists were brought up to date.
    void changed(const DocumentChange &change);
    void selectionChanged();
    // What undo and redo would do changed (their labels, whether possible).
    void historyChanged();

private:
    // Runs `build` (which writes the store and describes each written step in
    // the entry) in one transaction; on success the list follows the steps,
    // the entry is recorded as `label` and the change describes the steps.
    // On failure nothing remains in the store, the list or the history.
    DocumentChange perform(const QString &label, bool mergeable,
                           const std::function<bool(CanvasUndoEntry *, QString *)> &build, QString *error);
    bool insertStep(TemplateElement element, CanvasUndoEntry *entry, QString *error);
    bool modifyStep(TemplateElement edited, CanvasUndoEntry *entry, QString *error);
    bool deleteStep(const ElementRef &ref, CanvasUndoEntry *entry, QString *error);
    DocumentChange insertElements(const QList<TemplateElement> &elements, const QString &label,
                                  const QString &failureTitle, const EditorMessage &success);
    DocumentChange writeModifications(const QList<TemplateElement> &edited, const QString &label, bool mergeable,
                                      const QString &saveFailedText);
    DocumentChange applyEntry(const CanvasUndoEntry &entry, bool forwards);
    // A failed operation whose object was gone from the store: the elements
    // are loaded again (the history stays as it was) and the user is told.
    DocumentChange settled(DocumentChange change);
    // Runs `steps` in one transaction: when a step or the commit fails, the
    // transaction is rolled back and nothing of it remains.
    bool writeAtomically(const std::function<bool(QString *)> &steps, QString *error);
    // Announces `change` and the history, and drops removed objects from the
    // selection; returns `change`.
    DocumentChange announce(DocumentChange change);
    void pruneSelection();
    // The project's elements as the store holds them now; nothing when the
    // load failed (`error` says why).
    std::optional<ElementList> loadList(qint64 projectId, QString *error);

    ProjectStore &m_store;
    qint64 m_projectId = 0;
    ElementList m_elements;
    QList<ElementRef> m_selection;
    CanvasHistory m_history;
};

// The name of an alignment as its button says it ("Align Left", "Align
// Horizontal Center", …), also the label of its undo step.
QString alignModeName(AlignMode mode);
// The undo label of an edit from `before` to `after` of one object: "Move"
// and "Resize" for the position and size, else "Change " and the property
// panel's row label of the first member that differs ("Change Font Size").
QString fieldEditLabel(const TemplateField &before, const TemplateField &after);
QString graphicEditLabel(const GraphicElement &before, const GraphicElement &after);
// The same for an edit in the property panel, where the position and size
// are rows too: "Change X Position", "Change Width", … (so that a burst on one
// spin box merges like any other property).
QString fieldPanelEditLabel(const TemplateField &before, const TemplateField &after);
QString graphicPanelEditLabel(const GraphicElement &before, const GraphicElement &after);
