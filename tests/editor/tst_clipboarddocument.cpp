// The canvas's clipboard document: what copying writes, and what pasting
// makes of it, including documents no copy of ours could have written.

#include "editor/clipboarddocument.h"
#include "store/storetestutil.h" // readable records in failure output

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <functional>
#include <limits>

namespace {

using Items = QList<TemplateElement>;
using FieldChange = std::function<void(TemplateField &)>;
using GraphicChange = std::function<void(GraphicElement &)>;

TemplateElement field(const FieldChange &change)
{
    TemplateField f;
    change(f);
    return f;
}

TemplateElement graphic(const GraphicChange &change)
{
    GraphicElement g;
    change(g);
    return g;
}

// What a paste gives for a copied record: everything but where it belonged.
TemplateElement withoutPlace(TemplateElement item)
{
    std::visit(
        [](auto &record) {
            record.id = 0;
            record.projectId = 0;
            record.side = CardSide::Front;
        },
        item);
    return item;
}

// A document of one item given as JSON text.
QByteArray documentOf(const QByteArray &item)
{
    return "{\"version\":1,\"items\":[" + item + "]}";
}

QByteArray documentOfCopies(const QByteArray &item, int count)
{
    QByteArrayList items;
    for (int i = 0; i < count; ++i)
        items.append(item);
    return "{\"version\":1,\"items\":[" + items.join(',') + "]}";
}

QString groupName(const TemplateElement &item)
{
    return std::holds_alternative<TemplateField>(item) ? QStringLiteral("field") : QStringLiteral("graphic");
}

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

} // namespace

#define COMPARE_ITEMS(actual, expected)                                                                      \
    do {                                                                                                     \
        QCOMPARE((actual).size(), (expected).size());                                                       \
        for (qsizetype i_ = 0; i_ < (actual).size(); ++i_) {                                                 \
            QCOMPARE(groupName((actual).at(i_)), groupName((expected).at(i_)));                                    \
            if (std::holds_alternative<TemplateField>((actual).at(i_)))                                       \
                QCOMPARE(std::get<TemplateField>((actual).at(i_)), std::get<TemplateField>((expected).at(i_))); \
            else                                                                                             \
                QCOMPARE(std::get<GraphicElement>((actual).at(i_)),                                          \
                         std::get<GraphicElement>((expected).at(i_)));                                       \
        }                                                                                                    \
    } while (false)

class TestClipboardDocument : public QObject
{
    Q_OBJECT

private slots:
    void mimeType();
    void documentShape();
    void roundTrip_data();
    void roundTrip();
    void notACanvasDocument_data();
    void notACanvasDocument();
    void hostileRecords_data();
    void hostileRecords();
    void numbersNotFiniteCopiedAsDefaults();
    void kindsAndOrder();
    void onlyUnknownKinds();
    void itemLimit_data();
    void itemLimit();
    void byteLimit();
    void largeTextWithinTheLimit();
};

void TestClipboardDocument::mimeType()
{
    QCOMPARE(canvasClipboardMimeType(), QStringLiteral("application/x-tessolo-canvas-items"));
}

