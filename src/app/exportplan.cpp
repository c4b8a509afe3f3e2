#include "app/exportplan.h"

#include "model/elementlimits.h"
#include "model/fieldvalues.h"
#include "render/backgroundimage.h"
#include "store/projectstore.h"
#include "store/recordassembly.h"

#include <QColor>
#include <QDir>

namespace {

// One side's background: the caller's image when it holds one, else the file
// at `path`, or a null image when none is set. A background that is set but
// unreadable is an error: cards printed without their artwork are a reprint.
bool sideBackground(const QString &side, const QString &path, QImage *image, PdfExportPlan *plan)
{
    if (!image->isNull() || path.isEmpty())
        return true;
    BackgroundImage background = loadBackgroundImage(path);
    if (background.image.isNull()) {
        plan->errorTitle = QStringLiteral("PDF export failed");
        plan->error = QStringLiteral("the %1 background %2 could not be loaded: %3")
                          .arg(side, QDir::toNativeSeparators(path), background.error);
        return false;
    }
    *image = std::move(background.image);
    return true;
}

} // namespace

// prepareCardRecords keeps only the last failing field's message, but a job
// with two prize fields needs to hear about both: each scratch field is
// prepared on its own as well, so the rule that leaves a field out is the one
// that reports it.
QStringList scratchConfigurationErrors(const QList<TemplateField> &fields, const QString &preparedError)
{
    QStringList lines;
    bool explained = preparedError.isEmpty();
    for (const TemplateField &field : fields) {
        if (field.type != ElementKind::Scratch)
            continue;
        const QString error = prepareCardRecords({}, {field}).error;
        if (error.isEmpty())
            continue;
        lines << QStringLiteral("Scratch card configuration of field \"%1\" (%2, id %3): %4")
                     .arg(field.name, cardSideKey(field.side), QString::number(field.id), error);
        explained = explained || error == preparedError;
    }
    if (!explained)
        lines << QStringLiteral("Scratch card configuration: %1").arg(preparedError);
    return lines;
}

PdfExportPlan planPdfExport(ProjectStore &store, PdfExportSource source)
{
    PdfExportPlan plan;
    const Project &project = source.project;
    const QString exportFailed = QStringLiteral("PDF export failed");

    QString error;
    const QList<TemplateField> fields =
        source.fields ? *source.fields : store.loadRecords<TemplateField>(project.id, &error);
    if (!error.isEmpty()) {
        plan.errorTitle = exportFailed;
        plan.error = error;
        return plan;
    }

    // A sheet at a time, so a long run costs no more memory than a short
    // one; the reader sees the rows as they stand now, whatever the window
    // writes meanwhile.
    if (source.cardsFromStore && !source.cardReader) {
        const QStringList keys = fieldRecordKeys(fields);
        source.cardReader = ProjectCardReader::open(store, project.id, keys, &error);
        if (!source.cardReader && error.isEmpty())
            source.cardRecords = loadProjectRecords(store, project.id, nullptr, &error, &keys);
        if (!error.isEmpty()) {
            plan.errorTitle = QStringLiteral("Data Read Failed");
            plan.error = error;
            return plan;
        }
    }

    // Preparation would leave a rejected prize field out and print a
    // placeholder on its cards; such a batch must not reach the press. Each
    // field is checked on its own, without the records, so this costs next to
    // nothing.
    const QStringList scratchErrors = scratchConfigurationErrors(fields, QString());
    if (!scratchErrors.isEmpty()) {
        plan.errorTitle = QStringLiteral("No PDF written");
        plan.error = QStringLiteral("correct the prize settings first.");
        plan.errorDetails = scratchErrors;
        return plan;
    }

    if (!sideBackground(QStringLiteral("front"), project.backgroundPath, &source.frontBackground, &plan))
        return plan;
    // A single-sided job prints no back, so its back background is not needed.
    if (project.duplex
        && !sideBackground(QStringLiteral("back"), project.backBackgroundPath, &source.backBackground, &plan))
        return plan;

    if (source.cardReader)
        source.cardRecords = CardTable::blank(source.cardReader->cardCount());
    PreparedCards prepared = prepareCardRecords(source.cardRecords, fields);
    source.cardRecords = CardTable();
    if (!prepared.error.isEmpty()) {
        plan.errorTitle = exportFailed;
        plan.error = prepared.error;
        return plan;
    }

    const ImpositionLayout layout{qint32(prepared.records.size()), project.rows, project.columns};
    if (!layout.isValid() || layout.recordCount == 0) {
        plan.errorTitle = QStringLiteral("Unable to Export PDF");
        plan.error = QStringLiteral("Import variable data before exporting.");
        return plan;
    }

    QList<GraphicElement> graphics;
    if (source.graphics) {
        graphics = *source.graphics;
    } else {
        graphics = store.loadRecords<GraphicElement>(project.id, &error);
        if (!error.isEmpty()) {
            plan.errorTitle = exportFailed;
            plan.error = error;
            return plan;
        }
    }

    // A stored value no panel could set (an old or hand-edited database) is
    // refused here, named, rather than printed corrupt or left off the cards.
    if (const std::optional<ElementLimitViolation> bad = templateLimitViolation(fields, graphics)) {
        plan.errorTitle = QStringLiteral("No PDF written");
        plan.error = bad->message();
        return plan;
    }

    PdfExportJob &job = plan.job;
    job.layout = layout;
    job.sheetSizeMm = QSizeF(project.paperWidthMm, project.paperHeightMm);
    job.cardSizeMm = QSizeF(project.cardWidthMm, project.cardHeightMm);
    job.fields = fields;
    job.graphics = graphics;
    job.records = std::move(prepared.records);
    if (source.cardReader) {
        job.cardReader = [reader = std::move(source.cardReader)](const QList<int> &cards, QString *error) {
            return reader->read(cards, error);
        };
    }
    job.cutStack = source.cutStack;
    job.marks.showBorder = project.showImpositionBorder;
    const QColor borderColor(project.impositionBorderColor);
    job.marks.borderColor = borderColor.isValid() ? borderColor : QColor(Qt::black);
    job.marks.showCropMarks = project.showCropMarks;
    job.marks.bleedMm = project.bleedMm;
    job.duplex = project.duplex;
    job.frontBackground = std::move(source.frontBackground);
    job.backBackground = std::move(source.backBackground);
    job.title = project.name;
    return plan;
}
