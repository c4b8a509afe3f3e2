#include "barcode/linearcodes.h"

#include <QList>

#include <array>

namespace {

struct Code39Character
{
    char character;
    const char pattern[10]; // 9 elements, bar first, alternating: n narrow, w wide
};

// The 43 data characters and the start/stop character '*'.
// Code 39 patterns checked against ISO/IEC 16388.
constexpr std::array<Code39Character, 44> kCode39Table = {{
    {'0', "nnnwwnwnn"}, {'1', "wnnwnnnnw"}, {'2', "nnwwnnnnw"}, {'3', "wnwwnnnnn"},
    {'4', "nnnwwnnnw"}, {'5', "wnnwwnnnn"}, {'6', "nnwwwnnnn"}, {'7', "nnnwnnwnw"},
    {'8', "wnnwnnwnn"}, {'9', "nnwwnnwnn"}, {'A', "wnnnnwnnw"}, {'B', "nnwnnwnnw"},
    {'C', "wnwnnwnnn"}, {'D', "nnnnwwnnw"}, {'E', "wnnnwwnnn"}, {'F', "nnwnwwnnn"},
    {'G', "nnnnnwwnw"}, {'H', "wnnnnwwnn"}, {'I', "nnwnnwwnn"}, {'J', "nnnnwwwnn"},
    {'K', "wnnnnnnww"}, {'L', "nnwnnnnww"}, {'M', "wnwnnnnwn"}, {'N', "nnnnwnnww"},
    {'O', "wnnnwnnwn"}, {'P', "nnwnwnnwn"}, {'Q', "nnnnnnwww"}, {'R', "wnnnnnwwn"},
    {'S', "nnwnnnwwn"}, {'T', "nnnnwnwwn"}, {'U', "wwnnnnnnw"}, {'V', "nwwnnnnnw"},
    {'W', "wwwnnnnnn"}, {'X', "nwnnwnnnw"}, {'Y', "wwnnwnnnn"}, {'Z', "nwwnwnnnn"},
    {'-', "nwnnnnwnw"}, {'.', "wwnnnnwnn"}, {' ', "nwwnnnwnn"}, {'$', "nwnwnwnnn"},
    {'/', "nwnwnnnwn"}, {'+', "nwnnnwnwn"}, {'%', "nnnwnwnwn"}, {'*', "nwnnwnwnn"},
}};

constexpr char kStartStop = '*';

// Module strings by ASCII code (empty for characters outside the table),
// built once on first use: narrow 1 module, wide 3 (ratio 3 : 1).
const std::array<QString, 128> &code39Modules()
{
    static const std::array<QString, 128> modules = [] {
        std::array<QString, 128> m;
        for (const Code39Character &c : kCode39Table) {
            QString s;
            bool bar = true;
            for (const char *e = c.pattern; *e; ++e) {
                s += QString(*e == 'w' ? 3 : 1, bar ? QLatin1Char('1') : QLatin1Char('0'));
                bar = !bar;
            }
            m[size_t(c.character)] = s;
        }
        return m;
    }();
    return modules;
}

QString describeCharacter(char32_t c)
{
    if (QChar::isPrint(c))
        return QString::fromUcs4(&c, 1);
    return QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

ModuleEncoding encodeCode39(const QString &data)
{
    ModuleEncoding result;
    QString text = data.isEmpty() ? QStringLiteral(" ") : data;
    // Only a … z are upper-cased: other scripts' case mappings (ß → SS, ı → I)
    // would change the data, and none of their letters is a Code 39 character.
    for (QChar &c : text) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    }

    const std::array<QString, 128> &table = code39Modules();
    for (char32_t c : text.toUcs4()) {
        if (c >= table.size() || c == char32_t(kStartStop) || table[c].isEmpty()) {
            result.error = QStringLiteral("Code 39 cannot encode the character %1").arg(describeCharacter(c));
            return result;
        }
    }

    const QString &startStop = table[size_t(kStartStop)];
    QString modules;
    modules.reserve(16 * (text.size() + 2));
    modules += startStop;
    for (QChar c : text) {
        modules += QLatin1Char('0'); // narrow inter-character gap
        modules += table[c.unicode()];
    }
    modules += QLatin1Char('0');
    modules += startStop;

    result.modules = modules;
    result.text = text;
    return result;
}
