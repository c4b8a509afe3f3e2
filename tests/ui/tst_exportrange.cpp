#include "scripteddialogs.h"
#include "windowfixture.h"

#include "app/dataimport.h"
#include "render/jobselection.h"
#include "render/pdfexport.h"
#include "store/projectstore.h"
#include "ui/exportrangedialog.h"
#include "ui/impositionpreviewwidget.h"
#include "ui/mainwindow.h"
#include "ui/previewpage.h"
#include "ui/projectpanel.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(PrintChoice)

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

// The newest project in the database before the window starts.
struct ProjectSeed
{
    QString name = QStringLiteral("Range Job");
    QByteArray csv;
    QString csvName = QStringLiteral("records.csv");
    int rows = 2;
    int columns = 2;
    bool duplex = false;
    QList<TemplateField> fields;
};

TemplateField qrField(const QString &column)
{
    TemplateField field;
    field.side = CardSide::Front;
    field.type = ElementKind::QrCode;
    field.dataColumn = column;
    field.xMm = 5;
    field.yMm = 5;
    field.widthMm = 40;
    field.heightMm = 40;
    return field;
}

TemplateField code128Field(const QString &side, const QString &column)
{
    TemplateField field;
    field.side = cardSideFromKey(side);
    field.type = ElementKind::Barcode;
    field.barcodeFormat = BarcodeFormat::Code128;
    field.dataColumn = column;
    field.xMm = 5;
    field.yMm = 15;
    field.widthMm = 80;
    field.heightMm = 20;
    return field;
}

// "Pages" as pdfinfo reads it; empty when pdfinfo cannot read the file.
QString pdfPages(const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("pdfinfo"), {path});
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return QString();
    for (const QString &line : QString::fromUtf8(process.readAllStandardOutput()).split(u'\n')) {
        if (line.startsWith(QStringLiteral("Pages:")))
            return line.mid(6).trimmed();
    }
    return QString();
}

// What zbarimg finds in each slot of page `page` (from 1) of `pdf`, row-major:
// "QR-Code:T1" or "CODE-128:T1" (several joined by a space, sorted), empty
// for a slot where nothing decodes. The grid of `rows` × `columns` 90 × 54 mm
// cards is centred on the 420 × 297 mm sheet; each slot is read alone, 1 mm
// inside its edges.
QStringList slotCodes(const QString &pdf, int page, int rows, int columns)
{
    constexpr int dpi = 200;
    QTemporaryDir images;
    const QString stem = images.filePath(QStringLiteral("page"));
    QProcess::execute(QStringLiteral("pdftoppm"),
                      {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"), QString::number(page),
                       QStringLiteral("-l"), QString::number(page), QStringLiteral("-singlefile"),
                       QStringLiteral("-png"), pdf, stem});
    const QImage image(stem + QStringLiteral(".png"));
    if (image.isNull())
        return {QStringLiteral("(page %1 not rendered)").arg(page)};
    const double k = dpi / 25.4;
    const double left = (420 - columns * 90) / 2.0;
    const double top = (297 - rows * 54) / 2.0;
    QStringList found;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const QRectF mm(left + column * 90 + 1, top + row * 54 + 1, 88, 52);
            const QRect pixels(qRound(mm.x() * k), qRound(mm.y() * k), qRound(mm.width() * k),
                               qRound(mm.height() * k));
            const QString slotFile = images.filePath(QStringLiteral("slot-%1-%2.png").arg(row).arg(column));
            if (!image.copy(pixels).save(slotFile))
                return {QStringLiteral("(slot not saved)")};
            QProcess zbar;
            zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("-q"), slotFile});
            zbar.waitForFinished(30000);
            QStringList codes =
                QString::fromUtf8(zbar.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
            codes.sort();
            found << codes.join(u' ');
        }
    }
    return found;
}

// "Name n" for the cards on sheet `sheet` (from 0) of a standard-order job
// of `cardsPerSheet` slots, sorted as pageCodes sorts them.
QStringList namesOnSheet(int sheet, int cardsPerSheet, int cardCount)
{
    QStringList names;
    for (int card = sheet * cardsPerSheet + 1; card <= std::min((sheet + 1) * cardsPerSheet, cardCount); ++card)
        names << QStringLiteral("Name %1").arg(card);
    names.sort();
    return names;
}

// What an assistive tool reads for a widget.
QString accessibleName(QWidget *widget)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    return iface ? iface->text(QAccessible::Name) : QString();
}

// A job of 37 cards on 2 × 3 in cut-stack order, both sides: 7 sheets.
PdfExportJob reprintJob()
{
    PdfExportJob job;
    job.layout = ImpositionLayout{37, 2, 3};
    job.cutStack = true;
    job.duplex = true;
    return job;
}

PrintChoice cardsChoice(const QString &cards, int sheetsPerFile = 0)
{
    PrintChoice choice;
    choice.mode = PrintChoice::Mode::Cards;
    choice.cards = cards;
    choice.sheetsPerFile = sheetsPerFile;
    return choice;
}

PrintChoice sheetsChoice(const QString &sheets, int sheetsPerFile = 0)
{
    PrintChoice choice;
    choice.mode = PrintChoice::Mode::Sheets;
    choice.sheets = sheets;
    choice.sheetsPerFile = sheetsPerFile;
    return choice;
}

// Types `text` into a spin box over what it holds, as a user would.
void typeInto(QSpinBox *box, const QString &text)
{
    box->selectAll();
    QTest::keyClicks(box, text);
}

} // namespace

