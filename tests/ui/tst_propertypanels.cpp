#include "editor/editorgeometry.h"
#include "model/prizes.h"
#include "render/elementpainter.h"
#include "ui/canvas/colorbutton.h"
#include "ui/canvas/fieldpropertypanel.h"
#include "ui/canvas/graphicpropertypanel.h"
#include "ui/canvas/prizeeditor.h"
#include "ui/canvas/propertyrows.h"
#include "ui/canvas/propertyscroll.h"
#include "ui/unitspinbox.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QFontComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>

namespace {

using Rows = QList<std::pair<QString, QString>>;

TemplateField fieldOfType(const QString &type, qint64 id = 11)
{
    TemplateField field;
    field.id = id;
    field.projectId = 1;
    field.type = fieldKindFromKey(type).value(); // named as stored
    field.name = QStringLiteral("Member");
    field.xMm = 10;
    field.yMm = 8;
    if (type == QLatin1String("scratch"))
        field.name = QStringLiteral("Prize");
    return field;
}

GraphicElement graphicOfType(const QString &type, qint64 id = 21)
{
    GraphicElement graphic;
    graphic.id = id;
    graphic.projectId = 1;
    graphic.type = graphicKindFromKey(type).value(); // named as stored
    graphic.xMm = 12;
    graphic.yMm = 6;
    graphic.widthMm = 30;
    graphic.heightMm = 20;
    return graphic;
}

DataSource source(qint64 id, const QString &name)
{
    DataSource dataSource;
    dataSource.id = id;
    dataSource.projectId = 1;
    dataSource.displayName = name;
    dataSource.filePath = QStringLiteral("/data/") + name;
    return dataSource;
}

// Two sources as the window hands them over: members (id 3) and codes (id 9).
void setTwoSources(FieldPropertyPanel &panel)
{
    panel.setDataSources({source(3, "members.csv"), source(9, "codes.csv")},
                         {{3, {"City", "Name"}}, {9, {"Code"}}});
}

// Every edit a panel reports, in order.
struct FieldEdits
{
    explicit FieldEdits(FieldPropertyPanel *panel)
    {
        QObject::connect(panel, &FieldPropertyPanel::fieldEdited, panel,
                         [this](const FieldEdit &edit) { edits.append(edit); });
    }
    const FieldEdit &last() const { return edits.constLast(); }
    QList<FieldEdit> edits;
};

struct GraphicEdits
{
    explicit GraphicEdits(GraphicPropertyPanel *panel)
    {
        QObject::connect(panel, &GraphicPropertyPanel::graphicEdited, panel,
                         [this](const GraphicEdit &edit) { edits.append(edit); });
    }
    const GraphicEdit &last() const { return edits.constLast(); }
    QList<GraphicEdit> edits;
};

QStringList comboTexts(const QComboBox *combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

QFormLayout *formOf(QWidget *panel)
{
    auto *form = panel->findChild<QFormLayout *>();
    Q_ASSERT(form);
    return form;
}

// The row labels a user sees, in row order, checking that each row's widget
// is shown or hidden with its label.
QStringList visibleRows(QWidget *panel)
{
    QStringList rows;
    QFormLayout *form = formOf(panel);
    for (int row = 0; row < form->rowCount(); ++row) {
        auto *label = qobject_cast<QLabel *>(form->itemAt(row, QFormLayout::LabelRole)->widget());
        QWidget *field = form->itemAt(row, QFormLayout::FieldRole)->widget();
        if (!label || !field)
            continue;
        if (label->isVisibleTo(panel) != field->isVisibleTo(panel))
            return {QStringLiteral("row %1 shows only half").arg(label->text())};
        if (label->isVisibleTo(panel))
            rows << label->text();
    }
    return rows;
}

// The widget on the row labelled `label`.
QWidget *rowWidget(QWidget *panel, const QString &label)
{
    QFormLayout *form = formOf(panel);
    for (int row = 0; row < form->rowCount(); ++row) {
        auto *labelWidget = qobject_cast<QLabel *>(form->itemAt(row, QFormLayout::LabelRole)->widget());
        if (labelWidget && labelWidget->text() == label)
            return form->itemAt(row, QFormLayout::FieldRole)->widget();
    }
    return nullptr;
}

// What an assistive tool reads for a widget.
QString accessibleName(QWidget *widget)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    return iface ? iface->text(QAccessible::Name) : QString();
}

// Every control a user can tab to; the editors inside spin and combo boxes
// are reached through their box.
QList<QWidget *> reachableControls(QWidget *root)
{
    QList<QWidget *> controls;
    for (QWidget *widget : root->findChildren<QWidget *>()) {
        // A combo's popup list is a window of its own, reached through the combo.
        if (!(widget->focusPolicy() & Qt::TabFocus) || widget->window() != root->window())
            continue;
        QWidget *parent = widget->parentWidget();
        if (qobject_cast<QAbstractSpinBox *>(parent) || qobject_cast<QComboBox *>(parent))
            continue;
        controls << widget;
    }
    return controls;
}

// Replaces the prize table's rows through the editor's own buttons and cells.
void setPrizeRows(PrizeEditor *editor, const Rows &rows)
{
    QTableWidget *table = editor->table();
    while (table->rowCount() < rows.size())
        editor->addButton()->click();
    table->setCurrentCell(-1, -1);
    while (table->rowCount() > rows.size())
        editor->removeButton()->click();
    for (int row = 0; row < rows.size(); ++row) {
        table->item(row, 0)->setText(rows[row].first);
        table->item(row, 1)->setText(rows[row].second);
    }
}

Rows tableRows(const PrizeEditor *editor)
{
    Rows rows;
    const QTableWidget *table = editor->table();
    for (int row = 0; row < table->rowCount(); ++row)
        rows.append({table->item(row, 0)->text(), table->item(row, 1)->text()});
    return rows;
}

void enterText(QLineEdit *edit, const QString &text)
{
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

void enterNumber(QAbstractSpinBox *box, const QString &text)
{
    box->selectAll();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Return);
}

} // namespace

class TestPropertyPanels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void fillingEmitsNothing_data();
    void fillingEmitsNothing();
    void fieldTitleAndRows_data();
    void fieldTitleAndRows();
    void fieldRowRanges_data();
    void fieldRowRanges();
    void comboValues_data();
    void comboValues();
    void emptyNameBecomesDefault_data();
    void emptyNameBecomesDefault();
    void fieldMinimumSizes_data();
    void fieldMinimumSizes();
    void typedEntryIsReportedWhenFinished();
    void fittedSizes_data();
    void fittedSizes();
    void previewRefreshFlag_data();
    void previewRefreshFlag();
    void storedValuesWithoutItemAreKept();
    void editBeforeIsTheRecordLastShown();

    void bindingShown_data();
    void bindingShown();
    void unavailableBindingKeptUntilAnotherColumn();
    void dataSourceSwitchRefillsColumns();
    void newSourcesKeepTheBinding();

    void prizeTableFill_data();
    void prizeTableFill();
    void prizeSummary_data();
    void prizeSummary();
    void prizeRowsAddAndRemove();
    void prizeEditReportsScratchSettings();
    void pushingTheSavedFieldBackDuringAnEdit();

    void graphicTitleAndTableControls_data();
    void graphicTitleAndTableControls();
    void rowsFollowTheKindTable_data();
    void rowsFollowTheKindTable();
    void graphicMinimumSizes_data();
    void graphicMinimumSizes();
    void graphicRowRanges();
    void typedPlaceStaysOnTheCard_data();
    void typedPlaceStaysOnTheCard();
    void colourButtons();
    void deleteAndSplitButtons();
    void objectNamesAndTexts();
    void accessibleNames();
};

void TestPropertyPanels::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestPropertyPanels::fillingEmitsNothing_data()
{
    QTest::addColumn<QString>("type");
    for (const char *type : {"text", "sequence", "barcode", "qrcode", "scratch"})
        QTest::newRow(type) << QString::fromLatin1(type);
}

