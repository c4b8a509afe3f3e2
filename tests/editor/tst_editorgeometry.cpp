// The editor's arithmetic: keeping items on the card, snapping graphics while
// they are dragged or resized, nudges, alignment, table splits, the position
// of a paste and the records the tools add.

#include "editor/editorgeometry.h"
#include "store/storetestutil.h" // readable records in failure output

#include <QTest>

#include <cmath>
#include <functional>
#include <limits>

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

using Rects = QList<QRectF>;

// The starter's 90 × 54 mm card, in scene units.
const QRectF starterCard(0, 0, 360, 216);
// A card so large that its corners and edges are out of every snap range.
const QRectF largeCard(0, 0, 1000, 1000);

bool isFinite(const QPointF &p)
{
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

bool isFinite(const QSizeF &s)
{
    return std::isfinite(s.width()) && std::isfinite(s.height());
}

double overlap(double aStart, double aEnd, double bStart, double bEnd)
{
    return std::min(aEnd, bEnd) - std::max(aStart, bStart);
}

} // namespace

Q_DECLARE_METATYPE(AlignMode)
Q_DECLARE_METATYPE(Rects)

class TestEditorGeometry : public QObject
{
    Q_OBJECT

private slots:
    void resizableFieldTypes_data();
    void resizableFieldTypes();
    void clampToCard_data();
    void clampToCard();
    void keptOnCard_data();
    void keptOnCard();
    void snapMove_data();
    void snapMove();
    void snapMoveCornerNeverOverlaps();
    void snapResize_data();
    void snapResize();
    void nudge_data();
    void nudge();
    void align_data();
    void align();
    void splitTable();
    void splitTableCases_data();
    void splitTableCases();
    void pastedPosition_data();
    void pastedPosition();
    void newField_data();
    void newField();
    void newGraphic_data();
    void newGraphic();
};

void TestEditorGeometry::resizableFieldTypes_data()
{
    QTest::addColumn<ElementKind>("type");
    QTest::addColumn<bool>("resizable");
    QTest::newRow("barcode") << ElementKind::Barcode << true;
    QTest::newRow("qrcode") << ElementKind::QrCode << true;
    QTest::newRow("text") << ElementKind::Text << false;
    QTest::newRow("sequence") << ElementKind::Sequence << false;
    QTest::newRow("scratch") << ElementKind::Scratch << false;
}

void TestEditorGeometry::resizableFieldTypes()
{
    QFETCH(ElementKind, type);
    QFETCH(bool, resizable);
    QCOMPARE(hasResizeHandle(type), resizable);
    QCOMPARE(isSizedByContent(type), !resizable);
}

void TestEditorGeometry::clampToCard_data()
{
    QTest::addColumn<QPointF>("position");
    QTest::addColumn<QSizeF>("item");
    QTest::addColumn<QSizeF>("card");
    QTest::addColumn<QPointF>("expected");

    const QSizeF card(90, 54);
    QTest::newRow("inside stays") << QPointF(10, 20) << QSizeF(20, 5) << card << QPointF(10, 20);
    QTest::newRow("past the left and top edges") << QPointF(-3, -0.5) << QSizeF(20, 5) << card << QPointF(0, 0);
    QTest::newRow("past the right and bottom edges")
        << QPointF(85, 60) << QSizeF(20, 5) << card << QPointF(70, 49);
    QTest::newRow("exactly at the far edges") << QPointF(70, 49) << QSizeF(20, 5) << card << QPointF(70, 49);
    QTest::newRow("wider than the card sits at x = 0")
        << QPointF(12, 20) << QSizeF(120, 5) << card << QPointF(0, 20);
    QTest::newRow("as wide as the card sits at x = 0")
        << QPointF(12, 20) << QSizeF(90, 5) << card << QPointF(0, 20);
    QTest::newRow("taller than the card sits at y = 0")
        << QPointF(12, 20) << QSizeF(20, 60) << card << QPointF(12, 0);
    QTest::newRow("position not a number") << QPointF(notANumber, notANumber) << QSizeF(20, 5) << card
                                           << QPointF(0, 0);
    QTest::newRow("position infinite") << QPointF(infinity, -infinity) << QSizeF(20, 5) << card
                                       << QPointF(70, 0);
    QTest::newRow("item size not a number") << QPointF(12, 20) << QSizeF(notANumber, 5) << card
                                            << QPointF(0, 20);
    QTest::newRow("card size not a number") << QPointF(12, 20) << QSizeF(20, 5) << QSizeF(notANumber, 54)
                                            << QPointF(0, 20);
    QTest::newRow("card infinite") << QPointF(12, 20) << QSizeF(20, 5) << QSizeF(infinity, 54)
                                   << QPointF(0, 20);
}

