#include "projectstore.h"
#include "sqlutil.h"

#include <QSqlQuery>
#include <QStringBuilder>
#include <QVariant>

#include <optional>

using namespace storeutil;

namespace {

const QString fieldInsertColumns = QStringLiteral(
    "project_id, side, field_type, name, data_column, x_mm, y_mm, width_mm, height_mm, font_family, "
    "font_size_pt, color_hex, is_bold, alignment, barcode_format, barcode_show_text, scratch_mode, "
    "scratch_total, scratch_prizes_json, sequence_prefix, sequence_digits, sequence_step, "
    "sequence_exclude_four, sort_order");
// project_id and the 22 properties; the sort order follows.
const QString fieldInsertValues = QStringLiteral("?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,");
const QString fieldAppendedOrder = QStringLiteral(
    "( SELECT COALESCE(MAX(sort_order), -1) + 1 FROM template_fields WHERE project_id=?)");

const QString graphicInsertColumns = QStringLiteral(
    "project_id, side, element_type, x_mm, y_mm, width_mm, height_mm, stroke_color, stroke_width_mm, "
    "fill_color, table_rows, table_columns, cell_spacing_mm, sort_order");
const QString graphicInsertValues = QStringLiteral("?,?,?,?,?,?,?,?,?,?,?,?,?,");
const QString graphicAppendedOrder = QStringLiteral(
    "( SELECT COALESCE(MAX(sort_order), -1) + 1 FROM template_graphics WHERE project_id=?)");

// The 22 stored properties from side to sequenceExcludeFour, in column order.
void bindFieldProperties(QSqlQuery &query, const TemplateField &f)
{
    query.addBindValue(cardSideKey(f.side));
    query.addBindValue(elementKindKey(f.type));
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
    query.addBindValue(alignmentFlags(f.alignment));
    query.addBindValue(barcodeFormatKey(f.barcodeFormat));
    query.addBindValue(f.barcodeShowText);
    query.addBindValue(scratchModeKey(f.scratchMode));
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

// An update or removal of one element: anything but exactly one changed row
// means the record the editor holds is no longer what the store holds (another
// program removed it), and reporting success would show an edit never written.
bool execOnOneRow(QSqlQuery &query, QString *error)
{
    if (!execPrepared(query, error))
        return false;
    if (query.numRowsAffected() != 1)
        return fail(error, elementRemovedElsewhereMessage());
    return true;
}

// How an insert places the row: a new id or the record's own, and either
// appended to the drawing order or at a given sort_order.
struct RowPlacement
{
    bool withId = false;
    std::optional<qint64> sortOrder;
};

// The sort order's place holds the appending sub-select (bound to the
// project id) or, for a given order, a plain parameter.
QString insertStatement(const QString &table, const QString &columns, const QString &values,
                        const QString &appendedOrder, const RowPlacement &placement)
{
    return QStringLiteral("INSERT INTO ") % table % QLatin1Char('(')
        % (placement.withId ? QStringLiteral("id, ") : QString()) % columns % QStringLiteral(") VALUES(")
        % (placement.withId ? QStringLiteral("?,") : QString()) % values
        % (placement.sortOrder ? QStringLiteral("?") : appendedOrder) % QLatin1Char(')');
}

bool insertFieldRow(QSqlDatabase db, const TemplateField &f, const RowPlacement &placement, qint64 *newId,
                    QString *error)
{
    QSqlQuery query(db);
    if (!query.prepare(insertStatement(QStringLiteral("template_fields"), fieldInsertColumns,
                                       fieldInsertValues, fieldAppendedOrder, placement)))
        return fail(error, query);
    if (placement.withId)
        query.addBindValue(f.id);
    query.addBindValue(f.projectId);
    bindFieldProperties(query, f);
    query.addBindValue(placement.sortOrder ? *placement.sortOrder : f.projectId);
    if (!execPrepared(query, error))
        return false;
    if (newId)
        *newId = query.lastInsertId().toLongLong();
    return true;
}

bool insertGraphicRow(QSqlDatabase db, const GraphicElement &g, const RowPlacement &placement, qint64 *newId,
                      QString *error)
{
    QSqlQuery query(db);
    if (!query.prepare(insertStatement(QStringLiteral("template_graphics"), graphicInsertColumns,
                                       graphicInsertValues, graphicAppendedOrder, placement)))
        return fail(error, query);
    if (placement.withId)
        query.addBindValue(g.id);
    query.addBindValue(g.projectId);
    query.addBindValue(cardSideKey(g.side));
    query.addBindValue(elementKindKey(g.type));
    bindGraphicProperties(query, g);
    query.addBindValue(placement.sortOrder ? *placement.sortOrder : g.projectId);
    if (!execPrepared(query, error))
        return false;
    if (newId)
        *newId = query.lastInsertId().toLongLong();
    return true;
}

std::optional<qint64> sortOrderOf(QSqlDatabase db, const QString &table, qint64 id, QString *error)
{
    QSqlQuery query(db);
    if (!run(query, QStringLiteral("SELECT sort_order FROM ") % table % QStringLiteral(" WHERE id=?"), error, id))
        return std::nullopt;
    if (!query.next()) {
        fail(error, QStringLiteral("No row %1 in %2").arg(id).arg(table));
        return std::nullopt;
    }
    return query.value(0).toLongLong();
}

} // namespace

QString elementRemovedElsewhereMessage()
{
    return QStringLiteral("The object no longer exists in the project database; it was removed elsewhere.");
}

QList<TemplateField> ProjectStore::loadFields(qint64 projectId, QString *error, QList<qint64> *sortOrders)
{
    if (sortOrders)
        sortOrders->clear();
    QSqlQuery query(database());
    if (!run(query,
             QStringLiteral(
                 "SELECT id, project_id, side, field_type, name, data_column, x_mm, y_mm, width_mm, "
                 "height_mm, font_family, font_size_pt, color_hex, is_bold, alignment, barcode_format, "
                 "barcode_show_text, scratch_mode, scratch_total, scratch_prizes_json, sequence_prefix, "
                 "sequence_digits, sequence_step, sequence_exclude_four, sort_order FROM template_fields "
                 "WHERE project_id=? ORDER BY sort_order, id"),
             error, projectId))
        return {};
    QList<TemplateField> fields;
    QList<qint64> orders;
    while (query.next()) {
        TemplateField f;
        f.id = query.value(0).toLongLong();
        f.projectId = query.value(1).toLongLong();
        f.side = cardSideFromKey(query.value(2).toString());
        // A kind this program does not know is painted and listed as text,
        // as it always was.
        f.type = fieldKindFromKey(query.value(3).toString()).value_or(ElementKind::Text);
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
        f.alignment = alignmentFromFlags(query.value(14).toInt());
        // Unknown formats have always printed as Code 128.
        f.barcodeFormat = barcodeFormatFromKey(query.value(15).toString()).value_or(BarcodeFormat::Code128);
        f.barcodeShowText = query.value(16).toBool();
        // Unknown modes have always drawn prizes as counts.
        f.scratchMode = scratchModeFromKey(query.value(17).toString()).value_or(ScratchMode::Count);
        f.scratchTotal = query.value(18).toInt();
        f.scratchPrizesJson = query.value(19).toString();
        f.sequencePrefix = query.value(20).toString();
        f.sequenceDigits = query.value(21).toInt();
        f.sequenceStep = query.value(22).toInt();
        f.sequenceExcludeFour = query.value(23).toBool();
        fields.append(f);
        orders.append(query.value(24).toLongLong());
    }
    if (sortOrders)
        *sortOrders = orders;
    return fields;
}

bool ProjectStore::insertField(TemplateField *field, QString *error)
{
    if (!field)
        return false;
    qint64 id = 0;
    if (!insertFieldRow(database(), *field, {}, &id, error))
        return false;
    field->id = id;
    return true;
}

bool ProjectStore::restoreField(const TemplateField &field, qint64 sortOrder, QString *error)
{
    return insertFieldRow(database(), field, {true, sortOrder}, nullptr, error);
}

std::optional<qint64> ProjectStore::fieldSortOrder(qint64 id, QString *error)
{
    return sortOrderOf(database(), QStringLiteral("template_fields"), id, error);
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
    return execOnOneRow(query, error);
}

bool ProjectStore::removeField(qint64 id, QString *error)
{
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral("DELETE FROM template_fields WHERE id=?")))
        return fail(error, query);
    query.addBindValue(id);
    return execOnOneRow(query, error);
}

