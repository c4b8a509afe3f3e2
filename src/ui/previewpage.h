#pragma once

#include "render/impositionlayout.h"
#include "render/jobselection.h"

#include <QColor>
#include <QList>
#include <QString>
#include <QWidget>

class ImpositionPreviewWidget;
class QButtonGroup;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

// Which sides the preview pages through.
enum class PreviewSides { All, Front, Back };

// The page to show: a sheet and its side.
struct PreviewPagePosition
{
    int sheet = 0;
    bool back = false;

    friend bool operator==(const PreviewPagePosition &, const PreviewPagePosition &) = default;
};

// Print pages the preview pages through: both sides of every sheet only for a
// duplex project showing "All", otherwise one page per sheet.
int previewPageCount(int sheetCount, bool duplexProject, PreviewSides sides);
// Page `page` (from 0) under the same rule; a single-sided project shows fronts.
PreviewPagePosition previewPageAt(int page, bool duplexProject, PreviewSides sides);

// What the preview pages through for the print choice kept for the project.
struct PreviewSelection
{
    QList<int> sheets;      // the sheets shown, ascending (indices from 0)
    QList<int> onlyRecords; // the cards drawn, ascending; empty: every card
    // "Showing cards 1, 8, 14, 37 only (2 sheets)", "Showing sheets 3–7 only",
    // or what is wrong with the choice, whose whole job is then shown; empty
    // for the whole job.
    QString line;
    bool error = false;
};
PreviewSelection previewSelection(const PrintChoice &choice, const ImpositionLayout &layout, bool cutStack);

// The "Imposition Preview" page: order and side choice, paging, zoom read-out,
// border and crop-mark options, the record and sheet counts, and the preview
// itself. It moves between pages on its own and asks the window to refresh
// whenever the shown page changes; the window feeds the preview.
class PreviewPage : public QWidget
{
    Q_OBJECT

public:
    explicit PreviewPage(QWidget *parent = nullptr);

    ImpositionPreviewWidget *preview() const { return m_preview; }
    bool cutStack() const;
    PreviewSides sides() const;

    // "All" and "Back" are offered only for a duplex project; leaving duplex
    // goes back to "Front".
    void setDuplex(bool duplex);
    // Shows the project's options without emitting their toggles.
    void setMarkOptions(bool showBorder, bool showCropMarks);
    void setBorderColor(const QColor &color);

    // Sets the page range 1 … max(pages, 1) without a refresh, the total and
    // the "<"/">" buttons; returns the current page, from 0.
    int setPageCount(int pages);
    void setCounts(int records, int sheets);
    // The line about the part shown, with "Show All Cards"; both hidden for
    // an empty line. A new line starts again at the first page.
    void showSelection(const QString &line, bool error);

    QComboBox *orderSelector() const { return m_orderSelector; }
    QPushButton *allButton() const { return m_allButton; }
    QPushButton *frontButton() const { return m_frontButton; }
    QPushButton *backButton() const { return m_backButton; }
    QSpinBox *pageNumberBox() const { return m_pageNumber; }
    QLabel *pageTotalLabel() const { return m_pageTotal; }
    QPushButton *previousButton() const { return m_previousButton; }
    QPushButton *nextButton() const { return m_nextButton; }
    QLabel *zoomLabel() const { return m_zoomLabel; }
    QPushButton *borderButton() const { return m_borderButton; }
    QPushButton *colorButton() const { return m_colorButton; }
    QPushButton *cropMarksButton() const { return m_cropMarksButton; }
    QLabel *recordCountLabel() const { return m_recordCount; }
    QLabel *sheetCountLabel() const { return m_sheetCount; }
    QLabel *selectionLabel() const { return m_selectionLine; }
    QPushButton *showAllButton() const { return m_showAllButton; }

signals:
    void refreshRequested();
    void borderToggled(bool show);
    void cropMarksToggled(bool show);
    void colorRequested();
    void showAllCardsRequested();

private:
    void stepPage(int step);

    ImpositionPreviewWidget *m_preview = nullptr;
    QComboBox *m_orderSelector = nullptr;
    QButtonGroup *m_sideGroup = nullptr;
    QPushButton *m_allButton = nullptr;
    QPushButton *m_frontButton = nullptr;
    QPushButton *m_backButton = nullptr;
    QSpinBox *m_pageNumber = nullptr;
    QLabel *m_pageTotal = nullptr;
    QPushButton *m_previousButton = nullptr;
    QPushButton *m_nextButton = nullptr;
    QLabel *m_zoomLabel = nullptr;
    QPushButton *m_borderButton = nullptr;
    QPushButton *m_colorButton = nullptr;
    QPushButton *m_cropMarksButton = nullptr;
    QLabel *m_recordCount = nullptr;
    QLabel *m_sheetCount = nullptr;
    QLabel *m_selectionLine = nullptr;
    QPushButton *m_showAllButton = nullptr;
};
