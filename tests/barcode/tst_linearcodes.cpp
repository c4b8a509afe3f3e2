#include "barcode/code128.h"
#include "barcode/linearcodes.h"

#include <QTest>

class TestLinearCodes : public QObject
{
    Q_OBJECT

private slots:
    void normalizeRetailDigits_data();
    void normalizeRetailDigits();
    void encodeRetail_data();
    void encodeRetail();
    void retailGuardsAndWidths_data();
    void retailGuardsAndWidths();
    void upcaIsEan13WithLeadingZero();
    void ean8ModulesByHand();

    void encodeCode39_data();
    void encodeCode39();
    void code39CharactersAndGaps_data();
    void code39CharactersAndGaps();
    void code39Refuses_data();
    void code39Refuses();

    void barcodeModulesChoosesByFormat_data();
    void barcodeModulesChoosesByFormat();
};

// Check digits: weight 3 for the rightmost data digit, then 1, 3, …;
// check = (10 − sum mod 10) mod 10 (GS1 General Specifications, ISO/IEC 15420).
void TestLinearCodes::normalizeRetailDigits_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<int>("digits");
    QTest::addColumn<QString>("expected");

    // 3×3 + 9 + 3×3 + 3 + 3×3 + 1 + 3×8 + 3 + 3×6 + 0 + 3×0 + 4 = 89 → 1
    QTest::newRow("EAN-13 check appended") << "400638133393" << 12 << "4006381333931";
    QTest::newRow("EAN-13 correct check kept") << "4006381333931" << 12 << "4006381333931";
    QTest::newRow("EAN-13 wrong check refused") << "4006381333932" << 12 << "";
    QTest::newRow("EAN-13 eleven digits") << "40063813339" << 12 << "";
    QTest::newRow("EAN-13 fourteen digits") << "40063813339310" << 12 << "";
    // UPC-A 03600029145: 3×5 + 4 + 3×1 + 9 + 3×2 + 0 + 3×0 + 0 + 3×6 + 3 + 3×0 = 58 → 2
    QTest::newRow("UPC-A check 2") << "03600029145" << 11 << "036000291452";
    QTest::newRow("UPC-A correct check kept") << "036000291452" << 11 << "036000291452";
    QTest::newRow("UPC-A wrong check refused") << "036000291453" << 11 << "";
    // EAN-8 9638507: 3×7 + 0 + 3×5 + 8 + 3×3 + 6 + 3×9 = 86 → 4
    QTest::newRow("EAN-8 check appended") << "9638507" << 7 << "96385074";
    QTest::newRow("EAN-8 surrounding blanks trimmed") << " \t9638507 \n" << 7 << "96385074";
    QTest::newRow("EAN-8 nine digits") << "963850741" << 7 << "";
    QTest::newRow("EAN-8 six digits") << "963850" << 7 << "";
    QTest::newRow("EAN-8 letter O for zero") << "96385O7" << 7 << "";
    QTest::newRow("EAN-8 inner blank") << "963 8507" << 7 << "";
    QTest::newRow("EAN-8 sign in the eighth place") << "+9638507" << 7 << "";
    QTest::newRow("full-width digits") << QStringLiteral("\uff19\uff16\uff13\uff18\uff15\uff10\uff17") << 7 << "";
    QTest::newRow("empty") << "" << 7 << "";
    // Sum 0: (10 − 0) mod 10 = 0, not 10.
    QTest::newRow("all zeros: check 0") << "0000000" << 7 << "00000000";
    QTest::newRow("no digit count") << "1" << 0 << "";
}

void TestLinearCodes::normalizeRetailDigits()
{
    QFETCH(QString, data);
    QFETCH(int, digits);
    QFETCH(QString, expected);
    QCOMPARE(::normalizeRetailDigits(data, digits), expected);
}

