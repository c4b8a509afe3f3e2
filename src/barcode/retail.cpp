#include "barcode/linearcodes.h"

#include <algorithm>
#include <array>

namespace {

// EAN/UPC digit codes, 7 modules each: set L (odd parity, left half), set G
// (even parity, left half of EAN-13) and set R (right half).
// Checked against ISO/IEC 15420.
constexpr std::array<const char *, 10> kSetL = {
    "0001101", "0011001", "0010011", "0111101", "0100011",
    "0110001", "0101111", "0111011", "0110111", "0001011",
};
constexpr std::array<const char *, 10> kSetG = {
    "0100111", "0110011", "0011011", "0100001", "0011101",
    "0111001", "0000101", "0010001", "0001001", "0010111",
};
constexpr std::array<const char *, 10> kSetR = {
    "1110010", "1100110", "1101100", "1000010", "1011100",
    "1001110", "1010000", "1000100", "1001000", "1110100",
};

// EAN-13: the first digit is carried by the L/G choice of digits 2 … 7.
// Checked against ISO/IEC 15420.
constexpr std::array<const char *, 10> kFirstDigitParity = {
    "LLLLLL", "LLGLGG", "LLGGLG", "LLGGGL", "LGLLGG",
    "LGGLLG", "LGGGLL", "LGLGLG", "LGLGGL", "LGGLGL",
};

constexpr char kGuard[] = "101";
constexpr char kCentreGuard[] = "01010";

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

int digitAt(const QString &s, qsizetype i)
{
    return s.at(i).unicode() - '0';
}

// Weight 3 for the rightmost data digit, then 1, 3, 1, … moving left.
int checkDigit(QStringView dataDigits)
{
    int sum = 0;
    int weight = 3;
    for (qsizetype i = dataDigits.size() - 1; i >= 0; --i) {
        sum += (dataDigits.at(i).unicode() - '0') * weight;
        weight = 4 - weight;
    }
    return (10 - sum % 10) % 10;
}

QString ean13Modules(const QString &d)
{
    QString m;
    m.reserve(95);
    m += QLatin1String(kGuard);
    const char *parity = kFirstDigitParity[digitAt(d, 0)];
    for (int i = 1; i <= 6; ++i)
        m += QLatin1String(parity[i - 1] == 'G' ? kSetG[digitAt(d, i)] : kSetL[digitAt(d, i)]);
    m += QLatin1String(kCentreGuard);
    for (int i = 7; i <= 12; ++i)
        m += QLatin1String(kSetR[digitAt(d, i)]);
    m += QLatin1String(kGuard);
    return m;
}

QString ean8Modules(const QString &d)
{
    QString m;
    m.reserve(67);
    m += QLatin1String(kGuard);
    for (int i = 0; i < 4; ++i)
        m += QLatin1String(kSetL[digitAt(d, i)]);
    m += QLatin1String(kCentreGuard);
    for (int i = 4; i < 8; ++i)
        m += QLatin1String(kSetR[digitAt(d, i)]);
    m += QLatin1String(kGuard);
    return m;
}

// UPC-A is the EAN-13 symbol of its digits behind a leading 0 (all-L parity).
QString upcaModules(const QString &d)
{
    return ean13Modules(QLatin1Char('0') + d);
}

struct RetailFormat
{
    const char *key;
    const char *name;
    int digits; // data digits without the check digit
    QString (*modules)(const QString &digitsWithCheck);
};

constexpr std::array<RetailFormat, 3> kRetailFormats = {{
    {"ean13", "EAN-13", 12, ean13Modules},
    {"ean8", "EAN-8", 7, ean8Modules},
    {"upca", "UPC-A", 11, upcaModules},
}};

// Says what is wrong with data that normalizeRetailDigits refused.
QString retailError(const RetailFormat &format, const QString &data)
{
    const QString t = data.trimmed();
    const bool digitsOnly = std::all_of(t.cbegin(), t.cend(), isAsciiDigit);
    if (digitsOnly && t.size() == format.digits + 1) {
        return QStringLiteral("%1 check digit %2 is wrong; the digits before it give %3")
            .arg(QLatin1String(format.name), QString(t.back()))
            .arg(checkDigit(QStringView(t).first(format.digits)));
    }
    return QStringLiteral("%1 needs %2 digits, or %3 with a correct check digit")
        .arg(QLatin1String(format.name))
        .arg(format.digits)
        .arg(format.digits + 1);
}

} // namespace

QString normalizeRetailDigits(const QString &data, int digits)
{
    const QString t = data.trimmed();
    if (digits < 1 || (t.size() != digits && t.size() != digits + 1))
        return {};
    if (!std::all_of(t.cbegin(), t.cend(), isAsciiDigit))
        return {};
    const QChar check = QLatin1Char(char('0' + checkDigit(QStringView(t).first(digits))));
    if (t.size() == digits)
        return t + check;
    return t.back() == check ? t : QString();
}

ModuleEncoding encodeRetail(const QString &format, const QString &data)
{
    ModuleEncoding result;
    const auto it = std::find_if(kRetailFormats.cbegin(), kRetailFormats.cend(),
                                 [&](const RetailFormat &f) { return format == QLatin1String(f.key); });
    if (it == kRetailFormats.cend()) {
        result.error = QStringLiteral("Unknown retail barcode format %1").arg(format);
        return result;
    }
    const QString digits = normalizeRetailDigits(data, it->digits);
    if (digits.isEmpty()) {
        result.error = retailError(*it, data);
        return result;
    }
    result.modules = it->modules(digits);
    result.text = digits;
    return result;
}
