#include "TestEnvironment.h"

#include "Registry.h"

#include <QDir>
#include <QStandardPaths>

namespace testsupport {

TestEnvironment::TestEnvironment()
    : m_oldHome(qgetenv("HOME")), m_oldConfig(qgetenv("XDG_CONFIG_HOME")), m_oldRuntime(qgetenv("XDG_RUNTIME_DIR")),
      m_oldLocks(qgetenv("RK40_LOCK_DIR"))
{
    QDir(m_dir.path()).mkpath("home");
    QDir(m_dir.path()).mkpath("config");
    QDir(m_dir.path()).mkpath("runtime");
    QDir(m_dir.path()).mkpath("lock");
    qputenv("RK40_LOCK_DIR", m_dir.filePath("lock").toLocal8Bit());
    qputenv("HOME", m_dir.filePath("home").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", m_dir.filePath("runtime").toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
}

TestEnvironment::~TestEnvironment()
{
    qputenv("HOME", m_oldHome);
    qputenv("XDG_CONFIG_HOME", m_oldConfig);
    qputenv("XDG_RUNTIME_DIR", m_oldRuntime);
    if (m_oldLocks.isNull())
        qunsetenv("RK40_LOCK_DIR");
    else
        qputenv("RK40_LOCK_DIR", m_oldLocks);
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
