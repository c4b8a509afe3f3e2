#include "render/elementpainter.h"

#include "barcode/code128.h"
#include "barcode/linearcodes.h"
#include "model/elementlimits.h"
#include "model/fieldvalues.h"
#include "model/prizes.h"
#include "render/textoutlines.h"

#include <QFont>
#include <QFontMetricsF>
#include <QJsonValue>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <QVarLengthArray>
#include <QVariant>

#include <qrcodegen/qrcodegen.hpp>

#include <algorithm>
#include <cmath>
#include <optional>
#include <type_traits>
#include <vector>

namespace {

constexpr double kMmPerPoint = 25.4 / 72.0;
// Code 128 needs 10 modules of white on each side of its bars.
constexpr int kCode128QuietZone = 10;
// A QR code needs a white border of 4 modules (ISO/IEC 18004).
constexpr int kQrQuietZone = 4;
// Above this a pixel size means nothing on any target; it only keeps an
// absurd stored font size from overflowing the integer pixel size.
constexpr double kMaxPixelSize = 100000;

// Whatever reaches the painters is bounded here too, so that a stored value
// no panel could set neither hangs nor blacks out a sheet: coordinates beyond
// ten of the largest cards are drawn at that bound (clipped away on any card),
// and a text longer than any card can show in one line at the smallest font
// size is cut (a barcode that long is refused).
constexpr double kFarthestMm = 10 * elementlimits::maximumLengthMm;
constexpr qsizetype kLongestText = 10000;

// Bars are drawn in one call; a typical symbol has fewer runs than this.
using BarRects = QVarLengthArray<QRectF, 128>;

bool hasArea(const QRectF &rect)
{
    // Written so that NaN sizes count as empty too.
    return rect.width() > 0 && rect.height() > 0;
}

// Each coordinate within ± kFarthestMm, each side within 0 … kFarthestMm; a
// value that is not a number counts as 0.
QRectF boundedRect(const QRectF &rect)
{
    const auto bounded = [](double value, double low) {
        return std::isnan(value) ? 0.0 : std::clamp(value, low, kFarthestMm);
    };
    return QRectF(bounded(rect.x(), -kFarthestMm), bounded(rect.y(), -kFarthestMm), bounded(rect.width(), 0),
                  bounded(rect.height(), 0));
}

template<typename T>
T withinOr(T value, T minimum, T maximum)
{
    if constexpr (std::is_floating_point_v<T>) {
        if (std::isnan(value))
            return minimum;
    }
    return std::clamp(value, minimum, maximum);
}

QRectF inset(const QRectF &rect, double horizontal, double vertical)
{
    return QRectF(rect.x() + horizontal, rect.y() + vertical, rect.width() - 2 * horizontal,
                  rect.height() - 2 * vertical);
}

// Rounded half away from zero, kept within 1 … kMaxPixelSize.
int pixelSize(double pixels)
{
    if (!(pixels >= 1))
        return 1;
    return int(std::lround(std::min(pixels, kMaxPixelSize)));
}

QFont fieldFont(const TemplateField &field, int pixels)
{
    QFont font(field.fontFamily);
    font.setWeight(field.bold ? QFont::Bold : QFont::Normal);
    font.setPixelSize(pixels);
    return font;
}

// The glyph outlines this thread has drawn, kept for the next texts. One per
// thread because paintField is called from wherever painting happens (canvas
// items, the preview, every export thread) with no place to pass a cache in,
// and because Qt's font engines, which the outlines come from, are per thread
// too. It holds only shapes (no font objects) within fixed limits, so what it
// keeps cannot change what a later paint draws, only how fast.
TextOutlines &threadTextOutlines()
{
    thread_local TextOutlines outlines;
    return outlines;
}

// The text is laid out in device coordinates at a pixel size taken from the
// painter's scale, so 10 pt is 3.53 mm tall at every zoom and on every
// device, and it is filled as outlines so a PDF carries shapes, not a font.
void paintText(QPainter &painter, const QRectF &rect, const TemplateField &field, const QString &text)
{
    const QRectF box = inset(rect, 1, 0.5);
    if (!hasArea(box))
        return;

    const QTransform transform = painter.combinedTransform();
    const QRectF device = transform.mapRect(box);
    const double scale = std::max(std::min(std::hypot(transform.m11(), transform.m12()),
                                           std::hypot(transform.m21(), transform.m22())),
                                  0.01);
    const double sizeMm = withinOr(field.fontSizePt, elementlimits::minimumFontSizePt, elementlimits::maximumFontSizePt)
        * kMmPerPoint;
    const QFont font = fieldFont(field, pixelSize(sizeMm * scale));
    const QFontMetricsF metrics(font);
    const TextOutlines::SetText set = threadTextOutlines().set(font, text.left(kLongestText));
    const double advance = set.advance;

    double x = device.left();
    switch (field.alignment.horizontal) {
    case HorizontalAlignment::Left:
        break;
    case HorizontalAlignment::Center:
        x += (device.width() - advance) * 0.5;
        break;
    case HorizontalAlignment::Right:
        x += device.width() - advance;
        break;
    }
    double y = device.top() + metrics.ascent();
    switch (field.alignment.vertical) {
    case VerticalAlignment::Top:
        break;
    case VerticalAlignment::Center:
        y = device.top() + (device.height() - metrics.height()) * 0.5 + metrics.ascent();
        break;
    case VerticalAlignment::Bottom:
        y = device.top() + device.height() - metrics.descent();
        break;
    }

    painter.save();
    painter.resetTransform();
    painter.fillPath(TextOutlines::placed(set, QPointF(x, y)), QColor(field.colorHex));
    painter.restore();
}

// Lays down the white ground and sets up solid black bars. Antialiasing is
// off so that adjoining modules leave no seams.
void beginSymbol(QPainter &painter, const QRectF &ground)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(ground, Qt::white);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
}

