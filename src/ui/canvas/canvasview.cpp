#include "ui/canvas/canvasview.h"

#include "editor/clipboarddocument.h"
#include "render/backgroundimage.h"
#include "ui/canvas/vdpfielditem.h"
#include "ui/canvas/vdpgraphicitem.h"

#include <QClipboard>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QVarLengthArray>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr double sceneMarginUnits = 80;
constexpr double gridStepUnits = 20; // 5 mm
constexpr double wheelZoomStep = 1.12;

// White at alpha 12 of 255 laid over `backdrop`.
QColor gridColor(const QColor &backdrop)
{
    const auto over = [](int below) { return below + qRound((255 - below) * 12 / 255.0); };
    return QColor(over(backdrop.red()), over(backdrop.green()), over(backdrop.blue()));
}

bool isCanvasItem(const QGraphicsItem *item)
{
    return item && (item->type() == VdpFieldItem::Type || item->type() == VdpGraphicItem::Type);
}

double sanitizedLength(double mm)
{
    return std::isfinite(mm) && mm > 0 ? mm : 0;
}

// While alive, selection changes caused by the program (items deleted or
// recreated) are not reported one by one; the view reports the result once.
class SelectionBatch
{
public:
    explicit SelectionBatch(bool &flag)
        : m_flag(flag)
        , m_outer(flag)
    {
        m_flag = true;
    }
    ~SelectionBatch() { m_flag = m_outer; }

private:
    bool &m_flag;
    bool m_outer;
};

} // namespace

CanvasView::CanvasView(QWidget *parent)
    : QGraphicsView(parent)
{
    templateFieldMetaTypeId();
    graphicElementMetaTypeId();

    setScene(new QGraphicsScene(this));
    setRenderHint(QPainter::Antialiasing, true);
    setDragMode(QGraphicsView::RubberBandDrag);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
    setCacheMode(QGraphicsView::CacheNone);
    setBackgroundBrush(QColor(0x11, 0x18, 0x27));
    connect(scene(), &QGraphicsScene::selectionChanged, this, &CanvasView::handleSelectionChanged);
    rebuild();
}

CanvasView::~CanvasView()
{
    // The scene deletes its items after this view is gone.
    disconnect(scene(), nullptr, this, nullptr);
    m_holdSelectionReports = true;
}

void CanvasView::setCardSize(double widthMm, double heightMm)
{
    m_cardWidthMm = sanitizedLength(widthMm);
    m_cardHeightMm = sanitizedLength(heightMm);
    rebuild();
}

void CanvasView::setBleed(double bleedMm, bool show)
{
    m_bleedMm = std::isfinite(bleedMm) ? std::max(bleedMm, 0.0) : 0.0;
    m_showBleed = show;
    updateBleedGuide();
}

void CanvasView::rebuild()
{
    // The items hold the records; the new card gets new items with the same.
    const QList<TemplateField> fields = canvasFields();
    const QList<GraphicElement> graphics = canvasGraphics();
    {
        SelectionBatch batch(m_holdSelectionReports);
        m_pressPositions.clear();
        m_selectionOrder.clear();
        m_fieldItems.clear();
        m_graphicItems.clear();
        m_cardItem = nullptr;
        m_backgroundItem = nullptr;
        m_bleedGuide = nullptr;
        scene()->clear();

        const QRectF card(0, 0, m_cardWidthMm * sceneUnitsPerMm, m_cardHeightMm * sceneUnitsPerMm);
        m_cardItem = new QGraphicsRectItem(card);
        m_cardItem->setPen(QPen(QColor(0xd1, 0xd5, 0xdb), 1));
        m_cardItem->setBrush(Qt::white);
        m_cardItem->setZValue(-10);
        scene()->addItem(m_cardItem);

        rebuildBackgroundItem();

        m_bleedGuide = new QGraphicsRectItem(m_cardItem);
        QPen guidePen(QColor(0xef, 0x44, 0x44), 1.5, Qt::DashLine);
        guidePen.setCosmetic(true);
        m_bleedGuide->setPen(guidePen);
        m_bleedGuide->setBrush(Qt::NoBrush);
        m_bleedGuide->setZValue(1000);
        m_bleedGuide->setAcceptedMouseButtons(Qt::NoButton);
        updateBleedGuide();

        for (const GraphicElement &element : std::as_const(graphics))
            createGraphicItem(element);
        for (const TemplateField &field : std::as_const(fields))
            createFieldItem(field);

        scene()->setSceneRect(card.adjusted(-sceneMarginUnits, -sceneMarginUnits, sceneMarginUnits,
                                            sceneMarginUnits));
        m_userZoomed = false;
        fitCard();
    }
    handleSelectionChanged();
}

