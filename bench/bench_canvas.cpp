// bench-canvas: how the template canvas keeps up with a busy card.
//
//   bench-canvas [ROUNDS]   ROUNDS repaints and record changes (default 60); the drag is 200 moves,
//                           the project switches 11, the undo history 200 entries
//
// A 90 × 54 mm card with 60 objects (20 bound text fields, 10 Code 128 barcodes, 10 QR codes,
// 10 rectangles, 5 tables of 10 × 10 cells, 5 lines) in a 1400 × 900 view, offscreen unless a
// platform is chosen. Measures, with QElapsedTimer around synchronous repaints:
// - a full repaint of the viewport (median);
// - one text field dragged with the mouse through 200 moves, each move with its repaint (median and
//   worst per move);
// - a change of the preview record with its repaint (median).
// Then, in a real window over a fresh data directory whose two projects each hold that card (stored)
// and a 300-row CSV bound to its fields:
// - switching between the two projects, up to the new canvas drawn (median);
// - 200 recorded moves undone and then redone through the window's editor, in all;
// - the process's peak resident memory at the end.
// Prints one line per figure with its target, "met" or "MISSED". Exit code 0 unless the setup fails;
// a missed target is reported, not failed, as in the other benchmarks.

#include "app/dataimport.h"
#include "app/workspace.h"
#include "store/projectstore.h"
#include "ui/canvas/canvaspage.h"
#include "ui/canvas/canvasview.h"
#include "ui/canvas/vdpfielditem.h"
#include "ui/canvaseditor.h"
#include "ui/dialogs.h"
#include "ui/mainwindow.h"
#include "ui/projectpanel.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

QJsonObject cardRecord(int card)
{
    QJsonObject record;
    for (int i = 0; i < 20; ++i)
        record.insert(QStringLiteral("text%1").arg(i), QStringLiteral("Member %1 · field %2").arg(card + 1000).arg(i));
    record.insert(QStringLiteral("code"), QStringLiteral("VM-%1").arg(card, 8, 10, QLatin1Char('0')));
    record.insert(QStringLiteral("url"), QStringLiteral("https://example.org/card/%1").arg(card, 8, 10, QLatin1Char('0')));
    return record;
}

// The card's 40 fields, ids 1 … 40, all on the front.
QList<TemplateField> cardFields()
{
    QList<TemplateField> fields;
    qint64 id = 1;
    for (int i = 0; i < 20; ++i) {
        TemplateField field;
        field.id = id++;
        field.type = ElementKind::Text;
        field.dataColumn = QStringLiteral("text%1").arg(i);
        field.xMm = 2 + (i % 4) * 22;
        field.yMm = 2 + (i / 4) * 4;
        field.widthMm = 21;
        field.heightMm = 4;
        field.fontSizePt = 7;
        fields.append(field);
    }
    for (int i = 0; i < 10; ++i) {
        TemplateField field;
        field.id = id++;
        field.type = ElementKind::Barcode;
        field.dataColumn = QStringLiteral("code");
        field.barcodeShowText = true;
        field.xMm = 2 + (i % 5) * 17;
        field.yMm = 24 + (i / 5) * 8;
        field.widthMm = 16;
        field.heightMm = 7;
        fields.append(field);
    }
    for (int i = 0; i < 10; ++i) {
        TemplateField field;
        field.id = id++;
        field.type = ElementKind::QrCode;
        field.dataColumn = QStringLiteral("url");
        field.xMm = 2 + i * 8.8;
        field.yMm = 41;
        field.widthMm = 8;
        field.heightMm = 8;
        fields.append(field);
    }
    return fields;
}

// The card's 20 graphics, ids 41 … 60.
QList<GraphicElement> cardGraphics()
{
    QList<GraphicElement> graphics;
    qint64 id = 41;
    for (int i = 0; i < 10; ++i) {
        GraphicElement element;
        element.id = id++;
        element.type = ElementKind::Rectangle;
        element.xMm = 1 + i * 8.8;
        element.yMm = 1;
        element.widthMm = 8;
        element.heightMm = 22;
        element.fillColor = i % 2 ? QStringLiteral("#e0f2fe") : QStringLiteral("transparent");
        graphics.append(element);
    }
    for (int i = 0; i < 5; ++i) {
        GraphicElement element;
        element.id = id++;
        element.type = ElementKind::Table;
        element.rows = 10;
        element.columns = 10;
        element.cellSpacingMm = i % 2 ? 0.3 : 0;
        element.xMm = 1 + i * 17.5;
        element.yMm = 23;
        element.widthMm = 17;
        element.heightMm = 17;
        graphics.append(element);
    }
    for (int i = 0; i < 5; ++i) {
        GraphicElement element;
        element.id = id++;
        element.type = ElementKind::Line;
        element.xMm = 2;
        element.yMm = 49 + i;
        element.widthMm = 86;
        element.heightMm = 1;
        graphics.append(element);
    }
    return graphics;
}

