#pragma once

#include <QImage>
#include <QString>

// The picture of one card side, as the canvas, the preview and the export
// stretch it over the card.
struct BackgroundImage
{
    QImage image;  // null on failure
    QString error; // empty on success
};

// The most a background picture may take once decoded, at four bytes a pixel:
// 268 megapixels, room for a print shop's largest photos.
constexpr int backgroundImageLimitMb = 1024;

// Reads a background file. Raster images go through an image reader that
// applies the file's orientation tag, so a photo taken sideways prints upright;
// a failure gives "Failed to read image: %1" with the reader's message, or
// names the file when its picture is over backgroundImageLimitMb or a JPEG is
// cut off (which Qt's reader would fill with grey and accept). A
// ".pdf" (any case) has its first page rasterised at backgroundLongSidePx on
// the long side (rasterizeFirstPdfPage), failing with that function's message.
BackgroundImage loadBackgroundImage(const QString &path);
