// The element painters checked on what they leave behind: fields and graphics
// are painted into images at a known number of pixels per millimetre and the
// pixels probed at computed positions; symbols are read back by zbar, an
// independent decoder. Where the shapes themselves matter (grid lines against
// cell rectangles, bars merged into runs, text filled as outlines) a recording
// paint device lists the drawing calls in millimetres.

#include "render/elementpainter.h"

#include "barcode/linearcodes.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <qrcodegen/qrcodegen.hpp>

#include <climits>
#include <cmath>

namespace {

constexpr double kMmPerPoint = 25.4 / 72.0;
const QColor kGround(0x80, 0x80, 0x80); // a ground the painters never use

QImage blankImage(QSizeF sizeMm, double pxPerMm, const QColor &ground)
{
    QImage image(int(std::ceil(sizeMm.width() * pxPerMm)), int(std::ceil(sizeMm.height() * pxPerMm)),
                 QImage::Format_ARGB32);
    image.fill(ground);
    return image;
}

// An image of `sizeMm` painted by `paint` with the painter scaled to
// millimetres, as the canvas and the sheet composer scale it.
template<typename Paint>
QImage paintedImage(QSizeF sizeMm, double pxPerMm, Paint paint, const QColor &ground = Qt::white)
{
    QImage image = blankImage(sizeMm, pxPerMm, ground);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pxPerMm, pxPerMm);
    paint(painter);
    return image;
}

bool isDark(QRgb pixel)
{
    return qGray(pixel) < 128;
}

// The smallest rectangle holding every pixel darker than mid grey within
// `area`; a null rectangle when there is none.
QRect inkBounds(const QImage &image, QRect area = {})
{
    area = area.isNull() ? image.rect() : area.intersected(image.rect());
    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (!isDark(image.pixel(x, y)))
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    return left == INT_MAX ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

QRect pixelRect(const QRectF &mm, double pxPerMm)
{
    return QRect(QPoint(int(std::lround(mm.left() * pxPerMm)), int(std::lround(mm.top() * pxPerMm))),
                 QPoint(int(std::lround(mm.right() * pxPerMm)) - 1, int(std::lround(mm.bottom() * pxPerMm)) - 1));
}

TemplateField textField(const QString &text, double fontSizePt = 10, int alignment = 0x84)
{
    TemplateField field;
    field.type = ElementKind::Text;
    field.name = text;
    field.fontSizePt = fontSizePt;
    field.alignment = alignmentFromFlags(alignment); // Qt's flags, as stored
    field.colorHex = QStringLiteral("#000000");
    return field;
}

// An unbound field shows its name, so the name is the symbol's data.
TemplateField barcodeField(const QString &format, const QString &data, bool showText = false)
{
    TemplateField field;
    field.type = ElementKind::Barcode;
    // As the store loads the text: an unknown format is Code 128.
    field.barcodeFormat = barcodeFormatFromKey(format).value_or(BarcodeFormat::Code128);
    field.name = data;
    field.barcodeShowText = showText;
    return field;
}

TemplateField qrField(const QString &data)
{
    TemplateField field;
    field.type = ElementKind::QrCode;
    field.name = data;
    return field;
}

// The height of the letter H as a share of the em, from its outline at a
// large size where rounding does not matter.
double capHeightPerEm(const QFont &base)
{
    QFont font = base;
    font.setPixelSize(1000);
    QPainterPath path;
    path.addText(0, 0, font, QStringLiteral("H"));
    return path.boundingRect().height() / 1000.0;
}

QFont fieldFontAt(const TemplateField &field, int pixelSize)
{
    QFont font(field.fontFamily);
    font.setWeight(field.bold ? QFont::Bold : QFont::Normal);
    font.setPixelSize(pixelSize);
    return font;
}

QString zbarMissing()
{
    if (!QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty())
        return {};
    return QStringLiteral("zbarimg is not installed; scripts/install-deps.sh installs it (zbar-tools)");
}

// zbar comes with the test packages. Without it the decoding checks are
// skipped on a developer machine but fail in CI, where a missing checker must
// not pass unnoticed.
#define REQUIRE_ZBAR()                                                                                       \
    do {                                                                                                     \
        if (const QString why = zbarMissing(); !why.isEmpty()) {                                             \
            if (qEnvironmentVariableIsSet("CI"))                                                             \
                QFAIL(qPrintable(why));                                                                      \
            QSKIP(qPrintable(why));                                                                          \
        }                                                                                                    \
    } while (false)

struct Decoded
{
    bool ok = false;
    QString text;    // zbar's output without its closing line break
    QString problem;
};

Decoded decodeWithZbar(const QImage &image)
{
    Decoded result;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("symbol.png"));
    if (!dir.isValid() || !image.save(path)) {
        result.problem = QStringLiteral("could not write %1").arg(path);
        return result;
    }
    QProcess zbar;
    zbar.start(QStandardPaths::findExecutable(QStringLiteral("zbarimg")),
               {QStringLiteral("--raw"), QStringLiteral("-q"), path});
    if (!zbar.waitForFinished(30000)) {
        result.problem = QStringLiteral("zbarimg did not finish: %1").arg(zbar.errorString());
        return result;
    }
    QString out = QString::fromUtf8(zbar.readAllStandardOutput());
    if (zbar.exitStatus() != QProcess::NormalExit || zbar.exitCode() != 0) {
        result.problem = QStringLiteral("zbarimg found no symbol (exit code %1) %2")
                             .arg(zbar.exitCode())
                             .arg(QString::fromLocal8Bit(zbar.readAllStandardError()).trimmed());
        return result;
    }
    if (out.endsWith(QLatin1Char('\n')))
        out.chop(1);
    result.ok = true;
    result.text = out;
    return result;
}

// One drawing call as a QPaintEngine receives it, in the painter's logical
// coordinates mapped by the world transform in force.
struct DrawCall
{
    enum Kind { Rect, Line, Ellipse, Path, Polygon, TextItem, Pixmap };
    Kind kind = Rect;
    QRectF rect; // bounds of the shape
    QLineF line;
    QColor brush;      // invalid when there is no brush
    bool pen = false;  // whether an outline is stroked
    bool antialiased = false;
};

class RecordingEngine : public QPaintEngine
{
public:
    RecordingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}

    QList<DrawCall> calls;

    bool begin(QPaintDevice *) override { return true; }
    bool end() override { return true; }
    Type type() const override { return QPaintEngine::User; }

    void updateState(const QPaintEngineState &state) override
    {
        const QPaintEngine::DirtyFlags dirty = state.state();
        if (dirty & DirtyTransform)
            m_transform = state.transform();
        if (dirty & DirtyBrush)
            m_brush = state.brush();
        if (dirty & DirtyPen)
            m_pen = state.pen();
        if (dirty & DirtyHints)
            m_hints = state.renderHints();
    }

    void drawRects(const QRectF *rects, int count) override
    {
        for (int i = 0; i < count; ++i)
            record(DrawCall::Rect, m_transform.mapRect(rects[i]));
    }
    void drawLines(const QLineF *lines, int count) override
    {
        for (int i = 0; i < count; ++i) {
            DrawCall &call = record(DrawCall::Line, {});
            call.line = m_transform.map(lines[i]);
        }
    }
    void drawEllipse(const QRectF &rect) override { record(DrawCall::Ellipse, m_transform.mapRect(rect)); }
    void drawPath(const QPainterPath &path) override
    {
        record(DrawCall::Path, m_transform.map(path).boundingRect());
    }
    void drawPolygon(const QPointF *points, int count, PolygonDrawMode) override
    {
        record(DrawCall::Polygon, m_transform.map(QPolygonF(QList<QPointF>(points, points + count))).boundingRect());
    }
    void drawTextItem(const QPointF &, const QTextItem &) override { record(DrawCall::TextItem, {}); }
    void drawPixmap(const QRectF &rect, const QPixmap &, const QRectF &) override
    {
        record(DrawCall::Pixmap, m_transform.mapRect(rect));
    }

private:
    DrawCall &record(DrawCall::Kind kind, const QRectF &rect)
    {
        DrawCall call;
        call.kind = kind;
        call.rect = rect;
        if (m_brush.style() != Qt::NoBrush)
            call.brush = m_brush.color();
        call.pen = m_pen.style() != Qt::NoPen;
        call.antialiased = m_hints.testFlag(QPainter::Antialiasing);
        calls.append(call);
        return calls.last();
    }

    QTransform m_transform;
    QBrush m_brush;
    QPen m_pen;
    QPainter::RenderHints m_hints;
};

