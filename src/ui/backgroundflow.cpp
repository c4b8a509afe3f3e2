#include "ui/backgroundflow.h"

#include "app/projectsession.h"
#include "render/backgroundimport.h"
#include "store/projectstore.h"
#include "ui/canvas/canvaspage.h"
#include "ui/canvas/canvasview.h"
#include "ui/dialogs.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTimer>

namespace {

bool isBack(CardSide side)
{
    return side == CardSide::Back;
}

// The stored background of a side.
QString &backgroundPathOf(Project &project, CardSide side)
{
    return isBack(side) ? project.backBackgroundPath : project.backgroundPath;
}

} // namespace

BackgroundFlow::BackgroundFlow(ProjectStore &store, ProjectSession &session, Dialogs &dialogs,
                               QWidget *dialogParent, CanvasPage *page, QString dataDirectory,
                               BackgroundFlowHooks hooks, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_session(session)
    , m_dialogs(dialogs)
    , m_dialogParent(dialogParent)
    , m_page(page)
    , m_dataDirectory(std::move(dataDirectory))
    , m_hooks(std::move(hooks))
{
}

void BackgroundFlow::importBackground()
{
    const QString source = m_dialogs.getOpenFileName(
        m_dialogParent, tr("Import Background"), QString(),
        tr("BackgroundFile (*.pdf *.png *.jpg *.jpeg *.bmp *.tif *.tiff *.webp);;PDF File (*.pdf);;"
           "ImageFile (*.png *.jpg *.jpeg *.bmp *.tif *.tiff *.webp)"));
    if (source.isEmpty())
        return;

    const CardSide side = m_page->currentSide();
    const BackgroundImport imported = importBackgroundFile(m_dataDirectory, m_session.project().id, source,
                                                           QDateTime::currentMSecsSinceEpoch());
    if (!imported.ok()) {
        m_dialogs.critical(m_dialogParent, imported.errorTitle, imported.error);
        return;
    }

    // Saved before anything is shown, so a refused save leaves the canvas as it was.
    Project updated = m_session.project();
    backgroundPathOf(updated, side) = imported.path;
    QString error;
    if (!m_store.updateProject(updated, &error)) {
        // No record points at the copy: it would only take up room.
        QFile::remove(imported.path);
        m_dialogs.critical(m_dialogParent, tr("Background Save Failed"), error);
        return;
    }
    backgroundPathOf(m_session.project(), side) = imported.path;
    m_page->canvasForSide(side)->setBackgroundImage(imported.image);
    refreshStatus();
    m_hooks.showCanvasPage();
    m_hooks.showStatus(tr("Background imported. Variable fields will appear above it."), 5000);
}

void BackgroundFlow::clearBackground()
{
    const CardSide side = m_page->currentSide();
    Project updated = m_session.project();
    backgroundPathOf(updated, side).clear();
    QString error;
    if (!m_store.updateProject(updated, &error)) {
        m_dialogs.critical(m_dialogParent, tr("Clear Background Failed"), error);
        return;
    }
    backgroundPathOf(m_session.project(), side).clear();
    m_page->canvasForSide(side)->clearBackground();
    refreshStatus();
    m_hooks.showStatus(tr("Background cleared"), 3000);
}

void BackgroundFlow::showProjectBackgrounds()
{
    QStringList failures;
    for (const CardSide side : {CardSide::Front, CardSide::Back}) {
        CanvasView *view = m_page->canvasForSide(side);
        // A failed load keeps the previous picture, which belongs to the
        // project shown before.
        view->clearBackground();
        const QString path = backgroundPathOf(m_session.project(), side);
        if (path.isEmpty())
            continue;
        QString error;
        if (!view->loadBackground(path, &error)) {
            failures << tr("The %1 background %2 could not be loaded: %3")
                            .arg(isBack(side) ? tr("back") : tr("front"), QDir::toNativeSeparators(path), error);
        }
    }
    // Shown once the switch is done: the switch's own message ("Opened
    // project: …", "Ready" at start-up) would otherwise replace it at once.
    if (!failures.isEmpty()) {
        QTimer::singleShot(0, this, [this, text = failures.join(QStringLiteral("; "))] {
            m_hooks.showStatus(text, 10000);
        });
    }
    refreshStatus();
}

void BackgroundFlow::refreshStatus()
{
    const CardSide side = m_page->currentSide();
    const QString shownSide = isBack(side) ? tr("Back") : tr("Front");
    const QString path = backgroundPathOf(m_session.project(), side);
    m_page->setBackgroundStatus(path.isEmpty() ? tr("%1 background: not imported").arg(shownSide)
                                               : tr("%1 background: %2").arg(shownSide, QFileInfo(path).fileName()));
}