// Exactly the members of the record tables, and never where the record came from.
void TestClipboardDocument::documentShape()
{
    TemplateField f;
    f.id = 11;
    f.projectId = 3;
    f.side = CardSide::Back;
    GraphicElement g;
    g.id = 12;
    g.projectId = 3;
    g.side = CardSide::Back;

    const QByteArray data = canvasClipboardDocument({g, f});
    QVERIFY(!data.contains('\n')); // compact
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonObject root = document.object();
    QCOMPARE(root.keys(), QStringList({"items", "version"}));
    QCOMPARE(root.value("version"), QJsonValue(1));
    const QJsonArray items = root.value("items").toArray();
    QCOMPARE(items.size(), 2);

    const QJsonObject first = items.at(0).toObject();
    QCOMPARE(first.keys(), QStringList({"graphic", "kind"}));
    QCOMPARE(first.value("kind"), QJsonValue("graphic"));
    QStringList graphicKeys{"type", "xMm", "yMm", "widthMm", "heightMm", "strokeColor", "strokeWidthMm",
                            "fillColor", "rows", "columns", "cellSpacingMm"};
    graphicKeys.sort();
    QCOMPARE(first.value("graphic").toObject().keys(), graphicKeys);

    const QJsonObject second = items.at(1).toObject();
    QCOMPARE(second.keys(), QStringList({"field", "kind"}));
    QCOMPARE(second.value("kind"), QJsonValue("field"));
    QStringList fieldKeys{"type", "name", "dataColumn", "xMm", "yMm", "widthMm", "heightMm",
                          "fontFamily", "fontSizePt", "colorHex", "bold", "alignment", "barcodeFormat",
                          "barcodeShowText", "scratchMode", "scratchTotal", "scratchPrizesJson",
                          "sequencePrefix", "sequenceDigits", "sequenceStep", "sequenceExcludeFour"};
    fieldKeys.sort();
    QCOMPARE(second.value("field").toObject().keys(), fieldKeys);

    // The JSON types of the tables.
    const QJsonObject fieldRecord = second.value("field").toObject();
    QVERIFY(fieldRecord.value("xMm").isDouble());
    QVERIFY(fieldRecord.value("bold").isBool());
    QVERIFY(fieldRecord.value("scratchPrizesJson").isString());
    QCOMPARE(fieldRecord.value("alignment"), QJsonValue(132));
}

void TestClipboardDocument::roundTrip_data()
{
    QTest::addColumn<Items>("items");

    QTest::newRow("nothing but defaults") << Items{TemplateField(), GraphicElement()};
    QTest::newRow("fields and graphics interleaved, every member set")
        << Items{
               field([](TemplateField &f) {
                   f.id = 41;
                   f.projectId = 2;
                   f.side = CardSide::Back;
                   f.type = ElementKind::Barcode;
                   f.name = QStringLiteral("Member code");
                   f.dataColumn = QStringLiteral("source:4:Code");
                   f.xMm = 12.25;
                   f.yMm = 30.5;
                   f.widthMm = 52.75;
                   f.heightMm = 14.5;
                   f.fontFamily = QStringLiteral("DejaVu Sans");
                   f.fontSizePt = 9.5;
                   f.colorHex = QStringLiteral("#1a2B3c");
                   f.bold = true;
                   f.alignment = TextAlignment{HorizontalAlignment::Right, VerticalAlignment::Center};
                   f.barcodeFormat = BarcodeFormat::Ean13;
                   f.barcodeShowText = true;
                   f.scratchMode = ScratchMode::Ratio;
                   f.scratchTotal = 2500;
                   f.scratchPrizesJson = QStringLiteral("[{\"name\":\"Cinema\",\"value\":1}]");
                   f.sequencePrefix = QStringLiteral("#");
                   f.sequenceDigits = 9;
                   f.sequenceStep = 5;
                   f.sequenceExcludeFour = true;
               }),
               graphic([](GraphicElement &g) {
                   g.id = 8;
                   g.projectId = 2;
                   g.side = CardSide::Back;
                   g.type = ElementKind::Table;
                   g.xMm = 3.5;
                   g.yMm = 4.25;
                   g.widthMm = 61;
                   g.heightMm = 27.5;
                   g.strokeColor = QStringLiteral("#ff0000");
                   g.strokeWidthMm = 0.7;
                   g.fillColor = QStringLiteral("#00ff7f");
                   g.rows = 4;
                   g.columns = 7;
                   g.cellSpacingMm = 1.5;
               }),
               field([](TemplateField &f) {
                   f.type = ElementKind::Sequence;
                   f.name = QStringLiteral("Sequence");
               }),
               graphic([](GraphicElement &g) {
                   g.type = ElementKind::Line;
                   g.heightMm = 1;
               }),
           };
    QTest::newRow("the ends of every range")
        << Items{
               field([](TemplateField &f) {
                   f.xMm = 0;
                   f.yMm = 2000;
                   f.widthMm = 5;
                   f.heightMm = 2000;
                   f.fontSizePt = 4;
                   f.scratchTotal = 10000000;
                   f.sequenceDigits = 18;
                   f.sequenceStep = 1000000;
               }),
               field([](TemplateField &f) {
                   f.widthMm = 2000;
                   f.heightMm = 3;
                   f.fontSizePt = 300;
                   f.scratchTotal = 1;
                   f.sequenceDigits = 1;
                   f.alignment = TextAlignment{HorizontalAlignment::Left, VerticalAlignment::Center};
               }),
               graphic([](GraphicElement &g) {
                   g.type = ElementKind::Ellipse;
                   g.widthMm = 5;
                   g.heightMm = 5;
                   g.strokeWidthMm = 0.05;
                   g.rows = 100;
                   g.columns = 1;
                   g.cellSpacingMm = 20;
               }),
               graphic([](GraphicElement &g) {
                   g.type = ElementKind::Rectangle;
                   g.xMm = 2000;
                   g.widthMm = 2000;
                   g.strokeWidthMm = 10;
                   g.rows = 1;
                   g.columns = 100;
               }),
           };
    QTest::newRow("texts with quotes, line breaks and other scripts")
        << Items{field([](TemplateField &f) {
               f.name = QStringLiteral("Say \"hi\"\\\nnext line\ttab ✓ Ünïcödé 漢字 \U0001F600");
               f.dataColumn = QStringLiteral("source:1:Name, \"quoted\"");
               f.sequencePrefix = QString();
               f.scratchPrizesJson = QStringLiteral("[{\"name\":\"A\\\"B\",\"value\":3}]");
           })};
    QTest::newRow("one item") << Items{graphic([](GraphicElement &g) { g.type = ElementKind::Ellipse; })};
}

