#pragma once

// Real PDFs for tests, written by Qt's PDF writer: pages of a given size in
// points, the first one `pageColor` (white by default) with one filled rectangle, so a rasterised pixel
// can be checked against where the rectangle is; and a hostile one, small on
// disk and huge once decoded.
#include <QColor>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <algorithm>

#include <zlib.h>

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

// A page whose content stream is `unpacked` zero bytes, flate-compressed to
// about a thousandth of that: the file is small, decoding it is not.
inline QByteArray flateBombPdf(qint64 unpacked)
{
    QByteArray stream;
    z_stream zip{};
    if (deflateInit(&zip, Z_BEST_COMPRESSION) != Z_OK)
        return {};
    QByteArray zeros(1 << 24, '\0');
    QByteArray out(1 << 20, Qt::Uninitialized);
    for (qint64 done = 0; done < unpacked; done += zeros.size()) {
        zip.next_in = reinterpret_cast<Bytef *>(zeros.data());
        zip.avail_in = uInt(std::min<qint64>(zeros.size(), unpacked - done));
        const int flush = done + zeros.size() >= unpacked ? Z_FINISH : Z_NO_FLUSH;
        do {
            zip.next_out = reinterpret_cast<Bytef *>(out.data());
            zip.avail_out = uInt(out.size());
            deflate(&zip, flush);
            stream.append(out.constData(), out.size() - qsizetype(zip.avail_out));
        } while (zip.avail_out == 0);
    }
    deflateEnd(&zip);
    return "%PDF-1.4\n"
           "1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
           "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
           "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R >> endobj\n"
           "4 0 obj << /Length "
        + QByteArray::number(stream.size()) + " /Filter /FlateDecode >> stream\n" + stream
        + "\nendstream endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n";
}
