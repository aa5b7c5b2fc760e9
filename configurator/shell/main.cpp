#include "CConfiguratorApp.h"

#include <QApplication>

#ifdef TERMSET_HAVE_NETDLG
#include "NetworkCommands.h"
#endif

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
#ifdef TERMSET_HAVE_NETDLG
    app.setNetworkDialogRunner(remote::networkDialogRunner());
#endif
    return app.Run();
}