void TestEditorGeometry::clampToCard()
{
    QFETCH(QPointF, position);
    QFETCH(QSizeF, item);
    QFETCH(QSizeF, card);
    QFETCH(QPointF, expected);
    const QPointF clamped = ::clampToCard(position, item, card);
    QVERIFY(isFinite(clamped));
    QCOMPARE(clamped, expected);
}

// What the property panels do with a typed position and size.
void TestEditorGeometry::keptOnCard_data()
{
    QTest::addColumn<QRectF>("typed");
    QTest::addColumn<QSizeF>("card");
    QTest::addColumn<QRectF>("expected");

    const QSizeF card(90, 54);
    const QSizeF noCard(-1, -1);
    QTest::newRow("on the card stays") << QRectF(10, 20, 30, 10) << card << QRectF(10, 20, 30, 10);
    QTest::newRow("x 500 mm on a 90 mm card") << QRectF(500, 20, 30, 10) << card << QRectF(60, 20, 30, 10);
    QTest::newRow("a width past the right edge moves it left")
        << QRectF(70, 20, 40, 10) << card << QRectF(50, 20, 40, 10);
    QTest::newRow("wider than the card: as wide as the card")
        << QRectF(30, 0, 500, 60) << card << QRectF(0, 0, 90, 54);
    QTest::newRow("below the minimum is raised") << QRectF(88, 52, 0, 0) << card << QRectF(85, 51, 5, 3);
    QTest::newRow("no card limits nothing but the minimum")
        << QRectF(500, 700, 1, 1) << noCard << QRectF(500, 700, 5, 3);
}

void TestEditorGeometry::keptOnCard()
{
    QFETCH(QRectF, typed);
    QFETCH(QSizeF, card);
    QFETCH(QRectF, expected);
    QCOMPARE(::keptOnCard(typed, card, QSizeF(5, 3)), expected);
}

