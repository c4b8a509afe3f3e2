// Importing a background file into a project's resource folder: what is
// copied where, what a refused file leaves behind (nothing), and that earlier
// backgrounds are never touched.

#include "render/backgroundimage.h"
#include "render/backgroundimport.h"
#include "support/asuser.h"
#include "support/filesizelimit.h"
#include "support/hostilefiles.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr qint64 kProjectId = 7;
constexpr qint64 kEarlierMs = 1700000000000;
constexpr qint64 kNowMs = 1700000012345;

const QString kImportFailed = QStringLiteral("Background Import Failed");
const QString kRenderFailed = QStringLiteral("Background Render Failed");
const QString kCopyFailed =
    QStringLiteral("Could not copy the background file to the project resource directory");

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QImage filled(int width, int height, const QColor &color)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

// Noise compresses badly, so the image data runs over many bytes and cutting
// the file in half cuts into the pixels rather than only the trailer.
QImage noise(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(42);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, random.generate() | 0xff000000u);
    }
    return image;
}

QByteArray pngChunk(const char type[4], const QByteArray &data)
{
    QByteArray chunk;
    const quint32 length = quint32(data.size());
    chunk.append(char(length >> 24)).append(char(length >> 16)).append(char(length >> 8)).append(char(length));
    const QByteArray typed = QByteArray(type, 4) + data;
    chunk.append(typed);
    const quint32 crc = quint32(::crc32(0, reinterpret_cast<const Bytef *>(typed.constData()), uInt(typed.size())));
    chunk.append(char(crc >> 24)).append(char(crc >> 16)).append(char(crc >> 8)).append(char(crc));
    return chunk;
}

// A well-formed PNG whose header announces width × height RGBA pixels, with
// one small image data chunk: decoding it in full would take
// width × height × 4 bytes.
QByteArray pngHeaderOnly(quint32 width, quint32 height)
{
    QByteArray header;
    for (quint32 value : {width, height})
        header.append(char(value >> 24)).append(char(value >> 16)).append(char(value >> 8)).append(char(value));
    header.append(char(8)).append(char(6)).append(char(0)).append(char(0)).append(char(0));
    QByteArray rows = qCompress(QByteArray(64, '\0'));
    rows.remove(0, 4); // qCompress's length prefix; the rest is a zlib stream
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", rows)
        + pngChunk("IEND", QByteArray());
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                                  QDir::Name);
}

} // namespace

class TestBackgroundImport : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void copiesUnderANewName_data();
    void copiesUnderANewName();
    void refusedFilesLeaveNothing_data();
    void refusedFilesLeaveNothing();
    void resourceFolderCannotBeMade();
    void secondImportKeepsTheFirst();
    void storedSpecialFilesAreNotRead_data();
    void storedSpecialFilesAreNotRead();
    void readsEveryListedFormat_data();
    void readsEveryListedFormat();
    void jpegEnds_data();
    void jpegEnds();
    void readsAHundredMegapixelPhoto();

private:
    QString resourceFolder() const { return projectResourceDirectory(m_data->path(), kProjectId); }
    QString source(const QString &name) const { return m_files->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_data;  // the data directory
    std::unique_ptr<QTemporaryDir> m_files; // where the user keeps the originals
};

void TestBackgroundImport::init()
{
    m_data = std::make_unique<QTemporaryDir>();
    m_files = std::make_unique<QTemporaryDir>();
    QVERIFY(m_data->isValid() && m_files->isValid());
}

void TestBackgroundImport::cleanup()
{
    // A failed permission case may have left a folder its owner cannot empty.
    ::chmod(QFile::encodeName(resourceFolder()).constData(), 0755);
    m_data.reset();
    m_files.reset();
}