QList<GraphicElement> ProjectStore::loadGraphics(qint64 projectId, QString *error, QList<qint64> *sortOrders)
{
    if (sortOrders)
        sortOrders->clear();
    QSqlQuery query(database());
    if (!run(query,
             QStringLiteral(
                 "SELECT id, project_id, side, element_type, x_mm, y_mm, width_mm, height_mm, stroke_color, "
                 "stroke_width_mm, fill_color, table_rows, table_columns, cell_spacing_mm, sort_order "
                 "FROM template_graphics WHERE project_id=? ORDER BY sort_order, id"),
             error, projectId))
        return {};
    QList<GraphicElement> graphics;
    QList<qint64> orders;
    while (query.next()) {
        // A shape this program does not know was never painted: not on the
        // canvas, not in the preview, not in the export. No kind stands for
        // it, so it is left out of the list (and so out of every painter and
        // check), and its row is kept as stored: nothing here rewrites it.
        const std::optional<ElementKind> kind = graphicKindFromKey(query.value(3).toString());
        if (!kind)
            continue;
        GraphicElement g;
        g.id = query.value(0).toLongLong();
        g.projectId = query.value(1).toLongLong();
        g.side = cardSideFromKey(query.value(2).toString());
        g.type = *kind;
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
        orders.append(query.value(14).toLongLong());
    }
    if (sortOrders)
        *sortOrders = orders;
    return graphics;
}

