#pragma once

// One terminal port on a thread of its own: the control is created, opened,
// asked for its status, retried and closed on this thread alone, so a block
// is answered at once whatever the other ports, the store or the broker do.
// The control appends each block to the register file; the port notes where
// the block ended (for the store thread) and wakes the store. While the
// register file or the store cannot be written, or free space is short, the
// port takes no blocks (the terminal keeps them) and says why.

#include "Collector.h"

#include "Dispatch.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

namespace collector {

class BlockLedger;

struct PortSettings {
    PortSpec spec;
    int com = 0;                  // COM number given to the control
    QString registerFile;
    QString storeFile;
    QString progId;
    std::int64_t minFreeBytes = 0;
    bool syncClock = false;       // set the terminal's clock when the port comes up
};

class PortWorker : public QObject, public component::IEventSink {
    Q_OBJECT
public:
    PortWorker(PortSettings settings, BlockLedger& ledger, std::function<void()> wakeStore);
    ~PortWorker() override;

    void onEvent(int, const QString& name, const QVariantList& args) override;

public slots:
    // Creates the control (on this thread) and opens the port. False with
    // `error` set when the control cannot be created at all.
    bool start(QString* error);
    void stop();
    // The controls switch to the file now at the register file's path.
    void reopen(quint64 generation);
    // Empty: the store can be written again.
    void setStoreProblem(const QString& reason);
    void syncClock();

signals:
    void reopened(quint64 generation);

private:
    void tryOpen();
    void checkPort();
    void portFailed(const QString& why);
    void openWatch();
    void onBlock(int records);
    void updateAccepting();
    QString spaceProblem() const;
    bool probeWrite() const;
    QVariant call(const char* name, const QVariantList& args = {});
    void put(const char* name, const QVariant& value);

    PortSettings m_settings;
    BlockLedger& m_ledger;
    std::function<void()> m_wakeStore;
    std::unique_ptr<component::IDispatchControl> m_control;
    enum class State { Starting, Up, Down } m_state = State::Starting;
    QString m_downReason;
    int m_retryMs;
    QTimer m_retry;
    QTimer m_health;
    QTimer m_space;
    QElapsedTimer m_sinceBlock;
    bool m_checkQueued = false;
    int m_watchFd = -1;           // the register file the control appends to, for its length
    bool m_accepting = true;
    QString m_storeProblem;
    QString m_appendProblem;
    QString m_degradedReason;
};

} // namespace collector
