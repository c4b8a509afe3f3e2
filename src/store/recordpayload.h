#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

// The stored form of a data row: one compact JSON object per row, its
// members the file's column names.
namespace recordpayload {

// Every stored row repeats every column name, so a long header or a text
// the file holds once (an Excel shared string) is written once per row: a
// small file could ask for terabytes. This much text, counted before
// escaping (in UTF-16 code units), is as much as one import may store.
constexpr qint64 maxStoredText = qint64(4) * 1024 * 1024 * 1024;

QString storedTextTooLargeMessage();

// Appends `text` as a JSON string. The escapes are the ones QJsonDocument
// writes in compact form: the short escapes for quote, backslash, \b \f \n
// \r \t, \u00XX for the other control characters (NUL included, so no raw NUL
// ever reaches SQLite), a surrogate without its partner as \uXXXX (so the
// cell reads back exactly and the stored text stays valid UTF-8), and
// everything else as it is, with one exception: QJsonDocument's parser drops
// a raw U+FEFF (byte order mark) at the start of a string, so it is always
// written as \ufeff.
void appendJsonString(QString &out, QStringView text);

// The same escapes for well-formed UTF-8 text, written as UTF-8. Such text
// holds no lone surrogate; a U+FEFF is written as \ufeff.
void appendJsonStringUtf8(QByteArray &out, QByteArrayView text);

// The members of every stored row of one file: each distinct header name
// once, taking the cell of its last column (a repeated name keeps the later
// column's cell). Members are written in QJsonObject's own key order, so a
// stored row is byte for byte what QJsonDocument would write for it (but for
// the escaped byte order mark).
struct PayloadLayout
{
    struct Member
    {
        QString prefix; // "name": (the name escaped)
        qsizetype column = 0;
    };
    QList<Member> members;
    qsizetype fixedLength = 2; // braces, member names, quotes and commas
};

PayloadLayout payloadLayout(const QStringList &header);

} // namespace recordpayload
