#pragma once

#include "ui/canvas/colorbutton.h"

#include <QList>
#include <QScrollArea>

class FieldPropertyPanel;
class GraphicPropertyPanel;
class UnitSpinBox;

// The column beside the canvas holding the two property panels, one shown at
// a time; it scrolls when a panel (a scratch field's, with its prize table)
// is taller than the window.
class PropertyScroll : public QScrollArea
{
    Q_OBJECT

public:
    explicit PropertyScroll(QWidget *parent = nullptr);

    FieldPropertyPanel *fieldPanel() const { return m_fieldPanel; }
    GraphicPropertyPanel *graphicPanel() const { return m_graphicPanel; }

    // Shows one panel and hides the other. The field panel is shown at first.
    void showFieldPanel();
    void showGraphicPanel();

    // Both panels' colour buttons ask through this.
    void setColorChooser(const ColorChooser &chooser);
    // The length boxes of both panels, for the window's display unit.
    QList<UnitSpinBox *> unitSpinBoxes() const;

private:
    FieldPropertyPanel *m_fieldPanel = nullptr;
    GraphicPropertyPanel *m_graphicPanel = nullptr;
};
