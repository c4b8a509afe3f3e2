#include "model/elementkind.h"
#include "model/elementlimits.h"
#include "model/graphicelement.h"
#include "model/project.h"
#include "model/templateelement.h"
#include "model/templatefield.h"

#include <QMetaType>
#include <QObject>
#include <QTest>
#include <QVariant>

#include <functional>

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
    void storedTexts_data();
    void storedTexts();
    void storedAlignmentFlags_data();
    void storedAlignmentFlags();
    void kindQuestions_data();
    void kindQuestions();

    void metaTypesRegisteredByName_data();
    void metaTypesRegisteredByName();
    void elementsTravelThroughVariants();
    void elementsTravelThroughQueuedCalls();
    void elementInterfaceReachesEitherRecord_data();
    void elementInterfaceReachesEitherRecord();

    void storedValuesOutOfRange_data();
    void storedValuesOutOfRange();
    void firstViolationOfATemplate();
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

// The texts the database and the clipboard hold, both ways. `expected` is the
// enum's value, -1 for a text the conversion does not know (the store then
// puts in Text, Code 128, Count; a graphic is not loaded). A known text
// converts back to itself.
void TestTemplateModel::storedTexts_data()
{
    QTest::addColumn<QString>("conversion");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");

    QTest::newRow("side front") << "side" << "front" << int(CardSide::Front);
    QTest::newRow("side back") << "side" << "back" << int(CardSide::Back);
    // Back only for exactly "back": everything else is the front.
    QTest::newRow("side Back is the front") << "side" << "Back" << int(CardSide::Front);
    QTest::newRow("side 'back ' is the front") << "side" << "back " << int(CardSide::Front);
    QTest::newRow("side empty is the front") << "side" << "" << int(CardSide::Front);

    const QStringList fieldKinds{"text", "sequence", "barcode", "qrcode", "scratch"};
    for (int i = 0; i < fieldKinds.size(); ++i)
        QTest::addRow("field %s", qPrintable(fieldKinds[i])) << "field" << fieldKinds[i] << i;
    QTest::newRow("field: a graphic kind") << "field" << "line" << -1;
    QTest::newRow("field: compared exactly") << "field" << "Barcode" << -1;
    QTest::newRow("field: unknown") << "field" << "barcodes" << -1;
    QTest::newRow("field: empty") << "field" << "" << -1;

    const QStringList graphicKinds{"line", "ellipse", "rectangle", "table"};
    for (int i = 0; i < graphicKinds.size(); ++i)
        QTest::addRow("graphic %s", qPrintable(graphicKinds[i])) << "graphic" << graphicKinds[i]
                                                                 << int(ElementKind::Line) + i;
    QTest::newRow("graphic: a field kind") << "graphic" << "text" << -1;
    QTest::newRow("graphic: unknown") << "graphic" << "star" << -1;
    QTest::newRow("graphic: compared exactly") << "graphic" << "Table" << -1;

    const QStringList formats{"code128", "code39", "ean13", "ean8", "upca"};
    for (int i = 0; i < formats.size(); ++i)
        QTest::addRow("format %s", qPrintable(formats[i])) << "format" << formats[i] << i;
    QTest::newRow("format: unknown") << "format" << "pdf417" << -1;
    QTest::newRow("format: compared exactly") << "format" << "EAN13" << -1;
    QTest::newRow("format: empty") << "format" << "" << -1;

    QTest::newRow("mode count") << "mode" << "count" << int(ScratchMode::Count);
    QTest::newRow("mode ratio") << "mode" << "ratio" << int(ScratchMode::Ratio);
    QTest::newRow("mode: compared exactly") << "mode" << "Ratio" << -1;
    QTest::newRow("mode: unknown") << "mode" << "percent" << -1;
}

void TestTemplateModel::storedTexts()
{
    QFETCH(QString, conversion);
    QFETCH(QString, text);
    QFETCH(int, expected);

    const auto asInt = [](auto value) { return value ? int(*value) : -1; };
    int found = -1;
    QString back;
    if (conversion == QLatin1String("side")) {
        found = int(cardSideFromKey(text));
        back = cardSideKey(CardSide(expected));
    } else if (conversion == QLatin1String("field")) {
        found = asInt(fieldKindFromKey(text));
        if (expected >= 0)
            back = elementKindKey(ElementKind(expected));
    } else if (conversion == QLatin1String("graphic")) {
        found = asInt(graphicKindFromKey(text));
        if (expected >= 0)
            back = elementKindKey(ElementKind(expected));
    } else if (conversion == QLatin1String("format")) {
        found = asInt(barcodeFormatFromKey(text));
        if (expected >= 0)
            back = barcodeFormatKey(BarcodeFormat(expected));
    } else {
        found = asInt(scratchModeFromKey(text));
        if (expected >= 0)
            back = scratchModeKey(ScratchMode(expected));
    }
    QCOMPARE(found, expected);
    const bool known = expected >= 0 && (conversion != QLatin1String("side") || text == back);
    if (known)
        QCOMPARE(back, text);
}