// A page of 100 × 100 units for the recording engine; the tests paint in
// millimetres with an identity painter, so the calls come out in millimetres.
class RecordingDevice : public QPaintDevice
{
public:
    mutable RecordingEngine engine;

    QPaintEngine *paintEngine() const override { return &engine; }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth:
        case PdmHeight:
            return 100;
        case PdmWidthMM:
        case PdmHeightMM:
            return 100;
        case PdmNumColors:
            return INT_MAX;
        case PdmDepth:
            return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 72;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(QPaintDevice::devicePixelRatioFScale());
        default:
            return 0;
        }
    }
};

template<typename Paint>
QList<DrawCall> recordedCalls(Paint paint)
{
    RecordingDevice device;
    {
        QPainter painter(&device);
        paint(painter);
    }
    return device.engine.calls;
}

QList<DrawCall> callsOfKind(const QList<DrawCall> &calls, DrawCall::Kind kind)
{
    QList<DrawCall> out;
    for (const DrawCall &call : calls) {
        if (call.kind == kind)
            out.append(call);
    }
    return out;
}

int runsOfBars(const QString &modules)
{
    int runs = 0;
    for (qsizetype i = 0; i < modules.size(); ++i) {
        if (modules.at(i) == QLatin1Char('1') && (i == 0 || modules.at(i - 1) != QLatin1Char('1')))
            ++runs;
    }
    return runs;
}

} // namespace

class TestElementPainter : public QObject
{
    Q_OBJECT

private slots:
    void failuresDrawNothing_data();
    void failuresDrawNothing();
    void textHeight_data();
    void textHeight();
    void textAlignment_data();
    void textAlignment();
    void textColourAndOverflow();
    void textIsFilledAsOutlines();
    void symbolsDecode_data();
    void symbolsDecode();
    void symbolMargins_data();
    void symbolMargins();
    void barRunsAreMerged_data();
    void barRunsAreMerged();
    void textBand_data();
    void textBand();
    void humanReadableLine_data();
    void humanReadableLine();
    void qrDecodes_data();
    void qrDecodes();
    void qrGeometry_data();
    void qrGeometry();
    void qrRowsAreMerged();
    void lineThroughMiddle_data();
    void lineThroughMiddle();
    void shapes_data();
    void shapes();
    void strokeWidthScales_data();
    void strokeWidthScales();
    void tableGrid_data();
    void tableGrid();
    void fittedSymbolSize_data();
    void fittedSymbolSize();
    void fittedTextCandidates_data();
    void fittedTextCandidates();
    void fittedTextClampsToRoom();
    void painterStateRestored_data();
    void painterStateRestored();
    void storedValuesStayBounded_data();
    void storedValuesStayBounded();
    void hugeStrokeKeepsItsBox();
    void fontSizeBelowTheSmallestDrawsTheSmallest_data();
    void fontSizeBelowTheSmallestDrawsTheSmallest();
};

// Each row must leave the image exactly as it was. The ground is grey, so a
// white symbol background laid down before the data was checked shows too.
void TestElementPainter::failuresDrawNothing_data()
{
    QTest::addColumn<TemplateField>("field");
    QTest::addColumn<QRectF>("rect");
    QTest::addColumn<bool>("result");

    const QRectF box(5, 5, 40, 12);
    QTest::newRow("text, zero width") << textField(QStringLiteral("H")) << QRectF(5, 5, 0, 10) << false;
    QTest::newRow("text, negative height") << textField(QStringLiteral("H")) << QRectF(5, 5, 40, -3) << false;
    QTest::newRow("barcode, zero height")
        << barcodeField(QStringLiteral("code128"), QStringLiteral("123456")) << QRectF(5, 5, 40, 0) << false;
    QTest::newRow("qrcode, zero width") << qrField(QStringLiteral("x")) << QRectF(5, 5, 0, 20) << false;
    QTest::newRow("text 2 mm wide: no room inside") << textField(QStringLiteral("H")) << QRectF(5, 5, 2, 10) << true;
    QTest::newRow("text 1 mm high: no room inside") << textField(QStringLiteral("H")) << QRectF(5, 5, 40, 1) << true;
    QTest::newRow("ean13, wrong check digit")
        << barcodeField(QStringLiteral("ean13"), QStringLiteral("4006381333932")) << box << false;
    QTest::newRow("ean13, with text line, 11 digits")
        << barcodeField(QStringLiteral("ean13"), QStringLiteral("40063813339"), true) << box << false;
    QTest::newRow("ean8, a letter") << barcodeField(QStringLiteral("ean8"), QStringLiteral("963850A")) << box << false;
    QTest::newRow("upca, 13 digits")
        << barcodeField(QStringLiteral("upca"), QStringLiteral("0036000291452")) << box << false;
    QTest::newRow("code39, asterisk") << barcodeField(QStringLiteral("code39"), QStringLiteral("A*B")) << box << false;
    QTest::newRow("code128, non-ASCII letter")
        << barcodeField(QStringLiteral("code128"), QStringLiteral("caf\u00e9"), true) << box << false;
    // Byte mode holds at most 2331 bytes at level M in version 40.
    QTest::newRow("qrcode, too long for version 40")
        << qrField(QString(2332, QLatin1Char('x'))) << QRectF(5, 5, 40, 40) << false;
}

void TestElementPainter::failuresDrawNothing()
{
    QFETCH(TemplateField, field);
    QFETCH(QRectF, rect);
    QFETCH(bool, result);

    const QSizeF page(60, 60);
    bool painted = !result;
    const QImage image = paintedImage(
        page, 4, [&](QPainter &p) { painted = paintField(p, rect, field, QJsonObject()); }, kGround);
    QCOMPARE(painted, result);
    QVERIFY(image == blankImage(page, 4, kGround));
}

// 10 pt is 3.53 mm: the letter H must be as tall as its share of that em, in
// pixels of the target, at the canvas scale and at print resolution alike.
void TestElementPainter::textHeight_data()
{
    QTest::addColumn<double>("pxPerMm");
    QTest::addColumn<double>("fontSizePt");
    QTest::addColumn<bool>("bold");

    QTest::newRow("10 pt, canvas 4 px/mm") << 4.0 << 10.0 << false;
    QTest::newRow("10 pt, zoomed 8 px/mm") << 8.0 << 10.0 << false;
    QTest::newRow("10 pt, 300 dpi 11.811 px/mm") << 11.811 << 10.0 << false;
    QTest::newRow("10 pt bold, 300 dpi") << 11.811 << 10.0 << true;
    QTest::newRow("24 pt, zoomed out 1.5 px/mm") << 1.5 << 24.0 << false;
    QTest::newRow("6 pt, 20 px/mm") << 20.0 << 6.0 << false;
}

void TestElementPainter::textHeight()
{
    QFETCH(double, pxPerMm);
    QFETCH(double, fontSizePt);
    QFETCH(bool, bold);

    TemplateField field = textField(QStringLiteral("H"), fontSizePt);
    field.bold = bold;
    bool drawn = false;
    const QImage image = paintedImage(QSizeF(60, 30), pxPerMm, [&](QPainter &p) {
        drawn = paintField(p, QRectF(5, 5, 50, 20), field, QJsonObject());
    });
    QVERIFY(drawn);
    const QRect ink = inkBounds(image);
    QVERIFY(!ink.isNull());

    const double emPx = fontSizePt * kMmPerPoint * pxPerMm;
    const double expected = capHeightPerEm(fieldFontAt(field, 100)) * emPx;
    QVERIFY2(std::abs(ink.height() - expected) <= 1.25,
             qPrintable(QStringLiteral("H is %1 px tall, expected %2 px").arg(ink.height()).arg(expected)));
}

