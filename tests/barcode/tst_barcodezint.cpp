// Our symbols compared with those of zint, an independent encoder, run as a
// separate process (`zint --dump` prints each row of modules in hexadecimal).

#include "barcode/code128.h"
#include "barcode/linearcodes.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {

// zint symbology numbers (zint --types).
constexpr int kZintCode39 = 8;
constexpr int kZintEan = 13;         // EANX: zint appends the check digit
constexpr int kZintEanCheck = 14;    // EANX_CHK: zint verifies the given check digit
constexpr int kZintUpcaCheck = 35;   // UPCA_CHK
constexpr int kZintCode128 = 20;     // code sets chosen by zint
constexpr int kZintCode128B = 60;    // Code Set C suppressed

struct ZintResult
{
    bool ok = false;
    QString modules; // '1'/'0', no quiet zones
    QString message; // zint's error output, or why its output could not be read
};

// Hex digits to modules. The last hexadecimal digit is padded with spaces
// ('0'); every symbol compared here ends with a bar, so trailing zeros are
// padding, and never more than three.
QString modulesFromDump(const QByteArray &dump, QString *problem)
{
    const QList<QByteArray> rows = dump.trimmed().split('\n');
    if (rows.size() != 1) {
        *problem = QStringLiteral("expected one row, got %1").arg(rows.size());
        return {};
    }
    QString bits;
    for (char c : rows.first()) {
        if (c == ' ')
            continue;
        bool ok = false;
        const int nibble = QByteArray(1, c).toInt(&ok, 16);
        if (!ok) {
            *problem = QStringLiteral("not a hexadecimal dump: %1").arg(QString::fromLatin1(dump));
            return {};
        }
        for (int bit = 3; bit >= 0; --bit)
            bits += (nibble >> bit) & 1 ? QLatin1Char('1') : QLatin1Char('0');
    }
    const qsizetype end = bits.lastIndexOf(QLatin1Char('1')) + 1;
    if (end == 0 || bits.size() - end > 3) {
        *problem = QStringLiteral("unexpected padding in %1").arg(QString::fromLatin1(dump));
        return {};
    }
    return bits.left(end);
}

ZintResult runZint(int symbology, const QString &data)
{
    ZintResult result;
    const QString zint = QStandardPaths::findExecutable(QStringLiteral("zint"));
    QProcess process;
    // --data= keeps data that starts with '-' from being read as an option.
    process.start(zint, {QStringLiteral("--barcode=%1").arg(symbology), QStringLiteral("--dump"),
                         QStringLiteral("--data=") + data});
    if (!process.waitForFinished(30000)) {
        result.message = QStringLiteral("zint did not finish: %1").arg(process.errorString());
        return result;
    }
    const QByteArray out = process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        result.message = QString::fromLocal8Bit(process.readAllStandardError() + out).trimmed();
        return result;
    }
    result.modules = modulesFromDump(out, &result.message);
    result.ok = !result.modules.isEmpty();
    return result;
}

// zint draws Code 39 with wide elements of 2 modules and has no option to
// change the ratio; ours are 3. Bars and spaces alternate, so each run of equal
// modules is one element: runs of 1 stay, runs of 2 become 3. Any other run
// length means the dump is not what we expect and the conversion fails.
QString code39AtRatio3(const QString &ratio2, QString *problem)
{
    QString out;
    qsizetype i = 0;
    while (i < ratio2.size()) {
        qsizetype run = 1;
        while (i + run < ratio2.size() && ratio2.at(i + run) == ratio2.at(i))
            ++run;
        if (run > 2) {
            *problem = QStringLiteral("element of %1 modules at %2").arg(run).arg(i);
            return {};
        }
        out += QString(run == 1 ? 1 : 3, ratio2.at(i));
        i += run;
    }
    return out;
}

QString allDigitPairs(int from, int to)
{
    QString s;
    for (int pair = from; pair <= to; ++pair)
        s += QStringLiteral("%1").arg(pair, 2, 10, QLatin1Char('0'));
    return s;
}

QString printableAscii(char from, char to)
{
    QString s;
    for (char c = from; c <= to; ++c)
        s += QLatin1Char(c);
    return s;
}

} // namespace

class TestBarcodeZint : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void retail_data();
    void retail();
    void code39_data();
    void code39();
    void code128_data();
    void code128();
    void code128StartA();
    void refusedByBoth_data();
    void refusedByBoth();
};

// zint comes with the test packages (scripts/install-deps.sh). Without it the
// comparisons are skipped on a developer machine but fail in CI, where a
// missing checker must not pass unnoticed.
void TestBarcodeZint::initTestCase()
{
    if (!QStandardPaths::findExecutable(QStringLiteral("zint")).isEmpty())
        return;
    if (qEnvironmentVariableIsSet("CI"))
        QFAIL("zint is not installed; scripts/install-deps.sh installs it");
    QSKIP("zint is not installed; scripts/install-deps.sh installs it");
}

