#pragma once

#include "render/sheetcomposer.h"

#include <QPoint>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QWidget>

// One print page on screen, painted by the same composer as the PDF export,
// with zoom (Ctrl+wheel), paging (wheel) and panning (Space+drag).
class ImpositionPreviewWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr double kMinimumZoom = 0.5;
    static constexpr double kMaximumZoom = 4.0;
    static constexpr double kZoomStep = 1.12;

    explicit ImpositionPreviewWidget(QWidget *parent = nullptr);

    // The order mode as the caption and the order selector name it.
    static QString orderModeText(bool cutStack);

    // Both store through the composer's adjustments and schedule a repaint.
    void setSheetData(SheetData data);
    void setMarkOptions(MarkOptions options);
    const SheetComposer &composer() const { return m_composer; }

    // 1.0 shows the sheet at its physical size.
    double zoom() const { return m_zoom; }
    // Pixels added to the centred sheet position.
    QPointF panOffset() const { return m_panOffset; }

    // Where the sheet is painted, in widget pixels; empty when nothing fits.
    QRectF sheetRect() const;
    // The line above the sheet: page, sheet, paper size, order and side.
    QString captionText() const;

signals:
    void sheetChangeRequested(int step);
    void zoomChanged(int percent);

protected:
    void paintEvent(QPaintEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void showRestingCursor();

    SheetComposer m_composer;
    double m_zoom = 1.0;
    QPointF m_panOffset;
    bool m_spaceHeld = false;
    bool m_panning = false;
    QPoint m_lastDragPosition;
};
