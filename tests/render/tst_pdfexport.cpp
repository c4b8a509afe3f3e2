// The print PDF read back with tools that share no code with ours: pdfinfo
// for the document settings, pdftoppm for rasters probed at the positions the
// sheet geometry gives, zbarimg for the codes printed on each card.

#include "app/exportplan.h"
#include "model/fieldvalues.h"
#include "render/exportpreflight.h"
#include "render/jobselection.h"
#include "render/pdfexport.h"
#include "store/projectstore.h"
#include "store/recordassembly.h"
#include "support/asuser.h"
#include "support/filesizelimit.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QJsonObject>
#include <QPainterPath>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTest>
#include <QXmlStreamReader>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace {

constexpr double kMmPerInch = 25.4;

const QString kPageFailed = QStringLiteral("An error occurred while creating a PDF page");

double toPx(double mm, int dpi)
{
    return mm * dpi / kMmPerInch;
}

struct ToolRun
{
    bool ok = false;
    QByteArray out;
    QString message;
};

// Runs an installed tool; zbarimg ends with 4 when an image holds no symbol,
// which the callers judge from its output.
ToolRun runTool(const QString &name, const QStringList &args, QList<int> acceptedCodes = {0})
{
    ToolRun run;
    const QString program = QStandardPaths::findExecutable(name);
    if (program.isEmpty()) {
        run.message = name + QStringLiteral(" is not installed");
        return run;
    }
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(60000)) {
        run.message = name + QStringLiteral(" did not finish: ") + process.errorString();
        return run;
    }
    run.out = process.readAllStandardOutput();
    run.ok = process.exitStatus() == QProcess::NormalExit && acceptedCodes.contains(process.exitCode());
    if (!run.ok)
        run.message = name + QStringLiteral(" failed: ")
            + QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    return run;
}

struct PdfInfo
{
    int pages = 0;
    double widthPt = 0;
    double heightPt = 0;
    QString creator;
    QString title;
};

PdfInfo readPdfInfo(const QString &pdf, QString *problem)
{
    PdfInfo info;
    const ToolRun run = runTool(QStringLiteral("pdfinfo"), {pdf});
    if (!run.ok) {
        *problem = run.message;
        return info;
    }
    for (const QString &line : QString::fromUtf8(run.out).split(QLatin1Char('\n'))) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        const QString key = line.left(colon);
        // pdfinfo pads values to a column; a title's own blanks stay at its end.
        QString value = line.mid(colon + 1);
        while (value.startsWith(QLatin1Char(' ')))
            value.remove(0, 1);
        if (key == QLatin1String("Pages")) {
            info.pages = value.toInt();
        } else if (key == QLatin1String("Creator")) {
            info.creator = value;
        } else if (key == QLatin1String("Title")) {
            info.title = value;
        } else if (key == QLatin1String("Page size")) {
            static const QRegularExpression size(QStringLiteral("^([0-9.]+) x ([0-9.]+) pts"));
            const QRegularExpressionMatch match = size.match(value);
            info.widthPt = match.captured(1).toDouble();
            info.heightPt = match.captured(2).toDouble();
        }
    }
    return info;
}

// Every page (or only page `page`, from 1, optionally only the `crop` area
// in pixels) as an 8-bit grey raster.
QList<QImage> rasterPages(const QString &pdf, int dpi, QString *problem, int page = 0,
                          const QRect &crop = {})
{
    QTemporaryDir dir;
    QStringList args{QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-gray")};
    if (page > 0)
        args << QStringLiteral("-f") << QString::number(page) << QStringLiteral("-l")
             << QString::number(page);
    if (!crop.isNull())
        args << QStringLiteral("-x") << QString::number(crop.x()) << QStringLiteral("-y")
             << QString::number(crop.y()) << QStringLiteral("-W") << QString::number(crop.width())
             << QStringLiteral("-H") << QString::number(crop.height());
    args << pdf << dir.filePath(QStringLiteral("page"));
    const ToolRun run = runTool(QStringLiteral("pdftoppm"), args);
    if (!run.ok) {
        *problem = run.message;
        return {};
    }
    // pdftoppm pads the page numbers to one width, so names sort as pages.
    QList<QImage> pages;
    const QStringList files = QDir(dir.path()).entryList({QStringLiteral("page*.pgm")}, QDir::Files,
                                                         QDir::Name);
    for (const QString &file : files)
        pages.append(QImage(dir.filePath(file)).convertToFormat(QImage::Format_Grayscale8));
    return pages;
}

// The symbols zbarimg finds in each image, as "TYPE:data", one call for all.
QList<QStringList> decodeImages(const QList<QImage> &images, QString *problem,
                                const QStringList &options = {})
{
    QTemporaryDir dir;
    QStringList args{QStringLiteral("-q"), QStringLiteral("--xml")};
    args += options;
    QHash<QString, int> indexOfFile;
    for (int i = 0; i < images.size(); ++i) {
        const QString file = dir.filePath(QStringLiteral("image%1.png").arg(i));
        if (!images[i].save(file)) {
            *problem = QStringLiteral("could not save ") + file;
            return {};
        }
        indexOfFile.insert(file, i);
        args << file;
    }
    const ToolRun run = runTool(QStringLiteral("zbarimg"), args, {0, 4});
    if (!run.ok) {
        *problem = run.message;
        return {};
    }
    QList<QStringList> symbols(images.size());
    QXmlStreamReader xml(run.out);
    int current = -1;
    QString type;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("source"))
            current = indexOfFile.value(xml.attributes().value(QLatin1String("href")).toString(), -1);
        else if (xml.name() == QLatin1String("symbol"))
            type = xml.attributes().value(QLatin1String("type")).toString();
        else if (xml.name() == QLatin1String("data") && current >= 0)
            symbols[current].append(type + QLatin1Char(':') + xml.readElementText());
    }
    if (xml.hasError())
        *problem = QStringLiteral("zbarimg output: ") + xml.errorString();
    return symbols;
}

QImage cropMm(const QImage &page, const QRectF &mm, int dpi)
{
    return page.copy(QRectF(toPx(mm.x(), dpi), toPx(mm.y(), dpi), toPx(mm.width(), dpi),
                            toPx(mm.height(), dpi))
                         .toRect());
}

int darkestIn(const QImage &image, const QRect &area)
{
    int darkest = 255;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        const uchar *line = image.constScanLine(y);
        for (int x = inside.left(); x <= inside.right(); ++x)
            darkest = std::min<int>(darkest, line[x]);
    }
    return darkest;
}

int darkestInMm(const QImage &image, const QRectF &mm, int dpi)
{
    return darkestIn(image, QRectF(toPx(mm.x(), dpi), toPx(mm.y(), dpi), toPx(mm.width(), dpi),
                                   toPx(mm.height(), dpi))
                                .toRect());
}

// The darkest pixel within one pixel of a device position.
int darkestNear(const QImage &image, double xPx, double yPx)
{
    const int x = int(std::floor(xPx));
    const int y = int(std::floor(yPx));
    return darkestIn(image, QRect(x - 1, y - 1, 3, 3));
}

int grayAt(const QImage &image, double xPx, double yPx)
{
    return image.constScanLine(int(std::floor(yPx)))[int(std::floor(xPx))];
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList folderEntries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

TemplateField codeField(const QString &side, const QString &type, const QString &format,
                        const QString &column, const QRectF &rectMm)
{
    TemplateField field;
    field.side = cardSideFromKey(side);
    field.type = fieldKindFromKey(type).value();
    field.barcodeFormat = barcodeFormatFromKey(format).value_or(BarcodeFormat::Code128); // as loaded
    field.dataColumn = column;
    field.xMm = rectMm.x();
    field.yMm = rectMm.y();
    field.widthMm = rectMm.width();
    field.heightMm = rectMm.height();
    return field;
}

// Cards "C01", "C02", … under the key "n".
QList<QJsonObject> numberedRecords(int count)
{
    QList<QJsonObject> records;
    for (int i = 0; i < count; ++i)
        records.append(QJsonObject{
            {QStringLiteral("n"), QStringLiteral("C%1").arg(i + 1, 2, 10, QLatin1Char('0'))}});
    return records;
}

PdfExportJob baseJob(QSizeF paperMm, QSizeF cardMm, int rows, int columns, int records)
{
    PdfExportJob job;
    job.sheetSizeMm = paperMm;
    job.cardSizeMm = cardMm;
    job.layout = ImpositionLayout{records, rows, columns};
    job.records = CardTable::fromObjects(numberedRecords(records));
    job.title = QStringLiteral("Test Job");
    return job;
}

// Opens `store` on a new database in `dir` and creates a project named
// `name` there; the project, or nothing with `error` saying what failed.
std::optional<Project> newPlanProject(const QTemporaryDir &dir, ProjectStore &store, const QString &name,
                                      QString *error)
{
    if (!store.openDatabase(dir.filePath(QStringLiteral("plan.sqlite")), error) || !store.initializeSchema(error))
        return std::nullopt;
    return store.createProject(name, error);
}

} // namespace

Q_DECLARE_METATYPE(ImpositionLayout)

namespace {

using Slots = QList<int>; // record index per slot, row-major; −1 empty
using PageSlots = QList<Slots>;
using ProgressCalls = QList<std::pair<int, int>>;

} // namespace

class TestPdfExport : public QObject
{
    Q_OBJECT

private slots:
    void documentSettings_data();
    void documentSettings();
    void workedExample_data();
    void workedExample();
    void sheetGeometry_data();
    void sheetGeometry();
    void gridLargerThanPaperIsClipped();
    void everySymbologyScans_data();
    void everySymbologyScans();
    void tenPointTextHeight();
    void failedWriteKeepsExistingFile_data();
    void failedWriteKeepsExistingFile();
    void refusedJobs_data();
    void refusedJobs();
    void successReplacesExistingFile();
    void blankCodeCards_data();
    void blankCodeCards();
    void blankCodesSummary_data();
    void blankCodesSummary();
    void proposedFileName_data();
    void proposedFileName();
    void planBuildsJob_data();
    void planBuildsJob();
    void planErrors_data();
    void planErrors();
    void planBackgrounds_data();
    void planBackgrounds();
    void splitFilesPutTogetherAreTheSingleFile();
    void failedSplitLeavesEveryFileAsItWas_data();
    void failedSplitLeavesEveryFileAsItWas();
    void reprintPaintsOnlyTheChosenCards();
    void leftoversAndEarlierParts();
    void parallelExportIsTheSingleThreadedExport_data();
    void parallelExportIsTheSingleThreadedExport();
    void cardsReadBySheetPrintAsLoadedCards_data();
    void cardsReadBySheetPrintAsLoadedCards();
};

