#pragma once

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <functional>

// One row of a data file as its reader hands it to the store: the cells as
// UTF-8 text, valid only during the call that receives the row.
class RecordRowView
{
public:
    virtual qsizetype size() const = 0;
    virtual QByteArrayView cell(qsizetype i) const = 0;
    // The cell's length in UTF-16 code units, as the stored-text limit counts it.
    virtual qsizetype units(qsizetype i) const = 0;

protected:
    ~RecordRowView() = default;
};

// Receives each row, the header row first; returns false to stop the reader.
using RecordRowHandler = std::function<bool(const RecordRowView &row)>;

// The rows of a data file, read by the store on a thread of its own while it
// writes them: the store knows nothing of file formats, the reader nothing
// of SQL.
struct RecordRowProducer
{
    // Hands the header row and then each data row to `onRow`, in file order;
    // a stop asked by `onRow` is no failure. After each whole pass without
    // failure it asks `again`, and on true hands every row once more from
    // the start (the store counts a file of unknown size that way before
    // writing). Returns false and the reader's message on failure.
    using Read = std::function<bool(const RecordRowHandler &onRow, const std::function<bool()> &again,
                                    QString *error)>;
    Read read;
    // The size of what the rows come from, in bytes: every data row but the
    // last takes at least two of them and no cell has more UTF-16 code units
    // than the bytes it came from. It tells whether a file surely fits the
    // stored-text limit before its rows are counted; negative when unknown.
    qint64 sizeBound = -1;
};
