#include "ui/canvas/propertyrows.h"

#include <QCoreApplication>

QString propertyRowLabel(PropertyRow row)
{
    const auto label = [](const char *text) { return QCoreApplication::translate("PropertyRows", text); };
    switch (row) {
    case PropertyRow::Name:
        return label("Field Name");
    case PropertyRow::DataSource:
        return label("Data Source");
    case PropertyRow::DataColumn:
        return label("Select Field");
    case PropertyRow::X:
        return label("X Position");
    case PropertyRow::Y:
        return label("Y Position");
    case PropertyRow::Width:
        return label("Width");
    case PropertyRow::Height:
        return label("Height");
    case PropertyRow::BarcodeType:
        return label("BarcodeType");
    case PropertyRow::ShowText:
        return label("Show Text");
    case PropertyRow::SequencePrefix:
        return label("Sequence Prefix");
    case PropertyRow::SequenceDigits:
        return label("Sequence Digits");
    case PropertyRow::SequenceStep:
        return label("Sequence Step");
    case PropertyRow::ExcludeFour:
        return label("Exclude 4");
    case PropertyRow::PrizeSettings:
        return label("Prize Settings");
    case PropertyRow::Font:
        return label("Font");
    case PropertyRow::FontSize:
        return label("Font Size");
    case PropertyRow::Bold:
        return label("Font Weight");
    case PropertyRow::Alignment:
        return label("Alignment");
    case PropertyRow::Colour:
        return label("Color");
    case PropertyRow::Rows:
        return label("Rows");
    case PropertyRow::Columns:
        return label("Columns");
    case PropertyRow::StrokeWidth:
        return label("Stroke Width");
    case PropertyRow::CellSpacing:
        return label("Table Spacing");
    }
    return {};
}

QString propertyPanelTitle(PropertyPanelGroup group, std::optional<ElementKind> kind)
{
    const auto title = [](const char *text) { return QCoreApplication::translate("PropertyRows", text); };
    switch (kind.value_or(group == PropertyPanelGroup::Field ? ElementKind::Text : ElementKind::Line)) {
    case ElementKind::Barcode:
        return title("Barcode Properties");
    case ElementKind::QrCode:
        return title("QR Code Properties");
    case ElementKind::Scratch:
        return title("Scratch Card Properties");
    case ElementKind::Sequence:
        return title("Sequence Properties");
    case ElementKind::Table:
        return title("Table Properties");
    case ElementKind::Ellipse:
        return title("Ellipse Properties");
    case ElementKind::Rectangle:
        return title("Rectangle Properties");
    case ElementKind::Line:
        return kind ? title("Line Properties") : title("Graphic Properties");
    case ElementKind::Text:
        break;
    }
    return title("Field Properties");
}

QList<PropertyRow> propertyPanelRows(PropertyPanelGroup group)
{
    using enum PropertyRow;
    if (group == PropertyPanelGroup::Graphic)
        return {X, Y, Width, Height, Rows, Columns, StrokeWidth, CellSpacing, Colour};
    return {Name, DataSource, DataColumn, X, Y, Width, Height,
            BarcodeType, ShowText,
            SequencePrefix, SequenceDigits, SequenceStep, ExcludeFour,
            PrizeSettings,
            Font, FontSize, Bold, Alignment, Colour};
}

QList<PropertyRow> propertyRowsFor(ElementKind kind)
{
    using enum PropertyRow;
    // Texts, sequences and scratch fields size themselves to their content,
    // set in the text rows; codes are sized by hand. Generated values
    // (sequences, prizes) read no data column.
    const QList<PropertyRow> textRows{Font, FontSize, Bold, Alignment, Colour};
    switch (kind) {
    case ElementKind::Text:
        return QList<PropertyRow>{Name, DataSource, DataColumn, X, Y} + textRows;
    case ElementKind::Sequence:
        return QList<PropertyRow>{Name, X, Y, SequencePrefix, SequenceDigits, SequenceStep, ExcludeFour} + textRows;
    case ElementKind::Barcode:
        return {Name, DataSource, DataColumn, X, Y, Width, Height, BarcodeType, ShowText};
    case ElementKind::QrCode:
        return {Name, DataSource, DataColumn, X, Y, Width, Height};
    case ElementKind::Scratch:
        return QList<PropertyRow>{Name, X, Y, PrizeSettings} + textRows;
    case ElementKind::Line:
    case ElementKind::Ellipse:
    case ElementKind::Rectangle:
    case ElementKind::Table:
        return propertyPanelRows(PropertyPanelGroup::Graphic);
    }
    return {};
}

QList<PropertyRow> propertyRowsWithoutSelection(PropertyPanelGroup group)
{
    using enum PropertyRow;
    if (group == PropertyPanelGroup::Graphic)
        return propertyPanelRows(group);
    return {Name, X, Y};
}

bool isPropertyRowEnabled(std::optional<ElementKind> kind, PropertyRow row)
{
    switch (row) {
    case PropertyRow::Rows:
    case PropertyRow::Columns:
    case PropertyRow::CellSpacing:
        return kind == ElementKind::Table;
    default:
        return true;
    }
}
