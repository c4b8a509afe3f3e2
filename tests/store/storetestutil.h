#pragma once

// Helpers shared by the store and start-up tests: a connection of their own
// beside the store's (to build fixtures and to read results back without
// going through the code under test), SQL script loading, and a full dump of
// a database (schema and every row) for "nothing changed" comparisons.

#include "store/projectstore.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <QVariant>
#include <QVariantList>

// Readable failure output for the records.
inline char *toString(const Project &p)
{
    return QTest::toString(
        QStringLiteral("Project{id=%1 name=\"%2\" card=%3x%4 paper=%5x%6 grid=%7x%8 bleed=%9 "
                       "showBleed=%10 border=%11 %12 cropMarks=%13 background=\"%14\" duplex=%15 "
                       "back=\"%16\" data=\"%17\" isDemo=%18 demoKey=\"%19\"}")
            .arg(p.id).arg(p.name).arg(p.cardWidthMm).arg(p.cardHeightMm).arg(p.paperWidthMm)
            .arg(p.paperHeightMm).arg(p.rows).arg(p.columns).arg(p.bleedMm).arg(p.showBleed)
            .arg(p.showImpositionBorder).arg(p.impositionBorderColor).arg(p.showCropMarks)
            .arg(p.backgroundPath).arg(p.duplex).arg(p.backBackgroundPath).arg(p.dataSourcePath)
            .arg(p.isDemo).arg(p.demoKey));
}

inline char *toString(const TemplateField &f)
{
    return QTest::toString(
        QStringLiteral("TemplateField{id=%1 project=%2 %3 %4 \"%5\" column=\"%6\" at %7,%8 "
                       "size %9x%10 font \"%11\" %12pt %13 bold=%14 align=%15 barcode=%16/%17 "
                       "scratch=%18/%19/%20 sequence=\"%21\"/%22/%23/%24}")
            .arg(f.id).arg(f.projectId).arg(cardSideKey(f.side)).arg(elementKindKey(f.type)).arg(f.name).arg(f.dataColumn)
            .arg(f.xMm).arg(f.yMm).arg(f.widthMm).arg(f.heightMm).arg(f.fontFamily)
            .arg(f.fontSizePt).arg(f.colorHex).arg(f.bold).arg(alignmentFlags(f.alignment)).arg(barcodeFormatKey(f.barcodeFormat))
            .arg(f.barcodeShowText).arg(scratchModeKey(f.scratchMode)).arg(f.scratchTotal).arg(f.scratchPrizesJson)
            .arg(f.sequencePrefix).arg(f.sequenceDigits).arg(f.sequenceStep)
            .arg(f.sequenceExcludeFour));
}

inline char *toString(const GraphicElement &g)
{
    return QTest::toString(
        QStringLiteral("GraphicElement{id=%1 project=%2 %3 %4 at %5,%6 size %7x%8 stroke %9 %10 "
                       "fill %11 table %12x%13 spacing %14}")
            .arg(g.id).arg(g.projectId).arg(cardSideKey(g.side)).arg(elementKindKey(g.type)).arg(g.xMm).arg(g.yMm)
            .arg(g.widthMm).arg(g.heightMm).arg(g.strokeColor).arg(g.strokeWidthMm)
            .arg(g.fillColor).arg(g.rows).arg(g.columns).arg(g.cellSpacingMm));
}

namespace storetest {

// A QSQLITE connection of the test's own, closed and unregistered on destruction.
class RawConnection
{
public:
    explicit RawConnection(const QString &path)
        : m_name(QStringLiteral("test_%1").arg(QUuid::createUuid().toString(QUuid::Id128)))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        m_open = db.open();
        if (m_open) {
            QSqlQuery pragma(db);
            pragma.exec(QStringLiteral("PRAGMA foreign_keys = ON"));
        }
    }
    ~RawConnection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            if (db.isValid())
                db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    RawConnection(const RawConnection &) = delete;
    RawConnection &operator=(const RawConnection &) = delete;

    bool isOpen() const { return m_open; }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

private:
    QString m_name;
    bool m_open = false;
};

