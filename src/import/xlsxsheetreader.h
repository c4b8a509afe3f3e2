#pragma once

#include "import/tablereader.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class XlsxPackage;

// One entry of cellXfs in the styles part, which a cell's s attribute indexes.
struct CellFormatInfo
{
    bool isDateTime = false;
    bool hasDate = false;
    bool hasTime = false;
    // A time without a date prints by the format's own tokens when `clock`
    // is set (the hour with a leading zero or not, seconds or not, 12 hours
    // with AM/PM or 24), as "HH:mm:ss" otherwise: elapsed times, minutes and
    // seconds, codes without an hour.
    bool clock = false;
    bool twoDigitHour = false;
    bool withSeconds = false;
    bool twelveHour = false;
};

// Where the serials of a workbook count from: serial 1 is 1 January 1900
// (with the leap day that 1900 never had), or serial 0 is 1 January 1904
// (workbooks from old Mac versions of the spreadsheet program).
enum class DateSystem { From1900, From1904 };

// Reads the two large parts of a package, the shared strings and a worksheet.
//
// Each is streamed through XlsxSheetScanner as it inflates. A part the
// scanner does not read to its end (XML beyond what spreadsheet programs
// write, or not well-formed) is read again, whole, with XlsxXmlReader, and
// that reading stands with its result and its messages; it is also the one
// that reports XML errors, so every message is the XML reader's.
class XlsxSheetReader
{
public:
    enum class XmlReading {
        Scanner,
        // XlsxXmlReader alone, for the tests and the fuzzer that compare it with the scanner.
        XmlReaderOnly,
    };

    // Rows kept, the header included.
    static constexpr qsizetype maxKeptRows = 250000;
    // Kept rows times the widest row, and shared strings. Column padding is
    // real memory: a row whose only cell is XFD holds 16,384 texts, so
    // 250,000 such rows (a few kilobytes compressed) would need about 100 GB
    // here, and the store pads every row to the header's length again. 16
    // million is 250,000 rows of 64 columns.
    static constexpr qint64 maxCells = 16'000'000;

    explicit XlsxSheetReader(XlsxPackage &package, XmlReading reading = XmlReading::Scanner);

    // Asked before each row element of the worksheet and before every
    // 1,024th shared string; once it answers true, reading ends at once and
    // fails with cancelledMessage(). An empty function never cancels.
    using CancelCheck = std::function<bool()>;
    void setCancelCheck(CancelCheck check);
    static QString cancelledMessage();

    // The workbook's date system, for the date-styled numbers of worksheet().
    void setDateSystem(DateSystem system) { dateSystem = system; }

    // The items of the optional part "xl/sharedStrings.xml" (none when it is
    // missing or empty), or nothing with the message.
    std::optional<QStringList> sharedStrings(QString *error);

    // The worksheet part `partPath` (required) as a table: the first kept row
    // is the header, settled to unique names; `maxRows` data rows at most
    // (negative for all). False with the message on failure.
    bool worksheet(const QString &partPath, const QStringList &sharedStrings,
                   const QList<CellFormatInfo> &formats, qsizetype maxRows, ImportedTable *table,
                   QString *error);

private:
    XlsxPackage &package;
    XmlReading reading;
    CancelCheck cancelRequested;
    DateSystem dateSystem = DateSystem::From1900;
};

// readXlsxFile with the shared strings and the worksheet read the way
// `reading` says, for the tests and the fuzzer that compare the two.
bool readXlsxWorkbook(const QString &path, const DataSourceOptions &options, ImportedTable *result,
                      QString *error, qsizetype maxRows, const XlsxSheetReader::CancelCheck &cancelRequested,
                      XlsxSheetReader::XmlReading reading);
