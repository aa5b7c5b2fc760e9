#include "platform/folders/UserFolders.h"

#include <QDir>

namespace userfolders {

namespace {

const QString kVendor = QStringLiteral("Veltrona");

QString fromEnvironment(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable);
    // The XDG rules ignore a relative path.
    if (value.isEmpty() || QDir::isRelativePath(value))
        return fallback;
    return QDir::cleanPath(value);
}

} // namespace

QString base(Kind kind)
{
    const QString home = QDir::homePath();
    switch (kind) {
    case Kind::Config: return fromEnvironment("XDG_CONFIG_HOME", home + QStringLiteral("/.config"));
    case Kind::Data: return fromEnvironment("XDG_DATA_HOME", home + QStringLiteral("/.local/share"));
    case Kind::State: return fromEnvironment("XDG_STATE_HOME", home + QStringLiteral("/.local/state"));
    case Kind::Runtime: return fromEnvironment("XDG_RUNTIME_DIR", QDir::tempPath());
    }
    return home;
}

QString vendor(Kind kind) { return base(kind) + QLatin1Char('/') + kVendor; }

QString path(Kind kind, const QString& name) { return vendor(kind) + QLatin1Char('/') + name; }

QStringList systemConfigPaths(const QString& name)
{
    QStringList out;
    for (const QString& dir : qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            out << QDir::cleanPath(dir) + QLatin1Char('/') + kVendor + QLatin1Char('/') + name;
    }
    if (out.isEmpty())
        out << QStringLiteral("/etc/xdg/") + kVendor + QLatin1Char('/') + name;
    return out;
}

} // namespace userfolders
