#pragma once

#include <QStringList>

// The column names of a data file as the store keeps them, the same for CSV
// and Excel: each name trimmed; an empty one "Field N" (N its 1-based
// column); a name already taken gets the first free suffix "_2", "_3", …, so
// that every column keeps a name of its own and none is lost when a row is
// stored as one JSON object. `names` is first padded with empty names to
// `width`, for rows wider than the header.
QStringList settledHeader(QStringList names, qsizetype width = 0);
