#include "storetestutil.h"

#include "render/elementpainter.h"
#include "store/projectstore.h"

#include <QImage>
#include <QPainter>
#include <QSqlQuery>

#include <QTest>

using namespace storetest;

namespace {

const char *tableName(ElementGroup group)
{
    return group == ElementGroup::Field ? "template_fields" : "template_graphics";
}

// A default element of the group.
TemplateElement newElement(ElementGroup group)
{
    if (group == ElementGroup::Field)
        return TemplateField();
    return GraphicElement();
}

// Makes the element differ from one varied by another `n`.
void vary(TemplateElement &element, int n)
{
    setPosition(element, QPointF(10 + n, boxOf(element).y()));
}

QList<qint64> idsOf(const QList<TemplateElement> &elements)
{
    QList<qint64> ids;
    for (const TemplateElement &element : elements)
        ids << idOf(element);
    return ids;
}

// Appends `count` elements to the project, each slightly different; returns them as stored.
QList<TemplateElement> appendElements(ProjectStore &store, ElementGroup group, qint64 projectId, int count)
{
    QList<TemplateElement> added;
    for (int i = 0; i < count; ++i) {
        TemplateElement element = newElement(group);
        setProject(element, projectId);
        vary(element, i);
        if (!store.insertElement(&element))
            return {};
        added << element;
    }
    return added;
}

QList<int> sortOrders(const QSqlDatabase &db, const char *table, const QList<qint64> &ids)
{
    QList<int> orders;
    for (const qint64 id : ids) {
        orders << scalar(db, QStringLiteral("SELECT sort_order FROM %1 WHERE id=?")
                                 .arg(QLatin1String(table)),
                         {id})
                      .toInt();
    }
    return orders;
}

TemplateField fieldWithEveryValueChanged()
{
    TemplateField f;
    f.side = CardSide::Back;
    f.type = ElementKind::Scratch;
    f.name = QStringLiteral("Prize \u201cGold\u201d 'A'");
    f.dataColumn = QStringLiteral("source:12:Prize Name");
    f.xMm = 12.345;
    f.yMm = 0.125;
    f.widthMm = 60.5;
    f.heightMm = 18.75;
    f.fontFamily = QStringLiteral("DejaVu Serif");
    f.fontSizePt = 9.5;
    f.colorHex = QStringLiteral("#a1b2c3");
    f.bold = true;
    f.alignment = TextAlignment{HorizontalAlignment::Left, VerticalAlignment::Center};
    f.barcodeFormat = BarcodeFormat::Ean13;
    f.barcodeShowText = true;
    f.scratchMode = ScratchMode::Ratio;
    f.scratchTotal = 250000;
    f.scratchPrizesJson = QStringLiteral(R"([{"name":"Car","value":1}])");
    f.sequencePrefix = QStringLiteral("SN-");
    f.sequenceDigits = 9;
    f.sequenceStep = 25;
    f.sequenceExcludeFour = true;
    return f;
}

GraphicElement graphicWithEveryValueChanged()
{
    GraphicElement g;
    g.side = CardSide::Back;
    g.type = ElementKind::Table;
    g.xMm = 3.3;
    g.yMm = 44.125;
    g.widthMm = 80.25;
    g.heightMm = 20.5;
    g.strokeColor = QStringLiteral("#00ff7f");
    g.strokeWidthMm = 1.05;
    g.fillColor = QStringLiteral("#fafafa");
    g.rows = 7;
    g.columns = 2;
    g.cellSpacingMm = 0.75;
    return g;
}

} // namespace

class TestTemplateElements : public QObject
{
    Q_OBJECT

private slots:
    void fieldRoundTrip_data();
    void fieldRoundTrip();
    void graphicRoundTrip_data();
    void graphicRoundTrip();

    void newElementsAreAppended_data();
    void newElementsAreAppended();
    void loadOrdersBySortOrderThenId_data();
    void loadOrdersBySortOrderThenId();
    void restoreKeepsThePlace_data();
    void restoreKeepsThePlace();
    void transactionIsAllOrNothing_data();
    void transactionIsAllOrNothing();
    void restoreWithTakenIdFails_data();
    void restoreWithTakenIdFails();
    void failedInsertKeepsId_data();
    void failedInsertKeepsId();
    void updateOfMissingRowFails_data();
    void updateOfMissingRowFails();
    void removeOfMissingRowFails_data();
    void removeOfMissingRowFails();

