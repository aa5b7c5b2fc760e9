#include "platform/component/Registry.h"

#include "platform/folders/UserFolders.h"

#include "platform/component/ModuleTrust.h"
#include "platform/component/TextEscape.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

#include <dlfcn.h>
#include <mutex>
#include <vector>

namespace component {

QString describeResult(HRESULT hr)
{
    switch (hr) {
    case S_OK: return QStringLiteral("success");
    case S_FALSE: return QStringLiteral("success (false)");
    case E_NOTIMPL: return QStringLiteral("not implemented");
    case E_POINTER: return QStringLiteral("invalid pointer");
    case E_FAIL: return QStringLiteral("unspecified failure");
    case E_INVALIDARG: return QStringLiteral("invalid argument");
    case DISP_E_MEMBERNOTFOUND: return QStringLiteral("member not found");
    case DISP_E_TYPEMISMATCH: return QStringLiteral("type mismatch");
    case DISP_E_UNKNOWNNAME: return QStringLiteral("unknown name");
    case DISP_E_EXCEPTION: return QStringLiteral("exception in member");
    case DISP_E_OVERFLOW: return QStringLiteral("value out of range");
    case DISP_E_BADINDEX: return QStringLiteral("index out of range");
    case DISP_E_BADPARAMCOUNT: return QStringLiteral("wrong number of arguments");
    case CLASS_E_CLASSNOTAVAILABLE: return QStringLiteral("class not available from this module");
    case REGDB_E_CLASSNOTREG: return QStringLiteral("class not registered");
    case E_ACCESSDENIED: return QStringLiteral("access denied");
    case SELFREG_E_TYPELIB: return QStringLiteral("type library could not be registered");
    case SELFREG_E_CLASS: return QStringLiteral("class could not be registered");
    }
    return QString("result 0x%1").arg(quint32(hr), 8, 16, QChar('0'));
}

QString Registry::defaultPath()
{
    return userfolders::path(userfolders::Kind::Config, QStringLiteral("components.ini"));
}

QStringList Registry::systemPaths()
{
    return userfolders::systemConfigPaths(QStringLiteral("components.ini"));
}

Registry::Registry(const QString& path) : m_path(path)
{
    load();
}

void Registry::load()
{
    m_keys.clear();
    QFile f(m_path);
    if (!f.exists())
        return;
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        m_loadedOk = false;
        return;
    }
    QTextStream in(&f);
    QString key;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.startsWith('[') && line.endsWith(']')) {
            key = line.mid(1, line.size() - 2);
            m_keys[key];
        } else if (const qsizetype eq = line.indexOf('='); eq > 0 && !key.isEmpty()) {
            m_keys[key][line.left(eq)] = unescapeLineText(line.mid(eq + 1));
        }
    }
}

QVariant Registry::value(const QString& key, const QString& name) const
{
    const auto k = m_keys.find(key);
    if (k == m_keys.end())
        return {};
    const auto v = k->second.find(name);
    return v == k->second.end() ? QVariant() : QVariant(v->second);
}

void Registry::setValue(const QString& key, const QString& name, const QVariant& value)
{
    m_keys[key][name] = value.toString();
}

void Registry::removeKey(const QString& key)
{
    const QString prefix = key + '/';
    for (auto it = m_keys.begin(); it != m_keys.end();) {
        if (it->first == key || it->first.startsWith(prefix))
            it = m_keys.erase(it);
        else
            ++it;
    }
}

bool Registry::hasKey(const QString& key) const
{
    return m_keys.count(key) != 0;
}

QStringList Registry::subKeys(const QString& key) const
{
    QStringList out;
    const QString prefix = key + '/';
    for (const auto& [k, values] : m_keys) {
        if (!k.startsWith(prefix))
            continue;
        const QString child = k.mid(prefix.size()).section('/', 0, 0);
        if (!out.contains(child))
            out << child;
    }
    return out;
}

bool Registry::save()
{
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath()))
        return false;
    QSaveFile f(m_path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream out(&f);
    for (const auto& [key, values] : m_keys) {
        out << '[' << key << "]\n";
        for (const auto& [name, value] : values)
            out << name << '=' << escapeLineText(value) << '\n';
        out << '\n';
    }
    out.flush();
    return f.commit();
}

QString Registry::dump() const
{
    QString out;
    for (const auto& [key, values] : m_keys) {
        out += key + '\n';
        for (const auto& [name, value] : values)
            out += key + '\t' + name + '=' + value + '\n';
    }
    return out;
}

static QString typeLibKey(const QString& libid, const QString& version)
{
    return QString("TypeLib/%1/%2").arg(libid, version);
}

