#include "store/storetestutil.h"

#include "editor/canvashistory.h"
#include "editor/editordocument.h"
#include "editor/editorgeometry.h"
#include "store/projectstore.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace storetest;

Q_DECLARE_METATYPE(CanvasUndoEntry)

char *toString(const EditorMessage &m)
{
    return QTest::toString(QStringLiteral("EditorMessage{kind=%1 title=\"%2\" text=\"%3\" timeout=%4}")
                               .arg(int(m.kind))
                               .arg(m.title, m.text)
                               .arg(m.timeoutMs));
}

namespace {

const QString refusal = QStringLiteral("refused by test");

EditorMessage statusMessage(const QString &text, int timeoutMs)
{
    return {EditorMessage::Kind::Status, QString(), text, timeoutMs};
}

EditorMessage criticalMessage(const QString &title, const QString &text)
{
    return {EditorMessage::Kind::Critical, title, text, 0};
}

// The template tables as the drawing order sees them: every column of every
// row (sort_order included), values quoted so that types show, ordered as the
// store loads them.
QStringList templateDump(const QSqlDatabase &db)
{
    QStringList dump;
    for (const QString &table : {QStringLiteral("template_fields"), QStringLiteral("template_graphics")}) {
        QStringList quoted;
        const QStringList columns = columnNames(db, table);
        for (const QString &column : columns)
            quoted << QStringLiteral("quote(%1)").arg(column);
        dump << QStringLiteral("[%1]").arg(table);
        dump << rows(db, QStringLiteral("SELECT %1 FROM %2 ORDER BY project_id, sort_order, id")
                             .arg(quoted.join(QStringLiteral(", ")), table));
    }
    return dump;
}

TemplateField makeField(const QString &type, const QString &side, double x, double y)
{
    TemplateField f;
    f.type = fieldKindFromKey(type).value_or(ElementKind::Text);
    f.side = cardSideFromKey(side);
    f.name = QStringLiteral("%1 at %2").arg(type).arg(x);
    f.xMm = x;
    f.yMm = y;
    return f;
}

GraphicElement makeGraphic(const QString &type, const QString &side, double x, double y)
{
    GraphicElement g;
    g.type = graphicKindFromKey(type).value_or(ElementKind::Line);
    g.side = cardSideFromKey(side);
    g.xMm = x;
    g.yMm = y;
    return g;
}

GraphicElement makeTable(double width, double height, int rows, int columns, double spacing)
{
    GraphicElement table = makeGraphic(QStringLiteral("table"), QStringLiteral("front"), 4, 6);
    table.widthMm = width;
    table.heightMm = height;
    table.rows = rows;
    table.columns = columns;
    table.cellSpacingMm = spacing;
    table.strokeColor = QStringLiteral("#336699");
    table.fillColor = QStringLiteral("#fefefe");
    return table;
}

// A database with the project under edit and a second project whose rows
// must never change, and the document on the first.
struct Fixture
{
    ScratchStore scratch;
    qint64 projectId = 0;
    qint64 otherProjectId = 0;
    std::unique_ptr<EditorDocument> document;

    bool setUp()
    {
        QString error;
        if (!scratch.open(&error))
            return false;
        const std::optional<Project> project = scratch.store().createProject(QStringLiteral("Edited"));
        const std::optional<Project> other = scratch.store().createProject(QStringLiteral("Other"));
        if (!project || !other)
            return false;
        projectId = project->id;
        otherProjectId = other->id;
        TemplateField otherField = makeField(QStringLiteral("text"), QStringLiteral("front"), 1, 1);
        otherField.projectId = otherProjectId;
        GraphicElement otherGraphic = makeGraphic(QStringLiteral("line"), QStringLiteral("back"), 2, 2);
        otherGraphic.projectId = otherProjectId;
        if (!scratch.store().insertElement(&otherField) || !scratch.store().insertElement(&otherGraphic))
            return false;
        document = std::make_unique<EditorDocument>(scratch.store());
        return document->open(projectId);
    }

    EditorDocument &doc() { return *document; }
    QSqlDatabase db() const { return scratch.db(); }
    QStringList dump() const { return templateDump(scratch.db()); }

    // The document holds exactly what the store loads, in the same order.
    bool consistent()
    {
        return document->fields() == scratch.store().loadRecords<TemplateField>(projectId)
            && document->graphics() == scratch.store().loadRecords<GraphicElement>(projectId);
    }

    bool refuse(const QString &triggerBody)
    {
        QString error;
        const bool ok = exec(db(), QStringLiteral("CREATE TRIGGER refuse %1 BEGIN SELECT RAISE(ABORT, '%2'); END")
                                       .arg(triggerBody, refusal),
                             {}, &error);
        if (!ok)
            qWarning("trigger: %s", qPrintable(error));
        return ok;
    }
    bool allow() { return exec(db(), QStringLiteral("DROP TRIGGER refuse")); }
};

enum class FailingOperation {
    AddField,
    AddGraphic,
    PasteField,
    PasteGraphic,
    MoveField,
    EditGraphic,
    DeleteField,
    DeleteGraphic,
    SplitAtFifthRectangle,
    SplitAtTableDelete,
    UndoAdd,
    UndoDelete,
    UndoSplitAtTableInsert,
    RedoSplitAtFirstRectangle,
    RedoModify,
};

// Random editing operations on a document, drawn from a fixed seed; each
// one that the document's contents allow.
class RandomEditor
{
public:
    enum Op { Undo, Redo, AddField, AddGraphic, Move, Resize, Edit, Unchanged, Delete, DeleteSelection, Paste, Align,
              Split };
    static constexpr Op lastOp = Split;

    RandomEditor(EditorDocument &document, quint32 seed) : m_doc(document), m_rng(seed) {}

    static QString name(Op op)
    {
        static const char *const names[] = {"undo", "redo", "add field", "add graphic", "move", "resize",
                                            "property edit", "unchanged", "delete", "delete selection", "paste",
                                            "align", "split"};
        return QString::fromLatin1(names[op]);
    }

    Op draw()
    {
        // Percent of the draws each operation starts at. Undo is frequent
        // enough to keep the history well below its limit.
        static const QList<int> starts = {0, 30, 38, 46, 53, 60, 64, 72, 74, 79, 82, 87, 93};
        const int roll = pick(100);
        Op op = Op(std::upper_bound(starts.cbegin(), starts.cend(), roll) - starts.cbegin() - 1);
        if (op > AddGraphic && m_doc.fields().isEmpty())
            return AddField;
        if (op > AddGraphic && m_doc.graphics().isEmpty())
            return AddGraphic;
        if (op == Split && tables().isEmpty())
            return AddGraphic;
        return op;
    }

    // `expectRefusal` is set when the operation is one the document must refuse.
    DocumentChange perform(Op op, int step, bool *expectRefusal)
    {
        *expectRefusal = false;
        const QList<TemplateField> fields = m_doc.fields();
        const QList<GraphicElement> graphics = m_doc.graphics();
        switch (op) {
        case Undo:
            return m_doc.undo();
        case Redo:
            return m_doc.redo();
        case AddField: {
            TemplateField f = makeField(fieldTypes()[pick(fieldTypes().size())], side(), mm(0, 60), mm(0, 40));
            f.name = QStringLiteral("Field %1").arg(step);
            return m_doc.addElement(f);
        }
        case AddGraphic: {
            GraphicElement g = makeGraphic(graphicKinds[pick(graphicKinds.size())], side(), mm(0, 60), mm(0, 40));
            g.widthMm = mm(5, 60);
            g.heightMm = mm(5, 30);
            g.rows = 1 + pick(4);
            g.columns = 1 + pick(4);
            g.cellSpacingMm = pick(3) == 0 ? mm(0, 12) : 0;
            return m_doc.addElement(g);
        }
        case Move:
            if (pick(2)) {
                TemplateField f = fields[pick(fields.size())];
                f.xMm = mm(0, 80);
                f.yMm = mm(0, 50);
                return m_doc.modifyElement(f);
            } else {
                GraphicElement g = graphics[pick(graphics.size())];
                g.xMm = mm(0, 80);
                g.yMm = mm(0, 50);
                return m_doc.modifyElement(g);
            }
        case Resize:
            if (pick(2)) {
                TemplateField f = fields[pick(fields.size())];
                f.widthMm = mm(5, 50);
                f.heightMm = mm(3, 20);
                return m_doc.modifyElement(f);
            } else {
                GraphicElement g = graphics[pick(graphics.size())];
                g.widthMm = mm(5, 70);
                g.heightMm = mm(1, 40);
                return m_doc.modifyElement(g);
            }
        case Edit:
            if (pick(2)) {
                TemplateField f = fields[pick(fields.size())];
                switch (pick(6)) {
                case 0: f.name = QStringLiteral("Renamed %1").arg(step); break;
                case 1: f.fontSizePt = 4 + pick(40); break;
                case 2: f.colorHex = colours[pick(colours.size())]; break;
                case 3: f.bold = !f.bold; break;
                case 4: f.sequenceDigits = 1 + pick(18); break;
                default: f.scratchPrizesJson = QStringLiteral(R"([{"name":"Prize %1","value":3}])").arg(step); break;
                }
                return m_doc.modifyElement(f);
            } else {
                GraphicElement g = graphics[pick(graphics.size())];
                switch (pick(4)) {
                case 0: g.strokeWidthMm = mm(0.05, 3); break;
                case 1: g.strokeColor = colours[pick(colours.size())]; break;
                case 2: g.rows = 1 + pick(5); g.columns = 1 + pick(5); break;
                default: g.cellSpacingMm = mm(0, 12); break;
                }
                return m_doc.modifyElement(g);
            }
        case Unchanged:
            return pick(2) ? m_doc.modifyElement(fields[pick(fields.size())])
                             : m_doc.modifyElement(graphics[pick(graphics.size())]);
        case Delete:
            return pick(2) ? m_doc.deleteElement({ElementGroup::Field, fields[pick(fields.size())].id})
                             : m_doc.deleteElement({ElementGroup::Graphic, graphics[pick(graphics.size())].id});
        case DeleteSelection: {
            QList<ElementRef> selection;
            for (int n = 1 + pick(3); n > 0; --n) {
                const ElementRef ref = pick(2) ? ElementRef{ElementGroup::Field, fields[pick(fields.size())].id}
                                               : ElementRef{ElementGroup::Graphic,
                                                            graphics[pick(graphics.size())].id};
                if (!selection.contains(ref))
                    selection << ref;
            }
            return m_doc.deleteElements(selection);
        }
        case Paste:
            if (pick(2)) {
                TemplateField f = fields[pick(fields.size())];
                const QPointF at = pastedPosition(QPointF(f.xMm, f.yMm), QSizeF(f.widthMm, f.heightMm), card);
                f.id = 0;
                f.xMm = at.x();
                f.yMm = at.y();
                return m_doc.pasteElements({f}, cardSideFromKey(side()));
            } else {
                GraphicElement g = graphics[pick(graphics.size())];
                const QPointF at = pastedPosition(QPointF(g.xMm, g.yMm), QSizeF(g.widthMm, g.heightMm), card);
                g.id = 0;
                g.xMm = at.x();
                g.yMm = at.y();
                return m_doc.pasteElements({g}, cardSideFromKey(side()));
            }
        case Align: {
            const QString onSide = side();
            QList<ElementRef> candidates;
            for (const TemplateField &f : fields) {
                if (f.side == cardSideFromKey(onSide))
                    candidates << ElementRef{ElementGroup::Field, f.id};
            }
            for (const GraphicElement &g : graphics) {
                if (g.side == cardSideFromKey(onSide))
                    candidates << ElementRef{ElementGroup::Graphic, g.id};
            }
            QList<ElementRef> selection;
            for (int n = 2 + pick(3); n > 0 && !candidates.isEmpty(); --n)
                selection << candidates.takeAt(pick(candidates.size()));
            const ElementRef anchor = selection.isEmpty() ? ElementRef() : selection[pick(selection.size())];
            return m_doc.alignObjects(AlignMode(pick(6)), selection, anchor);
        }
        case Split: {
            const QList<GraphicElement> candidates = tables();
            const GraphicElement table = candidates[pick(candidates.size())];
            *expectRefusal = !tableSplitRefusal(table).isEmpty();
            return m_doc.splitTable(table.id);
        }
        }
        return {};
    }

