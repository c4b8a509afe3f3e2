#include "render/backgroundimage.h"

#include "model/regularfile.h"
#include "render/pdfrasterizer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace {

// Walks the JPEG's segments from the start-of-image marker and through each
// scan's entropy-coded data: true when an end-of-image marker is reached.
// Qt's reader fills the rows of a cut-off file with grey and reports success,
// so this is what refuses one. Segments are skipped by their lengths, so a
// thumbnail's own end marker inside the Exif data does not count, and bytes a
// camera appends after the end marker do not matter.
bool jpegReachesItsEnd(const QByteArray &data)
{
    const auto at = [&data](qsizetype i) { return quint8(data.at(i)); };
    const qsizetype size = data.size();
    if (size < 4 || at(0) != 0xFF || at(1) != 0xD8)
        return false;
    qsizetype i = 2;
    while (i + 1 < size) {
        if (at(i) != 0xFF)
            return false;
        const quint8 marker = at(i + 1);
        if (marker == 0xFF) { // fill byte before a marker
            ++i;
            continue;
        }
        if (marker == 0xD9)
            return true;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { // no length
            i += 2;
            continue;
        }
        if (i + 3 >= size)
            return false;
        const qsizetype length = (qsizetype(at(i + 2)) << 8) | at(i + 3);
        if (length < 2)
            return false;
        i += 2 + length;
        if (marker != 0xDA)
            continue;
        // Entropy-coded data runs to the next marker that is neither a
        // stuffed zero nor a restart marker.
        while (i + 1 < size) {
            if (at(i) == 0xFF) {
                const quint8 next = at(i + 1);
                if (next != 0x00 && next != 0xFF && !(next >= 0xD0 && next <= 0xD7))
                    break;
                i += next == 0xFF ? 1 : 2;
            } else {
                ++i;
            }
        }
    }
    return false;
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

BackgroundImage loadBackgroundImage(const QString &path)
{
    if (QFileInfo(path).suffix().compare(QStringLiteral("pdf"), Qt::CaseInsensitive) == 0) {
        RasterResult raster = rasterizeFirstPdfPage(path, backgroundLongSidePx);
        // The page was rendered onto opaque white. Saying so (in place, no
        // copy) spares the PDF writer a scan for transparency and a soft mask
        // as large as the picture in every export.
        if (!raster.image.isNull())
            raster.image.convertTo(QImage::Format_RGB32);
        return {std::move(raster.image), std::move(raster.error)};
    }

    // A FIFO or device named like a picture would block the reader, and the
    // window reads backgrounds when it opens a project.
    QString notRegular;
    if (!checkRegularFile(path, &notRegular))
        return {{}, QStringLiteral("Failed to read image: %1").arg(notRegular)};

    // Known by its content, as the reader knows it, whatever the suffix. The
    // bytes read for the check are the ones decoded: a photo is read once.
    // A file that does not open is left to the reader's own message.
    QByteArray jpeg;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && file.peek(2) == QByteArrayLiteral("\xff\xd8")) {
        jpeg = file.readAll();
        if (!jpegReachesItsEnd(jpeg))
            return {{}, QStringLiteral("Failed to read image: %1 is cut off before the end of its picture data")
                            .arg(native(path))};
    }
    file.close();
    QBuffer jpegBuffer(&jpeg);
    QImageReader reader;
    if (jpeg.isEmpty())
        reader.setFileName(path);
    else
        reader.setDevice(&jpegBuffer);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(backgroundImageLimitMb);
    // The size from the header is checked here so that the message names the
    // limit, where the reader would only say that it cannot read the data.
    // Every picture is drawn at four bytes a pixel, whatever its file holds.
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() * 4 > qint64(backgroundImageLimitMb) * 1024 * 1024) {
        return {{}, QStringLiteral("Failed to read image: %1 (%2 × %3 pixels) is larger than the %4 MB image limit")
                        .arg(native(path))
                        .arg(size.width())
                        .arg(size.height())
                        .arg(backgroundImageLimitMb)};
    }
    QImage image = reader.read();
    if (image.isNull())
        return {{}, QStringLiteral("Failed to read image: %1").arg(reader.errorString())};
    return {std::move(image), {}};
}
