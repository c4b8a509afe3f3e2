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