    static QStringList fieldTypes()
    {
        return {QStringLiteral("text"), QStringLiteral("sequence"), QStringLiteral("barcode"),
                QStringLiteral("qrcode"), QStringLiteral("scratch")};
    }

private:
    int pick(qsizetype n) { return int(m_rng.bounded(int(n))); }
    double mm(double low, double high)
    {
        return std::round((low + m_rng.generateDouble() * (high - low)) * 100) / 100;
    }
    QString side() { return pick(2) ? QStringLiteral("back") : QStringLiteral("front"); }
    QList<GraphicElement> tables() const
    {
        QList<GraphicElement> tables;
        for (const GraphicElement &g : m_doc.graphics()) {
            if (g.type == ElementKind::Table)
                tables << g;
        }
        return tables;
    }

    const QStringList graphicKinds = {QStringLiteral("line"), QStringLiteral("ellipse"),
                                      QStringLiteral("rectangle"), QStringLiteral("table")};
    const QStringList colours = {QStringLiteral("#111827"), QStringLiteral("#ff0000"), QStringLiteral("#00aa55")};
    const QSizeF card{90, 54};

    EditorDocument &m_doc;
    QRandomGenerator m_rng;
};

} // namespace

Q_DECLARE_METATYPE(FailingOperation)

class TestEditorDocument : public QObject
{
    Q_OBJECT

private slots:
    void historyRecordingRules_data();
    void historyRecordingRules();
    void historyKeepsTheLast200Changes();
    void newChangeDiscardsRedoTail();
    void undoDeleteRestoresIdAndPlace_data();
    void undoDeleteRestoresIdAndPlace();
    void addAndPasteSetProjectAndSide();
    void unchangedOrUnknownRecordsRecordNothing();
    void failedWriteRecordsNothing_data();
    void failedWriteRecordsNothing();
    void lockedDatabaseRecordsNothing();
    void vanishedObjectFailsAndReloads_data();
    void vanishedObjectFailsAndReloads();
    void splitTable();
    void splitTableRefusals_data();
    void splitTableRefusals();
    void alignMovesAllButTheAnchor_data();
    void alignMovesAllButTheAnchor();
    void alignReportsFailures();
    void deleteSelectionReports();
    void alignOfSixIsOneStep();
    void deleteOfThreeIsOneStep();
    void fieldAndGraphicWithOneIdStayApart();
    void multiObjectStepsAreAllOrNothing_data();
    void multiObjectStepsAreAllOrNothing();
    void labelsNameTheAction_data();
    void labelsNameTheAction();
    void propertyEditsMerge();
    void changesAndSelectionAreAnnounced();
    void randomEditsUndoAndRedoExactly();
};

void TestEditorDocument::historyRecordingRules_data()
{
    QTest::addColumn<CanvasUndoEntry>("entry");
    QTest::addColumn<bool>("recorded");

    TemplateField stored;
    stored.id = 4;
    TemplateField moved = stored;
    moved.xMm += 1;
    TemplateField unstored;
    TemplateField unstoredMoved = unstored;
    unstoredMoved.xMm += 1;
    TemplateField other = moved;
    other.id = 5;
    GraphicElement graphic;
    graphic.id = 9;
    GraphicElement negative;
    negative.id = -1;
    GraphicElement table = makeTable(60, 30, 3, 3, 0);
    table.id = 7;
    GraphicElement cell = makeGraphic(QStringLiteral("rectangle"), QStringLiteral("front"), 4, 6);
    cell.id = 11;
    GraphicElement unstoredCell = cell;
    unstoredCell.id = 0;

    QTest::newRow("field add") << CanvasUndoEntry::added(stored, 0) << true;
    QTest::newRow("field add without id") << CanvasUndoEntry::added(unstored, 0) << false;
    QTest::newRow("field delete") << CanvasUndoEntry::deleted(stored, 3) << true;
    QTest::newRow("field delete without id") << CanvasUndoEntry::deleted(unstored, 3) << false;
    QTest::newRow("graphic add") << CanvasUndoEntry::added(graphic, 1) << true;
    QTest::newRow("graphic delete with negative id") << CanvasUndoEntry::deleted(negative, 1) << false;
    QTest::newRow("modify") << CanvasUndoEntry::modified(stored, moved, 2) << true;
    QTest::newRow("modify, records equal") << CanvasUndoEntry::modified(stored, stored, 2) << false;
    QTest::newRow("modify, ids differ") << CanvasUndoEntry::modified(stored, other, 2) << false;
    QTest::newRow("modify without id") << CanvasUndoEntry::modified(unstored, unstoredMoved, 2) << false;
    QTest::newRow("table split") << CanvasUndoEntry::tableSplit({table, 2}, {{cell, 5}}) << true;
    QTest::newRow("table split with an unstored rectangle")
        << CanvasUndoEntry::tableSplit({table, 2}, {{cell, 5}, {unstoredCell, 6}}) << false;
    QTest::newRow("no steps") << CanvasUndoEntry() << false;
}

void TestEditorDocument::historyRecordingRules()
{
    QFETCH(CanvasUndoEntry, entry);
    QFETCH(bool, recorded);

    CanvasHistory history;
    QCOMPARE(history.record(entry), recorded);
    QCOMPARE(history.count(), recorded ? 1 : 0);
    QCOMPARE(history.cursor(), history.count());
    if (recorded)
        QCOMPARE(*history.undoEntry(), entry);

    // Nothing is recorded while an entry is being applied.
    CanvasHistory applying;
    applying.setApplying(true);
    QVERIFY(!applying.record(entry));
    QCOMPARE(applying.count(), 0);
    applying.setApplying(false);
    QCOMPARE(applying.record(entry), recorded);
}

void TestEditorDocument::historyKeepsTheLast200Changes()
{
    Fixture fx;
    QVERIFY(fx.setUp());
    TemplateField field = makeField(QStringLiteral("text"), QStringLiteral("front"), 0, 0);
    field.projectId = fx.projectId;
    QVERIFY(fx.scratch.store().insertElement(&field));
    QVERIFY(fx.doc().open(fx.projectId));
    QCOMPARE(fx.doc().history().count(), 0);

    const int limit = 200;
    const int changes = limit + 1;
    for (int i = 1; i <= changes; ++i) {
        field.xMm = i;
        const DocumentChange change = fx.doc().modifyElement(field);
        QVERIFY2(change.ok, qPrintable(change.error));
        QCOMPARE(fx.doc().history().count(), std::min(i, limit));
        QCOMPARE(fx.doc().history().cursor(), fx.doc().history().count());
    }

    for (int i = changes - 1; i >= 1; --i) {
        const DocumentChange change = fx.doc().undo();
        QCOMPARE(change.message, statusMessage(QStringLiteral("Undone"), 1500));
        QCOMPARE(fx.doc().field(field.id)->xMm, double(i));
    }
    // The first change was dropped: its "before" (x = 0) cannot come back.
    const DocumentChange change = fx.doc().undo();
    QVERIFY(change.ok);
    QVERIFY(change.isEmpty());
    QCOMPARE(change.message, statusMessage(QStringLiteral("Nothing to undo"), 1500));
    QCOMPARE(fx.scratch.store().loadRecords<TemplateField>(fx.projectId).constFirst().xMm, 1.0);
    QVERIFY(fx.consistent());

    // And all of it can be redone again.
    for (int i = 2; i <= changes; ++i)
        QCOMPARE(fx.doc().redo().message, statusMessage(QStringLiteral("Redone"), 1500));
    QCOMPARE(fx.doc().redo().message, statusMessage(QStringLiteral("Nothing to redo"), 1500));
    QCOMPARE(fx.scratch.store().loadRecords<TemplateField>(fx.projectId).constFirst().xMm, double(changes));
}

void TestEditorDocument::newChangeDiscardsRedoTail()
{
    Fixture fx;
    QVERIFY(fx.setUp());
    DocumentChange added = fx.doc().addElement(makeGraphic(QStringLiteral("ellipse"), QStringLiteral("front"), 3, 4));
    QVERIFY2(added.ok, qPrintable(added.error));
    GraphicElement ellipse = added.graphicsSet().constFirst();
    const QStringList afterAdd = fx.dump();

    ellipse.xMm = 20;
    QVERIFY(fx.doc().modifyElement(ellipse).ok);
    const QStringList afterMove = fx.dump();
    ellipse.widthMm = 33;
    QVERIFY(fx.doc().modifyElement(ellipse).ok);
    QCOMPARE(fx.doc().history().count(), 3);

    QCOMPARE(fx.doc().undo().message, statusMessage(QStringLiteral("Undone"), 1500));
    QCOMPARE(fx.dump(), afterMove);
    GraphicElement moved = *fx.doc().graphic(ellipse.id);
    moved.yMm = 17;
    QVERIFY(fx.doc().modifyElement(moved).ok);
    const QStringList afterNewChange = fx.dump();

    const DocumentChange redo = fx.doc().redo();
    QCOMPARE(redo.message, statusMessage(QStringLiteral("Nothing to redo"), 1500));
    QVERIFY(redo.isEmpty());
    QCOMPARE(fx.dump(), afterNewChange);
    QCOMPARE(fx.doc().history().count(), 3);

    QVERIFY(fx.doc().undo().ok);
    QCOMPARE(fx.dump(), afterMove);
    QVERIFY(fx.doc().undo().ok);
    QCOMPARE(fx.dump(), afterAdd);
    QVERIFY(fx.doc().undo().ok);
    QCOMPARE(fx.doc().graphics(), QList<GraphicElement>());
    QCOMPARE(fx.doc().undo().message, statusMessage(QStringLiteral("Nothing to undo"), 1500));
    QVERIFY(fx.consistent());
}

