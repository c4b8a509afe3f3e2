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

namespace {

// The first member that differs, as the property panel's row names it.
struct MemberLabel
{
    bool differs;
    const char *label;
};

QString editLabel(std::initializer_list<MemberLabel> members)
{
    for (const MemberLabel &member : members) {
        if (member.differs)
            return QStringLiteral("Change %1").arg(QLatin1String(member.label));
    }
    return QStringLiteral("Change Properties");
}

template<typename Record>
QString geometryLabel(const Record &before, const Record &after)
{
    if (before.widthMm != after.widthMm || before.heightMm != after.heightMm)
        return QStringLiteral("Resize");
    if (before.xMm != after.xMm || before.yMm != after.yMm)
        return QStringLiteral("Move");
    return QString();
}

template<typename Record>
Record withGeometryOf(Record record, const Record &other)
{
    record.xMm = other.xMm;
    record.yMm = other.yMm;
    record.widthMm = other.widthMm;
    record.heightMm = other.heightMm;
    return record;
}

// The tools' names: "Add Text Field", "Add Barcode", …
QString addFieldLabel(const TemplateField &field)
{
    if (field.type == ElementKind::Sequence)
        return QStringLiteral("Add Sequence");
    if (field.type == ElementKind::Barcode)
        return QStringLiteral("Add Barcode");
    if (field.type == ElementKind::QrCode)
        return QStringLiteral("Add QR Code");
    if (field.type == ElementKind::Scratch)
        return QStringLiteral("Add Scratch Card");
    return QStringLiteral("Add Text Field");
}

QString graphicKindName(const GraphicElement &element)
{
    if (element.type == ElementKind::Ellipse)
        return QStringLiteral("Circle");
    if (element.type == ElementKind::Rectangle)
        return QStringLiteral("Rectangle");
    if (element.type == ElementKind::Table)
        return QStringLiteral("Table");
    return QStringLiteral("Line");
}

} // namespace

QString alignModeName(AlignMode mode)
{
    switch (mode) {
    case AlignMode::Left:
        return QStringLiteral("Align Left");
    case AlignMode::HorizontalCenter:
        return QStringLiteral("Align Horizontal Center");
    case AlignMode::Right:
        return QStringLiteral("Align Right");
    case AlignMode::Top:
        return QStringLiteral("Align Top");
    case AlignMode::VerticalCenter:
        return QStringLiteral("Align Vertical Center");
    case AlignMode::Bottom:
        return QStringLiteral("Align Bottom");
    }
    return QStringLiteral("Align");
}

QString fieldEditLabel(const TemplateField &before, const TemplateField &after)
{
    // A property edit may refit the box as well: the property names the step.
    if (withGeometryOf(before, after) == after)
        return geometryLabel(before, after);
    return fieldPanelEditLabel(before, after);
}

QString fieldPanelEditLabel(const TemplateField &before, const TemplateField &after)
{
    const TemplateField &b = before;
    const TemplateField &a = after;
    return editLabel({
        {b.name != a.name, "Field Name"},
        {b.dataColumn != a.dataColumn, "Select Field"},
        {b.barcodeFormat != a.barcodeFormat, "BarcodeType"},
        {b.barcodeShowText != a.barcodeShowText, "Show Text"},
        {b.sequencePrefix != a.sequencePrefix, "Sequence Prefix"},
        {b.sequenceDigits != a.sequenceDigits, "Sequence Digits"},
        {b.sequenceStep != a.sequenceStep, "Sequence Step"},
        {b.sequenceExcludeFour != a.sequenceExcludeFour, "Exclude 4"},
        {b.scratchMode != a.scratchMode || b.scratchTotal != a.scratchTotal
             || b.scratchPrizesJson != a.scratchPrizesJson,
         "Prize Settings"},
        {b.fontFamily != a.fontFamily, "Font"},
        {b.fontSizePt != a.fontSizePt, "Font Size"},
        {b.bold != a.bold, "Font Weight"},
        {b.alignment != a.alignment, "Alignment"},
        {b.colorHex != a.colorHex, "Color"},
        {b.xMm != a.xMm, "X Position"},
        {b.yMm != a.yMm, "Y Position"},
        {b.widthMm != a.widthMm, "Width"},
        {b.heightMm != a.heightMm, "Height"},
        {b.type != a.type || b.side != a.side, "Properties"},
    });
}

