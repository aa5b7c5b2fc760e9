#include "PtyPeer.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

PtyPeer::PtyPeer()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    char name[128] = {};
    if (m_master >= 0 && (grantpt(m_master) != 0 || unlockpt(m_master) != 0 || ptsname_r(m_master, name, sizeof name) != 0)) {
        ::close(m_master);
        m_master = -1;
    }
    if (m_master < 0)
        return;
    m_slavePath = QString::fromLocal8Bit(name);
    // Raw on our side too, so that nothing is echoed or translated before
    // the PC opens the device and sets it up.
    termios tio{};
    if (tcgetattr(m_master, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(m_master, TCSANOW, &tio);
    }
    m_thread = std::thread([this] { run(); });
}

PtyPeer::~PtyPeer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_master >= 0)
        ::close(m_master);
}

PtyPeer& PtyPeer::expect(int count)
{
    std::lock_guard lock(m_mutex);
    m_steps.push_back({Step::Expect, count, {}, {}});
    return *this;
}

PtyPeer& PtyPeer::send(const QByteArray& bytes)
{
    std::lock_guard lock(m_mutex);
    m_steps.push_back({Step::Send, 0, bytes, {}});
    return *this;
}

PtyPeer& PtyPeer::pause(std::chrono::milliseconds time)
{
    std::lock_guard lock(m_mutex);
    m_steps.push_back({Step::Pause, 0, {}, time});
    return *this;
}

void PtyPeer::sendNow(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size() && m_master >= 0) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 10);
        } else {
            return;
        }
    }
}

bool PtyPeer::waitReceived(int count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_received.size() >= count; });
}

QByteArray PtyPeer::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

void PtyPeer::clearReceived()
{
    std::lock_guard lock(m_mutex);
    m_received.clear();
    m_consumed = 0;
}

void PtyPeer::hangUp()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

void PtyPeer::run()
{
    while (!m_stop) {
        pollfd p{m_master, POLLIN, 0};
        const int n = ::poll(&p, 1, 2);
        if (n > 0 && (p.revents & POLLIN)) {
            char buf[256];
            const ssize_t got = ::read(m_master, buf, sizeof buf);
            if (got > 0) {
                std::lock_guard lock(m_mutex);
                m_received.append(buf, got);
                m_changed.notify_all();
            }
        } else if (n > 0) {
            // No one has the other side open yet: nothing to read.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }

        // Run the steps that can run now.
        for (;;) {
            std::unique_lock lock(m_mutex);
            if (m_steps.empty())
                break;
            Step& step = m_steps.front();
            if (step.kind == Step::Expect) {
                if (m_received.size() < m_consumed + step.count)
                    break;
                m_consumed += step.count;
            } else if (step.kind == Step::Pause) {
                const auto now = std::chrono::steady_clock::now();
                if (!m_stepRunning) {
                    m_stepRunning = true;
                    m_pauseUntil = now + step.time;
                }
                if (now < m_pauseUntil)
                    break;
                m_stepRunning = false;
            } else {
                const QByteArray bytes = step.bytes;
                m_stepRunning = true;
                m_steps.pop_front();
                lock.unlock();
                sendNow(bytes);
                lock.lock();
                m_stepRunning = false;
                m_changed.notify_all();
                continue;
            }
            m_steps.pop_front();
            m_changed.notify_all();
        }
    }
}

} // namespace testsupport
