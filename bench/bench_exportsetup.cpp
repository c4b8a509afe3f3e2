// bench-exportsetup: makes the export benchmark's project in a fresh data
// directory, the way a user's workspace holds it, so that the command-line
// tool's export can then be timed on its own.
//
//   bench-exportsetup DATA_DIR CSV_FILE single|duplex
//
// The workspace is opened as the window and the command-line tool open it
// (seeded from the starter database), then a project named "Export benchmark"
// is added: 90 × 54 mm cards, 4 × 4 on a 420 × 297 mm sheet (the project
// defaults), with
//   front: the sequence number, Name and City, a Code 128 and a QR code of the
//          12-digit Code column;
//   back (duplex only): a scratch prize drawn "By Card Count" and the sequence
//          number again.
// The prize counts add up to the number of rows of CSV_FILE, so the batch is
// exactly one card per row. The CSV is attached as the command-line tool's
// `import` attaches it.
//
// Prints one line "project=NAME id=ID cards=N sides=S fields=F". Exit code 0
// on success, 1 on any failure (with a message on stderr), 2 on a wrong
// command line.

#include "app/dataimport.h"
#include "app/workspace.h"
#include "store/projectstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QString>

#include <cstdio>
#include <optional>

namespace {

const QString projectName = QStringLiteral("Export benchmark");
// Present here, so both tools print with the same face and no font fallback
// search is timed.
const QString fontFamily = QStringLiteral("DejaVu Sans");

int usage()
{
    std::fputs("usage: bench-exportsetup DATA_DIR CSV_FILE single|duplex\n", stderr);
    return 2;
}

int fail(const QString &message)
{
    std::fprintf(stderr, "bench-exportsetup: %s\n", qPrintable(message));
    return 1;
}

TemplateField textField(CardSide side, ElementKind type, const QString &name, double x, double y,
                        double width, double height, double sizePt, bool bold)
{
    TemplateField field;
    field.side = side;
    field.type = type;
    field.name = name;
    field.xMm = x;
    field.yMm = y;
    field.widthMm = width;
    field.heightMm = height;
    field.fontFamily = fontFamily;
    field.fontSizePt = sizePt;
    field.bold = bold;
    field.alignment = {HorizontalAlignment::Left, VerticalAlignment::Center};
    return field;
}

TemplateField boundField(ElementKind type, const QString &column, double x, double y, double width,
                         double height, double sizePt)
{
    TemplateField field = textField(CardSide::Front, type, column, x, y, width, height, sizePt, false);
    field.dataColumn = column; // the bare column name binds to the first data file
    return field;
}

// One car, a bike per hundred cards, a voucher per ten, and "Thanks for
// Playing" on every other card: the counts add up to `cards`.
QString prizesJson(int cards)
{
    const int bikes = cards / 100;
    const int vouchers = cards / 10;
    return QStringLiteral(R"([{"name":"Car","value":1},{"name":"Bike","value":%1},)"
                          R"({"name":"Voucher","value":%2},{"name":"Thanks for Playing","value":%3}])")
        .arg(bikes)
        .arg(vouchers)
        .arg(cards - 1 - bikes - vouchers);
}

QList<TemplateField> benchmarkFields(bool duplex, int cards)
{
    constexpr CardSide front = CardSide::Front;
    QList<TemplateField> fields{
        textField(front, ElementKind::Sequence, QStringLiteral("Sequence"), 5, 4, 40, 7, 11, true),
        boundField(ElementKind::Text, QStringLiteral("Name"), 5, 12, 55, 7, 10),
        boundField(ElementKind::Text, QStringLiteral("City"), 5, 19, 55, 6, 9),
        boundField(ElementKind::Barcode, QStringLiteral("Code"), 5, 31, 55, 16, 10),
        boundField(ElementKind::QrCode, QStringLiteral("Code"), 63, 23, 24, 24, 10),
    };
    fields[3].barcodeFormat = BarcodeFormat::Code128;
    if (duplex) {
        constexpr CardSide back = CardSide::Back;
        TemplateField scratch =
            textField(back, ElementKind::Scratch, QStringLiteral("Prize"), 10, 18, 70, 12, 14, true);
        scratch.alignment = {}; // centred
        scratch.scratchMode = ScratchMode::Count;
        scratch.scratchPrizesJson = prizesJson(cards);
        fields.append(scratch);
        fields.append(textField(back, ElementKind::Sequence, QStringLiteral("Sequence"), 5, 44, 40, 6, 9, false));
    }
    return fields;
}

int setUp(const QString &dataDirectory, const QString &csvPath, bool duplex)
{
    if (!QFileInfo(csvPath).isFile())
        return fail(QStringLiteral("no such file: %1").arg(csvPath));
    // Timings of a workspace that already holds other projects or rows would
    // not compare from run to run.
    const WorkspacePaths paths = workspacePaths(resolveDataDirectory(dataDirectory), defaultStarterDirectory());
    if (QFileInfo::exists(paths.databasePath))
        return fail(QStringLiteral("%1 already holds a database; give a fresh data directory").arg(dataDirectory));

    ProjectStore store;
    if (const std::optional<StartupFailure> failure = openWorkspace(store, paths))
        return fail(QStringLiteral("%1: %2").arg(failure->title, failure->text));

    QString error;
    std::optional<Project> project = store.createProject(projectName, &error);
    if (!project)
        return fail(QStringLiteral("could not create the project: %1").arg(error));
    project->duplex = duplex;

    DataSourceOptions options;
    options.csvEncoding = QStringLiteral("utf-8");
    options.csvDelimiter = QStringLiteral("comma");
    const std::optional<DataSource> source =
        upsertDataSource(store, project->id, QFileInfo(csvPath).absoluteFilePath(), options, &error);
    if (!source)
        return fail(QStringLiteral("could not import %1: %2").arg(csvPath, error));
    const int cards = store.countDataSourceRecords(source->id);
    if (cards < 1)
        return fail(QStringLiteral("%1 holds no data rows").arg(csvPath));
    project->dataSourcePath = source->filePath;
    if (!store.updateProject(*project, &error))
        return fail(QStringLiteral("could not save the project: %1").arg(error));

    const QList<TemplateField> fields = benchmarkFields(duplex, cards);
    for (TemplateField field : fields) {
        field.projectId = project->id;
        if (!store.insertElement(&field, &error))
            return fail(QStringLiteral("could not add the field %1: %2").arg(field.name, error));
    }

    std::printf("project=%s id=%lld cards=%d sides=%d fields=%lld\n", qPrintable(projectName),
                static_cast<long long>(project->id), cards, duplex ? 2 : 1, static_cast<long long>(fields.size()));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 3 || (args[2] != QLatin1String("single") && args[2] != QLatin1String("duplex")))
        return usage();
    return setUp(QDir(args[0]).absolutePath(), args[1], args[2] == QLatin1String("duplex"));
}
