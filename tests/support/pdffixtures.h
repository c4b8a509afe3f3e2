#pragma once

// Real PDFs for tests, written by Qt's PDF writer: pages of a given size in
// points, the first one `pageColor` (white by default) with one filled rectangle, so a rasterised pixel
// can be checked against where the rectangle is.
#include <QColor>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRectF>
#include <QSizeF>
#include <QString>

inline bool writeTestPdf(const QString &path, const QSizeF &sizePt, int pages = 1, const QRectF &markPt = {},
                         const QColor &markColor = Qt::red, const QColor &pageColor = Qt::white)
{
    QPdfWriter writer(path);
    writer.setResolution(72); // one device unit per point
    if (!writer.setPageLayout(QPageLayout(QPageSize(sizePt, QPageSize::Point, QString(), QPageSize::ExactMatch),
                                          QPageLayout::Portrait, QMarginsF(0, 0, 0, 0))))
        return false;
    QPainter painter;
    if (!painter.begin(&writer))
        return false;
    painter.fillRect(QRectF(QPointF(0, 0), sizePt), pageColor);
    if (!markPt.isEmpty())
        painter.fillRect(markPt, markColor);
    for (int page = 1; page < pages; ++page) {
        if (!writer.newPage())
            return false;
    }
    return painter.end();
}
