#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

// "Importing Data": a busy bar and a Cancel button over the window while a
// data file is read into the project. Cancel, Escape and the dialog's close
// button all ask the import to stop (cancelRequested); the dialog stays up,
// its button disabled, until the caller closes it once the import has
// rolled back, so the window is not used in between.
class ImportProgressDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ImportProgressDialog(QWidget *parent = nullptr);

    bool cancelWasRequested() const { return m_cancelRequested; }

    QLabel *label() const { return m_label; }
    QProgressBar *progressBar() const { return m_bar; }
    QPushButton *cancelButton() const { return m_cancel; }

    void reject() override;

signals:
    void cancelRequested();

private:
    QLabel *m_label = nullptr;
    QProgressBar *m_bar = nullptr;
    QPushButton *m_cancel = nullptr;
    bool m_cancelRequested = false;
};
