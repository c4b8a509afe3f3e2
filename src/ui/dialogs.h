#pragma once

#include <QMessageBox>
#include <QString>

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

    // The chosen file, or an empty text when the dialog was cancelled.
    virtual QString getOpenFileName(QWidget *parent, const QString &title,
                                     const QString &directory, const QString &filter);

    // Runs the import options dialog, whose preview is already filled;
    // QDialog::Accepted when the user confirmed the import.
    virtual int execImportDialog(ImportDialog &dialog);

    // Opens a file with the application the desktop associates with it.
    virtual bool openUrl(const QUrl &url);
};
