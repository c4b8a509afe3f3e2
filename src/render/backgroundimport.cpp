#include "render/backgroundimport.h"

#include "import/tablereader.h"
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

// Copies `source` to `target` through a temporary file beside it, every write
// and the close checked, never replacing a file already at `target`. Empty on
// success, else "Could not write TARGET: REASON" or the read's failure.
QString copyFile(const QString &source, const QString &target)
{
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        return QStringLiteral("Could not read %1: %2").arg(QDir::toNativeSeparators(source), input.errorString());
    OutputFile output(target);
    if (!output.open())
        return output.error();
    QIODevice &file = output.device();
    while (!input.atEnd()) {
        const QByteArray chunk = input.read(1 << 20);
        if (input.error() != QFileDevice::NoError)
            return QStringLiteral("Could not read %1: %2").arg(QDir::toNativeSeparators(source), input.errorString());
        if (file.write(chunk) != chunk.size())
            break; // the device has recorded why
    }
    if (!output.commitNew())
        return output.error();
    return {};
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
