#pragma once

// Gives a test a world of its own: HOME, XDG_CONFIG_HOME and XDG_RUNTIME_DIR
// in a temporary folder (so the profile, the component registry, the COM
// port mapping and the register-file lock are private), a lock folder for
// the serial ports' lock files (RK40_LOCK_DIR), plus helpers to
// register the control module there.

#include <QString>
#include <QTemporaryDir>

namespace testsupport {

class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    QString root() const { return m_dir.path(); }
    QString path(const QString& relative) const { return m_dir.filePath(relative); }

    // Registers the control module built with the tests in this
    // environment's registry. Returns false with a message on failure.
    bool registerControl(QString* error = nullptr) const;

    // The built control module and program folder (build/bin).
    static QString controlModulePath();
    static QString programFolder();

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome, m_oldConfig, m_oldRuntime, m_oldLocks;
};

} // namespace testsupport
