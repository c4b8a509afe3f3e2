#include "ui/canvaseditor.h"

#include "app/projectsession.h"
#include "render/elementpainter.h"
#include "ui/backgroundflow.h"
#include "ui/canvas/canvaspage.h"
#include "ui/canvas/canvasview.h"
#include "ui/canvas/fieldpropertypanel.h"
#include "ui/canvas/graphicpropertypanel.h"
#include "ui/canvas/propertyscroll.h"
#include "ui/canvas/vdpfielditem.h"
#include "ui/canvas/vdpgraphicitem.h"
#include "ui/dialogs.h"

#include <QHash>
#include <QMetaObject>
#include <QRegularExpression>
#include <QSpinBox>

namespace {

const QString backSide = QStringLiteral("back");

// The column names of each data file, from the combined records' keys
// ("source:ID:COLUMN"), in the order the keys are listed.
QHash<qint64, QStringList> columnsBySource(const QStringList &keys, QList<qint64> *order)
{
    static const QRegularExpression sourceKey(QStringLiteral("^source:(\\d+):(.*)$"),
                                              QRegularExpression::DotMatchesEverythingOption);
    QHash<qint64, QStringList> columns;
    for (const QString &key : keys) {
        const QRegularExpressionMatch match = sourceKey.match(key);
        if (!match.hasMatch())
            continue;
        const qint64 id = match.captured(1).toLongLong();
        if (!columns.contains(id) && order)
            order->append(id);
        columns[id].append(match.captured(2));
    }
    return columns;
}

} // namespace

