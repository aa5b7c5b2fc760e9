#pragma once

// A serial device opened exclusively, 8N1, no flow control, with reads of
// one byte at a time under a millisecond time-out. Move-only: it owns the
// file descriptor, the lock on it and its lock file.

#include "platform/serial/PortLocks.h"
#include "platform/serial/PortStatus.h"
#include "platform/posix/UniqueFd.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace serial {

enum class OpenResult {
    Ok = 0,
    CannotOpen = -1,         // missing, no permission, or held by another program
    CannotReadSettings = -2,
    SettingsRefused = -3,    // e.g. a baud rate the driver does not offer
};

class SerialDevice {
public:
    SerialDevice() = default;
    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;
    SerialDevice(SerialDevice&& other) noexcept;
    SerialDevice& operator=(SerialDevice&& other) noexcept;

    // Opens the device for exclusive use: a live lock file of another
    // program keeps us out, TIOCEXCL keeps other openers out and an flock
    // holds for root too; while open, our own lock file names us. On
    // failure status() says why in words. Sets the baud rate, 8 data bits, no
    // parity, one stop bit, no hardware or software flow control, raw mode,
    // and asks for the driver's low-latency mode where it has one.
    OpenResult open(const QString& path, int baud);
    // Closes the device; safe when not open. Returns false when close failed.
    bool close();
    bool isOpen() const { return bool(m_fd); }
    QString path() const { return m_path; }
    int baud() const { return m_baud; }
    // Why the last open failed, or that the device went away since.
    const PortStatus& status() const { return m_status; }

    // One read attempt: the next byte, or -1 when none arrived within the
    // time-out (or the device reported an error or hang-up).
    int readByte(std::chrono::milliseconds timeout);
    // Waits up to `timeout` for input without taking it. True when a byte is
    // waiting, or when the device has failed or gone (a read then says so at
    // once); false after the time-out.
    bool waitReadable(std::chrono::milliseconds timeout) const;

    // Writes all bytes (waiting while the driver's queue is full); returns
    // the number written, less than size when the device failed.
    std::size_t write(const std::uint8_t* data, std::size_t size);

    // Whether the device hung up or failed (e.g. a pseudo-terminal whose
    // other side closed). Cleared by open().
    bool failed() const { return m_failed.load(); }
    // Whether it went away: a read or write gave EIO, ENXIO or ENODEV, or
    // poll reported a hang-up. Implies failed(). Cleared by open().
    // Both are safe to ask from another thread than the one reading.
    bool removed() const { return m_removed.load(); }

private:
    void markRemoved();

    posix::UniqueFd m_fd;
    std::atomic<bool> m_failed{false};
    std::atomic<bool> m_removed{false};
    int m_baud = 0;
    QString m_path;
    PortStatus m_status;
    PortLockFile m_lockFile;
};

} // namespace serial