void TestLinearCodes::encodeRetail_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");

    QTest::newRow("EAN-13 of 12 digits") << "ean13" << "400638133393" << "4006381333931" << "";
    QTest::newRow("EAN-13 of 13 digits, blanks trimmed") << "ean13" << " 4006381333931 " << "4006381333931" << "";
    QTest::newRow("EAN-13 wrong check digit")
        << "ean13" << "4006381333932" << ""
        << "EAN-13 check digit 2 is wrong; the digits before it give 1";
    QTest::newRow("EAN-13 too short")
        << "ean13" << "40063813339" << "" << "EAN-13 needs 12 digits, or 13 with a correct check digit";
    QTest::newRow("EAN-13 letter")
        << "ean13" << "40063813339X" << "" << "EAN-13 needs 12 digits, or 13 with a correct check digit";
    QTest::newRow("UPC-A of 11 digits") << "upca" << "03600029145" << "036000291452" << "";
    QTest::newRow("UPC-A wrong check digit")
        << "upca" << "036000291453" << ""
        << "UPC-A check digit 3 is wrong; the digits before it give 2";
    QTest::newRow("UPC-A of 13 digits")
        << "upca" << "0036000291452" << "" << "UPC-A needs 11 digits, or 12 with a correct check digit";
    QTest::newRow("EAN-8 of 7 digits") << "ean8" << " 9638507 " << "96385074" << "";
    QTest::newRow("EAN-8 of 9 digits")
        << "ean8" << "963850741" << "" << "EAN-8 needs 7 digits, or 8 with a correct check digit";
    QTest::newRow("EAN-8 letter")
        << "ean8" << "96385O7" << "" << "EAN-8 needs 7 digits, or 8 with a correct check digit";
    QTest::newRow("EAN-8 empty")
        << "ean8" << "" << "" << "EAN-8 needs 7 digits, or 8 with a correct check digit";
    // Format keys are compared exactly, in lower case.
    QTest::newRow("format in capitals")
        << "EAN13" << "400638133393" << "" << "Unknown retail barcode format EAN13";
}

void TestLinearCodes::encodeRetail()
{
    QFETCH(QString, format);
    QFETCH(QString, data);
    QFETCH(QString, text);
    QFETCH(QString, error);

    const ModuleEncoding e = ::encodeRetail(format, data);
    QCOMPARE(e.text, text);
    QCOMPARE(e.error, error);
    QCOMPARE(e.ok(), error.isEmpty());
    QCOMPARE(e.modules.isEmpty(), !error.isEmpty());
    QCOMPARE(e.quietZone, 0);
}

// The layout every EAN/UPC symbol shares (ISO/IEC 15420): guards 101, 01010
// and 101 at fixed places, 7-module digits between them, each left-hand digit
// starting with a space and ending with a bar, each right-hand digit the reverse.
void TestLinearCodes::retailGuardsAndWidths_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("data");
    QTest::addColumn<int>("digitsPerHalf");

    QTest::newRow("EAN-13") << "ean13" << "978030640615" << 6;
    QTest::newRow("EAN-13 first digit 0") << "ean13" << "012345678901" << 6;
    QTest::newRow("UPC-A") << "upca" << "03600029145" << 6;
    QTest::newRow("EAN-8") << "ean8" << "5512345" << 4;
}

void TestLinearCodes::retailGuardsAndWidths()
{
    QFETCH(QString, format);
    QFETCH(QString, data);
    QFETCH(int, digitsPerHalf);

    const QString m = ::encodeRetail(format, data).modules;
    const int half = 7 * digitsPerHalf;
    QCOMPARE(m.size(), 3 + half + 5 + half + 3);
    QCOMPARE(m.first(3), QStringLiteral("101"));
    QCOMPARE(m.mid(3 + half, 5), QStringLiteral("01010"));
    QCOMPARE(m.last(3), QStringLiteral("101"));
    for (int i = 0; i < digitsPerHalf; ++i) {
        const QString left = m.mid(3 + 7 * i, 7);
        const QString right = m.mid(3 + half + 5 + 7 * i, 7);
        QVERIFY2(left.startsWith(QLatin1Char('0')) && left.endsWith(QLatin1Char('1')), qPrintable(left));
        QVERIFY2(right.startsWith(QLatin1Char('1')) && right.endsWith(QLatin1Char('0')), qPrintable(right));
    }
}

