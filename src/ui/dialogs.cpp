#include "ui/dialogs.h"

#include "ui/exportrangedialog.h"
#include "ui/importdialog.h"

#include <QColorDialog>
#include <QDesktopServices>
#include <QFileDialog>
#include <QPushButton>
#include <QUrl>

void Dialogs::critical(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::critical(parent, title, text);
}

QMessageBox::StandardButton Dialogs::question(QWidget *parent, const QString &title,
                                              const QString &text,
                                              QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultButton)
{
    return QMessageBox::question(parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton Dialogs::warning(QWidget *parent, const QString &title,
                                             const QString &text,
                                             QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton defaultButton)
{
    return QMessageBox::warning(parent, title, text, buttons, defaultButton);
}

void Dialogs::information(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::information(parent, title, text);
}

bool Dialogs::confirmWarning(QWidget *parent, const QString &title, const QString &text,
                             const QString &proceedText)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent);
    QPushButton *proceed = box.addButton(proceedText, QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(QMessageBox::Cancel);
    proceed->setAccessibleName(proceedText);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == proceed;
}

QString Dialogs::getOpenFileName(QWidget *parent, const QString &title, const QString &directory,
                                 const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, title, directory, filter);
}

QString Dialogs::getSaveFileName(QWidget *parent, const QString &title,
                                 const QString &proposedPath, const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, title, proposedPath, filter);
}

QColor Dialogs::getColor(QWidget *parent, const QString &title, const QColor &initial)
{
    return QColorDialog::getColor(initial, parent, title);
}

int Dialogs::execImportDialog(ImportDialog &dialog)
{
    return dialog.exec();
}

int Dialogs::execExportRangeDialog(ExportRangeDialog &dialog)
{
    return dialog.exec();
}

bool Dialogs::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}
