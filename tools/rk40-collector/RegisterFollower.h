#pragma once

// Follows the register file through renames, replacements and shortening.
// A file is known by its device, inode and a fingerprint of its first bytes,
// so the store can tell the file it has read up to an offset from a file
// that merely has the same name. The follower keeps the file it reads open:
// a file renamed away while the controls still append to it is read to its
// end before the file now at the path is taken from its start.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace collector {

// How many first bytes of a register file make its fingerprint.
inline constexpr std::int64_t kFingerprintBytes = 256;

struct RegisterIdentity {
    std::int64_t device = -1;
    std::int64_t inode = -1;
    std::int64_t headLength = 0;   // bytes the fingerprint covers (up to kFingerprintBytes)
    QByteArray headHash;           // SHA-256 of those bytes
    bool sameInode(const RegisterIdentity& o) const { return device == o.device && inode == o.inode; }
};

// What the store has taken: the file and the offset it has read up to.
struct RegisterPosition {
    RegisterIdentity file;
    std::int64_t offset = 0;
};

// One stretch of a file to read.
struct RegisterSpan {
    int fd = -1;                   // owned by the follower
    RegisterIdentity file;
    std::int64_t from = 0;
    std::int64_t end = 0;          // the file's length when looked at, under its lock
    // Set when `file` is no longer at the path and its end is final: once
    // read to `end`, the store goes on with this file from its start.
    std::optional<RegisterIdentity> next;
};

class RegisterFollower {
public:
    explicit RegisterFollower(QString path);
    ~RegisterFollower();
    RegisterFollower(const RegisterFollower&) = delete;
    RegisterFollower& operator=(const RegisterFollower&) = delete;

    const QString& path() const { return m_path; }

    // The next stretch to read, given what the store has committed for this
    // path (nothing yet: none). Nothing to read: none. What it found out
    // (rotation, replacement, shortening) is added to `notes` for the log.
    std::optional<RegisterSpan> plan(const std::optional<RegisterPosition>& stored, QStringList* notes);

    // While writers are active, a file renamed away is finished only after
    // releaseOld(): until then the controls may still append to it.
    void setWritersActive(bool active) { m_writersActive = active; }
    // The file being read is no longer the one at the path.
    bool rotationPending() const { return m_rotationPending; }
    // Nobody writes to the file that was renamed away any more.
    void releaseOld() { m_oldReleased = true; }

    // The identity of the open file `fd` (fingerprint of its first bytes).
    static std::optional<RegisterIdentity> identify(int fd);

private:
    bool adopt(const std::optional<RegisterPosition>& stored, QStringList* notes, std::int64_t* from);
    int findByInode(const RegisterIdentity& file) const;

    QString m_path;
    int m_fd = -1;                 // the file whose records are being taken
    bool m_writersActive = false;
    bool m_oldReleased = false;
    bool m_rotationPending = false;
};

} // namespace collector
