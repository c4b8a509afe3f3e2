#include "model/graphicelement.h"
#include "model/project.h"
#include "model/templatefield.h"

#include <QMetaType>
#include <QObject>
#include <QTest>
#include <QVariant>

// Receives elements through queued invocations, as the canvas signals deliver them.
class ElementSink : public QObject
{
    Q_OBJECT
public:
    TemplateField field;
    GraphicElement graphic;
    int calls = 0;

public slots:
    void takeField(const TemplateField &f)
    {
        field = f;
        ++calls;
    }
    void takeGraphic(GraphicElement g)
    {
        graphic = g;
        ++calls;
    }
};

class TestTemplateModel : public QObject
{
    Q_OBJECT

private slots:
    void projectDefaults_data();
    void projectDefaults();
    void templateFieldDefaults_data();
    void templateFieldDefaults();
    void graphicElementDefaults_data();
    void graphicElementDefaults();

    void metaTypesRegisteredByName_data();
    void metaTypesRegisteredByName();
    void elementsTravelThroughVariants();
    void elementsTravelThroughQueuedCalls();
};

// Each row: the record's value and the documented default, compared as variants
// so that one table covers texts, numbers and flags.
void TestTemplateModel::projectDefaults_data()
{
    QTest::addColumn<QVariant>("actual");
    QTest::addColumn<QVariant>("expected");
    const Project p;
    QTest::newRow("id") << QVariant(p.id) << QVariant(qint64(0));
    QTest::newRow("name") << QVariant(p.name) << QVariant(QString());
    QTest::newRow("cardWidthMm") << QVariant(p.cardWidthMm) << QVariant(90.0);
    QTest::newRow("cardHeightMm") << QVariant(p.cardHeightMm) << QVariant(54.0);
    QTest::newRow("paperWidthMm") << QVariant(p.paperWidthMm) << QVariant(420.0);
    QTest::newRow("paperHeightMm") << QVariant(p.paperHeightMm) << QVariant(297.0);
    QTest::newRow("rows") << QVariant(p.rows) << QVariant(qint32(4));
    QTest::newRow("columns") << QVariant(p.columns) << QVariant(qint32(4));
    QTest::newRow("bleedMm") << QVariant(p.bleedMm) << QVariant(2.0);
    QTest::newRow("showBleed") << QVariant(p.showBleed) << QVariant(true);
    QTest::newRow("showImpositionBorder") << QVariant(p.showImpositionBorder) << QVariant(true);
    QTest::newRow("impositionBorderColor") << QVariant(p.impositionBorderColor)
                                           << QVariant(QStringLiteral("#000000"));
    QTest::newRow("showCropMarks") << QVariant(p.showCropMarks) << QVariant(false);
    QTest::newRow("backgroundPath") << QVariant(p.backgroundPath) << QVariant(QString());
    QTest::newRow("duplex") << QVariant(p.duplex) << QVariant(false);
    QTest::newRow("backBackgroundPath") << QVariant(p.backBackgroundPath) << QVariant(QString());
    QTest::newRow("dataSourcePath") << QVariant(p.dataSourcePath) << QVariant(QString());
    QTest::newRow("isDemo") << QVariant(p.isDemo) << QVariant(false);
    QTest::newRow("demoKey") << QVariant(p.demoKey) << QVariant(QString());
}

// The three default tables share their row check.
static void compareDefaultRow()
{
    QFETCH(QVariant, actual);
    QFETCH(QVariant, expected);
    QCOMPARE(actual.metaType(), expected.metaType());
    QCOMPARE(actual, expected);
}

void TestTemplateModel::projectDefaults()
{
    compareDefaultRow();
}

