#include "render/exportjob.h"

#include "render/jobselection.h"

#include <algorithm>

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