void TestClipboardDocument::roundTrip()
{
    QFETCH(Items, items);
    Items expected;
    for (const TemplateElement &item : items)
        expected.append(withoutPlace(item));

    const std::optional<CanvasClipboardItems> parsed = parseCanvasClipboard(canvasClipboardDocument(items));
    QVERIFY(parsed);
    QCOMPARE(parsed->refusal, QString());
    COMPARE_ITEMS(parsed->items, expected);
}

void TestClipboardDocument::notACanvasDocument_data()
{
    QTest::addColumn<QByteArray>("data");

    const QByteArray valid = canvasClipboardDocument({TemplateField(), GraphicElement()});
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text from another program") << QByteArray("Hello, world");
    QTest::newRow("a JSON array") << QByteArray("[{\"kind\":\"field\"}]");
    QTest::newRow("a JSON number") << QByteArray("1");
    QTest::newRow("no items") << QByteArray("{\"version\":1}");
    QTest::newRow("items empty") << QByteArray("{\"version\":1,\"items\":[]}");
    QTest::newRow("items an object") << QByteArray("{\"items\":{\"kind\":\"field\"}}");
    QTest::newRow("items a string") << QByteArray("{\"items\":\"[{\\\"kind\\\":\\\"field\\\"}]\"}");
    QTest::newRow("items null") << QByteArray("{\"items\":null}");
    QTest::newRow("text after the object") << valid + " trailing";
    QTest::newRow("cut short") << valid.left(valid.size() / 2);
    QTest::newRow("a number too large for a double")
        << documentOf(R"({"kind":"field","field":{"xMm":1e999}})");
    QTest::newRow("NaN is no JSON") << documentOf(R"({"kind":"field","field":{"xMm":NaN}})");
    QTest::newRow("nested 100000 deep") << QByteArray(100000, '[') + QByteArray(100000, ']');
    QTest::newRow("an object nested 100000 deep")
        << "{\"items\":" + QByteArray(100000, '[') + QByteArray(100000, ']') + "}";
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe{\"items\":[1]}", 16);
}

void TestClipboardDocument::notACanvasDocument()
{
    QFETCH(QByteArray, data);
    QVERIFY(!parseCanvasClipboard(data));
}

