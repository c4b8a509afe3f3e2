#include "store/csvrecordimport.h"

#include "model/headernames.h"
#include "store/recordpayload.h"
#include "store/sqlutil.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <vector>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace storeutil {

namespace {

using recordpayload::maxStoredText;

// Rows per INSERT; a batch also ends once its JSON passes kBatchText, and
// then goes one row to a statement.
constexpr qsizetype kBatchRows = 64;
constexpr qsizetype kBatchText = 16 * 1024 * 1024;
// How far the reader may run ahead of the writer.
constexpr qsizetype kQueueBatches = 16;
constexpr qsizetype kQueueText = 64 * 1024 * 1024;
// How often a writer waiting for the header asks whether to cancel: a file
// whose stored size is in doubt is parsed once whole before its header counts.
constexpr std::chrono::milliseconds kHeaderCancelPoll(20);

// The JSON of consecutive rows, one after another in `text`.
struct PayloadBatch
{
    QByteArray text;
    QList<qsizetype> ends; // where each row's JSON ends in `text`
    qint64 firstIndex = 0;

    qsizetype rows() const { return ends.size(); }
    QByteArrayView row(qsizetype i) const
    {
        const qsizetype begin = i == 0 ? 0 : ends.at(i - 1);
        return QByteArrayView(text.constData() + begin, ends.at(i) - begin);
    }
};

// recordpayload::PayloadLayout with its member names in UTF-8.
struct Utf8Layout
{
    struct Member
    {
        QByteArray prefix;
        qsizetype column = 0;
    };
    QList<Member> members;
    qsizetype fixedLength = 2;
};

Utf8Layout utf8Layout(const QStringList &header)
{
    const recordpayload::PayloadLayout layout = recordpayload::payloadLayout(header);
    Utf8Layout result;
    result.fixedLength = layout.fixedLength;
    for (const auto &member : layout.members)
        result.members.append({member.prefix.toUtf8(), member.column});
    return result;
}

// The header as the file's reader gives it: every column with a name of its
// own, so that no two columns write the same member of a row's JSON.
QStringList headerNames(const RecordRowView &row)
{
    QStringList names;
    names.reserve(row.size());
    for (qsizetype i = 0; i < row.size(); ++i)
        names.append(QString::fromUtf8(row.cell(i)));
    return settledHeader(std::move(names));
}

void appendPayload(QByteArray &out, const Utf8Layout &layout, const RecordRowView &row)
{
    // Asked once a row: each question is a call into the file's reader.
    const qsizetype cells = row.size();
    out.append('{');
    bool first = true;
    for (const Utf8Layout::Member &member : layout.members) {
        if (!first)
            out.append(',');
        first = false;
        out.append(member.prefix);
        recordpayload::appendJsonStringUtf8(out, member.column < cells ? row.cell(member.column) : QByteArrayView());
    }
    out.append('}');
}

// Whether no file of `fileSize` bytes can give more stored text than the
// limit: a kept data row takes at least two bytes of the file (one for the
// last), and a cell never has more code units than the bytes it came from.
// A file of unknown size is counted first.
bool storedTextSurelyFits(qint64 fixedLength, qint64 fileSize)
{
    return fileSize >= 0 && fixedLength * (fileSize / 2 + 1) + fileSize <= maxStoredText;
}

// The reader thread and what it hands to the writing thread. The reader
// runs the file's row producer and writes each row's JSON into batches; the writer
// takes them in order. When the stored-text bound of the file is not
// certain from its size, the reader first parses the whole file once to
// count, so that an import over the limit writes nothing at all.
class RowPipeline
{
public:
    struct Outcome
    {
        QString readError;
        bool storedTooLarge = false;
    };

    explicit RowPipeline(const RecordRowProducer &producer)
        : m_producer(producer), m_thread([this] { run(); })
    {
    }
    ~RowPipeline()
    {
        stop();
        if (m_thread.joinable())
            m_thread.join();
    }
    RowPipeline(const RowPipeline &) = delete;
    RowPipeline &operator=(const RowPipeline &) = delete;

