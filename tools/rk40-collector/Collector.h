#pragma once

// Hosts one communication control per terminal port, all in on-line mode
// and appending to one register file. Every block the controls report is
// taken from the register file into the store (and passed on to MQTT). A
// port that cannot be opened or stops answering is retried with back-off
// while the others keep collecting.

#include "platform/component/Dispatch.h"

#include <QObject>
#include <QString>
#include <QTime>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

namespace collector {

class Store;
class MqttPublisher;

struct PortSpec {
    QString name;   // as configured: "COM1" or a device path
    int baud = 9600;
};

// Parses "COM1", "com3:19200", "/dev/ttyUSB0:9600". False with `error` set.
bool parsePortSpec(const QString& text, PortSpec* spec, QString* error);

struct CollectorOptions {
    std::vector<PortSpec> ports;
    QString registerFile;
    std::optional<QTime> syncClock;
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

private:
    struct Port;
    void tryOpen(Port& port);
    void checkPort(Port& port);
    void portFailed(Port& port, const QString& why);
    void onBlock(Port& port, int records);
    void ingest(const QString& port, int records);
    void syncClocks();
    void scheduleClockSync();

    Store& m_store;
    MqttPublisher* m_mqtt;
    CollectorOptions m_options;
    std::vector<std::unique_ptr<Port>> m_ports;
    QTimer m_fileWatch;
    QTimer m_clockTimer;
};

} // namespace collector