void TestPdfExport::documentSettings_data()
{
    QTest::addColumn<QSizeF>("paperMm");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("duplex");
    QTest::addColumn<int>("pages");
    QTest::addColumn<double>("widthPt");
    QTest::addColumn<double>("heightPt");

    // Points = mm × 72 ÷ 25.4. Five cards on a 1 × 2 grid make three sheets.
    QTest::newRow("A4") << QSizeF(210, 297) << QStringLiteral("Spring Raffle") << false << 3
                        << 595.28 << 841.89;
    QTest::newRow("custom size, duplex") << QSizeF(120, 80) << QStringLiteral("Café Nº 5 · Tickets")
                                         << true << 6 << 340.16 << 226.77;
    QTest::newRow("near A4 is taken as A4")
        << QSizeF(210.4, 297.3) << QStringLiteral("Near A4") << false << 3 << 595.28 << 841.89;
    QTest::newRow("title with blanks, not trimmed")
        << QSizeF(100, 60) << QStringLiteral("Members 2025  ") << false << 3 << 283.46 << 170.08;
}

void TestPdfExport::documentSettings()
{
    QFETCH(QSizeF, paperMm);
    QFETCH(QString, title);
    QFETCH(bool, duplex);
    QFETCH(int, pages);
    QFETCH(double, widthPt);
    QFETCH(double, heightPt);

    PdfExportJob job = baseJob(paperMm, QSizeF(40, 25), 1, 2, 5);
    job.title = title;
    job.duplex = duplex;
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("job.pdf"));
    const PdfExportResult result = exportImpositionPdf(job, pdf);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.pageCount, pages);

    QString problem;
    const PdfInfo info = readPdfInfo(pdf, &problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(info.pages, pages);
    // Qt's writer declares the page in whole points: 210 mm (595.28 pt) is
    // written as 595 pt, never farther off than half a point (0.18 mm).
    QVERIFY2(std::abs(info.widthPt - widthPt) <= 0.5 && std::abs(info.heightPt - heightPt) <= 0.5,
             qPrintable(QStringLiteral("page is %1 x %2 pts").arg(info.widthPt).arg(info.heightPt)));
    QCOMPARE(info.creator, QStringLiteral("Vellumor VDP · Variable Data Printing"));
    QCOMPARE(info.title, title);
}

void TestPdfExport::workedExample_data()
{
    QTest::addColumn<bool>("cutStack");
    QTest::addColumn<bool>("duplex");
    QTest::addColumn<PageSlots>("pages");

    // Ten cards on a 2 × 2 grid. A back page holds the records of its front
    // with the columns swapped: turned over about the vertical axis, each
    // back lies behind its own front.
    QTest::newRow("standard") << false << false
                              << PageSlots{{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, -1, -1}};
    QTest::newRow("cut-stack") << true << false
                               << PageSlots{{0, 3, 6, 8}, {1, 4, 7, 9}, {2, 5, -1, -1}};
    QTest::newRow("standard, duplex")
        << false << true
        << PageSlots{{0, 1, 2, 3}, {1, 0, 3, 2}, {4, 5, 6, 7}, {5, 4, 7, 6}, {8, 9, -1, -1}, {9, 8, -1, -1}};
    QTest::newRow("cut-stack, duplex")
        << true << true
        << PageSlots{{0, 3, 6, 8}, {3, 0, 8, 6}, {1, 4, 7, 9}, {4, 1, 9, 7}, {2, 5, -1, -1}, {5, 2, -1, -1}};
}

