#include "shell/CConfiguratorApp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication qapp(argc, argv);
    CConfiguratorApp app;
    // "Termset FILE.act": open with that configuration (a double-click on a
    // configuration file in a file manager).
    for (const QString& arg : QCoreApplication::arguments().mid(1)) {
        if (!arg.startsWith(QLatin1Char('-')))
            app.setStartupFile(arg);
    }
    return app.Run();
}
