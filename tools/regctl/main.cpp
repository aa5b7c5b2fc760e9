// regctl: registers a component module in the per-user component registry
// (or removes it with -u), by calling the module's own entry points.

#include "Registry.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    QTextStream out(stdout);
    QStringList args = app.arguments().mid(1);
    bool unregister = false;
    bool quiet = false;
    QString module;
    for (const QString& a : args) {
        if (a == "-u" || a == "--unregister") unregister = true;
        else if (a == "-s" || a == "--silent") quiet = true;
        else if (a == "-h" || a == "--help") {
            out << "usage: regctl [-u] [-s] MODULE\n"
                   "  Registers the component module MODULE in " << component::Registry::defaultPath() << "\n"
                   "  -u  unregister instead\n  -s  print nothing on success\n";
            return 0;
        } else if (module.isEmpty()) module = a;
        else {
            err << "regctl: unexpected argument " << a << "\n";
            return 2;
        }
    }
    if (module.isEmpty()) {
        err << "usage: regctl [-u] [-s] MODULE\n";
        return 2;
    }
    if (!QFileInfo::exists(module)) {
        err << "regctl: " << module << ": no such file\n";
        return 2;
    }
    QString error;
    const component::HRESULT hr = component::registerModule(QFileInfo(module).absoluteFilePath(), unregister, &error);
    if (!component::succeeded(hr)) {
        err << "regctl: " << error << "\n";
        return 1;
    }
    if (!quiet)
        out << (unregister ? "unregistered " : "registered ") << module << " in " << component::Registry::defaultPath() << "\n";
    return 0;
}