void CanvasView::rebuildBackgroundItem()
{
    delete m_backgroundItem;
    m_backgroundItem = nullptr;
    if (m_backgroundImage.isNull() || !m_cardItem)
        return;
    const int width = std::max(1, qRound(m_cardWidthMm * sceneUnitsPerMm));
    const int height = std::max(1, qRound(m_cardHeightMm * sceneUnitsPerMm));
    const QImage scaled = m_backgroundImage.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    m_backgroundItem = new QGraphicsPixmapItem(QPixmap::fromImage(scaled), m_cardItem);
    m_backgroundItem->setTransformationMode(Qt::SmoothTransformation);
    m_backgroundItem->setAcceptedMouseButtons(Qt::NoButton);
    m_backgroundItem->setZValue(-1);
    m_backgroundItem->setPos(0, 0);
}

void CanvasView::updateBleedGuide()
{
    if (!m_bleedGuide)
        return;
    const double width = m_cardWidthMm * sceneUnitsPerMm;
    const double height = m_cardHeightMm * sceneUnitsPerMm;
    const double inset = m_bleedMm * sceneUnitsPerMm;
    const bool fits = width > 2 * inset && height > 2 * inset;
    if (fits)
        m_bleedGuide->setRect(QRectF(inset, inset, width - 2 * inset, height - 2 * inset));
    m_bleedGuide->setVisible(m_showBleed && fits);
}

void CanvasView::fitCard()
{
    fitInView(sceneRect(), Qt::KeepAspectRatio);
}

// An item at `index` of its kind's list (appended when out of range) is
// stacked below the item it is put before, so the scene draws in list order.
VdpFieldItem *CanvasView::createFieldItem(const TemplateField &field, int index)
{
    auto *item = new VdpFieldItem(field, m_previewRecord, m_cardItem);
    connect(item, &CanvasElementItem::elementEdited, this, [this, item] { relayFieldEdited(item->field()); });
    if (index >= 0 && index < m_fieldItems.size()) {
        item->stackBefore(m_fieldItems.at(index));
        m_fieldItems.insert(index, item);
    } else {
        m_fieldItems.append(item);
    }
    return item;
}

VdpGraphicItem *CanvasView::createGraphicItem(const GraphicElement &element, int index)
{
    auto *item = new VdpGraphicItem(element, m_cardItem);
    item->setSnapEnabled(m_snapEnabled);
    connect(item, &CanvasElementItem::elementEdited, this, [this, item] { relayGraphicEdited(item->element()); });
    if (index >= 0 && index < m_graphicItems.size()) {
        item->stackBefore(m_graphicItems.at(index));
        m_graphicItems.insert(index, item);
    } else {
        m_graphicItems.append(item);
    }
    return item;
}

QList<TemplateField> CanvasView::canvasFields() const
{
    QList<TemplateField> fields;
    for (const VdpFieldItem *item : m_fieldItems)
        fields.append(item->field());
    return fields;
}

QList<GraphicElement> CanvasView::canvasGraphics() const
{
    QList<GraphicElement> graphics;
    for (const VdpGraphicItem *item : m_graphicItems)
        graphics.append(item->element());
    return graphics;
}

void CanvasView::setCanvasFields(const QList<TemplateField> &fields)
{
    {
        SelectionBatch batch(m_holdSelectionReports);
        for (VdpFieldItem *item : std::as_const(m_fieldItems))
            m_pressPositions.remove(item);
        qDeleteAll(std::exchange(m_fieldItems, {}));
        for (const TemplateField &field : fields)
            createFieldItem(field);
    }
    handleSelectionChanged();
}

void CanvasView::setCanvasGraphics(const QList<GraphicElement> &graphics)
{
    {
        SelectionBatch batch(m_holdSelectionReports);
        for (VdpGraphicItem *item : std::as_const(m_graphicItems))
            m_pressPositions.remove(item);
        qDeleteAll(std::exchange(m_graphicItems, {}));
        for (const GraphicElement &element : graphics)
            createGraphicItem(element);
    }
    handleSelectionChanged();
}

