#pragma once

// Named persistent values, kept in the order they were written. A container
// saves a control into a bag and loads it back; the text form below lets a
// container keep a bag in a file.

#include <QString>
#include <QVariant>
#include <utility>
#include <vector>

namespace component {

class PropertyBag {
public:
    // Replaces a value of the same name (keeping its place) or appends it.
    void write(const QString& name, const QVariant& value);
    // The value, or an invalid QVariant when absent.
    QVariant read(const QString& name) const;
    bool contains(const QString& name) const;
    QStringList names() const;
    bool isEmpty() const { return m_items.empty(); }
    void clear() { m_items.clear(); }

    // "name=value" lines, values written with their type so that a load
    // gives back the same types: i:123, b:1, s:text (text escaped).
    QString toText() const;
    static PropertyBag fromText(const QString& text, bool* ok = nullptr);

    bool operator==(const PropertyBag& other) const { return m_items == other.m_items; }

private:
    std::vector<std::pair<QString, QVariant>> m_items;
};

} // namespace component