void TestPdfExport::workedExample()
{
    QFETCH(bool, cutStack);
    QFETCH(bool, duplex);
    QFETCH(PageSlots, pages);

    // Fronts carry the card number as Code 128, backs as QR, so a decoded
    // slot tells both the record and the side that was printed.
    constexpr int dpi = 150;
    const QSizeF card(50, 30);
    PdfExportJob job = baseJob(QSizeF(120, 80), card, 2, 2, 10);
    job.cutStack = cutStack;
    job.duplex = duplex;
    job.fields = {codeField(QStringLiteral("front"), QStringLiteral("barcode"), QStringLiteral("code128"),
                            QStringLiteral("n"), QRectF(4, 4, 42, 20)),
                  codeField(QStringLiteral("back"), QStringLiteral("qrcode"), QString(),
                            QStringLiteral("n"), QRectF(15, 3, 20, 24))};

    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("worked.pdf"));
    ProgressCalls calls;
    const PdfExportResult result = exportImpositionPdf(job, pdf, [&calls](int done, int count) {
        calls.append({done, count});
    });
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.pageCount, pages.size());
    ProgressCalls expectedCalls;
    for (int p = 1; p <= pages.size(); ++p)
        expectedCalls.append({p, int(pages.size())});
    QCOMPARE(calls, expectedCalls);

    QString problem;
    const QList<QImage> rasters = rasterPages(pdf, dpi, &problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(rasters.size(), pages.size());

    // Grid 100 × 60 mm centred on 120 × 80 mm paper.
    const QPointF gridOrigin(10, 10);
    QList<QImage> cells;
    QStringList expected;
    for (int p = 0; p < pages.size(); ++p) {
        const bool back = duplex && p % 2 == 1;
        for (int s = 0; s < 4; ++s) {
            const QPointF corner = gridOrigin + QPointF((s % 2) * card.width(), (s / 2) * card.height());
            const QRectF inner(corner + QPointF(0.5, 0.5), card - QSizeF(1, 1));
            const QString where = QStringLiteral("page %1 slot %2").arg(p).arg(s);
            if (pages[p][s] < 0) {
                QVERIFY2(darkestInMm(rasters[p], inner, dpi) >= 250,
                         qPrintable(where + QStringLiteral(": an empty slot must stay white")));
                continue;
            }
            // The preview's record label would stand in the top-left corner.
            const QRectF labelArea(corner + QPointF(0.4, 0.4), QSizeF(3.4, 1.4));
            QVERIFY2(darkestInMm(rasters[p], labelArea, dpi) >= 250,
                     qPrintable(where + QStringLiteral(": no slot label on paper")));
            cells.append(cropMm(rasters[p], inner, dpi));
            expected.append((back ? QStringLiteral("QR-Code:C%1") : QStringLiteral("CODE-128:C%1"))
                                .arg(pages[p][s] + 1, 2, 10, QLatin1Char('0')));
        }
    }

    const QList<QStringList> decoded = decodeImages(cells, &problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QStringList found;
    for (const QStringList &symbols : decoded)
        found.append(symbols.join(QLatin1Char('|')));
    QCOMPARE(found, expected);
}

void TestPdfExport::sheetGeometry_data()
{
    QTest::addColumn<bool>("border");
    QTest::addColumn<bool>("cropMarks");
    QTest::addColumn<double>("bleedMm");
    QTest::addColumn<QList<double>>("cutsX"); // mm from the grid's left edge
    QTest::addColumn<QList<double>>("cutsY"); // mm from the grid's top edge

    // 40 × 25 mm cards on a 2 × 2 grid: 80 × 50 mm.
    const QList<double> edgesX{0, 40, 80};
    const QList<double> edgesY{0, 25, 50};
    QTest::newRow("border only") << true << false << 2.0 << QList<double>{} << QList<double>{};
    QTest::newRow("crop marks without bleed") << false << true << 0.0 << edgesX << edgesY;
    QTest::newRow("crop marks inside a 2 mm bleed")
        << true << true << 2.0 << QList<double>{2, 38, 42, 78} << QList<double>{2, 23, 27, 48};
    QTest::newRow("bleed of half the card falls back to the edges")
        << false << true << 20.0 << edgesX << edgesY;
}

void TestPdfExport::sheetGeometry()
{
    QFETCH(bool, border);
    QFETCH(bool, cropMarks);
    QFETCH(double, bleedMm);
    QFETCH(QList<double>, cutsX);
    QFETCH(QList<double>, cutsY);

    // The writer stores the paper in whole points; 360 × 240 pt is exactly
    // what was asked for, so the grid's place depends on the composition alone.
    constexpr int dpi = 300;
    const QSizeF paper(360 * kMmPerInch / 72, 240 * kMmPerInch / 72);
    const QPointF grid(paper.width() / 2 - 40, paper.height() / 2 - 25);
    PdfExportJob job = baseJob(paper, QSizeF(40, 25), 2, 2, 4);
    job.marks.showBorder = border;
    job.marks.showCropMarks = cropMarks;
    job.marks.bleedMm = bleedMm;
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("geometry.pdf"));
    const PdfExportResult result = exportImpositionPdf(job, pdf);
    QVERIFY2(result.ok, qPrintable(result.error));
    QString problem;
    const QList<QImage> pages = rasterPages(pdf, dpi, &problem, 1);
    QVERIFY2(problem.isEmpty() && pages.size() == 1, qPrintable(problem));
    const QImage &page = pages.first();
    QCOMPARE(page.size(), QSize(1500, 1000));

    // Positions relative to the grid's top-left corner, in mm.
    const auto darkest = [&](double x, double y) {
        return darkestNear(page, toPx(grid.x() + x, dpi), toPx(grid.y() + y, dpi));
    };
    const auto gray = [&](double x, double y) {
        return grayAt(page, toPx(grid.x() + x, dpi), toPx(grid.y() + y, dpi));
    };
    const auto at = [](double x, double y) {
        return QStringLiteral(" at (%1, %2) mm from the grid corner").arg(x).arg(y);
    };

    // Border lines 0.2 mm wide on every card edge, or nothing there at all.
    for (double x : {0.0, 40.0, 80.0}) {
        for (double y : {12.5, 37.5}) {
            if (border) {
                QVERIFY2(darkest(x, y) < 100, qPrintable(QStringLiteral("no border line") + at(x, y)));
                QVERIFY2(gray(x - 0.35, y) > 240 && gray(x + 0.35, y) > 240,
                         qPrintable(QStringLiteral("border line wider than 0.2 mm") + at(x, y)));
            } else {
                QVERIFY2(darkest(x, y) > 240, qPrintable(QStringLiteral("border drawn") + at(x, y)));
            }
        }
    }
    for (double y : {0.0, 25.0, 50.0}) {
        for (double x : {20.0, 60.0}) {
            if (border) {
                QVERIFY2(darkest(x, y) < 100, qPrintable(QStringLiteral("no border line") + at(x, y)));
                QVERIFY2(gray(x, y - 0.35) > 240 && gray(x, y + 0.35) > 240,
                         qPrintable(QStringLiteral("border line wider than 0.2 mm") + at(x, y)));
            } else {
                QVERIFY2(darkest(x, y) > 240, qPrintable(QStringLiteral("border drawn") + at(x, y)));
            }
        }
    }

    // Marks run from 1 mm to 5 mm outside the grid on all four sides; the gap
    // and the paper beyond a mark stay white.
    const auto mark = [&](double x, double y) {
        return darkest(x, y) < 100 ? QString() : QStringLiteral("no crop mark") + at(x, y);
    };
    const auto white = [&](double x, double y) {
        return darkest(x, y) > 240 ? QString() : QStringLiteral("ink") + at(x, y);
    };
    for (double x : cutsX) {
        for (const QString &failure : {mark(x, -3), mark(x, 53), white(x, -0.5), white(x, 50.5),
                                       white(x, -5.7), white(x, 55.7)})
            QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
    for (double y : cutsY) {
        for (const QString &failure : {mark(-3, y), mark(83, y), white(-0.5, y), white(80.5, y),
                                       white(-5.7, y), white(85.7, y)})
            QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
    // No mark where no cut is: with the marks off, or on the card edges when
    // the cuts lie inside the bleed.
    for (double x : {0.0, 2.0, 38.0, 40.0, 42.0}) {
        if (!cutsX.contains(x))
            QVERIFY2(white(x, -3).isEmpty(), qPrintable(QStringLiteral("unexpected mark") + at(x, -3)));
    }
    for (double y : {0.0, 2.0, 23.0, 25.0, 27.0}) {
        if (!cutsY.contains(y))
            QVERIFY2(white(-3, y).isEmpty(), qPrintable(QStringLiteral("unexpected mark") + at(-3, y)));
    }
}

void TestPdfExport::gridLargerThanPaperIsClipped()
{
    // 2 × 2 cards of 60 × 40 mm on 100 × 60 mm paper: the 120 × 80 mm grid
    // is centred and spills over every edge. It must not be scaled to fit,
    // and the paint stops one device unit inside the page edge. The writer
    // declares the page in whole points (283 × 170 pt), and the clip must
    // follow the page the file declares.
    constexpr int dpi = 300;
    PdfExportJob job = baseJob(QSizeF(100, 60), QSizeF(60, 40), 2, 2, 4);
    GraphicElement fill;
    fill.type = ElementKind::Rectangle;
    fill.xMm = 0;
    fill.yMm = 0;
    fill.widthMm = 60;
    fill.heightMm = 40;
    fill.strokeColor = QStringLiteral("#808080");
    fill.fillColor = QStringLiteral("#808080");
    job.graphics = {fill};

    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("spill.pdf"));
    const PdfExportResult result = exportImpositionPdf(job, pdf);
    QVERIFY2(result.ok, qPrintable(result.error));
    QString problem;
    const PdfInfo info = readPdfInfo(pdf, &problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const QSizeF pageMm(info.widthPt * kMmPerInch / 72, info.heightPt * kMmPerInch / 72);
    QVERIFY2(std::abs(pageMm.width() - 100) < 0.2 && std::abs(pageMm.height() - 60) < 0.2,
             qPrintable(QStringLiteral("page is %1 x %2 mm").arg(pageMm.width()).arg(pageMm.height())));
    const QList<QImage> pages = rasterPages(pdf, dpi, &problem, 1);
    QVERIFY2(problem.isEmpty() && pages.size() == 1, qPrintable(problem));
    const QImage &page = pages.first();
    const double right = toPx(pageMm.width(), dpi);
    const double bottom = toPx(pageMm.height(), dpi);

    const auto isGrey = [](int value) { return value > 90 && value < 170; };
    for (int y : {3, 200, 500}) {
        QVERIFY2(isGrey(grayAt(page, 3, y)) && isGrey(grayAt(page, right - 3, y)),
                 qPrintable(QStringLiteral("the cards must reach the page edge on row %1").arg(y)));
    }
    for (int x : {3, 300, 900}) {
        QVERIFY2(isGrey(grayAt(page, x, 3)) && isGrey(grayAt(page, x, bottom - 3)),
                 qPrintable(QStringLiteral("the cards must reach the page edge in column %1").arg(x)));
    }
    // At full size only the middle border lines fall on the paper, through
    // the page centre; a grid scaled to fit would leave white beside its outer lines.
    QVERIFY(darkestNear(page, right / 2, 200) < 60);
    QVERIFY(darkestNear(page, 300, bottom / 2) < 60);
    QVERIFY(isGrey(grayAt(page, toPx(3, dpi), 200)));
    QVERIFY(isGrey(grayAt(page, right - toPx(3, dpi), 500)));

    // The clip edge, one device unit (4 pixels at 1200 dpi) inside the page,
    // within one pixel: poppler also inks the pixel just past a clip's far edge.
    constexpr int fine = 4 * dpi;
    const double farX = toPx(pageMm.width(), fine) - 4;
    const double farY = toPx(pageMm.height(), fine) - 4;
    const QPoint corner(int(farX) - 8, int(farY) - 8);
    const QList<QImage> topLeft = rasterPages(pdf, fine, &problem, 1, QRect(0, 0, 12, 12));
    const QList<QImage> bottomRight = rasterPages(pdf, fine, &problem, 1, QRect(corner, QSize(12, 12)));
    QVERIFY2(problem.isEmpty() && topLeft.size() == 1 && bottomRight.size() == 1, qPrintable(problem));
    const QImage &far = bottomRight.first();
    for (int along : {6, 8, 10}) {
        // Near corner: the clip starts at pixel 4.
        QVERIFY2(grayAt(topLeft[0], 2, along) > 245 && grayAt(topLeft[0], along, 2) > 245,
                 "ink in the outermost device unit at the top left");
        QVERIFY2(isGrey(grayAt(topLeft[0], 5, along)) && isGrey(grayAt(topLeft[0], along, 5)),
                 "the clip starts more than one device unit inside the top left");
        // Far corner, in the crop's pixels.
        const double edgeX = farX - corner.x();
        const double edgeY = farY - corner.y();
        const int inside = 10 - along;
        QVERIFY2(grayAt(far, edgeX + 1.5, inside) > 245 && grayAt(far, inside, edgeY + 1.5) > 245,
                 "ink in the outermost device unit at the bottom right");
        QVERIFY2(isGrey(grayAt(far, edgeX - 1.5, inside)) && isGrey(grayAt(far, inside, edgeY - 1.5)),
                 "the clip ends more than one device unit inside the bottom right");
    }
}

void TestPdfExport::everySymbologyScans_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("symbology");
    QTest::addColumn<QString>("scanned");

    QTest::newRow("code128") << "barcode" << "code128" << "VDP-2025/0042" << "CODE-128" << "VDP-2025/0042";
    QTest::newRow("code39") << "barcode" << "code39" << "card-17" << "CODE-39" << "CARD-17";
    QTest::newRow("ean13, check digit appended") << "barcode" << "ean13" << "400638133393" << "EAN-13"
                                                 << "4006381333931";
    QTest::newRow("ean8") << "barcode" << "ean8" << "96385074" << "EAN-8" << "96385074";
    QTest::newRow("upca") << "barcode" << "upca" << "03600029145" << "UPC-A" << "036000291452";
    QTest::newRow("qrcode") << "qrcode" << "" << "https://example.org/c?id=Ünïcode 42" << "QR-Code"
                            << "https://example.org/c?id=Ünïcode 42";
}

void TestPdfExport::everySymbologyScans()
{
    QFETCH(QString, type);
    QFETCH(QString, format);
    QFETCH(QString, data);
    QFETCH(QString, symbology);
    QFETCH(QString, scanned);

    constexpr int dpi = 300;
    PdfExportJob job = baseJob(QSizeF(80, 50), QSizeF(60, 40), 1, 1, 1);
    job.marks.showBorder = false;
    job.records = CardTable::fromObjects({QJsonObject{{QStringLiteral("code"), data}}});
    job.fields = {codeField(QStringLiteral("front"), type, format, QStringLiteral("code"),
                            QRectF(8, 5, 44, 30))};
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("code.pdf"));
    const PdfExportResult result = exportImpositionPdf(job, pdf);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.blankCodeCardCount, 0);

    QString problem;
    const QList<QImage> pages = rasterPages(pdf, dpi, &problem, 1);
    QVERIFY2(problem.isEmpty() && pages.size() == 1, qPrintable(problem));
    // zbar reads UPC-A as EAN-13 with a leading zero unless told otherwise.
    const QList<QStringList> decoded = decodeImages(pages, &problem, {QStringLiteral("-Supca.enable")});
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(decoded.value(0).size(), 1);
    QVERIFY2(decoded[0][0].startsWith(symbology + QLatin1Char(':')), qPrintable(decoded[0][0]));

    // zbar guesses a character set for QR data without an ECI header and
    // garbles UTF-8; its binary mode prints the symbol's bytes untouched.
    const QString image = dir.filePath(QStringLiteral("code.png"));
    QVERIFY(pages[0].save(image));
    const ToolRun bytes = runTool(QStringLiteral("zbarimg"),
                                  {QStringLiteral("-q"), QStringLiteral("--raw"), QStringLiteral("-Sbinary"),
                                   QStringLiteral("-Supca.enable"), image});
    QVERIFY2(bytes.ok, qPrintable(bytes.message));
    QCOMPARE(QString::fromUtf8(bytes.out), scanned);
}

