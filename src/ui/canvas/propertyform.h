#pragma once

#include <QFormLayout>
#include <QString>

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

// Adds a labelled row; the label is also the widget's accessible name, which
// screen readers and the tests go by.
template<typename Widget>
Widget *addPropertyRow(QFormLayout *form, const QString &label, Widget *widget)
{
    form->addRow(label, widget);
    widget->setAccessibleName(label);
    return widget;
}

// A position or size box of the panels: 0 to 2000 mm, 2 decimals, step 0.1.
UnitSpinBox *newPropertyLengthBox(QWidget *parent);
