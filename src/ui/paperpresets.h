#pragma once

#include <QList>
#include <QSizeF>
#include <QString>

// An entry of the "Paper" list: its label and the portrait sheet size in
// millimetres. "Custom" carries the marker size −1 × −1 and fills nothing.
struct PaperPreset
{
    QString name;
    QSizeF sizeMm;

    bool isCustom() const { return sizeMm.width() < 0; }
};

QList<PaperPreset> paperPresets();

// The sheet size a preset gives in the chosen orientation.
QSizeF orientedPaperSize(const QSizeF &portraitMm, bool landscape);