void endSymbol(QPainter &painter, const BarRects &bars)
{
    painter.drawRects(bars.constData(), int(bars.size()));
    painter.restore();
}

// Bar from module `first` up to (not including) module `end`. Both edges come
// from module indices, so neighbouring bars and spaces share their edges exactly.
QRectF barRect(const QRectF &rect, double moduleWidth, qsizetype first, qsizetype end)
{
    const double left = rect.x() + double(first) * moduleWidth;
    const double right = rect.x() + double(end) * moduleWidth;
    return QRectF(left, rect.y(), right - left, rect.height());
}

std::optional<qrcodegen::QrCode> encodeQr(const QString &data)
{
    const QByteArray utf8 = data.isEmpty() ? QByteArrayLiteral(" ") : data.toUtf8();
    try {
        // encodeText stops at a NUL byte; such a payload goes in byte mode,
        // which is what encodeText would choose for it anyway.
        if (utf8.contains('\0')) {
            return qrcodegen::QrCode::encodeBinary(std::vector<std::uint8_t>(utf8.cbegin(), utf8.cend()),
                                                   qrcodegen::QrCode::Ecc::MEDIUM);
        }
        return qrcodegen::QrCode::encodeText(utf8.constData(), qrcodegen::QrCode::Ecc::MEDIUM);
    } catch (const qrcodegen::data_too_long &) {
        return std::nullopt;
    }
}

} // namespace

bool paintField(QPainter &painter, const QRectF &storedRectMm, const TemplateField &field,
                const RecordValues &record)
{
    const QRectF rectMm = boundedRect(storedRectMm);
    if (!hasArea(rectMm))
        return false;
    const QString text = fieldDisplayText(field, record);
    if (field.type == ElementKind::Barcode)
        return paintBarcode(painter, inset(rectMm, 0.5, 0.5), text, field.barcodeFormat, field.barcodeShowText);
    if (field.type == ElementKind::QrCode)
        return paintQrCode(painter, inset(rectMm, 0.5, 0.5), text);
    paintText(painter, rectMm, field, text);
    return true;
}

bool paintBarcode(QPainter &painter, const QRectF &rect, const QString &data, BarcodeFormat format,
                  bool showText)
{
    if (!hasArea(rect) || data.size() > kLongestText)
        return false;
    const double band = showText ? std::min(0.24 * rect.height(), 20.0) : 0.0;
    const QRectF bars(rect.x(), rect.y(), rect.width(), rect.height() - band);

    QString humanReadable = data;
    bool drawn = false;
    if (format != BarcodeFormat::Code128) {
        const ModuleEncoding symbol = barcodeModules(barcodeFormatKey(format), data);
        if (!symbol.ok())
            return false;
        humanReadable = symbol.text;
        drawn = paintModules(painter, bars, symbol.modules);
    } else {
        drawn = paintCode128(painter, bars, data);
    }
    if (!drawn)
        return false;

    if (showText) {
        const QRectF textBand(rect.x(), rect.y() + rect.height() - band, rect.width(), band);
        painter.save();
        painter.fillRect(textBand, Qt::white);
        painter.setPen(Qt::black);
        QFont font = painter.font();
        font.setPixelSize(std::max(1, int(std::lround(0.7 * band))));
        painter.setFont(font);
        painter.drawText(textBand, Qt::AlignCenter, humanReadable);
        painter.restore();
    }
    return true;
}

