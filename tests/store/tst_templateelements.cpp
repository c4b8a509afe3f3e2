#include "storetestutil.h"

#include "render/elementpainter.h"
#include "store/projectstore.h"

#include <QImage>
#include <QPainter>
#include <QSqlQuery>

#include <QTest>

using namespace storetest;

namespace {

// Fields and graphics have twin operations; the behaviour tests run on both
// through these adapters.
template<typename Element>
struct Elements;

template<>
struct Elements<TemplateField>
{
    static constexpr const char *table = "template_fields";
    static QList<TemplateField> load(ProjectStore &s, qint64 projectId, QString *e = nullptr)
    {
        return s.loadFields(projectId, e);
    }
    static bool insert(ProjectStore &s, TemplateField *f, QString *e = nullptr) { return s.insertField(f, e); }
    static bool restore(ProjectStore &s, const TemplateField &f, qint64 order, QString *e = nullptr)
    {
        return s.restoreField(f, order, e);
    }
    static std::optional<qint64> sortOrder(ProjectStore &s, qint64 id, QString *e = nullptr)
    {
        return s.fieldSortOrder(id, e);
    }
    static QList<TemplateField> loadWithOrders(ProjectStore &s, qint64 projectId, QList<qint64> *orders)
    {
        return s.loadFields(projectId, nullptr, orders);
    }
    static bool update(ProjectStore &s, const TemplateField &f, QString *e = nullptr)
    {
        return s.updateField(f, e);
    }
    static bool remove(ProjectStore &s, qint64 id, QString *e = nullptr) { return s.removeField(id, e); }
    static void change(TemplateField &f, int n) { f.name = QStringLiteral("Field %1").arg(n); }
};

template<>
struct Elements<GraphicElement>
{
    static constexpr const char *table = "template_graphics";
    static QList<GraphicElement> load(ProjectStore &s, qint64 projectId, QString *e = nullptr)
    {
        return s.loadGraphics(projectId, e);
    }
    static bool insert(ProjectStore &s, GraphicElement *g, QString *e = nullptr) { return s.insertGraphic(g, e); }
    static bool restore(ProjectStore &s, const GraphicElement &g, qint64 order, QString *e = nullptr)
    {
        return s.restoreGraphic(g, order, e);
    }
    static std::optional<qint64> sortOrder(ProjectStore &s, qint64 id, QString *e = nullptr)
    {
        return s.graphicSortOrder(id, e);
    }
    static QList<GraphicElement> loadWithOrders(ProjectStore &s, qint64 projectId, QList<qint64> *orders)
    {
        return s.loadGraphics(projectId, nullptr, orders);
    }
    static bool update(ProjectStore &s, const GraphicElement &g, QString *e = nullptr)
    {
        return s.updateGraphic(g, e);
    }
    static bool remove(ProjectStore &s, qint64 id, QString *e = nullptr) { return s.removeGraphic(id, e); }
    static void change(GraphicElement &g, int n) { g.xMm = 10 + n; }
};

template<typename Element>
QList<qint64> idsOf(const QList<Element> &elements)
{
    QList<qint64> ids;
    for (const Element &element : elements)
        ids << element.id;
    return ids;
}

// Appends `count` elements to the project, each slightly different; returns them as stored.
template<typename Element>
QList<Element> appendElements(ProjectStore &store, qint64 projectId, int count)
{
    QList<Element> added;
    for (int i = 0; i < count; ++i) {
        Element element;
        element.projectId = projectId;
        Elements<Element>::change(element, i);
        if (!Elements<Element>::insert(store, &element))
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
    void updateGraphicKeepsStoredType();
    void nullDataColumnLoadsEmpty();
    void unknownStoredTextsLoadAsBefore();

private:
    template<typename Element> void newElementsAreAppendedFor(int removeIndex, int expectedOrder);
    template<typename Element> void loadOrdersFor();
    template<typename Element> void restoreKeepsThePlaceFor(int removeIndex);
    template<typename Element> void transactionIsAllOrNothingFor(bool commit);
    template<typename Element> void restoreWithTakenIdFailsFor();
    template<typename Element> void failedInsertKeepsIdFor(qint64 presetId);
    template<typename Element> void updateOfMissingRowFailsFor();
    template<typename Element> void removeOfMissingRowFailsFor();

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

static bool isField()
{
    QFETCH(QString, kind);
    return kind == QLatin1String("field");
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
    QVERIFY2(store.insertField(&inserted, &error), qPrintable(error));
    QVERIFY(inserted.id > 0);
    QCOMPARE(store.loadFields(a, &error), QList<TemplateField>{inserted});
    QVERIFY(error.isEmpty());
    QCOMPARE(store.loadFields(b), QList<TemplateField>());

    // Updated from defaults to the given values.
    TemplateField plain;
    plain.projectId = a;
    QVERIFY2(store.insertField(&plain, &error), qPrintable(error));
    TemplateField updated = field;
    updated.id = plain.id;
    updated.projectId = a;
    QVERIFY2(store.updateField(updated, &error), qPrintable(error));
    QCOMPARE(store.loadFields(a), QList<TemplateField>({inserted, updated}));

    // And back again: nothing of the earlier values survives.
    QVERIFY2(store.updateField(plain, &error), qPrintable(error));
    QCOMPARE(store.loadFields(a), QList<TemplateField>({inserted, plain}));
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
    QVERIFY2(store.insertGraphic(&inserted, &error), qPrintable(error));
    QVERIFY(inserted.id > 0);
    QCOMPARE(store.loadGraphics(a, &error), QList<GraphicElement>{inserted});
    QVERIFY(error.isEmpty());
    QCOMPARE(store.loadGraphics(b), QList<GraphicElement>());

    // Updated from defaults (of the same kind: the kind itself is never updated).
    GraphicElement plain;
    plain.projectId = a;
    plain.type = graphic.type;
    QVERIFY2(store.insertGraphic(&plain, &error), qPrintable(error));
    GraphicElement updated = graphic;
    updated.id = plain.id;
    updated.projectId = a;
    QVERIFY2(store.updateGraphic(updated, &error), qPrintable(error));
    QCOMPARE(store.loadGraphics(a), QList<GraphicElement>({inserted, updated}));

    QVERIFY2(store.updateGraphic(plain, &error), qPrintable(error));
    QCOMPARE(store.loadGraphics(a), QList<GraphicElement>({inserted, plain}));
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
    if (isField())
        newElementsAreAppendedFor<TemplateField>(removeIndex, expectedOrder);
    else
        newElementsAreAppendedFor<GraphicElement>(removeIndex, expectedOrder);
}

template<typename Element>
void TestTemplateElements::newElementsAreAppendedFor(int removeIndex, int expectedOrder)
{
    using E = Elements<Element>;
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();
    const QSqlDatabase db = scratch.db();

    // Project B's rows and the other kind's rows do not count towards A's order.
    QCOMPARE(appendElements<Element>(store, b, 5).size(), 5);
    QCOMPARE(appendElements<TemplateField>(store, a, 2).size(), 2);
    QCOMPARE(appendElements<GraphicElement>(store, a, 2).size(), 2);
    QVERIFY(exec(db, QStringLiteral("DELETE FROM %1 WHERE project_id=?").arg(QLatin1String(E::table)),
                 {a}));

    const QList<Element> three = appendElements<Element>(store, a, 3);
    QCOMPARE(three.size(), 3);
    QCOMPARE(sortOrders(db, E::table, idsOf(three)), QList<int>({0, 1, 2}));

    QString error;
    QVERIFY2(E::remove(store, three[removeIndex].id, &error), qPrintable(error));
    Element added;
    added.projectId = a;
    QVERIFY2(E::insert(store, &added, &error), qPrintable(error));
    QCOMPARE(sortOrders(db, E::table, {added.id}), QList<int>{expectedOrder});
    QCOMPARE(E::load(store, a).constLast(), added);
}

void TestTemplateElements::loadOrdersBySortOrderThenId_data()
{
    addKindColumn();
    QTest::newRow("fields") << QStringLiteral("field");
    QTest::newRow("graphics") << QStringLiteral("graphic");
}

void TestTemplateElements::loadOrdersBySortOrderThenId()
{
    if (isField())
        loadOrdersFor<TemplateField>();
    else
        loadOrdersFor<GraphicElement>();
}

template<typename Element>
void TestTemplateElements::loadOrdersFor()
{
    using E = Elements<Element>;
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();

    const QList<Element> four = appendElements<Element>(store, a, 4);
    QCOMPARE(four.size(), 4);
    // Orders as an import of an older arrangement might leave them: ties and gaps.
    const QList<int> orders = {7, 2, 2, 0};
    for (int i = 0; i < 4; ++i) {
        QVERIFY(exec(scratch.db(),
                     QStringLiteral("UPDATE %1 SET sort_order=? WHERE id=?").arg(QLatin1String(E::table)),
                     {orders[i], four[i].id}));
    }
    QCOMPARE(idsOf(E::load(store, a)), QList<qint64>({four[3].id, four[1].id, four[2].id, four[0].id}));

    // An update keeps the element where it is.
    Element moved = four[3];
    E::change(moved, 99);
    QString error;
    QVERIFY2(E::update(store, moved, &error), qPrintable(error));
    const QList<Element> loaded = E::load(store, a);
    QCOMPARE(loaded.first(), moved);
    QCOMPARE(sortOrders(scratch.db(), E::table, {moved.id}), QList<int>{0});
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
    if (isField())
        restoreKeepsThePlaceFor<TemplateField>(removeIndex);
    else
        restoreKeepsThePlaceFor<GraphicElement>(removeIndex);
}

template<typename Element>
void TestTemplateElements::restoreKeepsThePlaceFor(int removeIndex)
{
    using E = Elements<Element>;
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();

    // A tie (two at 4, drawn by id) and gaps, as older arrangements leave them.
    const QList<Element> four = appendElements<Element>(store, a, 4);
    QCOMPARE(four.size(), 4);
    const QList<qint64> orders = {0, 4, 4, 9};
    for (int i = 0; i < 4; ++i) {
        QVERIFY(exec(scratch.db(),
                     QStringLiteral("UPDATE %1 SET sort_order=? WHERE id=?").arg(QLatin1String(E::table)),
                     {orders[i], four[i].id}));
    }
    QList<qint64> loadedOrders;
    QCOMPARE(E::loadWithOrders(store, a, &loadedOrders), four);
    QCOMPARE(loadedOrders, orders);
    const QStringList before = dumpDatabase(scratch.db());

    const Element removed = four[removeIndex];
    QString error;
    const std::optional<qint64> order = E::sortOrder(store, removed.id, &error);
    QVERIFY2(order.has_value(), qPrintable(error));
    QCOMPARE(*order, orders[removeIndex]);
    QVERIFY2(E::remove(store, removed.id, &error), qPrintable(error));
    QVERIFY(!E::sortOrder(store, removed.id, &error).has_value());
    QVERIFY(!error.isEmpty());

    QVERIFY2(E::restore(store, removed, *order, &error), qPrintable(error));
    QCOMPARE(E::loadWithOrders(store, a, &loadedOrders), four);
    QCOMPARE(loadedOrders, orders);
    QCOMPARE(dumpDatabase(scratch.db()), before);

    // Its id is taken again, so a second restore fails and changes nothing.
    QVERIFY(!E::restore(store, removed, 100, &error));
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
    if (isField())
        transactionIsAllOrNothingFor<TemplateField>(commit);
    else
        transactionIsAllOrNothingFor<GraphicElement>(commit);
}

template<typename Element>
void TestTemplateElements::transactionIsAllOrNothingFor(bool commit)
{
    using E = Elements<Element>;
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();
    const QList<Element> two = appendElements<Element>(store, a, 2);
    QCOMPARE(two.size(), 2);
    const QStringList before = dumpDatabase(scratch.db());

    QString error;
    QVERIFY2(store.beginTransaction(&error), qPrintable(error));
    Element added;
    added.projectId = a;
    QVERIFY2(E::insert(store, &added, &error), qPrintable(error));
    QVERIFY2(E::remove(store, two[0].id, &error), qPrintable(error));
    Element changed = two[1];
    E::change(changed, 77);
    QVERIFY2(E::update(store, changed, &error), qPrintable(error));
    // Another connection does not see the open transaction's rows.
    QCOMPARE(dumpDatabaseFile(scratch.path()), before);

    if (commit) {
        QVERIFY2(store.commitTransaction(&error), qPrintable(error));
        QCOMPARE(E::load(store, a), QList<Element>({changed, added}));
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
    if (isField())
        restoreWithTakenIdFailsFor<TemplateField>();
    else
        restoreWithTakenIdFailsFor<GraphicElement>();
}

template<typename Element>
void TestTemplateElements::restoreWithTakenIdFailsFor()
{
    using E = Elements<Element>;
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();

    const QList<Element> two = appendElements<Element>(store, a, 2);
    QCOMPARE(two.size(), 2);
    const QStringList before = dumpDatabase(scratch.db());

    Element clash = two[0];
    E::change(clash, 42);
    QString error;
    QVERIFY(!E::restore(store, clash, 5, &error));
    QVERIFY2(error.contains(QLatin1String("UNIQUE constraint failed")), qPrintable(error));
    QCOMPARE(dumpDatabase(scratch.db()), before);
    QCOMPARE(E::load(store, a), two);

    // Also when the clash is with another project's element.
    clash.projectId = b;
    error.clear();
    QVERIFY(!E::restore(store, clash, 5, &error));
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
    if (isField())
        failedInsertKeepsIdFor<TemplateField>(presetId);
    else
        failedInsertKeepsIdFor<GraphicElement>(presetId);
}

template<typename Element>
void TestTemplateElements::failedInsertKeepsIdFor(qint64 presetId)
{
    using E = Elements<Element>;
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    const QStringList before = dumpDatabase(scratch.db());

    // The project was deleted meanwhile: the foreign key refuses the row.
    Element orphan;
    orphan.id = presetId;
    orphan.projectId = b + 100;
    const Element original = orphan;
    QString error;
    QVERIFY(!E::insert(scratch.store(), &orphan, &error));
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
    if (isField())
        updateOfMissingRowFailsFor<TemplateField>();
    else
        updateOfMissingRowFailsFor<GraphicElement>();
}

template<typename Element>
void TestTemplateElements::updateOfMissingRowFailsFor()
{
    using E = Elements<Element>;
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();
    const QList<Element> one = appendElements<Element>(store, a, 1);
    QCOMPARE(one.size(), 1);
    const QStringList before = dumpDatabase(scratch.db());

    // An update that writes the values already stored still counts its row.
    QString error;
    QVERIFY2(E::update(store, one[0], &error), qPrintable(error));
    QCOMPARE(dumpDatabase(scratch.db()), before);

    // The row of another project, or an id that exists nowhere: the edit
    // was not written, which must not pass for success.
    Element stray = one[0];
    stray.projectId = b;
    E::change(stray, 55);
    QVERIFY(!E::update(store, stray, &error));
    QCOMPARE(error, elementRemovedElsewhereMessage());
    QCOMPARE(dumpDatabase(scratch.db()), before);

    error.clear();
    stray.id += 1000;
    stray.projectId = a;
    QVERIFY(!E::update(store, stray, &error));
    QCOMPARE(error, elementRemovedElsewhereMessage());
    QCOMPARE(dumpDatabase(scratch.db()), before);
}

void TestTemplateElements::removeOfMissingRowFails_data()
{
    loadOrdersBySortOrderThenId_data();
}

void TestTemplateElements::removeOfMissingRowFails()
{
    if (isField())
        removeOfMissingRowFailsFor<TemplateField>();
    else
        removeOfMissingRowFailsFor<GraphicElement>();
}

template<typename Element>
void TestTemplateElements::removeOfMissingRowFailsFor()
{
    using E = Elements<Element>;
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    ProjectStore &store = scratch.store();
    const QList<Element> inA = appendElements<Element>(store, a, 2);
    const QList<Element> inB = appendElements<Element>(store, b, 1);
    QVERIFY(inA.size() == 2 && inB.size() == 1);

    QString error;
    QVERIFY2(E::remove(store, inB[0].id, &error), qPrintable(error));
    QCOMPARE(E::load(store, b), QList<Element>());
    QCOMPARE(E::load(store, a), inA);

    // Removing it again, or an id never used, fails and changes nothing.
    const QStringList before = dumpDatabase(scratch.db());
    for (const qint64 gone : {inB[0].id, qint64(123456)}) {
        error.clear();
        QVERIFY(!E::remove(store, gone, &error));
        QCOMPARE(error, elementRemovedElsewhereMessage());
    }
    QCOMPARE(dumpDatabase(scratch.db()), before);
}

void TestTemplateElements::nullPointerInsertFails()
{
    ScratchStore scratch;
    qint64 a = 0, b = 0;
    QVERIFY(openTwoProjects(scratch, &a, &b));
    const QStringList before = dumpDatabase(scratch.db());

    QString error;
    QVERIFY(!scratch.store().insertField(nullptr, &error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!scratch.store().insertGraphic(nullptr, &error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!scratch.store().insertField(nullptr));
    QVERIFY(!scratch.store().insertGraphic(nullptr));
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
    QVERIFY2(store.insertGraphic(&table, &error), qPrintable(error));

    GraphicElement edited = graphicWithEveryValueChanged();
    edited.id = table.id;
    edited.projectId = a;
    edited.type = ElementKind::Rectangle;
    QVERIFY2(store.updateGraphic(edited, &error), qPrintable(error));

    GraphicElement expected = edited;
    expected.type = ElementKind::Table;
    QCOMPARE(store.loadGraphics(a), QList<GraphicElement>{expected});
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
    const QList<TemplateField> loaded = scratch.store().loadFields(a, &error);
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
    const QList<TemplateField> fields = scratch.store().loadFields(a, &error);
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
    const QList<GraphicElement> graphics = scratch.store().loadGraphics(a, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(graphics.size(), 1);
    QCOMPARE(graphics[0].type, ElementKind::Ellipse);
    QVERIFY2(scratch.store().updateGraphic(graphics[0], &error), qPrintable(error));
    QVERIFY2(scratch.store().updateField(fields[1], &error), qPrintable(error));
    QSqlQuery query(db);
    QVERIFY(query.exec(QStringLiteral("SELECT element_type FROM template_graphics ORDER BY sort_order")));
    QStringList types;
    while (query.next())
        types << query.value(0).toString();
    QCOMPARE(types, (QStringList{QStringLiteral("star"), QStringLiteral("ellipse")}));
}

QTEST_GUILESS_MAIN(TestTemplateElements)
#include "tst_templateelements.moc"
