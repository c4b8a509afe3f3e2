#include "ui/projectpanel.h"
#include "ui/unitspinbox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

#include <functional>
#include <memory>
#include <vector>

namespace {

// Spies on every change signal of the panel, to show that a programmatic
// fill emits nothing or that an edit emits exactly what it should.
struct PanelSpies
{
    explicit PanelSpies(ProjectPanel *panel)
    {
        const auto add = [&](const char *name, auto signal) {
            names.push_back(name);
            spies.push_back(std::make_unique<QSignalSpy>(panel, signal));
        };
        add("projectActivated", &ProjectPanel::projectActivated);
        add("deleteProjectRequested", &ProjectPanel::deleteProjectRequested);
        add("duplexRequested", &ProjectPanel::duplexRequested);
        add("useInchesChanged", &ProjectPanel::useInchesChanged);
        add("cardSizeChanged", &ProjectPanel::cardSizeChanged);
        add("bleedChanged", &ProjectPanel::bleedChanged);
        add("bleedGuideChanged", &ProjectPanel::bleedGuideChanged);
        add("sheetLayoutChanged", &ProjectPanel::sheetLayoutChanged);
        add("saveRequested", &ProjectPanel::saveRequested);
    }

    // "name=count" for every signal that fired, in declaration order.
    QStringList fired() const
    {
        QStringList result;
        for (size_t i = 0; i < spies.size(); ++i) {
            if (spies[i]->count() > 0)
                result << QStringLiteral("%1=%2").arg(QLatin1String(names[i])).arg(spies[i]->count());
        }
        return result;
    }

    std::vector<const char *> names;
    std::vector<std::unique_ptr<QSignalSpy>> spies;
};

Project distinctProject()
{
    Project project;
    project.id = 7;
    project.name = QStringLiteral("Raffle");
    project.cardWidthMm = 85.5;
    project.cardHeightMm = 55;
    project.paperWidthMm = 320;
    project.paperHeightMm = 450;
    project.rows = 6;
    project.columns = 3;
    project.bleedMm = 3.5;
    project.showBleed = false;
    project.duplex = true;
    return project;
}

} // namespace

class TestProjectPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void paperPresetFillsSheet_data();
    void paperPresetFillsSheet();
    void orientationReappliesPreset();
    void customPaperLeavesSheet();
    void bleedMaximum_data();
    void bleedMaximum();
    void bleedClampedWhenCardShrinks();
    void showProjectEmitsNothingAndKeepsBleed();
    void storeSettingsReadsEveryWidget();
    void setProjects_data();
    void setProjects();
    void editsEmitTheirSignal();
    void unitsChoice();
    void fitWarning_data();
    void fitWarning();
    void editedSettingsOverStoredOnes();
};

void TestProjectPanel::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestProjectPanel::paperPresetFillsSheet_data()
{
    QTest::addColumn<QString>("paper");
    QTest::addColumn<bool>("landscape");
    QTest::addColumn<double>("widthMm");
    QTest::addColumn<double>("heightMm");

    QTest::newRow("A4 portrait") << "A4 — 210 × 297 mm" << false << 210.0 << 297.0;
    QTest::newRow("A4 landscape") << "A4 — 210 × 297 mm" << true << 297.0 << 210.0;
    QTest::newRow("A3 portrait") << "A3 — 297 × 420 mm" << false << 297.0 << 420.0;
    QTest::newRow("A3 landscape") << "A3 — 297 × 420 mm" << true << 420.0 << 297.0;
    QTest::newRow("Letter portrait") << "Letter — 8.5 × 11 in" << false << 215.9 << 279.4;
    QTest::newRow("Letter landscape") << "Letter — 8.5 × 11 in" << true << 279.4 << 215.9;
    QTest::newRow("Legal portrait") << "Legal — 8.5 × 14 in" << false << 215.9 << 355.6;
    QTest::newRow("Legal landscape") << "Legal — 8.5 × 14 in" << true << 355.6 << 215.9;
    QTest::newRow("Tabloid portrait") << "Tabloid — 11 × 17 in" << false << 279.4 << 431.8;
    QTest::newRow("Tabloid landscape") << "Tabloid — 11 × 17 in" << true << 431.8 << 279.4;
}