void TestEditorDocument::undoDeleteRestoresIdAndPlace_data()
{
    QTest::addColumn<bool>("graphics");
    QTest::addColumn<int>("deleteIndex");
    // Stored orders as an older release may leave them: ties and gaps. The
    // store draws ties by id, so the second 4 comes after the first.
    for (const bool graphics : {false, true}) {
        const char *kind = graphics ? "graphic" : "field";
        for (int index = 0; index < 4; ++index)
            QTest::addRow("%s %d", kind, index) << graphics << index;
    }
}

void TestEditorDocument::undoDeleteRestoresIdAndPlace()
{
    QFETCH(bool, graphics);
    QFETCH(int, deleteIndex);

    Fixture fx;
    QVERIFY(fx.setUp());
    const QList<int> orders = {0, 4, 4, 9};
    QList<qint64> ids;
    for (int i = 0; i < orders.size(); ++i) {
        bool inserted = false;
        if (graphics) {
            GraphicElement g = makeGraphic(QStringLiteral("rectangle"), QStringLiteral("front"), i, i);
            g.projectId = fx.projectId;
            inserted = fx.scratch.store().insertElement(&g);
            ids << g.id;
        } else {
            TemplateField f = makeField(QStringLiteral("sequence"), QStringLiteral("back"), i, i);
            f.projectId = fx.projectId;
            inserted = fx.scratch.store().insertElement(&f);
            ids << f.id;
        }
        QVERIFY(inserted);
        QVERIFY(exec(fx.db(),
                     QStringLiteral("UPDATE %1 SET sort_order=? WHERE id=?")
                         .arg(graphics ? QStringLiteral("template_graphics") : QStringLiteral("template_fields")),
                     {orders[i], ids.last()}));
    }
    QVERIFY(fx.doc().open(fx.projectId));
    const qint64 id = ids[deleteIndex];

    // Modified first, so that a later redo of that modify needs the restored row.
    DocumentChange modified;
    if (graphics) {
        GraphicElement g = *fx.doc().graphic(id);
        g.fillColor = QStringLiteral("#ff0000");
        modified = fx.doc().modifyElement(g);
    } else {
        TemplateField f = *fx.doc().field(id);
        f.sequencePrefix = QStringLiteral("N-");
        modified = fx.doc().modifyElement(f);
    }
    QVERIFY(modified.ok);
    const QStringList beforeDelete = fx.dump();
    const QList<TemplateField> fieldsBefore = fx.doc().fields();
    const QList<GraphicElement> graphicsBefore = fx.doc().graphics();

    const DocumentChange deleted = graphics ? fx.doc().deleteElement({ElementGroup::Graphic, id}) : fx.doc().deleteElement({ElementGroup::Field, id});
    QVERIFY2(deleted.ok, qPrintable(deleted.error));
    QCOMPARE(deleted.fieldsRemoved().size() + deleted.graphicsRemoved().size(), 1);
    QVERIFY(fx.consistent());
    const QStringList afterDelete = fx.dump();

    const DocumentChange undone = fx.doc().undo();
    QVERIFY2(undone.ok, qPrintable(undone.error));
    QCOMPARE(undone.fieldsSet(), deleted.fieldsRemoved());
    QCOMPARE(undone.graphicsSet(), deleted.graphicsRemoved());
    QCOMPARE(fx.dump(), beforeDelete);
    QCOMPARE(fx.doc().fields(), fieldsBefore);
    QCOMPARE(fx.doc().graphics(), graphicsBefore);
    QVERIFY(fx.consistent());

    // Back past the modify and forward again: the modify finds its row.
    QVERIFY(fx.doc().undo().ok);
    QVERIFY(fx.dump() != beforeDelete);
    const DocumentChange redoneModify = fx.doc().redo();
    QCOMPARE(redoneModify.fieldsSet(), modified.fieldsSet());
    QCOMPARE(redoneModify.graphicsSet(), modified.graphicsSet());
    QCOMPARE(fx.dump(), beforeDelete);
    QVERIFY(fx.doc().redo().ok);
    QCOMPARE(fx.dump(), afterDelete);
    QVERIFY(fx.consistent());
}

void TestEditorDocument::addAndPasteSetProjectAndSide()
{
    Fixture fx;
    QVERIFY(fx.setUp());

    TemplateField field = makeField(QStringLiteral("barcode"), QStringLiteral("back"), 7, 8);
    field.projectId = fx.otherProjectId; // whatever the caller left there
    field.id = 4242;
    const DocumentChange added = fx.doc().addElement(field);
    QVERIFY2(added.ok, qPrintable(added.error));
    QCOMPARE(added.message, EditorMessage());
    QCOMPARE(added.fieldsSet().size(), 1);
    const TemplateField stored = added.fieldsSet().constFirst();
    QVERIFY(stored.id > 0 && stored.id != 4242);
    QCOMPARE(stored.projectId, fx.projectId);
    QCOMPARE(stored.side, CardSide::Back);
    QCOMPARE(fx.doc().fieldsOnSide(CardSide::Back), QList<TemplateField>{stored});
    QVERIFY(!added.touchesCardNumbering());

    const DocumentChange pasted = fx.doc().pasteElements({stored}, CardSide::Front);
    QVERIFY(pasted.ok);
    QCOMPARE(pasted.message, statusMessage(QStringLiteral("Field pasted"), 2000));
    QVERIFY(pasted.fieldsSet().constFirst().id > stored.id);
    QCOMPARE(pasted.fieldsSet().constFirst().side, CardSide::Front);

    GraphicElement line = makeGraphic(QStringLiteral("line"), QStringLiteral("front"), 1, 2);
    const DocumentChange pastedGraphic = fx.doc().pasteElements({line}, CardSide::Back);
    QCOMPARE(pastedGraphic.message, statusMessage(QStringLiteral("Graphic pasted"), 2000));
    QCOMPARE(pastedGraphic.graphicsSet().constFirst().side, CardSide::Back);
    QCOMPARE(pastedGraphic.graphicsSet().constFirst().projectId, fx.projectId);

    const DocumentChange scratch = fx.doc().addElement(makeField(QStringLiteral("scratch"), QStringLiteral("back"), 1, 1));
    QVERIFY(scratch.touchesCardNumbering());
    QCOMPARE(fx.doc().history().count(), 4);
    QVERIFY(fx.consistent());
}

void TestEditorDocument::unchangedOrUnknownRecordsRecordNothing()
{
    Fixture fx;
    QVERIFY(fx.setUp());
    const TemplateField field =
        fx.doc().addElement(makeField(QStringLiteral("text"), QStringLiteral("front"), 2, 2)).fieldsSet().constFirst();
    const GraphicElement table = fx.doc().addElement(makeTable(30, 30, 2, 2, 0)).graphicsSet().constFirst();
    const QStringList before = fx.dump();
    QCOMPARE(fx.doc().history().count(), 2);

    QVERIFY(fx.doc().modifyElement(field).isEmpty());
    TemplateField unknown = field;
    unknown.id += 1000;
    unknown.xMm = 40;
    QVERIFY(fx.doc().modifyElement(unknown).isEmpty());
    QVERIFY(fx.doc().deleteElement({ElementGroup::Field, unknown.id}).isEmpty());
    // The kind of a stored graphic does not change, so this is no change at all.
    GraphicElement retyped = table;
    retyped.type = ElementKind::Rectangle;
    QVERIFY(fx.doc().modifyElement(retyped).isEmpty());
    // Only a table splits.
    GraphicElement ellipse =
        fx.doc().addElement(makeGraphic(QStringLiteral("ellipse"), QStringLiteral("front"), 1, 1)).graphicsSet().first();
    QVERIFY(fx.doc().undo().ok);
    QVERIFY(fx.doc().splitTable(ellipse.id).isEmpty());

    QCOMPARE(fx.dump(), before);
    QCOMPARE(fx.doc().history().count(), 3);
    QCOMPARE(fx.doc().history().cursor(), 2);
    QVERIFY(fx.consistent());
}

void TestEditorDocument::failedWriteRecordsNothing_data()
{
    QTest::addColumn<FailingOperation>("operation");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<EditorMessage>("expected"); // %1: the error

    const QString fieldInsert = QStringLiteral("BEFORE INSERT ON template_fields");
    const QString graphicInsert = QStringLiteral("BEFORE INSERT ON template_graphics");
    const EditorMessage undoFailed = criticalMessage(QStringLiteral("Could Not Apply Undo/Redo"), QStringLiteral("%1"));
    const EditorMessage splitFailed = criticalMessage(QStringLiteral("Could Not Split Table"), QStringLiteral("%1"));

    QTest::newRow("add field") << FailingOperation::AddField << fieldInsert
                               << criticalMessage(QStringLiteral("Add Field Failed"), QStringLiteral("%1"));
    QTest::newRow("add graphic") << FailingOperation::AddGraphic << graphicInsert
                                 << criticalMessage(QStringLiteral("Add Graphic Failed"), QStringLiteral("%1"));
    QTest::newRow("paste field") << FailingOperation::PasteField << fieldInsert
                                 << criticalMessage(QStringLiteral("Paste Field Failed"), QStringLiteral("%1"));
    QTest::newRow("paste graphic") << FailingOperation::PasteGraphic << graphicInsert
                                   << criticalMessage(QStringLiteral("Paste Graphic Failed"), QStringLiteral("%1"));
    QTest::newRow("move field") << FailingOperation::MoveField << QStringLiteral("BEFORE UPDATE ON template_fields")
                                << statusMessage(QStringLiteral("Could not save the field: %1"), 6000);
    QTest::newRow("edit graphic") << FailingOperation::EditGraphic
                                  << QStringLiteral("BEFORE UPDATE ON template_graphics")
                                  << statusMessage(QStringLiteral("Could not save the graphic: %1"), 6000);
    QTest::newRow("delete field") << FailingOperation::DeleteField
                                  << QStringLiteral("BEFORE DELETE ON template_fields")
                                  << criticalMessage(QStringLiteral("Could Not Delete Field"), QStringLiteral("%1"));
    QTest::newRow("delete graphic") << FailingOperation::DeleteGraphic
                                    << QStringLiteral("BEFORE DELETE ON template_graphics")
                                    << criticalMessage(QStringLiteral("Delete Graphic Failed"), QStringLiteral("%1"));
    // The fixture's rectangle counts too: four cells go in before the fifth fails.
    QTest::newRow("split, fifth rectangle")
        << FailingOperation::SplitAtFifthRectangle
        << QStringLiteral("BEFORE INSERT ON template_graphics WHEN (SELECT COUNT(*) FROM template_graphics "
                          "WHERE element_type='rectangle') >= 5")
        << splitFailed;
    QTest::newRow("split, table delete")
        << FailingOperation::SplitAtTableDelete
        << QStringLiteral("BEFORE DELETE ON template_graphics WHEN OLD.element_type='table'") << splitFailed;
    QTest::newRow("undo add") << FailingOperation::UndoAdd << QStringLiteral("BEFORE DELETE ON template_graphics")
                              << undoFailed;
    QTest::newRow("undo delete") << FailingOperation::UndoDelete << fieldInsert << undoFailed;
    // Every rectangle is deleted before the table's insert fails.
    QTest::newRow("undo split, table insert")
        << FailingOperation::UndoSplitAtTableInsert
        << QStringLiteral("BEFORE INSERT ON template_graphics WHEN NEW.element_type='table'") << undoFailed;
    // The table is deleted before the first rectangle's insert fails.
    QTest::newRow("redo split, first rectangle")
        << FailingOperation::RedoSplitAtFirstRectangle
        << QStringLiteral("BEFORE INSERT ON template_graphics WHEN NEW.element_type='rectangle'") << undoFailed;
    QTest::newRow("redo modify") << FailingOperation::RedoModify << QStringLiteral("BEFORE UPDATE ON template_fields")
                                 << undoFailed;
}