// Qt's alignment flags as stored, read as the painter always read them, and
// the flags written back.
void TestTemplateModel::storedAlignmentFlags_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<HorizontalAlignment>("horizontal");
    QTest::addColumn<VerticalAlignment>("vertical");
    QTest::addColumn<int>("written");

    using H = HorizontalAlignment;
    using V = VerticalAlignment;
    const QList<std::pair<int, H>> horizontals{{0x1, H::Left}, {0x4, H::Center}, {0x2, H::Right}};
    const QList<std::pair<int, V>> verticals{{0x20, V::Top}, {0x80, V::Center}, {0x40, V::Bottom}};
    for (const auto &[hFlag, h] : horizontals) {
        for (const auto &[vFlag, v] : verticals)
            QTest::addRow("0x%x", hFlag | vFlag) << (hFlag | vFlag) << h << v << (hFlag | vFlag);
    }
    QTest::newRow("129: left") << 129 << H::Left << V::Center << 129;
    QTest::newRow("132: centre") << 132 << H::Center << V::Center << 132;
    QTest::newRow("130: right") << 130 << H::Right << V::Center << 130;
    QTest::newRow("no flags: left top") << 0 << H::Left << V::Top << 0x21;
    QTest::newRow("left alone: top") << 0x1 << H::Left << V::Top << 0x21;
    QTest::newRow("vertical centre alone: left") << 0x80 << H::Left << V::Center << 129;
    QTest::newRow("centre wins over right") << (0x4 | 0x2 | 0x20) << H::Center << V::Top << 0x24;
    QTest::newRow("vertical centre wins over bottom") << (0x80 | 0x40 | 0x1) << H::Left << V::Center << 129;
    QTest::newRow("bottom wins over top") << (0x40 | 0x20 | 0x2) << H::Right << V::Bottom << 0x42;
    QTest::newRow("justify is left") << (0x8 | 0x80) << H::Left << V::Center << 129;
    QTest::newRow("absolute right is right") << (0x10 | 0x2 | 0x80) << H::Right << V::Center << 130;
    QTest::newRow("baseline is top") << (0x100 | 0x4) << H::Center << V::Top << 0x24;
    QTest::newRow("a text flag beyond the alignment bits") << (0x1000 | 132) << H::Center << V::Center << 132;
}

void TestTemplateModel::storedAlignmentFlags()
{
    QFETCH(int, flags);
    QFETCH(HorizontalAlignment, horizontal);
    QFETCH(VerticalAlignment, vertical);
    QFETCH(int, written);

    const TextAlignment alignment = alignmentFromFlags(flags);
    QCOMPARE(alignment.horizontal, horizontal);
    QCOMPARE(alignment.vertical, vertical);
    QCOMPARE(alignmentFlags(alignment), written);
    QCOMPARE(alignmentFromFlags(written), alignment);
    QCOMPARE(alignmentFlags(TextAlignment()), 132);
}

// What each kind can do, one row per kind.
void TestTemplateModel::kindQuestions_data()
{
    QTest::addColumn<ElementKind>("kind");
    QTest::addColumn<bool>("field");
    QTest::addColumn<bool>("generated");
    QTest::addColumn<bool>("code");
    QTest::addColumn<bool>("squareCode");
    QTest::addColumn<bool>("sizedByContent");

    QTest::newRow("text") << ElementKind::Text << true << false << false << false << true;
    QTest::newRow("sequence") << ElementKind::Sequence << true << true << false << false << true;
    QTest::newRow("barcode") << ElementKind::Barcode << true << false << true << false << false;
    QTest::newRow("qrcode") << ElementKind::QrCode << true << false << true << true << false;
    QTest::newRow("scratch") << ElementKind::Scratch << true << true << false << false << true;
    QTest::newRow("line") << ElementKind::Line << false << false << false << false << false;
    QTest::newRow("ellipse") << ElementKind::Ellipse << false << false << false << false << false;
    QTest::newRow("rectangle") << ElementKind::Rectangle << false << false << false << false << false;
    QTest::newRow("table") << ElementKind::Table << false << false << false << false << false;
}

