#pragma once

// The built rk40-collector run as a service for a test: started with "run"
// and its arguments, stopped (or killed) and started again, with what it
// logged; records and blocks as a simulated terminal sends them.

#include "TestEnvironment.h"

#include "rk40sim/Terminal.h"

#include <QProcess>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <memory>

constexpr int kLong = 90000;  // generous: two shared cores, sanitizers

inline QString program() { return testsupport::TestEnvironment::programFolder() + "/rk40-collector"; }

// Records of one terminal, also added to `sent` when it is given.
inline std::vector<std::string> records(int terminal, int first, int count, QStringList* sent = nullptr)
{
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        char r[32];
        std::snprintf(r, sizeof r, "07126%02d%02d%X%08d%d", (first + i) / 60 % 24, (first + i) % 60, i % 16,
                      first + i, terminal);
        out.emplace_back(r);
        if (sent)
            *sent << QString::fromLatin1(r);
    }
    return out;
}

// Sends a block as a terminal does, again while it goes unanswered. How
// many times it was sent until the ACK came; 0: never acknowledged.
inline int deliver(rk40sim::Terminal& t, const std::vector<std::string>& recs, int attempts = 5, char kind = 'S')
{
    const rk40sim::BlockOptions o{.kindByte = {}, .answerTimeout = std::chrono::milliseconds(2000)};
    for (int i = 1; i <= attempts; ++i) {
        t.sendOnlineBlock(kind, recs, o);
        if (!t.waitBlockDone(std::chrono::milliseconds(kLong)))
            return 0;
        if (t.lastBlockAnswer() == rk40sim::BlockAnswer::Ack)
            return i;
    }
    return 0;
}

class CollectorProcess {
public:
    // Forwarded channels: the log goes to the test's own output instead.
    CollectorProcess(const QStringList& args, QProcess::ProcessChannelMode channels = QProcess::SeparateChannels)
        : m_args(args), m_channels(channels)
    {
        start();
    }
    CollectorProcess(CollectorProcess&&) = default;
    ~CollectorProcess() { stop(); }
    void start()
    {
        m_p = std::make_unique<QProcess>();
        m_p->setProcessChannelMode(m_channels);
        m_p->start(program(), QStringList{"run"} + m_args);
        QVERIFY(m_p->waitForStarted(30000));
    }
    void kill()
    {
        ::kill(pid_t(m_p->processId()), SIGKILL);
        m_p->waitForFinished(30000);
        m_log += m_p->readAllStandardError();
    }
    int stop()
    {
        if (!m_p || m_p->state() == QProcess::NotRunning)
            return m_p ? m_p->exitCode() : -1;
        m_p->terminate();
        if (!m_p->waitForFinished(60000))
            m_p->kill();
        m_log += m_p->readAllStandardError();
        return m_p->exitStatus() == QProcess::NormalExit ? m_p->exitCode() : -1;
    }
    qint64 pid() const { return m_p->processId(); }
    bool running() const { return m_p->state() == QProcess::Running; }
    QString log()
    {
        if (m_p)
            m_log += m_p->readAllStandardError();
        return QString::fromLocal8Bit(m_log);
    }

private:
    QStringList m_args;
    QProcess::ProcessChannelMode m_channels;
    std::unique_ptr<QProcess> m_p;
    QByteArray m_log;
};