void TestEditorDocument::failedWriteRecordsNothing()
{
    QFETCH(FailingOperation, operation);
    QFETCH(QString, trigger);
    QFETCH(EditorMessage, expected);

    Fixture fx;
    QVERIFY(fx.setUp());
    EditorDocument &doc = fx.doc();
    const TemplateField field =
        doc.addElement(makeField(QStringLiteral("text"), QStringLiteral("front"), 3, 3)).fieldsSet().value(0);
    const GraphicElement table = doc.addElement(makeTable(60, 30, 3, 3, 2)).graphicsSet().value(0);
    const GraphicElement rectangle =
        doc.addElement(makeGraphic(QStringLiteral("rectangle"), QStringLiteral("back"), 5, 5)).graphicsSet().value(0);
    QVERIFY(field.id > 0 && table.id > 0 && rectangle.id > 0);

    TemplateField movedField = field;
    movedField.xMm = 20;
    GraphicElement editedRectangle = rectangle;
    editedRectangle.strokeWidthMm = 1.5;
    switch (operation) {
    case FailingOperation::UndoDelete:
        QVERIFY(doc.deleteElement({ElementGroup::Field, field.id}).ok);
        break;
    case FailingOperation::UndoSplitAtTableInsert:
        QVERIFY(doc.splitTable(table.id).ok);
        break;
    case FailingOperation::RedoSplitAtFirstRectangle:
        QVERIFY(doc.splitTable(table.id).ok);
        QVERIFY(doc.undo().ok);
        break;
    case FailingOperation::RedoModify:
        QVERIFY(doc.modifyElement(movedField).ok);
        QVERIFY(doc.undo().ok);
        break;
    default:
        break;
    }

    const auto run = [&]() {
        switch (operation) {
        case FailingOperation::AddField:
            return doc.addElement(makeField(QStringLiteral("qrcode"), QStringLiteral("front"), 9, 9));
        case FailingOperation::AddGraphic:
            return doc.addElement(makeGraphic(QStringLiteral("line"), QStringLiteral("back"), 9, 9));
        case FailingOperation::PasteField:
            return doc.pasteElements({field}, CardSide::Back);
        case FailingOperation::PasteGraphic:
            return doc.pasteElements({rectangle}, CardSide::Front);
        case FailingOperation::MoveField:
            return doc.modifyElement(movedField);
        case FailingOperation::EditGraphic:
            return doc.modifyElement(editedRectangle);
        case FailingOperation::DeleteField:
            return doc.deleteElement({ElementGroup::Field, field.id});
        case FailingOperation::DeleteGraphic:
            return doc.deleteElement({ElementGroup::Graphic, rectangle.id});
        case FailingOperation::SplitAtFifthRectangle:
        case FailingOperation::SplitAtTableDelete:
            return doc.splitTable(table.id);
        case FailingOperation::UndoAdd:
        case FailingOperation::UndoDelete:
        case FailingOperation::UndoSplitAtTableInsert:
            return doc.undo();
        case FailingOperation::RedoSplitAtFirstRectangle:
        case FailingOperation::RedoModify:
            return doc.redo();
        }
        return DocumentChange();
    };

    const QStringList before = fx.dump();
    const QList<TemplateField> fieldsBefore = doc.fields();
    const QList<GraphicElement> graphicsBefore = doc.graphics();
    const int count = doc.history().count();
    const int cursor = doc.history().cursor();

    QVERIFY(fx.refuse(trigger));
    const DocumentChange failed = run();
    QVERIFY(!failed.ok);
    QVERIFY2(failed.error.contains(refusal), qPrintable(failed.error));
    expected.text = expected.text.arg(failed.error);
    QCOMPARE(failed.message, expected);
    QVERIFY(failed.isEmpty());
    QCOMPARE(fx.dump(), before);
    QCOMPARE(doc.fields(), fieldsBefore);
    QCOMPARE(doc.graphics(), graphicsBefore);
    QCOMPARE(doc.history().count(), count);
    QCOMPARE(doc.history().cursor(), cursor);

    // Nothing was lost: once the database accepts it, the same step succeeds.
    QVERIFY(fx.allow());
    const DocumentChange retried = run();
    QVERIFY2(retried.ok, qPrintable(retried.error));
    QVERIFY(!retried.isEmpty());
    QVERIFY(fx.dump() != before);
    QVERIFY(fx.consistent());
    if (operation >= FailingOperation::UndoAdd)
        QCOMPARE(doc.history().count(), count);
    else
        QCOMPARE(doc.history().count(), count + 1);
}

enum class VanishedCase {
    MoveField,
    EditGraphic,
    DeleteField,
    DeleteGraphic,
    DeleteSelection,
    Align,
    SplitTable,
    UndoModify,
    RedoModify,
    UndoAdd,
};
Q_DECLARE_METATYPE(VanishedCase)

void TestEditorDocument::vanishedObjectFailsAndReloads_data()
{
    QTest::addColumn<VanishedCase>("operation");
    QTest::newRow("move field") << VanishedCase::MoveField;
    QTest::newRow("edit graphic") << VanishedCase::EditGraphic;
    QTest::newRow("delete field") << VanishedCase::DeleteField;
    QTest::newRow("delete graphic") << VanishedCase::DeleteGraphic;
    QTest::newRow("delete selection") << VanishedCase::DeleteSelection;
    QTest::newRow("align") << VanishedCase::Align;
    QTest::newRow("split table") << VanishedCase::SplitTable;
    QTest::newRow("undo modify") << VanishedCase::UndoModify;
    QTest::newRow("redo modify") << VanishedCase::RedoModify;
    QTest::newRow("undo add") << VanishedCase::UndoAdd;
}

// Another program removed the object the document still holds: the edit fails
// with the store's reason, nothing is written or recorded, and the document
// takes the store's elements again, the other program's removal included.
void TestEditorDocument::vanishedObjectFailsAndReloads()
{
    QFETCH(VanishedCase, operation);
    Fixture fx;
    QVERIFY(fx.setUp());
    EditorDocument &doc = fx.doc();
    const TemplateField kept =
        doc.addElement(makeField(QStringLiteral("text"), QStringLiteral("front"), 3, 3)).fieldsSet().value(0);
    const TemplateField field =
        doc.addElement(makeField(QStringLiteral("sequence"), QStringLiteral("front"), 8, 8)).fieldsSet().value(0);
    const GraphicElement table = doc.addElement(makeTable(60, 30, 3, 3, 2)).graphicsSet().value(0);
    QVERIFY(kept.id > 0 && field.id > 0 && table.id > 0);

    TemplateField moved = field;
    moved.xMm = 20;
    GraphicElement edited = table;
    edited.strokeWidthMm = 1.5;
    if (operation == VanishedCase::UndoModify)
        QVERIFY(doc.modifyElement(moved).ok);
    if (operation == VanishedCase::RedoModify) {
        QVERIFY(doc.modifyElement(moved).ok);
        QVERIFY(doc.undo().ok);
    }

    const bool graphicGoes = operation == VanishedCase::EditGraphic || operation == VanishedCase::DeleteGraphic
        || operation == VanishedCase::SplitTable || operation == VanishedCase::UndoAdd;
    RawConnection other(fx.scratch.path());
    QVERIFY(other.isOpen());
    QVERIFY(exec(other.db(), graphicGoes ? QStringLiteral("DELETE FROM template_graphics WHERE id=%1").arg(table.id)
                                         : QStringLiteral("DELETE FROM template_fields WHERE id=%1").arg(field.id)));

    const QStringList before = fx.dump();
    const int count = doc.history().count();
    const int cursor = doc.history().cursor();
    DocumentChange failed;
    switch (operation) {
    case VanishedCase::MoveField:
        failed = doc.modifyElement(moved);
        break;
    case VanishedCase::EditGraphic:
        failed = doc.modifyElement(edited);
        break;
    case VanishedCase::DeleteField:
        failed = doc.deleteElement({ElementGroup::Field, field.id});
        break;
    case VanishedCase::DeleteGraphic:
        failed = doc.deleteElement({ElementGroup::Graphic, table.id});
        break;
    case VanishedCase::DeleteSelection:
        failed = doc.deleteElements({{ElementGroup::Field, field.id}});
        break;
    case VanishedCase::Align:
        failed = doc.alignObjects(AlignMode::Left, {{ElementGroup::Field, kept.id}, {ElementGroup::Field, field.id}},
                                  {ElementGroup::Field, kept.id});
        break;
    case VanishedCase::SplitTable:
        failed = doc.splitTable(table.id);
        break;
    case VanishedCase::UndoModify:
    case VanishedCase::UndoAdd:
        failed = doc.undo();
        break;
    case VanishedCase::RedoModify:
        failed = doc.redo();
        break;
    }

    QVERIFY(!failed.ok);
    QVERIFY(failed.reloaded);
    QCOMPARE(failed.message, criticalMessage(QStringLiteral("Object Removed Elsewhere"),
                                             elementRemovedElsewhereMessage()));
    QVERIFY(failed.isEmpty());
    QCOMPARE(fx.dump(), before);
    QCOMPARE(doc.history().count(), count);
    QCOMPARE(doc.history().cursor(), cursor);
    QVERIFY(fx.consistent());
    QVERIFY(graphicGoes ? !doc.graphic(table.id) : !doc.field(field.id));
    QVERIFY(doc.field(kept.id));

    // The next edit of what is still there goes through as usual.
    TemplateField keptMoved = kept;
    keptMoved.yMm = 30;
    const DocumentChange next = doc.modifyElement(keptMoved);
    QVERIFY2(next.ok, qPrintable(next.error));
    QVERIFY(!next.reloaded);
    QVERIFY(fx.consistent());
}

