#include "render/pdfrasterizer.h"

#include "model/regularfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QProcess>

#include <algorithm>
#include <climits>
#include <cstring>
#include <cmath>
#include <mutex>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

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

namespace {

const QByteArray replyOk = QByteArrayLiteral("VDPRASTER OK ");
const QByteArray replyError = QByteArrayLiteral("VDPRASTER ERROR\n");

// The checks both sides make before anything is loaded: only regular files
// are read, so a FIFO or device never blocks the renderer; the size is
// checked before reading so that an enormous file is never pulled into
// memory only to be refused. Empty when the file may be rendered; the bytes
// in `bytes` when it is given.
QString readablePdf(const QString &path, int longSidePx, QByteArray *bytes)
{
    QString notRegular;
    if (!checkRegularFile(path, &notRegular))
        return QStringLiteral("Could not read the PDF: %1").arg(notRegular);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("Could not read the PDF: %1").arg(file.errorString());
    if (file.size() < 1 || file.size() > qint64(INT_MAX))
        return QStringLiteral("The PDF is empty or too large");
    if (bytes) {
        *bytes = file.readAll();
        if (bytes->isEmpty() || bytes->size() > qsizetype(INT_MAX))
            return QStringLiteral("The PDF is empty or too large");
    }
    if (longSidePx < 1)
        return QStringLiteral("The PDF page size is invalid");
    return {};
}

// Beside the executable (the build tree), then in the private library
// folder of an installation, PREFIX/bin/../lib/vellumor-vdp.
QStringList helperCandidates()
{
    const QDir executableFolder(QCoreApplication::applicationDirPath());
    const QString name = QString::fromLatin1(pdfRasterHelperName);
    return {executableFolder.filePath(name),
            QDir::cleanPath(executableFolder.filePath(QStringLiteral("../lib/vellumor-vdp/") + name))};
}

QString sizeText(qint64 bytes)
{
    constexpr qint64 gib = qint64(1) << 30;
    constexpr qint64 mib = qint64(1) << 20;
    if (bytes % gib == 0)
        return QStringLiteral("%1 GB").arg(bytes / gib);
    return QStringLiteral("%1 MB").arg(bytes / mib);
}

// The renderer's standard output as rasterizeFirstPdfPageInProcess's result;
// neither a picture nor a message when it is not a whole reply.
RasterResult readReply(const QByteArray &reply)
{
    if (reply.startsWith(replyError))
        return failure(QString::fromUtf8(reply.mid(replyError.size())));
    const qsizetype lineEnd = reply.indexOf('\n');
    if (reply.startsWith(replyOk) && lineEnd > 0) {
        const QList<QByteArray> size = reply.mid(replyOk.size(), lineEnd - replyOk.size()).split(' ');
        bool widthOk = false;
        bool heightOk = false;
        const int width = size.size() == 2 ? size[0].toInt(&widthOk) : 0;
        const int height = size.size() == 2 ? size[1].toInt(&heightOk) : 0;
        if (widthOk && heightOk && width > 0 && height > 0
            && reply.size() - lineEnd - 1 == qint64(width) * height * 4) {
            QImage image(width, height, QImage::Format_ARGB32);
            if (image.isNull())
                return failure(QStringLiteral("Could not create the PDF bitmap buffer"));
            const char *row = reply.constData() + lineEnd + 1;
            for (int y = 0; y < height; ++y, row += qsizetype(width) * 4)
                std::memcpy(image.scanLine(y), row, size_t(width) * 4);
            return {std::move(image), QString()};
        }
    }
    return {};
}

} // namespace

RasterResult rasterizeFirstPdfPage(const QString &path, int longSidePx)
{
    return rasterizeFirstPdfPage(path, longSidePx, PdfiumSearch::fromProcess());
}

RasterResult rasterizeFirstPdfPage(const QString &path, int longSidePx, const PdfiumSearch &search)
{
    return rasterizeFirstPdfPage(path, longSidePx, search, PdfRasterLimits());
}

RasterResult rasterizeFirstPdfPage(const QString &path, int longSidePx, const PdfiumSearch &search,
                                   const PdfRasterLimits &limits)
{
    if (const QString error = readablePdf(path, longSidePx, nullptr); !error.isEmpty())
        return failure(error);

    const QStringList candidates = helperCandidates();
    const auto found = std::find_if(candidates.cbegin(), candidates.cend(), [](const QString &candidate) {
        return QFileInfo(candidate).isFile() && QFileInfo(candidate).isExecutable();
    });
    if (found == candidates.cend()) {
        QStringList tried;
        for (const QString &candidate : candidates)
            tried << QDir::toNativeSeparators(candidate);
        return failure(QStringLiteral("The PDF renderer is missing from the installation.\nTried: %1")
                           .arg(tried.join(u'\n')));
    }
    const QString helper = *found;

    QProcess process;
    process.setProgram(helper);
    process.setArguments({path, QString::number(longSidePx), search.environmentValue, search.applicationDirectory});
    process.setStandardInputFile(QProcess::nullDevice());
#ifdef Q_OS_UNIX
    // Set in the child between fork and exec: only async-signal-safe calls.
    // No core file either: a renderer killed by its limits is expected.
    const rlim_t addressSpace = rlim_t(limits.addressSpaceBytes);
    process.setChildProcessModifier([addressSpace] {
        const rlimit memory{addressSpace, addressSpace};
        ::setrlimit(RLIMIT_AS, &memory);
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
    });
#endif
    process.start();
    if (!process.waitForStarted())
        return failure(QStringLiteral("The PDF renderer could not be started: %1").arg(process.errorString()));
    if (!process.waitForFinished(limits.timeoutMs)) {
        process.kill();
        process.waitForFinished(-1);
        return failure(QStringLiteral("The PDF took longer than %1 seconds to render").arg(limits.timeoutMs / 1000.0));
    }
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == pdfRasterOutOfMemoryExit)
        return failure(QStringLiteral("The PDF needs more than %1 to render").arg(sizeText(limits.addressSpaceBytes)));
    if (process.exitStatus() == QProcess::CrashExit) {
        return failure(QStringLiteral("The PDF renderer crashed on this file (signal %1); the file may be damaged")
                           .arg(process.exitCode()));
    }
    RasterResult result = readReply(process.readAllStandardOutput());
    if (result.image.isNull() && result.error.isEmpty())
        result.error = QStringLiteral("The PDF renderer gave no picture (exit status %1)").arg(process.exitCode());
    return result;
}

bool writePdfRasterReply(const RasterResult &result, std::FILE *out)
{
    if (result.image.isNull()) {
        const QByteArray message = replyError + result.error.toUtf8();
        std::fwrite(message.constData(), 1, size_t(message.size()), out);
        std::fflush(out);
        return false;
    }
    const QImage image = result.image.convertToFormat(QImage::Format_ARGB32);
    const QByteArray header = replyOk + QByteArray::number(image.width()) + ' ' + QByteArray::number(image.height())
        + '\n';
    bool written = std::fwrite(header.constData(), 1, size_t(header.size()), out) == size_t(header.size());
    for (int y = 0; written && y < image.height(); ++y) {
        const size_t rowBytes = size_t(image.width()) * 4;
        written = std::fwrite(image.constScanLine(y), 1, rowBytes, out) == rowBytes;
    }
    return std::fflush(out) == 0 && written;
}

RasterResult rasterizeFirstPdfPageInProcess(const QString &path, int longSidePx, const PdfiumSearch &search)
{
    QByteArray bytes;
    if (const QString error = readablePdf(path, longSidePx, &bytes); !error.isEmpty())
        return failure(error);

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