void TestTemplateModel::templateFieldDefaults_data()
{
    QTest::addColumn<QVariant>("actual");
    QTest::addColumn<QVariant>("expected");
    const TemplateField f;
    QTest::newRow("id") << QVariant(f.id) << QVariant(qint64(0));
    QTest::newRow("projectId") << QVariant(f.projectId) << QVariant(qint64(0));
    QTest::newRow("side") << QVariant(f.side) << QVariant(QStringLiteral("front"));
    QTest::newRow("type") << QVariant(f.type) << QVariant(QStringLiteral("text"));
    QTest::newRow("name") << QVariant(f.name) << QVariant(QStringLiteral("Variable Field"));
    QTest::newRow("dataColumn") << QVariant(f.dataColumn) << QVariant(QString());
    QTest::newRow("xMm") << QVariant(f.xMm) << QVariant(5.0);
    QTest::newRow("yMm") << QVariant(f.yMm) << QVariant(5.0);
    QTest::newRow("widthMm") << QVariant(f.widthMm) << QVariant(45.0);
    QTest::newRow("heightMm") << QVariant(f.heightMm) << QVariant(10.0);
    QTest::newRow("fontFamily") << QVariant(f.fontFamily) << QVariant(QStringLiteral("Segoe UI"));
    QTest::newRow("fontSizePt") << QVariant(f.fontSizePt) << QVariant(12.0);
    QTest::newRow("colorHex") << QVariant(f.colorHex) << QVariant(QStringLiteral("#111827"));
    QTest::newRow("bold") << QVariant(f.bold) << QVariant(false);
    QTest::newRow("alignment") << QVariant(f.alignment)
                               << QVariant(qint32(Qt::AlignHCenter | Qt::AlignVCenter));
    QTest::newRow("barcodeFormat") << QVariant(f.barcodeFormat) << QVariant(QStringLiteral("code128"));
    QTest::newRow("barcodeShowText") << QVariant(f.barcodeShowText) << QVariant(false);
    QTest::newRow("scratchMode") << QVariant(f.scratchMode) << QVariant(QStringLiteral("count"));
    QTest::newRow("scratchTotal") << QVariant(f.scratchTotal) << QVariant(qint32(10000));
    QTest::newRow("scratchPrizesJson")
        << QVariant(f.scratchPrizesJson)
        << QVariant(QStringLiteral(R"([{"name":"First Prize","value":2},)"
                                   R"({"name":"Thanks for Playing","value":500}])"));
    QTest::newRow("sequencePrefix") << QVariant(f.sequencePrefix) << QVariant(QStringLiteral("No."));
    QTest::newRow("sequenceDigits") << QVariant(f.sequenceDigits) << QVariant(qint32(6));
    QTest::newRow("sequenceStep") << QVariant(f.sequenceStep) << QVariant(qint32(1));
    QTest::newRow("sequenceExcludeFour") << QVariant(f.sequenceExcludeFour) << QVariant(false);
}

void TestTemplateModel::templateFieldDefaults()
{
    compareDefaultRow();
}

void TestTemplateModel::graphicElementDefaults_data()
{
    QTest::addColumn<QVariant>("actual");
    QTest::addColumn<QVariant>("expected");
    const GraphicElement g;
    QTest::newRow("id") << QVariant(g.id) << QVariant(qint64(0));
    QTest::newRow("projectId") << QVariant(g.projectId) << QVariant(qint64(0));
    QTest::newRow("side") << QVariant(g.side) << QVariant(QStringLiteral("front"));
    QTest::newRow("type") << QVariant(g.type) << QVariant(QStringLiteral("line"));
    QTest::newRow("xMm") << QVariant(g.xMm) << QVariant(10.0);
    QTest::newRow("yMm") << QVariant(g.yMm) << QVariant(10.0);
    QTest::newRow("widthMm") << QVariant(g.widthMm) << QVariant(40.0);
    QTest::newRow("heightMm") << QVariant(g.heightMm) << QVariant(10.0);
    QTest::newRow("strokeColor") << QVariant(g.strokeColor) << QVariant(QStringLiteral("#111827"));
    QTest::newRow("strokeWidthMm") << QVariant(g.strokeWidthMm) << QVariant(0.35);
    QTest::newRow("fillColor") << QVariant(g.fillColor) << QVariant(QStringLiteral("transparent"));
    QTest::newRow("rows") << QVariant(g.rows) << QVariant(qint32(3));
    QTest::newRow("columns") << QVariant(g.columns) << QVariant(qint32(3));
    QTest::newRow("cellSpacingMm") << QVariant(g.cellSpacingMm) << QVariant(0.0);
}

