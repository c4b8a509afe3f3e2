#pragma once

#include "model/templateelement.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

// A stored element and its place in its group's drawing order (the
// sort_order of its row), so that a row put back by undo or redo is drawn
// where it was.
struct PlacedElement
{
    TemplateElement element;
    qint64 sortOrder = 0;

    friend bool operator==(const PlacedElement &, const PlacedElement &) = default;
};

// One element's change, keyed by its group and database id: without
// "before" the row was inserted, without "after" it was deleted, with both
// it was modified (in place: an update never moves a row in the drawing
// order).
struct ElementStep
{
    std::optional<PlacedElement> before;
    std::optional<PlacedElement> after;

    friend bool operator==(const ElementStep &, const ElementStep &) = default;
};

// One user action as one undoable change: the add, delete or modify of one
// or several fields and graphics (an align, a selection delete, a paste, a
// drag of several objects), or a table split (the table deleted, its
// rectangles added). Redo applies the steps in list order, undo reverses each
// step in reverse order, all in one transaction. `label` names the action for
// the Edit menu ("Align Left", "Delete 3 Objects").
struct CanvasUndoEntry
{
    QList<ElementStep> steps;
    QString label;
    // A property edit of one object: the next edit of the same property of
    // the same object (same label) joins this entry instead of adding one.
    bool mergeable = false;

    static CanvasUndoEntry added(const TemplateElement &element, qint64 sortOrder);
    static CanvasUndoEntry deleted(const TemplateElement &element, qint64 sortOrder);
    static CanvasUndoEntry modified(const TemplateElement &before, const TemplateElement &after, qint64 sortOrder);
    static CanvasUndoEntry tableSplit(const PlacedElement &table, const QList<PlacedElement> &rectangles);

    // The steps of `other` appended after this entry's.
    void append(const CanvasUndoEntry &other);
    int stepCount() const { return int(steps.size()); }

    // The recording rules for its steps: an add or a delete needs a stored id
    // (at least 1); a modify needs one stored element (same group and id) on
    // both sides and a record that differs in some member. An entry without
    // steps is not recordable.
    bool isRecordable() const;

    friend bool operator==(const CanvasUndoEntry &, const CanvasUndoEntry &) = default;
};

// The undo history: a list of entries and a cursor, the number of entries
// currently applied. It holds at most `maximumEntries`; recording discards the
// redo tail first, and beyond the limit drops the oldest entry. A mergeable
// entry recorded right after a mergeable entry for the same single object and
// label (with no undo or redo in between) is folded into it; a fold that
// leaves the object as it was before the first edit drops the entry.
class CanvasHistory
{
public:
    static constexpr int maximumEntries = 200;

    // Records `entry` unless an entry is being applied or it is not
    // recordable; returns whether it was recorded (or folded into the last).
    bool record(const CanvasUndoEntry &entry);

    int count() const { return int(m_entries.size()); }
    int cursor() const { return m_cursor; }
    bool canUndo() const { return m_cursor > 0; }
    bool canRedo() const { return m_cursor < m_entries.size(); }
    // The entry undo would apply backwards (cursor − 1), and the one redo
    // would apply forwards (cursor); null when there is none.
    const CanvasUndoEntry *undoEntry() const;
    const CanvasUndoEntry *redoEntry() const;
    // The labels of those entries; empty when there is none.
    QString undoLabel() const;
    QString redoLabel() const;
    // Move the cursor after the entry was applied successfully. Either ends
    // the folding of edits into the last entry.
    void stepBack();
    void stepForward();

    // Set while an entry is applied: nothing is recorded meanwhile.
    void setApplying(bool applying) { m_applying = applying; }
    bool isApplying() const { return m_applying; }

    void clear();

private:
    QList<CanvasUndoEntry> m_entries;
    int m_cursor = 0;
    bool m_applying = false;
    // The last recorded entry may take the next edit in (no undo or redo since).
    bool m_mergeOpen = false;
};