// Runs one statement with positional values; returns false and fills `error` on failure.
inline bool exec(const QSqlDatabase &db, const QString &sql, const QVariantList &values = {},
                 QString *error = nullptr)
{
    QSqlQuery query(db);
    bool ok = query.prepare(sql);
    if (ok) {
        for (const QVariant &value : values)
            query.addBindValue(value);
        ok = query.exec();
    }
    if (!ok && error)
        *error = query.lastError().text();
    return ok;
}

// First value of the first row, or an invalid QVariant when there is none or the query fails.
inline QVariant scalar(const QSqlDatabase &db, const QString &sql, const QVariantList &values = {})
{
    QSqlQuery query(db);
    if (!query.prepare(sql))
        return {};
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec() || !query.next())
        return {};
    return query.value(0);
}

// Every row of a query, each rendered as its values joined by " | ".
inline QStringList rows(const QSqlDatabase &db, const QString &sql, const QVariantList &values = {})
{
    QStringList result;
    QSqlQuery query(db);
    if (!query.prepare(sql)) {
        result << QStringLiteral("<prepare failed: %1>").arg(query.lastError().text());
        return result;
    }
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        result << QStringLiteral("<exec failed: %1>").arg(query.lastError().text());
        return result;
    }
    while (query.next()) {
        QStringList cells;
        for (int i = 0; i < query.record().count(); ++i)
            cells << (query.value(i).isNull() ? QStringLiteral("NULL") : query.value(i).toString());
        result << cells.join(QStringLiteral(" | "));
    }
    return result;
}

// Splits a script into statements: a statement ends with a line ending in ';',
// except inside CREATE TRIGGER, which ends with "END;". Lines starting with
// "--" are comments.
inline QStringList splitSqlScript(const QString &script)
{
    static const QRegularExpression triggerStart(QStringLiteral("^\\s*CREATE\\s+TRIGGER\\b"),
                                                 QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression triggerEnd(QStringLiteral("\\bEND\\s*;\\s*$"),
                                               QRegularExpression::CaseInsensitiveOption);
    QStringList statements;
    QString current;
    const QStringList lines = script.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1String("--")))
            continue;
        current += line + QLatin1Char('\n');
        if (!trimmed.endsWith(QLatin1Char(';')))
            continue;
        if (triggerStart.match(current).hasMatch() && !triggerEnd.match(current).hasMatch())
            continue;
        statements << current.trimmed();
        current.clear();
    }
    if (!current.trimmed().isEmpty())
        statements << current.trimmed();
    return statements;
}

inline bool applySqlScript(const QSqlDatabase &db, const QString &scriptPath, QString *error)
{
    QFile file(scriptPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read %1").arg(scriptPath);
        return false;
    }
    const QStringList statements = splitSqlScript(QString::fromUtf8(file.readAll()));
    for (const QString &statement : statements) {
        QString message;
        if (!exec(db, statement, {}, &message)) {
            *error = QStringLiteral("%1\n  in: %2").arg(message, statement);
            return false;
        }
    }
    return true;
}

// "name|TYPE|notnull|default|pk" for each column of `table`, in table order.
// Numeric defaults are normalised ("2.0" and "2" both read "2"): SQLite keeps
// the default's text as declared, and both declare the same value.
inline QStringList columnDescriptions(const QSqlDatabase &db, const QString &table)
{
    QStringList result;
    QSqlQuery query(db);
    query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table));
    while (query.next()) {
        QString defaultText = query.value(4).isNull() ? QStringLiteral("NULL")
                                                      : query.value(4).toString();
        bool numeric = false;
        const double number = defaultText.toDouble(&numeric);
        if (numeric)
            defaultText = QString::number(number);
        result << QStringLiteral("%1|%2|%3|%4|%5")
                      .arg(query.value(1).toString(), query.value(2).toString().toUpper(),
                           query.value(3).toString(), defaultText, query.value(5).toString());
    }
    return result;
}

inline QStringList columnNames(const QSqlDatabase &db, const QString &table)
{
    QStringList names;
    QSqlQuery query(db);
    query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table));
    while (query.next())
        names << query.value(1).toString();
    return names;
}

// User tables (no sqlite_ internals), sorted by name.
inline QStringList tableNames(const QSqlDatabase &db)
{
    QStringList names;
    QSqlQuery query(db);
    query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' "
                              "AND name NOT LIKE 'sqlite_%' ORDER BY name"));
    while (query.next())
        names << query.value(0).toString();
    return names;
}

