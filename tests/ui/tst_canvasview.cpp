#include "editor/clipboarddocument.h"
#include "editor/editorgeometry.h"
#include "model/fieldvalues.h"
#include "ui/canvas/canvaspage.h"
#include "ui/canvas/canvasview.h"
#include "ui/canvas/vdpfielditem.h"
#include "ui/canvas/vdpgraphicitem.h"

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWheelEvent>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

namespace {

// The card of the tests: 90 × 54 mm, the view's default.
constexpr double cardWidthMm = 90;
constexpr double cardHeightMm = 54;
// Two viewport pixels per scene unit: a one-pixel mouse step is 0.125 mm, so
// every gesture below lands on exact millimetre values.
constexpr double pixelsPerUnit = 2;

TemplateField makeField(qint64 id, const QString &type, double x, double y, double width, double height)
{
    TemplateField field;
    field.id = id;
    field.projectId = 1;
    field.type = fieldKindFromKey(type).value();
    field.name = QStringLiteral("Field %1").arg(id);
    field.xMm = x;
    field.yMm = y;
    field.widthMm = width;
    field.heightMm = height;
    if (type == QLatin1String("barcode") || type == QLatin1String("qrcode"))
        field.name = QStringLiteral("12345678");
    return field;
}

GraphicElement makeGraphic(qint64 id, const QString &type, double x, double y, double width, double height)
{
    GraphicElement element;
    element.id = id;
    element.projectId = 1;
    element.type = graphicKindFromKey(type).value();
    element.xMm = x;
    element.yMm = y;
    element.widthMm = width;
    element.heightMm = height;
    return element;
}

// A shown view at a fixed zoom, so scene positions map to whole pixels.
std::unique_ptr<CanvasView> makeView()
{
    auto view = std::make_unique<CanvasView>();
    view->resize(1200, 800);
    view->show();
    view->activateWindow();
    if (!QTest::qWaitForWindowActive(view.get()))
        return nullptr;
    view->setTransform(QTransform::fromScale(pixelsPerUnit, pixelsPerUnit));
    view->centerOn(view->cardItem());
    return view;
}

QPointF sceneAt(double xMm, double yMm)
{
    return {xMm * sceneUnitsPerMm, yMm * sceneUnitsPerMm};
}

QPoint viewportAt(const CanvasView &view, const QPointF &scenePoint)
{
    return view.mapFromScene(scenePoint);
}

// Press at `from`, move in a few steps to `to`, release there (scene units),
// as a user's drag arrives.
void drag(CanvasView &view, const QPointF &from, const QPointF &to,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget *viewport = view.viewport();
    const QPoint start = viewportAt(view, from);
    const QPoint end = viewportAt(view, to);
    QTest::mousePress(viewport, Qt::LeftButton, modifiers, start);
    for (int step = 1; step <= 4; ++step)
        QTest::mouseMove(viewport, start + (end - start) * step / 4);
    QTest::mouseRelease(viewport, Qt::LeftButton, modifiers, end);
}

void click(CanvasView &view, const QPointF &at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::mouseClick(view.viewport(), Qt::LeftButton, modifiers, viewportAt(view, at));
}

QColor pixelAtScene(CanvasView &view, const QPointF &scenePoint)
{
    const QImage image = view.viewport()->grab().toImage();
    return image.pixelColor(viewportAt(view, scenePoint));
}

bool nearColor(const QColor &a, const QColor &b, int tolerance = 12)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

QString accessibleName(QWidget *widget)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    return iface ? iface->text(QAccessible::Name) : QString();
}

// Dark pixels of the viewport inside `sceneRect` (scene units).
int darkPixelsIn(CanvasView &view, const QRectF &sceneRect)
{
    const QImage image = view.viewport()->grab().toImage();
    const QRect box = QRect(viewportAt(view, sceneRect.topLeft()), viewportAt(view, sceneRect.bottomRight()))
                          .intersected(image.rect());
    int dark = 0;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x)
            dark += qGray(image.pixel(x, y)) < 100 ? 1 : 0;
    }
    return dark;
}

// The height in pixels of the black pixels inside `sceneRect` (not the blue
// selection frame).
int darkHeightIn(CanvasView &view, const QRectF &sceneRect)
{
    const QImage image = view.viewport()->grab().toImage();
    const QRect box = QRect(viewportAt(view, sceneRect.topLeft()), viewportAt(view, sceneRect.bottomRight()))
                          .intersected(image.rect());
    int top = -1;
    int bottom = -1;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            if (qGray(image.pixel(x, y)) < 50) {
                top = top < 0 ? y : top;
                bottom = y;
                break;
            }
        }
    }
    return top < 0 ? 0 : bottom - top + 1;
}

TemplateField blackText(qint64 id, double x, double y, double width, double height, int alignment)
{
    TemplateField field = makeField(id, QStringLiteral("text"), x, y, width, height);
    field.dataColumn = QStringLiteral("name");
    field.colorHex = QStringLiteral("#000000");
    field.fontSizePt = 20;
    field.alignment = alignmentFromFlags(alignment);
    return field;
}

} // namespace

class TestCanvasView : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void sceneItemsAndStacking();
    void bleedGuide_data();
    void bleedGuide();
    void fieldDragStopsAtCardEdge_data();
    void fieldDragStopsAtCardEdge();
    void resizeStopsAtMinimum_data();
    void resizeStopsAtMinimum();
    void fixedSizeFieldsHaveNoHandle_data();
    void fixedSizeFieldsHaveNoHandle();
    void everyKindResizesOnlyWhenItsKindSays_data();
    void everyKindResizesOnlyWhenItsKindSays();
    void resizableFieldDrawsHandleWhenSelected();
    void frameFollowsSelection();
    void hoverAndResizeCursors_data();
    void hoverAndResizeCursors();
    void backdropGridAndCard();
    void snapWhileDragging_data();
    void snapWhileDragging();
    void snapWhileResizingReachesCardCorner();
    void plainClickReportsUnchangedRecord_data();
    void plainClickReportsUnchangedRecord();
    void itemsMovedAlongAreReported();
    void shiftClickOrderAndAnchor();
    void selectionAsElementReferences();
    void selectionSignals();
    void commandKeys_data();
    void commandKeys();
    void deleteKeyNeedsSelection();
    void arrowNudgesSelectedField_data();
    void arrowNudgesSelectedField();
    void arrowKeysDoNotMoveGraphics();
    void ctrlWheelZooms();
    void updateAndRemoveItems();
    void previewRecordReachesFieldItems();
    void invalidBarcodeShowsRedMessage();
    void textRunsPastItsBox_data();
    void textRunsPastItsBox();
    void contentFollowsMoveAndZoom();
    void longTextsAreCut_data();
    void longTextsAreCut();
    void backgroundLoading();
    void absurdRecordsStayDrawable();
    void outOfRangeRecordsShownOnTheCardInRed_data();
    void outOfRangeRecordsShownOnTheCardInRed();
    void boundedTable_data();
    void boundedTable();
    void copyPasteThroughClipboard();
    void copyWithNothingSelectedLeavesClipboard();
    void pasteIgnoresForeignClipboard();

    void pageAlignmentButtonsFollowSelection();
    void pageTabsFollowDuplex();
    void pageControlsAreNamed();
    void pageToolsEmitRequests();
    void pageSnapReachesBothViews();
};

void TestCanvasView::init()
{
    QGuiApplication::clipboard()->clear();
}

void TestCanvasView::sceneItemsAndStacking()
{
    CanvasView view;
    view.setCanvasGraphics({makeGraphic(7, QStringLiteral("rectangle"), 5, 5, 20, 10)});
    view.setCanvasFields({makeField(3, QStringLiteral("text"), 10, 10, 20, 8)});
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::red);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("bg.png"));
    QVERIFY(image.save(path));
    QVERIFY(view.loadBackground(path));
    view.setCardSize(100.3, 60);

    QGraphicsRectItem *card = view.cardItem();
    QVERIFY(card);
    QCOMPARE(card->rect(), QRectF(0, 0, 401.2, 240));
    QCOMPARE(card->zValue(), -10.0);
    QCOMPARE(card->parentItem(), nullptr);
    QCOMPARE(view.scene()->sceneRect(), QRectF(-80, -80, 561.2, 400));

    QVERIFY(view.backgroundItem());
    QCOMPARE(view.backgroundItem()->parentItem(), card);
    QCOMPARE(view.backgroundItem()->zValue(), -1.0);
    QCOMPARE(view.backgroundItem()->pixmap().size(), QSize(401, 240));
    QCOMPARE(view.backgroundItem()->acceptedMouseButtons(), Qt::NoButton);

    QVERIFY(view.bleedGuideItem());
    QCOMPARE(view.bleedGuideItem()->parentItem(), card);
    QCOMPARE(view.bleedGuideItem()->zValue(), 1000.0);
    QCOMPARE(view.bleedGuideItem()->acceptedMouseButtons(), Qt::NoButton);
    QVERIFY(view.bleedGuideItem()->pen().isCosmetic());

    // The rebuild recreated the items from the lists.
    VdpGraphicItem *graphic = view.graphicItem(7);
    VdpFieldItem *field = view.fieldItem(3);
    QVERIFY(graphic && field);
    QCOMPARE(graphic->parentItem(), card);
    QCOMPARE(field->parentItem(), card);
    QCOMPARE(graphic->zValue(), -0.25);
    QCOMPARE(field->zValue(), 0.0);
    QCOMPARE(field->pos(), QPointF(40, 40));
    const auto flags = QGraphicsItem::ItemIsMovable | QGraphicsItem::ItemIsSelectable
        | QGraphicsItem::ItemIsFocusable | QGraphicsItem::ItemSendsGeometryChanges;
    QCOMPARE(field->flags() & flags, flags);
    QCOMPARE(graphic->flags() & flags, flags);
    QCOMPARE(field->cursor().shape(), Qt::SizeAllCursor);
    QVERIFY(field->acceptHoverEvents());
    QCOMPARE(field->boundingRect(), QRectF(-2, -2, 84, 36));

    // A field smaller than a millimetre is drawn 4 × 4 units.
    field->setField(makeField(3, QStringLiteral("text"), 0, 0, 0.2, 0));
    QCOMPARE(field->boundingRect(), QRectF(-2, -2, 8, 8));

    view.clearBackground();
    QCOMPARE(view.backgroundItem(), nullptr);
    QVERIFY(view.backgroundImage().isNull());
}

void TestCanvasView::bleedGuide_data()
{
    QTest::addColumn<double>("widthMm");
    QTest::addColumn<double>("heightMm");
    QTest::addColumn<double>("bleedMm");
    QTest::addColumn<bool>("show");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QRectF>("rect"); // when visible

    QTest::newRow("default 2 mm") << 90.0 << 54.0 << 2.0 << true << true << QRectF(8, 8, 344, 200);
    QTest::newRow("zero bleed on the card edge") << 90.0 << 54.0 << 0.0 << true << true << QRectF(0, 0, 360, 216);
    QTest::newRow("negative stored as zero") << 90.0 << 54.0 << -3.0 << true << true << QRectF(0, 0, 360, 216);
    QTest::newRow("just under half the height") << 90.0 << 54.0 << 26.99 << true << true
                                                << QRectF(107.96, 107.96, 144.08, 0.08);
    QTest::newRow("twice the bleed equals the height") << 90.0 << 54.0 << 27.0 << true << false << QRectF();
    QTest::newRow("twice the bleed beyond the width") << 40.0 << 80.0 << 20.5 << true << false << QRectF();
    QTest::newRow("guide switched off") << 90.0 << 54.0 << 2.0 << false << false << QRectF();
}

