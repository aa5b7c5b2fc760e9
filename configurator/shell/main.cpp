#include "CConfiguratorApp.h"
#include "NetworkCommands.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication qapp(argc, argv);
    CConfiguratorApp app;
    app.setNetworkDialogRunner(remote::networkDialogRunner());
    return app.Run();
}
