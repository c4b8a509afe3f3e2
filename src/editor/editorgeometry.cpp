#include "editorgeometry.h"

#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <vector>

namespace {

// Snapping, in scene units.
constexpr double cornerSnapRange = 20;
constexpr double cornerSnapSumLimit = 40; // a pair must lie below it
constexpr double edgeSnapRange = 10;
constexpr double edgeSnapNoWinner = 11; // any offset in range beats it
constexpr double edgeTargetReach = 20;  // how far away on the other axis a target still counts
constexpr double overlapTolerance = 0.5;
constexpr double resizeMinimumSide = 20;
constexpr double resizeMinimumLineHeight = 4;

constexpr double nudgeStepMm = 0.1;
constexpr double nudgeShiftStepMm = 1.0;
constexpr double pasteOffsetMm = 2;
constexpr double tableSpacingThresholdMm = 0.01;

double finiteOr(double value, double fallback)
{
    return std::isfinite(value) ? value : fallback;
}

bool isFinite(const QRectF &rect)
{
    return std::isfinite(rect.x()) && std::isfinite(rect.y()) && std::isfinite(rect.width())
        && std::isfinite(rect.height());
}

// One coordinate kept in 0 … card − item; written so that not-a-number gives 0.
double clampAxis(double value, double itemSide, double cardSide)
{
    const double limit = cardSide - itemSide;
    if (!(limit > 0) || !std::isfinite(limit) || std::isnan(value))
        return 0;
    return std::clamp(value, 0.0, limit);
}

std::array<QPointF, 4> corners(const QRectF &rect)
{
    return {rect.topLeft(), rect.topRight(), rect.bottomLeft(), rect.bottomRight()};
}

double overlapWidth(const QRectF &a, const QRectF &b)
{
    return std::min(a.right(), b.right()) - std::max(a.left(), b.left());
}

double overlapHeight(const QRectF &a, const QRectF &b)
{
    return std::min(a.bottom(), b.bottom()) - std::max(a.top(), b.top());
}

// Touching, or crossing by a hair, is not an overlap: snapping puts edges
// exactly together, and rounding must not reject that.
bool overlapsBeyondTolerance(const QRectF &a, const QRectF &b)
{
    return overlapWidth(a, b) > overlapTolerance && overlapHeight(a, b) > overlapTolerance;
}

// Negative while the two overlap on that axis.
double verticalGap(const QRectF &a, const QRectF &b)
{
    return std::max(b.top() - a.bottom(), a.top() - b.bottom());
}

double horizontalGap(const QRectF &a, const QRectF &b)
{
    return std::max(b.left() - a.right(), a.left() - b.right());
}

struct SnapTarget
{
    QRectF rect;
    bool isCard = false;
};

// The card first, then the other graphics in child order. A rectangle that is
// not finite cannot be snapped to, and would only spread not-a-number.
std::vector<SnapTarget> snapTargets(const QRectF &card, const QList<QRectF> &others)
{
    std::vector<SnapTarget> targets;
    targets.reserve(size_t(others.size()) + 1);
    if (isFinite(card))
        targets.push_back({card, true});
    for (const QRectF &other : others) {
        if (isFinite(other))
            targets.push_back({other, false});
    }
    return targets;
}

// The edge snap of one axis, fed the candidate offsets in order: the first of
// the smallest size within range wins, `result` what it gives.
struct EdgeWinner
{
    double best = edgeSnapNoWinner;
    std::optional<double> result;

    void consider(double offset, double resultIfTaken)
    {
        const double size = std::abs(offset);
        if (size <= edgeSnapRange && size < best) {
            best = size;
            result = resultIfTaken;
        }
    }
};

template<typename Result>
struct CornerWinner
{
    double best = cornerSnapSumLimit;
    std::optional<Result> result;