HRESULT registerTypeLib(Registry& reg, const TypeLibInfo& lib, const QString& modulePath)
{
    if (lib.libid.isEmpty() || modulePath.isEmpty())
        return SELFREG_E_TYPELIB;
    const QString key = typeLibKey(lib.libid, lib.version());
    reg.setValue(key, "Name", lib.name);
    reg.setValue(key, "Help", lib.help);
    reg.setValue(key, "Path", modulePath);
    for (const InterfaceInfo* iface : {&lib.dispatch, &lib.events}) {
        const QString ikey = key + "/Interface/" + iface->name;
        reg.setValue(ikey, "IID", iface->iid);
        reg.setValue(ikey, "Help", iface->help);
        for (const auto& m : iface->members)
            reg.setValue(ikey, QString("DISPID %1").arg(m.dispid, 4, 10, QChar('0')), signature(m));
        for (const auto& e : iface->events)
            reg.setValue(ikey, QString("DISPID %1").arg(e.dispid, 4, 10, QChar('0')), signature(e));
        // The interface is known by its identifier too, pointing back at the library.
        reg.setValue("Interface/" + iface->iid, "Name", iface->name);
        reg.setValue("Interface/" + iface->iid, "TypeLib", lib.libid);
        reg.setValue("Interface/" + iface->iid, "Version", lib.version());
    }
    const QString ckey = key + "/CoClass/" + lib.coclass.name;
    reg.setValue(ckey, "CLSID", lib.coclass.clsid);
    reg.setValue(ckey, "Help", lib.coclass.help);
    return reg.save() ? S_OK : SELFREG_E_TYPELIB;
}

HRESULT unregisterTypeLib(Registry& reg, const QString& libid, const QString& version)
{
    const QString key = typeLibKey(libid, version);
    for (const QString& name : reg.subKeys(key + "/Interface")) {
        const QString iid = reg.value(key + "/Interface/" + name, "IID").toString();
        if (!iid.isEmpty())
            reg.removeKey("Interface/" + iid);
    }
    reg.removeKey(key);
    if (reg.subKeys("TypeLib/" + libid).isEmpty())
        reg.removeKey("TypeLib/" + libid);
    return reg.save() ? S_OK : SELFREG_E_TYPELIB;
}

HRESULT registerClass(Registry& reg, const ClassRegistration& cls)
{
    if (cls.clsid.isEmpty() || cls.modulePath.isEmpty())
        return SELFREG_E_CLASS;
    const QString key = "CLSID/" + cls.clsid;
    reg.setValue(key, "TypeName", cls.typeName);
    reg.setValue(key, "InprocServer32", cls.modulePath);
    reg.setValue(key, "ThreadingModel", cls.threadingModel);
    if (!cls.progId.isEmpty()) {
        reg.setValue(key, "ProgID", cls.progId);
        reg.setValue("ProgID/" + cls.progId, "CLSID", cls.clsid);
        reg.setValue("ProgID/" + cls.progId, "TypeName", cls.typeName);
    }
    if (cls.insertable)
        reg.setValue(key, "Insertable", "");
    if (cls.miscStatus)
        reg.setValue(key, "MiscStatus", QString::number(cls.miscStatus));
    if (cls.toolboxBitmap)
        reg.setValue(key, "ToolboxBitmap32", QString("%1, %2").arg(cls.modulePath).arg(cls.toolboxBitmap));
    if (!cls.typeLibId.isEmpty()) {
        reg.setValue(key, "TypeLib", cls.typeLibId);
        reg.setValue(key, "Version", cls.typeLibVersion);
    }
    return reg.save() ? S_OK : SELFREG_E_CLASS;
}

HRESULT unregisterClass(Registry& reg, const QString& clsid, const QString& progId)
{
    reg.removeKey("CLSID/" + clsid);
    if (!progId.isEmpty())
        reg.removeKey("ProgID/" + progId);
    return reg.save() ? S_OK : SELFREG_E_CLASS;
}

QString modulePathOf(const void* addressInModule)
{
    Dl_info info{};
    if (dladdr(addressInModule, &info) == 0 || !info.dli_fname)
        return {};
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absoluteFilePath();
}


// Modules stay loaded for the rest of the process: objects they made may
// outlive any one caller, and unloading code under live objects is fatal.
static QLibrary* loadModule(const QString& path, QString* error)
{
    static std::mutex mutex;
    // Never destroyed, so the libraries stay reachable until the very end.
    static auto& loaded = *new std::map<QString, QLibrary*>;
    std::lock_guard lock(mutex);
    if (const QString refusal = moduleRefusal(path); !refusal.isEmpty()) {
        if (error)
            *error = refusal;
        return nullptr;
    }
    const QString canonical = QFileInfo(path).absoluteFilePath();
    if (auto it = loaded.find(canonical); it != loaded.end())
        return it->second;
    auto* lib = new QLibrary(canonical);
    if (!lib->load()) {
        if (error)
            *error = QString("cannot load module %1: %2").arg(canonical, lib->errorString());
        delete lib;
        return nullptr;
    }
    loaded[canonical] = lib;
    return lib;
}