class TestExportRange : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void dialogLine_data();
    void dialogLine();
    void sheetBoxesHoldToTheJob_data();
    void sheetBoxesHoldToTheJob();
    void dialogStartsFromTheKeptChoice_data();
    void dialogStartsFromTheKeptChoice();
    void dialogControlsAreNamed();
    void previewLine_data();
    void previewLine();

    void reprintThroughTheWindow();
    void splitThroughTheWindow_data();
    void splitThroughTheWindow();
    void blankCodesOnEveryVariant_data();
    void blankCodesOnEveryVariant();
    void splitRefusesAProjectFile();
    void badChoiceIsNotWritten();
    void checkJudgesThePrintedCards_data();
    void checkJudgesThePrintedCards();
    void showInPreviewAndShowAllCards();
    void keptChoiceThatNoLongerFits();
    void anotherProjectStartsOver();

private:
    bool startWindow(const ProjectSeed &seed);
    qint64 seedProject(ProjectStore &store, const ProjectSeed &seed);
    // The 37-card cut-stack duplex job on 2 × 3 with a QR code of the ticket
    // on the front and a Code 128 of it on the back.
    bool startReprintWindow();
    QString status() const { return m_window->statusBar()->currentMessage(); }
    PreviewPage *page() const { return m_window->previewPage(); }

    WindowFolders m_folders;
    std::shared_ptr<DialogScript> m_script;
    std::unique_ptr<MainWindow> m_window;
};

void TestExportRange::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty())
        QFAIL("poppler's pdfinfo and pdftoppm and zbarimg are needed to read the exported files");
}

void TestExportRange::init()
{
    QVERIFY(m_folders.create());
    m_script = std::make_shared<DialogScript>();
    m_script->unscriptedAnswer = QMessageBox::Ok;
}

void TestExportRange::cleanup()
{
    m_window.reset();
    m_folders.remove();
}

qint64 TestExportRange::seedProject(ProjectStore &store, const ProjectSeed &seed)
{
    QString error;
    std::optional<Project> project = store.createProject(seed.name, &error);
    if (!project)
        return 0;
    project->rows = seed.rows;
    project->columns = seed.columns;
    project->duplex = seed.duplex;
    if (!seed.csv.isEmpty()) {
        const QString csv = m_folders.files->filePath(seed.csvName);
        if (!writeFile(csv, seed.csv) || !upsertDataSource(store, project->id, csv, DataSourceOptions{}, &error))
            return 0;
        project->dataSourcePath = csv;
    }
    for (TemplateField field : seed.fields) {
        field.projectId = project->id;
        if (!store.insertElement(&field, &error))
            return 0;
    }
    if (!store.updateProject(*project, &error))
        return 0;
    return project->id;
}

bool TestExportRange::startWindow(const ProjectSeed &seed)
{
    {
        const auto store = openTestStore(m_folders.databasePath);
        if (seedProject(*store, seed) < 1)
            return false;
    }
    return startScriptedWindow(m_window, m_script, m_folders.starter->path())
           && m_window->currentProject().name == seed.name;
}

bool TestExportRange::startReprintWindow()
{
    ProjectSeed seed;
    seed.csv = ticketCsv(37);
    seed.rows = 2;
    seed.columns = 3;
    seed.duplex = true;
    seed.fields = {qrField(QStringLiteral("Ticket")), code128Field(QStringLiteral("back"), QStringLiteral("Ticket"))};
    if (!startWindow(seed))
        return false;
    page()->orderSelector()->setCurrentIndex(1);
    return page()->cutStack();
}

// ----------------------------------------------------------------------------
// The dialog on its own

void TestExportRange::dialogLine_data()
{
    QTest::addColumn<QString>("mode"); // "all", "cards" or "sheets"
    QTest::addColumn<QString>("typed"); // the card list, or the first and last sheet "3 5"
    QTest::addColumn<int>("split");     // 0: no split
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("exportable");

    // 37 cards on 2 × 3, cut-stack, duplex: 7 sheets, stacks of 7, 6, 6, 6, 6, 6.
    QTest::newRow("all cards") << "all" << "" << 0 << "7 sheets (14 pages)" << true;
    QTest::newRow("all cards, split every 3") << "all" << "" << 3 << "7 sheets (14 pages), 3 files" << true;
    QTest::newRow("reprint of four cards") << "cards" << "1,8,14,37" << 0 << "2 sheets (4 pages)" << true;
    QTest::newRow("one stack's cards") << "cards" << "1-6" << 0 << "6 sheets (12 pages)" << true;
    QTest::newRow("spaces and overlaps") << "cards" << " 2 - 4 , 3, 9 " << 2 << "3 sheets (6 pages), 2 files" << true;
    QTest::newRow("the last card") << "cards" << "37" << 1 << "1 sheet (2 pages), 1 file" << true;
    QTest::newRow("card 0") << "cards" << "0" << 0 << "Card list: \"0\": cards are numbered from 1" << false;
    QTest::newRow("backwards") << "cards" << "240-230" << 0
                               << "Card list: \"240-230\" runs backwards; write 230-240" << false;
    QTest::newRow("not a number") << "cards" << "5,x" << 0
                                  << "Card list: \"x\" is not a card number or a range like 3-7" << false;
    QTest::newRow("beyond the job") << "cards" << "30-38" << 0
                                    << "Card list: \"30-38\" is beyond the job's 37 cards" << false;
    QTest::newRow("nothing typed") << "cards" << "" << 0 << "Card list: no cards given" << false;
    QTest::newRow("sheets 3 to 5") << "sheets" << "3 5" << 2 << "3 sheets (6 pages), 2 files" << true;
    QTest::newRow("one sheet") << "sheets" << "7 7" << 0 << "1 sheet (2 pages)" << true;
    QTest::newRow("sheets backwards") << "sheets" << "5 3" << 0
                                      << "Sheet range: \"5-3\" runs backwards; write 3-5" << false;
}

