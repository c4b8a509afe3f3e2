#include "render/exportmessages.h"

#include "render/cardlabels.h"
#include "render/pdfexport.h"

#include <QDir>
#include <QRegularExpression>

QString blankCodesSummary(const PdfExportResult &result)
{
    if (result.blankCodeCardCount < 1)
        return {};
    const QString who = result.blankCodeCardCount == 1
        ? QStringLiteral("1 card has")
        : QStringLiteral("%1 cards have").arg(result.blankCodeCardCount);
    return who + QStringLiteral(" barcode or QR codes that could not be drawn and will print blank: ")
        + cardLabelList(result.blankCodeCards, result.blankCodeCardCount);
}

QString earlierPartsNote(const QStringList &earlierParts)
{
    QStringList files;
    for (const QString &part : earlierParts)
        files << QDir::toNativeSeparators(part);
    const QString count = earlierParts.size() == 1 ? QStringLiteral("1 earlier part")
                                                   : QStringLiteral("%1 earlier parts").arg(earlierParts.size());
    return QStringLiteral("%1 of the same name, not part of this export, left as they were: %2")
        .arg(count, files.join(QStringLiteral(", ")));
}

QString proposedPdfFileName(const QString &projectName)
{
    static const QRegularExpression reserved(QStringLiteral("[\\\\/:*?\"<>|]"));
    QString name = projectName.trimmed();
    name.replace(reserved, QStringLiteral("_"));
    if (name.isEmpty())
        name = QStringLiteral("VDP Imposition");
    return name + QStringLiteral(".pdf");
}