void TestTemplateModel::kindQuestions()
{
    QFETCH(ElementKind, kind);
    QFETCH(bool, field);
    QFETCH(bool, generated);
    QFETCH(bool, code);
    QFETCH(bool, squareCode);
    QFETCH(bool, sizedByContent);

    QCOMPARE(isFieldKind(kind), field);
    QCOMPARE(isGraphicKind(kind), !field);
    QCOMPARE(isGenerated(kind), generated);
    QCOMPARE(isCode(kind), code);
    QCOMPARE(isSquareCode(kind), squareCode);
    QCOMPARE(isSizedByContent(kind), sizedByContent);
    QCOMPARE(hasResizeHandle(kind), !sizedByContent);
    QCOMPARE(isLine(kind), kind == ElementKind::Line);
    TemplateField f;
    f.type = kind;
    QCOMPARE(isCodeField(f), code);
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
    // The kinds as they are stored.
    QTest::newRow("side") << QVariant(cardSideKey(f.side)) << QVariant(QStringLiteral("front"));
    QTest::newRow("type") << QVariant(elementKindKey(f.type)) << QVariant(QStringLiteral("text"));
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
    QTest::newRow("alignment") << QVariant(alignmentFlags(f.alignment))
                               << QVariant(qint32(Qt::AlignHCenter | Qt::AlignVCenter));
    QTest::newRow("barcodeFormat") << QVariant(barcodeFormatKey(f.barcodeFormat)) << QVariant(QStringLiteral("code128"));
    QTest::newRow("barcodeShowText") << QVariant(f.barcodeShowText) << QVariant(false);
    QTest::newRow("scratchMode") << QVariant(scratchModeKey(f.scratchMode)) << QVariant(QStringLiteral("count"));
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
    QTest::newRow("side") << QVariant(cardSideKey(g.side)) << QVariant(QStringLiteral("front"));
    QTest::newRow("type") << QVariant(elementKindKey(g.type)) << QVariant(QStringLiteral("line"));
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
    field.side = CardSide::Back;
    field.type = ElementKind::Scratch;
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
    graphic.type = ElementKind::Table;
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
    field.type = ElementKind::Sequence;
    GraphicElement graphic;
    graphic.id = 13;
    graphic.type = ElementKind::Ellipse;

    QVERIFY(QMetaObject::invokeMethod(&sink, "takeField", Qt::QueuedConnection,
                                      Q_ARG(TemplateField, field)));
    QVERIFY(QMetaObject::invokeMethod(&sink, "takeGraphic", Qt::QueuedConnection,
                                      Q_ARG(GraphicElement, graphic)));
    // The values were copied when queued: changing ours now must not reach the sink.
    field.name = QStringLiteral("changed after queuing");
    graphic.type = ElementKind::Line;

    QTRY_COMPARE(sink.calls, 2);
    QCOMPARE(sink.field.id, qint64(12));
    QCOMPARE(sink.field.name, QStringLiteral("Serial"));
    QCOMPARE(sink.field.type, ElementKind::Sequence);
    QCOMPARE(sink.graphic.id, qint64(13));
    QCOMPARE(sink.graphic.type, ElementKind::Ellipse);
}

using FieldChange = std::function<void(TemplateField &)>;
using GraphicChange = std::function<void(GraphicElement &)>;
Q_DECLARE_METATYPE(FieldChange)
Q_DECLARE_METATYPE(GraphicChange)

