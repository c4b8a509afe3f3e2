#include "starterdatabase.h"

#include "app/dataimport.h"
#include "model/columnkeys.h"
#include "model/prizes.h"
#include "store/projectstore.h"

#include <QFile>
#include <QFileInfo>
#include <QRectF>
#include <QSqlError>
#include <QSqlQuery>

#include <optional>

namespace {

const QString starterDemoKey = QStringLiteral("starter-template");

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

// SQLite's companions of a database file; a leftover -wal from a crashed run
// would be replayed into the new file.
bool removeDatabaseFiles(const QString &path, QString *error)
{
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")}) {
        QFile file(path + suffix);
        if (file.exists() && !file.remove())
            return fail(error, QStringLiteral("Could not remove %1: %2").arg(file.fileName(), file.errorString()));
    }
    return true;
}

// A 90 x 54 mm card, five rows of two on A4 portrait: 180 x 270 mm of cards
// leave 15 mm at the sides and 13.5 mm at top and bottom for grippers and marks.
// Duplex, so the scratch-card back is part of the example.
std::optional<Project> createStarterProject(ProjectStore &store, QString *error)
{
    std::optional<Project> project = store.createProject(QStringLiteral("Starter Template"), error);
    if (!project)
        return std::nullopt;
    project->cardWidthMm = 90;
    project->cardHeightMm = 54;
    project->paperWidthMm = 210;
    project->paperHeightMm = 297;
    project->rows = 5;
    project->columns = 2;
    project->duplex = true;
    if (!store.updateProject(*project, error))
        return std::nullopt;
    return project;
}

// The sample workbook is imported as the window's import does it, so a new
// data directory shows its records at once. The worksheet name stays empty
// (the first worksheet), so a regenerated workbook cannot leave the source
// pointing at a sheet that is gone. Start-up re-points the source to the
// installed workbook (relinkStarterSampleData), which assumes this is the
// project's only data source.
std::optional<DataSource> addSampleDataSource(ProjectStore &store, Project *project, const QString &sampleDataPath,
                                              QString *error)
{
    std::optional<DataSource> source = upsertDataSource(store, project->id, sampleDataPath, {}, error);
    if (!source)
        return std::nullopt;
    project->dataSourcePath = source->filePath;
    if (!store.updateProject(*project, error))
        return std::nullopt;
    return source;
}

TemplateField starterField(const Project &project, CardSide side, ElementKind type, const QString &name, QRectF boxMm)
{
    TemplateField field;
    field.projectId = project.id;
    field.side = side;
    field.type = type;
    field.name = name;
    field.xMm = boxMm.x();
    field.yMm = boxMm.y();
    field.widthMm = boxMm.width();
    field.heightMm = boxMm.height();
    return field;
}

// One field of every kind the starter can show with its sample data, on a
// 90 x 54 mm card with a 5 mm margin. Front: the member's name and sequence
// number across the top, the city under the name, the member code as Code 128
// and as QR code below.
// Back: the scratch-card prize in the middle and the sequence number again,
// so front and back of a card can be matched after cutting. The prize counts
// add up to the workbook's 40 rows: every card gets exactly one prize.
// Boxes of text fields are about what the editor's fitting gives their
// widest text; barcode and QR boxes are within the editor's fitted limits
// (45 x 14 mm and 25 mm).
QList<TemplateField> starterFields(const Project &project, qint64 sampleSourceId)
{
    constexpr CardSide front = CardSide::Front;
    constexpr CardSide back = CardSide::Back;
    const QString memberCode = columnKey(sampleSourceId, QStringLiteral("Member Code"));
    constexpr TextAlignment left{HorizontalAlignment::Left, VerticalAlignment::Center};
    constexpr TextAlignment centre{HorizontalAlignment::Center, VerticalAlignment::Center};
    constexpr TextAlignment right{HorizontalAlignment::Right, VerticalAlignment::Center};

    TemplateField frontSequence =
        starterField(project, front, ElementKind::Sequence, QStringLiteral("Sequence Number"), {60, 5, 25, 7});
    frontSequence.sequencePrefix = QStringLiteral("No.");
    frontSequence.sequenceDigits = 6;
    frontSequence.fontSizePt = 10;
    frontSequence.alignment = right;

    TemplateField name = starterField(project, front, ElementKind::Text, QStringLiteral("Name"), {5, 5, 52, 9});
    name.dataColumn = columnKey(sampleSourceId, QStringLiteral("Name"));
    name.fontSizePt = 14;
    name.bold = true;
    name.alignment = left;

    TemplateField city = starterField(project, front, ElementKind::Text, QStringLiteral("City"), {5, 15, 52, 7});
    city.dataColumn = columnKey(sampleSourceId, QStringLiteral("City"));
    city.fontSizePt = 10;
    city.alignment = left;

    TemplateField barcode =
        starterField(project, front, ElementKind::Barcode, QStringLiteral("Member Code"), {5, 35, 45, 14});
    barcode.dataColumn = memberCode;
    barcode.barcodeFormat = BarcodeFormat::Code128;
    barcode.barcodeShowText = true;

    TemplateField qrCode =
        starterField(project, front, ElementKind::QrCode, QStringLiteral("Member QR Code"), {63, 27, 22, 22});
    qrCode.dataColumn = memberCode;

    TemplateField prize =
        starterField(project, back, ElementKind::Scratch, QStringLiteral("Prize"), {15, 17, 60, 12});
    prize.scratchMode = ScratchMode::Count;
    prize.scratchPrizesJson = serializePrizes({{QStringLiteral("Free Coffee"), 3},
                                               {QStringLiteral("Cinema Ticket"), 1},
                                               {QStringLiteral("Thanks for Playing"), 36}});
    prize.fontSizePt = 16;
    prize.bold = true;
    prize.alignment = centre;

    TemplateField backSequence =
        starterField(project, back, ElementKind::Sequence, QStringLiteral("Sequence Number"), {30, 42, 30, 7});
    backSequence.sequencePrefix = frontSequence.sequencePrefix;
    backSequence.sequenceDigits = frontSequence.sequenceDigits;
    backSequence.fontSizePt = 9;
    backSequence.alignment = centre;

    return {frontSequence, name, city, barcode, qrCode, prize, backSequence};
}