    void nullPointerInsertFails();
    void refReachesItsOwnGroupOnly();
    void updateGraphicKeepsStoredType();
    void nullDataColumnLoadsEmpty();
    void unknownStoredTextsLoadAsBefore();

private:
    void newElementsAreAppendedFor(ElementGroup group, int removeIndex, int expectedOrder);
    void loadOrdersFor(ElementGroup group);
    void restoreKeepsThePlaceFor(ElementGroup group, int removeIndex);
    void transactionIsAllOrNothingFor(ElementGroup group, bool commit);
    void restoreWithTakenIdFailsFor(ElementGroup group);
    void failedInsertKeepsIdFor(ElementGroup group, qint64 presetId);
    void updateOfMissingRowFailsFor(ElementGroup group);
    void removeOfMissingRowFailsFor(ElementGroup group);

    // A database with two projects, A and B.
    bool openTwoProjects(ScratchStore &scratch, qint64 *a, qint64 *b);
};

bool TestTemplateElements::openTwoProjects(ScratchStore &scratch, qint64 *a, qint64 *b)
{
    QString error;
    if (!scratch.open(&error))
        return false;
    const std::optional<Project> first = scratch.store().createProject(QStringLiteral("A"));
    const std::optional<Project> second = scratch.store().createProject(QStringLiteral("B"));
    if (!first || !second)
        return false;
    *a = first->id;
    *b = second->id;
    return true;
}

// Adds a data column per kind so that one table picks the adapter.
static void addKindColumn()
{
    QTest::addColumn<QString>("kind");
}

static ElementGroup fetchedGroup()
{
    QFETCH(QString, kind);
    return kind == QLatin1String("field") ? ElementGroup::Field : ElementGroup::Graphic;
}

void TestTemplateElements::fieldRoundTrip_data()
{
    QTest::addColumn<TemplateField>("field");
    QTest::newRow("every value changed") << fieldWithEveryValueChanged();

    TemplateField edges;
    edges.type = ElementKind::Sequence;
    edges.name = QStringLiteral("\u5e8f\u53f7 \u00b7 N\u00ba");
    edges.dataColumn = QStringLiteral("");
    edges.xMm = -4.5;
    edges.yMm = 1e-3;
    edges.widthMm = 1234.5678;
    edges.fontSizePt = 72.25;
    edges.alignment = TextAlignment{HorizontalAlignment::Right, VerticalAlignment::Center};
    edges.scratchTotal = 0;
    edges.scratchPrizesJson = QStringLiteral("[]");
    edges.sequencePrefix = QStringLiteral("");
    edges.sequenceDigits = 1;
    edges.sequenceStep = -3;
    QTest::newRow("edge values and empty texts") << edges;

    TemplateField qr;
    qr.type = ElementKind::QrCode;
    qr.dataColumn = QStringLiteral("Website");
    qr.barcodeFormat = BarcodeFormat::UpcA;
    QTest::newRow("qr code bound to a bare column") << qr;
}

void TestTemplateElements::fieldRoundTrip()
{
    QFETCH(TemplateField, field);

    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();
    QString error;

    // Inserted as given.
    TemplateField inserted = field;
    inserted.projectId = a;
    QVERIFY2(store.insertElement(&inserted, &error), qPrintable(error));
    QVERIFY(inserted.id > 0);
    QCOMPARE(store.loadRecords<TemplateField>(a, &error), QList<TemplateField>{inserted});
    QVERIFY(error.isEmpty());
    QCOMPARE(store.loadRecords<TemplateField>(b), QList<TemplateField>());

    // Updated from defaults to the given values.
    TemplateField plain;
    plain.projectId = a;
    QVERIFY2(store.insertElement(&plain, &error), qPrintable(error));
    TemplateField updated = field;
    updated.id = plain.id;
    updated.projectId = a;
    QVERIFY2(store.updateElement(updated, &error), qPrintable(error));
    QCOMPARE(store.loadRecords<TemplateField>(a), QList<TemplateField>({inserted, updated}));

    // And back again: nothing of the earlier values survives.
    QVERIFY2(store.updateElement(plain, &error), qPrintable(error));
    QCOMPARE(store.loadRecords<TemplateField>(a), QList<TemplateField>({inserted, plain}));
}

