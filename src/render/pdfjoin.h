#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

// Joins the pages of `parts`, in order, into one PDF at `output` with qpdf,
// keeping the first part's document information (title, creator), into the
// stream `output` (`description` names it in qpdf's messages). Empty on
// success, else qpdf's message. The stream is neither flushed nor closed
// here: the caller checks both, and moves the file into place.
QString joinPdfFiles(const QStringList &parts, FILE *output, const QString &description);