// Each row spoils one stored value of a field or a graphic (named "Serial",
// id 7, and a table, id 3, on the front): the violation names the element,
// the panel's label, the value as stored and the range the panel allows; the
// element brought within the limits passes.
void TestTemplateModel::storedValuesOutOfRange_data()
{
    QTest::addColumn<FieldChange>("fieldChange");
    QTest::addColumn<GraphicChange>("graphicChange");
    QTest::addColumn<QString>("expected");

    const QString field = QStringLiteral("Field \"Serial\" (front, id 7): ");
    const QString table = QStringLiteral("Graphic table (front, id 3): ");
    const FieldChange noField = [](TemplateField &) {};
    const GraphicChange noGraphic = [](GraphicElement &) {};
    QTest::newRow("defaults") << noField << noGraphic << QString();
    QTest::newRow("at the limits") << FieldChange([](TemplateField &f) {
        f.xMm = -2000;
        f.yMm = 2000;
        f.fontSizePt = 300;
        f.sequencePrefix = QString(100, QLatin1Char('P'));
        f.sequenceDigits = 18;
    }) << GraphicChange([](GraphicElement &g) {
        g.rows = 100;
        g.strokeWidthMm = 0.05;
        g.cellSpacingMm = 20;
    }) << QString();
    QTest::newRow("x 1e20 mm") << FieldChange([](TemplateField &f) { f.xMm = 1e20; }) << noGraphic
                               << field + "X Position is 1e+20 mm, allowed -2000 to 2000 mm";
    QTest::newRow("y far above the card") << FieldChange([](TemplateField &f) { f.yMm = -2000.5; }) << noGraphic
                                          << field + "Y Position is -2000.5 mm, allowed -2000 to 2000 mm";
    // Aligning to a narrower object may put one left of the card.
    QTest::newRow("a position left of the card") << FieldChange([](TemplateField &f) { f.xMm = -10; }) << noGraphic
                                                 << QString();
    QTest::newRow("width not a number") << FieldChange([](TemplateField &f) { f.widthMm = qQNaN(); }) << noGraphic
                                        << field + "Width is nan mm, allowed 0 to 2000 mm";
    QTest::newRow("infinite height") << FieldChange([](TemplateField &f) { f.heightMm = qInf(); }) << noGraphic
                                     << field + "Height is inf mm, allowed 0 to 2000 mm";
    QTest::newRow("font size 0") << FieldChange([](TemplateField &f) { f.fontSizePt = 0; }) << noGraphic
                                 << field + "Font Size is 0 pt, allowed 4 to 300 pt";
    QTest::newRow("a prefix of 1 MB") << FieldChange([](TemplateField &f) {
        f.sequencePrefix = QString(1 << 20, QLatin1Char('P'));
    }) << noGraphic << field + "Sequence Prefix is 1048576 characters, allowed 0 to 100 characters";
    QTest::newRow("digits 0") << FieldChange([](TemplateField &f) { f.sequenceDigits = 0; }) << noGraphic
                              << field + "Sequence Digits is 0, allowed 1 to 18";
    QTest::newRow("a text field's sequence settings are not used")
        << FieldChange([](TemplateField &f) {
               f.type = ElementKind::Text;
               f.sequencePrefix = QString(1 << 20, QLatin1Char('P'));
               f.sequenceStep = 0;
           })
        << noGraphic << QString();
    QTest::newRow("the first of several, in the panel's order")
        << FieldChange([](TemplateField &f) {
               f.fontSizePt = -1;
               f.heightMm = 5000;
           })
        << noGraphic << field + "Height is 5000 mm, allowed 0 to 2000 mm";
    QTest::newRow("a table of 1e9 rows") << noField << GraphicChange([](GraphicElement &g) { g.rows = 1000000000; })
                                         << table + "Rows is 1000000000, allowed 1 to 100";
    QTest::newRow("no columns") << noField << GraphicChange([](GraphicElement &g) { g.columns = 0; })
                                << table + "Columns is 0, allowed 1 to 100";
    QTest::newRow("a stroke of 1e9 mm") << noField
                                        << GraphicChange([](GraphicElement &g) { g.strokeWidthMm = 1e9; })
                                        << table + "Stroke Width is 1000000000 mm, allowed 0.05 to 10 mm";
    QTest::newRow("a spacing of no number") << noField
                                            << GraphicChange([](GraphicElement &g) { g.cellSpacingMm = -qInf(); })
                                            << table + "Table Spacing is -inf mm, allowed 0 to 20 mm";
    QTest::newRow("a line's rows are not used") << noField << GraphicChange([](GraphicElement &g) {
        g.type = ElementKind::Line;
        g.rows = 0;
        g.cellSpacingMm = 1e9;
    }) << QString();
}