void TestBackgroundImport::copiesUnderANewName_data()
{
    QTest::addColumn<QString>("sourceName");
    QTest::addColumn<QString>("copyName");

    QTest::newRow("lower-case suffix") << "art.png" << "background-1700000012345.png";
    QTest::newRow("upper-case suffix") << "ART.PNG" << "background-1700000012345.png";
    QTest::newRow("mixed-case JPEG") << "photo.JpEg" << "background-1700000012345.jpeg";
    QTest::newRow("dots in the name") << "card v1.2.final.bmp" << "background-1700000012345.bmp";
}

void TestBackgroundImport::copiesUnderANewName()
{
    QFETCH(QString, sourceName);
    QFETCH(QString, copyName);

    const QImage original = filled(30, 20, QColor(200, 40, 40));
    const QString suffix = QFileInfo(sourceName).suffix().toLower();
    const QByteArray format = suffix == QLatin1String("jpeg") ? "JPG" : suffix.toLatin1().toUpper();
    QVERIFY(original.save(source(sourceName), format.constData()));
    const QByteArray bytes = readFile(source(sourceName));

    // The resource folder does not exist yet: it is made with its parents.
    QVERIFY(!QFileInfo::exists(QDir(m_data->path()).filePath(QStringLiteral("assets"))));
    const BackgroundImport imported = importBackgroundFile(m_data->path(), kProjectId, source(sourceName), kNowMs);

    QVERIFY2(imported.ok(), qPrintable(imported.error));
    QCOMPARE(imported.errorTitle, QString());
    QCOMPARE(resourceFolder(), QDir(m_data->path()).filePath(QStringLiteral("assets/project-7")));
    QCOMPARE(imported.path, QDir(resourceFolder()).filePath(copyName));
    QCOMPARE(entriesOf(resourceFolder()), QStringList{copyName});
    QCOMPARE(readFile(imported.path), bytes);
    QCOMPARE(readFile(source(sourceName)), bytes);
    QCOMPARE(imported.image.size(), original.size());
    const QColor centre = imported.image.pixelColor(15, 10);
    QVERIFY2(centre.red() > 180 && centre.green() < 70 && centre.blue() < 70, qPrintable(centre.name()));
}

void TestBackgroundImport::refusedFilesLeaveNothing_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message"); // "…" at the end: the start of the message
    QTest::addColumn<QString>("warning"); // a warning the reader must give, as a pattern

    const QString unreadable = QStringLiteral("Failed to read image: …");
    QTest::newRow("zero-byte file") << "empty.png" << kRenderFailed << unreadable << QString();
    QTest::newRow("text with an image suffix") << "notes.jpg" << kRenderFailed << unreadable << QString();
    QTest::newRow("truncated PNG") << "cut.png" << kRenderFailed << unreadable << QString();
    // Qt's reader fills the missing rows with grey and calls it a success.
    QTest::newRow("truncated JPEG") << "cut.jpg" << kRenderFailed
                                    << "Failed to read image: @SOURCE is cut off before the end of its picture data"
                                    << QString();
    // The header alone asks for 3.6 GB; the limit, not the missing pixels, is
    // what refuses it, before anything is allocated, and the message says so.
    QTest::newRow("PNG header of 30000 × 30000")
        << "huge.png" << kRenderFailed
        << "Failed to read image: @SOURCE (30000 × 30000 pixels) is larger than the 1024 MB image limit" << QString();
    // @COPY: the copy's path in the resource folder.
    QTest::newRow("source vanished") << "gone.png" << kImportFailed
                                     << kCopyFailed + QStringLiteral(": Could not read @SOURCE: No such file or directory")
                                     << QString();
    QTest::newRow("FIFO") << "pipe.png" << kImportFailed << kCopyFailed + QStringLiteral(": @SOURCE is not a regular file")
                          << QString();
    QTest::newRow("folder") << "folder.png" << kImportFailed
                            << kCopyFailed + QStringLiteral(": @SOURCE is not a regular file") << QString();
    QTest::newRow("read-only resource folder")
        << "read-only" << kImportFailed << kCopyFailed + QStringLiteral(": Could not write @COPY: Permission denied")
        << QString();
    QTest::newRow("name already taken") << "taken" << kImportFailed
                                        << kCopyFailed + QStringLiteral(": Could not write @COPY: File exists") << QString();
    // A copy cut short never takes the name (a file-size limit stands for
    // the full disk).
    QTest::newRow("disk full") << "full" << kImportFailed
                               << kCopyFailed + QStringLiteral(": Could not write @COPY: File too large") << QString();
}

