// vellumor-vdp-pdfraster PDF LONG_SIDE_PX PDFIUM_LIBRARY APPLICATION_FOLDER
//
// Renders the first page of PDF with PDFium, searched as the parent process
// searches it, and writes the outcome to standard output in the form
// rasterizeFirstPdfPage reads (see writePdfRasterReply). Started by the
// rasterizer only; a person has no reason to run it.
#include "render/pdfrasterizer.h"

#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <new>

#include <unistd.h>

namespace {

// An allocation refused under the address-space limit ends in a trap or an
// abort inside PDFium; errno still says why. The exit status tells the parent
// that it was memory, not a fault of the renderer.
extern "C" void onFatalSignal(int signal)
{
    if (errno == ENOMEM)
        _exit(pdfRasterOutOfMemoryExit);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void onNewFailure()
{
    _exit(pdfRasterOutOfMemoryExit);
}

} // namespace

int main(int argc, char *argv[])
{
    for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGTRAP, SIGABRT, SIGFPE})
        std::signal(signal, onFatalSignal);
    std::set_new_handler(onNewFailure);

    if (argc != 5) {
        std::fputs("usage: vellumor-vdp-pdfraster PDF LONG_SIDE_PX PDFIUM_LIBRARY APPLICATION_FOLDER\n", stderr);
        return 2;
    }
    bool ok = false;
    const int longSidePx = QString::fromLocal8Bit(argv[2]).toInt(&ok);
    if (!ok) {
        std::fputs("vellumor-vdp-pdfraster: LONG_SIDE_PX is not a number\n", stderr);
        return 2;
    }
    const PdfiumSearch search{QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4])};
    const RasterResult result = rasterizeFirstPdfPageInProcess(QString::fromLocal8Bit(argv[1]), longSidePx, search);
    return writePdfRasterReply(result, stdout) ? 0 : 1;
}