void TestTemplateModel::storedValuesOutOfRange()
{
    QFETCH(FieldChange, fieldChange);
    QFETCH(GraphicChange, graphicChange);
    QFETCH(QString, expected);

    TemplateField field;
    field.id = 7;
    field.name = QStringLiteral("Serial");
    field.type = ElementKind::Sequence;
    fieldChange(field);
    GraphicElement graphic;
    graphic.id = 3;
    graphic.type = ElementKind::Table;
    graphicChange(graphic);

    const std::optional<ElementLimitViolation> found = templateLimitViolation({field}, {graphic});
    QCOMPARE(found ? found->message() : QString(), expected);
    QVERIFY(!fieldLimitViolation(fieldWithinLimits(field)));
    QVERIFY(!graphicLimitViolation(graphicWithinLimits(graphic)));
    // What is within stays as it was.
    if (expected.isEmpty()) {
        QCOMPARE(fieldWithinLimits(field), field);
        QCOMPARE(graphicWithinLimits(graphic), graphic);
    }
}

// Fields before graphics, each list in its order; every element is looked at.
void TestTemplateModel::firstViolationOfATemplate()
{
    TemplateField good;
    TemplateField bad;
    bad.id = 2;
    bad.name = QStringLiteral("Late");
    bad.fontSizePt = 301;
    GraphicElement badGraphic;
    badGraphic.id = 9;
    badGraphic.widthMm = -1;
    QVERIFY(!templateLimitViolation({}, {}));
    QCOMPARE(templateLimitViolation({good, good, bad}, {badGraphic})->element,
             QStringLiteral("Field \"Late\" (front, id 2)"));
    const std::optional<ElementLimitViolation> graphic = templateLimitViolation({good}, {GraphicElement(), badGraphic});
    QVERIFY(graphic);
    QCOMPARE(graphic->element, QStringLiteral("Graphic line (front, id 9)"));
    QCOMPARE(graphic->property, QStringLiteral("Width"));
    QCOMPARE(graphic->value, QStringLiteral("-1 mm"));
    QCOMPARE(graphic->range, QStringLiteral("0 to 2000 mm"));
}

QTEST_GUILESS_MAIN(TestTemplateModel)
void TestTemplateModel::elementInterfaceReachesEitherRecord_data()
{
    QTest::addColumn<TemplateElement>("element");
    QTest::addColumn<ElementGroup>("group");
    TemplateField barcode;
    barcode.type = ElementKind::Barcode;
    GraphicElement table;
    table.type = ElementKind::Table;
    QTest::newRow("field") << TemplateElement(barcode) << ElementGroup::Field;
    QTest::newRow("graphic") << TemplateElement(table) << ElementGroup::Graphic;
}

// Each setter writes its members of whichever record the element holds, and
// nothing else of it.
void TestTemplateModel::elementInterfaceReachesEitherRecord()
{
    QFETCH(TemplateElement, element);
    QFETCH(ElementGroup, group);
    QCOMPARE(groupOf(element), group);
    QCOMPARE(groupOf(kindOf(element)), group);

    TemplateElement edited = element;
    setId(edited, 41);
    setProject(edited, 7);
    setSide(edited, CardSide::Back);
    setBox(edited, QRectF(1.5, 2.25, 30.5, 12.75));
    QCOMPARE(refOf(edited), (ElementRef{group, 41}));
    QCOMPARE(projectOf(edited), qint64(7));
    QCOMPARE(sideOf(edited), CardSide::Back);
    QCOMPARE(boxOf(edited), QRectF(1.5, 2.25, 30.5, 12.75));
    QCOMPARE(kindOf(edited), kindOf(element));
    setPosition(edited, QPointF(9, 8));
    QCOMPARE(boxOf(edited), QRectF(9, 8, 30.5, 12.75));

    // Every other member is as it was: put the touched ones back and compare.
    TemplateElement restored = edited;
    setId(restored, idOf(element));
    setProject(restored, projectOf(element));
    setSide(restored, sideOf(element));
    setBox(restored, boxOf(element));
    QCOMPARE(restored, element);

    // The typed lists keep their order and leave the other group out.
    const QList<TemplateElement> both = {element, TemplateField(), GraphicElement(), edited};
    QCOMPARE(fieldsOf(both).size() + graphicsOf(both).size(), both.size());
    QCOMPARE(elementsOf(fieldsOf(both), graphicsOf(both)).size(), both.size());
    QCOMPARE(groupOf(elementsOf(fieldsOf(both), graphicsOf(both)).constFirst()), ElementGroup::Field);
    if (group == ElementGroup::Field)
        QCOMPARE(fieldsOf(both), (QList<TemplateField>{*asField(element), TemplateField(), *asField(edited)}));
    else
        QCOMPARE(graphicsOf(both), (QList<GraphicElement>{*asGraphic(element), GraphicElement(), *asGraphic(edited)}));
}

#include "tst_templatemodel.moc"
