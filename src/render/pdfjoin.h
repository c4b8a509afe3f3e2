#pragma once

#include <QString>
#include <QStringList>

// Joins the pages of `parts`, in order, into one PDF at `output` with qpdf,
// keeping the first part's document information (title, creator). Empty on
// success, else qpdf's message. `output` is written directly: callers write
// to a temporary file and move it into place.
QString joinPdfFiles(const QStringList &parts, const QString &output);
