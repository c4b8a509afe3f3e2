#include "render/backgroundimage.h"

#include "render/pdfrasterizer.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>

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
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return {{}, QStringLiteral("Failed to read image: %1 is not a regular file").arg(QDir::toNativeSeparators(path))};

    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull())
        return {{}, QStringLiteral("Failed to read image: %1").arg(reader.errorString())};
    return {std::move(image), {}};
}