    // Whether the offset d is in range and strictly better than the winner
    // so far; the caller checks its own conditions before taking it.
    bool improves(const QPointF &d) const
    {
        return std::abs(d.x()) <= cornerSnapRange && std::abs(d.y()) <= cornerSnapRange
            && std::abs(d.x()) + std::abs(d.y()) < best;
    }
    void take(const QPointF &d, const Result &resultIfTaken)
    {
        best = std::abs(d.x()) + std::abs(d.y());
        result = resultIfTaken;
    }
};

struct TableSplitPlan
{
    enum class Outcome { Cells, TooManyCells, NotFinite, NoRoom };
    Outcome outcome = Outcome::NoRoom;
    qint64 rows = 1;
    qint64 columns = 1;
    double cellWidth = 0;
    double cellHeight = 0;
    double inset = 0;  // half the spacing, when the spacing counts
    double shrink = 0; // the spacing, when it counts
};

TableSplitPlan planTableSplit(const GraphicElement &table)
{
    TableSplitPlan plan;
    plan.rows = std::max<qint64>(table.rows, 1);
    plan.columns = std::max<qint64>(table.columns, 1);
    // Both are below 2^31, so the product fits.
    if (plan.rows * plan.columns > tableSplitMaximumCells) {
        plan.outcome = TableSplitPlan::Outcome::TooManyCells;
        return plan;
    }
    // The far edges must be finite too, or the last cells would not be.
    if (!std::isfinite(table.xMm) || !std::isfinite(table.yMm) || !std::isfinite(table.widthMm)
        || !std::isfinite(table.heightMm) || !std::isfinite(table.xMm + table.widthMm)
        || !std::isfinite(table.yMm + table.heightMm)) {
        plan.outcome = TableSplitPlan::Outcome::NotFinite;
        return plan;
    }
    plan.cellWidth = table.widthMm / double(plan.columns);
    plan.cellHeight = table.heightMm / double(plan.rows);
    // Written so that a spacing that is not a number counts as none.
    const double spacing = table.cellSpacingMm > 0 ? table.cellSpacingMm : 0;
    if (spacing > tableSpacingThresholdMm) {
        plan.inset = spacing / 2;
        plan.shrink = spacing;
    }
    // Every cell has the same size, so one test decides for all of them.
    const double width = plan.cellWidth - plan.shrink;
    const double height = plan.cellHeight - plan.shrink;
    plan.outcome = width > 0 && height > 0 ? TableSplitPlan::Outcome::Cells : TableSplitPlan::Outcome::NoRoom;
    return plan;
}

double pastedAxis(double position, double size, double card)
{
    const double limit = card - size;
    if (!(limit > 0) || !std::isfinite(limit))
        return 0;
    const double moved = std::min(position + pasteOffsetMm, limit);
    return moved > 0 ? moved : 0; // not-a-number too
}

} // namespace

QPointF clampToCard(const QPointF &position, const QSizeF &itemSize, const QSizeF &cardSize)
{
    return QPointF(clampAxis(position.x(), itemSize.width(), cardSize.width()),
                   clampAxis(position.y(), itemSize.height(), cardSize.height()));
}

QRectF keptOnCard(const QRectF &rectMm, const QSizeF &cardMm, const QSizeF &minimumSize)
{
    const auto usable = [](double card) { return std::isfinite(card) && card > 0; };
    QSizeF size(std::max(rectMm.width(), minimumSize.width()), std::max(rectMm.height(), minimumSize.height()));
    if (!usable(cardMm.width()) || !usable(cardMm.height()))
        return QRectF(rectMm.topLeft(), size);
    size = QSizeF(std::max(std::min(size.width(), cardMm.width()), minimumSize.width()),
                  std::max(std::min(size.height(), cardMm.height()), minimumSize.height()));
    return QRectF(clampToCard(rectMm.topLeft(), size, cardMm), size);
}

QPointF snapMovePosition(const QRectF &proposed, const QRectF &card, const QList<QRectF> &others)
{
    const QRectF moving(finiteOr(proposed.x(), 0), finiteOr(proposed.y(), 0), finiteOr(proposed.width(), 0),
                        finiteOr(proposed.height(), 0));
    const std::vector<SnapTarget> targets = snapTargets(card, others);

    CornerWinner<QPointF> corner;
    for (const SnapTarget &target : targets) {
        for (const QPointF &p : corners(moving)) {
            for (const QPointF &q : corners(target.rect)) {
                const QPointF d = q - p;
                if (!corner.improves(d))
                    continue;
                // Corners may touch another graphic, never lie on top of it.
                if (!target.isCard && overlapsBeyondTolerance(moving.translated(d), target.rect))
                    continue;
                corner.take(d, moving.topLeft() + d);
            }
        }
    }
    if (corner.result)
        return *corner.result;

    EdgeWinner x;
    EdgeWinner y;
    const auto considerX = [&](double offset) { x.consider(offset, moving.x() + offset); };
    const auto considerY = [&](double offset) { y.consider(offset, moving.y() + offset); };
    for (const SnapTarget &target : targets) {
        const QRectF &t = target.rect;
        if (verticalGap(moving, t) <= edgeTargetReach) {
            considerX(t.left() - moving.left());
            considerX(t.right() - moving.left());
            considerX(t.left() - moving.right());
            considerX(t.right() - moving.right());
        }
        if (horizontalGap(moving, t) <= edgeTargetReach) {
            considerY(t.top() - moving.top());
            considerY(t.bottom() - moving.top());
            considerY(t.top() - moving.bottom());
            considerY(t.bottom() - moving.bottom());
        }
    }
    return QPointF(x.result.value_or(moving.x()), y.result.value_or(moving.y()));
}

