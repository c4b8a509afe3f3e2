#include "render/exportpreflight.h"

#include <QLocale>

#include <algorithm>

namespace {

// Slots that reach less than this past the sheet are rounding, not a cut.
constexpr double edgeToleranceMm = 0.001;

const QString frontSide = QStringLiteral("front");
const QString backSide = QStringLiteral("back");

// "249,960", whatever the user's locale: the messages are English.
QString countText(qint64 count)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(count);
}

// "1 card is" / "8 cards are", with the verb agreeing.
QString cardsWith(qint64 count, const QString &singularVerb, const QString &pluralVerb)
{
    if (count == 1)
        return QStringLiteral("1 card ") + singularVerb;
    return countText(count) + QStringLiteral(" cards ") + pluralVerb;
}

// Calls `visit` with each record index the job prints, ascending: a reprint's
// cards, the cards of the chosen sheets, or every card. Only what is printed
// is checked, so a reprint of ten cards costs ten cards here.
template<typename Visit>
void forEachPrintedCard(const PdfExportJob &job, Visit visit)
{
    if (!job.onlyRecords.isEmpty()) {
        for (int card : job.onlyRecords) {
            if (card >= 0 && card < job.layout.recordCount)
                visit(card);
        }
        return;
    }
    if (!job.sheets.isEmpty()) {
        QList<int> cards;
        for (int sheet : printedSheets(job))
            cards += sheetCards(job, sheet);
        std::sort(cards.begin(), cards.end());
        for (int card : std::as_const(cards))
            visit(card);
        return;
    }
    for (int card = 0; card < job.layout.recordCount; ++card)
        visit(card);
}

bool isGenerated(const TemplateField &field)
{
    return field.type == QLatin1String("sequence") || field.type == QLatin1String("scratch");
}

bool sidePrinted(const QString &side, bool duplex)
{
    return side == frontSide || (duplex && side == backSide);
}

// The keys of the data-bound fields on the printed sides, each once. A card
// whose record lacks one of them prints "{{key}}" there (see fieldDisplayText).
QStringList boundKeys(const PdfExportJob &job)
{
    QStringList keys;
    for (const TemplateField &field : job.fields) {
        if (isGenerated(field) || field.dataColumn.isEmpty() || !sidePrinted(field.side, job.duplex))
            continue;
        if (!keys.contains(field.dataColumn))
            keys.append(field.dataColumn);
    }
    return keys;
}

std::optional<PreflightProblem> missingData(const PdfExportJob &job)
{
    const QStringList keys = boundKeys(job);
    if (keys.isEmpty())
        return std::nullopt;
    PreflightProblem problem;
    problem.kind = PreflightProblem::Kind::MissingData;
    // Card order is ascending, so the first cards found are the ones to list.
    // Cards read from the store come in batches, so that a long run is never
    // held whole. Should the store fail, the export itself reports it.
    QList<int> batch;
    bool readable = true;
    const auto check = [&] {
        const std::optional<CardTable> records = readable ? jobRecords(job, batch, nullptr) : std::nullopt;
        readable = records.has_value();
        for (const int card : std::as_const(batch)) {
            if (!records)
                break;
            const bool complete = std::all_of(keys.cbegin(), keys.cend(),
                                              [&](const QString &key) { return records->contains(card, key); });
            if (complete)
                continue;
            if (problem.firstCards.size() < preflightCardsListed)
                problem.firstCards.append(card);
            ++problem.cardCount;
        }
        batch.clear();
    };
    forEachPrintedCard(job, [&](int card) {
        batch.append(card);
        if (batch.size() >= 4096)
            check();
    });
    check();
    if (problem.cardCount == 0)
        return std::nullopt;
    problem.message = cardsWith(problem.cardCount, QStringLiteral("has"), QStringLiteral("have"))
        + QStringLiteral(" data fields with no data and would print {{…}} markers: ")
        + cardLabelList(problem.firstCards, problem.cardCount);
    return problem;
}

// Whether cell `index` of `count` cells of `cellMm`, centred on `lengthMm`
// as the composer centres the grid, reaches past either edge.
bool cellCut(qint64 index, int count, double cellMm, double lengthMm)
{
    const double from = (lengthMm - count * cellMm) / 2 + index * cellMm;
    return from < -edgeToleranceMm || from + cellMm > lengthMm + edgeToleranceMm;
}

