#pragma once

// The machine-wide lock "REGFILE" that serialises appends to register files
// across every control instance, in this and other processes: an flock on a
// lock file named REGFILE in the user's runtime folder ($XDG_RUNTIME_DIR,
// /tmp without one). The kernel releases it when a holder dies.

#include <QString>

#include <chrono>

namespace rk40 {

class RegisterFileLock {
public:
    static QString lockFilePath();

    // Opens (creates) the lock file; the lock itself is not taken.
    RegisterFileLock();
    ~RegisterFileLock();
    RegisterFileLock(const RegisterFileLock&) = delete;
    RegisterFileLock& operator=(const RegisterFileLock&) = delete;

    bool isValid() const { return m_fd >= 0; }
    // Takes the lock, waiting up to `timeout`. False when it could not be
    // had in time or the lock file could not be opened.
    bool lock(std::chrono::milliseconds timeout);
    void unlock();

private:
    int m_fd = -1;
    bool m_locked = false;
};

} // namespace rk40
