#include "scripteddialogs.h"
#include "windowfixture.h"

#include "app/dataimport.h"
#include "app/workspace.h"
#include "render/sheetcomposer.h"
#include "store/projectstore.h"
#include "ui/canvas/canvaspage.h"
#include "ui/canvas/canvasview.h"
#include "ui/canvaseditor.h"
#include "ui/impositionpreviewwidget.h"
#include "ui/mainwindow.h"
#include "ui/previewpage.h"
#include "ui/projectpanel.h"
#include "ui/unitspinbox.h"

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>

#include <memory>

namespace {

// What the database holds before the window starts: the newest project,
// with `records` rows in one CSV data file.
struct ProjectSeed
{
    QString name = QStringLiteral("Preview Job");
    int records = 10;
    int rows = 2;
    int columns = 2;
    bool duplex = false;
    bool showBorder = true;
    bool showCropMarks = false;
    QString borderColor = QStringLiteral("#000000");
};

// Returns whether the widget took the event.
bool sendWheel(QWidget *widget, int angleDelta, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
               int pixelDelta = 0)
{
    const QPointF position(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(position, widget->mapToGlobal(position), QPoint(0, pixelDelta),
                      QPoint(0, angleDelta), Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
    return event.isAccepted();
}

void sendMouse(QWidget *widget, QEvent::Type type, QPoint position, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(position), widget->mapToGlobal(QPointF(position)), button,
                      buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

int darkness(QRgb pixel)
{
    return 255 - qGray(pixel);
}

} // namespace

class TestPreviewPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pageControls();
    void printPages_data();
    void printPages();
    void sideButtonsFollowDuplex();
    void noRecords();
    void pagingAtTheLimits();
    void sideButtonRestartsOrderKeepsPage();
    void ctrlWheelZoom_data();
    void ctrlWheelZoom();
    void spaceDragPans_data();
    void spaceDragPans();
    void spaceForgottenWhenFocusLeaves();
    void markOptionsChangeProjectRecord_data();
    void markOptionsChangeProjectRecord();
    void markOptionsOutliveSwitchAndClose_data();
    void markOptionsOutliveSwitchAndClose();
    void markOptionSaveFailureReverts();
    void borderColorChoice();
    void projectSwitchShowsItsOptions();
    void sheetIsPainted();
    void refreshOnTabSwitch();

private:
    bool startWindow(const ProjectSeed &seed = {});
    std::unique_ptr<ProjectStore> openStore() const;
    qint64 seedProject(ProjectStore &store, const ProjectSeed &seed);
    Project storedProject(qint64 id) const;
    // Shows the window on the preview tab, so the preview has its real size.
    bool showPreview();
    PreviewPage *page() const { return m_window->previewPage(); }
    ImpositionPreviewWidget *preview() const { return page()->preview(); }
    QString caption() const { return preview()->captionText(); }
    void setPage(int number) { page()->pageNumberBox()->setValue(number); }

    WindowFolders m_folders;
    std::shared_ptr<DialogScript> m_script;
    std::unique_ptr<MainWindow> m_window;
};

void TestPreviewPage::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestPreviewPage::init()
{
    QVERIFY(m_folders.create());
    m_script = std::make_shared<DialogScript>();
}

void TestPreviewPage::cleanup()
{
    m_window.reset();
    m_folders.remove();
}

std::unique_ptr<ProjectStore> TestPreviewPage::openStore() const
{
    return openTestStore(m_folders.databasePath);
}

qint64 TestPreviewPage::seedProject(ProjectStore &store, const ProjectSeed &seed)
{
    QString error;
    std::optional<Project> project = store.createProject(seed.name, &error);
    if (!project) {
        qWarning("cannot create the project: %s", qPrintable(error));
        return 0;
    }
    project->rows = seed.rows;
    project->columns = seed.columns;
    project->duplex = seed.duplex;
    project->showImpositionBorder = seed.showBorder;
    project->showCropMarks = seed.showCropMarks;
    project->impositionBorderColor = seed.borderColor;
    if (seed.records > 0) {
        const QString csv =
            m_folders.files->filePath(QStringLiteral("records-%1.csv").arg(project->id));
        QFile file(csv);
        if (!file.open(QIODevice::WriteOnly) || file.write(ticketCsv(seed.records)) < 0)
            return 0;
        file.close();
        if (!upsertDataSource(store, project->id, csv, DataSourceOptions{}, &error)) {
            qWarning("cannot add the data file: %s", qPrintable(error));
            return 0;
        }
        project->dataSourcePath = csv;
    }
    if (!store.updateProject(*project, &error)) {
        qWarning("cannot update the project: %s", qPrintable(error));
        return 0;
    }
    return project->id;
}

bool TestPreviewPage::startWindow(const ProjectSeed &seed)
{
    {
        const auto store = openStore();
        if (seedProject(*store, seed) < 1)
            return false;
    }
    if (!startScriptedWindow(m_window, m_script, m_folders.starter->path()))
        return false;
    return m_window->currentProject().name == seed.name;
}

bool TestPreviewPage::showPreview()
{
    m_window->show();
    m_window->pageTabs()->setCurrentWidget(page());
    m_window->activateWindow();
    return QTest::qWaitForWindowActive(m_window.get());
}

Project TestPreviewPage::storedProject(qint64 id) const
{
    return storedProjectIn(m_folders.databasePath, id);
}

void TestPreviewPage::pageControls()
{
    QVERIFY(startWindow());
    QCOMPARE(m_window->pageTabs()->widget(1), page());
    QCOMPARE(m_window->pageTabs()->tabText(1), QStringLiteral("Imposition Preview"));

    const auto *title = page()->findChild<QLabel *>(QStringLiteral("pageTitle"));
    QVERIFY(title);
    QCOMPARE(title->text(), QStringLiteral("Imposition Preview"));

    QComboBox *order = page()->orderSelector();
    QCOMPARE(order->count(), 2);
    QCOMPARE(order->itemText(0), QStringLiteral("Standard Order (continuous on sheet)"));
    QCOMPARE(order->itemData(0).toBool(), false);
    QCOMPARE(order->itemText(1), QStringLiteral("Cut-Stack (continuous after cutting and stacking)"));
    QCOMPARE(order->itemData(1).toBool(), true);
    QCOMPARE(order->minimumWidth(), 220);
    QCOMPARE(order->maximumWidth(), 300);

    QStringList sideTexts;
    for (const QPushButton *button :
         page()->findChildren<QPushButton *>(QStringLiteral("previewSideButton"))) {
        QVERIFY(button->isCheckable());
        sideTexts << button->text();
    }
    QCOMPARE(sideTexts, (QStringList{"All", "Front", "Back"}));
    QVERIFY(page()->frontButton()->isChecked());

    const QSpinBox *number = page()->pageNumberBox();
    QCOMPARE(number->objectName(), QStringLiteral("sheetPage"));
    QCOMPARE(number->buttonSymbols(), QAbstractSpinBox::NoButtons);
    QCOMPARE(number->alignment(), Qt::AlignCenter);
    QCOMPARE(number->minimumWidth(), 56);
    QCOMPARE(number->maximumWidth(), 56);
    QCOMPARE(page()->pageTotalLabel()->objectName(), QStringLiteral("sheetTotal"));

    const auto navigation = page()->findChildren<QPushButton *>(QStringLiteral("sheetNavButton"));
    QCOMPARE(navigation.size(), 2);
    QCOMPARE(page()->previousButton()->text(), QStringLiteral("<"));
    QCOMPARE(page()->previousButton()->toolTip(), QStringLiteral("Previous page (mouse wheel up)"));
    QCOMPARE(page()->nextButton()->text(), QStringLiteral(">"));
    QCOMPARE(page()->nextButton()->toolTip(), QStringLiteral("Next page (mouse wheel down)"));

    QCOMPARE(page()->zoomLabel()->objectName(), QStringLiteral("previewZoomLabel"));
    QCOMPARE(page()->zoomLabel()->text(), QStringLiteral("Zoom 100% (Ctrl+wheel)"));

    const auto options = page()->findChildren<QPushButton *>(QStringLiteral("previewOptionButton"));
    QCOMPARE(options.size(), 3);
    QCOMPARE(page()->borderButton()->text(), QStringLiteral("Border"));
    QVERIFY(page()->borderButton()->isCheckable());
    QCOMPARE(page()->borderButton()->minimumWidth(), 78);
    QCOMPARE(page()->colorButton()->text(), QStringLiteral("Color"));
    QVERIFY(!page()->colorButton()->isCheckable());
    QCOMPARE(page()->colorButton()->minimumWidth(), 78);
    QCOMPARE(page()->colorButton()->iconSize(), QSize(16, 16));
    QCOMPARE(page()->cropMarksButton()->text(), QStringLiteral("Crop marks"));
    QVERIFY(page()->cropMarksButton()->isCheckable());
    QCOMPARE(page()->cropMarksButton()->minimumWidth(), 100);

    QCOMPARE(preview()->focusPolicy(), Qt::StrongFocus);
    QVERIFY(preview()->autoFillBackground());
}

void TestPreviewPage::printPages_data()
{
    QTest::addColumn<bool>("duplex");
    QTest::addColumn<QString>("sides");
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("pageNumber");
    QTest::addColumn<int>("sheet");
    QTest::addColumn<QString>("side");

    // 10 records on a 2 × 2 grid fill 3 sheets.
    QTest::newRow("single-sided, page 2") << false << "Front" << 3 << 2 << 1 << "front";
    QTest::newRow("duplex All, page 4 is back of sheet 2") << true << "All" << 6 << 4 << 1 << "back";
    QTest::newRow("duplex All, page 5 is front of sheet 3") << true << "All" << 6 << 5 << 2 << "front";
    QTest::newRow("duplex Front") << true << "Front" << 3 << 3 << 2 << "front";
    QTest::newRow("duplex Back") << true << "Back" << 3 << 2 << 1 << "back";
}

void TestPreviewPage::printPages()
{
    QFETCH(bool, duplex);
    QFETCH(QString, sides);
    QFETCH(int, pages);
    QFETCH(int, pageNumber);
    QFETCH(int, sheet);
    QFETCH(QString, side);

    ProjectSeed seed;
    seed.duplex = duplex;
    QVERIFY(startWindow(seed));
    for (QPushButton *button : {page()->allButton(), page()->frontButton(), page()->backButton()}) {
        if (button->text() == sides)
            button->click();
    }

    QCOMPARE(page()->pageNumberBox()->maximum(), pages);
    QCOMPARE(page()->pageTotalLabel()->text(), QStringLiteral("%1 pages total").arg(pages));
    QCOMPARE(page()->recordCountLabel()->text(), QStringLiteral("Card records  10"));
    QCOMPARE(page()->sheetCountLabel()->text(), QStringLiteral("Sheets  3"));

    setPage(pageNumber);
    const SheetData &data = preview()->composer().sheetData();
    QCOMPARE(data.layout, (ImpositionLayout{10, 2, 2}));
    QCOMPARE(data.sheetIndex, sheet);
    QCOMPARE(data.side, side);
    QCOMPARE(data.printPageIndex, pageNumber - 1);
    QCOMPARE(data.printPageCount, pages);
    QCOMPARE(data.records.size(), 10);
    QCOMPARE(data.records.value(9, QStringLiteral("Name")).toString(), QStringLiteral("Name 10"));

    const QString sideText =
        side == QLatin1String("back") ? QStringLiteral("Back (horizontal mirror alignment)")
                                      : QStringLiteral("Front");
    QCOMPARE(caption(), QStringLiteral("Print page %1 / %2 · Sheet %3 / 3 · 420.00 × 297.00 mm · "
                                       "Standard Order (continuous on sheet) · %4")
                            .arg(pageNumber)
                            .arg(pages)
                            .arg(sheet + 1)
                            .arg(sideText));
}

void TestPreviewPage::sideButtonsFollowDuplex()
{
    QVERIFY(startWindow());
    QVERIFY(page()->allButton()->isHidden());
    QVERIFY(page()->backButton()->isHidden());
    QVERIFY(!page()->frontButton()->isHidden());

    m_window->setDuplexMode(true);
    QVERIFY(!page()->allButton()->isHidden());
    QVERIFY(!page()->backButton()->isHidden());
    page()->allButton()->click();
    QCOMPARE(page()->pageNumberBox()->maximum(), 6);

    // Back to single-sided: the hidden "All" must not keep doubling the pages.
    m_window->setDuplexMode(false);
    QVERIFY(page()->allButton()->isHidden());
    QVERIFY(page()->backButton()->isHidden());
    QVERIFY(page()->frontButton()->isChecked());
    QCOMPARE(page()->pageNumberBox()->maximum(), 3);
    QCOMPARE(page()->pageTotalLabel()->text(), QStringLiteral("3 pages total"));
}

void TestPreviewPage::noRecords()
{
    ProjectSeed seed;
    seed.records = 0;
    QVERIFY(startWindow(seed));

    QCOMPARE(page()->pageNumberBox()->minimum(), 1);
    QCOMPARE(page()->pageNumberBox()->maximum(), 1);
    QVERIFY(!page()->previousButton()->isEnabled());
    QVERIFY(!page()->nextButton()->isEnabled());
    QCOMPARE(page()->pageTotalLabel()->text(), QStringLiteral("0 pages total"));
    QCOMPARE(page()->recordCountLabel()->text(), QStringLiteral("Card records  0"));
    QCOMPARE(page()->sheetCountLabel()->text(), QStringLiteral("Sheets  0"));
    QCOMPARE(preview()->composer().sheetData().layout.recordCount, 0);
}

void TestPreviewPage::pagingAtTheLimits()
{
    QVERIFY(startWindow());
    QPushButton *previous = page()->previousButton();
    QPushButton *next = page()->nextButton();
    QCOMPARE(page()->pageNumberBox()->value(), 1);
    QVERIFY(!previous->isEnabled());
    QVERIFY(next->isEnabled());

    next->click();
    QCOMPARE(page()->pageNumberBox()->value(), 2);
    QVERIFY(previous->isEnabled());
    QVERIFY(next->isEnabled());
    QVERIFY(caption().startsWith(QStringLiteral("Print page 2 / 3 · Sheet 2 / 3")));

    // Wheel down is the next page; on the last page it stays there.
    sendWheel(preview(), -120);
    QCOMPARE(page()->pageNumberBox()->value(), 3);
    QVERIFY(previous->isEnabled());
    QVERIFY(!next->isEnabled());
    sendWheel(preview(), -120);
    QCOMPARE(page()->pageNumberBox()->value(), 3);
    QCOMPARE(preview()->composer().sheetData().sheetIndex, 2);

    sendWheel(preview(), 120);
    QCOMPARE(page()->pageNumberBox()->value(), 2);
    // A touchpad reports pixels only; a wheel event without movement is not ours.
    QVERIFY(sendWheel(preview(), 0, Qt::NoModifier, 8));
    QCOMPARE(page()->pageNumberBox()->value(), 1);
    QVERIFY(sendWheel(preview(), 0, Qt::NoModifier, -8));
    QCOMPARE(page()->pageNumberBox()->value(), 2);
    QSignalSpy pageSpy(preview(), &ImpositionPreviewWidget::sheetChangeRequested);
    QVERIFY(!sendWheel(preview(), 0));
    QCOMPARE(pageSpy.size(), 0);
    previous->click();
    QCOMPARE(page()->pageNumberBox()->value(), 1);
    QVERIFY(!previous->isEnabled());
    // Paging never zooms.
    QCOMPARE(preview()->zoom(), 1.0);
}

void TestPreviewPage::sideButtonRestartsOrderKeepsPage()
{
    ProjectSeed seed;
    seed.duplex = true;
    QVERIFY(startWindow(seed));
    page()->allButton()->click();
    setPage(4);

    page()->orderSelector()->setCurrentIndex(1);
    QCOMPARE(page()->pageNumberBox()->value(), 4);
    const SheetData &data = preview()->composer().sheetData();
    QVERIFY(data.cutStack);
    QCOMPARE(data.sheetIndex, 1);
    QCOMPARE(data.side, QStringLiteral("back"));
    QVERIFY(caption().contains(QStringLiteral(" · Cut-Stack (continuous after cutting and stacking) · ")));

    page()->backButton()->click();
    QCOMPARE(page()->pageNumberBox()->value(), 1);
    QCOMPARE(page()->pageNumberBox()->maximum(), 3);
    QCOMPARE(preview()->composer().sheetData().sheetIndex, 0);
    QCOMPARE(preview()->composer().sheetData().side, QStringLiteral("back"));
    QVERIFY(preview()->composer().sheetData().cutStack);
}

void TestPreviewPage::ctrlWheelZoom_data()
{
    QTest::addColumn<int>("steps"); // positive: wheel up
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("emissions");

    QTest::newRow("up 6 times: 1.12^6") << 6 << 197 << 6;
    // 1.12^12 is 3.90; the 13th step reaches the 4.0 limit, the 14th changes nothing.
    QTest::newRow("up 13 times") << 13 << 400 << 13;
    QTest::newRow("up 14 times") << 14 << 400 << 13;
    // 1 / 1.12^6 is 0.507; the 7th step stops at 0.5.
    QTest::newRow("down 6 times") << -6 << 51 << 6;
    QTest::newRow("down 8 times") << -8 << 50 << 7;
}

void TestPreviewPage::ctrlWheelZoom()
{
    QFETCH(int, steps);
    QFETCH(int, percent);
    QFETCH(int, emissions);

    QVERIFY(startWindow());
    QVERIFY(showPreview());
    setPage(2);
    const QSizeF physical = preview()->sheetRect().size();
    // 420 mm at the screen's resolution.
    QCOMPARE(physical.width(), preview()->logicalDpiX() / 25.4 * 420);
    QSignalSpy zoomSpy(preview(), &ImpositionPreviewWidget::zoomChanged);
    QSignalSpy pageSpy(preview(), &ImpositionPreviewWidget::sheetChangeRequested);

    for (int i = 0; i < std::abs(steps); ++i)
        sendWheel(preview(), steps > 0 ? 120 : -120, Qt::ControlModifier);

    QCOMPARE(zoomSpy.size(), emissions);
    QCOMPARE(zoomSpy.last().at(0).toInt(), percent);
    QCOMPARE(page()->zoomLabel()->text(), QStringLiteral("Zoom %1% (Ctrl+wheel)").arg(percent));
    QCOMPARE(pageSpy.size(), 0);
    QCOMPARE(page()->pageNumberBox()->value(), 2);
    QCOMPARE(qRound(preview()->zoom() * 100), percent);
    QCOMPARE(preview()->sheetRect().width(), physical.width() * preview()->zoom());
    QCOMPARE(preview()->sheetRect().height(), physical.height() * preview()->zoom());

    // A refresh keeps the zoom.
    m_window->refreshPreview();
    QCOMPARE(qRound(preview()->zoom() * 100), percent);
}

void TestPreviewPage::spaceDragPans_data()
{
    QTest::addColumn<bool>("releaseSpaceFirst");
    QTest::addColumn<Qt::CursorShape>("finalCursor");

    QTest::newRow("button released first") << false << Qt::OpenHandCursor;
    QTest::newRow("Space released first") << true << Qt::ArrowCursor;
}

void TestPreviewPage::spaceDragPans()
{
    QFETCH(bool, releaseSpaceFirst);
    QFETCH(Qt::CursorShape, finalCursor);

    QVERIFY(startWindow());
    QVERIFY(showPreview());
    ImpositionPreviewWidget *widget = preview();
    const QRectF before = widget->sheetRect();
    const QPoint start(100, 120);

    // Without Space a drag does nothing to the sheet.
    sendMouse(widget, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    QVERIFY(widget->hasFocus());
    sendMouse(widget, QEvent::MouseMove, start + QPoint(40, 40), Qt::NoButton, Qt::LeftButton);
    sendMouse(widget, QEvent::MouseButtonRelease, start + QPoint(40, 40), Qt::LeftButton,
              Qt::NoButton);
    QCOMPARE(widget->panOffset(), QPointF());

    QTest::keyPress(widget, Qt::Key_Space);
    QCOMPARE(widget->cursor().shape(), Qt::OpenHandCursor);
    sendMouse(widget, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(widget->cursor().shape(), Qt::ClosedHandCursor);
    sendMouse(widget, QEvent::MouseMove, start + QPoint(30, 20), Qt::NoButton, Qt::LeftButton);
    sendMouse(widget, QEvent::MouseMove, start + QPoint(25, -15), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(widget->panOffset(), QPointF(25, -15));
    QCOMPARE(widget->sheetRect(), before.translated(25, -15));

    if (releaseSpaceFirst) {
        QTest::keyRelease(widget, Qt::Key_Space);
        QCOMPARE(widget->cursor().shape(), Qt::ClosedHandCursor);
    }
    // The drag goes on until the button is let go.
    sendMouse(widget, QEvent::MouseMove, start + QPoint(35, -15), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(widget->panOffset(), QPointF(35, -15));
    sendMouse(widget, QEvent::MouseButtonRelease, start + QPoint(35, -15), Qt::LeftButton,
              Qt::NoButton);
    QCOMPARE(widget->cursor().shape(), finalCursor);

    // After the drag, moves no longer pan; a refresh keeps the offset.
    sendMouse(widget, QEvent::MouseMove, start + QPoint(90, 90), Qt::NoButton, Qt::NoButton);
    m_window->refreshPreview();
    QCOMPARE(widget->panOffset(), QPointF(35, -15));
    if (!releaseSpaceFirst) {
        QTest::keyRelease(widget, Qt::Key_Space);
        QCOMPARE(widget->cursor().shape(), Qt::ArrowCursor);
    }
}

void TestPreviewPage::spaceForgottenWhenFocusLeaves()
{
    QVERIFY(startWindow());
    QVERIFY(showPreview());
    ImpositionPreviewWidget *widget = preview();
    widget->setFocus();
    QTest::keyPress(widget, Qt::Key_Space);
    QCOMPARE(widget->cursor().shape(), Qt::OpenHandCursor);

    // Space is let go while another widget has the keyboard.
    page()->pageNumberBox()->setFocus();
    QVERIFY(!widget->hasFocus());
    QCOMPARE(widget->cursor().shape(), Qt::ArrowCursor);

    const QPoint start(100, 120);
    sendMouse(widget, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    sendMouse(widget, QEvent::MouseMove, start + QPoint(40, 40), Qt::NoButton, Qt::LeftButton);
    sendMouse(widget, QEvent::MouseButtonRelease, start + QPoint(40, 40), Qt::LeftButton,
              Qt::NoButton);
    QCOMPARE(widget->panOffset(), QPointF());
}

void TestPreviewPage::markOptionsChangeProjectRecord_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("Border") << "Border";
    QTest::newRow("Crop marks") << "Crop marks";
}

void TestPreviewPage::markOptionsChangeProjectRecord()
{
    QFETCH(QString, button);
    const bool border = button == QLatin1String("Border");

    QVERIFY(startWindow());
    const qint64 id = m_window->currentProject().id;
    QPushButton *toggle = border ? page()->borderButton() : page()->cropMarksButton();
    const auto projectFlag = [&](const Project &project) {
        return border ? project.showImpositionBorder : project.showCropMarks;
    };
    const auto composerFlag = [&] {
        const MarkOptions &marks = preview()->composer().markOptions();
        return border ? marks.showBorder : marks.showCropMarks;
    };
    const bool initial = projectFlag(m_window->currentProject());
    QCOMPARE(toggle->isChecked(), initial);
    QCOMPARE(composerFlag(), initial);

    toggle->click();
    QCOMPARE(projectFlag(m_window->currentProject()), !initial);
    QCOMPARE(composerFlag(), !initial);
    // It prints with the job, so it is stored at once, where the tool reads it.
    QCOMPARE(projectFlag(storedProject(id)), !initial);

    toggle->click();
    QCOMPARE(projectFlag(m_window->currentProject()), initial);
    QCOMPARE(composerFlag(), initial);
    QCOMPARE(projectFlag(storedProject(id)), initial);
    QVERIFY(m_script->shown.isEmpty());
}

// Crop marks on and Border off, then another project opened or the window
// closed: nothing is asked and nothing is lost.
void TestPreviewPage::markOptionsOutliveSwitchAndClose_data()
{
    QTest::addColumn<bool>("close");
    QTest::newRow("other project opened") << false;
    QTest::newRow("window closed") << true;
}

void TestPreviewPage::markOptionsOutliveSwitchAndClose()
{
    QFETCH(bool, close);
    QVERIFY(startWindow());
    const qint64 id = m_window->currentProject().id;
    ProjectSeed otherSeed;
    otherSeed.name = QStringLiteral("Other Job");
    qint64 otherId = 0;
    {
        const auto store = openStore();
        otherId = seedProject(*store, otherSeed);
    }
    QVERIFY(otherId > 0);
    QVERIFY(page()->borderButton()->isChecked());
    QVERIFY(!page()->cropMarksButton()->isChecked());

    page()->cropMarksButton()->click();
    page()->borderButton()->click();
    m_script->colors = {QColor(0x12, 0x34, 0x56)};
    page()->colorButton()->click();

    if (close) {
        QVERIFY(m_window->close());
    } else {
        m_window->saveSettings(); // refreshes the project list
        const int index = m_window->projectPanel()->projectSelector()->findData(otherId);
        QVERIFY(index >= 0);
        m_window->openSelectedProject(index);
        QCOMPARE(m_window->currentProject().id, otherId);
    }
    QVERIFY2(m_script->shown.isEmpty(), qPrintable(m_script->shown.value(0).text));
    const Project stored = storedProject(id);
    QVERIFY(stored.showCropMarks);
    QVERIFY(!stored.showImpositionBorder);
    QCOMPARE(stored.impositionBorderColor, QStringLiteral("#123456"));
}

// The store refuses the save: the page and the window's record go back to
// what is stored, and the user is told.
void TestPreviewPage::markOptionSaveFailureReverts()
{
    QVERIFY(startWindow());
    const qint64 id = m_window->currentProject().id;
    const Project before = storedProject(id);
    QVERIFY(openStore()->execStatement(QStringLiteral(
        "CREATE TRIGGER keep_projects BEFORE UPDATE ON projects "
        "BEGIN SELECT RAISE(ABORT, 'projects are frozen'); END")));

    page()->cropMarksButton()->click();
    QVERIFY(!page()->cropMarksButton()->isChecked());
    QVERIFY(!m_window->currentProject().showCropMarks);
    QVERIFY(!preview()->composer().markOptions().showCropMarks);
    const QString status = m_window->statusBar()->currentMessage();
    QVERIFY2(status.startsWith(QStringLiteral("Could not save the preview settings: "))
                 && status.contains(QStringLiteral("projects are frozen")),
             qPrintable(status));

    page()->borderButton()->click();
    QVERIFY(page()->borderButton()->isChecked());
    QVERIFY(m_window->currentProject().showImpositionBorder);

    m_script->colors = {QColor(0x12, 0x34, 0x56)};
    page()->colorButton()->click();
    QCOMPARE(m_window->currentProject().impositionBorderColor, before.impositionBorderColor);
    QCOMPARE(page()->colorButton()->icon().pixmap(16, 16).toImage().pixelColor(8, 8),
             QColor(before.impositionBorderColor));
    QCOMPARE(storedProject(id), before);
}

void TestPreviewPage::borderColorChoice()
{
    QVERIFY(startWindow());
    const auto swatch = [this] {
        return page()->colorButton()->icon().pixmap(16, 16).toImage().pixelColor(8, 8);
    };
    QCOMPARE(swatch(), QColor(Qt::black));

    m_script->colors = {QColor(0xA1, 0xB2, 0xC3)};
    page()->colorButton()->click();
    QCOMPARE(m_script->colorRequests.size(), 1);
    QCOMPARE(m_script->colorRequests.at(0).title, QStringLiteral("Choose Imposition Border Color"));
    QCOMPARE(m_script->colorRequests.at(0).initial, QColor(Qt::black));
    QCOMPARE(m_window->currentProject().impositionBorderColor, QStringLiteral("#a1b2c3"));
    QCOMPARE(preview()->composer().markOptions().borderColor, QColor(0xa1, 0xb2, 0xc3));
    QCOMPARE(swatch(), QColor(0xa1, 0xb2, 0xc3));

    // Cancelled: the dialog started from the current colour, nothing changes.
    page()->colorButton()->click();
    QCOMPARE(m_script->colorRequests.size(), 2);
    QCOMPARE(m_script->colorRequests.at(1).initial, QColor(0xa1, 0xb2, 0xc3));
    QCOMPARE(m_window->currentProject().impositionBorderColor, QStringLiteral("#a1b2c3"));
    QCOMPARE(swatch(), QColor(0xa1, 0xb2, 0xc3));
    QVERIFY2(m_script->shown.isEmpty(), qPrintable(m_script->shown.value(0).text));
}

void TestPreviewPage::projectSwitchShowsItsOptions()
{
    QVERIFY(startWindow());
    QVERIFY(page()->borderButton()->isChecked());
    QVERIFY(!page()->cropMarksButton()->isChecked());

    ProjectSeed other;
    other.name = QStringLiteral("Duplex Job");
    other.duplex = true;
    other.showBorder = false;
    other.showCropMarks = true;
    other.borderColor = QStringLiteral("#ff0000");
    other.records = 5;
    qint64 otherId = 0;
    {
        const auto store = openStore();
        otherId = seedProject(*store, other);
    }
    QVERIFY(otherId > 0);
    m_window->saveSettings(); // refreshes the project list
    QComboBox *selector = m_window->projectPanel()->projectSelector();
    const int index = selector->findData(otherId);
    QVERIFY(index >= 0);
    m_window->openSelectedProject(index);
    QCOMPARE(m_window->currentProject().id, otherId);

    QVERIFY(!page()->borderButton()->isChecked());
    QVERIFY(page()->cropMarksButton()->isChecked());
    QVERIFY(!page()->allButton()->isHidden());
    QVERIFY(!page()->backButton()->isHidden());
    QCOMPARE(page()->colorButton()->icon().pixmap(16, 16).toImage().pixelColor(8, 8),
             QColor(Qt::red));
    // Shown only: the switch wrote nothing back into the record.
    QCOMPARE(m_window->currentProject(), storedProject(otherId));
    const MarkOptions &marks = preview()->composer().markOptions();
    QVERIFY(!marks.showBorder);
    QVERIFY(marks.showCropMarks);
    QCOMPARE(marks.borderColor, QColor(Qt::red));
    QCOMPARE(page()->recordCountLabel()->text(), QStringLiteral("Card records  5"));
    QCOMPARE(page()->sheetCountLabel()->text(), QStringLiteral("Sheets  2"));
}

void TestPreviewPage::sheetIsPainted()
{
    QVERIFY(startWindow());
    ProjectPanel *panel = m_window->projectPanel();
    // A small sheet fits the offscreen window at its physical size.
    panel->cardWidthBox()->setValue(40);
    panel->cardHeightBox()->setValue(30);
    panel->sheetWidthBox()->setValue(100);
    panel->sheetHeightBox()->setValue(80);
    QVERIFY(showPreview());

    const QRectF sheet = preview()->sheetRect();
    QVERIFY2(QRectF(preview()->rect()).contains(sheet),
             qPrintable(QStringLiteral("the sheet does not fit the preview: %1 × %2 px")
                            .arg(sheet.width())
                            .arg(sheet.height())));
    const double k = sheet.width() / 100;
    QVERIFY(qAbs(sheet.height() / 80 - k) < 0.01);
    // Two 40 mm columns and two 30 mm rows, centred on the sheet.
    const double left = sheet.center().x() - 40 * k;
    const double top = sheet.center().y() - 30 * k;
    const int lineY = qRound(top + 15 * k); // the middle of the first row
    const int lineX = qRound(left + 20 * k); // the middle of the first column

    // The strongest colour within a pixel of the left grid edge.
    const auto leftEdge = [&](const QImage &image) {
        QRgb strongest = qRgb(255, 255, 255);
        for (int x = qFloor(left) - 1; x <= qCeil(left) + 1; ++x) {
            const QRgb pixel = image.pixel(x, lineY);
            if (darkness(pixel) > darkness(strongest))
                strongest = pixel;
        }
        return strongest;
    };

    QImage image = preview()->grab().toImage();
    QCOMPARE(image.size(), preview()->size());
    QCOMPARE(image.pixelColor(5, image.height() - 5), QColor(0xf3, 0xf4, 0xf6));
    QCOMPARE(image.pixelColor(lineX, lineY), QColor(Qt::white));
    QVERIFY2(darkness(leftEdge(image)) > 80, "no border line at the grid's left edge");
    // Nothing dark just left of the grid: the 10 mm paper margin is white.
    QCOMPARE(image.pixelColor(qRound(left - 5 * k), lineY), QColor(Qt::white));

    m_script->colors = {QColor(Qt::red)};
    page()->colorButton()->click();
    image = preview()->grab().toImage();
    const QRgb red = leftEdge(image);
    QVERIFY2(qRed(red) > 200 && qGreen(red) < 180 && qBlue(red) < 180,
             qPrintable(QStringLiteral("the border is not red: %1").arg(QColor(red).name())));

    page()->borderButton()->click();
    image = preview()->grab().toImage();
    QVERIFY2(darkness(leftEdge(image)) < 20, "the border is still painted");
}

void TestPreviewPage::refreshOnTabSwitch()
{
    QVERIFY(startWindow());
    QCOMPARE(page()->sheetCountLabel()->text(), QStringLiteral("Sheets  3"));
    // Adding a field redraws the sheets; moving a text field does not, but
    // shows when the page is opened.
    CanvasEditor *editor = m_window->canvasEditor();
    editor->addElement(ElementKind::Text);
    QCOMPARE(preview()->composer().sheetData().fields.size(), 1);
    TemplateField moved = editor->document().fields().first();
    moved.xMm += 7;
    emit editor->page()->frontCanvas()->fieldEdited(moved);
    QCOMPARE(editor->document().fields().first().xMm, moved.xMm);
    QVERIFY(preview()->composer().sheetData().fields.first().xMm != moved.xMm);
    m_window->pageTabs()->setCurrentIndex(2);
    m_window->pageTabs()->setCurrentIndex(1);
    QCOMPARE(preview()->composer().sheetData().fields.first().xMm, moved.xMm);
}

QTEST_MAIN(TestPreviewPage)
#include "tst_previewpage.moc"
