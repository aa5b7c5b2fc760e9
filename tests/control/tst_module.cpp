// The RK40COMM module: self-registration in a private registry, class
// factories and unloading.

#include "ControlTestSupport.h"
#include "platform/component/Registry.h"
#include "TestEnvironment.h"

#include <QLibrary>
#include <QTest>
#include <QWidget>

using namespace testsupport;
using namespace component;

namespace {
const char* const kControlClsid = "{1B962DBA-4057-4CB7-82FF-BA7834B75C38}";
}

class TestModule : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        m_module = std::make_unique<QLibrary>(TestEnvironment::controlModulePath());
        QVERIFY2(m_module->load(), qPrintable(m_module->errorString()));
    }

    void cleanup()
    {
        m_module.reset(); // the QLibrary object only; the module stays loaded
        m_env.reset();
    }

    void registrationFailsWhenTheRegistryCannotBeWritten()
    {
        // The registry's folder is a file: nothing can be saved.
        QFile blocker(m_env->path("blocked"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QByteArray old = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", m_env->path("blocked").toLocal8Bit());
        QCOMPARE(registerModule(TestEnvironment::controlModulePath(), false), SELFREG_E_TYPELIB);
        qputenv("XDG_CONFIG_HOME", old);
    }

    void propertyPageThroughTheRegistry()
    {
        QVERIFY(m_env->registerControl());
        std::unique_ptr<IComponent> page = createInstance("RK40COMM.RK40CommPropPage.1");
        QVERIFY(page && !page->asDispatchControl());
        QWidget parent;
        QWidget* w = page->createPageWidget(&parent);
        QVERIFY(w);
        QCOMPARE(w->parentWidget(), &parent);
        QCOMPARE(w->windowTitle(), QString("General"));
    }

    void classFactoryAndUnloading()
    {
        auto canUnload = entry<DllCanUnloadNowFn>("DllCanUnloadNow");
        auto getClassObject = entry<DllGetClassObjectFn>("DllGetClassObject");
        QVERIFY(canUnload && getClassObject);
        QCOMPARE(canUnload(), S_OK);

        IClassFactory* factory = nullptr;
        QCOMPARE(getClassObject("{00000000-0000-0000-0000-000000000000}", &factory), CLASS_E_CLASSNOTAVAILABLE);
        QVERIFY(!factory);
        QCOMPARE(getClassObject(kControlClsid, nullptr), E_POINTER);
        QCOMPARE(getClassObject(nullptr, &factory), E_INVALIDARG);
        QCOMPARE(getClassObject(kControlClsid, &factory), S_OK);
        QVERIFY(factory);
        QCOMPARE(canUnload(), S_FALSE);
        IComponent* object = nullptr;
        QCOMPARE(factory->createInstance(nullptr), E_POINTER);
        QCOMPARE(factory->createInstance(&object), S_OK);
        QVERIFY(object && object->asDispatchControl());
        factory->lockServer(true);
        delete factory;
        QCOMPARE(canUnload(), S_FALSE);
        delete object;
        QCOMPARE(canUnload(), S_FALSE); // still locked
        QCOMPARE(getClassObject(kControlClsid, &factory), S_OK);
        factory->lockServer(false);
        delete factory;
        QCOMPARE(canUnload(), S_OK);
    }

private:
    template <class Fn>
    Fn entry(const char* name)
    {
        return reinterpret_cast<Fn>(m_module->resolve(name));
    }
    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<QLibrary> m_module;
};

QTEST_MAIN(TestModule)
#include "tst_module.moc"
