#include "projectstore.h"
#include "sqlutil.h"

#include <QDir>
#include <QSqlQuery>
#include <QVariant>

using namespace storeutil;

namespace {

const QString projectColumns = QStringLiteral(
    "SELECT id, name, card_width_mm, card_height_mm, paper_width_mm, paper_height_mm, rows, "
    "columns_count, background_path, duplex, back_background_path, data_source_path, bleed_mm, "
    "show_bleed, show_imposition_border, imposition_border_color, show_crop_marks, is_demo, demo_key ");

Project projectFromRow(const QSqlQuery &query)
{
    Project p;
    p.id = query.value(0).toLongLong();
    p.name = query.value(1).toString();
    p.cardWidthMm = query.value(2).toDouble();
    p.cardHeightMm = query.value(3).toDouble();
    p.paperWidthMm = query.value(4).toDouble();
    p.paperHeightMm = query.value(5).toDouble();
    p.rows = query.value(6).toInt();
    p.columns = query.value(7).toInt();
    p.backgroundPath = query.value(8).toString();
    p.duplex = query.value(9).toBool();
    p.backBackgroundPath = query.value(10).toString();
    p.dataSourcePath = query.value(11).toString();
    p.bleedMm = query.value(12).toDouble();
    p.showBleed = query.value(13).toBool();
    p.showImpositionBorder = query.value(14).toBool();
    p.impositionBorderColor = query.value(15).toString();
    p.showCropMarks = query.value(16).toBool();
    p.isDemo = query.value(17).toBool();
    p.demoKey = query.value(18).toString();
    return p;
}

} // namespace

std::optional<Project> ProjectStore::createProject(const QString &name, QString *error)
{
    QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        trimmed = untitledProjectName();
    QSqlQuery query(database());
    if (!run(query, QStringLiteral("INSERT INTO projects(name) VALUES(?)"), error, trimmed))
        return std::nullopt;
    Project project;
    project.id = query.lastInsertId().toLongLong();
    project.name = trimmed;
    return project;
}

std::optional<Project> ProjectStore::loadLatestProject(QString *error)
{
    // Two rounds at most: the second finds the project the first one created.
    for (int round = 0; round < 2; ++round) {
        QSqlQuery query(database());
        if (!query.exec(projectColumns % QStringLiteral("FROM projects ORDER BY id DESC LIMIT 1"))) {
            fail(error, query);
            return std::nullopt;
        }
        if (query.next())
            return projectFromRow(query);
        if (round == 0 && !createProject(untitledProjectName(), error))
            return std::nullopt;
    }
    fail(error, QStringLiteral("No project could be loaded"));
    return std::nullopt;
}

QList<Project> ProjectStore::listProjects(QString *error)
{
    QList<Project> projects;
    QSqlQuery query(database());
    if (!query.exec(projectColumns % QStringLiteral("FROM projects ORDER BY updated_at DESC, id DESC"))) {
        fail(error, query);
        return {};
    }
    while (query.next())
        projects.append(projectFromRow(query));
    return projects;
}

bool ProjectStore::updateProject(const Project &p, QString *error)
{
    QSqlQuery query(database());
    return run(query,
               QStringLiteral(
                   "UPDATE projects SET name=?, card_width_mm=?, card_height_mm=?, paper_width_mm=?, "
                   "paper_height_mm=?, rows=?, columns_count=?, background_path=?, duplex=?, "
                   "back_background_path=?, data_source_path=?, bleed_mm=?, show_bleed=?, "
                   "show_imposition_border=?, imposition_border_color=?, show_crop_marks=?, "
                   "updated_at=CURRENT_TIMESTAMP WHERE id=?"),
               error, text(p.name), p.cardWidthMm, p.cardHeightMm, p.paperWidthMm, p.paperHeightMm, p.rows,
               p.columns, text(p.backgroundPath), p.duplex, text(p.backBackgroundPath),
               text(p.dataSourcePath), p.bleedMm, p.showBleed, p.showImpositionBorder,
               text(p.impositionBorderColor), p.showCropMarks, p.id);
}

bool ProjectStore::deleteProject(qint64 id, QString *error)
{
    if (id < 1)
        return fail(error, QStringLiteral("Invalid project ID"));
    QSqlQuery query(database());
    if (!run(query, QStringLiteral("DELETE FROM projects WHERE id=?"), error, id))
        return false;
    if (query.numRowsAffected() != 1)
        return fail(error, QStringLiteral("Project does not exist or has been deleted"));
    return true;
}

