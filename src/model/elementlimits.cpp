#include "model/elementlimits.h"

#include <algorithm>
#include <cmath>

namespace {

using namespace elementlimits;


QString number(double value)
{
    // 0.05, 2000, 1e+20, nan, inf.
    return QString::number(value, 'g', 15);
}

QString rangeText(double minimum, double maximum, const QString &unit)
{
    const QString range = QStringLiteral("%1 to %2").arg(number(minimum), number(maximum));
    return unit.isEmpty() ? range : range + u' ' + unit;
}

bool within(double value, double minimum, double maximum)
{
    // Written so that a value that is not a number is outside.
    return value >= minimum && value <= maximum;
}

double clamped(double value, double minimum, double maximum)
{
    if (std::isnan(value))
        return std::max(minimum, 0.0);
    return std::clamp(value, minimum, maximum);
}

// Collects the first value outside its range, in the order checked.
class Checker
{
public:
    explicit Checker(QString element) : m_element(std::move(element)) {}

    void length(const QString &property, double value, double minimum, double maximum, const QString &unit)
    {
        if (m_found || within(value, minimum, maximum))
            return;
        const QString shown = unit.isEmpty() ? number(value) : number(value) + u' ' + unit;
        m_found = ElementLimitViolation{m_element, property, shown, rangeText(minimum, maximum, unit)};
    }

    void count(const QString &property, qint64 value, qint64 minimum, qint64 maximum, const QString &unit = {})
    {
        if (m_found || (value >= minimum && value <= maximum))
            return;
        const QString shown = unit.isEmpty() ? QString::number(value) : QString::number(value) + u' ' + unit;
        const QString range = QStringLiteral("%1 to %2").arg(minimum).arg(maximum);
        m_found = ElementLimitViolation{m_element, property, shown, unit.isEmpty() ? range : range + u' ' + unit};
    }

    std::optional<ElementLimitViolation> result() const { return m_found; }

private:
    QString m_element;
    std::optional<ElementLimitViolation> m_found;
};

void checkBox(Checker &check, double x, double y, double width, double height)
{
    const QString mm = QStringLiteral("mm");
    check.length(QStringLiteral("X Position"), x, minimumPositionMm, maximumLengthMm, mm);
    check.length(QStringLiteral("Y Position"), y, minimumPositionMm, maximumLengthMm, mm);
    check.length(QStringLiteral("Width"), width, 0, maximumLengthMm, mm);
    check.length(QStringLiteral("Height"), height, 0, maximumLengthMm, mm);
}

} // namespace

QString ElementLimitViolation::message() const
{
    return QStringLiteral("%1: %2 is %3, allowed %4").arg(element, property, value, range);
}

std::optional<ElementLimitViolation> fieldLimitViolation(const TemplateField &field)
{
    Checker check(QStringLiteral("Field \"%1\" (%2, id %3)").arg(field.name, cardSideKey(field.side)).arg(field.id));
    checkBox(check, field.xMm, field.yMm, field.widthMm, field.heightMm);
    check.length(QStringLiteral("Font Size"), field.fontSizePt, minimumFontSizePt, maximumFontSizePt,
                 QStringLiteral("pt"));
    if (field.type == ElementKind::Sequence) {
        check.count(QStringLiteral("Sequence Prefix"), field.sequencePrefix.size(), 0, maximumSequencePrefixLength,
                    QStringLiteral("characters"));
        check.count(QStringLiteral("Sequence Digits"), field.sequenceDigits, minimumSequenceDigits,
                    maximumSequenceDigits);
        check.count(QStringLiteral("Sequence Step"), field.sequenceStep, minimumSequenceStep, maximumSequenceStep);
    }
    return check.result();
}

std::optional<ElementLimitViolation> graphicLimitViolation(const GraphicElement &graphic)
{
    Checker check(QStringLiteral("Graphic %1 (%2, id %3)")
                      .arg(elementKindKey(graphic.type), cardSideKey(graphic.side))
                      .arg(graphic.id));
    checkBox(check, graphic.xMm, graphic.yMm, graphic.widthMm, graphic.heightMm);
    if (graphic.type == ElementKind::Table) {
        check.count(QStringLiteral("Rows"), graphic.rows, minimumTableCount, maximumTableCount);
        check.count(QStringLiteral("Columns"), graphic.columns, minimumTableCount, maximumTableCount);
    }
    check.length(QStringLiteral("Stroke Width"), graphic.strokeWidthMm, minimumStrokeWidthMm, maximumStrokeWidthMm,
                 QStringLiteral("mm"));
    if (graphic.type == ElementKind::Table)
        check.length(QStringLiteral("Table Spacing"), graphic.cellSpacingMm, 0, maximumCellSpacingMm,
                     QStringLiteral("mm"));
    return check.result();
}

std::optional<ElementLimitViolation> templateLimitViolation(const QList<TemplateField> &fields,
                                                            const QList<GraphicElement> &graphics)
{
    for (const TemplateField &field : fields) {
        if (std::optional<ElementLimitViolation> found = fieldLimitViolation(field))
            return found;
    }
    for (const GraphicElement &graphic : graphics) {
        if (std::optional<ElementLimitViolation> found = graphicLimitViolation(graphic))
            return found;
    }
    return std::nullopt;
}

namespace {

// Fields and graphics place their boxes alike.
template<typename Element>
Element withBoxWithinLimits(const Element &element)
{
    Element bounded = element;
    bounded.xMm = clamped(element.xMm, minimumPositionMm, maximumLengthMm);
    bounded.yMm = clamped(element.yMm, minimumPositionMm, maximumLengthMm);
    bounded.widthMm = clamped(element.widthMm, 0, maximumLengthMm);
    bounded.heightMm = clamped(element.heightMm, 0, maximumLengthMm);
    return bounded;
}

} // namespace

TemplateField fieldWithinLimits(const TemplateField &field)
{
    TemplateField bounded = withBoxWithinLimits(field);
    bounded.fontSizePt = clamped(field.fontSizePt, minimumFontSizePt, maximumFontSizePt);
    if (field.type == ElementKind::Sequence) {
        bounded.sequencePrefix = field.sequencePrefix.left(maximumSequencePrefixLength);
        bounded.sequenceDigits = std::clamp(field.sequenceDigits, minimumSequenceDigits, maximumSequenceDigits);
        bounded.sequenceStep = std::clamp(field.sequenceStep, minimumSequenceStep, maximumSequenceStep);
    }
    return bounded;
}

GraphicElement graphicWithinLimits(const GraphicElement &graphic)
{
    GraphicElement bounded = withBoxWithinLimits(graphic);
    bounded.strokeWidthMm = clamped(graphic.strokeWidthMm, minimumStrokeWidthMm, maximumStrokeWidthMm);
    if (graphic.type == ElementKind::Table) {
        bounded.rows = std::clamp(graphic.rows, minimumTableCount, maximumTableCount);
        bounded.columns = std::clamp(graphic.columns, minimumTableCount, maximumTableCount);
        bounded.cellSpacingMm = clamped(graphic.cellSpacingMm, 0, maximumCellSpacingMm);
    }
    return bounded;
}