bool paintModules(QPainter &painter, const QRectF &rect, const QString &modules)
{
    if (!hasArea(rect) || modules.isEmpty())
        return false;
    const qsizetype count = modules.size();
    const double moduleWidth = rect.width() / double(count);

    // A run of bar modules is one rectangle: the same picture with far fewer
    // path operations on a PDF page of many cards.
    BarRects bars;
    for (qsizetype i = 0; i < count;) {
        if (modules.at(i) != QLatin1Char('1')) {
            ++i;
            continue;
        }
        qsizetype end = i + 1;
        while (end < count && modules.at(end) == QLatin1Char('1'))
            ++end;
        bars.append(barRect(rect, moduleWidth, i, end));
        i = end;
    }
    beginSymbol(painter, rect);
    endSymbol(painter, bars);
    return true;
}

bool paintCode128(QPainter &painter, const QRectF &rect, const QString &data)
{
    if (!hasArea(rect))
        return false;
    const Code128Encoding encoding = encodeCode128(data);
    if (!encoding.ok || encoding.values.isEmpty())
        return false;

    qsizetype total = 2 * kCode128QuietZone;
    for (int value : encoding.values) {
        for (char width : code128Widths(value))
            total += width - '0';
    }
    const double moduleWidth = rect.width() / double(total);

    // Every value's pattern starts with a bar and ends with a space, so each
    // bar element is already a whole run.
    BarRects bars;
    qsizetype module = kCode128QuietZone;
    for (int value : encoding.values) {
        bool bar = true;
        for (char width : code128Widths(value)) {
            const int modules = width - '0';
            if (bar)
                bars.append(barRect(rect, moduleWidth, module, module + modules));
            module += modules;
            bar = !bar;
        }
    }
    beginSymbol(painter, rect);
    endSymbol(painter, bars);
    return true;
}

bool paintQrCode(QPainter &painter, const QRectF &rect, const QString &data)
{
    if (!hasArea(rect))
        return false;
    const std::optional<qrcodegen::QrCode> qr = encodeQr(data);
    if (!qr)
        return false;

    const int size = qr->getSize();
    const double side = std::min(rect.width(), rect.height());
    const QRectF square(rect.x() + (rect.width() - side) / 2, rect.y() + (rect.height() - side) / 2, side, side);
    const double module = side / double(size + 2 * kQrQuietZone);

    // Dark modules that adjoin within a row are one rectangle. Edges come from
    // module indices so that rows and columns meet without gaps.
    auto edge = [&](double origin, int index) { return origin + double(index + kQrQuietZone) * module; };
    BarRects dark;
    for (int row = 0; row < size; ++row) {
        const double top = edge(square.y(), row);
        const double bottom = edge(square.y(), row + 1);
        for (int column = 0; column < size;) {
            if (!qr->getModule(column, row)) {
                ++column;
                continue;
            }
            int end = column + 1;
            while (end < size && qr->getModule(end, row))
                ++end;
            const double left = edge(square.x(), column);
            dark.append(QRectF(left, top, edge(square.x(), end) - left, bottom - top));
            column = end;
        }
    }
    beginSymbol(painter, square);
    endSymbol(painter, dark);
    return true;
}

