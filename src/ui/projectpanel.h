#pragma once

#include "model/project.h"

#include <QList>
#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QPushButton;
class QSpinBox;
class QVBoxLayout;
class UnitSpinBox;

// The panel left of the pages: the project selector and the settings of the
// current project. It only shows and collects values; the window decides what
// an edit means, and nothing here writes to the database.
class ProjectPanel : public QWidget
{
    Q_OBJECT

public:
    explicit ProjectPanel(QWidget *parent = nullptr);

    // Refills the selector in list order and selects `current` (or shows its
    // name when it is not listed). Emits nothing.
    void setProjects(const QList<Project> &projects, const Project &current);
    // The project id stored with a selector item; 0 for an index out of range.
    qint64 projectIdAt(int index) const;
    // The selector's edit text as typed (the name a save stores).
    QString projectName() const;
    // Selects the whole name and gives the selector keyboard focus.
    void focusProjectName();

    // Puts a project's sizes, layout, bleed and sides into the widgets
    // without emitting any change signal.
    void showProject(const Project &project);
    // Copies card and sheet size, rows, columns, bleed and the guide flag.
    void storeSettings(Project *project) const;
    // Copies only the settings edited since the project was shown or saved:
    // the rest keep the stored values, which the widgets may show clamped to
    // their ranges.
    void storeEditedSettings(Project *project) const;
    // True when a setting or the name differs from what was shown or saved.
    bool hasUnsavedChanges() const;
    // The name as the user typed it, kept even after the selector has moved
    // on to another project; the shown project's name when nothing was typed.
    QString editedName() const;
    // The values on show become the saved ones.
    void markSaved();
    void setDuplexChecked(bool duplex);

    bool useInches() const;
    // Selects the units item without emitting useInchesChanged.
    void setUseInches(bool useInches);

    QList<UnitSpinBox *> unitSpinBoxes() const;

    QComboBox *projectSelector() const { return m_projectSelector; }
    QPushButton *deleteProjectButton() const { return m_deleteProjectButton; }
    QPushButton *singleButton() const { return m_singleButton; }
    QPushButton *duplexButton() const { return m_duplexButton; }
    QComboBox *unitsCombo() const { return m_unitsCombo; }
    UnitSpinBox *cardWidthBox() const { return m_cardWidth; }
    UnitSpinBox *cardHeightBox() const { return m_cardHeight; }
    QComboBox *paperCombo() const { return m_paperCombo; }
    QComboBox *orientationCombo() const { return m_orientationCombo; }
    UnitSpinBox *bleedBox() const { return m_bleed; }
    QCheckBox *bleedGuideCheck() const { return m_bleedGuide; }
    UnitSpinBox *sheetWidthBox() const { return m_sheetWidth; }
    UnitSpinBox *sheetHeightBox() const { return m_sheetHeight; }
    QSpinBox *rowsBox() const { return m_rows; }
    QSpinBox *columnsBox() const { return m_columns; }
    QPushButton *saveButton() const { return m_saveButton; }
    // Under the imposition settings; hidden while the grid fits the sheet.
    QLabel *fitWarningLabel() const { return m_fitWarning; }

signals:
    void projectActivated(int index);
    void deleteProjectRequested();
    void duplexRequested(bool duplex);
    void useInchesChanged(bool useInches);
    // The bleed maximum has already been updated when this arrives.
    void cardSizeChanged();
    void bleedChanged();
    void bleedGuideChanged();
    // Sheet size (typed or from a paper preset), rows or columns.
    void sheetLayoutChanged();
    void saveRequested();

private:
    QFormLayout *addSection(QVBoxLayout *layout, const QString &title);
    UnitSpinBox *createLengthBox(double minimumMm, double maximumMm);
    void updateBleedMaximum();
    void applyPaperPreset();
    void updateFitWarning();

    QComboBox *m_projectSelector = nullptr;
    QPushButton *m_deleteProjectButton = nullptr;
    QButtonGroup *m_sidesGroup = nullptr;
    QPushButton *m_singleButton = nullptr;
    QPushButton *m_duplexButton = nullptr;
    QComboBox *m_unitsCombo = nullptr;
    UnitSpinBox *m_cardWidth = nullptr;
    UnitSpinBox *m_cardHeight = nullptr;
    QComboBox *m_paperCombo = nullptr;
    QComboBox *m_orientationCombo = nullptr;
    UnitSpinBox *m_bleed = nullptr;
    QCheckBox *m_bleedGuide = nullptr;
    UnitSpinBox *m_sheetWidth = nullptr;
    UnitSpinBox *m_sheetHeight = nullptr;
    QSpinBox *m_rows = nullptr;
    QSpinBox *m_columns = nullptr;
    QPushButton *m_saveButton = nullptr;
    QLabel *m_fitWarning = nullptr;

    // What was last shown or saved, to tell the user's edits from it.
    Project m_savedSettings;
    QString m_savedName;
    qint64 m_shownProjectId = -1;
    int m_shownIndex = -1;
    QString m_typedName;
    bool m_nameTyped = false;
    bool m_fillingSelector = false;
};
