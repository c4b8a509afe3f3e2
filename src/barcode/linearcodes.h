#pragma once

#include <QString>

// A symbol as a module string: '1' for a bar module, '0' for a space module,
// from the first bar to the last. On failure `modules` and `text` are empty and
// `error` says why.
struct ModuleEncoding
{
    QString modules;
    QString text;      // the human-readable line
    QString error;
    int quietZone = 0; // white modules the symbol needs on each side, beyond `modules`

    bool ok() const { return !modules.isEmpty(); }
};

// The data text trimmed, with its check digit: `digits` data digits get the
// check digit appended, `digits` + 1 are returned when their last digit is the
// correct check digit. Empty for any other text: another length, a character
// other than 0 … 9, or a wrong check digit (never corrected).
QString normalizeRetailDigits(const QString &data, int digits);

// EAN-13 ("ean13", 95 modules), EAN-8 ("ean8", 67) or UPC-A ("upca", 95). The
// human-readable text is the complete digit string with check digit.
ModuleEncoding encodeRetail(const QString &format, const QString &data);

// Code 39 with start/stop characters, wide elements 3 modules, one narrow gap
// between characters. The data is not trimmed; empty data is a single space;
// a … z are upper-cased. The human-readable text is the upper-cased data.
ModuleEncoding encodeCode39(const QString &data);

// The symbol of a field's barcode format: "code39", "ean13", "ean8", "upca";
// any other format is Code 128 (its modules without the 10-module quiet zones
// named in `quietZone`, its text the trimmed data).
ModuleEncoding barcodeModules(const QString &format, const QString &data);

// The text a scanner reads from the symbol of `data` in `format` (barcodeModules'
// human-readable line: Code 39 upper-cased, retail codes with their check digit,
// Code 128 trimmed), so that what a list reports is what the card carries.
// `data` unchanged when it cannot be encoded: nothing is printed then, and the
// export reports the card.
QString encodedBarcodeText(const QString &format, const QString &data);
