// Reprints and parts of a job: card lists and sheet ranges as a user types
// them, where each card of a layout stands, and the names of split files.
#include "render/jobselection.h"

#include <QtTest>

class TestJobSelection : public QObject
{
    Q_OBJECT

private slots:
    void cardLists_data();
    void cardLists();
    void sheetRanges_data();
    void sheetRanges();
    void sheetsPerFile_data();
    void sheetsPerFile();
    void placeIsWhereTheOrderPutsTheCard_data();
    void placeIsWhereTheOrderPutsTheCard();
    void sheetsHoldingACutStackReprint();
    void splitPartNames_data();
    void splitPartNames();
};

void TestJobSelection::cardLists_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("cardCount");
    QTest::addColumn<QList<int>>("records"); // from 0
    QTest::addColumn<QString>("error");

    QTest::newRow("numbers and a range") << "17,230-240,1001" << 1001
                                         << QList<int>{16, 229, 230, 231, 232, 233, 234, 235, 236, 237, 238, 239, 1000}
                                         << "";
    QTest::newRow("spaces everywhere") << " 3 , 5 - 6 ,1" << 10 << QList<int>{0, 2, 4, 5} << "";
    QTest::newRow("overlaps and repeats merged") << "4-8,6-9,5,5" << 10 << QList<int>{3, 4, 5, 6, 7, 8} << "";
    QTest::newRow("the last card") << "10" << 10 << QList<int>{9} << "";
    QTest::newRow("one-card range") << "7-7" << 10 << QList<int>{6} << "";

    QTest::newRow("empty") << "  " << 10 << QList<int>{} << "Card list: no cards given";
    QTest::newRow("reversed range") << "240-230" << 1000 << QList<int>{}
                                    << "Card list: \"240-230\" runs backwards; write 230-240";
    QTest::newRow("zero") << "0,3" << 10 << QList<int>{} << "Card list: \"0\": cards are numbered from 1";
    QTest::newRow("range from zero") << "0-3" << 10 << QList<int>{} << "Card list: \"0-3\": cards are numbered from 1";
    QTest::newRow("negative") << "-5" << 10 << QList<int>{}
                              << "Card list: \"-5\" is not a card number or a range like 3-7";
    QTest::newRow("beyond the job") << "3,11" << 10 << QList<int>{}
                                    << "Card list: \"11\" is beyond the job's 10 cards";
    QTest::newRow("a range of billions") << "1-99999999999" << 250000 << QList<int>{}
                                         << "Card list: \"1-99999999999\" is beyond the job's 250,000 cards";
    QTest::newRow("one card job") << "2" << 1 << QList<int>{} << "Card list: \"2\" is beyond the job's 1 card";
    QTest::newRow("non-digits") << "12a,x-3,٣" << 10 << QList<int>{}
                                << "Card list: \"12a\" is not a card number or a range like 3-7; \"x-3\" is not a card "
                                   "number or a range like 3-7; \"٣\" is not a card number or a range like 3-7";
    QTest::newRow("empty entries, each named once") << "1,,2," << 10 << QList<int>{}
                                                    << "Card list: an empty entry between commas";
    QTest::newRow("every bad part named") << "0,5,240-230,99" << 50 << QList<int>{}
                                          << "Card list: \"0\": cards are numbered from 1; \"240-230\" runs backwards; "
                                             "write 230-240; \"99\" is beyond the job's 50 cards";
}

void TestJobSelection::cardLists()
{
    QFETCH(QString, text);
    QFETCH(int, cardCount);
    QFETCH(QList<int>, records);
    QFETCH(QString, error);
    const CardList list = parseCardList(text, cardCount);
    QCOMPARE(list.error, error);
    QCOMPARE(list.records, records);
}

void TestJobSelection::sheetRanges_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("sheetCount");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<QString>("error");

    QTest::newRow("range") << "3-7" << 10 << 2 << 6 << "";
    QTest::newRow("one sheet") << " 5 " << 10 << 4 << 4 << "";
    QTest::newRow("all") << "1-10" << 10 << 0 << 9 << "";
    QTest::newRow("beyond the job") << "8-12" << 10 << -1 << -1 << "Sheet range: \"8-12\" is beyond the job's 10 sheets";
    QTest::newRow("reversed") << "7-3" << 10 << -1 << -1 << "Sheet range: \"7-3\" runs backwards; write 3-7";
    QTest::newRow("zero") << "0-2" << 10 << -1 << -1 << "Sheet range: \"0-2\": sheets are numbered from 1";
    QTest::newRow("two ranges") << "1-2,5" << 10 << -1 << -1 << "Sheet range: give one range, like 3-7";
    QTest::newRow("empty") << "" << 10 << -1 << -1 << "Sheet range: no sheets given";
}

