// The geometry a stored project must have before anything is printed from
// it: the ranges of the project panel, and a card that fits on its sheet.

#include "model/projectgeometry.h"

#include <QTest>

#include <functional>
#include <limits>

namespace {

using Change = std::function<void(Project &)>;

// The starter's card: 90 × 54 mm, five rows of two on A4.
Project starter()
{
    Project project;
    project.cardWidthMm = 90;
    project.cardHeightMm = 54;
    project.paperWidthMm = 210;
    project.paperHeightMm = 297;
    project.rows = 5;
    project.columns = 2;
    project.bleedMm = 2;
    return project;
}

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

} // namespace

class TestProjectGeometry : public QObject
{
    Q_OBJECT

private slots:
    void geometryError_data();
    void geometryError();
    void bleedMaximum_data();
    void bleedMaximum();
};

void TestProjectGeometry::geometryError_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<QString>("expected"); // empty: printable

    const QString none;
    QTest::newRow("the starter") << Change([](Project &) {}) << none;
    QTest::newRow("a default project") << Change([](Project &p) { p = Project(); }) << none;
    QTest::newRow("every length at its smallest")
        << Change([](Project &p) {
               p.cardWidthMm = p.cardHeightMm = p.paperWidthMm = p.paperHeightMm = 1;
               p.rows = p.columns = 1;
               p.bleedMm = 0;
           })
        << none;
    QTest::newRow("every length and count at its largest")
        << Change([](Project &p) {
               p.cardWidthMm = p.cardHeightMm = p.paperWidthMm = p.paperHeightMm = 2000;
               p.rows = p.columns = 100;
           })
        << none;
    QTest::newRow("a card as large as the sheet") << Change([](Project &p) {
        p.cardWidthMm = 210;
        p.cardHeightMm = 297;
    }) << none;
    // A grid larger than the sheet still prints the inner cards: the
    // preflight reports the outer ones, it is no reason to refuse the job.
    QTest::newRow("a grid wider than the sheet") << Change([](Project &p) { p.columns = 4; }) << none;

    QTest::newRow("card width 0") << Change([](Project &p) { p.cardWidthMm = 0; })
                                  << "Finished Width is 0 mm; allowed are 1 to 2000 mm.";
    QTest::newRow("card width -90") << Change([](Project &p) { p.cardWidthMm = -90; })
                                    << "Finished Width is -90 mm; allowed are 1 to 2000 mm.";
    QTest::newRow("card width just below 1") << Change([](Project &p) { p.cardWidthMm = 0.999; })
                                             << "Finished Width is 0.999 mm; allowed are 1 to 2000 mm.";
    QTest::newRow("card width not a number") << Change([](Project &p) { p.cardWidthMm = notANumber; })
                                             << "Finished Width is not a number; allowed are 1 to 2000 mm.";
    QTest::newRow("card width infinite") << Change([](Project &p) { p.cardWidthMm = infinity; })
                                         << "Finished Width is infinite; allowed are 1 to 2000 mm.";
    QTest::newRow("card width 1e9") << Change([](Project &p) { p.cardWidthMm = 1e9; })
                                    << "Finished Width is 1000000000 mm; allowed are 1 to 2000 mm.";
    QTest::newRow("card height just above 2000") << Change([](Project &p) { p.cardHeightMm = 2000.0001; })
                                                 << "Finished Height is 2000.0001 mm; allowed are 1 to 2000 mm.";
    QTest::newRow("card height minus infinity") << Change([](Project &p) { p.cardHeightMm = -infinity; })
                                                << "Finished Height is minus infinity; allowed are 1 to 2000 mm.";
    QTest::newRow("paper 1e7 wide") << Change([](Project &p) { p.paperWidthMm = 1e7; })
                                    << "Sheet Width is 10000000 mm; allowed are 1 to 2000 mm.";
    QTest::newRow("paper height not a number") << Change([](Project &p) { p.paperHeightMm = notANumber; })
                                               << "Sheet Height is not a number; allowed are 1 to 2000 mm.";
    QTest::newRow("rows 100000") << Change([](Project &p) { p.rows = 100000; })
                                 << "Rows is 100000; allowed are 1 to 100.";
    QTest::newRow("rows 0") << Change([](Project &p) { p.rows = 0; }) << "Rows is 0; allowed are 1 to 100.";
    QTest::newRow("columns 101") << Change([](Project &p) { p.columns = 101; })
                                 << "Columns is 101; allowed are 1 to 100.";
    QTest::newRow("columns negative") << Change([](Project &p) { p.columns = -3; })
                                      << "Columns is -3; allowed are 1 to 100.";
    QTest::newRow("bleed negative") << Change([](Project &p) { p.bleedMm = -1; })
                                    << "Bleed is -1 mm; allowed are 0 to 26.99 mm for a 90 × 54 mm card.";
    QTest::newRow("bleed past half the card") << Change([](Project &p) { p.bleedMm = 27; })
                                              << "Bleed is 27 mm; allowed are 0 to 26.99 mm for a 90 × 54 mm card.";
    QTest::newRow("bleed at its largest") << Change([](Project &p) { p.bleedMm = bleedMaximumMm(90, 54); }) << none;
    QTest::newRow("bleed not a number") << Change([](Project &p) { p.bleedMm = notANumber; })
                                        << "Bleed is not a number; allowed are 0 to 26.99 mm for a 90 × 54 mm card.";
    QTest::newRow("paper smaller than the card") << Change([](Project &p) { p.paperWidthMm = p.paperHeightMm = 50; })
                                                 << "The card (90 × 54 mm) is larger than the sheet (50 × 50 mm).";
    QTest::newRow("card wider than the sheet only") << Change([](Project &p) { p.paperWidthMm = 89.5; })
                                                    << "The card (90 × 54 mm) is larger than the sheet (89.5 × 297 mm).";
    QTest::newRow("card taller than the sheet only") << Change([](Project &p) { p.paperHeightMm = 53; })
                                                     << "The card (90 × 54 mm) is larger than the sheet (210 × 53 mm).";
    // A card on its side would fit, but cards are never turned.
    QTest::newRow("card fits only turned") << Change([](Project &p) {
        p.paperWidthMm = 60;
        p.paperHeightMm = 100;
    }) << "The card (90 × 54 mm) is larger than the sheet (60 × 100 mm).";
    // The settings are checked in the panel's order and the first one named.
    QTest::newRow("several at once, the first named") << Change([](Project &p) {
        p.rows = 0;
        p.paperHeightMm = 0;
        p.cardHeightMm = notANumber;
    }) << "Finished Height is not a number; allowed are 1 to 2000 mm.";
}

void TestProjectGeometry::geometryError()
{
    QFETCH(Change, change);
    QFETCH(QString, expected);

    Project project = starter();
    change(project);
    QCOMPARE(projectGeometryError(project).value_or(QString()), expected);
}

void TestProjectGeometry::bleedMaximum_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<double>("expected");

    QTest::newRow("90 × 54: half the height") << 90.0 << 54.0 << 26.99;
    QTest::newRow("the smaller side wins") << 20.0 << 300.0 << 9.99;
    QTest::newRow("1 × 1") << 1.0 << 1.0 << 0.49;
    QTest::newRow("too small for any bleed") << 0.02 << 5.0 << 0.0;
    QTest::newRow("a negative side") << -10.0 << 5.0 << 0.0;
    QTest::newRow("not a number") << notANumber << 5.0 << 0.0;
}

void TestProjectGeometry::bleedMaximum()
{
    QFETCH(double, width);
    QFETCH(double, height);
    QFETCH(double, expected);
    QCOMPARE(bleedMaximumMm(width, height), expected);
}

QTEST_GUILESS_MAIN(TestProjectGeometry)
#include "tst_projectgeometry.moc"
