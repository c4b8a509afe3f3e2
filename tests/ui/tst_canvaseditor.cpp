// The template editor inside the real window: tools, gestures and panel
// edits reach the database, undo and redo put it back, failures leave no
// item without a row.
#include "scripteddialogs.h"
#include "windowfixture.h"

#include "app/dataimport.h"
#include "editor/clipboarddocument.h"
#include "ui/canvas/canvaspage.h"
#include "ui/canvas/canvasview.h"
#include "ui/canvas/fieldpropertypanel.h"
#include "ui/canvas/graphicpropertypanel.h"
#include "ui/canvas/prizeeditor.h"
#include "ui/canvas/propertyscroll.h"
#include "ui/canvas/vdpfielditem.h"
#include "ui/canvas/vdpgraphicitem.h"
#include "ui/canvaseditor.h"
#include "ui/mainwindow.h"
#include "ui/unitspinbox.h"

#include <QAccessible>
#include <QAction>
#include <QMenuBar>
#include <QClipboard>
#include <QMimeData>
#include <QComboBox>
#include <QMenu>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace {

// "Name,City" and `count` rows.
QByteArray peopleCsv(int count)
{
    QByteArray text = "Name,City\n";
    for (int n = 1; n <= count; ++n)
        text += "Person " + QByteArray::number(n) + ",Town " + QByteArray::number(n) + "\n";
    return text;
}

QStringList kindsIn(const QList<TemplateField> &fields)
{
    QStringList kinds;
    for (const TemplateField &field : fields)
        kinds << cardSideKey(field.side) + u':' + elementKindKey(field.type);
    return kinds;
}

QStringList kindsIn(const QList<GraphicElement> &graphics)
{
    QStringList kinds;
    for (const GraphicElement &graphic : graphics)
        kinds << cardSideKey(graphic.side) + u':' + elementKindKey(graphic.type);
    return kinds;
}

} // namespace

class TestCanvasEditor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void everyToolAddsItsKind();
    void undoAndRedoThroughTheKeyboard();
    void deleteSelectionAsksFirst_data();
    void deleteSelectionAsksFirst();
    void panelEditIsSavedAndUndone();
    void failedAddLeavesNoItem();
    void editOfObjectRemovedElsewhere_data();
    void editOfObjectRemovedElsewhere();
    void previewRecordShowsThatCard();
    void designedCardExports();
    void copyAndPasteThroughTheClipboard();
    void editMenuNamesTheStep();
    void alignIsOneStepAndKeepsTheItems();
    void selectionFollowsClicksAndBand();
    void panelEditsAndDragsAreNamedSteps();

private:
    bool startWindow(bool duplex = false);
    CanvasPage *page() const { return m_window->canvasEditor()->page(); }
    QList<TemplateField> storedFields() const
    {
        return openTestStore(m_folders.databasePath)->loadRecords<TemplateField>(m_projectId);
    }
    QList<GraphicElement> storedGraphics() const
    {
        return openTestStore(m_folders.databasePath)->loadRecords<GraphicElement>(m_projectId);
    }
    QToolButton *tool(const QString &toolTip) const;

    WindowFolders m_folders;
    std::shared_ptr<DialogScript> m_script;
    std::unique_ptr<MainWindow> m_window;
    qint64 m_projectId = 0;
};

void TestCanvasEditor::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestCanvasEditor::init()
{
    QVERIFY(m_folders.create());
    m_script = std::make_shared<DialogScript>();
    // Questions nobody scripted are declined.
    m_script->unscriptedAnswer = QMessageBox::No;
}

void TestCanvasEditor::cleanup()
{
    m_window.reset();
    m_folders.remove();
}

bool TestCanvasEditor::startWindow(bool duplex)
{
    {
        const auto store = openTestStore(m_folders.databasePath);
        std::optional<Project> project = store->createProject(QStringLiteral("Cards"));
        if (!project)
            return false;
        const QString csv = m_folders.files->filePath(QStringLiteral("people.csv"));
        QFile file(csv);
        const QByteArray data = peopleCsv(5);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            return false;
        file.close();
        if (!upsertDataSource(*store, project->id, csv, DataSourceOptions{}))
            return false;
        project->dataSourcePath = csv;
        project->duplex = duplex;
        if (!store->updateProject(*project))
            return false;
        m_projectId = project->id;
    }
    if (!startScriptedWindow(m_window, m_script, m_folders.starter->path()))
        return false;
    m_window->show();
    return QTest::qWaitForWindowExposed(m_window.get());
}