void TestPdfExport::tenPointTextHeight()
{
    // A capital H's height is a fixed share of the font size, so the glyph on
    // the raster gives the size the text was set at, whatever font stood in.
    constexpr int dpi = 300;
    PdfExportJob job = baseJob(QSizeF(60, 40), QSizeF(40, 20), 1, 1, 1);
    job.marks.showBorder = false;
    TemplateField text;
    text.type = ElementKind::Text;
    text.name = QStringLiteral("H");
    text.fontSizePt = 10;
    text.colorHex = QStringLiteral("#000000");
    text.xMm = 5;
    text.yMm = 3;
    text.widthMm = 30;
    text.heightMm = 14;
    job.fields = {text};
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("text.pdf"));
    const PdfExportResult result = exportImpositionPdf(job, pdf);
    QVERIFY2(result.ok, qPrintable(result.error));
    QString problem;
    const QList<QImage> pages = rasterPages(pdf, dpi, &problem, 1);
    QVERIFY2(problem.isEmpty() && pages.size() == 1, qPrintable(problem));
    const QImage &page = pages.first();

    int top = page.height();
    int bottom = -1;
    for (int y = 0; y < page.height(); ++y) {
        const uchar *line = page.constScanLine(y);
        if (std::any_of(line, line + page.width(), [](uchar v) { return v < 128; })) {
            top = std::min(top, y);
            bottom = y;
        }
    }
    QVERIFY2(bottom >= 0, "no text on the page");
    const double capHeightPx = bottom - top + 1;

    QFont font(text.fontFamily);
    font.setPixelSize(1000);
    QPainterPath glyph;
    glyph.addText(0, 0, font, QStringLiteral("H"));
    const double capShare = glyph.boundingRect().height() / 1000;
    QVERIFY(capShare > 0.5 && capShare < 0.9);

    const double pxPerMm = dpi / kMmPerInch;
    const double sizeMm = capHeightPx / capShare / pxPerMm;
    const double onePixelMm = 1 / capShare / pxPerMm;
    QVERIFY2(std::abs(sizeMm - 10 * kMmPerInch / 72) <= onePixelMm,
             qPrintable(QStringLiteral("10 pt text is %1 mm on paper (cap height %2 px)")
                            .arg(sizeMm).arg(capHeightPx)));
}

void TestPdfExport::failedWriteKeepsExistingFile_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("jobs");
    QTest::addColumn<int>("sheetsPerFile");
    QTest::addColumn<double>("fill"); // disk full: the file-size limit as a share of the whole file
    QTest::addColumn<QString>("reason");

    const QString noFolder = QStringLiteral("No such file or directory");
    const QString denied = QStringLiteral("Permission denied");
    const QString tooLarge = QStringLiteral("File too large");
    struct Writer
    {
        const char *name;
        int jobs;
        int sheetsPerFile;
    };
    // One file on one thread, one file joined from two threads' pieces, and
    // a split into parts: three different ways of writing.
    for (const Writer &writer : {Writer{"single", 1, 0}, Writer{"joined", 2, 0}, Writer{"split", 1, 2}}) {
        const auto row = [&](const char *situation) -> QTestData & {
            return QTest::addRow("%s: %s", writer.name, situation);
        };
        row("missing folder") << "missing folder" << writer.jobs << writer.sheetsPerFile << 0.0 << noFolder;
        row("read-only folder") << "read-only folder" << writer.jobs << writer.sheetsPerFile << 0.0 << denied;
        // A full disk at the first page, half way, and in the last bytes,
        // where only the final flush or close can see it.
        for (double fill : {0.02, 0.5, 0.995})
            QTest::addRow("%s: disk full at %g of the file", writer.name, fill)
                << "disk full" << writer.jobs << writer.sheetsPerFile << fill << tooLarge;
    }
}

// Every writer, whatever the failure: the earlier file keeps its bytes,
// nothing temporary is left, and the message names the file and the
// system's reason.
void TestPdfExport::failedWriteKeepsExistingFile()
{
    QFETCH(QString, situation);
    QFETCH(int, jobs);
    QFETCH(int, sheetsPerFile);
    QFETCH(double, fill);
    QFETCH(QString, reason);

    // Noise artwork does not compress: every page adds bytes of its own.
    PdfExportJob job = baseJob(QSizeF(120, 80), QSizeF(50, 30), 2, 2, 16);
    QImage noise(300, 200, QImage::Format_RGB32);
    quint32 state = 99;
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            noise.setPixel(x, y, state >> 8);
        }
    }
    job.frontBackground = noise;
    job.fields = {codeField(QStringLiteral("front"), QStringLiteral("qrcode"), QString(),
                            QStringLiteral("n"), QRectF(4, 4, 22, 22))};
    const QByteArray previous("%PDF-1.4 the customer's previous export\n");

    QTemporaryDir root;
    // The folder of a temporary dir is private to its owner; let the other user through.
    QVERIFY(::chmod(QFile::encodeName(root.path()).constData(), 0755) == 0);
    const QString folder = root.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(folder));
    QString path = QDir(folder).filePath(QStringLiteral("job.pdf"));
    // The file a failure must leave alone: the output, or a split's first part.
    const QString earlier = sheetsPerFile > 0 ? splitPartPath(path, 0, 2) : path;
    QVERIFY(writeBytes(earlier, previous));

    PdfExportResult result;
    if (situation == QLatin1String("missing folder")) {
        path = root.filePath(QStringLiteral("no such folder/job.pdf"));
        result = exportImpositionPdf(job, path, {}, sheetsPerFile, jobs);
        QVERIFY(!QFileInfo::exists(QFileInfo(path).absolutePath()));
    } else if (situation == QLatin1String("read-only folder")) {
        // The file itself may be written: only a direct write could replace it.
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);
        if (geteuid() == 0) {
            QVERIFY(::chown(QFile::encodeName(earlier).constData(), kNobody, kNogroup) == 0);
            EffectiveUser nobody(kNobody, kNogroup);
            QVERIFY2(nobody.isActive(), "cannot switch to an unprivileged user");
            QVERIFY2(::faccessat(AT_FDCWD, QFile::encodeName(earlier).constData(), W_OK, AT_EACCESS) == 0
                         && ::faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK, AT_EACCESS) != 0,
                     "the file must be writable and its folder not");
            result = exportImpositionPdf(job, path, {}, sheetsPerFile, jobs);
        } else {
            result = exportImpositionPdf(job, path, {}, sheetsPerFile, jobs);
        }
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
    } else {
        const QString sampleFolder = root.filePath(QStringLiteral("sample"));
        QVERIFY(QDir().mkpath(sampleFolder));
        const PdfExportResult sample =
            exportImpositionPdf(job, QDir(sampleFolder).filePath(QStringLiteral("job.pdf")), {}, sheetsPerFile, jobs);
        QVERIFY2(sample.ok, qPrintable(sample.error));
        qint64 largest = 0;
        for (const QString &file : sample.files)
            largest = std::max(largest, QFileInfo(file).size());
        QVERIFY2(largest > 32 * 1024, qPrintable(QString::number(largest)));
        QVERIFY(QDir(sampleFolder).removeRecursively());
        FileSizeLimit full(rlim_t(double(largest) * fill));
        QVERIFY(full.isActive());
        result = exportImpositionPdf(job, path, {}, sheetsPerFile, jobs);
    }

    QVERIFY(!result.ok);
    QVERIFY2(result.error.startsWith(QStringLiteral("Could not write ") + QFileInfo(path).absolutePath())
                 && result.error.endsWith(QStringLiteral(": ") + reason),
             qPrintable(result.error));
    QCOMPARE(fileBytes(earlier), previous);
    QCOMPARE(folderEntries(folder), QStringList{QFileInfo(earlier).fileName()});
}
void TestPdfExport::refusedJobs_data()
{
    QTest::addColumn<ImpositionLayout>("layout");
    QTest::addColumn<QSizeF>("paperMm");

    // A PDF writer always emits a page, so these would come out as a blank
    // sheet reported as success, or on the writer's default paper.
    QTest::newRow("no records") << ImpositionLayout{0, 2, 2} << QSizeF(120, 80);
    QTest::newRow("no rows") << ImpositionLayout{4, 0, 2} << QSizeF(120, 80);
    QTest::newRow("paper without width") << ImpositionLayout{4, 2, 2} << QSizeF(0, 80);
    QTest::newRow("negative paper height") << ImpositionLayout{4, 2, 2} << QSizeF(120, -80);
}

void TestPdfExport::refusedJobs()
{
    QFETCH(ImpositionLayout, layout);
    QFETCH(QSizeF, paperMm);

    PdfExportJob job = baseJob(paperMm, QSizeF(50, 30), 2, 2, 4);
    job.layout = layout;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("job.pdf"));
    const QByteArray previous("previous");
    QVERIFY(writeBytes(path, previous));
    int progressCalls = 0;
    const PdfExportResult result =
        exportImpositionPdf(job, path, [&progressCalls](int, int) { ++progressCalls; });
    QVERIFY(!result.ok);
    QCOMPARE(result.error, kPageFailed);
    QCOMPARE(result.pageCount, 0);
    QCOMPARE(progressCalls, 0);
    QCOMPARE(fileBytes(path), previous);
    QCOMPARE(folderEntries(dir.path()), QStringList{QStringLiteral("job.pdf")});
}

void TestPdfExport::successReplacesExistingFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("job.pdf"));
    QVERIFY(writeBytes(path, QByteArray(100000, 'x')));
    const PdfExportResult result = exportImpositionPdf(baseJob(QSizeF(120, 80), QSizeF(50, 30), 2, 2, 6), path);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.pageCount, 2);
    QVERIFY(fileBytes(path).startsWith("%PDF-"));
    QString problem;
    QCOMPARE(readPdfInfo(path, &problem).pages, 2);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(folderEntries(dir.path()), QStringList{QStringLiteral("job.pdf")});
}