QSizeF snapResizeSize(const QPointF &position, const QSizeF &proposedSize, const QRectF &card,
                      const QList<QRectF> &others, bool isLine)
{
    const double minimumWidth = resizeMinimumSide;
    const double minimumHeight = isLine ? resizeMinimumLineHeight : resizeMinimumSide;
    const double width = std::max(finiteOr(proposedSize.width(), minimumWidth), minimumWidth);
    const double height = std::max(finiteOr(proposedSize.height(), minimumHeight), minimumHeight);
    if (!std::isfinite(position.x()) || !std::isfinite(position.y()))
        return QSizeF(width, height);

    const std::vector<SnapTarget> targets = snapTargets(card, others);
    const QPointF moving = position + QPointF(width, height);

    CornerWinner<QSizeF> corner;
    for (const SnapTarget &target : targets) {
        for (const QPointF &q : corners(target.rect)) {
            const QPointF d = q - moving;
            if (!corner.improves(d))
                continue;
            const QSizeF size(q.x() - position.x(), q.y() - position.y());
            if (size.width() < minimumWidth || size.height() < minimumHeight)
                continue;
            if (!target.isCard && overlapsBeyondTolerance(QRectF(position, size), target.rect))
                continue;
            corner.take(d, size);
        }
    }
    if (corner.result)
        return *corner.result;

    const QRectF rect(position, QSizeF(width, height));
    EdgeWinner right;
    EdgeWinner bottom;
    for (const SnapTarget &target : targets) {
        const QRectF &t = target.rect;
        if (verticalGap(rect, t) <= edgeTargetReach) {
            for (const double edge : {t.left(), t.right()}) {
                if (edge - position.x() >= minimumWidth)
                    right.consider(edge - rect.right(), edge - position.x());
            }
        }
        if (horizontalGap(rect, t) <= edgeTargetReach) {
            for (const double edge : {t.top(), t.bottom()}) {
                if (edge - position.y() >= minimumHeight)
                    bottom.consider(edge - rect.bottom(), edge - position.y());
            }
        }
    }
    return QSizeF(right.result.value_or(width), bottom.result.value_or(height));
}

QPointF nudgedFieldPosition(const TemplateField &field, int qtKey, bool shift, const QSizeF &cardMm)
{
    const double step = shift ? nudgeShiftStepMm : nudgeStepMm;
    QPointF position(field.xMm, field.yMm);
    switch (qtKey) {
    case Qt::Key_Left:
        position.rx() -= step;
        break;
    case Qt::Key_Right:
        position.rx() += step;
        break;
    case Qt::Key_Up:
        position.ry() -= step;
        break;
    case Qt::Key_Down:
        position.ry() += step;
        break;
    default:
        break;
    }
    return clampToCard(position, QSizeF(field.widthMm, field.heightMm), cardMm);
}

QPointF alignedPosition(AlignMode mode, const QRectF &anchorMm, const QRectF &itemMm)
{
    QPointF position = itemMm.topLeft();
    switch (mode) {
    case AlignMode::Left:
        position.setX(anchorMm.x());
        break;
    case AlignMode::HorizontalCenter:
        position.setX(anchorMm.x() + (anchorMm.width() - itemMm.width()) / 2);
        break;
    case AlignMode::Right:
        position.setX(anchorMm.x() + anchorMm.width() - itemMm.width());
        break;
    case AlignMode::Top:
        position.setY(anchorMm.y());
        break;
    case AlignMode::VerticalCenter:
        position.setY(anchorMm.y() + (anchorMm.height() - itemMm.height()) / 2);
        break;
    case AlignMode::Bottom:
        position.setY(anchorMm.y() + anchorMm.height() - itemMm.height());
        break;
    }
    return QPointF(finiteOr(position.x(), 0), finiteOr(position.y(), 0));
}

