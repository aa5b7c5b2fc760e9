#pragma once

// A static description of a type library: interfaces, members with their
// DISPIDs and types, events, and the class that ties them together.
// Dispatch checks arguments against it; registration records it.

#include "platform/component/Dispatch.h"

#include <QString>
#include <optional>
#include <vector>

namespace component {

struct ParamInfo {
    QString name;
    VarType type = VarType::Empty;
};

enum class MemberKind { Method, Property, IndexedProperty };

struct MemberInfo {
    int dispid = 0;
    QString name;
    MemberKind kind = MemberKind::Method;
    // Method: result type (Empty = none). Property: value type.
    VarType type = VarType::Empty;
    // Method: parameters. Indexed property: the index parameter.
    std::vector<ParamInfo> params;
    // Indexed property: number of entries (valid indexes 0..count-1).
    int indexCount = 0;
    QString help;
};

struct EventInfo {
    int dispid = 0;
    QString name;
    std::vector<ParamInfo> params;
};

struct InterfaceInfo {
    QString name;
    QString iid;
    QString help;
    std::vector<MemberInfo> members;
    std::vector<EventInfo> events;

    const MemberInfo* member(int dispid) const;
    const MemberInfo* member(const QString& name) const;  // case-insensitive
    const EventInfo* event(int dispid) const;
};

struct CoClassInfo {
    QString name;
    QString clsid;
    QString help;
};

struct TypeLibInfo {
    QString name;
    QString libid;
    int majorVersion = 1;
    int minorVersion = 0;
    QString help;
    InterfaceInfo dispatch;
    InterfaceInfo events;
    CoClassInfo coclass;

    QString version() const { return QString("%1.%2").arg(majorVersion).arg(minorVersion); }
};

// A one-line signature such as "I2 ReadEEPR(I2 address)".
QString signature(const MemberInfo& m);
QString signature(const EventInfo& e);

// Checks and converts call arguments to the declared types: integers for I2
// and I4 (range-checked), bool or integer for Bool, text for BStr. On
// failure returns an InvokeResult describing the problem.
std::optional<InvokeResult> coerceArguments(const MemberInfo& m, InvokeKind kind, QVariantList& args);
std::optional<InvokeResult> coerceValue(VarType type, QVariant& value, const QString& what);

} // namespace component
