#include "app/projectsession.h"

#include "model/fieldvalues.h"
#include "store/projectstore.h"
#include "store/recordassembly.h"

ProjectSession::ProjectSession(ProjectStore &store)
    : m_store(store)
{
}

void ProjectSession::setProject(const Project &project)
{
    m_project = project;
    m_dataSources.clear();
    m_cardRecords = CardTable();
    m_cardColumns.clear();
    m_preparedValid = false;
    m_printChoice = {};
}

bool ProjectSession::reloadDataSources(QString *error)
{
    QString message;
    QList<DataSource> sources = m_store.loadDataSources(m_project.id, &message);
    if (!message.isEmpty()) {
        if (error)
            *error = message;
        return false;
    }
    m_dataSources = std::move(sources);
    return true;
}

bool ProjectSession::reloadCardRecords(QString *error)
{
    QString message;
    m_cardColumns.clear();
    m_cardRecords = loadProjectRecords(m_store, m_project.id, &m_cardColumns, &message);
    if (!message.isEmpty()) {
        m_cardRecords = CardTable();
        m_cardColumns.clear();
        if (error)
            *error = message;
        return false;
    }
    return true;
}

const ProjectSession::PreparedView &ProjectSession::preparedCards(const QList<TemplateField> &fields)
{
    if (m_preparedValid && m_preparedFrom.isSharedWith(m_cardRecords) && m_preparedFields == fields)
        return m_prepared;
    PreparedCards prepared = prepareCardRecords(m_cardRecords, fields);
    m_prepared = PreparedView{std::move(prepared.records), prepared.error};
    m_preparedFrom = m_cardRecords;
    m_preparedFields = fields;
    m_preparedValid = true;
    return m_prepared;
}