QToolButton *TestCanvasEditor::tool(const QString &toolTip) const
{
    for (QToolButton *button : page()->toolButtons()) {
        if (button->toolTip() == toolTip)
            return button;
    }
    return nullptr;
}

void TestCanvasEditor::everyToolAddsItsKind()
{
    QVERIFY(startWindow(true));
    for (const char *toolTip : {"Add Variable Text Field", "Add Auto Sequence", "Add Barcode (Code 128)",
                                "Add QR Code", "Add Scratch Card", "Add Table"}) {
        QToolButton *button = tool(QLatin1String(toolTip));
        QVERIFY2(button, toolTip);
        button->click();
    }
    for (QAction *action : page()->drawingMenu()->actions())
        action->trigger();
    // The toolbar's own actions, on the back.
    page()->sideTabs()->setCurrentIndex(1);
    m_window->addBarcode();

    const QList<TemplateField> fields = storedFields();
    QCOMPARE(kindsIn(fields), (QStringList{"front:text", "front:sequence", "front:barcode", "front:qrcode",
                                           "front:scratch", "back:barcode"}));
    // A text field takes the first column and is named after it.
    QCOMPARE(fields.first().dataColumn, QStringLiteral("source:1:City"));
    QCOMPARE(fields.first().name, QStringLiteral("City"));
    QCOMPARE(kindsIn(storedGraphics()),
             (QStringList{"front:table", "front:line", "front:ellipse", "front:rectangle"}));

    // The canvases show exactly the stored rows.
    QCOMPARE(page()->frontCanvas()->canvasFields().size(), 5);
    QCOMPARE(page()->frontCanvas()->canvasGraphics().size(), 4);
    QCOMPARE(page()->backCanvas()->canvasFields().size(), 1);
    for (const TemplateField &field : fields)
        QVERIFY(page()->canvasForSide(field.side)->fieldItem(field.id));
}

void TestCanvasEditor::undoAndRedoThroughTheKeyboard()
{
    QVERIFY(startWindow());
    tool(QStringLiteral("Add Barcode (Code 128)"))->click();
    const TemplateField added = storedFields().value(0);
    QVERIFY(added.id > 0);

    CanvasView *view = page()->frontCanvas();
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Right, Qt::ShiftModifier); // 1 mm
    QCOMPARE(storedFields().value(0).xMm, added.xMm + 1);

    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(storedFields().value(0).xMm, added.xMm);
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Undone"));
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(storedFields().isEmpty());
    QVERIFY(!view->fieldItem(added.id));
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Nothing to undo"));

    QTest::keyClick(view, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(storedFields().value(0), added); // the same id again
    QVERIFY(view->fieldItem(added.id));
    QTest::keyClick(view, Qt::Key_R, Qt::ControlModifier);
    QCOMPARE(storedFields().value(0).xMm, added.xMm + 1);
    QCOMPARE(view->fieldItem(added.id)->pos().x(), (added.xMm + 1) * 4);
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Redone"));
}

void TestCanvasEditor::deleteSelectionAsksFirst_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::newRow("yes") << QMessageBox::Yes;
    QTest::newRow("no") << QMessageBox::No;
}

void TestCanvasEditor::deleteSelectionAsksFirst()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QVERIFY(startWindow());
    tool(QStringLiteral("Add QR Code"))->click();
    page()->drawingMenu()->actions().value(2)->trigger(); // Rectangle
    CanvasView *view = page()->frontCanvas();
    for (QGraphicsItem *item : view->scene()->items()) {
        if (qgraphicsitem_cast<VdpFieldItem *>(item) || qgraphicsitem_cast<VdpGraphicItem *>(item))
            item->setSelected(true);
    }
    QCOMPARE(view->selectionCount(), 2);
    m_script->answers = {answer};

    view->setFocus();
    QTest::keyClick(view, Qt::Key_Delete);

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().title, QStringLiteral("Delete Selected Objects"));
    QCOMPARE(m_script->shown.first().text, QStringLiteral("Delete 2 selected objects?"));
    const bool deleted = answer == QMessageBox::Yes;
    QCOMPARE(storedFields().size(), deleted ? 0 : 1);
    QCOMPARE(storedGraphics().size(), deleted ? 0 : 1);
    QCOMPARE(view->canvasFields().size() + view->canvasGraphics().size(), deleted ? 0 : 2);
    if (deleted)
        QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Deleted 2 selected objects"));
}

