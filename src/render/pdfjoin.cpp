// qpdf's headers ask which generation of its smart pointer to use; 4 is the
// newest, plain std::shared_ptr.
#define POINTERHOLDER_TRANSITION 4

#include "render/pdfjoin.h"

#include <QFile>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <exception>
#include <memory>
#include <vector>

QString joinPdfFiles(const QStringList &parts, FILE *output, const QString &description)
{
    if (parts.isEmpty())
        return QStringLiteral("no pages to join");
    try {
        QPDF joined;
        joined.emptyPDF();
        QPDFPageDocumentHelper joinedPages(joined);
        // The parts stay open until the joined file is written: its pages
        // refer to their streams.
        std::vector<std::unique_ptr<QPDF>> inputs;
        for (const QString &part : parts) {
            auto input = std::make_unique<QPDF>();
            input->processFile(QFile::encodeName(part).constData());
            for (QPDFPageObjectHelper &page : QPDFPageDocumentHelper(*input).getAllPages())
                joinedPages.addPage(page, false);
            inputs.push_back(std::move(input));
        }
        QPDFObjectHandle info = inputs.front()->getTrailer().getKey("/Info");
        if (info.isDictionary() && info.isIndirect())
            joined.getTrailer().replaceKey("/Info", joined.copyForeignObject(info));
        // Written to a stream the caller owns: qpdf's own file output does not
        // look at the final flush and close, where a full disk shows.
        const QByteArray name = QFile::encodeName(description);
        QPDFWriter writer(joined, name.constData(), output, false);
        writer.write();
    } catch (const std::exception &error) {
        return QString::fromLocal8Bit(error.what());
    }
    return {};
}