void buildCard(CanvasView &view)
{
    view.setCanvasGraphics(cardGraphics());
    view.setCanvasFields(cardFields());
    view.setPreviewRecord(cardRecord(0));
}

void report(const char *what, double ms, double targetMs)
{
    std::printf("%-44s %8.2f ms  (target <= %.0f ms) %s\n", what, ms, targetMs, ms <= targetMs ? "met" : "MISSED");
}

int fail(const QString &message)
{
    std::fprintf(stderr, "bench-canvas: %s\n", qPrintable(message));
    return 1;
}

// Answers every question as a closed box and opens nothing, so that nothing
// waits for a user. A critical box means the setup went wrong: it is counted
// and its text goes to stderr.
class SilentDialogs : public Dialogs
{
public:
    explicit SilentDialogs(int *criticals)
        : m_criticals(criticals)
    {
    }

    void critical(QWidget *, const QString &title, const QString &text) override
    {
        ++*m_criticals;
        std::fprintf(stderr, "bench-canvas: the window showed \"%s\": %s\n", qPrintable(title), qPrintable(text));
    }
    QMessageBox::StandardButton question(QWidget *, const QString &, const QString &, QMessageBox::StandardButtons,
                                         QMessageBox::StandardButton) override
    {
        return QMessageBox::Cancel;
    }
    QMessageBox::StandardButton warning(QWidget *, const QString &, const QString &, QMessageBox::StandardButtons,
                                        QMessageBox::StandardButton) override
    {
        return QMessageBox::Cancel;
    }
    void information(QWidget *, const QString &, const QString &) override {}
    bool confirmWarning(QWidget *, const QString &, const QString &, const QString &) override { return false; }
    QString getOpenFileName(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    QString getSaveFileName(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    QColor getColor(QWidget *, const QString &, const QColor &) override { return {}; }
    int execImportDialog(ImportDialog &) override { return QDialog::Rejected; }
    bool openUrl(const QUrl &) override { return false; }

private:
    int *m_criticals;
};

constexpr int dataRows = 300;

// The columns the card's fields bind to, one row per card from `firstCard` on.
bool writeCsv(const QString &path, int firstCard)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QStringList header;
    for (int i = 0; i < 20; ++i)
        header.append(QStringLiteral("text%1").arg(i));
    header << QStringLiteral("code") << QStringLiteral("url");
    QByteArray text = header.join(QLatin1Char(',')).toUtf8() + '\n';
    for (int row = 0; row < dataRows; ++row) {
        const QJsonObject record = cardRecord(firstCard + row);
        QStringList cells;
        for (const QString &column : header)
            cells.append(record.value(column).toString());
        text += cells.join(QLatin1Char(',')).toUtf8() + '\n';
    }
    return file.write(text) == text.size();
}

// Two projects in the workspace's fresh database, each with the card stored
// and its own CSV attached, as a user's import leaves them.
bool seedWorkspace(const WorkspacePaths &paths, QString *error)
{
    ProjectStore store;
    if (const std::optional<StartupFailure> failure = openWorkspace(store, paths)) {
        *error = failure->title + QStringLiteral(": ") + failure->text;
        return false;
    }
    for (int p = 0; p < 2; ++p) {
        std::optional<Project> project = store.createProject(QStringLiteral("Busy card %1").arg(p + 1), error);
        if (!project)
            return false;
        const QString csvPath = QDir(paths.dataDirectory).filePath(QStringLiteral("members-%1.csv").arg(p + 1));
        if (!writeCsv(csvPath, p * 10000)) {
            *error = QStringLiteral("could not write %1").arg(csvPath);
            return false;
        }
        DataSourceOptions options;
        options.csvEncoding = QStringLiteral("utf-8");
        options.csvDelimiter = QStringLiteral("comma");
        const std::optional<DataSource> source = upsertDataSource(store, project->id, csvPath, options, error);
        if (!source)
            return false;
        project->dataSourcePath = source->filePath;
        if (!store.updateProject(*project, error))
            return false;
        for (TemplateField field : cardFields()) {
            field.id = 0;
            field.projectId = project->id;
            if (!store.insertElement(&field, error))
                return false;
        }
        for (GraphicElement element : cardGraphics()) {
            element.id = 0;
            element.projectId = project->id;
            if (!store.insertElement(&element, error))
                return false;
        }
    }
    return true;
}

int selectorIndexOf(const MainWindow &window, qint64 projectId)
{
    const ProjectPanel *panel = window.projectPanel();
    for (int i = 0; i < panel->projectSelector()->count(); ++i) {
        if (panel->projectIdAt(i) == projectId)
            return i;
    }
    return -1;
}

// The fields the database holds for the project, in drawing order, read over
// a connection of its own as another process would.
QList<TemplateField> storedFields(const QString &databasePath, qint64 projectId)
{
    ProjectStore store;
    if (!store.openDatabase(databasePath))
        return {};
    return store.loadRecords<TemplateField>(projectId);
}

// The canvas view alone: repaint, drag and preview record change.
int benchCanvasView(int rounds)
{
    CanvasView view;
    view.resize(1400, 900);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        return fail(QStringLiteral("the view was not shown"));
    buildCard(view);
    if (view.canvasFields().size() != 40 || view.canvasGraphics().size() != 20)
        return fail(QStringLiteral("the card was not built"));
    QWidget *viewport = view.viewport();
    viewport->repaint(); // warm-up: fonts, glyph caches

    std::vector<double> repaints;
    QElapsedTimer timer;
    for (int i = 0; i < rounds; ++i) {
        timer.start();
        viewport->repaint();
        repaints.push_back(timer.nsecsElapsed() / 1e6);
    }

    // Drag the first text field to and fro across the card.
    VdpFieldItem *item = view.fieldItem(1);
    const QPoint start = view.mapFromScene(item->mapToScene(QPointF(6, 6)));
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, start);
    viewport->repaint();
    const QPointF initial = item->pos();
    bool moved = false;
    std::vector<double> moves;
    for (int i = 1; i <= 200; ++i) {
        const int phase = i % 100;
        const int offset = phase < 50 ? phase * 8 : (100 - phase) * 8;
        timer.start();
        QTest::mouseMove(viewport, start + QPoint(offset, offset / 3));
        viewport->repaint();
        moves.push_back(timer.nsecsElapsed() / 1e6);
        moved = moved || item->pos() != initial;
    }
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, start);
    if (!moved)
        return fail(QStringLiteral("the drag did not happen"));

    std::vector<double> records;
    for (int i = 0; i < rounds; ++i) {
        const QJsonObject record = cardRecord(i + 1);
        timer.start();
        view.setPreviewRecord(record);
        viewport->repaint();
        records.push_back(timer.nsecsElapsed() / 1e6);
    }

    std::printf("bench-canvas: 90 x 54 mm card, %lld objects, 1400 x 900 view, platform %s\n",
                static_cast<long long>(view.canvasFields().size() + view.canvasGraphics().size()),
                qPrintable(QGuiApplication::platformName()));
    report("full repaint (median)", median(repaints), 10);
    report("drag, per move with repaint (median)", median(moves), 10);
    report("drag, per move with repaint (worst)", *std::max_element(moves.begin(), moves.end()), 10);
    report("preview record change with repaint (median)", median(records), 30);
    return 0;
}

