#include "render/exportpreflight.h"

#include "model/fieldvalues.h"

#include <QLocale>

#include <algorithm>

namespace {

// Slots that reach less than this past the sheet are rounding, not a cut.
constexpr double edgeToleranceMm = 0.001;

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

bool sidePrinted(CardSide side, bool duplex)
{
    return side == CardSide::Front || duplex;
}

// The keys of the data-bound fields on the printed sides, each once. A card
// whose record lacks one of them prints "{{key}}" there (see fieldDisplayText).
QStringList boundKeys(const PdfExportJob &job)
{
    QStringList keys;
    for (const TemplateField &field : job.fields) {
        if (isGenerated(field.type) || field.dataColumn.isEmpty() || !sidePrinted(field.side, job.duplex))
            continue;
        if (!keys.contains(field.dataColumn))
            keys.append(field.dataColumn);
    }
    return keys;
}

// Calls `visit(records, card)` with each printed card, ascending, `records`
// holding its data. Cards read from the store come in batches, so that a long
// run is never held whole. Should the store fail, the walk stops: the export
// itself reports it.
template<typename Visit>
void forEachPrintedRecord(const PdfExportJob &job, Visit visit)
{
    QList<int> batch;
    bool readable = true;
    const auto check = [&] {
        const std::optional<CardTable> records = readable ? jobRecords(job, batch, nullptr) : std::nullopt;
        readable = records.has_value();
        for (const int card : std::as_const(batch)) {
            if (!records)
                break;
            visit(*records, card);
        }
        batch.clear();
    };
    forEachPrintedCard(job, [&](int card) {
        batch.append(card);
        if (batch.size() >= 4096)
            check();
    });
    check();
}

void countCard(PreflightProblem &problem, int card)
{
    // Card order is ascending, so the first cards found are the ones to list.
    if (problem.firstCards.size() < preflightCardsListed)
        problem.firstCards.append(card);
    ++problem.cardCount;
}

// The problems a card's own data causes, found in one pass over the printed
// cards' records, so a long run is read from the store once.
struct RecordProblems
{
    std::optional<PreflightProblem> missingData;
    // A code of nothing (or of spaces) still prints, as a symbol that scans
    // as empty: a press cannot tell it from a good one.
    std::optional<PreflightProblem> blankCode;
};

RecordProblems recordProblems(const PdfExportJob &job)
{
    const QStringList keys = boundKeys(job);
    QList<TemplateField> codes;
    for (const TemplateField &field : job.fields) {
        if (isCodeField(field) && sidePrinted(field.side, job.duplex))
            codes.append(field);
    }
    if (keys.isEmpty() && codes.isEmpty())
        return {};
    PreflightProblem missing;
    missing.kind = PreflightProblem::Kind::MissingData;
    PreflightProblem blank;
    blank.kind = PreflightProblem::Kind::BlankCode;
    forEachPrintedRecord(job, [&](const CardTable &records, int card) {
        const bool complete = std::all_of(keys.cbegin(), keys.cend(),
                                          [&](const QString &key) { return records.contains(card, key); });
        if (!complete)
            countCard(missing, card);
        const RecordValues record(records, card);
        const bool blankCode = std::any_of(codes.cbegin(), codes.cend(), [&](const TemplateField &field) {
            return fieldDisplayText(field, record).trimmed().isEmpty();
        });
        if (blankCode)
            countCard(blank, card);
    });

    RecordProblems found;
    if (missing.cardCount > 0) {
        missing.message = cardsWith(missing.cardCount, QStringLiteral("has"), QStringLiteral("have"))
            + QStringLiteral(" data fields with no data and would print {{…}} markers: ")
            + cardLabelList(missing.firstCards, missing.cardCount);
        found.missingData = missing;
    }
    if (blank.cardCount > 0) {
        blank.message = cardsWith(blank.cardCount, QStringLiteral("has"), QStringLiteral("have"))
            + QStringLiteral(" barcode or QR code data that is empty or only spaces and would scan as nothing: ")
            + cardLabelList(blank.firstCards, blank.cardCount);
        found.blankCode = blank;
    }
    return found;
}

// A prize list shorter than the run leaves the later cards without a prize:
// they print the placeholder. Prizes are dealt from the first card on, so the
// cards with one are the first `length` of the run; the generated prizes are
// in the job's own records whether or not the data comes from the store.
std::optional<PreflightProblem> noPrize(const PdfExportJob &job, const TemplateField &field)
{
    const QString key = scratchPrizeKey(field.id);
    const qsizetype run = job.records.size();
    qsizetype low = 0;
    qsizetype high = run;
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        if (job.records.contains(middle, key))
            low = middle + 1;
        else
            high = middle;
    }
    const qsizetype length = low;
    if (length >= job.layout.recordCount)
        return std::nullopt;
    PreflightProblem problem;
    problem.kind = PreflightProblem::Kind::NoPrize;
    forEachPrintedCard(job, [&](int card) {
        if (card >= length)
            countCard(problem, card);
    });
    if (problem.cardCount == 0)
        return std::nullopt;
    problem.message = cardsWith(problem.cardCount, QStringLiteral("has"), QStringLiteral("have"))
        + QStringLiteral(" no prize in scratch field \"%1\" (%2, id %3): its prize list holds %4 of %5 cards, "
                         "the others print \"%6\": ")
              .arg(field.name, cardSideKey(field.side), QString::number(field.id), countText(length),
                   countText(job.layout.recordCount), fieldDisplayText(field, {}))
        + cardLabelList(problem.firstCards, problem.cardCount);
    return problem;
}

