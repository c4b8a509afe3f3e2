#include "import/xlsxpackage.h"
#include "import/tablereader.h"

#include <QtEndian>
#include <QtGui/private/qzipreader_p.h>

#include <zlib.h>

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
constexpr qint64 inputChunkSize = 64 * 1024;

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

} // namespace

QString XlsxPackage::couldNotOpenMessage()
{
    return QStringLiteral("Could not open the Excel file. It may be corrupted or not an xlsx file");
}

QString XlsxPackage::tooLargeMessage()
{
    return QStringLiteral("The Excel worksheet is too large to import safely");
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

XlsxPackage::PartStatus XlsxPackage::readPart(const QString &partPath, QByteArray *data,
                                              QString *error)
{
    data->clear();
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
        return extract(directory.at(i), data, error) ? PartStatus::Read : PartStatus::Failed;
    }
    return PartStatus::Missing;
}

bool XlsxPackage::extract(const DirectoryEntry &entry, QByteArray *data, QString *error)
{
    if ((entry.flags & encryptedFlag) != 0
        || (entry.method != methodStored && entry.method != methodDeflated))
        return fail(error, unsupportedMessage());

    // The local header's own sizes may be zero (bit 3: sizes in a trailing
    // data descriptor), so only its variable-length fields are taken from it.
    char header[localHeaderSize];
    if (!file.seek(entry.localHeaderOffset)
        || file.read(header, localHeaderSize) != localHeaderSize
        || u32(header) != localHeaderSignature)
        return fail(error, corruptMessage());
    const qint64 dataOffset = qint64(entry.localHeaderOffset) + localHeaderSize + u16(header + 26)
                              + u16(header + 28);
    if (dataOffset + qint64(entry.compressedSize) > file.size())
        return fail(error, corruptMessage());

    const bool ok = entry.method == methodStored ? readStored(entry, dataOffset, data, error)
                                                 : inflateDeflated(entry, dataOffset, data, error);
    if (!ok) {
        data->clear();
        return false;
    }
    return true;
}

bool XlsxPackage::readStored(const DirectoryEntry &entry, qint64 dataOffset, QByteArray *data,
                             QString *error)
{
    if (entry.compressedSize > entry.uncompressedSize)
        return fail(error, tooLargeMessage());
    if (entry.compressedSize < entry.uncompressedSize || !file.seek(dataOffset))
        return fail(error, corruptMessage());
    *data = file.read(entry.compressedSize);
    if (data->size() != qsizetype(entry.compressedSize)
        || crc32(0, reinterpret_cast<const Bytef *>(data->constData()), uInt(data->size()))
               != entry.crc)
        return fail(error, corruptMessage());
    return true;
}

bool XlsxPackage::inflateDeflated(const DirectoryEntry &entry, qint64 dataOffset,
                                  QByteArray *data, QString *error)
{
    const qint64 stated = entry.uncompressedSize;
    // One byte over the stated size is room enough to notice that the data is
    // larger than the directory says.
    const qint64 limit = stated + 1;
    QByteArray output;
    output.resize(qMin(limit, qint64(entry.compressedSize) * maxDeflateRatio + 1024));

    Inflater inflater;
    if (!inflater.ready || !file.seek(dataOffset))
        return fail(error, corruptMessage());
    z_stream &zs = inflater.stream;

    QByteArray input(qMin<qint64>(inputChunkSize, qMax<qint64>(entry.compressedSize, 1)),
                     Qt::Uninitialized);
    qint64 inputLeft = entry.compressedSize;
    qint64 produced = 0;
    uLong crc = crc32(0, nullptr, 0);
    for (;;) {
        if (zs.avail_in == 0 && inputLeft > 0) {
            const qint64 wanted = qMin<qint64>(input.size(), inputLeft);
            if (file.read(input.data(), wanted) != wanted)
                return fail(error, corruptMessage());
            inputLeft -= wanted;
            zs.next_in = reinterpret_cast<Bytef *>(input.data());
            zs.avail_in = uInt(wanted);
        }
        if (produced == output.size())
            output.resize(qMin(limit, qMax<qint64>(output.size() * 2, 4096)));
        zs.next_out = reinterpret_cast<Bytef *>(output.data() + produced);
        zs.avail_out = uInt(output.size() - produced);
        const int status = inflate(&zs, Z_NO_FLUSH);
        const qint64 before = produced;
        produced = output.size() - zs.avail_out;
        crc = crc32(crc, reinterpret_cast<const Bytef *>(output.constData() + before),
                    uInt(produced - before));
        if (produced > stated)
            return fail(error, tooLargeMessage());
        if (status == Z_STREAM_END)
            break;
        // Z_BUF_ERROR says no progress was possible: with output space left
        // and no input to come, the stream was cut short.
        if (status == Z_BUF_ERROR && zs.avail_in == 0 && inputLeft == 0)
            return fail(error, corruptMessage());
        if (status != Z_OK && status != Z_BUF_ERROR)
            return fail(error, corruptMessage());
    }
    if (produced != stated || crc != entry.crc)
        return fail(error, corruptMessage());
    output.truncate(produced);
    *data = std::move(output);
    return true;
}
