#include "render/impositionlayout.h"

#include <QTest>

#include <algorithm>
#include <limits>
#include <numeric>

Q_DECLARE_METATYPE(ImpositionLayout)
Q_DECLARE_METATYPE(PrintPage)

namespace {

constexpr int kIntMax = std::numeric_limits<int>::max();

// Record indices of one sheet side, slot by slot (row-major).
QList<int> sheetSlots(const ImpositionLayout &layout, int sheet, bool cutStack, bool back = false)
{
    QList<int> cells;
    for (int r = 0; r < layout.rows; ++r) {
        for (int c = 0; c < layout.columns; ++c)
            cells.append(layout.recordAt(sheet, r, c, cutStack, back));
    }
    return cells;
}

} // namespace

class TestImpositionLayout : public QObject
{
    Q_OBJECT

private slots:
    void counts_data();
    void counts();
    void orderOnSheets_data();
    void orderOnSheets();
    void outsideTheLayoutIsEmpty_data();
    void outsideTheLayoutIsEmpty();
    void everyRecordOnceAndPilesRunInOrder();
    void hugeGridDoesNotOverflow();
    void backMirrorsColumns();
    void printPages_data();
    void printPages();
    void cropCuts_data();
    void cropCuts();
};

void TestImpositionLayout::counts_data()
{
    QTest::addColumn<int>("recordCount");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("cardsPerSheet");
    QTest::addColumn<int>("sheetCount");
    QTest::addColumn<bool>("valid");

    QTest::newRow("no records") << 0 << 2 << 2 << 4 << 0 << true;
    QTest::newRow("negative records") << -5 << 2 << 2 << 4 << 0 << false;
    QTest::newRow("no rows") << 10 << 0 << 2 << 0 << 0 << false;
    QTest::newRow("no columns") << 10 << 2 << 0 << 0 << 0 << false;
    QTest::newRow("negative rows and columns") << 10 << -2 << -3 << 0 << 0 << false;
    QTest::newRow("one card") << 1 << 1 << 1 << 1 << 1 << true;
    QTest::newRow("fewer than a sheet") << 3 << 2 << 2 << 4 << 1 << true;
    QTest::newRow("exact multiple") << 12 << 2 << 3 << 6 << 2 << true;
    QTest::newRow("one past a multiple") << 13 << 2 << 3 << 6 << 3 << true;
    QTest::newRow("worked example") << 10 << 2 << 2 << 4 << 3 << true;
    QTest::newRow("INT_MAX on 1 x 1") << kIntMax << 1 << 1 << 1 << kIntMax << true;
    // (INT_MAX + 3) / 4 needs more than 32 bits on the way.
    QTest::newRow("INT_MAX on 2 x 2") << kIntMax << 2 << 2 << 4 << 536870912 << true;
    QTest::newRow("INT_MAX on 7 x 9") << kIntMax << 7 << 9 << 63 << 34087043 << true;
}

void TestImpositionLayout::counts()
{
    QFETCH(int, recordCount);
    QFETCH(int, rows);
    QFETCH(int, columns);
    const ImpositionLayout layout{recordCount, rows, columns};
    QTEST(layout.cardsPerSheet(), "cardsPerSheet");
    QTEST(layout.sheetCount(), "sheetCount");
    QTEST(layout.isValid(), "valid");
}

void TestImpositionLayout::orderOnSheets_data()
{
    QTest::addColumn<ImpositionLayout>("layout");
    QTest::addColumn<bool>("cutStack");
    QTest::addColumn<QList<QList<int>>>("sheets");

    const ImpositionLayout ten{10, 2, 2};
    QTest::newRow("10 on 2x2, standard")
        << ten << false << QList<QList<int>>{{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, -1, -1}};
    QTest::newRow("10 on 2x2, cut-stack")
        << ten << true << QList<QList<int>>{{0, 3, 6, 8}, {1, 4, 7, 9}, {2, 5, -1, -1}};

    // Every stack equally high, the last sheet full.
    const ImpositionLayout twelve{12, 2, 2};
    QTest::newRow("12 on 2x2, standard")
        << twelve << false << QList<QList<int>>{{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, 10, 11}};
    QTest::newRow("12 on 2x2, cut-stack")
        << twelve << true << QList<QList<int>>{{0, 3, 6, 9}, {1, 4, 7, 10}, {2, 5, 8, 11}};

    // Fewer records than slots: one sheet, the same in both orders.
    const ImpositionLayout three{3, 2, 3};
    QTest::newRow("3 on 2x3, standard")
        << three << false << QList<QList<int>>{{0, 1, 2, -1, -1, -1}};
    QTest::newRow("3 on 2x3, cut-stack")
        << three << true << QList<QList<int>>{{0, 1, 2, -1, -1, -1}};
}

void TestImpositionLayout::orderOnSheets()
{
    QFETCH(ImpositionLayout, layout);
    QFETCH(bool, cutStack);
    QFETCH(QList<QList<int>>, sheets);

    QCOMPARE(layout.sheetCount(), sheets.size());
    for (int n = 0; n < sheets.size(); ++n)
        QCOMPARE(sheetSlots(layout, n, cutStack), sheets.at(n));
    // The sheet after the last one is empty in both orders.
    QCOMPARE(sheetSlots(layout, sheets.size(), cutStack),
             QList<int>(layout.cardsPerSheet(), -1));
}

