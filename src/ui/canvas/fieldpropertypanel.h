#pragma once

#include "model/cardtable.h"
#include "model/datasource.h"
#include "model/templatefield.h"
#include "ui/canvas/colorbutton.h"
#include "ui/canvas/propertyform.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <optional>

class PrizeEditor;
class QCheckBox;
class QComboBox;
class QFontComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class UnitSpinBox;

// One edit made in the field panel, for the window to apply.
struct FieldEdit
{
    enum class Kind {
        Properties,      // a row of the panel, the binding or the colour
        ScratchSettings, // the prize editor
    };

    // The record last shown: what the store holds, the undo step's start.
    TemplateField before;
    // The record as edited, with minimum and fitted sizes applied.
    TemplateField after;
    Kind kind = Kind::Properties;
    // Scratch and sequence fields generate card values, so the imposition
    // preview and the data page's record preview must be prepared again.
    bool refreshesPreview = false;

    // The status-bar text for a failed save of this edit.
    QString saveFailureMessage(const QString &error) const;
};

Q_DECLARE_METATYPE(FieldEdit)

// The property panel of the selected template field. Filled with a record, it
// reports every user edit as the whole edited record; it never writes to the
// store. The window applies the edit and shows the saved record again; until
// then the panel keeps the record it last showed as the edit's "before".
class FieldPropertyPanel : public QWidget
{
    Q_OBJECT

public:
    explicit FieldPropertyPanel(QWidget *parent = nullptr);

    // The project's data sources in source order and each one's column names
    // (by source id, in the order to offer them). Refills "Data Source" and
    // "Select Field" without emitting, keeping the binding on show.
    void setDataSources(const QList<DataSource> &sources,
                        const QHash<qint64, QStringList> &columnsBySource);
    // The card size and card records that fitted sizes are measured against.
    void setCardContext(const QSizeF &cardMm, const CardTable &records);

    // Shows a field (an id below 1 shows "nothing selected"). Emits nothing.
    void showField(const TemplateField &field);
    void clearField() { showField(TemplateField{}); }
    bool hasField() const { return m_field.id >= 1; }
    const TemplateField &shownField() const { return m_field; }

    // How "Choose Text Color" is asked; by default the standard colour dialog.
    void setColorChooser(ColorChooser chooser);

    // The length boxes, for the window's display unit.
    QList<UnitSpinBox *> unitSpinBoxes() const;

    QLabel *titleLabel() const { return m_title; }
    QLineEdit *nameEdit() const { return m_name; }
    QComboBox *dataSourceCombo() const { return m_dataSource; }
    QComboBox *columnCombo() const { return m_column; }
    UnitSpinBox *xBox() const { return m_placement.x; }
    UnitSpinBox *yBox() const { return m_placement.y; }
    UnitSpinBox *widthBox() const { return m_placement.width; }
    UnitSpinBox *heightBox() const { return m_placement.height; }
    QComboBox *barcodeTypeCombo() const { return m_barcodeType; }
    QCheckBox *showTextCheck() const { return m_showText; }
    QLineEdit *sequencePrefixEdit() const { return m_sequencePrefix; }
    QSpinBox *sequenceDigitsBox() const { return m_sequenceDigits; }
    QSpinBox *sequenceStepBox() const { return m_sequenceStep; }
    QCheckBox *excludeFourCheck() const { return m_excludeFour; }
    PrizeEditor *prizeEditor() const { return m_prizes; }
    QFontComboBox *fontCombo() const { return m_font; }
    QSpinBox *fontSizeBox() const { return m_fontSize; }
    QCheckBox *boldCheck() const { return m_bold; }
    QComboBox *alignmentCombo() const { return m_alignment; }
    ColorButton *colorButton() const { return m_color; }
    QLabel *hintLabel() const { return m_hint; }
    QPushButton *deleteButton() const { return m_delete; }

signals:
    void fieldEdited(const FieldEdit &edit);
    // "Delete Current Field" for the field on show.
    void deleteRequested(qint64 fieldId);

private:
    void chooseSourceFor(const QString &key);
    void fillColumns(const QString &key);
    void dataSourceChosen();
    TemplateField editedField() const;
    void apply(FieldEdit::Kind kind);

    QFormLayout *m_form = nullptr;
    QLabel *m_title = nullptr;
    QLineEdit *m_name = nullptr;
    QComboBox *m_dataSource = nullptr;
    QComboBox *m_column = nullptr;
    PropertyRowWidgets m_rowWidgets{PropertyPanelGroup::Field};
    PlacementBoxes m_placement;
    QComboBox *m_barcodeType = nullptr;
    QCheckBox *m_showText = nullptr;
    QLineEdit *m_sequencePrefix = nullptr;
    QSpinBox *m_sequenceDigits = nullptr;
    QSpinBox *m_sequenceStep = nullptr;
    QCheckBox *m_excludeFour = nullptr;
    PrizeEditor *m_prizes = nullptr;
    QFontComboBox *m_font = nullptr;
    QSpinBox *m_fontSize = nullptr;
    QCheckBox *m_bold = nullptr;
    QComboBox *m_alignment = nullptr;
    ColorButton *m_color = nullptr;
    QLabel *m_hint = nullptr;
    QPushButton *m_delete = nullptr;

    QHash<qint64, QStringList> m_columnsBySource;
    QSizeF m_cardMm{90, 54};
    CardTable m_records;

    // The record last shown (the edit's "before") and the one the canvas now
    // shows: the last shown or the last reported, whichever came later.
    TemplateField m_field;
    TemplateField m_current;
    // What filling put into the widgets that cannot hold every stored value
    // (a font not installed, a fractional size, an alignment or format
    // without an item): an edit elsewhere keeps the stored value.
    QString m_shownFontFamily;
    int m_shownFontSize = 0;
    int m_shownAlignmentIndex = -1;
    int m_shownBarcodeIndex = -1;
    bool m_filling = false;
};
