#pragma once

#include <QString>
#include <QtGlobal>

// One card format and its sheet layout: a row of the projects table.
// The in-memory defaults equal the column defaults, so a project created with
// only a name and a default-constructed Project agree.
struct Project
{
    qint64 id = 0;
    QString name;
    double cardWidthMm = 90;
    double cardHeightMm = 54;
    double paperWidthMm = 420;
    double paperHeightMm = 297;
    qint32 rows = 4;
    qint32 columns = 4;
    double bleedMm = 2;
    bool showBleed = true;
    bool showImpositionBorder = true;
    QString impositionBorderColor = QStringLiteral("#000000");
    bool showCropMarks = false;
    QString backgroundPath;
    bool duplex = false;
    QString backBackgroundPath;
    QString dataSourcePath;
    bool isDemo = false;
    QString demoKey;

    friend bool operator==(const Project &, const Project &) = default;
};

// The name every blank project gets.
inline QString untitledProjectName()
{
    return QStringLiteral("Untitled VDP Project");
}