void TestImpositionLayout::outsideTheLayoutIsEmpty_data()
{
    QTest::addColumn<ImpositionLayout>("layout");
    QTest::addColumn<int>("sheet");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");

    const ImpositionLayout ten{10, 2, 2};
    QTest::newRow("negative sheet") << ten << -1 << 0 << 0;
    QTest::newRow("sheet past the end") << ten << 3 << 0 << 0;
    QTest::newRow("negative row") << ten << 0 << -1 << 0;
    QTest::newRow("row past the grid") << ten << 0 << 2 << 0;
    QTest::newRow("negative column") << ten << 0 << 0 << -1;
    QTest::newRow("column past the grid") << ten << 0 << 0 << 2;
    QTest::newRow("no records") << ImpositionLayout{0, 2, 2} << 0 << 0 << 0;
    QTest::newRow("invalid grid") << ImpositionLayout{10, 0, 2} << 0 << 0 << 0;
    QTest::newRow("negative record count") << ImpositionLayout{-4, 2, 2} << 0 << 0 << 0;
}

void TestImpositionLayout::outsideTheLayoutIsEmpty()
{
    QFETCH(ImpositionLayout, layout);
    QFETCH(int, sheet);
    QFETCH(int, row);
    QFETCH(int, column);
    QCOMPARE(layout.standardRecordAt(sheet, row, column), -1);
    QCOMPARE(layout.cutStackRecordAt(sheet, row, column), -1);
    for (bool cutStack : {false, true}) {
        for (bool back : {false, true}) {
            // A column outside the grid must not be mirrored into it.
            QCOMPARE(layout.recordAt(sheet, row, column, cutStack, back), -1);
        }
    }
}

void TestImpositionLayout::everyRecordOnceAndPilesRunInOrder()
{
    // The printed sheets are cut into one stack per slot, sheet 0 on top,
    // and the stacks are laid one after another in slot order. Cut-stack
    // must make that pile run 0, 1, 2, …; standard order must do the same
    // when the sheets are simply read slot by slot.
    for (int rows = 1; rows <= 4; ++rows) {
        for (int columns = 1; columns <= 4; ++columns) {
            for (int count = 1; count <= 3 * rows * columns + 2; ++count) {
                const ImpositionLayout layout{count, rows, columns};
                const int perSheet = layout.cardsPerSheet();
                const int sheets = layout.sheetCount();
                const QByteArray where = QByteArray::number(count) + " records on "
                    + QByteArray::number(rows) + "x" + QByteArray::number(columns);

                QList<int> pile;
                QList<int> timesPlaced(count, 0);
                for (int s = 0; s < perSheet; ++s) {
                    bool blankSeen = false;
                    for (int n = 0; n < sheets; ++n) {
                        const int index = layout.cutStackRecordAt(n, s / columns, s % columns);
                        QVERIFY2(index >= -1 && index < count, where);
                        if (index < 0) {
                            blankSeen = true;
                            continue;
                        }
                        // A blank card inside a stack would break the run.
                        QVERIFY2(!blankSeen, where);
                        ++timesPlaced[index];
                        pile.append(index);
                    }
                }
                QVERIFY2(timesPlaced == QList<int>(count, 1), where);
                QList<int> expected(count);
                std::iota(expected.begin(), expected.end(), 0);
                QVERIFY2(pile == expected, where);

                // Stacks differ by at most one card.
                QList<int> stackHeights;
                for (int s = 0; s < perSheet; ++s) {
                    int height = 0;
                    for (int n = 0; n < sheets; ++n)
                        height += layout.cutStackRecordAt(n, s / columns, s % columns) >= 0;
                    stackHeights.append(height);
                }
                const auto [low, high] = std::minmax_element(stackHeights.cbegin(), stackHeights.cend());
                QVERIFY2(*high - *low <= 1, where);

                QList<int> read;
                for (int n = 0; n < sheets; ++n) {
                    for (int index : sheetSlots(layout, n, false)) {
                        if (index >= 0)
                            read.append(index);
                    }
                }
                QVERIFY2(read == expected, where);
            }
        }
    }
}

