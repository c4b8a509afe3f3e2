#pragma once

// Image files made for the command-line and window tests.

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QtGlobal>

// The Exif orientation that asks for the stored pixels to be turned a
// quarter turn clockwise to stand upright, as a camera held upright writes it.
constexpr quint16 kExifTurnedClockwise = 6;

// A JPEG of `image` (quality 95) with an Exif orientation tag. The APP1
// segment goes right after the JFIF APP0 header, where cameras put it.
inline QByteArray jpegWithOrientation(const QImage &image, quint16 orientation)
{
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPEG", 95);
    }

    // TIFF header (big-endian, first IFD at 8), one IFD entry: Orientation
    // (0x0112), SHORT, one value, padded to four bytes; no next IFD.
    QByteArray tiff = QByteArray::fromHex("4d4d002a00000008"
                                          "0001"
                                          "0112000300000001");
    tiff += char(orientation >> 8);
    tiff += char(orientation & 0xff);
    tiff += QByteArray(2, '\0');
    tiff += QByteArray(4, '\0');
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    const int length = int(payload.size()) + 2;
    QByteArray app1 = QByteArray::fromHex("ffe1");
    app1 += char(length >> 8);
    app1 += char(length & 0xff);
    app1 += payload;

    // SOI, then APP0 (ff e0 and its length), then the rest.
    int insertAt = 2;
    if (jpeg.mid(2, 2) == QByteArray::fromHex("ffe0"))
        insertAt = 4 + ((quint8(jpeg.at(4)) << 8) | quint8(jpeg.at(5)));
    return jpeg.left(insertAt) + app1 + jpeg.mid(insertAt);
}
