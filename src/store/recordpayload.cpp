#include "store/recordpayload.h"

#include <QHash>

#include <algorithm>
#include <array>

namespace recordpayload {

namespace {

void appendHexEscape(QString &out, char16_t c)
{
    static constexpr char16_t digits[] = u"0123456789abcdef";
    const char16_t escape[] = {u'\\', u'u', digits[(c >> 12) & 0xF], digits[(c >> 8) & 0xF],
                               digits[(c >> 4) & 0xF], digits[c & 0xF]};
    out.append(reinterpret_cast<const QChar *>(escape), 6);
}

// Bytes that end a run of text copied as it is: the controls, quote,
// backslash, and the lead byte of U+FEFF (EF BB BF).
constexpr std::array<bool, 256> kSpecialUtf8 = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 0x20; ++c)
        table[c] = true;
    table['"'] = table['\\'] = table[0xEF] = true;
    return table;
}();

} // namespace

QString storedTextTooLargeMessage()
{
    return QStringLiteral(
        "The rows of the data file would take more than 4 GiB in the project and cannot be imported safely");
}

void appendJsonString(QString &out, QStringView text)
{
    out.append(u'"');
    const char16_t *data = text.utf16();
    const qsizetype size = text.size();
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = data[i];
        if (c >= 0x20 && c != u'"' && c != u'\\' && !QChar::isSurrogate(c) && c != 0xfeff)
            continue;
        if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(data[i + 1])) {
            ++i;
            continue;
        }
        out.append(reinterpret_cast<const QChar *>(data + runStart), i - runStart);
        runStart = i + 1;
        switch (c) {
        case u'"': out.append(u"\\\""); break;
        case u'\\': out.append(u"\\\\"); break;
        case u'\b': out.append(u"\\b"); break;
        case u'\f': out.append(u"\\f"); break;
        case u'\n': out.append(u"\\n"); break;
        case u'\r': out.append(u"\\r"); break;
        case u'\t': out.append(u"\\t"); break;
        default: appendHexEscape(out, c); break;
        }
    }
    out.append(reinterpret_cast<const QChar *>(data + runStart), size - runStart);
    out.append(u'"');
}

void appendJsonStringUtf8(QByteArray &out, QByteArrayView text)
{
    static constexpr char digits[] = "0123456789abcdef";
    out.append('"');
    const char *data = text.data();
    const qsizetype size = text.size();
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const auto c = static_cast<uchar>(data[i]);
        if (!kSpecialUtf8[c])
            continue;
        if (c == 0xEF) {
            if (i + 2 < size && static_cast<uchar>(data[i + 1]) == 0xBB && static_cast<uchar>(data[i + 2]) == 0xBF) {
                out.append(data + runStart, i - runStart);
                out.append("\\ufeff", 6);
                i += 2;
                runStart = i + 1;
            }
            continue;
        }
        out.append(data + runStart, i - runStart);
        runStart = i + 1;
        switch (c) {
        case '"': out.append("\\\"", 2); break;
        case '\\': out.append("\\\\", 2); break;
        case '\b': out.append("\\b", 2); break;
        case '\f': out.append("\\f", 2); break;
        case '\n': out.append("\\n", 2); break;
        case '\r': out.append("\\r", 2); break;
        case '\t': out.append("\\t", 2); break;
        default: {
            const char escape[] = {'\\', 'u', '0', '0', digits[c >> 4], digits[c & 0xF]};
            out.append(escape, 6);
            break;
        }
        }
    }
    out.append(data + runStart, size - runStart);
    out.append('"');
}

PayloadLayout payloadLayout(const QStringList &header)
{
    QList<std::pair<QString, qsizetype>> lastColumns;
    {
        QHash<QString, qsizetype> position;
        for (qsizetype column = 0; column < header.size(); ++column) {
            const auto found = position.constFind(header.at(column));
            if (found != position.constEnd()) {
                lastColumns[*found].second = column;
            } else {
                position.insert(header.at(column), lastColumns.size());
                lastColumns.append({header.at(column), column});
            }
        }
    }
    // QString's operator< compares UTF-16 code units, as QJsonObject orders its keys.
    std::sort(lastColumns.begin(), lastColumns.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });

    PayloadLayout layout;
    for (const auto &[name, column] : std::as_const(lastColumns)) {
        QString prefix;
        appendJsonString(prefix, name);
        prefix.append(u':');
        layout.fixedLength += prefix.size() + 3; // the value's quotes and a comma
        layout.members.append({prefix, column});
    }
    return layout;
}


} // namespace recordpayload
