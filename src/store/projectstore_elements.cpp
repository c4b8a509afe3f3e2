#include "projectstore.h"
#include "sqlutil.h"

#include <QSqlQuery>
#include <QVariant>

using namespace storeutil;

namespace {

const QString fieldInsertColumns = QStringLiteral(
    "project_id, side, field_type, name, data_column, x_mm, y_mm, width_mm, height_mm, font_family, "
    "font_size_pt, color_hex, is_bold, alignment, barcode_format, barcode_show_text, scratch_mode, "
    "scratch_total, scratch_prizes_json, sequence_prefix, sequence_digits, sequence_step, "
    "sequence_exclude_four, sort_order");
const QString fieldInsertValues = QStringLiteral(
    "?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,"
    "( SELECT COALESCE(MAX(sort_order), -1) + 1 FROM template_fields WHERE project_id=?)");

const QString graphicInsertColumns = QStringLiteral(
    "project_id, side, element_type, x_mm, y_mm, width_mm, height_mm, stroke_color, stroke_width_mm, "
    "fill_color, table_rows, table_columns, cell_spacing_mm, sort_order");
const QString graphicInsertValues = QStringLiteral(
    "?,?,?,?,?,?,?,?,?,?,?,?,?,"
    "( SELECT COALESCE(MAX(sort_order), -1) + 1 FROM template_graphics WHERE project_id=?)");

// The 22 stored properties from side to sequenceExcludeFour, in column order.
void bindFieldProperties(QSqlQuery &query, const TemplateField &f)
{
    query.addBindValue(text(f.side));
    query.addBindValue(text(f.type));
    query.addBindValue(text(f.name));
    query.addBindValue(text(f.dataColumn));
    query.addBindValue(f.xMm);
    query.addBindValue(f.yMm);
    query.addBindValue(f.widthMm);
    query.addBindValue(f.heightMm);
    query.addBindValue(text(f.fontFamily));
    query.addBindValue(f.fontSizePt);
    query.addBindValue(text(f.colorHex));
    query.addBindValue(f.bold);
    query.addBindValue(f.alignment);
    query.addBindValue(text(f.barcodeFormat));
    query.addBindValue(f.barcodeShowText);
    query.addBindValue(text(f.scratchMode));
    query.addBindValue(f.scratchTotal);
    query.addBindValue(text(f.scratchPrizesJson));
    query.addBindValue(text(f.sequencePrefix));
    query.addBindValue(f.sequenceDigits);
    query.addBindValue(f.sequenceStep);
    query.addBindValue(f.sequenceExcludeFour);
}

// side, then the geometry and appearance up to cellSpacingMm (the type is bound by inserts only).
void bindGraphicProperties(QSqlQuery &query, const GraphicElement &g)
{
    query.addBindValue(g.xMm);
    query.addBindValue(g.yMm);
    query.addBindValue(g.widthMm);
    query.addBindValue(g.heightMm);
    query.addBindValue(text(g.strokeColor));
    query.addBindValue(g.strokeWidthMm);
    query.addBindValue(text(g.fillColor));
    query.addBindValue(g.rows);
    query.addBindValue(g.columns);
    query.addBindValue(g.cellSpacingMm);
}

bool execPrepared(QSqlQuery &query, QString *error)
{
    if (!query.exec())
        return fail(error, query);
    return true;
}

bool insertFieldRow(QSqlDatabase db, const TemplateField &f, bool withId, qint64 *newId, QString *error)
{
    QSqlQuery query(db);
    const QString sql = withId
        ? QStringLiteral("INSERT INTO template_fields(id, ") % fieldInsertColumns
              % QStringLiteral(") VALUES(?,") % fieldInsertValues % QLatin1Char(')')
        : QStringLiteral("INSERT INTO template_fields(") % fieldInsertColumns % QStringLiteral(") VALUES(")
              % fieldInsertValues % QLatin1Char(')');
    if (!query.prepare(sql))
        return fail(error, query);
    if (withId)
        query.addBindValue(f.id);
    query.addBindValue(f.projectId);
    bindFieldProperties(query, f);
    query.addBindValue(f.projectId);
    if (!execPrepared(query, error))
        return false;
    if (newId)
        *newId = query.lastInsertId().toLongLong();
    return true;
}

bool insertGraphicRow(QSqlDatabase db, const GraphicElement &g, bool withId, qint64 *newId, QString *error)
{
    QSqlQuery query(db);
    const QString sql = withId
        ? QStringLiteral("INSERT INTO template_graphics(id, ") % graphicInsertColumns
              % QStringLiteral(") VALUES(?,") % graphicInsertValues % QLatin1Char(')')
        : QStringLiteral("INSERT INTO template_graphics(") % graphicInsertColumns
              % QStringLiteral(") VALUES(") % graphicInsertValues % QLatin1Char(')');
    if (!query.prepare(sql))
        return fail(error, query);
    if (withId)
        query.addBindValue(g.id);
    query.addBindValue(g.projectId);
    query.addBindValue(text(g.side));
    query.addBindValue(text(g.type));
    bindGraphicProperties(query, g);
    query.addBindValue(g.projectId);
    if (!execPrepared(query, error))
        return false;
    if (newId)
        *newId = query.lastInsertId().toLongLong();
    return true;
}

} // namespace

