#include "render/pdfexport.h"

#include "model/elementlimits.h"
#include "model/fieldvalues.h"
#include "render/backgroundimage.h"
#include "render/jobselection.h"
#include "render/outputfile.h"
#include "render/pdfjoin.h"

#include <QColor>
#include <QDir>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QFileInfo>
#include <QIODevice>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

constexpr int kResolution = 300;
constexpr int kPointsPerInch = 72;

QString pageFailedMessage()
{
    return QStringLiteral("An error occurred while creating a PDF page");
}

// Counts the distinct cards whose codes could not be drawn. A record stands
// on exactly one sheet (both orders map each index to one slot of one sheet),
// so only the front and back of the same sheet can name a card twice: it is
// enough to merge the sides of the current sheet, which keeps the tally as
// small as one sheet however long the job is.
class BlankCodeTally
{
public:
    void addPage(int sheet, const QList<int> &undrawn)
    {
        if (sheet != m_sheet) {
            flush();
            m_sheet = sheet;
        }
        QList<int> merged;
        merged.reserve(m_sheetCards.size() + undrawn.size());
        std::set_union(m_sheetCards.cbegin(), m_sheetCards.cend(), undrawn.cbegin(),
                       undrawn.cend(), std::back_inserter(merged));
        m_sheetCards = std::move(merged);
    }

    void finish(PdfExportResult *result)
    {
        flush();
        result->blankCodeCardCount = m_count;
        result->blankCodeCards = m_listed;
    }

    // Takes in the cards of another tally over other sheets (a card stands
    // on one sheet only, so the two sets are disjoint).
    void absorb(BlankCodeTally &other)
    {
        other.flush();
        flush();
        m_count += other.m_count;
        QList<int> merged;
        std::merge(m_listed.cbegin(), m_listed.cend(), other.m_listed.cbegin(), other.m_listed.cend(),
                   std::back_inserter(merged));
        m_listed = merged.mid(0, blankCodeCardsListed);
    }

private:
    void flush()
    {
        m_count += int(m_sheetCards.size());
        for (int card : std::as_const(m_sheetCards)) {
            const auto at = std::lower_bound(m_listed.begin(), m_listed.end(), card);
            if (at != m_listed.end() && *at == card)
                continue;
            if (at == m_listed.end() && m_listed.size() >= blankCodeCardsListed)
                continue;
            m_listed.insert(at, card);
            if (m_listed.size() > blankCodeCardsListed)
                m_listed.removeLast();
        }
        m_sheetCards.clear();
    }

    int m_sheet = -1;
    QList<int> m_sheetCards; // ascending, distinct
    int m_count = 0;
    QList<int> m_listed; // the smallest indices, ascending
};

PdfExportResult failed(const QString &message)
{
    PdfExportResult result;
    result.error = message;
    return result;
}

} // namespace

QList<int> printedSheets(const PdfExportJob &job)
{
    if (!job.sheets.isEmpty()) {
        QList<int> sheets;
        const int count = job.layout.sheetCount();
        for (int sheet : job.sheets) {
            if (sheet >= 0 && sheet < count)
                sheets.append(sheet);
        }
        return sheets;
    }
    if (!job.onlyRecords.isEmpty())
        return sheetsHolding(job.layout, job.cutStack, job.onlyRecords);
    return sheetSpan(0, job.layout.sheetCount() - 1);
}

std::optional<CardTable> jobRecords(const PdfExportJob &job, const QList<int> &cards, QString *error)
{
    if (!job.cardReader)
        return job.records;
    QString message;
    const CardTable read = job.cardReader(cards, &message);
    if (!message.isEmpty()) {
        if (error)
            *error = QStringLiteral("Data Read Failed: %1").arg(message);
        return std::nullopt;
    }
    return job.records.withCardsOf(read);
}

QList<int> sheetCards(const PdfExportJob &job, int sheet)
{
    QList<int> cards;
    const ImpositionLayout &layout = job.layout;
    for (int row = 0; row < layout.rows; ++row) {
        for (int column = 0; column < layout.columns; ++column) {
            const int card = layout.recordAt(sheet, row, column, job.cutStack, false);
            if (card >= 0 && card < layout.recordCount)
                cards.append(card);
        }
    }
    std::sort(cards.begin(), cards.end());
    return cards;
}

