#include "projectstore.h"
#include "sqlutil.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <QVariant>


using namespace storeutil;

namespace {

const char *const connectionSettings[] = {
    "PRAGMA foreign_keys = ON",
    "PRAGMA journal_mode = WAL",
    "PRAGMA synchronous = NORMAL",
    "PRAGMA temp_store = MEMORY",
    "PRAGMA cache_size = -32768", // KiB: 32 MiB of page cache
};

// background_path is deliberately absent: the column upgrade adds it, so in a
// new database it is the last column, as in every database of older releases.
const char *const tableDefinitions[] = {
    "CREATE TABLE IF NOT EXISTS projects ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " name TEXT NOT NULL,"
    " card_width_mm REAL NOT NULL DEFAULT 90,"
    " card_height_mm REAL NOT NULL DEFAULT 54,"
    " paper_width_mm REAL NOT NULL DEFAULT 420,"
    " paper_height_mm REAL NOT NULL DEFAULT 297,"
    " rows INTEGER NOT NULL DEFAULT 4,"
    " columns_count INTEGER NOT NULL DEFAULT 4,"
    " bleed_mm REAL NOT NULL DEFAULT 2,"
    " show_bleed INTEGER NOT NULL DEFAULT 1,"
    " show_imposition_border INTEGER NOT NULL DEFAULT 1,"
    " imposition_border_color TEXT NOT NULL DEFAULT '#000000',"
    " show_crop_marks INTEGER NOT NULL DEFAULT 0,"
    " duplex INTEGER NOT NULL DEFAULT 0,"
    " back_background_path TEXT,"
    " data_source_path TEXT,"
    " is_demo INTEGER NOT NULL DEFAULT 0,"
    " demo_key TEXT,"
    " created_at TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP,"
    " updated_at TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP)",

    "CREATE TABLE IF NOT EXISTS data_records ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " project_id INTEGER NOT NULL,"
    " sort_index INTEGER NOT NULL,"
    " payload_json TEXT NOT NULL,"
    " FOREIGN KEY(project_id) REFERENCES projects(id) ON DELETE CASCADE,"
    " UNIQUE(project_id, sort_index))",

    "CREATE TABLE IF NOT EXISTS data_sources ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " project_id INTEGER NOT NULL,"
    " file_path TEXT NOT NULL,"
    " display_name TEXT NOT NULL,"
    " sort_order INTEGER NOT NULL DEFAULT 0,"
    " worksheet_name TEXT NOT NULL DEFAULT '',"
    " csv_encoding TEXT NOT NULL DEFAULT 'auto',"
    " csv_delimiter TEXT NOT NULL DEFAULT 'auto',"
    " created_at TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP,"
    " updated_at TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP,"
    " FOREIGN KEY(project_id) REFERENCES projects(id) ON DELETE CASCADE,"
    " UNIQUE(project_id, file_path))",

    "CREATE TABLE IF NOT EXISTS data_source_records ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " data_source_id INTEGER NOT NULL,"
    " sort_index INTEGER NOT NULL,"
    " payload_json TEXT NOT NULL,"
    " FOREIGN KEY(data_source_id) REFERENCES data_sources(id) ON DELETE CASCADE,"
    " UNIQUE(data_source_id, sort_index))",

    "CREATE TABLE IF NOT EXISTS template_fields ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " project_id INTEGER NOT NULL,"
    " side TEXT NOT NULL DEFAULT 'front',"
    " field_type TEXT NOT NULL DEFAULT 'text',"
    " name TEXT NOT NULL,"
    " data_column TEXT,"
    " x_mm REAL NOT NULL,"
    " y_mm REAL NOT NULL,"
    " width_mm REAL NOT NULL,"
    " height_mm REAL NOT NULL,"
    " font_family TEXT NOT NULL,"
    " font_size_pt REAL NOT NULL,"
    " color_hex TEXT NOT NULL,"
    " is_bold INTEGER NOT NULL DEFAULT 0,"
    " alignment INTEGER NOT NULL,"
    " barcode_format TEXT NOT NULL DEFAULT 'code128',"
    " barcode_show_text INTEGER NOT NULL DEFAULT 0,"
    " scratch_mode TEXT NOT NULL DEFAULT 'count',"
    " scratch_total INTEGER NOT NULL DEFAULT 10000,"
    " scratch_prizes_json TEXT NOT NULL DEFAULT '[]',"
    " sequence_prefix TEXT NOT NULL DEFAULT 'No.',"
    " sequence_digits INTEGER NOT NULL DEFAULT 6,"
    " sequence_step INTEGER NOT NULL DEFAULT 1,"
    " sequence_exclude_four INTEGER NOT NULL DEFAULT 0,"
    " sort_order INTEGER NOT NULL DEFAULT 0,"
    " FOREIGN KEY(project_id) REFERENCES projects(id) ON DELETE CASCADE)",

    "CREATE TABLE IF NOT EXISTS template_graphics ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " project_id INTEGER NOT NULL,"
    " side TEXT NOT NULL DEFAULT 'front',"
    " element_type TEXT NOT NULL,"
    " x_mm REAL NOT NULL,"
    " y_mm REAL NOT NULL,"
    " width_mm REAL NOT NULL,"
    " height_mm REAL NOT NULL,"
    " stroke_color TEXT NOT NULL,"
    " stroke_width_mm REAL NOT NULL,"
    " fill_color TEXT NOT NULL,"
    " table_rows INTEGER NOT NULL DEFAULT 3,"
    " table_columns INTEGER NOT NULL DEFAULT 3,"
    " cell_spacing_mm REAL NOT NULL DEFAULT 0,"
    " sort_order INTEGER NOT NULL DEFAULT 0,"
    " FOREIGN KEY(project_id) REFERENCES projects(id) ON DELETE CASCADE)",
};

struct ColumnUpgrade
{
    const char *table;
    const char *column;
    const char *definition;
};

// Columns that databases of earlier releases may lack, added in this order.
const ColumnUpgrade columnUpgrades[] = {
    {"projects", "background_path", "TEXT"},
    {"projects", "bleed_mm", "REAL NOT NULL DEFAULT 2"},
    {"projects", "show_bleed", "INTEGER NOT NULL DEFAULT 1"},
    {"projects", "show_imposition_border", "INTEGER NOT NULL DEFAULT 1"},
    {"projects", "imposition_border_color", "TEXT NOT NULL DEFAULT '#000000'"},
    {"projects", "show_crop_marks", "INTEGER NOT NULL DEFAULT 0"},
    {"projects", "duplex", "INTEGER NOT NULL DEFAULT 0"},
    {"projects", "back_background_path", "TEXT"},
    {"projects", "data_source_path", "TEXT"},
    {"projects", "is_demo", "INTEGER NOT NULL DEFAULT 0"},
    {"projects", "demo_key", "TEXT"},
    {"data_sources", "worksheet_name", "TEXT NOT NULL DEFAULT ''"},
    {"data_sources", "csv_encoding", "TEXT NOT NULL DEFAULT 'auto'"},
    {"data_sources", "csv_delimiter", "TEXT NOT NULL DEFAULT 'auto'"},
    {"template_fields", "side", "TEXT NOT NULL DEFAULT 'front'"},
    {"template_fields", "field_type", "TEXT NOT NULL DEFAULT 'text'"},
    {"template_fields", "barcode_format", "TEXT NOT NULL DEFAULT 'code128'"},
    {"template_fields", "barcode_show_text", "INTEGER NOT NULL DEFAULT 0"},
    {"template_fields", "scratch_mode", "TEXT NOT NULL DEFAULT 'count'"},
    {"template_fields", "scratch_total", "INTEGER NOT NULL DEFAULT 10000"},
    {"template_fields", "scratch_prizes_json", "TEXT NOT NULL DEFAULT '[]'"},
    {"template_fields", "sequence_prefix", "TEXT NOT NULL DEFAULT 'No.'"},
    {"template_fields", "sequence_digits", "INTEGER NOT NULL DEFAULT 6"},
    {"template_fields", "sequence_step", "INTEGER NOT NULL DEFAULT 1"},
    {"template_fields", "sequence_exclude_four", "INTEGER NOT NULL DEFAULT 0"},
    {"template_graphics", "cell_spacing_mm", "REAL NOT NULL DEFAULT 0"},
    {"template_graphics", "side", "TEXT NOT NULL DEFAULT 'front'"},
};

} // namespace

