#include "editordocument.h"

#include "store/projectstore.h"

#include <QRectF>
#include <QStringList>

#include <algorithm>
#include <type_traits>
#include <utility>

namespace {

// The store's operations for each kind of element, so that the document's
// steps are written once for both.
template<typename Record>
struct StoreOps;

template<>
struct StoreOps<TemplateField>
{
    static bool insert(ProjectStore &s, TemplateField *f, QString *e) { return s.insertField(f, e); }
    static bool restore(ProjectStore &s, const TemplateField &f, qint64 order, QString *e)
    {
        return s.restoreField(f, order, e);
    }
    static std::optional<qint64> sortOrder(ProjectStore &s, qint64 id, QString *e)
    {
        return s.fieldSortOrder(id, e);
    }
    static bool update(ProjectStore &s, const TemplateField &f, QString *e) { return s.updateField(f, e); }
    static bool remove(ProjectStore &s, qint64 id, QString *e) { return s.removeField(id, e); }
    static CanvasUndoEntry added(const TemplateField &f, qint64 order) { return CanvasUndoEntry::fieldAdded(f, order); }
    static CanvasUndoEntry deleted(const TemplateField &f, qint64 order)
    {
        return CanvasUndoEntry::fieldDeleted(f, order);
    }
    static CanvasUndoEntry modified(const TemplateField &before, const TemplateField &after, qint64 order)
    {
        return CanvasUndoEntry::fieldModified(before, after, order);
    }
    static QList<TemplateField> &set(DocumentChange &c) { return c.fieldsSet; }
    static QList<TemplateField> &removed(DocumentChange &c) { return c.fieldsRemoved; }
    static QString saveFailedText() { return QStringLiteral("Could not save the field: %1"); }
};

template<>
struct StoreOps<GraphicElement>
{
    static bool insert(ProjectStore &s, GraphicElement *g, QString *e) { return s.insertGraphic(g, e); }
    static bool restore(ProjectStore &s, const GraphicElement &g, qint64 order, QString *e)
    {
        return s.restoreGraphic(g, order, e);
    }
    static std::optional<qint64> sortOrder(ProjectStore &s, qint64 id, QString *e)
    {
        return s.graphicSortOrder(id, e);
    }
    static bool update(ProjectStore &s, const GraphicElement &g, QString *e) { return s.updateGraphic(g, e); }
    static bool remove(ProjectStore &s, qint64 id, QString *e) { return s.removeGraphic(id, e); }
    static CanvasUndoEntry added(const GraphicElement &g, qint64 order)
    {
        return CanvasUndoEntry::graphicAdded(g, order);
    }
    static CanvasUndoEntry deleted(const GraphicElement &g, qint64 order)
    {
        return CanvasUndoEntry::graphicDeleted(g, order);
    }
    static CanvasUndoEntry modified(const GraphicElement &before, const GraphicElement &after, qint64 order)
    {
        return CanvasUndoEntry::graphicModified(before, after, order);
    }
    static QList<GraphicElement> &set(DocumentChange &c) { return c.graphicsSet; }
    static QList<GraphicElement> &removed(DocumentChange &c) { return c.graphicsRemoved; }
    static QString saveFailedText() { return QStringLiteral("Could not save the graphic: %1"); }
};

EditorMessage status(const QString &text, int timeoutMs)
{
    return {EditorMessage::Kind::Status, QString(), text, timeoutMs};
}

EditorMessage critical(const QString &title, const QString &text)
{
    return {EditorMessage::Kind::Critical, title, text, 0};
}

DocumentChange failure(const QString &error, const EditorMessage &message)
{
    DocumentChange change;
    change.ok = false;
    change.error = error;
    change.message = message;
    return change;
}

QString pluralS(int n)
{
    return n == 1 ? QString() : QStringLiteral("s");
}

template<typename Record>
QRectF rectOf(const Record &record)
{
    return QRectF(record.xMm, record.yMm, record.widthMm, record.heightMm);
}

bool isNumberingField(const TemplateField &field)
{
    return isGenerated(field.type);
}

// The steps as they are applied: forwards in order; backwards in reverse
// order, each with its before and after swapped.
template<typename Record>
QList<ElementStep<Record>> stepsToApply(const QList<ElementStep<Record>> &steps, bool forwards)
{
    QList<ElementStep<Record>> ordered;
    for (const ElementStep<Record> &step : steps) {
        if (forwards)
            ordered.append(step);
        else
            ordered.prepend({step.after, step.before});
    }
    return ordered;
}

// One step written to the store: an update, a row put back in its place, or
// a removal.
template<typename Record>
bool writeStep(ProjectStore &store, const ElementStep<Record> &step, QString *error)
{
    if (step.before && step.after)
        return StoreOps<Record>::update(store, step.after->record, error);
    if (step.after)
        return StoreOps<Record>::restore(store, step.after->record, step.after->sortOrder, error);
    if (step.before)
        return StoreOps<Record>::remove(store, step.before->record.id, error);
    return true;
}

// The same step in the document's list and in the change for the window.
template<typename Record>
void applyStep(ElementList<Record> &list, const ElementStep<Record> &step, DocumentChange *change)
{
    if (step.after) {
        list.put(*step.after);
        StoreOps<Record>::set(*change).append(step.after->record);
    } else if (step.before) {
        list.remove(step.before->record.id);
        StoreOps<Record>::removed(*change).append(step.before->record);
    }
}

} // namespace