void TestExportRange::dialogLine()
{
    QFETCH(QString, mode);
    QFETCH(QString, typed);
    QFETCH(int, split);
    QFETCH(QString, line);
    QFETCH(bool, exportable);

    ExportRangeDialog dialog(reprintJob(), PrintChoice{});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.allCardsButton()->isChecked());
    QVERIFY(!dialog.splitBox()->isChecked());
    QCOMPARE(dialog.cardListEdit()->placeholderText(), QStringLiteral("17, 230-240, 1001"));

    if (mode == u"cards") {
        QTest::mouseClick(dialog.cardsButton(), Qt::LeftButton);
        QTest::keyClicks(dialog.cardListEdit(), typed);
    } else if (mode == u"sheets") {
        QTest::mouseClick(dialog.sheetsButton(), Qt::LeftButton);
        const QStringList sheets = typed.split(u' ');
        typeInto(dialog.firstSheetBox(), sheets.at(0));
        typeInto(dialog.lastSheetBox(), sheets.at(1));
    }
    if (split > 0) {
        QTest::mouseClick(dialog.splitBox(), Qt::LeftButton);
        typeInto(dialog.sheetsPerFileBox(), QString::number(split));
    }

    QCOMPARE(dialog.summaryLabel()->text(), line);
    QCOMPARE(dialog.exportButton()->isEnabled(), exportable);
    QCOMPARE(dialog.previewButton()->isEnabled(), exportable);
    QVERIFY(dialog.cancelButton()->isEnabled());
    // Only the chosen mode's boxes take input.
    QCOMPARE(dialog.cardListEdit()->isEnabled(), mode == u"cards");
    QCOMPARE(dialog.firstSheetBox()->isEnabled(), mode == u"sheets");
    QCOMPARE(dialog.sheetsPerFileBox()->isEnabled(), split > 0);
    QCOMPARE(dialog.choice().sheetsPerFile, split);

    // Enter presses "Export…", which a bad choice does not get past.
    QWidget *focus = dialog.focusWidget();
    QTest::keyClick(focus ? focus : &dialog, Qt::Key_Return);
    QCOMPARE(dialog.isVisible(), !exportable);
    QCOMPARE(dialog.result(), exportable ? int(QDialog::Accepted) : int(QDialog::Rejected));
}

void TestExportRange::sheetBoxesHoldToTheJob_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("value");

    // The job has 7 sheets; the box starts from 1.
    QTest::newRow("the last sheet") << "7" << 7;
    QTest::newRow("one past the last") << "8" << 1;
    QTest::newRow("two digits") << "12" << 1;
    QTest::newRow("zero") << "0" << 1;
    QTest::newRow("sign") << "-3" << 3;
}

void TestExportRange::sheetBoxesHoldToTheJob()
{
    QFETCH(QString, typed);
    QFETCH(int, value);

    ExportRangeDialog dialog(reprintJob(), sheetsChoice(QStringLiteral("1-7")));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.sheetsButton()->isChecked());
    for (QSpinBox *box : {dialog.firstSheetBox(), dialog.lastSheetBox()}) {
        QCOMPARE(box->minimum(), 1);
        QCOMPARE(box->maximum(), 7);
    }
    typeInto(dialog.firstSheetBox(), typed);
    QTest::keyClick(dialog.firstSheetBox(), Qt::Key_Tab);
    QCOMPARE(dialog.firstSheetBox()->value(), value);
    QCOMPARE(dialog.choice().sheets, QStringLiteral("%1-7").arg(value));
    QVERIFY(dialog.exportButton()->isEnabled());
}

void TestExportRange::dialogStartsFromTheKeptChoice_data()
{
    QTest::addColumn<PrintChoice>("kept");
    QTest::addColumn<QString>("checked"); // the radio button's text
    QTest::addColumn<QString>("cards");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("split"); // 0: not checked
    QTest::addColumn<QString>("line");

    QTest::newRow("all cards") << PrintChoice{} << "All cards" << "" << 1 << 7 << 0 << "7 sheets (14 pages)";
    QTest::newRow("cards, split") << cardsChoice(QStringLiteral("1,8,14,37"), 1) << "Cards…" << "1,8,14,37" << 1 << 7
                                  << 1 << "2 sheets (4 pages), 2 files";
    QTest::newRow("a bad card list stays as typed")
        << cardsChoice(QStringLiteral("40")) << "Cards…" << "40" << 1 << 7 << 0
        << "Card list: \"40\" is beyond the job's 37 cards";
    QTest::newRow("sheets") << sheetsChoice(QStringLiteral("3-5"), 2) << "Sheets from" << "" << 3 << 5 << 2
                            << "3 sheets (6 pages), 2 files";
    // The boxes cannot show sheets the job no longer has.
    QTest::newRow("sheets past the job") << sheetsChoice(QStringLiteral("6-9")) << "Sheets from" << "" << 6 << 7 << 0
                                         << "2 sheets (4 pages)";
}