QString graphicEditLabel(const GraphicElement &before, const GraphicElement &after)
{
    if (withGeometryOf(before, after) == after)
        return geometryLabel(before, after);
    return graphicPanelEditLabel(before, after);
}

QString graphicPanelEditLabel(const GraphicElement &before, const GraphicElement &after)
{
    const GraphicElement &b = before;
    const GraphicElement &a = after;
    return editLabel({
        {b.rows != a.rows, "Rows"},
        {b.columns != a.columns, "Columns"},
        {b.strokeWidthMm != a.strokeWidthMm, "Stroke Width"},
        {b.cellSpacingMm != a.cellSpacingMm, "Table Spacing"},
        {b.strokeColor != a.strokeColor || b.fillColor != a.fillColor, "Color"},
        {b.xMm != a.xMm, "X Position"},
        {b.yMm != a.yMm, "Y Position"},
        {b.widthMm != a.widthMm, "Width"},
        {b.heightMm != a.heightMm, "Height"},
        {b.side != a.side, "Properties"},
    });
}

EditorDocument::EditorDocument(ProjectStore &store, QObject *parent)
    : QObject(parent)
    , m_store(store)
{
    qRegisterMetaType<DocumentChange>("DocumentChange");
}

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
            const bool hadSelection = !m_selection.isEmpty();
            m_selection.clear();
            if (hadSelection)
                emit selectionChanged();
            emit historyChanged();
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

std::optional<ElementRef> EditorDocument::anchor() const
{
    if (m_selection.isEmpty())
        return std::nullopt;
    return m_selection.last();
}

void EditorDocument::setSelection(const QList<ElementRef> &selection)
{
    QList<ElementRef> held;
    for (const ElementRef &ref : selection) {
        const bool known = ref.kind == ElementRef::Kind::Field ? m_fields.indexOf(ref.id) >= 0
                                                               : m_graphics.indexOf(ref.id) >= 0;
        if (known && !held.contains(ref))
            held.append(ref);
    }
    if (held == m_selection)
        return;
    m_selection = held;
    emit selectionChanged();
}

void EditorDocument::pruneSelection()
{
    setSelection(m_selection);
}

