#pragma once

#include "editor/editorgeometry.h"
#include "model/elementkind.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

class CanvasView;
class QCheckBox;
class QLabel;
class QMenu;
class QPushButton;
class QSpinBox;
class QSplitter;
class QTabWidget;
class QToolButton;

// The "Template Canvas" page: the front and back canvases in the side tabs,
// the tool palette, the alignment bar with "Snap", the background buttons and
// status, and the "Preview record" number. Every button and tool is a plain
// signal; the page writes nothing to any database. The window attaches its
// property panels with setPropertyPanel: they sit in a splitter at the right
// of the canvases.
class CanvasPage : public QWidget
{
    Q_OBJECT

public:
    explicit CanvasPage(QWidget *parent = nullptr);

    CanvasView *frontCanvas() const { return m_frontCanvas; }
    CanvasView *backCanvas() const { return m_backCanvas; }
    // The view of the current side tab, and its side.
    CanvasView *currentCanvas() const;
    CardSide currentSide() const;
    CanvasView *canvasForSide(CardSide side) const;

    // The "Back" tab is present only for a duplex template; leaving duplex
    // makes the front current first.
    void setDuplex(bool duplex);
    bool isDuplex() const;

    // Places `panel` (the window's property panels, usually one widget that
    // stacks the field and graphic panels) in the splitter at the right of
    // the canvases; the page takes ownership. A previous panel is deleted.
    void setPropertyPanel(QWidget *panel);
    QWidget *propertyPanel() const { return m_propertyPanel; }

    void setBackgroundStatus(const QString &text);
    // The "Preview record" range 1 … max(count, 1). Emits nothing, even when
    // the number had to move into the range: the caller refreshes the record.
    void setPreviewRecordCount(int count);
    int previewRecordNumber() const;

    QTabWidget *sideTabs() const { return m_sideTabs; }
    QSpinBox *previewRecordBox() const { return m_previewRecord; }
    QLabel *backgroundStatusLabel() const { return m_backgroundStatus; }
    QCheckBox *snapCheckBox() const { return m_snap; }
    QPushButton *importBackgroundButton() const { return m_importButton; }
    QPushButton *clearBackgroundButton() const { return m_clearButton; }
    QPushButton *addTextFieldButton() const { return m_addTextButton; }
    // In the order left, horizontal centre, right, top, vertical centre, bottom.
    const QList<QToolButton *> &alignmentButtons() const { return m_alignmentButtons; }
    // The palette's tools top to bottom, the select tool first.
    const QList<QToolButton *> &toolButtons() const { return m_toolButtons; }
    QToolButton *selectTool() const { return m_toolButtons.first(); }
    QMenu *drawingMenu() const { return m_drawingMenu; }

signals:
    void importBackgroundRequested();
    void clearBackgroundRequested();
    // A tool for a new element of `kind` was chosen.
    void addElementRequested(ElementKind kind);
    void alignRequested(AlignMode mode);
    void previewRecordChanged(int number);
    // The current side tab changed (also when the back tab goes away).
    void sideChanged(CardSide side);
    // Both canvases already have the new flag.
    void snapToggled(bool enabled);
    // A status-bar message for the window to show.
    void statusMessageRequested(const QString &text, int timeoutMs);

private:
    QWidget *createToolPalette();
    QWidget *createAlignmentBar();
    void updateAlignmentButtons();

    CanvasView *m_frontCanvas = nullptr;
    CanvasView *m_backCanvas = nullptr;
    QTabWidget *m_sideTabs = nullptr;
    QSplitter *m_splitter = nullptr;
    QPointer<QWidget> m_propertyPanel;
    QLabel *m_backgroundStatus = nullptr;
    QSpinBox *m_previewRecord = nullptr;
    QCheckBox *m_snap = nullptr;
    QPushButton *m_importButton = nullptr;
    QPushButton *m_clearButton = nullptr;
    QPushButton *m_addTextButton = nullptr;
    QList<QToolButton *> m_alignmentButtons;
    QList<QToolButton *> m_toolButtons;
    QMenu *m_drawingMenu = nullptr;
};
