#include "import/xlsxpackage.h"
#include "import/tablereader.h"

#include <QtEndian>
#include <QtGui/private/qzipreader_p.h>

#include <zlib.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// Record layouts from PKWARE's APPNOTE.TXT 6.3.
constexpr quint32 localHeaderSignature = 0x04034b50;
constexpr quint32 centralHeaderSignature = 0x02014b50;
constexpr quint32 endOfDirectorySignature = 0x06054b50;
constexpr int localHeaderSize = 30;
constexpr int centralHeaderSize = 46;
constexpr int endOfDirectorySize = 22;
constexpr int maxCommentSize = 0xffff;

constexpr quint16 encryptedFlag = 0x0001;
constexpr quint16 methodStored = 0;
constexpr quint16 methodDeflated = 8;

// Deflate cannot expand data by more than about 1032:1, so an honest entry
// never needs a larger buffer than this; it keeps a directory that overstates
// the size from making us reserve 128 MiB for a few bytes.
constexpr qint64 maxDeflateRatio = 1032;
// Read and inflate a piece at a time: small enough to stay in the cache
// while the scanner reads it.
constexpr qsizetype chunkSize = 64 * 1024;

quint16 u16(const char *p)
{
    return qFromLittleEndian<quint16>(p);
}

quint32 u32(const char *p)
{
    return qFromLittleEndian<quint32>(p);
}

QString corruptMessage()
{
    return XlsxPackage::couldNotOpenMessage();
}

QString unsupportedMessage()
{
    return QStringLiteral("The Excel file is encrypted or uses an unsupported compression method");
}

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

XlsxPackage::PartStatus failed(QString *error, const QString &message)
{
    fail(error, message);
    return XlsxPackage::PartStatus::Failed;
}

// inflateEnd on every way out.
class Inflater
{
public:
    Inflater() { ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~Inflater()
    {
        if (ready)
            inflateEnd(&stream);
    }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    z_stream stream{};
    bool ready = false;
};

// Pieces handed from the thread that extracts a part to the thread that reads
// them, a few waiting at most; their buffers go round, so that extracting
// allocates nothing after the first pieces.
class PieceQueue
{
public:
    // On the extracting thread. False once the reader has stopped.
    bool push(QByteArrayView piece)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return abandoned || waiting.size() < maxWaiting; });
        if (abandoned)
            return false;
        QByteArray buffer = spare.isEmpty() ? QByteArray() : spare.takeLast();
        buffer.resize(piece.size());
        std::memcpy(buffer.data(), piece.data(), size_t(piece.size()));
        waiting.append(std::move(buffer));
        changed.notify_all();
        return true;
    }

    // On the extracting thread, when no piece is to follow.
    void finish()
    {
        const std::lock_guard lock(mutex);
        finished = true;
        changed.notify_all();
    }

    // On the reading thread: the next piece, or false when none will come.
    // Its buffer goes back with recycle() once it is read.
    bool pop(QByteArray *piece)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return !waiting.isEmpty() || finished; });
        if (waiting.isEmpty())
            return false;
        *piece = waiting.takeFirst();
        changed.notify_all();
        return true;
    }

    void recycle(QByteArray &&buffer)
    {
        const std::lock_guard lock(mutex);
        spare.append(std::move(buffer));
    }

    // On the reading thread: no more pieces are wanted.
    void abandon()
    {
        const std::lock_guard lock(mutex);
        abandoned = true;
        changed.notify_all();
    }

private:
    static constexpr qsizetype maxWaiting = 8;
    std::mutex mutex;
    std::condition_variable changed;
    QList<QByteArray> waiting;
    QList<QByteArray> spare;
    bool finished = false;
    bool abandoned = false;
};

} // namespace

QString XlsxPackage::couldNotOpenMessage()
{
    return QStringLiteral("Could not open the Excel file. It may be corrupted or not an xlsx file");
}

QString XlsxPackage::tooLargeMessage()
{
    return QStringLiteral("The Excel worksheet is too large to import safely");
}

QString XlsxPackage::missingMessage(const QString &partPath)
{
    return QStringLiteral("The Excel file is missing required content: %1").arg(partPath);
}

XlsxPackage::XlsxPackage() = default;
XlsxPackage::~XlsxPackage() = default;

bool XlsxPackage::open(const QString &path, QString *error)
{
    if (!checkRegularFile(path, error))
        return false;
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, couldNotOpenMessage());
    // Replaced by a device or a pipe since the check.
    if (file.isSequential())
        return fail(error, notRegularFileMessage(path));
    if (!readCentralDirectory())
        return fail(error, couldNotOpenMessage());
    if (directory.isEmpty())
        return true; // a package without entries; its parts are simply missing

    // QZipReader lists nothing when the archive does not start with a local
    // header, and its list must be ours record for record.
    char signature[4];
    if (!file.seek(0) || file.read(signature, 4) != 4 || u32(signature) != localHeaderSignature)
        return fail(error, couldNotOpenMessage());
    // QZipReader reads its first signature from wherever the file stands.
    if (!file.seek(0))
        return fail(error, couldNotOpenMessage());
    zip = std::make_unique<QZipReader>(&file);
    if (zip->status() != QZipReader::NoError || zip->count() != directory.size())
        return fail(error, couldNotOpenMessage());
    return true;
}

