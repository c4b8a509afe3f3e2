// Text outlines from kept glyphs checked against QPainterPath::addText, which
// the painters used before and whose output the PDF pages must keep: the same
// subpaths at the same positions, for texts that exercise shaping (kerning,
// ligatures, marks, right-to-left and mixed runs, fallback faces), across
// faces and sizes, on fractional pen positions as the alignments produce them,
// and with limits so small that every call evicts something.

#include "render/elementpainter.h"
#include "render/textoutlines.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTest>

#include <cmath>
#include <thread>
#include <vector>

namespace {

using Subpath = QList<QPainterPath::Element>;

QList<Subpath> subpaths(const QPainterPath &path)
{
    QList<Subpath> result;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if (e.isMoveTo() || result.isEmpty())
            result.append(Subpath());
        result.last().append(e);
    }
    // addText leaves a lone move to its origin when a text has no ink.
    if (result.size() == 1 && result.first().size() == 1)
        result.clear();
    return result;
}

bool sameSubpath(const Subpath &a, const Subpath &b, double tolerance)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].type != b[i].type || std::abs(a[i].x - b[i].x) > tolerance
            || std::abs(a[i].y - b[i].y) > tolerance)
            return false;
    }
    return true;
}

// Empty when both paths hold the same subpaths, in any order (glyphs of
// different faces may come in another order; the filled shape is the same),
// each point within `tolerance`; else what differs.
QString pathDifference(const QPainterPath &actual, const QPainterPath &expected, double tolerance)
{
    if (actual.fillRule() != expected.fillRule())
        return QStringLiteral("fill rule differs");
    const QList<Subpath> got = subpaths(actual);
    QList<Subpath> want = subpaths(expected);
    if (got.size() != want.size())
        return QStringLiteral("%1 subpaths, expected %2").arg(got.size()).arg(want.size());
    for (qsizetype i = 0; i < got.size(); ++i) {
        const auto match = std::find_if(want.begin(), want.end(),
                                         [&](const Subpath &w) { return sameSubpath(got[i], w, tolerance); });
        if (match == want.end()) {
            return QStringLiteral("subpath %1 (from %2, %3, %4 elements) has no match")
                .arg(i)
                .arg(got[i].first().x)
                .arg(got[i].first().y)
                .arg(got[i].size());
        }
        want.erase(match);
    }
    return {};
}

QFont fontOf(const QString &family, int pixels, bool bold)
{
    QFont font(family);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    font.setPixelSize(pixels);
    return font;
}

// Where the pen starts for a text box of `width` from x = `left`, as the text
// painter places it by its alignment flags.
double penStart(double left, double width, double advance, const QString &alignment)
{
    if (alignment == QLatin1String("centre"))
        return left + (width - advance) * 0.5;
    if (alignment == QLatin1String("right"))
        return left + width - advance;
    return left;
}

