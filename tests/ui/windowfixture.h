#pragma once

// What the window tests share: the temporary folders a window runs on, a
// window started with scripted dialogs, a connection of the test's own to the
// database the window writes, to seed it and to read back what was stored,
// and the data files and exported pages they seed and read.

#include "scripteddialogs.h"

#include "app/workspace.h"
#include "store/projectstore.h"
#include "ui/mainwindow.h"

#include <QByteArray>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <utility>

// The folders of one window test: `data` for the database (TESSOLO_DATA_DIR
// points the window there), `starter` for the starter template, and `files`
// for the data files, kept apart from the database, whose journal files would
// otherwise show up as changes in a watched folder.
struct WindowFolders
{
    std::unique_ptr<QTemporaryDir> data;
    std::unique_ptr<QTemporaryDir> starter;
    std::unique_ptr<QTemporaryDir> files;
    QString databasePath;

    // New, empty folders; false when one of them could not be made.
    bool create()
    {
        data = std::make_unique<QTemporaryDir>();
        starter = std::make_unique<QTemporaryDir>();
        files = std::make_unique<QTemporaryDir>();
        if (!data->isValid() || !starter->isValid() || !files->isValid())
            return false;
        qputenv("TESSOLO_DATA_DIR", data->path().toLocal8Bit());
        databasePath = workspacePaths(data->path(), starter->path()).databasePath;
        return true;
    }

    void remove()
    {
        files.reset();
        data.reset();
        starter.reset();
    }
};

// Replaces `window` by a new one that answers through `script` and finds the
// starter template in `starterDirectory`; true when it initialized. The new
// window is made before the old one, if any, is destroyed.
inline bool startScriptedWindow(std::unique_ptr<MainWindow> &window,
                                std::shared_ptr<DialogScript> script,
                                const QString &starterDirectory)
{
    window = std::make_unique<MainWindow>();
    window->setDialogs(std::make_unique<ScriptedDialogs>(std::move(script)));
    window->setStarterDirectory(starterDirectory);
    return window->initialize();
}

// A second connection to the database at `databasePath`, as another process
// would see it. A failure to open is reported as a warning; the reads that
// follow then find nothing.
inline std::unique_ptr<ProjectStore> openTestStore(const QString &databasePath)
{
    auto store = std::make_unique<ProjectStore>();
    QString error;
    if (!store->openDatabase(databasePath, &error) || !store->initializeSchema(&error))
        qWarning("cannot open the test database: %s", qPrintable(error));
    return store;
}

// The project `id` as stored in the database at `databasePath`; a default
// Project when there is none.
inline Project storedProjectIn(const QString &databasePath, qint64 id)
{
    const auto store = openTestStore(databasePath);
    for (const Project &project : store->listProjects()) {
        if (project.id == id)
            return project;
    }
    return {};
}

// "Name,Ticket" and `count` rows "Name n,Tn" (n from 1).
inline QByteArray ticketCsv(int count)
{
    QByteArray text = "Name,Ticket\n";
    for (int n = 1; n <= count; ++n)
        text += "Name " + QByteArray::number(n) + ",T" + QByteArray::number(n) + "\n";
    return text;
}

// The data of every code zbarimg finds on page `page` (from 1) of the PDF at
// `path`, drawn by pdftoppm at 200 dpi, sorted. A page that cannot be drawn
// gives one line saying so.
inline QStringList pageCodes(const QString &path, int page)
{
    QTemporaryDir images;
    const QString prefix = images.filePath(QStringLiteral("page"));
    QProcess::execute(QStringLiteral("pdftoppm"),
                      {QStringLiteral("-r"), QStringLiteral("200"), QStringLiteral("-f"),
                       QString::number(page), QStringLiteral("-l"), QString::number(page),
                       QStringLiteral("-singlefile"), QStringLiteral("-png"), path, prefix});
    if (!QFileInfo::exists(prefix + QStringLiteral(".png")))
        return {QStringLiteral("(page %1 not rendered)").arg(page)};
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"),
               {QStringLiteral("--raw"), QStringLiteral("-q"), prefix + QStringLiteral(".png")});
    zbar.waitForFinished(30000);
    QStringList codes = QString::fromUtf8(zbar.readAllStandardOutput())
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    codes.sort();
    return codes;
}