void TestPdfExport::blankCodeCards_data()
{
    QTest::addColumn<bool>("duplex");
    QTest::addColumn<bool>("cutStack");
    QTest::addColumn<QString>("backColumn"); // the back EAN-13's data; none when empty
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("listed");

    // 30 cards on 2 × 2: the front code of every odd card is not a number;
    // the "back" column is bad on every third card instead.
    const QList<int> odd{1, 3, 5, 7, 9, 11, 13, 15, 17, 19};
    const QList<int> oddOrThird{0, 1, 3, 5, 6, 7, 9, 11, 12, 13};
    QTest::newRow("fronts") << false << false << "" << 15 << odd;
    QTest::newRow("fronts, cut-stack") << false << true << "" << 15 << odd;
    QTest::newRow("same cards bad on both sides count once")
        << true << false << "ean" << 15 << odd;
    QTest::newRow("different cards bad on each side")
        << true << true << "back" << 20 << oddOrThird;
    QTest::newRow("backs not printed without duplex") << false << false << "back" << 15 << odd;
}

void TestPdfExport::blankCodeCards()
{
    QFETCH(bool, duplex);
    QFETCH(bool, cutStack);
    QFETCH(QString, backColumn);
    QFETCH(int, count);
    QFETCH(QList<int>, listed);

    PdfExportJob job = baseJob(QSizeF(120, 80), QSizeF(50, 30), 2, 2, 30);
    job.duplex = duplex;
    job.cutStack = cutStack;
    const QString valid = QStringLiteral("4006381333931");
    QList<QJsonObject> records;
    for (int i = 0; i < 30; ++i)
        records.append(QJsonObject{{QStringLiteral("ean"), i % 2 ? QStringLiteral("n/a") : valid},
                                   {QStringLiteral("back"), i % 3 ? valid : QStringLiteral("12345")}});
    job.records = CardTable::fromObjects(records);
    job.fields = {codeField(QStringLiteral("front"), QStringLiteral("barcode"), QStringLiteral("ean13"),
                            QStringLiteral("ean"), QRectF(4, 4, 40, 20))};
    if (!backColumn.isEmpty())
        job.fields.append(codeField(QStringLiteral("back"), QStringLiteral("barcode"), QStringLiteral("ean13"),
                                    backColumn, QRectF(4, 4, 40, 20)));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("blank.pdf"));
    const PdfExportResult result = exportImpositionPdf(job, path);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.pageCount, duplex ? 16 : 8);
    QCOMPARE(result.blankCodeCardCount, count);
    QCOMPARE(result.blankCodeCards, listed);
}

void TestPdfExport::blankCodesSummary_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("cards");
    QTest::addColumn<QString>("summary");

    const QString tail = QStringLiteral(" barcode or QR codes that could not be drawn and will print blank: ");
    QTest::newRow("all drawn") << 0 << QList<int>{} << QString();
    QTest::newRow("one card") << 1 << QList<int>{3}
                              << QStringLiteral("1 card has") + tail + QStringLiteral("#0004");
    QTest::newRow("two cards") << 2 << QList<int>{3, 11}
                               << QStringLiteral("2 cards have") + tail + QStringLiteral("#0004, #0012");
    QTest::newRow("more than listed")
        << 12 << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}
        << QStringLiteral("12 cards have") + tail
               + QStringLiteral("#0001, #0002, #0003, #0004, #0005, #0006, #0007, #0008, #0009, #0010, …");
    QTest::newRow("numbers beyond four digits")
        << 2 << QList<int>{9998, 12344}
        << QStringLiteral("2 cards have") + tail + QStringLiteral("#9999, #12345");
}

void TestPdfExport::blankCodesSummary()
{
    QFETCH(int, count);
    QFETCH(QList<int>, cards);
    QFETCH(QString, summary);

    PdfExportResult result;
    result.ok = true;
    result.pageCount = 3;
    result.blankCodeCardCount = count;
    result.blankCodeCards = cards;
    QCOMPARE(::blankCodesSummary(result), summary);
}

void TestPdfExport::proposedFileName_data()
{
    QTest::addColumn<QString>("projectName");
    QTest::addColumn<QString>("fileName");

    QTest::newRow("separators") << "a/b:c" << "a_b_c.pdf";
    QTest::newRow("only blanks") << "   " << "VDP Imposition.pdf";
    QTest::newRow("empty") << "" << "VDP Imposition.pdf";
    QTest::newRow("trimmed, inner blanks kept") << "\t Spring  Raffle \n" << "Spring  Raffle.pdf";
    QTest::newRow("all nine, one each") << "\\/:*?\"<>|" << "_________.pdf";
    QTest::newRow("repeated") << "a//b" << "a__b.pdf";
    QTest::newRow("blank after replacing is kept") << " * " << "_.pdf";
    QTest::newRow("other punctuation kept") << "Tickets #5 (A&B), 50% off; v1.2"
                                            << "Tickets #5 (A&B), 50% off; v1.2.pdf";
    QTest::newRow("non-ASCII kept") << "Café Nº 5" << "Café Nº 5.pdf";
}

void TestPdfExport::proposedFileName()
{
    QFETCH(QString, projectName);
    QFETCH(QString, fileName);
    QCOMPARE(proposedPdfFileName(projectName), fileName);
}

void TestPdfExport::planBuildsJob_data()
{
    QTest::addColumn<QString>("borderColor");
    QTest::addColumn<QColor>("expectedColor");
    QTest::addColumn<bool>("graphicsGiven");

    QTest::newRow("stored graphics, red border") << "#ff0000" << QColor(Qt::red) << false;
    QTest::newRow("canvas graphics, unreadable colour") << "not a colour" << QColor(Qt::black) << true;
}

void TestPdfExport::planBuildsJob()
{
    QFETCH(QString, borderColor);
    QFETCH(QColor, expectedColor);
    QFETCH(bool, graphicsGiven);

    QTemporaryDir dir;
    ProjectStore store;
    QString error;
    const std::optional<Project> created = newPlanProject(dir, store, QStringLiteral("Members 2025"), &error);
    QVERIFY2(created, qPrintable(error));
    TemplateField sequence;
    sequence.projectId = created->id;
    sequence.type = ElementKind::Sequence;
    QVERIFY2(store.insertElement(&sequence, &error), qPrintable(error));
    TemplateField name = codeField(QStringLiteral("back"), QStringLiteral("text"), QString(),
                                   QStringLiteral("name"), QRectF(1, 1, 30, 8));
    name.projectId = created->id;
    QVERIFY2(store.insertElement(&name, &error), qPrintable(error));
    GraphicElement stored;
    stored.projectId = created->id;
    QVERIFY2(store.insertElement(&stored, &error), qPrintable(error));

    PdfExportSource source;
    source.project = *created;
    source.project.name = QStringLiteral(" Members 2025 ");
    source.project.rows = 2;
    source.project.columns = 3;
    source.project.cardWidthMm = 50;
    source.project.cardHeightMm = 30;
    source.project.paperWidthMm = 200;
    source.project.paperHeightMm = 100;
    source.project.bleedMm = 1.5;
    source.project.showImpositionBorder = false;
    source.project.impositionBorderColor = borderColor;
    source.project.showCropMarks = true;
    source.project.duplex = true;
    source.cutStack = true;
    QList<QJsonObject> people;
    for (const char *person : {"Ada", "Grace", "Edsger"})
        people.append(QJsonObject{{QStringLiteral("name"), QString::fromLatin1(person)}});
    source.cardRecords = CardTable::fromObjects(people);
    GraphicElement onCanvas;
    onCanvas.type = ElementKind::Ellipse;
    if (graphicsGiven)
        source.graphics = QList<GraphicElement>{onCanvas};
    source.frontBackground = QImage(4, 2, QImage::Format_RGB32);
    source.frontBackground.fill(Qt::blue);

    const PdfExportPlan plan = planPdfExport(store, source);
    QVERIFY2(plan.ok(), qPrintable(plan.errorTitle + QStringLiteral(": ") + plan.error));
    const PdfExportJob &job = plan.job;
    QCOMPARE(job.layout, (ImpositionLayout{3, 2, 3}));
    QCOMPARE(job.sheetSizeMm, QSizeF(200, 100));
    QCOMPARE(job.cardSizeMm, QSizeF(50, 30));
    QCOMPARE(job.fields, (QList<TemplateField>{sequence, name}));
    QCOMPARE(job.graphics, graphicsGiven ? QList<GraphicElement>{onCanvas} : QList<GraphicElement>{stored});
    QCOMPARE(job.records.size(), 3);
    const QString key = sequenceKey(sequence.id);
    QCOMPARE(job.records.value(0, QStringLiteral("name")).toString(), QStringLiteral("Ada"));
    QCOMPARE(job.records.value(2, QStringLiteral("name")).toString(), QStringLiteral("Edsger"));
    QCOMPARE(job.records.value(0, key).toString(), QStringLiteral("No.000001"));
    QCOMPARE(job.records.value(2, key).toString(), QStringLiteral("No.000003"));
    QVERIFY(job.cutStack);
    QVERIFY(job.duplex);
    QVERIFY(!job.marks.showBorder);
    QCOMPARE(job.marks.borderColor, expectedColor);
    QVERIFY(job.marks.showCropMarks);
    QCOMPARE(job.marks.bleedMm, 1.5);
    QCOMPARE(job.frontBackground, source.frontBackground);
    QVERIFY(job.backBackground.isNull());
    QCOMPARE(job.title, QStringLiteral(" Members 2025 "));
}

void TestPdfExport::planErrors_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("title");

    const QString failed = QStringLiteral("PDF export failed");
    const QString unable = QStringLiteral("Unable to Export PDF");
    QTest::newRow("no records") << "no records" << unable;
    QTest::newRow("no rows") << "rows 0" << unable;
    QTest::newRow("negative columns") << "columns -1" << unable;
    // The prize settings are checked before the record count is looked at.
    QTest::newRow("scratch configuration error, no records") << "bad scratch" << "No PDF written";
    QTest::newRow("fields cannot be loaded") << "no fields table" << failed;
    QTest::newRow("graphics cannot be loaded") << "no graphics table" << failed;
    QTest::newRow("graphics from the canvas, store not asked") << "canvas graphics" << QString();
}