void TestEditorGeometry::snapMove_data()
{
    QTest::addColumn<QRectF>("proposed");
    QTest::addColumn<QRectF>("card");
    QTest::addColumn<Rects>("others");
    QTest::addColumn<QPointF>("expected");

    // Corner snap onto the card.
    QTest::newRow("top-left within 20 of the card's corner jumps onto it")
        << QRectF(12, 15, 80, 40) << starterCard << Rects() << QPointF(0, 0);
    QTest::newRow("20 and 19 away: sum 39 still snaps")
        << QRectF(20, 19, 80, 40) << starterCard << Rects() << QPointF(0, 0);
    QTest::newRow("20 and 20 away: sum 40 does not, nor do the edges")
        << QRectF(20, 20, 80, 40) << starterCard << Rects() << QPointF(20, 20);
    QTest::newRow("21 across: no corner, the top edge still snaps")
        << QRectF(21, 5, 80, 40) << starterCard << Rects() << QPointF(21, 0);
    QTest::newRow("bottom-right onto the card's bottom-right")
        << QRectF(275, 170, 80, 40) << starterCard << Rects() << QPointF(280, 176);
    QTest::newRow("nothing in range stays") << QRectF(100, 80, 80, 40) << starterCard << Rects()
                                            << QPointF(100, 80);

    // Other graphics.
    QTest::newRow("edge to edge beside a graphic snaps to touch it")
        << QRectF(135, 120, 60, 20) << largeCard << Rects{QRectF(200, 50, 80, 200)} << QPointF(140, 120);
    QTest::newRow("left edge onto a graphic's right edge")
        << QRectF(287, 120, 60, 20) << largeCard << Rects{QRectF(200, 50, 80, 200)} << QPointF(280, 120);
    // The nearest pair (top-left onto top-left, 15) would put it on top of the
    // graphic; the next (bottom-left onto top-left, 25) sets it above.
    QTest::newRow("a corner pair that would overlap is passed over")
        << QRectF(190, 95, 60, 20) << largeCard << Rects{QRectF(200, 100, 80, 40)} << QPointF(200, 80);
    QTest::newRow("a graphic more than 20 above is no x target")
        << QRectF(135, 100, 60, 20) << largeCard << Rects{QRectF(200, 0, 80, 79)} << QPointF(135, 100);
    QTest::newRow("a graphic more than 20 aside is no y target")
        << QRectF(100, 135, 20, 60) << largeCard << Rects{QRectF(0, 200, 79, 80)} << QPointF(100, 135);

    // Ties: a later pair or offset must be strictly better.
    QTest::newRow("equal corner sums: the card, first, wins")
        << QRectF(5, 5, 50, 50) << QRectF(0, 0, 400, 400) << Rects{QRectF(60, 0, 40, 40)} << QPointF(0, 0);
    QTest::newRow("a strictly better corner of a later graphic wins")
        << QRectF(5, 5, 50, 50) << QRectF(0, 0, 400, 400) << Rects{QRectF(57, 0, 40, 40)} << QPointF(7, 0);
    QTest::newRow("equal edge offsets: the first target wins")
        << QRectF(100, 100, 50, 50) << largeCard << Rects{QRectF(40, 0, 55, 1000), QRectF(155, 0, 55, 1000)}
        << QPointF(95, 100);
    QTest::newRow("a strictly nearer edge of a later target wins")
        << QRectF(100, 100, 50, 50) << largeCard << Rects{QRectF(40, 0, 55, 1000), QRectF(154, 0, 55, 1000)}
        << QPointF(104, 100);

    // The edge range.
    QTest::newRow("an edge 10 away snaps") << QRectF(10, 300, 50, 50) << largeCard << Rects()
                                           << QPointF(0, 300);
    QTest::newRow("an edge 10.5 away does not") << QRectF(10.5, 300, 50, 50) << largeCard << Rects()
                                                << QPointF(10.5, 300);
    QTest::newRow("x and y snap independently")
        << QRectF(7, 300, 50, 50) << largeCard << Rects{QRectF(-500, 345, 2000, 100)} << QPointF(0, 295);

    // Bad numbers.
    QTest::newRow("proposed x not a number counts as 0")
        << QRectF(notANumber, 5, 80, 40) << starterCard << Rects() << QPointF(0, 0);
    QTest::newRow("proposed x infinite counts as 0")
        << QRectF(infinity, 100, 50, 50) << largeCard << Rects() << QPointF(0, 100);
    QTest::newRow("targets that are not finite are ignored")
        << QRectF(100, 100, 50, 50) << largeCard
        << Rects{QRectF(notANumber, 100, 10, 10), QRectF(infinity, 0, 10, 10), QRectF(145, 145, infinity, 10)}
        << QPointF(100, 100);
    QTest::newRow("a card that is not finite is ignored")
        << QRectF(5, 5, 50, 50) << QRectF(0, 0, notANumber, 400) << Rects() << QPointF(5, 5);
}

void TestEditorGeometry::snapMove()
{
    QFETCH(QRectF, proposed);
    QFETCH(QRectF, card);
    QFETCH(Rects, others);
    QFETCH(QPointF, expected);
    const QPointF snapped = snapMovePosition(proposed, card, others);
    QVERIFY(isFinite(snapped));
    QCOMPARE(snapped, expected);
}

// Wherever a rectangle, a square or a line is dropped beside another
// graphic, snapping may make it touch that graphic but never lie on it.
void TestEditorGeometry::snapMoveCornerNeverOverlaps()
{
    const QRectF other(200, 200, 60, 40);
    const auto overlaps = [&](const QRectF &r) {
        return overlap(r.left(), r.right(), other.left(), other.right()) > 0.5
            && overlap(r.top(), r.bottom(), other.top(), other.bottom()) > 0.5;
    };
    for (const QSizeF size : {QSizeF(50, 30), QSizeF(80, 80), QSizeF(20, 4), QSizeF(4, 20)}) {
        for (double x = 100; x <= 300; x += 0.75) {
            for (double y = 100; y <= 300; y += 0.75) {
                const QRectF proposed(QPointF(x, y), size);
                if (overlaps(proposed))
                    continue;
                const QPointF snapped = snapMovePosition(proposed, largeCard, {other});
                QVERIFY2(!overlaps(QRectF(snapped, size)),
                         qPrintable(QStringLiteral("%1 × %2 dropped at %3, %4 snapped to %5, %6")
                                        .arg(size.width()).arg(size.height()).arg(x).arg(y)
                                        .arg(snapped.x()).arg(snapped.y())));
            }
        }
    }
}

