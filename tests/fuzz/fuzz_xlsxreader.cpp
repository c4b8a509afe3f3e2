// libFuzzer harness of the Excel reader: each input is written to a
// temporary .xlsx file and read as a whole, as the import dialog's 25-row
// preview, and for its worksheet names.

#include "import/tablereader.h"

#include <QDir>
#include <QTemporaryFile>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

namespace {

// QZipReader warns on stderr about every damaged archive; at thousands of
// inputs a second that drowns libFuzzer's own output.
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    qInstallMessageHandler(quiet);

    QTemporaryFile file(QDir::temp().filePath(QStringLiteral("fuzz-xlsx-XXXXXX.xlsx")));
    if (!file.open())
        return 0;
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();

    ImportedTable table;
    QString error;
    readXlsxFile(file.fileName(), DataSourceOptions(), &table, &error, -1);
    readXlsxFile(file.fileName(), DataSourceOptions(), &table, &error, 25);
    listWorksheetNames(file.fileName(), &error);
    return 0;
}
