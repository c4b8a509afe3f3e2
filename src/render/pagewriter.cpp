#include "render/pagewriter.h"

#include "render/blankcodetally.h"
#include "render/exportjob.h"
#include "render/outputfile.h"
#include "render/sheetcomposer.h"

#include <QIODevice>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <optional>
#include <utility>

namespace {

constexpr int kResolution = 300;
constexpr int kPointsPerInch = 72;

} // namespace

QString pageFailedMessage()
{
    return QStringLiteral("An error occurred while creating a PDF page");
}

PageRun writeSheets(const PdfExportJob &job, const QList<int> &sheets, OutputFile &output, int pagesBefore,
                    int pagesInAll, BlankCodeTally &blanks, const PdfExportProgress &progress)
{
    PageRun run;
    QIODevice &file = output.device();
    // The device records the system's reason of a failed write, which the
    // writer's stream would otherwise take as the end of output and drop
    // everything after it; a writer that gave up for its own reason still
    // fails the file.
    const auto writeFailed = [&] {
        output.setWriteError(QStringLiteral("a write was cut short"));
        return output.error();
    };
    const QPageSize pageSize(job.sheetSizeMm, QPageSize::Millimeter, QStringLiteral("VDP Paper"),
                             QPageSize::FuzzyMatch);
    QPdfWriter writer(&file);
    writer.setCreator(QStringLiteral("Vellumor VDP · Variable Data Printing"));
    writer.setTitle(job.title);
    writer.setResolution(kResolution);
    if (!writer.setPageSize(pageSize)
        || !writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter)) {
        run.error = pageFailedMessage();
        return run;
    }

    QPainter painter;
    if (!painter.begin(&writer)) {
        output.setWriteError(QStringLiteral("the PDF writer could not start"));
        run.error = output.error();
        return run;
    }

    // The page as the file declares it, in device units: the fuzzy match may
    // have snapped it to a standard paper, and the writer stores whole points,
    // so the sheet is centred on the paper the press will actually get.
    const QRect pagePoints = writer.pageLayout().fullRectPoints();
    const double unitsPerPoint = double(kResolution) / kPointsPerInch;
    const QRectF target(0, 0, pagePoints.width() * unitsPerPoint, pagePoints.height() * unitsPerPoint);

    SheetComposer composer;
    composer.setMarkOptions(job.marks);
    const int sides = job.duplex ? 2 : 1;
    const int pageCount = int(sheets.size()) * sides;
    CardTable records;
    for (int p = 0; p < pageCount; ++p) {
        const int sheet = sheets.at(p / sides);
        const bool back = p % sides == 1;
        if (p % sides == 0) {
            std::optional<CardTable> read = jobRecords(job, job.cardReader ? sheetCards(job, sheet) : QList<int>(),
                                                       &run.error);
            if (!read)
                break;
            records = std::move(*read);
        }
        SheetData data;
        data.layout = job.layout;
        data.sheetIndex = sheet;
        data.sheetSizeMm = job.sheetSizeMm;
        data.cardSizeMm = job.cardSizeMm;
        data.fields = job.fields;
        data.graphics = job.graphics;
        data.records = records;
        data.cutStack = job.cutStack;
        data.side = back ? QStringLiteral("back") : QStringLiteral("front");
        data.frontBackground = job.frontBackground;
        data.backBackground = job.backBackground;
        data.onlyRecords = job.onlyRecords;
        data.printPageIndex = pagesBefore + p;
        data.printPageCount = pagesInAll;
        composer.setSheetData(std::move(data));
        composer.paintSheet(painter, target, false);
        blanks.addPage(sheet, composer.undrawnRecords());
        ++run.pagesWritten;

        // A full disk shows as soon as a write fails; painting the rest of a
        // long job would only waste the user's time.
        if (!output.error().isEmpty()) {
            run.error = writeFailed();
            break;
        }
        if (progress)
            progress(pagesBefore + p + 1, pagesInAll);
        if (p == pageCount - 1)
            break;
        if (!writer.newPage()) {
            run.error = pageFailedMessage();
            break;
        }
    }

    const bool ended = painter.end();
    // The writer's last bytes go out with the final flush; on a full disk
    // that is where the failure shows, so it is checked here as well as in
    // the output's close.
    if (run.error.isEmpty() && (!ended || !output.error().isEmpty()))
        run.error = writeFailed();
    return run;
}
