#pragma once

// The built rk40-collector run as a service for a test: started with "run"
// and its arguments, stopped (or killed) and started again, with what it
// logged.

#include "TestEnvironment.h"

#include <QProcess>
#include <QTest>

#include <csignal>
#include <memory>

constexpr int kLong = 90000;  // generous: two shared cores, sanitizers

inline QString program() { return testsupport::TestEnvironment::programFolder() + "/rk40-collector"; }

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