void TestExportRange::dialogStartsFromTheKeptChoice()
{
    QFETCH(PrintChoice, kept);
    QFETCH(QString, checked);
    QFETCH(QString, cards);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(int, split);
    QFETCH(QString, line);

    const ExportRangeDialog dialog(reprintJob(), kept);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Export Range"));
    QStringList checkedButtons;
    for (QRadioButton *button : {dialog.allCardsButton(), dialog.cardsButton(), dialog.sheetsButton()}) {
        if (button->isChecked())
            checkedButtons << button->text();
    }
    QCOMPARE(checkedButtons, QStringList{checked});
    QCOMPARE(dialog.cardListEdit()->text(), cards);
    QCOMPARE(dialog.firstSheetBox()->value(), first);
    QCOMPARE(dialog.lastSheetBox()->value(), last);
    QCOMPARE(dialog.splitBox()->isChecked(), split > 0);
    if (split > 0)
        QCOMPARE(dialog.sheetsPerFileBox()->value(), split);
    QCOMPARE(dialog.summaryLabel()->text(), line);
}

void TestExportRange::dialogControlsAreNamed()
{
    ExportRangeDialog dialog(reprintJob(), PrintChoice{});
    QCOMPARE(dialog.exportButton()->text(), QStringLiteral("Export…"));
    QCOMPARE(dialog.previewButton()->text(), QStringLiteral("Show in Preview"));
    QCOMPARE(dialog.cancelButton()->text(), QStringLiteral("Cancel"));
    QCOMPARE(dialog.splitBox()->text(), QStringLiteral("Split every"));
    int controls = 0;
    for (QWidget *widget : dialog.findChildren<QWidget *>()) {
        if (!(widget->focusPolicy() & Qt::TabFocus) || qobject_cast<QAbstractSpinBox *>(widget->parentWidget()))
            continue;
        ++controls;
        QVERIFY2(!accessibleName(widget).trimmed().isEmpty(),
                 qPrintable(QStringLiteral("%1 %2").arg(widget->metaObject()->className(), widget->objectName())));
    }
    // Three modes, the list, two sheet boxes, split and its box, three buttons.
    QCOMPARE(controls, 11);
}

void TestExportRange::previewLine_data()
{
    QTest::addColumn<PrintChoice>("choice");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("error");
    QTest::addColumn<QList<int>>("sheets");
    QTest::addColumn<QList<int>>("onlyRecords");

    const QList<int> everySheet{0, 1, 2, 3, 4, 5, 6};
    QTest::newRow("all cards") << PrintChoice{} << "" << false << everySheet << QList<int>{};
    QTest::newRow("split only") << PrintChoice{PrintChoice::Mode::AllCards, {}, {}, 3} << "" << false << everySheet
                                << QList<int>{};
    QTest::newRow("four cards") << cardsChoice(QStringLiteral("1,8,14,37"))
                                << "Showing cards 1, 8, 14, 37 only (2 sheets)" << false << QList<int>{0, 5}
                                << QList<int>{0, 7, 13, 36};
    QTest::newRow("one card") << cardsChoice(QStringLiteral("8")) << "Showing card 8 only (1 sheet)" << false
                              << QList<int>{0} << QList<int>{7};
    QTest::newRow("runs") << cardsChoice(QStringLiteral("1-3,5,6,20-24"))
                          << "Showing cards 1–3, 5, 6, 20–24 only (6 sheets)" << false << QList<int>{0, 1, 2, 3, 4, 5}
                          << QList<int>{0, 1, 2, 4, 5, 19, 20, 21, 22, 23};
    QTest::newRow("long list") << cardsChoice(QStringLiteral("1,3,5,7,9,11,13,15,17,19"))
                               << "Showing cards 1, 3, 5, 7, 9, 11, 13, 15, … only (7 sheets)" << false << everySheet
                               << QList<int>{0, 2, 4, 6, 8, 10, 12, 14, 16, 18};
    QTest::newRow("sheets") << sheetsChoice(QStringLiteral("3-7")) << "Showing sheets 3–7 only" << false
                            << QList<int>{2, 3, 4, 5, 6} << QList<int>{};
    QTest::newRow("one sheet") << sheetsChoice(QStringLiteral("4-4")) << "Showing sheet 4 only" << false
                               << QList<int>{3} << QList<int>{};
    QTest::newRow("card gone") << cardsChoice(QStringLiteral("2,40"))
                               << "Card list: \"40\" is beyond the job's 37 cards" << true << everySheet
                               << QList<int>{};
    QTest::newRow("sheet gone") << sheetsChoice(QStringLiteral("6-8"))
                                << "Sheet range: \"6-8\" is beyond the job's 7 sheets" << true << everySheet
                                << QList<int>{};
}

void TestExportRange::previewLine()
{
    QFETCH(PrintChoice, choice);
    QFETCH(QString, line);
    QFETCH(bool, error);
    QFETCH(QList<int>, sheets);
    QFETCH(QList<int>, onlyRecords);

    const PreviewSelection selection = previewSelection(choice, ImpositionLayout{37, 2, 3}, true);
    QCOMPARE(selection.line, line);
    QCOMPARE(selection.error, error);
    QCOMPARE(selection.sheets, sheets);
    QCOMPARE(selection.onlyRecords, onlyRecords);
}

// ----------------------------------------------------------------------------
// Through the window

