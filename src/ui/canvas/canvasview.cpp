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

QRectF itemRectMm(QGraphicsObject *item)
{
    if (auto *field = qgraphicsitem_cast<VdpFieldItem *>(item)) {
        const TemplateField record = field->field();
        return {record.xMm, record.yMm, record.widthMm, record.heightMm};
    }
    const GraphicElement record = qgraphicsitem_cast<VdpGraphicItem *>(item)->element();
    return {record.xMm, record.yMm, record.widthMm, record.heightMm};
}

double sanitizedLength(double mm)
{
    return std::isfinite(mm) && mm > 0 ? mm : 0;
}

template<typename Record>
void storeRecord(QList<Record> &records, const Record &record)
{
    for (Record &stored : records) {
        if (stored.id == record.id) {
            stored = record;
            return;
        }
    }
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
    {
        SelectionBatch batch(m_holdSelectionReports);
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

        for (const GraphicElement &element : std::as_const(m_graphics))
            createGraphicItem(element);
        for (const TemplateField &field : std::as_const(m_fields))
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

VdpFieldItem *CanvasView::createFieldItem(const TemplateField &field)
{
    auto *item = new VdpFieldItem(field, m_previewRecord, m_cardItem);
    connect(item, &VdpFieldItem::fieldEdited, this, &CanvasView::relayFieldEdited);
    m_fieldItems.append(item);
    return item;
}

VdpGraphicItem *CanvasView::createGraphicItem(const GraphicElement &element)
{
    auto *item = new VdpGraphicItem(element, m_cardItem);
    item->setSnapEnabled(m_snapEnabled);
    connect(item, &VdpGraphicItem::elementEdited, this, &CanvasView::relayGraphicEdited);
    m_graphicItems.append(item);
    return item;
}

void CanvasView::setCanvasFields(const QList<TemplateField> &fields)
{
    {
        SelectionBatch batch(m_holdSelectionReports);
        qDeleteAll(std::exchange(m_fieldItems, {}));
        m_fields = fields;
        for (const TemplateField &field : fields)
            createFieldItem(field);
    }
    handleSelectionChanged();
}

void CanvasView::setCanvasGraphics(const QList<GraphicElement> &graphics)
{
    {
        SelectionBatch batch(m_holdSelectionReports);
        qDeleteAll(std::exchange(m_graphicItems, {}));
        m_graphics = graphics;
        for (const GraphicElement &element : graphics)
            createGraphicItem(element);
    }
    handleSelectionChanged();
}

void CanvasView::addFieldItem(const TemplateField &field)
{
    m_fields.append(field);
    VdpFieldItem *item = createFieldItem(field);
    item->setSelected(true);
    item->setFocus();
}

void CanvasView::addGraphicItem(const GraphicElement &element, bool select)
{
    m_graphics.append(element);
    VdpGraphicItem *item = createGraphicItem(element);
    if (select) {
        item->setSelected(true);
        item->setFocus();
    }
}

void CanvasView::updateFieldItem(const TemplateField &field)
{
    VdpFieldItem *item = fieldItem(field.id);
    if (!item)
        return;
    storeRecord(m_fields, field);
    item->setField(field);
}

void CanvasView::updateGraphicItem(const GraphicElement &element)
{
    VdpGraphicItem *item = graphicItem(element.id);
    if (!item)
        return;
    storeRecord(m_graphics, element);
    item->setElement(element);
}

void CanvasView::removeFieldItem(qint64 fieldId)
{
    VdpFieldItem *item = fieldItem(fieldId);
    {
        SelectionBatch batch(m_holdSelectionReports);
        if (item) {
            m_fieldItems.removeOne(item);
            delete item;
        }
        m_fields.removeIf([fieldId](const TemplateField &field) { return field.id == fieldId; });
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
            delete item;
        }
        m_graphics.removeIf([elementId](const GraphicElement &element) { return element.id == elementId; });
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

int CanvasView::alignSelected(AlignMode mode)
{
    const QList<QGraphicsObject *> items = selectedItemsInOrder();
    QGraphicsObject *anchor = alignmentAnchor();
    if (items.size() < 2 || !anchor)
        return 0;
    const QRectF anchorRect = itemRectMm(anchor);
    int moved = 0;
    for (QGraphicsObject *item : items) {
        if (item == anchor)
            continue;
        const QPointF position = alignedPosition(mode, anchorRect, itemRectMm(item));
        if (auto *fieldItem = qgraphicsitem_cast<VdpFieldItem *>(item)) {
            TemplateField field = fieldItem->field();
            field.xMm = position.x();
            field.yMm = position.y();
            updateFieldItem(field);
        } else if (auto *graphicItem = qgraphicsitem_cast<VdpGraphicItem *>(item)) {
            GraphicElement element = graphicItem->element();
            element.xMm = position.x();
            element.yMm = position.y();
            updateGraphicItem(element);
        }
        ++moved;
    }
    return moved;
}

bool CanvasView::copySelection()
{
    QList<CanvasClipboardItem> items;
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
    for (const CanvasClipboardItem &item : document->items) {
        if (const auto *copied = std::get_if<TemplateField>(&item)) {
            TemplateField field = *copied;
            const QPointF position = pastedPosition(QPointF(field.xMm, field.yMm),
                                                    QSizeF(field.widthMm, field.heightMm), cardMm);
            field.xMm = position.x();
            field.yMm = position.y();
            emit pasteFieldRequested(field);
        } else if (const auto *copiedGraphic = std::get_if<GraphicElement>(&item)) {
            GraphicElement element = *copiedGraphic;
            const QPointF position = pastedPosition(QPointF(element.xMm, element.yMm),
                                                    QSizeF(element.widthMm, element.heightMm), cardMm);
            element.xMm = position.x();
            element.yMm = position.y();
            emit pasteGraphicRequested(element);
        }
    }
    return true;
}

void CanvasView::relayFieldEdited(const TemplateField &field)
{
    storeRecord(m_fields, field);
    emit fieldEdited(field);
}

void CanvasView::relayGraphicEdited(const GraphicElement &element)
{
    storeRecord(m_graphics, element);
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
    if (selected.size() != 1)
        return;
    if (auto *field = qgraphicsitem_cast<VdpFieldItem *>(selected.first()))
        emit fieldSelected(field->field());
    else if (auto *graphic = qgraphicsitem_cast<VdpGraphicItem *>(selected.first()))
        emit graphicSelected(graphic->element());
}

void CanvasView::reportItemsMovedAlong()
{
    // Copies: a receiver may replace the lists while we walk them.
    const QList<VdpFieldItem *> fieldItems = m_fieldItems;
    for (VdpFieldItem *item : fieldItems) {
        if (!m_fieldItems.contains(item) || !item->isSelected())
            continue;
        const TemplateField current = item->field();
        const auto stored = std::find_if(m_fields.cbegin(), m_fields.cend(),
                                         [&current](const TemplateField &field) { return field.id == current.id; });
        if (stored != m_fields.cend() && (stored->xMm != current.xMm || stored->yMm != current.yMm))
            relayFieldEdited(current);
    }
    const QList<VdpGraphicItem *> graphicItems = m_graphicItems;
    for (VdpGraphicItem *item : graphicItems) {
        if (!m_graphicItems.contains(item) || !item->isSelected())
            continue;
        const GraphicElement current = item->element();
        const auto stored = std::find_if(m_graphics.cbegin(), m_graphics.cend(),
                                         [&current](const GraphicElement &element) { return element.id == current.id; });
        if (stored != m_graphics.cend() && (stored->xMm != current.xMm || stored->yMm != current.yMm))
            relayGraphicEdited(current);
    }
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
}

void CanvasView::mouseReleaseEvent(QMouseEvent *event)
{
    const bool draggedItems = isCanvasItem(scene()->mouseGrabberItem());
    QGraphicsView::mouseReleaseEvent(event);
    if (draggedItems)
        reportItemsMovedAlong();
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
