#include "barcode/code128.h"

#include <QSet>
#include <QTest>

class TestCode128 : public QObject
{
    Q_OBJECT

private slots:
    void encode_data();
    void encode();
    void refusesNonPrintableAscii_data();
    void refusesNonPrintableAscii();
    void patternTableIsWellFormed();
    void modulesFollowTheWidths_data();
    void modulesFollowTheWidths();
};

// Each row: data text, expected values (start, data, check, stop) and text. The
// check values are computed by hand in the comments, as (start + Σ position ×
// value) mod 103 with positions 1, 2, 3, … (ISO/IEC 15417).
void TestCode128::encode_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QString>("text");

    // 105 + 1×12 + 2×34 + 3×56 = 353; 353 mod 103 = 44
    QTest::newRow("six digits: Set C") << "123456" << QList<int>{105, 12, 34, 56, 44, 106} << "123456";
    // Odd digit count, so Set B, values 17 … 21:
    // 104 + 1×17 + 2×18 + 3×19 + 4×20 + 5×21 = 399; 399 mod 103 = 90
    QTest::newRow("five digits: Set B") << "12345" << QList<int>{104, 17, 18, 19, 20, 21, 90, 106} << "12345";
    // Start B alone: 104 mod 103 = 1
    QTest::newRow("empty") << "" << QList<int>{104, 1, 106} << "";
    QTest::newRow("all blank") << "   " << QList<int>{104, 1, 106} << "";
    QTest::newRow("tab, newline and space are blanks") << "\t \n\r" << QList<int>{104, 1, 106} << "";
    // 104 + 1×16 = 120; 120 mod 103 = 17
    QTest::newRow("one zero: Set B") << "0" << QList<int>{104, 16, 17, 106} << "0";
    // 105 + 1×0 = 105; 105 mod 103 = 2
    QTest::newRow("two zeros: Set C value 0") << "00" << QList<int>{105, 0, 2, 106} << "00";
    // Trimmed to AB12 = 33, 34, 17, 18: 104 + 33 + 2×34 + 3×17 + 4×18 = 328; 328 mod 103 = 19
    QTest::newRow("surrounding blanks trimmed") << "  AB12 " << QList<int>{104, 33, 34, 17, 18, 19, 106} << "AB12";
    // Trimmed to 1234: 105 + 12 + 2×34 = 185; 185 mod 103 = 82
    QTest::newRow("digits after trimming: Set C") << "\t1234 " << QList<int>{105, 12, 34, 82, 106} << "1234";
    // Inner blank kept: 33, 0, 34: 104 + 33 + 2×0 + 3×34 = 239; 239 mod 103 = 33
    QTest::newRow("inner space kept") << "A B" << QList<int>{104, 33, 0, 34, 33, 106} << "A B";
    // Digits and a letter: Set B, 17, 65: 104 + 17 + 2×65 = 251; 251 mod 103 = 45
    QTest::newRow("digit and letter: Set B") << "1a" << QList<int>{104, 17, 65, 45, 106} << "1a";
    // Highest character: 126 − 32 = 94; 104 + 94 = 198; 198 mod 103 = 95
    QTest::newRow("tilde") << "~" << QList<int>{104, 94, 95, 106} << "~";
    // Check values 100 … 102 that no data value reaches:
    // 105 + 98 = 203 → 100; 105 + 99 = 204 → 101; 105 + 0 + 2×50 = 205 → 102
    QTest::newRow("check 100") << "98" << QList<int>{105, 98, 100, 106} << "98";
    QTest::newRow("check 101") << "99" << QList<int>{105, 99, 101, 106} << "99";
    QTest::newRow("check 102") << "0050" << QList<int>{105, 0, 50, 102, 106} << "0050";
    // Ten z = 90: 104 + 90 × (1 + … + 10) = 104 + 4950 = 5054; 5054 − 49×103 = 7
    QTest::newRow("weights grow with position") << "zzzzzzzzzz"
        << QList<int>{104, 90, 90, 90, 90, 90, 90, 90, 90, 90, 90, 7, 106} << "zzzzzzzzzz";
}