CanvasEditor::CanvasEditor(ProjectStore &store, ProjectSession &session, Dialogs &dialogs,
                           QWidget *dialogParent, const QString &dataDirectory, CanvasEditorHooks hooks,
                           QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_session(session)
    , m_dialogs(dialogs)
    , m_dialogParent(dialogParent)
    , m_dataDirectory(dataDirectory)
    , m_hooks(std::move(hooks))
    , m_document(store)
{
}

CanvasPage *CanvasEditor::page()
{
    if (m_page)
        return m_page;
    m_page = new CanvasPage;
    m_panels = new PropertyScroll;
    m_page->setPropertyPanel(m_panels);
    m_panels->setColorChooser([this](QWidget *parent, const QString &title, const QColor &initial) {
        return m_dialogs.getColor(parent, title, initial);
    });

    connect(m_page, &CanvasPage::addFieldRequested, this, &CanvasEditor::addField);
    connect(m_page, &CanvasPage::addGraphicRequested, this, &CanvasEditor::addGraphic);
    connect(m_page, &CanvasPage::alignRequested, this, &CanvasEditor::alignSelectedObjects);
    connect(m_page, &CanvasPage::previewRecordChanged, this, &CanvasEditor::showPreviewRecord);
    connect(m_page, &CanvasPage::sideChanged, this, &CanvasEditor::sideChanged);
    connect(m_page, &CanvasPage::statusMessageRequested, this,
            [this](const QString &text, int timeoutMs) { m_hooks.showStatus(text, timeoutMs); });
    connectCanvas(m_page->frontCanvas());
    connectCanvas(m_page->backCanvas());
    m_backgrounds = new BackgroundFlow(m_store, m_session, m_dialogs, m_dialogParent, m_page, m_dataDirectory,
                                       {m_hooks.showCanvasPage, m_hooks.showStatus}, this);

    FieldPropertyPanel *fieldPanel = m_panels->fieldPanel();
    connect(fieldPanel, &FieldPropertyPanel::fieldEdited, this, &CanvasEditor::fieldEditedInPanel);
    connect(fieldPanel, &FieldPropertyPanel::deleteRequested, this, &CanvasEditor::deleteField);
    GraphicPropertyPanel *graphicPanel = m_panels->graphicPanel();
    connect(graphicPanel, &GraphicPropertyPanel::graphicEdited, this, &CanvasEditor::graphicEditedInPanel);
    connect(graphicPanel, &GraphicPropertyPanel::splitTableRequested, this, &CanvasEditor::splitTable);
    connect(graphicPanel, &GraphicPropertyPanel::deleteRequested, this, &CanvasEditor::deleteGraphic);
    return m_page;
}

void CanvasEditor::connectCanvas(CanvasView *view)
{
    connect(view, &CanvasView::fieldEdited, this, &CanvasEditor::fieldEditedOnCanvas);
    connect(view, &CanvasView::graphicEdited, this, &CanvasEditor::graphicEditedOnCanvas);
    connect(view, &CanvasView::deleteSelectionRequested, this, &CanvasEditor::deleteSelectedObjects);
    connect(view, &CanvasView::deleteFieldRequested, this, &CanvasEditor::deleteField);
    connect(view, &CanvasView::deleteGraphicRequested, this, &CanvasEditor::deleteGraphic);
    connect(view, &CanvasView::undoRequested, this, &CanvasEditor::undo);
    connect(view, &CanvasView::redoRequested, this, &CanvasEditor::redo);
    connect(view, &CanvasView::pasteFieldRequested, this, [this](const TemplateField &field) {
        show(m_document.pasteField(field, currentSide()), false);
    });
    connect(view, &CanvasView::pasteGraphicRequested, this, [this](const GraphicElement &element) {
        show(m_document.pasteGraphic(element, currentSide()), false);
    });
    connect(view, &CanvasView::pasteRefused, this,
            [this](const QString &reason) { m_hooks.showStatus(reason, 6000); });
    connect(view, &CanvasView::fieldSelected, this, [this](const TemplateField &field) {
        m_panels->showFieldPanel();
        m_panels->fieldPanel()->showField(m_document.field(field.id).value_or(field));
    });
    connect(view, &CanvasView::graphicSelected, this, [this](const GraphicElement &element) {
        m_panels->showGraphicPanel();
        m_panels->graphicPanel()->showGraphic(m_document.graphic(element.id).value_or(element));
    });
}

BackgroundFlow *CanvasEditor::backgrounds()
{
    page();
    return m_backgrounds;
}

CanvasView *CanvasEditor::canvasFor(const QString &side) const
{
    return m_page->canvasForSide(side);
}

QString CanvasEditor::currentSide() const
{
    return m_page ? m_page->currentSide() : QStringLiteral("front");
}

qint64 CanvasEditor::selectedFieldId() const
{
    return m_panels ? m_panels->fieldPanel()->shownField().id : 0;
}

void CanvasEditor::openProject()
{
    page();
    QString error;
    if (!m_document.open(m_session.project().id, &error))
        m_dialogs.critical(m_dialogParent, tr("Could Not Load Template"), error);
    m_page->setDuplex(m_session.project().duplex);
    loadCanvases();
    m_backgrounds->showProjectBackgrounds();
    m_panels->fieldPanel()->clearField();
    m_panels->graphicPanel()->clearGraphic();
    cardRecordsChanged();
}

void CanvasEditor::loadCanvases()
{
    for (const QString &side : {QStringLiteral("front"), backSide}) {
        CanvasView *view = canvasFor(side);
        view->setCanvasGraphics(m_document.graphicsOnSide(side));
        view->setCanvasFields(m_document.fieldsOnSide(side));
    }
}

void CanvasEditor::setCardSize(const QSizeF &cardMm)
{
    page();
    for (CanvasView *view : {m_page->frontCanvas(), m_page->backCanvas()})
        view->setCardSize(cardMm.width(), cardMm.height());
    m_panels->fieldPanel()->setCardContext(cardMm, m_session.preparedCards(m_document.fields()).records);
    m_panels->graphicPanel()->setCardSize(cardMm);
}

void CanvasEditor::setBleed(double bleedMm, bool show)
{
    page();
    for (CanvasView *view : {m_page->frontCanvas(), m_page->backCanvas()})
        view->setBleed(bleedMm, show);
}

void CanvasEditor::setDuplex(bool duplex)
{
    page()->setDuplex(duplex);
}

void CanvasEditor::cardRecordsChanged()
{
    page();
    QList<qint64> order;
    const QHash<qint64, QStringList> columns = columnsBySource(m_session.cardColumns(), &order);
    m_panels->fieldPanel()->setDataSources(m_session.dataSources(), columns);
    const CardTable &records = m_session.preparedCards(m_document.fields()).records;
    m_panels->fieldPanel()->setCardContext(m_hooks.cardSizeMm(), records);
    m_page->setPreviewRecordCount(int(records.size()));
    showPreviewRecord();
}

void CanvasEditor::showPreviewRecord()
{
    const CardTable &records = m_session.preparedCards(m_document.fields()).records;
    const int index = m_page->previewRecordNumber() - 1;
    const QJsonObject record = records.object(index);
    for (CanvasView *view : {m_page->frontCanvas(), m_page->backCanvas()})
        view->setPreviewRecord(record);
}

void CanvasEditor::addField(const QString &type)
{
    page();
    // The first column the field panel offers is what a new field shows.
    QString firstColumn;
    QList<qint64> order;
    const QHash<qint64, QStringList> columns = columnsBySource(m_session.cardColumns(), &order);
    if (!order.isEmpty() && !columns.value(order.first()).isEmpty())
        firstColumn = QStringLiteral("source:%1:%2").arg(order.first()).arg(columns.value(order.first()).first());
    TemplateField field = newTemplateField(fieldKindFromKey(type).value_or(ElementKind::Text), m_session.project().id,
                                           cardSideFromKey(currentSide()), firstColumn);
    const QSizeF card = m_hooks.cardSizeMm();
    const QSizeF fitted = fittedFieldSize(field, card.width(), card.height(),
                                          m_session.preparedCards(m_document.fields()).records);
    field.widthMm = fitted.width();
    field.heightMm = fitted.height();
    // The new object alone is selected, as after any click.
    m_page->currentCanvas()->scene()->clearSelection();
    const DocumentChange change = m_document.addField(field);
    show(change, false);
    if (change.ok)
        m_hooks.showCanvasPage();
}

void CanvasEditor::addGraphic(const QString &type)
{
    page();
    const std::optional<ElementKind> kind = graphicKindFromKey(type);
    if (!kind)
        return; // every tool names a known shape
    const GraphicElement element = newGraphicElement(*kind, m_session.project().id, cardSideFromKey(currentSide()),
                                                     m_hooks.cardSizeMm().width());
    m_page->currentCanvas()->scene()->clearSelection();
    const DocumentChange change = m_document.addGraphic(element);
    show(change, false);
    if (change.ok)
        m_hooks.showCanvasPage();
}

void CanvasEditor::fieldEditedOnCanvas(const TemplateField &field)
{
    show(m_document.modifyField(field), false);
}

void CanvasEditor::graphicEditedOnCanvas(const GraphicElement &element)
{
    const DocumentChange change = m_document.modifyGraphic(element);
    show(change, false);
    // The panel shows what the user made, saved or not (unless the object is gone).
    if (!change.ok && !change.reloaded && m_panels->graphicPanel()->shownGraphic().id == element.id)
        m_panels->graphicPanel()->showGraphic(element);
}

void CanvasEditor::fieldEditedInPanel(const FieldEdit &edit)
{
    canvasFor(cardSideKey(edit.after.side))->updateFieldItem(edit.after);
    DocumentChange change = m_document.modifyField(edit.after);
    if (!change.ok && !change.reloaded)
        change.message = {EditorMessage::Kind::Status, QString(), edit.saveFailureMessage(change.error), 6000};
    show(change, false);
}

void CanvasEditor::graphicEditedInPanel(const GraphicEdit &edit)
{
    canvasFor(cardSideKey(edit.after.side))->updateGraphicItem(edit.after);
    DocumentChange change = m_document.modifyGraphic(edit.after);
    if (!change.ok && !change.reloaded)
        change.message = {EditorMessage::Kind::Status, QString(), edit.saveFailureMessage(change.error), 6000};
    show(change, false);
}

QList<ElementRef> CanvasEditor::selectionOf(const CanvasView *view) const
{
    QList<ElementRef> selection;
    for (QGraphicsObject *item : view->selectedItemsInOrder()) {
        if (const auto *field = qgraphicsitem_cast<VdpFieldItem *>(item))
            selection.append({ElementRef::Kind::Field, field->field().id});
        else if (const auto *graphic = qgraphicsitem_cast<VdpGraphicItem *>(item))
            selection.append({ElementRef::Kind::Graphic, graphic->element().id});
    }
    return selection;
}

void CanvasEditor::deleteSelectedObjects()
{
    const QList<ElementRef> selection = selectionOf(m_page->currentCanvas());
    const qsizetype count = selection.size();
    if (count < 1)
        return;
    const auto answer = m_dialogs.question(
        m_dialogParent, tr("Delete Selected Objects"),
        tr("Delete %1 selected object%2?").arg(count).arg(count == 1 ? QString() : QStringLiteral("s")),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    show(m_document.deleteObjects(selection), false);
}

void CanvasEditor::deleteField(qint64 id)
{
    if (id < 1)
        return;
    const auto answer = m_dialogs.question(m_dialogParent, tr("Delete Field"),
                                           tr("Delete the selected variable field?"),
                                           QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes)
        show(m_document.deleteField(id), false);
}

void CanvasEditor::deleteGraphic(qint64 id)
{
    if (id < 1)
        return;
    const auto answer = m_dialogs.question(m_dialogParent, tr("Delete Graphic"),
                                           tr("Delete the selected graphic object?"),
                                           QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes)
        show(m_document.deleteGraphic(id), false);
}

void CanvasEditor::alignSelectedObjects(AlignMode mode)
{
    const CanvasView *view = m_page->currentCanvas();
    const QList<ElementRef> selection = selectionOf(view);
    if (selection.size() < 2) {
        m_hooks.showStatus(tr("Hold Shift and select at least two objects."), 2500);
        return;
    }
    ElementRef anchor = selection.first();
    if (QGraphicsObject *item = view->alignmentAnchor()) {
        if (const auto *field = qgraphicsitem_cast<VdpFieldItem *>(item))
            anchor = {ElementRef::Kind::Field, field->field().id};
        else if (const auto *graphic = qgraphicsitem_cast<VdpGraphicItem *>(item))
            anchor = {ElementRef::Kind::Graphic, graphic->element().id};
    }
    show(m_document.alignObjects(mode, selection, anchor), false);
}

void CanvasEditor::splitTable(qint64 id)
{
    const DocumentChange change = m_document.splitTable(id);
    show(change, true);
    if (change.ok && !change.graphicsSet.isEmpty()) {
        const GraphicElement &first = change.graphicsSet.first();
        CanvasView *view = canvasFor(cardSideKey(first.side));
        view->scene()->clearSelection();
        if (VdpGraphicItem *item = view->graphicItem(first.id))
            item->setSelected(true);
        m_panels->showGraphicPanel();
        m_panels->graphicPanel()->showGraphic(first);
    }
}

void CanvasEditor::undo()
{
    show(m_document.undo(), true);
}

void CanvasEditor::redo()
{
    show(m_document.redo(), true);
}

void CanvasEditor::sideChanged()
{
    m_panels->fieldPanel()->clearField();
    m_panels->graphicPanel()->clearGraphic();
    m_backgrounds->refreshStatus();
    showPreviewRecord();
}

void CanvasEditor::show(const DocumentChange &change, bool reload)
{
    if (change.reloaded) {
        // The failed edit may come from a canvas item's own mouse handler,
        // which must not see its item deleted under it, nor a box's event
        // loop run inside it: the canvases are drawn again, and the user
        // told, once that handler has returned.
        QMetaObject::invokeMethod(
            this,
            [this, message = change.message] {
                reloadFromDocument();
                say(message);
            },
            Qt::QueuedConnection);
        return;
    }
    FieldPropertyPanel *fieldPanel = m_panels->fieldPanel();
    GraphicPropertyPanel *graphicPanel = m_panels->graphicPanel();
    // A field that comes or goes prints on every card; a text field's edit
    // shows on the sheets the next time the preview page is opened.
    bool fieldsCameOrWent = !change.fieldsRemoved.isEmpty();
    if (reload) {
        if (!change.isEmpty())
            loadCanvases();
    } else {
        for (const TemplateField &field : change.fieldsRemoved)
            canvasFor(cardSideKey(field.side))->removeFieldItem(field.id);
        for (const GraphicElement &element : change.graphicsRemoved)
            canvasFor(cardSideKey(element.side))->removeGraphicItem(element.id);
        // A new record is added on top, selected, and shown in its panel.
        for (const GraphicElement &element : change.graphicsSet) {
            CanvasView *view = canvasFor(cardSideKey(element.side));
            if (view->graphicItem(element.id)) {
                view->updateGraphicItem(element);
                continue;
            }
            view->addGraphicItem(element, true);
            m_panels->showGraphicPanel();
            graphicPanel->showGraphic(element);
        }
        for (const TemplateField &field : change.fieldsSet) {
            CanvasView *view = canvasFor(cardSideKey(field.side));
            if (view->fieldItem(field.id)) {
                view->updateFieldItem(field);
                continue;
            }
            view->addFieldItem(field);
            fieldsCameOrWent = true;
            m_panels->showFieldPanel();
            fieldPanel->showField(field);
        }
    }

    // The panels follow the records they show: updated, or emptied when gone.
    for (const TemplateField &field : change.fieldsRemoved) {
        if (fieldPanel->shownField().id == field.id)
            fieldPanel->clearField();
    }
    for (const GraphicElement &element : change.graphicsRemoved) {
        if (graphicPanel->shownGraphic().id == element.id)
            graphicPanel->clearGraphic();
    }
    for (const TemplateField &field : change.fieldsSet) {
        if (fieldPanel->shownField().id == field.id)
            fieldPanel->showField(field);
    }
    for (const GraphicElement &element : change.graphicsSet) {
        if (graphicPanel->shownGraphic().id == element.id)
            graphicPanel->showGraphic(element);
    }

    say(change.message);
    if (change.touchesCardNumbering()) {
        cardRecordsChanged();
        m_hooks.refreshPreview();
    } else if ((reload && !change.isEmpty()) || fieldsCameOrWent || !change.graphicsSet.isEmpty() || !change.graphicsRemoved.isEmpty()) {
        m_hooks.refreshPreview();
    }
}

void CanvasEditor::reloadFromDocument()
{
    loadCanvases();
    FieldPropertyPanel *fieldPanel = m_panels->fieldPanel();
    GraphicPropertyPanel *graphicPanel = m_panels->graphicPanel();
    if (const qint64 id = fieldPanel->shownField().id; id > 0) {
        if (const std::optional<TemplateField> field = m_document.field(id))
            fieldPanel->showField(*field);
        else
            fieldPanel->clearField();
    }
    if (const qint64 id = graphicPanel->shownGraphic().id; id > 0) {
        if (const std::optional<GraphicElement> element = m_document.graphic(id))
            graphicPanel->showGraphic(*element);
        else
            graphicPanel->clearGraphic();
    }
    cardRecordsChanged();
    m_hooks.refreshPreview();
}

void CanvasEditor::say(const EditorMessage &message)
{
    switch (message.kind) {
    case EditorMessage::Kind::None:
        break;
    case EditorMessage::Kind::Status:
        m_hooks.showStatus(message.text, message.timeoutMs);
        break;
    case EditorMessage::Kind::Critical:
        m_dialogs.critical(m_dialogParent, message.title, message.text);
        break;
    }
}