bool DocumentChange::isEmpty() const
{
    return fieldsSet.isEmpty() && fieldsRemoved.isEmpty() && graphicsSet.isEmpty() && graphicsRemoved.isEmpty();
}

bool DocumentChange::touchesCardNumbering() const
{
    return std::any_of(fieldsSet.cbegin(), fieldsSet.cend(), isNumberingField)
        || std::any_of(fieldsRemoved.cbegin(), fieldsRemoved.cend(), isNumberingField);
}

template<typename Record>
int ElementList<Record>::indexOf(qint64 id) const
{
    for (int i = 0; i < records.size(); ++i) {
        if (records.at(i).id == id)
            return i;
    }
    return -1;
}

template<typename Record>
std::optional<Record> ElementList<Record>::find(qint64 id) const
{
    const int index = indexOf(id);
    if (index < 0)
        return std::nullopt;
    return records.at(index);
}

template<typename Record>
void ElementList<Record>::put(const PlacedRecord<Record> &placed)
{
    const int existing = indexOf(placed.record.id);
    if (existing >= 0 && sortOrders.at(existing) == placed.sortOrder) {
        records[existing] = placed.record;
        return;
    }
    if (existing >= 0)
        remove(placed.record.id);
    int index = 0;
    while (index < records.size()
           && std::pair(sortOrders.at(index), records.at(index).id) < std::pair(placed.sortOrder, placed.record.id))
        ++index;
    records.insert(index, placed.record);
    sortOrders.insert(index, placed.sortOrder);
}

template<typename Record>
void ElementList<Record>::remove(qint64 id)
{
    const int index = indexOf(id);
    if (index < 0)
        return;
    records.removeAt(index);
    sortOrders.removeAt(index);
}

template struct ElementList<TemplateField>;
template struct ElementList<GraphicElement>;

EditorDocument::EditorDocument(ProjectStore &store) : m_store(store) {}

template<>
ElementList<TemplateField> &EditorDocument::listOf<TemplateField>()
{
    return m_fields;
}

template<>
ElementList<GraphicElement> &EditorDocument::listOf<GraphicElement>()
{
    return m_graphics;
}

bool EditorDocument::open(qint64 projectId, QString *error)
{
    // A failed load reports its text and returns an empty list, which is
    // also what a project without elements gives: the text tells them apart.
    QString message;
    ElementList<TemplateField> fields;
    fields.records = m_store.loadFields(projectId, &message, &fields.sortOrders);
    if (message.isEmpty()) {
        ElementList<GraphicElement> graphics;
        graphics.records = m_store.loadGraphics(projectId, &message, &graphics.sortOrders);
        if (message.isEmpty()) {
            m_projectId = projectId;
            m_fields = fields;
            m_graphics = graphics;
            m_history.clear();
            return true;
        }
    }
    if (error)
        *error = message;
    return false;
}

QList<TemplateField> EditorDocument::fieldsOnSide(const QString &side) const
{
    QList<TemplateField> onSide;
    for (const TemplateField &f : m_fields.records) {
        if (f.side == cardSideFromKey(side))
            onSide.append(f);
    }
    return onSide;
}

QList<GraphicElement> EditorDocument::graphicsOnSide(const QString &side) const
{
    QList<GraphicElement> onSide;
    for (const GraphicElement &g : m_graphics.records) {
        if (g.side == cardSideFromKey(side))
            onSide.append(g);
    }
    return onSide;
}

