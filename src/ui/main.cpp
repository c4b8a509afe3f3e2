#include "ui/dialogs.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

// In the unattended modes nobody is there to close a box: a start-up failure
// would wait for a click forever instead of ending the run with exit code 1.
// Its title and text go to stderr instead, as the command-line tool reports them.
class UnattendedDialogs : public Dialogs
{
public:
    void critical(QWidget *, const QString &title, const QString &text) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    }
};

// Unattended screenshot: show the template canvas in every tab widget that has
// one, grab the whole window, save it (format from the suffix) and quit.
void takeScreenshot(QWidget *window, const QString &path)
{
    const auto tabWidgets = window->findChildren<QTabWidget *>();
    for (QTabWidget *tabs : tabWidgets) {
        for (int i = 0; i < tabs->count(); ++i) {
            if (tabs->tabText(i) == QLatin1String("Template Canvas")) {
                tabs->setCurrentIndex(i);
                break;
            }
        }
    }
    QCoreApplication::processEvents();
    window->grab().save(path);
    QCoreApplication::quit();
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication app(argc, argv);

    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCoreApplication::setApplicationName(QStringLiteral("Vellumor VDP"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VDP_VERSION));
    QCoreApplication::setOrganizationName(QStringLiteral("Vellumor"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/app-icon.png")));
    // Lets a Wayland desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(VDP_APP_ID));

    const QString screenshotPath = qEnvironmentVariable("TESSOLO_SCREENSHOT");
    const bool smokeTest = qEnvironmentVariableIsSet("TESSOLO_SMOKE_TEST");

    MainWindow window;
    if (!screenshotPath.isEmpty() || smokeTest)
        window.setDialogs(std::make_unique<UnattendedDialogs>());
    if (!window.initialize())
        return 1;
    window.show();

    if (!screenshotPath.isEmpty()) {
        QTimer::singleShot(500, &app, [&window, screenshotPath] { takeScreenshot(&window, screenshotPath); });
    } else if (smokeTest) {
        QTimer::singleShot(250, &app, &QCoreApplication::quit);
    }
    return app.exec();
}
