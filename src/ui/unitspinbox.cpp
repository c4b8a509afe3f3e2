#include "ui/unitspinbox.h"

namespace {
constexpr double kMmPerInch = 25.4;
}

UnitSpinBox::UnitSpinBox(QWidget *parent)
    : QDoubleSpinBox(parent)
{
    setDecimals(2);
}

void UnitSpinBox::setUseInches(bool useInches)
{
    m_useInches = useInches;
    // setDecimals re-applies the range and the value, which re-renders the
    // text even when the precision does not change.
    setDecimals(useInches ? 3 : 2);
}

QString UnitSpinBox::textFromValue(double value) const
{
    if (m_useInches)
        return locale().toString(value / kMmPerInch, 'f', 3) + QStringLiteral(" in");
    return locale().toString(value, 'f', 2) + QStringLiteral(" mm");
}

double UnitSpinBox::valueFromText(const QString &text) const
{
    QString number = text;
    number.remove(QStringLiteral("in"), Qt::CaseInsensitive);
    number.remove(QStringLiteral("mm"), Qt::CaseInsensitive);
    bool ok = false;
    const double parsed = locale().toDouble(number.trimmed(), &ok);
    if (!ok)
        return 0;
    return m_useInches ? parsed * kMmPerInch : parsed;
}