// The ink of "HH" in a 60 × 20 mm field at 8 px/mm against the box inside the
// field (1 mm in left and right, 0.5 mm top and bottom), in pixels.
void TestElementPainter::textAlignment_data()
{
    QTest::addColumn<int>("alignment");
    QTest::addColumn<QString>("horizontal");
    QTest::addColumn<QString>("vertical");

    QTest::newRow("left top 0x21") << 0x21 << "left" << "top";
    QTest::newRow("no flags: left top") << 0x00 << "left" << "top";
    QTest::newRow("centre top 0x24") << 0x24 << "centre" << "top";
    QTest::newRow("right top 0x22") << 0x22 << "right" << "top";
    QTest::newRow("left 129") << 129 << "left" << "centre";
    QTest::newRow("centre 132") << 132 << "centre" << "centre";
    QTest::newRow("right 130") << 130 << "right" << "centre";
    QTest::newRow("right bottom 0x42") << 0x42 << "right" << "bottom";
    QTest::newRow("centre wins over right 0x4|0x2") << (0x4 | 0x2 | 0x20) << "centre" << "top";
    QTest::newRow("vertical centre wins over bottom 0x80|0x40") << (0x80 | 0x40 | 0x1) << "left" << "centre";
}

void TestElementPainter::textAlignment()
{
    QFETCH(int, alignment);
    QFETCH(QString, horizontal);
    QFETCH(QString, vertical);

    const double pxPerMm = 8;
    const TemplateField field = textField(QStringLiteral("HH"), 10, alignment);
    const QRectF fieldRect(5, 5, 60, 20);
    bool drawn = false;
    const QImage image = paintedImage(QSizeF(70, 30), pxPerMm, [&](QPainter &p) {
        drawn = paintField(p, fieldRect, field, QJsonObject());
    });
    QVERIFY(drawn);
    const QRect ink = inkBounds(image);
    QVERIFY(!ink.isNull());

    const QRectF box(fieldRect.x() + 1, fieldRect.y() + 0.5, fieldRect.width() - 2, fieldRect.height() - 1);
    const QRectF device(box.x() * pxPerMm, box.y() * pxPerMm, box.width() * pxPerMm, box.height() * pxPerMm);
    const int em = int(std::lround(10 * kMmPerPoint * pxPerMm));
    const QFontMetricsF metrics(fieldFontAt(field, em));
    const double cap = capHeightPerEm(fieldFontAt(field, em)) * em;
    const double bearing = 0.2 * em; // side bearings are a small part of the em

    const double inkLeft = ink.left();
    const double inkRight = ink.right() + 1;
    const double inkTop = ink.top();
    const double inkBottom = ink.bottom() + 1;
    if (horizontal == QLatin1String("left")) {
        QVERIFY2(inkLeft >= device.left() - 1 && inkLeft <= device.left() + bearing,
                 qPrintable(QString::number(inkLeft)));
    } else if (horizontal == QLatin1String("right")) {
        QVERIFY2(inkRight <= device.right() + 1 && inkRight >= device.right() - bearing,
                 qPrintable(QString::number(inkRight)));
    } else {
        QVERIFY2(std::abs((inkLeft + inkRight) / 2 - device.center().x()) <= 1.5,
                 qPrintable(QStringLiteral("ink centre %1, box centre %2")
                                .arg((inkLeft + inkRight) / 2)
                                .arg(device.center().x())));
    }

    // H stands on the baseline; its top is one cap height above it.
    double baseline = 0;
    if (vertical == QLatin1String("top"))
        baseline = device.top() + metrics.ascent();
    else if (vertical == QLatin1String("bottom"))
        baseline = device.bottom() - metrics.descent();
    else
        baseline = device.top() + (device.height() - metrics.height()) / 2 + metrics.ascent();
    QVERIFY2(std::abs(inkBottom - baseline) <= 1.5,
             qPrintable(QStringLiteral("ink bottom %1, baseline %2").arg(inkBottom).arg(baseline)));
    QVERIFY2(std::abs(inkTop - (baseline - cap)) <= 1.5,
             qPrintable(QStringLiteral("ink top %1, cap line %2").arg(inkTop).arg(baseline - cap)));
}

void TestElementPainter::textColourAndOverflow()
{
    const double pxPerMm = 8;
    TemplateField field = textField(QStringLiteral("WWWWWWWWWWWW"), 12);
    field.colorHex = QStringLiteral("#d01010");
    const QRectF fieldRect(40, 5, 10, 10);
    bool drawn = false;
    const QImage image = paintedImage(QSizeF(90, 20), pxPerMm, [&](QPainter &p) {
        drawn = paintField(p, fieldRect, field, QJsonObject());
    });
    QVERIFY(drawn);

    // One line, centred on the box and running past it on both sides.
    const QRect ink = inkBounds(image);
    QVERIFY(!ink.isNull());
    QVERIFY(ink.left() < fieldRect.left() * pxPerMm - 40);
    QVERIFY(ink.right() > fieldRect.right() * pxPerMm + 40);
    QVERIFY(ink.height() < 12 * kMmPerPoint * pxPerMm);

    int darkest = 255;
    QRgb colour = 0;
    for (int y = ink.top(); y <= ink.bottom(); ++y) {
        for (int x = ink.left(); x <= ink.right(); ++x) {
            if (qGray(image.pixel(x, y)) < darkest) {
                darkest = qGray(image.pixel(x, y));
                colour = image.pixel(x, y);
            }
        }
    }
    QCOMPARE(QColor(colour), QColor(0xd0, 0x10, 0x10));
}

// A PDF page carries text as filled shapes: one path in the field's colour,
// no outline and no font text.
void TestElementPainter::textIsFilledAsOutlines()
{
    TemplateField field = textField(QStringLiteral("No.000123"), 12);
    field.colorHex = QStringLiteral("#2563eb");
    bool drawn = false;
    const QList<DrawCall> calls = recordedCalls([&](QPainter &p) {
        p.scale(4, 4);
        drawn = paintField(p, QRectF(2, 2, 20, 8), field, QJsonObject());
    });
    QVERIFY(drawn);
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls.first().kind, DrawCall::Path);
    QCOMPARE(calls.first().brush, QColor(0x25, 0x63, 0xeb));
    QVERIFY(!calls.first().pen);
}

// Every symbology at print resolution (300 dpi) in the default 45 × 10 mm
// field, read back by zbar, which shows EAN-13 and UPC-A (as EAN-13 with its
// leading 0) with the check digit.
void TestElementPainter::symbolsDecode_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("data");
    QTest::addColumn<bool>("showText");
    QTest::addColumn<QString>("decoded");

    QTest::newRow("code128 text") << "code128" << "Vellumor-42" << false << "Vellumor-42";
    QTest::newRow("code128 text with text line") << "code128" << "Card #17" << true << "Card #17";
    QTest::newRow("code128 Set C digits") << "code128" << "00123456" << false << "00123456";
    QTest::newRow("code128 odd digit count") << "code128" << "12345" << false << "12345";
    QTest::newRow("code128 blanks trimmed") << "code128" << "  AB 12 " << false << "AB 12";
    QTest::newRow("unknown format is code128") << "pdf417" << "X-1" << false << "X-1";
    QTest::newRow("code39 upper-cased") << "code39" << "abc-12" << false << "ABC-12";
    QTest::newRow("code39 with text line") << "code39" << "A1" << true << "A1";
    QTest::newRow("ean13 check digit appended") << "ean13" << "400638133393" << false << "4006381333931";
    QTest::newRow("ean13 with check digit, text line") << "ean13" << "5901234123457" << true << "5901234123457";
    QTest::newRow("ean8") << "ean8" << "9638507" << false << "96385074";
    QTest::newRow("upca") << "upca" << "03600029145" << true << "0036000291452";
}

void TestElementPainter::symbolsDecode()
{
    REQUIRE_ZBAR();
    QFETCH(QString, format);
    QFETCH(QString, data);
    QFETCH(bool, showText);
    QFETCH(QString, decoded);

    const TemplateField field = barcodeField(format, data, showText);
    bool drawn = false;
    const QImage image = paintedImage(QSizeF(65, 30), 11.811, [&](QPainter &p) {
        drawn = paintField(p, QRectF(10, 10, field.widthMm, field.heightMm), field, QJsonObject());
    });
    QVERIFY(drawn);
    const Decoded result = decodeWithZbar(image);
    QVERIFY2(result.ok, qPrintable(result.problem));
    QCOMPARE(result.text, decoded);
}