namespace {

// Paints `sheets` of the job as pages of one PDF into `file`, which the caller
// commits. `pagesBefore` and `pagesInAll` count across every file of a split
// export, for the progress callback.
struct PageRun
{
    int pagesWritten = 0;
    QString error;
};

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

// The parts of a split export are written to temporary files beside their
// targets and renamed into place only when every part is complete, so a
// failure leaves no partial set and touches no existing file. Pieces of a
// file written on several threads are temporary files too, removed when done.
class PartFiles
{
public:
    explicit PartFiles(const TemporaryFileWatch *watch) : m_watch(watch) {}

    // A new temporary file beside `target`, open for writing, renamed over
    // `target` by commit(); or beside `near`, never committed, for a piece.
    // The file stays owned here. Safe to call from several threads.
    OutputFile *create(const QString &target, OutputFile::Kind kind, QString *error)
    {
        auto file = std::make_unique<OutputFile>(target, kind, m_watch);
        if (!file->open()) {
            *error = file->error();
            return nullptr;
        }
        const std::lock_guard lock(m_mutex);
        m_files.push_back(std::move(file));
        return m_files.back().get();
    }

    // Closes every part, checking each, then renames them over their
    // targets, all or none: a file already at a target is kept under a
    // second name (a hard link) until every part is in place, and put back
    // should a later part fail to move. False on failure, with the targets
    // as they were.
    bool commit(QString *error)
    {
        QList<OutputFile *> parts;
        for (const std::unique_ptr<OutputFile> &file : m_files) {
            if (!file->close()) {
                *error = file->error();
                return false;
            }
            if (file->temporaryPath().endsWith(QLatin1String(".part")))
                parts.append(file.get());
        }
        struct Moved
        {
            QString target;
            QString kept; // the earlier file at target, or empty
        };
        QList<Moved> moved;
        const auto undo = [&moved] {
            for (auto it = moved.crbegin(); it != moved.crend(); ++it) {
                if (it->kept.isEmpty())
                    QFile::remove(it->target);
                else
                    ::rename(QFile::encodeName(it->kept).constData(), QFile::encodeName(it->target).constData());
            }
        };
        for (OutputFile *part : std::as_const(parts)) {
            const QString &target = part->target();
            Moved move{target, QString()};
            if (const std::optional<QString> reason = notRegularOutputReason(target)) {
                *error = *reason;
                undo();
                return false;
            }
            if (QFileInfo::exists(target)) {
                // Named like our other temporary files, so a leftover after
                // a crash is recognised and removed by the next export.
                move.kept = part->temporaryPath().chopped(4) + QStringLiteral("old");
                if (m_watch && m_watch->created)
                    m_watch->created(move.kept);
                if (::link(QFile::encodeName(target).constData(), QFile::encodeName(move.kept).constData()) != 0) {
                    *error = outputWriteError(target, QString::fromLocal8Bit(std::strerror(errno)));
                    if (m_watch && m_watch->released)
                        m_watch->released(move.kept);
                    undo();
                    return false;
                }
            }
            if (!renameIntoPlace(part->temporaryPath(), target, error)) {
                if (!move.kept.isEmpty())
                    QFile::remove(move.kept);
                undo();
                return false;
            }
            part->forget();
            moved.append(move);
        }
        for (const Moved &move : std::as_const(moved)) {
            if (!move.kept.isEmpty()) {
                QFile::remove(move.kept);
                if (m_watch && m_watch->released)
                    m_watch->released(move.kept);
            }
        }
        return true;
    }

private:
    const TemporaryFileWatch *m_watch;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<OutputFile>> m_files; // removed unless committed
};

// One run of sheets written into one file: a part of a split export, a piece
// of a parallel one, or the whole job.
struct SheetTask
{
    QList<int> sheets;
    QString target;  // the part's final path, or where a piece is made
    bool piece = false;
    int pagesBefore = 0;
    OutputFile *output = nullptr; // the temporary file, once created
    PageRun run;
    BlankCodeTally blanks;
};

// Writes every task, on up to `jobs` threads. The caller's progress callback
// is only ever called on the calling thread (it may drive a dialog), with the
// pages of all tasks counted together. False with `error` when a task failed;
// tasks not yet started are then skipped.
bool runSheetTasks(const PdfExportJob &job, QList<SheetTask> &tasks, PartFiles &files, int jobs, int pagesInAll,
                   const PdfExportProgress &progress, QString *error)
{
    std::atomic<int> pagesDone{0};
    std::atomic<bool> failed{false};
    std::atomic<qsizetype> next{0};
    const auto work = [&](const PdfExportProgress &report) {
        for (qsizetype i = next++; i < tasks.size() && !failed; i = next++) {
            SheetTask &task = tasks[i];
            task.output = files.create(task.target, task.piece ? OutputFile::Kind::Piece : OutputFile::Kind::Part,
                                       &task.run.error);
            if (!task.output) {
                failed = true;
                return;
            }
            task.run = writeSheets(job, task.sheets, *task.output, task.pagesBefore, pagesInAll, task.blanks,
                                   [&](int, int) {
                                       const int done = ++pagesDone;
                                       if (report)
                                           report(done, pagesInAll);
                                   });
            // A piece is read back by the join, so its close is checked now.
            if (task.run.error.isEmpty() && task.piece && !task.output->close())
                task.run.error = task.output->error();
            if (!task.run.error.isEmpty())
                failed = true;
        }
    };

    const int threads = std::clamp<int>(jobs, 1, int(std::max<qsizetype>(tasks.size(), 1)));
    if (threads == 1) {
        work(progress);
    } else {
        std::atomic<int> finished{0};
        std::vector<std::thread> workers;
        workers.reserve(threads);
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&] {
                work({});
                ++finished;
            });
        }
        // Every page count is reported, in order, as one thread would: a
        // caller printing a line per tenth of the job sees each tenth.
        int reported = 0;
        const auto catchUp = [&] {
            for (const int done = pagesDone; progress && reported < done;)
                progress(++reported, pagesInAll);
        };
        while (finished < threads) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            catchUp();
        }
        for (std::thread &worker : workers)
            worker.join();
        catchUp();
    }
    for (const SheetTask &task : std::as_const(tasks)) {
        if (!task.run.error.isEmpty()) {
            *error = task.run.error;
            return false;
        }
    }
    return true;
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

    PartFiles files(watch);
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

