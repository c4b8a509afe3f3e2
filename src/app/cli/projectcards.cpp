#include "projectcards.h"

#include "clicontext.h"

#include "app/exportplan.h"
#include "model/fieldvalues.h"
#include "render/pdfexport.h"
#include "store/recordassembly.h"

std::optional<ProjectCards> loadProjectCards(CliContext &context, ProjectStore &store, qint64 projectId)
{
    QString error;
    const CardTable records = loadProjectRecords(store, projectId, nullptr, &error);
    if (!error.isEmpty()) {
        context.fail(QStringLiteral("Data Read Failed: %1").arg(error));
        return std::nullopt;
    }
    ProjectCards cards;
    cards.fields = store.loadRecords<TemplateField>(projectId, &error);
    if (!error.isEmpty()) {
        context.fail(QStringLiteral("Could not read the template fields: %1").arg(error));
        return std::nullopt;
    }
    PreparedCards prepared = prepareCardRecords(records, cards.fields);
    cards.records = std::move(prepared.records);
    cards.scratchErrors = scratchConfigurationErrors(cards.fields, prepared.error);
    return cards;
}