bool ProjectStore::applyConnectionSettings(QString *error)
{
    for (const char *sql : connectionSettings) {
        if (!execStatement(QString::fromLatin1(sql), error))
            return false;
    }
    return true;
}

bool ProjectStore::initializeSchema(QString *error)
{
    if (!applyConnectionSettings(error))
        return false;
    for (const char *sql : tableDefinitions) {
        if (!execStatement(QString::fromLatin1(sql), error))
            return false;
    }
    for (const ColumnUpgrade &upgrade : columnUpgrades) {
        if (!addColumnIfMissing(QString::fromLatin1(upgrade.table), QString::fromLatin1(upgrade.column),
                                QString::fromLatin1(upgrade.definition), error))
            return false;
    }
    return upgradeSingleFileProjects(error);
}

bool ProjectStore::addColumnIfMissing(const QString &table, const QString &column,
                                      const QString &definition, QString *error)
{
    QSqlQuery query(database());
    if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table)))
        return fail(error, query);
    while (query.next()) {
        if (query.value(1).toString() == column)
            return true;
    }
    return execStatement(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3").arg(table, column, definition),
                         error);
}

// Projects of the single-file layout name their data file in projects.data_source_path
// and keep its rows in data_records. Each such project gets a data source holding
// a copy of those rows; the old rows and the path stay as they are.
bool ProjectStore::upgradeSingleFileProjects(QString *error)
{
    struct Pending
    {
        qint64 projectId;
        QString path;
    };
    QList<Pending> pending;
    {
        QSqlQuery select(database());
        if (!select.exec(QStringLiteral(
                "SELECT id, data_source_path FROM projects WHERE COALESCE(data_source_path, '') <> '' "
                "AND NOT EXISTS (SELECT 1 FROM data_sources WHERE project_id=projects.id)")))
            return fail(error, select);
        while (select.next())
            pending.append({select.value(0).toLongLong(), select.value(1).toString()});
    }

    QSqlDatabase db = database();
    for (const Pending &project : pending) {
        const QString absolutePath = QFileInfo(project.path).absoluteFilePath();
        // Both statements in one transaction: a source without its rows would
        // no longer match the filter above and would never be completed.
        if (!db.transaction())
            return fail(error, errorText(db.lastError()));
        QSqlQuery insert(db);
        bool ok = run(insert,
                      QStringLiteral("INSERT INTO data_sources(project_id, file_path, display_name, sort_order) "
                                     "VALUES(?,?,?,0)"),
                      error, project.projectId, absolutePath, QFileInfo(absolutePath).fileName());
        if (ok) {
            const qint64 sourceId = insert.lastInsertId().toLongLong();
            QSqlQuery copy(db);
            ok = run(copy,
                     QStringLiteral("INSERT INTO data_source_records(data_source_id, sort_index, payload_json) "
                                    "SELECT ?, sort_index, payload_json FROM data_records WHERE project_id=?"),
                     error, sourceId, project.projectId);
        }
        if (!ok) {
            db.rollback();
            return false;
        }
        if (!db.commit()) {
            const QString message = errorText(db.lastError());
            db.rollback();
            return fail(error, message);
        }
    }
    return true;
}