void TestCanvasView::bleedGuide()
{
    QFETCH(double, widthMm);
    QFETCH(double, heightMm);
    QFETCH(double, bleedMm);
    QFETCH(bool, show);
    QFETCH(bool, visible);
    QFETCH(QRectF, rect);

    CanvasView view;
    view.setCardSize(widthMm, heightMm);
    view.setBleed(bleedMm, show);
    QCOMPARE(view.bleedMm(), std::max(bleedMm, 0.0));
    QCOMPARE(view.bleedGuideItem()->isVisible(), visible);
    if (visible) {
        const QRectF actual = view.bleedGuideItem()->rect();
        QVERIFY2(std::abs(actual.x() - rect.x()) < 1e-9 && std::abs(actual.width() - rect.width()) < 1e-9
                     && std::abs(actual.height() - rect.height()) < 1e-9,
                 qPrintable(QStringLiteral("rect %1,%2 %3x%4").arg(actual.x()).arg(actual.y())
                                .arg(actual.width()).arg(actual.height())));
    }

    // A rebuild keeps the guide's state.
    view.setCardSize(widthMm, heightMm);
    QCOMPARE(view.bleedGuideItem()->isVisible(), visible);
}

void TestCanvasView::fieldDragStopsAtCardEdge_data()
{
    QTest::addColumn<TemplateField>("field");
    QTest::addColumn<QPointF>("dragMm"); // mouse travel
    QTest::addColumn<QPointF>("expectedMm");

    const TemplateField text = makeField(1, QStringLiteral("text"), 60, 20, 20, 10);
    QTest::newRow("inside the card") << text << QPointF(-5, 4) << QPointF(55, 24);
    QTest::newRow("past the right edge") << text << QPointF(40, 0) << QPointF(70, 20);
    QTest::newRow("past the left edge") << text << QPointF(-80, 0) << QPointF(0, 20);
    QTest::newRow("past the top edge") << text << QPointF(0, -30) << QPointF(60, 0);
    QTest::newRow("past the bottom-right corner") << text << QPointF(30, 40) << QPointF(70, 44);
    const TemplateField wide = makeField(2, QStringLiteral("barcode"), 0, 10, 120, 10);
    QTest::newRow("wider than the card") << wide << QPointF(15, 5) << QPointF(0, 15);
}

void TestCanvasView::fieldDragStopsAtCardEdge()
{
    QFETCH(TemplateField, field);
    QFETCH(QPointF, dragMm);
    QFETCH(QPointF, expectedMm);

    auto view = makeView();
    QVERIFY(view);
    view->setCanvasFields({field});
    QSignalSpy edited(view.get(), &CanvasView::fieldEdited);

    const QPointF grip = sceneAt(field.xMm + 2, field.yMm + 2);
    drag(*view, grip, grip + sceneAt(dragMm.x(), dragMm.y()));

    QCOMPARE(edited.size(), 1);
    const auto record = edited.first().first().value<TemplateField>();
    QCOMPARE(record.id, field.id);
    QCOMPARE(record.xMm, expectedMm.x());
    QCOMPARE(record.yMm, expectedMm.y());
    QCOMPARE(record.widthMm, field.widthMm);
    QCOMPARE(view->fieldItem(field.id)->pos(), sceneAt(expectedMm.x(), expectedMm.y()));
    QCOMPARE(view->canvasFields().first().xMm, expectedMm.x());
}

void TestCanvasView::resizeStopsAtMinimum_data()
{
    QTest::addColumn<bool>("isField");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QPointF>("dragMm");
    QTest::addColumn<QSizeF>("expectedMm");

    QTest::newRow("barcode grows") << true << "barcode" << QPointF(5, 2) << QSizeF(35, 12);
    QTest::newRow("barcode below 5 x 3") << true << "barcode" << QPointF(-40, -20) << QSizeF(5, 3);
    QTest::newRow("qr code below 5 x 3") << true << "qrcode" << QPointF(-40, -20) << QSizeF(5, 3);
    QTest::newRow("line to 1 mm high") << false << "line" << QPointF(-40, -20) << QSizeF(5, 1);
    QTest::newRow("line 1.5 mm high") << false << "line" << QPointF(0, -8.5) << QSizeF(30, 1.5);
    QTest::newRow("rectangle not below 5 mm") << false << "rectangle" << QPointF(-40, -20) << QSizeF(5, 5);
    QTest::newRow("ellipse not below 5 mm") << false << "ellipse" << QPointF(-26, -6) << QSizeF(5, 5);
    QTest::newRow("table not below 5 mm") << false << "table" << QPointF(-40, -7) << QSizeF(5, 5);
    QTest::newRow("table shrinks") << false << "table" << QPointF(-10, -2) << QSizeF(20, 8);
}

void TestCanvasView::resizeStopsAtMinimum()
{
    QFETCH(bool, isField);
    QFETCH(QString, type);
    QFETCH(QPointF, dragMm);
    QFETCH(QSizeF, expectedMm);

    auto view = makeView();
    QVERIFY(view);
    QSignalSpy fieldEdited(view.get(), &CanvasView::fieldEdited);
    QSignalSpy graphicEdited(view.get(), &CanvasView::graphicEdited);
    if (isField)
        view->setCanvasFields({makeField(4, type, 10, 10, 30, 10)});
    else
        view->setCanvasGraphics({makeGraphic(4, type, 10, 10, 30, 10)});

    // Inside the hit area, 2 units in from the bottom-right corner; the item
    // is not selected: the handle still takes the press.
    const QPointF handle = sceneAt(40, 20) - QPointF(2, 2);
    drag(*view, handle, handle + sceneAt(dragMm.x(), dragMm.y()));

    QSizeF size;
    QPointF position;
    if (isField) {
        QCOMPARE(fieldEdited.size(), 1);
        const auto record = fieldEdited.first().first().value<TemplateField>();
        size = QSizeF(record.widthMm, record.heightMm);
        position = QPointF(record.xMm, record.yMm);
    } else {
        QCOMPARE(graphicEdited.size(), 1);
        const auto record = graphicEdited.first().first().value<GraphicElement>();
        size = QSizeF(record.widthMm, record.heightMm);
        position = QPointF(record.xMm, record.yMm);
    }
    QCOMPARE(size, expectedMm);
    QCOMPARE(position, QPointF(10, 10));
}

void TestCanvasView::fixedSizeFieldsHaveNoHandle_data()
{
    QTest::addColumn<QString>("type");
    QTest::newRow("text") << "text";
    QTest::newRow("sequence") << "sequence";
    QTest::newRow("scratch") << "scratch";
}

void TestCanvasView::fixedSizeFieldsHaveNoHandle()
{
    QFETCH(QString, type);

    auto view = makeView();
    QVERIFY(view);
    view->setCanvasFields({makeField(5, type, 10, 10, 30, 10)});
    VdpFieldItem *item = view->fieldItem(5);
    item->setSelected(true);
    QVERIFY(!item->isResizable());

    // Nothing blue is painted where the handle would be.
    const QPointF handleCentre = sceneAt(40, 20) - QPointF(3.5, 3.5);
    QVERIFY(!nearColor(pixelAtScene(*view, handleCentre), QColor(0x25, 0x63, 0xeb)));

    // A drag from the handle's place moves the field and keeps its size.
    QSignalSpy edited(view.get(), &CanvasView::fieldEdited);
    const QPointF corner = sceneAt(40, 20) - QPointF(2, 2);
    drag(*view, corner, corner + sceneAt(-5, -3));
    QCOMPARE(edited.size(), 1);
    const auto record = edited.first().first().value<TemplateField>();
    QCOMPARE(QSizeF(record.widthMm, record.heightMm), QSizeF(30, 10));
    QCOMPARE(QPointF(record.xMm, record.yMm), QPointF(5, 7));
}

// Every kind's item takes a press on its bottom-right corner as a resize
// exactly when its kind has a resize handle; otherwise the press moves it
// and its size stays.
void TestCanvasView::everyKindResizesOnlyWhenItsKindSays_data()
{
    QTest::addColumn<QString>("type");
    for (const ElementKind kind : {ElementKind::Text, ElementKind::Sequence, ElementKind::Barcode, ElementKind::QrCode,
                                   ElementKind::Scratch, ElementKind::Line, ElementKind::Ellipse,
                                   ElementKind::Rectangle, ElementKind::Table})
        QTest::newRow(qPrintable(elementKindKey(kind))) << elementKindKey(kind);
}

void TestCanvasView::everyKindResizesOnlyWhenItsKindSays()
{
    QFETCH(QString, type);
    const std::optional<ElementKind> fieldKind = fieldKindFromKey(type);
    const ElementKind kind = fieldKind ? *fieldKind : graphicKindFromKey(type).value();

    auto view = makeView();
    QVERIFY(view);
    QSignalSpy fieldEdited(view.get(), &CanvasView::fieldEdited);
    QSignalSpy graphicEdited(view.get(), &CanvasView::graphicEdited);
    CanvasElementItem *item = nullptr;
    if (fieldKind) {
        view->setCanvasFields({makeField(6, type, 10, 10, 30, 10)});
        item = view->fieldItem(6);
    } else {
        view->setCanvasGraphics({makeGraphic(6, type, 10, 10, 30, 10)});
        item = view->graphicItem(6);
    }
    QVERIFY(item);
    QCOMPARE(item->kind(), kind);
    QCOMPARE(item->isResizable(), hasResizeHandle(kind));
    item->setSelected(true);

    const QPointF corner = sceneAt(40, 20) - QPointF(2, 2);
    drag(*view, corner, corner + sceneAt(5, 4));

    QRectF box;
    if (fieldKind) {
        QCOMPARE(fieldEdited.size(), 1);
        const auto record = fieldEdited.first().first().value<TemplateField>();
        box = QRectF(record.xMm, record.yMm, record.widthMm, record.heightMm);
    } else {
        QCOMPARE(graphicEdited.size(), 1);
        const auto record = graphicEdited.first().first().value<GraphicElement>();
        box = QRectF(record.xMm, record.yMm, record.widthMm, record.heightMm);
    }
    if (hasResizeHandle(kind))
        QCOMPARE(box, QRectF(10, 10, 35, 14));
    else
        QCOMPARE(box, QRectF(15, 14, 30, 10));
    QVERIFY(!item->isResizing());
}

