#include "starterdatabase.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

#include <cstdio>

// Build-time tool: vdp-make-starter OUTPUT SAMPLE_DATA
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        err << "Usage: vdp-make-starter OUTPUT SAMPLE_DATA\n";
        return 2;
    }

    QString error;
    if (!buildStarterDatabase({arguments.at(1), arguments.at(2)}, &error)) {
        err << "vdp-make-starter: " << error << '\n';
        return 1;
    }
    return 0;
}
