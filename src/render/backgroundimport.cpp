#include "render/backgroundimport.h"

#include "model/regularfile.h"
#include "render/backgroundimage.h"
#include "render/outputfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

BackgroundImport failure(const QString &title, const QString &text)
{
    BackgroundImport result;
    result.errorTitle = title;
    result.error = text;
    return result;
}

QString importFailedTitle()
{
    return QStringLiteral("Background Import Failed");
}

QString copyFailedText()
{
    return QStringLiteral("Could not copy the background file to the project resource directory");
}

// Empty on success, else "Could not write TARGET: REASON" or the read's failure.
QString copyFile(const QString &source, const QString &target)
{
    const std::optional<CopyFailure> failed = copyToNewFile(source, target);
    if (!failed)
        return {};
    if (failed->reading)
        return QStringLiteral("Could not read %1: %2").arg(QDir::toNativeSeparators(source), failed->reason);
    return failed->message;
}

} // namespace

QString projectResourceDirectory(const QString &dataDirectory, qint64 projectId)
{
    return QDir(dataDirectory).filePath(QStringLiteral("assets/project-%1").arg(projectId));
}

QString backgroundFileName(qint64 msecsSinceEpoch, const QString &sourcePath)
{
    return QStringLiteral("background-%1.%2").arg(msecsSinceEpoch).arg(QFileInfo(sourcePath).suffix().toLower());
}

BackgroundImport importBackgroundFile(const QString &dataDirectory, qint64 projectId, const QString &sourcePath,
                                      qint64 msecsSinceEpoch)
{
    // Copying a FIFO would wait for a writer forever, and a device may never end.
    QString notRegular;
    if (!checkRegularFile(sourcePath, &notRegular))
        return failure(importFailedTitle(), copyFailedText() + QStringLiteral(": ") + notRegular);

    const QString folder = projectResourceDirectory(dataDirectory, projectId);
    if (!QDir().mkpath(folder))
        return failure(importFailedTitle(), QStringLiteral("Could not create the project resource directory %1")
                                                .arg(QDir::toNativeSeparators(folder)));

    // An earlier background of the same name is never overwritten, and a
    // copy cut short by a full disk never takes its name.
    const QString copy = QDir(folder).filePath(backgroundFileName(msecsSinceEpoch, sourcePath));
    if (const QString error = copyFile(sourcePath, copy); !error.isEmpty())
        return failure(importFailedTitle(), copyFailedText() + QStringLiteral(": ") + error);

    BackgroundImage loaded = loadBackgroundImage(copy);
    if (loaded.image.isNull()) {
        QFile::remove(copy);
        // The copy is gone and its name means nothing to the user: the
        // message names the file they chose.
        return failure(QStringLiteral("Background Render Failed"),
                       loaded.error.replace(QDir::toNativeSeparators(copy), QDir::toNativeSeparators(sourcePath)));
    }
    BackgroundImport result;
    result.path = copy;
    result.image = std::move(loaded.image);
    return result;
}