void TestTemplateElements::graphicRoundTrip_data()
{
    QTest::addColumn<GraphicElement>("graphic");
    QTest::newRow("every value changed") << graphicWithEveryValueChanged();

    GraphicElement ellipse;
    ellipse.type = ElementKind::Ellipse;
    ellipse.xMm = -2.5;
    ellipse.widthMm = 0.01;
    ellipse.strokeWidthMm = 0;
    ellipse.fillColor = QStringLiteral("#000000");
    ellipse.rows = 1;
    ellipse.columns = 40;
    QTest::newRow("edge values") << ellipse;
}

void TestTemplateElements::graphicRoundTrip()
{
    QFETCH(GraphicElement, graphic);

    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();
    QString error;

    GraphicElement inserted = graphic;
    inserted.projectId = a;
    QVERIFY2(store.insertElement(&inserted, &error), qPrintable(error));
    QVERIFY(inserted.id > 0);
    QCOMPARE(store.loadRecords<GraphicElement>(a, &error), QList<GraphicElement>{inserted});
    QVERIFY(error.isEmpty());
    QCOMPARE(store.loadRecords<GraphicElement>(b), QList<GraphicElement>());

    // Updated from defaults (of the same kind: the kind itself is never updated).
    GraphicElement plain;
    plain.projectId = a;
    plain.type = graphic.type;
    QVERIFY2(store.insertElement(&plain, &error), qPrintable(error));
    GraphicElement updated = graphic;
    updated.id = plain.id;
    updated.projectId = a;
    QVERIFY2(store.updateElement(updated, &error), qPrintable(error));
    QCOMPARE(store.loadRecords<GraphicElement>(a), QList<GraphicElement>({inserted, updated}));

    QVERIFY2(store.updateElement(plain, &error), qPrintable(error));
    QCOMPARE(store.loadRecords<GraphicElement>(a), QList<GraphicElement>({inserted, plain}));
}

void TestTemplateElements::newElementsAreAppended_data()
{
    addKindColumn();
    QTest::addColumn<int>("removeIndex");
    QTest::addColumn<int>("expectedOrder");
    for (const char *kind : {"field", "graphic"}) {
        QTest::addRow("%s: delete first", kind) << QString::fromLatin1(kind) << 0 << 3;
        QTest::addRow("%s: delete middle", kind) << QString::fromLatin1(kind) << 1 << 3;
        QTest::addRow("%s: delete last", kind) << QString::fromLatin1(kind) << 2 << 2;
    }
}

void TestTemplateElements::newElementsAreAppended()
{
    QFETCH(int, removeIndex);
    QFETCH(int, expectedOrder);
    newElementsAreAppendedFor(fetchedGroup(), removeIndex, expectedOrder);
}

void TestTemplateElements::newElementsAreAppendedFor(ElementGroup group, int removeIndex, int expectedOrder)
{
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();
    const QSqlDatabase db = scratch.db();

    // Project B's rows and the other kind's rows do not count towards A's order.
    QCOMPARE(appendElements(store, group, b, 5).size(), 5);
    QCOMPARE(appendElements(store, ElementGroup::Field, a, 2).size(), 2);
    QCOMPARE(appendElements(store, ElementGroup::Graphic, a, 2).size(), 2);
    QVERIFY(exec(db, QStringLiteral("DELETE FROM %1 WHERE project_id=?").arg(QLatin1String(tableName(group))),
                 {a}));

    const QList<TemplateElement> three = appendElements(store, group, a, 3);
    QCOMPARE(three.size(), 3);
    QCOMPARE(sortOrders(db, tableName(group), idsOf(three)), QList<int>({0, 1, 2}));

    QString error;
    QVERIFY2(store.removeElement({group, idOf(three[removeIndex])}, &error), qPrintable(error));
    TemplateElement added = newElement(group);
    setProject(added, a);
    QVERIFY2(store.insertElement(&added, &error), qPrintable(error));
    QCOMPARE(sortOrders(db, tableName(group), {idOf(added)}), QList<int>{expectedOrder});
    QCOMPARE(store.loadElements(a, group).constLast(), added);
}

