#include "CConfiguratorApp.h"

#include <QApplication>

#ifdef TERMSET_HAVE_NETDLG
#include "NetworkCommands.h"
#endif

int main(int argc, char** argv)
{
    QApplication qapp(argc, argv);
    CConfiguratorApp app;
#ifdef TERMSET_HAVE_NETDLG
    app.setNetworkDialogRunner(remote::networkDialogRunner());
#endif
    return app.Run();
}