DocumentChange EditorDocument::announce(DocumentChange change)
{
    if (!change.isEmpty() || change.reloaded) {
        pruneSelection();
        emit changed(change);
    }
    emit historyChanged();
    return change;
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

DocumentChange EditorDocument::perform(const QString &label, bool mergeable,
                                       const std::function<bool(CanvasUndoEntry *, QString *)> &build,
                                       QString *error)
{
    CanvasUndoEntry entry;
    if (!writeAtomically([&](QString *e) { return build(&entry, e); }, error)) {
        DocumentChange change;
        change.ok = false;
        change.error = *error;
        return change;
    }
    DocumentChange change;
    for (const FieldStep &step : std::as_const(entry.fieldSteps))
        applyStep(m_fields, step, &change);
    for (const GraphicStep &step : std::as_const(entry.graphicSteps))
        applyStep(m_graphics, step, &change);
    entry.label = label;
    entry.mergeable = mergeable;
    m_history.record(entry);
    return change;
}

// A new row and its place in the drawing order, read together so that the
// document never holds a record the store does not.
template<typename Record>
bool EditorDocument::insertStep(Record record, CanvasUndoEntry *entry, QString *error)
{
    using Ops = StoreOps<Record>;
    record.projectId = m_projectId;
    if (!Ops::insert(m_store, &record, error))
        return false;
    const std::optional<qint64> order = Ops::sortOrder(m_store, record.id, error);
    if (!order)
        return false;
    entry->append(Ops::added(record, *order));
    return true;
}

// One stored element's new state; true when nothing failed (an unknown id or
// an unchanged record writes nothing).
template<typename Record>
bool EditorDocument::modifyStep(Record edited, CanvasUndoEntry *entry, QString *error)
{
    using Ops = StoreOps<Record>;
    ElementList<Record> &list = listOf<Record>();
    const int index = list.indexOf(edited.id);
    if (index < 0)
        return true;
    const Record before = list.records.at(index);
    // The update statement changes neither, so the held record must not either.
    edited.projectId = before.projectId;
    if constexpr (std::is_same_v<Record, GraphicElement>)
        edited.type = before.type;
    if (edited == before)
        return true;
    if (!Ops::update(m_store, edited, error))
        return false;
    entry->append(Ops::modified(before, edited, list.sortOrders.at(index)));
    return true;
}

// Deletes one stored element; true when nothing failed (an unknown id
// deletes nothing).
template<typename Record>
bool EditorDocument::deleteStep(qint64 id, CanvasUndoEntry *entry, QString *error)
{
    using Ops = StoreOps<Record>;
    ElementList<Record> &list = listOf<Record>();
    const int index = list.indexOf(id);
    if (index < 0)
        return true;
    if (!Ops::remove(m_store, id, error))
        return false;
    entry->append(Ops::deleted(list.records.at(index), list.sortOrders.at(index)));
    return true;
}

DocumentChange EditorDocument::insertElements(const QList<TemplateField> &fields,
                                              const QList<GraphicElement> &graphics, const QString &label,
                                              const QString &failureTitle, const EditorMessage &success)
{
    QString error;
    DocumentChange change = perform(
        label, false,
        [&](CanvasUndoEntry *entry, QString *e) {
            for (const TemplateField &f : fields) {
                if (!insertStep(f, entry, e))
                    return false;
            }
            for (const GraphicElement &g : graphics) {
                if (!insertStep(g, entry, e))
                    return false;
            }
            return true;
        },
        &error);
    if (!change.ok)
        return announce(failure(error, critical(failureTitle, error)));
    change.message = success;
    // The new objects alone are selected, as after a click.
    QList<ElementRef> added;
    for (const GraphicElement &g : std::as_const(change.graphicsSet))
        added.append({ElementRef::Kind::Graphic, g.id});
    for (const TemplateField &f : std::as_const(change.fieldsSet))
        added.append({ElementRef::Kind::Field, f.id});
    DocumentChange announced = announce(std::move(change));
    setSelection(added);
    return announced;
}

DocumentChange EditorDocument::addField(TemplateField field, const QString &label)
{
    const QString name = label.isEmpty() ? addFieldLabel(field) : label;
    return insertElements({field}, {}, name, QStringLiteral("Add Field Failed"), {});
}

DocumentChange EditorDocument::addGraphic(GraphicElement element, const QString &label)
{
    const QString name = label.isEmpty() ? QStringLiteral("Add %1").arg(graphicKindName(element)) : label;
    return insertElements({}, {element}, name, QStringLiteral("Add Graphic Failed"), {});
}

DocumentChange EditorDocument::pasteField(TemplateField field, const QString &side)
{
    field.side = cardSideFromKey(side);
    return insertElements({field}, {}, QStringLiteral("Paste"), QStringLiteral("Paste Field Failed"),
                          status(QStringLiteral("Field pasted"), 2000));
}

DocumentChange EditorDocument::pasteGraphic(GraphicElement element, const QString &side)
{
    element.side = cardSideFromKey(side);
    return insertElements({}, {element}, QStringLiteral("Paste"), QStringLiteral("Paste Graphic Failed"),
                          status(QStringLiteral("Graphic pasted"), 2000));
}

DocumentChange EditorDocument::pasteObjects(const QList<TemplateField> &fields,
                                            const QList<GraphicElement> &graphics, const QString &side)
{
    if (fields.size() + graphics.size() == 1) {
        return fields.isEmpty() ? pasteGraphic(graphics.first(), side) : pasteField(fields.first(), side);
    }
    QList<TemplateField> sidedFields = fields;
    for (TemplateField &f : sidedFields)
        f.side = cardSideFromKey(side);
    QList<GraphicElement> sidedGraphics = graphics;
    for (GraphicElement &g : sidedGraphics)
        g.side = cardSideFromKey(side);
    const int count = int(fields.size() + graphics.size());
    return insertElements(sidedFields, sidedGraphics, QStringLiteral("Paste"), QStringLiteral("Paste Failed"),
                          status(QStringLiteral("Pasted %1 objects").arg(count), 2000));
}

DocumentChange EditorDocument::modifyElements(const QList<TemplateField> &fields,
                                              const QList<GraphicElement> &graphics, QString label,
                                              bool mergeable, const QString &saveFailedText)
{
    QString error;
    DocumentChange change = perform(
        label, mergeable,
        [&](CanvasUndoEntry *entry, QString *e) {
            for (const TemplateField &f : fields) {
                if (!modifyStep(f, entry, e))
                    return false;
            }
            for (const GraphicElement &g : graphics) {
                if (!modifyStep(g, entry, e))
                    return false;
            }
            return true;
        },
        &error);
    if (!change.ok)
        return announce(settled(failure(error, status(saveFailedText.arg(error), 6000))));
    return announce(std::move(change));
}

DocumentChange EditorDocument::modifyField(TemplateField edited, const QString &label)
{
    const std::optional<TemplateField> before = field(edited.id);
    QString name = label;
    bool mergeable = false;
    if (name.isEmpty() && before) {
        TemplateField normalized = edited;
        normalized.projectId = before->projectId;
        name = fieldEditLabel(*before, normalized);
        // Property edits of one object come in bursts (a spin box's arrows).
        mergeable = name.startsWith(QLatin1String("Change "));
    } else if (!name.isEmpty()) {
        mergeable = true;
    }
    return modifyElements({edited}, {}, name, mergeable, StoreOps<TemplateField>::saveFailedText());
}

DocumentChange EditorDocument::modifyGraphic(GraphicElement edited, const QString &label)
{
    const std::optional<GraphicElement> before = graphic(edited.id);
    QString name = label;
    bool mergeable = false;
    if (name.isEmpty() && before) {
        GraphicElement normalized = edited;
        normalized.projectId = before->projectId;
        normalized.type = before->type;
        name = graphicEditLabel(*before, normalized);
        mergeable = name.startsWith(QLatin1String("Change "));
    } else if (!name.isEmpty()) {
        mergeable = true;
    }
    return modifyElements({}, {edited}, name, mergeable, StoreOps<GraphicElement>::saveFailedText());
}

DocumentChange EditorDocument::modifyObjects(const QList<TemplateField> &fields,
                                             const QList<GraphicElement> &graphics, const QString &label)
{
    QString name = label;
    if (name.isEmpty()) {
        name = QStringLiteral("Move");
        for (const TemplateField &f : fields) {
            if (const std::optional<TemplateField> before = field(f.id);
                before && (before->widthMm != f.widthMm || before->heightMm != f.heightMm))
                name = QStringLiteral("Resize");
        }
        for (const GraphicElement &g : graphics) {
            if (const std::optional<GraphicElement> before = graphic(g.id);
                before && (before->widthMm != g.widthMm || before->heightMm != g.heightMm))
                name = QStringLiteral("Resize");
        }
    }
    const QString failed = fields.isEmpty() ? StoreOps<GraphicElement>::saveFailedText()
                                            : StoreOps<TemplateField>::saveFailedText();
    return modifyElements(fields, graphics, name, false, failed);
}

DocumentChange EditorDocument::deleteField(qint64 id)
{
    QString error;
    DocumentChange change = perform(
        QStringLiteral("Delete Field"), false,
        [&](CanvasUndoEntry *entry, QString *e) { return deleteStep<TemplateField>(id, entry, e); }, &error);
    if (!change.ok)
        return announce(settled(failure(error, critical(QStringLiteral("Could Not Delete Field"), error))));
    return announce(std::move(change));
}

DocumentChange EditorDocument::deleteGraphic(qint64 id)
{
    QString error;
    DocumentChange change = perform(
        QStringLiteral("Delete Graphic"), false,
        [&](CanvasUndoEntry *entry, QString *e) { return deleteStep<GraphicElement>(id, entry, e); }, &error);
    if (!change.ok)
        return announce(settled(failure(error, critical(QStringLiteral("Delete Graphic Failed"), error))));
    return announce(std::move(change));
}

DocumentChange EditorDocument::deleteObjects(const QList<ElementRef> &selection)
{
    if (selection.isEmpty())
        return {};
    QString label;
    if (selection.size() == 1)
        label = selection.first().kind == ElementRef::Kind::Field ? QStringLiteral("Delete Field")
                                                                  : QStringLiteral("Delete Graphic");
    else
        label = QStringLiteral("Delete %1 Objects").arg(selection.size());
    QString error;
    DocumentChange change = perform(
        label, false,
        [&](CanvasUndoEntry *entry, QString *e) {
            for (const ElementRef::Kind kind : {ElementRef::Kind::Field, ElementRef::Kind::Graphic}) {
                for (const ElementRef &ref : selection) {
                    if (ref.kind != kind)
                        continue;
                    const bool deleted = kind == ElementRef::Kind::Field ? deleteStep<TemplateField>(ref.id, entry, e)
                                                                         : deleteStep<GraphicElement>(ref.id, entry, e);
                    if (!deleted)
                        return false;
                }
            }
            return true;
        },
        &error);
    if (!change.ok) {
        // All or nothing: every selected object is still there.
        const int count = int(selection.size());
        change.message = status(
            QStringLiteral("Deleted %1 object(s); %2 failed: %3").arg(0).arg(count).arg(error), 6000);
        return announce(settled(std::move(change)));
    }
    const int deleted = int(change.fieldsRemoved.size() + change.graphicsRemoved.size());
    change.message = status(QStringLiteral("Deleted %1 selected object%2").arg(deleted).arg(pluralS(deleted)), 2500);
    return announce(std::move(change));
}

DocumentChange EditorDocument::alignSelection(AlignMode mode)
{
    const std::optional<ElementRef> last = anchor();
    return alignObjects(mode, m_selection, last.value_or(ElementRef{}));
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

    QList<TemplateField> fields;
    QList<GraphicElement> graphics;
    if (anchorRect) {
        for (const ElementRef &ref : selection) {
            if (ref == anchorRef)
                continue;
            if (ref.kind == ElementRef::Kind::Field) {
                if (std::optional<TemplateField> f = field(ref.id)) {
                    const QPointF position = alignedPosition(mode, *anchorRect, rectOf(*f));
                    f->xMm = position.x();
                    f->yMm = position.y();
                    fields.append(*f);
                }
            } else if (std::optional<GraphicElement> g = graphic(ref.id)) {
                const QPointF position = alignedPosition(mode, *anchorRect, rectOf(*g));
                g->xMm = position.x();
                g->yMm = position.y();
                graphics.append(*g);
            }
        }
    }
    QString error;
    change = perform(
        alignModeName(mode), false,
        [&](CanvasUndoEntry *entry, QString *e) {
            for (const TemplateField &f : std::as_const(fields)) {
                if (!modifyStep(f, entry, e))
                    return false;
            }
            for (const GraphicElement &g : std::as_const(graphics)) {
                if (!modifyStep(g, entry, e))
                    return false;
            }
            return true;
        },
        &error);
    if (change.ok) {
        change.message = status(QStringLiteral("Moved and aligned %1 objects; the last selected anchor stayed in place")
                                    .arg(selection.size() - 1),
                                2200);
    } else {
        change.message = status(QStringLiteral("Some objects failed to save after alignment: %1").arg(error), 6000);
        change = settled(std::move(change));
    }
    return announce(std::move(change));
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

    QString error;
    DocumentChange change = perform(
        QStringLiteral("Split Table"), false,
        [&](CanvasUndoEntry *entry, QString *e) {
            QList<PlacedRecord<GraphicElement>> rectangles;
            for (GraphicElement &cell : cells) {
                cell.projectId = m_projectId;
                if (!m_store.insertGraphic(&cell, e))
                    return false;
                const std::optional<qint64> order = m_store.graphicSortOrder(cell.id, e);
                if (!order)
                    return false;
                rectangles.append({cell, *order});
            }
            if (!m_store.removeGraphic(table.record.id, e))
                return false;
            entry->append(CanvasUndoEntry::tableSplit(table, rectangles));
            return true;
        },
        &error);
    if (!change.ok)
        return announce(settled(failure(error, critical(title, error))));
    change.message = status(
        QStringLiteral("Split the table into %1 independent rectangles.").arg(change.graphicsSet.size()), 3000);
    DocumentChange announced = announce(std::move(change));
    if (!announced.graphicsSet.isEmpty())
        setSelection({{ElementRef::Kind::Graphic, announced.graphicsSet.first().id}});
    return announced;
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
    return announce(std::move(change));
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
    return announce(std::move(change));
}
