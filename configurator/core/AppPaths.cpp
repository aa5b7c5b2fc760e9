#include "core/AppPaths.h"

#include "platform/folders/UserFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace apppaths {

namespace {
QString g_folder;  // UI thread only

QString withSlash(QString folder)
{
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}
} // namespace

QString programFolder()
{
    if (!g_folder.isEmpty())
        return g_folder;
    const QString programs = QCoreApplication::applicationDirPath();
    const QFileInfo installed(programs + QStringLiteral("/../") + QLatin1String(kInstalledProgramFolder));
    if (installed.isDir())
        return withSlash(installed.canonicalFilePath());
    return withSlash(programs);
}

void setProgramFolder(const QString& folder) { g_folder = withSlash(folder); }

bool programFolderShared()
{
    const QString folder = programFolder();
    if (QDir::cleanPath(folder).endsWith(QLatin1Char('/') + QLatin1String(kInstalledProgramFolder)))
        return true;
    return !QFileInfo(folder).isWritable();
}

QString userDataFolder() { return userfolders::path(userfolders::Kind::Data, QStringLiteral("Termset/")); }
QString userStateFolder() { return userfolders::path(userfolders::Kind::State, QStringLiteral("Termset/")); }

QString defaultConfigPath()
{
    return (programFolderShared() ? userDataFolder() : programFolder()) + QStringLiteral("default.act");
}

QString defaultConfigReadPath()
{
    if (programFolderShared()) {
        const QString own = userDataFolder() + QStringLiteral("default.act");
        if (QFileInfo::exists(own))
            return own;
    }
    return programFolder() + QStringLiteral("default.act");
}

QString transferLogPath()
{
    return (programFolderShared() ? userStateFolder() : programFolder()) + QStringLiteral("log");
}

QString controlModulePath() { return programFolder() + QStringLiteral("libRK40COMM.so"); }

} // namespace apppaths
