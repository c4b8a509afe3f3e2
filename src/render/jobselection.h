#pragma once

#include "render/impositionlayout.h"

struct PdfExportJob;

#include <QList>
#include <QString>

// Reprints and parts of a job: which cards or sheets to print, read from what
// a user types, and where the cards of a selection stand.

// A card list as typed: "17,230-240,1001". Numbers are the cards as the
// preview labels them (from 1); spaces around numbers, commas and dashes are
// allowed, and overlapping entries are merged.
struct CardList
{
    QList<int> records; // record indices (from 0), ascending and distinct; empty on error
    QString error;      // names every bad entry; empty on success
};
CardList parseCardList(const QString &text, int cardCount);

// A sheet range as typed: "3-7" or "5", sheets as the preview numbers them
// (from 1).
struct SheetRange
{
    int first = -1; // sheet indices from 0, inclusive; −1 on error
    int last = -1;
    QString error;
};
SheetRange parseSheetRange(const QString &text, int sheetCount);

// "Split every N sheets" as typed: a whole number from 1; `error` otherwise.
struct SheetsPerFile
{
    int count = 0;
    QString error;
};
SheetsPerFile parseSheetsPerFile(const QString &text);

// The sheets (indices from 0, ascending, distinct) that hold `records`.
QList<int> sheetsHolding(const ImpositionLayout &layout, bool cutStack, const QList<int> &records);

// Every sheet index from `first` to `last`.
QList<int> sheetSpan(int first, int last);

// The path of part `index` (from 0) of `count` files split from `path`:
// "cards.pdf" gives "cards-001.pdf", "cards-002.pdf", …, with more digits when
// there are more than 999 parts.
QString splitPartPath(const QString &path, int index, int count);

// Every file an export of `sheetCount` sheets writes: `path` alone, or with
// `sheetsPerFile` ≥ 1 its parts by splitPartPath.
QStringList splitPartPaths(const QString &path, int sheetCount, int sheetsPerFile);

// What part of a job to print and how to split it, as the user chose it.
struct PrintChoice
{
    enum class Mode { AllCards, Cards, Sheets };
    Mode mode = Mode::AllCards;
    QString cards;      // Mode::Cards: a card list as typed
    QString sheets;     // Mode::Sheets: a sheet range as typed, "3-7"
    int sheetsPerFile = 0; // 0: one file
};

// Narrows `job` to the choice (onlyRecords or sheets); the message naming
// what is wrong with the list or range, or empty when `job` was narrowed.
QString applyPrintChoice(const PrintChoice &choice, PdfExportJob &job);