void TestTemplateElements::loadOrdersBySortOrderThenId_data()
{
    addKindColumn();
    QTest::newRow("fields") << QStringLiteral("field");
    QTest::newRow("graphics") << QStringLiteral("graphic");
}

void TestTemplateElements::loadOrdersBySortOrderThenId()
{
    loadOrdersFor(fetchedGroup());
}

void TestTemplateElements::loadOrdersFor(ElementGroup group)
{
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();

    const QList<TemplateElement> four = appendElements(store, group, a, 4);
    QCOMPARE(four.size(), 4);
    // Orders as an import of an older arrangement might leave them: ties and gaps.
    const QList<int> orders = {7, 2, 2, 0};
    for (int i = 0; i < 4; ++i) {
        QVERIFY(exec(scratch.db(),
                     QStringLiteral("UPDATE %1 SET sort_order=? WHERE id=?").arg(QLatin1String(tableName(group))),
                     {orders[i], idOf(four[i])}));
    }
    QCOMPARE(idsOf(store.loadElements(a, group)), QList<qint64>({idOf(four[3]), idOf(four[1]), idOf(four[2]), idOf(four[0])}));

    // An update keeps the element where it is.
    TemplateElement moved = four[3];
    vary(moved, 99);
    QString error;
    QVERIFY2(store.updateElement(moved, &error), qPrintable(error));
    const QList<TemplateElement> loaded = store.loadElements(a, group);
    QCOMPARE(loaded.first(), moved);
    QCOMPARE(sortOrders(scratch.db(), tableName(group), {idOf(moved)}), QList<int>{0});
}

void TestTemplateElements::restoreKeepsThePlace_data()
{
    addKindColumn();
    QTest::addColumn<int>("removeIndex");
    for (const char *kind : {"field", "graphic"}) {
        for (int index = 0; index < 4; ++index)
            QTest::addRow("%s %d", kind, index) << QString::fromLatin1(kind) << index;
    }
}

void TestTemplateElements::restoreKeepsThePlace()
{
    QFETCH(int, removeIndex);
    restoreKeepsThePlaceFor(fetchedGroup(), removeIndex);
}

void TestTemplateElements::restoreKeepsThePlaceFor(ElementGroup group, int removeIndex)
{
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();

    // A tie (two at 4, drawn by id) and gaps, as older arrangements leave them.
    const QList<TemplateElement> four = appendElements(store, group, a, 4);
    QCOMPARE(four.size(), 4);
    const QList<qint64> orders = {0, 4, 4, 9};
    for (int i = 0; i < 4; ++i) {
        QVERIFY(exec(scratch.db(),
                     QStringLiteral("UPDATE %1 SET sort_order=? WHERE id=?").arg(QLatin1String(tableName(group))),
                     {orders[i], idOf(four[i])}));
    }
    QList<qint64> loadedOrders;
    QCOMPARE(store.loadElements(a, group, nullptr, &loadedOrders), four);
    QCOMPARE(loadedOrders, orders);
    const QStringList before = dumpDatabase(scratch.db());

    const TemplateElement removed = four[removeIndex];
    QString error;
    const std::optional<qint64> order = store.sortOrderOf({group, idOf(removed)}, &error);
    QVERIFY2(order.has_value(), qPrintable(error));
    QCOMPARE(*order, orders[removeIndex]);
    QVERIFY2(store.removeElement({group, idOf(removed)}, &error), qPrintable(error));
    QVERIFY(!store.sortOrderOf({group, idOf(removed)}, &error).has_value());
    QVERIFY(!error.isEmpty());

    QVERIFY2(store.restoreElement(removed, *order, &error), qPrintable(error));
    QCOMPARE(store.loadElements(a, group, nullptr, &loadedOrders), four);
    QCOMPARE(loadedOrders, orders);
    QCOMPARE(dumpDatabase(scratch.db()), before);

    // Its id is taken again, so a second restore fails and changes nothing.
    QVERIFY(!store.restoreElement(removed, 100, &error));
    QVERIFY2(error.contains(QLatin1String("UNIQUE constraint failed")), qPrintable(error));
    QCOMPARE(dumpDatabase(scratch.db()), before);
}