void TestPropertyPanels::fillingEmitsNothing()
{
    QFETCH(QString, type);

    FieldPropertyPanel panel;
    QSignalSpy edited(&panel, &FieldPropertyPanel::fieldEdited);
    QSignalSpy deleted(&panel, &FieldPropertyPanel::deleteRequested);

    // Values that differ from every widget's initial one, so each widget changes.
    TemplateField field = fieldOfType(type);
    field.dataColumn = QStringLiteral("source:9:Code");
    field.widthMm = 33;
    field.heightMm = 12;
    field.barcodeFormat = BarcodeFormat::Ean8;
    field.barcodeShowText = true;
    field.sequencePrefix = QStringLiteral("T-");
    field.sequenceDigits = 4;
    field.sequenceStep = 5;
    field.sequenceExcludeFour = true;
    field.scratchMode = ScratchMode::Ratio;
    field.scratchTotal = 200;
    field.scratchPrizesJson = QStringLiteral(R"([{"name":"A","value":50},{"name":"B","value":50}])");
    field.fontFamily = QFontDatabase::families().value(1, QStringLiteral("Serif"));
    field.fontSizePt = 20;
    field.bold = true;
    field.alignment = TextAlignment{HorizontalAlignment::Right, VerticalAlignment::Center};
    field.colorHex = QStringLiteral("#336699");

    setTwoSources(panel);
    panel.setCardContext(QSizeF(85, 55), CardTable::fromObjects({QJsonObject{{"source:9:Code", "X1"}}}));
    panel.showField(field);
    panel.showField(fieldOfType(type, 12));
    panel.showField(field);
    setTwoSources(panel);
    panel.clearField();
    panel.showField(field);
    QCOMPARE(edited.count(), 0);
    QCOMPARE(deleted.count(), 0);
    QCOMPARE(panel.nameEdit()->text(), field.name);
    QCOMPARE(panel.sequenceDigitsBox()->value(), 4);

    GraphicPropertyPanel graphicPanel;
    QSignalSpy graphicEdited(&graphicPanel, &GraphicPropertyPanel::graphicEdited);
    QSignalSpy split(&graphicPanel, &GraphicPropertyPanel::splitTableRequested);
    for (const char *graphicType : {"table", "line", "ellipse", "rectangle"}) {
        GraphicElement graphic = graphicOfType(QString::fromLatin1(graphicType));
        graphic.rows = 5;
        graphic.columns = 7;
        graphic.strokeWidthMm = 1.25;
        graphic.cellSpacingMm = 2;
        graphic.strokeColor = QStringLiteral("#aa0000");
        graphicPanel.showGraphic(graphic);
        QCOMPARE(graphicPanel.columnsBox()->value(), 7);
    }
    graphicPanel.clearGraphic();
    QCOMPARE(graphicEdited.count(), 0);
    QCOMPARE(split.count(), 0);
}

void TestPropertyPanels::fieldTitleAndRows_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("rows");

    const QStringList textRows{"Font", "Font Size", "Font Weight", "Alignment", "Color"};
    QTest::newRow("nothing selected") << "text" << false << "Field Properties"
                                      << QStringList{"Field Name", "X Position", "Y Position"};
    QTest::newRow("text") << "text" << true << "Field Properties"
                          << QStringList{"Field Name", "Data Source", "Select Field", "X Position", "Y Position"}
                                 + textRows;
    QTest::newRow("barcode") << "barcode" << true << "Barcode Properties"
                             << QStringList{"Field Name", "Data Source", "Select Field", "X Position",
                                            "Y Position", "Width", "Height", "BarcodeType", "Show Text"};
    QTest::newRow("qrcode") << "qrcode" << true << "QR Code Properties"
                            << QStringList{"Field Name", "Data Source", "Select Field", "X Position",
                                           "Y Position", "Width", "Height"};
    QTest::newRow("sequence") << "sequence" << true << "Sequence Properties"
                              << QStringList{"Field Name", "X Position", "Y Position", "Sequence Prefix",
                                             "Sequence Digits", "Sequence Step", "Exclude 4"}
                                     + textRows;
    QTest::newRow("scratch") << "scratch" << true << "Scratch Card Properties"
                             << QStringList{"Field Name", "X Position", "Y Position", "Prize Settings"} + textRows;
}

void TestPropertyPanels::fieldTitleAndRows()
{
    QFETCH(QString, type);
    QFETCH(bool, selected);
    QFETCH(QString, title);
    QFETCH(QStringList, rows);

    FieldPropertyPanel panel;
    // Show another kind first, so rows must also be hidden again.
    for (const QString &previous : {QStringLiteral("barcode"), QStringLiteral("scratch")}) {
        panel.showField(fieldOfType(previous));
        panel.showField(fieldOfType(type, selected ? 11 : 0));
        QCOMPARE(panel.titleLabel()->text(), title);
        QCOMPARE(visibleRows(&panel), rows);
    }
}

void TestPropertyPanels::fieldRowRanges_data()
{
    QTest::addColumn<QString>("row");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("step");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("initial");
    QTest::addColumn<QString>("suffix");

    for (const char *row : {"X Position", "Y Position", "Width", "Height"})
        QTest::newRow(row) << row << 0.0 << 2000.0 << 0.1 << 2 << -1.0 << "";
    QTest::newRow("Sequence Digits") << "Sequence Digits" << 1.0 << 18.0 << 1.0 << 0 << 6.0 << "";
    QTest::newRow("Sequence Step") << "Sequence Step" << 1.0 << 1000000.0 << 1.0 << 0 << 1.0 << "";
    QTest::newRow("Font Size") << "Font Size" << 4.0 << 300.0 << 1.0 << 0 << 12.0 << " pt";
    // A line edit: its longest text.
    QTest::newRow("Sequence Prefix") << "Sequence Prefix" << 0.0 << 100.0 << 0.0 << 0 << 0.0 << "";
}

void TestPropertyPanels::fieldRowRanges()
{
    QFETCH(QString, row);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(double, step);
    QFETCH(int, decimals);
    QFETCH(double, initial);
    QFETCH(QString, suffix);

    FieldPropertyPanel panel;
    QWidget *widget = rowWidget(&panel, row);
    QVERIFY(widget);
    if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
        QCOMPARE(edit->maxLength(), int(maximum));
    } else if (auto *lengthBox = qobject_cast<QDoubleSpinBox *>(widget)) {
        QVERIFY(qobject_cast<UnitSpinBox *>(lengthBox));
        QCOMPARE(lengthBox->minimum(), minimum);
        QCOMPARE(lengthBox->maximum(), maximum);
        QCOMPARE(lengthBox->singleStep(), step);
        QCOMPARE(lengthBox->decimals(), decimals);
    } else {
        auto *box = qobject_cast<QSpinBox *>(widget);
        QVERIFY(box);
        QCOMPARE(box->minimum(), int(minimum));
        QCOMPARE(box->maximum(), int(maximum));
        QCOMPARE(box->singleStep(), int(step));
        QCOMPARE(box->value(), int(initial));
        QCOMPARE(box->suffix(), suffix);
    }
}

void TestPropertyPanels::comboValues_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("row");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QVariantList>("values");

    QTest::newRow("BarcodeType") << "barcode" << "BarcodeType"
                                 << QStringList{"Code 128 (General)", "Code 39", "EAN-13", "EAN-8", "UPC-A"}
                                 << QVariantList{"code128", "code39", "ean13", "ean8", "upca"};
    QTest::newRow("Alignment") << "text" << "Alignment" << QStringList{"Align Left", "Center", "Align Right"}
                               << QVariantList{129, 132, 130};
}

void TestPropertyPanels::comboValues()
{
    QFETCH(QString, type);
    QFETCH(QString, row);
    QFETCH(QStringList, texts);
    QFETCH(QVariantList, values);

    FieldPropertyPanel panel;
    auto *combo = qobject_cast<QComboBox *>(rowWidget(&panel, row));
    QVERIFY(combo);
    QCOMPARE(comboTexts(combo), texts);

    TemplateField field = fieldOfType(type);
    FieldEdits edits(&panel);
    for (int i = 0; i < texts.size(); ++i) {
        // Start from another item, so that choosing item i is a change.
        const int other = (i + 1) % texts.size();
        // The values are what the store holds.
        if (row == QLatin1String("BarcodeType"))
            field.barcodeFormat = barcodeFormatFromKey(values[other].toString()).value();
        else
            field.alignment = alignmentFromFlags(values[other].toInt());
        panel.showField(field);
        QCOMPARE(combo->currentIndex(), other);

        combo->setCurrentIndex(i);
        QCOMPARE(edits.edits.size(), i + 1);
        const TemplateField &after = edits.last().after;
        if (row == QLatin1String("BarcodeType"))
            QCOMPARE(barcodeFormatKey(after.barcodeFormat), values[i].toString());
        else
            QCOMPARE(alignmentFlags(after.alignment), values[i].toInt());
    }
}

void TestPropertyPanels::emptyNameBecomesDefault_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");

    QTest::newRow("text, cleared") << "text" << "" << "Variable Field";
    QTest::newRow("text, blanks") << "text" << "   " << "Variable Field";
    QTest::newRow("barcode, cleared") << "barcode" << "" << "Variable Field";
    QTest::newRow("sequence, cleared") << "sequence" << "" << "Variable Field";
    QTest::newRow("scratch, cleared") << "scratch" << "" << "Scratch Card Prize";
    QTest::newRow("scratch, blanks") << "scratch" << " \t" << "Scratch Card Prize";
    QTest::newRow("text, trimmed") << "text" << "  Town  " << "Town";
}