// Each row: our format and data, the text we must show, and what zint is given.
// zint's _CHK symbologies refuse a wrong check digit, so our check digit is
// checked by zint as well as our modules.
void TestBarcodeZint::retail_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("zintSymbology");
    QTest::addColumn<QString>("zintData");

    // The worked example: UPC-A 03600029145 gets check digit 2 and is the
    // EAN-13 symbol of 0036000291452.
    QTest::newRow("UPC-A worked example vs UPC-A")
        << "upca" << "03600029145" << "036000291452" << kZintUpcaCheck << "036000291452";
    QTest::newRow("UPC-A worked example vs EAN-13")
        << "upca" << "03600029145" << "036000291452" << kZintEanCheck << "0036000291452";
    QTest::newRow("UPC-A with check digit")
        << "upca" << "036000291452" << "036000291452" << kZintUpcaCheck << "036000291452";
    QTest::newRow("EAN-13 of 12 digits gets its check digit")
        << "ean13" << "400638133393" << "4006381333931" << kZintEan << "400638133393";
    QTest::newRow("EAN-13 with blanks") << "ean13" << " 5901234123457\t" << "5901234123457"
                                        << kZintEanCheck << "5901234123457";
    // One row per first digit: each selects another L/G parity pattern; all
    // digits appear in both halves across the rows.
    const QStringList ean13 = {"0123456789012", "1234567890128", "2345678901234", "3456789012340",
                               "4567890123456", "5678901234562", "6789012345678", "7890123456784",
                               "8901234567890", "9012345678906"};
    for (const QString &digits : ean13) {
        QTest::addRow("EAN-13 first digit %c", digits.at(0).toLatin1())
            << "ean13" << digits.left(12) << digits << kZintEanCheck << digits;
    }
    QTest::newRow("EAN-8 of 7 digits") << "ean8" << "9638507" << "96385074" << kZintEanCheck << "96385074";
    QTest::newRow("EAN-8 digits 0-6") << "ean8" << "0123456" << "01234565" << kZintEanCheck << "01234565";
    QTest::newRow("EAN-8 digits 7-3") << "ean8" << "78901230" << "78901230" << kZintEanCheck << "78901230";
    QTest::newRow("EAN-8 zint computes check") << "ean8" << "5512345" << "55123457" << kZintEan << "5512345";
}

void TestBarcodeZint::retail()
{
    QFETCH(QString, format);
    QFETCH(QString, data);
    QFETCH(QString, text);
    QFETCH(int, zintSymbology);
    QFETCH(QString, zintData);

    const ModuleEncoding ours = encodeRetail(format, data);
    QVERIFY2(ours.ok(), qPrintable(ours.error));
    QCOMPARE(ours.text, text);
    const ZintResult zint = runZint(zintSymbology, zintData);
    QVERIFY2(zint.ok, qPrintable(zint.message));
    QCOMPARE(ours.modules, zint.modules);
}

// Each row: our data, the text we must show, and what zint is given (zint
// upper-cases too, but the upper-cased text is given so that the row does not
// rely on it).
void TestBarcodeZint::code39_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("zintData");

    QTest::newRow("ABC") << "ABC" << "ABC" << "ABC";
    QTest::newRow("abc upper-cased") << "abc" << "ABC" << "ABC";
    QTest::newRow("one character, 47 modules") << "A" << "A" << "A";
    QTest::newRow("empty is a space") << "" << " " << " ";
    QTest::newRow("blanks kept") << "  x 1 " << "  X 1 " << "  X 1 ";
    QTest::newRow("digits") << "0123456789" << "0123456789" << "0123456789";
    QTest::newRow("letters A-M") << "ABCDEFGHIJKLM" << "ABCDEFGHIJKLM" << "ABCDEFGHIJKLM";
    QTest::newRow("letters N-Z") << "nopqrstuvwxyz" << "NOPQRSTUVWXYZ" << "NOPQRSTUVWXYZ";
    QTest::newRow("symbols, leading minus") << "-. $/+%" << "-. $/+%" << "-. $/+%";
}

