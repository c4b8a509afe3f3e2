#include "projectcards.h"

#include "clicontext.h"

#include "import/recordassembly.h"
#include "model/fieldvalues.h"

namespace {

const QString scratchType = QStringLiteral("scratch");

} // namespace

// prepareCardRecords keeps only the last failing field's message, but a job
// with two prize fields needs to hear about both: each scratch field is
// prepared on its own as well, so the rule that leaves a field out is the one
// that reports it.
QStringList scratchConfigurationErrors(const QList<TemplateField> &fields, const QString &preparedError)
{
    QStringList lines;
    bool explained = preparedError.isEmpty();
    for (const TemplateField &field : fields) {
        if (field.type != scratchType)
            continue;
        const QString error = prepareCardRecords({}, {field}).error;
        if (error.isEmpty())
            continue;
        lines << QStringLiteral("Scratch card configuration of field \"%1\" (%2, id %3): %4")
                     .arg(field.name, field.side, QString::number(field.id), error);
        explained = explained || error == preparedError;
    }
    if (!explained)
        lines << QStringLiteral("Scratch card configuration: %1").arg(preparedError);
    return lines;
}

std::optional<ProjectCards> loadProjectCards(CliContext &context, ProjectStore &store, qint64 projectId)
{
    QString error;
    const QList<DataRecord> records = loadProjectRecords(store, projectId, nullptr, &error);
    if (!error.isEmpty()) {
        context.fail(QStringLiteral("Data Read Failed: %1").arg(error));
        return std::nullopt;
    }
    ProjectCards cards;
    cards.fields = store.loadFields(projectId, &error);
    if (!error.isEmpty()) {
        context.fail(QStringLiteral("Could not read the template fields: %1").arg(error));
        return std::nullopt;
    }
    PreparedCards prepared = prepareCardRecords(records, cards.fields);
    cards.records = std::move(prepared.records);
    cards.scratchErrors = scratchConfigurationErrors(cards.fields, prepared.error);
    return cards;
}
