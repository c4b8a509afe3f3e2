#include "render/blankcodetally.h"

#include "render/pdfexport.h"

#include <algorithm>
#include <iterator>
#include <utility>

void BlankCodeTally::addPage(int sheet, const QList<int> &undrawn)
{
    if (sheet != m_sheet) {
        flush();
        m_sheet = sheet;
    }
    QList<int> merged;
    merged.reserve(m_sheetCards.size() + undrawn.size());
    std::set_union(m_sheetCards.cbegin(), m_sheetCards.cend(), undrawn.cbegin(), undrawn.cend(),
                   std::back_inserter(merged));
    m_sheetCards = std::move(merged);
}

void BlankCodeTally::finish(PdfExportResult *result)
{
    flush();
    result->blankCodeCardCount = m_count;
    result->blankCodeCards = m_listed;
}

void BlankCodeTally::absorb(BlankCodeTally &other)
{
    other.flush();
    flush();
    m_count += other.m_count;
    QList<int> merged;
    std::merge(m_listed.cbegin(), m_listed.cend(), other.m_listed.cbegin(), other.m_listed.cend(),
               std::back_inserter(merged));
    m_listed = merged.mid(0, blankCodeCardsListed);
}

void BlankCodeTally::flush()
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
