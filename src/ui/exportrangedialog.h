#pragma once

#include "render/impositionlayout.h"
#include "render/jobselection.h"

#include <QDialog>
#include <QString>

struct PdfExportJob;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

// "Export Range": which part of a planned job to write and whether to split
// it, like the page range of a print dialog. All cards, a card list as the
// preview numbers the cards, or a span of sheets; optionally one file per N
// sheets. The line below tells what the choice writes, or what is wrong with
// it, as it is typed; "Export…" is enabled only for a choice that can be
// written.
class ExportRangeDialog : public QDialog
{
    Q_OBJECT

public:
    // exec()'s result besides Accepted ("Export…") and Rejected ("Cancel").
    enum Outcome { ShowInPreview = 2 };

    // Counts the sheets of `job` (its layout, order and sides) and starts
    // from `choice`.
    ExportRangeDialog(const PdfExportJob &job, const PrintChoice &choice, QWidget *parent = nullptr);

    // What the controls show.
    PrintChoice choice() const;
    // What is wrong with choice() for the job; empty when it can be written.
    QString choiceError() const { return m_error; }

    QRadioButton *allCardsButton() const { return m_allCards; }
    QRadioButton *cardsButton() const { return m_cards; }
    QLineEdit *cardListEdit() const { return m_cardList; }
    QRadioButton *sheetsButton() const { return m_sheets; }
    QSpinBox *firstSheetBox() const { return m_firstSheet; }
    QSpinBox *lastSheetBox() const { return m_lastSheet; }
    QCheckBox *splitBox() const { return m_split; }
    QSpinBox *sheetsPerFileBox() const { return m_sheetsPerFile; }
    QLabel *summaryLabel() const { return m_summary; }
    QPushButton *exportButton() const { return m_export; }
    QPushButton *previewButton() const { return m_preview; }
    QPushButton *cancelButton() const { return m_cancel; }

private:
    void showChoice(const PrintChoice &choice);
    void updateState();

    ImpositionLayout m_layout;
    bool m_cutStack = false;
    bool m_duplex = false;
    QString m_error;

    QRadioButton *m_allCards = nullptr;
    QRadioButton *m_cards = nullptr;
    QLineEdit *m_cardList = nullptr;
    QRadioButton *m_sheets = nullptr;
    QSpinBox *m_firstSheet = nullptr;
    QSpinBox *m_lastSheet = nullptr;
    QCheckBox *m_split = nullptr;
    QSpinBox *m_sheetsPerFile = nullptr;
    QLabel *m_summary = nullptr;
    QPushButton *m_export = nullptr;
    QPushButton *m_preview = nullptr;
    QPushButton *m_cancel = nullptr;
};