QList<GraphicElement> splitTableCells(const GraphicElement &table)
{
    const TableSplitPlan plan = planTableSplit(table);
    if (plan.outcome != TableSplitPlan::Outcome::Cells)
        return {};

    QList<GraphicElement> cells;
    cells.reserve(plan.rows * plan.columns);
    for (qint64 row = 0; row < plan.rows; ++row) {
        for (qint64 column = 0; column < plan.columns; ++column) {
            GraphicElement cell;
            cell.projectId = table.projectId;
            cell.side = table.side;
            cell.type = ElementKind::Rectangle;
            cell.xMm = table.xMm + double(column) * plan.cellWidth + plan.inset;
            cell.yMm = table.yMm + double(row) * plan.cellHeight + plan.inset;
            cell.widthMm = plan.cellWidth - plan.shrink;
            cell.heightMm = plan.cellHeight - plan.shrink;
            cell.strokeColor = table.strokeColor;
            cell.strokeWidthMm = table.strokeWidthMm;
            cell.fillColor = table.fillColor;
            cell.rows = 1;
            cell.columns = 1;
            cell.cellSpacingMm = 0;
            cells.append(cell);
        }
    }
    return cells;
}

QString tableSplitRefusal(const GraphicElement &table)
{
    const TableSplitPlan plan = planTableSplit(table);
    switch (plan.outcome) {
    case TableSplitPlan::Outcome::Cells:
        return {};
    case TableSplitPlan::Outcome::TooManyCells:
        return QStringLiteral("The table has %1 rows and %2 columns; at most %3 cells can be split into rectangles.")
            .arg(plan.rows)
            .arg(plan.columns)
            .arg(tableSplitMaximumCells);
    case TableSplitPlan::Outcome::NotFinite:
        return QStringLiteral("The table's position or size is not a finite number, so it cannot be split.");
    case TableSplitPlan::Outcome::NoRoom:
        break;
    }
    return QStringLiteral(
        "Table spacing is greater than or equal to the cell size, so valid rectangles cannot be created.");
}

QPointF pastedPosition(const QPointF &positionMm, const QSizeF &sizeMm, const QSizeF &cardMm)
{
    return QPointF(pastedAxis(positionMm.x(), sizeMm.width(), cardMm.width()),
                   pastedAxis(positionMm.y(), sizeMm.height(), cardMm.height()));
}

TemplateField newTemplateField(ElementKind type, qint64 projectId, CardSide side, const QString &firstColumnKey)
{
    TemplateField field;
    field.projectId = projectId;
    field.side = side;
    field.type = type;
    field.xMm = 5;
    field.yMm = 5;
    if (type == ElementKind::Sequence) {
        field.name = QStringLiteral("Sequence");
        field.dataColumn.clear();
        field.sequencePrefix = QStringLiteral("No.");
        field.sequenceDigits = 6;
        field.sequenceStep = 1;
        field.sequenceExcludeFour = false;
    } else if (type == ElementKind::Scratch) {
        field.name = QStringLiteral("Scratch Card Prize");
        field.dataColumn.clear();
        field.bold = true;
        field.fontSizePt = 16;
    } else {
        // A column name may hold a line break (a CSV header can), and the
        // name is still all of it.
        static const QRegularExpression sourceColumn(QStringLiteral("^source:\\d+:(.*)$"),
                                                     QRegularExpression::DotMatchesEverythingOption);
        field.dataColumn = firstColumnKey;
        const QRegularExpressionMatch match = sourceColumn.match(firstColumnKey);
        field.name = match.hasMatch() ? match.captured(1) : firstColumnKey;
        if (field.name.isEmpty())
            field.name = QStringLiteral("Variable Field");
    }
    return field;
}

GraphicElement newGraphicElement(ElementKind type, qint64 projectId, CardSide side, double cardWidthMm)
{
    GraphicElement element;
    element.projectId = projectId;
    element.side = side;
    element.type = type;
    // Written so that a card width that is not a number gives the narrow size.
    const double room = cardWidthMm - 20;
    if (type == ElementKind::Line) {
        element.widthMm = room > 10 ? std::min(room, 50.0) : 10;
        element.heightMm = 2;
    } else if (type == ElementKind::Ellipse) {
        element.widthMm = 20;
        element.heightMm = 20;
    } else if (type == ElementKind::Rectangle) {
        element.widthMm = 30;
        element.heightMm = 20;
    } else if (type == ElementKind::Table) {
        element.widthMm = room > 15 ? std::min(room, 60.0) : 15;
        element.heightMm = 25;
        element.rows = 3;
        element.columns = 3;
    }
    return element;
}