void TestCanvasView::resizableFieldDrawsHandleWhenSelected()
{
    auto view = makeView();
    QVERIFY(view);
    view->setCanvasFields({makeField(6, QStringLiteral("barcode"), 10, 10, 30, 10)});
    const QPointF handleCentre = sceneAt(40, 20) - QPointF(3.5, 3.5);
    QVERIFY(!nearColor(pixelAtScene(*view, handleCentre), QColor(0x25, 0x63, 0xeb)));
    view->fieldItem(6)->setSelected(true);
    QVERIFY(nearColor(pixelAtScene(*view, handleCentre), QColor(0x25, 0x63, 0xeb)));
}

void TestCanvasView::hoverAndResizeCursors_data()
{
    QTest::addColumn<bool>("isField");
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<bool>("handleCursor"); // over the handle

    QTest::newRow("selected barcode") << true << "barcode" << true << true;
    QTest::newRow("unselected barcode") << true << "barcode" << false << false;
    QTest::newRow("selected text") << true << "text" << true << false;
    QTest::newRow("selected rectangle") << false << "rectangle" << true << true;
    QTest::newRow("unselected line") << false << "line" << false << false;
}

void TestCanvasView::hoverAndResizeCursors()
{
    QFETCH(bool, isField);
    QFETCH(QString, type);
    QFETCH(bool, selected);
    QFETCH(bool, handleCursor);

    auto view = makeView();
    QVERIFY(view);
    QGraphicsObject *item = nullptr;
    if (isField) {
        view->setCanvasFields({makeField(1, type, 10, 10, 30, 10)});
        item = view->fieldItem(1);
    } else {
        view->setCanvasGraphics({makeGraphic(1, type, 10, 10, 30, 10)});
        item = view->graphicItem(1);
    }
    item->setSelected(selected);
    QWidget *viewport = view->viewport();
    const QPointF handle = sceneAt(40, 20) - QPointF(2, 2);

    QTest::mouseMove(viewport, viewportAt(*view, sceneAt(20, 15)));
    QCOMPARE(item->cursor().shape(), Qt::SizeAllCursor);
    QTest::mouseMove(viewport, viewportAt(*view, handle));
    QCOMPARE(item->cursor().shape(), handleCursor ? Qt::SizeFDiagCursor : Qt::SizeAllCursor);
    QTest::mouseMove(viewport, viewportAt(*view, sceneAt(20, 15)));
    QCOMPARE(item->cursor().shape(), Qt::SizeAllCursor);
    QTest::mouseMove(viewport, viewportAt(*view, handle));
    QTest::mouseMove(viewport, viewportAt(*view, sceneAt(60, 40)));
    QCOMPARE(item->cursor().shape(), Qt::SizeAllCursor);

    // A press on the handle resizes what can be resized, selected or not,
    // with the diagonal cursor; after the release the hover rule holds again.
    const bool resizable = type != QLatin1String("text");
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, viewportAt(*view, handle));
    QCOMPARE(item->cursor().shape(), resizable ? Qt::SizeFDiagCursor : Qt::SizeAllCursor);
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, viewportAt(*view, handle));
    QCOMPARE(item->isSelected(), selected || !resizable);
    QCOMPARE(item->cursor().shape(), handleCursor ? Qt::SizeFDiagCursor : Qt::SizeAllCursor);
}

void TestCanvasView::backdropGridAndCard()
{
    auto view = makeView();
    QVERIFY(view);
    view->setBleed(0, false);
    const QImage image = view->viewport()->grab().toImage();
    const QColor backdrop(0x11, 0x18, 0x27);
    // White at alpha 12 over the backdrop.
    const QColor grid(17 + qRound(238 * 12 / 255.0), 24 + qRound(231 * 12 / 255.0), 39 + qRound(216 * 12 / 255.0));

    // Mid-cell, left of the card: the backdrop.
    QCOMPARE(image.pixelColor(viewportAt(*view, QPointF(-50, -50))), backdrop);
    // On the vertical line x = -40 and the horizontal line y = -60 (one of two
    // neighbouring pixel columns or rows, by rounding).
    const auto onLine = [&](QPoint a, QPoint b) {
        return image.pixelColor(a) == grid || image.pixelColor(b) == grid;
    };
    const QPoint vertical = viewportAt(*view, QPointF(-40, -50));
    QVERIFY(onLine(vertical, vertical - QPoint(1, 0)));
    const QPoint horizontal = viewportAt(*view, QPointF(-50, -60));
    QVERIFY(onLine(horizontal, horizontal - QPoint(0, 1)));
    // The card covers the grid.
    QCOMPARE(image.pixelColor(viewportAt(*view, QPointF(41, 50))), QColor(Qt::white));
    QCOMPARE(image.pixelColor(viewportAt(*view, QPointF(40, 50)) - QPoint(1, 0)), QColor(Qt::white));
}

void TestCanvasView::frameFollowsSelection()
{
    auto view = makeView();
    QVERIFY(view);
    view->setCanvasFields({makeField(5, QStringLiteral("text"), 10, 10, 30, 10)});
    VdpFieldItem *item = view->fieldItem(5);
    // Inside the box, clear of the centred name.
    const QPointF inside = sceneAt(12, 15);
    const QColor selectedFill(0xff - (0xff - 0x25) * 24 / 255, 0xff - (0xff - 0x63) * 24 / 255,
                              0xff - (0xff - 0xeb) * 24 / 255);
    QCOMPARE(pixelAtScene(*view, inside), QColor(Qt::white));
    item->setSelected(true);
    QVERIFY(nearColor(pixelAtScene(*view, inside), selectedFill, 3));
    item->setSelected(false);
    QCOMPARE(pixelAtScene(*view, inside), QColor(Qt::white));
    // A new size draws the frame anew.
    item->setSelected(true);
    TemplateField wider = item->field();
    wider.widthMm = 60;
    view->updateFieldItem(wider);
    QVERIFY(nearColor(pixelAtScene(*view, sceneAt(65, 15)), selectedFill, 3));
}

void TestCanvasView::snapWhileDragging_data()
{
    QTest::addColumn<bool>("snap");
    QTest::addColumn<QRectF>("movingMm");
    QTest::addColumn<QPointF>("dragMm");
    QTest::addColumn<QRectF>("otherGraphicMm"); // null: none
    QTest::addColumn<QRectF>("otherFieldMm");   // null: none
    QTest::addColumn<QPointF>("expectedMm");

    const QRectF rectangle(20, 20, 30, 20);
    QTest::newRow("near the card corner") << true << rectangle << QPointF(-17, -18) << QRectF() << QRectF()
                                          << QPointF(0, 0);
    QTest::newRow("near the card corner, snap off")
        << false << rectangle << QPointF(-17, -18) << QRectF() << QRectF() << QPointF(3, 2);
    QTest::newRow("near the card's bottom-right corner")
        << true << rectangle << QPointF(38, 12) << QRectF() << QRectF() << QPointF(60, 34);

    // Right edge 2 mm short of the other's left edge, no corner within 5 mm.
    const QRectF other(50, 20, 20, 20);
    QTest::newRow("edge to edge") << true << QRectF(5, 26, 30, 20) << QPointF(13, 0) << other << QRectF()
                                  << QPointF(20, 26);
    QTest::newRow("edge to edge, snap off") << false << QRectF(5, 26, 30, 20) << QPointF(13, 0) << other
                                            << QRectF() << QPointF(18, 26);
    // Top-left corner 1 mm right of and below the other's top-right corner.
    QTest::newRow("corner to corner outside") << true << QRectF(5, 5, 15, 10) << QPointF(66, 16) << other
                                              << QRectF() << QPointF(70, 20);
    QTest::newRow("fields do not attract") << true << QRectF(5, 26, 30, 20) << QPointF(13, 0) << QRectF()
                                           << other << QPointF(18, 26);
}

void TestCanvasView::snapWhileDragging()
{
    QFETCH(bool, snap);
    QFETCH(QRectF, movingMm);
    QFETCH(QPointF, dragMm);
    QFETCH(QRectF, otherGraphicMm);
    QFETCH(QRectF, otherFieldMm);
    QFETCH(QPointF, expectedMm);

    auto view = makeView();
    QVERIFY(view);
    QList<GraphicElement> graphics{
        makeGraphic(1, QStringLiteral("rectangle"), movingMm.x(), movingMm.y(), movingMm.width(),
                    movingMm.height())};
    if (!otherGraphicMm.isNull()) {
        graphics.append(makeGraphic(2, QStringLiteral("rectangle"), otherGraphicMm.x(), otherGraphicMm.y(),
                                    otherGraphicMm.width(), otherGraphicMm.height()));
    }
    view->setCanvasGraphics(graphics);
    if (!otherFieldMm.isNull()) {
        view->setCanvasFields({makeField(3, QStringLiteral("barcode"), otherFieldMm.x(), otherFieldMm.y(),
                                         otherFieldMm.width(), otherFieldMm.height())});
    }
    view->setSnapEnabled(snap);
    QCOMPARE(view->graphicItem(1)->snapEnabled(), snap);

    QSignalSpy edited(view.get(), &CanvasView::graphicEdited);
    const QPointF grip = sceneAt(movingMm.x() + 3, movingMm.y() + 3);
    drag(*view, grip, grip + sceneAt(dragMm.x(), dragMm.y()));

    QCOMPARE(edited.size(), 1);
    const auto record = edited.first().first().value<GraphicElement>();
    QCOMPARE(QPointF(record.xMm, record.yMm), expectedMm);
    if (!otherGraphicMm.isNull()) {
        const QRectF moved(record.xMm, record.yMm, record.widthMm, record.heightMm);
        const QRectF overlap = moved.intersected(otherGraphicMm);
        QVERIFY2(overlap.width() <= 0 || overlap.height() <= 0, "the snapped graphic overlaps the other");
    }
}

void TestCanvasView::snapWhileResizingReachesCardCorner()
{
    auto view = makeView();
    QVERIFY(view);
    view->setCanvasGraphics({makeGraphic(1, QStringLiteral("rectangle"), 50, 30, 30, 15)});
    view->setSnapEnabled(true);
    QSignalSpy edited(view.get(), &CanvasView::graphicEdited);

    // The corner ends 3 mm left of and 2 mm above the card's bottom-right corner.
    const QPointF handle = sceneAt(80, 45) - QPointF(2, 2);
    drag(*view, handle, handle + sceneAt(7, 7));
    QCOMPARE(edited.size(), 1);
    const auto record = edited.first().first().value<GraphicElement>();
    QCOMPARE(QSizeF(record.widthMm, record.heightMm), QSizeF(40, 24));
}

void TestCanvasView::plainClickReportsUnchangedRecord_data()
{
    QTest::addColumn<bool>("isField");
    QTest::newRow("field") << true;
    QTest::newRow("graphic") << false;
}

