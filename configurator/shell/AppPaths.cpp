#include "AppPaths.h"

#include <QCoreApplication>

namespace apppaths {

namespace {
QString g_folder;  // UI thread only
}

QString programFolder()
{
    if (!g_folder.isEmpty())
        return g_folder;
    return QCoreApplication::applicationDirPath() + QLatin1Char('/');
}

void setProgramFolder(const QString& folder)
{
    g_folder = folder;
    if (!g_folder.isEmpty() && !g_folder.endsWith(QLatin1Char('/')))
        g_folder += QLatin1Char('/');
}

QString defaultConfigPath() { return programFolder() + QStringLiteral("default.act"); }
QString transferLogPath() { return programFolder() + QStringLiteral("log"); }

} // namespace apppaths
