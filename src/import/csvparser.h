#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <utility>

// The quote-aware state machine of the CSV reader. Text may arrive in chunks
// of any size: a quote, an escaped quote or a CR LF pair split between two
// chunks parses as if the text were whole, so the file is never re-read.
class CsvParser
{
public:
    // `rowLimit` counts finished rows, header included; negative for none.
    // Once it is reached the parser ignores all further text.
    explicit CsvParser(char16_t delimiter, qsizetype rowLimit = -1);

    void feed(QStringView chunk);

    // Ends the field and row left open by the text, as at the end of a file.
    void finish();

    // A row may hold at most this many cells, as many as a worksheet has columns.
    // Without a bound a file of nothing but delimiters would cost tens of bytes
    // of memory per byte of input.
    static constexpr qsizetype maxColumns = 16384;

    bool rowLimitReached() const { return m_rowLimit >= 0 && m_rows.size() >= m_rowLimit; }
    // Set once a row passed maxColumns; the parser then ignores all further text.
    bool tooManyColumns() const { return m_tooManyColumns; }
    const QList<QStringList> &rows() const { return m_rows; }
    QList<QStringList> takeRows() { return std::exchange(m_rows, {}); }
    void reserveRows(qsizetype count) { m_rows.reserve(count); }

private:
    void appendToField(const char16_t *begin, const char16_t *end);
    void flushSlice();
    void endField();
    void endRow();

    // The field being built is m_field followed by the slice
    // [m_sliceBegin, m_sliceEnd) of the chunk being fed. Most fields are a
    // single slice and are copied once, at their exact size; m_field only
    // collects fields broken up by escaped quotes or chunk boundaries.
    QString m_field;
    const char16_t *m_sliceBegin = nullptr;
    const char16_t *m_sliceEnd = nullptr;
    QStringList m_row;
    QList<QStringList> m_rows;
    qsizetype m_rowLimit;
    char16_t m_delimiter;
    bool m_inQuotes = false;
    // A double quote inside quotes ended the last chunk: the next chunk's
    // first character tells a closing quote from an escaped one.
    bool m_pendingQuote = false;
    // The last character was CR, so a following LF belongs to the same line end.
    bool m_skipLineFeed = false;
    bool m_tooManyColumns = false;
};
