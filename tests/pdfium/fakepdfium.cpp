// A stand-in for PDFium that shows what a real build cannot: every call with
// its arguments in order (written to the file named by FAKE_PDFIUM_LOG), and
// a failure at the step named by FAKE_PDFIUM_FAIL ("open", "pages", "page",
// "size", "bitmap"), or a renderer that goes wrong while it draws: "crash"
// (a bad pointer), "memory" (asks for 2 GB and aborts when refused, as
// PDFium does), "hang" (never returns). It has only the older page-size getters, which return
// double, as PDFium's do. Built in three variants: complete; without
// FPDF_RenderPageBitmap (FAKE_PDFIUM_INCOMPLETE); with no PDFium entry point
// at all (FAKE_PDFIUM_NONE).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <csignal>
#include <unistd.h>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

#ifndef FAKE_PDFIUM_NONE

namespace {

void logCall(const char *format, ...)
{
    const char *path = std::getenv("FAKE_PDFIUM_LOG");
    if (!path || !*path)
        return;
    FILE *file = std::fopen(path, "a");
    if (!file)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputc('\n', file);
    std::fclose(file);
}

bool failsAt(const char *step)
{
    const char *fail = std::getenv("FAKE_PDFIUM_FAIL");
    return fail && std::strcmp(fail, step) == 0;
}

struct Bitmap
{
    int width;
    int height;
    int stride;
    unsigned char *pixels;
};

int document;
int page;

} // namespace

FAKE_EXPORT void FPDF_InitLibrary() { logCall("InitLibrary"); }
FAKE_EXPORT void FPDF_DestroyLibrary() { logCall("DestroyLibrary"); }

FAKE_EXPORT void *FPDF_LoadMemDocument(const void *, int size, const char *password)
{
    logCall("LoadMemDocument %d %s", size, password ? "password" : "nopassword");
    return failsAt("open") ? nullptr : &document;
}

FAKE_EXPORT void FPDF_CloseDocument(void *) { logCall("CloseDocument"); }

FAKE_EXPORT int FPDF_GetPageCount(void *)
{
    logCall("GetPageCount");
    return failsAt("pages") ? 0 : 3;
}

FAKE_EXPORT void *FPDF_LoadPage(void *, int index)
{
    logCall("LoadPage %d", index);
    return failsAt("page") ? nullptr : &page;
}

FAKE_EXPORT void FPDF_ClosePage(void *) { logCall("ClosePage"); }

// A landscape page of 300 × 150 points.
FAKE_EXPORT double FPDF_GetPageWidth(void *)
{
    logCall("GetPageWidth");
    return failsAt("size") ? 0.0 : 300.0;
}

FAKE_EXPORT double FPDF_GetPageHeight(void *)
{
    logCall("GetPageHeight");
    return 150.0;
}

FAKE_EXPORT void *FPDFBitmap_CreateEx(int width, int height, int format, void *firstScan, int stride)
{
    logCall("BitmapCreateEx %d %d %d %d %s", width, height, format, stride, firstScan ? "buffer" : "nobuffer");
    if (failsAt("bitmap") || !firstScan)
        return nullptr;
    return new Bitmap{width, height, stride, static_cast<unsigned char *>(firstScan)};
}

FAKE_EXPORT void FPDFBitmap_Destroy(void *bitmap)
{
    logCall("BitmapDestroy");
    delete static_cast<Bitmap *>(bitmap);
}

FAKE_EXPORT int FPDFBitmap_FillRect(void *handle, int left, int top, int width, int height, unsigned long color)
{
    logCall("FillRect %d %d %d %d %08lx", left, top, width, height, color);
    auto *bitmap = static_cast<Bitmap *>(handle);
    for (int y = top; y < top + height && y < bitmap->height; ++y) {
        for (int x = left; x < left + width && x < bitmap->width; ++x)
            std::memcpy(bitmap->pixels + y * bitmap->stride + x * 4, &color, 4);
    }
    return 1;
}

#ifndef FAKE_PDFIUM_INCOMPLETE
// "Renders" the page as its left half in blue (B, G, R, A bytes).
FAKE_EXPORT void FPDF_RenderPageBitmap(void *handle, void *, int startX, int startY, int sizeX, int sizeY,
                                       int rotate, int flags)
{
    logCall("RenderPageBitmap %d %d %d %d %d %d", startX, startY, sizeX, sizeY, rotate, flags);
    if (failsAt("crash"))
        std::raise(SIGSEGV);
    if (failsAt("memory")) {
        void *huge = std::malloc(size_t(2) << 30);
        if (!huge)
            std::abort();
        std::free(huge);
    }
    while (failsAt("hang"))
        ::pause();
    auto *bitmap = static_cast<Bitmap *>(handle);
    const unsigned char blue[4] = {0xff, 0x00, 0x00, 0xff};
    for (int y = 0; y < bitmap->height; ++y) {
        for (int x = 0; x < bitmap->width / 2; ++x)
            std::memcpy(bitmap->pixels + y * bitmap->stride + x * 4, blue, 4);
    }
}
#endif

#else

// A shared library, but not PDFium.
FAKE_EXPORT int notPdfium() { return 0; }

#endif
