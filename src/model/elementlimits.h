#pragma once

#include "model/graphicelement.h"
#include "model/templatefield.h"

#include <QList>
#include <QString>

#include <optional>

// The ranges the property panels allow, in one place: the panels' boxes take
// them, a pasted clipboard record is brought into them, and a record read
// from the store (an old or hand-edited database) is checked against them
// before it is exported or drawn.
namespace elementlimits {
constexpr double maximumLengthMm = 2000; // sizes from 0, positions up to
// Positions may lie this far left of or above the card: alignment to a
// narrower object may put one there (its boxes show such a position as 0).
constexpr double minimumPositionMm = -maximumLengthMm;
constexpr double minimumFontSizePt = 4;
constexpr double maximumFontSizePt = 300;
constexpr int minimumSequenceDigits = 1;
constexpr int maximumSequenceDigits = 18;
constexpr int minimumSequenceStep = 1;
constexpr int maximumSequenceStep = 1000000;
constexpr int maximumSequencePrefixLength = 100; // characters
constexpr int minimumScratchTotal = 1;
constexpr int maximumScratchTotal = 10000000;
constexpr int minimumTableCount = 1; // rows and columns
constexpr int maximumTableCount = 100;
constexpr double minimumStrokeWidthMm = 0.05;
constexpr double maximumStrokeWidthMm = 10;
constexpr double maximumCellSpacingMm = 20;
} // namespace elementlimits

// The first stored value of an element outside its range, in the order the
// panel shows them.
struct ElementLimitViolation
{
    QString element; // "Field \"Serial\" (front, id 7)" or "Graphic table (back, id 3)"
    QString property; // as the panel labels it: "X Position", "Font Size", …
    QString value;    // as stored: "1e+20 mm", "nan", "1048576 characters"
    QString range;    // "0 to 2000 mm"

    // "Field "Serial" (front, id 7): X Position is 1e+20 mm, allowed 0 to 2000 mm"
    QString message() const;
};

// Positions and sizes of every element; font size (4 to 300 pt) of every
// field; digits, step and prefix length of a sequence; stroke width of every
// graphic, and rows, columns and cell spacing of a table. A value that is
// not a number or infinite is always outside. Nothing when all are within.
std::optional<ElementLimitViolation> fieldLimitViolation(const TemplateField &field);
std::optional<ElementLimitViolation> graphicLimitViolation(const GraphicElement &graphic);

// The first violation among the fields, then the graphics.
std::optional<ElementLimitViolation> templateLimitViolation(const QList<TemplateField> &fields,
                                                            const QList<GraphicElement> &graphics);

// The element with every value the check looks at brought into its range (a
// value that is not a number to the range's lower end, or to 0 for a
// position; a prefix cut to its longest), all else as it was: what the canvas
// draws for an element it flags.
TemplateField fieldWithinLimits(const TemplateField &field);
GraphicElement graphicWithinLimits(const GraphicElement &graphic);