void CanvasView::addFieldItem(const TemplateField &field)
{
    VdpFieldItem *item = createFieldItem(field);
    item->setSelected(true);
    item->setFocus();
}

void CanvasView::addGraphicItem(const GraphicElement &element, bool select)
{
    VdpGraphicItem *item = createGraphicItem(element);
    if (select) {
        item->setSelected(true);
        item->setFocus();
    }
}

void CanvasView::insertFieldItem(const TemplateField &field, qint64 aboveId)
{
    VdpFieldItem *above = fieldItem(aboveId);
    createFieldItem(field, above ? int(m_fieldItems.indexOf(above)) : -1);
}

void CanvasView::insertGraphicItem(const GraphicElement &element, qint64 aboveId)
{
    VdpGraphicItem *above = graphicItem(aboveId);
    createGraphicItem(element, above ? int(m_graphicItems.indexOf(above)) : -1);
}

void CanvasView::updateFieldItem(const TemplateField &field)
{
    VdpFieldItem *item = fieldItem(field.id);
    if (!item)
        return;
    item->setField(field);
}

void CanvasView::updateGraphicItem(const GraphicElement &element)
{
    VdpGraphicItem *item = graphicItem(element.id);
    if (!item)
        return;
    item->setElement(element);
}

void CanvasView::removeFieldItem(qint64 fieldId)
{
    VdpFieldItem *item = fieldItem(fieldId);
    {
        SelectionBatch batch(m_holdSelectionReports);
        if (item) {
            m_fieldItems.removeOne(item);
            m_pressPositions.remove(item);
            delete item;
        }
    }
    if (item)
        handleSelectionChanged();
}

void CanvasView::removeGraphicItem(qint64 elementId)
{
    VdpGraphicItem *item = graphicItem(elementId);
    {
        SelectionBatch batch(m_holdSelectionReports);
        if (item) {
            m_graphicItems.removeOne(item);
            m_pressPositions.remove(item);
            delete item;
        }
    }
    if (item)
        handleSelectionChanged();
}

VdpFieldItem *CanvasView::fieldItem(qint64 fieldId) const
{
    for (VdpFieldItem *item : m_fieldItems) {
        if (item->field().id == fieldId)
            return item;
    }
    return nullptr;
}

VdpGraphicItem *CanvasView::graphicItem(qint64 elementId) const
{
    for (VdpGraphicItem *item : m_graphicItems) {
        if (item->element().id == elementId)
            return item;
    }
    return nullptr;
}

QList<QGraphicsObject *> CanvasView::selectedItemsInOrder() const
{
    QList<QGraphicsObject *> items;
    for (const QPointer<QGraphicsObject> &item : m_selectionOrder) {
        if (item && item->isSelected())
            items.append(item.data());
    }
    // Selected while reports were held back (inside a rebuild): scene order.
    for (QGraphicsItem *item : scene()->selectedItems()) {
        if (isCanvasItem(item) && !items.contains(static_cast<QGraphicsObject *>(item)))
            items.append(static_cast<QGraphicsObject *>(item));
    }
    return items;
}

QGraphicsObject *CanvasView::alignmentAnchor() const
{
    for (auto it = m_selectionOrder.crbegin(); it != m_selectionOrder.crend(); ++it) {
        if (*it && (*it)->isSelected())
            return it->data();
    }
    for (QGraphicsItem *item : scene()->selectedItems()) {
        if (isCanvasItem(item))
            return static_cast<QGraphicsObject *>(item);
    }
    return nullptr;
}

QList<TemplateField> CanvasView::selectedFields() const
{
    QList<TemplateField> fields;
    for (QGraphicsObject *item : selectedItemsInOrder()) {
        if (auto *field = qgraphicsitem_cast<VdpFieldItem *>(item))
            fields.append(field->field());
    }
    return fields;
}

QList<GraphicElement> CanvasView::selectedGraphics() const
{
    QList<GraphicElement> graphics;
    for (QGraphicsObject *item : selectedItemsInOrder()) {
        if (auto *graphic = qgraphicsitem_cast<VdpGraphicItem *>(item))
            graphics.append(graphic->element());
    }
    return graphics;
}

QList<ElementRef> CanvasView::selectedElements() const
{
    QList<ElementRef> selection;
    for (QGraphicsObject *item : selectedItemsInOrder()) {
        if (const auto *field = qgraphicsitem_cast<VdpFieldItem *>(item))
            selection.append({ElementGroup::Field, field->field().id});
        else if (const auto *graphic = qgraphicsitem_cast<VdpGraphicItem *>(item))
            selection.append({ElementGroup::Graphic, graphic->element().id});
    }
    return selection;
}

