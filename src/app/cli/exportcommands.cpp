#include "clicommands.h"
#include "clicontext.h"
#include "cliparser.h"
#include "interruptcleanup.h"
#include "projectcards.h"
#include "projectchoice.h"

#include "app/exportplan.h"
#include "model/fieldvalues.h"
#include "model/projectgeometry.h"
#include "render/exportpreflight.h"
#include "render/jobselection.h"
#include "render/outputfile.h"
#include "render/pdfexport.h"
#include "store/protectedfiles.h"
#include "store/recordassembly.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <cstdio>
#include <optional>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

const QString outputOption = QStringLiteral("output");
const QString orderOption = QStringLiteral("order");
const QString allowBlankCodesOption = QStringLiteral("allow-blank-codes");
const QString allowWarningsOption = QStringLiteral("allow-warnings");
const QString cardsOption = QStringLiteral("cards");
const QString sheetsOption = QStringLiteral("sheets");
const QString sheetsPerFileOption = QStringLiteral("sheets-per-file");
const QString jobsOption = QStringLiteral("jobs");
const QString standardOrder = QStringLiteral("standard");
const QString cutStackOrder = QStringLiteral("cut-stack");

QList<CliCommand> exportCommandTable();

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

bool stderrIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

// A wrong option value is a usage error like the parser's: message and the
// command's usage on stderr, exit code 2, nothing touched.
int usageError(CliContext &context, const QString &message)
{
    context.err() << cli::toolName() << ": " << message << '\n';
    const QList<CliCommand> commands = exportCommandTable();
    if (!commands.isEmpty())
        context.err() << commandUsage(commands.first());
    return cli::ExitUsage;
}

// Progress on stderr. On a terminal one bar is redrawn in place; into a pipe
// or a log, a line at each tenth of the job and at the last page, so a run of
// thousands of pages does not bury the messages that matter.
class ExportProgress
{
public:
    ExportProgress(QTextStream &err, bool terminal)
        : m_err(err)
        , m_terminal(terminal)
    {
    }

    void start(int pageCount)
    {
        if (m_terminal && pageCount > 0)
            drawBar(0, pageCount);
    }

    void update(int pagesDone, int pageCount)
    {
        if (pageCount <= 0)
            return;
        if (m_terminal) {
            drawBar(pagesDone, pageCount);
            return;
        }
        const qint64 tenth = qint64(pagesDone) * 10 / pageCount;
        const qint64 previousTenth = qint64(pagesDone - 1) * 10 / pageCount;
        if (tenth != previousTenth || pagesDone == pageCount) {
            m_err << QStringLiteral("Exported %1 of %2 pages").arg(pagesDone).arg(pageCount) << '\n'
                  << Qt::flush;
        }
    }

    // Ends the bar's line, so what follows starts on a line of its own.
    void finish()
    {
        if (m_barDrawn)
            m_err << '\n' << Qt::flush;
        m_barDrawn = false;
    }

private:
    void drawBar(int pagesDone, int pageCount)
    {
        constexpr int width = 20;
        const int filled = int(qint64(pagesDone) * width / pageCount);
        m_err << QStringLiteral("\rExporting [%1%2] %3/%4 pages")
                     .arg(QString(filled, u'#'), QString(width - filled, u'.'))
                     .arg(pagesDone)
                     .arg(pageCount)
              << Qt::flush;
        m_barDrawn = true;
    }

    QTextStream &m_err;
    bool m_terminal = false;
    bool m_barDrawn = false;
};