bool addStarterFields(ProjectStore &store, const Project &project, qint64 sampleSourceId, QString *error)
{
    for (TemplateField field : starterFields(project, sampleSourceId)) {
        if (!store.insertElement(&field, error))
            return false;
    }
    return true;
}

// updateProject never writes demo_key, so the key that start-up upkeep
// recognises the starter project by is set here directly.
bool markAsStarterTemplate(ProjectStore &store, qint64 projectId, QString *error)
{
    return store.execStatement(QStringLiteral("UPDATE projects SET is_demo=0, demo_key='%1' WHERE id=%2")
                                   .arg(starterDemoKey, QString::number(projectId)),
                               error);
}

// The schema leaves the file in WAL mode. Switching back to a rollback journal
// checkpoints the log into the main file, so the shipped file stands alone and
// is copied as one file; the application switches WAL on again when it opens it.
bool makeSelfContained(ProjectStore &store, QString *error)
{
    QSqlQuery query(store.database());
    if (!query.exec(QStringLiteral("PRAGMA journal_mode = DELETE")))
        return fail(error, query.lastError().text());
    const QString mode = query.next() ? query.value(0).toString() : QString();
    if (mode.compare(QStringLiteral("delete"), Qt::CaseInsensitive) != 0)
        return fail(error, QStringLiteral("Could not leave WAL mode (journal mode is '%1')").arg(mode));
    return true;
}

bool populate(ProjectStore &store, const StarterDatabaseOptions &options, QString *error)
{
    if (!store.initializeSchema(error))
        return false;
    std::optional<Project> project = createStarterProject(store, error);
    if (!project)
        return false;
    const std::optional<DataSource> source = addSampleDataSource(store, &*project, options.sampleDataPath, error);
    if (!source)
        return false;
    if (!addStarterFields(store, *project, source->id, error))
        return false;
    if (!markAsStarterTemplate(store, project->id, error))
        return false;
    return makeSelfContained(store, error);
}

} // namespace

bool buildStarterDatabase(const StarterDatabaseOptions &options, QString *error)
{
    if (!QFileInfo(options.sampleDataPath).isFile())
        return fail(error, QStringLiteral("Sample data not found: %1").arg(options.sampleDataPath));

    const QString temporaryPath = options.outputPath + QStringLiteral(".tmp");
    if (!removeDatabaseFiles(temporaryPath, error))
        return false;

    bool populated = false;
    {
        // The store closes its connection when it goes out of scope; the file
        // is complete only after that.
        ProjectStore store;
        populated = store.openDatabase(temporaryPath, error) && populate(store, options, error);
    }
    if (populated && QFile::exists(temporaryPath + QStringLiteral("-wal")))
        populated = fail(error, QStringLiteral("The database still has a write-ahead log after closing"));
    if (!populated) {
        removeDatabaseFiles(temporaryPath, nullptr);
        return false;
    }

    if (!removeDatabaseFiles(options.outputPath, error))
        return false;
    if (!QFile::rename(temporaryPath, options.outputPath))
        return fail(error, QStringLiteral("Could not rename %1 to %2").arg(temporaryPath, options.outputPath));
    return true;
}