void TestCanvasEditor::panelEditIsSavedAndUndone()
{
    QVERIFY(startWindow());
    tool(QStringLiteral("Add Barcode (Code 128)"))->click();
    const TemplateField added = storedFields().value(0);
    FieldPropertyPanel *panel = m_window->canvasEditor()->propertyPanels()->fieldPanel();
    QCOMPARE(panel->shownField().id, added.id);

    panel->widthBox()->setValue(2); // raised to the 5 mm minimum
    QCOMPARE(storedFields().value(0).widthMm, 5.0);
    // Named after the panel's row, so that a burst on the box is one step.
    QCOMPARE(m_window->canvasEditor()->document().history().undoLabel(), QStringLiteral("Change Width"));
    QCOMPARE(page()->frontCanvas()->fieldItem(added.id)->field().widthMm, 5.0);

    page()->frontCanvas()->setFocus();
    QTest::keyClick(page()->frontCanvas(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(storedFields().value(0).widthMm, added.widthMm);
    QCOMPARE(panel->widthBox()->value(), added.widthMm);
}

void TestCanvasEditor::editOfObjectRemovedElsewhere_data()
{
    QTest::addColumn<QString>("gesture");
    QTest::newRow("panel edit") << "panel";
    QTest::newRow("drag on the canvas") << "drag";
    QTest::newRow("undo") << "undo";
}

// Another program removed the field this window shows (and moved another):
// the edit fails with the reason, nothing is recorded for undo, and the
// canvas shows what the store holds.
void TestCanvasEditor::editOfObjectRemovedElsewhere()
{
    QFETCH(QString, gesture);
    QVERIFY(startWindow());
    tool(QStringLiteral("Add Barcode (Code 128)"))->click();
    tool(QStringLiteral("Add Barcode (Code 128)"))->click();
    const QList<TemplateField> added = storedFields();
    QCOMPARE(added.size(), 2);
    const TemplateField kept = added.at(0);
    const TemplateField gone = added.at(1);
    FieldPropertyPanel *panel = m_window->canvasEditor()->propertyPanels()->fieldPanel();
    QCOMPARE(panel->shownField().id, gone.id);
    CanvasView *canvas = page()->frontCanvas();
    VdpFieldItem *goneItem = canvas->fieldItem(gone.id);
    QVERIFY(goneItem);
    const QPoint goneCentre = canvas->mapFromScene(goneItem->sceneBoundingRect().center());

    {
        const auto other = openTestStore(m_folders.databasePath);
        QVERIFY(other->removeElement({ElementGroup::Field, gone.id}));
        TemplateField moved = kept;
        moved.xMm = kept.xMm + 7;
        QVERIFY(other->updateElement(moved));
    }
    const QList<TemplateField> stored = storedFields();
    const int historyCount = m_window->canvasEditor()->document().history().count();
    const int historyCursor = m_window->canvasEditor()->document().history().cursor();

    if (gesture == QLatin1String("panel")) {
        panel->widthBox()->setValue(gone.widthMm + 4);
    } else if (gesture == QLatin1String("drag")) {
        QWidget *viewport = canvas->viewport();
        QTest::mousePress(viewport, Qt::LeftButton, {}, goneCentre);
        for (int step = 1; step <= 4; ++step)
            QTest::mouseMove(viewport, goneCentre + QPoint(10 * step, 0));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, goneCentre + QPoint(40, 0));
    } else {
        canvas->setFocus();
        QTest::keyClick(canvas, Qt::Key_Z, Qt::ControlModifier); // the second add, undone
    }
    // Told once the gesture's handler has returned, never from inside it.
    QVERIFY(m_script->shown.isEmpty());
    QCoreApplication::processEvents();

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("critical"));
    QCOMPARE(m_script->shown.first().text,
             QStringLiteral("The object no longer exists in the project database; it was removed elsewhere."));
    QCOMPARE(storedFields(), stored);
    QCOMPARE(m_window->canvasEditor()->document().history().count(), historyCount);
    QCOMPARE(m_window->canvasEditor()->document().history().cursor(), historyCursor);
    QCOMPARE(m_window->canvasEditor()->document().fields(), stored);
    QVERIFY(!canvas->fieldItem(gone.id));
    QVERIFY(canvas->fieldItem(kept.id));
    QCOMPARE(canvas->fieldItem(kept.id)->field(), stored.value(0));
    QCOMPARE(panel->shownField().id, 0);
}