// The rows of `table` in rowid order, every value rendered by SQLite's quote()
// so that types show (2 and 2.0 differ, NULL and '' differ).
inline QStringList quotedRows(const QSqlDatabase &db, const QString &table,
                              const QStringList &columns)
{
    QStringList quoted;
    for (const QString &column : columns)
        quoted << QStringLiteral("quote(\"%1\")").arg(column);
    return rows(db, QStringLiteral("SELECT %1 FROM \"%2\" ORDER BY rowid")
                        .arg(quoted.join(QStringLiteral(", ")), table));
}

// The whole database as text: every schema object, then every row of every
// table (sqlite_sequence included, so id counters count too).
inline QStringList dumpDatabase(const QSqlDatabase &db)
{
    QStringList dump;
    QStringList tables;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT type, name, tbl_name, sql FROM sqlite_master "
                                   "ORDER BY type, name"))) {
        dump << QStringLiteral("<dump failed: %1>").arg(query.lastError().text());
        return dump;
    }
    while (query.next()) {
        dump << QStringLiteral("%1 %2 on %3: %4")
                    .arg(query.value(0).toString(), query.value(1).toString(),
                         query.value(2).toString(), query.value(3).toString());
        if (query.value(0).toString() == QLatin1String("table"))
            tables << query.value(1).toString();
    }
    for (const QString &table : std::as_const(tables)) {
        const QStringList columns = columnNames(db, table);
        dump << QStringLiteral("[%1] %2").arg(table, columns.join(QLatin1Char(',')));
        const QStringList tableRows = quotedRows(db, table, columns);
        for (const QString &row : tableRows)
            dump << QStringLiteral("  %1: %2").arg(table, row);
    }
    return dump;
}

inline QStringList dumpDatabaseFile(const QString &path)
{
    RawConnection connection(path);
    if (!connection.isOpen())
        return {QStringLiteral("<cannot open %1>").arg(path)};
    return dumpDatabase(connection.db());
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Inserts a template field with the given kind, side and name; sequence and
// scratch settings as given, everything else plain. Returns the new id or -1.
struct LegacyField
{
    QString type;
    QString side;
    QString name;
    QString sequencePrefix = QStringLiteral("No.");
    int sequenceDigits = 6;
    int sequenceStep = 1;
    int sequenceExcludeFour = 0;
};

inline qint64 insertRawField(const QSqlDatabase &db, qint64 projectId, const LegacyField &field)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral(
        "INSERT INTO template_fields(project_id, side, field_type, name, x_mm, y_mm, width_mm, "
        "height_mm, font_family, font_size_pt, color_hex, alignment, sequence_prefix, "
        "sequence_digits, sequence_step, sequence_exclude_four) "
        "VALUES(?, ?, ?, ?, 5, 5, 40, 8, 'Arial', 10, '#000000', 132, ?, ?, ?, ?)"));
    for (const QVariant &value :
         {QVariant(projectId), QVariant(field.side), QVariant(field.type), QVariant(field.name),
          QVariant(field.sequencePrefix), QVariant(field.sequenceDigits),
          QVariant(field.sequenceStep), QVariant(field.sequenceExcludeFour)})
        query.addBindValue(value);
    if (!query.exec())
        return -1;
    return query.lastInsertId().toLongLong();
}

inline qint64 insertRawGraphic(const QSqlDatabase &db, qint64 projectId, const QString &type)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral(
        "INSERT INTO template_graphics(project_id, element_type, x_mm, y_mm, width_mm, height_mm, "
        "stroke_color, stroke_width_mm, fill_color) "
        "VALUES(?, ?, 2, 2, 20, 10, '#111827', 0.3, 'transparent')"));
    query.addBindValue(projectId);
    query.addBindValue(type);
    if (!query.exec())
        return -1;
    return query.lastInsertId().toLongLong();
}