void TestProjectPanel::paperPresetFillsSheet()
{
    QFETCH(QString, paper);
    QFETCH(bool, landscape);
    QFETCH(double, widthMm);
    QFETCH(double, heightMm);

    ProjectPanel panel;
    panel.orientationCombo()->setCurrentText(landscape ? "Landscape" : "Portrait");
    const int paperIndex = panel.paperCombo()->findText(paper);
    QVERIFY2(paperIndex > 0, qPrintable(paper));

    PanelSpies spies(&panel);
    QSignalSpy widthChanged(panel.sheetWidthBox(), &UnitSpinBox::valueChanged);
    QSignalSpy heightChanged(panel.sheetHeightBox(), &UnitSpinBox::valueChanged);
    panel.paperCombo()->setCurrentIndex(paperIndex);

    QCOMPARE(panel.sheetWidthBox()->value(), widthMm);
    QCOMPARE(panel.sheetHeightBox()->value(), heightMm);
    // The boxes are filled quietly; the panel reports one layout change.
    QCOMPARE(widthChanged.count(), 0);
    QCOMPARE(heightChanged.count(), 0);
    QCOMPARE(spies.fired(), QStringList{"sheetLayoutChanged=1"});
}

void TestProjectPanel::orientationReappliesPreset()
{
    ProjectPanel panel;
    panel.paperCombo()->setCurrentText("Letter — 8.5 × 11 in");
    QCOMPARE(panel.sheetWidthBox()->value(), 215.9);

    panel.orientationCombo()->setCurrentText("Landscape");
    QCOMPARE(panel.sheetWidthBox()->value(), 279.4);
    QCOMPARE(panel.sheetHeightBox()->value(), 215.9);

    panel.orientationCombo()->setCurrentText("Portrait");
    QCOMPARE(panel.sheetWidthBox()->value(), 215.9);
    QCOMPARE(panel.sheetHeightBox()->value(), 279.4);
}

void TestProjectPanel::customPaperLeavesSheet()
{
    ProjectPanel panel;
    QCOMPARE(panel.paperCombo()->currentText(), QStringLiteral("Custom"));
    panel.sheetWidthBox()->setValue(123);
    panel.sheetHeightBox()->setValue(456);

    PanelSpies spies(&panel);
    panel.orientationCombo()->setCurrentText("Landscape");
    QCOMPARE(panel.sheetWidthBox()->value(), 123.0);
    QCOMPARE(panel.sheetHeightBox()->value(), 456.0);
    QCOMPARE(spies.fired(), QStringList{});

    // Going back to "Custom" keeps what the last preset put in.
    panel.paperCombo()->setCurrentText("A4 — 210 × 297 mm");
    panel.paperCombo()->setCurrentText("Custom");
    QCOMPARE(panel.sheetWidthBox()->value(), 297.0);
    QCOMPARE(panel.sheetHeightBox()->value(), 210.0);
}

void TestProjectPanel::bleedMaximum_data()
{
    QTest::addColumn<double>("widthMm");
    QTest::addColumn<double>("heightMm");
    QTest::addColumn<double>("maximumMm");

    QTest::newRow("business card 90 × 54") << 90.0 << 54.0 << 26.99;
    QTest::newRow("tall card 54 × 90") << 54.0 << 90.0 << 26.99;
    QTest::newRow("smallest card") << 1.0 << 1.0 << 0.49;
    QTest::newRow("largest card") << 2000.0 << 2000.0 << 999.99;
}