void TestJobSelection::sheetRanges()
{
    QFETCH(QString, text);
    QFETCH(int, sheetCount);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(QString, error);
    const SheetRange range = parseSheetRange(text, sheetCount);
    QCOMPARE(range.error, error);
    QCOMPARE(range.first, first);
    QCOMPARE(range.last, last);
}

void TestJobSelection::sheetsPerFile_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("valid");
    QTest::newRow("four") << "4" << 4 << true;
    QTest::newRow("spaces") << " 12 " << 12 << true;
    QTest::newRow("zero") << "0" << 0 << false;
    QTest::newRow("negative") << "-3" << 0 << false;
    QTest::newRow("not a number") << "ten" << 0 << false;
    QTest::newRow("too large") << "99999999999" << 0 << false;
}

void TestJobSelection::sheetsPerFile()
{
    QFETCH(QString, text);
    QFETCH(int, count);
    QFETCH(bool, valid);
    const SheetsPerFile parsed = parseSheetsPerFile(text);
    QCOMPARE(parsed.count, count);
    QCOMPARE(parsed.error.isEmpty(), valid);
    if (!valid)
        QCOMPARE(parsed.error, QStringLiteral("Sheets per file: \"%1\" is not a whole number from 1").arg(text));
}

void TestJobSelection::placeIsWhereTheOrderPutsTheCard_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::newRow("37 on 2 x 3") << 37 << 2 << 3;
    QTest::newRow("full sheets") << 24 << 2 << 3;
    QTest::newRow("fewer cards than slots") << 4 << 3 << 3;
    QTest::newRow("one slot") << 5 << 1 << 1;
    QTest::newRow("one card") << 1 << 4 << 4;
    QTest::newRow("101 on 4 x 5") << 101 << 4 << 5;
}

// placeOf is the inverse of the orders: every slot the order fills names the
// card whose place is that slot, and every card has exactly one place.
void TestJobSelection::placeIsWhereTheOrderPutsTheCard()
{
    QFETCH(int, records);
    QFETCH(int, rows);
    QFETCH(int, columns);
    const ImpositionLayout layout{records, rows, columns};
    for (const bool cutStack : {false, true}) {
        QList<int> seen(records, 0);
        for (int sheet = 0; sheet < layout.sheetCount(); ++sheet) {
            for (int slot = 0; slot < rows * columns; ++slot) {
                const int card = layout.recordAt(sheet, slot / columns, slot % columns, cutStack, false);
                if (card < 0)
                    continue;
                ++seen[card];
                QCOMPARE(layout.placeOf(card, cutStack), (ImpositionLayout::Place{sheet, slot}));
            }
        }
        QCOMPARE(seen, QList<int>(records, 1));
    }
    QCOMPARE(layout.placeOf(-1, false), ImpositionLayout::Place{});
    QCOMPARE(layout.placeOf(records, true), ImpositionLayout::Place{});
}

// Cards 1, 8, 14 and 37 of 37 on 2 × 3. In cut-stack order the first stack
// holds 7 cards and the others 6, so cards 1, 8 and 14 open the first three
// stacks on sheet 1 and card 37 ends the last stack on sheet 6; in standard
// order they lie on sheets 1, 2, 3 and 7.
void TestJobSelection::sheetsHoldingACutStackReprint()
{
    const ImpositionLayout layout{37, 2, 3};
    QCOMPARE(sheetsHolding(layout, true, {0, 7, 13, 36}), (QList<int>{0, 5}));
    QCOMPARE(sheetsHolding(layout, false, {0, 7, 13, 36}), (QList<int>{0, 1, 2, 6}));
    QCOMPARE(sheetsHolding(layout, false, {}), QList<int>());
}

void TestJobSelection::splitPartNames_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first of three") << "/out/cards.pdf" << 0 << 3 << "/out/cards-001.pdf";
    QTest::newRow("dots in the name") << "/out/run 2.final.pdf" << 1 << 3 << "/out/run 2.final-002.pdf";
    QTest::newRow("no suffix") << "/out/cards" << 2 << 3 << "/out/cards-003";
    QTest::newRow("more than 999 parts") << "/out/cards.pdf" << 41 << 1250 << "/out/cards-0042.pdf";
}

void TestJobSelection::splitPartNames()
{
    QFETCH(QString, path);
    QFETCH(int, index);
    QFETCH(int, count);
    QFETCH(QString, expected);
    QCOMPARE(splitPartPath(path, index, count), expected);
}

QTEST_GUILESS_MAIN(TestJobSelection)
#include "tst_jobselection.moc"