// A reprint of four spoiled cards: each comes out in its own slot and on its
// own side of the sheet that held it, every other slot blank paper.
void TestExportRange::reprintThroughTheWindow()
{
    QVERIFY(startReprintWindow());
    const QString path = m_folders.files->filePath(QStringLiteral("reprint.pdf"));
    m_script->savePath = path;
    m_script->exportRangeDialog = [](ExportRangeDialog &dialog) {
        dialog.cardsButton()->click();
        QTest::keyClicks(dialog.cardListEdit(), QStringLiteral("1,8,14,37"));
        dialog.exportButton()->click();
        return dialog.result();
    };

    m_window->exportPdf();

    QCOMPARE(m_script->exportRangeDialogsRun, 1);
    QCOMPARE(m_script->saveRequests.size(), 1);
    QCOMPARE(m_script->shown.size(), 1);
    const ShownBox &box = m_script->shown.first();
    QCOMPARE(box.kind, QStringLiteral("information"));
    QCOMPARE(box.title, QStringLiteral("Export Complete"));
    QCOMPARE(box.text, QStringLiteral("Generated 4 PDF pages:\n%1").arg(QDir::toNativeSeparators(path)));
    QCOMPARE(status(), QStringLiteral("PDF exported: %1 (4 pages)").arg(QDir::toNativeSeparators(path)));

    QCOMPARE(pdfPages(path), QStringLiteral("4"));
    const QString none;
    // Sheet 1: the fronts in slots 1–3, the backs mirrored.
    QCOMPARE(slotCodes(path, 1, 2, 3),
             (QStringList{"QR-Code:T1", "QR-Code:T8", "QR-Code:T14", none, none, none}));
    QCOMPARE(slotCodes(path, 2, 2, 3),
             (QStringList{"CODE-128:T14", "CODE-128:T8", "CODE-128:T1", none, none, none}));
    // Sheet 6: card 37 in front slot 6, its back in slot 4.
    QCOMPARE(slotCodes(path, 3, 2, 3), (QStringList{none, none, none, none, none, "QR-Code:T37"}));
    QCOMPARE(slotCodes(path, 4, 2, 3), (QStringList{none, none, none, "CODE-128:T37", none, none}));

    // The choice is kept: the next export starts from it, and the preview shows it.
    QCOMPARE(page()->selectionLabel()->text(), QStringLiteral("Showing cards 1, 8, 14, 37 only (2 sheets)"));
    PrintChoice offered;
    m_script->exportRangeDialog = [&offered](ExportRangeDialog &dialog) {
        offered = dialog.choice();
        return int(QDialog::Rejected);
    };
    m_window->exportPdf();
    QCOMPARE(offered.mode, PrintChoice::Mode::Cards);
    QCOMPARE(offered.cards, QStringLiteral("1,8,14,37"));
    QCOMPARE(m_script->saveRequests.size(), 1);
}

void TestExportRange::splitThroughTheWindow_data()
{
    QTest::addColumn<bool>("duplex");
    QTest::addColumn<PrintChoice>("choice");
    QTest::addColumn<QList<int>>("firstSheets"); // the first sheet of each file, from 0
    QTest::addColumn<QList<int>>("pages");       // of each file

    // 40 cards on 2 × 2: 10 sheets.
    QTest::newRow("every 4 sheets") << false << PrintChoice{PrintChoice::Mode::AllCards, {}, {}, 4}
                                    << QList<int>{0, 4, 8} << QList<int>{4, 4, 2};
    QTest::newRow("every 4 sheets, duplex") << true << PrintChoice{PrintChoice::Mode::AllCards, {}, {}, 4}
                                            << QList<int>{0, 4, 8} << QList<int>{8, 8, 4};
    QTest::newRow("sheets 3-9 every 3") << false << sheetsChoice(QStringLiteral("3-9"), 3) << QList<int>{2, 5, 8}
                                        << QList<int>{3, 3, 1};
    QTest::newRow("reprint every sheet") << false << cardsChoice(QStringLiteral("2,21,40"), 1)
                                         << QList<int>{0, 5, 9} << QList<int>{1, 1, 1};
}

void TestExportRange::splitThroughTheWindow()
{
    QFETCH(bool, duplex);
    QFETCH(PrintChoice, choice);
    QFETCH(QList<int>, firstSheets);
    QFETCH(QList<int>, pages);

    ProjectSeed seed;
    seed.csv = ticketCsv(40);
    seed.duplex = duplex;
    seed.fields = {code128Field(QStringLiteral("front"), QStringLiteral("Name"))};
    if (duplex)
        seed.fields << code128Field(QStringLiteral("back"), QStringLiteral("Ticket"));
    QVERIFY(startWindow(seed));
    const QString path = m_folders.files->filePath(QStringLiteral("job.pdf"));
    m_script->savePath = path;
    m_script->exportRangeDialog = [choice](ExportRangeDialog &dialog) {
        if (choice.mode == PrintChoice::Mode::Cards) {
            dialog.cardsButton()->click();
            QTest::keyClicks(dialog.cardListEdit(), choice.cards);
        } else if (choice.mode == PrintChoice::Mode::Sheets) {
            dialog.sheetsButton()->click();
            const SheetRange range = parseSheetRange(choice.sheets, 10);
            dialog.firstSheetBox()->setValue(range.first + 1);
            dialog.lastSheetBox()->setValue(range.last + 1);
        }
        dialog.splitBox()->click();
        typeInto(dialog.sheetsPerFileBox(), QString::number(choice.sheetsPerFile));
        dialog.exportButton()->click();
        return dialog.result();
    };

    m_window->exportPdf();

    QStringList lines;
    int total = 0;
    for (int part = 0; part < pages.size(); ++part) {
        const QString file = m_folders.files->filePath(QStringLiteral("job-%1.pdf").arg(part + 1, 3, 10, QLatin1Char('0')));
        QCOMPARE(pdfPages(file), QString::number(pages.at(part)));
        // Standard order: the first sheet's cards lead each file.
        const QStringList names = namesOnSheet(firstSheets.at(part), 4, 40);
        const QStringList expected = choice.mode == PrintChoice::Mode::Cards
                                         ? QStringList{QStringLiteral("Name %1").arg(choice.cards.split(u',').at(part))}
                                         : names;
        QCOMPARE(pageCodes(file, 1), expected);
        lines << QStringLiteral("PDF exported: %1 (%2 pages)").arg(QDir::toNativeSeparators(file)).arg(pages.at(part));
        total += pages.at(part);
    }
    QVERIFY(!QFileInfo::exists(path));
    QVERIFY(!QFileInfo::exists(m_folders.files->filePath(QStringLiteral("job-%1.pdf").arg(pages.size() + 1, 3, 10, QLatin1Char('0')))));

    QCOMPARE(m_script->shown.size(), 1);
    const ShownBox &box = m_script->shown.first();
    QCOMPARE(box.kind, QStringLiteral("information"));
    QCOMPARE(box.title, QStringLiteral("Export Complete"));
    QCOMPARE(box.text, QStringLiteral("Generated %1 PDF pages in %2 files:\n%3")
                           .arg(total)
                           .arg(pages.size())
                           .arg(lines.join(u'\n')));
    QCOMPARE(status(), lines.join(QStringLiteral("; ")));
}