void TestBackgroundImport::refusedFilesLeaveNothing()
{
    QFETCH(QString, situation);
    QFETCH(QString, title);
    QFETCH(QString, message);
    QFETCH(QString, warning);

    // An earlier import, which must survive every failure untouched.
    QVERIFY(QDir().mkpath(resourceFolder()));
    const QString earlier = QDir(resourceFolder()).filePath(QStringLiteral("background-%1.png").arg(kEarlierMs));
    const QByteArray earlierBytes = pngBytes(filled(8, 8, Qt::green));
    QVERIFY(writeFile(earlier, earlierBytes));
    QStringList expectedEntries{QFileInfo(earlier).fileName()};

    QString path = source(situation);
    std::unique_ptr<FifoRescue> rescue;
    std::unique_ptr<EffectiveUser> nobody;
    if (situation == QLatin1String("empty.png")) {
        QVERIFY(writeFile(path, QByteArray()));
    } else if (situation == QLatin1String("notes.jpg")) {
        QVERIFY(writeFile(path, "These are not pixels.\n"));
    } else if (situation == QLatin1String("cut.png")) {
        const QByteArray whole = pngBytes(noise(64, 64));
        QVERIFY(whole.size() > 4000);
        QVERIFY(writeFile(path, whole.left(whole.size() / 2)));
    } else if (situation == QLatin1String("cut.jpg")) {
        QByteArray whole;
        QBuffer buffer(&whole);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && noise(64, 64).save(&buffer, "JPEG", 90));
        QVERIFY(whole.size() > 4000);
        QVERIFY(writeFile(path, whole.left(whole.size() / 2)));
    } else if (situation == QLatin1String("huge.png")) {
        QVERIFY(writeFile(path, pngHeaderOnly(30000, 30000)));
    } else if (situation == QLatin1String("pipe.png")) {
        QVERIFY(makeFifo(path));
        // Turns a hang into a failure should the copy open the FIFO.
        rescue = std::make_unique<FifoRescue>(path);
    } else if (situation == QLatin1String("folder.png")) {
        QVERIFY(QDir().mkpath(path));
    } else if (situation == QLatin1String("full")) {
        path = source(QStringLiteral("art.png"));
        QVERIFY(writeFile(path, pngBytes(noise(200, 200))));
        QVERIFY(QFileInfo(path).size() > 8 * 4096);
    } else if (situation == QLatin1String("read-only") || situation == QLatin1String("taken")) {
        path = source(QStringLiteral("art.png"));
        QVERIFY(filled(8, 8, Qt::red).save(path));
        if (situation == QLatin1String("taken")) {
            // Another import in the same millisecond got there first.
            const QString taken = QDir(resourceFolder()).filePath(backgroundFileName(kNowMs, path));
            QVERIFY(writeFile(taken, "first"));
            expectedEntries.append(QFileInfo(taken).fileName());
        } else {
            QVERIFY(::chmod(QFile::encodeName(resourceFolder()).constData(), 0555) == 0);
            if (geteuid() == 0) {
                // Root writes anywhere; the other user may reach both folders
                // and read the source, but not write.
                for (const QString &folder : {m_data->path(), QDir(m_data->path()).filePath(QStringLiteral("assets")),
                                              m_files->path()})
                    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
                QVERIFY(::chmod(QFile::encodeName(path).constData(), 0644) == 0);
                nobody = std::make_unique<EffectiveUser>(kNobody, kNogroup);
                if (!nobody->isActive())
                    QSKIP("cannot switch to the unprivileged user");
            }
        }
    }
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(warning)));

    BackgroundImport imported;
    if (situation == QLatin1String("full")) {
        // Ignored, an oversized write fails with EFBIG instead of ending the test.
        const FileSizeLimit full(4096);
        QVERIFY(full.isActive());
        imported = importBackgroundFile(m_data->path(), kProjectId, path, kNowMs);
    } else {
        imported = importBackgroundFile(m_data->path(), kProjectId, path, kNowMs);
    }
    nobody.reset();

    QVERIFY(!imported.ok());
    QCOMPARE(imported.errorTitle, title);
    QCOMPARE(imported.path, QString());
    QVERIFY(imported.image.isNull());
    message.replace(QStringLiteral("@SOURCE"), QDir::toNativeSeparators(path));
    message.replace(QStringLiteral("@COPY"),
                    QDir::toNativeSeparators(QDir(resourceFolder()).filePath(backgroundFileName(kNowMs, path))));
    if (message.endsWith(u'…')) {
        message.chop(1);
        QVERIFY2(imported.error.startsWith(message) && imported.error.size() > message.size(),
                 qPrintable(imported.error));
    } else {
        QCOMPARE(imported.error, message);
    }
    QCOMPARE(entriesOf(resourceFolder()), expectedEntries);
    QCOMPARE(readFile(earlier), earlierBytes);
    if (situation == QLatin1String("taken"))
        QCOMPARE(readFile(QDir(resourceFolder()).filePath(expectedEntries.last())), QByteArray("first"));
}

