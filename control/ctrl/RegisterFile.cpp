#include "control/ctrl/RegisterFile.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace rk40 {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

using FileKey = std::pair<dev_t, ino_t>;

// Who in this process holds the lock of which file. The flock itself is
// taken through a descriptor of its own (a duplicate), so that closing the
// register file while the lock is held does not drop it under the holder.
// An entry stays while anyone holds or waits for it: a waiting thread looks
// it up again after every wake-up and never keeps a reference across the
// wait.
struct Holder {
    std::thread::id owner;
    int depth = 0;
    int lockFd = -1;
    int waiters = 0;
};

std::mutex g_holdersMutex;
std::condition_variable g_holderLeft;
std::map<FileKey, Holder> g_holders;

// Drops the entry of `key` once nobody holds or waits for it. The caller
// holds g_holdersMutex.
void forgetIfIdle(const FileKey& key)
{
    const auto it = g_holders.find(key);
    if (it != g_holders.end() && it->second.depth == 0 && it->second.waiters == 0)
        g_holders.erase(it);
}

bool keyOf(int fd, FileKey* key)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    *key = {st.st_dev, st.st_ino};
    return true;
}

} // namespace

RegisterFile::~RegisterFile()
{
    close();
}

bool RegisterFile::open(const QString& path, QString* error)
{
    close();
    const QByteArray native = path.toLocal8Bit();
    // Not following a link and not waiting on a FIFO: whatever the name
    // points at, only a regular file is kept open.
    const int fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int e = errno;
        *error = e == ELOOP ? QStringLiteral("it is a symbolic link") : systemError(e);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = QStringLiteral("it is not a regular file");
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        *error = systemError(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_path = path;
    return true;
}

void RegisterFile::close()
{
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
}

bool RegisterFile::append(std::string_view bytes, QString* error)
{
    if (m_fd < 0) {
        *error = QStringLiteral("the register file is not open");
        return false;
    }
    const off_t before = ::lseek(m_fd, 0, SEEK_END);
    if (before < 0) {
        *error = systemError(errno);
        return false;
    }
    ssize_t written;
    do
        written = ::write(m_fd, bytes.data(), bytes.size());
    while (written < 0 && errno == EINTR);
    if (written == static_cast<ssize_t>(bytes.size()))
        return true;
    *error = written < 0 ? systemError(errno)
                         : QStringLiteral("only %1 of %2 bytes were written").arg(written).arg(bytes.size());
    if (written > 0 && ::ftruncate(m_fd, before) != 0)
        *error += QStringLiteral("; the part written could not be taken back: ") + systemError(errno);
    return false;
}

bool RegisterFile::lock(QString* error)
{
    FileKey key;
    if (m_fd < 0 || !keyOf(m_fd, &key)) {
        *error = QStringLiteral("the register file is not open");
        return false;
    }
    const auto me = std::this_thread::get_id();
    std::unique_lock holders(g_holdersMutex);
    {
        Holder& holder = g_holders[key];
        if (holder.depth > 0 && holder.owner == me) {
            ++holder.depth;
            m_lockKeys.push_back(key);
            return true;
        }
        ++holder.waiters;
    }
    // Another thread of this process holds it: wait for it here, then
    // compete with other processes at the flock.
    g_holderLeft.wait(holders, [&] { return g_holders[key].depth == 0; });
    {
        Holder& holder = g_holders[key];
        --holder.waiters;
        holder.owner = me;
        holder.depth = 1;
    }
    holders.unlock();

    int lockFd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    int failure = lockFd < 0 ? errno : 0;
    while (failure == 0 && ::flock(lockFd, LOCK_EX) != 0) {
        if (errno != EINTR) // a signal handler ran: go on waiting
            failure = errno;
    }

    holders.lock();
    if (failure != 0) {
        if (lockFd >= 0)
            ::close(lockFd);
        g_holders[key].depth = 0;
        forgetIfIdle(key);
        holders.unlock();
        g_holderLeft.notify_all();
        *error = QStringLiteral("the wait for the lock of %1 failed: %2").arg(m_path, systemError(failure));
        return false;
    }
    g_holders[key].lockFd = lockFd;
    m_lockKeys.push_back(key);
    return true;
}

void RegisterFile::unlock()
{
    if (m_lockKeys.empty())
        return;
    // Each lock() call is undone on the file it locked, also when the
    // object has been reopened on another file since.
    const FileKey key = m_lockKeys.back();
    m_lockKeys.pop_back();
    std::unique_lock holders(g_holdersMutex);
    const auto it = g_holders.find(key);
    if (it == g_holders.end() || it->second.depth == 0)
        return;
    if (--it->second.depth > 0)
        return;
    ::flock(it->second.lockFd, LOCK_UN);
    ::close(std::exchange(it->second.lockFd, -1));
    forgetIfIdle(key);
    holders.unlock();
    g_holderLeft.notify_all();
}

} // namespace rk40