void TestEditorGeometry::snapResize_data()
{
    QTest::addColumn<QPointF>("position");
    QTest::addColumn<QSizeF>("proposed");
    QTest::addColumn<QRectF>("card");
    QTest::addColumn<Rects>("others");
    QTest::addColumn<bool>("isLine");
    QTest::addColumn<QSizeF>("expected");

    QTest::newRow("raised to 20 × 20") << QPointF(100, 100) << QSizeF(5, 5) << largeCard << Rects() << false
                                       << QSizeF(20, 20);
    QTest::newRow("a line may be 4 high") << QPointF(100, 100) << QSizeF(5, 1) << largeCard << Rects() << true
                                          << QSizeF(20, 4);
    QTest::newRow("a line is no narrower than 20") << QPointF(100, 100) << QSizeF(-40, 30) << largeCard
                                                   << Rects() << true << QSizeF(20, 30);
    QTest::newRow("nothing in range stays") << QPointF(100, 100) << QSizeF(150, 90) << largeCard << Rects()
                                            << false << QSizeF(150, 90);
    QTest::newRow("corner onto the card's bottom-right")
        << QPointF(300, 150) << QSizeF(52, 60) << starterCard << Rects() << false << QSizeF(60, 66);
    QTest::newRow("corner onto a graphic's top-left, touching it")
        << QPointF(100, 100) << QSizeF(95, 92) << largeCard << Rects{QRectF(200, 200, 50, 50)} << false
        << QSizeF(100, 100);
    // The graphic's bottom-right (3, 3 away) would cover it; the card's
    // corner, 13, 13 away, is taken instead.
    QTest::newRow("a corner that would cover a graphic is passed over")
        << QPointF(100, 100) << QSizeF(147, 147) << QRectF(0, 0, 260, 260) << Rects{QRectF(200, 200, 50, 50)}
        << false << QSizeF(160, 160);
    QTest::newRow("corners and edges below the minimum are passed over")
        << QPointF(100, 100) << QSizeF(20, 20) << largeCard << Rects{QRectF(95, 100, 10, 10)} << false
        << QSizeF(20, 20);
    QTest::newRow("right edge onto a graphic's left edge")
        << QPointF(100, 400) << QSizeF(95, 50) << largeCard << Rects{QRectF(200, 0, 50, 1000)} << false
        << QSizeF(100, 50);
    QTest::newRow("an edge 11 away is not snapped")
        << QPointF(100, 400) << QSizeF(89, 50) << largeCard << Rects{QRectF(200, 0, 50, 1000)} << false
        << QSizeF(89, 50);
    QTest::newRow("bottom edge onto the card's bottom edge")
        << QPointF(100, 100) << QSizeF(100, 108) << starterCard << Rects() << false << QSizeF(100, 116);
    QTest::newRow("a graphic more than 20 aside is no bottom target")
        << QPointF(100, 100) << QSizeF(50, 95) << largeCard << Rects{QRectF(171, 200, 100, 100)} << false
        << QSizeF(50, 95);
    QTest::newRow("size not a number or infinite becomes the minimum")
        << QPointF(100, 100) << QSizeF(notANumber, infinity) << largeCard << Rects() << false << QSizeF(20, 20);
    QTest::newRow("position not a number leaves the size")
        << QPointF(notANumber, 0) << QSizeF(30, 30) << starterCard << Rects() << false << QSizeF(30, 30);
    QTest::newRow("targets that are not finite are ignored")
        << QPointF(100, 100) << QSizeF(95, 95) << largeCard
        << Rects{QRectF(200, 200, notANumber, 50), QRectF(-infinity, 195, 400, 10)} << false << QSizeF(95, 95);
}

void TestEditorGeometry::snapResize()
{
    QFETCH(QPointF, position);
    QFETCH(QSizeF, proposed);
    QFETCH(QRectF, card);
    QFETCH(Rects, others);
    QFETCH(bool, isLine);
    QFETCH(QSizeF, expected);
    const QSizeF snapped = snapResizeSize(position, proposed, card, others, isLine);
    QVERIFY(isFinite(snapped));
    QCOMPARE(snapped, expected);
}