void TestCanvasEditor::failedAddLeavesNoItem()
{
    QVERIFY(startWindow());
    QVERIFY(openTestStore(m_folders.databasePath)
                ->execStatement(QStringLiteral("CREATE TRIGGER no_fields BEFORE INSERT ON template_fields "
                                               "BEGIN SELECT RAISE(ABORT, 'fields are frozen'); END")));
    tool(QStringLiteral("Add Variable Text Field"))->click();

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().title, QStringLiteral("Add Field Failed"));
    QVERIFY(m_script->shown.first().text.contains(QStringLiteral("fields are frozen")));
    QVERIFY(page()->frontCanvas()->canvasFields().isEmpty());
    QCOMPARE(m_window->canvasEditor()->document().history().count(), 0);
}

void TestCanvasEditor::previewRecordShowsThatCard()
{
    QVERIFY(startWindow());
    tool(QStringLiteral("Add Variable Text Field"))->click();
    tool(QStringLiteral("Add Auto Sequence"))->click();
    CanvasView *view = page()->frontCanvas();
    QCOMPARE(page()->previewRecordBox()->maximum(), 5);

    page()->previewRecordBox()->setValue(3);
    const QJsonObject record = view->previewRecord();
    QCOMPARE(record.value(QStringLiteral("source:1:City")).toString(), QStringLiteral("Town 3"));
    const TemplateField sequence = storedFields().value(1);
    QCOMPARE(record.value(QStringLiteral("__vdp_sequence_%1").arg(sequence.id)).toString(),
             QStringLiteral("No.000003"));
}

// What a new user does: design the card in the window alone, then print it.
void TestCanvasEditor::designedCardExports()
{
    QVERIFY(startWindow());
    tool(QStringLiteral("Add Barcode (Code 128)"))->click();
    tool(QStringLiteral("Add QR Code"))->click();
    FieldPropertyPanel *panel = m_window->canvasEditor()->propertyPanels()->fieldPanel();
    // The QR code shows the names instead of the towns.
    QCOMPARE(panel->shownField().type, ElementKind::QrCode);
    panel->columnCombo()->setCurrentIndex(panel->columnCombo()->findData(QStringLiteral("source:1:Name")));
    panel->xBox()->setValue(60);
    QCOMPARE(storedFields().value(1).dataColumn, QStringLiteral("source:1:Name"));

    m_script->savePath = m_folders.files->filePath(QStringLiteral("cards.pdf"));
    m_window->exportPdf();

    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().title, QStringLiteral("Export Complete"));
    QStringList expected;
    for (int n = 1; n <= 5; ++n)
        expected << QStringLiteral("Person %1").arg(n) << QStringLiteral("Town %1").arg(n);
    expected.sort();
    QCOMPARE(pageCodes(m_script->savePath, 1), expected);
}

// Ctrl+C, Ctrl+V as a user presses them: the copy lands 2 mm down and right
// as a new row, and undo takes it away. A clipboard of thousands of objects
// is refused with a message, not pasted.
void TestCanvasEditor::copyAndPasteThroughTheClipboard()
{
    QVERIFY(startWindow());
    tool(QStringLiteral("Add QR Code"))->click();
    const TemplateField original = storedFields().value(0);
    CanvasView *view = page()->frontCanvas();
    view->setFocus();

    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
    const QList<TemplateField> fields = storedFields();
    QCOMPARE(fields.size(), 2);
    TemplateField pasted = fields.at(1);
    QVERIFY(pasted.id != original.id);
    QCOMPARE(pasted.xMm, original.xMm + 2);
    QCOMPARE(pasted.yMm, original.yMm + 2);
    pasted.id = original.id;
    pasted.xMm = original.xMm;
    pasted.yMm = original.yMm;
    QCOMPARE(pasted, original);
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Field pasted"));
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(storedFields().size(), 1);

    QByteArray many = "{\"version\":1,\"items\":[";
    for (int i = 0; i < 5000; ++i)
        many += QByteArray(i ? "," : "") + "{\"kind\":\"graphic\",\"graphic\":{\"type\":\"rectangle\"}}";
    many += "]}";
    auto *mimeData = new QMimeData;
    mimeData->setData(canvasClipboardMimeType(), many);
    QGuiApplication::clipboard()->setMimeData(mimeData);
    QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
    QVERIFY(storedGraphics().isEmpty());
    QVERIFY2(m_window->statusBar()->currentMessage().contains(QStringLiteral("5000")),
             qPrintable(m_window->statusBar()->currentMessage()));
}