// Another program holds the write lock: the store's busy timeout runs out.
void TestEditorDocument::lockedDatabaseRecordsNothing()
{
    Fixture fx;
    QVERIFY(fx.setUp());
    QVERIFY(fx.doc().addElement(makeField(QStringLiteral("text"), QStringLiteral("front"), 3, 3)).ok);
    const QStringList before = fx.dump();

    RawConnection other(fx.scratch.path());
    QVERIFY(other.isOpen());
    QVERIFY(exec(other.db(), QStringLiteral("BEGIN IMMEDIATE")));
    const DocumentChange added = fx.doc().addElement(makeTable(40, 20, 2, 2, 0));
    const DocumentChange undone = fx.doc().undo();
    QVERIFY(exec(other.db(), QStringLiteral("ROLLBACK")));

    const QString inUse = QStringLiteral("The project database is in use by another program; try again");
    QVERIFY(!added.ok);
    QCOMPARE(added.message, criticalMessage(QStringLiteral("Add Graphic Failed"), inUse));
    QVERIFY(!undone.ok);
    QCOMPARE(undone.message, criticalMessage(QStringLiteral("Could Not Apply Undo/Redo"), inUse));
    QCOMPARE(fx.dump(), before);
    QCOMPARE(fx.doc().history().count(), 1);
    QCOMPARE(fx.doc().history().cursor(), 1);
    QVERIFY(fx.consistent());
}

void TestEditorDocument::splitTable()
{
    Fixture fx;
    QVERIFY(fx.setUp());
    EditorDocument &doc = fx.doc();
    const GraphicElement first =
        doc.addElement(makeGraphic(QStringLiteral("line"), QStringLiteral("front"), 0, 0)).graphicsSet().value(0);
    const GraphicElement table = doc.addElement(makeTable(60, 30, 3, 3, 2)).graphicsSet().value(0);
    const GraphicElement last =
        doc.addElement(makeGraphic(QStringLiteral("ellipse"), QStringLiteral("front"), 0, 0)).graphicsSet().value(0);
    QVERIFY(table.id > 0 && last.id > 0);
    const QStringList before = fx.dump();

    const DocumentChange split = doc.splitTable(table.id);
    QVERIFY2(split.ok, qPrintable(split.error));
    QCOMPARE(split.message, statusMessage(QStringLiteral("Split the table into 9 independent rectangles."), 3000));
    QCOMPARE(split.graphicsRemoved(), QList<GraphicElement>{table});
    QCOMPARE(split.graphicsSet().size(), 9);
    const QList<GraphicElement> cells = splitTableCells(table);
    QCOMPARE(cells.size(), 9);
    for (int i = 0; i < cells.size(); ++i) {
        GraphicElement expected = cells[i];
        expected.id = split.graphicsSet()[i].id;
        QCOMPARE(split.graphicsSet()[i], expected);
    }
    const GraphicElement cell = split.graphicsSet().constFirst();
    QCOMPARE(QRectF(cell.xMm, cell.yMm, cell.widthMm, cell.heightMm), QRectF(table.xMm + 1, table.yMm + 1, 18, 8));
    for (const GraphicElement &rectangle : split.graphicsSet()) {
        QVERIFY(rectangle.id > last.id);
        QCOMPARE(rectangle.type, ElementKind::Rectangle);
        QCOMPARE(rectangle.projectId, fx.projectId);
        QCOMPARE(rectangle.fillColor, table.fillColor);
    }
    // The new rectangles are drawn on top, as any new element.
    QCOMPARE(doc.graphics().mid(0, 2), QList<GraphicElement>({first, last}));
    QCOMPARE(doc.graphics().mid(2), split.graphicsSet());
    QCOMPARE(doc.history().count(), 4);
    QVERIFY(fx.consistent());
    const QStringList afterSplit = fx.dump();

    // One step back: the table, with its id and its place between the others.
    const DocumentChange undone = doc.undo();
    QVERIFY2(undone.ok, qPrintable(undone.error));
    QCOMPARE(undone.graphicsSet(), QList<GraphicElement>{table});
    QCOMPARE(undone.graphicsRemoved().size(), 9);
    QCOMPARE(fx.dump(), before);
    QCOMPARE(doc.graphics(), QList<GraphicElement>({first, table, last}));

    const DocumentChange redone = doc.redo();
    QVERIFY2(redone.ok, qPrintable(redone.error));
    QCOMPARE(redone.graphicsSet(), split.graphicsSet());
    QCOMPARE(fx.dump(), afterSplit);
    QVERIFY(fx.consistent());
}

void TestEditorDocument::splitTableRefusals_data()
{
    QTest::addColumn<GraphicElement>("table");
    // Cells of 20 × 10 mm.
    QTest::newRow("spacing equal to the smaller cell side") << makeTable(60, 30, 3, 3, 10);
    QTest::newRow("spacing above both cell sides") << makeTable(60, 30, 3, 3, 25);
    QTest::newRow("more cells than can be split") << makeTable(60, 30, 200, 100, 0);
}

void TestEditorDocument::splitTableRefusals()
{
    QFETCH(GraphicElement, table);
    Fixture fx;
    QVERIFY(fx.setUp());
    const GraphicElement stored = fx.doc().addElement(table).graphicsSet().value(0);
    QVERIFY(stored.id > 0);
    const QStringList before = fx.dump();

    const DocumentChange refused = fx.doc().splitTable(stored.id);
    QVERIFY(!refused.ok);
    QVERIFY(refused.isEmpty());
    const QString reason = tableSplitRefusal(stored);
    QVERIFY(!reason.isEmpty());
    QCOMPARE(refused.message, criticalMessage(QStringLiteral("Could Not Split Table"), reason));
    QCOMPARE(fx.dump(), before);
    QCOMPARE(fx.doc().history().count(), 1);
}

void TestEditorDocument::alignMovesAllButTheAnchor_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("anchorIndex");
    for (int mode = int(AlignMode::Left); mode <= int(AlignMode::Bottom); ++mode) {
        QTest::addRow("mode %d, anchor last", mode) << mode << 2;
        QTest::addRow("mode %d, anchor first", mode) << mode << 0;
    }
    QTest::newRow("anchor not selected: the first is") << int(AlignMode::Right) << -1;
}

void TestEditorDocument::alignMovesAllButTheAnchor()
{
    QFETCH(int, mode);
    QFETCH(int, anchorIndex);
    const AlignMode alignMode = AlignMode(mode);

    Fixture fx;
    QVERIFY(fx.setUp());
    EditorDocument &doc = fx.doc();
    TemplateField f = makeField(QStringLiteral("barcode"), QStringLiteral("front"), 3, 4);
    f.widthMm = 30;
    f.heightMm = 12;
    const TemplateField field = doc.addElement(f).fieldsSet().value(0);
    GraphicElement r = makeGraphic(QStringLiteral("rectangle"), QStringLiteral("front"), 40, 30);
    r.widthMm = 20;
    r.heightMm = 8;
    const GraphicElement rectangle = doc.addElement(r).graphicsSet().value(0);
    const GraphicElement ellipse =
        doc.addElement(makeGraphic(QStringLiteral("ellipse"), QStringLiteral("front"), 12, 20)).graphicsSet().value(0);
    const QList<ElementRef> selection = {{ElementGroup::Field, field.id},
                                         {ElementGroup::Graphic, rectangle.id},
                                         {ElementGroup::Graphic, ellipse.id}};
    const ElementRef anchor = anchorIndex >= 0 ? selection[anchorIndex] : ElementRef{ElementGroup::Field, 999};
    const QRectF fieldRect(field.xMm, field.yMm, field.widthMm, field.heightMm);
    const QRectF rects[] = {fieldRect, QRectF(rectangle.xMm, rectangle.yMm, rectangle.widthMm, rectangle.heightMm),
                            QRectF(ellipse.xMm, ellipse.yMm, ellipse.widthMm, ellipse.heightMm)};
    const int anchorAt = std::max(anchorIndex, 0);
    const int entriesBefore = doc.history().count();

    const DocumentChange aligned = doc.alignObjects(alignMode, selection, anchor);
    QVERIFY2(aligned.ok, qPrintable(aligned.error));
    QCOMPARE(aligned.message,
             statusMessage(QStringLiteral("Moved and aligned 2 objects; the last selected anchor stayed in place"), 2200));

    QList<QPointF> positions = {QPointF(doc.field(field.id)->xMm, doc.field(field.id)->yMm),
                                QPointF(doc.graphic(rectangle.id)->xMm, doc.graphic(rectangle.id)->yMm),
                                QPointF(doc.graphic(ellipse.id)->xMm, doc.graphic(ellipse.id)->yMm)};
    int moved = 0;
    for (int i = 0; i < 3; ++i) {
        const QPointF expected = i == anchorAt ? rects[i].topLeft() : alignedPosition(alignMode, rects[anchorAt], rects[i]);
        QCOMPARE(positions[i], expected);
        moved += expected != rects[i].topLeft() ? 1 : 0;
    }
    QCOMPARE(aligned.fieldsSet().size() + aligned.graphicsSet().size(), moved);
    // The whole align is one step, named as its button.
    QCOMPARE(doc.history().count(), entriesBefore + (moved > 0 ? 1 : 0));
    if (moved > 0)
        QCOMPARE(doc.history().undoLabel(), alignModeName(alignMode));
    QVERIFY(fx.consistent());

    if (moved > 0)
        QVERIFY(doc.undo().ok);
    QCOMPARE(*doc.field(field.id), field);
    QCOMPARE(*doc.graphic(rectangle.id), rectangle);
    QCOMPARE(*doc.graphic(ellipse.id), ellipse);

    // Fewer than two objects: nothing moves.
    const DocumentChange single = doc.alignObjects(alignMode, selection.mid(0, 1), selection[0]);
    QCOMPARE(single.message, statusMessage(QStringLiteral("Hold Shift and select at least two objects."), 2500));
    QVERIFY(single.isEmpty());
}

