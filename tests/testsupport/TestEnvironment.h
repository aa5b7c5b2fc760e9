#pragma once

// Gives a test a world of its own: HOME, XDG_CONFIG_HOME, XDG_CONFIG_DIRS,
// XDG_DATA_HOME, XDG_STATE_HOME and XDG_RUNTIME_DIR in a temporary folder (so
// the profile, the component registries, the COM port mapping, the per-user
// files and the register-file lock are private), a lock folder for the serial
// ports' lock files (RK40_LOCK_DIR), plus helpers to
// register the control module there.

#include <QString>
#include <QTemporaryDir>

#include <utility>
#include <vector>

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
    std::vector<std::pair<const char*, QByteArray>> m_saved;  // variable, earlier value
};

} // namespace testsupport
