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

// Reads a background file. Raster images go through an image reader that
// applies the file's orientation tag, so a photo taken sideways prints upright;
// a failure gives "Failed to read image: %1" with the reader's message. A
// ".pdf" (any case) has its first page rasterised at backgroundLongSidePx on
// the long side (rasterizeFirstPdfPage), failing with that function's message.
BackgroundImage loadBackgroundImage(const QString &path);
