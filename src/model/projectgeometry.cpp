#include "projectgeometry.h"

#include <algorithm>
#include <cmath>

namespace {

// Fifteen significant digits show every value the panel can store as typed,
// and a value just outside a limit (2000.0001) does not round onto it.
QString number(double value)
{
    return QString::number(value, 'g', 15);
}

QString storedLength(double value)
{
    if (std::isnan(value))
        return QStringLiteral("not a number");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("infinite") : QStringLiteral("minus infinity");
    return number(value) + QStringLiteral(" mm");
}

// Written so that not-a-number fails too.
bool within(double value, double minimum, double maximum)
{
    return value >= minimum && value <= maximum;
}

std::optional<QString> lengthError(const QString &setting, double value)
{
    if (within(value, projectlimits::minimumLengthMm, projectlimits::maximumLengthMm))
        return std::nullopt;
    return QStringLiteral("%1 is %2; allowed are %3 to %4 mm.")
        .arg(setting, storedLength(value), number(projectlimits::minimumLengthMm),
             number(projectlimits::maximumLengthMm));
}

std::optional<QString> countError(const QString &setting, qint32 value)
{
    if (value >= projectlimits::minimumCount && value <= projectlimits::maximumCount)
        return std::nullopt;
    return QStringLiteral("%1 is %2; allowed are %3 to %4.")
        .arg(setting)
        .arg(value)
        .arg(projectlimits::minimumCount)
        .arg(projectlimits::maximumCount);
}

} // namespace

double bleedMaximumMm(double cardWidthMm, double cardHeightMm)
{
    const double maximum = std::min(cardWidthMm, cardHeightMm) / 2 - 0.01;
    // Written so that not-a-number gives 0 as well.
    return maximum > 0 ? maximum : 0;
}

std::optional<QString> projectGeometryError(const Project &project)
{
    const std::optional<QString> lengths[] = {
        lengthError(QStringLiteral("Finished Width"), project.cardWidthMm),
        lengthError(QStringLiteral("Finished Height"), project.cardHeightMm),
        lengthError(QStringLiteral("Sheet Width"), project.paperWidthMm),
        lengthError(QStringLiteral("Sheet Height"), project.paperHeightMm),
        countError(QStringLiteral("Rows"), project.rows),
        countError(QStringLiteral("Columns"), project.columns),
    };
    for (const std::optional<QString> &error : lengths) {
        if (error)
            return error;
    }

    // The maximum depends on the card, which is known to be sound by now.
    const double bleedMaximum = bleedMaximumMm(project.cardWidthMm, project.cardHeightMm);
    if (!within(project.bleedMm, 0, bleedMaximum)) {
        return QStringLiteral("Bleed is %1; allowed are 0 to %2 mm for a %3 × %4 mm card.")
            .arg(storedLength(project.bleedMm), number(bleedMaximum), number(project.cardWidthMm),
                 number(project.cardHeightMm));
    }

    // Cards are never turned to fit: a card larger than the sheet in either
    // direction cannot print whole in any slot.
    if (project.cardWidthMm > project.paperWidthMm || project.cardHeightMm > project.paperHeightMm) {
        return QStringLiteral("The card (%1 × %2 mm) is larger than the sheet (%3 × %4 mm).")
            .arg(number(project.cardWidthMm), number(project.cardHeightMm), number(project.paperWidthMm),
                 number(project.paperHeightMm));
    }
    return std::nullopt;
}