void TestCanvasEditor::editMenuNamesTheStep()
{
    QVERIFY(startWindow());
    QMenu *edit = m_window->findChild<QMenu *>(QStringLiteral("editMenu"));
    QVERIFY(edit);
    QCOMPARE(edit->title(), QStringLiteral("&Edit"));
    QVERIFY(m_window->menuBar()->actions().contains(edit->menuAction()));
    QAction *undo = m_window->findChild<QAction *>(QStringLiteral("undoAction"));
    QAction *redo = m_window->findChild<QAction *>(QStringLiteral("redoAction"));
    QVERIFY(undo && redo);
    QCOMPARE(undo->text(), QStringLiteral("Undo"));
    QCOMPARE(redo->text(), QStringLiteral("Redo"));
    QVERIFY(!undo->isEnabled());
    QVERIFY(!redo->isEnabled());
    QVERIFY(undo->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Z)));
    QVERIFY(redo->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_R)));
    for (const QKeySequence &key : QKeySequence::keyBindings(QKeySequence::Redo))
        QVERIFY(redo->shortcuts().contains(key));
    // Only what the canvas already answers to: no Cut, no Select All.
    QStringList texts;
    for (QAction *action : edit->actions()) {
        if (!action->isSeparator())
            texts << action->text();
    }
    QCOMPARE(texts, (QStringList{"Undo", "Redo", "Copy", "Paste", "Delete"}));

    tool(QStringLiteral("Add Barcode (Code 128)"))->click();
    QCOMPARE(undo->text(), QStringLiteral("Undo Add Barcode"));
    QVERIFY(undo->isEnabled());
    QVERIFY(!redo->isEnabled());
    // The menu entry's accessible name says what it would do.
    QAccessibleInterface *menu = QAccessible::queryAccessibleInterface(edit);
    QVERIFY(menu && menu->childCount() >= 2);
    QCOMPARE(menu->child(0)->text(QAccessible::Name), QStringLiteral("Undo Add Barcode"));

    undo->trigger();
    QVERIFY(storedFields().isEmpty());
    QCOMPARE(undo->text(), QStringLiteral("Undo"));
    QVERIFY(!undo->isEnabled());
    QCOMPARE(redo->text(), QStringLiteral("Redo Add Barcode"));
    QVERIFY(redo->isEnabled());
    redo->trigger();
    QCOMPARE(storedFields().size(), 1);
    QCOMPARE(undo->text(), QStringLiteral("Undo Add Barcode"));
    QCOMPARE(redo->text(), QStringLiteral("Redo"));

    // Copy and Delete need a selection (a redone add selects nothing).
    QAction *copy = m_window->findChild<QAction *>(QStringLiteral("copyAction"));
    QAction *remove = m_window->findChild<QAction *>(QStringLiteral("deleteAction"));
    QVERIFY(copy && remove);
    QVERIFY(!copy->isEnabled() && !remove->isEnabled());
    m_window->canvasEditor()->document().setSelection({{ElementGroup::Field, storedFields().value(0).id}});
    QVERIFY(page()->frontCanvas()->fieldItem(storedFields().value(0).id)->isSelected());
    QVERIFY(copy->isEnabled() && remove->isEnabled());
    page()->frontCanvas()->scene()->clearSelection();
    QVERIFY(!copy->isEnabled() && !remove->isEnabled());
}

