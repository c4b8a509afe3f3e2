#pragma once

#include "model/graphicelement.h"
#include "model/project.h"
#include "model/templatefield.h"
#include "store/datasource.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <optional>

// The single owner of the SQLite connection. Every persistent operation is a
// member; failures come back as a false/empty result plus, when `error` is not
// null, the SQL driver's message (or the operation's own text).
class ProjectStore
{
public:
    ProjectStore();
    ~ProjectStore();
    ProjectStore(const ProjectStore &) = delete;
    ProjectStore &operator=(const ProjectStore &) = delete;

    QString connectionName() const { return m_connectionName; }
    QSqlDatabase database() const;

    // Connection and schema
    bool openDatabase(const QString &path, QString *error = nullptr);
    bool initializeSchema(QString *error = nullptr);
    bool execStatement(const QString &sql, QString *error = nullptr);

    // Projects
    std::optional<Project> createProject(const QString &name, QString *error = nullptr);
    std::optional<Project> loadLatestProject(QString *error = nullptr);
    QList<Project> listProjects(QString *error = nullptr);
    bool updateProject(const Project &project, QString *error = nullptr);
    bool deleteProject(qint64 id, QString *error = nullptr);

    // Start-up upkeep of the built-in projects, run in this order.
    bool markLegacyDemoProjects(QString *error = nullptr);
    bool deleteDemoProjects(QString *error = nullptr);
    bool relinkStarterSampleData(const QString &starterDirectory, QString *error = nullptr);

    // Template fields
    QList<TemplateField> loadFields(qint64 projectId, QString *error = nullptr);
    bool insertField(TemplateField *field, QString *error = nullptr);
    bool insertFieldWithId(const TemplateField &field, QString *error = nullptr);
    bool updateField(const TemplateField &field, QString *error = nullptr);
    bool removeField(qint64 id, QString *error = nullptr);

    // Template graphics
    QList<GraphicElement> loadGraphics(qint64 projectId, QString *error = nullptr);
    bool insertGraphic(GraphicElement *element, QString *error = nullptr);
    bool insertGraphicWithId(const GraphicElement &element, QString *error = nullptr);
    bool updateGraphic(const GraphicElement &element, QString *error = nullptr);
    bool removeGraphic(qint64 id, QString *error = nullptr);

    // Data sources and their stored rows
    std::optional<DataSource> upsertDataSource(qint64 projectId, const QString &filePath,
                                               const DataSourceOptions &options, QString *error = nullptr);
    bool reloadDataSource(qint64 sourceId, QString *error = nullptr);
    bool replaceDataSourceRecords(qint64 sourceId, const QStringList &header, const QList<QStringList> &rows,
                                  QString *error = nullptr);
    QList<DataSource> loadDataSources(qint64 projectId, QString *error = nullptr);
    // limit < 0: all rows. `columns` gets every member name, once, sorted case-insensitively.
    QList<DataRecord> loadDataSourceRecords(qint64 sourceId, QStringList *columns = nullptr, int limit = -1,
                                            QString *error = nullptr);
    int countDataSourceRecords(qint64 sourceId);
    bool deleteDataSource(qint64 sourceId, QString *error = nullptr);

private:
    bool addColumnIfMissing(const QString &table, const QString &column, const QString &definition,
                            QString *error);
    bool upgradeSingleFileProjects(QString *error);

    QString m_connectionName;
};
