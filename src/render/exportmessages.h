#pragma once

#include <QString>
#include <QStringList>

struct PdfExportResult;

// The texts around an export that the window and the command-line tool share.

// "N card(s) have barcode or QR codes that could not be drawn and will print
// blank: #0004, #0012, …"; empty when every code was drawn. Shared by the
// window's success box and status line and the command-line tool.
QString blankCodesSummary(const PdfExportResult &result);

// "N earlier part(s) of the same name, not part of this export, left as they
// were: FILE, FILE": the window's completion box and the tool's stderr.
QString earlierPartsNote(const QStringList &earlierParts);

// The file name the save dialog proposes: the project name trimmed, each of
// \ / : * ? " < > | replaced by "_", "VDP Imposition" when nothing is left,
// with ".pdf" appended.
QString proposedPdfFileName(const QString &projectName);