void TestCanvasView::plainClickReportsUnchangedRecord()
{
    QFETCH(bool, isField);

    auto view = makeView();
    QVERIFY(view);
    TemplateField field = makeField(9, QStringLiteral("qrcode"), 12.3, 7.9, 20, 20);
    field.dataColumn = QStringLiteral("code");
    GraphicElement graphic = makeGraphic(9, QStringLiteral("table"), 12.3, 7.9, 40, 20);
    graphic.cellSpacingMm = 1.5;
    if (isField)
        view->setCanvasFields({field});
    else
        view->setCanvasGraphics({graphic});

    QSignalSpy fieldEdited(view.get(), &CanvasView::fieldEdited);
    QSignalSpy graphicEdited(view.get(), &CanvasView::graphicEdited);
    click(*view, sceneAt(20, 15));

    if (isField) {
        QCOMPARE(fieldEdited.size(), 1);
        QCOMPARE(graphicEdited.size(), 0);
        QCOMPARE(fieldEdited.first().first().value<TemplateField>(), field);
        QVERIFY(view->fieldItem(9)->isSelected());
    } else {
        QCOMPARE(graphicEdited.size(), 1);
        QCOMPARE(fieldEdited.size(), 0);
        QCOMPARE(graphicEdited.first().first().value<GraphicElement>(), graphic);
        QVERIFY(view->graphicItem(9)->isSelected());
    }
}

void TestCanvasView::itemsMovedAlongAreReported()
{
    auto view = makeView();
    QVERIFY(view);
    view->setCanvasFields({makeField(1, QStringLiteral("text"), 10, 10, 20, 8),
                           makeField(2, QStringLiteral("text"), 40, 30, 20, 8)});
    view->setCanvasGraphics({makeGraphic(3, QStringLiteral("rectangle"), 10, 30, 20, 10)});
    for (qint64 id : {1, 2})
        view->fieldItem(id)->setSelected(true);
    view->graphicItem(3)->setSelected(true);

    QSignalSpy fieldEdited(view.get(), &CanvasView::fieldEdited);
    QSignalSpy graphicEdited(view.get(), &CanvasView::graphicEdited);
    QSignalSpy objectsEdited(view.get(), &CanvasView::objectsEdited);
    drag(*view, sceneAt(12, 12), sceneAt(17, 14));

    // The dragged item and those moved along, as one gesture.
    QCOMPARE(fieldEdited.size(), 0);
    QCOMPARE(graphicEdited.size(), 0);
    QCOMPARE(objectsEdited.size(), 1);
    const auto fields = objectsEdited.first().at(0).value<QList<TemplateField>>();
    const auto graphics = objectsEdited.first().at(1).value<QList<GraphicElement>>();
    QCOMPARE(fields.size(), 2);
    QCOMPARE(graphics.size(), 1);
    QHash<qint64, QPointF> moved;
    for (const TemplateField &record : fields)
        moved.insert(record.id, QPointF(record.xMm, record.yMm));
    QCOMPARE(moved.value(1), QPointF(15, 12));
    QCOMPARE(moved.value(2), QPointF(45, 32));
    QCOMPARE(QPointF(graphics.first().xMm, graphics.first().yMm), QPointF(15, 32));

    // A drag of one object is that object's edit alone.
    view->scene()->clearSelection();
    drag(*view, sceneAt(50, 35), sceneAt(53, 35));
    QCOMPARE(objectsEdited.size(), 1);
    QCOMPARE(fieldEdited.size(), 1);
    QCOMPARE(fieldEdited.first().first().value<TemplateField>().id, 2);
}

void TestCanvasView::shiftClickOrderAndAnchor()
{
    auto view = makeView();
    QVERIFY(view);
    view->setCanvasFields({makeField(1, QStringLiteral("text"), 5, 5, 20, 8),
                           makeField(2, QStringLiteral("text"), 40, 5, 20, 8)});
    view->setCanvasGraphics({makeGraphic(3, QStringLiteral("rectangle"), 20, 30, 30, 15)});
    QGraphicsObject *first = view->fieldItem(2);
    QGraphicsObject *second = view->graphicItem(3);
    QGraphicsObject *third = view->fieldItem(1);
    QCOMPARE(view->alignmentAnchor(), nullptr);

    // Inside the bleed guide, which lies over everything and takes no clicks.
    click(*view, sceneAt(45, 8), Qt::ShiftModifier);
    click(*view, sceneAt(30, 35), Qt::ShiftModifier);
    click(*view, sceneAt(10, 8), Qt::ShiftModifier);
    QCOMPARE(view->selectedItemsInOrder(), (QList<QGraphicsObject *>{first, second, third}));
    QCOMPARE(view->selectionCount(), 3);
    QCOMPARE(view->alignmentAnchor(), third);
    QCOMPARE(view->scene()->focusItem(), third);

    click(*view, sceneAt(10, 8), Qt::ShiftModifier);
    QVERIFY(!third->isSelected());
    QCOMPARE(view->alignmentAnchor(), second);
    QCOMPARE(view->selectionCount(), 2);

    // A plain click selects only the clicked item.
    click(*view, sceneAt(10, 8));
    QCOMPARE(view->selectedItemsInOrder(), QList<QGraphicsObject *>{third});

    // Shift on empty card space is an ordinary press: it clears the selection.
    click(*view, sceneAt(80, 50), Qt::ShiftModifier);
    QCOMPARE(view->selectionCount(), 0);
    QCOMPARE(view->alignmentAnchor(), nullptr);
}

void TestCanvasView::selectionAsElementReferences()
{
    auto view = makeView();
    QVERIFY(view);
    view->setCanvasFields({makeField(1, QStringLiteral("text"), 5, 5, 20, 8),
                           makeField(2, QStringLiteral("text"), 40, 20, 10, 8)});
    view->setCanvasGraphics({makeGraphic(3, QStringLiteral("rectangle"), 20, 30, 30, 15)});
    QSignalSpy edited(view.get(), &CanvasView::selectionEdited);
    const ElementRef field1{ElementGroup::Field, 1};
    const ElementRef field2{ElementGroup::Field, 2};
    const ElementRef graphic3{ElementGroup::Graphic, 3};

    // The user's clicks come out in the order made, the last the anchor.
    click(*view, sceneAt(45, 23), Qt::ShiftModifier);
    click(*view, sceneAt(30, 35), Qt::ShiftModifier);
    click(*view, sceneAt(10, 8), Qt::ShiftModifier);
    QVERIFY(!edited.isEmpty());
    QCOMPARE(edited.last().first().value<QList<ElementRef>>(), (QList<ElementRef>{field2, graphic3, field1}));
    QCOMPARE(view->selectedElements(), (QList<ElementRef>{field2, graphic3, field1}));

    // The document's selection shown: exactly those, in its order.
    view->setSelectedElements({field1, graphic3});
    QCOMPARE(view->selectedElements(), (QList<ElementRef>{field1, graphic3}));
    QVERIFY(!view->fieldItem(2)->isSelected());
    QCOMPARE(view->alignmentAnchor(), view->graphicItem(3));
    // Unknown objects are skipped; an empty list clears.
    view->setSelectedElements({{ElementGroup::Field, 99}, field2});
    QCOMPARE(view->selectedElements(), QList<ElementRef>{field2});
    view->setSelectedElements({});
    QCOMPARE(view->selectionCount(), 0);
}

void TestCanvasView::selectionSignals()
{
    auto shown = makeView();
    QVERIFY(shown);
    CanvasView &view = *shown;
    view.setCanvasFields({makeField(1, QStringLiteral("text"), 5, 5, 20, 8)});
    view.setCanvasGraphics({makeGraphic(2, QStringLiteral("rectangle"), 20, 30, 30, 15)});
    QSignalSpy count(&view, &CanvasView::selectionCountChanged);
    QSignalSpy fieldSelected(&view, &CanvasView::fieldSelected);
    QSignalSpy graphicSelected(&view, &CanvasView::graphicSelected);

    view.fieldItem(1)->setSelected(true);
    QCOMPARE(count.last().first().toInt(), 1);
    QCOMPARE(fieldSelected.size(), 1);
    QCOMPARE(fieldSelected.first().first().value<TemplateField>().id, 1);

    view.graphicItem(2)->setSelected(true);
    QCOMPARE(count.last().first().toInt(), 2);
    QCOMPARE(graphicSelected.size(), 0);

    view.fieldItem(1)->setSelected(false);
    QCOMPARE(count.last().first().toInt(), 1);
    QCOMPARE(graphicSelected.size(), 1);
    QCOMPARE(graphicSelected.first().first().value<GraphicElement>().id, 2);
    QCOMPARE(view.selectedField().id, 0);

    view.addFieldItem(makeField(5, QStringLiteral("barcode"), 40, 5, 30, 10));
    QVERIFY(view.fieldItem(5)->isSelected());
    QCOMPARE(view.scene()->focusItem(), view.fieldItem(5));
    QCOMPARE(view.selectedField().id, 5);
    view.addGraphicItem(makeGraphic(6, QStringLiteral("line"), 5, 40, 30, 2), false);
    QVERIFY(!view.graphicItem(6)->isSelected());
    view.addGraphicItem(makeGraphic(7, QStringLiteral("line"), 5, 45, 30, 2), true);
    QVERIFY(view.graphicItem(7)->isSelected());
    QCOMPARE(view.selectionCount(), 3);

    // Replacing a list drops the selection of its items.
    view.setCanvasGraphics({});
    QCOMPARE(count.last().first().toInt(), 1);
    QCOMPARE(view.selectionCount(), 1);
}

void TestCanvasView::commandKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QString>("signal");

    QTest::newRow("Ctrl+Z") << int(Qt::Key_Z) << Qt::KeyboardModifiers(Qt::ControlModifier) << "undo";
    QTest::newRow("Ctrl+Y") << int(Qt::Key_Y) << Qt::KeyboardModifiers(Qt::ControlModifier) << "redo";
    QTest::newRow("Ctrl+R") << int(Qt::Key_R) << Qt::KeyboardModifiers(Qt::ControlModifier) << "redo";
    QTest::newRow("Ctrl+Shift+R") << int(Qt::Key_R) << (Qt::ControlModifier | Qt::ShiftModifier) << "redo";
    QTest::newRow("plain R") << int(Qt::Key_R) << Qt::KeyboardModifiers() << "";
    QTest::newRow("plain Z") << int(Qt::Key_Z) << Qt::KeyboardModifiers() << "";
}

void TestCanvasView::commandKeys()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QString, signal);

    CanvasView view;
    QSignalSpy undo(&view, &CanvasView::undoRequested);
    QSignalSpy redo(&view, &CanvasView::redoRequested);
    QTest::keyClick(&view, Qt::Key(key), modifiers);
    QCOMPARE(undo.size(), signal == QLatin1String("undo") ? 1 : 0);
    QCOMPARE(redo.size(), signal == QLatin1String("redo") ? 1 : 0);
}

void TestCanvasView::deleteKeyNeedsSelection()
{
    CanvasView view;
    view.setCanvasGraphics({makeGraphic(2, QStringLiteral("rectangle"), 20, 30, 30, 15)});
    QSignalSpy deleteRequested(&view, &CanvasView::deleteSelectionRequested);
    QTest::keyClick(&view, Qt::Key_Delete);
    QCOMPARE(deleteRequested.size(), 0);
    view.graphicItem(2)->setSelected(true);
    QTest::keyClick(&view, Qt::Key_Delete);
    QCOMPARE(deleteRequested.size(), 1);
    // The view only asks; the item stays until the window removes it.
    QVERIFY(view.graphicItem(2));
}

