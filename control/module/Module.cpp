// Entry points of the RK40COMM control module: self-registration, the class
// factories of the control and its property page, and the version text.

#include "control/ctrl/CRK40CommCtrl.h"
#include "control/ctrl/CRK40CommPropPage.h"
#include "platform/component/Registry.h"
#include "control/ctrl/TypeLibrary.h"

#include <QLatin1String>

#include <atomic>

#define RK40_EXPORT extern "C" __attribute__((visibility("default")))

using namespace component;

namespace {

std::atomic<int> g_serverLocks{0};
std::atomic<int> g_liveFactories{0};

template <class Object>
class Factory final : public IClassFactory {
public:
    Factory() { ++g_liveFactories; }
    ~Factory() override { --g_liveFactories; }
    Factory(const Factory&) = delete;
    Factory& operator=(const Factory&) = delete;

    HRESULT createInstance(IComponent** out) override
    {
        if (!out)
            return E_POINTER;
        *out = new Object;
        return S_OK;
    }
    HRESULT lockServer(bool lock) override
    {
        if (lock)
            ++g_serverLocks;
        else if (g_serverLocks.load() > 0)
            --g_serverLocks;
        return S_OK;
    }
};

QString modulePath()
{
    return modulePathOf(reinterpret_cast<const void*>(&modulePath));
}

ClassRegistration controlClass(const QString& path)
{
    ClassRegistration c;
    c.clsid = QLatin1String(rk40::kControlClsid);
    c.progId = QLatin1String(rk40::kControlProgId);
    c.typeName = QStringLiteral("RK40Comm Control");
    c.modulePath = path;
    c.threadingModel = QStringLiteral("Apartment");
    c.insertable = true;
    c.miscStatus = 0x20191; // recompose on resize, can't link inside, inside-out, activate when visible, set client site first
    c.toolboxBitmap = 1;
    c.typeLibId = QLatin1String(rk40::kLibId);
    c.typeLibVersion = rk40::typeLibrary().version();
    return c;
}

ClassRegistration propertyPageClass(const QString& path)
{
    ClassRegistration c;
    c.clsid = QLatin1String(rk40::kPropPageClsid);
    c.progId = QLatin1String(rk40::kPropPageProgId);
    c.typeName = QStringLiteral("RK40Comm Property Page");
    c.modulePath = path;
    c.threadingModel = QStringLiteral("Apartment");
    return c;
}

} // namespace

RK40_EXPORT HRESULT DllRegisterServer()
{
    const QString path = modulePath();
    Registry registry;
    if (!succeeded(registerTypeLib(registry, rk40::typeLibrary(), path)))
        return SELFREG_E_TYPELIB;
    if (!succeeded(registerClass(registry, controlClass(path))))
        return SELFREG_E_CLASS;
    if (!succeeded(registerClass(registry, propertyPageClass(path))))
        return SELFREG_E_CLASS;
    return S_OK;
}

RK40_EXPORT HRESULT DllUnregisterServer()
{
    Registry registry;
    const TypeLibInfo& lib = rk40::typeLibrary();
    if (!succeeded(unregisterTypeLib(registry, lib.libid, lib.version())))
        return SELFREG_E_TYPELIB;
    if (!succeeded(unregisterClass(registry, QLatin1String(rk40::kControlClsid), QLatin1String(rk40::kControlProgId))))
        return SELFREG_E_CLASS;
    if (!succeeded(unregisterClass(registry, QLatin1String(rk40::kPropPageClsid), QLatin1String(rk40::kPropPageProgId))))
        return SELFREG_E_CLASS;
    return S_OK;
}

RK40_EXPORT HRESULT DllGetClassObject(const char* clsid, IClassFactory** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!clsid)
        return E_INVALIDARG;
    const QString id = QString::fromLatin1(clsid);
    if (id.compare(QLatin1String(rk40::kControlClsid), Qt::CaseInsensitive) == 0)
        *out = new Factory<rk40::CRK40CommCtrl>;
    else if (id.compare(QLatin1String(rk40::kPropPageClsid), Qt::CaseInsensitive) == 0)
        *out = new Factory<rk40::CRK40CommPropPage>;
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    return S_OK;
}

RK40_EXPORT HRESULT DllCanUnloadNow()
{
    const bool idle = rk40::CRK40CommCtrl::liveObjects() == 0 && rk40::CRK40CommPropPage::liveObjects() == 0 &&
                      g_liveFactories.load() == 0 && g_serverLocks.load() == 0;
    return idle ? S_OK : S_FALSE;
}

// Version resource of the module.
RK40_EXPORT const char* RK40COMM_VersionInfo()
{
    return "3.0.0.0";
}

RK40_EXPORT const char* RK40COMM_FileDescription()
{
    return "RK40Comm OLE Control Module";
}

RK40_EXPORT const char* RK40COMM_ProtocolVersion()
{
    return "6.29";
}
