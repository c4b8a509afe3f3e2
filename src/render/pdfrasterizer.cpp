#include "render/pdfrasterizer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>

#include <climits>
#include <cmath>
#include <mutex>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// PDFium's own C signatures (fpdfview.h). Handles are opaque pointers.
using FpdfDocument = void *;
using FpdfPage = void *;
using FpdfBitmap = void *;

using InitLibraryFn = void (*)();
using DestroyLibraryFn = void (*)();
using LoadMemDocumentFn = FpdfDocument (*)(const void *data, int size, const char *password);
using CloseDocumentFn = void (*)(FpdfDocument);
using GetPageCountFn = int (*)(FpdfDocument);
using LoadPageFn = FpdfPage (*)(FpdfDocument, int index);
using ClosePageFn = void (*)(FpdfPage);
using PageSizeFFn = float (*)(FpdfPage);
using PageSizeFn = double (*)(FpdfPage);
using BitmapCreateExFn = FpdfBitmap (*)(int width, int height, int format, void *firstScan, int stride);
using BitmapDestroyFn = void (*)(FpdfBitmap);
// Returns FPDF_BOOL in newer builds and void in older ones; the result is not needed.
using BitmapFillRectFn = void (*)(FpdfBitmap, int left, int top, int width, int height, unsigned long color);
using RenderPageBitmapFn = void (*)(FpdfBitmap, FpdfPage, int startX, int startY, int sizeX, int sizeY,
                                    int rotate, int flags);

constexpr int bitmapFormatBgra = 4; // FPDFBitmap_BGRA
constexpr int renderAnnotations = 0x01; // FPDF_ANNOT
constexpr unsigned long opaqueWhite = 0xFFFFFFFFul;

#ifdef Q_OS_WIN
const QString libraryFileName = QStringLiteral("pdfium.dll");
#else
const QString libraryFileName = QStringLiteral("libpdfium.so");
#endif

struct PdfiumApi
{
    InitLibraryFn initLibrary = nullptr;
    DestroyLibraryFn destroyLibrary = nullptr;
    LoadMemDocumentFn loadMemDocument = nullptr;
    CloseDocumentFn closeDocument = nullptr;
    GetPageCountFn getPageCount = nullptr;
    LoadPageFn loadPage = nullptr;
    ClosePageFn closePage = nullptr;
    PageSizeFFn pageWidthF = nullptr;
    PageSizeFn pageWidth = nullptr;
    PageSizeFFn pageHeightF = nullptr;
    PageSizeFn pageHeight = nullptr;
    BitmapCreateExFn bitmapCreateEx = nullptr;
    BitmapDestroyFn bitmapDestroy = nullptr;
    BitmapFillRectFn bitmapFillRect = nullptr;
    RenderPageBitmapFn renderPageBitmap = nullptr;

    bool complete() const
    {
        return initLibrary && destroyLibrary && loadMemDocument && closeDocument && getPageCount && loadPage
            && closePage && (pageWidthF || pageWidth) && (pageHeightF || pageHeight) && bitmapCreateEx
            && bitmapDestroy && bitmapFillRect && renderPageBitmap;
    }
};

template<typename Fn>
Fn resolve(QLibrary &library, const char *name)
{
    return reinterpret_cast<Fn>(library.resolve(name));
}

PdfiumApi resolveApi(QLibrary &library)
{
    PdfiumApi api;
    api.initLibrary = resolve<InitLibraryFn>(library, "FPDF_InitLibrary");
    api.destroyLibrary = resolve<DestroyLibraryFn>(library, "FPDF_DestroyLibrary");
    api.loadMemDocument = resolve<LoadMemDocumentFn>(library, "FPDF_LoadMemDocument");
    api.closeDocument = resolve<CloseDocumentFn>(library, "FPDF_CloseDocument");
    api.getPageCount = resolve<GetPageCountFn>(library, "FPDF_GetPageCount");
    api.loadPage = resolve<LoadPageFn>(library, "FPDF_LoadPage");
    api.closePage = resolve<ClosePageFn>(library, "FPDF_ClosePage");
    api.pageWidthF = resolve<PageSizeFFn>(library, "FPDF_GetPageWidthF");
    api.pageWidth = resolve<PageSizeFn>(library, "FPDF_GetPageWidth");
    api.pageHeightF = resolve<PageSizeFFn>(library, "FPDF_GetPageHeightF");
    api.pageHeight = resolve<PageSizeFn>(library, "FPDF_GetPageHeight");
    api.bitmapCreateEx = resolve<BitmapCreateExFn>(library, "FPDFBitmap_CreateEx");
    api.bitmapDestroy = resolve<BitmapDestroyFn>(library, "FPDFBitmap_Destroy");
    api.bitmapFillRect = resolve<BitmapFillRectFn>(library, "FPDFBitmap_FillRect");
    api.renderPageBitmap = resolve<RenderPageBitmapFn>(library, "FPDF_RenderPageBitmap");
    return api;
}

RasterResult failure(const QString &message)
{
    return {QImage(), message};
}

