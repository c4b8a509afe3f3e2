#pragma once

#include "import/csvparser.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <functional>

// One finished row of Utf8CsvParser: its cells as UTF-8 spans into the
// parser's buffer, valid only during the call that receives the row.
class CsvRowView
{
public:
    CsvRowView(const char *text, const qsizetype *ends, const qsizetype *units, qsizetype count)
        : m_text(text), m_ends(ends), m_units(units), m_count(count)
    {
    }
    qsizetype size() const { return m_count; }
    QByteArrayView cell(qsizetype i) const
    {
        const qsizetype begin = i == 0 ? 0 : m_ends[i - 1];
        return QByteArrayView(m_text + begin, m_ends[i] - begin);
    }
    // The cell's length in UTF-16 code units, as the text limits count it.
    qsizetype units(qsizetype i) const { return m_units[i]; }

private:
    const char *m_text;
    const qsizetype *m_ends;
    const qsizetype *m_units;
    qsizetype m_count;
};

// Receives each kept row; returns false to stop the parser.
using CsvRowHandler = std::function<bool(const CsvRowView &row)>;

// The length in UTF-16 code units of valid UTF-8 text.
qsizetype utf16Length(QByteArrayView utf8);

// CsvParser's state machine over UTF-8 bytes: the same rows, blank-line
// rule and limits (counted in UTF-16 code units, as CsvParser counts them),
// but each row goes to a handler as byte spans instead of being kept as
// QStrings. The text fed must be valid UTF-8 whose chunks end on character
// boundaries.
class Utf8CsvParser
{
public:
    using Failure = CsvParser::Failure;

    Utf8CsvParser(char delimiter, CsvRowHandler onRow, qsizetype maxRowText = CsvParser::defaultMaxRowText,
                  qsizetype maxCells = CsvParser::defaultMaxCells);

    void feed(QByteArrayView chunk);
    // At the end of the file: a quoted part still open fails, and its row is
    // not handed out.
    void finish();

    Failure failure() const { return m_failure; }
    bool failed() const { return m_failure != Failure::None; }
    // The handler asked to stop.
    bool stopped() const { return m_stopped; }
    qsizetype rowsKept() const { return m_rowsKept; }
    // As CsvParser::quoteLine.
    qsizetype quoteLine() const { return m_quoteLine; }

private:
    bool appendToField(const char *begin, const char *end);
    void endField();
    void endRow();
    void stop(Failure failure);

    enum class FieldState : quint8 { Start, Unquoted, Quoted }; // as in CsvParser

    CsvRowHandler m_onRow;
    // The finished fields of the row, then the field being built.
    QByteArray m_text;
    QList<qsizetype> m_ends;
    QList<qsizetype> m_units;
    qsizetype m_fieldUnits = 0;
    qsizetype m_rowUnits = 0;
    qsizetype m_cells = 0;
    qsizetype m_rowsKept = 0;
    qsizetype m_maxRowText;
    qsizetype m_maxCells;
    char m_delimiter;
    FieldState m_state = FieldState::Start;
    bool m_pendingQuote = false;
    bool m_skipLineFeed = false;
    bool m_quotedCr = false;
    qsizetype m_line = 1;
    qsizetype m_quoteLine = 0;
    bool m_stopped = false;
    Failure m_failure = Failure::None;
};