void TestProjectPanel::bleedMaximum()
{
    QFETCH(double, widthMm);
    QFETCH(double, heightMm);
    QFETCH(double, maximumMm);

    ProjectPanel panel;
    panel.cardWidthBox()->setValue(widthMm);
    panel.cardHeightBox()->setValue(heightMm);
    QCOMPARE(panel.bleedBox()->maximum(), maximumMm);
    QCOMPARE(panel.bleedBox()->minimum(), 0.0);

    panel.bleedBox()->setValue(5000);
    QCOMPARE(panel.bleedBox()->value(), maximumMm);
}

void TestProjectPanel::bleedClampedWhenCardShrinks()
{
    ProjectPanel panel;
    panel.cardWidthBox()->setValue(90);
    panel.cardHeightBox()->setValue(54);
    panel.bleedBox()->setValue(20);

    PanelSpies spies(&panel);
    panel.cardHeightBox()->setValue(30);
    QCOMPARE(panel.bleedBox()->value(), 14.99);
    // One notice; whoever handles it passes the clamped bleed on.
    QCOMPARE(spies.fired(), QStringList{"cardSizeChanged=1"});
}

void TestProjectPanel::showProjectEmitsNothingAndKeepsBleed()
{
    ProjectPanel panel;
    Project small;
    small.cardWidthMm = 10;
    small.cardHeightMm = 10;
    small.bleedMm = 1;
    panel.showProject(small);
    QCOMPARE(panel.bleedBox()->maximum(), 4.99);

    PanelSpies spies(&panel);
    const Project large = distinctProject();
    panel.showProject(large);
    QCOMPARE(spies.fired(), QStringList{});
    // The bleed must not be clamped to the previous, smaller card.
    QCOMPARE(panel.bleedBox()->value(), 3.5);
    QCOMPARE(panel.bleedBox()->maximum(), 27.49);
    QVERIFY(panel.duplexButton()->isChecked());
    QVERIFY(!panel.singleButton()->isChecked());
    QVERIFY(!panel.bleedGuideCheck()->isChecked());
}

void TestProjectPanel::storeSettingsReadsEveryWidget()
{
    ProjectPanel panel;
    const Project shown = distinctProject();
    panel.showProject(shown);

    Project stored;
    stored.id = 99;
    stored.name = QStringLiteral("Keep");
    panel.storeSettings(&stored);
    QCOMPARE(stored.cardWidthMm, shown.cardWidthMm);
    QCOMPARE(stored.cardHeightMm, shown.cardHeightMm);
    QCOMPARE(stored.paperWidthMm, shown.paperWidthMm);
    QCOMPARE(stored.paperHeightMm, shown.paperHeightMm);
    QCOMPARE(stored.rows, shown.rows);
    QCOMPARE(stored.columns, shown.columns);
    QCOMPARE(stored.bleedMm, shown.bleedMm);
    QCOMPARE(stored.showBleed, shown.showBleed);
    // Only the settings are taken: identity and the sides stay the caller's.
    QCOMPARE(stored.id, qint64(99));
    QCOMPARE(stored.name, QStringLiteral("Keep"));
    QCOMPARE(stored.duplex, false);
}

void TestProjectPanel::setProjects_data()
{
    QTest::addColumn<qint64>("currentId");
    QTest::addColumn<QString>("currentName");
    QTest::addColumn<int>("selectedIndex");
    QTest::addColumn<QString>("editText");
    QTest::addColumn<bool>("canDelete");

    QTest::newRow("listed") << qint64(2) << "Beta" << 1 << "Beta" << true;
    QTest::newRow("not listed") << qint64(9) << "Gone" << -1 << "Gone" << true;
    QTest::newRow("not stored yet") << qint64(0) << "Draft" << -1 << "Draft" << false;
}

