#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

// Code 128 symbol values of one text. The encoder never switches code sets
// inside a symbol: an even number of digits is all Code Set C, any other text
// all Code Set B.
struct Code128Encoding
{
    bool ok = false;
    QList<int> values; // start, data values, check value, stop; empty on failure
    QString text;      // the trimmed data text; empty on failure
    QString error;     // empty on success
};

inline constexpr int code128StartB = 104;
inline constexpr int code128StartC = 105;
inline constexpr int code128Stop = 106;

Code128Encoding encodeCode128(const QString &data);

// The element widths of symbol value 0 … 106 as ASCII digits '1' … '4',
// alternating bar, space, bar, … from a bar: six digits totalling 11 modules,
// seven totalling 13 for the stop value. Empty for any other value.
QByteArrayView code128Widths(int value);

// The symbol as '1' (bar) and '0' (space) modules from the first bar to the
// last, without quiet zones; empty when a value is out of range.
QString code128Modules(const QList<int> &values);
