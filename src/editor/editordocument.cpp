#include "editordocument.h"

#include "store/projectstore.h"

#include <QRectF>
#include <QStringList>

#include <algorithm>
#include <tuple>
#include <utility>

namespace {

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

bool isNumberingElement(const TemplateElement &element)
{
    return isGenerated(kindOf(element));
}

// What the user is told when an edit of an element of this group is not saved.
QString saveFailedText(ElementGroup group)
{
    return group == ElementGroup::Field ? QStringLiteral("Could not save the field: %1")
                                        : QStringLiteral("Could not save the graphic: %1");
}

// The fields first, then the graphics, each group in the given order: the
// order every multi-object step writes them in.
template<typename Item, typename GroupOf>
QList<Item> fieldsFirst(const QList<Item> &items, GroupOf group)
{
    QList<Item> ordered;
    for (const ElementGroup wanted : {ElementGroup::Field, ElementGroup::Graphic}) {
        for (const Item &item : items) {
            if (group(item) == wanted)
                ordered.append(item);
        }
    }
    return ordered;
}

QList<TemplateElement> fieldsFirst(const QList<TemplateElement> &elements)
{
    return fieldsFirst(elements, [](const TemplateElement &e) { return groupOf(e); });
}

QList<ElementRef> fieldsFirst(const QList<ElementRef> &refs)
{
    return fieldsFirst(refs, [](const ElementRef &ref) { return ref.group; });
}

// The steps as they are applied: forwards in order; backwards in reverse
// order, each with its before and after swapped.
QList<ElementStep> stepsToApply(const QList<ElementStep> &steps, bool forwards)
{
    QList<ElementStep> ordered;
    for (const ElementStep &step : steps) {
        if (forwards)
            ordered.append(step);
        else
            ordered.prepend({step.after, step.before});
    }
    return ordered;
}

// One step written to the store: an update, a row put back in its place, or
// a removal.
bool writeStep(ProjectStore &store, const ElementStep &step, QString *error)
{
    if (step.before && step.after)
        return store.updateElement(step.after->element, error);
    if (step.after)
        return store.restoreElement(step.after->element, step.after->sortOrder, error);
    if (step.before)
        return store.removeElement(refOf(step.before->element), error);
    return true;
}

// The same step in the document's list and in the change for the window.
void applyStep(ElementList &list, const ElementStep &step, DocumentChange *change)
{
    if (step.after) {
        list.put(*step.after);
        change->set.append(step.after->element);
    } else if (step.before) {
        list.remove(refOf(step.before->element));
        change->removed.append(step.before->element);
    }
}

// Where an element stands in the list's order: its group, then its row's
// sort order and id.
std::tuple<int, qint64, qint64> orderKey(const TemplateElement &element, qint64 sortOrder)
{
    return {int(groupOf(element)), sortOrder, idOf(element)};
}

} // namespace

bool DocumentChange::isEmpty() const
{
    return set.isEmpty() && removed.isEmpty();
}

bool DocumentChange::touchesCardNumbering() const
{
    return std::any_of(set.cbegin(), set.cend(), isNumberingElement)
        || std::any_of(removed.cbegin(), removed.cend(), isNumberingElement);
}

int ElementList::indexOf(const ElementRef &ref) const
{
    for (int i = 0; i < elements.size(); ++i) {
        if (refOf(elements.at(i)) == ref)
            return i;
    }
    return -1;
}

std::optional<TemplateElement> ElementList::find(const ElementRef &ref) const
{
    const int index = indexOf(ref);
    if (index < 0)
        return std::nullopt;
    return elements.at(index);
}