void TestProjectPanel::setProjects()
{
    QFETCH(qint64, currentId);
    QFETCH(QString, currentName);
    QFETCH(int, selectedIndex);
    QFETCH(QString, editText);
    QFETCH(bool, canDelete);

    Project alpha;
    alpha.id = 3;
    alpha.name = QStringLiteral("Alpha");
    Project beta;
    beta.id = 2;
    beta.name = QStringLiteral("Beta");
    Project current;
    current.id = currentId;
    current.name = currentName;

    ProjectPanel panel;
    PanelSpies spies(&panel);
    QSignalSpy indexChanged(panel.projectSelector(), &QComboBox::currentIndexChanged);
    panel.setProjects({alpha, beta}, current);

    QCOMPARE(panel.projectSelector()->count(), 2);
    QCOMPARE(panel.projectSelector()->itemText(0), QStringLiteral("Alpha"));
    QCOMPARE(panel.projectIdAt(0), qint64(3));
    QCOMPARE(panel.projectIdAt(1), qint64(2));
    QCOMPARE(panel.projectIdAt(2), qint64(0));
    QCOMPARE(panel.projectIdAt(-1), qint64(0));
    QCOMPARE(panel.projectSelector()->currentIndex(), selectedIndex);
    QCOMPARE(panel.projectName(), editText);
    QCOMPARE(panel.deleteProjectButton()->isEnabled(), canDelete);
    QCOMPARE(indexChanged.count(), 0);
    QCOMPARE(spies.fired(), QStringList{});
}

void TestProjectPanel::editsEmitTheirSignal()
{
    ProjectPanel panel;
    panel.showProject(Project{});

    const auto firedBy = [&panel](const std::function<void()> &edit) {
        PanelSpies spies(&panel);
        edit();
        return spies.fired();
    };
    QCOMPARE(firedBy([&] { panel.cardWidthBox()->setValue(80); }),
             QStringList{"cardSizeChanged=1"});
    QCOMPARE(firedBy([&] { panel.bleedBox()->setValue(1.5); }), QStringList{"bleedChanged=1"});
    QCOMPARE(firedBy([&] { panel.bleedGuideCheck()->toggle(); }),
             QStringList{"bleedGuideChanged=1"});
    QCOMPARE(firedBy([&] { panel.sheetHeightBox()->setValue(250); }),
             QStringList{"sheetLayoutChanged=1"});
    QCOMPARE(firedBy([&] { panel.rowsBox()->setValue(2); }), QStringList{"sheetLayoutChanged=1"});
    QCOMPARE(firedBy([&] { panel.columnsBox()->setValue(8); }),
             QStringList{"sheetLayoutChanged=1"});
    QCOMPARE(firedBy([&] { panel.saveButton()->click(); }), QStringList{"saveRequested=1"});
    QCOMPARE(firedBy([&] { panel.deleteProjectButton()->click(); }),
             QStringList{"deleteProjectRequested=1"});

    QSignalSpy duplex(&panel, &ProjectPanel::duplexRequested);
    panel.duplexButton()->click();
    panel.singleButton()->click();
    QCOMPARE(duplex.count(), 2);
    QCOMPARE(duplex.at(0).at(0).toBool(), true);
    QCOMPARE(duplex.at(1).at(0).toBool(), false);
}

void TestProjectPanel::unitsChoice()
{
    ProjectPanel panel;
    QCOMPARE(panel.unitsCombo()->itemText(0), QStringLiteral("Millimetres (mm)"));
    QCOMPARE(panel.unitsCombo()->itemText(1), QStringLiteral("Inches (in)"));
    QVERIFY(!panel.useInches());

    QSignalSpy changed(&panel, &ProjectPanel::useInchesChanged);
    panel.setUseInches(true);
    QVERIFY(panel.useInches());
    QCOMPARE(changed.count(), 0);

    panel.unitsCombo()->setCurrentIndex(0);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toBool(), false);

    // Every length box of the panel is offered for the unit switch.
    const QList<UnitSpinBox *> offered = panel.unitSpinBoxes();
    const QList<UnitSpinBox *> present = panel.findChildren<UnitSpinBox *>();
    QCOMPARE(offered.size(), present.size());
    for (UnitSpinBox *box : present)
        QVERIFY(offered.contains(box));
}