bool sameImages(const QImage &a, const QImage &b)
{
    return a.size() == b.size() && a.convertToFormat(QImage::Format_ARGB32) == b.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestTextOutlines : public QObject
{
    Q_OBJECT

private slots:
    void matchesAddText_data();
    void matchesAddText();
    void distinctTextsKeepOnlyGlyphs();
    void repeatedTextsStayWithinLimits();
    void recentlyUsedTextsStay();
    void oversizedTextIsNotKept();
    void paintFieldOnThreads();

private:
    // Shared by all rows, so that faces, sizes and texts of one row meet the
    // glyphs another row left behind. The cramped one holds a few glyphs and
    // a text or two, so nearly every call drops some.
    TextOutlines m_roomy;
    TextOutlines m_cramped{TextOutlines::Limits{400, 800}};
};

void TestTextOutlines::matchesAddText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pixels");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<QString>("alignment");
    QTest::addColumn<QPointF>("box"); // left of the text box and the baseline's height
    QTest::addColumn<double>("tolerance");

    const double exact = 1e-9;
    const QString sans = QStringLiteral("DejaVu Sans");
    const QString serif = QStringLiteral("DejaVu Serif");
    const QString mono = QStringLiteral("DejaVu Sans Mono");
    // Boxes at fractional device positions, as a card cell at 300 dpi gives them.
    const QPointF box(1234.567, 890.123);

    QTest::newRow("serial, left") << "No.000123" << sans << 42 << false << "left" << box << exact;
    QTest::newRow("serial, centre") << "No.000123" << sans << 42 << false << "centre" << box << exact;
    QTest::newRow("serial, right") << "No.000123" << sans << 42 << false << "right" << box << exact;
    QTest::newRow("serial, bold") << "No.000123" << sans << 42 << true << "centre" << box << exact;
    QTest::newRow("kerning pairs") << "AVAV To WA Ty" << sans << 50 << false << "centre" << box << exact;
    QTest::newRow("kerning, serif") << "AVAV To WA Ty" << serif << 50 << false << "left" << box << exact;
    QTest::newRow("ligature candidates") << "office ffi fl ff" << serif << 47 << false << "centre" << box << exact;
    QTest::newRow("combining marks") << QString::fromUtf8("e\xcc\x81 a\xcc\x88 n\xcc\x83 Z\xcc\xb5\xcc\xa3")
                                     << sans << 42 << false << "left" << box << exact;
    QTest::newRow("precomposed accents") << QString::fromUtf8("Kofi Gon\xc3\xa7\x61lves, Reykjav\xc3\xadk")
                                         << sans << 42 << false << "right" << box << exact;
    QTest::newRow("hebrew") << QString::fromUtf8("\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d \xd7\xa2\xd7\x95\xd7\x9c\xd7\x9d")
                            << sans << 42 << false << "right" << box << exact;
    QTest::newRow("arabic") << QString::fromUtf8("\xd9\x85\xd8\xb1\xd8\xad\xd8\xa8\xd8\xa7 \xd8\xa8\xd8\xa7\xd9\x84"
                                                 "\xd8\xb9\xd8\xa7\xd9\x84\xd9\x85")
                            << sans << 42 << false << "centre" << box << exact;
    QTest::newRow("mixed directions") << QString::fromUtf8("Card 12 \xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d 34 end")
                                      << sans << 42 << true << "left" << box << exact;
    // Whatever face, or none, holds these: the fallback is addText's own.
    QTest::newRow("CJK fallback") << QString::fromUtf8("\xe3\x82\xab\xe3\x83\xbc\xe3\x83\x89 \xe4\xbc\x9a\xe5\x91\x98 123")
                                  << sans << 42 << false << "centre" << box << exact;
    QTest::newRow("family not installed") << "Segoe UI 2024" << "Segoe UI" << 42 << false << "left" << box << exact;
    QTest::newRow("mono") << "0123456789 ++" << mono << 35 << false << "right" << box << exact;
    QTest::newRow("smallest size") << "No.000123" << sans << 1 << false << "left" << box << exact;
    QTest::newRow("large size") << "Wg" << sans << 600 << true << "centre" << box << exact;
    // Far past what a font engine renders Qt draws boxes from no font file
    // (a stored field of 1e9 pt asks for this).
    QTest::newRow("absurd size") << "No.1" << sans << 100000000 << false << "left" << box << exact;
    QTest::newRow("leading and trailing spaces") << "  A V  " << sans << 42 << false << "right" << box << exact;
    QTest::newRow("spaces only") << "   " << sans << 42 << false << "centre" << box << exact;
    QTest::newRow("empty") << "" << sans << 42 << false << "centre" << box << exact;
    // Laid out by addText itself: a tab, a line break, U+009C (which ends what
    // the metrics measure).
    QTest::newRow("tab") << "A\tB" << sans << 42 << false << "centre" << box << exact;
    QTest::newRow("line break") << "first\nsecond" << sans << 42 << false << "centre" << box << exact;
    QTest::newRow("string separator") << QStringLiteral("long\u009cshort") << sans << 42 << false << "right" << box << exact;
    QTest::newRow("at the origin") << "AVAV" << sans << 42 << false << "left" << QPointF(0, 0) << exact;
    QTest::newRow("left of the origin, one run") << "AVAV" << sans << 42 << false << "left"
                                                 << QPointF(-200.3, -7.77) << exact;
    // addText places each later run from the unrounded pen position, cut toward
    // zero; left of the device origin that may land 1/64 unit from where the
    // rounded start puts it (a thousandth of a millimetre at 300 dpi).
    QTest::newRow("left of the origin, several runs")
        << QString::fromUtf8("ab \xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d cd \xe4\xbc\x9a") << sans << 42 << false << "left"
        << QPointF(-150.3, 20.1) << 1.0 / 64 + exact;
}

