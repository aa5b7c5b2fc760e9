#include "platform/component/TypeInfo.h"

#include <limits>

namespace component {

const MemberInfo* InterfaceInfo::member(int dispid) const
{
    for (const auto& m : members)
        if (m.dispid == dispid)
            return &m;
    return nullptr;
}

const MemberInfo* InterfaceInfo::member(const QString& name) const
{
    for (const auto& m : members)
        if (m.name.compare(name, Qt::CaseInsensitive) == 0)
            return &m;
    return nullptr;
}

const EventInfo* InterfaceInfo::event(int dispid) const
{
    for (const auto& e : events)
        if (e.dispid == dispid)
            return &e;
    return nullptr;
}

QString typeName(VarType t)
{
    switch (t) {
    case VarType::Empty: return QStringLiteral("void");
    case VarType::I2: return QStringLiteral("I2");
    case VarType::I4: return QStringLiteral("I4");
    case VarType::Bool: return QStringLiteral("BOOL");
    case VarType::BStr: return QStringLiteral("BSTR");
    }
    return QStringLiteral("?");
}

static QString paramList(const std::vector<ParamInfo>& params)
{
    QStringList parts;
    for (const auto& p : params)
        parts << (typeName(p.type) + (p.name.isEmpty() ? QString() : " " + p.name));
    return parts.join(", ");
}

QString signature(const MemberInfo& m)
{
    switch (m.kind) {
    case MemberKind::Method:
        return QString("%1 %2(%3)").arg(typeName(m.type), m.name, paramList(m.params));
    case MemberKind::Property:
        return QString("property %1 %2").arg(typeName(m.type), m.name);
    case MemberKind::IndexedProperty:
        return QString("property %1 %2[%3]").arg(typeName(m.type), m.name, paramList(m.params));
    }
    return m.name;
}

QString signature(const EventInfo& e)
{
    return QString("event %1(%2)").arg(e.name, paramList(e.params));
}

static bool isInteger(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Short: case QMetaType::UShort: case QMetaType::Int: case QMetaType::UInt:
    case QMetaType::Long: case QMetaType::ULong: case QMetaType::LongLong: case QMetaType::ULongLong:
    case QMetaType::Char: case QMetaType::SChar: case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

std::optional<InvokeResult> coerceValue(VarType type, QVariant& value, const QString& what)
{
    auto mismatch = [&](const QString& expected) {
        return InvokeResult{DISP_E_TYPEMISMATCH, {},
                            QString("%1: expected %2, got %3").arg(what, expected,
                                value.isValid() ? QString(value.typeName()) : QString("nothing"))};
    };
    switch (type) {
    case VarType::Empty:
        return std::nullopt;
    case VarType::I2:
    case VarType::I4: {
        if (!isInteger(value))
            return mismatch(type == VarType::I2 ? "an integer (I2)" : "an integer (I4)");
        bool ok = false;
        const qlonglong n = value.toLongLong(&ok);
        const bool unsignedBig = value.typeId() == QMetaType::ULongLong && value.toULongLong() > quint64(std::numeric_limits<qlonglong>::max());
        const qlonglong lo = type == VarType::I2 ? std::numeric_limits<qint16>::min() : std::numeric_limits<qint32>::min();
        const qlonglong hi = type == VarType::I2 ? std::numeric_limits<qint16>::max() : std::numeric_limits<qint32>::max();
        if (!ok || unsignedBig || n < lo || n > hi)
            return InvokeResult{DISP_E_OVERFLOW, {},
                                QString("%1: %2 does not fit in %3").arg(what, value.toString(), typeName(type))};
        value = type == VarType::I2 ? QVariant::fromValue(static_cast<qint16>(n))
                                    : QVariant::fromValue(static_cast<qint32>(n));
        return std::nullopt;
    }
    case VarType::Bool:
        if (value.typeId() == QMetaType::Bool)
            return std::nullopt;
        if (isInteger(value)) {
            value = QVariant(value.toLongLong() != 0);
            return std::nullopt;
        }
        return mismatch("a BOOL");
    case VarType::BStr:
        if (value.typeId() == QMetaType::QString)
            return std::nullopt;
        if (value.typeId() == QMetaType::QByteArray) {
            value = QString::fromLatin1(value.toByteArray());
            return std::nullopt;
        }
        return mismatch("a text (BSTR)");
    }
    return std::nullopt;
}

std::optional<InvokeResult> coerceArguments(const MemberInfo& m, InvokeKind kind, QVariantList& args)
{
    // Expected: the method's parameters, or the index (indexed properties),
    // followed by the value for a put.
    std::vector<ParamInfo> expected;
    switch (m.kind) {
    case MemberKind::Method:
        if (kind != InvokeKind::Method)
            return InvokeResult{DISP_E_MEMBERNOTFOUND, {}, QString("%1 is a method").arg(m.name)};
        expected = m.params;
        break;
    case MemberKind::Property:
    case MemberKind::IndexedProperty:
        if (kind == InvokeKind::Method)
            return InvokeResult{DISP_E_MEMBERNOTFOUND, {}, QString("%1 is a property").arg(m.name)};
        if (m.kind == MemberKind::IndexedProperty)
            expected = m.params;
        if (kind == InvokeKind::PropertyPut)
            expected.push_back(ParamInfo{QStringLiteral("value"), m.type});
        break;
    }
    if (args.size() != qsizetype(expected.size()))
        return InvokeResult{DISP_E_BADPARAMCOUNT, {},
                            QString("%1 takes %2 argument(s), %3 given").arg(m.name).arg(expected.size()).arg(args.size())};
    for (size_t i = 0; i < expected.size(); ++i) {
        const QString what = QString("%1, argument %2%3").arg(m.name).arg(i + 1)
                                 .arg(expected[i].name.isEmpty() ? QString() : " (" + expected[i].name + ")");
        if (auto failure = coerceValue(expected[i].type, args[qsizetype(i)], what))
            return failure;
    }
    return std::nullopt;
}

} // namespace component
