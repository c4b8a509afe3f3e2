#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <memory>

class QZipReader;

// An Excel package (a ZIP archive) opened for reading its parts.
//
// QZipReader opens the package and lists its entries. Extraction is done here:
// QZipReader::fileData() trusts the directory's uncompressed size and keeps
// doubling its buffer while the data inflates to more, so a deflate bomb whose
// directory understates its size would exhaust memory. We read the entry's
// compressed bytes from the offsets of the central directory (PKWARE APPNOTE
// 6.3, sections 4.3.7, 4.3.12 and 4.3.16) and inflate them into a buffer that
// may not grow past the stated size.
class XlsxPackage
{
public:
    // Largest uncompressed part we read, in bytes.
    static constexpr qint64 maxPartSize = 128 * 1024 * 1024;

    static QString couldNotOpenMessage();
    static QString tooLargeMessage();

    XlsxPackage();
    ~XlsxPackage();
    XlsxPackage(const XlsxPackage &) = delete;
    XlsxPackage &operator=(const XlsxPackage &) = delete;

    // Fails with the could-not-open message when the file cannot be read or
    // holds no ZIP end-of-central-directory record (not a ZIP archive at all),
    // and with the reader's "not a regular file" message for a folder, a
    // device or a FIFO, which is never opened.
    bool open(const QString &path, QString *error);

    enum class PartStatus { Read, Missing, Failed };

    // The uncompressed bytes of the entry named exactly `partPath`.
    // Missing leaves `error` alone; Failed puts the reason there.
    PartStatus readPart(const QString &partPath, QByteArray *data, QString *error);

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
    bool extract(const DirectoryEntry &entry, QByteArray *data, QString *error);
    bool readStored(const DirectoryEntry &entry, qint64 dataOffset, QByteArray *data,
                    QString *error);
    bool inflateDeflated(const DirectoryEntry &entry, qint64 dataOffset, QByteArray *data,
                         QString *error);

    QFile file;
    std::unique_ptr<QZipReader> zip;
    QList<DirectoryEntry> directory;
};