// The whole window over a real data directory: project switches, and undo
// and redo of a full history.
int benchWindow(int switches)
{
    // Keeps the window's settings out of the user's own configuration.
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dataDirectory;
    QTemporaryDir starterDirectory; // empty: nothing is seeded
    if (!dataDirectory.isValid() || !starterDirectory.isValid())
        return fail(QStringLiteral("no temporary folder"));
    qputenv("TESSOLO_DATA_DIR", dataDirectory.path().toLocal8Bit());
    const WorkspacePaths paths = workspacePaths(dataDirectory.path(), starterDirectory.path());
    QString error;
    if (!seedWorkspace(paths, &error))
        return fail(QStringLiteral("could not set up the workspace: %1").arg(error));

    int criticals = 0;
    MainWindow window;
    window.setDialogs(std::make_unique<SilentDialogs>(&criticals));
    window.setStarterDirectory(starterDirectory.path());
    if (!window.initialize())
        return fail(QStringLiteral("the window did not start"));
    window.resize(1400, 900);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return fail(QStringLiteral("the window was not shown"));
    CanvasEditor *editor = window.canvasEditor();
    window.pageTabs()->setCurrentWidget(editor->page());
    CanvasView *front = editor->page()->frontCanvas();
    QWidget *viewport = front->viewport();
    QCoreApplication::processEvents();

    const auto shown = [&](qint64 projectId) {
        return window.currentProject().id == projectId && front->canvasFields().size() == 40
               && front->canvasGraphics().size() == 20 && window.cardRecords().size() == dataRows
               && !front->previewRecord().isEmpty();
    };
    if (!shown(window.currentProject().id) || criticals)
        return fail(QStringLiteral("the start-up project is not on the canvas"));

    // Alternate between the two projects: each switch goes to the one not shown.
    QList<qint64> projectIds;
    for (int i = 0; i < window.projectPanel()->projectSelector()->count(); ++i)
        projectIds.append(window.projectPanel()->projectIdAt(i));
    if (projectIds.size() != 2)
        return fail(QStringLiteral("the selector lists %1 projects, not 2").arg(projectIds.size()));
    std::vector<double> switchTimes;
    QElapsedTimer timer;
    for (int i = 0; i < switches; ++i) {
        const qint64 target = projectIds.at(0) == window.currentProject().id ? projectIds.at(1) : projectIds.at(0);
        const int index = selectorIndexOf(window, target);
        timer.start();
        window.openSelectedProject(index);
        QCoreApplication::processEvents();
        viewport->repaint();
        switchTimes.push_back(timer.nsecsElapsed() / 1e6);
        if (!shown(target) || criticals)
            return fail(QStringLiteral("switch %1 did not show project %2").arg(i + 1).arg(target));
    }

    // 200 recorded moves of the fields in turn, as finished drags report them.
    const qint64 projectId = window.currentProject().id;
    const QList<TemplateField> before = editor->document().fields();
    constexpr int entries = 200;
    for (int i = 0; i < entries; ++i) {
        TemplateField moved = editor->document().fields().at(i % before.size());
        moved.xMm += (i / before.size()) % 2 ? -0.5 : 0.5;
        emit front->fieldEdited(moved);
    }
    QCoreApplication::processEvents();
    const QList<TemplateField> after = editor->document().fields();
    const CanvasHistory &history = editor->document().history();
    if (history.count() != entries || history.cursor() != entries || after == before || criticals)
        return fail(QStringLiteral("%1 of %2 moves were recorded").arg(history.cursor()).arg(entries));

    timer.start();
    for (int i = 0; i < entries; ++i)
        editor->undo();
    const double undoMs = timer.nsecsElapsed() / 1e6;
    // Checked outside the timing: the history and the database went back.
    if (history.cursor() != 0 || editor->document().fields() != before
        || storedFields(paths.databasePath, projectId) != before || criticals)
        return fail(QStringLiteral("undo stopped at %1 of %2 entries").arg(history.cursor()).arg(entries));
    timer.start();
    for (int i = 0; i < entries; ++i)
        editor->redo();
    QCoreApplication::processEvents();
    viewport->repaint();
    const double redoMs = timer.nsecsElapsed() / 1e6;
    if (history.cursor() != entries || editor->document().fields() != after
        || storedFields(paths.databasePath, projectId) != after || criticals)
        return fail(QStringLiteral("redo stopped at %1 of %2 entries").arg(history.cursor()).arg(entries));

    std::printf("window: 2 projects of 60 objects and %d data rows, canvas viewport %d x %d\n", dataRows,
                viewport->width(), viewport->height());
    report(qPrintable(QStringLiteral("project switch with repaint (median of %1)").arg(switches)),
           median(switchTimes), 200);
    report(qPrintable(QStringLiteral("undo then redo of %1 entries (in all)").arg(entries)), undoMs + redoMs, 2000);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 60;

    if (const int failed = benchCanvasView(rounds))
        return failed;
    if (const int failed = benchWindow(11))
        return failed;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%-44s %8.1f MB\n", "peak memory (max resident set)", usage.ru_maxrss / 1024.0);
    return 0;
}
