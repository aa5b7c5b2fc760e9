#include "TestEnvironment.h"

#include "platform/component/Registry.h"

#include <QDir>
#include <QStandardPaths>

namespace testsupport {

TestEnvironment::TestEnvironment()
{
    const std::pair<const char*, const char*> folders[] = {
        {"HOME", "home"},          {"XDG_CONFIG_HOME", "config"}, {"XDG_CONFIG_DIRS", "sysconfig"},
        {"XDG_DATA_HOME", "data"}, {"XDG_STATE_HOME", "state"},   {"XDG_RUNTIME_DIR", "runtime"}, {"RK40_LOCK_DIR", "lock"},
    };
    for (const auto& [variable, folder] : folders) {
        m_saved.emplace_back(variable, qgetenv(variable));
        QDir(m_dir.path()).mkpath(folder);
        qputenv(variable, m_dir.filePath(folder).toLocal8Bit());
    }
    QStandardPaths::setTestModeEnabled(true);
}

TestEnvironment::~TestEnvironment()
{
    // A variable that was not set before is unset again.
    for (const auto& [variable, value] : m_saved) {
        if (value.isNull())
            qunsetenv(variable);
        else
            qputenv(variable, value);
    }
}

QString TestEnvironment::controlModulePath()
{
    return QStringLiteral(RK40_PROGRAM_FOLDER "/libRK40COMM.so");
}

QString TestEnvironment::programFolder()
{
    return QStringLiteral(RK40_PROGRAM_FOLDER);
}

bool TestEnvironment::registerControl(QString* error) const
{
    return component::succeeded(component::registerModule(controlModulePath(), false, error));
}

} // namespace testsupport
