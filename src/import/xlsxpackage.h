#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QZipReader;

// An Excel package (a ZIP archive) opened for reading its parts.
//
// QZipReader opens the package and lists its entries. Extraction is done here:
// QZipReader::fileData() trusts the directory's uncompressed size and keeps
// doubling its buffer while the data inflates to more, so a deflate bomb whose
// directory understates its size would exhaust memory. We read the entry's
// compressed bytes from the offsets of the central directory (PKWARE APPNOTE
// 6.3, sections 4.3.7, 4.3.12 and 4.3.16) and inflate them a piece at a time
// through one reused buffer, refusing the entry as soon as it yields more than
// the stated size. Small parts are gathered whole; the large ones (worksheet,
// shared strings) are streamed to their reader piece by piece.
class XlsxPackage
{
public:
    // Largest uncompressed part we read, in bytes.
    static constexpr qint64 maxPartSize = 128 * 1024 * 1024;
    // Compressed size from which streamPart() extracts on a thread of its
    // own. Inflating is about a tenth of the time a large sheet takes to
    // read, and that thread does it while the pieces before are read; for a
    // small part, starting a thread would cost more than it saves.
    static constexpr qint64 threadedMinimum = 256 * 1024;

    static QString couldNotOpenMessage();
    static QString tooLargeMessage();
    static QString missingMessage(const QString &partPath);

    XlsxPackage();
    ~XlsxPackage();
    XlsxPackage(const XlsxPackage &) = delete;
    XlsxPackage &operator=(const XlsxPackage &) = delete;

    // Fails with the could-not-open message when the file cannot be read or
    // holds no ZIP end-of-central-directory record (not a ZIP archive at all),
    // and with the reader's "not a regular file" message for a folder, a
    // device or a FIFO, which is never opened.
    bool open(const QString &path, QString *error);

    enum class PartStatus { Read, Missing, Failed, Stopped };

    // The uncompressed bytes of the entry named exactly `partPath`.
    // Missing leaves `error` alone; Failed puts the reason there.
    PartStatus readPart(const QString &partPath, QByteArray *data, QString *error);

    enum class Need { Required, Optional };
    // The same, or nothing with the message; a missing required part fails
    // with missingMessage(), a missing optional one comes back empty and
    // leaves `error` alone.
    std::optional<QByteArray> partBytes(const QString &partPath, Need need, QString *error);

    // The same bytes, handed to `sink` in pieces of at most 64 KiB as they
    // are inflated, with the same checks and messages. A failure may come
    // after pieces went out (a checksum is known at the end only): the
    // pieces are then worthless. When `sink` returns false, extraction ends
    // there with Stopped, unchecked, and `error` is left alone. A large part
    // is extracted on a thread of its own; `sink` is always called on the
    // calling thread.
    using Sink = std::function<bool(QByteArrayView)>;
    PartStatus streamPart(const QString &partPath, const Sink &sink, QString *error);

private:
    // The fields of one central-directory record that extraction needs.
    struct DirectoryEntry
    {
        quint16 flags = 0;
        quint16 method = 0;
        quint32 crc = 0;
        quint32 compressedSize = 0;
        quint32 uncompressedSize = 0;
        quint32 localHeaderOffset = 0;
    };

    bool readCentralDirectory();
    PartStatus findPart(const QString &partPath, const DirectoryEntry **entry, QString *error);
    PartStatus extract(const DirectoryEntry &entry, const Sink &sink, QString *error);
    PartStatus readStored(const DirectoryEntry &entry, qint64 dataOffset, const Sink &sink, QString *error);
    PartStatus inflateDeflated(const DirectoryEntry &entry, qint64 dataOffset, const Sink &sink,
                               QString *error);

    QFile file;
    std::unique_ptr<QZipReader> zip;
    QList<DirectoryEntry> directory;
    // Compressed bytes read, and uncompressed bytes made, a piece at a time;
    // kept for every part, since fresh buffers cost page faults on every use.
    QByteArray input;
    QByteArray output;
};