// The worked example: UPC-A 03600029145 is the EAN-13 symbol of 0036000291452.
void TestLinearCodes::upcaIsEan13WithLeadingZero()
{
    const ModuleEncoding upca = ::encodeRetail(QStringLiteral("upca"), QStringLiteral("03600029145"));
    const ModuleEncoding ean13 = ::encodeRetail(QStringLiteral("ean13"), QStringLiteral("0036000291452"));
    QVERIFY2(upca.ok(), qPrintable(upca.error));
    QCOMPARE(upca.text, QStringLiteral("036000291452"));
    QCOMPARE(ean13.text, QStringLiteral("0036000291452"));
    QCOMPARE(upca.modules, ean13.modules);
    QCOMPARE(upca.modules.size(), 95);
}

// One symbol written out by hand from the ISO/IEC 15420 digit codes; zint
// checks the rest (tst_barcodezint).
void TestLinearCodes::ean8ModulesByHand()
{
    const QString expected = QStringLiteral(
        "101"
        "0001011" "0101111" "0111101" "0110111" // L 9, 6, 3, 8
        "01010"
        "1001110" "1110010" "1000100" "1011100" // R 5, 0, 7, 4
        "101");
    QCOMPARE(::encodeRetail(QStringLiteral("ean8"), QStringLiteral("9638507")).modules, expected);
}

// Each row: data, human-readable text and the module count 16 × (k + 2) − 1 for
// k characters (start/stop character, data, start/stop character; 15 modules
// each, narrow gaps between them).
void TestLinearCodes::encodeCode39_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");

    QTest::newRow("one character: 3 × 16 − 1") << "A" << "A" << 47;
    QTest::newRow("ABC") << "ABC" << "ABC" << 79;
    QTest::newRow("lower case upper-cased") << "abc" << "ABC" << 79;
    QTest::newRow("mixed case") << "Order-42" << "ORDER-42" << 159;
    QTest::newRow("blanks kept as spaces") << " A " << " A " << 79;
    QTest::newRow("blank only") << "   " << "   " << 79;
    QTest::newRow("empty is one space") << "" << " " << 47;
    QTest::newRow("every symbol character") << "-. $/+%" << "-. $/+%" << 143;
    QTest::newRow("all digits and letters")
        << "0123456789abcdefghijklmnopqrstuvwxyz" << "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ" << 16 * 38 - 1;
}

void TestLinearCodes::encodeCode39()
{
    QFETCH(QString, data);
    QFETCH(QString, text);
    QFETCH(int, width);

    const ModuleEncoding e = ::encodeCode39(data);
    QVERIFY2(e.ok(), qPrintable(e.error));
    QCOMPARE(e.text, text);
    QCOMPARE(e.modules.size(), width);
    QCOMPARE(e.quietZone, 0);
    QVERIFY(e.error.isEmpty());
    // Upper-casing happens before encoding: the symbol is that of the text.
    QCOMPARE(e.modules, ::encodeCode39(text).modules);
}

// Symbols written out by hand from the ISO/IEC 16388 table at 3 : 1: '*' is
// n w n n w n w n n (bar first) = 1 000 1 0 111 0 111 0 1, space is
// n w w n n n w n n = 1 000 111 0 1 0 111 0 1; one narrow space between characters.
void TestLinearCodes::code39CharactersAndGaps_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("modules");

    const QString star = QStringLiteral("100010111011101");
    const QString space = QStringLiteral("100011101011101");
    // 'A' is w n n n n w n n w = 111 0 1 0 1 000 1 0 111.
    const QString a = QStringLiteral("111010100010111");
    QTest::newRow("empty") << "" << star + '0' + space + '0' + star;
    QTest::newRow("one space") << " " << star + '0' + space + '0' + star;
    QTest::newRow("a, space") << "a " << star + '0' + a + '0' + space + '0' + star;
}

