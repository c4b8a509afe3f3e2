#pragma once

#include "model/templateelement.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

// The document the canvas puts on the clipboard when objects are copied, and
// reads back on paste: compact UTF-8 JSON
//   {"version":1,"items":[{"kind":"field","field":{…}},{"kind":"graphic","graphic":{…}}]}
// with the record members by name. Ids, the project and the side are never
// written, and never read: a pasted record belongs where it is pasted.
// Plain values only; the widget layer moves the bytes to and from the system
// clipboard under canvasClipboardMimeType().

// Bounds on what a paste takes: the clipboard may hold anything another
// program put there under our type.
namespace canvasclipboardlimits {
constexpr qsizetype maximumItems = 1000;
constexpr qsizetype maximumBytes = qsizetype(32) * 1024 * 1024;
} // namespace canvasclipboardlimits

QString canvasClipboardMimeType();

// The document for the copied `items`, in their order (the order they were
// selected: one list keeps fields and graphics interleaved).
QByteArray canvasClipboardDocument(const QList<TemplateElement> &items);

// A document that was recognised. Either `refusal` is empty and `items` holds
// the records in array order (possibly none, when every kind was unknown), or
// `refusal` says, as the sentence to show, why nothing is pasted.
struct CanvasClipboardItems
{
    QList<TemplateElement> items;
    QString refusal;
};

// Reads a clipboard document. nullopt when it is not one (not a JSON object,
// or "items" is not a non-empty array): the paste key then stays unhandled.
// "version" is not looked at. Each record starts from its default and takes
// the members present; items of another kind, and items that are not
// objects, are skipped. A member of the wrong JSON type keeps its default.
// What the property panels could not hold is brought into their ranges
// (editorlimits, in editorgeometry.h):
// - positions 0 … 2000 mm; sizes up to 2000 mm and at least 5 × 3 mm for a
//   field, 5 × 5 mm for a graphic and 5 × 1 mm for a line;
// - font size 4 … 300 pt, sequence digits 1 … 18, sequence step 1 … 1000000,
//   scratch total 1 … 10000000; table rows and columns 1 … 100, stroke width
//   0.05 … 10 mm, cell spacing 0 … 20 mm; whole numbers are rounded;
// - kind, barcode format and scratch mode texts other than the known ones,
//   alignments with bits other than Qt's horizontal and vertical alignment
//   flags, and colours other than "#" and six hexadecimal digits
//   ("transparent" too for a fill) keep the default.
// Over maximumBytes of data or maximumItems items, the document is refused.
std::optional<CanvasClipboardItems> parseCanvasClipboard(const QByteArray &data);
