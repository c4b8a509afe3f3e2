#include "ui/canvas/propertyscroll.h"

#include "ui/canvas/fieldpropertypanel.h"
#include "ui/canvas/graphicpropertypanel.h"

#include <QVBoxLayout>

PropertyScroll::PropertyScroll(QWidget *parent)
    : QScrollArea(parent)
{
    setObjectName(QStringLiteral("propertyScroll"));
    setMinimumWidth(300);
    setMaximumWidth(370);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    // The rows wrap to the width instead.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The area itself holds nothing to operate; focus goes to the controls,
    // and the area follows it (QScrollArea scrolls to the focused child).
    setFocusPolicy(Qt::NoFocus);

    auto *content = new QWidget(this);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_fieldPanel = new FieldPropertyPanel(content);
    m_graphicPanel = new GraphicPropertyPanel(content);
    layout->addWidget(m_fieldPanel);
    layout->addWidget(m_graphicPanel);
    layout->addStretch(1);
    setWidget(content);

    showFieldPanel();
}

void PropertyScroll::showFieldPanel()
{
    m_graphicPanel->hide();
    m_fieldPanel->show();
}

void PropertyScroll::showGraphicPanel()
{
    m_fieldPanel->hide();
    m_graphicPanel->show();
}

void PropertyScroll::setColorChooser(const ColorChooser &chooser)
{
    m_fieldPanel->setColorChooser(chooser);
    m_graphicPanel->setColorChooser(chooser);
}

QList<UnitSpinBox *> PropertyScroll::unitSpinBoxes() const
{
    return m_fieldPanel->unitSpinBoxes() + m_graphicPanel->unitSpinBoxes();
}