void TestExportRange::blankCodesOnEveryVariant_data()
{
    QTest::addColumn<PrintChoice>("choice");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("report"); // before the blank codes; @N stands for a file's path

    QTest::newRow("reprint") << cardsChoice(QStringLiteral("4")) << QStringList{"codes.pdf"}
                             << "Generated 1 PDF pages:\n@0";
    QTest::newRow("split") << PrintChoice{PrintChoice::Mode::AllCards, {}, {}, 2}
                           << QStringList{"codes-001.pdf", "codes-002.pdf"}
                           << "Generated 3 PDF pages in 2 files:\nPDF exported: @0 (2 pages)\nPDF exported: @1 (1 pages)";
    QTest::newRow("sheets") << sheetsChoice(QStringLiteral("1-1")) << QStringList{"codes.pdf"}
                            << "Generated 1 PDF pages:\n@0";
}

// EAN-13 takes digits only: card 4 cannot be encoded, and every way of
// writing it says so.
void TestExportRange::blankCodesOnEveryVariant()
{
    QFETCH(PrintChoice, choice);
    QFETCH(QStringList, files);
    QFETCH(QString, report);

    QByteArray csv = "Name,Ticket\n";
    for (int n = 1; n <= 10; ++n)
        csv += "Name " + QByteArray::number(n) + ","
               + (n == 4 ? QByteArray("T-4") : QByteArray("40063813339" + QByteArray::number(n % 10))) + "\n";
    TemplateField barcode = code128Field(QStringLiteral("front"), QStringLiteral("Ticket"));
    barcode.barcodeFormat = BarcodeFormat::Ean13;
    ProjectSeed seed;
    seed.csv = csv;
    seed.fields = {barcode};
    QVERIFY(startWindow(seed));
    const QString path = m_folders.files->filePath(QStringLiteral("codes.pdf"));
    m_script->savePath = path;
    m_script->exportRangeDialog = [choice](ExportRangeDialog &dialog) {
        if (choice.mode == PrintChoice::Mode::Cards) {
            dialog.cardsButton()->click();
            dialog.cardListEdit()->setText(choice.cards);
        } else if (choice.mode == PrintChoice::Mode::Sheets) {
            dialog.sheetsButton()->click();
            dialog.firstSheetBox()->setValue(1);
            dialog.lastSheetBox()->setValue(1);
        }
        if (choice.sheetsPerFile > 0) {
            dialog.splitBox()->click();
            dialog.sheetsPerFileBox()->setValue(choice.sheetsPerFile);
        }
        dialog.exportButton()->click();
        return dialog.result();
    };

    m_window->exportPdf();

    PdfExportResult blank;
    blank.blankCodeCardCount = 1;
    blank.blankCodeCards = {3};
    const QString summary = blankCodesSummary(blank);
    QVERIFY(summary.contains(QStringLiteral("#0004")));
    for (int i = 0; i < files.size(); ++i) {
        const QString file = QDir::toNativeSeparators(m_folders.files->filePath(files.at(i)));
        report.replace(QStringLiteral("@%1").arg(i), file);
        QVERIFY2(QFileInfo::exists(file), qPrintable(file));
    }
    QCOMPARE(m_script->shown.size(), 1);
    const ShownBox &box = m_script->shown.first();
    QCOMPARE(box.kind, QStringLiteral("warning"));
    QCOMPARE(box.title, QStringLiteral("Export Complete"));
    QCOMPARE(box.text, report + QStringLiteral("\n\n") + summary);
    QVERIFY2(status().endsWith(QStringLiteral(" — ") + summary), qPrintable(status()));
}