void TestPropertyPanels::emptyNameBecomesDefault()
{
    QFETCH(QString, type);
    QFETCH(QString, typed);
    QFETCH(QString, stored);

    FieldPropertyPanel panel;
    panel.showField(fieldOfType(type));
    FieldEdits edits(&panel);
    enterText(panel.nameEdit(), typed);
    QCOMPARE(edits.edits.size(), 1);
    QCOMPARE(edits.last().after.name, stored);
    QCOMPARE(edits.last().before.name, fieldOfType(type).name);
    QCOMPARE(edits.last().kind, FieldEdit::Kind::Properties);
    // The box shows what was stored.
    QCOMPARE(panel.nameEdit()->text(), stored);
}

void TestPropertyPanels::fieldMinimumSizes_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("width");
    QTest::addColumn<double>("entered");
    QTest::addColumn<double>("stored");

    QTest::newRow("barcode width 2") << "barcode" << true << 2.0 << 5.0;
    QTest::newRow("barcode width 4.99") << "barcode" << true << 4.99 << 5.0;
    QTest::newRow("barcode width 5.01") << "barcode" << true << 5.01 << 5.01;
    QTest::newRow("barcode height 1") << "barcode" << false << 1.0 << 3.0;
    QTest::newRow("barcode height 0") << "barcode" << false << 0.0 << 3.0;
    QTest::newRow("barcode height 7.5") << "barcode" << false << 7.5 << 7.5;
    QTest::newRow("qrcode width 3") << "qrcode" << true << 3.0 << 5.0;
    QTest::newRow("qrcode height 2.99") << "qrcode" << false << 2.99 << 3.0;
}

void TestPropertyPanels::fieldMinimumSizes()
{
    QFETCH(QString, type);
    QFETCH(bool, width);
    QFETCH(double, entered);
    QFETCH(double, stored);

    FieldPropertyPanel panel;
    TemplateField field = fieldOfType(type);
    field.widthMm = 20;
    field.heightMm = 10;
    panel.showField(field);
    FieldEdits edits(&panel);
    UnitSpinBox *box = width ? panel.widthBox() : panel.heightBox();
    box->setValue(entered);

    QCOMPARE(edits.edits.size(), 1);
    const TemplateField &after = edits.last().after;
    QCOMPARE(width ? after.widthMm : after.heightMm, stored);
    QCOMPARE(width ? after.heightMm : after.widthMm, width ? 10.0 : 20.0);
    QCOMPARE(box->value(), stored);
}

void TestPropertyPanels::typedEntryIsReportedWhenFinished()
{
    FieldPropertyPanel panel;
    TemplateField field = fieldOfType("barcode");
    field.widthMm = 20;
    panel.showField(field);
    FieldEdits edits(&panel);

    // Typing "12" passes through "1", which must not be raised to 5 mm.
    panel.widthBox()->selectAll();
    QTest::keyClicks(panel.widthBox(), "12");
    QCOMPARE(edits.edits.size(), 0);
    QTest::keyClick(panel.widthBox(), Qt::Key_Return);
    QCOMPARE(edits.edits.size(), 1);
    QCOMPARE(edits.last().after.widthMm, 12.0);

    enterNumber(panel.heightBox(), "2");
    QCOMPARE(edits.edits.size(), 2);
    QCOMPARE(edits.last().after.heightMm, fieldMinimumHeightMm);
}

void TestPropertyPanels::fittedSizes_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<double>("xMm");

    QTest::newRow("text") << "text" << 12.0;
    QTest::newRow("text near the right edge") << "text" << 80.0;
    QTest::newRow("sequence") << "sequence" << 12.0;
    QTest::newRow("scratch") << "scratch" << 12.0;
}

void TestPropertyPanels::fittedSizes()
{
    QFETCH(QString, type);
    QFETCH(double, xMm);

    const QSizeF card(90, 54);
    const CardTable records = CardTable::fromObjects({QJsonObject{{"source:3:Name", "A much longer member name than usual"}},
                                                      QJsonObject{{"source:3:Name", "Al"}}});
    FieldPropertyPanel panel;
    setTwoSources(panel);
    panel.setCardContext(card, records);
    TemplateField field = fieldOfType(type);
    if (type == QLatin1String("text"))
        field.dataColumn = QStringLiteral("source:3:Name");
    field.widthMm = 40;
    field.heightMm = 10;
    field.fontSizePt = 10;
    panel.showField(field);
    FieldEdits edits(&panel);

    panel.xBox()->setValue(xMm);
    QCOMPARE(edits.edits.size(), 1);
    TemplateField after = edits.last().after;
    QCOMPARE(after.xMm, xMm);
    const QSizeF expected = fittedFieldSize(after, card.width(), card.height(), records);
    QCOMPARE(QSizeF(after.widthMm, after.heightMm), expected);
    // Never wider than the room right of the field (nor narrower than 5 mm).
    QVERIFY(after.widthMm <= std::max(card.width() - xMm, 5.0));

    // A larger font needs a larger box.
    panel.fontSizeBox()->setValue(24);
    QCOMPARE(edits.edits.size(), 2);
    const TemplateField larger = edits.last().after;
    QVERIFY2(larger.heightMm > after.heightMm, qPrintable(QString::number(larger.heightMm)));
    QCOMPARE(QSizeF(larger.widthMm, larger.heightMm),
             fittedFieldSize(larger, card.width(), card.height(), records));
}

void TestPropertyPanels::previewRefreshFlag_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("refreshes");

    QTest::newRow("text") << "text" << false;
    QTest::newRow("barcode") << "barcode" << false;
    QTest::newRow("qrcode") << "qrcode" << false;
    QTest::newRow("sequence") << "sequence" << true;
    QTest::newRow("scratch") << "scratch" << true;
}

void TestPropertyPanels::previewRefreshFlag()
{
    QFETCH(QString, type);
    QFETCH(bool, refreshes);

    FieldPropertyPanel panel;
    panel.showField(fieldOfType(type));
    FieldEdits edits(&panel);
    panel.yBox()->setValue(20);
    panel.boldCheck()->setChecked(true);
    panel.sequenceDigitsBox()->setValue(9);
    QCOMPARE(edits.edits.size(), 3);
    for (const FieldEdit &edit : edits.edits)
        QCOMPARE(edit.refreshesPreview, refreshes);
    QCOMPARE(edits.last().after.sequenceDigits, 9);
    QCOMPARE(edits.last().after.bold, true);
    QCOMPARE(edits.last().saveFailureMessage("disk full"), QStringLiteral("Could not save the field: disk full"));
}

void TestPropertyPanels::storedValuesWithoutItemAreKept()
{
    // A font the machine lacks, a fractional size and an alignment without an
    // item of its own survive an edit of something else. (An unknown barcode
    // format is Code 128 from the moment it is loaded.)
    FieldPropertyPanel panel;
    TemplateField field = fieldOfType("text");
    field.fontFamily = QStringLiteral("No Such Font Family Vellumor");
    field.fontSizePt = 10.5;
    field.alignment = {HorizontalAlignment::Center, VerticalAlignment::Top};
    field.barcodeFormat = barcodeFormatFromKey(u"itf14").value_or(BarcodeFormat::Code128); // as loaded
    panel.showField(field);
    QCOMPARE(panel.alignmentCombo()->currentText(), QStringLiteral("Center"));
    QCOMPARE(panel.barcodeTypeCombo()->currentText(), QStringLiteral("Code 128 (General)"));

    FieldEdits edits(&panel);
    panel.boldCheck()->setChecked(true);
    QCOMPARE(edits.edits.size(), 1);
    QCOMPARE(edits.last().after.fontFamily, field.fontFamily);
    QCOMPARE(edits.last().after.fontSizePt, 10.5);
    QCOMPARE(alignmentFlags(edits.last().after.alignment), 0x20 | 0x4);
    QCOMPARE(edits.last().after.barcodeFormat, BarcodeFormat::Code128);

    panel.alignmentCombo()->setCurrentIndex(2);
    QCOMPARE(alignmentFlags(edits.last().after.alignment), 130);
    panel.fontSizeBox()->setValue(14);
    QCOMPARE(edits.last().after.fontSizePt, 14.0);
    const QString family = QFontDatabase::families().value(0);
    if (!family.isEmpty()) {
        panel.fontCombo()->setCurrentFont(QFont(family));
        QCOMPARE(edits.last().after.fontFamily, panel.fontCombo()->currentFont().family());
    }
}

