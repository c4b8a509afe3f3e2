#include "canvashistory.h"

#include <algorithm>

namespace {

bool isRecordableStep(const ElementStep &step)
{
    if (step.before && step.after) {
        const TemplateElement &before = step.before->element;
        const TemplateElement &after = step.after->element;
        return refOf(before) == refOf(after) && idOf(before) >= 1 && !(before == after);
    }
    if (step.after)
        return idOf(step.after->element) >= 1;
    if (step.before)
        return idOf(step.before->element) >= 1;
    return false;
}

// The one object both entries change, with the before of `earlier` and the
// after of `later`; false when they are not a single modify of the same object.
bool foldSteps(QList<ElementStep> &earlier, const QList<ElementStep> &later)
{
    if (earlier.size() != 1 || later.size() != 1)
        return false;
    ElementStep &first = earlier.first();
    const ElementStep &second = later.first();
    if (!first.before || !first.after || !second.before || !second.after
        || refOf(first.after->element) != refOf(second.before->element))
        return false;
    first.after = second.after;
    return true;
}

// Whether a modify step ends where it started.
bool isNetZero(const QList<ElementStep> &steps)
{
    return std::all_of(steps.cbegin(), steps.cend(), [](const ElementStep &step) {
        return step.before && step.after && step.before->element == step.after->element;
    });
}

} // namespace

CanvasUndoEntry CanvasUndoEntry::added(const TemplateElement &element, qint64 sortOrder)
{
    return {{ElementStep{std::nullopt, PlacedElement{element, sortOrder}}}, QString(), false};
}

CanvasUndoEntry CanvasUndoEntry::deleted(const TemplateElement &element, qint64 sortOrder)
{
    return {{ElementStep{PlacedElement{element, sortOrder}, std::nullopt}}, QString(), false};
}

CanvasUndoEntry CanvasUndoEntry::modified(const TemplateElement &before, const TemplateElement &after,
                                          qint64 sortOrder)
{
    return {{ElementStep{PlacedElement{before, sortOrder}, PlacedElement{after, sortOrder}}}, QString(), false};
}

CanvasUndoEntry CanvasUndoEntry::tableSplit(const PlacedElement &table, const QList<PlacedElement> &rectangles)
{
    CanvasUndoEntry entry;
    entry.steps.append(ElementStep{table, std::nullopt});
    for (const PlacedElement &rectangle : rectangles)
        entry.steps.append(ElementStep{std::nullopt, rectangle});
    return entry;
}

void CanvasUndoEntry::append(const CanvasUndoEntry &other)
{
    steps.append(other.steps);
}

bool CanvasUndoEntry::isRecordable() const
{
    return !steps.isEmpty() && std::all_of(steps.cbegin(), steps.cend(), isRecordableStep);
}

bool CanvasHistory::record(const CanvasUndoEntry &entry)
{
    if (m_applying || !entry.isRecordable())
        return false;
    if (m_mergeOpen && entry.mergeable && entry.stepCount() == 1 && m_cursor == m_entries.size()
        && m_cursor > 0) {
        CanvasUndoEntry merged = m_entries.last();
        if (merged.mergeable && merged.label == entry.label && merged.stepCount() == 1
            && foldSteps(merged.steps, entry.steps)) {
            if (isNetZero(merged.steps)) {
                m_entries.removeLast();
                m_cursor = int(m_entries.size());
                m_mergeOpen = false;
            } else {
                m_entries.last() = merged;
            }
            return true;
        }
    }
    m_entries.resize(m_cursor);
    m_entries.append(entry);
    m_cursor = int(m_entries.size());
    if (m_entries.size() > maximumEntries) {
        m_entries.removeFirst();
        --m_cursor;
    }
    m_mergeOpen = entry.mergeable;
    return true;
}

const CanvasUndoEntry *CanvasHistory::undoEntry() const
{
    return canUndo() ? &m_entries.at(m_cursor - 1) : nullptr;
}

const CanvasUndoEntry *CanvasHistory::redoEntry() const
{
    return canRedo() ? &m_entries.at(m_cursor) : nullptr;
}

QString CanvasHistory::undoLabel() const
{
    const CanvasUndoEntry *entry = undoEntry();
    return entry ? entry->label : QString();
}

QString CanvasHistory::redoLabel() const
{
    const CanvasUndoEntry *entry = redoEntry();
    return entry ? entry->label : QString();
}

void CanvasHistory::stepBack()
{
    m_mergeOpen = false;
    if (canUndo())
        --m_cursor;
}

void CanvasHistory::stepForward()
{
    m_mergeOpen = false;
    if (canRedo())
        ++m_cursor;
}

void CanvasHistory::clear()
{
    m_entries.clear();
    m_cursor = 0;
    m_mergeOpen = false;
}
