#include "platform/serial/SerialDevice.h"

#include "platform/serial/BaudRate.h"
#include "platform/serial/PortStatus.h"
#include "platform/resources/Resources.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace serial {

namespace {

bool speedFor(int baud, speed_t& out)
{
    switch (baud) {
    case 300: out = B300; return true;
    case 600: out = B600; return true;
    case 1200: out = B1200; return true;
    case 2400: out = B2400; return true;
    case 4800: out = B4800; return true;
    case 9600: out = B9600; return true;
    case 19200: out = B19200; return true;
    case 38400: out = B38400; return true;
    case 57600: out = B57600; return true;
    case 115200: out = B115200; return true;
    default: return false;
    }
}

// USB adapters hold received bytes back for up to 16 ms unless asked not to.
// Drivers without the setting (a pseudo-terminal) refuse; that is fine.
void requestLowLatency(int fd)
{
    serial_struct info{};
    if (ioctl(fd, TIOCGSERIAL, &info) != 0)
        return;
    info.flags |= static_cast<int>(ASYNC_LOW_LATENCY); // a bit of the kernel's signed flags field
    (void)ioctl(fd, TIOCSSERIAL, &info);
}

} // namespace

SerialDevice::~SerialDevice()
{
    close();
}

SerialDevice::SerialDevice(SerialDevice&& other) noexcept
    : m_fd(std::move(other.m_fd)), m_failed(other.m_failed.load()), m_removed(other.m_removed.load()), m_baud(other.m_baud),
      m_path(std::move(other.m_path)), m_status(std::move(other.m_status)), m_lockFile(std::move(other.m_lockFile))
{
}

SerialDevice& SerialDevice::operator=(SerialDevice&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::move(other.m_fd);
        m_failed = other.m_failed.load();
        m_removed = other.m_removed.load();
        m_baud = other.m_baud;
        m_path = std::move(other.m_path);
        m_status = std::move(other.m_status);
        m_lockFile = std::move(other.m_lockFile);
    }
    return *this;
}

OpenResult SerialDevice::open(const QString& path, int baud)
{
    close();
    m_failed = false;
    m_removed = false;
    m_status = {};
    posix::UniqueFd fd;
    auto fail = [&](OpenResult result, PortProblem problem, const QString& reason) {
        fd.reset();
        m_status = {problem, reason};
        m_lockFile.release();
        return result;
    };
    // A rate without a B constant is set by number once the rest is set.
    speed_t speed = B9600;
    const bool listed = speedFor(baud, speed);
    if (!listed && baud <= 0)
        return fail(OpenResult::SettingsRefused, PortProblem::Other,
                    resources::loadString(reason::kBaudNotOffered).arg(baud));

    // The serial tools' lock file first: a program that keeps to it (minicom,
    // picocom, Qt's serial port class) may not have the device open at all
    // between its accesses.
    LockHolder holder;
    if (!m_lockFile.acquire(path, &holder))
        return fail(OpenResult::CannotOpen, PortProblem::Busy, busyReason(path, holder.text()));

    const QByteArray native = path.toLocal8Bit();
    fd.reset(::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        const int error = errno;
        switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return fail(OpenResult::CannotOpen, PortProblem::Missing, missingReason(path));
        case EACCES:
        case EPERM:
            return fail(OpenResult::CannotOpen, PortProblem::NoPermission, permissionReason(path));
        case EBUSY:
            m_lockFile.release(); // not to be named as the holder
            return fail(OpenResult::CannotOpen, PortProblem::Busy, busyReason(path, describeHolder(path)));
        default:
            return fail(OpenResult::CannotOpen, PortProblem::Other,
                        resources::loadString(reason::kCannotOpen)
                            .arg(path, QString::fromLocal8Bit(std::strerror(error))));
        }
    }
    // TIOCEXCL keeps other programs out, but root ignores it; the flock is
    // what two of our own processes (root or not) contend for.
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        fd.reset();
        m_lockFile.release(); // not to be named as the holder
        return fail(OpenResult::CannotOpen, PortProblem::Busy, busyReason(path, describeHolder(path)));
    }

    termios tio{};
    if (tcgetattr(fd.get(), &tio) != 0) {
        const bool notSerial = errno == ENOTTY || errno == EINVAL;
        if (notSerial)
            return fail(OpenResult::CannotOpen, PortProblem::NotSerial, notSerialReason(path));
        return fail(OpenResult::CannotReadSettings, PortProblem::Other,
                    resources::loadString(reason::kSettingsUnreadable).arg(path));
    }
    (void)ioctl(fd.get(), TIOCEXCL);
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0 || tcsetattr(fd.get(), TCSANOW, &tio) != 0
        || (!listed && !setBaudRateByNumber(fd.get(), baud))) {
        return fail(OpenResult::SettingsRefused, PortProblem::Other,
                    resources::loadString(reason::kSettingsRefused).arg(path, QString::number(baud)));
    }
    requestLowLatency(fd.get());
    m_fd = std::move(fd);
    m_baud = baud;
    m_path = path;
    return OpenResult::Ok;
}

bool SerialDevice::close()
{
    if (!m_fd)
        return true;
    (void)ioctl(m_fd.get(), TIOCNXCL);
    (void)flock(m_fd.get(), LOCK_UN);
    const bool closed = m_fd.reset();
    m_lockFile.release();
    return closed;
}

void SerialDevice::markRemoved()
{
    m_status = {PortProblem::Removed, removedReason()};
    m_removed = true;
    m_failed = true;
}

bool SerialDevice::waitReadable(std::chrono::milliseconds timeout) const
{
    if (!m_fd || m_failed)
        return true;
    pollfd p{m_fd.get(), POLLIN, 0};
    int n;
    do {
        n = ::poll(&p, 1, static_cast<int>(timeout.count()));
    } while (n < 0 && errno == EINTR);
    return n != 0;
}

int SerialDevice::readByte(std::chrono::milliseconds timeout)
{
    if (!m_fd || m_failed)
        return -1;
    pollfd p{m_fd.get(), POLLIN, 0};
    const int ms = static_cast<int>(timeout.count());
    int n;
    do {
        n = ::poll(&p, 1, ms);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        return -1;
    if (p.revents & POLLIN) {
        std::uint8_t byte = 0;
        const ssize_t got = ::read(m_fd.get(), &byte, 1);
        if (got == 1)
            return byte;
        // Nothing to read although poll said there was: a terminal that
        // hung up reads as end of file (a pseudo-terminal whose other side
        // closed, an unplugged adapter), or fails with EIO.
        if (got == 0 || (got < 0 && (errno == EIO || errno == ENXIO || errno == ENODEV)))
            markRemoved();
        else if (got < 0 && errno != EAGAIN && errno != EINTR)
            m_failed = true;
        return -1;
    }
    if (p.revents & POLLHUP)
        markRemoved();
    else if (p.revents & (POLLERR | POLLNVAL))
        m_failed = true;
    return -1;
}

std::size_t SerialDevice::write(const std::uint8_t* data, std::size_t size)
{
    if (!m_fd || m_failed)
        return 0;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(m_fd.get(), data + done, size - done);
        if (n > 0) {
            done += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{m_fd.get(), POLLOUT, 0};
            if (::poll(&p, 1, 1000) > 0 && !(p.revents & (POLLHUP | POLLERR | POLLNVAL)))
                continue;
            if (p.revents & POLLHUP) {
                markRemoved();
                break;
            }
        }
        if (n < 0 && (errno == EIO || errno == ENXIO || errno == ENODEV))
            markRemoved();
        else
            m_failed = true;
        break;
    }
    return done;
}

} // namespace serial