void CanvasView::setSelectedElements(const QList<ElementRef> &selection)
{
    if (selection == selectedElements())
        return;
    {
        SelectionBatch batch(m_holdSelectionReports);
        QList<QPointer<QGraphicsObject>> order;
        for (const ElementRef &ref : selection) {
            QGraphicsObject *item = nullptr;
            if (ref.group == ElementGroup::Field)
                item = fieldItem(ref.id);
            else
                item = graphicItem(ref.id);
            if (item)
                order.append(item);
        }
        for (QGraphicsItem *item : scene()->selectedItems()) {
            if (isCanvasItem(item) && !order.contains(static_cast<QGraphicsObject *>(item)))
                item->setSelected(false);
        }
        for (const QPointer<QGraphicsObject> &item : std::as_const(order))
            item->setSelected(true);
        m_selectionOrder = order;
        if (!order.isEmpty())
            order.last()->setFocus();
    }
    handleSelectionChanged();
}

int CanvasView::selectionCount() const
{
    int count = 0;
    for (QGraphicsItem *item : scene()->selectedItems())
        count += isCanvasItem(item) ? 1 : 0;
    return count;
}

TemplateField CanvasView::selectedField() const
{
    for (QGraphicsObject *item : selectedItemsInOrder()) {
        if (auto *field = qgraphicsitem_cast<VdpFieldItem *>(item))
            return field->field();
    }
    TemplateField none;
    none.id = 0;
    return none;
}

void CanvasView::setPreviewRecord(const QJsonObject &record)
{
    m_previewRecord = record;
    for (VdpFieldItem *item : std::as_const(m_fieldItems))
        item->setPreviewRecord(record);
}

void CanvasView::setSnapEnabled(bool enabled)
{
    m_snapEnabled = enabled;
    for (VdpGraphicItem *item : std::as_const(m_graphicItems))
        item->setSnapEnabled(enabled);
}

bool CanvasView::loadBackground(const QString &path, QString *error)
{
    // The same reader as the export, so the canvas shows what will print.
    BackgroundImage background = loadBackgroundImage(path);
    if (background.image.isNull()) {
        if (error)
            *error = background.error;
        return false;
    }
    setBackgroundImage(background.image);
    return true;
}

void CanvasView::setBackgroundImage(const QImage &image)
{
    m_backgroundImage = image;
    rebuildBackgroundItem();
}

void CanvasView::clearBackground()
{
    setBackgroundImage(QImage());
}

bool CanvasView::copySelection()
{
    QList<TemplateElement> items;
    for (QGraphicsObject *item : selectedItemsInOrder()) {
        if (auto *field = qgraphicsitem_cast<VdpFieldItem *>(item))
            items.append(field->field());
        else if (auto *graphic = qgraphicsitem_cast<VdpGraphicItem *>(item))
            items.append(graphic->element());
    }
    if (items.isEmpty())
        return false;
    auto *mimeData = new QMimeData;
    mimeData->setData(canvasClipboardMimeType(), canvasClipboardDocument(items));
    QGuiApplication::clipboard()->setMimeData(mimeData);
    return true;
}

bool CanvasView::pasteFromClipboard()
{
    const QMimeData *mimeData = QGuiApplication::clipboard()->mimeData();
    const QString mimeType = canvasClipboardMimeType();
    if (!mimeData || !mimeData->hasFormat(mimeType))
        return false;
    const std::optional<CanvasClipboardItems> document = parseCanvasClipboard(mimeData->data(mimeType));
    if (!document)
        return false;
    if (!document->refusal.isEmpty()) {
        emit pasteRefused(document->refusal);
        return true;
    }

    scene()->clearSelection();
    const QSizeF cardMm(m_cardWidthMm, m_cardHeightMm);
    QList<TemplateField> fields;
    QList<GraphicElement> graphics;
    for (const TemplateElement &item : document->items) {
        if (const auto *copied = std::get_if<TemplateField>(&item)) {
            TemplateField field = *copied;
            const QPointF position = pastedPosition(QPointF(field.xMm, field.yMm),
                                                    QSizeF(field.widthMm, field.heightMm), cardMm);
            field.xMm = position.x();
            field.yMm = position.y();
            fields.append(field);
        } else if (const auto *copiedGraphic = std::get_if<GraphicElement>(&item)) {
            GraphicElement element = *copiedGraphic;
            const QPointF position = pastedPosition(QPointF(element.xMm, element.yMm),
                                                    QSizeF(element.widthMm, element.heightMm), cardMm);
            element.xMm = position.x();
            element.yMm = position.y();
            graphics.append(element);
        }
    }
    if (!fields.isEmpty() || !graphics.isEmpty())
        emit pasteRequested(fields, graphics);
    return true;
}

