// The check an export runs on its prepared job before writing: cards that
// would print "{{key}}" markers, the placeholder prize or a code of nothing,
// cards the sheet edge cuts off, objects off the card, and printed sides with
// nothing on them.

#include "model/fieldvalues.h"
#include "render/exportpreflight.h"
#include "support/cardrecords.h"

#include <QImage>
#include <QJsonObject>
#include <QTest>

#include <functional>
#include <set>

namespace {

using Change = std::function<void(PdfExportJob &)>;

TemplateField field(const QString &side, const QString &type, const QString &column)
{
    TemplateField field;
    field.side = cardSideFromKey(side);
    field.type = fieldKindFromKey(type).value();
    field.dataColumn = column;
    return field;
}

TemplateField boundText(const QString &column, const QString &side = QStringLiteral("front"))
{
    return field(side, QStringLiteral("text"), column);
}

// `count` cards, each with a "Name" and a "City", 4 × 4 cards of 90 × 54 mm on
// a 420 × 297 mm sheet (it fits), a front text field bound to "Name".
PdfExportJob job(int count = 16)
{
    PdfExportJob job;
    job.layout = ImpositionLayout{count, 4, 4};
    job.cardSizeMm = QSizeF(90, 54);
    job.sheetSizeMm = QSizeF(420, 297);
    QList<QJsonObject> records;
    for (int i = 0; i < count; ++i)
        records.append(QJsonObject{{QStringLiteral("Name"), QStringLiteral("Member %1").arg(i + 1)},
                                   {QStringLiteral("City"), QStringLiteral("Oslo")}});
    job.records = CardTable::fromObjects(records);
    job.fields = {boundText(QStringLiteral("Name"))};
    return job;
}

void setGrid(PdfExportJob &job, int rows, int columns, QSizeF card, QSizeF sheet)
{
    job.layout.rows = rows;
    job.layout.columns = columns;
    job.cardSizeMm = card;
    job.sheetSizeMm = sheet;
}

const QSizeF a4(210, 297);

QString kindName(PreflightProblem::Kind kind)
{
    switch (kind) {
    case PreflightProblem::Kind::MissingData:
        return QStringLiteral("MissingData");
    case PreflightProblem::Kind::NoPrize:
        return QStringLiteral("NoPrize");
    case PreflightProblem::Kind::BlankCode:
        return QStringLiteral("BlankCode");
    case PreflightProblem::Kind::CutOff:
        return QStringLiteral("CutOff");
    case PreflightProblem::Kind::OutsideCard:
        return QStringLiteral("OutsideCard");
    case PreflightProblem::Kind::EmptySide:
        return QStringLiteral("EmptySide");
    }
    return QStringLiteral("?");
}

QString numbers(const QList<int> &values)
{
    QStringList texts;
    for (int value : values)
        texts << QString::number(value);
    return texts.join(u',');
}

// "KIND COUNT [FIRST CARDS] MESSAGE", so one comparison shows every part.
QString describe(const PreflightProblem &problem)
{
    return QStringLiteral("%1 %2 [%3] %4")
        .arg(kindName(problem.kind))
        .arg(problem.cardCount)
        .arg(numbers(problem.firstCards), problem.message);
}

QString expected(const QString &kind, int count, const QList<int> &first, const QString &message)
{
    return QStringLiteral("%1 %2 [%3] %4").arg(kind).arg(count).arg(numbers(first), message);
}

QList<int> range(int from, int to)
{
    QList<int> values;
    for (int i = from; i < to; ++i)
        values << i;
    return values;
}

const QString missingText = QStringLiteral(" data fields with no data and would print {{…}} markers: ");
const QString emptyFront =
    QStringLiteral("The front side has no fields, graphics or background: every card prints it blank.");
const QString emptyBack =
    QStringLiteral("The back side has no fields, graphics or background: every card prints it blank.");

} // namespace