void TestClipboardDocument::hostileRecords_data()
{
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<TemplateElement>("expected");

    const auto f = [](const FieldChange &change) { return field(change); };
    const auto g = [](const GraphicChange &change) { return graphic(change); };
    const auto defaultField = f([](TemplateField &) {});
    const auto defaultGraphic = g([](GraphicElement &) {});

    // Wrong JSON types keep the default.
    QTest::newRow("numbers as strings") << QByteArray(R"({"kind":"field","field":{"xMm":"12","widthMm":"100"}})")
                                        << defaultField;
    QTest::newRow("numbers as null, arrays and objects")
        << QByteArray(R"({"kind":"field","field":{"xMm":null,"yMm":[1],"fontSizePt":{"v":20}}})") << defaultField;
    QTest::newRow("texts as numbers")
        << QByteArray(R"({"kind":"field","field":{"name":5,"dataColumn":true,"fontFamily":null}})") << defaultField;
    QTest::newRow("bools only from true and false")
        << QByteArray(R"({"kind":"field","field":{"bold":1,"barcodeShowText":"true","sequenceExcludeFour":null}})")
        << defaultField;
    QTest::newRow("bools that are bools")
        << QByteArray(R"({"kind":"field","field":{"bold":true,"barcodeShowText":true,"sequenceExcludeFour":true}})")
        << f([](TemplateField &r) { r.bold = r.barcodeShowText = r.sequenceExcludeFour = true; });

    // Sizes and positions.
    QTest::newRow("negative field size raised to 5 × 3")
        << QByteArray(R"({"kind":"field","field":{"widthMm":-3,"heightMm":-1}})")
        << f([](TemplateField &r) {
               r.widthMm = 5;
               r.heightMm = 3;
           });
    QTest::newRow("zero rectangle size raised to 5 × 5")
        << QByteArray(R"({"kind":"graphic","graphic":{"type":"rectangle","widthMm":0,"heightMm":0}})")
        << g([](GraphicElement &r) {
               r.type = ElementKind::Rectangle;
               r.widthMm = 5;
               r.heightMm = 5;
           });
    QTest::newRow("a line may be 1 mm high, not 0.2")
        << QByteArray(R"({"kind":"graphic","graphic":{"type":"line","widthMm":0.2,"heightMm":0.2}})")
        << g([](GraphicElement &r) {
               r.type = ElementKind::Line;
               r.widthMm = 5;
               r.heightMm = 1;
           });
    // The type decides the minimum wherever it stands in the object.
    QTest::newRow("an ellipse no lower than 5 mm")
        << QByteArray(R"({"kind":"graphic","graphic":{"heightMm":1,"type":"ellipse"}})")
        << g([](GraphicElement &r) {
               r.type = ElementKind::Ellipse;
               r.heightMm = 5;
           });
    QTest::newRow("enormous positions and sizes capped at 2000 mm")
        << QByteArray(R"({"kind":"field","field":{"xMm":1e308,"yMm":-1e308,"widthMm":1.7e308,"heightMm":5e3}})")
        << f([](TemplateField &r) {
               r.xMm = 2000;
               r.yMm = 0;
               r.widthMm = 2000;
               r.heightMm = 2000;
           });
    QTest::newRow("a 20-digit integer")
        << QByteArray(R"({"kind":"graphic","graphic":{"xMm":12345678901234567890,"rows":12345678901234567890}})")
        << g([](GraphicElement &r) {
               r.xMm = 2000;
               r.rows = 100;
           });
    QTest::newRow("negative positions to 0")
        << QByteArray(R"({"kind":"graphic","graphic":{"xMm":-0.5,"yMm":-300}})") << g([](GraphicElement &r) {
               r.xMm = 0;
               r.yMm = 0;
           });

    // The other ranges of the panels.
    QTest::newRow("font size below 4 pt") << QByteArray(R"({"kind":"field","field":{"fontSizePt":0}})")
                                          << f([](TemplateField &r) { r.fontSizePt = 4; });
    QTest::newRow("font size above 300 pt") << QByteArray(R"({"kind":"field","field":{"fontSizePt":1000}})")
                                            << f([](TemplateField &r) { r.fontSizePt = 300; });
    QTest::newRow("sequence digits and step too small")
        << QByteArray(R"({"kind":"field","field":{"sequenceDigits":0,"sequenceStep":-5}})")
        << f([](TemplateField &r) {
               r.sequenceDigits = 1;
               r.sequenceStep = 1;
           });
    QTest::newRow("sequence digits and step too large")
        << QByteArray(R"({"kind":"field","field":{"sequenceDigits":100,"sequenceStep":1e12}})")
        << f([](TemplateField &r) {
               r.sequenceDigits = 18;
               r.sequenceStep = 1000000;
           });
    QTest::newRow("whole numbers rounded") << QByteArray(R"({"kind":"field","field":{"sequenceDigits":7.6}})")
                                           << f([](TemplateField &r) { r.sequenceDigits = 8; });
    QTest::newRow("scratch total out of range")
        << QByteArray(R"({"kind":"field","field":{"scratchTotal":1e10}})")
        << f([](TemplateField &r) { r.scratchTotal = 10000000; });
    QTest::newRow("scratch total 0") << QByteArray(R"({"kind":"field","field":{"scratchTotal":0}})")
                                     << f([](TemplateField &r) { r.scratchTotal = 1; });
    QTest::newRow("table counts, stroke and spacing too small")
        << QByteArray(
               R"({"kind":"graphic","graphic":{"type":"table","rows":-2,"columns":0,"strokeWidthMm":0,"cellSpacingMm":-1}})")
        << g([](GraphicElement &r) {
               r.type = ElementKind::Table;
               r.rows = 1;
               r.columns = 1;
               r.strokeWidthMm = 0.05;
               r.cellSpacingMm = 0;
           });
    QTest::newRow("table counts, stroke and spacing too large")
        << QByteArray(
               R"({"kind":"graphic","graphic":{"type":"table","rows":1e9,"columns":2147483648,"strokeWidthMm":50,"cellSpacingMm":1e300}})")
        << g([](GraphicElement &r) {
               r.type = ElementKind::Table;
               r.rows = 100;
               r.columns = 100;
               r.strokeWidthMm = 10;
               r.cellSpacingMm = 20;
           });

    // Kind texts, alignments and colours.
    QTest::newRow("unknown kind texts keep the default")
        << QByteArray(R"({"kind":"field","field":{"type":"banana","barcodeFormat":"qr","scratchMode":"all"}})")
        << defaultField;
    QTest::newRow("kind texts are exact") << QByteArray(R"({"kind":"field","field":{"type":"Barcode"}})")
                                          << defaultField;
    QTest::newRow("known kind texts")
        << QByteArray(R"({"kind":"field","field":{"type":"scratch","barcodeFormat":"upca","scratchMode":"ratio"}})")
        << f([](TemplateField &r) {
               r.type = ElementKind::Scratch;
               r.barcodeFormat = BarcodeFormat::UpcA;
               r.scratchMode = ScratchMode::Ratio;
           });
    QTest::newRow("unknown graphic type") << QByteArray(R"({"kind":"graphic","graphic":{"type":"star"}})")
                                          << defaultGraphic;
    QTest::newRow("alignment left and top") << QByteArray(R"({"kind":"field","field":{"alignment":33}})")
                                            << f([](TemplateField &r) {
                                                   r.alignment = {HorizontalAlignment::Left, VerticalAlignment::Top};
                                               });
    // Flags within the alignment bits are read as the painter reads them.
    QTest::newRow("alignment 0: left and top") << QByteArray(R"({"kind":"field","field":{"alignment":0}})")
                                               << f([](TemplateField &r) {
                                                      r.alignment = {HorizontalAlignment::Left, VerticalAlignment::Top};
                                                  });
    QTest::newRow("alignment centre and right: centre")
        << QByteArray(R"({"kind":"field","field":{"alignment":198}})") // 0x4 | 0x2 | 0x40 | 0x80
        << f([](TemplateField &r) { r.alignment = {HorizontalAlignment::Center, VerticalAlignment::Center}; });
    QTest::newRow("alignment right, bottom") << QByteArray(R"({"kind":"field","field":{"alignment":66}})")
                                             << f([](TemplateField &r) {
                                                    r.alignment = {HorizontalAlignment::Right,
                                                                   VerticalAlignment::Bottom};
                                                });
    QTest::newRow("alignment negative") << QByteArray(R"({"kind":"field","field":{"alignment":-1}})")
                                        << defaultField;
    QTest::newRow("alignment with a text flag") << QByteArray(R"({"kind":"field","field":{"alignment":4225}})")
                                                << defaultField;
    QTest::newRow("alignment not whole") << QByteArray(R"({"kind":"field","field":{"alignment":129.5}})")
                                         << defaultField;
    QTest::newRow("colour names and bad digits keep the default")
        << QByteArray(R"({"kind":"graphic","graphic":{"strokeColor":"red","fillColor":"#ff000"}})")
        << defaultGraphic;
    QTest::newRow("a stroke cannot be transparent")
        << QByteArray(R"({"kind":"graphic","graphic":{"strokeColor":"transparent","fillColor":"#AbCdEf"}})")
        << g([](GraphicElement &r) { r.fillColor = QStringLiteral("#AbCdEf"); });
    QTest::newRow("a text colour with a bad digit") << QByteArray(R"({"kind":"field","field":{"colorHex":"#12345G"}})")
                                                    << defaultField;

    // Where the record belonged, and records missing.
    QTest::newRow("ids, project and side are not read")
        << QByteArray(R"({"kind":"field","field":{"id":7,"projectId":3,"side":"back"}})") << defaultField;
    QTest::newRow("a field without its record") << QByteArray(R"({"kind":"field"})") << defaultField;
    QTest::newRow("a graphic record that is no object") << QByteArray(R"({"kind":"graphic","graphic":[1,2]})")
                                                         << defaultGraphic;
    QTest::newRow("the record under the other kind's name")
        << QByteArray(R"({"kind":"graphic","field":{"xMm":30}})") << defaultGraphic;
    QTest::newRow("a prize list that is no JSON is kept for the prize check")
        << QByteArray(R"({"kind":"field","field":{"type":"scratch","scratchPrizesJson":"not json"}})")
        << f([](TemplateField &r) {
               r.type = ElementKind::Scratch;
               r.scratchPrizesJson = QStringLiteral("not json");
           });
}

void TestClipboardDocument::hostileRecords()
{
    QFETCH(QByteArray, item);
    QFETCH(TemplateElement, expected);
    const std::optional<CanvasClipboardItems> parsed = parseCanvasClipboard(documentOf(item));
    QVERIFY(parsed);
    QCOMPARE(parsed->refusal, QString());
    COMPARE_ITEMS(parsed->items, Items{expected});
}

// JSON cannot hold them: such members are written as null and pasted as
// their defaults, while the rest of the record and the document survive.
void TestClipboardDocument::numbersNotFiniteCopiedAsDefaults()
{
    TemplateField f;
    f.name = QStringLiteral("Broken");
    f.xMm = notANumber;
    f.widthMm = infinity;
    f.fontSizePt = -infinity;
    GraphicElement g;
    g.type = ElementKind::Table;
    g.cellSpacingMm = notANumber;
    g.yMm = 7;

    const std::optional<CanvasClipboardItems> parsed = parseCanvasClipboard(canvasClipboardDocument({f, g}));
    QVERIFY(parsed);
    const Items expected{
        field([](TemplateField &r) { r.name = QStringLiteral("Broken"); }),
        graphic([](GraphicElement &r) {
            r.type = ElementKind::Table;
            r.yMm = 7;
        }),
    };
    COMPARE_ITEMS(parsed->items, expected);
}

// Items in array order; other kinds and values that are not objects skipped;
// "version" not looked at.
void TestClipboardDocument::kindsAndOrder()
{
    const QByteArray data = R"({"version":"two","items":[{"kind":"image"},{"kind":"graphic","graphic":{"type":"ellipse"}},
        42,"field",null,[],{"kind":"field","field":{"type":"qrcode"}},{"kind":"FIELD"},{"field":{}},
        {"kind":"graphic","graphic":{"type":"table"}}]})";
    const std::optional<CanvasClipboardItems> parsed = parseCanvasClipboard(data);
    QVERIFY(parsed);
    const Items expected{
        graphic([](GraphicElement &g) { g.type = ElementKind::Ellipse; }),
        field([](TemplateField &f) { f.type = ElementKind::QrCode; }),
        graphic([](GraphicElement &g) { g.type = ElementKind::Table; }),
    };
    COMPARE_ITEMS(parsed->items, expected);
}