    // True once the header has been read and rows may follow; false when
    // the reader ended before (finish() then tells why) or `cancelRequested`
    // said so while waiting.
    bool waitForHeader(const std::function<bool()> &cancelRequested)
    {
        std::unique_lock lock(m_mutex);
        while (!m_changed.wait_for(lock, kHeaderCancelPoll, [this] { return m_headerRead || m_done; })) {
            lock.unlock();
            if (cancelRequested())
                return false;
            lock.lock();
        }
        return m_headerRead;
    }

    // The reader stops at its next row, whatever it was doing.
    void stop()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_cancel = true;
        }
        m_changed.notify_all();
    }

    // The next batch, or nothing once the reader is done.
    std::optional<PayloadBatch> next()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_queue.empty() || m_done; });
        if (m_queue.empty())
            return std::nullopt;
        PayloadBatch batch = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedText -= batch.text.size();
        lock.unlock();
        m_changed.notify_all();
        return batch;
    }

    // Hands a written batch back for the reader to fill again: its buffers
    // keep their size, so a long import does not fault in fresh pages for
    // every batch.
    void recycle(PayloadBatch &&batch)
    {
        batch.text.resize(0);
        batch.ends.resize(0);
        const std::lock_guard lock(m_mutex);
        if (qsizetype(m_spare.size()) < kQueueBatches + 2)
            m_spare.push_back(std::move(batch));
    }

    // The writer takes no more rows. The reader still parses the rest of
    // the file, without writing JSON, since its own failure is the one reported.
    void abandon()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_discard = true;
            m_queue.clear();
            m_queuedText = 0;
        }
        m_changed.notify_all();
    }

    // Waits for the reader to end.
    Outcome finish()
    {
        abandon();
        if (m_thread.joinable())
            m_thread.join();
        return m_outcome;
    }

private:
    // False when the import is cancelled; a batch nobody takes any more is dropped.
    bool push(PayloadBatch &&batch)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] {
            return m_cancel || m_discard || m_queue.empty()
                   || (qsizetype(m_queue.size()) < kQueueBatches && m_queuedText < kQueueText);
        });
        if (m_cancel)
            return false;
        if (!m_discard) {
            m_queuedText += batch.text.size();
            m_queue.push_back(std::move(batch));
            lock.unlock();
            m_changed.notify_all();
        }
        return true;
    }

    void signalHeader()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_headerRead = true;
        }
        m_changed.notify_all();
    }

    // An empty batch, with the buffers of a written one when there is one.
    PayloadBatch spareBatch()
    {
        const std::lock_guard lock(m_mutex);
        if (m_spare.empty())
            return PayloadBatch();
        PayloadBatch batch = std::move(m_spare.back());
        m_spare.pop_back();
        return batch;
    }

    bool discarding()
    {
        const std::lock_guard lock(m_mutex);
        return m_discard;
    }

    bool cancelled() const { return m_cancel.load(std::memory_order_relaxed); }

    void run()
    {
        Outcome outcome;
        try {
            outcome = read();
        } catch (const std::exception &e) {
            outcome.readError = QString::fromLocal8Bit(e.what());
        }
        {
            const std::lock_guard lock(m_mutex);
            m_outcome = outcome;
            m_done = true;
        }
        m_changed.notify_all();
    }

    Outcome read()
    {
        const qint64 fileSize = m_producer.sizeBound;
        Utf8Layout layout;
        bool headerSeen = false;
        bool counting = false;
        bool counted = false;
        bool tooLarge = false;
        bool discard = false;
        qint64 stored = 0;
        PayloadBatch batch;

        const auto onRow = [&](const RecordRowView &row) -> bool {
            if (!headerSeen) {
                headerSeen = true;
                layout = utf8Layout(headerNames(row));
                stored = 0;
                batch = PayloadBatch();
                counting = !counted && !storedTextSurelyFits(layout.fixedLength, fileSize);
                if (!counting)
                    signalHeader();
                return !cancelled();
            }
            // Once a row: the passes that write nothing have no other point to stop at.
            if (cancelled())
                return false;
            if (tooLarge)
                return true;
            stored += layout.fixedLength;
            const qsizetype cells = row.size();
            for (const Utf8Layout::Member &member : std::as_const(layout.members))
                stored += member.column < cells ? row.units(member.column) : 0;
            if (stored > maxStoredText) {
                tooLarge = true;
                return true;
            }
            // Rows nobody takes are still counted: the limit's message comes
            // before a failed statement's, as when the rows were all read first.
            if (counting || discard)
                return true;
            appendPayload(batch.text, layout, row);
            batch.ends.append(batch.text.size());
            if (batch.rows() == kBatchRows || batch.text.size() >= kBatchText) {
                const qint64 nextIndex = batch.firstIndex + batch.rows();
                if (!push(std::exchange(batch, spareBatch())))
                    return false;
                batch.firstIndex = nextIndex;
                // Checked once a batch, not once a row.
                discard = discarding();
            }
            return true;
        };
        const auto again = [&] {
            if (!counting || tooLarge)
                return false;
            counted = true;
            headerSeen = false;
            return true;
        };

        Outcome outcome;
        if (!m_producer.read || !m_producer.read(onRow, again, &outcome.readError))
            return outcome;
        outcome.storedTooLarge = tooLarge;
        if (!tooLarge && batch.rows() > 0)
            push(std::move(batch));
        return outcome;
    }

    const RecordRowProducer m_producer;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<PayloadBatch> m_queue;
    std::vector<PayloadBatch> m_spare; // written batches, emptied, for the reader to fill again
    qsizetype m_queuedText = 0;
    bool m_headerRead = false;
    bool m_done = false;
    bool m_discard = false;
    // Set under the mutex, for the waits; read without it once a row.
    std::atomic<bool> m_cancel = false;
    Outcome m_outcome;
    // Last: started once everything it uses exists.
    std::thread m_thread;
};