// Each symbol drawn with exactly 4 px per module at 8 px/mm into a field one
// mm wider than its modules (0.5 mm inset each side) on a grey ground: the
// module columns before the first bar and after the last are white, the
// first and last bar columns black, and the inset border stays grey.
void TestElementPainter::symbolMargins_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("data");
    QTest::addColumn<int>("modules");   // across the inset rectangle
    QTest::addColumn<int>("firstBar");  // module index of the first bar
    QTest::addColumn<int>("barsEnd");   // module index after the last bar

    // Start C, 3 data values, check, stop: 5 × 11 + 13 = 68, plus 10 + 10.
    QTest::newRow("code128 six digits: 10 quiet modules each side") << "code128" << "123456" << 88 << 10 << 78;
    QTest::newRow("code128 text") << "code128" << "Ab" << 77 << 10 << 67;
    QTest::newRow("ean13 edge to edge") << "ean13" << "400638133393" << 95 << 0 << 95;
    QTest::newRow("ean8 edge to edge") << "ean8" << "9638507" << 67 << 0 << 67;
    QTest::newRow("upca edge to edge") << "upca" << "03600029145" << 95 << 0 << 95;
    QTest::newRow("code39 edge to edge") << "code39" << "A" << 47 << 0 << 47;
}

void TestElementPainter::symbolMargins()
{
    QFETCH(QString, format);
    QFETCH(QString, data);
    QFETCH(int, modules);
    QFETCH(int, firstBar);
    QFETCH(int, barsEnd);

    const double pxPerMm = 8;
    const int modulePx = 4;
    const QRectF fieldRect(5, 5, modules * modulePx / pxPerMm + 1, 11);
    bool drawn = false;
    const QImage image = paintedImage(
        QSizeF(fieldRect.right() + 5, 21), pxPerMm,
        [&](QPainter &p) { drawn = paintField(p, fieldRect, barcodeField(format, data), QJsonObject()); },
        kGround);
    QVERIFY(drawn);

    const int left = int(std::lround((fieldRect.left() + 0.5) * pxPerMm));
    const int right = left + modules * modulePx; // first column after the symbol
    const int top = int(std::lround((fieldRect.top() + 0.5) * pxPerMm));
    const int bottom = int(std::lround((fieldRect.bottom() - 0.5) * pxPerMm)); // first row below
    for (int y : {top, (top + bottom) / 2, bottom - 1}) {
        for (int x = left; x < left + firstBar * modulePx; ++x)
            QCOMPARE(QColor(image.pixel(x, y)), QColor(Qt::white));
        for (int x = left + barsEnd * modulePx; x < right; ++x)
            QCOMPARE(QColor(image.pixel(x, y)), QColor(Qt::white));
        for (int x : {left + firstBar * modulePx, left + barsEnd * modulePx - 1})
            QCOMPARE(QColor(image.pixel(x, y)), QColor(Qt::black));
        QCOMPARE(QColor(image.pixel(left - 1, y)), kGround);
        QCOMPARE(QColor(image.pixel(right, y)), kGround);
    }
    for (int x : {left, (left + right) / 2, right - 1}) {
        QCOMPARE(QColor(image.pixel(x, top - 1)), kGround);
        QCOMPARE(QColor(image.pixel(x, bottom)), kGround);
    }
}

// Adjoining bar modules are drawn as one rectangle each, after one white
// ground, all without antialiasing; together they cover exactly the bar
// modules of the encoder's module string.
void TestElementPainter::barRunsAreMerged_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("data");

    QTest::newRow("ean13") << "ean13" << "5901234123457";
    QTest::newRow("ean8") << "ean8" << "9638507";
    QTest::newRow("upca") << "upca" << "03600029145";
    QTest::newRow("code39") << "code39" << "VDP-2024";
    QTest::newRow("code128 text") << "code128" << "Vellumor VDP";
    QTest::newRow("code128 digits") << "code128" << "0123456789";
}

void TestElementPainter::barRunsAreMerged()
{
    QFETCH(QString, format);
    QFETCH(QString, data);

    const ModuleEncoding symbol = barcodeModules(format, data);
    QVERIFY2(symbol.ok(), qPrintable(symbol.error));
    const QRectF rect(3, 4, 50, 12);
    bool drawn = false;
    const QList<DrawCall> calls = recordedCalls([&](QPainter &p) {
        p.setRenderHint(QPainter::Antialiasing);
        drawn = paintBarcode(p, rect, data, barcodeFormatFromKey(format).value(), false);
    });
    QVERIFY(drawn);
    QVERIFY(!calls.isEmpty());
    QCOMPARE(calls.first().kind, DrawCall::Rect);
    QCOMPARE(calls.first().rect, rect);
    QCOMPARE(calls.first().brush, QColor(Qt::white));

    const QList<DrawCall> bars = calls.mid(1);
    QCOMPARE(bars.size(), runsOfBars(symbol.modules));
    const int total = int(symbol.modules.size()) + 2 * symbol.quietZone;
    const double moduleWidth = rect.width() / total;
    QString covered(total, QLatin1Char('0'));
    for (const DrawCall &bar : bars) {
        QCOMPARE(bar.kind, DrawCall::Rect);
        QCOMPARE(bar.brush, QColor(Qt::black));
        QVERIFY(!bar.pen);
        QVERIFY(!bar.antialiased);
        QCOMPARE(bar.rect.top(), rect.top());
        QCOMPARE(bar.rect.height(), rect.height());
        const double first = (bar.rect.left() - rect.left()) / moduleWidth;
        const double end = (bar.rect.right() - rect.left()) / moduleWidth;
        QVERIFY(std::abs(first - std::round(first)) < 1e-6 && std::abs(end - std::round(end)) < 1e-6);
        for (int m = int(std::lround(first)); m < int(std::lround(end)); ++m)
            covered[m] = QLatin1Char('1');
    }
    const QString quiet(symbol.quietZone, QLatin1Char('0'));
    QCOMPARE(covered, quiet + symbol.modules + quiet);
}

// The bars end where the text band starts: 24 % of the inset height, at most
// 20 mm. Probed down the column of an EAN-13's first guard bar at 10 px/mm.
void TestElementPainter::textBand_data()
{
    QTest::addColumn<double>("fieldHeight");
    QTest::addColumn<bool>("showText");
    QTest::addColumn<double>("barsBottom"); // mm below the field's top

    QTest::newRow("11 mm with text: 2.4 mm band") << 11.0 << true << 0.5 + 10 - 2.4;
    QTest::newRow("30 mm with text: 6.96 mm band") << 30.0 << true << 0.5 + 29 - 6.96;
    QTest::newRow("101 mm with text: 20 mm band") << 101.0 << true << 0.5 + 100 - 20;
    QTest::newRow("11 mm without text: full height") << 11.0 << false << 10.5;
}

void TestElementPainter::textBand()
{
    QFETCH(double, fieldHeight);
    QFETCH(bool, showText);
    QFETCH(double, barsBottom);

    const double pxPerMm = 10;
    const QRectF fieldRect(0, 0, 40, fieldHeight);
    bool drawn = false;
    const QImage image = paintedImage(QSizeF(40, fieldHeight), pxPerMm, [&](QPainter &p) {
        const TemplateField field = barcodeField(QStringLiteral("ean13"), QStringLiteral("400638133393"), showText);
        drawn = paintField(p, fieldRect, field, QJsonObject());
    });
    QVERIFY(drawn);

    const int column = int((0.5 + 39.0 / 95 / 2) * pxPerMm); // middle of module 0
    int y = int(std::ceil(0.5 * pxPerMm));
    QVERIFY(isDark(image.pixel(column, y)));
    while (y < image.height() && isDark(image.pixel(column, y)))
        ++y;
    QVERIFY2(std::abs(y - barsBottom * pxPerMm) <= 1,
             qPrintable(QStringLiteral("bars end at %1 px, expected %2 px").arg(y).arg(barsBottom * pxPerMm)));

    // Below the bars, the text line.
    if (showText) {
        const QRect band = pixelRect(QRectF(0.5, barsBottom, 39, fieldHeight - 0.5 - barsBottom), pxPerMm);
        QVERIFY(!inkBounds(image, band.adjusted(0, 1, 0, 0)).isNull());
    }
}

// The line under the bars shows the encoder's text: the EAN-13 digits with
// their check digit, Code 39 upper-cased, Code 128 as given. Measured as the
// width of its ink against the painter's font at the band's pixel size, in a
// 90 × 51 mm field (12 mm band, 8 mm letters) at 8 px/mm.
void TestElementPainter::humanReadableLine_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("shown");

    QTest::newRow("ean13 with check digit") << "ean13" << "400638133393" << "4006381333931";
    QTest::newRow("upca 12 digits") << "upca" << "03600029145" << "036000291452";
    QTest::newRow("code39 upper-cased") << "code39" << "abc" << "ABC";
    QTest::newRow("code128 as given") << "code128" << "abc" << "abc";
}