bool ProjectStore::markLegacyDemoProjects(QString *error)
{
    // The two built-in demos of earlier releases, recognised by their exact shape
    // so that a user's own project that merely shares a name is never removed.
    const QString scratchCardDemo = QStringLiteral(
        "UPDATE projects SET is_demo=1, demo_key='scratch-card' "
        "WHERE is_demo=0 AND demo_key IS NULL AND name='Scratch Card Demo' "
        "AND ABS(card_width_mm - 89.0) < 0.001 AND ABS(card_height_mm - 52.0) < 0.001 "
        "AND ABS(paper_width_mm - 297.0) < 0.001 AND ABS(paper_height_mm - 210.0) < 0.001 "
        "AND rows=3 AND columns_count=3 AND duplex=1 "
        "AND (SELECT COUNT(*) FROM template_fields f WHERE f.project_id=projects.id) = 2 "
        "AND EXISTS (SELECT 1 FROM template_fields f WHERE f.project_id=projects.id "
        "  AND f.field_type='scratch' AND f.side='back' AND f.name='Scratch Card Prize') "
        "AND EXISTS (SELECT 1 FROM template_fields f WHERE f.project_id=projects.id "
        "  AND f.field_type='sequence' AND f.side='back' AND f.sequence_prefix='No.' "
        "  AND f.sequence_digits=5 AND f.sequence_step=1 AND f.sequence_exclude_four=1)");
    const QString variableDataDemo = QStringLiteral(
        "UPDATE projects SET is_demo=1, demo_key='variable-data' "
        "WHERE is_demo=0 AND demo_key IS NULL AND name='Demo Template' "
        "AND ABS(card_width_mm - 90.0) < 0.001 AND ABS(card_height_mm - 54.0) < 0.001 "
        "AND ABS(paper_width_mm - 420.0) < 0.001 AND ABS(paper_height_mm - 301.0) < 0.001 "
        "AND rows=4 AND columns_count=4 AND duplex=0 "
        "AND (SELECT COUNT(*) FROM template_fields f WHERE f.project_id=projects.id) = 8 "
        "AND (SELECT COUNT(*) FROM template_fields f WHERE f.project_id=projects.id "
        "  AND f.field_type='text') = 7 "
        "AND (SELECT COUNT(*) FROM template_fields f WHERE f.project_id=projects.id "
        "  AND f.field_type='barcode') = 1 "
        "AND (SELECT COUNT(*) FROM template_graphics g WHERE g.project_id=projects.id) = 6 "
        "AND (SELECT COUNT(*) FROM template_graphics g WHERE g.project_id=projects.id "
        "  AND g.element_type='rectangle') = 6 "
        "AND EXISTS (SELECT 1 FROM data_sources s WHERE s.project_id=projects.id "
        "  AND s.display_name='sample-data.xlsx')");
    return execStatement(scratchCardDemo, error) && execStatement(variableDataDemo, error);
}

bool ProjectStore::deleteDemoProjects(QString *error)
{
    return execStatement(QStringLiteral("DELETE FROM projects WHERE is_demo=1"), error);
}

bool ProjectStore::relinkStarterSampleData(const QString &starterDirectory, QString *error)
{
    // Only what names the sample workbook follows the installation. A file the
    // user added to the starter project keeps its path: pointing every source at
    // the same file would also break UNIQUE(project_id, file_path) and stop
    // every later start.
    const QString samplePath = QDir(starterDirectory).filePath(QStringLiteral("sample-data.xlsx"));
    const QString namesSample = QStringLiteral(
        "(REPLACE(%1, '\\', '/') LIKE '%/sample-data.xlsx' OR %1 = 'sample-data.xlsx')");
    QSqlQuery projects(database());
    if (!run(projects,
             QStringLiteral("UPDATE projects SET data_source_path=? "
                            "WHERE is_demo=0 AND demo_key='starter-template' AND ")
                 % namesSample.arg(QStringLiteral("data_source_path")),
             error, samplePath))
        return false;
    QSqlQuery sources(database());
    return run(sources,
               QStringLiteral("UPDATE OR IGNORE data_sources SET file_path=? WHERE project_id IN "
                              "(SELECT id FROM projects WHERE is_demo=0 AND demo_key='starter-template') AND ")
                   % namesSample.arg(QStringLiteral("file_path")),
               error, samplePath);
}