std::optional<PreflightProblem> cutOff(const PdfExportJob &job)
{
    const ImpositionLayout &layout = job.layout;
    const QSizeF overflow = gridOverflowMm(job.cardSizeMm, job.sheetSizeMm, layout.rows, layout.columns);
    if (overflow.width() <= 2 * edgeToleranceMm && overflow.height() <= 2 * edgeToleranceMm)
        return std::nullopt;
    if (!layout.isValid())
        return std::nullopt;
    const double cardWidth = job.cardSizeMm.width();
    const double cardHeight = job.cardSizeMm.height();
    const double sheetWidth = job.sheetSizeMm.width();
    const double sheetHeight = job.sheetSizeMm.height();
    const auto columnCut = [&](qint64 column) {
        return cellCut(column, layout.columns, cardWidth, sheetWidth);
    };

    PreflightProblem problem;
    problem.kind = PreflightProblem::Kind::CutOff;
    // A record stands in one slot of one sheet; its back stands in the
    // mirrored column of the same row.
    forEachPrintedCard(job, [&](int card) {
        const qint64 slot = layout.placeOf(card, job.cutStack).slot;
        const qint64 row = slot / layout.columns;
        const qint64 column = slot % layout.columns;
        const bool cut = cellCut(row, layout.rows, cardHeight, sheetHeight) || columnCut(column)
            || (job.duplex && columnCut(layout.columns - 1 - column));
        if (!cut)
            return;
        if (problem.firstCards.size() < preflightCardsListed)
            problem.firstCards.append(card);
        ++problem.cardCount;
    });
    if (problem.cardCount == 0)
        return std::nullopt;

    QStringList excess;
    if (overflow.width() > 2 * edgeToleranceMm)
        excess << QStringLiteral("%1 mm wider").arg(overflow.width(), 0, 'f', 2);
    if (overflow.height() > 2 * edgeToleranceMm)
        excess << QStringLiteral("%1 mm taller").arg(overflow.height(), 0, 'f', 2);
    problem.message = cardsWith(problem.cardCount, QStringLiteral("is"), QStringLiteral("are"))
        + QStringLiteral(" cut off by the sheet edge (the grid is %1 than the sheet): ").arg(excess.join(QStringLiteral(" and ")))
        + cardLabelList(problem.firstCards, problem.cardCount);
    return problem;
}

std::optional<PreflightProblem> emptySide(const PdfExportJob &job, const QString &side, const QImage &background)
{
    const auto onSide = [&side](const auto &element) { return element.side == side; };
    if (!background.isNull() || std::any_of(job.fields.cbegin(), job.fields.cend(), onSide)
        || std::any_of(job.graphics.cbegin(), job.graphics.cend(), onSide))
        return std::nullopt;
    PreflightProblem problem;
    problem.kind = PreflightProblem::Kind::EmptySide;
    forEachPrintedCard(job, [&problem](int card) {
        if (problem.firstCards.size() < preflightCardsListed)
            problem.firstCards.append(card);
        ++problem.cardCount;
    });
    problem.message = QStringLiteral("The %1 side has no fields, graphics or background: every card prints it blank.")
                          .arg(side);
    return problem;
}

} // namespace

QList<PreflightProblem> preflightExport(const PdfExportJob &job)
{
    QList<PreflightProblem> problems;
    if (!job.layout.isValid() || job.layout.recordCount < 1)
        return problems;
    const std::optional<PreflightProblem> found[] = {
        missingData(job),
        cutOff(job),
        emptySide(job, frontSide, job.frontBackground),
        job.duplex ? emptySide(job, backSide, job.backBackground) : std::nullopt,
    };
    for (const std::optional<PreflightProblem> &problem : found) {
        if (problem)
            problems.append(*problem);
    }
    return problems;
}

QString preflightReport(const QList<PreflightProblem> &problems)
{
    QStringList lines;
    lines.reserve(problems.size());
    for (const PreflightProblem &problem : problems)
        lines.append(problem.message);
    return lines.join(u'\n');
}

QSizeF gridOverflowMm(const QSizeF &cardSizeMm, const QSizeF &sheetSizeMm, int rows, int columns)
{
    // Written so that a size that is not a number counts as fitting.
    const auto excess = [](double grid, double sheet) {
        const double over = grid - sheet;
        return over > 0 ? over : 0.0;
    };
    return QSizeF(excess(columns * cardSizeMm.width(), sheetSizeMm.width()),
                  excess(rows * cardSizeMm.height(), sheetSizeMm.height()));
}
