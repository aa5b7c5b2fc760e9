#include "RegisterFollower.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace collector {

namespace {

int openForReading(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// The file's length while no control appends to it: the register file lock
// is held for the whole of an append, so a block is either all in or not.
std::int64_t lengthUnderLock(int fd)
{
    while (::flock(fd, LOCK_SH) != 0 && errno == EINTR) {}
    struct stat st {};
    const std::int64_t size = ::fstat(fd, &st) == 0 ? std::int64_t(st.st_size) : 0;
    ::flock(fd, LOCK_UN);
    return size;
}

QByteArray headHash(int fd, std::int64_t length)
{
    QByteArray head(qsizetype(length), '\0');
    qsizetype got = 0;
    while (got < head.size()) {
        const ssize_t n = ::pread(fd, head.data() + got, std::size_t(head.size() - got), off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        got += n;
    }
    return QCryptographicHash::hash(head, QCryptographicHash::Sha256);
}

// Whether the file begins with the bytes the fingerprint was taken of;
// none when it is now shorter than they were.
std::optional<bool> beginsAs(int fd, const RegisterIdentity& known)
{
    if (known.headLength == 0)
        return true;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < known.headLength)
        return std::nullopt;
    return headHash(fd, known.headLength) == known.headHash;
}

std::int64_t sizeOf(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? std::int64_t(st.st_size) : 0;
}

} // namespace

RegisterFollower::RegisterFollower(QString path) : m_path(std::move(path)) {}

RegisterFollower::~RegisterFollower()
{
    closeFd(m_fd);
}

std::optional<RegisterIdentity> RegisterFollower::identify(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    RegisterIdentity id;
    id.device = std::int64_t(st.st_dev);
    id.inode = std::int64_t(st.st_ino);
    id.headLength = std::min<std::int64_t>(st.st_size, kFingerprintBytes);
    id.headHash = headHash(fd, id.headLength);
    return id;
}

int RegisterFollower::findByInode(const RegisterIdentity& file) const
{
    const QFileInfo self(m_path);
    const auto entries = QDir(self.absolutePath()).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& e : entries) {
        struct stat st {};
        if (::lstat(QFile::encodeName(e.absoluteFilePath()).constData(), &st) != 0 || !S_ISREG(st.st_mode)
            || std::int64_t(st.st_dev) != file.device || std::int64_t(st.st_ino) != file.inode)
            continue;
        return openForReading(e.absoluteFilePath());
    }
    return -1;
}

bool RegisterFollower::adopt(const std::optional<RegisterPosition>& stored, QStringList* notes, std::int64_t* from)
{
    // Where a file known by its inode goes on: at the offset, or at its end
    // when it has become shorter (its end was lost, say in a power cut: what
    // is left was taken already), or at its start when its first bytes
    // are no longer those that were read (written anew in place).
    auto resume = [&](int fd) {
        const std::optional<bool> same = beginsAs(fd, stored->file);
        const std::int64_t size = sizeOf(fd);
        if (same == false) {
            *notes << QString("%1 was written anew (its first bytes changed); reading it from its start").arg(m_path);
            *from = 0;
        } else if (size < stored->offset) {
            *notes << QString("%1 is shorter (%2 bytes) than the %3 bytes already stored: its end was lost; "
                              "going on from its end, nothing is read twice")
                          .arg(m_path).arg(size).arg(stored->offset);
            *from = size;
        } else {
            *from = stored->offset;
        }
    };

    if (!stored) {
        if (m_fd < 0)
            m_fd = openForReading(m_path);
        *from = 0;
        return m_fd >= 0;
    }
    if (m_fd >= 0) {
        const auto id = identify(m_fd);
        if (id && id->sameInode(stored->file)) {
            resume(m_fd);
            return true;
        }
        closeFd(m_fd);
    }

    int atPath = openForReading(m_path);
    if (atPath >= 0 && stored->file.device < 0) {
        // Stored by a collector that knew the path alone: it is that file.
        m_fd = atPath;
        resume(m_fd);
        return true;
    }
    if (atPath >= 0) {
        const auto id = identify(atPath);
        if (id && id->sameInode(stored->file)) {
            m_fd = atPath;
            resume(m_fd);
            return true;
        }
        if (stored->file.headLength > 0 && beginsAs(atPath, stored->file) == true) {
            *notes << QString("%1 is another file with the same first bytes (a copy put back); going on at byte %2")
                          .arg(m_path).arg(stored->offset);
            m_fd = atPath;
            *from = std::min(stored->offset, sizeOf(m_fd));
            return true;
        }
    }
    // The file read so far may have been renamed in its folder (rotated
    // while the collector was not running): its rest comes first.
    int old = findByInode(stored->file);
    if (old >= 0 && beginsAs(old, stored->file) != false) {
        *notes << QString("%1 was rotated: the file read up to byte %2 is finished first, then the new one is "
                          "read from its start").arg(m_path).arg(stored->offset);
        closeFd(atPath);
        m_fd = old;
        *from = std::min(stored->offset, sizeOf(m_fd));
        return true;
    }
    closeFd(old);
    if (atPath < 0)
        return false;
    *notes << QString("%1 is a new file (the one read up to byte %2 is gone); reading it from its start")
                  .arg(m_path).arg(stored->offset);
    m_fd = atPath;
    *from = 0;
    return true;
}

std::optional<RegisterSpan> RegisterFollower::plan(const std::optional<RegisterPosition>& stored, QStringList* notes)
{
    std::int64_t from = 0;
    if (!adopt(stored, notes, &from))
        return std::nullopt;
    RegisterSpan span;
    span.fd = m_fd;
    span.end = lengthUnderLock(m_fd);
    const auto id = identify(m_fd);
    if (!id)
        return std::nullopt;
    span.file = *id;
    span.from = std::min(from, span.end);

    struct stat st {};
    const bool atPath = ::stat(QFile::encodeName(m_path).constData(), &st) == 0
                        && std::int64_t(st.st_dev) == id->device && std::int64_t(st.st_ino) == id->inode;
    if (atPath) {
        m_rotationPending = false;
        m_oldReleased = false;
        return span;
    }
    if (!m_rotationPending) {
        m_rotationPending = true;
        *notes << QString("%1 was renamed or replaced; the old file is read to its end before the new one is taken")
                      .arg(m_path);
    }
    if (m_writersActive && !m_oldReleased)
        return span;
    int next = openForReading(m_path);
    if (next >= 0) {
        span.next = identify(next);
        closeFd(next);
    }
    return span;
}

} // namespace collector