// Six objects aligned with the bar's button are one step; its undo puts all
// six back and touches no other item: every canvas item stays the same object.
void TestCanvasEditor::alignIsOneStepAndKeepsTheItems()
{
    QVERIFY(startWindow());
    for (int i = 0; i < 3; ++i) {
        tool(QStringLiteral("Add QR Code"))->click();
        page()->drawingMenu()->actions().value(2)->trigger(); // Rectangle
    }
    EditorDocument &document = m_window->canvasEditor()->document();
    CanvasView *view = page()->frontCanvas();
    // Spread out, so that an align moves every one.
    QList<ElementRef> all;
    int n = 0;
    for (TemplateField field : document.fields()) {
        field.xMm = 3 + 9 * n;
        field.yMm = 2 + 5 * n++;
        QVERIFY(document.modifyElement(field).ok);
        all << ElementRef{ElementGroup::Field, field.id};
    }
    for (GraphicElement element : document.graphics()) {
        element.xMm = 3 + 9 * n;
        element.yMm = 2 + 5 * n++;
        QVERIFY(document.modifyElement(element).ok);
        all << ElementRef{ElementGroup::Graphic, element.id};
    }
    document.setSelection(all);
    QCOMPARE(view->selectedElements(), all);
    const QList<TemplateField> fieldsBefore = storedFields();
    const QList<GraphicElement> graphicsBefore = storedGraphics();
    QHash<qint64, QGraphicsItem *> items;
    for (const TemplateField &field : fieldsBefore)
        items.insert(field.id, view->fieldItem(field.id));
    for (const GraphicElement &element : graphicsBefore)
        items.insert(element.id + 100000, view->graphicItem(element.id));
    const int entries = document.history().count();

    page()->alignmentButtons().at(3)->click(); // Align Top
    QCOMPARE(document.history().count(), entries + 1);
    QCOMPARE(m_window->findChild<QAction *>(QStringLiteral("undoAction"))->text(), QStringLiteral("Undo Align Top"));
    const double top = document.graphic(all.last().id)->yMm;
    for (const TemplateField &field : storedFields())
        QCOMPARE(field.yMm, top);

    m_window->findChild<QAction *>(QStringLiteral("undoAction"))->trigger();
    QCOMPARE(storedFields(), fieldsBefore);
    QCOMPARE(storedGraphics(), graphicsBefore);
    for (const TemplateField &field : fieldsBefore) {
        QCOMPARE(view->fieldItem(field.id), items.value(field.id));
        QCOMPARE(view->fieldItem(field.id)->field(), field);
    }
    for (const GraphicElement &element : graphicsBefore) {
        QCOMPARE(view->graphicItem(element.id), items.value(element.id + 100000));
        QCOMPARE(view->graphicItem(element.id)->element(), element);
    }
    // The selection stayed through the undo.
    QCOMPARE(view->selectedElements(), all);

    // Deleted together, back together: in their places in the stacking order.
    m_script->answers = {QMessageBox::Yes};
    m_window->findChild<QAction *>(QStringLiteral("deleteAction"))->trigger();
    QVERIFY(storedFields().isEmpty() && storedGraphics().isEmpty());
    QCOMPARE(m_window->findChild<QAction *>(QStringLiteral("undoAction"))->text(),
             QStringLiteral("Undo Delete 6 Objects"));
    QVERIFY(document.undo().ok);
    QCOMPARE(storedFields(), fieldsBefore);
    QCOMPARE(view->canvasFields(), fieldsBefore);
    QCOMPARE(view->canvasGraphics(), graphicsBefore);
    QList<QGraphicsItem *> drawn;
    for (QGraphicsItem *item : view->cardItem()->childItems()) {
        if (qgraphicsitem_cast<VdpFieldItem *>(item) || qgraphicsitem_cast<VdpGraphicItem *>(item))
            drawn << item;
    }
    QCOMPARE(drawn.size(), 6);
}

void TestCanvasEditor::selectionFollowsClicksAndBand()
{
    QVERIFY(startWindow());
    tool(QStringLiteral("Add QR Code"))->click();
    page()->drawingMenu()->actions().value(2)->trigger(); // Rectangle
    EditorDocument &document = m_window->canvasEditor()->document();
    CanvasView *view = page()->frontCanvas();
    TemplateField qr = document.fields().value(0);
    qr.xMm = 5;
    qr.yMm = 5;
    QVERIFY(document.modifyElement(qr).ok);
    GraphicElement rectangle = document.graphics().value(0);
    rectangle.xMm = 50;
    rectangle.yMm = 30;
    rectangle.widthMm = 20;
    rectangle.heightMm = 10;
    QVERIFY(document.modifyElement(rectangle).ok);
    const ElementRef qrRef{ElementGroup::Field, qr.id};
    const ElementRef rectangleRef{ElementGroup::Graphic, rectangle.id};
    const auto centreOf = [view](QGraphicsItem *item) {
        return view->mapFromScene(item->sceneBoundingRect().center());
    };
    QWidget *viewport = view->viewport();

    QTest::mouseClick(viewport, Qt::LeftButton, {}, centreOf(view->graphicItem(rectangle.id)));
    QCOMPARE(document.selection(), QList<ElementRef>{rectangleRef});
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, centreOf(view->fieldItem(qr.id)));
    QCOMPARE(document.selection(), (QList<ElementRef>{rectangleRef, qrRef}));
    QCOMPARE(document.anchor(), std::optional<ElementRef>(qrRef));
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, centreOf(view->fieldItem(qr.id)));
    QCOMPARE(document.selection(), QList<ElementRef>{rectangleRef});

    // A band over the whole card from an empty corner takes both.
    const QPoint from = view->mapFromScene(QPointF(-10, -10));
    const QPoint to = view->mapFromScene(view->cardItem()->rect().bottomRight() + QPointF(10, 10));
    QTest::mousePress(viewport, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 4; ++step)
        QTest::mouseMove(viewport, from + (to - from) * step / 4);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
    QCOMPARE(document.selection().size(), 2);
    QVERIFY(document.selection().contains(qrRef) && document.selection().contains(rectangleRef));

    // A click on empty card space clears it; the document's selection shows.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, view->mapFromScene(QPointF(300, 20)));
    QVERIFY(document.selection().isEmpty());
    document.setSelection({qrRef});
    QVERIFY(view->fieldItem(qr.id)->isSelected());
    QVERIFY(!view->graphicItem(rectangle.id)->isSelected());
}

