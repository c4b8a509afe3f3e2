#pragma once

#include "model/templatefield.h"
#include "store/datasource.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class CliContext;
class ProjectStore;

// The cards of one project as the preview and the export see them: the card
// records with every generated sequence value and prize, and the fields.
struct ProjectCards
{
    QList<TemplateField> fields;   // in stored drawing order, as loadFields gives them
    QList<DataRecord> records;     // prepared, in card order
    QStringList scratchErrors;     // one line per scratch field left out, see scratchConfigurationErrors
};

// Loads and prepares the cards of project `projectId`. A failed read of the
// records or the fields prints its message on stderr and gives null; a scratch
// configuration error does not stop preparation and lands in scratchErrors.
std::optional<ProjectCards> loadProjectCards(CliContext &context, ProjectStore &store, qint64 projectId);

// One line for every scratch field whose configuration preparation rejects,
// "Scratch card configuration of field "NAME" (SIDE, id ID): MESSAGE", in field
// order. `preparedError` is what preparing all fields together reported; when
// it is not explained by any single field, it is returned on a line of its own,
// so no rejected configuration goes unreported.
QStringList scratchConfigurationErrors(const QList<TemplateField> &fields, const QString &preparedError);
