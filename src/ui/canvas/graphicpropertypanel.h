#pragma once

#include "model/graphicelement.h"
#include "ui/canvas/colorbutton.h"
#include "ui/canvas/propertyform.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QSizeF>
#include <QWidget>

class QDoubleSpinBox;
class QFormLayout;
class QLabel;
class QPushButton;
class QSpinBox;
class UnitSpinBox;

// One edit made in the graphic panel, for the window to apply.
struct GraphicEdit
{
    // The record last shown: what the store holds, the undo step's start.
    GraphicElement before;
    // The record as edited, with the minimum sizes applied.
    GraphicElement after;
    // Graphics are printed on every card, so every edit changes the sheets.
    bool refreshesPreview = true;

    // The status-bar text for a failed save of this edit.
    QString saveFailureMessage(const QString &error) const;
};

Q_DECLARE_METATYPE(GraphicEdit)

// The property panel of the selected graphic. Filled with a record, it
// reports every user edit as the whole edited record; it never writes to the
// store. The window applies the edit and shows the saved record again; until
// then the panel keeps the record it last showed as the edit's "before".
class GraphicPropertyPanel : public QWidget
{
    Q_OBJECT

public:
    explicit GraphicPropertyPanel(QWidget *parent = nullptr);

    // Shows a graphic (an id below 1 shows "nothing selected"). Emits nothing.
    void showGraphic(const GraphicElement &graphic);
    void clearGraphic() { showGraphic(GraphicElement{}); }
    bool hasGraphic() const { return m_graphic.id >= 1; }
    const GraphicElement &shownGraphic() const { return m_graphic; }

    // The card the graphic lies on (mm): the position and size boxes keep it
    // there (90 × 54 until set; a size that is not positive keeps nothing).
    void setCardSize(const QSizeF &cardMm) { m_cardMm = cardMm; }

    // How "Choose Line Color" is asked; by default the standard colour dialog.
    void setColorChooser(ColorChooser chooser);

    // The length boxes, for the window's display unit.
    QList<UnitSpinBox *> unitSpinBoxes() const;

    QLabel *titleLabel() const { return m_title; }
    UnitSpinBox *xBox() const { return m_placement.x; }
    UnitSpinBox *yBox() const { return m_placement.y; }
    UnitSpinBox *widthBox() const { return m_placement.width; }
    UnitSpinBox *heightBox() const { return m_placement.height; }
    QSpinBox *rowsBox() const { return m_rows; }
    QSpinBox *columnsBox() const { return m_columns; }
    QDoubleSpinBox *strokeWidthBox() const { return m_strokeWidth; }
    QDoubleSpinBox *spacingBox() const { return m_spacing; }
    ColorButton *colorButton() const { return m_color; }
    QLabel *hintLabel() const { return m_hint; }
    QPushButton *splitTableButton() const { return m_splitTable; }
    QPushButton *deleteButton() const { return m_delete; }

signals:
    void graphicEdited(const GraphicEdit &edit);
    // "Split Table" for the table on show.
    void splitTableRequested(qint64 graphicId);
    // "Delete Current Graphic" for the graphic on show.
    void deleteRequested(qint64 graphicId);

private:
    GraphicElement editedGraphic() const;
    void apply();

    QFormLayout *m_form = nullptr;
    QLabel *m_title = nullptr;
    PropertyRowWidgets m_rowWidgets{PropertyPanelGroup::Graphic};
    PlacementBoxes m_placement;
    QSpinBox *m_rows = nullptr;
    QSpinBox *m_columns = nullptr;
    QDoubleSpinBox *m_strokeWidth = nullptr;
    QDoubleSpinBox *m_spacing = nullptr;
    ColorButton *m_color = nullptr;
    QLabel *m_hint = nullptr;
    QPushButton *m_splitTable = nullptr;
    QPushButton *m_delete = nullptr;

    // The record last shown (the edit's "before") and the one the canvas now
    // shows: the last shown or the last reported, whichever came later.
    GraphicElement m_graphic;
    GraphicElement m_current;
    QSizeF m_cardMm{90, 54};
    bool m_filling = false;
};
