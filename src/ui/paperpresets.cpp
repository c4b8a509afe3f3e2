#include "ui/paperpresets.h"

#include <QCoreApplication>

QList<PaperPreset> paperPresets()
{
    // The inch formats are exact conversions (1 in = 25.4 mm).
    return {
        {QCoreApplication::translate("PaperPreset", "Custom"), QSizeF(-1, -1)},
        {QCoreApplication::translate("PaperPreset", "A4 — 210 × 297 mm"), QSizeF(210, 297)},
        {QCoreApplication::translate("PaperPreset", "A3 — 297 × 420 mm"), QSizeF(297, 420)},
        {QCoreApplication::translate("PaperPreset", "Letter — 8.5 × 11 in"), QSizeF(215.9, 279.4)},
        {QCoreApplication::translate("PaperPreset", "Legal — 8.5 × 14 in"), QSizeF(215.9, 355.6)},
        {QCoreApplication::translate("PaperPreset", "Tabloid — 11 × 17 in"), QSizeF(279.4, 431.8)},
    };
}

QSizeF orientedPaperSize(const QSizeF &portraitMm, bool landscape)
{
    return landscape ? portraitMm.transposed() : portraitMm;
}
