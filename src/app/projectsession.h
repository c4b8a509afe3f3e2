#pragma once

#include "model/cardtable.h"
#include "model/datasource.h"
#include "model/project.h"
#include "model/templatefield.h"
#include "render/jobselection.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

class ProjectStore;

// The open project's working state, kept in one place so that the data page,
// the canvases, the preview and the export read the same thing and cannot
// disagree: the project record as the window holds it, its data files, the
// combined card records with their column keys, and the cards prepared from
// those records for a set of fields. No widgets; the store is the caller's.
class ProjectSession
{
public:
    explicit ProjectSession(ProjectStore &store);

    // The record as last loaded or saved, with the changes the window makes
    // before a save (mark options, the live data file, the sides).
    const Project &project() const { return m_project; }
    Project &project() { return m_project; }
    // Another project: its data and prepared cards are dropped until reloaded,
    // and its print choice starts at all cards.
    void setProject(const Project &project);

    // The project's data files, in source order; false and `error` on failure
    // (the list held stays as it was).
    bool reloadDataSources(QString *error);
    const QList<DataSource> &dataSources() const { return m_dataSources; }

    // The card records of all data files combined; on failure the records
    // and columns are empty.
    bool reloadCardRecords(QString *error);
    const CardTable &cardRecords() const { return m_cardRecords; }
    const QStringList &cardColumns() const { return m_cardColumns; }

    // The cards as preview and canvas show them: sequence numbers and prizes
    // written in. Prepared again only when the records or the fields changed,
    // so paging through the preview or choosing another preview record costs
    // nothing on a long run.
    struct PreparedView
    {
        CardTable records;
        QString error; // a rejected prize configuration
    };
    const PreparedView &preparedCards(const QList<TemplateField> &fields);

    // The part of the job last chosen for export or preview, as typed: it
    // fills the export's range dialog again and narrows the preview. Kept as
    // typed, so it may no longer fit the job once the data or the grid changed.
    const PrintChoice &printChoice() const { return m_printChoice; }
    void setPrintChoice(const PrintChoice &choice) { m_printChoice = choice; }

private:
    ProjectStore &m_store;
    Project m_project;
    QList<DataSource> m_dataSources;
    CardTable m_cardRecords;
    QStringList m_cardColumns;

    // What the prepared cards were made from: the same record table (comparing
    // every record would cost about as much as preparing them) and the fields
    // by value.
    CardTable m_preparedFrom;
    QList<TemplateField> m_preparedFields;
    PreparedView m_prepared;
    bool m_preparedValid = false;

    PrintChoice m_printChoice;
};
