// bench-text: the cost of setting one card text as outlines, the way the text
// painter sets it at 300 dpi: measured and placed with QPainterPath::addText
// (what the painter did before) and with TextOutlines (what it does now).
//
//   bench-text [TEXTS]     TEXTS texts per case (default 250000)
//
// Cases: "serials" are all distinct ("No.000001", ...), as sequence numbers
// are; "labels" cycle through 12 texts, as prizes and static texts do;
// "names" draw from 40 × 40 first and last names, as a data column might.
// Each prints "<case> <method> us_per_text=U elements=E" (E the path elements
// set, the same for both methods unless one drew something else), and for
// TextOutlines what it holds at the end: "glyphs=G glyph_kib=K texts=T
// text_kib=L hits=H misses=M".

#include "render/textoutlines.h"

#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainterPath>
#include <QStringList>

#include <cstdio>
#include <functional>

namespace {

QFont font(bool bold)
{
    QFont result(QStringLiteral("DejaVu Sans"));
    result.setWeight(bold ? QFont::Bold : QFont::Normal);
    result.setPixelSize(bold ? 58 : 42); // 14 pt and 10 pt at 300 dpi
    return result;
}

// Fractional pen positions, as aligned texts in card cells get them.
QPointF origin(int i)
{
    return QPointF(100 + (i % 97) * 13.37, 200 + (i % 89) * 7.71);
}

qint64 run(const char *name, const char *method, int count, const std::function<QString(int)> &text,
           const std::function<QPainterPath(const QFont &, const QString &, QPointF, double *)> &set)
{
    const QFont regular = font(false);
    const QFont bold = font(true);
    qint64 elements = 0;
    double advances = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i) {
        double advance = 0;
        elements += set(i % 4 == 3 ? bold : regular, text(i), origin(i), &advance).elementCount();
        advances += advance;
    }
    const double us = double(timer.nsecsElapsed()) / 1000.0 / count;
    std::printf("%s %s us_per_text=%.2f elements=%lld advances=%.0f\n", name, method, us,
                static_cast<long long>(elements), advances);
    return elements;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    bool ok = true;
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt(&ok) : 250000;
    if (!ok || count < 1) {
        std::fputs("usage: bench-text [TEXTS]\n", stderr);
        return 2;
    }

    const QStringList labels{QStringLiteral("Free Coffee"), QStringLiteral("Cinema Ticket"),
                             QStringLiteral("Thanks for Playing"), QStringLiteral("Reykjavík"),
                             QStringLiteral("Paris"), QStringLiteral("Lisboa"), QStringLiteral("Kraków"),
                             QStringLiteral("Member"), QStringLiteral("VALID 2025"), QStringLiteral("AVAV"),
                             QStringLiteral("office"), QStringLiteral("São Paulo")};
    QStringList first, last;
    for (int i = 0; i < 40; ++i) {
        first.append(QStringLiteral("Name%1a").arg(QChar(u'A' + i % 26)) + QString(i / 26 + 1, u'e'));
        last.append(QStringLiteral("Ström%1").arg(QChar(u'a' + i % 26)) + QString(i / 26 + 1, u'ñ'));
    }
    const std::function<QString(int)> cases[] = {
        [](int i) -> QString { return QStringLiteral("No.%1").arg(i + 1, 6, 10, QLatin1Char('0')); },
        [&](int i) -> QString { return labels.at(i % labels.size()); },
        [&](int i) -> QString { return first.at((i * 7) % 40) + u' ' + last.at((i * 13 / 40) % 40); },
    };
    const char *names[] = {"serials", "labels", "names"};

    int status = 0;
    for (int c = 0; c < 3; ++c) {
        const qint64 before = run(names[c], "addText", count, cases[c],
                                  [](const QFont &f, const QString &text, QPointF at, double *advance) {
                                      *advance = QFontMetricsF(f).horizontalAdvance(text);
                                      QPainterPath path;
                                      path.addText(at, f, text);
                                      return path;
                                  });
        TextOutlines outlines;
        const qint64 after = run(names[c], "TextOutlines", count, cases[c],
                                 [&](const QFont &f, const QString &text, QPointF at, double *advance) {
                                     const TextOutlines::SetText set = outlines.set(f, text);
                                     *advance = set.advance;
                                     return TextOutlines::placed(set, at);
                                 });
        const TextOutlines::Usage usage = outlines.usage();
        std::printf("%s held glyphs=%lld glyph_kib=%lld texts=%lld text_kib=%lld hits=%lld misses=%lld\n",
                    names[c], static_cast<long long>(usage.glyphs),
                    static_cast<long long>(usage.glyphElements * 24 / 1024), static_cast<long long>(usage.texts),
                    static_cast<long long>(usage.textElements * 24 / 1024), static_cast<long long>(usage.textHits),
                    static_cast<long long>(usage.textMisses));
        if (before != after) {
            std::fprintf(stderr, "%s: %lld path elements with addText, %lld with TextOutlines\n", names[c],
                         static_cast<long long>(before), static_cast<long long>(after));
            status = 1;
        }
    }
    return status;
}
