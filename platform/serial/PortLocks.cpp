#include "platform/serial/PortLocks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace serial {

namespace {

QString programOf(qint64 pid)
{
    // The program's file name from its command line; the kernel's name
    // (cut at 15 characters) when that cannot be read.
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (cmdline.open(QIODevice::ReadOnly)) {
        const QByteArray first = cmdline.read(4096).split('\0').value(0);
        if (!first.isEmpty())
            return QFileInfo(QString::fromLocal8Bit(first)).fileName();
    }
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readLine(64)).trimmed();
}

bool alive(qint64 pid)
{
    if (pid <= 0)
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// The owner named by a lock file; nothing when the file is unreadable or
// names no process.
std::optional<LockHolder> readLock(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> lines = file.read(512).split('\n');
    const QList<QByteArray> first = lines.value(0).simplified().split(' ');
    bool ok = false;
    LockHolder holder;
    holder.pid = first.value(0).toLongLong(&ok);
    if (!ok || holder.pid <= 0)
        return std::nullopt;
    // minicom writes "pid program user" on one line, Qt "pid\nprogram\nhost".
    holder.program = QString::fromLocal8Bit(first.size() > 1 ? first.value(1) : lines.value(1).trimmed());
    return holder;
}

} // namespace

QString canonicalDevicePath(const QString& path)
{
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? path : c;
}

QString LockHolder::text() const
{
    const QString name = program.isEmpty() ? programOf(pid) : program;
    if (name.isEmpty())
        return QStringLiteral("process %1").arg(pid);
    return QStringLiteral("%1 (process %2)").arg(name).arg(pid);
}

QStringList lockFolders()
{
    const QString own = qEnvironmentVariable("RK40_LOCK_DIR");
    if (!own.isEmpty())
        return {own};
    QStringList folders;
    QStringList seen;
    for (const QString& candidate : {QStringLiteral("/run/lock"), QStringLiteral("/var/lock")}) {
        const QString real = QFileInfo(candidate).canonicalFilePath();
        if (real.isEmpty() || seen.contains(real))
            continue;
        seen << real;
        folders << candidate;
    }
    return folders;
}

QString lockFileName(const QString& devicePath)
{
    return QStringLiteral("LCK..") + QFileInfo(canonicalDevicePath(devicePath)).fileName();
}

std::optional<LockHolder> lockHolder(const QString& devicePath)
{
    const QString name = lockFileName(devicePath);
    for (const QString& folder : lockFolders()) {
        const QString path = QDir(folder).filePath(name);
        const std::optional<LockHolder> holder = readLock(path);
        if (!holder)
            continue;
        if (alive(holder->pid))
            return holder;
        // The owner is gone without cleaning up: the device is free.
        (void)QFile::remove(path);
    }
    return std::nullopt;
}

std::optional<LockHolder> flockHolder(const QString& devicePath)
{
    struct stat node {};
    const QByteArray native = devicePath.toLocal8Bit();
    if (::stat(native.constData(), &node) != 0)
        return std::nullopt;
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF": the node's device
    // (major:minor in hexadecimal) and inode.
    const QByteArray key = QByteArray::number(major(node.st_dev), 16).rightJustified(2, '0') + ':'
                           + QByteArray::number(minor(node.st_dev), 16).rightJustified(2, '0') + ':'
                           + QByteArray::number(static_cast<qulonglong>(node.st_ino));
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return std::nullopt;
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 6 || f.value(1) != "FLOCK" || f.value(5) != key)
            continue;
        bool ok = false;
        const qint64 pid = f.value(4).toLongLong(&ok);
        if (ok && pid > 0)
            return LockHolder{pid, programOf(pid)};
    }
    return std::nullopt;
}

std::optional<LockHolder> processHolding(const QString& devicePath, qint64 exceptPid)
{
    const QByteArray target = canonicalDevicePath(devicePath).toLocal8Bit();
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : pids) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok || pid == exceptPid)
            continue;
        const QString fdFolder = QStringLiteral("/proc/%1/fd").arg(pid);
        const QStringList fds = QDir(fdFolder).entryList(QDir::System | QDir::NoDotAndDotDot);
        for (const QString& fd : fds) {
            char link[512];
            const QByteArray native = (fdFolder + QLatin1Char('/') + fd).toLocal8Bit();
            const ssize_t n = ::readlink(native.constData(), link, sizeof link);
            if (n > 0 && QByteArray(link, static_cast<qsizetype>(n)) == target)
                return LockHolder{pid, programOf(pid)};
        }
    }
    return std::nullopt;
}

PortLockFile::PortLockFile(PortLockFile&& other) noexcept : m_path(std::exchange(other.m_path, QString())) {}

PortLockFile& PortLockFile::operator=(PortLockFile&& other) noexcept
{
    if (this != &other) {
        release();
        m_path = std::exchange(other.m_path, QString());
    }
    return *this;
}

bool PortLockFile::acquire(const QString& devicePath, LockHolder* holder)
{
    release();
    const QString name = lockFileName(devicePath);
    // Twice: a lock file that appears between the look and the write is
    // looked at again. One that names no process (not ours to judge) is
    // left alone; the exclusive open still keeps others out.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (const std::optional<LockHolder> live = lockHolder(devicePath)) {
            if (holder)
                *holder = *live;
            return false;
        }
        bool raced = false;
        for (const QString& folder : lockFolders()) {
            const QByteArray dir = folder.toLocal8Bit();
            if (::access(dir.constData(), W_OK) != 0)
                continue;
            const QString path = QDir(folder).filePath(name);
            const QByteArray native = path.toLocal8Bit();
            const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (fd < 0) {
                raced = errno == EEXIST;
                break;
            }
            char host[256] = {};
            (void)::gethostname(host, sizeof host - 1);
            const QByteArray text = QByteArray::number(static_cast<qint64>(::getpid())).rightJustified(10, ' ') + '\n'
                                    + programOf(::getpid()).toLocal8Bit() + '\n' + QByteArray(host) + '\n';
            const bool written = ::write(fd, text.constData(), static_cast<size_t>(text.size())) == text.size();
            ::close(fd);
            if (written)
                m_path = path;
            else
                (void)::unlink(native.constData());
            break;
        }
        if (!raced)
            return true;
    }
    return true;
}

void PortLockFile::release()
{
    if (m_path.isEmpty())
        return;
    const QString path = std::exchange(m_path, QString());
    const std::optional<LockHolder> owner = readLock(path);
    if (owner && owner->pid == ::getpid())
        (void)QFile::remove(path);
}

} // namespace serial
