#include "platform/component/ModuleTrust.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace component {

namespace {

// Why one file or folder, as stat() finds it, could be changed by a user other
// than this one (or root); empty when it cannot.
QString writableByOthers(const QString& path, const struct stat& st)
{
    const uid_t me = ::geteuid();
    const bool folder = S_ISDIR(st.st_mode);
    const QString what = folder ? QStringLiteral("the folder %1").arg(path) : path;
    if (st.st_uid != me && st.st_uid != 0)
        return QStringLiteral("%1 belongs to another user (uid %2)").arg(what).arg(st.st_uid);
    if (folder && (st.st_mode & S_ISVTX))
        return {};   // others may add entries, but not replace this user's or root's
    if (st.st_mode & S_IWOTH)
        return QStringLiteral("%1 can be written by every user").arg(what);
    if ((st.st_mode & S_IWGRP) && st.st_gid != 0)
        return QStringLiteral("%1 can be written by the users of group %2").arg(what).arg(st.st_gid);
    return {};
}

// Checks `path` and every folder above it, following symbolic links as the
// loader does.
QString chainReason(const QString& absolutePath)
{
    QString path = absolutePath;
    for (;;) {
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            return QStringLiteral("%1 cannot be examined: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        if (QString why = writableByOthers(path, st); !why.isEmpty())
            return why;
        if (path == QLatin1String("/"))
            return {};
        path = QFileInfo(path).path();
    }
}

} // namespace

QString untrustedReason(const QString& path)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (QString why = chainReason(absolute); !why.isEmpty())
        return why;
    // A symbolic link on the way leads to folders of its own.
    const QString canonical = QFileInfo(absolute).canonicalFilePath();
    if (!canonical.isEmpty() && canonical != absolute)
        return chainReason(canonical);
    return {};
}

QString moduleRefusal(const QString& modulePath)
{
    if (modulePath.isEmpty() || !QDir::isAbsolutePath(modulePath))
        return QStringLiteral("refusing to load the module \"%1\": only an absolute path names a module "
                              "(a relative one would be looked up from the current folder)")
            .arg(modulePath);
    if (const QString why = untrustedReason(modulePath); !why.isEmpty())
        return QStringLiteral("refusing to load the module %1: %2").arg(modulePath, why);
    return {};
}
} // namespace component
