// What the component registry agrees to load: only modules named by an
// absolute path, and neither a registry file nor a module that another user
// could have changed or planted.

#include "platform/component/Registry.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace component;

namespace {

constexpr const char* kProgId = "RK40COMM.RK40CommCtrl.1";

void pointRegistryAt(const QString& module)
{
    Registry reg;
    const QString clsid = reg.value(QStringLiteral("ProgID/") + kProgId, "CLSID").toString();
    reg.setValue("CLSID/" + clsid, "InprocServer32", module);
    QVERIFY(reg.save());
}

bool copyModule(const QString& to, QFile::Permissions permissions)
{
    QFile::remove(to);
    return QFile::copy(testsupport::TestEnvironment::controlModulePath(), to) && QFile::setPermissions(to, permissions);
}

constexpr QFile::Permissions kExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                           | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;

} // namespace

class RegistryTrustTest : public QObject {
    Q_OBJECT
private slots:
    void refusesModulesOthersCouldChange_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("complaint");   // empty: the control is created
        QTest::newRow("built module") << "built" << QString();
        QTest::newRow("relative path, found in the current folder") << "relative" << "only an absolute path";
        QTest::newRow("folder writable by all") << "open folder" << "can be written by every user";
        QTest::newRow("module writable by all") << "open module" << "can be written by every user";
        QTest::newRow("registry writable by all") << "open registry" << "refusing the component registry";
        QTest::newRow("path through a symbolic link to an open folder") << "link" << "can be written by every user";
    }
    void refusesModulesOthersCouldChange()
    {
        QFETCH(QString, situation);
        QFETCH(QString, complaint);
        testsupport::TestEnvironment env;
        QString error;
        QVERIFY2(env.registerControl(&error), qPrintable(error));
        const QString saved = QDir::currentPath();
        QDir(env.root()).mkpath("cwd");
        QDir(env.root()).mkpath("shared");

        if (situation == "relative") {
            QVERIFY(copyModule(env.path("cwd/libRK40COMM.so"), kExecutable));
            QVERIFY(QDir::setCurrent(env.path("cwd")));
            pointRegistryAt("libRK40COMM.so");
        } else if (situation == "open folder") {
            QVERIFY(QFile::setPermissions(env.path("shared"), QFile::Permissions(0x7777)));
            QVERIFY(copyModule(env.path("shared/libRK40COMM.so"), kExecutable));
            pointRegistryAt(env.path("shared/libRK40COMM.so"));
        } else if (situation == "open module") {
            QVERIFY(copyModule(env.path("shared/libRK40COMM.so"), QFile::Permissions(0x7777)));
            pointRegistryAt(env.path("shared/libRK40COMM.so"));
        } else if (situation == "open registry") {
            QVERIFY(QFile::setPermissions(Registry().path(), QFile::Permissions(0x6666)));
        } else if (situation == "link") {
            QVERIFY(QFile::setPermissions(env.path("shared"), QFile::Permissions(0x7777)));
            QVERIFY(copyModule(env.path("shared/libRK40COMM.so"), kExecutable));
            QVERIFY(QFile::link(env.path("shared"), env.path("cwd/modules")));
            pointRegistryAt(env.path("cwd/modules/libRK40COMM.so"));
        }

        HRESULT hr = S_OK;
        error.clear();
        const std::unique_ptr<IDispatchControl> control = createControl(kProgId, &hr, &error);
        QDir::setCurrent(saved);
        if (complaint.isEmpty()) {
            QVERIFY2(control, qPrintable(error));
        } else {
            QVERIFY(!control);
            QVERIFY(!succeeded(hr));
            QVERIFY2(error.contains(complaint), qPrintable(error));
        }
    }

    // Two users: another one plants a module in a folder all may write to
    // (with the sticky bit, as /tmp), and this user's registry names it.
    void refusesAModulePlantedByAnotherUser()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to act as a second user (nobody)");
        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("setpriv (util-linux) is not installed");
        testsupport::TestEnvironment env;
        QString error;
        QVERIFY2(env.registerControl(&error), qPrintable(error));
        QTemporaryDir drop(QDir::tempPath() + "/rk40-drop-XXXXXX");
        QVERIFY(QFile::setPermissions(drop.path(), QFile::Permissions(0x7777)));
        QVERIFY(QProcess::execute("chmod", {"+t", drop.path()}) == 0);
        const QString planted = drop.filePath("libRK40COMM.so");
        QCOMPARE(QProcess::execute("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "cp",
                                                testsupport::TestEnvironment::controlModulePath(), planted}),
                 0);
        pointRegistryAt(planted);
        HRESULT hr = S_OK;
        QVERIFY(!createControl(kProgId, &hr, &error));
        QVERIFY2(error.contains("belongs to another user"), qPrintable(error));
    }
};

QTEST_MAIN(RegistryTrustTest)
#include "tst_registry_trust.moc"
