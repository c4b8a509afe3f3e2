#pragma once

#include "model/datasource.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

// The "Variable Data" page: the project's data files, the buttons that act on
// the chosen one, a status line and a read-only table of its stored rows. It
// only shows what it is given and reports the user's requests; the window
// reads the store and decides.
class DataPage : public QWidget
{
    Q_OBJECT

public:
    explicit DataPage(QWidget *parent = nullptr);

    // Refills the data-file choice without emitting currentSourceChanged and
    // selects the source with `selectId`, else the first one. "Open File" and
    // "Remove" are enabled exactly when a source is selected.
    void setSources(const QList<DataSource> &sources, qint64 selectId);
    // The selected source's id, or 0 when there is none.
    qint64 currentSourceId() const;

    // One row per record: "#" holding sortIndex + 1, then one column per name.
    void showRecords(const QStringList &columns, const QList<DataRecord> &records);
    void clearRecords();

    void setStatus(const QString &text, const QString &toolTip);

    QPushButton *addButton() const { return m_addButton; }
    QComboBox *sourceCombo() const { return m_sourceCombo; }
    QPushButton *openButton() const { return m_openButton; }
    QPushButton *removeButton() const { return m_removeButton; }
    QLabel *statusLabel() const { return m_status; }
    QTableWidget *table() const { return m_table; }

signals:
    void importRequested();
    void openRequested();
    void removeRequested();
    void currentSourceChanged();

private:
    void updateButtons();

    QPushButton *m_addButton = nullptr;
    QComboBox *m_sourceCombo = nullptr;
    QPushButton *m_openButton = nullptr;
    QPushButton *m_removeButton = nullptr;
    QLabel *m_status = nullptr;
    QTableWidget *m_table = nullptr;
};
