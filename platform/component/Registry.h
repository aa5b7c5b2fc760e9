#pragma once

// The component registry: which module implements which class, the program
// identifiers that name classes, and the registered type libraries. The
// per-user registry is one INI file under $XDG_CONFIG_HOME (default
// ~/.config), so a run with another HOME or XDG_CONFIG_HOME sees a registry of
// its own. System registries (written at install time) live at the same place
// under each folder of $XDG_CONFIG_DIRS (default /etc/xdg); a class is looked
// up in the per-user registry first and then in those, in order.
//
// Keys mirror the layout containers expect:
//   CLSID/{clsid}: ProgID, TypeName, InprocServer32, ThreadingModel,
//                  Insertable, MiscStatus, ToolboxBitmap32, TypeLib, Version
//   ProgID/<progid>: CLSID, TypeName
//   TypeLib/{libid}/<version>: Name, Help, Path, and the members

#include "platform/component/Dispatch.h"
#include "platform/component/TypeInfo.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <map>
#include <memory>

namespace component {

class Registry {
public:
    // $XDG_CONFIG_HOME/Veltrona/components.ini, or ~/.config/... without it.
    static QString defaultPath();
    // <dir>/Veltrona/components.ini for each absolute dir of $XDG_CONFIG_DIRS
    // (default /etc/xdg), most important first.
    static QStringList systemPaths();

    explicit Registry(const QString& path = defaultPath());

    QString path() const { return m_path; }
    QVariant value(const QString& key, const QString& name) const;
    void setValue(const QString& key, const QString& name, const QVariant& value);
    // Removes a key with every value and sub-key under it.
    void removeKey(const QString& key);
    bool hasKey(const QString& key) const;
    QStringList subKeys(const QString& key) const;

    // Writes the file. Returns false (and leaves the earlier file in place)
    // when it cannot be written.
    bool save();
    // Whether the file could be read (a missing file reads as empty).
    bool loadedOk() const { return m_loadedOk; }

    // The whole registry as sorted "key\tname=value" lines, for comparing.
    QString dump() const;

private:
    void load();
    QString m_path;
    bool m_loadedOk = true;
    // key -> (value name -> value)
    std::map<QString, std::map<QString, QString>> m_keys;
};

struct ClassRegistration {
    QString clsid;
    QString progId;
    QString typeName;
    QString modulePath;
    QString threadingModel;  // "Apartment"
    bool insertable = false;
    quint32 miscStatus = 0;
    int toolboxBitmap = 0;   // 0: none
    QString typeLibId;       // empty for classes without a type library
    QString typeLibVersion;
};

HRESULT registerTypeLib(Registry& reg, const TypeLibInfo& lib, const QString& modulePath);
HRESULT unregisterTypeLib(Registry& reg, const QString& libid, const QString& version);
HRESULT registerClass(Registry& reg, const ClassRegistration& cls);
HRESULT unregisterClass(Registry& reg, const QString& clsid, const QString& progId);


// The path of the shared object that holds the given address (dladdr).
QString modulePathOf(const void* addressInModule);

// Creates an object by class identifier ("{...}") or program identifier
// through the registry: refuses a registry file or a module that another user
// could have changed (moduleRefusal(), untrustedReason()), loads the module (kept loaded for the
// rest of the process), asks its class factory and returns the object.
// On failure returns nullptr and sets *hr and *error.
std::unique_ptr<IComponent> createInstance(const QString& classOrProgId, HRESULT* hr = nullptr,
                                           QString* error = nullptr, const Registry* registry = nullptr);

// Convenience: create and cast to a dispatch control.
std::unique_ptr<IDispatchControl> createControl(const QString& classOrProgId, HRESULT* hr = nullptr,
                                                QString* error = nullptr, const Registry* registry = nullptr);

// Loads a module (refused as createInstance() refuses it) and calls its
// DllRegisterServer / DllUnregisterServer.
HRESULT registerModule(const QString& modulePath, bool unregister, QString* error = nullptr);

} // namespace component