bool EditorDocument::writeAtomically(const std::function<bool(QString *)> &steps, QString *error)
{
    if (!m_store.beginTransaction(error))
        return false;
    if (!steps(error) || !m_store.commitTransaction(error)) {
        m_store.rollBackTransaction();
        return false;
    }
    return true;
}

template<typename Record>
DocumentChange EditorDocument::insertElement(Record record, const QString &failureTitle,
                                             const QString &successText, int successTimeoutMs)
{
    using Ops = StoreOps<Record>;
    record.projectId = m_projectId;
    qint64 sortOrder = 0;
    QString error;
    // The new row and its place in the drawing order are read together, so
    // that the document never holds a record the store does not.
    const bool written = writeAtomically(
        [&](QString *e) {
            if (!Ops::insert(m_store, &record, e))
                return false;
            const std::optional<qint64> order = Ops::sortOrder(m_store, record.id, e);
            if (!order)
                return false;
            sortOrder = *order;
            return true;
        },
        &error);
    if (!written)
        return failure(error, critical(failureTitle, error));

    listOf<Record>().put({record, sortOrder});
    m_history.record(Ops::added(record, sortOrder));
    DocumentChange change;
    Ops::set(change).append(record);
    if (!successText.isEmpty())
        change.message = status(successText, successTimeoutMs);
    return change;
}

DocumentChange EditorDocument::addField(TemplateField field)
{
    return insertElement(std::move(field), QStringLiteral("Add Field Failed"), QString(), 0);
}

DocumentChange EditorDocument::addGraphic(GraphicElement element)
{
    return insertElement(std::move(element), QStringLiteral("Add Graphic Failed"), QString(), 0);
}

DocumentChange EditorDocument::pasteField(TemplateField field, const QString &side)
{
    field.side = cardSideFromKey(side);
    return insertElement(std::move(field), QStringLiteral("Paste Field Failed"), QStringLiteral("Field pasted"),
                         2000);
}

DocumentChange EditorDocument::pasteGraphic(GraphicElement element, const QString &side)
{
    element.side = cardSideFromKey(side);
    return insertElement(std::move(element), QStringLiteral("Paste Graphic Failed"),
                         QStringLiteral("Graphic pasted"), 2000);
}

// Writes one stored element's new state; true when nothing failed (an
// unknown id or an unchanged record writes nothing).
template<typename Record>
bool EditorDocument::modifyElement(Record edited, QString *error, DocumentChange *change)
{
    using Ops = StoreOps<Record>;
    ElementList<Record> &list = listOf<Record>();
    const int index = list.indexOf(edited.id);
    if (index < 0)
        return true;
    const Record before = list.records.at(index);
    const qint64 sortOrder = list.sortOrders.at(index);
    // The update statement changes neither, so the held record must not either.
    edited.projectId = before.projectId;
    if constexpr (std::is_same_v<Record, GraphicElement>)
        edited.type = before.type;
    if (edited == before)
        return true;
    if (!Ops::update(m_store, edited, error))
        return false;
    list.put({edited, sortOrder});
    m_history.record(Ops::modified(before, edited, sortOrder));
    Ops::set(*change).append(edited);
    return true;
}

DocumentChange EditorDocument::modifyField(TemplateField edited)
{
    DocumentChange change;
    QString error;
    if (!modifyElement(std::move(edited), &error, &change))
        return settled(failure(error, status(StoreOps<TemplateField>::saveFailedText().arg(error), 6000)));
    return change;
}

DocumentChange EditorDocument::modifyGraphic(GraphicElement edited)
{
    DocumentChange change;
    QString error;
    if (!modifyElement(std::move(edited), &error, &change))
        return settled(failure(error, status(StoreOps<GraphicElement>::saveFailedText().arg(error), 6000)));
    return change;
}

// Deletes one stored element; true when nothing failed (an unknown id
// deletes nothing).
template<typename Record>
bool EditorDocument::deleteElement(qint64 id, QString *error, DocumentChange *change)
{
    using Ops = StoreOps<Record>;
    ElementList<Record> &list = listOf<Record>();
    const int index = list.indexOf(id);
    if (index < 0)
        return true;
    const Record record = list.records.at(index);
    const qint64 sortOrder = list.sortOrders.at(index);
    if (!Ops::remove(m_store, id, error))
        return false;
    list.remove(id);
    m_history.record(Ops::deleted(record, sortOrder));
    Ops::removed(*change).append(record);
    return true;
}

