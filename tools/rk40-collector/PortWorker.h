#pragma once

// One terminal port on a thread of its own: the control is created, opened,
// asked for its status, retried and closed on this thread alone, so a block
// is answered at once whatever the other ports, the store or the broker do.
// The control appends each block to the register file; the port notes where
// the block ended (for the store thread) and wakes the store. While the
// register file or the store cannot be written, or free space is short, the
// port takes no blocks (the terminal keeps them) and says why.

#include "Collector.h"

#include "platform/component/Dispatch.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QTimer>

#include <memory>

namespace collector {

class StoreWorker;

struct PortSettings {
    PortSpec spec;
    int com = 0;                  // COM number given to the control
    QString registerFile;
    QString storeFile;
    QString progId;
    std::int64_t minFreeBytes = 0;
    bool syncClock = false;       // set the terminal's clock when the port comes up
};

// What the port shows of itself to other threads.
struct PortSnapshot {
    QString port;
    QString device;
    int baud = 0;
    QString state;            // "collecting", "retrying", "paused" ("starting" before the first try)
    QDateTime since;          // when it entered that state
    QDateTime lastBlockAt;
    QDateTime pausedUntil;
    QString firmware, clock, dayOfWeek;   // the last status read
    QDateTime statusReadAt;
    QString lastError;        // in words; empty when none yet
    bool accepting = true;    // blocks are taken (writing works)
};

class PortWorker : public QObject, public component::IEventSink {
    Q_OBJECT
public:
    PortWorker(PortSettings settings, StoreWorker& store);
    ~PortWorker() override;

    void onEvent(int, const QString& name, const QVariantList& args) override;

    // Any thread.
    PortSnapshot snapshot() const;
    const QString& portName() const { return m_settings.spec.name; }

    // On this worker's thread, between blocks: `op` gets the open control,
    // or nullptr and why the port cannot be used now.
    using Operation = std::function<void(component::IDispatchControl* control, const QString& unavailable)>;
    void runOperation(const Operation& op);
    // On this worker's thread, between blocks: the collecting control lets
    // go of the port (a block the terminal sends meanwhile stays with it and
    // comes again), `op` gets the port's COM number and baud rate to use it
    // alone, then the port is collected again. An unavailable port: com 0
    // and why.
    using ExclusiveOperation = std::function<void(int com, int baud, const QString& unavailable)>;
    void runWithPortFree(const ExclusiveOperation& op);

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
    // Closes the port for `minutes` (another program may use it), then
    // takes it back; resume() takes it back at once.
    void pause(int minutes);
    void resume();

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
    void readStatusProperties();
    void setState(const QString& state, const QString& error = {});
    void put(const char* name, const QVariant& value);

    PortSettings m_settings;
    StoreWorker& m_store;
    std::unique_ptr<component::IDispatchControl> m_control;
    enum class State { Starting, Up, Down, Paused } m_state = State::Starting;
    mutable QMutex m_snapshotMutex;
    PortSnapshot m_snapshot;
    QString m_downReason;
    int m_retryMs;
    QTimer m_retry;
    QTimer m_health;
    QTimer m_space;
    QTimer m_pause;
    QElapsedTimer m_sinceBlock;
    bool m_checkQueued = false;
    int m_watchFd = -1;           // the register file the control appends to, for its length
    bool m_accepting = true;
    QString m_storeProblem;
    QString m_appendProblem;
    bool m_blockLost = false;     // the block being handled was not appended
    QString m_degradedReason;
};

} // namespace collector