void TestPdfExport::planErrors()
{
    QFETCH(QString, situation);
    QFETCH(QString, title);

    QTemporaryDir dir;
    ProjectStore store;
    QString error;
    const std::optional<Project> created = newPlanProject(dir, store, QStringLiteral("Errors"), &error);
    QVERIFY2(created, qPrintable(error));

    PdfExportSource source;
    source.project = *created;
    source.project.rows = 2;
    source.project.columns = 2;
    source.cardRecords = CardTable::fromObjects({QJsonObject{{QStringLiteral("n"), QStringLiteral("0")}},
                                                 QJsonObject{{QStringLiteral("n"), QStringLiteral("1")}},
                                                 QJsonObject{{QStringLiteral("n"), QStringLiteral("2")}}});

    QString expectedError;
    QStringList expectedDetails;
    if (situation == QLatin1String("no records")) {
        source.cardRecords = CardTable();
    } else if (situation == QLatin1String("rows 0")) {
        source.project.rows = 0;
    } else if (situation == QLatin1String("columns -1")) {
        source.project.columns = -1;
    } else if (situation == QLatin1String("bad scratch")) {
        source.cardRecords = CardTable();
        TemplateField scratch;
        scratch.projectId = created->id;
        scratch.type = ElementKind::Scratch;
        scratch.scratchPrizesJson = QStringLiteral("{not json");
        QVERIFY2(store.insertElement(&scratch, &error), qPrintable(error));
        const QString rejected = prepareCardRecords({}, {scratch}).error;
        QVERIFY(!rejected.isEmpty());
        expectedDetails = QStringList{QStringLiteral("Scratch card configuration of field \"%1\" (%2, id %3): %4")
                                          .arg(scratch.name, cardSideKey(scratch.side))
                                          .arg(scratch.id)
                                          .arg(rejected)};
        expectedError = QStringLiteral("correct the prize settings first.");
    } else if (situation == QLatin1String("no fields table")) {
        QVERIFY2(store.execStatement(QStringLiteral("DROP TABLE template_fields"), &error), qPrintable(error));
        store.loadRecords<TemplateField>(created->id, &expectedError);
        QVERIFY(!expectedError.isEmpty());
    } else {
        QVERIFY2(store.execStatement(QStringLiteral("DROP TABLE template_graphics"), &error), qPrintable(error));
        store.loadRecords<GraphicElement>(created->id, &expectedError);
        QVERIFY(!expectedError.isEmpty());
        if (situation == QLatin1String("canvas graphics")) {
            source.graphics = QList<GraphicElement>{GraphicElement{}};
            expectedError.clear();
        }
    }
    if (title == QLatin1String("Unable to Export PDF"))
        expectedError = QStringLiteral("Import variable data before exporting.");

    const PdfExportPlan plan = planPdfExport(store, source);
    QCOMPARE(plan.errorTitle, title);
    QCOMPARE(plan.error, expectedError);
    QCOMPARE(plan.errorDetails, expectedDetails);
    QCOMPARE(plan.ok(), title.isEmpty());
    if (plan.ok())
        QCOMPARE(plan.job.graphics, *source.graphics);
}

void TestPdfExport::planBackgrounds_data()
{
    QTest::addColumn<bool>("duplex");
    // The stored paths, as files in a temporary folder: "" none, "red.png" and
    // "green.png" readable, "missing.png" absent, "garbage.png" not an image,
    // "art.pdf" a damaged PDF.
    QTest::addColumn<QString>("frontFile");
    QTest::addColumn<QString>("backFile");
    QTest::addColumn<QColor>("givenFront"); // the caller's image; invalid: none
    QTest::addColumn<QColor>("expectedFront"); // invalid: a null image
    QTest::addColumn<QColor>("expectedBack");
    // The error; "@FILE" stands for the failing file, a trailing "…" marks a
    // prefix (the reader's own message follows). Empty: the plan succeeds.
    QTest::addColumn<QString>("error");

    const QColor none;
    const QColor red(Qt::red);
    const QColor green(Qt::green);
    const QColor blue(Qt::blue);
    QTest::newRow("no backgrounds") << true << "" << "" << none << none << none << "";
    QTest::newRow("front from its file") << false << "red.png" << "" << none << red << none << "";
    QTest::newRow("duplex, both from their files") << true << "red.png" << "green.png" << none << red << green << "";
    QTest::newRow("the caller's front, its file not read")
        << false << "missing.png" << "" << blue << blue << none << "";
    QTest::newRow("single-sided, the back is not read")
        << false << "red.png" << "garbage.png" << none << red << none << "";
    QTest::newRow("front missing")
        << false << "missing.png" << "" << none << none << none
        << "the front background @FILE could not be loaded: Failed to read image: …";
    QTest::newRow("duplex, back not an image")
        << true << "red.png" << "garbage.png" << none << none << none
        << "the back background @FILE could not be loaded: Failed to read image: …";
    QTest::newRow("damaged PDF front")
        << true << "art.pdf" << "green.png" << none << none << none
        << "the front background @FILE could not be loaded: "
           "PDFium could not open the PDF. It may be corrupted or password-protected";
}

// The plan reads each printed side's background from the stored path, unless
// the caller holds it already; one that is set but unreadable refuses the job.
void TestPdfExport::planBackgrounds()
{
    QFETCH(bool, duplex);
    QFETCH(QString, frontFile);
    QFETCH(QString, backFile);
    QFETCH(QColor, givenFront);
    QFETCH(QColor, expectedFront);
    QFETCH(QColor, expectedBack);
    QFETCH(QString, error);

    QTemporaryDir dir;
    ProjectStore store;
    QString storeError;
    const std::optional<Project> created = newPlanProject(dir, store, QStringLiteral("Artwork"), &storeError);
    QVERIFY2(created, qPrintable(storeError));
    for (const auto &[name, colour] : {std::pair{"red.png", QColor(Qt::red)}, std::pair{"green.png", QColor(Qt::green)}}) {
        QImage image(6, 4, QImage::Format_RGB32);
        image.fill(colour);
        QVERIFY(image.save(dir.filePath(QString::fromLatin1(name))));
    }
    for (const auto &[name, bytes] : {std::pair{"garbage.png", "not a picture"}, std::pair{"art.pdf", "%PDF-1.4\n%%EOF\n"}}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) > 0);
    }
    const auto stored = [&dir](const QString &file) { return file.isEmpty() ? QString() : dir.filePath(file); };

    PdfExportSource source;
    source.project = *created;
    source.project.rows = 1;
    source.project.columns = 1;
    source.project.duplex = duplex;
    source.project.backgroundPath = stored(frontFile);
    source.project.backBackgroundPath = stored(backFile);
    source.cardRecords = CardTable::fromObjects({QJsonObject{{QStringLiteral("n"), QStringLiteral("1")}}});
    if (givenFront.isValid()) {
        source.frontBackground = QImage(3, 3, QImage::Format_RGB32);
        source.frontBackground.fill(givenFront);
    }

    const PdfExportPlan plan = planPdfExport(store, source);
    if (!error.isEmpty()) {
        const QString failing = error.startsWith(QStringLiteral("the front")) ? frontFile : backFile;
        error.replace(QStringLiteral("@FILE"), QDir::toNativeSeparators(stored(failing)));
        QCOMPARE(plan.errorTitle, QStringLiteral("PDF export failed"));
        if (error.endsWith(u'…')) {
            error.chop(1);
            QVERIFY2(plan.error.startsWith(error) && plan.error.size() > error.size(), qPrintable(plan.error));
        } else {
            QCOMPARE(plan.error, error);
        }
        QVERIFY(!plan.ok());
        return;
    }
    QVERIFY2(plan.ok(), qPrintable(plan.errorTitle + QStringLiteral(": ") + plan.error));
    const auto check = [](const QImage &image, const QColor &expected) {
        if (!expected.isValid())
            return image.isNull();
        return !image.isNull() && image.pixelColor(image.width() - 1, image.height() - 1) == expected;
    };
    QVERIFY(check(plan.job.frontBackground, expectedFront));
    QVERIFY(check(plan.job.backBackground, expectedBack));
}

