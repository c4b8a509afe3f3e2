#include "ui/impositionpreviewwidget.h"

#include <QFont>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>

namespace {
// Room around the sheet: the caption sits in the top margin.
constexpr int kMarginLeft = 42;
constexpr int kMarginRight = 42;
constexpr int kMarginTop = 48;
constexpr int kMarginBottom = 36;

const QColor kBackground(0xf3, 0xf4, 0xf6);
const QColor kSheetOutline(0xd1, 0xd5, 0xdb);
const QColor kCaptionColor(0x37, 0x41, 0x51);
}

ImpositionPreviewWidget::ImpositionPreviewWidget(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("impositionPreview"));
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);
}

QString ImpositionPreviewWidget::orderModeText(bool cutStack)
{
    return cutStack ? tr("Cut-Stack (continuous after cutting and stacking)")
                    : tr("Standard Order (continuous on sheet)");
}

void ImpositionPreviewWidget::setSheetData(SheetData data)
{
    m_composer.setSheetData(std::move(data));
    update();
}

void ImpositionPreviewWidget::setMarkOptions(MarkOptions options)
{
    m_composer.setMarkOptions(std::move(options));
    update();
}

QRectF ImpositionPreviewWidget::sheetRect() const
{
    const double availableWidth = width() - kMarginLeft - kMarginRight;
    const double availableHeight = height() - kMarginTop - kMarginBottom;
    const QSizeF sheet = m_composer.sheetData().sheetSizeMm;
    if (availableWidth <= 0 || availableHeight <= 0 || sheet.width() <= 0 || sheet.height() <= 0)
        return QRectF(m_panOffset, QSizeF());

    const double dpiX = std::max(logicalDpiX(), 1);
    const double dpiY = std::max(logicalDpiY(), 1);
    const QSizeF size(dpiX / 25.4 * sheet.width() * m_zoom, dpiY / 25.4 * sheet.height() * m_zoom);
    const QPointF centre(kMarginLeft + availableWidth / 2, kMarginTop + availableHeight / 2);
    return QRectF(centre - QPointF(size.width() / 2, size.height() / 2) + m_panOffset, size);
}

QString ImpositionPreviewWidget::captionText() const
{
    const SheetData &data = m_composer.sheetData();
    const bool back = data.side == QLatin1String("back");
    return tr("Print page %1 / %2 · Sheet %3 / %4 · %5 × %6 mm · %7 · %8")
        .arg(data.printPageIndex + 1)
        .arg(std::max(data.printPageCount, 1))
        .arg(data.sheetIndex + 1)
        .arg(data.layout.sheetCount())
        .arg(QString::number(data.sheetSizeMm.width(), 'f', 2),
             QString::number(data.sheetSizeMm.height(), 'f', 2), orderModeText(data.cutStack),
             back ? tr("Back (horizontal mirror alignment)") : tr("Front"));
}

void ImpositionPreviewWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing
                           | QPainter::SmoothPixmapTransform);
    painter.fillRect(rect(), kBackground);

    const QRectF sheet = sheetRect();
    m_composer.paintSheet(painter, sheet, true);

    painter.setPen(QPen(kSheetOutline, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(sheet);

    painter.setPen(kCaptionColor);
    painter.setFont(QFont(QStringLiteral("Segoe UI"), 9));
    painter.drawText(QRect(0, 10, width(), 28), Qt::AlignCenter, captionText());
}

void ImpositionPreviewWidget::wheelEvent(QWheelEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    const int delta = event->angleDelta().isNull() ? event->pixelDelta().y()
                                                   : event->angleDelta().y();
    if (delta == 0) {
        QWidget::wheelEvent(event);
        return;
    }
    event->accept();

    if (!(event->modifiers() & Qt::ControlModifier)) {
        emit sheetChangeRequested(delta < 0 ? 1 : -1);
        return;
    }
    const double zoom = std::clamp(delta > 0 ? m_zoom * kZoomStep : m_zoom / kZoomStep,
                                   kMinimumZoom, kMaximumZoom);
    if (qFuzzyCompare(zoom, m_zoom))
        return;
    m_zoom = zoom;
    emit zoomChanged(qRound(m_zoom * 100));
    update();
}

void ImpositionPreviewWidget::keyPressEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Space) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (event->isAutoRepeat())
        return;
    m_spaceHeld = true;
    if (!m_panning)
        setCursor(Qt::OpenHandCursor);
}

void ImpositionPreviewWidget::keyReleaseEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Space) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    event->accept();
    if (event->isAutoRepeat())
        return;
    m_spaceHeld = false;
    // A drag under way keeps its closed hand until the button is let go.
    if (!m_panning)
        showRestingCursor();
}

void ImpositionPreviewWidget::focusOutEvent(QFocusEvent *event)
{
    // The release of a Space held while focus moves elsewhere never arrives
    // here; without this the widget would stay ready to pan.
    m_spaceHeld = false;
    if (!m_panning)
        showRestingCursor();
    QWidget::focusOutEvent(event);
}

void ImpositionPreviewWidget::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton || !m_spaceHeld) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_panning = true;
    m_lastDragPosition = event->position().toPoint();
    setCursor(Qt::ClosedHandCursor);
    event->accept();
}

void ImpositionPreviewWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_panning) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPoint position = event->position().toPoint();
    m_panOffset += position - m_lastDragPosition;
    m_lastDragPosition = position;
    update();
    event->accept();
}

void ImpositionPreviewWidget::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_panning) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_panning = false;
    showRestingCursor();
    event->accept();
}

void ImpositionPreviewWidget::showRestingCursor()
{
    if (m_spaceHeld)
        setCursor(Qt::OpenHandCursor);
    else
        setCursor(Qt::ArrowCursor);
}