inline qint64 insertRawProject(const QSqlDatabase &db, const QString &name, double cardWidth,
                               double cardHeight, double paperWidth, double paperHeight, int rows,
                               int columns, bool duplex)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral(
        "INSERT INTO projects(name, card_width_mm, card_height_mm, paper_width_mm, "
        "paper_height_mm, rows, columns_count, duplex) VALUES(?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant &value : {QVariant(name), QVariant(cardWidth), QVariant(cardHeight),
                                  QVariant(paperWidth), QVariant(paperHeight), QVariant(rows),
                                  QVariant(columns), QVariant(duplex ? 1 : 0)})
        query.addBindValue(value);
    if (!query.exec())
        return -1;
    return query.lastInsertId().toLongLong();
}

// The scratch-card demo as earlier releases shipped it.
inline qint64 insertLegacyScratchDemo(const QSqlDatabase &db)
{
    const qint64 id = insertRawProject(db, QStringLiteral("Scratch Card Demo"), 89.0, 52.0, 297.0,
                                       210.0, 3, 3, true);
    if (id < 0)
        return -1;
    LegacyField prize{QStringLiteral("scratch"), QStringLiteral("back"),
                      QStringLiteral("Scratch Card Prize")};
    LegacyField number{QStringLiteral("sequence"), QStringLiteral("back"), QStringLiteral("Serial"),
                       QStringLiteral("No."), 5, 1, 1};
    if (insertRawField(db, id, prize) < 0 || insertRawField(db, id, number) < 0)
        return -1;
    return id;
}

// The variable-data demo as earlier releases shipped it: seven text fields and
// a barcode, six rectangles, and the sample workbook as its data source.
inline qint64 insertLegacyVariableDemo(const QSqlDatabase &db)
{
    const qint64 id = insertRawProject(db, QStringLiteral("Demo Template"), 90.0, 54.0, 420.0,
                                       301.0, 4, 4, false);
    if (id < 0)
        return -1;
    for (int i = 0; i < 7; ++i) {
        if (insertRawField(db, id, {QStringLiteral("text"), QStringLiteral("front"),
                                    QStringLiteral("Line %1").arg(i + 1)}) < 0)
            return -1;
    }
    if (insertRawField(db, id, {QStringLiteral("barcode"), QStringLiteral("front"),
                                QStringLiteral("Member Code")}) < 0)
        return -1;
    for (int i = 0; i < 6; ++i) {
        if (insertRawGraphic(db, id, QStringLiteral("rectangle")) < 0)
            return -1;
    }
    const QString samplePath = QStringLiteral("/opt/old-install/starter/sample-data.xlsx");
    if (!exec(db, QStringLiteral("UPDATE projects SET data_source_path=? WHERE id=?"),
              {samplePath, id})
        || !exec(db,
                 QStringLiteral("INSERT INTO data_sources(project_id, file_path, display_name) "
                                "VALUES(?, ?, 'sample-data.xlsx')"),
                 {id, samplePath})
        || !exec(db,
                 QStringLiteral("INSERT INTO data_source_records(data_source_id, sort_index, "
                                "payload_json) SELECT id, 0, '{\"Name\":\"Ada\"}' "
                                "FROM data_sources WHERE project_id=?"),
                 {id}))
        return -1;
    return id;
}

// A store on a database file in a folder of its own, removed afterwards.
class ScratchStore
{
public:
    ScratchStore() : m_path(m_dir.filePath(QStringLiteral("vellumor-vdp.sqlite"))) {}

    // Opens (and, unless `initialize` is false, brings the schema up to date).
    bool open(QString *error, bool initialize = true)
    {
        return m_store.openDatabase(m_path, error) && (!initialize || m_store.initializeSchema(error));
    }
    // Applies a fixture script through a connection of the test's own, before the store opens.
    bool applyFixture(const QString &scriptPath, QString *error)
    {
        RawConnection raw(m_path);
        if (!raw.isOpen()) {
            *error = QStringLiteral("cannot open %1").arg(m_path);
            return false;
        }
        return applySqlScript(raw.db(), scriptPath, error);
    }

    ProjectStore &store() { return m_store; }
    QSqlDatabase db() const { return m_store.database(); }
    QString path() const { return m_path; }
    QString folder() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QString m_path;
    ProjectStore m_store;
};

inline QString fixturePath(const char *name)
{
    return QDir(QStringLiteral(VDP_TEST_DATA_DIR)).filePath(QString::fromLatin1(name));
}

} // namespace storetest