void TestEditorDocument::alignReportsFailures()
{
    Fixture fx;
    QVERIFY(fx.setUp());
    EditorDocument &doc = fx.doc();
    const TemplateField a = doc.addElement(makeField(QStringLiteral("text"), QStringLiteral("back"), 3, 4)).fieldsSet().value(0);
    const TemplateField b = doc.addElement(makeField(QStringLiteral("text"), QStringLiteral("back"), 9, 14)).fieldsSet().value(0);
    const GraphicElement c =
        doc.addElement(makeGraphic(QStringLiteral("line"), QStringLiteral("back"), 30, 2)).graphicsSet().value(0);
    const TemplateField anchor =
        doc.addElement(makeField(QStringLiteral("text"), QStringLiteral("back"), 50, 40)).fieldsSet().value(0);
    const QList<ElementRef> selection = {{ElementGroup::Field, a.id},
                                         {ElementGroup::Field, b.id},
                                         {ElementGroup::Graphic, c.id},
                                         {ElementGroup::Field, anchor.id}};
    QVERIFY(fx.refuse(QStringLiteral("BEFORE UPDATE ON template_fields WHEN OLD.id=%1").arg(b.id)));

    const QStringList before = fx.dump();
    const DocumentChange aligned = doc.alignObjects(AlignMode::Top, selection, selection.last());
    QVERIFY(!aligned.ok);
    QVERIFY2(aligned.error.contains(refusal), qPrintable(aligned.error));
    QCOMPARE(aligned.message,
             statusMessage(QStringLiteral("Some objects failed to save after alignment: %1").arg(aligned.error), 6000));
    // All or nothing: the object written before the refused one is back too.
    QCOMPARE(*doc.field(a.id), a);
    QCOMPARE(*doc.field(b.id), b);
    QCOMPARE(*doc.graphic(c.id), c);
    QVERIFY(aligned.isEmpty());
    QCOMPARE(fx.dump(), before);
    QCOMPARE(doc.history().count(), 4);
    QCOMPARE(doc.history().undoLabel(), QStringLiteral("Add Text Field"));
    QVERIFY(fx.consistent());
}

void TestEditorDocument::deleteSelectionReports()
{
    Fixture fx;
    QVERIFY(fx.setUp());
    EditorDocument &doc = fx.doc();
    QList<ElementRef> refs;
    for (int i = 0; i < 3; ++i) {
        const TemplateElement ellipse = makeGraphic(QStringLiteral("ellipse"), QStringLiteral("front"), i, i);
        const TemplateElement sequence = makeField(QStringLiteral("sequence"), QStringLiteral("front"), i, i);
        refs << refOf(doc.addElement(ellipse).set.value(0));
        refs << refOf(doc.addElement(sequence).set.value(0));
    }

    const DocumentChange none = doc.deleteElements({});
    QVERIFY(none.ok && none.isEmpty());
    QCOMPARE(none.message, EditorMessage());

    const DocumentChange one = doc.deleteElements(refs.mid(0, 1));
    QVERIFY(one.ok);
    QCOMPARE(one.message, statusMessage(QStringLiteral("Deleted 1 selected object"), 2500));
    QCOMPARE(one.graphicsRemoved().size(), 1);

    QCOMPARE(doc.history().undoLabel(), QStringLiteral("Delete Graphic"));

    // Fields go first, then graphics, all in one step.
    const DocumentChange two = doc.deleteElements(refs.mid(2, 2));
    QCOMPARE(two.message, statusMessage(QStringLiteral("Deleted 2 selected objects"), 2500));
    QCOMPARE(two.fieldsRemoved().size(), 1);
    QCOMPARE(two.graphicsRemoved().size(), 1);
    QVERIFY(two.touchesCardNumbering());
    QCOMPARE(doc.history().count(), 8);
    QCOMPARE(doc.history().undoLabel(), QStringLiteral("Delete 2 Objects"));
    const DocumentChange undone = doc.undo();
    QCOMPARE(undone.fieldsSet(), two.fieldsRemoved());
    QCOMPARE(undone.graphicsSet(), two.graphicsRemoved());
    QCOMPARE(doc.history().undoLabel(), QStringLiteral("Delete Graphic"));

    // A failure deletes nothing and is reported with the count.
    QVERIFY(doc.undo().ok);
    const QStringList before = fx.dump();
    QVERIFY(fx.refuse(QStringLiteral("BEFORE DELETE ON template_graphics WHEN OLD.id=%1").arg(refs[4].id)));
    const int entries = doc.history().count();
    const DocumentChange partly = doc.deleteElements(refs.mid(1));
    QVERIFY(!partly.ok);
    QVERIFY2(partly.error.contains(refusal), qPrintable(partly.error));
    QCOMPARE(partly.message,
             statusMessage(QStringLiteral("Deleted 0 object(s); 5 failed: %1").arg(partly.error), 6000));
    QVERIFY(partly.isEmpty());
    QCOMPARE(doc.fields().size() + doc.graphics().size(), 6);
    QCOMPARE(fx.dump(), before);
    QCOMPARE(doc.history().count(), entries);
    QVERIFY(fx.consistent());
}

void TestEditorDocument::alignOfSixIsOneStep()
{
    Fixture fx;
    QVERIFY(fx.setUp());
    EditorDocument &doc = fx.doc();
    QList<ElementRef> selection;
    for (int i = 0; i < 3; ++i) {
        selection << refOf(
            doc.addElement(makeField(QStringLiteral("text"), QStringLiteral("front"), 5 + i * 7, 4 + i)).set.value(0));
        selection << refOf(
            doc.addElement(makeGraphic(QStringLiteral("rectangle"), QStringLiteral("front"), 11 + i * 5, 30 - i))
                .set.value(0));
    }
    const QStringList before = fx.dump();
    const QList<TemplateField> fieldsBefore = doc.fields();
    const QList<GraphicElement> graphicsBefore = doc.graphics();
    const int entries = doc.history().count();

    doc.setSelection(selection);
    const DocumentChange aligned = doc.alignSelection(AlignMode::Left);
    QVERIFY2(aligned.ok, qPrintable(aligned.error));
    QCOMPARE(aligned.fieldsSet().size() + aligned.graphicsSet().size(), 5);
    // The anchor is the last selected: every other object now starts at its x.
    const double anchorX = doc.graphic(selection.last().id)->xMm;
    for (const TemplateField &f : doc.fields())
        QCOMPARE(f.xMm, anchorX);
    QCOMPARE(doc.history().count(), entries + 1);
    QCOMPARE(doc.history().undoLabel(), QStringLiteral("Align Left"));

    const DocumentChange undone = doc.undo();
    QVERIFY(undone.ok);
    QCOMPARE(undone.fieldsSet().size() + undone.graphicsSet().size(), 5);
    QCOMPARE(fx.dump(), before);
    QCOMPARE(doc.fields(), fieldsBefore);
    QCOMPARE(doc.graphics(), graphicsBefore);
    QCOMPARE(doc.history().redoLabel(), QStringLiteral("Align Left"));
    QVERIFY(doc.redo().ok);
    QCOMPARE(doc.history().count(), entries + 1);
    QVERIFY(fx.consistent());
}

// Ids are unique per table only: a field and a graphic with the same id are
// two objects to select, edit, delete and put back.
void TestEditorDocument::fieldAndGraphicWithOneIdStayApart()
{
    Fixture fx;
    QVERIFY(fx.setUp());
    EditorDocument &doc = fx.doc();
    QVERIFY(doc.addElement(makeField(QStringLiteral("text"), QStringLiteral("front"), 3, 3)).ok);
    QVERIFY(doc.addElement(makeGraphic(QStringLiteral("rectangle"), QStringLiteral("front"), 4, 4)).ok);
    const TemplateField field = doc.fields().constFirst();
    const GraphicElement graphic = doc.graphics().constFirst();
    QCOMPARE(field.id, graphic.id);
    const ElementRef fieldRef{ElementGroup::Field, field.id};
    const ElementRef graphicRef{ElementGroup::Graphic, graphic.id};

    doc.setSelection({fieldRef, graphicRef});
    QCOMPARE(doc.selection(), QList<ElementRef>({fieldRef, graphicRef}));
    QCOMPARE(doc.element(graphicRef), std::optional<TemplateElement>(graphic));

    GraphicElement moved = graphic;
    moved.xMm = 20;
    QVERIFY(doc.modifyElement(moved).ok);
    QCOMPARE(doc.field(field.id), std::optional(field));
    QCOMPARE(doc.graphic(graphic.id), std::optional(moved));

    const DocumentChange deleted = doc.deleteElement(graphicRef);
    QVERIFY(deleted.ok);
    QCOMPARE(deleted.removed, QList<TemplateElement>{moved});
    QCOMPARE(doc.selection(), QList<ElementRef>{fieldRef});
    QCOMPARE(doc.fields(), QList<TemplateField>{field});
    QVERIFY(doc.graphics().isEmpty());
    QVERIFY(fx.consistent());

    QVERIFY(doc.undo().ok);
    QCOMPARE(doc.graphics(), QList<GraphicElement>{moved});
    QCOMPARE(doc.fields(), QList<TemplateField>{field});
    QVERIFY(fx.consistent());
}

void TestEditorDocument::deleteOfThreeIsOneStep()
{
    Fixture fx;
    QVERIFY(fx.setUp());
    EditorDocument &doc = fx.doc();
    // Stored orders with ties and gaps, so that a restored row must find its
    // place between the others, not on top.
    for (int i = 0; i < 5; ++i) {
        GraphicElement g = makeGraphic(QStringLiteral("ellipse"), QStringLiteral("front"), i, i);
        g.projectId = fx.projectId;
        QVERIFY(fx.scratch.store().insertElement(&g));
        QVERIFY(exec(fx.db(), QStringLiteral("UPDATE template_graphics SET sort_order=? WHERE id=?"),
                     {QList<int>{7, 3, 3, 0, 12}.at(i), g.id}));
        TemplateField f = makeField(QStringLiteral("text"), QStringLiteral("front"), i, i);
        f.projectId = fx.projectId;
        QVERIFY(fx.scratch.store().insertElement(&f));
    }
    QVERIFY(doc.open(fx.projectId));
    const QStringList before = fx.dump();
    const QList<TemplateField> fieldsBefore = doc.fields();
    const QList<GraphicElement> graphicsBefore = doc.graphics();
    const QList<ElementRef> selection = {{ElementGroup::Graphic, graphicsBefore.at(1).id},
                                         {ElementGroup::Field, fieldsBefore.at(2).id},
                                         {ElementGroup::Graphic, graphicsBefore.at(3).id}};

    const DocumentChange deleted = doc.deleteElements(selection);
    QVERIFY2(deleted.ok, qPrintable(deleted.error));
    QCOMPARE(deleted.fieldsRemoved().size() + deleted.graphicsRemoved().size(), 3);
    QCOMPARE(doc.history().count(), 1);
    QCOMPARE(doc.history().undoLabel(), QStringLiteral("Delete 3 Objects"));

    // One undo brings all three back, under their ids and in their places.
    const DocumentChange undone = doc.undo();
    QVERIFY2(undone.ok, qPrintable(undone.error));
    QCOMPARE(fx.dump(), before);
    QCOMPARE(doc.fields(), fieldsBefore);
    QCOMPARE(doc.graphics(), graphicsBefore);
    QVERIFY(!doc.history().canUndo());
    QVERIFY(doc.redo().ok);
    QCOMPARE(doc.fields().size() + doc.graphics().size(), 7);
    QVERIFY(fx.consistent());
}