// Finds the end-of-central-directory record the way QZipReader does (the
// signature nearest the end, within the 64 KiB a comment may take), so that
// entry i of its list is record i of ours.
bool XlsxPackage::readCentralDirectory()
{
    const qint64 fileSize = file.size();
    if (fileSize < endOfDirectorySize)
        return false;
    const qint64 tailSize = qMin<qint64>(fileSize, endOfDirectorySize + maxCommentSize);
    if (!file.seek(fileSize - tailSize))
        return false;
    const QByteArray tail = file.read(tailSize);
    if (tail.size() != tailSize)
        return false;

    qint64 record = -1;
    for (qint64 pos = tailSize - endOfDirectorySize; pos >= 0; --pos) {
        if (u32(tail.constData() + pos) == endOfDirectorySignature) {
            record = pos;
            break;
        }
    }
    if (record < 0)
        return false;
    const int directoryEntryCount = u16(tail.constData() + record + 8);
    const qint64 directoryOffset = u32(tail.constData() + record + 16);

    // Every record the end record announces must be there: a directory that
    // is cut short or misplaced (data put in front of the archive) is damage.
    directory.clear();
    if (directoryEntryCount > 0 && !file.seek(directoryOffset))
        return false;
    for (int i = 0; i < directoryEntryCount; ++i) {
        char header[centralHeaderSize];
        if (file.read(header, centralHeaderSize) != centralHeaderSize
            || u32(header) != centralHeaderSignature)
            return false;
        DirectoryEntry entry;
        entry.flags = u16(header + 8);
        entry.method = u16(header + 10);
        entry.crc = u32(header + 16);
        entry.compressedSize = u32(header + 20);
        entry.uncompressedSize = u32(header + 24);
        entry.localHeaderOffset = u32(header + 42);
        const qint64 variableSize = qint64(u16(header + 28)) + u16(header + 30) + u16(header + 32);
        const qint64 next = file.pos() + variableSize;
        if (next > fileSize || !file.seek(next))
            return false;
        directory.append(entry);
    }
    return true;
}

XlsxPackage::PartStatus XlsxPackage::findPart(const QString &partPath, const DirectoryEntry **entry,
                                              QString *error)
{
    if (!zip)
        return PartStatus::Missing;
    const QList<QZipReader::FileInfo> entries = zip->fileInfoList();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QZipReader::FileInfo &info = entries.at(i);
        if (info.isDir || info.filePath != partPath)
            continue;
        if (info.size > maxPartSize) {
            fail(error, tooLargeMessage());
            return PartStatus::Failed;
        }
        // Both lists come from the same records in the same order.
        if (i >= directory.size() || directory.at(i).uncompressedSize != info.size
            || directory.at(i).crc != info.crc) {
            fail(error, corruptMessage());
            return PartStatus::Failed;
        }
        *entry = &directory.at(i);
        return PartStatus::Read;
    }
    return PartStatus::Missing;
}

XlsxPackage::PartStatus XlsxPackage::readPart(const QString &partPath, QByteArray *data,
                                              QString *error)
{
    data->clear();
    const DirectoryEntry *entry = nullptr;
    const PartStatus found = findPart(partPath, &entry, error);
    if (found != PartStatus::Read)
        return found;
    // Room for what the entry can honestly hold, so that a directory that
    // overstates the size cannot make us reserve 128 MiB for a few bytes.
    const qint64 honest = entry->method == methodDeflated
                              ? qint64(entry->compressedSize) * maxDeflateRatio + 1024
                              : qint64(entry->compressedSize);
    data->reserve(qMin<qint64>(entry->uncompressedSize, honest));
    const auto append = [data](QByteArrayView piece) {
        data->append(piece);
        return true;
    };
    const PartStatus status = extract(*entry, append, error);
    if (status != PartStatus::Read)
        data->clear();
    return status;
}

std::optional<QByteArray> XlsxPackage::partBytes(const QString &partPath, Need need, QString *error)
{
    QByteArray data;
    switch (readPart(partPath, &data, error)) {
    case PartStatus::Read:
        return data;
    case PartStatus::Missing:
        if (need == Need::Optional)
            return QByteArray();
        fail(error, missingMessage(partPath));
        return std::nullopt;
    case PartStatus::Failed:
    case PartStatus::Stopped:
        break;
    }
    return std::nullopt;
}