QString blankCodesSummary(const PdfExportResult &result)
{
    if (result.blankCodeCardCount < 1)
        return {};
    const QString who = result.blankCodeCardCount == 1
        ? QStringLiteral("1 card has")
        : QStringLiteral("%1 cards have").arg(result.blankCodeCardCount);
    return who + QStringLiteral(" barcode or QR codes that could not be drawn and will print blank: ")
        + cardLabelList(result.blankCodeCards, result.blankCodeCardCount);
}

QString earlierPartsNote(const QStringList &earlierParts)
{
    QStringList files;
    for (const QString &part : earlierParts)
        files << QDir::toNativeSeparators(part);
    const QString count = earlierParts.size() == 1 ? QStringLiteral("1 earlier part")
                                                   : QStringLiteral("%1 earlier parts").arg(earlierParts.size());
    return QStringLiteral("%1 of the same name, not part of this export, left as they were: %2")
        .arg(count, files.join(QStringLiteral(", ")));
}

QString cardLabel(int recordIndex)
{
    return QStringLiteral("#") + QString::number(qint64(recordIndex) + 1).rightJustified(4, u'0');
}

QString cardLabelList(const QList<int> &firstCards, int cardCount)
{
    QStringList cards;
    cards.reserve(firstCards.size() + 1);
    for (int index : firstCards)
        cards.append(cardLabel(index));
    if (cardCount > cards.size())
        cards.append(QStringLiteral("…"));
    return cards.join(QStringLiteral(", "));
}

QString proposedPdfFileName(const QString &projectName)
{
    static const QRegularExpression reserved(QStringLiteral("[\\\\/:*?\"<>|]"));
    QString name = projectName.trimmed();
    name.replace(reserved, QStringLiteral("_"));
    if (name.isEmpty())
        name = QStringLiteral("VDP Imposition");
    return name + QStringLiteral(".pdf");
}