// Still a canvas document, so the paste key is taken, but nothing to paste.
void TestClipboardDocument::onlyUnknownKinds()
{
    const std::optional<CanvasClipboardItems> parsed =
        parseCanvasClipboard(R"({"version":1,"items":[{"kind":"image"},7]})");
    QVERIFY(parsed);
    QVERIFY(parsed->items.isEmpty());
    QCOMPARE(parsed->refusal, QString());
}

void TestClipboardDocument::itemLimit_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("1000 are pasted") << 1000 << QString();
    QTest::newRow("1001 are refused")
        << 1001 << QStringLiteral("The clipboard holds 1001 objects; at most 1000 can be pasted at once.");
    QTest::newRow("50000 are refused")
        << 50000 << QStringLiteral("The clipboard holds 50000 objects; at most 1000 can be pasted at once.");
}

void TestClipboardDocument::itemLimit()
{
    QFETCH(int, count);
    QFETCH(QString, refusal);
    const QByteArray data = documentOfCopies(R"({"kind":"graphic","graphic":{"type":"rectangle"}})", count);
    const std::optional<CanvasClipboardItems> parsed = parseCanvasClipboard(data);
    QVERIFY(parsed);
    QCOMPARE(parsed->refusal, refusal);
    QCOMPARE(parsed->items.size(), refusal.isEmpty() ? count : 0);
}