void TestCanvasView::arrowNudgesSelectedField_data()
{
    QTest::addColumn<QPointF>("startMm");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<QPointF>("expectedMm");

    QTest::newRow("right 0.1") << QPointF(10, 10) << int(Qt::Key_Right) << false << QPointF(10.1, 10);
    QTest::newRow("left 0.1") << QPointF(10, 10) << int(Qt::Key_Left) << false << QPointF(9.9, 10);
    QTest::newRow("up 0.1") << QPointF(10, 10) << int(Qt::Key_Up) << false << QPointF(10, 9.9);
    QTest::newRow("down 0.1") << QPointF(10, 10) << int(Qt::Key_Down) << false << QPointF(10, 10.1);
    QTest::newRow("shift right 1") << QPointF(10, 10) << int(Qt::Key_Right) << true << QPointF(11, 10);
    QTest::newRow("shift up 1") << QPointF(10, 10) << int(Qt::Key_Up) << true << QPointF(10, 9);
    QTest::newRow("right edge") << QPointF(69.95, 10) << int(Qt::Key_Right) << false << QPointF(70, 10);
    QTest::newRow("shift past the right edge") << QPointF(69.5, 10) << int(Qt::Key_Right) << true
                                               << QPointF(70, 10);
    QTest::newRow("left edge") << QPointF(0.05, 10) << int(Qt::Key_Left) << false << QPointF(0, 10);
    QTest::newRow("bottom edge") << QPointF(10, 43.5) << int(Qt::Key_Down) << true << QPointF(10, 44);
    QTest::newRow("top edge") << QPointF(10, 0.5) << int(Qt::Key_Up) << true << QPointF(10, 0);
}

void TestCanvasView::arrowNudgesSelectedField()
{
    QFETCH(QPointF, startMm);
    QFETCH(int, key);
    QFETCH(bool, shift);
    QFETCH(QPointF, expectedMm);

    CanvasView view;
    view.setCanvasFields({makeField(3, QStringLiteral("text"), startMm.x(), startMm.y(), 20, 10)});
    QSignalSpy edited(&view, &CanvasView::fieldEdited);
    QTest::keyClick(&view, Qt::Key(key), shift ? Qt::ShiftModifier : Qt::NoModifier);
    QCOMPARE(edited.size(), 0); // nothing selected

    view.fieldItem(3)->setSelected(true);
    QTest::keyClick(&view, Qt::Key(key), shift ? Qt::ShiftModifier : Qt::NoModifier);
    QCOMPARE(edited.size(), 1);
    const auto record = edited.first().first().value<TemplateField>();
    QVERIFY2(std::abs(record.xMm - expectedMm.x()) < 1e-9 && std::abs(record.yMm - expectedMm.y()) < 1e-9,
             qPrintable(QStringLiteral("%1, %2").arg(record.xMm).arg(record.yMm)));
    QCOMPARE(view.fieldItem(3)->field().xMm, record.xMm);
    QCOMPARE(view.fieldItem(3)->field().yMm, record.yMm);
    QCOMPARE(view.canvasFields().first().xMm, record.xMm);
}

void TestCanvasView::arrowKeysDoNotMoveGraphics()
{
    CanvasView view;
    view.setCanvasGraphics({makeGraphic(2, QStringLiteral("rectangle"), 20, 30, 30, 15)});
    view.graphicItem(2)->setSelected(true);
    QSignalSpy fieldEdited(&view, &CanvasView::fieldEdited);
    QSignalSpy graphicEdited(&view, &CanvasView::graphicEdited);
    QTest::keyClick(&view, Qt::Key_Right);
    QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(fieldEdited.size(), 0);
    QCOMPARE(graphicEdited.size(), 0);
    QCOMPARE(view.graphicItem(2)->pos(), sceneAt(20, 30));
}

void TestCanvasView::ctrlWheelZooms()
{
    auto view = makeView();
    QVERIFY(view);
    const double before = view->transform().m11();
    const QPoint at = viewportAt(*view, sceneAt(45, 27));
    const QPointF global = view->viewport()->mapToGlobal(at);

    QWheelEvent towards(at, global, QPoint(), QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                        Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view->viewport(), &towards);
    QCOMPARE(view->transform().m11(), before * 1.12);

    QWheelEvent away(at, global, QPoint(), QPoint(0, -120), Qt::NoButton, Qt::ControlModifier,
                     Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view->viewport(), &away);
    QCoreApplication::sendEvent(view->viewport(), &away);
    QVERIFY(std::abs(view->transform().m11() - before / 1.12) < 1e-12);

    QWheelEvent plain(at, global, QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                      false);
    QCoreApplication::sendEvent(view->viewport(), &plain);
    QVERIFY(std::abs(view->transform().m11() - before / 1.12) < 1e-12);

    // A rebuild fits the card again.
    view->setCardSize(cardWidthMm, cardHeightMm);
    const QRectF shown = view->mapToScene(view->viewport()->rect()).boundingRect();
    QVERIFY(shown.contains(view->scene()->sceneRect().adjusted(1, 1, -1, -1)));
}

void TestCanvasView::updateAndRemoveItems()
{
    CanvasView view;
    view.setCanvasFields({makeField(1, QStringLiteral("text"), 5, 5, 20, 8),
                          makeField(2, QStringLiteral("barcode"), 40, 5, 30, 10)});
    view.setCanvasGraphics({makeGraphic(3, QStringLiteral("rectangle"), 20, 30, 30, 15)});

    TemplateField moved = makeField(2, QStringLiteral("barcode"), 50, 20, 25, 12);
    view.updateFieldItem(moved);
    QCOMPARE(view.fieldItem(2)->pos(), sceneAt(50, 20));
    QCOMPARE(view.fieldItem(2)->field(), moved);
    QCOMPARE(view.canvasFields().at(1), moved);

    // A pushed-back record is shown where it is stored, even off the card.
    GraphicElement outside = makeGraphic(3, QStringLiteral("rectangle"), 80, 50, 30, 15);
    view.updateGraphicItem(outside);
    QCOMPARE(view.graphicItem(3)->pos(), sceneAt(80, 50));

    view.updateFieldItem(makeField(99, QStringLiteral("text"), 1, 1, 5, 5));
    QCOMPARE(view.canvasFields().size(), 2);

    view.fieldItem(1)->setSelected(true);
    QSignalSpy count(&view, &CanvasView::selectionCountChanged);
    view.removeFieldItem(1);
    QCOMPARE(view.fieldItem(1), nullptr);
    QCOMPARE(view.canvasFields().size(), 1);
    QCOMPARE(count.size(), 1);
    QCOMPARE(count.last().first().toInt(), 0);
    view.removeGraphicItem(3);
    QCOMPARE(view.graphicItem(3), nullptr);
    QVERIFY(view.canvasGraphics().isEmpty());
}

void TestCanvasView::previewRecordReachesFieldItems()
{
    auto view = makeView();
    QVERIFY(view);
    TemplateField field = makeField(1, QStringLiteral("text"), 5, 5, 80, 20);
    field.dataColumn = QStringLiteral("name");
    field.fontSizePt = 40;
    field.colorHex = QStringLiteral("#000000");
    field.alignment = {HorizontalAlignment::Left, VerticalAlignment::Center};
    view->setCanvasFields({field});

    const auto darkPixels = [&view] {
        const QImage image = view->viewport()->grab().toImage();
        const QRect box = QRect(viewportAt(*view, sceneAt(5, 5)), viewportAt(*view, sceneAt(85, 25)));
        int dark = 0;
        for (int y = box.top(); y <= box.bottom(); ++y) {
            for (int x = box.left(); x <= box.right(); ++x)
                dark += qGray(image.pixel(x, y)) < 100 ? 1 : 0;
        }
        return dark;
    };
    view->setPreviewRecord(QJsonObject{{QStringLiteral("name"), QStringLiteral("I")}});
    const int narrow = darkPixels();
    view->setPreviewRecord(QJsonObject{{QStringLiteral("name"), QStringLiteral("WWWWWWWW")}});
    const int wide = darkPixels();
    QVERIFY2(wide > 4 * narrow && narrow > 0, qPrintable(QStringLiteral("%1 vs %2").arg(wide).arg(narrow)));
    QCOMPARE(view->previewRecord().value(QStringLiteral("name")).toString(), QStringLiteral("WWWWWWWW"));
}

void TestCanvasView::invalidBarcodeShowsRedMessage()
{
    auto view = makeView();
    QVERIFY(view);
    TemplateField barcode = makeField(1, QStringLiteral("barcode"), 5, 5, 60, 20);
    barcode.barcodeFormat = BarcodeFormat::Ean13;
    barcode.name = QStringLiteral("not digits");
    view->setCanvasFields({barcode});

    const auto redPixels = [&view] {
        const QImage image = view->viewport()->grab().toImage();
        const QRect box = QRect(viewportAt(*view, sceneAt(5, 5)), viewportAt(*view, sceneAt(65, 25)));
        int red = 0;
        for (int y = box.top(); y <= box.bottom(); ++y) {
            for (int x = box.left(); x <= box.right(); ++x)
                red += nearColor(image.pixelColor(x, y), QColor(0xdc, 0x26, 0x26), 40) ? 1 : 0;
        }
        return red;
    };
    QVERIFY(redPixels() > 20);

    barcode.name = QStringLiteral("4006381333931");
    view->updateFieldItem(barcode);
    QCOMPARE(redPixels(), 0);
}

void TestCanvasView::textRunsPastItsBox_data()
{
    QTest::addColumn<int>("alignment");
    QTest::addColumn<QRectF>("outsideMm"); // where the text must show beyond its box (card mm)

    // The box is (40, 20) mm, 10 × 4 mm; the text is some 60 mm long and 7 mm tall.
    QTest::newRow("left: runs right") << (0x1 | 0x80) << QRectF(52, 19, 30, 6);
    QTest::newRow("right: runs left") << (0x2 | 0x80) << QRectF(8, 19, 30, 6);
    QTest::newRow("centre: both ways, left") << (0x4 | 0x80) << QRectF(15, 19, 23, 6);
    QTest::newRow("centre: both ways, right") << (0x4 | 0x80) << QRectF(52, 19, 23, 6);
    QTest::newRow("bottom: runs up") << (0x1 | 0x40) << QRectF(41, 16, 30, 3.5);
}

void TestCanvasView::textRunsPastItsBox()
{
    QFETCH(int, alignment);
    QFETCH(QRectF, outsideMm);

    // The text is drawn whole, as the export prints it: not cut at its box.
    auto view = makeView();
    QVERIFY(view);
    view->setBleed(0, false);
    view->setCanvasFields({blackText(1, 40, 20, 10, 4, alignment)});
    view->setPreviewRecord(QJsonObject{{QStringLiteral("name"), QStringLiteral("MMMMMMMMMMMMMMMMMMMM")}});
    const QRectF outside(sceneAt(outsideMm.x(), outsideMm.y()), sceneAt(outsideMm.right(), outsideMm.bottom()));
    QVERIFY2(darkPixelsIn(*view, outside) > 50, qPrintable(QString::number(darkPixelsIn(*view, outside))));
}

