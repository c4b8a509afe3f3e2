#pragma once

// A recording fake of Dialogs for the window tests. The window hands every
// box, file dialog, colour dialog, import dialog and hand-off to the desktop
// to it; it notes what was asked and answers from a DialogScript that the
// test fills in. No call reaches a real dialog, so nothing waits for a user
// and no other application is launched.
//
// The test keeps the script and gives the window a ScriptedDialogs over it:
//
//     m_script = std::make_shared<DialogScript>();
//     m_window->setDialogs(std::make_unique<ScriptedDialogs>(m_script));
//     m_script->answers = {QMessageBox::Yes};   // read when the box is shown
//
// Every answer has a default that cancels or declines, except the import
// dialog (confirmed as shown), the export's range dialog (exported as shown)
// and the desktop launcher (which works). A test
// that relies on another answer to an unscripted box sets unscriptedAnswer.

#include "ui/dialogs.h"

#include <QColor>
#include <QDialog>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <utility>

// One message box the window showed.
struct ShownBox
{
    QString kind; // "critical", "question", "warning", "information" or "confirm"
    QString title;
    QString text;
    // The default button the window gave a question or warning.
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    // The confirming button of a "confirm" (Dialogs::confirmWarning).
    QString proceedText;
};

// One file dialog the window opened.
struct FileRequest
{
    QString title;
    // The folder an open dialog starts in, or the folder and file name a save
    // dialog proposes.
    QString path;
    QString filter;
};

// One colour dialog the window opened.
struct ColorRequest
{
    QString title;
    QColor initial;
};

// What the window showed and asked, and the answers to give it.
struct DialogScript
{
    // Every box, in the order shown.
    QList<ShownBox> shown;

    // The answers to questions and warnings, one taken per box in order.
    QList<QMessageBox::StandardButton> answers;
    // The answer once `answers` is used up: by default Cancel, what a box
    // closed without a choice gives.
    QMessageBox::StandardButton unscriptedAnswer = QMessageBox::Cancel;

    // The answer to a warning that asks whether to go on (confirmWarning);
    // by default Cancel, that box's default button.
    bool proceed = false;

    QList<FileRequest> openRequests;
    QStringList openPaths; // one taken per open-file dialog; none left = cancelled

    QList<FileRequest> saveRequests;
    QString savePath; // the answer to every save dialog; empty = cancelled

    QList<ColorRequest> colorRequests;
    QList<QColor> colors; // one taken per colour dialog; none left = cancelled

    // Plays the user in the import options dialog; by default confirms the
    // import as the dialog shows it.
    std::function<int(ImportDialog &)> importDialog = [](ImportDialog &) {
        return int(QDialog::Accepted);
    };
    int importDialogsRun = 0;

    // Plays the user in the export's range dialog, which shows the choice it
    // starts from; by default exports that choice as shown, even one the
    // dialog would not let past its "Export…" button.
    std::function<int(ExportRangeDialog &)> exportRangeDialog = [](ExportRangeDialog &) {
        return int(QDialog::Accepted);
    };
    int exportRangeDialogsRun = 0;

    // The files the window asked the desktop to open, and whether the desktop
    // manages to.
    QList<QUrl> launched;
    bool launcherWorks = true;
};

class ScriptedDialogs : public Dialogs
{
public:
    explicit ScriptedDialogs(std::shared_ptr<DialogScript> script)
        : m_script(std::move(script))
    {
    }

    void critical(QWidget *, const QString &title, const QString &text) override
    {
        record(QStringLiteral("critical"), title, text);
    }
    QMessageBox::StandardButton question(QWidget *, const QString &title, const QString &text,
                                         QMessageBox::StandardButtons,
                                         QMessageBox::StandardButton defaultButton) override
    {
        return ask(QStringLiteral("question"), title, text, defaultButton);
    }
    QMessageBox::StandardButton warning(QWidget *, const QString &title, const QString &text,
                                        QMessageBox::StandardButtons,
                                        QMessageBox::StandardButton defaultButton) override
    {
        return ask(QStringLiteral("warning"), title, text, defaultButton);
    }
    void information(QWidget *, const QString &title, const QString &text) override
    {
        record(QStringLiteral("information"), title, text);
    }
    bool confirmWarning(QWidget *, const QString &title, const QString &text,
                        const QString &proceedText) override
    {
        record(QStringLiteral("confirm"), title, text, QMessageBox::NoButton, proceedText);
        return m_script->proceed;
    }

    QString getOpenFileName(QWidget *, const QString &title, const QString &directory,
                            const QString &filter) override
    {
        m_script->openRequests.append({title, directory, filter});
        return m_script->openPaths.isEmpty() ? QString() : m_script->openPaths.takeFirst();
    }
    QString getSaveFileName(QWidget *, const QString &title, const QString &proposedPath,
                            const QString &filter) override
    {
        m_script->saveRequests.append({title, proposedPath, filter});
        return m_script->savePath;
    }

    QColor getColor(QWidget *, const QString &title, const QColor &initial) override
    {
        m_script->colorRequests.append({title, initial});
        return m_script->colors.isEmpty() ? QColor() : m_script->colors.takeFirst();
    }

    int execImportDialog(ImportDialog &dialog) override
    {
        ++m_script->importDialogsRun;
        return m_script->importDialog(dialog);
    }

    int execExportRangeDialog(ExportRangeDialog &dialog) override
    {
        ++m_script->exportRangeDialogsRun;
        return m_script->exportRangeDialog(dialog);
    }

    bool openUrl(const QUrl &url) override
    {
        m_script->launched << url;
        return m_script->launcherWorks;
    }

private:
    void record(const QString &kind, const QString &title, const QString &text,
                QMessageBox::StandardButton defaultButton = QMessageBox::NoButton,
                const QString &proceedText = QString())
    {
        m_script->shown.append({kind, title, text, defaultButton, proceedText});
    }
    QMessageBox::StandardButton ask(const QString &kind, const QString &title, const QString &text,
                                    QMessageBox::StandardButton defaultButton)
    {
        record(kind, title, text, defaultButton);
        return m_script->answers.isEmpty() ? m_script->unscriptedAnswer
                                           : m_script->answers.takeFirst();
    }

    std::shared_ptr<DialogScript> m_script;
};