DocumentChange EditorDocument::deleteField(qint64 id)
{
    DocumentChange change;
    QString error;
    if (!deleteElement<TemplateField>(id, &error, &change))
        return settled(failure(error, critical(QStringLiteral("Could Not Delete Field"), error)));
    return change;
}

DocumentChange EditorDocument::deleteGraphic(qint64 id)
{
    DocumentChange change;
    QString error;
    if (!deleteElement<GraphicElement>(id, &error, &change))
        return settled(failure(error, critical(QStringLiteral("Delete Graphic Failed"), error)));
    return change;
}

DocumentChange EditorDocument::deleteObjects(const QList<ElementRef> &selection)
{
    DocumentChange change;
    if (selection.isEmpty())
        return change;
    QStringList errors;
    for (const ElementRef::Kind kind : {ElementRef::Kind::Field, ElementRef::Kind::Graphic}) {
        for (const ElementRef &ref : selection) {
            if (ref.kind != kind)
                continue;
            QString error;
            const bool deleted = kind == ElementRef::Kind::Field
                ? deleteElement<TemplateField>(ref.id, &error, &change)
                : deleteElement<GraphicElement>(ref.id, &error, &change);
            if (!deleted)
                errors.append(error);
        }
    }
    const int deleted = int(change.fieldsRemoved.size() + change.graphicsRemoved.size());
    if (errors.isEmpty()) {
        change.message = status(QStringLiteral("Deleted %1 selected object%2").arg(deleted).arg(pluralS(deleted)),
                                2500);
    } else {
        change.ok = false;
        change.error = errors.join(QStringLiteral("; "));
        change.message = status(QStringLiteral("Deleted %1 object(s); %2 failed: %3")
                                    .arg(deleted)
                                    .arg(errors.size())
                                    .arg(change.error),
                                6000);
    }
    return settled(std::move(change));
}

DocumentChange EditorDocument::alignObjects(AlignMode mode, const QList<ElementRef> &selection,
                                            const ElementRef &anchor)
{
    DocumentChange change;
    if (selection.size() < 2) {
        change.message = status(QStringLiteral("Hold Shift and select at least two objects."), 2500);
        return change;
    }
    const ElementRef anchorRef = selection.contains(anchor) ? anchor : selection.first();
    std::optional<QRectF> anchorRect;
    if (anchorRef.kind == ElementRef::Kind::Field) {
        if (const std::optional<TemplateField> f = field(anchorRef.id))
            anchorRect = rectOf(*f);
    } else if (const std::optional<GraphicElement> g = graphic(anchorRef.id)) {
        anchorRect = rectOf(*g);
    }

    QStringList errors;
    if (anchorRect) {
        for (const ElementRef &ref : selection) {
            if (ref == anchorRef)
                continue;
            QString error;
            bool saved = true;
            if (ref.kind == ElementRef::Kind::Field) {
                if (std::optional<TemplateField> f = field(ref.id)) {
                    const QPointF position = alignedPosition(mode, *anchorRect, rectOf(*f));
                    f->xMm = position.x();
                    f->yMm = position.y();
                    saved = modifyElement(*f, &error, &change);
                }
            } else if (std::optional<GraphicElement> g = graphic(ref.id)) {
                const QPointF position = alignedPosition(mode, *anchorRect, rectOf(*g));
                g->xMm = position.x();
                g->yMm = position.y();
                saved = modifyElement(*g, &error, &change);
            }
            if (!saved)
                errors.append(error);
        }
    }
    if (errors.isEmpty()) {
        change.message = status(QStringLiteral("Moved and aligned %1 objects; the last selected anchor stayed in place")
                                    .arg(selection.size() - 1),
                                2200);
    } else {
        change.ok = false;
        change.error = errors.join(QStringLiteral("; "));
        change.message = status(QStringLiteral("Some objects failed to save after alignment: %1").arg(change.error),
                                6000);
    }
    return settled(std::move(change));
}

