#include "platform/component/PropertyBag.h"

#include "platform/component/TextEscape.h"

#include <QStringList>

namespace component {

void PropertyBag::write(const QString& name, const QVariant& value)
{
    for (auto& item : m_items) {
        if (item.first == name) {
            item.second = value;
            return;
        }
    }
    m_items.emplace_back(name, value);
}

QVariant PropertyBag::read(const QString& name) const
{
    for (const auto& item : m_items)
        if (item.first == name)
            return item.second;
    return {};
}

bool PropertyBag::contains(const QString& name) const
{
    return read(name).isValid();
}

QStringList PropertyBag::names() const
{
    QStringList out;
    for (const auto& item : m_items)
        out << item.first;
    return out;
}

QString PropertyBag::toText() const
{
    QString out;
    for (const auto& [name, value] : m_items) {
        QString encoded;
        switch (value.typeId()) {
        case QMetaType::Bool: encoded = QString("b:%1").arg(value.toBool() ? 1 : 0); break;
        case QMetaType::Short: case QMetaType::Int: case QMetaType::LongLong:
        case QMetaType::UShort: case QMetaType::UInt: case QMetaType::ULongLong:
            encoded = "i:" + value.toString(); break;
        default: encoded = "s:" + escapeLineText(value.toString()); break;
        }
        out += name + '=' + encoded + '\n';
    }
    return out;
}

PropertyBag PropertyBag::fromText(const QString& text, bool* ok)
{
    PropertyBag bag;
    bool good = true;
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0 || line.size() < eq + 3 || line[eq + 2] != ':') {
            good = false;
            continue;
        }
        const QString name = line.left(eq);
        const QChar kind = line[eq + 1];
        const QString raw = line.mid(eq + 3);
        if (kind == 'b') {
            bag.write(name, raw == "1");
        } else if (kind == 'i') {
            bool isNumber = false;
            const qlonglong n = raw.toLongLong(&isNumber);
            if (!isNumber) { good = false; continue; }
            bag.write(name, n);
        } else if (kind == 's') {
            bag.write(name, unescapeLineText(raw));
        } else {
            good = false;
        }
    }
    if (ok)
        *ok = good;
    return bag;
}

} // namespace component