void CanvasView::relayFieldEdited(const TemplateField &field)
{
    if (m_collectingGesture) {
        m_gestureFields.removeIf([&field](const TemplateField &f) { return f.id == field.id; });
        m_gestureFields.append(field);
        return;
    }
    emit fieldEdited(field);
}

void CanvasView::relayGraphicEdited(const GraphicElement &element)
{
    if (m_collectingGesture) {
        m_gestureGraphics.removeIf([&element](const GraphicElement &g) { return g.id == element.id; });
        m_gestureGraphics.append(element);
        return;
    }
    emit graphicEdited(element);
}

void CanvasView::handleSelectionChanged()
{
    if (m_holdSelectionReports)
        return;
    QList<QGraphicsObject *> selected;
    for (QGraphicsItem *item : scene()->selectedItems()) {
        if (isCanvasItem(item))
            selected.append(static_cast<QGraphicsObject *>(item));
    }

    m_selectionOrder.removeIf([](const QPointer<QGraphicsObject> &item) { return !item || !item->isSelected(); });
    for (QGraphicsObject *item : std::as_const(selected)) {
        const bool known = std::any_of(m_selectionOrder.cbegin(), m_selectionOrder.cend(),
                                       [item](const QPointer<QGraphicsObject> &entry) { return entry == item; });
        if (!known)
            m_selectionOrder.append(item);
    }

    emit selectionCountChanged(static_cast<int>(selected.size()));
    emit selectionEdited(selectedElements());
    if (selected.size() != 1)
        return;
    if (auto *field = qgraphicsitem_cast<VdpFieldItem *>(selected.first()))
        emit fieldSelected(field->field());
    else if (auto *graphic = qgraphicsitem_cast<VdpGraphicItem *>(selected.first()))
        emit graphicSelected(graphic->element());
}

void CanvasView::collectItemsMovedAlong()
{
    for (auto it = m_pressPositions.cbegin(); it != m_pressPositions.cend(); ++it) {
        QGraphicsObject *item = it.key();
        if (!item->isSelected() || item->pos() == it.value())
            continue;
        if (auto *field = qgraphicsitem_cast<VdpFieldItem *>(item)) {
            const TemplateField current = field->field();
            const bool reported = std::any_of(m_gestureFields.cbegin(), m_gestureFields.cend(),
                                              [&current](const TemplateField &f) { return f.id == current.id; });
            if (!reported)
                m_gestureFields.append(current);
        } else if (auto *graphic = qgraphicsitem_cast<VdpGraphicItem *>(item)) {
            const GraphicElement current = graphic->element();
            const bool reported = std::any_of(m_gestureGraphics.cbegin(), m_gestureGraphics.cend(),
                                              [&current](const GraphicElement &g) { return g.id == current.id; });
            if (!reported)
                m_gestureGraphics.append(current);
        }
    }
}

void CanvasView::reportGesture()
{
    const QList<TemplateField> fields = std::exchange(m_gestureFields, {});
    const QList<GraphicElement> graphics = std::exchange(m_gestureGraphics, {});
    if (fields.size() + graphics.size() > 1)
        emit objectsEdited(fields, graphics);
    else if (!fields.isEmpty())
        emit fieldEdited(fields.first());
    else if (!graphics.isEmpty())
        emit graphicEdited(graphics.first());
}

void CanvasView::nudgeSelectedField(int key, bool shift)
{
    TemplateField field = selectedField();
    const QPointF position = nudgedFieldPosition(field, key, shift, QSizeF(m_cardWidthMm, m_cardHeightMm));
    field.xMm = position.x();
    field.yMm = position.y();
    updateFieldItem(field);
    emit fieldEdited(field);
}

