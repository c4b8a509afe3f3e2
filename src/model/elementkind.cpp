#include "model/elementkind.h"

#include <QLatin1StringView>
#include <QtCore/qnamespace.h>

#include <array>
#include <utility>

namespace {

// One table per enum, in the enum's order: the only place these texts are written.
constexpr std::array<QLatin1StringView, 2> kSideKeys = {QLatin1StringView("front"), QLatin1StringView("back")};

constexpr std::array<QLatin1StringView, 9> kKindKeys = {
    QLatin1StringView("text"),    QLatin1StringView("sequence"), QLatin1StringView("barcode"),
    QLatin1StringView("qrcode"),  QLatin1StringView("scratch"),  QLatin1StringView("line"),
    QLatin1StringView("ellipse"), QLatin1StringView("rectangle"), QLatin1StringView("table"),
};

constexpr std::array<QLatin1StringView, 5> kFormatKeys = {
    QLatin1StringView("code128"), QLatin1StringView("code39"), QLatin1StringView("ean13"),
    QLatin1StringView("ean8"),    QLatin1StringView("upca"),
};

constexpr std::array<QLatin1StringView, 2> kModeKeys = {QLatin1StringView("count"), QLatin1StringView("ratio")};

// A value outside the enum (a cast gone wrong) is written as the first,
// which is also what an unknown text loads as, never read past the table.
template<typename Enum, std::size_t N>
QString keyOf(const std::array<QLatin1StringView, N> &keys, Enum value)
{
    const auto index = std::size_t(value);
    return QString(keys[index < N ? index : 0]);
}

// Exact, case-sensitive: the stored texts were always compared so.
template<typename Enum, std::size_t N>
std::optional<Enum> valueOf(const std::array<QLatin1StringView, N> &keys, QStringView key)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (key == keys[i])
            return Enum(i);
    }
    return std::nullopt;
}

} // namespace

QString cardSideKey(CardSide side)
{
    return keyOf(kSideKeys, side);
}

CardSide cardSideFromKey(QStringView key)
{
    return key == kSideKeys[std::size_t(CardSide::Back)] ? CardSide::Back : CardSide::Front;
}

QString elementKindKey(ElementKind kind)
{
    return keyOf(kKindKeys, kind);
}

std::optional<ElementKind> fieldKindFromKey(QStringView key)
{
    const std::optional<ElementKind> kind = valueOf<ElementKind>(kKindKeys, key);
    return kind && isFieldKind(*kind) ? kind : std::nullopt;
}

std::optional<ElementKind> graphicKindFromKey(QStringView key)
{
    const std::optional<ElementKind> kind = valueOf<ElementKind>(kKindKeys, key);
    return kind && isGraphicKind(*kind) ? kind : std::nullopt;
}

QString barcodeFormatKey(BarcodeFormat format)
{
    return keyOf(kFormatKeys, format);
}

std::optional<BarcodeFormat> barcodeFormatFromKey(QStringView key)
{
    return valueOf<BarcodeFormat>(kFormatKeys, key);
}

QString scratchModeKey(ScratchMode mode)
{
    return keyOf(kModeKeys, mode);
}

std::optional<ScratchMode> scratchModeFromKey(QStringView key)
{
    return valueOf<ScratchMode>(kModeKeys, key);
}

int alignmentFlags(TextAlignment alignment)
{
    int flags = 0;
    switch (alignment.horizontal) {
    case HorizontalAlignment::Left:
        flags = Qt::AlignLeft;
        break;
    case HorizontalAlignment::Center:
        flags = Qt::AlignHCenter;
        break;
    case HorizontalAlignment::Right:
        flags = Qt::AlignRight;
        break;
    }
    switch (alignment.vertical) {
    case VerticalAlignment::Top:
        return flags | Qt::AlignTop;
    case VerticalAlignment::Center:
        return flags | Qt::AlignVCenter;
    case VerticalAlignment::Bottom:
        return flags | Qt::AlignBottom;
    }
    return flags | Qt::AlignVCenter;
}

TextAlignment alignmentFromFlags(int flags)
{
    TextAlignment alignment;
    alignment.horizontal = (flags & Qt::AlignHCenter) ? HorizontalAlignment::Center
        : (flags & Qt::AlignRight)                    ? HorizontalAlignment::Right
                                                      : HorizontalAlignment::Left;
    alignment.vertical = (flags & Qt::AlignVCenter) ? VerticalAlignment::Center
        : (flags & Qt::AlignBottom)                 ? VerticalAlignment::Bottom
                                                    : VerticalAlignment::Top;
    return alignment;
}