void TestProjectPanel::fitWarning_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QSizeF>("sheetMm");
    QTest::addColumn<bool>("inches");
    QTest::addColumn<QString>("warning"); // empty: hidden

    // 90 × 54 mm cards.
    QTest::newRow("fits exactly") << 5 << 2 << QSizeF(180, 270) << false << "";
    QTest::newRow("A4, 4 x 4") << 4 << 4 << QSizeF(210, 297) << false
                               << "The cards do not fit the sheet: the grid is 150.00 mm too wide.";
    QTest::newRow("too tall") << 6 << 2 << QSizeF(210, 297) << false
                              << "The cards do not fit the sheet: the grid is 27.00 mm too tall.";
    QTest::newRow("both, in inches") << 6 << 3 << QSizeF(254, 297) << true
                                     << "The cards do not fit the sheet: the grid is 0.630 in too wide "
                                        "and 1.063 in too tall.";
}

// Told while the user edits: a grid that does not fit loses its outer cards
// on every sheet.
void TestProjectPanel::fitWarning()
{
    QFETCH(int, rows);
    QFETCH(int, columns);
    QFETCH(QSizeF, sheetMm);
    QFETCH(bool, inches);
    QFETCH(QString, warning);

    ProjectPanel panel;
    panel.setUseInches(inches);
    Project project;
    project.cardWidthMm = 90;
    project.cardHeightMm = 54;
    panel.showProject(project);
    QVERIFY(panel.fitWarningLabel()->isHidden());

    // Through the widgets, as the user edits.
    panel.sheetWidthBox()->setValue(sheetMm.width());
    panel.sheetHeightBox()->setValue(sheetMm.height());
    panel.rowsBox()->setValue(rows);
    panel.columnsBox()->setValue(columns);

    QCOMPARE(panel.fitWarningLabel()->isHidden(), warning.isEmpty());
    if (!warning.isEmpty())
        QCOMPARE(panel.fitWarningLabel()->text(), warning);

    // A larger sheet puts it right at once.
    panel.sheetWidthBox()->setValue(1000);
    panel.sheetHeightBox()->setValue(1000);
    QVERIFY(panel.fitWarningLabel()->isHidden());
}

// An export takes the stored project with only the user's edits over it: the
// widgets may show stored values clamped to their ranges.
void TestProjectPanel::editedSettingsOverStoredOnes()
{
    Project stored = distinctProject();
    stored.rows = 100000; // shown as 100
    stored.cardHeightMm = 0; // shown as 1
    ProjectPanel panel;
    panel.setProjects({stored}, stored);
    panel.showProject(stored);
    QVERIFY(!panel.hasUnsavedChanges());

    Project exported = stored;
    panel.storeEditedSettings(&exported);
    QCOMPARE(exported, stored);

    panel.cardWidthBox()->setValue(70);
    panel.columnsBox()->setValue(2);
    QVERIFY(panel.hasUnsavedChanges());
    exported = stored;
    panel.storeEditedSettings(&exported);
    Project expected = stored;
    expected.cardWidthMm = 70;
    expected.columns = 2;
    QCOMPARE(exported, expected);

    // Back to the values shown: no edit left.
    panel.cardWidthBox()->setValue(stored.cardWidthMm);
    panel.columnsBox()->setValue(stored.columns);
    QVERIFY(!panel.hasUnsavedChanges());

    // A typed name counts, and is kept while the selector moves on.
    panel.projectSelector()->setEditText(QStringLiteral("Lottery"));
    QVERIFY(panel.hasUnsavedChanges());
    QCOMPARE(panel.editedName(), QStringLiteral("Lottery"));
    panel.markSaved();
    QVERIFY(!panel.hasUnsavedChanges());
}

QTEST_MAIN(TestProjectPanel)
#include "tst_projectpanel.moc"
