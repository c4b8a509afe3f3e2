#pragma once

#include "model/prizes.h"
#include "model/templatefield.h"

#include <QList>
#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;

// The scratch-card settings of one field: the allocation mode, the run length
// (percentage mode only), the prize table and a line saying how many cards the
// settings give or why they are invalid. It edits only its widgets; the field
// panel reads them back into the record it reports.
class PrizeEditor : public QWidget
{
    Q_OBJECT

public:
    explicit PrizeEditor(QWidget *parent = nullptr);

    // Shows the field's mode, total and prize list (two starter rows when the
    // list yields no prize) and the summary. Emits nothing. Settings equal to
    // those already on show leave the table alone, so a field pushed back
    // after an edit does not disturb the cell being edited.
    void showSettings(const TemplateField &field);
    // Writes mode, total and the serialized table onto the field.
    void storeSettings(TemplateField *field) const;

    // The mode chosen.
    ScratchMode mode() const;
    // Every row of the table: names trimmed, values read as numbers, −1 for
    // a value that is missing or cannot be read (which fails validation).
    QList<Prize> prizes() const;

    QComboBox *modeCombo() const { return m_mode; }
    QLabel *totalLabel() const { return m_totalLabel; }
    QSpinBox *totalBox() const { return m_total; }
    QTableWidget *table() const { return m_table; }
    QPushButton *addButton() const { return m_addButton; }
    QPushButton *removeButton() const { return m_removeButton; }
    QLabel *summaryLabel() const { return m_summary; }

signals:
    // The user changed the mode, the total or a cell, or added or removed a
    // row; the summary already tells the outcome.
    void settingsEdited();

private:
    void fillTable(const QList<Prize> &prizes, bool ratio);
    void appendRow(const QString &name, const QString &value);
    void showMode(bool ratio);
    void updateSummary();
    void updateRemoveEnabled();
    void edited();
    void addPrize();
    void removePrize();

    QComboBox *m_mode = nullptr;
    QLabel *m_totalLabel = nullptr;
    QSpinBox *m_total = nullptr;
    QTableWidget *m_table = nullptr;
    QPushButton *m_addButton = nullptr;
    QPushButton *m_removeButton = nullptr;
    QLabel *m_summary = nullptr;

    qint64 m_fieldId = 0;
    bool m_filling = false;
    bool m_shown = false;
};
