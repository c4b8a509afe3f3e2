// bench-prepare: one measured card preparation per run, so that the calling
// script can wrap each in /usr/bin/time and read its peak memory alone.
//
//   bench-prepare data ROWS COLUMNS CARDS   ROWS data records of COLUMNS columns (built in memory, keyed as
//                                           the record assembly keys the first source), two sequence fields
//                                           (the second without fours) and a scratch field of CARDS cards
//   bench-prepare scratch CARDS [SEQUENCES] no data, one scratch field of CARDS cards and SEQUENCES sequence
//                                           fields (default 1)
//
// Each prints one line "<command> seconds=S cards=N bytes_per_card=B prepare_only=P checksum=X" or,
// when the scratch field is refused, "<command> refused seconds=S cards=N message=...". Prepared cards
// work their generated values out when read, so S is the wall time (QElapsedTimer) of
// prepareCardRecords and of reading every generated value once, P that of prepareCardRecords alone;
// B is the growth of the resident memory from before the call to after it, divided by the cards: what
// the prepared records hold once the transient prize and sequence lists are gone. The checksum adds up
// the lengths of every generated value, so nothing can be skipped unnoticed.
// Exit code 0 when the records were prepared or the run was refused, 1 on any other failure, 2 on a
// wrong command line.

#include "model/fieldvalues.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>

#include <cstdio>

namespace {

int usage()
{
    std::fputs("usage: bench-prepare data ROWS COLUMNS CARDS | scratch CARDS [SEQUENCES]\n", stderr);
    return 2;
}

// The resident set of this process in bytes, from /proc/self/statm.
qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * 4096 : 0;
}

TemplateField sequenceField(qint64 id, bool excludeFour)
{
    TemplateField field;
    field.id = id;
    field.type = ElementKind::Sequence;
    field.sequenceExcludeFour = excludeFour;
    return field;
}

// CARDS cards over three prizes, by card count.
TemplateField scratchField(qint64 id, qint64 cards)
{
    TemplateField field;
    field.id = id;
    field.type = ElementKind::Scratch;
    const qint64 bikes = cards / 100;
    field.scratchPrizesJson = QStringLiteral(R"([{"name":"Car","value":1},{"name":"Bike","value":%1},)"
                                             R"({"name":"Thanks for Playing","value":%2}])")
                                  .arg(bikes)
                                  .arg(cards - 1 - bikes);
    return field;
}

QList<DataRecord> dataRecords(int rows, int columns)
{
    QList<DataRecord> records;
    records.reserve(rows);
    for (int r = 0; r < rows; ++r) {
        QJsonObject values;
        for (int c = 0; c < columns; ++c) {
            const QString name = QStringLiteral("Column %1").arg(c + 1);
            const QString cell = QStringLiteral("R%1C%2 value").arg(r + 1).arg(c + 1);
            values.insert(QStringLiteral("source:1:") + name, cell);
            values.insert(name, cell);
        }
        records.append({r, values});
    }
    return records;
}

int run(const char *command, const CardTable &records, const QList<TemplateField> &fields)
{
    const qint64 before = residentBytes();
    QElapsedTimer timer;
    timer.start();
    const PreparedCards prepared = prepareCardRecords(records, fields);
    const qint64 nanoseconds = timer.nsecsElapsed();
    const qint64 after = residentBytes();
    const qsizetype cards = prepared.records.size();
    if (!prepared.error.isEmpty()) {
        std::printf("%s refused seconds=%.3f cards=%lld message=%s\n", command, double(nanoseconds) / 1e9,
                    static_cast<long long>(cards), qPrintable(prepared.error));
        return 0;
    }
    quint64 checksum = 0;
    // Generated values are worked out when read: reading every one is part
    // of what preparation costs.
    timer.restart();
    for (qsizetype card = 0; card < cards; ++card) {
        for (const TemplateField &field : fields) {
            const QString key = field.type == ElementKind::Scratch ? scratchPrizeKey(field.id)
                                                                         : sequenceKey(field.id);
            checksum += quint64(prepared.records.text(card, key).value_or(QString()).size());
        }
    }
    const qint64 readNanoseconds = timer.nsecsElapsed();
    // seconds: preparing and reading every generated value once, what the
    // values cost in all; prepare_only: the part before the first read.
    std::printf("%s seconds=%.3f cards=%lld bytes_per_card=%.0f prepare_only=%.3f checksum=%llu\n", command,
                double(nanoseconds + readNanoseconds) / 1e9, static_cast<long long>(cards),
                cards ? double(after - before) / double(cards) : 0.0, double(nanoseconds) / 1e9,
                static_cast<unsigned long long>(checksum));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    bool ok = true;
    if (args.size() == 4 && args[0] == QLatin1String("data")) {
        const int rows = args[1].toInt(&ok);
        const int columns = ok ? args[2].toInt(&ok) : 0;
        const qint64 cards = ok ? args[3].toLongLong(&ok) : 0;
        if (!ok || rows < 0 || columns < 1 || cards < 2)
            return usage();
        const CardTable records = CardTable::fromRecords(dataRecords(rows, columns));
        return run("data", records, {sequenceField(1, false), sequenceField(2, true), scratchField(3, cards)});
    }
    if ((args.size() == 2 || args.size() == 3) && args[0] == QLatin1String("scratch")) {
        const qint64 cards = args[1].toLongLong(&ok);
        const int sequences = ok && args.size() == 3 ? args[2].toInt(&ok) : 1;
        if (!ok || cards < 2 || sequences < 0)
            return usage();
        QList<TemplateField> fields{scratchField(1000, cards)};
        for (int i = 0; i < sequences; ++i)
            fields.append(sequenceField(i + 1, i % 2 == 1));
        return run("scratch", {}, fields);
    }
    return usage();
}
