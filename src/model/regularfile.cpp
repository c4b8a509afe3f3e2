#include "model/regularfile.h"

#include <QDir>
#include <QFileInfo>

QString notRegularFileMessage(const QString &path)
{
    return QStringLiteral("%1 is not a regular file").arg(QDir::toNativeSeparators(path));
}

bool checkRegularFile(const QString &path, QString *error)
{
    // stat() only; a symbolic link counts as what it points to.
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return true;
    if (error)
        *error = notRegularFileMessage(path);
    return false;
}
