#include "canvashistory.h"

#include <algorithm>

namespace {

template<typename Record>
PlacedRecord<Record> placed(const Record &record, qint64 sortOrder)
{
    return {record, sortOrder};
}

template<typename Record>
bool isRecordableStep(const ElementStep<Record> &step)
{
    if (step.before && step.after) {
        const Record &before = step.before->record;
        const Record &after = step.after->record;
        return before.id == after.id && before.id >= 1 && !(before == after);
    }
    if (step.after)
        return step.after->record.id >= 1;
    if (step.before)
        return step.before->record.id >= 1;
    return false;
}

// The one object both entries change, with the before of `earlier` and the
// after of `later`; false when they are not a single modify of the same object.
template<typename Record>
bool foldSteps(QList<ElementStep<Record>> &earlier, const QList<ElementStep<Record>> &later)
{
    if (earlier.size() != later.size())
        return false;
    if (earlier.isEmpty())
        return true;
    ElementStep<Record> &first = earlier.first();
    const ElementStep<Record> &second = later.first();
    if (!first.before || !first.after || !second.before || !second.after
        || first.after->record.id != second.before->record.id)
        return false;
    first.after = second.after;
    return true;
}

// Whether a modify step ends where it started.
template<typename Record>
bool isNetZero(const QList<ElementStep<Record>> &steps)
{
    return std::all_of(steps.cbegin(), steps.cend(), [](const ElementStep<Record> &step) {
        return step.before && step.after && step.before->record == step.after->record;
    });
}

} // namespace

CanvasUndoEntry CanvasUndoEntry::fieldAdded(const TemplateField &field, qint64 sortOrder)
{
    return {{FieldStep{std::nullopt, placed(field, sortOrder)}}, {}, QString(), false};
}

CanvasUndoEntry CanvasUndoEntry::fieldDeleted(const TemplateField &field, qint64 sortOrder)
{
    return {{FieldStep{placed(field, sortOrder), std::nullopt}}, {}, QString(), false};
}

CanvasUndoEntry CanvasUndoEntry::fieldModified(const TemplateField &before, const TemplateField &after,
                                               qint64 sortOrder)
{
    return {{FieldStep{placed(before, sortOrder), placed(after, sortOrder)}}, {}, QString(), false};
}

CanvasUndoEntry CanvasUndoEntry::graphicAdded(const GraphicElement &element, qint64 sortOrder)
{
    return {{}, {GraphicStep{std::nullopt, placed(element, sortOrder)}}, QString(), false};
}

CanvasUndoEntry CanvasUndoEntry::graphicDeleted(const GraphicElement &element, qint64 sortOrder)
{
    return {{}, {GraphicStep{placed(element, sortOrder), std::nullopt}}, QString(), false};
}

CanvasUndoEntry CanvasUndoEntry::graphicModified(const GraphicElement &before, const GraphicElement &after,
                                                 qint64 sortOrder)
{
    return {{}, {GraphicStep{placed(before, sortOrder), placed(after, sortOrder)}}, QString(), false};
}

CanvasUndoEntry CanvasUndoEntry::tableSplit(const PlacedRecord<GraphicElement> &table,
                                            const QList<PlacedRecord<GraphicElement>> &rectangles)
{
    CanvasUndoEntry entry;
    entry.graphicSteps.append(GraphicStep{table, std::nullopt});
    for (const PlacedRecord<GraphicElement> &rectangle : rectangles)
        entry.graphicSteps.append(GraphicStep{std::nullopt, rectangle});
    return entry;
}

void CanvasUndoEntry::append(const CanvasUndoEntry &other)
{
    fieldSteps.append(other.fieldSteps);
    graphicSteps.append(other.graphicSteps);
}

bool CanvasUndoEntry::isRecordable() const
{
    if (fieldSteps.isEmpty() && graphicSteps.isEmpty())
        return false;
    for (const FieldStep &step : fieldSteps) {
        if (!isRecordableStep(step))
            return false;
    }
    for (const GraphicStep &step : graphicSteps) {
        if (!isRecordableStep(step))
            return false;
    }
    return true;
}

bool CanvasHistory::record(const CanvasUndoEntry &entry)
{
    if (m_applying || !entry.isRecordable())
        return false;
    if (m_mergeOpen && entry.mergeable && entry.stepCount() == 1 && m_cursor == m_entries.size()
        && m_cursor > 0) {
        CanvasUndoEntry merged = m_entries.last();
        if (merged.mergeable && merged.label == entry.label && merged.stepCount() == 1
            && foldSteps(merged.fieldSteps, entry.fieldSteps) && foldSteps(merged.graphicSteps, entry.graphicSteps)) {
            if (isNetZero(merged.fieldSteps) && isNetZero(merged.graphicSteps)) {
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