// Everything after the library is initialised. Each early return releases
// what this function acquired; the caller destroys the library.
RasterResult renderFirstPage(const PdfiumApi &api, const QByteArray &bytes, int longSidePx)
{
    FpdfDocument document = api.loadMemDocument(bytes.constData(), int(bytes.size()), nullptr);
    if (!document)
        return failure(QStringLiteral("PDFium could not open the PDF. It may be corrupted or password-protected"));

    if (api.getPageCount(document) < 1) {
        api.closeDocument(document);
        return failure(QStringLiteral("The PDF has no renderable pages"));
    }

    FpdfPage page = api.loadPage(document, 0);
    if (!page) {
        api.closeDocument(document);
        return failure(QStringLiteral("Failed to load the first PDF page"));
    }

    const double width = api.pageWidthF ? double(api.pageWidthF(page)) : api.pageWidth(page);
    const double height = api.pageHeightF ? double(api.pageHeightF(page)) : api.pageHeight(page);
    // Written as "not greater than zero" so that NaN is refused as well.
    if (!(width > 0) || !(height > 0) || !std::isfinite(width) || !std::isfinite(height)) {
        api.closePage(page);
        api.closeDocument(document);
        return failure(QStringLiteral("The PDF page size is invalid"));
    }

    const double scale = double(longSidePx) / std::max(width, height);
    const int pixelWidth = std::max(1L, std::lround(width * scale));
    const int pixelHeight = std::max(1L, std::lround(height * scale));

    QImage image(pixelWidth, pixelHeight, QImage::Format_ARGB32);
    FpdfBitmap bitmap = nullptr;
    if (!image.isNull()) {
        image.fill(Qt::white);
        // Format_ARGB32 is B, G, R, A in memory on little-endian machines:
        // PDFium's BGRA, so it renders straight into the image.
        bitmap = api.bitmapCreateEx(pixelWidth, pixelHeight, bitmapFormatBgra, image.bits(),
                                    int(image.bytesPerLine()));
    }
    if (!bitmap) {
        api.closePage(page);
        api.closeDocument(document);
        return failure(QStringLiteral("Could not create the PDF bitmap buffer"));
    }

    api.bitmapFillRect(bitmap, 0, 0, pixelWidth, pixelHeight, opaqueWhite);
    api.renderPageBitmap(bitmap, page, 0, 0, pixelWidth, pixelHeight, 0, renderAnnotations);
    api.bitmapDestroy(bitmap);
    api.closePage(page);
    api.closeDocument(document);
    return {std::move(image), QString()};
}

} // namespace

PdfiumSearch PdfiumSearch::fromProcess()
{
    // An installation keeps its private libraries in PREFIX/lib/vellumor-vdp
    // for PREFIX/bin, found relative to the executable so that the installed
    // tree can be moved; the build tree keeps them beside the executable.
    const QDir executableFolder(QCoreApplication::applicationDirPath());
    const QString installed = QDir::cleanPath(executableFolder.filePath(QStringLiteral("../lib/vellumor-vdp")));
    return {qEnvironmentVariable("PDFIUM_LIBRARY"),
            QFileInfo(installed).isDir() ? installed : executableFolder.path()};
}

QStringList PdfiumSearch::candidates() const
{
    QStringList list;
    if (!environmentValue.isEmpty())
        list << environmentValue;
    list << applicationDirectory + u'/' + libraryFileName;
    list << QStringLiteral("pdfium");
    list.removeDuplicates();
    return list;
}

RasterResult rasterizeFirstPdfPage(const QString &path, int longSidePx)
{
    return rasterizeFirstPdfPage(path, longSidePx, PdfiumSearch::fromProcess());
}

RasterResult rasterizeFirstPdfPage(const QString &path, int longSidePx, const PdfiumSearch &search)
{
    QFile file(path);
    // A FIFO or device would block the read or never end: only files are read.
    if (QFileInfo(path).exists() && !QFileInfo(path).isFile())
        return failure(QStringLiteral("Could not read the PDF: %1 is not a regular file")
                           .arg(QDir::toNativeSeparators(path)));
    if (!file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("Could not read the PDF: %1").arg(file.errorString()));
    // The size is checked before reading so that an enormous file is never
    // pulled into memory only to be refused.
    if (file.size() > qint64(INT_MAX))
        return failure(QStringLiteral("The PDF is empty or too large"));
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty() || bytes.size() > qsizetype(INT_MAX))
        return failure(QStringLiteral("The PDF is empty or too large"));
    if (longSidePx < 1)
        return failure(QStringLiteral("The PDF page size is invalid"));

    QLibrary library;
    QStringList tried;
    bool loaded = false;
    for (const QString &candidate : search.candidates()) {
        library.setFileName(candidate);
        library.setLoadHints(QLibrary::ResolveAllSymbolsHint | QLibrary::PreventUnloadHint);
        tried << QDir::toNativeSeparators(candidate);
        if (library.load()) {
            loaded = true;
            break;
        }
    }
    if (!loaded) {
        return failure(QStringLiteral("No usable PDFium library found. Place a 64-bit %1 next to the "
                                      "application,or set the PDFIUM_LIBRARY environment variable.\nTried: %2")
                           .arg(libraryFileName, tried.join(u'\n')));
    }

    const PdfiumApi api = resolveApi(library);
    if (!api.complete())
        return failure(QStringLiteral("The current %1 is missing the required page rendering API").arg(libraryFileName));

    // PDFium keeps process-wide state between its init and destroy calls, so
    // two rasterisations must not overlap.
    static std::mutex pdfiumMutex;
    const std::lock_guard lock(pdfiumMutex);
    api.initLibrary();
    RasterResult result = renderFirstPage(api, bytes, longSidePx);
    api.destroyLibrary();
#ifdef __GLIBC__
    // PDFium frees its page caches at destroy, but the allocator keeps them
    // resident; handing them back keeps a background's cost to its image.
    malloc_trim(0);
#endif
    return result;
}