void TestBarcodeZint::code39()
{
    QFETCH(QString, data);
    QFETCH(QString, text);
    QFETCH(QString, zintData);

    const ModuleEncoding ours = encodeCode39(data);
    QVERIFY2(ours.ok(), qPrintable(ours.error));
    QCOMPARE(ours.text, text);
    QCOMPARE(ours.modules.size(), 16 * (text.size() + 2) - 1);

    const ZintResult zint = runZint(kZintCode39, zintData);
    QVERIFY2(zint.ok, qPrintable(zint.message));
    QString problem;
    const QString converted = code39AtRatio3(zint.modules, &problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(ours.modules, converted);
}

// zint optimises Code 128 by switching code sets where that saves width; ours
// never switches. So each row names the zint symbology under which zint can
// only choose what we choose:
// - Set B texts go to zint's Code 128 (Subset B), which never uses Code Set C
//   and takes Code Set A only for control characters, which these texts lack.
// - Set C texts are digit strings of even length; for them Code Set C alone is
//   zint's shortest symbol, and the test also requires the symbol lengths to
//   agree before the modules are compared.
// zint refuses empty data and symbols over 60 characters, so the empty text is
// left to the hand-computed rows of tst_code128 and the long rows are split.
void TestBarcodeZint::code128_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<int>("zintSymbology");
    QTest::addColumn<QString>("zintData");

    QTest::newRow("six digits: Set C") << "123456" << kZintCode128 << "123456";
    QTest::newRow("00: Set C value 0") << "00" << kZintCode128 << "00";
    QTest::newRow("98: check 100") << "98" << kZintCode128 << "98";
    QTest::newRow("99: check 101") << "99" << kZintCode128 << "99";
    QTest::newRow("0050: check 102") << "0050" << kZintCode128 << "0050";
    // Every Set C value 0 … 99 as data.
    QTest::newRow("pairs 00-49") << allDigitPairs(0, 49) << kZintCode128 << allDigitPairs(0, 49);
    QTest::newRow("pairs 50-99") << allDigitPairs(50, 99) << kZintCode128 << allDigitPairs(50, 99);
    QTest::newRow("blanks around digits") << " 20250101 " << kZintCode128 << "20250101";
    QTest::newRow("five digits: Set B") << "12345" << kZintCode128B << "12345";
    QTest::newRow("0: Set B") << "0" << kZintCode128B << "0";
    QTest::newRow("~: check 95") << "~" << kZintCode128B << "~";
    QTest::newRow("trimmed text") << "  AB12 " << kZintCode128B << "AB12";
    QTest::newRow("Hello World") << "Hello World" << kZintCode128B << "Hello World";
    // Every Set B value 0 … 94 as data (the space, value 0, in Hello World:
    // a leading space would be trimmed).
    QTest::newRow("ASCII !-O") << printableAscii('!', 'O') << kZintCode128B << printableAscii('!', 'O');
    QTest::newRow("ASCII P-~") << printableAscii('P', '~') << kZintCode128B << printableAscii('P', '~');
}

void TestBarcodeZint::code128()
{
    QFETCH(QString, data);
    QFETCH(int, zintSymbology);
    QFETCH(QString, zintData);

    const Code128Encoding ours = encodeCode128(data);
    QVERIFY2(ours.ok, qPrintable(ours.error));
    const QString modules = code128Modules(ours.values);
    const ZintResult zint = runZint(zintSymbology, zintData);
    QVERIFY2(zint.ok, qPrintable(zint.message));
    QVERIFY2(zint.modules.size() == modules.size(),
             "zint chose other code sets than ours for this row; it cannot be compared");
    QCOMPARE(modules, zint.modules);
}

// Our encoder never starts in Code Set A, but the pattern table holds Start A
// (103) for the painter's use of code128Widths. zint starts a text beginning
// with a control character in Code Set A.
void TestBarcodeZint::code128StartA()
{
    const ZintResult zint = runZint(kZintCode128, QStringLiteral("\tA"));
    QVERIFY2(zint.ok, qPrintable(zint.message));
    QCOMPARE(code128Modules({103}), zint.modules.left(11));
}

// Data that both we and zint refuse, as a check on our refusals.
void TestBarcodeZint::refusedByBoth_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("data");
    QTest::addColumn<int>("zintSymbology");

    QTest::newRow("EAN-13 wrong check digit") << "ean13" << "4006381333932" << kZintEanCheck;
    QTest::newRow("EAN-13 letter") << "ean13" << "40063813339X" << kZintEan;
    QTest::newRow("EAN-8 wrong check digit") << "ean8" << "96385075" << kZintEanCheck;
    QTest::newRow("UPC-A wrong check digit") << "upca" << "036000291453" << kZintUpcaCheck;
    QTest::newRow("Code 39 asterisk") << "code39" << "A*B" << kZintCode39;
    QTest::newRow("Code 39 underscore") << "code39" << "A_B" << kZintCode39;
    QTest::newRow("Code 39 comma") << "code39" << "1,5" << kZintCode39;
}

void TestBarcodeZint::refusedByBoth()
{
    QFETCH(QString, format);
    QFETCH(QString, data);
    QFETCH(int, zintSymbology);

    const ModuleEncoding ours = barcodeModules(format, data);
    QVERIFY(!ours.ok());
    QVERIFY(!ours.error.isEmpty());
    const ZintResult zint = runZint(zintSymbology, data);
    QVERIFY2(!zint.ok, qPrintable(QStringLiteral("zint encoded it: %1").arg(zint.modules)));
}

QTEST_APPLESS_MAIN(TestBarcodeZint)
#include "tst_barcodezint.moc"
