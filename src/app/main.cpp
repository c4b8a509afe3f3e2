#include "ui/mainwindow.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>

namespace {

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

    MainWindow window;
    if (!window.initialize())
        return 1;
    window.show();

    const QString screenshotPath = qEnvironmentVariable("TESSOLO_SCREENSHOT");
    if (!screenshotPath.isEmpty()) {
        QTimer::singleShot(500, &app, [&window, screenshotPath] { takeScreenshot(&window, screenshotPath); });
    } else if (qEnvironmentVariableIsSet("TESSOLO_SMOKE_TEST")) {
        QTimer::singleShot(250, &app, &QCoreApplication::quit);
    }
    return app.exec();
}