void TestEditorDocument::multiObjectStepsAreAllOrNothing_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("paste of several") << "paste";
    QTest::newRow("drag of several") << "move";
    QTest::newRow("undo of a selection delete") << "undo";
}

// The last statement of the step fails: nothing of the earlier ones stays in
// the store or the document, and the history is as it was.
void TestEditorDocument::multiObjectStepsAreAllOrNothing()
{
    QFETCH(QString, operation);
    Fixture fx;
    QVERIFY(fx.setUp());
    EditorDocument &doc = fx.doc();
    const TemplateField a = doc.addElement(makeField(QStringLiteral("text"), QStringLiteral("front"), 1, 1)).fieldsSet().value(0);
    const GraphicElement b =
        doc.addElement(makeGraphic(QStringLiteral("line"), QStringLiteral("front"), 2, 2)).graphicsSet().value(0);
    const GraphicElement c =
        doc.addElement(makeGraphic(QStringLiteral("rectangle"), QStringLiteral("front"), 3, 3)).graphicsSet().value(0);
    if (operation == QLatin1String("undo")) {
        QVERIFY(doc.deleteElements({{ElementGroup::Field, a.id}, {ElementGroup::Graphic, b.id},
                                   {ElementGroup::Graphic, c.id}})
                    .ok);
    }
    const QStringList before = fx.dump();
    const QList<TemplateField> fieldsBefore = doc.fields();
    const QList<GraphicElement> graphicsBefore = doc.graphics();
    const int count = doc.history().count();
    const int cursor = doc.history().cursor();

    DocumentChange change;
    if (operation == QLatin1String("paste")) {
        QVERIFY(fx.refuse(QStringLiteral("BEFORE INSERT ON template_graphics WHEN NEW.element_type='ellipse'")));
        change = doc.pasteElements(elementsOf(QList<TemplateField>{a}, QList<GraphicElement>{b, makeGraphic(QStringLiteral("ellipse"), QStringLiteral("front"), 9, 9)}), CardSide::Back);
    } else if (operation == QLatin1String("move")) {
        QVERIFY(fx.refuse(QStringLiteral("BEFORE UPDATE ON template_graphics WHEN OLD.id=%1").arg(c.id)));
        TemplateField movedA = a;
        movedA.xMm += 5;
        GraphicElement movedB = b;
        movedB.xMm += 5;
        GraphicElement movedC = c;
        movedC.xMm += 5;
        change = doc.modifyElements(elementsOf(QList<TemplateField>{movedA}, QList<GraphicElement>{movedB, movedC}));
    } else {
        QVERIFY(fx.refuse(QStringLiteral("BEFORE INSERT ON template_graphics WHEN NEW.id=%1").arg(c.id)));
        change = doc.undo();
    }
    QVERIFY(!change.ok);
    QVERIFY2(change.error.contains(refusal), qPrintable(change.error));
    QVERIFY(change.isEmpty());
    QCOMPARE(fx.dump(), before);
    QCOMPARE(doc.fields(), fieldsBefore);
    QCOMPARE(doc.graphics(), graphicsBefore);
    QCOMPARE(doc.history().count(), count);
    QCOMPARE(doc.history().cursor(), cursor);

    // Allowed again, the same action is one step.
    QVERIFY(fx.allow());
    if (operation == QLatin1String("undo")) {
        QVERIFY(doc.undo().ok);
        QCOMPARE(doc.fields().size() + doc.graphics().size(), 3);
    } else if (operation == QLatin1String("paste")) {
        const DocumentChange pasted = doc.pasteElements(elementsOf(QList<TemplateField>{a}, QList<GraphicElement>{b, c}), CardSide::Back);
        QVERIFY(pasted.ok);
        QCOMPARE(pasted.message, statusMessage(QStringLiteral("Pasted 3 objects"), 2000));
        QCOMPARE(doc.history().count(), count + 1);
        QCOMPARE(doc.history().undoLabel(), QStringLiteral("Paste"));
        QCOMPARE(doc.fieldsOnSide(CardSide::Back).size(), 1);
        // The pasted objects are what is selected now.
        QCOMPARE(doc.selection().size(), 3);
        QVERIFY(doc.undo().ok);
        QCOMPARE(doc.fields(), fieldsBefore);
        QVERIFY(doc.selection().isEmpty());
    }
    QVERIFY(fx.consistent());
}

void TestEditorDocument::labelsNameTheAction_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("label");
    QTest::newRow("text tool") << "add text" << "Add Text Field";
    QTest::newRow("barcode tool") << "add barcode" << "Add Barcode";
    QTest::newRow("table tool") << "add table" << "Add Table";
    QTest::newRow("paste") << "paste" << "Paste";
    QTest::newRow("move") << "move" << "Move";
    QTest::newRow("resize") << "resize" << "Resize";
    QTest::newRow("font size") << "font size" << "Change Font Size";
    QTest::newRow("font size with a refit box") << "font size refit" << "Change Font Size";
    QTest::newRow("stroke width") << "stroke width" << "Change Stroke Width";
    QTest::newRow("scratch settings") << "scratch" << "edit scratch-card settings";
    QTest::newRow("delete field") << "delete field" << "Delete Field";
    QTest::newRow("delete graphic") << "delete graphic" << "Delete Graphic";
    QTest::newRow("split table") << "split" << "Split Table";
    for (AlignMode mode : {AlignMode::Left, AlignMode::HorizontalCenter, AlignMode::Right, AlignMode::Top,
                           AlignMode::VerticalCenter, AlignMode::Bottom})
        QTest::addRow("%s", qPrintable(alignModeName(mode))) << QStringLiteral("align %1").arg(int(mode))
                                                          << alignModeName(mode);
}

void TestEditorDocument::labelsNameTheAction()
{
    QFETCH(QString, action);
    QFETCH(QString, label);
    Fixture fx;
    QVERIFY(fx.setUp());
    EditorDocument &doc = fx.doc();
    TemplateField field = doc.addElement(makeField(QStringLiteral("text"), QStringLiteral("front"), 1, 1)).fieldsSet().value(0);
    GraphicElement table = doc.addElement(makeTable(30, 20, 2, 2, 0)).graphicsSet().value(0);
    GraphicElement line =
        doc.addElement(makeGraphic(QStringLiteral("line"), QStringLiteral("front"), 40, 40)).graphicsSet().value(0);

    DocumentChange change;
    if (action == QLatin1String("add text")) {
        change = doc.addElement(makeField(QStringLiteral("text"), QStringLiteral("front"), 0, 0));
    } else if (action == QLatin1String("add barcode")) {
        change = doc.addElement(makeField(QStringLiteral("barcode"), QStringLiteral("front"), 0, 0));
    } else if (action == QLatin1String("add table")) {
        change = doc.addElement(makeTable(10, 10, 1, 1, 0));
    } else if (action == QLatin1String("paste")) {
        change = doc.pasteElements({field}, CardSide::Front);
    } else if (action == QLatin1String("move")) {
        field.xMm += 3;
        change = doc.modifyElement(field);
    } else if (action == QLatin1String("resize")) {
        line.widthMm += 3;
        line.xMm += 1;
        change = doc.modifyElement(line);
    } else if (action == QLatin1String("font size")) {
        field.fontSizePt = 30;
        change = doc.modifyElement(field);
    } else if (action == QLatin1String("font size refit")) {
        field.fontSizePt = 30;
        field.widthMm += 4;
        change = doc.modifyElement(field);
    } else if (action == QLatin1String("stroke width")) {
        line.strokeWidthMm = 1.5;
        change = doc.modifyElement(line);
    } else if (action == QLatin1String("scratch")) {
        field.scratchTotal = 50;
        change = doc.modifyElement(field, QStringLiteral("edit scratch-card settings"));
    } else if (action == QLatin1String("delete field")) {
        change = doc.deleteElements({{ElementGroup::Field, field.id}});
    } else if (action == QLatin1String("delete graphic")) {
        change = doc.deleteElement({ElementGroup::Graphic, line.id});
    } else if (action == QLatin1String("split")) {
        change = doc.splitTable(table.id);
    } else if (action.startsWith(QLatin1String("align "))) {
        change = doc.alignObjects(AlignMode(action.mid(6).toInt()),
                                  {{ElementGroup::Graphic, line.id}, {ElementGroup::Field, field.id}},
                                  {ElementGroup::Field, field.id});
    }
    QVERIFY2(change.ok, qPrintable(change.error));
    QVERIFY(!change.isEmpty());
    QCOMPARE(doc.history().undoLabel(), label);
    QVERIFY(doc.undo().ok);
    QCOMPARE(doc.history().redoLabel(), label);
    QCOMPARE(doc.history().undoLabel(), QStringLiteral("Add Line"));
}

