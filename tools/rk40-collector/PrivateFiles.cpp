#include "PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace collector {

namespace {

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

} // namespace

bool makePrivateFolder(const QString& path, QString* error)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (QFileInfo(clean).isDir())
        return true;
    const QString parent = QFileInfo(clean).absolutePath();
    if (parent != clean && !makePrivateFolder(parent, error))
        return false;
    if (::mkdir(QFile::encodeName(clean).constData(), 0700) != 0 && errno != EEXIST) {
        *error = QString("cannot create the folder %1: %2").arg(clean, systemError());
        return false;
    }
    // mkdir's mode is cut by the umask; 0700 is never wider than asked.
    ::chmod(QFile::encodeName(clean).constData(), 0700);
    return true;
}

bool touchPrivateFile(const QString& path, QString* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        if (errno == EEXIST)
            return true;
        *error = QString("cannot create %1: %2").arg(path, systemError());
        return false;
    }
    ::fchmod(fd, 0600);
    ::close(fd);
    return true;
}

bool writePrivateFile(const QString& path, const QByteArray& data, QString* error)
{
    const QByteArray temp = QFile::encodeName(path + ".new");
    ::unlink(temp.constData());
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = QString("cannot write %1: %2").arg(path, systemError());
        return false;
    }
    ::fchmod(fd, 0600);
    const bool ok = ::write(fd, data.constData(), std::size_t(data.size())) == data.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(temp.constData(), QFile::encodeName(path).constData()) != 0) {
        *error = QString("cannot write %1: %2").arg(path, systemError());
        ::unlink(temp.constData());
        return false;
    }
    return true;
}

} // namespace collector
