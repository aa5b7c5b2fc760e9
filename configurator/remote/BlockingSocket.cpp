#include "remote/BlockingSocket.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace remote {

namespace {

constexpr int kMessageCapacity = 200;

int toMillis(int timeoutSeconds)
{
    return timeoutSeconds > 2'000'000 ? 2'000'000'000 : timeoutSeconds * 1000;
}

} // namespace

CBlockingSocketException::CBlockingSocketException(const char* operation)
    : m_operation(operation), m_errorCode(errno)
{
}

CBlockingSocketException::CBlockingSocketException(const char* operation, int errorCode)
    : m_operation(operation), m_errorCode(errorCode)
{
}

QString CBlockingSocketException::errorMessage() const
{
    char text[kMessageCapacity];
    if (m_errorCode != 0)
        std::snprintf(text, sizeof text, "SOCKET ERROR function '%s()' Error code: %d", m_operation, m_errorCode);
    else
        std::snprintf(text, sizeof text, "SOCKET ERROR %s error", m_operation);
    return QString::fromLatin1(text);
}

bool CBlockingSocketException::GetErrorMessage(char* buffer, unsigned size, unsigned* /*helpContext*/) const
{
    if (buffer == nullptr || size == 0)
        return true;
    const QByteArray text = errorMessage().toLatin1();
    const auto count = std::min<qsizetype>(text.size(), static_cast<qsizetype>(size) - 1);
    std::memcpy(buffer, text.constData(), static_cast<std::size_t>(count));
    buffer[count] = '\0';
    return true;
}

CancelSignal::CancelSignal() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CancelSignal::~CancelSignal()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void CancelSignal::cancel() noexcept
{
    // The flag first: a wait woken by the descriptor finds it set.
    m_flag.store(true);
    if (m_fd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_fd, &one, sizeof one);
    }
}

bool CancelSignal::cancelled() const noexcept { return m_flag.load(); }

void CancelSignal::reset() noexcept
{
    if (m_fd >= 0) {
        std::uint64_t value = 0;
        [[maybe_unused]] const ssize_t n = ::read(m_fd, &value, sizeof value);
    }
    m_flag.store(false);
}

CBlockingSocket::~CBlockingSocket()
{
    Close();
}

void CBlockingSocket::Create(int type)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        m_socket = kNoSocket;
        throw CBlockingSocketException(op::kCreate);
    }
    m_socket = fd;
}

void CBlockingSocket::Connect(const sockaddr_in& address, int timeoutSeconds)
{
    const auto* target = reinterpret_cast<const sockaddr*>(&address);
    if (timeoutSeconds <= 0 && m_cancel == nullptr) {
        int rc;
        do {
            rc = ::connect(m_socket, target, sizeof address);
        } while (rc < 0 && errno == EINTR);
        if (rc < 0)
            throw CBlockingSocketException(op::kConnect);
        return;
    }

    // Bounded connect: start it without blocking, wait for the outcome, then
    // put the socket back into blocking mode for the calls that follow.
    const int flags = ::fcntl(m_socket, F_GETFL, 0);
    if (flags < 0 || ::fcntl(m_socket, F_SETFL, flags | O_NONBLOCK) < 0)
        throw CBlockingSocketException(op::kConnect);
    int rc = ::connect(m_socket, target, sizeof address);
    if (rc < 0 && errno != EINPROGRESS && errno != EINTR)
        throw CBlockingSocketException(op::kConnect);
    if (rc < 0) {
        const int ready = wait(true, timeoutSeconds > 0 ? toMillis(timeoutSeconds) : -1);
        if (ready == 0)
            throw CBlockingSocketException(op::kConnect, ETIMEDOUT);
        if (ready < 0)
            throw CBlockingSocketException(op::kConnect);
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &error, &length) < 0)
            throw CBlockingSocketException(op::kConnect);
        if (error != 0)
            throw CBlockingSocketException(op::kConnect, error);
    }
    if (::fcntl(m_socket, F_SETFL, flags) < 0)
        throw CBlockingSocketException(op::kConnect);
}

int CBlockingSocket::wait(bool forWrite, int millis) const
{
    if (m_cancel && m_cancel->cancelled())
        throw CBlockingSocketException(op::kCancelled, ECANCELED);
    pollfd entries[2] = {{m_socket, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0},
                         {m_cancel ? m_cancel->handle() : -1, POLLIN, 0}};
    const int ready = ::poll(entries, 2, millis);
    if (entries[1].revents != 0 || (m_cancel && m_cancel->cancelled()))
        throw CBlockingSocketException(op::kCancelled, ECANCELED);
    return ready < 0 ? -1 : (entries[0].revents != 0 ? 1 : 0);
}

bool CBlockingSocket::waitReady(bool forWrite, int timeoutSeconds) const
{
    if (timeoutSeconds <= 0 && m_cancel == nullptr)
        return true;
    // The time-out exception reports the error number of its moment; clear
    // what an earlier call may have left so that an expiry carries 0.
    errno = 0;
    const int ready = wait(forWrite, timeoutSeconds > 0 ? toMillis(timeoutSeconds) : -1);
    if (ready == 0)
        errno = 0;
    return ready != 0;
}

bool CBlockingSocket::WaitReadable(std::chrono::milliseconds limit)
{
    const int millis = limit.count() < 0 ? -1 : static_cast<int>(std::min<qint64>(limit.count(), 2'000'000'000));
    const int ready = wait(false, millis);
    if (ready < 0)
        throw CBlockingSocketException(op::kReceive);
    return ready > 0;
}

int CBlockingSocket::Send(const char* data, int length, int timeoutSeconds)
{
    if (!waitReady(true, timeoutSeconds))
        throw CBlockingSocketException(op::kSendTimeout);
    // MSG_NOSIGNAL: a peer that has gone away is reported as an error, not
    // by a signal that would end the program.
    const ssize_t sent = ::send(m_socket, data, static_cast<std::size_t>(std::max(length, 0)), MSG_NOSIGNAL);
    if (sent < 0)
        throw CBlockingSocketException(op::kSend);
    return static_cast<int>(sent);
}

int CBlockingSocket::Receive(char* buffer, int capacity, int timeoutSeconds)
{
    if (!waitReady(false, timeoutSeconds))
        throw CBlockingSocketException(op::kReceiveTimeout);
    const ssize_t received = ::recv(m_socket, buffer, static_cast<std::size_t>(std::max(capacity, 0)), 0);
    if (received < 0)
        throw CBlockingSocketException(op::kReceive);
    return static_cast<int>(received);
}

void CBlockingSocket::Close() noexcept
{
    if (m_socket == kNoSocket)
        return;
    ::close(m_socket);
    m_socket = kNoSocket;
}

} // namespace remote
