#include "render/pdfexport.h"

#include "render/blankcodetally.h"
#include "render/jobselection.h"
#include "render/outputfile.h"
#include "render/outputfileset.h"
#include "render/pagewriter.h"
#include "render/pdfjoin.h"
#include "render/sheettasks.h"

#include <QDir>
#include <QFileInfo>
#include <QPageSize>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

namespace {

PdfExportResult failed(const QString &message)
{
    PdfExportResult result;
    result.error = message;
    return result;
}

// The files beside `path` named as parts of a split of it ("NAME-001.pdf",
// any number of digits from three) that are not in `written`, sorted.
QStringList earlierSplitParts(const QString &path, const QStringList &written)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    const QString base = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    const QRegularExpression partName(QStringLiteral("^%1-[0-9]{3,}%2$")
                                          .arg(QRegularExpression::escape(base), QRegularExpression::escape(suffix)));
    const QDir folder = info.dir();
    QStringList earlier;
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
        const QString part = folder.filePath(name);
        if (partName.match(name).hasMatch() && !written.contains(part))
            earlier << part;
    }
    return earlier;
}

} // namespace

PdfExportResult exportImpositionPdf(const PdfExportJob &job, const QString &path,
                                    const PdfExportProgress &progress, int sheetsPerFile, int jobs,
                                    const TemporaryFileWatch *watch)
{
    const QList<int> sheets = printedSheets(job);
    // A PDF writer always produces at least one page, so an empty job would
    // come out as a blank sheet reported as a success.
    if (sheets.isEmpty())
        return failed(pageFailedMessage());

    const QPageSize pageSize(job.sheetSizeMm, QPageSize::Millimeter, QStringLiteral("VDP Paper"),
                             QPageSize::FuzzyMatch);
    // The writer would silently keep its default paper for an invalid size,
    // and it declares pages in whole points, so less than a point is no page.
    if (!pageSize.isValid() || pageSize.sizePoints().isEmpty())
        return failed(pageFailedMessage());

    const int sides = job.duplex ? 2 : 1;
    const int pagesInAll = int(sheets.size()) * sides;
    jobs = std::max(jobs, 1);
    PdfExportResult result;

    // A device, a FIFO or a folder at a target would be replaced by the
    // rename (or swallow the PDF): refused before a page is painted.
    const QStringList parts = splitPartPaths(path, int(sheets.size()), sheetsPerFile);
    for (const QString &target : QStringList{path} + parts) {
        if (const std::optional<QString> reason = notRegularOutputReason(target))
            return failed(*reason);
    }
    // Temporary files of exports that were killed would otherwise stay for good.
    removeStaleTemporaryFiles(QFileInfo(path).absolutePath());

    // One file on one thread.
    if (sheetsPerFile < 1 && (jobs == 1 || sheets.size() < 2)) {
        BlankCodeTally blanks;
        // Everything is written into a temporary file beside `path`; only
        // commit() puts it in place, so a failure leaves the user's existing
        // file alone.
        OutputFile file(path, OutputFile::Kind::Part, watch);
        if (!file.open())
            return failed(file.error());
        const PageRun run = writeSheets(job, sheets, file, 0, pagesInAll, blanks, progress);
        if (!run.error.isEmpty())
            return failed(run.error);
        if (!file.commit())
            return failed(file.error());
        result.ok = true;
        result.pageCount = run.pagesWritten;
        result.files = QStringList{path};
        result.filePages = QList<int>{run.pagesWritten};
        blanks.finish(&result);
        return result;
    }

    // Split files are written whole, each by one thread. One file on several
    // threads is written as one piece per thread, each by its own PDF writer,
    // and the pieces are joined into the file with qpdf.
    QList<SheetTask> tasks;
    const bool split = sheetsPerFile >= 1;
    const qsizetype perTask = split ? sheetsPerFile : (sheets.size() + jobs - 1) / jobs;
    const int taskCount = int((sheets.size() + perTask - 1) / perTask);
    for (int t = 0; t < taskCount; ++t) {
        SheetTask task;
        task.sheets = sheets.mid(t * perTask, perTask);
        task.target = split ? parts.at(t) : path;
        task.piece = !split;
        task.pagesBefore = int(t * perTask) * sides;
        tasks.append(std::move(task));
    }

    OutputFileSet files(watch);
    QString error;
    if (!runSheetTasks(job, tasks, files, jobs, pagesInAll, progress, &error))
        return failed(error);

    BlankCodeTally blanks;
    for (SheetTask &task : tasks) {
        blanks.absorb(task.blanks);
        result.pageCount += task.run.pagesWritten;
        if (split) {
            result.files.append(task.target);
            result.filePages.append(task.run.pagesWritten);
        }
    }
    if (!split) {
        QStringList pieces;
        for (const SheetTask &task : std::as_const(tasks))
            pieces.append(task.output->temporaryPath());
        OutputFile *joined = files.create(path, OutputFile::Kind::Part, &error);
        if (!joined)
            return failed(error);
        FILE *stream = joined->stream();
        if (!stream)
            return failed(outputWriteError(path, QString::fromLocal8Bit(std::strerror(errno))));
        if (const QString message = joinPdfFiles(pieces, stream, path); !message.isEmpty()) {
            joined->setWriteError(message);
            return failed(joined->error());
        }
        result.files = QStringList{path};
        result.filePages = QList<int>{result.pageCount};
    }
    if (!files.commit(&error))
        return failed(error);
    if (split)
        result.earlierParts = earlierSplitParts(path, result.files);

    result.ok = true;
    blanks.finish(&result);
    return result;
}