void TestBackgroundImport::resourceFolderCannotBeMade()
{
    // A file where the project's folder belongs, as a stray copy or another
    // program might leave it.
    QVERIFY(QDir().mkpath(QDir(m_data->path()).filePath(QStringLiteral("assets"))));
    QVERIFY(writeFile(resourceFolder(), "in the way"));
    const QString path = source(QStringLiteral("art.png"));
    QVERIFY(filled(8, 8, Qt::red).save(path));

    const BackgroundImport imported = importBackgroundFile(m_data->path(), kProjectId, path, kNowMs);

    QVERIFY(!imported.ok());
    QCOMPARE(imported.errorTitle, kImportFailed);
    QCOMPARE(imported.error, QStringLiteral("Could not create the project resource directory ") + resourceFolder());
    QCOMPARE(readFile(resourceFolder()), QByteArray("in the way"));
    QCOMPARE(entriesOf(QDir(m_data->path()).filePath(QStringLiteral("assets"))), QStringList{"project-7"});
}

void TestBackgroundImport::secondImportKeepsTheFirst()
{
    const QString first = source(QStringLiteral("first.png"));
    const QString second = source(QStringLiteral("second.png"));
    QVERIFY(filled(10, 10, Qt::red).save(first));
    QVERIFY(filled(10, 10, Qt::blue).save(second));

    const BackgroundImport one = importBackgroundFile(m_data->path(), kProjectId, first, kEarlierMs);
    const BackgroundImport two = importBackgroundFile(m_data->path(), kProjectId, second, kNowMs);

    QVERIFY2(one.ok() && two.ok(), qPrintable(one.error + two.error));
    QCOMPARE(entriesOf(resourceFolder()),
             (QStringList{"background-1700000000000.png", "background-1700000012345.png"}));
    QCOMPARE(two.path, QDir(resourceFolder()).filePath(QStringLiteral("background-1700000012345.png")));
    QCOMPARE(two.image.pixelColor(5, 5), QColor(Qt::blue));
    QCOMPARE(readFile(one.path), readFile(first));
    QCOMPARE(readFile(two.path), readFile(second));
}

void TestBackgroundImport::storedSpecialFilesAreNotRead_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message"); // "@PATH" stands for the file
    QTest::newRow("FIFO named like a picture") << "art.png" << "Failed to read image: @PATH is not a regular file";
    QTest::newRow("folder named like a picture") << "art.jpg" << "Failed to read image: @PATH is not a regular file";
    QTest::newRow("FIFO named like a PDF") << "art.pdf" << "Could not read the PDF: @PATH is not a regular file";
}

