#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

// What rasterizeFirstPdfPage gives back.
struct RasterResult
{
    QImage image;  // null on failure
    QString error; // empty on success
};

// Where the PDFium library is looked for: the PDFIUM_LIBRARY environment
// variable, then libpdfium.so in the application's library folder, then the bare name
// for the system's library search. The library is loaded at run time and never
// linked, so a machine without it still reads image backgrounds.
struct PdfiumSearch
{
    QString environmentValue;     // PDFIUM_LIBRARY; ignored when empty
    QString applicationDirectory; // lib/vellumor-vdp of an installation, else the executable's folder

    // The running process's variable and folder.
    static PdfiumSearch fromProcess();
    // The candidates in the order they are tried, duplicates dropped.
    QStringList candidates() const;
};

// The long side, in pixels, at which backgrounds are rasterised.
constexpr int backgroundLongSidePx = 2400;

// Renders page 0 of the PDF at `path` onto white, annotations included, scaled
// so that its longer side is `longSidePx` pixels (595 × 842 pt at 2400 gives
// 1696 × 2400). PDFium is initialised and destroyed around each call and
// everything acquired is released on every path; calls are serialised because
// the library's state is process-wide.
RasterResult rasterizeFirstPdfPage(const QString &path, int longSidePx);
RasterResult rasterizeFirstPdfPage(const QString &path, int longSidePx, const PdfiumSearch &search);