void paintGraphic(QPainter &painter, const QRectF &storedRectMm, const GraphicElement &graphic)
{
    const QRectF rectMm = boundedRect(storedRectMm);
    const ElementKind type = graphic.type;
    if (!isGraphicKind(type))
        return;

    const double strokeWidth = withinOr(graphic.strokeWidthMm, elementlimits::minimumStrokeWidthMm,
                                        elementlimits::maximumStrokeWidthMm);
    QPen pen(QColor(graphic.strokeColor), strokeWidth, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    pen.setCosmetic(false); // the width is millimetres of the card and scales with it

    painter.save();
    painter.setPen(pen);
    if (graphic.fillColor == QLatin1String("transparent"))
        painter.setBrush(Qt::NoBrush);
    else
        painter.setBrush(QColor(graphic.fillColor));

    const double x = rectMm.x();
    const double y = rectMm.y();
    const double width = rectMm.width();
    const double height = rectMm.height();
    if (type == ElementKind::Line) {
        painter.drawLine(QLineF(x, y + height / 2, x + width, y + height / 2));
    } else if (type == ElementKind::Ellipse) {
        painter.drawEllipse(rectMm);
    } else if (type == ElementKind::Rectangle) {
        painter.drawRect(rectMm);
    } else {
        using namespace elementlimits;
        const int rows = withinOr(graphic.rows, minimumTableCount, maximumTableCount);
        const int columns = withinOr(graphic.columns, minimumTableCount, maximumTableCount);
        const double spacing = withinOr(graphic.cellSpacingMm, 0.0, maximumCellSpacingMm);
        const double pitchX = width / columns;
        const double pitchY = height / rows;
        if (spacing > 0.01) {
            // Cell by cell, so a later cell's fill lies over an earlier cell's
            // outline where a wide pen crosses the gap.
            if (pitchX - spacing > 0 && pitchY - spacing > 0) {
                for (int r = 0; r < rows; ++r) {
                    for (int c = 0; c < columns; ++c) {
                        painter.drawRect(QRectF(x + c * pitchX + spacing / 2, y + r * pitchY + spacing / 2,
                                                pitchX - spacing, pitchY - spacing));
                    }
                }
            }
        } else {
            painter.drawRect(rectMm);
            for (int i = 1; i < rows; ++i) {
                const double lineY = y + i * height / rows;
                painter.drawLine(QLineF(x, lineY, x + width, lineY));
            }
            for (int j = 1; j < columns; ++j) {
                const double lineX = x + j * width / columns;
                painter.drawLine(QLineF(lineX, y, lineX, y + height));
            }
        }
    }
    painter.restore();
}

QSizeF fittedFieldSize(const TemplateField &field, double cardWidthMm, double cardHeightMm,
                       const CardTable &records)
{
    const double roomRight = cardWidthMm - field.xMm;
    const double roomBelow = cardHeightMm - field.yMm;
    if (field.type == ElementKind::Barcode)
        return QSizeF(std::clamp(roomRight, 5.0, 45.0), std::clamp(roomBelow, 3.0, 14.0));
    if (isSquareCode(field.type)) {
        const double side = std::clamp(std::min(roomRight, roomBelow), 5.0, 25.0);
        return QSizeF(side, side);
    }

    // Font pixels at 96 dpi, read back at the canvas's 4 units per millimetre.
    const double fontSizePt =
        withinOr(field.fontSizePt, elementlimits::minimumFontSizePt, elementlimits::maximumFontSizePt);
    const QFontMetricsF metrics(fieldFont(field, std::max(4, pixelSize(fontSizePt * 96.0 / 72.0))));
    double widest = 0;
    bool anyCandidate = false;
    auto consider = [&](const QString &text) {
        widest = std::max(widest, metrics.horizontalAdvance(text.left(kLongestText)));
        anyCandidate = true;
    };

    if (field.type == ElementKind::Sequence) {
        consider(field.sequencePrefix.left(elementlimits::maximumSequencePrefixLength)
                 + QString(std::clamp(field.sequenceDigits, 1, 18), QLatin1Char('9')));
    } else if (field.type == ElementKind::Scratch) {
        for (const Prize &prize : parsePrizes(field.scratchPrizesJson).prizes)
            consider(prize.name);
    } else if (!field.dataColumn.isEmpty()) {
        for (qsizetype card = 0; card < records.size(); ++card) {
            const QString text = records.text(card, field.dataColumn).value_or(QString());
            if (!text.isEmpty())
                consider(text);
        }
        if (!anyCandidate)
            consider(QStringLiteral("{{%1}}").arg(field.dataColumn));
    }
    if (!anyCandidate)
        consider(field.name.isEmpty() ? QStringLiteral("Variable Field") : field.name);

    const double width = widest * 0.25 + 3;
    const double height = metrics.height() * 0.25 + 2;
    return QSizeF(std::max(5.0, std::min(std::max(roomRight, 5.0), width)),
                  std::max(3.0, std::min(std::max(roomBelow, 3.0), height)));
}
