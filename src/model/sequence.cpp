#include "sequence_p.h"

#include <algorithm>

namespace {

// The digits a number without a 4 is made of: a leading digit from the first
// list, every further digit from the second.
constexpr char leadingDigits[] = "12356789";
constexpr char furtherDigits[] = "012356789";

bool containsFour(quint64 number)
{
    for (; number != 0; number /= 10) {
        if (number % 10 == 4)
            return true;
    }
    return false;
}

// Writes `number` in decimal so that it ends just before `end`; returns where
// it starts. Unsigned 128 bits, so that 1 + i·step stays exact for every
// 64-bit card index and 32-bit step instead of overflowing.
char *writeDecimal(unsigned __int128 number, char *end)
{
    constexpr quint64 largest64 = ~quint64(0);
    while (number > largest64) {
        *--end = char('0' + int(number % 10));
        number /= 10;
    }
    // The rest in 64 bits: 128-bit division is a library call.
    quint64 rest = quint64(number);
    do {
        *--end = char('0' + int(rest % 10));
        rest /= 10;
    } while (rest != 0);
    return end;
}

} // namespace

SequenceCursor::SequenceCursor(const TemplateField &field, Path path)
    : m_prefix(field.sequencePrefix),
      m_width(std::clamp(field.sequenceDigits, 1, 18)),
      m_step(std::max<qint64>(field.sequenceStep, 1)),
      m_excludeFour(field.sequenceExcludeFour),
      m_countDirectly(path == Path::Fastest && field.sequenceExcludeFour && m_step == 1)
{
}

QString SequenceCursor::valueAt(qint64 cardIndex)
{
    cardIndex = std::max<qint64>(cardIndex, 0);
    char buffer[digitCapacity];
    char *const end = buffer + digitCapacity;
    const char *start;
    if (!m_excludeFour)
        start = writeDecimal(1 + static_cast<unsigned __int128>(cardIndex) * quint64(m_step), end);
    else if (m_countDirectly)
        start = writeCountedWithoutFour(cardIndex, end);
    else
        start = writeDecimal(byTrial(cardIndex), end);
    return formatted(start, end);
}

// One allocation per value: preparation formats one value per card and field.
QString SequenceCursor::formatted(const char *digits, const char *end) const
{
    const qsizetype length = end - digits;
    const qsizetype padding = std::max<qsizetype>(m_width - length, 0);
    QString text(m_prefix.size() + padding + length, Qt::Uninitialized);
    QChar *out = std::copy(m_prefix.cbegin(), m_prefix.cend(), text.data());
    out = std::fill_n(out, padding, QLatin1Char('0'));
    std::transform(digits, end, out, [](char digit) { return QLatin1Char(digit); });
    return text;
}

// Card k's number among the numbers without a 4, in increasing order: there
// are 8·9^(d−1) of them with d digits, and within one length they are the
// base-9 numerals over the digit lists above. Written out as digits, since the
// numbers of the last cards of the 64-bit range need more than 64 bits.
char *SequenceCursor::writeCountedWithoutFour(qint64 cardIndex, char *end) const
{
    quint64 k = quint64(cardIndex);
    quint64 power = 1; // 9^(d−1)
    int length = 1;
    // k < 2^63 < 8·9^19: the loop ends at 20 digits at most, before 8·9^(d−1)
    // could overflow.
    while (k >= 8 * power) {
        k -= 8 * power;
        power *= 9;
        ++length;
    }
    const quint64 leading = k / power;
    quint64 further = k % power;
    for (int i = 1; i < length; ++i) {
        *--end = furtherDigits[further % 9];
        further /= 9;
    }
    *--end = leadingDigits[leading];
    return end;
}

quint64 SequenceCursor::byTrial(qint64 cardIndex)
{
    if (cardIndex < m_walkedCard) {
        m_walkedCard = 0;
        m_walkedNumber = 1; // 1 has no 4: card 0 is always 1
    }
    // Unsigned, so that a walk beyond 2^63 wraps instead of being undefined;
    // it would take billions of steps to get there.
    quint64 number = m_walkedNumber;
    while (m_walkedCard < cardIndex) {
        do
            number += quint64(m_step);
        while (containsFour(number));
        ++m_walkedCard;
    }
    m_walkedNumber = number;
    return number;
}

QStringList sequenceValuesByTrial(const TemplateField &field, qint64 count)
{
    QStringList values;
    if (count <= 0)
        return values;
    values.reserve(count);
    SequenceCursor cursor(field, SequenceCursor::Path::Trial);
    for (qint64 i = 0; i < count; ++i)
        values.append(cursor.valueAt(i));
    return values;
}
