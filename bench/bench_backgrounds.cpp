// bench-backgrounds: PDF artwork for the background benchmark, and the time
// PDFium takes to rasterise it as the canvas and the export do.
//
//   bench-backgrounds artwork PATH       writes a one-page A4 artwork PDF: a
//                                        gradient, 400 shapes and 60 lines of text
//   bench-backgrounds rasterise PATH N   rasterises page 0 at 2400 px N times and
//                                        prints "median_ms=… min_ms=… size=W×H"
//
// Exit code 0 on success, 1 on a failure (message on stderr), 2 on a wrong
// command line.

#include "render/pdfrasterizer.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

int usage()
{
    std::fputs("usage: bench-backgrounds artwork PATH | rasterise PATH RUNS\n", stderr);
    return 2;
}

int writeArtwork(const QString &path)
{
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter(&writer);
    const QRectF page(0, 0, 595, 842);
    QLinearGradient gradient(page.topLeft(), page.bottomRight());
    gradient.setColorAt(0, QColor(0xfd, 0xf6, 0xe3));
    gradient.setColorAt(1, QColor(0xc8, 0xe6, 0xf5));
    painter.fillRect(page, gradient);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 400; ++i) {
        const QColor colour = QColor::fromHsv((i * 37) % 360, 90, 240, 160);
        painter.setBrush(colour);
        painter.setPen(QPen(colour.darker(130), 0.8));
        const QRectF box(20 + (i * 53) % 540, 20 + (i * 97) % 790, 18 + i % 30, 12 + i % 22);
        if (i % 2)
            painter.drawEllipse(box);
        else
            painter.drawRoundedRect(box, 4, 4);
    }
    painter.setPen(Qt::black);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(9);
    painter.setFont(font);
    for (int line = 0; line < 60; ++line)
        painter.drawText(QPointF(30, 40 + line * 13), QStringLiteral("Membership terms and conditions, line %1: "
                                                                     "cards remain the property of the club.")
                                                           .arg(line + 1));
    if (!painter.end()) {
        std::fprintf(stderr, "bench-backgrounds: could not write %s\n", qPrintable(path));
        return 1;
    }
    return 0;
}

int rasterise(const QString &path, int runs)
{
    std::vector<double> times;
    QSize size;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const RasterResult result = rasterizeFirstPdfPage(path, backgroundLongSidePx);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (result.image.isNull()) {
            std::fprintf(stderr, "bench-backgrounds: %s\n", qPrintable(result.error));
            return 1;
        }
        size = result.image.size();
    }
    std::sort(times.begin(), times.end());
    std::printf("median_ms=%.1f min_ms=%.1f size=%dx%d runs=%d\n", times[times.size() / 2], times.front(),
                size.width(), size.height(), runs);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == u"artwork")
        return writeArtwork(args[1]);
    if (args.size() == 3 && args[0] == u"rasterise") {
        bool ok = false;
        const int runs = args[2].toInt(&ok);
        return ok && runs > 0 ? rasterise(args[1], runs) : usage();
    }
    return usage();
}
