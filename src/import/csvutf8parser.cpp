#include "import/csvutf8parser.h"

#include <QString>

#include <cstring>
#include <utility>

namespace {

// CsvParser's blank row: one field of nothing but white space (QChar::isSpace).
bool isBlank(QByteArrayView text)
{
    bool ascii = true;
    for (const char byte : text) {
        const auto c = static_cast<uchar>(byte);
        if (c >= 0x80) {
            ascii = false;
            continue;
        }
        if (c != ' ' && (c < '\t' || c > '\r'))
            return false;
    }
    if (ascii)
        return true;
    for (const QChar c : QString::fromUtf8(text)) {
        if (!c.isSpace())
            return false;
    }
    return true;
}

} // namespace

qsizetype utf16Length(QByteArrayView utf8)
{
    const auto *p = reinterpret_cast<const uchar *>(utf8.data());
    const uchar *const end = p + utf8.size();
    qsizetype units = 0;
    while (end - p >= 8) {
        quint64 word;
        std::memcpy(&word, p, 8);
        if ((word & 0x8080808080808080ULL) == 0) {
            units += 8;
            p += 8;
            continue;
        }
        for (int i = 0; i < 8; ++i, ++p)
            units += ((*p & 0xC0) != 0x80) + (*p >= 0xF0);
    }
    for (; p < end; ++p)
        units += ((*p & 0xC0) != 0x80) + (*p >= 0xF0);
    return units;
}

Utf8CsvParser::Utf8CsvParser(char delimiter, CsvRowHandler onRow, qsizetype maxRowText, qsizetype maxCells)
    : m_onRow(std::move(onRow)), m_maxRowText(maxRowText), m_maxCells(maxCells), m_delimiter(delimiter)
{
}

void Utf8CsvParser::feed(QByteArrayView chunk)
{
    const char *p = chunk.data();
    const char *const end = p + chunk.size();
    const char delimiter = m_delimiter;

    while (p < end) {
        if (m_stopped || failed())
            break;
        if (m_skipLineFeed) {
            m_skipLineFeed = false;
            if (*p == '\n') {
                ++p;
                continue;
            }
        }
        if (m_pendingQuote) {
            m_pendingQuote = false;
            if (*p == '"') {
                if (!appendToField(p, p + 1))
                    break;
                ++p;
                continue;
            }
            m_state = FieldState::Unquoted;
        }

        if (m_state == FieldState::Quoted) {
            const char *q = static_cast<const char *>(std::memchr(p, '"', size_t(end - p)));
            if (!q)
                q = end;
            bool cr = std::exchange(m_quotedCr, false);
            for (const char *c = p; c < q; ++c) {
                if (*c == '\r' || (*c == '\n' && !cr))
                    ++m_line;
                cr = *c == '\r';
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
            } else if (q[1] == '"') {
                if (!appendToField(q, q + 1))
                    break;
                p = q + 2;
            } else {
                m_state = FieldState::Unquoted;
                p = q + 1;
            }
            continue;
        }

        if (m_state == FieldState::Start && *p == '"') {
            m_state = FieldState::Quoted;
            m_quoteLine = m_line;
            ++p;
            continue;
        }
        const char *q = p;
        while (q < end) {
            const char c = *q;
            if (c == delimiter || c == '\r' || c == '\n')
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
            m_skipLineFeed = *q == '\r';
            ++m_line;
        }
        m_state = FieldState::Start;
        p = q + 1;
    }
}

void Utf8CsvParser::finish()
{
    if (m_pendingQuote)
        m_state = FieldState::Unquoted;
    if (!m_stopped && !failed()) {
        if (m_state == FieldState::Quoted) {
            stop(Failure::UnclosedQuote);
        } else {
            const qsizetype fieldStart = m_ends.isEmpty() ? 0 : m_ends.constLast();
            if (m_text.size() > fieldStart || !m_ends.isEmpty()) {
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

// Checked before the text is copied, as CsvParser checks it.
bool Utf8CsvParser::appendToField(const char *begin, const char *end)
{
    if (begin == end)
        return true;
    const qsizetype fieldText = m_fieldUnits + utf16Length(QByteArrayView(begin, end));
    if (fieldText > m_maxRowText) {
        stop(Failure::FieldTooLarge);
        return false;
    }
    if (m_rowUnits + fieldText > m_maxRowText) {
        stop(Failure::RowTooLarge);
        return false;
    }
    m_text.append(begin, end - begin);
    m_fieldUnits = fieldText;
    return true;
}

void Utf8CsvParser::endField()
{
    if (m_ends.size() >= CsvParser::maxColumns) {
        stop(Failure::TooManyColumns);
        return;
    }
    m_ends.append(m_text.size());
    m_units.append(m_fieldUnits);
    m_rowUnits += m_fieldUnits;
    m_fieldUnits = 0;
}

void Utf8CsvParser::endRow()
{
    if (failed())
        return;
    const qsizetype width = m_ends.size();
    const bool blank = width == 1 && isBlank(QByteArrayView(m_text.constData(), m_ends.constFirst()));
    if (!blank) {
        m_cells += width;
        if (m_cells > m_maxCells) {
            stop(Failure::TooManyCells);
            return;
        }
        ++m_rowsKept;
        if (!m_onRow(CsvRowView(m_text.constData(), m_ends.constData(), m_units.constData(), width)))
            m_stopped = true;
    }
    m_text.resize(0);
    m_ends.resize(0);
    m_units.resize(0);
    m_rowUnits = 0;
}

void Utf8CsvParser::stop(Failure failure)
{
    m_failure = failure;
    m_text = QByteArray();
    m_ends = QList<qsizetype>();
    m_units = QList<qsizetype>();
    m_fieldUnits = m_rowUnits = 0;
}