void TestEditorDocument::propertyEditsMerge()
{
    Fixture fx;
    QVERIFY(fx.setUp());
    EditorDocument &doc = fx.doc();
    const TemplateField original =
        doc.addElement(makeField(QStringLiteral("text"), QStringLiteral("front"), 1, 1)).fieldsSet().value(0);
    const TemplateField other =
        doc.addElement(makeField(QStringLiteral("text"), QStringLiteral("front"), 9, 9)).fieldsSet().value(0);
    const QStringList start = fx.dump();
    QCOMPARE(doc.history().count(), 2);

    // A spin box's arrow held down: one step from 12 pt to the last value.
    TemplateField field = original;
    for (int size = 13; size <= 18; ++size) {
        field.fontSizePt = size;
        QVERIFY(doc.modifyElement(field).ok);
    }
    QCOMPARE(doc.history().count(), 3);
    QCOMPARE(doc.history().undoLabel(), QStringLiteral("Change Font Size"));
    QVERIFY(doc.undo().ok);
    QCOMPARE(fx.dump(), start);
    QCOMPARE(*doc.field(original.id), original);

    // Not across an undo: the edit after it starts a step of its own.
    QVERIFY(doc.redo().ok);
    field.fontSizePt = 20;
    QVERIFY(doc.modifyElement(field).ok);
    QCOMPARE(doc.history().count(), 4);
    QVERIFY(doc.undo().ok);
    QCOMPARE(doc.field(original.id)->fontSizePt, 18.0);

    // Another property, or another object, is another step.
    field = *doc.field(original.id);
    field.bold = true;
    QVERIFY(doc.modifyElement(field).ok);
    QCOMPARE(doc.history().count(), 4);
    TemplateField second = other;
    second.bold = true;
    QVERIFY(doc.modifyElement(second).ok);
    QCOMPARE(doc.history().count(), 5);
    QCOMPARE(doc.history().undoLabel(), QStringLiteral("Change Font Weight"));

    // A burst that ends where it began leaves no step at all.
    second.bold = false;
    QVERIFY(doc.modifyElement(second).ok);
    QCOMPARE(doc.history().count(), 4);
    QCOMPARE(*doc.field(other.id), other);
    // Moves are never merged: each drag is its own step.
    field = *doc.field(original.id);
    for (int x = 2; x <= 3; ++x) {
        field.xMm = x;
        QVERIFY(doc.modifyElement(field).ok);
    }
    QCOMPARE(doc.history().count(), 6);
    // The panel's X Position box, held down, is one step.
    for (int x = 4; x <= 9; ++x) {
        field.xMm = x;
        QVERIFY(doc.modifyElement(field, fieldPanelEditLabel(*doc.field(field.id), field)).ok);
    }
    QCOMPARE(doc.history().count(), 7);
    QCOMPARE(doc.history().undoLabel(), QStringLiteral("Change X Position"));
    QVERIFY(doc.undo().ok);
    QCOMPARE(doc.field(original.id)->xMm, 3.0);
    QVERIFY(fx.consistent());
}

void TestEditorDocument::changesAndSelectionAreAnnounced()
{
    Fixture fx;
    QVERIFY(fx.setUp());
    EditorDocument &doc = fx.doc();
    QSignalSpy changed(&doc, &EditorDocument::changed);
    QSignalSpy selectionChanged(&doc, &EditorDocument::selectionChanged);
    QSignalSpy historyChanged(&doc, &EditorDocument::historyChanged);

    const TemplateField field =
        doc.addElement(makeField(QStringLiteral("text"), QStringLiteral("front"), 1, 1)).fieldsSet().value(0);
    const GraphicElement line =
        doc.addElement(makeGraphic(QStringLiteral("line"), QStringLiteral("front"), 4, 4)).graphicsSet().value(0);
    QCOMPARE(changed.size(), 2);
    QCOMPARE(changed.last().first().value<DocumentChange>().graphicsSet(), QList<GraphicElement>{line});
    // A new object alone is selected.
    const ElementRef fieldRef{ElementGroup::Field, field.id};
    const ElementRef lineRef{ElementGroup::Graphic, line.id};
    QCOMPARE(doc.selection(), QList<ElementRef>{lineRef});
    QCOMPARE(selectionChanged.size(), 2);
    QVERIFY(historyChanged.size() >= 2);

    // The order of selection is kept; the last is the anchor; unknown ids
    // are left out; the same selection again announces nothing.
    doc.setSelection({lineRef, {ElementGroup::Field, 999}, fieldRef});
    QCOMPARE(doc.selection(), (QList<ElementRef>{lineRef, fieldRef}));
    QCOMPARE(doc.anchor(), std::optional<ElementRef>(fieldRef));
    const qsizetype selections = selectionChanged.size();
    doc.setSelection({lineRef, fieldRef});
    QCOMPARE(selectionChanged.size(), selections);

    // A modify announces that record alone; a removed object leaves the selection.
    TemplateField moved = field;
    moved.xMm = 30;
    doc.modifyElement(moved);
    const auto modify = changed.last().first().value<DocumentChange>();
    QCOMPARE(modify.fieldsSet(), QList<TemplateField>{moved});
    QVERIFY(modify.graphicsSet().isEmpty() && modify.fieldsRemoved().isEmpty());
    doc.deleteElement({ElementGroup::Field, field.id});
    QCOMPARE(changed.last().first().value<DocumentChange>().fieldsRemoved(), QList<TemplateField>{moved});
    QCOMPARE(doc.selection(), QList<ElementRef>{lineRef});

    // Nothing changed, nothing announced.
    const qsizetype changes = changed.size();
    doc.modifyElement(line);
    doc.deleteElements({});
    QCOMPARE(changed.size(), changes);

    // Opening a project empties the selection and the history.
    QVERIFY(doc.open(fx.projectId));
    QVERIFY(doc.selection().isEmpty());
    QVERIFY(!doc.history().canUndo());
}

// A long random session against a real database. Whenever undo or redo comes
// back to a state seen before, the template tables must equal that state's
// dump to the last value, sort_order included; at the end everything is
// undone back to the start and redone back to the end.
void TestEditorDocument::randomEditsUndoAndRedoExactly()
{
    Fixture fx;
    QVERIFY(fx.setUp());
    ProjectStore &store = fx.scratch.store();

    // A starting template with the ties and gaps an older release may leave.
    const QList<int> fieldOrders = {5, 2, 2, 9, 0};
    const QStringList fieldTypes = RandomEditor::fieldTypes();
    for (int i = 0; i < fieldOrders.size(); ++i) {
        TemplateField f = makeField(fieldTypes[i], i % 2 ? QStringLiteral("back") : QStringLiteral("front"), i, i);
        f.projectId = fx.projectId;
        QVERIFY(store.insertElement(&f));
        QVERIFY(exec(fx.db(), QStringLiteral("UPDATE template_fields SET sort_order=? WHERE id=?"),
                     {fieldOrders[i], f.id}));
    }
    const QList<int> graphicOrders = {3, 3, 1, 7};
    const QStringList graphicTypes = {QStringLiteral("table"), QStringLiteral("line"), QStringLiteral("rectangle"),
                                      QStringLiteral("table")};
    for (int i = 0; i < graphicOrders.size(); ++i) {
        GraphicElement g = makeGraphic(graphicTypes[i], i % 2 ? QStringLiteral("back") : QStringLiteral("front"), i, i);
        g.projectId = fx.projectId;
        QVERIFY(store.insertElement(&g));
        QVERIFY(exec(fx.db(), QStringLiteral("UPDATE template_graphics SET sort_order=? WHERE id=?"),
                     {graphicOrders[i], g.id}));
    }
    EditorDocument &doc = fx.doc();
    QVERIFY(doc.open(fx.projectId));
    QVERIFY(fx.consistent());

    RandomEditor editor(doc, 20240611);
    using Op = RandomEditor::Op;

    // positions[i]: the dump with i entries applied, where one was taken (an
    // operation recording several entries leaves the ones between unknown).
    QList<std::optional<QStringList>> positions = {fx.dump()};
    const QStringList start = *positions.first();
    QStringList current = start;
    QHash<Op, int> done;
    int maxCount = 0;

    for (int step = 0; step < 400; ++step) {
        const Op op = editor.draw();
        const int cursorBefore = doc.history().cursor();
        bool expectRefusal = false;
        const DocumentChange change = editor.perform(op, step, &expectRefusal);

        const QString where = QStringLiteral("step %1 (%2)").arg(step).arg(RandomEditor::name(op));
        if (expectRefusal)
            QVERIFY2(!change.ok && change.message.title == QLatin1String("Could Not Split Table"), qPrintable(where));
        else
            QVERIFY2(change.ok, qPrintable(where + QStringLiteral(": ") + change.error));
        QVERIFY2(fx.consistent(), qPrintable(where));
        const QStringList now = fx.dump();
        const int cursor = doc.history().cursor();

        if (op == Op::Undo || op == Op::Redo) {
            const bool moved = change.message.text == QLatin1String(op == Op::Undo ? "Undone" : "Redone");
            QCOMPARE(cursor, cursorBefore + (moved ? (op == Op::Undo ? -1 : 1) : 0));
            if (!moved)
                QVERIFY2(now == current && change.isEmpty(), qPrintable(where));
            else if (positions[cursor])
                QVERIFY2(now == *positions[cursor], qPrintable(where));
            done[op] += moved ? 1 : 0;
        } else {
            const int recorded = cursor - cursorBefore;
            QVERIFY2(recorded >= -1, qPrintable(where));
            if (recorded == -1) {
                // A property edit that took back the step it merged into.
                QVERIFY2(positions.size() >= 2 && now == *positions[cursor], qPrintable(where));
                positions.resize(cursor + 1);
                ++done[op];
            } else if (recorded == 0 && now != current) {
                // Merged into the last step (the same property of the same object).
                QVERIFY2(cursor == int(positions.size()) - 1 && !change.isEmpty(), qPrintable(where));
                positions.last() = now;
                ++done[op];
            } else if (recorded == 0) {
                QVERIFY2(change.isEmpty(), qPrintable(where));
            } else {
                positions.resize(cursorBefore + 1);
                for (int i = 1; i < recorded; ++i)
                    positions.append(std::nullopt);
                positions.append(now);
                ++done[op];
            }
        }
        QCOMPARE(doc.history().count(), int(positions.size()) - 1);
        // Below the limit, so that undoing everything reaches the start.
        QVERIFY(doc.history().count() < CanvasHistory::maximumEntries);
        current = now;
        maxCount = std::max(maxCount, doc.history().count());
    }
    qInfo("history peaked at %d entries", maxCount);

    // Every kind of operation took part and changed something.
    for (int op = Op::Undo; op <= RandomEditor::lastOp; ++op) {
        if (op != Op::Unchanged)
            QVERIFY2(done.value(Op(op)) > 0, qPrintable(RandomEditor::name(Op(op))));
    }

    while (doc.history().canRedo())
        QVERIFY(doc.redo().ok);
    QCOMPARE(doc.redo().message.text, QStringLiteral("Nothing to redo"));
    const QStringList end = fx.dump();
    QCOMPARE(end, *positions.last());
    QVERIFY(end != start);

    while (doc.history().canUndo()) {
        QVERIFY(doc.undo().ok);
        if (positions[doc.history().cursor()])
            QCOMPARE(fx.dump(), *positions[doc.history().cursor()]);
    }
    QCOMPARE(doc.undo().message.text, QStringLiteral("Nothing to undo"));
    QCOMPARE(fx.dump(), start);
    QVERIFY(fx.consistent());

    while (doc.history().canRedo())
        QVERIFY(doc.redo().ok);
    QCOMPARE(fx.dump(), end);
    QVERIFY(fx.consistent());
}

QTEST_GUILESS_MAIN(TestEditorDocument)
#include "tst_editordocument.moc"
