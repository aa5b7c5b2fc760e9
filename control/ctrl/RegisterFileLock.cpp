#include "RegisterFileLock.h"

#include <QDir>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace rk40 {

QString RegisterFileLock::lockFilePath()
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QStringLiteral("/tmp");
    return folder + QStringLiteral("/REGFILE");
}

RegisterFileLock::RegisterFileLock()
{
    const QByteArray path = lockFilePath().toLocal8Bit();
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    // A lock file made by another user may be read-only for us; flock
    // works on a read-only descriptor as well.
    if (m_fd < 0)
        m_fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
}

RegisterFileLock::~RegisterFileLock()
{
    unlock();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RegisterFileLock::lock(std::chrono::milliseconds timeout)
{
    if (m_fd < 0)
        return false;
    if (m_locked)
        return true;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
            m_locked = true;
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void RegisterFileLock::unlock()
{
    if (m_locked && m_fd >= 0)
        ::flock(m_fd, LOCK_UN);
    m_locked = false;
}

} // namespace rk40