sqlite3 *nativeHandle(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3 *const *>(handle.constData());
    return nullptr;
}

// The message Qt's driver gives for the same failure.
QString statementError(sqlite3 *handle, int code, const char *driverText)
{
    return errorText(QSqlError(QString::fromLatin1(driverText), QString::fromUtf8(sqlite3_errmsg(handle)),
                               QSqlError::ConnectionError, QString::number(code)));
}

struct StatementDeleter
{
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

// INSERT statements of one and of kBatchRows rows, the source id bound once as ?1.
class RecordInserter
{
public:
    bool prepare(sqlite3 *handle, qint64 sourceId, QString *error)
    {
        m_handle = handle;
        QByteArray sql("INSERT INTO data_source_records(data_source_id, sort_index, payload_json) VALUES(?1,?,?)");
        if (!prepareOne(sql, &m_single, sourceId, error))
            return false;
        for (qsizetype i = 1; i < kBatchRows; ++i)
            sql += ",(?1,?,?)";
        return prepareOne(sql, &m_batch, sourceId, error);
    }

    bool insert(const PayloadBatch &batch, QString *error)
    {
        if (batch.rows() == kBatchRows && batch.text.size() <= kBatchText)
            return run(m_batch.get(), batch, 0, kBatchRows, error);
        for (qsizetype i = 0; i < batch.rows(); ++i) {
            if (!run(m_single.get(), batch, i, 1, error))
                return false;
        }
        return true;
    }

private:
    bool prepareOne(const QByteArray &sql, Statement *statement, qint64 sourceId, QString *error)
    {
        sqlite3_stmt *prepared = nullptr;
        const int code = sqlite3_prepare_v2(m_handle, sql.constData(), int(sql.size()), &prepared, nullptr);
        statement->reset(prepared);
        if (code != SQLITE_OK)
            return fail(error, statementError(m_handle, code, "Unable to execute statement"));
        sqlite3_bind_int64(prepared, 1, sourceId);
        return true;
    }