void TestTemplateModel::graphicElementDefaults()
{
    compareDefaultRow();
}

void TestTemplateModel::metaTypesRegisteredByName_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("idAgain");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("compileTimeId");
    QTest::newRow("TemplateField") << templateFieldMetaTypeId() << templateFieldMetaTypeId()
                                   << QByteArray("TemplateField")
                                   << QMetaType::fromType<TemplateField>().id();
    QTest::newRow("GraphicElement") << graphicElementMetaTypeId() << graphicElementMetaTypeId()
                                    << QByteArray("GraphicElement")
                                    << QMetaType::fromType<GraphicElement>().id();
}

void TestTemplateModel::metaTypesRegisteredByName()
{
    QFETCH(int, id);
    QFETCH(int, idAgain);
    QFETCH(QByteArray, name);
    QFETCH(int, compileTimeId);

    QVERIFY(id >= QMetaType::User);
    QCOMPARE(idAgain, id);
    QCOMPARE(compileTimeId, id);
    // String-based lookups (queued connections, QVariant by name) find the type.
    QCOMPARE(QMetaType::fromName(name).id(), id);
    QCOMPARE(QByteArray(QMetaType(id).name()), name);
}

void TestTemplateModel::elementsTravelThroughVariants()
{
    TemplateField field;
    field.id = 41;
    field.projectId = 7;
    field.side = QStringLiteral("back");
    field.type = QStringLiteral("scratch");
    field.name = QStringLiteral("Prize \u00e9t\u00e9");
    field.dataColumn = QStringLiteral("source:3:Prize");
    field.scratchTotal = 250;
    field.sequenceExcludeFour = true;

    const QVariant fieldVariant = QVariant::fromValue(field);
    QCOMPARE(fieldVariant.metaType().id(), templateFieldMetaTypeId());
    QVERIFY(fieldVariant.canConvert<TemplateField>());
    QCOMPARE(fieldVariant.value<TemplateField>(), field);
    QVERIFY(!(fieldVariant.value<TemplateField>() == TemplateField()));

    // A copy made through the meta-type system by id alone.
    QVariant byId(QMetaType(templateFieldMetaTypeId()), &field);
    QCOMPARE(byId.value<TemplateField>(), field);

    GraphicElement graphic;
    graphic.id = 9;
    graphic.type = QStringLiteral("table");
    graphic.cellSpacingMm = 0.5;
    const QVariant graphicVariant = QVariant::fromValue(graphic);
    QCOMPARE(graphicVariant.metaType().id(), graphicElementMetaTypeId());
    QCOMPARE(graphicVariant.value<GraphicElement>(), graphic);
}

void TestTemplateModel::elementsTravelThroughQueuedCalls()
{
    templateFieldMetaTypeId();
    graphicElementMetaTypeId();

    ElementSink sink;
    TemplateField field;
    field.id = 12;
    field.name = QStringLiteral("Serial");
    field.type = QStringLiteral("sequence");
    GraphicElement graphic;
    graphic.id = 13;
    graphic.type = QStringLiteral("ellipse");

    QVERIFY(QMetaObject::invokeMethod(&sink, "takeField", Qt::QueuedConnection,
                                      Q_ARG(TemplateField, field)));
    QVERIFY(QMetaObject::invokeMethod(&sink, "takeGraphic", Qt::QueuedConnection,
                                      Q_ARG(GraphicElement, graphic)));
    // The values were copied when queued: changing ours now must not reach the sink.
    field.name = QStringLiteral("changed after queuing");
    graphic.type = QStringLiteral("line");

    QTRY_COMPARE(sink.calls, 2);
    QCOMPARE(sink.field.id, qint64(12));
    QCOMPARE(sink.field.name, QStringLiteral("Serial"));
    QCOMPARE(sink.field.type, QStringLiteral("sequence"));
    QCOMPARE(sink.graphic.id, qint64(13));
    QCOMPARE(sink.graphic.type, QStringLiteral("ellipse"));
}

QTEST_GUILESS_MAIN(TestTemplateModel)
#include "tst_templatemodel.moc"