void TestTemplateElements::transactionIsAllOrNothing_data()
{
    addKindColumn();
    QTest::addColumn<bool>("commit");
    for (const char *kind : {"field", "graphic"}) {
        QTest::addRow("%s, committed", kind) << QString::fromLatin1(kind) << true;
        QTest::addRow("%s, rolled back", kind) << QString::fromLatin1(kind) << false;
    }
}

void TestTemplateElements::transactionIsAllOrNothing()
{
    QFETCH(bool, commit);
    transactionIsAllOrNothingFor(fetchedGroup(), commit);
}

void TestTemplateElements::transactionIsAllOrNothingFor(ElementGroup group, bool commit)
{
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();
    const QList<TemplateElement> two = appendElements(store, group, a, 2);
    QCOMPARE(two.size(), 2);
    const QStringList before = dumpDatabase(scratch.db());

    QString error;
    QVERIFY2(store.beginTransaction(&error), qPrintable(error));
    TemplateElement added = newElement(group);
    setProject(added, a);
    QVERIFY2(store.insertElement(&added, &error), qPrintable(error));
    QVERIFY2(store.removeElement({group, idOf(two[0])}, &error), qPrintable(error));
    TemplateElement changed = two[1];
    vary(changed, 77);
    QVERIFY2(store.updateElement(changed, &error), qPrintable(error));
    // Another connection does not see the open transaction's rows.
    QCOMPARE(dumpDatabaseFile(scratch.path()), before);

    if (commit) {
        QVERIFY2(store.commitTransaction(&error), qPrintable(error));
        QCOMPARE(store.loadElements(a, group), QList<TemplateElement>({changed, added}));
    } else {
        store.rollBackTransaction();
        QCOMPARE(dumpDatabase(scratch.db()), before);
    }
    QCOMPARE(dumpDatabaseFile(scratch.path()), dumpDatabase(scratch.db()));

    // Without an open transaction there is nothing to commit.
    error.clear();
    QVERIFY(!store.commitTransaction(&error));
    QVERIFY(!error.isEmpty());
}

void TestTemplateElements::restoreWithTakenIdFails_data()
{
    loadOrdersBySortOrderThenId_data();
}

void TestTemplateElements::restoreWithTakenIdFails()
{
    restoreWithTakenIdFailsFor(fetchedGroup());
}

