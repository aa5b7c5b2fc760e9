// regctl: registers a component module in the component registry (or removes
// it with -u), by calling the module's own entry points. By default the
// per-user registry; with --system the system registry that every user reads
// after their own (what an installer runs).

#include "platform/component/Registry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

namespace {

const char* const kUsage =
    "usage: regctl [-u] [-s] [--system] MODULE\n"
    "  Registers the component module MODULE in the per-user component registry\n"
    "  -u, --unregister  unregister instead\n"
    "  -s, --silent      print nothing on success\n"
    "      --system      the system registry (first folder of $XDG_CONFIG_DIRS) instead\n";

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    QTextStream out(stdout);
    QStringList args = app.arguments().mid(1);
    bool unregister = false;
    bool quiet = false;
    bool system = false;
    QString module;
    for (const QString& a : args) {
        if (a == "-u" || a == "--unregister") unregister = true;
        else if (a == "-s" || a == "--silent") quiet = true;
        else if (a == "--system") system = true;
        else if (a == "-h" || a == "--help") {
            out << kUsage << "  per-user registry: " << component::Registry::defaultPath() << "\n"
                << "  system registry:   " << component::Registry::systemPaths().constFirst() << "\n";
            return 0;
        } else if (a.startsWith('-')) {
            err << "regctl: unknown option " << a << "\n" << kUsage;
            return 2;
        } else if (module.isEmpty()) module = a;
        else {
            err << "regctl: unexpected argument " << a << "\n";
            return 2;
        }
    }
    if (module.isEmpty()) {
        err << kUsage;
        return 2;
    }
    if (!QFileInfo::exists(module)) {
        err << "regctl: " << module << ": no such file\n";
        return 2;
    }
    if (system) {
        // The module writes the registry under $XDG_CONFIG_HOME; pointing that
        // at the system folder for this process makes its own registration
        // land in the system registry.
        const QString registry = component::Registry::systemPaths().constFirst();
        const QString folder = QFileInfo(registry).absolutePath();  // <dir>/Veltrona
        qputenv("XDG_CONFIG_HOME", QFileInfo(folder).absolutePath().toLocal8Bit());
    }
    const QString target = component::Registry::defaultPath();
    QString error;
    const component::HRESULT hr = component::registerModule(QFileInfo(module).absoluteFilePath(), unregister, &error);
    if (!component::succeeded(hr)) {
        err << "regctl: " << error << " (registry " << target << ")\n";
        return 1;
    }
    if (!quiet)
        out << (unregister ? "unregistered " : "registered ") << module << " in " << target << "\n";
    return 0;
}
