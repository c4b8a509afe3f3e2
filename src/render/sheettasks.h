#pragma once

#include "render/blankcodetally.h"
#include "render/pagewriter.h"
#include "render/pdfexport.h"

#include <QList>
#include <QString>

class OutputFile;
class OutputFileSet;

// One run of sheets written into one file: a part of a split export, a piece
// of a parallel one, or the whole job.
struct SheetTask
{
    QList<int> sheets;
    QString target;  // the part's final path, or where a piece is made
    bool piece = false;
    int pagesBefore = 0;
    OutputFile *output = nullptr; // the temporary file, once created
    PageRun run;
    BlankCodeTally blanks;
};

// Writes every task, on up to `jobs` threads. The caller's progress callback
// is only ever called on the calling thread (it may drive a dialog), with the
// pages of all tasks counted together. False with `error` when a task failed;
// tasks not yet started are then skipped.
bool runSheetTasks(const PdfExportJob &job, QList<SheetTask> &tasks, OutputFileSet &files, int jobs, int pagesInAll,
                   const PdfExportProgress &progress, QString *error);
