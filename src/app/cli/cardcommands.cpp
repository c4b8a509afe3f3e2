#include "clicommands.h"
#include "clicontext.h"
#include "interruptcleanup.h"
#include "projectcards.h"
#include "projectchoice.h"

#include "barcode/linearcodes.h"
#include "model/fieldvalues.h"
#include "model/projectgeometry.h"
#include "render/impositionlayout.h"
#include "render/outputfile.h"
#include "store/protectedfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QIODevice>

#include <algorithm>
#include <optional>

namespace {

const QString outputOption = QStringLiteral("output");
const QString orderOption = QStringLiteral("order");
const QString standardOrder = QStringLiteral("standard");
const QString cutStackOrder = QStringLiteral("cut-stack");

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The order the cards are drawn in: the back is printed after the front, so
// its fields come after all others; each side keeps the stored drawing order.
QList<TemplateField> drawingOrder(QList<TemplateField> fields)
{
    std::stable_partition(fields.begin(), fields.end(),
                          [](const TemplateField &field) { return field.side != CardSide::Back; });
    return fields;
}

// "Card", "Sheet", "Slot", then "NAME (SIDE)" per field. Two fields may share name and side
// (the editor does not stop it); every field of such a label also gets its id,
// "NAME (SIDE, id ID)", so no column's title depends on which one came first.
QStringList manifestHeader(const QList<TemplateField> &fields)
{
    const auto label = [](const TemplateField &field) {
        return QStringLiteral("%1 (%2)").arg(field.name, cardSideKey(field.side));
    };
    QHash<QString, int> uses;
    for (const TemplateField &field : fields)
        ++uses[label(field)];
    QStringList header{QStringLiteral("Card"), QStringLiteral("Sheet"), QStringLiteral("Slot")};
    for (const TemplateField &field : fields) {
        header << (uses.value(label(field)) > 1
                       ? QStringLiteral("%1 (%2, id %3)").arg(field.name, cardSideKey(field.side), QString::number(field.id))
                       : label(field));
    }
    return header;
}

// RFC 4180: a field holding a comma, a double quote, CR or LF is enclosed in
// double quotes, with its quotes doubled; line breaks inside it are kept as
// they are. Everything else is written as it is, spaces included.
QString csvField(const QString &text)
{
    const bool needsQuotes = std::any_of(text.begin(), text.end(), [](QChar c) {
        return c == u',' || c == u'"' || c == u'\r' || c == u'\n';
    });
    if (!needsQuotes)
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

// UTF-8 without a byte-order mark: the manifest is read by audit scripts and
// databases more than by eye, and a mark would end up in the first title.
QByteArray csvLine(const QStringList &fields)
{
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString &field : fields)
        quoted << csvField(field);
    return (quoted.join(u',') + QStringLiteral("\r\n")).toUtf8();
}

// What the card carries: for a barcode, the text its symbol encodes (Code 39
// upper-cases, EAN and UPC add the check digit), which an audit compares with
// what a scanner reads.
QString manifestCell(const TemplateField &field, const RecordValues &record)
{
    const QString text = fieldDisplayText(field, record);
    return field.type == ElementKind::Barcode ? encodedBarcodeText(barcodeFormatKey(field.barcodeFormat), text) : text;
}

// A valid prize list shorter than the run leaves the last cards without a
// prize. That is the configuration's choice, not an error, but an audit
// should see it.
void reportCardsWithoutPrize(CliContext &context, const QList<TemplateField> &fields, const CardTable &records)
{
    for (const TemplateField &field : fields) {
        if (field.type != ElementKind::Scratch)
            continue;
        const QString key = scratchPrizeKey(field.id);
        qsizetype withPrize = 0;
        for (qsizetype card = 0; card < records.size(); ++card)
            withPrize += records.contains(card, key) ? 1 : 0;
        if (withPrize == records.size())
            continue;
        context.err() << QStringLiteral("Note: scratch field \"%1\" (%2, id %3) has prizes for %4 of %5 cards; "
                                        "the others print \"%6\".")
                             .arg(field.name, cardSideKey(field.side), QString::number(field.id), QString::number(withPrize),
                                  QString::number(records.size()), fieldDisplayText(field, {}))
                      << '\n';
    }
}

int manifestCommand(CliContext &context, const CliInvocation &invocation)
{
    const QString order = invocation.options.value(orderOption, standardOrder);
    if (order != standardOrder && order != cutStackOrder) {
        context.err() << cli::toolName() << ": "
                      << QStringLiteral("invalid order '%1' (use %2 or %3)").arg(order, standardOrder, cutStackOrder)
                      << '\n';
        return cli::ExitUsage;
    }
    const QString path = QFileInfo(invocation.value(outputOption)).absoluteFilePath();

    const auto [store, project] = cli::openChosenProject(context, invocation);
    if (!store)
        return cli::ExitFailure;
    // A manifest written over the database or a spreadsheet would replace it.
    if (const std::optional<QString> reason = protectedOutputReason(*store, path))
        return context.fail(QStringLiteral("No manifest written: %1").arg(*reason));
    if (const std::optional<QString> reason = notRegularOutputReason(path))
        return context.fail(QStringLiteral("No manifest written: %1").arg(*reason));
    // The sheet map needs the grid the export would use.
    if (const std::optional<QString> error = projectGeometryError(project))
        return context.fail(QStringLiteral("No manifest written: %1").arg(*error));
    const std::optional<ProjectCards> cards = loadProjectCards(context, *store, project.id);
    if (!cards)
        return cli::ExitFailure;

    // Preparation leaves a rejected prize field out and prints a placeholder
    // on its cards; a manifest like that would hide prizes from the audit.
    if (!cards->scratchErrors.isEmpty()) {
        for (const QString &line : cards->scratchErrors)
            context.err() << line << '\n';
        return context.fail(QStringLiteral("No manifest written: correct the prize settings first."));
    }

    const QList<TemplateField> fields = drawingOrder(cards->fields);
    // Written beside the target and renamed over it only once flushed,
    // synced and closed, so a failure never leaves a half manifest or
    // destroys an earlier one.
    removeStaleTemporaryFiles(QFileInfo(path).absolutePath());
    OutputFile output(path, OutputFile::Kind::Part, &interruptCleanupWatch());
    if (!output.open())
        return context.fail(output.error());
    QIODevice &file = output.device();
    // A write that fails (a full disk) stops the manifest there.
    bool written = file.write(csvLine(manifestHeader(fields))) >= 0;
    const ImpositionLayout layout{qint32(cards->records.size()), project.rows, project.columns};
    const bool cutStack = order == cutStackOrder;
    for (qsizetype i = 0; written && i < cards->records.size(); ++i) {
        // Sheet and front slot as the preview numbers them, from 1.
        const ImpositionLayout::Place place = layout.placeOf(int(i), cutStack);
        QStringList row{QString::number(i + 1), QString::number(place.sheet + 1), QString::number(place.slot + 1)};
        row.reserve(fields.size() + 3);
        for (const TemplateField &field : fields)
            row << manifestCell(field, RecordValues(cards->records, i));
        written = file.write(csvLine(row)) >= 0;
    }
    // A failed write has recorded its reason; commit() then refuses.
    if (!output.commit())
        return context.fail(output.error());

    reportCardsWithoutPrize(context, fields, cards->records);
    const qsizetype count = cards->records.size();
    context.out() << QStringLiteral("Wrote %1 %2 to %3")
                         .arg(QString::number(count), count == 1 ? QStringLiteral("card") : QStringLiteral("cards"),
                              nativePath(path))
                  << '\n';
    return cli::ExitSuccess;
}

} // namespace

