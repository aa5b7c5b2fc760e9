#include "InstanceLock.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace collector {

namespace {

QByteArray lockPath(const QString& storeFile)
{
    return QFile::encodeName(storeFile + ".lock");
}

std::optional<long long> pidIn(int fd)
{
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0)
        return std::nullopt;
    bool ok = false;
    const long long pid = QByteArray(text, n).trimmed().toLongLong(&ok);
    return ok && pid > 0 ? std::optional<long long>(pid) : std::nullopt;
}

} // namespace

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);  // the kernel lets the lock go
}

bool InstanceLock::acquire(const QString& storeFile, QString* error)
{
    const int fd = ::open(lockPath(storeFile).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = QString("cannot make the lock file %1.lock: %2").arg(storeFile, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const auto pid = pidIn(fd);
        ::close(fd);
        *error = QString("another rk40-collector (%1) is collecting into %2; one collector per store")
                     .arg(pid ? QString("process %1").arg(*pid) : QString("process unknown"), storeFile);
        return false;
    }
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), std::size_t(pid.size()), 0) != pid.size()) {
        *error = QString("cannot write the lock file %1.lock: %2").arg(storeFile, QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

std::optional<long long> InstanceLock::holder(const QString& storeFile)
{
    const int fd = ::open(lockPath(storeFile).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    std::optional<long long> pid;
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0)
        pid = pidIn(fd);  // held: someone collects
    else
        ::flock(fd, LOCK_UN);
    ::close(fd);
    return pid;
}

} // namespace collector
