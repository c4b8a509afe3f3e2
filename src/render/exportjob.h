#pragma once

#include "model/cardtable.h"
#include "model/graphicelement.h"
#include "model/templatefield.h"
#include "render/impositionlayout.h"
#include "render/sheetcomposer.h"

#include <QImage>
#include <QList>
#include <QSizeF>
#include <QString>

#include <functional>
#include <optional>

// Reads the data of `cards` (ascending record indices); `error` says why when
// the reading failed.
using CardDataReader = std::function<CardTable(const QList<int> &cards, QString *error)>;

// Everything one PDF export is painted from.
struct PdfExportJob
{
    ImpositionLayout layout;
    QSizeF sheetSizeMm{420, 297};
    QSizeF cardSizeMm{90, 54};
    QList<TemplateField> fields;    // both sides
    QList<GraphicElement> graphics; // both sides
    CardTable records;              // prepared card records, in card order
    // When set, the cards' data is read from the store a sheet at a time and
    // `records` holds only the generated values: a long run's memory is then
    // that of a sheet, not of every card.
    CardDataReader cardReader;
    bool cutStack = false;
    MarkOptions marks;
    bool duplex = false;
    QImage frontBackground;
    QImage backBackground;
    QString title; // the project name as stored

    // A part of the job. `onlyRecords` (ascending record indices): a reprint
    // of those cards alone, each in its slot and on its side as in the whole
    // job, on the sheets that hold them, every other slot blank. `sheets`
    // (ascending sheet indices): only those sheets, whole. Both empty: every
    // sheet. Numbering and prizes are always those of the whole job.
    QList<int> onlyRecords;
    QList<int> sheets;
};

// The sheets (indices from 0, ascending) the job writes: its `sheets` within
// the layout, else those holding its `onlyRecords`, else every sheet.
QList<int> printedSheets(const PdfExportJob &job);

// The record indices on `sheet`, ascending (both sides hold the same cards).
QList<int> sheetCards(const PdfExportJob &job, int sheet);

// The job's records holding the data of `cards` (ascending record indices):
// its own table, or with a card reader, those cards read from the store under
// the job's generated values. Nothing, and `error`, when the store failed.
std::optional<CardTable> jobRecords(const PdfExportJob &job, const QList<int> &cards, QString *error);