void TestPropertyPanels::editBeforeIsTheRecordLastShown()
{
    FieldPropertyPanel panel;
    TemplateField field = fieldOfType("barcode");
    panel.showField(field);
    FieldEdits edits(&panel);

    // The window did not push a saved record back (its save failed): the next
    // edit still starts from what the store holds, and carries both changes.
    panel.xBox()->setValue(30);
    panel.yBox()->setValue(25);
    QCOMPARE(edits.edits.size(), 2);
    QCOMPARE(edits.last().before, field);
    QCOMPARE(edits.last().after.xMm, 30.0);
    QCOMPARE(edits.last().after.yMm, 25.0);

    // Going back to the stored value is an edit too: the canvas shows 30.
    panel.xBox()->setValue(10);
    QCOMPARE(edits.edits.size(), 3);
    QCOMPARE(edits.last().after.xMm, 10.0);

    // Once the saved record is shown, it is the next edit's start.
    const TemplateField saved = edits.last().after;
    panel.showField(saved);
    panel.yBox()->setValue(26);
    QCOMPARE(edits.last().before, saved);

    // A box stepped back to what is already on the canvas reports nothing.
    const int count = edits.edits.size();
    panel.nameEdit()->setFocus();
    emit panel.nameEdit()->editingFinished();
    QCOMPARE(edits.edits.size(), count);
}

void TestPropertyPanels::bindingShown_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("columns");
    QTest::addColumn<QString>("current");

    QTest::newRow("column of the first source")
        << "source:3:Name" << "members.csv" << QStringList{"Not bound", "City", "Name"} << "Name";
    QTest::newRow("column of the second source")
        << "source:9:Code" << "codes.csv" << QStringList{"Not bound", "Code"} << "Code";
    QTest::newRow("not bound") << "" << "Select a data table" << QStringList{"Not bound"} << "Not bound";
    QTest::newRow("column gone from its source")
        << "source:3:Email" << "members.csv"
        << QStringList{"Not bound", "City", "Name", "source:3:Email (unavailable in this project)"}
        << "source:3:Email (unavailable in this project)";
    QTest::newRow("case differs")
        << "source:3:name" << "members.csv"
        << QStringList{"Not bound", "City", "Name", "source:3:name (unavailable in this project)"}
        << "source:3:name (unavailable in this project)";
    QTest::newRow("removed source")
        << "source:5:Name" << "Select a data table"
        << QStringList{"Not bound", "source:5:Name (unavailable in this project)"}
        << "source:5:Name (unavailable in this project)";
    QTest::newRow("bare name: the first source")
        << "Name" << "members.csv"
        << QStringList{"Not bound", "City", "Name", "Name (unavailable in this project)"}
        << "Name (unavailable in this project)";
}

void TestPropertyPanels::bindingShown()
{
    QFETCH(QString, key);
    QFETCH(QString, source);
    QFETCH(QStringList, columns);
    QFETCH(QString, current);

    FieldPropertyPanel panel;
    setTwoSources(panel);
    QCOMPARE(comboTexts(panel.dataSourceCombo()),
             (QStringList{"Select a data table", "members.csv", "codes.csv"}));
    QCOMPARE(panel.dataSourceCombo()->itemData(2, Qt::ToolTipRole).toString(), QStringLiteral("/data/codes.csv"));

    TemplateField field = fieldOfType("text");
    field.dataColumn = key;
    panel.showField(field);
    QCOMPARE(panel.dataSourceCombo()->currentText(), source);
    QCOMPARE(comboTexts(panel.columnCombo()), columns);
    QCOMPARE(panel.columnCombo()->currentText(), current);
    QCOMPARE(panel.columnCombo()->currentData().toString(), key);
}

void TestPropertyPanels::unavailableBindingKeptUntilAnotherColumn()
{
    FieldPropertyPanel panel;
    setTwoSources(panel);
    TemplateField field = fieldOfType("barcode");
    field.dataColumn = QStringLiteral("source:3:Email");
    panel.showField(field);
    FieldEdits edits(&panel);

    panel.xBox()->setValue(15);
    panel.showTextCheck()->setChecked(true);
    QCOMPARE(edits.edits.size(), 2);
    QCOMPARE(edits.last().after.dataColumn, QStringLiteral("source:3:Email"));
    panel.showField(edits.last().after);
    QCOMPARE(panel.columnCombo()->currentText(), QStringLiteral("source:3:Email (unavailable in this project)"));

    panel.columnCombo()->setCurrentIndex(panel.columnCombo()->findText("City"));
    QCOMPARE(edits.edits.size(), 3);
    QCOMPARE(edits.last().after.dataColumn, QStringLiteral("source:3:City"));
    panel.showField(edits.last().after);
    QCOMPARE(comboTexts(panel.columnCombo()), (QStringList{"Not bound", "City", "Name"}));

    panel.columnCombo()->setCurrentIndex(0);
    QCOMPARE(edits.last().after.dataColumn, QString());
}

void TestPropertyPanels::dataSourceSwitchRefillsColumns()
{
    FieldPropertyPanel panel;
    setTwoSources(panel);
    TemplateField field = fieldOfType("qrcode");
    field.dataColumn = QStringLiteral("source:3:Name");
    panel.showField(field);
    FieldEdits edits(&panel);

    panel.dataSourceCombo()->setCurrentIndex(2);
    QCOMPARE(comboTexts(panel.columnCombo()), (QStringList{"Not bound", "Code"}));
    QCOMPARE(panel.columnCombo()->currentIndex(), 0);
    // Unbound until a column of the new source is chosen.
    QCOMPARE(edits.edits.size(), 1);
    QCOMPARE(edits.last().after.dataColumn, QString());

    panel.columnCombo()->setCurrentIndex(1);
    QCOMPARE(edits.last().after.dataColumn, QStringLiteral("source:9:Code"));

    panel.dataSourceCombo()->setCurrentIndex(0);
    QCOMPARE(comboTexts(panel.columnCombo()), QStringList{"Not bound"});
    QCOMPARE(edits.last().after.dataColumn, QString());

    // With nothing selected, choosing a source only refills the columns.
    panel.clearField();
    const int count = edits.edits.size();
    panel.dataSourceCombo()->setCurrentIndex(1);
    QCOMPARE(comboTexts(panel.columnCombo()), (QStringList{"Not bound", "City", "Name"}));
    QCOMPARE(edits.edits.size(), count);
}

void TestPropertyPanels::newSourcesKeepTheBinding()
{
    FieldPropertyPanel panel;
    setTwoSources(panel);
    TemplateField field = fieldOfType("text");
    field.dataColumn = QStringLiteral("source:9:Code");
    panel.showField(field);
    QSignalSpy edited(&panel, &FieldPropertyPanel::fieldEdited);

    // The file was re-read without its Code column, and another came first.
    panel.setDataSources({source(4, "new.csv"), source(9, "codes.csv")}, {{4, {"Other"}}, {9, {"Serial"}}});
    QCOMPARE(panel.dataSourceCombo()->currentText(), QStringLiteral("codes.csv"));
    QCOMPARE(comboTexts(panel.columnCombo()),
             (QStringList{"Not bound", "Serial", "source:9:Code (unavailable in this project)"}));
    QCOMPARE(panel.columnCombo()->currentData().toString(), QStringLiteral("source:9:Code"));

    // The source was removed from the project.
    panel.setDataSources({source(4, "new.csv")}, {{4, {"Other"}}});
    QCOMPARE(panel.dataSourceCombo()->currentText(), QStringLiteral("Select a data table"));
    QCOMPARE(panel.columnCombo()->currentData().toString(), QStringLiteral("source:9:Code"));
    QCOMPARE(edited.count(), 0);

    // An unbound field keeps the source chosen before.
    panel.showField(fieldOfType("text"));
    panel.dataSourceCombo()->setCurrentIndex(1);
    panel.setDataSources({source(2, "first.csv"), source(4, "new.csv")}, {{2, {"A"}}, {4, {"Other"}}});
    QCOMPARE(panel.dataSourceCombo()->currentText(), QStringLiteral("new.csv"));
    QCOMPARE(comboTexts(panel.columnCombo()), (QStringList{"Not bound", "Other"}));
}

void TestPropertyPanels::prizeTableFill_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("total");
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("modeText");
    QTest::addColumn<int>("totalShown");
    QTest::addColumn<QString>("valueHeader");
    QTest::addColumn<Rows>("rows");

    QTest::newRow("counts") << "count" << 10000 << R"([{"name":"Car","value":1},{"name":"Pen","value":49}])"
                            << "By Card Count" << 10000 << "Card Count" << Rows{{"Car", "1"}, {"Pen", "49"}};
    QTest::newRow("counts rounded half away from zero")
        << "count" << 10 << R"([{"name":"A","value":2.5},{"name":"B","value":3.49}])" << "By Card Count" << 10
        << "Card Count" << Rows{{"A", "3"}, {"B", "3"}};
    QTest::newRow("percentages stripped")
        << "ratio" << 400
        << R"([{"name":"A","value":12.5},{"name":"B","value":50},)"
           R"({"name":"C","value":37.45678},{"name":"D","value":0.00001}])"
        << "By Percentage" << 400 << "Percentage %"
        << Rows{{"A", "12.5"}, {"B", "50"}, {"C", "37.4568"}, {"D", "0"}};
    QTest::newRow("empty list, count starters")
        << "count" << 10000 << "[]" << "By Card Count" << 10000 << "Card Count"
        << Rows{{"First Prize", "2"}, {"Thanks for Playing", "500"}};
    QTest::newRow("not JSON, ratio starters")
        << "ratio" << 0 << "oops" << "By Percentage" << 1 << "Percentage %"
        << Rows{{"First Prize", "1"}, {"Thanks for Playing", "99"}};
    QTest::newRow("unknown mode is the first choice")
        << "lottery" << 5 << R"([{"name":"A","value":4}])" << "By Card Count" << 5 << "Card Count"
        << Rows{{"A", "4"}};
}

