#pragma once

// Hosts one communication control per terminal port, each on a thread of
// its own and all appending to one register file; the store thread takes
// every block from the register file into the store (and passes it on to
// MQTT). A port that cannot be opened or stops answering is retried with
// back-off while the others keep collecting.

#include <QObject>
#include <QString>
#include <QThread>
#include <QTime>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

namespace collector {

class Store;
class MqttPublisher;
class PortWorker;
class StoreWorker;

struct PortSpec {
    QString name;   // as configured: "COM1" or a device path
    int baud = 9600;
};

// Parses "COM1", "com3:19200", "/dev/ttyUSB0:9600". False with `error` set.
bool parsePortSpec(const QString& text, PortSpec* spec, QString* error);

// The next time of day `at` after `now`, in now's time zone: a time that a
// daylight-saving change skips that day is taken at the first moment after
// the gap, a time it repeats at its first occurrence.
QDateTime nextDaily(const QDateTime& now, QTime at);

struct CollectorOptions {
    std::vector<PortSpec> ports;
    QString registerFile;
    QString storeFile;
    std::optional<QTime> syncClock;
    std::int64_t minFreeBytes = 1024 * 1024;
    QString progId = "RK40COMM.RK40CommCtrl.1";
};

class Collector : public QObject {
    Q_OBJECT
public:
    Collector(Store& store, MqttPublisher* mqtt, CollectorOptions options, QObject* parent = nullptr);
    ~Collector() override;

    // Takes what the register file holds beyond the store, then starts the
    // ports. False with `error` set when nothing can be collected at all.
    bool start(QString* error);
    void stop();
    // SIGHUP: look at the register file now; renamed, the controls switch.
    void checkRegisterFile();

    // After start(): the ports in their configured order, and the store's
    // worker (its stored() signal tells of new rows). Owned here.
    std::vector<PortWorker*> portWorkers() const;
    StoreWorker* storeWorker() const { return m_storeWorker.get(); }

private:
    void onRotationSeen();
    void syncClocks();
    void scheduleClockSync();

    Store& m_store;
    MqttPublisher* m_mqtt;
    CollectorOptions m_options;
    std::unique_ptr<StoreWorker> m_storeWorker;
    QThread m_storeThread;
    struct Port {
        std::unique_ptr<PortWorker> worker;
        std::unique_ptr<QThread> thread;
    };
    std::vector<Port> m_ports;
    quint64 m_reopenGeneration = 0;
    int m_reopenPending = 0;
    QTimer m_clockTimer;
    QDateTime m_nextClockSync;
};

} // namespace collector