void TestEditorGeometry::nudge_data()
{
    QTest::addColumn<QPointF>("position");
    QTest::addColumn<QSizeF>("size");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<QPointF>("expected");

    const QSizeF size(20, 5);
    QTest::newRow("left 0.1") << QPointF(10, 10) << size << int(Qt::Key_Left) << false << QPointF(9.9, 10);
    QTest::newRow("right 0.1") << QPointF(10, 10) << size << int(Qt::Key_Right) << false << QPointF(10.1, 10);
    QTest::newRow("up 0.1") << QPointF(10, 10) << size << int(Qt::Key_Up) << false << QPointF(10, 9.9);
    QTest::newRow("down 0.1") << QPointF(10, 10) << size << int(Qt::Key_Down) << false << QPointF(10, 10.1);
    QTest::newRow("shift left 1") << QPointF(10, 10) << size << int(Qt::Key_Left) << true << QPointF(9, 10);
    QTest::newRow("shift down 1") << QPointF(10, 10) << size << int(Qt::Key_Down) << true << QPointF(10, 11);
    QTest::newRow("another key moves nothing") << QPointF(10, 10) << size << int(Qt::Key_A) << true
                                               << QPointF(10, 10);
    QTest::newRow("stops at the left edge") << QPointF(0.05, 10) << size << int(Qt::Key_Left) << false
                                            << QPointF(0, 10);
    QTest::newRow("stops at the top edge") << QPointF(10, 0.5) << size << int(Qt::Key_Up) << true
                                           << QPointF(10, 0);
    QTest::newRow("stops at the right edge") << QPointF(69.95, 10) << size << int(Qt::Key_Right) << true
                                             << QPointF(70, 10);
    QTest::newRow("stops at the bottom edge") << QPointF(10, 48.5) << size << int(Qt::Key_Down) << true
                                              << QPointF(10, 49);
    QTest::newRow("wider than the card stays at x = 0")
        << QPointF(0, 10) << QSizeF(120, 5) << int(Qt::Key_Right) << true << QPointF(0, 10);
    QTest::newRow("position not a number") << QPointF(notANumber, 10) << size << int(Qt::Key_Right) << false
                                           << QPointF(0, 10);
}

void TestEditorGeometry::nudge()
{
    QFETCH(QPointF, position);
    QFETCH(QSizeF, size);
    QFETCH(int, key);
    QFETCH(bool, shift);
    QFETCH(QPointF, expected);
    TemplateField field;
    field.xMm = position.x();
    field.yMm = position.y();
    field.widthMm = size.width();
    field.heightMm = size.height();
    const QPointF nudged = nudgedFieldPosition(field, key, shift, QSizeF(90, 54));
    QVERIFY(isFinite(nudged));
    QCOMPARE(nudged, expected);
}

void TestEditorGeometry::align_data()
{
    QTest::addColumn<AlignMode>("mode");
    QTest::addColumn<QRectF>("anchor");
    QTest::addColumn<QRectF>("item");
    QTest::addColumn<QPointF>("expected");

    const QRectF anchor(10, 20, 40, 30);
    const QRectF item(50, 60, 10, 10);
    QTest::newRow("left") << AlignMode::Left << anchor << item << QPointF(10, 60);
    QTest::newRow("horizontal centre") << AlignMode::HorizontalCenter << anchor << item << QPointF(25, 60);
    QTest::newRow("right") << AlignMode::Right << anchor << item << QPointF(40, 60);
    QTest::newRow("top") << AlignMode::Top << anchor << item << QPointF(50, 20);
    QTest::newRow("vertical centre") << AlignMode::VerticalCenter << anchor << item << QPointF(50, 30);
    QTest::newRow("bottom") << AlignMode::Bottom << anchor << item << QPointF(50, 40);
    QTest::newRow("a wider item right-aligned may leave the card")
        << AlignMode::Right << anchor << QRectF(0, 0, 60, 50) << QPointF(-10, 0);
    QTest::newRow("a taller item centred may leave the card")
        << AlignMode::VerticalCenter << anchor << QRectF(0, 0, 60, 50) << QPointF(0, 10);
    QTest::newRow("anchor x not a number gives 0, y kept")
        << AlignMode::Left << QRectF(notANumber, 20, 40, 30) << item << QPointF(0, 60);
    QTest::newRow("infinite item height gives 0")
        << AlignMode::Bottom << anchor << QRectF(50, 60, 10, infinity) << QPointF(50, 0);
}

void TestEditorGeometry::align()
{
    QFETCH(AlignMode, mode);
    QFETCH(QRectF, anchor);
    QFETCH(QRectF, item);
    QFETCH(QPointF, expected);
    const QPointF aligned = alignedPosition(mode, anchor, item);
    QVERIFY(isFinite(aligned));
    QCOMPARE(aligned, expected);
}

