#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// Every modal box the window shows goes through here, so that a test can
// answer the questions and record what was shown.
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
};
