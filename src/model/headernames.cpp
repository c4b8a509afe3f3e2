#include "model/headernames.h"

#include <QHash>
#include <QSet>

QStringList settledHeader(QStringList names, qsizetype width)
{
    if (names.size() < width)
        names.resize(width);
    QSet<QString> settled;
    settled.reserve(names.size());
    // Per name, the next suffix worth trying: every smaller one is taken for
    // good, so 16,384 equal names do not cost 16,384² tries.
    QHash<QString, int> nextSuffix;
    for (qsizetype i = 0; i < names.size(); ++i) {
        QString name = names.at(i).trimmed();
        if (name.isEmpty())
            name = QStringLiteral("Field %1").arg(i + 1);
        if (settled.contains(name)) {
            int &suffix = nextSuffix[name];
            suffix = qMax(suffix, 2);
            QString candidate;
            do {
                candidate = QStringLiteral("%1_%2").arg(name, QString::number(suffix++));
            } while (settled.contains(candidate));
            name = candidate;
        }
        settled.insert(name);
        names[i] = name;
    }
    return names;
}
