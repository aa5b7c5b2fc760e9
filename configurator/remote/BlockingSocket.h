#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <exception>
#include <netinet/in.h>
#include <sys/socket.h>

// A thin synchronous layer over TCP sockets. Every failure of the platform
// calls, and every expired wait, is thrown as a CBlockingSocketException that
// names the failed operation and carries the error number of that moment.
namespace remote {

// Thrown by every CBlockingSocket operation that fails.
class CBlockingSocketException : public std::exception {
public:
    // Stores the operation name and the platform's current error number
    // (errno); 0 when the platform reports none.
    explicit CBlockingSocketException(const char* operation);
    // Stores the operation name and the given error number.
    CBlockingSocketException(const char* operation, int errorCode);

    static constexpr const char* kClassName = "CBlockingSocketException";
    const char* GetRuntimeClassName() const noexcept { return kClassName; }

    int errorCode() const noexcept { return m_errorCode; }
    const char* operation() const noexcept { return m_operation; }

    // The message shown to a person:
    //   "SOCKET ERROR function '<operation>()' Error code: <n>" when the
    //   error number is not 0, "SOCKET ERROR <operation> error" when it is.
    QString errorMessage() const;

    // Copies at most size - 1 characters of the message into buffer,
    // followed by a terminating zero; a size of 0 leaves buffer untouched.
    // helpContext, when given, is left alone. Returns true.
    bool GetErrorMessage(char* buffer, unsigned size, unsigned* helpContext = nullptr) const;

    const char* what() const noexcept override { return m_operation; }

private:
    const char* m_operation;
    int m_errorCode = 0;
};

// Operation names carried by the exception.
namespace op {
inline constexpr const char* kCreate = "Create";
inline constexpr const char* kConnect = "Connect";
inline constexpr const char* kSend = "Send";
inline constexpr const char* kSendTimeout = "Send timeout";
inline constexpr const char* kReceive = "Receive";
inline constexpr const char* kReceiveTimeout = "Receive timeout";
inline constexpr const char* kCancelled = "Cancelled";
} // namespace op

// A way to end the waits of a socket used by another thread: once cancel()
// has been called, every wait of a socket watching this object ends with
// "Cancelled" (ECANCELED). Safe to call from any thread, any number of times.
class CancelSignal {
public:
    CancelSignal();
    ~CancelSignal();
    CancelSignal(const CancelSignal&) = delete;
    CancelSignal& operator=(const CancelSignal&) = delete;

    void cancel() noexcept;
    bool cancelled() const noexcept;
    // Makes it uncancelled again, for the next request.
    void reset() noexcept;
    // Readable once cancelled; -1 when none could be made (then cancel()
    // still sets the flag, which the socket looks at between its waits).
    int handle() const noexcept { return m_fd; }

private:
    int m_fd = -1;
    std::atomic<bool> m_flag{false};
};

// One TCP socket, used by one thread for the length of one request. The
// owner calls Close when the request ends, on every path; the destructor
// closes a socket that is still open so that no descriptor outlives its
// object.
class CBlockingSocket {
public:
    static constexpr int kNoSocket = -1;
    static constexpr const char* kClassName = "CBlockingSocket";

    CBlockingSocket() = default;
    ~CBlockingSocket();
    CBlockingSocket(const CBlockingSocket&) = delete;
    CBlockingSocket& operator=(const CBlockingSocket&) = delete;

    const char* GetRuntimeClassName() const noexcept { return kClassName; }
    int handle() const noexcept { return m_socket; }

    // Opens an IPv4 socket of the given type (SOCK_STREAM) with the default
    // protocol. Throws "Create" and keeps no handle on failure.
    void Create(int type = SOCK_STREAM);

    // Connects to the address. With timeoutSeconds 0 the call blocks as long
    // as the platform lets it; otherwise the wait for the connection is
    // bounded and its expiry is thrown as "Connect" with ETIMEDOUT.
    void Connect(const sockaddr_in& address, int timeoutSeconds = 0);

    // Optionally waits (timeoutSeconds > 0) for the socket to become writable,
    // then makes one send call of the whole length. Returns the number of
    // bytes the call accepted. Throws "Send timeout" or "Send".
    int Send(const char* data, int length, int timeoutSeconds);

    // Optionally waits (timeoutSeconds > 0) for the socket to become readable,
    // then makes one receive call of at most capacity bytes. Returns the
    // number of bytes received, 0 when the peer has closed the connection.
    // Throws "Receive timeout" or "Receive".
    int Receive(char* buffer, int capacity, int timeoutSeconds);

    // Waits at most limit (a negative limit: without one) for something to
    // read, or for the peer's close. Returns false when the limit expired.
    // Throws "Receive" when the wait fails, "Cancelled" when cancelled.
    bool WaitReadable(std::chrono::milliseconds limit);

    // Every wait from now on also ends, with "Cancelled", when cancel is
    // cancelled; nullptr watches nothing. The object must outlive the
    // socket's use.
    void setCancelSignal(const CancelSignal* cancel) noexcept { m_cancel = cancel; }

    // Closes the socket if one is open. Safe in any state, never throws.
    void Close() noexcept;

private:
    // Waits until the socket is readable or writable. Returns false only when
    // the wait expired; a failing wait returns true so that the call that
    // follows reports its own failure. A cancelled wait throws.
    bool waitReady(bool forWrite, int timeoutSeconds) const;
    // 1 ready, 0 expired, -1 failed; throws when cancelled.
    int wait(bool forWrite, int millis) const;

    int m_socket = kNoSocket;
    const CancelSignal* m_cancel = nullptr;
};

} // namespace remote