int exportCommand(CliContext &context, const CliInvocation &invocation)
{
    const QString order = invocation.options.value(orderOption, standardOrder);
    if (order != standardOrder && order != cutStackOrder)
        return usageError(context, QStringLiteral("invalid order '%1' (use %2 or %3)")
                                       .arg(order, standardOrder, cutStackOrder));
    const QString path = QFileInfo(invocation.value(outputOption)).absoluteFilePath();
    if (invocation.isSet(cardsOption) && invocation.isSet(sheetsOption))
        return usageError(context, QStringLiteral("--%1 and --%2 cannot be combined").arg(cardsOption, sheetsOption));
    int sheetsPerFile = 0;
    if (invocation.isSet(sheetsPerFileOption)) {
        const SheetsPerFile split = parseSheetsPerFile(invocation.value(sheetsPerFileOption));
        if (!split.error.isEmpty())
            return usageError(context, split.error);
        sheetsPerFile = split.count;
    }

    // Every core by default: the pages of a long job are composed in parallel.
    int jobs = std::max(QThread::idealThreadCount(), 1);
    if (invocation.isSet(jobsOption)) {
        bool ok = false;
        jobs = invocation.value(jobsOption).trimmed().toInt(&ok);
        if (!ok || jobs < 1 || jobs > 256)
            return usageError(context, QStringLiteral("Jobs: \"%1\" is not a whole number from 1 to 256")
                                           .arg(invocation.value(jobsOption)));
    }

    const auto [store, project] = cli::openChosenProject(context, invocation);
    if (!store)
        return cli::ExitFailure;

    // Both are refused before the records are loaded: the one would replace
    // the database or a spreadsheet with the PDF, the other hang the export or
    // give a file no press can use.
    if (const std::optional<QString> reason = protectedOutputReason(*store, path))
        return context.fail(QStringLiteral("No PDF written: %1").arg(*reason));
    if (const std::optional<QString> reason = notRegularOutputReason(path))
        return context.fail(QStringLiteral("No PDF written: %1").arg(*reason));
    if (const std::optional<QString> error = projectGeometryError(project))
        return context.fail(QStringLiteral("No PDF written: %1").arg(*error));

    PdfExportSource source;
    source.project = project;
    source.cutStack = order == cutStackOrder;

    QString error;
    const QList<TemplateField> fields = store->loadFields(project.id, &error);
    if (!error.isEmpty())
        return context.fail(QStringLiteral("PDF export failed: %1").arg(error));

    // The cards are read a sheet at a time, with only the columns the fields
    // show, so a long run costs no more memory than a short one; the reader
    // sees the rows as they stand now, whatever the window writes meanwhile.
    // Rows in the older single table are read whole.
    const QStringList keys = fieldRecordKeys(fields);
    source.cardReader = ProjectCardReader::open(*store, project.id, keys, &error);
    if (!source.cardReader && error.isEmpty())
        source.cardRecords = loadProjectRecords(*store, project.id, nullptr, &error, &keys);
    source.fields = fields;
    if (!error.isEmpty())
        return context.fail(QStringLiteral("Data Read Failed: %1").arg(error));

    PdfExportPlan plan = planPdfExport(*store, std::move(source));
    if (!plan.ok()) {
        for (const QString &line : plan.errorDetails)
            context.err() << line << '\n';
        return context.fail(QStringLiteral("%1: %2").arg(plan.errorTitle, plan.error));
    }

    // A part of the job: the numbers are those the preview shows, which only
    // the planned job knows.
    PrintChoice choice;
    if (invocation.isSet(cardsOption)) {
        choice.mode = PrintChoice::Mode::Cards;
        choice.cards = invocation.value(cardsOption);
    } else if (invocation.isSet(sheetsOption)) {
        choice.mode = PrintChoice::Mode::Sheets;
        choice.sheets = invocation.value(sheetsOption);
    }
    if (const QString error = applyPrintChoice(choice, plan.job); !error.isEmpty())
        return usageError(context, error);
    const QList<int> sheets = printedSheets(plan.job);
    const int sides = plan.job.duplex ? 2 : 1;
    if (sheetsPerFile > 0) {
        for (const QString &target : splitPartPaths(path, int(sheets.size()), sheetsPerFile)) {
            std::optional<QString> reason = protectedOutputReason(*store, target);
            if (!reason)
                reason = notRegularOutputReason(target);
            if (reason)
                return context.fail(QStringLiteral("No PDF written: %1").arg(*reason));
        }
    }

    const bool allowWarnings = invocation.isSet(allowWarningsOption);
    const QList<PreflightProblem> problems = preflightExport(plan.job);
    if (!problems.isEmpty()) {
        context.err() << preflightReport(problems) << '\n';
        if (!allowWarnings) {
            context.err() << QStringLiteral("No PDF written: check the job above, or export anyway with --%1.")
                                 .arg(allowWarningsOption)
                          << Qt::endl;
            return cli::ExitJobProblems;
        }
        context.err() << Qt::flush;
    }

    ExportProgress progress(context.err(), stderrIsTerminal());
    progress.start(int(sheets.size()) * sides);
    const PdfExportResult result = exportImpositionPdf(
        plan.job, path, [&](int pagesDone, int pageCount) { progress.update(pagesDone, pageCount); },
        sheetsPerFile, jobs, &interruptCleanupWatch());
    progress.finish();
    if (!result.ok)
        return context.fail(QStringLiteral("PDF export failed: %1").arg(result.error));

    for (qsizetype file = 0; file < result.files.size(); ++file) {
        context.out() << QStringLiteral("PDF exported: %1 (%2 pages)")
                             .arg(nativePath(result.files.at(file)))
                             .arg(result.filePages.value(file))
                      << Qt::endl;
    }
    if (!result.earlierParts.isEmpty())
        context.err() << earlierPartsNote(result.earlierParts) << Qt::endl;
    if (result.blankCodeCardCount > 0) {
        context.err() << blankCodesSummary(result) << Qt::endl;
        if (!allowWarnings && !invocation.isSet(allowBlankCodesOption))
            return cli::ExitJobProblems;
    }
    return cli::ExitSuccess;
}