void TestImpositionLayout::hugeGridDoesNotOverflow()
{
    // 65536 × 65536 slots do not fit in 32 bits; a stored project can hold
    // any grid, so the arithmetic must not wrap.
    const ImpositionLayout layout{kIntMax, 65536, 65536};
    QCOMPARE(layout.cardsPerSheet(), kIntMax);
    QCOMPARE(layout.sheetCount(), 1);
    for (bool cutStack : {false, true}) {
        QCOMPARE(layout.recordAt(0, 32767, 65534, cutStack, false), kIntMax - 1);
        QCOMPARE(layout.recordAt(0, 32767, 65535, cutStack, false), -1);
        QCOMPARE(layout.recordAt(1, 0, 0, cutStack, false), -1);
        QCOMPARE(layout.recordAt(kIntMax, 65535, 65535, cutStack, false), -1);
    }

    // Large record counts on a small grid: the last record lands on the last sheet.
    const ImpositionLayout many{kIntMax, 2, 2};
    const int last = many.sheetCount() - 1;
    QCOMPARE(many.standardRecordAt(last, 1, 0), kIntMax - 1);
    QCOMPARE(many.standardRecordAt(last, 1, 1), -1);
    // q = 536870911, m = 3: the first three stacks are one card higher.
    QCOMPARE(many.cutStackRecordAt(last, 0, 0), 536870911);
    QCOMPARE(many.cutStackRecordAt(last, 0, 1), 1073741823);
    QCOMPARE(many.cutStackRecordAt(last, 1, 1), -1);
    QCOMPARE(many.cutStackRecordAt(last - 1, 1, 1), kIntMax - 1);
}

void TestImpositionLayout::backMirrorsColumns()
{
    for (bool cutStack : {false, true}) {
        // One column: the back is the front.
        const ImpositionLayout single{7, 3, 1};
        for (int n = 0; n < single.sheetCount(); ++n)
            QCOMPARE(sheetSlots(single, n, cutStack, true), sheetSlots(single, n, cutStack, false));

        // Three columns: each back stands behind its own front, rows unchanged.
        const ImpositionLayout three{17, 2, 3};
        for (int n = 0; n < three.sheetCount(); ++n) {
            for (int r = 0; r < three.rows; ++r) {
                for (int c = 0; c < three.columns; ++c) {
                    QCOMPARE(three.recordAt(n, r, three.columns - 1 - c, cutStack, true),
                             three.recordAt(n, r, c, cutStack, false));
                }
            }
        }
        QCOMPARE(three.recordAt(0, 1, 2, cutStack, true), three.recordAt(0, 1, 0, cutStack, false));
    }
    // The worked sheet 2 (8, 9, -, - on 2 × 2) turned over: 9, 8, -, -.
    QCOMPARE(sheetSlots(ImpositionLayout{10, 2, 2}, 2, false, true), (QList<int>{9, 8, -1, -1}));
}

void TestImpositionLayout::printPages_data()
{
    QTest::addColumn<bool>("duplex");
    QTest::addColumn<int>("pageCount");
    QTest::addColumn<QList<PrintPage>>("pages");

    QTest::newRow("single-sided")
        << false << 3 << QList<PrintPage>{{0, false}, {1, false}, {2, false}};
    QTest::newRow("duplex") << true << 6
                            << QList<PrintPage>{{0, false}, {0, true}, {1, false},
                                                {1, true},  {2, false}, {2, true}};
}

void TestImpositionLayout::printPages()
{
    QFETCH(bool, duplex);
    QFETCH(QList<PrintPage>, pages);
    QTEST(printPageCount(ImpositionLayout{10, 2, 2}, duplex), "pageCount");
    QCOMPARE(printPageCount(ImpositionLayout{0, 2, 2}, duplex), 0);
    QCOMPARE(printPageCount(ImpositionLayout{10, 0, 2}, duplex), 0);
    for (int p = 0; p < pages.size(); ++p)
        QCOMPARE(printPageAt(p, duplex), pages.at(p));
    QCOMPARE(printPageAt(-3, duplex), (PrintPage{0, false}));
}

void TestImpositionLayout::cropCuts_data()
{
    QTest::addColumn<double>("origin");
    QTest::addColumn<double>("cell");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("bleed");
    QTest::addColumn<QList<double>>("cuts");

    QTest::newRow("no bleed: cell edges") << 10.0 << 90.0 << 3 << 0.0
                                          << QList<double>{10, 100, 190, 280};
    QTest::newRow("negative bleed: cell edges") << 10.0 << 90.0 << 2 << -2.0
                                                << QList<double>{10, 100, 190};
    QTest::newRow("2 mm on 90 mm: inside every edge")
        << 10.0 << 90.0 << 3 << 2.0 << QList<double>{12, 98, 102, 188, 192, 278};
    QTest::newRow("bleed of half the cell: cell edges") << 0.0 << 90.0 << 2 << 45.0
                                                        << QList<double>{0, 90, 180};
    QTest::newRow("bleed over half the cell: cell edges") << 0.0 << 54.0 << 1 << 30.0
                                                          << QList<double>{0, 54};
    QTest::newRow("just under half the cell") << 0.0 << 54.0 << 1 << 26.5
                                              << QList<double>{26.5, 27.5};
    QTest::newRow("no cells") << 0.0 << 90.0 << 0 << 2.0 << QList<double>{};
}

void TestImpositionLayout::cropCuts()
{
    QFETCH(double, origin);
    QFETCH(double, cell);
    QFETCH(int, count);
    QFETCH(double, bleed);
    QTEST(cropCutPositions(origin, cell, count, bleed), "cuts");
}

QTEST_APPLESS_MAIN(TestImpositionLayout)
#include "tst_impositionlayout.moc"