void TestPropertyPanels::prizeTableFill()
{
    QFETCH(QString, mode);
    QFETCH(int, total);
    QFETCH(QString, json);
    QFETCH(QString, modeText);
    QFETCH(int, totalShown);
    QFETCH(QString, valueHeader);
    QFETCH(Rows, rows);

    FieldPropertyPanel panel;
    TemplateField field = fieldOfType("scratch");
    field.scratchMode = scratchModeFromKey(mode).value_or(ScratchMode::Count); // as the store loads it
    field.scratchTotal = total;
    field.scratchPrizesJson = json;
    panel.showField(field);

    PrizeEditor *editor = panel.prizeEditor();
    QCOMPARE(editor->modeCombo()->currentText(), modeText);
    QCOMPARE(editor->totalBox()->value(), totalShown);
    const bool ratio = modeText == QLatin1String("By Percentage");
    QCOMPARE(editor->totalBox()->isVisibleTo(editor), ratio);
    QCOMPARE(editor->totalLabel()->isVisibleTo(editor), ratio);
    QCOMPARE(editor->totalLabel()->text(), QStringLiteral("Total Card Count"));
    QCOMPARE(editor->table()->horizontalHeaderItem(0)->text(), QStringLiteral("Prize"));
    QCOMPARE(editor->table()->horizontalHeaderItem(1)->text(), valueHeader);
    QCOMPARE(tableRows(editor), rows);
    QCOMPARE(editor->removeButton()->isEnabled(), rows.size() > 1);
}

void TestPropertyPanels::prizeSummary_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("total");
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<bool>("error");

    const QString generated = QStringLiteral("Generated %1 cards. Prize order is randomized.");
    QTest::newRow("counts 2 and 500, total ignored")
        << "By Card Count" << 7 << Rows{{"First Prize", "2"}, {"Thanks", "500"}} << generated.arg(502) << false;
    QTest::newRow("count 2.5") << "By Card Count" << 10 << Rows{{"A", "2.5"}, {"B", "1"}}
                               << "At least one prize must have a positive card count." << true;
    QTest::newRow("all counts 0") << "By Card Count" << 10 << Rows{{"A", "0"}, {"B", " 0 "}}
                                  << "Total prize count must be greater than 0" << true;
    QTest::newRow("empty name") << "By Card Count" << 10 << Rows{{"A", "1"}, {"  ", "1"}}
                                << "Prize names cannot be empty, and values cannot be negative." << true;
    QTest::newRow("unreadable value") << "By Card Count" << 10 << Rows{{"A", "1"}, {"B", "many"}}
                                      << "Prize names cannot be empty, and values cannot be negative." << true;
    QTest::newRow("missing value") << "By Card Count" << 10 << Rows{{"A", "1"}, {"B", ""}}
                                   << "Prize names cannot be empty, and values cannot be negative." << true;
    QTest::newRow("percentages of 10") << "By Percentage" << 10 << Rows{{"A", "25"}, {"B", "25"}, {"C", "50"}}
                                       << generated.arg(10) << false;
    QTest::newRow("percentages to 99.9995") << "By Percentage" << 1000
                                            << Rows{{"A", "49.9995"}, {"B", "50"}} << generated.arg(1000) << false;
    QTest::newRow("percentages to 99.99") << "By Percentage" << 1000 << Rows{{"A", "49.99"}, {"B", "50"}}
                                          << "Prize percentages must add up to 100%" << true;
}

void TestPropertyPanels::prizeSummary()
{
    QFETCH(QString, mode);
    QFETCH(int, total);
    QFETCH(Rows, rows);
    QFETCH(QString, summary);
    QFETCH(bool, error);

    FieldPropertyPanel panel;
    panel.showField(fieldOfType("scratch"));
    PrizeEditor *editor = panel.prizeEditor();
    QCOMPARE(editor->summaryLabel()->text(), QStringLiteral("Generated 502 cards. Prize order is randomized."));

    FieldEdits edits(&panel);
    editor->modeCombo()->setCurrentText(mode);
    editor->totalBox()->setValue(total);
    setPrizeRows(editor, rows);

    QCOMPARE(editor->summaryLabel()->text(), summary);
    QCOMPARE(editor->summaryLabel()->styleSheet(), error ? QStringLiteral("color: #b91c1c;") : QString());
    // Saved either way, as typed.
    QVERIFY(!edits.edits.isEmpty());
    const TemplateField after = edits.last().after;
    QCOMPARE(after.scratchMode, mode == QLatin1String("By Percentage") ? ScratchMode::Ratio : ScratchMode::Count);
    QCOMPARE(after.scratchTotal, total);
    QCOMPARE(after.scratchPrizesJson, serializePrizes(editor->prizes()));
    QCOMPARE(editor->prizes().size(), rows.size());

    // A valid list shown again gives the same summary. (An invalid one need
    // not: names left empty are dropped and counts rounded when shown.)
    if (!error) {
        FieldPropertyPanel other;
        other.showField(after);
        QCOMPARE(other.prizeEditor()->summaryLabel()->text(), summary);
    }
}

void TestPropertyPanels::prizeRowsAddAndRemove()
{
    FieldPropertyPanel panel;
    panel.showField(fieldOfType("scratch"));
    PrizeEditor *editor = panel.prizeEditor();
    QTableWidget *table = editor->table();
    FieldEdits edits(&panel);

    editor->addButton()->click();
    QCOMPARE(tableRows(editor), (Rows{{"First Prize", "2"}, {"Thanks for Playing", "500"}, {"New Prize", "0"}}));
    QCOMPARE(table->currentRow(), 2);
    QCOMPARE(table->currentColumn(), 0);
    QCOMPARE(edits.edits.size(), 1);
    QCOMPARE(edits.last().kind, FieldEdit::Kind::ScratchSettings);
    QCOMPARE(parsePrizes(edits.last().after.scratchPrizesJson).prizes,
             (QList<Prize>{{"First Prize", 2}, {"Thanks for Playing", 500}, {"New Prize", 0}}));

    // The current row goes.
    table->setCurrentCell(0, 1);
    editor->removeButton()->click();
    QCOMPARE(tableRows(editor), (Rows{{"Thanks for Playing", "500"}, {"New Prize", "0"}}));
    QCOMPARE(edits.edits.size(), 2);

    // Without a current row, the last one goes.
    table->setCurrentCell(-1, -1);
    editor->removeButton()->click();
    QCOMPARE(tableRows(editor), (Rows{{"Thanks for Playing", "500"}}));
    QCOMPARE(edits.edits.size(), 3);
    QCOMPARE(editor->summaryLabel()->text(), QStringLiteral("Generated 500 cards. Prize order is randomized."));

    // The last row stays.
    QVERIFY(!editor->removeButton()->isEnabled());
    emit editor->removeButton()->clicked();
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(edits.edits.size(), 3);
    editor->addButton()->click();
    QVERIFY(editor->removeButton()->isEnabled());
}

void TestPropertyPanels::prizeEditReportsScratchSettings()
{
    FieldPropertyPanel panel;
    const CardTable records;
    panel.setCardContext(QSizeF(90, 54), records);
    TemplateField field = fieldOfType("scratch");
    panel.showField(field);
    PrizeEditor *editor = panel.prizeEditor();
    FieldEdits edits(&panel);

    editor->table()->item(0, 0)->setText("A prize with a rather long name");
    QCOMPARE(edits.edits.size(), 1);
    const FieldEdit &edit = edits.last();
    QCOMPARE(edit.kind, FieldEdit::Kind::ScratchSettings);
    QVERIFY(edit.refreshesPreview);
    QCOMPARE(edit.before, field);
    QCOMPARE(edit.saveFailureMessage("locked"), QStringLiteral("Could not save scratch-card settings: locked"));
    // The box is refitted to the longest prize name.
    QCOMPARE(QSizeF(edit.after.widthMm, edit.after.heightMm), fittedFieldSize(edit.after, 90, 54, records));
    TemplateField shorter = edit.after;
    shorter.scratchPrizesJson = field.scratchPrizesJson;
    QVERIFY(edit.after.widthMm > fittedFieldSize(shorter, 90, 54, records).width());

    // Switching the mode changes the header and shows the total.
    editor->modeCombo()->setCurrentIndex(1);
    QCOMPARE(editor->table()->horizontalHeaderItem(1)->text(), QStringLiteral("Percentage %"));
    QVERIFY(editor->totalBox()->isVisibleTo(editor));
    QCOMPARE(edits.last().after.scratchMode, ScratchMode::Ratio);
    QCOMPARE(editor->summaryLabel()->text(), QStringLiteral("Prize percentages must add up to 100%"));
}