// Whether a rectangle of the card lies wholly off it: no card prints it.
bool whollyOutside(double x, double y, double width, double height, const QSizeF &card)
{
    return x >= card.width() || y >= card.height() || x + std::max(width, 0.0) < 0
        || y + std::max(height, 0.0) < 0;
}

std::optional<PreflightProblem> outsideCard(const PdfExportJob &job)
{
    QStringList elements;
    for (const TemplateField &field : job.fields) {
        if (sidePrinted(field.side, job.duplex)
            && whollyOutside(field.xMm, field.yMm, field.widthMm, field.heightMm, job.cardSizeMm))
            elements << QStringLiteral("field \"%1\" (%2, id %3)")
                            .arg(field.name, cardSideKey(field.side))
                            .arg(field.id);
    }
    for (const GraphicElement &graphic : job.graphics) {
        if (sidePrinted(graphic.side, job.duplex)
            && whollyOutside(graphic.xMm, graphic.yMm, graphic.widthMm, graphic.heightMm, job.cardSizeMm))
            elements << QStringLiteral("graphic %1 (%2, id %3)")
                            .arg(elementKindKey(graphic.type), cardSideKey(graphic.side))
                            .arg(graphic.id);
    }
    if (elements.isEmpty())
        return std::nullopt;
    PreflightProblem problem;
    problem.kind = PreflightProblem::Kind::OutsideCard;
    forEachPrintedCard(job, [&problem](int card) { countCard(problem, card); });
    const QString subject = elements.size() == 1 ? QStringLiteral("1 object lies")
                                                 : QStringLiteral("%1 objects lie").arg(elements.size());
    problem.message = QStringLiteral("%1 wholly outside the %2 × %3 mm card and print%4 on no card: %5")
                          .arg(subject)
                          .arg(job.cardSizeMm.width())
                          .arg(job.cardSizeMm.height())
                          .arg(elements.size() == 1 ? QStringLiteral("s") : QString())
                          .arg(elements.join(QStringLiteral(", ")));
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
        if (cut)
            countCard(problem, card);
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

std::optional<PreflightProblem> emptySide(const PdfExportJob &job, CardSide side, const QImage &background)
{
    const auto onSide = [side](const auto &element) { return element.side == side; };
    if (!background.isNull() || std::any_of(job.fields.cbegin(), job.fields.cend(), onSide)
        || std::any_of(job.graphics.cbegin(), job.graphics.cend(), onSide))
        return std::nullopt;
    PreflightProblem problem;
    problem.kind = PreflightProblem::Kind::EmptySide;
    forEachPrintedCard(job, [&problem](int card) { countCard(problem, card); });
    problem.message = QStringLiteral("The %1 side has no fields, graphics or background: every card prints it blank.")
                          .arg(cardSideKey(side));
    return problem;
}

} // namespace

QList<PreflightProblem> preflightExport(const PdfExportJob &job)
{
    QList<PreflightProblem> problems;
    if (!job.layout.isValid() || job.layout.recordCount < 1)
        return problems;
    const RecordProblems fromRecords = recordProblems(job);
    QList<std::optional<PreflightProblem>> found{fromRecords.missingData};
    for (const TemplateField &field : job.fields) {
        if (field.type == ElementKind::Scratch && sidePrinted(field.side, job.duplex))
            found.append(noPrize(job, field));
    }
    found << fromRecords.blankCode << cutOff(job) << outsideCard(job)
          << emptySide(job, CardSide::Front, job.frontBackground)
          << (job.duplex ? emptySide(job, CardSide::Back, job.backBackground) : std::nullopt);
    for (const std::optional<PreflightProblem> &problem : std::as_const(found)) {
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
