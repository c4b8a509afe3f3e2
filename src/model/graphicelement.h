#pragma once

#include "model/elementkind.h"

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// A fixed shape on a card: line, ellipse, rectangle or table.
// A row of template_graphics; like fields, it carries no sort order.
struct GraphicElement
{
    qint64 id = 0;
    qint64 projectId = 0;
    CardSide side = CardSide::Front;
    ElementKind type = ElementKind::Line; // a graphic kind
    double xMm = 10;
    double yMm = 10;
    double widthMm = 40;
    double heightMm = 10;
    QString strokeColor = QStringLiteral("#111827");
    double strokeWidthMm = 0.35;
    QString fillColor = QStringLiteral("transparent");
    qint32 rows = 3;
    qint32 columns = 3;
    double cellSpacingMm = 0;

    friend bool operator==(const GraphicElement &, const GraphicElement &) = default;
};

Q_DECLARE_METATYPE(GraphicElement)

// Registers the type under the name "GraphicElement" on first use; the id is cached.
int graphicElementMetaTypeId();