QList<CliCommand> exportCommandTable()
{
    return {
        {
            QStringLiteral("export"),
            QStringLiteral("Write the print PDF of a project"),
            QStringLiteral(
                "Writes every card of the project into one PDF for the press, as the window's\n"
                "\"Export PDF\" does: one page per printed sheet side at the project's paper size\n"
                "and 300 dots per inch, without margins. A duplex project gives the front and\n"
                "the back of the first sheet, then of the second, and so on; each back is\n"
                "mirrored so that every card's back lies behind its front. The stored\n"
                "backgrounds are stretched over the cards; a background that is set but cannot\n"
                "be read stops the export. The file is replaced only once it is complete, so a\n"
                "failed export leaves an earlier file at FILE as it was.\n"
                "--order standard (the default) fills each sheet card after card; cut-stack puts\n"
                "consecutive cards on consecutive sheets, so that once the sheets are cut and\n"
                "the stacks laid in slot order, the cards run in sequence.\n"
                "FILE must not be the project database, one of its -wal, -shm or -journal files,\n"
                "or a data file of any project (links and \"..\" are followed), and when it\n"
                "exists it must be a regular file (not a device, FIFO, socket or folder).\n"
                "The PDF is written beside it as FILE.vdp-PID-XXXXXX.part and renamed into\n"
                "place; an interrupted export removes it, and one killed outright leaves it\n"
                "for the next export to the folder to remove.\n"
                "The stored sizes, grid and bleed must lie within the ranges the window allows\n"
                "(1 to 2000 mm, 1 to 100 rows and columns) and a card must fit on the sheet.\n"
                "Stored fields and graphics must lie within the ranges the panels allow\n"
                "(positions, sizes, font sizes, strokes, table rows and columns, sequence\n"
                "prefix and digits); the first value outside is named.\n"
                "Before writing, the job is checked for cards whose data fields have no data\n"
                "(they would print {{...}} markers), cards past the end of a prize list, cards\n"
                "whose barcode or QR data is empty or only spaces, cards cut off by the sheet\n"
                "edge, fields or graphics wholly outside the card, and a printed side with no\n"
                "fields, graphics or background; each problem found is printed on stderr with\n"
                "the first cards affected.\n"
                "Progress is shown on stderr.\n"
                "Exit status: 0 written; 1 nothing written (no data, a protected FILE, stored\n"
                "settings out of range, prize settings rejected, unreadable background, or the\n"
                "file could not be written); 2 usage error; 3 the job has problems a press must\n"
                "not get unawares: the check found problems (nothing written unless\n"
                "--allow-warnings is given), or the PDF was written but some cards have barcodes\n"
                "or QR codes that could not be drawn and would print blank (they are listed on\n"
                "stderr). --allow-blank-codes accepts the blank codes alone with exit status 0;\n"
                "--allow-warnings writes the PDF despite the problems found and accepts blank\n"
                "codes as well. The lists are printed either way.\n"
                "Reprints and parts: --cards LIST writes only the sheets holding the listed cards\n"
                "(numbers as the preview labels them, from 1: 17,230-240,1001), each card in the\n"
                "slot and on the side it has in the whole job, every other slot left blank, with\n"
                "the sequence numbers and prizes of the whole job. --sheets FIRST-LAST writes only\n"
                "those sheets (as the preview numbers them; with duplex both sides of each).\n"
                "--sheets-per-file N splits the output into NAME-001.pdf, NAME-002.pdf, ... of N\n"
                "sheets each beside FILE, every one a complete PDF; they are put in place together\n"
                "once all are written. Earlier parts of the same name that the new set does not\n"
                "replace are left as they are and listed on stderr. A bad list, range or N is a\n"
                "usage error naming it.\n"
                "--jobs N composes the pages on N threads (default: one per processor core);\n"
                "the pages are the same whatever N.\n\n")
                + cli::projectChoiceRule(),
            {},
            {
                cli::projectChoiceOption(),
                {outputOption, QStringLiteral("FILE"), QStringLiteral("The PDF file to write"), true},
                {orderOption, QStringLiteral("ORDER"),
                 QStringLiteral("The card order on the sheets: standard or cut-stack (default: standard)")},
                {allowBlankCodesOption, QString(),
                 QStringLiteral("Exit with 0 even when some barcodes or QR codes print blank")},
                {allowWarningsOption, QString(),
                 QStringLiteral("Write the PDF even when the check finds problems, and exit with 0 "
                                "(blank codes included)")},
                {cardsOption, QStringLiteral("LIST"),
                 QStringLiteral("Reprint only these cards, in their slots: 17,230-240,1001")},
                {sheetsOption, QStringLiteral("RANGE"), QStringLiteral("Write only these sheets: 3-7")},
                {sheetsPerFileOption, QStringLiteral("N"),
                 QStringLiteral("Split the output into files of N sheets: NAME-001.pdf, NAME-002.pdf, ...")},
                {jobsOption, QStringLiteral("N"),
                 QStringLiteral("Compose the pages on N threads (default: one per processor core)")},
            },
            &exportCommand,
        },
    };
}

} // namespace

QList<CliCommand> exportCommands()
{
    return exportCommandTable();
}