    bool run(sqlite3_stmt *statement, const PayloadBatch &batch, qsizetype first, qsizetype count, QString *error)
    {
        for (qsizetype k = 0; k < count; ++k) {
            const QByteArrayView json = batch.row(first + k);
            const int place = int(2 + 2 * k);
            sqlite3_bind_int64(statement, place, batch.firstIndex + first + k);
            sqlite3_bind_text64(statement, place + 1, json.data(), sqlite3_uint64(json.size()), SQLITE_STATIC,
                                SQLITE_UTF8);
        }
        const int code = sqlite3_step(statement);
        if (code != SQLITE_DONE) {
            const QString message = statementError(m_handle, code, "Unable to fetch row");
            sqlite3_reset(statement);
            return fail(error, message);
        }
        sqlite3_reset(statement);
        return true;
    }

    sqlite3 *m_handle = nullptr;
    Statement m_single;
    Statement m_batch;
};

} // namespace

QString importCancelledMessage()
{
    return QStringLiteral("The import was cancelled");
}

bool beginWriteTransaction(QSqlDatabase &db, QString *error)
{
    QSqlQuery begin(db);
    return begin.exec(QStringLiteral("BEGIN IMMEDIATE")) || fail(error, begin);
}

bool importRecordRows(QSqlDatabase &db, const RecordRowProducer &producer, const SourceEntry &entry,
                      QString *error, const CancelCheck &cancelRequested)
{
    // Once asked for, a cancel stays: the later checks need not ask again.
    bool stopped = false;
    const auto cancelled = [&] {
        if (!stopped && cancelRequested && cancelRequested())
            stopped = true;
        return stopped;
    };

    RowPipeline pipeline(producer);
    if (!pipeline.waitForHeader(cancelled) || cancelled()) {
        pipeline.stop();
        const RowPipeline::Outcome outcome = pipeline.finish();
        if (stopped)
            return fail(error, importCancelledMessage());
        if (outcome.storedTooLarge)
            return fail(error, recordpayload::storedTextTooLargeMessage());
        // A reader that ends without a header row and without a message of
        // its own must not pass for a success.
        return fail(error, outcome.readError.isEmpty() ? QStringLiteral("The data file has no header row")
                                                       : outcome.readError);
    }

    QString entryError;
    const bool began = beginWriteTransaction(db, &entryError);
    std::optional<qint64> sourceId;
    if (began)
        sourceId = entry(&entryError);
    if (!sourceId) {
        const RowPipeline::Outcome outcome = pipeline.finish();
        if (began)
            db.rollback();
        return fail(error, outcome.readError.isEmpty() ? entryError : outcome.readError);
    }

    QString rowsError;
    {
        QSqlQuery remove(db);
        if (run(remove, QStringLiteral("DELETE FROM data_source_records WHERE data_source_id=?"), &rowsError,
                *sourceId)) {
            RecordInserter inserter;
            sqlite3 *handle = nativeHandle(db);
            if (!handle)
                rowsError = QStringLiteral("The database connection is not an SQLite connection");
            else if (inserter.prepare(handle, *sourceId, &rowsError)) {
                while (std::optional<PayloadBatch> batch = pipeline.next()) {
                    if (cancelled() || !inserter.insert(*batch, &rowsError))
                        break;
                    pipeline.recycle(std::move(*batch));
                }
            }
        }
    }
    if (stopped)
        pipeline.stop();
    const RowPipeline::Outcome outcome = pipeline.finish();
    QString message = stopped                      ? importCancelledMessage()
                      : !outcome.readError.isEmpty() ? outcome.readError
                      : outcome.storedTooLarge     ? recordpayload::storedTextTooLargeMessage()
                                                   : rowsError;
    if (message.isEmpty()) {
        QSqlQuery touch(db);
        if (run(touch, QStringLiteral("UPDATE data_sources SET updated_at=CURRENT_TIMESTAMP WHERE id=?"), &message,
                *sourceId)) {
            // The last point at which nothing has happened yet.
            if (cancelled())
                message = importCancelledMessage();
            else if (!db.commit())
                message = errorText(db.lastError());
        }
    }
    if (!message.isEmpty()) {
        db.rollback();
        return fail(error, message);
    }
    return true;
}

} // namespace storeutil
