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

#include <utility>

namespace {

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
    connect(&m_document, &EditorDocument::changed, this, &CanvasEditor::documentChanged);
    connect(&m_document, &EditorDocument::selectionChanged, this, &CanvasEditor::reflectSelection);
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

    connect(m_page, &CanvasPage::addElementRequested, this, &CanvasEditor::addElement);
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
    connect(view, &CanvasView::objectsEdited, this,
            [this](const QList<TemplateField> &fields, const QList<GraphicElement> &graphics) {
                finish(m_document.modifyElements(elementsOf(fields, graphics)));
            });
    connect(view, &CanvasView::deleteSelectionRequested, this, &CanvasEditor::deleteSelectedObjects);
    connect(view, &CanvasView::undoRequested, this, &CanvasEditor::undo);
    connect(view, &CanvasView::redoRequested, this, &CanvasEditor::redo);
    connect(view, &CanvasView::pasteRequested, this,
            [this](const QList<TemplateField> &fields, const QList<GraphicElement> &graphics) {
                finish(m_document.pasteElements(elementsOf(fields, graphics), currentSide()));
            });
    // The canvas on show tells the document what the user selected; the
    // other one only follows the document.
    connect(view, &CanvasView::selectionEdited, this, [this, view](const QList<ElementRef> &selection) {
        if (m_page && view == m_page->currentCanvas())
            m_document.setSelection(selection);
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

CanvasView *CanvasEditor::canvasFor(CardSide side) const
{
    return m_page->canvasForSide(side);
}

CardSide CanvasEditor::currentSide() const
{
    return m_page ? m_page->currentSide() : CardSide::Front;
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
    for (const CardSide side : {CardSide::Front, CardSide::Back}) {
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

void CanvasEditor::addElement(ElementKind kind)
{
    page();
    TemplateElement element;
    const QSizeF card = m_hooks.cardSizeMm();
    if (isFieldKind(kind)) {
        // The first column the field panel offers is what a new field shows.
        QString firstColumn;
        QList<qint64> order;
        const QHash<qint64, QStringList> columns = columnsBySource(m_session.cardColumns(), &order);
        if (!order.isEmpty() && !columns.value(order.first()).isEmpty())
            firstColumn =
                QStringLiteral("source:%1:%2").arg(order.first()).arg(columns.value(order.first()).first());
        TemplateField field = newTemplateField(kind, m_session.project().id, currentSide(), firstColumn);
        const QSizeF fitted = fittedFieldSize(field, card.width(), card.height(),
                                              m_session.preparedCards(m_document.fields()).records);
        field.widthMm = fitted.width();
        field.heightMm = fitted.height();
        element = field;
    } else {
        element = newGraphicElement(kind, m_session.project().id, currentSide(), card.width());
    }
    const DocumentChange change = m_document.addElement(element);
    finish(change);
    if (change.ok)
        m_hooks.showCanvasPage();
}

void CanvasEditor::fieldEditedOnCanvas(const TemplateField &field)
{
    finish(m_document.modifyElement(field));
}

void CanvasEditor::graphicEditedOnCanvas(const GraphicElement &element)
{
    const DocumentChange change = m_document.modifyElement(element);
    finish(change);
    // The panel shows what the user made, saved or not (unless the object is gone).
    if (!change.ok && !change.reloaded && m_panels->graphicPanel()->shownGraphic().id == element.id)
        m_panels->graphicPanel()->showGraphic(element);
}

void CanvasEditor::fieldEditedInPanel(const FieldEdit &edit)
{
    canvasFor(edit.after.side)->updateFieldItem(edit.after);
    QString label = QStringLiteral("edit scratch-card settings");
    if (edit.kind != FieldEdit::Kind::ScratchSettings) {
        const std::optional<TemplateField> before = m_document.field(edit.after.id);
        label = before ? fieldPanelEditLabel(*before, edit.after) : QString();
    }
    DocumentChange change = m_document.modifyElement(edit.after, label);
    if (!change.ok && !change.reloaded)
        change.message = {EditorMessage::Kind::Status, QString(), edit.saveFailureMessage(change.error), 6000};
    finish(change);
}

void CanvasEditor::graphicEditedInPanel(const GraphicEdit &edit)
{
    canvasFor(edit.after.side)->updateGraphicItem(edit.after);
    const std::optional<GraphicElement> before = m_document.graphic(edit.after.id);
    const QString label = before ? graphicPanelEditLabel(*before, edit.after) : QString();
    DocumentChange change = m_document.modifyElement(edit.after, label);
    if (!change.ok && !change.reloaded)
        change.message = {EditorMessage::Kind::Status, QString(), edit.saveFailureMessage(change.error), 6000};
    finish(change);
}

void CanvasEditor::deleteSelectedObjects()
{
    const QList<ElementRef> selection = m_document.selection();
    const qsizetype count = selection.size();
    if (count < 1)
        return;
    const auto answer = m_dialogs.question(
        m_dialogParent, tr("Delete Selected Objects"),
        tr("Delete %1 selected object%2?").arg(count).arg(count == 1 ? QString() : QStringLiteral("s")),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    finish(m_document.deleteElements(selection));
}

void CanvasEditor::deleteField(qint64 id)
{
    if (id < 1)
        return;
    const auto answer = m_dialogs.question(m_dialogParent, tr("Delete Field"),
                                           tr("Delete the selected variable field?"),
                                           QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes)
        finish(m_document.deleteElement({ElementGroup::Field, id}));
}

void CanvasEditor::deleteGraphic(qint64 id)
{
    if (id < 1)
        return;
    const auto answer = m_dialogs.question(m_dialogParent, tr("Delete Graphic"),
                                           tr("Delete the selected graphic object?"),
                                           QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes)
        finish(m_document.deleteElement({ElementGroup::Graphic, id}));
}

void CanvasEditor::alignSelectedObjects(AlignMode mode)
{
    if (m_document.selection().size() < 2) {
        m_hooks.showStatus(tr("Hold Shift and select at least two objects."), 2500);
        return;
    }
    finish(m_document.alignSelection(mode));
}

void CanvasEditor::splitTable(qint64 id)
{
    const DocumentChange change = m_document.splitTable(id);
    finish(change);
    // The first rectangle is selected by the document; its panel shows it.
    if (change.ok && !change.graphicsSet().isEmpty()) {
        m_panels->showGraphicPanel();
        m_panels->graphicPanel()->showGraphic(change.graphicsSet().first());
    }
}

void CanvasEditor::undo()
{
    const bool outer = std::exchange(m_steppingHistory, true);
    const DocumentChange change = m_document.undo();
    m_steppingHistory = outer;
    finish(change);
}

void CanvasEditor::redo()
{
    const bool outer = std::exchange(m_steppingHistory, true);
    const DocumentChange change = m_document.redo();
    m_steppingHistory = outer;
    finish(change);
}

void CanvasEditor::copySelection()
{
    page();
    m_page->currentCanvas()->copySelection();
}

void CanvasEditor::paste()
{
    page();
    m_page->currentCanvas()->pasteFromClipboard();
}

void CanvasEditor::sideChanged()
{
    m_document.setSelection(m_page->currentCanvas()->selectedElements());
    m_panels->fieldPanel()->clearField();
    m_panels->graphicPanel()->clearGraphic();
    m_backgrounds->refreshStatus();
    showPreviewRecord();
}

void CanvasEditor::finish(const DocumentChange &change)
{
    if (!change.reloaded) {
        say(change.message);
        return;
    }
    // The failed edit may come from a canvas item's own mouse handler, which
    // must not see a box's event loop run inside it.
    QMetaObject::invokeMethod(this, [this, message = change.message] { say(message); }, Qt::QueuedConnection);
}

qint64 CanvasEditor::fieldAbove(qint64 id, CardSide side) const
{
    const QList<TemplateField> &fields = m_document.fields();
    CanvasView *view = canvasFor(side);
    bool found = false;
    for (const TemplateField &field : fields) {
        if (found && canvasFor(field.side) == view && view->fieldItem(field.id))
            return field.id;
        found = found || field.id == id;
    }
    return 0;
}

qint64 CanvasEditor::graphicAbove(qint64 id, CardSide side) const
{
    const QList<GraphicElement> &graphics = m_document.graphics();
    CanvasView *view = canvasFor(side);
    bool found = false;
    for (const GraphicElement &element : graphics) {
        if (found && canvasFor(element.side) == view && view->graphicItem(element.id))
            return element.id;
        found = found || element.id == id;
    }
    return 0;
}

void CanvasEditor::reflectSelection()
{
    if (!m_page)
        return;
    for (CanvasView *view : {m_page->frontCanvas(), m_page->backCanvas()})
        view->setSelectedElements(m_document.selection());
}

void CanvasEditor::documentChanged(const DocumentChange &change)
{
    if (!m_page)
        return;
    if (change.reloaded) {
        // The failed edit may come from a canvas item's own mouse handler,
        // which must not see its item deleted under it: the canvases are
        // drawn again once that handler has returned.
        QMetaObject::invokeMethod(this, &CanvasEditor::reloadFromDocument, Qt::QueuedConnection);
        return;
    }
    // The view's items and the panels are typed: the change is taken apart by group.
    const QList<TemplateField> fieldsSet = change.fieldsSet();
    const QList<TemplateField> fieldsRemoved = change.fieldsRemoved();
    const QList<GraphicElement> graphicsSet = change.graphicsSet();
    const QList<GraphicElement> graphicsRemoved = change.graphicsRemoved();
    FieldPropertyPanel *fieldPanel = m_panels->fieldPanel();
    GraphicPropertyPanel *graphicPanel = m_panels->graphicPanel();
    for (const TemplateField &field : fieldsRemoved)
        canvasFor(field.side)->removeFieldItem(field.id);
    for (const GraphicElement &element : graphicsRemoved)
        canvasFor(element.side)->removeGraphicItem(element.id);
    // A field that comes or goes prints on every card; a text field's edit
    // shows on the sheets the next time the preview page is opened.
    bool fieldsCameOrWent = !fieldsRemoved.isEmpty();
    for (const GraphicElement &element : graphicsSet) {
        CanvasView *view = canvasFor(element.side);
        if (view->graphicItem(element.id))
            view->updateGraphicItem(element);
        else
            view->insertGraphicItem(element, graphicAbove(element.id, element.side));
    }
    for (const TemplateField &field : fieldsSet) {
        CanvasView *view = canvasFor(field.side);
        if (view->fieldItem(field.id)) {
            view->updateFieldItem(field);
        } else {
            view->insertFieldItem(field, fieldAbove(field.id, field.side));
            fieldsCameOrWent = true;
        }
    }

    // The panels follow the records they show: updated, or emptied when gone.
    for (const TemplateField &field : fieldsRemoved) {
        if (fieldPanel->shownField().id == field.id)
            fieldPanel->clearField();
    }
    for (const GraphicElement &element : graphicsRemoved) {
        if (graphicPanel->shownGraphic().id == element.id)
            graphicPanel->clearGraphic();
    }
    for (const TemplateField &field : fieldsSet) {
        if (fieldPanel->shownField().id == field.id)
            fieldPanel->showField(field);
    }
    for (const GraphicElement &element : graphicsSet) {
        if (graphicPanel->shownGraphic().id == element.id)
            graphicPanel->showGraphic(element);
    }

    if (change.touchesCardNumbering()) {
        cardRecordsChanged();
        m_hooks.refreshPreview();
    } else if (m_steppingHistory || fieldsCameOrWent || !graphicsSet.isEmpty()
               || !graphicsRemoved.isEmpty()) {
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