void TestPropertyPanels::pushingTheSavedFieldBackDuringAnEdit()
{
    // The window answers each edit by showing the saved record, while the
    // widget that reported it is still inside its signal.
    FieldPropertyPanel panel;
    setTwoSources(panel);
    TemplateField field = fieldOfType("scratch");
    panel.showField(field);
    QList<FieldEdit> edits;
    connect(&panel, &FieldPropertyPanel::fieldEdited, &panel, [&](const FieldEdit &edit) {
        edits.append(edit);
        panel.showField(edit.after);
    });

    QTableWidget *table = panel.prizeEditor()->table();
    table->item(1, 1)->setText("300");
    QCOMPARE(edits.size(), 1);
    QCOMPARE(table->item(1, 1)->text(), QStringLiteral("300"));
    panel.prizeEditor()->addButton()->click();
    QCOMPARE(edits.size(), 2);
    QCOMPARE(table->currentRow(), 2);

    // Already at its fitted size, so that only the binding changes below.
    TemplateField text = fieldOfType("text", 12);
    const QSizeF fitted = fittedFieldSize(text, 90, 54, {});
    text.widthMm = fitted.width();
    text.heightMm = fitted.height();
    panel.showField(text);
    panel.columnCombo()->setCurrentIndex(0);
    panel.dataSourceCombo()->setCurrentIndex(1);
    panel.columnCombo()->setCurrentIndex(2);
    QCOMPARE(edits.size(), 3);
    QCOMPARE(edits.last().after.dataColumn, QStringLiteral("source:3:Name"));
    QCOMPARE(panel.columnCombo()->currentText(), QStringLiteral("Name"));
    QCOMPARE(edits.last().before.dataColumn, QString());
}

void TestPropertyPanels::graphicTitleAndTableControls_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<QString>("title");

    QTest::newRow("table") << "table" << true << "Table Properties";
    QTest::newRow("ellipse") << "ellipse" << true << "Ellipse Properties";
    QTest::newRow("rectangle") << "rectangle" << true << "Rectangle Properties";
    QTest::newRow("line") << "line" << true << "Line Properties";
    QTest::newRow("nothing selected") << "table" << false << "Graphic Properties";
}

void TestPropertyPanels::graphicTitleAndTableControls()
{
    QFETCH(QString, type);
    QFETCH(bool, selected);
    QFETCH(QString, title);

    GraphicPropertyPanel panel;
    for (const QString &previous : {QStringLiteral("table"), QStringLiteral("line")}) {
        panel.showGraphic(graphicOfType(previous));
        panel.showGraphic(graphicOfType(type, selected ? 21 : 0));
        QCOMPARE(panel.titleLabel()->text(), title);
        const bool table = selected && type == QLatin1String("table");
        for (QWidget *widget : std::initializer_list<QWidget *>{panel.rowsBox(), panel.columnsBox(),
                                                                panel.spacingBox(), panel.splitTableButton()})
            QCOMPARE(widget->isEnabled(), table);
        for (QWidget *widget : std::initializer_list<QWidget *>{panel.xBox(), panel.widthBox(),
                                                                panel.strokeWidthBox(), panel.colorButton()})
            QVERIFY(widget->isEnabled());
        QCOMPARE(visibleRows(&panel), (QStringList{"X Position", "Y Position", "Width", "Height", "Rows",
                                                   "Columns", "Stroke Width", "Table Spacing", "Color"}));
    }
}

// Each panel shows, for every kind, exactly the rows the table of rows names
// for it, in that order, each enabled as the kind allows. Another kind of the
// group is shown first, so rows must also be hidden again.
void TestPropertyPanels::rowsFollowTheKindTable_data()
{
    QTest::addColumn<QString>("type");
    for (const ElementKind kind : {ElementKind::Text, ElementKind::Sequence, ElementKind::Barcode, ElementKind::QrCode,
                                   ElementKind::Scratch, ElementKind::Line, ElementKind::Ellipse,
                                   ElementKind::Rectangle, ElementKind::Table})
        QTest::newRow(qPrintable(elementKindKey(kind))) << elementKindKey(kind);
}

void TestPropertyPanels::rowsFollowTheKindTable()
{
    QFETCH(QString, type);
    const std::optional<ElementKind> fieldKind = fieldKindFromKey(type);
    const ElementKind kind = fieldKind ? *fieldKind : graphicKindFromKey(type).value();

    QStringList expected;
    for (const PropertyRow row : propertyRowsFor(kind))
        expected << propertyRowLabel(row);

    FieldPropertyPanel fieldPanel;
    GraphicPropertyPanel graphicPanel;
    QWidget *panel = nullptr;
    if (isFieldKind(kind)) {
        fieldPanel.showField(fieldOfType(kind == ElementKind::Barcode ? "scratch" : "barcode"));
        fieldPanel.showField(fieldOfType(type));
        panel = &fieldPanel;
    } else {
        graphicPanel.showGraphic(graphicOfType(kind == ElementKind::Table ? "line" : "table"));
        graphicPanel.showGraphic(graphicOfType(type));
        panel = &graphicPanel;
    }
    QCOMPARE(visibleRows(panel), expected);
    for (const PropertyRow row : propertyRowsFor(kind)) {
        QWidget *widget = rowWidget(panel, propertyRowLabel(row));
        QVERIFY(widget);
        QCOMPARE(widget->isEnabled(), isPropertyRowEnabled(kind, row));
    }
}

void TestPropertyPanels::graphicMinimumSizes_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("width");
    QTest::addColumn<double>("entered");
    QTest::addColumn<double>("stored");

    QTest::newRow("line height 0.5") << "line" << false << 0.5 << 1.0;
    QTest::newRow("line height 2") << "line" << false << 2.0 << 2.0;
    QTest::newRow("line width 3") << "line" << true << 3.0 << 5.0;
    QTest::newRow("rectangle height 0.5") << "rectangle" << false << 0.5 << 5.0;
    QTest::newRow("rectangle width 4.99") << "rectangle" << true << 4.99 << 5.0;
    QTest::newRow("ellipse height 2") << "ellipse" << false << 2.0 << 5.0;
    QTest::newRow("table height 3") << "table" << false << 3.0 << 5.0;
    QTest::newRow("table width 6") << "table" << true << 6.0 << 6.0;
}

void TestPropertyPanels::graphicMinimumSizes()
{
    QFETCH(QString, type);
    QFETCH(bool, width);
    QFETCH(double, entered);
    QFETCH(double, stored);

    GraphicPropertyPanel panel;
    const GraphicElement graphic = graphicOfType(type);
    panel.showGraphic(graphic);
    GraphicEdits edits(&panel);
    UnitSpinBox *box = width ? panel.widthBox() : panel.heightBox();
    box->setValue(entered);

    QCOMPARE(edits.edits.size(), 1);
    const GraphicEdit &edit = edits.last();
    QCOMPARE(width ? edit.after.widthMm : edit.after.heightMm, stored);
    QCOMPARE(width ? edit.after.heightMm : edit.after.widthMm, width ? graphic.heightMm : graphic.widthMm);
    QCOMPARE(box->value(), stored);
    QCOMPARE(edit.before, graphic);
    QVERIFY(edit.refreshesPreview);
    QCOMPARE(edit.saveFailureMessage("busy"), QStringLiteral("Could not save the graphic: busy"));
}