void TestCanvasView::contentFollowsMoveAndZoom()
{
    auto view = makeView();
    QVERIFY(view);
    view->setCanvasFields({blackText(1, 10, 10, 40, 10, 0x4 | 0x80)});
    view->setPreviewRecord(QJsonObject{{QStringLiteral("name"), QStringLiteral("HHHH")}});
    const QRectF first(sceneAt(10, 10), sceneAt(50, 20));
    const QRectF second(sceneAt(40, 30), sceneAt(80, 40));
    QVERIFY(darkPixelsIn(*view, first) > 50);
    QCOMPARE(darkPixelsIn(*view, second), 0);

    drag(*view, sceneAt(12, 12), sceneAt(42, 32));
    QCOMPARE(view->fieldItem(1)->field().xMm, 40.0);
    QCOMPARE(darkPixelsIn(*view, first), 0);
    QVERIFY(darkPixelsIn(*view, second) > 50);

    // Zooming in redraws the letters at the new size rather than keeping them.
    view->scene()->clearSelection();
    const int before = darkHeightIn(*view, second);
    view->setTransform(QTransform::fromScale(2 * pixelsPerUnit, 2 * pixelsPerUnit));
    view->centerOn(sceneAt(60, 35));
    const int after = darkHeightIn(*view, second);
    QVERIFY2(before > 10 && std::abs(after - 2 * before) <= 2,
             qPrintable(QStringLiteral("%1 then %2").arg(before).arg(after)));
}

void TestCanvasView::longTextsAreCut_data()
{
    QTest::addColumn<TemplateField>("field");
    QTest::addColumn<QJsonObject>("record");
    QTest::addColumn<int>("shownLength");

    const QString longText(50000, QLatin1Char('7'));
    TemplateField bound = makeField(1, QStringLiteral("text"), 0, 0, 20, 5);
    bound.dataColumn = QStringLiteral("source:1:Name");
    const QJsonObject record{{QStringLiteral("source:1:Name"), longText}};
    QTest::newRow("bound text") << bound << record << 1000;
    QTest::newRow("short bound text") << bound << QJsonObject{{QStringLiteral("source:1:Name"), "Ann"}} << 3;
    TemplateField named = makeField(2, QStringLiteral("text"), 0, 0, 20, 5);
    named.name = longText;
    QTest::newRow("name") << named << QJsonObject() << 1000;
    TemplateField missingColumn = bound;
    missingColumn.dataColumn = longText; // shown as {{column}}
    QTest::newRow("missing column") << missingColumn << QJsonObject() << 1000;
    TemplateField sequence = makeField(3, QStringLiteral("sequence"), 0, 0, 20, 5);
    sequence.sequencePrefix = longText;
    QTest::newRow("sequence prefix") << sequence << QJsonObject() << 1000;
    TemplateField barcode = bound;
    barcode.type = ElementKind::Barcode;
    QTest::newRow("barcode") << barcode << record << 1000;
    TemplateField qr = bound;
    qr.type = ElementKind::QrCode;
    QTest::newRow("qr code keeps more than any QR code holds") << qr << record << 7090;
    QTest::newRow("qr code of 7089 digits")
        << qr << QJsonObject{{QStringLiteral("source:1:Name"), QString(7089, QLatin1Char('1'))}} << 7089;
}

void TestCanvasView::longTextsAreCut()
{
    QFETCH(TemplateField, field);
    QFETCH(QJsonObject, record);
    QFETCH(int, shownLength);

    const BoundedFieldContent bounded = boundedFieldContent(field, record);
    const QString shown = fieldDisplayText(bounded.field, bounded.record);
    QCOMPARE(shown.size(), shownLength);
    QVERIFY(fieldDisplayText(field, record).startsWith(shown));
    QCOMPARE(bounded.field.type, field.type);
    QCOMPARE(bounded.field.xMm, field.xMm);
}

void TestCanvasView::backgroundLoading()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    CanvasView view;

    QImage image(30, 10, QImage::Format_RGB32);
    image.fill(QColor(0, 128, 0));
    const QString png = dir.filePath(QStringLiteral("back.png"));
    QVERIFY(image.save(png));
    QString error;
    QVERIFY(view.loadBackground(png, &error));
    QVERIFY(error.isEmpty());
    QCOMPARE(view.backgroundImage().size(), QSize(30, 10));
    QCOMPARE(view.backgroundItem()->pixmap().size(), QSize(360, 216));

    // A failure keeps the previous background.
    QVERIFY(!view.loadBackground(dir.filePath(QStringLiteral("missing.png")), &error));
    QVERIFY2(error.startsWith(QStringLiteral("Failed to read image: ")), qPrintable(error));
    QVERIFY(view.backgroundItem());

    QFile notAnImage(dir.filePath(QStringLiteral("text.jpg")));
    QVERIFY(notAnImage.open(QIODevice::WriteOnly));
    notAnImage.write("plain text");
    notAnImage.close();
    error.clear();
    QVERIFY(!view.loadBackground(notAnImage.fileName(), &error));
    QVERIFY2(error.startsWith(QStringLiteral("Failed to read image: ")), qPrintable(error));

    QFile pdf(dir.filePath(QStringLiteral("art.PDF")));
    QVERIFY(pdf.open(QIODevice::WriteOnly));
    pdf.write("%PDF-1.4\n");
    pdf.close();
    error.clear();
    QVERIFY(!view.loadBackground(pdf.fileName(), &error));
    QVERIFY(!error.isEmpty());

    // A card size change rescales the kept image.
    view.setCardSize(50.2, 30.1);
    QCOMPARE(view.backgroundItem()->pixmap().size(), QSize(201, 120));
    view.clearBackground();
    QCOMPARE(view.backgroundItem(), nullptr);
    view.setCardSize(50, 30);
    QCOMPARE(view.backgroundItem(), nullptr);
}

void TestCanvasView::absurdRecordsStayDrawable()
{
    // A stored record the panels could never make must neither hang the view
    // nor throw the scene off: the test's timeout catches a hang.
    auto view = makeView();
    QVERIFY(view);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double huge = 1e300;
    GraphicElement table = makeGraphic(1, QStringLiteral("table"), 0, 0, 80, 40);
    table.rows = std::numeric_limits<qint32>::max();
    table.columns = std::numeric_limits<qint32>::max();
    GraphicElement spacedTable = table;
    spacedTable.id = 2;
    spacedTable.rows = 5000;
    spacedTable.columns = 5000;
    spacedTable.cellSpacingMm = 0.001;
    spacedTable.widthMm = huge;
    spacedTable.heightMm = huge;
    GraphicElement wideStroke = makeGraphic(3, QStringLiteral("rectangle"), nan, huge, nan, 20);
    wideStroke.strokeWidthMm = huge;
    view->setCanvasGraphics({table, spacedTable, wideStroke});
    TemplateField field = makeField(4, QStringLiteral("qrcode"), huge, -huge, huge, nan);
    TemplateField text = makeField(5, QStringLiteral("text"), nan, nan, huge, huge);
    TemplateField giantFont = makeField(6, QStringLiteral("text"), 5, 5, 40, 10);
    giantFont.fontSizePt = 1e9;
    TemplateField longText = makeField(7, QStringLiteral("text"), 5, 20, 40, 10);
    longText.dataColumn = QStringLiteral("long");
    view->setCanvasFields({field, text, giantFont, longText});
    view->setPreviewRecord(QJsonObject{{QStringLiteral("long"), QString(5000000, QLatin1Char('W'))}});

    const QImage image = view->viewport()->grab().toImage();
    QVERIFY(!image.isNull());
    for (QGraphicsItem *item : view->cardItem()->childItems()) {
        const QRectF bounds = item->mapRectToScene(item->boundingRect());
        QVERIFY(std::isfinite(bounds.x()) && std::isfinite(bounds.width()));
        QVERIFY(std::isfinite(bounds.y()) && std::isfinite(bounds.height()));
    }
    view->graphicItem(3)->setSelected(true);
    view->fieldItem(4)->setSelected(true);
    QVERIFY(!view->viewport()->grab().toImage().isNull());
}

void TestCanvasView::outOfRangeRecordsShownOnTheCardInRed_data()
{
    QTest::addColumn<TemplateField>("field");
    QTest::addColumn<GraphicElement>("graphic");
    QTest::addColumn<QString>("message");

    TemplateField far = makeField(1, QStringLiteral("text"), 1e20, 10, 40, 12);
    QTest::newRow("a field at x 1e20 mm") << far << GraphicElement() << "X Position is 1e+20 mm, allowed -2000 to 2000 mm";
    GraphicElement farGraphic = makeGraphic(2, QStringLiteral("ellipse"), 10, -1e20, 20, 20);
    QTest::newRow("a graphic at y -1e20 mm") << TemplateField() << farGraphic
                                             << "Y Position is -1e+20 mm, allowed -2000 to 2000 mm";
    TemplateField tiny = makeField(1, QStringLiteral("text"), 10, 10, 40, 12);
    tiny.fontSizePt = 0;
    QTest::newRow("a font size of 0") << tiny << GraphicElement() << "Font Size is 0 pt, allowed 4 to 300 pt";
    GraphicElement table = makeGraphic(2, QStringLiteral("table"), 10, 10, 60, 30);
    table.rows = 1000000000;
    table.columns = 1000000000;
    QTest::newRow("a table of 1e9 x 1e9 cells") << TemplateField() << table << "Rows is 1000000000, allowed 1 to 100";
    GraphicElement stroke = makeGraphic(2, QStringLiteral("rectangle"), 10, 10, 60, 30);
    stroke.strokeWidthMm = 1e9;
    QTest::newRow("a stroke of 1e9 mm") << TemplateField() << stroke
                                        << "Stroke Width is 1000000000 mm, allowed 0.05 to 10 mm";
}

