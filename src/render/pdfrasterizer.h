#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdio>

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

// What a rasterisation may cost before it is stopped. PDFium decodes every
// stream of the page in full, so a small file can ask for gigabytes, or loop.
struct PdfRasterLimits
{
    qint64 addressSpaceBytes = qint64(1) << 30; // the renderer process's whole address space
    int timeoutMs = 30000;
};

// The renderer process, found beside the running executable (the build
// tree), then in the private library folder of an installation.
constexpr char pdfRasterHelperName[] = "vellumor-vdp-pdfraster";
// Its exit status when an allocation failed under the memory limit.
constexpr int pdfRasterOutOfMemoryExit = 3;

// Renders page 0 of the PDF at `path` onto white, annotations included, scaled
// so that its longer side is `longSidePx` pixels (595 × 842 pt at 2400 gives
// 1696 × 2400). PDFium runs in a child process (pdfRasterHelperName) under
// `limits`: a PDF that needs more memory fails with "The PDF needs more than
// 1 GB to render", one that takes longer with "The PDF took longer than 30
// seconds to render", and a crash of the renderer is a message as well, never
// a crash of the caller. The library's own failures keep their messages.
RasterResult rasterizeFirstPdfPage(const QString &path, int longSidePx);
RasterResult rasterizeFirstPdfPage(const QString &path, int longSidePx, const PdfiumSearch &search);
RasterResult rasterizeFirstPdfPage(const QString &path, int longSidePx, const PdfiumSearch &search,
                                   const PdfRasterLimits &limits);

// The renderer process's side. PDFium is initialised and destroyed around
// each call and everything acquired is released on every path; calls are
// serialised because the library's state is process-wide.
RasterResult rasterizeFirstPdfPageInProcess(const QString &path, int longSidePx, const PdfiumSearch &search);
// Writes `result` as the parent reads it: "VDPRASTER OK W H\n" and W × H
// ARGB32 pixels row by row, or "VDPRASTER ERROR\n" and the UTF-8 message.
// False when the result is an error or the output could not be written.
bool writePdfRasterReply(const RasterResult &result, std::FILE *out);
