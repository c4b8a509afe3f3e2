#include "render/pdfexport.h"

#include "model/fieldvalues.h"
#include "render/backgroundimage.h"
#include "store/projectstore.h"

#include <QColor>
#include <QDir>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QIODevice>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

constexpr int kResolution = 300;
constexpr int kPointsPerInch = 72;

QString writeFailedMessage()
{
    return QStringLiteral("Could not create or write the output file");
}

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

// Sits between the PDF writer and the file. The writer streams through a
// QDataStream, which takes a short write (disk full, quota, file-size limit)
// as the end of output and silently drops everything after it, while the file
// reports no error; a truncated PDF would then be committed as a success.
// Any short write is remembered here instead.
class WriteGuard : public QIODevice
{
public:
    explicit WriteGuard(QIODevice *target) : m_target(target) {}

    bool failed() const { return m_failed; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override
    {
        const qint64 written = m_target->write(data, length);
        if (written != length)
            m_failed = true;
        return written;
    }

private:
    QIODevice *m_target;
    bool m_failed = false;
};

PdfExportResult failed(const QString &message)
{
    PdfExportResult result;
    result.error = message;
    return result;
}

} // namespace

PdfExportResult exportImpositionPdf(const PdfExportJob &job, const QString &path,
                                    const PdfExportProgress &progress)
{
    const int pageCount = printPageCount(job.layout, job.duplex);
    // A PDF writer always produces at least one page, so an empty job would
    // come out as a blank sheet reported as a success.
    if (pageCount < 1)
        return failed(pageFailedMessage());

    const QPageSize pageSize(job.sheetSizeMm, QPageSize::Millimeter, QStringLiteral("VDP Paper"),
                             QPageSize::FuzzyMatch);
    // The writer would silently keep its default paper for an invalid size,
    // and it declares pages in whole points, so less than a point is no page.
    if (!pageSize.isValid() || pageSize.sizePoints().isEmpty())
        return failed(pageFailedMessage());

    // Everything is written into a temporary file beside `path`; only commit()
    // puts it in place, so a failure leaves the user's existing file alone.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return failed(writeFailedMessage());

    WriteGuard guard(&file);
    guard.open(QIODevice::WriteOnly);
    QPdfWriter writer(&guard);
    writer.setCreator(QStringLiteral("Vellumor VDP · Variable Data Printing"));
    writer.setTitle(job.title);
    writer.setResolution(kResolution);
    if (!writer.setPageSize(pageSize)
        || !writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter)) {
        file.cancelWriting();
        return failed(pageFailedMessage());
    }

    QPainter painter;
    if (!painter.begin(&writer)) {
        file.cancelWriting();
        return failed(writeFailedMessage());
    }

    // The page as the file declares it, in device units: the fuzzy match may
    // have snapped it to a standard paper, and the writer stores whole points,
    // so the sheet is centred on the paper the press will actually get.
    const QRect pagePoints = writer.pageLayout().fullRectPoints();
    const double unitsPerPoint = double(kResolution) / kPointsPerInch;
    const QRectF target(0, 0, pagePoints.width() * unitsPerPoint, pagePoints.height() * unitsPerPoint);

    SheetComposer composer;
    composer.setMarkOptions(job.marks);
    BlankCodeTally blanks;
    int pagesWritten = 0;
    QString error;
    for (int p = 0; p < pageCount; ++p) {
        const PrintPage page = printPageAt(p, job.duplex);
        SheetData data;
        data.layout = job.layout;
        data.sheetIndex = page.sheet;
        data.sheetSizeMm = job.sheetSizeMm;
        data.cardSizeMm = job.cardSizeMm;
        data.fields = job.fields;
        data.graphics = job.graphics;
        data.records = job.records;
        data.cutStack = job.cutStack;
        data.side = page.back ? QStringLiteral("back") : QStringLiteral("front");
        data.frontBackground = job.frontBackground;
        data.backBackground = job.backBackground;
        data.printPageIndex = p;
        data.printPageCount = pageCount;
        composer.setSheetData(std::move(data));
        composer.paintSheet(painter, target, false);
        blanks.addPage(page.sheet, composer.undrawnRecords());
        ++pagesWritten;

        // A full disk shows as soon as a write fails; painting the rest of a
        // long job would only waste the user's time.
        if (guard.failed() || file.error() != QFileDevice::NoError) {
            error = writeFailedMessage();
            break;
        }
        if (progress)
            progress(p + 1, pageCount);
        if (p == pageCount - 1)
            break;
        if (!writer.newPage()) {
            error = pageFailedMessage();
            break;
        }
    }

    const bool ended = painter.end();
    // QSaveFile::commit() does not look at the flush of its last buffered
    // bytes: on a full disk it would put a truncated PDF in place. Flushing
    // here makes that failure ours to see.
    if (error.isEmpty()
        && (!ended || guard.failed() || !file.flush() || file.error() != QFileDevice::NoError))
        error = writeFailedMessage();
    if (!error.isEmpty()) {
        file.cancelWriting();
        return failed(error);
    }
    if (!file.commit())
        return failed(writeFailedMessage());

    PdfExportResult result;
    result.ok = true;
    result.pageCount = pagesWritten;
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
        if (field.type != QLatin1String("scratch"))
            continue;
        const QString error = prepareCardRecords({}, {field}).error;
        if (error.isEmpty())
            continue;
        lines << QStringLiteral("Scratch card configuration of field \"%1\" (%2, id %3): %4")
                     .arg(field.name, field.side, QString::number(field.id), error);
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
    const QList<TemplateField> fields = source.fields ? *source.fields : store.loadFields(project.id, &error);
    if (!error.isEmpty()) {
        plan.errorTitle = exportFailed;
        plan.error = error;
        return plan;
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

    PreparedCards prepared = prepareCardRecords(std::exchange(source.cardRecords, {}), fields);
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
        graphics = store.loadGraphics(project.id, &error);
        if (!error.isEmpty()) {
            plan.errorTitle = exportFailed;
            plan.error = error;
            return plan;
        }
    }

    PdfExportJob &job = plan.job;
    job.layout = layout;
    job.sheetSizeMm = QSizeF(project.paperWidthMm, project.paperHeightMm);
    job.cardSizeMm = QSizeF(project.cardWidthMm, project.cardHeightMm);
    job.fields = fields;
    job.graphics = graphics;
    // A field shows only what its own keys hold, so each card keeps just
    // those: the rest of a data row (every column twice, under its key and
    // its bare name) would be carried through the whole export for nothing.
    const QStringList keys = fieldRecordKeys(fields);
    const QSet<QString> keySet(keys.cbegin(), keys.cend());
    const auto onlyFieldKeys = [&keySet](const QJsonObject &values) {
        for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
            if (!keySet.contains(it.key()))
                return false;
        }
        return true;
    };
    job.records.reserve(prepared.records.size());
    for (DataRecord &record : prepared.records) {
        // Records loaded with just these keys are taken as they are.
        if (onlyFieldKeys(record.values)) {
            job.records.append(std::exchange(record.values, {}));
            continue;
        }
        QJsonObject card;
        for (const QString &key : std::as_const(keys)) {
            const auto found = record.values.constFind(key);
            if (found != record.values.constEnd())
                card.insert(key, found.value());
        }
        job.records.append(card);
        record.values = QJsonObject(); // released card by card
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
