#include "tableprinter.h"

#include <QTextBoundaryFinder>

#include <algorithm>

void TablePrinter::addColumn(const QString &header, Alignment alignment)
{
    m_headers << header;
    m_alignments << alignment;
}

void TablePrinter::addRow(const QStringList &cells)
{
    QStringList row;
    for (qsizetype i = 0; i < m_headers.size(); ++i)
        row << cellText(cells.value(i));
    m_rows << row;
}

QString TablePrinter::toString() const
{
    QList<qsizetype> widths;
    for (qsizetype column = 0; column < m_headers.size(); ++column) {
        qsizetype width = displayWidth(m_headers.at(column));
        for (const QStringList &row : m_rows)
            width = std::max(width, displayWidth(row.at(column)));
        widths << width;
    }

    QString text = formatLine(m_headers, widths);
    for (const QStringList &row : m_rows)
        text += formatLine(row, widths);
    return text;
}

QString TablePrinter::formatLine(const QStringList &cells, const QList<qsizetype> &widths) const
{
    QString line;
    for (qsizetype column = 0; column < cells.size(); ++column) {
        if (column > 0)
            line += QStringLiteral("  ");
        const QString &cell = cells.at(column);
        const QString padding(widths.at(column) - displayWidth(cell), u' ');
        if (m_alignments.at(column) == Alignment::Right)
            line += padding + cell;
        else
            line += cell + padding;
    }
    while (line.endsWith(u' '))
        line.chop(1);
    return line + u'\n';
}

QString TablePrinter::cellText(const QString &text)
{
    QString cell = text;
    for (QChar &c : cell) {
        if (c.category() == QChar::Other_Control)
            c = u' ';
    }
    return cell;
}

qsizetype TablePrinter::displayWidth(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}
