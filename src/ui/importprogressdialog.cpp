#include "ui/importprogressdialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

ImportProgressDialog::ImportProgressDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Importing Data"));
    setWindowModality(Qt::WindowModal);

    auto *layout = new QVBoxLayout(this);
    m_label = new QLabel(tr("Importing and indexing variable data…"), this);
    layout->addWidget(m_label);

    // The number of rows is not known before the file has been read through.
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 0);
    m_bar->setTextVisible(false);
    m_bar->setAccessibleName(tr("Import progress"));
    layout->addWidget(m_bar);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_cancel = buttons->button(QDialogButtonBox::Cancel);
    m_cancel->setAccessibleName(tr("Cancel import"));
    connect(buttons, &QDialogButtonBox::rejected, this, &ImportProgressDialog::reject);
    layout->addWidget(buttons);

    setMinimumWidth(360);
}

void ImportProgressDialog::reject()
{
    if (m_cancelRequested)
        return;
    m_cancelRequested = true;
    m_label->setText(tr("Cancelling the import…"));
    m_cancel->setEnabled(false);
    emit cancelRequested();
}