std::unique_ptr<IComponent> createInstance(const QString& classOrProgId, HRESULT* hr, QString* error,
                                           const Registry* registry)
{
    auto fail = [&](HRESULT code, const QString& why) -> std::unique_ptr<IComponent> {
        if (hr) *hr = code;
        if (error) *error = why;
        return nullptr;
    };
    // Without a registry given: the per-user one, then the system ones.
    std::vector<std::unique_ptr<Registry>> own;
    std::vector<const Registry*> registries;
    if (registry) {
        registries.push_back(registry);
    } else {
        own.push_back(std::make_unique<Registry>());
        for (const QString& path : Registry::systemPaths())
            own.push_back(std::make_unique<Registry>(path));
        for (const auto& r : own)
            registries.push_back(r.get());
    }
    // The registries decide which code runs in this process: a file that
    // another user could have changed decides nothing.
    for (const Registry* r : registries) {
        if (!QFile::exists(r->path()))
            continue;
        if (const QString why = untrustedReason(r->path()); !why.isEmpty())
            return fail(E_ACCESSDENIED, QString("refusing the component registry %1: %2").arg(r->path(), why));
    }
    QString clsid = classOrProgId.startsWith('{') ? classOrProgId : QString();
    QString module;
    for (const Registry* r : registries) {
        const QString id = clsid.isEmpty() ? r->value("ProgID/" + classOrProgId, "CLSID").toString() : clsid;
        if (id.isEmpty())
            continue;
        module = r->value("CLSID/" + id, "InprocServer32").toString();
        if (!module.isEmpty()) {
            clsid = id;
            break;
        }
    }
    if (module.isEmpty()) {
        QStringList searched;
        for (const Registry* r : registries)
            searched << r->path();
        return fail(REGDB_E_CLASSNOTREG,
                    QString("%1 is not registered (registry %2)").arg(classOrProgId, searched.join(", ")));
    }

    QString why;
    QLibrary* lib = loadModule(module, &why);
    if (!lib)
        return fail(E_FAIL, why);
    auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(lib->resolve("DllGetClassObject"));
    if (!getClassObject)
        return fail(E_FAIL, QString("module %1 does not export DllGetClassObject").arg(module));

    IClassFactory* factory = nullptr;
    const QByteArray id = clsid.toLatin1();
    HRESULT result = getClassObject(id.constData(), &factory);
    if (!succeeded(result) || !factory)
        return fail(succeeded(result) ? E_FAIL : result,
                    QString("module %1 cannot make class %2: %3").arg(module, clsid, describeResult(result)));
    std::unique_ptr<IClassFactory> ownedFactory(factory);
    IComponent* object = nullptr;
    result = factory->createInstance(&object);
    if (!succeeded(result) || !object)
        return fail(succeeded(result) ? E_FAIL : result,
                    QString("class %1 could not be created: %2").arg(clsid, describeResult(result)));
    if (hr) *hr = S_OK;
    return std::unique_ptr<IComponent>(object);
}

std::unique_ptr<IDispatchControl> createControl(const QString& classOrProgId, HRESULT* hr, QString* error,
                                                const Registry* registry)
{
    std::unique_ptr<IComponent> object = createInstance(classOrProgId, hr, error, registry);
    if (!object)
        return nullptr;
    if (!object->asDispatchControl()) {
        if (hr) *hr = E_FAIL;
        if (error) *error = QString("%1 is not a control").arg(classOrProgId);
        return nullptr;
    }
    return std::unique_ptr<IDispatchControl>(object.release()->asDispatchControl());
}

HRESULT registerModule(const QString& modulePath, bool unregister, QString* error)
{
    QString why;
    QLibrary* lib = loadModule(modulePath, &why);
    if (!lib) {
        if (error) *error = why;
        return E_FAIL;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto fn = reinterpret_cast<DllRegisterServerFn>(lib->resolve(entry));
    if (!fn) {
        if (error) *error = QString("module %1 does not export %2").arg(modulePath, entry);
        return E_FAIL;
    }
    const HRESULT hr = fn();
    if (!succeeded(hr) && error)
        *error = QString("%1 failed: %2").arg(entry, describeResult(hr));
    return hr;
}

} // namespace component
