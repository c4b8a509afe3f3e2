#pragma once

#include "ui/canvas/propertyrows.h"

#include <QFormLayout>
#include <QList>
#include <QRectF>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

class QLabel;
class QVBoxLayout;
class QWidget;
class UnitSpinBox;

// The frame the field and graphic panels share, so they look and read alike.
struct PropertyForm
{
    QVBoxLayout *layout = nullptr;
    QLabel *title = nullptr; // object name "propertyTitle"
    QFormLayout *form = nullptr;
};

// Lays out `panel` (object name "fieldPanel", which the style sheet keys on)
// with its title and a form whose long rows (the prize editor) go below
// their labels at the panel's width.
PropertyForm buildPropertyForm(QWidget *panel, const QString &title);

// A position or size box of the panels: 0 to 2000 mm, 2 decimals, step 0.1.
UnitSpinBox *newPropertyLengthBox(QWidget *parent);

// The rows of one panel, laid out from the table of rows (propertyrows.h)
// and shown per kind from it.
class PropertyRowWidgets
{
public:
    explicit PropertyRowWidgets(PropertyPanelGroup group)
        : m_group(group)
    {
    }

    // Adds the group's rows to `form` in the table's order, each with the
    // widget `make` returns as its row is reached: widgets are made in row
    // order, so the tab order follows the rows. A row's label is also its
    // widget's accessible name, which screen readers and the tests go by;
    // the prize editor names its own controls instead.
    void build(QFormLayout *form, const std::function<QWidget *(PropertyRow)> &make);

    // Shows the rows the table names for `kind` (or for no selection) and
    // hides the others; a shown row is enabled as the kind allows.
    void showFor(std::optional<ElementKind> kind);

    QWidget *widget(PropertyRow row) const;

private:
    QFormLayout *m_form = nullptr;
    PropertyPanelGroup m_group;
    QList<std::pair<PropertyRow, QWidget *>> m_widgets; // in form order
};

// The position and size rows, one code for both panels: four length boxes
// that report only a finished entry (Enter, focus out, a step), so each
// report is saved and a half-typed 1 of 12 is not raised to the minimum
// under the user's fingers.
struct PlacementBoxes
{
    UnitSpinBox *x = nullptr;
    UnitSpinBox *y = nullptr;
    UnitSpinBox *width = nullptr;
    UnitSpinBox *height = nullptr;

    // The box of `row` when it is one of the four, made for it; else nothing.
    UnitSpinBox *make(PropertyRow row, QWidget *parent);
    QList<UnitSpinBox *> boxes() const { return {x, y, width, height}; }
    // The boxes' values (mm) and their filling.
    QRectF value() const;
    void setValue(double xMm, double yMm, double widthMm, double heightMm);
};