void CanvasView::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (event->matches(QKeySequence::Undo)) {
        emit undoRequested();
        event->accept();
        return;
    }
    if ((event->modifiers() & Qt::ControlModifier) && (key == Qt::Key_Y || key == Qt::Key_R)) {
        emit redoRequested();
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Paste) && pasteFromClipboard()) {
        event->accept();
        return;
    }
    if (key == Qt::Key_Delete && selectionCount() >= 1) {
        emit deleteSelectionRequested();
        event->accept();
        return;
    }
    const bool arrow = key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
    if (arrow && selectedField().id >= 1) {
        nudgeSelectedField(key, event->modifiers() & Qt::ShiftModifier);
        event->accept();
        return;
    }
    QGraphicsView::keyPressEvent(event);
}

void CanvasView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier)) {
        // The topmost item that takes mouse buttons (the bleed guide and the
        // background take none), up to its canvas item; the card stops the walk.
        QGraphicsObject *target = nullptr;
        const QList<QGraphicsItem *> underCursor = items(event->position().toPoint());
        for (QGraphicsItem *item : underCursor) {
            if (item->acceptedMouseButtons() == Qt::NoButton)
                continue;
            for (QGraphicsItem *walk = item; walk && walk != m_cardItem; walk = walk->parentItem()) {
                if (isCanvasItem(walk)) {
                    target = static_cast<QGraphicsObject *>(walk);
                    break;
                }
            }
            break;
        }
        if (target) {
            const bool select = !target->isSelected();
            target->setSelected(select);
            if (select)
                target->setFocus();
            event->accept();
            return;
        }
    }
    QGraphicsView::mousePressEvent(event);
    // Where every object was, so that those dragged along are known at the release.
    m_pressPositions.clear();
    if (event->button() == Qt::LeftButton && isCanvasItem(scene()->mouseGrabberItem())) {
        for (VdpFieldItem *item : std::as_const(m_fieldItems))
            m_pressPositions.insert(item, item->pos());
        for (VdpGraphicItem *item : std::as_const(m_graphicItems))
            m_pressPositions.insert(item, item->pos());
    }
}

void CanvasView::mouseReleaseEvent(QMouseEvent *event)
{
    const bool draggedItems = isCanvasItem(scene()->mouseGrabberItem());
    m_collectingGesture = draggedItems;
    QGraphicsView::mouseReleaseEvent(event);
    m_collectingGesture = false;
    if (draggedItems) {
        collectItemsMovedAlong();
        m_pressPositions.clear();
        reportGesture();
    }
}

void CanvasView::wheelEvent(QWheelEvent *event)
{
    if (event->modifiers() & Qt::ControlModifier) {
        const double factor = event->angleDelta().y() >= 1 ? wheelZoomStep : 1 / wheelZoomStep;
        scale(factor, factor);
        m_userZoomed = true;
        event->accept();
        return;
    }
    QGraphicsView::wheelEvent(event);
}

void CanvasView::resizeEvent(QResizeEvent *event)
{
    QGraphicsView::resizeEvent(event);
    if (!m_userZoomed)
        fitCard();
}

void CanvasView::drawBackground(QPainter *painter, const QRectF &rect)
{
    painter->fillRect(rect, backgroundBrush());

    // Zoomed far out the lines would merge into a tint, and their number
    // would grow without bound: the grid is left out below 2 pixels a step.
    const double pixelsPerStep = gridStepUnits * std::sqrt(std::abs(transform().determinant()));
    if (!(pixelsPerStep >= 2))
        return;

    QVarLengthArray<QLineF, 256> lines;
    const double left = std::floor(rect.left() / gridStepUnits) * gridStepUnits;
    const double top = std::floor(rect.top() / gridStepUnits) * gridStepUnits;
    for (double x = left; x <= rect.right(); x += gridStepUnits)
        lines.append(QLineF(x, rect.top(), x, rect.bottom()));
    for (double y = top; y <= rect.bottom(); y += gridStepUnits)
        lines.append(QLineF(rect.left(), y, rect.right(), y));

    painter->save();
    // White at alpha 12 over the backdrop, composed once: the lines only ever
    // lie on the backdrop (the card covers them), and opaque lines cost a
    // fraction of blending each pixel of every line on every repaint.
    QPen pen(gridColor(backgroundBrush().color()), 1, Qt::SolidLine);
    pen.setCosmetic(true);
    painter->setPen(pen);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->drawLines(lines.constData(), static_cast<int>(lines.size()));
    painter->restore();
}
