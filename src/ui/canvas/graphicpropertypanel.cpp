#include "ui/canvas/graphicpropertypanel.h"

#include "ui/canvas/propertyform.h"

#include "editor/editorgeometry.h"
#include "ui/unitspinbox.h"

#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString fallbackColor = QStringLiteral("#111827");

QDoubleSpinBox *newMillimetreBox(double minimum, double maximum, double step, QWidget *parent)
{
    auto *box = new QDoubleSpinBox(parent);
    box->setRange(minimum, maximum);
    box->setDecimals(2);
    box->setSingleStep(step);
    box->setSuffix(QStringLiteral(" mm"));
    return box;
}

} // namespace

QString GraphicEdit::saveFailureMessage(const QString &error) const
{
    return QCoreApplication::translate("GraphicPropertyPanel", "Could not save the graphic: %1").arg(error);
}

GraphicPropertyPanel::GraphicPropertyPanel(QWidget *parent)
    : QWidget(parent)
{
    // The same frame and look as the field panel.
    const PropertyForm parts = buildPropertyForm(this, propertyPanelTitle(PropertyPanelGroup::Graphic, std::nullopt));
    QVBoxLayout *layout = parts.layout;
    m_title = parts.title;
    m_form = parts.form;

    m_rowWidgets.build(m_form, [this](PropertyRow row) -> QWidget * {
        if (UnitSpinBox *box = m_placement.make(row, this))
            return box;
        switch (row) {
        case PropertyRow::Rows:
            m_rows = new QSpinBox(this);
            m_rows->setRange(elementlimits::minimumTableCount, elementlimits::maximumTableCount);
            return m_rows;
        case PropertyRow::Columns:
            m_columns = new QSpinBox(this);
            m_columns->setRange(elementlimits::minimumTableCount, elementlimits::maximumTableCount);
            return m_columns;
        case PropertyRow::StrokeWidth:
            return m_strokeWidth = newMillimetreBox(elementlimits::minimumStrokeWidthMm,
                                                    elementlimits::maximumStrokeWidthMm, 0.05, this);
        case PropertyRow::CellSpacing:
            return m_spacing = newMillimetreBox(0, elementlimits::maximumCellSpacingMm, 0.1, this);
        case PropertyRow::Colour:
            return m_color = new ColorButton("graphicColor", tr("Choose Line Color"), this);
        default:
            return nullptr;
        }
    });

    m_hint = new QLabel(tr("Changes are saved automatically. Table spacing creates gaps between cells."),
                        this);
    m_hint->setObjectName(QStringLiteral("hint"));
    m_hint->setWordWrap(true);
    layout->addWidget(m_hint);

    m_splitTable = new QPushButton(tr("Split Table"), this);
    m_splitTable->setToolTip(tr("Convert the table into independently movable and resizable rectangles"));
    layout->addWidget(m_splitTable);

    m_delete = new QPushButton(tr("Delete Current Graphic"), this);
    m_delete->setObjectName(QStringLiteral("dangerButton"));
    layout->addWidget(m_delete);
    layout->addStretch(1);

    // Only finished entries are reported, as by the position and size boxes.
    for (QAbstractSpinBox *box : std::initializer_list<QAbstractSpinBox *>{m_rows, m_columns, m_strokeWidth, m_spacing})
        box->setKeyboardTracking(false);

    for (QDoubleSpinBox *box : m_placement.boxes())
        connect(box, &QDoubleSpinBox::valueChanged, this, &GraphicPropertyPanel::apply);
    for (QDoubleSpinBox *box : {m_strokeWidth, m_spacing})
        connect(box, &QDoubleSpinBox::valueChanged, this, &GraphicPropertyPanel::apply);
    for (QSpinBox *box : {m_rows, m_columns})
        connect(box, &QSpinBox::valueChanged, this, &GraphicPropertyPanel::apply);
    connect(m_color, &ColorButton::colorChosen, this, &GraphicPropertyPanel::apply);
    connect(m_splitTable, &QPushButton::clicked, this, [this] {
        if (hasGraphic() && m_graphic.type == ElementKind::Table)
            emit splitTableRequested(m_graphic.id);
    });
    connect(m_delete, &QPushButton::clicked, this, [this] {
        if (hasGraphic())
            emit deleteRequested(m_graphic.id);
    });

    showGraphic(GraphicElement{});
}

void GraphicPropertyPanel::showGraphic(const GraphicElement &graphic)
{
    m_filling = true;
    m_graphic = graphic;
    m_current = graphic;
    const bool selected = graphic.id >= 1;
    const std::optional<ElementKind> type = selected ? std::optional(graphic.type) : std::nullopt;

    m_title->setText(propertyPanelTitle(PropertyPanelGroup::Graphic, type));

    m_rowWidgets.showFor(type);
    m_splitTable->setEnabled(type == ElementKind::Table);

    m_placement.setValue(graphic.xMm, graphic.yMm, graphic.widthMm, graphic.heightMm);
    m_rows->setValue(std::max(graphic.rows, 1));
    m_columns->setValue(std::max(graphic.columns, 1));
    m_strokeWidth->setValue(graphic.strokeWidthMm);
    m_spacing->setValue(graphic.cellSpacingMm);
    m_color->setColor(graphic.strokeColor);

    m_delete->setEnabled(selected);
    m_filling = false;
}

void GraphicPropertyPanel::setColorChooser(ColorChooser chooser)
{
    m_color->setChooser(std::move(chooser));
}

QList<UnitSpinBox *> GraphicPropertyPanel::unitSpinBoxes() const
{
    return m_placement.boxes();
}

GraphicElement GraphicPropertyPanel::editedGraphic() const
{
    GraphicElement graphic = m_graphic;
    // Kept on the card as a drag keeps it.
    const QSizeF minimum(graphicMinimumSideMm, isLine(graphic.type) ? lineMinimumHeightMm : graphicMinimumSideMm);
    const QRectF box = keptOnCard(m_placement.value(), m_cardMm, minimum);
    graphic.xMm = box.x();
    graphic.yMm = box.y();
    graphic.widthMm = box.width();
    graphic.heightMm = box.height();
    graphic.rows = m_rows->value();
    graphic.columns = m_columns->value();
    graphic.strokeWidthMm = m_strokeWidth->value();
    graphic.cellSpacingMm = m_spacing->value();
    graphic.strokeColor = m_color->color().isEmpty() ? fallbackColor : m_color->color();
    return graphic;
}

void GraphicPropertyPanel::apply()
{
    if (m_filling || !hasGraphic())
        return;
    GraphicEdit edit;
    edit.before = m_graphic;
    edit.after = editedGraphic();
    // A box stepped back to the value on show is no edit.
    if (edit.after == m_current)
        return;
    m_current = edit.after;

    // The boxes show the place and sizes reported, raised to the minimums and
    // kept on the card.
    m_filling = true;
    m_placement.setValue(edit.after.xMm, edit.after.yMm, edit.after.widthMm, edit.after.heightMm);
    m_filling = false;

    emit graphicEdited(edit);
}
