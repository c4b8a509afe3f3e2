#include "clicommands.h"
#include "clicontext.h"
#include "cliparser.h"
#include "projectcards.h"
#include "projectchoice.h"
#include "tableprinter.h"

#include "app/dataimport.h"
#include "import/tablereader.h"
#include "store/recordassembly.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <optional>

namespace {

const QString jsonOption = QStringLiteral("json");
const QString worksheetOption = QStringLiteral("worksheet");
const QString encodingOption = QStringLiteral("encoding");
const QString delimiterOption = QStringLiteral("delimiter");
const QString limitOption = QStringLiteral("limit");
const QString preparedOption = QStringLiteral("prepared");

// The values the import dialog offers, as they are stored.
const QStringList encodings{QStringLiteral("auto"), QStringLiteral("utf-8"), QStringLiteral("windows-1252")};
const QStringList delimiters{QStringLiteral("auto"), QStringLiteral("comma"), QStringLiteral("semicolon"),
                             QStringLiteral("tab")};

QList<CliCommand> dataCommandTable();

// A wrong option value is a usage error like the parser's: message and the
// command's usage on stderr, exit code 2, nothing touched.
int usageError(CliContext &context, const QString &commandName, const QString &message)
{
    const QList<CliCommand> commands = dataCommandTable();
    const auto command = std::find_if(commands.begin(), commands.end(),
                                      [&](const CliCommand &c) { return c.name == commandName; });
    context.err() << cli::toolName() << ": " << message << '\n';
    if (command != commands.end())
        context.err() << commandUsage(*command);
    return cli::ExitUsage;
}

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// Key names follow the DataSource record.
QJsonObject sourceJson(const DataSource &source, int rows)
{
    return QJsonObject{
        {QStringLiteral("id"), source.id},
        {QStringLiteral("projectId"), source.projectId},
        {QStringLiteral("displayName"), source.displayName},
        {QStringLiteral("filePath"), source.filePath},
        {QStringLiteral("sortOrder"), source.sortOrder},
        {QStringLiteral("worksheetName"), source.options.worksheetName},
        {QStringLiteral("csvEncoding"), source.options.csvEncoding},
        {QStringLiteral("csvDelimiter"), source.options.csvDelimiter},
        {QStringLiteral("rows"), rows},
    };
}

QString jsonLine(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

int importCommand(CliContext &context, const CliInvocation &invocation)
{
    const QString file = invocation.arguments.first();
    const bool excel = isWorkbookPath(file);

    DataSourceOptions options;
    if (excel) {
        if (invocation.isSet(encodingOption) || invocation.isSet(delimiterOption))
            return usageError(context, QStringLiteral("import"),
                              QStringLiteral("--encoding and --delimiter apply to CSV files only"));
    } else {
        if (invocation.isSet(worksheetOption))
            return usageError(context, QStringLiteral("import"),
                              QStringLiteral("--worksheet applies to Excel workbooks (.xlsx, .xlsm) only"));
        options.csvEncoding = invocation.options.value(encodingOption, options.csvEncoding);
        options.csvDelimiter = invocation.options.value(delimiterOption, options.csvDelimiter);
        if (!encodings.contains(options.csvEncoding))
            return usageError(context, QStringLiteral("import"),
                              QStringLiteral("invalid encoding '%1' (use %2)")
                                  .arg(options.csvEncoding, encodings.join(QStringLiteral(", "))));
        if (!delimiters.contains(options.csvDelimiter))
            return usageError(context, QStringLiteral("import"),
                              QStringLiteral("invalid delimiter '%1' (use %2)")
                                  .arg(options.csvDelimiter, delimiters.join(QStringLiteral(", "))));
    }

    auto [store, project] = cli::openChosenProject(context, invocation);
    if (!store)
        return cli::ExitFailure;

    QString error;
    if (excel) {
        // The dialog stores the worksheet chosen in its list, which starts at
        // the one the reader takes by default: the first visible one.
        options.worksheetName = invocation.value(worksheetOption);
        if (options.worksheetName.isEmpty()) {
            const QList<WorksheetEntry> sheets = listWorksheets(file, &error);
            if (sheets.isEmpty())
                return context.fail(QStringLiteral("Excel workbook could not be read: %1").arg(error));
            options.worksheetName = sheets.at(defaultWorksheetIndex(sheets)).name;
        }
    }

    const std::optional<DataSource> source = upsertDataSource(*store, project.id, file, options, &error);
    if (!source)
        return context.fail(QStringLiteral("Variable data import failed: %1").arg(error));
    context.out() << QStringLiteral("Imported data source %1: %2 (%3 rows)")
                         .arg(QString::number(source->id), source->displayName,
                              QString::number(store->countDataSourceRecords(source->id)))
                  << '\n';

    // The first file imported into a project becomes its live data file.
    if (project.dataSourcePath.isEmpty()) {
        project.dataSourcePath = source->filePath;
        if (!store->updateProject(project, &error))
            return context.fail(QStringLiteral("Could not save data-source settings: %1").arg(error));
    }
    return cli::ExitSuccess;
}

// Opens the workspace and loads the chosen project's data files; on failure
// the message is printed and `store` stays null.
struct ProjectSources
{
    ProjectStore *store = nullptr;
    QList<DataSource> sources;
};

ProjectSources openProjectSources(CliContext &context, const CliInvocation &invocation)
{
    const auto [store, project] = cli::openChosenProject(context, invocation);
    if (!store)
        return {};
    QString error;
    QList<DataSource> sources = store->loadDataSources(project.id, &error);
    if (!error.isEmpty()) {
        context.fail(QStringLiteral("Could not read data sources: %1").arg(error));
        return {};
    }
    return {store, std::move(sources)};
}

int sourcesCommand(CliContext &context, const CliInvocation &invocation)
{
    const auto [store, sources] = openProjectSources(context, invocation);
    if (!store)
        return cli::ExitFailure;

    if (invocation.isSet(jsonOption)) {
        for (const DataSource &source : sources)
            context.out() << jsonLine(sourceJson(source, store->countDataSourceRecords(source.id))) << '\n';
        return cli::ExitSuccess;
    }

    TablePrinter table;
    table.addColumn(QStringLiteral("ID"), TablePrinter::Alignment::Right);
    table.addColumn(QStringLiteral("Rows"), TablePrinter::Alignment::Right);
    table.addColumn(QStringLiteral("Name"));
    table.addColumn(QStringLiteral("Path"));
    for (const DataSource &source : sources) {
        table.addRow({QString::number(source.id), QString::number(store->countDataSourceRecords(source.id)),
                      source.displayName, nativePath(source.filePath)});
    }
    context.out() << table.toString();
    return cli::ExitSuccess;
}

// Like the live sync: every file re-read in order; one that fails keeps its
// stored rows and does not stop the others.
int refreshCommand(CliContext &context, const CliInvocation &invocation)
{
    const auto [store, sources] = openProjectSources(context, invocation);
    if (!store)
        return cli::ExitFailure;
    QString error;
    bool failed = false;
    for (const DataSource &source : sources) {
        if (reloadDataSource(*store, source.id, &error)) {
            context.out() << QStringLiteral("Refreshed %1: %2 rows")
                                 .arg(source.displayName, QString::number(store->countDataSourceRecords(source.id)))
                          << '\n';
        } else {
            context.fail(QStringLiteral("Could not refresh %1 (%2): %3")
                             .arg(source.displayName, nativePath(source.filePath), error));
            failed = true;
        }
    }
    return failed ? cli::ExitFailure : cli::ExitSuccess;
}

int recordsCommand(CliContext &context, const CliInvocation &invocation)
{
    qsizetype limit = -1;
    if (invocation.isSet(limitOption)) {
        const QString text = invocation.value(limitOption);
        bool ok = cli::isDigits(text);
        if (ok)
            limit = text.toLongLong(&ok);
        if (!ok)
            return usageError(context, QStringLiteral("records"),
                              QStringLiteral("invalid limit '%1' (use a whole number, 0 or more)").arg(text));
    }

    const auto [store, project] = cli::openChosenProject(context, invocation);
    if (!store)
        return cli::ExitFailure;
    CardTable records;
    if (invocation.isSet(preparedOption)) {
        std::optional<ProjectCards> cards = loadProjectCards(context, *store, project.id);
        if (!cards)
            return cli::ExitFailure;
        // A viewing command: the cards are shown as the preview shows them,
        // with the rejected prize fields left out and named on stderr.
        for (const QString &line : std::as_const(cards->scratchErrors))
            context.err() << line << '\n';
        records = std::move(cards->records);
    } else {
        QString error;
        records = loadProjectRecords(*store, project.id, nullptr, &error);
        if (!error.isEmpty())
            return context.fail(QStringLiteral("Data Read Failed: %1").arg(error));
    }

    const qsizetype count = limit < 0 ? records.size() : std::min(limit, records.size());
    for (qsizetype i = 0; i < count; ++i)
        context.out() << jsonLine(records.object(i)) << '\n';
    return cli::ExitSuccess;
}

// Reads the workbook only; the database is not opened.
int worksheetsCommand(CliContext &context, const CliInvocation &invocation)
{
    QString error;
    const QList<WorksheetEntry> sheets = listWorksheets(invocation.arguments.first(), &error);
    if (sheets.isEmpty())
        return context.fail(QStringLiteral("Excel workbook could not be read: %1")
                                .arg(error.isEmpty() ? QStringLiteral("it has no worksheets") : error));
    for (const WorksheetEntry &sheet : sheets)
        context.out() << worksheetLabel(sheet) << '\n';
    return cli::ExitSuccess;
}

QList<CliCommand> dataCommandTable()
{
    return {
        {
            QStringLiteral("import"),
            QStringLiteral("Import an Excel or CSV file into a project, or re-import it with new options"),
            QStringLiteral("Does what the window's import does: the whole file is read and replaces the\n"
                           "rows stored for it, in one transaction; a file the project already has (same\n"
                           "absolute path) keeps its place and gets the new options. The first file of a\n"
                           "project becomes its live data file. Prints the data source's id, name and rows.\n"
                           "Excel files (.xlsx, .xlsm) take --worksheet (default: the first visible one);\n"
                           "other files are read as CSV and take --encoding and --delimiter (default auto).\n\n")
                + cli::projectChoiceRule(),
            {{QStringLiteral("FILE"), QStringLiteral("The Excel workbook or CSV file")}},
            {
                cli::projectChoiceOption(),
                {worksheetOption, QStringLiteral("NAME"), QStringLiteral("Worksheet of an Excel workbook")},
                {encodingOption, QStringLiteral("ENCODING"),
                 QStringLiteral("CSV encoding: %1").arg(encodings.join(QStringLiteral(", ")))},
                {delimiterOption, QStringLiteral("DELIMITER"),
                 QStringLiteral("CSV delimiter: %1").arg(delimiters.join(QStringLiteral(", ")))},
            },
            &importCommand,
        },
        {
            QStringLiteral("sources"),
            QStringLiteral("List a project's data files in source order"),
            QStringLiteral("Shows id, stored row count, name and path of every data file. With --json,\n"
                           "prints one JSON object per line instead, with the keys id, projectId,\n"
                           "displayName, filePath, sortOrder, worksheetName, csvEncoding, csvDelimiter\n"
                           "and rows.\n\n")
                + cli::projectChoiceRule(),
            {},
            {cli::projectChoiceOption(), {jsonOption, {}, QStringLiteral("Print JSON Lines instead of a table")}},
            &sourcesCommand,
        },
        {
            QStringLiteral("refresh"),
            QStringLiteral("Re-read every data file of a project from disk"),
            QStringLiteral("Re-reads the files in source order with their stored options. A file that\n"
                           "cannot be read is reported on stderr with its name, path and message and\n"
                           "keeps its stored rows; the others are still refreshed, and the exit code is 1.\n\n")
                + cli::projectChoiceRule(),
            {},
            {cli::projectChoiceOption()},
            &refreshCommand,
        },
        {
            QStringLiteral("records"),
            QStringLiteral("Print a project's card records as JSON Lines"),
            QStringLiteral("One compact JSON object per card, in card order: the rows of all data files\n"
                           "combined by row number, each column under its key \"source:ID:COLUMN\" and,\n"
                           "for the first file, also under its bare column name.\n"
                           "With --prepared, the cards as they are printed: with every sequence number\n"
                           "under \"__vdp_sequence_FIELD\" and every scratch-card prize under\n"
                           "\"__scratch_prize_FIELD\" (FIELD the field's id), and as many cards as the\n"
                           "longest prize list needs. A prize field whose configuration is invalid is\n"
                           "left out and named on stderr with its message; the exit code stays 0.\n\n")
                + cli::projectChoiceRule(),
            {},
            {cli::projectChoiceOption(),
             {preparedOption, {}, QStringLiteral("Add the generated sequence numbers and prizes")},
             {limitOption, QStringLiteral("N"), QStringLiteral("Print at most the first N cards")}},
            &recordsCommand,
        },
        {
            QStringLiteral("worksheets"),
            QStringLiteral("List the worksheets of an Excel workbook"),
            QStringLiteral("Prints the worksheet names in workbook order, one per line; a hidden sheet\n"
                           "as \"NAME (hidden)\", a very hidden one as \"NAME (very hidden)\". Does not\n"
                           "open the database."),
            {{QStringLiteral("FILE"), QStringLiteral("The Excel workbook (.xlsx, .xlsm)")}},
            {},
            &worksheetsCommand,
        },
    };
}

} // namespace

QList<CliCommand> dataCommands()
{
    return dataCommandTable();
}