void TestCode128::encode()
{
    QFETCH(QString, data);
    QFETCH(QList<int>, values);
    QFETCH(QString, text);

    const Code128Encoding e = encodeCode128(data);
    QVERIFY2(e.ok, qPrintable(e.error));
    QCOMPARE(e.values, values);
    QCOMPARE(e.text, text);
    QVERIFY(e.error.isEmpty());
}

void TestCode128::refusesNonPrintableAscii_data()
{
    QTest::addColumn<QString>("data");
    QTest::newRow("e acute") << QStringLiteral("caf\u00e9");
    QTest::newRow("tab inside") << QStringLiteral("A\tB");
    QTest::newRow("delete") << QStringLiteral("A\u007f");
    QTest::newRow("NUL inside") << QString::fromUtf16(u"A\0B", 3);
    // Digits of other scripts are neither Set C digits nor ASCII.
    QTest::newRow("full-width digits") << QStringLiteral("\uff11\uff12");
    QTest::newRow("Arabic-Indic digits") << QStringLiteral("\u0661\u0662");
    QTest::newRow("emoji") << QStringLiteral("A\U0001F600");
    QTest::newRow("no-break space inside") << QStringLiteral("A\u00a0B");
}

void TestCode128::refusesNonPrintableAscii()
{
    QFETCH(QString, data);
    const Code128Encoding e = encodeCode128(data);
    QVERIFY(!e.ok);
    QVERIFY(e.values.isEmpty());
    QCOMPARE(e.error, QStringLiteral("Code 128 supports printable ASCII characters only"));
}

// Rules every pattern of the published table obeys (ISO/IEC 15417): 6 elements
// of 1 … 4 modules totalling 11 (the stop: 7 totalling 13), an even number of
// bar modules, and no two values alike. A typing slip in the table breaks one.
// Whether each pattern is the right one is checked against zint.
void TestCode128::patternTableIsWellFormed()
{
    QSet<QByteArray> seen;
    for (int value = 0; value <= 106; ++value) {
        const QByteArrayView widths = code128Widths(value);
        const bool stop = value == 106;
        QCOMPARE(widths.size(), stop ? 7 : 6);
        int total = 0;
        int bars = 0;
        for (qsizetype i = 0; i < widths.size(); ++i) {
            const int w = widths.at(i) - '0';
            QVERIFY2(w >= 1 && w <= 4, qPrintable(QStringLiteral("value %1").arg(value)));
            total += w;
            if (i % 2 == 0)
                bars += w;
        }
        QCOMPARE(total, stop ? 13 : 11);
        QVERIFY2(bars % 2 == 0, qPrintable(QStringLiteral("value %1 has odd bar parity").arg(value)));
        seen.insert(widths.toByteArray());
    }
    QCOMPARE(seen.size(), 107);
    QVERIFY(code128Widths(-1).isEmpty());
    QVERIFY(code128Widths(107).isEmpty());
}

void TestCode128::modulesFollowTheWidths_data()
{
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QString>("modules");

    // Widths from the ISO/IEC 15417 table: Start C 211232, 12 = 112232,
    // 34 = 131123, 56 = 331121, 44 = 132131, Stop 2331112.
    QTest::newRow("123456") << QList<int>{105, 12, 34, 56, 44, 106}
        << QStringLiteral("11010011100" "10110011100" "10001011000" "11100010110" "10001101110" "1100011101011");
    // Start B 211214, check 1 = 222122, Stop.
    QTest::newRow("empty text") << QList<int>{104, 1, 106}
        << QStringLiteral("11010010000" "11001101100" "1100011101011");
    QTest::newRow("value out of range") << QList<int>{104, 107, 106} << QString();
    QTest::newRow("negative value") << QList<int>{104, -1, 106} << QString();
    QTest::newRow("no values") << QList<int>{} << QString();
}

void TestCode128::modulesFollowTheWidths()
{
    QFETCH(QList<int>, values);
    QFETCH(QString, modules);
    QCOMPARE(code128Modules(values), modules);
}

QTEST_APPLESS_MAIN(TestCode128)
#include "tst_code128.moc"