QList<TemplateField> ProjectStore::loadFields(qint64 projectId, QString *error)
{
    QSqlQuery query(database());
    if (!run(query,
             QStringLiteral(
                 "SELECT id, project_id, side, field_type, name, data_column, x_mm, y_mm, width_mm, "
                 "height_mm, font_family, font_size_pt, color_hex, is_bold, alignment, barcode_format, "
                 "barcode_show_text, scratch_mode, scratch_total, scratch_prizes_json, sequence_prefix, "
                 "sequence_digits, sequence_step, sequence_exclude_four FROM template_fields "
                 "WHERE project_id=? ORDER BY sort_order, id"),
             error, projectId))
        return {};
    QList<TemplateField> fields;
    while (query.next()) {
        TemplateField f;
        f.id = query.value(0).toLongLong();
        f.projectId = query.value(1).toLongLong();
        f.side = query.value(2).toString();
        f.type = query.value(3).toString();
        f.name = query.value(4).toString();
        f.dataColumn = query.value(5).toString();
        f.xMm = query.value(6).toDouble();
        f.yMm = query.value(7).toDouble();
        f.widthMm = query.value(8).toDouble();
        f.heightMm = query.value(9).toDouble();
        f.fontFamily = query.value(10).toString();
        f.fontSizePt = query.value(11).toDouble();
        f.colorHex = query.value(12).toString();
        f.bold = query.value(13).toBool();
        f.alignment = query.value(14).toInt();
        f.barcodeFormat = query.value(15).toString();
        f.barcodeShowText = query.value(16).toBool();
        f.scratchMode = query.value(17).toString();
        f.scratchTotal = query.value(18).toInt();
        f.scratchPrizesJson = query.value(19).toString();
        f.sequencePrefix = query.value(20).toString();
        f.sequenceDigits = query.value(21).toInt();
        f.sequenceStep = query.value(22).toInt();
        f.sequenceExcludeFour = query.value(23).toBool();
        fields.append(f);
    }
    return fields;
}

bool ProjectStore::insertField(TemplateField *field, QString *error)
{
    if (!field)
        return false;
    qint64 id = 0;
    if (!insertFieldRow(database(), *field, false, &id, error))
        return false;
    field->id = id;
    return true;
}

bool ProjectStore::insertFieldWithId(const TemplateField &field, QString *error)
{
    return insertFieldRow(database(), field, true, nullptr, error);
}

bool ProjectStore::updateField(const TemplateField &field, QString *error)
{
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral(
            "UPDATE template_fields SET side=?, field_type=?, name=?, data_column=?, x_mm=?, y_mm=?, "
            "width_mm=?, height_mm=?, font_family=?, font_size_pt=?, color_hex=?, is_bold=?, alignment=?, "
            "barcode_format=?, barcode_show_text=?, scratch_mode=?, scratch_total=?, scratch_prizes_json=?, "
            "sequence_prefix=?, sequence_digits=?, sequence_step=?, sequence_exclude_four=? "
            "WHERE id=? AND project_id=?")))
        return fail(error, query);
    bindFieldProperties(query, field);
    query.addBindValue(field.id);
    query.addBindValue(field.projectId);
    return execPrepared(query, error);
}

bool ProjectStore::removeField(qint64 id, QString *error)
{
    QSqlQuery query(database());
    return run(query, QStringLiteral("DELETE FROM template_fields WHERE id=?"), error, id);
}

QList<GraphicElement> ProjectStore::loadGraphics(qint64 projectId, QString *error)
{
    QSqlQuery query(database());
    if (!run(query,
             QStringLiteral(
                 "SELECT id, project_id, side, element_type, x_mm, y_mm, width_mm, height_mm, stroke_color, "
                 "stroke_width_mm, fill_color, table_rows, table_columns, cell_spacing_mm "
                 "FROM template_graphics WHERE project_id=? ORDER BY sort_order, id"),
             error, projectId))
        return {};
    QList<GraphicElement> graphics;
    while (query.next()) {
        GraphicElement g;
        g.id = query.value(0).toLongLong();
        g.projectId = query.value(1).toLongLong();
        g.side = query.value(2).toString();
        g.type = query.value(3).toString();
        g.xMm = query.value(4).toDouble();
        g.yMm = query.value(5).toDouble();
        g.widthMm = query.value(6).toDouble();
        g.heightMm = query.value(7).toDouble();
        g.strokeColor = query.value(8).toString();
        g.strokeWidthMm = query.value(9).toDouble();
        g.fillColor = query.value(10).toString();
        g.rows = query.value(11).toInt();
        g.columns = query.value(12).toInt();
        g.cellSpacingMm = query.value(13).toDouble();
        graphics.append(g);
    }
    return graphics;
}

bool ProjectStore::insertGraphic(GraphicElement *element, QString *error)
{
    if (!element)
        return false;
    qint64 id = 0;
    if (!insertGraphicRow(database(), *element, false, &id, error))
        return false;
    element->id = id;
    return true;
}

bool ProjectStore::insertGraphicWithId(const GraphicElement &element, QString *error)
{
    return insertGraphicRow(database(), element, true, nullptr, error);
}

bool ProjectStore::updateGraphic(const GraphicElement &element, QString *error)
{
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral(
            "UPDATE template_graphics SET side=?, x_mm=?, y_mm=?, width_mm=?, height_mm=?, stroke_color=?, "
            "stroke_width_mm=?, fill_color=?, table_rows=?, table_columns=?, cell_spacing_mm=? "
            "WHERE id=? AND project_id=?")))
        return fail(error, query);
    query.addBindValue(text(element.side));
    bindGraphicProperties(query, element);
    query.addBindValue(element.id);
    query.addBindValue(element.projectId);
    return execPrepared(query, error);
}

bool ProjectStore::removeGraphic(qint64 id, QString *error)
{
    QSqlQuery query(database());
    return run(query, QStringLiteral("DELETE FROM template_graphics WHERE id=?"), error, id);
}