void TestClipboardDocument::byteLimit()
{
    // A valid document just over the limit: one very long name.
    const qsizetype limit = canvasclipboardlimits::maximumBytes;
    const QByteArray head = R"({"version":1,"items":[{"kind":"field","field":{"name":")";
    const QByteArray tail = R"("}}]})";
    const QByteArray atLimit = head + QByteArray(limit - head.size() - tail.size(), 'x') + tail;
    QCOMPARE(atLimit.size(), limit);

    const std::optional<CanvasClipboardItems> accepted = parseCanvasClipboard(atLimit);
    QVERIFY(accepted);
    QCOMPARE(accepted->refusal, QString());
    QCOMPARE(accepted->items.size(), 1);

    const std::optional<CanvasClipboardItems> refused = parseCanvasClipboard(atLimit + ' ');
    QVERIFY(refused);
    QCOMPARE(refused->refusal,
             QStringLiteral("The clipboard holds 32.1 MiB of canvas objects; at most 32 MiB can be pasted at once."));
    QVERIFY(refused->items.isEmpty());

    QVERIFY(!parseCanvasClipboard(QByteArray(limit, ' ')));
}

// Megabytes of text inside the limit are pasted as they are.
void TestClipboardDocument::largeTextWithinTheLimit()
{
    TemplateField f;
    f.name = QString(3'000'000, u'n');
    f.scratchPrizesJson = QString(3'000'000, u'p');
    const std::optional<CanvasClipboardItems> parsed = parseCanvasClipboard(canvasClipboardDocument({f}));
    QVERIFY(parsed);
    QCOMPARE(parsed->items.size(), 1);
    QCOMPARE(std::get<TemplateField>(parsed->items.first()), f);
}

QTEST_GUILESS_MAIN(TestClipboardDocument)
#include "tst_clipboarddocument.moc"
