#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Plain-text table with a header row, columns padded to a common width and
// separated by two spaces. Widths count user-perceived characters, so
// accented and combined letters do not shift the columns.
class TablePrinter
{
public:
    enum class Alignment { Left, Right };

    void addColumn(const QString &header, Alignment alignment = Alignment::Left);
    // Cells beyond the column count are dropped, missing ones are empty.
    void addRow(const QStringList &cells);

    // One line per row, header first, each ending in a newline and without
    // trailing blanks.
    QString toString() const;

    // Control characters (a line break in a project name) would break the
    // layout, so cells show them as spaces.
    static QString cellText(const QString &text);
    static qsizetype displayWidth(const QString &text);

private:
    QString formatLine(const QStringList &cells, const QList<qsizetype> &widths) const;

    QStringList m_headers;
    QList<Alignment> m_alignments;
    QList<QStringList> m_rows;
};
