#include "canvashistory.h"

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

} // namespace

CanvasUndoEntry CanvasUndoEntry::fieldAdded(const TemplateField &field, qint64 sortOrder)
{
    return {{FieldStep{std::nullopt, placed(field, sortOrder)}}, {}};
}

CanvasUndoEntry CanvasUndoEntry::fieldDeleted(const TemplateField &field, qint64 sortOrder)
{
    return {{FieldStep{placed(field, sortOrder), std::nullopt}}, {}};
}

CanvasUndoEntry CanvasUndoEntry::fieldModified(const TemplateField &before, const TemplateField &after,
                                               qint64 sortOrder)
{
    return {{FieldStep{placed(before, sortOrder), placed(after, sortOrder)}}, {}};
}

CanvasUndoEntry CanvasUndoEntry::graphicAdded(const GraphicElement &element, qint64 sortOrder)
{
    return {{}, {GraphicStep{std::nullopt, placed(element, sortOrder)}}};
}

CanvasUndoEntry CanvasUndoEntry::graphicDeleted(const GraphicElement &element, qint64 sortOrder)
{
    return {{}, {GraphicStep{placed(element, sortOrder), std::nullopt}}};
}

CanvasUndoEntry CanvasUndoEntry::graphicModified(const GraphicElement &before, const GraphicElement &after,
                                                 qint64 sortOrder)
{
    return {{}, {GraphicStep{placed(before, sortOrder), placed(after, sortOrder)}}};
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
    m_entries.resize(m_cursor);
    m_entries.append(entry);
    m_cursor = int(m_entries.size());
    if (m_entries.size() > maximumEntries) {
        m_entries.removeFirst();
        --m_cursor;
    }
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

void CanvasHistory::stepBack()
{
    if (canUndo())
        --m_cursor;
}

void CanvasHistory::stepForward()
{
    if (canRedo())
        ++m_cursor;
}

void CanvasHistory::clear()
{
    m_entries.clear();
    m_cursor = 0;
}