// A stored value no panel could set is drawn within the limits, on the card,
// with a red line naming it; the record itself, position included, is left as
// stored (the window's export then refuses it as the tool does).
void TestCanvasView::outOfRangeRecordsShownOnTheCardInRed()
{
    QFETCH(TemplateField, field);
    QFETCH(GraphicElement, graphic);
    QFETCH(QString, message);

    auto view = makeView();
    QVERIFY(view);
    QGraphicsItem *item = nullptr;
    if (field.id > 0) {
        view->setCanvasFields({field});
        QCOMPARE(view->fieldItem(field.id)->limitMessage(), message);
        QCOMPARE(view->canvasFields().first().fontSizePt, field.fontSizePt);
        QCOMPARE(view->canvasFields().first().xMm, field.xMm);
        item = view->fieldItem(field.id);
    } else {
        view->setCanvasGraphics({graphic});
        QCOMPARE(view->graphicItem(graphic.id)->limitMessage(), message);
        QCOMPARE(view->canvasGraphics().first().rows, graphic.rows);
        QCOMPARE(view->canvasGraphics().first().strokeWidthMm, graphic.strokeWidthMm);
        QCOMPARE(view->canvasGraphics().first().xMm, graphic.xMm);
        QCOMPARE(view->canvasGraphics().first().yMm, graphic.yMm);
        item = view->graphicItem(graphic.id);
    }
    const QRectF card = view->cardItem()->rect();
    const QRectF shown = item->mapRectToParent(QRectF(QPointF(0, 0), item->boundingRect().size()));
    QVERIFY2(card.contains(item->pos()), qPrintable(QStringLiteral("%1, %2").arg(item->pos().x()).arg(item->pos().y())));
    QVERIFY(shown.intersects(card));

    const QImage image = view->viewport()->grab().toImage();
    const QRectF box = item->mapRectToScene(QRectF(QPointF(0, 0), item->boundingRect().size()));
    const QRect pixels = QRect(viewportAt(*view, box.topLeft()), viewportAt(*view, box.bottomRight()))
                             .intersected(image.rect());
    int red = 0;
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        for (int x = pixels.left(); x <= pixels.right(); ++x)
            red += nearColor(image.pixelColor(x, y), QColor(0xdc, 0x26, 0x26), 40) ? 1 : 0;
    }
    QVERIFY2(red > 20, qPrintable(QString::number(red)));
    // Most of the card still shows white: no stroke blacks it out.
    int white = 0;
    const QRect cardPixels(viewportAt(*view, view->cardItem()->mapToScene(card.topLeft())),
                           viewportAt(*view, view->cardItem()->mapToScene(card.bottomRight())));
    for (int y = cardPixels.top(); y <= cardPixels.bottom(); y += 2) {
        for (int x = cardPixels.left(); x <= cardPixels.right(); x += 2)
            white += image.pixelColor(x, y) == QColor(Qt::white) ? 1 : 0;
    }
    QVERIFY2(white * 4 > 0.4 * cardPixels.width() * cardPixels.height(), qPrintable(QString::number(white)));

    // Mended, the red line goes.
    if (field.id > 0) {
        view->updateFieldItem(makeField(field.id, QStringLiteral("text"), 10, 10, 40, 12));
        QVERIFY(view->fieldItem(field.id)->limitMessage().isEmpty());
    } else {
        view->updateGraphicItem(makeGraphic(graphic.id, QStringLiteral("table"), 10, 10, 60, 30));
        QVERIFY(view->graphicItem(graphic.id)->limitMessage().isEmpty());
    }
}

void TestCanvasView::boundedTable_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<double>("spacingMm");
    QTest::addColumn<int>("expectedRows");
    QTest::addColumn<int>("expectedColumns");

    const int most = std::numeric_limits<qint32>::max();
    QTest::newRow("panel maximum, lines") << 100 << 100 << 0.0 << 100 << 100;
    QTest::newRow("panel maximum, cells") << 100 << 100 << 0.1 << 100 << 100;
    QTest::newRow("zero rows") << 0 << -3 << 0.0 << 1 << 1;
    QTest::newRow("absurd lines") << most << 7 << 0.0 << 1000 << 7;
    QTest::newRow("absurd cells, few rows") << 5 << 5000 << 0.02 << 5 << 2000;
    QTest::newRow("absurd cells, few columns") << 2000 << 50 << 0.02 << 200 << 50;
    QTest::newRow("absurd cells both ways") << 5000 << 5000 << 0.02 << 100 << 100;
    QTest::newRow("absurd lines both ways") << most << most << 0.0000001 << 1000 << 1000;
    // Cells smaller than the spacing draw nothing at no cost: left as stored.
    QTest::newRow("cells under the spacing") << most << most << 1.0 << most << most;
}

void TestCanvasView::boundedTable()
{
    QFETCH(int, rows);
    QFETCH(int, columns);
    QFETCH(double, spacingMm);
    QFETCH(int, expectedRows);
    QFETCH(int, expectedColumns);

    GraphicElement table = makeGraphic(1, QStringLiteral("table"), 0, 0, 9000, 9000);
    table.rows = rows;
    table.columns = columns;
    table.cellSpacingMm = spacingMm;
    const GraphicElement bounded = boundedTableForPainting(table);
    QCOMPARE(std::max(bounded.rows, 1), expectedRows);
    QCOMPARE(std::max(bounded.columns, 1), expectedColumns);

    GraphicElement rectangle = table;
    rectangle.type = ElementKind::Rectangle;
    QCOMPARE(boundedTableForPainting(rectangle), rectangle);
}

void TestCanvasView::copyPasteThroughClipboard()
{
    CanvasView view;
    TemplateField field = makeField(1, QStringLiteral("barcode"), 10, 12, 30, 10);
    field.dataColumn = QStringLiteral("source:3:Code");
    field.barcodeShowText = true;
    TemplateField corner = makeField(2, QStringLiteral("text"), 70, 44, 20, 10);
    GraphicElement table = makeGraphic(3, QStringLiteral("table"), 5, 30, 40, 20);
    table.rows = 4;
    table.cellSpacingMm = 1;
    view.setCanvasFields({field, corner});
    view.setCanvasGraphics({table});
    view.fieldItem(1)->setSelected(true);
    view.graphicItem(3)->setSelected(true);
    view.fieldItem(2)->setSelected(true);

    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    const QMimeData *mimeData = QGuiApplication::clipboard()->mimeData();
    QVERIFY(mimeData && mimeData->hasFormat(canvasClipboardMimeType()));

    QSignalSpy pasted(&view, &CanvasView::pasteRequested);
    QTest::keyClick(&view, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(view.selectionCount(), 0);
    // One request for the whole clipboard: one paste is one user action.
    QCOMPARE(pasted.size(), 1);
    const auto pastedFields = pasted.first().at(0).value<QList<TemplateField>>();
    const auto pastedGraphics = pasted.first().at(1).value<QList<GraphicElement>>();
    QCOMPARE(pastedFields.size(), 2);
    QCOMPARE(pastedGraphics.size(), 1);

    // In selection order, 2 mm right of and below, kept on the card; no ids.
    const auto first = pastedFields.at(0);
    QCOMPARE(first.id, 0);
    QCOMPARE(first.type, ElementKind::Barcode);
    QCOMPARE(first.dataColumn, field.dataColumn);
    QVERIFY(first.barcodeShowText);
    QCOMPARE(QPointF(first.xMm, first.yMm), QPointF(12, 14));
    const auto second = pastedFields.at(1);
    QCOMPARE(QPointF(second.xMm, second.yMm), QPointF(70, 44));
    const auto graphic = pastedGraphics.first();
    QCOMPARE(graphic.id, 0);
    QCOMPARE(graphic.rows, 4);
    QCOMPARE(graphic.cellSpacingMm, 1.0);
    QCOMPARE(QPointF(graphic.xMm, graphic.yMm), QPointF(7, 32));

    // The same clipboard twice gives the same places again.
    QVERIFY(view.pasteFromClipboard());
    QCOMPARE(pasted.size(), 2);
    const auto again = pasted.at(1).at(0).value<QList<TemplateField>>().first();
    QCOMPARE(QPointF(again.xMm, again.yMm), QPointF(12, 14));
}

void TestCanvasView::copyWithNothingSelectedLeavesClipboard()
{
    CanvasView view;
    view.setCanvasFields({makeField(1, QStringLiteral("text"), 10, 12, 30, 10)});
    QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
    QVERIFY(!view.copySelection());
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
    QVERIFY(!QGuiApplication::clipboard()->mimeData()->hasFormat(canvasClipboardMimeType()));
}

void TestCanvasView::pasteIgnoresForeignClipboard()
{
    CanvasView view;
    QSignalSpy pasted(&view, &CanvasView::pasteRequested);

    QGuiApplication::clipboard()->setText(QStringLiteral("{\"version\":1,\"items\":[]}"));
    QVERIFY(!view.pasteFromClipboard());

    const auto offer = [](const QByteArray &data) {
        auto *mimeData = new QMimeData;
        mimeData->setData(canvasClipboardMimeType(), data);
        QGuiApplication::clipboard()->setMimeData(mimeData);
    };
    offer("not json");
    QVERIFY(!view.pasteFromClipboard());
    offer("{\"version\":1,\"items\":[]}");
    QVERIFY(!view.pasteFromClipboard());
    offer("[1,2]");
    QVERIFY(!view.pasteFromClipboard());
    QCOMPARE(pasted.size(), 0);

    // Unknown kinds are skipped, the document is still ours.
    offer("{\"items\":[{\"kind\":\"sticker\"},{\"kind\":\"graphic\",\"graphic\":{\"type\":\"ellipse\"}}]}");
    QVERIFY(view.pasteFromClipboard());
    QCOMPARE(pasted.size(), 1);
    QVERIFY(pasted.first().at(0).value<QList<TemplateField>>().isEmpty());
    const auto pastedGraphics = pasted.first().at(1).value<QList<GraphicElement>>();
    QCOMPARE(pastedGraphics.size(), 1);
    const auto ellipse = pastedGraphics.first();
    QCOMPARE(ellipse.type, ElementKind::Ellipse);
    QCOMPARE(QPointF(ellipse.xMm, ellipse.yMm), QPointF(12, 12)); // default 10, 10 + 2

    // Ours but beyond what a paste takes: consumed, refused with a reason.
    QSignalSpy refused(&view, &CanvasView::pasteRefused);
    QByteArray many = "{\"items\":[";
    for (qsizetype i = 0; i <= canvasclipboardlimits::maximumItems; ++i)
        many += QByteArray(i ? "," : "") + "{\"kind\":\"graphic\",\"graphic\":{}}";
    many += "]}";
    offer(many);
    QVERIFY(view.pasteFromClipboard());
    QCOMPARE(refused.size(), 1);
    QVERIFY(!refused.first().first().toString().isEmpty());
    QCOMPARE(pastedGraphics.size(), 1);
}

void TestCanvasView::pageAlignmentButtonsFollowSelection()
{
    CanvasPage page;
    page.setDuplex(true);
    CanvasView *front = page.frontCanvas();
    CanvasView *back = page.backCanvas();
    front->setCanvasFields({makeField(1, QStringLiteral("text"), 5, 5, 20, 8),
                            makeField(2, QStringLiteral("text"), 40, 5, 20, 8)});
    front->setCanvasGraphics({makeGraphic(3, QStringLiteral("rectangle"), 20, 30, 30, 15)});
    back->setCanvasFields({makeField(4, QStringLiteral("text"), 5, 5, 20, 8),
                           makeField(5, QStringLiteral("text"), 40, 5, 20, 8)});
    const QList<QToolButton *> &buttons = page.alignmentButtons();
    QCOMPARE(buttons.size(), 6);
    const auto enabledCount = [&buttons] {
        return int(std::count_if(buttons.cbegin(), buttons.cend(), [](QToolButton *b) { return b->isEnabled(); }));
    };
    QCOMPARE(enabledCount(), 0);

    front->fieldItem(1)->setSelected(true);
    QCOMPARE(enabledCount(), 0);
    front->graphicItem(3)->setSelected(true);
    QCOMPARE(enabledCount(), 6);

    page.sideTabs()->setCurrentWidget(back);
    QCOMPARE(page.currentCanvas(), back);
    QCOMPARE(enabledCount(), 0);
    back->fieldItem(4)->setSelected(true);
    back->fieldItem(5)->setSelected(true);
    QCOMPARE(enabledCount(), 6);
    // Selection changes on the hidden side do not count.
    front->fieldItem(1)->setSelected(false);
    QCOMPARE(enabledCount(), 6);

    page.sideTabs()->setCurrentWidget(front);
    QCOMPARE(enabledCount(), 0);
    front->fieldItem(2)->setSelected(true);
    QCOMPARE(enabledCount(), 6);

    QSignalSpy align(&page, &CanvasPage::alignRequested);
    for (QToolButton *button : buttons)
        button->click();
    QCOMPARE(align.size(), 6);
    const QList<AlignMode> modes{AlignMode::Left, AlignMode::HorizontalCenter, AlignMode::Right,
                                 AlignMode::Top, AlignMode::VerticalCenter, AlignMode::Bottom};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(align.at(i).first().value<AlignMode>(), modes.at(i));
}

void TestCanvasView::pageTabsFollowDuplex()
{
    CanvasPage page;
    QSignalSpy sideChanged(&page, &CanvasPage::sideChanged);
    QCOMPARE(page.sideTabs()->count(), 1);
    QCOMPARE(page.sideTabs()->tabText(0), QStringLiteral("Front"));
    QVERIFY(!page.isDuplex());

    page.setDuplex(true);
    page.setDuplex(true);
    QCOMPARE(page.sideTabs()->count(), 2);
    QCOMPARE(page.sideTabs()->tabText(1), QStringLiteral("Back"));
    page.sideTabs()->setCurrentIndex(1);
    QCOMPARE(page.currentSide(), CardSide::Back);
    QCOMPARE(sideChanged.last().first().value<CardSide>(), CardSide::Back);
    QCOMPARE(page.canvasForSide(CardSide::Back), page.backCanvas());
    QCOMPARE(page.canvasForSide(CardSide::Front), page.frontCanvas());

    page.setDuplex(false);
    QCOMPARE(page.sideTabs()->count(), 1);
    QCOMPARE(page.currentCanvas(), page.frontCanvas());
    QCOMPARE(page.currentSide(), CardSide::Front);
    QCOMPARE(sideChanged.last().first().value<CardSide>(), CardSide::Front);
}

void TestCanvasView::pageControlsAreNamed()
{
    CanvasPage page;
    page.setDuplex(true);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));

    QCOMPARE(page.frontCanvas()->accessibleName(), QStringLiteral("Front canvas"));
    QCOMPARE(page.backCanvas()->accessibleName(), QStringLiteral("Back canvas"));
    QCOMPARE(accessibleName(page.frontCanvas()), QStringLiteral("Front canvas"));

    const QStringList alignTips{
        QStringLiteral("Align Left (select at least two objects)"),
        QStringLiteral("Align Horizontal Center (select at least two objects)"),
        QStringLiteral("Align Right (select at least two objects)"),
        QStringLiteral("Align Top (select at least two objects)"),
        QStringLiteral("Align Vertical Center (select at least two objects)"),
        QStringLiteral("Align Bottom (select at least two objects)"),
    };
    QCOMPARE(page.alignmentButtons().size(), alignTips.size());
    for (int i = 0; i < alignTips.size(); ++i) {
        QToolButton *button = page.alignmentButtons().at(i);
        QCOMPARE(button->toolTip(), alignTips.at(i));
        QCOMPARE(accessibleName(button), alignTips.at(i));
        QCOMPARE(button->objectName(), QStringLiteral("alignmentButton"));
        QVERIFY(!button->icon().isNull());
        QVERIFY(!button->icon().pixmap(20, 20).isNull());
    }

    const QList<QPair<QString, QString>> tools{
        {QStringLiteral("Select / Move Objects"), QString()},
        {QStringLiteral("Add Variable Text Field"), QStringLiteral("Text")},
        {QStringLiteral("Add Auto Sequence"), QStringLiteral("Sequence")},
        {QStringLiteral("Import Image or PDF background"), QStringLiteral("Image")},
        {QStringLiteral("Draw Shape"), QStringLiteral("Pen")},
        {QStringLiteral("Add Table"), QStringLiteral("Table")},
        {QStringLiteral("Add Barcode (Code 128)"), QStringLiteral("Barcode")},
        {QStringLiteral("Add QR Code"), QStringLiteral("QR Code")},
        {QStringLiteral("Add Scratch Card"), QStringLiteral("Scratch")},
    };
    QCOMPARE(page.toolButtons().size(), tools.size());
    for (int i = 0; i < tools.size(); ++i) {
        QToolButton *button = page.toolButtons().at(i);
        QCOMPARE(button->toolTip(), tools.at(i).first);
        QCOMPARE(button->text(), tools.at(i).second);
        QCOMPARE(accessibleName(button), tools.at(i).first);
        QVERIFY(!button->icon().pixmap(22, 22).isNull());
    }
    QVERIFY(page.selectTool()->isCheckable());
    QVERIFY(page.selectTool()->isChecked());

    QCOMPARE(accessibleName(page.previewRecordBox()), QStringLiteral("Preview record"));
    QCOMPARE(accessibleName(page.snapCheckBox()), QStringLiteral("Snap"));
    for (QPushButton *button : {page.importBackgroundButton(), page.clearBackgroundButton(),
                                page.addTextFieldButton()})
        QVERIFY(!accessibleName(button).isEmpty());
    QCOMPARE(page.importBackgroundButton()->text(), QStringLiteral("Import Image / PDF"));
    QCOMPARE(page.importBackgroundButton()->objectName(), QStringLiteral("primaryButton"));
    QCOMPARE(page.backgroundStatusLabel()->objectName(), QStringLiteral("backgroundStatus"));
    QCOMPARE(page.backgroundStatusLabel()->text(), QStringLiteral("Background: not imported"));
    QCOMPARE(page.sideTabs()->objectName(), QStringLiteral("sideTabs"));
    QVERIFY(page.findChild<QWidget *>(QStringLiteral("canvasActions")));
    QVERIFY(page.findChild<QWidget *>(QStringLiteral("canvasToolPalette")));
    QCOMPARE(page.findChildren<QWidget *>(QStringLiteral("canvasActionsSeparator")).size(), 2);
    QCOMPARE(page.drawingMenu()->objectName(), QStringLiteral("drawingToolMenu"));
}

