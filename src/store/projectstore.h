#pragma once

#include "model/datasource.h"
#include "model/project.h"
#include "model/templateelement.h"
#include "store/recordrows.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <optional>

// Why an update or removal of a template element failed when its row was not
// there (another program removed it).
QString elementRemovedElsewhereMessage();

// The path a data source is stored under: absolute and cleaned, symbolic
// links kept as the user gave them.
QString absoluteSourcePath(const QString &filePath);

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
    // The settings every connection to the database file works with (foreign
    // keys, WAL, cache); initializeSchema applies them, a second connection
    // opened on the same file applies them alone.
    bool applyConnectionSettings(QString *error = nullptr);
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

    // Template elements, fields and graphics alike. `sortOrders`, when given,
    // gets each loaded record's place in its group's drawing order (its
    // sort_order), index for index. All groups come as the fields in drawing
    // order, then the graphics in drawing order; a graphic row of a shape this
    // program does not know is not loaded (it was never painted) and stays as
    // stored.
    QList<TemplateElement> loadElements(qint64 projectId, QString *error = nullptr,
                                        QList<qint64> *sortOrders = nullptr);
    QList<TemplateElement> loadElements(qint64 projectId, ElementGroup group, QString *error = nullptr,
                                        QList<qint64> *sortOrders = nullptr);
    // A new row at the top of its group's drawing order; the element gets its id.
    bool insertElement(TemplateElement *element, QString *error = nullptr);
    // Undo and redo: the row back under its id and at the given place in the
    // drawing order, so that it is drawn where it was, not on top.
    bool restoreElement(const TemplateElement &element, qint64 sortOrder, QString *error = nullptr);
    std::optional<qint64> sortOrderOf(const ElementRef &ref, QString *error = nullptr);
    // An update or removal succeeds only when exactly one row changed;
    // otherwise it fails with elementRemovedElsewhereMessage(). An update
    // keeps a graphic's kind as stored.
    bool updateElement(const TemplateElement &element, QString *error = nullptr);
    bool removeElement(const ElementRef &ref, QString *error = nullptr);

    // The records of one group alone (the export plan, the command line, the
    // starter and tools that build a template row by row).
    template<typename Record>
    QList<Record> loadRecords(qint64 projectId, QString *error = nullptr, QList<qint64> *sortOrders = nullptr)
    {
        return recordsOf<Record>(loadElements(projectId, recordGroup<Record>, error, sortOrders));
    }
    template<typename Record>
        requires(!std::is_same_v<Record, TemplateElement>)
    bool insertElement(Record *record, QString *error = nullptr)
    {
        if (!record)
            return false;
        TemplateElement element = *record;
        if (!insertElement(&element, error))
            return false;
        record->id = idOf(element);
        return true;
    }

    // Several element statements as one change (a table split, an undo step):
    // after a failed step the caller rolls back and nothing of it remains.
    bool beginTransaction(QString *error = nullptr);
    bool commitTransaction(QString *error = nullptr);
    void rollBackTransaction();

    // Data sources and their stored rows. The store reads no data file: the
    // rows come from a producer it runs on a reader thread of its own while
    // writing (a streamed file), or already read (a workbook); reading a file
    // by its path is the data import's (app/dataimport.h). An import or
    // re-read asks `cancelRequested` (when given) on the calling thread
    // before and between its batches of rows and before its commit; once it
    // answers true the work is rolled back and fails with "The import was
    // cancelled". The source's entry (new, or its options) and its rows are
    // written in one transaction: a failure or a cancel changes nothing.
    std::optional<DataSource> upsertDataSource(qint64 projectId, const QString &filePath,
                                               const DataSourceOptions &options, const RecordRowProducer &rows,
                                               QString *error = nullptr,
                                               const std::function<bool()> &cancelRequested = {});
    std::optional<DataSource> upsertDataSource(qint64 projectId, const QString &filePath,
                                               const DataSourceOptions &options, const ImportedTable &table,
                                               QString *error = nullptr,
                                               const std::function<bool()> &cancelRequested = {});
    bool replaceDataSourceRecords(qint64 sourceId, const RecordRowProducer &rows, QString *error = nullptr,
                                  const std::function<bool()> &cancelRequested = {});
    bool replaceDataSourceRecords(qint64 sourceId, const QStringList &header, const QList<QStringList> &rows,
                                  QString *error = nullptr, const std::function<bool()> &cancelRequested = {});
    // The source's entry, or nothing and "Data source does not exist".
    std::optional<DataSource> loadDataSource(qint64 sourceId, QString *error = nullptr);
    QList<DataSource> loadDataSources(qint64 projectId, QString *error = nullptr);
    // limit < 0: all rows. `columns` gets every member name, once, sorted case-insensitively.
    QList<DataRecord> loadDataSourceRecords(qint64 sourceId, QStringList *columns = nullptr, int limit = -1,
                                            QString *error = nullptr);
    // 0 on failure, with `error` set.
    int countDataSourceRecords(qint64 sourceId, QString *error = nullptr);
    bool deleteDataSource(qint64 sourceId, QString *error = nullptr);

private:
    bool addColumnIfMissing(const QString &table, const QString &column, const QString &definition,
                            QString *error);
    bool upgradeSingleFileProjects(QString *error);

    QString m_connectionName;
};
