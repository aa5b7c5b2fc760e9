#pragma once

// The register file: the text file on-line blocks are appended to, and the
// machine-wide lock "REGFILE" that keeps appends of several controls (in
// this and other processes) from interleaving.
//
// The lock is an flock on the register file itself, so it is exactly as
// wide as the file: every program appending to that file, whatever path it
// opened it by, takes the same lock, and nothing is created elsewhere. The
// kernel releases it when a holder dies.
//
// Within a process the lock is re-entrant for the thread that holds it: a
// control that appends while another control of the same thread holds the
// lock (a container handling RxRegs in a nested event loop) goes on instead
// of waiting for itself. Other threads of the process wait for the holder
// like other processes do.

#include <QString>

#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace rk40 {

class RegisterFile {
public:
    RegisterFile() = default;
    ~RegisterFile();
    RegisterFile(const RegisterFile&) = delete;
    RegisterFile& operator=(const RegisterFile&) = delete;

    // Opens (creates, mode 0600) the file for appending. A symbolic link, a
    // FIFO, a device or anything else but a regular file is refused without
    // being followed, opened for long or waited on. False with the reason
    // in `error`.
    bool open(const QString& path, QString* error);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    QString path() const { return m_path; }

    // Appends `bytes` with one write at the file's end. A write that fails
    // or is short is taken back: the file is cut to its length before the
    // write, so that no part of it stays to be read as a record. The caller
    // holds the lock. False with the reason in `error`.
    bool append(std::string_view bytes, QString* error);

    // Takes the lock, waiting as long as another holder keeps it. False
    // (with the reason in `error`) only when the wait itself failed.
    bool lock(QString* error);
    void unlock();

private:
    int m_fd = -1;
    QString m_path;
    // The file (device, inode) each open lock() call of this object holds,
    // innermost last: it stays known when the file is closed or another
    // one opened while the lock is held.
    std::vector<std::pair<dev_t, ino_t>> m_lockKeys;
};

// Holds a register file's lock for the guard's lifetime.
class RegisterFileLockGuard {
public:
    explicit RegisterFileLockGuard(RegisterFile& file) : m_file(file) { m_locked = file.lock(&m_error); }
    ~RegisterFileLockGuard()
    {
        if (m_locked)
            m_file.unlock();
    }
    RegisterFileLockGuard(const RegisterFileLockGuard&) = delete;
    RegisterFileLockGuard& operator=(const RegisterFileLockGuard&) = delete;

    bool locked() const { return m_locked; }
    QString error() const { return m_error; }

private:
    RegisterFile& m_file;
    bool m_locked = false;
    QString m_error;
};

} // namespace rk40
