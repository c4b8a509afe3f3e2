#include "barcode/linearcodes.h"

#include "barcode/code128.h"

#include <algorithm>
#include <array>

namespace {

// Code 128 needs 10 modules of white on each side of its bars.
constexpr int kCode128QuietZone = 10;

ModuleEncoding code39Symbol(const QString &, const QString &data)
{
    return encodeCode39(data);
}

ModuleEncoding code128Symbol(const QString &data)
{
    const Code128Encoding encoding = encodeCode128(data);
    ModuleEncoding result;
    if (!encoding.ok) {
        result.error = encoding.error;
        return result;
    }
    result.modules = code128Modules(encoding.values);
    result.text = encoding.text;
    result.quietZone = kCode128QuietZone;
    return result;
}

struct Symbology
{
    const char *format;
    ModuleEncoding (*encode)(const QString &format, const QString &data);
};

// Every format not listed here is Code 128.
constexpr std::array<Symbology, 4> kSymbologies = {{
    {"code39", code39Symbol},
    {"ean13", encodeRetail},
    {"ean8", encodeRetail},
    {"upca", encodeRetail},
}};

} // namespace

ModuleEncoding barcodeModules(const QString &format, const QString &data)
{
    const auto it = std::find_if(kSymbologies.cbegin(), kSymbologies.cend(),
                                 [&](const Symbology &s) { return format == QLatin1String(s.format); });
    return it == kSymbologies.cend() ? code128Symbol(data) : it->encode(format, data);
}

QString encodedBarcodeText(const QString &format, const QString &data)
{
    const ModuleEncoding symbol = barcodeModules(format, data);
    return symbol.ok() ? symbol.text : data;
}
