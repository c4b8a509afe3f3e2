#include "import/csvparser.h"

namespace {

bool isBlank(const QString &text)
{
    for (QChar c : text) {
        if (!c.isSpace())
            return false;
    }
    return true;
}

} // namespace

CsvParser::CsvParser(char16_t delimiter, qsizetype rowLimit, qsizetype maxRowText, qsizetype maxCells)
    : m_rowLimit(rowLimit), m_maxRowText(maxRowText), m_maxCells(maxCells), m_delimiter(delimiter)
{
}

void CsvParser::feed(QStringView chunk)
{
    const char16_t *p = chunk.utf16();
    const char16_t *const end = p + chunk.size();
    const char16_t delimiter = m_delimiter;

    while (p < end) {
        if (rowLimitReached() || failed())
            break;
        if (m_skipLineFeed) {
            m_skipLineFeed = false;
            if (*p == u'\n') {
                ++p;
                continue;
            }
        }
        if (m_pendingQuote) {
            m_pendingQuote = false;
            if (*p == u'"') {
                if (!appendToField(p, p + 1))
                    break;
                ++p;
                continue;
            }
            // The quote closed the quoted part; *p is read unquoted below.
            m_state = FieldState::Unquoted;
        }

        if (m_state == FieldState::Quoted) {
            // Line breaks inside quotes count for the line an unclosed quote names.
            bool cr = std::exchange(m_quotedCr, false);
            const char16_t *q = p;
            for (; q < end && *q != u'"'; ++q) {
                if (*q == u'\r' || (*q == u'\n' && !cr))
                    ++m_line;
                cr = *q == u'\r';
            }
            if (!appendToField(p, q))
                break;
            if (q == end) {
                m_quotedCr = cr;
                break;
            }
            if (q + 1 == end) {
                m_pendingQuote = true;
                p = end;
            } else if (q[1] == u'"') {
                if (!appendToField(q, q + 1))
                    break;
                p = q + 2;
            } else {
                m_state = FieldState::Unquoted;
                p = q + 1;
            }
            continue;
        }

        if (m_state == FieldState::Start && *p == u'"') {
            m_state = FieldState::Quoted;
            m_quoteLine = m_line;
            ++p;
            continue;
        }
        const char16_t *q = p;
        while (q < end) {
            const char16_t c = *q;
            if (c == delimiter || c == u'\r' || c == u'\n')
                break;
            ++q;
        }
        if (q != p) {
            if (!appendToField(p, q))
                break;
            m_state = FieldState::Unquoted;
        }
        if (q == end)
            break;
        endField();
        if (*q != delimiter) {
            endRow();
            m_skipLineFeed = *q == u'\r';
            ++m_line;
        }
        m_state = FieldState::Start;
        p = q + 1;
    }
    // The chunk's memory belongs to the caller.
    flushSlice();
}

void CsvParser::finish(TextEnd end)
{
    if (m_pendingQuote)
        m_state = FieldState::Unquoted; // the text's last quote closed the quoted part
    if (!rowLimitReached() && !failed()) {
        if (end == TextEnd::File && m_state == FieldState::Quoted) {
            stop(Failure::UnclosedQuote);
        } else {
            flushSlice();
            if (!m_field.isEmpty() || !m_row.isEmpty()) {
                endField();
                endRow();
            }
        }
    }
    m_state = FieldState::Start;
    m_pendingQuote = false;
    m_skipLineFeed = false;
    m_quotedCr = false;
}

// Checked before the text is copied anywhere, so a field never holds more
// than the limit, wherever chunk boundaries and escaped quotes fall.
bool CsvParser::appendToField(const char16_t *begin, const char16_t *end)
{
    if (begin == end)
        return true;
    const qsizetype fieldText = m_field.size() + (m_sliceEnd - m_sliceBegin) + (end - begin);
    if (fieldText > m_maxRowText) {
        stop(Failure::FieldTooLarge);
        return false;
    }
    if (m_rowText + fieldText > m_maxRowText) {
        stop(Failure::RowTooLarge);
        return false;
    }
    if (m_sliceBegin == m_sliceEnd) {
        m_sliceBegin = begin;
    } else if (m_sliceEnd != begin) {
        flushSlice();
        m_sliceBegin = begin;
    }
    m_sliceEnd = end;
    return true;
}

void CsvParser::flushSlice()
{
    if (m_sliceBegin != m_sliceEnd) {
        // Grown by doubling as QString would, but never beyond the limit: a
        // field just under it must not take twice its size.
        const qsizetype needed = m_field.size() + (m_sliceEnd - m_sliceBegin);
        if (needed > m_field.capacity())
            m_field.reserve(qMax(needed, qMin(2 * m_field.capacity(), m_maxRowText)));
        m_field.append(QStringView(m_sliceBegin, m_sliceEnd));
    }
    m_sliceBegin = m_sliceEnd = nullptr;
}

void CsvParser::endField()
{
    if (m_row.size() >= maxColumns) {
        stop(Failure::TooManyColumns);
        return;
    }
    if (!m_field.isEmpty()) {
        flushSlice();
        // A field collected from many pieces keeps the room it grew into.
        if (m_field.capacity() - m_field.size() > 4096)
            m_field.squeeze();
        m_rowText += m_field.size();
        m_row.append(std::exchange(m_field, QString()));
    } else if (m_sliceBegin != m_sliceEnd) {
        m_rowText += m_sliceEnd - m_sliceBegin;
        m_row.append(QStringView(m_sliceBegin, m_sliceEnd).toString());
        m_sliceBegin = m_sliceEnd = nullptr;
    } else {
        // Empty but not null: a null text would be stored as SQL NULL.
        m_row.append(QStringLiteral(""));
    }
}

void CsvParser::endRow()
{
    m_rowText = 0;
    if (m_row.size() == 1 && isBlank(m_row.constFirst())) {
        m_row.clear();
        return;
    }
    const qsizetype width = m_row.size();
    m_cells += width;
    if (m_cells > m_maxCells) {
        stop(Failure::TooManyCells);
        return;
    }
    m_rows.append(std::exchange(m_row, QStringList()));
    // Rows of a file mostly have the same width.
    m_row.reserve(width);
}

void CsvParser::stop(Failure failure)
{
    m_failure = failure;
    m_field = QString();
    m_row = QStringList();
    m_sliceBegin = m_sliceEnd = nullptr;
    m_rowText = 0;
}