// Ten duplex sheets in files of four: three files of 4, 4 and 2 sheets, each
// a complete PDF, whose pages in order are the single file's, pixel for pixel.
void TestPdfExport::splitFilesPutTogetherAreTheSingleFile()
{
    PdfExportJob job = baseJob(QSizeF(120, 80), QSizeF(50, 30), 2, 2, 40);
    job.duplex = true;
    job.fields = {codeField(QStringLiteral("front"), QStringLiteral("qrcode"), QString(), QStringLiteral("n"),
                            QRectF(4, 4, 22, 22)),
                  codeField(QStringLiteral("back"), QStringLiteral("barcode"), QStringLiteral("code128"),
                            QStringLiteral("n"), QRectF(4, 4, 42, 20))};
    QTemporaryDir dir;
    const QString single = dir.filePath(QStringLiteral("single/job.pdf"));
    const QString split = dir.filePath(QStringLiteral("split/job.pdf"));
    QVERIFY(QDir().mkpath(QFileInfo(single).path()) && QDir().mkpath(QFileInfo(split).path()));

    QVERIFY(exportImpositionPdf(job, single).ok);
    ProgressCalls calls;
    const PdfExportResult result =
        exportImpositionPdf(job, split, [&calls](int done, int count) { calls.append({done, count}); }, 4);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.pageCount, 20);
    const QStringList parts{dir.filePath(QStringLiteral("split/job-001.pdf")),
                            dir.filePath(QStringLiteral("split/job-002.pdf")),
                            dir.filePath(QStringLiteral("split/job-003.pdf"))};
    QCOMPARE(result.files, parts);
    QCOMPARE(folderEntries(QFileInfo(split).path()),
             (QStringList{QStringLiteral("job-001.pdf"), QStringLiteral("job-002.pdf"), QStringLiteral("job-003.pdf")}));
    // One count across the files, page by page.
    QCOMPARE(calls.size(), 20);
    QCOMPARE(calls.first(), std::make_pair(1, 20));
    QCOMPARE(calls.last(), std::make_pair(20, 20));

    QString problem;
    const QList<QImage> whole = rasterPages(single, 150, &problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QList<QImage> joined;
    for (const QString &part : parts) {
        const PdfInfo info = readPdfInfo(part, &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(info.title, QStringLiteral("Test Job"));
        joined += rasterPages(part, 150, &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
    QCOMPARE(joined.size(), 20);
    QCOMPARE(whole.size(), 20);
    for (int page = 0; page < 20; ++page)
        QVERIFY2(joined.at(page) == whole.at(page), qPrintable(QStringLiteral("page %1").arg(page + 1)));
    QCOMPARE(readPdfInfo(parts.at(2), &problem).pages, 4); // sheets 9 and 10, front and back
}

void TestPdfExport::failedSplitLeavesEveryFileAsItWas_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("message"); // @FOLDER: the output's folder

    QTest::newRow("the disk fills while writing")
        << "full" << "Could not write @FOLDER/job-001.pdf: File too large";
    // Refused before anything is written, as a rename would fail or replace it.
    QTest::newRow("the second part's name is a folder") << "blocked" << "@FOLDER/job-002.pdf is not a regular file";
}

// A split export is all or nothing: earlier files of the same names keep
// their bytes, the parts this run wrote are gone, nothing temporary is left.
void TestPdfExport::failedSplitLeavesEveryFileAsItWas()
{
    QFETCH(QString, situation);
    QFETCH(QString, message);
    PdfExportJob job = baseJob(QSizeF(120, 80), QSizeF(50, 30), 2, 2, 40);
    job.fields = {codeField(QStringLiteral("front"), QStringLiteral("qrcode"), QString(), QStringLiteral("n"),
                            QRectF(4, 4, 22, 22))};
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("job.pdf"));
    const QByteArray previous("%PDF-1.4 last week's first part\n");
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("job-001.pdf")), previous));
    QStringList before{QStringLiteral("job-001.pdf")};

    PdfExportResult result;
    if (situation == u"full") {
        FileSizeLimit full(1024);
        QVERIFY(full.isActive());
        result = exportImpositionPdf(job, path, {}, 4);
    } else {
        // A folder where the second part goes: renaming a file over it fails.
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("job-002.pdf/inside"))));
        before.append(QStringLiteral("job-002.pdf"));
        result = exportImpositionPdf(job, path, {}, 4);
    }
    QVERIFY(!result.ok);
    QCOMPARE(result.error, QString(message).replace(QStringLiteral("@FOLDER"), dir.path()));
    QCOMPARE(folderEntries(dir.path()), before);
    QCOMPARE(fileBytes(dir.filePath(QStringLiteral("job-001.pdf"))), previous);
}

// Temporary files of a writer that is gone are removed by the next export
// to the folder; a live writer's, and files that only look similar, stay.
// Parts of an earlier, longer set of the same name are listed, not removed.
void TestPdfExport::leftoversAndEarlierParts()
{
    // A process id that is certainly gone: a child that has been reaped.
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0)
        ::_exit(0);
    QVERIFY(::waitpid(child, nullptr, 0) == child);
    const QString gone = QString::number(child);
    const QString alive = QString::number(::getpid());

    QTemporaryDir dir;
    const QStringList stale{QStringLiteral("job.pdf.vdp-%1-Ab12Cd.part").arg(gone),
                            QStringLiteral("job.pdf.vdp-%1-Zz99Yy.piece").arg(gone),
                            QStringLiteral("other.pdf.vdp-%1-q1w2e3.old").arg(gone)};
    const QStringList kept{QStringLiteral("job.pdf.vdp-%1-Ab12Cd.part").arg(alive), // a live writer's
                           QStringLiteral("job.pdf.vdp-%1-Ab1.part").arg(gone),     // not our shape
                           QStringLiteral("report.%1.backup.old").arg(gone),        // a user's own
                           QStringLiteral("job.pdf.part"), QStringLiteral("notes.vdp-%1-Ab12Cd.txt").arg(gone),
                           QStringLiteral("job-003.pdf"), QStringLiteral("job-0004.pdf"),
                           QStringLiteral("job-001.pdf.bak"), QStringLiteral("jobs-005.pdf")};
    for (const QString &name : stale + kept)
        QVERIFY(writeBytes(dir.filePath(name), "left over\n"));

    PdfExportJob job = baseJob(QSizeF(120, 80), QSizeF(50, 30), 2, 2, 16); // four sheets
    const PdfExportResult result = exportImpositionPdf(job, dir.filePath(QStringLiteral("job.pdf")), {}, 2, 2);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.files, (QStringList{dir.filePath(QStringLiteral("job-001.pdf")),
                                        dir.filePath(QStringLiteral("job-002.pdf"))}));
    QCOMPARE(result.earlierParts, (QStringList{dir.filePath(QStringLiteral("job-0004.pdf")),
                                               dir.filePath(QStringLiteral("job-003.pdf"))}));
    QCOMPARE(earlierPartsNote(result.earlierParts),
             QStringLiteral("2 earlier parts of the same name, not part of this export, left as they were: %1, %2")
                 .arg(result.earlierParts.at(0), result.earlierParts.at(1)));
    QStringList expected = kept + QStringList{QStringLiteral("job-001.pdf"), QStringLiteral("job-002.pdf")};
    expected.sort();
    QCOMPARE(folderEntries(dir.path()), expected);

    // A file that is not split has no parts to speak of.
    QVERIFY(exportImpositionPdf(job, dir.filePath(QStringLiteral("job.pdf"))).earlierParts.isEmpty());
}

