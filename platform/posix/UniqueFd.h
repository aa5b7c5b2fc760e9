#pragma once

// The owner of one POSIX file descriptor: it closes the descriptor when it is
// destroyed, reset or assigned over. Move-only; a moved-from owner holds
// nothing and closes nothing, so no descriptor is closed twice.

#include <unistd.h>

#include <utility>

namespace posix {

class UniqueFd {
public:
    UniqueFd() noexcept = default;
    // Takes `fd` over; a negative value (a failed open) means nothing held.
    explicit UniqueFd(int fd) noexcept : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    // The descriptor, or -1 when nothing is held.
    int get() const noexcept { return m_fd; }
    explicit operator bool() const noexcept { return m_fd >= 0; }

    // Gives the descriptor up without closing it; returns it (or -1).
    [[nodiscard]] int release() noexcept { return std::exchange(m_fd, -1); }

    // Closes the descriptor held, if any, and takes `fd` over. Returns false
    // only when that close failed (the descriptor is gone all the same).
    bool reset(int fd = -1) noexcept
    {
        if (fd == m_fd)
            return true;
        const int old = std::exchange(m_fd, fd);
        return old < 0 || ::close(old) == 0;
    }

private:
    int m_fd = -1;
};

} // namespace posix