void TestTemplateElements::restoreWithTakenIdFailsFor(ElementGroup group)
{
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();

    const QList<TemplateElement> two = appendElements(store, group, a, 2);
    QCOMPARE(two.size(), 2);
    const QStringList before = dumpDatabase(scratch.db());

    TemplateElement clash = two[0];
    vary(clash, 42);
    QString error;
    QVERIFY(!store.restoreElement(clash, 5, &error));
    QVERIFY2(error.contains(QLatin1String("UNIQUE constraint failed")), qPrintable(error));
    QCOMPARE(dumpDatabase(scratch.db()), before);
    QCOMPARE(store.loadElements(a, group), two);

    // Also when the clash is with another project's element.
    setProject(clash, b);
    error.clear();
    QVERIFY(!store.restoreElement(clash, 5, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(dumpDatabase(scratch.db()), before);
}

void TestTemplateElements::failedInsertKeepsId_data()
{
    addKindColumn();
    QTest::addColumn<qint64>("presetId");
    for (const char *kind : {"field", "graphic"}) {
        QTest::addRow("%s, new", kind) << QString::fromLatin1(kind) << qint64(0);
        QTest::addRow("%s, id from an earlier life", kind) << QString::fromLatin1(kind) << qint64(77);
    }
}

void TestTemplateElements::failedInsertKeepsId()
{
    QFETCH(qint64, presetId);
    failedInsertKeepsIdFor(fetchedGroup(), presetId);
}

void TestTemplateElements::failedInsertKeepsIdFor(ElementGroup group, qint64 presetId)
{
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    const QStringList before = dumpDatabase(scratch.db());

    // The project was deleted meanwhile: the foreign key refuses the row.
    TemplateElement orphan = newElement(group);
    setId(orphan, presetId);
    setProject(orphan, b + 100);
    const TemplateElement original = orphan;
    QString error;
    QVERIFY(!scratch.store().insertElement(&orphan, &error));
    QVERIFY2(error.contains(QLatin1String("FOREIGN KEY constraint failed")), qPrintable(error));
    QCOMPARE(orphan, original);
    QCOMPARE(dumpDatabase(scratch.db()), before);
}

void TestTemplateElements::updateOfMissingRowFails_data()
{
    loadOrdersBySortOrderThenId_data();
}

void TestTemplateElements::updateOfMissingRowFails()
{
    updateOfMissingRowFailsFor(fetchedGroup());
}

void TestTemplateElements::updateOfMissingRowFailsFor(ElementGroup group)
{
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();
    const QList<TemplateElement> one = appendElements(store, group, a, 1);
    QCOMPARE(one.size(), 1);
    const QStringList before = dumpDatabase(scratch.db());

    // An update that writes the values already stored still counts its row.
    QString error;
    QVERIFY2(store.updateElement(one[0], &error), qPrintable(error));
    QCOMPARE(dumpDatabase(scratch.db()), before);

    // The row of another project, or an id that exists nowhere: the edit
    // was not written, which must not pass for success.
    TemplateElement stray = one[0];
    setProject(stray, b);
    vary(stray, 55);
    QVERIFY(!store.updateElement(stray, &error));
    QCOMPARE(error, elementRemovedElsewhereMessage());
    QCOMPARE(dumpDatabase(scratch.db()), before);

    error.clear();
    setId(stray, idOf(stray) + 1000);
    setProject(stray, a);
    QVERIFY(!store.updateElement(stray, &error));
    QCOMPARE(error, elementRemovedElsewhereMessage());
    QCOMPARE(dumpDatabase(scratch.db()), before);
}

void TestTemplateElements::removeOfMissingRowFails_data()
{
    loadOrdersBySortOrderThenId_data();
}

void TestTemplateElements::removeOfMissingRowFails()
{
    removeOfMissingRowFailsFor(fetchedGroup());
}

void TestTemplateElements::removeOfMissingRowFailsFor(ElementGroup group)
{
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();
    const QList<TemplateElement> inA = appendElements(store, group, a, 2);
    const QList<TemplateElement> inB = appendElements(store, group, b, 1);
    QVERIFY(inA.size() == 2 && inB.size() == 1);

    QString error;
    QVERIFY2(store.removeElement({group, idOf(inB[0])}, &error), qPrintable(error));
    QCOMPARE(store.loadElements(b, group), QList<TemplateElement>());
    QCOMPARE(store.loadElements(a, group), inA);

    // Removing it again, or an id never used, fails and changes nothing.
    const QStringList before = dumpDatabase(scratch.db());
    for (const qint64 gone : {idOf(inB[0]), qint64(123456)}) {
        error.clear();
        QVERIFY(!store.removeElement({group, gone}, &error));
        QCOMPARE(error, elementRemovedElsewhereMessage());
    }
    QCOMPARE(dumpDatabase(scratch.db()), before);
}

// Ids are unique only within a table: a field and a graphic may share one,
// and a ref of one group must never read, move or remove the other's row.
void TestTemplateElements::refReachesItsOwnGroupOnly()
{
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();
    const QList<TemplateElement> fields = appendElements(store, ElementGroup::Field, a, 1);
    QCOMPARE(fields.size(), 1);
    // The first row of each table: the same id. The graphic gets another sort order.
    QCOMPARE(appendElements(store, ElementGroup::Graphic, a, 1).size(), 1);
    QVERIFY(exec(scratch.db(), QStringLiteral("UPDATE template_graphics SET sort_order=6")));
    const QList<TemplateElement> graphics = store.loadElements(a, ElementGroup::Graphic);
    QCOMPARE(graphics.size(), 1);
    QCOMPARE(idOf(graphics[0]), idOf(fields[0]));
    QCOMPARE(refOf(graphics[0]), (ElementRef{ElementGroup::Graphic, idOf(fields[0])}));
    QVERIFY(refOf(graphics[0]) != refOf(fields[0]));

    QString error;
    QCOMPARE(store.sortOrderOf(refOf(fields[0]), &error), std::optional<qint64>(0));
    QCOMPARE(store.sortOrderOf(refOf(graphics[0]), &error), std::optional<qint64>(6));

    // Each group's update writes its own table.
    TemplateElement movedGraphic = graphics[0];
    vary(movedGraphic, 30);
    QVERIFY2(store.updateElement(movedGraphic, &error), qPrintable(error));
    QCOMPARE(store.loadElements(a, ElementGroup::Field), fields);
    QCOMPARE(store.loadElements(a, ElementGroup::Graphic), QList<TemplateElement>{movedGraphic});

    // Both groups load together, the fields first.
    QList<qint64> orders;
    QCOMPARE(store.loadElements(a, &error, &orders), QList<TemplateElement>({fields[0], movedGraphic}));
    QCOMPARE(orders, QList<qint64>({0, 6}));

    QVERIFY2(store.removeElement(refOf(graphics[0]), &error), qPrintable(error));
    QCOMPARE(store.loadElements(a, ElementGroup::Field), fields);
    QVERIFY(store.loadElements(a, ElementGroup::Graphic).isEmpty());
    // The field's row stays; the graphic's is gone for good.
    QVERIFY(!store.removeElement(refOf(graphics[0]), &error));
    QCOMPARE(error, elementRemovedElsewhereMessage());
    QVERIFY2(store.removeElement(refOf(fields[0]), &error), qPrintable(error));
    QVERIFY(store.loadElements(a, &error).isEmpty());
}

void TestTemplateElements::nullPointerInsertFails()
{
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    const QStringList before = dumpDatabase(scratch.db());

    QString error;
    QVERIFY(!scratch.store().insertElement(static_cast<TemplateElement *>(nullptr), &error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!scratch.store().insertElement(static_cast<TemplateField *>(nullptr), &error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!scratch.store().insertElement(static_cast<GraphicElement *>(nullptr)));
    QCOMPARE(dumpDatabase(scratch.db()), before);
}

void TestTemplateElements::updateGraphicKeepsStoredType()
{
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();
    QString error;

    GraphicElement table;
    table.projectId = a;
    table.type = ElementKind::Table;
    QVERIFY2(store.insertElement(&table, &error), qPrintable(error));

    GraphicElement edited = graphicWithEveryValueChanged();
    edited.id = table.id;
    edited.projectId = a;
    edited.type = ElementKind::Rectangle;
    QVERIFY2(store.updateElement(edited, &error), qPrintable(error));

    GraphicElement expected = edited;
    expected.type = ElementKind::Table;
    QCOMPARE(store.loadRecords<GraphicElement>(a), QList<GraphicElement>{expected});
}

void TestTemplateElements::nullDataColumnLoadsEmpty()
{
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    const QSqlDatabase db = scratch.db();

    // Rows as an older release or another tool wrote them: NULL and '' columns.
    QVERIFY(exec(db, QStringLiteral(
                         "INSERT INTO template_fields(project_id, name, data_column, x_mm, y_mm, "
                         "width_mm, height_mm, font_family, font_size_pt, color_hex, alignment, "
                         "sort_order) VALUES(?, 'Unbound', NULL, 1, 2, 3, 4, 'Arial', 8, '#123456', "
                         "129, 0), (?, 'Blank', '', 1, 2, 3, 4, '', 8, '#123456', 130, 1)"),
                 {a, a}));

    QString error;
    const QList<TemplateField> loaded = scratch.store().loadRecords<TemplateField>(a, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(loaded.size(), 2);
    QVERIFY(loaded[0].dataColumn.isEmpty());
    QVERIFY(loaded[1].dataColumn.isEmpty());

    // Every value comes from the row; the column defaults fill the rest, not the
    // in-memory defaults (the stored prize list is "[]").
    TemplateField expected;
    expected.id = loaded[0].id;
    expected.projectId = a;
    expected.name = QStringLiteral("Unbound");
    expected.xMm = 1;
    expected.yMm = 2;
    expected.widthMm = 3;
    expected.heightMm = 4;
    expected.fontFamily = QStringLiteral("Arial");
    expected.fontSizePt = 8;
    expected.colorHex = QStringLiteral("#123456");
    expected.alignment = TextAlignment{HorizontalAlignment::Left, VerticalAlignment::Center};
    expected.scratchPrizesJson = QStringLiteral("[]");
    QCOMPARE(loaded[0], expected);
    // An empty stored text stays empty: no default is put in its place.
    QCOMPARE(loaded[1].fontFamily, QString());
    QCOMPARE(alignmentFlags(loaded[1].alignment), 130);
}

// Texts this program does not write (another tool, a later release): each
// loads as the painter and the export always took it, and nothing rewrites
// the row of a shape that cannot be loaded.
void TestTemplateElements::unknownStoredTextsLoadAsBefore()
{
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    const QSqlDatabase db = scratch.db();
    QVERIFY(exec(db, QStringLiteral(
                         "INSERT INTO template_fields(project_id, side, field_type, name, barcode_format, "
                         "scratch_mode, alignment, x_mm, y_mm, width_mm, height_mm, font_family, font_size_pt, "
                         "color_hex, sort_order) VALUES"
                         "(?, 'Back', 'barcode', '4006381333931', 'pdf417', 'lottery', 1, 1, 2, 40, 12, 'Arial', "
                         "8, '#000000', 0),"
                         "(?, 'back', 'label', 'Odd', 'code39', 'ratio', 0, 1, 2, 40, 12, 'Arial', 8, '#000000', 1)"),
                 {a, a}));
    QVERIFY(exec(db, QStringLiteral("INSERT INTO template_graphics(project_id, side, element_type, x_mm, y_mm, "
                                    "width_mm, height_mm, stroke_color, stroke_width_mm, fill_color, sort_order) "
                                    "VALUES(?, 'front', 'star', 1, 1, 9, 9, '#000000', 0.3, 'transparent', 0), "
                                    "(?, 'front', 'ellipse', 1, 1, 9, 9, '#000000', 0.3, 'transparent', 1)"),
                 {a, a}));

    QString error;
    const QList<TemplateField> fields = scratch.store().loadRecords<TemplateField>(a, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(fields.size(), 2);
    const TemplateField &code = fields[0];
    QCOMPARE(code.side, CardSide::Front); // only exactly "back" is the back
    QCOMPARE(code.type, ElementKind::Barcode);
    QCOMPARE(code.barcodeFormat, BarcodeFormat::Code128);
    QCOMPARE(code.scratchMode, ScratchMode::Count);
    QCOMPARE(code.alignment, (TextAlignment{HorizontalAlignment::Left, VerticalAlignment::Top}));
    QCOMPARE(fields[1].side, CardSide::Back);
    QCOMPARE(fields[1].type, ElementKind::Text);
    QCOMPARE(fields[1].barcodeFormat, BarcodeFormat::Code39);
    QCOMPARE(fields[1].scratchMode, ScratchMode::Ratio);

    // The unknown format prints the Code 128 symbol, bar for bar.
    const auto painted = [](const TemplateField &field) {
        QImage image(400, 120, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.scale(8, 8);
        paintField(painter, QRectF(1, 1, 45, 12), field, QJsonObject());
        return image;
    };
    TemplateField code128 = code;
    code128.barcodeFormat = BarcodeFormat::Code128;
    QCOMPARE(painted(code), painted(code128));
    QImage blank(400, 120, QImage::Format_RGB32);
    blank.fill(Qt::white);
    QVERIFY(painted(code) != blank); // bars were drawn

    // The unknown shape is not loaded; its row stays when the rest is saved.
    const QList<GraphicElement> graphics = scratch.store().loadRecords<GraphicElement>(a, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(graphics.size(), 1);
    QCOMPARE(graphics[0].type, ElementKind::Ellipse);
    QVERIFY2(scratch.store().updateElement(graphics[0], &error), qPrintable(error));
    QVERIFY2(scratch.store().updateElement(fields[1], &error), qPrintable(error));
    QSqlQuery query(db);
    QVERIFY(query.exec(QStringLiteral("SELECT element_type FROM template_graphics ORDER BY sort_order")));
    QStringList types;
    while (query.next())
        types << query.value(0).toString();
    QCOMPARE(types, (QStringList{QStringLiteral("star"), QStringLiteral("ellipse")}));
}

QTEST_GUILESS_MAIN(TestTemplateElements)
#include "tst_templateelements.moc"