class TestExportPreflight : public QObject
{
    Q_OBJECT

private slots:
    void problems_data();
    void problems();
    void cutOffCardsAreThoseInOuterSlots_data();
    void cutOffCardsAreThoseInOuterSlots();
    void gridOverflow_data();
    void gridOverflow();
};

void TestExportPreflight::problems_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<QStringList>("expectedProblems");

    QTest::newRow("a clean job") << Change([](PdfExportJob &) {}) << QStringList();
    QTest::newRow("no cards at all") << Change([](PdfExportJob &j) {
        j = job(0);
        j.fields.clear();
    }) << QStringList();

    // Missing data.
    QTest::newRow("cards past the end of their column's file")
        << Change([](PdfExportJob &j) {
               editRecords(j.records, [](QList<QJsonObject> &records) {
                   for (int i = 3; i < 16; ++i)
                       records[i].remove(QStringLiteral("Name"));
               });
           })
        << QStringList{expected("MissingData", 13, range(3, 13),
                                "13 cards have" + missingText
                                    + "#0004, #0005, #0006, #0007, #0008, #0009, #0010, #0011, #0012, #0013, …")};
    QTest::newRow("one card") << Change([](PdfExportJob &j) {
                                     editRecords(j.records, [](QList<QJsonObject> &r) { r[0].remove(QStringLiteral("Name")); });
                                 })
                              << QStringList{expected("MissingData", 1, {0}, "1 card has" + missingText + "#0001")};
    QTest::newRow("an empty value is data") << Change([](PdfExportJob &j) {
        editRecords(j.records, [](QList<QJsonObject> &records) {
            for (QJsonObject &record : records)
                record.insert(QStringLiteral("Name"), QString());
        });
    }) << QStringList();
    QTest::newRow("each card once, whichever column it lacks")
        << Change([](PdfExportJob &j) {
               j.fields.append(field(QStringLiteral("front"), QStringLiteral("barcode"), QStringLiteral("City")));
               j.fields.append(field(QStringLiteral("front"), QStringLiteral("qrcode"), QStringLiteral("City")));
               editRecords(j.records, [](QList<QJsonObject> &records) {
                   records[2].remove(QStringLiteral("City"));
                   records[5].remove(QStringLiteral("Name"));
                   records[7] = QJsonObject();
               });
           })
        << QStringList{expected("MissingData", 3, {2, 5, 7}, "3 cards have" + missingText + "#0003, #0006, #0008")};
    // Sequence numbers and prizes are made for every card; a column left
    // behind in such a field is never shown.
    QTest::newRow("generated fields are not bound") << Change([](PdfExportJob &j) {
        j.fields.append(field(QStringLiteral("front"), QStringLiteral("sequence"), QStringLiteral("Gone")));
        j.fields.append(field(QStringLiteral("front"), QStringLiteral("scratch"), QStringLiteral("Gone")));
        j.records = prepareCardRecords(j.records, j.fields).records;
    }) << QStringList();
    QTest::newRow("a field with no column shows its name") << Change([](PdfExportJob &j) {
        j.fields = {boundText(QString())};
    }) << QStringList();
    QTest::newRow("a single-sided job prints no back fields") << Change([](PdfExportJob &j) {
        j.fields.append(boundText(QStringLiteral("Gone"), QStringLiteral("back")));
    }) << QStringList();
    QTest::newRow("a duplex job prints them")
        << Change([](PdfExportJob &j) {
               j.duplex = true;
               j.fields.append(boundText(QStringLiteral("Gone"), QStringLiteral("back")));
           })
        << QStringList{expected("MissingData", 16, range(0, 10),
                                "16 cards have" + missingText
                                    + "#0001, #0002, #0003, #0004, #0005, #0006, #0007, #0008, #0009, #0010, …")};
    QTest::newRow("counts are grouped by thousands")
        << Change([](PdfExportJob &j) {
               j = job(2500);
               j.fields = {boundText(QStringLiteral("Gone"))};
           })
        << QStringList{expected("MissingData", 2500, range(0, 10),
                                "2,500 cards have" + missingText
                                    + "#0001, #0002, #0003, #0004, #0005, #0006, #0007, #0008, #0009, #0010, …")};

    // Prizes: a list shorter than the run leaves the last cards with the
    // placeholder, whichever of them the job prints.
    const auto shortPrizeList = [](PdfExportJob &j) {
        TemplateField prize = field(QStringLiteral("front"), QStringLiteral("scratch"), QString());
        prize.id = 5;
        prize.name = QStringLiteral("Prize");
        prize.scratchPrizesJson = QStringLiteral(R"([{"name":"Car","value":1},{"name":"Pen","value":2}])");
        j.fields.append(prize);
        j.records = prepareCardRecords(j.records, j.fields).records;
    };
    const QString noPrizeText = QStringLiteral(" no prize in scratch field \"Prize\" (front, id 5): its prize list "
                                               "holds 3 of 16 cards, the others print \"Scratch Card Prize\": ");
    QTest::newRow("a prize list shorter than the run")
        << Change(shortPrizeList)
        << QStringList{expected("NoPrize", 13, range(3, 13),
                                "13 cards have" + noPrizeText
                                    + "#0004, #0005, #0006, #0007, #0008, #0009, #0010, #0011, #0012, #0013, …")};
    QTest::newRow("a reprint is judged by its cards") << Change([=](PdfExportJob &j) {
        shortPrizeList(j);
        j.onlyRecords = {0, 2, 14};
    }) << QStringList{expected("NoPrize", 1, {14}, "1 card has" + noPrizeText + "#0015")};
    QTest::newRow("a reprint of cards with prizes") << Change([=](PdfExportJob &j) {
        shortPrizeList(j);
        j.onlyRecords = {0, 2};
    }) << QStringList();
    QTest::newRow("a back prize field of a single-sided job") << Change([=](PdfExportJob &j) {
        shortPrizeList(j);
        j.fields.last().side = CardSide::Back;
    }) << QStringList();

    // Codes of nothing print and scan as empty.
    const QString blankCodeText =
        QStringLiteral(" barcode or QR code data that is empty or only spaces and would scan as nothing: ");
    QTest::newRow("empty and blank code data")
        << Change([](PdfExportJob &j) {
               j.fields.append(field(QStringLiteral("front"), QStringLiteral("barcode"), QStringLiteral("City")));
               j.fields.append(field(QStringLiteral("front"), QStringLiteral("qrcode"), QStringLiteral("Name")));
               editRecords(j.records, [](QList<QJsonObject> &records) {
                   records[3].insert(QStringLiteral("City"), QString());
                   records[4].insert(QStringLiteral("City"), QStringLiteral(" \t "));
                   records[6].insert(QStringLiteral("Name"), QStringLiteral(" "));
                   records[8].insert(QStringLiteral("Name"), QStringLiteral(" 0 "));
               });
           })
        << QStringList{expected("BlankCode", 3, {3, 4, 6}, "3 cards have" + blankCodeText + "#0004, #0005, #0007")};
    QTest::newRow("a blank text is no code") << Change([](PdfExportJob &j) {
        editRecords(j.records, [](QList<QJsonObject> &records) { records[3].insert(QStringLiteral("Name"), QString()); });
    }) << QStringList();

    // Objects off the card print on no card.
    QTest::newRow("objects wholly outside the card")
        << Change([](PdfExportJob &j) {
               TemplateField far = boundText(QStringLiteral("Name"));
               far.id = 9;
               far.name = QStringLiteral("Far");
               far.xMm = 500;
               j.fields.append(far);
               GraphicElement above;
               above.id = 4;
               above.type = ElementKind::Rectangle;
               above.yMm = -60;
               above.heightMm = 50;
               GraphicElement straddling = above;
               straddling.id = 6;
               straddling.xMm = 80;
               straddling.yMm = 40;
               straddling.widthMm = 20;
               GraphicElement backLine = above;
               backLine.id = 7;
               backLine.side = CardSide::Back;
               j.graphics = {above, straddling, backLine};
           })
        << QStringList{expected("OutsideCard", 16, range(0, 10),
                                "2 objects lie wholly outside the 90 × 54 mm card and print on no card: "
                                "field \"Far\" (front, id 9), graphic rectangle (front, id 4)")};
    QTest::newRow("an object at the card's edge") << Change([](PdfExportJob &j) {
        TemplateField edge = boundText(QStringLiteral("Name"));
        edge.xMm = 90;
        edge.name = QStringLiteral("Edge");
        j.fields.append(edge);
    }) << QStringList{expected("OutsideCard", 16, range(0, 10),
                               "1 object lies wholly outside the 90 × 54 mm card and prints on no card: "
                               "field \"Edge\" (front, id 0)")};

    // Cut off: the grid is centred on the sheet.
    const QString widerA4 = QStringLiteral("(the grid is 150.00 mm wider than the sheet): ");
    QTest::newRow("4 × 4 cards of 90 × 54 mm on A4 lose their outer columns")
        << Change([](PdfExportJob &j) { setGrid(j, 4, 4, {90, 54}, a4); })
        << QStringList{expected("CutOff", 8, {0, 3, 4, 7, 8, 11, 12, 15},
                                "8 cards are cut off by the sheet edge " + widerA4
                                    + "#0001, #0004, #0005, #0008, #0009, #0012, #0013, #0016")};
    QTest::newRow("duplex: a card is counted once for both sides")
        << Change([](PdfExportJob &j) {
               setGrid(j, 4, 4, {90, 54}, a4);
               j.duplex = true;
               j.fields.append(boundText(QStringLiteral("City"), QStringLiteral("back")));
           })
        << QStringList{expected("CutOff", 8, {0, 3, 4, 7, 8, 11, 12, 15},
                                "8 cards are cut off by the sheet edge " + widerA4
                                    + "#0001, #0004, #0005, #0008, #0009, #0012, #0013, #0016")};
    QTest::newRow("one card") << Change([](PdfExportJob &j) {
        j = job(1);
        setGrid(j, 4, 4, {90, 54}, a4);
    }) << QStringList{expected("CutOff", 1, {0}, "1 card is cut off by the sheet edge " + widerA4 + "#0001")};
    QTest::newRow("rows past the top and bottom")
        << Change([](PdfExportJob &j) {
               j = job(12);
               setGrid(j, 6, 1, {90, 54}, a4);
           })
        << QStringList{expected("CutOff", 4, {0, 5, 6, 11},
                                "4 cards are cut off by the sheet edge (the grid is 27.00 mm taller than the "
                                "sheet): #0001, #0006, #0007, #0012")};
    QTest::newRow("both ways")
        << Change([](PdfExportJob &j) { setGrid(j, 6, 4, {90, 54}, a4); })
        << QStringList{expected("CutOff", 10, {0, 1, 2, 3, 4, 7, 8, 11, 12, 15},
                                "10 cards are cut off by the sheet edge (the grid is 150.00 mm wider and 27.00 mm "
                                "taller than the sheet): #0001, #0002, #0003, #0004, #0005, #0008, #0009, #0012, "
                                "#0013, #0016")};
    QTest::newRow("a grid exactly as wide as the sheet") << Change([](PdfExportJob &j) {
        setGrid(j, 5, 2, {105, 54}, a4);
    }) << QStringList();
    QTest::newRow("a rounding error past the edge") << Change([](PdfExportJob &j) {
        setGrid(j, 4, 3, {70.0002, 54}, a4);
    }) << QStringList();
    QTest::newRow("a hundredth of a millimetre past the edge")
        << Change([](PdfExportJob &j) { setGrid(j, 4, 3, {70.01, 54}, a4); })
        << QStringList{expected("CutOff", 11, {0, 2, 3, 5, 6, 8, 9, 11, 12, 14},
                                "11 cards are cut off by the sheet edge (the grid is 0.03 mm wider than the sheet): "
                                "#0001, #0003, #0004, #0006, #0007, #0009, #0010, #0012, #0013, #0015, …")};

    // Empty sides.
    QTest::newRow("a front with nothing on it") << Change([](PdfExportJob &j) { j.fields.clear(); })
                                                << QStringList{expected("EmptySide", 16, range(0, 10), emptyFront)};
    QTest::newRow("a front with a graphic only") << Change([](PdfExportJob &j) {
        j.fields.clear();
        j.graphics.append(GraphicElement());
    }) << QStringList();
    QTest::newRow("a front with a background only") << Change([](PdfExportJob &j) {
        j.fields.clear();
        j.frontBackground = QImage(4, 4, QImage::Format_RGB32);
    }) << QStringList();
    QTest::newRow("a single-sided job has no back to fill") << Change([](PdfExportJob &) {}) << QStringList();
    QTest::newRow("a duplex job with nothing on the back")
        << Change([](PdfExportJob &j) { j.duplex = true; })
        << QStringList{expected("EmptySide", 16, range(0, 10), emptyBack)};
    QTest::newRow("a back with a background only") << Change([](PdfExportJob &j) {
        j.duplex = true;
        j.backBackground = QImage(4, 4, QImage::Format_RGB32);
    }) << QStringList();
    QTest::newRow("the front background does not fill the back")
        << Change([](PdfExportJob &j) {
               j.duplex = true;
               j.frontBackground = QImage(4, 4, QImage::Format_RGB32);
           })
        << QStringList{expected("EmptySide", 16, range(0, 10), emptyBack)};
    QTest::newRow("graphics of the back do not fill the front")
        << Change([](PdfExportJob &j) {
               j.duplex = true;
               j.fields.clear();
               GraphicElement graphic;
               graphic.side = CardSide::Back;
               j.graphics.append(graphic);
           })
        << QStringList{expected("EmptySide", 16, range(0, 10), emptyFront)};

    // Everything at once comes in the order of the kinds, the front before the back.
    QTest::newRow("a duplex job with nothing on either side")
        << Change([](PdfExportJob &j) {
               j.duplex = true;
               j.fields.clear();
           })
        << QStringList{expected("EmptySide", 16, range(0, 10), emptyFront),
                       expected("EmptySide", 16, range(0, 10), emptyBack)};
    QTest::newRow("every problem")
        << Change([](PdfExportJob &j) {
               j = job(3);
               setGrid(j, 1, 3, {90, 54}, a4);
               j.duplex = true;
               j.fields = {boundText(QStringLiteral("Gone"), QStringLiteral("back"))};
           })
        << QStringList{expected("MissingData", 3, {0, 1, 2}, "3 cards have" + missingText + "#0001, #0002, #0003"),
                       expected("CutOff", 2, {0, 2},
                                "2 cards are cut off by the sheet edge (the grid is 60.00 mm wider than the sheet): "
                                "#0001, #0003"),
                       expected("EmptySide", 3, {0, 1, 2}, emptyFront)};
}

