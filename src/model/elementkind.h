#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// The kinds of a card element and of its settings, as the program reasons
// about them. The texts and flags the project database and the clipboard hold
// are converted here, once, at those edges; everything else asks the kind.

enum class CardSide { Front, Back };

// Field kinds (Text … Scratch) and graphic kinds (Line … Table) in one list,
// so that the questions below have one answer per kind.
enum class ElementKind { Text, Sequence, Barcode, QrCode, Scratch, Line, Ellipse, Rectangle, Table };

enum class BarcodeFormat { Code128, Code39, Ean13, Ean8, UpcA };

// A prize's value is a number of cards (Count) or a percentage of the run (Ratio).
enum class ScratchMode { Count, Ratio };

enum class HorizontalAlignment { Left, Center, Right };
enum class VerticalAlignment { Top, Center, Bottom };

// Where a field's text sits in its box.
struct TextAlignment
{
    HorizontalAlignment horizontal = HorizontalAlignment::Center;
    VerticalAlignment vertical = VerticalAlignment::Center;

    friend bool operator==(const TextAlignment &, const TextAlignment &) = default;
};

// --- What a kind can do -------------------------------------------------

constexpr bool isFieldKind(ElementKind kind)
{
    return kind == ElementKind::Text || kind == ElementKind::Sequence || kind == ElementKind::Barcode
        || kind == ElementKind::QrCode || kind == ElementKind::Scratch;
}

constexpr bool isGraphicKind(ElementKind kind)
{
    return !isFieldKind(kind);
}

// A sequence number or a scratch prize: made by the program from the card's
// place in the run, not read from the data, so the card numbering depends on it.
constexpr bool isGenerated(ElementKind kind)
{
    return kind == ElementKind::Sequence || kind == ElementKind::Scratch;
}

// A barcode or a QR code: painted as a symbol, which may fail to encode.
constexpr bool isCode(ElementKind kind)
{
    return kind == ElementKind::Barcode || kind == ElementKind::QrCode;
}

// A symbol with equal sides whatever its box (the QR code).
constexpr bool isSquareCode(ElementKind kind)
{
    return kind == ElementKind::QrCode;
}

// Fields of text (text, sequence, scratch) size themselves to their content;
// codes are sized by hand and so show the canvas's resize handle, as every
// graphic does.
constexpr bool isSizedByContent(ElementKind kind)
{
    return isFieldKind(kind) && !isCode(kind);
}

constexpr bool hasResizeHandle(ElementKind kind)
{
    return !isSizedByContent(kind);
}

// A line is drawn across the middle of its box, which may be lower than
// the other shapes'.
constexpr bool isLine(ElementKind kind)
{
    return kind == ElementKind::Line;
}

// --- The stored texts and flags -------------------------------------------
// The texts are those of the project database's columns and of the
// clipboard's JSON; messages, listings and the manifest print them too.

// "front" or "back".
QString cardSideKey(CardSide side);
// Back only for exactly "back": the canvas and the sheet composer have always
// taken anything else as the front.
CardSide cardSideFromKey(QStringView key);

// "text", "sequence", "barcode", "qrcode", "scratch", "line", "ellipse",
// "rectangle", "table".
QString elementKindKey(ElementKind kind);
// The field kind of a text; nothing for any other text (a graphic kind's too).
std::optional<ElementKind> fieldKindFromKey(QStringView key);
// The graphic kind of a text; nothing for any other text (a field kind's too).
std::optional<ElementKind> graphicKindFromKey(QStringView key);

// "code128", "code39", "ean13", "ean8", "upca": also the format names the
// encoders in barcode/ take.
QString barcodeFormatKey(BarcodeFormat format);
std::optional<BarcodeFormat> barcodeFormatFromKey(QStringView key);

// "count" or "ratio".
QString scratchModeKey(ScratchMode mode);
std::optional<ScratchMode> scratchModeFromKey(QStringView key);

// Qt's alignment flags: Qt::AlignLeft, AlignHCenter or AlignRight with
// AlignTop, AlignVCenter or AlignBottom (132 for centre/centre).
int alignmentFlags(TextAlignment alignment);
// Read as the painter has always read stored flags: AlignHCenter wins over
// AlignRight, and either over left; AlignVCenter wins over AlignBottom, and
// either over top. Any other bit (AlignJustify, AlignAbsolute,
// AlignBaseline, text flags) and no bit at all mean left and top.
TextAlignment alignmentFromFlags(int flags);
