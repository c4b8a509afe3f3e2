#pragma once

#include <QColor>
#include <QMessageBox>
#include <QString>

class ExportRangeDialog;
class ImportDialog;
class QUrl;
class QWidget;

// Every modal box, file dialog and hand-off to the desktop that the window
// makes goes through here, so that a test can answer the questions, pick the
// files, drive the import options and record what was shown, without
// anything waiting for a user or launching another application.
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    virtual void critical(QWidget *parent, const QString &title, const QString &text);
    virtual QMessageBox::StandardButton question(QWidget *parent, const QString &title,
                                                 const QString &text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton);
    virtual QMessageBox::StandardButton warning(QWidget *parent, const QString &title,
                                                const QString &text,
                                                QMessageBox::StandardButtons buttons,
                                                QMessageBox::StandardButton defaultButton);
    virtual void information(QWidget *parent, const QString &title, const QString &text);
    // A warning that asks whether to go on: one button labelled `proceedText`
    // and "Cancel", which is the default and Escape's answer. True when the
    // user chose to go on.
    virtual bool confirmWarning(QWidget *parent, const QString &title, const QString &text,
                                const QString &proceedText);

    // The chosen file, or an empty text when the dialog was cancelled.
    virtual QString getOpenFileName(QWidget *parent, const QString &title,
                                     const QString &directory, const QString &filter);
    // The path to write, or an empty text when the dialog was cancelled.
    // `proposedPath` is the folder and file name offered at first.
    virtual QString getSaveFileName(QWidget *parent, const QString &title,
                                     const QString &proposedPath, const QString &filter);

    // The chosen colour, or an invalid one when the dialog was cancelled.
    virtual QColor getColor(QWidget *parent, const QString &title, const QColor &initial);

    // Runs the import options dialog, whose preview is already filled;
    // QDialog::Accepted when the user confirmed the import.
    virtual int execImportDialog(ImportDialog &dialog);

    // Runs the export's range dialog, which shows the choice to start from:
    // QDialog::Accepted for "Export…", ExportRangeDialog::ShowInPreview, or
    // QDialog::Rejected.
    virtual int execExportRangeDialog(ExportRangeDialog &dialog);

    // Opens a file with the application the desktop associates with it.
    virtual bool openUrl(const QUrl &url);
};