// The panel's row names the step, a burst on one spin box is one step, the
// prize editor's step has its own name, and a drag of two objects is one
// "Move".
void TestCanvasEditor::panelEditsAndDragsAreNamedSteps()
{
    QVERIFY(startWindow());
    tool(QStringLiteral("Add Scratch Card"))->click();
    EditorDocument &document = m_window->canvasEditor()->document();
    QAction *undo = m_window->findChild<QAction *>(QStringLiteral("undoAction"));
    FieldPropertyPanel *panel = m_window->canvasEditor()->propertyPanels()->fieldPanel();
    const TemplateField added = storedFields().value(0);
    QCOMPARE(panel->shownField().id, added.id);
    const int entries = document.history().count();

    const int size = panel->fontSizeBox()->value();
    for (int step = 1; step <= 4; ++step)
        panel->fontSizeBox()->stepUp();
    QCOMPARE(storedFields().value(0).fontSizePt, double(size + 4));
    QCOMPARE(document.history().count(), entries + 1);
    QCOMPARE(undo->text(), QStringLiteral("Undo Change Font Size"));

    panel->prizeEditor()->totalBox()->setValue(panel->prizeEditor()->totalBox()->value() + 5);
    QCOMPARE(undo->text(), QStringLiteral("Undo edit scratch-card settings"));
    QCOMPARE(document.history().count(), entries + 2);
    undo->trigger();
    undo->trigger();
    QCOMPARE(storedFields().value(0).fontSizePt, double(size));
    QCOMPARE(panel->fontSizeBox()->value(), size);

    // Two objects dragged together.
    page()->drawingMenu()->actions().value(2)->trigger(); // Rectangle
    CanvasView *view = page()->frontCanvas();
    TemplateField field = storedFields().value(0);
    field.xMm = 5;
    field.yMm = 5;
    QVERIFY(document.modifyElement(field).ok);
    GraphicElement rectangle = storedGraphics().value(0);
    rectangle.xMm = 50;
    rectangle.yMm = 35;
    QVERIFY(document.modifyElement(rectangle).ok);
    document.setSelection({{ElementGroup::Field, field.id}, {ElementGroup::Graphic, rectangle.id}});
    const int before = document.history().count();
    QWidget *viewport = view->viewport();
    const QPoint from = view->mapFromScene(view->graphicItem(rectangle.id)->sceneBoundingRect().center());
    const QPoint to = from + view->mapFromScene(QPointF(8, 4)) - view->mapFromScene(QPointF(0, 0));
    QTest::mousePress(viewport, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 4; ++step)
        QTest::mouseMove(viewport, from + (to - from) * step / 4);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
    QCOMPARE(document.history().count(), before + 1);
    QCOMPARE(undo->text(), QStringLiteral("Undo Move"));
    QVERIFY(storedFields().value(0).xMm > field.xMm);
    QVERIFY(storedGraphics().value(0).xMm > rectangle.xMm);
    undo->trigger();
    QCOMPARE(storedFields().value(0), field);
    QCOMPARE(storedGraphics().value(0), rectangle);
}

QTEST_MAIN(TestCanvasEditor)
#include "tst_canvaseditor.moc"
