#pragma once

#include "model/elementlimits.h"
#include "model/graphicelement.h"
#include "model/templatefield.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

// The arithmetic of the template editor, apart from any widget: the canvas
// items, the editor document and the tests all call these.

// The canvas scene has this many units per millimetre.
constexpr double sceneUnitsPerMm = 4;

// Smallest sizes a gesture or a property entry may give (mm). Text, sequence
// and scratch fields size themselves to their content (isSizedByContent).
constexpr double fieldMinimumWidthMm = 5;
constexpr double fieldMinimumHeightMm = 3;
constexpr double graphicMinimumSideMm = 5;
constexpr double lineMinimumHeightMm = 1;

// The ranges the property panels allow (model/elementlimits.h). A record
// from outside the editor (a pasted clipboard document) is brought into them
// before it is used.
namespace editorlimits = elementlimits;

// A table with more cells than this is not split: the panel allows 100 × 100,
// while a stored table may claim billions of cells.
constexpr qint64 tableSplitMaximumCells = 10000;

// A position kept on the card: x in 0 … cardSize.width − itemSize.width and y
// likewise, a limit that is not a positive finite number counting as 0. A
// coordinate that is not a number becomes 0. Any unit.
QPointF clampToCard(const QPointF &position, const QSizeF &itemSize, const QSizeF &cardSize);

// A rectangle typed into a property panel, kept on the card as dragging keeps
// it: each side no larger than the card's (and no smaller than `minimumSize`),
// then the position kept on the card (clampToCard). A card size that is not a
// positive finite number limits nothing. Millimetres.
QRectF keptOnCard(const QRectF &rectMm, const QSizeF &cardMm, const QSizeF &minimumSize);

// Snapping of a graphic being dragged, in scene units: `proposed` is the
// item's rectangle at the proposed position, `card` the card rectangle and
// `others` the rectangles of the other graphics, in child order. Corner snap
// first (range 20, best |dx| + |dy| below 40, no corner that overlaps another
// graphic by more than 0.5 in both directions; ties keep the earlier pair),
// else edge snap per axis (range 10, targets within 20 on the other axis;
// ties keep the earlier offset). Returns the snapped position; unchanged when
// nothing is in range. Targets that are not finite are ignored, and a proposed
// coordinate that is not finite counts as 0. Not clamped to the card.
QPointF snapMovePosition(const QRectF &proposed, const QRectF &card, const QList<QRectF> &others);

// Snapping of a graphic's bottom-right corner while it is resized, in scene
// units: the size is first raised to 20 × 20 (20 × 4 for a line; a side that
// is not a finite number becomes the minimum), then the corner snaps to a
// target corner (range 20, |dx| + |dy| below 40) whose size meets that minimum
// and that does not overlap another graphic by more than 0.5 in both width and
// height, or, failing that, its right and bottom edges to target edges (range
// 10, targets within 20 on the other axis), an edge that would take the size
// below the minimum not counting.
QSizeF snapResizeSize(const QPointF &position, const QSizeF &proposedSize, const QRectF &card,
                      const QList<QRectF> &others, bool isLine);

// An arrow-key nudge of a field, in mm: 0.1 mm, 1 mm with Shift; Left/Up
// subtract, Right/Down add (other keys move nothing); the result kept on the
// card (clampToCard).
QPointF nudgedFieldPosition(const TemplateField &field, int qtKey, bool shift, const QSizeF &cardMm);

enum class AlignMode { Left, HorizontalCenter, Right, Top, VerticalCenter, Bottom };

// Where an item of `itemMm` goes when aligned to the anchor `anchorMm` (both
// rectangles in mm); only one coordinate changes. Not clamped to the card,
// but a result that is not a finite number becomes 0.
QPointF alignedPosition(AlignMode mode, const QRectF &anchorMm, const QRectF &itemMm);

// The rectangles a table splits into, row by row: cells of width ÷ columns by
// height ÷ rows (rows and columns at least 1), shrunk by the spacing (when
// above 0.01 mm) and shifted by half of it; cells without a positive size are
// left out. Each copies the table's side, project, stroke and fill, kind
// Rectangle, 1 × 1, spacing 0, id 0. Empty, without allocating, when the
// table has more than tableSplitMaximumCells cells or a position or size that
// is not finite; tableSplitRefusal says why.
QList<GraphicElement> splitTableCells(const GraphicElement &table);

// Why splitTableCells(table) gives no rectangles, as the sentence the window
// shows; empty when it gives some.
QString tableSplitRefusal(const GraphicElement &table);

// A pasted record's position: 2 mm right of and below `positionMm`, kept on
// the card (x = min(x + 2, card width − width), 0 when that limit or the
// result is not positive, or the limit not finite; y likewise).
QPointF pastedPosition(const QPointF &positionMm, const QSizeF &sizeMm, const QSizeF &cardMm);

// The record a tool adds, before its fitted size (fields) and its id:
// `type` a field kind, `firstColumnKey` the first column the data
// panel offers ("" when none): it binds a text, barcode or QR code field and
// names it after the column. Position (5, 5) mm.
TemplateField newTemplateField(ElementKind type, qint64 projectId, CardSide side, const QString &firstColumnKey);
// `type` a graphic kind; sized from the card
// width (a width that is not a number gives the narrow sizes).
GraphicElement newGraphicElement(ElementKind type, qint64 projectId, CardSide side, double cardWidthMm);