DocumentChange EditorDocument::splitTable(qint64 tableId)
{
    const int index = m_graphics.indexOf(tableId);
    if (index < 0 || m_graphics.records.at(index).type != ElementKind::Table)
        return {};
    const PlacedRecord<GraphicElement> table{m_graphics.records.at(index), m_graphics.sortOrders.at(index)};
    const QString title = QStringLiteral("Could Not Split Table");

    QList<GraphicElement> cells = splitTableCells(table.record);
    if (cells.isEmpty()) {
        const QString text = tableSplitRefusal(table.record);
        return failure(text, critical(title, text));
    }

    QList<PlacedRecord<GraphicElement>> rectangles;
    QString error;
    const bool written = writeAtomically(
        [&](QString *e) {
            for (GraphicElement &cell : cells) {
                cell.projectId = m_projectId;
                if (!m_store.insertGraphic(&cell, e))
                    return false;
                const std::optional<qint64> order = m_store.graphicSortOrder(cell.id, e);
                if (!order)
                    return false;
                rectangles.append({cell, *order});
            }
            return m_store.removeGraphic(table.record.id, e);
        },
        &error);
    if (!written)
        return settled(failure(error, critical(title, error)));

    DocumentChange change;
    m_graphics.remove(table.record.id);
    change.graphicsRemoved.append(table.record);
    for (const PlacedRecord<GraphicElement> &rectangle : std::as_const(rectangles)) {
        m_graphics.put(rectangle);
        change.graphicsSet.append(rectangle.record);
    }
    m_history.record(CanvasUndoEntry::tableSplit(table, rectangles));
    change.message =
        status(QStringLiteral("Split the table into %1 independent rectangles.").arg(rectangles.size()), 3000);
    return change;
}

DocumentChange EditorDocument::applyEntry(const CanvasUndoEntry &entry, bool forwards)
{
    const QList<FieldStep> fieldSteps = stepsToApply(entry.fieldSteps, forwards);
    const QList<GraphicStep> graphicSteps = stepsToApply(entry.graphicSteps, forwards);

    QString error;
    m_history.setApplying(true);
    const bool written = writeAtomically(
        [&](QString *e) {
            for (const FieldStep &step : fieldSteps) {
                if (!writeStep(m_store, step, e))
                    return false;
            }
            for (const GraphicStep &step : graphicSteps) {
                if (!writeStep(m_store, step, e))
                    return false;
            }
            return true;
        },
        &error);
    m_history.setApplying(false);
    if (!written)
        return settled(failure(error, critical(QStringLiteral("Could Not Apply Undo/Redo"), error)));

    DocumentChange change;
    for (const FieldStep &step : fieldSteps)
        applyStep(m_fields, step, &change);
    for (const GraphicStep &step : graphicSteps)
        applyStep(m_graphics, step, &change);
    return change;
}

DocumentChange EditorDocument::settled(DocumentChange change)
{
    if (change.ok || !change.error.contains(elementRemovedElsewhereMessage()))
        return change;
    // What the document holds no longer matches the store, so it is read
    // again; the history keeps its place, and an entry that refers to the
    // vanished object fails the same way when undone or redone.
    QString message;
    ElementList<TemplateField> fields;
    fields.records = m_store.loadFields(m_projectId, &message, &fields.sortOrders);
    ElementList<GraphicElement> graphics;
    if (message.isEmpty())
        graphics.records = m_store.loadGraphics(m_projectId, &message, &graphics.sortOrders);
    if (message.isEmpty()) {
        m_fields = fields;
        m_graphics = graphics;
        change.reloaded = true;
    }
    change.message = critical(QStringLiteral("Object Removed Elsewhere"), elementRemovedElsewhereMessage());
    return change;
}

DocumentChange EditorDocument::undo()
{
    const CanvasUndoEntry *entry = m_history.undoEntry();
    if (!entry) {
        DocumentChange change;
        change.message = status(QStringLiteral("Nothing to undo"), 1500);
        return change;
    }
    DocumentChange change = applyEntry(*entry, false);
    if (change.ok) {
        m_history.stepBack();
        change.message = status(QStringLiteral("Undone"), 1500);
    }
    return change;
}

DocumentChange EditorDocument::redo()
{
    const CanvasUndoEntry *entry = m_history.redoEntry();
    if (!entry) {
        DocumentChange change;
        change.message = status(QStringLiteral("Nothing to redo"), 1500);
        return change;
    }
    DocumentChange change = applyEntry(*entry, true);
    if (change.ok) {
        m_history.stepForward();
        change.message = status(QStringLiteral("Redone"), 1500);
    }
    return change;
}