// A split writes beside the chosen name: a part that would replace a data
// file is refused before anything is written.
void TestExportRange::splitRefusesAProjectFile()
{
    ProjectSeed seed;
    seed.csv = ticketCsv(40);
    seed.csvName = QStringLiteral("run-002.csv");
    seed.fields = {code128Field(QStringLiteral("front"), QStringLiteral("Name"))};
    QVERIFY(startWindow(seed));
    const QString dataFile = m_folders.files->filePath(seed.csvName);
    m_script->savePath = m_folders.files->filePath(QStringLiteral("run.csv"));
    m_script->exportRangeDialog = [](ExportRangeDialog &dialog) {
        dialog.splitBox()->click();
        dialog.sheetsPerFileBox()->setValue(4);
        dialog.exportButton()->click();
        return dialog.result();
    };

    m_window->exportPdf();

    QCOMPARE(m_script->shown.size(), 1);
    const ShownBox &box = m_script->shown.first();
    QCOMPARE(box.kind, QStringLiteral("critical"));
    QCOMPARE(box.title, QStringLiteral("PDF export failed"));
    QVERIFY2(box.text.contains(QStringLiteral("data file")), qPrintable(box.text));
    QVERIFY(!status().startsWith(QStringLiteral("PDF exported")));
    QFile data(dataFile);
    QVERIFY(data.open(QIODevice::ReadOnly));
    QCOMPARE(data.readAll(), seed.csv);
    QCOMPARE(QDir(m_folders.files->path()).entryList(QDir::Files), QStringList{seed.csvName});
}

// A choice the dialog would not let past, answered anyway, writes nothing.
void TestExportRange::badChoiceIsNotWritten()
{
    QVERIFY(startReprintWindow());
    m_script->savePath = m_folders.files->filePath(QStringLiteral("bad.pdf"));
    m_script->exportRangeDialog = [](ExportRangeDialog &dialog) {
        dialog.cardsButton()->click();
        QTest::keyClicks(dialog.cardListEdit(), QStringLiteral("0"));
        return dialog.exportButton()->isEnabled() ? int(QDialog::Rejected) : int(QDialog::Accepted);
    };

    m_window->exportPdf();

    QCOMPARE(m_script->saveRequests.size(), 0);
    QCOMPARE(m_script->shown.size(), 1);
    QCOMPARE(m_script->shown.first().kind, QStringLiteral("critical"));
    QCOMPARE(m_script->shown.first().title, QStringLiteral("PDF export failed"));
    QCOMPARE(m_script->shown.first().text, QStringLiteral("Card list: \"0\": cards are numbered from 1"));
    QCOMPARE(QDir(m_folders.files->path()).entryList({QStringLiteral("*.pdf")}), QStringList());
}

void TestExportRange::checkJudgesThePrintedCards_data()
{
    QTest::addColumn<QString>("cards");
    QTest::addColumn<bool>("warned");
    QTest::newRow("a card clear of the edges") << "3" << false;
    QTest::newRow("a card the sheet edge cuts") << "1,3" << true;
}

// Five 90 mm cards in a row are 30 mm wider than the 420 mm sheet, so the
// outer two are cut off. The check before export looks at what the choice
// prints: reprinting the middle card is not held up by the others.
void TestExportRange::checkJudgesThePrintedCards()
{
    QFETCH(QString, cards);
    QFETCH(bool, warned);
    ProjectSeed seed;
    seed.csv = ticketCsv(5);
    seed.rows = 1;
    seed.columns = 5;
    seed.fields = {qrField(QStringLiteral("Ticket"))};
    QVERIFY(startWindow(seed));
    const QString path = m_folders.files->filePath(QStringLiteral("middle.pdf"));
    m_script->savePath = path;
    m_script->exportRangeDialog = [cards](ExportRangeDialog &dialog) {
        dialog.cardsButton()->click();
        dialog.cardListEdit()->setText(cards);
        dialog.exportButton()->click();
        return dialog.result();
    };

    m_window->exportPdf();

    const QList<ShownBox> confirms = [this] {
        QList<ShownBox> found;
        for (const ShownBox &box : std::as_const(m_script->shown)) {
            if (box.kind == u"confirm")
                found << box;
        }
        return found;
    }();
    if (warned) {
        QCOMPARE(confirms.size(), 1);
        QCOMPARE(confirms.first().title, QStringLiteral("Check the Job Before Export"));
        QVERIFY2(confirms.first().text.contains(QStringLiteral("1 card is cut off by the sheet edge")),
                 qPrintable(confirms.first().text));
        QVERIFY2(confirms.first().text.endsWith(QStringLiteral(": #0001")), qPrintable(confirms.first().text));
        QVERIFY(!QFileInfo::exists(path));
    } else {
        QCOMPARE(confirms.size(), 0);
        QVERIFY(QFileInfo::exists(path));
    }
}

