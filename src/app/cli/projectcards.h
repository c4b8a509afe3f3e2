#pragma once

#include "model/cardtable.h"
#include "model/datasource.h"
#include "model/templatefield.h"

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
    QList<TemplateField> fields;   // in stored drawing order, as the store loads them
    CardTable records;             // prepared, in card order
    QStringList scratchErrors;     // one line per scratch field left out, see scratchConfigurationErrors in app/exportplan.h
};

// Loads and prepares the cards of project `projectId`. A failed read of the
// records or the fields prints its message on stderr and gives null; a scratch
// configuration error does not stop preparation and lands in scratchErrors.
std::optional<ProjectCards> loadProjectCards(CliContext &context, ProjectStore &store, qint64 projectId);
