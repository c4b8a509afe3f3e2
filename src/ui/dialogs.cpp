#include "ui/dialogs.h"

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