void TestTextOutlines::matchesAddText()
{
    QFETCH(QString, text);
    QFETCH(QString, family);
    QFETCH(int, pixels);
    QFETCH(bool, bold);
    QFETCH(QString, alignment);
    QFETCH(QPointF, box);
    QFETCH(double, tolerance);

    const QFont font = fontOf(family, pixels, bold);
    const double advance = QFontMetricsF(font).horizontalAdvance(text);
    const double boxWidth = 611.37;
    const QPointF origin(penStart(box.x(), boxWidth, advance, alignment), box.y());
    QPainterPath expected;
    expected.addText(origin, font, text);

    // Set from glyphs (loaded, or kept from earlier rows), set again and kept
    // whole, then found kept.
    for (TextOutlines *outlines : {&m_roomy, &m_cramped}) {
        for (int pass = 0; pass < 3; ++pass) {
            const TextOutlines::SetText set = outlines->set(font, text);
            QCOMPARE(set.advance, advance);
            const QPainterPath actual = TextOutlines::placed(set, origin);
            const QString difference = pathDifference(actual, expected, tolerance);
            QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("%1, pass %2: %3")
                                                          .arg(outlines == &m_roomy ? "roomy" : "cramped")
                                                          .arg(pass)
                                                          .arg(difference)));
        }
    }
}

// A run of distinct serial numbers, as a large job prints them: the glyphs
// they are made of are kept, the texts themselves are not.
void TestTextOutlines::distinctTextsKeepOnlyGlyphs()
{
    const TextOutlines::Limits limits{4000, 20000};
    TextOutlines outlines(limits);
    const QFont font = fontOf(QStringLiteral("DejaVu Sans"), 42, false);
    const QString prefix = QStringLiteral("No.");
    QSet<QChar> characters(prefix.cbegin(), prefix.cend());
    for (int serial = 0; serial < 5000; ++serial) {
        const QString text = prefix + QString::number(serial * 7919 % 1000000).rightJustified(6, u'0');
        for (QChar c : text)
            characters.insert(c);
        QVERIFY(!outlines.outline(font, text, QPointF(100.25, 200.5)).isEmpty());
        const TextOutlines::Usage usage = outlines.usage();
        QCOMPARE(usage.texts, 0);
        // One outline per glyph, however many texts used it.
        QVERIFY2(usage.glyphs <= characters.size(), qPrintable(QString::number(usage.glyphs)));
        QVERIFY(usage.glyphElements + usage.glyphs <= limits.glyphElements);
    }
}

// Texts that repeat are kept, within the budget however many there are, and
// still come out right after thousands of evictions.
void TestTextOutlines::repeatedTextsStayWithinLimits()
{
    const TextOutlines::Limits limits{4000, 20000};
    TextOutlines outlines(limits);
    const QFont font = fontOf(QStringLiteral("DejaVu Sans"), 42, false);
    qsizetype mostTexts = 0;
    for (int name = 0; name < 3000; ++name) {
        const QString text = QStringLiteral("Guest %1").arg(name * 7919 % 100000);
        for (int repeat = 0; repeat < 2; ++repeat)
            outlines.set(font, text);
        const TextOutlines::Usage usage = outlines.usage();
        QVERIFY2(usage.textElements + usage.texts <= limits.textElements,
                 qPrintable(QString::number(usage.textElements)));
        QVERIFY(usage.glyphElements + usage.glyphs <= limits.glyphElements);
        mostTexts = std::max(mostTexts, usage.texts);
    }
    QVERIFY(mostTexts > 10);
    QVERIFY(mostTexts < 3000);

    for (int pass = 0; pass < 2; ++pass) {
        QPainterPath expected;
        expected.addText(QPointF(100.25, 200.5), font, QStringLiteral("Guest 4242"));
        const QString difference =
            pathDifference(outlines.outline(font, QStringLiteral("Guest 4242"), QPointF(100.25, 200.5)), expected, 1e-9);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }
}

// A label printed on every card stays kept while other repeating texts pass
// through; one left unused is dropped.
void TestTextOutlines::recentlyUsedTextsStay()
{
    TextOutlines outlines(TextOutlines::Limits{1 << 16, 2000});
    const QFont font = fontOf(QStringLiteral("DejaVu Sans"), 42, false);
    const QString label = QStringLiteral("Member");
    const QString forgotten = QStringLiteral("Guest");
    for (int repeat = 0; repeat < 2; ++repeat) {
        outlines.set(font, label);
        outlines.set(font, forgotten);
    }
    const TextOutlines::Usage start = outlines.usage();
    QCOMPARE(start.textMisses, 4);
    QCOMPARE(start.texts, 2);

    for (int name = 0; name < 400; ++name) {
        outlines.set(font, QString::number(100000 + name));
        outlines.set(font, QString::number(100000 + name));
        outlines.set(font, label);
    }
    const TextOutlines::Usage middle = outlines.usage();
    QCOMPARE(middle.textHits, start.textHits + 400);
    QCOMPARE(middle.textMisses, start.textMisses + 800);

    outlines.set(font, forgotten);
    QCOMPARE(outlines.usage().textMisses, middle.textMisses + 1);
}

