#pragma once

#include <QFont>
#include <QPainterPath>
#include <QPointF>
#include <QString>

#include <memory>

// Text set as outlines, as QPainterPath::addText sets it, with each glyph's
// outline loaded from the font only once. Loading an outline (the font file's
// hinting program runs for every load) is most of what addText costs, and
// card texts either repeat whole (labels, prizes, cities) or are made of a
// few glyphs (serial numbers). Every new text is still shaped by Qt's text
// layout, so kerning, ligatures, marks, right-to-left runs and fallback fonts
// come out as addText gives them.
//
// Whole texts are kept from their second setting on, so a stream of texts
// printed once (serial numbers) costs their shaping each time but does not
// push out the ones that repeat.
//
// Not thread-safe: each painting thread keeps its own. The memory it holds is
// bounded by its limits whatever number of distinct texts goes through it, and
// it holds no font or font-engine object, only shapes and numbers, so it may
// outlive the fonts (and the application object) it was filled from.
class TextOutlines
{
public:
    // Budgets in path elements (24 bytes each). Half of each budget is the
    // recently used part; when that fills, the part used before it is dropped.
    struct Limits
    {
        qsizetype glyphElements = 1 << 16;
        qsizetype textElements = 1 << 15;
    };

    // One text set on a baseline that starts at (0, 0).
    struct SetText
    {
        QPainterPath outline;
        double advance = 0; // as QFontMetricsF::horizontalAdvance measures it
    };

    TextOutlines();
    explicit TextOutlines(Limits limits);
    ~TextOutlines();
    TextOutlines(TextOutlines &&) noexcept;
    TextOutlines &operator=(TextOutlines &&) noexcept;

    SetText set(const QFont &font, const QString &text);

    // `text` moved so that its baseline starts at `origin`. The origin is cut
    // to the 1/64 unit that addText truncates pen positions to, so the glyphs
    // land where addText would put them. Left of x = 0 addText cuts the start
    // of each run of a script, direction or face on its own, so there the
    // later runs of such a text may land 1/64 unit right of where it puts them.
    static QPainterPath placed(const SetText &text, QPointF origin);

    // What addText(origin, font, text) adds to an empty path.
    QPainterPath outline(const QFont &font, const QString &text, QPointF origin)
    {
        return placed(set(font, text), origin);
    }

    // Entries and path elements held now, and texts found kept or set anew
    // since construction; for tests and benchmarks.
    struct Usage
    {
        qsizetype glyphs = 0;
        qsizetype glyphElements = 0;
        qsizetype texts = 0;
        qsizetype textElements = 0;
        qint64 textHits = 0;
        qint64 textMisses = 0;
    };
    Usage usage() const;

private:
    struct Data;
    std::unique_ptr<Data> d;
};