void TestEditorGeometry::splitTable()
{
    GraphicElement table;
    table.id = 42;
    table.projectId = 9;
    table.side = CardSide::Back;
    table.type = ElementKind::Table;
    table.xMm = 5;
    table.yMm = 7;
    table.widthMm = 60;
    table.heightMm = 30;
    table.strokeColor = QStringLiteral("#ff0000");
    table.strokeWidthMm = 0.5;
    table.fillColor = QStringLiteral("#00ff00");
    table.rows = 3;
    table.columns = 3;
    table.cellSpacingMm = 2;

    const QList<GraphicElement> cells = splitTableCells(table);
    QCOMPARE(cells.size(), 9);
    QVERIFY(tableSplitRefusal(table).isEmpty());
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            GraphicElement expected;
            expected.projectId = 9;
            expected.side = CardSide::Back;
            expected.type = ElementKind::Rectangle;
            expected.xMm = 5 + 1 + j * 20;
            expected.yMm = 7 + 1 + i * 10;
            expected.widthMm = 18;
            expected.heightMm = 8;
            expected.strokeColor = QStringLiteral("#ff0000");
            expected.strokeWidthMm = 0.5;
            expected.fillColor = QStringLiteral("#00ff00");
            expected.rows = 1;
            expected.columns = 1;
            expected.cellSpacingMm = 0;
            QCOMPARE(cells.at(i * 3 + j), expected);
        }
    }
}

void TestEditorGeometry::splitTableCases_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QRectF>("geometry");
    QTest::addColumn<double>("spacing");
    QTest::addColumn<int>("count");
    QTest::addColumn<QRectF>("first"); // of the first rectangle, when there is one
    QTest::addColumn<QString>("refusal");

    const QRectF table(10, 20, 60, 30);
    const QString spacingMessage = QStringLiteral(
        "Table spacing is greater than or equal to the cell size, so valid rectangles cannot be created.");
    const QString notFinite = QStringLiteral("The table's position or size is not a finite number, so it cannot be split.");
    const QString none;

    QTest::newRow("no spacing") << 2 << 4 << table << 0.0 << 8 << QRectF(10, 20, 15, 15) << none;
    QTest::newRow("spacing 0.01 leaves cells whole") << 3 << 3 << table << 0.01 << 9 << QRectF(10, 20, 20, 10)
                                                     << none;
    QTest::newRow("spacing just above 0.01 counts")
        << 3 << 3 << table << 0.02 << 9 << QRectF(10.01, 20.01, 19.98, 9.98) << none;
    QTest::newRow("negative spacing counts as none") << 3 << 3 << table << -3.0 << 9 << QRectF(10, 20, 20, 10)
                                                     << none;
    QTest::newRow("spacing not a number counts as none")
        << 3 << 3 << table << notANumber << 9 << QRectF(10, 20, 20, 10) << none;
    QTest::newRow("spacing just below the smaller side")
        << 3 << 3 << table << 9.5 << 9 << QRectF(14.75, 24.75, 10.5, 0.5) << none;
    QTest::newRow("spacing equal to the smaller side") << 3 << 3 << table << 10.0 << 0 << QRectF()
                                                       << spacingMessage;
    QTest::newRow("spacing above the smaller side") << 3 << 3 << table << 15.0 << 0 << QRectF()
                                                    << spacingMessage;
    QTest::newRow("spacing infinite") << 3 << 3 << table << infinity << 0 << QRectF() << spacingMessage;
    QTest::newRow("no width") << 3 << 3 << QRectF(10, 20, 0, 30) << 0.0 << 0 << QRectF() << spacingMessage;
    QTest::newRow("negative height") << 3 << 3 << QRectF(10, 20, 60, -30) << 0.0 << 0 << QRectF()
                                     << spacingMessage;
    QTest::newRow("zero rows count as one") << 0 << 2 << table << 0.0 << 2 << QRectF(10, 20, 30, 30) << none;
    QTest::newRow("negative counts as one") << -5 << -1 << table << 0.0 << 1 << QRectF(10, 20, 60, 30) << none;
    QTest::newRow("100 × 100, the most") << 100 << 100 << QRectF(0, 0, 100, 200) << 0.0 << 10000
                                         << QRectF(0, 0, 1, 2) << none;
    QTest::newRow("101 × 100 is refused") << 101 << 100 << table << 0.0 << 0 << QRectF()
                                          << "The table has 101 rows and 100 columns; at most 10000 cells can be "
                                             "split into rectangles.";
    QTest::newRow("billions of cells are refused")
        << std::numeric_limits<int>::max() << std::numeric_limits<int>::max() << table << 0.0 << 0 << QRectF()
        << "The table has 2147483647 rows and 2147483647 columns; at most 10000 cells can be split into "
           "rectangles.";
    QTest::newRow("width infinite") << 3 << 3 << QRectF(10, 20, infinity, 30) << 0.0 << 0 << QRectF()
                                    << notFinite;
    QTest::newRow("x not a number") << 3 << 3 << QRectF(notANumber, 20, 60, 30) << 0.0 << 0 << QRectF()
                                    << notFinite;
    QTest::newRow("far edge past the largest number")
        << 3 << 3 << QRectF(1.7e308, 20, 1.7e308, 30) << 0.0 << 0 << QRectF() << notFinite;
}