void TestLinearCodes::code39CharactersAndGaps()
{
    QFETCH(QString, data);
    QFETCH(QString, modules);
    QCOMPARE(::encodeCode39(data).modules, modules);
}

void TestLinearCodes::code39Refuses_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("error");

    QTest::newRow("asterisk") << "A*B" << "Code 39 cannot encode the character *";
    QTest::newRow("asterisks around the data") << "*ABC*" << "Code 39 cannot encode the character *";
    QTest::newRow("underscore") << "A_B" << "Code 39 cannot encode the character _";
    QTest::newRow("comma") << "1,5" << "Code 39 cannot encode the character ,";
    // Only a … z are upper-cased; ß would otherwise become SS and change the data.
    QTest::newRow("sharp s") << QStringLiteral("stra\u00dfe") << QStringLiteral("Code 39 cannot encode the character \u00df");
    QTest::newRow("dotless i") << QStringLiteral("\u0131") << QStringLiteral("Code 39 cannot encode the character \u0131");
    QTest::newRow("tab") << "A\tB" << "Code 39 cannot encode the character U+0009";
    QTest::newRow("emoji") << QStringLiteral("\U0001F600") << QStringLiteral("Code 39 cannot encode the character \U0001F600");
}

void TestLinearCodes::code39Refuses()
{
    QFETCH(QString, data);
    QFETCH(QString, error);

    const ModuleEncoding e = ::encodeCode39(data);
    QVERIFY(!e.ok());
    QVERIFY(e.modules.isEmpty());
    QVERIFY(e.text.isEmpty());
    QCOMPARE(e.error, error);
}

// The dispatch gives each format's own encoder result; unknown and differently
// cased formats are Code 128, whose quiet zones it names.
void TestLinearCodes::barcodeModulesChoosesByFormat_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("symbology");

    QTest::newRow("code39") << "code39" << "abc" << "code39";
    QTest::newRow("code39 keeps blanks") << "code39" << " a " << "code39";
    QTest::newRow("ean13") << "ean13" << "400638133393" << "retail";
    QTest::newRow("ean8") << "ean8" << "9638507" << "retail";
    QTest::newRow("upca") << "upca" << "03600029145" << "retail";
    QTest::newRow("ean13 refused") << "ean13" << "4006381333932" << "retail";
    QTest::newRow("code128") << "code128" << " 123456 " << "code128";
    QTest::newRow("code128 refused") << "code128" << QStringLiteral("\u00e9") << "code128";
    QTest::newRow("empty format") << "" << "abc" << "code128";
    QTest::newRow("unknown format") << "qr" << "abc" << "code128";
    QTest::newRow("capitals are not code39") << "CODE39" << "abc" << "code128";
    QTest::newRow("capitals are not ean13") << "EAN13" << "400638133393" << "code128";
}

void TestLinearCodes::barcodeModulesChoosesByFormat()
{
    QFETCH(QString, format);
    QFETCH(QString, data);
    QFETCH(QString, symbology);

    const ModuleEncoding e = barcodeModules(format, data);
    ModuleEncoding expected;
    if (symbology == QLatin1String("code39")) {
        expected = ::encodeCode39(data);
    } else if (symbology == QLatin1String("retail")) {
        expected = ::encodeRetail(format, data);
    } else {
        const Code128Encoding c = encodeCode128(data);
        expected.modules = code128Modules(c.values);
        expected.text = c.text;
        expected.error = c.error;
        expected.quietZone = c.ok ? 10 : 0;
    }
    QCOMPARE(e.modules, expected.modules);
    QCOMPARE(e.text, expected.text);
    QCOMPARE(e.error, expected.error);
    QCOMPARE(e.quietZone, expected.quietZone);
}

QTEST_APPLESS_MAIN(TestLinearCodes)
#include "tst_linearcodes.moc"