void ElementList::put(const PlacedElement &placed)
{
    const ElementRef ref = refOf(placed.element);
    const int existing = indexOf(ref);
    if (existing >= 0 && sortOrders.at(existing) == placed.sortOrder) {
        elements[existing] = placed.element;
        return;
    }
    if (existing >= 0)
        remove(ref);
    const auto key = orderKey(placed.element, placed.sortOrder);
    int index = 0;
    while (index < elements.size() && orderKey(elements.at(index), sortOrders.at(index)) < key)
        ++index;
    elements.insert(index, placed.element);
    sortOrders.insert(index, placed.sortOrder);
}

void ElementList::remove(const ElementRef &ref)
{
    const int index = indexOf(ref);
    if (index < 0)
        return;
    elements.removeAt(index);
    sortOrders.removeAt(index);
}

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

// The tools' names: "Add Text Field", "Add Barcode", "Add Circle", …
QString addLabel(const TemplateElement &element)
{
    switch (kindOf(element)) {
    case ElementKind::Text:
        return QStringLiteral("Add Text Field");
    case ElementKind::Sequence:
        return QStringLiteral("Add Sequence");
    case ElementKind::Barcode:
        return QStringLiteral("Add Barcode");
    case ElementKind::QrCode:
        return QStringLiteral("Add QR Code");
    case ElementKind::Scratch:
        return QStringLiteral("Add Scratch Card");
    case ElementKind::Line:
        return QStringLiteral("Add Line");
    case ElementKind::Ellipse:
        return QStringLiteral("Add Circle");
    case ElementKind::Rectangle:
        return QStringLiteral("Add Rectangle");
    case ElementKind::Table:
        return QStringLiteral("Add Table");
    }
    return QStringLiteral("Add Text Field");
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

namespace {

// `edited` with what an update never writes taken from the stored `before`:
// the project, and a graphic's kind.
TemplateElement withStoredIdentity(TemplateElement edited, const TemplateElement &before)
{
    setProject(edited, projectOf(before));
    if (auto *graphic = std::get_if<GraphicElement>(&edited))
        graphic->type = kindOf(before);
    return edited;
}

// The label of an edit of one element from `before` to `after` (same group).
QString elementEditLabel(const TemplateElement &before, const TemplateElement &after)
{
    if (const TemplateField *field = asField(before))
        return fieldEditLabel(*field, std::get<TemplateField>(after));
    return graphicEditLabel(std::get<GraphicElement>(before), std::get<GraphicElement>(after));
}

} // namespace

EditorDocument::EditorDocument(ProjectStore &store, QObject *parent)
    : QObject(parent)
    , m_store(store)
{
    qRegisterMetaType<DocumentChange>("DocumentChange");
}

std::optional<ElementList> EditorDocument::loadList(qint64 projectId, QString *error)
{
    // A failed load reports its text and returns an empty list, which is
    // also what a project without elements gives: the text tells them apart.
    QString message;
    ElementList list;
    list.elements = m_store.loadElements(projectId, &message, &list.sortOrders);
    if (!message.isEmpty()) {
        if (error)
            *error = message;
        return std::nullopt;
    }
    return list;
}

bool EditorDocument::open(qint64 projectId, QString *error)
{
    std::optional<ElementList> list = loadList(projectId, error);
    if (!list)
        return false;
    m_projectId = projectId;
    m_elements = std::move(*list);
    m_history.clear();
    const bool hadSelection = !m_selection.isEmpty();
    m_selection.clear();
    if (hadSelection)
        emit selectionChanged();
    emit historyChanged();
    return true;
}

QList<TemplateField> EditorDocument::fieldsOnSide(CardSide side) const
{
    QList<TemplateField> onSide;
    for (const TemplateField &f : fields()) {
        if (f.side == side)
            onSide.append(f);
    }
    return onSide;
}

QList<GraphicElement> EditorDocument::graphicsOnSide(CardSide side) const
{
    QList<GraphicElement> onSide;
    for (const GraphicElement &g : graphics()) {
        if (g.side == side)
            onSide.append(g);
    }
    return onSide;
}

std::optional<TemplateField> EditorDocument::field(qint64 id) const
{
    const std::optional<TemplateElement> found = element({ElementGroup::Field, id});
    return found ? std::optional(std::get<TemplateField>(*found)) : std::nullopt;
}

std::optional<GraphicElement> EditorDocument::graphic(qint64 id) const
{
    const std::optional<TemplateElement> found = element({ElementGroup::Graphic, id});
    return found ? std::optional(std::get<GraphicElement>(*found)) : std::nullopt;
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
        if (m_elements.indexOf(ref) >= 0 && !held.contains(ref))
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
    for (const ElementStep &step : std::as_const(entry.steps))
        applyStep(m_elements, step, &change);
    entry.label = label;
    entry.mergeable = mergeable;
    m_history.record(entry);
    return change;
}

// A new row and its place in the drawing order, read together so that the
// document never holds a record the store does not.
bool EditorDocument::insertStep(TemplateElement element, CanvasUndoEntry *entry, QString *error)
{
    setProject(element, m_projectId);
    if (!m_store.insertElement(&element, error))
        return false;
    const std::optional<qint64> order = m_store.sortOrderOf(refOf(element), error);
    if (!order)
        return false;
    entry->append(CanvasUndoEntry::added(element, *order));
    return true;
}

// One stored element's new state; true when nothing failed (an unknown
// element or an unchanged record writes nothing).
bool EditorDocument::modifyStep(TemplateElement edited, CanvasUndoEntry *entry, QString *error)
{
    const int index = m_elements.indexOf(refOf(edited));
    if (index < 0)
        return true;
    const TemplateElement &before = m_elements.elements.at(index);
    // The update statement changes neither the project nor a graphic's kind,
    // so the held record must not either.
    edited = withStoredIdentity(edited, before);
    if (edited == before)
        return true;
    if (!m_store.updateElement(edited, error))
        return false;
    entry->append(CanvasUndoEntry::modified(before, edited, m_elements.sortOrders.at(index)));
    return true;
}

// Deletes one stored element; true when nothing failed (an unknown element
// deletes nothing).
bool EditorDocument::deleteStep(const ElementRef &ref, CanvasUndoEntry *entry, QString *error)
{
    const int index = m_elements.indexOf(ref);
    if (index < 0)
        return true;
    if (!m_store.removeElement(ref, error))
        return false;
    entry->append(CanvasUndoEntry::deleted(m_elements.elements.at(index), m_elements.sortOrders.at(index)));
    return true;
}

DocumentChange EditorDocument::insertElements(const QList<TemplateElement> &elements, const QString &label,
                                              const QString &failureTitle, const EditorMessage &success)
{
    const QList<TemplateElement> ordered = fieldsFirst(elements);
    QString error;
    DocumentChange change = perform(
        label, false,
        [&](CanvasUndoEntry *entry, QString *e) {
            for (const TemplateElement &element : ordered) {
                if (!insertStep(element, entry, e))
                    return false;
            }
            return true;
        },
        &error);
    if (!change.ok)
        return announce(failure(error, critical(failureTitle, error)));
    change.message = success;
    // The new objects alone are selected, as after a click: the graphics,
    // then the fields, so that a field is the anchor.
    QList<ElementRef> added;
    for (const ElementGroup group : {ElementGroup::Graphic, ElementGroup::Field}) {
        for (const TemplateElement &element : std::as_const(change.set)) {
            if (groupOf(element) == group)
                added.append(refOf(element));
        }
    }
    DocumentChange announced = announce(std::move(change));
    setSelection(added);
    return announced;
}

DocumentChange EditorDocument::addElement(TemplateElement element, const QString &label)
{
    const QString name = label.isEmpty() ? addLabel(element) : label;
    const QString failed = groupOf(element) == ElementGroup::Field ? QStringLiteral("Add Field Failed")
                                                                   : QStringLiteral("Add Graphic Failed");
    return insertElements({element}, name, failed, {});
}

DocumentChange EditorDocument::pasteElements(const QList<TemplateElement> &elements, CardSide side)
{
    QList<TemplateElement> sided = elements;
    for (TemplateElement &element : sided)
        setSide(element, side);
    if (sided.size() == 1) {
        const bool isField = groupOf(sided.first()) == ElementGroup::Field;
        const QString failed = isField ? QStringLiteral("Paste Field Failed") : QStringLiteral("Paste Graphic Failed");
        const QString pasted = isField ? QStringLiteral("Field pasted") : QStringLiteral("Graphic pasted");
        return insertElements(sided, QStringLiteral("Paste"), failed, status(pasted, 2000));
    }
    return insertElements(sided, QStringLiteral("Paste"), QStringLiteral("Paste Failed"),
                          status(QStringLiteral("Pasted %1 objects").arg(sided.size()), 2000));
}

DocumentChange EditorDocument::writeModifications(const QList<TemplateElement> &edited, const QString &label,
                                                  bool mergeable, const QString &saveFailedText)
{
    const QList<TemplateElement> ordered = fieldsFirst(edited);
    QString error;
    DocumentChange change = perform(
        label, mergeable,
        [&](CanvasUndoEntry *entry, QString *e) {
            for (const TemplateElement &element : ordered) {
                if (!modifyStep(element, entry, e))
                    return false;
            }
            return true;
        },
        &error);
    if (!change.ok)
        return announce(settled(failure(error, status(saveFailedText.arg(error), 6000))));
    return announce(std::move(change));
}

DocumentChange EditorDocument::modifyElement(const TemplateElement &edited, const QString &label)
{
    const std::optional<TemplateElement> before = element(refOf(edited));
    QString name = label;
    bool mergeable = false;
    if (name.isEmpty() && before) {
        name = elementEditLabel(*before, withStoredIdentity(edited, *before));
        // Property edits of one object come in bursts (a spin box's arrows).
        mergeable = name.startsWith(QLatin1String("Change "));
    } else if (!name.isEmpty()) {
        mergeable = true;
    }
    return writeModifications({edited}, name, mergeable, saveFailedText(groupOf(edited)));
}

DocumentChange EditorDocument::modifyElements(const QList<TemplateElement> &edited, const QString &label)
{
    QString name = label;
    if (name.isEmpty()) {
        name = QStringLiteral("Move");
        for (const TemplateElement &e : edited) {
            if (const std::optional<TemplateElement> before = element(refOf(e));
                before
                && (boxOf(*before).width() != boxOf(e).width() || boxOf(*before).height() != boxOf(e).height()))
                name = QStringLiteral("Resize");
        }
    }
    const bool anyField = std::any_of(edited.cbegin(), edited.cend(),
                                      [](const TemplateElement &e) { return groupOf(e) == ElementGroup::Field; });
    return writeModifications(edited, name, false,
                              saveFailedText(anyField ? ElementGroup::Field : ElementGroup::Graphic));
}

DocumentChange EditorDocument::deleteElement(const ElementRef &ref)
{
    const bool isField = ref.group == ElementGroup::Field;
    QString error;
    DocumentChange change = perform(
        isField ? QStringLiteral("Delete Field") : QStringLiteral("Delete Graphic"), false,
        [&](CanvasUndoEntry *entry, QString *e) { return deleteStep(ref, entry, e); }, &error);
    if (!change.ok) {
        const QString title =
            isField ? QStringLiteral("Could Not Delete Field") : QStringLiteral("Delete Graphic Failed");
        return announce(settled(failure(error, critical(title, error))));
    }
    return announce(std::move(change));
}

DocumentChange EditorDocument::deleteElements(const QList<ElementRef> &selection)
{
    if (selection.isEmpty())
        return {};
    QString label;
    if (selection.size() == 1)
        label = selection.first().group == ElementGroup::Field ? QStringLiteral("Delete Field")
                                                               : QStringLiteral("Delete Graphic");
    else
        label = QStringLiteral("Delete %1 Objects").arg(selection.size());
    const QList<ElementRef> ordered = fieldsFirst(selection);
    QString error;
    DocumentChange change = perform(
        label, false,
        [&](CanvasUndoEntry *entry, QString *e) {
            for (const ElementRef &ref : ordered) {
                if (!deleteStep(ref, entry, e))
                    return false;
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
    const int deleted = int(change.removed.size());
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
    QList<TemplateElement> aligned;
    if (const std::optional<TemplateElement> anchorElement = element(anchorRef)) {
        const QRectF anchorRect = boxOf(*anchorElement);
        for (const ElementRef &ref : selection) {
            if (ref == anchorRef)
                continue;
            if (std::optional<TemplateElement> moved = element(ref)) {
                setPosition(*moved, alignedPosition(mode, anchorRect, boxOf(*moved)));
                aligned.append(*moved);
            }
        }
    }
    const QList<TemplateElement> ordered = fieldsFirst(aligned);
    QString error;
    change = perform(
        alignModeName(mode), false,
        [&](CanvasUndoEntry *entry, QString *e) {
            for (const TemplateElement &moved : ordered) {
                if (!modifyStep(moved, entry, e))
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
    const ElementRef tableRef{ElementGroup::Graphic, tableId};
    const int index = m_elements.indexOf(tableRef);
    if (index < 0 || kindOf(m_elements.elements.at(index)) != ElementKind::Table)
        return {};
    const PlacedElement table{m_elements.elements.at(index), m_elements.sortOrders.at(index)};
    const GraphicElement &tableRecord = std::get<GraphicElement>(table.element);
    const QString title = QStringLiteral("Could Not Split Table");

    const QList<GraphicElement> cells = splitTableCells(tableRecord);
    if (cells.isEmpty()) {
        const QString text = tableSplitRefusal(tableRecord);
        return failure(text, critical(title, text));
    }

    QString error;
    DocumentChange change = perform(
        QStringLiteral("Split Table"), false,
        [&](CanvasUndoEntry *entry, QString *e) {
            QList<PlacedElement> rectangles;
            for (const GraphicElement &cell : cells) {
                TemplateElement rectangle = cell;
                setProject(rectangle, m_projectId);
                if (!m_store.insertElement(&rectangle, e))
                    return false;
                const std::optional<qint64> order = m_store.sortOrderOf(refOf(rectangle), e);
                if (!order)
                    return false;
                rectangles.append({rectangle, *order});
            }
            if (!m_store.removeElement(tableRef, e))
                return false;
            entry->append(CanvasUndoEntry::tableSplit(table, rectangles));
            return true;
        },
        &error);
    if (!change.ok)
        return announce(settled(failure(error, critical(title, error))));
    change.message = status(
        QStringLiteral("Split the table into %1 independent rectangles.").arg(change.set.size()), 3000);
    DocumentChange announced = announce(std::move(change));
    if (!announced.set.isEmpty())
        setSelection({refOf(announced.set.first())});
    return announced;
}

DocumentChange EditorDocument::applyEntry(const CanvasUndoEntry &entry, bool forwards)
{
    const QList<ElementStep> steps = stepsToApply(entry.steps, forwards);

    QString error;
    m_history.setApplying(true);
    const bool written = writeAtomically(
        [&](QString *e) {
            for (const ElementStep &step : steps) {
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
    for (const ElementStep &step : steps)
        applyStep(m_elements, step, &change);
    return change;
}

DocumentChange EditorDocument::settled(DocumentChange change)
{
    if (change.ok || !change.error.contains(elementRemovedElsewhereMessage()))
        return change;
    // What the document holds no longer matches the store, so it is read
    // again; the history keeps its place, and an entry that refers to the
    // vanished object fails the same way when undone or redone.
    if (std::optional<ElementList> list = loadList(m_projectId, nullptr)) {
        m_elements = std::move(*list);
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