void TestPropertyPanels::graphicRowRanges()
{
    GraphicPropertyPanel panel;
    for (const char *row : {"X Position", "Y Position", "Width", "Height"}) {
        auto *box = qobject_cast<UnitSpinBox *>(rowWidget(&panel, row));
        QVERIFY2(box, row);
        QCOMPARE(box->minimum(), 0.0);
        QCOMPARE(box->maximum(), 2000.0);
        QCOMPARE(box->singleStep(), 0.1);
        QCOMPARE(box->decimals(), 2);
    }
    for (const char *row : {"Rows", "Columns"}) {
        auto *box = qobject_cast<QSpinBox *>(rowWidget(&panel, row));
        QVERIFY2(box, row);
        QCOMPARE(box->minimum(), 1);
        QCOMPARE(box->maximum(), 100);
    }
    auto *stroke = qobject_cast<QDoubleSpinBox *>(rowWidget(&panel, "Stroke Width"));
    QVERIFY(stroke);
    QCOMPARE(stroke->minimum(), 0.05);
    QCOMPARE(stroke->maximum(), 10.0);
    QCOMPARE(stroke->singleStep(), 0.05);
    QCOMPARE(stroke->decimals(), 2);
    auto *spacing = qobject_cast<QDoubleSpinBox *>(rowWidget(&panel, "Table Spacing"));
    QVERIFY(spacing);
    QCOMPARE(spacing->minimum(), 0.0);
    QCOMPARE(spacing->maximum(), 20.0);
    QCOMPARE(spacing->singleStep(), 0.1);
    QCOMPARE(spacing->decimals(), 2);

    // Rows and columns below 1 are shown as 1; every box reaches the record.
    GraphicElement table = graphicOfType("table");
    table.rows = 0;
    table.columns = -2;
    panel.showGraphic(table);
    QCOMPARE(panel.rowsBox()->value(), 1);
    QCOMPARE(panel.columnsBox()->value(), 1);
    GraphicEdits edits(&panel);
    panel.rowsBox()->setValue(4);
    panel.columnsBox()->setValue(6);
    panel.strokeWidthBox()->setValue(0.5);
    panel.spacingBox()->setValue(1.5);
    panel.xBox()->setValue(3);
    panel.yBox()->setValue(4);
    QCOMPARE(edits.edits.size(), 6);
    const GraphicElement after = edits.last().after;
    QCOMPARE(after.rows, 4);
    QCOMPARE(after.columns, 6);
    QCOMPARE(after.strokeWidthMm, 0.5);
    QCOMPARE(after.cellSpacingMm, 1.5);
    QCOMPARE(after.xMm, 3.0);
    QCOMPARE(after.yMm, 4.0);
    QCOMPARE(after.fillColor, table.fillColor);
    QCOMPARE(after.type, ElementKind::Table);
}

void TestPropertyPanels::colourButtons()
{
    const QString style = QStringLiteral("QPushButton { color: %1; border: 2px solid %1; background: white; }");
    QString askedTitle;
    QColor askedInitial;
    QColor answer;
    const ColorChooser chooser = [&](QWidget *, const QString &title, const QColor &initial) {
        askedTitle = title;
        askedInitial = initial;
        return answer;
    };

    FieldPropertyPanel fieldPanel;
    fieldPanel.setColorChooser(chooser);
    TemplateField field = fieldOfType("text");
    field.colorHex = QStringLiteral("#336699");
    fieldPanel.showField(field);
    ColorButton *fieldButton = fieldPanel.colorButton();
    QCOMPARE(fieldButton->text(), QStringLiteral("#336699"));
    QCOMPARE(fieldButton->property("fieldColor").toString(), QStringLiteral("#336699"));
    QCOMPARE(fieldButton->styleSheet(), style.arg("#336699"));
    FieldEdits fieldEdits(&fieldPanel);

    answer = QColor();
    fieldButton->click();
    QCOMPARE(askedTitle, QStringLiteral("Choose Text Color"));
    QCOMPARE(askedInitial, QColor("#336699"));
    QCOMPARE(fieldEdits.edits.size(), 0);
    QCOMPARE(fieldButton->text(), QStringLiteral("#336699"));

    answer = QColor(0xAB, 0x12, 0xCD);
    fieldButton->click();
    QCOMPARE(fieldEdits.edits.size(), 1);
    QCOMPARE(fieldEdits.last().after.colorHex, QStringLiteral("#ab12cd"));
    QCOMPARE(fieldButton->text(), QStringLiteral("#ab12cd"));
    QCOMPARE(fieldButton->property("fieldColor").toString(), QStringLiteral("#ab12cd"));
    QCOMPARE(fieldButton->styleSheet(), style.arg("#ab12cd"));

    // A field stored without a colour gets the default one on the next edit.
    field.colorHex.clear();
    fieldPanel.showField(field);
    fieldPanel.boldCheck()->setChecked(true);
    QCOMPARE(fieldEdits.last().after.colorHex, QStringLiteral("#111827"));

    GraphicPropertyPanel graphicPanel;
    graphicPanel.setColorChooser(chooser);
    GraphicElement graphic = graphicOfType("ellipse");
    graphic.strokeColor = QStringLiteral("#00ff00");
    graphic.fillColor = QStringLiteral("#ffeeee");
    graphicPanel.showGraphic(graphic);
    ColorButton *graphicButton = graphicPanel.colorButton();
    QCOMPARE(graphicButton->property("graphicColor").toString(), QStringLiteral("#00ff00"));
    QCOMPARE(graphicButton->styleSheet(), style.arg("#00ff00"));
    GraphicEdits graphicEdits(&graphicPanel);
    answer = QColor(Qt::red);
    graphicButton->click();
    QCOMPARE(askedTitle, QStringLiteral("Choose Line Color"));
    QCOMPARE(askedInitial, QColor("#00ff00"));
    QCOMPARE(graphicEdits.edits.size(), 1);
    QCOMPARE(graphicEdits.last().after.strokeColor, QStringLiteral("#ff0000"));
    QCOMPARE(graphicEdits.last().after.fillColor, QStringLiteral("#ffeeee"));
    QCOMPARE(graphicButton->text(), QStringLiteral("#ff0000"));
}

void TestPropertyPanels::deleteAndSplitButtons()
{
    FieldPropertyPanel fieldPanel;
    QSignalSpy deleteField(&fieldPanel, &FieldPropertyPanel::deleteRequested);
    QVERIFY(!fieldPanel.deleteButton()->isEnabled());
    fieldPanel.showField(fieldOfType("sequence", 42));
    fieldPanel.deleteButton()->click();
    QCOMPARE(deleteField.count(), 1);
    QCOMPARE(deleteField.at(0).at(0).toLongLong(), 42);
    fieldPanel.clearField();
    QVERIFY(!fieldPanel.deleteButton()->isEnabled());

    GraphicPropertyPanel graphicPanel;
    QSignalSpy deleteGraphic(&graphicPanel, &GraphicPropertyPanel::deleteRequested);
    QSignalSpy split(&graphicPanel, &GraphicPropertyPanel::splitTableRequested);
    QVERIFY(!graphicPanel.deleteButton()->isEnabled());
    graphicPanel.showGraphic(graphicOfType("table", 77));
    graphicPanel.splitTableButton()->click();
    QCOMPARE(split.count(), 1);
    QCOMPARE(split.at(0).at(0).toLongLong(), 77);
    graphicPanel.deleteButton()->click();
    QCOMPARE(deleteGraphic.count(), 1);
    QCOMPARE(deleteGraphic.at(0).at(0).toLongLong(), 77);

    // Not for another kind, even when the click reaches the button.
    graphicPanel.showGraphic(graphicOfType("rectangle", 78));
    emit graphicPanel.splitTableButton()->clicked();
    QCOMPARE(split.count(), 1);
}

