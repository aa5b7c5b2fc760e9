#include "CConfiguratorApp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication qapp(argc, argv);
    CConfiguratorApp app;
    return app.Run();
}