// A reprint of cards 2 and 7 of a 2 × 2 duplex job: only their sheets are
// written, each card's front in its slot and its back in the mirrored slot,
// and every other slot is blank paper with no border.
void TestPdfExport::reprintPaintsOnlyTheChosenCards()
{
    PdfExportJob job = baseJob(QSizeF(120, 80), QSizeF(50, 30), 2, 2, 12);
    job.duplex = true;
    job.marks.showBorder = true;
    job.fields = {codeField(QStringLiteral("front"), QStringLiteral("qrcode"), QString(), QStringLiteral("n"),
                            QRectF(4, 4, 22, 22)),
                  codeField(QStringLiteral("back"), QStringLiteral("qrcode"), QString(), QStringLiteral("n"),
                            QRectF(24, 4, 22, 22))};
    job.onlyRecords = {1, 6};
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("reprint.pdf"));
    const PdfExportResult result = exportImpositionPdf(job, path);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.pageCount, 4); // sheets 1 and 2, front and back

    QString problem;
    const QList<QImage> pages = rasterPages(path, 300, &problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(pages.size(), 4);
    // The grid is centred: 100 × 60 mm on 120 × 80 mm.
    const auto cell = [](int slot) { return QRectF(10 + (slot % 2) * 50, 10 + (slot / 2) * 30, 50, 30); };
    // Page, slot: what decodes there ("" nothing, and the cell is blank).
    const QList<std::tuple<int, int, QString>> expected{
        {0, 0, ""}, {0, 1, "QR-Code:C02"}, {0, 2, ""}, {0, 3, ""},
        {1, 0, "QR-Code:C02"}, {1, 1, ""}, {1, 2, ""}, {1, 3, ""},
        {2, 0, ""}, {2, 1, ""}, {2, 2, "QR-Code:C07"}, {2, 3, ""},
        {3, 0, ""}, {3, 1, ""}, {3, 2, ""}, {3, 3, "QR-Code:C07"},
    };
    QList<QImage> cells;
    for (const auto &[page, slot, code] : expected)
        cells.append(cropMm(pages.at(page), cell(slot), 300));
    const QList<QStringList> decoded = decodeImages(cells, &problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    for (int i = 0; i < expected.size(); ++i) {
        const auto &[page, slot, code] = expected.at(i);
        const QString where = QStringLiteral("page %1 slot %2").arg(page + 1).arg(slot + 1);
        QCOMPARE(decoded.at(i).join(u' '), code);
        if (code.isEmpty()) {
            // No border either: the whole cell, edges included, is white.
            QVERIFY2(darkestIn(pages.at(page), QRectF(toPx(cell(slot).x(), 300), toPx(cell(slot).y(), 300),
                                                       toPx(50, 300), toPx(30, 300))
                                                    .toRect()
                                                    .adjusted(4, 4, -4, -4))
                         > 200,
                     qPrintable(where));
        } else {
            // The printed card keeps its border.
            QVERIFY2(darkestIn(pages.at(page), QRectF(toPx(cell(slot).x(), 300) - 2, toPx(cell(slot).center().y(), 300),
                                                       4, 2)
                                                    .toRect())
                         < 128,
                     qPrintable(where));
        }
    }
}

void TestPdfExport::parallelExportIsTheSingleThreadedExport_data()
{
    QTest::addColumn<int>("jobs");
    QTest::addColumn<int>("sheetsPerFile");
    QTest::addColumn<bool>("cutStack");
    QTest::newRow("two threads") << 2 << 0 << false;
    QTest::newRow("three threads, cut-stack") << 3 << 0 << true;
    QTest::newRow("more threads than sheets") << 16 << 0 << false;
    QTest::newRow("split files on two threads") << 2 << 3 << true;
}

// Pages composed on several threads, joined with qpdf or written as split
// files, are the pages one thread writes, pixel for pixel; the blank-code
// report and the progress are those of the whole job, and the progress is
// reported on the calling thread only.
void TestPdfExport::parallelExportIsTheSingleThreadedExport()
{
    QFETCH(int, jobs);
    QFETCH(int, sheetsPerFile);
    QFETCH(bool, cutStack);

    // 37 cards on 2 × 2: ten duplex sheets, the last one part full. The
    // EAN-13 cannot take the card names, so every card reports a blank code.
    PdfExportJob job = baseJob(QSizeF(120, 80), QSizeF(50, 30), 2, 2, 37);
    job.duplex = true;
    job.cutStack = cutStack;
    job.title = QStringLiteral("Parallel Job");
    job.fields = {codeField(QStringLiteral("front"), QStringLiteral("qrcode"), QString(), QStringLiteral("n"),
                            QRectF(4, 4, 22, 22)),
                  codeField(QStringLiteral("front"), QStringLiteral("barcode"), QStringLiteral("ean13"),
                            QStringLiteral("n"), QRectF(28, 4, 20, 10)),
                  codeField(QStringLiteral("back"), QStringLiteral("barcode"), QStringLiteral("code128"),
                            QStringLiteral("n"), QRectF(4, 4, 42, 20))};
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("one"))) && QDir().mkpath(dir.filePath(QStringLiteral("many"))));
    const QString single = dir.filePath(QStringLiteral("one/job.pdf"));
    const QString parallel = dir.filePath(QStringLiteral("many/job.pdf"));

    const PdfExportResult expected = exportImpositionPdf(job, single, {}, sheetsPerFile, 1);
    QVERIFY2(expected.ok, qPrintable(expected.error));
    ProgressCalls calls;
    const Qt::HANDLE caller = QThread::currentThreadId();
    bool otherThread = false;
    const PdfExportResult result = exportImpositionPdf(
        job, parallel,
        [&](int done, int count) {
            calls.append({done, count});
            otherThread = otherThread || QThread::currentThreadId() != caller;
        },
        sheetsPerFile, jobs);
    QVERIFY2(result.ok, qPrintable(result.error));
    QVERIFY(!otherThread);
    QCOMPARE(result.pageCount, 20);
    QCOMPARE(result.blankCodeCardCount, expected.blankCodeCardCount);
    QCOMPARE(result.blankCodeCardCount, 37);
    QCOMPARE(result.blankCodeCards, expected.blankCodeCards);
    QVERIFY(!calls.isEmpty());
    QCOMPARE(calls.last(), std::make_pair(20, 20));
    for (int i = 1; i < calls.size(); ++i)
        QVERIFY(calls.at(i).first > calls.at(i - 1).first);

    QStringList expectedFiles;
    for (const QString &file : expected.files)
        expectedFiles << QFileInfo(file).fileName();
    QStringList files;
    for (const QString &file : result.files)
        files << QFileInfo(file).fileName();
    QCOMPARE(files, expectedFiles);
    // Nothing temporary is left beside the output.
    QCOMPARE(folderEntries(dir.filePath(QStringLiteral("many"))), expectedFiles);

    QString problem;
    for (int f = 0; f < result.files.size(); ++f) {
        // qpdf's own check of the structure: a joined file cut short at its
        // trailer still renders its first pages.
        QProcess check;
        check.start(QStringLiteral("qpdf"), {QStringLiteral("--check"), result.files.at(f)});
        QVERIFY2(check.waitForFinished(60000) && check.exitStatus() == QProcess::NormalExit
                     && check.exitCode() == 0,
                 qPrintable(QString::fromLocal8Bit(check.readAllStandardOutput() + check.readAllStandardError())));
        const PdfInfo info = readPdfInfo(result.files.at(f), &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(info.title, QStringLiteral("Parallel Job"));
        QCOMPARE(info.creator, QStringLiteral("Vellumor VDP · Variable Data Printing"));
        const QList<QImage> want = rasterPages(expected.files.at(f), 150, &problem);
        const QList<QImage> got = rasterPages(result.files.at(f), 150, &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(got.size(), want.size());
        for (int page = 0; page < got.size(); ++page)
            QVERIFY2(got.at(page) == want.at(page), qPrintable(QStringLiteral("file %1 page %2").arg(f + 1).arg(page + 1)));
    }
}

void TestPdfExport::cardsReadBySheetPrintAsLoadedCards_data()
{
    QTest::addColumn<bool>("cutStack");
    QTest::addColumn<int>("jobs");
    QTest::addColumn<QString>("reprint"); // a card list, as the export's choice takes it

    QTest::newRow("standard, one thread") << false << 1 << QString();
    QTest::newRow("cut-stack, two threads") << true << 2 << QString();
    QTest::newRow("cut-stack, reprint") << true << 1 << QStringLiteral("2, 6-7, 29");
}

// The command-line export reads each sheet's cards from the store while it
// paints. Two sources of different lengths, a sequence, prizes, codes and a
// card without a name: the pages, the blank-code report and the preflight
// are those of the export from the whole loaded table, in either order,
// on one thread or several, whole or as a reprint.
void TestPdfExport::cardsReadBySheetPrintAsLoadedCards()
{
    QFETCH(bool, cutStack);
    QFETCH(int, jobs);
    QFETCH(QString, reprint);

    QTemporaryDir dir;
    ProjectStore store;
    QString error;
    const std::optional<Project> created = newPlanProject(dir, store, QStringLiteral("Streamed"), &error);
    QVERIFY2(created, qPrintable(error));
    const qint64 id = created->id;
    QStringList statements{
        QStringLiteral("INSERT INTO data_sources(id, project_id, file_path, display_name, sort_order) "
                       "VALUES(7, %1, '/data/a.csv', 'a.csv', 0), (9, %1, '/data/b.csv', 'b.csv', 1)")
            .arg(id)};
    // 23 rows in the first source (card 5 has no name), 29 in the second.
    for (int card = 0; card < 29; ++card) {
        if (card < 23) {
            const QString name = card == 5 ? QString() : QStringLiteral("\"Name\":\"Card %1\",").arg(card + 1);
            statements << QStringLiteral("INSERT INTO data_source_records(data_source_id, sort_index, payload_json) "
                                         "VALUES(7, %1, '{%2\"Code\":\"CODE-%3\"}')")
                              .arg(card)
                              .arg(name)
                              .arg(card + 1, 4, 10, QLatin1Char('0'));
        }
        statements << QStringLiteral("INSERT INTO data_source_records(data_source_id, sort_index, payload_json) "
                                     "VALUES(9, %1, '{\"Ticket\":\"T-%1\"}')")
                          .arg(card);
    }
    for (const QString &sql : std::as_const(statements))
        QVERIFY2(store.execStatement(sql, &error), qPrintable(error));

    QList<TemplateField> fields{
        codeField(QStringLiteral("front"), QStringLiteral("text"), QString(), QStringLiteral("Name"),
                  QRectF(2, 2, 40, 6)),
        codeField(QStringLiteral("front"), QStringLiteral("qrcode"), QString(), QStringLiteral("Code"),
                  QRectF(2, 9, 18, 18)),
        codeField(QStringLiteral("front"), QStringLiteral("sequence"), QString(), QString(), QRectF(22, 9, 26, 6)),
        codeField(QStringLiteral("back"), QStringLiteral("text"), QString(), QStringLiteral("source:9:Ticket"),
                  QRectF(2, 2, 40, 6)),
        codeField(QStringLiteral("back"), QStringLiteral("scratch"), QString(), QString(), QRectF(2, 10, 44, 6)),
    };
    fields[4].scratchPrizesJson = QStringLiteral(R"([{"name":"Ten Tickets","value":3},{"name":"Try Again","value":26}])");
    fields[4].scratchTotal = 29;
    for (TemplateField &field : fields) {
        field.projectId = id;
        QVERIFY2(store.insertElement(&field, &error), qPrintable(error));
    }

    PdfExportSource source;
    source.project = *created;
    source.project.rows = 2;
    source.project.columns = 2;
    source.project.cardWidthMm = 50;
    source.project.cardHeightMm = 30;
    source.project.paperWidthMm = 120;
    source.project.paperHeightMm = 80;
    source.project.duplex = true;
    source.cutStack = cutStack;
    source.fields = fields;
    const QStringList keys = fieldRecordKeys(fields);
    PdfExportSource loaded = source;
    loaded.cardRecords = loadProjectRecords(store, id, nullptr, &error, &keys);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    PdfExportSource streamed = source;
    streamed.cardReader = ProjectCardReader::open(store, id, keys, &error);
    QVERIFY2(streamed.cardReader, qPrintable(error));

    PdfExportPlan wholePlan = planPdfExport(store, loaded);
    PdfExportPlan sheetPlan = planPdfExport(store, streamed);
    QVERIFY2(wholePlan.ok(), qPrintable(wholePlan.error));
    QVERIFY2(sheetPlan.ok(), qPrintable(sheetPlan.error));
    QCOMPARE(sheetPlan.job.layout, wholePlan.job.layout);
    QCOMPARE(sheetPlan.job.layout.recordCount, 29);
    if (!reprint.isEmpty()) {
        for (PdfExportJob *job : {&wholePlan.job, &sheetPlan.job}) {
            PrintChoice choice;
            choice.mode = PrintChoice::Mode::Cards;
            choice.cards = reprint;
            QCOMPARE(applyPrintChoice(choice, *job), QString());
        }
    }

    // Card 6 lacks its name, cards 24 to 29 both name and code.
    const QList<PreflightProblem> expectedProblems = preflightExport(wholePlan.job);
    const QList<PreflightProblem> problems = preflightExport(sheetPlan.job);
    QCOMPARE(problems.size(), expectedProblems.size());
    QVERIFY(!problems.isEmpty());
    QCOMPARE(problems.first().message, expectedProblems.first().message);
    QCOMPARE(problems.first().cardCount, reprint.isEmpty() ? 7 : 2);

    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("whole"))) && QDir().mkpath(dir.filePath(QStringLiteral("sheets"))));
    const PdfExportResult expected =
        exportImpositionPdf(wholePlan.job, dir.filePath(QStringLiteral("whole/job.pdf")), {}, 0, 1);
    const PdfExportResult result =
        exportImpositionPdf(sheetPlan.job, dir.filePath(QStringLiteral("sheets/job.pdf")), {}, 0, jobs);
    QVERIFY2(expected.ok, qPrintable(expected.error));
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.pageCount, expected.pageCount);
    QCOMPARE(result.blankCodeCardCount, expected.blankCodeCardCount);
    QCOMPARE(result.blankCodeCards, expected.blankCodeCards);

    QString problem;
    const QList<QImage> want = rasterPages(expected.files.first(), 150, &problem);
    const QList<QImage> got = rasterPages(result.files.first(), 150, &problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(got.size(), want.size());
    for (int page = 0; page < got.size(); ++page)
        QVERIFY2(got.at(page) == want.at(page), qPrintable(QStringLiteral("page %1").arg(page + 1)));
}

QTEST_MAIN(TestPdfExport)
#include "tst_pdfexport.moc"
