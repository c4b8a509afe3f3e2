#include "render/backgroundimage.h"

#include "render/pdfrasterizer.h"

#include <QFileInfo>
#include <QImageReader>

BackgroundImage loadBackgroundImage(const QString &path)
{
    if (QFileInfo(path).suffix().compare(QStringLiteral("pdf"), Qt::CaseInsensitive) == 0) {
        RasterResult raster = rasterizeFirstPdfPage(path, backgroundLongSidePx);
        return {std::move(raster.image), std::move(raster.error)};
    }

    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull())
        return {{}, QStringLiteral("Failed to read image: %1").arg(reader.errorString())};
    return {std::move(image), {}};
}