QList<CliCommand> cardCommands()
{
    return {
        {
            QStringLiteral("manifest"),
            QStringLiteral("Write a CSV file listing what every card prints"),
            QStringLiteral("One row per card, in card order: the card number (from 1), the sheet it is\n"
                           "printed on and its slot on the sheet's front (both from 1, as the preview\n"
                           "numbers them; slots run row by row, and a duplex back stands in the mirrored\n"
                           "column of the same row) for the order given with --order (standard, the\n"
                           "default, or cut-stack, as for export), then for each field the text it prints\n"
                           "on that card (for barcodes and QR codes, the encoded data), with sequence\n"
                           "numbers and scratch-card prizes as the export draws them. Field columns follow\n"
                           "the drawing order, front fields before back fields; the first row holds the\n"
                           "titles \"Card\", \"Sheet\", \"Slot\" and \"NAME (SIDE)\" (\"NAME (SIDE, id ID)\" when\n"
                           "two fields share name and side). RFC 4180 CSV in UTF-8 without a byte-order\n"
                           "mark, CRLF line ends. The file is replaced only once it is complete; when it\n"
                           "exists it must be a regular file (not a device, FIFO, socket or folder).\n"
                           "FILE must not be the project database, one of its -wal, -shm or -journal\n"
                           "files, or a data file of any project (links and \"..\" are followed).\n"
                           "When a scratch-card field's prize configuration is invalid, its message is\n"
                           "printed on stderr, nothing is written and the exit code is 1.\n\n")
                + cli::projectChoiceRule(),
            {},
            {
                cli::projectChoiceOption(),
                {outputOption, QStringLiteral("FILE"), QStringLiteral("The CSV file to write"), true},
                {orderOption, QStringLiteral("ORDER"),
                 QStringLiteral("The card order the sheet map follows: standard or cut-stack (default: standard)")},
            },
            &manifestCommand,
        },
    };
}
