#include "barcode/code128.h"

namespace {

// Bar/space widths of the 107 symbol values, in value order.
// Code 128 patterns checked against ISO/IEC 15417.
constexpr char kPatterns[107][8] = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", // 0-7
    "132212", "221213", "221312", "231212", "112232", "122132", "122231", "113222", // 8-15
    "123122", "123221", "223211", "221132", "221231", "213212", "223112", "312131", // 16-23
    "311222", "321122", "321221", "312212", "322112", "322211", "212123", "212321", // 24-31
    "232121", "111323", "131123", "131321", "112313", "132113", "132311", "211313", // 32-39
    "231113", "231311", "112133", "112331", "132131", "113123", "113321", "133121", // 40-47
    "313121", "211331", "231131", "213113", "213311", "213131", "311123", "311321", // 48-55
    "331121", "312113", "312311", "332111", "314111", "221411", "431111", "111224", // 56-63
    "111422", "121124", "121421", "141122", "141221", "112214", "112412", "122114", // 64-71
    "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111", // 72-79
    "111242", "121142", "121241", "114212", "124112", "124211", "411212", "421112", // 80-87
    "421211", "212141", "214121", "412121", "111143", "111341", "131141", "114113", // 88-95
    "114311", "411113", "411311", "113141", "114131", "311141", "411131", "211412", // 96-103
    "211214", "211232", "2331112",                                                  // 104-106
};

constexpr int kCheckModulus = 103;

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isAllDigits(const QString &t)
{
    for (QChar c : t) {
        if (!isAsciiDigit(c))
            return false;
    }
    return true;
}

} // namespace

Code128Encoding encodeCode128(const QString &data)
{
    Code128Encoding result;
    const QString t = data.trimmed();

    QList<int> values;
    values.reserve(t.size() + 3);
    if (!t.isEmpty() && t.size() % 2 == 0 && isAllDigits(t)) {
        values.append(code128StartC);
        for (qsizetype i = 0; i < t.size(); i += 2)
            values.append((t.at(i).unicode() - '0') * 10 + (t.at(i + 1).unicode() - '0'));
    } else {
        values.append(code128StartB);
        for (QChar c : t) {
            const char16_t u = c.unicode();
            if (u < 32 || u > 126) {
                result.error = QStringLiteral("Code 128 supports printable ASCII characters only");
                return result;
            }
            values.append(u - 32);
        }
    }

    qint64 check = values.first() % kCheckModulus;
    for (qsizetype position = 1; position < values.size(); ++position)
        check = (check + position * values.at(position)) % kCheckModulus;
    values.append(int(check));
    values.append(code128Stop);

    result.ok = true;
    result.values = std::move(values);
    result.text = t;
    return result;
}

QByteArrayView code128Widths(int value)
{
    if (value < 0 || value > code128Stop)
        return {};
    return QByteArrayView(kPatterns[value]);
}

QString code128Modules(const QList<int> &values)
{
    QString modules;
    modules.reserve(values.size() * 11 + 2);
    for (int value : values) {
        const QByteArrayView widths = code128Widths(value);
        if (widths.isEmpty())
            return {};
        QChar module = QLatin1Char('1');
        for (char w : widths) {
            modules.append(QString(w - '0', module));
            module = module == QLatin1Char('1') ? QLatin1Char('0') : QLatin1Char('1');
        }
    }
    return modules;
}
