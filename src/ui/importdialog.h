#pragma once

#include "import/tablereader.h"
#include "model/datasource.h"

#include <QDialog>
#include <QString>
#include <QStringList>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

// "Import Options and Preview": the worksheet of a workbook, or the encoding
// and delimiter of a CSV file, with the first rows read with those choices.
// The preview is read when the dialog is built and again on every change of
// a choice, so a wrong choice shows before anything is stored.
class ImportDialog : public QDialog
{
    Q_OBJECT

public:
    // Rows read for the preview; the import itself reads the whole file.
    static constexpr int kPreviewRows = 25;

    // `worksheets` fills the "Worksheet" choice of a workbook, hidden sheets
    // marked so and the first visible one chosen, as an import without a
    // choice reads it; a CSV file gets the "Encoding" and "Delimiter" choices
    // instead.
    ImportDialog(const QString &filePath, const QList<WorksheetEntry> &worksheets,
                 QWidget *parent = nullptr);

    const QString &filePath() const { return m_filePath; }
    bool isExcel() const { return m_excel; }
    // The chosen options; a workbook keeps the automatic encoding and delimiter.
    DataSourceOptions options() const;

    void updateImportPreview();

    QComboBox *worksheetCombo() const { return m_worksheet; }
    QComboBox *encodingCombo() const { return m_encoding; }
    QComboBox *delimiterCombo() const { return m_delimiter; }
    QTableWidget *previewTable() const { return m_preview; }
    QLabel *hintLabel() const { return m_hint; }
    // "UTF-8, Comma (,)" beside "Read as": what the preview of a CSV file was read
    // with, the detected choices included. Empty for a workbook.
    QLabel *formatLabel() const { return m_format; }
    QPushButton *importButton() const { return m_importButton; }

private:
    QString m_filePath;
    bool m_excel = false;
    QComboBox *m_worksheet = nullptr;
    QComboBox *m_encoding = nullptr;
    QComboBox *m_delimiter = nullptr;
    QTableWidget *m_preview = nullptr;
    QLabel *m_hint = nullptr;
    QLabel *m_format = nullptr;
    QPushButton *m_importButton = nullptr;
};
