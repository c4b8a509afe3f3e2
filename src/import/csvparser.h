#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <utility>

// The quote-aware state machine of the CSV reader. Text may arrive in chunks
// of any size: a quote, an escaped quote or a CR LF pair split between two
// chunks parses as if the text were whole, so the file is never re-read.
//
// Quotes are read as spreadsheet programs and Python's csv module read
// them: a double quote opens a quoted part only as the first character of a
// field; anywhere else it is an ordinary character (24" display). After the
// quoted part closes, the rest of the field is read unquoted, so "a"b"c"
// is the cell ab"c". A quoted part still open at the end of the file fails
// the read: it would otherwise swallow every row after it.
class CsvParser
{
public:
    // A row may hold at most this many cells, as many as a worksheet has columns.
    // Without a bound a file of nothing but delimiters would cost tens of bytes
    // of memory per byte of input.
    static constexpr qsizetype maxColumns = 16384;
    // The text of one field, and of one row (the header too) as the sum of its
    // fields, in UTF-16 code units. A file's bytes never decode to more code
    // units than there are bytes, so a field of at most 64 MiB in the file is
    // always taken. Without it a file without line breaks (a device, a sparse
    // file of zeros) is held in memory whole.
    static constexpr qsizetype defaultMaxRowText = qsizetype(64) * 1024 * 1024;
    // Cells kept in all, header included: as many as an Excel worksheet may
    // bring. Each costs some 50 bytes beside its text, so a file of short
    // cells would otherwise need about 30 times its size in memory.
    static constexpr qsizetype defaultMaxCells = 16'000'000;

    // Why the parser stopped early; it then ignores all further text.
    enum class Failure { None, TooManyColumns, FieldTooLarge, RowTooLarge, TooManyCells, UnclosedQuote };

    // How the text fed ends. At the end of a file a quoted part still open
    // is a failure; a text cut short (the sample that delimiter detection
    // parses) ends the open field and row where the cut falls.
    enum class TextEnd { File, Cut };

    // `rowLimit` counts finished rows, header included; negative for none.
    // Once it is reached the parser ignores all further text.
    explicit CsvParser(char16_t delimiter, qsizetype rowLimit = -1, qsizetype maxRowText = defaultMaxRowText,
                       qsizetype maxCells = defaultMaxCells);

    void feed(QStringView chunk);

    // Ends the field and row left open by the text.
    void finish(TextEnd end = TextEnd::File);

    bool rowLimitReached() const { return m_rowLimit >= 0 && m_rows.size() >= m_rowLimit; }
    Failure failure() const { return m_failure; }
    bool failed() const { return m_failure != Failure::None; }
    // Set once a row passed maxColumns.
    bool tooManyColumns() const { return m_failure == Failure::TooManyColumns; }
    // With Failure::UnclosedQuote, the 1-based line of the text on which the
    // quote opened; CR LF, CR and LF each end a line, inside quotes too.
    qsizetype quoteLine() const { return m_quoteLine; }
    qsizetype maxRowText() const { return m_maxRowText; }
    qsizetype maxCells() const { return m_maxCells; }
    const QList<QStringList> &rows() const { return m_rows; }
    QList<QStringList> takeRows() { return std::exchange(m_rows, {}); }
    void reserveRows(qsizetype count) { m_rows.reserve(count); }

private:
    bool appendToField(const char16_t *begin, const char16_t *end);
    void flushSlice();
    void endField();
    void endRow();
    void stop(Failure failure);

    enum class FieldState : quint8 {
        Start,    // nothing of the field read yet: a quote here opens a quoted part
        Unquoted, // text read, or a quoted part closed: quotes are text
        Quoted,   // inside a quoted part
    };

    // The field being built is m_field followed by the slice
    // [m_sliceBegin, m_sliceEnd) of the chunk being fed. Most fields are a
    // single slice and are copied once, at their exact size; m_field only
    // collects fields broken up by escaped quotes or chunk boundaries.
    QString m_field;
    const char16_t *m_sliceBegin = nullptr;
    const char16_t *m_sliceEnd = nullptr;
    QStringList m_row;
    // The text of the row's finished fields.
    qsizetype m_rowText = 0;
    QList<QStringList> m_rows;
    qsizetype m_cells = 0;
    qsizetype m_rowLimit;
    qsizetype m_maxRowText;
    qsizetype m_maxCells;
    char16_t m_delimiter;
    FieldState m_state = FieldState::Start;
    // A double quote inside quotes ended the last chunk: the next chunk's
    // first character tells a closing quote from an escaped one.
    bool m_pendingQuote = false;
    // The last character was CR, so a following LF belongs to the same line end.
    bool m_skipLineFeed = false;
    // The same for a CR inside quotes that ended the last chunk.
    bool m_quotedCr = false;
    // The line of the next character, and the one the open quoted part began on.
    qsizetype m_line = 1;
    qsizetype m_quoteLine = 0;
    Failure m_failure = Failure::None;
};
