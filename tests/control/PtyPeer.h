#pragma once

// The far end of a pseudo-terminal, driven by a script: wait for so many
// bytes from the PC, send bytes, pause. Everything the PC sends is kept,
// so tests can compare it byte for byte. Used for exchanges whose faults
// must be placed exactly (an answer that stops after three bytes, a result
// character that never comes).

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace testsupport {

class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool isValid() const { return m_master >= 0; }
    // The device path the control opens.
    QString slavePath() const { return m_slavePath; }

    // Script steps, run in order by the peer's thread.
    PtyPeer& expect(int count);           // wait until `count` more bytes came from the PC
    PtyPeer& send(const QByteArray& bytes);
    PtyPeer& pause(std::chrono::milliseconds time);
    // Sends at once, outside the script.
    void sendNow(const QByteArray& bytes);

    // Waits until the PC has sent at least `count` bytes in all.
    bool waitReceived(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10));

    QByteArray received() const;
    void clearReceived();

    // Closes the master side: the PC's device sees a hang-up.
    void hangUp();

private:
    struct Step {
        enum Kind { Expect, Send, Pause } kind;
        int count = 0;
        QByteArray bytes;
        std::chrono::milliseconds time{0};
    };
    void run();

    int m_master = -1;
    QString m_slavePath;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QByteArray m_received;
    int m_consumed = 0; // received bytes matched by expect steps
    std::deque<Step> m_steps;
    bool m_stepRunning = false;
    std::chrono::steady_clock::time_point m_pauseUntil{};
};

} // namespace testsupport