void TestEditorGeometry::splitTableCases()
{
    QFETCH(int, rows);
    QFETCH(int, columns);
    QFETCH(QRectF, geometry);
    QFETCH(double, spacing);
    QFETCH(int, count);
    QFETCH(QRectF, first);
    QFETCH(QString, refusal);

    GraphicElement table;
    table.type = ElementKind::Table;
    table.xMm = geometry.x();
    table.yMm = geometry.y();
    table.widthMm = geometry.width();
    table.heightMm = geometry.height();
    table.rows = rows;
    table.columns = columns;
    table.cellSpacingMm = spacing;

    const QList<GraphicElement> cells = splitTableCells(table);
    QCOMPARE(cells.size(), count);
    QCOMPARE(tableSplitRefusal(table), refusal);
    if (cells.isEmpty())
        return;
    QCOMPARE(QRectF(cells.first().xMm, cells.first().yMm, cells.first().widthMm, cells.first().heightMm), first);
    // Every cell lies inside the table, row by row.
    for (qsizetype i = 0; i < cells.size(); ++i) {
        const GraphicElement &cell = cells.at(i);
        QVERIFY(cell.xMm >= geometry.left() && cell.xMm + cell.widthMm <= geometry.right() + 1e-9);
        QVERIFY(cell.yMm >= geometry.top() && cell.yMm + cell.heightMm <= geometry.bottom() + 1e-9);
        if (i > 0) {
            const GraphicElement &previous = cells.at(i - 1);
            QVERIFY(cell.yMm > previous.yMm || (cell.yMm == previous.yMm && cell.xMm > previous.xMm));
        }
    }
}

void TestEditorGeometry::pastedPosition_data()
{
    QTest::addColumn<QPointF>("position");
    QTest::addColumn<QSizeF>("size");
    QTest::addColumn<QSizeF>("card");
    QTest::addColumn<QPointF>("expected");

    const QSizeF card(90, 54);
    QTest::newRow("2 mm right and down") << QPointF(10, 10) << QSizeF(20, 5) << card << QPointF(12, 12);
    QTest::newRow("at the bottom-right corner it stays there")
        << QPointF(45, 44) << QSizeF(45, 10) << card << QPointF(45, 44);
    QTest::newRow("near the far edges it stops there")
        << QPointF(69, 48.5) << QSizeF(20, 5) << card << QPointF(70, 49);
    QTest::newRow("wider than the card sits at x = 0")
        << QPointF(0, 0) << QSizeF(100, 5) << card << QPointF(0, 2);
    QTest::newRow("as wide as the card sits at x = 0")
        << QPointF(0, 0) << QSizeF(90, 5) << card << QPointF(0, 2);
    QTest::newRow("from off the card") << QPointF(-1.5, -3) << QSizeF(20, 5) << card << QPointF(0.5, 0);
    QTest::newRow("position not a number") << QPointF(notANumber, 10) << QSizeF(20, 5) << card
                                           << QPointF(0, 12);
    QTest::newRow("position infinite") << QPointF(infinity, -infinity) << QSizeF(20, 5) << card
                                       << QPointF(70, 0);
    QTest::newRow("size not a number") << QPointF(10, 10) << QSizeF(notANumber, 5) << card << QPointF(0, 12);
    QTest::newRow("card infinite") << QPointF(10, 10) << QSizeF(20, 5) << QSizeF(infinity, 54)
                                   << QPointF(0, 12);
}

void TestEditorGeometry::pastedPosition()
{
    QFETCH(QPointF, position);
    QFETCH(QSizeF, size);
    QFETCH(QSizeF, card);
    QFETCH(QPointF, expected);
    const QPointF pasted = ::pastedPosition(position, size, card);
    QVERIFY(isFinite(pasted));
    QCOMPARE(pasted, expected);
}