void TestExportPreflight::problems()
{
    QFETCH(Change, change);
    QFETCH(QStringList, expectedProblems);

    PdfExportJob checked = job();
    change(checked);
    const QList<PreflightProblem> problems = preflightExport(checked);
    QStringList described;
    for (const PreflightProblem &problem : problems)
        described << describe(problem);
    QCOMPARE(described, expectedProblems);

    QStringList messages;
    for (const PreflightProblem &problem : problems)
        messages << problem.message;
    QCOMPARE(preflightReport(problems), messages.join(u'\n'));
}

void TestExportPreflight::cutOffCardsAreThoseInOuterSlots_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<bool>("cutStack");
    QTest::addColumn<bool>("duplex");

    for (const bool cutStack : {false, true}) {
        for (const int records : {1, 7, 20, 24, 37, 61}) {
            const char *order = cutStack ? "cut-stack" : "standard";
            QTest::addRow("%s, %d cards, 5 × 4", order, records) << records << 5 << 4 << cutStack << false;
            QTest::addRow("%s, %d cards, 3 × 5, duplex", order, records) << records << 3 << 5 << cutStack << true;
        }
    }
}

// The cards named are exactly those the sheets put into a slot past the
// edge, in either order and on either side, as the layout places them.
void TestExportPreflight::cutOffCardsAreThoseInOuterSlots()
{
    QFETCH(int, records);
    QFETCH(int, rows);
    QFETCH(int, columns);
    QFETCH(bool, cutStack);
    QFETCH(bool, duplex);

    // Cards of 60 × 80 mm: on 200 × 300 mm the outer column of a grid of 4 or
    // 5 and the outer row of a grid of 4 or 5 stick out.
    PdfExportJob checked = job(records);
    setGrid(checked, rows, columns, {60, 80}, {200, 300});
    checked.cutStack = cutStack;
    checked.duplex = duplex;
    checked.fields.append(boundText(QStringLiteral("City"), QStringLiteral("back")));

    const auto cut = [](int index, int count, double cell, double length) {
        const double from = (length - count * cell) / 2 + index * cell;
        return from < 0 || from + cell > length;
    };
    std::set<int> expectedCards;
    const ImpositionLayout &layout = checked.layout;
    for (int sheet = 0; sheet < layout.sheetCount(); ++sheet) {
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                if (!cut(row, rows, 80, 300) && !cut(column, columns, 60, 200))
                    continue;
                for (const bool back : {false, true}) {
                    const int record = layout.recordAt(sheet, row, column, cutStack, back);
                    if (record >= 0 && (!back || duplex))
                        expectedCards.insert(record);
                }
            }
        }
    }
    QVERIFY(!expectedCards.empty());
    const QList<int> all(expectedCards.begin(), expectedCards.end());

    const QList<PreflightProblem> problems = preflightExport(checked);
    QCOMPARE(problems.size(), 1);
    QCOMPARE(problems.first().kind, PreflightProblem::Kind::CutOff);
    QCOMPARE(problems.first().cardCount, int(all.size()));
    QCOMPARE(problems.first().firstCards, all.mid(0, preflightCardsListed));
}