void TestPropertyPanels::objectNamesAndTexts()
{
    PropertyScroll scroll;
    QCOMPARE(scroll.objectName(), QStringLiteral("propertyScroll"));
    QCOMPARE(scroll.minimumWidth(), 300);
    QCOMPARE(scroll.maximumWidth(), 370);
    QVERIFY(scroll.fieldPanel()->isVisibleTo(&scroll));
    QVERIFY(!scroll.graphicPanel()->isVisibleTo(&scroll));
    scroll.showGraphicPanel();
    QVERIFY(!scroll.fieldPanel()->isVisibleTo(&scroll));
    QVERIFY(scroll.graphicPanel()->isVisibleTo(&scroll));
    QCOMPARE(scroll.unitSpinBoxes().size(), 8);

    // A long binding neither asks for more than the column nor overflows it.
    FieldPropertyPanel *wide = scroll.fieldPanel();
    wide->setDataSources({source(3, QString(120, QLatin1Char('f')) + ".csv")}, {{3, {QString(200, 'c')}}});
    TemplateField bound = fieldOfType("text");
    bound.dataColumn = QStringLiteral("source:3:") + QString(300, QLatin1Char('g'));
    wide->showField(bound);
    QVERIFY2(wide->sizeHint().width() <= scroll.maximumWidth(),
             qPrintable(QString::number(wide->sizeHint().width())));
    scroll.resize(scroll.maximumWidth(), 600);
    scroll.show();
    QVERIFY(QTest::qWaitForWindowExposed(&scroll));
    QVERIFY2(wide->width() <= scroll.viewport()->width(),
             qPrintable(QStringLiteral("%1 > %2").arg(wide->width()).arg(scroll.viewport()->width())));
    scroll.hide();

    FieldPropertyPanel *fieldPanel = scroll.fieldPanel();
    GraphicPropertyPanel *graphicPanel = scroll.graphicPanel();
    for (QWidget *panel : std::initializer_list<QWidget *>{fieldPanel, graphicPanel}) {
        QCOMPARE(panel->objectName(), QStringLiteral("fieldPanel"));
        QCOMPARE(panel->findChildren<QLabel *>("propertyTitle").size(), 1);
        QCOMPARE(panel->findChildren<QLabel *>("hint").size(), 1);
        QCOMPARE(panel->findChildren<QPushButton *>("dangerButton").size(), 1);
    }
    QCOMPARE(fieldPanel->hintLabel()->text(),
             QStringLiteral("Select a canvas field to edit. Variable text automatically fits its content."));
    QCOMPARE(fieldPanel->hintLabel()->objectName(), QStringLiteral("hint"));
    QCOMPARE(fieldPanel->deleteButton()->text(), QStringLiteral("Delete Current Field"));
    QCOMPARE(fieldPanel->deleteButton()->objectName(), QStringLiteral("dangerButton"));
    QCOMPARE(graphicPanel->hintLabel()->text(),
             QStringLiteral("Changes are saved automatically. Table spacing creates gaps between cells."));
    QCOMPARE(graphicPanel->deleteButton()->text(), QStringLiteral("Delete Current Graphic"));
    QCOMPARE(graphicPanel->deleteButton()->objectName(), QStringLiteral("dangerButton"));
    QCOMPARE(graphicPanel->splitTableButton()->text(), QStringLiteral("Split Table"));
    QCOMPARE(graphicPanel->splitTableButton()->toolTip(),
             QStringLiteral("Convert the table into independently movable and resizable rectangles"));

    QCOMPARE(fieldPanel->showTextCheck()->text(), QStringLiteral("Show barcode value"));
    QCOMPARE(fieldPanel->excludeFourCheck()->text(), QStringLiteral("Exclude numbers containing digit 4"));
    QCOMPARE(fieldPanel->boldCheck()->text(), QStringLiteral("Bold"));
    QCOMPARE(fieldPanel->sequencePrefixEdit()->text(), QStringLiteral("No."));
    PrizeEditor *editor = fieldPanel->prizeEditor();
    QCOMPARE(comboTexts(editor->modeCombo()), (QStringList{"By Card Count", "By Percentage"}));
    QCOMPARE(ScratchMode(editor->modeCombo()->itemData(0).toInt()), ScratchMode::Count);
    QCOMPARE(ScratchMode(editor->modeCombo()->itemData(1).toInt()), ScratchMode::Ratio);
    QCOMPARE(editor->totalBox()->minimum(), 1);
    QCOMPARE(editor->totalBox()->maximum(), 10000000);
    QCOMPARE(editor->table()->columnCount(), 2);
    QCOMPARE(editor->table()->minimumHeight(), 112);
    QCOMPARE(editor->table()->maximumHeight(), 180);
    QCOMPARE(editor->addButton()->text(), QStringLiteral("Add Prize"));
    QCOMPARE(editor->removeButton()->text(), QStringLiteral("Remove Prize"));

    const QStringList fieldRows{"Field Name", "Data Source", "Select Field", "X Position", "Y Position", "Width",
                                "Height", "BarcodeType", "Show Text", "Sequence Prefix", "Sequence Digits",
                                "Sequence Step", "Exclude 4", "Prize Settings", "Font", "Font Size",
                                "Font Weight", "Alignment", "Color"};
    QFormLayout *form = formOf(fieldPanel);
    QCOMPARE(form->rowCount(), fieldRows.size());
    for (int row = 0; row < form->rowCount(); ++row)
        QCOMPARE(qobject_cast<QLabel *>(form->itemAt(row, QFormLayout::LabelRole)->widget())->text(),
                 fieldRows[row]);
    QCOMPARE(formOf(graphicPanel)->rowCount(), 9);
}

void TestPropertyPanels::accessibleNames()
{
    PropertyScroll scroll;
    FieldPropertyPanel *fieldPanel = scroll.fieldPanel();
    setTwoSources(*fieldPanel);
    fieldPanel->showField(fieldOfType("scratch"));
    scroll.graphicPanel()->showGraphic(graphicOfType("table"));

    const QList<QWidget *> controls = reachableControls(&scroll);
    // Every row's box, the prize editor's controls and the buttons below.
    QVERIFY2(controls.size() >= 30, qPrintable(QString::number(controls.size())));
    for (QWidget *control : controls) {
        const QString what =
            QStringLiteral("%1 %2").arg(control->metaObject()->className(), control->objectName());
        QVERIFY2(!accessibleName(control).trimmed().isEmpty(), qPrintable(what));
    }

    // A row's widget is named by its row label, and the label points to it
    // (on Linux a combo box reads out its current text as its name and
    // leaves the label to that relation).
    for (QWidget *panel : std::initializer_list<QWidget *>{fieldPanel, scroll.graphicPanel()}) {
        QFormLayout *form = formOf(panel);
        for (int row = 0; row < form->rowCount(); ++row) {
            auto *label = qobject_cast<QLabel *>(form->itemAt(row, QFormLayout::LabelRole)->widget());
            QWidget *widget = form->itemAt(row, QFormLayout::FieldRole)->widget();
            QCOMPARE(label->buddy(), widget);
            if (auto *editor = qobject_cast<PrizeEditor *>(widget))
                widget = editor->modeCombo();
            QCOMPARE(widget->accessibleName(), label->text());
            if (!qobject_cast<QComboBox *>(widget))
                QCOMPARE(accessibleName(widget), label->text());
        }
    }
    QCOMPARE(accessibleName(fieldPanel->prizeEditor()->totalBox()), QStringLiteral("Total Card Count"));
    QCOMPARE(accessibleName(fieldPanel->prizeEditor()->addButton()), QStringLiteral("Add Prize"));
    QCOMPARE(accessibleName(scroll.graphicPanel()->splitTableButton()), QStringLiteral("Split Table"));
}

// The position and size boxes keep an object on the card, as a drag does:
// an X of 500 mm on a 90 mm card would leave it on no card at all. The boxes
// show where the object was put.
void TestPropertyPanels::typedPlaceStaysOnTheCard_data()
{
    QTest::addColumn<bool>("graphic");
    QTest::addColumn<QString>("row");
    QTest::addColumn<double>("entered");
    QTest::addColumn<QRectF>("expected");

    // The barcode lies at (10, 8), 45 × 10 mm; the rectangle at (12, 6),
    // 30 × 20 mm; the card is 90 × 54 mm.
    QTest::newRow("field X 500 mm") << false << "X Position" << 500.0 << QRectF(45, 8, 45, 10);
    QTest::newRow("field Y 60 mm") << false << "Y Position" << 60.0 << QRectF(10, 44, 45, 10);
    QTest::newRow("field width past the edge") << false << "Width" << 85.0 << QRectF(5, 8, 85, 10);
    QTest::newRow("field height 2000 mm") << false << "Height" << 2000.0 << QRectF(10, 0, 45, 54);
    QTest::newRow("field on the card") << false << "X Position" << 20.0 << QRectF(20, 8, 45, 10);
    QTest::newRow("graphic X 500 mm") << true << "X Position" << 500.0 << QRectF(60, 6, 30, 20);
    QTest::newRow("graphic width 100 mm") << true << "Width" << 100.0 << QRectF(0, 6, 90, 20);
    QTest::newRow("graphic Y 50 mm") << true << "Y Position" << 50.0 << QRectF(12, 34, 30, 20);
}

void TestPropertyPanels::typedPlaceStaysOnTheCard()
{
    QFETCH(bool, graphic);
    QFETCH(QString, row);
    QFETCH(double, entered);
    QFETCH(QRectF, expected);

    const QSizeF card(90, 54);
    QRectF after;
    QList<UnitSpinBox *> boxes;
    if (graphic) {
        GraphicPropertyPanel panel;
        panel.setCardSize(card);
        panel.showGraphic(graphicOfType("rectangle"));
        GraphicEdits edits(&panel);
        qobject_cast<UnitSpinBox *>(rowWidget(&panel, row))->setValue(entered);
        QCOMPARE(edits.edits.size(), 1);
        const GraphicElement &g = edits.last().after;
        after = QRectF(g.xMm, g.yMm, g.widthMm, g.heightMm);
        QCOMPARE(QRectF(panel.xBox()->value(), panel.yBox()->value(), panel.widthBox()->value(),
                        panel.heightBox()->value()),
                 after);
    } else {
        FieldPropertyPanel panel;
        panel.setCardContext(card, {});
        panel.showField(fieldOfType("barcode"));
        FieldEdits edits(&panel);
        qobject_cast<UnitSpinBox *>(rowWidget(&panel, row))->setValue(entered);
        QCOMPARE(edits.edits.size(), 1);
        const TemplateField &f = edits.last().after;
        after = QRectF(f.xMm, f.yMm, f.widthMm, f.heightMm);
        QCOMPARE(QRectF(panel.xBox()->value(), panel.yBox()->value(), panel.widthBox()->value(),
                        panel.heightBox()->value()),
                 after);
    }
    QCOMPARE(after, expected);
}

QTEST_MAIN(TestPropertyPanels)
#include "tst_propertypanels.moc"
