#pragma once

#include "model/graphicelement.h"
#include "model/project.h"
#include "model/templatefield.h"
#include "render/pdfexport.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class ProjectCardReader;
class ProjectStore;

// What an export is gathered from, before the records are prepared. The
// window fills `project` with the settings controls as they stand; the
// command-line tool with the stored project.
struct PdfExportSource
{
    Project project; // sizes, grid, bleed, border, crop marks, duplex, name
    CardTable cardRecords;
    // Instead of `cardRecords`: the cards read a sheet at a time.
    std::shared_ptr<const ProjectCardReader> cardReader;
    // Instead of both: the plan opens the reader on the project's cards,
    // with only the columns the fields show (rows in the older single table
    // are read whole), right after it has loaded the fields.
    bool cardsFromStore = false;
    bool cutStack = false;
    // The fields when the caller has loaded them already; loaded when absent.
    std::optional<QList<TemplateField>> fields;
    // The graphics as the canvases hold them; loaded from the store when absent.
    std::optional<QList<GraphicElement>> graphics;
    // The backgrounds when the caller holds them already; a null image is
    // loaded from the project's stored path (the back only for duplex).
    QImage frontBackground;
    QImage backBackground;
};

// The job, or what to show instead: errorTitle "PDF export failed" with the
// loader's or the preparation's message, or with "the front background FILE
// could not be loaded: REASON" (or back); "Data Read Failed" with the store's
// message when the cards could not be read; "No PDF written" with "correct the
// prize settings first." and one line per rejected prize field in
// errorDetails; or "Unable to Export PDF" with "Import variable data before
// exporting." when there is nothing to print.
struct PdfExportPlan
{
    PdfExportJob job;
    QString errorTitle;
    QString error;
    QStringList errorDetails; // the causes, one a line, to show before the error

    bool ok() const { return error.isEmpty(); }
};

// Loads the fields, opens the cards (cardsFromStore), checks each prize
// field's settings, loads the printed sides' backgrounds, prepares the card
// records, builds the layout and collects the graphics, in that order,
// stopping at the first failure. The records are shared with the caller, not copied: the window's export
// prints from the table the window holds.
PdfExportPlan planPdfExport(ProjectStore &store, PdfExportSource source);

// One line for every scratch field whose configuration preparation rejects,
// "Scratch card configuration of field "NAME" (SIDE, id ID): MESSAGE", in field
// order. `preparedError` is what preparing all fields together reported; when
// it is not explained by any single field, it is returned on a line of its own,
// so no rejected configuration goes unreported.
QStringList scratchConfigurationErrors(const QList<TemplateField> &fields, const QString &preparedError);