void TestElementPainter::humanReadableLine()
{
    QFETCH(QString, format);
    QFETCH(QString, data);
    QFETCH(QString, shown);

    const double pxPerMm = 8;
    const QRectF fieldRect(0, 0, 90, 51);
    QFont font;
    bool drawn = false;
    const QImage image = paintedImage(QSizeF(90, 51), pxPerMm, [&](QPainter &p) {
        font = p.font();
        drawn = paintField(p, fieldRect, barcodeField(format, data, true), QJsonObject());
    });
    QVERIFY(drawn);
    const double band = 12;
    const QRect bandPx = pixelRect(QRectF(0.5, 50.5 - band, 89, band), pxPerMm).adjusted(0, 1, 0, 0);
    const QRect ink = inkBounds(image, bandPx);
    QVERIFY(!ink.isNull());

    // 8 mm letters are 64 px on this image.
    font.setPixelSize(int(8 * pxPerMm));
    const double expectedWidth = QFontMetricsF(font).boundingRect(shown).width();
    QVERIFY2(std::abs(ink.width() - expectedWidth) <= 0.02 * expectedWidth + 2,
             qPrintable(QStringLiteral("text line %1 px wide, %2 px expected").arg(ink.width()).arg(expectedWidth)));
    QVERIFY(std::abs(ink.center().x() - bandPx.center().x()) <= 0.02 * expectedWidth + 2);
    QVERIFY(std::abs(ink.center().y() - bandPx.center().y()) <= 0.1 * bandPx.height());
}

void TestElementPainter::qrDecodes_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("decoded");

    QTest::newRow("address") << "https://vellumor.example/card/000123" << "https://vellumor.example/card/000123";
    QTest::newRow("digits") << "012345678901234567890" << "012345678901234567890";
    QTest::newRow("upper case and symbols") << "VDP-42 $%*+./:" << "VDP-42 $%*+./:";
    QTest::newRow("non-ASCII letters as UTF-8") << "Gr\u00fc\u00dfe aus K\u00f6ln, \u00c6r\u00f8 \u2013 \u6771\u4eac"
                                                << "Gr\u00fc\u00dfe aus K\u00f6ln, \u00c6r\u00f8 \u2013 \u6771\u4eac";
    QTest::newRow("empty is a single space") << "" << " ";
    // A NUL byte from a data file must not cut the payload short.
    QTest::newRow("NUL byte kept") << QStringLiteral("card\u00001") << QStringLiteral("card\u00001");
    QTest::newRow("long text, high version") << QString(600, QLatin1Char('q')) << QString(600, QLatin1Char('q'));
}

void TestElementPainter::qrDecodes()
{
    REQUIRE_ZBAR();
    QFETCH(QString, data);
    QFETCH(QString, decoded);

    bool drawn = false;
    const QImage image = paintedImage(QSizeF(60, 60), 11.811, [&](QPainter &p) {
        drawn = paintField(p, QRectF(5, 5, 50, 50), qrField(data), QJsonObject());
    });
    QVERIFY(drawn);
    const Decoded result = decodeWithZbar(image);
    QVERIFY2(result.ok, qPrintable(result.problem));
    QCOMPARE(result.text, decoded);
}

// A version 1 symbol (21 modules + 2 × 4 quiet) drawn with 4 px modules at
// 8 px/mm in a rectangle longer one way: the white square is centred and the
// dark modules start 4 modules in from its edges.
void TestElementPainter::qrGeometry_data()
{
    QTest::addColumn<QRectF>("rect"); // the inset rectangle handed to the symbol

    const double side = 29 * 4 / 8.0;
    QTest::newRow("wide") << QRectF(2, 3, 30, side);
    QTest::newRow("tall") << QRectF(2, 3, side, 25);
    QTest::newRow("square") << QRectF(2, 3, side, side);
}

