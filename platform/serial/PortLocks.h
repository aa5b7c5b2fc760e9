#pragma once

// Who holds a serial device, found without opening it: the lock files of
// the serial tools ("LCK..ttyUSB0" in /run/lock or /var/lock, written by
// minicom, picocom, Qt's serial port class and by us) and the processes
// that have the device open (/proc/<pid>/fd).
//
// A lock file holds the owner's process id as text, first on its first line
// ("      1234\n", or "1234\nprogram\nhost\n"); a file whose process is gone
// is stale and removed when seen.
//
// RK40_LOCK_DIR names the one lock folder to use instead of the system's
// (tests, sandboxes).

#include <QString>
#include <QStringList>

#include <optional>

namespace serial {

struct LockHolder {
    qint64 pid = 0;
    QString program;  // may be empty when not known
    // "minicom (process 1234)".
    QString text() const;
};

// The lock folders looked at, most usual first; only existing ones.
QStringList lockFolders();
// "LCK..ttyUSB0" for /dev/ttyUSB0 and for a link pointing at it.
QString lockFileName(const QString& devicePath);

// The device file a path leads to through its links; the path itself when
// it leads nowhere.
QString canonicalDevicePath(const QString& path);

// The live lock on the device, if any. Stale lock files are removed.
std::optional<LockHolder> lockHolder(const QString& devicePath);

// The process holding an flock on the device node (/proc/locks), as two
// of our own programs do, whatever their user.
std::optional<LockHolder> flockHolder(const QString& devicePath);

// A process that has the device open, other than `exceptPid` (0: none
// excepted). Only the processes we may look into are seen.
std::optional<LockHolder> processHolding(const QString& devicePath, qint64 exceptPid = 0);

// Our own lock file for a device we hold: written when a lock folder is
// writable, removed on release (only while it still names us).
class PortLockFile {
public:
    PortLockFile() = default;
    ~PortLockFile() { release(); }
    PortLockFile(const PortLockFile&) = delete;
    PortLockFile& operator=(const PortLockFile&) = delete;
    PortLockFile(PortLockFile&& other) noexcept;
    PortLockFile& operator=(PortLockFile&& other) noexcept;

    // False when another live process holds the lock (*holder tells whom).
    // A folder we cannot write to is no failure: nothing is written.
    bool acquire(const QString& devicePath, LockHolder* holder);
    void release();
    QString path() const { return m_path; }

private:
    QString m_path; // empty: none written
};

} // namespace serial