// A stored background path that has become a FIFO or a folder is read when
// the window opens the project and when a job is exported: refused at once
// rather than waiting forever for a writer.
void TestBackgroundImport::storedSpecialFilesAreNotRead()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    const QString path = QDir(m_files->path()).filePath(name);
    std::unique_ptr<FifoRescue> rescue;
    if (name.endsWith(QLatin1String(".jpg"))) {
        QVERIFY(QDir().mkpath(path));
    } else {
        QVERIFY(makeFifo(path));
        rescue = std::make_unique<FifoRescue>(path);
    }
    const BackgroundImage read = loadBackgroundImage(path);
    QVERIFY(read.image.isNull());
    QCOMPARE(read.error, QString(message).replace(QStringLiteral("@PATH"), QDir::toNativeSeparators(path)));
}

void TestBackgroundImport::readsEveryListedFormat_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<bool>("progressive");

    // The formats the README promises; TIFF and WebP come from Qt's
    // image-format plug-ins, which the set-up and the package bring.
    QTest::newRow("PNG") << "art.png" << QByteArray("png") << false;
    QTest::newRow("JPEG") << "art.jpg" << QByteArray("jpeg") << false;
    QTest::newRow("progressive JPEG") << "art.jpeg" << QByteArray("jpeg") << true;
    QTest::newRow("BMP") << "art.bmp" << QByteArray("bmp") << false;
    QTest::newRow("TIFF") << "art.tif" << QByteArray("tiff") << false;
    QTest::newRow("TIFF, long suffix") << "art.tiff" << QByteArray("tiff") << false;
    QTest::newRow("WebP") << "art.webp" << QByteArray("webp") << false;
}

// Each listed format is read with its pixels where they were written: a red
// left half and a blue right half.
void TestBackgroundImport::readsEveryListedFormat()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, format);
    QFETCH(bool, progressive);

    QImage art = filled(120, 80, Qt::blue);
    for (int y = 0; y < 80; ++y) {
        for (int x = 0; x < 60; ++x)
            art.setPixelColor(x, y, Qt::red);
    }
    const QString path = source(name);
    QImageWriter writer(path, format);
    writer.setQuality(95);
    writer.setProgressiveScanWrite(progressive);
    QVERIFY2(writer.write(art), qPrintable(writer.errorString()));

    const BackgroundImage read = loadBackgroundImage(path);
    QCOMPARE(read.error, QString());
    QCOMPARE(read.image.size(), QSize(120, 80));
    const QColor left = read.image.pixelColor(20, 40);
    const QColor right = read.image.pixelColor(100, 40);
    QVERIFY2(left.red() > 200 && left.blue() < 50, qPrintable(left.name()));
    QVERIFY2(right.blue() > 200 && right.red() < 50, qPrintable(right.name()));
}

void TestBackgroundImport::jpegEnds_data()
{
    QTest::addColumn<QString>("cut");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("whole") << "whole" << true;
    // Cameras append their own data (a second picture, a video) after the end.
    QTest::newRow("bytes after the end marker") << "appended" << true;
    QTest::newRow("an end marker in the Exif thumbnail, then cut") << "thumbnail" << false;
    QTest::newRow("cut in the last scan") << "last scan" << false;
    QTest::newRow("only the end marker missing") << "no end" << false;
    QTest::newRow("progressive, cut after the first scans") << "progressive" << false;
    QTest::newRow("headers only") << "headers" << false;
}