bool ProjectStore::insertGraphic(GraphicElement *element, QString *error)
{
    if (!element)
        return false;
    qint64 id = 0;
    if (!insertGraphicRow(database(), *element, {}, &id, error))
        return false;
    element->id = id;
    return true;
}

bool ProjectStore::restoreGraphic(const GraphicElement &element, qint64 sortOrder, QString *error)
{
    return insertGraphicRow(database(), element, {true, sortOrder}, nullptr, error);
}

std::optional<qint64> ProjectStore::graphicSortOrder(qint64 id, QString *error)
{
    return sortOrderOf(database(), QStringLiteral("template_graphics"), id, error);
}

bool ProjectStore::updateGraphic(const GraphicElement &element, QString *error)
{
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral(
            "UPDATE template_graphics SET side=?, x_mm=?, y_mm=?, width_mm=?, height_mm=?, stroke_color=?, "
            "stroke_width_mm=?, fill_color=?, table_rows=?, table_columns=?, cell_spacing_mm=? "
            "WHERE id=? AND project_id=?")))
        return fail(error, query);
    query.addBindValue(cardSideKey(element.side));
    bindGraphicProperties(query, element);
    query.addBindValue(element.id);
    query.addBindValue(element.projectId);
    return execOnOneRow(query, error);
}

bool ProjectStore::removeGraphic(qint64 id, QString *error)
{
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral("DELETE FROM template_graphics WHERE id=?")))
        return fail(error, query);
    query.addBindValue(id);
    return execOnOneRow(query, error);
}

bool ProjectStore::beginTransaction(QString *error)
{
    QSqlDatabase db = database();
    if (!db.transaction())
        return fail(error, errorText(db.lastError()));
    return true;
}

bool ProjectStore::commitTransaction(QString *error)
{
    QSqlDatabase db = database();
    if (!db.commit())
        return fail(error, errorText(db.lastError()));
    return true;
}

void ProjectStore::rollBackTransaction()
{
    // The failed step's message is what the caller reports; a failing
    // rollback (nothing left to undo) adds nothing to it.
    database().rollback();
}
