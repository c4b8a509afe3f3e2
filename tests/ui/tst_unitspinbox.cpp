#include "ui/unitspinbox.h"

#include <QLocale>
#include <QtTest>

class TestUnitSpinBox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void textFromValue_data();
    void textFromValue();
    void valueFromText_data();
    void valueFromText();
    void precisionFollowsUnit_data();
    void precisionFollowsUnit();
    void switchingUnitKeepsMillimetres();
    void typedTextIsReadInDisplayUnit();
};

void TestUnitSpinBox::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestUnitSpinBox::textFromValue_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<bool>("useInches");
    QTest::addColumn<double>("valueMm");
    QTest::addColumn<QString>("expected");

    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale german(QLocale::German, QLocale::Germany);
    QTest::newRow("mm, two decimals") << us << false << 12.5 << "12.50 mm";
    QTest::newRow("mm, rounds to hundredths") << us << false << 0.004 << "0.00 mm";
    QTest::newRow("one inch") << us << true << 25.4 << "1.000 in";
    QTest::newRow("Letter long side") << us << true << 279.4 << "11.000 in";
    QTest::newRow("Letter short side") << us << true << 215.9 << "8.500 in";
    QTest::newRow("card width in inches") << us << true << 90.0 << "3.543 in";
    QTest::newRow("locale decimal comma, mm") << german << false << 12.5 << "12,50 mm";
    QTest::newRow("locale decimal comma, in") << german << true << 25.4 << "1,000 in";
}

void TestUnitSpinBox::textFromValue()
{
    QFETCH(QLocale, locale);
    QFETCH(bool, useInches);
    QFETCH(double, valueMm);
    QFETCH(QString, expected);

    UnitSpinBox box;
    box.setLocale(locale);
    box.setUseInches(useInches);
    QCOMPARE(box.textFromValue(valueMm), expected);
}

void TestUnitSpinBox::valueFromText_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<bool>("useInches");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expectedMm");

    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale german(QLocale::German, QLocale::Germany);
    QTest::newRow("mm with unit") << us << false << "12.5 mm" << 12.5;
    QTest::newRow("inches with unit") << us << true << "8.5 in" << 215.9;
    QTest::newRow("unit in capitals") << us << true << "8.5 IN" << 215.9;
    QTest::newRow("unit in mixed case") << us << false << "3 Mm" << 3.0;
    QTest::newRow("bare number, spaces") << us << false << "  3.25  " << 3.25;
    QTest::newRow("bare number read as inches") << us << true << "1" << 25.4;
    QTest::newRow("typed unit does not override the flag") << us << false << "2 in" << 2.0;
    QTest::newRow("no number") << us << false << "abc mm" << 0.0;
    QTest::newRow("empty") << us << true << "" << 0.0;
    QTest::newRow("locale decimal comma") << german << false << "12,5 mm" << 12.5;
}

void TestUnitSpinBox::valueFromText()
{
    QFETCH(QLocale, locale);
    QFETCH(bool, useInches);
    QFETCH(QString, text);
    QFETCH(double, expectedMm);

    UnitSpinBox box;
    box.setLocale(locale);
    box.setUseInches(useInches);
    QCOMPARE(box.valueFromText(text), expectedMm);
}

void TestUnitSpinBox::precisionFollowsUnit_data()
{
    QTest::addColumn<bool>("useInches");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("storedMm");

    QTest::newRow("mm") << false << 2 << 12.35;
    QTest::newRow("inches") << true << 3 << 12.346;
}

void TestUnitSpinBox::precisionFollowsUnit()
{
    QFETCH(bool, useInches);
    QFETCH(int, decimals);
    QFETCH(double, storedMm);

    UnitSpinBox box;
    box.setRange(0, 2000);
    box.setUseInches(useInches);
    box.setValue(12.3456);
    QCOMPARE(box.decimals(), decimals);
    QCOMPARE(box.value(), storedMm);
}

void TestUnitSpinBox::switchingUnitKeepsMillimetres()
{
    UnitSpinBox box;
    box.setRange(1, 2000);
    box.setValue(279.4);
    QCOMPARE(box.text(), QStringLiteral("279.40 mm"));

    box.setUseInches(true);
    QCOMPARE(box.text(), QStringLiteral("11.000 in"));
    QCOMPARE(box.value(), 279.4);

    box.setUseInches(false);
    QCOMPARE(box.text(), QStringLiteral("279.40 mm"));
    QCOMPARE(box.value(), 279.4);
}

void TestUnitSpinBox::typedTextIsReadInDisplayUnit()
{
    UnitSpinBox box;
    box.setRange(1, 2000);
    box.setValue(100);
    box.setUseInches(true);

    box.selectAll();
    QTest::keyClicks(&box, QStringLiteral("2"));
    QTest::keyClick(&box, Qt::Key_Return);
    QCOMPARE(box.value(), 50.8);
    QCOMPARE(box.text(), QStringLiteral("2.000 in"));
}

QTEST_MAIN(TestUnitSpinBox)
#include "tst_unitspinbox.moc"