// A JPEG is taken only when its data reaches the end-of-image marker.
void TestBackgroundImport::jpegEnds()
{
    QFETCH(QString, cut);
    QFETCH(bool, accepted);

    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        QVERIFY(buffer.open(QIODevice::WriteOnly));
        QImageWriter writer(&buffer, "jpeg");
        writer.setQuality(90);
        writer.setProgressiveScanWrite(cut == u"progressive");
        QVERIFY(writer.write(noise(96, 64)));
    }
    QVERIFY(jpeg.endsWith("\xff\xd9"));
    const qsizetype scan = jpeg.indexOf("\xff\xda");
    QVERIFY(scan > 0);
    if (cut == u"appended") {
        jpeg += QByteArray("\x00\x00\x00\x18" "ftypmp42", 12) + QByteArray(64, 'v');
    } else if (cut == u"thumbnail") {
        // An APP1 segment holding a complete tiny JPEG, then the picture cut.
        const QByteArray thumbnail = QByteArray("Exif\0\0", 6) + QByteArray::fromHex("ffd8ffd9");
        QByteArray app1 = QByteArray::fromHex("ffe1");
        app1 += char((thumbnail.size() + 2) >> 8);
        app1 += char((thumbnail.size() + 2) & 0xff);
        jpeg = jpeg.left(2) + app1 + thumbnail + jpeg.mid(2);
        jpeg.chop(jpeg.size() / 3);
    } else if (cut == u"last scan") {
        jpeg.chop((jpeg.size() - scan) / 2);
    } else if (cut == u"no end") {
        jpeg.chop(2);
    } else if (cut == u"progressive") {
        const qsizetype lastScan = jpeg.lastIndexOf("\xff\xda");
        QVERIFY(lastScan > scan); // more than one scan
        jpeg.truncate(lastScan);
    } else if (cut == u"headers") {
        jpeg.truncate(scan);
    }
    const QString path = source(QStringLiteral("photo.jpg"));
    QVERIFY(writeFile(path, jpeg));

    const BackgroundImage read = loadBackgroundImage(path);
    if (accepted) {
        QCOMPARE(read.error, QString());
        QCOMPARE(read.image.size(), QSize(96, 64));
    } else {
        QCOMPARE(read.error, QStringLiteral("Failed to read image: %1 is cut off before the end of its picture data")
                                 .arg(QDir::toNativeSeparators(path)));
        QVERIFY(read.image.isNull());
    }
}

// 12000 × 9000 (108 megapixels, 412 MB decoded) is over Qt's own 128 MB
// allocation limit; a print shop's photo of that size reads in full.
void TestBackgroundImport::readsAHundredMegapixelPhoto()
{
    constexpr int width = 12000;
    constexpr int height = 9000;
    QByteArray header;
    for (quint32 value : {quint32(width), quint32(height)})
        header.append(char(value >> 24)).append(char(value >> 16)).append(char(value >> 8)).append(char(value));
    header.append(char(8)).append(char(0)).append(char(0)).append(char(0)).append(char(0)); // 8-bit grey
    // Rows of filter byte 0 and mid grey, compressed as they go.
    QByteArray row(width + 1, char(0x80));
    row[0] = 0;
    z_stream stream{};
    QCOMPARE(deflateInit(&stream, 1), Z_OK);
    QByteArray idat;
    QByteArray out(1 << 20, Qt::Uninitialized);
    for (int y = 0; y < height; ++y) {
        stream.next_in = reinterpret_cast<Bytef *>(row.data());
        stream.avail_in = uInt(row.size());
        const int flush = y + 1 == height ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef *>(out.data());
            stream.avail_out = uInt(out.size());
            deflate(&stream, flush);
            idat.append(out.constData(), out.size() - qsizetype(stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    const QString path = source(QStringLiteral("photo.png"));
    QVERIFY(writeFile(path, QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", idat)
                                + pngChunk("IEND", QByteArray())));

    const BackgroundImage read = loadBackgroundImage(path);
    QCOMPARE(read.error, QString());
    QCOMPARE(read.image.size(), QSize(width, height));
    QCOMPARE(read.image.pixelColor(width - 1, height - 1), QColor(0x80, 0x80, 0x80));
}

QTEST_MAIN(TestBackgroundImport)
#include "tst_backgroundimport.moc"
