#include "columnkeys.h"

#include <QStringView>

namespace {

const QLatin1String keyPrefix("source:");

// A key reads "source:<digits>:<column name>". Matched by hand rather than with
// the regular expressions "^source:(\d+):(.*)$": there '.' stops at a line
// break and '$' also matches before a final one, but a header cell may hold
// line breaks, and a name with one must survive the round trip.
struct KeyParts
{
    bool isKey = false;
    QStringView digits;
    QStringView columnName;
};

KeyParts splitKey(const QString &key)
{
    if (!key.startsWith(keyPrefix))
        return {};
    const QStringView rest = QStringView(key).mid(keyPrefix.size());
    qsizetype end = 0;
    while (end < rest.size() && rest.at(end) >= u'0' && rest.at(end) <= u'9')
        ++end;
    if (end == 0 || end == rest.size() || rest.at(end) != u':')
        return {};
    return {true, rest.left(end), rest.mid(end + 1)};
}

} // namespace

QString columnKey(qint64 sourceId, const QString &columnName)
{
    return keyPrefix + QString::number(sourceId) + u':' + columnName;
}

qint64 columnKeySourceId(const QString &key)
{
    const KeyParts parts = splitKey(key);
    if (!parts.isKey)
        return 0;
    // Digits beyond the range of an id name no source.
    bool ok = false;
    const qint64 id = parts.digits.toLongLong(&ok);
    return ok ? id : 0;
}

QString columnKeyColumnName(const QString &key)
{
    const KeyParts parts = splitKey(key);
    return parts.isKey ? parts.columnName.toString() : key;
}
