#include "app/dataimport.h"

#include "import/tablereader.h"
#include "store/csvrecordimport.h"
#include "store/projectstore.h"

#include <QFileInfo>

namespace {

// The CSV reader's row as the store takes it.
class CsvRecordRow final : public RecordRowView
{
public:
    explicit CsvRecordRow(const CsvRowView &row) : m_row(row) {}
    qsizetype size() const override { return m_row.size(); }
    QByteArrayView cell(qsizetype i) const override { return m_row.cell(i); }
    qsizetype units(qsizetype i) const override { return m_row.units(i); }

private:
    const CsvRowView &m_row;
};

// A workbook's header and rows, read whole. The cancel check goes with the
// read, which stops within a row of being cancelled; the read's own failure
// then becomes the import's cancel.
bool readWorkbook(const QString &path, const DataSourceOptions &options, ImportedTable *table, QString *error,
                  const std::function<bool()> &cancelRequested)
{
    bool cancelled = false;
    std::function<bool()> check;
    if (cancelRequested)
        check = [&cancelled, &cancelRequested] { return cancelled = cancelRequested(); };
    QString readError;
    if (!readXlsxFile(path, options, table, &readError, -1, check)) {
        if (error)
            *error = cancelled ? storeutil::importCancelledMessage() : readError;
        return false;
    }
    return true;
}

} // namespace

RecordRowProducer csvRecordRows(const QString &path, const DataSourceOptions &options)
{
    RecordRowProducer producer;
    producer.read = [path, options](const RecordRowHandler &onRow, const std::function<bool()> &again,
                                    QString *error) {
        const CsvRowHandler handler = [&onRow](const CsvRowView &row) { return onRow(CsvRecordRow(row)); };
        return streamCsvFile(path, options, handler, again, error);
    };
    // A CSV row ends in a line break (but the last), and a cell decodes to no
    // more UTF-16 code units than it had bytes, whatever the encoding.
    producer.sizeBound = QFileInfo(path).size();
    return producer;
}

std::optional<DataSource> upsertDataSource(ProjectStore &store, qint64 projectId, const QString &filePath,
                                           const DataSourceOptions &options, QString *error,
                                           const std::function<bool()> &cancelRequested)
{
    const QString path = absoluteSourcePath(filePath);
    if (!isWorkbookPath(path))
        return store.upsertDataSource(projectId, path, options, csvRecordRows(path, options), error, cancelRequested);
    ImportedTable table;
    if (!readWorkbook(path, options, &table, error, cancelRequested))
        return std::nullopt;
    return store.upsertDataSource(projectId, path, options, table, error, cancelRequested);
}

bool reloadDataSource(ProjectStore &store, qint64 sourceId, QString *error,
                      const std::function<bool()> &cancelRequested)
{
    const std::optional<DataSource> source = store.loadDataSource(sourceId, error);
    if (!source)
        return false;
    if (!isWorkbookPath(source->filePath))
        return store.replaceDataSourceRecords(sourceId, csvRecordRows(source->filePath, source->options), error,
                                              cancelRequested);
    ImportedTable table;
    if (!readWorkbook(source->filePath, source->options, &table, error, cancelRequested))
        return false;
    return store.replaceDataSourceRecords(sourceId, table.header, table.rows, error, cancelRequested);
}