// A text whose outline would take half the budget is set but not kept, and
// leaves the kept ones alone.
void TestTextOutlines::oversizedTextIsNotKept()
{
    TextOutlines outlines(TextOutlines::Limits{1 << 16, 400});
    const QFont font = fontOf(QStringLiteral("DejaVu Sans"), 42, false);
    outlines.set(font, QStringLiteral("kept"));
    outlines.set(font, QStringLiteral("kept"));
    const QString longText = QString(QStringLiteral("Long text. ")).repeated(40);
    QPainterPath expected;
    expected.addText(QPointF(3.5, 60.25), font, longText);
    for (int repeat = 0; repeat < 2; ++repeat) {
        const QString difference = pathDifference(outlines.outline(font, longText, QPointF(3.5, 60.25)), expected, 1e-9);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }
    const TextOutlines::Usage usage = outlines.usage();
    QCOMPARE(usage.texts, 1);
    QVERIFY(usage.textElements < 200);
    outlines.set(font, QStringLiteral("kept"));
    QCOMPARE(outlines.usage().textHits, usage.textHits + 1);
}

// The export paints pages on several threads at once; each keeps its own
// outlines and must draw what one thread draws with addText.
void TestTextOutlines::paintFieldOnThreads()
{
    const double pxPerMm = 300 / 25.4;
    const QSizeF cardMm(90, 20);
    const QStringList texts{QStringLiteral("No.000001"), QStringLiteral("AVAV ffi"),
                            QString::fromUtf8("\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d 12"), QStringLiteral("No.000002")};

    TemplateField field;
    field.type = ElementKind::Text;
    field.fontFamily = QStringLiteral("DejaVu Sans");
    field.fontSizePt = 14;
    field.alignment = {}; // centre, centre
    field.colorHex = QStringLiteral("#000000");
    const QRectF fieldMm(3.3, 2.1, 80, 15);

    const auto image = [&] {
        QImage result(int(std::ceil(cardMm.width() * pxPerMm)), int(std::ceil(cardMm.height() * pxPerMm)),
                      QImage::Format_ARGB32);
        result.fill(Qt::white);
        return result;
    };

    // By the painting rules with addText: the box inset by 1 and 0.5 mm, the
    // size in device pixels, centred on the advance and on the line height.
    std::vector<QImage> expected;
    for (const QString &text : texts) {
        QImage picture = image();
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF device((fieldMm.x() + 1) * pxPerMm, (fieldMm.y() + 0.5) * pxPerMm,
                            (fieldMm.width() - 2) * pxPerMm, (fieldMm.height() - 1) * pxPerMm);
        const QFont font = fontOf(field.fontFamily, int(std::lround(14 * 25.4 / 72 * pxPerMm)), false);
        const QFontMetricsF metrics(font);
        const double x = device.left() + (device.width() - metrics.horizontalAdvance(text)) * 0.5;
        const double y = device.top() + (device.height() - metrics.height()) * 0.5 + metrics.ascent();
        QPainterPath path;
        path.addText(x, y, font, text);
        painter.fillPath(path, Qt::black);
        painter.end();
        expected.push_back(picture);
    }

    const int threads = 3;
    const int rounds = 20;
    std::vector<std::vector<QImage>> painted(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int round = 0; round < rounds; ++round) {
                const QString &text = texts.at((t + round) % texts.size());
                QImage picture = image();
                QPainter painter(&picture);
                painter.setRenderHint(QPainter::Antialiasing);
                painter.scale(pxPerMm, pxPerMm);
                TemplateField mine = field;
                mine.name = text;
                paintField(painter, fieldMm, mine, QJsonObject());
                painter.end();
                painted[t].push_back(picture);
            }
        });
    }
    for (std::thread &worker : workers)
        worker.join();

    for (int t = 0; t < threads; ++t) {
        QCOMPARE(int(painted[t].size()), rounds);
        for (int round = 0; round < rounds; ++round) {
            QVERIFY2(sameImages(painted[t][round], expected[(t + round) % texts.size()]),
                     qPrintable(QStringLiteral("thread %1, round %2").arg(t).arg(round)));
        }
    }
}

QTEST_MAIN(TestTextOutlines)
#include "tst_textoutlines.moc"
