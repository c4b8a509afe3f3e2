#include "app/exportrun.h"

#include "model/projectgeometry.h"
#include "store/protectedfiles.h"

#include <QDir>

#include <algorithm>
#include <utility>

namespace {

ExportRun stopped(ExportStop stop, const QString &error = {})
{
    ExportRun run;
    run.stop = stop;
    run.error = error;
    return run;
}

// Why `path`, or a part of it when the job is split, must not be written:
// replacing the database or a data file loses the user's work (a file
// dialog's "Replace?" does not know what the file is), and a device, FIFO or
// folder would be replaced by the rename or swallow the PDF.
std::optional<QString> refusedOutputReason(ProjectStore &store, const QString &path, int sheetCount,
                                           int sheetsPerFile)
{
    QStringList targets = splitPartPaths(path, sheetCount, sheetsPerFile);
    if (!targets.contains(path))
        targets.prepend(path);
    for (const QString &target : std::as_const(targets)) {
        std::optional<QString> reason = protectedOutputReason(store, target);
        if (!reason)
            reason = notRegularOutputReason(target);
        if (reason)
            return reason;
    }
    return std::nullopt;
}

} // namespace

ExportRun runExport(ProjectStore &store, PdfExportSource source, const ExportFrontEnd &frontEnd)
{
    // Checked before a record is read: a grid of 100,000 × 100,000 would
    // otherwise hang the plan.
    if (const std::optional<QString> geometry = projectGeometryError(source.project))
        return stopped(ExportStop::Geometry, *geometry);

    PdfExportPlan plan = planPdfExport(store, std::move(source));
    if (!plan.ok()) {
        ExportRun run = stopped(ExportStop::Plan, plan.error);
        run.errorTitle = plan.errorTitle;
        run.errorDetails = plan.errorDetails;
        return run;
    }
    PdfExportJob &job = plan.job;

    // The numbers of a reprint are those the preview shows, which only the
    // planned job knows.
    const std::optional<PrintChoice> choice = frontEnd.chooseRange ? frontEnd.chooseRange(job)
                                                                        : std::optional(PrintChoice());
    if (!choice)
        return stopped(ExportStop::Cancelled);
    if (const QString error = applyPrintChoice(*choice, job); !error.isEmpty())
        return stopped(ExportStop::Range, error);

    // After the choice: a reprint is judged by the cards it prints.
    ExportRun run;
    run.problems = preflightExport(job);
    if (!run.problems.isEmpty() && !(frontEnd.confirmProblems && frontEnd.confirmProblems(run.problems))) {
        run.stop = ExportStop::Problems;
        return run;
    }

    const QString path = frontEnd.chooseOutput ? frontEnd.chooseOutput() : QString();
    if (path.isEmpty()) {
        run.stop = ExportStop::Cancelled;
        return run;
    }
    const int sheetsPerFile = std::max(choice->sheetsPerFile, 0);
    const int sheetCount = int(printedSheets(job).size());
    if (const std::optional<QString> reason = refusedOutputReason(store, path, sheetCount, sheetsPerFile)) {
        run.stop = ExportStop::Output;
        run.error = *reason;
        return run;
    }

    const int pageCount = sheetCount * (job.duplex ? 2 : 1);
    if (frontEnd.startWriting)
        frontEnd.startWriting(pageCount);
    run.result = exportImpositionPdf(job, path, frontEnd.progress, sheetsPerFile, std::max(frontEnd.jobs, 1),
                                     frontEnd.watch);
    run.stop = run.result.ok ? ExportStop::Written : ExportStop::Write;
    return run;
}

QStringList exportedFileLines(const PdfExportResult &result)
{
    QStringList lines;
    for (qsizetype file = 0; file < result.files.size(); ++file) {
        lines << QStringLiteral("PDF exported: %1 (%2 pages)")
                     .arg(QDir::toNativeSeparators(result.files.at(file)))
                     .arg(result.filePages.value(file));
    }
    return lines;
}