void TestElementPainter::qrGeometry()
{
    QFETCH(QRectF, rect);

    const double pxPerMm = 8;
    const int modulePx = 4;
    const int size = qrcodegen::QrCode::encodeText("A", qrcodegen::QrCode::Ecc::MEDIUM).getSize();
    QCOMPARE(size, 21);
    const QRectF fieldRect = rect.adjusted(-0.5, -0.5, 0.5, 0.5);
    bool drawn = false;
    const QImage image = paintedImage(
        QSizeF(40, 35), pxPerMm,
        [&](QPainter &p) { drawn = paintField(p, fieldRect, qrField(QStringLiteral("A")), QJsonObject()); }, kGround);
    QVERIFY(drawn);

    const double side = std::min(rect.width(), rect.height());
    const QRectF squareMm(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    const QRect square = pixelRect(squareMm, pxPerMm);
    QCOMPARE(square.width(), (size + 8) * modulePx);

    // Dark modules sit inside the 4-module border; the finder patterns put
    // dark modules on all four edges of the symbol proper.
    const QRect symbol = square.adjusted(4 * modulePx, 4 * modulePx, -4 * modulePx, -4 * modulePx);
    QCOMPARE(inkBounds(image), symbol);
    // The border itself is white, not merely unpainted.
    for (int y = square.top(); y <= square.bottom(); ++y) {
        for (int x = square.left(); x <= square.right(); ++x) {
            if (!symbol.contains(x, y) && QColor(image.pixel(x, y)) != QColor(Qt::white))
                QFAIL(qPrintable(QStringLiteral("border pixel %1, %2 is not white").arg(x).arg(y)));
        }
    }
    // Nothing outside the square, so the rest of the rectangle keeps the ground.
    const QRect rectPx = pixelRect(rect, pxPerMm);
    for (const QPoint &probe : {rectPx.topLeft(), rectPx.bottomRight(), QPoint(square.left() - 1, square.center().y()),
                                QPoint(square.right() + 1, square.center().y()),
                                QPoint(square.center().x(), square.top() - 1),
                                QPoint(square.center().x(), square.bottom() + 1)}) {
        if (!square.contains(probe) && image.rect().contains(probe))
            QCOMPARE(QColor(image.pixel(probe)), kGround);
    }
}

// Dark modules that adjoin within a row are one rectangle.
void TestElementPainter::qrRowsAreMerged()
{
    const QString data = QStringLiteral("https://vellumor.example/card/000123");
    const qrcodegen::QrCode qr =
        qrcodegen::QrCode::encodeText(data.toUtf8().constData(), qrcodegen::QrCode::Ecc::MEDIUM);
    int runs = 0;
    for (int row = 0; row < qr.getSize(); ++row) {
        for (int column = 0; column < qr.getSize(); ++column) {
            if (qr.getModule(column, row) && (column == 0 || !qr.getModule(column - 1, row)))
                ++runs;
        }
    }

    const QRectF rect(0, 0, 40, 40);
    bool drawn = false;
    const QList<DrawCall> calls = recordedCalls([&](QPainter &p) { drawn = paintQrCode(p, rect, data); });
    QVERIFY(drawn);
    QCOMPARE(calls.size(), 1 + runs);
    const double module = rect.width() / (qr.getSize() + 8);
    double darkArea = 0;
    for (const DrawCall &call : calls.mid(1)) {
        QCOMPARE(call.brush, QColor(Qt::black));
        QVERIFY(!call.antialiased);
        QVERIFY(std::abs(call.rect.height() - module) < 1e-9);
        darkArea += call.rect.width() * call.rect.height();
    }
    int darkModules = 0;
    for (int row = 0; row < qr.getSize(); ++row) {
        for (int column = 0; column < qr.getSize(); ++column)
            darkModules += qr.getModule(column, row) ? 1 : 0;
    }
    QVERIFY(std::abs(darkArea - darkModules * module * module) < 1e-6);
}

void TestElementPainter::lineThroughMiddle_data()
{
    QTest::addColumn<QRectF>("rect");

    QTest::newRow("10 mm tall: 5 mm below the top") << QRectF(10, 10, 40, 10);
    QTest::newRow("3 mm tall") << QRectF(10, 4, 40, 3);
    QTest::newRow("no height: on the top edge") << QRectF(10, 12, 40, 0);
}

// A 1 mm line at 10 px/mm covers exactly the 10 rows round the middle of the
// box, from the box's left edge to its right edge, and nothing else.
void TestElementPainter::lineThroughMiddle()
{
    QFETCH(QRectF, rect);

    const double pxPerMm = 10;
    GraphicElement line;
    line.type = ElementKind::Line;
    line.strokeWidthMm = 1;
    line.strokeColor = QStringLiteral("#000000");
    const QImage image = paintedImage(QSizeF(60, 30), pxPerMm, [&](QPainter &p) { paintGraphic(p, rect, line); });

    const double middle = (rect.top() + rect.height() / 2) * pxPerMm;
    // Square caps reach half the width past each end.
    const QRect expected(QPoint(int(std::lround((rect.left() - 0.5) * pxPerMm)), int(std::lround(middle - 5))),
                         QPoint(int(std::lround((rect.right() + 0.5) * pxPerMm)) - 1,
                                int(std::lround(middle + 5)) - 1));
    QCOMPARE(inkBounds(image), expected);
}

// Probes in mm on a 4 × 2 cm box at (10, 10), drawn at 10 px/mm with a 0.6 mm
// stroke: the stroke colour on the outline, the fill (or white) inside.
void TestElementPainter::shapes_data()
{
    QTest::addColumn<ElementKind>("type");
    QTest::addColumn<QString>("fill");
    QTest::addColumn<QList<QPointF>>("strokePoints");
    QTest::addColumn<QList<QPointF>>("fillPoints");
    QTest::addColumn<QList<QPointF>>("whitePoints");

    const QPointF centre(30, 20), topMiddle(30, 10), leftMiddle(10, 20), corner(11, 11), outside(5, 5);
    QTest::newRow("rectangle, transparent")
        << ElementKind::Rectangle << "transparent" << QList<QPointF>{topMiddle, leftMiddle, QPointF(10, 10)} << QList<QPointF>{}
        << QList<QPointF>{centre, corner, outside};
    QTest::newRow("rectangle, filled") << ElementKind::Rectangle << "#10a050" << QList<QPointF>{topMiddle, leftMiddle}
                                       << QList<QPointF>{centre, corner} << QList<QPointF>{outside};
    QTest::newRow("ellipse, transparent") << ElementKind::Ellipse << "transparent" << QList<QPointF>{topMiddle, leftMiddle}
                                          << QList<QPointF>{} << QList<QPointF>{centre, corner, outside};
    QTest::newRow("ellipse, filled") << ElementKind::Ellipse << "#10a050" << QList<QPointF>{topMiddle, leftMiddle}
                                     << QList<QPointF>{centre} << QList<QPointF>{corner, outside};
    QTest::newRow("a field kind draws nothing") << ElementKind::Text << "#10a050" << QList<QPointF>{}
                                                << QList<QPointF>{} << QList<QPointF>{centre, topMiddle, corner};
}

void TestElementPainter::shapes()
{
    QFETCH(ElementKind, type);
    QFETCH(QString, fill);
    QFETCH(QList<QPointF>, strokePoints);
    QFETCH(QList<QPointF>, fillPoints);
    QFETCH(QList<QPointF>, whitePoints);

    const double pxPerMm = 10;
    GraphicElement graphic;
    graphic.type = type;
    graphic.fillColor = fill;
    graphic.strokeColor = QStringLiteral("#c02020");
    graphic.strokeWidthMm = 0.6;
    const QImage image = paintedImage(QSizeF(60, 40), pxPerMm,
                                      [&](QPainter &p) { paintGraphic(p, QRectF(10, 10, 40, 20), graphic); });
    auto at = [&](QPointF mm) { return QColor(image.pixel(int(mm.x() * pxPerMm), int(mm.y() * pxPerMm))); };
    for (const QPointF &point : strokePoints)
        QCOMPARE(at(point), QColor(0xc0, 0x20, 0x20));
    for (const QPointF &point : fillPoints)
        QCOMPARE(at(point), QColor(0x10, 0xa0, 0x50));
    for (const QPointF &point : whitePoints)
        QCOMPARE(at(point), QColor(Qt::white));
}

// The stroke is millimetres of the card: twice the scale, twice the pixels;
// widths below 0.05 mm are drawn at 0.05 mm.
void TestElementPainter::strokeWidthScales_data()
{
    QTest::addColumn<double>("pxPerMm");
    QTest::addColumn<double>("strokeWidthMm");
    QTest::addColumn<int>("pixels");

    QTest::newRow("1 mm at 4 px/mm") << 4.0 << 1.0 << 4;
    QTest::newRow("1 mm at 8 px/mm") << 8.0 << 1.0 << 8;
    QTest::newRow("0.35 mm at 40 px/mm") << 40.0 << 0.35 << 14;
    QTest::newRow("0 mm is 0.05 mm") << 40.0 << 0.0 << 2;
    QTest::newRow("negative is 0.05 mm") << 40.0 << -1.0 << 2;
}

void TestElementPainter::strokeWidthScales()
{
    QFETCH(double, pxPerMm);
    QFETCH(double, strokeWidthMm);
    QFETCH(int, pixels);

    GraphicElement line;
    line.strokeWidthMm = strokeWidthMm;
    line.strokeColor = QStringLiteral("#000000");
    const QImage image = paintedImage(QSizeF(12, 12), pxPerMm,
                                      [&](QPainter &p) { paintGraphic(p, QRectF(1, 1, 10, 10), line); });
    QCOMPARE(inkBounds(image).height(), pixels);
}

// Spacing up to 0.01 mm is one grid of lines; above it every cell is its own
// rectangle with gaps of the spacing and half of it at the edges. Rectangles
// are filled with the fill colour, or not at all for "transparent" (no
// invisible fill for a PDF to carry).
void TestElementPainter::tableGrid_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<double>("spacing");
    QTest::addColumn<QString>("fill");
    QTest::addColumn<QList<QRectF>>("rects");
    QTest::addColumn<QList<QLineF>>("lines");

    // The box is (10, 20) 60 × 30 mm.
    const QRectF box(10, 20, 60, 30);
    const QList<QLineF> grid3x2 = {QLineF(10, 30, 70, 30), QLineF(10, 40, 70, 40), QLineF(40, 20, 40, 50)};
    QTest::newRow("spacing 0: grid") << 3 << 2 << 0.0 << "#fef3c7" << QList<QRectF>{box} << grid3x2;
    QTest::newRow("spacing 0.01: grid") << 3 << 2 << 0.01 << "#fef3c7" << QList<QRectF>{box} << grid3x2;
    QTest::newRow("negative spacing: grid, transparent")
        << 3 << 2 << -2.0 << "transparent" << QList<QRectF>{box} << grid3x2;
    QList<QRectF> cells;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 2; ++c)
            cells.append(QRectF(10 + c * 30 + 0.01, 20 + r * 10 + 0.01, 30 - 0.02, 10 - 0.02));
    }
    QTest::newRow("spacing 0.02: cells, row by row") << 3 << 2 << 0.02 << "#fef3c7" << cells << QList<QLineF>{};
    QTest::newRow("spacing 4: cells")
        << 1 << 2 << 4.0 << "transparent" << QList<QRectF>{QRectF(12, 22, 26, 26), QRectF(42, 22, 26, 26)}
        << QList<QLineF>{};
    QTest::newRow("spacing fills a pitch: nothing")
        << 3 << 2 << 10.0 << "#fef3c7" << QList<QRectF>{} << QList<QLineF>{};
    QTest::newRow("no rows or columns: one cell")
        << 0 << -4 << 0.0 << "#fef3c7" << QList<QRectF>{box} << QList<QLineF>{};
}

void TestElementPainter::tableGrid()
{
    QFETCH(int, rows);
    QFETCH(int, columns);
    QFETCH(double, spacing);
    QFETCH(QString, fill);
    QFETCH(QList<QRectF>, rects);
    QFETCH(QList<QLineF>, lines);

    GraphicElement table;
    table.type = ElementKind::Table;
    table.rows = rows;
    table.columns = columns;
    table.cellSpacingMm = spacing;
    table.fillColor = fill;
    const QList<DrawCall> calls = recordedCalls([&](QPainter &p) { paintGraphic(p, QRectF(10, 20, 60, 30), table); });

    const QList<DrawCall> drawnRects = callsOfKind(calls, DrawCall::Rect);
    const QList<DrawCall> drawnLines = callsOfKind(calls, DrawCall::Line);
    QCOMPARE(drawnRects.size() + drawnLines.size(), calls.size());
    QCOMPARE(drawnRects.size(), rects.size());
    for (int i = 0; i < rects.size(); ++i) {
        QVERIFY2(std::abs(drawnRects[i].rect.left() - rects[i].left()) < 1e-9
                     && std::abs(drawnRects[i].rect.top() - rects[i].top()) < 1e-9
                     && std::abs(drawnRects[i].rect.width() - rects[i].width()) < 1e-9
                     && std::abs(drawnRects[i].rect.height() - rects[i].height()) < 1e-9,
                 qPrintable(QStringLiteral("cell %1").arg(i)));
        QVERIFY(drawnRects[i].pen);
        QCOMPARE(drawnRects[i].brush, fill == QLatin1String("transparent") ? QColor() : QColor(fill));
    }
    QCOMPARE(drawnLines.size(), lines.size());
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(drawnLines[i].line, lines[i]);
}

