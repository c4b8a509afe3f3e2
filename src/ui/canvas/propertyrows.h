#pragma once

#include "model/elementkind.h"

#include <QList>
#include <QString>

#include <optional>

// A row of the property panels: one labelled control (or the prize editor).
enum class PropertyRow {
    Name,
    DataSource,
    DataColumn,
    X,
    Y,
    Width,
    Height,
    BarcodeType,
    ShowText,
    SequencePrefix,
    SequenceDigits,
    SequenceStep,
    ExcludeFour,
    PrizeSettings,
    Font,
    FontSize,
    Bold,
    Alignment,
    Colour,
    Rows,
    Columns,
    StrokeWidth,
    CellSpacing,
};

// The panel that shows an element: fields have their panel, graphics theirs.
enum class PropertyPanelGroup { Field, Graphic };

// The label a row shows; also its control's accessible name.
QString propertyRowLabel(PropertyRow row);

// The title above a group's panel while it shows an element of `kind`, or
// nothing (the group's plain title).
QString propertyPanelTitle(PropertyPanelGroup group, std::optional<ElementKind> kind);

// Every row of a group's panel, in the order its form lays them out.
QList<PropertyRow> propertyPanelRows(PropertyPanelGroup group);

// The rows shown for an element of `kind`, in the panel's order. Every
// kind's list keeps the order of its group's panel.
QList<PropertyRow> propertyRowsFor(ElementKind kind);
// The rows shown while no element of the group is selected.
QList<PropertyRow> propertyRowsWithoutSelection(PropertyPanelGroup group);

// Whether a shown row can be edited: a graphic panel shows the table's rows
// for every graphic, so the panel keeps its shape, but only a table edits them.
bool isPropertyRowEnabled(std::optional<ElementKind> kind, PropertyRow row);