XlsxPackage::PartStatus XlsxPackage::streamPart(const QString &partPath, const Sink &sink,
                                                QString *error)
{
    const DirectoryEntry *entry = nullptr;
    const PartStatus found = findPart(partPath, &entry, error);
    if (found != PartStatus::Read)
        return found;
    if (entry->compressedSize < threadedMinimum)
        return extract(*entry, sink, error);

    // The file and the buffers are the extracting thread's until it is joined.
    PieceQueue queue;
    PartStatus status = PartStatus::Read;
    QString extractError;
    std::thread extractor([&] {
        status = extract(*entry, [&queue](QByteArrayView piece) { return queue.push(piece); }, &extractError);
        queue.finish();
    });
    bool stopped = false;
    QByteArray piece;
    while (queue.pop(&piece)) {
        if (!sink(piece)) {
            stopped = true;
            queue.abandon();
            break;
        }
        queue.recycle(std::move(piece));
    }
    extractor.join();
    if (stopped)
        return PartStatus::Stopped;
    if (status == PartStatus::Failed)
        fail(error, extractError);
    return status;
}

XlsxPackage::PartStatus XlsxPackage::extract(const DirectoryEntry &entry, const Sink &sink, QString *error)
{
    if ((entry.flags & encryptedFlag) != 0
        || (entry.method != methodStored && entry.method != methodDeflated))
        return failed(error, unsupportedMessage());

    // The local header's own sizes may be zero (bit 3: sizes in a trailing
    // data descriptor), so only its variable-length fields are taken from it.
    char header[localHeaderSize];
    if (!file.seek(entry.localHeaderOffset)
        || file.read(header, localHeaderSize) != localHeaderSize
        || u32(header) != localHeaderSignature)
        return failed(error, corruptMessage());
    const qint64 dataOffset = qint64(entry.localHeaderOffset) + localHeaderSize + u16(header + 26)
                              + u16(header + 28);
    if (dataOffset + qint64(entry.compressedSize) > file.size())
        return failed(error, corruptMessage());

    input.resize(chunkSize);
    return entry.method == methodStored ? readStored(entry, dataOffset, sink, error)
                                        : inflateDeflated(entry, dataOffset, sink, error);
}

XlsxPackage::PartStatus XlsxPackage::readStored(const DirectoryEntry &entry, qint64 dataOffset,
                                                const Sink &sink, QString *error)
{
    if (entry.compressedSize > entry.uncompressedSize)
        return failed(error, tooLargeMessage());
    if (entry.compressedSize < entry.uncompressedSize || !file.seek(dataOffset))
        return failed(error, corruptMessage());
    qint64 left = entry.compressedSize;
    uLong crc = crc32(0, nullptr, 0);
    while (left > 0) {
        const qint64 wanted = qMin<qint64>(input.size(), left);
        if (file.read(input.data(), wanted) != wanted)
            return failed(error, corruptMessage());
        crc = crc32(crc, reinterpret_cast<const Bytef *>(input.constData()), uInt(wanted));
        if (!sink(QByteArrayView(input.constData(), wanted)))
            return PartStatus::Stopped;
        left -= wanted;
    }
    if (crc != entry.crc)
        return failed(error, corruptMessage());
    return PartStatus::Read;
}

XlsxPackage::PartStatus XlsxPackage::inflateDeflated(const DirectoryEntry &entry, qint64 dataOffset,
                                                     const Sink &sink, QString *error)
{
    const qint64 stated = entry.uncompressedSize;
    Inflater inflater;
    if (!inflater.ready || !file.seek(dataOffset))
        return failed(error, corruptMessage());
    z_stream &zs = inflater.stream;

    output.resize(chunkSize);
    qint64 inputLeft = entry.compressedSize;
    qint64 produced = 0;
    uLong crc = crc32(0, nullptr, 0);
    for (;;) {
        if (zs.avail_in == 0 && inputLeft > 0) {
            const qint64 wanted = qMin<qint64>(input.size(), inputLeft);
            if (file.read(input.data(), wanted) != wanted)
                return failed(error, corruptMessage());
            inputLeft -= wanted;
            zs.next_in = reinterpret_cast<Bytef *>(input.data());
            zs.avail_in = uInt(wanted);
        }
        zs.next_out = reinterpret_cast<Bytef *>(output.data());
        zs.avail_out = uInt(output.size());
        const int status = inflate(&zs, Z_NO_FLUSH);
        const qint64 made = output.size() - zs.avail_out;
        if (made > 0) {
            // More than the directory states: a bomb that understates its size.
            produced += made;
            if (produced > stated)
                return failed(error, tooLargeMessage());
            crc = crc32(crc, reinterpret_cast<const Bytef *>(output.constData()), uInt(made));
            if (!sink(QByteArrayView(output.constData(), made)))
                return PartStatus::Stopped;
        }
        if (status == Z_STREAM_END)
            break;
        // Z_BUF_ERROR says no progress was possible: with output space left
        // and no input to come, the stream was cut short.
        if (status == Z_BUF_ERROR && zs.avail_in == 0 && inputLeft == 0)
            return failed(error, corruptMessage());
        if (status != Z_OK && status != Z_BUF_ERROR)
            return failed(error, corruptMessage());
    }
    if (produced != stated || crc != entry.crc)
        return failed(error, corruptMessage());
    return PartStatus::Read;
}