// Symbol fields take the room from their position to the card's edges,
// within fixed bounds; a card of 90 × 54 mm.
void TestElementPainter::fittedSymbolSize_data()
{
    QTest::addColumn<ElementKind>("type");
    QTest::addColumn<QPointF>("position");
    QTest::addColumn<QSizeF>("size");

    QTest::newRow("qrcode 30 right, 20 below: 20 x 20") << ElementKind::QrCode << QPointF(60, 34) << QSizeF(20, 20);
    QTest::newRow("qrcode 3 right: 5 x 5") << ElementKind::QrCode << QPointF(87, 5) << QSizeF(5, 5);
    QTest::newRow("qrcode plenty of room: 25 x 25") << ElementKind::QrCode << QPointF(5, 5) << QSizeF(25, 25);
    QTest::newRow("qrcode beyond the card: 5 x 5") << ElementKind::QrCode << QPointF(95, 60) << QSizeF(5, 5);
    QTest::newRow("barcode 60 right, 2 below: 45 x 3") << ElementKind::Barcode << QPointF(30, 52) << QSizeF(45, 3);
    QTest::newRow("barcode 20 right, 10 below") << ElementKind::Barcode << QPointF(70, 44) << QSizeF(20, 10);
    QTest::newRow("barcode plenty of room: 45 x 14") << ElementKind::Barcode << QPointF(5, 5) << QSizeF(45, 14);
    QTest::newRow("barcode 4 right: 5 wide") << ElementKind::Barcode << QPointF(86, 5) << QSizeF(5, 14);
}

void TestElementPainter::fittedSymbolSize()
{
    QFETCH(ElementKind, type);
    QFETCH(QPointF, position);
    QFETCH(QSizeF, size);

    TemplateField field;
    field.type = type;
    field.xMm = position.x();
    field.yMm = position.y();
    QCOMPARE(fittedFieldSize(field, 90, 54, {}), size);
}

// A text box is sized for its widest candidate text: each row's field must
// get the same box as a plain field whose name is the text named in the row.
// The card is large enough that no room limit applies.
void TestElementPainter::fittedTextCandidates_data()
{
    QTest::addColumn<TemplateField>("field");
    QTest::addColumn<QList<QJsonObject>>("records");
    QTest::addColumn<QString>("widest");

    TemplateField sequence;
    sequence.id = 7;
    sequence.type = ElementKind::Sequence;
    QTest::newRow("sequence: prefix and six nines") << sequence << QList<QJsonObject>{} << "No.999999";
    sequence.sequenceDigits = 25;
    QTest::newRow("sequence: digits clamped to 18")
        << sequence << QList<QJsonObject>{} << "No." + QString(18, QLatin1Char('9'));
    sequence.sequenceDigits = 0;
    sequence.sequencePrefix.clear();
    QTest::newRow("sequence: at least one digit") << sequence << QList<QJsonObject>{} << "9";
    sequence.sequenceDigits = 4;
    sequence.dataColumn = QStringLiteral("Name");
    QTest::newRow("sequence ignores its data column")
        << sequence << QList<QJsonObject>{{{"Name", "A much longer bound value"}}} << "9999";

    TemplateField scratch;
    scratch.type = ElementKind::Scratch;
    scratch.scratchPrizesJson = QStringLiteral(
        R"([{"name":"A","value":1},{"name":"Weekend for two","value":1},{"name":"Mug","value":3}])");
    QTest::newRow("scratch: widest prize") << scratch << QList<QJsonObject>{} << "Weekend for two";
    scratch.scratchPrizesJson = QStringLiteral("not a list");
    scratch.name = QStringLiteral("Prize");
    QTest::newRow("scratch: unreadable prizes fall back to the name") << scratch << QList<QJsonObject>{} << "Prize";

    TemplateField bound;
    bound.dataColumn = QStringLiteral("source:3:Holder");
    bound.name = QStringLiteral("Ignored name that is long");
    const QList<QJsonObject> holders = {{{"source:3:Holder", "Ann"}},
                                        {{"source:3:Holder", "Bartholomew Smythe"}},
                                        {{"source:3:Holder", ""}},
                                        {{"Other", "An even longer value of another column"}}};
    QTest::newRow("bound: widest record value") << bound << holders << "Bartholomew Smythe";
    QTest::newRow("bound: only empty values give the marker")
        << bound << QList<QJsonObject>{{{"source:3:Holder", ""}}} << "{{source:3:Holder}}";
    QTest::newRow("bound: no records give the marker") << bound << QList<QJsonObject>{} << "{{source:3:Holder}}";

    TemplateField named;
    named.name = QStringLiteral("Ticket holder");
    QTest::newRow("unbound: the name") << named << QList<QJsonObject>{{{"Ticket holder", "x"}}} << "Ticket holder";
    named.name.clear();
    QTest::newRow("unbound, no name: Variable Field") << named << QList<QJsonObject>{} << "Variable Field";
    named.type = fieldKindFromKey(u"barcodes").value_or(ElementKind::Text); // as the store loads it
    named.name = QStringLiteral("Other kinds are text");
    QTest::newRow("unknown type: as text") << named << QList<QJsonObject>{} << "Other kinds are text";
}

void TestElementPainter::fittedTextCandidates()
{
    QFETCH(TemplateField, field);
    QFETCH(QList<QJsonObject>, records);
    QFETCH(QString, widest);

    TemplateField reference;
    reference.name = widest;
    reference.fontFamily = field.fontFamily;
    reference.fontSizePt = field.fontSizePt;
    reference.bold = field.bold;
    const QSizeF fitted = fittedFieldSize(field, 1000, 1000, CardTable::fromObjects(records));
    QCOMPARE(fitted, fittedFieldSize(reference, 1000, 1000, {}));

    // A box that holds the text at the canvas scale, with room to spare in
    // height; a text one letter longer needs a wider box.
    QVERIFY(fitted.width() > 5);
    reference.name = widest + QLatin1Char('W');
    QVERIFY(fittedFieldSize(reference, 1000, 1000, {}).width() > fitted.width());
}

void TestElementPainter::fittedTextClampsToRoom()
{
    TemplateField field;
    field.name = QStringLiteral("A name far too long to fit in the room left on the card");
    field.fontSizePt = 12;
    field.xMm = 5;
    field.yMm = 5;
    const QSizeF free = fittedFieldSize(field, 1000, 1000, {});
    QVERIFY(free.width() > 100);
    QVERIFY(free.height() > 3 && free.height() < 10);

    // Bigger letters, a taller and wider box.
    field.fontSizePt = 24;
    const QSizeF big = fittedFieldSize(field, 1000, 1000, {});
    QVERIFY(big.height() > free.height());
    QVERIFY(big.width() > free.width());

    // The room to the card's edges caps the box, but never below 5 × 3 mm.
    QCOMPARE(fittedFieldSize(field, 90, 54, {}).width(), 85.0);
    field.xMm = 70;
    field.yMm = 50;
    QCOMPARE(fittedFieldSize(field, 90, 54, {}), QSizeF(20, 4));
    field.xMm = 88;
    field.yMm = 53;
    QCOMPARE(fittedFieldSize(field, 90, 54, {}), QSizeF(5, 3));
    field.xMm = 120;
    QCOMPARE(fittedFieldSize(field, 90, 54, {}).width(), 5.0);
}