void TestExportRange::showInPreviewAndShowAllCards()
{
    QVERIFY(startReprintWindow());
    m_window->pageTabs()->setCurrentIndex(0);
    QVERIFY(page()->selectionLabel()->isHidden());
    QVERIFY(page()->showAllButton()->isHidden());
    page()->pageNumberBox()->setValue(5);
    m_script->savePath = m_folders.files->filePath(QStringLiteral("never.pdf"));
    m_script->exportRangeDialog = [](ExportRangeDialog &dialog) {
        dialog.cardsButton()->click();
        QTest::keyClicks(dialog.cardListEdit(), QStringLiteral("1,8,14,37"));
        dialog.previewButton()->click();
        return dialog.result();
    };

    m_window->exportPdf();

    // Nothing is written; the preview shows the choice from its first page.
    QCOMPARE(m_script->saveRequests.size(), 0);
    QCOMPARE(m_script->shown.size(), 0);
    QCOMPARE(m_window->pageTabs()->currentWidget(), page());
    QCOMPARE(page()->selectionLabel()->text(), QStringLiteral("Showing cards 1, 8, 14, 37 only (2 sheets)"));
    QVERIFY(!page()->selectionLabel()->isHidden());
    QVERIFY(!page()->showAllButton()->isHidden());
    QCOMPARE(page()->showAllButton()->text(), QStringLiteral("Show All Cards"));
    QCOMPARE(page()->pageNumberBox()->value(), 1);
    QCOMPARE(page()->pageTotalLabel()->text(), QStringLiteral("2 pages total"));
    QCOMPARE(page()->sheetCountLabel()->text(), QStringLiteral("Sheets  7"));
    page()->allButton()->click();
    QCOMPARE(page()->pageNumberBox()->maximum(), 4);
    page()->pageNumberBox()->setValue(4);
    const SheetData &data = page()->preview()->composer().sheetData();
    QCOMPARE(data.sheetIndex, 5);
    QCOMPARE(data.side, QStringLiteral("back"));
    QCOMPARE(data.onlyRecords, (QList<int>{0, 7, 13, 36}));
    QVERIFY2(page()->preview()->captionText().startsWith(QStringLiteral("Print page 4 / 4 · Sheet 6 / 7 · ")),
             qPrintable(page()->preview()->captionText()));

    // A cancelled dialog keeps the choice it started from.
    PrintChoice offered;
    m_script->exportRangeDialog = [&offered](ExportRangeDialog &dialog) {
        offered = dialog.choice();
        dialog.allCardsButton()->click();
        dialog.cancelButton()->click();
        return dialog.result();
    };
    m_window->exportPdf();
    QCOMPARE(offered.mode, PrintChoice::Mode::Cards);
    QCOMPARE(page()->selectionLabel()->text(), QStringLiteral("Showing cards 1, 8, 14, 37 only (2 sheets)"));

    page()->showAllButton()->click();
    QVERIFY(page()->selectionLabel()->isHidden());
    QVERIFY(page()->showAllButton()->isHidden());
    QCOMPARE(page()->pageNumberBox()->maximum(), 14);
    QVERIFY(page()->preview()->composer().sheetData().onlyRecords.isEmpty());
    m_window->exportPdf();
    QCOMPARE(offered.mode, PrintChoice::Mode::AllCards);
    QCOMPARE(m_script->saveRequests.size(), 0);
}

// The data or the grid changed under a kept choice: the preview says what is
// wrong with it and shows the whole job.
void TestExportRange::keptChoiceThatNoLongerFits()
{
    QVERIFY(startReprintWindow());
    m_script->exportRangeDialog = [](ExportRangeDialog &dialog) {
        dialog.sheetsButton()->click();
        dialog.firstSheetBox()->setValue(6);
        dialog.lastSheetBox()->setValue(7);
        dialog.previewButton()->click();
        return dialog.result();
    };
    m_window->exportPdf();
    QCOMPARE(page()->selectionLabel()->text(), QStringLiteral("Showing sheets 6–7 only"));
    QCOMPARE(page()->pageNumberBox()->maximum(), 2);
    QCOMPARE(page()->preview()->composer().sheetData().sheetIndex, 5);

    // Four rows of three: 4 sheets.
    m_window->projectPanel()->rowsBox()->setValue(4);

    QCOMPARE(page()->selectionLabel()->text(), QStringLiteral("Sheet range: \"6-7\" is beyond the job's 4 sheets"));
    QVERIFY(!page()->showAllButton()->isHidden());
    QCOMPARE(page()->pageNumberBox()->maximum(), 4);
    page()->pageNumberBox()->setValue(4);
    QCOMPARE(page()->preview()->composer().sheetData().sheetIndex, 3);
    QVERIFY(page()->preview()->composer().sheetData().onlyRecords.isEmpty());
}

void TestExportRange::anotherProjectStartsOver()
{
    QVERIFY(startReprintWindow());
    const qint64 firstId = m_window->currentProject().id;
    m_script->exportRangeDialog = [](ExportRangeDialog &dialog) {
        dialog.cardsButton()->click();
        QTest::keyClicks(dialog.cardListEdit(), QStringLiteral("5"));
        dialog.previewButton()->click();
        return dialog.result();
    };
    m_window->exportPdf();
    QCOMPARE(page()->selectionLabel()->text(), QStringLiteral("Showing card 5 only (1 sheet)"));

    ProjectSeed other;
    other.name = QStringLiteral("Other Job");
    other.csv = ticketCsv(12);
    other.csvName = QStringLiteral("other.csv");
    qint64 otherId = 0;
    {
        const auto store = openTestStore(m_folders.databasePath);
        otherId = seedProject(*store, other);
    }
    QVERIFY(otherId > 0);
    m_window->saveSettings(); // refreshes the project list
    QComboBox *selector = m_window->projectPanel()->projectSelector();
    QVERIFY(selector->findData(otherId) >= 0);
    m_window->openSelectedProject(selector->findData(otherId));
    QCOMPARE(m_window->currentProject().id, otherId);
    QVERIFY(page()->selectionLabel()->isHidden());

    // Back to the first project: it starts over as well.
    m_window->openSelectedProject(selector->findData(firstId));
    QCOMPARE(m_window->currentProject().id, firstId);
    QVERIFY(page()->selectionLabel()->isHidden());
    PrintChoice offered = cardsChoice(QStringLiteral("unset"));
    m_script->exportRangeDialog = [&offered](ExportRangeDialog &dialog) {
        offered = dialog.choice();
        return int(QDialog::Rejected);
    };
    m_window->exportPdf();
    QCOMPARE(offered.mode, PrintChoice::Mode::AllCards);
}

QTEST_MAIN(TestExportRange)
#include "tst_exportrange.moc"