void TestEditorGeometry::newField_data()
{
    QTest::addColumn<ElementKind>("type");
    QTest::addColumn<QString>("firstColumnKey");
    QTest::addColumn<std::function<void(TemplateField &)>>("change"); // of the default record

    using Change = std::function<void(TemplateField &)>;
    const auto bound = [](const QString &name, const QString &key) {
        return Change([=](TemplateField &f) {
            f.name = name;
            f.dataColumn = key;
        });
    };
    QTest::newRow("text named after its column")
        << ElementKind::Text << "source:3:Member Name" << bound("Member Name", "source:3:Member Name");
    QTest::newRow("barcode") << ElementKind::Barcode << "source:12:code" << bound("code", "source:12:code");
    QTest::newRow("qrcode without columns") << ElementKind::QrCode << "" << bound("Variable Field", "");
    QTest::newRow("a bare column name") << ElementKind::Text << "City" << bound("City", "City");
    QTest::newRow("a key with an empty column name")
        << ElementKind::Text << "source:3:" << bound("Variable Field", "source:3:");
    QTest::newRow("a source id that is not a number")
        << ElementKind::Text << "source:x:Name" << bound("source:x:Name", "source:x:Name");
    QTest::newRow("a colon in the column name") << ElementKind::Text << "source:3:a:b" << bound("a:b", "source:3:a:b");
    QTest::newRow("a line break in the column name")
        << ElementKind::Text << "source:3:Line\nBreak" << bound("Line\nBreak", "source:3:Line\nBreak");
    QTest::newRow("sequence") << ElementKind::Sequence << "source:3:Name" << Change([](TemplateField &f) {
        f.name = QStringLiteral("Sequence");
        f.sequencePrefix = QStringLiteral("No.");
        f.sequenceDigits = 6;
        f.sequenceStep = 1;
        f.sequenceExcludeFour = false;
    });
    QTest::newRow("scratch") << ElementKind::Scratch << "source:3:Name" << Change([](TemplateField &f) {
        f.name = QStringLiteral("Scratch Card Prize");
        f.bold = true;
        f.fontSizePt = 16;
    });
}

void TestEditorGeometry::newField()
{
    QFETCH(ElementKind, type);
    QFETCH(QString, firstColumnKey);
    QFETCH(std::function<void(TemplateField &)>, change);

    TemplateField expected;
    expected.projectId = 7;
    expected.side = CardSide::Back;
    expected.type = type;
    expected.xMm = 5;
    expected.yMm = 5;
    change(expected);
    QCOMPARE(newTemplateField(type, 7, CardSide::Back, firstColumnKey), expected);
}

void TestEditorGeometry::newGraphic_data()
{
    QTest::addColumn<ElementKind>("type");
    QTest::addColumn<double>("cardWidth");
    QTest::addColumn<QSizeF>("size");

    QTest::newRow("line on a 90 mm card") << ElementKind::Line << 90.0 << QSizeF(50, 2);
    QTest::newRow("line on a 50 mm card") << ElementKind::Line << 50.0 << QSizeF(30, 2);
    QTest::newRow("line on a 30.5 mm card") << ElementKind::Line << 30.5 << QSizeF(10.5, 2);
    QTest::newRow("line on a 30 mm card") << ElementKind::Line << 30.0 << QSizeF(10, 2);
    QTest::newRow("line on a 10 mm card") << ElementKind::Line << 10.0 << QSizeF(10, 2);
    QTest::newRow("line, card width not a number") << ElementKind::Line << notANumber << QSizeF(10, 2);
    QTest::newRow("line, card width infinite") << ElementKind::Line << infinity << QSizeF(50, 2);
    QTest::newRow("ellipse") << ElementKind::Ellipse << 90.0 << QSizeF(20, 20);
    QTest::newRow("rectangle") << ElementKind::Rectangle << 90.0 << QSizeF(30, 20);
    QTest::newRow("table on a 90 mm card") << ElementKind::Table << 90.0 << QSizeF(60, 25);
    QTest::newRow("table on a 60 mm card") << ElementKind::Table << 60.0 << QSizeF(40, 25);
    QTest::newRow("table on a 35 mm card") << ElementKind::Table << 35.0 << QSizeF(15, 25);
    QTest::newRow("table on a 20 mm card") << ElementKind::Table << 20.0 << QSizeF(15, 25);
}

void TestEditorGeometry::newGraphic()
{
    QFETCH(ElementKind, type);
    QFETCH(double, cardWidth);
    QFETCH(QSizeF, size);

    GraphicElement expected;
    expected.projectId = 7;
    expected.side = CardSide::Back;
    expected.type = type;
    expected.widthMm = size.width();
    expected.heightMm = size.height();
    QCOMPARE(newGraphicElement(type, 7, CardSide::Back, cardWidth), expected);
}

QTEST_GUILESS_MAIN(TestEditorGeometry)
#include "tst_editorgeometry.moc"
