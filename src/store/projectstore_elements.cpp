#include "projectstore.h"
#include "sqlutil.h"

#include <QSqlQuery>
#include <QStringBuilder>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

#include <optional>

using namespace storeutil;

namespace {

// One stored property of an element's row. A column that is not `updated`
// is written by inserts only (a graphic never changes its kind).
struct ElementColumn
{
    const char *name;
    bool updated = true;
};

// How one group of elements is stored: its table, the property columns
// between project_id and sort_order in their order, the values a record
// binds to them (the same order), and the record read back from a row
// (id, project_id, the properties, sort_order); nothing for a row that is
// not loaded.
struct ElementTable
{
    QString name;
    QList<ElementColumn> columns;
    QVariantList (*values)(const TemplateElement &element);
    std::optional<TemplateElement> (*read)(const QSqlQuery &row);
};

QVariantList fieldValues(const TemplateElement &element)
{
    const TemplateField &f = std::get<TemplateField>(element);
    return {cardSideKey(f.side),
            elementKindKey(f.type),
            text(f.name),
            text(f.dataColumn),
            f.xMm,
            f.yMm,
            f.widthMm,
            f.heightMm,
            text(f.fontFamily),
            f.fontSizePt,
            text(f.colorHex),
            f.bold,
            alignmentFlags(f.alignment),
            barcodeFormatKey(f.barcodeFormat),
            f.barcodeShowText,
            scratchModeKey(f.scratchMode),
            f.scratchTotal,
            text(f.scratchPrizesJson),
            text(f.sequencePrefix),
            f.sequenceDigits,
            f.sequenceStep,
            f.sequenceExcludeFour};
}

std::optional<TemplateElement> readField(const QSqlQuery &query)
{
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
    return f;
}

QVariantList graphicValues(const TemplateElement &element)
{
    const GraphicElement &g = std::get<GraphicElement>(element);
    return {cardSideKey(g.side), elementKindKey(g.type), g.xMm,    g.yMm,    g.widthMm,      g.heightMm,
            text(g.strokeColor), g.strokeWidthMm,        text(g.fillColor), g.rows, g.columns, g.cellSpacingMm};
}

std::optional<TemplateElement> readGraphic(const QSqlQuery &query)
{
    // A shape this program does not know was never painted: not on the
    // canvas, not in the preview, not in the export. No kind stands for it,
    // so it is left out of the list (and so out of every painter and check),
    // and its row is kept as stored: nothing here rewrites it.
    const std::optional<ElementKind> kind = graphicKindFromKey(query.value(3).toString());
    if (!kind)
        return std::nullopt;
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
    return g;
}

const ElementTable &tableOf(ElementGroup group)
{
    static const ElementTable fields{
        QStringLiteral("template_fields"),
        {{"side"}, {"field_type"}, {"name"}, {"data_column"}, {"x_mm"}, {"y_mm"}, {"width_mm"}, {"height_mm"},
         {"font_family"}, {"font_size_pt"}, {"color_hex"}, {"is_bold"}, {"alignment"}, {"barcode_format"},
         {"barcode_show_text"}, {"scratch_mode"}, {"scratch_total"}, {"scratch_prizes_json"},
         {"sequence_prefix"}, {"sequence_digits"}, {"sequence_step"}, {"sequence_exclude_four"}},
        fieldValues,
        readField,
    };
    static const ElementTable graphics{
        QStringLiteral("template_graphics"),
        {{"side"}, {"element_type", false}, {"x_mm"}, {"y_mm"}, {"width_mm"}, {"height_mm"}, {"stroke_color"},
         {"stroke_width_mm"}, {"fill_color"}, {"table_rows"}, {"table_columns"}, {"cell_spacing_mm"}},
        graphicValues,
        readGraphic,
    };
    return group == ElementGroup::Field ? fields : graphics;
}

// The property columns joined by `separator`, those an update writes or all.
QString columnList(const ElementTable &table, const QString &separator, bool updatedOnly)
{
    QStringList names;
    for (const ElementColumn &column : table.columns) {
        if (!updatedOnly || column.updated)
            names.append(QLatin1String(column.name));
    }
    return names.join(separator);
}

void bindProperties(QSqlQuery &query, const ElementTable &table, const TemplateElement &element, bool updatedOnly)
{
    const QVariantList values = table.values(element);
    Q_ASSERT(values.size() == table.columns.size());
    for (int i = 0; i < values.size(); ++i) {
        if (!updatedOnly || table.columns.at(i).updated)
            query.addBindValue(values.at(i));
    }
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
QString insertStatement(const ElementTable &table, const RowPlacement &placement)
{
    const QString appendedOrder = QStringLiteral("( SELECT COALESCE(MAX(sort_order), -1) + 1 FROM ") % table.name
        % QStringLiteral(" WHERE project_id=?)");
    // project_id and the properties; the sort order follows.
    const QString values = QStringLiteral("?,").repeated(table.columns.size() + 1);
    return QStringLiteral("INSERT INTO ") % table.name % QLatin1Char('(')
        % (placement.withId ? QStringLiteral("id, ") : QString()) % QStringLiteral("project_id, ")
        % columnList(table, QStringLiteral(", "), false) % QStringLiteral(", sort_order) VALUES(")
        % (placement.withId ? QStringLiteral("?,") : QString()) % values
        % (placement.sortOrder ? QStringLiteral("?") : appendedOrder) % QLatin1Char(')');
}

bool insertRow(QSqlDatabase db, const TemplateElement &element, const RowPlacement &placement, qint64 *newId,
               QString *error)
{
    const ElementTable &table = tableOf(groupOf(element));
    QSqlQuery query(db);
    if (!query.prepare(insertStatement(table, placement)))
        return fail(error, query);
    if (placement.withId)
        query.addBindValue(idOf(element));
    query.addBindValue(projectOf(element));
    bindProperties(query, table, element, false);
    query.addBindValue(placement.sortOrder ? *placement.sortOrder : projectOf(element));
    if (!execPrepared(query, error))
        return false;
    if (newId)
        *newId = query.lastInsertId().toLongLong();
    return true;
}

} // namespace

QString elementRemovedElsewhereMessage()
{
    return QStringLiteral("The object no longer exists in the project database; it was removed elsewhere.");
}

QList<TemplateElement> ProjectStore::loadElements(qint64 projectId, QString *error, QList<qint64> *sortOrders)
{
    if (sortOrders)
        sortOrders->clear();
    // A failed load reports its text and returns an empty list, which is also
    // what a project without elements gives: the text tells them apart.
    QString message;
    QList<qint64> fieldOrders;
    QList<qint64> graphicOrders;
    QList<TemplateElement> elements = loadElements(projectId, ElementGroup::Field, &message, &fieldOrders);
    if (message.isEmpty())
        elements.append(loadElements(projectId, ElementGroup::Graphic, &message, &graphicOrders));
    if (!message.isEmpty()) {
        fail(error, message);
        return {};
    }
    if (sortOrders)
        *sortOrders = fieldOrders + graphicOrders;
    return elements;
}

QList<TemplateElement> ProjectStore::loadElements(qint64 projectId, ElementGroup group, QString *error,
                                                  QList<qint64> *sortOrders)
{
    if (sortOrders)
        sortOrders->clear();
    const ElementTable &table = tableOf(group);
    QSqlQuery query(database());
    if (!run(query,
             QStringLiteral("SELECT id, project_id, ") % columnList(table, QStringLiteral(", "), false)
                 % QStringLiteral(", sort_order FROM ") % table.name
                 % QStringLiteral(" WHERE project_id=? ORDER BY sort_order, id"),
             error, projectId))
        return {};
    const int sortOrderColumn = int(table.columns.size()) + 2;
    QList<TemplateElement> elements;
    QList<qint64> orders;
    while (query.next()) {
        if (std::optional<TemplateElement> element = table.read(query)) {
            elements.append(std::move(*element));
            orders.append(query.value(sortOrderColumn).toLongLong());
        }
    }
    if (sortOrders)
        *sortOrders = orders;
    return elements;
}

bool ProjectStore::insertElement(TemplateElement *element, QString *error)
{
    if (!element)
        return false;
    qint64 id = 0;
    if (!insertRow(database(), *element, {}, &id, error))
        return false;
    setId(*element, id);
    return true;
}

bool ProjectStore::restoreElement(const TemplateElement &element, qint64 sortOrder, QString *error)
{
    return insertRow(database(), element, {true, sortOrder}, nullptr, error);
}

std::optional<qint64> ProjectStore::sortOrderOf(const ElementRef &ref, QString *error)
{
    const QString &table = tableOf(ref.group).name;
    QSqlQuery query(database());
    if (!run(query, QStringLiteral("SELECT sort_order FROM ") % table % QStringLiteral(" WHERE id=?"), error,
             ref.id))
        return std::nullopt;
    if (!query.next()) {
        fail(error, QStringLiteral("No row %1 in %2").arg(ref.id).arg(table));
        return std::nullopt;
    }
    return query.value(0).toLongLong();
}

bool ProjectStore::updateElement(const TemplateElement &element, QString *error)
{
    const ElementTable &table = tableOf(groupOf(element));
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral("UPDATE ") % table.name % QStringLiteral(" SET ")
                       % columnList(table, QStringLiteral("=?, "), true)
                       % QStringLiteral("=? WHERE id=? AND project_id=?")))
        return fail(error, query);
    bindProperties(query, table, element, true);
    query.addBindValue(idOf(element));
    query.addBindValue(projectOf(element));
    return execOnOneRow(query, error);
}

bool ProjectStore::removeElement(const ElementRef &ref, QString *error)
{
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral("DELETE FROM ") % tableOf(ref.group).name % QStringLiteral(" WHERE id=?")))
        return fail(error, query);
    query.addBindValue(ref.id);
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