void TestExportPreflight::gridOverflow_data()
{
    QTest::addColumn<QSizeF>("card");
    QTest::addColumn<QSizeF>("sheet");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QSizeF>("expected");

    QTest::newRow("fits") << QSizeF(90, 54) << a4 << 5 << 2 << QSizeF(0, 0);
    QTest::newRow("exactly as large") << QSizeF(105, 59.4) << a4 << 5 << 2 << QSizeF(0, 0);
    QTest::newRow("too wide") << QSizeF(90, 54) << a4 << 4 << 4 << QSizeF(150, 0);
    QTest::newRow("too tall") << QSizeF(90, 54) << a4 << 6 << 2 << QSizeF(0, 27);
    QTest::newRow("both") << QSizeF(90, 54) << QSizeF(100, 100) << 3 << 2 << QSizeF(80, 62);
    QTest::newRow("no rows or columns") << QSizeF(90, 54) << a4 << 0 << 0 << QSizeF(0, 0);
    QTest::newRow("a sheet size that is not a number")
        << QSizeF(90, 54) << QSizeF(qQNaN(), qQNaN()) << 1 << 1 << QSizeF(0, 0);
}

void TestExportPreflight::gridOverflow()
{
    QFETCH(QSizeF, card);
    QFETCH(QSizeF, sheet);
    QFETCH(int, rows);
    QFETCH(int, columns);
    QFETCH(QSizeF, expected);
    QCOMPARE(gridOverflowMm(card, sheet, rows, columns), expected);
}

QTEST_GUILESS_MAIN(TestExportPreflight)
#include "tst_exportpreflight.moc"