// Every painter leaves transform, pen, brush, font, clip, hints and opacity
// as it found them, on success and on failure.
void TestElementPainter::painterStateRestored_data()
{
    QTest::addColumn<QString>("operation");

    QTest::newRow("text field") << "text";
    QTest::newRow("barcode field with text line") << "barcode";
    QTest::newRow("invalid barcode") << "invalid barcode";
    QTest::newRow("qrcode field") << "qrcode";
    QTest::newRow("line") << "line";
    QTest::newRow("ellipse") << "ellipse";
    QTest::newRow("table of cells") << "table";
    QTest::newRow("grid table") << "grid";
}

void TestElementPainter::painterStateRestored()
{
    QFETCH(QString, operation);

    QImage image = blankImage(QSizeF(60, 40), 4, Qt::white);
    QPainter painter(&image);
    painter.translate(3, 2);
    painter.scale(4, 4);
    painter.setPen(QPen(QColor(200, 10, 10), 0.7, Qt::DashLine, Qt::RoundCap, Qt::MiterJoin));
    painter.setBrush(QBrush(QColor(10, 200, 10), Qt::Dense4Pattern));
    painter.setClipRect(QRectF(1, 1, 50, 30));
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    QFont font = painter.font();
    font.setPixelSize(17);
    font.setItalic(true);
    painter.setFont(font);
    painter.setOpacity(0.75);

    const QTransform transform = painter.transform();
    const QPen pen = painter.pen();
    const QBrush brush = painter.brush();
    const QRegion clip = painter.clipRegion();
    const QPainter::RenderHints hints = painter.renderHints();

    const QRectF rect(2, 2, 40, 20);
    GraphicElement graphic;
    graphic.fillColor = QStringLiteral("#ffffff");
    if (operation == QLatin1String("text")) {
        QVERIFY(paintField(painter, rect, textField(QStringLiteral("Text")), QJsonObject()));
    } else if (operation == QLatin1String("barcode")) {
        QVERIFY(paintField(painter, rect, barcodeField(QStringLiteral("ean13"), QStringLiteral("400638133393"), true),
                           QJsonObject()));
    } else if (operation == QLatin1String("invalid barcode")) {
        const TemplateField invalid = barcodeField(QStringLiteral("ean8"), QStringLiteral("x"), true);
        QVERIFY(!paintField(painter, rect, invalid, QJsonObject()));
    } else if (operation == QLatin1String("qrcode")) {
        QVERIFY(paintField(painter, rect, qrField(QStringLiteral("state")), QJsonObject()));
    } else {
        graphic.type = graphicKindFromKey(operation == QLatin1String("grid") ? QStringLiteral("table") : operation).value();
        graphic.cellSpacingMm = operation == QLatin1String("table") ? 1 : 0;
        paintGraphic(painter, rect, graphic);
    }

    QCOMPARE(painter.transform(), transform);
    QCOMPARE(painter.pen(), pen);
    QCOMPARE(painter.brush(), brush);
    QCOMPARE(painter.font(), font);
    QVERIFY(painter.hasClipping());
    QCOMPARE(painter.clipRegion(), clip);
    QCOMPARE(painter.renderHints(), hints);
    QCOMPARE(painter.opacity(), 0.75);
}

// Values no panel could set, read from an old or hand-edited database: the
// painters draw a bounded number of shapes at bounded coordinates, so that
// neither the canvas nor an export hangs or writes a page no press can read.
void TestElementPainter::storedValuesStayBounded_data()
{
    QTest::addColumn<std::function<void(QPainter &)>>("paint");

    GraphicElement table;
    table.type = ElementKind::Table;
    table.rows = 1000000000;
    table.columns = 1000000000;
    QTest::newRow("a table of 1e9 x 1e9 cells")
        << std::function<void(QPainter &)>([=](QPainter &p) { paintGraphic(p, QRectF(10, 10, 60, 30), table); });
    GraphicElement spaced = table;
    spaced.cellSpacingMm = 1e9;
    QTest::newRow("the same with a spacing of 1e9 mm")
        << std::function<void(QPainter &)>([=](QPainter &p) { paintGraphic(p, QRectF(10, 10, 60, 30), spaced); });
    GraphicElement far;
    far.type = ElementKind::Rectangle;
    QTest::newRow("a rectangle at x 1e20 mm")
        << std::function<void(QPainter &)>([=](QPainter &p) { paintGraphic(p, QRectF(1e20, 5, 1e20, 10), far); });
    QTest::newRow("a rectangle of no number")
        << std::function<void(QPainter &)>([=](QPainter &p) { paintGraphic(p, QRectF(qQNaN(), 5, 10, qInf()), far); });
    const TemplateField text = textField(QStringLiteral("Member 0041"));
    QTest::newRow("a text at x 1e20 mm")
        << std::function<void(QPainter &)>([=](QPainter &p) { paintField(p, QRectF(1e20, 5, 40, 10), text, {}); });
    TemplateField sequence;
    sequence.type = ElementKind::Sequence;
    sequence.fontSizePt = 4;
    sequence.sequencePrefix = QString(1 << 20, QLatin1Char('A'));
    QJsonObject prepared;
    prepared.insert(sequenceKey(sequence.id), QString(sequence.sequencePrefix + QStringLiteral("000001")));
    QTest::newRow("a sequence prefix of 1 MB") << std::function<void(QPainter &)>([=](QPainter &p) {
        paintField(p, QRectF(5, 5, 40, 10), sequence, RecordValues(prepared));
    });
    const TemplateField code = barcodeField(QStringLiteral("code128"), QString(1 << 20, QLatin1Char('7')));
    QTest::newRow("a barcode of 1 MB")
        << std::function<void(QPainter &)>([=](QPainter &p) { paintField(p, QRectF(5, 5, 40, 10), code, {}); });
}

void TestElementPainter::storedValuesStayBounded()
{
    QFETCH(std::function<void(QPainter &)>, paint);

    // A box of 100 km around the card is far beyond any card and still a
    // number every PDF reader takes.
    const QRectF reach(-1e5, -1e5, 2e5, 2e5);
    const QList<DrawCall> calls = recordedCalls(paint);
    QVERIFY2(calls.size() <= 400, qPrintable(QString::number(calls.size())));
    for (const DrawCall &call : calls) {
        const QRectF shape = call.kind == DrawCall::Line ? QRectF(call.line.p1(), call.line.p2()).normalized()
                                                         : call.rect;
        QVERIFY2(reach.contains(shape.topLeft()) && reach.contains(shape.bottomRight()), qPrintable(QStringLiteral("%1, %2 %3 × %4")
                                                       .arg(shape.x())
                                                       .arg(shape.y())
                                                       .arg(shape.width())
                                                       .arg(shape.height())));
    }
}

// A stroke of 1e9 mm is drawn at the widest a panel allows, 10 mm: the card
// around the rectangle stays white.
void TestElementPainter::hugeStrokeKeepsItsBox()
{
    GraphicElement rectangle;
    rectangle.type = ElementKind::Rectangle;
    rectangle.strokeColor = QStringLiteral("#000000");
    rectangle.strokeWidthMm = 1e9;
    const QImage image = paintedImage(QSizeF(90, 54), 2, [&](QPainter &p) {
        paintGraphic(p, QRectF(30, 20, 30, 14), rectangle);
    });
    // The outline reaches 5 mm beyond the box on each side.
    QCOMPARE(inkBounds(image), pixelRect(QRectF(25, 15, 40, 24), 2));
}

void TestElementPainter::fontSizeBelowTheSmallestDrawsTheSmallest_data()
{
    QTest::addColumn<double>("fontSizePt");
    QTest::newRow("0 pt") << 0.0;
    QTest::newRow("-12 pt") << -12.0;
    QTest::newRow("no number") << qQNaN();
    QTest::newRow("1 pt") << 1.0;
}

// A stored font size below 4 pt (or none) draws as 4 pt, not as a speck or
// nothing at all.
void TestElementPainter::fontSizeBelowTheSmallestDrawsTheSmallest()
{
    QFETCH(double, fontSizePt);
    const auto inkOf = [](double size) {
        const TemplateField field = textField(QStringLiteral("HELLO"), size);
        return inkBounds(paintedImage(QSizeF(60, 20), 10, [&](QPainter &p) {
            paintField(p, QRectF(0, 0, 60, 20), field, {});
        }));
    };
    const QRect smallest = inkOf(4);
    QVERIFY(!smallest.isNull());
    QCOMPARE(inkOf(fontSizePt), smallest);
}

QTEST_MAIN(TestElementPainter)
#include "tst_elementpainter.moc"
