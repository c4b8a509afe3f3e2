#include "ui/canvas/propertyform.h"

#include "ui/unitspinbox.h"

#include "model/elementlimits.h"

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

PropertyForm buildPropertyForm(QWidget *panel, const QString &title)
{
    panel->setObjectName(QStringLiteral("fieldPanel"));
    // Styled by object name, which a plain QWidget only honours with this.
    panel->setAttribute(Qt::WA_StyledBackground);

    PropertyForm parts;
    parts.layout = new QVBoxLayout(panel);
    parts.layout->setContentsMargins(10, 12, 10, 12);
    parts.layout->setSpacing(8);

    parts.title = new QLabel(title, panel);
    parts.title->setObjectName(QStringLiteral("propertyTitle"));
    parts.layout->addWidget(parts.title);

    parts.form = new QFormLayout;
    parts.form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    parts.form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    parts.form->setHorizontalSpacing(6);
    parts.form->setVerticalSpacing(6);
    parts.layout->addLayout(parts.form);
    return parts;
}

UnitSpinBox *newPropertyLengthBox(QWidget *parent)
{
    auto *box = new UnitSpinBox(parent);
    box->setRange(0, elementlimits::maximumLengthMm);
    box->setDecimals(2);
    box->setSingleStep(0.1);
    return box;
}

void PropertyRowWidgets::build(QFormLayout *form, const std::function<QWidget *(PropertyRow)> &make)
{
    m_form = form;
    for (const PropertyRow row : propertyPanelRows(m_group)) {
        QWidget *widget = make(row);
        Q_ASSERT(widget);
        const QString label = propertyRowLabel(row);
        m_form->addRow(label, widget);
        if (row != PropertyRow::PrizeSettings)
            widget->setAccessibleName(label);
        m_widgets.append({row, widget});
    }
}

void PropertyRowWidgets::showFor(std::optional<ElementKind> kind)
{
    const QList<PropertyRow> shown = kind ? propertyRowsFor(*kind) : propertyRowsWithoutSelection(m_group);
    for (const auto &[row, widget] : m_widgets) {
        const bool visible = shown.contains(row);
        m_form->setRowVisible(widget, visible);
        if (visible)
            widget->setEnabled(isPropertyRowEnabled(kind, row));
    }
}

QWidget *PropertyRowWidgets::widget(PropertyRow row) const
{
    for (const auto &[rowOf, widget] : m_widgets) {
        if (rowOf == row)
            return widget;
    }
    return nullptr;
}

UnitSpinBox *PlacementBoxes::make(PropertyRow row, QWidget *parent)
{
    UnitSpinBox **box = nullptr;
    switch (row) {
    case PropertyRow::X:
        box = &x;
        break;
    case PropertyRow::Y:
        box = &y;
        break;
    case PropertyRow::Width:
        box = &width;
        break;
    case PropertyRow::Height:
        box = &height;
        break;
    default:
        return nullptr;
    }
    *box = newPropertyLengthBox(parent);
    (*box)->setKeyboardTracking(false);
    return *box;
}

QRectF PlacementBoxes::value() const
{
    return {x->value(), y->value(), width->value(), height->value()};
}

void PlacementBoxes::setValue(double xMm, double yMm, double widthMm, double heightMm)
{
    x->setValue(xMm);
    y->setValue(yMm);
    width->setValue(widthMm);
    height->setValue(heightMm);
}