void TestCanvasView::pageToolsEmitRequests()
{
    CanvasPage page;
    page.setDuplex(true);
    page.show();
    page.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&page));
    QSignalSpy tools(&page, &CanvasPage::addElementRequested);
    QSignalSpy imports(&page, &CanvasPage::importBackgroundRequested);
    QSignalSpy clears(&page, &CanvasPage::clearBackgroundRequested);
    QSignalSpy records(&page, &CanvasPage::previewRecordChanged);

    const QList<QToolButton *> &buttons = page.toolButtons();
    for (int i : {1, 2, 3, 5, 6, 7, 8})
        buttons.at(i)->click();
    page.addTextFieldButton()->click();
    page.importBackgroundButton()->click();
    page.clearBackgroundButton()->click();
    const auto requestedKinds = [&tools] {
        QList<ElementKind> kinds;
        for (const QList<QVariant> &arguments : std::as_const(tools))
            kinds << arguments.first().value<ElementKind>();
        return kinds;
    };
    QCOMPARE(requestedKinds(), (QList<ElementKind>{ElementKind::Text, ElementKind::Sequence, ElementKind::Table,
                                                   ElementKind::Barcode, ElementKind::QrCode, ElementKind::Scratch,
                                                   ElementKind::Text}));
    QCOMPARE(imports.size(), 2);
    QCOMPARE(clears.size(), 1);

    const QList<QAction *> shapes = page.drawingMenu()->actions();
    QCOMPARE(shapes.size(), 3);
    QCOMPARE(shapes.at(0)->text(), QStringLiteral("Line"));
    QCOMPARE(shapes.at(1)->text(), QStringLiteral("Circle"));
    QCOMPARE(shapes.at(2)->text(), QStringLiteral("Rectangle"));
    for (QAction *shape : shapes) {
        QVERIFY(!shape->icon().isNull());
        shape->trigger();
    }
    QCOMPARE(requestedKinds().mid(7),
             (QList<ElementKind>{ElementKind::Line, ElementKind::Ellipse, ElementKind::Rectangle}));

    // The select tool stays checked and hands the keyboard to the shown side.
    page.sideTabs()->setCurrentWidget(page.backCanvas());
    page.selectTool()->click();
    QVERIFY(page.selectTool()->isChecked());
    QVERIFY(page.backCanvas()->hasFocus());

    page.setPreviewRecordCount(40);
    QCOMPARE(page.previewRecordBox()->maximum(), 40);
    page.previewRecordBox()->setValue(12);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().first().toInt(), 12);
    QCOMPARE(page.previewRecordNumber(), 12);
    page.setPreviewRecordCount(0);
    QCOMPARE(page.previewRecordBox()->maximum(), 1);
    QCOMPARE(page.previewRecordNumber(), 1);
    QCOMPARE(records.size(), 1);
}

void TestCanvasView::pageSnapReachesBothViews()
{
    CanvasPage page;
    page.frontCanvas()->setCanvasGraphics({makeGraphic(1, QStringLiteral("rectangle"), 5, 5, 20, 10)});
    QSignalSpy toggled(&page, &CanvasPage::snapToggled);
    QSignalSpy status(&page, &CanvasPage::statusMessageRequested);
    QVERIFY(!page.snapCheckBox()->isChecked());
    QCOMPARE(page.snapCheckBox()->toolTip(),
             QStringLiteral("Snap rectangles to other graphics and canvas edges while dragging or resizing; "
                            "corners use a larger snap range"));

    page.snapCheckBox()->click();
    QVERIFY(page.frontCanvas()->snapEnabled());
    QVERIFY(page.backCanvas()->snapEnabled());
    QVERIFY(page.frontCanvas()->graphicItem(1)->snapEnabled());
    QCOMPARE(toggled.last().first().toBool(), true);
    QCOMPARE(status.last().at(0).toString(), QStringLiteral("SnapEnabled"));
    QCOMPARE(status.last().at(1).toInt(), 1800);

    page.snapCheckBox()->click();
    QVERIFY(!page.frontCanvas()->snapEnabled());
    QVERIFY(!page.frontCanvas()->graphicItem(1)->snapEnabled());
    QCOMPARE(status.last().at(0).toString(), QStringLiteral("SnapDisabled"));

    // Items created later take the flag too.
    page.snapCheckBox()->click();
    page.backCanvas()->addGraphicItem(makeGraphic(2, QStringLiteral("line"), 5, 5, 20, 2), false);
    QVERIFY(page.backCanvas()->graphicItem(2)->snapEnabled());

    auto *panel = new QLabel(QStringLiteral("panel"));
    page.setPropertyPanel(panel);
    QCOMPARE(page.propertyPanel(), panel);
    QVERIFY(page.isAncestorOf(panel));
}

QTEST_MAIN(TestCanvasView)
#include "tst_canvasview.moc"
